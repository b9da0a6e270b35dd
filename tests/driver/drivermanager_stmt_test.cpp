// Statement and descriptor handles of the driver library's test build (its
// connections connect without a server) through the unixODBC driver
// manager: allocated on a connected connection with their implicit
// descriptors, used, and freed by SQLFreeHandle, SQLFreeStmt(SQL_DROP) or
// with their connection at SQLDisconnect.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/drivermanager.h"

namespace {

using katest::driverLibrary;

class StatementsThroughDriverManager : public katest::DriverManagerSuite {
protected:
    static void SetUpTestSuite()
    {
        writeIni("driver-manager-stmt",
                 "[VYspark28test]\n"
                 "Description=Driver test build\n"
                 "Driver=" +
                     driverLibrary() + "\n",
                 "[sparktest]\n"
                 "Driver=VYspark28test\n");
    }

    SQLRETURN connect(const char* extra = "")
    {
        return driverConnect(std::string("DRIVER={VYspark28test};UID=u;PWD=p;") + extra);
    }
};

}  // namespace

TEST_F(StatementsThroughDriverManager, StatementsLiveAndDieOnAConnectedConnection)
{
    ASSERT_TRUE(SQL_SUCCEEDED(connect()));
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    // The driver's implicit descriptors, as the driver manager hands them on.
    SQLHDESC ard = SQL_NULL_HDESC;
    SQLHDESC ird = SQL_NULL_HDESC;
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_IMP_ROW_DESC, &ird, 0, nullptr), SQL_SUCCESS);
    EXPECT_NE(ard, nullptr);
    EXPECT_NE(ird, nullptr);
    EXPECT_NE(ard, ird);
    // A function the driver does not run yet is refused on the statement.
    EXPECT_EQ(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("select 1")), SQL_NTS), SQL_ERROR);
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLCHAR text[512];
    ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(state), "HYC00");
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);

    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeStmt(stmt, SQL_DROP), SQL_SUCCESS);
}

TEST_F(StatementsThroughDriverManager, ExplicitDescriptorsAndLeftoverHandlesGoWithTheConnection)
{
    ASSERT_TRUE(SQL_SUCCEEDED(connect()));
    SQLHDESC desc = SQL_NULL_HDESC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    // Attached as the statement's ARD, and given back when it is freed.
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, desc, 0), SQL_SUCCESS);
    SQLHDESC current = SQL_NULL_HDESC;
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &current, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(current, desc);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, desc), SQL_SUCCESS);
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &current, 0, nullptr), SQL_SUCCESS);
    EXPECT_NE(current, desc);
    EXPECT_NE(current, nullptr);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
    SQLHSTMT stmts[4] = {};
    for (SQLHSTMT& s : stmts)
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &s), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    // SQLDisconnect (TearDown) frees them all; the sanitizer sees any leak.
}
