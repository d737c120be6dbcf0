// The section store: a profile file of any bytes is read, saved and read back; the second
// reading must give the same sections, keys and values (comments are rewritten on saving).
#include <fstream>

#include "dovrane/model/SectionFile.h"
#include "platform/host/PathMap.h"
#include "tests/fuzz/FuzzTargets.h"

namespace {

bool SameSections(const CSectionList& a, const CSectionList& b) {
    if (a.GetSize() != b.GetSize()) return false;
    for (INT_PTR i = 0; i < a.GetSize(); ++i) {
        const CSection& x = a.Section(i);
        const CSection& y = b.Section(i);
        if (x.m_strName != y.m_strName || x.m_Keys.GetSize() != y.m_Keys.GetSize()) return false;
        for (INT_PTR k = 0; k < x.m_Keys.GetSize(); ++k) {
            if (x.m_Keys[k].strKey != y.m_Keys[k].strKey || x.m_Keys[k].strValue != y.m_Keys[k].strValue)
                return false;
        }
    }
    return true;
}

}  // namespace

int FuzzSectionStore(const uint8_t* data, size_t size) {
    const std::string in = FuzzPath("in.fsf");
    std::ofstream(in, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    CSectionList first;
    FUZZ_CHECK(LoadSectionFile(zbw::ToWindowsPath(in), first));
    const CString out = zbw::ToWindowsPath(FuzzPath("out.fsf"));
    FUZZ_CHECK(SaveSectionFile(out, first));
    CSectionList second;
    FUZZ_CHECK(LoadSectionFile(out, second));
    FUZZ_CHECK(SameSections(first, second));
    FreeSections(first);
    FreeSections(second);
    return 0;
}
