// ReadVersionNote on our own program file, on foreign files and on ELF files
// built here by hand, well-formed and broken.
#include "VersionNote.h"

#include "TempDir.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const tarvo::FileVersion kOurs{1, 0, 0, 1};

using testsupport::TempDir;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(std::string& s, std::size_t at, std::uint64_t value, int bytes) {
    if (s.size() < at + static_cast<std::size_t>(bytes))
        s.resize(at + static_cast<std::size_t>(bytes), '\0');
    for (int i = 0; i < bytes; ++i)
        s[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// One ELF note, name and description padded to 4 bytes.
std::string Note(const std::string& nameWithZero, std::uint32_t type, const std::string& desc) {
    std::string n;
    Put(n, 0, nameWithZero.size(), 4);
    Put(n, 4, desc.size(), 4);
    Put(n, 8, type, 4);
    n += nameWithZero;
    n.resize((n.size() + 3) / 4 * 4, '\0');
    n += desc;
    n.resize((n.size() + 3) / 4 * 4, '\0');
    return n;
}

std::string VersionDesc(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
    std::string s;
    Put(s, 0, a, 2);
    Put(s, 2, b, 2);
    Put(s, 4, c, 2);
    Put(s, 6, d, 2);
    return s;
}

std::string TarvoNote(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
    return Note(std::string("Tarvo\0", 6), 1, VersionDesc(a, b, c, d));
}

// A small ELF file: header, the notes at 0x100, one PT_NOTE program header at
// 0x200 and a section table (null entry + SHT_NOTE) at 0x300.
struct ElfShape {
    bool Is64 = true;
    bool Sections = true;
    bool Segments = true;
};

constexpr std::size_t kNotesAt = 0x100;
constexpr std::size_t kSegmentsAt = 0x200;
constexpr std::size_t kSectionsAt = 0x300;

std::string BuildElf(const ElfShape& shape, const std::string& notes) {
    std::string f(0x400, '\0');
    f[0] = 0x7F;
    f[1] = 'E';
    f[2] = 'L';
    f[3] = 'F';
    f[4] = shape.Is64 ? 2 : 1;
    f[5] = 1; // little-endian
    f[6] = 1;
    Put(f, 16, 2, 2); // ET_EXEC
    if (shape.Is64) {
        Put(f, 18, 62, 2);
        Put(f, 32, shape.Segments ? kSegmentsAt : 0, 8);
        Put(f, 40, shape.Sections ? kSectionsAt : 0, 8);
        Put(f, 52, 64, 2);
        Put(f, 54, 56, 2);
        Put(f, 56, shape.Segments ? 1 : 0, 2);
        Put(f, 58, 64, 2);
        Put(f, 60, shape.Sections ? 2 : 0, 2);
        // program header: PT_NOTE, offset, filesz
        Put(f, kSegmentsAt, 4, 4);
        Put(f, kSegmentsAt + 8, kNotesAt, 8);
        Put(f, kSegmentsAt + 32, notes.size(), 8);
        // section 1: SHT_NOTE, offset, size
        Put(f, kSectionsAt + 64 + 4, 7, 4);
        Put(f, kSectionsAt + 64 + 24, kNotesAt, 8);
        Put(f, kSectionsAt + 64 + 32, notes.size(), 8);
    } else {
        Put(f, 18, 3, 2);
        Put(f, 28, shape.Segments ? kSegmentsAt : 0, 4);
        Put(f, 32, shape.Sections ? kSectionsAt : 0, 4);
        Put(f, 40, 52, 2);
        Put(f, 42, 32, 2);
        Put(f, 44, shape.Segments ? 1 : 0, 2);
        Put(f, 46, 40, 2);
        Put(f, 48, shape.Sections ? 2 : 0, 2);
        Put(f, kSegmentsAt, 4, 4);
        Put(f, kSegmentsAt + 4, kNotesAt, 4);
        Put(f, kSegmentsAt + 16, notes.size(), 4);
        Put(f, kSectionsAt + 40 + 4, 7, 4);
        Put(f, kSectionsAt + 40 + 16, kNotesAt, 4);
        Put(f, kSectionsAt + 40 + 20, notes.size(), 4);
    }
    f.replace(kNotesAt, notes.size(), notes);
    return f;
}

} // namespace

TEST(VersionNote, OurTestProgramCarriesTheProjectVersion) {
    EXPECT_EQ(tarvo::ReadVersionNote("/proc/self/exe"), kOurs);
    EXPECT_EQ(tarvo::ReadVersionNote(fs::read_symlink("/proc/self/exe").string()), kOurs);
}

TEST(VersionNote, FilesWithoutTheNote) {
    TempDir dir;
    const std::string text = dir.Write("text.conf", "[default]\nTarvoSWHost=http://x\n");
    const std::string empty = dir.Write("empty", "");
    const std::string elfMagicOnly = dir.Write("magic", "\x7f"
                                                        "ELF");
    for (const std::string& path :
         {text, empty, elfMagicOnly, std::string("/bin/sh"), (dir.Path() / "missing").string(),
          dir.Path().string(), std::string("")})
        EXPECT_EQ(tarvo::ReadVersionNote(path), std::nullopt) << path;
}

TEST(VersionNote, HandBuiltFiles) {
    TempDir dir;
    const std::string buildId = Note(std::string("GNU\0", 4), 3, std::string(20, '\x5a'));
    const std::string ours = TarvoNote(4, 0, 0, 57);
    struct Case {
        const char* Name;
        ElfShape Shape;
        std::string Notes;
        std::optional<tarvo::FileVersion> Expected;
    } cases[] = {
        {"64-bit, sections", {true, true, false}, ours, tarvo::FileVersion{4, 0, 0, 57}},
        {"32-bit, sections", {false, true, false}, ours, tarvo::FileVersion{4, 0, 0, 57}},
        {"64-bit, segments only", {true, false, true}, ours, tarvo::FileVersion{4, 0, 0, 57}},
        {"32-bit, segments only", {false, false, true}, ours, tarvo::FileVersion{4, 0, 0, 57}},
        {"after another note",
         {true, true, true},
         buildId + TarvoNote(65535, 1, 2, 3),
         tarvo::FileVersion{65535, 1, 2, 3}},
        {"only a foreign note", {true, true, true}, buildId, std::nullopt},
        {"our name, other type",
         {true, true, true},
         Note(std::string("Tarvo\0", 6), 2, VersionDesc(1, 2, 3, 4)),
         std::nullopt},
        {"our name, short data",
         {true, true, true},
         Note(std::string("Tarvo\0", 6), 1, std::string(4, '\1')),
         std::nullopt},
        {"name without its zero",
         {true, true, true},
         Note("Tarvo", 1, VersionDesc(1, 2, 3, 4)),
         std::nullopt},
        {"no tables at all", {true, false, false}, ours, std::nullopt},
    };
    for (const auto& c : cases) {
        const std::string path = dir.Write("case.elf", BuildElf(c.Shape, c.Notes));
        EXPECT_EQ(tarvo::ReadVersionNote(path), c.Expected) << c.Name;
    }
}

TEST(VersionNote, BrokenHeadersAndTablesYieldNothing) {
    TempDir dir;
    const std::string notes = TarvoNote(1, 2, 3, 4);
    const ElfShape both{true, true, true};
    const ElfShape sectionsOnly{true, true, false};
    const ElfShape segmentsOnly{true, false, true};
    for (const ElfShape& shape : {both, sectionsOnly, segmentsOnly})
        ASSERT_EQ(tarvo::ReadVersionNote(dir.Write("good.elf", BuildElf(shape, notes))),
                  (tarvo::FileVersion{1, 2, 3, 4}));
    struct Patch {
        const char* Name;
        ElfShape Shape;
        std::size_t At;
        std::uint64_t Value;
        int Bytes;
    } patches[] = {
        {"big-endian", both, 5, 2, 1},
        {"unknown class", both, 4, 3, 1},
        {"section table beyond the file", sectionsOnly, 40, 0x7FFFFFFFFFFFFFF0ULL, 8},
        {"section table at the very end", sectionsOnly, 40, 0x3F0, 8},
        {"program table at a huge offset", segmentsOnly, 32, ~0ULL, 8},
        {"section entry too small", sectionsOnly, 58, 8, 2},
        {"program entry too small", segmentsOnly, 54, 16, 2},
        {"note area beyond the file", sectionsOnly, kSectionsAt + 64 + 24, 0x10000, 8},
        {"note area of huge size", sectionsOnly, kSectionsAt + 64 + 32, ~0ULL, 8},
        {"segment beyond the file", segmentsOnly, kSegmentsAt + 8, ~0ULL - 4, 8},
        {"note name size huge", both, kNotesAt, 0xFFFFFFFFULL, 4},
        {"note data size huge", both, kNotesAt + 4, 0xFFFFFFF8ULL, 4},
        {"note area cut inside the note", both, kSectionsAt + 64 + 32, 20, 8},
    };
    for (const auto& p : patches) {
        std::string bad = BuildElf(p.Shape, notes);
        Put(bad, p.At, p.Value, p.Bytes);
        if (p.At == kSectionsAt + 64 + 32 && p.Shape.Segments)
            Put(bad, kSegmentsAt + 32, p.Value, 8); // the segment sees the same cut
        EXPECT_EQ(tarvo::ReadVersionNote(dir.Write("bad.elf", bad)), std::nullopt) << p.Name;
    }
}

TEST(VersionNote, TruncatedProgramFile) {
    TempDir dir;
    const std::string self = ReadFile("/proc/self/exe");
    ASSERT_GT(self.size(), 4096U);
    // Where the note's bytes begin: nothing before that can hold it.
    const std::string marker = std::string("Tarvo\0\0\0", 8) + VersionDesc(1, 0, 0, 1);
    const std::size_t noteAt = self.find(marker);
    ASSERT_NE(noteAt, std::string::npos);
    for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{16}, std::size_t{63},
                            std::size_t{64}, std::size_t{500}, noteAt - 12, noteAt + 10}) {
        const std::string path = dir.Write("cut", self.substr(0, cut));
        EXPECT_EQ(tarvo::ReadVersionNote(path), std::nullopt) << cut;
    }
    // Cut anywhere later, the note is either found intact or not at all.
    std::mt19937 rng(7);
    for (int i = 0; i < 40; ++i) {
        const std::size_t cut = noteAt + 16 + rng() % (self.size() - noteAt - 16);
        const auto got = tarvo::ReadVersionNote(dir.Write("cut", self.substr(0, cut)));
        EXPECT_TRUE(!got || *got == kOurs) << cut;
    }
}

TEST(VersionNote, GarbageElfNeverCrashes) {
    TempDir dir;
    const std::string good = BuildElf({true, true, true}, TarvoNote(9, 8, 7, 6));
    std::mt19937 rng(42);
    for (int i = 0; i < 300; ++i) {
        std::string bad = good;
        // Scramble a few bytes of the header and tables, never the magic.
        for (int k = 0; k < 6; ++k) {
            const std::size_t at = 6 + rng() % (0x400 - 6);
            bad[at] = static_cast<char>(rng() & 0xFF);
        }
        const auto got = tarvo::ReadVersionNote(dir.Write("garbage.elf", bad));
        if (got) {
            // Whatever is found was read from inside the file.
            EXPECT_NE(bad.find(std::string(reinterpret_cast<const char*>(got->data()), 8)),
                      std::string::npos);
        }
    }
}
