#include "platform/win32/FileMapping.h"

#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "platform/base/WinError.h"

namespace {

constexpr uint64_t kGranularity = 0x10000;

struct VIEW {
    size_t length;
    CKernelRef mapping;  // a view holds its mapping (and name) like a handle does
};

struct VIEWS {
    std::mutex lock;
    std::map<const void*, VIEW> live;
};

VIEWS& Views() {
    static VIEWS* views = new VIEWS;  // lives past static destructors of callers
    return *views;
}

HANDLE CreateUnnamed(uint64_t size, bool writable) {
    int fd = memfd_create("zbw-mapping", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        zbw::SetLastErrorFromErrno();
        if (fd >= 0) close(fd);
        return nullptr;
    }
    HANDLE handle = zbw::NewHandle(new CFileMappingObject(fd, 0, size, writable, nullptr));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

HANDLE OpenNamed(LPCWSTR name, bool create, uint64_t size, bool writable) {
    bool existed = false;
    std::unique_ptr<zbw::CNamedObject> named = zbw::CNamedObject::Open(
        name, zbw::NamedKind::Mapping, create, size, [](void*) {}, &existed);
    if (!named) return nullptr;
    uint64_t dataSize = named->DataSize();
    int dataFd = named->Fd();
    HANDLE handle = zbw::NewHandle(
        new CFileMappingObject(dataFd, zbw::CNamedObject::kDataOffset, dataSize, writable, std::move(named)));
    SetLastError(create && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

}  // namespace

CFileMappingObject::CFileMappingObject(int fd, uint64_t dataOffset, uint64_t size, bool writable,
                                       std::unique_ptr<zbw::CNamedObject> named)
    : m_fd(fd), m_dataOffset(dataOffset), m_size(size), m_writable(writable), m_named(std::move(named)) {}

CFileMappingObject::~CFileMappingObject() {
    if (!m_named) close(m_fd);
}

void* CFileMappingObject::Map(bool write, uint64_t offset, SIZE_T bytes) {
    if (write && !m_writable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (offset % kGranularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    if (offset >= m_size || bytes > m_size - offset) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t length = bytes ? bytes : static_cast<size_t>(m_size - offset);
    void* view = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, m_fd,
                      static_cast<off_t>(m_dataOffset + offset));
    if (view == MAP_FAILED) {
        zbw::SetLastErrorFromErrno();
        return nullptr;
    }
    AddRef();
    std::lock_guard<std::mutex> guard(Views().lock);
    Views().live.emplace(view, VIEW{length, CKernelRef(this)});
    return view;
}

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCWSTR name) {
    if (file != INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    DWORD page = protect & ~SEC_COMMIT;
    uint64_t size = (static_cast<uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    if ((page != PAGE_READONLY && page != PAGE_READWRITE) || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!name || !*name) return CreateUnnamed(size, page == PAGE_READWRITE);
    return OpenNamed(name, true, size, page == PAGE_READWRITE);
}

HANDLE OpenFileMappingW(DWORD access, BOOL, LPCWSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return OpenNamed(name, false, 0, (access & FILE_MAP_WRITE) != 0);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
    CKernelRef ref = zbw::LookupHandle(mapping);
    if (!ref) return nullptr;
    auto* object = ref.As<CFileMappingObject>();
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    return object->Map((access & FILE_MAP_WRITE) != 0, offset, bytes);
}

BOOL UnmapViewOfFile(LPCVOID address) {
    CKernelRef mapping;
    {
        std::lock_guard<std::mutex> guard(Views().lock);
        auto it = Views().live.find(address);
        if (it == Views().live.end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        munmap(const_cast<void*>(address), it->second.length);
        mapping = it->second.mapping;
        Views().live.erase(it);
    }
    return TRUE;
}
