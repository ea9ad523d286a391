// tarvo-devserver end to end: a server process on a free loopback port,
// reached through netvane and the client's call frame as the program
// reaches it.
#include "ServerProcess.h"

#include <CodePage.h>
#include <Encryptpwd.h>
#include <Json.h>
#include <Unitcommon.h>
#include <WinHttpClass.h>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <pugixml.hpp>
#include <regex>
#include <set>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using devtest::ServerProcess;
using devtest::TempDir;
using Winhttpclass::cpNone;
using Winhttpclass::TBytes;
using Winhttpclass::THTTP;
using Winhttpclass::TMultipartData;
using Winhttpclass::TUrlEncodedData;

constexpr const char* kDemoAccount = "13800138000";
constexpr const char* kDemoPassword = "tarvo123";

// One answer as the client sees it.
struct Reply {
    std::string RawHeader;
    std::string Body;
    std::unique_ptr<Json::TJSONobject> Json;

    bool Ok() const { return RawHeader.find("200 OK\r\n") != std::string::npos; }
    int Code() const { return Json ? ReadCode(*Json) : -1; }
    std::string Text(const std::string& name) const {
        auto* node = Json ? Json->Member(name) : nullptr;
        return node ? node->Value().AsString() : std::string("<missing>");
    }
    bool IsNumber(const std::string& name) const {
        auto* node = Json ? Json->Member(name) : nullptr;
        return node && node->Value().IsNumber();
    }
    // "Content" as UTF-8.
    std::string Content() const { return tarvo::cp::GbkToUtf8(Text("Content")); }
};

Reply Read(THTTP& http, std::string body) {
    Reply reply;
    reply.RawHeader = http.RawHeader;
    reply.Body = std::move(body);
    if (reply.Ok() && !reply.Body.empty()) {
        try {
            reply.Json = Json::ParseJSON(reply.Body);
        } catch (const std::exception&) {
        }
    }
    return reply;
}

std::string Utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

std::string Cipher(const std::string& plain, const std::string& prefix) {
    std::string hex;
    EncryptPayload(plain, prefix, hex);
    return hex;
}

// An agent's client: its own session, as the program's windows use one.
class Client {
public:
    explicit Client(std::string baseUrl) : FBase(std::move(baseUrl)) { PrepareHttp(FHttp); }

    THTTP& Http() { return FHttp; }
    const std::string& Sid() const { return FSid; }
    void SetSid(const std::string& sid) { FSid = sid; }

    Reply Login(const std::string& account, const std::string& password) {
        const std::string enciphered = EncryptPassword(account, password);
        Json::TJSONobject payload;
        payload.Add("password", enciphered);
        payload.Add("ip", "127.0.0.1");
        TUrlEncodedData form(cpNone, true);
        form.Put("username", account).Put("data", Cipher(payload.ToText(), enciphered));
        FHttp.ClearCookie();
        Reply reply = Read(FHttp, FHttp.Post(FBase + "/alogin", form.ToString(), cpNone));
        if (reply.Code() == 1) {
            FSid = reply.Text("SID");
        }
        return reply;
    }

    // A call made while logged in: the payload under the session, the
    // session cookie.
    Reply Call(const std::string& path, const Json::TJSONobject& payload) {
        return Raw(path, Cipher(payload.ToText(), FSid));
    }

    // The field "data" exactly as given.
    Reply Raw(const std::string& path, const std::string& data) {
        TUrlEncodedData form(cpNone, true);
        form.Put("data", data);
        return PostForm(path, form);
    }

    Reply PostForm(const std::string& path, const TUrlEncodedData& form) {
        SetSessionCookie(FHttp, FSid, 1);
        return Read(FHttp, FHttp.Post(FBase + path, form.ToString(), cpNone));
    }

    Reply Heartbeat() {
        SetSessionCookie(FHttp, FSid, 1);
        return Read(FHttp, FHttp.Post(FBase + "/ahb", std::string(), cpNone));
    }

    Reply UserInfo() {
        TUrlEncodedData form(cpNone, true);
        form.Put("SID", FSid);
        return PostForm("/auserinfo", form);
    }

    Reply List(int page, int pageSize = 30, const std::string& field = "1",
               const std::string& value = "") {
        Json::TJSONobject payload;
        payload.Add("page", std::to_string(page));
        payload.Add("pagenum", std::to_string(pageSize));
        payload.Add("findfield", field);
        payload.Add("findval", value);
        return Call("/astulist", payload);
    }

    // "/aaddstu" with the twelve members; a "file" part when `photo` is set.
    Reply AddStudent(const std::string& phone, const std::string& name,
                     const std::optional<std::string>& photo = std::nullopt) {
        Json::TJSONobject payload;
        payload.Add("DeviceSerial", photo ? "SAM-0001" : "");
        payload.Add("username", phone);
        payload.Add("Name", name);
        for (const char* member : {"idcardnum", "sex", "nation", "born", "address", "grantdept",
                                   "UserLifeBegin", "UserLifeEnd"}) {
            payload.Add(member, photo ? "x" : "");
        }
        payload.Add("Photo", photo ? "C:\\card\\photo.bmp" : "");
        TMultipartData body(cpNone);
        body.Add("data", Cipher(payload.ToText(), FSid));
        if (photo) {
            body.Add("file", "C:\\card\\photo.bmp", "image/bmp",
                     TBytes(photo->begin(), photo->end()));
        }
        SetSessionCookie(FHttp, FSid, 1);
        return Read(FHttp, FHttp.Post(FBase + "/aaddstu", body, true, cpNone));
    }

