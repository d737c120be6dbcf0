// The run-item list and its operations on real profile run items: the profile pass of the
// settings file (file order, a refused ITEM, a missing file), saving and reading back, look-ups
// by name and category, moves, the run history a removal deletes, opening a profile in the
// stand-in synchronisation program.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "common/RegUtils.h"
#include "dovrane/EngineGlobals.h"
#include "dovrane/RunItemList.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/threads/ZBProjectRunItem.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinUser.h"
#include "tests/dovrane/EngineLogLines.h"
#include "tests/support/TestRoot.h"

namespace {

const char16_t kDeclaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n";
const char16_t kSyncProgramKey[] = u"software\\Zebrodyne Pro 2\\Zebrodyne Pro";
const DWORD kBoundMs = 15000;

std::string Utf16Le(const CString& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t ch : text.GetStdString()) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

class RunItemListTest : public ::testing::Test {
   protected:
    void SetUp() override {
        g_EngineDB.SetDBFilePath(PathOf("engine.db"));
        ASSERT_TRUE(g_EngineDB.OpenDBFile());
    }
    void TearDown() override {
        m_list.RemoveAllRunItems();
        g_EngineDB.CloseDBFile();
    }

    CString PathOf(const std::string& name) const { return zbw::ToWindowsPath(m_root.Path(name)); }
    CString Item(const std::string& name, const CString& children = u"") const {
        return u"<ITEM><PROFILE>" + PathOf(name) + u"</PROFILE>" + children + u"</ITEM>";
    }
    void WriteSettings(const char* file, const CString& items) const {
        ASSERT_TRUE(WriteHostFile(
            m_root.Path(file), Utf16Le(CString(kDeclaration) + u"<SETTINGS>" + items + u"</SETTINGS>\r\n")));
    }
    bool Load(const char* file, CString* result = nullptr) {
        return m_list.LoadSettings(PathOf(file), false, result);
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        CString list = m_list.GetProfileNameList();
        int pos = 0;
        while (pos < list.GetLength()) {
            int bar = list.Find(u'|', pos);
            if (bar < 0) bar = list.GetLength();
            names.push_back(zbw::ToUtf8(list.Mid(pos, bar - pos)));
            pos = bar + 1;
        }
        return names;
    }
    std::string Name(const std::string& name) const { return zbw::ToUtf8(PathOf(name)); }
    void SetSyncProgram(const CString& program) const {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSyncProgramKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, u"path", 0, REG_SZ, reinterpret_cast<const BYTE*>(LPCWSTR(program)),
                       static_cast<DWORD>((program.GetLength() + 1) * sizeof(char16_t)));
        RegCloseKey(key);
    }
    void InstallStandIn() const { SetSyncProgram(zbw::ToWindowsPath(BinDir() + "/zbsync")); }
    // Serves this thread's queue until done holds, for at most kBoundMs.
    bool PumpUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
        MSG msg;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(5);
        }
        return done();
    }

    CTestRoot m_root;
    zbtest::CEngineLogLines m_log;
    CRunItemList m_list;
};

TEST_F(RunItemListTest, TheProfilesLoadInFileOrder) {
    WriteSettings("settings.xml", Item("c.fsf") + Item("a.fsf") + Item("b.fsf", u"<DISABLEDATSTARTUP/>"));
    CString result;
    ASSERT_TRUE(Load("settings.xml", &result));
    EXPECT_EQ(zbw::ToUtf8(result), "Ok. Loaded " + Name("settings.xml") + ".");
    EXPECT_EQ(Names(), (std::vector<std::string>{Name("c.fsf"), Name("a.fsf"), Name("b.fsf")}));
    EXPECT_EQ(m_list.GetSettings().m_strSettingsPath, PathOf("settings.xml"));
    EXPECT_TRUE(m_list.AreProfilesLoaded());
    EXPECT_TRUE(m_log.Has("Loading profiles from XML file " + Name("settings.xml")));
}

