// SQLTablesW and SQLColumnsW through unixODBC and the driver, in this
// process, against the test server under each identity: the description of
// the results, the rows read by SQLGetData and by bound columns across the
// tables of SQLColumns, SQL_ATTR_METADATA_ID, and a catalog call on an open
// cursor.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <vector>

#include "support/hs2suite.h"
#include "support/textfile.h"

namespace {

using katest::diagText;

SQLWCHAR* w(const std::u16string& s)
{
    return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(s.c_str()));
}

class Hs2Catalog : public katest::Hs2Suite<katest::DriverManagerStmtSuite>,
                   public ::testing::WithParamInterface<const char*> {
protected:
    static void SetUpTestSuite() { writeHs2Ini("hs2-catalog"); }
    void SetUp() override
    {
        startServer({"--server", GetParam()});
        DriverManagerStmtSuite::SetUp();
        connectWithStatement(hs2String("LT=20;"));
    }
    void TearDown() override
    {
        DriverManagerStmtSuite::TearDown();
        server.reset();
    }

    // Column c of the current row as UTF-16 text; "<null>" for NULL.
    std::u16string text(SQLUSMALLINT c)
    {
        SQLWCHAR buffer[512] = {};
        SQLLEN indicator = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, c, SQL_C_WCHAR, buffer, sizeof buffer, &indicator)))
            << diagText(SQL_HANDLE_STMT, stmt);
        if (indicator == SQL_NULL_DATA)
            return u"<null>";
        return std::u16string(reinterpret_cast<const char16_t*>(buffer));
    }
};

TEST_P(Hs2Catalog, TablesAreDescribedAsWideTextAndReadRowByRow)
{
    ASSERT_EQ(SQL_SUCCESS, SQLTablesW(stmt, nullptr, 0, w(u"sales"), SQL_NTS, nullptr, 0, nullptr, 0))
        << diagText(SQL_HANDLE_STMT, stmt);
    SQLSMALLINT columns = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &columns));
    EXPECT_EQ(columns, 5);
    SQLWCHAR name[64] = {};
    SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeColW(stmt, 3, name, 64, &nameLength, &type, &size, &digits, &nullable));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), u"TABLE_NAME");
    EXPECT_EQ(type, SQL_WVARCHAR);
    EXPECT_EQ(size, 128u);
    std::vector<std::u16string> rows;
    while (SQLFetch(stmt) == SQL_SUCCESS)
        rows.push_back(text(1) + u"|" + text(2) + u"|" + text(3) + u"|" + text(4) + u"|" + text(5));
    EXPECT_EQ(rows, (std::vector<std::u16string>{u"<null>|sales|customers|TABLE|",
                                                 u"<null>|sales|orders|TABLE|orders by day"}));
}

TEST_P(Hs2Catalog, ColumnsAreReadThroughBoundColumnsInTableAndPositionOrder)
{
    ASSERT_EQ(SQL_SUCCESS, SQLColumnsW(stmt, nullptr, 0, w(u"sales"), SQL_NTS, nullptr, 0, nullptr, 0))
        << diagText(SQL_HANDLE_STMT, stmt);
    SQLWCHAR table[64] = {};
    SQLWCHAR column[64] = {};
    SQLINTEGER position = 0;
    SQLINTEGER size = 0;
    SQLSMALLINT dataType = 0;
    SQLLEN lengths[5] = {};
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 3, SQL_C_WCHAR, table, sizeof table, &lengths[0]));
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 4, SQL_C_WCHAR, column, sizeof column, &lengths[1]));
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 5, SQL_C_SSHORT, &dataType, 0, &lengths[2]));
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 7, SQL_C_SLONG, &size, 0, &lengths[3]));
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 17, SQL_C_SLONG, &position, 0, &lengths[4]));
    std::vector<std::u16string> rows;
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            break;
        ASSERT_EQ(rc, SQL_SUCCESS) << diagText(SQL_HANDLE_STMT, stmt);
        std::u16string row = std::u16string(reinterpret_cast<const char16_t*>(table)) + u"." +
                             reinterpret_cast<const char16_t*>(column) + u" " + static_cast<char16_t>(u'0' + position);
        if (row.rfind(u"orders.amount", 0) == 0) {
            EXPECT_EQ(dataType, SQL_DECIMAL);
            EXPECT_EQ(size, 12);
        }
        rows.push_back(row);
    }
    EXPECT_EQ(rows, (std::vector<std::u16string>{u"customers.id 1", u"customers.name 2", u"customers.email 3",
                                                 u"orders.order_id 1", u"orders.customer_id 2", u"orders.amount 3",
                                                 u"orders.ordered_at 4", u"orders.status 5", u"orders.dt 6"}));
}

