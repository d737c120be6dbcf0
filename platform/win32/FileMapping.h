// Shared memory: CreateFileMappingW, OpenFileMappingW, MapViewOfFile, UnmapViewOfFile.
//
// Only memory backed by the system (hFile INVALID_HANDLE_VALUE) is provided; mapping a file
// handle fails with ERROR_NOT_SUPPORTED. A named mapping is a file in the emulation root whose
// data is zero-filled at creation and mapped MAP_SHARED by every view, so every process of the
// root that opens the name sees the same bytes; it keeps the Windows names and lifetime
// (NamedObject.h): the name lives while any handle or view of any process holds it. Creating a
// name that exists opens it with ERROR_ALREADY_EXISTS, and the existing size wins. An unnamed
// mapping is private memory of this process. PAGE_READONLY and PAGE_READWRITE are kept (also
// with SEC_COMMIT); a write view of a read-only mapping or handle fails with
// ERROR_ACCESS_DENIED. Security attributes and inheritance are accepted and ignored.
// Thread-safe.
#pragma once

#include <memory>

#include "platform/host/KernelObject.h"
#include "platform/host/NamedObject.h"

#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define SEC_COMMIT 0x08000000u
#define FILE_MAP_COPY 0x0001u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

class CFileMappingObject : public CKernelObject {
   public:
    // Takes the descriptor of the data; named keeps the name alive (null for unnamed).
    CFileMappingObject(int fd, uint64_t dataOffset, uint64_t size, bool writable,
                       std::unique_ptr<zbw::CNamedObject> named);
    ~CFileMappingObject() override;

    // A view of bytes (0 = to the end) from offset; null with the last error set.
    void* Map(bool write, uint64_t offset, SIZE_T bytes);

   private:
    int m_fd;
    uint64_t m_dataOffset;
    uint64_t m_size;
    bool m_writable;
    std::unique_ptr<zbw::CNamedObject> m_named;
};

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCWSTR name);
HANDLE OpenFileMappingW(DWORD access, BOOL inherit, LPCWSTR name);
// The offset must be a multiple of 64 KB (ERROR_MAPPED_ALIGNMENT); a view past the end fails
// with ERROR_INVALID_PARAMETER. A view keeps its mapping alive after the handle is closed.
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID address);
