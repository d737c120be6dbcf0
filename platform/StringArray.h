// CStringArray: the class library's growable array of CString, with CArray's growth and
// bounds rules (Array.h). Not thread-safe: the owner serialises access.
#pragma once

#include "platform/Array.h"
#include "platform/CString.h"

class CStringArray : public CArray<CString, const CString&> {};
