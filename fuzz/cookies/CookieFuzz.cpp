// The cookie store on Set-Cookie texts, one per input line. A plain
// "name=value" text is stored as given. After the texts the store must hold
// distinct names (ignoring case), each entry a non-empty name, "=" and a
// non-empty value without ";", and the Cookie header must be the entries
// joined with "; ". Then a pair made from the input is stored, kept by a
// future expiry, and deleted by a past one and by an empty value.
// The store knows no hosts or paths: one Cookie header serves every URL.
//   cookies_fuzz -runs=10000000 fuzz/cookies/seeds CORPUS
#include "CookieMgr_u.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Cookiemgr_u::TCookieMgr;

constexpr std::array<std::string_view, 6> kAttributes = {"domain", "expires", "max-age",
                                                         "path",   "secure",  "version"};

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsAttribute(std::string_view piece) {
    for (const std::string_view a : kAttributes)
        if (StartsNoCase(piece, a))
            return true;
    return false;
}

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// The shape every store must have, each entry found by its own name.
void CheckStore(const TCookieMgr& store) {
    std::string joined;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < store.Count(); ++i) {
        const std::string& entry = store.Strings(i);
        const std::size_t eq = entry.find('=');
        Check(eq != std::string::npos && eq > 0 && eq + 1 < entry.size());
        Check(entry.find(';') == std::string::npos);
        Check(static_cast<unsigned char>(entry.front()) > 32);
        const std::string name = entry.substr(0, eq);
        Check(!IsAttribute(name));
        Check(store.IndexOfName(name) == static_cast<long>(i));
        names.push_back(name);
        for (char& c : names.back())
            c = Lower(c);
        if (i > 0)
            joined += "; ";
        joined += entry;
    }
    std::sort(names.begin(), names.end());
    Check(std::adjacent_find(names.begin(), names.end()) == names.end());
    Check(store.GetCookies() == joined);
    Check(!store.Expired);
}

// A text that the store must take as one pair, as it is.
bool IsPlainPair(std::string_view text) {
    const std::size_t eq = text.find('=');
    return eq != std::string_view::npos && eq > 0 && eq + 1 < text.size() &&
           text.find(';') == std::string_view::npos &&
           static_cast<unsigned char>(text.front()) > 32 && !IsAttribute(text) &&
           text.find("expires=") == std::string_view::npos;
}

// A name made from input bytes, in hexadecimal digits: no attribute, blank or
// "expires=" can spoil it.
std::string SafeName(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name = "z";
    for (const char c : bytes.substr(0, 8)) {
        name += kDigits[static_cast<unsigned char>(c) >> 4];
        name += kDigits[static_cast<unsigned char>(c) & 0x0F];
    }
    return name;
}

std::string SafeValue(std::string_view bytes) {
    std::string value = "v";
    for (const char c : bytes.substr(0, 24))
        if (c != ';' && c != '=') // no second "expires=" to read
            value += c;
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    TCookieMgr store;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos)
            end = input.size();
        const std::string line(input.substr(start, end - start));
        store.AddCookieSrc(line);
        if (IsPlainPair(line)) {
            const std::string name = line.substr(0, line.find('='));
            const long index = store.IndexOfName(name);
            Check(index >= 0 && store.Strings(static_cast<std::size_t>(index)) == line);
        }
        start = end + 1;
    }

    CheckStore(store);

    // A pair made from the input is stored, kept by a future expiry, and
    // deleted by a past one and by an empty value.
    const std::string name = SafeName(input);
    const std::string value = SafeValue(input.substr(input.size() / 2));
    const std::size_t before = store.Count();
    const bool had = store.IndexOfName(name) >= 0;
    store.AddCookieSrc(name + "=" + value + "; path=/");
    CheckStore(store);
    Check(store.Count() == before + (had ? 0 : 1));
    long index = store.IndexOfName(name);
    Check(index >= 0 && store.Strings(static_cast<std::size_t>(index)) == name + "=" + value);
    Check(store.GetCookies().find(name + "=" + value) != std::string::npos);

    store.AddCookieSrc(name + "=other; expires=Fri, 31-Dec-9999 23:59:59 GMT");
    CheckStore(store);
    index = store.IndexOfName(name);
    Check(index >= 0 && store.Strings(static_cast<std::size_t>(index)) == name + "=other");

    store.AddCookieSrc(name + "=gone; expires=Thu, 01 Jan 1970 00:00:00 GMT; HttpOnly");
    CheckStore(store);
    Check(store.IndexOfName(name) < 0);

    store.AddCookieSrc(name + "=back");
    store.AddCookie(name + "=");
    CheckStore(store);
    Check(store.IndexOfName(name) < 0);

    store.Clear();
    Check(store.Count() == 0 && store.GetCookies().empty());
    return 0;
}
