// Statement attribute 1053 as an application uses it: queries against the
// bundled test server through unixODBC, their open results written as XML
// record sets in one document and with a separate schema, each checked with
// xmllint and read back by Python's xml.etree (tests/bulk/readrecordset.py)
// to the texts the value formatting writes for the values SQLFetch
// delivers.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bulk/recordsetcheck.h"
#include "support/hs2suite.h"

namespace {

using katest::Cell;
using katest::ColumnSpec;
using katest::diagText;

constexpr SQLINTEGER kPersistXml = 1053;
constexpr SQLINTEGER kPersistMode = 1054;
constexpr int kSyntheticRows = 100000;

SQLCHAR* sql(const std::string& text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

std::vector<SQLWCHAR> wide(const std::string& text)
{
    std::vector<SQLWCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

// The number text of a record set: d significant digits, plain when that
// takes at most d + 2 characters, else one digit, the rest after a point
// and E with the power of ten. Worked from printf's digits, so that it does
// not share the writer's route through ecvt_r.
std::string numberText(double value, int digits)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%.*e", digits - 1, value);
    std::string text = buffer;
    bool negative = text[0] == '-';
    size_t e = text.find('e');
    std::string mantissa = text.substr(negative ? 1 : 0, e - (negative ? 1 : 0));
    mantissa.erase(std::remove(mantissa.begin(), mantissa.end(), '.'), mantissa.end());
    int point = atoi(text.c_str() + e + 1) + 1;
    while (!mantissa.empty() && mantissa.back() == '0')
        mantissa.pop_back();
    if (mantissa.empty())
        return "0";
    const int n = int(mantissa.size());
    const int sign = negative ? 1 : 0;
    const int fixed = point >= n ? sign + point : point >= 0 ? sign + n + 1 : sign + (n - point) + 1;
    std::string out = negative ? "-" : "";
    if (fixed <= digits + 2) {
        for (int i = 0; i < point; ++i)
            out += i < n ? mantissa[size_t(i)] : '0';
        if (point < n) {
            out += '.';
            if (point < 0)
                out += std::string(size_t(-point), '0');
            out += mantissa.substr(size_t(point < 0 ? 0 : point));
        }
        return out;
    }
    out += mantissa[0];
    if (n > 1)
        out += "." + mantissa.substr(1);
    return out + "E" + std::to_string(point - 1);
}

size_t utf8Characters(const std::string& text)
{
    size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

class Hs2Persist : public katest::Hs2Suite<katest::DriverManagerStmtSuite> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-persist", {"--synthetic-rows", std::to_string(kSyntheticRows)}); }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement(hs2String("LT=20"));
    }

    // The schema type a column must get, in the form the reader prints it.
    static std::string schemaType(SQLSMALLINT type, SQLLEN length, SQLLEN precision, SQLLEN scale, bool isUnsigned)
    {
        std::string size = std::to_string(length);
        switch (type) {
        case SQL_CHAR:
        case SQL_WCHAR: return "string|length=" + size;
        case SQL_VARCHAR:
        case SQL_WVARCHAR: return "string|maxLength=" + size;
        case SQL_LONGVARCHAR:
        case SQL_WLONGVARCHAR: return "string";
        case SQL_NUMERIC:
        case SQL_DECIMAL: return "decimal|precision=" + std::to_string(precision) + "|scale=" + std::to_string(scale);
        case SQL_INTEGER: return isUnsigned ? "unsignedInt" : "int";
        case SQL_SMALLINT: return isUnsigned ? "unsignedShort" : "short";
        case SQL_TINYINT: return isUnsigned ? "unsignedByte" : "byte";
        case SQL_BIGINT: return isUnsigned ? "unsignedLong" : "long";
        case SQL_BIT: return "boolean";
        case SQL_REAL: return "float";
        case SQL_FLOAT:
        case SQL_DOUBLE: return "double";
        case SQL_TYPE_DATE: return "date";
        case SQL_TYPE_TIME: return "time";
        case SQL_TYPE_TIMESTAMP: return "timeInstant";
        case SQL_LONGVARBINARY: return "binary|encoding=hex";
        case SQL_VARBINARY: return "binary|encoding=hex|maxLength=" + size;
        case SQL_BINARY: return "binary|encoding=hex|length=" + size;
        default: return "";
        }
    }

    // A whole character or binary value through SQLGetData; false for NULL.
    static bool readWhole(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, std::string* value)
    {
        value->clear();
        while (true) {
            char piece[8192];
            SQLLEN indicator = 0;
            SQLRETURN rc = SQLGetData(h, column, cType, piece, sizeof piece, &indicator);
            if (rc == SQL_NO_DATA)
                return true;
            EXPECT_TRUE(SQL_SUCCEEDED(rc)) << diagText(SQL_HANDLE_STMT, h);
            if (!SQL_SUCCEEDED(rc) || indicator == SQL_NULL_DATA)
                return false;
            size_t room = cType == SQL_C_BINARY ? sizeof piece : sizeof piece - 1;
            value->append(piece, indicator == SQL_NO_TOTAL || size_t(indicator) > room ? room : size_t(indicator));
            if (rc == SQL_SUCCESS)
                return true;
        }
    }

    template <typename T>
    static bool readFixed(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, T* value)
    {
        SQLLEN indicator = 0;
        SQLRETURN rc = SQLGetData(h, column, cType, value, sizeof *value, &indicator);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << diagText(SQL_HANDLE_STMT, h);
        return SQL_SUCCEEDED(rc) && indicator != SQL_NULL_DATA;
    }

    // The text a column's value must read back as, fetched on its own
    // statement in the C type the persistence reads it in.
    static Cell expectedCell(SQLHSTMT h, SQLUSMALLINT column, const ColumnSpec& spec)
    {
        Cell cell;
        bool present = false;
        char scratch[64];
        switch (spec.sqlType) {
        case SQL_CHAR:
        case SQL_WCHAR:
        case SQL_VARCHAR:
        case SQL_WVARCHAR:
        case SQL_LONGVARCHAR:
        case SQL_WLONGVARCHAR:
        case SQL_NUMERIC:
        case SQL_DECIMAL:
            present = readWhole(h, column, SQL_C_CHAR, &cell.expect);
            // Fixed-length text is padded with blanks to its size in
            // characters.
            if (present && (spec.sqlType == SQL_CHAR || spec.sqlType == SQL_WCHAR) &&
                utf8Characters(cell.expect) < spec.size)
                cell.expect.append(spec.size - utf8Characters(cell.expect), ' ');
            break;
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_TINYINT:
        case SQL_BIGINT: {
            SQLBIGINT v = 0;
            present = readFixed(h, column, SQL_C_SBIGINT, &v);
            cell.expect = std::to_string(v);
            break;
        }
        case SQL_BIT: {
            unsigned char v = 0;
            present = readFixed(h, column, SQL_C_BIT, &v);
            cell.expect = v != 0 ? "true" : "false";
            break;
        }
        case SQL_REAL: {
            float v = 0;
            present = readFixed(h, column, SQL_C_FLOAT, &v);
            cell.expect = numberText(double(v), 7);
            break;
        }
        case SQL_FLOAT:
        case SQL_DOUBLE: {
            double v = 0;
            present = readFixed(h, column, SQL_C_DOUBLE, &v);
            cell.expect = numberText(v, 15);
            break;
        }
        case SQL_TYPE_DATE: {
            SQL_DATE_STRUCT v{};
            present = readFixed(h, column, SQL_C_TYPE_DATE, &v);
            snprintf(scratch, sizeof scratch, "%04d-%02u-%02u", int(v.year), unsigned(v.month), unsigned(v.day));
            cell.expect = scratch;
            break;
        }
        case SQL_TYPE_TIME: {
            SQL_TIME_STRUCT v{};
            present = readFixed(h, column, SQL_C_TYPE_TIME, &v);
            snprintf(scratch, sizeof scratch, "%02u:%02u:%02u", unsigned(v.hour), unsigned(v.minute),
                     unsigned(v.second));
            cell.expect = scratch;
            break;
        }
        case SQL_TYPE_TIMESTAMP: {
            // The fraction is not written.
            SQL_TIMESTAMP_STRUCT v{};
            present = readFixed(h, column, SQL_C_TYPE_TIMESTAMP, &v);
            snprintf(scratch, sizeof scratch, "%04d-%02u-%02uT%02u:%02u:%02u", int(v.year), unsigned(v.month),
                     unsigned(v.day), unsigned(v.hour), unsigned(v.minute), unsigned(v.second));
            cell.expect = scratch;
            break;
        }
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY: {
            std::string bytes;
            present = readWhole(h, column, SQL_C_BINARY, &bytes);
            static const char kHex[] = "0123456789ABCDEF";
            for (unsigned char c : bytes) {
                cell.expect += kHex[c >> 4];
                cell.expect += kHex[c & 15];
            }
            if (spec.sqlType == SQL_BINARY && cell.expect.size() < 2 * size_t(spec.size))
                cell.expect.append(2 * size_t(spec.size) - cell.expect.size(), '0');
            break;
        }
        default: ADD_FAILURE() << "column " << column << " has SQL type " << spec.sqlType; break;
        }
        if (!present)
            return katest::nullCell();
        return cell;
    }

    // The columns and rows of a query's result as the record set must hold
    // them, from a statement of their own.
    void expected(const std::string& query, std::vector<ColumnSpec>* specs, std::vector<std::vector<Cell>>* rows)
    {
        SQLHSTMT h = SQL_NULL_HSTMT;
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h));
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(h, sql(query), SQL_NTS)) << diagText(SQL_HANDLE_STMT, h);
        SQLSMALLINT count = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(h, &count));
        for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(count); ++c) {
            SQLCHAR name[256] = {};
            SQLSMALLINT nameLength = 0;
            SQLSMALLINT type = 0;
            SQLULEN size = 0;
            SQLSMALLINT digits = 0;
            SQLSMALLINT nullable = 0;
            ASSERT_EQ(SQL_SUCCESS,
                      SQLDescribeCol(h, c, name, sizeof name, &nameLength, &type, &size, &digits, &nullable));
            SQLLEN length = 0, precision = 0, scale = 0, isUnsigned = 0;
            ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(h, c, SQL_DESC_LENGTH, nullptr, 0, nullptr, &length));
            ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(h, c, SQL_DESC_PRECISION, nullptr, 0, nullptr, &precision));
            ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(h, c, SQL_DESC_SCALE, nullptr, 0, nullptr, &scale));
            ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(h, c, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned));
            std::string text = reinterpret_cast<char*>(name);
            std::string form = schemaType(type, length, precision, scale, isUnsigned == SQL_TRUE);
            ASSERT_FALSE(form.empty()) << text << " has SQL type " << type;
            ColumnSpec spec{std::u16string(text.begin(), text.end()),
                            type,
                            uint32_t(length),
                            int32_t(precision),
                            int32_t(scale),
                            nullable != SQL_NO_NULLS,
                            isUnsigned == SQL_TRUE,
                            text,
                            form};
            specs->push_back(spec);
        }
        SQLRETURN rc;
        while ((rc = SQLFetch(h)) == SQL_SUCCESS) {
            std::vector<Cell> row;
            for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(count); ++c)
                row.push_back(expectedCell(h, c, (*specs)[c - 1]));
            rows->push_back(std::move(row));
        }
        EXPECT_EQ(SQL_NO_DATA, rc) << diagText(SQL_HANDLE_STMT, h);
        SQLFreeHandle(SQL_HANDLE_STMT, h);
    }

    // Runs the query on the test's statement and persists its open result
    // into file, in one document (mode 1) or with a schema beside it.
    void persist(const std::string& query, int mode, const std::string& file)
    {
        SQLCloseCursor(stmt);
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(query), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, kPersistMode, reinterpret_cast<SQLPOINTER>(intptr_t(mode)), 0))
            << diagText(SQL_HANDLE_STMT, stmt);
        std::vector<SQLWCHAR> target = wide(file);
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttrW(stmt, kPersistXml, target.data(), SQL_NTS))
            << diagText(SQL_HANDLE_STMT, stmt);
        // The forward-only cursor was read to its end.
        EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
    }

    // The query's result persisted in both modes reads back as expected.
    void checkBothModes(const std::string& query, const std::string& name, size_t rowCount)
    {
        std::vector<ColumnSpec> specs;
        std::vector<std::vector<Cell>> rows;
        expected(query, &specs, &rows);
        ASSERT_EQ(rowCount, rows.size());
        const std::string base = iniDir + "/" + name;
        persist(query, 1, base + "-one.xml");
        EXPECT_EQ("OK", katest::checkRecordSet(base + "-one.xml", specs, rows, base + "-one.json"));
        EXPECT_NE(0, access((base + "-one.xsd").c_str(), F_OK));
        persist(query, 2, base + "-two.xml");
        EXPECT_EQ("OK", katest::checkRecordSet(base + "-two.xml", specs, rows, base + "-two.json", base + "-two.xsd"));
    }
};

