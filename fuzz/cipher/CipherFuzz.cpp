// The client's cipher on arbitrary texts. The first byte picks the key size,
// the second the length of the key prefix that follows; the rest is the text.
// As a cipher text it must decipher to whole blocks or fail with one of the
// cipher's own errors, the same in either letter case, and DecryptPayload
// must answer true or false leaving a failed result untouched. As a plain
// text it must encipher to upper-case hexadecimal of the expected length
// that deciphers back to the text and its zero padding.
//   cipher_fuzz -runs=10000000 fuzz/cipher/seeds CORPUS
#include "Aes.h"
#include "Unitcommon.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool IsUpperHex(std::string_view text) {
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

// The deciphered blocks of `text`, or "!" and the error's kind.
std::string Decipher(std::string_view text, std::string_view key, Aes::TKeyBit bits) {
    try {
        return Aes::DecryptString(text, key, bits);
    } catch (const Aes::EConvertError&) {
        return "!convert";
    } catch (const Aes::EStreamError&) {
        return "!stream";
    } catch (const Aes::EAESError&) {
        return "!aes";
    }
}

void AsCipherText(std::string_view text, std::string_view key, Aes::TKeyBit bits,
                  const std::string& prefix) {
    const std::string plain = Decipher(text, key, bits);
    const bool failed = !plain.empty() && plain.front() == '!' &&
                        (plain == "!convert" || plain == "!stream" || plain == "!aes");
    if (!failed) {
        // Whole bytes: the length field, then whole blocks.
        Check(text.size() % 2 == 0 && text.size() >= 16);
        Check(plain.size() == text.size() / 2 - 8 && plain.size() % 16 == 0);
    }
    const std::string lower = LowerCase(text);
    if (lower != text)
        Check(Decipher(lower, key, bits) == plain);

    // DecryptPayload deciphers under the same key with 128 bits, then cuts
    // the text at its first zero byte.
    std::string payload = "untouched";
    const bool ok = DecryptPayload(std::string(text), prefix, payload);
    if (!ok)
        Check(payload == "untouched");
    else
        Check(payload.find('\0') == std::string::npos);
    if (bits == Aes::kb128)
        Check(ok == !failed && (!ok || payload == plain.substr(0, plain.find('\0'))));
}

void AsPlainText(std::string_view text, std::string_view key, Aes::TKeyBit bits,
                 const std::string& prefix) {
    const std::string cipher = Aes::EncryptString(text, key, bits);
    const std::size_t blocks = (text.size() + 15) / 16;
    Check(cipher.size() == 2 * (8 + 16 * blocks) && IsUpperHex(cipher));
    // The length field: the text's length, little-endian.
    std::uint64_t length = 0;
    const std::string field = Aes::HexToStr(cipher.substr(0, 16));
    for (std::size_t i = 8; i-- > 0;)
        length = length * 256 + static_cast<unsigned char>(field[i]);
    Check(length == text.size());

    std::string padded(text);
    padded.resize(16 * blocks, '\0');
    Check(Aes::DecryptString(cipher, key, bits) == padded);
    Check(Aes::HexToStr(Aes::StrToHex(text)) == text);

    // The payload functions use the same key with 128 bits.
    if (bits != Aes::kb128)
        return;
    std::string enciphered;
    Check(EncryptPayload(std::string(text), prefix, enciphered));
    Check(enciphered == cipher);
    std::string back = "untouched";
    Check(DecryptPayload(enciphered, prefix, back));
    Check(back == text.substr(0, text.find('\0')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const auto bits = static_cast<Aes::TKeyBit>(data[0] % 3);
    const std::size_t prefixLength = data[1] % 24;
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string prefix(rest.substr(0, prefixLength));
    const std::string_view text = rest.substr(prefix.size());
    const std::string key = PayloadKey(prefix);
    AsCipherText(text, key, bits, prefix);
    AsPlainText(text, key, bits, prefix);
    return 0;
}
