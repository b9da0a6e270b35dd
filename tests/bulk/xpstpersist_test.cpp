// The XML record-set writer: documents of both modes for every SQL type and
// for many rows, checked with xmllint and read back with Python's
// xml.etree; column names that are no XML names; the state machine; and
// targets replaced only at a successful close.
#include "bulk/xpstpersist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <string>
#include <vector>

#include "bulk/xpsttempdata.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "support/platformtest.h"
#include "support/u16.h"
#include "recordsetcheck.h"

namespace {

using katest::Cell;
using katest::ColumnSpec;
using katest::fixed;
using katest::nullCell;
using katest::readFile;
using katest::textCell;
using katest::W;

class XPstPersistTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TempDir dir{"xpstpw"};

    std::vector<XPstColumn> records(const std::vector<ColumnSpec>& specs)
    {
        std::vector<XPstColumn> out;
        for (const auto& s : specs)
            out.push_back({W(s.name.c_str()), s.sqlType, s.size, s.precision, s.scale, s.nullable, s.isUnsigned});
        return out;
    }

    // Writes the rows; the writer's result of the first failing step, else
    // close's.
    int write(const std::string& target, int32_t mode, const std::vector<ColumnSpec>& specs,
              const std::vector<std::vector<Cell>>& rows)
    {
        XPstTempData store;
        EXPECT_EQ(store.openFiles(nullptr, nullptr, nullptr, 0, 0, 0), 1);
        for (const auto& row : rows)
            for (const auto& cell : row)
                EXPECT_EQ(
                    store.append(cell.null ? nullptr : cell.bytes.data(), cell.null ? -1 : int64_t(cell.bytes.size())),
                    1);
        std::u16string path(target.begin(), target.end());
        XPstTrelliwavePersist writer;
        int r = writer.open(W(path.c_str()), mode);
        if (r != XPST_OK)
            return r;
        auto cols = records(specs);
        if ((r = writer.setColumns(cols.data(), cols.size())) != XPST_OK)
            return r;
        r = writer.writeRows(store.valuesFile, store.offsetsFile, store.lengthsFile, store.valuesSize,
                             store.offsetsSize, store.lengthsSize, rows.size());
        if (r != XPST_OK)
            return r;
        return writer.close();
    }

    std::string check(const std::string& data, const std::vector<ColumnSpec>& specs,
                      const std::vector<std::vector<Cell>>& rows, const std::string& schema = "")
    {
        return katest::checkRecordSet(data, specs, rows, dir.path() + "/expected.json", schema);
    }

