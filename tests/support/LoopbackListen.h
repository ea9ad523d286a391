// The one listening TCP socket on 127.0.0.1 of the test servers, benchmarks
// and fuzz targets: on `port`, or on one the system picks when it is 0.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

struct LoopbackListener {
    int Fd = -1;
    std::uint16_t Port = 0;
};

// Throws std::runtime_error when no socket can listen.
inline LoopbackListener ListenOnLoopback(int backlog, std::uint16_t port = 0) {
    LoopbackListener listener;
    listener.Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener.Fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (listener.Fd < 0 || ::bind(listener.Fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 ||
        ::listen(listener.Fd, backlog) != 0 ||
        ::getsockname(listener.Fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        if (listener.Fd >= 0)
            ::close(listener.Fd);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    listener.Port = ntohs(addr.sin_port);
    return listener;
}

} // namespace testsupport
