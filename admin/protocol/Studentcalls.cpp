#include "Studentcalls.h"

#include "CallRules.h"
#include "Json.h"
#include "Outside.h"
#include "Stream.h"
#include "Unitcommon.h"

#include <exception>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

SCallOptions LoggedIn(const SCallContext& context, const char* where) {
    SCallOptions options;
    options.Source = "Tarvo";
    options.Where = where;
    options.SetCookie = true;
    options.SessionId = context.SessionId;
    return options;
}

Winhttpclass::TBytes ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("Cannot open file \"" + path + "\"");
    Winhttpclass::TBytes bytes{std::istreambuf_iterator<char>(file),
                               std::istreambuf_iterator<char>()};
    if (file.bad())
        throw std::runtime_error("Cannot read file \"" + path + "\"");
    if (bytes.empty())
        throw std::runtime_error("File \"" + path + "\" is empty");
    return bytes;
}

// "Content" when the answer carries it; a missing one raises like a parse error.
std::string Content(const SCallResult& call) {
    return MemberText(*call.Document, "Content");
}

} // namespace

namespace path = tarvo::rules::path;

SStuListResult LoadStudentPage(SCallContext context, int page, const std::string& findField,
                               const std::string& findValue) {
    SStuListResult result;
    Json::TJSONobject payload;
    payload.Add("page", std::to_string(page));
    payload.Add("pagenum", std::to_string(PageSize));
    payload.Add("findfield", findField);
    payload.Add("findval", findValue);
    const SCallOptions options = LoggedIn(context, "InitDBGrid");
    const SCallResult call = CallServer(context.Http, context.BaseUrl, path::kStudentList, &payload,
                                        context.SessionId, options);
    if (call.Failed || !call.Ok || call.Code != 1)
        return result;
    try {
        result.Packet = Content(call);
        result.Loaded = !result.Packet.empty();
    } catch (...) {
        Log("Tarvo", "InitDBGrid", "Exception: " + ErrorText(std::current_exception()));
        result.Packet.clear();
    }
    return result;
}

SDeleteResult DeleteStudent(SCallContext context, const std::string& studentId) {
    Json::TJSONobject payload;
    payload.Add("stuid", studentId);
    const SCallResult call =
        CallServer(context.Http, context.BaseUrl, path::kDeleteStudent, &payload, context.SessionId,
                   LoggedIn(context, "BtnDelClick"));
    SDeleteResult result;
    result.Failed = call.Failed;
    result.Code = call.Ok ? call.Code : 0;
    return result;
}

SEditResult AddStudent(SCallContext context, const SNewStudent& student) {
    SEditResult result;
    Winhttpclass::THTTP& http = context.Http;
    try {
        Json::TJSONobject payload;
        payload.Add("DeviceSerial", student.DeviceSerial);
        payload.Add("username", student.Account);
        payload.Add("Name", student.Name);
        payload.Add("idcardnum", student.IDCardNum);
        payload.Add("sex", student.Sex);
        payload.Add("nation", student.Nation);
        payload.Add("born", student.Born);
        payload.Add("address", student.Address);
        payload.Add("grantdept", student.GrantDept);
        payload.Add("UserLifeBegin", student.UserLifeBegin);
        payload.Add("UserLifeEnd", student.UserLifeEnd);
        payload.Add("Photo", student.PhotoFile);
        std::string cipherText;
        EncryptPayload(payload.ToText(), context.SessionId, cipherText);
        Winhttpclass::TMultipartData form(Winhttpclass::cpNone);
        form.Add("data", cipherText);
        if (!student.PhotoFile.empty())
            form.Add("file", student.PhotoFile, "image/bmp", ReadWholeFile(student.PhotoFile));
        SetSessionCookie(http, context.SessionId, SessionType);
        const std::string answer =
            http.Post(context.BaseUrl + path::kAddStudent, form, true, Winhttpclass::cpNone);
        if (http.RawHeader.empty()) {
            result.Message = FailureText;
        } else if (AnsweredOk(http) && !answer.empty()) {
            const auto document = Json::ParseJSON(answer);
            result.Code = ReadCode(*document);
            result.Message = MemberText(*document, "Content");
        }
    } catch (...) {
        result = SEditResult{};
        result.Failed = true;
        Log("Tarvo", "BtnAddClick", "Exception: " + ErrorText(std::current_exception()));
    }
    return result;
}

SEditResult ModifyStudent(SCallContext context, const std::string& account,
                          std::int32_t studentId) {
    Json::TJSONobject payload;
    payload.Add("username", account);
    payload.Add("stuid", std::to_string(studentId));
    const SCallResult call =
        CallServer(context.Http, context.BaseUrl, path::kModifyStudent, &payload, context.SessionId,
                   LoggedIn(context, "BtnModifyClick"));
    SEditResult result;
    result.Failed = call.Failed;
    if (call.Failed || !call.Ok)
        return result;
    try {
        result.Message = Content(call);
        result.Code = call.Code;
    } catch (...) {
        result.Failed = true;
        Log("Tarvo", "BtnModifyClick", "Exception: " + ErrorText(std::current_exception()));
    }
    return result;
}

SPictureResult LoadStudentPicture(SCallContext context, std::int32_t studentId) {
    Json::TJSONobject payload;
    payload.AddInt64("stuid", studentId);
    const SCallResult call = CallServer(context.Http, context.BaseUrl, path::kPictureData, &payload,
                                        context.SessionId, LoggedIn(context, "LoadPic"));
    SPictureResult result;
    result.Failed = call.Failed;
    if (call.Failed || !call.Ok || call.Code != 1)
        return result;
    try {
        Winhttpclass::TMemoryStream stream;
        HexToStream(Content(call), stream);
        result.Bytes = stream.Bytes();
    } catch (...) {
        result.Failed = true;
        Log("Tarvo", "LoadPic", "Exception: " + ErrorText(std::current_exception()));
    }
    return result;
}
