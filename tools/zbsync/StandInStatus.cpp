#include "tools/zbsync/StandInStatus.h"

#include <algorithm>
#include <vector>

#include "common/SharedMemory.h"
#include "common/SyncStatusBlocks.h"
#include "platform/base/Clock.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/FileMapping.h"
#include "platform/win32/Thread.h"

namespace {

const DWORD kBlockWaitMs = 10000;
const DWORD kReportPauseMs = 200;
const DWORD kPollMs = 50;
const int kPlannedFiles = 3;

bool MappingExists(const CString& name) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
    if (!mapping) return false;
    CloseHandle(mapping);
    return true;
}

// The text as UTF-16 bytes, cut to the value's size; an empty text clears the value.
void WriteText(CSharedMemory& block, LPCWSTR name, const CString& text) {
    DWORD size = 0;
    if (!block.GetValue(name, nullptr, &size) || size < 2) return;
    const size_t units = std::min<size_t>(text.GetLength(), size / 2);
    std::vector<BYTE> bytes(std::max<size_t>(2 * units, 2), 0);
    for (size_t i = 0; i < units; ++i) {
        bytes[2 * i] = static_cast<BYTE>(text[static_cast<int>(i)] & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>(text[static_cast<int>(i)] >> 8);
    }
    block.SetValue(name, bytes.data(), static_cast<DWORD>(bytes.size()));
}

void WritePercent(CSharedMemory& block, LONG percent) {
    block.SetValue(SYNCSTATUS_PERCENT, &percent, sizeof percent);
}

SYNCCOUNTS PlannedCounts() {
    SYNCCOUNTS counts{};
    counts.nResult = 0;
    counts.target.nFilesAdded = kPlannedFiles;
    counts.target.nBytesAdded = kPlannedFiles * 1024;
    counts.target.nFilesUpdated = 1;
    counts.target.nBytesUpdated = 1024;
    counts.target.nFoldersAdded = 1;
    return counts;
}

COMPARECOUNTS CompareCounts(bool matched) {
    COMPARECOUNTS counts{};
    counts.nFiles = 4;
    counts.nFolders = 1;
    counts.nMatchedFiles = matched ? 4 : 3;
    counts.nSingleFiles = matched ? 0 : 1;
    counts.nMatchedFolders = 1;
    counts.nBytes = 4096;
    counts.nMatchedBytes = matched ? 4096 : 3072;
    counts.nSingleBytes = matched ? 0 : 1024;
    return counts;
}

}  // namespace

CStandInStatus::CStandInStatus(const CString& profilePath, const CStandInSettings& settings, int runId)
    : m_strProfile(profilePath),
      m_settings(settings),
      m_nRunId(runId),
      m_dwProcessId(GetCurrentProcessId()) {}

CStandInStatus::~CStandInStatus() {
    Stop();
}

void CStandInStatus::Start() {
    m_Thread = std::thread([this] { Report(); });
}

void CStandInStatus::Stop() {
    m_bStop = true;
    if (m_Thread.joinable()) m_Thread.join();
}

void CStandInStatus::Report() {
    const int64_t start = zbw::TickNow64();
    if (!WaitForBlocks() || !Attach()) return;
    while (!m_bStop) {
        WriteProgress(start);
        for (DWORD slept = 0; slept < kReportPauseMs && !m_bStop; slept += kPollMs) Sleep(kPollMs);
    }
}

// Both blocks, with the engine's last values added, within the bound or before the run ends.
bool CStandInStatus::WaitForBlocks() {
    const int64_t deadline = zbw::DeadlineAfter(kBlockWaitMs);
    while (!m_bStop && zbw::RemainingUntil(deadline) > 0) {
        if (MappingExists(ProgressBlockName(m_dwProcessId)) &&
            MappingExists(PercentBlockName(m_dwProcessId))) {
            if (!m_pProgress)
                m_pProgress =
                    std::make_unique<CSharedMemory>(ProgressBlockName(m_dwProcessId), kProgressBlockSize);
            if (!m_pPercent)
                m_pPercent =
                    std::make_unique<CSharedMemory>(PercentBlockName(m_dwProcessId), kPercentBlockSize);
            if (m_pProgress->ValueExists(SYNCSTATUS_COMPARE_TARGET) &&
                m_pPercent->ValueExists(SYNCSTATUS_STATUS_TEXT))
                return true;
        }
        Sleep(kPollMs);
    }
    return false;
}

bool CStandInStatus::Attach() {
    if (!m_pProgress->IsOpen() || !m_pPercent->IsOpen()) return false;
    CString id = m_settings.m_strId;
    if (m_settings.m_bDefaultId) id.Format(u"%d", m_nRunId);
    const SYNCCOUNTS todo = PlannedCounts();
    m_pProgress->SetValue(SYNCSTATUS_TODO, &todo, sizeof todo);
    WritePercent(*m_pPercent, 0);
    if (!id.IsEmpty()) WriteText(*m_pProgress, SYNCSTATUS_ID, id);
    m_bAttached = true;
    return true;
}

void CStandInStatus::WriteProgress(int64_t startTick) {
    const double elapsed = static_cast<double>(zbw::TickNow64() - startTick) / 1000.0;
    const double seconds = m_settings.m_dSeconds;
    double share = seconds > 0 ? std::min(elapsed / seconds, 1.0) : 1.0;
    if (m_settings.m_nPercent >= 0) share = m_settings.m_nPercent / 100.0;
    const LONG percent = m_settings.m_nPercent >= 0 ? m_settings.m_nPercent : static_cast<LONG>(share * 100);
    const int file = std::min(kPlannedFiles, 1 + static_cast<int>(share * kPlannedFiles));
    CString text;
    text.Format(u"Synchronizing: %d%%", percent);
    WriteText(*m_pPercent, SYNCSTATUS_STATUS_TEXT, text);
    WritePercent(*m_pPercent, percent);
    WriteText(*m_pProgress, SYNCSTATUS_LINE1, u"Synchronizing");
    WriteText(*m_pProgress, SYNCSTATUS_LINE2, m_strProfile);
    text.Format(u"File %d of %d", file, kPlannedFiles);
    WriteText(*m_pProgress, SYNCSTATUS_LINE3, text);
    text.Format(u"file%d.txt", file);
    WriteText(*m_pProgress, SYNCSTATUS_FILE, text);
}

void CStandInStatus::Finish(int exitCode) {
    Stop();
    if (!m_bAttached) return;
    SYNCCOUNTS done = PlannedCounts();
    done.nResult = exitCode;
    const COMPARECOUNTS source = CompareCounts(exitCode == 0);
    const COMPARECOUNTS target = CompareCounts(true);
    m_pProgress->SetValue(SYNCSTATUS_DONE, &done, sizeof done);
    m_pProgress->SetValue(SYNCSTATUS_COMPARE_SOURCE, &source, sizeof source);
    m_pProgress->SetValue(SYNCSTATUS_COMPARE_TARGET, &target, sizeof target);
    CString text;
    if (exitCode == 0) {
        WritePercent(*m_pPercent, 100);
        WriteText(*m_pPercent, SYNCSTATUS_STATUS_TEXT, u"Finished");
        WriteText(*m_pProgress, SYNCSTATUS_LAST_ERROR, u"");
        return;
    }
    text.Format(u"Ended with exit code %d", exitCode);
    WriteText(*m_pPercent, SYNCSTATUS_STATUS_TEXT, text);
    text.Format(u"Synchronization ended with exit code %d.", exitCode);
    WriteText(*m_pProgress, SYNCSTATUS_LAST_ERROR, text);
}
