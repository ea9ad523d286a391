// Hexadecimal text: the value of one digit, and bytes as upper-case pairs.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::hex {

// 0 to 15 for a digit of either letter case, -1 for any other character.
constexpr int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

inline constexpr char kUpperDigits[] = "0123456789ABCDEF";

// Two upper-case digits a byte, high digit first.
inline std::string ToUpperHex(std::string_view bytes) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex.push_back(kUpperDigits[byte >> 4]);
        hex.push_back(kUpperDigits[byte & 0x0F]);
    }
    return hex;
}

} // namespace tarvo::hex
