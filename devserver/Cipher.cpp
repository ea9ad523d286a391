#include "Cipher.h"

#include "CallRules.h"
#include "HexDigits.h"

#include <array>
#include <cstdint>
#include <memory>
#include <openssl/evp.h>
#include <stdexcept>

namespace tarvo::devserver {

namespace {

constexpr std::size_t kBlock = 16;
constexpr std::size_t kLengthField = 8;

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// AES-128-ECB without padding over whole blocks.
std::string Ecb(bool encrypt, std::string_view keyText, std::string_view blocks) {
    std::array<unsigned char, kBlock> key{};
    keyText.copy(reinterpret_cast<char*>(key.data()), key.size());
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!context || EVP_CipherInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, key.data(),
                                      nullptr, encrypt ? 1 : 0) != 1) {
        throw std::runtime_error("AES: no cipher context");
    }
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    std::string out(blocks.size() + kBlock, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    int written = 0;
    int tail = 0;
    if (EVP_CipherUpdate(context.get(), o, &written,
                         reinterpret_cast<const unsigned char*>(blocks.data()),
                         static_cast<int>(blocks.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), o + written, &tail) != 1) {
        throw std::runtime_error("AES: cipher failed");
    }
    out.resize(static_cast<std::size_t>(written + tail));
    return out;
}

std::optional<std::string> FromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = tarvo::hex::DigitValue(hex[i]);
        const int low = tarvo::hex::DigitValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

} // namespace

std::string EncipherText(std::string_view plain, std::string_view keyText) {
    std::string field(kLengthField, '\0');
    std::uint64_t length = plain.size();
    for (char& byte : field) {
        byte = static_cast<char>(length & 0xFF);
        length >>= 8;
    }
    std::string padded(plain);
    padded.resize((plain.size() + kBlock - 1) / kBlock * kBlock, '\0');
    return tarvo::hex::ToUpperHex(field + Ecb(true, keyText, padded));
}

std::optional<std::string> DecipherText(std::string_view hex, std::string_view keyText) {
    const auto bytes = FromHex(hex);
    if (!bytes || bytes->size() < kLengthField || (bytes->size() - kLengthField) % kBlock != 0) {
        return std::nullopt;
    }
    std::string plain = Ecb(false, keyText, std::string_view(*bytes).substr(kLengthField));
    plain.resize(std::min(plain.size(), plain.find('\0')));
    return plain;
}

std::string PasswordCipher(std::string_view account, std::string_view password) {
    return EncipherText(password, tarvo::rules::PasswordKeyText(account));
}

} // namespace tarvo::devserver
