#include "platform/DebugChannel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace Winhttpclass::platform {

void WriteDebugLine(std::string_view line) {
    const char* target = std::getenv("NETVANE_DEBUG");
    if (target == nullptr || *target == '\0')
        return;
    static std::mutex lock; // lines from several threads stay whole
    std::lock_guard<std::mutex> guard(lock);
    const bool toStderr = std::strcmp(target, "1") == 0 || std::strcmp(target, "stderr") == 0;
    std::FILE* out = toStderr ? stderr : std::fopen(target, "ab");
    if (out == nullptr)
        return;
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
    if (toStderr)
        std::fflush(out);
    else
        std::fclose(out);
}

} // namespace Winhttpclass::platform
