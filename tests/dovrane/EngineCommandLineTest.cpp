// The engine's command line and the file names it derives from the program's path.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "dovrane/EngineFileNames.h"
#include "dovrane/ZBEngineCommandLine.h"
#include "platform/base/TextConvert.h"

namespace {

// Feeds the arguments as CWinApp::ParseCommandLine does: "/" or "-" stripped and flagged.
CZBEngineCommandLine Parse(const std::vector<std::u16string>& arguments) {
    CZBEngineCommandLine info;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        bool flag = !argument.empty() && (argument[0] == u'/' || argument[0] == u'-');
        info.ParseParam(argument.c_str() + (flag ? 1 : 0), flag, i + 1 == arguments.size());
    }
    return info;
}

struct COMMANDLINECASE {
    std::vector<std::u16string> arguments;
    std::u16string fileName;
    bool service;
};

void PrintTo(const COMMANDLINECASE& test, std::ostream* os) {
    for (const std::u16string& argument : test.arguments) *os << "[" << zbw::ToUtf8(argument) << "] ";
}

class EngineCommandLineTest : public ::testing::TestWithParam<COMMANDLINECASE> {};

TEST_P(EngineCommandLineTest, TakesTheSettingsFileAndTheServiceSwitch) {
    CZBEngineCommandLine info = Parse(GetParam().arguments);
    EXPECT_EQ(info.m_strFileName, CString(GetParam().fileName));
    EXPECT_EQ(info.m_bService, GetParam().service);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineCommandLineTest,
    ::testing::Values(COMMANDLINECASE{{}, u"", false}, COMMANDLINECASE{{u"/serv"}, u"", true},
                      COMMANDLINECASE{{u"-SERV"}, u"", true}, COMMANDLINECASE{{u"/Serv"}, u"", true},
                      // A bare "serv" is both the switch and, as the first plain argument, the file.
                      COMMANDLINECASE{{u"serv"}, u"serv", true},
                      COMMANDLINECASE{{u"D:\\cfg\\my.xml", u"/serv"}, u"D:\\cfg\\my.xml", true},
                      COMMANDLINECASE{{u"/serv", u"D:\\cfg\\my.xml"}, u"D:\\cfg\\my.xml", true},
                      COMMANDLINECASE{{u"/p", u"a.xml", u"b.xml"}, u"a.xml", false},
                      COMMANDLINECASE{{u"/servx", u"/ser"}, u"", false}),
    [](const ::testing::TestParamInfo<COMMANDLINECASE>& info) {
        return "Case" + std::to_string(info.index);
    });

const CString kProgram = u"C:\\Program Files\\ZBEngine\\zbengine.exe";

TEST(EngineFileNamesTest, WithADataFolderTheFilesLieThere) {
    CEngineFileNames files;
    files.Derive(kProgram, u"C:\\Users\\me\\AppData\\ZBEngine\\");
    EXPECT_EQ(files.m_strProgramFolder, CString(u"C:\\Program Files\\ZBEngine\\"));
    EXPECT_EQ(files.m_strDebugSwitch, CString(u"C:\\Program Files\\ZBEngine\\zbengine.dbg"));
    EXPECT_EQ(files.m_strHtmlFolder, CString(u"C:\\Program Files\\ZBEngine\\html"));
    EXPECT_EQ(files.m_strLogPath, CString(u"C:\\Users\\me\\AppData\\ZBEngine\\ZBEngine.log"));
    EXPECT_EQ(files.m_strDBPath, CString(u"C:\\Users\\me\\AppData\\ZBEngine\\ZBEngine.db"));
    EXPECT_EQ(files.m_strXMLPath, CString(u"C:\\Users\\me\\AppData\\ZBEngine\\ZBEngine.xml"));
}

TEST(EngineFileNamesTest, WithoutADataFolderTheFilesLieBesideTheProgram) {
    CEngineFileNames files;
    files.Derive(kProgram, u"");
    EXPECT_EQ(files.m_strLogPath, CString(u"C:\\Program Files\\ZBEngine\\zbengine.log"));
    EXPECT_EQ(files.m_strDBPath, CString(u"C:\\Program Files\\ZBEngine\\zbengine.db"));
    EXPECT_EQ(files.m_strXMLPath, CString(u"C:\\Program Files\\ZBEngine\\zbengine.xml"));
    EXPECT_EQ(files.m_strDebugSwitch, CString(u"C:\\Program Files\\ZBEngine\\zbengine.dbg"));
}

TEST(EngineFileNamesTest, TheCommandLineFileWinsOverBothDefaults) {
    for (LPCWSTR dataFolder : {u"C:\\data\\ZBEngine\\", u""}) {
        CEngineFileNames files;
        files.Derive(kProgram, dataFolder);
        files.SetSettingsFile(u"E:\\mine.xml");
        EXPECT_EQ(files.m_strXMLPath, CString(u"E:\\mine.xml")) << zbw::ToUtf8(dataFolder);
        files.SetSettingsFile(u"");
        EXPECT_EQ(files.m_strXMLPath, files.m_strLogPath.Left(files.m_strLogPath.GetLength() - 3) + u"xml");
    }
}

TEST(EngineFileNamesTest, OnlyTheExtensionOfTheLastComponentIsReplaced) {
    EXPECT_EQ(CEngineFileNames::WithExtension(u"C:\\a.b\\prog", u".log"), CString(u"C:\\a.b\\prog.log"));
    EXPECT_EQ(CEngineFileNames::WithExtension(u"C:\\a.b\\prog.x.exe", u".dbg"),
              CString(u"C:\\a.b\\prog.x.dbg"));
    EXPECT_EQ(CEngineFileNames::WithExtension(u"prog.exe", u".db"), CString(u"prog.db"));
}

}  // namespace
