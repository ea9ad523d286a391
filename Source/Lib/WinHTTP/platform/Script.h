// JavaScript evaluation (Duktape), standing in for the platform's script
// control component.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Funclib::platform {

struct ScriptResult {
    bool ok = false;
    std::string text; // the value as text when ok, else the error message
};

// Runs `script` as statements in a fresh engine, then evaluates `expression`
// and converts its value to text (all UTF-8). The engine runs in a forked
// child process, so that a run longer than `timeoutMs` can be stopped and an
// engine failure cannot take the caller down.
ScriptResult EvaluateScript(std::string_view script, std::string_view expression,
                            std::uint32_t timeoutMs);

} // namespace Funclib::platform
