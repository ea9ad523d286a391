#include "Encryptpwd.h"

#include "Aes.h"
#include "CallRules.h"

std::string EncryptPassword(const std::string& account, const std::string& password) {
    return Aes::EncryptString(password, tarvo::rules::PasswordKeyText(account), Aes::kb128);
}
