// The library's debug channel, standing in for the platform's debug output.
// Silent unless NETVANE_DEBUG is set: "1" or "stderr" writes to standard
// error; any other value names a file that lines are appended to.
#pragma once

#include <string_view>

namespace Winhttpclass::platform {

void WriteDebugLine(std::string_view line);

} // namespace Winhttpclass::platform