    std::vector<std::string> filesInDir()
    {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

std::string repeated(const std::string& text, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

// Every SQL type the writer knows, with a value at an edge of its range.
void allTypes(std::vector<ColumnSpec>* specs, std::vector<std::vector<Cell>>* rows)
{
    *specs = {
        {u"c_char", SQL_CHAR, 5, 0, 0, 1, 0, "c_char", "string|length=5"},
        {u"c_wchar", SQL_WCHAR, 3, 0, 0, 1, 0, "c_wchar", "string|length=3"},
        {u"c_varchar", SQL_VARCHAR, 40, 0, 0, 1, 0, "c_varchar", "string|maxLength=40"},
        {u"c_wvarchar", SQL_WVARCHAR, 40, 0, 0, 1, 0, "c_wvarchar", "string|maxLength=40"},
        {u"c_long", SQL_LONGVARCHAR, 0, 0, 0, 1, 0, "c_long", "string"},
        {u"c_wlong", SQL_WLONGVARCHAR, 0, 0, 0, 1, 0, "c_wlong", "string"},
        {u"c_decimal", SQL_DECIMAL, 0, 38, 10, 1, 0, "c_decimal", "decimal|precision=38|scale=10"},
        {u"c_numeric", SQL_NUMERIC, 0, 5, 2, 1, 0, "c_numeric", "decimal|precision=5|scale=2"},
        {u"c_int", SQL_INTEGER, 10, 0, 0, 0, 0, "c_int", "int"},
        {u"c_uint", SQL_INTEGER, 10, 0, 0, 1, 1, "c_uint", "unsignedInt"},
        {u"c_small", SQL_SMALLINT, 5, 0, 0, 1, 0, "c_small", "short"},
        {u"c_tiny", SQL_TINYINT, 3, 0, 0, 1, 0, "c_tiny", "byte"},
        {u"c_utiny", SQL_TINYINT, 3, 0, 0, 1, 1, "c_utiny", "unsignedByte"},
        {u"c_big", SQL_BIGINT, 19, 0, 0, 1, 0, "c_big", "long"},
        {u"c_ubig", SQL_BIGINT, 20, 0, 0, 1, 1, "c_ubig", "unsignedLong"},
        {u"c_bit", SQL_BIT, 1, 0, 0, 1, 0, "c_bit", "boolean"},
        {u"c_real", SQL_REAL, 7, 0, 0, 1, 0, "c_real", "float"},
        {u"c_float", SQL_FLOAT, 15, 0, 0, 1, 0, "c_float", "double"},
        {u"c_double", SQL_DOUBLE, 15, 0, 0, 1, 0, "c_double", "double"},
        {u"c_date", SQL_TYPE_DATE, 10, 0, 0, 1, 0, "c_date", "date"},
        {u"c_time", SQL_TYPE_TIME, 8, 0, 0, 1, 0, "c_time", "time"},
        {u"c_ts", SQL_TYPE_TIMESTAMP, 29, 0, 0, 1, 0, "c_ts", "timeInstant"},
        {u"c_bin", SQL_BINARY, 4, 0, 0, 1, 0, "c_bin", "binary|encoding=hex|length=4"},
        {u"c_varbin", SQL_VARBINARY, 8, 0, 0, 1, 0, "c_varbin", "binary|encoding=hex|maxLength=8"},
        {u"c_longbin", SQL_LONGVARBINARY, 0, 0, 0, 1, 0, "c_longbin", "binary|encoding=hex"},
    };
    const double inf = std::numeric_limits<double>::infinity();
    rows->push_back({
        textCell("a<b", "a<b  "),
        textCell("\xC3\xA4", "\xC3\xA4  "),
        textCell("Tom & \"Jerry\" 'x' >", "Tom & \"Jerry\" 'x' >"),
        textCell("\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80", "\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"),
        textCell("line one\r\nline two\ttab", "line one\r\nline two\ttab"),
        textCell("", ""),
        textCell("-1234567890123456789012345678.0123456789", "-1234567890123456789012345678.0123456789"),
        textCell("999.99", "999.99"),
        fixed<int32_t>(-2147483647 - 1, "-2147483648"),
        fixed<uint32_t>(4294967295u, "4294967295"),
        fixed<int16_t>(-32768, "-32768"),
        fixed<int8_t>(-128, "-128"),
        fixed<uint8_t>(255, "255"),
        fixed<int64_t>(std::numeric_limits<int64_t>::min(), "-9223372036854775808"),
        fixed<uint64_t>(~uint64_t(0), "18446744073709551615"),
        fixed<uint8_t>(1, "true"),
        fixed<float>(0.1f, "0.1", 'f'),
        fixed<double>(std::nan(""), "NaN", 'f'),
        fixed<double>(-1.5e-300, "-1.5e-300", 'f'),
        fixed<SQL_DATE_STRUCT>({1, 12, 31}, "0001-12-31"),
        fixed<SQL_TIME_STRUCT>({0, 0, 59}, "00:00:59"),
        fixed<SQL_TIMESTAMP_STRUCT>({2020, 1, 2, 3, 4, 5, 123000000}, "2020-01-02T03:04:05"),
        textCell(std::string("\x01\xAB", 2), "01AB0000"),
        textCell(std::string("\x00\xFF\x10", 3), "00FF10"),
        textCell("", ""),
    });
    std::vector<Cell> second;
    for (const auto& s : *specs)
        second.push_back(s.nullable ? nullCell() : fixed<int32_t>(7, "7"));
    rows->push_back(second);
    rows->push_back({
        textCell("abcde", "abcde"),
        textCell("xyz", "xyz"),
        textCell("", ""),
        textCell("", ""),
        textCell(std::string(100000, 'L'), std::string(100000, 'L')),
        textCell("\xC3\xB6", "\xC3\xB6"),
        textCell("0", "0"),
        textCell("-0.01", "-0.01"),
        fixed<int32_t>(0, "0"),
        fixed<uint32_t>(0, "0"),
        fixed<int16_t>(32767, "32767"),
        fixed<int8_t>(127, "127"),
        fixed<uint8_t>(0, "0"),
        fixed<int64_t>(std::numeric_limits<int64_t>::max(), "9223372036854775807"),
        fixed<uint64_t>(0, "0"),
        fixed<uint8_t>(0, "false"),
        fixed<float>(-3.4e38f, "-3.4e38", 'f'),
        fixed<double>(inf, "inf", 'f'),
        fixed<double>(-inf, "-inf", 'f'),
        fixed<SQL_DATE_STRUCT>({9999, 1, 1}, "9999-01-01"),
        fixed<SQL_TIME_STRUCT>({23, 59, 59}, "23:59:59"),
        fixed<SQL_TIMESTAMP_STRUCT>({1970, 1, 1, 0, 0, 0, 0}, "1970-01-01T00:00:00"),
        textCell(std::string("\xDE\xAD\xBE\xEF", 4), "DEADBEEF"),
        textCell("", ""),
        textCell(std::string(3000, '\x5A'), repeated("5A", 3000)),
    });
}

TEST_F(XPstPersistTest, EveryTypeReadsBackInOneDocument)
{
    std::vector<ColumnSpec> specs;
    std::vector<std::vector<Cell>> rows;
    allTypes(&specs, &rows);
    std::string target = dir.path() + "/all_types.xml";
    ASSERT_EQ(write(target, 1, specs, rows), XPST_OK);
    EXPECT_EQ(check(target, specs, rows), "OK");
    std::string doc = readFile(target);
    EXPECT_EQ(doc.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<table xmlns=", 0), 0u);
    EXPECT_NE(doc.find("xsi:schemaLocation=\"urn:ka-driver:xmlrecordset all_types.xml\">\n"), std::string::npos);
    EXPECT_NE(doc.find("\n            <element name=\"c_int\" minOccurs=\"1\" type=\"int\"/>\n"), std::string::npos);
    EXPECT_NE(doc.find("\n            <c_char>a&lt;b  </c_char>\n"), std::string::npos);
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"all_types.xml", "expected.json"}));
}

TEST_F(XPstPersistTest, EveryTypeReadsBackWithASeparateSchema)
{
    std::vector<ColumnSpec> specs;
    std::vector<std::vector<Cell>> rows;
    allTypes(&specs, &rows);
    std::string target = dir.path() + "/out.2020.xml";
    ASSERT_EQ(write(target, 2, specs, rows), XPST_OK);
    std::string schema = dir.path() + "/out.xsd";
    EXPECT_EQ(check(target, specs, rows, schema), "OK");
    EXPECT_NE(readFile(target).find("xsi:schemaLocation=\"urn:ka-driver:xmlrecordset out.xsd\">\n"), std::string::npos);
    EXPECT_EQ(readFile(schema).rfind("<schema targetNamespace=", 0), 0u);
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"expected.json", "out.2020.xml", "out.xsd"}));
}

