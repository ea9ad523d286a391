#include "Stream.h"

#include <algorithm>
#include <cstring>

namespace Winhttpclass {

TStream::~TStream() = default;

std::int64_t TMemoryStream::Seek(std::int64_t offset) {
    if (offset < 0)
        return -1;
    FPos = offset;
    return FPos;
}

std::int32_t TMemoryStream::Write(const void* data, std::int32_t count) {
    if (count < 0 || (count > 0 && data == nullptr))
        return -1;
    const auto pos = static_cast<std::size_t>(FPos);
    const auto end = pos + static_cast<std::size_t>(count);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (pos >= FData.size()) {
        // At or past the end: a gap reads as zero bytes, the data is appended
        // without being zeroed first.
        FData.resize(pos);
        FData.insert(FData.end(), bytes, bytes + count);
    } else {
        const std::size_t inside = std::min(end, FData.size()) - pos;
        if (inside > 0)
            std::memcpy(FData.data() + pos, bytes, inside);
        FData.insert(FData.end(), bytes + inside, bytes + count);
    }
    FPos = static_cast<std::int64_t>(end);
    return count;
}

std::int32_t TMemoryStream::Read(void* data, std::int32_t count) {
    if (count < 0 || (count > 0 && data == nullptr))
        return -1;
    if (FPos >= Size())
        return 0;
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, Size() - FPos));
    std::memcpy(data, FData.data() + FPos, static_cast<std::size_t>(n));
    FPos += n;
    return n;
}

void TMemoryStream::Clear() {
    FData.clear();
    FPos = 0;
}

} // namespace Winhttpclass
