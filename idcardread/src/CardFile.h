// The card file: an INI text in UTF-8 that describes the card on the reader.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace idcardread {

// Values by section and key; section and key names in lower case.
using TIniFile = std::map<std::string, std::map<std::string, std::string>>;

// Reads an INI file: "[section]" lines, "key=value" lines (blanks around
// both removed), ';' and '#' comment lines, an optional UTF-8 byte order
// mark. nullopt when the file cannot be read or exceeds 64 KiB.
std::optional<TIniFile> ReadIniFile(const std::filesystem::path& path);

// The value of a key, or the empty text.
std::string IniValue(const TIniFile& ini, const std::string& section, const std::string& key);

// UTF-8 to GBK (code page 936); nullopt when the text is no valid UTF-8 or
// holds a character that GBK lacks.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

} // namespace idcardread
