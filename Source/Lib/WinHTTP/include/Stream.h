// Byte streams for the HTTP verbs that write an answer into memory or a file,
// and for the program's photo and cipher buffers.
#pragma once

#include "NetvaneApi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Winhttpclass {

using TBytes = std::vector<std::uint8_t>;

// A stream that can seek (offsets from its beginning), read and write.
class NETVANE_API TStream {
public:
    virtual ~TStream();
    // Moves to `offset` from the beginning; returns the new position, or -1.
    virtual std::int64_t Seek(std::int64_t offset) = 0;
    // Writes `count` bytes at the position; returns the count written or -1.
    virtual std::int32_t Write(const void* data, std::int32_t count) = 0;
    // Reads up to `count` bytes from the position; returns the count read or -1.
    virtual std::int32_t Read(void* data, std::int32_t count) = 0;
    virtual std::int64_t Position() const = 0;
    virtual std::int64_t Size() const = 0;
};

// A growable stream in memory. Writing past the end extends it; writing into
// the middle overwrites and never truncates.
class NETVANE_API TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(TBytes bytes) : FData(std::move(bytes)) {}

    std::int64_t Seek(std::int64_t offset) override;
    std::int32_t Write(const void* data, std::int32_t count) override;
    std::int32_t Read(void* data, std::int32_t count) override;
    std::int64_t Position() const override { return FPos; }
    std::int64_t Size() const override { return static_cast<std::int64_t>(FData.size()); }

    const TBytes& Bytes() const { return FData; }
    std::string ToString() const { return std::string(FData.begin(), FData.end()); }
    void Clear();

private:
    TBytes FData;
    std::int64_t FPos = 0;
};

} // namespace Winhttpclass
