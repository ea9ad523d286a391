// startup_bench [RUNS]: on a virtual display of its own (Xvfb), the time
// from a program's start to its login window being mapped and its resident
// memory (VmRSS) at that moment, for TarvoAdmin and for a bare Qt dialog with
// the same controls (bare_dialog, the yardstick), taking turns; and
// TarvoAdmin's login, from pressing Enter on the login button to the main
// window being mapped, against the development server with the demo data.
// Prints the medians and the ratios. RUNS defaults to 9, after one warm-up
// run of each program.
#include "BenchProcess.h"
#include "TempDir.h"
#include "XWindows.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using benchproc::Clock;
using benchproc::TChild;
using Millis = std::chrono::duration<double, std::milli>;

namespace {

constexpr auto WindowLimit = std::chrono::seconds(60);

// XTest from libXtst, which xdotool brings; loaded at run time because its
// development headers are not installed. It stays loaded: the displays it
// touched call back into it when they close.
class TXTest {
public:
    TXTest() : FLibrary(dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
        if (FLibrary == nullptr)
            throw std::runtime_error("libXtst.so.6 is missing (xdotool brings it)");
        FKey = reinterpret_cast<KeyFn>(dlsym(FLibrary, "XTestFakeKeyEvent"));
        FButton = reinterpret_cast<ButtonFn>(dlsym(FLibrary, "XTestFakeButtonEvent"));
        FMotion = reinterpret_cast<MotionFn>(dlsym(FLibrary, "XTestFakeMotionEvent"));
        if (FKey == nullptr || FButton == nullptr || FMotion == nullptr)
            throw std::runtime_error("libXtst.so.6 lacks the XTestFake functions");
    }
    ~TXTest() { dlclose(FLibrary); }
    TXTest(const TXTest&) = delete;
    TXTest& operator=(const TXTest&) = delete;

    void Key(Display* display, KeySym symbol) const {
        const unsigned int code = XKeysymToKeycode(display, symbol);
        FKey(display, code, True, 0);
        FKey(display, code, False, 0);
        XFlush(display);
    }
    void Type(Display* display, const std::string& text) const {
        for (const char c : text)
            Key(display, XStringToKeysym(std::string(1, c).c_str()));
    }
    // A left click at client coordinates of `window`.
    void Click(Display* display, Window window, int x, int y) const {
        int rootX = 0;
        int rootY = 0;
        Window child = 0;
        XTranslateCoordinates(display, window, XDefaultRootWindow(display), x, y, &rootX, &rootY,
                              &child);
        FMotion(display, XDefaultScreen(display), rootX, rootY, 0);
        FButton(display, 1, True, 0);
        FButton(display, 1, False, 0);
        XFlush(display);
    }

private:
    using KeyFn = int (*)(Display*, unsigned int, int, unsigned long);
    using ButtonFn = int (*)(Display*, unsigned int, int, unsigned long);
    using MotionFn = int (*)(Display*, int, int, int, unsigned long);
    void* FLibrary;
    KeyFn FKey = nullptr;
    ButtonFn FButton = nullptr;
    MotionFn FMotion = nullptr;
};

struct SMapped {
    Window Id = 0;
    Clock::time_point At;
};

// Waits for `pid` to map a top-level window of `width` x `height`.
SMapped AwaitMap(Display* display, pid_t pid, int width, int height) {
    const Window root = XDefaultRootWindow(display);
    const auto end = Clock::now() + WindowLimit;
    while (Clock::now() < end) {
        while (XPending(display) > 0) {
            XEvent event{};
            XNextEvent(display, &event);
            if (event.type != MapNotify || event.xmap.event != root)
                continue;
            const Clock::time_point at = Clock::now();
            const Window window = event.xmap.window;
            XWindowAttributes attributes{};
            if (xwin::Pid(display, window) == pid &&
                XGetWindowAttributes(display, window, &attributes) != 0 &&
                attributes.width == width && attributes.height == height)
                return {window, at};
        }
        pollfd p{XConnectionNumber(display), POLLIN, 0};
        poll(&p, 1, 100);
    }
    throw std::runtime_error("no " + std::to_string(width) + "x" + std::to_string(height) +
                             " window from process " + std::to_string(pid));
}

// VmRSS of `pid` in KiB.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:"))
            return std::atol(line.c_str() + 6);
    return 0;
}

