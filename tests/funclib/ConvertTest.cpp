// Chinese text conversion: Simplified <-> Traditional by character, and
// GBK <-> Big5.
#include "CodePage.h"
#include "FuncLib.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct ChineseCase {
    std::u8string simplified;
    std::u8string traditional;
};

class ChineseTest : public ::testing::TestWithParam<ChineseCase> {};

TEST_P(ChineseTest, SimplifiedToTraditional) {
    EXPECT_EQ(Funclib::Chs2Cht(Gbk(GetParam().simplified)), Gbk(GetParam().traditional));
}

TEST_P(ChineseTest, TraditionalToSimplified) {
    EXPECT_EQ(Funclib::Cht2Chs(Gbk(GetParam().traditional)), Gbk(GetParam().simplified));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChineseTest,
    ::testing::Values(ChineseCase{u8"简体中文", u8"簡體中文"},
                      ChineseCase{u8"学员 ABC-123", u8"學員 ABC-123"}, ChineseCase{u8"", u8""},
                      ChineseCase{u8"提示：删除成功！", u8"提示：刪除成功！"}));

TEST(Chs2Cht, MapsCharactersNotPhrases) {
    // A phrase table would choose 頭髮 for 头发; the character table gives 發.
    EXPECT_EQ(Funclib::Chs2Cht(Gbk(u8"头发")), Gbk(u8"頭發"));
}

TEST(Chs2Cht, KeepsBytesAroundNul) {
    const std::string text = Gbk(u8"简") + std::string(1, '\0') + Gbk(u8"体");
    EXPECT_EQ(Funclib::Chs2Cht(text), Gbk(u8"簡") + std::string(1, '\0') + Gbk(u8"體"));
}

TEST(Chs2Cht, InvalidGbkBecomesQuestionMark) {
    // A lone lead byte at the end is no character.
    EXPECT_EQ(Funclib::Chs2Cht("ab\x81"), "ab?");
}

TEST(Big5, EncodeAndDecode) {
    EXPECT_EQ(Funclib::BIG5Encode(Gbk(u8"中文")), "\xA4\xA4\xA4\xE5");
    EXPECT_EQ(Funclib::BIG5Decode("\xA4\xA4\xA4\xE5"), Gbk(u8"中文"));
    EXPECT_EQ(Funclib::BIG5Decode(Funclib::BIG5Encode(Gbk(u8"簡體 abc"))), Gbk(u8"簡體 abc"));
    // 简 has no Big5 form.
    EXPECT_EQ(Funclib::BIG5Encode(Gbk(u8"简")), "?");
}

} // namespace
