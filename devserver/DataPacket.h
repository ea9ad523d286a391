// Writer of DataSnap XML data packets: the student list's page format.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::devserver {

struct PacketField {
    std::string_view AttrName;
    std::string_view FieldType; // "i4", "string", "dateTime", ...
    int Width;                  // for strings; 0 = none
};

// The columns of a student list page, in order. A reader of these packets
// takes its field names from here.
inline constexpr std::array<PacketField, 6> kStudentPacketFields{{
    {"Id", "i4", 0},
    {"Name", "string", 30},
    {"Account", "string", 11},
    {"verifycode", "string", 10},
    {"RegDate", "dateTime", 0},
    {"DueDate", "dateTime", 0},
}};

// One row: a value (UTF-8) per field, in the fields' order; a missing value
// (null) writes no attribute.
using PacketRow = std::vector<std::optional<std::string>>;

// The packet as GBK text, with the declaration line
// <?xml version="1.0" standalone="yes"?>. Rows with fewer values than
// fields leave the rest null; extra values are ignored.
std::string WriteDataPacket(const std::vector<PacketField>& fields,
                            const std::vector<PacketRow>& rows);

// A dateTime value: YYYYMMDDTHH:MM:SSmmm, local time.
std::string PacketDateTime(long long secondsSinceEpoch);

// The same local date and time one year on (29 February goes to 1 March).
long long OneYearLater(long long secondsSinceEpoch);

} // namespace tarvo::devserver
