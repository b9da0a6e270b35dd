// Column values and descriptions through unixODBC against the bundled test
// server, in both result layouts: DECIMALs of every shape read whole into a
// buffer of their display size, a timestamp with local time zone read as
// its text, names outside ASCII through the narrow and the wide calls, and
// the cursor simulation the driver refuses. A process of its own, since
// unixODBC reads its ini folder once per process.
#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "support/hs2suite.h"

namespace {

using katest::diagText;

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// The layout: column-wise (the default protocol) or row-wise (CSP=4).
class Hs2ColumnData : public katest::Hs2Suite<katest::DriverManagerStmtSuite>,
                      public ::testing::WithParamInterface<const char*> {
protected:
    static void SetUpTestSuite()
    {
        // unixODBC turns the narrow calls into the driver's wide ones in the
        // locale's character set.
        setlocale(LC_ALL, "C.UTF-8");
        startHs2("hs2-columndata", {"--synthetic-rows", "10"});
    }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement(hs2String("LT=20;" + std::string(GetParam())));
    }
    std::string diags() { return diagText(SQL_HANDLE_STMT, stmt); }
    // The first column of the only row of query, as SQL_C_CHAR into a buffer
    // of room bytes with guard bytes behind it; its length in *length.
    std::string firstValue(const std::string& query, SQLLEN room, SQLLEN* length)
    {
        constexpr size_t kGuard = 8;
        EXPECT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(query.c_str()), SQL_NTS)) << diags();
        EXPECT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
        std::vector<char> buffer(size_t(room) + kGuard, '\x5a');
        EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_CHAR, buffer.data(), room, length)) << diags();
        for (size_t i = size_t(room); i < buffer.size(); ++i)
            EXPECT_EQ('\x5a', buffer[i]) << "guard byte " << i;
        EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt)) << diags();
        EXPECT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
        return *length == SQL_NULL_DATA ? std::string("NULL") : std::string(buffer.data());
    }
};

TEST_P(Hs2ColumnData, DecimalsOfEveryShapeFitTheBufferTheirDisplaySizeAsksFor)
{
    struct Case {
        const char* literal;
        int precision;
        int scale;
        const char* text;  // as the server (hive-3.1, padding to the scale) sends it
        SQLLEN displaySize;
        const char* shorter = nullptr;  // the same value as the conversion may write it
    } cases[] = {
        {"-0.12", 2, 2, "-0.12", 5},
        {"0.99", 2, 2, "0.99", 5, ".99"},
        {"-0.9", 1, 1, "-0.9", 4},
        {"0", 3, 3, "0.000", 6},
        {"-0.5", 38, 38, "-0.50000000000000000000000000000000000000", 41},
        {"-9", 1, 0, "-9", 2},
        {"-999999999999999999", 18, 0, "-999999999999999999", 19},
        {"999999999999999999", 18, 0, "999999999999999999", 19},
        {"-12345.6789", 9, 4, "-12345.6789", 11},
        {"-1.5", 38, 37, "-1.5000000000000000000000000000000000000", 40},
    };
    for (const Case& c : cases) {
        const std::string query = "SELECT CAST(" + std::string(c.literal) + " AS DECIMAL(" +
                                  std::to_string(c.precision) + "," + std::to_string(c.scale) + "))";
        SCOPED_TRACE(query);
        ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt, sql(query.c_str()), SQL_NTS)) << diags();
        SQLLEN display = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(stmt, 1, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display));
        EXPECT_EQ(c.displaySize, display);
        SQLLEN length = 0;
        const std::string got = firstValue(query, display + 1, &length);
        EXPECT_TRUE(got == c.text || (c.shorter != nullptr && got == c.shorter)) << got;
        EXPECT_EQ(SQLLEN(got.size()), length);
        EXPECT_LE(length, display);
    }
}

