#include "Versions.h"

namespace tarvo::devserver {

std::optional<Version> ParseVersion(std::string_view text) {
    Version version{};
    if (text.empty()) {
        return std::nullopt;
    }
    std::size_t part = 0;
    std::size_t digits = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0 || ++part >= version.size()) {
                return std::nullopt;
            }
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            version[part] = version[part] * 10 + static_cast<std::uint32_t>(c - '0');
            if (version[part] > 65535) {
                return std::nullopt;
            }
            ++digits;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return version;
}

std::string VersionText(const Version& v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
           std::to_string(v[3]);
}

UpdateVerdict JudgeVersion(const UpdatePolicy& policy, std::string_view clientVersion) {
    // A client that sends no readable version (a program file without
    // version information sends none) counts as 0.0.0.0.
    const Version client = ParseVersion(clientVersion).value_or(Version{});
    if (client < policy.Oldest) {
        return UpdateVerdict::Required;
    }
    if (client < policy.Latest) {
        return UpdateVerdict::Offer;
    }
    return UpdateVerdict::Current;
}

} // namespace tarvo::devserver
