// netvane's HTTP session THTTP, its form body builders and its static text,
// code page, URL and time helpers.
//
// Texts are byte strings in GBK; UTF-16 texts are std::u16string; date-time
// values count days since 30 December 1899 (the fraction is the time of day).
// Failures are reported by results (false, empty text, 0 bytes) and by an
// empty RawHeader, never by exceptions, except where noted.
#pragma once

#include "CookieMgr_u.h"
#include "NetvaneApi.h"
#include "Stream.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Winhttpclass {

// 8-bit code page of text on the wire.
enum TCodePage : std::uint8_t { cpNone = 0, cpGBK = 1, cpUTF8 = 2, cpBig5 = 3, cpAuto = 4 };

NETVANE_API extern const std::u16string_view DEFAULT_USER_AGENT;
NETVANE_API extern const std::u16string_view REQ_ACCEPT_TYPE_RAW;
NETVANE_API extern const std::u16string_view REQ_ACCEPT_LANGUAGE_RAW;
NETVANE_API extern const std::u16string_view REQ_CONTENT_TYPE_TEXT_RAW;
NETVANE_API extern const std::u16string_view REQ_CONTENT_TYPE_URLENCODED_RAW;
NETVANE_API extern const std::u16string_view REQ_ACCEPT_ENCODING_RAW;

// Content-Type of a multipart body built by TMultipartData.
NETVANE_API extern const std::string_view MULTIPART_CONTENT_TYPE;

// Writes a diagnostic line to the debug channel, followed by " error:" and
// the platform's last error code when that is non-zero. The channel is silent
// unless the environment variable NETVANE_DEBUG is set: "1" or "stderr"
// writes to standard error, any other value names a file the lines are
// appended to.
NETVANE_API void OutDebug(const std::string& message);

class TUrlEncodedData;
class TMultipartData;

namespace platform {
class Session;
class Connection;
class Request;
// The timeouts in milliseconds (resolve, connect, send, receive) that the
// session's later requests run under, as SetTimeouts last accepted them.
NETVANE_API std::array<std::int32_t, 4> SessionTimeouts(const Session& session);
} // namespace platform

class NETVANE_API THTTP {
public:
    // Empty `proxy`: the environment's proxy configuration (http_proxy,
    // https_proxy, no_proxy); otherwise a named proxy "host:port" or
    // "http://host:port". Empty `userAgent`: DEFAULT_USER_AGENT.
    // Throws std::runtime_error("InternetOpen Error!") when the session
    // cannot be opened.
    THTTP(const std::string& proxy, const std::string& proxyUser, const std::string& proxyPassword,
          const std::string& userAgent);
    virtual ~THTTP();
    THTTP(const THTTP&) = delete;
    THTTP& operator=(const THTTP&) = delete;

    // Public data, as callers read and write it directly. Aborted may be set
    // from another thread while a reader runs.
    std::atomic<bool> Aborted = false;
    std::string BaseUrl;
    std::string ContentType;
    bool KeepAlive = false;
    bool AutoRedirect = true;
    std::int32_t RedirectsLeft = 8;
    std::string Referer;
    std::string RequestHeaders;
    std::string RawHeader;
    std::string Location;
    std::string GMTDate;
    std::uint32_t StartTick = 0;
    std::uint32_t ElapsedTime = 0;
    std::uint32_t ReceivedBytes = 0;
    TCodePage CodePage = cpNone;
    std::unique_ptr<platform::Session> SessionHandle;
    std::unique_ptr<platform::Connection> ConnectHandle;
    std::unique_ptr<platform::Request> RequestHandle;
    bool UseProxy = false;
    std::u16string ProxyUser;
    std::u16string ProxyPassword;
    std::u16string UserAgent;
    std::unique_ptr<Cookiemgr_u::TCookieMgr> CookieMgr;

    // Session core.
    void ClearData();
    bool SetTimeouts(std::int32_t resolve, std::int32_t connect, std::int32_t send,
                     std::int32_t receive);
    void SetUserAgent(const std::string& userAgent);
    void Abort();
    double GetBJDate() const;

    // Cookies.
    std::string GetCookies() const;
    void SetCookies(const std::string& text);
    void ClearCookie();
    void GetCookie();

