// CPerStringOfBools: a text setting (PerString.h) that holds one "1" or "0" per item, joined
// by "|" (one flag per source/target folder pair). SplitValues turns the loaded value into the
// flag array: 1 for a part that is exactly "1", 0 for any other. Assignment copies the texts and
// the flags. One thread at a time per object.
#pragma once

#include "dovrane/model/PerString.h"
#include "platform/classlib/Array.h"

class CPerStringOfBools : public CPerString {
   public:
    CPerStringOfBools() = default;
    CPerStringOfBools& operator=(const CPerStringOfBools& other);

    void SplitValues();
    // Sets the first flag (adding it when there is none) and rebuilds the loaded value from the
    // flags.
    void SetFirstFlag();

    const CDWordArray& GetFlags() const { return m_Flags; }

   private:
    CDWordArray m_Flags;
};
