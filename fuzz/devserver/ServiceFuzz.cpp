// Requests to the development server's calls, from bytes: the first byte picks
// the path and the form of the body, the rest is the body, either as it
// arrives on the wire or as a payload enciphered under a live session, so the
// calls' own reading of members is reached too. Nothing may crash, and every
// answer must be JSON (or the client's address). seeds/ holds one sound
// payload for each call: devserver_fuzz -max_len=4096 CORPUS fuzz/devserver/seeds
#include "CallRules.h"
#include "Cipher.h"
#include "DemoData.h"
#include "Json.h"
#include "Service.h"
#include "Store.h"

#include <array>
#include <cstdint>
#include <string>

namespace {

using namespace tarvo::devserver;
namespace path = tarvo::rules::path;

constexpr std::array<const char*, 11> kPaths = {
    path::kLogin,       path::kHeartbeat,     path::kLogout,        path::kUserInfo,
    path::kAddStudent,  path::kModifyStudent, path::kDeleteStudent, path::kPictureData,
    path::kStudentList, path::kUpdateInfo,    path::kClientIp};

struct World {
    Store store{":memory:"};
    Service service{store, ServiceOptions{}};
    std::string sid;

    World() {
        FillDemo(store);
        LogIn();
    }

    // A fresh session of the demo agent.
    void LogIn() {
        const std::string enciphered = PasswordCipher(kDemoAccount, kDemoPassword);
        Json::TJSONobject payload;
        payload.Add("password", enciphered);
        payload.Add("ip", "127.0.0.1");
        const std::string data =
            EncipherText(payload.ToText(), tarvo::rules::PayloadKeyText(enciphered));
        HttpRequest login{"POST",
                          path::kLogin,
                          "application/x-www-form-urlencoded",
                          "",
                          std::string("username=") + kDemoAccount + "&data=" + data,
                          "127.0.0.1"};
        const auto answer = Json::ParseJSON(service.Handle(login).Body);
        sid = answer->Member("SID")->Value().AsString();
    }
};

World& TheWorld() {
    static World world;
    return world;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    World& world = TheWorld();
    const std::uint8_t pick = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    HttpRequest request;
    request.Method = "POST";
    request.Path = kPaths[pick % kPaths.size()];
    request.Peer = "127.0.0.1";
    request.Cookie = "SID=" + world.sid + "; SType=1";
    switch ((pick / kPaths.size()) % 3) {
    case 0: // the body as it came
        request.ContentType = "application/x-www-form-urlencoded";
        request.Body = bytes;
        break;
    case 1: // a multipart body with the boundary "b"
        request.ContentType = "multipart/form-data; boundary=b";
        request.Body = bytes;
        break;
    default: { // the bytes as the session's payload
        const std::string cipher = EncipherText(
            bytes,
            tarvo::rules::PayloadKeyText(request.Path == path::kUpdateInfo ? "" : world.sid));
        request.ContentType = "application/x-www-form-urlencoded";
        request.Body = "SID=" + world.sid + "&data=" + cipher;
        break;
    }
    }
    const HttpResponse answer = world.service.Handle(request);
    if (request.Path != path::kClientIp && answer.Status == 200)
        Json::ParseJSON(answer.Body); // throws, and so fails the run, on anything else
    // A logout ends the session that the next inputs need.
    if (request.Path == path::kLogout)
        world.LogIn();
    return 0;
}
