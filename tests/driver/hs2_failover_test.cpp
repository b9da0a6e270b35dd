// Statement failover through unixODBC against the bundled HiveServer2 test
// server: the server drops the connection in the middle of an execute, the
// driver reconnects behind the application's back, and the statements of
// the lost session carry on in the new one with their settings and their
// prepared text; what they had executed is reported once.
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"
#include "support/hs2suite.h"
#include "support/textfile.h"

namespace {

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

class Hs2Failover : public katest::Hs2Suite<katest::DriverManagerSuite> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-failover", {"--verbose"}, true); }
    void TearDown() override
    {
        for (SQLHSTMT s : {first, second})
            if (s != SQL_NULL_HSTMT)
                SQLFreeHandle(SQL_HANDLE_STMT, s);
        SQLDisconnect(dbc);
        DriverManagerSuite::TearDown();
    }
    void connect(const std::string& failover)
    {
        std::string in =
            "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20;" + failover;
        ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(in))) << diagText(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &first));
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &second));
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

    std::vector<int> ids(SQLHSTMT stmt)
    {
        std::vector<int> out;
        SQLINTEGER id = 0;
        SQLLEN indicator = 0;
        while (SQLFetch(stmt) == SQL_SUCCESS) {
            EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, &indicator));
            out.push_back(id);
        }
        return out;
    }

    SQLHSTMT first = SQL_NULL_HSTMT;
    SQLHSTMT second = SQL_NULL_HSTMT;
};

TEST_F(Hs2Failover, StatementsCarryTheirSettingsAndPreparedTextIntoTheNewSession)
{
    connect("FailoverMode=1");
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(first, SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(3), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(first, sql("SELECT id FROM people ORDER BY id"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, first);
    const size_t sessionsBefore = katest::occurrences(katest::fileText(log), "OpenSession");
    // The session's next ExecuteStatement is answered by closing the
    // connection.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SET hs2server.fault.drop=ExecuteStatement"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, second);

    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLExecute(first));
    std::string text = diagText(SQL_HANDLE_STMT, first, &state);
    EXPECT_EQ("08S01", state) << text;
    EXPECT_NE(std::string::npos, text.find("re-established")) << text;
    const size_t sessionsAfter = katest::occurrences(katest::fileText(log), "OpenSession");
    EXPECT_LT(sessionsBefore, sessionsAfter) << katest::fileText(log);

    // The prepared statement runs again on the new session, still limited
    // to three rows.
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(first)) << diagText(SQL_HANDLE_STMT, first);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), ids(first));
    SQLULEN maxRows = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetStmtAttr(first, SQL_ATTR_MAX_ROWS, &maxRows, 0, nullptr));
    EXPECT_EQ(3u, maxRows);

    // The other statement had executed in the lost session: told once, then
    // it works in the new one.
    state.clear();
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(second, sql("SELECT id FROM people WHERE id = 5"), SQL_NTS));
    text = diagText(SQL_HANDLE_STMT, second, &state);
    EXPECT_EQ("08S01", state) << text;
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SELECT id FROM people WHERE id = 5"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, second);
    EXPECT_EQ((std::vector<int>{5}), ids(second));
    // One reconnect served both statements.
    EXPECT_EQ(sessionsAfter, katest::occurrences(katest::fileText(log), "OpenSession"));

    // The new session can be lost too: the statements move on once more.
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(first));
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(second));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SET hs2server.fault.drop=ExecuteStatement"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, second);
    EXPECT_EQ(SQL_ERROR, SQLExecute(first));
    EXPECT_NE(std::string::npos, diagText(SQL_HANDLE_STMT, first).find("re-established"));
    EXPECT_LT(sessionsAfter, katest::occurrences(katest::fileText(log), "OpenSession"));
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(first)) << diagText(SQL_HANDLE_STMT, first);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), ids(first));
}

TEST_F(Hs2Failover, WithoutFailoverTheLostLinkStaysLost)
{
    connect("");
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SET hs2server.fault.drop=ExecuteStatement"), SQL_NTS));
    const size_t sessionsBefore = katest::occurrences(katest::fileText(log), "OpenSession");
    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(first, sql("SELECT id FROM people"), SQL_NTS));
    const std::string text = diagText(SQL_HANDLE_STMT, first, &state);
    EXPECT_EQ("08S01", state) << text;
    EXPECT_EQ(std::string::npos, text.find("re-established")) << text;
    EXPECT_EQ(sessionsBefore, katest::occurrences(katest::fileText(log), "OpenSession"));
}

