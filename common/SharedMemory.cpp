#include "common/SharedMemory.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "platform/base/WinError.h"
#include "platform/classlib/Semaphore.h"
#include "platform/classlib/SingleLock.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/FileMapping.h"
#include "platform/win32/WinVersion.h"

static_assert(std::endian::native == std::endian::little, "the block layout is little-endian");

namespace {

constexpr DWORD kAllAccess = 0x1FFFFF;
constexpr DWORD kAceHeadBytes = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);

}  // namespace

CSharedMemory::CSharedMemory(LPCWSTR name, DWORD size, LPSECURITY_ATTRIBUTES attributes) {
    if (!name || !*name || size < kHeaderBytes || size > 0x7FFFFFFF) {
        Finish(ERROR_INVALID_PARAMETER);
        return;
    }
    if (!PrepareSecurity(attributes)) return;
    m_pSync = std::make_unique<CSemaphore>(1, 1, CString(name) + u"_Sync", GetSecurityAttributes());
    // Without the semaphore the block could not be guarded against the other processes.
    if (!m_pSync->m_hObject) {
        StoreSystemError();
        return;
    }
    CSingleLock lock(m_pSync.get());
    if (!lock.Lock()) {
        StoreSystemError();
        return;
    }
    if (OpenMapping(name, size)) {
        m_bOpen = TRUE;
        m_strName = name;
    }
}

CSharedMemory::~CSharedMemory() {
    if (m_pView) UnmapViewOfFile(m_pView);
    if (m_hMapping) CloseHandle(m_hMapping);
    FreeSid(m_pSidInteractive);
    FreeSid(m_pSidSystem);
    FreeSid(m_pSidService);
}

bool CSharedMemory::PrepareSecurity(LPSECURITY_ATTRIBUTES attributes) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version)) return StoreSystemError();
    m_bNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    if (!m_bNT) return true;
    if (!InitializeSecurityDescriptor(&m_SecurityDescriptor, SECURITY_DESCRIPTOR_REVISION))
        return StoreSystemError();
    m_SecurityAttributes.lpSecurityDescriptor = &m_SecurityDescriptor;
    return attributes ? CopySecurity(attributes) : BuildDefaultSecurity();
}

bool CSharedMemory::CopySecurity(LPSECURITY_ATTRIBUTES attributes) {
    m_SecurityAttributes.nLength = attributes->nLength;
    m_SecurityAttributes.bInheritHandle = attributes->bInheritHandle;
    PSECURITY_DESCRIPTOR source = attributes->lpSecurityDescriptor;
    if (!IsValidSecurityDescriptor(source)) {
        Finish(ERROR_INVALID_PARAMETER);
        return false;
    }
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL sacl = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    bool ok = GetSecurityDescriptorOwner(source, &owner, &defaulted) &&
              SetSecurityDescriptorOwner(&m_SecurityDescriptor, owner, defaulted) &&
              GetSecurityDescriptorGroup(source, &group, &defaulted) &&
              SetSecurityDescriptorGroup(&m_SecurityDescriptor, group, defaulted) &&
              GetSecurityDescriptorSacl(source, &present, &sacl, &defaulted) &&
              SetSecurityDescriptorSacl(&m_SecurityDescriptor, present, sacl, defaulted) &&
              GetSecurityDescriptorDacl(source, &present, &dacl, &defaulted) &&
              SetSecurityDescriptorDacl(&m_SecurityDescriptor, present, dacl, defaulted);
    return ok || StoreSystemError();
}

bool CSharedMemory::BuildDefaultSecurity() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_INTERACTIVE_RID, 0, 0, 0, 0, 0, 0, 0,
                                  &m_pSidInteractive) ||
        !AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &m_pSidSystem) ||
        !AllocateAndInitializeSid(&nt, 1, SECURITY_SERVICE_RID, 0, 0, 0, 0, 0, 0, 0, &m_pSidService))
        return StoreSystemError();
    PSID sids[] = {m_pSidInteractive, m_pSidSystem, m_pSidService};
    DWORD length = sizeof(ACL);
    for (PSID sid : sids) length += kAceHeadBytes + GetLengthSid(sid);
    m_pAcl = std::make_unique<BYTE[]>(length);
    PACL acl = reinterpret_cast<PACL>(m_pAcl.get());
    if (!InitializeAcl(acl, length, ACL_REVISION)) return StoreSystemError();
    for (PSID sid : sids) {
        if (!AddAccessAllowedAce(acl, ACL_REVISION, kAllAccess, sid)) return StoreSystemError();
    }
    if (!SetSecurityDescriptorDacl(&m_SecurityDescriptor, TRUE, acl, FALSE)) return StoreSystemError();
    m_SecurityAttributes.nLength = sizeof m_SecurityAttributes;
    m_SecurityAttributes.bInheritHandle = TRUE;
    return true;
}

