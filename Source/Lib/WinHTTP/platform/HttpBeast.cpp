// The HTTP layer over Boost.Beast/Asio and OpenSSL. Every operation runs
// asynchronous Asio steps on the session's own io_context until they finish,
// so each deadline (resolve, connect, send, receive) is enforced while the
// caller sees a plain synchronous call.
#include "AsciiText.h"
#include "platform/HttpPlatform.h"
#include "platform/LastError.h"
#include "platform/ProxyConfig.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <openssl/evp.h>
#include <openssl/x509v3.h>
#include <optional>
#include <poll.h>
#include <thread>
#include <utility>
#include <vector>

namespace Winhttpclass::platform {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

namespace {

// A response head larger than this fails the receive.
constexpr std::uint32_t kHeadLimit = 64 * 1024;
// Bytes asked of the socket by one read of the body.
constexpr std::size_t kReadAhead = 256 * 1024;
// Idle connections kept per route.
constexpr std::size_t kPoolPerRoute = 8;

using HeaderList = std::vector<std::pair<std::string, std::string>>;

using tarvo::ascii::EqualsNoCase;

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsIpLiteral(const std::string& host) {
    error_code ec;
    asio::ip::make_address(host, ec);
    return !ec;
}

std::string Base64(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string BasicAuth(std::string_view user, std::string_view password) {
    return "Basic " + Base64(std::string(user) + ":" + std::string(password));
}

// "host" or "host:port" as it goes in Host and CONNECT.
std::string Authority(const std::string& host, std::uint16_t port, bool secure) {
    const std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port == (secure ? 443 : 80))
        return name;
    return name + ":" + std::to_string(port);
}

// Maps an Asio, Beast or OpenSSL error to the layer's error numbers.
int CodeFor(const error_code& ec, int fallback) {
    if (ec == beast::error::timeout || ec == asio::error::timed_out)
        return kErrTimeout;
    if (ec == asio::error::host_not_found || ec == asio::error::host_not_found_try_again ||
        ec == asio::error::no_data || ec == asio::error::no_recovery)
        return kErrNameNotResolved;
    if (ec == asio::error::connection_refused || ec == asio::error::network_unreachable ||
        ec == asio::error::host_unreachable)
        return kErrCannotConnect;
    if (ec == asio::error::eof || ec == asio::error::connection_reset ||
        ec == asio::error::broken_pipe || ec == asio::error::connection_aborted ||
        ec == ssl::error::stream_truncated)
        return kErrConnectionError;
    if (ec.category() == asio::error::get_ssl_category())
        return kErrSecureFailure;
    if (ec.category() == http::make_error_code(http::error::bad_version).category())
        return kErrInvalidServerResponse;
    return fallback;
}

void Expire(beast::tcp_stream& stream, int ms) {
    if (ms > 0)
        stream.expires_after(std::chrono::milliseconds(ms));
    else
        stream.expires_never();
}

// A live connection to a server (or a proxy) and the bytes read ahead on it.
struct Wire {
    explicit Wire(asio::io_context& ioc) : tcp(std::make_unique<beast::tcp_stream>(ioc)) {}

    std::unique_ptr<beast::tcp_stream> tcp; // plain; empty once wrapped in TLS
    std::unique_ptr<beast::ssl_stream<beast::tcp_stream>> tls;
    beast::flat_buffer buffer;

    beast::tcp_stream& Lowest() { return tls ? beast::get_lowest_layer(*tls) : *tcp; }

    // False when the peer closed it (or sent something unasked) while idle.
    bool LooksIdle() {
        pollfd p{Lowest().socket().native_handle(), POLLIN, 0};
        return Lowest().socket().is_open() && ::poll(&p, 1, 0) == 0;
    }
};

template <class Op> void OnStream(Wire& wire, Op&& op) {
    if (wire.tls)
        op(*wire.tls);
    else
        op(*wire.tcp);
}

} // namespace

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

    // Runs the loop until the operations started on it are complete.
    void Run() {
        ioc.restart();
        ioc.run();
    }

