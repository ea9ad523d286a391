// THTTP's session core: construction, timeouts, cookies, and the request
// primitives SendRequest / SendPostData / RecvReponse / DoRequestEnd over the
// platform HTTP layer.
#include "WinHttpClass.h"

#include "AsciiText.h"
#include "CodePage.h"
#include "FuncLib.h"
#include "platform/Clock.h"
#include "platform/DebugChannel.h"
#include "platform/HttpPlatform.h"
#include "platform/LastError.h"
#include "platform/UserFolders.h"

#include <algorithm>

namespace Winhttpclass {

const std::u16string_view DEFAULT_USER_AGENT =
    u"Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1)";
const std::u16string_view REQ_ACCEPT_TYPE_RAW = u"Accept: */*";
const std::u16string_view REQ_ACCEPT_LANGUAGE_RAW = u"Accept-Language: zh-cn";
const std::u16string_view REQ_CONTENT_TYPE_TEXT_RAW = u"Content-Type: text/plain";
const std::u16string_view REQ_CONTENT_TYPE_URLENCODED_RAW =
    u"Content-Type: application/x-www-form-urlencoded";
const std::u16string_view REQ_ACCEPT_ENCODING_RAW = u"Accept-Encoding: gzip, deflate";
const std::string_view MULTIPART_CONTENT_TYPE =
    "multipart/form-data; boundary=---------------------------7da30d3390726";

void OutDebug(const std::string& message) {
    const int code = platform::LastError();
    if (code != 0)
        platform::WriteDebugLine(message + " error:" + std::to_string(code));
    else
        platform::WriteDebugLine(message);
}

namespace {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// GBK <-> UTF-16. URLs, hosts and header lines are nearly always ASCII, which
// needs no code page converter.
std::string Narrow(std::u16string_view text) {
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; }))
        return std::string(text.begin(), text.end());
    return tarvo::cp::Utf16ToGbk(text);
}

std::u16string Widen(std::string_view text) {
    if (IsAscii(text))
        return std::u16string(text.begin(), text.end());
    return tarvo::cp::GbkToUtf16(text);
}

// A "Name: value" line of the caller's or of the exported header constants,
// handed to the layer as name and value; a line without a colon is no header.
void AddHeaderLine(platform::Request& request, std::string_view line) {
    const auto colon = line.find(':');
    if (colon != std::string_view::npos)
        platform::AddHeader(request, line.substr(0, colon), line.substr(colon + 1));
}

} // namespace

THTTP::THTTP(const std::string& proxy, const std::string& proxyUser,
             const std::string& proxyPassword, const std::string& userAgent) {
    AutoRedirect = true;
    RedirectsLeft = 8;
    UserAgent = userAgent.empty() ? std::u16string(DEFAULT_USER_AGENT) : Widen(userAgent);
    if (!proxy.empty()) {
        UseProxy = true;
        ProxyUser = Widen(proxyUser);
        ProxyPassword = Widen(proxyPassword);
    }
    SessionHandle = platform::OpenSession(Narrow(UserAgent), proxy);
    if (!SessionHandle)
        throw std::runtime_error("InternetOpen Error!");
    CookieMgr = std::make_unique<Cookiemgr_u::TCookieMgr>();
}

THTTP::~THTTP() {
    Aborted = true;
    DoRequestEnd(false);
    SessionHandle.reset();
}

void THTTP::ClearData() {
    RawHeader.clear();
    Location.clear();
    GMTDate.clear();
    ReceivedBytes = 0;
    ElapsedTime = 0;
    CodePage = cpNone;
}

bool THTTP::SetTimeouts(std::int32_t resolve, std::int32_t connect, std::int32_t send,
                        std::int32_t receive) {
    return platform::SetTimeouts(*SessionHandle, {resolve, connect, send, receive});
}

void THTTP::SetUserAgent(const std::string& userAgent) {
    platform::SetUserAgent(*SessionHandle, userAgent);
}

void THTTP::Abort() {
    Aborted = true;
}

double THTTP::GetBJDate() const {
    return InternetTimeToBjTime(GMTDate);
}

// --- cookies -------------------------------------------------------------------

std::string THTTP::GetCookies() const {
    return CookieMgr->GetCookies();
}

void THTTP::SetCookies(const std::string& text) {
    CookieMgr->Clear();
    CookieMgr->AddCookieSrc(text);
}

void THTTP::ClearCookie() {
    CookieMgr->Clear();
}

void THTTP::GetCookie() {
    if (!RequestHandle)
        return;
    std::string value;
    for (std::size_t i = 0; platform::HeaderValue(*RequestHandle, "Set-Cookie", i, value); ++i)
        CookieMgr->AddCookieSrc(value);
}

// --- request primitives --------------------------------------------------------

