// The per-user value store: typed values written, read and deleted in a
// private store folder.
#include "CodePage.h"
#include "FuncLib.h"
#include "TestUtil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Funclib::HKEY_CURRENT_USER;
using Funclib::HKEY_LOCAL_MACHINE;
using funclibtest::ReadFile;
using funclibtest::ScopedEnv;
using funclibtest::TempDir;
using funclibtest::WriteFile;

class RegistryTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", dir.Path().string()};
    fs::path KeyFolder(const std::string& relative) const {
        return dir.Path() / "netvane" / relative;
    }
};

TEST_F(RegistryTest, StringWrittenReadAndDeleted) {
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "Software\\Tarvo", "Server"), "");
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "Software\\Tarvo", "Server", "a.b:80"));
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "Software\\Tarvo", "Server"), "a.b:80");
    // One file per key, under the root's handle value.
    EXPECT_TRUE(fs::is_regular_file(KeyFolder("80000001/software/tarvo/.values")));
    ASSERT_TRUE(Funclib::RegDelValue(HKEY_CURRENT_USER, "Software\\Tarvo", "Server"));
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "Software\\Tarvo", "Server"), "");
    EXPECT_FALSE(Funclib::RegDelValue(HKEY_CURRENT_USER, "Software\\Tarvo", "Server"));
}

TEST_F(RegistryTest, IntegerWrittenReadAndDeleted) {
    for (const std::int32_t value : {0, 1, -1, INT32_MAX, INT32_MIN}) {
        ASSERT_TRUE(Funclib::RegWriteInt(HKEY_CURRENT_USER, "Software\\Tarvo", "Count", value));
        EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "Software\\Tarvo", "Count"), value);
    }
    ASSERT_TRUE(Funclib::RegDelValue(HKEY_CURRENT_USER, "Software\\Tarvo", "Count"));
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "Software\\Tarvo", "Count"), 0);
}

TEST_F(RegistryTest, ValuesAreTyped) {
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "K", "text", "123"));
    ASSERT_TRUE(Funclib::RegWriteInt(HKEY_CURRENT_USER, "K", "number", 456));
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "K", "text"), 0);
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "K", "number"), "");
    // Writing the other type replaces the value.
    ASSERT_TRUE(Funclib::RegWriteInt(HKEY_CURRENT_USER, "K", "text", 7));
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "K", "text"), 7);
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "K", "text"), "");
}

TEST_F(RegistryTest, NamesIgnoreCase) {
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "Software\\Tarvo", "Name", "first"));
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "SOFTWARE\\tarvo\\", "NAME", "second"));
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "software\\TARVO", "name"), "second");
    EXPECT_TRUE(Funclib::RegDelValue(HKEY_CURRENT_USER, "\\Software\\\\Tarvo", "nAmE"));
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "Software\\Tarvo", "Name"), "");
}

TEST_F(RegistryTest, RootsAreSeparate) {
    ASSERT_TRUE(Funclib::RegWriteInt(HKEY_CURRENT_USER, "K", "v", 1));
    ASSERT_TRUE(Funclib::RegWriteInt(HKEY_LOCAL_MACHINE, "K", "v", 2));
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "K", "v"), 1);
    EXPECT_EQ(Funclib::RegReadInt(HKEY_LOCAL_MACHINE, "K", "v"), 2);
    // A sub key and its parent do not share values.
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "K\\Sub", "v"), 0);
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, nullptr, "v"), 0);
}

struct OddCase {
    std::string subKey;
    std::string name;
    std::string value;
};

class RegistryOddTextTest : public RegistryTest, public ::testing::WithParamInterface<OddCase> {};

TEST_P(RegistryOddTextTest, RoundTripsAnyBytes) {
    const OddCase& c = GetParam();
    ASSERT_TRUE(
        Funclib::RegWriteStr(HKEY_CURRENT_USER, c.subKey.c_str(), c.name.c_str(), c.value.c_str()));
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, c.subKey.c_str(), c.name.c_str()), c.value);
    // A neighbour stays intact.
    ASSERT_TRUE(Funclib::RegWriteInt(HKEY_CURRENT_USER, c.subKey.c_str(), "other", 9));
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, c.subKey.c_str(), c.name.c_str()), c.value);
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, c.subKey.c_str(), "other"), 9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryOddTextTest,
    ::testing::Values(OddCase{"K", "with space", "line one\r\nline two\ttab"},
                      OddCase{"K", "100%", "%41 is not A"}, OddCase{"K", "", "default value"},
                      OddCase{"K", "v", ""}, OddCase{"..\\..", "up", "stays inside"},
                      OddCase{"a/b\\.hidden", ".values", "x"},
                      OddCase{Gbk(u8"软件\\设置"), Gbk(u8"名称"), Gbk(u8"中文值")},
                      OddCase{std::string(300, 'k'), std::string(300, 'n'), "long names"},
                      OddCase{"K", "high", "\x01\x7F\xFF"}));

