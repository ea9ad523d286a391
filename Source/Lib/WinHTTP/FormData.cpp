// Request body builders: URL-encoded pairs and multipart/form-data, and the
// THTTP::Post overloads that send them.
#include "AsciiText.h"
#include "WinHttpClass.h"

#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace Winhttpclass {
namespace {

constexpr std::string_view kDelimiterLine = "-----------------------------7da30d3390726\r\n";
constexpr std::string_view kClosingLine = "-----------------------------7da30d3390726--\r\n";
constexpr std::string_view kDisposition = "Content-Disposition: form-data; name=\"";

bool NameMatches(std::string_view entry, std::string_view name) {
    return tarvo::ascii::EqualsNoCase(entry.substr(0, entry.find('=')), name);
}

// Sets AutoRedirect for one call and puts the old value back however it ends.
class RedirectScope {
public:
    RedirectScope(THTTP& http, bool autoRedirect) : FHttp(http), FSaved(http.AutoRedirect) {
        FHttp.AutoRedirect = autoRedirect;
    }
    ~RedirectScope() { FHttp.AutoRedirect = FSaved; }
    RedirectScope(const RedirectScope&) = delete;
    RedirectScope& operator=(const RedirectScope&) = delete;

private:
    THTTP& FHttp;
    bool FSaved;
};

// Replaces the pair of that name in place, appends it, or, for an empty
// value, takes it out: an empty value is never sent.
void SetPair(std::vector<std::string>& items, const std::string& name, const std::string& value) {
    auto found = items.begin();
    while (found != items.end() && !NameMatches(*found, name))
        ++found;
    if (value.empty()) {
        if (found != items.end())
            items.erase(found);
    } else if (found != items.end()) {
        *found = name + "=" + value;
    } else {
        items.push_back(name + "=" + value);
    }
}

// The caller's file and line, from the builtins that GCC and clang share
// (clang 14 with libstdc++ 12 has no std::source_location).
[[noreturn]] void AssertionFailure(const char* caller = __builtin_FILE(),
                                   int line = __builtin_LINE()) {
    std::string_view file = caller;
    if (const std::size_t slash = file.find_last_of("/\\"); slash != std::string_view::npos)
        file.remove_prefix(slash + 1);
    throw EAssertionFailed("Assertion failure (" + std::string(file) + ", line " +
                           std::to_string(line) + ")");
}

} // namespace

// ---- TUrlEncodedData ------------------------------------------------------

TUrlEncodedData::TUrlEncodedData(TCodePage codePage, bool encodeValues)
    : CodePage(codePage), EncodeValues(encodeValues) {}

TUrlEncodedData::~TUrlEncodedData() = default;

TUrlEncodedData& TUrlEncodedData::Put(const std::string& name, const std::string& value) {
    SetPair(Items, name, EncodeValues ? THTTP::URLEnc(value, CodePage) : value);
    return *this;
}

TUrlEncodedData& TUrlEncodedData::Put(const std::string& name, std::int32_t number) {
    // Numbers need no encoding.
    SetPair(Items, name, std::to_string(number));
    return *this;
}

std::string TUrlEncodedData::Joined() const {
    std::string out;
    for (const std::string& item : Items) {
        out += item;
        out += '&';
    }
    return out;
}

std::string TUrlEncodedData::ToString() const {
    const std::string joined = Joined();
    return EncodeValues ? joined : THTTP::CodePageEnc(joined, CodePage);
}

std::string THTTP::Post(const std::string& url, const TUrlEncodedData& data, bool autoRedirect,
                        TCodePage codePage) {
    RedirectScope scope(*this, autoRedirect);
    return Post(url, data.Joined(), codePage);
}

// ---- TMultipartData -------------------------------------------------------

TMultipartData::TMultipartData(TCodePage codePage) : CodePage(codePage) {}

TMultipartData::~TMultipartData() = default;

TMultipartData& TMultipartData::Add(const std::string& name, const std::string& value) {
    if (Closed)
        AssertionFailure();
    std::string part(kDelimiterLine);
    part += kDisposition;
    part += name;
    part += "\"\r\n\r\n";
    part += value;
    part += "\r\n";
    Append(part);
    return *this;
}

TMultipartData& TMultipartData::Add(const std::string& name, std::int32_t number) {
    return Add(name, std::to_string(number));
}

TMultipartData& TMultipartData::Add(const std::string& name, const std::string& fileName,
                                    const std::string& contentType, const TBytes& bytes) {
    if (Closed)
        AssertionFailure();
    std::string head(kDelimiterLine);
    head += kDisposition;
    head += name;
    head += "\"; filename=\"";
    head += fileName;
    head += "\"\r\nContent-Type: ";
    head += contentType;
    head += "\r\n\r\n";
    Append(head);
    // File bytes go in unconverted, whatever their size.
    Body.insert(Body.end(), bytes.begin(), bytes.end());
    Append(std::string("\r\n"));
    return *this;
}

TBytes TMultipartData::Data() {
    if (!Closed && !Body.empty()) {
        Append(std::string(kClosingLine));
        Closed = true;
    }
    return Body;
}

void TMultipartData::Append(const std::string& text) {
    if (text.empty())
        return;
    const std::string converted = THTTP::CodePageEnc(text, CodePage);
    Body.insert(Body.end(), converted.begin(), converted.end());
}

void TMultipartData::Append(const void* bytes, std::int32_t count) {
    if (count <= 0 || bytes == nullptr)
        return;
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    Body.insert(Body.end(), first, first + count);
}

std::string THTTP::Post(const std::string& url, TMultipartData& data, bool autoRedirect,
                        TCodePage codePage) {
    RedirectScope scope(*this, autoRedirect);
    const TBytes body = data.Data();
    if (body.size() > std::numeric_limits<std::uint32_t>::max())
        return {};
    return Post(url, body.data(), static_cast<std::uint32_t>(body.size()),
                std::string(MULTIPART_CONTENT_TYPE), codePage);
}

} // namespace Winhttpclass
