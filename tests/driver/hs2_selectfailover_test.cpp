// Select failover through unixODBC against the bundled HiveServer2 test
// server: with FailoverMode 2 a query whose link drops in the middle of its
// result runs again in a new session, the rows already read are checked by
// checksum, and the application reads on as if nothing happened; a result
// that changed meanwhile is reported, and a statement that changes data is
// never run twice.
#include <cstdio>
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

using katest::diagText;

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

SQLCHAR* sql(const std::string& text)
{
    return sql(text.c_str());
}

// 512 rows, each with a number and a text that differs from row to row.
const char kCrossQuery[] = "SELECT a.id * 100 + b.id * 10 + c.id AS n, concat(a.name, '-', b.name, '-', c.name) AS s "
                           "FROM people a, people b, people c ORDER BY n";
constexpr size_t kCrossRows = 512;

struct Row {
    int n;
    std::string s;
    bool operator==(const Row& o) const { return n == o.n && s == o.s; }
};

class Hs2SelectFailover : public katest::Hs2Suite<katest::DriverManagerSuite> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-selectfailover", {"--verbose"}, true); }
    void TearDown() override
    {
        for (SQLHSTMT s : {stmt, other})
            if (s != SQL_NULL_HSTMT)
                SQLFreeHandle(SQL_HANDLE_STMT, s);
        SQLDisconnect(dbc);
        if (dbc2 != SQL_NULL_HDBC) {
            SQLDisconnect(dbc2);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc2);
        }
        DriverManagerSuite::TearDown();
    }

    // A fresh handle pair, as the next case of a table needs it.
    void restart()
    {
        TearDown();
        stmt = other = SQL_NULL_HSTMT;
        dbc2 = SQL_NULL_HDBC;
        SetUp();
    }

    std::string connectionString(const std::string& extra) const
    {
        return "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20;" + extra;
    }

    void connect(const std::string& extra)
    {
        ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(connectionString(extra)))) << diagText(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &other));
    }

    // A second connection of its own, for the changes another user makes.
    SQLHSTMT secondConnection()
    {
        SQLHSTMT s = SQL_NULL_HSTMT;
        EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc2));
        const std::string in = connectionString("");
        SQLCHAR out[1024];
        SQLSMALLINT outLength = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(
            SQLDriverConnect(dbc2, nullptr, sql(in), SQL_NTS, out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT)))
            << diagText(SQL_HANDLE_DBC, dbc2);
        EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc2, &s));
        return s;
    }

    void run(SQLHSTMT s, const std::string& text)
    {
        ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(s, sql(text), SQL_NTS))) << text << "\n"
                                                                         << diagText(SQL_HANDLE_STMT, s);
        SQLFreeStmt(s, SQL_CLOSE);
    }

    // How a read that the failover could not save ends: the rows fetched
    // before the failing fetch, its diagnostics, and the SQLSTATE of the
    // fetch tried after it.
    struct BrokenRead {
        SQLRETURN rc = SQL_SUCCESS;
        int fetched = 0;
        std::string state;
        std::string text;
        SQLRETURN afterRc = SQL_SUCCESS;
        std::string afterState;
    };
    static BrokenRead fetchUntilFailure(SQLHSTMT s)
    {
        BrokenRead out;
        while ((out.rc = SQLFetch(s)) == SQL_SUCCESS && out.fetched < 1000)
            ++out.fetched;
        out.text = diagText(SQL_HANDLE_STMT, s, &out.state);
        out.afterRc = SQLFetch(s);
        diagText(SQL_HANDLE_STMT, s, &out.afterState);
        return out;
    }

    // Every row of the open result, read one at a time with SQLGetData, or
    // in rowsets of `rowset` rows into bound arrays; every fetch must
    // succeed without a word of the failover.
    std::vector<Row> readAll(SQLHSTMT s, SQLULEN rowset)
    {
        const bool bound = rowset > 1;
        const SQLULEN slots = bound ? rowset : 1;
        std::vector<SQLINTEGER> n(slots);
        std::vector<SQLCHAR> text(slots * 128);
        std::vector<SQLLEN> nLength(slots);
        std::vector<SQLLEN> textLength(slots);
        std::vector<SQLUSMALLINT> status(slots, SQL_ROW_SUCCESS);
        SQLULEN fetched = 1;
        if (bound) {
            EXPECT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rowset), 0));
            EXPECT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0));
            EXPECT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
            EXPECT_EQ(SQL_SUCCESS, SQLBindCol(s, 1, SQL_C_SLONG, n.data(), 0, nLength.data()));
            EXPECT_EQ(SQL_SUCCESS, SQLBindCol(s, 2, SQL_C_CHAR, text.data(), 128, textLength.data()));
        }
        std::vector<Row> out;
        for (;;) {
            const SQLRETURN rc = SQLFetch(s);
            if (rc == SQL_NO_DATA)
                break;
            EXPECT_EQ(SQL_SUCCESS, rc) << "after " << out.size() << " rows\n" << diagText(SQL_HANDLE_STMT, s);
            if (rc != SQL_SUCCESS)
                break;
            if (!bound) {
                EXPECT_EQ(SQL_SUCCESS, SQLGetData(s, 1, SQL_C_SLONG, n.data(), 0, nLength.data()));
                EXPECT_EQ(SQL_SUCCESS, SQLGetData(s, 2, SQL_C_CHAR, text.data(), 128, textLength.data()));
            }
            for (SQLULEN i = 0; i < fetched; ++i) {
                EXPECT_EQ(SQL_ROW_SUCCESS, status[i]);
                out.push_back(Row{n[i], reinterpret_cast<char*>(&text[i * 128])});
            }
        }
        return out;
    }

    // The row a scroll of the cursor lands on, read with SQLGetData; the
    // fetch must succeed without a word of the failover.
    static Row scrollTo(SQLHSTMT s, SQLSMALLINT orientation, SQLLEN offset = 0)
    {
        Row row{-1, ""};
        const SQLRETURN rc = SQLFetchScroll(s, orientation, offset);
        EXPECT_EQ(SQL_SUCCESS, rc) << "orientation " << orientation << "\n" << diagText(SQL_HANDLE_STMT, s);
        if (rc != SQL_SUCCESS)
            return row;
        SQLINTEGER n = 0;
        SQLCHAR text[128] = {};
        EXPECT_EQ(SQL_SUCCESS, SQLGetData(s, 1, SQL_C_SLONG, &n, 0, nullptr)) << diagText(SQL_HANDLE_STMT, s);
        EXPECT_EQ(SQL_SUCCESS, SQLGetData(s, 2, SQL_C_CHAR, text, sizeof text, nullptr))
            << diagText(SQL_HANDLE_STMT, s);
        return Row{n, reinterpret_cast<char*>(text)};
    }

    // The cross query on a static cursor of s, its result in the driver's
    // cache once the execute returns.
    static void openStaticCursor(SQLHSTMT s)
    {
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_CURSOR_TYPE,
                                              reinterpret_cast<SQLPOINTER>(intptr_t{SQL_CURSOR_STATIC}), 0));
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(s, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, s);
    }

    // The FetchResults calls of the session opened last: the server counts
    // a session's calls for its faults.
    static size_t fetchesOfLastSession()
    {
        std::istringstream in(katest::fileText(log));
        std::string line;
        std::string peer;
        size_t n = 0;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string who;
            std::string call;
            words >> who >> call;
            if (call == "OpenSession") {
                peer = who;
                n = 0;
            } else if (call == "FetchResults" && who == peer) {
                ++n;
            }
        }
        return n;
    }

    // The rows of the cross query as an undisturbed session reads them.
    std::vector<Row> referenceRows()
    {
        connect("ArrayFetchSize=50");
        SQLHSTMT reference = secondConnection();
        EXPECT_EQ(SQL_SUCCESS, SQLExecDirect(reference, sql(kCrossQuery), SQL_NTS))
            << diagText(SQL_HANDLE_STMT, reference);
        std::vector<Row> rows = readAll(reference, 1);
        EXPECT_EQ(kCrossRows, rows.size());
        SQLFreeHandle(SQL_HANDLE_STMT, reference);
        restart();
        return rows;
    }

    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLHSTMT other = SQL_NULL_HSTMT;
    SQLHDBC dbc2 = SQL_NULL_HDBC;
};

