#include "CodePage.h"

#include <gtest/gtest.h>

using namespace tarvo::cp;

TEST(Gbk, TurnsSourceTextsIntoGbkBytes) {
    // 提示 and the failure text's first characters, as GBK bytes.
    EXPECT_EQ(Gbk(u8"提示"), "\xCC\xE1\xCA\xBE");
    EXPECT_EQ(Gbk(u8"访问"), "\xB7\xC3\xCE\xCA");
    EXPECT_EQ(Gbk(u8"abc"), "abc");
    EXPECT_EQ(Gbk(u8""), "");
}

TEST(CodePage, RoundTripsThroughUnicodeForms) {
    const std::string gbk = Gbk(u8"学员列表：张三");
    EXPECT_EQ(Utf8ToGbk(GbkToUtf8(gbk)), gbk);
    EXPECT_EQ(Utf16ToGbk(GbkToUtf16(gbk)), gbk);
    EXPECT_EQ(GbkToUtf16(Gbk(u8"中")), u"中");
}

TEST(CodePage, ReplacesWhatCannotBeConverted) {
    struct Case {
        std::string in;
        const char* from;
        const char* to;
        std::string out;
        bool clean;
    };
    const Case cases[] = {
        {"\xD6\xD0", kGbk, kUtf8, "\xE4\xB8\xAD", true}, // 中
        {"a\xFF"
         "b",
         kGbk, kUtf8, "a?b", false},                   // invalid lead byte
        {"a\xD6", kGbk, kUtf8, "a?", false},           // truncated pair
        {"\xF0\x9F\x98\x80", kUtf8, kGbk, "?", false}, // emoji has no GBK form
        {"\xE4\xB8", kUtf8, kGbk, "??", false},        // truncated UTF-8
        {"\xD6\xD0", kGbk, kBig5, "\xA4\xA4", true},   // 中 in Big5
    };
    for (const Case& c : cases) {
        bool clean = !c.clean;
        EXPECT_EQ(Convert(c.in, c.from, c.to, &clean), c.out) << c.in;
        EXPECT_EQ(clean, c.clean) << c.in;
    }
}

TEST(CodePage, ValidatesEncodings) {
    EXPECT_TRUE(IsValid("\xD6\xD0"
                        "abc",
                        kGbk));
    EXPECT_FALSE(IsValid("\xD6", kGbk));
    EXPECT_TRUE(IsValid("\xE4\xB8\xAD", kUtf8));
    EXPECT_FALSE(IsValid("\xD6\xD0", kUtf8));
}
