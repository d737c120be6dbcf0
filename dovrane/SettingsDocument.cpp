#include "dovrane/SettingsDocument.h"

const char16_t CSettingsDocument::kDeclaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n";

CSettingsDocument::SOURCE CSettingsDocument::Load(LPCWSTR path, CXMLFile& file, CString* fileError,
                                                  CString* backupError) {
    if (file.Load(path)) return SOURCE_FILE;
    if (fileError) *fileError = file.GetError();
    if (file.Load(CString(path) + u".bak")) return SOURCE_BACKUP;
    if (backupError) *backupError = file.GetError();
    MakeEmpty(file.GetMarkup());
    return SOURCE_EMPTY;
}

void CSettingsDocument::MakeEmpty(CMarkup& xml) {
    xml.SetDocument(kDeclaration);
    xml.AddElement(u"SETTINGS");
}
