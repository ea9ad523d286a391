#include "ClientDataSet.h"

#include <CodePage.h>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <pugixml.hpp>
#include <unordered_map>
#include <utility>

namespace {

using TField = TClientDataSet::TField;

[[noreturn]] void Fail(const std::string& message) {
    throw EDataSetError(message);
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// How a field's values are shown.
enum class TKind { Text, DateTime, Date, Time };

TKind KindOf(std::string_view fieldType) {
    if (fieldType == "dateTime" || fieldType == "SQLdateTime") {
        return TKind::DateTime;
    }
    if (fieldType == "date") {
        return TKind::Date;
    }
    if (fieldType == "time") {
        return TKind::Time;
    }
    return TKind::Text;
}

// Reads `count` decimal digits at `pos`; -1 when they are not all digits.
int Digits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos + count > text.size()) {
        return -1;
    }
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (!IsDigit(text[i])) {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// "YYYYMMDD" as "YYYY-MM-DD".
std::optional<std::string> PacketDate(std::string_view text) {
    const int year = Digits(text, 0, 4);
    const int month = Digits(text, 4, 2);
    const int day = Digits(text, 6, 2);
    if (text.size() != 8 || year < 1 || month < 1 || month > 12 || day < 1) {
        return std::nullopt;
    }
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int last = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    if (day > last) {
        return std::nullopt;
    }
    std::string out(text.substr(0, 4));
    out += '-';
    out += text.substr(4, 2);
    out += '-';
    out += text.substr(6, 2);
    return out;
}

// "HH:MM:SS" followed by up to three digits of milliseconds, which are not
// shown, as "HH:MM:SS".
std::optional<std::string> PacketTime(std::string_view text) {
    if (text.size() < 8 || text.size() > 11 || text[2] != ':' || text[5] != ':') {
        return std::nullopt;
    }
    const int hour = Digits(text, 0, 2);
    const int minute = Digits(text, 3, 2);
    const int second = Digits(text, 6, 2);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        !std::all_of(text.begin() + 8, text.end(), IsDigit)) {
        return std::nullopt;
    }
    return std::string(text.substr(0, 8));
}

// A value as the grid shows it; nullopt when a date or time value is not in
// the packet's form ("YYYYMMDDTHH:MM:SSmmm", "YYYYMMDD", "HH:MM:SSmmm").
std::optional<std::string> DisplayText(TKind kind, std::string_view value) {
    if (value.empty()) {
        return std::string();
    }
    switch (kind) {
    case TKind::Text:
        return std::string(value);
    case TKind::Date:
        return PacketDate(value);
    case TKind::Time:
        return PacketTime(value);
    case TKind::DateTime: {
        if (value.size() < 9 || value[8] != 'T') {
            return std::nullopt;
        }
        auto date = PacketDate(value.substr(0, 8));
        const auto time = PacketTime(value.substr(9));
        if (!date || !time) {
            return std::nullopt;
        }
        *date += ' ';
        *date += *time;
        return date;
    }
    }
    return std::nullopt;
}

// The one child element `name` of `parent`.
pugi::xml_node OnlyChild(pugi::xml_node parent, const char* name) {
    const pugi::xml_node first = parent.child(name);
    if (!first) {
        Fail(std::string("The data packet has no ") + name);
    }
    if (first.next_sibling(name)) {
        Fail(std::string("The data packet has more than one ") + name);
    }
    return first;
}

// The packet's fields and rows while it is read: names and values in UTF-8
// until ToGbk turns them into the system's text.
struct TPage {
    std::vector<TField> Fields;
    std::vector<TKind> Kinds;
    std::vector<std::pair<int, std::string>> Cells; // (field, text), each row's sorted by field
    std::vector<std::size_t> RowStart{0};
};

void ReadFields(pugi::xml_node fieldList, TPage& page) {
    for (pugi::xml_node node = fieldList.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element) {
            continue;
        }
        if (std::strcmp(node.name(), "FIELD") != 0) {
            Fail("The data packet's FIELDS holds an element other than FIELD");
        }
        TField field;
        bool hasName = false;
        bool hasType = false;
        bool hasWidth = false;
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view attr = a.name();
            bool* seen = attr == "attrname"    ? &hasName
                         : attr == "fieldtype" ? &hasType
                         : attr == "WIDTH"     ? &hasWidth
                                               : nullptr;
            if (seen == nullptr) {
                continue; // SUBTYPE, required, DECIMALS and the like: not used here
            }
            if (*seen) {
                Fail("A FIELD of the data packet gives " + std::string(attr) + " twice");
            }
            *seen = true;
            const std::string_view value = a.value();
            if (attr == "attrname") {
                field.Name = value;
            } else if (attr == "fieldtype") {
                field.FieldType = value;
            } else {
                const auto [end, ec] =
                    std::from_chars(value.data(), value.data() + value.size(), field.Width);
                if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
                    field.Width < 0) {
                    Fail("A FIELD of the data packet has a WIDTH that is not a number");
                }
            }
        }
        if (field.Name.empty()) {
            Fail("A FIELD of the data packet has no attrname");
        }
        if (field.FieldType.empty()) {
            Fail("Field '" + tarvo::cp::Utf8ToGbk(field.Name) + "' of the data packet has no " +
                 "fieldtype");
        }
        if (field.FieldType == "nested") {
            Fail("Field '" + tarvo::cp::Utf8ToGbk(field.Name) +
                 "' is a nested data set, which is not supported");
        }
        page.Kinds.push_back(KindOf(field.FieldType));
        page.Fields.push_back(std::move(field));
    }
    if (page.Fields.empty()) {
        Fail("The data packet defines no fields");
    }
}

