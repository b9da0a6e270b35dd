// Escape clauses through unixODBC against the bundled HiveServer2 test server:
// SQLNativeSql gives the HiveQL text (the ANSI join the server reads), and
// both that text and the application's own, executed directly, return the
// rows of the join, NULLs where no order exists.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"

namespace {

using katest::diagText;

class Hs2OuterJoin : public katest::DriverManagerStmtSuite {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/hs2-oj-data.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dataDir = pattern;
        std::ofstream(dataDir + "/shop.json") << R"({"database": "shop", "tables": [
                 {"name": "customers", "columns": [["id", "int"], ["name", "string"]],
                  "rows": [[1, "Ada"], [2, "Bo"], [3, "Cy"]]},
                 {"name": "orders", "columns": [["cid", "int"], ["qty", "int"]],
                  "rows": [[1, 5], [1, 7], [3, 2], [9, 4]]}]})";
        server = std::make_unique<katest::Hs2Process>(std::vector<std::string>{"--data", dataDir});
        ASSERT_NE(0, server->port());
        writeIni("hs2-oj", "[VYspark28]\nDescription=Driver under test\nDriver=" + katest::driverLibrary() + "\n",
                 "[ODBC]\nIANAAppCodePage=106\n");
    }
    static void TearDownTestSuite()
    {
        server.reset();
        std::remove((dataDir + "/shop.json").c_str());
        rmdir(dataDir.c_str());
        DriverManagerSuite::TearDownTestSuite();
    }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement("DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() +
                             ";UID=u;PWD=p;LT=20;Database=shop");
    }

    // The rows a text returns, one "id:name:qty" each ("-" for NULL).
    std::vector<std::string> run(const SQLCHAR* text)
    {
        std::vector<std::string> rows;
        if (SQLExecDirect(stmt, const_cast<SQLCHAR*>(text), SQL_NTS) != SQL_SUCCESS) {
            ADD_FAILURE() << reinterpret_cast<const char*>(text) << ": " << diagText(SQL_HANDLE_STMT, stmt);
            return rows;
        }
        while (SQLFetch(stmt) == SQL_SUCCESS) {
            std::string row;
            for (SQLUSMALLINT c = 1; c <= 3; ++c) {
                char value[64] = {};
                SQLLEN ind = 0;
                EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, c, SQL_C_CHAR, value, sizeof value, &ind)));
                row += (c > 1 ? ":" : "") + (ind == SQL_NULL_DATA ? std::string("-") : std::string(value));
            }
            rows.push_back(row);
        }
        SQLCloseCursor(stmt);
        return rows;
    }

    // The driver's text for the application's runs, and so does the
    // application's own text: both return the same rows.
    std::vector<std::string> rowsOf(const std::string& odbcText)
    {
        SQLCHAR native[1024] = {};
        SQLINTEGER nativeLength = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLNativeSql(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(odbcText.c_str())),
                                            SQL_NTS, native, sizeof native, &nativeLength))
            << diagText(SQL_HANDLE_DBC, dbc);
        EXPECT_EQ(std::string::npos, std::string(reinterpret_cast<char*>(native)).find('{'));
        std::vector<std::string> rows = run(native);
        EXPECT_EQ(rows, run(reinterpret_cast<const SQLCHAR*>(odbcText.c_str()))) << odbcText;
        return rows;
    }

    inline static std::unique_ptr<katest::Hs2Process> server;
    inline static std::string dataDir;
};

TEST_F(Hs2OuterJoin, LeftOuterJoinKeepsCustomersWithoutOrders)
{
    EXPECT_EQ(rowsOf("SELECT c.id, c.name, o.qty FROM {oj customers c LEFT OUTER JOIN orders o ON c.id = o.cid} "
                     "ORDER BY c.id, o.qty"),
              (std::vector<std::string>{"1:Ada:5", "1:Ada:7", "2:Bo:-", "3:Cy:2"}));
}

// An OR in the ON condition stays the join's; the WHERE after the escape
// filters the joined rows.
TEST_F(Hs2OuterJoin, TheConditionWithOrStaysTheJoins)
{
    EXPECT_EQ(rowsOf("SELECT c.id, c.name, o.qty FROM "
                     "{oj customers c LEFT OUTER JOIN orders o ON c.id = o.cid AND (o.qty > 5 OR o.qty < 3)} "
                     "WHERE c.id <> 2 ORDER BY c.id"),
              (std::vector<std::string>{"1:Ada:7", "3:Cy:2"}));
}

// Scalar functions and date literals are translated when a statement runs,
// not only by SQLNativeSql.
TEST_F(Hs2OuterJoin, OtherEscapesRunAsExecuted)
{
    EXPECT_EQ(rowsOf("SELECT c.id, {fn UCASE(c.name)}, {fn CONCAT('q', 'x')} FROM customers c WHERE c.id = 1"),
              (std::vector<std::string>{"1:ADA:qx"}));
    EXPECT_EQ(rowsOf("SELECT c.id, c.name, {d '2020-01-31'} FROM customers c WHERE c.id = 2"),
              (std::vector<std::string>{"2:Bo:2020-01-31"}));
}

// SQL_ATTR_NOSCAN sends the text as written: the server refuses the brace.
TEST_F(Hs2OuterJoin, NoScanSendsEscapesAsWritten)
{
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_NOSCAN, reinterpret_cast<SQLPOINTER>(SQL_NOSCAN_ON), 0));
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(stmt, (SQLCHAR*)"SELECT {fn UCASE(name)} FROM customers", SQL_NTS));
}

}  // namespace
