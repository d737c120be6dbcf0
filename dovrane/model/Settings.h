// CSettings: every setting of one profile file of the synchronisation program, one entry per
// key, and the loading of such a file through the section store (SectionFile.h). The engine's
// profile run item owns one, declares its entries once (InitEntries) and loads the profile each
// time it enables it or the file changes; the description builders and the run-item texts read
// the loaded values (GetValue of each entry). The engine never writes a profile file.
//
// One thread at a time per object. Load fails by its result and error text only: a missing or
// unreadable file, or one without a known header section. Missing keys and unreadable numbers
// are not errors (the entries' defaults apply). The entries write back to the application
// profile when destroyed, only while the write-back switch of RegEntry.h is on.
//
// After a load the folder-pair flags of "Include Subfolders Flags" are split again, so GetFlags
// always matches the loaded text.
#pragma once

#include <tuple>

#include "dovrane/model/PerDir.h"
#include "dovrane/model/PerDirAndSnapshot.h"
#include "dovrane/model/PerFile.h"
#include "dovrane/model/PerInt.h"
#include "dovrane/model/PerList.h"
#include "dovrane/model/PerString.h"
#include "dovrane/model/PerStringOfBools.h"
#include "platform/base/CString.h"

// The header sections that name a profile file's format.
#define PROFILE_HEADER_CURRENT u"Zebrodyne Profile - File Version 4.0.0"
#define PROFILE_HEADER_OLD u"Zebrodyne Project - File Version 3.0.0"

class CSettings {
   public:
    CSettings() = default;
    CSettings(const CSettings&) = delete;
    // Copies every entry's texts, numbers, flags and items, then RevertToLoaded.
    CSettings& operator=(const CSettings& other);
    virtual ~CSettings() = default;

    // Declares every entry with its section, default and value names; run once before Load.
    void InitEntries();
    // Loading (storing false): true with error "ok", or false with the reason. Storing: writes
    // every entry to path; on failure the entries are restored.
    bool Load(LPCWSTR path, bool storing, CString& error);
    // Value := loaded value for every entry; named numbers out of range take their default.
    void RevertToLoaded();

    int CountSourceFolders() const;
    int CountTargetFolders() const;

    CPerDirAndSnapshot m_SourceFolder;
    CPerDirAndSnapshot m_TargetFolder;
    CPerInt m_LockSource;
    CPerInt m_LockTarget;
    CPerInt m_ContinueIfMissing;
    CPerInt m_CreateIfMissing;
    CPerInt m_ConnectDefaultCredentials;
    CPerInt m_ConnectWithCredentials;
    CPerDir m_ConnectNetworkPath;
    CPerString m_ConnectUser;
    CPerString m_ConnectPassword;
    CPerInt m_DisconnectWhenDone;
    CPerStringOfBools m_IncludeSubfoldersFlags;
    CPerInt m_ComparisonType;
    CPerInt m_Ignore2Seconds;
    CPerInt m_IgnoreAnySecond;
    CPerInt m_Ignore1Hour;
    CPerInt m_CrcChunkSize;
    CPerInt m_IgnoreFileSize;
    CPerInt m_IgnoreTimestamp;
    CPerInt m_ExecutionMethod;
    CPerInt m_UnatSync;
    CPerInt m_Speed;
    CPerInt m_MonitorConflicts;
    CPerFile m_SyncTrackingDatabase;
    CPerInt m_SyncConflicts;
    CPerInt m_CopyFilePermissions;
    CPerInt m_CopyFolderPermissions;
    CPerInt m_CopyPermissions;
    CPerInt m_CopyAuditing;
    CPerInt m_CopyOwner;
    CPerInt m_NoDataStreams;
    CPerInt m_UseShadowCopy;
    CPerInt m_ShadowCopyFor;
    CPerInt m_NoEmptyCheck;
    CPerInt m_ReplaceNewerTarget;
    CPerInt m_CopyBuffer;
    CPerInt m_FlushBuffer;
    CPerInt m_SCT;
    CPerInt m_NSC;
    CPerInt m_SourceTargetOffset;
    CPerInt m_TryCopyInUse;
    CPerInt m_AlwaysVerifyCrc;
    CPerInt m_PriorityClass;
    CPerInt m_LimitBandwidth;
    CPerInt m_BandwidthValue;
    CPerInt m_BandwidthUnit;
    CPerInt m_ScriptsBefore;
    CPerInt m_ScriptsAfter;
    CPerFile m_LogFile;
    CPerInt m_EmptyLog;
    CPerInt m_LogFileSize;
    CPerInt m_LogOnlySummary;
    CPerInt m_ExcludeHiddenFiles;
    CPerInt m_ExcludeSystemFiles;
    CPerInt m_ExcludeReadOnlyFiles;
    CPerString m_ExcludeAfterDate;
    CPerString m_ExcludeBeforeDate;
    CPerInt m_ExcludeDaysAgo;
    CPerInt m_ExcludeGreaterThan;
    CPerInt m_ExcludeSmallerThan;
    CPerList m_FileFilters;
    CPerList m_FolderFilters;
    CPerList m_ArchiveFilters;
    CPerDir m_SourceArchiveFolder;
    CPerDir m_TargetArchiveFolder;
    CPerInt m_SmartArchive;
    CPerInt m_MoveToArchive;
    CPerInt m_ArchiveConflictsOnly;
    CPerInt m_NumCopies;
    CPerInt m_RemoveDays;
    CPerInt m_AppendPath;
    CPerInt m_MaxArchiveSize;
    CPerInt m_DES;
    CPerString m_ComEncString;
    CPerInt m_ExcludeEmptySubfolders;
    CPerInt m_ExcludeHiddenSubfolders;
    CPerInt m_ExcludeSystemSubfolders;
    CPerInt m_ExcludeReadOnlySubfolders;
    CPerFile m_CFile;

