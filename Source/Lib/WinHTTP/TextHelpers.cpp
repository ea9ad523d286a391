// THTTP's code page conversions and marker-based substrings.
#include "CodePage.h"
#include "TextMarks.h"
#include "Utf8Check.h"
#include "WinHttpClass.h"

#include <string>
#include <string_view>

namespace Winhttpclass {

std::string THTTP::CodePageEnc(const std::string& text, TCodePage codePage) {
    switch (codePage) {
    case cpUTF8:
        return tarvo::cp::GbkToUtf8(text);
    case cpBig5:
        return tarvo::cp::Convert(text, tarvo::cp::kGbk, tarvo::cp::kBig5);
    default:
        return text;
    }
}

std::string THTTP::CodePageDec(const std::string& text, TCodePage codePage) {
    switch (codePage) {
    case cpUTF8:
        // A malformed text gives nothing rather than a half-decoded one.
        if (!tarvo::utf8::IsWellFormed(text))
            return {};
        return tarvo::cp::Utf8ToGbk(text);
    case cpBig5:
        return tarvo::cp::Convert(text, tarvo::cp::kBig5, tarvo::cp::kGbk);
    default:
        return text;
    }
}

namespace detail {

std::string SubStrBetween(std::string_view text, std::string_view startMark,
                          std::string_view endMark) {
    std::string_view rest(text);
    if (!startMark.empty()) {
        const std::size_t p = rest.find(startMark);
        if (p == std::string_view::npos)
            return {};
        rest.remove_prefix(p + startMark.size());
    }
    if (endMark.empty())
        return std::string(rest);
    const std::size_t q = rest.find(endMark);
    if (q == std::string_view::npos)
        return {};
    return std::string(rest.substr(0, q));
}

} // namespace detail

std::string THTTP::GetSubStr(const std::string& text, const std::string& startMark,
                             const std::string& endMark) {
    return detail::SubStrBetween(text, startMark, endMark);
}

std::string THTTP::GetSubStrEx(const std::string& text, const std::string& startMark,
                               const std::string& endMark, std::string& rest) {
    std::string_view r(text);
    if (!startMark.empty()) {
        const std::size_t p = r.find(startMark);
        if (p == std::string_view::npos) {
            rest = text;
            return {};
        }
        r.remove_prefix(p + startMark.size());
    }
    if (endMark.empty()) {
        std::string result(r);
        rest.clear();
        return result;
    }
    const std::size_t q = r.find(endMark);
    if (q != std::string_view::npos) {
        std::string result(r.substr(0, q));
        rest = std::string(r.substr(q + endMark.size()));
        return result;
    }
    // Keep the tail that may still hold the start of a split end marker.
    const std::size_t drop = std::min(r.size(), endMark.size() - 1);
    rest = std::string(r.substr(drop));
    return {};
}

} // namespace Winhttpclass
