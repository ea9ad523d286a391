// The HTTP layer's private types, shared by its units in platform/ and
// included by nothing else: the session and request state behind the handles
// of HttpPlatform.h, the byte streams a connection runs on, and the helpers
// that connect, pool and read.
//
//   HttpTransport.cpp  byte streams (TCP, TLS, memory), bounded reads and writes
//   HttpResolve.cpp    name resolution on bounded helper threads
//   HttpTunnel.cpp     TCP connect, the proxy's CONNECT tunnel, TLS
//   HttpPool.cpp       idle keep-alive connections per route
//   HttpExchange.cpp   the functions of HttpPlatform.h
#pragma once

#include "platform/HttpPlatform.h"
#include "platform/MemoryTransport.h"
#include "platform/ProxyConfig.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace Winhttpclass::platform {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

// A response head larger than this fails the receive.
inline constexpr std::uint32_t kHeadLimit = 64 * 1024;
// Bytes asked of the socket by one read of the body.
inline constexpr std::size_t kReadAhead = 256 * 1024;
// Idle connections kept per route.
inline constexpr std::size_t kPoolPerRoute = 8;

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The bytes of a connection, whatever carries them. Reads and writes are
// bounded by the session's receive and send timeouts.
class Transport {
public:
    virtual ~Transport() = default;
    // Writes all of `bytes`.
    virtual error_code Write(std::string_view bytes) = 0;
    // One read of at most `buffer`'s size; the count read (0 with `ec` set on
    // end of stream or failure).
    virtual std::size_t ReadSome(asio::mutable_buffer buffer, error_code& ec) = 0;
    // The room one read asks for in the connection's buffer.
    virtual std::size_t ReadRoom() const { return kReadAhead; }
    // False when the peer closed the connection (or sent something unasked)
    // while it was idle.
    virtual bool LooksIdle() = 0;
};

// A live connection to a server (or a proxy) and the bytes read ahead on it.
struct Wire {
    std::unique_ptr<Transport> transport;
    beast::flat_buffer buffer;
};

struct Session::State {
    explicit State(std::string agent) : userAgent(std::move(agent)) {}

    asio::io_context ioc;
    std::optional<ssl::context> tls; // made for the first TLS request
    std::string userAgent;
    Timeouts timeouts;
    ProxyConfig proxy;
    std::multimap<std::string, std::unique_ptr<Wire>> pool; // idle keep-alive connections
    // Name lookups that ran past the resolve timeout and still hold a thread.
    std::shared_ptr<std::atomic<int>> strayLookups = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<MemoryPeer> memory; // set: connections are served from memory

    // Runs the loop until the operations started on it are complete.
    void Run() {
        ioc.restart();
        ioc.run();
    }

    ssl::context& TlsContext();
};

// A response body handed over in place: each put of the parser leaves a view
// of at most `room` body bytes inside the bytes it was given, which the
// caller takes before the connection's buffer is filled again.
struct ViewBody {
    struct value_type {
        const char* data = nullptr;
        std::size_t size = 0; // bytes in view
        std::size_t room = 0; // most bytes the next put may take
    };

    class reader {
    public:
        template <bool isRequest, class Fields>
        reader(http::header<isRequest, Fields>&, value_type& body) : FBody(body) {}

        void init(const boost::optional<std::uint64_t>&, error_code& ec) { ec = {}; }

        template <class ConstBufferSequence>
        std::size_t put(const ConstBufferSequence& buffers, error_code& ec) {
            if (FBody.room == 0) {
                ec = http::error::need_buffer;
                return 0;
            }
            // The parser hands over one contiguous piece at a time.
            const asio::const_buffer first = *asio::buffer_sequence_begin(buffers);
            FBody.data = static_cast<const char*>(first.data());
            FBody.size = std::min(first.size(), FBody.room);
            FBody.room = 0;
            ec = {};
            return FBody.size;
        }

        void finish(error_code& ec) { ec = {}; }

    private:
        value_type& FBody;
    };
};

struct Request::State {
    State(Session::State& s, std::string h, std::uint16_t p)
        : session(s), host(std::move(h)), port(p) {}

    Session::State& session;
    const std::string host;
    const std::uint16_t port;
    std::string verb;
    std::string target;
    RequestFlags flags;
    HeaderList headers;
    std::optional<ProxyServer> proxy;
    std::string proxyUser;
    std::string proxyPassword;
    bool proxyCredentials = false;

    // The exchange.
    std::string route; // pool key
    std::unique_ptr<Wire> wire;
    bool reused = false;
    std::string head;     // request head as sent
    std::string sentBody; // body written on a reused connection, for a replay
    std::optional<http::response_parser<ViewBody>> parser;
    std::string rawHead;
    bool headDone = false;
    bool failed = false;
};

// --- HttpTransport.cpp ---

// Maps an Asio, Beast or OpenSSL error to the layer's error numbers.
int CodeFor(const error_code& ec, int fallback);

// Starts one asynchronous operation on the session's loop through `start`
// (which receives the completion handler) and runs the loop until it ends,
// `ms` milliseconds at most (0 or negative: no limit). The result and, for
// reads and writes, the byte count.
struct Outcome {
    error_code ec;
    std::size_t bytes = 0;
};
template <class Start>
Outcome RunBounded(Session::State& s, beast::tcp_stream& lowest, int ms, Start&& start) {
    Outcome out;
    if (ms > 0)
        lowest.expires_after(std::chrono::milliseconds(ms));
    else
        lowest.expires_never();
    start([&out](error_code ec, auto&&... rest) {
        out.ec = ec;
        if constexpr (sizeof...(rest) == 1 &&
                      (std::is_same_v<std::decay_t<decltype(rest)>, std::size_t> && ...))
            out.bytes = (rest, ...);
    });
    s.Run();
    return out;
}

// Byte streams over a connected TCP stream, plain or wrapped in TLS after a
// completed handshake.
std::unique_ptr<Transport> TcpTransport(Session::State& s, beast::tcp_stream stream);
std::unique_ptr<Transport> TlsTransport(Session::State& s,
                                        std::unique_ptr<beast::ssl_stream<beast::tcp_stream>> tls);

// A connection reading the peer's next answer; nullptr (last error set) when
// the peer has none left.
std::unique_ptr<Transport> MemoryTransport(const std::shared_ptr<MemoryPeer>& peer);

// One read of up to the transport's room (kReadAhead on a socket) into the connection's buffer; the
// count read, with the read's error in `result`.
std::size_t ReadAhead(Wire& wire, error_code& result);

// --- HttpResolve.cpp ---

// Resolves `host`: at once for an address literal, else through getaddrinfo
// (on a helper thread only when a resolve timeout is set).
bool Resolve(Session::State& s, const std::string& host, std::uint16_t port,
             std::vector<tcp::endpoint>& out);

// --- HttpTunnel.cpp ---

// "Basic ..." for Proxy-Authorization.
std::string BasicAuth(std::string_view user, std::string_view password);

// A fresh connection for the request: TCP to the server or its proxy, the
// tunnel and TLS when secure. nullptr (last error set) on failure.
std::unique_ptr<Wire> OpenWire(Request::State& r);

// --- HttpPool.cpp ---

// An idle pooled connection for the route, or a fresh one; sets r.wire and
// r.reused.
bool TakeWire(Request::State& r);

// Hands the request's connection back to the pool when its answer was read
// completely and allows keep-alive.
void ReturnWire(Request::State& r);

} // namespace Winhttpclass::platform
