// THTTP's session core against loopback servers: the request head it puts on
// the wire, the captured response head, redirects, keep-alive, timeouts and
// broken answers.
#include "SessionTestSupport.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

using namespace Winhttpclass;
using namespace testsupport;
using sessiontest::DebugCapture;
using sessiontest::Ok;

namespace {

class Session : public sessiontest::ServerTest {};

TEST_F(Session, SendsTheLibraryHeadersAndTheUserAgent) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok("hi"); });
    auto http = NewHttp();
    EXPECT_EQ(http->Get(server.Url("/a?b=1"), cpNone), "hi");
    http->SetUserAgent("TarvoAdmin/1.0");
    EXPECT_EQ(http->Get(server.Url("/"), cpNone), "hi");

    const auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    const auto& first = reqs[0];
    EXPECT_EQ(first.method, "GET");
    EXPECT_EQ(first.target, "/a?b=1");
    EXPECT_EQ(first.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(first.Header("User-Agent"), "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1)");
    EXPECT_EQ(first.Header("Accept"), "*/*");
    EXPECT_EQ(first.Header("Accept-Language"), "zh-cn");
    EXPECT_EQ(first.Header("Pragma"), "no-cache");
    EXPECT_EQ(first.Header("Cache-Control"), "no-cache");
    // An empty store still sends the Cookie line, with an empty value.
    EXPECT_NE(first.raw.find("\r\nCookie: \r\n"), std::string::npos) << first.raw;
    EXPECT_FALSE(first.HasHeader("Content-Length"));
    EXPECT_FALSE(first.HasHeader("Content-Type"));
    EXPECT_EQ(reqs[1].Header("User-Agent"), "TarvoAdmin/1.0");
    // The member keeps the construction value.
    EXPECT_EQ(http->UserAgent, std::u16string(DEFAULT_USER_AGENT));
}

TEST_F(Session, CapturesTheRawHeadDateAndCookiesAsReceived) {
    const std::string head = "HTTP/1.1 200 Fine Thanks\r\n"
                             "x-MiXeD: Keep  Spacing\r\n"
                             "Date: Tue, 14 Feb 2017 15:53:11 GMT\r\n"
                             "set-cookie: SID=abc; Path=/\r\n"
                             "Set-Cookie: SType=1\r\n"
                             "Content-Length: 2\r\n"
                             "\r\n";
    ScriptedServer server([&](const ReceivedRequest&) { return head + "ok"; });
    auto http = NewHttp();
    EXPECT_EQ(http->Get(server.Url(), cpNone), "ok");
    EXPECT_EQ(http->RawHeader, head);
    EXPECT_EQ(http->GMTDate, "Tue, 14 Feb 2017 15:53:11 GMT");
    EXPECT_DOUBLE_EQ(http->GetBJDate(), THTTP::InternetTimeToBjTime(http->GMTDate));
    EXPECT_EQ(http->GetCookies(), "SID=abc; SType=1");
    EXPECT_EQ(http->ReceivedBytes, 2u);

    // The cookies go out with the next request.
    http->Get(server.Url(), cpNone);
    EXPECT_EQ(server.Requests().at(1).Header("Cookie"), "SID=abc; SType=1");
}

