#include "platform/RegistryStore.h"

#include "HexDigits.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <openssl/evp.h>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace Funclib::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "netvane values 1";
constexpr std::string_view kValuesFile = ".values";
constexpr std::string_view kLockFile = ".lock";
constexpr std::size_t kMaxFolderName = 200;
constexpr char kHex[] = "0123456789ABCDEF";

// A file descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::optional<fs::path> StoreFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return fs::path(config) / "netvane";
    const char* home = std::getenv("HOME");
    std::string homeFolder = home != nullptr ? home : "";
    if (homeFolder.empty() || homeFolder[0] != '/') {
        std::array<char, 4096> buffer{};
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/')
            return std::nullopt;
        homeFolder = found->pw_dir;
    }
    return fs::path(homeFolder) / ".config" / "netvane";
}

std::optional<std::string> RootName(std::uint32_t root) {
    switch (root) {
    case 0x80000000u:   // HKEY_CLASSES_ROOT
    case 0x80000001u:   // HKEY_CURRENT_USER
    case 0x80000002u:   // HKEY_LOCAL_MACHINE
    case 0x80000003u:   // HKEY_USERS
    case 0x80000005u: { // HKEY_CURRENT_CONFIG
        std::string name(8, '0');
        for (int i = 7; i >= 0; --i, root >>= 4)
            name[static_cast<std::size_t>(i)] = kHex[root & 0xF];
        return name;
    }
    default:
        return std::nullopt;
    }
}

// ASCII lower case; the trail byte of a GBK double-byte character is left as
// it is (it may lie in "A".."Z").
std::string FoldCase(std::string_view text) {
    std::string folded(text);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        const auto byte = static_cast<unsigned char>(folded[i]);
        if (byte >= 0x81 && byte <= 0xFE && i + 1 < folded.size())
            ++i;
        else if (byte >= 'A' && byte <= 'Z')
            folded[i] = static_cast<char>(byte - 'A' + 'a');
    }
    return folded;
}

void AppendEscaped(std::string& out, unsigned char byte) {
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}

// Field escaping of the values file: no spaces, no line breaks.
std::string EscapeField(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F && byte != '%')
            out += c;
        else
            AppendEscaped(out, byte);
    }
    return out;
}

std::optional<std::string> UnescapeField(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = tarvo::hex::DigitValue(text[i + 1]);
        const int low = tarvo::hex::DigitValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string Sha256Hex(std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
        return {};
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 0xF];
    }
    return out;
}

// Folder name of one sub key: only [a-z0-9_-] stay, so no name can be "."
// or "..", start with "." or collide with the files of a key folder.
std::string FolderName(std::string_view component) {
    std::string out;
    for (const char c : FoldCase(component)) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || byte == '_' ||
            byte == '-')
            out += c;
        else
            AppendEscaped(out, byte);
    }
    if (out.size() > kMaxFolderName)
        out = "#" + Sha256Hex(out);
    return out;
}

std::optional<fs::path> KeyFolder(std::uint32_t root, std::string_view subKey) {
    const auto rootName = RootName(root);
    const auto store = StoreFolder();
    if (!rootName || !store)
        return std::nullopt;
    fs::path folder = *store / *rootName;
    std::size_t start = 0;
    while (start <= subKey.size()) {
        const std::size_t end = std::min(subKey.find('\\', start), subKey.size());
        if (end > start)
            folder /= FolderName(subKey.substr(start, end - start));
        start = end + 1;
    }
    return folder;
}

struct Entry {
    std::string name;
    StoredValue value;
};

// Reads the values of a key; malformed lines are skipped. Nothing when the
// file cannot be read or is not a values file.
std::optional<std::vector<Entry>> LoadEntries(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string line;
    if (!std::getline(in, line) || line != kHeader)
        return std::nullopt;
    std::vector<Entry> entries;
    while (std::getline(in, line)) {
        const std::size_t first = line.find(' ');
        if (first == std::string::npos)
            continue;
        const std::size_t second = line.find(' ', first + 1);
        if (second == std::string::npos || line.find(' ', second + 1) != std::string::npos)
            continue;
        const std::string_view view(line);
        const std::string_view type = view.substr(0, first);
        const auto name = UnescapeField(view.substr(first + 1, second - first - 1));
        const std::string_view data = view.substr(second + 1);
        if (!name)
            continue;
        if (type == "s") {
            if (auto text = UnescapeField(data))
                entries.push_back({*name, std::move(*text)});
        } else if (type == "i") {
            std::int32_t number = 0;
            const auto [end, ec] = std::from_chars(data.data(), data.data() + data.size(), number);
            if (ec == std::errc() && end == data.data() + data.size() && !data.empty())
                entries.push_back({*name, number});
        }
    }
    return entries;
}

