// THTTP's static helpers: code pages, percent-encoding, substrings, URL
// splitting, HTTP dates and the per-user folders.
#include "CodePage.h"
#include "WinHttpClass.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using Winhttpclass::cpAuto;
using Winhttpclass::cpBig5;
using Winhttpclass::cpGBK;
using Winhttpclass::cpNone;
using Winhttpclass::cpUTF8;
using Winhttpclass::TCodePage;
using Winhttpclass::THTTP;

namespace {

std::string Bytes(const char* data, std::size_t size) {
    return std::string(data, size);
}

std::string Utf8(std::u8string_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// Days since 30 December 1899 plus a time of day.
double Serial(int days, int h, int m, int s) {
    return days + (h * 3600 + m * 60 + s) / 86400.0;
}

} // namespace

// ---- code pages -----------------------------------------------------------

TEST(CodePageEnc, ConvertsOnlyForUtf8AndBig5) {
    struct Case {
        std::string in;
        TCodePage cp;
        std::string out;
    };
    const std::string zhong = Gbk(u8"中");
    const Case cases[] = {
        {zhong, cpUTF8, "\xE4\xB8\xAD"},
        {zhong, cpBig5, "\xA4\xA4"},
        {zhong, cpNone, zhong},
        {zhong, cpGBK, zhong},
        {zhong, cpAuto, zhong},
        {zhong, static_cast<TCodePage>(9), zhong},
        {"abc", cpUTF8, "abc"},
        {"", cpUTF8, ""},
        {Bytes("a\0b", 3), cpUTF8, Bytes("a\0b", 3)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(THTTP::CodePageEnc(c.in, c.cp), c.out) << int(c.cp) << " " << c.in;
}

TEST(CodePageDec, Utf8DecodesWellFormedTextAndEmptiesMalformed) {
    struct Case {
        const char* what;
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"ascii", "abc", "abc"},
        {"empty", "", ""},
        {"two and three byte forms", Utf8(u8"é中文"), Gbk(u8"é中文")},
        {"NUL is a character", Bytes("a\0b", 3), Bytes("a\0b", 3)},
        {"no GBK form", Utf8(u8"aกb"), "a?b"},
        {"four byte form is one unmappable character",
         "a\xF0\x9F\x98\x80"
         "b",
         "a?b"},
        {"GBK bytes", Gbk(u8"中文"), ""},
        {"ends inside a sequence", "ab\xE4\xB8", ""},
        {"ends after a lead byte", "ab\xC3", ""},
        {"stray continuation byte",
         "a\x80"
         "b",
         ""},
        {"bad continuation", "\xE4\x41\xAD", ""},
        {"overlong slash", "\xC0\xAF", ""},
        {"overlong three byte form", "\xE0\x80\xAF", ""},
        {"surrogate", "\xED\xA0\x80", ""},
        {"past U+10FFFF", "\xF4\x90\x80\x80", ""},
        {"five byte lead", "\xF8\x88\x80\x80\x80", ""},
        {"0xFF", "\xFF", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(THTTP::CodePageDec(c.in, cpUTF8), c.out) << c.what;
}

TEST(CodePageDec, OtherCodePagesLeaveBytesAlone) {
    const std::string bytes = "\xFF\x80"
                              "a";
    for (const TCodePage cp : {cpNone, cpGBK, cpAuto, static_cast<TCodePage>(200)})
        EXPECT_EQ(THTTP::CodePageDec(bytes, cp), bytes) << int(cp);
}

TEST(CodePageBig5, RoundTripsAndMarksWhatBig5Lacks) {
    const std::string text = Gbk(u8"中文abc");
    const std::string big5 = THTTP::CodePageEnc(text, cpBig5);
    EXPECT_EQ(big5, "\xA4\xA4\xA4\xE5"
                    "abc");
    EXPECT_EQ(THTTP::CodePageDec(big5, cpBig5), text);
    // 们 is simplified only.
    EXPECT_EQ(THTTP::CodePageEnc(Gbk(u8"我们"), cpBig5), "\xA7\xDA?");
    // A lead byte with nothing after it.
    EXPECT_EQ(THTTP::CodePageDec("a\xA4", cpBig5), "a?");
}

// ---- percent-encoding -----------------------------------------------------

TEST(URLEnc, KeepsOnlyLettersAndDigits) {
    struct Case {
        std::string in;
        TCodePage cp;
        std::string out;
    };
    const Case cases[] = {
        {"a b-c", cpNone, "a%20b%2Dc"},
        {Gbk(u8"中"), cpUTF8, "%E4%B8%AD"},
        {Gbk(u8"中"), cpGBK, "%D6%D0"},
        {"AZaz09", cpNone, "AZaz09"},
        {".-_~&=+%/", cpNone, "%2E%2D%5F%7E%26%3D%2B%25%2F"},
        {Bytes("\0\xFF", 2), cpNone, "%00%FF"},
        {"", cpUTF8, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(THTTP::URLEnc(c.in, c.cp), c.out) << c.in;
}

TEST(URLDec, DecodesAndDropsBadEscapes) {
    struct Case {
        std::string in;
        TCodePage cp;
        std::string out;
    };
    const Case cases[] = {
        {"a+b%41%4", cpNone, "a bA\x04"},
        {"x%00y", cpNone, "xy"},
        {"x%G1y", cpNone, "xy"},
        {"x%1Gy", cpNone, "xy"},
        {"%%41", cpNone, "1"}, // "%4" is read by the first "%"
        {"abc%", cpNone, "abc"},
        {"%", cpNone, ""},
        {"%e4%b8%ad", cpUTF8, Gbk(u8"中")},
        {"%D6%D0", cpGBK, Gbk(u8"中")},
        {"%D6%D0", cpUTF8, ""}, // not UTF-8
        {"%E4%B8", cpUTF8, ""}, // truncated UTF-8
        {"%A4%A4", cpBig5, Gbk(u8"中")},
        {"", cpNone, ""},
        {"++", cpNone, "  "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(THTTP::URLDec(c.in, c.cp), c.out) << c.in;
}

TEST(URLDec, UndoesURLEncForEveryNonZeroByte) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(THTTP::URLDec(THTTP::URLEnc(all, cpNone), cpNone), all);
    const std::string text = Gbk(u8"学员 张三&x=1");
    EXPECT_EQ(THTTP::URLDec(THTTP::URLEnc(text, cpUTF8), cpUTF8), text);
}

// ---- substrings -----------------------------------------------------------

TEST(GetSubStr, TakesTheTextBetweenMarkers) {
    struct Case {
        std::string text, start, end, out;
    };
    const Case cases[] = {
        {"k=v;x", "k=", ";", "v"},  {"k=v", "k=", ";", ""}, {"abc", "", "", "abc"},
        {"abc", "z", "", ""},       {"abc", "a", "", "bc"}, {"abc", "", "c", "ab"},
        {"abcabc", "b", "b", "ca"}, {"k=;", "k=", ";", ""}, {"A=1", "a=", "", ""}, // case-sensitive
        {"", "a", "b", ""},         {"", "", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(THTTP::GetSubStr(c.text, c.start, c.end), c.out)
            << c.text << " | " << c.start << " | " << c.end;
}

TEST(GetSubStrEx, ReturnsWhatFollowsTheEndMarker) {
    struct Case {
        std::string text, start, end, out, rest;
    };
    const Case cases[] = {
        {"a\r\nb", "", "\r\n", "a", "b"},
        {"ab", "", "\r\n", "", "b"},
        {"xyz", "q", "z", "", "xyz"},
        {"k=v;x", "k=", "", "v;x", ""},
        {"k=v;x;y", "k=", ";", "v", "x;y"},
        {"k=vvv", "k=", "END", "", "v"},
        {"a", "", "\r\n\r\n", "", ""},
        {"", "", "\r\n", "", ""},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        std::string rest = "untouched";
        EXPECT_EQ(THTTP::GetSubStrEx(c.text, c.start, c.end, rest), c.out) << c.text;
        EXPECT_EQ(rest, c.rest) << c.text;
    }
}

// ---- URL splitting --------------------------------------------------------

TEST(CrackUrl, SplitsHttpAndHttpsUrls) {
    struct Case {
        std::u16string url, host, path;
        std::uint16_t port;
    };
    const Case cases[] = {
        {u"http://example.com", u"example.com", u"/", 80},
        {u"https://example.com/a/b?x=1&y=2", u"example.com", u"/a/b?x=1&y=2", 443},
        {u"http://127.0.0.1:8041/alogin", u"127.0.0.1", u"/alogin", 8041},
        {u"HTTPS://Host:1/", u"Host", u"/", 1},
        {u"http://h:65535?q=1", u"h", u"/?q=1", 65535},
        {u"http://h:080/", u"h", u"/", 80},
        {u"http://user:pw@h/p", u"h", u"/p", 80},
        {u"http://h/p?q#frag", u"h", u"/p?q", 80},
        {u"http://h#frag", u"h", u"/", 80},
        {u"http://[::1]:8080/x", u"::1", u"/x", 8080},
        {u"https://[2001:db8::1]/", u"2001:db8::1", u"/", 443},
        {u"http://学员.cn/中", u"学员.cn", u"/中", 80},
        {u"http://h/a@b:c", u"h", u"/a@b:c", 80},
    };
    for (const Case& c : cases) {
        std::u16string host, path;
        std::uint16_t port = 0;
        ASSERT_TRUE(THTTP::CrackUrl(c.url, host, path, port)) << tarvo::cp::Utf16ToGbk(c.url);
        EXPECT_EQ(host, c.host) << tarvo::cp::Utf16ToGbk(c.url);
        EXPECT_EQ(path, c.path) << tarvo::cp::Utf16ToGbk(c.url);
        EXPECT_EQ(port, c.port) << tarvo::cp::Utf16ToGbk(c.url);
    }
}

TEST(CrackUrl, RefusesWhatCannotBeSplitAndLeavesOutputsAlone) {
    const std::u16string longHost(256, u'a');
    const std::u16string longPath = u"/" + std::u16string(2047, u'p');
    const std::u16string bad[] = {
        u"",
        u"example.com/x",
        u"ftp://h/",
        u"http:/h",
        u"http//h/",
        u"http://",
        u"http:///p",
        u"http://:80/",
        u"http://u@/",
        u"http://h:0/",
        u"http://h:70000/",
        u"http://h:65536/",
        u"http://h:8a/",
        u"http://h:/",
        u"http://h:-1/",
        u"http://h:000080/",
        u"http://h:80:81/",
        u"http://[::1/",
        u"http://[]/",
        u"http://[abc]/",
        u"http://[::1]x/",
        u"http://[::1]:/",
        u"http://[::g]/",
        u"http://h p/",
        u"http://h/a b",
        u"http://h/a\r\nX-Evil: 1",
        u"http://h\\x/",
        u"http://" + longHost + u"/",
        u"http://h" + longPath,
    };
    for (const std::u16string& url : bad) {
        std::u16string host = u"host", path = u"path";
        std::uint16_t port = 7;
        EXPECT_FALSE(THTTP::CrackUrl(url, host, path, port)) << tarvo::cp::Utf16ToGbk(url);
        EXPECT_EQ(host, u"host");
        EXPECT_EQ(path, u"path");
        EXPECT_EQ(port, 7);
    }
}

TEST(CrackUrl, AcceptsTheLongestHostAndPath) {
    const std::u16string host255(255, u'a');
    const std::u16string path2047 = u"/" + std::u16string(2046, u'p');
    std::u16string host, path;
    std::uint16_t port = 0;
    ASSERT_TRUE(THTTP::CrackUrl(u"http://" + host255 + path2047, host, path, port));
    EXPECT_EQ(host, host255);
    EXPECT_EQ(path, path2047);
    // The fragment does not count towards the path.
    EXPECT_TRUE(THTTP::CrackUrl(u"http://h" + path2047 + u"#" + std::u16string(50, u'f'), host,
                                path, port));
}

TEST(CrackUrl, GivesSaneResultsForArbitraryInput) {
    // Random URLs made of the characters that matter to the parser.
    const std::u16string alphabet = u"hH:/[]@?#%.09 \r\x7F"
                                    u"学";
    const std::u16string prefixes[] = {u"http://", u"https://", u"HtTp://", u""};
    std::mt19937 rng(12345);
    for (int i = 0; i < 20000; ++i) {
        std::u16string url = prefixes[rng() % 4];
        const std::size_t n = rng() % 24;
        for (std::size_t k = 0; k < n; ++k)
            url += alphabet[rng() % alphabet.size()];
        std::u16string host, path;
        std::uint16_t port = 0;
        if (THTTP::CrackUrl(url, host, path, port)) {
            EXPECT_FALSE(host.empty()) << tarvo::cp::Utf16ToGbk(url);
            EXPECT_EQ(path.substr(0, 1), u"/") << tarvo::cp::Utf16ToGbk(url);
            EXPECT_EQ(path.find_first_of(u" \r#"), std::u16string::npos);
            EXPECT_NE(port, 0);
        }
    }
}

// ---- HTTP dates -----------------------------------------------------------

TEST(InternetTimeToBjTime, ReadsTheThreeHttpFormsAsBeijingTime) {
    struct Case {
        std::string text;
        double value;
    };
    const double feb14 = Serial(42780, 23, 53, 11); // 14 Feb 2017 23:53:11
    const Case cases[] = {
        {"Tue, 14 Feb 2017 15:53:11 GMT", feb14},
        {"Tuesday, 14-Feb-17 15:53:11 GMT", feb14},
        {"Tue Feb 14 15:53:11 2017", feb14},
        {"Sat Feb  4 15:53:11 2017", Serial(42770, 23, 53, 11)},
        {"Tue, 14-Feb-2017 15:53:11 GMT", feb14}, // the old cookie form
        {"Tue, 14 Feb 2017 15:53:11 ", feb14},    // cut before the zone
        {"tue, 14 FEB 2017 15:53:11 utc", feb14},
        {"14 Feb 2017 15:53:11 GMT", feb14}, // no weekday
        {"Sunday, 06-Nov-94 08:49:37 GMT", Serial(34644, 16, 49, 37)},
        {"Thu, 01-Jan-69 00:00:00 GMT", Serial(61729, 8, 0, 0)},
        {"Tue, 14 Feb 2017 20:00:00 GMT", Serial(42781, 4, 0, 0)}, // next day
        {"Mon, 29 Feb 2016 00:00:00 GMT", Serial(42429, 8, 0, 0)},
        {"Thu, 01 Jan 1970 00:00:00 GMT", Serial(25569, 8, 0, 0)},
        {"Sat, 30 Dec 1899 00:00:00 GMT", Serial(0, 8, 0, 0)},
        {"Fri, 31 Dec 9999 23:59:59 GMT", 2958465.99999},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(THTTP::InternetTimeToBjTime(c.text), c.value, 1e-6) << c.text;
}

TEST(InternetTimeToBjTime, JunkGivesZero) {
    const std::string junk[] = {
        "",
        "junk",
        "14",
        "Tue, 32 Jan 2017 00:00:00 GMT",
        "Tue, 29 Feb 2017 00:00:00 GMT",
        "Tue, 00 Feb 2017 00:00:00 GMT",
        "Tue, 14 Foo 2017 00:00:00 GMT",
        "Tue, 14 Feb 2017 24:00:00 GMT",
        "Tue, 14 Feb 2017 23:60:00 GMT",
        "Tue, 14 Feb 2017 15:53 GMT",
        "Tue, 14 Feb 2017 15:53:11 PST",
        "Tue, 14 Feb 2017 15:53:11 GMT extra",
        "Tue, 14 Feb 20170 15:53:11 GMT",
        "Tue, 14 Feb 201 15:53:11 GMT",
        "Tue, 14 Feb 1600 15:53:11 GMT",
        "Tue Feb 14 15:53:11",
        "Tue Feb 14 15:53:11 17",
        "Tue, 14-Feb 2017 15:53:11 GMT",
        "Blursday, 14 Feb 2017 15:53:11 GMT",
        std::string("Tue, 14 Feb\0 2017 15:53:11 GMT", 30),
        "Tue, 99999999999999999999 Feb 2017 15:53:11 GMT",
    };
    for (const std::string& text : junk)
        EXPECT_EQ(THTTP::InternetTimeToBjTime(text), 0.0) << text;
}

TEST(GetInternetTimeFromLocal, FormatsTheLocalClockAsAnHttpDate) {
    const std::time_t before = std::time(nullptr);
    const std::string text = THTTP::GetInternetTimeFromLocal();
    ASSERT_EQ(text.size(), 29u) << text;
    EXPECT_EQ(text.substr(3, 2), ", ");
    EXPECT_EQ(text.substr(25), " GMT");
    // Read back as UTC it is the local wall clock, 8 hours on.
    std::tm local{};
    localtime_r(&before, &local);
    const double expected =
        25569 + static_cast<double>(before + local.tm_gmtoff + 8 * 3600) / 86400.0;
    EXPECT_NEAR(THTTP::InternetTimeToBjTime(text), expected, 5.0 / 86400);
}

// ---- folders --------------------------------------------------------------

class Folders : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"TMPDIR", "HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
            const char* value = std::getenv(name);
            FSaved.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
        }
        char pattern[] = "/tmp/netvane-folders-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        FRoot = pattern;
    }
    void TearDown() override {
        for (const auto& [name, value] : FSaved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::error_code ec;
        std::filesystem::remove_all(FRoot, ec);
    }
    static bool IsPrivateDir(const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700;
    }

    std::string FRoot;
    std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

TEST_F(Folders, TempPathComesFromTmpdirOrTmp) {
    setenv("TMPDIR", FRoot.c_str(), 1);
    EXPECT_EQ(THTTP::GetTempPath(), FRoot + "/");
    setenv("TMPDIR", (FRoot + "/").c_str(), 1);
    EXPECT_EQ(THTTP::GetTempPath(), FRoot + "/");
    setenv("TMPDIR", (FRoot + "/missing").c_str(), 1);
    EXPECT_EQ(THTTP::GetTempPath(), "/tmp/");
    unsetenv("TMPDIR");
    EXPECT_EQ(THTTP::GetTempPath(), "/tmp/");
}

TEST_F(Folders, CacheAndCookieFoldersAreCreatedUnderXdgFolders) {
    setenv("XDG_CACHE_HOME", (FRoot + "/cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (FRoot + "/data").c_str(), 1);
    EXPECT_EQ(THTTP::GetIeTempPath(), FRoot + "/cache/netvane/");
    EXPECT_EQ(THTTP::GetCookiePath(), FRoot + "/data/netvane/cookies/");
    EXPECT_TRUE(IsPrivateDir(FRoot + "/cache/netvane"));
    EXPECT_TRUE(IsPrivateDir(FRoot + "/data/netvane/cookies"));
    // A second call finds them.
    EXPECT_EQ(THTTP::GetIeTempPath(), FRoot + "/cache/netvane/");
    EXPECT_EQ(THTTP::GetCookiePath(), FRoot + "/data/netvane/cookies/");
}

TEST_F(Folders, FallBackToTheHomeFolderWhenXdgIsUnsetOrRelative) {
    setenv("HOME", FRoot.c_str(), 1);
    unsetenv("XDG_CACHE_HOME");
    setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(THTTP::GetIeTempPath(), FRoot + "/.cache/netvane/");
    EXPECT_EQ(THTTP::GetCookiePath(), FRoot + "/.local/share/netvane/cookies/");
    EXPECT_TRUE(std::filesystem::is_directory(FRoot + "/.local/share/netvane/cookies"));
}

TEST_F(Folders, EmptyWhenTheFolderCannotBeMade) {
    const std::string file = FRoot + "/plain-file";
    std::ofstream(file) << "x";
    setenv("XDG_CACHE_HOME", file.c_str(), 1);
    setenv("XDG_DATA_HOME", file.c_str(), 1);
    EXPECT_EQ(THTTP::GetIeTempPath(), "");
    EXPECT_EQ(THTTP::GetCookiePath(), "");
}
