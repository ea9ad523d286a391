// Per-user folders and local time, standing in for the platform's temporary,
// Internet cache and cookie folder look-ups.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace Winhttpclass::platform {

// $TMPDIR when it is a folder, else /tmp/; "" when neither is. Ends in '/'.
std::string TempFolder();

// The user's cache folder for the library ($XDG_CACHE_HOME/netvane or
// ~/.cache/netvane), created private to the user when missing; "" when it
// cannot be had. Ends in '/'.
std::string CacheFolder();

// The user's cookie folder ($XDG_DATA_HOME/netvane/cookies or
// ~/.local/share/netvane/cookies), as CacheFolder.
std::string CookieFolder();

// `when` broken down in the local time zone.
std::optional<std::tm> LocalTime(std::time_t when);

} // namespace Winhttpclass::platform
