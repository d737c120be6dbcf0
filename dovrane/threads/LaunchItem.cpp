#include "dovrane/threads/LaunchItem.h"

#include "common/TextUtils.h"
#include "dovrane/threads/NextRunTime.h"
#include "platform/base/WideChar.h"

namespace {

const char16_t kUnfiled[] = u"Unfiled";

// Children are looked up from the first one each time, so their order does not matter and the
// first of two like-named children counts. The markup is inside the ITEM.
class CItemReader {
   public:
    explicit CItemReader(CMarkup& xml) : m_xml(xml) {}

    bool Has(LPCWSTR name) { return Find(name); }
    bool Text(LPCWSTR name, CString& text) {
        if (!Find(name)) return false;
        text = m_xml.GetChildElementText();
        return true;
    }
    bool Trimmed(LPCWSTR name, CString& text) {
        if (!Text(name, text)) return false;
        text.Trim();
        return true;
    }
    // Leading digits; none and 0 read as 1. Absent: value unchanged.
    bool Count(LPCWSTR name, int& value) {
        CString text;
        if (!Text(name, text)) return false;
        value = _wtoi(text);
        if (value == 0) value = 1;
        return true;
    }

   private:
    bool Find(LPCWSTR name) {
        m_xml.OutOfElement();  // back out and in again rewinds to the first child
        m_xml.IntoElement();
        return m_xml.FindChildElement(name);
    }

    CMarkup& m_xml;
};

int ExcludedDays(CString text) {
    static const char16_t* const kDays[7] = {u"SUN", u"MON", u"TUE", u"WED", u"THU", u"FRI", u"SAT"};
    text.MakeUpper();
    int mask = 0;
    for (int i = 0; i < 7; ++i) {
        if (text.Find(kDays[i]) >= 0) mask |= 1 << i;
    }
    return mask;
}

int AsAvailableFrequency(CString text) {
    text.MakeUpper();
    int frequency = ASAVAILABLE_IMMEDIATELY;
    if (text.Find(u"HOURLY") >= 0) frequency = ASAVAILABLE_HOURLY;
    if (text.Find(u"DAILY") >= 0) frequency = ASAVAILABLE_DAILY;
    if (text.Find(u"WEEKLY") >= 0) frequency = ASAVAILABLE_WEEKLY;
    return frequency;
}

COleDateTime ParseStartTime(const CString& text) {
    COleDateTime start;
    if (!start.ParseDateTime(text)) return g_DateNone;
    TruncateToMinute(start);
    return start;
}

void ReadSchedule(CItemReader& reader, SCHEDULEINFO& schedule) {
    reader.Count(u"EVERYMINUTE", schedule.nEveryMinute);
    reader.Count(u"EVERYHOUR", schedule.nEveryHour);
    reader.Count(u"EVERYDAY", schedule.nEveryDay);
    if (reader.Text(u"STARTTIME", schedule.strStartTime))
        schedule.dtStart = ParseStartTime(schedule.strStartTime);
    CString days;
    if (reader.Text(u"EXCLUDEDAYOFWEEK", days)) schedule.nExcludeDays = ExcludedDays(days);
}

void AddFlag(CMarkup& xml, LPCWSTR name, bool set) {
    if (set) xml.AddElement(name);
}

// 1 is written as an empty element, which reads back as 1.
void AddCount(CMarkup& xml, LPCWSTR name, int count) {
    if (count <= 0) return;
    xml.AddElement(name, count == 1 ? CString() : IntToString(count));
}

void AddNumber(CMarkup& xml, LPCWSTR name, int value) {
    if (value > 0) xml.AddElement(name, IntToString(value));
}

void AddText(CMarkup& xml, LPCWSTR name, const CString& text) {
    if (!text.IsEmpty()) xml.AddElement(name, text);
}

CString AsAvailableText(int frequency) {
    switch (frequency) {
        case ASAVAILABLE_HOURLY: return u"hourly";
        case ASAVAILABLE_DAILY: return u"daily";
        case ASAVAILABLE_WEEKLY: return u"weekly";
        default: return CString();
    }
}

}  // namespace

CLaunchItem::CLaunchItem() {
    Reset();
}

void CLaunchItem::Reset() {
    m_strProfile.Empty();
    m_strDescription.Empty();
    m_strCategory.Empty();
    m_nStartup = 0;
    m_schedule = SCHEDULEINFO();
    m_nOnlyIfChanged = 0;
    m_nAsSoonAsChanged = 0;
    m_nOnErrorRerun = 0;
    m_nRunMissed = 0;
    m_nAsAvailable = 0;
    m_nAsAvailableFrequency = ASAVAILABLE_IMMEDIATELY;
    m_nMonitor = 0;
    m_strProfileAfter.Empty();
    m_bNotOnError = false;
    m_nMaxRerun = 0;
    m_nPing = 0;
    m_nEnabled = 0;
}

void CLaunchItem::Normalize() {
    SCHEDULEINFO& s = m_schedule;
    if (s.nEveryDay < 0) s.nEveryDay = 0;
    if (s.nEveryHour < 0) s.nEveryHour = 0;
    if (s.nEveryMinute < 0) s.nEveryMinute = 0;
    if (s.nEveryDay > 0) s.nEveryHour = s.nEveryMinute = 0;
    if (s.nEveryHour > 0) s.nEveryMinute = 0;
    if (s.GetIntervalMinutes() == 0) {
        m_nOnlyIfChanged = 0;
        s.dtStart = g_DateNone;
    } else if (s.dtStart == g_DateNone) {
        s.dtStart = COleDateTime::GetCurrentTime();
        TruncateToMinute(s.dtStart);
    }
    if (m_nMonitor == 0) m_nAsSoonAsChanged = m_nOnlyIfChanged = 0;
    if (!m_nAsSoonAsChanged && !m_nOnlyIfChanged) m_nMonitor = 0;
    if (m_nAsSoonAsChanged) m_nOnlyIfChanged = 0;
}

