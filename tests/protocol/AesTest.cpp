// The AES block cipher, its ECB stream mode and the string cipher.
#include "Aes.h"

#include "AesBlock.h"
#include "Encryptpwd.h"
#include "OpenSslAes.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace std::string_literals;
using prototest::FromHex;
using prototest::OpenSslEcb;
using prototest::ReferenceCipherHex;
using prototest::ToHex;

namespace {

template <std::size_t N> std::array<std::uint8_t, N> ArrayFromHex(const std::string& hex) {
    const std::string bytes = FromHex(hex);
    std::array<std::uint8_t, N> a{};
    std::copy_n(bytes.begin(), N, a.begin());
    return a;
}

template <std::size_t N> std::string AsString(const std::array<std::uint8_t, N>& a) {
    return std::string(a.begin(), a.end());
}

template <std::size_t N> std::array<std::uint8_t, N> RandomBytes(std::mt19937& rng) {
    std::array<std::uint8_t, N> a{};
    for (auto& b : a)
        b = static_cast<std::uint8_t>(rng() & 0xFF);
    return a;
}

// FIPS-197 appendix C: the same plaintext under a 128-, 192- and 256-bit key.
struct KnownAnswer {
    std::string Key;
    std::string Cipher;
};

const std::string kPlain = "00112233445566778899AABBCCDDEEFF";
const KnownAnswer kC1{"000102030405060708090A0B0C0D0E0F", "69C4E0D86A7B0430D8CDB78070B4C55A"};
const KnownAnswer kC2{"000102030405060708090A0B0C0D0E0F1011121314151617",
                      "DDA97CA4864CDFE06EAF70A0EC0D7191"};
const KnownAnswer kC3{"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
                      "8EA2B7CA516745BFEAFC49904B496089"};

} // namespace

TEST(AesBlock, Fips197KnownAnswers) {
    const auto plain = ArrayFromHex<16>(kPlain);
    {
        const auto enc = Aesblock::ExpandAESKeyForEncryption(ArrayFromHex<16>(kC1.Key));
        EXPECT_EQ(enc.Rounds, 10);
        EXPECT_EQ(ToHex(AsString(Aesblock::EncryptAES(plain, enc))), kC1.Cipher);
        const auto dec = Aesblock::ExpandAESKeyForDecryption(ArrayFromHex<16>(kC1.Key));
        EXPECT_EQ(ToHex(AsString(Aesblock::DecryptAES(ArrayFromHex<16>(kC1.Cipher), dec))), kPlain);
        // The decryption key made from the encryption schedule is the same.
        const auto fromEnc = Aesblock::ExpandAESKeyForDecryption(enc);
        EXPECT_EQ(fromEnc.W, dec.W);
    }
    {
        const auto enc = Aesblock::ExpandAESKeyForEncryption(ArrayFromHex<24>(kC2.Key));
        EXPECT_EQ(enc.Rounds, 12);
        EXPECT_EQ(ToHex(AsString(Aesblock::EncryptAES(plain, enc))), kC2.Cipher);
        const auto dec = Aesblock::ExpandAESKeyForDecryption(ArrayFromHex<24>(kC2.Key));
        EXPECT_EQ(ToHex(AsString(Aesblock::DecryptAES(ArrayFromHex<16>(kC2.Cipher), dec))), kPlain);
    }
    {
        const auto enc = Aesblock::ExpandAESKeyForEncryption(ArrayFromHex<32>(kC3.Key));
        EXPECT_EQ(enc.Rounds, 14);
        EXPECT_EQ(ToHex(AsString(Aesblock::EncryptAES(plain, enc))), kC3.Cipher);
        const auto dec = Aesblock::ExpandAESKeyForDecryption(ArrayFromHex<32>(kC3.Key));
        EXPECT_EQ(ToHex(AsString(Aesblock::DecryptAES(ArrayFromHex<16>(kC3.Cipher), dec))), kPlain);
    }
}

TEST(AesBlock, KeyScheduleMatchesFips197AppendixA1) {
    // Key 2b7e1516 28aed2a6 abf71588 09cf4f3c: w[4] = a0fafe17, w[43] = b6630ca6.
    const auto enc =
        Aesblock::ExpandAESKeyForEncryption(ArrayFromHex<16>("2B7E151628AED2A6ABF7158809CF4F3C"));
    EXPECT_EQ(enc.W[4], 0xa0fafe17U);
    EXPECT_EQ(enc.W[23], 0x11f915bcU);
    EXPECT_EQ(enc.W[43], 0xb6630ca6U);
}