TEST_F(RunItemListTest, ADuplicateProfileInTheFileIsSkipped) {
    WriteSettings("settings.xml", Item("a.fsf") + Item("A.FSF") + Item("b.fsf"));
    ASSERT_TRUE(Load("settings.xml"));
    EXPECT_EQ(Names(), (std::vector<std::string>{Name("a.fsf"), Name("b.fsf")}));
}

TEST_F(RunItemListTest, AnItemWithoutProfileKeepsTheOldList) {
    WriteSettings("settings.xml", Item("a.fsf"));
    ASSERT_TRUE(Load("settings.xml"));
    WriteSettings("other.xml", Item("b.fsf") + u"<ITEM><DESCRIPTION>x</DESCRIPTION></ITEM>");
    CString result;
    EXPECT_FALSE(Load("other.xml", &result));
    EXPECT_EQ(zbw::ToUtf8(result), "Failed loading " + Name("other.xml") + ". <PROFILE> tag not found..");
    EXPECT_TRUE(m_log.Has(zbw::ToUtf8(result)));
    EXPECT_EQ(Names(), (std::vector<std::string>{Name("a.fsf")}));
    EXPECT_EQ(m_list.GetSettings().m_strSettingsPath, PathOf("settings.xml"));
}

// A mistyped name neither empties the list nor becomes the settings path.
TEST_F(RunItemListTest, AMissingFileIsAFailureThatKeepsTheListAndThePath) {
    WriteSettings("settings.xml", Item("a.fsf"));
    ASSERT_TRUE(Load("settings.xml"));
    CString result;
    EXPECT_FALSE(Load("setings.xml", &result));
    EXPECT_EQ(zbw::ToUtf8(result),
              "Failed loading " + Name("setings.xml") + ". Unable to open XML file for parsing.");
    EXPECT_EQ(Names(), (std::vector<std::string>{Name("a.fsf")}));
    EXPECT_EQ(m_list.GetSettings().m_strSettingsPath, PathOf("settings.xml"));
}

// The first start finds no file yet: its own settings file loads as an empty list.
TEST_F(RunItemListTest, TheEnginesOwnFileMayBeMissingAtTheFirstStart) {
    ASSERT_TRUE(m_list.LoadSettings(PathOf("engine.xml"), true));
    EXPECT_TRUE(m_list.LoadSettings(u"", false));
    EXPECT_EQ(m_list.GetCount(), 0);
    EXPECT_TRUE(m_list.AreProfilesLoaded());
}

TEST_F(RunItemListTest, TheSavedFileReadsBackToTheSameList) {
    WriteSettings("settings.xml", Item("a.fsf", u"<CATEGORY>Docs</CATEGORY><EVERYDAY>2</EVERYDAY>") +
                                      Item("b.fsf", u"<DISABLEDATSTARTUP/>") + Item("c.fsf", u"<STARTUP/>"));
    ASSERT_TRUE(Load("settings.xml"));
    ASSERT_TRUE(m_list.SaveSettings(PathOf("saved.xml")));
    CRunItemList other;
    ASSERT_TRUE(other.LoadSettings(PathOf("saved.xml"), false));
    ASSERT_EQ(other.GetCount(), m_list.GetCount());
    for (const std::string& name : Names()) {
        CString mine;
        CString theirs;
        ASSERT_TRUE(m_list.GetProfileItemXml(zbw::FromUtf8(name), mine));
        ASSERT_TRUE(other.GetProfileItemXml(zbw::FromUtf8(name), theirs));
        EXPECT_EQ(zbw::ToUtf8(theirs), zbw::ToUtf8(mine));
    }
    const std::string saved = zbtest::FromUtf16Le(ReadHostFile(m_root.Path("saved.xml")));
    EXPECT_EQ(saved.find("<DISABLEDATSTARTUP/>"), saved.rfind("<DISABLEDATSTARTUP/>"));  // b only
    other.RemoveAllRunItems();
}

