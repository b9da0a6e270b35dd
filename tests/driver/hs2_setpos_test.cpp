// SQLSetPos and SQLBulkOperations through unixODBC against the bundled
// HiveServer2 test server: Hive's cursors are forward-only and read-only, so
// positioning and changes of rows are refused with the SQLSTATE ODBC names
// for each, before anything reaches the server, and the cursor reads on
// afterwards; SQLGetFunctions agrees with the cursor attributes.
#include <memory>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"
#include "support/hs2suite.h"

namespace {

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

class Hs2SetPos : public katest::Hs2Suite<katest::DriverManagerStmtSuite> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-setpos", {}); }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement("DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20");
    }

    // The first SQLSTATE of the statement's diagnostics.
    std::string state()
    {
        std::string first;
        katest::diagText(SQL_HANDLE_STMT, stmt, &first);
        return first;
    }
};

}  // namespace

TEST_F(Hs2SetPos, PositioningAndChangesOnAForwardOnlyReadOnlyCursorAreRefused)
{
    // The driver keeps read-only concurrency whatever is asked.
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO,
              SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), 0));
    EXPECT_EQ("01S02", state());
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id, name FROM people ORDER BY id"), SQL_NTS));
    SQLINTEGER id = 0;
    SQLLEN idLength = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 1, SQL_C_SLONG, &id, 0, &idLength));
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    const SQLINTEGER firstId = id;

    struct Case {
        const char* what;
        bool bulk;
        SQLSETPOSIROW row;
        SQLUSMALLINT operation;
        SQLUSMALLINT lock;
        const char* expected;
    };
    const Case cases[] = {
        {"position", false, 1, SQL_POSITION, SQL_LOCK_NO_CHANGE, "HY109"},
        {"refresh", false, 1, SQL_REFRESH, SQL_LOCK_NO_CHANGE, "HY109"},
        {"update", false, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE, "HY109"},
        {"delete", false, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE, "HY109"},
        {"add through SetPos", false, 0, SQL_ADD, SQL_LOCK_NO_CHANGE, "HY092"},
        // The driver does not offer SQLBulkOperations, so the driver
        // manager answers for it.
        {"bulk add", true, 0, SQL_ADD, 0, "IM001"},
        {"bulk update by bookmark", true, 0, SQL_UPDATE_BY_BOOKMARK, 0, "IM001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SQLRETURN rc = c.bulk ? SQLBulkOperations(stmt, static_cast<SQLSMALLINT>(c.operation))
                                    : SQLSetPos(stmt, c.row, c.operation, c.lock);
        EXPECT_EQ(SQL_ERROR, rc);
        EXPECT_EQ(c.expected, state());
    }
    // The refusals left the cursor where it was: it reads on.
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    EXPECT_GT(id, firstId);
}

TEST_F(Hs2SetPos, SetPosWithoutAResultIsOutOfSequence)
{
    SQLRETURN rc = SQLSetPos(stmt, 1, SQL_POSITION, SQL_LOCK_NO_CHANGE);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_EQ("HY010", state());
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt, sql("SELECT id FROM people"), SQL_NTS));
    rc = SQLBulkOperations(stmt, SQL_ADD);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_EQ("HY010", state());
}

TEST_F(Hs2SetPos, GetFunctionsAgreesWithTheCursorAttributes)
{
    // Every cursor is read-only: rows are never changed, so bulk operations
    // are not offered; SQLSetPos is, exactly where a cursor type positions
    // or refreshes rows.
    SQLUINTEGER concurrency = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, SQL_SCROLL_CONCURRENCY, &concurrency, sizeof concurrency, nullptr));
    EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_SCCO_READ_ONLY), concurrency);
    bool positions = false;
    for (SQLUSMALLINT info :
         {SQL_STATIC_CURSOR_ATTRIBUTES1, SQL_KEYSET_CURSOR_ATTRIBUTES1, SQL_DYNAMIC_CURSOR_ATTRIBUTES1}) {
        SQLUINTEGER attributes = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, info, &attributes, sizeof attributes, nullptr));
        positions = positions || (attributes & (SQL_CA1_POS_POSITION | SQL_CA1_POS_REFRESH)) != 0;
    }
    SQLUSMALLINT offered = 9;
    ASSERT_EQ(SQL_SUCCESS, SQLGetFunctions(dbc, SQL_API_SQLSETPOS, &offered));
    EXPECT_EQ(positions ? SQL_TRUE : SQL_FALSE, offered);
    ASSERT_EQ(SQL_SUCCESS, SQLGetFunctions(dbc, SQL_API_SQLBULKOPERATIONS, &offered));
    EXPECT_EQ(SQL_FALSE, offered);
}
