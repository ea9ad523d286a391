// The cookie store of an HTTP session: an ordered list of name=value pairs,
// filled from Set-Cookie headers and from texts set by the caller, joined into
// the Cookie header of every request. No domain or path bookkeeping.
#pragma once

#include "NetvaneApi.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Cookiemgr_u {

class NETVANE_API TCookieMgr {
public:
    TCookieMgr() = default;
    virtual ~TCookieMgr();

    // True while AddCookieSrc handles a cookie text whose expiry has passed.
    bool Expired = false;

    // Adds one "name=value" piece (attribute pieces and pieces without a
    // name are ignored; an empty value removes the cookie).
    void AddCookie(const std::string& piece);
    // Adds every pair of a Set-Cookie style text.
    void AddCookieSrc(const std::string& text);
    // The Cookie header value: the pairs joined with "; ".
    std::string GetCookies() const;

    // The list operations.
    void Clear() { FItems.clear(); }
    std::size_t Count() const { return FItems.size(); }
    const std::string& Strings(std::size_t index) const { return FItems.at(index); }
    // Index of the entry whose name equals `name` ignoring case, or -1.
    long IndexOfName(const std::string& name) const;

private:
    std::vector<std::string> FItems;
};

} // namespace Cookiemgr_u
