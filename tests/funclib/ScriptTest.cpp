// RunJavaScript: values as GBK text, errors to the debug channel, and a
// bounded run time.
#include "CodePage.h"
#include "FuncLib.h"
#include "TestUtil.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>

namespace {

using funclibtest::ReadFile;
using funclibtest::ScopedEnv;
using funclibtest::TempDir;

struct ScriptCase {
    std::u8string script;
    std::u8string expression;
    std::u8string expected;
};

class RunJavaScriptTest : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(RunJavaScriptTest, ValueAsText) {
    const ScriptCase& c = GetParam();
    EXPECT_EQ(Funclib::RunJavaScript(Gbk(c.script), Gbk(c.expression)), Gbk(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunJavaScriptTest,
    ::testing::Values(ScriptCase{u8"var a = 2;", u8"a * 21", u8"42"},
                      ScriptCase{u8"function f(s) { return s + '!'; }", u8"f('ok')", u8"ok!"},
                      ScriptCase{u8"var s = '中文';", u8"s + s.length", u8"中文2"},
                      ScriptCase{u8"", u8"'a' + 1.5", u8"a1.5"},
                      ScriptCase{u8"", u8"[1, 2].join('-')", u8"1-2"},
                      ScriptCase{u8"", u8"true", u8"true"},
                      // No value at all is the empty text.
                      ScriptCase{u8"", u8"null", u8""}, ScriptCase{u8"var x;", u8"x", u8""}));

TEST(RunJavaScript, EachCallStartsAFreshEngine) {
    EXPECT_EQ(Funclib::RunJavaScript("var kept = 1;", "kept"), "1");
    EXPECT_EQ(Funclib::RunJavaScript("", "typeof kept"), "undefined");
}

struct FailureCase {
    std::string script;
    std::string expression;
    std::string message; // part of the debug line
};

class RunJavaScriptFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(RunJavaScriptFailureTest, EmptyTextAndDebugLine) {
    const TempDir dir;
    const std::string log = dir / "debug.log";
    const ScopedEnv debug("NETVANE_DEBUG", log);
    const FailureCase& c = GetParam();
    EXPECT_EQ(Funclib::RunJavaScript(c.script, c.expression), "");
    const std::string lines = ReadFile(log);
    EXPECT_EQ(lines.rfind("RunJavaScript ", 0), 0u) << lines;
    EXPECT_NE(lines.find(c.message), std::string::npos) << lines;
    EXPECT_EQ(lines.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunJavaScriptFailureTest,
    ::testing::Values(FailureCase{"var = ;", "1", "SyntaxError"},
                      FailureCase{"", "1 +", "SyntaxError"},
                      FailureCase{"throw new Error('boom');", "1", "Error: boom"},
                      FailureCase{"", "missing()", "ReferenceError"},
                      FailureCase{"", "({toString: function () { throw 1; }})", "1"}));

TEST(RunJavaScript, EndlessLoopIsStopped) {
    const TempDir dir;
    const std::string log = dir / "debug.log";
    const ScopedEnv debug("NETVANE_DEBUG", log);
    const ScopedEnv limit("NETVANE_SCRIPT_TIMEOUT_MS", "300");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Funclib::RunJavaScript("for (;;) {}", "1"), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(ReadFile(log).find("RunJavaScript timed out"), std::string::npos);
}

} // namespace
