// The csc framing and login: a received text is a frame only when it ends with "|" and the
// digest of what precedes the digest; any text framed and checked comes back unchanged. The
// bytes also arrive at the command server's frame buffer in pieces of changing size, and a
// frame made of them is cut out whole however it arrives. The first eight bytes are a login
// challenge, zero-padded as the console client pads it, and the first four a result code for
// the error texts.
#include <cstring>
#include <string>
#include <vector>

#include "common/SHA1Text.h"
#include "common/csc.h"
#include "dovrane/IPFrameBuffer.h"
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

// Hands the bytes over in pieces of 1 to 8 bytes and takes every frame that becomes whole.
void FeedServer(CIPFrameBuffer& buffer, const std::string& bytes, std::vector<CString>* frames) {
    for (size_t at = 0, piece = 1; at < bytes.size(); at += piece, piece = piece % 8 + 1) {
        const size_t count = std::min(piece, bytes.size() - at);
        buffer.Append(bytes.data() + at, static_cast<int>(count), 0);
        CString text;
        for (CIPFrameBuffer::RESULT result;
             (result = buffer.TakeFrame(text)) != CIPFrameBuffer::FRAME_NONE;) {
            if (frames && result == CIPFrameBuffer::FRAME_OK) frames->push_back(text);
        }
    }
}

std::string FrameBytes(const CString& text) {
    CString framed = text + u"|";
    AppendSHA1Digest(framed);
    std::string bytes;
    for (char16_t unit : framed.GetStdString()) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

void CheckServerFrames(const uint8_t* data, size_t size) {
    CIPFrameBuffer raw;
    FeedServer(raw, std::string(reinterpret_cast<const char*>(data), size), nullptr);
    // A text without "|" makes a frame that nothing else can end early.
    CString text(FuzzUnits(data, std::min<size_t>(size, 128)));
    text.Remove(u'|');
    CIPFrameBuffer framed;
    std::vector<CString> frames;
    FeedServer(framed, FrameBytes(text) + FrameBytes(text), &frames);
    FUZZ_CHECK(frames.size() == 2 && frames[0] == text && frames[1] == text);
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
    CheckServerFrames(data, size);
    CheckLogin(data, size);
    CheckErrorText(data, size);
    return 0;
}