struct DropCase {
    const char* granularity;
    SQLULEN rowset;
    const char* drop;
};

TEST_F(Hs2SelectFailover, AQueryWhoseLinkDropsMidResultDeliversEveryRowOnce)
{
    // Blocks of 50 rows: the drop comes with the fourth block, after 150
    // rows, inside a rowset for the sizes that do not divide 150.
    const DropCase cases[] = {
        {"", 1, "FetchResults:4"},  {"FailoverGranularity=3;", 1, "FetchResults:4"},
        {"", 7, "FetchResults:4"},  {"FailoverGranularity=3;", 7, "FetchResults:4"},
        {"", 64, "FetchResults:2"}, {"FailoverGranularity=1;", 1, "FetchResults:9"},
    };
    // The unfaulted read the failover must reproduce, in a session of its
    // own: the server counts the calls of a session for its faults.
    connect("ArrayFetchSize=50");
    SQLHSTMT reference = secondConnection();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(reference, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, reference);
    const std::vector<Row> expected = readAll(reference, 1);
    ASSERT_EQ(kCrossRows, expected.size());
    SQLFreeHandle(SQL_HANDLE_STMT, reference);
    restart();
    for (const DropCase& c : cases) {
        SCOPED_TRACE(std::string(c.granularity) + " rowset " + std::to_string(c.rowset) + " drop " + c.drop);
        connect(std::string("FailoverMode=2;ArrayFetchSize=50;") + c.granularity);
        // The driver rewrites the text a little; this part of it stays.
        const std::string executed = "concat(a.name, '-', b.name, '-', c.name)";
        const size_t executionsBefore = katest::occurrences(katest::fileText(log), executed);
        run(other, std::string("SET hs2server.fault.drop=") + c.drop);
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
        const std::vector<Row> got = readAll(stmt, c.rowset);
        EXPECT_EQ(expected.size(), got.size());
        EXPECT_TRUE(got == expected);
        // The link did drop: the query ran a second time, for the rest.
        EXPECT_EQ(executionsBefore + 2, katest::occurrences(katest::fileText(log), executed));
        restart();
    }
}

