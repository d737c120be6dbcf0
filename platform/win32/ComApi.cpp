#include "platform/win32/ComApi.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/win32/TaskScheduler.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

struct ThreadApartment {
    int count = 0;
    DWORD model = 0;
};

thread_local ThreadApartment t_apartment;
std::mutex g_comLock;
int g_apartments = 0;
bool g_securitySet = false;

UINT* LengthPrefix(BSTR text) {
    return reinterpret_cast<UINT*>(reinterpret_cast<char*>(text) - sizeof(UINT));
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    size_t length = std::char_traits<char16_t>::length(text);
    char* block = static_cast<char*>(std::malloc(sizeof(UINT) + (length + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    *reinterpret_cast<UINT*>(block) = static_cast<UINT>(length * sizeof(OLECHAR));
    BSTR result = reinterpret_cast<BSTR>(block + sizeof(UINT));
    std::memcpy(result, text, (length + 1) * sizeof(OLECHAR));
    return result;
}

void SysFreeString(BSTR text) {
    if (text) std::free(LengthPrefix(text));
}

UINT SysStringLen(BSTR text) {
    return text ? *LengthPrefix(text) / sizeof(OLECHAR) : 0;
}

void VariantInit(VARIANT* v) {
    v->vt = VT_EMPTY;
    v->lVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    VariantInit(v);
    return S_OK;
}

HRESULT IUnknown::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return IsEqualGUID(riid, IID_IUnknown) ? Give(ppv) : E_NOINTERFACE;
}

ULONG IUnknown::AddRef() {
    return ++m_refs;
}

ULONG IUnknown::Release() {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
}

HRESULT IUnknown::Give(void** ppv) {
    AddRef();
    *ppv = this;
    return S_OK;
}

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
    if (reserved) return E_INVALIDARG;
    DWORD model = coInit & COINIT_APARTMENTTHREADED;
    if (t_apartment.count > 0) {
        if (model != t_apartment.model) return RPC_E_CHANGED_MODE;
        ++t_apartment.count;
        return S_FALSE;
    }
    t_apartment = {1, model};
    std::lock_guard<std::mutex> lock(g_comLock);
    ++g_apartments;
    return S_OK;
}

void CoUninitialize() {
    if (t_apartment.count == 0 || --t_apartment.count > 0) return;
    std::lock_guard<std::mutex> lock(g_comLock);
    if (--g_apartments == 0) g_securitySet = false;
}

HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) {
    if (t_apartment.count == 0) return CO_E_NOTINITIALIZED;
    std::lock_guard<std::mutex> lock(g_comLock);
    if (g_securitySet) return RPC_E_TOO_LATE;
    g_securitySet = true;
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (t_apartment.count == 0) return CO_E_NOTINITIALIZED;
    if (!IsEqualGUID(clsid, CLSID_TaskScheduler) || !(context & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* service = zbw::NewTaskService();
    HRESULT hr = service->QueryInterface(riid, ppv);
    service->Release();
    return hr;
}

namespace zbw {

VARIANT IndexVariant(LONG i) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = i;
    return v;
}

}  // namespace zbw
