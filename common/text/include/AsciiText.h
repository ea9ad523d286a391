// ASCII-only text helpers for byte strings (GBK, UTF-8, protocol tokens):
// letter case, case-blind comparison and trimming. Bytes from 0x80 up are
// never changed or taken for blanks, and the C locale plays no part.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace tarvo::ascii {

// Letter case of one character (char, or char16_t of a UTF-16 text).
template <typename Char> constexpr Char ToLower(Char c) {
    return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char> constexpr Char ToUpper(Char c) {
    return (c >= Char('a') && c <= Char('z')) ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

inline std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), ToLower<char>);
    return out;
}

inline std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), ToUpper<char>);
    return out;
}

namespace detail {
template <typename Char>
constexpr bool EqualsNoCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](Char x, Char y) {
               return ToLower(x) == ToLower(y);
           });
}
} // namespace detail

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
    return detail::EqualsNoCase(a, b);
}

constexpr bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return detail::EqualsNoCase(a, b);
}

constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

constexpr bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// Blank sets for the trims below.
// Space and tab: the blanks around HTTP header values and parameters.
constexpr bool IsHeaderBlank(char c) {
    return c == ' ' || c == '\t';
}
// White space as the C locale knows it: space, \t, \n, \v, \f, \r.
constexpr bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
// Every byte up to the space: blanks and control characters, as the client
// trims what the agent typed.
constexpr bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// `text` without the bytes at either end for which `blank` holds.
template <typename Blank> constexpr std::string_view TrimIf(std::string_view text, Blank blank) {
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

constexpr std::string_view Trim(std::string_view text) {
    return TrimIf(text, IsSpace);
}

constexpr std::string_view TrimHeaderBlanks(std::string_view text) {
    return TrimIf(text, IsHeaderBlank);
}

constexpr std::string_view TrimControls(std::string_view text) {
    return TrimIf(text, IsBlankOrControl);
}

} // namespace tarvo::ascii