    // "/aaddstu" with a payload text as given, so that bytes jasmer would
    // write otherwise reach the server as they are.
    Reply AddRaw(const std::string& payloadText, const std::optional<std::string>& photo) {
        TMultipartData body(cpNone);
        body.Add("data", Cipher(payloadText, FSid));
        if (photo) {
            body.Add("file", "photo.bmp", "image/bmp", TBytes(photo->begin(), photo->end()));
        }
        SetSessionCookie(FHttp, FSid, 1);
        return Read(FHttp, FHttp.Post(FBase + "/aaddstu", body, true, cpNone));
    }

    Reply Modify(const std::string& phone, long long id) {
        Json::TJSONobject payload;
        payload.Add("username", phone);
        payload.Add("stuid", std::to_string(id));
        return Call("/amodifystu", payload);
    }

    Reply Delete(long long id) {
        Json::TJSONobject payload;
        payload.Add("stuid", std::to_string(id));
        return Call("/adeletestu", payload);
    }

    Reply Picture(long long id) {
        Json::TJSONobject payload;
        payload.AddInt64("stuid", id);
        return Call("/agetpicdata", payload);
    }

    Reply UpdateInfo(const std::string& version) {
        Json::TJSONobject payload;
        payload.Add("cver", version);
        payload.Add("ctype", "1");
        TUrlEncodedData form(cpNone, true);
        form.Put("data", Cipher(payload.ToText(), DefaultKeyPrefix));
        return Read(FHttp, FHttp.Post(FBase + "/aupdateinfo", form.ToString(), cpNone));
    }

private:
    std::string FBase;
    THTTP FHttp{"", "", "", ""};
    std::string FSid;
};

// One row of a page, read from the packet.
struct Row {
    long long Id = 0;
    std::string Name; // UTF-8
    std::string Account;
    std::string VerifyCode;
    std::string RegDate;
    std::string DueDate;
};

std::vector<Row> Rows(const Reply& reply) {
    std::vector<Row> rows;
    pugi::xml_document doc;
    const std::string xml = tarvo::cp::GbkToUtf8(reply.Text("Content"));
    if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8)) {
        ADD_FAILURE() << "not an XML packet: " << xml.substr(0, 200);
        return rows;
    }
    for (const auto row : doc.child("DATAPACKET").child("ROWDATA").children("ROW")) {
        rows.push_back({row.attribute("Id").as_llong(), row.attribute("Name").value(),
                        row.attribute("Account").value(), row.attribute("verifycode").value(),
                        row.attribute("RegDate").value(), row.attribute("DueDate").value()});
    }
    return rows;
}

std::vector<Row> AllRows(Client& client) {
    std::vector<Row> all;
    for (int page = 1; page <= 20; ++page) {
        auto rows = Rows(client.List(page, 100));
        if (rows.empty()) {
            break;
        }
        all.insert(all.end(), rows.begin(), rows.end());
    }
    return all;
}

std::optional<Row> FindByPhone(Client& client, const std::string& phone) {
    for (const auto& row : Rows(client.List(1, 30, "1", phone))) {
        if (row.Account == phone) {
            return row;
        }
    }
    return std::nullopt;
}

// The phone number of one of the agent's students.
std::string TakenPhone(Client& client) {
    const auto rows = AllRows(client);
    if (rows.empty()) {
        ADD_FAILURE() << "the agent has no students";
        return {};
    }
    return rows.back().Account;
}

// `size` bytes: the signature "BM", the file size (bytes 2..5,
// little-endian) as `declared`, or the true size when not given, then
// filler.
std::string Bmp(std::size_t size, unsigned char seed,
                std::optional<std::uint32_t> declared = std::nullopt) {
    std::string bytes(size, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    for (std::size_t i = 2; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    }
    const auto field = declared.value_or(static_cast<std::uint32_t>(size));
    for (std::size_t i = 0; i < 4 && 2 + i < size; ++i) {
        bytes[2 + i] = static_cast<char>((field >> (8 * i)) & 0xFF);
    }
    return bytes;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

void ClearProxyEnvironment() {
    for (const char* name :
         {"http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY", "NO_PROXY"}) {
        unsetenv(name);
    }
}

// One server for the suite: the demo data in a database file, and two more
// agents added with add-agent while it runs.
class DevServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ClearProxyEnvironment();
        FDir = std::make_unique<TempDir>();
        const std::string db = *FDir / "suite.db";
        FServer = std::make_unique<ServerProcess>(std::vector<std::string>{
            "--listen", "127.0.0.1:0", "--db", db, "--demo", "--latest-version", "1.2.0.0",
            "--oldest-version", "1.0.0.5", "--upgrade-url", "http://127.0.0.1/tarvo.zip",
            "--upgrade-code", "k3x9"});
        ASSERT_EQ(devtest::RunServerCommand({"add-agent", "--db", db, "--account", "13912340000",
                                             "--password", "other-pw", "--name", Utf8(u8"第二代理"),
                                             "--idcardnum", "110101199001010011", "--quota", "20"}),
                  0);
        ASSERT_EQ(devtest::RunServerCommand({"add-agent", "--db", db, "--account", "13912340001",
                                             "--password", "tiny-pw", "--name", Utf8(u8"小代理"),
                                             "--quota", "1"}),
                  0);
    }
    static void TearDownTestSuite() {
        FServer.reset();
        FDir.reset();
    }

    static std::string Base() { return FServer->BaseUrl(); }

    // A client logged in as the demo agent.
    static std::unique_ptr<Client> Demo() {
        auto client = std::make_unique<Client>(Base());
        EXPECT_EQ(client->Login(kDemoAccount, kDemoPassword).Code(), 1);
        return client;
    }

    static inline std::unique_ptr<TempDir> FDir;
    static inline std::unique_ptr<ServerProcess> FServer;
};

