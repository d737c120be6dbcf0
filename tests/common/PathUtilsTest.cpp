// Path utilities: splitting, relative folders, shortening; fakes nothing.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/PathUtils.h"
#include "platform/base/TextConvert.h"

namespace {

struct SplitCase {
    std::u16string path;
    std::u16string kept;  // szPath
    std::u16string drive, dir, name, ext, server, share;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << zbw::ToUtf8(c.path);
}

class SplitLongPathTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLongPathTest, FillsEveryPart) {
    const SplitCase& c = GetParam();
    PATHPARTS parts;
    ASSERT_TRUE(SplitLongPath(parts, c.path.c_str()));
    EXPECT_EQ(std::u16string(parts.szPath), c.kept);
    EXPECT_EQ(std::u16string(parts.szDrive), c.drive);
    EXPECT_EQ(std::u16string(parts.szDir), c.dir);
    EXPECT_EQ(std::u16string(parts.szName), c.name);
    EXPECT_EQ(std::u16string(parts.szExt), c.ext);
    EXPECT_EQ(std::u16string(parts.szServer), c.server);
    EXPECT_EQ(std::u16string(parts.szShare), c.share);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SplitLongPathTest,
    ::testing::Values(
        SplitCase{u"C:\\a\\b\\c.txt", u"C:\\a\\b\\c.txt", u"C:", u"\\a\\b\\", u"c", u".txt", u"", u""},
        SplitCase{u"C:/a/b.txt", u"C:/a/b.txt", u"C:", u"/a/", u"b", u".txt", u"", u""},
        SplitCase{u"C:\\dir.x\\file", u"C:\\dir.x\\file", u"C:", u"\\dir.x\\", u"file", u"", u"", u""},
        SplitCase{u"file.tar.gz", u"file.tar.gz", u"", u"", u"file.tar", u".gz", u"", u""},
        SplitCase{u"C:\\", u"C:\\", u"C:", u"\\", u"", u"", u"", u""},
        SplitCase{u"\\\\srv\\share\\dir\\f.txt", u"\\\\srv\\share\\dir\\f.txt", u"", u"\\dir\\", u"f",
                  u".txt", u"srv", u"share"},
        SplitCase{u"\\\\?\\UNC\\srv\\share\\dir\\f.txt", u"\\\\?\\UNC\\srv\\share\\dir\\f.txt", u"",
                  u"\\dir\\", u"f", u".txt", u"srv", u"share"},
        SplitCase{u"\\\\?\\C:\\dir\\f.txt", u"\\\\?\\C:\\dir\\f.txt", u"C:", u"\\dir\\", u"f", u".txt", u"",
                  u""},
        // A bare share becomes its root, in the long form too.
        SplitCase{u"\\\\srv\\share", u"\\\\srv\\share\\", u"", u"\\", u"", u"", u"srv", u"share"},
        SplitCase{u"\\\\?\\UNC\\srv\\share", u"\\\\?\\UNC\\srv\\share\\", u"", u"\\", u"", u"", u"srv",
                  u"share"},
        SplitCase{u"\\\\srv", u"\\\\srv\\", u"", u"\\", u"", u"", u"srv", u""}));

TEST(SplitLongPath, NullPathIsFalseWithPartsCleared) {
    PATHPARTS parts(u"C:\\a\\b.txt");
    EXPECT_EQ(std::u16string(parts.szName), u"b");
    EXPECT_FALSE(SplitLongPath(parts, nullptr));
    EXPECT_EQ(parts.szPath[0], 0);
    EXPECT_EQ(parts.szDrive[0], 0);
    EXPECT_EQ(parts.szName[0], 0);
}