TEST_F(RunItemListTest, AddRefusesAnEmptyOrKnownNameWhateverItsCase) {
    CLaunchItem item;
    EXPECT_FALSE(m_list.AddRunItem(item, false));
    item.m_strProfile = PathOf("a.fsf");
    EXPECT_TRUE(m_list.AddRunItem(item, false));
    item.m_strProfile = PathOf("a.fsf").MakeUpper();
    EXPECT_FALSE(m_list.AddRunItem(item, false));
    EXPECT_EQ(m_list.GetCount(), 1);
    EXPECT_FALSE(m_list.AddProfileFromXml(u"<SETTINGS><ITEM><DESCRIPTION>x</DESCRIPTION></ITEM></SETTINGS>"));
    EXPECT_FALSE(m_list.AddProfileFromXml(u"not xml"));
    EXPECT_TRUE(m_list.AddProfileFromXml(u"<SETTINGS>" + Item("b.fsf") + u"</SETTINGS>"));
    EXPECT_EQ(m_list.GetCount(), 2);
}

TEST_F(RunItemListTest, NameListAndLookUps) {
    EXPECT_EQ(m_list.GetProfileNameList(), CString(u""));
    ASSERT_TRUE(m_list.AddProfileFromXml(u"<SETTINGS>" + Item("a.fsf") + u"</SETTINGS>"));
    EXPECT_EQ(Names(), (std::vector<std::string>{Name("a.fsf")}));
    EXPECT_EQ(m_list.GetProfileNameList().Find(u'|'), -1);
    EXPECT_TRUE(m_list.ProfileExists(PathOf("A.FSF")));
    EXPECT_FALSE(m_list.ProfileExists(PathOf("b.fsf")));
    EXPECT_EQ(m_list.GetProfileInfo(PathOf("b.fsf")), CString(u""));
    EXPECT_EQ(m_list.RUNITEM_RECORD(1), CString(u""));
    EXPECT_EQ(m_list.RUNITEM_RECORD(-1), CString(u""));
    CString xml;
    EXPECT_FALSE(m_list.GetProfileItemXml(PathOf("b.fsf"), xml));
    ASSERT_TRUE(m_list.GetProfileItemXml(PathOf("a.fsf"), xml));
    EXPECT_EQ(xml.Find(u"<ITEM>"), 0);
}

TEST_F(RunItemListTest, RunProfileAnswersNotFoundAndNotEnabled) {
    ASSERT_TRUE(
        m_list.AddProfileFromXml(u"<SETTINGS>" + Item("a.fsf", u"<DISABLEDATSTARTUP/>") + u"</SETTINGS>"));
    EXPECT_EQ(m_list.RunProfile(PathOf("x.fsf"), RUNREASON_MANUAL, nullptr), RUNPROFILE_NOT_FOUND);
    EXPECT_EQ(m_list.RunProfile(PathOf("a.fsf"), RUNREASON_MANUAL, nullptr), RUNPROFILE_NOT_ACTIVE);
    EXPECT_FALSE(m_list.EnableProfile(PathOf("x.fsf")));
    EXPECT_FALSE(m_list.DisableProfile(PathOf("x.fsf")));
    EXPECT_FALSE(m_list.StopProfile(PathOf("x.fsf")));
    EXPECT_FALSE(m_list.RemoveProfile(PathOf("x.fsf")));
    EXPECT_FALSE(m_list.ResetProfileLastRuns(PathOf("x.fsf")));
    EXPECT_FALSE(m_list.UpdateProfileFromXml(u"<SETTINGS>" + Item("x.fsf") + u"</SETTINGS>"));
}

struct MOVECASE {
    const char* name;
    const char* item;
    const char* category;
    bool up;
    bool moved;
    const char* order;  // the item names after the move, one letter each
};

void PrintTo(const MOVECASE& c, std::ostream* os) {
    *os << c.name;
}

