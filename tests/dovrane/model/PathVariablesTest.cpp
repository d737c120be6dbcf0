// Path variables: date and time tokens, names, environment, mapped drives; fakes a temporary emulation root,
// user and computer names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dovrane/model/PathVariables.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Environment.h"
#include "platform/win32/FileApi.h"
#include "tests/support/TestRoot.h"

namespace {

const char16_t* const kVariables[] = {u"ZBTESTDIR", u"ZBTESTREL", u"ZBLOOP", u"ZBGROW"};

// Variables of its own, and the current folder, put back after each test.
class PathVariablesTest : public ::testing::Test {
   protected:
    PathVariablesTest() {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer)) m_cwd = buffer;
        setenv("ZBW_USER_NAME", "alice", 1);
        setenv("ZBW_COMPUTER_NAME", "buildbox", 1);
        SetEnvironmentVariableW(u"ZBTESTDIR", u"C:\\x\\");
        SetEnvironmentVariableW(u"ZBTESTREL", u"relative\\dir");
        SetEnvironmentVariableW(u"ZBLOOP", u"<ZBLOOP>");
        SetEnvironmentVariableW(u"ZBGROW", u"<ZBGROW><ZBGROW>");
    }
    ~PathVariablesTest() override {
        for (LPCWSTR name : kVariables) SetEnvironmentVariableW(name, nullptr);
        if (!m_cwd.empty() && chdir(m_cwd.c_str()) != 0) ADD_FAILURE() << "cannot return to " << m_cwd;
    }

    CTestRoot root;
    std::string m_cwd;
};

struct Case {
    const char16_t* path;
    const char16_t* source;
    std::u16string result;
    std::u16string error;
};

void Check(const std::vector<Case>& cases, const COleDateTime& time) {
    for (const Case& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.path));
        CString result, error;
        ExpandPathVariables(c.path, time, result, &error, c.source);
        EXPECT_EQ(std::u16string(static_cast<LPCWSTR>(result)), c.result);
        EXPECT_EQ(std::u16string(static_cast<LPCWSTR>(error)), c.error);
    }
}

const std::u16string kNoDrive = u"invalid parameter syntax, missing drive or computer name";

TEST_F(PathVariablesTest, DateAndTimeTokens) {
    Check({{u"D:\\Backup\\<date>", nullptr, u"D:\\Backup\\20240507", u""},
           {u"C:\\<YEAR>\\<Month>\\<day>", nullptr, u"C:\\2024\\05\\07", u""},
           {u"C:\\<time>", nullptr, u"C:\\090503", u""},
           {u"C:\\<hour><min><sec>", nullptr, u"C:\\090503", u""},
           {u"C:\\<dayofweek>", nullptr, u"C:\\3", u""},  // a Tuesday
           {u"C:\\<date>\\<date>", nullptr, u"C:\\20240507\\20240507", u""}},
          COleDateTime(2024, 5, 7, 9, 5, 3));
    Check({{u"C:\\<hour>", nullptr, u"C:\\07", u""}}, COleDateTime(2024, 5, 7, 7, 0, 0));
    COleDateTime invalid;
    invalid.SetStatus(COleDateTime::invalid);
    Check({{u"C:\\<year>", nullptr, u"C:\\0000", u""}, {u"C:\\<hour>", nullptr, u"C:\\-1", u""}}, invalid);
}

TEST_F(PathVariablesTest, NamesSourcesAndEnvironment) {
    CString temp;
    ASSERT_TRUE(zbw::LookupEnvironment(u"TEMP", temp));
    Check({{u"<blank>", nullptr, u"", u""},
           {u"C:\\<BLANK>", nullptr, u"", u"invalid parameter syntax, unknown parameter <BLANK>"},
           {u"C:\\<year", nullptr, u"", u"invalid parameter syntax, missing \">\""},
           {u"\\\\srv\\share\\<user>", nullptr, u"\\\\srv\\share\\alice", u""},
           {u"C:\\<computer>", nullptr, u"C:\\BUILDBOX", u""},
           {u"E:\\<sourcewithoutdrive>", u"C:\\Data\\", u"E:\\Data", u""},
           {u"<source>\\copy", u"\\\\srv\\share\\d\\", u"\\\\srv\\share\\d\\copy", u""},
           {u"<source>", nullptr, u"", u"invalid parameter syntax, unknown parameter <source>"},
           {u"<source>", u"", u"", u"invalid parameter syntax, unknown parameter <source>"},
           {u"<Temp>", nullptr, std::u16string(static_cast<LPCWSTR>(temp)), u""},
           {u"<zbtestdir>\\", nullptr, u"C:\\x\\", u""},  // a doubled final backslash is cut
           {u"<ZBTESTREL>", nullptr, u"", kNoDrive},
           {u"rel\\<date>", nullptr, u"", kNoDrive},
           {u"rel\\plain", nullptr, u"rel\\plain", u""},  // nothing replaced: taken as it is
           {u"C:\\<>", nullptr, u"", u"invalid parameter syntax, unknown parameter <>"}},
          COleDateTime(2024, 5, 7, 9, 5, 3));
}

TEST_F(PathVariablesTest, CurrentFolderOnAMappedDrive) {
    ASSERT_TRUE(zbw::MapDrive(u'Q', root.Path("q")));
    std::filesystem::create_directories(root.Path("q/work"));
    ASSERT_TRUE(SetCurrentDirectoryW(u"Q:\\work"));
    Check({{u"<cd>", nullptr, u"Q:\\work", u""},
           {u"E:\\<CdWithoutDrive>", nullptr, u"E:\\work", u""},
           {u"<cdwithoutdrive>", nullptr, u"", kNoDrive}},
          COleDateTime(2024, 5, 7, 9, 5, 3));
}

TEST_F(PathVariablesTest, LongOrUnreadableNamesFallBack) {
    setenv("ZBW_COMPUTER_NAME", "a-computer-name-longer-than-fifteen", 1);
    setenv("ZBW_USER_NAME", std::string(300, 'u').c_str(), 1);
    Check({{u"C:\\<computer>\\<user>", nullptr, u"C:\\computer_unknown\\user_unknown", u""}},
          COleDateTime(2024, 5, 7, 9, 5, 3));
}

TEST_F(PathVariablesTest, SelfReproducingValuesEnd) {
    Check({{u"C:\\<ZBLOOP>", nullptr, u"", u"invalid parameter syntax, too many parameters"},
           {u"C:\\<ZBGROW>", nullptr, u"", u"invalid parameter syntax, parameter <ZBGROW> expands too far"}},
          COleDateTime(2024, 5, 7, 9, 5, 3));
}

}  // namespace