// CPU time of all of `pid`'s threads in ms, from the scheduler's own count:
// unlike the wall time, it hardly moves with the load of the machine.
double CpuMs(pid_t pid) {
    double total = 0;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream stat(task.path() / "schedstat");
        double ns = 0;
        if (stat >> ns)
            total += ns / 1e6;
    }
    return total;
}

// Closes `window` as a window manager would and waits for its program.
void CloseAndWait(Display* display, Window window, TChild& child, const char* name) {
    xwin::RequestClose(display, window);
    const auto status = child.Wait(std::chrono::seconds(30));
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
        std::fprintf(stderr, "warning: %s did not end cleanly after the close request\n", name);
}

struct SSample {
    double StartMs = 0;
    double RssMiB = 0;
    double CpuMs = 0;
};

SSample Sample(const Clock::time_point start, const SMapped& mapped, pid_t pid) {
    return {Millis(mapped.At - start).count(), static_cast<double>(ResidentKiB(pid)) / 1024,
            CpuMs(pid)};
}

struct SStats {
    double Median = 0;
    double Min = 0;
    double Max = 0;
};

SStats Stats(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

class TBench {
public:
    TBench(Display* display, const fs::path& program) : FDisplay(display), FProgram(program) {
        XSelectInput(display, XDefaultRootWindow(display), SubstructureNotifyMask);
        XSync(display, False);
    }

    SSample Bare() {
        const auto start = Clock::now();
        TChild child({TARVO_BARE_DIALOG_PATH}, false, true);
        const SMapped login = AwaitMap(FDisplay, child.Pid(), 400, 295);
        const SSample sample = Sample(start, login, child.Pid());
        CloseAndWait(FDisplay, login.Id, child, "bare_dialog");
        return sample;
    }

    // The start sample, and the login time in `loginMs`.
    SSample Tarvo(double& loginMs) {
        const auto start = Clock::now();
        TChild child({FProgram.string()}, false, true);
        const SMapped login = AwaitMap(FDisplay, child.Pid(), 400, 295);
        const SSample sample = Sample(start, login, child.Pid());
        FXTest.Click(FDisplay, login.Id, 158 + 70, 140 + 9);
        FXTest.Type(FDisplay, "13800138000");
        FXTest.Key(FDisplay, XK_Return);
        FXTest.Type(FDisplay, "tarvo123");
        FXTest.Key(FDisplay, XK_Return);
        // Let the program take the keys before the one that is timed.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto enter = Clock::now();
        FXTest.Key(FDisplay, XK_Return);
        const SMapped main = AwaitMap(FDisplay, child.Pid(), 894, 646);
        loginMs = Millis(main.At - enter).count();
        CloseAndWait(FDisplay, main.Id, child, "TarvoAdmin");
        return sample;
    }

private:
    Display* FDisplay;
    fs::path FProgram;
    TXTest FXTest;
};

void Setenv(const char* name, const std::string& value) {
    setenv(name, value.c_str(), 1);
}

} // namespace