    // Request primitives.
    bool SendRequest(const std::string& url, const std::string& verb, std::uint32_t totalLength);
    std::uint32_t SendPostData(const void* data, std::uint32_t length);
    bool RecvReponse();
    void DoRequestEnd(bool finished);
    std::string GetFullUrl(const std::string& location) const;
    void GetRawHeader();
    void GetLocation();
    void GetGMTDate();

    // Verbs. Each is a complete request and ends with DoRequestEnd(true).
    std::string Get(const std::string& url, TCodePage codePage);
    std::uint32_t Get(const std::string& url, const std::string& fileName);
    std::uint32_t Get(const std::string& url, TStream& stream);
    std::string Post(const std::string& url, const std::string& data, TCodePage codePage);
    std::string Post(const std::string& url, const void* dataPtr, std::uint32_t length,
                     TCodePage codePage);
    std::string Post(const std::string& url, const std::string& data,
                     const std::string& contentType, TCodePage codePage);
    std::string Post(const std::string& url, const void* dataPtr, std::uint32_t length,
                     const std::string& contentType, TCodePage codePage);
    std::uint32_t Post(const std::string& url, const std::string& data, TStream& stream,
                       TCodePage codePage);
    std::string Post(const std::string& url, const TUrlEncodedData& data, bool autoRedirect,
                     TCodePage codePage);
    std::string Post(const std::string& url, TMultipartData& data, bool autoRedirect,
                     TCodePage codePage);

    // Content readers.
    std::string RecvContent(TCodePage codePage, std::uint32_t maxBytes);
    std::int32_t RecvContent(void* buffer, std::int32_t size);
    std::uint32_t RecvContentToFile(int fileHandle);
    std::uint32_t RecvContentToStream(TStream& stream);
    std::string ContentDecode(const std::string& content, TCodePage codePage);

    // Static text, code page, URL and time helpers.
    static std::string CodePageEnc(const std::string& text, TCodePage codePage);
    static std::string CodePageDec(const std::string& text, TCodePage codePage);
    static std::string URLEnc(const std::string& text, TCodePage codePage);
    static std::string URLDec(const std::string& text, TCodePage codePage);
    static std::string GetSubStr(const std::string& text, const std::string& startMark,
                                 const std::string& endMark);
    static std::string GetSubStrEx(const std::string& text, const std::string& startMark,
                                   const std::string& endMark, std::string& rest);
    static bool CrackUrl(const std::u16string& url, std::u16string& host, std::u16string& path,
                         std::uint16_t& port);
    static double InternetTimeToBjTime(const std::string& text);
    static std::string GetInternetTimeFromLocal();
    static std::string GetTempPath();
    static std::string GetIeTempPath();
    static std::string GetCookiePath();

private:
    // The current request's duration has been recorded.
    bool FRequestTimed = false;
};

// An application/x-www-form-urlencoded body.
class NETVANE_API TUrlEncodedData {
public:
    TUrlEncodedData(TCodePage codePage, bool encodeValues);
    virtual ~TUrlEncodedData();

    std::vector<std::string> Items;
    TCodePage CodePage;
    bool EncodeValues;

    TUrlEncodedData& Put(const std::string& name, const std::string& value);
    TUrlEncodedData& Put(const std::string& name, std::int32_t number);
    std::string ToString() const;
    // The pairs joined, each followed by "&", without code page conversion.
    std::string Joined() const;
};

// Raised by TMultipartData::Add on a closed body.
class NETVANE_API EAssertionFailed : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// A multipart/form-data body with a fixed boundary.
class NETVANE_API TMultipartData {
public:
    explicit TMultipartData(TCodePage codePage);
    virtual ~TMultipartData();

    TBytes Body;
    bool Closed = false;
    TCodePage CodePage;

    TMultipartData& Add(const std::string& name, const std::string& value);
    TMultipartData& Add(const std::string& name, std::int32_t number);
    TMultipartData& Add(const std::string& name, const std::string& fileName,
                        const std::string& contentType, const TBytes& bytes);
    TBytes Data();
    void Append(const std::string& text);
    void Append(const void* bytes, std::int32_t count);
};

} // namespace Winhttpclass
