#include "LoopbackServer.h"

#include "AsciiText.h"
#include "LoopbackListen.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

// How long a connection may sit without a byte before the server gives up.
constexpr auto kIdleLimit = std::chrono::seconds(20);
// How often blocked loops look at the stop flag.
constexpr int kPollMs = 20;

using tarvo::ascii::EqualsNoCase;
using tarvo::ascii::Lower;

std::string Trim(std::string_view text) {
    return std::string(tarvo::ascii::TrimHeaderBlanks(text));
}

// --- sockets -----------------------------------------------------------------

struct SslDeleter {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct SslCtxDeleter {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using SslPtr = std::unique_ptr<SSL, SslDeleter>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxDeleter>;

int ListenLoopback(std::uint16_t port, std::uint16_t& bound) {
    const auto listener = ListenOnLoopback(64, port);
    bound = listener.Port;
    return listener.Fd;
}

int ConnectLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SetSocketTimeouts(int fd) {
    timeval tv{};
    tv.tv_sec = 5;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Waits until `fd` is readable; false when stopped or idle too long.
bool WaitReadable(int fd, const std::atomic<bool>& stop) {
    const auto deadline = Clock::now() + kIdleLimit;
    while (!stop.load() && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, kPollMs);
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
    return false;
}

// One accepted connection, plain or TLS.
class Conn {
public:
    Conn(int fd, SSL* ssl, const std::atomic<bool>& stop) : FFd(fd), FSsl(ssl), FStop(stop) {}

    // Bytes read (> 0), or 0 at end of stream, on stop, idle or error.
    long ReadSome(char* buf, std::size_t size) {
        if (!(FSsl && SSL_pending(FSsl.get()) > 0) && !WaitReadable(FFd, FStop))
            return 0;
        if (FSsl) {
            const int n =
                SSL_read(FSsl.get(), buf, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
            return n > 0 ? n : 0;
        }
        const ssize_t n = ::recv(FFd, buf, size, 0);
        return n > 0 ? static_cast<long>(n) : 0;
    }

    bool WriteAll(std::string_view data) {
        while (!data.empty()) {
            long n = 0;
            if (FSsl)
                n = SSL_write(FSsl.get(), data.data(),
                              static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)));
            else
                n = ::send(FFd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    void Reset() {
        const linger l{1, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }

    void CloseTls() {
        if (FSsl)
            SSL_shutdown(FSsl.get());
    }

private:
    int FFd;
    SslPtr FSsl;
    const std::atomic<bool>& FStop;
};

// --- request reading -----------------------------------------------------------

bool ReadMore(Conn& conn, std::string& pending, std::size_t limit) {
    if (pending.size() > limit)
        return false;
    char buf[16384];
    const long n = conn.ReadSome(buf, sizeof buf);
    if (n <= 0)
        return false;
    pending.append(buf, static_cast<std::size_t>(n));
    return true;
}

// Takes one CRLF-terminated line off the front of `pending` into `line`.
bool TakeLine(Conn& conn, std::string& pending, std::string& raw, std::string& line,
              std::size_t limit) {
    std::size_t eol;
    while ((eol = pending.find("\r\n")) == std::string::npos)
        if (!ReadMore(conn, pending, limit))
            return false;
    line = pending.substr(0, eol);
    raw.append(pending, 0, eol + 2);
    pending.erase(0, eol + 2);
    return true;
}

bool TakeBytes(Conn& conn, std::string& pending, std::string& raw, std::string& out,
               std::size_t count, std::size_t limit) {
    if (count > limit)
        return false;
    while (pending.size() < count)
        if (!ReadMore(conn, pending, limit + count))
            return false;
    out.append(pending, 0, count);
    raw.append(pending, 0, count);
    pending.erase(0, count);
    return true;
}

// Reads one complete request head (and body when `withBody`).
std::optional<ReceivedRequest> ReadRequest(Conn& conn, std::string& pending, std::size_t limit,
                                           bool withBody = true) {
    ReceivedRequest req;
    std::size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos)
        if (!ReadMore(conn, pending, limit))
            return std::nullopt;
    const std::string head = pending.substr(0, end + 4);
    pending.erase(0, end + 4);
    req.raw = head;

    std::size_t pos = head.find("\r\n");
    const std::string requestLine = head.substr(0, pos);
    const auto sp1 = requestLine.find(' ');
    const auto sp2 = requestLine.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1)
        return std::nullopt;
    req.method = requestLine.substr(0, sp1);
    req.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    pos += 2;
    while (pos < end + 2) {
        const auto eol = head.find("\r\n", pos);
        const std::string line = head.substr(pos, eol - pos);
        pos = eol + 2;
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        req.headers.emplace_back(line.substr(0, colon),
                                 Trim(std::string_view(line).substr(colon + 1)));
    }
    if (!withBody)
        return req;

    if (Lower(req.Header("Transfer-Encoding")).find("chunked") != std::string::npos) {
        for (int guard = 0; guard < 1000000; ++guard) {
            std::string line;
            if (!TakeLine(conn, pending, req.raw, line, limit))
                return std::nullopt;
            const std::size_t size = std::strtoul(line.c_str(), nullptr, 16);
            if (size == 0) {
                // Trailers up to the empty line.
                do {
                    if (!TakeLine(conn, pending, req.raw, line, limit))
                        return std::nullopt;
                } while (!line.empty());
                return req;
            }
            std::string crlf;
            if (!TakeBytes(conn, pending, req.raw, req.body, size, limit) ||
                !TakeBytes(conn, pending, req.raw, crlf, 2, limit))
                return std::nullopt;
        }
        return std::nullopt;
    }
    const std::string length = req.Header("Content-Length");
    if (!length.empty()) {
        const std::size_t count = std::strtoul(length.c_str(), nullptr, 10);
        if (!TakeBytes(conn, pending, req.raw, req.body, count, limit))
            return std::nullopt;
    }
    return req;
}

bool WantsClose(std::string_view reply) {
    const auto end = reply.find("\r\n\r\n");
    const std::string head = Lower(reply.substr(0, end));
    return head.find("\r\nconnection: close") != std::string::npos;
}

// --- certificates ----------------------------------------------------------------

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

PkeyPtr NewKey() {
    PkeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        throw std::runtime_error("key generation failed");
    return key;
}

void AddExt(X509* cert, X509V3_CTX& ctx, int nid, const char* value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        throw std::runtime_error("bad certificate extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for `key` named `cn`, signed by `issuerKey` as `issuer`
// (nullptr: self-signed).
X509Ptr MakeCert(EVP_PKEY* key, std::string_view cn, bool isCa, std::string_view altNames,
                 X509* issuer, EVP_PKEY* issuerKey) {
    static std::atomic<long> serial{1000};
    X509Ptr cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    const std::string name(cn);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));

    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, signer, cert.get(), nullptr, nullptr, 0);
    if (isCa) {
        AddExt(cert.get(), ctx, NID_basic_constraints, "critical,CA:TRUE");
        AddExt(cert.get(), ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
        AddExt(cert.get(), ctx, NID_subject_key_identifier, "hash");
    } else {
        AddExt(cert.get(), ctx, NID_basic_constraints, "critical,CA:FALSE");
        AddExt(cert.get(), ctx, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        AddExt(cert.get(), ctx, NID_ext_key_usage, "serverAuth");
        const std::string alt(altNames);
        if (!alt.empty())
            AddExt(cert.get(), ctx, NID_subject_alt_name, alt.c_str());
    }
    if (X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        throw std::runtime_error("certificate signing failed");
    return cert;
}

std::string CertToPem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(len));
    BIO_free(bio);
    return pem;
}

std::string KeyToPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(len));
    BIO_free(bio);
    return pem;
}

SslCtxPtr ServerContext(const TlsIdentity& identity) {
    SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
    BIO* certBio =
        BIO_new_mem_buf(identity.certPem.data(), static_cast<int>(identity.certPem.size()));
    X509Ptr cert(PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr));
    BIO_free(certBio);
    BIO* keyBio = BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size()));
    PkeyPtr key(PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr));
    BIO_free(keyBio);
    if (!ctx || !cert || !key || SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1)
        throw std::runtime_error("cannot load the server identity");
    return ctx;
}

