// Loopback servers for the tests: a scripted HTTP server (plain or TLS) that
// records every request it reads and answers with the bytes a handler returns,
// certificates made at run time, and a small forwarding proxy.
//
// Everything listens on 127.0.0.1 only. Every server stops in its destructor:
// connection threads are woken and joined, no loop runs unbounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the server read it.
struct ReceivedRequest {
    std::string raw; // head and body bytes exactly as received
    std::string method;
    std::string target;
    HeaderList headers; // in the order received, names as spelled
    std::string body;   // de-chunked when the request was chunked
    int connection = 0; // 1-based number of the connection it came on

    // The first value of `name` (case-insensitive), "" when absent.
    std::string Header(std::string_view name) const;
    // True when a header line of that name was present, even with an empty value.
    bool HasHeader(std::string_view name) const;
};

// What the server does after writing a reply.
enum class After {
    Continue, // keep serving the connection unless either side asked to close
    Close,    // close the connection after the reply (no Connection header needed)
    Reset,    // write the reply, then reset the connection (RST)
    Hang,     // write the reply (may be empty) and then never answer again
};

struct Reply {
    std::string bytes;
    After after = After::Continue;
};

using Handler = std::function<std::string(const ReceivedRequest&)>;
using ReplyHandler = std::function<Reply(const ReceivedRequest&)>;

// A certificate and its private key, both PEM.
struct TlsIdentity {
    std::string certPem;
    std::string keyPem;
};

// A test certificate authority made at run time. Its certificate is written to
// a file that a client can trust through SSL_CERT_FILE.
class TestCa {
public:
    explicit TestCa(std::string_view commonName = "netvane test CA");
    ~TestCa();
    TestCa(const TestCa&) = delete;
    TestCa& operator=(const TestCa&) = delete;

    // A server certificate signed by this CA; `subjectAltNames` in OpenSSL's
    // form, e.g. "DNS:localhost,IP:127.0.0.1".
    TlsIdentity Issue(std::string_view subjectAltNames) const;
    // A certificate signed by its own key (trusted by nobody).
    static TlsIdentity SelfSigned(std::string_view subjectAltNames);

    const std::string& CertPem() const { return FCertPem; }
    // Path of a PEM file holding the CA certificate (removed by the destructor).
    const std::string& CertFile() const { return FCertFile; }

private:
    struct Key;
    std::unique_ptr<Key> FKey;
    std::string FCertPem;
    std::string FCertFile;
};

struct Options {
    std::uint16_t port = 0;           // 0: any free port
    const TlsIdentity* tls = nullptr; // serve TLS with this identity (must outlive the server)
    int maxRequestBytes = 8 << 20;    // a larger request closes the connection
};

class ScriptedServer {
public:
    explicit ScriptedServer(Handler handler, Options options = {});
    explicit ScriptedServer(ReplyHandler handler, Options options = {});
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t Port() const;
    // "http://127.0.0.1:<port>" + path ("https://" when serving TLS).
    std::string Url(std::string_view path = "/") const;
    std::vector<ReceivedRequest> Requests() const;
    int Connections() const;

    struct State;

private:
    std::shared_ptr<State> FState;
};

// An HTTP response with a Content-Length header for `body` added after `headers`.
std::string HttpResponse(int status, std::string_view reason, std::string_view body,
                         HeaderList headers = {});
// A response whose body is sent in the chunked coding, one chunk per element.
std::string ChunkedResponse(int status, std::string_view reason,
                            const std::vector<std::string>& chunks, HeaderList headers = {});

// A forwarding proxy on 127.0.0.1. A request with an absolute URL is sent on
// to its origin (only 127.0.0.1 or localhost) with "Connection: close" and the
// answer is relayed back; CONNECT opens a tunnel to 127.0.0.1:<port>. Every
// request head it read is recorded. A non-empty `requiredAuth` (the value of
// Proxy-Authorization, e.g. "Basic dTpw") answers 407 to requests without it.
class ForwardingProxy {
public:
    explicit ForwardingProxy(std::string requiredAuth = {});
    ~ForwardingProxy();
    ForwardingProxy(const ForwardingProxy&) = delete;
    ForwardingProxy& operator=(const ForwardingProxy&) = delete;

    std::uint16_t Port() const;
    // "127.0.0.1:<port>", the form a named proxy is given in.
    std::string Address() const;
    std::vector<ReceivedRequest> Requests() const;

    struct State;

private:
    std::shared_ptr<State> FState;
};

// Unsets http_proxy, https_proxy, no_proxy and their upper-case forms.
void ClearProxyEnvironment();

} // namespace testsupport
