// Profile setting entries: parsing, initial values from the application store, write-back; fakes a temporary
// emulation root.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dovrane/model/PerDirAndSnapshot.h"
#include "dovrane/model/PerFile.h"
#include "dovrane/model/PerInt.h"
#include "dovrane/model/PerList.h"
#include "dovrane/model/PerString.h"
#include "dovrane/model/PerStringOfBools.h"
#include "dovrane/model/SectionFileReader.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/InvalidArgException.h"
#include "platform/classlib/WinApp.h"
#include "tests/support/TestRoot.h"

namespace {

using KeyList = std::vector<std::pair<std::u16string, std::u16string>>;

// An application object with the engine's registry key in a private root. Entries write back
// only in the test that turns the switch on; it is put back on, as a process starts, afterwards.
class SettingEntryTest : public ::testing::Test {
   protected:
    SettingEntryTest() { app.SetRegistryKey(u"ZBEngine"); }
    void SetUp() override { CRegEntry::SetWriteBack(false); }
    void TearDown() override { CRegEntry::SetWriteBack(true); }

    // A section list with one section of these keys.
    void Section(LPCWSTR name, const KeyList& keys) {
        AddSection(list, name);
        for (const auto& [key, value] : keys)
            list.Section(FindSection(list, name)).m_Keys.Add({0, u"", key, value});
    }
    std::optional<CString> Stored(LPCWSTR section, LPCWSTR key) {
        CString value = app.GetProfileString(section, key, u"<none>");
        return value == u"<none>" ? std::nullopt : std::optional<CString>(value);
    }
    int StoredInt(LPCWSTR section, LPCWSTR key) {
        return static_cast<int>(app.GetProfileInt(section, key, -999));
    }

