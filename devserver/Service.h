// The server's calls: each path of the client's protocol, from the request
// to the answer. Payloads arrive enciphered in the form field "data"; answers
// are plain JSON in GBK.
#pragma once

#include "HttpServer.h"
#include "Sessions.h"
#include "Store.h"
#include "Versions.h"

#include <chrono>
#include <string>

namespace tarvo::devserver {

struct ServiceOptions {
    UpdatePolicy Update;
    std::chrono::seconds SessionTtl{30 * 60};
    std::size_t PhotoLimit = 1024 * 1024;
};

class Service {
public:
    Service(Store& store, ServiceOptions options);

    // Never throws; a failure of the store answers Code 0.
    HttpResponse Handle(const HttpRequest& request);

private:
    Store& FStore;
    ServiceOptions FOptions;
    SessionTable FSessions;
};

} // namespace tarvo::devserver
