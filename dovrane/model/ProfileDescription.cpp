#include "dovrane/model/ProfileDescription.h"

#include "common/MultiFoldersParser.h"
#include "common/TextUtils.h"
#include "platform/classlib/OleDateTime.h"

namespace {

// Character positions (0-based) in "ComEnc String".
enum {
    SourceCompressed,
    SourceEncrypted,
    TargetCompressed,
    TargetEncrypted,
    ArchiveCompressed,
    ArchiveEncrypted
};

bool IsSet(const CPerInt& entry) {
    return entry.GetValue() != 0;
}

bool IsSet(const CPerString& entry) {
    return !entry.GetValue().IsEmpty();
}

bool Changed(const CPerInt& entry) {
    return entry.GetValue() != entry.GetDefault();
}

// The value's name, or the empty text for a value without one.
CString ValueName(const CPerInt& entry) {
    int value = entry.GetValue();
    return value >= 0 && value < entry.GetValueNameCount() ? entry.GetValueName(value) : CString();
}

CString Decimal(int value) {
    CString text;
    text.Format(u"%d", value);
    return text;
}

CString Quoted(const CString& text) {
    return u"\"" + text + u"\"";
}

void Line(CString& out, bool on, LPCWSTR text) {
    if (on) out += text;
}

CString Attributes(const CSettings& s, bool source) {
    const CString& flags = s.m_ComEncString.GetValue();
    CString text;
    if (IsFlagSet(flags, source ? SourceCompressed : TargetCompressed)) text += u" (Compressed)";
    if (IsFlagSet(flags, source ? SourceEncrypted : TargetEncrypted)) text += u" (Encrypted)";
    if (IsSet(source ? s.m_LockSource : s.m_LockTarget)) text += u" (Locked)";
    if (IsSet(source ? s.m_SourceArchiveFolder : s.m_TargetArchiveFolder)) text += u" (Archived)";
    return text;
}

bool FlagAt(const CDWordArray& flags, INT_PTR index) {
    return index < flags.GetSize() && flags[index] == 1;
}

// One line per complete (marker, pattern, case flag) group; a trailing partial group is ignored.
void FilterLines(CString& out, const CPerList& list, LPCWSTR include, LPCWSTR exclude) {
    for (INT_PTR i = 0; i + 2 < list.GetSize(); i += 3) {
        out += list[i] == u"Include" ? include : exclude;
        out += Quoted(list[i + 1]);
        if (list[i + 2] == u"X") out += u" (case sensitive)";
        out += u"\r\n";
    }
}

CString DateOnly(const CString& text) {
    COleDateTime date;
    if (text.IsEmpty() || !date.ParseDateTime(text) || date.GetStatus() != COleDateTime::valid)
        return CString();
    return FormatDateTimeRelative(date, FTR_DATE);
}

CString Size(LONGLONG bytes) {
    return FormatNumber(bytes > 0 ? static_cast<ULONGLONG>(bytes) : 0, true);
}

CString Number(int value) {
    return FormatNumber(value > 0 ? static_cast<ULONGLONG>(value) : 0, false);
}

// Drops one final line break, escapes the markup characters and joins the lines.
void FinishDescription(CString& out) {
    if (out.Right(2) == u"\r\n") out = out.Left(out.GetLength() - 2);
    out.Replace(u"&", u"&amp;");
    out.Replace(u"<", u"&lt;");
    out.Replace(u">", u"&gt;");
    out.Replace(u"\r\n", u"<br>- ");
}

void SingleFolderLines(const CSettings& s, CString& out, const CDWordArray& flags) {
    out += u"Source: " + Quoted(s.m_SourceFolder.GetValue()) + u" " + Attributes(s, true) + u"\r\n";
    out += u"Target: " + Quoted(s.m_TargetFolder.GetValue()) + u" " + Attributes(s, false) + u"\r\n";
    out += CString(u"Include Subfolders: ") + (FlagAt(flags, 0) ? u"Yes" : u"No") + u"\r\n";
}

void FolderPairLines(const CSettings& s, CString& out, const CDWordArray& flags) {
    CString source = Attributes(s, true), target = Attributes(s, false);
    if (!source.IsEmpty()) out += u"Sources:" + source + (target.IsEmpty() ? u"" : u"\r\n");
    if (!target.IsEmpty()) out += u"Targets:" + target;
    if (!source.IsEmpty() || !target.IsEmpty()) out += u"\r\n";
    CStringArray sources = CMultiFoldersParser::SplitFolders(s.m_SourceFolder.GetValue());
    CStringArray targets = CMultiFoldersParser::SplitFolders(s.m_TargetFolder.GetValue());
    for (INT_PTR i = 0; i < targets.GetSize(); ++i) {
        if (i < sources.GetSize()) out += Quoted(sources[i]);
        out += u" <to> " + Quoted(targets[i]);
        if (FlagAt(flags, i)) out += u" (Include Subfolders)";
        out += u"\r\n";
    }
}

void NetworkLines(const CSettings& s, CString& out) {
    Line(out, IsSet(s.m_ConnectDefaultCredentials), u"Network: connect using default user's credentials\r\n");
    if (!IsSet(s.m_ConnectWithCredentials)) return;
    out += u"Network: connect to " + Quoted(s.m_ConnectNetworkPath.GetValue());
    if (IsSet(s.m_ConnectUser)) out += u" with user " + Quoted(s.m_ConnectUser.GetValue());
    Line(out, IsSet(s.m_DisconnectWhenDone), u" and disconnect when done");
    out += u"\r\n";
}

void FileFilterLines(const CSettings& s, CString& out) {
    FilterLines(out, s.m_FileFilters, u"Include files: ", u"Exclude files: ");
    Line(out, IsSet(s.m_ExcludeHiddenFiles), u"Exclude hidden files\r\n");
    Line(out, IsSet(s.m_ExcludeSystemFiles), u"Exclude system files\r\n");
    Line(out, IsSet(s.m_ExcludeReadOnlyFiles), u"Exclude read-only files\r\n");
    CString after = DateOnly(s.m_ExcludeAfterDate.GetValue());
    if (!after.IsEmpty()) out += u"Exclude files created or modified after " + after + u"\r\n";
    CString before = DateOnly(s.m_ExcludeBeforeDate.GetValue());
    if (!before.IsEmpty()) out += u"Exclude files created or modified before " + before + u"\r\n";
    if (s.m_ExcludeDaysAgo.GetValue() > 0)
        out += u"Exclude files created or modified more than " + Number(s.m_ExcludeDaysAgo.GetValue()) +
               u" day(s) ago\r\n";
    if (s.m_ExcludeGreaterThan.GetValue() > 0)
        out += u"Exclude files greater than " + Size(s.m_ExcludeGreaterThan.GetValue()) + u"\r\n";
    if (s.m_ExcludeSmallerThan.GetValue() > 0)
        out += u"Exclude files smaller than " + Size(s.m_ExcludeSmallerThan.GetValue()) + u"\r\n";
}

void SubfolderFilterLines(const CSettings& s, CString& out) {
    FilterLines(out, s.m_FolderFilters, u"Include subfolders: ", u"Exclude subfolders: ");
    Line(out, IsSet(s.m_ExcludeEmptySubfolders), u"Exclude empty subfolders\r\n");
    Line(out, IsSet(s.m_ExcludeHiddenSubfolders), u"Exclude hidden subfolders\r\n");
    Line(out, IsSet(s.m_ExcludeSystemSubfolders), u"Exclude system subfolders\r\n");
    Line(out, IsSet(s.m_ExcludeReadOnlySubfolders), u"Exclude read-only subfolders\r\n");
}

void ArchiveFolderLine(CString& out, const CPerDir& folder, const CString& flags, LPCWSTR which) {
    if (!IsSet(folder)) {
        out += CString(u"No archive for deleted/replaced ") + which + u" files\r\n";
        return;
    }
    out += CString(u"Archive deleted/replaced ") + which + u" files to: " + Quoted(folder.GetValue()) + u" ";
    Line(out, IsFlagSet(flags, ArchiveCompressed), u" (Compressed)");
    Line(out, IsFlagSet(flags, ArchiveEncrypted), u" (Encrypted)");
    out += u"\r\n";
}

void LogLines(const CSettings& s, CString& out) {
    if (!IsSet(s.m_LogFile)) return;
    out += u"Log File: " + Quoted(s.m_LogFile.GetValue()) + u" ";
    if (s.m_LogFileSize.GetValue() != 0) out += u"(max " + Decimal(s.m_LogFileSize.GetValue()) + u" KB) ";
    Line(out, IsSet(s.m_EmptyLog), u"(empty log file each run)");
    Line(out, IsSet(s.m_LogOnlySummary), u"\r\nLog only summary and errors");
    out += u"\r\n";
}

void TransferLines(const CSettings& s, CString& out) {
    if (Changed(s.m_PriorityClass)) out += u"Process Priority: " + ValueName(s.m_PriorityClass) + u"\r\n";
    if (Changed(s.m_LimitBandwidth)) {
        LONGLONG unit = s.m_BandwidthUnit.GetValue() == 1 ? 1048576 : 1024;
        out += u"Limit Bandwidth to: " + Size(unit * s.m_BandwidthValue.GetValue()) + u"/Sec\r\n";
    }
    if (Changed(s.m_Speed) || Changed(s.m_CopyBuffer) || Changed(s.m_FlushBuffer)) {
        out += u"Speed: " + Decimal(s.m_Speed.GetValue()) + u" Buffer Size: " +
               Decimal(s.m_CopyBuffer.GetValue());
        Line(out, Changed(s.m_FlushBuffer), u" (flush the buffer every write)");
        out += u"\r\n";
    }
    Line(out, IsSet(s.m_SCT), u"Copy files even if timestamp changes after initial comparison\r\n");
    Line(out, IsSet(s.m_NSC), u"Copy directly to destination file (do not use a temporary file)\r\n");
    Line(out, IsSet(s.m_TryCopyInUse), u"Try to copy files that are in use by other applications\r\n");
}

void CopyOptionLines(const CSettings& s, CString& out) {
    static const LPCWSTR kShadowTargets[] = {u"source\r\n", u"target\r\n", u"both source and target\r\n"};
    if (IsSet(s.m_UseShadowCopy)) {
        out += u"Use 'Volume Shadow Copy' to copy open files for ";
        int which = s.m_ShadowCopyFor.GetValue();
        if (which >= 0 && which < 3) out += kShadowTargets[which];
    }
    Line(out, IsSet(s.m_CopyFolderPermissions), u"Copy folder privileges and security attributes\r\n");
    if (IsSet(s.m_CopyFilePermissions)) {
        Line(out, IsSet(s.m_CopyPermissions), u"Copy file/folder permissions\r\n");
        Line(out, IsSet(s.m_CopyAuditing), u"Copy file/folder auditing\r\n");
        Line(out, IsSet(s.m_CopyOwner), u"Copy file/folder owner\r\n");
        Line(out, IsSet(s.m_NoDataStreams), u"Do not copy file/folder data streams\r\n");
    }
    Line(out, IsSet(s.m_AlwaysVerifyCrc), u"Verify successful file copy by checking file CRC\r\n");
    Line(out, IsSet(s.m_NoEmptyCheck), u"No empty source/target check\r\n");
    Line(out, IsSet(s.m_ReplaceNewerTarget),
         u"Replace newer target files with older source files (backup only)\r\n");
    Line(out, Changed(s.m_ScriptsBefore), u"Run custom scripts before comparison\r\n");
    Line(out, Changed(s.m_ScriptsAfter), u"Run custom scripts after execution\r\n");
}

}  // namespace

