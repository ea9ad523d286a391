#include "FuncLib.h"

#include "CodePage.h"
#include "HexDigits.h"
#include "VersionNote.h"
#include "WinHttpClass.h"
#include "platform/ChineseConvert.h"
#include "platform/Clock.h"
#include "platform/DebugChannel.h"
#include "platform/FileOps.h"
#include "platform/Module.h"
#include "platform/Process.h"
#include "platform/RegistryStore.h"
#include "platform/Script.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

namespace Funclib {
namespace {

using Winhttpclass::THTTP;

// Counter of RandGBString: successive calls continue its sequence.
std::atomic<std::uint32_t> gbStringCounter{0};

// Key of StrDec.
constexpr unsigned char kStrDecKey[8] = {0x5A, 0x3C, 0x96, 0xE1, 0x27, 0xB4, 0x4D, 0x8F};

constexpr std::uint32_t kDefaultScriptTimeoutMs = 10000;

bool IsGbkLead(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
    std::string out;
    std::size_t start = 0;
    while (true) {
        const std::size_t found = text.find(what, start);
        if (found == std::string::npos)
            break;
        out.append(text, start, found - start);
        out += with;
        start = found + what.size();
    }
    out.append(text, start, std::string::npos);
    return out;
}

bool IsGbkTrail(unsigned char byte) {
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

// Replaces single-byte characters by `replace`; the two bytes of a GBK
// character are copied as they are (a trail byte may equal "\" or "'"). A
// lead byte without a valid trail byte is a character of its own, so the
// byte after it is still replaced.
template <typename Replace> std::string MapCharacters(const std::string& text, Replace replace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (IsGbkLead(byte) && i + 1 < text.size() &&
            IsGbkTrail(static_cast<unsigned char>(text[i + 1]))) {
            out += text[i];
            out += text[++i];
        } else if (const char* with = replace(text[i])) {
            out += with;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string CString(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

// A seed from the system's entropy source, or from the clock where there is none.
std::uint32_t RandomSeed() {
    try {
        return std::random_device{}();
    } catch (const std::exception&) {
        return static_cast<std::uint32_t>(
            std::chrono::steady_clock::now().time_since_epoch().count());
    }
}

std::uint32_t RandomBelow(std::mt19937& generator, std::uint32_t bound) {
    if (bound <= 1)
        return 0;
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(generator);
}

std::string ConvertChinese(const std::string& text, platform::ChineseDirection direction) {
    const auto converted = platform::ConvertChinese(tarvo::cp::GbkToUtf8(text), direction);
    return converted ? tarvo::cp::Utf8ToGbk(*converted) : std::string();
}

std::uint32_t ScriptTimeoutMs() {
    const char* value = std::getenv("NETVANE_SCRIPT_TIMEOUT_MS");
    if (value == nullptr || *value == '\0')
        return kDefaultScriptTimeoutMs;
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(value, &end, 10);
    if (*end != '\0' || parsed == 0 || parsed > 0x7FFFFFFFul)
        return kDefaultScriptTimeoutMs;
    return static_cast<std::uint32_t>(parsed);
}

} // namespace

// ---- Text ----

std::string GetSubStr(const std::string& text, const std::string& startMark,
                      const std::string& endMark) {
    return THTTP::GetSubStr(text, startMark, endMark);
}

std::string GetSubStrEx(const std::string& text, const std::string& startMark,
                        const std::string& endMark, std::string& rest) {
    return THTTP::GetSubStrEx(text, startMark, endMark, rest);
}

std::int32_t SplitStrArr(const std::string& separator, const std::string& text, TStrArr& out) {
    // GetSubStrEx(work, "", separator, work) on work = text + separator, piece
    // after piece, with offsets in place of the copies of the rest.
    out.clear();
    if (separator.empty()) {
        if (!text.empty())
            out.push_back(text);
        return static_cast<std::int32_t>(out.size());
    }
    const std::string work = text + separator;
    std::size_t from = 0;
    while (true) {
        const std::size_t end = work.find(separator, from);
        if (end == std::string::npos || end == from)
            break; // no separator left, or an empty piece: the split ends
        out.emplace_back(work, from, end - from);
        from = end + separator.size();
    }
    return static_cast<std::int32_t>(out.size());
}

bool StrIsIn(const std::string* items, std::int32_t highIndex, const std::string& text) {
    if (items == nullptr)
        return false;
    for (std::int32_t i = 0; i <= highIndex; ++i) {
        const std::string& item = items[i];
        if (!item.empty() && text.find(item) != std::string::npos)
            return true;
    }
    return false;
}

std::string TrimMultiCRLF(const std::string& text) {
    std::string result = text.rfind("\r\n", 0) == 0 ? text.substr(2) : text;
    while (result.find("\r\n\r\n") != std::string::npos)
        result = ReplaceAll(std::move(result), "\r\n\r\n", "\r\n");
    return result;
}

std::string XmlEntitiesEnc(const std::string& text) {
    return MapCharacters(text, [](char c) -> const char* {
        switch (c) {
        case '"':
            return "&quot;";
        case '&':
            return "&amp;";
        case '\'':
            return "&apos;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        default:
            return nullptr;
        }
    });
}

std::string JavaScriptEscape(const std::string& text) {
    return MapCharacters(text, [](char c) -> const char* {
        switch (c) {
        case '\b':
            return "\\b";
        case '\t':
            return "\\t";
        case '\n':
            return "\\n";
        case '\f':
            return "\\f";
        case '\r':
            return "\\r";
        case '"':
            return "\\\"";
        case '\'':
            return "\\'";
        case '\\':
            return "\\\\";
        default:
            return nullptr;
        }
    });
}

std::string StrDec(const std::string& hexText) {
    std::string result;
    std::size_t k = 0;
    for (std::size_t i = 0; i + 1 < hexText.size(); i += 2) {
        const int high = tarvo::hex::DigitValue(hexText[i]);
        const int low = tarvo::hex::DigitValue(hexText[i + 1]);
        if (high < 0 || low < 0)
            break;
        result += static_cast<char>((high * 16 + low) ^ kStrDecKey[k]);
        k = (k + 1) % 8;
    }
    return result;
}

std::string FloatToStr2(double value, std::int32_t digits) {
    // More than 18 decimals do not fit the 64-bit fraction.
    const int places = digits <= 0 ? 0 : std::min(digits, 18);
    std::int64_t scale = 1;
    for (int i = 0; i < places; ++i)
        scale *= 10;
    if (!(value == value))
        value = 0; // NaN
    // Work on the magnitude so that negative values read "-1.50", not "-1.-50".
    const bool negative = value < 0;
    double magnitude = negative ? -value : value;
    constexpr double kLimit = 9.2233720368547748e18; // 2^63
    if (magnitude >= kLimit)
        magnitude = std::nextafter(kLimit, 0.0);
    const auto whole = static_cast<std::int64_t>(magnitude);
    auto fraction = static_cast<std::int64_t>((magnitude - static_cast<double>(whole)) *
                                              static_cast<double>(scale));
    fraction = std::clamp<std::int64_t>(fraction, 0, scale - 1 > 0 ? scale - 1 : 0);
    std::string fractionText = std::to_string(fraction);
    if (fractionText.size() < static_cast<std::size_t>(places))
        fractionText.insert(0, static_cast<std::size_t>(places) - fractionText.size(), '0');
    const bool zero = whole == 0 && fraction == 0;
    return (negative && !zero ? "-" : "") + std::to_string(whole) + "." + fractionText;
}

std::string GetSizeKMG(std::uint64_t size) {
    if (size < 1024)
        return std::to_string(size) + " B";
    const auto value = static_cast<double>(size);
    if (size < 0x100000ull)
        return FloatToStr2(value / 1024, 2) + " KB";
    if (size < 0x40000000ull)
        return FloatToStr2(value / 1048576, 2) + " MB";
    return FloatToStr2(value / 1073741824, 2) + " GB";
}

std::string MSecondToTimeStr(std::uint32_t ms) {
    const std::uint32_t days = ms / 86400000u;
    std::uint32_t rest = ms % 86400000u;
    const std::uint32_t hours = rest / 3600000u;
    rest %= 3600000u;
    const std::uint32_t minutes = rest / 60000u;
    rest %= 60000u;
    const std::uint32_t seconds = rest / 1000u;
    std::string result;
    const auto part = [&result](std::uint32_t count, std::u8string_view unit) {
        if (count != 0)
            result += std::to_string(count) + Gbk(unit);
    };
    part(days, u8"天");
    part(hours, u8"小时");
    part(minutes, u8"分");
    part(seconds, u8"秒");
    return result;
}

void OutDebug(const std::string& text) {
    Winhttpclass::platform::WriteDebugLine(text);
}

// ---- Chinese text conversion ----

std::string Chs2Cht(const std::string& text) {
    return ConvertChinese(text, platform::ChineseDirection::ToTraditional);
}

std::string Cht2Chs(const std::string& text) {
    return ConvertChinese(text, platform::ChineseDirection::ToSimplified);
}

std::string BIG5Encode(const std::string& text) {
    return THTTP::CodePageEnc(text, Winhttpclass::cpBig5);
}

std::string BIG5Decode(const std::string& text) {
    return THTTP::CodePageDec(text, Winhttpclass::cpBig5);
}

// ---- Random text ----

std::string RandStr(std::uint16_t minLen, std::uint16_t maxLen) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopurstuvwxyz1234567890";
    static_assert(sizeof kAlphabet - 1 == 36);
    const std::uint32_t span = maxLen >= minLen ? std::uint32_t{maxLen} - minLen + 1 : 1;
    const std::uint32_t length = minLen + Winhttpclass::platform::TickCountMs() % span;
    std::string result(length, 'a');
    std::mt19937 generator(RandomSeed());
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint32_t r = RandomBelow(generator, Winhttpclass::platform::TickCountMs());
        char c = kAlphabet[r % 36];
        if ((i == 0 || i + 1 == length) && c >= '0' && c <= '9')
            c = static_cast<char>('a' + r % 26);
        result[i] = c;
    }
    return result;
}

std::string RandGBString(std::int32_t minChars, std::int32_t maxChars) {
    if (maxChars < 1)
        maxChars = 1;
    const auto counter =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::int64_t n = static_cast<std::int64_t>(counter % static_cast<std::uint64_t>(maxChars)) + 1;
    if (n < minChars)
        n = minChars;
    // A text of more characters than this is no use to anyone, and asking for
    // one must not exhaust the memory of the process.
    constexpr std::int64_t kMostChars = 64 * 1024 * 1024;
    if (n > kMostChars)
        return {};
    std::string result;
    try {
        result.reserve(static_cast<std::size_t>(n) * 2);
    } catch (const std::exception&) {
        return {};
    }
    for (std::int64_t i = 0; i < n; ++i) {
        const std::uint32_t v = gbStringCounter.fetch_add(1, std::memory_order_relaxed) + 1;
        result += static_cast<char>(0xB0 + v % 72);
        result += static_cast<char>(0xA1 + v % 94);
    }
    return result;
}

// ---- Time ----

std::uint32_t GetTickCountUSec() {
    return static_cast<std::uint32_t>(Winhttpclass::platform::MonotonicUsec());
}

std::uint32_t DiffTickCount(std::uint32_t oldTick, std::uint32_t newTick) {
    return newTick >= oldTick ? newTick - oldTick : 0xFFFFFFFFu - oldTick + newTick;
}

// ---- Files and modules ----

std::uint16_t GetFileVersion(const std::string& path) {
    try {
        if (const auto version = tarvo::ReadVersionNote(path))
            return (*version)[0];
    } catch (const std::exception&) {
    }
    return 0;
}

std::uint64_t GetFileSize(const std::string& path) {
    try {
        return platform::FirstMatchSize(path).value_or(0);
    } catch (const std::exception&) {
        return 0;
    }
}

std::string GetModulePath(std::uint32_t module, const char* moduleName) {
    if (module != 0)
        return {}; // handles of this platform do not fit 32 bits
    try {
        const std::string path = moduleName == nullptr ? platform::ProgramPath()
                                                       : platform::LoadedModulePath(moduleName);
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    } catch (const std::exception&) {
        return {};
    }
}

bool CopyFileAndDir(const std::string& from, const std::string& to) {
    try {
        return platform::CopyTree(from, to);
    } catch (const std::exception&) {
        return false;
    }
}

bool DelFileAndDir(const std::string& path) {
    try {
        return platform::DeleteTree(path);
    } catch (const std::exception&) {
        return false;
    }
}

// ---- Value store ----

std::string RegReadStr(std::uint32_t root, const char* subKey, const char* valueName) {
    constexpr std::size_t kBufferSize = 260;
    try {
        const auto value = platform::ReadStoredValue(root, CString(subKey), CString(valueName));
        const auto* text = value ? std::get_if<std::string>(&*value) : nullptr;
        if (text == nullptr || text->size() > kBufferSize)
            return {};
        return text->substr(0, text->find('\0'));
    } catch (const std::exception&) {
        return {};
    }
}

std::int32_t RegReadInt(std::uint32_t root, const char* subKey, const char* valueName) {
    try {
        const auto value = platform::ReadStoredValue(root, CString(subKey), CString(valueName));
        const auto* number = value ? std::get_if<std::int32_t>(&*value) : nullptr;
        return number != nullptr ? *number : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

bool RegWriteStr(std::uint32_t root, const char* subKey, const char* valueName, const char* value) {
    try {
        return platform::WriteStoredValue(root, CString(subKey), CString(valueName),
                                          CString(value));
    } catch (const std::exception&) {
        return false;
    }
}

bool RegWriteInt(std::uint32_t root, const char* subKey, const char* valueName,
                 std::int32_t value) {
    try {
        return platform::WriteStoredValue(root, CString(subKey), CString(valueName), value);
    } catch (const std::exception&) {
        return false;
    }
}

bool RegDelValue(std::uint32_t root, const char* subKey, const char* valueName) {
    try {
        return platform::DeleteStoredValue(root, CString(subKey), CString(valueName));
    } catch (const std::exception&) {
        return false;
    }
}

// ---- Processes, privileges, desktops, input, scripts ----

std::uint32_t WaitForExec(const std::string& commandLine, std::uint32_t timeoutMs,
                          std::uint32_t /*showMode: no windows to show here*/) {
    try {
        const auto argv = platform::SplitCommandLine(commandLine);
        return argv ? platform::StartAndWait(*argv, timeoutMs) : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

bool SetPrivilege(const char* /*privilegeName*/) {
    return false;
}

bool SelectDesktop(const char* /*desktopName*/) {
    return false;
}

bool InputDesktopSelected() {
    return false;
}

void MousePosClick(std::int32_t /*x*/, std::int32_t /*y*/) {}

std::string RunJavaScript(const std::string& script, const std::string& expression) {
    try {
        const auto result = platform::EvaluateScript(
            tarvo::cp::GbkToUtf8(script), tarvo::cp::GbkToUtf8(expression), ScriptTimeoutMs());
        if (result.ok)
            return tarvo::cp::Utf8ToGbk(result.text);
        OutDebug("RunJavaScript " + tarvo::cp::Utf8ToGbk(result.text));
    } catch (const std::exception& error) {
        OutDebug(std::string("RunJavaScript ") + error.what());
    }
    return {};
}

} // namespace Funclib
