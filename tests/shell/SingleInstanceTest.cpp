// One instance per user and display: the lock, the knock that brings the
// first instance forward, and a start after the first one crashed. Each case
// runs in a runtime folder of its own.
#include "SingleInstance.h"

#include "ShellSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

namespace shelltest {
namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Runtime.isValid());
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            OldRuntime = old;
        setenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit().constData(), 1);
    }
    void TearDown() override {
        if (OldRuntime)
            setenv("XDG_RUNTIME_DIR", OldRuntime->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }
    // Files the instances left in the runtime folder.
    QStringList Left() const { return QDir(Runtime.path()).entryList(QDir::Files | QDir::System); }

    QTemporaryDir Runtime;
    std::optional<std::string> OldRuntime;
};

TEST_F(SingleInstanceTest, TheFirstHoldsUntilItEnds) {
    {
        TSingleInstance first(QStringLiteral("TarvoAdmin"));
        ASSERT_TRUE(first.Acquire());
        TSingleInstance second(QStringLiteral("TarvoAdmin"));
        EXPECT_FALSE(second.Acquire());
        // Another program name is another instance.
        TSingleInstance other(QStringLiteral("OtherProgram"));
        EXPECT_TRUE(other.Acquire());
    }
    TSingleInstance later(QStringLiteral("TarvoAdmin"));
    EXPECT_TRUE(later.Acquire());
}

TEST_F(SingleInstanceTest, AKnockBringsTheFirstForward) {
    TSingleInstance first(QStringLiteral("TarvoAdmin"));
    ASSERT_TRUE(first.Acquire());
    int knocks = 0;
    first.OnKnock([&knocks] { ++knocks; });

    TSingleInstance second(QStringLiteral("TarvoAdmin"));
    ASSERT_FALSE(second.Acquire());
    EXPECT_TRUE(second.NotifyRunning());
    EXPECT_TRUE(QTest::qWaitFor([&knocks] { return knocks == 1; }, 5000));
    EXPECT_TRUE(second.NotifyRunning());
    EXPECT_TRUE(QTest::qWaitFor([&knocks] { return knocks == 2; }, 5000));
}

TEST_F(SingleInstanceTest, NobodyToKnockOnWithoutAFirstInstance) {
    const TSingleInstance alone(QStringLiteral("TarvoAdmin"));
    EXPECT_FALSE(alone.NotifyRunning());
}

TEST_F(SingleInstanceTest, AStartAfterACrashTakesOver) {
    const SChildResult child =
        RunChild("instance-crash", {{"XDG_RUNTIME_DIR", Runtime.path().toStdString()}}, 30s);
    ASSERT_EQ(child.Output, "held\n");
    ASSERT_FALSE(child.Exited);
    // The dead instance's socket file is still there; nobody answers on it.
    ASSERT_EQ(Left().filter(QStringLiteral(".sock")).size(), 1) << Left().join(' ').toStdString();

    TSingleInstance next(QStringLiteral("TarvoAdmin"));
    ASSERT_TRUE(next.Acquire());
    int knocks = 0;
    next.OnKnock([&knocks] { ++knocks; });
    TSingleInstance third(QStringLiteral("TarvoAdmin"));
    ASSERT_FALSE(third.Acquire());
    EXPECT_TRUE(third.NotifyRunning());
    EXPECT_TRUE(QTest::qWaitFor([&knocks] { return knocks == 1; }, 5000));
}

TEST_F(SingleInstanceTest, RunsWhenTheLockCannotBeMade) {
    setenv("XDG_RUNTIME_DIR", (Runtime.path() + "/missing").toLocal8Bit().constData(), 1);
    TSingleInstance first(QStringLiteral("TarvoAdmin"));
    EXPECT_TRUE(first.Acquire());
    EXPECT_FALSE(first.NotifyRunning());
}

} // namespace
} // namespace shelltest
