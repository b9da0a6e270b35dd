// The driver under load through unixODBC against the bundled HiveServer2
// test server: many threads on their own connections (with and without the
// driver manager's pooling), threads sharing one connection under each
// locking model, faults injected into sessions at random points, and a
// server restarted under the threads. Every result is compared with what a
// single thread got first. The counts are small by default so that the
// suite runs in CI under the sanitizers; KA_LOAD_THREADS and
// KA_LOAD_QUERIES raise them (64 and 100 for the full load).
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"

namespace {

int envCount(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

int threadCount(int fallback)
{
    return envCount("KA_LOAD_THREADS", fallback);
}

int queryCount(int fallback)
{
    return envCount("KA_LOAD_QUERIES", fallback);
}

SQLCHAR* sqlText(const std::string& text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// How a thread reads a result.
enum class Way { BoundArrays, GetDataPieces };

// What a query runs: its text, or a catalog function on the table it names;
// a text may take one integer parameter.
enum class Call { Sql, Tables, Columns };

struct Query {
    std::string sql;
    Way way;
    Call call = Call::Sql;
    int parameter = 0;  // bound to the text's one marker when not 0
};

// The mix every thread runs: wide and narrow rows, every type, long values
// read in pieces, an aggregate, a server error.
std::vector<Query> queryMix()
{
    std::vector<Query> mix;
    for (Way way : {Way::BoundArrays, Way::GetDataPieces}) {
        mix.push_back({"SELECT * FROM bench.synthetic LIMIT 300", way});
        mix.push_back({"SELECT * FROM all_types ORDER BY id", way});
        mix.push_back({"SELECT id, name, joined, score FROM people ORDER BY id", way});
        mix.push_back({"SELECT id, s, length(s) FROM long_values ORDER BY id", way});
        mix.push_back({"SELECT count(*) FROM people", way});
    }
    mix.push_back({"SELECT nosuchcolumn FROM people", Way::BoundArrays});
    // Parameters rendered into the text, and the catalog functions.
    mix.push_back({"SELECT id, name FROM people WHERE id = ? OR id = 7 ORDER BY id", Way::BoundArrays, Call::Sql, 3});
    mix.push_back({"SELECT count(*) FROM people WHERE id > ?", Way::GetDataPieces, Call::Sql, 4});
    mix.push_back({"people", Way::GetDataPieces, Call::Tables});
    mix.push_back({"all_types", Way::BoundArrays, Call::Columns});
    return mix;
}

constexpr SQLULEN kRowArray = 64;
constexpr SQLLEN kBoundWidth = 512;
constexpr SQLLEN kPiece = 37;  // odd, so that pieces split characters and rows unevenly

// "!STATE" and the diagnostics of a failed call.
std::string failure(SQLHSTMT stmt)
{
    std::string state;
    std::string text = katest::diagText(SQL_HANDLE_STMT, stmt, &state);
    return "!" + state + " " + text;
}

// The rows as text, one line a row, or "!STATE ..." when the statement
// failed (the SQLSTATE of its first diagnostic).
std::string readResult(SQLHSTMT stmt, Way way)
{
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)))
        return "!NumResultCols";
    if (columns == 0)
        return "";
    std::string out;
    if (way == Way::BoundArrays) {
        std::vector<char> data(size_t(columns) * kRowArray * kBoundWidth);
        std::vector<SQLLEN> lengths(size_t(columns) * kRowArray);
        SQLULEN fetched = 0;
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowArray), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        for (SQLSMALLINT c = 0; c < columns; ++c)
            SQLBindCol(stmt, SQLUSMALLINT(c + 1), SQL_C_CHAR, &data[size_t(c) * kRowArray * kBoundWidth], kBoundWidth,
                       &lengths[size_t(c) * kRowArray]);
        SQLRETURN rc;
        while (SQL_SUCCEEDED(rc = SQLFetch(stmt))) {
            for (SQLULEN r = 0; r < fetched; ++r) {
                for (SQLSMALLINT c = 0; c < columns; ++c) {
                    SQLLEN n = lengths[size_t(c) * kRowArray + r];
                    const char* cell = &data[(size_t(c) * kRowArray + r) * size_t(kBoundWidth)];
                    out += n == SQL_NULL_DATA ? std::string("<null>") : std::string(cell);
                    out += '|';
                }
                out += '\n';
            }
        }
        // The diagnostics are taken before the next calls clear them.
        if (rc != SQL_NO_DATA)
            out = failure(stmt);
        SQLFreeStmt(stmt, SQL_UNBIND);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
        return out;
    }
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(stmt))) {
        for (SQLSMALLINT c = 0; c < columns; ++c) {
            std::string cell;
            bool null = false;
            for (;;) {
                char piece[kPiece];
                SQLLEN indicator = 0;
                SQLRETURN g = SQLGetData(stmt, SQLUSMALLINT(c + 1), SQL_C_CHAR, piece, kPiece, &indicator);
                if (g == SQL_NO_DATA)
                    break;
                if (!SQL_SUCCEEDED(g)) {
                    return failure(stmt);
                }
                if (indicator == SQL_NULL_DATA) {
                    null = true;
                    break;
                }
                cell += piece;
                if (g == SQL_SUCCESS)
                    break;
            }
            // Bound cells are cut at the buffer: cut alike, to compare.
            if (cell.size() > size_t(kBoundWidth - 1))
                cell.resize(size_t(kBoundWidth - 1));
            out += null ? std::string("<null>") : cell;
            out += '|';
        }
        out += '\n';
    }
    if (rc != SQL_NO_DATA) {
        return failure(stmt);
    }
    return out;
}

