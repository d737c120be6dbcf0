// The engine settings file of CRunItemList: the server pass (each TCPIP and HTTP element, its
// log line, the ".bak" fallback) and what SaveSettings writes (encoding, declaration, the
// elements written back), and that a failed save leaves the list's mutex free.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "common/DebugPrintf.h"
#include "common/SHA1Text.h"
#include "dovrane/EngineGlobals.h"
#include "dovrane/RunItemList.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/SingleLock.h"
#include "platform/host/PathMap.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "tests/dovrane/EngineLogLines.h"
#include "tests/support/TestRoot.h"

namespace {

const char16_t kDeclaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n";

std::string Utf16Le(const CString& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t ch : text.GetStdString()) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

class EngineSettingsFileTest : public ::testing::Test {
   protected:
    CString PathOf(const char* name) const { return zbw::ToWindowsPath(m_root.Path(name)); }
    void WriteFile(const char* name, const CString& settingsChildren) const {
        ASSERT_TRUE(WriteHostFile(m_root.Path(name), Utf16Le(CString(kDeclaration) + u"<SETTINGS>" +
                                                             settingsChildren + u"</SETTINGS>\r\n")));
    }
    std::vector<std::string> LogLines() const { return m_log.Lines(); }
    bool Logged(const std::string& line) const { return m_log.Has(line); }
    CEngineSettings LoadServerPass(const CString& children) {
        WriteFile("settings.xml", children);
        CString result;
        EXPECT_TRUE(m_list.LoadSettings(PathOf("settings.xml"), true, &result));
        EXPECT_EQ(zbw::ToUtf8(result), "Ok. Loaded " + zbw::ToUtf8(PathOf("settings.xml")) + ".");
        return m_list.GetSettings();
    }
    std::string SavedText() const { return zbtest::FromUtf16Le(ReadHostFile(m_root.Path("saved.xml"))); }

