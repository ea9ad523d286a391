#include "ClientDataSet.h"
#include "CodePage.h"
#include "DataPacket.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using tarvo::devserver::kStudentPacketFields;
using tarvo::devserver::PacketField;
using tarvo::devserver::PacketRow;
using tarvo::devserver::WriteDataPacket;

namespace {

const std::vector<std::string> kStudentFields{"Id",         "Name",    "Account",
                                              "verifycode", "RegDate", "DueDate"};

std::string U8(std::u8string_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// Row i of a server page: names in Chinese, dates in the writer's form.
PacketRow StudentRow(int i) {
    return {std::to_string(1000 + i),
            U8(u8"学员") + std::to_string(i),
            "1380000" + std::to_string(1000 + i),
            "v" + std::to_string(i),
            "20240229T08:05:" + std::to_string(10 + i % 50) + "000",
            "20250301T23:59:59999"};
}

std::string StudentPage(int rows) {
    std::vector<PacketRow> data;
    for (int i = 1; i <= rows; ++i) {
        data.push_back(StudentRow(i));
    }
    return WriteDataPacket({kStudentPacketFields.begin(), kStudentPacketFields.end()}, data);
}

// A packet with one field of the given type and one row holding `value`.
std::string OneValue(std::string_view fieldType, std::string value) {
    return WriteDataPacket({PacketField{"F", fieldType, 0}}, {PacketRow{std::move(value)}});
}

// The packet's frame around hand-written FIELD and ROW elements.
std::string Packet(std::string_view fields, std::string_view rows) {
    return "<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><METADATA>"
           "<FIELDS>" +
           std::string(fields) + "</FIELDS><PARAMS/></METADATA><ROWDATA>" + std::string(rows) +
           "</ROWDATA></DATAPACKET>";
}

void ExpectClosed(const TClientDataSet& ds) {
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_TRUE(ds.Fields().empty());
    EXPECT_THROW(ds.FieldAsString("Name"), EDataSetError);
    EXPECT_THROW(ds.CellText(0, 0), EDataSetError);
}

} // namespace

TEST(DataSet, ReadsTheServersPages) {
    for (const int rows : {30, 7, 1, 0}) {
        SCOPED_TRACE(rows);
        TClientDataSet ds;
        ds.SetXMLData(StudentPage(rows), kStudentFields);
        ASSERT_TRUE(ds.Active());
        EXPECT_EQ(ds.RecordCount(), rows);
        EXPECT_EQ(ds.RecNo(), rows > 0 ? 1 : 0);
        ASSERT_EQ(ds.Fields().size(), kStudentPacketFields.size());
        for (std::size_t f = 0; f < kStudentPacketFields.size(); ++f) {
            EXPECT_EQ(ds.Fields()[f].Name, kStudentPacketFields[f].AttrName);
            EXPECT_EQ(ds.Fields()[f].FieldType, kStudentPacketFields[f].FieldType);
            EXPECT_EQ(ds.Fields()[f].Width, kStudentPacketFields[f].Width);
            EXPECT_EQ(ds.FieldIndex(kStudentFields[f]), static_cast<int>(f));
        }
        for (int i = 1; i <= rows; ++i) {
            ds.SetRecNo(i);
            ASSERT_EQ(ds.RecNo(), i);
            EXPECT_EQ(ds.FieldAsInteger("Id"), 1000 + i);
            EXPECT_EQ(ds.FieldAsString("Id"), std::to_string(1000 + i));
            EXPECT_EQ(ds.FieldAsString("Name"), Gbk(u8"学员") + std::to_string(i));
            EXPECT_EQ(ds.FieldAsString("Account"), "1380000" + std::to_string(1000 + i));
            EXPECT_EQ(ds.FieldAsString("verifycode"), "v" + std::to_string(i));
            EXPECT_EQ(ds.FieldAsString("RegDate"),
                      "2024-02-29 08:05:" + std::to_string(10 + i % 50));
            EXPECT_EQ(ds.FieldAsString("DueDate"), "2025-03-01 23:59:59");
            EXPECT_EQ(ds.CellText(i - 1, 1), ds.FieldAsString("Name"));
        }
    }
}

TEST(DataSet, ShowsTheWritersOwnDateTimes) {
    const long long when = 1700000000;
    const std::string reg = tarvo::devserver::PacketDateTime(when);
    const std::string due = tarvo::devserver::PacketDateTime(tarvo::devserver::OneYearLater(when));
    TClientDataSet ds;
    ds.SetXMLData(WriteDataPacket({kStudentPacketFields.begin(), kStudentPacketFields.end()},
                                  {PacketRow{"1", "a", "b", "c", reg, due}}));
    const auto shown = [](const std::string& v) {
        return v.substr(0, 4) + "-" + v.substr(4, 2) + "-" + v.substr(6, 2) + " " + v.substr(9, 8);
    };
    EXPECT_EQ(ds.FieldAsString("RegDate"), shown(reg));
    EXPECT_EQ(ds.FieldAsString("DueDate"), shown(due));
}

TEST(DataSet, RecNoStaysWithinTheRows) {
    TClientDataSet ds;
    ds.SetRecNo(3); // closed: nothing to move to
    EXPECT_EQ(ds.RecNo(), 0);
    ds.SetXMLData(StudentPage(5));
    ds.SetRecNo(0);
    EXPECT_EQ(ds.RecNo(), 1);
    ds.SetRecNo(99);
    EXPECT_EQ(ds.RecNo(), 5);
    EXPECT_EQ(ds.FieldAsInteger("Id"), 1005);
    ds.SetRecNo(-7);
    EXPECT_EQ(ds.RecNo(), 1);
    ds.SetXMLData(StudentPage(0));
    ds.SetRecNo(1);
    EXPECT_EQ(ds.RecNo(), 0);
}

TEST(DataSet, ANewPacketReplacesThePage) {
    TClientDataSet ds;
    ds.SetXMLData(StudentPage(30));
    ds.SetRecNo(30);
    ds.SetXMLData(WriteDataPacket({kStudentPacketFields.begin(), kStudentPacketFields.end()},
                                  {StudentRow(40), StudentRow(41)}));
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_EQ(ds.FieldAsInteger("Id"), 1040);
    EXPECT_EQ(ds.CellText(1, 0), "1041");
    EXPECT_THROW(ds.CellText(2, 0), EDataSetError);
}

TEST(DataSet, ShowsEveryFieldTypeAsText) {
    struct Case {
        const char* type;
        std::string value;
        std::string shown;
    };
    const Case cases[] = {
        {"string", "abc  def ", "abc  def "},
        {"string.uni", U8(u8"张三"), Gbk(u8"张三")},
        {"i1", "-128", "-128"},
        {"i2", "32767", "32767"},
        {"i4", "-2147483648", "-2147483648"},
        {"i8", "9223372036854775807", "9223372036854775807"},
        {"ui4", "4294967295", "4294967295"},
        {"r8", "3.25", "3.25"},
        {"r8", "1.5E-10", "1.5E-10"},
        {"fixed", "12.34", "12.34"},
        {"boolean", "TRUE", "TRUE"},
        {"boolean", "FALSE", "FALSE"},
        {"bin.hex", "QUJD", "QUJD"},
        {"dateTime", "20240229T08:05:09000", "2024-02-29 08:05:09"},
        {"dateTime", "20001231T23:59:59", "2000-12-31 23:59:59"},
        {"dateTime", "19991231T00:00:005", "1999-12-31 00:00:00"},
        {"SQLdateTime", "20240101T12:00:00000", "2024-01-01 12:00:00"},
        {"date", "20240229", "2024-02-29"},
        {"date", "00010101", "0001-01-01"},
        {"time", "23:59:58999", "23:59:58"},
        {"time", "07:00:00", "07:00:00"},
        {"dateTime", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.value);
        TClientDataSet ds;
        ds.SetXMLData(OneValue(c.type, c.value));
        EXPECT_EQ(ds.Fields()[0].FieldType, c.type);
        EXPECT_EQ(ds.FieldAsString("F"), c.shown);
        EXPECT_EQ(ds.CellText(0, 0), c.shown);
    }
}

TEST(DataSet, RefusesDateTimesNotInThePacketForm) {
    struct Case {
        const char* type;
        const char* value;
    };
    const Case cases[] = {
        {"dateTime", "2024-02-29 08:05:09"},
        {"dateTime", "20240229"},
        {"dateTime", "20240229T8:05:09000"},
        {"dateTime", "20240230T08:05:09000"},
        {"dateTime", "20230229T08:05:09000"},
        {"dateTime", "21000229T08:05:09000"},
        {"dateTime", "20241301T08:05:09000"},
        {"dateTime", "20240100T08:05:09000"},
        {"dateTime", "00000101T08:05:09000"},
        {"dateTime", "20240101T24:00:00000"},
        {"dateTime", "20240101T10:60:00000"},
        {"dateTime", "20240101T10:00:60000"},
        {"dateTime", "20240101T10:00:001234"},
        {"dateTime", "20240101T10:00:00.00"},
        {"dateTime", "20240101 10:00:00000"},
        {"SQLdateTime", "yesterday"},
        {"date", "2024011"},
        {"date", "202401011"},
        {"date", "2024-1-1"},
        {"time", "7:00:00"},
        {"time", "07:00"},
        {"time", "07-00-00"},
        {"time", "07:00:00 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.value);
        TClientDataSet ds;
        try {
            ds.SetXMLData(OneValue(c.type, c.value));
            ADD_FAILURE() << "loaded";
        } catch (const EDataSetError& e) {
            EXPECT_NE(std::string(e.what()).find("no valid " + std::string(c.type) +
                                                 " value in field 'F'"),
                      std::string::npos)
                << e.what();
        }
        ExpectClosed(ds);
    }
}

TEST(DataSet, ExpandsEntitiesAndCharacterReferencesIntoGbk) {
    // &#x59D3;&#x540D; is 姓名; the rows name the fields in raw GBK.
    TClientDataSet ds;
    const std::string packet = Packet(
        "<FIELD attrname=\"&#x59D3;&#x540D;\" fieldtype=\"string\" WIDTH=\"40\"/>"
        "<FIELD attrname=\"" +
            Gbk(u8"备注") + "\" fieldtype=\"string\"/>",
        "<ROW " + Gbk(u8"姓名") + "=\"A&amp;B &lt;&gt;&quot;&apos; &#20013;&#x4E2D;" + Gbk(u8"中") +
            "\" " + Gbk(u8"备注") + "=\"&#x1F600;|&#8364;|&#x4E57;|a&#10;b\"/>");
    ds.SetXMLData(packet, {Gbk(u8"姓名"), Gbk(u8"备注")});
    ASSERT_EQ(ds.Fields().size(), 2U);
    EXPECT_EQ(ds.Fields()[0].Name, Gbk(u8"姓名"));
    EXPECT_EQ(ds.Fields()[0].Width, 40);
    EXPECT_EQ(ds.FieldAsString(Gbk(u8"姓名")), "A&B <>\"' " + Gbk(u8"中中中"));
    // No GBK form: '?'. The euro sign and 乗 (trail byte '\') have one.
    EXPECT_EQ(ds.FieldAsString(Gbk(u8"备注")), "?|\x80|\x81\x5C|a\nb");
}

TEST(DataSet, KeepsGbkNamesAndValues) {
    const std::string id = U8(u8"学号");
    const std::string name = U8(u8"姓名");
    const std::vector<PacketField> fields{{id, "i4", 0}, {name, "string", 20}};
    const std::vector<PacketRow> rows{{"7", U8(u8"欧阳·乗€ 张")}, {"8", "plain"}};
    TClientDataSet ds;
    ds.SetXMLData(WriteDataPacket(fields, rows), {Gbk(u8"学号"), Gbk(u8"姓名")});
    EXPECT_EQ(ds.Fields()[0].Name, Gbk(u8"学号"));
    EXPECT_EQ(ds.Fields()[1].Name, Gbk(u8"姓名"));
    EXPECT_EQ(ds.FieldIndex(Gbk(u8"姓名")), 1);
    EXPECT_EQ(ds.FieldIndex(U8(u8"姓名")), -1); // UTF-8 is not the system's text
    EXPECT_EQ(ds.FieldAsInteger(Gbk(u8"学号")), 7);
    EXPECT_EQ(ds.FieldAsString(Gbk(u8"姓名")), Gbk(u8"欧阳·乗€ 张"));
    EXPECT_EQ(ds.CellText(1, 1), "plain");

    // Bytes that are no GBK become '?', the rest of the value stays.
    ds.SetXMLData(Packet("<FIELD attrname=\"F\" fieldtype=\"string\"/>", "<ROW F=\"a\xFF"
                                                                         "b" +
                                                                             Gbk(u8"中") + "\"/>"));
    EXPECT_EQ(ds.FieldAsString("F"), "a?b" + Gbk(u8"中"));
}

TEST(DataSet, AbsentValuesReadAsEmptyText) {
    TClientDataSet ds;
    ds.SetXMLData(WriteDataPacket({kStudentPacketFields.begin(), kStudentPacketFields.end()},
                                  {PacketRow{"5"}, PacketRow{std::nullopt, "", std::nullopt, "x"}}),
                  kStudentFields);
    ASSERT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.FieldAsInteger("Id"), 5);
    for (const auto& name : {"Name", "Account", "verifycode", "RegDate", "DueDate"}) {
        EXPECT_EQ(ds.FieldAsString(name), "") << name;
    }
    ds.SetRecNo(2);
    EXPECT_EQ(ds.FieldAsString("Id"), "");
    EXPECT_THROW(ds.FieldAsInteger("Id"), EDataSetError);
    EXPECT_EQ(ds.FieldAsString("Name"), "");
    EXPECT_EQ(ds.FieldAsString("verifycode"), "x");
    EXPECT_EQ(ds.CellText(1, 5), "");
}

TEST(DataSet, ReadsValuesGivenInAnyOrder) {
    TClientDataSet ds;
    ds.SetXMLData(Packet("<FIELD attrname=\"Id\" fieldtype=\"i4\"/>"
                         "<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"30\" "
                         "required=\"true\"/>"
                         "<FIELD attrname=\"Memo\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>",
                         "<ROW Memo=\"m1\" Id=\"1\" Name=\"n1\"/>\n"
                         "<!-- between rows -->\n"
                         "<ROW Name=\"n2\" Memo=\"m2\"/>"));
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.CellText(0, 0), "1");
    EXPECT_EQ(ds.CellText(0, 1), "n1");
    EXPECT_EQ(ds.CellText(0, 2), "m1");
    EXPECT_EQ(ds.CellText(1, 0), "");
    EXPECT_EQ(ds.CellText(1, 1), "n2");
    EXPECT_EQ(ds.CellText(1, 2), "m2");
}

