// Sequential 1 KiB POSTs answered with 1 KiB, through netvane with and without
// keep-alive and through libcurl reusing its easy handle; and one 10 MiB answer
// read into memory by each. Prints the time per request and netvane/libcurl.
#include "LoopbackListen.h"
#include "WinHttpClass.h"

#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kSmall = 1024;
constexpr std::size_t kBig = 10 * 1024 * 1024;

// A keep-alive HTTP server on 127.0.0.1: "/big" answers 10 MiB, anything else 1 KiB.
class BenchServer {
public:
    BenchServer() {
        const auto listener = testsupport::ListenOnLoopback(128);
        FListen = listener.Fd;
        FPort = listener.Port;
        FSmall = Answer(std::string(kSmall, 's'));
        FBig = Answer(std::string(kBig, 'b'));
        FAccept = std::thread([this] { AcceptLoop(); });
    }
    ~BenchServer() {
        FStop = true;
        FAccept.join();
        ::close(FListen);
        std::lock_guard lock(FMutex);
        for (auto& [fd, t] : FConns) {
            ::shutdown(fd, SHUT_RDWR);
            t.join();
            ::close(fd);
        }
    }
    std::string Url(const char* path) const {
        return "http://127.0.0.1:" + std::to_string(FPort) + path;
    }

private:
    static std::string Answer(const std::string& body) {
        return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    void AcceptLoop() {
        while (!FStop) {
            pollfd p{FListen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard lock(FMutex);
            // Reap connections that ended so threads do not pile up.
            for (auto it = FConns.begin(); it != FConns.end();) {
                if (FDone.count(it->first)) {
                    it->second.join();
                    ::close(it->first);
                    FDone.erase(it->first);
                    it = FConns.erase(it);
                } else {
                    ++it;
                }
            }
            FConns.emplace(fd, std::thread([this, fd] { Serve(fd); }));
        }
    }

    void Serve(int fd) {
        std::string in;
        char buf[16384];
        while (!FStop) {
            std::size_t end;
            while ((end = in.find("\r\n\r\n")) == std::string::npos) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    return Finish(fd);
                in.append(buf, static_cast<std::size_t>(n));
            }
            std::string head = in.substr(0, end + 4);
            for (char& c : head)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::size_t length = 0;
            if (const auto cl = head.find("\r\ncontent-length:"); cl != std::string::npos)
                length = std::strtoul(head.c_str() + cl + 17, nullptr, 10);
            while (in.size() < end + 4 + length) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    return Finish(fd);
                in.append(buf, static_cast<std::size_t>(n));
            }
            in.erase(0, end + 4 + length);
            const std::string& answer = head.find(" /big ") != std::string::npos ? FBig : FSmall;
            for (std::size_t sent = 0; sent < answer.size();) {
                const ssize_t n =
                    ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    return Finish(fd);
                sent += static_cast<std::size_t>(n);
            }
            if (head.find("\r\nconnection: close") != std::string::npos)
                return Finish(fd);
        }
        Finish(fd);
    }

    void Finish(int fd) {
        ::shutdown(fd, SHUT_RDWR);
        std::lock_guard lock(FMutex);
        FDone[fd] = true;
    }

    int FListen = -1;
    std::uint16_t FPort = 0;
    std::string FSmall;
    std::string FBig;
    std::atomic<bool> FStop{false};
    std::thread FAccept;
    std::mutex FMutex;
    std::map<int, std::thread> FConns;
    std::map<int, bool> FDone;
};

BenchServer& Server() {
    static BenchServer server;
    return server;
}

const std::string& FormBody() {
    static const std::string body = [] {
        std::string b = "data=";
        while (b.size() < kSmall)
            b += "0123456789ABCDEF";
        b.resize(kSmall);
        return b;
    }();
    return body;
}

// Microseconds per request of each loop, for the summary line.
std::map<std::string, double>& PerRequest() {
    static std::map<std::string, double> results;
    return results;
}

template <class Body> void Timed(benchmark::State& state, const char* name, Body body) {
    const auto start = std::chrono::steady_clock::now();
    std::int64_t n = 0;
    for (auto _ : state) {
        body();
        ++n;
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    if (n > 0) {
        PerRequest()[name] = took.count() / static_cast<double>(n);
        state.counters["us_per_request"] = took.count() / static_cast<double>(n);
    }
}

void NetvanePost(benchmark::State& state, bool keepAlive, const char* name) {
    Winhttpclass::THTTP http("", "", "", "");
    http.KeepAlive = keepAlive;
    const std::string url = Server().Url("/apost");
    Timed(state, name, [&] {
        const std::string answer = http.Post(url, FormBody(), Winhttpclass::cpNone);
        if (answer.size() != kSmall)
            state.SkipWithError("short answer");
    });
}

void BM_NetvanePostKeepAlive(benchmark::State& state) {
    NetvanePost(state, true, "netvane keep-alive");
}
void BM_NetvanePostNoKeepAlive(benchmark::State& state) {
    NetvanePost(state, false, "netvane no keep-alive");
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

void BM_CurlPost(benchmark::State& state) {
    CURL* curl = curl_easy_init();
    std::string answer;
    const std::string url = Server().Url("/apost");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, FormBody().c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(FormBody().size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    Timed(state, "libcurl", [&] {
        answer.clear();
        if (curl_easy_perform(curl) != CURLE_OK || answer.size() != kSmall)
            state.SkipWithError("libcurl request failed");
    });
    curl_easy_cleanup(curl);
}

void BM_NetvaneGet10MiB(benchmark::State& state) {
    Winhttpclass::THTTP http("", "", "", "");
    http.KeepAlive = true;
    const std::string url = Server().Url("/big");
    // Like the libcurl loop's string, one stream that keeps its capacity.
    Winhttpclass::TMemoryStream stream;
    Timed(state, "netvane 10 MiB", [&] {
        stream.Clear();
        if (http.Get(url, stream) != kBig)
            state.SkipWithError("short answer");
    });
}

void BM_CurlGet10MiB(benchmark::State& state) {
    CURL* curl = curl_easy_init();
    std::string answer;
    const std::string url = Server().Url("/big");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    // The largest receive buffer libcurl allows, so it is not held back by
    // its 16 KiB default.
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L * 1024L);
    Timed(state, "libcurl 10 MiB", [&] {
        // The string keeps its capacity between runs: libcurl at its best,
        // with no growth or page faults of its own to pay for.
        answer.clear();
        if (curl_easy_perform(curl) != CURLE_OK || answer.size() != kBig)
            state.SkipWithError("libcurl request failed");
    });
    curl_easy_cleanup(curl);
}

BENCHMARK(BM_NetvanePostKeepAlive)->MinTime(2.0);
BENCHMARK(BM_CurlPost)->MinTime(2.0);
BENCHMARK(BM_NetvanePostNoKeepAlive)->MinTime(2.0);
BENCHMARK(BM_NetvaneGet10MiB)->MinTime(2.0);
BENCHMARK(BM_CurlGet10MiB)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    auto& r = PerRequest();
    for (const auto& [name, us] : r)
        std::printf("%-24s %10.1f us per request\n", name.c_str(), us);
    if (r.count("netvane keep-alive") && r.count("libcurl"))
        std::printf("ratio netvane keep-alive / libcurl: %.2f\n",
                    r["netvane keep-alive"] / r["libcurl"]);
    if (r.count("netvane 10 MiB") && r.count("libcurl 10 MiB"))
        std::printf("ratio netvane / libcurl, 10 MiB answer: %.2f\n",
                    r["netvane 10 MiB"] / r["libcurl 10 MiB"]);
    curl_global_cleanup();
    return 0;
}
