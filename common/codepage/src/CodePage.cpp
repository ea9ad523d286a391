#include "CodePage.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <string>
#include <vector>

namespace tarvo::cp {
namespace {

// Owns one iconv conversion descriptor.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// The thread's open converters, kept for its life: opening one loads and
// unloads glibc's conversion modules, which costs far more than a
// conversion. Each is reset to its initial state before it is handed out.
Converter& Cached(const char* to, const char* from) {
    struct Entry {
        std::string To;
        std::string From;
        std::unique_ptr<Converter> Conv;
    };
    thread_local std::vector<Entry> cache;
    for (Entry& entry : cache) {
        if (entry.To == to && entry.From == from) {
            if (entry.Conv->ok())
                iconv(entry.Conv->get(), nullptr, nullptr, nullptr, nullptr);
            return *entry.Conv;
        }
    }
    cache.push_back(Entry{to, from, std::make_unique<Converter>(to, from)});
    return *cache.back().Conv;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Decodes `text` into UTF-32 code points; an invalid or truncated sequence
// becomes one '?' per offending byte.
std::u32string Decode(std::string_view text, const char* from, bool& clean) {
    std::u32string out;
    Converter& cv = Cached("UTF-32LE", from);
    if (!cv.ok()) {
        clean = false;
        return out;
    }
    out.reserve(text.size());
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char32_t buf[256];
    while (inLeft > 0) {
        char* outp = reinterpret_cast<char*>(buf);
        size_t outLeft = sizeof(buf);
        size_t r = iconv(cv.get(), &in, &inLeft, &outp, &outLeft);
        out.append(buf, (sizeof(buf) - outLeft) / sizeof(char32_t));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: skip one byte and go on.
            clean = false;
            out.push_back(U'?');
            ++in;
            --inLeft;
            iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

// Encodes UTF-32 code points into `to`; unmappable characters become '?'.
std::string Encode(const std::u32string& cps, const char* to, bool& clean) {
    std::string out;
    Converter& cv = Cached(to, "UTF-32LE");
    if (!cv.ok()) {
        clean = false;
        return out;
    }
    out.reserve(cps.size() * 2);
    char* in = reinterpret_cast<char*>(const_cast<char32_t*>(cps.data()));
    size_t inLeft = cps.size() * sizeof(char32_t);
    char buf[1024];
    while (inLeft > 0) {
        char* outp = buf;
        size_t outLeft = sizeof(buf);
        size_t r = iconv(cv.get(), &in, &inLeft, &outp, &outLeft);
        out.append(buf, sizeof(buf) - outLeft);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            clean = false;
            out.push_back('?');
            in += sizeof(char32_t);
            inLeft -= std::min(inLeft, sizeof(char32_t));
            iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

} // namespace

std::string Convert(std::string_view text, const char* from, const char* to, bool* strict) {
    bool clean = true;
    std::string out = Encode(Decode(text, from, clean), to, clean);
    if (strict)
        *strict = clean;
    return out;
}

// ASCII reads the same in GBK and UTF-8: such texts need no converter.
std::string GbkToUtf8(std::string_view gbk) {
    return IsAscii(gbk) ? std::string(gbk) : Convert(gbk, kGbk, kUtf8);
}

std::string Utf8ToGbk(std::string_view utf8) {
    return IsAscii(utf8) ? std::string(utf8) : Convert(utf8, kUtf8, kGbk);
}

std::u16string GbkToUtf16(std::string_view gbk) {
    if (IsAscii(gbk))
        return std::u16string(gbk.begin(), gbk.end());
    std::string bytes = Convert(gbk, kGbk, "UTF-16LE");
    std::u16string out(bytes.size() / 2, u'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

std::string Utf16ToGbk(std::u16string_view utf16) {
    if (std::all_of(utf16.begin(), utf16.end(), [](char16_t c) { return c < 0x80; }))
        return std::string(utf16.begin(), utf16.end());
    std::string_view bytes(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
    return Convert(bytes, "UTF-16LE", kGbk);
}

bool IsValid(std::string_view text, const char* encoding) {
    bool clean = true;
    Decode(text, encoding, clean);
    return clean;
}

} // namespace tarvo::cp

std::string Gbk(std::u8string_view utf8) {
    return tarvo::cp::Utf8ToGbk(
        std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}
