// netvane's static URL, date and code page helpers on arbitrary texts. The
// first two bytes give the lengths of a start and an end mark that follow;
// the rest is the text, also read as a URL and as a date.
//   - URL encoding is decoded back to the text (zero bytes aside); with UTF-8
//     and Big5 too when the text converts without replacement.
//   - Conversions only ever give well-formed text of their target code page.
//   - A URL that cracks cracks again, to the same parts, when rebuilt from them.
//   - A date is 0 or in range; a date's three forms read the same, and one
//     second or one day later reads that much later.
//   - GetSubStrEx agrees with GetSubStr, and the marks frame the result.
//   urltext_fuzz -runs=10000000 fuzz/urltext/seeds CORPUS
#include "CodePage.h"
#include "FuncLib.h"
#include "WinHttpClass.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

using Winhttpclass::THTTP;
namespace cp = tarvo::cp;

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

std::string NoZeros(std::string_view text) {
    std::string out;
    for (const char c : text)
        if (c != '\0')
            out += c;
    return out;
}

void CodePages(const std::string& text) {
    // As GBK text.
    const std::string utf8 = THTTP::CodePageEnc(text, Winhttpclass::cpUTF8);
    const std::string big5 = Funclib::BIG5Encode(text);
    Check(cp::IsValid(utf8, cp::kUtf8));
    Check(cp::IsValid(big5, cp::kBig5));
    Check(THTTP::CodePageEnc(text, Winhttpclass::cpGBK) == text);
    // As UTF-8 or Big5 text on the wire.
    const std::string fromUtf8 = THTTP::CodePageDec(text, Winhttpclass::cpUTF8);
    const std::string fromBig5 = Funclib::BIG5Decode(text);
    Check(cp::IsValid(fromUtf8, cp::kGbk));
    Check(cp::IsValid(fromBig5, cp::kGbk));
    if (!cp::IsValid(text, cp::kUtf8))
        Check(fromUtf8.empty());

    const std::string plain = NoZeros(text);
    Check(THTTP::URLDec(THTTP::URLEnc(text, Winhttpclass::cpNone), Winhttpclass::cpNone) == plain);
    Check(THTTP::URLDec(text, Winhttpclass::cpNone).size() <= text.size());

    bool clean = true;
    (void)cp::Convert(plain, cp::kGbk, cp::kUtf8, &clean);
    if (clean) {
        Check(THTTP::CodePageDec(THTTP::CodePageEnc(plain, Winhttpclass::cpUTF8),
                                 Winhttpclass::cpUTF8) == plain);
        Check(THTTP::URLDec(THTTP::URLEnc(plain, Winhttpclass::cpUTF8), Winhttpclass::cpUTF8) ==
              plain);
    }
    clean = true;
    (void)cp::Convert(plain, cp::kGbk, cp::kBig5, &clean);
    if (clean) {
        Check(Funclib::BIG5Decode(Funclib::BIG5Encode(plain)) == plain);
        Check(THTTP::URLDec(THTTP::URLEnc(plain, Winhttpclass::cpBig5), Winhttpclass::cpBig5) ==
              plain);
    }
}

// Bytes below 0x80 are one unit each; a higher byte and the next form one.
std::u16string Wide(std::string_view bytes) {
    std::u16string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80 || i + 1 == bytes.size()) {
            out += static_cast<char16_t>(b);
        } else {
            out += static_cast<char16_t>((b << 8) | static_cast<unsigned char>(bytes[++i]));
        }
    }
    return out;
}

bool StartsNoCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

void Url(std::string_view bytes) {
    const std::u16string url = Wide(bytes);
    std::u16string host;
    std::u16string path;
    std::uint16_t port = 0;
    if (!THTTP::CrackUrl(url, host, path, port))
        return;
    const bool https = StartsNoCase(url, u"https://");
    Check(https || StartsNoCase(url, u"http://"));
    Check(!host.empty() && host.size() <= 255 && port != 0);
    Check(!path.empty() && path.front() == u'/' && path.size() <= 2047);
    Check(path.find(u'#') == std::u16string::npos);
    for (const std::u16string* part : {&host, &path})
        for (const char16_t c : *part)
            Check(c > 0x20 && c != 0x7F);
    const bool ipv6 = host.find(u':') != std::u16string::npos;
    Check(host.find_first_of(u"/?#@") == std::u16string::npos);

    std::u16string again = https ? u"https://" : u"http://";
    again += ipv6 ? u"[" + host + u"]" : host;
    again += u":";
    for (const char c : std::to_string(port))
        again += static_cast<char16_t>(c);
    again += path;
    std::u16string host2;
    std::u16string path2;
    std::uint16_t port2 = 0;
    Check(THTTP::CrackUrl(again, host2, path2, port2));
    Check(host2 == host && path2 == path && port2 == port);
}

