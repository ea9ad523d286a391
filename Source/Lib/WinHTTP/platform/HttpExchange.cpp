// The exchange: sessions, connections and requests as HttpPlatform.h offers
// them, from the request head to the last byte of the answer's body.
#include "AsciiText.h"
#include "platform/HttpInternal.h"
#include "platform/LastError.h"

#include <algorithm>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/http/error.hpp>
#include <cstring>
#include <limits>

namespace Winhttpclass::platform {

namespace {

using tarvo::ascii::EqualsNoCase;

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// "host" or "host:port" as it goes in Host and CONNECT.
std::string Authority(const std::string& host, std::uint16_t port, bool secure) {
    const std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port == (secure ? 443 : 80))
        return name;
    return name + ":" + std::to_string(port);
}

} // namespace

Session::Session(std::unique_ptr<State> s) : state(std::move(s)) {}
Session::~Session() = default;

Connection::Connection(Session& s, std::string h, std::uint16_t p)
    : session(s), host(std::move(h)), port(p) {}
Connection::~Connection() = default;

Request::Request(std::unique_ptr<State> s) : state(std::move(s)) {}

Request::~Request() {
    ReturnWire(*state);
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

void UseMemoryTransport(Session& session, std::shared_ptr<MemoryPeer> peer) {
    session.state->memory = std::move(peer);
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

// After a pooled connection turned out closed: the same bytes on a fresh one.
bool Replay(Request::State& r) {
    r.wire = OpenWire(r);
    r.reused = false;
    if (!r.wire)
        return false;
    const error_code ec = r.wire->transport->Write(r.head + r.sentBody);
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
    if (const error_code ec = r.wire->transport->Write(r.head)) {
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
    if (const error_code ec = r.wire->transport->Write(bytes)) {
        if (!r.reused || !Replay(r) || r.wire->transport->Write(bytes)) {
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

// Reads until the parser has a final (non-1xx) head, keeping its raw bytes.
// `gotAny` tells whether any byte of the answer arrived.
bool ReadHead(Request::State& r, bool& gotAny) {
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
        const std::size_t got = ReadAhead(wire, result);
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

namespace {

enum class Piece { Got, Done, NeedRead, Failed };

void Fail(Request::State& r, int code) {
    r.failed = true;
    SetLastError(code);
}

// The next piece of body, at most `size` bytes, from what was read ahead;
// NeedRead when that is used up.
Piece ParsePiece(Request::State& r, std::size_t size, std::string_view& piece) {
    Wire& wire = *r.wire;
    auto& body = r.parser->get().body();
    while (wire.buffer.size() > 0 && !r.parser->is_done()) {
        body.room = size;
        body.size = 0;
        error_code ec;
        const std::size_t used = r.parser->put(wire.buffer.data(), ec);
        // Consuming moves no bytes: the view stays valid until the next read.
        wire.buffer.consume(used);
        if (body.size > 0) {
            piece = {body.data, body.size};
            return Piece::Got;
        }
        if (ec == http::error::need_buffer || ec == http::error::need_more)
            break;
        if (ec) {
            Fail(r, CodeFor(ec, kErrInvalidServerResponse));
            return Piece::Failed;
        }
        if (used == 0)
            break;
    }
    return r.parser->is_done() ? Piece::Done : Piece::NeedRead;
}

// Reads ahead on the connection; false (the request failed) when nothing came.
bool ReadMore(Request::State& r) {
    error_code result;
    if (ReadAhead(*r.wire, result) > 0)
        return true;
    if (result == asio::error::eof) {
        // Fine for a body that the close delimits; a short one otherwise.
        error_code ec;
        r.parser->put_eof(ec);
        if (!ec)
            return true;
        Fail(r, kErrConnectionError);
        return false;
    }
    Fail(r, result ? CodeFor(result, kErrConnectionError) : kErrConnectionError);
    return false;
}

bool CanRead(const Request::State& r) {
    if (r.headDone && !r.failed)
        return true;
    SetLastError(kErrIncorrectHandleState);
    return false;
}

} // namespace

long ReadData(Request& request, void* buffer, std::size_t size) {
    Request::State& r = *request.state;
    if (!CanRead(r))
        return -1;
    // Body bytes come from what was read ahead; the socket is read only when
    // that is used up and nothing was copied yet, a large piece at a time, so
    // small reads cost no I/O. The bytes that came before a failure still
    // count.
    auto* out = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < size) {
        std::string_view piece;
        switch (ParsePiece(r, size - got, piece)) {
        case Piece::Got:
            std::memcpy(out + got, piece.data(), piece.size());
            got += piece.size();
            continue;
        case Piece::Done:
            return static_cast<long>(got);
        case Piece::NeedRead:
            if (got > 0)
                return static_cast<long>(got);
            if (ReadMore(r))
                continue;
            return -1;
        case Piece::Failed:
            return got > 0 ? static_cast<long>(got) : -1;
        }
    }
    return static_cast<long>(got);
}

long ReadDataInPlace(Request& request, std::size_t size, const char*& data) {
    Request::State& r = *request.state;
    if (!CanRead(r))
        return -1;
    if (size == 0)
        return 0;
    for (;;) {
        std::string_view piece;
        switch (ParsePiece(r, size, piece)) {
        case Piece::Got:
            data = piece.data();
            return static_cast<long>(piece.size());
        case Piece::Done:
            return 0;
        case Piece::NeedRead:
            if (ReadMore(r))
                continue;
            return -1;
        case Piece::Failed:
            return -1;
        }
    }
}

} // namespace Winhttpclass::platform