TEST_F(DevServer, LoginGivesANewSessionAndRefusesWrongCredentials) {
    Client client(Base());
    const Reply good = client.Login(kDemoAccount, kDemoPassword);
    ASSERT_TRUE(good.Ok()) << good.RawHeader;
    EXPECT_NE(good.RawHeader.find("application/json; charset=GBK"), std::string::npos);
    EXPECT_EQ(good.Code(), 1);
    EXPECT_TRUE(std::regex_match(good.Text("SID"),
                                 std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-"
                                            "[0-9a-f]{12}")))
        << good.Text("SID");
    Client second(Base());
    EXPECT_NE(second.Login(kDemoAccount, kDemoPassword).Text("SID"), good.Text("SID"));

    const struct {
        const char* What;
        const char* Account;
        const char* Password;
    } refusals[] = {
        {"wrong password", kDemoAccount, "tarvo124"},
        {"unknown account", "13912349999", kDemoPassword},
        {"another agent's password", kDemoAccount, "other-pw"},
    };
    for (const auto& r : refusals) {
        const Reply reply = Client(Base()).Login(r.Account, r.Password);
        EXPECT_EQ(reply.Code(), 0) << r.What;
        EXPECT_EQ(reply.Content(), Utf8(u8"账号或密码错误！")) << r.What;
        // The message travels as GBK characters, not as \u escapes.
        EXPECT_NE(reply.Body.find(tarvo::cp::Utf8ToGbk(Utf8(u8"账号或密码错误！"))),
                  std::string::npos)
            << r.What;
        EXPECT_EQ(reply.Body.find("\\u"), std::string::npos) << r.What;
    }
}

TEST_F(DevServer, LoginRefusesAPayloadThatIsNotTheStoredPassword) {
    // The payload opens under the stored password, but its "password" is
    // another text.
    const std::string enciphered = EncryptPassword(kDemoAccount, kDemoPassword);
    Json::TJSONobject payload;
    payload.Add("password", EncryptPassword(kDemoAccount, "guess"));
    payload.Add("ip", "127.0.0.1");
    Client client(Base());
    TUrlEncodedData form(cpNone, true);
    form.Put("username", kDemoAccount).Put("data", Cipher(payload.ToText(), enciphered));
    const Reply reply =
        Read(client.Http(), client.Http().Post(Base() + "/alogin", form.ToString(), cpNone));
    EXPECT_EQ(reply.Code(), 0);
    EXPECT_FALSE(reply.Content().empty());
}

TEST_F(DevServer, HeartbeatAndLogout) {
    auto client = Demo();
    EXPECT_EQ(client->Heartbeat().Code(), 1);
    const Reply out = client->Call("/alogout", Json::TJSONobject());
    EXPECT_EQ(out.Code(), 1);
    const Reply after = client->Heartbeat();
    EXPECT_EQ(after.Code(), 0);
    EXPECT_EQ(after.Content(), Utf8(u8"登录已失效，请重新登录！"));
    EXPECT_EQ(client->List(1).Code(), 0);
}

TEST_F(DevServer, UnknownSessionsAndCookiesAreRefused) {
    auto client = Demo();
    const std::string sid = client->Sid();

    client->SetSid("00000000-0000-4000-8000-000000000000");
    EXPECT_EQ(client->Heartbeat().Code(), 0);
    EXPECT_EQ(client->List(1).Code(), 0);
    EXPECT_EQ(client->UserInfo().Code(), 0);

    // The right session but SType other than 1, or no cookie at all.
    client->SetSid(sid);
    Json::TJSONobject payload;
    payload.Add("page", "1");
    payload.Add("pagenum", "30");
    payload.Add("findfield", "1");
    payload.Add("findval", "");
    TUrlEncodedData form(cpNone, true);
    form.Put("data", Cipher(payload.ToText(), sid));
    for (const std::string& cookie : {"SID=" + sid + ";SType=2;", std::string()}) {
        client->Http().ClearCookie();
        if (!cookie.empty()) {
            client->Http().SetCookies(cookie);
        }
        const Reply reply = Read(
            client->Http(), client->Http().Post(Base() + "/astulist", form.ToString(), cpNone));
        EXPECT_EQ(reply.Code(), 0) << cookie;
    }
    EXPECT_EQ(client->List(1).Code(), 1); // the session itself is still good
}

TEST_F(DevServer, BadPayloadsAreRefusedAndTheServerGoesOn) {
    auto client = Demo();
    Json::TJSONobject list;
    list.Add("page", "1");
    list.Add("pagenum", "30");
    list.Add("findfield", "1");
    list.Add("findval", "");
    Json::TJSONobject noPage;
    noPage.Add("pagenum", "30");
    noPage.Add("findfield", "1");
    noPage.Add("findval", "");
    const std::string good = Cipher(list.ToText(), client->Sid());

    const struct {
        const char* What;
        std::string Data;
    } cases[] = {
        {"not hexadecimal", "ZZ" + good.substr(2)},
        {"wrong key", Cipher(list.ToText(), DefaultKeyPrefix)},
        {"not whole blocks", good.substr(0, good.size() - 6)},
        {"shorter than the length field", "0102"},
        {"empty", ""},
        {"not JSON", Cipher("page=1", client->Sid())},
        {"a JSON array", Cipher("[1,2]", client->Sid())},
        {"a member missing", Cipher(noPage.ToText(), client->Sid())},
    };
    for (const auto& c : cases) {
        const Reply reply = client->Raw("/astulist", c.Data);
        ASSERT_TRUE(reply.Ok()) << c.What << ": " << reply.RawHeader;
        EXPECT_EQ(reply.Code(), 0) << c.What;
        EXPECT_FALSE(reply.Content().empty()) << c.What;
    }
    TUrlEncodedData noData(cpNone, true);
    noData.Put("other", good);
    EXPECT_EQ(client->PostForm("/astulist", noData).Code(), 0);

    EXPECT_EQ(client->Raw("/astulist", good).Code(), 1);
}

