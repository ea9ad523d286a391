// TLS: when it is used, and that a certificate that does not verify fails the
// request. The client trusts a test CA made at run time through SSL_CERT_FILE.
#include "SessionTestSupport.h"

using namespace Winhttpclass;
using namespace testsupport;
using sessiontest::DebugCapture;
using sessiontest::Ok;

namespace {

class Tls : public sessiontest::ServerTest {
protected:
    static void SetUpTestSuite() {
        ca = std::make_unique<TestCa>();
        good = std::make_unique<TlsIdentity>(ca->Issue("DNS:localhost,IP:127.0.0.1"));
    }
    static void TearDownTestSuite() {
        good.reset();
        ca.reset();
    }
    void SetUp() override {
        ServerTest::SetUp();
        ::setenv("SSL_CERT_FILE", ca->CertFile().c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("SSL_CERT_FILE");
        ServerTest::TearDown();
    }

    static Options TlsOn(const TlsIdentity& identity, std::uint16_t port = 0) {
        Options o;
        o.tls = &identity;
        o.port = port;
        return o;
    }

    static std::unique_ptr<TestCa> ca;
    static std::unique_ptr<TlsIdentity> good;
};

std::unique_ptr<TestCa> Tls::ca;
std::unique_ptr<TlsIdentity> Tls::good;

Handler Echo() {
    return [](const ReceivedRequest& r) { return Ok("secure " + r.target); };
}

TEST_F(Tls, HttpsOnAnyPortIsEncryptedAndVerified) {
    ScriptedServer server(Echo(), TlsOn(*good));
    const std::string port = std::to_string(server.Port());
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        auto http = NewHttp();
        EXPECT_EQ(http->Get("https://" + host + ":" + port + "/p", cpNone), "secure /p");
        EXPECT_EQ(http->RawHeader.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
        EXPECT_EQ(server.Requests().back().Header("Host"), host + ":" + port);
    }
}

TEST_F(Tls, PlainSchemeOnAnotherPortIsNotEncrypted) {
    // A plain request to a TLS server gets no answer it can read.
    ScriptedServer server(Echo(), TlsOn(*good));
    auto http = NewHttp();
    http->SetTimeouts(2000, 2000, 2000, 2000);
    EXPECT_EQ(http->Get("http://127.0.0.1:" + std::to_string(server.Port()) + "/", cpNone), "");
    EXPECT_EQ(http->RawHeader, "");
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Tls, PlainSchemeOnPort443IsEncrypted) {
    std::unique_ptr<ScriptedServer> server;
    try {
        server = std::make_unique<ScriptedServer>(Echo(), TlsOn(*good, 443));
    } catch (const std::exception& e) {
        GTEST_SKIP() << "127.0.0.1:443 cannot be bound here: " << e.what();
    }
    auto http = NewHttp();
    EXPECT_EQ(http->Get("http://127.0.0.1:443/x", cpNone), "secure /x");
    EXPECT_EQ(server->Requests().at(0).Header("Host"), "127.0.0.1");
}

TEST_F(Tls, ACertificateThatDoesNotVerifyFailsTheRequest) {
    const TlsIdentity selfSigned = TestCa::SelfSigned("DNS:localhost,IP:127.0.0.1");
    TestCa otherCa("another CA");
    const TlsIdentity otherIssuer = otherCa.Issue("DNS:localhost,IP:127.0.0.1");
    const TlsIdentity wrongHost = ca->Issue("DNS:other.example,IP:127.0.0.2");
    struct Case {
        const char* name;
        const TlsIdentity* identity;
        const char* host;
    };
    const Case cases[] = {
        {"self-signed", &selfSigned, "127.0.0.1"},
        {"unknown issuer", &otherIssuer, "localhost"},
        {"wrong address", &wrongHost, "127.0.0.1"},
        {"wrong host name", &wrongHost, "localhost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(Echo(), TlsOn(*c.identity));
        auto http = NewHttp();
        DebugCapture debug;
        EXPECT_EQ(
            http->Get("https://" + std::string(c.host) + ":" + std::to_string(server.Port()) + "/",
                      cpNone),
            "");
        EXPECT_EQ(http->RawHeader, "");
        EXPECT_TRUE(server.Requests().empty());
        EXPECT_NE(debug.Text().find("SendRequest Fail! error:12175"), std::string::npos)
            << debug.Text();
    }
}

TEST_F(Tls, KeepAliveReusesTheTlsConnection) {
    ScriptedServer server(Echo(), TlsOn(*good));
    auto http = NewHttp();
    http->KeepAlive = true;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(http->Post(server.Url("/" + std::to_string(i)), "b=1", cpNone),
                  "secure /" + std::to_string(i));
    EXPECT_EQ(server.Connections(), 1);
}

} // namespace
