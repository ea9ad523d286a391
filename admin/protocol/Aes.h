// The AES string cipher: a text in, an upper-case hexadecimal text out.
//
// Cipher block: the plaintext's length as 8 little-endian bytes (not
// enciphered), then the plaintext enciphered in ECB mode, its last partial
// block padded with zero bytes. The key is the key text's first 16 (24, 32)
// bytes, a shorter key text padded with zero bytes.
#pragma once

#include "AesBlock.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace Aes {

enum TKeyBit : std::uint8_t { kb128 = 0, kb192 = 1, kb256 = 2 };

// Raised by HexToStr for a pair that is not a hexadecimal number.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Aesblock::EAESError;
using Aesblock::EStreamError;

// The hexadecimal form of the cipher block of `value` (bytes) under `key`.
// kb192 and kb256 use a 24- or 32-byte key buffer and AES-192 or AES-256;
// any other key size raises EAESError.
std::string EncryptString(std::string_view value, std::string_view key, TKeyBit keyBit);

// The deciphered blocks: the plaintext followed by the zero bytes that padded
// its last block (the length field is not applied). Raises EConvertError for
// a pair that is not hexadecimal, EStreamError("Stream read error") for fewer
// than the 8 bytes of the length field, EAESError("Invalid buffer size for
// decryption") when the rest is not a whole number of blocks. A text of odd
// length is no cipher text: it fails with one of the last two.
std::string DecryptString(std::string_view value, std::string_view key, TKeyBit keyBit);

// Each byte as two upper-case hexadecimal digits.
std::string StrToHex(std::string_view bytes);

// Two digits to a byte (either letter case); a lone last digit is a byte of
// its own. Raises EConvertError for a pair that is not hexadecimal.
std::string HexToStr(std::string_view hex);

} // namespace Aes
