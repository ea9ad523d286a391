// tarvo-devserver: a working stand-in for the service's server.
//
//   tarvo-devserver [--listen HOST:PORT] [--db PATH] [--demo] ...
//   tarvo-devserver add-agent --db PATH --account ... --password ... ...
#include "Cipher.h"
#include "DemoData.h"
#include "Forms.h"
#include "HttpServer.h"
#include "Service.h"
#include "Store.h"
#include "Versions.h"

#include <CLI/CLI.hpp>
#include <CallRules.h>
#include <CodePage.h>
#include <Utf8Check.h>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#ifndef TARVO_VERSION
#define TARVO_VERSION "0.0.0.0"
#endif

namespace {

using namespace tarvo::devserver;

// "90", "90s", "15m", "2h": seconds, or with a unit.
std::optional<std::chrono::seconds> ParseDuration(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const std::string unit = text.substr(used);
    long long scale = 0;
    if (unit.empty() || unit == "s") {
        scale = 1;
    } else if (unit == "m") {
        scale = 60;
    } else if (unit == "h") {
        scale = 3600;
    } else {
        return std::nullopt;
    }
    if (value <= 0 || value > 366LL * 86400 / scale) {
        return std::nullopt;
    }
    return std::chrono::seconds(value * scale);
}

// "HOST:PORT" or "[v6]:PORT".
bool ParseListen(const std::string& text, std::string& host, unsigned short& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return false;
    }
    host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string digits = text.substr(colon + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 5) {
        return false;
    }
    const unsigned long value = std::stoul(digits);
    if (value > 65535) {
        return false;
    }
    port = static_cast<unsigned short>(value);
    return true;
}

CLI::Validator DurationText() {
    return CLI::Validator(
        [](std::string& text) {
            return ParseDuration(text) ? std::string()
                                       : "not a duration (seconds, or a number with s, m or h)";
        },
        "DURATION");
}

CLI::Validator VersionValue() {
    return CLI::Validator(
        [](std::string& text) {
            return ParseVersion(text) ? std::string() : "not a version a.b.c.d";
        },
        "VERSION");
}

