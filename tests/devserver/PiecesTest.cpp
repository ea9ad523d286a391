// The server's pieces on their own: body parsing, version policy, the data
// packet writer and the store's rules.
#include "Cipher.h"
#include "DataPacket.h"
#include "DemoData.h"
#include "Forms.h"
#include "Sessions.h"
#include "Store.h"
#include "Versions.h"

#include <Aes.h>
#include <CallRules.h>
#include <CodePage.h>
#include <Encryptpwd.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <string>

namespace tarvo::devserver {
namespace {

using namespace std::string_literals;

constexpr const char* kBoundary = "multipart/form-data; boundary=XyZ";

TEST(Forms, UrlEncodedDecodesPercentAndPlus) {
    const Form form = ParseUrlEncoded("username=138%2000&data=AB+CD&empty=&bare&data=second&%zz=1");
    EXPECT_EQ(form.at("username").Value, "138 00");
    EXPECT_EQ(form.at("data").Value, "AB CD"); // the first of two wins
    EXPECT_EQ(form.at("empty").Value, "");
    EXPECT_EQ(form.at("bare").Value, "");
    EXPECT_EQ(form.at("%zz").Value, "1"); // a broken escape stays as it is
}

TEST(Forms, MultipartKeepsBinaryFileParts) {
    const std::string photo = "BM\0\r\n--Xy\xff"s;
    const std::string body = "--XyZ\r\n"
                             "Content-Disposition: form-data; name=\"data\"\r\n\r\n"
                             "0200000000000000\r\n"
                             "--XyZ\r\n"
                             "Content-Disposition: form-data; name=\"file\"; "
                             "filename=\"C:\\photo\\1.bmp\"\r\n"
                             "Content-Type: image/bmp\r\n\r\n" +
                             photo + "\r\n--XyZ--\r\n";
    const auto form = ParseMultipart(body, kBoundary);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->at("data").Value, "0200000000000000");
    EXPECT_EQ(form->at("file").Value, photo);
    EXPECT_EQ(form->at("file").FileName, "C:\\photo\\1.bmp");
    EXPECT_EQ(form->at("file").ContentType, "image/bmp");
}

TEST(Forms, MultipartRefusesBrokenBodies) {
    const struct {
        const char* What;
        std::string ContentType;
        std::string Body;
    } cases[] = {
        {"no boundary parameter", "multipart/form-data", "--XyZ\r\n\r\nx\r\n--XyZ--"},
        {"no closing delimiter", kBoundary,
         "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nvalue"},
        {"part without a name", kBoundary,
         "--XyZ\r\nContent-Disposition: form-data\r\n\r\nvalue\r\n--XyZ--"},
        {"not form-data", kBoundary,
         "--XyZ\r\nContent-Disposition: attachment; name=\"a\"\r\n\r\nv\r\n--XyZ--"},
        {"head never ends", kBoundary, "--XyZ\r\nContent-Disposition: form-data; name=\"a\""},
        {"boundary not found", kBoundary, "garbage"},
        {"empty body", kBoundary, ""},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ParseMultipart(c.Body, c.ContentType)) << c.What;
    }
}

TEST(Forms, ParseFormChoosesByContentType) {
    const auto multipart =
        ParseForm("--q\r\nContent-Disposition: form-data; name=\"data\"\r\n\r\nAA\r\n--q--\r\n",
                  "Multipart/Form-Data; boundary=\"q\"");
    ASSERT_TRUE(multipart);
    EXPECT_EQ(multipart->at("data").Value, "AA");
    const auto encoded = ParseForm("data=BB", "");
    ASSERT_TRUE(encoded);
    EXPECT_EQ(encoded->at("data").Value, "BB");
}

TEST(Forms, CookieValues) {
    const std::string header = "SID=3f2a9c4e-8b17-4d6a-b5e0-71c9d2a4f836; SType=1;x=; MySID=no";
    EXPECT_EQ(CookieValue(header, "SID"), "3f2a9c4e-8b17-4d6a-b5e0-71c9d2a4f836");
    EXPECT_EQ(CookieValue(header, "SType"), "1");
    EXPECT_EQ(CookieValue(header, "x"), "");
    EXPECT_EQ(CookieValue(header, "ID"), std::nullopt);
    EXPECT_EQ(CookieValue("", "SID"), std::nullopt);
}