void BuildProfileDescription(const CSettings& settings, CString& out) {
    out.Empty();
    CPerStringOfBools include;
    include = settings.m_IncludeSubfoldersFlags;
    include.SplitValues();
    int sources = settings.CountSourceFolders();
    if (sources == 1 && settings.CountTargetFolders() > 0)
        SingleFolderLines(settings, out, include.GetFlags());
    else
        FolderPairLines(settings, out, include.GetFlags());
    Line(out, sources > 1 && IsSet(settings.m_ContinueIfMissing),
         u"Continue even if some source/target folders are inaccessible\r\n");
    Line(out, IsSet(settings.m_CreateIfMissing), u"Create sources/targets that do not exist\r\n");
    NetworkLines(settings, out);
    FileFilterLines(settings, out);
    SubfolderFilterLines(settings, out);
    FinishDescription(out);
}

void BuildComparisonDescription(const CSettings& settings, CString& out) {
    const CSettings& s = settings;
    out = u"Comparison Type: " + ValueName(s.m_ComparisonType);
    int type = s.m_ComparisonType.GetValue();
    if (type > 0) {
        int chunk = s.m_CrcChunkSize.GetValue();
        out += u"   (CRC calculated on ";
        out += chunk != 0 ? u"initial " + Decimal(chunk) + u" bytes of file)" : CString(u"entire file)");
    }
    if (type != 1) {
        out += u"\r\n";
        Line(out, IsSet(s.m_Ignore2Seconds), u"Ignore 2 seconds difference\r\n");
        Line(out, IsSet(s.m_IgnoreAnySecond), u"Ignore any second difference\r\n");
        Line(out, IsSet(s.m_Ignore1Hour), u"Ignore 1 hour difference\r\n");
        Line(out, IsSet(s.m_IgnoreTimestamp), u"Ignore Timestamp\r\n");
        Line(out, IsSet(s.m_IgnoreFileSize), u"Ignore Size\r\n");
        if (s.m_SourceTargetOffset.GetValue() > 0)
            out += u"Time difference between Source and Target (minutes): " +
                   Decimal(s.m_SourceTargetOffset.GetValue()) + u"\r\n";
    }
    FinishDescription(out);
}

