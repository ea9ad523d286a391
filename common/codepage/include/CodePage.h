// Conversions between the system's GBK texts and the Unicode forms needed at
// the edges (UTF-8 for files and widgets, UTF-16 for the HTTP layer), and Big5.
//
// Texts are byte strings. A character that the target code page cannot
// represent becomes '?'; an input byte sequence that is not valid in the
// source code page becomes '?' as well (never a crash, never a throw).
#pragma once

#include <string>
#include <string_view>

namespace tarvo::cp {

// iconv names of the code pages the system uses.
inline constexpr const char* kGbk = "CP936";
inline constexpr const char* kBig5 = "CP950";
inline constexpr const char* kUtf8 = "UTF-8";

// Converts `text` from one iconv encoding to another. When `strict` is given
// it is set to false if any input sequence was invalid or any character had to
// be replaced.
std::string Convert(std::string_view text, const char* from, const char* to,
                    bool* strict = nullptr);

std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);
std::u16string GbkToUtf16(std::string_view gbk);
std::string Utf16ToGbk(std::u16string_view utf16);

// True when `text` is a well-formed sequence of the given encoding.
bool IsValid(std::string_view text, const char* encoding);

} // namespace tarvo::cp

// The system's own Chinese texts are written in UTF-8 in the sources and
// turned into GBK here: Gbk(u8"提示") is the GBK byte string of that text.
std::string Gbk(std::u8string_view utf8);