TEST(AesBlock, AgreesWithOpenSslOnRandomKeysAndBlocks) {
    std::mt19937 rng(20260101);
    for (int i = 0; i < 300; ++i) {
        const auto key128 = RandomBytes<16>(rng);
        const auto key192 = RandomBytes<24>(rng);
        const auto key256 = RandomBytes<32>(rng);
        const auto block = RandomBytes<16>(rng);
        struct Case {
            std::string Key;
            Aesblock::TAESEncryptionKey Enc;
        } cases[] = {
            {AsString(key128), Aesblock::ExpandAESKeyForEncryption(key128)},
            {AsString(key192), Aesblock::ExpandAESKeyForEncryption(key192)},
            {AsString(key256), Aesblock::ExpandAESKeyForEncryption(key256)},
        };
        for (const auto& c : cases) {
            const std::string expected = OpenSslEcb(true, c.Key, AsString(block));
            const auto ours = Aesblock::EncryptAES(block, c.Enc);
            ASSERT_EQ(ToHex(AsString(ours)), ToHex(expected)) << "key " << ToHex(c.Key);
            const auto back =
                Aesblock::DecryptAES(ours, Aesblock::ExpandAESKeyForDecryption(c.Enc));
            ASSERT_EQ(back, block) << "key " << ToHex(c.Key);
        }
    }
}

TEST(AesBlock, ScheduleWithForeignRoundCountIsRefused) {
    Aesblock::TAESEncryptionKey bogus;
    bogus.Rounds = 200;
    EXPECT_THROW(Aesblock::EncryptAES({}, bogus), Aesblock::EAESError);
    EXPECT_THROW(Aesblock::ExpandAESKeyForDecryption(bogus), Aesblock::EAESError);
    Aesblock::TAESDecryptionKey empty;
    EXPECT_THROW(Aesblock::DecryptAES({}, empty), Aesblock::EAESError);
}

// --- ECB over streams -------------------------------------------------------

namespace {

const Aesblock::TAESKey128 kStreamKey = ArrayFromHex<16>("000102030405060708090A0B0C0D0E0F");

Winhttpclass::TMemoryStream StreamOf(const std::string& s) {
    return Winhttpclass::TMemoryStream(Winhttpclass::TBytes(s.begin(), s.end()));
}

std::string Reference(const std::string& plain) {
    std::string padded = plain;
    padded.resize((plain.size() + 15) / 16 * 16, '\0');
    return OpenSslEcb(true, AsString(kStreamKey), padded);
}

// A stream that refuses to take or give more than a few bytes.
class ShortStream : public Winhttpclass::TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    std::int32_t Write(const void* data, std::int32_t count) override {
        return TMemoryStream::Write(data, std::min(count, 5));
    }
    std::int32_t Read(void* data, std::int32_t count) override {
        return TMemoryStream::Read(data, std::min(count, 5));
    }
};

} // namespace

TEST(AesBlockStream, CountSelectsTheBytesEnciphered) {
    const std::string text = "0123456789abcdefghijklmnopqrstuvwxyz"; // 36 bytes
    struct Case {
        const char* Name;
        std::int64_t Start;
        std::int64_t Count;
        std::string Plain;
    } cases[] = {
        {"zero: whole source from 0, whatever the position", 20, 0, text},
        {"count from the current position", 4, 16, text.substr(4, 16)},
        {"count beyond the end is cut", 30, 100, text.substr(30)},
        {"partial block is zero padded", 0, 3, text.substr(0, 3)},
        {"negative count reads nothing", 0, -5, ""},
        {"at the end nothing is left", 36, 7, ""},
    };
    for (const auto& c : cases) {
        auto source = StreamOf(text);
        source.Seek(c.Start);
        Winhttpclass::TMemoryStream dest;
        Aesblock::EncryptAESStreamECB(source, c.Count, kStreamKey, dest);
        EXPECT_EQ(ToHex(dest.ToString()), ToHex(Reference(c.Plain))) << c.Name;
    }
}

TEST(AesBlockStream, AppendsAtTheDestinationPositionAndDecipherRoundTrips) {
    const std::string text = "a text of thirty-three characters";
    auto source = StreamOf(text);
    auto dest = StreamOf("HEAD");
    dest.Seek(4);
    Aesblock::EncryptAESStreamECB(source, 0, kStreamKey, dest);
    ASSERT_EQ(dest.Size(), 4 + 48);
    EXPECT_EQ(dest.ToString().substr(0, 4), "HEAD");

    dest.Seek(4);
    Winhttpclass::TMemoryStream plain;
    Aesblock::DecryptAESStreamECB(dest, 48, kStreamKey, plain);
    std::string expected = text;
    expected.resize(48, '\0');
    EXPECT_EQ(plain.ToString(), expected);
}

