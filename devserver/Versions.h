// Client version numbers "a.b.c.d" and the update policy of "/aupdateinfo".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::devserver {

// Up to four decimal parts joined by '.'; missing parts count as 0.
using Version = std::array<std::uint32_t, 4>;

// Nothing for an empty or malformed text (no digits in a part, a part over
// 65535, more than four parts, anything but digits and dots).
std::optional<Version> ParseVersion(std::string_view text);
std::string VersionText(const Version& version);

struct UpdatePolicy {
    Version Latest{};
    Version Oldest{}; // the oldest version still allowed
    std::string Url;  // download link
    std::string Code; // extraction code
};

enum class UpdateVerdict { Current, Offer, Required };

// A malformed or empty client version counts as the oldest of all.
UpdateVerdict JudgeVersion(const UpdatePolicy& policy, std::string_view clientVersion);

} // namespace tarvo::devserver
