// THTTP's URL helpers: percent-encoding and decoding, and URL splitting.
#include "AsciiText.h"
#include "HexDigits.h"
#include "WinHttpClass.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace Winhttpclass {
namespace {

bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

using tarvo::ascii::StartsWithNoCase;

bool IsHostChar(char16_t c) {
    if (c <= 0x20 || c == 0x7F)
        return false;
    switch (c) {
    case u'/':
    case u'\\':
    case u'?':
    case u'#':
    case u'@':
    case u':':
    case u'[':
    case u']':
    case u'"':
    case u'<':
    case u'>':
    case u'^':
    case u'`':
    case u'{':
    case u'|':
    case u'}':
    case u'%':
        return false;
    default:
        return true;
    }
}

bool IsIpv6Char(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') ||
           c == u':' || c == u'.';
}

} // namespace

std::string THTTP::URLEnc(const std::string& text, TCodePage codePage) {
    const std::string bytes = CodePageEnc(text, codePage);
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsAsciiAlnum(c)) {
            out += ch;
        } else {
            out += '%';
            out += tarvo::hex::kUpperDigits[c >> 4];
            out += tarvo::hex::kUpperDigits[c & 0x0F];
        }
    }
    return out;
}

std::string THTTP::URLDec(const std::string& text, TCodePage codePage) {
    std::string bytes;
    bytes.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i++];
        if (c == '+') {
            bytes += ' ';
            continue;
        }
        if (c != '%') {
            bytes += c;
            continue;
        }
        // Up to two digits follow; a bad or zero value is dropped with them.
        const std::size_t take = std::min<std::size_t>(2, text.size() - i);
        int value = take > 0 ? 0 : -1;
        for (std::size_t k = 0; k < take; ++k) {
            const int digit = tarvo::hex::DigitValue(text[i + k]);
            if (digit < 0) {
                value = -1;
                break;
            }
            value = value * 16 + digit;
        }
        i += take;
        if (value >= 1 && value <= 255)
            bytes += static_cast<char>(value);
    }
    return CodePageDec(bytes, codePage);
}

bool THTTP::CrackUrl(const std::u16string& url, std::u16string& host, std::u16string& path,
                     std::uint16_t& port) {
    std::u16string_view u(url);
    std::uint16_t defaultPort = 0;
    if (StartsWithNoCase(u, u"http://")) {
        defaultPort = 80;
        u.remove_prefix(7);
    } else if (StartsWithNoCase(u, u"https://")) {
        defaultPort = 443;
        u.remove_prefix(8);
    } else {
        return false;
    }
    for (const char16_t c : u)
        if (c < 0x20 || c == 0x7F || c == u' ')
            return false; // would break the request line or inject headers

    // Authority: up to the path, the query or the fragment.
    const std::size_t authEnd = u.find_first_of(u"/?#");
    std::u16string_view authority = u.substr(0, authEnd);
    std::u16string_view tail =
        authEnd == std::u16string_view::npos ? std::u16string_view() : u.substr(authEnd);
    // User name and password are not sent; drop them.
    if (const std::size_t at = authority.rfind(u'@'); at != std::u16string_view::npos)
        authority.remove_prefix(at + 1);

    std::u16string_view hostPart;
    std::u16string_view portPart;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == u'[') {
        // IPv6 literal: the host is given without its brackets.
        const std::size_t close = authority.find(u']');
        if (close == std::u16string_view::npos)
            return false;
        hostPart = authority.substr(1, close - 1);
        if (hostPart.empty() || hostPart.find(u':') == std::u16string_view::npos)
            return false;
        for (const char16_t c : hostPart)
            if (!IsIpv6Char(c))
                return false;
        std::u16string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != u':')
                return false;
            hasPort = true;
            portPart = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(u':');
        hostPart = authority.substr(0, colon);
        if (colon != std::u16string_view::npos) {
            hasPort = true;
            portPart = authority.substr(colon + 1);
        }
        for (const char16_t c : hostPart)
            if (!IsHostChar(c))
                return false;
    }
    if (hostPart.empty() || hostPart.size() > 255)
        return false;

    std::uint16_t portValue = defaultPort;
    if (hasPort) {
        if (portPart.empty() || portPart.size() > 5)
            return false;
        std::uint32_t value = 0;
        for (const char16_t c : portPart) {
            if (c < u'0' || c > u'9')
                return false;
            value = value * 10 + static_cast<std::uint32_t>(c - u'0');
        }
        if (value < 1 || value > 65535)
            return false;
        portValue = static_cast<std::uint16_t>(value);
    }

    // Path and query; the fragment stays with the client.
    std::u16string pathValue(tail.substr(0, tail.find(u'#')));
    if (pathValue.empty() || pathValue.front() != u'/')
        pathValue.insert(pathValue.begin(), u'/');
    if (pathValue.size() > 2047)
        return false;

    host.assign(hostPart);
    path = std::move(pathValue);
    port = portValue;
    return true;
}

} // namespace Winhttpclass