TEST_F(Hs2Failover, APreparedStatementIsWarnedOnceAndFailsOverAgainLater)
{
    connect("FailoverMode=1");
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(first, sql("SELECT id FROM people WHERE id = 2"), SQL_NTS));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SET hs2server.fault.drop=ExecuteStatement"), SQL_NTS));
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(second, sql("SELECT 1"), SQL_NTS));
    // Only prepared when the link went: restored whole, with a warning.
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, SQLExecute(first)) << diagText(SQL_HANDLE_STMT, first);
    EXPECT_NE(std::string::npos, diagText(SQL_HANDLE_STMT, first).find("re-established"));
    EXPECT_EQ((std::vector<int>{2}), ids(first));
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(first));
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(first));
    EXPECT_EQ((std::vector<int>{2}), ids(first));
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(first));

    // A later loss under the same statement is repaired again.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SET hs2server.fault.drop=ExecuteStatement"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, second);
    const size_t sessionsBefore = katest::occurrences(katest::fileText(log), "OpenSession");
    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLExecute(first));
    const std::string text = diagText(SQL_HANDLE_STMT, first, &state);
    EXPECT_EQ("08S01", state) << text;
    EXPECT_NE(std::string::npos, text.find("re-established")) << text;
    EXPECT_LT(sessionsBefore, katest::occurrences(katest::fileText(log), "OpenSession"));
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(first)) << diagText(SQL_HANDLE_STMT, first);
    EXPECT_EQ((std::vector<int>{2}), ids(first));
}

TEST_F(Hs2Failover, ALinkLostWhileFetchingLeavesACursorToExecuteAgain)
{
    connect("FailoverMode=1");
    // Two rows a block, so that the third row needs a second block.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SET hs2server.fault.drop=FetchResults:2"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, second);
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(first, sql("SELECT id FROM people ORDER BY id"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, first);
    SQLRETURN rc = SQL_SUCCESS;
    int fetched = 0;
    while ((rc = SQLFetch(first)) == SQL_SUCCESS)
        ++fetched;
    std::string state;
    const std::string text = diagText(SQL_HANDLE_STMT, first, &state);
    ASSERT_EQ(SQL_ERROR, rc) << text;
    EXPECT_EQ("08S01", state) << text;
    EXPECT_NE(std::string::npos, text.find("re-established")) << text;
    // The result went with the old session: the cursor has nothing more,
    // closes without complaint, and the statement executes again in the new
    // one.
    EXPECT_EQ(SQL_ERROR, SQLFetch(first));
    EXPECT_EQ(SQL_SUCCESS, SQLCloseCursor(first)) << diagText(SQL_HANDLE_STMT, first);
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(first, sql("SELECT id FROM people WHERE id < 3 ORDER BY id"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, first);
    EXPECT_EQ((std::vector<int>{1, 2}), ids(first));
}

TEST_F(Hs2Failover, AFailedReconnectIsReportedToEveryStatement)
{
    // A server of this test's own, stopped under the connection.
    auto own = std::make_unique<katest::Hs2Process>(std::vector<std::string>{});
    ASSERT_NE(0, own->port());
    std::string in = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + own->portText() + ";UID=u;PWD=p;LT=5;FailoverMode=1";
    ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(in))) << diagText(SQL_HANDLE_DBC, dbc);
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &first));
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &second));
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(second, sql("SELECT id FROM people"), SQL_NTS));
    own.reset();

    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(first, sql("SELECT id FROM people"), SQL_NTS));
    std::string text = diagText(SQL_HANDLE_STMT, first, &state);
    EXPECT_EQ("08S01", state) << text;
    EXPECT_EQ(std::string::npos, text.find("re-established")) << text;
    // The other statement learns at its next call that the link is lost.
    state.clear();
    EXPECT_EQ(SQL_ERROR, SQLExecute(second));
    text = diagText(SQL_HANDLE_STMT, second, &state);
    EXPECT_EQ("08S01", state) << text;
    EXPECT_NE(std::string::npos, text.find("could not be re-established")) << text;
}

}  // namespace

