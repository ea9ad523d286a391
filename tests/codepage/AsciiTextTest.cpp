// The shared ASCII helpers: only ASCII letters change case and only the named
// blanks are trimmed, so GBK and UTF-8 bytes pass untouched.
#include "AsciiText.h"

#include "Utf8Check.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace std::string_literals;
namespace ascii = tarvo::ascii;

TEST(AsciiText, CaseChangesAsciiLettersOnly) {
    const std::string gbk = "\xD5\xC5\xC8\xFD"; // two GBK characters
    EXPECT_EQ(ascii::Lower("Content-TYPE: " + gbk + "Z"), "content-type: " + gbk + "z");
    EXPECT_EQ(ascii::Upper("get /a?x=" + gbk + "\xC1"), "GET /A?X=" + gbk + "\xC1");
    EXPECT_TRUE(ascii::EqualsNoCase("Max-Age", "max-AGE"));
    EXPECT_FALSE(ascii::EqualsNoCase("\xC1", "\xE1")); // Latin-1 case pairs are no letters here
    EXPECT_FALSE(ascii::EqualsNoCase("path", "paths"));
    EXPECT_TRUE(ascii::StartsWithNoCase("HTTPS://host", "https://"));
    EXPECT_FALSE(ascii::StartsWithNoCase("http", "https://"));
    EXPECT_TRUE(ascii::StartsWithNoCase(u"HtTp://h", u"http://"));
    EXPECT_FALSE(ascii::StartsWithNoCase(u"\u0130ttp://", u"http://"));
}

TEST(AsciiText, EachTrimKeepsWhatIsNotItsBlank) {
    const std::string text = "\x01\t \r\nvalue \xA1\xA1\v\f\x1F";
    EXPECT_EQ(ascii::Trim(text), "\x01\t \r\nvalue \xA1\xA1\v\f\x1F"); // control bytes end it
    EXPECT_EQ(ascii::Trim(" \t\r\n\v\fvalue\xA1\xA1 \n"), "value\xA1\xA1");
    EXPECT_EQ(ascii::TrimHeaderBlanks(" \tv a\r\n"), "v a\r\n");
    EXPECT_EQ(ascii::TrimControls(text), "value \xA1\xA1");
    EXPECT_EQ(ascii::TrimControls("\x7F"
                                  "a"),
              "\x7F"
              "a"); // DEL is above the space
    EXPECT_EQ(ascii::Trim("   "), "");
    EXPECT_EQ(ascii::TrimControls(""), "");
}

TEST(Utf8Check, RefusesMalformedSequences) {
    const struct {
        std::string Text;
        bool Valid;
    } cases[] = {
        {"", true},
        {"plain", true},
        {"\xE5\xBC\xA0", true},      // 张
        {"\xF0\x9F\x98\x80", true},  // U+1F600
        {"\xF4\x8F\xBF\xBF", true},  // U+10FFFF
        {"\xC0\xAF", false},         // overlong '/'
        {"\xE0\x80\xAF", false},     // overlong
        {"\xED\xA0\x80", false},     // surrogate
        {"\xF4\x90\x80\x80", false}, // past U+10FFFF
        {"\x80", false},             // stray continuation
        {"\xE5\xBC", false},         // ends inside a sequence
        {"\xD5\xC5", false},         // GBK
        {"a\0b"s, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tarvo::utf8::IsWellFormed(c.Text), c.Valid) << testing::PrintToString(c.Text);
}

} // namespace
