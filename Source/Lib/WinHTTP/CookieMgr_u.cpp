#include "CookieMgr_u.h"

#include "AsciiText.h"
#include "HttpDate.h"
#include "TextMarks.h"

#include <array>
#include <ctime>
#include <string_view>

namespace Cookiemgr_u {
namespace {

// Pieces of a Set-Cookie text that are attributes, not cookies.
constexpr std::array<std::string_view, 6> kIgnoredAttributes = {"domain", "expires", "max-age",
                                                                "path",   "secure",  "version"};

using tarvo::ascii::StartsWithNoCase;

std::string_view NameOf(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

// Now as a date-time value in UTC+8, the frame InternetTimeToBjTime returns.
double BjNow() {
    const auto seconds = static_cast<double>(std::time(nullptr)) + 8 * 3600.0;
    return 25569.0 + seconds / 86400.0;
}

} // namespace

TCookieMgr::~TCookieMgr() = default;

long TCookieMgr::IndexOfName(const std::string& name) const {
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        const std::string_view entryName = NameOf(FItems[i]);
        if (entryName.size() == name.size() && StartsWithNoCase(entryName, name))
            return static_cast<long>(i);
    }
    return -1;
}

void TCookieMgr::AddCookie(const std::string& piece) {
    for (const std::string_view attribute : kIgnoredAttributes)
        if (StartsWithNoCase(piece, attribute))
            return;
    const std::size_t p = piece.find('=');
    if (p == std::string::npos || p == 0)
        return;
    const std::string name = piece.substr(0, p);
    const std::string value = Expired ? std::string() : piece.substr(p + 1);
    const long index = IndexOfName(name);
    if (!value.empty()) {
        std::string entry = name + "=" + value;
        if (index >= 0)
            FItems[static_cast<std::size_t>(index)] = std::move(entry);
        else
            FItems.push_back(std::move(entry));
    } else if (index >= 0) {
        FItems.erase(FItems.begin() + index);
    }
}

void TCookieMgr::AddCookieSrc(const std::string& text) {
    // An expiry date that has passed (or cannot be read) deletes the cookie.
    const std::string expires = Winhttpclass::detail::SubStrBetween(text, "expires=", "GMT");
    Expired = !expires.empty() && BjNow() > Winhttpclass::detail::HttpDateToBjTime(expires);

    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view piece(text.data() + start, end - start);
        if (!piece.empty()) {
            while (!piece.empty() && static_cast<unsigned char>(piece.front()) <= 32)
                piece.remove_prefix(1);
            AddCookie(std::string(piece));
        }
        start = end + 1;
    }
    Expired = false;
}

std::string TCookieMgr::GetCookies() const {
    std::string out;
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        if (i > 0)
            out += "; ";
        out += FItems[i];
    }
    return out;
}

} // namespace Cookiemgr_u
