// The full path of the running program's file, for the library's module
// look-up and the program's configuration reader alike.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace tarvo {

// Empty when it cannot be told.
inline std::string ProgramFilePath() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

} // namespace tarvo
