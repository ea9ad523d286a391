// The HTTP date parser, and THTTP's time helpers built on it.
#include "HttpDate.h"

#include "AsciiText.h"
#include "WinHttpClass.h"
#include "platform/UserFolders.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

namespace Winhttpclass {
namespace {

// Days from 30 December 1899 (day 0 of a date-time value) to 1 January 1970.
constexpr std::int64_t kUnixEpochDay = 25569;
constexpr std::int64_t kSecondsPerDay = 86400;
// 31 December 9999, 23:59:59: the largest date-time value.
constexpr double kMaxDateTime = 2958465.99999;

using tarvo::ascii::EqualsNoCase;

// Civil date to days since 1 January 1970 (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && IsLeapYear(y)) ? 29 : days[static_cast<std::size_t>(m - 1)];
}

constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<std::string_view, 7> kDays = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
constexpr std::array<std::string_view, 7> kDayNames = {"sunday",   "monday", "tuesday", "wednesday",
                                                       "thursday", "friday", "saturday"};

struct HttpDate {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// A small cursor over a date text.
class DateReader {
public:
    explicit DateReader(std::string_view text) : FText(text) {}

    void SkipSpaces() {
        while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t'))
            ++FPos;
    }
    bool AtEnd() const { return FPos >= FText.size(); }
    bool Take(char c) {
        if (FPos < FText.size() && FText[FPos] == c) {
            ++FPos;
            return true;
        }
        return false;
    }
    std::string_view Word() {
        const std::size_t start = FPos;
        while (FPos < FText.size() && ((FText[FPos] >= 'A' && FText[FPos] <= 'Z') ||
                                       (FText[FPos] >= 'a' && FText[FPos] <= 'z')))
            ++FPos;
        return FText.substr(start, FPos - start);
    }
    // Reads 1..maxDigits decimal digits; sets `digits` to how many were read.
    std::optional<int> Number(std::size_t maxDigits, std::size_t& digits) {
        digits = 0;
        int value = 0;
        while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9') {
            if (++digits > maxDigits)
                return std::nullopt;
            value = value * 10 + (FText[FPos] - '0');
            ++FPos;
        }
        if (digits == 0)
            return std::nullopt;
        return value;
    }
    std::optional<int> Number(std::size_t maxDigits) {
        std::size_t digits = 0;
        return Number(maxDigits, digits);
    }

private:
    std::string_view FText;
    std::size_t FPos = 0;
};

std::optional<int> MonthFromName(std::string_view word) {
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (EqualsNoCase(word, kMonths[i]))
            return static_cast<int>(i) + 1;
    return std::nullopt;
}

bool IsDayName(std::string_view word) {
    for (std::size_t i = 0; i < kDays.size(); ++i)
        if (EqualsNoCase(word, kDays[i]) || EqualsNoCase(word, kDayNames[i]))
            return true;
    return false;
}

bool ReadClock(DateReader& r, HttpDate& d) {
    const auto h = r.Number(2);
    if (!h || !r.Take(':'))
        return false;
    const auto m = r.Number(2);
    if (!m || !r.Take(':'))
        return false;
    const auto s = r.Number(2);
    if (!s)
        return false;
    d.hour = *h;
    d.minute = *m;
    d.second = *s;
    return true;
}

// Two-digit years of the RFC 850 form: 70..99 are 19xx, 00..69 are 20xx.
int FullYear(int year, std::size_t digits) {
    if (digits <= 2)
        return year < 70 ? 2000 + year : 1900 + year;
    return year;
}

// After the clock: nothing, or the zone GMT / UTC / UT, then nothing.
bool ReadZone(DateReader& r) {
    r.SkipSpaces();
    if (r.AtEnd())
        return true;
    const std::string_view zone = r.Word();
    if (!EqualsNoCase(zone, "gmt") && !EqualsNoCase(zone, "utc") && !EqualsNoCase(zone, "ut"))
        return false;
    r.SkipSpaces();
    return r.AtEnd();
}

bool Plausible(const HttpDate& d) {
    return d.year >= 1601 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= DaysInMonth(d.year, d.month) && d.hour <= 23 && d.minute <= 59 &&
           d.second <= 60;
}

// Parses the three HTTP date forms:
//   Tue, 14 Feb 2017 15:53:11 GMT      (RFC 1123; also "14-Feb-2017")
//   Tuesday, 14-Feb-17 15:53:11 GMT    (RFC 850)
//   Tue Feb 14 15:53:11 2017           (asctime)
// The weekday may be missing; the zone may be missing (a cookie's expiry
// text is cut before "GMT").
std::optional<HttpDate> ParseHttpDate(std::string_view text) {
    DateReader r(text);
    HttpDate d;
    r.SkipSpaces();
    std::string_view word = r.Word();
    if (!word.empty()) {
        if (!IsDayName(word))
            return std::nullopt;
        const bool comma = r.Take(',');
        r.SkipSpaces();
        if (!comma) {
            // asctime: month, day, clock, year.
            const auto month = MonthFromName(r.Word());
            if (!month)
                return std::nullopt;
            r.SkipSpaces();
            const auto day = r.Number(2);
            if (!day)
                return std::nullopt;
            r.SkipSpaces();
            if (!ReadClock(r, d))
                return std::nullopt;
            r.SkipSpaces();
            std::size_t digits = 0;
            const auto year = r.Number(4, digits);
            if (!year || digits != 4)
                return std::nullopt;
            r.SkipSpaces();
            if (!r.AtEnd())
                return std::nullopt;
            d.year = *year;
            d.month = *month;
            d.day = *day;
            return Plausible(d) ? std::optional<HttpDate>(d) : std::nullopt;
        }
    }
    // Day, month and year separated by spaces or hyphens.
    const auto day = r.Number(2);
    if (!day)
        return std::nullopt;
    const bool dashed = r.Take('-');
    if (!dashed)
        r.SkipSpaces();
    const auto month = MonthFromName(r.Word());
    if (!month)
        return std::nullopt;
    if (dashed && !r.Take('-'))
        return std::nullopt;
    if (!dashed)
        r.SkipSpaces();
    std::size_t digits = 0;
    const auto year = r.Number(4, digits);
    if (!year || digits == 3)
        return std::nullopt;
    r.SkipSpaces();
    if (!ReadClock(r, d) || !ReadZone(r))
        return std::nullopt;
    d.year = FullYear(*year, digits);
    d.month = *month;
    d.day = *day;
    return Plausible(d) ? std::optional<HttpDate>(d) : std::nullopt;
}

} // namespace