std::string runQuery(SQLHSTMT stmt, const Query& q)
{
    SQLRETURN rc;
    SQLINTEGER parameter = q.parameter;
    if (q.call == Call::Tables) {
        rc = SQLTables(stmt, nullptr, 0, nullptr, 0, sqlText(q.sql), SQL_NTS, nullptr, 0);
    } else if (q.call == Call::Columns) {
        rc = SQLColumns(stmt, nullptr, 0, nullptr, 0, sqlText(q.sql), SQL_NTS, nullptr, 0);
    } else {
        if (q.parameter != 0)
            SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &parameter, 0, nullptr);
        rc = SQLExecDirect(stmt, sqlText(q.sql), SQL_NTS);
    }
    std::string result;
    if (!SQL_SUCCEEDED(rc)) {
        result = failure(stmt);
    } else {
        result = readResult(stmt, q.way);
    }
    if (q.parameter != 0)
        SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    // Closing a cursor succeeds whatever became of the connection.
    if (!SQL_SUCCEEDED(SQLFreeStmt(stmt, SQL_CLOSE)))
        result += "\n!close " + katest::diagText(SQL_HANDLE_STMT, stmt);
    return result;
}

// runQuery, and the seconds it took.
std::string timedQuery(SQLHSTMT stmt, const Query& q, double* seconds)
{
    const auto began = std::chrono::steady_clock::now();
    std::string result = runQuery(stmt, q);
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return result;
}

// What went wrong in any thread; the first few texts are kept for the report.
class Failures {
public:
    void add(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (++count_ <= 5)
            texts_ += text + "\n";
    }
    int count() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }
    std::string texts() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    mutable std::mutex mutex_;
    int count_ = 0;
    std::string texts_;
};

