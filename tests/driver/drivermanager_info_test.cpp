// SQLGetInfo and the connection attributes of the driver's test build
// through the unixODBC driver manager: narrow answers converted by the
// driver manager, numbers at their width, unknown types refused, the login
// time-out given before connecting read back after it, the pool statistics
// read with a binary length, and the ODBC 2 forms (SQLSetConnectOption,
// SQLGetConnectOption) of an ODBC 2 application.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/drivermanager.h"
#include "support/guarded.h"

namespace {

using katest::driverLibrary;
using katest::Guarded;

class InfoDriverManager : public katest::DriverManagerSuite {
protected:
    static void SetUpTestSuite()
    {
        writeIni("driver-manager-info",
                 "[VYspark28test]\n"
                 "Description=Driver test build\n"
                 "Driver=" +
                     driverLibrary() + "\n",
                 "[infotest]\n"
                 "Driver=VYspark28test\n");
    }

    SQLRETURN connect() { return driverConnect("DSN=infotest;UID=someone;PWD=p"); }

    std::string state(SQLSMALLINT type, SQLHANDLE handle)
    {
        SQLCHAR sqlstate[6] = {};
        SQLCHAR text[512] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (SQLGetDiagRec(type, handle, 1, sqlstate, &native, text, sizeof text, &length) != SQL_SUCCESS)
            return "none";
        return reinterpret_cast<char*>(sqlstate);
    }
};

}  // namespace

