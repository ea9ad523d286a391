#include "platform/ProxyConfig.h"

#include "AsciiText.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>

namespace Winhttpclass::platform {
namespace {

using tarvo::ascii::Lower;
using tarvo::ascii::Trim;

// The first of the variables that is set and not empty.
std::string_view Env(const char* lower, const char* upper) {
    for (const char* name : {lower, upper})
        if (const char* value = std::getenv(name); value && *value)
            return value;
    return {};
}

} // namespace

bool ParseProxy(std::string_view text, ProxyServer& out) {
    text = Trim(text);
    if (const auto scheme = text.find("://"); scheme != std::string_view::npos)
        text.remove_prefix(scheme + 3);
    text = text.substr(0, text.find('/'));
    ProxyServer proxy;
    if (const auto at = text.rfind('@'); at != std::string_view::npos) {
        const std::string_view info = text.substr(0, at);
        const auto colon = info.find(':');
        proxy.user = std::string(info.substr(0, colon));
        if (colon != std::string_view::npos)
            proxy.password = std::string(info.substr(colon + 1));
        text.remove_prefix(at + 1);
    }
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos)
            return false;
        proxy.host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return false;
            port = rest.substr(1);
        }
    } else {
        const auto colon = text.find(':');
        proxy.host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos)
            port = text.substr(colon + 1);
    }
    if (proxy.host.empty() || proxy.host.find_first_of(" \t\r\n") != std::string::npos)
        return false;
    if (!port.empty()) {
        if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c));
            }))
            return false;
        const long value = std::strtol(std::string(port).c_str(), nullptr, 10);
        if (value <= 0 || value > 65535)
            return false;
        proxy.port = static_cast<std::uint16_t>(value);
    }
    out = proxy;
    return true;
}

bool IsLoopbackHost(std::string_view host) {
    const std::string h = Lower(host);
    if (h == "localhost" || h == "::1" || h == "[::1]")
        return true;
    in_addr addr{};
    return ::inet_pton(AF_INET, h.c_str(), &addr) == 1 && (ntohl(addr.s_addr) >> 24) == 127;
}

ProxyConfig ProxyConfig::FromEnvironment() {
    ProxyConfig config;
    ProxyServer proxy;
    if (ParseProxy(Env("http_proxy", "HTTP_PROXY"), proxy))
        config.FHttp = proxy;
    if (ParseProxy(Env("https_proxy", "HTTPS_PROXY"), proxy))
        config.FHttps = proxy;
    std::string_view list = Env("no_proxy", "NO_PROXY");
    while (!list.empty()) {
        const auto comma = list.find(',');
        std::string_view entry = Trim(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (entry == "*") {
            config.FNoProxyAll = true;
            continue;
        }
        while (!entry.empty() && entry.front() == '.')
            entry.remove_prefix(1);
        // "host:port" entries bypass the host whatever the port.
        if (entry.find(']') == std::string_view::npos && entry.find(':') == entry.rfind(':'))
            entry = entry.substr(0, entry.find(':'));
        if (!entry.empty())
            config.FNoProxy.push_back(Lower(entry));
    }
    return config;
}

bool ProxyConfig::Named(std::string_view text, ProxyConfig& out) {
    // A list as the Windows stack takes it: entries split by ';' or blanks,
    // each "[scheme=][scheme://]host[:port]"; an entry without a scheme
    // serves both; the first entry for a scheme counts, others (ftp=, socks=)
    // are passed over.
    std::optional<ProxyServer> any, http, https;
    while (!text.empty()) {
        const auto end = text.find_first_of("; \t");
        std::string_view entry = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (entry.empty())
            continue;
        std::string scheme;
        if (const auto eq = entry.find('='); eq != std::string_view::npos) {
            scheme = Lower(entry.substr(0, eq));
            entry.remove_prefix(eq + 1);
        }
        ProxyServer proxy;
        if (!ParseProxy(entry, proxy))
            return false;
        proxy.user.clear();
        proxy.password.clear();
        std::optional<ProxyServer>* slot = nullptr;
        if (scheme.empty())
            slot = &any;
        else if (scheme == "http")
            slot = &http;
        else if (scheme == "https")
            slot = &https;
        if (slot && !*slot)
            *slot = proxy;
    }
    if (!any && !http && !https)
        return false;
    out = ProxyConfig();
    out.FNamed = true;
    out.FHttp = http ? http : any;
    out.FHttps = https ? https : any;
    return true;
}

std::optional<ProxyServer> ProxyConfig::For(std::string_view host, bool secure) const {
    if (FNamed)
        return secure ? FHttps : FHttp;
    const auto& proxy = secure ? FHttps : FHttp;
    if (!proxy || FNoProxyAll || IsLoopbackHost(host))
        return std::nullopt;
    const std::string h = Lower(host);
    for (const auto& entry : FNoProxy)
        if (h == entry || (h.size() > entry.size() && h.ends_with(entry) &&
                           h[h.size() - entry.size() - 1] == '.'))
            return std::nullopt;
    return proxy;
}

} // namespace Winhttpclass::platform
