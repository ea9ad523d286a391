#include "Service.h"

#include "Cipher.h"
#include "DataPacket.h"
#include "Forms.h"
#include "HexDigits.h"

#include <AsciiText.h>
#include <CallRules.h>
#include <CodePage.h>
#include <Json.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

namespace tarvo::devserver {

namespace {

constexpr const char* kJsonType = "application/json; charset=GBK";
constexpr const char* kTextType = "text/plain; charset=GBK";

// A refusal with its message for the agent (GBK); answered as Code 0.
class Refused : public std::runtime_error {
public:
    explicit Refused(std::string message) : std::runtime_error("refused"), FMessage(message) {}
    const std::string& Message() const { return FMessage; }

private:
    std::string FMessage;
};

// The answer as the service writes it: JSON with its Chinese texts as GBK
// characters rather than \u escapes, so clients read real GBK bytes.
HttpResponse JsonAnswer(const Json::TJSONobject& answer) {
    const auto document = nlohmann::json::parse(answer.ToText());
    return HttpResponse{
        200, kJsonType,
        cp::Utf8ToGbk(document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))};
}

HttpResponse Answer(int code, const std::string& content) {
    Json::TJSONobject answer;
    answer.AddInt64("Code", code);
    answer.Add("Content", content);
    return JsonAnswer(answer);
}

const std::string& BadPayloadText() {
    static const std::string text = Gbk(u8"请求数据无效，请重试！");
    return text;
}

const std::string& SessionLostText() {
    static const std::string text = Gbk(u8"登录已失效，请重新登录！");
    return text;
}

// The form of the request body; a body that cannot be read is a refusal.
Form ReadForm(const HttpRequest& request) {
    auto form = ParseForm(request.Body, request.ContentType);
    if (!form) {
        throw Refused(BadPayloadText());
    }
    return std::move(*form);
}

// The largest field "data" of any call: every payload is a handful of short
// texts (the photo travels in a part of its own), so anything larger is no
// client's and is not deciphered or parsed.
constexpr std::size_t kPayloadLimit = 256 * 1024;

// True when every text of a payload is GBK: its bytes are, and no \u escape
// names a character that GBK lacks. Either would reach the store as '?'.
bool AllGbk(const std::string& plain) {
    if (!cp::IsValid(plain, cp::kGbk)) {
        return false;
    }
    const auto document = nlohmann::json::parse(cp::GbkToUtf8(plain), nullptr, false);
    if (document.is_discarded()) {
        // Not JSON at all: refused as such by the parse that follows.
        return true;
    }
    const auto representable = [](const std::string& utf8) {
        bool clean = false;
        cp::Convert(utf8, cp::kUtf8, cp::kGbk, &clean);
        return clean;
    };
    std::vector<const nlohmann::json*> pending{&document};
    while (!pending.empty()) {
        const auto* node = pending.back();
        pending.pop_back();
        if (node->is_string()) {
            if (!representable(node->get_ref<const std::string&>())) {
                return false;
            }
        } else if (node->is_object()) {
            for (const auto& [key, value] : node->items()) {
                if (!representable(key)) {
                    return false;
                }
                pending.push_back(&value);
            }
        } else if (node->is_array()) {
            for (const auto& value : *node) {
                pending.push_back(&value);
            }
        }
    }
    return true;
}

// The payload of the field "data", deciphered under `prefix` + the key suffix.
std::unique_ptr<Json::TJSONobject> OpenPayload(const Form& form, const std::string& prefix) {
    const auto it = form.find("data");
    if (it == form.end() || it->second.Value.size() > kPayloadLimit) {
        throw Refused(BadPayloadText());
    }
    const auto plain = DecipherText(it->second.Value, prefix + rules::kKeySuffix);
    if (!plain) {
        throw Refused(BadPayloadText());
    }
    if (!AllGbk(*plain)) {
        throw Refused(Gbk(u8"请求数据含有无法识别的字符！"));
    }
    try {
        return Json::ParseJSON(*plain);
    } catch (const std::exception&) {
        throw Refused(BadPayloadText());
    }
}

Json::TJSONbase& Member(const Json::TJSONobject& payload, const std::string& name) {
    auto* node = payload.Member(name);
    if (!node) {
        throw Refused(Gbk(u8"请求数据缺少字段：") + name);
    }
    return *node;
}

std::string Text(const Json::TJSONobject& payload, const std::string& name) {
    return Member(payload, name).Value().AsString();
}

// A GBK text of the wire as the UTF-8 the store keeps.
std::string Stored(const std::string& gbk) {
    return cp::GbkToUtf8(gbk);
}
std::string Wire(const std::string& utf8) {
    return cp::Utf8ToGbk(utf8);
}

std::int64_t Integer(const Json::TJSONobject& payload, const std::string& name,
                     const std::string& refusal) {
    try {
        return Member(payload, name).Value().AsInt64();
    } catch (const Refused&) {
        throw;
    } catch (const std::exception&) {
        throw Refused(refusal);
    }
}

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// A phone number checked as the client checks it, trimmed as the rule trims
// it; nothing when it is not acceptable.
std::optional<std::string> PhoneNumber(const std::string& text) {
    if (!rules::IsValidPhoneNumber(text)) {
        return std::nullopt;
    }
    return Trimmed(text);
}

bool SameText(const std::string& a, const std::string& b) {
    // Compared in full whatever the contents, so the time does not tell
    // how much of a stored password a guess got right.
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

} // namespace

Service::Service(Store& store, ServiceOptions options)
    : FStore(store), FOptions(std::move(options)), FSessions(FOptions.SessionTtl) {}

namespace {

struct Context {
    Store& Data;
    SessionTable& Sessions;
    const ServiceOptions& Options;
    const HttpRequest& Request;

