#include "AesBlock.h"

#include <algorithm>
#include <cstddef>

namespace Aesblock {
namespace {

using Bytes16 = TAESBuffer;

constexpr std::uint8_t XTime(std::uint8_t x) {
    return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1B : 0x00));
}

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr std::uint8_t GMul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t r = 0;
    while (b != 0) {
        if ((b & 1) != 0)
            r ^= a;
        a = XTime(a);
        b = static_cast<std::uint8_t>(b >> 1);
    }
    return r;
}

constexpr std::uint8_t RotL8(std::uint8_t x, int n) {
    return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}

// S-box: the multiplicative inverse followed by the affine transformation.
// The inverses come from the powers of the generator 3: x = 3^k has the
// inverse 3^(255 - k).
constexpr std::array<std::uint8_t, 256> MakeSBox() {
    std::array<std::uint8_t, 256> power{};
    std::array<std::uint8_t, 256> log{};
    std::uint8_t x = 1;
    for (int k = 0; k < 255; ++k) {
        power[static_cast<std::size_t>(k)] = x;
        log[x] = static_cast<std::uint8_t>(k);
        x = static_cast<std::uint8_t>(x ^ XTime(x)); // x * 3
    }
    std::array<std::uint8_t, 256> box{};
    for (int v = 0; v < 256; ++v) {
        const std::uint8_t inv =
            v == 0
                ? 0
                : power[static_cast<std::size_t>((255 - log[static_cast<std::size_t>(v)]) % 255)];
        box[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(
            inv ^ RotL8(inv, 1) ^ RotL8(inv, 2) ^ RotL8(inv, 3) ^ RotL8(inv, 4) ^ 0x63);
    }
    return box;
}

constexpr std::array<std::uint8_t, 256> MakeInvSBox(const std::array<std::uint8_t, 256>& box) {
    std::array<std::uint8_t, 256> inv{};
    for (std::size_t i = 0; i < 256; ++i)
        inv[box[i]] = static_cast<std::uint8_t>(i);
    return inv;
}

constexpr std::array<std::uint8_t, 256> MakeMulTable(std::uint8_t factor) {
    std::array<std::uint8_t, 256> t{};
    for (std::size_t i = 0; i < 256; ++i)
        t[i] = GMul(static_cast<std::uint8_t>(i), factor);
    return t;
}

constexpr auto kSBox = MakeSBox();
constexpr auto kInvSBox = MakeInvSBox(kSBox);
constexpr auto kMul2 = MakeMulTable(2);
constexpr auto kMul3 = MakeMulTable(3);
constexpr auto kMul9 = MakeMulTable(9);
constexpr auto kMul11 = MakeMulTable(11);
constexpr auto kMul13 = MakeMulTable(13);
constexpr auto kMul14 = MakeMulTable(14);

static_assert(kSBox[0x00] == 0x63 && kSBox[0x53] == 0xED && kSBox[0xFF] == 0x16);
static_assert(kInvSBox[0x63] == 0x00);

constexpr std::uint32_t SubWord(std::uint32_t w) {
    return (static_cast<std::uint32_t>(kSBox[(w >> 24) & 0xFF]) << 24) |
           (static_cast<std::uint32_t>(kSBox[(w >> 16) & 0xFF]) << 16) |
           (static_cast<std::uint32_t>(kSBox[(w >> 8) & 0xFF]) << 8) |
           static_cast<std::uint32_t>(kSBox[w & 0xFF]);
}

constexpr std::uint32_t RotWord(std::uint32_t w) {
    return (w << 8) | (w >> 24);
}

// Key expansion for Nk = 4, 6 or 8 key words.
template <std::size_t N> TAESEncryptionKey Expand(const std::array<std::uint8_t, N>& key) {
    constexpr std::size_t nk = N / 4;
    constexpr std::size_t rounds = nk + 6;
    constexpr std::size_t words = 4 * (rounds + 1);
    TAESEncryptionKey out;
    out.Rounds = static_cast<std::uint8_t>(rounds);
    for (std::size_t i = 0; i < nk; ++i)
        out.W[i] = (static_cast<std::uint32_t>(key[4 * i]) << 24) |
                   (static_cast<std::uint32_t>(key[4 * i + 1]) << 16) |
                   (static_cast<std::uint32_t>(key[4 * i + 2]) << 8) |
                   static_cast<std::uint32_t>(key[4 * i + 3]);
    std::uint8_t rcon = 0x01;
    for (std::size_t i = nk; i < words; ++i) {
        std::uint32_t temp = out.W[i - 1];
        if (i % nk == 0) {
            temp = SubWord(RotWord(temp)) ^ (static_cast<std::uint32_t>(rcon) << 24);
            rcon = XTime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            temp = SubWord(temp);
        }
        out.W[i] = out.W[i - nk] ^ temp;
    }
    return out;
}

void AddRoundKey(Bytes16& s, const TAESExpandedKey& key, std::size_t round) {
    for (std::size_t c = 0; c < 4; ++c) {
        const std::uint32_t w = key.W[4 * round + c];
        s[4 * c] ^= static_cast<std::uint8_t>(w >> 24);
        s[4 * c + 1] ^= static_cast<std::uint8_t>(w >> 16);
        s[4 * c + 2] ^= static_cast<std::uint8_t>(w >> 8);
        s[4 * c + 3] ^= static_cast<std::uint8_t>(w);
    }
}

// The state is column-major: byte r + 4c is row r of column c.
void SubBytes(Bytes16& s, const std::array<std::uint8_t, 256>& box) {
    for (auto& b : s)
        b = box[b];
}

void ShiftRows(Bytes16& s) {
    const Bytes16 t = s;
    for (std::size_t r = 1; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c)
            s[r + 4 * c] = t[r + 4 * ((c + r) % 4)];
}

void InvShiftRows(Bytes16& s) {
    const Bytes16 t = s;
    for (std::size_t r = 1; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c)
            s[r + 4 * ((c + r) % 4)] = t[r + 4 * c];
}

void MixColumn(std::uint8_t* a) {
    const std::uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    a[0] = static_cast<std::uint8_t>(kMul2[a0] ^ kMul3[a1] ^ a2 ^ a3);
    a[1] = static_cast<std::uint8_t>(a0 ^ kMul2[a1] ^ kMul3[a2] ^ a3);
    a[2] = static_cast<std::uint8_t>(a0 ^ a1 ^ kMul2[a2] ^ kMul3[a3]);
    a[3] = static_cast<std::uint8_t>(kMul3[a0] ^ a1 ^ a2 ^ kMul2[a3]);
}

void InvMixColumn(std::uint8_t* a) {
    const std::uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    a[0] = static_cast<std::uint8_t>(kMul14[a0] ^ kMul11[a1] ^ kMul13[a2] ^ kMul9[a3]);
    a[1] = static_cast<std::uint8_t>(kMul9[a0] ^ kMul14[a1] ^ kMul11[a2] ^ kMul13[a3]);
    a[2] = static_cast<std::uint8_t>(kMul13[a0] ^ kMul9[a1] ^ kMul14[a2] ^ kMul11[a3]);
    a[3] = static_cast<std::uint8_t>(kMul11[a0] ^ kMul13[a1] ^ kMul9[a2] ^ kMul14[a3]);
}

std::uint32_t InvMixWord(std::uint32_t w) {
    std::uint8_t col[4] = {static_cast<std::uint8_t>(w >> 24), static_cast<std::uint8_t>(w >> 16),
                           static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w)};
    InvMixColumn(col);
    return (static_cast<std::uint32_t>(col[0]) << 24) | (static_cast<std::uint32_t>(col[1]) << 16) |
           (static_cast<std::uint32_t>(col[2]) << 8) | static_cast<std::uint32_t>(col[3]);
}

