// The agent's password as the login sends it.
#pragma once

#include <string>

// The password enciphered with Aes::EncryptString (kb128) under the account
// in upper case followed by the program's fixed password key text.
std::string EncryptPassword(const std::string& account, const std::string& password);
