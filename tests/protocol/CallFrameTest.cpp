// The server call frame against loopback servers that read the envelope the
// way the service does: form fields, cookies, and payloads deciphered with
// OpenSSL.
#include "CodePage.h"
#include "Encryptpwd.h"
#include "ServerSide.h"
#include "Unitcommon.h"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
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
using prototest::ReferenceCipherHex;
using prototest::Utf8;
using testsupport::HttpResponse;
using testsupport::ReceivedRequest;
using testsupport::ScriptedServer;

namespace {

const std::string kSessionId = "5d1c7e2a-90b4-4f3e-a6d1-2c8b7e9f0a13";

std::string LogLine(const std::string& source, const std::string& where,
                    const std::string& utf8Text) {
    return source + " " + where + ": " + utf8Text;
}

const std::string kFailureLogged = Utf8(u8"访问服务器失败，请稍后重试！");

} // namespace

// ---- Key prefixes on the wire ------------------------------------------------

TEST(CallFrameKeys, LoginSendsUsernameThenDataEncipheredUnderTheEncipheredPassword) {
    LogCapture log;
    const std::string account = "13812345678";
    const std::string password = "s3cret!";
    const std::string enciphered = EncryptPassword(account, password);
    ScriptedServer server([](const ReceivedRequest&) {
        return JsonAnswer(R"({"Code":"1","SID":")" + kSessionId + R"("})");
    });

    auto http = PreparedSession();
    Json::TJSONobject payload;
    payload.Add("password", enciphered);
    payload.Add("ip", "203.0.113.7");
    SCallOptions options;
    options.Where = "DoLogin";
    options.PlainFields = {{"username", account}};
    const SCallResult result =
        CallServer(*http, server.Url(""), "/alogin", &payload, enciphered, options);

    EXPECT_TRUE(result.Reached);
    EXPECT_TRUE(result.Ok);
    EXPECT_EQ(result.Code, 1);
    EXPECT_EQ(result.Text("SID"), kSessionId);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const ReceivedRequest& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/alogin");
    // The session adds the Cookie line even with an empty store.
    EXPECT_EQ(r.Header("Cookie"), "") << "the login sets no cookie";
    const auto form = prototest::ParseForm(r.body);
    ASSERT_EQ(form.size(), 2u) << r.body;
    EXPECT_EQ(form[0], (std::pair{"username"s, account}));
    EXPECT_EQ(form[1].first, "data");

    const auto plain = ReadPayload(r, enciphered);
    EXPECT_EQ(MemberNames(*plain), (std::vector<std::string>{"password", "ip"}));
    EXPECT_EQ(MemberText(*plain, "password"), enciphered);
    EXPECT_EQ(MemberText(*plain, "ip"), "203.0.113.7");
    EXPECT_TRUE(log.Lines().empty());
}

TEST(CallFrameKeys, LoggedInCallCarriesTheSessionCookieAndTheSessionKey) {
    LogCapture log;
    ScriptedServer server(
        [](const ReceivedRequest&) { return JsonAnswer(R"({"Code":1,"Content":""})"); });

    auto http = PreparedSession();
    Json::TJSONobject payload;
    payload.Add("stuid", "42");
    payload.AddInt64("page", 3);
    SCallOptions options;
    options.Where = "BtnDelClick";
    options.SetCookie = true;
    options.SessionId = kSessionId;
    const SCallResult result =
        CallServer(*http, server.Url(""), "/adeletestu", &payload, kSessionId, options);
    EXPECT_EQ(result.Code, 1);
    EXPECT_TRUE(result.Success());

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/adeletestu");
    EXPECT_EQ(requests[0].Header("Cookie"), "SID=" + kSessionId + "; SType=1");
    const auto form = prototest::ParseForm(requests[0].body);
    ASSERT_EQ(form.size(), 1u) << requests[0].body;
    const auto plain = ReadPayload(requests[0], kSessionId);
    EXPECT_EQ(plain->ToText(), R"({"stuid":"42","page":3})");
    // Not the default key: the server could not read it that way.
    EXPECT_THROW(ReadPayload(requests[0], DefaultKeyPrefix), std::exception);
}

