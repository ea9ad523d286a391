// Requests through a proxy: a named proxy and the environment's, the absolute
// URL of a plain request, the CONNECT tunnel of a TLS one, and credentials.
#include "SessionTestSupport.h"

using namespace Winhttpclass;
using namespace testsupport;
using sessiontest::Ok;

namespace {

class Proxy : public sessiontest::ServerTest {};

Handler Echo() {
    return [](const ReceivedRequest& r) {
        return Ok("origin " + r.method + " " + r.target + " " + r.body);
    };
}

TEST_F(Proxy, PlainRequestsNameTheAbsoluteUrl) {
    ScriptedServer origin(Echo());
    ForwardingProxy proxy;
    for (const std::string& named : {proxy.Address(), "http://" + proxy.Address()}) {
        SCOPED_TRACE(named);
        THTTP http(named, "", "", "");
        EXPECT_TRUE(http.UseProxy);
        EXPECT_EQ(http.Post(origin.Url("/p?q=1"), "a=1", cpNone), "origin POST /p?q=1 a=1");
        const auto seen = proxy.Requests().back();
        EXPECT_EQ(seen.method, "POST");
        EXPECT_EQ(seen.target, origin.Url("/p?q=1"));
        EXPECT_EQ(seen.Header("Host"), "127.0.0.1:" + std::to_string(origin.Port()));
        EXPECT_FALSE(seen.HasHeader("Proxy-Authorization"));
    }
}

TEST_F(Proxy, ANamedListServesEachSchemeWithItsFirstEntry) {
    ScriptedServer origin(Echo());
    ForwardingProxy first;
    ForwardingProxy second;
    const struct {
        std::string List;
        bool ThroughFirst; // else direct
    } cases[] = {
        {first.Address() + ";" + second.Address(), true},
        {" " + first.Address() + "  " + second.Address(), true},
        {"http=" + first.Address() + ";https=" + second.Address(), true},
        {"ftp=" + second.Address() + ";" + first.Address(), true},
        {"https=" + second.Address(), false}, // plain requests go direct
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.List);
        const auto firstBefore = first.Requests().size();
        const auto originBefore = origin.Requests().size();
        THTTP http(c.List, "", "", "");
        EXPECT_EQ(http.Get(origin.Url("/l"), cpNone), "origin GET /l ");
        EXPECT_EQ(first.Requests().size(), firstBefore + (c.ThroughFirst ? 1 : 0));
        EXPECT_EQ(origin.Requests().size(), originBefore + 1);
    }
    EXPECT_TRUE(second.Requests().empty());
}

TEST_F(Proxy, SendsBasicCredentials) {
    ScriptedServer origin(Echo());
    ForwardingProxy proxy("Basic dXNlcjpwQHNz"); // user:p@ss
    THTTP http(proxy.Address(), "user", "p@ss", "");
    EXPECT_EQ(http.Get(origin.Url("/x"), cpNone), "origin GET /x ");
    EXPECT_EQ(proxy.Requests().at(0).Header("Proxy-Authorization"), "Basic dXNlcjpwQHNz");
    // The origin never sees them.
    EXPECT_FALSE(origin.Requests().at(0).HasHeader("Proxy-Authorization"));

    THTTP anonymous(proxy.Address(), "", "", "");
    EXPECT_EQ(anonymous.Get(origin.Url("/x"), cpNone), "");
    EXPECT_EQ(anonymous.RawHeader.rfind("HTTP/1.1 407 ", 0), 0u);
}

TEST_F(Proxy, TlsGoesThroughAConnectTunnel) {
    TestCa ca;
    const TlsIdentity identity = ca.Issue("DNS:localhost,IP:127.0.0.1");
    ::setenv("SSL_CERT_FILE", ca.CertFile().c_str(), 1);
    Options options;
    options.tls = &identity;
    ScriptedServer origin(Echo(), options);
    ForwardingProxy proxy("Basic dXNlcjpwYXNz"); // user:pass
    THTTP http("http://" + proxy.Address(), "user", "pass", "");
    EXPECT_EQ(http.Get(origin.Url("/secret"), cpNone), "origin GET /secret ");
    ::unsetenv("SSL_CERT_FILE");

    const auto seen = proxy.Requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "CONNECT");
    EXPECT_EQ(seen[0].target, "127.0.0.1:" + std::to_string(origin.Port()));
    EXPECT_EQ(seen[0].Header("Proxy-Authorization"), "Basic dXNlcjpwYXNz");
    // Inside the tunnel the request names the path only, without credentials.
    ASSERT_EQ(origin.Requests().size(), 1u);
    EXPECT_EQ(origin.Requests()[0].target, "/secret");
    EXPECT_FALSE(origin.Requests()[0].HasHeader("Proxy-Authorization"));
}

TEST_F(Proxy, TheEnvironmentsProxyServesOtherHostsButNeverLoopback) {
    ScriptedServer origin(Echo());
    ForwardingProxy proxy;
    for (const char* variable : {"http_proxy", "HTTP_PROXY"}) {
        SCOPED_TRACE(variable);
        ClearProxyEnvironment();
        ::setenv(variable, ("http://" + proxy.Address() + "/").c_str(), 1);
        auto http = NewHttp();
        EXPECT_FALSE(http->UseProxy);
        const auto before = proxy.Requests().size();
        // Loopback goes direct.
        EXPECT_EQ(http->Get(origin.Url("/direct"), cpNone), "origin GET /direct ");
        EXPECT_EQ(proxy.Requests().size(), before);
        // Any other host goes to the proxy, which only forwards to loopback.
        EXPECT_EQ(http->Get("http://tarvo.invalid:8041/ahb", cpNone), "");
        ASSERT_EQ(proxy.Requests().size(), before + 1);
        EXPECT_EQ(proxy.Requests().back().target, "http://tarvo.invalid:8041/ahb");
        EXPECT_EQ(http->RawHeader.rfind("HTTP/1.1 502 ", 0), 0u);
    }
}

TEST_F(Proxy, HttpsUsesTheHttpsProxyVariable) {
    ForwardingProxy proxy;
    ForwardingProxy unused;
    ::setenv("HTTPS_PROXY", proxy.Address().c_str(), 1);
    ::setenv("http_proxy", unused.Address().c_str(), 1);
    auto http = NewHttp();
    EXPECT_EQ(http->Get("https://tarvo.invalid/x", cpNone), "");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].method, "CONNECT");
    EXPECT_EQ(proxy.Requests()[0].target, "tarvo.invalid:443");
    EXPECT_TRUE(unused.Requests().empty());
}

} // namespace
