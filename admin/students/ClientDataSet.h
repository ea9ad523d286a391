// The page on screen: a DataSnap XML data packet held as a table whose
// fields are read by name. Qt-free; the grid's model reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A packet that cannot be read, or a field that is not there.
class EDataSetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TClientDataSet {
public:
    struct TField {
        std::string Name; // "attrname"
        std::string
            FieldType; // "fieldtype" as the packet gives it ("string", "i4", "dateTime", ...)
        int Width = 0; // "WIDTH", 0 when not given
    };

    // Replaces the page by the packet (GBK text). When `required` names a
    // field the packet lacks, or the packet is not well-formed or has no
    // ROWDATA, the data set is left closed and EDataSetError is raised. On
    // success the data set is open on its first row.
    void SetXMLData(std::string_view packet, const std::vector<std::string>& required = {});
    void Close();

    bool Active() const;
    int RecordCount() const; // 0 when closed
    // 1-based number of the current row; 0 when closed or empty.
    int RecNo() const;
    void SetRecNo(int recNo); // clamped to the rows there are
    const std::vector<TField>& Fields() const;
    int FieldIndex(std::string_view name) const; // -1 when missing

    // A field of the current row as GBK text: date-time fields as
    // "YYYY-MM-DD HH:MM:SS", absent values as "". Raises EDataSetError for an
    // unknown field or a closed data set.
    std::string FieldAsString(std::string_view name) const;
    // An empty open data set has no current row: both raise as well.
    // A field of the current row as an integer (decimal, optional sign,
    // 32-bit range); raises EDataSetError when it is not one.
    std::int32_t FieldAsInteger(std::string_view name) const;
    // Display text of any cell (0-based row and field index); raises
    // EDataSetError when closed or out of range.
    std::string CellText(int row, int field) const;

private:
    // A value the row carries; cells the row leaves out are not stored.
    struct TCell {
        int Field = 0;
        std::string Text; // display text, GBK
    };

    const std::string& Cell(int row, int field) const;
    int CurrentField(std::string_view name) const;

    bool FActive = false;
    std::vector<TField> FFields;
    // The rows' cells, each row's sorted by field; row r is
    // [FRowStart[r], FRowStart[r + 1]).
    std::vector<TCell> FCells;
    std::vector<std::size_t> FRowStart;
    int FRecNo = 0;
};
