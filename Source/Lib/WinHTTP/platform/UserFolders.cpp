#include "platform/UserFolders.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace Winhttpclass::platform {
namespace {

std::string FolderWithSlash(const std::filesystem::path& folder) {
    std::string text = folder.string();
    if (text.empty() || text.back() != '/')
        text += '/';
    return text;
}

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

// `sub` under the XDG folder named by `variable` (absolute values only), or
// under `fallback` in the home folder; created, private to the user, when
// missing. Empty when it cannot be had.
std::string UserFolder(const char* variable, const char* fallback, const char* sub) {
    std::filesystem::path base;
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') {
        base = value;
    } else {
        const std::string home = HomeFolder();
        if (home.empty())
            return {};
        base = std::filesystem::path(home) / fallback;
    }
    const std::filesystem::path folder = base / sub;
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    if (!IsDirectory(folder.string()))
        return {};
    return FolderWithSlash(folder);
}

} // namespace

std::string TempFolder() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && IsDirectory(tmp))
        return FolderWithSlash(tmp);
    if (IsDirectory("/tmp"))
        return "/tmp/";
    return {};
}

std::string CacheFolder() {
    return UserFolder("XDG_CACHE_HOME", ".cache", "netvane");
}

std::string CookieFolder() {
    return UserFolder("XDG_DATA_HOME", ".local/share", "netvane/cookies");
}

std::optional<std::tm> LocalTime(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return std::nullopt;
    return local;
}

} // namespace Winhttpclass::platform
