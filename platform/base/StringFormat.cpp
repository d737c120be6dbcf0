#include "platform/base/StringFormat.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "platform/base/CString.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"

namespace {

enum class ArgSize { Default, Char, Short, Long, LongLong, Wide, LongDouble };

struct CConversion {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    ArgSize size = ArgSize::Default;
    char16_t code = 0;
};

// Output that stops growing at a limit.
class CSink {
   public:
    CSink(std::u16string& out, size_t limit) : m_out(out), m_limit(limit) {}

    void Put(char16_t ch, size_t count = 1) {
        const size_t room = Room();
        m_out.append(count < room ? count : room, ch);
    }
    void Put(std::u16string_view text) { m_out.append(text.substr(0, Room())); }
    void PutAscii(std::string_view text) {
        for (size_t i = 0; i < text.size() && Room(); ++i) m_out += static_cast<char16_t>(text[i]);
    }
    bool Full() const { return Room() == 0; }

   private:
    size_t Room() const { return m_out.size() < m_limit ? m_limit - m_out.size() : 0; }

    std::u16string& m_out;
    size_t m_limit;
};

class CFormatter {
   public:
    CFormatter(CSink& sink, const zbw::CFormatArgs& args, zbw::FormatRules rules)
        : m_sink(sink), m_args(args), m_rules(rules) {}

    void Run(LPCWSTR format) {
        const char16_t* p = format;
        while (*p && !m_sink.Full()) {
            if (*p != u'%') {
                m_sink.Put(*p++);
                continue;
            }
            ++p;
            if (*p == u'%') {
                m_sink.Put(*p++);
                continue;
            }
            CConversion conv;
            p = Parse(p, conv);
            if (!conv.code) break;
            Convert(conv);
        }
    }

   private:
    const zbw::CFormatArg* Next() { return m_args.GetAt(m_next++); }

    int NextInt() {
        const zbw::CFormatArg* arg = Next();
        return arg ? static_cast<int>(static_cast<int32_t>(arg->GetBits())) : 0;
    }

    static int ParseNumber(const char16_t*& p) {
        long long value = 0;
        for (; zbw::IsDigit(*p); ++p) value = value < INT_MAX ? value * 10 + (*p - u'0') : INT_MAX;
        return value > INT_MAX ? INT_MAX : static_cast<int>(value);
    }

    const char16_t* Parse(const char16_t* p, CConversion& conv) {
        for (;; ++p) {
            if (*p == u'-')
                conv.left = true;
            else if (*p == u'+')
                conv.plus = true;
            else if (*p == u' ')
                conv.space = true;
            else if (*p == u'#')
                conv.alternate = true;
            else if (*p == u'0')
                conv.zero = true;
            else
                break;
        }
        if (*p == u'*') {
            ++p;
            const int width = NextInt();
            if (width < 0) conv.left = true;
            conv.width = width == INT_MIN ? INT_MAX : (width < 0 ? -width : width);
        } else {
            conv.width = ParseNumber(p);
        }
        if (*p == u'.') {
            ++p;
            if (*p == u'*') {
                ++p;
                const int precision = NextInt();
                conv.precision = precision < 0 ? -1 : precision;
            } else {
                conv.precision = ParseNumber(p);
            }
        }
        p = ParseSize(p, conv.size);
        conv.code = *p;
        return *p ? p + 1 : p;
    }

    static const char16_t* ParseSize(const char16_t* p, ArgSize& size) {
        switch (*p) {
            case u'h':
                if (p[1] == u'h') {
                    size = ArgSize::Char;
                    return p + 2;
                }
                size = ArgSize::Short;
                return p + 1;
            case u'l':
                if (p[1] == u'l') {
                    size = ArgSize::LongLong;
                    return p + 2;
                }
                size = ArgSize::Long;
                return p + 1;
            case u'w': size = ArgSize::Wide; return p + 1;
            case u'L': size = ArgSize::LongDouble; return p + 1;
            case u'z':
            case u't':
            case u'j': size = ArgSize::LongLong; return p + 1;
            case u'I':
                if (p[1] == u'6' && p[2] == u'4') {
                    size = ArgSize::LongLong;
                    return p + 3;
                }
                if (p[1] == u'3' && p[2] == u'2') {
                    size = ArgSize::Long;
                    return p + 3;
                }
                size = ArgSize::LongLong;
                return p + 1;
            default: return p;
        }
    }

    void Convert(const CConversion& conv) {
        switch (conv.code) {
            case u'd':
            case u'i': return Integer(conv, 10, true);
            case u'u': return Integer(conv, 10, false);
            case u'x':
            case u'X': return Integer(conv, 16, false);
            case u'o': return Integer(conv, 8, false);
            case u'p': return Pointer(conv, Next());
            case u'c':
            case u'C': return Character(conv);
            case u's':
            case u'S': return Text(conv, Next());
            case u'e':
            case u'E':
            case u'f':
            case u'F':
            case u'g':
            case u'G':
            case u'a':
            case u'A': return Float(conv);
            case u'n': Next(); return;
            default: m_sink.Put(conv.code); return;
        }
    }

