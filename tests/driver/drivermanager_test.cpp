// The driver loaded by the unixODBC driver manager, as applications meet
// it: handles allocate and free, attributes set before connecting are kept,
// a connect attempt fails with the driver's own diagnostic, and statement or
// descriptor handles on an unconnected connection are refused. The driver
// library and its data source are registered in ini files of the test's own.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/drivermanager.h"

namespace {

using katest::driverLibrary;

struct Diag {
    SQLRETURN rc;
    std::string state;
    std::string text;
};

Diag diagOf(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT rec = 1)
{
    SQLCHAR state[6] = {};
    SQLCHAR text[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRec(type, handle, rec, state, &native, text, sizeof text, &len);
    return {rc, reinterpret_cast<char*>(state), reinterpret_cast<char*>(text)};
}

std::string narrowOf(const SQLWCHAR* s)
{
    std::string out;
    for (; *s != 0; ++s)
        out.push_back(*s < 0x80 ? char(*s) : '?');
    return out;
}

// Nothing listens on port 1 of the loopback address.
const char kRefusal[] = "[Mirrowen][ODBC HiveServer2 driver]The connection to 127.0.0.1 on port 1 failed";

class DriverManager : public katest::DriverManagerSuite {
protected:
    static void SetUpTestSuite()
    {
        writeIni("driver-manager",
                 "[VYspark28]\n"
                 "Description=Driver under test\n"
                 "Driver=" +
                     driverLibrary() + "\n",
                 "[spark]\n"
                 "Driver=VYspark28\n"
                 "HostName=127.0.0.1\n"
                 "PortNumber=1\n");
    }
};

}  // namespace

TEST_F(DriverManager, EnvironmentAttributesSetAndRead)
{
    SQLINTEGER version = 0;
    EXPECT_EQ(SQLGetEnvAttr(env, SQL_ATTR_ODBC_VERSION, &version, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(version, SQL_OV_ODBC3);
    // The version is the application's to choose before it makes connections.
    SQLHENV other = SQL_NULL_HENV;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &other), SQL_SUCCESS);
    EXPECT_EQ(SQLSetEnvAttr(other, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC3_80}), 0),
              SQL_SUCCESS);
    EXPECT_EQ(SQLGetEnvAttr(other, SQL_ATTR_ODBC_VERSION, &version, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(version, SQL_OV_ODBC3_80);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, other), SQL_SUCCESS);
}

TEST_F(DriverManager, TheDriverIsListedUnderItsName)
{
    SQLCHAR name[256];
    SQLCHAR attributes[512];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    bool found = false;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQLDrivers(env, direction, name, sizeof name, &nameLength, attributes, sizeof attributes,
                      &attributesLength) == SQL_SUCCESS) {
        found = found || std::string(reinterpret_cast<char*>(name)) == "VYspark28";
        direction = SQL_FETCH_NEXT;
    }
    EXPECT_TRUE(found);
}

TEST_F(DriverManager, ConnectingFailsWithTheDriversDiagnostic)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>("spark")), SQL_NTS,
                             reinterpret_cast<SQLCHAR*>(const_cast<char*>("user")), SQL_NTS,
                             reinterpret_cast<SQLCHAR*>(const_cast<char*>("secret")), SQL_NTS),
                  SQL_ERROR);
        Diag d = diagOf(SQL_HANDLE_DBC, dbc);
        EXPECT_EQ(d.rc, SQL_SUCCESS);
        EXPECT_EQ(d.state, "08001");
        EXPECT_NE(d.text.find(kRefusal), std::string::npos) << d.text;
    }
}

TEST_F(DriverManager, DriverConnectFailsWithTheDriversDiagnosticInWideForm)
{
    const char* text = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=1;UID=u;PWD=p";
    SQLWCHAR in[128] = {};
    for (size_t i = 0; text[i] != 0; ++i)
        in[i] = static_cast<SQLWCHAR>(text[i]);
    SQLWCHAR out[256];
    SQLSMALLINT outLength = 0;
    EXPECT_EQ(SQLDriverConnectW(dbc, nullptr, in, SQL_NTS, out, 256, &outLength, SQL_DRIVER_NOPROMPT), SQL_ERROR);
    SQLWCHAR state[6] = {};
    SQLWCHAR message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    ASSERT_EQ(SQLGetDiagRecW(SQL_HANDLE_DBC, dbc, 1, state, &native, message, 1024, &length), SQL_SUCCESS);
    EXPECT_EQ(narrowOf(state), "08001");
    EXPECT_NE(narrowOf(message).find(kRefusal), std::string::npos) << narrowOf(message);
}

TEST_F(DriverManager, ConnectionAttributesSetBeforeConnectingAreKept)
{
    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(intptr_t{7}), 0),
              SQL_SUCCESS);
    EXPECT_EQ(
        SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_AUTOCOMMIT_OFF}), 0),
        SQL_SUCCESS);
    SQLUINTEGER value = 0;
    EXPECT_EQ(SQLGetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, 7u);
    // The attributes travel to the driver with the connect attempt, which
    // still fails with the driver's diagnostic.
    EXPECT_EQ(SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>("spark")), SQL_NTS, nullptr, 0, nullptr, 0),
              SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08001");
}

TEST_F(DriverManager, StatementsAndDescriptorsNeedAConnection)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1) {
            EXPECT_EQ(SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>("spark")), SQL_NTS, nullptr, 0,
                                 nullptr, 0),
                      SQL_ERROR);
        }
        for (SQLSMALLINT type : {SQL_HANDLE_STMT, SQL_HANDLE_DESC}) {
            SQLHANDLE handle = SQL_NULL_HANDLE;
            EXPECT_EQ(SQLAllocHandle(type, dbc, &handle), SQL_ERROR);
            EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08003");
        }
    }
}

TEST(DriverLibrary, InformationExportsNameTheVersionAndTheMaker)
{
    void* lib = dlopen(driverLibrary().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using Text = const char* (*)();
    auto version = reinterpret_cast<Text>(dlsym(lib, "getFileVersionString"));
    auto maker = reinterpret_cast<Text>(dlsym(lib, "getCompanyNameString"));
    ASSERT_NE(version, nullptr);
    ASSERT_NE(maker, nullptr);
    EXPECT_STREQ(version(), "08.01.0427 (B0547, U0390)");
    EXPECT_STREQ(maker(), "Mirrowen");
    EXPECT_EQ(dlsym(lib, "baseDriverBaseName"), nullptr);
    dlclose(lib);
}