// The server's cipher is OpenSSL's AES; the client's is its own. Each must
// read what the other writes, and both must meet the published AES vector.
TEST(Cipher, MeetsTheAesVectorAndTheClientsCipher) {
    // FIPS-197 appendix C.1: one block under the key 00 01 .. 0F.
    const std::string key = "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"s;
    const std::string block = "\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff"s;
    EXPECT_EQ(EncipherText(block, key), "1000000000000000"
                                        "69C4E0D86A7B0430D8CDB78070B4C55A");

    const std::string gbkName = Gbk(u8"张三");
    const struct {
        std::string Plain;
        std::string KeyText;
    } cases[] = {
        {"", "short"},
        {"{\"page\":\"1\"}", tarvo::rules::PayloadKeyText("")},
        {std::string(16, 'x'), tarvo::rules::PayloadKeyText("a-session-id")},
        {"{\"Name\":\"" + gbkName + "\"}" + std::string(40, 'y'), "0123456789abcdefTAIL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Plain);
        const std::string server = EncipherText(c.Plain, c.KeyText);
        EXPECT_EQ(server, Aes::EncryptString(c.Plain, c.KeyText, Aes::kb128));
        EXPECT_EQ(DecipherText(Aes::EncryptString(c.Plain, c.KeyText, Aes::kb128), c.KeyText),
                  c.Plain);
        EXPECT_EQ(DecipherText(server, c.KeyText), c.Plain);
    }
    EXPECT_EQ(PasswordCipher("13800001111", "pass"), EncryptPassword("13800001111", "pass"));
    EXPECT_EQ(PasswordCipher("abc", "pass"), EncryptPassword("ABC", "pass"));
}

TEST(Cipher, DecipherRefusesWhatIsNoCipherText) {
    const std::string good = EncipherText("text", "key");
    std::string lower = good;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(DecipherText(lower, "key"), "text");
    EXPECT_EQ(DecipherText("0000000000000000", "key"), ""); // the length field alone

    const struct {
        const char* What;
        std::string Hex;
    } cases[] = {
        {"odd count of digits", good + "0"},
        {"not hexadecimal", good.substr(0, good.size() - 1) + "G"},
        {"shorter than the length field", "00000000000000"},
        {"blocks not whole", good.substr(0, good.size() - 2)},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(DecipherText(c.Hex, "key")) << c.What;
}

TEST(Versions, ParseAcceptsOnlyDottedNumbers) {
    EXPECT_EQ(ParseVersion("1.0.0.1"), (Version{1, 0, 0, 1}));
    EXPECT_EQ(ParseVersion("4.10"), (Version{4, 10, 0, 0}));
    for (const char* bad : {"", "1..2", "1.2.3.4.5", "a.1", "1.2.", ".1", "1.70000", " 1.0"}) {
        EXPECT_EQ(ParseVersion(bad), std::nullopt) << bad;
    }
}

TEST(Versions, JudgeComparesPartByPartNumerically) {
    UpdatePolicy policy;
    policy.Latest = {1, 10, 0, 0};
    policy.Oldest = {1, 2, 0, 0};
    const struct {
        const char* Client;
        UpdateVerdict Expected;
    } cases[] = {
        {"1.10.0.0", UpdateVerdict::Current}, {"1.10.0.1", UpdateVerdict::Current},
        {"2.0", UpdateVerdict::Current},      {"1.9.9.9", UpdateVerdict::Offer},
        {"1.2", UpdateVerdict::Offer},        {"1.1.99", UpdateVerdict::Required},
        {"0.99", UpdateVerdict::Required},    {"", UpdateVerdict::Required},
        {"garbage", UpdateVerdict::Required},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JudgeVersion(policy, c.Client), c.Expected) << c.Client;
    }
}

TEST(Versions, NoReadableVersionCountsAsTheOldestOfAll) {
    UpdatePolicy policy;
    policy.Latest = {1, 0, 0, 1};
    // Every version is still allowed: a client without one is offered the
    // update, not barred.
    EXPECT_EQ(JudgeVersion(policy, ""), UpdateVerdict::Offer);
    EXPECT_EQ(JudgeVersion(policy, "garbage"), UpdateVerdict::Offer);
    policy.Latest = {};
    EXPECT_EQ(JudgeVersion(policy, ""), UpdateVerdict::Current);
}

TEST(Sessions, IdentifiersAreLowerCaseGuids) {
    const std::string a = NewSessionId();
    const std::string b = NewSessionId();
    EXPECT_NE(a, b);
    ASSERT_EQ(a.size(), 36u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(a[i], '-');
        } else {
            EXPECT_NE(std::string("0123456789abcdef").find(a[i]), std::string::npos) << a;
        }
    }
}

