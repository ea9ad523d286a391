// The synchronous HTTP service netvane runs on: sessions, connections and
// requests over Boost.Beast/Asio and OpenSSL, in the order of one exchange.
//
//   OpenSession -> SetTimeouts -> Connect -> OpenRequest -> AddHeader...
//   -> SendHead -> WriteBody... -> ReceiveHead -> RawHeaders / HeaderValue
//   -> ReadData / ReadDataInPlace... -> (destroy the request, then the connection)
//
// Failures return false / nullptr / -1 and set the thread's last error
// (LastError.h). No Beast or Asio type appears here.
#pragma once

#include "NetvaneApi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace Winhttpclass::platform {

// Milliseconds; 0 or negative means unlimited.
struct Timeouts {
    int resolve = 0;
    int connect = 60000;
    int send = 30000;
    int receive = 30000;
};

class Session {
public:
    struct State;
    explicit Session(std::unique_ptr<State> state);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::unique_ptr<State> state;
};

class Connection {
public:
    Connection(Session& session, std::string host, std::uint16_t port);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Session& session;
    const std::string host;
    const std::uint16_t port;
};

class Request {
public:
    struct State;
    explicit Request(std::unique_ptr<State> state);
    // Hands a keep-alive connection whose answer was read completely back to
    // the session's pool; otherwise closes it.
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    std::unique_ptr<State> state;
};

// Opens a session. An empty `namedProxy` takes the environment's http_proxy,
// https_proxy and no_proxy (loopback hosts never use it); otherwise
// "host:port" or "http://host:port" serves every request, no bypass list.
// nullptr when the proxy text cannot be used.
std::unique_ptr<Session> OpenSession(std::string_view userAgent, std::string_view namedProxy);

// Timeouts for the session's later requests; false when rejected.
bool SetTimeouts(Session& session, const Timeouts& timeouts);

// The timeouts the session's later requests run under (resolve, connect,
// send, receive). Exported, and declared again in WinHttpClass.h for callers
// outside the library.
NETVANE_API std::array<std::int32_t, 4> SessionTimeouts(const Session& session);

// Replaces the user agent sent with later requests.
void SetUserAgent(Session& session, std::string_view userAgent);

// A connection object for host and port; nothing is sent yet.
std::unique_ptr<Connection> Connect(Session& session, std::string_view host, std::uint16_t port);

struct RequestFlags {
    bool refresh = true;   // Pragma and Cache-Control no-cache
    bool secure = false;   // TLS
    bool keepAlive = true; // false: "Connection: close", never reused
};

// A request for `verb` and `path` ("" asks for "/"); `referrer` may be empty.
// nullptr when the verb or path cannot be put on a request line.
std::unique_ptr<Request> OpenRequest(Connection& connection, std::string_view verb,
                                     std::string_view path, std::string_view referrer,
                                     const RequestFlags& flags);

// Credentials for the proxy (Basic Proxy-Authorization).
void SetProxyCredentials(Request& request, std::string_view user, std::string_view password);

// Adds the header `name` with `value` (blanks before it dropped), replacing a
// header of the same name. An empty name, a name with a blank, a control
// character or a colon, and a value with a CR or LF are refused.
bool AddHeader(Request& request, std::string_view name, std::string_view value);

// Connects (or takes a pooled connection) and sends the head, declaring
// `totalLength` body bytes.
bool SendHead(Request& request, std::uint32_t totalLength);

// Writes body bytes; the count written, 0 on failure.
std::uint32_t WriteBody(Request& request, const void* data, std::uint32_t length);

// Waits for and reads the response head (interim 1xx answers skipped).
bool ReceiveHead(Request& request);

// The head as received: status line and header lines, each ending in CR LF,
// then CR LF. Empty before ReceiveHead succeeded.
std::string RawHeaders(const Request& request);

// The `index`-th (0-based) value of header `name` (case-insensitive).
bool HeaderValue(const Request& request, std::string_view name, std::size_t index,
                 std::string& value);

// Reads up to `size` body bytes: the count, 0 when the body is complete, -1
// on failure.
long ReadData(Request& request, void* buffer, std::size_t size);

// Reads up to `size` body bytes without copying them: `data` points at them
// inside the connection's buffer until the next call on the request. The
// count, 0 when the body is complete, -1 on failure.
long ReadDataInPlace(Request& request, std::size_t size, const char*& data);

} // namespace Winhttpclass::platform
