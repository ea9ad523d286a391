// Loaded module look-up, standing in for the platform's module handles.
#pragma once

#include <string>
#include <string_view>

namespace Funclib::platform {

// Full path of the running program (/proc/self/exe); empty when unknown.
std::string ProgramPath();

// Full path of the loaded module named `name`: the running program when it is
// its path or file name, else the first loaded shared object whose path or
// file name is `name`, or whose file name is `name` followed by ".so" and
// optional version numbers. Empty when none is loaded.
std::string LoadedModulePath(std::string_view name);

} // namespace Funclib::platform
