#include "DebugLog.h"

#include "CodePage.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for the life of the object.
class TEnvVar {
public:
    TEnvVar(const char* name, const std::optional<std::string>& value) : FName(name) {
        if (const char* old = std::getenv(name))
            FOld = old;
        Set(value);
    }
    ~TEnvVar() { Set(FOld); }
    TEnvVar(const TEnvVar&) = delete;
    TEnvVar& operator=(const TEnvVar&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value)
            ::setenv(FName, value->c_str(), 1);
        else
            ::unsetenv(FName);
    }
    const char* FName;
    std::optional<std::string> FOld;
};

std::vector<std::string> ReadLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A fresh folder per test and TARVO_LOG_FILE pointing into it.
class DebugLogTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "debuglog-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        FDir = pattern;
        FFile = FDir / "test.log";
        FEnv.emplace("TARVO_LOG_FILE", FFile.string());
    }
    void TearDown() override {
        FEnv.reset();
        std::error_code ignored;
        fs::remove_all(FDir, ignored);
    }

    std::string LastLine() const {
        const auto lines = ReadLines(FFile);
        return lines.empty() ? std::string() : lines.back();
    }

    fs::path FDir;
    fs::path FFile;
    std::optional<TEnvVar> FEnv;
};

const std::string StampPattern = R"((\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.\d{3} )";

TEST_F(DebugLogTest, LineHasLocalTimeSourceWhereAndUtf8Text) {
    const auto before = std::chrono::system_clock::now();
    DebugLog(0, "TarvoAdmin", "DoLogin", Gbk(u8"Exception: 访问服务器失败，请稍后重试！").c_str());

    const std::string line = LastLine();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        line, m,
        std::regex("^" + StampPattern +
                   reinterpret_cast<const char*>(
                       u8"TarvoAdmin DoLogin: Exception: 访问服务器失败，请稍后重试！") +
                   "$")))
        << line;

    // The stamp is local time, within a minute of the call.
    std::tm tm{};
    tm.tm_year = std::stoi(m[1]) - 1900;
    tm.tm_mon = std::stoi(m[2]) - 1;
    tm.tm_mday = std::stoi(m[3]);
    tm.tm_hour = std::stoi(m[4]);
    tm.tm_min = std::stoi(m[5]);
    tm.tm_sec = std::stoi(m[6]);
    tm.tm_isdst = -1;
    const auto stamped = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    EXPECT_LT(std::chrono::abs(stamped - before), std::chrono::minutes(1));
}

struct LineCase {
    const char* label;
    int first;
    const char* source;
    const char* where;
    std::string text;
    std::string expected; // after the time stamp
};

class DebugLogLines : public DebugLogTest, public testing::WithParamInterface<LineCase> {};

TEST_P(DebugLogLines, WrittenAsOneLine) {
    const auto& c = GetParam();
    DebugLog(c.first, c.source, c.where, c.text.c_str());
    const auto lines = ReadLines(FFile);
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[0], m, std::regex("^" + StampPattern))) << lines[0];
    EXPECT_EQ(m.suffix().str(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DebugLogLines,
    testing::Values(
        LineCase{"plain", 0, "Tarvo", "InitDBGrid", "Content: x", "Tarvo InitDBGrid: Content: x"},
        LineCase{"line breaks escaped", 0, "Tarvo", "LoadPic", "a\r\nb\nc",
                 R"(Tarvo LoadPic: a\r\nb\nc)"},
        LineCase{"other controls escaped", 0, "Tarvo", "LoadPic", "a\x01\x1b[2Jb\x7f\tc",
                 "Tarvo LoadPic: a\\x01\\x1B[2Jb\\x7F\tc"},
        LineCase{"format braces kept", 0, "Tarvo", "BtnAddClick", "{} {0} %s %v",
                 "Tarvo BtnAddClick: {} {0} %s %v"},
        LineCase{"invalid GBK", 0, "Tarvo", "BtnDelClick", "x\xFFy", "Tarvo BtnDelClick: x?y"},
        LineCase{"first argument shown when not 0", 3, "Tarvo", "DoLogout", "t",
                 "Tarvo DoLogout: (3) t"},
        LineCase{"break in where-name", 0, "Tarvo", "A\nB", "t", R"(Tarvo A\nB: t)"}),
    [](const auto& param) {
        std::string name = param.param.label;
        for (char& ch : name)
            if (ch == ' ' || ch == '-')
                ch = '_';
        return name;
    });

TEST_F(DebugLogTest, NullArgumentsCountAsEmptyTexts) {
    DebugLog(0, nullptr, nullptr, nullptr);
    DebugLog(0, "Tarvo", nullptr, "t");
    DebugLog(0, nullptr, "FormDestroy", nullptr);
    const auto lines = ReadLines(FFile);
    ASSERT_EQ(lines.size(), 3u);
    const std::regex stamp("^" + StampPattern);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[0], m, stamp));
    EXPECT_EQ(m.suffix().str(), " : ");
    ASSERT_TRUE(std::regex_search(lines[1], m, stamp));
    EXPECT_EQ(m.suffix().str(), "Tarvo : t");
    ASSERT_TRUE(std::regex_search(lines[2], m, stamp));
    EXPECT_EQ(m.suffix().str(), " FormDestroy: ");
}

