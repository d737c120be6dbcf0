// Command lines split and joined by the Windows rules; fakes nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <ostream>

#include "platform/base/TextConvert.h"
#include "platform/win32/Process.h"

namespace {

typedef std::vector<std::u16string> Args;

// Table rows are named by their position; failures print the line itself.
template <class T>
std::string RowName(const ::testing::TestParamInfo<T>& info) {
    return "Row" + std::to_string(info.index);
}

struct SplitCase {
    const char16_t* line;
    Args expected;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << zbw::ToUtf8(c.line);
}

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsAsWindowsDoes) {
    EXPECT_EQ(zbw::SplitCommandLine(GetParam().line), GetParam().expected) << zbw::ToUtf8(GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{u"prog a b", {u"prog", u"a", u"b"}}, SplitCase{u"  prog\ta  \t b  ", {u"prog", u"a", u"b"}},
        SplitCase{u"", {}}, SplitCase{u"   ", {}},
        SplitCase{u"\"C:\\Program Files\\Zb\\zbpro.exe\" \"D:\\p 1.ffs\" /hiddenautosync /zbeng",
                  {u"C:\\Program Files\\Zb\\zbpro.exe", u"D:\\p 1.ffs", u"/hiddenautosync", u"/zbeng"}},
        SplitCase{u"C:\\zb\\zbengine.exe /serv", {u"C:\\zb\\zbengine.exe", u"/serv"}},
        // The program token knows no escapes.
        SplitCase{u"\"C:\\dir\\\\\" x", {u"C:\\dir\\\\", u"x"}},
        SplitCase{u"C:\\a\"b c\"d e", {u"C:\\ab cd", u"e"}},
        SplitCase{u"p \"abc\" d e", {u"p", u"abc", u"d", u"e"}},
        SplitCase{u"p a\\\\b d\"e f\"g h", {u"p", u"a\\\\b", u"de fg", u"h"}},
        SplitCase{u"p a\\\\\\\"b c d", {u"p", u"a\\\"b", u"c", u"d"}},
        SplitCase{u"p a\\\\\\\\\"b c\" d e", {u"p", u"a\\\\b c", u"d", u"e"}},
        SplitCase{u"p a\\b\\ c", {u"p", u"a\\b\\", u"c"}}, SplitCase{u"p \"\" x", {u"p", u"", u"x"}},
        SplitCase{u"p \"a\"\"b\"", {u"p", u"a\"b"}}, SplitCase{u"p \"unclosed arg", {u"p", u"unclosed arg"}},
        SplitCase{u"p \\\"", {u"p", u"\""}}),
    RowName<SplitCase>);

TEST(SplitArgumentsTest, HasNoProgramToken) {
    EXPECT_EQ(zbw::SplitArguments(u"\"a b\" c\\\"d"), (Args{u"a b", u"c\"d"}));
    EXPECT_EQ(zbw::SplitArguments(u"  "), Args{});
    EXPECT_EQ(zbw::SplitArguments(nullptr), Args{});
}

class QuoteArgumentTest : public ::testing::TestWithParam<const char16_t*> {};

TEST_P(QuoteArgumentTest, SplitsBackUnchanged) {
    std::u16string arg = GetParam();
    std::u16string line = u"p " + zbw::QuoteArgument(arg) + u" next";
    EXPECT_EQ(zbw::SplitCommandLine(line.c_str()), (Args{u"p", arg, u"next"})) << zbw::ToUtf8(line.c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, QuoteArgumentTest,
                         ::testing::Values(u"", u"plain", u"a b", u"a\"b", u"a\\b", u"a\\\\\"b", u"ends\\",
                                           u"ends with space\\", u"tab\there", u"\"", u"\\\\"),
                         RowName<const char16_t*>);

TEST(QuoteArgumentTest, LeavesPlainArgumentsBare) {
    EXPECT_EQ(zbw::QuoteArgument(u"/serv"), u"/serv");
    EXPECT_EQ(zbw::QuoteArgument(u"C:\\a\\b"), u"C:\\a\\b");
    EXPECT_EQ(zbw::QuoteArgument(u"a b"), u"\"a b\"");
}

TEST(GetCommandLineTest, IsOwnArgumentsInWindowsForm) {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> own;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\0', start);
        own.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    std::u16string line = GetCommandLineW();
    ASSERT_EQ(line[0], u'"');
    Args split = zbw::SplitCommandLine(line.c_str());
    ASSERT_EQ(split.size(), own.size());
    EXPECT_EQ(split[0].substr(split[0].size() - 4), u".exe");
    EXPECT_EQ(split[0].find(u'/'), std::u16string::npos);
    for (size_t i = 1; i < own.size(); ++i) EXPECT_EQ(zbw::ToUtf8(split[i].c_str()), own[i]);
    EXPECT_EQ(GetCommandLineW(), GetCommandLineW());
}

}  // namespace