TEST_F(XPstPersistTest, SeparateSchemaDocumentsAreWrittenExactly)
{
    std::vector<ColumnSpec> specs = {
        {u"ID", SQL_INTEGER, 10, 0, 0, 1, 0, "ID", "int"},
        {u"name", SQL_VARCHAR, 5, 0, 0, 0, 0, "name", "string|maxLength=5"},
    };
    std::string target = dir.path() + "/t.xml";
    ASSERT_EQ(write(target, 2, specs, {{nullCell(), textCell("a&b", "")}, {fixed<int32_t>(7, ""), textCell("", "")}}),
              XPST_OK);
    EXPECT_EQ(readFile(target), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<table xmlns =\"urn:ka-driver:xmlrecordset\"\n"
                                "xmlns:xsi=\"http://www.w3.org/1999/XMLSchema-instance\"\n"
                                "xsi:schemaLocation=\"urn:ka-driver:xmlrecordset t.xsd\">\n"
                                "    <record>\n"
                                "        <name>a&amp;b</name>\n"
                                "    </record>\n"
                                "    <record>\n"
                                "        <ID>7</ID>\n"
                                "        <name></name>\n"
                                "    </record>\n"
                                "</table>\n");
    EXPECT_EQ(readFile(dir.path() + "/t.xsd"),
              "<schema targetNamespace=\"urn:ka-driver:xmlrecordset\"\n"
              "xmlns=\"http://www.w3.org/1999/XMLSchema\"\n"
              "xmlns:rs=\"urn:ka-driver:xmlrecordset\"\n"
              "elementFormDefault=\"qualified\"\n"
              "attributeFormDefault=\"qualified\">\n"
              "<element name=\"table\" type=\"rs:tableType\"/>\n"
              "<complexType name=\"tableType\">\n"
              "<element name=\"record\" minOccurs=\"0\" maxOccurs=\"unbounded\" type=\"rs:recordType\"/>\n"
              "</complexType>\n"
              "<complexType name=\"recordType\">\n"
              "        <element name=\"ID\" minOccurs=\"0\" type=\"int\"/>\n"
              "        <element name=\"name\" minOccurs=\"1\">\n"
              "            <simpleType base=\"string\">\n"
              "                <maxLength value=\"5\"/>\n"
              "            </simpleType>\n"
              "        </element>\n"
              "</complexType>\n"
              "</schema>\n");
}

