#include "Json.h"

#include "CodePage.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

using Json::EConvertError;
using Json::EJSONError;
using Json::ParseJSON;
using Json::TJSONobject;
using Json::TValue;
using Json::TValueKind;

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The value of member `name` of a one-member document `{"v": json}`.
TValue ValueOf(const std::string& json) {
    auto doc = ParseJSON("{\"v\":" + json + "}");
    Json::TJSONbase* node = doc->Member("v");
    if (!node)
        throw std::logic_error("member v missing");
    return node->Value();
}

// ---- Building and writing ----

TEST(JsonBuild, MembersInOrderAddedWithNumbersAsNumbers) {
    TJSONobject doc;
    doc.Add("username", "13812345678");
    doc.AddInt64("stuid", 42);
    doc.Add("a", "");
    EXPECT_EQ(doc.ToText(), R"({"username":"13812345678","stuid":42,"a":""})");
    ASSERT_EQ(doc.Count(), 3u);
    EXPECT_EQ(doc.Name(0), "username");
    EXPECT_EQ(doc.Name(1), "stuid");
    EXPECT_EQ(doc.Name(2), "a");
    EXPECT_EQ(doc.Name(3), "");
}

TEST(JsonBuild, EmptyObject) {
    TJSONobject doc;
    EXPECT_EQ(doc.ToText(), "{}");
    EXPECT_EQ(doc.Count(), 0u);
    EXPECT_EQ(doc.Parent(), nullptr);
}

TEST(JsonBuild, Int64ExtremesWrittenExactly) {
    TJSONobject doc;
    doc.AddInt64("min", std::numeric_limits<std::int64_t>::min());
    doc.AddInt64("max", std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(doc.ToText(), R"({"min":-9223372036854775808,"max":9223372036854775807})");
}

TEST(JsonBuild, ChineseTextWrittenAsAsciiEscapes) {
    TJSONobject doc;
    doc.Add("name", Gbk(u8"张三"));
    doc.Add(Gbk(u8"备注"), Gbk(u8"誠"));
    const std::string text = doc.ToText();
    EXPECT_TRUE(IsAscii(text)) << text;
    EXPECT_EQ(text, R"({"name":"\u5f20\u4e09","\u5907\u6ce8":"\u8aa0"})");
}

TEST(JsonBuild, SpecialCharactersEscaped) {
    TJSONobject doc;
    doc.Add("t", std::string("q\"b\\s/\n\r\t") + '\x01');
    EXPECT_EQ(doc.ToText(), R"({"t":"q\"b\\s/\n\r\t\u0001"})");
}

TEST(JsonBuild, SameNameTwiceReplacesValueInPlace) {
    TJSONobject doc;
    doc.Add("a", "1");
    doc.Add("b", "2");
    doc.AddInt64("a", 3);
    EXPECT_EQ(doc.ToText(), R"({"a":3,"b":"2"})");
    EXPECT_EQ(doc.Count(), 2u);
    EXPECT_EQ(doc.Member("a")->Value().AsInt(), 3);
}

TEST(JsonBuild, OtherScalarMembers) {
    TJSONobject doc;
    doc.AddBool("t", true);
    doc.AddBool("f", false);
    doc.AddNull("n");
    doc.AddDouble("d", 1.5);
    doc.AddDouble("nan", std::numeric_limits<double>::quiet_NaN());
    doc.AddDouble("inf", std::numeric_limits<double>::infinity());
    EXPECT_EQ(doc.ToText(), R"({"t":true,"f":false,"n":null,"d":1.5,"nan":null,"inf":null})");
}

TEST(JsonBuild, WrittenTextParsesBackToSameGbk) {
    TJSONobject doc;
    const std::string name = Gbk(u8"李四，驾校“学员”");
    doc.Add("name", name);
    doc.AddInt64("stuid", -7);
    auto back = ParseJSON(doc.ToText());
    EXPECT_EQ(back->Member("name")->Value().AsString(), name);
    EXPECT_EQ(back->Member("stuid")->Value().AsInt64(), -7);
    EXPECT_EQ(back->ToText(), doc.ToText());
}

// ---- Parsing GBK answers ----

struct GbkAnswerCase {
    const char* label;
    std::string answer;
    std::string expected;
};

class JsonParseGbk : public testing::TestWithParam<GbkAnswerCase> {};

