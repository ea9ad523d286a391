// File look-up, copy and delete, standing in for the platform's find-first
// and shell file operations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Funclib::platform {

// Size of `pattern` when it names a regular file, else of the first regular
// file (in sorted order) that the shell wildcard pattern matches.
std::optional<std::uint64_t> FirstMatchSize(const std::string& pattern);

// Recursive, overwriting copy; into `to` when that is an existing folder.
// Refuses to copy a folder into itself. Never throws.
bool CopyTree(const std::string& from, const std::string& to);

// Recursive delete; false when nothing was there or something remained.
bool DeleteTree(const std::string& path);

} // namespace Funclib::platform
