// Child processes for the benchmarks that run whole programs: the
// development server (quiet, its address read from its first line), Xvfb, and
// the programs measured.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace benchproc {

using Clock = std::chrono::steady_clock;

// A child process, killed and reaped when the object goes.
class TChild {
public:
    // Starts `argv`. With `pipeOutput` its standard output goes to a pipe that
    // Line() reads; with `quiet` its standard error goes to /dev/null.
    TChild(std::vector<std::string> argv, bool pipeOutput, bool quiet) {
        int fds[2] = {-1, -1};
        if (pipeOutput && pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        std::vector<char*> args;
        for (auto& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        FPid = fork();
        if (FPid < 0)
            throw std::runtime_error("fork failed");
        if (FPid == 0) {
            // The child goes with the benchmark, however that ends.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (pipeOutput)
                dup2(fds[1], STDOUT_FILENO);
            if (quiet) {
                const int null = open("/dev/null", O_WRONLY);
                dup2(null, STDERR_FILENO);
            }
            execvp(args[0], args.data());
            _exit(127);
        }
        if (pipeOutput) {
            close(fds[1]);
            FOutput = fds[0];
        }
    }
    ~TChild() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        if (FOutput >= 0)
            close(FOutput);
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    pid_t Pid() const { return FPid; }

    // The first line of its output, without the line feed; empty when none
    // comes within `limit`.
    std::string Line(std::chrono::milliseconds limit) {
        std::string text;
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            pollfd p{FOutput, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            char c = 0;
            if (read(FOutput, &c, 1) != 1)
                break;
            if (c == '\n')
                return text;
            text += c;
        }
        return {};
    }

    // Its exit status once it has ended within `limit`.
    std::optional<int> Wait(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (FPid > 0) {
            int status = 0;
            if (waitpid(FPid, &status, WNOHANG) == FPid) {
                FPid = -1;
                return status;
            }
            if (Clock::now() >= end)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return std::nullopt;
    }

    bool Running() { return FPid > 0 && waitpid(FPid, nullptr, WNOHANG) == 0; }

private:
    pid_t FPid = -1;
    int FOutput = -1;
};

// The development server with the demo data in memory and `extra`
// arguments. Port 0: on 127.0.0.1, a free port; else on `port` of a loopback
// address of its own (another is tried when one is taken). The address it
// listens on, "HOST:PORT", comes back in `address`.
inline std::unique_ptr<TChild> StartDemoServer(const std::string& server, int port,
                                               std::string& address,
                                               const std::vector<std::string>& extra = {}) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> byte(1, 254);
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::string host = port == 0 ? "127.0.0.1"
                                           : "127." + std::to_string(byte(random)) + "." +
                                                 std::to_string(byte(random)) + "." +
                                                 std::to_string(byte(random));
        std::vector<std::string> argv{server,     "--demo",   "--db",
                                      ":memory:", "--listen", host + ":" + std::to_string(port)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto child = std::make_unique<TChild>(std::move(argv), true, true);
        const std::string line = child->Line(std::chrono::seconds(20));
        const std::string prefix = "listening on ";
        if (line.starts_with(prefix)) {
            address = line.substr(prefix.size());
            return child;
        }
    }
    throw std::runtime_error("the development server did not start");
}

} // namespace benchproc
