// Reads the version note from an ELF file. Only the file header, the section
// (or program) header table and the note areas are read; every offset and
// size taken from the file is checked against the file's size first.
#include "VersionNote.h"

#include <cstddef>
#include <cstring>
#include <fstream>
#include <vector>

namespace tarvo {
namespace {

// The note written by tarvo_add_version_note.
constexpr char kNoteName[] = "Tarvo"; // with its zero: 6 bytes
constexpr std::uint32_t kNoteType = 1;
constexpr std::uint32_t kNoteDescSize = 8;

constexpr std::uint32_t kShtNote = 7;
constexpr std::uint32_t kPtNote = 4;
// Note areas larger than this are not ours and are not read.
constexpr std::uint64_t kMaxNoteArea = 1U << 20;
// More table entries than this mark a file that is not a sane program file.
constexpr std::uint64_t kMaxEntries = 1U << 16;

std::uint16_t Le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t Le64(const unsigned char* p) {
    return static_cast<std::uint64_t>(Le32(p)) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}

class ElfFile {
public:
    explicit ElfFile(const std::string& path) : FIn(path, std::ios::binary) {
        if (!FIn)
            return;
        FIn.seekg(0, std::ios::end);
        const auto end = FIn.tellg();
        if (end < 0)
            return;
        FSize = static_cast<std::uint64_t>(end);
    }

    std::uint64_t Size() const { return FSize; }

    // Reads `count` bytes at `offset`, or nothing when they are not all there.
    bool Read(std::uint64_t offset, std::uint64_t count, std::vector<unsigned char>& out) {
        if (!FIn || offset > FSize || count > FSize - offset)
            return false;
        out.resize(static_cast<std::size_t>(count));
        if (count == 0)
            return true;
        FIn.clear();
        FIn.seekg(static_cast<std::streamoff>(offset));
        FIn.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(count));
        return FIn.gcount() == static_cast<std::streamsize>(count);
    }

private:
    std::ifstream FIn;
    std::uint64_t FSize = 0;
};

std::uint64_t Align4(std::uint64_t n) {
    return (n + 3) & ~std::uint64_t{3};
}

// Walks the notes of one note area and picks ours.
std::optional<FileVersion> FindInNotes(const std::vector<unsigned char>& area) {
    const std::uint64_t size = area.size();
    std::uint64_t pos = 0;
    while (size - pos >= 12) {
        const unsigned char* p = area.data() + pos;
        const std::uint64_t nameSize = Le32(p);
        const std::uint64_t descSize = Le32(p + 4);
        const std::uint32_t type = Le32(p + 8);
        pos += 12;
        const std::uint64_t nameEnd = pos + Align4(nameSize);
        if (nameEnd > size)
            return std::nullopt;
        const std::uint64_t descEnd = nameEnd + Align4(descSize);
        if (descEnd > size && nameEnd + descSize > size)
            return std::nullopt;
        if (type == kNoteType && nameSize == sizeof(kNoteName) && descSize == kNoteDescSize &&
            std::memcmp(area.data() + pos, kNoteName, sizeof(kNoteName)) == 0) {
            const unsigned char* d = area.data() + nameEnd;
            return FileVersion{Le16(d), Le16(d + 2), Le16(d + 4), Le16(d + 6)};
        }
        pos = descEnd > size ? size : descEnd;
    }
    return std::nullopt;
}

struct Layout {
    bool Is64;
    std::uint64_t TableOffset;
    std::uint64_t EntrySize;
    std::uint64_t Count;
};

// One table entry's (type, offset, size) for a note area.
struct Area {
    std::uint32_t Type;
    std::uint64_t Offset;
    std::uint64_t Size;
};

Area SectionEntry(const unsigned char* e, bool is64) {
    if (is64)
        return {Le32(e + 4), Le64(e + 24), Le64(e + 32)};
    return {Le32(e + 4), Le32(e + 16), Le32(e + 20)};
}

Area SegmentEntry(const unsigned char* e, bool is64) {
    if (is64)
        return {Le32(e), Le64(e + 8), Le64(e + 32)};
    return {Le32(e), Le32(e + 4), Le32(e + 16)};
}

std::optional<FileVersion> SearchTable(ElfFile& file, const Layout& table,
                                       std::uint64_t minEntrySize, std::uint32_t noteType,
                                       Area (*entry)(const unsigned char*, bool)) {
    if (table.Count == 0 || table.Count > kMaxEntries || table.EntrySize < minEntrySize)
        return std::nullopt;
    std::vector<unsigned char> raw;
    if (!file.Read(table.TableOffset, table.Count * table.EntrySize, raw))
        return std::nullopt;
    std::vector<unsigned char> area;
    for (std::uint64_t i = 0; i < table.Count; ++i) {
        const Area a = entry(raw.data() + i * table.EntrySize, table.Is64);
        if (a.Type != noteType || a.Size > kMaxNoteArea)
            continue;
        if (!file.Read(a.Offset, a.Size, area))
            continue;
        if (auto version = FindInNotes(area))
            return version;
    }
    return std::nullopt;
}

} // namespace

std::optional<FileVersion> ReadVersionNote(const std::string& path) {
    ElfFile file(path);
    std::vector<unsigned char> ident;
    if (!file.Read(0, 16, ident))
        return std::nullopt;
    if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F')
        return std::nullopt;
    const bool is64 = ident[4] == 2;
    if ((ident[4] != 1 && ident[4] != 2) || ident[5] != 1) // class; little-endian only
        return std::nullopt;

    const std::uint64_t headerSize = is64 ? 64 : 52;
    std::vector<unsigned char> h;
    if (!file.Read(0, headerSize, h))
        return std::nullopt;

    Layout sections{};
    Layout segments{};
    sections.Is64 = segments.Is64 = is64;
    if (is64) {
        segments.TableOffset = Le64(&h[32]);
        sections.TableOffset = Le64(&h[40]);
        segments.EntrySize = Le16(&h[54]);
        segments.Count = Le16(&h[56]);
        sections.EntrySize = Le16(&h[58]);
        sections.Count = Le16(&h[60]);
    } else {
        segments.TableOffset = Le32(&h[28]);
        sections.TableOffset = Le32(&h[32]);
        segments.EntrySize = Le16(&h[42]);
        segments.Count = Le16(&h[44]);
        sections.EntrySize = Le16(&h[46]);
        sections.Count = Le16(&h[48]);
    }

    // Sections first; a file stripped of its section table still has the
    // note in a PT_NOTE segment.
    if (auto v = SearchTable(file, sections, is64 ? 64 : 40, kShtNote, SectionEntry))
        return v;
    return SearchTable(file, segments, is64 ? 56 : 32, kPtNote, SegmentEntry);
}

} // namespace tarvo
