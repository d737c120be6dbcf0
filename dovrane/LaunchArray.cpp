#include "dovrane/LaunchArray.h"

#include <cstdio>

#include "dovrane/SettingsDocument.h"
#include "platform/base/TextConvert.h"

int CLaunchArray::Load(LPCWSTR path, CXMLFile& file, CString& error) {
    error.Empty();
    CMarkup& xml = file.GetMarkup();
    if (CSettingsDocument::Load(path, file) != CSettingsDocument::SOURCE_EMPTY &&
        !xml.FindElement(u"SETTINGS"))
        CSettingsDocument::MakeEmpty(xml);
    CLaunchItem item;
    while (item.ReadXml(xml, &error)) Add(item);
    if (error.IsEmpty()) return LOAD_OK;
    std::fputs((zbw::ToUtf8(error) + "\n").c_str(), stdout);
    std::fflush(stdout);
    return LOAD_ITEM_REFUSED;
}

int CLaunchArray::Save(CXMLFile& file, LPCWSTR path, CString& error) const {
    CMarkup& xml = file.GetMarkup();
    for (INT_PTR i = 0; i < GetSize(); ++i) {
        if (!GetAt(i).WriteXml(xml)) {
            error = u"Unable to add the ITEM elements to the XML document";
            return SAVE_NOT_WRITTEN;
        }
    }
    if (!file.Save(path, xml.GetDoc())) {
        error = file.GetError();
        return SAVE_NOT_WRITTEN;
    }
    error.Empty();
    return SAVE_OK;
}