    CTestRoot root;
    CWinApp app{u"zbengine"};
    CSectionList list;
};

TEST(WriteBackSwitchTest, StartsOn) {
    EXPECT_TRUE(CRegEntry::IsWriteBackOn());
}

TEST_F(SettingEntryTest, NumbersReadLikeTheRuntimeAndNamesBoundThem) {
    struct Case {
        bool named;
        std::optional<std::u16string> text;  // none: the key is missing
        int expected;
    } cases[] = {
        {true, u"5", 1},          {true, u"1", 1},
        {true, u"0", 0},          {true, u"abc", 0},
        {true, u"-1", 1},         {true, std::nullopt, 1},
        {false, u"-3", -3},       {false, u" 42xyz", 42},
        {false, u"abc", 0},       {false, u"99999999999", INT_MAX},
        {false, std::nullopt, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? zbw::ToUtf8(*c.text) : std::string("missing"));
        FreeSections(list);
        Section(u"Settings", c.text ? KeyList{{u"Lock Source", *c.text}} : KeyList{});
        CPerInt entry;
        entry.Declare(u"Settings", u"Lock Source", 1);
        if (c.named) {
            EXPECT_EQ(entry.AddValueName(u"No"), 0);
            EXPECT_EQ(entry.AddValueName(u"Yes"), 1);
        }
        entry.LoadEntry(list);
        EXPECT_EQ(entry.GetValue(), c.expected);
        EXPECT_EQ(entry.GetWriteValue(), c.expected);
    }
}

TEST_F(SettingEntryTest, InitialValuesComeFromTheApplicationProfile) {
    app.WriteProfileString(u"Settings", u"Connect user", u"anna");
    app.WriteProfileInt(u"Settings", u"Speed", 7);
    CPerString user;
    CPerString password;
    CPerInt speed;
    CPerInt buffer;
    user.Declare(u"Settings", u"Connect user", u"");
    password.Declare(u"Settings", u"Connect password", u"100110");
    speed.Declare(u"Settings", u"Speed", 100);
    buffer.SetUseAppProfile(false);
    app.WriteProfileInt(u"Settings", u"Copy Buffer", 1);
    buffer.Declare(u"Settings", u"Copy Buffer", 32768);
    EXPECT_EQ(user.GetValue(), u"anna");
    EXPECT_EQ(password.GetValue(), u"100110");
    EXPECT_EQ(speed.GetValue(), 7);
    EXPECT_EQ(buffer.GetValue(), 32768);
    EXPECT_TRUE(user.IsDeclared());

    // A profile without the keys gives the coded defaults, not the registry's values.
    Section(u"Settings", {});
    user.LoadEntry(list);
    speed.LoadEntry(list);
    EXPECT_EQ(user.GetValue(), u"");
    EXPECT_EQ(speed.GetValue(), 100);
}

TEST_F(SettingEntryTest, WriteBackOnlyWhileTheSwitchIsOn) {
    for (bool on : {false, true}) {
        SCOPED_TRACE(on ? "on" : "off");
        CRegEntry::SetWriteBack(on);
        {
            FreeSections(list);
            Section(u"Settings", {{u"Log File", u"C:\\zb.log"}, {u"Speed", u"50"}});
            Section(u"Filters", {{u"Num. of Filters", u"1"}, {u"Filter 0", u"*.tmp"}});
            CPerFile log;
            CPerInt speed;
            CPerList filters;
            CPerString undeclared;
            CPerString notFromProfile;
            log.Declare(u"Settings", u"Log File", u"");
            speed.Declare(u"Settings", u"Speed", 100);
            filters.Declare(u"Filters");
            notFromProfile.SetUseAppProfile(false);
            notFromProfile.Declare(u"Settings", u"Other", u"x");
            log.LoadEntry(list);
            speed.LoadEntry(list);
            filters.LoadEntry(list);
        }
        EXPECT_EQ(Stored(u"Settings", u"Log File"),
                  on ? std::optional<CString>(u"C:\\zb.log") : std::nullopt);
        EXPECT_EQ(StoredInt(u"Settings", u"Speed"), on ? 50 : -999);
        EXPECT_EQ(StoredInt(u"Filters", u"Filtern"), on ? 1 : -999);
        EXPECT_EQ(Stored(u"Filters", u"Filter0"), on ? std::optional<CString>(u"*.tmp") : std::nullopt);
        EXPECT_EQ(Stored(u"Settings", u"Other"), std::nullopt);
    }
}

TEST_F(SettingEntryTest, ListsComeFromTheProfileInIndexOrder) {
    struct Case {
        const char* name;
        KeyList keys;
        std::vector<std::u16string> expected;
    } cases[] = {
        {"gaps", {{u"Num. of Filters", u"3"}, {u"Filter 2", u"c"}, {u"Filter 0", u"a"}}, {u"a", u"c"}},
        {"count bounds", {{u"Num. of Filters", u"1"}, {u"Filter 0", u"a"}, {u"Filter 1", u"b"}}, {u"a"}},
        {"no count", {{u"Filter 0", u"a"}}, {}},
        {"first of equal keys",
         {{u"Num. of Filters", u"1"}, {u"Filter 0", u"a"}, {u"Filter 0", u"b"}},
         {u"a"}},
        {"exact names",
         {{u"Num. of Filters", u"9"}, {u"Filter 01", u"a"}, {u"Filter -1", u"b"}, {u"filter 2", u"c"}},
         {}},
        {"huge count",
         {{u"Num. of Filters", u"2000000000"}, {u"Filter 1999999999", u"z"}, {u"Filter 3", u"d"}},
         {u"d", u"z"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreeSections(list);
        Section(u"Filters", c.keys);
        CPerList filters;
        filters.SetInUse(false);
        filters.Declare(u"Filters");
        filters.LoadEntry(list);
        EXPECT_EQ(filters.GetSize(), 0) << "a list not in use reads nothing";
        filters.SetInUse(true);
        for (int round = 0; round < 2; ++round) {
            filters.LoadEntry(list);
            ASSERT_EQ(filters.GetSize(), static_cast<INT_PTR>(c.expected.size())) << "round " << round;
            for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(filters[i], CString(c.expected[i]));
        }
    }
}

TEST_F(SettingEntryTest, ListInitialItemsComeFromTheApplicationProfile) {
    app.WriteProfileInt(u"Filters", u"Filtern", 2);
    app.WriteProfileString(u"Filters", u"Filter0", u"Include");
    app.WriteProfileInt(u"FiltersDirs", u"Filtern", 100000);
    CPerList filters;
    CPerList dirs;
    filters.Declare(u"Filters");
    dirs.Declare(u"FiltersDirs");
    ASSERT_EQ(filters.GetSize(), 2);
    EXPECT_EQ(filters[0], u"Include");
    EXPECT_EQ(filters[1], u" ");
    EXPECT_EQ(dirs.GetSize(), CPerList::MaxItems);

    Section(u"Filters", {{u"Num. of Filters", u"1"}, {u"Filter 0", u"Exclude"}});
    filters.LoadEntry(list);
    ASSERT_EQ(filters.GetSize(), 1) << "the profile's items replace the initial ones";
    EXPECT_EQ(filters[0], u"Exclude");
}

TEST_F(SettingEntryTest, StringValuesAreCutToTheLineLimit) {
    Section(u"Settings", {{u"Source Folder", std::u16string(20000, u'a')}});
    CPerDirAndSnapshot source;
    source.Declare(u"Settings", u"Source Folder", u"");
    source.LoadEntry(list);
    EXPECT_EQ(source.GetValue().GetLength(), CSectionFileReader::MaxLine);
}

TEST_F(SettingEntryTest, FlagStringsSplitAndSetTheirFirstFlag) {
    struct Case {
        std::u16string text;
        std::vector<DWORD> flags;
        std::u16string afterSetFirst;
    } cases[] = {
        {u"1|0|1", {1, 0, 1}, u"1|0|1"},       {u"0|1", {0, 1}, u"1|1"},       {u"", {}, u"1"},
        {u"yes| 1 |10|", {0, 1, 0}, u"1|1|0"}, {u"0||1", {0, 0, 1}, u"1|0|1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text));
        CPerStringOfBools bools;
        bools.SetValue(c.text);
        bools.SplitValues();
        ASSERT_EQ(bools.GetFlags().GetSize(), static_cast<INT_PTR>(c.flags.size()));
        for (size_t i = 0; i < c.flags.size(); ++i) EXPECT_EQ(bools.GetFlags()[i], c.flags[i]);
        bools.SetFirstFlag();
        EXPECT_EQ(bools.GetValue(), CString(c.afterSetFirst));
        EXPECT_EQ(bools.GetFlags()[0], 1u);
    }
}

TEST_F(SettingEntryTest, StoringWritesKeysWithTheirComments) {
    ASSERT_TRUE(AddSection(list, u"KeyType"));
    CPerString user;
    CPerInt lock;
    CPerInt speed;
    CPerList filters;
    user.Declare(u"Settings", u"Connect user", u"bob");
    lock.Declare(u"Settings", u"Lock Source", 1);
    lock.AddValueName(u"No");
    lock.AddValueName(u"Yes");
    speed.Declare(u"Settings", u"Speed", 100);
    filters.Declare(u"Filters");
    filters.Add(u"Include");
    filters.Add(u"*.doc");
    user.LoadEntry(list, true);
    lock.LoadEntry(list, true);
    speed.LoadEntry(list, true);
    filters.LoadEntry(list, true);

    CString value;
    CString comment;
    ASSERT_TRUE(ReadKey(list, u"Settings", u"Connect user", &value, &comment));
    EXPECT_EQ(value, u"bob");
    EXPECT_EQ(comment, u"; ******* ");
    ASSERT_TRUE(ReadKey(list, u"Settings", u"Lock Source", &value, &comment));
    EXPECT_EQ(value, u"1");
    EXPECT_EQ(comment, u"; ******* values for Lock Source: (0=No) (1=Yes)");
    ASSERT_TRUE(ReadKey(list, u"Settings", u"Speed", &value, &comment));
    EXPECT_EQ(value, u"100");
    EXPECT_EQ(comment, u"");
    ASSERT_TRUE(ReadKey(list, u"Filters", u"Num. of Filters", &value));
    EXPECT_EQ(value, u"2");
    ASSERT_TRUE(ReadKey(list, u"Filters", u"Filter 1", &value));
    EXPECT_EQ(value, u"*.doc");
    EXPECT_EQ(list.GetSize(), 3) << "sections are added once, in the order of their first entry";
    EXPECT_EQ(list.Section(1).m_strName, u"Settings");
    EXPECT_EQ(list.Section(0).m_Keys.GetSize(), 6) << "every written key is recorded in KeyType";
}

TEST_F(SettingEntryTest, UndeclaredEntriesAreNeitherReadNorWritten) {
    Section(u"Settings", {{u"Speed", u"5"}});
    CPerInt speed;
    CPerString user;
    speed.LoadEntry(list);
    user.LoadEntry(list, true);
    EXPECT_EQ(speed.GetValue(), 0);
    EXPECT_EQ(list.Section(0).m_Keys.GetSize(), 1);
}

TEST_F(SettingEntryTest, AssignmentCopiesValuesButNotTheDeclaration) {
    CRegEntry::SetWriteBack(true);
    CPerDirAndSnapshot source(true, 3);
    source.Declare(u"Settings", u"Source Folder", u"C:\\a");
    source.SetLabel(u"Source");
    source.SetFlag(0, true);
    {
        CPerDirAndSnapshot copy;
        copy = source;
        EXPECT_EQ(copy.GetValue(), u"C:\\a");
        EXPECT_EQ(copy.GetKey(), u"Source Folder");
        EXPECT_EQ(copy.GetLabel(), u"Source");
        EXPECT_TRUE(copy.GetFlag(0));
        EXPECT_TRUE(copy.IsSnapshot());
        EXPECT_EQ(copy.GetSnapshotNumber(), 3);
        EXPECT_FALSE(copy.IsDeclared());

        CPerDirAndSnapshot folderOnly;
        folderOnly = static_cast<const CPerDir&>(source);
        EXPECT_EQ(folderOnly.GetValue(), u"C:\\a");
        EXPECT_FALSE(folderOnly.IsSnapshot());
    }
    EXPECT_EQ(Stored(u"Settings", u"Source Folder"), std::nullopt) << "copies never write back";
}

TEST_F(SettingEntryTest, FlagsStartAsDocumentedAndCheckTheirIndex) {
    CPerDir dir;
    CPerFile file;
    const bool dirFlags[] = {false, false, true, true, false};
    for (int i = 0; i < CPerDir::FlagCount; ++i) EXPECT_EQ(dir.GetFlag(i), dirFlags[i]) << i;
    EXPECT_FALSE(file.GetFlag(0));
    EXPECT_FALSE(file.GetFlag(1));
    EXPECT_THROW(dir.GetFlag(5), CInvalidArgException);
    EXPECT_THROW(file.SetFlag(2, true), CInvalidArgException);
    file.SetPath(u"C:\\p.fsf");
    EXPECT_EQ(file.GetValue(), u"C:\\p.fsf");
}

TEST_F(SettingEntryTest, RevertToLoadedKeepsNamedNumbersInRange) {
    CPerInt priority;
    priority.SetUseAppProfile(false);
    priority.Declare(u"Settings", u"Priority Class", 1);
    for (LPCWSTR name : {u"Default", u"Idle (recommended)", u"Low"}) priority.AddValueName(name);
    priority.SetValue(12);
    priority.RevertToLoaded();
    EXPECT_EQ(priority.GetValue(), 1);
    EXPECT_EQ(priority.GetWriteValue(), 1);
    EXPECT_EQ(priority.GetValueName(2), u"Low");
    EXPECT_THROW(priority.GetValueName(3), CInvalidArgException);
}

}  // namespace
