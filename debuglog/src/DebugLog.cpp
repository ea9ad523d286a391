// The log sink: one spdlog logger on a size-rotated file, opened on first use.
#include "DebugLog.h"

#include "CodePage.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <spdlog/logger.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t MaxFileSize = 5 * 1024 * 1024;
constexpr std::size_t RotatedFiles = 2; // with the current one: 3 files
constexpr const char* FileName = "tarvo.log";
constexpr auto RetryPause = std::chrono::seconds(10);

// Where lines go now; empty when no place is known.
std::string LogPath() {
    if (const char* file = std::getenv("TARVO_LOG_FILE"); file && *file)
        return file;
    std::filesystem::path folder;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        folder = state;
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = std::filesystem::path(home) / ".local" / "state";
    else
        return {};
    return (folder / "tarvo" / FileName).string();
}

// GBK to UTF-8, with line breaks and other control characters escaped so a
// text cannot start a log line of its own.
std::string Printable(const char* gbk) {
    if (!gbk)
        return {};
    const std::string utf8 = tarvo::cp::GbkToUtf8(gbk);
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// The one logger of the process, re-opened when the path changes.
class TSink {
public:
    void Write(int first, const char* source, const char* where, const char* text) {
        std::lock_guard lock(FMutex);
        const std::string path = LogPath();
        if (path.empty())
            return;
        if (!FLogger || path != FPath) {
            // Opening a file tries a few times with short pauses: after a
            // failure the same place is given a rest before the next try.
            const auto now = std::chrono::steady_clock::now();
            if (!FLogger && path == FPath && now < FRetryAt)
                return;
            Open(path);
            if (!FLogger)
                FRetryAt = now + RetryPause;
        }
        if (!FLogger)
            return;
        std::string line = Printable(source) + " " + Printable(where) + ": ";
        if (first != 0)
            line += "(" + std::to_string(first) + ") ";
        line += Printable(text);
        try {
            FLogger->info(std::string_view(line));
            FLogger->flush();
        } catch (...) {
            // A broken file: drop it and try again with the next line.
            FLogger.reset();
        }
    }

private:
    void Open(const std::string& path) {
        FLogger.reset();
        FPath = path;
        try {
            std::error_code ignored;
            const std::filesystem::path parent = std::filesystem::path(path).parent_path();
            if (!parent.empty())
                std::filesystem::create_directories(parent, ignored);
            auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_st>(path, MaxFileSize,
                                                                               RotatedFiles);
            auto logger = std::make_shared<spdlog::logger>("tarvo", std::move(sink));
            logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %v", spdlog::pattern_time_type::local);
            logger->set_level(spdlog::level::trace);
            logger->set_error_handler([](const std::string&) {});
            FLogger = std::move(logger);
        } catch (...) {
            FLogger.reset();
        }
    }

    std::mutex FMutex;
    std::string FPath;
    std::chrono::steady_clock::time_point FRetryAt;
    std::shared_ptr<spdlog::logger> FLogger;
};

TSink& Sink() {
    static TSink sink;
    return sink;
}

} // namespace

extern "C" void DebugLog(int first, const char* source, const char* where, const char* text) {
    try {
        Sink().Write(first, source, where, text);
    } catch (...) {
        // The caller is often an error handler: nothing may escape.
    }
}