// Bytes of `source` the stream functions work on, the source positioned.
std::int64_t StreamCount(Winhttpclass::TStream& source, std::int64_t count) {
    if (count == 0) {
        if (source.Seek(0) != 0)
            throw EStreamError("Stream read error");
        return source.Size();
    }
    const std::int64_t left = std::max<std::int64_t>(0, source.Size() - source.Position());
    return std::clamp<std::int64_t>(count, 0, left);
}

void ReadBlock(Winhttpclass::TStream& source, std::uint8_t* data, std::int32_t size) {
    if (source.Read(data, size) != size)
        throw EStreamError("Stream read error");
}

void WriteBlock(Winhttpclass::TStream& dest, const Bytes16& block) {
    if (dest.Write(block.data(), 16) != 16)
        throw EStreamError("Stream write error");
}

// Round count of a schedule; anything but 10, 12 or 14 is no schedule of ours.
std::size_t RoundsOf(const TAESExpandedKey& key) {
    if (key.Rounds != 10 && key.Rounds != 12 && key.Rounds != 14)
        throw EAESError("Invalid expanded key");
    return key.Rounds;
}

} // namespace

TAESEncryptionKey ExpandAESKeyForEncryption(const TAESKey128& key) {
    return Expand(key);
}
TAESEncryptionKey ExpandAESKeyForEncryption(const TAESKey192& key) {
    return Expand(key);
}
TAESEncryptionKey ExpandAESKeyForEncryption(const TAESKey256& key) {
    return Expand(key);
}

