// Run summaries in HTML from status blocks; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include <string>

#include "dovrane/model/ZB_EXEC_SUMMARY_HTML.h"
#include "dovrane/model/ZB_STATUS_SUMMARY_HTML.h"
#include "dovrane/model/ZB_TODO_HTML.h"
#include "platform/base/TextConvert.h"
#include "tests/support/TestRoot.h"

namespace {

std::string Row(const std::string& label, const std::string& a, const std::string& b, const std::string& c,
                const std::string& d) {
    return "<tr><td class='lefthead' nowrap>" + label + "</td><td class='content'>" + a +
           "</td><td class='content'>" + b + "</td><td class='content'>" + c + "</td><td class='content'>" +
           d + "</td></tr>";
}

std::string High(const std::string& text) {
    return "<span class='tablehigh'>" + text + "</span>";
}

std::string HighRow(const std::string& label, const std::string& a, const std::string& b,
                    const std::string& c, const std::string& d) {
    return Row(High(label), High(a), High(b), High(c), High(d));
}

std::string NineRow(const std::string& cls, const std::string& label, const std::string (&cells)[8]) {
    std::string row = "<tr><td class='" + cls + "'>" + label + "</td>";
    for (const std::string& cell : cells) row += "<td class='content'>" + cell + "</td>";
    return row + "</tr>";
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class RunSummaryTest : public ::testing::Test {
   protected:
    std::string Todo(const SYNCCOUNTS& counts) { return zbw::ToUtf8(CZB_TODO_HTML().Build(counts)); }
    std::string Done(const SYNCCOUNTS& counts) { return zbw::ToUtf8(CZB_EXEC_SUMMARY_HTML().Build(counts)); }
    std::string Final(const COMPARECOUNTS& comt, const COMPARECOUNTS& coms) {
        return zbw::ToUtf8(CZB_STATUS_SUMMARY_HTML().Build(comt, coms));
    }

    CTestRoot root;
};

TEST_F(RunSummaryTest, CleanRunSummary) {
    SYNCCOUNTS done{};
    done.source.nFilesAdded = 1234;
    done.source.nBytesAdded = 3072;
    done.target.nFoldersDeleted = 2;
    const std::string html = Done(done);
    const std::string expected =
        "<div class='tabletitle'>Run Summary</div><table class='donetable' width=550px>"
        "<tr><td> </td><td colspan=2 class='head' nowrap>Source</td><td colspan=2 class='head' "
        "nowrap>Target</td></tr>"
        "<tr><td> </td><td class='subhead'>  Total</td><td class='subhead'>Size</td><td class='subhead'>  "
        "Total</td>"
        "<td class='subhead'>Size</td></tr>" +
        Row("Added Files", "1,234", "3.00KB", "0", "0") + Row("Updated Files", "0", "0", "0", "0") +
        Row("Deleted Files", "0", "0", "0", "0") + Row("Errors", "0", "0", "0", "0") +
        Row("Added Subfolders", "0", "-", "0", "-") + Row("Deleted Subfolders", "0", "-", "2", "-") +
        Row("Errors", "0", "-", "0", "-") +
        "<tr><td colspan=5 class='msgline' align=left><span class=''><b>Result: "
        "OK.</b></span></td></tr></table>";
    EXPECT_EQ(html, expected);
}

TEST_F(RunSummaryTest, SkipsAndErrorsAreHighlightedRows) {
    SYNCCOUNTS done{};
    done.nResult = 3;
    done.target.nFilesSkipped = 1;
    done.source.nErrorsUpdating = 2;
    done.source.nBytesErrorsUpdating = 100;
    done.target.nFolderErrorsDeleting = 4;
    const std::string html = Done(done);
    EXPECT_NE(html.find(HighRow("Skipped Files", "0", "0", "1", "0")), std::string::npos);
    EXPECT_NE(html.find(HighRow("Errors (Updating)", "2", "100B", "0", "0")), std::string::npos);
    EXPECT_NE(html.find(HighRow("Errors (Deleting)", "0", "-", "4", "-")), std::string::npos);
    EXPECT_EQ(Count(html, "Errors (Adding)"), 0u);
    EXPECT_EQ(Count(html, ">Errors<"), 0u);
    EXPECT_NE(
        html.find("<span class='tablehigh'><b>Result: Execution completed with file copy/delete errors.</b>"),
        std::string::npos);
}

TEST_F(RunSummaryTest, ResultLineForMissingAndUnknownCodes) {
    struct {
        int32_t result;
        const char* line;
    } const cases[] = {
        {-1, "<span class=''><b>Not Executed.</b>"},
        {20, "<span class='tablehigh'><b>Result: Unspecified</b>"},
        {-7, "<span class='tablehigh'><b>Result: Unspecified</b>"},
    };
    for (const auto& c : cases) {
        SYNCCOUNTS done{};
        done.nResult = c.result;
        EXPECT_NE(Done(done).find(c.line), std::string::npos) << c.result;
    }
}

TEST_F(RunSummaryTest, ArchiveRowsOnlyWithArchiveInformation) {
    SYNCCOUNTS done{};
    done.bSourceArchived = 1;
    done.sourceArchive.nFilesAdded = 5;
    done.sourceArchive.nBytesAdded = 2048;
    done.targetArchive.nErrorsDeleting = 1;
    done.nTargetArchiveFiles = 9;
    done.nTargetArchiveBytes = 512;
    EXPECT_EQ(Count(Done(done), "Archive<"), 0u);
    EXPECT_EQ(Count(Todo(done), "Archive<"), 0u);

    done.bArchiveInfo = 1;
    const std::string html = Done(done);
    EXPECT_NE(html.find("<tr><td colspan=5 align=left class='leftheadtitle'>Archive Information</td></tr>" +
                        Row("Files Added to Archive", "5", "2.00KB", "0", "0") +
                        Row("Files Deleted from Archive", "0", "0", "0", "0") +
                        HighRow("Errors (Deleting)", "0", "0", "1", "0") +
                        Row("Total Files in Archive", "Not Checked", "-", "9", "512B")),
              std::string::npos);
    EXPECT_NE(Todo(done).find(Row("Files to Archive", "5", "2.00KB", "0", "0")), std::string::npos);
}

TEST_F(RunSummaryTest, PreviewStarsPackedSidesWithChanges) {
    SYNCCOUNTS todo{};
    todo.bSourceCompressed = 1;
    todo.source.nFilesAdded = 3;
    todo.source.nBytesAdded = 3072;
    todo.target.nFilesUpdated = 1;
    todo.target.nBytesUpdated = 10;
    todo.source.nFoldersAdded = 2;
    const std::string html = Todo(todo);
    EXPECT_NE(
        html.find("<td colspan=2 class='head' nowrap>Source<br>(Compressed) </td><td class='head' colspan=2 "
                  "nowrap>Target</td>"),
        std::string::npos);
    EXPECT_NE(html.find(Row("Files to Add", "3", "3.00KB*", "0", "0")), std::string::npos);
    EXPECT_NE(html.find(Row("Files to Update", "0", "0", "1", "10B*")), std::string::npos);
    EXPECT_NE(html.find(Row("Files to Delete", "0", "0", "0", "0")), std::string::npos);
    EXPECT_NE(html.find(Row("Subfolders to Add", "2", "-", "0", "-")), std::string::npos);
    EXPECT_NE(
        html.find("* Size before eventual compression or decompression, encryption or decryption</td></tr>"
                  "</table>"),
        std::string::npos);

    todo.source.nFilesAdded = 0;
    todo.target.nFilesUpdated = 0;
    EXPECT_EQ(Count(Todo(todo), "*"), 0u);
    todo.bSourceCompressed = 0;
    todo.source.nFilesAdded = 3;
    EXPECT_EQ(Count(Todo(todo), "*"), 0u);
}

TEST_F(RunSummaryTest, SideCaptionsCarryTheirMarks) {
    struct {
        int side;  // 0 source, 1 target
        uint8_t compressed, encrypted, locked, archived;
        const char* caption;
    } const cases[] = {
        {0, 1, 1, 1, 1, "Source<br>(Compressed) (Encrypted)<br>(Locked) (Archived)"},
        {1, 1, 1, 1, 1, "Target<br> (Compressed) (Encrypted)<br>(Locked) (Archived)"},
        {0, 0, 1, 0, 0, "Source<br>(Encrypted)"},
        {1, 0, 0, 0, 1, "Target<br>(Archived)"},
    };
    for (const auto& c : cases) {
        SYNCCOUNTS todo{};
        uint8_t* flags = c.side == 0 ? &todo.bSourceCompressed : &todo.bTargetCompressed;
        flags[0] = c.compressed;
        flags[1] = c.encrypted;
        (c.side == 0 ? todo.bSourceLocked : todo.bTargetLocked) = c.locked;
        (c.side == 0 ? todo.bSourceArchived : todo.bTargetArchived) = c.archived;
        EXPECT_NE(Todo(todo).find(std::string("nowrap>") + c.caption + "</td>"), std::string::npos)
            << c.caption;

        COMPARECOUNTS plain{}, marked{};
        marked.bCompressed = c.compressed;
        marked.bEncrypted = c.encrypted;
        marked.bLocked = c.locked;
        marked.bArchived = c.archived;
        const std::string html = c.side == 0 ? Final(plain, marked) : Final(marked, plain);
        EXPECT_NE(html.find(std::string("nowrap>") + c.caption + "</td>"), std::string::npos) << c.caption;
    }
}

COMPARECOUNTS Side(uint32_t files, uint32_t matched, uint32_t excluded, uint32_t folders,
                   uint32_t matchedFolders) {
    COMPARECOUNTS side{};
    side.nFiles = files;
    side.nMatchedFiles = matched;
    side.nExcludedFiles = excluded;
    side.nFolders = folders;
    side.nMatchedFolders = matchedFolders;
    return side;
}

TEST_F(RunSummaryTest, FinalStatusVerdicts) {
    struct {
        COMPARECOUNTS coms, comt;
        const char* verdict;
    } const cases[] = {
        {Side(4, 4, 0, 1, 1), Side(4, 4, 0, 1, 1), "Source and Target are identical."},
        {Side(4, 2, 2, 1, 1), Side(4, 2, 2, 1, 1),
         "Source and Target are identical, excluded files/subfolders not considered."},
        {Side(4, 3, 0, 1, 1), Side(4, 4, 0, 1, 1), "Source and Target are different."},
        {Side(4, 4, 0, 2, 1), Side(4, 4, 0, 1, 1), "Source and Target are different."},
        // A sum that wraps in 32 bits must not pass for agreement.
        {Side(1, 0x80000001u, 0x80000000u, 0, 0), Side(0, 0, 0, 0, 0), "Source and Target are different."},
    };
    for (const auto& c : cases) {
        EXPECT_NE(
            Final(c.comt, c.coms).find(std::string("<font color=#000000><b> ") + c.verdict + "</b></font>"),
            std::string::npos)
            << c.verdict;
    }
}

TEST_F(RunSummaryTest, FinalStatusRowsAndPercentages) {
    COMPARECOUNTS coms = Side(3, 2, 1, 4, 3);
    coms.nBytes = 3000;
    coms.nMatchedBytes = 2000;
    coms.nExcludedBytes = 1000;
    coms.nExcludedFolders = 1;
    COMPARECOUNTS comt{};  // an empty side: every percentage 0%
    const std::string html = Final(comt, coms);
    EXPECT_EQ(html.rfind("<div class='tabletitle'>Final Status</div><table class='comtable' width=550px>", 0),
              0u);
    EXPECT_NE(html.find("<tr><td nowrap></td><td class='subhead'>  Total</td><td class='subhead'>%</td>"),
              std::string::npos);
    const std::string files[8] = {"3", "100%", "2.93KB", "100%", "0", "100%", "0", "100%"};
    const std::string matched[8] = {"2", "67%", "1.95KB", "67%", "0", "0%", "0", "0%"};
    const std::string excluded[8] = {"1", "33%", "1,000B", "33%", "0", "0%", "0", "0%"};
    const std::string folders[8] = {"3", "75%", "-", "-", "0", "0%", "-", "-"};
    EXPECT_NE(
        html.find(NineRow("leftheadtitle", "Files", files) + NineRow("lefthead", "Excluded Files", excluded) +
                  NineRow("lefthead", "Matched Files", matched)),
        std::string::npos);
    EXPECT_NE(html.find(NineRow("lefthead", "Matched Subfolders", folders)), std::string::npos);
    EXPECT_NE(html.find("<td class='leftheadtitle'>Subfolders</td><td class='content'>4</td><td "
                        "class='content'>100%</td><td class='content'>-</td><td class='content'>-</td>"),
              std::string::npos);
    EXPECT_EQ(html.substr(html.size() - 8), "</table>");
}

TEST_F(RunSummaryTest, PercentagesRoundHalfAwayFromZero) {
    COMPARECOUNTS coms = Side(8, 1, 0, 0, 0);  // 12.5% of the files
    const std::string html = Final(COMPARECOUNTS{}, coms);
    EXPECT_NE(html.find("Matched Files</td><td class='content'>1</td><td class='content'>13%</td>"),
              std::string::npos);
}

TEST_F(RunSummaryTest, ConflictRowNeedsCountedConflictsOnTheSource) {
    struct {
        int32_t sourceCounted;
        uint32_t sourceConflicts, targetConflicts;
        bool shown;
    } const cases[] = {{1, 0, 2, true}, {1, 0, 0, false}, {0, 3, 3, false}};
    for (const auto& c : cases) {
        COMPARECOUNTS coms = Side(4, 4, 0, 0, 0), comt = Side(4, 4, 0, 0, 0);
        comt.nConflictsCounted = 1;
        coms.nConflictsCounted = c.sourceCounted;
        coms.nConflictFiles = c.sourceConflicts;
        comt.nConflictFiles = c.targetConflicts;
        comt.nConflictBytes = 700;
        const bool shown =
            Final(comt, coms)
                .find(
                    "<td class='lefthead'>Conflict Files<br>(View Log File for Details)</td><td "
                    "class='content'>" +
                    std::to_string(c.sourceConflicts)) != std::string::npos;
        EXPECT_EQ(shown, c.shown) << c.sourceCounted << c.sourceConflicts << c.targetConflicts;
    }
}

}  // namespace