TEST_F(DevServer, UserInfoAnswersTheAgentAndCountsAsNumbers) {
    auto client = Demo();
    const int used = static_cast<int>(AllRows(*client).size());
    const Reply info = client->UserInfo();
    ASSERT_EQ(info.Code(), 1) << info.Body;
    EXPECT_EQ(tarvo::cp::GbkToUtf8(info.Text("name")), Utf8(u8"演示代理商"));
    EXPECT_EQ(info.Text("account"), kDemoAccount);
    EXPECT_FALSE(info.Text("idcardnum").empty());
    EXPECT_TRUE(info.IsNumber("usedcount"));
    EXPECT_TRUE(info.IsNumber("usablecount"));
    EXPECT_EQ(info.Text("usedcount"), std::to_string(used));
    EXPECT_EQ(info.Text("usablecount"), std::to_string(200 - used));

    // The form's SID must be the cookie's session.
    TUrlEncodedData other(cpNone, true);
    other.Put("SID", "00000000-0000-4000-8000-000000000000");
    EXPECT_EQ(client->PostForm("/auserinfo", other).Code(), 0);
}

TEST_F(DevServer, PagesOfTheDemoListNewestFirst) {
    // The suite's server gains students as the tests add them: the demo's
    // 45 alone need a server of their own (in memory).
    ServerProcess server({"--listen", "127.0.0.1:0", "--db", ":memory:", "--demo"});
    Client client(server.BaseUrl());
    ASSERT_EQ(client.Login(kDemoAccount, kDemoPassword).Code(), 1);

    const auto page1 = Rows(client.List(1));
    const auto page2 = Rows(client.List(2));
    const auto page3 = client.List(3);
    ASSERT_EQ(page1.size(), 30u);
    ASSERT_EQ(page2.size(), 15u);
    EXPECT_EQ(page3.Code(), 1);
    EXPECT_TRUE(Rows(page3).empty());

    std::set<long long> ids;
    long long previous = 1LL << 40;
    for (const auto* page : {&page1, &page2}) {
        for (const auto& row : *page) {
            EXPECT_LT(row.Id, previous) << "not newest first";
            previous = row.Id;
            ids.insert(row.Id);
            EXPECT_TRUE(IsValidPhoneNumber(row.Account)) << row.Account;
            EXPECT_FALSE(row.Name.empty());
        }
    }
    EXPECT_EQ(ids.size(), 45u);
    EXPECT_GT(page1.front().RegDate, page2.back().RegDate);

    // Out-of-range page numbers and sizes are bounded.
    EXPECT_EQ(Rows(client.List(0)).size(), 30u);
    EXPECT_EQ(Rows(client.List(-5)).size(), 30u);
    EXPECT_EQ(Rows(client.List(1, 1000)).size(), 45u);
    EXPECT_EQ(Rows(client.List(1, 0)).size(), 1u);
    EXPECT_TRUE(Rows(client.List(2147483647, 100)).empty());

    // The default version policy: this build's version is the latest.
    EXPECT_EQ(client.UpdateInfo("1.0.0.1").Text("Content"), "");
    EXPECT_EQ(client.UpdateInfo("1.0.0.0").Text("NeedUpgrade"), "0");
    EXPECT_NE(client.UpdateInfo("1.0.0.0").Text("Content"), "");
}

TEST_F(DevServer, SearchByPhoneNumberAndByName) {
    auto client = Demo();
    const auto all = AllRows(*client);
    ASSERT_GE(all.size(), 45u);

    const struct {
        const char* Field;
        std::string Value;
    } searches[] = {
        {"1", "1391234"},    {"1", all[7].Account}, {"1", all[7].Account.substr(4, 5)},
        {"2", Utf8(u8"王")}, {"2", all[3].Name},    {"2", Utf8(u8"没有这个人")},
    };
    for (const auto& s : searches) {
        std::vector<long long> expected;
        for (const auto& row : all) {
            const std::string& haystack = std::string(s.Field) == "1" ? row.Account : row.Name;
            if (haystack.find(s.Value) != std::string::npos) {
                expected.push_back(row.Id);
            }
        }
        std::vector<long long> found;
        const Reply reply =
            client->List(1, 100, s.Field, "  " + tarvo::cp::Utf8ToGbk(s.Value) + " ");
        ASSERT_EQ(reply.Code(), 1) << s.Value;
        for (const auto& row : Rows(reply)) {
            found.push_back(row.Id);
        }
        EXPECT_EQ(found, expected) << "field " << s.Field << " value " << s.Value;
    }
    // An empty search value lists everything, whatever the field.
    EXPECT_EQ(Rows(client->List(1, 100, "2", "   ")).size(),
              std::min<std::size_t>(all.size(), 100));
    EXPECT_EQ(client->List(1, 30, "9", "x").Code(), 0);
}

