// FindFirstFile and FindNextFile on real folders: wildcards, entries, errors; fakes a temporary emulation
// root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/host/EmulationRoot.h"
#include "platform/win32/FileApi.h"
#include "tests/support/TestRoot.h"

namespace {

class FindFileTest : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_TRUE(zbw::MakeHostDirs(m_root.Path("f/sub")));
        for (const char* name : {"a.fsf", "B.FSF", "c.txt", "noext", ".hidden", "x.fsf.bak"})
            ASSERT_TRUE(WriteHostFile(m_root.Path("f/") + name, "12345"));
    }

    CString Folder() const { return zbw::ToWindowsPath(m_root.Path("f")); }

    // The names a search gives, in order; empty with the last error kept when it fails.
    static std::vector<std::string> Find(const CString& pattern) {
        std::vector<std::string> names;
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW(pattern, &data);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            names.push_back(zbw::ToUtf8(data.cFileName));
        } while (FindNextFileW(h, &data));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(h));
        return names;
    }

    CTestRoot m_root;
};

TEST_F(FindFileTest, WildcardsFollowTheWindowsRules) {
    typedef std::vector<std::string> Names;
    const Names all = {".", "..", ".hidden", "a.fsf", "B.FSF", "c.txt", "noext", "sub", "x.fsf.bak"};
    const struct {
        const char16_t* pattern;
        Names names;
    } cases[] = {
        {u"*", all},
        {u"*.*", all},
        {u"*.fsf", {"a.fsf", "B.FSF"}},
        {u"*.FSF", {"a.fsf", "B.FSF"}},
        {u"*.", {".", "..", "noext", "sub"}},
        {u"?.txt", {"c.txt"}},
        {u"no*", {"noext"}},
        {u"NOEXT", {"noext"}},
        {u"noext.*", {"noext"}},
        {u"*.fsf.*", {"a.fsf", "B.FSF", "x.fsf.bak"}},
        {u"sub", {"sub"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Find(Folder() + u"\\" + c.pattern), c.names) << zbw::ToUtf8(c.pattern);
}

TEST_F(FindFileTest, NoMatchIsFileNotFound) {
    EXPECT_TRUE(Find(Folder() + u"\\zzz*").empty());
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Find(Folder() + u"\\").empty());
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Find(Folder() + u"\\missing\\*").empty());
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FindFileTest, ADriveRootListsNoDotEntries) {
    ASSERT_TRUE(zbw::MapDrive(u'R', m_root.Path("f")));
    EXPECT_EQ(Find(u"R:\\*.*"),
              (std::vector<std::string>{".hidden", "a.fsf", "B.FSF", "c.txt", "noext", "sub", "x.fsf.bak"}));
    EXPECT_EQ(Find(u"r:/sub/*"), (std::vector<std::string>{".", ".."}));
}

TEST_F(FindFileTest, FindDataDescribesEachEntry) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(Folder() + u"\\*", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    do {
        std::string name = zbw::ToUtf8(data.cFileName);
        if (name == "." || name == ".." || name == "sub") {
            EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY) << name;
        } else if (name == ".hidden") {
            EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_HIDDEN);
        } else {
            EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_NORMAL) << name;
            EXPECT_EQ(data.nFileSizeLow, 5u) << name;
            EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u) << name;
        }
    } while (FindNextFileW(h, &data));
    EXPECT_FALSE(FindNextFileW(h, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    EXPECT_FALSE(FindClose(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FindFileTest, FindCloseRefusesOtherHandles) {
    HANDLE file = CreateFileW(Folder() + u"\\c.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FindClose(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(FindFileTest, PatternsWithoutAFolderSearchTheCurrentOne) {
    char* cwd = getcwd(nullptr, 0);
    std::string saved = cwd;
    free(cwd);
    ASSERT_TRUE(SetCurrentDirectoryW(Folder()));
    EXPECT_EQ(Find(u"*.txt"), (std::vector<std::string>{"c.txt"}));
    ASSERT_EQ(chdir(saved.c_str()), 0);
}

TEST(WildcardTest, MatchesAsWindowsDoes) {
    const struct {
        const char16_t* name;
        const char16_t* pattern;
        bool matches;
    } cases[] = {
        {u"a.b.txt", u"*.txt", true}, {u"abc", u"a?c", true},
        {u"ac", u"a?c", false},       {u"ab", u"ab?", true},
        {u"a.txt", u"a?.txt", true},  {u"abc.txt", u"a?.txt", false},
        {u"ABC", u"abc", true},       {u"\u00C9t\u00E9", u"\u00E9T\u00C9", true},
        {u"abc", u"*.*", true},       {u"abc", u"abc.*", true},
        {u"abc.d", u"abc.*", true},   {u"abcd", u"abc.*", false},
        {u"a.fsfx", u"*.fsf", false}, {u"x", u"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(zbw::MatchesWildcard(c.name, c.pattern), c.matches)
            << zbw::ToUtf8(c.name) << " ~ " << zbw::ToUtf8(c.pattern);
}

}  // namespace
