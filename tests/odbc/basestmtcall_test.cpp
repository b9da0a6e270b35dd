// The call frame of statement calls: the return code the exit step makes of
// the work's status and the diagnostics header it fills, the thread's error
// list on every path (a failed thread registration included), a cancel met
// at entry, the driver's entry and exit hooks; the argument stack of
// re-entered calls; and a statement's life on a
// connection (its descriptors, its replay event, what it frees).
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "support/connfixture.h"
#include "support/diagscope.h"
#include "support/testconnection.h"

using katest::DiagScope;

namespace {

class StatementCall : public katest::ConnectedFixture<katest::TestEnv> {
protected:
    BaseStatement* newStatement()
    {
        BaseStatement* stmt = nullptr;
        EXPECT_EQ(conn->createStatement(&stmt), 0);
        return stmt;
    }
};

// A statement whose hooks the test decides.
class HookedStatement : public BaseStatement {
public:
    using BaseStatement::BaseStatement;
    int16_t enterHook() noexcept override { return enterAnswer; }
    int16_t exitHook() noexcept override { return exitAnswer; }
    int16_t enterAnswer = 0;
    int16_t exitAnswer = 0;
};

KaThreadInfo* noRecord() noexcept
{
    return nullptr;
}

}  // namespace

TEST_F(StatementCall, TheReturnCodeAndTheHeaderFollowTheStatementKind)
{
    struct Case {
        const char* what;
        uint16_t api;
        int32_t kind;
        int64_t rows;
        uint16_t columns;
        bool warn;
        int16_t status;
        int32_t odbc2;
        int16_t expected;
        int64_t headerRows;
    };
    constexpr uint16_t kDirect = SQL_API_SQLEXECDIRECT;
    constexpr uint16_t kExecute = SQL_API_SQLEXECUTE;
    constexpr int32_t kSelect = 8;
    constexpr int32_t kUpdate = kBaseKindUpdate;
    constexpr int32_t kDelete = kBaseKindDelete;
    constexpr int16_t kInfo = SQL_SUCCESS_WITH_INFO;
    const Case cases[] = {
        {"update of no row", kDirect, kUpdate, 0, 0, false, 0, 0, SQL_NO_DATA, 0},
        {"the same for ODBC 2", kDirect, kUpdate, 0, 0, false, 0, 1, SQL_SUCCESS, 0},
        {"update of one row", kDirect, kUpdate, 1, 0, false, 0, 0, SQL_SUCCESS, 1},
        {"insert of none with info", kExecute, kBaseKindInsert, 0, 0, true, 0, 0, SQL_NO_DATA, 0},
        {"delete that failed", kExecute, kDelete, 0, 0, false, SQL_ERROR, 0, SQL_ERROR, 0},
        {"select of no rows", kDirect, kSelect, 0, 2, false, 0, 0, SQL_SUCCESS, 0},
        {"delete with result columns", kDirect, kDelete, 0, 1, false, 0, 0, SQL_SUCCESS, 0},
        {"warnings only", SQL_API_SQLPREPARE, kSelect, 5, 0, true, 0, 0, kInfo, 0},
        {"fetch", SQL_API_SQLFETCH, kDelete, 4, 0, false, 0, 0, SQL_SUCCESS, 0},
        {"more results", SQL_API_SQLMORERESULTS, kSelect, 3, 0, false, 0, 0, SQL_SUCCESS, 3},
    };
    BaseStatement* stmt = newStatement();
    ASSERT_NE(stmt, nullptr);
    for (const Case& c : cases) {
        env->odbc2Mode = c.odbc2;
        ASSERT_EQ(stmt->enterFunction(c.api), 0) << c.what;
        EXPECT_EQ(stmt->apiId, static_cast<int16_t>(c.api));
        stmt->statementKind = c.kind;
        stmt->rowCount = c.rows;
        stmt->resultColumnCount = c.columns;
        if (c.warn)
            basePostWarning(kBaseIdxGeneralWarning);
        EXPECT_EQ(stmt->exitFunction(c.status), c.expected) << c.what;
        EXPECT_EQ(stmt->diagnostics.rowCount, c.headerRows) << c.what;
        EXPECT_EQ(stmt->apiId, -1);
        EXPECT_EQ(stmt->lastApiId, c.api);
    }
    // After an execution the dynamic function names the statement; a
    // statement of another function leaves it empty.
    ASSERT_EQ(stmt->enterFunction(SQL_API_SQLEXECDIRECT), 0);
    stmt->statementKind = kBaseKindDelete;
    stmt->rowCount = 2;
    EXPECT_EQ(stmt->exitFunction(SQL_SUCCESS), SQL_SUCCESS);
    EXPECT_EQ(stmt->diagnostics.dynamicFunctionCode, SQL_DIAG_DELETE_WHERE);
    EXPECT_EQ(stmt->statementKind, 0);
    ASSERT_EQ(stmt->enterFunction(SQL_API_SQLFETCH), 0);
    EXPECT_EQ(stmt->exitFunction(SQL_SUCCESS), SQL_SUCCESS);
    EXPECT_EQ(stmt->diagnostics.rowCount, 0);
    EXPECT_EQ(stmt->diagnostics.dynamicFunctionCode, 0);
    EXPECT_EQ(stmt->diagnostics.dynamicFunctionText[0], 0);
    delete stmt;
}

