// The csc framing and login: a received text is a frame only when it ends with "|" and the
// digest of what precedes the digest; any text framed and checked comes back unchanged. The first
// eight bytes are also a login challenge, zero-padded as the console client pads it, and the
// first four a result code for the error texts.
#include <cstring>

#include "common/SHA1Text.h"
#include "common/csc.h"
#include "tests/fuzz/FuzzTargets.h"

namespace {

void CheckFrame(const CString& received) {
    CString body = received;
    if (!VerifySHA1Digest(body)) {
        FUZZ_CHECK(body == received);
        return;
    }
    CString again = body;
    AppendSHA1Digest(again);
    FUZZ_CHECK(again == received);
}

void CheckRoundTrip(const CString& text) {
    CString framed = text + u"|";
    AppendSHA1Digest(framed);
    FUZZ_CHECK(framed.GetLength() == text.GetLength() + 1 + 44);
    FUZZ_CHECK(VerifySHA1Digest(framed));
    FUZZ_CHECK(framed == text + u"|");
}

void CheckLogin(const uint8_t* data, size_t size) {
    char challenge[CSC_CHALLENGE_LEN + 1] = {};
    std::memcpy(challenge, data, std::min<size_t>(size, CSC_CHALLENGE_LEN));
    char response[CSC_CHALLENGE_LEN + 1] = {};
    FUZZ_CHECK(cscResponse(challenge, response) == CSC_CHALLENGE_LEN);
    FUZZ_CHECK(std::strlen(response) == CSC_CHALLENGE_LEN);
    char second[CSC_CHALLENGE_LEN + 1] = {};
    cscResponse(challenge, second);
    FUZZ_CHECK(std::strcmp(response, second) == 0);
}

void CheckErrorText(const uint8_t* data, size_t size) {
    int code = 0;
    std::memcpy(&code, data, std::min(size, sizeof code));
    char text[64];
    const int size8 = size > 4 ? data[4] % 64 : 64;
    const int length = cscErrorText(code, text, size8);
    FUZZ_CHECK(length >= 0 && length <= std::max(size8 - 1, 0));
    if (size8 > 0) FUZZ_CHECK(std::strlen(text) == static_cast<size_t>(length));
}

}  // namespace

int FuzzCscFrame(const uint8_t* data, size_t size) {
    const CString text(FuzzUnits(data, size));
    CheckFrame(text);
    CheckRoundTrip(text);
    CheckLogin(data, size);
    CheckErrorText(data, size);
    return 0;
}
