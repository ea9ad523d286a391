#include "CardFile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iconv.h>

namespace idcardread {
namespace {

constexpr std::uintmax_t MaxFileSize = 64 * 1024;

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

} // namespace

std::optional<TIniFile> ReadIniFile(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > MaxFileSize)
        return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;

    TIniFile ini;
    std::string section;
    std::string line;
    for (bool first = true; std::getline(file, line); first = false) {
        std::string_view text(line);
        if (first && text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        text = Trim(text);
        if (text.empty() || text.front() == ';' || text.front() == '#')
            continue;
        if (text.front() == '[' && text.back() == ']') {
            section = Lower(Trim(text.substr(1, text.size() - 2)));
            continue;
        }
        const auto eq = text.find('=');
        if (eq == std::string_view::npos)
            continue;
        ini[section][Lower(Trim(text.substr(0, eq)))] = std::string(Trim(text.substr(eq + 1)));
    }
    if (file.bad())
        return std::nullopt;
    return ini;
}

std::string IniValue(const TIniFile& ini, const std::string& section, const std::string& key) {
    const auto s = ini.find(section);
    if (s == ini.end())
        return {};
    const auto k = s->second.find(key);
    return k == s->second.end() ? std::string() : k->second;
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    const iconv_t cd = ::iconv_open("CP936", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    // Every UTF-8 character takes at least as many bytes as its GBK form.
    std::string out(utf8.size(), '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* put = out.data();
    std::size_t outLeft = out.size();
    const bool ok = ::iconv(cd, &in, &inLeft, &put, &outLeft) != static_cast<std::size_t>(-1) &&
                    ::iconv(cd, nullptr, nullptr, &put, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace idcardread