TEST(CallFrameKeys, CallWithoutPayloadPostsAnEmptyBody) {
    LogCapture log;
    ScriptedServer server([](const ReceivedRequest&) { return JsonAnswer(R"({"Code":"1"})"); });
    auto http = PreparedSession();
    SCallOptions options;
    options.SetCookie = true;
    options.SessionId = kSessionId;
    const SCallResult result = CallServer(*http, server.Url(""), "/ahb", nullptr, "", options);
    EXPECT_EQ(result.Code, 1);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "");
    EXPECT_EQ(requests[0].Header("Cookie"), "SID=" + kSessionId + "; SType=1");
}

// ---- EncryptPayload / DecryptPayload -----------------------------------------

TEST(EncryptPayload, KeyIsThePrefixOrTheDefaultFollowedByTheSuffix) {
    const std::string plain = R"({"cver":"1.0.0.1","ctype":"1"})";
    struct Case {
        const char* what;
        std::string prefix;
        std::string keyText; // what the server uses
    } cases[] = {
        {"empty prefix: the default", "", std::string(DefaultKeyPrefix) + KeySuffix},
        {"the default itself", DefaultKeyPrefix, std::string(DefaultKeyPrefix) + KeySuffix},
        {"session identifier", kSessionId, kSessionId + KeySuffix},
        {"short prefix: the suffix fills the key", "ab12", "ab12"s + KeySuffix},
        {"prefix of 16: the suffix has no part", "0123456789abcdef", "0123456789abcdef"},
    };
    for (const auto& c : cases) {
        std::string cipher = "left over";
        EXPECT_TRUE(EncryptPayload(plain, c.prefix, cipher)) << c.what;
        EXPECT_EQ(cipher, ReferenceCipherHex(plain, c.keyText)) << c.what;
        EXPECT_EQ(prototest::ServerDecipher(cipher, c.keyText), plain) << c.what;
    }

    std::string viaEmpty;
    std::string viaDefault;
    EncryptPayload(plain, "", viaEmpty);
    EncryptPayload(plain, DefaultKeyPrefix, viaDefault);
    EXPECT_EQ(viaEmpty, viaDefault);

    // Only the first 16 characters of a long prefix form the key.
    std::string first;
    std::string second;
    EncryptPayload(plain, "5d1c7e2a-90b4-4f-AAAA", first);
    EncryptPayload(plain, "5d1c7e2a-90b4-4f-zzzzzzzzzzzz", second);
    EXPECT_EQ(first, second);
    std::string differsAt16;
    EncryptPayload(plain, "5d1c7e2a-90b4-4X-AAAA", differsAt16);
    EXPECT_NE(first, differsAt16);
}

TEST(EncryptPayload, TwoCharacterTextIsTheLengthFieldAndOneBlock) {
    for (const std::string& prefix : {""s, "x"s, kSessionId}) {
        std::string cipher;
        EncryptPayload("{}", prefix, cipher);
        EXPECT_EQ(cipher.size(), 48u) << prefix;
        EXPECT_EQ(cipher.substr(0, 16), "0200000000000000") << prefix;
    }
}

TEST(DecryptPayload, ReadsWhatTheServerEnciphersUpToTheFirstZeroByte) {
    const std::string gbk = R"({"Content":")" + Gbk(u8"删除成功！") + R"("})";
    for (const std::string& prefix : {""s, kSessionId, "ab12"s}) {
        const std::string keyText =
            (prefix.empty() ? std::string(DefaultKeyPrefix) : prefix) + KeySuffix;
        std::string plain = "previous";
        EXPECT_TRUE(DecryptPayload(ReferenceCipherHex(gbk, keyText), prefix, plain)) << prefix;
        EXPECT_EQ(plain, gbk) << prefix;
    }
    // The round trip through our own cipher, with an empty text too.
    for (const std::string& text : {""s, "x"s, std::string(40, 'q')}) {
        std::string cipher;
        EncryptPayload(text, kSessionId, cipher);
        std::string plain = "previous";
        EXPECT_TRUE(DecryptPayload(cipher, kSessionId, plain));
        EXPECT_EQ(plain, text);
    }
}

