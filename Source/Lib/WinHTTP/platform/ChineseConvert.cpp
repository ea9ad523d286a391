#include "platform/ChineseConvert.h"

#include "platform/DebugChannel.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <opencc.h>
#include <optional>
#include <system_error>

namespace Funclib::platform {
namespace {

constexpr const char* kDictionaryFolder = "/usr/share/opencc/";

const opencc_t kInvalid = reinterpret_cast<opencc_t>(-1);

// OpenCC is loaded on the first conversion, not with the library: most
// programs never convert, and loading it costs start-up time and memory.
struct OpenccApi {
    decltype(&opencc_open) open = nullptr;
    decltype(&opencc_close) close = nullptr;
    decltype(&opencc_error) error = nullptr;
    decltype(&opencc_convert_utf8) convert = nullptr;
    decltype(&opencc_convert_utf8_free) release = nullptr;
};

template <class Fn> bool Bind(void* library, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(::dlsym(library, name));
    return fn != nullptr;
}

std::optional<OpenccApi> LoadOpencc() {
    // Stays loaded for the life of the process, like a linked library.
    void* library = ::dlopen(NETVANE_OPENCC_SONAME, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char* why = ::dlerror();
        Winhttpclass::platform::WriteDebugLine(std::string("OpenCC load failed: ") +
                                               (why != nullptr ? why : NETVANE_OPENCC_SONAME));
        return std::nullopt;
    }
    OpenccApi api;
    const bool bound = Bind(library, "opencc_open", api.open) &&
                       Bind(library, "opencc_close", api.close) &&
                       Bind(library, "opencc_error", api.error) &&
                       Bind(library, "opencc_convert_utf8", api.convert) &&
                       Bind(library, "opencc_convert_utf8_free", api.release);
    ::dlclose(library);
    if (!bound) {
        Winhttpclass::platform::WriteDebugLine("OpenCC load failed: a function is missing");
        return std::nullopt;
    }
    return api;
}

const OpenccApi* Opencc() {
    static const std::optional<OpenccApi> api = LoadOpencc();
    return api ? &*api : nullptr;
}

struct ConverterCloser {
    void operator()(void* handle) const {
        if (handle != nullptr)
            Opencc()->close(handle);
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
    const OpenccApi* opencc = Opencc();
    if (opencc == nullptr)
        return nullptr;
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
            handle = opencc->open(config.c_str());
    }
    fs::remove_all(folder, ec);
    if (handle == kInvalid) {
        const char* why = opencc->error();
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
            char* converted = Opencc()->convert(converter, piece.data(), piece.size());
            if (converted == nullptr)
                return std::nullopt;
            result += converted;
            Opencc()->release(converted);
        }
        if (nul == utf8.size())
            break;
        result += '\0';
        start = nul + 1;
    }
    return result;
}

} // namespace Funclib::platform
