// CRegEntry: the base of the profile setting entries (PerString.h, PerInt.h). An entry takes
// its initial value from the application profile (CWinApp's per-application registry store,
// HKCU\Software\<key>\<app>\<section>), reads its value from a profile file's section list and
// may write it back to the application profile when it is destroyed.
//
// Write-back happens only while the process-wide write-back switch is on. It starts on; the
// engine's first profile run item turns it off and nothing in the engine turns it on again, so
// only entries destroyed before that write back. Any thread may read or set the switch.
// Without an application object (or one without a registry key) reads give the default and
// writes do nothing. Entries are not thread-safe: one thread at a time per entry.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

class CRegEntry {
   public:
    CRegEntry() = default;
    CRegEntry(const CRegEntry&) = delete;
    virtual ~CRegEntry() = default;

    // An undeclared entry is neither read nor written.
    bool IsDeclared() const { return m_bDeclared; }
    bool UsesAppProfile() const { return m_bUseAppProfile != 0; }
    void SetUseAppProfile(bool use) { m_bUseAppProfile = use ? 1 : 0; }

    static void SetWriteBack(bool on);
    static bool IsWriteBackOn();

    // The application profile, through the application object.
    static CString GetAppProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue);
    static int GetAppProfileInt(LPCWSTR section, LPCWSTR key, int defaultValue);
    static void WriteAppProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value);
    static void WriteAppProfileInt(LPCWSTR section, LPCWSTR key, int value);

   protected:
    // The flags stay with the object: assigning another entry copies only its values.
    CRegEntry& operator=(const CRegEntry&) { return *this; }

    BYTE m_bUseAppProfile = 1;
    bool m_bDeclared = false;
};
