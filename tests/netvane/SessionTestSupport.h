// Helpers shared by the session, verb, TLS and proxy tests.
#pragma once

#include "LoopbackServer.h"
#include "WinHttpClass.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

namespace sessiontest {

// Every case starts without the environment's proxies.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::ClearProxyEnvironment(); }
    void TearDown() override { testsupport::ClearProxyEnvironment(); }

    static std::unique_ptr<Winhttpclass::THTTP> NewHttp() {
        return std::make_unique<Winhttpclass::THTTP>("", "", "", "");
    }
};

// Sends the library's debug lines to a temporary file while alive.
class DebugCapture {
public:
    DebugCapture() {
        char path[] = "/tmp/netvane-debug-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd >= 0)
            ::close(fd);
        FPath = path;
        ::setenv("NETVANE_DEBUG", FPath.c_str(), 1);
    }
    ~DebugCapture() {
        ::unsetenv("NETVANE_DEBUG");
        std::remove(FPath.c_str());
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::string Text() const {
        std::ifstream in(FPath);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    std::string FPath;
};

// A head with the exact bytes given and a body delimited by Content-Length.
inline std::string Ok(std::string_view body, testsupport::HeaderList headers = {}) {
    return testsupport::HttpResponse(200, "OK", body, std::move(headers));
}

} // namespace sessiontest
