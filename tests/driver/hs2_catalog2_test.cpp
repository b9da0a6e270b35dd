// SQLSpecialColumns, SQLColumnPrivileges, SQLTablePrivileges and
// SQLGetTypeInfo through unixODBC against the test server under each server
// identity, where pyodbc cannot ask them: the searchable columns of a table
// for the current row, the empty privilege results with their columns, and
// the type table as an ODBC 2 application sees it.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"

namespace {

using katest::diagText;

using Cell = std::optional<std::string>;
using Rows = std::vector<std::vector<Cell>>;

// Every row of the statement's result, columns 1 to n as UTF-8 text.
Rows readAll(SQLHSTMT stmt, SQLSMALLINT n)
{
    Rows rows;
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            break;
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << diagText(SQL_HANDLE_STMT, stmt);
        if (!SQL_SUCCEEDED(rc))
            break;
        std::vector<Cell> row;
        for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(n); ++c) {
            char buf[512] = {};
            SQLLEN indicator = 0;
            EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, c, SQL_C_CHAR, buf, sizeof buf, &indicator))
                << diagText(SQL_HANDLE_STMT, stmt);
            row.push_back(indicator == SQL_NULL_DATA ? Cell{} : Cell{std::string(buf)});
        }
        rows.push_back(row);
    }
    EXPECT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    return rows;
}

SQLSMALLINT columnCount(SQLHSTMT stmt)
{
    SQLSMALLINT n = -1;
    EXPECT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &n));
    return n;
}

SQLCHAR* text(const char* s)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s));
}

class Hs2CatalogFunctions : public katest::DriverManagerStmtSuite, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override
    {
        server = std::make_unique<katest::Hs2Process>(std::vector<std::string>{"--server", GetParam()});
        ASSERT_NE(0, server->port());
        writeIni("hs2-catalog2", "[VYspark28]\nDescription=Driver under test\nDriver=" + katest::driverLibrary() + "\n",
                 "[ODBC]\nIANAAppCodePage=106\n");
        DriverManagerStmtSuite::SetUp();
    }
    void TearDown() override
    {
        DriverManagerStmtSuite::TearDown();
        server.reset();
    }
    std::string connectionString(const std::string& extra) const
    {
        return "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20;" + extra;
    }

    std::unique_ptr<katest::Hs2Process> server;
};

TEST_P(Hs2CatalogFunctions, SearchableColumnsIdentifyTheCurrentRow)
{
    ASSERT_NO_FATAL_FAILURE(connectWithStatement(connectionString("RSSC=1;TimestampIsSearchable=0;")));
    // The schema in another case than the database still finds the table.
    ASSERT_EQ(SQL_SUCCESS, SQLSpecialColumns(stmt, SQL_BEST_ROWID, nullptr, 0, text("DEFAULT"), SQL_NTS, text("people"),
                                             SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE))
        << diagText(SQL_HANDLE_STMT, stmt);
    ASSERT_EQ(columnCount(stmt), 8);
    std::vector<std::string> names;
    for (const auto& r : readAll(stmt, 8)) {
        EXPECT_EQ(r[0], Cell{"0"});
        EXPECT_EQ(r[7], Cell{"1"});
        names.push_back(r[1].value_or("<null>") + ":" + r[3].value_or("<null>"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"id:int", "name:string", "city:string", "age:int", "joined:date",
                                               "score:double"}));
    // A timestamp column is not searchable here; the others are.
    ASSERT_EQ(SQL_SUCCESS, SQLSpecialColumns(stmt, SQL_BEST_ROWID, nullptr, 0, text("sales"), SQL_NTS, text("orders"),
                                             SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE));
    std::vector<std::string> orders;
    for (const auto& r : readAll(stmt, 8))
        orders.push_back(r[1].value_or("<null>"));
    EXPECT_EQ(orders, (std::vector<std::string>{"order_id", "customer_id", "amount", "status", "dt"}));
    // A type the driver cannot describe (binary) is left out and the scan
    // goes on to the columns after it.
    ASSERT_EQ(SQL_SUCCESS, SQLSpecialColumns(stmt, SQL_BEST_ROWID, nullptr, 0, text("default"), SQL_NTS,
                                             text("all_types"), SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE));
    std::vector<std::string> all;
    for (const auto& r : readAll(stmt, 8))
        all.push_back(r[1].value_or("<null>"));
    EXPECT_EQ(std::count(all.begin(), all.end(), "c_binary"), 0);
    EXPECT_EQ(std::count(all.begin(), all.end(), "c_timestamp"), 0);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), "id");
    EXPECT_EQ(all.back(), "c_struct");
    // Other scopes, row versions and NOT NULL requests: nothing.
    for (SQLUSMALLINT type : {SQL_BEST_ROWID, SQL_ROWVER}) {
        for (SQLUSMALLINT scope : {SQL_SCOPE_CURROW, SQL_SCOPE_TRANSACTION}) {
            for (SQLUSMALLINT nullable : {SQL_NO_NULLS, SQL_NULLABLE}) {
                if (type == SQL_BEST_ROWID && scope == SQL_SCOPE_CURROW && nullable == SQL_NULLABLE)
                    continue;
                ASSERT_EQ(SQL_SUCCESS, SQLSpecialColumns(stmt, type, nullptr, 0, text("default"), SQL_NTS,
                                                         text("people"), SQL_NTS, scope, nullable));
                EXPECT_EQ(readAll(stmt, 8).size(), 0u) << type << " " << scope << " " << nullable;
            }
        }
    }
}

