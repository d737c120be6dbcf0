#include "dovrane/ZBEngineCommandLine.h"

#include "platform/base/CString.h"

void CZBEngineCommandLine::ParseParam(LPCWSTR pszParam, BOOL bFlag, BOOL bLast) {
    CCommandLineInfo::ParseParam(pszParam, bFlag, bLast);
    if (CString(pszParam).CompareNoCase(u"serv") == 0) m_bService = true;
}