std::string Serialize(const std::vector<Entry>& entries) {
    std::string out(kHeader);
    out += '\n';
    for (const Entry& entry : entries) {
        if (const auto* text = std::get_if<std::string>(&entry.value))
            out += "s " + EscapeField(entry.name) + " " + EscapeField(*text) + "\n";
        else
            out += "i " + EscapeField(entry.name) + " " +
                   std::to_string(std::get<std::int32_t>(entry.value)) + "\n";
    }
    return out;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Replaces `file` with `data`: a crash leaves either the old or the new file.
bool ReplaceFile(const fs::path& file, std::string_view data) {
    std::string temp = (file.parent_path() / ".values.XXXXXX").string();
    Fd out(::mkostemp(temp.data(), O_CLOEXEC));
    if (out.get() < 0)
        return false;
    const bool written = WriteAll(out.get(), data) && ::fsync(out.get()) == 0;
    if (::close(out.release()) != 0 || !written || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    Fd folder(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
    return true;
}

// Holds an exclusive lock on the key folder's lock file, so that read,
// change and replace of the values file by two writers do not interleave.
class KeyLock {
public:
    explicit KeyLock(const fs::path& folder)
        : fd_(::open((folder / kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_.get() < 0)
            return;
        int rc = 0;
        do
            rc = ::flock(fd_.get(), LOCK_EX);
        while (rc != 0 && errno == EINTR);
        locked_ = rc == 0;
    }
    bool locked() const { return locked_; }

private:
    Fd fd_;
    bool locked_ = false;
};

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FoldCase(a) == FoldCase(b);
}

// Applies `change` to the entries of a key under its lock and stores them.
// `change` returns false to leave the file untouched (and report failure).
template <typename Change> bool ModifyKey(const fs::path& folder, bool create, Change change) {
    std::error_code ec;
    if (create) {
        fs::create_directories(folder, ec);
        if (ec)
            return false;
    } else if (!fs::is_directory(folder, ec)) {
        return false;
    }
    const KeyLock lock(folder);
    if (!lock.locked())
        return false;
    const fs::path file = folder / kValuesFile;
    std::vector<Entry> entries;
    if (fs::exists(file, ec)) {
        auto loaded = LoadEntries(file);
        if (!loaded)
            return false; // not ours or unreadable: do not overwrite it
        entries = std::move(*loaded);
    } else if (!create) {
        return false;
    }
    if (!change(entries))
        return false;
    return ReplaceFile(file, Serialize(entries));
}

} // namespace

std::optional<StoredValue> ReadStoredValue(std::uint32_t root, std::string_view subKey,
                                           std::string_view name) {
    const auto folder = KeyFolder(root, subKey);
    if (!folder)
        return std::nullopt;
    const auto entries = LoadEntries(*folder / kValuesFile);
    if (!entries)
        return std::nullopt;
    for (const Entry& entry : *entries)
        if (SameName(entry.name, name))
            return entry.value;
    return std::nullopt;
}

bool WriteStoredValue(std::uint32_t root, std::string_view subKey, std::string_view name,
                      const StoredValue& value) {
    const auto folder = KeyFolder(root, subKey);
    if (!folder)
        return false;
    return ModifyKey(*folder, true, [&](std::vector<Entry>& entries) {
        for (Entry& entry : entries)
            if (SameName(entry.name, name)) {
                entry.value = value;
                return true;
            }
        entries.push_back({std::string(name), value});
        return true;
    });
}

bool DeleteStoredValue(std::uint32_t root, std::string_view subKey, std::string_view name) {
    const auto folder = KeyFolder(root, subKey);
    if (!folder)
        return false;
    return ModifyKey(*folder, false, [&](std::vector<Entry>& entries) {
        for (auto it = entries.begin(); it != entries.end(); ++it)
            if (SameName(it->name, name)) {
                entries.erase(it);
                return true;
            }
        return false;
    });
}

} // namespace Funclib::platform
