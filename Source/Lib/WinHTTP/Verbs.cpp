// THTTP's verbs (Get, Post), the readers of the response body and the
// decoding of a text answer into the system code page.
#include "AsciiText.h"
#include "CodePage.h"
#include "WinHttpClass.h"
#include "platform/DownloadFile.h"
#include "platform/HttpPlatform.h"

#include <array>

namespace Winhttpclass {
namespace {

// Body data is read in chunks of at most this many bytes; Abort takes effect
// after the current chunk.
constexpr std::uint32_t kChunk = 4096;
constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;

using tarvo::ascii::Lower;

// Ends the request however the verb leaves its scope.
class RequestEnd {
public:
    explicit RequestEnd(THTTP& http) : FHttp(http) {}
    ~RequestEnd() { FHttp.DoRequestEnd(true); }
    RequestEnd(const RequestEnd&) = delete;
    RequestEnd& operator=(const RequestEnd&) = delete;

private:
    THTTP& FHttp;
};

} // namespace

// --- Get -------------------------------------------------------------------------

std::string THTTP::Get(const std::string& url, TCodePage codePage) {
    RequestEnd end(*this);
    std::string result;
    if (SendRequest(url, "GET", 0) && RecvReponse())
        result = RecvContent(codePage, kNoLimit);
    return result;
}

std::uint32_t THTTP::Get(const std::string& url, const std::string& fileName) {
    // Names are GBK texts; the file system takes UTF-8.
    // A file another writer holds is left as it is, and nothing is sent.
    const auto file = platform::DownloadFile::Open(tarvo::cp::GbkToUtf8(fileName));
    if (!file)
        return 0;
    RequestEnd end(*this);
    if (SendRequest(url, "GET", 0) && RecvReponse())
        RecvContentToFile(file->Handle());
    return ReceivedBytes;
}

std::uint32_t THTTP::Get(const std::string& url, TStream& stream) {
    stream.Seek(0);
    RequestEnd end(*this);
    if (SendRequest(url, "GET", 0) && RecvReponse())
        RecvContentToStream(stream);
    return ReceivedBytes;
}

// --- Post ------------------------------------------------------------------------

std::string THTTP::Post(const std::string& url, const std::string& data, TCodePage codePage) {
    return Post(url, data.data(), static_cast<std::uint32_t>(data.size()), codePage);
}

std::string THTTP::Post(const std::string& url, const void* dataPtr, std::uint32_t length,
                        TCodePage codePage) {
    RequestEnd end(*this);
    std::string result;
    if (!SendRequest(url, "POST", length))
        return result;
    if (length > 0 && SendPostData(dataPtr, length) == 0)
        return result;
    if (RecvReponse())
        result = RecvContent(codePage, kNoLimit);
    return result;
}

std::string THTTP::Post(const std::string& url, const std::string& data,
                        const std::string& contentType, TCodePage codePage) {
    return Post(url, data.data(), static_cast<std::uint32_t>(data.size()), contentType, codePage);
}

std::string THTTP::Post(const std::string& url, const void* dataPtr, std::uint32_t length,
                        const std::string& contentType, TCodePage codePage) {
    ContentType = contentType;
    std::string result;
    try {
        result = Post(url, dataPtr, length, codePage);
    } catch (...) {
        ContentType.clear();
        throw;
    }
    ContentType.clear();
    return result;
}

std::uint32_t THTTP::Post(const std::string& url, const std::string& data, TStream& stream,
                          TCodePage /*codePage*/) {
    // AutoRedirect is put back after the request, also when the stream throws.
    struct RestoreRedirect {
        THTTP& Http;
        bool Saved;
        ~RestoreRedirect() { Http.AutoRedirect = Saved; }
    } restore{*this, AutoRedirect};
    {
        RequestEnd end(*this);
        const auto length = static_cast<std::uint32_t>(data.size());
        if (SendRequest(url, "POST", length) &&
            (length == 0 || SendPostData(data.data(), length) != 0) && RecvReponse()) {
            stream.Seek(0);
            RecvContentToStream(stream);
        }
    }
    return ReceivedBytes;
}

// --- content readers -----------------------------------------------------------------

std::string THTTP::RecvContent(TCodePage codePage, std::uint32_t maxBytes) {
    std::string result;
    std::array<char, kChunk> chunk{};
    while (ReceivedBytes < maxBytes && RequestHandle) {
        const long got = platform::ReadData(*RequestHandle, chunk.data(), chunk.size());
        if (got <= 0 || Aborted)
            break;
        auto count = static_cast<std::uint32_t>(got);
        if (static_cast<std::uint64_t>(ReceivedBytes) + count > maxBytes) {
            count = maxBytes - ReceivedBytes;
            ReceivedBytes = maxBytes;
        } else {
            ReceivedBytes += count;
        }
        // Appended as a zero-terminated text: a NUL ends this chunk.
        const std::string_view piece(chunk.data(), count);
        result.append(piece.substr(0, piece.find('\0')));
    }
    return ContentDecode(result, codePage);
}

std::int32_t THTTP::RecvContent(void* buffer, std::int32_t size) {
    if (!RequestHandle || buffer == nullptr || size <= 0)
        return 0;
    const long got = platform::ReadData(*RequestHandle, buffer, static_cast<std::size_t>(size));
    return got > 0 ? static_cast<std::int32_t>(got) : 0;
}

std::uint32_t THTTP::RecvContentToFile(int fileHandle) {
    std::array<char, kChunk> chunk{};
    while (RequestHandle) {
        const long got = platform::ReadData(*RequestHandle, chunk.data(), chunk.size());
        if (got <= 0 || Aborted)
            break;
        if (!platform::WriteAll(fileHandle, chunk.data(), static_cast<std::size_t>(got)))
            break;
        ReceivedBytes += static_cast<std::uint32_t>(got);
    }
    return ReceivedBytes;
}

std::uint32_t THTTP::RecvContentToStream(TStream& stream) {
    // The stream gets the bytes straight from the connection's buffer, one
    // chunk at a time.
    while (RequestHandle) {
        const char* chunk = nullptr;
        const long got = platform::ReadDataInPlace(*RequestHandle, kChunk, chunk);
        if (got <= 0 || Aborted)
            break;
        if (stream.Write(chunk, static_cast<std::int32_t>(got)) != got)
            break;
        ReceivedBytes += static_cast<std::uint32_t>(got);
    }
    return ReceivedBytes;
}

std::string THTTP::ContentDecode(const std::string& content, TCodePage codePage) {
    if (codePage != cpAuto) {
        CodePage = codePage;
        return CodePageDec(content, CodePage);
    }
    CodePage = cpNone;
    // The charset named in the Content-Type header wins: the header of the
    // request being read, or, once that request has ended, of the head kept
    // in RawHeader.
    std::string contentType;
    if (RequestHandle) {
        platform::HeaderValue(*RequestHandle, "Content-Type", 0, contentType);
        contentType = Lower(contentType);
    } else {
        contentType = GetSubStr(Lower(RawHeader), "\ncontent-type:", "\r");
    }
    std::string match;
    if (const auto at = contentType.find("charset="); at != std::string::npos) {
        match = contentType.substr(at);
    } else {
        // Else a charset in the body, when it stands inside a meta tag.
        const std::string body = Lower(content);
        if (const auto at2 = body.find("charset="); at2 != std::string::npos) {
            const auto open = at2 == 0 ? std::string::npos : body.rfind('<', at2 - 1);
            if (open == std::string::npos || body.compare(open + 1, 4, "meta") == 0)
                match = body.substr(at2);
        }
    }
    if (!match.empty()) {
        std::string_view value = std::string_view(match).substr(8);
        if (!value.empty() && (value.front() == '"' || value.front() == '\''))
            value.remove_prefix(1);
        if (value.starts_with("gbk") || value.starts_with("gb2312") || value.starts_with("gb18030"))
            CodePage = cpGBK;
        else if (value.starts_with("utf-8"))
            CodePage = cpUTF8;
        else if (value.starts_with("big5"))
            CodePage = cpBig5;
    }
    return CodePageDec(content, CodePage);
}

} // namespace Winhttpclass
