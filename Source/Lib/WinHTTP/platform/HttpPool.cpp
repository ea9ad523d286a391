// Idle keep-alive connections, kept per route (host, port, TLS, proxy) in the
// session: a request takes one that still looks idle before opening a new
// one, and gives it back after a complete answer that allows keep-alive.
#include "platform/HttpInternal.h"

namespace Winhttpclass::platform {

bool TakeWire(Request::State& r) {
    auto& pool = r.session.pool;
    for (auto it = pool.find(r.route); it != pool.end() && it->first == r.route;
         it = pool.find(r.route)) {
        auto wire = std::move(it->second);
        pool.erase(it);
        if (wire->transport->LooksIdle()) {
            r.wire = std::move(wire);
            r.reused = true;
            return true;
        }
    }
    r.reused = false;
    r.wire = OpenWire(r);
    return r.wire != nullptr;
}

void ReturnWire(Request::State& r) {
    if (!r.wire || r.failed || !r.headDone || !r.flags.keepAlive || !r.parser->is_done() ||
        !r.parser->keep_alive() || r.wire->buffer.size() != 0)
        return;
    auto& pool = r.session.pool;
    if (pool.count(r.route) >= kPoolPerRoute)
        pool.erase(pool.find(r.route));
    pool.emplace(r.route, std::move(r.wire));
}

} // namespace Winhttpclass::platform
