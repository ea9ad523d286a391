// Runs tarvo-devserver as a child process for the tests: starts it, reads
// the address it listens on from its first output line, and kills it.
#pragma once

#include "TempDir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace devtest {

// The program under test.
std::string ServerPath();

class ServerProcess {
public:
    // Starts the server with `args` (after the program name) and waits up to
    // 20 s for "listening on HOST:PORT". Throws std::runtime_error when it
    // does not come.
    explicit ServerProcess(std::vector<std::string> args);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    const std::string& Address() const { return FAddress; }
    // "http://127.0.0.1:PORT"
    std::string BaseUrl() const { return "http://" + FAddress; }
    // Sends `signal` and waits for the process to end.
    void Kill(int signal);
    bool Running() const { return FPid > 0; }

private:
    pid_t FPid = -1;
    std::string FAddress;
};

// Runs the program to its end with `args`; its exit code, its standard
// output in `output`.
int RunServerCommand(const std::vector<std::string>& args, std::string* output = nullptr);

using TempDir = testsupport::TempDir;

} // namespace devtest