TEST_F(DevServer, ThePacketHasTheDataSnapForm) {
    auto client = Demo();
    const Reply reply = client->List(1, 5);
    ASSERT_EQ(reply.Code(), 1);
    const std::string gbk = reply.Text("Content");
    EXPECT_EQ(gbk.rfind("<?xml version=\"1.0\" standalone=\"yes\"?>", 0), 0u);

    pugi::xml_document doc;
    const std::string xml = tarvo::cp::GbkToUtf8(gbk);
    ASSERT_TRUE(doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8));
    const auto packet = doc.child("DATAPACKET");
    EXPECT_STREQ(packet.attribute("Version").value(), "2.0");
    const struct {
        const char* Name;
        const char* Type;
        int Width;
    } fields[] = {{"Id", "i4", 0},
                  {"Name", "string", 30},
                  {"Account", "string", 11},
                  {"verifycode", "string", 10},
                  {"RegDate", "dateTime", 0},
                  {"DueDate", "dateTime", 0}};
    auto field = packet.child("METADATA").child("FIELDS").child("FIELD");
    for (const auto& f : fields) {
        ASSERT_TRUE(field) << f.Name;
        EXPECT_STREQ(field.attribute("attrname").value(), f.Name);
        EXPECT_STREQ(field.attribute("fieldtype").value(), f.Type);
        EXPECT_EQ(field.attribute("WIDTH").as_int(), f.Width) << f.Name;
        field = field.next_sibling("FIELD");
    }
    EXPECT_FALSE(field);
    EXPECT_TRUE(packet.child("METADATA").child("PARAMS"));

    const std::regex dateTime(R"(\d{8}T\d\d:\d\d:\d\d\d{3})");
    const auto rows = Rows(reply);
    ASSERT_EQ(rows.size(), 5u);
    for (const auto& row : rows) {
        EXPECT_TRUE(std::regex_match(row.VerifyCode, std::regex(R"(\d{6})"))) << row.VerifyCode;
        EXPECT_TRUE(std::regex_match(row.RegDate, dateTime)) << row.RegDate;
        ASSERT_TRUE(std::regex_match(row.DueDate, dateTime)) << row.DueDate;
        // Due one year after registration.
        EXPECT_EQ(std::stoi(row.DueDate.substr(0, 4)), std::stoi(row.RegDate.substr(0, 4)) + 1);
    }
}

TEST_F(DevServer, AddStudentChecksAndAnswersTheLoginCode) {
    auto client = Demo();
    const struct {
        const char* What;
        std::string Phone;
        std::string Name;
    } refusals[] = {
        {"10 digits", "1381234567", Utf8(u8"张三")},
        {"second digit 2", "12812345678", Utf8(u8"张三")},
        {"a letter", "1381234567a", Utf8(u8"张三")},
        {"one digit 8 times", "18888888812", Utf8(u8"张三")},
        {"empty number", "", Utf8(u8"张三")},
        {"empty name", "13855550001", "   "},
        {"phone of a demo student", TakenPhone(*client), Utf8(u8"张三")},
    };
    for (const auto& r : refusals) {
        const Reply reply = client->AddStudent(r.Phone, tarvo::cp::Utf8ToGbk(r.Name));
        EXPECT_EQ(reply.Code(), 0) << r.What;
        EXPECT_FALSE(reply.Content().empty()) << r.What;
    }
    EXPECT_FALSE(FindByPhone(*client, "13855550001"));

    const Reply added = client->AddStudent(" 13855550002 ", Gbk(u8"李&<四>"));
    ASSERT_EQ(added.Code(), 1) << added.Content();
    const auto row = FindByPhone(*client, "13855550002");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->Name, Utf8(u8"李&<四>"));
    EXPECT_NE(added.Content().find(row->VerifyCode), std::string::npos) << added.Content();
    const auto newest = Rows(client->List(1, 1));
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest.front().Id, row->Id); // newest first

    // The same number again is refused, now that it is taken, also behind
    // control characters that the client's check trims as blanks.
    EXPECT_EQ(client->AddStudent("13855550002", Gbk(u8"王五")).Code(), 0);
    EXPECT_EQ(client->AddStudent("\f13855550002\x01", Gbk(u8"王五")).Code(), 0);
    ASSERT_EQ(client->AddStudent("\v13855550003\t", Gbk(u8"赵六")).Code(), 1);
    EXPECT_TRUE(FindByPhone(*client, "13855550003")) << "stored untrimmed";
}

TEST_F(DevServer, QuotaIsEnforced) {
    Client tiny(Base());
    ASSERT_EQ(tiny.Login("13912340001", "tiny-pw").Code(), 1);
    EXPECT_EQ(tiny.AddStudent("13866660001", Gbk(u8"甲")).Code(), 1);
    const Reply refused = tiny.AddStudent("13866660002", Gbk(u8"乙"));
    EXPECT_EQ(refused.Code(), 0);
    EXPECT_FALSE(refused.Content().empty());
    const Reply info = tiny.UserInfo();
    EXPECT_EQ(info.Text("usedcount"), "1");
    EXPECT_EQ(info.Text("usablecount"), "0");
    EXPECT_EQ(tarvo::cp::GbkToUtf8(info.Text("name")), Utf8(u8"小代理"));
}

TEST_F(DevServer, PhotoRoundTrip) {
    auto client = Demo();
    const std::string photo = Bmp(38862, 7);
    ASSERT_EQ(client->AddStudent("13877770001", Gbk(u8"赵六"), photo).Code(), 1);
    const auto row = FindByPhone(*client, "13877770001");
    ASSERT_TRUE(row);
    const Reply picture = client->Picture(row->Id);
    ASSERT_EQ(picture.Code(), 1);
    const std::string hex = picture.Text("Content");
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(FromHex(hex), photo);

    // No photo, an unknown student, a photo over 1 MiB.
    ASSERT_EQ(client->AddStudent("13877770002", Gbk(u8"钱七")).Code(), 1);
    const auto bare = FindByPhone(*client, "13877770002");
    ASSERT_TRUE(bare);
    EXPECT_EQ(client->Picture(bare->Id).Code(), 0);
    EXPECT_EQ(client->Picture(99999999).Code(), 0);
    EXPECT_EQ(client->AddStudent("13877770003", Gbk(u8"孙八"), Bmp(1024 * 1024 + 1, 1)).Code(), 0);
    EXPECT_FALSE(FindByPhone(*client, "13877770003"));
}

