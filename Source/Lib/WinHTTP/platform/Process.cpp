#include "platform/Process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Funclib::platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// Waits for `pid` to end, without a time limit.
void Reap(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// True when `pid` ended (and was reaped) within `timeoutMs`.
bool WaitWithTimeout(pid_t pid, std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // A pidfd becomes readable when the process ends; fall back to polling
    // waitpid where the kernel has no pidfd_open.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    bool ended = false;
    while (true) {
        const pid_t done = ::waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            ended = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        if (pidfd >= 0) {
            pollfd entry{pidfd, POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
        }
    }
    if (pidfd >= 0)
        ::close(pidfd);
    return ended;
}

} // namespace

std::optional<std::vector<std::string>> SplitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (IsBlank(c)) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            ++i;
        } else if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            word.append(line.substr(i + 1, close - i - 1));
            inWord = true;
            i = close + 1;
        } else if (c == '"') {
            inWord = true;
            ++i;
            while (true) {
                if (i >= line.size())
                    return std::nullopt;
                const char d = line[i];
                if (d == '"') {
                    ++i;
                    break;
                }
                if (d == '\\' && i + 1 < line.size()) {
                    const char next = line[i + 1];
                    if (next == '\n') {
                        i += 2;
                        continue;
                    }
                    if (next == '$' || next == '`' || next == '"' || next == '\\') {
                        word += next;
                        i += 2;
                        continue;
                    }
                }
                word += d;
                ++i;
            }
        } else if (c == '\\') {
            if (i + 1 >= line.size()) {
                word += c; // a lone backslash at the end stays
                inWord = true;
                ++i;
            } else if (line[i + 1] == '\n') {
                i += 2; // line continuation
            } else {
                word += line[i + 1];
                inWord = true;
                i += 2;
            }
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::uint32_t StartAndWait(const std::vector<std::string>& argv, std::uint32_t timeoutMs) {
    if (argv.empty() || argv[0].empty())
        return 0;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (::posix_spawn_file_actions_init(&actions) != 0)
        return 0;
    if (::posix_spawnattr_init(&attributes) != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return 0;
    }
    // Only standard input, output and error are passed on.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The child starts with no signals blocked and default SIGPIPE.
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0 || pid <= 0)
        return 0;

    if (timeoutMs == kWaitForever)
        Reap(pid);
    else if (!WaitWithTimeout(pid, timeoutMs)) {
        try {
            std::thread(Reap, pid).detach(); // never leave a zombie behind
        } catch (const std::system_error&) {
            // No thread to spare: the process is reaped when it is waited for
            // again or this process ends.
        }
    }
    return static_cast<std::uint32_t>(pid);
}

} // namespace Funclib::platform