TEST_P(Hs2ColumnData, ATimestampWithLocalTimeZoneIsReadAsItsText)
{
    const std::string table = std::string("tz_") + (GetParam()[0] == 0 ? "columns" : "rows");
    const char* values[] = {"2024-02-29 12:34:56.5 UTC",
                            "2024-02-29 12:34:56.123456789 America/Argentina/ComodRivadavia"};
    ASSERT_EQ(SQL_SUCCESS,
              SQLExecDirect(stmt,
                            sql(("CREATE TABLE " + table + " (id int, t timestamp with local time zone)").c_str()),
                            SQL_NTS))
        << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt,
                                         sql(("INSERT INTO " + table + " VALUES (1, '" + values[0] + "'), (2, '" +
                                              values[1] + "'), (3, NULL)")
                                                 .c_str()),
                                         SQL_NTS))
        << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(("SELECT id, t FROM " + table + " ORDER BY id").c_str()), SQL_NTS))
        << diags();
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = -1;
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(stmt, 2, nullptr, 0, nullptr, &type, &size, &digits, nullptr)) << diags();
    EXPECT_EQ(SQL_WVARCHAR, type);
    EXPECT_EQ(62u, size);
    EXPECT_EQ(0, digits);
    char typeName[64] = {};
    ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(stmt, 2, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, nullptr, nullptr));
    EXPECT_STREQ("timestamp with local time zone", typeName);
    for (const char* want : {values[0], values[1], static_cast<const char*>(nullptr)}) {
        ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
        char buffer[128] = {};
        SQLLEN length = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 2, SQL_C_CHAR, buffer, SQLLEN(size + 1), &length)) << diags();
        if (want == nullptr) {
            EXPECT_EQ(SQL_NULL_DATA, length);
            continue;
        }
        EXPECT_STREQ(want, buffer);
        EXPECT_EQ(SQLLEN(std::strlen(want)), length);
    }
    EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    // The catalog names the type alike.
    ASSERT_EQ(SQL_SUCCESS, SQLColumns(stmt, nullptr, 0, nullptr, 0, sql(table.c_str()), SQL_NTS, sql("t"), SQL_NTS))
        << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
    SQLSMALLINT dataType = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 5, SQL_C_SSHORT, &dataType, 0, &ind)) << diags();
    EXPECT_EQ(SQL_WVARCHAR, dataType);
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 6, SQL_C_CHAR, typeName, sizeof typeName, &ind)) << diags();
    EXPECT_STREQ("timestamp with local time zone", typeName);
    SQLINTEGER columnSize = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 7, SQL_C_SLONG, &columnSize, 0, &ind)) << diags();
    EXPECT_EQ(62, columnSize);
    EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
}

TEST_P(Hs2ColumnData, NamesOutsideAsciiComeThroughTheNarrowAndTheWideCalls)
{
    // "café" and "名前" in UTF-8.
    ASSERT_EQ(SQL_SUCCESS,
              SQLExecDirect(stmt, sql("SELECT 1 AS `caf\xc3\xa9`, 2 AS `\xe5\x90\x8d\xe5\x89\x8d`"), SQL_NTS))
        << diags();
    struct Name {
        SQLUSMALLINT column;
        std::string utf8;
        std::u16string utf16;
    } names[] = {{1, "caf\xc3\xa9", u"caf\u00e9"}, {2, "\xe5\x90\x8d\xe5\x89\x8d", u"\u540d\u524d"}};
    for (const Name& n : names) {
        SCOPED_TRACE(n.column);
        char narrow[64] = {};
        SQLSMALLINT length = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(stmt, n.column, reinterpret_cast<SQLCHAR*>(narrow), sizeof narrow,
                                              &length, nullptr, nullptr, nullptr, nullptr))
            << diags();
        EXPECT_EQ(n.utf8, std::string(narrow));
        SQLWCHAR wide[64] = {};
        ASSERT_EQ(SQL_SUCCESS, SQLDescribeColW(stmt, n.column, wide, 64, &length, nullptr, nullptr, nullptr, nullptr))
            << diags();
        EXPECT_EQ(n.utf16, std::u16string(reinterpret_cast<const char16_t*>(wide), size_t(length)));
        for (SQLUSMALLINT field : {SQL_DESC_NAME, SQL_DESC_LABEL, SQL_DESC_BASE_COLUMN_NAME}) {
            SCOPED_TRACE(field);
            char narrowAttr[64] = {};
            ASSERT_EQ(SQL_SUCCESS,
                      SQLColAttribute(stmt, n.column, field, narrowAttr, sizeof narrowAttr, &length, nullptr))
                << diags();
            EXPECT_EQ(n.utf8, std::string(narrowAttr));
            SQLWCHAR wideAttr[64] = {};
            ASSERT_EQ(SQL_SUCCESS, SQLColAttributeW(stmt, n.column, field, wideAttr, sizeof wideAttr, &length, nullptr))
                << diags();
            EXPECT_EQ(n.utf16, std::u16string(reinterpret_cast<const char16_t*>(wideAttr), size_t(length) / 2));
        }
    }
}

TEST_P(Hs2ColumnData, TheDriverSimulatesNoCursor)
{
    SQLULEN simulate = SQL_SC_NON_UNIQUE;
    EXPECT_EQ(SQL_ERROR, SQLSetStmtAttr(stmt, SQL_ATTR_SIMULATE_CURSOR, SQLPOINTER(simulate), 0));
    EXPECT_NE(std::string::npos, diags().find("HYC00")) << diags();
    EXPECT_EQ(SQL_ERROR, SQLGetStmtAttr(stmt, SQL_ATTR_SIMULATE_CURSOR, &simulate, 0, nullptr));
    EXPECT_NE(std::string::npos, diags().find("HYC00")) << diags();
}

INSTANTIATE_TEST_SUITE_P(Layouts, Hs2ColumnData, ::testing::Values("", "CSP=4;"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param[0] == 0 ? "columns" : "rows");
                         });

}  // namespace
