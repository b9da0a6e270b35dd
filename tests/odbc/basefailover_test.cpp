// Statement failover on the test statement: the replay events a statement
// keeps for its states (one per level, never growing with the executions)
// and for the fetches of a scrollable cursor, whose rows are read again
// where they were fetched after a reconnect; and the private copy of a
// parameter value that a re-execution after a reconnect uses, bounded by
// what the value holds and by its buffer.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseresulthash.h"
#include "odbc/basestmt.h"
#include "support/stmtfixture.h"

namespace {

using Failover = katest::StmtFixture;
using katest::builtinTestResult;
using katest::TestResult;
using katest::TestStatement;
using katest::TestValue;
using katest::W;

// The codes of the statement-state events of owner, in list order.
std::vector<int32_t> stateEvents(BaseConnection* conn, BaseStatement* owner)
{
    std::vector<int32_t> out;
    KaDNode* node = conn->events.first();
    for (size_t i = 0; i < conn->events.count && node != nullptr; ++i, node = node->next) {
        auto* e = static_cast<BaseBufferedEvent*>(node);
        if (e->kind == kBaseEventStmtState && e->owner == owner)
            out.push_back(e->code);
    }
    return out;
}

// The fetch positions of owner's cursor, in list order: (row, rows).
std::vector<std::pair<int64_t, int32_t>> positionEvents(BaseConnection* conn, BaseStatement* owner)
{
    std::vector<std::pair<int64_t, int32_t>> out;
    KaDNode* node = conn->events.first();
    for (size_t i = 0; i < conn->events.count && node != nullptr; ++i, node = node->next) {
        auto* e = static_cast<BaseBufferedEvent*>(node);
        if (e->kind == kBaseEventStmtState && e->owner == owner && e->code == kBaseReplayPositionLevel + 1)
            out.emplace_back(static_cast<int64_t>(e->value), e->length);
    }
    return out;
}

// The built-in results, with the name of row `changed` (from 1; 0: none)
// other than it was: the rows as they stand when a query runs again.
std::function<bool(const std::u16string&, TestResult*)> withChangedRow(int changed)
{
    return [changed](const std::u16string& sql, TestResult* out) {
        if (!builtinTestResult(sql, out))
            return false;
        if (changed > 0)
            out->rows[changed - 1][1] = TestValue::text("changed");
        return true;
    };
}

constexpr int32_t kAllocated = kBaseReplayAllocatedLevel + 1;
constexpr int32_t kPrepared = kBaseReplayPreparedLevel + 1;
constexpr int32_t kExecuted = kBaseReplayExecutedLevel + 1;
constexpr int32_t kCursor = kBaseReplayCursorLevel + 1;

// A copy record whose pointers the test frees as the replay copy's owner.
struct CopyRecord {
    BaseAXDRecord record;
    ~CopyRecord()
    {
        ramFree(record.dataPtr);
        ramFree(record.indicatorPtr);
        ramFree(record.octetLengthPtr);
    }
    std::string data(size_t n) const { return std::string(static_cast<const char*>(record.dataPtr), n); }
};

}  // namespace

TEST_F(Failover, StateEventsKeepOnePerLevelThroughManyExecutions)
{
    conn->failoverMode = 1;
    auto* s = make<katest::TestStatement>();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stateEvents(conn, s), (std::vector<int32_t>{kAllocated}));
    const size_t before = conn->events.count;
    ASSERT_EQ(s->prepare(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stateEvents(conn, s), (std::vector<int32_t>{kAllocated, kPrepared}));
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(s->execute(), SQL_SUCCESS);
        ASSERT_EQ(s->closeCursorApi(), SQL_SUCCESS);
    }
    ASSERT_EQ(s->execute(), SQL_SUCCESS);
    // The open cursor is the latest state, after the execution and the
    // prepare it rests on.
    EXPECT_EQ(stateEvents(conn, s), (std::vector<int32_t>{kAllocated, kPrepared, kExecuted, kCursor}));
    EXPECT_EQ(conn->events.count, before + 3);
    ASSERT_EQ(s->closeCursorApi(), SQL_SUCCESS);
    EXPECT_EQ(stateEvents(conn, s), (std::vector<int32_t>{kAllocated, kPrepared}));
    ASSERT_EQ(s->freeStmt(SQL_DROP), SQL_SUCCESS);
    EXPECT_EQ(conn->events.count, before - 1);
}