TEST_P(Hs2CatalogFunctions, SpecialColumnsAreEmptyByDefault)
{
    ASSERT_NO_FATAL_FAILURE(connectWithStatement(connectionString("")));
    ASSERT_EQ(SQL_SUCCESS, SQLSpecialColumns(stmt, SQL_BEST_ROWID, nullptr, 0, text("default"), SQL_NTS, text("people"),
                                             SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE));
    EXPECT_EQ(columnCount(stmt), 8);
    EXPECT_EQ(readAll(stmt, 8).size(), 0u);
    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLSpecialColumns(stmt, SQL_BEST_ROWID, nullptr, 0, text("default"), SQL_NTS, nullptr, 0,
                                           SQL_SCOPE_CURROW, SQL_NULLABLE));
    diagText(SQL_HANDLE_STMT, stmt, &state);
    EXPECT_EQ(state, "HY009");
}

TEST_P(Hs2CatalogFunctions, PrivilegesAreEmptyWithTheirColumns)
{
    ASSERT_NO_FATAL_FAILURE(connectWithStatement(connectionString("")));
    ASSERT_EQ(SQL_SUCCESS, SQLColumnPrivileges(stmt, nullptr, 0, text("default"), SQL_NTS, text("people"), SQL_NTS,
                                               text("%"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(columnCount(stmt), 8);
    EXPECT_EQ(readAll(stmt, 8).size(), 0u);
    ASSERT_EQ(SQL_SUCCESS, SQLTablePrivileges(stmt, nullptr, 0, text("%"), SQL_NTS, text("%"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(columnCount(stmt), 7);
    SQLCHAR name[64] = {};
    SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(stmt, 7, name, sizeof name, &length, &type, &size, &digits, &nullable));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name)), "IS_GRANTABLE");
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(readAll(stmt, 7).size(), 0u);
    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLColumnPrivileges(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
    diagText(SQL_HANDLE_STMT, stmt, &state);
    EXPECT_EQ(state, "HY009");
}

TEST_P(Hs2CatalogFunctions, AnOdbc2ApplicationSeesTheOldDateTimeTypes)
{
    SQLHENV env2 = SQL_NULL_HENV;
    SQLHDBC dbc2 = SQL_NULL_HDBC;
    SQLHSTMT stmt2 = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env2), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env2, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC2}), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env2, &dbc2), SQL_SUCCESS);
    const std::string in = connectionString("");
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLDriverConnect(dbc2, nullptr, text(in.c_str()), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
        << diagText(SQL_HANDLE_DBC, dbc2);
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc2, &stmt2));
    ASSERT_EQ(SQL_SUCCESS, SQLGetTypeInfo(stmt2, SQL_TIMESTAMP)) << diagText(SQL_HANDLE_STMT, stmt2);
    Rows rows = readAll(stmt2, 17);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], Cell{"timestamp"});
    EXPECT_EQ(rows[0][1], Cell{"11"});
    EXPECT_EQ(rows[0][15], Cell{"9"});
    EXPECT_EQ(rows[0][16], Cell{"3"});
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt2), SQL_SUCCESS);
    EXPECT_EQ(SQLDisconnect(dbc2), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc2), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env2), SQL_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Identities, Hs2CatalogFunctions,
                         ::testing::Values("hive-1.2", "hive-2.3", "hive-3.1", "spark-3"));

}  // namespace
