// Get / Post and the body readers: what reaches the caller, the file or the
// stream, and how a text answer is decoded.
#include "CodePage.h"
#include "SessionTestSupport.h"

#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Winhttpclass;
using namespace testsupport;
using sessiontest::Ok;

namespace {

class Verbs : public sessiontest::ServerTest {};

TEST_F(Verbs, ReturnsTheBodyOfAnErrorAnswer) {
    ScriptedServer server(
        [](const ReceivedRequest&) { return HttpResponse(404, "Not Found", "no such page"); });
    auto http = NewHttp();
    EXPECT_EQ(http->Get(server.Url("/missing"), cpNone), "no such page");
    EXPECT_EQ(http->RawHeader.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
    EXPECT_EQ(http->RawHeader.find("200 OK\r\n"), std::string::npos);
}

TEST_F(Verbs, PostSendsTheBytesAsHeld) {
    ScriptedServer server(
        [](const ReceivedRequest& r) { return Ok(std::to_string(r.body.size())); });
    auto http = NewHttp();
    const std::string gbk = Gbk(u8"学员") + std::string("\0\x01\xFF", 3);
    EXPECT_EQ(http->Post(server.Url(), gbk.data(), static_cast<std::uint32_t>(gbk.size()),
                         "application/octet-stream", cpNone),
              std::to_string(gbk.size()));
    EXPECT_EQ(http->ContentType, "");
    const auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].body, gbk);
    EXPECT_EQ(reqs[0].Header("Content-Type"), "application/octet-stream");
}

TEST_F(Verbs, RecvContentStopsAtTheLimit) {
    const std::string body = std::string(50, 'a') + std::string(50, 'b');
    ScriptedServer server([&](const ReceivedRequest&) { return Ok(body); });
    auto http = NewHttp();
    ASSERT_TRUE(http->SendRequest(server.Url(), "GET", 0));
    ASSERT_TRUE(http->RecvReponse());
    EXPECT_EQ(http->RecvContent(cpNone, 10), std::string(10, 'a'));
    EXPECT_EQ(http->ReceivedBytes, 10u);
    http->DoRequestEnd(true);
}

TEST_F(Verbs, ANulByteCutsTheTextButNotTheStream) {
    std::string body(100, 'x');
    body[40] = '\0';
    ScriptedServer server([&](const ReceivedRequest&) { return Ok(body); });
    auto http = NewHttp();
    EXPECT_EQ(http->Get(server.Url(), cpNone), std::string(40, 'x'));
    EXPECT_EQ(http->ReceivedBytes, 100u);

    TMemoryStream stream;
    EXPECT_EQ(http->Get(server.Url(), stream), 100u);
    EXPECT_EQ(stream.ToString(), body);
}

TEST_F(Verbs, GetIntoALongerStreamKeepsItsTail) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok("abc"); });
    auto http = NewHttp();
    TMemoryStream stream(TBytes(10, 'z'));
    stream.Seek(7);
    EXPECT_EQ(http->Get(server.Url(), stream), 3u);
    EXPECT_EQ(stream.ToString(), "abczzzzzzz");
}

TEST_F(Verbs, GetIntoAStreamCarriesALargeBody) {
    std::string body(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 131 % 251);
    ScriptedServer server([&](const ReceivedRequest&) {
        return ChunkedResponse(200, "OK", {body.substr(0, 5000), body.substr(5000)});
    });
    auto http = NewHttp();
    TMemoryStream stream;
    EXPECT_EQ(http->Get(server.Url(), stream), body.size());
    EXPECT_TRUE(stream.ToString() == body);
}

TEST_F(Verbs, PostIntoAStreamRestoresAutoRedirect) {
    ScriptedServer server([](const ReceivedRequest& r) { return Ok("echo:" + r.body); });
    auto http = NewHttp();
    http->AutoRedirect = false;
    TMemoryStream stream;
    EXPECT_EQ(http->Post(server.Url(), "k=v", stream, cpUTF8), 8u);
    EXPECT_EQ(stream.ToString(), "echo:k=v");
    EXPECT_FALSE(http->AutoRedirect);
}