TEST_F(Session, SkipsInterimAnswers) {
    ScriptedServer server([](const ReceivedRequest&) {
        return "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: 1\r\n\r\n" + Ok("done");
    });
    auto http = NewHttp();
    EXPECT_EQ(http->Get(server.Url(), cpNone), "done");
    EXPECT_EQ(http->RawHeader, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
}

TEST_F(Session, PostDeclaresItsLengthAndContentType) {
    ScriptedServer server([](const ReceivedRequest& r) { return Ok(r.body); });
    auto http = NewHttp();
    EXPECT_EQ(http->Post(server.Url("/adeletestu"), "data=AB12", cpNone), "data=AB12");
    EXPECT_EQ(http->Post(server.Url("/empty"), "", cpNone), "");
    const auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(reqs[0].Header("Content-Length"), "9");
    EXPECT_EQ(reqs[1].method, "POST");
    EXPECT_EQ(reqs[1].Header("Content-Length"), "0");
    EXPECT_EQ(reqs[1].Header("Content-Type"), "application/x-www-form-urlencoded");
}

// --- redirects ---------------------------------------------------------------------

TEST_F(Session, FollowsRedirectsItself) {
    struct Case {
        const char* name;
        std::string location; // "{base}" stands for the server's base URL
        std::string expectedTarget;
    };
    const Case cases[] = {
        {"relative", "next?x=1", "/next?x=1"},
        // Exactly one "/" is inserted, so a leading "/" doubles.
        {"rooted", "/next", "//next"},
        {"absolute", "{base}/abs", "/abs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string base;
        ScriptedServer server([&](const ReceivedRequest& r) {
            if (r.method == "POST") {
                std::string loc = c.location;
                if (loc.starts_with("{base}"))
                    loc = base + loc.substr(6);
                return HttpResponse(302, "Found", "",
                                    {{"Location", loc}, {"Set-Cookie", "hop=1; path=/"}});
            }
            return Ok("landed");
        });
        base = "http://127.0.0.1:" + std::to_string(server.Port());
        auto http = NewHttp();
        http->SetCookies("SID=s1;SType=1;");
        EXPECT_EQ(http->Post(server.Url("/dir/start"), "a=1", cpNone), "landed");
        const auto reqs = server.Requests();
        ASSERT_EQ(reqs.size(), 2u);
        EXPECT_EQ(reqs[1].method, "GET");
        EXPECT_EQ(reqs[1].target, c.expectedTarget);
        EXPECT_EQ(reqs[1].body, "");
        EXPECT_FALSE(reqs[1].HasHeader("Content-Type"));
        // The cookie of the 302 travels with the GET.
        EXPECT_EQ(reqs[1].Header("Cookie"), "SID=s1; SType=1; hop=1");
        EXPECT_EQ(http->BaseUrl, base);
        EXPECT_EQ(http->RawHeader.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
        EXPECT_EQ(http->RedirectsLeft, 7);
    }
}

TEST_F(Session, WithoutAutoRedirectReportsTheRedirectItself) {
    ScriptedServer server([](const ReceivedRequest&) {
        return HttpResponse(302, "Found", "moved", {{"Location", "elsewhere"}});
    });
    auto http = NewHttp();
    http->AutoRedirect = false;
    ASSERT_TRUE(http->SendRequest(server.Url("/x"), "GET", 0));
    ASSERT_TRUE(http->RecvReponse());
    EXPECT_EQ(http->RawHeader.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
    EXPECT_EQ(http->Location, "elsewhere");
    EXPECT_EQ(http->RecvContent(cpNone, 0xFFFFFFFF), "moved");
    http->DoRequestEnd(true);
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(http->RedirectsLeft, 8);
}

TEST_F(Session, FollowsAtMostEightRedirectsInTheLifeOfOneObject) {
    ScriptedServer server([](const ReceivedRequest&) {
        return HttpResponse(302, "Found", "", {{"Location", "again"}});
    });
    auto http = NewHttp();
    http->Get(server.Url("/start"), cpNone);
    EXPECT_EQ(server.Requests().size(), 9u); // the first request and eight redirects
    EXPECT_EQ(http->RedirectsLeft, 0);
    EXPECT_EQ(http->Location, "again"); // recorded, not followed
    EXPECT_EQ(http->RawHeader.rfind("HTTP/1.1 302", 0), 0u);

    http->Get(server.Url("/later"), cpNone);
    EXPECT_EQ(server.Requests().size(), 10u);
}

// --- RequestHeaders -------------------------------------------------------------------

TEST_F(Session, AddsTheCallersHeaderLines) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok(""); });
    auto http = NewHttp();

    http->RequestHeaders = "X-One: 1";
    http->Get(server.Url("/p"), cpNone);
    EXPECT_EQ(http->RequestHeaders, "X-One: 1\r\n");

    http->RequestHeaders = "GET /lower/Path?q=a HTTP/1.1\r\nAccept: text/html\r\nnot a header\r\n";
    http->Get(server.Url("/ignored"), cpNone);

    const auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].Header("X-One"), "1");
    EXPECT_EQ(reqs[1].target, "/LOWER/PATH?Q=A");
    // Add-or-replace: one Accept line, the caller's.
    int accepts = 0;
    for (const auto& [n, v] : reqs[1].headers)
        accepts += n == "Accept";
    EXPECT_EQ(accepts, 1);
    EXPECT_EQ(reqs[1].Header("Accept"), "text/html");
    EXPECT_FALSE(reqs[1].HasHeader("not a header"));
}