TEST(SplitLongPath, OverlongPartsAreCutToTheirFields) {
    std::u16string longName(300, u'n');
    PATHPARTS name((u"C:\\d\\" + longName).c_str());
    EXPECT_EQ(std::u16string(name.szPath).size(), 258u);
    EXPECT_EQ(std::u16string(name.szName), std::u16string(253, u'n'));  // what the 258 kept hold

    std::u16string longDir = u"\\" + std::u16string(255, u'd') + u"\\x";
    PATHPARTS dir(longDir.c_str());
    EXPECT_EQ(std::u16string(dir.szDir), u"\\" + std::u16string(254, u'd'));

    PATHPARTS ext((u"." + std::u16string(300, u'e')).c_str());
    EXPECT_EQ(std::u16string(ext.szExt), u"." + std::u16string(254, u'e'));

    PATHPARTS server((u"\\\\" + std::u16string(300, u's')).c_str());
    EXPECT_EQ(std::u16string(server.szPath), u"\\\\" + std::u16string(256, u's') + u"\\");
    EXPECT_EQ(std::u16string(server.szServer), std::u16string(255, u's'));
}

TEST(PathToSubfolder, MakesARelativeFolder) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"C:\\a\\b", u"C\\a\\b"},
        {u"\\\\srv\\share\\x", u"srv\\share\\x"},
        {u"\\a\\\\b", u"a\\b"},
        {u"", u""},
    };
    for (const auto& [path, expected] : cases) {
        CString text(path.c_str());
        PathToSubfolder(text);
        EXPECT_EQ(text, CString(expected.c_str())) << zbw::ToUtf8(path);
    }
}

struct ShortenCase {
    std::u16string path;
    int max;
    std::u16string expected;
};

void PrintTo(const ShortenCase& c, std::ostream* os) {
    *os << zbw::ToUtf8(c.path) << " in " << c.max;
}

class ShortenPathTest : public ::testing::TestWithParam<ShortenCase> {};

TEST_P(ShortenPathTest, ShortensInPlace) {
    const ShortenCase& c = GetParam();
    std::u16string buffer = c.path;
    ShortenPath(buffer.data(), c.max);
    const std::u16string result = buffer.c_str();
    EXPECT_EQ(result, c.expected);
    if (result.find(u"\\...") != std::u16string::npos) {
        EXPECT_LE(static_cast<int>(result.size()), c.max);  // a shortened path fits
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ShortenPathTest,
    ::testing::Values(
        ShortenCase{u"C:\\Users\\me\\file.txt", 50, u"C:\\Users\\me\\file.txt"},
        ShortenCase{u"C:\\Users\\me\\file.txt", 20, u"C:\\Users\\me\\file.txt"},
        ShortenCase{u"C:\\Users\\someone\\docs\\file.txt", 26, u"C:\\Users\\...\\docs\\file.txt"},
        ShortenCase{u"C:\\Users\\someone\\docs\\file.txt", 25, u"C:\\Users\\...\\file.txt"},
        ShortenCase{u"C:\\Users\\me\\docs\\file.txt", 21, u"C:\\Users\\...\\file.txt"},
        // One short of head + "\..." + "\" + last component: the last component alone.
        ShortenCase{u"C:\\Users\\me\\docs\\file.txt", 20, u"file.txt"},
        ShortenCase{u"C:\\Users\\me\\docs\\file.txt", 5, u"file.txt"},
        ShortenCase{u"C:\\a\\verylongname.txt", 20, u"verylongname.txt"},
        ShortenCase{u"\\\\srv\\share\\dir\\sub\\file.txt", 24, u"\\\\srv\\share\\...\\file.txt"},
        ShortenCase{u"\\\\srv\\share\\directory\\sub\\file.txt", 28, u"\\\\srv\\share\\...\\sub\\file.txt"},
        ShortenCase{u"\\\\?\\C:\\Users\\me\\docs\\file.txt", 25, u"\\\\?\\C:\\Users\\...\\file.txt"},
        ShortenCase{u"\\\\?\\UNC\\srv\\share\\dir\\sub\\file.txt", 30,
                    u"\\\\?\\UNC\\srv\\share\\...\\file.txt"},
        ShortenCase{u"justonelongname.txt", 5, u"justonelongname.txt"}));

}  // namespace
