#include "platform/Script.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <duktape.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Funclib::platform {
namespace {

constexpr char kOk = 'V';
constexpr char kError = 'E';

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// The value as text; no value (undefined or null) is the empty text.
duk_ret_t ValueToString(duk_context* ctx, void*) {
    if (duk_is_null_or_undefined(ctx, -1)) {
        duk_pop(ctx);
        duk_push_string(ctx, "");
        return 1;
    }
    duk_to_string(ctx, -1);
    return 1;
}

// Keeps only standard input, output and error and the answer pipe, moved to
// descriptor 3: the child must not hold the caller's sockets and files, nor
// the pipe of a run that another thread started meanwhile (its reader would
// wait for this child too).
int KeepOnlyAnswerPipe(int fd) {
    constexpr int kAnswerFd = 3;
    if (fd != kAnswerFd && ::dup2(fd, kAnswerFd) < 0)
        return fd;
    ::close_range(kAnswerFd + 1, ~0U, 0);
    return kAnswerFd;
}

// The child's work: one heap, two evaluations, the answer on `fd` as a status
// byte followed by the text. Leaves through _exit only.
[[noreturn]] void RunChild(int fd, std::string_view script, std::string_view expression) {
    fd = KeepOnlyAnswerPipe(fd);
    duk_context* ctx = duk_create_heap_default();
    if (ctx == nullptr) {
        const char message[] = "cannot create the script engine";
        WriteAll(fd, &kError, 1);
        WriteAll(fd, message, sizeof message - 1);
        ::_exit(0);
    }
    bool ok = duk_peval_lstring(ctx, script.data(), script.size()) == 0;
    if (ok) {
        duk_pop(ctx);
        ok = duk_peval_lstring(ctx, expression.data(), expression.size()) == 0;
    }
    // The value's own toString may throw: that is an error of the run too.
    if (ok)
        ok = duk_safe_call(ctx, ValueToString, nullptr, 1, 1) == DUK_EXEC_SUCCESS;
    duk_size_t length = 0;
    const char* text = duk_safe_to_lstring(ctx, -1, &length);
    WriteAll(fd, ok ? &kOk : &kError, 1);
    WriteAll(fd, text, length);
    duk_destroy_heap(ctx);
    ::_exit(0);
}

} // namespace

ScriptResult EvaluateScript(std::string_view script, std::string_view expression,
                            std::uint32_t timeoutMs) {
    std::array<int, 2> pipeFds{};
    if (::pipe2(pipeFds.data(), O_CLOEXEC) != 0)
        return {false, "cannot create a pipe"};
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return {false, "cannot start the script engine"};
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        RunChild(pipeFds[1], script, expression);
    }
    ::close(pipeFds[1]);

    // Read the answer until the child closes its end or time runs out.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string answer;
    bool complete = false;
    bool timedOut = false;
    std::array<char, 4096> buffer{};
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd entry{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(pipeFds[0], buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            complete = got == 0;
            break;
        }
        answer.append(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    if (!complete)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    if (timedOut)
        return {false, "timed out after " + std::to_string(timeoutMs) + " ms"};
    const bool exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!complete || !exitedCleanly || answer.empty() || (answer[0] != kOk && answer[0] != kError))
        return {false, "the script engine failed"};
    return {answer[0] == kOk, answer.substr(1)};
}

} // namespace Funclib::platform