    ssl::context& TlsContext() {
        if (!tls) {
            tls.emplace(ssl::context::tls_client);
            // Trust the system store (SSL_CERT_FILE / SSL_CERT_DIR honoured).
            tls->set_default_verify_paths();
            tls->set_verify_mode(ssl::verify_peer);
        }
        return *tls;
    }
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
    std::optional<http::response_parser<http::buffer_body>> parser;
    std::string rawHead;
    bool headDone = false;
    bool failed = false;
};

Session::Session(std::unique_ptr<State> s) : state(std::move(s)) {}
Session::~Session() = default;

Connection::Connection(Session& s, std::string h, std::uint16_t p)
    : session(s), host(std::move(h)), port(p) {}
Connection::~Connection() = default;

Request::Request(std::unique_ptr<State> s) : state(std::move(s)) {}

Request::~Request() {
    State& r = *state;
    // Back to the pool only after a complete answer that allows keep-alive.
    if (!r.wire || r.failed || !r.headDone || !r.flags.keepAlive || !r.parser->is_done() ||
        !r.parser->keep_alive() || r.wire->buffer.size() != 0)
        return;
    auto& pool = r.session.pool;
    if (pool.count(r.route) >= kPoolPerRoute)
        pool.erase(pool.find(r.route));
    pool.emplace(r.route, std::move(r.wire));
}

// --- session -----------------------------------------------------------------

std::unique_ptr<Session> OpenSession(std::string_view userAgent, std::string_view namedProxy) {
    auto state = std::make_unique<Session::State>(std::string(userAgent));
    if (HasLineBreak(userAgent))
        state->userAgent.clear();
    if (namedProxy.empty())
        state->proxy = ProxyConfig::FromEnvironment();
    else if (!ProxyConfig::Named(namedProxy, state->proxy)) {
        SetLastError(kErrInvalidParameter);
        return nullptr;
    }
    return std::make_unique<Session>(std::move(state));
}

bool SetTimeouts(Session& session, const Timeouts& timeouts) {
    // -1 and 0 mean no limit; any other negative value is refused.
    for (const int ms : {timeouts.resolve, timeouts.connect, timeouts.send, timeouts.receive})
        if (ms < -1) {
            SetLastError(kErrInvalidParameter);
            return false;
        }
    session.state->timeouts = timeouts;
    return true;
}

std::array<std::int32_t, 4> SessionTimeouts(const Session& session) {
    const Timeouts& t = session.state->timeouts;
    return {t.resolve, t.connect, t.send, t.receive};
}

void SetUserAgent(Session& session, std::string_view userAgent) {
    if (!HasLineBreak(userAgent))
        session.state->userAgent = std::string(userAgent);
}

std::unique_ptr<Connection> Connect(Session& session, std::string_view host, std::uint16_t port) {
    if (host.empty() || HasLineBreak(host) || host.find(' ') != std::string_view::npos) {
        SetLastError(kErrInvalidUrl);
        return nullptr;
    }
    return std::make_unique<Connection>(session, std::string(host), port);
}

// --- request -------------------------------------------------------------------