TEST_P(JsonParseGbk, ContentArrivesAsGbk) {
    const auto& c = GetParam();
    auto doc = ParseJSON(c.answer);
    ASSERT_NE(doc->Member("Content"), nullptr);
    EXPECT_EQ(doc->Member("Content")->Value().AsString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, JsonParseGbk,
    testing::Values(
        GbkAnswerCase{"raw", "{\"Code\":1,\"Content\":\"" + Gbk(u8"删除成功！") + "\"}",
                      Gbk(u8"删除成功！")},
        GbkAnswerCase{"escaped", R"({"Code":1,"Content":"\u5220\u9664\u6210\u529f\uff01"})",
                      Gbk(u8"删除成功！")},
        GbkAnswerCase{"mixed", "{\"Content\":\"" + Gbk(u8"删除") + R"(\u6210\u529F)" + "\"}",
                      Gbk(u8"删除成功")},
        // 誠 is D5 5C in GBK: its second byte must not act as a backslash.
        GbkAnswerCase{"trail byte 5C", "{\"Content\":\"" + Gbk(u8"誠") + "\",\"x\":1}",
                      Gbk(u8"誠")},
        GbkAnswerCase{"escaped quote", R"({"Content":"a\"b\\c\/d"})", "a\"b\\c/d"},
        GbkAnswerCase{"not in GBK", R"({"Content":"a\ud83d\ude00b"})", "a?b"},
        GbkAnswerCase{"embedded zero", R"({"Content":"a\u0000b"})", std::string("a\0b", 3)}),
    [](const auto& param) {
        std::string name = param.param.label;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(JsonParse, GbkMemberNames) {
    auto doc = ParseJSON("{\"" + Gbk(u8"姓名") + "\":\"x\",\"\\u5e74\\u9f84\":3}");
    ASSERT_NE(doc->Member(Gbk(u8"姓名")), nullptr);
    EXPECT_EQ(doc->Member(Gbk(u8"姓名"))->Value().AsString(), "x");
    ASSERT_NE(doc->Member(Gbk(u8"年龄")), nullptr);
    EXPECT_EQ(doc->Member(Gbk(u8"年龄"))->Value().AsInt(), 3);
}

TEST(JsonParse, MissingMemberAndCaseMismatchGiveNull) {
    auto doc = ParseJSON(R"({"Code":1,"Content":"x"})");
    EXPECT_NE(doc->Member("Code"), nullptr);
    EXPECT_EQ(doc->Member("code"), nullptr);
    EXPECT_EQ(doc->Member("CODE"), nullptr);
    EXPECT_EQ(doc->Member("SID"), nullptr);
    EXPECT_EQ(doc->Member(""), nullptr);
    // A scalar node has no members.
    EXPECT_EQ(doc->Member("Code")->Member("x"), nullptr);
}

TEST(JsonParse, DuplicateNameLastValueWins) {
    auto doc = ParseJSON(R"({"Code":0,"Content":"a","Code":1})");
    EXPECT_EQ(doc->Count(), 2u);
    EXPECT_EQ(doc->Name(0), "Code");
    EXPECT_EQ(doc->Member("Code")->Value().AsInt(), 1);
}

TEST(JsonParse, NestedObjectsAndArraysReachable) {
    auto doc =
        ParseJSON(R"({"Content":{"list":[1,"two",{"k":true},[]],"n":null},"Code":1,"e":{}})");
    ASSERT_EQ(doc->Count(), 3u);
    EXPECT_EQ(doc->Name(0), "Content");
    EXPECT_EQ(doc->Name(1), "Code");
    EXPECT_EQ(doc->Name(2), "e");

    Json::TJSONbase* content = doc->Member("Content");
    ASSERT_NE(content, nullptr);
    ASSERT_NE(content->AsObject(), nullptr);
    EXPECT_EQ(content->AsArray(), nullptr);
    EXPECT_EQ(content->Parent(), doc.get());
    EXPECT_EQ(content->Value().Kind(), TValueKind::Object);

    Json::TJSONbase* list = content->Member("list");
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->AsArray(), nullptr);
    EXPECT_EQ(list->AsObject(), nullptr);
    EXPECT_EQ(list->Parent(), content);
    ASSERT_EQ(list->Count(), 4u);
    EXPECT_EQ(list->Item(0)->Value().AsInt(), 1);
    EXPECT_EQ(list->Item(1)->Value().AsString(), "two");
    EXPECT_EQ(list->Item(1)->Parent(), list);
    ASSERT_NE(list->Item(2)->Member("k"), nullptr);
    EXPECT_TRUE(list->Item(2)->Member("k")->Value().AsBool());
    EXPECT_EQ(list->Item(3)->Count(), 0u);
    EXPECT_EQ(list->Item(3)->Value().Kind(), TValueKind::Array);
    EXPECT_EQ(list->Item(4), nullptr);
    EXPECT_EQ(list->Member("k"), nullptr);

    EXPECT_TRUE(content->Member("n")->Value().IsNull());
    EXPECT_EQ(doc->Item(1)->Value().AsInt(), 1);
    EXPECT_EQ(doc->Member("e")->AsObject()->Count(), 0u);

    // An object's value is its JSON text.
    EXPECT_EQ(list->Value().AsString(), R"([1,"two",{"k":true},[]])");
    EXPECT_EQ(content->Value().AsString(), R"({"list":[1,"two",{"k":true},[]],"n":null})");
    EXPECT_EQ(doc->ToText(),
              R"({"Content":{"list":[1,"two",{"k":true},[]],"n":null},"Code":1,"e":{}})");
}

