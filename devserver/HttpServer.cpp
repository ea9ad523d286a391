#include "HttpServer.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarvo::devserver {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

namespace {

// After refusing a request, at most this much of what the client still
// sends is read and dropped, so that it can take the answer.
constexpr std::size_t kDrainLimit = 64 * 1024 * 1024;

std::string PeerText(const tcp::endpoint& endpoint) {
    auto address = endpoint.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address.to_string();
}

void LogLine(std::string_view method, std::string_view path, unsigned status,
             std::chrono::steady_clock::time_point start) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    // One write per line, so lines of parallel requests do not mix.
    std::fprintf(stderr, "%.*s %.*s %u %.3f ms\n", static_cast<int>(method.size()), method.data(),
                 static_cast<int>(path.size()), path.data(), status,
                 static_cast<double>(micros) / 1000.0);
}

struct Shared {
    HttpServerOptions Options;
    HttpHandler Handler;
};

// One connection; Derived supplies Stream() and the way it closes.
template <class Derived> class Connection {
public:
    Connection(std::shared_ptr<const Shared> shared, std::string peer)
        : FShared(std::move(shared)), FPeer(std::move(peer)) {}

protected:
    Derived& Self() { return static_cast<Derived&>(*this); }

    void ReadRequest() {
        FParser.emplace();
        FParser->header_limit(static_cast<std::uint32_t>(FShared->Options.HeadLimit));
        FParser->body_limit(FShared->Options.BodyLimit);
        ReadSome();
    }

    // Reads the request piece by piece: the idle timeout runs from the last
    // bytes received, so a slow but steady client is not cut off.
    void ReadSome() {
        beast::get_lowest_layer(Self().Stream()).expires_after(FShared->Options.IdleTimeout);
        http::async_read_some(
            Self().Stream(), FBuffer, *FParser,
            [self = Self().shared_from_this()](beast::error_code ec, std::size_t) {
                if (!ec && !self->FParser->is_done()) {
                    return self->ReadSome();
                }
                self->OnRead(ec);
            });
    }

    void OnRead(beast::error_code ec) {
        if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
            ec == asio::error::eof || ec == asio::error::connection_reset ||
            ec == asio::ssl::error::stream_truncated || ec == asio::error::operation_aborted) {
            if (FParser && FParser->got_some() && ec == beast::error::timeout) {
                LogLine("-", "-", 408, FStart);
            }
            return Self().Close();
        }
        FStart = std::chrono::steady_clock::now();
        if (ec == http::error::header_limit) {
            return Refuse(431, "Request Header Fields Too Large");
        }
        if (ec == http::error::body_limit) {
            return Refuse(413, "Payload Too Large");
        }
        if (ec) {
            return Refuse(400, "Bad Request");
        }

        const auto& req = FParser->get();
        HttpRequest request;
        request.Method = std::string(req.method_string());
        const std::string_view target = req.target();
        request.Path = std::string(target.substr(0, target.find('?')));
        request.ContentType = std::string(req[http::field::content_type]);
        request.Cookie = std::string(req[http::field::cookie]);
        request.Body = std::move(FParser->get().body());
        request.Peer = FPeer;

        HttpResponse answer;
        try {
            answer = FShared->Handler(request);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "handler failed: %s\n", error.what());
            answer = HttpResponse{500, "text/plain; charset=GBK", "Internal Server Error"};
        }
        LogLine(request.Method, request.Path, answer.Status, FStart);

        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(answer.Status), req.version());
        response->set(http::field::server, "tarvo-devserver");
        if (!answer.ContentType.empty()) {
            response->set(http::field::content_type, answer.ContentType);
        }
        response->body() = std::move(answer.Body);
        response->keep_alive(req.keep_alive());
        response->prepare_payload();
        if (req.method() == http::verb::head) {
            response->body().clear(); // the head alone, with the body's length
        }
        Write(std::move(response), false);
    }

    // Answers `status` and closes, after letting the client finish sending.
    void Refuse(unsigned status, const char* reason) {
        // The request line is read before the fields, so it is known even
        // when the head or the body was refused.
        std::string method = "-";
        std::string path = "-";
        if (FParser && !FParser->get().method_string().empty()) {
            method = std::string(FParser->get().method_string());
            const std::string_view target = FParser->get().target();
            path = std::string(target.substr(0, target.find('?')));
        }
        LogLine(method, path, status, FStart);
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(status), 11);
        response->set(http::field::server, "tarvo-devserver");
        response->set(http::field::content_type, "text/plain; charset=GBK");
        response->body() = reason;
        response->keep_alive(false);
        response->prepare_payload();
        Write(std::move(response), true);
    }

    using Response = http::response<http::string_body>;
    using Serializer = http::response_serializer<http::string_body>;

    void Write(std::shared_ptr<Response> response, bool drain) {
        auto serializer = std::make_shared<Serializer>(*response);
        WriteSome(std::move(response), std::move(serializer), drain);
    }

    // Writes the answer piece by piece, the idle timeout running from the
    // last bytes the client took.
    void WriteSome(std::shared_ptr<Response> response, std::shared_ptr<Serializer> serializer,
                   bool drain) {
        beast::get_lowest_layer(Self().Stream()).expires_after(FShared->Options.IdleTimeout);
        http::async_write_some(Self().Stream(), *serializer,
                               [self = Self().shared_from_this(), response, serializer,
                                drain](beast::error_code ec, std::size_t) mutable {
                                   if (ec) {
                                       return self->Close();
                                   }
                                   if (!serializer->is_done()) {
                                       return self->WriteSome(std::move(response),
                                                              std::move(serializer), drain);
                                   }
                                   if (drain) {
                                       self->FDrained = 0;
                                       return self->Drain();
                                   }
                                   if (response->need_eof()) {
                                       return self->Close();
                                   }
                                   self->ReadRequest();
                               });
    }

    void Drain() {
        beast::get_lowest_layer(Self().Stream()).expires_after(FShared->Options.IdleTimeout);
        Self().Stream().async_read_some(
            asio::buffer(FScratch),
            [self = Self().shared_from_this()](beast::error_code ec, std::size_t n) {
                self->FDrained += n;
                if (ec || self->FDrained > kDrainLimit) {
                    return self->Close();
                }
                self->Drain();
            });
    }

    std::shared_ptr<const Shared> FShared;
    std::string FPeer;
    beast::flat_buffer FBuffer;
    std::optional<http::request_parser<http::string_body>> FParser;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::array<char, 16384> FScratch{};
    std::size_t FDrained = 0;
};