// A memory stream that runs `onWrite` before each write.
class HookedStream : public TMemoryStream {
public:
    explicit HookedStream(std::function<void()> onWrite) : FOnWrite(std::move(onWrite)) {}
    std::int32_t Write(const void* data, std::int32_t count) override {
        FOnWrite();
        return TMemoryStream::Write(data, count);
    }

private:
    std::function<void()> FOnWrite;
};

TEST_F(Verbs, PostIntoAStreamPutsBackAutoRedirectChangedWhileItRan) {
    ScriptedServer server([](const ReceivedRequest& r) { return Ok("echo:" + r.body); });
    for (const bool before : {false, true}) {
        auto http = NewHttp();
        http->AutoRedirect = before;
        bool changed = false;
        HookedStream stream([&] {
            http->AutoRedirect = !before;
            changed = true;
        });
        EXPECT_EQ(http->Post(server.Url(), "k=v", stream, cpNone), 8u) << before;
        ASSERT_TRUE(changed) << "the body was written to the stream";
        EXPECT_EQ(stream.ToString(), "echo:k=v");
        EXPECT_EQ(http->AutoRedirect, before);
    }
}

TEST_F(Verbs, PostIntoAStreamPutsBackAutoRedirectWhenTheStreamThrows) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok("body"); });
    auto http = NewHttp();
    http->AutoRedirect = false;
    HookedStream stream([&] {
        http->AutoRedirect = true;
        throw std::runtime_error("disk full");
    });
    EXPECT_THROW(http->Post(server.Url(), "k=v", stream, cpNone), std::runtime_error);
    EXPECT_FALSE(http->AutoRedirect);
}

TEST_F(Verbs, GetIntoAFile) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok(std::string("file\0body", 9)); });
    auto http = NewHttp();
    char path[] = "/tmp/netvane-get-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::write(fd, "old content that is longer", 26);
    ::close(fd);

    EXPECT_EQ(http->Get(server.Url(), std::string(path)), 9u);
    std::string content(64, '\0');
    const int in = ::open(path, O_RDONLY);
    content.resize(static_cast<std::size_t>(::read(in, content.data(), content.size())));
    ::close(in);
    ::unlink(path);
    EXPECT_EQ(content, std::string("file\0body", 9)); // truncated first
}

TEST_F(Verbs, GetIntoAnUncreatableFileSendsNothing) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok("x"); });
    auto http = NewHttp();
    EXPECT_EQ(http->Get(server.Url(), std::string("/nonexistent-dir/sub/file.bin")), 0u);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Verbs, GetIntoAFileAnotherWriterHoldsSendsNothingAndKeepsIt) {
    ScriptedServer server([](const ReceivedRequest&) { return Ok("new"); });
    auto http = NewHttp();
    char path[] = "/tmp/netvane-held-XXXXXX";
    const int held = ::mkstemp(path);
    ASSERT_GE(held, 0);
    ::write(held, "kept", 4);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    EXPECT_EQ(http->Get(server.Url(), std::string(path)), 0u);
    EXPECT_TRUE(server.Requests().empty());
    struct stat info {};
    ::fstat(held, &info);
    EXPECT_EQ(info.st_size, 4);
    ::close(held);
    ::unlink(path);
}

