// SQLCancel from a second thread while SQLExecDirect polls a long-running
// operation on the bundled HiveServer2 test server, through unixODBC: the
// execute fails with HY008, the server is sent CancelOperation for the
// operation, and the connection serves the next query.
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"
#include "support/textfile.h"

namespace {

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

class Hs2Cancel : public katest::DriverManagerSuite {
protected:
    static void SetUpTestSuite()
    {
        writeIni("hs2-cancel", "[VYspark28]\nDescription=Driver under test\nDriver=" + katest::driverLibrary() + "\n",
                 "[ODBC]\nIANAAppCodePage=106\n");
        log = iniDir + "/calls.log";
        // Every operation stays RUNNING for three seconds; a poll is
        // answered after at most 100 ms, so the execute polls many times.
        server = std::make_unique<katest::Hs2Process>(
            std::vector<std::string>{"--fault", "running=3000", "--long-polling-timeout", "100", "--verbose"}, log);
        ASSERT_NE(0, server->port());
    }
    static void TearDownTestSuite()
    {
        server.reset();
        DriverManagerSuite::TearDownTestSuite();
    }
    void SetUp() override
    {
        DriverManagerSuite::SetUp();
        connectWith(";UseAsyncExecute=1");
    }
    void connectWith(const std::string& options)
    {
        if (stmt != SQL_NULL_HSTMT) {
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            stmt = SQL_NULL_HSTMT;
            SQLDisconnect(dbc);
        }
        std::string in =
            "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20" + options;
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

    static std::string diagText(SQLSMALLINT type, SQLHANDLE handle, std::string* state = nullptr)
    {
        std::string all;
        for (SQLSMALLINT i = 1;; ++i) {
            SQLCHAR s[6] = {};
            SQLCHAR message[1024] = {};
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

    // Waits for the server to have logged text count times; false when it
    // never does (the guard against a hang, not a measure of speed).
    static bool awaitLogged(const std::string& text, size_t count)
    {
        for (int i = 0; i < 600; ++i) {
            if (occurrences(katest::fileText(log), text) >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    static size_t occurrences(const std::string& in, const std::string& text)
    {
        size_t n = 0;
        for (size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + 1))
            ++n;
        return n;
    }

    void expectCancelStopsTheExecute();
    inline static std::unique_ptr<katest::Hs2Process> server;
    inline static std::string log;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
};

void Hs2Cancel::expectCancelStopsTheExecute()
{
    const size_t cancelsBefore = occurrences(katest::fileText(log), "CancelOperation");
    const size_t pollsBefore = occurrences(katest::fileText(log), "GetOperationStatus");
    SQLRETURN executed = SQL_SUCCESS;
    std::thread runner([&] { executed = SQLExecDirect(stmt, sql("SELECT id FROM people ORDER BY id"), SQL_NTS); });
    // The execute is polling once the server saw its first status request.
    const bool polling = awaitLogged("GetOperationStatus", pollsBefore + 1);
    EXPECT_TRUE(polling) << katest::fileText(log);
    EXPECT_EQ(SQL_SUCCESS, SQLCancel(stmt)) << diagText(SQL_HANDLE_STMT, stmt);
    runner.join();

    std::string state;
    const std::string text = diagText(SQL_HANDLE_STMT, stmt, &state);
    EXPECT_EQ(SQL_ERROR, executed) << text;
    EXPECT_EQ("HY008", state) << text;
    EXPECT_NE(std::string::npos, text.find("canceled")) << text;
    EXPECT_EQ(cancelsBefore + 1, occurrences(katest::fileText(log), "CancelOperation")) << katest::fileText(log);

    // The wire is in step: the same statement runs the next query to its
    // rows.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id FROM people WHERE id = 3"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    SQLINTEGER id = 0;
    SQLLEN indicator = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 1, SQL_C_SLONG, &id, 0, &indicator));
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(3, id);
    EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
}

TEST_F(Hs2Cancel, CancelFromAnotherThreadStopsThePollingExecuteAtTheServer)
{
    expectCancelStopsTheExecute();
}

TEST_F(Hs2Cancel, ASynchronousQueryAnsweredWhileRunningIsPolledAndCanBeCanceled)
{
    // Without UseAsyncExecute the server still answers before the query
    // ends: the execute polls it all the same, so the cancel reaches it.
    connectWith("");
    expectCancelStopsTheExecute();
}

TEST_F(Hs2Cancel, CancelWithNoCallRunningLeavesTheNextExecuteAlone)
{
    EXPECT_EQ(SQL_SUCCESS, SQLCancel(stmt));
    const size_t cancelsBefore = occurrences(katest::fileText(log), "CancelOperation");
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT name FROM people WHERE id = 1"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    SQLCHAR name[16] = {};
    SQLLEN indicator = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diagText(SQL_HANDLE_STMT, stmt);
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_CHAR, name, sizeof name, &indicator))
        << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_STREQ("Ada", reinterpret_cast<char*>(name));
    EXPECT_EQ(cancelsBefore, occurrences(katest::fileText(log), "CancelOperation"));
}

}  // namespace
