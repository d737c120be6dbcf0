// The little of COM that the task-scheduler client needs: GUIDs, BSTR and VARIANT, apartments,
// process security and in-process object creation.
//
// Apartments are counted per thread (CoInitializeEx / CoUninitialize); a thread asking for the
// other model gets RPC_E_CHANGED_MODE, a repeated call S_FALSE. Process security
// (CoInitializeSecurity) is set once: a second call gets RPC_E_TOO_LATE until the last apartment
// of the process has been uninitialised, when COM forgets it, as it does on Windows after a full
// shutdown. A thread that ends without CoUninitialize keeps its apartment counted.
// CoCreateInstance knows one class, the task scheduler (TaskScheduler.h), in process only.
//
// Objects are plain C++ classes with COM's reference counting: a new object starts with one
// reference, Release deletes it at zero. No marshalling, no proxies, no registry of classes.
// The state lives in one copy of the platform library: a shared object that links its own copy
// shares the caller's apartments only when the program exports its symbols (ENABLE_EXPORTS).
//
// Any thread may call these functions.
#pragma once

#include <atomic>

#include "platform/base/WinError.h"
#include "platform/base/WinTypes.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFIID;
typedef const GUID& REFCLSID;

inline bool IsEqualGUID(REFIID a, REFIID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

extern const IID IID_IUnknown;

typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef short VARIANT_BOOL;
#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

// A length-prefixed copy of text (nullptr gives nullptr); free with SysFreeString.
BSTR SysAllocString(const OLECHAR* text);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

typedef unsigned short VARTYPE;
enum VARENUM : VARTYPE { VT_EMPTY = 0, VT_NULL = 1, VT_I4 = 3, VT_BSTR = 8, VT_BOOL = 11 };

struct VARIANT {
    VARTYPE vt;
    union {
        LONG lVal;
        BSTR bstrVal;
        VARIANT_BOOL boolVal;
    };
};

void VariantInit(VARIANT* v);
// Frees a BSTR the variant holds and makes it empty.
HRESULT VariantClear(VARIANT* v);

namespace zbw {
// A VT_I4 variant, as collections take their 1-based index.
VARIANT IndexVariant(LONG i);
}  // namespace zbw

// The base of every object: reference counting and interface lookup.
class IUnknown {
   public:
    IUnknown(const IUnknown&) = delete;
    IUnknown& operator=(const IUnknown&) = delete;
    // IID_IUnknown and whatever a class adds; E_NOINTERFACE otherwise.
    virtual HRESULT QueryInterface(REFIID riid, void** ppv);
    ULONG AddRef();
    ULONG Release();

   protected:
    IUnknown() = default;
    virtual ~IUnknown() = default;
    // Hands out this object under a new reference.
    HRESULT Give(void** ppv);

   private:
    std::atomic<ULONG> m_refs{1};
};

// Holds one interface reference and drops it on scope exit, so every exit releases what it got.
template <class T>
class CComRef {
   public:
    CComRef() = default;
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;
    ~CComRef() {
        if (m_p) m_p->Release();
    }
    T** operator&() { return &m_p; }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }

   private:
    T* m_p = nullptr;
};

#define COINIT_MULTITHREADED 0x0u
#define COINIT_APARTMENTTHREADED 0x2u
#define CLSCTX_INPROC_SERVER 0x1u
#define RPC_C_AUTHN_LEVEL_PKT_PRIVACY 6u
#define RPC_C_IMP_LEVEL_IMPERSONATE 3u
#define EOAC_NONE 0u
#define CLASS_E_NOAGGREGATION (static_cast<HRESULT>(0x80040110u))

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();
// CO_E_NOTINITIALIZED on a thread without an apartment; RPC_E_TOO_LATE when already set.
HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices,
                             void* reserved1, DWORD authnLevel, DWORD impLevel, void* authList,
                             DWORD capabilities, void* reserved3);
// CO_E_NOTINITIALIZED without an apartment, REGDB_E_CLASSNOTREG for an unknown class or a
// context without CLSCTX_INPROC_SERVER, CLASS_E_NOAGGREGATION with an outer object.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