bool THTTP::SendRequest(const std::string& url, const std::string& verb,
                        std::uint32_t totalLength) {
    ClearData();
    Aborted = false;
    StartTick = platform::TickCountMs();
    // A request left open by the caller is closed before the next one.
    RequestHandle.reset();
    ConnectHandle.reset();
    FRequestTimed = false;

    // Split the URL.
    std::u16string host;
    std::u16string path;
    std::uint16_t port = 0;
    if (!CrackUrl(Widen(url), host, path, port))
        return false;
    if (AutoRedirect) {
        const auto slash = url.find('/', 8);
        BaseUrl = slash == std::string::npos ? url : url.substr(0, slash);
    }

    // Extra header lines; a GET request line among them overrides the path.
    std::string requestPath = Narrow(path);
    if (!RequestHeaders.empty()) {
        if (RequestHeaders.back() != '\n')
            RequestHeaders += "\r\n";
        const std::string overridePath =
            GetSubStr(tarvo::ascii::Upper(RequestHeaders), "GET ", " HTTP/1.");
        if (!overridePath.empty())
            requestPath = overridePath;
    }

    // Connection and request: TLS on port 443 and for every https URL.
    ConnectHandle = platform::Connect(*SessionHandle, Narrow(host), port);
    if (!ConnectHandle)
        return false;
    platform::RequestFlags flags;
    flags.refresh = true;
    flags.secure = port == 443 || tarvo::ascii::StartsWithNoCase(url, "https://");
    flags.keepAlive = KeepAlive;
    RequestHandle = platform::OpenRequest(*ConnectHandle, verb, requestPath, Referer, flags);
    if (!RequestHandle)
        return false;
    if (UseProxy)
        platform::SetProxyCredentials(*RequestHandle, Narrow(ProxyUser), Narrow(ProxyPassword));

    // The library's own headers, then the caller's.
    AddHeaderLine(*RequestHandle, Narrow(REQ_ACCEPT_TYPE_RAW));
    AddHeaderLine(*RequestHandle, Narrow(REQ_ACCEPT_LANGUAGE_RAW));
    platform::AddHeader(*RequestHandle, "Cookie", GetCookies());
    if (verb == "POST") {
        if (ContentType.empty())
            AddHeaderLine(*RequestHandle, Narrow(REQ_CONTENT_TYPE_URLENCODED_RAW));
        else
            platform::AddHeader(*RequestHandle, "Content-Type", ContentType);
    }
    for (std::size_t start = 0; start < RequestHeaders.size();) {
        std::size_t end = RequestHeaders.find("\r\n", start);
        if (end == std::string::npos)
            end = RequestHeaders.size();
        AddHeaderLine(*RequestHandle, std::string_view(RequestHeaders).substr(start, end - start));
        start = end + 2;
    }

    // Send the head.
    if (!platform::SendHead(*RequestHandle, totalLength)) {
        OutDebug("SendRequest Fail!");
        return false;
    }
    return true;
}

std::uint32_t THTTP::SendPostData(const void* data, std::uint32_t length) {
    if (!RequestHandle || (length > 0 && data == nullptr))
        return 0;
    return platform::WriteBody(*RequestHandle, data, length);
}

bool THTTP::RecvReponse() {
    if (!RequestHandle || !platform::ReceiveHead(*RequestHandle)) {
        OutDebug("RecvReponse Fail!");
        return false;
    }
    GetCookie();
    GetGMTDate();
    GetLocation();
    GetRawHeader();
    if (AutoRedirect && !Location.empty() && RedirectsLeft > 0) {
        --RedirectsLeft;
        DoRequestEnd(false);
        Location = GetFullUrl(Location);
        const std::string next = Location; // SendRequest empties Location
        return SendRequest(next, "GET", 0) && RecvReponse();
    }
    return true;
}

void THTTP::DoRequestEnd(bool finished) {
    RequestHandle.reset();
    ConnectHandle.reset();
    if (!finished || FRequestTimed)
        return;
    const std::uint32_t now = platform::TickCountMs();
    ElapsedTime = Funclib::DiffTickCount(StartTick, now);
    FRequestTimed = true;
}

std::string THTTP::GetFullUrl(const std::string& location) const {
    if (location.find("://") != std::string::npos)
        return location;
    return BaseUrl + "/" + location;
}

void THTTP::GetRawHeader() {
    RawHeader.clear();
    if (RequestHandle)
        RawHeader = platform::RawHeaders(*RequestHandle);
}

void THTTP::GetLocation() {
    Location.clear();
    if (RequestHandle)
        platform::HeaderValue(*RequestHandle, "Location", 0, Location);
}

void THTTP::GetGMTDate() {
    GMTDate.clear();
    if (RequestHandle)
        platform::HeaderValue(*RequestHandle, "Date", 0, GMTDate);
}

// --- per-user folders -----------------------------------------------------------

std::string THTTP::GetTempPath() {
    return platform::TempFolder();
}

std::string THTTP::GetIeTempPath() {
    return platform::CacheFolder();
}

std::string THTTP::GetCookiePath() {
    return platform::CookieFolder();
}

} // namespace Winhttpclass
