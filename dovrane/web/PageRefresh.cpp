#include "dovrane/web/PageRefresh.h"

#include "common/SHA1Text.h"
#include "common/TextUtils.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "platform/classlib/OleDateTime.h"

namespace {

void AppendItemTexts(CString& all, const CZBProjectRunItemData& item) {
    const CLaunchItem& launch = item.GetLaunchItem();
    for (const CString* text :
         {&item.GetName(), &launch.m_strDescription, &launch.m_strCategory, &item.GetStatusText(),
          &item.GetSettingsText(), &item.GetDetails(), &item.GetProgressHtml(), &item.GetLastRun(),
          &item.GetLastOkRun(), &item.GetNextRun()})
        all += *text;
}

bool IsPageNameCharacter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' ||
           c == u'_' || c == u'.';
}

}  // namespace

CString ComputeRefreshId(const CArray<CZBProjectRunItemData>& items, INT_PTR index,
                         const CString& settingsStamp, const CString& engineStart) {
    if (index >= items.GetSize()) return CString();
    CString all;
    for (INT_PTR i = index < 0 ? 0 : index; i < (index < 0 ? items.GetSize() : index + 1); ++i)
        AppendItemTexts(all, items[i]);
    return SHA1HashText(all + settingsStamp + engineStart);
}

void ReplaceRefreshId(CString& page, const CString& id) {
    page.Replace(u"#PAGE_REFRESH_ID#", id.GetString());
}

CString RefreshTimeText() {
    return FormatDateTimeRelative(COleDateTime::GetCurrentTime(), FTR_DATE | FTR_TIME);
}

void ReplaceAjaxTags(CString& page, const CString& currentLink) {
    page.Replace(kAjaxSectionStart, u"");
    page.Replace(kAjaxSectionEnd, u"");
    page.Replace(u"#CURRENT_TIME#", RefreshTimeText().GetString());
    page.Replace(u"#REFRESH#", currentLink.GetString());
}

CString ExtractAjaxSection(const CString& page) {
    int start = page.Find(kAjaxSectionStart);
    int end = page.Find(kAjaxSectionEnd);
    if (start < 0 || end < start) return page;
    start += CString(kAjaxSectionStart).GetLength();
    return page.Mid(start, end - start);
}

bool IsRefreshablePage(const CString& page) {
    if (page == u"/") return true;
    CString name = page.Left(1) == u"/" ? page.Mid(1) : page;
    if (name.IsEmpty() || name.Find(u"..") >= 0) return false;
    for (char16_t c : name.GetStdString())
        if (!IsPageNameCharacter(c)) return false;
    return true;
}