TEST_F(RegistryTest, PathsStayInsideStore) {
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "..\\..\\..", "v", "x"));
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().string().rfind((dir.Path() / "netvane").string(), 0), 0u)
            << entry.path();
}

TEST_F(RegistryTest, ReadsStringsUpTo260Bytes) {
    const std::string fits(260, 'a');
    const std::string tooLong(261, 'a');
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "K", "fits", fits.c_str()));
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "K", "long", tooLong.c_str()));
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "K", "fits"), fits);
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "K", "long"), "");
}

TEST_F(RegistryTest, NullArguments) {
    // A null sub key is the root key itself, a null name its default value,
    // a null value the empty text.
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, nullptr, nullptr, "root default"));
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "", ""), "root default");
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "K", "v", nullptr));
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "K", "v"), "");
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, nullptr, nullptr), 0);
    EXPECT_TRUE(Funclib::RegDelValue(HKEY_CURRENT_USER, nullptr, nullptr));
    EXPECT_FALSE(Funclib::RegDelValue(HKEY_CURRENT_USER, nullptr, nullptr));
}

TEST_F(RegistryTest, UnknownRootFails) {
    for (const std::uint32_t root : {0u, 1u, 0x80000004u, 0x80000006u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(Funclib::RegWriteStr(root, "K", "v", "x")) << root;
        EXPECT_FALSE(Funclib::RegWriteInt(root, "K", "v", 1)) << root;
        EXPECT_EQ(Funclib::RegReadStr(root, "K", "v"), "") << root;
        EXPECT_FALSE(Funclib::RegDelValue(root, "K", "v")) << root;
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "netvane"));
}

TEST_F(RegistryTest, DeleteOfMissingKeyFailsWithoutCreatingIt) {
    EXPECT_FALSE(Funclib::RegDelValue(HKEY_CURRENT_USER, "No\\Such\\Key", "v"));
    EXPECT_FALSE(fs::exists(KeyFolder("80000001/no")));
}

TEST_F(RegistryTest, ForeignFileIsNeitherReadNorOverwritten) {
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "K", "v", "x"));
    const fs::path file = KeyFolder("80000001/k/.values");
    WriteFile(file.string(), "garbage\ns v x\n");
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "K", "v"), "");
    EXPECT_FALSE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "K", "v", "y"));
    EXPECT_EQ(ReadFile(file.string()), "garbage\ns v x\n");
}

TEST_F(RegistryTest, MalformedLinesAreSkipped) {
    ASSERT_TRUE(Funclib::RegWriteStr(HKEY_CURRENT_USER, "K", "v", "x"));
    const fs::path file = KeyFolder("80000001/k/.values");
    WriteFile(file.string(),
              "netvane values 1\ni n 12x\ni big 99999999999\ns bad %G1\nq v y\ns good %41\n");
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "K", "n"), 0);
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "K", "big"), 0);
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "K", "bad"), "");
    EXPECT_EQ(Funclib::RegReadStr(HKEY_CURRENT_USER, "K", "good"), "A");
}

TEST_F(RegistryTest, WritesLeaveNoTemporaryFiles) {
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(Funclib::RegWriteInt(HKEY_CURRENT_USER, "K", "v", i));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(KeyFolder("80000001/k")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".lock", ".values"}));
}

TEST_F(RegistryTest, ConcurrentWritersKeepEachOthersValues) {
    constexpr int kThreads = 4;
    constexpr int kValues = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kValues; ++i) {
                const std::string name = "t" + std::to_string(t) + "v" + std::to_string(i);
                Funclib::RegWriteInt(HKEY_CURRENT_USER, "Shared", name.c_str(), t * 100 + i);
            }
        });
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kValues; ++i) {
            const std::string name = "t" + std::to_string(t) + "v" + std::to_string(i);
            EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "Shared", name.c_str()), t * 100 + i)
                << name;
        }
}

TEST(RegistryStoreFolder, DefaultsToHomeConfig) {
    const TempDir home;
    const ScopedEnv noXdg("XDG_CONFIG_HOME", "");
    const ScopedEnv homeEnv("HOME", home.Path().string());
    ASSERT_TRUE(Funclib::RegWriteInt(HKEY_CURRENT_USER, "K", "v", 5));
    EXPECT_TRUE(fs::exists(home.Path() / ".config/netvane/80000001/k/.values"));
    EXPECT_EQ(Funclib::RegReadInt(HKEY_CURRENT_USER, "K", "v"), 5);
}

} // namespace