std::unique_ptr<Request> OpenRequest(Connection& connection, std::string_view verb,
                                     std::string_view path, std::string_view referrer,
                                     const RequestFlags& flags) {
    const auto badChar = [](std::string_view s) {
        return std::any_of(s.begin(), s.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
        });
    };
    if (verb.empty() || badChar(verb) || badChar(path)) {
        SetLastError(kErrInvalidParameter);
        return nullptr;
    }
    auto r = std::make_unique<Request::State>(*connection.session.state, connection.host,
                                              connection.port);
    r->verb = std::string(verb);
    r->flags = flags;
    std::string origin = std::string(path);
    if (origin.empty() || origin.front() != '/')
        origin.insert(0, "/");
    r->proxy = r->session.proxy.For(r->host, flags.secure);
    // A plain request through a proxy names the absolute URL.
    r->target = r->proxy && !flags.secure ? "http://" + Authority(r->host, r->port, false) + origin
                                          : origin;
    r->route = r->host + "|" + std::to_string(r->port) + (flags.secure ? "|tls|" : "|tcp|") +
               (r->proxy ? r->proxy->host + ":" + std::to_string(r->proxy->port) : "");

    r->headers.emplace_back("Host", Authority(r->host, r->port, flags.secure));
    if (!r->session.userAgent.empty())
        r->headers.emplace_back("User-Agent", r->session.userAgent);
    if (!referrer.empty() && !HasLineBreak(referrer))
        r->headers.emplace_back("Referer", std::string(referrer));
    if (flags.refresh) {
        r->headers.emplace_back("Pragma", "no-cache");
        r->headers.emplace_back("Cache-Control", "no-cache");
    }
    return std::make_unique<Request>(std::move(r));
}

void SetProxyCredentials(Request& request, std::string_view user, std::string_view password) {
    request.state->proxyUser = std::string(user);
    request.state->proxyPassword = std::string(password);
    request.state->proxyCredentials = !user.empty() || !password.empty();
}

namespace {

// Replaces the header `name` or appends it.
void PutHeader(HeaderList& headers, std::string_view name, std::string value) {
    for (auto& [n, v] : headers)
        if (EqualsNoCase(n, name)) {
            n = std::string(name);
            v = std::move(value);
            return;
        }
    headers.emplace_back(std::string(name), std::move(value));
}

void DropHeader(HeaderList& headers, std::string_view name) {
    std::erase_if(headers, [&](const auto& h) { return EqualsNoCase(h.first, name); });
}

} // namespace

bool AddHeader(Request& request, std::string_view name, std::string_view value) {
    if (name.empty() || HasLineBreak(value) || std::any_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == ':';
        })) {
        SetLastError(kErrInvalidParameter);
        return false;
    }
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    PutHeader(request.state->headers, name, std::string(value));
    return true;
}

