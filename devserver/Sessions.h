// The agents' sessions: identifiers handed out by "/alogin", kept alive by
// "/ahb", ended by "/alogout" or by a time without heartbeat. Held in memory
// only; a restarted server asks every agent to log in again.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace tarvo::devserver {

// A new identifier: 36 lower-case characters in GUID form (a version 4
// UUID from the system's random source).
std::string NewSessionId();

// n random decimal digits (the students' login codes).
std::string RandomDigits(int n);

class SessionTable {
public:
    using Clock = std::chrono::steady_clock;

    explicit SessionTable(std::chrono::seconds ttl) : FTtl(ttl) {}

    std::string Open(std::int64_t agentId);
    // The agent of a live session, nothing for an unknown or expired one.
    // With `extend` the session's time starts again.
    std::optional<std::int64_t> Find(const std::string& id, bool extend = false);
    void Close(const std::string& id);

private:
    struct Entry {
        std::int64_t AgentId;
        Clock::time_point Expires;
    };
    void Purge(Clock::time_point now);

    std::chrono::seconds FTtl;
    std::mutex FLock;
    std::map<std::string, Entry, std::less<>> FSessions;
};

} // namespace tarvo::devserver
