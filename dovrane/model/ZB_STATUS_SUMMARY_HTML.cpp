#include "dovrane/model/ZB_STATUS_SUMMARY_HTML.h"

#include "dovrane/model/RunSummaryHtml.h"

namespace {

// Sums in 64 bits: counts from another process must not wrap into a false agreement.
bool SideAgrees(const COMPARECOUNTS& side) {
    return side.nFiles == uint64_t{side.nMatchedFiles} + side.nExcludedFiles &&
           side.nFolders == uint64_t{side.nMatchedFolders} + side.nExcludedFolders;
}

bool SideExcludes(const COMPARECOUNTS& side) {
    return side.nExcludedFiles || side.nExcludedFolders;
}

}  // namespace

CString CZB_STATUS_SUMMARY_HTML::Build(const COMPARECOUNTS& comt, const COMPARECOUNTS& coms) {
    m_pSource = &coms;
    m_pTarget = &comt;
    m_nRows = 0;
    m_strHtml = u"<div class='tabletitle'>Final Status</div><table class='comtable' width=550px>";
    CString verdict;
    verdict.Format(
        u"<tr><td colspan=9 align=left><table class='comtable' border=0 cellspacing=0 cellpadding=0><tr><td "
        u"width=2px></td><td><font color=%s><b> %s</b></font></td></tr></table></td></tr>",
        u"#000000", Verdict());
    m_strHtml += verdict;
    AddHead();
    AddFileRow(u"Files", &COMPARECOUNTS::nFiles, &COMPARECOUNTS::nBytes, true);
    AddFileRow(u"Excluded Files", &COMPARECOUNTS::nExcludedFiles, &COMPARECOUNTS::nExcludedBytes);
    AddFileRow(u"Matched Files", &COMPARECOUNTS::nMatchedFiles, &COMPARECOUNTS::nMatchedBytes);
    AddFileRow(u"Single Files", &COMPARECOUNTS::nSingleFiles, &COMPARECOUNTS::nSingleBytes);
    AddFileRow(u"Newer Files (Changed)", &COMPARECOUNTS::nNewerFiles, &COMPARECOUNTS::nNewerBytes);
    AddFileRow(u"Older Files (Changed)", &COMPARECOUNTS::nOlderFiles, &COMPARECOUNTS::nOlderBytes);
    if (coms.nConflictsCounted != 0 && (coms.nConflictFiles || comt.nConflictFiles)) {
        AddFileRow(u"Conflict Files<br>(View Log File for Details)", &COMPARECOUNTS::nConflictFiles,
                   &COMPARECOUNTS::nConflictBytes);
    }
    AddFolderRow(u"Subfolders", &COMPARECOUNTS::nFolders, true);
    AddFolderRow(u"Excluded Subfolders", &COMPARECOUNTS::nExcludedFolders);
    AddFolderRow(u"Matched Subfolders", &COMPARECOUNTS::nMatchedFolders);
    AddFolderRow(u"Single Subfolders", &COMPARECOUNTS::nSingleFolders);
    m_strHtml += u"</table>";
    return m_strHtml;
}

CString CZB_STATUS_SUMMARY_HTML::Verdict() const {
    if (!SideAgrees(*m_pSource) || !SideAgrees(*m_pTarget)) return u"Source and Target are different.";
    if (SideExcludes(*m_pSource) || SideExcludes(*m_pTarget))
        return u"Source and Target are identical, excluded files/subfolders not considered.";
    return u"Source and Target are identical.";
}

void CZB_STATUS_SUMMARY_HTML::AddHead() {
    CString head;
    head.Format(
        u"<tr><td> </td><td class='head' colspan=4 nowrap>%s</td><td colspan=4 class='head' "
        u"nowrap>%s</td></tr>",
        SideCaption(true, SideFlags(*m_pSource)), SideCaption(false, SideFlags(*m_pTarget)));
    m_strHtml += head;
    m_strHtml +=
        u"<tr><td nowrap></td><td class='subhead'>  Total</td><td class='subhead'>%</td><td "
        u"class='subhead'>Size</td><td class='subhead'>%</td><td class='subhead'>  Total</td><td "
        u"class='subhead'>%</td><td class='subhead'>Size</td><td class='subhead'>%</td></tr>";
}

void CZB_STATUS_SUMMARY_HTML::AddFileRow(LPCWSTR label, COUNTFIELD count, SIZEFIELD size, bool title) {
    const auto side = [&](const COMPARECOUNTS& c, CString* cells) {
        cells[0] = CountText(c.*count);
        cells[1] = title ? CString(u"100%") : PercentText(c.*count, c.nFiles);
        cells[2] = SizeText(c.*size);
        cells[3] = title ? CString(u"100%") : PercentText(c.*size, c.nBytes);
    };
    CString cells[8];
    side(*m_pSource, cells);
    side(*m_pTarget, cells + 4);
    AddRow(title, label, cells);
}

void CZB_STATUS_SUMMARY_HTML::AddFolderRow(LPCWSTR label, COUNTFIELD count, bool title) {
    const auto side = [&](const COMPARECOUNTS& c, CString* cells) {
        cells[0] = CountText(c.*count);
        cells[1] = title ? CString(u"100%") : PercentText(c.*count, c.nFolders);
        cells[2] = u"-";
        cells[3] = u"-";
    };
    CString cells[8];
    side(*m_pSource, cells);
    side(*m_pTarget, cells + 4);
    AddRow(title, label, cells);
}

void CZB_STATUS_SUMMARY_HTML::AddRow(bool title, LPCWSTR label, const CString (&cells)[8]) {
    CString row;
    row.Format(
        u"<tr><td class='%s'>%s</td><td class='content'>%s</td><td class='content'>%s</td><td "
        u"class='content'>%s</td><td class='content'>%s</td><td class='content'>%s</td><td "
        u"class='content'>%s</td><td class='content'>%s</td><td class='content'>%s</td></tr>",
        title ? u"leftheadtitle" : u"lefthead", label, cells[0], cells[1], cells[2], cells[3], cells[4],
        cells[5], cells[6], cells[7]);
    m_strHtml += row;
    ++m_nRows;
}
