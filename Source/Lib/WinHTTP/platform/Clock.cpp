#include "platform/Clock.h"

#include <chrono>

namespace Winhttpclass::platform {

std::uint32_t TickCountMs() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

std::uint64_t MonotonicUsec() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace Winhttpclass::platform
