// g_Base64DecodeTable: the Base64 alphabet "A".."Z", "a".."z", "0".."9", "+" and "/" mapped to
// 0..63, every other byte (including the padding "=") to -1. The Basic credentials of the HTTP
// server are its one reader. A constant made at compile time, so it exists before any global
// object of the engine and any thread may read it.
#pragma once

#include <array>

namespace base64_detail {

constexpr std::array<int, 256> MakeDecodeTable() {
    std::array<int, 256> table{};
    for (int& value : table) value = -1;
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}

}  // namespace base64_detail

inline constexpr std::array<int, 256> g_Base64DecodeTable = base64_detail::MakeDecodeTable();