TEST(Sessions, ExpireAndClose) {
    SessionTable table(std::chrono::seconds(0));
    const auto gone = table.Open(7);
    EXPECT_EQ(table.Find(gone), std::nullopt); // a zero lifetime ends at once

    SessionTable live(std::chrono::seconds(3600));
    const auto id = live.Open(9);
    EXPECT_EQ(live.Find(id, true), 9);
    live.Close(id);
    EXPECT_EQ(live.Find(id), std::nullopt);
    EXPECT_EQ(live.Find("unknown"), std::nullopt);
}

pugi::xml_document ParsePacket(const std::string& gbk) {
    pugi::xml_document doc;
    const std::string utf8 = cp::GbkToUtf8(gbk);
    const auto result =
        doc.load_buffer(utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8);
    EXPECT_TRUE(result) << result.description();
    return doc;
}

TEST(DataPacket, EscapesValuesAndOmitsNulls) {
    const std::vector<PacketField> fields(kStudentPacketFields.begin(), kStudentPacketFields.end());
    const std::string tricky = "A&B <C> \"D\" 'E' \x01";
    const std::string text =
        WriteDataPacket(fields, {{"12", tricky, std::nullopt, "402113", "20261210T09:30:05000"}});
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" standalone=\"yes\"?>", 0), 0u);

    const auto doc = ParsePacket(text);
    const auto row = doc.child("DATAPACKET").child("ROWDATA").child("ROW");
    ASSERT_TRUE(row);
    EXPECT_EQ(std::string(row.attribute("Id").value()), "12");
    EXPECT_EQ(std::string(row.attribute("Name").value()), "A&B <C> \"D\" 'E' ");
    EXPECT_FALSE(row.attribute("Account")); // null: no attribute
    EXPECT_FALSE(row.attribute("DueDate")); // the row was short
    EXPECT_EQ(std::string(row.attribute("verifycode").value()), "402113");
}

TEST(DataPacket, DeclaresTheFieldsInTableOrder) {
    const std::vector<PacketField> fields(kStudentPacketFields.begin(), kStudentPacketFields.end());
    const auto doc = ParsePacket(WriteDataPacket(fields, {}));
    const auto packet = doc.child("DATAPACKET");
    EXPECT_EQ(std::string(packet.attribute("Version").value()), "2.0");
    EXPECT_TRUE(packet.child("METADATA").child("PARAMS"));
    EXPECT_FALSE(packet.child("ROWDATA").first_child());
    std::size_t i = 0;
    for (const auto field : packet.child("METADATA").child("FIELDS").children("FIELD")) {
        ASSERT_LT(i, fields.size());
        EXPECT_EQ(field.attribute("attrname").value(), fields[i].AttrName);
        EXPECT_EQ(field.attribute("fieldtype").value(), fields[i].FieldType);
        EXPECT_EQ(field.attribute("WIDTH").as_int(), fields[i].Width);
        ++i;
    }
    EXPECT_EQ(i, fields.size());
}

TEST(DataPacket, ChineseTextsAreGbk) {
    const std::string name = reinterpret_cast<const char*>(u8"演示"); // UTF-8
    const std::string text = WriteDataPacket({{"Name", "string", 30}}, {{name}});
    EXPECT_NE(text.find(Gbk(u8"演示")), std::string::npos);
    EXPECT_EQ(text.find(name), std::string::npos);
}

TEST(DataPacket, DateTimeForm) {
    const std::string text = PacketDateTime(0);
    ASSERT_EQ(text.size(), 20u);
    EXPECT_EQ(text[8], 'T');
    EXPECT_EQ(text.substr(11, 1), ":");
    EXPECT_EQ(text.substr(17), "000");
}

StudentRecord Student(std::int64_t agent, const std::string& account, const std::string& name) {
    StudentRecord s;
    s.AgentId = agent;
    s.Account = account;
    s.Name = name;
    s.VerifyCode = "123456";
    s.RegDate = 1000;
    s.DueDate = 2000;
    return s;
}

class StoreTest : public ::testing::Test {
protected:
    std::int64_t Agent(const std::string& account, std::int64_t quota) {
        AgentRecord a;
        a.Account = account;
        a.Password = "PW";
        a.Name = "n";
        a.Quota = quota;
        return FStore.AddAgent(a);
    }
    Store FStore{":memory:"};
};

