// Marker-based substrings, shared by THTTP and the cookie store.
#pragma once

#include <string>
#include <string_view>

namespace Winhttpclass::detail {

// The text between the first `startMark` (the start when empty) and the
// first `endMark` after it (the end when empty); "" when a mark is missing.
std::string SubStrBetween(std::string_view text, std::string_view startMark,
                          std::string_view endMark);

} // namespace Winhttpclass::detail
