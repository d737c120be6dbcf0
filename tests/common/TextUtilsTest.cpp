// Text, number and date formatting; fakes a temporary emulation root, the locale and a pinned wall clock.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>
#include <vector>

#include "common/RegExp.h"
#include "common/TextUtils.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/Time.h"
#include "tests/support/TestRoot.h"

namespace {

// UTC, with the wall clock pinned at 2024-03-05 14:30:00.
class TextUtilsTest : public ::testing::Test {
   protected:
    void SetUp() override {
        m_root.UseTimeZone("UTC");
        unsetenv("ZBW_LOCALE");
        zbw::PinWallClock(UtcMicros(2024, 3, 5, 14, 30, 0));
    }
    void UseLocale(const char* name) { m_root.UseLocale(name); }

    CTestRoot m_root;
};

const char* const kLocales[] = {"en-US", "de-DE"};

}  // namespace

TEST_F(TextUtilsTest, FormatNumberFollowsTheLocale) {
    const struct {
        ULONGLONG value;
        bool units;
        CString english, german;
    } cases[] = {
        {0, false, u"0", u"0"},
        {1234567, false, u"1,234,567", u"1.234.567"},
        {18446744073709551615ull, false, u"18,446,744,073,709,551,615", u"18.446.744.073.709.551.615"},
        {0, true, u"0", u"0"},
        {1, true, u"1B", u"1B"},
        {1023, true, u"1,023B", u"1.023B"},
        {1024, true, u"1.00KB", u"1,00KB"},
        {1536, true, u"1.50KB", u"1,50KB"},
        {1048575, true, u"1,024.00KB", u"1.024,00KB"},
        {1048576, true, u"1.00MB", u"1,00MB"},
        {1073741823, true, u"1,024.00MB", u"1.024,00MB"},
        {1073741824, true, u"1.00GB", u"1,00GB"},
        {5368709120ull, true, u"5.00GB", u"5,00GB"},
        {1099511627776ull, true, u"1,024.00GB", u"1.024,00GB"},
    };
    for (const auto& c : cases) {
        UseLocale("en-US");
        EXPECT_EQ(FormatNumber(c.value, c.units), c.english) << c.value;
        UseLocale("de-DE");
        EXPECT_EQ(FormatNumber(c.value, c.units), c.german) << c.value;
    }
}

