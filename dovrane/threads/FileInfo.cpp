#include "dovrane/threads/FileInfo.h"

#include "platform/host/PathMap.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/FileTimeApi.h"

namespace {

COleDateTime InvalidTime() {
    COleDateTime time;
    time.SetStatus(COleDateTime::invalid);
    return time;
}

int LastSeparator(const CString& path) {
    int slash = path.ReverseFind(u'/');
    int backslash = path.ReverseFind(u'\\');
    return slash > backslash ? slash : backslash;
}

CString CurrentDirectory() {
    char16_t buffer[MAX_PATH * 4] = {};
    DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    CString folder(length > 0 && length < MAX_PATH * 4 ? buffer : u"");
    if (folder.IsEmpty() || (folder.Right(1) != u"\\" && folder.Right(1) != u"/")) folder += u"\\";
    return folder;
}

}  // namespace

CFileInfo::CFileInfo(const CString& path)
    : m_strPath(path), m_strFolder(FolderOf(path)), m_lastWrite(InvalidTime()) {
    ReadLastWrite(path, m_lastWrite);
}

CString CFileInfo::FolderOf(const CString& path) {
    int last = LastSeparator(path);
    if (last >= 0) return path.Left(last + 1);
    // "C:name" lies in the drive's current folder, as a bare name in the process's.
    if (path.GetLength() >= 2 && path[1] == u':') return path.Left(2);
    return CurrentDirectory();
}

bool CFileInfo::ReadLastWrite(const CString& path, COleDateTime& lastWrite) {
    lastWrite = InvalidTime();
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME utc{};
    FILETIME local{};
    SYSTEMTIME st{};
    if (GetFileTime(file, nullptr, nullptr, &utc) && FileTimeToLocalFileTime(&utc, &local) &&
        FileTimeToSystemTime(&local, &st)) {
        st.wMilliseconds = 0;
        lastWrite = COleDateTime(st);
    }
    CloseHandle(file);
    return true;
}
