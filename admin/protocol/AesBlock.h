// The AES block cipher (FIPS-197) and its ECB stream mode.
//
// The system uses 128-bit keys only; 192- and 256-bit keys are served by the
// same functions for Aes::TKeyBit's other sizes.
#pragma once

#include "Stream.h"

#include <array>
#include <cstdint>
#include <stdexcept>

namespace Aesblock {

using TAESBuffer = std::array<std::uint8_t, 16>;
using TAESKey128 = std::array<std::uint8_t, 16>;
using TAESKey192 = std::array<std::uint8_t, 24>;
using TAESKey256 = std::array<std::uint8_t, 32>;

// A key schedule: 4 * (Rounds + 1) words used (44 for a 128-bit key), each
// word holding four key bytes, the first in its most significant byte.
struct TAESExpandedKey {
    std::uint8_t Rounds = 0;
    std::array<std::uint32_t, 60> W{};
};

// The schedule for the cipher, and the one for the equivalent inverse cipher
// (round keys in reverse order, the inner ones passed through InvMixColumns).
struct TAESEncryptionKey : TAESExpandedKey {};
struct TAESDecryptionKey : TAESExpandedKey {};

// Raised for a cipher text that is not a whole number of blocks.
class EAESError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised when a stream delivers or takes fewer bytes than asked:
// "Stream read error", "Stream write error".
class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TAESEncryptionKey ExpandAESKeyForEncryption(const TAESKey128& key);
TAESEncryptionKey ExpandAESKeyForEncryption(const TAESKey192& key);
TAESEncryptionKey ExpandAESKeyForEncryption(const TAESKey256& key);

// Both raise EAESError for a schedule whose round count is not 10, 12 or 14.
TAESBuffer EncryptAES(const TAESBuffer& in, const TAESEncryptionKey& key);

TAESDecryptionKey ExpandAESKeyForDecryption(const TAESKey128& key);
TAESDecryptionKey ExpandAESKeyForDecryption(const TAESKey192& key);
TAESDecryptionKey ExpandAESKeyForDecryption(const TAESKey256& key);
TAESDecryptionKey ExpandAESKeyForDecryption(const TAESEncryptionKey& key);

TAESBuffer DecryptAES(const TAESBuffer& in, const TAESDecryptionKey& key);

// ECB over streams. `count` 0: the whole source from position 0; otherwise
// min(count, bytes left) from the source's current position (a negative count
// reads nothing). Encryption pads a last partial block with zero bytes;
// decryption raises EAESError("Invalid buffer size for decryption") unless
// the count is a whole number of blocks. The blocks are written to `dest` at
// its position.
void EncryptAESStreamECB(Winhttpclass::TStream& source, std::int64_t count, const TAESKey128& key,
                         Winhttpclass::TStream& dest);
void DecryptAESStreamECB(Winhttpclass::TStream& source, std::int64_t count, const TAESKey128& key,
                         Winhttpclass::TStream& dest);

// The same with a schedule made beforehand (any key size).
void EncryptAESStreamECB(Winhttpclass::TStream& source, std::int64_t count,
                         const TAESEncryptionKey& key, Winhttpclass::TStream& dest);
void DecryptAESStreamECB(Winhttpclass::TStream& source, std::int64_t count,
                         const TAESDecryptionKey& key, Winhttpclass::TStream& dest);

} // namespace Aesblock