namespace {

// Lookups of one session that may still be running after their timeout; past
// this, a hanging resolver fails further lookups at once instead of piling up
// threads.
constexpr int kStrayLookupLimit = 4;

// Resolves `host`: at once for an address literal, else through getaddrinfo
// (on a helper thread only when a resolve timeout is set).
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

// Opens a TCP connection to host:port within the connect timeout.
bool OpenTcp(Session::State& s, Wire& wire, const std::string& host, std::uint16_t port) {
    std::vector<tcp::endpoint> endpoints;
    if (!Resolve(s, host, port, endpoints))
        return false;
    error_code result;
    Expire(*wire.tcp, s.timeouts.connect);
    wire.tcp->async_connect(endpoints, [&](error_code ec, const tcp::endpoint&) { result = ec; });
    s.Run();
    if (result) {
        SetLastError(CodeFor(result, kErrCannotConnect));
        return false;
    }
    // Small requests and answers go out at once.
    wire.tcp->socket().set_option(tcp::no_delay(true), result);
    return true;
}

error_code WriteBytes(Session::State& s, Wire& wire, std::string_view bytes) {
    error_code result;
    Expire(wire.Lowest(), s.timeouts.send);
    OnStream(wire, [&](auto& stream) {
        asio::async_write(stream, asio::buffer(bytes.data(), bytes.size()),
                          [&](error_code ec, std::size_t) { result = ec; });
    });
    s.Run();
    return result;
}

// Asks the proxy for a tunnel to the request's host and port.
bool OpenTunnel(Request::State& r, Wire& wire) {
    Session::State& s = r.session;
    const std::string authority = r.host.find(':') != std::string::npos
                                      ? "[" + r.host + "]:" + std::to_string(r.port)
                                      : r.host + ":" + std::to_string(r.port);
    std::string connect = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    if (!s.userAgent.empty())
        connect += "User-Agent: " + s.userAgent + "\r\n";
    if (r.proxyCredentials)
        connect += "Proxy-Authorization: " + BasicAuth(r.proxyUser, r.proxyPassword) + "\r\n";
    else if (!r.proxy->user.empty())
        connect += "Proxy-Authorization: " + BasicAuth(r.proxy->user, r.proxy->password) + "\r\n";
    connect += "\r\n";
    if (const error_code ec = WriteBytes(s, wire, connect)) {
        SetLastError(CodeFor(ec, kErrConnectionError));
        return false;
    }
    http::response_parser<http::empty_body> answer;
    answer.skip(true); // a CONNECT answer has no body
    answer.header_limit(kHeadLimit);
    error_code result;
    Expire(*wire.tcp, s.timeouts.receive);
    http::async_read_header(*wire.tcp, wire.buffer, answer,
                            [&](error_code ec, std::size_t) { result = ec; });
    s.Run();
    if (result || answer.get().result_int() != 200 || wire.buffer.size() != 0) {
        SetLastError(result ? CodeFor(result, kErrCannotConnect) : kErrCannotConnect);
        return false;
    }
    return true;
}

// TLS with SNI, the peer chain checked against the trust store and the
// certificate checked for the host name or address.
bool StartTls(Request::State& r, Wire& wire) {
    Session::State& s = r.session;
    wire.tls = std::make_unique<beast::ssl_stream<beast::tcp_stream>>(std::move(*wire.tcp),
                                                                      s.TlsContext());
    wire.tcp.reset();
    SSL* ssl = wire.tls->native_handle();
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (IsIpLiteral(r.host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, r.host.c_str());
    } else {
        X509_VERIFY_PARAM_set1_host(param, r.host.c_str(), r.host.size());
        // SNI (what SSL_set_tlsext_host_name expands to).
        SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                 const_cast<char*>(r.host.c_str()));
    }
    error_code result;
    Expire(wire.Lowest(), s.timeouts.connect);
    wire.tls->async_handshake(ssl::stream_base::client, [&](error_code ec) { result = ec; });
    s.Run();
    if (result) {
        SetLastError(CodeFor(result, kErrSecureFailure) == kErrTimeout ? kErrTimeout
                                                                       : kErrSecureFailure);
        return false;
    }
    return true;
}

// A fresh connection for the request: TCP to the server or its proxy, the
// tunnel and TLS when secure.
std::unique_ptr<Wire> OpenWire(Request::State& r) {
    auto wire = std::make_unique<Wire>(r.session.ioc);
    const std::string& host = r.proxy ? r.proxy->host : r.host;
    const std::uint16_t port = r.proxy ? r.proxy->port : r.port;
    if (!OpenTcp(r.session, *wire, host, port))
        return nullptr;
    if (r.flags.secure && r.proxy && !OpenTunnel(r, *wire))
        return nullptr;
    if (r.flags.secure && !StartTls(r, *wire))
        return nullptr;
    return wire;
}

// An idle pooled connection for the route, or a fresh one.
bool TakeWire(Request::State& r) {
    auto& pool = r.session.pool;
    for (auto it = pool.find(r.route); it != pool.end() && it->first == r.route;
         it = pool.find(r.route)) {
        auto wire = std::move(it->second);
        pool.erase(it);
        if (wire->LooksIdle()) {
            r.wire = std::move(wire);
            r.reused = true;
            return true;
        }
    }
    r.reused = false;
    r.wire = OpenWire(r);
    return r.wire != nullptr;
}

// After a pooled connection turned out closed: the same bytes on a fresh one.
bool Replay(Request::State& r) {
    r.wire = OpenWire(r);
    r.reused = false;
    if (!r.wire)
        return false;
    const error_code ec = WriteBytes(r.session, *r.wire, r.head + r.sentBody);
    r.sentBody.clear();
    if (ec) {
        SetLastError(CodeFor(ec, kErrConnectionError));
        return false;
    }
    return true;
}

} // namespace

