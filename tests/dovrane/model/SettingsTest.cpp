// Profile settings files: headers, encodings, defaults, lists; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dovrane/model/Settings.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/WinApp.h"
#include "platform/host/PathMap.h"
#include "tests/support/TestRoot.h"

namespace {

enum class Encoding { Utf16Bom, Utf16, Ansi };

std::string Encode(const std::u16string& text, Encoding encoding) {
    std::string bytes;
    if (encoding == Encoding::Ansi) {
        for (char16_t ch : text) bytes += static_cast<char>(ch);
        return bytes;
    }
    if (encoding == Encoding::Utf16Bom) bytes = "\xFF\xFE";
    for (char16_t ch : text) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

const std::u16string kCurrent = u"[Zebrodyne Profile - File Version 4.0.0]\r\n";
const std::u16string kOld = u"[Zebrodyne Project - File Version 3.0.0]\r\n";

// Profiles written into the test's own folder and loaded from their Windows path. Entries never
// write back here; the switch is put back on, as a process starts, afterwards.
class SettingsTest : public ::testing::Test {
   protected:
    void SetUp() override {
        CRegEntry::SetWriteBack(false);
        app.SetRegistryKey(u"ZBEngine");
    }
    void TearDown() override { CRegEntry::SetWriteBack(true); }

    CString Write(const std::u16string& text, Encoding encoding = Encoding::Utf16,
                  const char* name = "p.fsf") {
        std::string host = root.Path(name);
        EXPECT_TRUE(WriteHostFile(host, Encode(text, encoding)));
        return zbw::ToWindowsPath(host);
    }
    // Initialises fresh settings and loads the text into them.
    bool Load(CSettings& settings, const std::u16string& text, CString* error = nullptr) {
        settings.InitEntries();
        CString path = Write(text), message;
        bool ok = settings.Load(path, false, message);
        if (error) *error = message;
        return ok;
    }

    CTestRoot root;
    CWinApp app{u"zbengine"};
};

TEST_F(SettingsTest, HeaderAndEncodingDecideWhetherAProfileLoads) {
    struct Case {
        Encoding encoding;
        std::u16string text;
        bool loads;
    };
    const std::u16string body = u"[Settings]\r\nSpeed=55\r\n";
    const std::vector<Case> cases = {
        {Encoding::Utf16Bom, kCurrent + body, true},
        {Encoding::Utf16, kCurrent + body, true},
        {Encoding::Ansi, kCurrent + body, true},
        {Encoding::Utf16, body + kCurrent, true},  // looked up by name, not position
        {Encoding::Ansi, kOld + body, true},
        {Encoding::Utf16, u"[Zebrodyne Profile - File Version 5.0.0]\r\n" + body, false},
        {Encoding::Utf16Bom, body, false},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        CSettings settings;
        settings.InitEntries();
        CString path = Write(cases[i].text, cases[i].encoding), error;
        EXPECT_EQ(settings.Load(path, false, error), cases[i].loads);
        EXPECT_EQ(error, cases[i].loads ? CString(u"ok") : u"Invalid profile " + path);
        EXPECT_EQ(settings.m_Speed.GetValue(), cases[i].loads ? 55 : 100);
        EXPECT_EQ(settings.m_CFile.GetValue(), cases[i].loads ? path : CString());
    }
}

TEST_F(SettingsTest, MissingFileIsReported) {
    CSettings settings;
    settings.InitEntries();
    CString path = zbw::ToWindowsPath(root.Path("missing.fsf")), error;
    EXPECT_FALSE(settings.Load(path, false, error));
    EXPECT_EQ(error, u"File not found: " + path);
}

TEST_F(SettingsTest, OldMethodNumbersAreMapped) {
    struct Case {
        const char16_t* line;  // the old key line, or none
        int method;
        int replaceNewer;
    };
    const std::vector<Case> cases = {
        {nullptr, 0, 0},
        {u"Default Synchronization Method=1\r\n", 6, 0},
        {u"Default Synchronization Method=2\r\n", 3, 0},
        {u"Default Synchronization Method=3\r\n", 4, 0},
        {u"Default Synchronization Method=4\r\n", 5, 0},
        {u"Default Synchronization Method=5\r\n", 2, 0},
        {u"Default Synchronization Method=6\r\n", 2, 1},
        {u"Default Synchronization Method=7\r\n", 1, 0},
        {u"Default Synchronization Method=9\r\n", 0, 0},
        {u"Default Synchronization Method=x\r\n", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line ? std::string(zbw::ToUtf8(c.line)) : "missing");
        CSettings settings;
        // The current key is ignored in the old form.
        std::u16string text = kOld + u"[Settings]\r\nExecution Method=3\r\n" + (c.line ? c.line : u"");
        ASSERT_TRUE(Load(settings, text));
        EXPECT_EQ(settings.m_ExecutionMethod.GetValue(), c.method);
        EXPECT_EQ(settings.m_ReplaceNewerTarget.GetValue(), c.replaceNewer);
    }
}

TEST_F(SettingsTest, ValuesDefaultsAndUnreadKeys) {
    CSettings settings;
    ASSERT_TRUE(Load(settings, kCurrent + u"[Settings]\r\nPriority Class=12\r\nExecution Method=2\r\n"
                                          u"Source Folder=C:\\a|D:\\b\r\nTarget Folder=E:\\t\r\n"
                                          u"Copy Folder Permissions=1\r\nCFile=X:\\other.fsf\r\n"
                                          u"Include Subfolders Flags=0|1\r\n"));
    EXPECT_EQ(settings.m_PriorityClass.GetValue(), 1);
    EXPECT_EQ(settings.m_ExecutionMethod.GetValue(), 2);
    EXPECT_EQ(settings.m_Speed.GetValue(), 100);
    EXPECT_EQ(settings.m_CopyBuffer.GetValue(), 32768);
    EXPECT_EQ(settings.m_ConnectPassword.GetValue(), u"100110");
    EXPECT_EQ(settings.m_ComEncString.GetValue(), u"000000");
    EXPECT_EQ(settings.m_CopyFolderPermissions.GetValue(), 0);
    EXPECT_NE(settings.m_CFile.GetValue(), u"X:\\other.fsf");
    EXPECT_EQ(settings.CountSourceFolders(), 2);
    EXPECT_EQ(settings.CountTargetFolders(), 1);
    ASSERT_EQ(settings.m_IncludeSubfoldersFlags.GetFlags().GetSize(), 2);
    EXPECT_EQ(settings.m_IncludeSubfoldersFlags.GetFlags()[1], 1u);
    EXPECT_EQ(settings.m_ExecutionMethod.GetValueName(2), u"Backup (Mirror Source to Target)");
    EXPECT_TRUE(settings.m_SourceFolder.GetFlag(0));
    EXPECT_FALSE(settings.m_SourceFolder.GetFlag(1));
    EXPECT_FALSE(settings.m_ConnectNetworkPath.GetFlag(2));
    EXPECT_TRUE(settings.m_TargetArchiveFolder.GetFlag(1));
    EXPECT_TRUE(settings.m_LogFile.GetFlag(0));
    EXPECT_EQ(settings.m_TargetArchiveFolder.GetLabel(), u"Target Archive");
}

TEST_F(SettingsTest, LongValuesAreCut) {
    CSettings settings;
    ASSERT_TRUE(Load(settings,
                     kCurrent + u"[Settings]\r\nSource Folder=C:\\" + std::u16string(12000, u'a') + u"\r\n"));
    // The line holds at most 10191 units, key included.
    EXPECT_EQ(settings.m_SourceFolder.GetValue().GetLength(), 10191 - 14);
}

TEST_F(SettingsTest, ListsKeepAtMostMaxItems) {
    std::u16string text = kCurrent + u"[Filters]\r\nNum. of Filters=900\r\n";
    for (int i = 0; i < 900; ++i) {
        std::string number = std::to_string(i);
        text += u"Filter " + std::u16string(number.begin(), number.end()) + u"=x\r\n";
    }
    CSettings settings;
    ASSERT_TRUE(Load(settings, text));
    EXPECT_EQ(settings.m_FileFilters.GetSize(), CPerList::MaxItems);
}

TEST_F(SettingsTest, ApplicationProfileSetsTheFirstIncludeFlag) {
    app.WriteProfileInt(u"Settings", u"Include Subfolders", 1);
    app.WriteProfileString(u"Settings", u"Include Subfolders Flags", u"0|0");
    CSettings settings;
    settings.InitEntries();
    EXPECT_EQ(settings.m_IncludeSubfoldersFlags.GetValue(), u"1|0");
    EXPECT_EQ(settings.m_IncludeSubfoldersFlags.GetFlags()[0], 1u);
}

TEST_F(SettingsTest, AssignmentCopiesLoadedValues) {
    CSettings loaded;
    ASSERT_TRUE(Load(loaded, kCurrent +
                                 u"[Settings]\r\nSpeed=7\r\nSource Folder=C:\\s\r\n"
                                 u"[Filters]\r\nNum. of Filters=3\r\nFilter 0=Include\r\nFilter 1=*.txt\r\n"
                                 u"Filter 2=X\r\n"));
    CSettings copy;
    copy.InitEntries();
    copy = loaded;
    EXPECT_EQ(copy.m_Speed.GetValue(), 7);
    EXPECT_EQ(copy.m_Speed.GetWriteValue(), 7);
    EXPECT_EQ(copy.m_SourceFolder.GetValue(), u"C:\\s");
    ASSERT_EQ(copy.m_FileFilters.GetSize(), 3);
    EXPECT_EQ(copy.m_FileFilters[1], u"*.txt");
}

TEST_F(SettingsTest, StoringWritesAProfileThatLoadsBack) {
    CSettings settings;
    ASSERT_TRUE(Load(settings, kCurrent + u"[Settings]\r\nSpeed=42\r\nLog File=C:\\log.txt\r\n"));
    CString error, target = zbw::ToWindowsPath(root.Path("saved.fsf"));
    ASSERT_TRUE(settings.Load(target, true, error)) << zbw::ToUtf8(error);
    EXPECT_EQ(settings.m_CFile.GetValue(), target);
    CSettings back;
    back.InitEntries();
    ASSERT_TRUE(back.Load(target, false, error));
    EXPECT_EQ(back.m_Speed.GetValue(), 42);
    EXPECT_EQ(back.m_LogFile.GetValue(), u"C:\\log.txt");

    CString bad = zbw::ToWindowsPath(root.Path("no/such/dir/x.fsf"));
    EXPECT_FALSE(settings.Load(bad, true, error));
    EXPECT_EQ(error, u"Error writing to file " + bad);
    EXPECT_EQ(settings.m_Speed.GetValue(), 42);
}

TEST(FlagStringTest, SixZeroOrOneCharactersMakeAFlagString) {
    struct Case {
        const char16_t* text;
        bool flagString;
        const char16_t* bits;  // IsFlagSet of 0 .. 5
    };
    const std::vector<Case> cases = {
        {u"10100", false, u"000000"},  {u"000000", true, u"000000"}, {u"1010001", true, u"101000"},
        {u"0000112", true, u"000011"}, {u"00200", false, u"000000"}, {u"", false, u"000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text));
        EXPECT_EQ(IsFlagString(c.text), c.flagString);
        for (int n = 0; n < 6; ++n) EXPECT_EQ(IsFlagSet(c.text, n), c.bits[n] == u'1') << n;
        EXPECT_FALSE(IsFlagSet(c.text, -1));
        EXPECT_FALSE(IsFlagSet(c.text, 6));
    }
}

}  // namespace
