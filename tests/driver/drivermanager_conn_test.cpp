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

#include "support/drivermanager.h"

namespace {

using katest::driverLibrary;

class ConnectedDriverManager : public katest::DriverManagerSuite {
protected:
    static void SetUpTestSuite()
    {
        writeIni("driver-manager-conn",
                 "[VYspark28test]\n"
                 "Description=Driver test build\n"
                 "Driver=" +
                     driverLibrary() +
                     "\n"
                     "HostName=drvhost\n"
                     "PortNumber=77\n",
                 "[sparktest]\n"
                 "Driver=VYspark28test\n"
                 "[prec]\n"
                 "Driver=VYspark28test\n"
                 "HostName=dsnhost\n"
                 "LOGONID=dsnuser\n"
                 "[failing]\n"
                 "Driver=VYspark28test\n"
                 "FAIL=1\n");
        // The driver finds its own section through ODBCINST (unixODBC
        // through ODBCSYSINI).
        setenv("ODBCINST", (iniDir + "/odbcinst.ini").c_str(), 1);
    }

    SQLRETURN connect(const char* extra = "")
    {
        return driverConnect(std::string("DRIVER={VYspark28test};UID=u;PWD=p;") + extra);
    }

    // What the test build's open was asked, as its DBMS name tells it.
    std::string asked()
    {
        SQLCHAR name[256] = {};
        SQLSMALLINT length = 0;
        EXPECT_EQ(SQLGetInfo(dbc, SQL_DBMS_NAME, name, sizeof name, &length), SQL_SUCCESS);
        return reinterpret_cast<char*>(name);
    }
};

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
    ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(state)), "08001");
    EXPECT_NE(std::string(reinterpret_cast<char*>(text)).find("[Mirrowen]"), std::string::npos) << text;
}

// The same key in the string, the data source and the driver's section:
// the string wins, then the data source (unless the string names a
// DRIVER), then the driver's section.
TEST_F(ConnectedDriverManager, OptionPrecedenceThroughTheDriverManager)
{
    struct Case {
        const char* in;
        const char* asked;
    };
    const Case cases[] = {
        {"DSN=prec;HOST=strhost;UID=u", "host=strhost;port=77;user=u"},
        {"DSN=prec", "host=dsnhost;port=77;user=dsnuser"},
        {"DSN=sparktest;UID=x", "host=drvhost;port=77;user=x"},
        {"DRIVER={VYspark28test};UID=y", "host=drvhost;port=77;user=y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        std::string completed;
        ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(c.in, &completed)));
        EXPECT_EQ(asked(), c.asked);
        EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    }
}

TEST_F(ConnectedDriverManager, ConnectByDataSourceReadsWhatOdbcinstShows)
{
    ASSERT_TRUE(SQL_SUCCEEDED(SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>("prec")), SQL_NTS,
                                         reinterpret_cast<SQLCHAR*>(const_cast<char*>("me")), SQL_NTS,
                                         reinterpret_cast<SQLCHAR*>(const_cast<char*>("pw")), SQL_NTS)));
    std::string driverRead = asked();
    EXPECT_EQ(driverRead, "host=dsnhost;port=77;user=me");
    // unixODBC's own reader shows the same value for the data source.
    FILE* pipe = popen("odbcinst -q -s -n prec", "r");
    ASSERT_NE(pipe, nullptr);
    std::string shown;
    char line[256];
    while (fgets(line, sizeof line, pipe) != nullptr)
        shown += line;
    EXPECT_EQ(pclose(pipe), 0);
    size_t at = shown.find("HostName=");
    ASSERT_NE(at, std::string::npos) << shown;
    std::string host = shown.substr(at + 9, shown.find('\n', at) - at - 9);
    EXPECT_NE(driverRead.find("host=" + host + ";"), std::string::npos) << shown;
}

TEST_F(ConnectedDriverManager, CompletedStringParsesBackToTheSameConnection)
{
    std::string completed;
    ASSERT_TRUE(SQL_SUCCEEDED(driverConnect("DSN=prec;PWD={a;b}}c};HOST=h1", &completed)));
    EXPECT_EQ(completed, "DSN=prec;PWD={a;b}}c};HOST=h1;UID=dsnuser");
    std::string first = asked();
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    std::string again;
    ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(completed, &again)));
    EXPECT_EQ(again, completed);
    EXPECT_EQ(asked(), first);
}

TEST_F(ConnectedDriverManager, ADataSourceCanAskForTheFailure)
{
    EXPECT_EQ(
        SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>("failing")), SQL_NTS, nullptr, 0, nullptr, 0),
        SQL_ERROR);
}