TEST_F(StatementCall, TheCursorRowCountStandsWhereTheCursorTypeKnowsIt)
{
    // Only static cursors of this connection know their row count.
    conn->forwardCursorOps = 0;
    conn->staticCursorOps = kBaseCapCursorRowCount;
    conn->keysetCursorOps = ~kBaseCapCursorRowCount;
    struct Case {
        const char* what;
        uint16_t api;
        int64_t cursorType;
        int64_t expected;
    } cases[] = {
        {"execute, static", SQL_API_SQLEXECUTE, SQL_CURSOR_STATIC, 42},
        {"direct, static", SQL_API_SQLEXECDIRECT, SQL_CURSOR_STATIC, 42},
        {"param data, static", SQL_API_SQLPARAMDATA, SQL_CURSOR_STATIC, 42},
        {"more results, static", SQL_API_SQLMORERESULTS, SQL_CURSOR_STATIC, 42},
        {"fetch, static", SQL_API_SQLFETCH, SQL_CURSOR_STATIC, 0},
        {"set pos, static", SQL_API_SQLSETPOS, SQL_CURSOR_STATIC, 0},
        {"execute, forward only", SQL_API_SQLEXECUTE, SQL_CURSOR_FORWARD_ONLY, 0},
        {"execute, keyset without the bit", SQL_API_SQLEXECUTE, SQL_CURSOR_KEYSET_DRIVEN, 0},
        {"execute, a cursor type of no kind", SQL_API_SQLEXECUTE, 77, 0},
    };
    BaseStatement* stmt = newStatement();
    ASSERT_NE(stmt, nullptr);
    for (const Case& c : cases) {
        stmt->attributeValues[kBaseAttrCursorType] = c.cursorType;
        ASSERT_EQ(stmt->enterFunction(c.api), 0) << c.what;
        // The entry step starts every call from no count.
        EXPECT_EQ(stmt->diagnostics.cursorRowCount, 0) << c.what;
        stmt->diagnostics.cursorRowCount = 42;
        (void)stmt->exitFunction(SQL_SUCCESS);
        EXPECT_EQ(stmt->diagnostics.cursorRowCount, c.expected) << c.what;
        SQLLEN header = -1;
        int16_t length = 0;
        ASSERT_EQ(stmt->diagnostics.getDiagField(0, SQL_DIAG_CURSOR_ROW_COUNT, &header, 8, &length), SQL_SUCCESS);
        EXPECT_EQ(header, c.expected) << c.what;
    }
    delete stmt;
}

TEST_F(StatementCall, AnErrorAmongWarningsKeepsTheWorksCodeAndTheListIsSorted)
{
    BaseStatement* stmt = newStatement();
    DiagScope outer;
    ASSERT_EQ(stmt->enterFunction(SQL_API_SQLPREPARE), 0);
    EXPECT_EQ(KaErrorCurrentList(), &stmt->diagnostics);
    basePostWarning(kBaseIdxGeneralWarning);
    basePostError(kBaseIdxGeneralError);
    EXPECT_EQ(stmt->exitFunction(SQL_ERROR), SQL_ERROR);
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
    ASSERT_EQ(stmt->diagnostics.recordCount(), 2u);
    // Errors before warnings.
    EXPECT_FALSE(stmt->diagnostics.recordAt(0)->isWarning());
    EXPECT_EQ(outer.size(), 0u);
    delete stmt;
}

