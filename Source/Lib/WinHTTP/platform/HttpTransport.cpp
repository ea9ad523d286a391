// The byte streams a connection runs on (TCP, TLS, a memory peer) and the
// bounded read into its buffer.
// Socket operations are asynchronous Asio steps run on the session's own
// io_context until they finish, so each deadline is enforced while the caller
// sees a plain synchronous call.
#include "platform/HttpInternal.h"
#include "platform/LastError.h"

#include <algorithm>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/error.hpp>
#include <cstring>
#include <poll.h>

namespace Winhttpclass::platform {

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

ssl::context& Session::State::TlsContext() {
    if (!tls) {
        tls.emplace(ssl::context::tls_client);
        // Trust the system store (SSL_CERT_FILE / SSL_CERT_DIR honoured).
        tls->set_default_verify_paths();
        tls->set_verify_mode(ssl::verify_peer);
    }
    return *tls;
}

namespace {

// `Stream` is beast::tcp_stream or a TLS stream over one.
template <class Stream> class SocketTransport final : public Transport {
public:
    SocketTransport(Session::State& s, std::unique_ptr<Stream> stream)
        : FSession(s), FStream(std::move(stream)) {
        // Direct reads and writes on a plain socket must not block; the
        // asynchronous steps are not affected.
        if constexpr (kPlain) {
            error_code ec;
            FStream->socket().non_blocking(true, ec);
        }
    }

    error_code Write(std::string_view bytes) override {
        if constexpr (kPlain) {
            // A small request mostly goes out at once, without the loop and
            // its timer.
            error_code ec;
            const std::size_t n =
                FStream->socket().write_some(asio::buffer(bytes.data(), bytes.size()), ec);
            if (ec != asio::error::would_block && ec != asio::error::try_again &&
                (ec || n == bytes.size()))
                return ec;
            bytes.remove_prefix(ec ? 0 : n);
        }
        return RunBounded(FSession, Lowest(), FSession.timeouts.send,
                          [&](auto handler) {
                              asio::async_write(*FStream, asio::buffer(bytes.data(), bytes.size()),
                                                std::move(handler));
                          })
            .ec;
    }

    std::size_t ReadSome(asio::mutable_buffer buffer, error_code& ec) override {
        if constexpr (kPlain) {
            // Bytes that have arrived already are taken without waiting.
            const std::size_t n = FStream->socket().read_some(buffer, ec);
            if (ec != asio::error::would_block && ec != asio::error::try_again)
                return n;
        }
        const Outcome out =
            RunBounded(FSession, Lowest(), FSession.timeouts.receive,
                       [&](auto handler) { FStream->async_read_some(buffer, std::move(handler)); });
        ec = out.ec;
        return out.bytes;
    }

    bool LooksIdle() override {
        auto& socket = Lowest().socket();
        pollfd p{socket.native_handle(), POLLIN, 0};
        return socket.is_open() && ::poll(&p, 1, 0) == 0;
    }

private:
    static constexpr bool kPlain = std::is_same_v<Stream, beast::tcp_stream>;

    beast::tcp_stream& Lowest() { return beast::get_lowest_layer(*FStream); }

    Session::State& FSession;
    std::unique_ptr<Stream> FStream;
};

} // namespace

std::unique_ptr<Transport> TcpTransport(Session::State& s, beast::tcp_stream stream) {
    return std::make_unique<SocketTransport<beast::tcp_stream>>(
        s, std::make_unique<beast::tcp_stream>(std::move(stream)));
}

std::unique_ptr<Transport> TlsTransport(Session::State& s,
                                        std::unique_ptr<beast::ssl_stream<beast::tcp_stream>> tls) {
    return std::make_unique<SocketTransport<beast::ssl_stream<beast::tcp_stream>>>(s,
                                                                                   std::move(tls));
}

namespace {

// Reads the answer a memory peer gave the connection, then end of stream.
class MemoryStream final : public Transport {
public:
    MemoryStream(std::shared_ptr<MemoryPeer> peer, std::string answer)
        : FPeer(std::move(peer)), FAnswer(std::move(answer)), FPiece(FPeer->pieceSize) {}

    error_code Write(std::string_view bytes) override {
        FPeer->sent.append(bytes);
        return {};
    }

    std::size_t ReadSome(asio::mutable_buffer buffer, error_code& ec) override {
        std::size_t n = std::min(buffer.size(), FAnswer.size() - FAt);
        if (FPiece > 0)
            n = std::min(n, FPiece);
        if (n == 0) {
            ec = asio::error::eof;
            return 0;
        }
        std::memcpy(buffer.data(), FAnswer.data() + FAt, n);
        FAt += n;
        ec = {};
        return n;
    }

    // What is left of the answer, so a short answer needs no large buffer.
    std::size_t ReadRoom() const override {
        const std::size_t left = std::min(FAnswer.size() - FAt, kReadAhead);
        return std::max<std::size_t>(FPiece > 0 ? std::min(left, FPiece) : left, 1);
    }

    // The peer closes the connection after its answer.
    bool LooksIdle() override { return false; }

private:
    std::shared_ptr<MemoryPeer> FPeer;
    std::string FAnswer;
    std::size_t FAt = 0;
    std::size_t FPiece;
};

} // namespace

std::unique_ptr<Transport> MemoryTransport(const std::shared_ptr<MemoryPeer>& peer) {
    if (peer->answers.empty()) {
        SetLastError(kErrCannotConnect);
        return nullptr;
    }
    ++peer->connections;
    std::string answer = std::move(peer->answers.front());
    peer->answers.pop_front();
    return std::make_unique<MemoryStream>(peer, std::move(answer));
}

std::size_t ReadAhead(Wire& wire, error_code& result) {
    const std::size_t got =
        wire.transport->ReadSome(wire.buffer.prepare(wire.transport->ReadRoom()), result);
    wire.buffer.commit(got);
    return got;
}

} // namespace Winhttpclass::platform
