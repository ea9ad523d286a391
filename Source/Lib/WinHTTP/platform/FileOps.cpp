#include "platform/FileOps.h"

#include <filesystem>
#include <glob.h>
#include <memory>
#include <system_error>

namespace Funclib::platform {
namespace {

namespace fs = std::filesystem;

std::optional<std::uint64_t> RegularFileSize(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return std::nullopt;
    const auto size = fs::file_size(path, ec);
    if (ec)
        return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

struct GlobFree {
    void operator()(glob_t* g) const { globfree(g); }
};

// True when `inner` is `outer` or lies inside it.
// One entry of a copy, over whatever stands at `to`: a folder is made, a
// link copied as a link, a file copied with its contents.
bool CopyEntry(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    const auto status = fs::symlink_status(from, ec);
    if (ec)
        return false;
    if (fs::is_directory(status)) {
        if (fs::is_symlink(fs::symlink_status(to, ec)))
            fs::remove(to, ec);
        return fs::is_directory(to, ec) || fs::create_directory(to, ec);
    }
    if (fs::is_symlink(status)) {
        const auto existing = fs::symlink_status(to, ec);
        if (fs::exists(existing) && !fs::is_directory(existing))
            fs::remove(to, ec);
        fs::copy_symlink(from, to, ec);
        return !ec;
    }
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
    auto o = outer.begin();
    auto i = inner.begin();
    for (; o != outer.end(); ++o, ++i) {
        if (o->empty())
            continue; // trailing separator
        if (i == inner.end() || *i != *o)
            return false;
    }
    return true;
}

} // namespace

std::optional<std::uint64_t> FirstMatchSize(const std::string& pattern) {
    if (pattern.empty())
        return std::nullopt;
    // A name that exists as it is wins over its reading as a pattern.
    if (auto size = RegularFileSize(pattern))
        return size;
    glob_t matches{};
    const int rc = ::glob(pattern.c_str(), 0, nullptr, &matches);
    const std::unique_ptr<glob_t, GlobFree> release(&matches);
    if (rc != 0)
        return std::nullopt;
    for (std::size_t i = 0; i < matches.gl_pathc; ++i)
        if (auto size = RegularFileSize(matches.gl_pathv[i]))
            return size;
    return std::nullopt;
}

bool CopyTree(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty())
        return false;
    std::error_code ec;
    const fs::path source(from);
    const auto status = fs::status(source, ec);
    if (ec || !fs::exists(status))
        return false;
    fs::path target(to);
    if (fs::is_directory(target, ec)) {
        fs::path name = source.filename();
        if (name.empty())
            name = source.parent_path().filename(); // "dir/"
        target /= name;
    }
    if (fs::is_directory(status)) {
        const fs::path sourceFull = fs::weakly_canonical(source, ec);
        if (ec)
            return false;
        const fs::path targetFull = fs::weakly_canonical(target, ec);
        if (ec || IsWithin(targetFull, sourceFull))
            return false; // a folder cannot be copied into itself
    } else if (fs::exists(target, ec) && fs::equivalent(source, target, ec)) {
        return false;
    }
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec)
            return false;
    }
    if (!fs::is_directory(status))
        return CopyEntry(source, target);
    if (!fs::is_directory(target, ec) && !fs::create_directories(target, ec))
        return false;
    fs::recursive_directory_iterator walk(source, ec), end;
    for (; !ec && walk != end; walk.increment(ec)) {
        if (!CopyEntry(walk->path(), target / walk->path().lexically_relative(source)))
            return false;
    }
    return !ec;
}

bool DeleteTree(const std::string& path) {
    if (path.empty())
        return false;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)))
        return false;
    fs::remove_all(path, ec);
    return !ec;
}

} // namespace Funclib::platform