bool CSharedMemory::OpenMapping(LPCWSTR name, DWORD size) {
    m_hMapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, GetSecurityAttributes(), PAGE_READWRITE, 0, size, name);
    if (!m_hMapping) return StoreSystemError();
    m_bCreated = ::GetLastError() != ERROR_ALREADY_EXISTS;
    if (!m_bCreated) return MapExisting(size);
    m_pView = MapBytes(size);
    if (!m_pView) return StoreSystemError();
    std::memset(m_pView, 0, size);
    m_dwTotalSize = size;
    Write32(4, static_cast<LONG>(size));
    return true;
}

// The size at offset 4 comes from another process: it is used only when a view of that many
// bytes exists, else the size asked for when that fits, so no access leaves the mapping.
bool CSharedMemory::MapExisting(DWORD size) {
    BYTE* header = MapBytes(kHeaderBytes);
    if (!header) return StoreSystemError();
    LONG stored = 0;
    std::memcpy(&stored, header + 4, sizeof stored);
    UnmapViewOfFile(header);
    if (stored >= static_cast<LONG>(kHeaderBytes)) {
        m_pView = MapBytes(static_cast<DWORD>(stored));
        if (m_pView) {
            m_dwTotalSize = static_cast<DWORD>(stored);
            return true;
        }
    }
    m_pView = MapBytes(size);
    if (!m_pView) return StoreSystemError();
    m_dwTotalSize = size;
    return true;
}

BYTE* CSharedMemory::MapBytes(DWORD bytes) {
    return static_cast<BYTE*>(MapViewOfFile(m_hMapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, bytes));
}

BOOL CSharedMemory::AddValue(LPCWSTR name, DWORD size, const void* data) {
    if (!m_bOpen) return Finish(ERROR_OBJECT_NOT_FOUND);
    CSingleLock lock(m_pSync.get());
    if (!lock.Lock()) return Finish(::GetLastError());
    DWORD code = Append(name, size, data);
    lock.Unlock();
    return Finish(code);
}

BOOL CSharedMemory::SetValue(LPCWSTR name, const void* data, DWORD size) {
    if (!m_bOpen) return Finish(ERROR_OBJECT_NOT_FOUND);
    CSingleLock lock(m_pSync.get());
    if (!lock.Lock()) return Finish(::GetLastError());
    DWORD code = Store(name, data, size);
    lock.Unlock();
    return Finish(code);
}

BOOL CSharedMemory::GetValue(LPCWSTR name, void* buffer, DWORD* size) {
    if (!m_bOpen) return Finish(ERROR_OBJECT_NOT_FOUND);
    CSingleLock lock(m_pSync.get());
    if (!lock.Lock()) return Finish(::GetLastError());
    DWORD code = Fetch(name, buffer, size);
    lock.Unlock();
    return Finish(code);
}

