// tarvo-xprobe: what the real program's test needs beyond xdotool.
//   close WINDOW              ask a window to close as a window manager does
//                             (WM_DELETE_WINDOW), so that the program's close
//                             handling runs
//   maps SECONDS COMMAND...   run COMMAND and count the top-level windows it
//                             maps; prints "exit=CODE maps=COUNT" (CODE is
//                             "timeout" when it ran longer than SECONDS, then
//                             it is killed)
#include "XWindows.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <set>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int Usage() {
    std::fprintf(stderr, "usage: tarvo-xprobe close WINDOW\n"
                         "       tarvo-xprobe maps SECONDS COMMAND [ARG...]\n");
    return 2;
}

int Close(Display* display, const char* text) {
    char* end = nullptr;
    const unsigned long window = std::strtoul(text, &end, 0);
    if (end == text || *end != '\0') {
        std::fprintf(stderr, "tarvo-xprobe: not a window id: %s\n", text);
        return 2;
    }
    if (!xwin::RequestClose(display, window)) {
        std::fprintf(stderr, "tarvo-xprobe: window %s takes no WM_DELETE_WINDOW\n", text);
        return 1;
    }
    return 0;
}

struct Watch {
    std::set<Window> Created;
    std::set<Window> Destroyed;
    std::vector<Window> Mapped;

    void Drain(Display* display, Window root) {
        while (XPending(display) > 0) {
            XEvent event{};
            XNextEvent(display, &event);
            if (event.type == CreateNotify && event.xcreatewindow.parent == root)
                Created.insert(event.xcreatewindow.window);
            else if (event.type == DestroyNotify && event.xdestroywindow.event == root)
                Destroyed.insert(event.xdestroywindow.window);
            else if (event.type == MapNotify && event.xmap.event == root)
                Mapped.push_back(event.xmap.window);
        }
    }

    // Every window made during the run is gone again: the server has
    // handled all that the command's connection sent.
    bool Settled() const {
        if (Created.empty())
            return false;
        for (const Window window : Created)
            if (!Destroyed.contains(window))
                return false;
        return true;
    }
};

int Maps(Display* display, int seconds, char** command) {
    const Window root = XDefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("tarvo-xprobe: fork");
        return 1;
    }
    if (pid == 0) {
        close(XConnectionNumber(display));
        execvp(command[0], command);
        std::perror("tarvo-xprobe: exec");
        _exit(127);
    }

    Watch watch;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    // Once the command has ended, its last requests may still be on their
    // way to the server; they are in when its windows are destroyed.
    constexpr auto Grace = std::chrono::seconds(2);
    Clock::time_point ended{};
    int status = 0;
    bool done = false;
    while (Clock::now() < deadline) {
        watch.Drain(display, root);
        if (!done) {
            const pid_t got = waitpid(pid, &status, WNOHANG);
            if (got == pid) {
                done = true;
                ended = Clock::now();
            }
        }
        if (done) {
            XSync(display, False);
            watch.Drain(display, root);
            if (watch.Settled() || Clock::now() - ended > Grace)
                break;
        }
        pollfd p{XConnectionNumber(display), POLLIN, 0};
        poll(&p, 1, 20);
    }

    std::string code;
    if (!done) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        code = "timeout";
    } else if (WIFEXITED(status)) {
        code = std::to_string(WEXITSTATUS(status));
    } else {
        code = "signal" + std::to_string(WTERMSIG(status));
    }
    std::printf("exit=%s maps=%zu\n", code.c_str(), watch.Mapped.size());
    for (const Window window : watch.Mapped)
        std::printf("mapped 0x%lx\n", window);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3)
        return Usage();
    const xwin::DisplayPtr display = xwin::OpenDisplay();
    if (!display) {
        std::fprintf(stderr, "tarvo-xprobe: cannot open the display\n");
        return 1;
    }
    const std::string verb = argv[1];
    if (verb == "close" && argc == 3)
        return Close(display.get(), argv[2]);
    if (verb == "maps" && argc >= 4) {
        const int seconds = std::atoi(argv[2]);
        if (seconds <= 0)
            return Usage();
        return Maps(display.get(), seconds, argv + 3);
    }
    return Usage();
}
