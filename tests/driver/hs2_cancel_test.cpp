// SQLCancel from a second thread while SQLExecDirect polls a long-running
// operation on the bundled HiveServer2 test server, through unixODBC: the
// execute fails with HY008, the server is sent CancelOperation for the
// operation, and the connection serves the next query.
#include <chrono>
#include <string>
#include <thread>

#include "support/hs2suite.h"
#include "support/textfile.h"

namespace {

using katest::diagText;
using katest::occurrences;

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

class Hs2Cancel : public katest::Hs2Suite<katest::DriverManagerStmtSuite> {
protected:
    static void SetUpTestSuite()
    {
        // Every operation stays RUNNING for three seconds; a poll is
        // answered after at most 100 ms, so the execute polls many times.
        startHs2("hs2-cancel", {"--fault", "running=3000", "--long-polling-timeout", "100", "--verbose"}, true);
    }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWith(";UseAsyncExecute=1");
    }
    void connectWith(const std::string& options)
    {
        if (stmt != SQL_NULL_HSTMT) {
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            stmt = SQL_NULL_HSTMT;
            SQLDisconnect(dbc);
        }
        connectWithStatement(hs2String("LT=20" + options));
    }

    // Waits for the server to have logged text count times; false when it
    // never does (the guard against a hang, not a measure of speed).
    static bool awaitLogged(const std::string& text, size_t count)
    {
        for (int i = 0; i < 600; ++i) {
            if (katest::occurrences(katest::fileText(log), text) >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    void expectCancelStopsTheExecute();
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