class Hs2Load : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(katest::driverLibrary().empty());
        const char* build = std::getenv("KA_TEST_BUILD_DIR");
        iniDir = std::string(build != nullptr ? build : ".") + "/tests/hs2-load-" + std::to_string(getpid());
        ASSERT_EQ(0, system(("mkdir -p '" + iniDir + "'").c_str()));
        writeDriverIni(false);
        std::ofstream(iniDir + "/odbc.ini") << "[ODBC]\nIANAAppCodePage=106\n";
        setenv("ODBCSYSINI", iniDir.c_str(), 1);
        setenv("ODBCINSTINI", "odbcinst.ini", 1);
        setenv("ODBCINI", (iniDir + "/odbc.ini").c_str(), 1);
        // Small blocks: many replies per result, so that faults and other
        // threads meet a result in its middle.
        server = std::make_unique<katest::Hs2Process>(serverOptions());
        ASSERT_NE(0, server->port());
        port = server->portText();
    }
    static std::vector<std::string> serverOptions() { return {"--max-fetch-size", "50"}; }

    // The driver manager pools connections only where its own section says
    // so, whatever the application asks.
    static void writeDriverIni(bool pooling)
    {
        std::ofstream(iniDir + "/odbcinst.ini")
            << "[ODBC]\nPooling=" << (pooling ? "Yes" : "No") << "\n\n[VYspark28]\nDescription=Driver under test\n"
            << "Driver=" << katest::driverLibrary() << "\nCPTimeout=60\n";
    }

    static void TearDownTestSuite()
    {
        server.reset();
        if (!iniDir.empty()) {
            EXPECT_EQ(0, system(("rm -rf '" + iniDir + "'").c_str()));
        }
    }

    void SetUp() override
    {
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env));
        ASSERT_EQ(SQL_SUCCESS,
                  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC3}), 0));
    }
    void TearDown() override { EXPECT_EQ(SQL_SUCCESS, SQLFreeHandle(SQL_HANDLE_ENV, env)); }

    static std::string connectString(const std::string& extra = "")
    {
        return "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + port + ";UID=u;PWD=p;LT=20" + extra;
    }

    // A connected handle, or null with the reason in failures.
    SQLHDBC connect(const std::string& extra, Failures* failures)
    {
        SQLHDBC dbc = SQL_NULL_HDBC;
        if (SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc) != SQL_SUCCESS) {
            failures->add("SQLAllocHandle(DBC) failed");
            return SQL_NULL_HDBC;
        }
        std::string in = connectString(extra);
        SQLRETURN rc = SQLDriverConnect(dbc, nullptr, sqlText(in), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            failures->add("connect: " + katest::diagText(SQL_HANDLE_DBC, dbc));
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
            return SQL_NULL_HDBC;
        }
        return dbc;
    }

    static void disconnect(SQLHDBC dbc)
    {
        SQLRETURN rc = SQLDisconnect(dbc);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << katest::diagText(SQL_HANDLE_DBC, dbc);
        EXPECT_EQ(SQL_SUCCESS, SQLFreeHandle(SQL_HANDLE_DBC, dbc));
    }

    // The server drops the session's connection at its next fetch.
    static void killSession(SQLHSTMT stmt, Failures* failures)
    {
        if (!SQL_SUCCEEDED(SQLExecDirect(stmt, sqlText("SET hs2server.fault.drop=FetchResults"), SQL_NTS))) {
            failures->add("SET drop: " + katest::diagText(SQL_HANDLE_STMT, stmt));
            return;
        }
        SQLFreeStmt(stmt, SQL_CLOSE);
        std::string got = runQuery(stmt, {"SELECT count(*) FROM people", Way::BoundArrays});
        if (got.rfind("!08S01", 0) != 0)
            failures->add("dropped connection ended with " + got.substr(0, 200));
    }

    // The single-threaded answer to every query of the mix.
    void takeReference()
    {
        Failures failures;
        SQLHDBC dbc = connect("", &failures);
        ASSERT_NE(nullptr, dbc) << failures.texts();
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        reference.clear();
        for (const Query& q : mix)
            reference.push_back(runQuery(stmt, q));
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        disconnect(dbc);
        // The mix means something: rows where rows are due, the error where it is.
        for (size_t i = 0; i < mix.size(); ++i) {
            const bool refused = mix[i].sql.find("nosuchcolumn") != std::string::npos;
            ASSERT_EQ(refused, !reference[i].empty() && reference[i][0] == '!') << mix[i].sql << ": " << reference[i];
            ASSERT_FALSE(reference[i].empty()) << mix[i].sql;
        }
    }

    // Runs `queries` queries of the mix on the statement, starting at `first`,
    // comparing each with the reference.
    void runMix(SQLHSTMT stmt, int first, int queries, Failures* failures)
    {
        for (int i = 0; i < queries; ++i) {
            size_t at = size_t(first + i) % mix.size();
            std::string got = runQuery(stmt, mix[at]);
            if (got != reference[at])
                failures->add(mix[at].sql + ": got " + got.substr(0, 200) + " want " + reference[at].substr(0, 200));
        }
    }

    inline static std::string iniDir;
    inline static std::unique_ptr<katest::Hs2Process> server;
    // Read by the threads while a restart replaces the server on this port.
    inline static std::string port;
    SQLHENV env = SQL_NULL_HENV;
    std::vector<Query> mix = queryMix();
    std::vector<std::string> reference;
};

