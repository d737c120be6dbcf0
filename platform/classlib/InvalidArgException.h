// CInvalidArgException: the class library's invalid-argument exception.
//
// Collections throw it for an index outside their bounds and for other arguments that only a
// programming error produces; nothing in the system catches it on the normal paths. Unlike the
// class library it is thrown and caught by value (no heap object to delete). Any thread.
#pragma once

#include <stdexcept>

class CInvalidArgException : public std::invalid_argument {
   public:
    CInvalidArgException() : std::invalid_argument("invalid argument") {}
    explicit CInvalidArgException(const char* what) : std::invalid_argument(what) {}
};

[[noreturn]] inline void AfxThrowInvalidArgException() {
    throw CInvalidArgException();
}
