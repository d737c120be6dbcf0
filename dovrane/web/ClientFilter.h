// CClientFilter: the client filter of the engine's servers, a wildcard pattern ("*" any
// characters, "?" one) that a client's dotted IPv4 address must match as a whole: the pattern
// becomes "^(" + WildcardToRegExp(pattern) + ")$" for the system's regular expressions. An empty
// filter allows every client. The expression is compiled at each check, so any thread may check
// at once; SetFilter belongs to the owner while no check runs. Failures are the INVALID result.
#pragma once

#include "platform/base/CString.h"

class CClientFilter {
   public:
    enum RESULT { ALLOWED, REFUSED, INVALID };

    CClientFilter() = default;
    explicit CClientFilter(const CString& filter) : m_strFilter(filter) {}

    void SetFilter(const CString& filter) { m_strFilter = filter; }
    const CString& GetFilter() const { return m_strFilter; }

    // INVALID when the filter does not compile (the client is then refused too).
    RESULT Check(const CString& address) const;

   private:
    CString m_strFilter;
};
