// The layer's file functions on real files: dispositions, errors, access rights; fakes a temporary emulation
// root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/base/TextConvert.h"
#include "platform/host/EmulationRoot.h"
#include "platform/win32/FileApi.h"
#include "tests/support/TestRoot.h"

namespace {

// Files under a test root, named by Windows paths.
class FileApiTest : public ::testing::Test {
   protected:
    CString Win(const std::string& relative) const { return zbw::ToWindowsPath(m_root.Path(relative)); }
    std::string Host(const std::string& relative) const { return m_root.Path(relative); }

    HANDLE Open(const std::string& relative, DWORD access, DWORD disposition, DWORD flags = 0) const {
        return CreateFileW(Win(relative), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, disposition, flags, nullptr);
    }

    static std::string ReadAll(HANDLE h) {
        SetFilePointer(h, 0, nullptr, FILE_BEGIN);
        std::string text(1024, '\0');
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(h, text.data(), static_cast<DWORD>(text.size()), &read, nullptr));
        text.resize(read);
        return text;
    }

    CTestRoot m_root;
};

TEST_F(FileApiTest, DispositionsAndTheirLastErrors) {
    const struct {
        DWORD disposition;
        bool exists;
        bool opens;
        DWORD error;
        const char* contentAfter;  // nullptr: no file
    } cases[] = {
        {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::string name = "f" + std::to_string(i++);
        if (c.exists) {
            ASSERT_TRUE(WriteHostFile(Host(name), "old"));
        }
        SetLastError(12345);
        HANDLE h = Open(name, GENERIC_READ | GENERIC_WRITE, c.disposition, FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(GetLastError(), c.error) << "case " << name;
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << "case " << name;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        struct stat st {};
        EXPECT_EQ(stat(Host(name).c_str(), &st) == 0, c.contentAfter != nullptr) << "case " << name;
        if (c.contentAfter) {
            EXPECT_EQ(ReadHostFile(Host(name)), c.contentAfter) << "case " << name;
        }
    }
}

TEST_F(FileApiTest, OpenFailuresTellFileFromPath) {
    EXPECT_EQ(Open("nodir/f", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open("nodir/f", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open("f", GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateFileW(u"Z:\\f", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileApiTest, ReadWriteSeekAndSize) {
    HANDLE h = Open("log", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    char first[4] = {};
    EXPECT_TRUE(ReadFile(h, first, 4, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(WriteFile(h, "abcd", 4, &n, nullptr));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 4u);
    EXPECT_TRUE(WriteFile(h, "ef", 2, &n, nullptr));
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(h, &high), 6u);
    EXPECT_EQ(high, 0u);
    EXPECT_TRUE(FlushFileBuffers(h));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    EXPECT_TRUE(ReadFile(h, first, 4, &n, nullptr));
    EXPECT_EQ(std::string(first, n), "abcd");
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 3u);

    EXPECT_EQ(SetFilePointer(h, -10, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    LARGE_INTEGER move{}, pos{};
    move.QuadPart = 2;
    EXPECT_TRUE(SetFilePointerEx(h, move, &pos, FILE_BEGIN));
    EXPECT_EQ(pos.QuadPart, 2);
    EXPECT_TRUE(SetEndOfFile(h));
    LARGE_INTEGER size{};
    EXPECT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 2);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(ReadHostFile(Host("log")), "ab");
    EXPECT_FALSE(ReadFile(h, first, 4, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FileApiTest, AccessRightsAreEnforced) {
    ASSERT_TRUE(WriteHostFile(Host("f"), "data"));
    HANDLE r = Open("f", GENERIC_READ, OPEN_EXISTING);
    DWORD n = 0;
    EXPECT_FALSE(WriteFile(r, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(FlushFileBuffers(r));
    CloseHandle(r);
    HANDLE w = Open("f", GENERIC_WRITE, OPEN_EXISTING);
    char c;
    EXPECT_FALSE(ReadFile(w, &c, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(w);
}

TEST_F(FileApiTest, FoldersOpenOnlyWithBackupSemantics) {
    ASSERT_TRUE(zbw::MakeHostDirs(Host("dir")));
    EXPECT_EQ(Open("dir", 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HANDLE h = Open("dir", 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME write{};
    EXPECT_TRUE(GetFileTime(h, nullptr, nullptr, &write));
    EXPECT_NE(write.dwHighDateTime, 0u);
    CloseHandle(h);
}

TEST_F(FileApiTest, ZeroAccessHandlesAnswerTimeQueriesOnly) {
    ASSERT_TRUE(WriteHostFile(Host("f"), "data"));
    HANDLE h = Open("f", 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME created{}, accessed{}, written{};
    EXPECT_TRUE(GetFileTime(h, &created, &accessed, &written));
    char c;
    DWORD n;
    EXPECT_FALSE(ReadFile(h, &c, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(h);
}

TEST_F(FileApiTest, FileTimesRoundTrip) {
    ASSERT_TRUE(WriteHostFile(Host("f"), "data"));
    HANDLE h = Open("f", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    FILETIME set{0x12345670u, 0x01D00000u};
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &set));
    FILETIME got{};
    EXPECT_TRUE(GetFileTime(h, nullptr, nullptr, &got));
    EXPECT_EQ(got.dwLowDateTime, set.dwLowDateTime);
    EXPECT_EQ(got.dwHighDateTime, set.dwHighDateTime);
    CloseHandle(h);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(Win("f"), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, set.dwLowDateTime);
    EXPECT_EQ(data.nFileSizeLow, 4u);
}

TEST_F(FileApiTest, AttributesComeFromTheHost) {
    ASSERT_TRUE(zbw::MakeHostDirs(Host("dir")));
    ASSERT_TRUE(WriteHostFile(Host("plain"), "x"));
    ASSERT_TRUE(WriteHostFile(Host(".hidden"), "x"));
    EXPECT_EQ(GetFileAttributesW(Win("dir")), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(Win("dir") + u"\\"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(Win("plain")), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesW(Win(".hidden")), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributesW(u"C:\\") & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(Win("missing")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(Win("missing/f")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    EXPECT_TRUE(SetFileAttributesW(Win("plain"), FILE_ATTRIBUTE_READONLY));
    struct stat st {};
    ASSERT_EQ(stat(Host("plain").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(GetFileAttributesW(Win("plain")), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(DeleteFileW(Win("plain")));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open("plain", GENERIC_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open("plain", GENERIC_READ, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadHostFile(Host("plain")), "x");
    EXPECT_TRUE(SetFileAttributesW(Win("plain"), FILE_ATTRIBUTE_NORMAL));
    ASSERT_EQ(stat(Host("plain").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0200, 0u);
}

TEST_F(FileApiTest, FoldersAreMadeAndRemoved) {
    EXPECT_TRUE(CreateDirectoryW(Win("a"), nullptr));
    EXPECT_FALSE(CreateDirectoryW(Win("a"), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryW(Win("x/y"), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(CreateDirectoryW(Win("a") + u"\\b\\", nullptr));
    EXPECT_FALSE(RemoveDirectoryW(Win("a")));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    ASSERT_TRUE(WriteHostFile(Host("file"), "x"));
    EXPECT_FALSE(RemoveDirectoryW(Win("file")));
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    EXPECT_TRUE(RemoveDirectoryW(Win("a/b")));
    EXPECT_TRUE(RemoveDirectoryW(Win("a")));
    EXPECT_FALSE(DeleteFileW(Win("a")));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileApiTest, DeleteRefusesFolders) {
    ASSERT_TRUE(zbw::MakeHostDirs(Host("dir")));
    EXPECT_FALSE(DeleteFileW(Win("dir")));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(WriteHostFile(Host("f"), "x"));
    EXPECT_TRUE(DeleteFileW(Win("f")));
    EXPECT_EQ(GetFileAttributesW(Win("f")), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileApiTest, MoveKeepsAnExistingTargetUnlessAskedToReplace) {
    ASSERT_TRUE(WriteHostFile(Host("a"), "A"));
    ASSERT_TRUE(WriteHostFile(Host("b"), "B"));
    EXPECT_FALSE(MoveFileW(Win("a"), Win("b")));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadHostFile(Host("b")), "B");
    EXPECT_TRUE(MoveFileExW(Win("a"), Win("b"), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ReadHostFile(Host("b")), "A");
    EXPECT_TRUE(MoveFileW(Win("b"), Win("c")));
    EXPECT_EQ(ReadHostFile(Host("c")), "A");
    EXPECT_FALSE(MoveFileW(Win("b"), Win("d")));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileApiTest, CopyWritesIntoTheTargetAndKeepsTheWriteTime) {
    ASSERT_TRUE(WriteHostFile(Host("src"), "new contents"));
    ASSERT_TRUE(WriteHostFile(Host("dst"), "old"));
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Host("src").c_str(), times, 0), 0);
    HANDLE held = Open("dst", GENERIC_READ, OPEN_EXISTING);
    EXPECT_FALSE(CopyFileW(Win("src"), Win("dst"), TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_TRUE(CopyFileW(Win("src"), Win("dst"), FALSE));
    EXPECT_EQ(ReadAll(held), "new contents");
    CloseHandle(held);
    struct stat st {};
    ASSERT_EQ(stat(Host("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_TRUE(CopyFileW(Win("src"), Win("fresh"), TRUE));
    EXPECT_EQ(ReadHostFile(Host("fresh")), "new contents");
}

TEST_F(FileApiTest, CopyOntoItselfOrAReadOnlyFileLosesNothing) {
    ASSERT_TRUE(WriteHostFile(Host("f"), "keep me"));
    EXPECT_FALSE(CopyFileW(Win("f"), Win("./f"), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadHostFile(Host("f")), "keep me");
    ASSERT_TRUE(WriteHostFile(Host("locked"), "locked"));
    ASSERT_TRUE(SetFileAttributesW(Win("locked"), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(CopyFileW(Win("f"), Win("locked"), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadHostFile(Host("locked")), "locked");
    EXPECT_FALSE(CopyFileW(Win("missing"), Win("x"), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileApiTest, ReplaceIsAtomicAndKeepsTheReplacedFileOnFailure) {
    ASSERT_TRUE(WriteHostFile(Host("log"), "old log"));
    ASSERT_TRUE(WriteHostFile(Host("repl"), "new log"));
    ASSERT_EQ(chmod(Host("log").c_str(), 0640), 0);
    EXPECT_TRUE(ReplaceFileW(Win("log"), Win("repl"), nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(ReadHostFile(Host("log")), "new log");
    EXPECT_EQ(GetFileAttributesW(Win("repl")), INVALID_FILE_ATTRIBUTES);
    struct stat st {};
    ASSERT_EQ(stat(Host("log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    EXPECT_FALSE(ReplaceFileW(Win("log"), Win("repl"), nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadHostFile(Host("log")), "new log");

    ASSERT_TRUE(WriteHostFile(Host("repl"), "x"));
    EXPECT_FALSE(ReplaceFileW(Win("missing"), Win("repl"), nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadHostFile(Host("repl")), "x");

    EXPECT_TRUE(ReplaceFileW(Win("log"), Win("repl"), Win("log.bak"), 0, nullptr, nullptr));
    EXPECT_EQ(ReadHostFile(Host("log")), "x");
    EXPECT_EQ(ReadHostFile(Host("log.bak")), "new log");
}

TEST_F(FileApiTest, TempPathIsTmpdirInWindowsForm) {
    char16_t buffer[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, buffer);
    CString expected = zbw::ToWindowsPath(m_root.Path("tmp")) + u"\\";
    EXPECT_EQ(CString(buffer), expected);
    EXPECT_EQ(n, static_cast<DWORD>(expected.GetLength()));
    EXPECT_EQ(GetTempPathW(3, buffer), n + 1);
}

TEST_F(FileApiTest, TempFileNamesCreateTheirFile) {
    char16_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    char16_t name1[MAX_PATH], name2[MAX_PATH];
    UINT u1 = GetTempFileNameW(folder, u"~zbextra", 0, name1);
    UINT u2 = GetTempFileNameW(folder, u"~zb", 0, name2);
    ASSERT_NE(u1, 0u);
    ASSERT_NE(u2, 0u);
    EXPECT_NE(CString(name1), CString(name2));
    CString hex;
    hex.Format(u"%X", u1);
    EXPECT_EQ(CString(name1), CString(folder) + u"~zb" + hex + u".tmp");
    EXPECT_EQ(GetFileAttributesW(name1), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadHostFile(zbw::ToHostPath(name1)), "");

    char16_t formed[MAX_PATH];
    EXPECT_EQ(GetTempFileNameW(folder, u"ab", 0x1A2B, formed), 0x1A2Bu);
    EXPECT_EQ(CString(formed), CString(folder) + u"ab1A2B.tmp");
    EXPECT_EQ(GetFileAttributesW(formed), INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(GetTempFileNameW(Win("missing"), u"~zb", 0, formed), 0u);
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
}

TEST_F(FileApiTest, StandardHandlesAreFiles) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD n = 1;
    EXPECT_TRUE(WriteFile(out, "", 0, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), out);
    EXPECT_GE(zbw::FileDescriptorOf(out), 0);
}

}  // namespace
