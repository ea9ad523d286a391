// The server call frame: session preparation, the session cookie, the
// payload cipher and its key rule, the error report, a few shared helpers,
// and CallServer, which makes one enciphered call from start to end.
#pragma once

#include "CallRules.h"
#include "Json.h"
#include "WinHttpClass.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// GBK text shown to the agent when the server could not be reached.
extern const std::string FailureText;

// Key prefix of calls that give none, and of the version check.
inline constexpr const auto& DefaultKeyPrefix = tarvo::rules::kDefaultKeyPrefix;
// Appended to every key prefix; only the first 16 bytes form the key.
inline constexpr const auto& KeySuffix = tarvo::rules::kKeySuffix;
inline constexpr char ClientUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; WOW64; Trident/7.0; rv:11.0) like Gecko";
// Searched for in RawHeader: the server answered with status 200.
inline constexpr char SuccessMarker[] = "200 OK\r\n";
inline constexpr std::int32_t HttpTimeout = 15000; // ms, each of the four
inline constexpr std::int16_t SessionType = 1;     // the "SType" cookie

// 15-second timeouts, the client's user agent, keep-alive and redirects on.
void PrepareHttp(Winhttpclass::THTTP& http);

// The session's cookies become "SID=<id>;SType=<type>;".
void SetSessionCookie(Winhttpclass::THTTP& http, const std::string& sessionId,
                      std::int16_t sessionType);

// The key text of a payload: the prefix (DefaultKeyPrefix when empty) and
// KeySuffix.
std::string PayloadKey(const std::string& keyPrefix);

// Enciphers `plainText` under the key rule; always true.
bool EncryptPayload(const std::string& plainText, const std::string& keyPrefix,
                    std::string& cipherText);

// Deciphers under the key rule. On success `plainText` is the deciphered text
// up to its first zero byte (the block padding is cut off). Any error leaves
// `plainText` as it was and yields false.
bool DecryptPayload(const std::string& cipherText, const std::string& keyPrefix,
                    std::string& plainText);

// True when the session's RawHeader holds SuccessMarker.
bool AnsweredOk(const Winhttpclass::THTTP& http);

// After an error in a call: the empty text when the server answered 200
// (nothing logged); otherwise FailureText, logged under "WinHttpException"
// as FailureText (no answer at all) or "Exception: " + `errorMessage`.
std::string CheckHttpResult(const std::string& source, const Winhttpclass::THTTP& http,
                            const std::string& errorMessage);

// The answer of a plain GET of "/agetclientip" when it came with "200 OK";
// the empty text otherwise.
std::string GetPublicIP(Winhttpclass::THTTP& http, const std::string& baseUrl);

// 11 digits after trimming blanks and control characters, the first "1", the
// second "3" to "9", no digit more than 7 times.
bool IsValidPhoneNumber(const std::string& text);

// Decodes length / 2 bytes from hexadecimal pairs (either case) and writes
// them at the stream's position. Decoding stops at the first pair that is not
// hexadecimal; the bytes from there on are written as zero bytes, so the
// stream always receives length / 2 bytes.
void HexToStream(const std::string& text, Winhttpclass::TMemoryStream& stream);

// "Code" of an answer: its value's text as a decimal integer, 0 when it is
// not one. Raises Json::EJSONError when the member is missing.
int ReadCode(const Json::TJSONobject& answer);

// A member of an answer as text; raises Json::EJSONError when it is missing.
std::string MemberText(const Json::TJSONobject& answer, const char* name);

// The message of a caught error; empty for one that is no std::exception.
std::string ErrorText(const std::exception_ptr& error);

// --- One server call --------------------------------------------------------

struct SCallOptions {
    // Log source and where-name for errors caught in the call.
    std::string Source = "Tarvo";
    std::string Where;
    // Set the cookie "SID=<SessionId>;SType=1;" before posting (calls made
    // while logged in).
    bool SetCookie = false;
    std::string SessionId;
    // Plain form fields sent before "data" (the login's "username").
    std::vector<std::pair<std::string, std::string>> PlainFields;
    // Report errors through CheckHttpResult (its text lands in
    // SCallResult::Message) instead of the log line "Exception: " + message.
    bool UseCheckHttpResult = false;
};

struct SCallResult {
    bool Reached = false;                        // RawHeader not empty: some server answered
    bool Ok = false;                             // "200 OK" and a non-empty answer
    std::string Answer;                          // the answer's bytes as they came
    std::unique_ptr<Json::TJSONobject> Document; // the parsed answer
    int Code = 0;                                // "Code"; 0 when missing or not a number
    bool Failed = false;                         // an error was caught (and reported)
    std::string Error;                           // its message
    std::string Message;                         // CheckHttpResult's text with UseCheckHttpResult

    bool Success() const { return Code == 1; }
    // A member of the answer as text; "" when there is no such member.
    std::string Text(const std::string& name) const;
    // The member node, nullptr when missing.
    Json::TJSONbase* Member(const std::string& name) const;
};

// Posts `payload` (nullptr: no "data" field) enciphered under `keyPrefix` to
// baseUrl + path, reads the answer when it came with "200 OK" and is not
// empty, and reads "Code". Never throws: every error is caught, reported as
// `options` says, and marked in the result.
SCallResult CallServer(Winhttpclass::THTTP& http, const std::string& baseUrl,
                       const std::string& path, const Json::TJSONobject* payload,
                       const std::string& keyPrefix, const SCallOptions& options = {});
