#include "Aes.h"

#include "HexDigits.h"

#include <algorithm>
#include <array>

namespace Aes {
namespace {

using Winhttpclass::TMemoryStream;

// The key buffer: the key text's first N bytes, the rest zero.
template <std::size_t N> std::array<std::uint8_t, N> KeyBuffer(std::string_view key) {
    std::array<std::uint8_t, N> buffer{};
    std::copy_n(key.begin(), std::min(N, key.size()), buffer.begin());
    return buffer;
}

Aesblock::TAESEncryptionKey EncryptionKey(std::string_view key, TKeyBit keyBit) {
    switch (keyBit) {
    case kb128:
        return Aesblock::ExpandAESKeyForEncryption(KeyBuffer<16>(key));
    case kb192:
        return Aesblock::ExpandAESKeyForEncryption(KeyBuffer<24>(key));
    case kb256:
        return Aesblock::ExpandAESKeyForEncryption(KeyBuffer<32>(key));
    }
    throw EAESError("Invalid key size");
}

} // namespace

std::string EncryptString(std::string_view value, std::string_view key, TKeyBit keyBit) {
    const auto schedule = EncryptionKey(key, keyBit);
    TMemoryStream source(Winhttpclass::TBytes(value.begin(), value.end()));
    TMemoryStream dest;
    std::uint64_t length = value.size();
    std::array<std::uint8_t, 8> field{};
    for (auto& b : field) {
        b = static_cast<std::uint8_t>(length & 0xFF);
        length >>= 8;
    }
    if (dest.Write(field.data(), 8) != 8)
        throw EStreamError("Stream write error");
    Aesblock::EncryptAESStreamECB(source, 0, schedule, dest);
    return StrToHex(dest.ToString());
}

std::string DecryptString(std::string_view value, std::string_view key, TKeyBit keyBit) {
    std::string bytes = HexToStr(value);
    // A cipher text has whole bytes: the byte of a lone last digit is none of
    // it. Too short for the length field reads as such; otherwise the blocks
    // cannot be whole.
    const bool lone = value.size() % 2 != 0;
    if (lone)
        bytes.pop_back();
    if (lone && bytes.size() >= 8)
        throw EAESError("Invalid buffer size for decryption");
    const auto schedule = Aesblock::ExpandAESKeyForDecryption(EncryptionKey(key, keyBit));
    TMemoryStream source(Winhttpclass::TBytes(bytes.begin(), bytes.end()));
    std::array<std::uint8_t, 8> field{};
    if (source.Read(field.data(), 8) != 8)
        throw EStreamError("Stream read error");
    // A count of 0 would mean the whole stream: the length field alone
    // deciphers to the empty text.
    const std::int64_t left = source.Size() - source.Position();
    if (left == 0)
        return {};
    TMemoryStream dest;
    Aesblock::DecryptAESStreamECB(source, left, schedule, dest);
    return dest.ToString();
}

std::string StrToHex(std::string_view bytes) {
    return tarvo::hex::ToUpperHex(bytes);
}

std::string HexToStr(std::string_view hex) {
    std::string bytes;
    bytes.reserve((hex.size() + 1) / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const std::string_view pair = hex.substr(i, 2);
        int value = 0;
        for (const char c : pair) {
            const int digit = tarvo::hex::DigitValue(c);
            if (digit < 0)
                throw EConvertError("'" + std::string(pair) + "' is not a valid hexadecimal value");
            value = value * 16 + digit;
        }
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

} // namespace Aes
