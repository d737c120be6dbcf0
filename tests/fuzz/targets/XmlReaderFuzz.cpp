// The XML reader: a file through CXMLFile (byte decoding, then parsing) or a document text
// straight into CMarkup, then a walk over every element it indexed.
#include <fstream>

#include "common/XMLFile.h"
#include "platform/host/PathMap.h"
#include "tests/fuzz/FuzzTargets.h"

namespace {

const int kMaxDepth = 64;
const int kMaxSiblings = 4096;

void WalkElements(CMarkup& xml, int depth) {
    for (int i = 0; i < kMaxSiblings && xml.FindElement(); ++i) {
        xml.GetElementText();
        if (depth < kMaxDepth && xml.IntoElement()) {
            WalkElements(xml, depth + 1);
            FUZZ_CHECK(xml.OutOfElement());
        }
    }
}

}  // namespace

int FuzzXmlReader(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the way in.
    if (data[0] & 1) {
        const std::string path = FuzzPath("in.xml");
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
        CXMLFile file;
        if (file.Load(zbw::ToWindowsPath(path))) WalkElements(file.GetMarkup(), 0);
        return 0;
    }
    CMarkup xml;
    const CString text(FuzzUnits(data + 1, size - 1));
    if (xml.SetDocument(text)) WalkElements(xml, 0);
    return 0;
}
