// Which proxy a request goes through: a named proxy for everything, or the
// environment's http_proxy / https_proxy / no_proxy (either letter case).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Winhttpclass::platform {

struct ProxyServer {
    std::string host;
    std::uint16_t port = 80;
    std::string user; // from a "user:password@" part of an environment URL
    std::string password;
};

// "host", "host:port", "http://host:port/" (and "user:password@" before the
// host); false when no host or a bad port.
bool ParseProxy(std::string_view text, ProxyServer& out);

// True for localhost, 127.0.0.0/8 and ::1.
bool IsLoopbackHost(std::string_view host);

class ProxyConfig {
public:
    static ProxyConfig FromEnvironment();
    // A named proxy (or a list of them) with no bypass list; false when the
    // text cannot be used.
    static bool Named(std::string_view text, ProxyConfig& out);

    // The proxy for a request to `host`, none for a direct connection.
    std::optional<ProxyServer> For(std::string_view host, bool secure) const;

private:
    bool FNamed = false;
    std::optional<ProxyServer> FHttp;
    std::optional<ProxyServer> FHttps;
    std::vector<std::string> FNoProxy; // lower case, without a leading "."
    bool FNoProxyAll = false;
};

} // namespace Winhttpclass::platform