void BuildExecutionDescription(const CSettings& settings, CString& out) {
    const CSettings& s = settings;
    out = u"Method: " +
          (s.m_ExecutionMethod.GetValue() != 0 ? ValueName(s.m_ExecutionMethod) : CString(u"None"));
    out += u"\r\n";
    Line(out, IsSet(s.m_UnatSync), u"No overwrite / read-only / error confirmations\r\n");
    if (IsSet(s.m_MonitorConflicts)) {
        out += u"Tracking Database: " + Quoted(s.m_SyncTrackingDatabase.GetValue());
        Line(out, s.m_SyncConflicts.GetValue() != 0, u" (synchronize/backup/replicate conflicts)");
        out += u"\r\n";
    }
    LogLines(s, out);
    CString archive;
    BuildArchiveDescription(s, archive);
    out += archive;
    TransferLines(s, out);
    CopyOptionLines(s, out);
    FinishDescription(out);
}

void BuildArchiveDescription(const CSettings& settings, CString& out) {
    const CSettings& s = settings;
    out.Empty();
    const CString& flags = s.m_ComEncString.GetValue();
    ArchiveFolderLine(out, s.m_SourceArchiveFolder, flags, u"source");
    ArchiveFolderLine(out, s.m_TargetArchiveFolder, flags, u"target");
    if (IsSet(s.m_SourceArchiveFolder) || IsSet(s.m_TargetArchiveFolder)) {
        Line(out, IsSet(s.m_SmartArchive), u"Smart archive\r\n");
        Line(out, IsSet(s.m_MoveToArchive), u"Move files to archive folders (instead of copying)\r\n");
        Line(out, IsSet(s.m_ArchiveConflictsOnly), u"Archive conflicts only\r\n");
        if (s.m_NumCopies.GetValue() > 0)
            out += u"Archive max. " + Number(s.m_NumCopies.GetValue()) + u" copies per file\r\n";
        if (s.m_RemoveDays.GetValue() > 0)
            out += u"Remove archive copies older than " + Number(s.m_RemoveDays.GetValue()) + u" day(s)\r\n";
        Line(out, IsSet(s.m_AppendPath), u"Append Source/Target path to archive folder(s)\r\n");
    }
    FilterLines(out, s.m_ArchiveFilters, u"Archive include: ", u"Archive exclude: ");
    if (s.m_MaxArchiveSize.GetValue() > 0)
        out += u"Do not keep archive copies of files whose size is greater than " +
               Size(s.m_MaxArchiveSize.GetValue()) + u"\r\n";
}
