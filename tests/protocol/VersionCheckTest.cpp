// The version check against a loopback server that deciphers the request with
// OpenSSL and answers scripted GBK JSON.
#include "CodePage.h"
#include "ServerSide.h"
#include "Unitcommon.h"
#include "Unitdatafunc.h"
#include "Unitfunction.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace std::string_literals;
using prototest::ClosedBaseUrl;
using prototest::JsonAnswer;
using prototest::LogCapture;
using prototest::MemberNames;
using prototest::MemberText;
using prototest::PreparedSession;
using prototest::ReadPayload;
using testsupport::HttpResponse;
using testsupport::ReceivedRequest;
using testsupport::ScriptedServer;

// Found by argument lookup next to SUpdateInfo; local to this file.
static bool operator==(const SUpdateInfo& a, const SUpdateInfo& b) {
    return a.Code == b.Code && a.Content == b.Content && a.UpgradeURL == b.UpgradeURL &&
           a.UpgradeCode == b.UpgradeCode && a.NeedUpgrade == b.NeedUpgrade;
}

static std::ostream& operator<<(std::ostream& os, const SUpdateInfo& i) {
    return os << "{Code " << i.Code << ", Content \"" << i.Content << "\", UpgradeURL \""
              << i.UpgradeURL << "\", UpgradeCode \"" << i.UpgradeCode << "\", NeedUpgrade "
              << i.NeedUpgrade << "}";
}

namespace {

// What a caller holds before the call; a stale record shows which members
// the call set.
SUpdateInfo Stale() {
    return {7, "old content", "old url", "old code", 7};
}

} // namespace

TEST(VersionCheck, RequestIsCverAndCtypeUnderTheDefaultKey) {
    LogCapture log;
    ScriptedServer server([](const ReceivedRequest&) {
        return JsonAnswer(
            R"({"Code":1,"Content":"","UpgradeURL":"","UpgradeCode":"","NeedUpgrade":0})");
    });
    auto http = PreparedSession();
    SUpdateInfo info;
    IsUsableOfAppVer_Intf(*http, server.Url(""), 1, info);
    EXPECT_EQ(info, (SUpdateInfo{1, "", "", "", 0}));

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const ReceivedRequest& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/aupdateinfo");
    EXPECT_EQ(r.Header("Cookie"), "") << "the check sets no cookie";
    const auto form = prototest::ParseForm(r.body);
    ASSERT_EQ(form.size(), 1u) << r.body;
    EXPECT_EQ(form[0].first, "data");
    const auto plain = ReadPayload(r, DefaultKeyPrefix);
    EXPECT_EQ(MemberNames(*plain), (std::vector<std::string>{"cver", "ctype"}));
    // The version note of this test program, both members as texts.
    EXPECT_EQ(plain->ToText(), R"({"cver":"1.0.0.1","ctype":"1"})");
    EXPECT_TRUE(log.Lines().empty());
}

TEST(VersionCheck, ProgramWithoutANoteAndOtherClientTypes) {
    LogCapture log;
    ScriptedServer server([](const ReceivedRequest&) { return JsonAnswer(R"({"Code":"0"})"); });
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarvo-vercheck-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string text = (dir / "plain.txt").string();
    std::ofstream(text) << "no note here\n";

    const struct {
        std::string program;
        std::int16_t type;
        std::string cver;
        std::string ctype;
    } cases[] = {
        {text, 1, "", "1"},
        {"/bin/sh", 2, "", "2"},
        {GetProgramFilePath(), -3, "1.0.0.1", "-3"},
    };
    for (const auto& c : cases) {
        auto http = PreparedSession();
        SUpdateInfo info;
        IsUsableOfAppVer_Intf(*http, server.Url(""), c.type, info, c.program);
    }
    std::filesystem::remove_all(dir);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto plain = ReadPayload(requests[i], DefaultKeyPrefix);
        EXPECT_EQ(MemberText(*plain, "cver"), cases[i].cver) << cases[i].program;
        EXPECT_EQ(MemberText(*plain, "ctype"), cases[i].ctype) << cases[i].program;
    }
}

TEST(VersionCheck, SessionCookieOfEarlierCallsStillGoesOut) {
    LogCapture log;
    ScriptedServer server([](const ReceivedRequest&) { return JsonAnswer(R"({"Code":"0"})"); });
    auto http = PreparedSession();
    SetSessionCookie(*http, "5d1c7e2a-90b4-4f3e-a6d1-2c8b7e9f0a13", 1);
    SUpdateInfo info;
    IsUsableOfAppVer_Intf(*http, server.Url(""), 1, info);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Cookie"), "SID=5d1c7e2a-90b4-4f3e-a6d1-2c8b7e9f0a13; SType=1");
    // Still the default key, logged in or not.
    EXPECT_NO_THROW(ReadPayload(requests[0], DefaultKeyPrefix));
}

