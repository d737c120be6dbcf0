// CLaunchItem and its ITEM element: reading, repairs, writing back, failures; fakes nothing.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "common/TextUtils.h"
#include "common/XMLFile.h"
#include "dovrane/LaunchArray.h"
#include "dovrane/threads/LaunchItem.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/dovrane/ScheduleTestEnv.h"

// So failures show the item as its ITEM text.
void PrintTo(const CLaunchItem& item, std::ostream* os) {
    *os << zbw::ToUtf8(item.ToXmlText()) << " start text \"" << zbw::ToUtf8(item.m_schedule.strStartTime)
        << "\"";
}

namespace {

const CString kDeclaration = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n";

CString Wrapped(const CString& children) {
    return u"<SETTINGS><ITEM>" + children + u"</ITEM></SETTINGS>";
}

// What a bare <PROFILE>p</PROFILE> item reads as.
CLaunchItem PlainItem() {
    CLaunchItem item;
    item.m_strProfile = u"p";
    item.m_strCategory = u"Unfiled";
    item.m_nEnabled = 1;
    return item;
}

// The clock's minute: the start an interval without STARTTIME gets.
const COleDateTime kNowMinute(2024, 3, 5, 10, 7, 0);

std::string Utf16Le(const CString& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t ch : text.GetStdString()) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

CString Settings(const CString& items) {
    return kDeclaration + u"<SETTINGS>\r\n" + items + u"</SETTINGS>\r\n";
}

CString Item(LPCWSTR profile) {
    return CString(u"<ITEM><PROFILE>") + profile + u"</PROFILE><EVERYDAY/></ITEM>\r\n";
}

class LaunchItemTest : public zbtest::CScheduleTest {
   protected:
    CString PathOf(const char* name) const { return zbw::ToWindowsPath(m_root.Path(name)); }
    void WriteSettings(const char* name, const CString& text) const {
        ASSERT_TRUE(WriteHostFile(m_root.Path(name), Utf16Le(text)));
    }
};

}  // namespace