TEST_F(Failover, NoEventsWithoutFailover)
{
    const size_t before = conn->events.count;
    ASSERT_EQ(run(u"select rows 1"), SQL_SUCCESS);
    EXPECT_TRUE(stateEvents(conn, stmt).empty());
    EXPECT_EQ(conn->events.count, before);
}

// The buffers come from ramAlloc at their exact size, so that a copy
// reaching past one is caught by the address sanitizer.
TEST_F(Failover, ParameterCopyTakesWhatTheValueHoldsWithinItsBuffer)
{
    struct Case {
        const char* what;
        std::string buffer;  // the whole buffer, its bytes as given
        int64_t bufferLength;
        int64_t valueLength;
        int64_t indicator;
        int16_t cType;
        std::string kept;
    };
    const std::string wideAb("a\0b\0\0\0x\0", 8);
    const Case cases[] = {
        {"terminated text", std::string("abc\0zz", 6), 6, SQL_NTS, SQL_NTS, SQL_C_CHAR, std::string("abc\0", 4)},
        {"text filling its buffer", "abcdef", 6, SQL_NTS, SQL_NTS, SQL_C_CHAR, "abcdef"},
        {"length 0 takes the buffer", "abcd", 4, 0, 4, SQL_C_CHAR, "abcd"},
        {"a length within the buffer", "abcdef", 6, 3, 3, SQL_C_CHAR, "abc"},
        {"a length past the buffer", "abcdef", 6, 60, 60, SQL_C_CHAR, "abcdef"},
        {"wide text in whole units", wideAb, 8, SQL_NTS, SQL_NTS, SQL_C_WCHAR, std::string("a\0b\0\0\0", 6)},
        {"wide text without room for a unit", std::string("a\0b", 3), 3, SQL_NTS, SQL_NTS, SQL_C_WCHAR,
         std::string("a\0", 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto* buffer = static_cast<char*>(ramAlloc(c.buffer.size()));
        ASSERT_NE(buffer, nullptr);
        std::memcpy(buffer, c.buffer.data(), c.buffer.size());
        int64_t indicator = c.indicator;
        BaseAXDRecord source;
        source.conciseType = c.cType;
        source.dataPtr = buffer;
        source.octetLength = c.bufferLength;
        source.indicatorPtr = &indicator;
        CopyRecord copy;
        ASSERT_EQ(stmt->saveParamForReplay(&copy.record, &source, c.valueLength, 0), 0);
        ASSERT_NE(copy.record.dataPtr, nullptr);
        EXPECT_EQ(copy.data(c.kept.size()), c.kept);
        ASSERT_NE(copy.record.indicatorPtr, nullptr);
        EXPECT_EQ(*copy.record.indicatorPtr, c.indicator);
        EXPECT_NE(static_cast<void*>(copy.record.indicatorPtr), static_cast<void*>(&indicator));
        EXPECT_EQ(copy.record.octetLengthPtr, nullptr);
        ramFree(buffer);
    }
}

TEST_F(Failover, ParameterCopyOfNullAndAtTheBindOffset)
{
    // Two rows of bound values; the copy takes the second, at the offset.
    char values[2][4] = {{'a', 'b', 'c', 'd'}, {'w', 'x', 'y', 'z'}};
    int64_t indicators[2] = {4, SQL_NULL_DATA};
    int64_t octets[2] = {4, 2};
    BaseAXDRecord source;
    source.conciseType = SQL_C_CHAR;
    source.dataPtr = values[0];
    source.octetLength = 4;
    source.indicatorPtr = &indicators[0];
    source.octetLengthPtr = &octets[0];
    CopyRecord copy;
    ASSERT_EQ(stmt->saveParamForReplay(&copy.record, &source, 4, 0), 0);
    EXPECT_EQ(copy.data(4), "abcd");
    EXPECT_EQ(*copy.record.octetLengthPtr, 4);
    // A NULL keeps no data, only its indicator; the earlier copy is freed.
    const int64_t rowBytes = sizeof values[0];
    source.indicatorPtr = reinterpret_cast<int64_t*>(reinterpret_cast<char*>(&indicators[1]) - rowBytes);
    source.octetLengthPtr = reinterpret_cast<int64_t*>(reinterpret_cast<char*>(&octets[1]) - rowBytes);
    ASSERT_EQ(stmt->saveParamForReplay(&copy.record, &source, 0, rowBytes), 0);
    EXPECT_EQ(copy.record.dataPtr, nullptr);
    EXPECT_EQ(*copy.record.indicatorPtr, SQL_NULL_DATA);
    EXPECT_EQ(*copy.record.octetLengthPtr, 2);
    // Without a data pointer there is nothing to copy.
    source.dataPtr = nullptr;
    source.indicatorPtr = nullptr;
    source.octetLengthPtr = nullptr;
    ASSERT_EQ(stmt->saveParamForReplay(&copy.record, &source, 4, 0), 0);
    EXPECT_EQ(copy.record.dataPtr, nullptr);
    EXPECT_EQ(copy.record.indicatorPtr, nullptr);
}

namespace {

// After a reconnect the query runs again and the rows already delivered
// are read again and compared: a table of what changed in between.
struct RepositionCase {
    const char* name;
    uint16_t granularity;
    int changedRow;      // the row whose name differs the second time (0: none)
    bool deliveredLost;  // row 3 had failed with the link when delivered
    int16_t rc;
    const char* sqlstate;  // of the report when the cursor is not restored
};

TEST_F(Failover, TheRowsReadAgainAreComparedWithTheirChecksums)
{
    const RepositionCase cases[] = {
        {"same rows", 0, 0, false, 0, nullptr},
        {"a delivered row changed", 0, 3, false, 1, "40003"},
        {"a delivered row changed, granularity 1", 1, 3, false, 1, "40003"},
        {"a delivered row changed, granularity 2", 2, 3, false, 1, "08S01"},
        {"a delivered row changed, no comparison", 3, 3, false, 0, nullptr},
        {"a row not delivered yet changed", 0, 6, false, 0, nullptr},
        {"the row that failed with the link changed", 0, 3, true, 0, nullptr},
    };
    conn->failoverMode = 2;
    conn->autocommit = 1;
    conn->allowDiskCaching = 0;
    conn->failoverCacheSize = 100;
    conn->staticCursorLongColBuffLen = 4096;
    for (const RepositionCase& c : cases) {
        SCOPED_TRACE(c.name);
        conn->failoverGranularity = c.granularity;
        TestStatement* s = make<TestStatement>();
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->execDirect(W(u"select rows 12"), SQL_NTS), SQL_SUCCESS);
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(s->fetch(), SQL_SUCCESS);
        EXPECT_EQ(s->rowsFetched, 5);
        ASSERT_NE(s->resultHash, nullptr);
        EXPECT_EQ(s->resultHash->count, c.granularity == 3 ? 0u : 5u);
        if (c.deliveredLost) {
            ASSERT_EQ(s->resultHash->put(-2, 3), 0);
        }
        // The statement was moved between its calls; its query runs again
        // over the rows as they now stand.
        s->failoverState = 1;
        s->rowsHashed = 0;
        ASSERT_EQ(s->unprepare(), 0);
        s->resolve = withChangedRow(c.changedRow);
        KaErrorPushList(&s->diagnostics);
        ASSERT_EQ(s->reexecuteForFailover(), 0);
        s->diagnostics.clear();
        auto* testConn = static_cast<katest::TestStmtConnection*>(conn);
        const int hooked = testConn->failoversFailed;
        EXPECT_EQ(s->repositionAfterFailover(), c.rc);
        KaErrorPopList();
        // Only a cursor reported lost with the link is told to the driver.
        EXPECT_EQ(testConn->failoversFailed - hooked,
                  c.sqlstate != nullptr && std::string(c.sqlstate) == "08S01" ? 1 : 0);
        if (c.rc == 0) {
            // The driver stands after the fifth row; the statement counts
            // them again, and nothing is left to deliver twice.
            EXPECT_EQ(s->cursor, 5);
            EXPECT_EQ(s->rowsFetched, 5);
            EXPECT_EQ(s->hashSkip, 0);
            EXPECT_EQ(s->statementState, kBaseStmtCursorOpen);
            EXPECT_EQ(s->diagnostics.recordCount(), 0u);
        } else {
            ASSERT_GE(s->diagnostics.recordCount(), 1u);
            EXPECT_EQ(katest::sqlstate(s->diagnostics.recordAt(s->diagnostics.recordCount() - 1)), c.sqlstate);
            // No row of the changed result is served.
            EXPECT_NE(s->statementState, kBaseStmtCursorOpen);
            EXPECT_EQ(s->resultHash, nullptr);
        }
        s->failoverState = 0;
        delete s;
    }
}

// A scrollable cursor records where each fetch began and how many rows it
// delivered; after a reconnect its rows are read again at those positions,
// in the order they were delivered, so that a row seen only by scrolling
// is compared and one never delivered is not.
TEST_F(Failover, AScrollableCursorIsReadAgainWhereItWasFetched)
{
    struct Case {
        const char* name;
        int changedRow;
        int16_t rc;
    };
    const Case cases[] = {
        {"same rows", 0, 0},
        {"the last row, reached by FETCH_LAST, changed", 12, 1},
        {"the second row, delivered twice, changed", 2, 1},
        {"a row never delivered changed", 3, 0},
    };
    conn->failoverMode = 2;
    conn->autocommit = 1;
    conn->allowDiskCaching = 1;
    conn->failoverCacheSize = 100;
    conn->staticCursorLongColBuffLen = 4096;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestStatement* s = make<TestStatement>();
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->setStmtAttr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
        ASSERT_EQ(s->execDirect(W(u"select rows 12"), SQL_NTS), SQL_SUCCESS);
        const struct {
            int16_t orientation;
            int64_t offset;
        } moves[] = {{SQL_FETCH_NEXT, 0}, {SQL_FETCH_NEXT, 0}, {SQL_FETCH_LAST, 0}, {SQL_FETCH_ABSOLUTE, 2}};
        for (const auto& m : moves)
            ASSERT_EQ(s->fetchScroll(m.orientation, m.offset), SQL_SUCCESS);
        // Rows 1, 2, 12 and 2 again, each fetch one event after the open
        // cursor's, with its row and its one row.
        const std::vector<std::pair<int64_t, int32_t>> fetched{{1, 1}, {2, 1}, {12, 1}, {2, 1}};
        EXPECT_EQ(positionEvents(conn, s), fetched);
        EXPECT_EQ(stateEvents(conn, s).back(), kBaseReplayPositionLevel + 1);
        EXPECT_EQ(s->rowsFetched, 4);

        // The statement's events go with the connection it leaves (the
        // same object here, which is all the move needs), and its query
        // runs again.
        KaDList replaced;
        KaDNode* node = conn->events.first();
        for (size_t i = 0, count = conn->events.count; i < count && node != nullptr; ++i) {
            KaDNode* next = i + 1 < count ? node->next : nullptr;
            if (static_cast<BaseBufferedEvent*>(node)->owner == s) {
                conn->events.remove(node);
                replaced.addLast(node);
            }
            node = next;
        }
        ASSERT_EQ(s->moveToConnection(conn, &replaced, kBaseReplayAllocatedLevel), 0);
        while (KaDNode* gone = replaced.removeFirst())
            delete gone;
        EXPECT_EQ(s->replayPositionCount, 4);
        s->resolve = withChangedRow(c.changedRow);
        KaErrorPushList(&s->diagnostics);
        ASSERT_EQ(s->reexecuteForFailover(), 0);
        s->diagnostics.clear();
        EXPECT_EQ(s->repositionAfterFailover(), c.rc);
        KaErrorPopList();
        EXPECT_EQ(s->replayPositions, nullptr);
        if (c.rc == 0) {
            EXPECT_EQ(s->rowsFetched, 4);
            EXPECT_EQ(s->diagnostics.recordCount(), 0u);
        } else {
            ASSERT_GE(s->diagnostics.recordCount(), 1u);
            EXPECT_EQ(katest::sqlstate(s->diagnostics.recordAt(s->diagnostics.recordCount() - 1)), "40003");
        }
        s->failoverState = 0;
        if (c.rc == 0) {
            // The restored cursor's positions stand for it on the connection
            // it now uses; closing the cursor drops them.
            EXPECT_EQ(positionEvents(conn, s), fetched);
            ASSERT_EQ(s->closeCursorApi(), SQL_SUCCESS);
            EXPECT_TRUE(positionEvents(conn, s).empty());
        }
        delete s;
    }
}

// Rows of the interrupted call are delivered again by its repetition: they
// are not read during the re-positioning but replace their own checksums.
TEST_F(Failover, RowsOfTheInterruptedCallAreLeftToItsRepetition)
{
    conn->failoverMode = 2;
    conn->autocommit = 1;
    conn->allowDiskCaching = 1;
    conn->failoverCacheSize = 2;
    conn->staticCursorLongColBuffLen = 4096;
    ASSERT_EQ(stmt->execDirect(W(u"select rows 12"), SQL_NTS), SQL_SUCCESS);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    // The last two were delivered by the call the link broke.
    stmt->rowsHashed = 2;
    std::vector<int64_t> before;
    for (int64_t n = 1; n <= 6; ++n) {
        int64_t v = 0;
        ASSERT_EQ(stmt->resultHash->get(n, &v), 0);
        before.push_back(v);
    }
    stmt->failoverState = 1;
    ASSERT_EQ(stmt->unprepare(), 0);
    KaErrorPushList(&stmt->diagnostics);
    ASSERT_EQ(stmt->reexecuteForFailover(), 0);
    const int fetchesBefore = stmt->fetchRowCalls;
    EXPECT_EQ(stmt->repositionAfterFailover(), 0);
    KaErrorPopList();
    EXPECT_EQ(stmt->fetchRowCalls - fetchesBefore, 4);
    EXPECT_EQ(stmt->hashSkip, 2);
    EXPECT_EQ(stmt->rowsFetched, 4);
    // The repeated call delivers rows 5 and 6 again: they overwrite their
    // entries, and the count stays.
    stmt->failoverState = 0;
    stmt->currentRow = 4;
    stmt->rowsetRowCount = 1;
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(stmt->hashSkip, 0);
    EXPECT_EQ(stmt->rowsFetched, 6);
    ASSERT_EQ(stmt->resultHash->count, 6u);
    for (int64_t n = 1; n <= 6; ++n) {
        int64_t v = 0;
        ASSERT_EQ(stmt->resultHash->get(n, &v), 0);
        EXPECT_EQ(v, before[static_cast<size_t>(n - 1)]) << n;
    }
}

}  // namespace