TEST_P(Hs2Catalog, MetadataIdTakesArgumentsAsIdentifiers)
{
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_METADATA_ID, reinterpret_cast<SQLPOINTER>(SQL_TRUE), 0));
    // Unquoted names are folded to Hive's lower case; "%" is no wildcard.
    ASSERT_EQ(SQL_SUCCESS,
              SQLColumnsW(stmt, w(u""), 0, w(u"SALES"), SQL_NTS, w(u"CUSTOMERS"), SQL_NTS, w(u"EMAIL"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    EXPECT_EQ(text(4), u"email");
    EXPECT_EQ(text(12), u"contact address");
    EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    ASSERT_EQ(SQL_SUCCESS, SQLTablesW(stmt, w(u""), 0, w(u"sales"), SQL_NTS, w(u"cust%"), SQL_NTS, nullptr, 0));
    EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    // A null schema is refused: the source has schemas.
    EXPECT_EQ(SQL_ERROR, SQLTablesW(stmt, w(u""), 0, nullptr, 0, w(u"t"), SQL_NTS, nullptr, 0));
    EXPECT_NE(diagText(SQL_HANDLE_STMT, stmt).find("HY009"), std::string::npos) << diagText(SQL_HANDLE_STMT, stmt);
}

TEST_P(Hs2Catalog, ACatalogCallOnAnOpenCursorIsRefused)
{
    ASSERT_EQ(SQL_SUCCESS, SQLTablesW(stmt, nullptr, 0, w(u"sales"), SQL_NTS, nullptr, 0, nullptr, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    EXPECT_EQ(SQL_ERROR, SQLColumnsW(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
    EXPECT_NE(diagText(SQL_HANDLE_STMT, stmt).find("24000"), std::string::npos) << diagText(SQL_HANDLE_STMT, stmt);
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    EXPECT_EQ(text(3), u"orders");
    // Closed, the statement runs a query again.
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirectW(stmt, w(u"SELECT name FROM sales.customers WHERE id = 2"), SQL_NTS)))
        << diagText(SQL_HANDLE_STMT, stmt);
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    EXPECT_EQ(text(1), u"Globex");
}

INSTANTIATE_TEST_SUITE_P(Identities, Hs2Catalog, ::testing::Values("hive-1.2", "hive-2.3", "hive-3.1", "spark-3"));

// SQLColumns against a 1.2 server, which the driver answers with the
// protocol's GetColumns call: the rows must be those of the SHOW and DESCRIBE
// listing, which CliServiceProtocol 4 keeps. The server's call log tells
// which way each call went.
class Hs2NativeColumns : public katest::Hs2Suite<katest::DriverManagerStmtSuite> {
protected:
    static void SetUpTestSuite() { writeHs2Ini("hs2-native-columns"); }
    void TearDown() override
    {
        DriverManagerStmtSuite::TearDown();
        server.reset();
    }
    // Each test starts the server it needs, with its call log.
    static void startLogged(std::vector<std::string> options)
    {
        options.push_back("--verbose");
        startServer(options, true);
    }
    std::string calls() const { return katest::fileText(log); }
    size_t getColumnsCalls() const { return katest::occurrences(calls(), " GetColumns "); }
    size_t describeCalls() const { return katest::occurrences(calls(), " ExecuteStatement DESCRIBE "); }

    // Every row of SQLColumns on a new connection, its 18 columns joined;
    // *rc the call's return code.
    std::vector<std::u16string> columns(const std::string& extra, const char16_t* schema, const char16_t* table,
                                        const char16_t* column, SQLRETURN* rc = nullptr,
                                        std::string* diagnostics = nullptr)
    {
        std::vector<std::u16string> rows;
        EXPECT_TRUE(SQL_SUCCEEDED(driverConnect(hs2String("LT=20;" + extra)))) << diagText(SQL_HANDLE_DBC, dbc);
        EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        auto arg = [](const char16_t* a) { return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(a)); };
        const SQLRETURN got = SQLColumnsW(stmt, nullptr, 0, arg(schema), schema != nullptr ? SQL_NTS : 0, arg(table),
                                          table != nullptr ? SQL_NTS : 0, arg(column), column != nullptr ? SQL_NTS : 0);
        if (rc != nullptr)
            *rc = got;
        if (diagnostics != nullptr)
            *diagnostics = diagText(SQL_HANDLE_STMT, stmt);
        while (SQL_SUCCEEDED(got) && SQLFetch(stmt) == SQL_SUCCESS) {
            std::u16string row;
            for (SQLUSMALLINT c = 1; c <= 18; ++c) {
                SQLWCHAR buffer[512] = {};
                SQLLEN indicator = 0;
                EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, c, SQL_C_WCHAR, buffer, sizeof buffer, &indicator)));
                row += indicator == SQL_NULL_DATA ? u"<null>" : reinterpret_cast<const char16_t*>(buffer);
                row += u"|";
            }
            rows.push_back(row);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        stmt = SQL_NULL_HSTMT;
        SQLDisconnect(dbc);
        return rows;
    }
};

TEST_F(Hs2NativeColumns, ColumnsComeFromOneGetColumnsCallAsTheShowListingGivesThem)
{
    startLogged({"--server", "hive-1.2"});
    struct Case {
        const char* extra;
        const char16_t* schema;
        const char16_t* table;
        const char16_t* column;
        int rows;  // -1: the whole fixture
    };
    const Case cases[] = {
        {"", nullptr, nullptr, nullptr, -1},
        {"", u"sales", u"ord%", u"%id", 2},
        {"", u"sal_s", u"customers", nullptr, 3},
        // An escaped "_" stands for itself: the server's wider match is
        // narrowed again by the driver.
        {"", u"default", u"all\\_types", u"c%", 18},
        {"", u"sales", u"orders_", nullptr, 0},
        // The listing covers the current database alone.
        {"UseCurrentSchema=1;Database=sales;", nullptr, nullptr, u"name", 1},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        const size_t nativeBefore = getColumnsCalls();
        const size_t describeBefore = describeCalls();
        SQLRETURN rc = 0;
        std::string diagnostics;
        const std::vector<std::u16string> native = columns(c.extra, c.schema, c.table, c.column, &rc, &diagnostics);
        EXPECT_EQ(rc, SQL_SUCCESS) << diagnostics;
        EXPECT_EQ(getColumnsCalls(), nativeBefore + 1);
        EXPECT_EQ(describeCalls(), describeBefore);
        if (c.rows >= 0)
            EXPECT_EQ(native.size(), static_cast<size_t>(c.rows));
        else
            EXPECT_GT(native.size(), 40u);
        const std::vector<std::u16string> shown =
            columns(std::string(c.extra) + "CliServiceProtocol=4;", c.schema, c.table, c.column, &rc, &diagnostics);
        EXPECT_EQ(rc, SQL_SUCCESS) << diagnostics;
        EXPECT_EQ(getColumnsCalls(), nativeBefore + 1);
        if (c.rows != 0) {
            EXPECT_GT(describeCalls(), describeBefore);
        }
        EXPECT_EQ(native, shown);
    }
}

TEST_F(Hs2NativeColumns, TheRowsAreThoseOfTheOtherIdentities)
{
    startLogged({"--server", "hive-1.2"});
    const std::vector<std::u16string> native = columns("", u"sales", nullptr, nullptr);
    EXPECT_EQ(getColumnsCalls(), 1u);
    startLogged({"--server", "hive-2.3"});
    EXPECT_EQ(native, columns("", u"sales", nullptr, nullptr));
    EXPECT_EQ(getColumnsCalls(), 0u);
    EXPECT_GT(describeCalls(), 0u);
}

TEST_F(Hs2NativeColumns, ARefusedGetColumnsFallsBackToTheShowListingQuietly)
{
    // Only the first GetColumns of each session is refused.
    startLogged({"--server", "hive-1.2", "--fault", "refuse=GetColumns:1"});
    SQLRETURN rc = 0;
    std::string diagnostics;
    const std::vector<std::u16string> fallen = columns("", u"sales", nullptr, nullptr, &rc, &diagnostics);
    EXPECT_EQ(rc, SQL_SUCCESS) << diagnostics;
    EXPECT_EQ(getColumnsCalls(), 1u);
    EXPECT_GT(describeCalls(), 0u);
    EXPECT_EQ(fallen.size(), 9u);
    EXPECT_EQ(fallen, columns("CliServiceProtocol=4;", u"sales", nullptr, nullptr));
}

TEST_F(Hs2NativeColumns, ALinkLostInGetColumnsFailsTheCall)
{
    startLogged({"--server", "hive-1.2", "--fault", "drop=GetColumns"});
    SQLRETURN rc = 0;
    std::string diagnostics;
    EXPECT_TRUE(columns("", u"sales", nullptr, nullptr, &rc, &diagnostics).empty());
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_NE(diagnostics.find("08S01"), std::string::npos) << diagnostics;
    EXPECT_EQ(describeCalls(), 0u);
}

}  // namespace