TEST_F(DebugLogTest, EachCallReadableAtOnceInOrder) {
    for (int i = 0; i < 5; ++i) {
        DebugLog(0, "Tarvo", "GetPublicIP", std::to_string(i).c_str());
        const auto lines = ReadLines(FFile);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(i + 1));
        EXPECT_TRUE(lines.back().ends_with("GetPublicIP: " + std::to_string(i))) << lines.back();
    }
}

TEST_F(DebugLogTest, FollowsChangesOfTheFileVariable) {
    const fs::path other = FDir / "sub" / "other.log";
    DebugLog(0, "Tarvo", "W", "one");
    {
        TEnvVar env("TARVO_LOG_FILE", other.string());
        DebugLog(0, "Tarvo", "W", "two");
    }
    DebugLog(0, "Tarvo", "W", "three");

    const auto first = ReadLines(FFile);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_TRUE(first[0].ends_with("W: one"));
    EXPECT_TRUE(first[1].ends_with("W: three"));
    const auto second = ReadLines(other);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(second[0].ends_with("W: two"));
}

TEST_F(DebugLogTest, UnwritableLocationDropsLineQuietly) {
    // A regular file where a folder should be: nothing can be created below it.
    const fs::path blocker = FDir / "blocker";
    std::ofstream(blocker) << "x";
    const fs::path bad = blocker / "sub" / "x.log";
    {
        TEnvVar env("TARVO_LOG_FILE", bad.string());
        EXPECT_NO_THROW(DebugLog(0, "Tarvo", "W", "lost"));
        EXPECT_NO_THROW(DebugLog(0, "Tarvo", "W", "lost again"));
        EXPECT_FALSE(fs::exists(bad));
    }
    {
        // A folder named like the file.
        TEnvVar env("TARVO_LOG_FILE", FDir.string());
        EXPECT_NO_THROW(DebugLog(0, "Tarvo", "W", "lost"));
        EXPECT_TRUE(fs::is_directory(FDir));
    }
    // A writable place works again afterwards.
    DebugLog(0, "Tarvo", "W", "kept");
    EXPECT_TRUE(LastLine().ends_with("W: kept"));
}

TEST_F(DebugLogTest, NoPlaceKnownDropsLine) {
    TEnvVar file("TARVO_LOG_FILE", std::nullopt);
    TEnvVar state("XDG_STATE_HOME", std::nullopt);
    TEnvVar home("HOME", std::nullopt);
    EXPECT_NO_THROW(DebugLog(0, "Tarvo", "W", "nowhere"));
}

struct DefaultPlaceCase {
    const char* label;
    bool useState;        // XDG_STATE_HOME set to the test folder
    const char* relative; // where the file appears below the test folder
};

class DebugLogDefaultPlace : public DebugLogTest,
                             public testing::WithParamInterface<DefaultPlaceCase> {};

TEST_P(DebugLogDefaultPlace, UserStateFolder) {
    const auto& c = GetParam();
    TEnvVar file("TARVO_LOG_FILE", std::nullopt);
    TEnvVar state("XDG_STATE_HOME",
                  c.useState ? std::optional<std::string>(FDir.string()) : std::nullopt);
    TEnvVar home("HOME", (FDir / "home").string());
    DebugLog(0, "TarvoAdmin", "FormDestroy", "end");
    const auto lines = ReadLines(FDir / c.relative);
    ASSERT_EQ(lines.size(), 1u) << c.relative;
    EXPECT_TRUE(lines[0].ends_with("TarvoAdmin FormDestroy: end"));
}

INSTANTIATE_TEST_SUITE_P(Places, DebugLogDefaultPlace,
                         testing::Values(DefaultPlaceCase{"state_home", true, "tarvo/tarvo.log"},
                                         DefaultPlaceCase{"home", false,
                                                          "home/.local/state/tarvo/tarvo.log"}),
                         [](const auto& param) { return std::string(param.param.label); });

TEST_F(DebugLogTest, RotatesAtSizeLimitKeepingThreeFiles) {
    constexpr std::uintmax_t limit = 5 * 1024 * 1024;
    const std::string filler(1000, 'x');
    const fs::path first = FDir / "test.1.log";
    const fs::path second = FDir / "test.2.log";
    const fs::path third = FDir / "test.3.log";

    int n = 0;
    std::uintmax_t written = 0;
    while (!fs::exists(first) && written < 2 * limit) {
        DebugLog(0, "Tarvo", "Fill", (std::to_string(n++) + filler).c_str());
        written += filler.size();
    }
    ASSERT_TRUE(fs::exists(first)) << "no rotation after " << written << " bytes";
    // The full file moved aside: close to the limit, not over it.
    EXPECT_GT(fs::file_size(first), limit - 2 * filler.size());
    EXPECT_LE(fs::file_size(first), limit);
    // The line that did not fit starts the new file.
    const auto current = ReadLines(FFile);
    ASSERT_EQ(current.size(), 1u);
    EXPECT_NE(current[0].find("Fill: " + std::to_string(n - 1) + "x"), std::string::npos);

    // Fill three more files' worth: the oldest are dropped.
    for (std::uintmax_t more = 0; more < 3 * limit; more += filler.size())
        DebugLog(0, "Tarvo", "Fill", (std::to_string(n++) + filler).c_str());
    EXPECT_TRUE(fs::exists(second));
    EXPECT_FALSE(fs::exists(third));
    for (const auto& f : {FFile, first, second})
        EXPECT_LE(fs::file_size(f), limit) << f;
    EXPECT_NE(LastLine().find("Fill: " + std::to_string(n - 1) + "x"), std::string::npos);
}

} // namespace
