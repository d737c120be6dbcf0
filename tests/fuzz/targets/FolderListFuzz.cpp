// The folder-list parser: the first byte says how many units (0 to 3) are separators, the rest
// is the list; items come one by one and all at once, and agree.
#include "common/MultiFoldersParser.h"
#include "tests/fuzz/FuzzTargets.h"

int FuzzFolderList(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::u16string units = FuzzUnits(data + 1, size - 1);
    const size_t separators = std::min<size_t>(data[0] % 4, units.size());
    const CString text(units.substr(separators));
    CMultiFoldersParser parser;
    parser.SetText(text, CString(units.substr(0, separators)));
    int count = 0;
    CString item;
    while (parser.GetNext(item)) {
        ++count;
        FUZZ_CHECK(count <= text.GetLength() + 1);
    }
    parser.ParseAll();
    FUZZ_CHECK(parser.GetItems().GetSize() == count);
    return 0;
}
