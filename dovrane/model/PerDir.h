// CPerDir: a folder setting of a profile file, one folder or several joined by "|"; a text
// setting (PerString.h) with a display label and five flags for the folder's use, of which
// the third and fourth start set. The flags are the owner's to set and read; this class gives
// them no meaning. A flag index outside 0 .. 4 throws CInvalidArgException. Assignment copies
// the texts, the label and the flags. One thread at a time per object.
#pragma once

#include <array>

#include "dovrane/model/PerString.h"

class CPerDir : public CPerString {
   public:
    static constexpr int FlagCount = 5;

    CPerDir();
    CPerDir& operator=(const CPerDir& other);

    void SetLabel(const CString& label) { m_strLabel = label; }
    const CString& GetLabel() const { return m_strLabel; }
    bool GetFlag(int index) const;
    void SetFlag(int index, bool on);

   private:
    std::array<bool, FlagCount> m_bFlags;
    CString m_strLabel;
};