namespace {

// A query run with a parameter array is never run again by select
// failover: it keeps no checksums and no copy of its values. A single-row
// execution keeps a copy that the application's later writes to its
// buffers do not reach.
TEST_F(Failover, OnlyASingleRowQueryKeepsItsParameterValuesAndRowChecksums)
{
    conn->failoverMode = 2;
    conn->autocommit = 1;
    conn->staticCursorLongColBuffLen = 4096;
    stmt->resolve = [](const std::u16string&, TestResult* out) { return builtinTestResult(u"select rows 3", out); };
    char values[2][8] = {"ab", "cd"};
    SQLLEN lengths[2] = {SQL_NTS, SQL_NTS};
    ASSERT_EQ(stmt->bindParameter(1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 7, 0, values, 8, lengths), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<void*>(intptr_t{2}), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->execDirect(W(u"SELECT id FROM t WHERE name = ?"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stmt->replayable, 0);
    EXPECT_EQ(stmt->savedApd, nullptr);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(stmt->resultHash, nullptr);
    EXPECT_EQ(stmt->rowsFetched, 0);

    ASSERT_EQ(stmt->closeCursorApi(), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<void*>(intptr_t{1}), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->execDirect(W(u"SELECT id FROM t WHERE name = ?"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stmt->replayable, 1);
    ASSERT_NE(stmt->savedApd, nullptr);
    std::strcpy(values[0], "zzzzzz");
    lengths[0] = 1;
    const BaseAXDRecord* kept = stmt->savedApd->axdRecord(1);
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(kept->dataPtr, nullptr);
    EXPECT_STREQ(static_cast<const char*>(kept->dataPtr), "ab");
    ASSERT_NE(kept->indicatorPtr, nullptr);
    EXPECT_EQ(*kept->indicatorPtr, SQL_NTS);
    // Run again with the copy in place of the application's buffers: the
    // driver is handed the values of the first execution.
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(stmt->rowsFetched, 1);
    stmt->failoverState = 1;
    ASSERT_EQ(stmt->unprepare(), 0);
    KaErrorPushList(&stmt->diagnostics);
    ASSERT_EQ(stmt->reexecuteForFailover(), 0);
    KaErrorPopList();
    ASSERT_FALSE(stmt->executions.empty());
    ASSERT_EQ(stmt->executions.back().size(), 1u);
    EXPECT_EQ(stmt->executions.back()[0].bytes, "ab");
    EXPECT_EQ(stmt->currentApd, stmt->implicitApd);
    stmt->failoverState = 0;
}

}  // namespace
