// A per-user value store standing in for the registry.
//
// Layout under $XDG_CONFIG_HOME/netvane/ (default ~/.config/netvane/): a
// folder per root key named by its handle value ("80000001"), a folder per
// sub key (names lower-cased and %XX-escaped; a long name becomes "#" and the
// SHA-256 of its escaped form), and in each key folder one file ".values":
//
//   netvane values 1
//   s <name> <text>
//   i <name> <decimal 32-bit number>
//
// with names and texts %XX-escaped (every byte outside "!".."~", and "%").
// The file is replaced atomically (temporary file, fsync, rename) under an
// advisory lock on ".lock" in the same folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace Funclib::platform {

// A stored value: a string or a 32-bit number.
using StoredValue = std::variant<std::string, std::int32_t>;

std::optional<StoredValue> ReadStoredValue(std::uint32_t root, std::string_view subKey,
                                           std::string_view name);
bool WriteStoredValue(std::uint32_t root, std::string_view subKey, std::string_view name,
                      const StoredValue& value);
bool DeleteStoredValue(std::uint32_t root, std::string_view subKey, std::string_view name);

} // namespace Funclib::platform