TEST_F(TextUtilsTest, FormatDurationPicksTheLargestUnit) {
    const struct {
        UINT seconds;
        CString text;
    } cases[] = {
        {0, u"0 sec"},         {59, u"59 sec"},         {61, u"1 min 01 sec"}, {3599, u"59 min 59 sec"},
        {3600, u"1h 00m 00s"}, {90061, u"25h 01m 01s"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDuration(c.seconds), c.text) << c.seconds;
    EXPECT_EQ(IntToString(-42), u"-42");
}

TEST_F(TextUtilsTest, FormatTimeRelativeFlags) {
    const CTime now = CTime::GetCurrentTime();
    const CTimeSpan day(1, 0, 0, 0);
    const struct {
        CTime time;
        DWORD flags;
        CString english, german;
    } cases[] = {
        {now, 7, u"Today at 2:30:00 PM", u"Today at 14:30:00"},
        {now - day, 7, u"Yesterday at 2:30:00 PM", u"Yesterday at 14:30:00"},
        {now + day, 7, u"Tomorrow at 2:30:00 PM", u"Tomorrow at 14:30:00"},
        {now - day - day, 7, u"3/3/2024 2:30:00 PM", u"03.03.2024 14:30:00"},
        {now, 3, u"3/5/2024 2:30:00 PM", u"05.03.2024 14:30:00"},
        {now, 6, u"3/5/2024", u"05.03.2024"},  // relative names need the time part too
        {now, 2, u"3/5/2024", u"05.03.2024"},
        {now, 5, u"2:30:00 PM", u"14:30:00"},
        {now, 1, u"2:30:00 PM", u"14:30:00"},
        {now, 0, u"", u""},
        {CTime(-1), 7, u"Timestamp Error", u"Timestamp Error"},
    };
    for (const auto& c : cases) {
        UseLocale("en-US");
        EXPECT_EQ(FormatTimeRelative(c.time, c.flags), c.english) << c.flags;
        UseLocale("de-DE");
        EXPECT_EQ(FormatTimeRelative(c.time, c.flags), c.german) << c.flags;
    }
}

TEST_F(TextUtilsTest, FormatDateTimeRelativeMatchesTheTimeVersion) {
    COleDateTime now = COleDateTime::GetCurrentTime();
    EXPECT_EQ(FormatDateTimeRelative(now, 7), u"Today at 2:30:00 PM");
    EXPECT_EQ(FormatDateTimeRelative(now - COleDateTimeSpan(1, 0, 0, 0), 7), u"Yesterday at 2:30:00 PM");
    EXPECT_EQ(FormatDateTimeRelative(COleDateTime(2024, 3, 6, 0, 0, 0), 7), u"Tomorrow at 12:00:00 AM");
    EXPECT_EQ(FormatDateTimeRelative(COleDateTime(2023, 12, 31, 23, 59, 59), 3), u"12/31/2023 11:59:59 PM");

    COleDateTime invalid;
    invalid.SetStatus(COleDateTime::invalid);
    EXPECT_EQ(FormatDateTimeRelative(invalid, 7), u"Timestamp Error");
    // The locale cannot show years before 1601: the fixed numeric form stands in.
    EXPECT_EQ(FormatDateTimeRelative(COleDateTime(1500, 3, 4, 5, 6, 7), 3), u"04-03-00 05:06.07");
}

TEST_F(TextUtilsTest, FormatDateTimeShortUsesTheLocaleClock) {
    COleDateTime time(2024, 3, 5, 14, 30, 45);
    UseLocale("en-US");
    EXPECT_EQ(FormatDateTimeShort(time), u"3/5/2024 02:30 PM");
    UseLocale("de-DE");
    EXPECT_EQ(FormatDateTimeShort(time), u"05.03.2024 14:30");
}

TEST_F(TextUtilsTest, TruncateToMinuteDropsSecondsOnly) {
    COleDateTime time(2024, 3, 5, 10, 7, 59);
    TruncateToMinute(time);
    EXPECT_EQ(time, COleDateTime(2024, 3, 5, 10, 7, 0));
    TruncateToMinute(time);
    EXPECT_EQ(time, COleDateTime(2024, 3, 5, 10, 7, 0));

    COleDateTime invalid;
    invalid.SetStatus(COleDateTime::invalid);
    TruncateToMinute(invalid);
    EXPECT_EQ(invalid.GetStatus(), COleDateTime::invalid);
}

TEST_F(TextUtilsTest, MakeUtcBaseParsesOrFallsBackTo1971) {
    EXPECT_EQ(MakeUtcBase(u"2024-03-05 14:30:00").GetTime(), 1709649000);
    EXPECT_EQ(MakeUtcBase(u"3/5/2024 2:30:00 PM").GetTime(), 1709649000);
    EXPECT_EQ(MakeUtcBase(u"not a date").GetTime(), 31539661);  // 1971-01-01 01:01:01
    UseLocale("de-DE");
    EXPECT_EQ(MakeUtcBase(u"05.03.2024 14:30:00").GetTime(), 1709649000);
}

TEST_F(TextUtilsTest, HtmlEscapeCoversMarkupAndQuotes) {
    const struct {
        CString text, escaped;
    } cases[] = {
        {u"plain", u"plain"},
        {u"a<b>c", u"a&lt;b&gt;c"},
        {u"Tom & Jerry", u"Tom &amp; Jerry"},
        {u"say \"hi\"", u"say &quot;hi&quot;"},
        {u"&amp;", u"&amp;amp;"},
        {u"it's", u"it's"},
        {u"", u""},
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlEscape(c.text), c.escaped) << zbw::ToUtf8(c.text);
}

TEST_F(TextUtilsTest, WildcardToRegExpEscapesMetacharacters) {
    const struct {
        CString pattern, expression;
    } cases[] = {
        {u"10.0.0.*", u"10\\.0\\.0\\..*"},
        {u"192.168.?.1", u"192\\.168\\..\\.1"},
        {u"a+b(c)|[d]", u"a\\+b\\(c\\)\\|\\[d\\]"},
        {u"^x$\\", u"\\^x\\$\\\\"},
        {u"*", u".*"},
        {u"a***b", u"a.*b"},
        {u"*?*", u"..*"},
        {u"1?*?2?", u"1...*2."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardToRegExp(c.pattern), c.expression) << zbw::ToUtf8(c.pattern);
}

TEST_F(TextUtilsTest, WildcardFiltersMatchWholeAddressesWhenAnchored) {
    const struct {
        CString pattern, address;
        bool match;
    } cases[] = {
        {u"10.0.0.1", u"10.0.0.1", true},
        {u"10.0.0.1", u"10.0.0.10", false},
        {u"10.0.0.1", u"10x0x0x1", false},
        {u"10.0.0.*", u"10.0.0.77", true},
        {u"10.0.0.*", u"10.0.1.7", false},
        {u"192.168.?.1", u"192.168.5.1", true},
        {u"192.168.?.1", u"192.168.55.1", false},
        {u"192.168.?.1", u"192.168..1", false},
        {u"a+b", u"a+b", true},
        {u"a+b", u"aab", false},
        {u"(x)", u"(x)", true},
    };
    for (const auto& c : cases) {
        CString anchored = u"^(" + WildcardToRegExp(c.pattern) + u")$";
        REGEXP* prog = RegExpCompile(anchored);
        ASSERT_NE(prog, nullptr) << zbw::ToUtf8(anchored);
        EXPECT_EQ(RegExpMatch(prog, c.address) >= 0, c.match)
            << zbw::ToUtf8(c.pattern) << " " << zbw::ToUtf8(c.address);
        RegExpFree(prog);
    }
}

TEST_F(TextUtilsTest, ParseSectionHeader) {
    const struct {
        LPCWSTR line;
        bool header;
        CString name;
    } cases[] = {
        {u"[Main]", true, u"Main"},
        {u"  [Two words ] tail", true, u"Two words "},
        {u"\t[Tabbed]", true, u"Tabbed"},
        {u"[open", true, u"open"},
        {u"[]", true, u""},
        {u"key=[value]", false, u""},
        {u"", false, u""},
        {nullptr, false, u""},
    };
    for (const auto& c : cases) {
        CString name = u"stale";
        EXPECT_EQ(ParseSectionHeader(c.line, name), c.header);
        EXPECT_EQ(name, c.name);
    }
}

TEST_F(TextUtilsTest, TrimLineEndCutsOneLineBreakAndSpaces) {
    const struct {
        CString line, trimmed;
    } cases[] = {
        {u"abc  \r\n", u"abc"},
        {u"abc\n\n", u"abc\n"},
        {u"abc\r\r", u"abc\r"},
        {u"abc\n\r", u"abc\n"},
        {u"a b \t", u"a b \t"},
        {u"   ", u""},
        {u"", u""},
    };
    for (const auto& c : cases) {
        CString line = c.line;
        TrimLineEnd(line);
        EXPECT_EQ(line, c.trimmed);
    }
}
