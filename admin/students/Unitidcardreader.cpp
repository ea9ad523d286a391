#include "Unitidcardreader.h"

#include "CodePage.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// ---- Fields of the record ----------------------------------------------

struct SField {
    std::size_t Offset;
    std::size_t Room;
};

constexpr SField FieldName{0, 32};
constexpr SField FieldSex{32, 4};
constexpr SField FieldNation{36, 6};
constexpr SField FieldBorn{42, 18};
constexpr SField FieldAddress{60, 72};
constexpr SField FieldIDCardNum{132, 38};
constexpr SField FieldGrantDept{170, 32};
constexpr SField FieldLifeBegin{202, 18};
constexpr SField FieldLifeEnd{220, 56};
constexpr SField FieldPhoto{276, 255};
static_assert(FieldPhoto.Offset + FieldPhoto.Room == IDCardRecordSize);

// The text of a field: up to its zero byte, or its whole room without one.
std::string FieldText(const IDCardRecord& record, SField field) {
    const auto begin = record.begin() + static_cast<std::ptrdiff_t>(field.Offset);
    const auto end = begin + static_cast<std::ptrdiff_t>(field.Room);
    return std::string(begin, std::find(begin, end, 0));
}

// Spaces and control characters; no GBK trail byte is among them.
bool IsBlank(unsigned char c) {
    return c <= 0x20 || c == 0x7F;
}

std::string Trim(const std::string& text) {
    const auto blank = [](char c) { return IsBlank(static_cast<unsigned char>(c)); };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

// The nation code as a whole decimal integer, or nullopt for any other text.
std::optional<int> ParseNationCode(const std::string& text) {
    std::string_view digits(text);
    if (digits.size() > 1 && digits.front() == '+' && digits[1] != '-')
        digits.remove_prefix(1);
    int code = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return code;
}

// ---- Putting the files in place ----------------------------------------

class TUniqueFd {
public:
    explicit TUniqueFd(int fd) : FFd(fd) {}
    ~TUniqueFd() { Close(); }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return FFd; }
    explicit operator bool() const { return FFd >= 0; }
    // Closes now; false when the close reported an error.
    bool Close() { return FFd < 0 || ::close(std::exchange(FFd, -1)) == 0; }

private:
    int FFd;
};

bool CopyBytes(int in, int out) {
    std::array<char, 65536> buffer;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno != EINTR)
                return false;
            if (put > 0)
                done += put;
        }
    }
}

// Gives the finished copy its name unless that name is taken by now.
bool PublishWithoutReplacing(const std::string& temp, const std::string& target) {
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // File systems without RENAME_NOREPLACE: a hard link fails just as well on
    // an existing name.
    const bool linked =
        (errno == EINVAL || errno == ENOSYS) && ::link(temp.c_str(), target.c_str()) == 0;
    ::unlink(temp.c_str());
    return linked;
}