// Earliest readable date (1 January 1601, 08:00 in UTC+8) and the latest value.
constexpr double kMinDate = -109205.0;
constexpr double kMaxDate = 2958465.99999;

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Moment {
    int year, month, day, hour, minute, second;
};

std::string Rfc1123(const Moment& m) {
    std::array<char, 64> b{};
    std::snprintf(b.data(), b.size(), "Sun, %02d %s %04d %02d:%02d:%02d GMT", m.day,
                  kMonths[static_cast<std::size_t>(m.month - 1)], m.year, m.hour, m.minute,
                  m.second);
    return b.data();
}

std::string Dashed(const Moment& m) {
    std::array<char, 64> b{};
    std::snprintf(b.data(), b.size(), "%02d-%s-%04d %02d:%02d:%02d", m.day,
                  kMonths[static_cast<std::size_t>(m.month - 1)], m.year, m.hour, m.minute,
                  m.second);
    return b.data();
}

std::string Asctime(const Moment& m) {
    std::array<char, 64> b{};
    std::snprintf(b.data(), b.size(), "Monday %s %2d %02d:%02d:%02d %04d",
                  kMonths[static_cast<std::size_t>(m.month - 1)], m.day, m.hour, m.minute, m.second,
                  m.year);
    return b.data();
}

double Read(const std::string& text) {
    return THTTP::InternetTimeToBjTime(text);
}

void Dates(std::string_view bytes) {
    const double any = Read(std::string(bytes));
    Check(any == 0 || (any >= kMinDate && any <= kMaxDate));

    if (bytes.size() < 7)
        return;
    const auto u = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const Moment m{1601 + static_cast<int>((u(0) << 8 | u(1)) % 8399),
                   1 + u(2) % 12,
                   1 + u(3) % 31,
                   u(4) % 24,
                   u(5) % 60,
                   u(6) % 60};
    const double value = Read(Rfc1123(m));
    Check(Read(Dashed(m)) == value && Read(Asctime(m)) == value);
    if (m.year >= 1970 && m.year <= 2069) {
        std::string twoDigit = Dashed(m);
        twoDigit.erase(7, 2); // "dd-Mon-yy ..."
        Check(Read("Friday, " + twoDigit + " GMT") == value);
    }
    if (m.day > 28)
        return; // may be no date of the month
    Check(value != 0 && value >= kMinDate && value <= kMaxDate);
    if (m.year == 9999)
        return; // near the cap
    Moment later = m;
    if (m.day < 28) {
        later.day += 1;
        Check(std::fabs(Read(Rfc1123(later)) - value - 1.0) < 1e-6);
    }
    if (m.second < 59) {
        later = m;
        later.second += 1;
        Check(std::fabs(Read(Rfc1123(later)) - value - 1.0 / 86400) < 1e-9);
    }
}

void Marks(const std::string& text, const std::string& start, const std::string& end) {
    const std::string found = THTTP::GetSubStr(text, start, end);
    std::string rest = "unset";
    Check(THTTP::GetSubStrEx(text, start, end, rest) == found);
    Check(rest.size() <= text.size());
    if (!found.empty()) {
        const std::string framed = start + found + end + (end.empty() ? std::string() : rest);
        Check(text.find(framed) != std::string::npos);
        Check(text.compare(text.size() - framed.size(), framed.size(), framed) == 0);
        if (!end.empty())
            Check(found.find(end) == std::string::npos);
    }
    Check(Funclib::GetSubStr(text, start, end) == found);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::size_t startLength = data[0] % 8;
    const std::size_t endLength = data[1] % 8;
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string start(rest.substr(0, startLength));
    const std::string end(rest.substr(start.size(), endLength));
    const std::string text(rest.substr(start.size() + end.size()));
    CodePages(text);
    Url(text);
    Dates(text);
    Marks(text, start, end);
    return 0;
}
