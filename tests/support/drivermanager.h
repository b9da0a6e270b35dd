// Suites that reach a driver through unixODBC: the suite's own odbcinst.ini
// and odbc.ini in a private folder of the build tree, and an environment
// and a connection handle for every test (with a statement handle, for the
// suites that run statements), and the diagnostics of a handle as text.
// Shared by the driver-manager suites, which link libodbc rather than the
// driver's libraries.
#pragma once
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace katest {

// The driver library under test, as the build passes it (KA_DRIVER_LIB).
inline std::string driverLibrary()
{
    const char* lib = std::getenv("KA_DRIVER_LIB");
    return lib != nullptr ? lib : "";
}

// Every diagnostic record of the handle as "[state] message" lines; *state
// (optional, when empty) receives the first record's SQLSTATE.
inline std::string diagText(SQLSMALLINT type, SQLHANDLE handle, std::string* state = nullptr)
{
    std::string all;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR s[6] = {};
        SQLCHAR message[2048] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, s, &native, message, sizeof message, &length)))
            break;
        if (state != nullptr && state->empty())
            *state = reinterpret_cast<char*>(s);
        all += std::string("[") + reinterpret_cast<char*>(s) + "] " + reinterpret_cast<char*>(message) + "\n";
    }
    return all;
}

class DriverManagerSuite : public ::testing::Test {
protected:
    // Writes the two files into <build>/tests/<tag>-<pid> and points unixODBC
    // at them. A suite calls it from its SetUpTestSuite.
    static void writeIni(const std::string& tag, const std::string& odbcinst, const std::string& odbc)
    {
        ASSERT_FALSE(driverLibrary().empty()) << "KA_DRIVER_LIB names the driver library";
        const char* build = std::getenv("KA_TEST_BUILD_DIR");
        iniDir = std::string(build != nullptr ? build : ".") + "/tests/" + tag + "-" + std::to_string(getpid());
        ASSERT_EQ(system(("mkdir -p '" + iniDir + "'").c_str()), 0);
        std::ofstream(iniDir + "/odbcinst.ini") << odbcinst;
        std::ofstream(iniDir + "/odbc.ini") << odbc;
        setenv("ODBCSYSINI", iniDir.c_str(), 1);
        setenv("ODBCINSTINI", "odbcinst.ini", 1);
        setenv("ODBCINI", (iniDir + "/odbc.ini").c_str(), 1);
    }

    static void TearDownTestSuite()
    {
        if (!iniDir.empty()) {
            EXPECT_EQ(system(("rm -rf '" + iniDir + "'").c_str()), 0);
        }
    }

    void SetUp() override
    {
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
        ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC3}), 0),
                  SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    }

    void TearDown() override
    {
        SQLDisconnect(dbc);  // refused harmlessly when the test never connected
        EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
        EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
    }

    // SQLDriverConnect without a prompt; *completed (optional) receives the
    // completed connection string.
    SQLRETURN driverConnect(const std::string& in, std::string* completed = nullptr)
    {
        SQLCHAR out[512] = {};
        SQLSMALLINT outLength = 0;
        SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(in.c_str())),
                                        SQL_NTS, out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT);
        if (completed != nullptr)
            *completed = reinterpret_cast<char*>(out);
        return rc;
    }

    SQLUINTEGER get(SQLINTEGER attribute)
    {
        SQLUINTEGER value = 0xdead;
        EXPECT_EQ(SQLGetConnectAttr(dbc, attribute, &value, 0, nullptr), SQL_SUCCESS);
        return value;
    }

    SQLRETURN set(SQLINTEGER attribute, intptr_t value)
    {
        return SQLSetConnectAttr(dbc, attribute, reinterpret_cast<SQLPOINTER>(value), 0);
    }

    inline static std::string iniDir;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
};

// A connection by a connection string with one statement handle on it, both
// let go after the test.
class DriverManagerStmtSuite : public DriverManagerSuite {
protected:
    void connectWithStatement(const std::string& in)
    {
        ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(in))) << diagText(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
    }
    void TearDown() override
    {
        if (stmt != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
        DriverManagerSuite::TearDown();
    }

    SQLHSTMT stmt = SQL_NULL_HSTMT;
};

}  // namespace katest
