#include "Unitcommon.h"

#include "Aes.h"
#include "CodePage.h"
#include "HexDigits.h"
#include "Outside.h"

#include <charconv>
#include <exception>
#include <stdexcept>

const std::string FailureText = Gbk(u8"访问服务器失败，请稍后重试！");

namespace {

// Decimal integer text (optional sign) to int, 0 for anything else.
int DecimalOrZero(const std::string& text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin != end && *begin == '-')
            return 0; // one sign only
    }
    int value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end)
        return 0;
    return value;
}

} // namespace

std::string ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

std::string MemberText(const Json::TJSONobject& answer, const char* name) {
    const Json::TJSONbase* node = answer.Member(name);
    if (node == nullptr)
        throw Json::EJSONError(std::string("Member \"") + name + "\" not found");
    return node->Value().AsString();
}

void PrepareHttp(Winhttpclass::THTTP& http) {
    http.SetTimeouts(HttpTimeout, HttpTimeout, HttpTimeout, HttpTimeout);
    http.SetUserAgent(ClientUserAgent);
    http.KeepAlive = true;
    http.AutoRedirect = true;
}

void SetSessionCookie(Winhttpclass::THTTP& http, const std::string& sessionId,
                      std::int16_t sessionType) {
    http.SetCookies("SID=" + sessionId + ";SType=" + std::to_string(sessionType) + ";");
}

std::string PayloadKey(const std::string& keyPrefix) {
    return tarvo::rules::PayloadKeyText(keyPrefix);
}

bool EncryptPayload(const std::string& plainText, const std::string& keyPrefix,
                    std::string& cipherText) {
    cipherText = Aes::EncryptString(plainText, PayloadKey(keyPrefix), Aes::kb128);
    return true;
}

bool DecryptPayload(const std::string& cipherText, const std::string& keyPrefix,
                    std::string& plainText) {
    try {
        std::string plain = Aes::DecryptString(cipherText, PayloadKey(keyPrefix), Aes::kb128);
        if (const auto zero = plain.find('\0'); zero != std::string::npos)
            plain.resize(zero);
        plainText = std::move(plain);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool AnsweredOk(const Winhttpclass::THTTP& http) {
    return http.RawHeader.find(SuccessMarker) != std::string::npos;
}

std::string CheckHttpResult(const std::string& source, const Winhttpclass::THTTP& http,
                            const std::string& errorMessage) {
    if (AnsweredOk(http))
        return {};
    const std::string text = http.RawHeader.empty() ? FailureText : "Exception: " + errorMessage;
    Log(source, "WinHttpException", text);
    return FailureText;
}

std::string GetPublicIP(Winhttpclass::THTTP& http, const std::string& baseUrl) {
    try {
        std::string answer =
            http.Get(baseUrl + tarvo::rules::path::kClientIp, Winhttpclass::cpNone);
        // An error page (404, a proxy's 502, ...) is no address.
        if (!AnsweredOk(http))
            return {};
        return answer;
    } catch (const std::exception& e) {
        Log("Tarvo", "GetPublicIP", std::string("Exception: ") + e.what());
    } catch (...) {
        Log("Tarvo", "GetPublicIP", "Exception: ");
    }
    return {};
}

bool IsValidPhoneNumber(const std::string& text) {
    return tarvo::rules::IsValidPhoneNumber(text);
}

void HexToStream(const std::string& text, Winhttpclass::TMemoryStream& stream) {
    const std::size_t n = text.size() / 2;
    Winhttpclass::TBytes bytes(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const int high = tarvo::hex::DigitValue(text[2 * i]);
        const int low = tarvo::hex::DigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            break;
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    if (n > 0)
        stream.Write(bytes.data(), static_cast<std::int32_t>(n));
}

int ReadCode(const Json::TJSONobject& answer) {
    const Json::TJSONbase* code = answer.Member("Code");
    if (code == nullptr)
        throw Json::EJSONError("Member \"Code\" not found");
    return DecimalOrZero(code->Value().AsString());
}

std::string SCallResult::Text(const std::string& name) const {
    const Json::TJSONbase* node = Member(name);
    return node == nullptr ? std::string() : node->Value().AsString();
}

Json::TJSONbase* SCallResult::Member(const std::string& name) const {
    return Document ? Document->Member(name) : nullptr;
}

SCallResult CallServer(Winhttpclass::THTTP& http, const std::string& baseUrl,
                       const std::string& path, const Json::TJSONobject* payload,
                       const std::string& keyPrefix, const SCallOptions& options) {
    SCallResult result;
    try {
        Winhttpclass::TUrlEncodedData form(Winhttpclass::cpNone, true);
        for (const auto& [name, value] : options.PlainFields)
            form.Put(name, value);
        if (payload != nullptr) {
            std::string cipherText;
            EncryptPayload(payload->ToText(), keyPrefix, cipherText);
            form.Put("data", cipherText);
        }
        if (options.SetCookie)
            SetSessionCookie(http, options.SessionId, SessionType);
        result.Answer = http.Post(baseUrl + path, form.ToString(), Winhttpclass::cpNone);
        result.Reached = !http.RawHeader.empty();
        result.Ok = AnsweredOk(http) && !result.Answer.empty();
        if (result.Ok) {
            result.Document = Json::ParseJSON(result.Answer);
            result.Code = ReadCode(*result.Document);
        }
    } catch (...) {
        result.Failed = true;
        result.Error = ErrorText(std::current_exception());
        result.Reached = !http.RawHeader.empty();
        if (options.UseCheckHttpResult)
            result.Message = CheckHttpResult(options.Source, http, result.Error);
        else
            Log(options.Source, options.Where, "Exception: " + result.Error);
    }
    return result;
}
