#include "common/CommStatusMem.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/base/Clock.h"
#include "platform/classlib/Semaphore.h"
#include "platform/classlib/SingleLock.h"

namespace {

constexpr const char16_t kType[] = u"type";
constexpr const char16_t kCount[] = u"count";
constexpr const char16_t kTime[] = u"time";
constexpr const char16_t kCommand[] = u"command";

}  // namespace

CCommStatusMem::CCommStatusMem(LPCWSTR name, LPSECURITY_ATTRIBUTES attributes)
    : CSharedMemory(name, COMMSTATUS_BLOCK_SIZE, attributes) {
    if (IsOpen())
        m_pSync2 = std::make_unique<CSemaphore>(1, 1, GetName() + u"_Sync2", GetSecurityAttributes());
}

CCommStatusMem::~CCommStatusMem() = default;

void CCommStatusMem::AddValues() {
    const LONG zero = 0;
    for (LPCWSTR name : {kType, kCount, kTime}) {
        if (!ValueExists(name)) AddValue(name, sizeof zero, &zero);
    }
    if (!ValueExists(kCommand)) AddValue(kCommand, COMMSTATUS_COMMAND_BYTES);
    if (IsCreated()) WriteCommand(COMMSTATUS_IDLE, u" ");
}

void CCommStatusMem::WriteCommand(int type, LPCWSTR text) {
    if (!m_pSync2) return;
    CSingleLock lock(m_pSync2.get());
    if (!lock.Lock()) return;
    // Any process may have written the count: it wraps rather than overflows.
    const LONG count = static_cast<LONG>(static_cast<ULONG>(ReadInt(kCount)) + 1u);
    SetValue(kType, &type, sizeof type);
    SetValue(kCount, &count, sizeof count);
    const size_t length = text ? std::char_traits<char16_t>::length(text) : 0;
    // The value store refuses 0 bytes, which would leave the previous text under the new count.
    const char16_t empty = 0;
    const DWORD bytes = static_cast<DWORD>(std::min<size_t>(2 * length, COMMSTATUS_TEXT_BYTES));
    SetValue(kCommand, length ? text : &empty, length ? bytes : sizeof empty);
}

BOOL CCommStatusMem::ReadCommand(int& type, CString& text) {
    type = COMMSTATUS_IDLE;
    text.Empty();
    if (!m_pSync2) return FALSE;
    CSingleLock lock(m_pSync2.get());
    if (!lock.Lock()) return FALSE;
    type = ReadInt(kType);
    m_nCountRead = ReadInt(kCount);
    GetText(kCommand, COMMSTATUS_COMMAND_BYTES / 2, text);
    lock.Unlock();
    const BOOL changed = m_nCountRead != m_nCountSeen;
    m_nCountSeen = m_nCountRead;
    return changed;
}

BOOL CCommStatusMem::WriteTime(DWORD tick) {
    return SetValue(kTime, &tick, sizeof tick);
}

BOOL CCommStatusMem::IsAlive(DWORD timeoutMs) {
    DWORD time = 0;
    DWORD size = sizeof time;
    if (!GetValue(kTime, &time, &size) || time == 0) return FALSE;
    // Signed: a heartbeat written just after this reader took its tick lies a little ahead.
    const int64_t age = static_cast<int32_t>(GetTickCount() - time);
    return age <= static_cast<int64_t>(timeoutMs) && -age <= static_cast<int64_t>(timeoutMs) ? TRUE : FALSE;
}

LONG CCommStatusMem::ReadInt(LPCWSTR name) {
    LONG value = 0;
    DWORD size = sizeof value;
    return GetValue(name, &value, &size) ? value : 0;
}
