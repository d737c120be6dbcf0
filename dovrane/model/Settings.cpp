#include "dovrane/model/Settings.h"

#include <initializer_list>
#include <type_traits>
#include <utility>

#include "common/MultiFoldersParser.h"
#include "dovrane/model/SectionFile.h"
#include "platform/base/WideChar.h"

namespace {

using Names = std::initializer_list<LPCWSTR>;

const Names kNoYes = {u"No", u"Yes"};
const Names kNone = {};

void DeclareInt(CPerInt& entry, LPCWSTR key, int defaultValue, Names names = kNone,
                LPCWSTR section = u"Settings") {
    entry.Declare(section, key, defaultValue);
    for (LPCWSTR name : names) entry.AddValueName(name);
}

void DeclareDir(CPerDir& entry, LPCWSTR key, LPCWSTR label) {
    entry.Declare(u"Settings", key, u"");
    entry.SetLabel(label);
}

template <class Tuple, class F>
void ForEach(Tuple&& entries, F&& f) {
    std::apply([&](auto&... entry) { (f(entry), ...); }, entries);
}

template <class List>
void CutList(List& list) {
    if (list.GetSize() > CPerList::MaxItems) list.SetSize(CPerList::MaxItems);
}

// Old-format method numbers in the current numbering.
int MapOldMethod(int oldMethod) {
    switch (oldMethod) {
        case 1: return 6;
        case 2: return 3;
        case 3: return 4;
        case 4: return 5;
        case 5:
        case 6: return 2;
        case 7: return 1;
        default: return 0;
    }
}

int CountFolders(const CString& text) {
    return static_cast<int>(CMultiFoldersParser::SplitFolders(text).GetSize());
}

}  // namespace

CSettings& CSettings::operator=(const CSettings& other) {
    if (this == &other) return *this;
    auto mine = Entries();
    auto theirs = const_cast<CSettings&>(other).Entries();
    [&]<size_t... I>(std::index_sequence<I...>) {
        ((std::get<I>(mine) = std::get<I>(theirs)), ...);
    }
    (std::make_index_sequence<std::tuple_size_v<decltype(mine)>>{});
    RevertToLoaded();
    return *this;
}

