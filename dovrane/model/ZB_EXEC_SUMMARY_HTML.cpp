#include "dovrane/model/ZB_EXEC_SUMMARY_HTML.h"

#include "dovrane/model/RunSummaryHtml.h"
#include "dovrane/model/SyncExitCode.h"

CString CZB_EXEC_SUMMARY_HTML::Build(const SYNCCOUNTS& done) {
    m_pCounts = &done;
    m_nRows = 0;
    m_strHtml = u"<div class='tabletitle'>Run Summary</div><table class='donetable' width=550px>";
    CString head;
    head.Format(
        u"<tr><td> </td><td colspan=2 class='head' nowrap>%s</td><td colspan=2 class='head' "
        u"nowrap>%s</td></tr>",
        SideCaption(true, SourceFlags(done)), SideCaption(false, TargetFlags(done)));
    m_strHtml += head + FiveColumnSubHead();
    AddFileRows();
    AddFolderRows();
    if (done.bArchiveInfo) AddArchiveRows();
    AddResult();
    m_strHtml += u"</table>";
    return m_strHtml;
}

void CZB_EXEC_SUMMARY_HTML::AddFileRows() {
    const SYNCSIDECOUNTS& s = m_pCounts->source;
    const SYNCSIDECOUNTS& t = m_pCounts->target;
    AddRow({u"Added Files", s.nFilesAdded, s.nBytesAdded, t.nFilesAdded, t.nBytesAdded}, false);
    AddRow({u"Updated Files", s.nFilesUpdated, s.nBytesUpdated, t.nFilesUpdated, t.nBytesUpdated}, false);
    AddRow({u"Deleted Files", s.nFilesDeleted, s.nBytesDeleted, t.nFilesDeleted, t.nBytesDeleted}, false);
    if (s.nFilesSkipped || t.nFilesSkipped)
        AddRow({u"Skipped Files", s.nFilesSkipped, s.nBytesSkipped, t.nFilesSkipped, t.nBytesSkipped}, true);
    const ROWCOUNTS errors[] = {
        {u"Errors (Adding)", s.nErrorsAdding, s.nBytesErrorsAdding, t.nErrorsAdding, t.nBytesErrorsAdding},
        {u"Errors (Updating)", s.nErrorsUpdating, s.nBytesErrorsUpdating, t.nErrorsUpdating,
         t.nBytesErrorsUpdating},
        {u"Errors (Deleting)", s.nErrorsDeleting, s.nBytesErrorsDeleting, t.nErrorsDeleting,
         t.nBytesErrorsDeleting},
    };
    AddErrorRows(errors, 3, true);
}

void CZB_EXEC_SUMMARY_HTML::AddFolderRows() {
    const SYNCSIDECOUNTS& s = m_pCounts->source;
    const SYNCSIDECOUNTS& t = m_pCounts->target;
    AddRow({u"Added Subfolders", s.nFoldersAdded, 0, t.nFoldersAdded, 0}, false, false);
    AddRow({u"Deleted Subfolders", s.nFoldersDeleted, 0, t.nFoldersDeleted, 0}, false, false);
    if (s.nFoldersSkipped || t.nFoldersSkipped)
        AddRow({u"Skipped Subfolders", s.nFoldersSkipped, 0, t.nFoldersSkipped, 0}, true, false);
    const ROWCOUNTS errors[] = {
        {u"Errors (Adding)", s.nFolderErrorsAdding, 0, t.nFolderErrorsAdding, 0},
        {u"Errors (Deleting)", s.nFolderErrorsDeleting, 0, t.nFolderErrorsDeleting, 0},
    };
    AddErrorRows(errors, 2, false);
}

void CZB_EXEC_SUMMARY_HTML::AddArchiveRows() {
    const SYNCARCHIVECOUNTS& s = m_pCounts->sourceArchive;
    const SYNCARCHIVECOUNTS& t = m_pCounts->targetArchive;
    m_strHtml += u"<tr><td colspan=5 align=left class='leftheadtitle'>Archive Information</td></tr>";
    AddRow({u"Files Added to Archive", s.nFilesAdded, s.nBytesAdded, t.nFilesAdded, t.nBytesAdded}, false);
    AddRow(
        {u"Files Deleted from Archive", s.nFilesDeleted, s.nBytesDeleted, t.nFilesDeleted, t.nBytesDeleted},
        false);
    const ROWCOUNTS errors[] = {
        {u"Errors (Adding)", s.nErrorsAdding, s.nBytesErrorsAdding, t.nErrorsAdding, t.nBytesErrorsAdding},
        {u"Errors (Deleting)", s.nErrorsDeleting, s.nBytesErrorsDeleting, t.nErrorsDeleting,
         t.nBytesErrorsDeleting},
    };
    AddErrorRows(errors, 2, true);
    AddArchiveTotal();
}

void CZB_EXEC_SUMMARY_HTML::AddArchiveTotal() {
    const auto cells = [](uint32_t count, uint64_t bytes, bool archived, CString& countCell,
                          CString& sizeCell) {
        countCell = count ? CountText(count) : CString(archived ? u"Not Checked" : u"-");
        sizeCell = count ? SizeText(bytes) : CString(u"-");
    };
    CString sourceCount, sourceSize, targetCount, targetSize;
    cells(m_pCounts->nSourceArchiveFiles, m_pCounts->nSourceArchiveBytes, m_pCounts->bSourceArchived != 0,
          sourceCount, sourceSize);
    cells(m_pCounts->nTargetArchiveFiles, m_pCounts->nTargetArchiveBytes, m_pCounts->bTargetArchived != 0,
          targetCount, targetSize);
    m_strHtml +=
        FiveColumnRow(u"Total Files in Archive", sourceCount, sourceSize, targetCount, targetSize, false);
    ++m_nRows;
}

void CZB_EXEC_SUMMARY_HTML::AddResult() {
    const int32_t result = m_pCounts->nResult;
    CString text = result == -1 ? CString(u"Not Executed.")
                                : CString(u"Result: ") + GetExitCodeText(static_cast<DWORD>(result));
    CString line;
    line.Format(u"<tr><td colspan=5 class='msgline' align=left><span class='%s'><b>%s</b></span></td></tr>",
                result != 0 && result != -1 ? u"tablehigh" : u"", text);
    m_strHtml += line;
}

void CZB_EXEC_SUMMARY_HTML::AddRow(const ROWCOUNTS& row, bool highlighted, bool sizes) {
    m_strHtml +=
        FiveColumnRow(row.label, CountText(row.sourceCount), sizes ? SizeText(row.sourceBytes) : u"-",
                      CountText(row.targetCount), sizes ? SizeText(row.targetBytes) : u"-", highlighted);
    ++m_nRows;
}

void CZB_EXEC_SUMMARY_HTML::AddErrorRows(const ROWCOUNTS* rows, int count, bool sizes) {
    bool written = false;
    for (int i = 0; i < count; ++i) {
        if (!rows[i].sourceCount && !rows[i].targetCount) continue;
        AddRow(rows[i], true, sizes);
        written = true;
    }
    if (!written) AddRow({u"Errors", 0, 0, 0, 0}, false, sizes);
}