class RunItemListMoveTest : public RunItemListTest, public ::testing::WithParamInterface<MOVECASE> {};

TEST_P(RunItemListMoveTest, MovesToTheNearestOfTheCategory) {
    // a, c and e are "Docs"; b and d "Music".
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        const CString category = std::string("ace").find(name) != std::string::npos ? u"Docs" : u"Music";
        ASSERT_TRUE(m_list.AddProfileFromXml(
            u"<SETTINGS>" + Item(std::string(name) + ".fsf", u"<CATEGORY>" + category + u"</CATEGORY>") +
            u"</SETTINGS>"));
    }
    const MOVECASE& c = GetParam();
    const CString item = PathOf(std::string(c.item) + ".fsf");
    const CString category = zbw::FromUtf8(c.category);
    EXPECT_EQ(c.up ? m_list.MoveProfileUp(item, category) : m_list.MoveProfileDown(item, category), c.moved);
    std::string order;
    for (const std::string& name : Names()) order += name[name.size() - 5];
    EXPECT_EQ(order, c.order);
}

INSTANTIATE_TEST_SUITE_P(
    Moves, RunItemListMoveTest,
    ::testing::Values(MOVECASE{"FirstUp", "a", "", true, false, "abcde"},
                      MOVECASE{"LastDown", "e", "", false, false, "abcde"},
                      MOVECASE{"UnknownUp", "x", "", true, false, "abcde"},
                      MOVECASE{"AnyUp", "c", "", true, true, "acbde"},
                      MOVECASE{"AnyDown", "c", "", false, true, "abdce"},
                      MOVECASE{"CategoryUpSkipsOthers", "c", "docs", true, true, "cbade"},
                      MOVECASE{"CategoryDownSkipsOthers", "c", "Docs", false, true, "abedc"},
                      MOVECASE{"NoneOfTheCategoryAbove", "b", "Music", true, false, "abcde"}),
    [](const ::testing::TestParamInfo<MOVECASE>& info) { return std::string(info.param.name); });

// The history keys are matched literally: "_", "%", "*", "?" and "[" in a name reach no other
// profile's keys.
TEST_F(RunItemListTest, RemovingAProfileDeletesOnlyItsOwnHistory) {
    const std::vector<std::string> names = {"a_b", "axb", "a%b", "a*b", "a?b", "a[b]", "ab"};
    for (const std::string& name : names) {
        ASSERT_TRUE(m_list.AddProfileFromXml(u"<SETTINGS>" + Item(name + ".fsf") + u"</SETTINGS>"));
        ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
        ASSERT_TRUE(g_EngineDB.WriteDBValue(PathOf(name + ".fsf") + u">0RES", u"r"));
        ASSERT_TRUE(g_EngineDB.CommitDBTransaction());
    }
    for (const char* removed : {"a*b", "a_b", "a?b", "a[b]", "a%b"}) {
        ASSERT_TRUE(m_list.RemoveProfile(PathOf(std::string(removed) + ".fsf"))) << removed;
        ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
        for (const std::string& name : names) {
            const bool gone = g_EngineDB.ReadDBValue(PathOf(name + ".fsf") + u">0RES").IsEmpty();
            const bool shouldBeGone = !m_list.ProfileExists(PathOf(name + ".fsf"));
            EXPECT_EQ(gone, shouldBeGone) << "after removing " << removed << ": " << name;
        }
        ASSERT_TRUE(g_EngineDB.CommitDBTransaction());
    }
}