    static int BitsOf(ArgSize size) {
        switch (size) {
            case ArgSize::Char: return 8;
            case ArgSize::Short: return 16;
            case ArgSize::LongLong: return 64;
            default: return 32;
        }
    }

    void Integer(const CConversion& conv, unsigned base, bool isSigned) {
        const zbw::CFormatArg* arg = Next();
        if (!arg) return;
        const int bits = BitsOf(conv.size);
        uint64_t value = arg->GetBits();
        if (bits < 64) value &= (uint64_t{1} << bits) - 1;
        bool negative = false;
        if (isSigned && bits < 64 && (value >> (bits - 1)) & 1) {
            negative = true;
            value = (uint64_t{1} << bits) - value;
        } else if (isSigned && bits == 64 && static_cast<int64_t>(value) < 0) {
            negative = true;
            value = uint64_t{0} - value;
        }
        std::u16string prefix;
        if (negative)
            prefix = u"-";
        else if (isSigned && conv.plus)
            prefix = u"+";
        else if (isSigned && conv.space)
            prefix = u" ";
        if (conv.alternate && base == 16 && value != 0) prefix += conv.code == u'X' ? u"0X" : u"0x";
        std::u16string digits = Digits(value, base, conv.code == u'X', conv.precision);
        if (conv.alternate && base == 8 && (digits.empty() || digits[0] != u'0')) digits.insert(0, 1, u'0');
        Pad(conv, prefix, digits, conv.zero && conv.precision < 0);
    }

    static std::u16string Digits(uint64_t value, unsigned base, bool upper, int precision) {
        const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
        std::u16string digits;
        for (; value; value /= base)
            digits.insert(digits.begin(), static_cast<char16_t>(symbols[value % base]));
        const size_t minimum = precision < 0 ? 1 : static_cast<size_t>(precision);
        if (digits.size() < minimum) digits.insert(0, minimum - digits.size(), u'0');
        return digits;
    }

    // Writes prefix and body within the width: zeros go between them, blanks outside.
    void Pad(const CConversion& conv, std::u16string_view prefix, std::u16string_view body, bool zeros) {
        const size_t length = prefix.size() + body.size();
        const size_t fill = static_cast<size_t>(conv.width) > length ? conv.width - length : 0;
        if (!conv.left && !zeros) m_sink.Put(u' ', fill);
        m_sink.Put(prefix);
        if (!conv.left && zeros) m_sink.Put(u'0', fill);
        m_sink.Put(body);
        if (conv.left) m_sink.Put(u' ', fill);
    }

    void Pointer(const CConversion& conv, const zbw::CFormatArg* arg) {
        if (!arg) return;
        CConversion plain;
        plain.left = conv.left;
        plain.width = conv.width;
        Pad(plain, u"", Digits(arg->GetBits(), 16, true, 2 * sizeof(void*)), false);
    }

    void Character(const CConversion& conv) {
        const zbw::CFormatArg* arg = Next();
        if (!arg) return;
        using Kind = zbw::CFormatArg::Kind;
        const bool narrow = arg->GetKind() == Kind::NarrowChar ||
                            (arg->GetKind() != Kind::WideChar &&
                             (conv.code == u'C' ? conv.size != ArgSize::Long && conv.size != ArgSize::Wide
                                                : conv.size == ArgSize::Short));
        const uint64_t bits = arg->GetBits();
        const char16_t ch =
            narrow ? zbw::AnsiToWide(static_cast<unsigned char>(bits)) : static_cast<char16_t>(bits);
        Pad(conv, u"", std::u16string_view(&ch, 1), conv.zero);
    }

    void Text(const CConversion& conv, const zbw::CFormatArg* arg) {
        if (!arg) return;
        if (!arg->IsText()) return TextOfValue(conv, *arg);
        const size_t limit = conv.precision < 0 ? SIZE_MAX : static_cast<size_t>(conv.precision);
        if (!arg->GetTextData())
            return Pad(conv, u"", std::u16string_view(u"(null)").substr(0, limit), conv.zero);
        const size_t length = std::min(limit, arg->GetTextLength());
        if (arg->GetKind() == zbw::CFormatArg::Kind::WideText) {
            const auto* text = static_cast<const char16_t*>(arg->GetTextData());
            size_t n = 0;
            while (n < length && text[n]) ++n;
            return Pad(conv, u"", std::u16string_view(text, n), conv.zero);
        }
        const auto* text = static_cast<const char*>(arg->GetTextData());
        size_t n = 0;
        while (n < length && text[n]) ++n;
        Pad(conv, u"", zbw::FromAnsi(std::string_view(text, n)).GetStdString(), conv.zero);
    }