TEST_F(Hs2SelectFailover, AnotherOpenCursorOfTheConnectionIsRestoredAtItsNextFetch)
{
    connect("ArrayFetchSize=50");
    SQLHSTMT reference = secondConnection();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(reference, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, reference);
    const std::vector<Row> expected = readAll(reference, 1);
    SQLFreeHandle(SQL_HANDLE_STMT, reference);
    restart();
    const std::string executed = "concat(a.name, '-', b.name, '-', c.name)";
    const size_t executionsBefore = katest::occurrences(katest::fileText(log), executed);
    connect("FailoverMode=2;ArrayFetchSize=50");
    // Two blocks for the other cursor; the first statement's execute then
    // clears the wire of the other's rows, and the link drops there, before
    // the execute is sent.
    run(stmt, "SET hs2server.fault.drop=FetchResults:4");
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(other, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, other);
    std::vector<Row> otherRows;
    for (int i = 0; i < 60; ++i) {
        ASSERT_EQ(SQL_SUCCESS, SQLFetch(other)) << diagText(SQL_HANDLE_STMT, other);
        SQLINTEGER n = 0;
        SQLCHAR text[128] = {};
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(other, 1, SQL_C_SLONG, &n, 0, nullptr));
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(other, 2, SQL_C_CHAR, text, sizeof text, nullptr));
        otherRows.push_back(Row{n, reinterpret_cast<char*>(text)});
    }
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
    const std::vector<Row> first = readAll(stmt, 1);
    EXPECT_TRUE(first == expected);
    // The other cursor's query runs again at its next fetch, and it goes on
    // at its 61st row.
    const std::vector<Row> rest = readAll(other, 1);
    otherRows.insert(otherRows.end(), rest.begin(), rest.end());
    EXPECT_EQ(expected.size(), otherRows.size());
    EXPECT_TRUE(otherRows == expected);
    // The other query ran twice, the interrupted execute once, on the new
    // session.
    EXPECT_EQ(executionsBefore + 3, katest::occurrences(katest::fileText(log), executed)) << katest::fileText(log);
}

TEST_F(Hs2SelectFailover, AResultReadFurtherThanItsChecksumsInMemoryReachIsReportedLost)
{
    // Checksums of 20 rows in memory; the link drops with the fourth block.
    connect("FailoverMode=2;ArrayFetchSize=50;AllowDiskCaching=0;FailoverCacheSize=20");
    run(other, "SET hs2server.fault.drop=FetchResults:4");
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
    const BrokenRead r = fetchUntilFailure(stmt);
    EXPECT_EQ(SQL_ERROR, r.rc) << r.text;
    // The drop came after more rows than the store keeps.
    EXPECT_GT(r.fetched, 20);
    EXPECT_EQ("08S01", r.state) << r.text;
    EXPECT_NE(std::string::npos, r.text.find("FailoverCacheSize")) << r.text;
    // Nothing more of the new result is served.
    EXPECT_EQ(SQL_ERROR, r.afterRc);
    EXPECT_EQ("HY010", r.afterState);
}