// A connection taken again from the driver's pool whose link drops once an
// INSERT was sent: the driver cannot know whether it ran, so it reports the
// loss and never sends it again on the new link; and a pooled connection
// fails over only when the user asked for it.
class Hs2PooledFailover : public Hs2Failover {
protected:
    // Connects, gives the connection back to the pool and takes it again;
    // the anchor keeps the driver loaded in between.
    void connectFromPool(const std::string& failover)
    {
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env, &anchor));
        const std::string in = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20";
        ASSERT_TRUE(SQL_SUCCEEDED(
            SQLDriverConnect(anchor, nullptr, sql(in.c_str()), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
            << diagText(SQL_HANDLE_DBC, anchor);
        const std::string pooled = in + ";POOL=1;" + failover;
        ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(pooled))) << diagText(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
        const size_t sessions = katest::occurrences(katest::fileText(log), "OpenSession");
        ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(pooled))) << diagText(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(sessions, katest::occurrences(katest::fileText(log), "OpenSession"))
            << "the second connect opened a session";
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &first));
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &second));
    }
    void TearDown() override
    {
        if (anchor != SQL_NULL_HDBC) {
            SQLDisconnect(anchor);
            SQLFreeHandle(SQL_HANDLE_DBC, anchor);
        }
        Hs2Failover::TearDown();
    }
    int rowsOf(const char* table)
    {
        const std::string query = std::string("SELECT COUNT(*) FROM ") + table;
        SQLCloseCursor(second);
        EXPECT_TRUE(SQL_SUCCEEDED(SQLExecDirect(second, sql(query.c_str()), SQL_NTS)))
            << diagText(SQL_HANDLE_STMT, second);
        std::vector<int> count = ids(second);
        SQLCloseCursor(second);
        return count.size() == 1 ? count[0] : -1;
    }
    SQLHDBC anchor = SQL_NULL_HDBC;
};

TEST_F(Hs2PooledFailover, AnInsertWhoseLinkDroppedAfterItWasSentIsReportedAndNotSentAgain)
{
    connectFromPool("FailoverMode=1");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(second, sql("CREATE TABLE IF NOT EXISTS t_pooled_once (a int)"), SQL_NTS)))
        << diagText(SQL_HANDLE_STMT, second);
    const int before = rowsOf("t_pooled_once");
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SET hs2server.fault.drop=ExecuteStatement"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, second);
    const size_t sessions = katest::occurrences(katest::fileText(log), "OpenSession");

    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(first, sql("INSERT INTO t_pooled_once VALUES (7)"), SQL_NTS));
    const std::string text = diagText(SQL_HANDLE_STMT, first, &state);
    EXPECT_EQ("08S01", state) << text;
    EXPECT_NE(std::string::npos, text.find("re-established")) << text;
    // The link was made anew, and the INSERT was not sent on it: the server
    // logs the calls it runs, and the table gained no row.
    EXPECT_LT(sessions, katest::occurrences(katest::fileText(log), "OpenSession"));
    EXPECT_EQ(0u, katest::occurrences(katest::fileText(log), "INSERT INTO t_pooled_once")) << katest::fileText(log);
    SQLCloseCursor(second);
    SQLExecDirect(second, sql("SELECT 1"), SQL_NTS);  // told of the lost session once
    EXPECT_EQ(before, rowsOf("t_pooled_once"));
}

TEST_F(Hs2PooledFailover, APooledConnectionWithoutFailoverDoesNotReconnect)
{
    connectFromPool("");
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SET hs2server.fault.drop=ExecuteStatement"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, second);
    const size_t sessions = katest::occurrences(katest::fileText(log), "OpenSession");
    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(first, sql("SELECT id FROM people"), SQL_NTS));
    const std::string text = diagText(SQL_HANDLE_STMT, first, &state);
    EXPECT_EQ("08S01", state) << text;
    EXPECT_EQ(std::string::npos, text.find("re-established")) << text;
    EXPECT_EQ(sessions, katest::occurrences(katest::fileText(log), "OpenSession")) << katest::fileText(log);
}
