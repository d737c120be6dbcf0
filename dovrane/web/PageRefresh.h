// The page-refresh identifier and the AJAX section of the status pages: the identifier is the
// digest of everything a page shows of the profiles, so that the browser's script can ask cheaply
// whether its page is stale, and the section is the part of the page that script swaps in.
//
// The identifier is computed from the request's snapshot, never from the live list. A page that
// the refresh check may name is one of the engine's own pages in its page folder: a name with a
// folder part, "..", a drive or any character outside letters, digits, "-", "_" and "." is
// refused, so the check cannot be made to read another file. Stateless; any thread.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/Array.h"

class CZBProjectRunItemData;

// The markers of the AJAX section and the tags the section holds.
constexpr LPCWSTR kAjaxSectionStart = u"#AJAX_REFRESH_SECTION_START#";
constexpr LPCWSTR kAjaxSectionEnd = u"#AJAX_REFRESH_SECTION_END#";

// The identifier (44 characters) over one item, or over all of them when index is below 0; the
// empty text for an index at or beyond the count. settingsStamp and engineStart are the settings'
// time stamp and the engine's start time, as date-and-time texts.
CString ComputeRefreshId(const CArray<CZBProjectRunItemData>& items, INT_PTR index,
                         const CString& settingsStamp, const CString& engineStart);

// Replaces "#PAGE_REFRESH_ID#" with id.
void ReplaceRefreshId(CString& page, const CString& id);

// The current date and time as "#CURRENT_TIME#" shows it.
CString RefreshTimeText();

// Removes both AJAX markers and replaces "#CURRENT_TIME#" with the current date and time and
// "#REFRESH#" with currentLink.
void ReplaceAjaxTags(CString& page, const CString& currentLink);

// The text between the markers; the whole page when a marker is missing or they are out of order.
CString ExtractAjaxSection(const CString& page);

// Whether the refresh check may name this page ("/" is the default page). "/status.htm" and
// "status.htm" are both accepted.
bool IsRefreshablePage(const CString& page);