    // A value given to a text code prints as what it is.
    void TextOfValue(const CConversion& conv, const zbw::CFormatArg& arg) {
        using Kind = zbw::CFormatArg::Kind;
        CConversion as = conv;
        as.precision = -1;
        switch (arg.GetKind()) {
            case Kind::Float: return FloatValue(as, u'g', arg.GetFloat());
            case Kind::Pointer: return Pointer(as, &arg);
            case Kind::WideChar:
            case Kind::NarrowChar: {
                const uint64_t bits = arg.GetBits();
                const char16_t ch = arg.GetKind() == Kind::NarrowChar
                                        ? zbw::AnsiToWide(static_cast<unsigned char>(bits))
                                        : static_cast<char16_t>(bits);
                return Pad(as, u"", std::u16string_view(&ch, 1), as.zero);
            }
            default: break;
        }
        const uint64_t bits = arg.GetBits();
        const bool negative = arg.IsSignedValue() && static_cast<int64_t>(bits) < 0;
        Pad(as, negative ? u"-" : u"", Digits(negative ? uint64_t{0} - bits : bits, 10, false, -1), as.zero);
    }

    void Float(const CConversion& conv) {
        const zbw::CFormatArg* arg = Next();
        if (!arg || m_rules == zbw::FormatRules::WsPrintf) return;
        FloatValue(conv, conv.code, arg->GetFloat());
    }

    void FloatValue(const CConversion& conv, char16_t code, double value) {
        // The C library does the digits (the C locale's "."); we do the padding.
        std::string spec = "%";
        if (conv.plus) spec += '+';
        if (conv.space) spec += ' ';
        if (conv.alternate) spec += '#';
        if (conv.precision >= 0) spec += "." + std::to_string(conv.precision);
        spec += static_cast<char>(code);
        const int size = std::snprintf(nullptr, 0, spec.c_str(), value);
        if (size <= 0) return;
        std::string digits(static_cast<size_t>(size) + 1, '\0');
        std::snprintf(digits.data(), digits.size(), spec.c_str(), value);
        digits.resize(static_cast<size_t>(size));
        size_t prefixLength = (digits[0] == '-' || digits[0] == '+' || digits[0] == ' ') ? 1 : 0;
        if ((code == u'a' || code == u'A') && digits.size() > prefixLength + 1 &&
            digits[prefixLength + 1] != '.') {
            prefixLength += 2;
        }
        const std::u16string wide = zbw::FromAnsi(digits).GetStdString();
        const std::u16string_view view(wide);
        Pad(conv, view.substr(0, prefixLength), view.substr(prefixLength), conv.zero && std::isfinite(value));
    }

    CSink& m_sink;
    const zbw::CFormatArgs& m_args;
    zbw::FormatRules m_rules;
    size_t m_next = 0;
};

}  // namespace

namespace zbw {

CFormatArg::CFormatArg(const CString& text) {
    SetText(Kind::WideText, text.GetString(), text.GetStdString().size());
}

uint64_t CFormatArg::GetBits() const {
    switch (m_kind) {
        case Kind::Float: {
            // Out-of-range values have no integer form; they read as 0.
            if (!(m_float > -9.2e18 && m_float < 9.2e18)) return 0;
            return static_cast<uint64_t>(static_cast<int64_t>(m_float));
        }
        case Kind::WideText:
        case Kind::NarrowText:
        case Kind::Pointer: return reinterpret_cast<uintptr_t>(m_text);
        default: return m_bits;
    }
}

double CFormatArg::GetFloat() const {
    switch (m_kind) {
        case Kind::Float: return m_float;
        case Kind::Signed: return static_cast<double>(static_cast<int64_t>(m_bits));
        case Kind::Unsigned:
        case Kind::WideChar:
        case Kind::NarrowChar: return static_cast<double>(m_bits);
        default: return 0;
    }
}

void AppendFormatted(std::u16string& out, LPCWSTR format, const CFormatArgs& args, FormatRules rules,
                     size_t maxLength) {
    if (!format) return;
    CSink sink(out, maxLength);
    CFormatter(sink, args, rules).Run(format);
}

}  // namespace zbw

int wvsprintfW(LPWSTR out, LPCWSTR format, const zbw::CFormatArgs& args) {
    constexpr size_t kMaxOutput = 1024;
    if (!out) return 0;
    std::u16string text;
    zbw::AppendFormatted(text, format, args, zbw::FormatRules::WsPrintf, kMaxOutput - 1);
    text.copy(out, text.size());
    out[text.size()] = 0;
    return static_cast<int>(text.size());
}
