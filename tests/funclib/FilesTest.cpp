// Files and modules: size by wildcard, tree copy and delete, module folders,
// version numbers.
#include "FuncLib.h"
#include "TestUtil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

namespace fs = std::filesystem;
using funclibtest::ReadFile;
using funclibtest::TempDir;
using funclibtest::WriteFile;

class GetFileSizeTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "b.log", std::string(7, 'x'));
        WriteFile(dir / "c.log", std::string(3, 'x'));
        WriteFile(dir / "a[1].txt", std::string(5, 'x'));
        WriteFile(dir / "a1.txt", std::string(2, 'x'));
        fs::create_directory(dir / "a.log"); // a folder that also matches *.log
    }
    TempDir dir;
};

struct SizeCase {
    std::string pattern;
    std::uint64_t expected;
};

class GetFileSizeCases : public GetFileSizeTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(GetFileSizeCases, FirstMatchingFile) {
    EXPECT_EQ(Funclib::GetFileSize(dir / GetParam().pattern), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetFileSizeCases,
                         ::testing::Values(SizeCase{"b.log", 7},
                                           SizeCase{"*.log", 7}, // sorted; the folder is skipped
                                           SizeCase{"c.l?g", 3}, SizeCase{"*.none", 0},
                                           SizeCase{"missing.log", 0},
                                           SizeCase{"a[1].txt", 5}, // the name as it is first
                                           SizeCase{"a.log", 0}));  // a folder has no size

TEST(GetFileSize, EmptyPathIsZero) {
    EXPECT_EQ(Funclib::GetFileSize(""), 0u);
}

class FileTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.Path() / "src" / "sub" / "deeper");
        WriteFile(dir / "src/top.txt", "top");
        WriteFile(dir / "src/sub/mid.txt", "mid");
        WriteFile(dir / "src/sub/deeper/low.bin", std::string("\0\1\2", 3));
    }
    void ExpectTree(const std::string& root) {
        EXPECT_EQ(ReadFile(root + "/top.txt"), "top");
        EXPECT_EQ(ReadFile(root + "/sub/mid.txt"), "mid");
        EXPECT_EQ(ReadFile(root + "/sub/deeper/low.bin"), std::string("\0\1\2", 3));
    }
    TempDir dir;
};

TEST_F(FileTreeTest, CopiesTreeToNewName) {
    EXPECT_TRUE(Funclib::CopyFileAndDir(dir / "src", dir / "made/on/the/way"));
    ExpectTree(dir / "made/on/the/way");
}

TEST_F(FileTreeTest, CopiesIntoExistingFolderAndOverwrites) {
    fs::create_directories(dir.Path() / "dest" / "src");
    WriteFile(dir / "dest/src/top.txt", "old");
    WriteFile(dir / "dest/src/extra.txt", "kept");
    EXPECT_TRUE(Funclib::CopyFileAndDir(dir / "src", dir / "dest"));
    ExpectTree(dir / "dest/src");
    EXPECT_EQ(ReadFile(dir / "dest/src/extra.txt"), "kept");
}

TEST_F(FileTreeTest, LinksAreCopiedAsLinksAlsoOverAnEarlierCopy) {
    fs::create_directory_symlink("sub", dir.Path() / "src" / "link");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_TRUE(Funclib::CopyFileAndDir(dir / "src", dir / "copy"));
        ExpectTree(dir / "copy");
        EXPECT_TRUE(fs::is_symlink(dir.Path() / "copy" / "link"));
        EXPECT_EQ(fs::read_symlink(dir.Path() / "copy" / "link"), "sub");
    }
}

TEST_F(FileTreeTest, CopiesSingleFile) {
    fs::create_directory(dir.Path() / "dest");
    EXPECT_TRUE(Funclib::CopyFileAndDir(dir / "src/top.txt", dir / "dest"));
    EXPECT_EQ(ReadFile(dir / "dest/top.txt"), "top");
    EXPECT_TRUE(Funclib::CopyFileAndDir(dir / "src/sub/mid.txt", dir / "dest/top.txt"));
    EXPECT_EQ(ReadFile(dir / "dest/top.txt"), "mid");
}

