#include "dovrane/model/RunSummaryHtml.h"

#include <cmath>

#include "common/TextUtils.h"

namespace {

CString Highlight(const CString& text) {
    CString html;
    html.Format(u"<span class='tablehigh'>%s</span>", text);
    return html;
}

}  // namespace

CString SideCaption(bool source, const SIDEFLAGS& flags) {
    const bool packed = flags.bCompressed || flags.bEncrypted;
    const bool kept = flags.bLocked || flags.bArchived;
    CString caption;
    caption.Format(source ? u"Source%s%s%s%s%s%s" : u"Target%s%s%s%s%s%s", packed ? u"<br>" : u"",
                   flags.bCompressed ? (source ? u"(Compressed) " : u" (Compressed)") : u"",
                   flags.bEncrypted ? (source ? u"(Encrypted)" : u" (Encrypted)") : u"", kept ? u"<br>" : u"",
                   flags.bLocked ? u"(Locked) " : u"", flags.bArchived ? u"(Archived)" : u"");
    return caption;
}

CString CountText(uint64_t count) {
    return FormatNumber(count, false);
}

CString SizeText(uint64_t bytes) {
    return FormatNumber(bytes, true);
}

CString PercentText(uint64_t value, uint64_t base) {
    const long long percent =
        base == 0 ? 0 : std::llround(static_cast<double>(value) * 100.0 / static_cast<double>(base));
    CString text;
    text.Format(u"%I64d%%", percent);
    return text;
}

CString FiveColumnRow(LPCWSTR label, const CString& sourceCount, const CString& sourceSize,
                      const CString& targetCount, const CString& targetSize, bool highlighted) {
    CString cells[] = {label, sourceCount, sourceSize, targetCount, targetSize};
    if (highlighted) {
        for (CString& cell : cells) cell = Highlight(cell);
    }
    CString row;
    row.Format(
        u"<tr><td class='lefthead' nowrap>%s</td><td class='content'>%s</td><td class='content'>%s</td><td "
        u"class='content'>%s</td><td class='content'>%s</td></tr>",
        cells[0], cells[1], cells[2], cells[3], cells[4]);
    return row;
}

CString FiveColumnSubHead() {
    return u"<tr><td> </td><td class='subhead'>  Total</td><td class='subhead'>Size</td><td class='subhead'> "
           u" "
           u"Total</td><td class='subhead'>Size</td></tr>";
}
