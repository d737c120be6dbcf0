#include "common/EncryptString.h"

#include <cryptopp/default.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/base/TextConvert.h"

const char* const g_szStringPassphrase = "7B31C0D94A2E60F85A1D3C7B09E";
const char16_t* const g_szEncryptionMarker = u"EFE0E000OO";

namespace {

const int kMarkerLength = 10;
const int kMaxCodeUnits = 50000;

std::string ToAnsi(const CString& text, bool* lossy) {
    std::string out;
    int length = text.GetLength();
    if (length == 0) return out;
    BOOL usedDefault = FALSE;
    int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, &usedDefault);
    out.resize(size);
    WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), size, nullptr, &usedDefault);
    if (lossy) *lossy = usedDefault != FALSE;
    return out;
}

CString FromAnsi(const std::string& bytes) {
    if (bytes.empty()) return CString();
    int length = static_cast<int>(bytes.size());
    int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    std::u16string out(size, u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, out.data(), size);
    return CString(std::move(out));
}

std::string CodeUnitList(const CString& text) {
    std::string list;
    int count = std::min(text.GetLength(), kMaxCodeUnits);
    char piece[8];
    for (int i = 0; i < count; ++i) {
        std::snprintf(piece, sizeof(piece), i ? ",%x" : "%x", static_cast<unsigned>(text[i]));
        list += piece;
    }
    return list;
}

CString ReadCodeUnitList(const CString& list) {
    std::u16string out;
    const std::u16string& text = list.GetStdString();
    size_t at = 0;
    while (at <= text.size() && static_cast<int>(out.size()) < kMaxCodeUnits) {
        size_t comma = text.find(u',', at);
        if (comma == std::u16string::npos) comma = text.size();
        if (comma > at) {
            std::string piece = zbw::ToUtf8(text.substr(at, comma - at));
            out.push_back(static_cast<char16_t>(std::strtoul(piece.c_str(), nullptr, 16)));
        }
        at = comma + 1;
    }
    return CString(std::move(out));
}

}  // namespace

CString EncryptString(const char* passphrase, const std::string& text) {
    try {
        std::string hex;
        CryptoPP::StringSource source(
            text, true,
            new CryptoPP::DefaultEncryptorWithMAC(
                passphrase, new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex), true)));
        return CString(hex.c_str());
    } catch (const CryptoPP::Exception&) {
        return CString();
    }
}

CString DecryptString(const CString& text) {
    // The UTF-16 bytes as they are: the decoder skips what is not a hex digit, so the zero
    // high bytes are passed over.
    std::string bytes(reinterpret_cast<const char*>(text.GetString()), text.GetLength() * 2);
    try {
        std::string plain;
        CryptoPP::StringSource source(bytes, true,
                                      new CryptoPP::HexDecoder(new CryptoPP::DefaultDecryptorWithMAC(
                                          g_szStringPassphrase, new CryptoPP::StringSink(plain))));
        return FromAnsi(plain);
    } catch (const CryptoPP::Exception&) {
        return CString();
    }
}

CString EncryptStringWithMarker(const CString& text) {
    bool lossy = false;
    std::string ansi = ToAnsi(text, &lossy);
    if (lossy || ansi.find('?') != std::string::npos) {
        CString result(g_szEncryptionMarker);
        if (!text.IsEmpty()) result += EncryptString(g_szStringPassphrase, CodeUnitList(text));
        return result;
    }
    if (ansi.empty()) return CString();
    return EncryptString(g_szStringPassphrase, ansi);
}

CString DecryptStringWithMarker(const CString& text) {
    if (text.Left(kMarkerLength) != CString(g_szEncryptionMarker)) {
        if (text.IsEmpty()) return CString();
        return DecryptString(text);
    }
    return ReadCodeUnitList(DecryptString(text.Mid(kMarkerLength)));
}