// The twelve members of an add as JSON text written by hand: each value
// goes between its quotes byte for byte (`name` and `address` as given,
// the others plain ASCII).
std::string AddPayloadText(const std::string& phone, const std::string& name,
                           const std::string& address = "x") {
    std::string text = "{\"DeviceSerial\":\"SAM-0001\",\"username\":\"" + phone + "\",\"Name\":\"" +
                       name + "\",\"address\":\"" + address + "\"";
    for (const char* member : {"idcardnum", "sex", "nation", "born", "grantdept", "UserLifeBegin",
                               "UserLifeEnd", "Photo"}) {
        text += std::string(",\"") + member + "\":\"x\"";
    }
    return text + "}";
}

// What the server would store changed or could not serve is refused with
// its reason, and nothing is stored.
TEST_F(DevServer, AddRefusesTextsThatAreNoGbkPhotosThatAreNoBmpAndOverlongNames) {
    auto client = Demo();
    const std::string badText = Utf8(u8"请求数据含有无法识别的字符！");
    const std::string notBmp = Utf8(u8"照片不是有效的BMP图片！");
    const std::string tooLong = Utf8(u8"姓名过长，最多30个字节（一个汉字占两个字节）！");
    std::string sixteen;
    for (int i = 0; i < 16; ++i) {
        sixteen += Gbk(u8"张");
    }
    std::string gif = "GIF89a" + std::string(94, '\0');
    const struct {
        const char* What;
        std::string Phone;
        std::string Name; // raw between the quotes
        std::string Address;
        std::optional<std::string> Photo;
        std::string Message;
    } refusals[] = {
        {"a lead byte with a trail that is no GBK", "13811110001", "\x81\x20" + Gbk(u8"张"), "x",
         std::nullopt, badText},
        {"a lead byte at the end", "13811110002", Gbk(u8"张") + "\xD5", "x", std::nullopt, badText},
        {"byte FF in the address", "13811110003", Gbk(u8"张三"), "No.\xFF" + Gbk(u8"号"),
         std::nullopt, badText},
        {"an escaped character GBK lacks", "13811110004", Gbk(u8"张") + "\\ud55c", "x",
         std::nullopt, badText},
        {"an escaped emoji", "13811110005", "\\ud83d\\ude00", "x", std::nullopt, badText},
        {"a GIF", "13811110006", Gbk(u8"张三"), "x", gif, notBmp},
        {"signature alone", "13811110007", Gbk(u8"张三"), "x", std::string("BM"), notBmp},
        {"declared size past the part", "13811110008", Gbk(u8"张三"), "x", Bmp(200, 1, 201),
         notBmp},
        {"declared size far past the part", "13811110009", Gbk(u8"张三"), "x",
         Bmp(200, 1, 0xFFFFFFFFu), notBmp},
        {"declared size 0", "13811110010", Gbk(u8"张三"), "x", Bmp(200, 1, 0), notBmp},
        {"lower-case signature", "13811110011", Gbk(u8"张三"), "x", "bm" + Bmp(200, 1).substr(2),
         notBmp},
        {"31 letters", "13811110012", std::string(31, 'a'), "x", std::nullopt, tooLong},
        {"16 Chinese characters", "13811110013", sixteen, "x", std::nullopt, tooLong},
    };
    for (const auto& r : refusals) {
        const Reply reply = client->AddRaw(AddPayloadText(r.Phone, r.Name, r.Address), r.Photo);
        EXPECT_EQ(reply.Code(), 0) << r.What;
        EXPECT_EQ(reply.Content(), r.Message) << r.What;
        EXPECT_FALSE(FindByPhone(*client, r.Phone)) << r.What;
    }

    // Texts on the other calls are checked alike: a search for a name that
    // is no GBK is not a search for "?".
    const Reply search =
        client->Raw("/astulist", Cipher("{\"page\":\"1\",\"pagenum\":\"30\",\"findfield\":\"2\","
                                        "\"findval\":\"\x81\x7F\"}",
                                        client->Sid()));
    EXPECT_EQ(search.Code(), 0);
    EXPECT_EQ(search.Content(), badText);
}

TEST_F(DevServer, AddKeepsRawGbkNamesAtTheWidthAndBmpsWithTrailingBytes) {
    auto client = Demo();
    std::string fifteen;
    for (int i = 0; i < 15; ++i) {
        fifteen += Gbk(u8"欧");
    }
    const struct {
        const char* What;
        std::string Phone;
        std::string Name; // raw between the quotes
        std::string StoredName;
        std::optional<std::string> Photo;
    } adds[] = {
        {"raw GBK bytes", "13822220001", Gbk(u8"张三丰"), Utf8(u8"张三丰"), std::nullopt},
        {"15 Chinese characters", "13822220002", fifteen, tarvo::cp::GbkToUtf8(fifteen),
         Bmp(26, 2)},
        {"30 letters between blanks", "13822220003", "  " + std::string(30, 'a') + " ",
         std::string(30, 'a'), std::nullopt},
        {"a BMP with bytes after its declared size", "13822220004", Gbk(u8"李四"), Utf8(u8"李四"),
         Bmp(300, 4, 250)},
    };
    for (const auto& a : adds) {
        const Reply reply = client->AddRaw(AddPayloadText(a.Phone, a.Name), a.Photo);
        ASSERT_EQ(reply.Code(), 1) << a.What << ": " << reply.Content();
        const auto row = FindByPhone(*client, a.Phone);
        ASSERT_TRUE(row) << a.What;
        EXPECT_EQ(row->Name, a.StoredName) << a.What;
        if (a.Photo) {
            EXPECT_EQ(FromHex(client->Picture(row->Id).Text("Content")), *a.Photo) << a.What;
        }
    }
}