struct ChangeCase {
    const char* granularity;
    const char* state;
};

TEST_F(Hs2SelectFailover, RowsThatChangedBeforeTheQueryRanAgainAreDetected)
{
    const ChangeCase cases[] = {
        {"", "40003"},
        {"FailoverGranularity=1;", "40003"},
        {"FailoverGranularity=2;", "08S01"},
    };
    int table = 0;
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.granularity);
        connect(std::string("FailoverMode=2;ArrayFetchSize=10;") + c.granularity);
        const std::string name = "sfo_changed_" + std::to_string(table++);
        run(other, "CREATE TABLE " + name + " (n INT, s STRING)");
        run(other, "INSERT INTO " + name + " SELECT a.id * 10 + b.id, concat(a.name, b.name) FROM people a, people b");
        run(other, "SET hs2server.fault.drop=FetchResults:3");
        const std::string query = "SELECT n, s FROM " + name + " ORDER BY n";
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(query), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diagText(SQL_HANDLE_STMT, stmt);
        // Another user adds a row that sorts first: the rows read so far
        // are no longer the first rows of the query.
        SQLHSTMT elsewhere = secondConnection();
        run(elsewhere, "INSERT INTO " + name + " VALUES (0, 'first')");
        SQLFreeHandle(SQL_HANDLE_STMT, elsewhere);
        const BrokenRead r = fetchUntilFailure(stmt);
        EXPECT_EQ(SQL_ERROR, r.rc) << r.text;
        // The drop came with a later block, before the end of the result.
        EXPECT_LT(r.fetched, 59);
        EXPECT_EQ(c.state, r.state) << r.text;
        // The cursor is closed either way: no row of the changed result is
        // delivered after the report, and the directly executed statement
        // has no result left.
        EXPECT_EQ(SQL_ERROR, r.afterRc);
        EXPECT_EQ("HY010", r.afterState);
        // The statement serves a new query on the new session.
        SQLFreeStmt(stmt, SQL_CLOSE);
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT count(*) FROM " + name), SQL_NTS))
            << diagText(SQL_HANDLE_STMT, stmt);
        ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
        SQLINTEGER count = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &count, 0, nullptr));
        EXPECT_EQ(65, count);
        SQLFreeStmt(stmt, SQL_CLOSE);
        run(stmt, "DROP TABLE " + name);
        restart();
    }
}

TEST_F(Hs2SelectFailover, AParameterisedQueryRunsAgainWithTheValuesItWasExecutedWith)
{
    connect("FailoverMode=2;ArrayFetchSize=2");
    run(other, "SET hs2server.fault.drop=FetchResults:2");
    ASSERT_EQ(SQL_SUCCESS,
              SQLPrepare(stmt, sql("SELECT id, name FROM people WHERE id >= ? AND name <> ? ORDER BY id"), SQL_NTS));
    SQLINTEGER low = 3;
    SQLCHAR name[16] = "Eun-ji";
    SQLLEN nameLength = SQL_NTS;
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &low, 0, nullptr));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 15, 0, name, sizeof name,
                                            &nameLength));
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << diagText(SQL_HANDLE_STMT, stmt);
    // The application reuses its buffers before it reads the result.
    low = 1;
    std::snprintf(reinterpret_cast<char*>(name), sizeof name, "Dmitri");
    std::vector<int> ids;
    SQLRETURN rc = SQL_SUCCESS;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
        SQLINTEGER id = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, nullptr));
        ids.push_back(id);
    }
    EXPECT_EQ(SQL_NO_DATA, rc) << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ((std::vector<int>{3, 4, 6, 7, 8}), ids);
    // The query did run twice, the second time with the saved values.
    const std::string calls = katest::fileText(log);
    EXPECT_EQ(2u, katest::occurrences(calls, "name <> 'Eun-ji'")) << calls;
    EXPECT_EQ(0u, katest::occurrences(calls, "Dmitri")) << calls;
}

