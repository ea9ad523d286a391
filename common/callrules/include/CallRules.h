// What the client and the server must agree on: the payload key rule, the
// password key rule, the phone number rule and the call paths.
#pragma once

#include "AsciiText.h"

#include <array>
#include <string>
#include <string_view>

namespace tarvo::rules {

// Key prefix of calls that give none, and of the version check.
inline constexpr char kDefaultKeyPrefix[] = "3f2a9c4e-8b17-4d6a-b5e0-71c9d2a4f836";
// Appended to every key prefix; only the first 16 bytes form the key.
inline constexpr char kKeySuffix[] = "9F3B6C2D";
// Appended to the account in upper case to give the password's key text;
// 43 ASCII characters.
inline constexpr char kPasswordKeyText[] = "QvAgent#Pwd@Key!2026:studyroad-admin-secret";
static_assert(sizeof(kPasswordKeyText) - 1 == 43);

// The key text of a payload: the prefix (kDefaultKeyPrefix when empty), then
// kKeySuffix.
inline std::string PayloadKeyText(std::string_view keyPrefix) {
    return std::string(keyPrefix.empty() ? std::string_view(kDefaultKeyPrefix) : keyPrefix) +
           kKeySuffix;
}

// The key text of the agent's password: the account with its ASCII letters in
// upper case (GBK bytes stay), then kPasswordKeyText.
inline std::string PasswordKeyText(std::string_view account) {
    return tarvo::ascii::Upper(account) + kPasswordKeyText;
}

// 11 digits after trimming blanks and control characters, the first "1", the
// second "3" to "9", no digit more than 7 times.
constexpr bool IsValidPhoneNumber(std::string_view text) {
    const std::string_view number = tarvo::ascii::TrimControls(text);
    if (number.size() != 11 || number[0] != '1' || number[1] < '3' || number[1] > '9')
        return false;
    std::array<int, 10> counts{};
    for (const char c : number) {
        if (c < '0' || c > '9')
            return false;
        if (++counts[static_cast<std::size_t>(c - '0')] > 7)
            return false;
    }
    return true;
}

// The server's calls, relative to its base URL.
namespace path {
inline constexpr char kLogin[] = "/alogin";
inline constexpr char kHeartbeat[] = "/ahb";
inline constexpr char kLogout[] = "/alogout";
inline constexpr char kUserInfo[] = "/auserinfo";
inline constexpr char kAddStudent[] = "/aaddstu";
inline constexpr char kModifyStudent[] = "/amodifystu";
inline constexpr char kDeleteStudent[] = "/adeletestu";
inline constexpr char kPictureData[] = "/agetpicdata";
inline constexpr char kStudentList[] = "/astulist";
inline constexpr char kUpdateInfo[] = "/aupdateinfo";
inline constexpr char kClientIp[] = "/agetclientip";
} // namespace path

} // namespace tarvo::rules
