// The card holder's photo: a head-and-shoulders figure drawn from simple
// shapes, written as a 24-bit uncompressed BMP.
#pragma once

#include <cstdint>
#include <vector>

namespace idcardread {

inline constexpr int PortraitWidth = 102;
inline constexpr int PortraitHeight = 126;

// Colours as 0xRRGGBB.
struct SPortraitColours {
    std::uint32_t Background = 0xFFFFFF;
    std::uint32_t Skin = 0xF1C7A1;
    std::uint32_t Hair = 0x2A1A12;
    std::uint32_t Clothes = 0x34495E;
};

// The whole BMP file: file header, 40-byte info header, bottom-up rows of
// blue-green-red pixels, each row padded to four bytes.
std::vector<unsigned char> DrawPortraitBmp(const SPortraitColours& colours);

} // namespace idcardread
