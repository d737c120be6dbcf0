#include "common/CommStatus.h"

#include "common/DebugPrintf.h"
#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/FileMapping.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Thread.h"
#include "platform/win32/WinVersion.h"

namespace {

constexpr DWORD kLocalAliveMs = 10000;

bool MappingExists(LPCWSTR name) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
    if (!mapping) return false;
    CloseHandle(mapping);
    return true;
}

}  // namespace

CCommStatus::CCommStatus() : CCommStatus(FALSE, TRUE) {}

CCommStatus::CCommStatus(BOOL client, BOOL defer) : m_bClient(client) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    m_bVista = GetVersionExW(&version) && version.dwMajorVersion > 5;
    InitializeSecurityDescriptor(&m_SecurityDescriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&m_SecurityDescriptor, TRUE, nullptr, FALSE);
    m_SecurityAttributes.nLength = sizeof m_SecurityAttributes;
    m_SecurityAttributes.lpSecurityDescriptor = &m_SecurityDescriptor;
    m_SecurityAttributes.bInheritHandle = FALSE;
    if (!defer) Open();
}

CCommStatus::~CCommStatus() = default;

void CCommStatus::Open() {
    m_pMem.reset();
    if (m_bVista) {
        OpenVista();
    } else {
        OpenBeforeVista();
    }
    if (m_pMem) m_pMem->AddValues();
}

void CCommStatus::Close() {
    m_pMem.reset();
}

CString CCommStatus::GetName() const {
    return m_pMem ? m_pMem->GetName() : CString();
}

void CCommStatus::OpenVista() {
    const bool globalExisted = MappingExists(COMMSTATUS_NAME_GLOBAL);
    const bool privileged = EnableGlobalPrivilege();
    if (!privileged) Log(u"SeCreateGlobalPrivilege: privilege not enabled");
    std::unique_ptr<CCommStatusMem> global;
    bool globalUsable = false;
    if (privileged || globalExisted) {
        global = MakeBlock(COMMSTATUS_NAME_GLOBAL);
        globalUsable = Usable(*global);
        if (globalExisted && globalUsable) {
            m_pMem = std::move(global);
            return;
        }
    }
    std::unique_ptr<CCommStatusMem> local = MakeBlock(COMMSTATUS_NAME_LOCAL);
    const bool localUsable = Usable(*local);
    const bool localAlive = localUsable && local->IsAlive(kLocalAliveMs);
    if (!m_bClient && localUsable && localAlive) {
        m_pMem = std::move(local);
    } else if (globalUsable) {
        m_pMem = std::move(global);
    } else if (localUsable) {
        m_pMem = std::move(local);
    }
}

void CCommStatus::OpenBeforeVista() {
    HANDLE test = CreateEventW(&m_SecurityAttributes, TRUE, FALSE, COMMSTATUS_TEST_EVENT);
    LPCWSTR name = test ? COMMSTATUS_NAME_OLD_GLOBAL : COMMSTATUS_NAME_OLD;
    if (test) CloseHandle(test);
    std::unique_ptr<CCommStatusMem> block = MakeBlock(name);
    if (block->IsOpen()) m_pMem = std::move(block);
}

std::unique_ptr<CCommStatusMem> CCommStatus::MakeBlock(LPCWSTR name) {
    auto block = std::make_unique<CCommStatusMem>(name, &m_SecurityAttributes);
    if (!block->IsOpen()) Log(u"SharedMem %s creation failed.", name);
    return block;
}

bool CCommStatus::Usable(const CCommStatusMem& block) const {
    return block.IsOpen() && !(m_bClient && block.IsCreated());
}

void CCommStatus::Log(LPCWSTR format, LPCWSTR name) const {
    if (m_bClient) return;
    if (name) {
        g_DebugPrintf.Print(format, name);
    } else {
        g_DebugPrintf.Print(format);
    }
}

void CCommStatus::SendCommand(int type, LPCWSTR text) {
    if (m_pMem) m_pMem->WriteCommand(type, text);
}

BOOL CCommStatus::ReadCommand(int& type, CString& text) {
    if (m_pMem) return m_pMem->ReadCommand(type, text);
    type = COMMSTATUS_IDLE;
    text.Empty();
    return FALSE;
}

BOOL CCommStatus::ExchangeCommand(LPCWSTR command, DWORD timeoutMs, CString& answer) {
    int type = COMMSTATUS_IDLE;
    ReadCommand(type, answer);
    answer.Empty();
    if (!m_pMem) return FALSE;
    SendCommand(COMMSTATUS_COMMAND, command);
    const int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    for (;;) {
        CString text;
        if (ReadCommand(type, text) && type == COMMSTATUS_ANSWER) {
            answer = text;
            return TRUE;
        }
        if (zbw::RemainingUntil(deadline) == 0) return FALSE;
        Sleep(COMMSTATUS_CLIENT_POLL_MS);
    }
}

BOOL CCommStatus::IsAlive(DWORD timeoutMs) {
    return m_pMem && m_pMem->IsAlive(timeoutMs);
}

BOOL CCommStatus::SetTime(DWORD tick) {
    return m_pMem && m_pMem->WriteTime(tick);
}

BOOL CCommStatus::EnableGlobalPrivilege() {
    LUID luid{};
    if (!LookupPrivilegeValueW(nullptr, SE_CREATE_GLOBAL_NAME, &luid)) return FALSE;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return FALSE;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
    const BOOL enabled = ::GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return enabled;
}
