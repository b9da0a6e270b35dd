// The Hive statement against the bundled test server, under every server
// identity and both result layouts: prepare flags, execution with the
// result described, rows fetched across blocks, row counts and polling,
// server errors, and the describe step before execution.
#include "hive/hivestatement.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "convert/basestring.h"
#include "fakewire.h"
#include "foundation/kaerror.h"
#include "hive/dummyenv.h"
#include "hive/hiveconnection.h"
#include "hive/hivedesc.h"
#include "kamessages.h"
#include "sql/basesql.h"
#include "support/diagscope.h"
#include "support/hs2process.h"
#include "support/platformtest.h"
#include "platform/katmpname.h"
#include "transport/basesocket.h"
#include "transport/kasock.h"

namespace {

std::u16string u16(const std::string& s)
{
    std::u16string out;
    for (unsigned char c : s)
        out += char16_t(c);
    return out;
}

std::string narrow(const uint16_t* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        out += char(*text);
    return out;
}

// A Hive connection with an open session on the test server, without the
// connection's own open sequence: socket, SASL PLAIN, OpenSession.
class HiveSession {
public:
    HiveSession(uint16_t port, int32_t protocol)
    {
        socket = std::make_unique<BaseSocket>(nullptr, nullptr);
        if (port == 0 || socket->createTransport() != 0 || socket->connectTo("127.0.0.1", port, 0) != KA_SOCK_OK)
            return;
        socket->useQueryTimeout(30);
        if (conn.writeBuffer.attach(&conn, socket.get()) != 0 || conn.readBuffer.attach(&conn, socket.get()) != 0)
            return;
        conn.writeBuffer.framing = 0;
        HiveNetWriteBuffer& w = conn.writeBuffer;
        const std::string credentials = std::string(1, '\0') + "tester" + '\0' + "secret";
        if (w.put(1) || w.writeString("PLAIN", 5) || w.put(2) ||
            w.writeString(credentials.data(), credentials.size()) || w.flush())
            return;
        uint8_t status = 0;
        int32_t n = 0;
        HiveNetReadBuffer& in = conn.readBuffer;
        if (in.readByte(&status) || in.readI32(&n) || in.skipBytes(uint64_t(n)) || status != HIVE_SASL_COMPLETE)
            return;
        in.resetFrame();
        conn.writeBuffer.framing = 1;
        conn.readBuffer.framed = 1;
        const int32_t style = protocol <= 4 ? HIVE_RESULT_ROW_WISE : HIVE_RESULT_COLUMN_WISE;
        conn.readBuffer.resultStyle = style;
        int32_t server = 0;
        if (conn.writeOpenSession(protocol, nullptr, 0) != 0 || conn.readOpenSessionReply(&server) != 0)
            return;
        open = true;
    }

    DummyEnv env;
    HiveConnection conn{&env};
    std::unique_ptr<BaseSocket> socket;
    bool open = false;
};

// Server identity and client protocol (4: V5, row-wise; 7: V8, column-wise).
using Setting = std::tuple<const char*, int32_t>;

class HiveStatementTest : public ::testing::TestWithParam<Setting> {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override
    {
        server = std::make_unique<katest::Hs2Process>(std::vector<std::string>{"--server", std::get<0>(GetParam())});
        session = std::make_unique<HiveSession>(server->port(), std::get<1>(GetParam()));
        ASSERT_TRUE(session->open) << messages();
        stmt = newStatement();
        ASSERT_NE(nullptr, stmt);
    }
    void TearDown() override
    {
        delete stmt;
        stmt = nullptr;
        session.reset();
        server.reset();
    }

    HiveStatement* newStatement()
    {
        BaseStatement* made = nullptr;
        if (session->conn.createStatement(&made) != 0)
            return nullptr;
        // Text comes back as UTF-8, as it left the server.
        made->charCodePage = 106;
        return static_cast<HiveStatement*>(made);
    }

    std::string messages()
    {
        std::string out;
        for (size_t i = 0; i < diags.size(); ++i)
            out += diags.text(i) + "\n";
        return out;
    }

    int16_t prepare(HiveStatement* s, const std::string& sql)
    {
        std::u16string text = u16(sql);
        BaseSqlStringW analysed(reinterpret_cast<const uint16_t*>(text.data()), int64_t(text.size()));
        if (analysed.makeOwned() != 0)
            return 1;
        return s->prepareHook(&analysed);
    }

    int16_t run(HiveStatement* s, const std::string& sql)
    {
        if (prepare(s, sql) != 0)
            return 1;
        return s->executeHook();
    }

