// The HTTP/1.1 front: accepts connections (plain or TLS), reads requests
// within the limits, hands each to a handler and writes its answer. Keeps
// connections alive as the client asks; closes idle ones.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace tarvo::devserver {

struct HttpRequest {
    std::string Method;
    std::string Path; // the target without its query
    std::string ContentType;
    std::string Cookie;
    std::string Body;
    std::string Peer; // the client's address
};

struct HttpResponse {
    unsigned Status = 200;
    std::string ContentType;
    std::string Body;
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

struct HttpServerOptions {
    std::string Host = "127.0.0.1";
    unsigned short Port = 8041;
    std::size_t HeadLimit = 16 * 1024;
    std::size_t BodyLimit = 8 * 1024 * 1024;
    std::chrono::seconds IdleTimeout{30};
    int Threads = 2;
    std::string TlsCertFile; // both empty: plain HTTP
    std::string TlsKeyFile;
};

class HttpServer {
public:
    // Binds and listens at once; throws std::runtime_error when it cannot.
    HttpServer(const HttpServerOptions& options, HttpHandler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // The address actually bound, "host:port".
    std::string LocalAddress() const;
    // Serves until SIGINT or SIGTERM, or until Stop().
    void Run();
    void Stop();

private:
    class Impl;
    std::unique_ptr<Impl> FImpl;
};

} // namespace tarvo::devserver
