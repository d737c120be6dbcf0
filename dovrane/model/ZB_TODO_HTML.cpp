#include "dovrane/model/ZB_TODO_HTML.h"

#include "dovrane/model/RunSummaryHtml.h"

CString CZB_TODO_HTML::Build(const SYNCCOUNTS& todo) {
    m_pCounts = &todo;
    m_strHtml = u"<div class='tabletitle'>Run Preview</div><table class='todotable' width=550px>";
    m_nRows = 0;
    CString head;
    head.Format(
        u"<tr><td> </td><td colspan=2 class='head' nowrap>%s</td><td class='head' colspan=2 "
        u"nowrap>%s</td></tr>",
        SideCaption(true, SourceFlags(todo)), SideCaption(false, TargetFlags(todo)));
    m_strHtml += head + FiveColumnSubHead();

    const SYNCSIDECOUNTS& s = todo.source;
    const SYNCSIDECOUNTS& t = todo.target;
    AddFileRow(u"Files to Add", s.nFilesAdded, s.nBytesAdded, t.nFilesAdded, t.nBytesAdded, true);
    AddFileRow(u"Files to Update", s.nFilesUpdated, s.nBytesUpdated, t.nFilesUpdated, t.nBytesUpdated, true);
    AddFileRow(u"Files to Delete", s.nFilesDeleted, s.nBytesDeleted, t.nFilesDeleted, t.nBytesDeleted, false);
    AddFolderRow(u"Subfolders to Add", s.nFoldersAdded, t.nFoldersAdded);
    AddFolderRow(u"Subfolders to Delete", s.nFoldersDeleted, t.nFoldersDeleted);
    if (todo.bArchiveInfo) {
        AddFileRow(u"Files to Archive", todo.sourceArchive.nFilesAdded, todo.sourceArchive.nBytesAdded,
                   todo.targetArchive.nFilesAdded, todo.targetArchive.nBytesAdded, false);
    }
    const bool anyChange = s.nFilesAdded || t.nFilesAdded || s.nFilesUpdated || t.nFilesUpdated;
    if (AnyPacked() && anyChange) {
        m_strHtml +=
            u"<tr><td class='content' colspan=5 align=left>* Size before eventual compression or "
            u"decompression, "
            u"encryption or decryption</td></tr>";
    }
    m_strHtml += u"</table>";
    return m_strHtml;
}

bool CZB_TODO_HTML::AnyPacked() const {
    return m_pCounts->bSourceCompressed || m_pCounts->bSourceEncrypted || m_pCounts->bTargetCompressed ||
           m_pCounts->bTargetEncrypted;
}

void CZB_TODO_HTML::AddFileRow(LPCWSTR label, uint32_t sourceCount, uint64_t sourceBytes,
                               uint32_t targetCount, uint64_t targetBytes, bool starred) {
    const CString star = starred && AnyPacked() ? u"*" : u"";
    m_strHtml +=
        FiveColumnRow(label, CountText(sourceCount), SizeText(sourceBytes) + (sourceCount ? star : u""),
                      CountText(targetCount), SizeText(targetBytes) + (targetCount ? star : u""), false);
    ++m_nRows;
}

void CZB_TODO_HTML::AddFolderRow(LPCWSTR label, uint32_t sourceCount, uint32_t targetCount) {
    m_strHtml += FiveColumnRow(label, CountText(sourceCount), u"-", CountText(targetCount), u"-", false);
    ++m_nRows;
}
