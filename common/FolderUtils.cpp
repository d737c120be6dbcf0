#include "common/FolderUtils.h"

#include <vector>

#include "platform/win32/FileApi.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/Shell.h"

namespace {

typedef BOOL (*SHGETSPECIALFOLDERPATHW)(HWND, LPWSTR, int, BOOL);
typedef HRESULT (*SHGETFOLDERPATHW)(HWND, int, HANDLE, DWORD, LPWSTR);

CString SpecialFolder(int csidl) {
    HMODULE shell = LoadLibraryW(u"shell32.dll");
    if (!shell) return CString();
    auto get = reinterpret_cast<SHGETSPECIALFOLDERPATHW>(GetProcAddress(shell, "SHGetSpecialFolderPathW"));
    WCHAR path[MAX_PATH] = {};
    BOOL found = get && get(nullptr, path, csidl, FALSE);
    FreeLibrary(shell);
    return found ? CString(path) : CString();
}

bool FolderPathFrom(LPCWSTR module, int csidl, CString& folder) {
    HMODULE library = LoadLibraryW(module);
    if (!library) return false;
    auto get = reinterpret_cast<SHGETFOLDERPATHW>(GetProcAddress(library, "SHGetFolderPathW"));
    WCHAR path[MAX_PATH] = {};
    bool bound = get != nullptr;
    if (bound && SUCCEEDED(get(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) folder = path;
    FreeLibrary(library);
    return bound;
}

CString FolderPath(int csidl) {
    CString folder;
    if (!FolderPathFrom(u"shell32.dll", csidl, folder)) FolderPathFrom(u"SHFolder.dll", csidl, folder);
    return folder;
}

bool IsDirectory(const CString& path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDriveRoot(const CString& root) {
    std::vector<WCHAR> drives(GetLogicalDriveStringsW(0, nullptr) + 1);
    DWORD length = GetLogicalDriveStringsW(static_cast<DWORD>(drives.size()), drives.data());
    if (length == 0 || length >= drives.size()) return false;
    for (LPCWSTR drive = drives.data(); *drive; drive += CString(drive).GetLength() + 1)
        if (root.CompareNoCase(drive) == 0) return true;
    return false;
}

}  // namespace

CString GetEngineDataFolder() {
    CString folder = SpecialFolder(CSIDL_APPDATA);
    if (folder.IsEmpty()) return folder;
    folder += u"\\ZBEngine\\";
    return CreateDirectoryTree(folder) ? folder : CString();
}

CString GetDocumentsFolder() {
    return FolderPath(CSIDL_PERSONAL);
}

CString GetDesktopFolder() {
    return FolderPath(CSIDL_DESKTOPDIRECTORY);
}

bool CreateDirectoryTree(LPCWSTR path) {
    CString text(path ? path : u"");
    int lastSep = text.ReverseFind(u'\\');
    if (lastSep >= 0 && IsDriveRoot(text.Left(lastSep + 1))) return true;
    CString folder = text.Left(lastSep < 0 ? 0 : lastSep);
    if (IsDirectory(folder)) return true;
    // The prefixes that end before each backslash, then the whole folder, without the first one
    // (the drive, or the empty text before a leading backslash). Folders that exist, servers and
    // shares fail harmlessly.
    std::vector<CString> prefixes;
    for (int end = folder.Find(u'\\'); end >= 0; end = folder.Find(u'\\', end + 1))
        prefixes.push_back(folder.Left(end));
    prefixes.push_back(folder);
    for (size_t i = 1; i < prefixes.size(); ++i)
        if (CreateDirectoryW(prefixes[i], nullptr)) SetFileAttributesW(prefixes[i], FILE_ATTRIBUTE_NORMAL);
    return IsDirectory(folder);
}