TEST_F(Hs2Load, ThreadsOnTheirOwnConnectionsGetWhatOneThreadGets)
{
    takeReference();
    int threads = threadCount(8);
    int queries = queryCount(12);
    Failures failures;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            SQLHDBC dbc = connect("", &failures);
            if (dbc == nullptr)
                return;
            SQLHSTMT stmt = SQL_NULL_HSTMT;
            if (SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt) == SQL_SUCCESS) {
                runMix(stmt, t, queries, &failures);
                SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            }
            disconnect(dbc);
        });
    }
    for (std::thread& w : workers)
        w.join();
    EXPECT_EQ(0, failures.count()) << failures.texts();
}

TEST_F(Hs2Load, PooledConnectionsComeBackUsable)
{
    // Pooling is the driver manager's, switched on for the process before
    // the environment is made.
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    writeDriverIni(true);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetEnvAttr(SQL_NULL_HANDLE, SQL_ATTR_CONNECTION_POOLING,
                                            reinterpret_cast<SQLPOINTER>(SQL_CP_ONE_PER_DRIVER), SQL_IS_UINTEGER)));
    SetUp();
    takeReference();
    int threads = threadCount(8);
    int queries = queryCount(12);
    Failures failures;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            // A connection for every few queries, so that connections go
            // back to the pool and come out again in other threads. Now and
            // then one loses its server first: the pool must not hand out
            // a dead connection again.
            for (int done = 0; done < queries; done += 3) {
                SQLHDBC dbc = connect("", &failures);
                if (dbc == nullptr)
                    return;
                SQLHSTMT stmt = SQL_NULL_HSTMT;
                if (SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt) == SQL_SUCCESS) {
                    runMix(stmt, t + done, std::min(3, queries - done), &failures);
                    if ((t + done) % 4 == 1)
                        killSession(stmt, &failures);
                    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
                }
                SQLDisconnect(dbc);
                SQLFreeHandle(SQL_HANDLE_DBC, dbc);
            }
        });
    }
    for (std::thread& w : workers)
        w.join();
    EXPECT_EQ(0, failures.count()) << failures.texts();
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    writeDriverIni(false);
    (void)SQLSetEnvAttr(SQL_NULL_HANDLE, SQL_ATTR_CONNECTION_POOLING, reinterpret_cast<SQLPOINTER>(SQL_CP_OFF),
                        SQL_IS_UINTEGER);
    SetUp();
}

// Threads that share one connection, each with its own statement, under the
// two locking models that serialise calls (by the handle and by the driver).
class Hs2LoadShared : public Hs2Load, public ::testing::WithParamInterface<const char*> {};

TEST_P(Hs2LoadShared, StatementsOfOneConnectionStayApart)
{
    takeReference();
    Failures failures;
    SQLHDBC dbc = connect(std::string(";THREADCAPABILITY=") + GetParam(), &failures);
    ASSERT_NE(nullptr, dbc) << failures.texts();
    int threads = std::min(threadCount(8), 16);
    int queries = queryCount(8);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            SQLHSTMT stmt = SQL_NULL_HSTMT;
            if (SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt) != SQL_SUCCESS) {
                failures.add("SQLAllocHandle(STMT) failed");
                return;
            }
            runMix(stmt, t, queries, &failures);
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        });
    }
    for (std::thread& w : workers)
        w.join();
    disconnect(dbc);
    EXPECT_EQ(0, failures.count()) << failures.texts();
}

INSTANTIATE_TEST_SUITE_P(LockingModels, Hs2LoadShared, ::testing::Values("THREADPERCONNECTION", "THREADPERDRIVER"));

