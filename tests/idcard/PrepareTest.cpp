#include "TempTree.h"
#include "Unitidcardreader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::vector<std::string> AllThree = {"libSyn_IDCardRead.so", "libWltRS.so", "libsdtapi.so"};

// The source folder holding the given vendor files, each with its own bytes.
void PutSources(const TTempTree& tree, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        WriteFile(tree.Conf() / name, "source of " + name);
        fs::permissions(tree.Conf() / name, fs::perms(0755));
    }
}

} // namespace

TEST(IDCardSourceFolder, IsConfInTheParentOfTheProgramsFolder) {
    EXPECT_EQ(GetIDCardSourceFolder("/opt/tarvo/bin/"), "/opt/tarvo/Conf/DKQ-116D/");
    EXPECT_EQ(GetIDCardSourceFolder("/opt/tarvo/bin"), "/opt/tarvo/Conf/DKQ-116D/");
    EXPECT_EQ(GetIDCardSourceFolder("/bin/"), "/Conf/DKQ-116D/");

    const std::string folder = GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(fs::equivalent(folder + fs::read_symlink("/proc/self/exe").filename().string(),
                               "/proc/self/exe"));
}

TEST(PrepareIDCardLibs, CopiesEachMissingFileWhole) {
    TTempTree tree;
    fs::create_directories(tree.Bin());
    PutSources(tree, AllThree);

    PrepareIDCardLibs(tree.ProgramFolder());

    // The three files and nothing else: no temporary file is left behind.
    EXPECT_EQ(Entries(tree.Bin()),
              (std::vector<std::string>{"libSyn_IDCardRead.so", "libWltRS.so", "libsdtapi.so"}));
    for (const std::string& name : AllThree) {
        EXPECT_EQ(ReadFile(tree.Bin() / name), "source of " + name);
        EXPECT_EQ(fs::status(tree.Bin() / name).permissions(), fs::perms(0755)) << name;
    }
}

TEST(PrepareIDCardLibs, NeverReplacesWhatTheFolderHolds) {
    TTempTree tree;
    fs::create_directories(tree.Bin());
    PutSources(tree, AllThree);
    WriteFile(tree.Bin() / "libSyn_IDCardRead.so", "the program's own");
    fs::create_symlink(tree.Root() / "nowhere", tree.Bin() / "libsdtapi.so");

    PrepareIDCardLibs(tree.ProgramFolder());
    PrepareIDCardLibs(tree.Bin().string()); // also without the trailing '/'

    EXPECT_EQ(ReadFile(tree.Bin() / "libSyn_IDCardRead.so"), "the program's own");
    EXPECT_TRUE(fs::is_symlink(tree.Bin() / "libsdtapi.so"));
    EXPECT_FALSE(fs::exists(tree.Root() / "nowhere"));
    EXPECT_EQ(ReadFile(tree.Bin() / "libWltRS.so"), "source of libWltRS.so");
    EXPECT_EQ(Entries(tree.Bin()).size(), 3u);
}

TEST(PrepareIDCardLibs, AMissingSourceLeavesTheFolderAsItWas) {
    TTempTree tree;
    fs::create_directories(tree.Bin());
    PutSources(tree, {"libWltRS.so"});
    fs::create_directory(tree.Conf() / "libsdtapi.so"); // not a file

    PrepareIDCardLibs(tree.ProgramFolder());
    EXPECT_EQ(Entries(tree.Bin()), std::vector<std::string>{"libWltRS.so"});

    fs::remove_all(tree.Root() / "Conf");
    fs::remove(tree.Bin() / "libWltRS.so");
    PrepareIDCardLibs(tree.ProgramFolder());
    EXPECT_TRUE(Entries(tree.Bin()).empty());
}

TEST(PrepareIDCardLibs, AFolderThatTakesNoCopyIsLeftAlone) {
    TTempTree tree;
    PutSources(tree, AllThree);

    // The program's folder does not exist; nothing is made and nothing thrown.
    EXPECT_NO_THROW(PrepareIDCardLibs(tree.ProgramFolder()));
    EXPECT_FALSE(fs::exists(tree.Bin()));
    EXPECT_NO_THROW(PrepareIDCardLibs(""));

    // A folder without write permission (only where permissions bind).
    if (::geteuid() != 0) {
        fs::create_directories(tree.Bin());
        fs::permissions(tree.Bin(), fs::perms(0555));
        EXPECT_NO_THROW(PrepareIDCardLibs(tree.ProgramFolder()));
        EXPECT_TRUE(Entries(tree.Bin()).empty());
        fs::permissions(tree.Bin(), fs::perms(0755));
    }
}
