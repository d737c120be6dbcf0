#include "platform/host/KernelObject.h"

#include <mutex>
#include <unordered_map>

#include "platform/base/WinError.h"

namespace zbw {
namespace {

// Each live handle value maps to its object; a handle is one reference.
struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, CKernelObject*> live;
    uintptr_t next = 0x1000;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // lives past static destructors of callers
    return *table;
}

}  // namespace

HANDLE NewHandle(CKernelObject* obj) {
    HandleTable& t = Table();
    obj->AddRef();
    std::lock_guard<std::mutex> guard(t.lock);
    uintptr_t value = t.next;
    t.next += 4;
    t.live.emplace(value, obj);
    return reinterpret_cast<HANDLE>(value);
}

HANDLE AddHandle(HANDLE handle) {
    CKernelRef ref = LookupHandle(handle);
    if (!ref) return nullptr;
    return NewHandle(ref.Get());
}

CKernelRef LookupHandle(HANDLE handle) {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.live.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.live.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return CKernelRef();
    }
    it->second->AddRef();
    return CKernelRef(it->second);
}

}  // namespace zbw

BOOL CloseHandle(HANDLE handle) {
    zbw::HandleTable& t = zbw::Table();
    CKernelObject* obj = nullptr;
    {
        std::lock_guard<std::mutex> guard(t.lock);
        auto it = t.live.find(reinterpret_cast<uintptr_t>(handle));
        if (it == t.live.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        obj = it->second;
        t.live.erase(it);
    }
    obj->Release();
    return TRUE;
}