TEST(DecryptPayload, FailureLeavesTheOutputAsItWas) {
    LogCapture log;
    std::string good;
    EncryptPayload("hello", kSessionId, good);
    const struct {
        const char* what;
        std::string hex;
    } cases[] = {
        {"not hexadecimal", "ZZ" + good.substr(2)},
        {"a blank inside", good.substr(0, 20) + " " + good.substr(21)},
        {"shorter than the length field", "0500"},
        {"empty", ""},
        {"not a whole number of blocks", good.substr(0, good.size() - 2)},
        {"odd length", good + "0"},
    };
    for (const auto& c : cases) {
        std::string plain = "previous";
        EXPECT_FALSE(DecryptPayload(c.hex, kSessionId, plain)) << c.what;
        EXPECT_EQ(plain, "previous") << c.what;
    }
    EXPECT_TRUE(log.Lines().empty()) << "deciphering logs nothing";
}

// ---- CheckHttpResult ---------------------------------------------------------

TEST(CheckHttpResult, SuccessOnlyWhenTheStatusLineSaysExactly200OK) {
    ScriptedServer server([](const ReceivedRequest& r) {
        if (r.target == "/ok")
            return HttpResponse(200, "OK", "not json");
        if (r.target == "/mixedcase")
            return HttpResponse(200, "Ok", "not json");
        return HttpResponse(500, "Internal Server Error", "oops");
    });
    const std::string closed = ClosedBaseUrl();
    struct Case {
        const char* what;
        std::string url;
        std::string source;
        std::string result;
        std::vector<std::string> lines;
    } cases[] = {
        {"200 OK: the answer's reading failed", server.Url("/ok"), "Tarvo", "", {}},
        {"no answer at all",
         closed + "/ok",
         "TarvoAdmin",
         FailureText,
         {LogLine("TarvoAdmin", "WinHttpException", kFailureLogged)}},
        {"500",
         server.Url("/err"),
         "Tarvo",
         FailureText,
         {LogLine("Tarvo", "WinHttpException", "Exception: bad member")}},
        {"reason phrase Ok",
         server.Url("/mixedcase"),
         "Tarvo",
         FailureText,
         {LogLine("Tarvo", "WinHttpException", "Exception: bad member")}},
    };
    for (const auto& c : cases) {
        LogCapture log;
        auto http = PreparedSession();
        http->Post(c.url, "data=00&", Winhttpclass::cpNone);
        EXPECT_EQ(CheckHttpResult(c.source, *http, "bad member"), c.result) << c.what;
        EXPECT_EQ(log.Lines(), c.lines) << c.what << "\n" << http->RawHeader;
    }
}

TEST(CheckHttpResult, LooksAtTheRawHeaderAsItStands) {
    const struct {
        const char* what;
        std::string rawHeader;
        bool ok;
    } cases[] = {
        {"200 OK", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", true},
        {"200 OK after a redirect", "HTTP/1.1 302 Found\r\n\r\nHTTP/1.1 200 OK\r\n\r\n", true},
        {"no line end after OK", "HTTP/1.1 200 OK", false},
        {"OK in capitals but other words", "HTTP/1.1 200 OKAY\r\n\r\n", false},
        {"404", "HTTP/1.1 404 Not Found\r\n\r\n", false},
    };
    for (const auto& c : cases) {
        LogCapture log;
        Winhttpclass::THTTP http("", "", "", "");
        http.RawHeader = c.rawHeader;
        EXPECT_EQ(AnsweredOk(http), c.ok) << c.what;
        EXPECT_EQ(CheckHttpResult("Tarvo", http, "e"), c.ok ? "" : FailureText) << c.what;
        EXPECT_EQ(log.Lines().size(), c.ok ? 0u : 1u) << c.what;
    }
}

// ---- Session preparation and the cookie --------------------------------------

TEST(PrepareHttp, UserAgentAndKeepAliveOnTheWire) {
    LogCapture log;
    ScriptedServer server([](const ReceivedRequest&) { return JsonAnswer(R"({"Code":"1"})"); });
    auto http = PreparedSession();
    EXPECT_TRUE(http->KeepAlive);
    EXPECT_TRUE(http->AutoRedirect);
    CallServer(*http, server.Url(""), "/ahb", nullptr, "");
    CallServer(*http, server.Url(""), "/ahb", nullptr, "");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests)
        EXPECT_EQ(r.Header("User-Agent"), ClientUserAgent);
    EXPECT_EQ(requests[0].connection, requests[1].connection) << "the connection is kept";
}