    CTestRoot m_root;
    zbtest::CEngineLogLines m_log;
    CRunItemList m_list;
};

TEST_F(EngineSettingsFileTest, DefaultsBeforeAnyLoad) {
    CEngineSettings s = m_list.GetSettings();
    EXPECT_EQ(s.m_nTcpPort, 0);
    EXPECT_EQ(s.m_strTcpClients, CString(u"127.0.0.1"));
    EXPECT_EQ(s.m_nHttpPort, 8001);
    EXPECT_EQ(s.m_strHttpClients, CString(u"127.0.0.1"));
    EXPECT_EQ(s.m_nRefresh, 600);
    EXPECT_EQ(s.m_nCheckNew, 5);
    EXPECT_EQ(s.m_nCheckNewAfterChange, 5);
    EXPECT_TRUE(s.m_bSaved);
    EXPECT_FALSE(s.m_bHttpChanged);
    EXPECT_EQ(s.m_dtEngineStart, COleDateTime(1980, 1, 1, 0, 0, 0));
}

struct SERVERCASE {
    const char* name;
    const char16_t* children;
    std::function<void(const CEngineSettings&)> check;
    const char* logLine;
};

void PrintTo(const SERVERCASE& c, std::ostream* os) {
    *os << c.name;
}

class ServerPassTest : public EngineSettingsFileTest, public ::testing::WithParamInterface<SERVERCASE> {};

TEST_P(ServerPassTest, ReadsTheElement) {
    CEngineSettings s = LoadServerPass(GetParam().children);
    GetParam().check(s);
    EXPECT_TRUE(Logged(GetParam().logLine)) << GetParam().logLine;
}

const char16_t kDigest[] = u"01234567 89ABCDEF 01234567 89ABCDEF 01234567";

INSTANTIATE_TEST_SUITE_P(
    Elements, ServerPassTest,
    ::testing::Values(
        SERVERCASE{
            "TcpPortOutOfRange", u"<TCPIP><PORT>65535</PORT></TCPIP>",
            [](const CEngineSettings& s) {
                EXPECT_EQ(s.m_nTcpPort, 0);
                EXPECT_TRUE(s.m_strPendingTcpPort.IsEmpty());
            },
            "<PORT> tag invalid in XML configuration file, zbengine will use port 0 (TCP/IP protocol)"},
        SERVERCASE{"TcpPortHighest", u"<TCPIP><PORT>65534</PORT></TCPIP>",
                   [](const CEngineSettings& s) {
                       EXPECT_EQ(s.m_nTcpPort, 65534);
                       EXPECT_EQ(s.m_strPendingTcpPort, CString(u"65534"));
                   },
                   "<PORT> tag found, zbengine will use port 65534 (TCP/IP protocol)"},
        SERVERCASE{"HttpPortOutOfRange", u"<HTTP><PORT>65535</PORT></HTTP>",
                   [](const CEngineSettings& s) {
                       EXPECT_EQ(s.m_nHttpPort, 8001);
                       EXPECT_TRUE(s.m_strPendingHttpPort.IsEmpty());
                   },
                   "<PORT> tag found, invalid port value, using default port 8001 (HTTP protocol)"},
        SERVERCASE{"HttpShortPasswordIsHashed", u"<HTTP><PWD>secret</PWD></HTTP>",
                   [](const CEngineSettings& s) {
                       EXPECT_EQ(s.m_strHttpPasswordHash, SHA1HashText(u"secret"));
                       EXPECT_EQ(s.m_strPendingHttpPasswordHash, SHA1HashText(u"secret"));
                   },
                   "<PWD> tag found, zbengine access via HTTP requires password (HTTP protocol)"},
        SERVERCASE{"HttpEmptyPasswordIsTheDigestOfNothing", u"<HTTP><PWD></PWD></HTTP>",
                   [](const CEngineSettings& s) { EXPECT_EQ(s.m_strHttpPasswordHash, SHA1HashText(u"")); },
                   "<PWD> tag found, zbengine access via HTTP requires password (HTTP protocol)"},
        SERVERCASE{"HttpDigestIsTakenAsItIs",
                   u"<HTTP><PWD>01234567 89ABCDEF 01234567 89ABCDEF 01234567</PWD></HTTP>",
                   [](const CEngineSettings& s) { EXPECT_EQ(s.m_strHttpPasswordHash, CString(kDigest)); },
                   "<PWD> tag found, zbengine access via HTTP requires password (HTTP protocol)"},
        SERVERCASE{"Http44CharactersWithoutBlanksMeansNoPassword",
                   u"<HTTP><PWD>0123456789ABCDEF0123456789ABCDEF0123456789AB</PWD></HTTP>",
                   [](const CEngineSettings& s) {
                       EXPECT_TRUE(s.m_strHttpPasswordHash.IsEmpty());
                       EXPECT_TRUE(s.m_strPendingHttpPasswordHash.IsEmpty());
                   },
                   "<PWD> invalid password hash found in XML configuration file, zbengine access via HTTP "
                   "will not require password (HTTP protocol)"},
        SERVERCASE{"CheckNewAloneGivesBoth", u"<HTTP><CHECKNEW>7</CHECKNEW></HTTP>",
                   [](const CEngineSettings& s) {
                       EXPECT_EQ(s.m_nCheckNew, 7);
                       EXPECT_EQ(s.m_nCheckNewAfterChange, 7);
                       EXPECT_TRUE(s.m_strPendingCheckNewAfterChange.IsEmpty());
                   },
                   "<CHECKNEW_AFTERCHANGE> tag not found in XML configuration file, using default 7"},
        SERVERCASE{
            "NoTcpIpClosesThePort", u"<TCPIP><PORT>5959</PORT><NOTCPIP/></TCPIP>",
            [](const CEngineSettings& s) {
                EXPECT_EQ(s.m_nTcpPort, 0);
                EXPECT_TRUE(s.m_bNoTcpIp);
                EXPECT_EQ(s.m_strPendingTcpPort, CString(u"5959"));
            },
            "<NOTCPIP> tag found in XML configuration file, zbengine will not accept TCP/IP connections"},
        SERVERCASE{"NoHttpClosesThePort", u"<HTTP><PORT>9000</PORT><NOHTTP/></HTTP>",
                   [](const CEngineSettings& s) {
                       EXPECT_EQ(s.m_nHttpPort, 0);
                       EXPECT_TRUE(s.m_bNoHttp);
                   },
                   "<NOHTTP> tag found in XML configuration file, zbengine will not accept HTTP (browser) "
                   "connections"},
        SERVERCASE{"MissingTcpClientsAllowOnlyTheLocalMachine", u"<TCPIP><PORT>5959</PORT></TCPIP>",
                   [](const CEngineSettings& s) { EXPECT_EQ(s.m_strTcpClients, CString(u"127.0.0.1")); },
                   "<CLIENTS> tag not found in XML configuration file, zbengine will only allow clients from "
                   "127.0.0.1 (TCP/IP protocol)"},
        SERVERCASE{"MissingHttpClientsAllowOnlyTheLocalMachine", u"<HTTP><PORT>9000</PORT></HTTP>",
                   [](const CEngineSettings& s) { EXPECT_EQ(s.m_strHttpClients, CString(u"127.0.0.1")); },
                   "<CLIENTS> tag not found in XML configuration file: zbengine will only allow clients from "
                   "127.0.0.1 (HTTP protocol)"},
        SERVERCASE{
            "HttpBeforeTcpIpIsReadToo",
            u"<HTTP><PORT>9000</PORT></HTTP><TCPIP><CLIENTS>10.0.0.*</CLIENTS><PORT>5959</PORT></TCPIP>",
            [](const CEngineSettings& s) {
                EXPECT_EQ(s.m_nHttpPort, 9000);
                EXPECT_EQ(s.m_nTcpPort, 5959);
                EXPECT_EQ(s.m_strTcpClients, CString(u"10.0.0.*"));
            },
            "<CLIENTS> tag found, zbengine will only allow clients from 10.0.0.* (TCP/IP protocol)"}),
    [](const ::testing::TestParamInfo<SERVERCASE>& info) { return std::string(info.param.name); });

// The log lines of a file with every element, one with both elements empty and one with
// neither, in the order they are written.
TEST_F(EngineSettingsFileTest, EveryElementFoundOrMissingLogsItsLine) {
    LoadServerPass(
        u"<TCPIP><IP>127.0.0.2</IP><PORT>5959</PORT><CLIENTS>*</CLIENTS><PWD>pw</PWD><NOTCPIP/></TCPIP>"
        u"<HTTP><PORT>9000</PORT><CLIENTS>*</CLIENTS><PWD>pw</PWD><REFRESH>30</REFRESH><CHECKNEW>6</CHECKNEW>"
        u"<CHECKNEW_AFTERCHANGE>8</CHECKNEW_AFTERCHANGE><NOHTTP/></HTTP>");
    LoadServerPass(u"<TCPIP></TCPIP><HTTP></HTTP>");
    LoadServerPass(u"");
    const std::vector<std::string> lines = LogLines();
    const std::string file = zbw::ToUtf8(PathOf("settings.xml"));
    const std::string loading = "Loading TCP/IP settings from XML file " + file;
    const std::vector<std::string> expected = {
        loading,
        "<TCPIP> tag found.",
        "<IP> tag found, zbengine will use IP 127.0.0.2 (TCP/IP protocol)",
        "<PORT> tag found, zbengine will use port 5959 (TCP/IP protocol)",
        "<CLIENTS> tag found, zbengine will only allow clients from * (TCP/IP protocol)",
        "<PWD> tag found, zbengine access via TCP/IP will require password (TCP/IP protocol)",
        "<NOTCPIP> tag found in XML configuration file, zbengine will not accept TCP/IP connections",
        "<HTTP> tag found.",
        "<PORT> tag found, zbengine will use port 9000 (HTTP protocol)",
        "<CLIENTS> tag found: zbengine will only allow clients from * (HTTP protocol)",
        "<PWD> tag found, zbengine access via HTTP requires password (HTTP protocol)",
        "<REFRESH> tag found, value 30",
        "<CHECKNEW> tag found, value 6",
        "<CHECKNEW_AFTERCHANGE> tag found, value 8",
        "<NOHTTP> tag found in XML configuration file, zbengine will not accept HTTP (browser) connections",
        loading,
        "<TCPIP> tag found.",
        "<IP> tag not found in XML configuration file, zbengine will use default IP address (TCP/IP "
        "protocol)",
        "<PORT> tag not found in XML configuration file, zbengine will use port 0 (TCP/IP protocol)",
        "<CLIENTS> tag not found in XML configuration file, zbengine will only allow clients from 127.0.0.1 "
        "(TCP/IP protocol)",
        "<PWD> tag not found in XML configuration file, zbengine access via TCP/IP will not require password "
        "(TCP/IP protocol)",
        "<HTTP> tag found.",
        "<PORT> tag not found in XML configuration file, using default port 8001 (HTTP protocol)",
        "<CLIENTS> tag not found in XML configuration file: zbengine will only allow clients from 127.0.0.1 "
        "(HTTP protocol)",
        "<PWD> tag not found in XML configuration file, zbengine access via HTTP does not require password "
        "(HTTP protocol)",
        "<REFRESH> tag not found in XML configuration file, using default 600",
        "<CHECKNEW> tag not found in XML configuration file, using default 5",
        "<CHECKNEW_AFTERCHANGE> tag not found in XML configuration file, using default 5",
        loading,
        "<TCPIP> tag not found in XML configuration file, ZBEngine to use default TCP/IP configuration",
        "<HTTP> tag not found in XML configuration file, zbengine will use default HTTP configuration",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(EngineSettingsFileTest, AMissingFileFallsBackToItsBakCopy) {
    WriteFile("settings.xml.bak", u"<TCPIP><PORT>5959</PORT></TCPIP>");
    EXPECT_TRUE(m_list.LoadSettings(PathOf("settings.xml"), true));
    EXPECT_EQ(m_list.GetSettings().m_nTcpPort, 5959);
    const std::string file = zbw::ToUtf8(PathOf("settings.xml"));
    EXPECT_TRUE(
        Logged("Failed loading " + file + ". Unable to open XML file for parsing. Will use .bak file."));
    EXPECT_TRUE(Logged("Settings loaded from " + file + ".bak."));
}

TEST_F(EngineSettingsFileTest, NeitherFileNorBakGivesTheDefaults) {
    WriteFile("settings.xml", u"<TCPIP><PORT>5959</PORT></TCPIP>");
    ASSERT_TRUE(m_list.LoadSettings(PathOf("settings.xml"), true));
    CString result;
    EXPECT_TRUE(m_list.LoadSettings(PathOf("missing.xml"), true, &result));
    EXPECT_EQ(m_list.GetSettings().m_nTcpPort, 0);
    EXPECT_EQ(m_list.GetSettings().m_strSettingsPath, PathOf("missing.xml"));
    EXPECT_TRUE(Logged("Failed loading " + zbw::ToUtf8(PathOf("missing.xml")) +
                       ".bak. Unable to open XML file for parsing."));
}

TEST_F(EngineSettingsFileTest, TheSavedFileIsUtf16WithItsMarkAndDeclaration) {
    LoadServerPass(u"<TCPIP><PORT>5959</PORT></TCPIP>");
    CString result;
    ASSERT_TRUE(m_list.SaveSettings(PathOf("saved.xml"), &result));
    EXPECT_EQ(zbw::ToUtf8(result), "Ok. Saved to " + zbw::ToUtf8(PathOf("saved.xml")) + ".");
    const std::string bytes = ReadHostFile(m_root.Path("saved.xml"));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE<\0", 4));
    EXPECT_EQ(SavedText().rfind(zbw::ToUtf8(kDeclaration) + "<SETTINGS>", 0), 0u) << SavedText();
    EXPECT_EQ(ReadHostFile(m_root.Path("saved.xml.bak")), bytes);
    EXPECT_TRUE(m_list.GetSettings().m_bSaved);
}

// The ".bak" is the fallback of the next load: it must hold the latest save, not the first.
TEST_F(EngineSettingsFileTest, EachSaveRefreshesTheBak) {
    std::string saved[2];
    const char16_t* const ports[2] = {u"<TCPIP><PORT>5959</PORT></TCPIP>",
                                      u"<TCPIP><PORT>6060</PORT></TCPIP>"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        LoadServerPass(ports[i]);
        CString result;
        ASSERT_TRUE(m_list.SaveSettings(PathOf("saved.xml"), &result));
        saved[i] = ReadHostFile(m_root.Path("saved.xml"));
        EXPECT_EQ(ReadHostFile(m_root.Path("saved.xml.bak")), saved[i]);
    }
    EXPECT_NE(saved[0], saved[1]);
    EXPECT_NE(SavedText().find("6060"), std::string::npos) << SavedText();
}

struct SAVECASE {
    const char* name;
    const char16_t* children;
    std::function<void(CRunItemList&)> change;
    const char* saved;  // what SETTINGS holds, as UTF-8
};

void PrintTo(const SAVECASE& c, std::ostream* os) {
    *os << c.name;
}

class SaveBackTest : public EngineSettingsFileTest, public ::testing::WithParamInterface<SAVECASE> {};

TEST_P(SaveBackTest, WritesWhatTheFileHeld) {
    LoadServerPass(GetParam().children);
    if (GetParam().change) GetParam().change(m_list);
    ASSERT_TRUE(m_list.SaveSettings(PathOf("saved.xml")));
    std::string text = SavedText();
    if (size_t empty = text.find("<SETTINGS/>"); empty != std::string::npos)
        text.replace(empty, 11, "<SETTINGS></SETTINGS>");
    const std::string head = zbw::ToUtf8(kDeclaration) + "<SETTINGS>";
    ASSERT_EQ(text.rfind(head, 0), 0u) << text;
    std::string body = text.substr(head.size());
    body = body.substr(0, body.rfind("</SETTINGS>"));
    std::string compact;
    for (char ch : body)
        if (ch != '\r' && ch != '\n' && ch != '\t') compact += ch;
    EXPECT_EQ(compact, GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SaveBackTest,
    ::testing::Values(
        SAVECASE{"NoTcpIpElementStaysAbsent",
                 u"<HTTP><PORT>9000</PORT></HTTP>",
                 {},
                 "<HTTP><PORT>9000</PORT></HTTP>"},
        SAVECASE{"AnOutOfRangeTcpPortIsNotWrittenBack",
                 u"<TCPIP><PORT>65535</PORT><CLIENTS>*</CLIENTS></TCPIP>",
                 {},
                 "<TCPIP><CLIENTS>*</CLIENTS></TCPIP>"},
        SAVECASE{"ANewHttpPortAddsTheHttpElement", u"",
                 [](CRunItemList& list) { list.SetNewHttpPort(u"9000"); }, "<HTTP><PORT>9000</PORT></HTTP>"},
        SAVECASE{"NoElementsNoServerSettings", u"", {}, ""},
        SAVECASE{"FlagsAreWrittenEmpty",
                 u"<TCPIP><NOTCPIP/></TCPIP><HTTP><NOHTTP/></HTTP>",
                 {},
                 "<TCPIP><NOTCPIP/></TCPIP><HTTP><NOHTTP/></HTTP>"},
        SAVECASE{
            "EveryPendingValueInOrder",
            u"<HTTP><CHECKNEW_AFTERCHANGE>8</CHECKNEW_AFTERCHANGE><CHECKNEW>6</CHECKNEW><REFRESH>30</REFRESH>"
            u"<PWD>pw</PWD><CLIENTS>*</CLIENTS><PORT>9000</PORT></HTTP>"
            u"<TCPIP><PWD>tp</PWD><CLIENTS>*</CLIENTS><PORT>5959</PORT><IP>127.0.0.2</IP></TCPIP>",
            {},
            "<TCPIP><IP>127.0.0.2</IP><PORT>5959</PORT><CLIENTS>*</CLIENTS><PWD>tp</PWD></TCPIP>"
            "<HTTP><PORT>9000</PORT><CLIENTS>*</CLIENTS><PWD>"
            "334DBAE9 A6DA5989 7CF1642C 275E694C 7A89B83E</PWD><REFRESH>30</REFRESH>"
            "<CHECKNEW>6</CHECKNEW><CHECKNEW_AFTERCHANGE>8</CHECKNEW_AFTERCHANGE></HTTP>"}),
    [](const ::testing::TestParamInfo<SAVECASE>& info) { return std::string(info.param.name); });

// A failed save reports itself and leaves the list's lock free for every other thread.
TEST_F(EngineSettingsFileTest, AFailedSaveReportsAndReleasesTheMutex) {
    const CString path = PathOf("no-such-folder/saved.xml");
    CString result;
    EXPECT_FALSE(m_list.SaveSettings(path, &result));
    EXPECT_EQ(zbw::ToUtf8(result),
              "Failed saving " + zbw::ToUtf8(path) + ". Unable to open XML file for saving settings.");
    EXPECT_FALSE(m_list.GetSettings().m_bSaved);
    EXPECT_TRUE(Logged(zbw::ToUtf8(result)));
    std::atomic<bool> locked{false};
    std::thread other([&] {
        CSingleLock lock(&m_list.GetListMutex());
        locked = lock.Lock(5000) != FALSE;
    });
    other.join();
    EXPECT_TRUE(locked.load());
}

}  // namespace
