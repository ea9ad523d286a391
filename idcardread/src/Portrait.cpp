#include "Portrait.h"

namespace idcardread {
namespace {

constexpr std::uint32_t EyeColour = 0x1E1E1E;
constexpr std::uint32_t MouthColour = 0xB5525A;

// Inside the ellipse of centre (cx, cy) and radii (rx, ry).
bool InEllipse(int x, int y, double cx, double cy, double rx, double ry) {
    const double dx = (x - cx) / rx;
    const double dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
}

// The colour of a pixel, y counted from the top; later shapes lie on top.
std::uint32_t PixelAt(int x, int y, const SPortraitColours& c) {
    std::uint32_t colour = c.Background;
    if (InEllipse(x, y, 51, 142, 54, 40)) // shoulders
        colour = c.Clothes;
    if (x >= 42 && x <= 60 && y >= 76 && y <= 106) // neck
        colour = c.Skin;
    if (InEllipse(x, y, 51, 47, 32, 37)) // hair
        colour = c.Hair;
    if (InEllipse(x, y, 51, 57, 25, 31) && y >= 36) // face below the fringe
        colour = c.Skin;
    if (InEllipse(x, y, 41, 55, 3, 3) || InEllipse(x, y, 61, 55, 3, 3))
        colour = EyeColour;
    if (InEllipse(x, y, 51, 73, 8, 2))
        colour = MouthColour;
    return colour;
}

void PutLE(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

} // namespace

std::vector<unsigned char> DrawPortraitBmp(const SPortraitColours& colours) {
    constexpr std::uint32_t HeadersSize = 14 + 40;
    constexpr std::uint32_t RowSize = (PortraitWidth * 3 + 3) / 4 * 4;
    constexpr std::uint32_t PixelsSize = RowSize * PortraitHeight;

    std::vector<unsigned char> bmp;
    bmp.reserve(HeadersSize + PixelsSize);
    // File header: "BM", file size, two reserved words, offset of the pixels.
    bmp.push_back('B');
    bmp.push_back('M');
    PutLE(bmp, HeadersSize + PixelsSize, 4);
    PutLE(bmp, 0, 4);
    PutLE(bmp, HeadersSize, 4);
    // Info header: size, width, height (bottom-up), one plane, 24 bits,
    // no compression, pixel bytes, 2835 pixels per metre (72 dpi), no palette.
    PutLE(bmp, 40, 4);
    PutLE(bmp, PortraitWidth, 4);
    PutLE(bmp, PortraitHeight, 4);
    PutLE(bmp, 1, 2);
    PutLE(bmp, 24, 2);
    PutLE(bmp, 0, 4);
    PutLE(bmp, PixelsSize, 4);
    PutLE(bmp, 2835, 4);
    PutLE(bmp, 2835, 4);
    PutLE(bmp, 0, 4);
    PutLE(bmp, 0, 4);

    for (int y = PortraitHeight - 1; y >= 0; --y) {
        for (int x = 0; x < PortraitWidth; ++x)
            PutLE(bmp, PixelAt(x, y, colours), 3); // blue, green, red
        for (std::uint32_t pad = PortraitWidth * 3; pad < RowSize; ++pad)
            bmp.push_back(0);
    }
    return bmp;
}

} // namespace idcardread
