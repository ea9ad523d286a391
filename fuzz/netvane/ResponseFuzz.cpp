// Answers from a server, from bytes: a loopback server sends each input as
// the whole answer to netvane's request and closes. Heads, bodies (by
// length, chunked, by close), charsets and cookies of any shape must end in
// a result or a failure, never in a crash.
#include "LoopbackListen.h"
#include "WinHttpClass.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// One connection at a time: read the request head, send the answer, close.
class AnswerServer {
public:
    AnswerServer() {
        const auto listener = testsupport::ListenOnLoopback(16);
        FListen = listener.Fd;
        FUrl = "http://127.0.0.1:" + std::to_string(listener.Port) + "/fuzz";
        FThread = std::thread([this] { Serve(); });
    }

    ~AnswerServer() {
        ::shutdown(FListen, SHUT_RDWR); // ends the accept loop
        FThread.join();
        ::close(FListen);
    }
    AnswerServer(const AnswerServer&) = delete;
    AnswerServer& operator=(const AnswerServer&) = delete;

    const std::string& Url() const { return FUrl; }

    void SetAnswer(std::string answer) {
        std::lock_guard lock(FMutex);
        FAnswer = std::move(answer);
    }

private:
    void Serve() {
        for (;;) {
            const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return;
            }
            std::string head;
            char buffer[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 2000) <= 0)
                    break;
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                head.append(buffer, static_cast<std::size_t>(n));
            }
            std::string answer;
            {
                std::lock_guard lock(FMutex);
                answer = FAnswer;
            }
            for (std::size_t sent = 0; sent < answer.size();) {
                const ssize_t n =
                    ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    }

    int FListen = -1;
    std::string FUrl;
    std::mutex FMutex;
    std::string FAnswer;
    std::thread FThread;
};

bool ClearProxyEnvironment() {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
    return true;
}

AnswerServer& Server() {
    [[maybe_unused]] static const bool cleared = ClearProxyEnvironment();
    static AnswerServer server;
    return server;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0];
    Server().SetAnswer(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    Winhttpclass::THTTP http("", "", "", "");
    http.SetTimeouts(2000, 2000, 2000, 2000);
    http.AutoRedirect = false;
    http.KeepAlive = (mode & 1) != 0;
    switch ((mode >> 1) % 3) {
    case 0:
        http.Get(Server().Url(), Winhttpclass::cpAuto);
        break;
    case 1: {
        Winhttpclass::TMemoryStream stream;
        http.Get(Server().Url(), stream);
        break;
    }
    default:
        http.Post(Server().Url(), "a=1", Winhttpclass::cpUTF8);
        break;
    }
    // What the answer left behind is readable.
    http.GetBJDate();
    http.GetCookie();
    http.GetCookies();
    return 0;
}