// Copies `from` to `to` through a hidden temporary file beside `to`, so that
// an interrupted copy never leaves a truncated library under the real name.
void CopyWithoutReplacing(const fs::path& from, const fs::path& to) {
    TUniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!in || ::fstat(in.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    std::string temp = (to.parent_path() / ("." + to.filename().string() + ".XXXXXX")).string();
    TUniqueFd out(::mkostemp(temp.data(), O_CLOEXEC));
    if (!out)
        return;
    const bool copied =
        CopyBytes(in.Get(), out.Get()) && ::fchmod(out.Get(), st.st_mode & 0777) == 0;
    if (out.Close() && copied)
        PublishWithoutReplacing(temp, to.string());
    else
        ::unlink(temp.c_str());
}

// The program's folder without its trailing '/'.
fs::path WithoutTrailingDelimiter(const std::string& folder) {
    fs::path path(folder);
    return path.has_filename() ? path : path.parent_path();
}

// ---- The vendor library ------------------------------------------------

extern "C" {
using TSynOpenPort = std::int32_t (*)(std::int32_t port);
using TSynGetSAMIDToStr = std::int32_t (*)(std::int32_t port, char* text, std::int32_t ifOpen);
using TSynStartFindIDCard = std::int32_t (*)(std::int32_t port, unsigned char* manaInfo,
                                             std::int32_t ifOpen);
using TSynSelectIDCard = std::int32_t (*)(std::int32_t port, unsigned char* manaMsg,
                                          std::int32_t ifOpen);
using TSynReadMsg = std::int32_t (*)(std::int32_t port, std::int32_t ifOpen, unsigned char* record);
using TSynClosePort = std::int32_t (*)(std::int32_t port);
}

struct SVendorEntries {
    TSynOpenPort OpenPort = nullptr;
    TSynGetSAMIDToStr GetSAMIDToStr = nullptr;
    TSynStartFindIDCard StartFindIDCard = nullptr;
    TSynSelectIDCard SelectIDCard = nullptr;
    TSynReadMsg ReadMsg = nullptr;
    TSynClosePort ClosePort = nullptr;
};

template <typename T> bool Bind(void* handle, const char* name, T& entry) {
    entry = reinterpret_cast<T>(::dlsym(handle, name));
    return entry != nullptr;
}

// The main library, bound once for the life of the process.
class TVendorLibrary {
public:
    static TVendorLibrary& Instance() {
        static TVendorLibrary library;
        return library;
    }

    std::optional<SVendorEntries> Entries(const std::string& programFolder) {
        const std::lock_guard lock(FLock);
        if (!FEntries)
            FEntries = Load(programFolder);
        return FEntries;
    }

private:
    static std::optional<SVendorEntries> Load(const std::string& programFolder) {
        std::vector<std::string> candidates{IDCardMainLib};
        if (!programFolder.empty()) {
            candidates.push_back(
                (WithoutTrailingDelimiter(programFolder) / IDCardMainLib).string());
            candidates.push_back(GetIDCardSourceFolder(programFolder) + IDCardMainLib);
        }
        for (const std::string& candidate : candidates) {
            void* handle = ::dlopen(candidate.c_str(), RTLD_NOW);
            if (handle == nullptr)
                continue;
            SVendorEntries e;
            if (Bind(handle, "Syn_OpenPort", e.OpenPort) &&
                Bind(handle, "Syn_GetSAMIDToStr", e.GetSAMIDToStr) &&
                Bind(handle, "Syn_StartFindIDCard", e.StartFindIDCard) &&
                Bind(handle, "Syn_SelectIDCard", e.SelectIDCard) &&
                Bind(handle, "Syn_ReadMsg", e.ReadMsg) &&
                Bind(handle, "Syn_ClosePort", e.ClosePort))
                return e; // the handle is kept: the library is never unloaded
            ::dlclose(handle);
        }
        return std::nullopt;
    }

    std::mutex FLock;
    std::optional<SVendorEntries> FEntries;
};

} // namespace

const std::array<std::string, 56>& NationNames() {
    static const std::array<std::string, 56> names = [] {
        const std::array<std::u8string_view, 56> utf8 = {
            u8"汉",       u8"蒙古",   u8"回",     u8"藏",   u8"维吾尔", u8"苗",     u8"彝",
            u8"壮",       u8"布依",   u8"朝鲜",   u8"满",   u8"侗",     u8"瑶",     u8"白",
            u8"土家",     u8"哈尼",   u8"哈萨克", u8"傣",   u8"黎",     u8"傈僳",   u8"佤",
            u8"畲",       u8"高山",   u8"拉祜",   u8"水",   u8"东乡",   u8"纳西",   u8"景颇",
            u8"柯尔克孜", u8"土",     u8"达斡尔", u8"仫佬", u8"羌",     u8"布朗",   u8"撒拉",
            u8"毛南",     u8"仡佬",   u8"锡伯",   u8"阿昌", u8"普米",   u8"塔吉克", u8"怒",
            u8"乌孜别克", u8"俄罗斯", u8"鄂温克", u8"德昂", u8"保安",   u8"裕固",   u8"京",
            u8"塔塔尔",   u8"独龙",   u8"鄂伦春", u8"赫哲", u8"门巴",   u8"珞巴",   u8"基诺"};
        std::array<std::string, 56> gbk;
        std::transform(utf8.begin(), utf8.end(), gbk.begin(), Gbk);
        return gbk;
    }();
    return names;
}