TEST(VersionCheck, AnswerForms) {
    const std::string notice = Gbk(u8"发现新版本，请下载安装！");
    const std::string code = Gbk(u8"提取码") + "8k2x";
    const std::string url = "http://dl.example/TarvoAdmin-2.0.exe";
    const auto full = [&](const std::string& codeJson, const std::string& needJson) {
        return R"({"Code":)" + codeJson + R"(,"Content":")" + notice + R"(","UpgradeURL":")" + url +
               R"(","UpgradeCode":")" + code + R"(","NeedUpgrade":)" + needJson + "}";
    };
    struct Case {
        const char* what;
        std::optional<std::string> reply; // nullopt: nobody listens
        SUpdateInfo expected;
    };
    const Case cases[] = {
        {"numbers", JsonAnswer(full("1", "1")), {1, notice, url, code, 1}},
        {"texts", JsonAnswer(full("\"1\"", "\"1\"")), {1, notice, url, code, 1}},
        {"NeedUpgrade 0", JsonAnswer(full("1", "0")), {1, notice, url, code, 0}},
        {"Code other than 1", JsonAnswer(full("\"-2\"", "0")), {-2, notice, url, code, 0}},
        {"Code 1, the rest empty or 0",
         JsonAnswer(R"({"Code":1,"Content":"","UpgradeURL":"","UpgradeCode":"","NeedUpgrade":0})"),
         {1, "", "", "", 0}},
        {"members in another order",
         JsonAnswer(
             R"({"NeedUpgrade":"1","UpgradeCode":"c","UpgradeURL":"u","Content":"m","Code":"1"})"),
         {1, "m", "u", "c", 1}},
        // Errors after a 200 answer: what was read before stays, Content is
        // CheckHttpResult's empty text.
        {"Code not a number", JsonAnswer(full("\"abc\"", "1")), {0, "", "old url", "old code", 0}},
        {"Code beyond 16 bits", JsonAnswer(full("40000", "1")), {0, "", "old url", "old code", 0}},
        {"Code not whole", JsonAnswer(full("1.5", "1")), {0, "", "old url", "old code", 0}},
        {"all members missing but Code",
         JsonAnswer(R"({"Code":1})"),
         {1, "", "old url", "old code", 0}},
        {"UpgradeCode missing",
         JsonAnswer(R"({"Code":1,"Content":"m","UpgradeURL":"u","NeedUpgrade":1})"),
         {1, "", "u", "old code", 0}},
        {"NeedUpgrade not a number", JsonAnswer(full("1", "\"yes\"")), {1, "", url, code, 0}},
        {"not JSON",
         HttpResponse(200, "OK", "<html>maintenance</html>"),
         {0, "", "old url", "old code", 0}},
        // No answer to read: only step 1.
        {"500",
         HttpResponse(500, "Internal Server Error", full("1", "1")),
         {0, "old content", "old url", "old code", 0}},
        {"reason phrase Ok",
         HttpResponse(200, "Ok", full("1", "1")),
         {0, "old content", "old url", "old code", 0}},
        {"200 with an empty body",
         HttpResponse(200, "OK", ""),
         {0, "old content", "old url", "old code", 0}},
        {"server unreachable", std::nullopt, {0, FailureText, "old url", "old code", 0}},
    };
    for (const auto& c : cases) {
        LogCapture log;
        std::optional<ScriptedServer> server;
        std::string base = ClosedBaseUrl();
        if (c.reply) {
            server.emplace([reply = *c.reply](const ReceivedRequest&) { return reply; });
            base = server->Url("");
        }
        auto http = PreparedSession();
        SUpdateInfo info = Stale();
        EXPECT_NO_THROW(IsUsableOfAppVer_Intf(*http, base, 1, info)) << c.what;
        EXPECT_EQ(info, c.expected) << c.what;
        // None of these is an error raised without a 200 answer: no log line.
        EXPECT_TRUE(log.Lines().empty()) << c.what;
    }
}

TEST(VersionCheck, EmptyBaseUrlIsAFailedCall) {
    LogCapture log;
    auto http = PreparedSession();
    SUpdateInfo info;
    EXPECT_NO_THROW(IsUsableOfAppVer_Intf(*http, "", 1, info));
    EXPECT_EQ(info, (SUpdateInfo{0, FailureText, "", "", 0}));
    EXPECT_TRUE(log.Lines().empty());
}
