// The request body builders: URL-encoded pairs and multipart/form-data.
#include "CodePage.h"
#include "LoopbackServer.h"
#include "WinHttpClass.h"

#include <climits>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using Winhttpclass::cpGBK;
using Winhttpclass::cpNone;
using Winhttpclass::cpUTF8;
using Winhttpclass::EAssertionFailed;
using Winhttpclass::TBytes;
using Winhttpclass::TCodePage;
using Winhttpclass::TMultipartData;
using Winhttpclass::TUrlEncodedData;

namespace {

std::string Text(const TBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

const std::string kDelimiter = "-----------------------------7da30d3390726\r\n";
const std::string kClosing = "-----------------------------7da30d3390726--\r\n";

std::string TextPart(const std::string& name, const std::string& value) {
    return kDelimiter + "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

} // namespace

// ---- TUrlEncodedData ------------------------------------------------------

TEST(UrlEncodedData, BuildsTheBodyFromPairs) {
    using Fill = std::function<void(TUrlEncodedData&)>;
    struct Case {
        const char* what;
        TCodePage cp;
        bool encode;
        Fill fill;
        std::string body;
    };
    const Case cases[] = {
        {"payload field", cpNone, true, [](auto& d) { d.Put("data", "0A1B2C"); }, "data=0A1B2C&"},
        {"login fields in order", cpNone, true,
         [](auto& d) { d.Put("username", "13800138000").Put("data", "FF00"); },
         "username=13800138000&data=FF00&"},
        {"space, ampersand and equals are escaped", cpNone, true,
         [](auto& d) { d.Put("v", "a b&c=d"); }, "v=a%20b%26c%3Dd&"},
        {"same name in other case replaces in place", cpNone, true,
         [](auto& d) { d.Put("A", "1").Put("b", "2").Put("a", "3"); }, "a=3&b=2&"},
        {"empty value removes", cpNone, true,
         [](auto& d) { d.Put("x", "1").Put("y", "2").Put("X", ""); }, "y=2&"},
        {"empty value on its own adds nothing", cpNone, true, [](auto& d) { d.Put("x", ""); }, ""},
        {"no pairs", cpNone, true, [](auto&) {}, ""},
        {"numbers are not escaped", cpNone, true,
         [](auto& d) { d.Put("z", 0).Put("n", -5).Put("m", INT_MIN); }, "z=0&n=-5&m=-2147483648&"},
        {"number replaces text of the same name", cpNone, true,
         [](auto& d) { d.Put("n", "x").Put("N", 7); }, "N=7&"},
        {"names are never escaped", cpNone, true, [](auto& d) { d.Put("a b", "1"); }, "a b=1&"},
        {"raw values", cpNone, false, [](auto& d) { d.Put("v", "a b&c"); }, "v=a b&c&"},
        {"UTF-8 escapes", cpUTF8, true, [](auto& d) { d.Put("k", Gbk(u8"中文")); },
         "k=%E4%B8%AD%E6%96%87&"},
        {"GBK escapes", cpGBK, true, [](auto& d) { d.Put("k", Gbk(u8"中")); }, "k=%D6%D0&"},
        {"raw GBK stays GBK", cpGBK, false, [](auto& d) { d.Put("k", Gbk(u8"中")); },
         "k=" + Gbk(u8"中") + "&"},
        {"raw UTF-8 converts the whole body", cpUTF8, false,
         [](auto& d) { d.Put(Gbk(u8"名"), Gbk(u8"中")).Put("b", "1"); },
         "\xE5\x90\x8D=\xE4\xB8\xAD&b=1&"},
    };
    for (const Case& c : cases) {
        TUrlEncodedData data(c.cp, c.encode);
        c.fill(data);
        EXPECT_EQ(data.ToString(), c.body) << c.what;
    }
}

TEST(UrlEncodedData, JoinedIsTheBodyBeforeConversion) {
    TUrlEncodedData data(cpUTF8, false);
    data.Put(Gbk(u8"名"), Gbk(u8"中"));
    EXPECT_EQ(data.Joined(), Gbk(u8"名") + "=" + Gbk(u8"中") + "&");
    EXPECT_EQ(data.ToString(), "\xE5\x90\x8D=\xE4\xB8\xAD&");
    // With escaped values both are the same.
    TUrlEncodedData escaped(cpUTF8, true);
    escaped.Put("k", Gbk(u8"中"));
    EXPECT_EQ(escaped.Joined(), escaped.ToString());
}

TEST(UrlEncodedData, PutReturnsTheSameObject) {
    TUrlEncodedData data(cpNone, true);
    EXPECT_EQ(&data.Put("a", "1"), &data);
    EXPECT_EQ(&data.Put("b", 2), &data);
    EXPECT_EQ(data.Items, (std::vector<std::string>{"a=1", "b=2"}));
}

// ---- TMultipartData -------------------------------------------------------

TEST(MultipartData, TextFieldIsLaidOutExactly) {
    TMultipartData data(cpNone);
    data.Add("k", "v");
    EXPECT_EQ(Text(data.Body), TextPart("k", "v"));
    EXPECT_FALSE(data.Closed);
    EXPECT_EQ(Text(data.Data()), TextPart("k", "v") + kClosing);
    EXPECT_TRUE(data.Closed);
}

TEST(MultipartData, FileBytesAreCarriedUnchanged) {
    const TBytes photo = {'B', 'M', 0x00, 0x0D, 0x0A, 0xFF, 0x00, 0x0D, 0x0A, 0x0D, 0x0A, 0xD6};
    for (const TCodePage cp : {cpNone, cpUTF8}) {
        TMultipartData data(cp);
        data.Add("photo", "a.bmp", "image/bmp", photo);
        const std::string expected =
            kDelimiter +
            "Content-Disposition: form-data; name=\"photo\"; filename=\"a.bmp\"\r\n"
            "Content-Type: image/bmp\r\n\r\n" +
            Text(photo) + "\r\n" + kClosing;
        EXPECT_EQ(Text(data.Data()), expected) << int(cp);
    }
}

TEST(MultipartData, FieldsFollowOneAnother) {
    TMultipartData data(cpNone);
    data.Add("stuname", Gbk(u8"张三")).Add("count", 0).Add("neg", -12);
    data.Add("f", "", "", TBytes{});
    data.Add("q\"x", "a\r\nb"); // no quoting or escaping
    const std::string expected =
        TextPart("stuname", Gbk(u8"张三")) + TextPart("count", "0") + TextPart("neg", "-12") +
        kDelimiter +
        "Content-Disposition: form-data; name=\"f\"; filename=\"\"\r\nContent-Type: \r\n\r\n\r\n" +
        TextPart("q\"x", "a\r\nb") + kClosing;
    EXPECT_EQ(Text(data.Data()), expected);
}

TEST(MultipartData, Utf8ConvertsTheTextPieces) {
    TMultipartData data(cpUTF8);
    data.Add(Gbk(u8"名"), Gbk(u8"中文"));
    EXPECT_EQ(Text(data.Data()), TextPart("\xE5\x90\x8D", "\xE4\xB8\xAD\xE6\x96\x87") + kClosing);
}

TEST(MultipartData, DataClosesOnceAndOnlyANonEmptyBody) {
    TMultipartData empty(cpNone);
    EXPECT_TRUE(empty.Data().empty());
    EXPECT_FALSE(empty.Closed);
    empty.Add("k", "v"); // still open
    EXPECT_EQ(Text(empty.Data()), TextPart("k", "v") + kClosing);

    TMultipartData data(cpNone);
    data.Add("k", "v");
    const TBytes first = data.Data();
    EXPECT_EQ(data.Data(), first);
    // Append still works after closing, and adds no second closing line.
    data.Append("tail");
    EXPECT_EQ(Text(data.Data()), Text(first) + "tail");
}

TEST(MultipartData, AddOnAClosedBodyFailsAndChangesNothing) {
    TMultipartData data(cpNone);
    data.Add("k", "v");
    const TBytes closed = data.Data();
    const std::function<void()> adds[] = {
        [&] { data.Add("a", "b"); },
        [&] { data.Add("n", 1); },
        [&] {
            data.Add("f", "a.bmp", "image/bmp", TBytes{1, 2});
        },
    };
    for (const auto& add : adds) {
        try {
            add();
            ADD_FAILURE() << "no error raised";
        } catch (const EAssertionFailed& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind("Assertion failure (", 0), 0u) << message;
            EXPECT_NE(message.find("FormData.cpp, line "), std::string::npos) << message;
        }
        EXPECT_EQ(data.Body, closed);
    }
}

TEST(MultipartData, AppendTakesTextAndRawBytes) {
    TMultipartData data(cpUTF8);
    data.Append("");
    EXPECT_TRUE(data.Body.empty());
    data.Append(Gbk(u8"中"));
    const char raw[] = {'\xD6', '\xD0', '\0'};
    data.Append(raw, 3);
    data.Append(raw, 0);
    data.Append(raw, -1);
    data.Append(nullptr, 5);
    EXPECT_EQ(Text(data.Body), std::string("\xE4\xB8\xAD\xD6\xD0\0", 6));
}

// ---- the Post overloads ---------------------------------------------------

namespace {

// Answers the first request with a redirect and every later one with "done".
testsupport::ScriptedServer RedirectingServer() {
    return testsupport::ScriptedServer([](const testsupport::ReceivedRequest& r) {
        if (r.target == "/form")
            return testsupport::HttpResponse(302, "Found", "", {{"Location", "/next"}});
        return testsupport::HttpResponse(200, "OK", "done");
    });
}

} // namespace

TEST(FormPost, UrlEncodedBodyGoesOutUnconvertedAndRedirectSettingIsRestored) {
    testsupport::ClearProxyEnvironment();
    for (const bool follow : {false, true}) {
        testsupport::ScriptedServer server = RedirectingServer();
        Winhttpclass::THTTP http("", "", "", "");
        http.AutoRedirect = !follow;
        TUrlEncodedData data(cpUTF8, false);
        data.Put("k", Gbk(u8"中"));
        const std::string answer = http.Post(server.Url("/form"), data, follow, cpNone);
        EXPECT_EQ(http.AutoRedirect, !follow);
        const auto requests = server.Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].body, "k=" + Gbk(u8"中") + "&");
        EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_EQ(requests.size(), follow ? 2u : 1u);
        EXPECT_EQ(answer, follow ? "done" : "");
    }
}

