// The version check: the client's version and type against the server's
// verdict.
#pragma once

#include "WinHttpClass.h"

#include <cstdint>
#include <string>

struct SUpdateInfo {
    std::int16_t Code = 0; // 1: the server answered the check
    std::string Content;   // message for the agent, or FailureText
    std::string UpgradeURL;
    std::string UpgradeCode;
    std::int16_t NeedUpgrade = 0; // 1: this version must not be used
};

// Posts "/aupdateinfo" with {"cver": the running program's version,
// "ctype": clientType} enciphered under DefaultKeyPrefix, no cookie of its
// own, and fills `info`: Code and NeedUpgrade are reset to 0; no answer at
// all gives Content = FailureText; a 200 answer is read in the order Code,
// Content, UpgradeURL, UpgradeCode, NeedUpgrade, and an error on the way
// keeps what was read before it and sets Content to CheckHttpResult's text.
void IsUsableOfAppVer_Intf(Winhttpclass::THTTP& http, const std::string& baseUrl,
                           std::int16_t clientType, SUpdateInfo& info);

// The same, reporting the version of the program file at `programPath`.
void IsUsableOfAppVer_Intf(Winhttpclass::THTTP& http, const std::string& baseUrl,
                           std::int16_t clientType, SUpdateInfo& info,
                           const std::string& programPath);