int AddAgent(const std::string& db, const std::string& accountText, const std::string& passwordText,
             const std::string& name, const std::string& idcardnum, long long quota) {
    // Stored as the client sends them: trimmed.
    const std::string account = Trimmed(accountText);
    const std::string password = Trimmed(passwordText);
    if (!tarvo::rules::IsValidPhoneNumber(account)) {
        std::fprintf(stderr, "add-agent: the account must be a valid mobile number\n");
        return 2;
    }
    if (password.empty()) {
        std::fprintf(stderr, "add-agent: the password must not be empty\n");
        return 2;
    }
    if (name.empty() || !tarvo::utf8::IsWellFormed(name)) {
        std::fprintf(stderr, "add-agent: the name must be a non-empty UTF-8 text\n");
        return 2;
    }
    Store store(db);
    AgentRecord agent;
    agent.Account = account;
    // The client enciphers the GBK form of what the agent typed.
    agent.Password = PasswordCipher(account, tarvo::cp::Utf8ToGbk(password));
    agent.Name = name;
    agent.IdCardNum = idcardnum;
    agent.Quota = quota;
    const auto id = store.AddAgent(agent);
    std::printf("agent %lld added: %s\n", static_cast<long long>(id), account.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"tarvo-devserver: the development server of the Tarvo administration client"};
    app.set_version_flag("--version", TARVO_VERSION);

    std::string listen = "127.0.0.1:8041";
    std::string db = "tarvo-devserver.db";
    bool demo = false;
    std::string sessionTtl = "30m";
    std::string idleTimeout = "30s";
    std::string latest = TARVO_VERSION;
    std::string oldest = "0.0.0.0";
    std::string upgradeUrl;
    std::string upgradeCode;
    std::string tlsCert;
    std::string tlsKey;
    int threads = 2;

    app.add_option("--listen", listen,
                   "address to listen on, HOST:PORT; port 0 picks a free one (the first line "
                   "on standard output names the address)")
        ->capture_default_str();
    app.add_option("--db", db,
                   "SQLite database file, created when missing; :memory: keeps it "
                   "in memory")
        ->capture_default_str();
    app.add_flag("--demo", demo,
                 "fill an empty database with the demo agent 13800138000 (password tarvo123) "
                 "and 45 students");
    app.add_option("--session-ttl", sessionTtl,
                   "a session ends after this time without heartbeat: seconds, or a number "
                   "followed by s, m or h")
        ->check(DurationText())
        ->capture_default_str();
    app.add_option("--idle-timeout", idleTimeout,
                   "idle connections are closed after this time (same form as --session-ttl)")
        ->check(DurationText())
        ->capture_default_str();
    app.add_option("--latest-version", latest, "the newest client version")
        ->check(VersionValue())
        ->capture_default_str();
    app.add_option("--oldest-version", oldest, "the oldest client version still allowed")
        ->check(VersionValue())
        ->capture_default_str();
    app.add_option("--upgrade-url", upgradeUrl, "download link of the newest client");
    app.add_option("--upgrade-code", upgradeCode, "extraction code of the download");
    auto* cert = app.add_option("--tls-cert", tlsCert, "PEM certificate chain: serve HTTPS")
                     ->check(CLI::ExistingFile);
    auto* key = app.add_option("--tls-key", tlsKey, "PEM private key of the certificate")
                    ->check(CLI::ExistingFile);
    cert->needs(key);
    key->needs(cert);
    app.add_option("--threads", threads, "threads serving connections")
        ->check(CLI::Range(1, 16))
        ->capture_default_str();

    auto* addAgent = app.add_subcommand("add-agent", "add an agent to a database and exit");
    std::string agentDb;
    std::string account;
    std::string password;
    std::string name;
    std::string idcardnum;
    long long quota = 0;
    addAgent->add_option("--db", agentDb, "SQLite database file")->required();
    addAgent->add_option("--account", account, "the agent's account, a mobile number")->required();
    addAgent->add_option("--password", password, "the agent's password")->required();
    addAgent->add_option("--name", name, "the agent's name (UTF-8)")->required();
    addAgent->add_option("--idcardnum", idcardnum, "the agent's identity card number");
    addAgent->add_option("--quota", quota, "how many students the agent may create")
        ->check(CLI::Range(0LL, 1000000LL))
        ->required();

    CLI11_PARSE(app, argc, argv);

    try {
        if (addAgent->parsed()) {
            return AddAgent(agentDb, account, password, name, idcardnum, quota);
        }

        HttpServerOptions http;
        if (!ParseListen(listen, http.Host, http.Port)) {
            std::fprintf(stderr, "--listen: expected HOST:PORT, got %s\n", listen.c_str());
            return 2;
        }
        http.IdleTimeout = *ParseDuration(idleTimeout);
        http.Threads = threads;
        http.TlsCertFile = tlsCert;
        http.TlsKeyFile = tlsKey;

        ServiceOptions service;
        service.SessionTtl = *ParseDuration(sessionTtl);
        service.Update.Latest = *ParseVersion(latest);
        service.Update.Oldest = *ParseVersion(oldest);
        // Command-line texts are UTF-8; answers carry GBK.
        service.Update.Url = tarvo::cp::Utf8ToGbk(upgradeUrl);
        service.Update.Code = tarvo::cp::Utf8ToGbk(upgradeCode);

        Store store(db);
        if (demo && !FillDemo(store)) {
            std::fprintf(stderr, "--demo: the database holds agents already; left as it is\n");
        }
        Service calls(store, service);
        HttpServer server(http,
                          [&calls](const HttpRequest& request) { return calls.Handle(request); });
        std::printf("listening on %s\n", server.LocalAddress().c_str());
        std::fflush(stdout);
        server.Run();
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarvo-devserver: %s\n", error.what());
        return 1;
    }
}
