// Statement failover on the test statement: the replay events a statement
// keeps for its states (one per level, never growing with the executions),
// and the private copy of a parameter value that a re-execution after a
// reconnect uses, bounded by what the value holds and by its buffer.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "support/stmtfixture.h"

namespace {

using Failover = katest::StmtFixture;
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
