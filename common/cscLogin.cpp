#include <cctype>
#include <cstdint>
#include <cstdio>

#include "common/csc.h"
#include "platform/base/Clock.h"

namespace {

// Both ends of the login must agree on these.
constexpr uint32_t kChallengeMultiplier = 0x9E3779B1u;
constexpr int kChallengeRotation = 13;
constexpr uint32_t kResponseMultiplier = 0x2545F491u;
constexpr int kResponseRotation = 11;
constexpr uint32_t kResponseMask = 0x5A3CC3A5u;
// Where each hexadecimal digit of the challenge (least significant first) goes.
constexpr int kDigitPositions[CSC_CHALLENGE_LEN] = {5, 2, 7, 0, 3, 6, 1, 4};

uint32_t RotateLeft(uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The challenge's value; stops at its end, so a short text reads as -1 and nothing past it.
uint32_t ChallengeValue(const char* challenge) {
    uint32_t value = 0;
    for (int i = 0; i < CSC_CHALLENGE_LEN; ++i) {
        int digit = HexDigit(challenge[i]);
        if (digit < 0) return 0xFFFFFFFFu;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

uint32_t MoveDigits(uint32_t value) {
    uint32_t moved = 0;
    for (int i = 0; i < CSC_CHALLENGE_LEN; ++i) {
        uint32_t digit = (value >> (4 * i)) & 0xFu;
        moved |= digit << (4 * kDigitPositions[i]);
    }
    return moved;
}

}  // namespace

int cscChallenge(char* out) {
    if (!out) return CSC_NULL_POINTER;
    uint32_t value = RotateLeft(GetTickCount() * kChallengeMultiplier, kChallengeRotation);
    std::snprintf(out, CSC_CHALLENGE_LEN + 1, "%x", value);
    for (char* p = out; *p; ++p)
        *p = *p == ' ' ? '0' : static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return CSC_CHALLENGE_LEN;
}

int cscResponse(const char* challenge, char* out) {
    if (!challenge || !out) return CSC_NULL_POINTER;
    uint32_t value = MoveDigits(ChallengeValue(challenge));
    value = RotateLeft(value * kResponseMultiplier, kResponseRotation) ^ kResponseMask;
    std::snprintf(out, CSC_CHALLENGE_LEN + 1, "%08X", value);
    return CSC_CHALLENGE_LEN;
}