BOOL CSharedMemory::GetText(LPCWSTR name, DWORD maxChars, CString& text) {
    text.Empty();
    if (!m_bOpen) return Finish(ERROR_OBJECT_NOT_FOUND);
    if (!name) return Finish(ERROR_INVALID_PARAMETER);
    CSingleLock lock(m_pSync.get());
    if (!lock.Lock()) return Finish(::GetLastError());
    const WALK walk = Walk(name);
    if (walk.found) {
        const BYTE* data = m_pView + walk.found + kEntryHeadBytes;
        const DWORD units = std::min(walk.foundSize / 2, maxChars);
        std::u16string read;
        for (DWORD i = 0; i < units; ++i) {
            const char16_t ch = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
            if (ch == 0) break;
            read += ch;
        }
        text = CString(std::move(read));
    }
    lock.Unlock();
    return Finish(walk.found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
}

BOOL CSharedMemory::ValueExists(LPCWSTR name) {
    if (!m_bOpen) {
        Finish(ERROR_OBJECT_NOT_FOUND);
        return FALSE;
    }
    CSingleLock lock(m_pSync.get());
    if (!lock.Lock()) {
        Finish(::GetLastError());
        return FALSE;
    }
    bool found = Walk(name).found != 0;
    lock.Unlock();
    m_dwLastError = ERROR_SUCCESS;
    SetLastError(ERROR_SUCCESS);
    return found ? TRUE : FALSE;
}

DWORD CSharedMemory::Append(LPCWSTR name, DWORD size, const void* data) {
    if (!name) return ERROR_INVALID_PARAMETER;
    const size_t length = std::char_traits<char16_t>::length(name);
    if (length + 1 > kNameChars) return RPC_S_STRING_TOO_LONG;
    WALK walk = Walk(name);
    // A negative count is as good as none: start the directory afresh.
    if (walk.count <= 0) {
        std::memset(m_pView + kHeaderBytes, 0, m_dwTotalSize - kHeaderBytes);
        Write32(0, 0);
        walk = WALK();
    }
    if (walk.found) return ERROR_ALREADY_EXISTS;
    if (!walk.whole) return ERROR_OUTOFMEMORY;
    const uint64_t end = uint64_t{walk.end} + kEntryHeadBytes + size;
    if (end > m_dwTotalSize) return ERROR_OUTOFMEMORY;
    Write32(0, walk.count + 1);
    BYTE* entry = m_pView + walk.end;
    std::memset(entry, 0, 2 * kNameChars);
    std::memcpy(entry, name, 2 * length);
    Write32(walk.end + 2 * kNameChars, static_cast<LONG>(size));
    if (data) std::memcpy(entry + kEntryHeadBytes, data, size);
    return ERROR_SUCCESS;
}

DWORD CSharedMemory::Store(LPCWSTR name, const void* data, DWORD size) {
    if (size == 0) return ERROR_BAD_LENGTH;
    if (!name || !data) return ERROR_INVALID_PARAMETER;
    const WALK walk = Walk(name);
    if (!walk.found) return ERROR_FILE_NOT_FOUND;
    if (size > walk.foundSize) return ERROR_NOT_ENOUGH_MEMORY;
    BYTE* target = m_pView + walk.found + kEntryHeadBytes;
    std::memset(target, 0, walk.foundSize);
    std::memcpy(target, data, size);
    return ERROR_SUCCESS;
}

DWORD CSharedMemory::Fetch(LPCWSTR name, void* buffer, DWORD* size) const {
    if (!name || !size) return ERROR_INVALID_PARAMETER;
    const WALK walk = Walk(name);
    if (!walk.found) return ERROR_FILE_NOT_FOUND;
    const DWORD given = *size;
    *size = walk.foundSize;
    if (!buffer) return ERROR_SUCCESS;
    if (given < walk.foundSize) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(buffer, m_pView + walk.found + kEntryHeadBytes, walk.foundSize);
    return ERROR_SUCCESS;
}

CSharedMemory::WALK CSharedMemory::Walk(LPCWSTR name) const {
    WALK walk;
    const size_t length = name ? std::char_traits<char16_t>::length(name) : kNameChars;
    walk.count = Read32(0);
    uint64_t pos = kHeaderBytes;
    for (LONG i = 0; i < walk.count; ++i) {
        if (pos + kEntryHeadBytes > m_dwTotalSize) {
            walk.whole = false;
            break;
        }
        const LONG dataSize = Read32(static_cast<DWORD>(pos) + 2 * kNameChars);
        if (dataSize < 0 || pos + kEntryHeadBytes + static_cast<uint64_t>(dataSize) > m_dwTotalSize) {
            walk.whole = false;
            break;
        }
        if (!walk.found && NameAt(static_cast<DWORD>(pos), name, length)) {
            walk.found = static_cast<DWORD>(pos);
            walk.foundSize = static_cast<DWORD>(dataSize);
        }
        pos += kEntryHeadBytes + static_cast<uint64_t>(dataSize);
    }
    walk.end = static_cast<DWORD>(pos);
    return walk;
}

// The stored name may lack its zero (another writer): only the units up to the caller's zero
// are compared, and a name of 40 or more units matches nothing.
bool CSharedMemory::NameAt(DWORD entry, LPCWSTR name, size_t length) const {
    if (length >= kNameChars) return false;
    char16_t stored[kNameChars];
    std::memcpy(stored, m_pView + entry, sizeof stored);
    return std::char_traits<char16_t>::compare(stored, name, length + 1) == 0;
}

LONG CSharedMemory::Read32(DWORD offset) const {
    LONG value = 0;
    std::memcpy(&value, m_pView + offset, sizeof value);
    return value;
}

void CSharedMemory::Write32(DWORD offset, LONG value) {
    std::memcpy(m_pView + offset, &value, sizeof value);
}

BOOL CSharedMemory::Finish(DWORD code) {
    m_dwLastError = code;
    if (code != ERROR_SUCCESS) SetLastError(code);
    return code == ERROR_SUCCESS ? TRUE : FALSE;
}

bool CSharedMemory::StoreSystemError() {
    m_dwLastError = ::GetLastError();
    return false;
}