TEST_F(StatementCall, AThreadThatCannotRegisterEndsTheCallAndLeavesItsListAlone)
{
    BaseStatement* stmt = newStatement();
    DiagScope outer;
    KaThreadRecordAllocator old = threadSetRecordAllocator(noRecord);
    // Helper threads take every free thread record and keep it until the
    // test is done, so that no record is left for the calling thread.
    std::promise<void> done;
    std::shared_future<void> finished = done.get_future().share();
    std::vector<std::thread> holders;
    for (int i = 0; i < 64; ++i) {
        std::promise<int> attached;
        std::future<int> got = attached.get_future();
        holders.emplace_back([&attached, finished] {
            int ok = threadAttach();
            attached.set_value(ok);
            finished.wait();
            if (ok != 0)
                threadDetach();
        });
        if (got.get() == 0)
            break;
    }
    std::promise<int16_t> result;
    std::thread([&] {
        KaErrorList* before = KaErrorCurrentList();
        int16_t rc = stmt->enterFunction(SQL_API_SQLFETCH);
        EXPECT_EQ(rc, 1);
        rc = stmt->exitFunction(SQL_ERROR);
        // Nothing was pushed, so nothing was popped.
        EXPECT_EQ(KaErrorCurrentList(), before);
        result.set_value(rc);
    }).join();
    done.set_value();
    for (std::thread& t : holders)
        t.join();
    threadSetRecordAllocator(old);
    EXPECT_EQ(result.get_future().get(), SQL_ERROR);
    ASSERT_EQ(stmt->diagnostics.recordCount(), 1u);
    EXPECT_NE(katest::messageText(stmt->diagnostics.recordAt(0)).find(" mdsPerThreadInit failed."), std::string::npos);
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
    delete stmt;
}