bool SendHead(Request& request, std::uint32_t totalLength) {
    Request::State& r = *request.state;
    SetLastError(kNoError);
    if (r.wire) {
        SetLastError(kErrIncorrectHandleState);
        return false;
    }
    // Body framing is the layer's own: the declared length, never chunked.
    DropHeader(r.headers, "Transfer-Encoding");
    if (totalLength > 0 || (r.verb != "GET" && r.verb != "HEAD"))
        PutHeader(r.headers, "Content-Length", std::to_string(totalLength));
    else
        DropHeader(r.headers, "Content-Length");
    if (!r.flags.keepAlive)
        PutHeader(r.headers, "Connection", "close");
    if (r.proxy && !r.flags.secure) {
        if (r.proxyCredentials)
            PutHeader(r.headers, "Proxy-Authorization", BasicAuth(r.proxyUser, r.proxyPassword));
        else if (!r.proxy->user.empty())
            PutHeader(r.headers, "Proxy-Authorization",
                      BasicAuth(r.proxy->user, r.proxy->password));
    }
    r.head = r.verb + " " + r.target + " HTTP/1.1\r\n";
    for (const auto& [name, value] : r.headers)
        r.head += name + ": " + value + "\r\n";
    r.head += "\r\n";

    if (!TakeWire(r))
        return false;
    if (const error_code ec = WriteBytes(r.session, *r.wire, r.head)) {
        // A pooled connection the server closed meanwhile: use a fresh one.
        if (!r.reused || !Replay(r)) {
            if (!r.reused)
                SetLastError(CodeFor(ec, kErrConnectionError));
            r.failed = true;
            return false;
        }
    }
    return true;
}

std::uint32_t WriteBody(Request& request, const void* data, std::uint32_t length) {
    Request::State& r = *request.state;
    SetLastError(kNoError);
    if (!r.wire || r.headDone || r.failed) {
        SetLastError(kErrIncorrectHandleState);
        return 0;
    }
    const std::string_view bytes(static_cast<const char*>(data), length);
    if (const error_code ec = WriteBytes(r.session, *r.wire, bytes)) {
        if (!r.reused || !Replay(r) || WriteBytes(r.session, *r.wire, bytes)) {
            if (!r.reused)
                SetLastError(CodeFor(ec, kErrConnectionError));
            r.failed = true;
            return 0;
        }
    }
    if (r.reused)
        r.sentBody.append(bytes);
    return length;
}

namespace {

void NewParser(Request::State& r) {
    r.parser.emplace();
    r.parser->header_limit(kHeadLimit);
    // No body limit (Beast 1.74 mishandles an empty optional here).
    r.parser->body_limit(std::numeric_limits<std::uint64_t>::max());
    if (r.verb == "HEAD")
        r.parser->skip(true);
    r.rawHead.clear();
}

// One read of up to kReadAhead bytes into the connection's buffer, bounded by
// the receive timeout; the count read, with the read's error in `result`.
std::size_t ReadAhead(Session::State& s, Wire& wire, error_code& result) {
    std::size_t got = 0;
    Expire(wire.Lowest(), s.timeouts.receive);
    OnStream(wire, [&](auto& stream) {
        stream.async_read_some(wire.buffer.prepare(kReadAhead), [&](error_code ec, std::size_t n) {
            result = ec;
            got = n;
        });
    });
    s.Run();
    wire.buffer.commit(got);
    return got;
}

// Reads until the parser has a final (non-1xx) head, keeping its raw bytes.
// `gotAny` tells whether any byte of the answer arrived.
bool ReadHead(Request::State& r, bool& gotAny) {
    Session::State& s = r.session;
    Wire& wire = *r.wire;
    NewParser(r);
    gotAny = wire.buffer.size() > 0;
    for (;;) {
        if (wire.buffer.size() > 0) {
            error_code ec;
            const std::size_t used = r.parser->put(wire.buffer.data(), ec);
            r.rawHead.append(static_cast<const char*>(wire.buffer.data().data()), used);
            wire.buffer.consume(used);
            if (ec && ec != http::error::need_more) {
                SetLastError(kErrInvalidServerResponse);
                return false;
            }
            if (r.parser->is_header_done()) {
                const unsigned status = r.parser->get().result_int();
                if (status < 100 || status >= 200 || status == 101)
                    return true;
                NewParser(r); // an interim answer: the real one follows
                continue;
            }
            if (wire.buffer.size() > kHeadLimit) {
                SetLastError(kErrInvalidServerResponse);
                return false;
            }
        }
        error_code result;
        const std::size_t got = ReadAhead(s, wire, result);
        if (got > 0)
            gotAny = true;
        if (result && got == 0) {
            SetLastError(
                gotAny && (result == asio::error::eof || result == ssl::error::stream_truncated)
                    ? kErrInvalidServerResponse
                    : CodeFor(result, kErrConnectionError));
            return false;
        }
    }
}

} // namespace

