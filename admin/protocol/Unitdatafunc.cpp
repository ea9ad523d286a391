#include "Unitdatafunc.h"

#include "Json.h"
#include "Unitcommon.h"
#include "Unitfunction.h"

#include <exception>
#include <stdexcept>

namespace {

const Json::TJSONbase& Required(const Json::TJSONobject& answer, const char* name) {
    const Json::TJSONbase* node = answer.Member(name);
    if (node == nullptr)
        throw Json::EJSONError(std::string("Member \"") + name + "\" not found");
    return *node;
}

} // namespace

void IsUsableOfAppVer_Intf(Winhttpclass::THTTP& http, const std::string& baseUrl,
                           std::int16_t clientType, SUpdateInfo& info) {
    IsUsableOfAppVer_Intf(http, baseUrl, clientType, info, GetProgramFilePath());
}

void IsUsableOfAppVer_Intf(Winhttpclass::THTTP& http, const std::string& baseUrl,
                           std::int16_t clientType, SUpdateInfo& info,
                           const std::string& programPath) {
    info.Code = 0;
    info.NeedUpgrade = 0;
    try {
        Json::TJSONobject request;
        request.Add("cver", GetExeVersion(programPath));
        request.Add("ctype", std::to_string(clientType));
        std::string cipherText;
        EncryptPayload(request.ToText(), DefaultKeyPrefix, cipherText);

        Winhttpclass::TUrlEncodedData form(Winhttpclass::cpNone, true);
        form.Put("data", cipherText);
        const std::string answer = http.Post(baseUrl + tarvo::rules::path::kUpdateInfo,
                                             form.ToString(), Winhttpclass::cpNone);

        if (http.RawHeader.empty()) {
            info.Content = FailureText;
            return;
        }
        if (!AnsweredOk(http) || answer.empty())
            return;
        const auto document = Json::ParseJSON(answer);
        info.Code = Required(*document, "Code").Value().AsInt16();
        info.Content = Required(*document, "Content").Value().AsString();
        info.UpgradeURL = Required(*document, "UpgradeURL").Value().AsString();
        info.UpgradeCode = Required(*document, "UpgradeCode").Value().AsString();
        info.NeedUpgrade = Required(*document, "NeedUpgrade").Value().AsInt16();
    } catch (const std::exception& e) {
        info.Content = CheckHttpResult("Tarvo", http, e.what());
    } catch (...) {
        info.Content = CheckHttpResult("Tarvo", http, "");
    }
}