TEST_F(StatementCall, ACancelArrivingWhileTheCallWaitsForTheLockEndsIt)
{
    conn->threadModel = kBaseThreadSafe;
    BaseStatement* stmt = newStatement();
    stmt->statementLock.enter();
    std::future<int16_t> call = std::async(std::launch::async, [&] {
        int16_t rc = stmt->enterFunction(SQL_API_SQLFETCH) == 0 ? SQL_SUCCESS : SQL_ERROR;
        return stmt->exitFunction(rc);
    });
    // Let the call clear the flag and block on the lock.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        KaLockGuard<KaCriticalSection> guard(stmt->cancelLock);
        stmt->cancelRequested = 1;
    }
    stmt->statementLock.leave();
    EXPECT_EQ(call.get(), SQL_ERROR);
    ASSERT_GE(stmt->diagnostics.recordCount(), 1u);
    uint16_t state[kBaseSqlstateUnits] = {};
    ASSERT_EQ(stmt->diagnostics.getDiagRec(1, state, nullptr, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(katest::narrow(katest::u16(state)), "HY008");
    EXPECT_EQ(stmt->cancelRequested, 0);
    delete stmt;
}

TEST_F(StatementCall, TheDriversHooksCanEndOrFailACall)
{
    auto* stmt = new HookedStatement(conn);
    ASSERT_EQ(stmt->initStatement(), 0);
    stmt->enterAnswer = 1;
    EXPECT_EQ(stmt->enterFunction(SQL_API_SQLFETCH), 1);
    EXPECT_EQ(stmt->exitFunction(SQL_ERROR), SQL_ERROR);
    stmt->enterAnswer = 0;
    stmt->exitAnswer = 1;
    ASSERT_EQ(stmt->enterFunction(SQL_API_SQLFETCH), 0);
    EXPECT_EQ(stmt->exitFunction(SQL_SUCCESS), SQL_ERROR);
    delete stmt;
}

TEST_F(StatementCall, OnTheThreadThatOwnsTheHandleACallTakesNoLockAndKeepsTheThreadsList)
{
    conn->threadModel = kBaseThreadPerConnection;
    BaseStatement* stmt = newStatement();
    DiagScope outer;
    handle->apiLock.enter();  // as the reconnecting call holds it
    handle->markOwner();
    ASSERT_EQ(stmt->enterFunction(SQL_API_SQLFETCH), 0);
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
    EXPECT_EQ(stmt->exitFunction(SQL_SUCCESS), SQL_SUCCESS);
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
    handle->clearOwner();
    handle->apiLock.leave();
    delete stmt;
}

TEST_F(StatementCall, RefusedCallsRunInTheFrameAndDroppingFreesTheStatement)
{
    BaseStatement* stmt = newStatement();
    ASSERT_EQ(conn->statements.count, 1u);
    DiagScope outer;
    EXPECT_EQ(stmt->getTypeInfo(SQL_ALL_TYPES), SQL_ERROR);
    ASSERT_EQ(stmt->diagnostics.recordCount(), 1u);
    EXPECT_EQ(stmt->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxNotSupported);
    EXPECT_EQ(stmt->apiId, -1);
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
    EXPECT_EQ(stmt->freeStmt(SQL_DROP), SQL_SUCCESS);
    EXPECT_EQ(conn->statements.count, 0u);
    EXPECT_EQ(outer.size(), 0u);
}

TEST_F(StatementCall, TextsOnTheArgumentStack)
{
    BaseStatement* stmt = newStatement();
    const char16_t five[] = u"abcde";
    ASSERT_EQ(stmt->pushAsyncString(reinterpret_cast<const uint16_t*>(five), SQL_NTS), 0);
    // Two words of text and the length.
    EXPECT_EQ(stmt->asyncArgumentStack.count, 3u);
    EXPECT_EQ(stmt->asyncArgumentStack.at(2), 5u);
    ASSERT_EQ(stmt->pushAsyncString(nullptr, 0), 0);
    EXPECT_EQ(stmt->asyncArgumentStack.count, 4u);
    ASSERT_EQ(stmt->pushAsyncString(reinterpret_cast<const uint16_t*>(five), 0), 0);
    EXPECT_EQ(stmt->asyncArgumentStack.count, 5u);

    int16_t len16 = 7;
    uint16_t* text = stmt->popAsyncString(&len16, 2);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(len16, 0);
    ramFree(text);
    int64_t len64 = 7;
    EXPECT_EQ(stmt->popAsyncString(&len64, 8), nullptr);
    EXPECT_EQ(len64, 0);
    int32_t len32 = 0;
    text = stmt->popAsyncString(&len32, 4);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(len32, 5);
    EXPECT_EQ(std::memcmp(text, five, 10), 0);
    ramFree(text);
    EXPECT_EQ(stmt->asyncArgumentStack.count, 0u);
    // An unknown width gives nothing and takes nothing.
    ASSERT_EQ(stmt->pushAsyncString(reinterpret_cast<const uint16_t*>(five), 3), 0);
    EXPECT_EQ(stmt->popAsyncString(&len32, 3), nullptr);
    EXPECT_EQ(stmt->asyncArgumentStack.count, 2u);
    delete stmt;
}

TEST_F(StatementCall, AStatementOwnsFiveDescriptorsAndRecordsItsAllocationForReplay)
{
    BaseStatement* stmt = newStatement();
    ASSERT_NE(stmt, nullptr);
    EXPECT_NE(dynamic_cast<BaseAXDWR*>(stmt->implicitApd), nullptr);
    EXPECT_NE(dynamic_cast<BaseAXDWR*>(stmt->implicitArd), nullptr);
    EXPECT_NE(dynamic_cast<BaseIRDWR*>(stmt->ird), nullptr);
    EXPECT_NE(dynamic_cast<BaseIPDWR*>(stmt->ipd), nullptr);
    EXPECT_NE(dynamic_cast<BaseIPDWR*>(stmt->procedureIpd), nullptr);
    EXPECT_NE(stmt->ipd, stmt->procedureIpd);
    EXPECT_EQ(stmt->currentApd, stmt->implicitApd);
    EXPECT_EQ(stmt->currentArd, stmt->implicitArd);
    EXPECT_EQ(stmt->statementState, kBaseStmtAllocated);
    EXPECT_EQ(stmt->eventSlots[0], nullptr);
    EXPECT_EQ(conn->events.count, 0u);
    EXPECT_EQ(conn->descriptors.count, 0u);  // the statement's own are not the connection's
    delete stmt;

    conn->failoverMode = 1;
    stmt = newStatement();
    ASSERT_NE(stmt->eventSlots[0], nullptr);
    auto* event = static_cast<BaseBufferedEvent*>(stmt->eventSlots[0]);
    EXPECT_EQ(event->kind, kBaseEventStmtState);
    EXPECT_EQ(event->owner, stmt);
    EXPECT_EQ(conn->events.count, 1u);
    delete stmt;
    EXPECT_EQ(conn->events.count, 0u);
}

TEST_F(StatementCall, RowStatusAndRowOperations)
{
    BaseStatement* stmt = newStatement();
    ASSERT_EQ(stmt->ird->resizeRowStatus(3, 0), 0);
    stmt->setRowStatus(1, SQL_ROW_UPDATED);
    EXPECT_EQ(stmt->getRowStatus(1), SQL_ROW_UPDATED);
    EXPECT_EQ(stmt->getRowStatus(7), SQL_ROW_NOROW);
    stmt->setRowOperation(0, SQL_ROW_ERROR);  // no array bound: nothing written
    uint16_t statuses[3] = {9, 9, 9};
    stmt->ird->arrayStatusPtr = statuses;
    stmt->setRowOperation(2, SQL_ROW_ERROR);
    EXPECT_EQ(statuses[2], SQL_ROW_ERROR);
    uint16_t extended[3] = {9, 9, 9};
    stmt->extendedFetchMode = true;
    stmt->extendedFetchStatusArray = extended;
    stmt->setRowOperation(0, SQL_ROW_SUCCESS);
    EXPECT_EQ(extended[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(statuses[0], 9);

    ASSERT_EQ(stmt->ensureDescriptorRecords(4, 1 | 2 | 4), 0);
    EXPECT_EQ(stmt->ird->count(), 4);
    EXPECT_EQ(stmt->currentArd->count(), 4);
    EXPECT_EQ(stmt->currentApd->count(), 4);
    EXPECT_EQ(stmt->ipd->count(), 4);
    ASSERT_EQ(stmt->checkParamNumber(6), 0);
    EXPECT_EQ(stmt->procedureIpd->count(), 6);
    stmt->resultColumnCount = 4;
    stmt->resultDescribed = true;
    stmt->clearResultDescription();
    EXPECT_EQ(stmt->ird->count(), 0);
    EXPECT_EQ(stmt->resultColumnCount, 0);
    EXPECT_FALSE(stmt->resultDescribed);
    delete stmt;
}

TEST_F(StatementCall, TheEntryStepReportsTheStageOfAFailover)
{
    conn->failoverMode = 1;
    BaseStatement* stmt = newStatement();
    auto firstText = [&] {
        return stmt->diagnostics.recordCount() == 0 ? std::string()
                                                    : katest::messageText(stmt->diagnostics.recordAt(0));
    };
    // Moved and restored: the call runs and says so once.
    stmt->failoverState = kBaseFailoverRestored;
    ASSERT_EQ(stmt->enterFunction(SQL_API_SQLFETCH), 0);
    EXPECT_EQ(stmt->exitFunction(SQL_SUCCESS), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->failoverState, kBaseFailoverReported);
    ASSERT_EQ(stmt->diagnostics.recordCount(), 1u);
    EXPECT_EQ(stmt->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxGeneralWarning);
    EXPECT_NE(firstText().find("has been re-established; the call did not complete"), std::string::npos) << firstText();

    // Moved but not restored: the call ends, and the next one starts afresh.
    stmt->failoverState = kBaseFailoverNotRestored;
    EXPECT_EQ(stmt->enterFunction(SQL_API_SQLFETCH), 1);
    EXPECT_EQ(stmt->exitFunction(SQL_ERROR), SQL_ERROR);
    EXPECT_EQ(stmt->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxReconnected);
    EXPECT_EQ(stmt->failoverState, kBaseFailoverDone);
    stmt->replayDone = 1;
    ASSERT_EQ(stmt->enterFunction(SQL_API_SQLFETCH), 0);
    EXPECT_EQ(stmt->exitFunction(SQL_SUCCESS), SQL_SUCCESS);
    EXPECT_EQ(stmt->failoverState, kBaseFailoverNone);
    EXPECT_EQ(stmt->replayDone, 0);

    // No usable connection: the link failure, naming the servers tried;
    // closing and freeing still work.
    std::u16string servers = u"hostA:10000";
    conn->serverNameW = static_cast<uint16_t*>(ramAlloc((servers.size() + 1) * 2));
    std::memcpy(conn->serverNameW, servers.c_str(), (servers.size() + 1) * 2);
    stmt->failoverState = kBaseFailoverLost;
    EXPECT_EQ(stmt->enterFunction(SQL_API_SQLFREESTMT), 0);
    EXPECT_EQ(stmt->exitFunction(SQL_SUCCESS), SQL_SUCCESS);
    EXPECT_EQ(stmt->enterFunction(SQL_API_SQLFETCH), 1);
    EXPECT_EQ(stmt->exitFunction(SQL_ERROR), SQL_ERROR);
    EXPECT_EQ(stmt->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxLinkFailure);
    EXPECT_NE(firstText().find("could not be re-established with the servers hostA:10000"), std::string::npos)
        << firstText();
    EXPECT_EQ(stmt->failoverState, kBaseFailoverFailed);
    delete stmt;
}
