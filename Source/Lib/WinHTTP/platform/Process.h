// Process start and wait, standing in for the platform's process creation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Funclib::platform {

// Splits a command line into words as a POSIX shell does, without any
// expansion: blanks separate words; '...' is literal; in "..." a backslash
// escapes only $ ` " \ and a line break; elsewhere a backslash makes the next
// character literal. Nothing for an unterminated quote.
std::optional<std::vector<std::string>> SplitCommandLine(std::string_view commandLine);

inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// Starts argv[0] (searched in PATH) with only descriptors 0, 1 and 2
// inherited, and waits up to `timeoutMs` for it to end (reaping it). A
// process still running then is left running; a detached thread reaps it
// when it ends. Returns the process id, 0 when it could not be started.
std::uint32_t StartAndWait(const std::vector<std::string>& argv, std::uint32_t timeoutMs);

} // namespace Funclib::platform