TEST(AesBlockStream, Errors) {
    {
        auto source = StreamOf(std::string(20, 'x'));
        Winhttpclass::TMemoryStream dest;
        try {
            Aesblock::DecryptAESStreamECB(source, 0, kStreamKey, dest);
            ADD_FAILURE() << "no error for 20 bytes";
        } catch (const Aesblock::EAESError& e) {
            EXPECT_STREQ(e.what(), "Invalid buffer size for decryption");
        }
        EXPECT_EQ(dest.Size(), 0);
    }
    {
        ShortStream source(Winhttpclass::TBytes(32, 1));
        Winhttpclass::TMemoryStream dest;
        try {
            Aesblock::EncryptAESStreamECB(source, 0, kStreamKey, dest);
            ADD_FAILURE() << "no error from a short read";
        } catch (const Aesblock::EStreamError& e) {
            EXPECT_STREQ(e.what(), "Stream read error");
        }
    }
    {
        auto source = StreamOf(std::string(32, 'y'));
        ShortStream dest;
        try {
            Aesblock::EncryptAESStreamECB(source, 0, kStreamKey, dest);
            ADD_FAILURE() << "no error from a short write";
        } catch (const Aesblock::EStreamError& e) {
            EXPECT_STREQ(e.what(), "Stream write error");
        }
    }
}

// --- The string cipher ------------------------------------------------------

TEST(AesString, FormatAgainstReference) {
    const std::string key = "3f2a9c4e-8b17-4d6a-b5e0-71c9d2a4f8369F3B6C2D";
    struct Case {
        std::string Plain;
        std::size_t HexLength;
        const char* LengthField;
    } cases[] = {
        {"", 16, "0000000000000000"},
        {"abc", 48, "0300000000000000"},
        {"0123456789ABCDEF", 48, "1000000000000000"},
        {"0123456789ABCDEFG", 80, "1100000000000000"},
        {std::string(300, 'z'), 16 + 2 * 304, "2C01000000000000"},
        {"\xcc\xe1\xca\xbe with GBK and a \0 inside"s, 16 + 64, "1C00000000000000"},
    };
    for (const auto& c : cases) {
        const std::string hex = Aes::EncryptString(c.Plain, key, Aes::kb128);
        EXPECT_EQ(hex.size(), c.HexLength) << c.Plain.size();
        EXPECT_EQ(hex.substr(0, 16), c.LengthField) << c.Plain.size();
        EXPECT_EQ(hex, ReferenceCipherHex(c.Plain, key)) << c.Plain.size();
        std::string padded = c.Plain;
        padded.resize((c.Plain.size() + 15) / 16 * 16, '\0');
        EXPECT_EQ(Aes::DecryptString(hex, key, Aes::kb128), padded) << c.Plain.size();
    }
}

TEST(AesString, EmptyTextIsTheLengthFieldAloneUnderAnyKey) {
    for (const char* key : {"", "k", "0123456789abcdefXYZ"}) {
        EXPECT_EQ(Aes::EncryptString("", key, Aes::kb128), "0000000000000000");
        EXPECT_EQ(Aes::DecryptString("0000000000000000", key, Aes::kb128), "");
    }
}

TEST(AesString, KeyBuffer) {
    const std::string plain = "{\"cver\":\"1.0.0.1\"}";
    // Only the first 16 bytes count.
    EXPECT_EQ(Aes::EncryptString(plain, "0123456789abcdefTAIL-ONE", Aes::kb128),
              Aes::EncryptString(plain, "0123456789abcdefOTHER", Aes::kb128));
    EXPECT_EQ(Aes::EncryptString(plain, "0123456789abcdef", Aes::kb128),
              Aes::EncryptString(plain, "0123456789abcdefOTHER", Aes::kb128));
    // A short key is padded with zero bytes, not repeated or hashed.
    EXPECT_EQ(Aes::EncryptString(plain, "short", Aes::kb128),
              Aes::EncryptString(plain, "short\0\0\0"s, Aes::kb128));
    EXPECT_EQ(Aes::EncryptString(plain, "short", Aes::kb128), ReferenceCipherHex(plain, "short"));
    // The 16th byte does count, and case is not folded.
    EXPECT_NE(Aes::EncryptString(plain, "0123456789abcdeF", Aes::kb128),
              Aes::EncryptString(plain, "0123456789abcdef", Aes::kb128));
}

