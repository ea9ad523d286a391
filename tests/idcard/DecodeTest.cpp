#include "CodePage.h"
#include "Unitidcardreader.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace {

// A record on the heap, exactly as large as the driver's type, so that the
// address sanitizer sees any read past its end.
std::unique_ptr<IDCardRecord> NewRecord() {
    return std::make_unique<IDCardRecord>();
}

void Put(IDCardRecord& record, std::size_t offset, const std::string& bytes) {
    ASSERT_LE(offset + bytes.size(), record.size());
    std::memcpy(record.data() + offset, bytes.data(), bytes.size());
}

} // namespace

TEST(NationNames, HoldTheFiftySixNationsInCodeOrder) {
    const auto& names = NationNames();
    EXPECT_EQ(names.front(), Gbk(u8"汉"));
    EXPECT_EQ(names[28], Gbk(u8"柯尔克孜"));
    EXPECT_EQ(names.back(), Gbk(u8"基诺"));
    const std::set<std::string> distinct(names.begin(), names.end());
    EXPECT_EQ(distinct.size(), names.size());
    EXPECT_EQ(distinct.count(""), 0u);
    // A '?' stands for a character that did not convert to GBK.
    for (const std::string& name : names)
        EXPECT_EQ(name.find('?'), std::string::npos) << name;
}

TEST(DecodeIDCardRecord, TakesTheNationThroughItsCode) {
    struct Case {
        std::string code; // up to the field's whole room of 6 bytes
        std::string nation;
    };
    const Case cases[] = {
        {"01", Gbk(u8"汉")},
        {"1", Gbk(u8"汉")},
        {"02", Gbk(u8"蒙古")},
        {"56", Gbk(u8"基诺")},
        {"000056", Gbk(u8"基诺")}, // fills the room, no zero byte
        {"+5", Gbk(u8"维吾尔")},
        // no integer: "汉"
        {"", Gbk(u8"汉")},
        {"ab", Gbk(u8"汉")},
        {"3a", Gbk(u8"汉")}, // no partial reading
        {" 3", Gbk(u8"汉")}, // taken untrimmed
        {"3 ", Gbk(u8"汉")},
        {"+", Gbk(u8"汉")},
        {"+-3", Gbk(u8"汉")},
        // an integer that names no nation: no name
        {"0", ""},
        {"00", ""},
        {"57", ""},
        {"-1", ""},
        {"999999", ""},
    };
    for (const Case& c : cases) {
        auto record = NewRecord();
        Put(*record, 36, c.code);
        EXPECT_EQ(DecodeIDCardRecord(*record).Nation, c.nation) << "code \"" << c.code << "\"";
    }
}

TEST(FormatCardDate, SplitsEightBytesAndPassesOtherLengthsOn) {
    const std::pair<std::string, std::string> cases[] = {
        {"19980314", "1998-03-14"},
        {"20281231", "2028-12-31"},
        {"abcdefgh", "abcd-ef-gh"},
        {Gbk(u8"长期"), Gbk(u8"长期")},
        {"", ""},
        {"1998031", "1998031"},
        {"199803140", "199803140"},
        {"1998-03-14", "1998-03-14"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(FormatCardDate(in), out) << in;
}

TEST(DecodeIDCardRecord, TakesEachFieldAsItsRuleSays) {
    auto record = NewRecord();
    Put(*record, 0, Gbk(u8" 林晓雨  "));
    Put(*record, 32, Gbk(u8"女"));
    Put(*record, 36, "01");
    Put(*record, 42, " 19980314\t");
    Put(*record, 60, Gbk(u8"\r 北京市东城区示例胡同12号   \n"));
    Put(*record, 132, "110101199803140022 ");
    Put(*record, 170, Gbk(u8"  北京市公安局东城分局 "));
    Put(*record, 202, "20180520  ");
    Put(*record, 220, Gbk(u8" 长期 "));
    Put(*record, 276, " /tmp/IDCardPhoto_a1b2c3.bmp  ");

    const SStuInfo card = DecodeIDCardRecord(*record);
    EXPECT_EQ(card.Reserved, "");
    // Name, sex and number as the reader wrote them, blanks included.
    EXPECT_EQ(card.Name, Gbk(u8" 林晓雨  "));
    EXPECT_EQ(card.Sex, Gbk(u8"女"));
    EXPECT_EQ(card.IDCardNum, "110101199803140022 ");
    EXPECT_EQ(card.Nation, Gbk(u8"汉"));
    // The others trimmed, dates after trimming.
    EXPECT_EQ(card.Born, "1998-03-14");
    EXPECT_EQ(card.Address, Gbk(u8"北京市东城区示例胡同12号"));
    EXPECT_EQ(card.GrantDept, Gbk(u8"北京市公安局东城分局"));
    EXPECT_EQ(card.UserLifeBegin, "2018-05-20");
    EXPECT_EQ(card.UserLifeEnd, Gbk(u8"长期"));
    EXPECT_EQ(card.PhotoFile, "/tmp/IDCardPhoto_a1b2c3.bmp");
}

TEST(DecodeIDCardRecord, AnEmptyRecordGivesAnEmptyCardButTheDefaultNation) {
    const SStuInfo card = DecodeIDCardRecord(*NewRecord());
    EXPECT_EQ(card.Name, "");
    EXPECT_EQ(card.IDCardNum, "");
    EXPECT_EQ(card.Born, "");
    EXPECT_EQ(card.UserLifeEnd, "");
    EXPECT_EQ(card.PhotoFile, "");
    EXPECT_EQ(card.Nation, Gbk(u8"汉"));
}

TEST(DecodeIDCardRecord, AFieldWithoutZeroByteEndsWithItsRoom) {
    // Every field fills its whole room with a letter of its own, so a field
    // read past its room would take the next one's letter.
    struct Field {
        std::size_t offset;
        std::size_t room;
        char fill;
    };
    const Field fields[] = {{0, 32, 'a'},   {32, 4, 'b'},   {36, 6, 'c'},   {42, 18, 'd'},
                            {60, 72, 'e'},  {132, 38, 'f'}, {170, 32, 'g'}, {202, 18, 'h'},
                            {220, 56, 'i'}, {276, 255, 'j'}};
    auto record = NewRecord();
    for (const Field& f : fields)
        Put(*record, f.offset, std::string(f.room, f.fill));

    const SStuInfo card = DecodeIDCardRecord(*record);
    EXPECT_EQ(card.Name, std::string(32, 'a'));
    EXPECT_EQ(card.Sex, std::string(4, 'b'));
    EXPECT_EQ(card.Nation, Gbk(u8"汉"));
    EXPECT_EQ(card.Born, std::string(18, 'd'));
    EXPECT_EQ(card.Address, std::string(72, 'e'));
    EXPECT_EQ(card.IDCardNum, std::string(38, 'f'));
    EXPECT_EQ(card.GrantDept, std::string(32, 'g'));
    EXPECT_EQ(card.UserLifeBegin, std::string(18, 'h'));
    EXPECT_EQ(card.UserLifeEnd, std::string(56, 'i'));
    EXPECT_EQ(card.PhotoFile, std::string(255, 'j'));
}
