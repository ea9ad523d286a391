// The one UTF-8 well-formedness check of the system.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarvo::utf8 {

// A lead byte below 0x80 stands alone, 0xC2..0xDF opens two bytes, 0xE0..0xEF
// three, 0xF0..0xF4 four; every further byte must be a continuation byte
// (0x80..0xBF). Stray continuation bytes, overlong forms, surrogates and
// values past U+10FFFF are refused.
constexpr bool IsWellFormed(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra = 0;
        unsigned char lo = 0x80; // allowed range of the second byte
        unsigned char hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            if (lead == 0xE0)
                lo = 0xA0; // overlong
            else if (lead == 0xED)
                hi = 0x9F; // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            if (lead == 0xF0)
                lo = 0x90; // overlong
            else if (lead == 0xF4)
                hi = 0x8F; // past U+10FFFF
        } else {
            return false;
        }
        if (text.size() - i - 1 < extra)
            return false; // ends inside a sequence
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            const unsigned char min = (k == 1) ? lo : 0x80;
            const unsigned char max = (k == 1) ? hi : 0xBF;
            if (c < min || c > max)
                return false;
        }
        i += extra + 1;
    }
    return true;
}

} // namespace tarvo::utf8