// Threads of accepted connections, their sockets shut down on stop.
class ConnectionSet {
public:
    // Registers a socket; returns its slot.
    std::size_t Add(int fd) {
        std::lock_guard lock(FMutex);
        FFds.push_back(fd);
        return FFds.size() - 1;
    }
    void Close(std::size_t slot) {
        std::lock_guard lock(FMutex);
        if (FFds[slot] >= 0)
            ::close(FFds[slot]);
        FFds[slot] = -1;
    }
    void Spawn(std::thread thread) {
        std::lock_guard lock(FMutex);
        FThreads.push_back(std::move(thread));
    }
    void ShutdownAndJoin() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(FMutex);
            for (const int fd : FFds)
                if (fd >= 0)
                    ::shutdown(fd, SHUT_RDWR);
            threads.swap(FThreads);
        }
        for (auto& t : threads)
            t.join();
    }

private:
    std::mutex FMutex;
    std::vector<int> FFds;
    std::vector<std::thread> FThreads;
};

// Accepts connections until stopped and hands each to `serve` on its own thread.
template <class Serve>
void AcceptLoop(int listenFd, const std::atomic<bool>& stop, ConnectionSet& set, Serve serve) {
    int number = 0;
    while (!stop.load()) {
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        SetSocketTimeouts(fd);
        const std::size_t slot = set.Add(fd);
        ++number;
        set.Spawn(std::thread([serve, fd, slot, number] { serve(fd, slot, number); }));
    }
}

} // namespace