int main(int argc, char* argv[]) try {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const testsupport::TempDir work("startup-bench");

    TChild xvfb({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                true, true);
    const std::string display = xvfb.Line(std::chrono::seconds(30));
    if (display.empty())
        throw std::runtime_error("Xvfb did not start");
    Setenv("DISPLAY", ":" + display);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SESSION_MANAGER");
    Setenv("QT_QPA_PLATFORM", "xcb");
    for (const char* folder : {"run", "tmp"})
        fs::create_directory(work.Path() / folder);
    fs::permissions(work.Path() / "run", fs::perms::owner_all);
    Setenv("XDG_RUNTIME_DIR", (work.Path() / "run").string());
    Setenv("TMPDIR", (work.Path() / "tmp").string());
    Setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (work.Path() / "no-bus").string());
    Setenv("TARVO_LOG_FILE", (work.Path() / "tarvo.log").string());

    std::string address;
    const auto server = benchproc::StartDemoServer(TARVO_DEVSERVER_PATH, 8041, address);

    // The program beside its own Conf folder, which names the server.
    const fs::path tree = work.Path() / "T";
    fs::create_directories(tree / "Bin");
    fs::create_directories(tree / "Conf");
    fs::copy_file(TARVO_ADMIN_PATH, tree / "Bin" / "TarvoAdmin");
    fs::copy(TARVO_READER_DIR, tree / "Conf" / "DKQ-116D", fs::copy_options::recursive);
    std::ofstream(tree / "Conf" / "Tarvo.conf")
        << "[default]\nTarvoSWHost=http://" << address.substr(0, address.rfind(':')) << "\n";

    const xwin::DisplayPtr x = xwin::OpenDisplay();
    if (!x)
        throw std::runtime_error("cannot open display :" + display);
    TBench bench(x.get(), tree / "Bin" / "TarvoAdmin");

    double loginMs = 0;
    bench.Bare();
    bench.Tarvo(loginMs);
    std::vector<double> bareStart, bareRss, bareCpu, tarvoStart, tarvoRss, tarvoCpu, login;
    for (int run = 0; run < runs; ++run) {
        // Taking turns, each goes first half of the time.
        for (int turn = 0; turn < 2; ++turn) {
            if ((run + turn) % 2 == 0) {
                const SSample s = bench.Bare();
                bareStart.push_back(s.StartMs);
                bareRss.push_back(s.RssMiB);
                bareCpu.push_back(s.CpuMs);
            } else {
                const SSample s = bench.Tarvo(loginMs);
                tarvoStart.push_back(s.StartMs);
                tarvoRss.push_back(s.RssMiB);
                tarvoCpu.push_back(s.CpuMs);
                login.push_back(loginMs);
            }
        }
    }

    const SStats bs = Stats(bareStart), br = Stats(bareRss), bc = Stats(bareCpu);
    const SStats ts = Stats(tarvoStart), tr = Stats(tarvoRss), tc = Stats(tarvoCpu);
    const SStats lg = Stats(login);
    std::printf("display :%s, server %s, %d runs of each after one warm-up\n\n", display.c_str(),
                address.c_str(), runs);
    std::printf("%-26s %28s %22s\n", "", "start to login window, ms", "VmRSS then, MiB");
    std::printf("%-26s %10.1f (%6.1f..%6.1f) %10.1f (%4.1f..%4.1f)\n", "bare Qt dialog", bs.Median,
                bs.Min, bs.Max, br.Median, br.Min, br.Max);
    std::printf("%-26s %10.1f (%6.1f..%6.1f) %10.1f (%4.1f..%4.1f)\n", "TarvoAdmin", ts.Median,
                ts.Min, ts.Max, tr.Median, tr.Min, tr.Max);
    std::printf("%-26s %10.2fx (target <= 1.5x)   %8.2fx (target <= 1.3x)\n\n", "TarvoAdmin / bare",
                ts.Median / bs.Median, tr.Median / br.Median);
    std::printf("CPU time by then (all threads), ms: bare %.1f (%.1f..%.1f), TarvoAdmin %.1f "
                "(%.1f..%.1f), ratio %.2fx\n\n",
                bc.Median, bc.Min, bc.Max, tc.Median, tc.Min, tc.Max, tc.Median / bc.Median);
    std::printf("login, Enter on the button to the main window mapped: median %.1f ms "
                "(%.1f..%.1f)\n",
                lg.Median, lg.Min, lg.Max);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "startup_bench: %s\n", e.what());
    return 1;
}