TEST_F(InfoDriverManager, AnswersComeAsTextsAndNumbersOfTheirWidth)
{
    ASSERT_TRUE(SQL_SUCCEEDED(connect()));
    SQLCHAR text[64] = {};
    SQLSMALLINT length = 0;
    ASSERT_EQ(SQLGetInfo(dbc, SQL_XOPEN_CLI_YEAR, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(text), "1995");
    EXPECT_EQ(length, 4);
    ASSERT_EQ(SQLGetInfo(dbc, SQL_USER_NAME, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(text), "someone");
    // A cut text says so (the driver manager narrows it and cuts it).
    SQLCHAR small[3] = {};
    EXPECT_EQ(SQLGetInfo(dbc, SQL_XOPEN_CLI_YEAR, small, sizeof small, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(reinterpret_cast<char*>(small), "19");

    Guarded<uint8_t> two(2);
    ASSERT_EQ(SQLGetInfo(dbc, SQL_CURSOR_COMMIT_BEHAVIOR, two.data(), 2, &length), SQL_SUCCESS);
    EXPECT_EQ(length, 2);
    uint16_t behaviour = 0;
    std::memcpy(&behaviour, two.data(), 2);
    EXPECT_EQ(behaviour, SQL_CB_PRESERVE);
    EXPECT_TRUE(two.guardsIntact());
    Guarded<uint8_t> four(4);
    ASSERT_EQ(SQLGetInfo(dbc, SQL_AGGREGATE_FUNCTIONS, four.data(), 4, &length), SQL_SUCCESS);
    uint32_t aggregates = 0;
    std::memcpy(&aggregates, four.data(), 4);
    EXPECT_EQ(aggregates, uint32_t{SQL_AF_ALL});
    EXPECT_TRUE(four.guardsIntact());

    EXPECT_EQ(SQLGetInfo(dbc, 9999, text, sizeof text, &length), SQL_ERROR);
    EXPECT_EQ(state(SQL_HANDLE_DBC, dbc), "HYC00");
}

TEST_F(InfoDriverManager, AttributesBeforeAndAfterConnecting)
{
    ASSERT_EQ(set(SQL_ATTR_LOGIN_TIMEOUT, 9), SQL_SUCCESS);
    ASSERT_TRUE(SQL_SUCCEEDED(connect()));
    EXPECT_EQ(get(SQL_ATTR_LOGIN_TIMEOUT), 9u);
    // Only before the open.
    EXPECT_EQ(set(SQL_ATTR_LOGIN_TIMEOUT, 3), SQL_ERROR);
    EXPECT_EQ(state(SQL_HANDLE_DBC, dbc), "HY011");
    EXPECT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    EXPECT_EQ(get(SQL_ATTR_AUTOCOMMIT), SQLUINTEGER{SQL_AUTOCOMMIT_OFF});
    EXPECT_EQ(set(SQL_ATTR_ACCESS_MODE, 5), SQL_ERROR);
    EXPECT_EQ(state(SQL_HANDLE_DBC, dbc), "HY024");
    EXPECT_EQ(get(SQL_ATTR_CONNECTION_DEAD), SQLUINTEGER{SQL_CD_FALSE});

    // The pool statistics: 48 bytes, never more than the length stated.
    Guarded<int64_t> statistics(6, int64_t{-1});
    SQLINTEGER length = 0;
    EXPECT_EQ(SQLGetConnectAttr(dbc, 1070, statistics.data(), SQL_LEN_BINARY_ATTR(48), &length), SQL_SUCCESS);
    EXPECT_EQ(statistics.data()[0], 1);
    EXPECT_EQ(statistics.data()[5], 0);
    EXPECT_TRUE(statistics.guardsIntact());
    Guarded<uint8_t> small(16, 0xAB);
    EXPECT_EQ(SQLGetConnectAttr(dbc, 1070, small.data(), SQL_LEN_BINARY_ATTR(16), &length), SQL_ERROR);
    EXPECT_EQ(state(SQL_HANDLE_DBC, dbc), "HY090");
    EXPECT_TRUE(small.guardsIntact());
    EXPECT_EQ(small.data()[0], 0xAB);
}

TEST_F(InfoDriverManager, OdbcTwoApplicationsUseTheConnectOptions)
{
    SQLHENV env2 = SQL_NULL_HENV;
    SQLHDBC dbc2 = SQL_NULL_HDBC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env2), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env2, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC2}), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env2, &dbc2), SQL_SUCCESS);
    EXPECT_EQ(SQLSetConnectOption(dbc2, SQL_LOGIN_TIMEOUT, 11), SQL_SUCCESS);
    SQLCHAR in[] = "DSN=infotest;UID=u;PWD=p";
    SQLCHAR out[256] = {};
    SQLSMALLINT outLength = 0;
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLDriverConnect(dbc2, nullptr, in, SQL_NTS, out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT)));
    SQLUINTEGER value = 0;
    EXPECT_EQ(SQLGetConnectOption(dbc2, SQL_LOGIN_TIMEOUT, &value), SQL_SUCCESS);
    EXPECT_EQ(value, 11u);
    EXPECT_EQ(SQLSetConnectOption(dbc2, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    EXPECT_EQ(SQLGetConnectOption(dbc2, SQL_AUTOCOMMIT, &value), SQL_SUCCESS);
    EXPECT_EQ(value, SQLUINTEGER{SQL_AUTOCOMMIT_OFF});
    EXPECT_EQ(SQLSetConnectOption(dbc2, SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_SUCCESS);
    EXPECT_EQ(SQLGetConnectOption(dbc2, SQL_TXN_ISOLATION, &value), SQL_SUCCESS);
    EXPECT_EQ(value, SQLUINTEGER{SQL_TXN_SERIALIZABLE});
    // A statement option set on the connection is kept for its statements.
    EXPECT_EQ(SQLSetConnectOption(dbc2, SQL_MAX_ROWS, 20), SQL_SUCCESS);
    // An option the driver does not know: ODBC 2's state for it.
    EXPECT_EQ(SQLSetConnectOption(dbc2, 4242, 1), SQL_ERROR);
    EXPECT_EQ(state(SQL_HANDLE_DBC, dbc2), "S1C00");
    EXPECT_EQ(SQLDisconnect(dbc2), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc2), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env2), SQL_SUCCESS);
}