TEST_F(XPstPersistTest, HundredThousandRowsReadBack)
{
    std::vector<ColumnSpec> specs = {
        {u"id", SQL_BIGINT, 19, 0, 0, 0, 0, "id", "long"},
        {u"name", SQL_VARCHAR, 32, 0, 0, 1, 0, "name", "string|maxLength=32"},
        {u"amount", SQL_DOUBLE, 15, 0, 0, 1, 0, "amount", "double"},
        {u"flag", SQL_BIT, 1, 0, 0, 1, 0, "flag", "boolean"},
    };
    std::vector<std::vector<Cell>> rows;
    for (int64_t i = 0; i < 100000; ++i) {
        std::string name = "row <" + std::to_string(i) + ">";
        double amount = double(i) * 1.25 - 5000.5;
        char exact[40];
        snprintf(exact, sizeof exact, "%.17g", amount);
        rows.push_back({fixed<int64_t>(i, std::to_string(i)), i % 10 == 3 ? nullCell() : textCell(name, name),
                        fixed<double>(amount, exact, 'f'), fixed<uint8_t>(uint8_t(i & 1), i & 1 ? "true" : "false")});
    }
    for (int32_t mode : {1, 2}) {
        SCOPED_TRACE(mode);
        std::string target = dir.path() + "/synthetic" + std::to_string(mode) + ".xml";
        ASSERT_EQ(write(target, mode, specs, rows), XPST_OK);
        EXPECT_EQ(check(target, specs, rows, mode == 2 ? dir.path() + "/synthetic2.xsd" : ""), "OK");
    }
}

