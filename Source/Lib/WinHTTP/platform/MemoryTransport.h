// Connections served from memory instead of sockets, for tests and fuzzing.
// A session set to a memory peer resolves nothing and opens no socket: each
// connection its requests open reads the peer's next answer, whose end is the
// peer closing the connection, and writes the request bytes into the peer's
// sink. Heads, bodies, cookies, charsets and redirects take the same paths as
// on a socket. Proxies and TLS are left out: a secure request reads the
// answer as plain bytes.
#pragma once

#include "NetvaneApi.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

namespace Winhttpclass::platform {

class Session;

struct MemoryPeer {
    // One answer per connection, taken in order; a connection asked for when
    // none is left is refused.
    std::deque<std::string> answers;
    // Every byte the requests wrote, in order.
    std::string sent;
    // Bytes handed over by one read at most; 0: all that the read asks for.
    std::size_t pieceSize = 0;
    // Connections opened so far.
    int connections = 0;
};

// Serves the session's later connections from `peer` (nullptr: sockets again).
NETVANE_API void UseMemoryTransport(Session& session, std::shared_ptr<MemoryPeer> peer);

} // namespace Winhttpclass::platform
