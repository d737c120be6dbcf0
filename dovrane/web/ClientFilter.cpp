#include "dovrane/web/ClientFilter.h"

#include "common/RegExp.h"
#include "common/TextUtils.h"

CClientFilter::RESULT CClientFilter::Check(const CString& address) const {
    if (m_strFilter.IsEmpty()) return ALLOWED;
    CString expression = u"^(" + WildcardToRegExp(m_strFilter) + u")$";
    REGEXP* prog = RegExpCompile(expression);
    if (!prog) return INVALID;
    bool matched = RegExpMatch(prog, address) >= 0;
    RegExpFree(prog);
    return matched ? ALLOWED : REFUSED;
}
