// CStringArray: the class library's growable array of CString, with CArray's growth and
// bounds rules (Array.h). Not thread-safe: the owner serialises access.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/Array.h"

class CStringArray : public CArray<CString, const CString&> {};