std::string NationName(int code) {
    const auto& names = NationNames();
    if (code < 1 || code > static_cast<int>(names.size()))
        return {};
    return names[static_cast<std::size_t>(code - 1)];
}

std::string GetProgramFolder() {
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (ec || !program.has_parent_path())
        return {};
    std::string folder = program.parent_path().string();
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

std::string GetIDCardSourceFolder(const std::string& programFolder) {
    // parent_path of "/" is "/": a program at the root looks in /Conf.
    return (WithoutTrailingDelimiter(programFolder).parent_path() / IDCardLibSource).string();
}

void PrepareIDCardLibs(const std::string& programFolder) {
    if (programFolder.empty())
        return;
    const fs::path folder = WithoutTrailingDelimiter(programFolder);
    const fs::path source = GetIDCardSourceFolder(programFolder);
    for (const char* name : IDCardLibFiles) {
        const fs::path target = folder / name;
        // Anything under that name, even a dangling link or an entry that
        // cannot be looked at, stays as it is.
        std::error_code ec;
        if (fs::symlink_status(target, ec).type() != fs::file_type::not_found)
            continue;
        CopyWithoutReplacing(source / name, target);
    }
}

bool LoadIDCardLib(const std::string& programFolder) {
    return TVendorLibrary::Instance().Entries(programFolder).has_value();
}

int ReadIDCardData(IDCardRecord& record, std::string& serial, const std::string& programFolder) {
    serial.clear();
    const auto lib = TVendorLibrary::Instance().Entries(programFolder);
    if (!lib)
        return IDCardLibMissing;

    int result = lib->OpenPort(IDCardPort);
    if (result == 0) {
        // Serial of the security module, then find and select the card; their
        // results decide nothing, the read below does.
        std::array<char, 128> sam{};
        lib->GetSAMIDToStr(IDCardPort, sam.data(), 0);
        std::array<unsigned char, 4> manaInfo{};
        lib->StartFindIDCard(IDCardPort, manaInfo.data(), 0);
        std::array<unsigned char, 8> manaMsg{};
        lib->SelectIDCard(IDCardPort, manaMsg.data(), 0);
        record.fill(0);
        result = lib->ReadMsg(IDCardPort, 0, record.data());
        serial.assign(sam.data(), std::find(sam.begin(), sam.end(), '\0'));
    }
    lib->ClosePort(IDCardPort);
    return result;
}

SStuInfo DecodeIDCardRecord(const IDCardRecord& record) {
    SStuInfo card;
    card.Name = FieldText(record, FieldName);
    card.Sex = FieldText(record, FieldSex);
    card.IDCardNum = FieldText(record, FieldIDCardNum);
    // A code that is no integer counts as 1; an integer that names no nation
    // gives no name rather than a wrong one.
    card.Nation = NationName(ParseNationCode(FieldText(record, FieldNation)).value_or(1));
    card.Born = FormatCardDate(Trim(FieldText(record, FieldBorn)));
    card.Address = Trim(FieldText(record, FieldAddress));
    card.GrantDept = Trim(FieldText(record, FieldGrantDept));
    card.UserLifeBegin = FormatCardDate(Trim(FieldText(record, FieldLifeBegin)));
    card.UserLifeEnd = FormatCardDate(Trim(FieldText(record, FieldLifeEnd)));
    card.PhotoFile = Trim(FieldText(record, FieldPhoto));
    return card;
}

std::string FormatCardDate(const std::string& text) {
    if (text.size() != 8)
        return text;
    return text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2);
}