TEST_F(Hs2SelectFailover, AnInsertWhoseLinkDroppedIsReportedAndNeverRunTwice)
{
    connect("FailoverMode=2");
    run(other, "CREATE TABLE sfo_once (n INT)");
    run(other, "SET hs2server.fault.drop=ExecuteStatement");
    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(stmt, sql("INSERT INTO sfo_once VALUES (41)"), SQL_NTS));
    const std::string text = diagText(SQL_HANDLE_STMT, stmt, &state);
    EXPECT_EQ("08S01", state) << text;
    EXPECT_NE(std::string::npos, text.find("re-established")) << text;
    // The server logs a call it answers; the dropped one is not logged, so
    // any logged INSERT would be the driver sending it a second time.
    EXPECT_EQ(0u, katest::occurrences(katest::fileText(log), "INSERT INTO sfo_once")) << katest::fileText(log);
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT count(*) FROM sfo_once"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    SQLINTEGER count = -1;
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &count, 0, nullptr));
    EXPECT_EQ(0, count);
    SQLFreeStmt(stmt, SQL_CLOSE);
    run(stmt, "DROP TABLE sfo_once");
}

// A static cursor keeps its rows in the driver's cache and its position in
// the application's scrolling. When another statement's link drops, its
// query runs again in the new session, the rows it had delivered are read
// again where they were fetched (not in result order) and compared, and it
// goes on from where it stood.
TEST_F(Hs2SelectFailover, AStaticCursorMovedByAnotherStatementsReconnectScrollsOnWhereItStood)
{
    const std::vector<Row> expected = referenceRows();
    ASSERT_EQ(kCrossRows, expected.size());
    connect("FailoverMode=2;ArrayFetchSize=50");
    const std::string executed = "concat(a.name, '-', b.name, '-', c.name)";
    ASSERT_NO_FATAL_FAILURE(openStaticCursor(other));
    // The cache took the whole result at the execute.
    const size_t fill = fetchesOfLastSession();
    ASSERT_GT(fill, kCrossRows / 50);
    for (size_t r = 1; r <= 30; ++r)
        EXPECT_TRUE(scrollTo(other, SQL_FETCH_NEXT) == expected[r - 1]) << r;
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_LAST) == expected[kCrossRows - 1]);
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_FIRST) == expected[0]);
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_NEXT) == expected[1]);
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_NEXT) == expected[2]);

    // The first statement's link drops with the third block of its query.
    run(stmt, "SET hs2server.fault.drop=FetchResults:" + std::to_string(fill + 3));
    const size_t executionsBefore = katest::occurrences(katest::fileText(log), executed);
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_TRUE(readAll(stmt, 1) == expected);

    // The static cursor stood on row 3.
    for (size_t r = 4; r <= 60; ++r)
        EXPECT_TRUE(scrollTo(other, SQL_FETCH_NEXT) == expected[r - 1]) << r;
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_LAST) == expected[kCrossRows - 1]);
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_PRIOR) == expected[kCrossRows - 2]);
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_FIRST) == expected[0]);
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_ABSOLUTE, 200) == expected[199]);
    // Both queries ran again: the interrupted one and the static cursor's.
    EXPECT_EQ(executionsBefore + 3, katest::occurrences(katest::fileText(log), executed)) << katest::fileText(log);
}

// The static cursor's own link drops twice: after the first restore the
// positions it was read again at stand for it, so the second restore finds
// the same rows.
TEST_F(Hs2SelectFailover, AStaticCursorIsRestoredAgainAfterASecondReconnect)
{
    const std::vector<Row> expected = referenceRows();
    ASSERT_EQ(kCrossRows, expected.size());
    connect("FailoverMode=2;ArrayFetchSize=50");
    const std::string executed = "concat(a.name, '-', b.name, '-', c.name)";
    ASSERT_NO_FATAL_FAILURE(openStaticCursor(other));
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_ABSOLUTE, 100) == expected[99]);
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_LAST) == expected[kCrossRows - 1]);
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_RELATIVE, -10) == expected[kCrossRows - 11]);
    for (size_t round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const size_t executionsBefore = katest::occurrences(katest::fileText(log), executed);
        run(stmt, "SET hs2server.fault.drop=FetchResults:" + std::to_string(fetchesOfLastSession() + 3));
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
        EXPECT_TRUE(readAll(stmt, 1) == expected);
        SQLFreeStmt(stmt, SQL_CLOSE);
        EXPECT_TRUE(scrollTo(other, SQL_FETCH_NEXT) == expected[kCrossRows - 10 + round]);
        // The link did drop: both queries ran again.
        EXPECT_EQ(executionsBefore + 3, katest::occurrences(katest::fileText(log), executed));
    }
    EXPECT_TRUE(scrollTo(other, SQL_FETCH_ABSOLUTE, 100) == expected[99]);
}