TEST_F(FileTreeTest, RefusesWhatCannotBeCopied) {
    EXPECT_FALSE(Funclib::CopyFileAndDir(dir / "nothing", dir / "dest"));
    EXPECT_FALSE(Funclib::CopyFileAndDir(dir / "src", dir / "src/sub")); // into itself
    EXPECT_FALSE(Funclib::CopyFileAndDir(dir / "src/top.txt", dir / "src/top.txt"));
    EXPECT_FALSE(Funclib::CopyFileAndDir("", dir / "dest"));
    // A folder over an existing file.
    EXPECT_FALSE(Funclib::CopyFileAndDir(dir / "src/sub", dir / "src/top.txt"));
    EXPECT_EQ(ReadFile(dir / "src/top.txt"), "top");
}

TEST_F(FileTreeTest, DeletesTreeAndFile) {
    EXPECT_TRUE(Funclib::DelFileAndDir(dir / "src/top.txt"));
    EXPECT_FALSE(fs::exists(dir / "src/top.txt"));
    EXPECT_TRUE(Funclib::DelFileAndDir(dir / "src"));
    EXPECT_FALSE(fs::exists(dir / "src"));
    EXPECT_FALSE(Funclib::DelFileAndDir(dir / "src")); // nothing left to delete
    EXPECT_FALSE(Funclib::DelFileAndDir(""));
}

TEST(GetModulePath, ProgramAndLibraryFolders) {
    const std::string program = fs::read_symlink("/proc/self/exe").string();
    const std::string programFolder = program.substr(0, program.rfind('/') + 1);
    EXPECT_EQ(Funclib::GetModulePath(0, nullptr), programFolder);
    EXPECT_EQ(Funclib::GetModulePath(0, fs::path(program).filename().c_str()), programFolder);

    // The library lies in the build's lib/ folder.
    const char* build = std::getenv("TARVO_BUILD_DIR");
    const std::string libFolder =
        build != nullptr ? fs::weakly_canonical(fs::path(build) / "lib").string() + "/" : "";
    for (const char* name : {"libnetvane", "libnetvane.so", "libnetvane.so.1"}) {
        const std::string folder = Funclib::GetModulePath(0, name);
        ASSERT_FALSE(folder.empty()) << name;
        EXPECT_EQ(folder.back(), '/');
        EXPECT_TRUE(fs::exists(folder + "libnetvane.so.1")) << folder;
        if (!libFolder.empty()) {
            EXPECT_EQ(fs::canonical(folder).string() + "/", libFolder);
        }
    }
}

TEST(GetModulePath, UnknownGivesEmpty) {
    EXPECT_EQ(Funclib::GetModulePath(0, "libnot-loaded-here"), "");
    EXPECT_EQ(Funclib::GetModulePath(0, "libnetv"), ""); // a prefix is not a name
    EXPECT_EQ(Funclib::GetModulePath(0, ""), "");
    EXPECT_EQ(Funclib::GetModulePath(0x1000, nullptr), "");
}

TEST(GetFileVersion, ZeroWithoutVersionNote) {
    const TempDir dir;
    WriteFile(dir / "plain.txt", "no version here");
    EXPECT_EQ(Funclib::GetFileVersion(dir / "plain.txt"), 0);
    EXPECT_EQ(Funclib::GetFileVersion(dir / "missing"), 0);
    EXPECT_EQ(Funclib::GetFileVersion(""), 0);
}

TEST(GetFileVersion, MajorOfProgramNote) {
    EXPECT_EQ(Funclib::GetFileVersion(fs::read_symlink("/proc/self/exe").string()),
              FUNCLIB_TEST_VERSION_MAJOR);
}

} // namespace
