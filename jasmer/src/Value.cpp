// TValue: the variant a node holds, and its conversions.
#include "AsciiText.h"
#include "Json.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>

namespace Json {
namespace {

constexpr std::size_t QuotedLimit = 40;

// `text` for an error message: quoted, cut at a character boundary.
std::string Quoted(const std::string& text) {
    std::size_t end = 0;
    while (end < text.size() && end < QuotedLimit) {
        const auto lead = static_cast<unsigned char>(text[end]);
        end += (lead >= 0x81 && lead <= 0xFE && end + 1 < text.size()) ? 2 : 1;
    }
    std::string out = "'" + text.substr(0, end);
    if (end < text.size())
        out += "...";
    return out + "'";
}

std::string_view Trimmed(std::string_view text) {
    return tarvo::ascii::Trim(text);
}

// A decimal integer with optional sign and blanks around it.
std::int64_t ParseInteger(const std::string& text) {
    std::string_view digits = Trimmed(text);
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty())
        throw EConvertError(Quoted(text) + " is not a valid integer value");
    for (char c : digits) {
        if (c < '0' || c > '9')
            throw EConvertError(Quoted(text) + " is not a valid integer value");
    }
    // Parse as unsigned so that the most negative value is reachable.
    std::uint64_t magnitude = 0;
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    constexpr auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (ec != std::errc() || ptr != digits.data() + digits.size() ||
        magnitude > limit + (negative ? 1 : 0))
        throw EConvertError(Quoted(text) + " is out of the integer range");
    if (negative)
        return magnitude == limit + 1 ? std::numeric_limits<std::int64_t>::min()
                                      : -static_cast<std::int64_t>(magnitude);
    return static_cast<std::int64_t>(magnitude);
}

template <typename T> T Narrow(std::int64_t value, const TValue& source) {
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        throw EConvertError(Quoted(source.AsString()) + " is out of the range " +
                            std::to_string(std::numeric_limits<T>::min()) + ".." +
                            std::to_string(std::numeric_limits<T>::max()));
    return static_cast<T>(value);
}

const char* KindName(TValueKind kind) {
    switch (kind) {
    case TValueKind::Null:
        return "null";
    case TValueKind::Bool:
        return "a boolean";
    case TValueKind::Integer:
        return "an integer";
    case TValueKind::Double:
        return "a number";
    case TValueKind::String:
        return "a string";
    case TValueKind::Object:
        return "an object";
    case TValueKind::Array:
        return "an array";
    }
    return "a value";
}

} // namespace

TValue TValue::FromBool(bool value) {
    TValue v;
    v.FKind = TValueKind::Bool;
    v.FData = value;
    return v;
}

TValue TValue::FromInt64(std::int64_t value) {
    TValue v;
    v.FKind = TValueKind::Integer;
    v.FData = value;
    return v;
}

TValue TValue::FromUInt64(std::uint64_t value) {
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return FromInt64(static_cast<std::int64_t>(value));
    TValue v;
    v.FKind = TValueKind::Integer;
    v.FData = value;
    return v;
}

TValue TValue::FromDouble(double value) {
    TValue v;
    v.FKind = TValueKind::Double;
    v.FData = value;
    return v;
}

TValue TValue::FromString(std::string gbk) {
    TValue v;
    v.FKind = TValueKind::String;
    v.FData = std::move(gbk);
    return v;
}

TValue TValue::FromJSONText(TValueKind kind, std::string text) {
    TValue v;
    v.FKind = kind == TValueKind::Array ? TValueKind::Array : TValueKind::Object;
    v.FData = std::move(text);
    return v;
}

std::string TValue::AsString() const {
    switch (FKind) {
    case TValueKind::Null:
        return {};
    case TValueKind::Bool:
        return std::get<bool>(FData) ? "true" : "false";
    case TValueKind::Integer:
        if (const auto* u = std::get_if<std::uint64_t>(&FData))
            return std::to_string(*u);
        return std::to_string(std::get<std::int64_t>(FData));
    case TValueKind::Double:
        return nlohmann::json(std::get<double>(FData)).dump();
    case TValueKind::String:
    case TValueKind::Object:
    case TValueKind::Array:
        return std::get<std::string>(FData);
    }
    return {};
}

std::int64_t TValue::AsInt64() const {
    switch (FKind) {
    case TValueKind::Integer:
        if (std::holds_alternative<std::uint64_t>(FData))
            throw EConvertError(Quoted(AsString()) + " is out of the integer range");
        return std::get<std::int64_t>(FData);
    case TValueKind::Double: {
        const double d = std::get<double>(FData);
        // 2^63 is exact as a double; the range is [-2^63, 2^63).
        constexpr double bound = 9223372036854775808.0;
        if (!std::isfinite(d) || std::trunc(d) != d)
            throw EConvertError(Quoted(AsString()) + " is not a valid integer value");
        if (d < -bound || d >= bound)
            throw EConvertError(Quoted(AsString()) + " is out of the integer range");
        return static_cast<std::int64_t>(d);
    }
    case TValueKind::String:
        return ParseInteger(std::get<std::string>(FData));
    default:
        throw EConvertError(std::string("cannot read ") + KindName(FKind) + " as an integer");
    }
}

int TValue::AsInt() const {
    return Narrow<int>(AsInt64(), *this);
}

std::int16_t TValue::AsInt16() const {
    return Narrow<std::int16_t>(AsInt64(), *this);
}

double TValue::AsDouble() const {
    switch (FKind) {
    case TValueKind::Integer:
        if (const auto* u = std::get_if<std::uint64_t>(&FData))
            return static_cast<double>(*u);
        return static_cast<double>(std::get<std::int64_t>(FData));
    case TValueKind::Double:
        return std::get<double>(FData);
    case TValueKind::String: {
        const std::string& text = std::get<std::string>(FData);
        std::string_view t = Trimmed(text);
        if (!t.empty() && t.front() == '+')
            t.remove_prefix(1);
        double d = 0;
        const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), d);
        if (t.empty() || ec != std::errc() || ptr != t.data() + t.size() || !std::isfinite(d))
            throw EConvertError(Quoted(text) + " is not a valid floating point value");
        return d;
    }
    default:
        throw EConvertError(std::string("cannot read ") + KindName(FKind) + " as a number");
    }
}

bool TValue::AsBool() const {
    if (FKind != TValueKind::Bool)
        throw EConvertError(std::string("cannot read ") + KindName(FKind) + " as a boolean");
    return std::get<bool>(FData);
}

} // namespace Json
