// CPerFile: a file setting of a profile file; a text setting (PerString.h) with two flags for
// the file's use, both starting clear, which the owner sets and reads (this class gives them no
// meaning; an index outside 0 .. 1 throws CInvalidArgException). SetPath gives the entry a path
// that did not come from the file, such as the profile file's own. Assignment copies the texts
// and the flags. One thread at a time per object.
#pragma once

#include <array>

#include "dovrane/model/PerString.h"

class CPerFile : public CPerString {
   public:
    static constexpr int FlagCount = 2;

    CPerFile() = default;
    CPerFile& operator=(const CPerFile& other);

    // Stores the path as the loaded value.
    void SetPath(const CString& path) { m_strLoaded = path; }
    bool GetFlag(int index) const;
    void SetFlag(int index, bool on);

   private:
    std::array<bool, FlagCount> m_bFlags{};
};