    // The agent of the session named by the cookie SID (with SType=1).
    std::int64_t Agent(bool extend = false) const {
        const auto sid = CookieValue(Request.Cookie, "SID");
        const auto type = CookieValue(Request.Cookie, "SType");
        if (!sid || !type || *type != "1") {
            throw Refused(SessionLostText());
        }
        const auto agent = Sessions.Find(*sid, extend);
        if (!agent) {
            throw Refused(SessionLostText());
        }
        return *agent;
    }
    std::string SessionId() const { return CookieValue(Request.Cookie, "SID").value_or(""); }
};

HttpResponse Login(const Context& c) {
    const Form form = ReadForm(c.Request);
    static const std::string refusal = Gbk(u8"账号或密码错误！");
    const auto user = form.find("username");
    if (user == form.end()) {
        throw Refused(refusal);
    }
    const auto agent = c.Data.FindAgent(Trimmed(user->second.Value));
    if (!agent) {
        throw Refused(refusal);
    }
    std::unique_ptr<Json::TJSONobject> payload;
    try {
        payload = OpenPayload(form, agent->Password);
    } catch (const Refused&) {
        // A payload that does not open under the stored password was made
        // from another password.
        throw Refused(refusal);
    }
    if (!SameText(Text(*payload, "password"), agent->Password)) {
        throw Refused(refusal);
    }
    const auto* ip = payload->Member("ip");
    c.Data.RecordLogin(agent->Id, ip ? ip->Value().AsString() : std::string(), Now());
    Json::TJSONobject answer;
    answer.AddInt64("Code", 1);
    answer.Add("SID", c.Sessions.Open(agent->Id));
    return JsonAnswer(answer);
}

HttpResponse Heartbeat(const Context& c) {
    c.Agent(true);
    return Answer(1, "");
}

HttpResponse Logout(const Context& c) {
    c.Agent();
    const Form form = ReadForm(c.Request);
    OpenPayload(form, c.SessionId());
    c.Sessions.Close(c.SessionId());
    return Answer(1, "");
}

HttpResponse UserInfo(const Context& c) {
    const Form form = ReadForm(c.Request);
    const std::int64_t agentId = c.Agent();
    const auto sid = form.find("SID");
    if (sid == form.end() || sid->second.Value != c.SessionId()) {
        throw Refused(SessionLostText());
    }
    const auto agent = c.Data.GetAgent(agentId);
    if (!agent) {
        throw Refused(SessionLostText());
    }
    const std::int64_t used = c.Data.StudentCount(agentId);
    Json::TJSONobject answer;
    answer.AddInt64("Code", 1);
    answer.Add("name", Wire(agent->Name));
    answer.Add("idcardnum", Wire(agent->IdCardNum));
    answer.Add("account", Wire(agent->Account));
    answer.AddInt64("usablecount", std::max<std::int64_t>(0, agent->Quota - used));
    answer.AddInt64("usedcount", used);
    return JsonAnswer(answer);
}

// The width the student list's packet declares for names: a longer name
// could not be listed as it was added.
constexpr std::size_t kNameWidth = [] {
    for (const auto& field : kStudentPacketFields) {
        if (field.AttrName == "Name") {
            return static_cast<std::size_t>(field.Width);
        }
    }
    return std::size_t{0};
}();
static_assert(kNameWidth > 0);

// A BMP file: the signature "BM", and a declared file size (bytes 2..5,
// little-endian) that covers at least the smallest headers (14 bytes of file
// header, 12 of core header) and does not reach past the part.
bool IsBmp(const std::string& bytes) {
    constexpr std::size_t kSmallestBmp = 14 + 12;
    if (bytes.size() < kSmallestBmp || bytes[0] != 'B' || bytes[1] != 'M') {
        return false;
    }
    std::uint32_t declared = 0;
    for (int i = 5; i >= 2; --i) {
        declared = (declared << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    }
    return declared >= kSmallestBmp && declared <= bytes.size();
}

HttpResponse AddStudent(const Context& c) {
    const std::int64_t agentId = c.Agent();
    const Form form = ReadForm(c.Request);
    const auto payload = OpenPayload(form, c.SessionId());

    StudentRecord s;
    s.AgentId = agentId;
    s.DeviceSerial = Stored(Text(*payload, "DeviceSerial"));
    const std::string phone = Text(*payload, "username");
    s.Name = Stored(Trimmed(Text(*payload, "Name")));
    s.IdCardNum = Stored(Text(*payload, "idcardnum"));
    s.Sex = Stored(Text(*payload, "sex"));
    s.Nation = Stored(Text(*payload, "nation"));
    s.Born = Stored(Text(*payload, "born"));
    s.Address = Stored(Text(*payload, "address"));
    s.GrantDept = Stored(Text(*payload, "grantdept"));
    s.UserLifeBegin = Stored(Text(*payload, "UserLifeBegin"));
    s.UserLifeEnd = Stored(Text(*payload, "UserLifeEnd"));
    s.PhotoPath = Stored(Text(*payload, "Photo"));

    const auto account = PhoneNumber(phone);
    if (!account) {
        throw Refused(Gbk(u8"请输入有效的手机号码"));
    }
    s.Account = *account;
    if (s.Name.empty()) {
        throw Refused(Gbk(u8"姓名不能为空！"));
    }
    if (Wire(s.Name).size() > kNameWidth) {
        throw Refused(Gbk(u8"姓名过长，最多") + std::to_string(kNameWidth) +
                      Gbk(u8"个字节（一个汉字占两个字节）！"));
    }
    if (const auto file = form.find("file"); file != form.end()) {
        if (file->second.Value.size() > c.Options.PhotoLimit) {
            throw Refused(Gbk(u8"照片不能超过1MB！"));
        }
        if (!file->second.Value.empty()) {
            if (!IsBmp(file->second.Value)) {
                throw Refused(Gbk(u8"照片不是有效的BMP图片！"));
            }
            s.Photo = file->second.Value;
        }
    }
    s.VerifyCode = RandomDigits(6);
    s.RegDate = Now();
    s.DueDate = OneYearLater(s.RegDate);

    switch (c.Data.AddStudent(s)) {
    case AddResult::DuplicateAccount:
        throw Refused(Gbk(u8"该手机号码已被其他学员使用！"));
    case AddResult::QuotaExhausted:
        throw Refused(Gbk(u8"建号名额已用完，无法添加学员！"));
    case AddResult::Added:
        break;
    }
    return Answer(1, Gbk(u8"添加学员成功！学员登录密码：") + s.VerifyCode);
}

std::int64_t StudentId(const Json::TJSONobject& payload) {
    static const std::string refusal = Gbk(u8"学员不存在！");
    const std::int64_t id = Integer(payload, "stuid", refusal);
    if (id <= 0) {
        throw Refused(refusal);
    }
    return id;
}

HttpResponse ModifyStudent(const Context& c) {
    const std::int64_t agentId = c.Agent();
    const auto payload = OpenPayload(ReadForm(c.Request), c.SessionId());
    const std::string phone = Text(*payload, "username");
    const std::int64_t id = StudentId(*payload);
    const auto account = PhoneNumber(phone);
    if (!account) {
        throw Refused(Gbk(u8"请输入有效的手机号码"));
    }
    switch (c.Data.ChangeStudentAccount(agentId, id, *account)) {
    case ModifyResult::NotFound:
        throw Refused(Gbk(u8"学员不存在！"));
    case ModifyResult::DuplicateAccount:
        throw Refused(Gbk(u8"该手机号码已被其他学员使用！"));
    case ModifyResult::Changed:
        break;
    }
    return Answer(1, Gbk(u8"更绑手机号成功！"));
}

HttpResponse DeleteStudent(const Context& c) {
    const std::int64_t agentId = c.Agent();
    const auto payload = OpenPayload(ReadForm(c.Request), c.SessionId());
    if (!c.Data.DeleteStudent(agentId, StudentId(*payload))) {
        throw Refused(Gbk(u8"学员不存在！"));
    }
    return Answer(1, Gbk(u8"删除成功！"));
}

HttpResponse PictureData(const Context& c) {
    const std::int64_t agentId = c.Agent();
    const auto payload = OpenPayload(ReadForm(c.Request), c.SessionId());
    const auto student = c.Data.GetStudent(agentId, StudentId(*payload));
    if (!student) {
        throw Refused(Gbk(u8"学员不存在！"));
    }
    if (!student->Photo || student->Photo->empty()) {
        throw Refused(Gbk(u8"该学员没有照片"));
    }
    return Answer(1, tarvo::hex::ToUpperHex(*student->Photo));
}

HttpResponse StudentList(const Context& c) {
    const std::int64_t agentId = c.Agent();
    const auto payload = OpenPayload(ReadForm(c.Request), c.SessionId());
    static const std::string badPage = Gbk(u8"页码无效！");
    StudentPageQuery query;
    query.AgentId = agentId;
    query.Page = std::clamp<std::int64_t>(Integer(*payload, "page", badPage), 1, 0x7FFFFFFF);
    query.PageSize = std::clamp<std::int64_t>(Integer(*payload, "pagenum", badPage), 1, 100);
    const std::string field = Trimmed(Text(*payload, "findfield"));
    query.Value = Stored(Trimmed(Text(*payload, "findval")));
    if (query.Value.empty()) {
        query.Field = FindField::All;
    } else if (field == "1") {
        query.Field = FindField::Account;
    } else if (field == "2") {
        query.Field = FindField::Name;
    } else {
        throw Refused(Gbk(u8"查询条件无效！"));
    }

    std::vector<PacketRow> rows;
    for (const auto& s : c.Data.StudentPage(query)) {
        rows.push_back({std::to_string(s.Id), s.Name, s.Account, s.VerifyCode,
                        PacketDateTime(s.RegDate), PacketDateTime(s.DueDate)});
    }
    const std::vector<PacketField> fields(kStudentPacketFields.begin(), kStudentPacketFields.end());
    return Answer(1, WriteDataPacket(fields, rows));
}

HttpResponse UpdateInfo(const Context& c) {
    const auto payload = OpenPayload(ReadForm(c.Request), rules::kDefaultKeyPrefix);
    const std::string version = Trimmed(Text(*payload, "cver"));
    Text(*payload, "ctype");
    const auto& policy = c.Options.Update;
    const std::string latest = VersionText(policy.Latest);
    const bool link = !policy.Url.empty();

    Json::TJSONobject answer;
    answer.AddInt64("Code", 1);
    switch (JudgeVersion(policy, version)) {
    case UpdateVerdict::Required:
        answer.Add("Content", Gbk(u8"当前版本已停止使用，必须更新到最新版本 ") + latest +
                                  (link ? Gbk(u8"。是否现在下载？") : Gbk(u8"。")));
        answer.Add("UpgradeURL", policy.Url);
        answer.Add("UpgradeCode", policy.Code);
        answer.AddInt64("NeedUpgrade", 1);
        break;
    case UpdateVerdict::Offer:
        answer.Add("Content", Gbk(u8"发现新版本 ") + latest +
                                  (link ? Gbk(u8"，是否现在下载？") : Gbk(u8"。")));
        answer.Add("UpgradeURL", policy.Url);
        answer.Add("UpgradeCode", policy.Code);
        answer.AddInt64("NeedUpgrade", 0);
        break;
    case UpdateVerdict::Current:
        answer.Add("Content", "");
        answer.Add("UpgradeURL", "");
        answer.Add("UpgradeCode", "");
        answer.AddInt64("NeedUpgrade", 0);
        break;
    }
    return JsonAnswer(answer);
}

using Call = HttpResponse (*)(const Context&);

const std::map<std::string, Call, std::less<>>& Calls() {
    static const std::map<std::string, Call, std::less<>> calls{
        {rules::path::kLogin, Login},
        {rules::path::kHeartbeat, Heartbeat},
        {rules::path::kLogout, Logout},
        {rules::path::kUserInfo, UserInfo},
        {rules::path::kAddStudent, AddStudent},
        {rules::path::kModifyStudent, ModifyStudent},
        {rules::path::kDeleteStudent, DeleteStudent},
        {rules::path::kPictureData, PictureData},
        {rules::path::kStudentList, StudentList},
        {rules::path::kUpdateInfo, UpdateInfo},
    };
    return calls;
}

} // namespace

HttpResponse Service::Handle(const HttpRequest& request) {
    if (request.Path == rules::path::kClientIp) {
        return HttpResponse{200, kTextType, request.Peer};
    }
    const auto call = Calls().find(request.Path);
    if (call == Calls().end()) {
        return HttpResponse{404, kTextType, "Not Found"};
    }
    if (request.Method != "POST") {
        return HttpResponse{405, kTextType, "Method Not Allowed"};
    }
    const Context context{FStore, FSessions, FOptions, request};
    try {
        return call->second(context);
    } catch (const Refused& refusal) {
        return Answer(0, refusal.Message());
    } catch (const std::exception& error) {
        // Never the payload or a key: only what went wrong.
        std::fprintf(stderr, "%s failed: %s\n", request.Path.c_str(), error.what());
        return Answer(0, Gbk(u8"服务器内部错误，请稍后重试！"));
    }
}

} // namespace tarvo::devserver