class PlainConnection : public Connection<PlainConnection>,
                        public std::enable_shared_from_this<PlainConnection> {
public:
    PlainConnection(tcp::socket socket, std::shared_ptr<const Shared> shared, std::string peer)
        : Connection(std::move(shared), std::move(peer)), FStream(std::move(socket)) {}

    void Start() {
        asio::dispatch(FStream.get_executor(),
                       [self = shared_from_this()] { self->ReadRequest(); });
    }
    beast::tcp_stream& Stream() { return FStream; }
    void Close() {
        beast::error_code ec;
        FStream.socket().shutdown(tcp::socket::shutdown_both, ec);
        FStream.socket().close(ec);
    }

private:
    friend class Connection<PlainConnection>;
    beast::tcp_stream FStream;
};

class TlsConnection : public Connection<TlsConnection>,
                      public std::enable_shared_from_this<TlsConnection> {
public:
    TlsConnection(tcp::socket socket, ssl::context& context, std::shared_ptr<const Shared> shared,
                  std::string peer)
        : Connection(std::move(shared), std::move(peer)), FStream(std::move(socket), context) {}

    void Start() {
        asio::dispatch(FStream.get_executor(), [self = shared_from_this()] {
            beast::get_lowest_layer(self->FStream)
                .expires_after(self->FShared->Options.IdleTimeout);
            self->FStream.async_handshake(ssl::stream_base::server, [self](beast::error_code ec) {
                if (ec) {
                    return self->CloseSocket();
                }
                self->ReadRequest();
            });
        });
    }
    beast::ssl_stream<beast::tcp_stream>& Stream() { return FStream; }
    void Close() {
        beast::get_lowest_layer(FStream).expires_after(std::chrono::seconds(5));
        FStream.async_shutdown(
            [self = shared_from_this()](beast::error_code) { self->CloseSocket(); });
    }

private:
    friend class Connection<TlsConnection>;
    void CloseSocket() {
        beast::error_code ec;
        beast::get_lowest_layer(FStream).socket().close(ec);
    }
    beast::ssl_stream<beast::tcp_stream> FStream;
};

} // namespace