namespace detail {

double HttpDateToBjTime(std::string_view text) {
    if (text.empty())
        return 0;
    const auto date = ParseHttpDate(text);
    if (!date)
        return 0;
    const int second = date->second > 59 ? 59 : date->second; // a leap second
    const std::int64_t seconds = (DaysFromCivil(date->year, static_cast<unsigned>(date->month),
                                                static_cast<unsigned>(date->day)) +
                                  kUnixEpochDay) *
                                     kSecondsPerDay +
                                 date->hour * 3600 + date->minute * 60 + second + 8 * 3600;
    const double value = static_cast<double>(seconds) / static_cast<double>(kSecondsPerDay);
    return value > kMaxDateTime ? kMaxDateTime : value;
}

} // namespace detail

double THTTP::InternetTimeToBjTime(const std::string& text) {
    return detail::HttpDateToBjTime(text);
}

std::string THTTP::GetInternetTimeFromLocal() {
    const auto time = platform::LocalTime(std::time(nullptr));
    if (!time)
        return {};
    const std::tm& local = *time;
    static constexpr std::array<const char*, 7> days = {"Sun", "Mon", "Tue", "Wed",
                                                        "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<char, 64> buffer{};
    const int n = std::snprintf(buffer.data(), buffer.size(), "%s, %02d %s %04d %02d:%02d:%02d GMT",
                                days[static_cast<std::size_t>(local.tm_wday % 7)], local.tm_mday,
                                months[static_cast<std::size_t>(local.tm_mon % 12)],
                                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    if (n <= 0)
        return {};
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

} // namespace Winhttpclass
