// The protocol's string cipher on the server's side, on OpenSSL's AES: a
// length field of 8 little-endian bytes, then the text zero-padded to whole
// blocks and enciphered with AES-128 in ECB mode under the key text's first
// 16 bytes (a shorter key text padded with zero bytes), all written as
// upper-case hexadecimal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvo::devserver {

std::string EncipherText(std::string_view plain, std::string_view keyText);

// The text of a cipher text, up to the first zero byte of its blocks (the
// padding). Nothing when `hex` is no cipher text: a character that is not a
// hexadecimal digit (either case), an odd count of digits, no length field,
// or blocks that are not whole.
std::optional<std::string> DecipherText(std::string_view hex, std::string_view keyText);

// The agent's password as the client's login sends it (and as the store
// keeps it): the password enciphered under the account's password key text.
std::string PasswordCipher(std::string_view account, std::string_view password);

} // namespace tarvo::devserver
