#include "platform/classlib/CommandLineInfo.h"

void CCommandLineInfo::ParseParam(LPCWSTR pszParam, BOOL bFlag, BOOL bLast) {
    if (!bFlag && m_strFileName.IsEmpty()) m_strFileName = pszParam;
    if (bLast && m_nShellCommand == FileNew && !m_strFileName.IsEmpty()) m_nShellCommand = FileOpen;
}
