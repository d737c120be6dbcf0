// The printf-style formatter behind CString::Format, AppendFormat and wvsprintfW, with the
// meaning Windows gives the codes in wide formats: %s, %ls, %ws wide text; %S, %hs narrow (ANSI)
// text; %c wide character, %C, %hc narrow; %d %i %u %x %X %o %p %e %E %f %g %G %a %%, flags
// "-+ 0#", width and precision (also "*"), sizes h, hh, l (32-bit), ll, I64, I32, I, z, L.
// Any thread may call it; it keeps no state.
//
// Arguments are typed (CFormatArg), so the formatter knows what each one is:
// - %d, %i, %u, %x, %X, %o read the argument as 32 bits (as Windows does with int and long),
//   %I64/%ll as 64 bits (a 32-bit argument is widened by its own signedness), %h as 16 bits.
// - Text prints as what it is, whatever the code: a narrow argument to %s is converted from the
//   ANSI code page, a wide one to %S prints unchanged. Text stops at its first NUL; a null
//   pointer prints "(null)". A character argument to %c/%C prints as what it is; an integer
//   to %c is a UTF-16 unit, to %C a byte of the ANSI code page.
// - A non-text argument to %s prints its value (integers in decimal, floats as %g, pointers as
//   %p); text to a number code prints its address, as Windows would.
// - A missing argument prints nothing; extra arguments are ignored; an unknown code prints its
//   letter.
// - %p is the pointer in upper-case hex, 16 digits; %e has two exponent digits; infinities and
//   NaN print as "inf", "-inf", "nan".
// A CFormatArgs list points into its arguments: it is valid only while they live, so make it
// in the call that uses it or from named variables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/base/WinTypes.h"

class CString;

namespace zbw {

template <class>
inline constexpr bool kAlwaysFalse = false;

class CFormatArg {
   public:
    enum class Kind { Signed, Unsigned, Float, WideChar, NarrowChar, WideText, NarrowText, Pointer };

    CFormatArg(const CString& text);

    template <class T>
    requires(!std::is_base_of_v<CString, T>) CFormatArg(const T& value) {
        using D = std::remove_cv_t<T>;
        if constexpr (std::is_array_v<D>) {
            SetArray(value);
        } else if constexpr (std::is_same_v<D, bool>) {
            SetInteger(Kind::Unsigned, value ? 1 : 0);
        } else if constexpr (std::is_same_v<D, char16_t>) {
            SetInteger(Kind::WideChar, value);
        } else if constexpr (std::is_same_v<D, char>) {
            SetInteger(Kind::NarrowChar, static_cast<unsigned char>(value));
        } else if constexpr (std::is_enum_v<D>) {
            SetIntegral(static_cast<std::underlying_type_t<D>>(value));
        } else if constexpr (std::is_integral_v<D>) {
            SetIntegral(value);
        } else if constexpr (std::is_floating_point_v<D>) {
            m_kind = Kind::Float;
            m_float = static_cast<double>(value);
        } else if constexpr (std::is_same_v<D, std::u16string> || std::is_same_v<D, std::u16string_view>) {
            SetText(Kind::WideText, value.data(), value.size());
        } else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view>) {
            SetText(Kind::NarrowText, value.data(), value.size());
        } else if constexpr (std::is_null_pointer_v<D>) {
            SetPointer(nullptr);
        } else if constexpr (std::is_pointer_v<D>) {
            SetPointerOrText(value);
        } else {
            static_assert(kAlwaysFalse<T>, "this type cannot be formatted");
        }
    }

    Kind GetKind() const { return m_kind; }
    bool IsText() const { return m_kind == Kind::WideText || m_kind == Kind::NarrowText; }
    // The value widened to 64 bits by the argument's own signedness (addresses for text and
    // pointers, the truncated value for floats).
    uint64_t GetBits() const;
    bool IsSignedValue() const { return m_kind == Kind::Signed; }
    double GetFloat() const;
    const void* GetTextData() const { return m_text; }
    // Units (or bytes) of text; reading stops at a NUL before this.
    size_t GetTextLength() const { return m_length; }

   private:
    template <class I>
    void SetIntegral(I value) {
        if constexpr (std::is_signed_v<I>) {
            SetInteger(Kind::Signed, static_cast<uint64_t>(static_cast<int64_t>(value)));
        } else {
            SetInteger(Kind::Unsigned, static_cast<uint64_t>(value));
        }
    }
    template <class A>
    void SetArray(const A& array) {
        using E = std::remove_cv_t<std::remove_extent_t<A>>;
        if constexpr (std::is_same_v<E, char16_t>) {
            SetText(Kind::WideText, array, std::extent_v<A>);
        } else if constexpr (std::is_same_v<E, char>) {
            SetText(Kind::NarrowText, array, std::extent_v<A>);
        } else {
            SetPointer(array);
        }
    }
    template <class P>
    void SetPointerOrText(P pointer) {
        using E = std::remove_cv_t<std::remove_pointer_t<P>>;
        if constexpr (std::is_same_v<E, char16_t>) {
            SetText(Kind::WideText, pointer, SIZE_MAX);
        } else if constexpr (std::is_same_v<E, char>) {
            SetText(Kind::NarrowText, pointer, SIZE_MAX);
        } else {
            SetPointer(reinterpret_cast<const void*>(pointer));
        }
    }
    void SetInteger(Kind kind, uint64_t bits) {
        m_kind = kind;
        m_bits = bits;
    }
    void SetText(Kind kind, const void* text, size_t length) {
        m_kind = kind;
        m_text = text;
        m_length = text ? length : 0;
    }
    void SetPointer(const void* pointer) {
        m_kind = Kind::Pointer;
        m_text = pointer;
    }

    Kind m_kind = Kind::Signed;
    uint64_t m_bits = 0;
    double m_float = 0;
    const void* m_text = nullptr;
    size_t m_length = 0;
};

// A packaged argument list, so a variadic function can hand its arguments on.
class CFormatArgs {
   public:
    CFormatArgs() = default;
    template <class... A>
    explicit CFormatArgs(const A&... args) : m_args{CFormatArg(args)...} {}

    size_t GetCount() const { return m_args.size(); }
    // nullptr past the end.
    const CFormatArg* GetAt(size_t index) const { return index < m_args.size() ? &m_args[index] : nullptr; }

   private:
    std::vector<CFormatArg> m_args;
};

enum class FormatRules {
    Runtime,   // the C runtime's wide printf
    WsPrintf,  // wvsprintfW: float codes take their argument and print nothing
};

// Appends the formatted text to out, stopping once out holds maxLength units.
void AppendFormatted(std::u16string& out, LPCWSTR format, const CFormatArgs& args,
                     FormatRules rules = FormatRules::Runtime, size_t maxLength = SIZE_MAX);

}  // namespace zbw

// Writes at most 1024 units including the terminator (so 1023 of text) and returns the units
// written before it; no floating-point conversions. A null out or format writes nothing and
// returns 0.
int wvsprintfW(LPWSTR out, LPCWSTR format, const zbw::CFormatArgs& args);

template <class... A>
int wsprintfW(LPWSTR out, LPCWSTR format, const A&... args) {
    return wvsprintfW(out, format, zbw::CFormatArgs(args...));
}
