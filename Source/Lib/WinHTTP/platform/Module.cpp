#include "platform/Module.h"

#include "ProgramFile.h"

#include <filesystem>
#include <link.h>
#include <system_error>

namespace Funclib::platform {
namespace {

std::string_view FileName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool Matches(std::string_view path, std::string_view name) {
    if (path.empty())
        return false;
    if (path == name)
        return true;
    const std::string_view file = FileName(path);
    if (file == name)
        return true;
    // "libfoo" and "libfoo.so" match "libfoo.so.1.2".
    std::string_view rest = file;
    if (rest.substr(0, name.size()) != name)
        return false;
    rest.remove_prefix(name.size());
    if (rest.substr(0, 3) == ".so")
        rest.remove_prefix(3);
    else if (name.size() < 3 || name.substr(name.size() - 3) != ".so")
        return false;
    // What is left must be version numbers: (".digits")*
    while (!rest.empty()) {
        if (rest[0] != '.' || rest.size() < 2)
            return false;
        rest.remove_prefix(1);
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            ++digits;
        if (digits == 0)
            return false;
        rest.remove_prefix(digits);
    }
    return true;
}

struct Search {
    std::string_view name;
    std::string found;
};

int Visit(dl_phdr_info* info, std::size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    if (info->dlpi_name != nullptr && Matches(info->dlpi_name, search->name)) {
        search->found = info->dlpi_name;
        return 1; // stop
    }
    return 0;
}

} // namespace

std::string ProgramPath() {
    return tarvo::ProgramFilePath();
}

std::string LoadedModulePath(std::string_view name) {
    if (name.empty())
        return {};
    const std::string program = ProgramPath();
    if (!program.empty() && (program == name || FileName(program) == name))
        return program;
    Search search{name, {}};
    dl_iterate_phdr(Visit, &search);
    if (search.found.empty())
        return {};
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(search.found, ec);
    return ec ? search.found : absolute.string();
}

} // namespace Funclib::platform