TEST(AesString, DecipherInput) {
    const std::string key = "any key";
    const std::string hex = Aes::EncryptString("lower case input", key, Aes::kb128);
    std::string lower = hex;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Aes::DecryptString(lower, key, Aes::kb128), "lower case input");

    struct Case {
        std::string Hex;
        const char* Message;
    } failures[] = {
        {"0300000000000000" + std::string(20, 'A'), "Invalid buffer size for decryption"},
        {"030000000000000", "Stream read error"},
        {"0000000000000000" + std::string(1, '0'), "Invalid buffer size for decryption"},
        {hex.substr(0, hex.size() - 1), "Invalid buffer size for decryption"},
        {hex + "0", "Invalid buffer size for decryption"},
        {"", "Stream read error"},
        {"03000000000000ZZ" + hex.substr(16), "'ZZ' is not a valid hexadecimal value"},
    };
    for (const auto& f : failures) {
        try {
            Aes::DecryptString(f.Hex, key, Aes::kb128);
            ADD_FAILURE() << "no error for " << f.Hex;
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), f.Message) << f.Hex;
        }
    }
    EXPECT_THROW(Aes::DecryptString("0300000000000000" + std::string(20, 'A'), key, Aes::kb128),
                 Aes::EAESError);
    EXPECT_THROW(Aes::DecryptString("0300", key, Aes::kb128), Aes::EStreamError);
    EXPECT_THROW(Aes::DecryptString("0G00000000000000", key, Aes::kb128), Aes::EConvertError);
}

TEST(AesString, LargerKeySizes) {
    const std::string plain = "seventeen bytes!!";
    const std::string key = "0123456789abcdefghijklmnopqrstuvwxyz";
    struct Case {
        Aes::TKeyBit Bit;
        std::size_t KeyBytes;
    } cases[] = {{Aes::kb192, 24}, {Aes::kb256, 32}};
    for (const auto& c : cases) {
        const std::string hex = Aes::EncryptString(plain, key, c.Bit);
        std::string padded = plain;
        padded.resize(32, '\0');
        EXPECT_EQ(hex.substr(16), ToHex(OpenSslEcb(true, key.substr(0, c.KeyBytes), padded)));
        EXPECT_EQ(Aes::DecryptString(hex, key, c.Bit), padded);
    }
    EXPECT_THROW(Aes::EncryptString(plain, key, static_cast<Aes::TKeyBit>(3)), Aes::EAESError);
}

TEST(AesHex, Conversions) {
    EXPECT_EQ(Aes::StrToHex("\x00\x0f\xa0\xff"s), "000FA0FF");
    EXPECT_EQ(Aes::StrToHex(""), "");
    struct Case {
        const char* Hex;
        std::string Bytes;
    } cases[] = {
        {"000FA0FF", "\x00\x0f\xa0\xff"s},
        {"0a1b", "\x0a\x1b"},
        {"abC", "\xab\x0c"},
        {"7", "\x07"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Aes::HexToStr(c.Hex), c.Bytes) << c.Hex;
    for (const char* bad : {"0x", "G0", "1 ", " 1", "-1", "ab+c", "abc!"})
        EXPECT_THROW(Aes::HexToStr(bad), Aes::EConvertError) << bad;
}

TEST(EncryptPassword, KeyIsTheUpperCasedAccountAndTheFixedText) {
    const std::string fixed = "QvAgent#Pwd@Key!2026:studyroad-admin-secret";
    struct Case {
        std::string Account;
        std::string Password;
    } cases[] = {
        {"13812345678", "secret"},
        {"abc", "pw"},   // upper-cased: "ABC" + fixed
        {"", "nothing"}, // the fixed text alone
        {"agent-with-a-long-name", "x"},
    };
    for (const auto& c : cases) {
        std::string upper = c.Account;
        for (auto& ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        const std::string got = EncryptPassword(c.Account, c.Password);
        EXPECT_EQ(got, ReferenceCipherHex(c.Password, upper + fixed)) << c.Account;
        EXPECT_EQ(got, Aes::EncryptString(c.Password, upper + fixed, Aes::kb128)) << c.Account;
    }
    EXPECT_EQ(EncryptPassword("abc", "pw"), EncryptPassword("ABC", "pw"));
    EXPECT_NE(EncryptPassword("abd", "pw"), EncryptPassword("abc", "pw"));
}