TEST(Hs2PersistNumbers, TheExpectedNumberTextFollowsTheDocumentedForms)
{
    // The reference the live tests compare with, held to the documented
    // examples.
    struct Case {
        double value;
        int digits;
        const char* text;
    };
    const Case cases[] = {
        {0.5, 15, ".5"},           {-2.0, 15, "-2"},
        {double(0.1f), 7, ".1"},   {0.0, 15, "0"},
        {-0.05, 15, "-.05"},       {double(1234567.0f), 7, "1234567"},
        {1.0e20, 15, "1E20"},      {123456789012345678.0, 15, "1.23456789012346E17"},
        {1.5, 7, "1.5"},           {-1.7976931348623157e308, 15, "-1.79769313486232E308"},
        {0.000123, 15, ".000123"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, numberText(c.value, c.digits)) << c.value;
}

TEST_F(Hs2Persist, EveryTypeOfATableReadsBackInBothModes)
{
    checkBothModes("SELECT * FROM all_types ORDER BY id", "all_types", 40);
}

TEST_F(Hs2Persist, HundredThousandRowsReadBackInBothModes)
{
    checkBothModes("SELECT * FROM bench.synthetic LIMIT " + std::to_string(kSyntheticRows), "synthetic",
                   size_t(kSyntheticRows));
}

}  // namespace
