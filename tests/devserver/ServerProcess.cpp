#include "ServerProcess.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace devtest {

namespace {

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd) {
    std::vector<std::string> all{ServerPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        dup2(stdoutFd, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// What `fd` delivers within `limit`: up to its end, or with `firstLine` up to
// the first line feed.
std::string ReadFrom(int fd, std::chrono::seconds limit, bool firstLine) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!(firstLine && text.find('\n') != std::string::npos) &&
           std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// Waits for `pid` at most `limit`; true when it ended.
bool WaitFor(pid_t pid, std::chrono::milliseconds limit, int* status) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        const pid_t done = waitpid(pid, status, WNOHANG);
        if (done == pid) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

std::string ServerPath() {
    return TARVO_DEVSERVER_PATH;
}

ServerProcess::ServerProcess(std::vector<std::string> args) {
    int fds[2];
    if (pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    FPid = Spawn(args, fds[1]);
    close(fds[1]);

    // The first line names the address.
    const std::string line = ReadFrom(fds[0], std::chrono::seconds(20), true);
    close(fds[0]);
    const std::string prefix = "listening on ";
    const auto eol = line.find('\n');
    if (line.rfind(prefix, 0) != 0 || eol == std::string::npos) {
        Kill(SIGKILL);
        throw std::runtime_error("the server did not start: \"" + line + "\"");
    }
    FAddress = line.substr(prefix.size(), eol - prefix.size());
}

ServerProcess::~ServerProcess() {
    if (FPid > 0) {
        Kill(SIGTERM);
    }
}

void ServerProcess::Kill(int signal) {
    if (FPid <= 0) {
        return;
    }
    kill(FPid, signal);
    int status = 0;
    if (!WaitFor(FPid, std::chrono::seconds(10), &status)) {
        kill(FPid, SIGKILL);
        waitpid(FPid, &status, 0);
    }
    FPid = -1;
}

int RunServerCommand(const std::vector<std::string>& args, std::string* output) {
    int fds[2];
    if (pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = Spawn(args, fds[1]);
    close(fds[1]);
    const std::string text = ReadFrom(fds[0], std::chrono::seconds(30), false);
    close(fds[0]);
    int status = 0;
    if (!WaitFor(pid, std::chrono::seconds(30), &status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    if (output) {
        *output = text;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace devtest