TEST_F(Verbs, AFailedRequestYieldsEmptyResults) {
    std::uint16_t port = 0;
    {
        ScriptedServer gone([](const ReceivedRequest&) { return Ok(""); });
        port = gone.Port();
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    auto http = NewHttp();
    TMemoryStream stream;
    EXPECT_EQ(http->Get(url, cpNone), "");
    EXPECT_EQ(http->Post(url, "a=1", cpNone), "");
    EXPECT_EQ(http->Get(url, stream), 0u);
    EXPECT_EQ(http->RawHeader, "");
    EXPECT_FALSE(http->RequestHandle);
    EXPECT_FALSE(http->ConnectHandle);
}

// --- charset detection -----------------------------------------------------------------

TEST_F(Verbs, ContentDecodeChoosesTheCodePage) {
    const std::string utf8Zhong = "\xE4\xB8\xAD"; // 中 in UTF-8
    const std::string gbkZhong = "\xD6\xD0";      // 中 in GBK
    const std::string big5Zhong = "\xA4\xA4";     // 中 in Big5
    struct Case {
        const char* name;
        std::string contentType; // "" for no Content-Type header
        std::string body;
        TCodePage expected;
        std::string text;
    };
    const Case cases[] = {
        {"header charset wins over the body", "text/html; charset=GB2312",
         "<meta charset=utf-8>" + gbkZhong, cpGBK, "<meta charset=utf-8>" + gbkZhong},
        {"header utf-8", "text/html;Charset=UTF-8", utf8Zhong, cpUTF8, gbkZhong},
        {"header big5", "text/plain; charset=\"big5\"", big5Zhong, cpBig5, gbkZhong},
        {"header gb18030", "text/plain; charset=gb18030", gbkZhong, cpGBK, gbkZhong},
        {"header without charset, body meta", "text/html",
         "<html><META http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">" +
             utf8Zhong,
         cpUTF8,
         "<html><META http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">" +
             gbkZhong},
        {"quoted meta charset", "", "<meta charset=\"utf-8\">" + utf8Zhong, cpUTF8,
         "<meta charset=\"utf-8\">" + gbkZhong},
        {"single-quoted meta charset", "", "<meta charset='UTF-8'>" + utf8Zhong, cpUTF8,
         "<meta charset='UTF-8'>" + gbkZhong},
        {"charset inside another tag", "", "<p>charset=utf-8</p>" + utf8Zhong, cpNone,
         "<p>charset=utf-8</p>" + utf8Zhong},
        {"charset with no tag before it", "", "charset=utf-8 " + utf8Zhong, cpUTF8,
         "charset=utf-8 " + gbkZhong},
        {"utf8 without the hyphen", "text/html; charset=utf8", utf8Zhong, cpNone, utf8Zhong},
        {"unknown charset", "", "<meta charset=koi8-r>x", cpNone, "<meta charset=koi8-r>x"},
        {"no charset anywhere", "text/html", "<p>plain</p>", cpNone, "<p>plain</p>"},
        {"invalid utf-8 gives empty text", "text/html; charset=utf-8", gbkZhong, cpUTF8, ""},
    };
    // Each case is answered at "/<index>" with its Content-Type and body.
    ScriptedServer server([&](const ReceivedRequest& r) {
        const Case& c = cases[std::stoul(r.target.substr(1))];
        HeaderList headers = {{"Date", "Tue, 14 Feb 2017 15:53:11 GMT"}};
        if (!c.contentType.empty())
            headers.emplace_back("Content-Type", c.contentType);
        return Ok(c.body, headers);
    });
    auto http = NewHttp();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string url = server.Url("/" + std::to_string(i));
        // While the request is open, its own header decides, whatever the
        // caller did to RawHeader.
        ASSERT_TRUE(http->SendRequest(url, "GET", 0));
        ASSERT_TRUE(http->RecvReponse());
        http->RawHeader = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=big5\r\n\r\n";
        EXPECT_EQ(http->ContentDecode(c.body, cpAuto), c.text);
        EXPECT_EQ(http->CodePage, c.expected);
        http->DoRequestEnd(true);
        // Get decodes the answer it read.
        EXPECT_EQ(http->Get(url, cpAuto), c.text);
        EXPECT_EQ(http->CodePage, c.expected);
        // Called after the request ended, the head kept in RawHeader decides.
        EXPECT_EQ(http->ContentDecode(c.body, cpAuto), c.text);
        EXPECT_EQ(http->CodePage, c.expected);
    }
    // A code page other than cpAuto is used as given.
    EXPECT_EQ(http->ContentDecode(utf8Zhong, cpUTF8), gbkZhong);
    EXPECT_EQ(http->CodePage, cpUTF8);
    EXPECT_EQ(http->ContentDecode(utf8Zhong, cpNone), utf8Zhong);
    EXPECT_EQ(http->CodePage, cpNone);
}

TEST_F(Verbs, GetDecodesAUtf8AnswerIntoGbk) {
    ScriptedServer server([](const ReceivedRequest&) {
        return Ok(reinterpret_cast<const char*>(u8"提示"),
                  {{"Content-Type", "text/plain; charset=utf-8"}});
    });
    auto http = NewHttp();
    EXPECT_EQ(http->Get(server.Url(), cpAuto), Gbk(u8"提示"));
    EXPECT_EQ(http->CodePage, cpUTF8);
}

} // namespace
