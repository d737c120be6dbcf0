// CArrayEx: the common base of the system's own arrays (CSortedArray). It adds nothing to
// CArray; it exists so the system's arrays share one type above the class library's.
#pragma once

#include "platform/classlib/Array.h"

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArrayEx : public CArray<TYPE, ARG_TYPE> {};