TEST_F(XPstPersistTest, ColumnNamesThatAreNoXmlNamesAreEncoded)
{
    std::vector<ColumnSpec> specs = {
        {u"a<b", SQL_INTEGER, 10, 0, 0, 1, 0, "a_x003C_b", "int"},
        {u"1st col", SQL_INTEGER, 10, 0, 0, 1, 0, "_x0031_st_x0020_col", "int"},
        {u"t.x_y", SQL_INTEGER, 10, 0, 0, 1, 0, "t.x_y", "int"},
        {u"my_xval", SQL_INTEGER, 10, 0, 0, 1, 0, "my_x005F_xval", "int"},
        {u"ns:k\"&", SQL_INTEGER, 10, 0, 0, 1, 0, "ns_x003A_k_x0022__x0026_", "int"},
        {u"\u00e4\u65e5", SQL_INTEGER, 10, 0, 0, 1, 0, "\xC3\xA4\xE6\x97\xA5", "int"},
        {u"", SQL_INTEGER, 10, 0, 0, 1, 0, "_", "int"},
    };
    std::vector<std::vector<Cell>> rows(1);
    for (int32_t i = 0; i < int32_t(specs.size()); ++i)
        rows[0].push_back(fixed<int32_t>(i, std::to_string(i)));
    std::string target = dir.path() + "/names.xml";
    ASSERT_EQ(write(target, 1, specs, rows), XPST_OK);
    EXPECT_EQ(check(target, specs, rows), "OK");
}

TEST_F(XPstPersistTest, NoRowsGiveCompleteDocuments)
{
    std::vector<ColumnSpec> specs = {{u"id", SQL_INTEGER, 10, 0, 0, 1, 0, "id", "int"}};
    std::string one = dir.path() + "/empty1.xml";
    ASSERT_EQ(write(one, 1, specs, {}), XPST_OK);
    EXPECT_EQ(check(one, specs, {}), "OK");
    EXPECT_NE(readFile(one).find("    <data>\n    </data>\n</table>\n"), std::string::npos);
    std::string two = dir.path() + "/empty2.xml";
    ASSERT_EQ(write(two, 2, specs, {}), XPST_OK);
    EXPECT_EQ(check(two, specs, {}, dir.path() + "/empty2.xsd"), "OK");
}

TEST_F(XPstPersistTest, AFailureLeavesTheTargetsAsTheyWereAndNoTemporaryFiles)
{
    std::string target = dir.path() + "/keep.xml";
    std::string schema = dir.path() + "/keep.xsd";
    std::ofstream(target) << "old data";
    std::ofstream(schema) << "old schema";
    // A NULL in a column that takes none fails while the rows are written.
    std::vector<ColumnSpec> specs = {{u"id", SQL_INTEGER, 10, 0, 0, 0, 0, "id", "int"}};
    EXPECT_EQ(write(target, 2, specs, {{fixed<int32_t>(1, "1")}, {nullCell()}}), XPST_FAILED);
    EXPECT_EQ(readFile(target), "old data");
    EXPECT_EQ(readFile(schema), "old schema");
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"keep.xml", "keep.xsd"}));
    bool sawNull = false;
    for (size_t i = 0; i < errors.size(); ++i)
        sawNull = sawNull || errors.native(i) == MSG_XPST_NULL_NOT_ALLOWED;
    EXPECT_TRUE(sawNull);
    // A forbidden character in a value fails the same way.
    specs[0] = {u"v", SQL_VARCHAR, 10, 0, 0, 1, 0, "v", "string|maxLength=10"};
    EXPECT_EQ(write(target, 1, specs, {{textCell("bell\x07", "")}}), XPST_FAILED);
    EXPECT_EQ(readFile(target), "old data");
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"keep.xml", "keep.xsd"}));
    // A success replaces both.
    ASSERT_EQ(write(target, 2, specs, {{textCell("new", "new")}}), XPST_OK);
    EXPECT_EQ(check(target, specs, {{textCell("new", "new")}}, schema), "OK");
}

