// SQLBrowseConnect through unixODBC against the bundled HiveServer2 test
// server: the driver's first level is asked for, given in two calls, the
// connection opens and runs a query; a data source answers its own rows
// and a refused login ends the browse; what SQLGetFunctions then tells the
// application of SQLBrowseConnect.
#include <memory>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"

namespace {

class Hs2Browse : public katest::DriverManagerSuite {
protected:
    static void SetUpTestSuite()
    {
        server = std::make_unique<katest::Hs2Process>(
            std::vector<std::string>{"--server", "hive-3.1", "--user", "ann", "--password", "se;cr}et"});
        ASSERT_NE(0, server->port());
        writeIni("hs2-browse", "[VYspark28]\nDescription=Driver under test\nDriver=" + katest::driverLibrary() + "\n",
                 "[hs2]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=" + server->portText() + "\n");
    }
    static void TearDownTestSuite()
    {
        server.reset();
        DriverManagerSuite::TearDownTestSuite();
    }

    SQLRETURN browse(const std::string& in)
    {
        char out[4096];
        out[sizeof out - 1] = '\x7f';
        SQLSMALLINT length = -1;
        SQLRETURN rc = SQLBrowseConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(in.c_str())), SQL_NTS,
                                        reinterpret_cast<SQLCHAR*>(out), sizeof out - 1, &length);
        EXPECT_EQ(out[sizeof out - 1], '\x7f');
        reply = rc == SQL_ERROR || rc == SQL_INVALID_HANDLE ? std::string() : std::string(out);
        return rc;
    }

    // The first row's first column of a query, as text.
    std::string firstValue(const char* sql)
    {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        std::string value;
        if (SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS)) &&
            SQL_SUCCEEDED(SQLFetch(stmt))) {
            char text[64] = {};
            SQLLEN got = 0;
            if (SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_CHAR, text, sizeof text, &got)))
                value = text;
        } else {
            value = "failed: " + katest::diagText(SQL_HANDLE_STMT, stmt);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return value;
    }

    inline static std::unique_ptr<katest::Hs2Process> server;
    std::string reply;
};

bool lists(const std::string& reply, const std::string& item)
{
    return reply.find(item) != std::string::npos;
}

TEST_F(Hs2Browse, TwoCallsGiveTheFirstLevelAndTheConnectionRunsAQuery)
{
    ASSERT_EQ(SQL_NEED_DATA, browse("DRIVER={VYspark28}")) << katest::diagText(SQL_HANDLE_DBC, dbc);
    // Required rows without "*", optional ones with it, list rows with their
    // choices, and the password the driver asks for with this level.
    for (const char* item :
         {"HOST:HostName=?;", "PORT:PortNumber=?;", "UID:LogonID=?;", "SPN:ServicePrincipalName=?;", "PXU:ProxyUser=?;",
          "*DB:Database=?;", "*KeepAlive=?;",
          "*AM:AuthenticationMethod={-1 - No Authentication,0 - User ID/Password,4 - Kerberos};", "PWD:Password=?;"})
        EXPECT_TRUE(lists(reply, item)) << item << " in " << reply;
    // Never asked: the extended options, the second level, level 0.
    for (const char* item : {"XO:", "VT:", "GSSC:", "Description"})
        EXPECT_FALSE(lists(reply, item)) << item << " in " << reply;

    ASSERT_EQ(SQL_NEED_DATA, browse("HOST=127.0.0.1;PORT=" + server->portText()))
        << katest::diagText(SQL_HANDLE_DBC, dbc);
    EXPECT_FALSE(lists(reply, "HOST:")) << reply;
    EXPECT_TRUE(lists(reply, "UID:LogonID=?;")) << reply;

    // A list answered with one of the choices it offered: the driver reads
    // the choice's value.
    ASSERT_EQ(SQL_SUCCESS, browse("UID=ann;PWD={se;cr}}et};SPN=;PXU=;AM=0 - User ID/Password;TM=1 - Ignore"))
        << katest::diagText(SQL_HANDLE_DBC, dbc);
    EXPECT_TRUE(lists(reply, "HOST=127.0.0.1;PORT=" + server->portText())) << reply;
    EXPECT_TRUE(lists(reply, "AM=0;TM=1;")) << reply;
    SQLUINTEGER autocommit = SQL_AUTOCOMMIT_ON;
    // Switching autocommit off is what the transaction mode "Ignore" allows.
    EXPECT_EQ(SQL_SUCCESS,
              SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))
        << katest::diagText(SQL_HANDLE_DBC, dbc);
    ASSERT_EQ(SQL_SUCCESS, SQLGetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, &autocommit, 0, nullptr));
    EXPECT_EQ(SQL_AUTOCOMMIT_OFF, autocommit);
    EXPECT_EQ(SQL_SUCCESS,
              SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0));
    EXPECT_TRUE(lists(reply, "PWD={se;cr}}et}")) << reply;
    EXPECT_EQ("1", firstValue("SELECT id FROM bench.synthetic"));

    // The driver's own answer leaves SQLBrowseConnect out, but the driver
    // manager answers from the entry points the driver exports: the
    // application is told what it just used works.
    SQLUSMALLINT supported = 9;
    ASSERT_EQ(SQL_SUCCESS, SQLGetFunctions(dbc, SQL_API_SQLBROWSECONNECT, &supported));
    EXPECT_EQ(SQL_TRUE, supported);
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
}

TEST_F(Hs2Browse, ADataSourceAnswersItsRowsAndAWrongPasswordEndsTheBrowse)
{
    ASSERT_EQ(SQL_NEED_DATA, browse("DSN=hs2")) << katest::diagText(SQL_HANDLE_DBC, dbc);
    EXPECT_FALSE(lists(reply, "HOST:")) << reply;
    EXPECT_FALSE(lists(reply, "PORT:")) << reply;
    EXPECT_TRUE(lists(reply, "UID:LogonID=?;")) << reply;

    // The refusal comes back as warnings of a failed call, without the
    // password it was given.
    EXPECT_EQ(SQL_ERROR, browse("UID=ann;PWD=wrong;SPN=;PXU="));
    std::string state;
    std::string text = katest::diagText(SQL_HANDLE_DBC, dbc, &state);
    EXPECT_TRUE(lists(text, "refused the login")) << state << " " << text;
    EXPECT_FALSE(lists(text, "wrong")) << text;

    // A new browse starts from the beginning.
    ASSERT_EQ(SQL_NEED_DATA, browse("DSN=hs2"));
    ASSERT_EQ(SQL_SUCCESS, browse("UID=ann;PWD={se;cr}}et};SPN=;PXU=")) << katest::diagText(SQL_HANDLE_DBC, dbc);
    EXPECT_TRUE(lists(reply, "DSN=hs2")) << reply;
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
}

}  // namespace
