#include "Unitfunction.h"

#include "AsciiText.h"
#include "ProgramFile.h"
#include "VersionNote.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

namespace {

constexpr std::size_t kMaxValueLength = 2047;

using tarvo::ascii::Trim;

bool SameName(std::string_view a, std::string_view b) {
    return tarvo::ascii::EqualsNoCase(a, b);
}

// The value of `key` in `section` of an INI file; nothing when the file, the
// section or the key is missing. The first such section and key count.
std::optional<std::string> ReadIniValue(const std::string& file, std::string_view section,
                                        std::string_view key) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string line;
    bool first = true;
    bool inSection = false;
    bool seenSection = false;
    while (std::getline(in, line)) {
        std::string_view text = line;
        if (first && text.substr(0, 3) == "\xEF\xBB\xBF")
            text.remove_prefix(3);
        first = false;
        text = Trim(text);
        if (!text.empty() && text.front() == '[') {
            if (seenSection && inSection)
                return std::nullopt; // the key was not in the first such section
            const auto close = text.find(']');
            const auto name = Trim(text.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            inSection = SameName(name, section);
            seenSection = seenSection || inSection;
            continue;
        }
        if (!inSection)
            continue;
        const auto eq = text.find('=');
        if (eq == std::string_view::npos || !SameName(Trim(text.substr(0, eq)), key))
            continue;
        std::string_view value = Trim(text.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value.substr(0, kMaxValueLength));
    }
    return std::nullopt;
}

} // namespace

std::string GetProgramFilePath() {
    return tarvo::ProgramFilePath();
}

std::string GetConfFilePath(const std::string& programPath) {
    // parent_path of "/" is "/": a program at the root still finds /Conf.
    const std::filesystem::path program(programPath);
    return (program.parent_path().parent_path() / "Conf" / "Tarvo.conf").string();
}

SServerHost ReadServerHost(const std::string& programPath) {
    // Without the program's own path there is no installation folder to
    // look in (never one relative to the working folder).
    if (programPath.empty())
        return {DefaultServerHost, true};
    if (auto value = ReadIniValue(GetConfFilePath(programPath), "default", "TarvoSWHost"))
        return {std::move(*value), false};
    return {DefaultServerHost, true};
}

std::string GetServerHost() {
    return GetServerHost(GetProgramFilePath());
}

std::string GetServerHost(const std::string& programPath) {
    return ReadServerHost(programPath).Value;
}

std::string GetServerBaseUrl() {
    return GetServerBaseUrl(GetProgramFilePath());
}

std::string GetServerBaseUrl(const std::string& programPath) {
    const SServerHost host = ReadServerHost(programPath);
    if (host.IsDefault || host.Value.empty())
        return host.Value;
    return host.Value + ServerPort;
}

std::string GetExeVersion(const std::string& path) {
    const auto version = tarvo::ReadVersionNote(path);
    if (!version)
        return {};
    return std::to_string((*version)[0]) + "." + std::to_string((*version)[1]) + "." +
           std::to_string((*version)[2]) + "." + std::to_string((*version)[3]);
}
