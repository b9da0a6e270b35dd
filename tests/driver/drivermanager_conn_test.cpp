// The driver library's test build (its connections connect without a
// server) loaded by the unixODBC driver manager: attributes set before the
// connect are read back after it, and a failed connect's diagnostic reaches
// SQLGetDiagRec. (The driver manager frees the driver's connection handle at
// SQLDisconnect, so what a handle carries from one connect to the next is
// tested at the exports, tests/odbc/odbcapi_conn_test.cpp.)
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string driverLibrary()
{
    const char* lib = std::getenv("KA_DRIVER_LIB");
    return lib != nullptr ? lib : "";
}

class ConnectedDriverManager : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(driverLibrary().empty()) << "KA_DRIVER_LIB names the driver library";
        const char* build = std::getenv("KA_TEST_BUILD_DIR");
        iniDir = std::string(build != nullptr ? build : ".") + "/tests/driver-manager-conn-" +
                 std::to_string(getpid());
        ASSERT_EQ(system(("mkdir -p '" + iniDir + "'").c_str()), 0);
        std::ofstream(iniDir + "/odbcinst.ini") << "[VYspark28test]\n"
                                                   "Description=Driver test build\n"
                                                   "Driver=" << driverLibrary() << "\n";
        std::ofstream(iniDir + "/odbc.ini") << "[sparktest]\n"
                                               "Driver=VYspark28test\n";
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
        ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                                reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC3}), 0),
                  SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    }

    void TearDown() override
    {
        SQLDisconnect(dbc);
        EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
        EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
    }

    SQLRETURN connect(const char* extra = "")
    {
        std::string in = std::string("DRIVER={VYspark28test};UID=u;PWD=p;") + extra;
        SQLCHAR out[512];
        SQLSMALLINT outLength = 0;
        return SQLDriverConnect(dbc, nullptr,
                                reinterpret_cast<SQLCHAR*>(const_cast<char*>(in.c_str())),
                                SQL_NTS, out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT);
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

    static std::string iniDir;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
};

std::string ConnectedDriverManager::iniDir;

}  // namespace

TEST_F(ConnectedDriverManager, AttributesSetBeforeConnectAreReadBackAfterIt)
{
    ASSERT_EQ(set(SQL_ATTR_LOGIN_TIMEOUT, 12), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_SUCCESS);
    ASSERT_TRUE(SQL_SUCCEEDED(connect()));
    EXPECT_EQ(get(SQL_ATTR_LOGIN_TIMEOUT), 12u);
    EXPECT_EQ(get(SQL_ATTR_TXN_ISOLATION), SQLUINTEGER{SQL_TXN_SERIALIZABLE});
}

TEST_F(ConnectedDriverManager, AFailedConnectsDiagnosticReachesSqlGetDiagRec)
{
    ASSERT_EQ(connect("FAIL=1"), SQL_ERROR);
    SQLCHAR state[6] = {};
    SQLCHAR text[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, text, sizeof text, &length),
              SQL_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(state)), "08001");
    EXPECT_NE(std::string(reinterpret_cast<char*>(text)).find("[Mirrowen]"), std::string::npos)
        << text;
}
