// Stand-in for the DKQ-116D reader's library. There is no device: the card on
// the reader is a card file (see cards/card.ini), named by the environment
// variable TARVO_IDCARD_FILE, else "card.ini" beside this library file, else
// "../Conf/DKQ-116D/card.ini" from there. Without a card file no card lies on
// the reader.
#include "SynIDCardRead.h"

#include "CardFile.h"
#include "Portrait.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace idcardread;

namespace {

enum SynResult : int {
    SynOk = 0,
    SynNoPort = -1,    // a port other than 1001, or no buffer
    SynNoCard = -2,    // no card file
    SynBadCard = -3,   // the card file cannot be read or a field does not fit
    SynNoPhoto = -4,   // the photo file cannot be written
    SynInternal = -99, // anything unforeseen
};

constexpr int ReaderPort = 1001;
constexpr char SamSerial[] = "05.01-20240315-0011223-3344556677";
constexpr std::size_t RecordSize = 531;

// Where each card key goes in the record: offset and room, the room holding
// the text's zero byte.
struct SRecordField {
    const char* Key;
    std::size_t Offset;
    std::size_t Room;
};
constexpr std::array<SRecordField, 9> RecordFields = {{
    {"name", 0, 32},
    {"sex", 32, 4},
    {"nation", 36, 6},
    {"born", 42, 18},
    {"address", 60, 72},
    {"idcardnum", 132, 38},
    {"grantdept", 170, 32},
    {"validitybegin", 202, 18},
    {"validityend", 220, 56},
}};
constexpr std::size_t PhotoOffset = 276;
constexpr std::size_t PhotoRoom = 255;

void Complain(const fs::path& card, const std::string& why) {
    std::fprintf(stderr, "Syn_IDCardRead: %s: %s\n", card.c_str(), why.c_str());
}

// The folder of this library file.
fs::path OwnFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&Syn_ReadMsg), &info) == 0 ||
        info.dli_fname == nullptr)
        return {};
    return fs::path(info.dli_fname).parent_path();
}

std::optional<fs::path> FindCardFile() {
    std::error_code ec;
    if (const char* named = std::getenv("TARVO_IDCARD_FILE"); named != nullptr && *named != '\0') {
        if (fs::is_regular_file(named, ec))
            return fs::path(named);
        return std::nullopt;
    }
    const fs::path own = OwnFolder();
    if (own.empty())
        return std::nullopt;
    for (const fs::path& card : {own / "card.ini", own / ".." / "Conf" / "DKQ-116D" / "card.ini"})
        if (fs::is_regular_file(card, ec))
            return card.lexically_normal();
    return std::nullopt;
}

bool CardPresent() {
    return FindCardFile().has_value();
}

// "RRGGBB" (a leading '#' allowed) into 0xRRGGBB; an empty text keeps `colour`.
bool ParseColour(const std::string& text, std::uint32_t& colour) {
    const std::string hex = text.starts_with('#') ? text.substr(1) : text;
    if (hex.empty())
        return true;
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    colour = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
    return true;
}

// The user's temporary folder: $TMPDIR, else /tmp.
fs::path TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::error_code ec;
    fs::path folder = fs::absolute(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp", ec);
    return ec ? fs::path("/tmp") : folder;
}

// Writes the photo under a new name in the temporary folder; the full path,
// or nullopt when it would not fit the record or cannot be written.
std::optional<std::string> WritePhoto(const std::vector<unsigned char>& bmp) {
    std::string path = (TempFolder() / "IDCardPhoto_XXXXXX.bmp").string();
    if (path.size() >= PhotoRoom)
        return std::nullopt;
    const int fd = ::mkostemps(path.data(), 4, O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bmp.size();) {
        const ssize_t put = ::write(fd, bmp.data() + done, bmp.size() - done);
        ok = put > 0 || (put < 0 && errno == EINTR);
        done += put > 0 ? static_cast<std::size_t>(put) : 0;
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(path.c_str());
        return std::nullopt;
    }
    return path;
}

int ReadCard(unsigned char* record) {
    const auto cardFile = FindCardFile();
    if (!cardFile)
        return SynNoCard;
    const auto ini = ReadIniFile(*cardFile);
    if (!ini) {
        Complain(*cardFile, "cannot be read");
        return SynBadCard;
    }

    std::array<unsigned char, RecordSize> card{};
    for (const SRecordField& field : RecordFields) {
        const auto gbk = Utf8ToGbk(IniValue(*ini, "card", field.Key));
        if (!gbk || gbk->size() >= field.Room) {
            Complain(*cardFile,
                     std::string(field.Key) + (gbk ? " is too long" : " is not GBK text"));
            return SynBadCard;
        }
        std::memcpy(card.data() + field.Offset, gbk->data(), gbk->size());
    }

    SPortraitColours colours;
    for (const auto& [key, colour] :
         {std::pair{"background", &colours.Background}, std::pair{"skin", &colours.Skin},
          std::pair{"hair", &colours.Hair}, std::pair{"clothes", &colours.Clothes}}) {
        if (!ParseColour(IniValue(*ini, "photo", key), *colour)) {
            Complain(*cardFile, std::string(key) + " is no RRGGBB colour");
            return SynBadCard;
        }
    }
    const auto photo = WritePhoto(DrawPortraitBmp(colours));
    if (!photo) {
        Complain(*cardFile, "the photo cannot be written into " + TempFolder().string());
        return SynNoPhoto;
    }
    std::memcpy(card.data() + PhotoOffset, photo->data(), photo->size());

    std::memcpy(record, card.data(), card.size());
    return SynOk;
}

} // namespace

extern "C" {

int Syn_OpenPort(int port) {
    return port == ReaderPort ? SynOk : SynNoPort;
}

int Syn_ClosePort(int port) {
    return port == ReaderPort ? SynOk : SynNoPort;
}

int Syn_GetSAMIDToStr(int port, char* text, int /*ifOpen*/) {
    if (port != ReaderPort || text == nullptr)
        return SynNoPort;
    static_assert(sizeof(SamSerial) <= 128);
    std::memcpy(text, SamSerial, sizeof(SamSerial));
    return SynOk;
}

int Syn_StartFindIDCard(int port, unsigned char* manaInfo, int /*ifOpen*/) {
    if (port != ReaderPort || manaInfo == nullptr)
        return SynNoPort;
    try {
        return CardPresent() ? SynOk : SynNoCard;
    } catch (...) {
        return SynInternal;
    }
}

int Syn_SelectIDCard(int port, unsigned char* manaMsg, int /*ifOpen*/) {
    if (port != ReaderPort || manaMsg == nullptr)
        return SynNoPort;
    try {
        return CardPresent() ? SynOk : SynNoCard;
    } catch (...) {
        return SynInternal;
    }
}

int Syn_ReadMsg(int port, int /*ifOpen*/, unsigned char* record) {
    if (port != ReaderPort || record == nullptr)
        return SynNoPort;
    try {
        return ReadCard(record);
    } catch (...) {
        return SynInternal;
    }
}

} // extern "C"