TEST_F(StoreTest, QuotaAndUniquePhoneNumbers) {
    const auto one = Agent("13912345678", 1);
    const auto other = Agent("13912345679", 5);
    auto first = Student(one, "13811112222", "a");
    EXPECT_EQ(FStore.AddStudent(first), AddResult::Added);
    EXPECT_GT(first.Id, 0);
    auto second = Student(one, "13811113333", "b");
    EXPECT_EQ(FStore.AddStudent(second), AddResult::QuotaExhausted);
    auto taken = Student(other, "13811112222", "c");
    EXPECT_EQ(FStore.AddStudent(taken), AddResult::DuplicateAccount);
    EXPECT_EQ(FStore.StudentCount(one), 1);
    EXPECT_EQ(FStore.StudentCount(other), 0);
    EXPECT_THROW(Agent("13912345678", 3), StoreError);
}

TEST_F(StoreTest, AgentsTouchOnlyTheirOwnStudents) {
    const auto one = Agent("13912345678", 5);
    const auto other = Agent("13912345679", 5);
    auto s = Student(one, "13811112222", "a");
    FStore.AddStudent(s);
    auto t = Student(other, "13811113333", "b");
    FStore.AddStudent(t);

    EXPECT_EQ(FStore.ChangeStudentAccount(other, s.Id, "13844445555"), ModifyResult::NotFound);
    EXPECT_FALSE(FStore.DeleteStudent(other, s.Id));
    EXPECT_FALSE(FStore.GetStudent(other, s.Id));
    EXPECT_EQ(FStore.ChangeStudentAccount(one, s.Id, "13811113333"),
              ModifyResult::DuplicateAccount);
    EXPECT_EQ(FStore.ChangeStudentAccount(one, s.Id, "13811112222"), ModifyResult::Changed);
    EXPECT_EQ(FStore.ChangeStudentAccount(one, s.Id, "13844445555"), ModifyResult::Changed);
    const auto changed = FStore.GetStudent(one, s.Id);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->Account, "13844445555");
    EXPECT_TRUE(FStore.DeleteStudent(one, s.Id));
    EXPECT_FALSE(FStore.GetStudent(one, s.Id));
}

TEST_F(StoreTest, SearchIsLiteralAndNewestFirst) {
    const auto agent = Agent("13912345678", 50);
    for (const auto& [account, name] : std::vector<std::pair<std::string, std::string>>{
             {"13811110001", "100%"}, {"13811110002", "a_b"}, {"13811110003", "axb"}}) {
        auto s = Student(agent, account, name);
        ASSERT_EQ(FStore.AddStudent(s), AddResult::Added);
    }
    StudentPageQuery query;
    query.AgentId = agent;
    query.Field = FindField::Name;
    query.Value = "_";
    auto rows = FStore.StudentPage(query);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Name, "a_b");
    query.Value = "%";
    ASSERT_EQ(FStore.StudentPage(query).size(), 1u);

    query.Field = FindField::Account;
    query.Value = "1111000";
    rows = FStore.StudentPage(query);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Account, "13811110003");
    EXPECT_EQ(rows[2].Account, "13811110001");

    query.PageSize = 2;
    query.Page = 2;
    rows = FStore.StudentPage(query);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Account, "13811110001");
}

TEST(Demo, FillsOnlyAnEmptyStore) {
    Store store(":memory:");
    ASSERT_TRUE(FillDemo(store));
    const auto agent = store.FindAgent(kDemoAccount);
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->Quota, 200);
    EXPECT_EQ(store.StudentCount(agent->Id), kDemoStudents);
    EXPECT_FALSE(FillDemo(store));
    EXPECT_EQ(store.StudentCount(agent->Id), kDemoStudents);
}

TEST(Demo, BmpHeaderAndSize) {
    const std::string bmp = MakeBmp(102, 126, 3);
    const int rowSize = (102 * 3 + 3) / 4 * 4;
    ASSERT_EQ(bmp.size(), 54u + static_cast<std::size_t>(rowSize) * 126);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    auto le32 = [&bmp](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bmp[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bmp[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bmp[at + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bmp[at + 3])) << 24;
    };
    EXPECT_EQ(le32(2), bmp.size());
    EXPECT_EQ(le32(10), 54u);
    EXPECT_EQ(le32(18), 102u);
    EXPECT_EQ(le32(22), 126u);
    EXPECT_EQ(static_cast<unsigned char>(bmp[28]), 24); // bits per pixel
}

} // namespace
} // namespace tarvo::devserver