void CSettings::InitEntries() {
    DeclareDir(m_SourceFolder, u"Source Folder", u"Source");
    DeclareDir(m_TargetFolder, u"Target Folder", u"Target");
    DeclareInt(m_LockSource, u"Lock Source", 0, kNoYes);
    DeclareInt(m_LockTarget, u"Lock Target", 0, kNoYes);
    DeclareInt(m_ContinueIfMissing, u"Continue even if sources/targets do not exist", 0, kNoYes);
    DeclareInt(m_CreateIfMissing, u"Create sources/targets that do not exist", 0, kNoYes);
    DeclareInt(m_ConnectDefaultCredentials, u"Connect to network with default user credentials", 0);
    DeclareInt(m_ConnectWithCredentials, u"Connect to network with credentials", 0);
    m_ConnectNetworkPath.Declare(u"Settings", u"Connect network path", u"");
    m_ConnectUser.Declare(u"Settings", u"Connect user", u"");
    m_ConnectPassword.Declare(u"Settings", u"Connect password", u"100110");
    DeclareInt(m_DisconnectWhenDone, u"Disconnect from network when done", 0);
    m_IncludeSubfoldersFlags.Declare(u"Settings", u"Include Subfolders Flags", u"1");
    m_IncludeSubfoldersFlags.SplitValues();
    const CDWordArray& flags = m_IncludeSubfoldersFlags.GetFlags();
    if (CRegEntry::GetAppProfileInt(u"Settings", u"Include Subfolders", 0) != 0 &&
        (flags.IsEmpty() || !flags[0]))
        m_IncludeSubfoldersFlags.SetFirstFlag();
    DeclareInt(m_ComparisonType, u"Comparison Type", 0, {u"Size and Timestamp", u"CRC", u"Both"});
    DeclareInt(m_Ignore2Seconds, u"Ignore 2 seconds difference", 0, kNoYes);
    DeclareInt(m_IgnoreAnySecond, u"Ignore any second difference", 0, kNoYes);
    DeclareInt(m_Ignore1Hour, u"Ignore 1 hour difference", 0, kNoYes);
    DeclareInt(m_CrcChunkSize, u"CRC Chunk Size in Bytes", 0);
    DeclareInt(m_IgnoreFileSize, u"Ignore File Size", 0, kNoYes);
    DeclareInt(m_IgnoreTimestamp, u"Ignore Timestamp", 0, kNoYes);
    DeclareInt(
        m_ExecutionMethod, u"Execution Method", 0,
        {u" ", u"Synchronization", u"Backup (Mirror Source to Target)", u"Replication (Augment Target)",
         u"Replication (Refresh Target)", u"Replication (Update Target)", u"Consolidation"});
    DeclareInt(m_UnatSync, u"UnatSync", 0, kNoYes);
    DeclareInt(m_Speed, u"Speed", 100);
    DeclareInt(m_MonitorConflicts, u"Monitor Conflicts", 0, kNoYes);
    m_SyncTrackingDatabase.Declare(u"Settings", u"Sync Tracking Database", u"");
    DeclareInt(m_SyncConflicts, u"Sync Conflicts", 0);
    DeclareInt(m_CopyFilePermissions, u"Copy File Permissions", 0);
    DeclareInt(m_CopyFolderPermissions, u"Copy Folder Permissions", 0);
    DeclareInt(m_CopyPermissions, u"Copy File/Folder Permissions", 1);
    DeclareInt(m_CopyAuditing, u"Copy File/Folder Auditing", 0);
    DeclareInt(m_CopyOwner, u"Copy File/Folder Owner", 0);
    DeclareInt(m_NoDataStreams, u"Do Not Copy File/Folder Data Streams", 0);
    DeclareInt(m_UseShadowCopy, u"Use Volume Shadow Copy", 0);
    DeclareInt(m_ShadowCopyFor, u"Use Volume Shadow Copy For", 0, {u"Source", u"Target", u"Both"});
    DeclareInt(m_NoEmptyCheck, u"No empty source/target check", 0, kNoYes);
    DeclareInt(m_ReplaceNewerTarget, u"Replace newer target files with older source files (backup only)", 0,
               kNoYes);
    DeclareInt(m_CopyBuffer, u"Copy Buffer", 32768);
    DeclareInt(m_FlushBuffer, u"Flush Buffer", 0);
    DeclareInt(m_SCT, u"SCT", 0, kNoYes);
    DeclareInt(m_NSC, u"NSC", 0, kNoYes);
    DeclareInt(m_SourceTargetOffset, u"Source-Target Offset", 0);
    DeclareInt(m_TryCopyInUse, u"Try Copy In Use Files", 0, kNoYes);
    DeclareInt(m_AlwaysVerifyCrc, u"Always Verify CRC", 0, kNoYes);
    DeclareInt(m_PriorityClass, u"Priority Class", 1,
               {u"Default", u"Idle (recommended)", u"Low", u"Below Normal", u"Normal", u"Above Normal",
                u"High", u"Realtime"});
    DeclareInt(m_LimitBandwidth, u"Limit Bandwidth", 0, kNoYes);
    DeclareInt(m_BandwidthValue, u"Bandwidth Value", 0);
    DeclareInt(m_BandwidthUnit, u"Bandwidth Unit", 1, {u"KB/Sec", u"MB/Sec"});
    DeclareInt(m_ScriptsBefore, u"Scripts Before", 0, kNoYes);
    DeclareInt(m_ScriptsAfter, u"Scripts After", 0, kNoYes);
    m_LogFile.Declare(u"Settings", u"Log File", u"");
    DeclareInt(m_EmptyLog, u"Empty Log", 0, kNoYes);
    DeclareInt(m_LogFileSize, u"Log File Size", 0);
    DeclareInt(m_LogOnlySummary, u"Log Only Summary and Exceptions", 0, kNoYes);
    DeclareInt(m_ExcludeHiddenFiles, u"Exclude Hidden Files", 0, kNoYes, u"Filters");
    DeclareInt(m_ExcludeSystemFiles, u"Exclude System Files", 0, kNoYes, u"Filters");
    DeclareInt(m_ExcludeReadOnlyFiles, u"Exclude Read-Only Files", 0, kNoYes, u"Filters");
    m_ExcludeAfterDate.Declare(u"Filters", u"Exclude After Date", u"");
    m_ExcludeBeforeDate.Declare(u"Filters", u"Exclude Before Date", u"");
    DeclareInt(m_ExcludeDaysAgo, u"Exclude Days Ago", 0, kNone, u"Filters");
    DeclareInt(m_ExcludeGreaterThan, u"Exclude Greater than bytes", 0, kNone, u"Filters");
    DeclareInt(m_ExcludeSmallerThan, u"Exclude Smaller than bytes", 0, kNone, u"Filters");
    m_FileFilters.Declare(u"Filters");
    m_FolderFilters.Declare(u"FiltersDirs");
    m_ArchiveFilters.Declare(u"ArchiveFilters");
    DeclareDir(m_SourceArchiveFolder, u"Source Archive Folder", u"Source Archive");
    DeclareDir(m_TargetArchiveFolder, u"Target Archive Folder", u"Target Archive");
    DeclareInt(m_SmartArchive, u"Smart Archive", 0, kNoYes);
    DeclareInt(m_MoveToArchive, u"Move Files To Archive", 0, kNoYes);
    DeclareInt(m_ArchiveConflictsOnly, u"Archive Conflicts Only", 0, kNoYes);
    DeclareInt(m_NumCopies, u"Num. Copies", 0);
    DeclareInt(m_RemoveDays, u"Remove Days", 0);
    DeclareInt(m_AppendPath, u"Append Path", 0);
    DeclareInt(m_MaxArchiveSize, u"Max Archive Size", 0);
    DeclareInt(m_DES, u"DES", 0);
    m_ComEncString.Declare(u"Settings", u"ComEnc String", u"000000");
    DeclareInt(m_ExcludeEmptySubfolders, u"Exclude Empty Subfolders", 0, kNoYes, u"Subfolder Filters");
    DeclareInt(m_ExcludeHiddenSubfolders, u"Exclude Hidden Subfolders", 0, kNoYes, u"Subfolder Filters");
    DeclareInt(m_ExcludeSystemSubfolders, u"Exclude System Subfolders", 0, kNoYes, u"Subfolder Filters");
    DeclareInt(m_ExcludeReadOnlySubfolders, u"Exclude Read-Only Subfolders", 0, kNoYes, u"Subfolder Filters");
    m_CFile.Declare(u"Settings", u"CFile", u"");

    for (CPerDir* folder : {static_cast<CPerDir*>(&m_SourceFolder), static_cast<CPerDir*>(&m_TargetFolder)}) {
        folder->SetFlag(0, true);
        folder->SetFlag(1, false);
    }
    m_ConnectNetworkPath.SetFlag(2, false);
    m_ConnectNetworkPath.SetFlag(3, false);
    m_SourceArchiveFolder.SetFlag(1, true);
    m_TargetArchiveFolder.SetFlag(1, true);
    m_SyncTrackingDatabase.SetFlag(0, true);
    m_LogFile.SetFlag(0, true);
    m_IncludeSubfoldersFlags.SplitValues();
}

