// Text functions: splitting, searching, escaping, deciphering and number
// formatting.
#include "CodePage.h"
#include "FuncLib.h"

#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

using Funclib::TStrArr;

struct SplitCase {
    std::string separator;
    std::string text;
    std::vector<std::string> pieces;
};

class SplitStrArrTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitStrArrTest, PiecesUpToFirstEmptyOne) {
    const SplitCase& c = GetParam();
    TStrArr out{"left over"};
    const std::int32_t count = Funclib::SplitStrArr(c.separator, c.text, out);
    EXPECT_EQ(count, static_cast<std::int32_t>(c.pieces.size()));
    EXPECT_EQ(out, c.pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitStrArrTest,
    ::testing::Values(SplitCase{",", "a,b,c", {"a", "b", "c"}},
                      SplitCase{",", "a,,b", {"a"}},      // stops at the empty piece
                      SplitCase{",", ",a", {}},           // empty first piece
                      SplitCase{",", "a,b,", {"a", "b"}}, // trailing separator
                      SplitCase{",", "", {}},
                      SplitCase{"\r\n", "x\r\ny", {"x", "y"}}, // several-byte separator
                      SplitCase{"", "abc", {"abc"}},           // no separator: the whole text
                      SplitCase{"ab", "1ab2ab3", {"1", "2", "3"}},
                      // The search goes on after the separator it found.
                      SplitCase{"aa", "baaab", {"b", "ab"}}));

struct StrIsInCase {
    std::vector<std::string> items;
    std::int32_t highIndex;
    std::string text;
    bool expected;
};

class StrIsInTest : public ::testing::TestWithParam<StrIsInCase> {};

TEST_P(StrIsInTest, FindsNonEmptyItem) {
    const StrIsInCase& c = GetParam();
    EXPECT_EQ(Funclib::StrIsIn(c.items.data(), c.highIndex, c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, StrIsInTest,
                         ::testing::Values(StrIsInCase{{"", "x"}, 1, "xyz", true},
                                           StrIsInCase{{"", ""}, 1, "xyz", false},
                                           StrIsInCase{{"Y"}, 0, "xyz", false},      // case counts
                                           StrIsInCase{{"a", "z"}, 0, "xyz", false}, // past high
                                           StrIsInCase{{"a", "z"}, 1, "xyz", true},
                                           StrIsInCase{{"x"}, -1, "xyz", false}));

TEST(StrIsIn, NullArrayIsFalse) {
    EXPECT_FALSE(Funclib::StrIsIn(nullptr, 5, "text"));
}

struct MapCase {
    std::string input;
    std::string expected;
};

class TrimMultiCRLFTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(TrimMultiCRLFTest, FoldsBlankLines) {
    EXPECT_EQ(Funclib::TrimMultiCRLF(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrimMultiCRLFTest,
                         ::testing::Values(MapCase{"\r\na\r\n\r\n\r\nb", "a\r\nb"},
                                           MapCase{"\r\n\r\na",
                                                   "\r\na"}, // only one leading CR LF goes
                                           MapCase{"a\r\n\r\n\r\n\r\n\r\n\r\n\r\nb", "a\r\nb"},
                                           MapCase{"a\nb\n\n", "a\nb\n\n"}, // bare LF stays
                                           MapCase{"a\r\nb\r\n", "a\r\nb\r\n"}, MapCase{"", ""}));

class XmlEntitiesEncTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(XmlEntitiesEncTest, ReplacesMarkup) {
    EXPECT_EQ(Funclib::XmlEntitiesEnc(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlEntitiesEncTest,
    ::testing::Values(MapCase{"<a href=\"x\">'&'</a>",
                              "&lt;a href=&quot;x&quot;&gt;&apos;&amp;&apos;&lt;/a&gt;"},
                      MapCase{"&amp;", "&amp;amp;"}, MapCase{"plain", "plain"},
                      MapCase{Gbk(u8"中<文"), Gbk(u8"中&lt;文")},
                      // A lead byte whose next byte cannot end a character
                      // does not shield that byte.
                      MapCase{"\xB0<b>", "\xB0&lt;b&gt;"}));

class JavaScriptEscapeTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(JavaScriptEscapeTest, EscapesControlsQuotesAndBackslash) {
    EXPECT_EQ(Funclib::JavaScriptEscape(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JavaScriptEscapeTest,
    ::testing::Values(MapCase{"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
                      MapCase{"say \"hi\" 'you' \\", "say \\\"hi\\\" \\'you\\' \\\\"},
                      MapCase{std::string("a\0b\x0B", 4), std::string("a\0b\x0B", 4)},
                      // The second byte of 昞 is 0x5C: the character stays whole.
                      MapCase{Gbk(u8"昞\\"), Gbk(u8"昞") + "\\\\"},
                      // Lead bytes before a quote or a line feed, which no
                      // GBK character ends in: both are still escaped.
                      MapCase{"\x81\"x", "\x81\\\"x"}, MapCase{"\xB0\n", "\xB0\\n"}));

TEST(StrDec, XorsEachByteWithRepeatingKey) {
    // Zero bytes reveal the key; it repeats every 8 bytes.
    const std::string key = Funclib::StrDec(std::string(32, '0'));
    ASSERT_EQ(key.size(), 16u);
    EXPECT_EQ(key.substr(0, 8), key.substr(8, 8));
    // A text enciphered with that key comes back.
    const std::string plain = "Hello, key!";
    std::string hex;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const auto byte = static_cast<unsigned char>(plain[i] ^ key[i % 8]);
        static constexpr char digits[] = "0123456789abcdef";
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    EXPECT_EQ(Funclib::StrDec(hex), plain);
}

TEST(StrDec, StopsAtOddOrNonHexTail) {
    const std::string full = Funclib::StrDec("A1B2C3");
    ASSERT_EQ(full.size(), 3u);
    EXPECT_EQ(Funclib::StrDec("A1B2C3D"), full);               // odd last character ignored
    EXPECT_EQ(Funclib::StrDec("A1B2G3D4"), full.substr(0, 2)); // decoding ends at "G3"
    EXPECT_EQ(Funclib::StrDec("a1b2c3"), full);                // lower-case digits
    EXPECT_EQ(Funclib::StrDec("zz"), "");
    EXPECT_EQ(Funclib::StrDec(""), "");
}

struct FloatCase {
    double value;
    std::int32_t digits;
    std::string expected;
};

class FloatToStr2Test : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatToStr2Test, TruncatesAndPads) {
    EXPECT_EQ(Funclib::FloatToStr2(GetParam().value, GetParam().digits), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FloatToStr2Test,
                         ::testing::Values(FloatCase{1.07421875, 2, "1.07"},
                                           FloatCase{1.5, 2, "1.50"}, FloatCase{2.0, 2, "2.00"},
                                           FloatCase{1.999, 2, "1.99"}, // truncated, not rounded
                                           FloatCase{0.05, 3, "0.050"}, FloatCase{3.75, 0, "3.0"},
                                           FloatCase{3.75, -2, "3.0"}, FloatCase{-1.5, 2, "-1.50"},
                                           FloatCase{-0.25, 2, "-0.25"},
                                           FloatCase{-0.001, 2, "0.00"},
                                           FloatCase{12345678901.5, 1, "12345678901.5"}));

TEST(FloatToStr2, ExtremeInputsGiveText) {
    EXPECT_EQ(Funclib::FloatToStr2(std::numeric_limits<double>::quiet_NaN(), 2), "0.00");
    EXPECT_EQ(Funclib::FloatToStr2(1e300, 2).substr(0, 4), "9223");
    EXPECT_EQ(Funclib::FloatToStr2(0.5, 1000).size(), 2u + 18u);
}

struct SizeCase {
    std::uint64_t size;
    std::string expected;
};

class GetSizeKMGTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(GetSizeKMGTest, PicksUnit) {
    EXPECT_EQ(Funclib::GetSizeKMG(GetParam().size), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetSizeKMGTest,
    ::testing::Values(SizeCase{0, "0 B"}, SizeCase{1023, "1023 B"}, SizeCase{1024, "1.00 KB"},
                      SizeCase{1536, "1.50 KB"}, SizeCase{1048575, "1023.99 KB"},
                      SizeCase{1048576, "1.00 MB"}, SizeCase{1073741823, "1023.99 MB"},
                      SizeCase{1073741824, "1.00 GB"}, SizeCase{5ull << 40, "5120.00 GB"},
                      SizeCase{UINT64_MAX, "17179869184.00 GB"}));

struct TimeCase {
    std::uint32_t ms;
    std::u8string expected;
};

class MSecondToTimeStrTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(MSecondToTimeStrTest, NamesNonZeroParts) {
    EXPECT_EQ(Funclib::MSecondToTimeStr(GetParam().ms), Gbk(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, MSecondToTimeStrTest,
                         ::testing::Values(TimeCase{0, u8""}, TimeCase{999, u8""},
                                           TimeCase{1000, u8"1秒"}, TimeCase{60000, u8"1分"},
                                           TimeCase{90061000, u8"1天1小时1分1秒"},
                                           TimeCase{86400000 + 5000, u8"1天5秒"},
                                           TimeCase{7200000, u8"2小时"},
                                           TimeCase{UINT32_MAX, u8"49天17小时2分47秒"}));

struct TickCase {
    std::uint32_t oldTick;
    std::uint32_t newTick;
    std::uint32_t expected;
};

class DiffTickCountTest : public ::testing::TestWithParam<TickCase> {};

TEST_P(DiffTickCountTest, HandlesWrap) {
    EXPECT_EQ(Funclib::DiffTickCount(GetParam().oldTick, GetParam().newTick), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DiffTickCountTest,
                         ::testing::Values(TickCase{5, 10, 5}, TickCase{7, 7, 0},
                                           TickCase{10, 5, 4294967290u},
                                           TickCase{0xFFFFFFFFu, 0, 0},
                                           TickCase{0xFFFFFFF0u, 0x10, 0x1F}));

TEST(SubStr, FollowsTheSessionHelpers) {
    EXPECT_EQ(Funclib::GetSubStr("k=v;x", "k=", ";"), "v");
    EXPECT_EQ(Funclib::GetSubStr("k=v", "k=", ";"), "");
    std::string rest;
    EXPECT_EQ(Funclib::GetSubStrEx("a\r\nb", "", "\r\n", rest), "a");
    EXPECT_EQ(rest, "b");
    EXPECT_EQ(Funclib::GetSubStrEx("ab", "", "\r\n", rest), "");
    EXPECT_EQ(rest, "b");
}

TEST(GetTickCountUSec, AdvancesInMicroseconds) {
    const std::uint32_t before = Funclib::GetTickCountUSec();
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(20)) {
    }
    const std::uint32_t elapsed = Funclib::DiffTickCount(before, Funclib::GetTickCountUSec());
    EXPECT_GE(elapsed, 19000u); // at least the 20 ms spun, in microseconds
    EXPECT_LT(elapsed, 20000000u);
}

} // namespace
