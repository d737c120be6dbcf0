// CEngineFileNames: where the engine keeps its files, derived from the program's own path.
//
//   debug switch  the program path with the extension ".dbg" (its existence turns on detail lines)
//   log           data folder + "ZBEngine.log", else the program path with ".log"
//   database      data folder + "ZBEngine.db", else the program path with ".db"
//   XML settings  the file named on the command line, else data folder + "ZBEngine.xml", else
//                 the program path with ".xml"
//   html folder   program folder + "html"
//
// Paths are Windows paths; the program folder ends with its backslash and the data folder, when
// there is one, with its own. A plain value, used by one thread at a time.
#pragma once

#include "platform/base/CString.h"

class CEngineFileNames {
   public:
    // programPath: the module file name; dataFolder: the engine data folder or empty.
    void Derive(const CString& programPath, const CString& dataFolder);
    // The settings file named on the command line wins over both defaults when it is not empty.
    void SetSettingsFile(const CString& commandLineFile);

    // The program path with its extension (or, without one, nothing) replaced by extension.
    static CString WithExtension(const CString& path, LPCWSTR extension);

    CString m_strProgramPath;
    CString m_strProgramFolder;
    CString m_strDebugSwitch;
    CString m_strLogPath;
    CString m_strDBPath;
    CString m_strXMLPath;
    CString m_strHtmlFolder;

   private:
    CString m_strDefaultXMLPath;
};
