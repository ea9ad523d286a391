// The debug line of OutDebug, the functions this platform has no service for,
// and null C strings everywhere.
#include "FuncLib.h"
#include "TestUtil.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>

namespace {

using funclibtest::ReadFile;
using funclibtest::ScopedEnv;
using funclibtest::TempDir;

TEST(OutDebug, WritesTextAsOneLine) {
    const TempDir dir;
    const std::string log = dir / "debug.log";
    const ScopedEnv debug("NETVANE_DEBUG", log);
    errno = 2; // no error code may be appended
    Funclib::OutDebug("first");
    Funclib::OutDebug("");
    Funclib::OutDebug("third \xD6\xD0");
    EXPECT_EQ(ReadFile(log), "first\n\nthird \xD6\xD0\n");
}

TEST(PlatformWithoutService, ReportsFailure) {
    EXPECT_FALSE(Funclib::SetPrivilege("SeShutdownPrivilege"));
    EXPECT_FALSE(Funclib::SetPrivilege(nullptr));
    EXPECT_FALSE(Funclib::SelectDesktop("Default"));
    EXPECT_FALSE(Funclib::SelectDesktop(nullptr));
    EXPECT_FALSE(Funclib::InputDesktopSelected());
    Funclib::MousePosClick(-5, 100000); // nothing to drive; returns
}

TEST(NullCStrings, NothingCrashes) {
    const TempDir dir;
    const ScopedEnv config("XDG_CONFIG_HOME", dir.Path().string());
    EXPECT_EQ(Funclib::RegReadStr(Funclib::HKEY_CURRENT_USER, nullptr, nullptr), "");
    EXPECT_EQ(Funclib::RegReadInt(Funclib::HKEY_USERS, nullptr, nullptr), 0);
    EXPECT_TRUE(Funclib::RegWriteInt(Funclib::HKEY_USERS, nullptr, nullptr, 3));
    EXPECT_EQ(Funclib::RegReadInt(Funclib::HKEY_USERS, nullptr, nullptr), 3);
    EXPECT_FALSE(Funclib::RegDelValue(Funclib::HKEY_CLASSES_ROOT, nullptr, nullptr));
    EXPECT_NE(Funclib::GetModulePath(0, nullptr), "");
    EXPECT_EQ(Funclib::GetModulePath(1, nullptr), "");
}

} // namespace
