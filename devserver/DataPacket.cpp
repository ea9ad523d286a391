#include "DataPacket.h"

#include <CodePage.h>
#include <cstdio>
#include <ctime>
#include <pugixml.hpp>
#include <sstream>

namespace tarvo::devserver {

namespace {

std::string Str(std::string_view view) {
    return std::string(view);
}

// Characters XML 1.0 does not allow at all; they would make the packet
// unreadable, so they are dropped from values.
std::string XmlSafe(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') {
            continue;
        }
        out.push_back(c);
    }
    return out;
}

} // namespace

std::string WriteDataPacket(const std::vector<PacketField>& fields,
                            const std::vector<PacketRow>& rows) {
    pugi::xml_document doc;
    auto packet = doc.append_child("DATAPACKET");
    packet.append_attribute("Version") = "2.0";
    auto metadata = packet.append_child("METADATA");
    auto fieldList = metadata.append_child("FIELDS");
    for (const auto& field : fields) {
        auto node = fieldList.append_child("FIELD");
        node.append_attribute("attrname") = Str(field.AttrName).c_str();
        node.append_attribute("fieldtype") = Str(field.FieldType).c_str();
        if (field.Width > 0) {
            node.append_attribute("WIDTH") = field.Width;
        }
    }
    metadata.append_child("PARAMS");
    auto rowData = packet.append_child("ROWDATA");
    for (const auto& row : rows) {
        auto node = rowData.append_child("ROW");
        for (std::size_t i = 0; i < fields.size() && i < row.size(); ++i) {
            if (row[i]) {
                node.append_attribute(Str(fields[i].AttrName).c_str()) = XmlSafe(*row[i]).c_str();
            }
        }
    }
    std::ostringstream out;
    out << "<?xml version=\"1.0\" standalone=\"yes\"?>";
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return cp::Utf8ToGbk(out.str());
}

std::string PacketDateTime(long long secondsSinceEpoch) {
    const auto when = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    localtime_r(&when, &local);
    char text[80];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d:%02d:%02d000", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

long long OneYearLater(long long secondsSinceEpoch) {
    const auto when = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    localtime_r(&when, &local);
    local.tm_year += 1;
    local.tm_isdst = -1;
    return static_cast<long long>(std::mktime(&local));
}

} // namespace tarvo::devserver