TEST(FormPost, MultipartBodyIsClosedSentAndRedirectSettingIsRestored) {
    testsupport::ClearProxyEnvironment();
    for (const bool follow : {false, true}) {
        testsupport::ScriptedServer server = RedirectingServer();
        Winhttpclass::THTTP http("", "", "", "");
        http.AutoRedirect = !follow;
        TMultipartData data(cpNone);
        data.Add("k", "v");
        http.Post(server.Url("/form"), data, follow, cpNone);
        EXPECT_EQ(http.AutoRedirect, !follow);
        EXPECT_TRUE(data.Closed);
        const auto requests = server.Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].body, TextPart("k", "v") + kClosing);
        EXPECT_EQ(requests.size(), follow ? 2u : 1u);
        // The head names the boundary that delimits the body.
        const std::string type = requests[0].Header("Content-Type");
        EXPECT_EQ(type, "multipart/form-data; boundary=---------------------------7da30d3390726");
        const std::string boundary = type.substr(type.find("boundary=") + 9);
        EXPECT_EQ(requests[0].body.rfind("--" + boundary + "\r\n", 0), 0u);
        EXPECT_TRUE(requests[0].body.ends_with("\r\n--" + boundary + "--\r\n"));
        // The type is this request's own: the next post goes out URL-encoded.
        http.Post(server.Url("/plain"), "a=1", cpNone);
        const auto after = server.Requests();
        ASSERT_EQ(after.size(), requests.size() + 1);
        EXPECT_EQ(after.back().Header("Content-Type"), "application/x-www-form-urlencoded");
    }
}

TEST(FormPost, FailedRequestStillRestoresTheRedirectSetting) {
    Winhttpclass::THTTP http("", "", "", "");
    TUrlEncodedData form(cpNone, true);
    form.Put("a", "1");
    TMultipartData multipart(cpNone);
    EXPECT_EQ(http.Post("ftp://nowhere/", form, false, cpNone), "");
    EXPECT_TRUE(http.AutoRedirect);
    EXPECT_EQ(http.Post("ftp://nowhere/", multipart, false, cpNone), "");
    EXPECT_TRUE(http.AutoRedirect);
}