TEST(PrepareHttp, FifteenSecondsForEachOfTheFourTimeouts) {
    using Four = std::array<std::int32_t, 4>;
    Winhttpclass::THTTP bare("", "", "", "");
    ASSERT_NE(Winhttpclass::platform::SessionTimeouts(*bare.SessionHandle),
              (Four{15000, 15000, 15000, 15000}))
        << "a new session has other timeouts, so the next check sees PrepareHttp's";
    auto http = PreparedSession();
    EXPECT_EQ(Winhttpclass::platform::SessionTimeouts(*http->SessionHandle),
              (Four{15000, 15000, 15000, 15000}));
}

TEST(SetSessionCookie, ReplacesEveryCookieWithTheSessionPair) {
    LogCapture log;
    ScriptedServer server([](const ReceivedRequest& r) {
        if (r.target == "/first")
            return HttpResponse(
                200, "OK", R"({"Code":"1"})",
                {{"Set-Cookie", "stale=1; Path=/"}, {"Set-Cookie", "SID=old; Path=/"}});
        return JsonAnswer(R"({"Code":"1"})");
    });
    auto http = PreparedSession();
    http->Post(server.Url("/first"), "", Winhttpclass::cpNone);

    SetSessionCookie(*http, "first-id", 1);
    SetSessionCookie(*http, kSessionId, SessionType);
    http->Post(server.Url("/second"), "", Winhttpclass::cpNone);
    // A later call that sets no cookie still sends the pair.
    http->Get(server.Url("/third"), Winhttpclass::cpNone);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].Header("Cookie"), "SID=" + kSessionId + "; SType=1");
    EXPECT_EQ(requests[2].Header("Cookie"), "SID=" + kSessionId + "; SType=1");
}

// ---- CallServer --------------------------------------------------------------

TEST(CallServer, AnswerPathsNeverThrow) {
    enum class Log { None, Exception };
    struct Case {
        const char* what;
        std::optional<std::string> reply; // nullopt: nobody listens
        bool reached;
        bool ok;
        int code;
        bool failed;
        Log logged;
    };
    const Case cases[] = {
        {"server unreachable", std::nullopt, false, false, 0, false, Log::None},
        {"500 is not read", HttpResponse(500, "Internal Server Error", R"({"Code":"1"})"), true,
         false, 0, false, Log::None},
        {"200 with an empty body", HttpResponse(200, "OK", ""), true, false, 0, false, Log::None},
        {"reason phrase Ok is not read", HttpResponse(200, "Ok", R"({"Code":"1"})"), true, false, 0,
         false, Log::None},
        {"200 with a body that is not JSON", HttpResponse(200, "OK", "<html>busy</html>"), true,
         true, 0, true, Log::Exception},
        {"a JSON array", JsonAnswer(R"([{"Code":"1"}])"), true, true, 0, true, Log::Exception},
        {"\"Code\" missing", JsonAnswer(R"({"Content":"x"})"), true, true, 0, true, Log::Exception},
        {"\"Code\" the text 1", JsonAnswer(R"({"Code":"1"})"), true, true, 1, false, Log::None},
        {"\"Code\" the number 1", JsonAnswer(R"({"Code":1})"), true, true, 1, false, Log::None},
        {"\"Code\" the number -1", JsonAnswer(R"({"Code":-1})"), true, true, -1, false, Log::None},
        {"\"Code\" not a number", JsonAnswer(R"({"Code":"abc"})"), true, true, 0, false, Log::None},
        {"\"Code\" with a blank", JsonAnswer(R"({"Code":"1 "})"), true, true, 0, false, Log::None},
        {"\"Code\" empty", JsonAnswer(R"({"Code":""})"), true, true, 0, false, Log::None},
        {"\"Code\" with two signs", JsonAnswer(R"({"Code":"+-1"})"), true, true, 0, false,
         Log::None},
        {"\"Code\" beyond int", JsonAnswer(R"({"Code":"99999999999"})"), true, true, 0, false,
         Log::None},
        {"\"Code\" null", JsonAnswer(R"({"Code":null})"), true, true, 0, false, Log::None},
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
        Json::TJSONobject payload;
        payload.Add("k", "v");
        SCallOptions options;
        options.Source = "TarvoAdmin";
        options.Where = "InitDBGrid";
        SCallResult result;
        EXPECT_NO_THROW(result =
                            CallServer(*http, base, "/astulist", &payload, kSessionId, options))
            << c.what;
        EXPECT_EQ(result.Reached, c.reached) << c.what;
        EXPECT_EQ(result.Ok, c.ok) << c.what;
        EXPECT_EQ(result.Code, c.code) << c.what;
        EXPECT_EQ(result.Failed, c.failed) << c.what;
        EXPECT_EQ(result.Message, "") << c.what;
        const auto lines = log.Lines();
        if (c.logged == Log::None) {
            EXPECT_TRUE(lines.empty()) << c.what << ": " << (lines.empty() ? "" : lines[0]);
        } else {
            ASSERT_EQ(lines.size(), 1u) << c.what;
            EXPECT_EQ(lines[0], LogLine("TarvoAdmin", "InitDBGrid", "Exception: " + result.Error))
                << c.what;
            EXPECT_FALSE(result.Error.empty()) << c.what;
        }
        if (c.reply) {
            EXPECT_EQ(server->Requests().size(), 1u) << c.what;
        }
    }
}

