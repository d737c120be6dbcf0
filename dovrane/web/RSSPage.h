// CRSSPage: the two RSS 2.0 feeds of the HTTP server, built from the request's snapshot:
// "/rss.xml" (kind 0), one item per enabled profile with its last run, and "/errors.xml" (kind 1),
// one item per enabled profile whose last run failed.
//
// Every text put into the feed (profile names, the Host header in the links) is XML-escaped, so a
// name holding "&" or "<" keeps the feed well-formed and no element can be injected. Items keep
// the "pubdate" element name that the feed readers of this system expect. Holds no state; any
// thread.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/Array.h"
#include "platform/classlib/Object.h"

class CZBProjectRunItemData;

class CRSSPage : public CObject {
   public:
    enum FEEDKIND { FEED_RUNS = 0, FEED_ERRORS = 1 };

    // The feed; baseLink is "http://" + the request's Host header value.
    CString BuildFeed(const CArray<CZBProjectRunItemData>& items, const CString& baseLink, int kind) const;

    // The time in UTC as "%a, %d %b %Y %H:%M:%S GMT"; empty when it cannot be converted.
    static CString GetHttpDate(LONGLONG time);
};
