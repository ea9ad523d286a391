// The cookie store: Set-Cookie texts in, the Cookie header value out.
#include "CookieMgr_u.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using Cookiemgr_u::TCookieMgr;

namespace {

// An HTTP date `offset` seconds from now.
std::string HttpDateFromNow(long offset) {
    const std::time_t when = std::time(nullptr) + offset;
    std::tm utc{};
    gmtime_r(&when, &utc);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return buffer;
}

std::string Feed(const std::vector<std::string>& texts) {
    TCookieMgr store;
    for (const std::string& text : texts)
        store.AddCookieSrc(text);
    EXPECT_FALSE(store.Expired);
    return store.GetCookies();
}

} // namespace

TEST(CookieStore, TurnsCookieTextsIntoTheCookieHeader) {
    struct Case {
        const char* what;
        std::vector<std::string> texts;
        std::string header;
    };
    const Case cases[] = {
        {"session cookie as the program sets it", {"SID=0A1B2C;SType=1;"}, "SID=0A1B2C; SType=1"},
        {"attributes are dropped", {"a=1; Path=/; HttpOnly"}, "a=1"},
        {"two pairs", {"a=1; b=2"}, "a=1; b=2"},
        {"SameSite is a cookie here", {"a=1; SameSite=Lax"}, "a=1; SameSite=Lax"},
        {"names that begin with an attribute name", {"pathid=3; securetoken=4; c=5"}, "c=5"},
        {"every attribute name, any case",
         {"a=1; DOMAIN=x; Max-Age=10; Version=1; Secure; path=/; expires=x"},
         "a=1"},
        {"value keeps its equals signs", {"a=x=y"}, "a=x=y"},
        {"empty value removes", {"a=1", "a=;"}, ""},
        {"removal keeps the others in order", {"a=1; b=2; c=3", "b="}, "a=1; c=3"},
        {"past expiry removes", {"a=1", "a=2; expires=Thu, 01 Jan 1970 00:00:00 GMT"}, ""},
        {"far expiry keeps", {"a=1; expires=Fri, 31 Dec 9999 23:59:59 GMT"}, "a=1"},
        {"Expires with a capital is not examined",
         {"a=1", "a=2; Expires=Thu, 01 Jan 1970 00:00:00 GMT"},
         "a=2"},
        {"unreadable expiry counts as passed", {"a=1", "a=2; expires=garbage GMT"}, ""},
        {"old cookie date form is read",
         {"a=1", "a=2; expires=Fri, 31-Dec-2100 23:59:59 GMT"},
         "a=2"},
        {"names differ only in case: one entry, in place, new spelling",
         {"A=1", "b=2", "a=3"},
         "a=3; b=2"},
        {"nameless and bare pieces are ignored", {"=v; noequals; a=1"}, "a=1"},
        {"leading blanks and control characters trimmed", {" \t\x01 a=1;;  ;\r\nb=2"}, "a=1; b=2"},
        {"name is not trimmed at its end", {"a =1"}, "a =1"},
        {"trailing blanks stay in the value", {"a=1 "}, "a=1 "},
        {"nothing", {""}, ""},
        {"only separators", {";;;"}, ""},
        {"empty value never adds", {"a="}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Feed(c.texts), c.header) << c.what;
}

// Sets TZ for its life and puts the old value back.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            FOld = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (FOld)
            ::setenv("TZ", FOld->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::optional<std::string> FOld;
};

TEST(CookieStore, ExpiryIsJudgedAgainstTheCurrentTime) {
    // An hour either side of now, in zones east and west of Greenwich: a
    // date read as local time would move by eight hours in one of them.
    for (const char* zone : {"CST-8", "PST8PDT,M3.2.0,M11.1.0", "UTC0"}) {
        const TimeZone tz(zone);
        EXPECT_EQ(Feed({"a=1", "a=2; expires=" + HttpDateFromNow(-3600)}), "") << zone;
        EXPECT_EQ(Feed({"a=1", "a=2; expires=" + HttpDateFromNow(3600)}), "a=2") << zone;
        EXPECT_EQ(Feed({"a=1", "a=2; expires=" + HttpDateFromNow(-24 * 3600)}), "") << zone;
    }
}

TEST(CookieStore, ExpiryAppliesOnlyToItsOwnText) {
    TCookieMgr store;
    store.AddCookieSrc("a=1; b=2");
    store.AddCookieSrc("a=9; expires=Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_FALSE(store.Expired);
    store.AddCookieSrc("c=3");
    EXPECT_EQ(store.GetCookies(), "b=2; c=3");
}

TEST(CookieStore, AddCookieHonoursTheExpiredFlag) {
    TCookieMgr store;
    store.AddCookie("a=1");
    store.AddCookie("b=2");
    store.Expired = true;
    store.AddCookie("a=5");
    EXPECT_EQ(store.GetCookies(), "b=2");
    store.AddCookie("c=1"); // an expired cookie that was never stored
    EXPECT_EQ(store.GetCookies(), "b=2");
}

TEST(CookieStore, ListOperations) {
    TCookieMgr store;
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_EQ(store.GetCookies(), "");
    EXPECT_EQ(store.IndexOfName("a"), -1);
    store.AddCookieSrc("Abc=1; d=2");
    ASSERT_EQ(store.Count(), 2u);
    EXPECT_EQ(store.Strings(0), "Abc=1");
    EXPECT_EQ(store.Strings(1), "d=2");
    EXPECT_EQ(store.IndexOfName("ABC"), 0);
    EXPECT_EQ(store.IndexOfName("d"), 1);
    EXPECT_EQ(store.IndexOfName("ab"), -1); // a prefix is not the name
    EXPECT_EQ(store.IndexOfName("abcd"), -1);
    EXPECT_EQ(store.IndexOfName(""), -1);
    EXPECT_THROW(store.Strings(2), std::out_of_range);
    store.Clear();
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_EQ(store.GetCookies(), "");
}
