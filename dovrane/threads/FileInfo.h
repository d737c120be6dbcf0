// CFileInfo: what the file-change watcher knows of one watched file: its path as given, the
// folder watched for it and the last-write time seen (local time, whole seconds; invalid until
// it could be read).
//
// The folder is the drive and directory of the path ("C:\a\b.fsf" gives "C:\a\"); a path with a
// directory but no drive (UNC, rooted or relative) gives that directory, and a bare file name the
// process's current directory.
//
// Reading the time opens the file with no access rights and full sharing, as an existing file,
// so a file that is open elsewhere can still be looked at. Value type; one thread at a time.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/OleDateTime.h"

class CFileInfo {
   public:
    explicit CFileInfo(const CString& path);
    virtual ~CFileInfo() = default;

    // The file's last-write time into lastWrite (invalid when it cannot be read); false when the
    // file cannot be opened.
    static bool ReadLastWrite(const CString& path, COleDateTime& lastWrite);
    // The folder watched for path (see above), ending with "\" or "/".
    static CString FolderOf(const CString& path);

    const CString& GetPath() const { return m_strPath; }
    const CString& GetFolder() const { return m_strFolder; }
    const COleDateTime& GetLastWrite() const { return m_lastWrite; }
    void SetLastWrite(const COleDateTime& lastWrite) { m_lastWrite = lastWrite; }

   private:
    CString m_strPath;
    CString m_strFolder;
    COleDateTime m_lastWrite;
};