void ReadRows(pugi::xml_node rowData, TPage& page) {
    const int fieldCount = static_cast<int>(page.Fields.size());
    std::unordered_map<std::string_view, int> byName;
    for (int f = 0; f < fieldCount; ++f) {
        const std::string& name = page.Fields[static_cast<std::size_t>(f)].Name;
        if (!byName.emplace(name, f).second) {
            Fail("The data packet defines field '" + tarvo::cp::Utf8ToGbk(name) + "' twice");
        }
    }
    std::vector<std::size_t> seenInRow(page.Fields.size(), 0); // 1-based row number
    std::size_t row = 0;
    for (pugi::xml_node node = rowData.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element) {
            continue;
        }
        if (std::strcmp(node.name(), "ROW") != 0) {
            Fail("The data packet's ROWDATA holds an element other than ROW");
        }
        if (row == INT_MAX - 1) {
            Fail("The data packet holds too many rows");
        }
        ++row;
        const std::size_t first = page.Cells.size();
        int expected = 0; // rows usually give their values in field order
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            const char* name = a.name();
            int f = -1;
            if (expected < fieldCount &&
                page.Fields[static_cast<std::size_t>(expected)].Name == name) {
                f = expected;
            } else if (const auto it = byName.find(name); it != byName.end()) {
                f = it->second;
            } else {
                Fail("Record " + std::to_string(row) + " of the data packet has a value for '" +
                     tarvo::cp::Utf8ToGbk(name) + "', which is no field");
            }
            const auto fi = static_cast<std::size_t>(f);
            if (seenInRow[fi] == row) {
                Fail("Record " + std::to_string(row) + " of the data packet gives '" +
                     tarvo::cp::Utf8ToGbk(name) + "' twice");
            }
            seenInRow[fi] = row;
            expected = f + 1;
            auto text = DisplayText(page.Kinds[fi], a.value());
            if (!text) {
                Fail("Record " + std::to_string(row) + " of the data packet has no valid " +
                     page.Fields[fi].FieldType + " value in field '" +
                     tarvo::cp::Utf8ToGbk(page.Fields[fi].Name) + "'");
            }
            page.Cells.emplace_back(f, std::move(*text));
        }
        const auto byField = [](const auto& a, const auto& b) { return a.first < b.first; };
        const auto begin = page.Cells.begin() + static_cast<std::ptrdiff_t>(first);
        if (!std::is_sorted(begin, page.Cells.end(), byField)) {
            std::sort(begin, page.Cells.end(), byField);
        }
        page.RowStart.push_back(page.Cells.size());
    }
}

// Turns every name and value that is not plain ASCII from UTF-8 into GBK in
// one conversion: the texts are joined by zero bytes, which neither form uses
// otherwise (the parser ends its texts at zero, and GBK trail bytes are never
// zero).
void ToGbk(TPage& page) {
    std::vector<std::string*> texts;
    for (TField& field : page.Fields) {
        texts.push_back(&field.Name);
        texts.push_back(&field.FieldType);
    }
    for (auto& cell : page.Cells) {
        texts.push_back(&cell.second);
    }
    std::erase_if(texts, [](const std::string* text) { return IsAscii(*text); });
    if (texts.empty()) {
        return;
    }
    std::string joined;
    for (const std::string* text : texts) {
        joined += *text;
        joined += '\0';
    }
    const std::string gbk = tarvo::cp::Utf8ToGbk(joined);
    std::size_t pos = 0;
    for (std::string* text : texts) {
        const std::size_t end = gbk.find('\0', pos);
        if (end == std::string::npos) {
            Fail("The data packet's texts could not be converted to GBK");
        }
        text->assign(gbk, pos, end - pos);
        pos = end + 1;
    }
}

} // namespace

