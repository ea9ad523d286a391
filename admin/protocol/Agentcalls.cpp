#include "Agentcalls.h"

#include "CallRules.h"
#include "CodePage.h"
#include "Json.h"
#include "Outside.h"
#include "Unitcommon.h"

namespace path = tarvo::rules::path;

SLoginResult AgentLogin(SCallContext context, const std::string& account,
                        const std::string& encryptedPassword, const std::string& publicIp) {
    SLoginResult result;
    Winhttpclass::THTTP& http = context.Http;
    try {
        Json::TJSONobject payload;
        payload.Add("password", encryptedPassword);
        payload.Add("ip", publicIp);
        std::string cipherText;
        EncryptPayload(payload.ToText(), encryptedPassword, cipherText);
        Winhttpclass::TUrlEncodedData form(Winhttpclass::cpNone, true);
        form.Put("username", account);
        form.Put("data", cipherText);
        const std::string answer =
            http.Post(context.BaseUrl + path::kLogin, form.ToString(), Winhttpclass::cpNone);
        if (http.RawHeader.empty()) {
            result.Message = FailureText;
        } else if (!AnsweredOk(http)) {
            result.Message = "aHTTP->RawHeader " + http.RawHeader;
        } else if (!answer.empty()) {
            const auto document = Json::ParseJSON(answer);
            result.Code = ReadCode(*document);
            if (result.Code == 1)
                result.SessionId = MemberText(*document, "SID");
            else
                result.Message = MemberText(*document, "Content");
        }
    } catch (...) {
        result.SessionId.clear();
        result.Message = CheckHttpResult("TarvoAdmin", http, ErrorText(std::current_exception()));
    }
    if (result.Code == 0 && !result.Message.empty())
        Log("TarvoAdmin", "DoLogout", result.Message);
    return result;
}

bool CheckUserLogin(Winhttpclass::THTTP& http, const std::string& sessionId,
                    const std::string& baseUrl) {
    SCallOptions options;
    options.Source = "TarvoAdmin";
    options.SetCookie = true;
    options.SessionId = sessionId;
    options.UseCheckHttpResult = true;
    const SCallResult call =
        CallServer(http, baseUrl, path::kHeartbeat, nullptr, sessionId, options);
    const bool confirmed = !call.Failed && call.Ok && call.Code == 1;
    if (!confirmed)
        Log("TarvoAdmin", "CheckUserLogin", Gbk(u8"CheckAgentLogin：") + call.Answer);
    return confirmed;
}

std::int16_t DoLogout(Winhttpclass::THTTP& http, const std::string& sessionId,
                      const std::string& baseUrl) {
    SCallOptions options;
    options.Source = "TarvoAdmin";
    options.Where = "DoLogout";
    options.SetCookie = true;
    options.SessionId = sessionId;
    const Json::TJSONobject payload;
    const SCallResult call = CallServer(http, baseUrl, path::kLogout, &payload, sessionId, options);
    if (call.Failed || !call.Ok)
        return 0;
    return static_cast<std::int16_t>(call.Code);
}

SUserInfoResult GetAgentInfo(SCallContext context) {
    SUserInfoResult result;
    Winhttpclass::THTTP& http = context.Http;
    try {
        Winhttpclass::TUrlEncodedData form(Winhttpclass::cpNone, true);
        form.Put("SID", context.SessionId);
        http.ClearData();
        SetSessionCookie(http, context.SessionId, SessionType);
        const std::string answer =
            http.Post(context.BaseUrl + path::kUserInfo, form.ToString(), Winhttpclass::cpNone);
        if (http.RawHeader.empty()) {
            result.Message = FailureText;
        } else if (AnsweredOk(http) && !answer.empty()) {
            const auto document = Json::ParseJSON(answer);
            result.Code = ReadCode(*document);
            if (result.Code == 1) {
                result.Name = MemberText(*document, "name");
                result.IDCardNum = MemberText(*document, "idcardnum");
                result.Account = MemberText(*document, "account");
                result.UsableCount = MemberText(*document, "usablecount");
                result.UsedCount = MemberText(*document, "usedcount");
            } else {
                result.Message = MemberText(*document, "Content");
            }
        }
    } catch (...) {
        result.Message = CheckHttpResult("TarvoAdmin", http, ErrorText(std::current_exception()));
    }
    return result;
}