TEST_F(LaunchItemTest, EveryElementIsReadNormalisedAndWrittenBackInOrder) {
    const CString children =
        u"<DISABLEDATSTARTUP/><PING/><PROFILEAFTER_NOTONERROR/><PROFILEAFTER> next.fsf </PROFILEAFTER>"
        u"<ASAVAILABLE>Weekly</ASAVAILABLE><MONITORTARGET/><MONITORSOURCE/><ASSOONASCHANGED/><ONLYIFCHANGED/>"
        u"<RUNMISSED/><MAX_RERUN>4</MAX_RERUN><ONERROR_RERUN>10</ONERROR_RERUN>"
        u"<EXCLUDEDAYOFWEEK>sunday, SAT</EXCLUDEDAYOFWEEK><STARTTIME>3/5/2024 6:00:45 AM</STARTTIME>"
        u"<EVERYHOUR>2</EVERYHOUR><STARTUP/><CATEGORY> Backups </CATEGORY>"
        u"<DESCRIPTION> Nightly &amp; safe </DESCRIPTION><PROFILE> C:\\Profiles\\a.fsf </PROFILE>";
    CLaunchItem item;
    ASSERT_TRUE(item.FromXmlText(Wrapped(children)));

    CLaunchItem expected;
    expected.m_strProfile = u"C:\\Profiles\\a.fsf";
    expected.m_strDescription = u"Nightly & safe";
    expected.m_strCategory = u"Backups";
    expected.m_nStartup = 1;
    expected.m_schedule.nEveryHour = 2;
    expected.m_schedule.dtStart = COleDateTime(2024, 3, 5, 6, 0, 0);
    expected.m_schedule.nExcludeDays = EXCLUDE_SUNDAY | EXCLUDE_SATURDAY;
    expected.m_schedule.strStartTime = u"3/5/2024 6:00:45 AM";
    expected.m_nOnErrorRerun = 10;
    expected.m_nMaxRerun = 4;
    expected.m_nRunMissed = 1;
    expected.m_nAsSoonAsChanged = 1;  // wins over only-if-changed
    expected.m_nMonitor = MONITOR_SOURCE | MONITOR_TARGET;
    expected.m_nAsAvailable = 3;
    expected.m_nAsAvailableFrequency = ASAVAILABLE_WEEKLY;
    expected.m_strProfileAfter = u"next.fsf";
    expected.m_bNotOnError = true;
    expected.m_nPing = 1;
    expected.m_nEnabled = 0;
    EXPECT_EQ(item, expected);

    const CString written =
        u"<ITEM>\r\n<PROFILE>C:\\Profiles\\a.fsf</PROFILE>\r\n<DESCRIPTION>Nightly &amp; "
        u"safe</DESCRIPTION>\r\n"
        u"<CATEGORY>Backups</CATEGORY>\r\n<STARTUP/>\r\n<EVERYHOUR>2</EVERYHOUR>\r\n"
        u"<STARTTIME>3/5/2024 06:00 AM</STARTTIME>\r\n<EXCLUDEDAYOFWEEK>Sun, Sat</EXCLUDEDAYOFWEEK>\r\n"
        u"<ONERROR_RERUN>10</ONERROR_RERUN>\r\n<MAX_RERUN>4</MAX_RERUN>\r\n<RUNMISSED/>\r\n<ASSOONASCHANGED/"
        u">\r\n"
        u"<MONITORSOURCE/>\r\n<MONITORTARGET/>\r\n<ASAVAILABLE>weekly</ASAVAILABLE>\r\n"
        u"<PROFILEAFTER>next.fsf</PROFILEAFTER>\r\n<PROFILEAFTER_NOTONERROR/>\r\n<PING/"
        u">\r\n<DISABLEDATSTARTUP/>\r\n"
        u"</ITEM>\r\n";
    EXPECT_EQ(item.ToXmlText(), written);

    // The written text reads back as the same item, start text aside, and writes the same again.
    CLaunchItem again;
    ASSERT_TRUE(again.FromXmlText(u"<SETTINGS>" + written + u"</SETTINGS>"));
    expected.m_schedule.strStartTime = u"3/5/2024 06:00 AM";
    EXPECT_EQ(again, expected);
    EXPECT_EQ(again.ToXmlText(), written);
}

TEST_F(LaunchItemTest, StartTimeIsWrittenInTheLocaleShortForm) {
    UseLocale("de-DE");
    CLaunchItem item;
    ASSERT_TRUE(
        item.FromXmlText(Wrapped(u"<PROFILE>p</PROFILE><EVERYDAY/><STARTTIME>05.03.2024 14:30</STARTTIME>")));
    EXPECT_EQ(item.m_schedule.dtStart, COleDateTime(2024, 3, 5, 14, 30, 0));
    EXPECT_EQ(item.ToXmlText(),
              u"<ITEM>\r\n<PROFILE>p</PROFILE>\r\n<EVERYDAY/>\r\n<STARTTIME>05.03.2024 "
              u"14:30</STARTTIME>\r\n</ITEM>\r\n");
    CLaunchItem again;
    ASSERT_TRUE(again.FromXmlText(u"<SETTINGS>" + item.ToXmlText() + u"</SETTINGS>"));
    EXPECT_EQ(again.m_schedule.dtStart, item.m_schedule.dtStart);
}

