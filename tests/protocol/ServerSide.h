// What the tests of the call frame share: the server's side of the envelope
// (form fields, cookies, the payload deciphered with OpenSSL), a prepared
// client session, and the log lines debuglog wrote.
#pragma once

#include "HexDigits.h"
#include "Json.h"
#include "LoopbackServer.h"
#include "OpenSslAes.h"
#include "TempDir.h"
#include "Unitcommon.h"
#include "WinHttpClass.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace prototest {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// "a=1&b=%41&" as the server reads it: pairs in order, values percent-decoded.
inline FormFields ParseForm(const std::string& body) {
    FormFields fields;
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t amp = body.find('&', pos);
        if (amp == std::string::npos)
            amp = body.size();
        const std::string pair = body.substr(pos, amp - pos);
        pos = amp + 1;
        if (pair.empty())
            continue;
        const std::size_t eq = pair.find('=');
        std::string name = pair.substr(0, eq);
        std::string raw = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
        std::string value;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '%' && i + 2 < raw.size() && tarvo::hex::DigitValue(raw[i + 1]) >= 0 &&
                tarvo::hex::DigitValue(raw[i + 2]) >= 0) {
                value.push_back(static_cast<char>(tarvo::hex::DigitValue(raw[i + 1]) * 16 +
                                                  tarvo::hex::DigitValue(raw[i + 2])));
                i += 2;
            } else {
                value.push_back(raw[i] == '+' ? ' ' : raw[i]);
            }
        }
        fields.emplace_back(std::move(name), std::move(value));
    }
    return fields;
}

// The plaintext of a payload as the server reads it: every digit must be
// upper-case hexadecimal, the length field must fit the blocks, and the
// padding after the text must be zero bytes.
inline std::string ServerDecipher(const std::string& hex, const std::string& keyText) {
    for (const char c : hex)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            throw std::runtime_error("not upper-case hexadecimal: " + hex);
    if (hex.size() < 16 + 32 || (hex.size() - 16) % 32 != 0)
        throw std::runtime_error("not a length field and whole blocks: " + hex);
    const std::string bytes = FromHex(hex);
    std::uint64_t length = 0;
    for (int i = 7; i >= 0; --i)
        length = length * 256 + static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    const std::string blocks = OpenSslEcb(false, KeyBuffer16(keyText), bytes.substr(8));
    if (length > blocks.size() || blocks.size() - length >= 16)
        throw std::runtime_error("length field does not fit the blocks");
    if (blocks.find_first_not_of('\0', length) != std::string::npos)
        throw std::runtime_error("padding is not zero bytes");
    return blocks.substr(0, length);
}

// Member names of a JSON object in order, and the object itself.
inline std::vector<std::string> MemberNames(const Json::TJSONobject& object) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < object.Count(); ++i)
        names.push_back(object.Name(i));
    return names;
}

inline std::string MemberText(const Json::TJSONobject& object, const std::string& name) {
    const Json::TJSONbase* node = object.Member(name);
    if (node == nullptr)
        throw std::runtime_error("no member " + name);
    return node->Value().AsString();
}

// The form field "data" of a request deciphered under `keyPrefix` + KeySuffix
// and parsed.
inline std::unique_ptr<Json::TJSONobject> ReadPayload(const testsupport::ReceivedRequest& request,
                                                      const std::string& keyPrefix) {
    for (const auto& [name, value] : ParseForm(request.body))
        if (name == "data")
            return Json::ParseJSON(ServerDecipher(value, keyPrefix + KeySuffix));
    throw std::runtime_error("no form field data in: " + request.body);
}

// A JSON answer with the status line "HTTP/1.1 200 OK".
inline std::string JsonAnswer(const std::string& gbkJson) {
    return testsupport::HttpResponse(200, "OK", gbkJson,
                                     {{"Content-Type", "application/json; charset=GBK"}});
}

// A port nothing listens on: a server is started and stopped.
inline std::uint16_t ClosedPort() {
    std::uint16_t port = 0;
    {
        testsupport::ScriptedServer server(
            [](const testsupport::ReceivedRequest&) { return std::string(); });
        port = server.Port();
    }
    return port;
}

inline std::string ClosedBaseUrl() {
    return "http://127.0.0.1:" + std::to_string(ClosedPort());
}

// A session as every window makes it: four empty texts, then PrepareHttp.
inline std::unique_ptr<Winhttpclass::THTTP> PreparedSession() {
    auto http = std::make_unique<Winhttpclass::THTTP>("", "", "", "");
    PrepareHttp(*http);
    return http;
}

// Points TARVO_LOG_FILE at a fresh file for the life of the object, clears
// the proxy environment, and reads back what debuglog wrote there.
class LogCapture {
public:
    LogCapture() {
        testsupport::ClearProxyEnvironment();
        FFile = FDir.Path() / "test.log";
        if (const char* old = std::getenv("TARVO_LOG_FILE"))
            FOld = old;
        ::setenv("TARVO_LOG_FILE", FFile.c_str(), 1);
    }
    ~LogCapture() {
        if (FOld)
            ::setenv("TARVO_LOG_FILE", FOld->c_str(), 1);
        else
            ::unsetenv("TARVO_LOG_FILE");
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line written so far without its time stamp: "source where: text"
    // (UTF-8).
    std::vector<std::string> Lines() const {
        static const std::regex stamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");
        std::vector<std::string> lines;
        std::ifstream in(FFile, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            lines.push_back(
                std::regex_replace(line, stamp, "", std::regex_constants::format_first_only));
        return lines;
    }

private:
    testsupport::TempDir FDir{"tarvo-protocol"};
    std::filesystem::path FFile;
    std::optional<std::string> FOld;
};

// A UTF-8 source literal as a std::string (what the log file holds).
inline std::string Utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

} // namespace prototest