TEST_F(RunItemListTest, OpenProfileNeedsTheProgramAndTheProfile) {
    ASSERT_TRUE(m_list.AddProfileFromXml(u"<SETTINGS>" + Item("a.fsf") + u"</SETTINGS>"));
    CString error;
    EXPECT_FALSE(m_list.OpenProfileInSyncProgram(PathOf("a.fsf"), OPENMODE_OPEN, error));
    EXPECT_EQ(error,
              CString(u"Unable to locate Zebrodyne Pro on this computer. Please install Zebrodyne Pro."));
    InstallStandIn();
    EXPECT_FALSE(m_list.OpenProfileInSyncProgram(PathOf("b.fsf"), OPENMODE_OPEN, error));
    EXPECT_EQ(zbw::ToUtf8(error), "Profile " + Name("b.fsf") + " not found in ZBEngine list.");
    error.Empty();
    EXPECT_FALSE(m_list.OpenProfileInSyncProgram(PathOf("a.fsf"), 3, error));
    EXPECT_FALSE(error.IsEmpty());
}

TEST_F(RunItemListTest, OpenProfileReportsAProgramThatDoesNotStart) {
    ASSERT_TRUE(m_list.AddProfileFromXml(u"<SETTINGS>" + Item("a.fsf") + u"</SETTINGS>"));
    SetSyncProgram(PathOf("missing-program"));
    CString error;
    EXPECT_FALSE(m_list.OpenProfileInSyncProgram(PathOf("a.fsf"), OPENMODE_OPEN, error));
    EXPECT_NE(error.Find(u"Unable to start"), -1) << zbw::ToUtf8(error);
}

TEST_F(RunItemListTest, OpenProfileWithAutocompareStartsTheProgramOnTheProfile) {
    ASSERT_TRUE(WriteHostFile(m_root.Path("a.fsf"),
                              "[StandIn]\r\nSeconds=0\r\nLogFile=" + zbw::ToUtf8(PathOf("a.log")) + "\r\n"));
    ASSERT_TRUE(m_list.AddProfileFromXml(u"<SETTINGS>" + Item("a.fsf") + u"</SETTINGS>"));
    InstallStandIn();
    CString error;
    ASSERT_TRUE(m_list.OpenProfileInSyncProgram(PathOf("a.fsf"), OPENMODE_AUTOCOMPARE, error))
        << zbw::ToUtf8(error);
    EXPECT_TRUE(error.IsEmpty());
    const auto logged = [&] {
        return ReadHostFile(m_root.Path("a.log")).find("END ID:") != std::string::npos;
    };
    ASSERT_TRUE(PumpUntil(logged));
    const std::string log = ReadHostFile(m_root.Path("a.log"));
    EXPECT_NE(log.find("[INFO] Profile: " + Name("a.fsf")), std::string::npos) << log;
    EXPECT_NE(log.find("[INFO] Switches: /autocompare"), std::string::npos) << log;
}

TEST_F(RunItemListTest, RunProgramOpensAProgramAndReportsAMissingFile) {
    EXPECT_TRUE(m_list.RunProgram(zbw::ToWindowsPath(BinDir() + "/zbsync")));
    EXPECT_FALSE(m_list.RunProgram(PathOf("missing-program")));
}

TEST_F(RunItemListTest, SnapshotsAreOnePerItemInListOrder) {
    CArray<CZBProjectRunItemData> snapshots;
    m_list.UpdateHttpItemData(snapshots);
    EXPECT_EQ(snapshots.GetSize(), 0);
    ASSERT_TRUE(m_list.AddProfileFromXml(u"<SETTINGS>" + Item("b.fsf") + u"</SETTINGS>"));
    ASSERT_TRUE(
        m_list.AddProfileFromXml(u"<SETTINGS>" + Item("a.fsf", u"<DISABLEDATSTARTUP/>") + u"</SETTINGS>"));
    m_list.UpdateHttpItemData(snapshots);
    ASSERT_EQ(snapshots.GetSize(), 2);
    EXPECT_EQ(snapshots[0].GetName(), PathOf("b.fsf"));
    EXPECT_EQ(snapshots[1].GetName(), PathOf("a.fsf"));
    EXPECT_EQ(snapshots[1].GetRunState(), RUNSTATE_DISABLED);
}

}  // namespace