void TClientDataSet::SetXMLData(std::string_view packet, const std::vector<std::string>& required) {
    Close();
    if (packet.find('\0') != std::string_view::npos) {
        Fail("The data packet holds a zero byte");
    }
    // Parsed as UTF-8 so that character references and the packet's own
    // characters come back in the same form.
    std::string text = IsAscii(packet) ? std::string(packet) : tarvo::cp::GbkToUtf8(packet);
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer_inplace(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        Fail(std::string("The data packet is not well-formed XML: ") + parsed.description());
    }
    pugi::xml_node root;
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element) {
            if (root) {
                Fail("The data packet has more than one document element");
            }
            root = node;
        }
    }
    if (!root || std::strcmp(root.name(), "DATAPACKET") != 0) {
        Fail("The data packet has no DATAPACKET");
    }
    const pugi::xml_node metadata = OnlyChild(root, "METADATA");
    const pugi::xml_node fieldList = OnlyChild(metadata, "FIELDS");
    const pugi::xml_node rowData = OnlyChild(root, "ROWDATA");

    TPage page;
    ReadFields(fieldList, page);
    ReadRows(rowData, page);
    ToGbk(page);
    for (const std::string& name : required) {
        if (std::none_of(page.Fields.begin(), page.Fields.end(),
                         [&](const TField& field) { return field.Name == name; })) {
            Fail("The data packet has no field '" + name + "'");
        }
    }

    FCells.reserve(page.Cells.size());
    for (auto& [field, value] : page.Cells) {
        FCells.push_back(TCell{field, std::move(value)});
    }
    FFields = std::move(page.Fields);
    FRowStart = std::move(page.RowStart);
    FRecNo = FRowStart.size() > 1 ? 1 : 0;
    FActive = true;
}

void TClientDataSet::Close() {
    FActive = false;
    FFields.clear();
    FCells.clear();
    FRowStart.clear();
    FRecNo = 0;
}

bool TClientDataSet::Active() const {
    return FActive;
}

int TClientDataSet::RecordCount() const {
    return FActive ? static_cast<int>(FRowStart.size() - 1) : 0;
}

int TClientDataSet::RecNo() const {
    return FRecNo;
}

void TClientDataSet::SetRecNo(int recNo) {
    const int count = RecordCount();
    if (count > 0) {
        FRecNo = std::clamp(recNo, 1, count);
    }
}

const std::vector<TClientDataSet::TField>& TClientDataSet::Fields() const {
    return FFields;
}

int TClientDataSet::FieldIndex(std::string_view name) const {
    for (std::size_t i = 0; i < FFields.size(); ++i) {
        if (FFields[i].Name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const std::string& TClientDataSet::Cell(int row, int field) const {
    static const std::string kAbsent;
    const auto r = static_cast<std::size_t>(row);
    const auto begin = FCells.begin() + static_cast<std::ptrdiff_t>(FRowStart[r]);
    const auto end = FCells.begin() + static_cast<std::ptrdiff_t>(FRowStart[r + 1]);
    const auto it = std::lower_bound(begin, end, field,
                                     [](const TCell& cell, int f) { return cell.Field < f; });
    return it != end && it->Field == field ? it->Text : kAbsent;
}

int TClientDataSet::CurrentField(std::string_view name) const {
    if (!FActive) {
        Fail("The data set is closed");
    }
    const int field = FieldIndex(name);
    if (field < 0) {
        Fail("Field '" + std::string(name) + "' not found");
    }
    if (FRecNo == 0) {
        Fail("The data set has no current record");
    }
    return field;
}

std::string TClientDataSet::FieldAsString(std::string_view name) const {
    return Cell(FRecNo - 1, CurrentField(name));
}

std::int32_t TClientDataSet::FieldAsInteger(std::string_view name) const {
    const int field = CurrentField(name);
    // An optional sign and at least one decimal digit, nothing else.
    std::string_view number = Cell(FRecNo - 1, field);
    std::string_view digits = number;
    if (!number.empty() && number.front() == '+') {
        number.remove_prefix(1); // from_chars takes '-' only
        digits = number;
    } else if (!number.empty() && number.front() == '-') {
        digits = number.substr(1);
    }
    std::int32_t value = 0;
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit) ||
        std::from_chars(number.data(), number.data() + number.size(), value).ec != std::errc()) {
        Fail("Field '" + std::string(name) + "' does not hold a valid integer value");
    }
    return value;
}

std::string TClientDataSet::CellText(int row, int field) const {
    if (!FActive) {
        Fail("The data set is closed");
    }
    if (row < 0 || row >= RecordCount() || field < 0 || field >= static_cast<int>(FFields.size())) {
        Fail("Cell " + std::to_string(row) + ", " + std::to_string(field) +
             " is outside the data set");
    }
    return Cell(row, field);
}