TEST(CallServer, AnEarlierAnswerDoesNotCountForALaterCall) {
    LogCapture log;
    auto http = PreparedSession();
    {
        ScriptedServer server([](const ReceivedRequest&) { return JsonAnswer(R"({"Code":"1"})"); });
        EXPECT_EQ(CallServer(*http, server.Url(""), "/ahb", nullptr, "").Code, 1);
        // The server goes away with the kept connection.
    }
    const SCallResult later = CallServer(*http, ClosedBaseUrl(), "/ahb", nullptr, "");
    EXPECT_FALSE(later.Reached);
    EXPECT_FALSE(later.Ok);
    EXPECT_EQ(later.Code, 0);
    EXPECT_EQ(later.Document, nullptr);
}

TEST(CallServer, ContentOfAFailedCodeIsTheGbkMessage) {
    LogCapture log;
    const std::string message = Gbk(u8"删除失败！");
    ScriptedServer server([&](const ReceivedRequest&) {
        return JsonAnswer(R"({"Code":"0","Content":")" + message + R"("})");
    });
    auto http = PreparedSession();
    const SCallResult result = CallServer(*http, server.Url(""), "/adeletestu", nullptr, "");
    EXPECT_EQ(result.Code, 0);
    EXPECT_FALSE(result.Success());
    EXPECT_EQ(result.Text("Content"), message);
    EXPECT_EQ(result.Text("missing"), "");
    EXPECT_EQ(result.Member("missing"), nullptr);
    EXPECT_TRUE(log.Lines().empty());
}

TEST(CallServer, ErrorsThroughCheckHttpResult) {
    // An unreadable 200 answer: the empty text, nothing logged.
    {
        LogCapture log;
        ScriptedServer server([](const ReceivedRequest&) { return HttpResponse(200, "OK", "{"); });
        auto http = PreparedSession();
        SCallOptions options;
        options.UseCheckHttpResult = true;
        const SCallResult result =
            CallServer(*http, server.Url(""), "/auserinfo", nullptr, "", options);
        EXPECT_TRUE(result.Failed);
        EXPECT_EQ(result.Message, "");
        EXPECT_TRUE(log.Lines().empty());
    }
    // An empty base URL (the configured value was empty): no server is
    // reached, nothing raised, nothing logged.
    {
        LogCapture log;
        auto http = PreparedSession();
        SCallOptions options;
        options.UseCheckHttpResult = true;
        SCallResult result;
        EXPECT_NO_THROW(result = CallServer(*http, "", "/auserinfo", nullptr, "", options));
        EXPECT_FALSE(result.Reached);
        EXPECT_FALSE(result.Ok);
        EXPECT_EQ(result.Code, 0);
        EXPECT_TRUE(log.Lines().empty());
    }
}

// ---- GetPublicIP -------------------------------------------------------------

TEST(GetPublicIP, PlainGetWhoseAnswerIsTheAddress) {
    LogCapture log;
    ScriptedServer server([](const ReceivedRequest&) {
        return HttpResponse(200, "OK", "203.0.113.7", {{"Content-Type", "text/plain"}});
    });
    auto http = PreparedSession();
    EXPECT_EQ(GetPublicIP(*http, server.Url("")), "203.0.113.7");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/agetclientip");
    EXPECT_EQ(requests[0].body, "");
    EXPECT_EQ(requests[0].Header("Cookie"), "");
    EXPECT_TRUE(log.Lines().empty());
}

