// The agent's own calls: login, heartbeat, logout and the account record.
// Each takes the session it posts on and returns what the window shows; the
// call's own log lines are written here.
#pragma once

#include "WinHttpClass.h"

#include <cstdint>
#include <optional>
#include <string>

// The session a call posts on: the window's THTTP, its base URL and, once
// logged in, the session identifier (the key prefix and the "SID" cookie).
struct SCallContext {
    Winhttpclass::THTTP& Http;
    std::string BaseUrl;
    std::string SessionId;
};

struct SLoginResult {
    int Code = 0;
    std::string SessionId; // the answer's "SID" when Code is 1
    std::string Message;   // for the agent; empty: nothing to show
};

// "/alogin": "username" = account in plain text, then "data" = {"password",
// "ip"} enciphered under the enciphered password itself. A message without a
// code is also logged under "DoLogout".
SLoginResult AgentLogin(SCallContext context, const std::string& account,
                        const std::string& encryptedPassword, const std::string& publicIp);

// "/ahb" with the session cookie and an empty body: true when the server
// confirms the session. Otherwise logs "CheckAgentLogin：" + the answer.
bool CheckUserLogin(Winhttpclass::THTTP& http, const std::string& sessionId,
                    const std::string& baseUrl);

// "/alogout" with an empty payload under the session identifier; the answer's
// Code, 0 when there is none.
std::int16_t DoLogout(Winhttpclass::THTTP& http, const std::string& sessionId,
                      const std::string& baseUrl);

// The account record of "/auserinfo". Members are set in the order the
// answer is read, so a reading error keeps the ones read before it.
struct SUserInfoResult {
    int Code = 0;
    std::optional<std::string> Name;
    std::optional<std::string> IDCardNum;
    std::optional<std::string> Account;
    std::optional<std::string> UsableCount;
    std::optional<std::string> UsedCount;
    std::string Message; // for the agent; empty: nothing to show
};

// "/auserinfo": the form field "SID" in plain text and the session cookie.
SUserInfoResult GetAgentInfo(SCallContext context);
