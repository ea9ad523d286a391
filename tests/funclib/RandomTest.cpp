// Random texts: lengths, alphabets and the shared hanzi sequence.
#include "FuncLib.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kAlphabet = "abcdefghijklmnopurstuvwxyz1234567890";

struct LengthCase {
    std::uint16_t minLen;
    std::uint16_t maxLen;
    std::size_t lowest;
    std::size_t highest;
};

class RandStrTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(RandStrTest, LengthAlphabetAndLetterEnds) {
    const LengthCase& c = GetParam();
    for (int round = 0; round < 50; ++round) {
        const std::string text = Funclib::RandStr(c.minLen, c.maxLen);
        ASSERT_GE(text.size(), c.lowest);
        ASSERT_LE(text.size(), c.highest);
        if (text.empty())
            continue;
        // Inside: the alphabet; at both ends a letter (any of a..z).
        for (std::size_t i = 1; i + 1 < text.size(); ++i)
            ASSERT_NE(kAlphabet.find(text[i]), std::string_view::npos) << "at " << i;
        for (const char end : {text.front(), text.back()})
            ASSERT_TRUE(end >= 'a' && end <= 'z') << "end " << end;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RandStrTest,
                         ::testing::Values(LengthCase{8, 16, 8, 16}, LengthCase{1, 1, 1, 1},
                                           LengthCase{0, 0, 0, 0},
                                           LengthCase{10, 3, 10, 10}, // bounds crossed: minLen
                                           LengthCase{0, 65535, 0, 65535}));

TEST(RandStr, UsesManyCharacters) {
    std::set<char> seen;
    for (int round = 0; round < 20; ++round) {
        const std::string text = Funclib::RandStr(64, 64);
        seen.insert(text.begin() + 1, text.end() - 1);
    }
    EXPECT_GT(seen.size(), 20u);    // not one repeated letter
    EXPECT_EQ(seen.count('q'), 0u); // the alphabet has no "q"
}

// The pair of bytes that counter value v gives.
std::pair<unsigned char, unsigned char> PairOf(std::uint32_t v) {
    return {static_cast<unsigned char>(0xB0 + v % 72), static_cast<unsigned char>(0xA1 + v % 94)};
}

std::vector<std::pair<unsigned char, unsigned char>> Pairs(const std::string& text) {
    std::vector<std::pair<unsigned char, unsigned char>> pairs;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        pairs.emplace_back(static_cast<unsigned char>(text[i]),
                           static_cast<unsigned char>(text[i + 1]));
    return pairs;
}

TEST(RandGBString, HanziRowsInAContinuingSequence) {
    const std::string first = Funclib::RandGBString(5, 5);
    const std::string second = Funclib::RandGBString(3, 1);
    ASSERT_EQ(first.size(), 10u);
    ASSERT_EQ(second.size(), 6u); // minChars wins over a smaller maxChars
    const auto a = Pairs(first);
    const auto b = Pairs(second);
    for (const auto& [lead, trail] : a) {
        EXPECT_GE(lead, 0xB0);
        EXPECT_LE(lead, 0xF7);
        EXPECT_GE(trail, 0xA1);
        EXPECT_LE(trail, 0xFE);
    }
    // Find the counter value behind the first character; the rest follow it.
    std::uint32_t start = 0;
    while (start < 72u * 47u && PairOf(start) != a[0])
        ++start;
    ASSERT_LT(start, 72u * 47u);
    for (std::uint32_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(a[i], PairOf(start + i));
    for (std::uint32_t i = 0; i < b.size(); ++i)
        EXPECT_EQ(b[i], PairOf(start + 5 + i));
}

TEST(RandGBString, LengthWithinBounds) {
    for (int round = 0; round < 50; ++round) {
        const std::size_t chars = Funclib::RandGBString(2, 6).size() / 2;
        EXPECT_GE(chars, 2u);
        EXPECT_LE(chars, 6u);
    }
    EXPECT_EQ(Funclib::RandGBString(0, 0).size(), 2u); // maxChars below 1 counts as 1
    EXPECT_EQ(Funclib::RandGBString(-5, -5).size(), 2u);
}

TEST(RandGBString, ConcurrentCallersGetDistinctValues) {
    // 72 and 94 give 3384 distinct pairs in a row, more than drawn here.
    constexpr int kThreads = 4;
    constexpr int kChars = 200;
    std::vector<std::string> texts(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&texts, t] {
            for (int i = 0; i < kChars; ++i)
                texts[static_cast<std::size_t>(t)] += Funclib::RandGBString(1, 1);
        });
    for (auto& thread : threads)
        thread.join();
    std::set<std::pair<unsigned char, unsigned char>> seen;
    for (const auto& text : texts)
        for (const auto& pair : Pairs(text))
            seen.insert(pair);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kChars));
}

} // namespace
