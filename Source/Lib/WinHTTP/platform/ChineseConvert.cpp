#include "platform/ChineseConvert.h"

#include "platform/DebugChannel.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <opencc.h>
#include <system_error>

namespace Funclib::platform {
namespace {

constexpr const char* kDictionaryFolder = "/usr/share/opencc/";

const opencc_t kInvalid = reinterpret_cast<opencc_t>(-1);

struct ConverterCloser {
    void operator()(void* handle) const {
        if (handle != nullptr)
            opencc_close(handle);
    }
};
using Converter = std::unique_ptr<void, ConverterCloser>;

// A configuration that maps single characters only (no phrase tables), like
// a locale's character mapping.
std::string CharacterConfig(const char* dictionary) {
    const std::string file = std::string(kDictionaryFolder) + dictionary;
    return R"({"name":"netvane characters","segmentation":{"type":"mmseg","dict":)"
           R"({"type":"ocd2","file":")" +
           file + R"("}},"conversion_chain":[{"dict":{"type":"ocd2","file":")" + file + R"("}}]})";
}

// OpenCC reads its configuration from a file: write it to a private temporary
// folder, open the converter (which loads the tables), then remove the folder.
Converter OpenConverter(const char* dictionary) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path tempRoot = fs::temp_directory_path(ec);
    if (ec)
        return nullptr;
    std::string pattern = (tempRoot / "netvane-opencc-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return nullptr;
    const fs::path folder = pattern;
    const fs::path config = folder / "chars.json";
    opencc_t handle = kInvalid;
    {
        std::ofstream out(config, std::ios::binary);
        out << CharacterConfig(dictionary);
        out.close();
        if (out)
            handle = opencc_open(config.c_str());
    }
    fs::remove_all(folder, ec);
    if (handle == kInvalid) {
        const char* why = opencc_error();
        Winhttpclass::platform::WriteDebugLine(std::string("OpenCC open failed: ") +
                                               (why != nullptr ? why : ""));
        return nullptr;
    }
    return Converter(handle);
}

// Each converter is opened once and only read afterwards.
void* Shared(ChineseDirection direction) {
    static const Converter toTraditional = OpenConverter("STCharacters.ocd2");
    static const Converter toSimplified = OpenConverter("TSCharacters.ocd2");
    return direction == ChineseDirection::ToTraditional ? toTraditional.get() : toSimplified.get();
}

} // namespace

std::optional<std::string> ConvertChinese(std::string_view utf8, ChineseDirection direction) {
    void* converter = Shared(direction);
    if (converter == nullptr)
        return std::nullopt;
    // The converter works on C strings: convert the text between NUL bytes.
    std::string result;
    std::size_t start = 0;
    while (true) {
        const std::size_t nul = std::min(utf8.find('\0', start), utf8.size());
        const std::string piece(utf8.substr(start, nul - start));
        if (!piece.empty()) {
            char* converted = opencc_convert_utf8(converter, piece.data(), piece.size());
            if (converted == nullptr)
                return std::nullopt;
            result += converted;
            opencc_convert_utf8_free(converted);
        }
        if (nul == utf8.size())
            break;
        result += '\0';
        start = nul + 1;
    }
    return result;
}

} // namespace Funclib::platform
