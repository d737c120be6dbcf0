#include "dovrane/threads/FolderList.h"

#include "platform/base/WideChar.h"

namespace {

std::vector<CString> SplitAtBars(const CString& list) {
    std::vector<CString> parts;
    int start = 0;
    for (int bar = list.Find(u'|'); bar >= 0; bar = list.Find(u'|', start)) {
        parts.push_back(list.Mid(start, bar - start));
        start = bar + 1;
    }
    if (start < list.GetLength()) parts.push_back(list.Mid(start));
    return parts;
}

CString WithSeparator(CString path) {
    path.Trim();
    if (path.IsEmpty()) return path;
    const char16_t last = path[path.GetLength() - 1];
    if (last != u'\\' && last != u'/') path += u"\\";
    return path;
}

}  // namespace

std::vector<FOLDERLISTITEM> ParseFolderList(const CString& list) {
    const std::vector<CString> parts = SplitAtBars(list);
    std::vector<FOLDERLISTITEM> items;
    for (size_t i = 0; i < parts.size(); i += 2) {
        FOLDERLISTITEM item;
        item.strPath = WithSeparator(parts[i]);
        if (i + 1 < parts.size()) item.bFlag = _wtoi(parts[i + 1]) != 0;
        if (!item.strPath.IsEmpty()) items.push_back(item);
    }
    return items;
}

void AppendFolderListItem(CString& list, const CString& path, bool flag) {
    list += path + (flag ? u"|1|" : u"|0|");
}
