#include "Encryptpwd.h"

#include "Aes.h"

#include <algorithm>

namespace {

// Shared with the server; 43 ASCII characters.
constexpr char kPasswordKeyText[] = "QvAgent#Pwd@Key!2026:studyroad-admin-secret";
static_assert(sizeof(kPasswordKeyText) - 1 == 43);

} // namespace

std::string EncryptPassword(const std::string& account, const std::string& password) {
    std::string key = account;
    // ASCII upper case only: the account is a phone number; GBK bytes stay.
    std::transform(key.begin(), key.end(), key.begin(), [](char c) {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    });
    key += kPasswordKeyText;
    return Aes::EncryptString(password, key, Aes::kb128);
}