// --- ReceivedRequest --------------------------------------------------------------

std::string ReceivedRequest::Header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (EqualsNoCase(n, name))
            return v;
    return {};
}

bool ReceivedRequest::HasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return EqualsNoCase(h.first, name); });
}

// --- TestCa -------------------------------------------------------------------------

struct TestCa::Key {
    PkeyPtr key;
    X509Ptr cert;
};

TestCa::TestCa(std::string_view commonName) : FKey(std::make_unique<Key>()) {
    FKey->key = NewKey();
    FKey->cert = MakeCert(FKey->key.get(), commonName, true, {}, nullptr, nullptr);
    FCertPem = CertToPem(FKey->cert.get());
    char path[] = "/tmp/netvane-test-ca-XXXXXX.pem";
    const int fd = ::mkstemps(path, 4);
    if (fd < 0)
        throw std::runtime_error("cannot create the CA file");
    const bool ok =
        ::write(fd, FCertPem.data(), FCertPem.size()) == static_cast<ssize_t>(FCertPem.size());
    ::close(fd);
    FCertFile = path;
    if (!ok)
        throw std::runtime_error("cannot write the CA file");
}

TestCa::~TestCa() {
    if (!FCertFile.empty())
        std::remove(FCertFile.c_str());
}

TlsIdentity TestCa::Issue(std::string_view subjectAltNames) const {
    PkeyPtr key = NewKey();
    X509Ptr cert = MakeCert(key.get(), "netvane test server", false, subjectAltNames,
                            FKey->cert.get(), FKey->key.get());
    return {CertToPem(cert.get()), KeyToPem(key.get())};
}

TlsIdentity TestCa::SelfSigned(std::string_view subjectAltNames) {
    PkeyPtr key = NewKey();
    X509Ptr cert =
        MakeCert(key.get(), "self-signed test server", false, subjectAltNames, nullptr, nullptr);
    return {CertToPem(cert.get()), KeyToPem(key.get())};
}

// --- ScriptedServer ------------------------------------------------------------------

struct ScriptedServer::State {
    ReplyHandler handler;
    Options options;
    SslCtxPtr tls;
    int listenFd = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> connections{0};
    mutable std::mutex mutex;
    std::vector<ReceivedRequest> requests;
    ConnectionSet set;
    std::thread acceptThread;

    void Serve(int fd, std::size_t slot, int number) {
        SSL* ssl = nullptr;
        if (tls) {
            ssl = SSL_new(tls.get());
            SSL_set_fd(ssl, fd);
        }
        Conn conn(fd, ssl, stop);
        if (ssl && SSL_accept(ssl) != 1) {
            set.Close(slot);
            return;
        }
        std::string pending;
        const auto limit = static_cast<std::size_t>(options.maxRequestBytes);
        bool open = true;
        while (open && !stop.load()) {
            auto req = ReadRequest(conn, pending, limit);
            if (!req)
                break;
            req->connection = number;
            {
                std::lock_guard lock(mutex);
                requests.push_back(*req);
            }
            const Reply reply = handler(*req);
            if (!reply.bytes.empty() && !conn.WriteAll(reply.bytes))
                break;
            switch (reply.after) {
            case After::Continue:
                open =
                    !EqualsNoCase(req->Header("Connection"), "close") && !WantsClose(reply.bytes);
                break;
            case After::Close:
                open = false;
                break;
            case After::Reset:
                conn.Reset();
                open = false;
                break;
            case After::Hang: {
                char sink[4096];
                while (!stop.load() && conn.ReadSome(sink, sizeof sink) > 0) {
                }
                open = false;
                break;
            }
            }
            if (!open && reply.after != After::Reset)
                conn.CloseTls();
        }
        set.Close(slot);
    }
};