class HttpServer::Impl {
public:
    Impl(const HttpServerOptions& options, HttpHandler handler)
        : FShared(std::make_shared<Shared>(Shared{options, std::move(handler)})),
          FAcceptor(asio::make_strand(FIo)), FSignals(FIo, SIGINT, SIGTERM) {
        if (options.TlsCertFile.empty() != options.TlsKeyFile.empty()) {
            throw std::runtime_error("TLS needs both a certificate and a key");
        }
        if (!options.TlsCertFile.empty()) {
            FTls.emplace(ssl::context::tls_server);
            FTls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                              ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                              ssl::context::no_tlsv1_1);
            boost::system::error_code ec;
            FTls->use_certificate_chain_file(options.TlsCertFile, ec);
            if (ec) {
                throw std::runtime_error("cannot read the certificate " + options.TlsCertFile +
                                         ": " + ec.message());
            }
            FTls->use_private_key_file(options.TlsKeyFile, ssl::context::pem, ec);
            if (ec) {
                throw std::runtime_error("cannot read the key " + options.TlsKeyFile + ": " +
                                         ec.message());
            }
        }

        boost::system::error_code ec;
        const auto address = asio::ip::make_address(options.Host, ec);
        if (ec) {
            throw std::runtime_error("not an IP address: " + options.Host);
        }
        const tcp::endpoint endpoint(address, options.Port);
        FAcceptor.open(endpoint.protocol(), ec);
        if (!ec) {
            FAcceptor.set_option(asio::socket_base::reuse_address(true), ec);
        }
        if (!ec) {
            FAcceptor.bind(endpoint, ec);
        }
        if (!ec) {
            FAcceptor.listen(asio::socket_base::max_listen_connections, ec);
        }
        if (ec) {
            throw std::runtime_error("cannot listen on " + options.Host + ":" +
                                     std::to_string(options.Port) + ": " + ec.message());
        }
    }

    std::string LocalAddress() const {
        const auto endpoint = FAcceptor.local_endpoint();
        const auto host = endpoint.address().to_string();
        return (endpoint.address().is_v6() ? "[" + host + "]" : host) + ":" +
               std::to_string(endpoint.port());
    }

    void Run() {
        FSignals.async_wait([this](beast::error_code ec, int) {
            if (!ec) {
                FIo.stop();
            }
        });
        Accept();
        std::vector<std::thread> threads;
        for (int i = 1; i < FShared->Options.Threads; ++i) {
            threads.emplace_back([this] { FIo.run(); });
        }
        FIo.run();
        for (auto& thread : threads) {
            thread.join();
        }
    }

    void Stop() { FIo.stop(); }

private:
    void Accept() {
        FAcceptor.async_accept(asio::make_strand(FIo), [this](beast::error_code ec,
                                                              tcp::socket socket) {
            if (!ec) {
                boost::system::error_code peerError;
                const auto remote = socket.remote_endpoint(peerError);
                std::string peer = peerError ? std::string() : PeerText(remote);
                if (FTls) {
                    std::make_shared<TlsConnection>(std::move(socket), *FTls, FShared,
                                                    std::move(peer))
                        ->Start();
                } else {
                    std::make_shared<PlainConnection>(std::move(socket), FShared, std::move(peer))
                        ->Start();
                }
            }
            if (!FAcceptor.is_open()) {
                return;
            }
            if (ec) {
                // Out of descriptors or the like: try again shortly instead
                // of spinning on the same error.
                FAcceptRetry.expires_after(std::chrono::milliseconds(100));
                FAcceptRetry.async_wait([this](beast::error_code) { Accept(); });
                return;
            }
            Accept();
        });
    }

    std::shared_ptr<const Shared> FShared;
    asio::io_context FIo;
    std::optional<ssl::context> FTls;
    tcp::acceptor FAcceptor;
    asio::steady_timer FAcceptRetry{FAcceptor.get_executor()};
    asio::signal_set FSignals;
};

HttpServer::HttpServer(const HttpServerOptions& options, HttpHandler handler)
    : FImpl(std::make_unique<Impl>(options, std::move(handler))) {}

HttpServer::~HttpServer() = default;

std::string HttpServer::LocalAddress() const {
    return FImpl->LocalAddress();
}

void HttpServer::Run() {
    FImpl->Run();
}

void HttpServer::Stop() {
    FImpl->Stop();
}

} // namespace tarvo::devserver