TEST_F(Session, RefererReachesTheServer) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok(""); });
    auto http = NewHttp();
    http->Get(server.Url("/first"), cpNone);
    http->Referer = "http://127.0.0.1/from?page=2";
    http->Get(server.Url("/second"), cpNone);
    const auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_FALSE(reqs[0].HasHeader("Referer"));
    EXPECT_EQ(reqs[1].Header("Referer"), "http://127.0.0.1/from?page=2");
}

TEST_F(Session, NeverPutsALineBreakFromAValueOnTheWire) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok(""); });
    auto http = NewHttp();
    http->RequestHeaders = "X-A: 1\nInjected: yes\r\nX-B: 2\r\n";
    http->Referer = "http://r/\r\nInjected2: yes";
    http->SetCookies("a=1\r\nInjected3: yes");
    http->SetUserAgent("agent\r\nInjected4: yes");
    http->Get(server.Url(), cpNone);
    const auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 1u);
    for (const char* name : {"Injected", "Injected2", "Injected3", "Injected4"})
        EXPECT_FALSE(reqs[0].HasHeader(name)) << name;
    EXPECT_EQ(reqs[0].Header("X-B"), "2");
}

// --- keep-alive ---------------------------------------------------------------------

TEST_F(Session, KeepAliveReusesOneConnection) {
    ScriptedServer server([](const ReceivedRequest& r) { return Ok("n" + r.target); });
    auto http = NewHttp();
    http->KeepAlive = true;
    EXPECT_EQ(http->Get(server.Url("/1"), cpNone), "n/1");
    EXPECT_EQ(http->Post(server.Url("/2"), "body", cpNone), "n/2");
    EXPECT_EQ(http->Get(server.Url("/3"), cpNone), "n/3");
    EXPECT_EQ(server.Connections(), 1);
    for (const auto& r : server.Requests())
        EXPECT_NE(r.Header("Connection"), "close");
}

TEST_F(Session, WithoutKeepAliveEveryRequestHasItsOwnConnection) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok("x"); });
    auto http = NewHttp();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(http->Get(server.Url(), cpNone), "x");
    EXPECT_EQ(server.Connections(), 3);
    for (const auto& r : server.Requests())
        EXPECT_EQ(r.Header("Connection"), "close");
}

TEST_F(Session, ReplacesAPooledConnectionTheServerClosed) {
    // The server drops every connection after one answer without saying so.
    ScriptedServer server([](const ReceivedRequest& r) {
        return Reply{Ok("got " + r.body), After::Close};
    });
    auto http = NewHttp();
    http->KeepAlive = true;
    EXPECT_EQ(http->Get(server.Url("/1"), cpNone), "got ");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(http->Post(server.Url("/2"), "payload", cpNone), "got payload");
    EXPECT_EQ(http->Post(server.Url("/3"), "more", cpNone), "got more");
    EXPECT_EQ(server.Connections(), 3);
    const auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[2].body, "more");
}

TEST_F(Session, RetriesOnceWhenAPooledConnectionDiesBeforeAnswering) {
    // The second request on the first connection is read and then dropped
    // without a byte of answer: it must be sent again, body and all.
    std::atomic<int> onFirst{0};
    ScriptedServer server([&](const ReceivedRequest& r) {
        if (r.connection == 1 && ++onFirst == 2)
            return Reply{"", After::Close};
        return Reply{Ok(r.target + " " + r.body)};
    });
    auto http = NewHttp();
    http->KeepAlive = true;
    EXPECT_EQ(http->Post(server.Url("/1"), "one", cpNone), "/1 one");
    EXPECT_EQ(http->Post(server.Url("/2"), "two", cpNone), "/2 two");
    EXPECT_EQ(server.Connections(), 2);
    const auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[2].connection, 2);
    EXPECT_EQ(reqs[2].body, "two");
    EXPECT_EQ(http->Get(server.Url("/3"), cpNone), "/3 ");
    EXPECT_EQ(server.Connections(), 2);
}