TEST(DataSet, FieldAsIntegerTakesDecimal32BitValuesOnly) {
    struct Case {
        std::string text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"-0", 0},
        {"+17", 17},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"-+1", std::nullopt},
        {"--1", std::nullopt},
        {" 12", std::nullopt},
        {"12 ", std::nullopt},
        {"12a", std::nullopt},
        {"0x10", std::nullopt},
        {"$10", std::nullopt},
        {"1e3", std::nullopt},
        {"1.0", std::nullopt},
        {U8(u8"１２"), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        TClientDataSet ds;
        ds.SetXMLData(OneValue("string", c.text));
        if (c.value) {
            EXPECT_EQ(ds.FieldAsInteger("F"), *c.value);
        } else {
            EXPECT_THROW(ds.FieldAsInteger("F"), EDataSetError);
        }
    }
}

TEST(DataSet, RefusesMalformedPacketsAndStaysClosed) {
    const std::string good = StudentPage(3);
    std::string deep = "<DATAPACKET>";
    for (int i = 0; i < 200000; ++i) {
        deep += "<a>";
    }
    const std::string idField = "<FIELD attrname=\"Id\" fieldtype=\"i4\"/>";
    struct Case {
        const char* what;
        std::string packet;
        const char* message;
    };
    const Case cases[] = {
        {"empty", "", "not well-formed"},
        {"not XML", "Code=0&Content=", "not well-formed"},
        {"JSON", "{\"Code\":1}", "not well-formed"},
        {"cut in half", good.substr(0, good.size() / 2), "not well-formed"},
        {"cut before its end tag", good.substr(0, good.rfind("</DATAPACKET>")), "not well-formed"},
        {"unclosed deep nesting", deep, "not well-formed"},
        {"zero byte", std::string(good).insert(good.find("<ROW"), 1, '\0'), "zero byte"},
        {"other document element", "<DATAPACKETS><METADATA/></DATAPACKETS>", "no DATAPACKET"},
        {"two document elements", good + "<DATAPACKET/>", "more than one document element"},
        {"no METADATA", "<DATAPACKET><ROWDATA/></DATAPACKET>", "no METADATA"},
        {"no FIELDS", "<DATAPACKET><METADATA><PARAMS/></METADATA><ROWDATA/></DATAPACKET>",
         "no FIELDS"},
        {"no ROWDATA",
         "<DATAPACKET><METADATA><FIELDS>" + idField + "</FIELDS></METADATA></DATAPACKET>",
         "no ROWDATA"},
        {"two ROWDATA", Packet(idField, "</ROWDATA><ROWDATA>"), "more than one ROWDATA"},
        {"no field at all", Packet("", ""), "defines no fields"},
        {"field without a name", Packet("<FIELD fieldtype=\"i4\"/>", ""), "no attrname"},
        {"field without a type", Packet("<FIELD attrname=\"Id\"/>", ""), "no fieldtype"},
        {"width not a number", Packet("<FIELD attrname=\"Id\" fieldtype=\"i4\" WIDTH=\"x\"/>", ""),
         "WIDTH"},
        {"negative width", Packet("<FIELD attrname=\"Id\" fieldtype=\"i4\" WIDTH=\"-1\"/>", ""),
         "WIDTH"},
        {"field type twice",
         Packet("<FIELD attrname=\"Id\" fieldtype=\"i4\" fieldtype=\"string\"/>", ""),
         "fieldtype twice"},
        {"field defined twice", Packet(idField + idField, ""), "field 'Id' twice"},
        {"nested data set", Packet("<FIELD attrname=\"Kids\" fieldtype=\"nested\"/>", ""),
         "nested"},
        {"other element in FIELDS", Packet(idField + "<PARAM/>", ""), "other than FIELD"},
        {"other element in ROWDATA", Packet(idField, "<ROW Id=\"1\"/><RECORD Id=\"2\"/>"),
         "other than ROW"},
        {"value for an unknown field", Packet(idField, "<ROW Id=\"1\"/><ROW Id=\"2\" Age=\"3\"/>"),
         "Record 2 of the data packet has a value for 'Age', which is no field"},
        {"row state of a change log", Packet(idField, "<ROW RowState=\"4\" Id=\"1\"/>"),
         "'RowState', which is no field"},
        {"value given twice", Packet(idField, "<ROW Id=\"1\" Id=\"2\"/>"), "gives 'Id' twice"},
        {"bad date",
         Packet("<FIELD attrname=\"RegDate\" fieldtype=\"dateTime\"/>",
                "<ROW RegDate=\"20240101T10:00:00000\"/><ROW RegDate=\"soon\"/>"),
         "Record 2 of the data packet has no valid dateTime value in field 'RegDate'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TClientDataSet ds;
        ds.SetXMLData(good);
        ASSERT_TRUE(ds.Active());
        try {
            ds.SetXMLData(c.packet, kStudentFields);
            ADD_FAILURE() << "loaded";
        } catch (const EDataSetError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        ExpectClosed(ds);
    }
}

TEST(DataSet, RefusesAPageWithoutARequiredField) {
    const std::vector<PacketField> noVerifycode{kStudentPacketFields[0], kStudentPacketFields[1],
                                                kStudentPacketFields[2], kStudentPacketFields[4],
                                                kStudentPacketFields[5]};
    const std::string packet = WriteDataPacket(noVerifycode, {PacketRow{"1", "a", "b"}});
    TClientDataSet ds;
    ds.SetXMLData(StudentPage(2), kStudentFields);
    try {
        ds.SetXMLData(packet, kStudentFields);
        ADD_FAILURE() << "loaded";
    } catch (const EDataSetError& e) {
        EXPECT_STREQ(e.what(), "The data packet has no field 'verifycode'");
    }
    ExpectClosed(ds);
    // Field names are exact: another case is another field.
    EXPECT_THROW(ds.SetXMLData(StudentPage(2), {"id"}), EDataSetError);
    EXPECT_THROW(ds.SetXMLData(StudentPage(2), {Gbk(u8"姓名")}), EDataSetError);
    // Without the requirement the same packet loads.
    ds.SetXMLData(packet);
    EXPECT_EQ(ds.FieldIndex("verifycode"), -1);
    EXPECT_THROW(ds.FieldAsString("verifycode"), EDataSetError);
}

TEST(DataSet, ClosedOrEmptyHasNoCurrentRow) {
    TClientDataSet ds;
    ExpectClosed(ds);
    EXPECT_THROW(ds.FieldAsInteger("Id"), EDataSetError);

    ds.SetXMLData(StudentPage(0), kStudentFields);
    EXPECT_TRUE(ds.Active());
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_EQ(ds.Fields().size(), 6U);
    EXPECT_THROW(ds.FieldAsString("Name"), EDataSetError);
    EXPECT_THROW(ds.FieldAsInteger("Id"), EDataSetError);
    EXPECT_THROW(ds.CellText(0, 0), EDataSetError);

    ds.SetXMLData(StudentPage(2), kStudentFields);
    EXPECT_THROW(ds.FieldAsString("Nope"), EDataSetError);
    for (const auto& [row, field] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 6}}) {
        EXPECT_THROW(ds.CellText(row, field), EDataSetError) << row << "," << field;
    }
    ds.Close();
    ExpectClosed(ds);
}