TEST(JsonParse, BlanksAroundTokensAllowed) {
    auto doc = ParseJSON(" \r\n\t{ \"Code\" : 1 , \"Content\" : [ ] } \n");
    EXPECT_EQ(doc->Member("Code")->Value().AsInt(), 1);
    EXPECT_EQ(doc->Member("Content")->Count(), 0u);
}

struct ScalarCase {
    const char* json;
    TValueKind kind;
    const char* text;
};

class JsonScalars : public testing::TestWithParam<ScalarCase> {};

TEST_P(JsonScalars, KindAndText) {
    const auto& c = GetParam();
    const TValue v = ValueOf(c.json);
    EXPECT_EQ(v.Kind(), c.kind);
    EXPECT_EQ(v.AsString(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonScalars,
    testing::Values(
        ScalarCase{"true", TValueKind::Bool, "true"},
        ScalarCase{"false", TValueKind::Bool, "false"}, ScalarCase{"null", TValueKind::Null, ""},
        ScalarCase{"1.5", TValueKind::Double, "1.5"},
        ScalarCase{"-0.25", TValueKind::Double, "-0.25"},
        ScalarCase{"1e2", TValueKind::Double, "100.0"}, ScalarCase{"-3", TValueKind::Integer, "-3"},
        ScalarCase{"0", TValueKind::Integer, "0"},
        ScalarCase{"18446744073709551615", TValueKind::Integer, "18446744073709551615"},
        ScalarCase{"\"x\"", TValueKind::String, "x"}, ScalarCase{"\"\"", TValueKind::String, ""},
        ScalarCase{"[1, 2]", TValueKind::Array, "[1,2]"},
        ScalarCase{"{\"a\" : \"b\"}", TValueKind::Object, "{\"a\":\"b\"}"}));

TEST(JsonValue, DefaultIsNull) {
    const TValue v;
    EXPECT_TRUE(v.IsNull());
    EXPECT_EQ(v.AsString(), "");
    EXPECT_THROW(v.AsInt(), EConvertError);
}

TEST(JsonValue, DoubleReadAsDouble) {
    EXPECT_DOUBLE_EQ(ValueOf("1.5").AsDouble(), 1.5);
    EXPECT_DOUBLE_EQ(ValueOf("3").AsDouble(), 3.0);
    EXPECT_DOUBLE_EQ(ValueOf("\" 2.25 \"").AsDouble(), 2.25);
    EXPECT_THROW(ValueOf("\"x\"").AsDouble(), EConvertError);
    EXPECT_THROW(ValueOf("true").AsDouble(), EConvertError);
    EXPECT_THROW(ValueOf("1").AsBool(), EConvertError);
}

// ---- Integer conversions ----

struct IntCase {
    const char* json;
    std::int64_t expected;
};

class JsonAsIntAccepts : public testing::TestWithParam<IntCase> {};

TEST_P(JsonAsIntAccepts, Reads) {
    const auto& c = GetParam();
    EXPECT_EQ(ValueOf(c.json).AsInt64(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonAsIntAccepts,
    testing::Values(IntCase{"\"12\"", 12}, IntCase{"\" 7 \"", 7}, IntCase{"12", 12},
                    IntCase{"12.0", 12}, IntCase{"-4.0", -4}, IntCase{"1e3", 1000},
                    IntCase{"\"-5\"", -5}, IntCase{"\"+3\"", 3}, IntCase{"\"\\t42\\r\\n\"", 42},
                    IntCase{"\"007\"", 7}, IntCase{"-0", 0},
                    IntCase{"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
                    IntCase{"\"-9223372036854775808\"", std::numeric_limits<std::int64_t>::min()},
                    IntCase{"-9223372036854775808", std::numeric_limits<std::int64_t>::min()}));

class JsonAsIntRefuses : public testing::TestWithParam<const char*> {};

TEST_P(JsonAsIntRefuses, RaisesConvertErrorWithMessage) {
    const TValue v = ValueOf(GetParam());
    try {
        (void)v.AsInt64();
        ADD_FAILURE() << "no error for " << GetParam();
    } catch (const EConvertError& e) {
        EXPECT_NE(std::string(e.what()), "");
    }
    EXPECT_THROW(v.AsInt(), EConvertError);
    EXPECT_THROW(v.AsInt16(), EConvertError);
}

INSTANTIATE_TEST_SUITE_P(Values, JsonAsIntRefuses,
                         testing::Values("\"abc\"", "\"1.5\"", "1.5", "-0.5", "true", "false",
                                         "null", "\"\"", "\"  \"", "\"12abc\"", "\"- 5\"",
                                         "\"+-5\"", "\"0x10\"", "\"1 2\"", "\"1e3\"", "{}", "[]",
                                         "[1]", "\"9223372036854775808\"",
                                         "\"-9223372036854775809\"", "\"99999999999999999999\"",
                                         "9223372036854775808", "18446744073709551615", "1e300",
                                         "-1e300"));

TEST(JsonAsInt, IntRangeIs32Bit) {
    EXPECT_EQ(ValueOf("2147483647").AsInt(), 2147483647);
    EXPECT_EQ(ValueOf("-2147483648").AsInt(), -2147483647 - 1);
    EXPECT_THROW(ValueOf("2147483648").AsInt(), EConvertError);
    EXPECT_THROW(ValueOf("\"-2147483649\"").AsInt(), EConvertError);
    EXPECT_EQ(ValueOf("2147483648").AsInt64(), 2147483648LL);
}

struct Int16Case {
    const char* json;
    bool ok;
    std::int16_t expected;
};

class JsonAsInt16 : public testing::TestWithParam<Int16Case> {};

TEST_P(JsonAsInt16, RangeChecked) {
    const auto& c = GetParam();
    const TValue v = ValueOf(c.json);
    if (c.ok)
        EXPECT_EQ(v.AsInt16(), c.expected);
    else
        EXPECT_THROW(v.AsInt16(), EConvertError);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonAsInt16,
    testing::Values(Int16Case{"1", true, 1}, Int16Case{"\"1\"", true, 1}, Int16Case{"0", true, 0},
                    Int16Case{"32767", true, 32767}, Int16Case{"-32768", true, -32768},
                    Int16Case{"\"32767\"", true, 32767}, Int16Case{"32768", false, 0},
                    Int16Case{"-32769", false, 0}, Int16Case{"\"40000\"", false, 0},
                    Int16Case{"65537", false, 0}, Int16Case{"\"x\"", false, 0}));

// ---- Refused texts ----

class JsonParseRefuses : public testing::TestWithParam<std::string> {};

TEST_P(JsonParseRefuses, RaisesJsonError) {
    try {
        auto doc = ParseJSON(GetParam());
        ADD_FAILURE() << "parsed: " << GetParam();
    } catch (const EJSONError& e) {
        EXPECT_NE(std::string(e.what()), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, JsonParseRefuses,
                         testing::Values("", " ", "not json", "<html>500</html>", "{", "}",
                                         "{\"a\":1", "{\"a\":1}x", "{\"a\":1}{\"b\":2}", "{\"a\":}",
                                         "{\"a\" 1}", "{a:1}", "{'a':1}", "{\"a\":1,}", "[1,2]",
                                         "[]", "[{\"a\":1}]", "12", "-1.5", "\"text\"", "null",
                                         "true", "{\"a\":\"\\ud800\"}", "{\"a\":\"\\x41\"}",
                                         "{\"a\":1e400}", "{\"a\":01}", "{\"a\":\"line\nbreak\"}",
                                         std::string("{\"a\":1}\0x", 9),
                                         std::string("{\"a\":1}\0\0 ", 10),
                                         std::string("\0{\"a\":1}", 8), "{\"a\":1} // c"));

TEST(JsonParse, ErrorMessagesDoNotQuoteTheText) {
    const std::string secret = "c899da33-4749-487e-898c-4a0c2879b048";
    for (const std::string& text :
         {R"({"Code":"1","SID":")" + secret, R"({"Code":"1","SID":")" + secret + R"(\x"})",
          R"({"SID":)" + secret + "}"}) {
        try {
            ParseJSON(text);
            ADD_FAILURE() << "parsed: " << text;
        } catch (const EJSONError& e) {
            const std::string message = e.what();
            EXPECT_NE(message, "") << text;
            EXPECT_EQ(message.find("c899da33"), std::string::npos) << message;
        }
    }
}

TEST(JsonParse, TrailingZeroBytesIgnored) {
    auto doc = ParseJSON(std::string("{\"Code\":1}\0\0\0", 13));
    EXPECT_EQ(doc->Member("Code")->Value().AsInt(), 1);
}

// ---- Hostile input ----

TEST(JsonHostile, InvalidGbkBytesBecomeQuestionMarks) {
    // 0xFF never starts a GBK character; 0x81 before ' ' or '"' has no trail.
    EXPECT_EQ(ValueOf("\"x\x81 y\"").AsString(), "x? y");
    EXPECT_EQ(ValueOf("\"x\xFFy\"").AsString(), "x?y");
    EXPECT_EQ(ValueOf("\"x\x81\"").AsString(), "x?");
    EXPECT_THROW(ParseJSON("{\"a\":\"x\"}\x81"), EJSONError);
}

TEST(JsonHostile, EveryByteInAStringEitherParsesOrIsRefused) {
    for (int b = 0; b < 256; ++b) {
        const std::string text = std::string("{\"a\":\"x") + static_cast<char>(b) + "\"}";
        try {
            auto doc = ParseJSON(text);
            ASSERT_NE(doc->Member("a"), nullptr) << "byte " << b;
            EXPECT_FALSE(doc->Member("a")->Value().AsString().empty()) << "byte " << b;
        } catch (const EJSONError&) {
            // Control characters, '"' and '\' cannot stand there.
            EXPECT_TRUE(b < 0x20 || b == '"' || b == '\\') << "byte " << b;
        }
    }
}

std::string Nested(int arrays) {
    return "{\"a\":" + std::string(static_cast<std::size_t>(arrays), '[') +
           std::string(static_cast<std::size_t>(arrays), ']') + "}";
}

TEST(JsonHostile, NestingUpToLimitAccepted) {
    // The root object and MaxDepth - 1 arrays make MaxDepth levels.
    auto doc = ParseJSON(Nested(Json::MaxDepth - 1));
    Json::TJSONbase* node = doc->Member("a");
    int levels = 1;
    while (node) {
        ++levels;
        node = node->Item(0);
    }
    EXPECT_EQ(levels, Json::MaxDepth);
    EXPECT_EQ(doc->ToText(), Nested(Json::MaxDepth - 1));
}

TEST(JsonHostile, NestingBeyondLimitRefused) {
    EXPECT_THROW(ParseJSON(Nested(Json::MaxDepth)), EJSONError);
    EXPECT_THROW(ParseJSON("{\"a\":" + std::string(1000000, '[')), EJSONError);
    std::string objects;
    for (int i = 0; i < 100000; ++i)
        objects += "{\"a\":";
    EXPECT_THROW(ParseJSON(objects), EJSONError);
}

TEST(JsonHostile, ManyMembersWithOneName) {
    std::string text = "{";
    for (int i = 0; i < 50000; ++i)
        text += "\"k\":" + std::to_string(i) + ",";
    text += "\"k\":-1}";
    auto doc = ParseJSON(text);
    EXPECT_EQ(doc->Count(), 1u);
    EXPECT_EQ(doc->Member("k")->Value().AsInt(), -1);
}

} // namespace