bool ReceiveHead(Request& request) {
    Request::State& r = *request.state;
    SetLastError(kNoError);
    if (!r.wire || r.headDone || r.failed) {
        SetLastError(kErrIncorrectHandleState);
        return false;
    }
    bool gotAny = false;
    if (ReadHead(r, gotAny)) {
        r.headDone = true;
        return true;
    }
    // Nothing came back on a pooled connection: the server had closed it.
    if (r.reused && !gotAny && LastError() == kErrConnectionError && Replay(r) &&
        ReadHead(r, gotAny)) {
        r.headDone = true;
        return true;
    }
    r.rawHead.clear();
    r.failed = true;
    return false;
}

std::string RawHeaders(const Request& request) {
    return request.state->headDone ? request.state->rawHead : std::string();
}

bool HeaderValue(const Request& request, std::string_view name, std::size_t index,
                 std::string& value) {
    const Request::State& r = *request.state;
    if (!r.headDone)
        return false;
    const auto range = r.parser->get().equal_range(beast::string_view(name.data(), name.size()));
    std::size_t i = 0;
    for (auto it = range.first; it != range.second; ++it, ++i)
        if (i == index) {
            const auto v = it->value();
            value.assign(v.data(), v.size());
            return true;
        }
    return false;
}

long ReadData(Request& request, void* buffer, std::size_t size) {
    Request::State& r = *request.state;
    if (!r.headDone || r.failed) {
        SetLastError(kErrIncorrectHandleState);
        return -1;
    }
    if (r.parser->is_done() || size == 0)
        return 0;
    Session::State& s = r.session;
    Wire& wire = *r.wire;
    auto& body = r.parser->get().body();
    body.data = buffer;
    body.size = size;
    body.more = true;
    const auto fail = [&](int code) -> long {
        r.failed = true;
        SetLastError(code);
        // The bytes that came before the failure still count.
        const long got = static_cast<long>(size - body.size);
        return got > 0 ? got : -1;
    };
    // Body bytes come from what was read ahead; the socket is read only when
    // that is used up, a large piece at a time, so small reads cost no I/O.
    for (;;) {
        while (wire.buffer.size() > 0 && body.size > 0 && !r.parser->is_done()) {
            error_code ec;
            const std::size_t used = r.parser->put(wire.buffer.data(), ec);
            wire.buffer.consume(used);
            if (ec == http::error::need_buffer)
                break;
            if (ec == http::error::need_more)
                break;
            if (ec)
                return fail(CodeFor(ec, kErrInvalidServerResponse));
            if (used == 0)
                break;
        }
        const long got = static_cast<long>(size - body.size);
        if (got > 0 || r.parser->is_done())
            return got;

        error_code result;
        const std::size_t n = ReadAhead(s, wire, result);
        if (n > 0)
            continue;
        if (result == asio::error::eof) {
            // Fine for a body that the close delimits; a short one otherwise.
            error_code ec;
            r.parser->put_eof(ec);
            if (ec)
                return fail(kErrConnectionError);
            continue;
        }
        return fail(result ? CodeFor(result, kErrConnectionError) : kErrConnectionError);
    }
}

} // namespace Winhttpclass::platform
