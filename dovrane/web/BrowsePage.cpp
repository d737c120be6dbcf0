#include "dovrane/web/BrowsePage.h"

#include <vector>

#include "common/FolderUtils.h"
#include "common/RegUtils.h"
#include "common/TextUtils.h"
#include "common/UrlCodec.h"
#include "platform/host/PathMap.h"
#include "platform/win32/FileApi.h"

namespace {

constexpr LPCWSTR kSettingsKey = u"software\\ZBEngine\\ZBEngine\\Settings";
constexpr LPCWSTR kBrowseValue = u"lfbrowse";
constexpr LPCWSTR kDocuments = u"<documents>";
constexpr LPCWSTR kDesktop = u"<desktop>";
// The synchronisation program keeps its profiles in a folder of its own name.
constexpr LPCWSTR kProfileFolderName = u"Zebrodyne Pro";
constexpr LPCWSTR kFolderUpIcon = u"<img src=\"img/fup.gif\" width=\"16\" height=\"16\" align=\"texttop\">";
constexpr LPCWSTR kFolderIcon = u"<img src=\"img/fld.gif\" width=\"16\" height=\"16\" align=\"texttop\">";
constexpr LPCWSTR kProfileIcon = u"<img src=\"img/fsf.gif\" width=\"16\" height=\"16\" align=\"texttop\">";

struct ENTRY {
    CString name;
    bool folder;
};

CString Encoded(const CString& path) {
    return CString(UrlEncode(path).c_str());
}

CString CurrentDirectory() {
    WCHAR buffer[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
    return length > 0 && length < MAX_PATH ? CString(buffer) : CString();
}

CString ResolveFolder(const CString& folder) {
    CString resolved = folder;
    if (folder == kDocuments) resolved = GetDocumentsFolder();
    if (folder == kDesktop) resolved = GetDesktopFolder();
    return resolved.IsEmpty() ? CurrentDirectory() : resolved;
}

CString WithSeparator(const CString& folder) {
    return folder.IsEmpty() || folder.Right(1) == u"\\" || folder.Right(1) == u"/" ? folder : folder + u"\\";
}

std::vector<ENTRY> ListFolder(const CString& folder, LPCWSTR pattern) {
    std::vector<ENTRY> entries;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((WithSeparator(folder) + pattern).GetString(), &data);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        entries.push_back({CString(data.cFileName), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return entries;
}

CString FolderLinks(const CString& folder) {
    CString links;
    for (const ENTRY& entry : ListFolder(folder, u"*")) {
        if (!entry.folder || entry.name == u".") continue;
        bool up = entry.name == u"..";
        CString target =
            up ? zbw::FullWindowsPath(WithSeparator(folder) + u"..") : WithSeparator(folder) + entry.name;
        CString name = HtmlEscape(entry.name);
        if (entry.name.CompareNoCase(kProfileFolderName) == 0) name = u"<strong>" + name + u"</strong>";
        links += u"<a href=?CURRFOLDER=" + Encoded(target) + u">" + (up ? kFolderUpIcon : kFolderIcon) +
                 name + u"</a><br>";
    }
    return links.IsEmpty() ? CString(u"<em>No folders found</em>") : links;
}

CString ProfileLinks(const CString& folder) {
    CString links;
    for (const ENTRY& entry : ListFolder(folder, u"*.fsf")) {
        if (entry.folder) continue;
        links += u"<a href=# onclick=\"assign_selection('" + Encoded(WithSeparator(folder) + entry.name) +
                 u"'); return false;\">" + kProfileIcon + HtmlEscape(entry.name) + u"</a><br>";
    }
    return links.IsEmpty() ? CString(u"<em>No profiles found in this folder</em>") : links;
}

CString DriveLinks() {
    std::vector<WCHAR> buffer(GetLogicalDriveStringsW(0, nullptr) + 1);
    DWORD length = GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
    CString links;
    for (DWORD at = 0; at < length && buffer[at] != 0;) {
        CString root(&buffer[at]);
        links += u"<a href='?CURRFOLDER=" + Encoded(root) + u"'>" + HtmlEscape(root) + u"</a>&nbsp;&nbsp;";
        at += static_cast<DWORD>(root.GetLength()) + 1;
    }
    return links.IsEmpty() ? CString(u"<em>No Drives Found!</em>") : links;
}

void FillTags(CString& page, const CString& current, const CString& folders, const CString& profiles,
              const CString& locations, const CString& drives) {
    page.Replace(u"#BROWSE_CURRENT_FOLDER#", current.GetString());
    page.Replace(u"#BROWSE_FOLDERS#", folders.GetString());
    page.Replace(u"#BROWSE_PROFILES#", profiles.GetString());
    page.Replace(u"#BROWSE_LOCATIONS#", locations.GetString());
    page.Replace(u"#BROWSE_DRIVES#", drives.GetString());
}

}  // namespace

void BuildBrowsePage(CString& page, const CString& currentFolder, bool localClient) {
    if (!localClient) {
        FillTags(page, CString(), kBrowseRefused, CString(), CString(), CString());
        return;
    }
    CString folder = currentFolder;
    if (folder.IsEmpty()) ReadRegStringCU(kSettingsKey, kBrowseValue, folder);
    if (folder.IsEmpty()) folder = kDocuments;
    WriteRegStringCU(kSettingsKey, kBrowseValue, folder.GetString());
    CString shown = ResolveFolder(folder);
    CString locations = CString(u"<a href='?CURRFOLDER=") + kDesktop +
                        u"'>Desktop</a>&nbsp;&nbsp;<a href='?CURRFOLDER=" + kDocuments +
                        u"'>My Documents</a>";
    FillTags(page, HtmlEscape(shown), FolderLinks(shown), ProfileLinks(shown), locations, DriveLinks());
}