// The model without locks, and an application that says it runs no
// threads, promise only that one thread per connection works.
TEST_F(Hs2Load, UnlockedModelsServeOneThreadPerConnection)
{
    takeReference();
    Failures failures;
    std::vector<std::thread> workers;
    const char* extras[] = {";THREADCAPABILITY=THREADSAFE", ";APPLICATIONUSINGTHREADS=0"};
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            SQLHDBC dbc = connect(extras[t % 2], &failures);
            if (dbc == nullptr)
                return;
            SQLHSTMT stmt = SQL_NULL_HSTMT;
            if (SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt) == SQL_SUCCESS) {
                runMix(stmt, t, queryCount(6), &failures);
                SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            }
            disconnect(dbc);
        });
    }
    for (std::thread& w : workers)
        w.join();
    EXPECT_EQ(0, failures.count()) << failures.texts();
}

// A fault the test server injects into one session, what the faulted call
// may end with, and the time-out that ends it when the server does not.
struct Fault {
    enum class Ends { AtOnce, QueryTimeout, ConnectionTimeout };
    std::string setting;
    std::vector<std::string> states;
    Ends ends = Ends::AtOnce;
    // The server counts a session's calls from its start: a fault at the
    // Nth call of a method needs a session that made none before it.
    bool countsCalls = false;
};

// Seconds of the time-outs the stall faults meet: far below the stalls
// themselves, so that a call that waited for the server shows.
constexpr int kQueryTimeout = 1;
constexpr int kConnectionTimeout = 2;
// What a faulted call may take beyond its time-out (or at all, when the
// fault ends it at once): generous, for sanitizers and shared cores. This
// bounds a hang; it is no measure of speed.
constexpr double kFaultMargin = 20.0;

// A server that takes too long: an operation that keeps running past the
// statement's query time-out ends with HYT00 and the connection goes on; a
// reply that stalls past the connection's time-out ends the call instead of
// hanging it.
TEST_F(Hs2Load, AStalledServerEndsTheCallWithinItsTimeOut)
{
    Failures failures;
    SQLHDBC dbc = connect("", &failures);
    ASSERT_NE(nullptr, dbc) << failures.texts();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
    // The fault holds the SET's own operation too, which the time-out ends.
    ASSERT_EQ(SQL_SUCCESS,
              SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(kQueryTimeout), 0));
    double took = 0;
    std::string got = timedQuery(stmt, {"SET hs2server.fault.running=60000", Way::GetDataPieces}, &took);
    EXPECT_EQ(0u, got.rfind("!HYT00", 0)) << got;
    EXPECT_LE(took, kQueryTimeout + kFaultMargin);
    got = timedQuery(stmt, {"SELECT count(*) FROM people", Way::GetDataPieces}, &took);
    EXPECT_EQ(0u, got.rfind("!HYT00", 0)) << got;
    EXPECT_LE(took, kQueryTimeout + kFaultMargin);
    // The connection is still alive: the time-out ended the operation, not
    // the link (every operation of this session is held, so no query can
    // show it).
    SQLUINTEGER dead = SQL_CD_TRUE;
    EXPECT_EQ(SQL_SUCCESS, SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr));
    EXPECT_EQ(SQL_CD_FALSE, dead);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    disconnect(dbc);

    dbc = connect(";CT=" + std::to_string(kConnectionTimeout), &failures);
    ASSERT_NE(nullptr, dbc) << failures.texts();
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
    ASSERT_EQ("", runQuery(stmt, {"SET hs2server.fault.stall=FetchResults:60000", Way::GetDataPieces}));
    got = timedQuery(stmt, {"SELECT count(*) FROM people", Way::GetDataPieces}, &took);
    EXPECT_TRUE(got.rfind("!HYT00", 0) == 0 || got.rfind("!08S01", 0) == 0) << got;
    EXPECT_LE(took, kConnectionTimeout + kFaultMargin);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

