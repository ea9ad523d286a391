// Opening a connection: TCP to the server or its proxy within the connect
// timeout, the proxy's CONNECT tunnel for a secure request, then TLS.
#include "platform/HttpInternal.h"
#include "platform/LastError.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

namespace Winhttpclass::platform {

namespace {

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

// Opens a TCP connection to host:port within the connect timeout.
bool OpenTcp(Session::State& s, beast::tcp_stream& stream, const std::string& host,
             std::uint16_t port) {
    std::vector<tcp::endpoint> endpoints;
    if (!Resolve(s, host, port, endpoints))
        return false;
    error_code result = RunBounded(s, stream, s.timeouts.connect, [&](auto handler) {
                            stream.async_connect(endpoints, std::move(handler));
                        }).ec;
    if (result) {
        SetLastError(CodeFor(result, kErrCannotConnect));
        return false;
    }
    // Small requests and answers go out at once.
    stream.socket().set_option(tcp::no_delay(true), result);
    return true;
}

// Asks the proxy for a tunnel to the request's host and port.
bool OpenTunnel(Request::State& r, beast::tcp_stream& stream, beast::flat_buffer& buffer) {
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
    const Outcome sent = RunBounded(s, stream, s.timeouts.send, [&](auto handler) {
        asio::async_write(stream, asio::buffer(connect), std::move(handler));
    });
    if (sent.ec) {
        SetLastError(CodeFor(sent.ec, kErrConnectionError));
        return false;
    }
    http::response_parser<http::empty_body> answer;
    answer.skip(true); // a CONNECT answer has no body
    answer.header_limit(kHeadLimit);
    const error_code result =
        RunBounded(s, stream, s.timeouts.receive, [&](auto handler) {
            http::async_read_header(stream, buffer, answer, std::move(handler));
        }).ec;
    if (result || answer.get().result_int() != 200 || buffer.size() != 0) {
        SetLastError(result ? CodeFor(result, kErrCannotConnect) : kErrCannotConnect);
        return false;
    }
    return true;
}

// TLS with SNI, the peer chain checked against the trust store and the
// certificate checked for the host name or address.
std::unique_ptr<Transport> StartTls(Request::State& r, beast::tcp_stream stream) {
    Session::State& s = r.session;
    auto tls =
        std::make_unique<beast::ssl_stream<beast::tcp_stream>>(std::move(stream), s.TlsContext());
    SSL* ssl = tls->native_handle();
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
    const error_code result =
        RunBounded(s, beast::get_lowest_layer(*tls), s.timeouts.connect, [&](auto handler) {
            tls->async_handshake(ssl::stream_base::client, std::move(handler));
        }).ec;
    if (result) {
        SetLastError(CodeFor(result, kErrSecureFailure) == kErrTimeout ? kErrTimeout
                                                                       : kErrSecureFailure);
        return nullptr;
    }
    return TlsTransport(s, std::move(tls));
}

} // namespace

std::string BasicAuth(std::string_view user, std::string_view password) {
    return "Basic " + Base64(std::string(user) + ":" + std::string(password));
}

std::unique_ptr<Wire> OpenWire(Request::State& r) {
    auto wire = std::make_unique<Wire>();
    if (r.session.memory) {
        wire->transport = MemoryTransport(r.session.memory);
        return wire->transport ? std::move(wire) : nullptr;
    }
    beast::tcp_stream stream(r.session.ioc);
    const std::string& host = r.proxy ? r.proxy->host : r.host;
    const std::uint16_t port = r.proxy ? r.proxy->port : r.port;
    if (!OpenTcp(r.session, stream, host, port))
        return nullptr;
    if (r.flags.secure && r.proxy && !OpenTunnel(r, stream, wire->buffer))
        return nullptr;
    if (r.flags.secure) {
        wire->transport = StartTls(r, std::move(stream));
        if (!wire->transport)
            return nullptr;
    } else {
        wire->transport = TcpTransport(r.session, std::move(stream));
    }
    return wire;
}

} // namespace Winhttpclass::platform
