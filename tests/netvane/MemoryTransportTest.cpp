// A session served from memory reads answers the way a socket session does:
// the same answers, sent by a loopback server that closes after each, give
// the same results, and the memory peer receives the same request bytes.
#include "platform/MemoryTransport.h"

#include "SessionTestSupport.h"

#include <deque>
#include <string>
#include <vector>

using namespace Winhttpclass;
using namespace testsupport;

namespace {

class MemoryTransport : public sessiontest::ServerTest {};

// What a request left for the caller to see.
struct Outcome {
    std::string text;
    std::string rawHeader;
    TCodePage codePage = cpNone;
    std::string cookies;
    std::string date;
    std::uint32_t receivedBytes = 0;

    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "text=\"" << o.text << "\" head=\"" << o.rawHeader
               << "\" codePage=" << static_cast<int>(o.codePage) << " cookies=\"" << o.cookies
               << "\" date=\"" << o.date << "\" bytes=" << o.receivedBytes;
}

Outcome Request(THTTP& http, const std::string& url, bool post) {
    Outcome o;
    o.text = post ? http.Post(url, "a=1&b=2", cpAuto) : http.Get(url, cpAuto);
    o.rawHeader = http.RawHeader;
    o.codePage = http.CodePage;
    o.cookies = http.GetCookies();
    o.date = http.GMTDate;
    o.receivedBytes = http.ReceivedBytes;
    return o;
}

TEST_F(MemoryTransport, ReadsAnswersLikeASocket) {
    const std::string utf8 = reinterpret_cast<const char*>(u8"提示");
    struct Case {
        const char* name;
        std::vector<std::string> answers; // one per connection
        bool post = false;
    };
    const Case cases[] = {
        {"length, cookie, date and charset",
         {"HTTP/1.1 200 OK\r\nDate: Thu, 10 Dec 2026 09:30:00 GMT\r\n"
          "Set-Cookie: sid=42; path=/\r\nContent-Type: text/plain; charset=utf-8\r\n"
          "Content-Length: " +
          std::to_string(utf8.size()) + "\r\n\r\n" + utf8}},
        {"chunked with a trailer",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
          "5\r\nhello\r\n1;x=y\r\n \r\n5\r\nworld\r\n0\r\nX-After: 1\r\n\r\n"}},
        {"read to the close", {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>all</p>"}},
        {"interim answer before an error",
         {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"},
         true},
        {"redirect followed to a second answer",
         {"HTTP/1.1 302 Found\r\nLocation: /next\r\nSet-Cookie: a=b\r\nContent-Length: 0\r\n\r\n",
          "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}},
        {"body shorter than its length", {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd"}},
        {"bad chunk size", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n"}},
        {"no HTTP answer", {"SMTP ready\r\n\r\n"}},
        {"nothing before the close", {""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t next = 0;
        ScriptedServer server([&](const ReceivedRequest&) {
            return Reply{next < c.answers.size() ? c.answers[next++] : std::string(), After::Close};
        });
        const std::string url = server.Url("/page");
        auto socketHttp = NewHttp();
        const Outcome bySocket = Request(*socketHttp, url, c.post);

        // Whole answers at once, and in pieces of three bytes.
        for (const std::size_t piece : {std::size_t{0}, std::size_t{3}}) {
            SCOPED_TRACE(piece);
            auto peer = std::make_shared<platform::MemoryPeer>();
            peer->answers.assign(c.answers.begin(), c.answers.end());
            peer->pieceSize = piece;
            auto memoryHttp = NewHttp();
            platform::UseMemoryTransport(*memoryHttp->SessionHandle, peer);
            EXPECT_EQ(Request(*memoryHttp, url, c.post), bySocket);
            EXPECT_EQ(peer->connections, static_cast<int>(c.answers.size()));
            EXPECT_TRUE(peer->answers.empty());
            std::string raw;
            for (const auto& r : server.Requests())
                raw += r.raw;
            EXPECT_EQ(peer->sent, raw);
        }
    }
}

TEST_F(MemoryTransport, APeerWithoutAnswersRefusesTheConnection) {
    auto peer = std::make_shared<platform::MemoryPeer>();
    auto http = NewHttp();
    platform::UseMemoryTransport(*http->SessionHandle, peer);
    EXPECT_EQ(http->Get("http://example.invalid/", cpNone), "");
    EXPECT_EQ(http->RawHeader, "");
    EXPECT_EQ(peer->sent, "");
}

} // namespace