// Each fault alone, read each way: the call that meets it fails with its
// diagnostic, and never ends quietly short or without a record.
TEST_F(Hs2Load, EachFaultEndsItsQueryWithADiagnostic)
{
    struct Case {
        const char* setting;
        const char* state;
    } cases[] = {
        {"drop=FetchResults", "!08S01"},
        {"truncate=FetchResults", "!08S01"},
        {"drop=ExecuteStatement", "!08S01"},
        {"drop=GetResultSetMetadata", "!08S01"},
        // In the middle of the result: the rows before arrive, and the
        // result never looks complete. A rowset that holds rows from before
        // the failure comes with it as a warning, and the next fetch fails
        // with the same state, so a lost link still reads as one.
        {"drop=FetchResults:3", "!08S01"},
        {"truncate=FetchResults:4", "!08S01"},
        // A reply whose frame claims more than arrives: its own rows may be
        // read, the rest of the result is not.
        {"oversize=FetchResults", "!"},
    };
    for (const Case& c : cases) {
        for (Way way : {Way::BoundArrays, Way::GetDataPieces}) {
            Failures failures;
            SQLHDBC dbc = connect("", &failures);
            ASSERT_NE(nullptr, dbc) << failures.texts();
            SQLHSTMT stmt = SQL_NULL_HSTMT;
            ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
            std::string set = std::string("SET hs2server.fault.") + c.setting;
            ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt, sqlText(set), SQL_NTS)));
            SQLFreeStmt(stmt, SQL_CLOSE);
            std::string got = runQuery(stmt, {"SELECT * FROM bench.synthetic LIMIT 300", way});
            const char* how = way == Way::BoundArrays ? " bound" : " getdata";
            EXPECT_EQ(0u, got.rfind(c.state, 0))
                << c.setting << how << ": " << got.size() << " bytes: " << got.substr(0, 100) << " ... "
                << got.substr(got.size() > 300 ? got.size() - 300 : 0);
            // The connection is gone afterwards, or still right: never out of step.
            std::string next = runQuery(stmt, {"SELECT count(*) FROM people", Way::GetDataPieces});
            EXPECT_TRUE(next == "8|\n" || next.rfind("!08S01", 0) == 0 || next.rfind("!08003", 0) == 0)
                << c.setting << how << " then: " << next.substr(0, 300);
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            SQLDisconnect(dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        }
    }
}

// Faults in some threads' sessions, at a random point of their work, while
// the other threads go on: each faulted call ends with its diagnostic within
// its time-out, and no other thread's results change.
TEST_F(Hs2Load, FaultsEndTheirOwnCallsAndTheOtherThreadsCarryOn)
{
    takeReference();
    using Ends = Fault::Ends;
    const std::vector<Fault> faults = {
        {"drop=FetchResults", {"!08S01"}},
        // In the middle of the result: rows arrive first, then the link goes.
        {"drop=FetchResults:3", {"!08S01"}, Ends::AtOnce, true},
        {"truncate=FetchResults:4", {"!08S01"}, Ends::AtOnce, true},
        {"truncate=FetchResults", {"!08S01"}},
        {"oversize=FetchResults", {"!08S01", "!HY000"}},
        {"drop=ExecuteStatement", {"!08S01"}},
        {"error-state=injected by the load test", {"!HY000", "!42000", "!08S01"}},
        // The operation keeps running past the statement's query time-out
        // (the SET's own operation already).
        {"running=60000", {"!HYT00"}, Ends::QueryTimeout},
        // A reply stalled past the connection's time-out.
        {"stall=FetchResults:60000", {"!HYT00", "!08S01"}, Ends::ConnectionTimeout},
    };
    int threads = threadCount(8);
    int rounds = std::max(2, queryCount(12) / 3);
    Failures failures;
    std::atomic<int> faulted{0};
    std::vector<std::atomic<int>> met(faults.size());
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 rng(uint32_t(1000 + t));
            for (int round = 0; round < rounds; ++round) {
                // Every other round meets a fault; the threads take the
                // faults in turn, so that each is met when there are
                // enough of them.
                const bool faulty = round % 2 == 1;
                const size_t which = size_t(t + (round / 2) * threads) % faults.size();
                const Fault& f = faults[which];
                const bool connectionTimeout = faulty && f.ends == Ends::ConnectionTimeout;
                SQLHDBC dbc = connect(connectionTimeout ? ";CT=" + std::to_string(kConnectionTimeout) : "", &failures);
                if (dbc == nullptr)
                    return;
                SQLHSTMT stmt = SQL_NULL_HSTMT;
                if (SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt) != SQL_SUCCESS) {
                    failures.add("SQLAllocHandle(STMT) failed");
                    disconnect(dbc);
                    return;
                }
                // Clean queries first, a random number of them from a
                // random place in the mix, then the fault on this session
                // only and the call that meets it.
                const int clean = faulty && f.countsCalls ? 0 : 1 + int(rng() % 3);
                runMix(stmt, int(rng() % mix.size()), clean, &failures);
                if (faulty) {
                    if (f.ends == Ends::QueryTimeout)
                        SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(kQueryTimeout), 0);
                    const Way way = rng() % 2 == 0 ? Way::BoundArrays : Way::GetDataPieces;
                    // A fault that ends operations meets the SET's own.
                    double took = 0;
                    std::string got = timedQuery(stmt, {"SET hs2server.fault." + f.setting, Way::GetDataPieces}, &took);
                    if (got.rfind("!", 0) != 0)
                        got = timedQuery(stmt, {"SELECT * FROM bench.synthetic LIMIT 300", way}, &took);
                    const int timeout = f.ends == Ends::QueryTimeout        ? kQueryTimeout
                                        : f.ends == Ends::ConnectionTimeout ? kConnectionTimeout
                                                                            : 0;
                    bool expected = false;
                    for (const std::string& state : f.states)
                        expected = expected || got.rfind(state, 0) == 0;
                    if (!expected)
                        failures.add(f.setting + " ended with " + got.substr(0, 100));
                    if (took > timeout + kFaultMargin)
                        failures.add(f.setting + " took " + std::to_string(took) + " s");
                    ++met[which];
                    ++faulted;
                }
                SQLFreeHandle(SQL_HANDLE_STMT, stmt);
                disconnect(dbc);
            }
        });
    }
    for (std::thread& w : workers)
        w.join();
    EXPECT_EQ(0, failures.count()) << failures.texts();
    EXPECT_GT(faulted.load(), 0);
    if (size_t(threads) * size_t(rounds / 2) >= faults.size())
        for (size_t i = 0; i < faults.size(); ++i)
            EXPECT_GT(met[i].load(), 0) << faults[i].setting;

    // The server itself is unharmed: a fresh connection gets the reference.
    Failures after;
    SQLHDBC dbc = connect("", &after);
    ASSERT_NE(nullptr, dbc) << after.texts();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
    runMix(stmt, 0, int(mix.size()), &after);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    disconnect(dbc);
    EXPECT_EQ(0, after.count()) << after.texts();
}

