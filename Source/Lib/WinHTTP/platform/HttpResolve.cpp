// Name resolution with a bounded wait: a lookup under a resolve timeout runs
// on a helper thread that is left to finish alone when the time is up, and a
// session stops starting lookups while too many such helpers still run.
#include "platform/HttpInternal.h"
#include "platform/LastError.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace Winhttpclass::platform {

namespace {

// Lookups of one session that may still be running after their timeout; past
// this, a hanging resolver fails further lookups at once instead of piling up
// threads.
constexpr int kStrayLookupLimit = 4;

} // namespace

bool Resolve(Session::State& s, const std::string& host, std::uint16_t port,
             std::vector<tcp::endpoint>& out) {
    error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    if (!ec) {
        out.emplace_back(address, port);
        return true;
    }
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        error_code ec;
        std::vector<tcp::endpoint> endpoints;
    };
    auto lookup = std::make_shared<Lookup>();
    auto run = [lookup, host, port] {
        asio::io_context ioc;
        tcp::resolver resolver(ioc);
        error_code e;
        auto results = resolver.resolve(host, std::to_string(port), e);
        std::lock_guard lock(lookup->mutex);
        lookup->ec = e;
        for (const auto& entry : results)
            lookup->endpoints.push_back(entry.endpoint());
        lookup->finished = true;
        lookup->done.notify_all();
    };
    if (s.timeouts.resolve <= 0) {
        run();
    } else {
        if (s.strayLookups->load() >= kStrayLookupLimit) {
            SetLastError(kErrTimeout);
            return false;
        }
        // The helper ends with the lookup; on a timeout it is left to finish
        // alone and counted as a stray until then.
        enum : int { kRunning, kFinished, kAbandoned };
        auto strays = s.strayLookups;
        auto phase = std::make_shared<std::atomic<int>>(kRunning);
        try {
            std::thread([run, strays, phase] {
                run();
                if (phase->exchange(kFinished) == kAbandoned)
                    --*strays;
            }).detach();
        } catch (const std::system_error&) {
            SetLastError(kErrInternal);
            return false;
        }
        std::unique_lock lock(lookup->mutex);
        if (!lookup->done.wait_for(lock, std::chrono::milliseconds(s.timeouts.resolve),
                                   [&] { return lookup->finished; })) {
            ++*strays;
            int running = kRunning;
            if (!phase->compare_exchange_strong(running, kAbandoned))
                --*strays; // it finished just now after all
            SetLastError(kErrTimeout);
            return false;
        }
    }
    std::lock_guard lock(lookup->mutex);
    if (lookup->ec || lookup->endpoints.empty()) {
        SetLastError(kErrNameNotResolved);
        return false;
    }
    out = lookup->endpoints;
    return true;
}

} // namespace Winhttpclass::platform
