// Reader of the text form that registry hives were kept in before they became databases
// (HiveDatabase.h), so that such a file is brought over once.
//
// Text form (UTF-8, one record a line):
//   ZBW-REGISTRY-HIVE 1                      first line, the format version
//   [Software\ZBEngine\ZBEngine]             a key, its path from the hive root ("[]" is the root)
//   "dbg" REG_DWORD dword:0x00000001         a value of the key above: name, type, data
//   "" REG_SZ text:"C:\x%0000"               the default value (empty name)
//   "raw" REG_BINARY hex:0a0b0c
// Data forms: dword: (4 bytes, little-endian), text:"..." (UTF-16 units; a terminating zero
// shows as %0000) and hex: (any bytes). Types by name when known, else a decimal number. Inside
// [...] and "...", "%XXXX" is one UTF-16 unit (4 hex digits); everything else is plain UTF-8.
// Empty lines and lines starting with "#" are skipped; values before the first key line belong
// to the root.
//
// The reader walks the lines once, in time linear in the text, and hands each key and value to
// the caller; it keeps no tree. Stateless: any thread may call it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

class CHiveText {
   public:
    typedef std::vector<std::u16string> KEYPATH;
    struct VALUE {
        std::u16string name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    // Each returns "" to go on, or why the reading stops.
    typedef std::function<std::string(const KEYPATH& path)> KEYSINK;
    typedef std::function<std::string(const VALUE& value)> VALUESINK;

    // "" when every line was read and taken, else the reason with the line's number.
    static std::string Read(const std::string& text, const KEYSINK& onKey, const VALUESINK& onValue);
};