TEST_F(Session, DoesNotRetryAFreshConnectionThatDiesBeforeAnswering) {
    ScriptedServer server([](const ReceivedRequest&) { return Reply{"", After::Close}; });
    auto http = NewHttp();
    http->KeepAlive = true;
    EXPECT_EQ(http->Post(server.Url(), "x", cpNone), "");
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(Session, AnAnswerReadOnlyInPartIsNotReused) {
    const std::string body(100, 'z');
    ScriptedServer server([&](const ReceivedRequest&) { return Ok(body); });
    auto http = NewHttp();
    http->KeepAlive = true;
    ASSERT_TRUE(http->SendRequest(server.Url(), "GET", 0));
    ASSERT_TRUE(http->RecvReponse());
    char part[10];
    EXPECT_EQ(http->RecvContent(part, sizeof part), 10);
    http->DoRequestEnd(true);
    EXPECT_EQ(http->Get(server.Url(), cpNone), body);
    EXPECT_EQ(server.Connections(), 2);
}

// --- timing ---------------------------------------------------------------------------

TEST_F(Session, ElapsedTimeIsRecordedOnce) {
    // The server takes a known time, which the measure must cover.
    constexpr auto kServerDelay = std::chrono::milliseconds(150);
    ScriptedServer server([&](const ReceivedRequest&) {
        std::this_thread::sleep_for(kServerDelay);
        return Ok("x");
    });
    auto http = NewHttp();
    http->Get(server.Url(), cpNone);
    const auto elapsed = http->ElapsedTime;
    EXPECT_GE(elapsed, static_cast<std::uint32_t>(kServerDelay.count()));
    EXPECT_LT(elapsed, 10000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    http->DoRequestEnd(true);
    EXPECT_EQ(http->ElapsedTime, elapsed);
}

TEST_F(Session, ReceiveTimeoutEndsASilentServer) {
    ScriptedServer server([](const ReceivedRequest&) { return Reply{"", After::Hang}; });
    auto http = NewHttp();
    ASSERT_TRUE(http->SetTimeouts(1000, 1000, 1000, 300));
    // A value below -1 is refused and leaves the timeouts as they were.
    EXPECT_FALSE(http->SetTimeouts(1000, 1000, 1000, -2));
    EXPECT_EQ(platform::SessionTimeouts(*http->SessionHandle),
              (std::array<std::int32_t, 4>{1000, 1000, 1000, 300}));
    DebugCapture debug;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(http->Get(server.Url(), cpNone), "");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(http->RawHeader, "");
    EXPECT_NE(debug.Text().find("RecvReponse Fail! error:12002"), std::string::npos)
        << debug.Text();
}

TEST_F(Session, TimeoutsReadBackAsLastAccepted) {
    using Four = std::array<std::int32_t, 4>;
    auto http = NewHttp();
    EXPECT_EQ(platform::SessionTimeouts(*http->SessionHandle), (Four{0, 60000, 30000, 30000}))
        << "a new session's";
    const struct {
        Four set;
        bool accepted;
        Four after;
    } steps[] = {
        {{1, 2, 3, 4}, true, {1, 2, 3, 4}},
        {{0, 0, -1, -1}, true, {0, 0, -1, -1}},
        {{-2, 5, 5, 5}, false, {0, 0, -1, -1}},
        {{5, 5, 5, INT32_MIN}, false, {0, 0, -1, -1}},
        {{15000, 15000, 15000, 15000}, true, {15000, 15000, 15000, 15000}},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(http->SetTimeouts(s.set[0], s.set[1], s.set[2], s.set[3]), s.accepted);
        EXPECT_EQ(platform::SessionTimeouts(*http->SessionHandle), s.after);
    }
}

TEST_F(Session, ReceiveTimeoutAppliesToEachReadOfTheBody) {
    // Head and part of the body, then silence.
    ScriptedServer server([](const ReceivedRequest&) {
        return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst", After::Hang};
    });
    auto http = NewHttp();
    http->SetTimeouts(0, 0, 0, 300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(http->Get(server.Url(), cpNone), "first");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(http->ReceivedBytes, 5u);
}

TEST_F(Session, ReportsAConnectionThatCannotBeMade) {
    std::uint16_t port = 0;
    {
        ScriptedServer gone([](const ReceivedRequest&) { return Ok(""); });
        port = gone.Port();
    }
    auto http = NewHttp();
    DebugCapture debug;
    EXPECT_FALSE(http->SendRequest("http://127.0.0.1:" + std::to_string(port) + "/", "GET", 0));
    EXPECT_NE(debug.Text().find("SendRequest Fail! error:12029"), std::string::npos)
        << debug.Text();
    EXPECT_FALSE(http->SendRequest("not a url", "GET", 0));
    EXPECT_EQ(http->RawHeader, "");
}

TEST_F(Session, ABadNamedProxyCannotOpenTheSession) {
    for (const char* proxy : {"127.0.0.1:notaport", "127.0.0.1:70000", ":8080"}) {
        SCOPED_TRACE(proxy);
        try {
            THTTP http(proxy, "", "", "");
            ADD_FAILURE() << "no error raised";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "InternetOpen Error!");
        }
    }
}

// --- broken answers -------------------------------------------------------------------

TEST_F(Session, BrokenAnswersFailWithoutACrash) {
    struct Case {
        const char* name;
        Reply reply;
        std::string text; // what Get returns
        bool headArrives; // RawHeader non-empty
    };
    const std::string bigHead = "HTTP/1.1 200 OK\r\nX-Big: " + std::string(70 * 1024, 'a') +
                                "\r\nContent-Length: 2\r\n\r\nok";
    const Case cases[] = {
        {"malformed status line",
         {"HTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", After::Close},
         "",
         false},
        {"status without a number", {"HTTP/1.1 OK\r\n\r\n", After::Close}, "", false},
        {"header line without a colon",
         {"HTTP/1.1 200 OK\r\nNoColonHere\r\nContent-Length: 2\r\n\r\nok", After::Close},
         "",
         false},
        {"oversized head", {bigHead, After::Close}, "", false},
        {"closed before any byte", {"", After::Close}, "", false},
        {"closed inside the head", {"HTTP/1.1 200 OK\r\nContent-Le", After::Close}, "", false},
        {"truncated chunked body",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n10\r\nwor",
          After::Close},
         "hellowor",
         true},
        {"bad chunk size",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n",
          After::Close},
         "",
         true},
        {"reset in the body",
         {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial", After::Reset},
         "partial",
         true},
        {"closed in the body",
         {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial", After::Close},
         "partial",
         true},
        {"body ended by close",
         {"HTTP/1.1 200 OK\r\n\r\nall of it", After::Close},
         "all of it",
         true},
        {"chunked body",
         {ChunkedResponse(200, "OK", {"ab", "cd", std::string(5000, 'e')}), After::Continue},
         "abcd" + std::string(5000, 'e'),
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](const ReceivedRequest&) { return c.reply; });
        auto http = NewHttp();
        http->SetTimeouts(2000, 2000, 2000, 2000);
        EXPECT_EQ(http->Get(server.Url(), cpNone), c.text);
        EXPECT_EQ(!http->RawHeader.empty(), c.headArrives) << http->RawHeader.substr(0, 100);
        EXPECT_EQ(http->ReceivedBytes, c.text.size());
    }
}

TEST_F(Session, AbortStopsTheReaderAfterTheCurrentChunk) {
    const std::string body(64 * 1024, 'q');
    ScriptedServer server([&](const ReceivedRequest&) { return Ok(body); });
    auto http = NewHttp();
    struct AbortingStream : TMemoryStream {
        THTTP* http = nullptr;
        std::int32_t Write(const void* data, std::int32_t count) override {
            http->Abort();
            return TMemoryStream::Write(data, count);
        }
    } stream;
    stream.http = http.get();
    const auto got = http->Get(server.Url(), stream);
    EXPECT_GT(got, 0u);
    EXPECT_LE(got, 4096u);
    EXPECT_EQ(stream.Size(), got);
    EXPECT_TRUE(http->Aborted);
    // The next request clears the flag.
    EXPECT_EQ(http->Get(server.Url(), cpNone), body);
    EXPECT_FALSE(http->Aborted);
}

} // namespace