TEST_F(XPstPersistTest, ASchemaTargetThatIsTheDataTargetIsRefused)
{
    std::string target = dir.path() + "/data.xsd";
    std::ofstream(target) << "old";
    std::vector<ColumnSpec> specs = {{u"id", SQL_INTEGER, 10, 0, 0, 1, 0, "id", "int"}};
    EXPECT_EQ(write(target, 2, specs, {{fixed<int32_t>(1, "1")}}), XPST_FAILED);
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(errors.native(errors.size() - 1), MSG_XPST_SCHEMA_TARGET_CLASH);
    EXPECT_EQ(readFile(target), "old");
    // In one document the same name is an ordinary target.
    ASSERT_EQ(write(target, 1, specs, {{fixed<int32_t>(1, "1")}}), XPST_OK);
    EXPECT_EQ(check(target, specs, {{fixed<int32_t>(1, "1")}}), "OK");
}

TEST_F(XPstPersistTest, StateMachineAndArguments)
{
    std::u16string target = u"/nonexistent-dir-xpst/t.xml";
    XPstTrelliwavePersist writer;
    EXPECT_EQ(writer.open(nullptr, 1), XPST_FAILED);
    EXPECT_EQ(writer.open(W(u""), 1), XPST_FAILED);
    EXPECT_EQ(writer.open(W(u"x.xml"), 3), XPST_FAILED);
    EXPECT_EQ(writer.open(W(target.c_str()), 1), XPST_FAILED);  // no temporary file there
    EXPECT_EQ(errors.native(errors.size() - 1), MSG_XPST_DATA_TEMP_FAILED);
    XPstColumn column{W(u"id"), SQL_INTEGER, 10, 0, 0, 1, 0};
    EXPECT_EQ(writer.setColumns(&column, 1), XPST_WRONG_STATE);
    EXPECT_EQ(writer.close(), XPST_WRONG_STATE);

    std::string path = dir.path() + "/s.xml";
    std::u16string wide(path.begin(), path.end());
    ASSERT_EQ(writer.open(W(wide.c_str()), 1), XPST_OK);
    EXPECT_EQ(writer.open(W(wide.c_str()), 1), XPST_WRONG_STATE);
    EXPECT_EQ(writer.close(), XPST_WRONG_STATE);
    ASSERT_EQ(writer.setColumns(&column, 1), XPST_OK);
    errors.list.clear();
    EXPECT_EQ(writer.setColumns(&column, 1), XPST_WRONG_STATE);
    EXPECT_EQ(errors.native(0), MSG_XPST_NOT_OPEN);
    EXPECT_EQ(writer.state, XPST_STATE_COLUMNS);
    EXPECT_EQ(writer.abort(), XPST_OK);
    EXPECT_EQ(filesInDir(), std::vector<std::string>{});

    // A type without a schema form fails setColumns and removes the files.
    ASSERT_EQ(writer.open(W(wide.c_str()), 1), XPST_OK);
    XPstColumn guid{W(u"g"), SQL_GUID, 36, 0, 0, 1, 0};
    EXPECT_EQ(writer.setColumns(&guid, 1), XPST_FAILED);
    EXPECT_EQ(writer.state, XPST_STATE_CLOSED);
    EXPECT_EQ(filesInDir(), std::vector<std::string>{});
}

TEST_F(XPstPersistTest, DestroyingAnOpenWriterRemovesItsTemporaryFiles)
{
    std::string path = dir.path() + "/d.xml";
    std::u16string wide(path.begin(), path.end());
    {
        XPstTrelliwavePersist writer;
        ASSERT_EQ(writer.open(W(wide.c_str()), 2), XPST_OK);
        EXPECT_EQ(filesInDir().size(), 2u);
    }
    EXPECT_EQ(filesInDir(), std::vector<std::string>{});
}

}  // namespace