TEST_F(DevServer, ModifyAndDeleteOnlyOwnStudents) {
    auto demo = Demo();
    Client other(Base());
    ASSERT_EQ(other.Login("13912340000", "other-pw").Code(), 1);
    ASSERT_EQ(demo->AddStudent("13888880001", Gbk(u8"周九"), Bmp(100, 3)).Code(), 1);
    const auto row = FindByPhone(*demo, "13888880001");
    ASSERT_TRUE(row);

    // The other agent neither sees nor touches it.
    EXPECT_TRUE(Rows(other.List(1, 100, "1", "13888880001")).empty());
    EXPECT_EQ(other.Modify("13888880002", row->Id).Code(), 0);
    EXPECT_EQ(other.Delete(row->Id).Code(), 0);
    EXPECT_EQ(other.Picture(row->Id).Code(), 0);
    EXPECT_TRUE(FindByPhone(*demo, "13888880001"));

    // Changing the number: checked like an add.
    const std::string taken = TakenPhone(*demo);
    EXPECT_EQ(demo->Modify(taken, row->Id).Code(), 0);
    EXPECT_EQ(demo->Modify("1388888000", row->Id).Code(), 0);
    EXPECT_EQ(demo->Modify("13888880002", 0).Code(), 0);
    const Reply changed = demo->Modify("13888880002", row->Id);
    EXPECT_EQ(changed.Code(), 1);
    EXPECT_FALSE(changed.Content().empty());
    EXPECT_FALSE(FindByPhone(*demo, "13888880001"));
    const auto moved = FindByPhone(*demo, "13888880002");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->Id, row->Id);

    // Deleting.
    EXPECT_EQ(demo->Delete(row->Id).Code(), 1);
    EXPECT_FALSE(FindByPhone(*demo, "13888880002"));
    EXPECT_EQ(demo->Delete(row->Id).Code(), 0);
    Json::TJSONobject notANumber;
    notANumber.Add("stuid", "12abc");
    EXPECT_EQ(demo->Call("/adeletestu", notANumber).Code(), 0);
}

TEST_F(DevServer, UpdatePolicy) {
    Client client(Base());
    const struct {
        const char* Version;
        bool Content;
        const char* NeedUpgrade;
    } cases[] = {
        {"1.2.0.0", false, "0"}, {"1.10.0.0", false, "0"}, {"1.1.9.9", true, "0"},
        {"1.0.0.5", true, "0"},  {"1.0.0.4", true, "1"},   {"", true, "1"},
        {"1.x", true, "1"},
    };
    for (const auto& c : cases) {
        const Reply reply = client.UpdateInfo(c.Version);
        ASSERT_EQ(reply.Code(), 1) << c.Version;
        EXPECT_EQ(!reply.Text("Content").empty(), c.Content) << c.Version;
        EXPECT_EQ(reply.Text("NeedUpgrade"), c.NeedUpgrade) << c.Version;
        EXPECT_TRUE(reply.IsNumber("NeedUpgrade"));
        if (c.Content) {
            EXPECT_EQ(reply.Text("UpgradeURL"), "http://127.0.0.1/tarvo.zip") << c.Version;
            EXPECT_EQ(reply.Text("UpgradeCode"), "k3x9") << c.Version;
        }
    }
    // Under another key than the default prefix it does not open.
    Json::TJSONobject payload;
    payload.Add("cver", "1.2.0.0");
    payload.Add("ctype", "1");
    TUrlEncodedData form(cpNone, true);
    form.Put("data", Cipher(payload.ToText(), "another-prefix-0000"));
    EXPECT_EQ(
        Read(client.Http(), client.Http().Post(Base() + "/aupdateinfo", form.ToString(), cpNone))
            .Code(),
        0);
}

TEST_F(DevServer, ClientAddressUnknownPathsAndMethods) {
    Client client(Base());
    EXPECT_EQ(GetPublicIP(client.Http(), Base()), "127.0.0.1");
    EXPECT_TRUE(client.Http().RawHeader.find("200 OK\r\n") != std::string::npos);

    client.Http().Post(Base() + "/nosuchpath", std::string("data=00"), cpNone);
    EXPECT_EQ(client.Http().RawHeader.rfind("HTTP/1.1 404", 0), 0u) << client.Http().RawHeader;
    client.Http().Get(Base() + "/astulist", cpNone);
    EXPECT_EQ(client.Http().RawHeader.rfind("HTTP/1.1 405", 0), 0u) << client.Http().RawHeader;
}

TEST_F(DevServer, OversizedRequestsAreRefusedAndOthersStillServed) {
    Client big(Base());
    const std::string body = "data=" + std::string(8 * 1024 * 1024, 'A');
    big.Http().Post(Base() + "/astulist", body, cpNone);
    EXPECT_EQ(big.Http().RawHeader.rfind("HTTP/1.1 413", 0), 0u) << big.Http().RawHeader;

    Client head(Base());
    head.Http().SetCookies("SID=" + std::string(17 * 1024, 'a') + ";");
    head.Http().Post(Base() + "/ahb", std::string(), cpNone);
    EXPECT_EQ(head.Http().RawHeader.rfind("HTTP/1.1 431", 0), 0u) << head.Http().RawHeader;

    auto client = Demo();
    EXPECT_EQ(client->List(1).Code(), 1);
    // The refused clients can go on, too.
    EXPECT_EQ(big.Login(kDemoAccount, kDemoPassword).Code(), 1);
}

