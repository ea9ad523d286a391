#include "Sessions.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <sys/random.h>

namespace tarvo::devserver {

namespace {

void FillRandom(unsigned char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = getrandom(bytes + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("getrandom failed");
        }
        done += static_cast<std::size_t>(got);
    }
}

} // namespace

std::string NewSessionId() {
    std::array<unsigned char, 16> b{};
    FillRandom(b.data(), b.size());
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40); // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80); // variant 1
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

std::string RandomDigits(int n) {
    std::string digits;
    while (static_cast<int>(digits.size()) < n) {
        unsigned char byte = 0;
        FillRandom(&byte, 1);
        if (byte < 250) { // 250 = 25 * 10: no bias towards low digits
            digits.push_back(static_cast<char>('0' + byte % 10));
        }
    }
    return digits;
}

std::string SessionTable::Open(std::int64_t agentId) {
    const auto now = Clock::now();
    std::lock_guard lock(FLock);
    Purge(now);
    for (;;) {
        std::string id = NewSessionId();
        if (FSessions.try_emplace(id, Entry{agentId, now + FTtl}).second) {
            return id;
        }
    }
}

std::optional<std::int64_t> SessionTable::Find(const std::string& id, bool extend) {
    const auto now = Clock::now();
    std::lock_guard lock(FLock);
    const auto it = FSessions.find(id);
    if (it == FSessions.end()) {
        return std::nullopt;
    }
    if (it->second.Expires <= now) {
        FSessions.erase(it);
        return std::nullopt;
    }
    if (extend) {
        it->second.Expires = now + FTtl;
    }
    return it->second.AgentId;
}

void SessionTable::Close(const std::string& id) {
    std::lock_guard lock(FLock);
    FSessions.erase(id);
}

void SessionTable::Purge(Clock::time_point now) {
    for (auto it = FSessions.begin(); it != FSessions.end();) {
        it = it->second.Expires <= now ? FSessions.erase(it) : std::next(it);
    }
}

} // namespace tarvo::devserver