TEST(GetPublicIP, AnErrorPageIsNoAddress) {
    ScriptedServer server([](const ReceivedRequest& r) {
        if (r.target == "/500/agetclientip")
            return HttpResponse(500, "Internal Server Error", "<html>proxy error</html>");
        if (r.target == "/404/agetclientip")
            return HttpResponse(404, "Not Found", "Not Found");
        return HttpResponse(200, "OK", "");
    });
    for (const std::string& prefix : {"/500"s, "/404"s, "/empty"s}) {
        LogCapture log;
        auto http = PreparedSession();
        EXPECT_EQ(GetPublicIP(*http, server.Url(prefix)), "") << prefix;
        EXPECT_TRUE(log.Lines().empty()) << prefix;
    }
}

TEST(GetPublicIP, ServerDownGivesTheEmptyTextAndNoLogLine) {
    LogCapture log;
    auto http = PreparedSession();
    EXPECT_EQ(GetPublicIP(*http, ClosedBaseUrl()), "");
    EXPECT_EQ(http->RawHeader, "");
    EXPECT_TRUE(log.Lines().empty());
}

// ---- IsValidPhoneNumber ------------------------------------------------------

TEST(IsValidPhoneNumber, Rules) {
    const struct {
        std::string text;
        bool valid;
        const char* what;
    } cases[] = {
        {"13812345670", true, "13 with mixed digits"},
        {"  13812345670 \t", true, "blanks around"},
        {"\r\n13812345670\x01", true, "control characters around"},
        {"19900112233", true, "second digit 9"},
        {"13888888812", true, "one digit 7 times"},
        {"1381234567", false, "10 digits"},
        {"138123456701", false, "12 digits"},
        {"23812345670", false, "first digit 2"},
        {"03812345670", false, "first digit 0"},
        {"10812345670", false, "second digit 0"},
        {"11812345670", false, "second digit 1"},
        {"12812345670", false, "second digit 2"},
        {"a3812345670", false, "letter first"},
        {"138123a5670", false, "letter inside"},
        {"1381234567a", false, "letter as the 11th"},
        {"1381234 670", false, "blank inside"},
        {"13888888881", false, "one digit 8 times"},
        {"18888888823", false, "1 then 8 eights"},
        {"13333333333", false, "one digit 10 times"},
        {"", false, "empty"},
        {"           ", false, "blanks only"},
        {"+8613812345", false, "a sign"},
        {"\xA3\xB1\xA3\xB3\x38\x31\x32\x33\x34\x35\x36", false, "full-width GBK digits"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidPhoneNumber(c.text), c.valid) << c.what << ": \"" << c.text << "\"";
}

// ---- HexToStream -------------------------------------------------------------

TEST(HexToStream, WritesHalfTheLengthInBytesAtThePosition) {
    const struct {
        const char* what;
        std::string hex;
        Winhttpclass::TBytes bytes;
    } cases[] = {
        {"either letter case", "0a1B", {0x0A, 0x1B}},
        {"odd length ignores the last character", "0a1Bf", {0x0A, 0x1B}},
        {"all values", "00FFff7f80", {0x00, 0xFF, 0xFF, 0x7F, 0x80}},
        {"a single character", "A", {}},
        {"empty", "", {}},
        // Decoding stops at the first pair that is not hexadecimal; the count
        // stays length / 2 and the rest are zero bytes.
        {"a non-hex pair", "0aZZ1B", {0x0A, 0x00, 0x00}},
        {"a non-hex second digit", "1g2233", {0x00, 0x00, 0x00}},
        {"a blank", "0a 1", {0x0A, 0x00}},
    };
    for (const auto& c : cases) {
        Winhttpclass::TMemoryStream stream;
        HexToStream(c.hex, stream);
        EXPECT_EQ(stream.Bytes(), c.bytes) << c.what;
        EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(c.bytes.size())) << c.what;
    }

    // At the current position, overwriting without truncating.
    Winhttpclass::TMemoryStream stream(Winhttpclass::TBytes{1, 2, 3, 4, 5});
    stream.Seek(1);
    HexToStream("AABB", stream);
    EXPECT_EQ(stream.Bytes(), (Winhttpclass::TBytes{1, 0xAA, 0xBB, 4, 5}));
    EXPECT_EQ(stream.Position(), 3);
}