ScriptedServer::ScriptedServer(Handler handler, Options options)
    : ScriptedServer(ReplyHandler([h = std::move(handler)](const ReceivedRequest& r) {
                         return Reply{h(r), After::Continue};
                     }),
                     options) {}

ScriptedServer::ScriptedServer(ReplyHandler handler, Options options)
    : FState(std::make_shared<State>()) {
    FState->handler = std::move(handler);
    FState->options = options;
    if (options.tls)
        FState->tls = ServerContext(*options.tls);
    FState->listenFd = ListenLoopback(options.port, FState->port);
    State* s = FState.get();
    s->acceptThread = std::thread([s] {
        AcceptLoop(s->listenFd, s->stop, s->set, [s](int fd, std::size_t slot, int number) {
            ++s->connections;
            s->Serve(fd, slot, number);
        });
    });
}

ScriptedServer::~ScriptedServer() {
    FState->stop = true;
    FState->acceptThread.join();
    ::close(FState->listenFd);
    FState->set.ShutdownAndJoin();
}

std::uint16_t ScriptedServer::Port() const {
    return FState->port;
}

std::string ScriptedServer::Url(std::string_view path) const {
    return std::string(FState->tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(Port()) +
           std::string(path);
}

std::vector<ReceivedRequest> ScriptedServer::Requests() const {
    std::lock_guard lock(FState->mutex);
    return FState->requests;
}

int ScriptedServer::Connections() const {
    return FState->connections.load();
}

// --- responses -----------------------------------------------------------------------

std::string HttpResponse(int status, std::string_view reason, std::string_view body,
                         HeaderList headers) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
    for (const auto& [n, v] : headers)
        out += n + ": " + v + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    out += body;
    return out;
}

std::string ChunkedResponse(int status, std::string_view reason,
                            const std::vector<std::string>& chunks, HeaderList headers) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
    for (const auto& [n, v] : headers)
        out += n + ": " + v + "\r\n";
    out += "Transfer-Encoding: chunked\r\n\r\n";
    char size[32];
    for (const auto& c : chunks) {
        std::snprintf(size, sizeof size, "%zx\r\n", c.size());
        out += size + c + "\r\n";
    }
    out += "0\r\n\r\n";
    return out;
}

// --- ForwardingProxy -------------------------------------------------------------------