TEST_F(LaunchItemTest, ReadingRepairsValues) {
    const struct {
        const char* what;
        CString children;
        std::function<void(CLaunchItem&)> change;  // applied to PlainItem()
    } cases[] = {
        {"bare profile", u"<PROFILE>p</PROFILE>", [](CLaunchItem&) {}},
        {"empty count is 1", u"<PROFILE>p</PROFILE><EVERYMINUTE/>",
         [](CLaunchItem& i) {
             i.m_schedule.nEveryMinute = 1;
             i.m_schedule.dtStart = kNowMinute;
         }},
        {"0 is 1", u"<PROFILE>p</PROFILE><EVERYMINUTE>0</EVERYMINUTE>",
         [](CLaunchItem& i) {
             i.m_schedule.nEveryMinute = 1;
             i.m_schedule.dtStart = kNowMinute;
         }},
        {"x is 1", u"<PROFILE>p</PROFILE><EVERYHOUR>x</EVERYHOUR>",
         [](CLaunchItem& i) {
             i.m_schedule.nEveryHour = 1;
             i.m_schedule.dtStart = kNowMinute;
         }},
        {"negative is manual", u"<PROFILE>p</PROFILE><EVERYMINUTE>-5</EVERYMINUTE>", [](CLaunchItem&) {}},
        {"days win over hours", u"<PROFILE>p</PROFILE><EVERYHOUR>3</EVERYHOUR><EVERYDAY>2</EVERYDAY>",
         [](CLaunchItem& i) {
             i.m_schedule.nEveryDay = 2;
             i.m_schedule.dtStart = kNowMinute;
         }},
        {"no interval loses start and only-if",
         u"<PROFILE>p</PROFILE><STARTTIME>3/5/2024 6:00 AM</STARTTIME><ONLYIFCHANGED/><MONITORSOURCE/>",
         [](CLaunchItem& i) { i.m_schedule.strStartTime = u"3/5/2024 6:00 AM"; }},
        {"unparsable start", u"<PROFILE>p</PROFILE><EVERYDAY/><STARTTIME>soon</STARTTIME>",
         [](CLaunchItem& i) {
             i.m_schedule.nEveryDay = 1;
             i.m_schedule.dtStart = kNowMinute;
             i.m_schedule.strStartTime = u"soon";
         }},
        {"monitor without trigger dropped", u"<PROFILE>p</PROFILE><MONITORSOURCE/>", [](CLaunchItem&) {}},
        {"trigger without monitor dropped", u"<PROFILE>p</PROFILE><ASSOONASCHANGED/>", [](CLaunchItem&) {}},
        {"monitored only-if", u"<PROFILE>p</PROFILE><EVERYHOUR/><ONLYIFCHANGED/><MONITORTARGET/>",
         [](CLaunchItem& i) {
             i.m_schedule.nEveryHour = 1;
             i.m_schedule.dtStart = kNowMinute;
             i.m_nOnlyIfChanged = 1;
             i.m_nMonitor = MONITOR_TARGET;
         }},
        {"weekday words anywhere",
         u"<PROFILE>p</PROFILE><EXCLUDEDAYOFWEEK>sunsat, Monday, Funday</EXCLUDEDAYOFWEEK>",
         [](CLaunchItem& i) {
             i.m_schedule.nExcludeDays = EXCLUDE_SUNDAY | EXCLUDE_SATURDAY | EXCLUDE_MONDAY;
         }},
        {"empty as-available", u"<PROFILE>p</PROFILE><ASAVAILABLE/>",
         [](CLaunchItem& i) { i.m_nAsAvailable = 3; }},
        {"later frequency wins", u"<PROFILE>p</PROFILE><ASAVAILABLE>hourly or daily</ASAVAILABLE>",
         [](CLaunchItem& i) {
             i.m_nAsAvailable = 3;
             i.m_nAsAvailableFrequency = ASAVAILABLE_DAILY;
         }},
        {"not-on-error needs a name", u"<PROFILE>p</PROFILE><PROFILEAFTER_NOTONERROR/>", [](CLaunchItem&) {}},
        {"rerun 0 is 1, max read",
         u"<PROFILE>p</PROFILE><ONERROR_RERUN>0</ONERROR_RERUN><MAX_RERUN>3</MAX_RERUN>",
         [](CLaunchItem& i) {
             i.m_nOnErrorRerun = 1;
             i.m_nMaxRerun = 3;
         }},
        {"max without rerun ignored", u"<PROFILE>p</PROFILE><MAX_RERUN>3</MAX_RERUN>", [](CLaunchItem&) {}},
        {"empty category stays empty", u"<PROFILE>p</PROFILE><CATEGORY/>",
         [](CLaunchItem& i) { i.m_strCategory.Empty(); }},
        {"first of two profiles", u"<PROFILE>p</PROFILE><PROFILE>q</PROFILE>", [](CLaunchItem&) {}},
        {"unknown children ignored", u"<COLOUR>red</COLOUR><PROFILE>p</PROFILE>", [](CLaunchItem&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CLaunchItem item, expected = PlainItem();
        c.change(expected);
        ASSERT_TRUE(item.FromXmlText(Wrapped(c.children)));
        EXPECT_EQ(item, expected);
    }
}

TEST_F(LaunchItemTest, WriterWritesWhatIsSetInOrder) {
    const struct {
        std::function<void(CLaunchItem&)> change;  // applied to PlainItem()
        CString children;                          // between <PROFILE>p</PROFILE> and </ITEM>
    } cases[] = {
        {[](CLaunchItem&) {}, u""},
        {[](CLaunchItem& i) { i.m_strCategory = u"UNFILED"; }, u""},
        {[](CLaunchItem& i) { i.m_strCategory = u"a<b"; }, u"<CATEGORY>a&lt;b</CATEGORY>\r\n"},
        {[](CLaunchItem& i) {
             i.m_schedule.nEveryMinute = 1;
             i.m_schedule.dtStart = COleDateTime(2024, 3, 5, 14, 30, 0);
         },
         u"<EVERYMINUTE/>\r\n<STARTTIME>3/5/2024 02:30 PM</STARTTIME>\r\n"},
        {[](CLaunchItem& i) { i.m_schedule.nEveryMinute = 5; }, u"<EVERYMINUTE>5</EVERYMINUTE>\r\n"},
        // Flags that a read never leaves together are still written in their order.
        {[](CLaunchItem& i) {
             i.m_nRunMissed = i.m_nOnlyIfChanged = i.m_nAsSoonAsChanged = 1;
             i.m_nMonitor = MONITOR_TARGET;
         },
         u"<RUNMISSED/>\r\n<ONLYIFCHANGED/>\r\n<ASSOONASCHANGED/>\r\n<MONITORTARGET/>\r\n"},
        {[](CLaunchItem& i) { i.m_nAsAvailable = 3; }, u"<ASAVAILABLE/>\r\n"},
        {[](CLaunchItem& i) {
             i.m_nAsAvailable = 3;
             i.m_nAsAvailableFrequency = ASAVAILABLE_HOURLY;
         },
         u"<ASAVAILABLE>hourly</ASAVAILABLE>\r\n"},
        {[](CLaunchItem& i) {
             i.m_nAsAvailable = 1;
             i.m_nAsAvailableFrequency = ASAVAILABLE_DAILY;
         },
         u"<ASAVAILABLE>daily</ASAVAILABLE>\r\n"},
        {[](CLaunchItem& i) { i.m_nMaxRerun = 2; }, u"<MAX_RERUN>2</MAX_RERUN>\r\n"},
    };
    for (const auto& c : cases) {
        CLaunchItem item = PlainItem();
        c.change(item);
        EXPECT_EQ(item.ToXmlText(), u"<ITEM>\r\n<PROFILE>p</PROFILE>\r\n" + c.children + u"</ITEM>\r\n");
    }
    EXPECT_EQ(CLaunchItem().ToXmlText(), u"<ITEM>\r\n<PROFILE/>\r\n<DISABLEDATSTARTUP/>\r\n</ITEM>\r\n");
}

TEST_F(LaunchItemTest, ReadFailuresAndTheirTexts) {
    const struct {
        CString text;
        CString error;
    } cases[] = {
        {Wrapped(u"<DESCRIPTION>d</DESCRIPTION>"), u"<PROFILE> tag not found."},
        {Wrapped(u"<PROFILE>  </PROFILE><EVERYDAY/>"), u"<PROFILE> tag empty, missing profile name"},
        {u"<SETTINGS><OTHER/></SETTINGS>", u""},
        {u"not xml", u""},
    };
    for (const auto& c : cases) {
        CMarkup xml;
        xml.SetDocument(c.text);
        CLaunchItem item;
        CString error = u"stale";
        EXPECT_FALSE(item.ReadXml(xml, &error));
        EXPECT_EQ(error, c.error);
    }
}

TEST_F(LaunchItemTest, ItemTextNeedsTheSettingsWrapper) {
    CLaunchItem item = PlainItem();
    item.m_schedule.nEveryDay = 2;
    item.m_schedule.dtStart = COleDateTime(2024, 3, 5, 6, 0, 0);
    item.m_schedule.strStartTime = FormatDateTimeShort(item.m_schedule.dtStart);
    const CString text = item.ToXmlText();
    CLaunchItem parsed;
    EXPECT_FALSE(parsed.FromXmlText(text));  // the ITEM is the root
    ASSERT_TRUE(parsed.FromXmlText(u"<SETTINGS>" + text + u"</SETTINGS>"));
    EXPECT_EQ(parsed, item);
    ASSERT_TRUE(parsed.FromXmlText(u"<settings>" + text + u"</settings>"));  // names match in any case
    EXPECT_EQ(parsed, item);
}

TEST_F(LaunchItemTest, Validate) {
    const struct {
        std::function<void(CLaunchItem&)> change;
        CString error;
    } cases[] = {
        {[](CLaunchItem&) {}, u"stale"},
        {[](CLaunchItem& i) { i.m_strProfile.Empty(); }, u"Missing profile name. "},
        {[](CLaunchItem& i) { i.m_nMonitor = MONITOR_SOURCE; },
         u"Invalid MONITORSOURCE or MONITORTARGET element."},
        {[](CLaunchItem& i) { i.m_nOnlyIfChanged = 1; }, u"Invalid MONITORSOURCE or MONITORTARGET element."},
        {[](CLaunchItem& i) { i.m_strProfileAfter = u"P"; },
         u"Profile name and run after profile are the same."},
        {[](CLaunchItem& i) {
             i.m_nMonitor = MONITOR_SOURCE;
             i.m_nAsSoonAsChanged = 1;
             i.m_strProfileAfter = u"other";
         },
         u"stale"},
    };
    for (const auto& c : cases) {
        CLaunchItem item = PlainItem();
        c.change(item);
        CString error = u"stale";
        EXPECT_EQ(item.Validate(&error), c.error == u"stale");
        EXPECT_EQ(error, c.error);
    }
}

TEST_F(LaunchItemTest, LoadFallsBackToBakThenToAnEmptyDocument) {
    const CString path = PathOf("settings.xml");
    CLaunchArray items;
    CXMLFile file;
    CString error;

    EXPECT_EQ(items.Load(path, file, error), CLaunchArray::LOAD_OK);  // neither file
    EXPECT_EQ(items.GetSize(), 0);
    EXPECT_EQ(file.GetMarkup().GetDoc(), kDeclaration + u"<SETTINGS/>\r\n");

    WriteSettings("settings.xml.bak", Settings(Item(u"from bak")));
    EXPECT_EQ(items.Load(path, file, error), CLaunchArray::LOAD_OK);
    ASSERT_EQ(items.GetSize(), 1);
    EXPECT_EQ(items[0].m_strProfile, u"from bak");

    WriteSettings("settings.xml", u"<SETTINGS><ITEM>");  // damaged: the copy stands in
    CLaunchArray again;
    EXPECT_EQ(again.Load(path, file, error), CLaunchArray::LOAD_OK);
    ASSERT_EQ(again.GetSize(), 1);
    EXPECT_EQ(again[0].m_strProfile, u"from bak");

    WriteSettings("settings.xml", kDeclaration + u"<CONFIG>" + Item(u"x") + u"</CONFIG>");
    CLaunchArray none;
    EXPECT_EQ(none.Load(path, file, error), CLaunchArray::LOAD_OK);
    EXPECT_EQ(none.GetSize(), 0);
    EXPECT_EQ(file.GetMarkup().GetDoc(), kDeclaration + u"<SETTINGS/>\r\n");
}

TEST_F(LaunchItemTest, RefusedItemStopsTheLoad) {
    WriteSettings("settings.xml", Settings(Item(u"one") + Item(u"two") +
                                           u"<ITEM><PROFILE></PROFILE></ITEM>\r\n" + Item(u"four")));
    CLaunchArray items;
    CXMLFile file;
    CString error;
    testing::internal::CaptureStdout();
    int result = items.Load(PathOf("settings.xml"), file, error);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, CLaunchArray::LOAD_ITEM_REFUSED);
    EXPECT_EQ(error, u"<PROFILE> tag empty, missing profile name");
    EXPECT_EQ(printed, "<PROFILE> tag empty, missing profile name\n");
    ASSERT_EQ(items.GetSize(), 2);
    EXPECT_EQ(items[0].m_strProfile, u"one");
    EXPECT_EQ(items[1].m_strProfile, u"two");
}

TEST_F(LaunchItemTest, SaveWritesTheItemsWhereTheCallerStands) {
    CLaunchArray items;
    CLaunchItem a = PlainItem(), b = PlainItem();
    a.m_strProfile = u"a";
    b.m_strProfile = u"b";
    b.m_nEnabled = 0;
    items.Add(a);
    items.Add(b);
    // As the settings file does: a new document with SETTINGS and its own elements first.
    CXMLFile file;
    CMarkup& xml = file.GetMarkup();
    xml.SetDocument(kDeclaration);
    xml.AddElement(u"SETTINGS");
    xml.IntoElement();
    xml.AddElement(u"TCPIP");
    CString error;
    ASSERT_EQ(items.Save(file, PathOf("settings.xml"), error), CLaunchArray::SAVE_OK);

    CLaunchArray loaded;
    CXMLFile other;
    ASSERT_EQ(loaded.Load(PathOf("settings.xml"), other, error), CLaunchArray::LOAD_OK);
    ASSERT_EQ(loaded.GetSize(), 2);
    EXPECT_EQ(loaded[0], a);
    EXPECT_EQ(loaded[1], b);
    EXPECT_EQ(other.GetMarkup().GetDoc().Find(u"<TCPIP/>\r\n<ITEM>"), kDeclaration.GetLength() + 12);

    EXPECT_EQ(items.Save(file, PathOf("missing/settings.xml"), error), CLaunchArray::SAVE_NOT_WRITTEN);
    EXPECT_EQ(error, u"Unable to open XML file for saving settings");
}

TEST_F(LaunchItemTest, SaveRefusesWhenTheItemsFindNoPlace) {
    CLaunchArray items;
    items.Add(PlainItem());
    CXMLFile file;
    CString error;
    items.Load(PathOf("settings.xml"), file, error);  // SETTINGS current, not stepped into
    const CString before = file.GetMarkup().GetDoc();
    EXPECT_EQ(items.Save(file, PathOf("settings.xml"), error), CLaunchArray::SAVE_NOT_WRITTEN);
    EXPECT_EQ(error, u"Unable to add the ITEM elements to the XML document");
    EXPECT_EQ(file.GetMarkup().GetDoc(), before);
    EXPECT_TRUE(ReadHostFile(m_root.Path("settings.xml")).empty());
}