bool CSettings::Load(LPCWSTR path, bool storing, CString& error) {
    error = u"ok";
    if (storing) return Store(path, error);
    RevertToLoaded();
    CSectionList list;
    if (!LoadSectionFile(path, list)) {
        error = CString(u"File not found: ") + path;
        return false;
    }
    bool current = FindSection(list, PROFILE_HEADER_CURRENT) >= 0;
    if (!current && FindSection(list, PROFILE_HEADER_OLD) < 0) {
        error = CString(u"Invalid profile ") + path;
        return false;
    }
    ReadEntries(list, !current);
    m_CFile.SetPath(path);
    m_IncludeSubfoldersFlags.SplitValues();
    return true;
}

void CSettings::ReadEntries(CSectionList& list, bool oldFormat) {
    ForEach(Entries(), [&](auto& entry) {
        const void* address = &entry;
        if (address == &m_CopyFolderPermissions || address == &m_CFile) return;
        if (oldFormat && address == &m_ExecutionMethod) return;
        if constexpr (std::is_same_v<std::decay_t<decltype(entry)>, CPerList>) {
            CutList(entry);
            entry.LoadEntry(list, false);
            CutList(entry);
        } else {
            entry.LoadEntry(list, false);
        }
    });
    if (oldFormat) ReadOldExecutionMethod(list);
}

void CSettings::ReadOldExecutionMethod(const CSectionList& list) {
    CString text;
    int oldMethod = ReadKey(list, u"Settings", u"Default Synchronization Method", &text)
                        ? _wtoi(text)
                        : m_ExecutionMethod.GetDefault();
    int method = MapOldMethod(oldMethod);
    if (method < 0 || method >= m_ExecutionMethod.GetValueNameCount())
        method = m_ExecutionMethod.GetDefault();
    m_ExecutionMethod.SetValue(method);
    if (oldMethod == 6) m_ReplaceNewerTarget.SetValue(1);
}

bool CSettings::Store(LPCWSTR path, CString& error) {
    CSettings saved;
    saved = *this;
    CSectionList list;
    ForEach(Entries(), [&](auto& entry) { entry.LoadEntry(list, true); });
    AddSection(list, PROFILE_HEADER_CURRENT);
    if (!SaveSectionFile(path, list)) {
        error = CString(u"Error writing to file ") + path;
        *this = saved;
        return false;
    }
    m_CFile.SetPath(path);
    return true;
}

void CSettings::RevertToLoaded() {
    ForEach(Entries(), [](auto& entry) {
        if constexpr (requires { entry.RevertToLoaded(); }) entry.RevertToLoaded();
    });
}

int CSettings::CountSourceFolders() const {
    return CountFolders(m_SourceFolder.GetValue());
}

int CSettings::CountTargetFolders() const {
    return CountFolders(m_TargetFolder.GetValue());
}

bool IsFlagString(const CString& text) {
    if (text.GetLength() < 6) return false;
    for (int i = 0; i < 6; ++i)
        if (text[i] != u'0' && text[i] != u'1') return false;
    return true;
}

bool IsFlagSet(const CString& text, int n) {
    return n >= 0 && n < 6 && IsFlagString(text) && text[n] == u'1';
}
