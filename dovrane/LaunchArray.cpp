#include "dovrane/LaunchArray.h"

#include <cstdio>

#include "platform/base/TextConvert.h"

namespace {

// Leaves the new SETTINGS current with no current child.
void SetEmptySettings(CMarkup& xml) {
    xml.SetDocument(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n");
    xml.AddElement(u"SETTINGS");
}

}  // namespace

int CLaunchArray::Load(LPCWSTR path, CXMLFile& file, CString& error) {
    error.Empty();
    CMarkup& xml = file.GetMarkup();
    bool loaded = file.Load(path) || file.Load(CString(path) + u".bak");
    if (!loaded || !xml.FindElement(u"SETTINGS")) SetEmptySettings(xml);
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