    // Every row of the open result, each column as text ("NULL" for NULL).
    std::vector<std::vector<std::string>> rows(HiveStatement* s)
    {
        std::vector<std::vector<std::string>> out;
        for (;;) {
            int16_t noMore = 1;
            EXPECT_EQ(0, s->fetchRow(&noMore)) << messages();
            if (noMore != 0)
                break;
            std::vector<std::string> row;
            for (uint16_t c = 1; c <= s->resultColumnCount; ++c) {
                char buffer[4096];
                int64_t length = 0;
                BaseOutString value(buffer, int64_t(sizeof buffer), &length, nullptr);
                EXPECT_EQ(0, s->getColumnData(c, SQL_C_CHAR, &value)) << messages();
                row.push_back(length == SQL_NULL_DATA ? "NULL" : std::string(buffer, size_t(length)));
            }
            out.push_back(row);
            if (out.size() > 100000)
                break;
        }
        return out;
    }

    katest::ThreadScope thread;
    katest::DiagScope diags;
    std::unique_ptr<katest::Hs2Process> server;
    std::unique_ptr<HiveSession> session;
    HiveStatement* stmt = nullptr;
};

TEST_P(HiveStatementTest, PrepareSetsPollingAndClosingByTheFirstWord)
{
    struct Case {
        const char* sql;
        int32_t poll;
        int32_t close;
    } cases[] = {
        {"SELECT * FROM people", 0, 0},
        {"WITH p AS (SELECT 1) SELECT * FROM p", 0, 0},
        {"use sales", 0, 1},
        {"LOAD DATA INPATH '/x' INTO TABLE t", 1, 1},
        {"refresh t", 1, 1},
        {"INVALIDATE METADATA", 1, 1},
        {"CREATE TABLE t (a int)", 1, 1},
        {"INSERT INTO t VALUES (1)", 1, 1},
        {"DROP TABLE t", 1, 1},
        {"ALTER TABLE t ADD COLUMNS (b int)", 1, 1},
        {"SET x=1", 0, 0},
        {"DESCRIBE people", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        ASSERT_EQ(0, prepare(stmt, c.sql));
        EXPECT_EQ(c.poll, stmt->pollFlag);
        EXPECT_EQ(c.close, stmt->closeAfterExecute);
        EXPECT_EQ(u16(c.sql), std::u16string(reinterpret_cast<char16_t*>(stmt->sqlText), stmt->sqlTextLength));
    }
}

TEST_P(HiveStatementTest, AQueryIsDescribedAndItsRowsFetched)
{
    ASSERT_EQ(0, run(stmt, "SELECT id, name, city, score FROM people ORDER BY id")) << messages();
    ASSERT_EQ(4, stmt->resultColumnCount);
    EXPECT_TRUE(stmt->resultDescribed);
    const char* names[] = {"id", "name", "city", "score"};
    const int16_t types[] = {SQL_INTEGER, SQL_WVARCHAR, SQL_WVARCHAR, SQL_DOUBLE};
    for (uint16_t c = 1; c <= 4; ++c) {
        HiveIRDRecord* rec = stmt->columnRecord(c);
        ASSERT_NE(nullptr, rec);
        EXPECT_EQ(names[c - 1], narrow(rec->name));
        EXPECT_EQ(types[c - 1], rec->conciseType);
        EXPECT_NE(nullptr, rec->currentReader);
    }
    auto got = rows(stmt);
    ASSERT_EQ(8u, got.size()) << messages();
    EXPECT_EQ((std::vector<std::string>{"1", "Ada", "London", "91.5"}), got[0]);
    EXPECT_EQ("Chlo\xc3\xa9", got[2][1]);
    EXPECT_EQ("NULL", got[2][3]);
    EXPECT_EQ("NULL", got[3][2]);
    EXPECT_EQ("8", got[7][0]);
    // The end of the result stays the end.
    int16_t noMore = 0;
    EXPECT_EQ(0, stmt->fetchRow(&noMore));
    EXPECT_EQ(1, noMore);
}

TEST_P(HiveStatementTest, RowsComeAcrossManyBlocks)
{
    ASSERT_EQ(0, prepare(stmt, "SELECT id FROM bench.synthetic"));
    stmt->settings.maxRowsInFetch = 7;
    ASSERT_EQ(0, stmt->executeHook()) << messages();
    EXPECT_EQ(7, stmt->communicator->rowsPerFetch);
    auto got = rows(stmt);
    ASSERT_EQ(1000u, got.size()) << messages();
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_FALSE(got[i][0].empty());
}

// A connection socket whose writes time out, posting as a real one does.
class TimedOutWrites : public katest::FakeWire {
public:
    int write(const void*, size_t, int32_t) noexcept override
    {
        errPost(MSG_SOCKET_TIMED_OUT)->setSqlstateMsg(MSG_SQLSTATE_TIMEOUT_EXPIRED)->addParamText("");
        return KA_SOCK_TIMED_OUT;
    }
};

TEST_P(HiveStatementTest, AFetchThatNeedsABlockWhoseRequestFailedSaysWhy)
{
    // Column-wise, the next block is asked for while the current one is
    // served, so the request fails during a fetch that succeeds; the fetch
    // that needs the block must still say why it fails.
    ASSERT_EQ(0, prepare(stmt, "SELECT id FROM bench.synthetic"));
    stmt->settings.maxRowsInFetch = 7;
    ASSERT_EQ(0, stmt->executeHook()) << messages();
    int16_t noMore = 1;
    ASSERT_EQ(0, stmt->fetchRow(&noMore)) << messages();
    TimedOutWrites failing;
    session->conn.writeBuffer.socket = &failing;
    int fetched = 1;
    int16_t rc = 0;
    while (fetched <= 7) {
        diags.list.clear();
        rc = stmt->fetchRow(&noMore);
        if (rc != 0 || noMore != 0)
            break;
        ++fetched;
    }
    session->conn.writeBuffer.socket = session->socket.get();
    EXPECT_EQ(1, rc);
    EXPECT_EQ(7, fetched);
    ASSERT_LT(0u, diags.size());
    EXPECT_EQ(MSG_SQLSTATE_TIMEOUT_EXPIRED, diags.index(0)) << messages();
}

TEST_P(HiveStatementTest, AResultOfExactlyOneBlockEndsWithAnEmptyBlock)
{
    ASSERT_EQ(0, prepare(stmt, "SELECT id FROM people"));
    stmt->settings.maxRowsInFetch = 8;
    ASSERT_EQ(0, stmt->executeHook()) << messages();
    EXPECT_EQ(8u, rows(stmt).size());
}

TEST_P(HiveStatementTest, StatementsWithoutResultGiveTheirRowCount)
{
    ASSERT_EQ(0, run(stmt, "CREATE TABLE t_rc (a int, b string)")) << messages();
    EXPECT_EQ(0, stmt->resultColumnCount);
    int64_t count = 0;
    ASSERT_EQ(0, stmt->getRowCount(&count));
    EXPECT_EQ(-1, count);
    ASSERT_EQ(0, run(stmt, "INSERT INTO t_rc VALUES (1, 'x'), (2, 'y')")) << messages();
    ASSERT_EQ(0, stmt->getRowCount(&count));
    EXPECT_TRUE(count == 2 || count == -1) << count;
    ASSERT_EQ(0, run(stmt, "SELECT a, b FROM t_rc ORDER BY a")) << messages();
    auto got = rows(stmt);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ("y", got[1][1]);
}

TEST_P(HiveStatementTest, AServerErrorBecomesADiagnosticWithTheServersText)
{
    EXPECT_EQ(1, run(stmt, "SELECT nosuchcolumn FROM people"));
    ASSERT_GE(diags.size(), 1u);
    EXPECT_NE(std::string::npos, messages().find("nosuchcolumn")) << messages();
}

TEST_P(HiveStatementTest, AnOperationThatEndsInErrorFailsTheExecute)
{
    // The fault holds from the SET's own operation on, which ends in ERROR.
    EXPECT_EQ(1, run(stmt, "SET hs2server.fault.error-state=the table is locked"));
    // Polling reads the error of the operation instead of taking the end of
    // RUNNING for success; a query reports it too, not the metadata call's
    // complaint about the operation's state.
    for (const char* sql : {"CREATE TABLE t_err (a int)", "SELECT id FROM people", "INSERT INTO t_err VALUES (9)"}) {
        SCOPED_TRACE(sql);
        diags.list.clear();
        EXPECT_EQ(1, run(stmt, sql));
        EXPECT_NE(std::string::npos, messages().find("the table is locked")) << messages();
        EXPECT_EQ(std::string::npos, messages().find("found ERROR")) << messages();
        EXPECT_NE(HIVE_RESULT_OPEN, stmt->resultState);
    }
    // The wire stayed in step: once the fault is off, a query runs.
    diags.list.clear();
    ASSERT_EQ(0, run(stmt, "SET hs2server.fault.error-state=off")) << messages();
    ASSERT_EQ(0, run(stmt, "SELECT id FROM people WHERE id = 2")) << messages();
    EXPECT_EQ(1u, rows(stmt).size());
}

TEST_P(HiveStatementTest, AnOperationThatEndsInErrorTakesTheServersSqlstateAndHidesCredentials)
{
    struct Case {
        const char* fault;
        const char* state;
        const char* shown;
        const char* hidden;
    } cases[] = {
        // Hive's failed job: the server's own SQLSTATE.
        {"on", "08S01", "MapRedTask", nullptr},
        // No SQLSTATE from the server: the one its text suggests.
        {"the table is locked", "HY000", "the table is locked", nullptr},
        {"ParseException line 1:7 mismatched input", "42000", "ParseException", nullptr},
        // A server repeating the session request in its text.
        {"failed: TOpenSessionReq(username:ann, password:hunter2, configuration:{})", "HY000", "password:***",
         "hunter2"},
        {"login refused for user=ann password=hunter2 host=h", "HY000", "password=*** host=h", "hunter2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        diags.list.clear();
        EXPECT_EQ(1, run(stmt, std::string("SET hs2server.fault.error-state=") + c.fault));
        diags.list.clear();
        EXPECT_EQ(1, run(stmt, "SELECT id FROM people"));
        ASSERT_EQ(1u, diags.size()) << messages();
        uint16_t state[KA_SQLSTATE_LEN + 1] = {};
        diags.at(0)->effectiveSqlstate(state);
        EXPECT_EQ(c.state, narrow(state)) << messages();
        // Whatever the server calls it, a failed operation is no lost link.
        EXPECT_NE(MSG_SQLSTATE_LINK_FAILURE, diags.index(0));
        EXPECT_NE(std::string::npos, messages().find(c.shown)) << messages();
        if (c.hidden != nullptr) {
            EXPECT_EQ(std::string::npos, messages().find(c.hidden)) << messages();
        }
    }
    diags.list.clear();
    ASSERT_EQ(0, run(stmt, "SET hs2server.fault.error-state=off")) << messages();
    ASSERT_EQ(0, run(stmt, "SELECT id FROM people WHERE id = 2")) << messages();
    EXPECT_EQ(1u, rows(stmt).size());
}

TEST_P(HiveStatementTest, AnOperationStillRunningWhenAnsweredIsPolledUntilItEnds)
{
    // ExecuteStatement answers at once; each operation then runs on.
    ASSERT_EQ(0, run(stmt, "SET hs2server.fault.running=300")) << messages();
    ASSERT_EQ(0, run(stmt, "SELECT id, name FROM people WHERE id < 4 ORDER BY id")) << messages();
    auto got = rows(stmt);
    ASSERT_EQ(3u, got.size()) << messages();
    EXPECT_EQ("3", got[2][0]);
    ASSERT_EQ(0, run(stmt, "CREATE TABLE t_slow (a int)")) << messages();
    int64_t count = 0;
    ASSERT_EQ(0, stmt->getRowCount(&count));
    EXPECT_EQ(-1, count);
    // Described before it runs: the describe step's execute polls too.
    ASSERT_EQ(0, prepare(stmt, "SELECT name FROM people WHERE id = 2"));
    ASSERT_EQ(0, stmt->describeStatement()) << messages();
    ASSERT_EQ(0, stmt->executeHook()) << messages();
    got = rows(stmt);
    ASSERT_EQ(1u, got.size()) << messages();
    EXPECT_EQ(0u, diags.size()) << messages();
}

TEST_P(HiveStatementTest, IntervalColumnsConvertToTheIntervalTypesAndStayTextAsChar)
{
    ASSERT_EQ(0, run(stmt, "SELECT id, iym, idt FROM intervals ORDER BY id")) << messages();
    // The server's bare texts, as the table holds them; NULL in row 3. The
    // engine's interval structures hold the fraction in nanoseconds.
    struct Row {
        std::string yearMonthText;
        std::string dayTimeText;
        SQL_INTERVAL_STRUCT yearMonth;
        SQL_INTERVAL_STRUCT dayTime;
    };
    auto ym = [](SQLSMALLINT sign, SQLUINTEGER year, SQLUINTEGER month) {
        SQL_INTERVAL_STRUCT v{};
        v.interval_type = SQL_IS_YEAR_TO_MONTH;
        v.interval_sign = sign;
        v.intval.year_month.year = year;
        v.intval.year_month.month = month;
        return v;
    };
    auto ds = [](SQLSMALLINT sign, SQLUINTEGER day, SQLUINTEGER hour, SQLUINTEGER minute, SQLUINTEGER second,
                 SQLUINTEGER fraction) {
        SQL_INTERVAL_STRUCT v{};
        v.interval_type = SQL_IS_DAY_TO_SECOND;
        v.interval_sign = sign;
        v.intval.day_second.day = day;
        v.intval.day_second.hour = hour;
        v.intval.day_second.minute = minute;
        v.intval.day_second.second = second;
        v.intval.day_second.fraction = fraction;
        return v;
    };
    const Row expected[] = {
        {"1-2", "1 02:03:04.500000000", ym(SQL_FALSE, 1, 2), ds(SQL_FALSE, 1, 2, 3, 4, 500000000)},
        {"-0-3", "-0 00:00:00.000000001", ym(SQL_TRUE, 0, 3), ds(SQL_TRUE, 0, 0, 0, 0, 1)},
        {"NULL", "NULL", {}, {}},
        {"100-11", "99 23:59:59.999999999", ym(SQL_FALSE, 100, 11), ds(SQL_FALSE, 99, 23, 59, 59, 999999999)},
    };
    for (const Row& want : expected) {
        SCOPED_TRACE(want.yearMonthText);
        int16_t noMore = 1;
        ASSERT_EQ(0, stmt->fetchRow(&noMore)) << messages();
        ASSERT_EQ(0, noMore);
        for (uint16_t c : {uint16_t(2), uint16_t(3)}) {
            // SQL_C_CHAR: the text as the server sent it.
            char text[64] = {};
            int64_t length = 0;
            BaseOutString asText(text, int64_t(sizeof text), &length, nullptr);
            ASSERT_EQ(0, stmt->getColumnData(c, SQL_C_CHAR, &asText)) << messages();
            const std::string& wantText = c == 2 ? want.yearMonthText : want.dayTimeText;
            EXPECT_EQ(wantText, length == SQL_NULL_DATA ? "NULL" : std::string(text, size_t(length)));
            // The interval type of the column's fields.
            SQL_INTERVAL_STRUCT value{};
            int64_t indicator = 0;
            BaseOutString asInterval(&value, int64_t(sizeof value), &indicator, nullptr);
            const int16_t cType = c == 2 ? SQL_C_INTERVAL_YEAR_TO_MONTH : SQL_C_INTERVAL_DAY_TO_SECOND;
            ASSERT_EQ(0, stmt->getColumnData(c, cType, &asInterval)) << messages();
            if (wantText == "NULL") {
                EXPECT_EQ(SQL_NULL_DATA, indicator);
                continue;
            }
            const SQL_INTERVAL_STRUCT& w = c == 2 ? want.yearMonth : want.dayTime;
            EXPECT_EQ(w.interval_type, value.interval_type);
            EXPECT_EQ(w.interval_sign, value.interval_sign);
            if (c == 2) {
                EXPECT_EQ(w.intval.year_month.year, value.intval.year_month.year);
                EXPECT_EQ(w.intval.year_month.month, value.intval.year_month.month);
            } else {
                EXPECT_EQ(w.intval.day_second.day, value.intval.day_second.day);
                EXPECT_EQ(w.intval.day_second.hour, value.intval.day_second.hour);
                EXPECT_EQ(w.intval.day_second.minute, value.intval.day_second.minute);
                EXPECT_EQ(w.intval.day_second.second, value.intval.day_second.second);
                EXPECT_EQ(w.intval.day_second.fraction, value.intval.day_second.fraction);
            }
        }
        // A single field of a year-month interval: the months in all.
        if (want.yearMonthText != "NULL") {
            SQL_INTERVAL_STRUCT months{};
            int64_t indicator = 0;
            BaseOutString asMonths(&months, int64_t(sizeof months), &indicator, nullptr);
            ASSERT_EQ(0, stmt->getColumnData(2, SQL_C_INTERVAL_MONTH, &asMonths)) << messages();
            EXPECT_EQ(want.yearMonth.intval.year_month.year * 12 + want.yearMonth.intval.year_month.month,
                      months.intval.year_month.month);
        }
    }
    // A string column is no interval: its text is refused, not guessed at.
    diags.list.clear();
    ASSERT_EQ(0, run(stmt, "SELECT name FROM people WHERE id = 1")) << messages();
    int16_t noMore = 1;
    ASSERT_EQ(0, stmt->fetchRow(&noMore));
    SQL_INTERVAL_STRUCT value{};
    int64_t indicator = 0;
    BaseOutString asInterval(&value, int64_t(sizeof value), &indicator, nullptr);
    EXPECT_EQ(1, stmt->getColumnData(1, SQL_C_INTERVAL_DAY_TO_SECOND, &asInterval));
    EXPECT_NE(0u, diags.size());
}

TEST_P(HiveStatementTest, AQueryDescribedBeforeExecutionIsSentOnce)
{
    ASSERT_EQ(0, prepare(stmt, "SELECT id, name FROM people WHERE id < 3 ORDER BY id"));
    ASSERT_EQ(0, stmt->describeStatement()) << messages();
    EXPECT_EQ(2, stmt->resultColumnCount);
    EXPECT_EQ(1, stmt->executedForDescribe);
    const uint8_t* handle = stmt->communicator->operationHandle;
    std::vector<uint8_t> before(handle, handle + kHiveOperationHandleBytes);
    ASSERT_EQ(0, stmt->executeHook());
    EXPECT_EQ(before, std::vector<uint8_t>(handle, handle + kHiveOperationHandleBytes));
    EXPECT_EQ(2u, rows(stmt).size());
}

TEST_P(HiveStatementTest, AQueryWithMarkersIsDescribedByAQueryWithoutRows)
{
    ASSERT_EQ(0, prepare(stmt, "SELECT id, name, age FROM people WHERE id = ?"));
    stmt->markerCount = 1;
    ASSERT_EQ(0, stmt->describeStatement()) << messages();
    EXPECT_EQ(3, stmt->resultColumnCount);
    EXPECT_EQ("age", narrow(stmt->columnRecord(3)->name));
    EXPECT_EQ(0, stmt->executedForDescribe);
    EXPECT_EQ(0u, rows(stmt).size());
}

TEST_P(HiveStatementTest, AStatementThatIsNotAQueryIsDescribedWithoutTheServer)
{
    ASSERT_EQ(0, prepare(stmt, "INSERT INTO t VALUES (1)"));
    ASSERT_EQ(0, stmt->describeStatement());
    EXPECT_EQ(0, stmt->resultColumnCount);
    EXPECT_FALSE(stmt->communicator->hasOperation());
}

TEST_P(HiveStatementTest, MoreResultsClosesTheOpenResult)
{
    ASSERT_EQ(0, run(stmt, "SELECT id FROM people")) << messages();
    int16_t noMore = 0;
    ASSERT_EQ(0, stmt->fetchRow(&noMore));
    int16_t noMoreResults = 0;
    ASSERT_EQ(0, stmt->moreResultsHook(&noMoreResults)) << messages();
    EXPECT_EQ(1, noMoreResults);
    EXPECT_FALSE(stmt->communicator->hasOperation());
    // The connection is usable at once.
    ASSERT_EQ(0, run(stmt, "SELECT count(*) FROM people")) << messages();
    EXPECT_EQ("8", rows(stmt).at(0).at(0));
}

TEST_P(HiveStatementTest, AnotherStatementTakingTheWireEndsTheFirstResultWithADiagnostic)
{
    ASSERT_EQ(0, prepare(stmt, "SELECT id FROM bench.synthetic"));
    stmt->settings.maxRowsInFetch = 10;
    ASSERT_EQ(0, stmt->executeHook()) << messages();
    int16_t noMore = 0;
    ASSERT_EQ(0, stmt->fetchRow(&noMore));
    ASSERT_EQ(0, stmt->fetchRow(&noMore));
    HiveStatement* other = newStatement();
    ASSERT_NE(nullptr, other);
    ASSERT_EQ(0, run(other, "SELECT count(*) FROM people")) << messages();
    EXPECT_EQ("8", rows(other).at(0).at(0));
    // The first statement's rows were not all delivered: it says so.
    diags.list.clear();
    size_t more = 0;
    for (; more < 2000; ++more) {
        int16_t end = 0;
        if (stmt->fetchRow(&end) != 0 || end != 0)
            break;
    }
    if (diags.size() == 0) {
        // Everything still arrived (the block was read whole before).
        EXPECT_EQ(998u, more);
    } else {
        EXPECT_NE(std::string::npos, messages().find("discarded")) << messages();
    }
    // Each statement leaves the connection's list when it is deleted.
    delete other;
}

std::string settingName(const ::testing::TestParamInfo<Setting>& info)
{
    std::string name = std::get<0>(info.param);
    for (char& c : name)
        if (c == '-' || c == '.')
            c = '_';
    return name + (std::get<1>(info.param) <= 4 ? "_rows" : "_columns");
}

// Two statements of one connection over the synthetic table, with blocks
// large enough that a parked reply passes a lowered memory limit by more
// than the spill file's buffer.
class HiveParkTest : public HiveStatementTest {
protected:
    void SetUp() override
    {
        server = std::make_unique<katest::Hs2Process>(
            std::vector<std::string>{"--server", std::get<0>(GetParam()), "--synthetic-rows", "10000"});
        session = std::make_unique<HiveSession>(server->port(), std::get<1>(GetParam()));
        ASSERT_TRUE(session->open) << messages();
        stmt = newStatement();
        ASSERT_NE(nullptr, stmt);
    }

    static constexpr const char* kQuery = "SELECT * FROM bench.synthetic";
    static constexpr uint32_t kBlockRows = 2000;

    int16_t start(HiveStatement* s, uint32_t blockRows = kBlockRows)
    {
        if (prepare(s, kQuery) != 0)
            return 1;
        s->settings.maxRowsInFetch = blockRows;
        return s->executeHook();
    }

    // Up to n more rows as text; false once the result ended or failed.
    bool fetchSome(HiveStatement* s, size_t n, std::vector<std::string>* out)
    {
        for (size_t k = 0; k < n; ++k) {
            int16_t noMore = 1;
            if (s->fetchRow(&noMore) != 0 || noMore != 0)
                return false;
            std::string row;
            for (uint16_t c = 1; c <= s->resultColumnCount; ++c) {
                char buffer[256];
                int64_t length = 0;
                BaseOutString value(buffer, int64_t(sizeof buffer), &length, nullptr);
                EXPECT_EQ(0, s->getColumnData(c, SQL_C_CHAR, &value)) << messages();
                row += (length == SQL_NULL_DATA ? std::string("NULL") : std::string(buffer, size_t(length))) + "|";
            }
            out->push_back(row);
        }
        return true;
    }

    katest::EnvScope env;
};

TEST_P(HiveParkTest, RepliesParkedPastTheMemoryLimitAreReadBackWholeFromTheirFile)
{
    std::vector<std::string> alone;
    ASSERT_EQ(0, start(stmt)) << messages();
    while (fetchSome(stmt, 1000, &alone)) {
    }
    ASSERT_EQ(10000u, alone.size()) << messages();
    // No memory at all, a limit that splits a block, one above a whole block.
    for (const char* limit : {"0", "12345", "4194304"}) {
        SCOPED_TRACE(limit);
        env.set("KA_HIVE_PARK_MEMORY", limit);
        HiveStatement* other = newStatement();
        ASSERT_NE(nullptr, other);
        ASSERT_EQ(0, start(stmt)) << messages();
        ASSERT_EQ(0, start(other)) << messages();
        const uint64_t filesBefore = bosTmpCount();
        uint64_t filesSeen = filesBefore;
        std::vector<std::string> got[2];
        bool more[2] = {true, true};
        HiveStatement* both[2] = {stmt, other};
        // Steps that are prime to the block size: the statements take the
        // wire from each other at every place in a block.
        const size_t step[2] = {137, 211};
        for (int round = 0; (more[0] || more[1]) && round < 200; ++round) {
            for (int k = 0; k < 2; ++k) {
                if (more[k])
                    more[k] = fetchSome(both[k], step[k], &got[k]);
                filesSeen = std::max(filesSeen, bosTmpCount());
            }
        }
        EXPECT_EQ(0u, diags.size()) << messages();
        EXPECT_EQ(alone, got[0]);
        EXPECT_EQ(alone, got[1]);
        if (std::string(limit) != "4194304")
            EXPECT_GT(filesSeen, filesBefore);
        else
            EXPECT_EQ(filesSeen, filesBefore);
        delete other;
        // Every spill file is gone once its reply was read.
        EXPECT_EQ(filesBefore, bosTmpCount());
    }
}

TEST_P(HiveParkTest, AReplyThatCannotBeSpilledEndsItsResultWithADiagnostic)
{
    katest::TempDir dir("hiveparktest");
    ASSERT_FALSE(dir.path().empty());
    env.set("KA_TMPDIR", dir.path() + "/missing");
    env.set("KA_HIVE_PARK_MEMORY", "0");
    std::vector<std::string> first;
    // Blocks whose rest (row-wise) or read-ahead (column-wise) is more than
    // the spill file's buffer holds, so that the file is needed.
    ASSERT_EQ(0, start(stmt, 5000)) << messages();
    ASSERT_TRUE(fetchSome(stmt, 2, &first)) << messages();
    HiveStatement* other = newStatement();
    ASSERT_NE(nullptr, other);
    ASSERT_EQ(0, start(other)) << messages();
    std::vector<std::string> others;
    while (fetchSome(other, 1000, &others)) {
    }
    // The other statement's result is whole; the file could not be made.
    EXPECT_EQ(10000u, others.size()) << messages();
    EXPECT_NE(std::string::npos, messages().find("missing")) << messages();
    diags.list.clear();
    // The first statement never passes off a cut result as its end.
    EXPECT_FALSE(fetchSome(stmt, 10000, &first));
    EXPECT_LT(first.size(), 10000u);
    EXPECT_NE(std::string::npos, messages().find("discarded")) << messages();
    delete other;
}

INSTANTIATE_TEST_SUITE_P(Identities, HiveParkTest,
                         ::testing::Combine(::testing::Values("hive-2.3", "spark-3"), ::testing::Values(4, 7)),
                         settingName);

INSTANTIATE_TEST_SUITE_P(Identities, HiveStatementTest,
                         ::testing::Combine(::testing::Values("hive-1.2", "hive-2.3", "hive-3.1", "spark-3"),
                                            ::testing::Values(4, 7)),
                         settingName);

}  // namespace

// Parameter values written into the text as HiveQL literals.
class HiveParamsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override
    {
        BaseStatement* made = nullptr;
        ASSERT_EQ(0, conn.createStatement(&made));
        stmt = static_cast<HiveStatement*>(made);
    }
    void TearDown() override { delete stmt; }

    void prepare(const std::string& text, uint16_t markers)
    {
        std::u16string t = u16(text);
        BaseSqlStringW analysed(reinterpret_cast<const uint16_t*>(t.data()), int64_t(t.size()));
        ASSERT_EQ(0, analysed.makeOwned());
        ASSERT_EQ(0, stmt->prepareHook(&analysed));
        stmt->markerCount = markers;
        ASSERT_EQ(0, stmt->ensureDescriptorRecords(markers, 4));
    }
    void describe(uint16_t marker, int16_t cType, int16_t sqlType)
    {
        stmt->currentApd->record(marker)->conciseType = cType;
        BaseRecord* ipdRec = stmt->ipd->record(marker);
        ipdRec->conciseType = sqlType;
        ipdRec->columnSize = 100;
        ipdRec->length = 100;
    }
    std::string finished()
    {
        const uint16_t* text = nullptr;
        size_t units = 0;
        if (stmt->finishParamText(&text, &units) != 0 || text == nullptr)
            return "<failed>";
        std::string out;
        for (size_t i = 0; i < units; ++i)
            out += char(text[i]);
        return out;
    }

    katest::ThreadScope thread;
    katest::DiagScope diags;
    DummyEnv env;
    HiveConnection conn{&env};
    HiveStatement* stmt = nullptr;
};

TEST_F(HiveParamsTest, ValuesBecomeLiteralsThatKeepEveryCharacter)
{
    prepare("SELECT * FROM t WHERE a = ? AND b = ? AND c = ? AND d = ?", 4);
    describe(1, SQL_C_CHAR, SQL_VARCHAR);
    describe(2, SQL_C_SLONG, SQL_INTEGER);
    describe(3, SQL_C_DOUBLE, SQL_DOUBLE);
    describe(4, SQL_C_CHAR, SQL_VARCHAR);
    const char text[] = "it's a \\ test' OR '1'='1";
    int32_t number = -42;
    double fraction = 0.5;
    ASSERT_EQ(0, stmt->setParamValue(1, text, int64_t(sizeof text - 1), 0)) << diags.text(0);
    ASSERT_EQ(0, stmt->setParamValue(2, &number, 4, 0));
    ASSERT_EQ(0, stmt->setParamValue(3, &fraction, 8, 0));
    ASSERT_EQ(0, stmt->setParamValue(4, nullptr, SQL_NULL_DATA, 0));
    std::string got = finished();
    EXPECT_EQ("SELECT * FROM t WHERE a = 'it\\'s a \\\\ test\\' OR \\'1\\'=\\'1' AND b =  -42  AND c =  0.5  AND d =  "
              "NULL ",
              got);
    // The next parameter row starts from the prepared text again.
    ASSERT_EQ(0, stmt->setParamValue(1, "x", 1, 0));
    ASSERT_EQ(0, stmt->setParamValue(2, &number, 4, 0));
    ASSERT_EQ(0, stmt->setParamValue(3, &fraction, 8, 0));
    ASSERT_EQ(0, stmt->setParamValue(4, "y", 1, 0));
    EXPECT_EQ("SELECT * FROM t WHERE a = 'x' AND b =  -42  AND c =  0.5  AND d = 'y'", finished());
}

TEST_F(HiveParamsTest, AMarkerOutOfOrderIsRefused)
{
    prepare("SELECT ?, ?", 2);
    describe(1, SQL_C_CHAR, SQL_VARCHAR);
    describe(2, SQL_C_CHAR, SQL_VARCHAR);
    EXPECT_EQ(1, stmt->setParamValue(2, "b", 1, 0));
    ASSERT_GE(diags.size(), 1u);
    ASSERT_EQ(0, stmt->setParamValue(1, "a", 1, 0));
    EXPECT_EQ("<failed>", finished());
}