namespace {

// Copies bytes both ways until either side closes, the proxy stops, or both idle.
void Relay(Conn& client, int upstream, const std::atomic<bool>& stop, int clientFd) {
    char buf[16384];
    auto last = Clock::now();
    while (!stop.load() && Clock::now() - last < kIdleLimit) {
        pollfd p[2] = {{clientFd, POLLIN, 0}, {upstream, POLLIN, 0}};
        if (::poll(p, 2, kPollMs) <= 0)
            continue;
        last = Clock::now();
        if (p[0].revents) {
            const long n = client.ReadSome(buf, sizeof buf);
            if (n <= 0 || ::send(upstream, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
                return;
        }
        if (p[1].revents) {
            const ssize_t n = ::recv(upstream, buf, sizeof buf, 0);
            if (n <= 0 || !client.WriteAll(std::string_view(buf, static_cast<std::size_t>(n))))
                return;
        }
    }
}

// "host:port" of a CONNECT target or the authority of an absolute URL, when the
// host is loopback; 0 otherwise.
std::uint16_t LoopbackPort(std::string_view authority) {
    const auto colon = authority.rfind(':');
    if (colon == std::string_view::npos)
        return 80;
    const std::string_view host = authority.substr(0, colon);
    if (host != "127.0.0.1" && host != "localhost")
        return 0;
    return static_cast<std::uint16_t>(
        std::strtoul(std::string(authority.substr(colon + 1)).c_str(), nullptr, 10));
}

} // namespace

struct ForwardingProxy::State {
    std::string requiredAuth;
    int listenFd = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    mutable std::mutex mutex;
    std::vector<ReceivedRequest> requests;
    ConnectionSet set;
    std::thread acceptThread;

    void Serve(int fd, std::size_t slot, int number) {
        Conn client(fd, nullptr, stop);
        std::string pending;
        auto req = ReadRequest(client, pending, 1 << 20, false);
        if (req) {
            req->connection = number;
            {
                std::lock_guard lock(mutex);
                requests.push_back(*req);
            }
            Handle(client, fd, *req, pending);
        }
        set.Close(slot);
    }

    void Handle(Conn& client, int fd, ReceivedRequest& req, std::string& pending) {
        if (!requiredAuth.empty() && req.Header("Proxy-Authorization") != requiredAuth) {
            client.WriteAll(HttpResponse(
                407, "Proxy Authentication Required", "",
                {{"Proxy-Authenticate", "Basic realm=\"test\""}, {"Connection", "close"}}));
            return;
        }
        if (req.method == "CONNECT") {
            const std::uint16_t upPort = LoopbackPort(req.target);
            const int up = upPort ? ConnectLoopback(upPort) : -1;
            if (up < 0) {
                client.WriteAll(HttpResponse(502, "Bad Gateway", "", {{"Connection", "close"}}));
                return;
            }
            client.WriteAll("HTTP/1.1 200 Connection established\r\n\r\n");
            if (!pending.empty())
                ::send(up, pending.data(), pending.size(), MSG_NOSIGNAL);
            Relay(client, up, stop, fd);
            ::close(up);
            return;
        }
        // Absolute URL: http://authority/path
        const std::string_view target = req.target;
        const auto scheme = target.find("://");
        const auto pathStart = scheme == std::string_view::npos ? std::string_view::npos
                                                                : target.find('/', scheme + 3);
        const std::uint16_t upPort =
            scheme == std::string_view::npos
                ? 0
                : LoopbackPort(target.substr(scheme + 3, pathStart == std::string_view::npos
                                                             ? std::string_view::npos
                                                             : pathStart - scheme - 3));
        const int up = upPort ? ConnectLoopback(upPort) : -1;
        if (up < 0) {
            client.WriteAll(HttpResponse(502, "Bad Gateway", "", {{"Connection", "close"}}));
            return;
        }
        std::string head =
            req.method + " " +
            std::string(pathStart == std::string_view::npos ? "/" : target.substr(pathStart)) +
            " HTTP/1.1\r\n";
        for (const auto& [n, v] : req.headers)
            if (!EqualsNoCase(n, "Proxy-Authorization") && !EqualsNoCase(n, "Proxy-Connection") &&
                !EqualsNoCase(n, "Connection"))
                head += n + ": " + v + "\r\n";
        head += "Connection: close\r\n\r\n";
        head += pending; // body bytes that came with the head
        ::send(up, head.data(), head.size(), MSG_NOSIGNAL);
        Relay(client, up, stop, fd);
        ::close(up);
    }
};

ForwardingProxy::ForwardingProxy(std::string requiredAuth) : FState(std::make_shared<State>()) {
    FState->requiredAuth = std::move(requiredAuth);
    FState->listenFd = ListenLoopback(0, FState->port);
    State* s = FState.get();
    s->acceptThread = std::thread([s] {
        AcceptLoop(s->listenFd, s->stop, s->set,
                   [s](int fd, std::size_t slot, int number) { s->Serve(fd, slot, number); });
    });
}

ForwardingProxy::~ForwardingProxy() {
    FState->stop = true;
    FState->acceptThread.join();
    ::close(FState->listenFd);
    FState->set.ShutdownAndJoin();
}

std::uint16_t ForwardingProxy::Port() const {
    return FState->port;
}

std::string ForwardingProxy::Address() const {
    return "127.0.0.1:" + std::to_string(Port());
}

std::vector<ReceivedRequest> ForwardingProxy::Requests() const {
    std::lock_guard lock(FState->mutex);
    return FState->requests;
}

void ClearProxyEnvironment() {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
}

} // namespace testsupport
