// CCommandLineInfo: what CWinApp::ParseCommandLine found on the command line.
//
// ParseCommandLine calls ParseParam once per argument, in order, with a leading "/" or "-"
// stripped and bFlag telling whether there was one; bLast marks the last argument. The base
// class takes the first argument that is not a flag as m_strFileName (and then asks to open
// it); the class library's own flags (printing, DDE, automation, registration) are accepted and
// ignored, since no program here acts on them. Subclasses override ParseParam and usually call
// the base class first. One thread uses an object at a time.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/Object.h"

class CCommandLineInfo : public CObject {
   public:
    enum { FileNew, FileOpen, FileNothing = -1 };

    CCommandLineInfo() = default;
    ~CCommandLineInfo() override = default;

    virtual void ParseParam(LPCWSTR pszParam, BOOL bFlag, BOOL bLast);

    CString m_strFileName;
    int m_nShellCommand = FileNew;
};
