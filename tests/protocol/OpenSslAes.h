// AES-ECB without padding through OpenSSL: the reference the tests hold our
// own cipher and what the client sends against.
#pragma once

#include <memory>
#include <openssl/evp.h>
#include <stdexcept>
#include <string>
#include <string_view>

namespace prototest {

inline const EVP_CIPHER* EcbCipher(std::size_t keySize) {
    switch (keySize) {
    case 16:
        return EVP_aes_128_ecb();
    case 24:
        return EVP_aes_192_ecb();
    case 32:
        return EVP_aes_256_ecb();
    default:
        throw std::invalid_argument("key size");
    }
}

// `data` must be a whole number of blocks.
inline std::string OpenSslEcb(bool encrypt, std::string_view key, std::string_view data) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EcbCipher(key.size()), nullptr, k, nullptr,
                                  encrypt ? 1 : 0) != 1)
        throw std::runtime_error("EVP_CipherInit_ex");
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    std::string out(data.size() + 16, '\0');
    int n = 0;
    int tail = 0;
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(ctx.get(), o, &n, reinterpret_cast<const unsigned char*>(data.data()),
                         static_cast<int>(data.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), o + n, &tail) != 1)
        throw std::runtime_error("EVP_Cipher");
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

// The key buffer of the string cipher: the first 16 bytes, zero-padded.
inline std::string KeyBuffer16(std::string_view keyText) {
    std::string key(keyText.substr(0, 16));
    key.resize(16, '\0');
    return key;
}

inline std::string ToHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const char c : bytes) {
        hex.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
        hex.push_back(kDigits[static_cast<unsigned char>(c) & 15]);
    }
    return hex;
}

inline std::string FromHex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

// What the string cipher must produce, computed with OpenSSL: the length
// field, then the zero-padded plaintext enciphered under the key buffer.
inline std::string ReferenceCipherHex(std::string_view plain, std::string_view keyText) {
    std::string field(8, '\0');
    std::uint64_t n = plain.size();
    for (auto& b : field) {
        b = static_cast<char>(n & 0xFF);
        n >>= 8;
    }
    std::string padded(plain);
    padded.resize((plain.size() + 15) / 16 * 16, '\0');
    return ToHex(field) + ToHex(OpenSslEcb(true, KeyBuffer16(keyText), padded));
}

// Deciphers what the client sent: length field dropped, padding kept.
inline std::string ReferenceDecipherHex(std::string_view hex, std::string_view keyText) {
    const std::string bytes = FromHex(hex);
    if (bytes.size() < 8)
        throw std::runtime_error("short cipher text");
    return OpenSslEcb(false, KeyBuffer16(keyText), std::string_view(bytes).substr(8));
}

} // namespace prototest