TEST_F(Hs2Load, ThreadsRideOutAServerRestart)
{
    takeReference();
    int threads = std::min(threadCount(8), 8);
    std::atomic<bool> stop{false};
    std::atomic<int> lost{0};
    Failures failures;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            int i = t;
            while (!stop) {
                Failures ignored;
                SQLHDBC dbc = connect("", &ignored);
                if (dbc == nullptr) {
                    // Down: the connect failed with a diagnostic and did not hang.
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    continue;
                }
                SQLHSTMT stmt = SQL_NULL_HSTMT;
                if (SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt) == SQL_SUCCESS) {
                    for (int q = 0; q < 3 && !stop; ++q, ++i) {
                        size_t at = size_t(i) % mix.size();
                        std::string got = runQuery(stmt, mix[at]);
                        if (got == reference[at])
                            continue;
                        // A query the restart cut off ends with a lost connection.
                        if (got.rfind("!08S01", 0) == 0 || got.rfind("!08003", 0) == 0) {
                            ++lost;
                            break;
                        }
                        failures.add(mix[at].sql + ": " + got.substr(0, 200));
                    }
                    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
                }
                disconnect(dbc);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    server.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::string> options = serverOptions();
    options.insert(options.end(), {"--port", port});
    server = std::make_unique<katest::Hs2Process>(options);
    ASSERT_EQ(port, server->portText());
    // Once the server is back, a connect succeeds again.
    Failures back;
    SQLHDBC dbc = SQL_NULL_HDBC;
    for (int tries = 0; tries < 100 && dbc == nullptr; ++tries) {
        Failures attempt;
        dbc = connect("", &attempt);
        if (dbc == nullptr)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(nullptr, dbc);
    disconnect(dbc);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop = true;
    for (std::thread& w : workers)
        w.join();
    EXPECT_EQ(0, failures.count()) << failures.texts();
}

}  // namespace