   private:
    // Every entry, in declaration order.
    auto Entries() {
        return std::tie(
            m_SourceFolder, m_TargetFolder, m_LockSource, m_LockTarget, m_ContinueIfMissing,
            m_CreateIfMissing, m_ConnectDefaultCredentials, m_ConnectWithCredentials, m_ConnectNetworkPath,
            m_ConnectUser, m_ConnectPassword, m_DisconnectWhenDone, m_IncludeSubfoldersFlags,
            m_ComparisonType, m_Ignore2Seconds, m_IgnoreAnySecond, m_Ignore1Hour, m_CrcChunkSize,
            m_IgnoreFileSize, m_IgnoreTimestamp, m_ExecutionMethod, m_UnatSync, m_Speed, m_MonitorConflicts,
            m_SyncTrackingDatabase, m_SyncConflicts, m_CopyFilePermissions, m_CopyFolderPermissions,
            m_CopyPermissions, m_CopyAuditing, m_CopyOwner, m_NoDataStreams, m_UseShadowCopy, m_ShadowCopyFor,
            m_NoEmptyCheck, m_ReplaceNewerTarget, m_CopyBuffer, m_FlushBuffer, m_SCT, m_NSC,
            m_SourceTargetOffset, m_TryCopyInUse, m_AlwaysVerifyCrc, m_PriorityClass, m_LimitBandwidth,
            m_BandwidthValue, m_BandwidthUnit, m_ScriptsBefore, m_ScriptsAfter, m_LogFile, m_EmptyLog,
            m_LogFileSize, m_LogOnlySummary, m_ExcludeHiddenFiles, m_ExcludeSystemFiles,
            m_ExcludeReadOnlyFiles, m_ExcludeAfterDate, m_ExcludeBeforeDate, m_ExcludeDaysAgo,
            m_ExcludeGreaterThan, m_ExcludeSmallerThan, m_FileFilters, m_FolderFilters, m_ArchiveFilters,
            m_SourceArchiveFolder, m_TargetArchiveFolder, m_SmartArchive, m_MoveToArchive,
            m_ArchiveConflictsOnly, m_NumCopies, m_RemoveDays, m_AppendPath, m_MaxArchiveSize, m_DES,
            m_ComEncString, m_ExcludeEmptySubfolders, m_ExcludeHiddenSubfolders, m_ExcludeSystemSubfolders,
            m_ExcludeReadOnlySubfolders, m_CFile);
    }

    void ReadEntries(CSectionList& list, bool oldFormat);
    void ReadOldExecutionMethod(const CSectionList& list);
    bool Store(LPCWSTR path, CString& error);
};

// True when text has at least six characters and each of the first six is "0" or "1".
bool IsFlagString(const CString& text);
// IsFlagString(text) and character n (0-based, 0 .. 5) is "1".
bool IsFlagSet(const CString& text, int n);
