// Tick counts from the monotonic clock, standing in for the platform's.
#pragma once

#include <cstdint>

namespace Winhttpclass::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like a tick count.
std::uint32_t TickCountMs();
// Microseconds of the monotonic clock, full width.
std::uint64_t MonotonicUsec();

} // namespace Winhttpclass::platform
