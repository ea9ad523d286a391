// The program's four version numbers, which the build writes into a note
// section of the program file (program files here carry no version resource).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvo {

using FileVersion = std::array<std::uint16_t, 4>; // major, minor, release, build

// Reads the version note of the ELF file at `path`; nothing for a file
// without one (another binary, a text file, a missing or unreadable file).
std::optional<FileVersion> ReadVersionNote(const std::string& path);

} // namespace tarvo
