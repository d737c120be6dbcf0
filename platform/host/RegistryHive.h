// One registry hive in memory and its text file form.
//
// A hive is a tree of keys; each key has a name, typed values (raw bytes) and
// subkeys. Names compare without regard to case and keep the case they were
// made with. Key names never contain "\" (paths split there); value names may
// hold any character, "\" included.
//
// File form (UTF-8 text, one record a line, so an operator can read and diff
// it):
//   ZBW-REGISTRY-HIVE 1                 first line, the format version
//   [Software\ZBEngine\ZBEngine]         a key, its path from the hive root
//   ("[]" is the root) "dbg" REG_DWORD dword:0x00000001     a value of the key
//   above: name, type, data
//   "" REG_SZ text:"C:\x%0000"           the default value (empty name)
//   "raw" REG_BINARY hex:0a0b0c
// Data forms: dword: (exactly 4 bytes, little-endian on disk), text:"..."
// (UTF-16 units, so an even byte count; a terminating zero shows as %0000) and
// hex: (any bytes). Types are written by name when known, else as a decimal
// number. Inside [...] and "...", the characters "%",
// '"', controls, DEL and lone surrogates are written as %XXXX (one UTF-16 unit,
// 4 hex digits); everything else is plain UTF-8. Empty lines and lines starting
// with "#" are skipped. Every key is written, also empty ones, parents before
// children.
//
// Not thread-safe; each caller works on its own copy (CHiveFile loads a fresh
// one per call).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

namespace zbw {
// Case-insensitive comparison of registry names: the simple upper-case mapping
// of ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and full-width Latin,
// unit by unit.
bool RegNamesEqual(const std::u16string& a, const std::u16string& b);
}  // namespace zbw

class CRegistryHive {
   public:
    struct VALUE {
        std::u16string name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };

    class CKey {
       public:
        explicit CKey(std::u16string name) : m_name(std::move(name)) {}
        CKey(const CKey&) = delete;
        CKey& operator=(const CKey&) = delete;

        const std::u16string& Name() const { return m_name; }
        const std::vector<std::unique_ptr<CKey>>& Subkeys() const { return m_subkeys; }
        const std::vector<VALUE>& Values() const { return m_values; }

        CKey* FindSubkey(const std::u16string& name) const;
        // The existing subkey of that name, else a new one.
        CKey* AddSubkey(const std::u16string& name);
        bool RemoveSubkey(const std::u16string& name);

        const VALUE* FindValue(const std::u16string& name) const;
        // An existing value keeps the case of its name.
        void SetValue(const std::u16string& name, DWORD type, std::vector<BYTE> data);
        bool RemoveValue(const std::u16string& name);

       private:
        std::u16string m_name;
        std::vector<VALUE> m_values;
        std::vector<std::unique_ptr<CKey>> m_subkeys;
    };

    CRegistryHive() : m_root(std::make_unique<CKey>(std::u16string())) {}

    CKey& Root() { return *m_root; }
    // The key at a path of names below the root; null when one is missing.
    CKey* Find(const std::vector<std::u16string>& path) const;
    // Makes the missing keys of a path and returns the last; `created` says
    // whether any was made.
    CKey* Create(const std::vector<std::u16string>& path, bool* created);

    std::string ToText() const;
    // Replaces the tree with the text's; false (and an empty tree) when a line is
    // malformed.
    bool FromText(const std::string& text);

   private:
    std::unique_ptr<CKey> m_root;
};
