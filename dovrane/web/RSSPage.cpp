#include "dovrane/web/RSSPage.h"

#include "common/TextUtils.h"
#include "common/UrlCodec.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "platform/classlib/OleDateTime.h"
#include "platform/classlib/Time.h"

namespace {

constexpr LPCWSTR kFeedHead =
    u"<?xml version=\"1.0\" ?><rss "
    u"version=\"2.0\"><channel><title>#%CHANNEL_TITLE%#</title><link>#%CHANNEL_LINK%#"
    u"</link><description>#%CHANNEL_DESCRIPTION%#</description><ttl>1</ttl>";

LPCWSTR ChannelTitle(int kind) {
    if (kind == CRSSPage::FEED_RUNS) return u"ZBEngine Profile Runs";
    if (kind == CRSSPage::FEED_ERRORS) return u"ZBEngine Run Errors";
    return u"ZBEngine";
}

// The profile file's name without its folder and without a final ".fsf".
CString ShortName(const CString& name) {
    CString shortName = name.Mid(name.ReverseFind(u'\\') + 1);
    if (shortName.GetLength() >= 4 && shortName.Right(4).CompareNoCase(u".fsf") == 0)
        shortName = shortName.Left(shortName.GetLength() - 4);
    return shortName;
}

CString LastRunText(const CZBProjectRunItemData& item) {
    if (item.GetLastRunTime() == 0) return u" Last Run: None";
    COleDateTime lastRun(static_cast<time_t>(item.GetLastRunTime()));
    return CString(u" Last Run: ") + FormatDateTimeShort(lastRun) +
           (item.HasLastRunFailed() ? u" (Error)" : u" (OK)");
}

CString FeedItem(const CZBProjectRunItemData& item, const CString& baseLink) {
    CString title = HtmlEscape(ShortName(item.GetName()) + LastRunText(item));
    CString link =
        HtmlEscape(baseLink + u"/profile.htm?SHOWPROFILE=" + CString(UrlEncode(item.GetName()).c_str()));
    LONGLONG published =
        item.GetLastRunTime() != 0 ? item.GetLastRunTime() : CTime::GetCurrentTime().GetTime();
    CString text;
    text.Format(
        u"<item><title>%s</title><link>%s</link><description>%s</description><pubdate>%s</pubdate></item>",
        title.GetString(), link.GetString(), title.GetString(), CRSSPage::GetHttpDate(published).GetString());
    return text;
}

}  // namespace

CString CRSSPage::BuildFeed(const CArray<CZBProjectRunItemData>& items, const CString& baseLink,
                            int kind) const {
    CString feed(kFeedHead);
    feed.Replace(u"#%CHANNEL_TITLE%#", ChannelTitle(kind));
    feed.Replace(u"#%CHANNEL_LINK%#", HtmlEscape(baseLink + u"/status.htm").GetString());
    feed.Replace(u"#%CHANNEL_DESCRIPTION%#", u"ZBEngine Profiles");
    for (INT_PTR i = 0; i < items.GetSize(); ++i) {
        const CZBProjectRunItemData& item = items[i];
        if (item.GetRunState() == 0) continue;
        if (kind == FEED_ERRORS && !(item.GetLastRunTime() != 0 && item.HasLastRunFailed())) continue;
        feed += FeedItem(item, baseLink);
    }
    return feed + u"</channel></rss>";
}

CString CRSSPage::GetHttpDate(LONGLONG time) {
    return CTime(static_cast<time_t>(time)).FormatGmt(u"%a, %d %b %Y %H:%M:%S GMT");
}
