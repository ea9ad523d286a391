// WaitForExec: words split as a shell splits them, the wait bounded by the
// timeout, the child reaped either way.
#include "FuncLib.h"
#include "TestUtil.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using funclibtest::ReadFile;
using funclibtest::TempDir;

// True when `pid` names a process that has not been reaped (running or zombie).
bool Exists(std::uint32_t pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

char ProcessState(std::uint32_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return '\0';
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '\0';
}

// Waits up to `limit` for `pid` to be gone entirely (ended and reaped).
bool GoneWithin(std::uint32_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!Exists(pid))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(WaitForExec, WaitsForProcessThatEnds) {
    const std::uint32_t pid = Funclib::WaitForExec("/bin/sh -c 'exit 3'", 10000, 1);
    ASSERT_NE(pid, 0u);
    EXPECT_FALSE(Exists(pid)); // ended and reaped before the call returned
}

TEST(WaitForExec, ResultIsTheProcessId) {
    const TempDir dir;
    const std::string out = dir / "pid";
    const std::uint32_t pid = Funclib::WaitForExec("/bin/sh -c 'echo $$ > " + out + "'", 10000, 0);
    ASSERT_NE(pid, 0u);
    EXPECT_EQ(ReadFile(out), std::to_string(pid) + "\n");
}

struct WordsCase {
    std::string arguments; // after the script that prints them
    std::string printed;   // each argument followed by "|"
};

class WaitForExecWordsTest : public ::testing::TestWithParam<WordsCase> {};

TEST_P(WaitForExecWordsTest, SplitsLikeAShell) {
    const TempDir dir;
    const std::string out = dir / "args";
    const std::string command =
        "/bin/sh -c 'printf \"%s|\" \"$@\" > " + out + "' sh " + GetParam().arguments;
    ASSERT_NE(Funclib::WaitForExec(command, 10000, 0), 0u);
    EXPECT_EQ(ReadFile(out), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaitForExecWordsTest,
    ::testing::Values(WordsCase{"a  b\tc", "a|b|c|"}, WordsCase{"\"a b\" 'c d'", "a b|c d|"},
                      WordsCase{"a\\ b c\\\\d", "a b|c\\d|"},
                      WordsCase{"\"q\\\"uote\" 'no\\escape'", "q\"uote|no\\escape|"},
                      WordsCase{"\"\" x ''", "|x||"}, // empty words count
                      WordsCase{"pre\"mid dle\"post", "premid dlepost|"},
                      WordsCase{"'$HOME' * ;", "$HOME|*|;|"})); // no expansion, no operators

TEST(WaitForExec, TimeoutLeavesProcessRunning) {
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t pid = Funclib::WaitForExec("/bin/sleep 30", 200, 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_NE(pid, 0u);
    EXPECT_GE(waited, std::chrono::milliseconds(190));
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_TRUE(Exists(pid));
    EXPECT_NE(ProcessState(pid), 'Z');
    // Once it ends it is reaped, not left as a zombie.
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGTERM), 0);
    EXPECT_TRUE(GoneWithin(pid, std::chrono::seconds(10)));
}

TEST(WaitForExec, DescriptorsAreNotInherited) {
    const TempDir dir;
    const std::string out = dir / "fds";
    // A descriptor without close-on-exec.
    const int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 3);
    const std::string command = "/bin/sh -c 'test -e /proc/self/fd/" + std::to_string(fd) +
                                " && echo inherited > " + out + " || echo closed > " + out + "'";
    EXPECT_NE(Funclib::WaitForExec(command, 10000, 0), 0u);
    ::close(fd);
    EXPECT_EQ(ReadFile(out), "closed\n");
}

TEST(WaitForExec, SearchesPath) {
    const std::uint32_t pid = Funclib::WaitForExec("true", 10000, 0);
    EXPECT_NE(pid, 0u);
}

class WaitForExecFailureTest : public ::testing::TestWithParam<std::string> {};

TEST_P(WaitForExecFailureTest, ZeroWhenNotStarted) {
    EXPECT_EQ(Funclib::WaitForExec(GetParam(), 1000, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, WaitForExecFailureTest,
                         ::testing::Values("", "   ", "/no/such/program", "no-such-program-x",
                                           "/bin/sh -c 'unterminated", "\"open", "''"));

TEST(WaitForExec, ZeroForFileThatIsNotExecutable) {
    const TempDir dir;
    funclibtest::WriteFile(dir / "plain", "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(Funclib::WaitForExec(dir / "plain", 1000, 0), 0u);
}

} // namespace
