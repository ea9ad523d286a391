// The program's bindings to the outside JSON library and log sink.
#pragma once

#include "DebugLog.h"
#include "Json.h"

#include <string>

// One log line through debuglog: DebugLog(0, source, where, text).
inline void Log(const std::string& source, const std::string& where, const std::string& text) {
    DebugLog(0, source.c_str(), where.c_str(), text.c_str());
}