bool CLaunchItem::Validate(CString* error) const {
    CString text;
    if (m_strProfile.IsEmpty())
        text = u"Missing profile name. ";
    else if ((m_nMonitor != 0) != (m_nAsSoonAsChanged || m_nOnlyIfChanged))
        text = u"Invalid MONITORSOURCE or MONITORTARGET element.";
    else if (m_strProfile.CompareNoCase(m_strProfileAfter) == 0)
        text = u"Profile name and run after profile are the same.";
    if (error && !text.IsEmpty()) *error = text;
    return text.IsEmpty();
}

bool CLaunchItem::ReadXml(CMarkup& xml, CString* error) {
    Reset();
    if (error) error->Empty();
    if (!xml.FindChildElement(u"ITEM")) return false;
    xml.IntoElement();
    CItemReader reader(xml);
    CString text;
    if (!reader.Trimmed(u"PROFILE", m_strProfile)) {
        text = u"<PROFILE> tag not found.";
    } else {
        reader.Trimmed(u"DESCRIPTION", m_strDescription);
        if (!reader.Trimmed(u"CATEGORY", m_strCategory)) m_strCategory = kUnfiled;
        m_nStartup = reader.Has(u"STARTUP") ? 1 : 0;
        ReadSchedule(reader, m_schedule);
        if (reader.Count(u"ONERROR_RERUN", m_nOnErrorRerun) && m_nOnErrorRerun > 0) {
            CString maxRerun;
            if (reader.Text(u"MAX_RERUN", maxRerun)) m_nMaxRerun = _wtoi(maxRerun);
        }
        m_nRunMissed = reader.Has(u"RUNMISSED") ? 1 : 0;
        m_nOnlyIfChanged = reader.Has(u"ONLYIFCHANGED") ? 1 : 0;
        m_nAsSoonAsChanged = reader.Has(u"ASSOONASCHANGED") ? 1 : 0;
        m_nPing = reader.Has(u"PING") ? 1 : 0;
        if (reader.Has(u"MONITORSOURCE")) m_nMonitor |= MONITOR_SOURCE;
        if (reader.Has(u"MONITORTARGET")) m_nMonitor |= MONITOR_TARGET;
        CString frequency;
        if (reader.Text(u"ASAVAILABLE", frequency)) {
            m_nAsAvailable = MONITOR_SOURCE | MONITOR_TARGET;
            m_nAsAvailableFrequency = AsAvailableFrequency(frequency);
        }
        reader.Trimmed(u"PROFILEAFTER", m_strProfileAfter);
        m_bNotOnError = reader.Has(u"PROFILEAFTER_NOTONERROR") && !m_strProfileAfter.IsEmpty();
        m_nEnabled = reader.Has(u"DISABLEDATSTARTUP") ? 0 : 1;
        Normalize();
        if (m_strProfile.IsEmpty()) text = u"<PROFILE> tag empty, missing profile name";
    }
    xml.OutOfElement();
    if (error) *error = text;
    return !m_strProfile.IsEmpty();
}

bool CLaunchItem::WriteXml(CMarkup& xml) const {
    const SCHEDULEINFO& s = m_schedule;
    if (!xml.AddElement(u"ITEM")) return false;
    xml.IntoElement();
    xml.AddElement(u"PROFILE", m_strProfile);
    AddText(xml, u"DESCRIPTION", m_strDescription);
    if (m_strCategory.CompareNoCase(kUnfiled) != 0) AddText(xml, u"CATEGORY", m_strCategory);
    AddFlag(xml, u"STARTUP", m_nStartup);
    AddCount(xml, u"EVERYMINUTE", s.nEveryMinute);
    AddCount(xml, u"EVERYHOUR", s.nEveryHour);
    AddCount(xml, u"EVERYDAY", s.nEveryDay);
    if (s.dtStart != g_DateNone) xml.AddElement(u"STARTTIME", FormatDateTimeShort(s.dtStart));
    if (s.nExcludeDays > 0) xml.AddElement(u"EXCLUDEDAYOFWEEK", GetWeekdayList(s));
    AddNumber(xml, u"ONERROR_RERUN", m_nOnErrorRerun);
    AddNumber(xml, u"MAX_RERUN", m_nMaxRerun);
    AddFlag(xml, u"RUNMISSED", m_nRunMissed);
    AddFlag(xml, u"ONLYIFCHANGED", m_nOnlyIfChanged);
    AddFlag(xml, u"ASSOONASCHANGED", m_nAsSoonAsChanged);
    AddFlag(xml, u"MONITORSOURCE", m_nMonitor & MONITOR_SOURCE);
    AddFlag(xml, u"MONITORTARGET", m_nMonitor & MONITOR_TARGET);
    if (m_nAsAvailable != 0) xml.AddElement(u"ASAVAILABLE", AsAvailableText(m_nAsAvailableFrequency));
    AddText(xml, u"PROFILEAFTER", m_strProfileAfter);
    AddFlag(xml, u"PROFILEAFTER_NOTONERROR", m_bNotOnError);
    AddFlag(xml, u"PING", m_nPing);
    AddFlag(xml, u"DISABLEDATSTARTUP", m_nEnabled == 0);
    xml.OutOfElement();
    return true;
}

bool CLaunchItem::FromXmlText(const CString& text) {
    CMarkup xml;
    xml.SetDocument(text);
    return ReadXml(xml);
}

CString CLaunchItem::ToXmlText() const {
    CMarkup xml;
    WriteXml(xml);
    return xml.GetDoc();
}
