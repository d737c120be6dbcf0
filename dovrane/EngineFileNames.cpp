#include "dovrane/EngineFileNames.h"

void CEngineFileNames::Derive(const CString& programPath, const CString& dataFolder) {
    m_strProgramPath = programPath;
    m_strProgramFolder = programPath.Left(programPath.ReverseFind(u'\\') + 1);
    m_strHtmlFolder = m_strProgramFolder + u"html";
    m_strDebugSwitch = WithExtension(programPath, u".dbg");
    bool hasDataFolder = !dataFolder.IsEmpty();
    m_strLogPath = hasDataFolder ? dataFolder + u"ZBEngine.log" : WithExtension(programPath, u".log");
    m_strDBPath = hasDataFolder ? dataFolder + u"ZBEngine.db" : WithExtension(programPath, u".db");
    m_strDefaultXMLPath = hasDataFolder ? dataFolder + u"ZBEngine.xml" : WithExtension(programPath, u".xml");
    m_strXMLPath = m_strDefaultXMLPath;
}

void CEngineFileNames::SetSettingsFile(const CString& commandLineFile) {
    m_strXMLPath = commandLineFile.IsEmpty() ? m_strDefaultXMLPath : commandLineFile;
}

CString CEngineFileNames::WithExtension(const CString& path, LPCWSTR extension) {
    int dot = path.ReverseFind(u'.');
    int slash = path.ReverseFind(u'\\');
    CString stem = dot > slash ? path.Left(dot) : path;
    return stem + extension;
}