// Without the long-data cache row-wise values are read from the reply once,
// in column order: the row checksums of select failover would use them up.
// The connection says so and keeps failover to the reconnect, and queries
// read their values as usual.
TEST_F(Hs2SelectFailover, ValuesReadForwardTurnSelectFailoverIntoReconnectOnly)
{
    struct Case {
        const char* options;
        bool fallsBack;
    };
    const Case cases[] = {
        {"CSP=4;LongDataCacheSize=-1;", true},
        {"CSP=4;", false},
        {"LongDataCacheSize=-1;", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string in = connectionString(std::string("FailoverMode=2;ArrayFetchSize=50;") + c.options);
        SQLCHAR out[1024];
        SQLSMALLINT outLength = 0;
        const SQLRETURN rc =
            SQLDriverConnect(dbc, nullptr, sql(in), SQL_NTS, out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT);
        std::string state;
        const std::string text = diagText(SQL_HANDLE_DBC, dbc, &state);
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << text;
        if (c.fallsBack) {
            EXPECT_EQ(SQL_SUCCESS_WITH_INFO, rc) << text;
            EXPECT_EQ("01000", state) << text;
            EXPECT_NE(std::string::npos, text.find("FailoverMode=1 instead")) << text;
        } else {
            EXPECT_EQ(SQL_SUCCESS, rc) << text;
        }
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &other));
        run(other, "SET hs2server.fault.drop=FetchResults:3");
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
        if (!c.fallsBack) {
            EXPECT_EQ(kCrossRows, readAll(stmt, 1).size());
        } else {
            // Every value reads; the dropped link is repaired but the result
            // is not restored.
            int rows = 0;
            SQLRETURN fetched = SQL_SUCCESS;
            while ((fetched = SQLFetch(stmt)) == SQL_SUCCESS && rows < 1000) {
                ++rows;
                SQLINTEGER n = 0;
                SQLCHAR text[128] = {};
                EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &n, 0, nullptr))
                    << diagText(SQL_HANDLE_STMT, stmt);
                EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, 2, SQL_C_CHAR, text, sizeof text, nullptr))
                    << diagText(SQL_HANDLE_STMT, stmt);
            }
            std::string failureState;
            const std::string failure = diagText(SQL_HANDLE_STMT, stmt, &failureState);
            EXPECT_EQ(SQL_ERROR, fetched) << failure;
            EXPECT_EQ("08S01", failureState) << failure;
            EXPECT_NE(std::string::npos, failure.find("re-established")) << failure;
            EXPECT_GT(rows, 0);
            EXPECT_LT(static_cast<size_t>(rows), kCrossRows);
        }
        restart();
    }
}

// Inside a transaction (autocommit off) the work before the dropped link
// is gone with it: the link is repaired, but the call is not run again.
TEST_F(Hs2SelectFailover, ACallInsideATransactionIsNotRepeatedAfterTheReconnect)
{
    connect("FailoverMode=2;ArrayFetchSize=50;TransactionMode=1");
    ASSERT_EQ(SQL_SUCCESS,
              SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))
        << diagText(SQL_HANDLE_DBC, dbc);
    const std::string executed = "concat(a.name, '-', b.name, '-', c.name)";
    run(other, "SET hs2server.fault.drop=FetchResults:4");
    const size_t executionsBefore = katest::occurrences(katest::fileText(log), executed);
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(kCrossQuery), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
    const BrokenRead r = fetchUntilFailure(stmt);
    EXPECT_EQ(SQL_ERROR, r.rc) << r.text;
    EXPECT_GT(r.fetched, 0);
    EXPECT_LT(static_cast<size_t>(r.fetched), kCrossRows);
    EXPECT_EQ("08S01", r.state) << r.text;
    EXPECT_NE(std::string::npos, r.text.find("re-established")) << r.text;
    // The query ran once: the fetch was not repeated on the new session.
    EXPECT_EQ(executionsBefore + 1, katest::occurrences(katest::fileText(log), executed)) << katest::fileText(log);
    // The new session serves the next query.
    SQLFreeStmt(stmt, SQL_CLOSE);
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT count(*) FROM people"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    SQLFreeStmt(stmt, SQL_CLOSE);
    EXPECT_EQ(SQL_SUCCESS, SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT)) << diagText(SQL_HANDLE_DBC, dbc);
}

}  // namespace