TAESBuffer EncryptAES(const TAESBuffer& in, const TAESEncryptionKey& key) {
    Bytes16 s = in;
    const std::size_t rounds = RoundsOf(key);
    AddRoundKey(s, key, 0);
    for (std::size_t round = 1; round < rounds; ++round) {
        SubBytes(s, kSBox);
        ShiftRows(s);
        for (std::size_t c = 0; c < 4; ++c)
            MixColumn(&s[4 * c]);
        AddRoundKey(s, key, round);
    }
    SubBytes(s, kSBox);
    ShiftRows(s);
    AddRoundKey(s, key, rounds);
    return s;
}

TAESDecryptionKey ExpandAESKeyForDecryption(const TAESEncryptionKey& key) {
    TAESDecryptionKey out;
    const std::size_t rounds = RoundsOf(key);
    out.Rounds = key.Rounds;
    for (std::size_t round = 0; round <= rounds; ++round) {
        for (std::size_t c = 0; c < 4; ++c) {
            const std::uint32_t w = key.W[4 * (rounds - round) + c];
            out.W[4 * round + c] = (round == 0 || round == rounds) ? w : InvMixWord(w);
        }
    }
    return out;
}

TAESDecryptionKey ExpandAESKeyForDecryption(const TAESKey128& key) {
    return ExpandAESKeyForDecryption(Expand(key));
}
TAESDecryptionKey ExpandAESKeyForDecryption(const TAESKey192& key) {
    return ExpandAESKeyForDecryption(Expand(key));
}
TAESDecryptionKey ExpandAESKeyForDecryption(const TAESKey256& key) {
    return ExpandAESKeyForDecryption(Expand(key));
}

// The equivalent inverse cipher: the same order of steps as the cipher.
TAESBuffer DecryptAES(const TAESBuffer& in, const TAESDecryptionKey& key) {
    Bytes16 s = in;
    const std::size_t rounds = RoundsOf(key);
    AddRoundKey(s, key, 0);
    for (std::size_t round = 1; round < rounds; ++round) {
        SubBytes(s, kInvSBox);
        InvShiftRows(s);
        for (std::size_t c = 0; c < 4; ++c)
            InvMixColumn(&s[4 * c]);
        AddRoundKey(s, key, round);
    }
    SubBytes(s, kInvSBox);
    InvShiftRows(s);
    AddRoundKey(s, key, rounds);
    return s;
}

void EncryptAESStreamECB(Winhttpclass::TStream& source, std::int64_t count,
                         const TAESEncryptionKey& key, Winhttpclass::TStream& dest) {
    std::int64_t left = StreamCount(source, count);
    Bytes16 block{};
    while (left >= 16) {
        ReadBlock(source, block.data(), 16);
        WriteBlock(dest, EncryptAES(block, key));
        left -= 16;
    }
    if (left > 0) {
        block.fill(0);
        ReadBlock(source, block.data(), static_cast<std::int32_t>(left));
        WriteBlock(dest, EncryptAES(block, key));
    }
}

void DecryptAESStreamECB(Winhttpclass::TStream& source, std::int64_t count,
                         const TAESDecryptionKey& key, Winhttpclass::TStream& dest) {
    std::int64_t left = StreamCount(source, count);
    if (left % 16 != 0)
        throw EAESError("Invalid buffer size for decryption");
    Bytes16 block{};
    while (left > 0) {
        ReadBlock(source, block.data(), 16);
        WriteBlock(dest, DecryptAES(block, key));
        left -= 16;
    }
}

void EncryptAESStreamECB(Winhttpclass::TStream& source, std::int64_t count, const TAESKey128& key,
                         Winhttpclass::TStream& dest) {
    EncryptAESStreamECB(source, count, ExpandAESKeyForEncryption(key), dest);
}

void DecryptAESStreamECB(Winhttpclass::TStream& source, std::int64_t count, const TAESKey128& key,
                         Winhttpclass::TStream& dest) {
    DecryptAESStreamECB(source, count, ExpandAESKeyForDecryption(key), dest);
}

} // namespace Aesblock