TEST_F(DevServer, SeveralClientsAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 8;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &good] {
            Client client(Base());
            if (client.Login(kDemoAccount, kDemoPassword).Code() != 1) {
                return;
            }
            for (int i = 0; i < kRounds; ++i) {
                const std::string phone = "1365555" + std::to_string(1000 + t * 100 + i);
                if (client.AddStudent(phone, Gbk(u8"并发")).Code() == 1 &&
                    client.List(1, 30, "1", phone).Code() == 1 && client.Heartbeat().Code() == 1) {
                    ++good;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good.load(), kThreads * kRounds);
    auto client = Demo();
    EXPECT_EQ(Rows(client->List(1, 100, "1", "1365555")).size(),
              static_cast<std::size_t>(kThreads * kRounds));
}

TEST(DevServerLifetime, ConfirmedChangesSurviveAKill) {
    ClearProxyEnvironment();
    TempDir dir;
    const std::string db = dir / "persist.db";
    const std::string photo = Bmp(5000, 9);
    {
        ServerProcess server({"--listen", "127.0.0.1:0", "--db", db, "--demo"});
        Client client(server.BaseUrl());
        ASSERT_EQ(client.Login(kDemoAccount, kDemoPassword).Code(), 1);
        ASSERT_EQ(client.AddStudent("13899990001", Gbk(u8"吴十"), photo).Code(), 1);
        server.Kill(SIGKILL);
    }
    ServerProcess server({"--listen", "127.0.0.1:0", "--db", db, "--demo"});
    Client client(server.BaseUrl());
    ASSERT_EQ(client.Login(kDemoAccount, kDemoPassword).Code(), 1);
    const auto row = FindByPhone(client, "13899990001");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->Name, Utf8(u8"吴十"));
    EXPECT_EQ(FromHex(client.Picture(row->Id).Text("Content")), photo);
    // --demo did not fill the database a second time.
    EXPECT_EQ(AllRows(client).size(), 46u);
}

TEST(DevServerLifetime, SessionsExpireWithoutHeartbeat) {
    ClearProxyEnvironment();
    ServerProcess server(
        {"--listen", "127.0.0.1:0", "--db", ":memory:", "--demo", "--session-ttl", "1s"});
    Client client(server.BaseUrl());
    ASSERT_EQ(client.Login(kDemoAccount, kDemoPassword).Code(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(client.Heartbeat().Code(), 0);
}

// A plain TCP connection to the server, for what netvane never sends.
class RawConnection {
public:
    explicit RawConnection(const std::string& address) {
        const auto colon = address.rfind(':');
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(std::stoi(address.substr(colon + 1))));
        ::inet_pton(AF_INET, address.substr(0, colon).c_str(), &addr.sin_addr);
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ADD_FAILURE() << "cannot connect to " << address;
        }
    }
    ~RawConnection() { ::close(FFd); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    void Send(const std::string& bytes) {
        EXPECT_EQ(::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // What arrives until the server closes or `limit` passes.
    std::string ReceiveAll(std::chrono::milliseconds limit) {
        std::string text;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{FFd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                FClosed = n == 0;
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    bool Closed() const { return FClosed; }

private:
    int FFd = -1;
    bool FClosed = false;
};

TEST(DevServerConnections, IdleMeansNoBytesForTheTimeoutNotASlowRequest) {
    ClearProxyEnvironment();
    ServerProcess server({"--listen", "127.0.0.1:0", "--db", ":memory:", "--idle-timeout", "1s"});
    // A request that takes twice the timeout, a byte every 400 ms.
    RawConnection slow(server.Address());
    slow.Send("POST /ahb HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\n");
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        slow.Send("x");
    }
    const std::string answer = slow.ReceiveAll(std::chrono::milliseconds(500));
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;

    // A connection that sends nothing more is closed.
    RawConnection silent(server.Address());
    silent.Send("POST /ahb HTTP/1.1\r\n");
    silent.ReceiveAll(std::chrono::seconds(5));
    EXPECT_TRUE(silent.Closed());
}

TEST(DevServerConnections, HeadAnswersTheHeadAloneAndKeepsTheConnection) {
    ClearProxyEnvironment();
    ServerProcess server({"--listen", "127.0.0.1:0", "--db", ":memory:"});
    RawConnection connection(server.Address());
    connection.Send("HEAD /agetclientip HTTP/1.1\r\nHost: x\r\n\r\n"
                    "GET /agetclientip HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const std::string both = connection.ReceiveAll(std::chrono::seconds(5));
    const auto firstEnd = both.find("\r\n\r\n");
    ASSERT_NE(firstEnd, std::string::npos) << both;
    EXPECT_NE(both.substr(0, firstEnd).find("Content-Length: 9"), std::string::npos) << both;
    // The second answer follows the first head at once, without a body between.
    EXPECT_EQ(both.compare(firstEnd + 4, 17, "HTTP/1.1 200 OK\r\n"), 0) << both;
    EXPECT_EQ(both.substr(both.size() - 9), "127.0.0.1");
}

TEST(DevServerCommand, AddAgentRefusesBadInput) {
    TempDir dir;
    const std::string db = dir / "agents.db";
    const std::vector<std::string> base{"add-agent", "--db",         db,        "--password", "pw",
                                        "--name",    Utf8(u8"代理"), "--quota", "3"};
    auto with = [&base](std::vector<std::string> extra) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        return devtest::RunServerCommand(args);
    };
    EXPECT_EQ(with({"--account", "13912345678"}), 0);
    EXPECT_NE(with({"--account", "13912345678"}), 0); // exists already
    EXPECT_NE(with({"--account", "1391234567"}), 0);  // not a mobile number
    // Stored trimmed, as the client sends it: the bare number is then taken.
    EXPECT_EQ(with({"--account", " 13912345670\t"}), 0);
    EXPECT_NE(with({"--account", "13912345670"}), 0);
    EXPECT_NE(devtest::RunServerCommand({"add-agent", "--db", db, "--account", "13912345671",
                                         "--password", "  ", "--name", "x", "--quota", "1"}),
              0); // a password the client could never send
    EXPECT_NE(devtest::RunServerCommand({"add-agent", "--db", db, "--account", "13912345679"}),
              0); // required options missing
    EXPECT_NE(devtest::RunServerCommand({"--listen", "nonsense", "--db", ":memory:"}), 0);
    EXPECT_NE(devtest::RunServerCommand({"--session-ttl", "soon", "--db", ":memory:"}), 0);
}

} // namespace
