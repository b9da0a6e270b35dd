// SQLFreeStmt's four options, SQLCloseCursor and SQLCancel on the test
// statement: what each leaves prepared, bound or open, and what the driver's
// hooks are asked.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/stmtfixture.h"

namespace {

using katest::W;

// A statement whose driver hooks can be made to fail and that records what
// the framework asked of it.
class HookedStatement : public katest::TestStatement {
public:
    using TestStatement::TestStatement;
    int16_t freeResultsHook(bool drop) noexcept override
    {
        lastDrop = drop;
        if (failFreeResults) {
            basePostError(kBaseIdxGeneralError);
            return 1;
        }
        return 0;
    }
    void cancelRunning() noexcept override { ++cancelRunningCalls; }
    bool failFreeResults = false;
    bool lastDrop = false;
    int cancelRunningCalls = 0;
};

class FreeClose : public katest::StmtFixture {
protected:
    // Parameters 1..n bound to one integer, as SQLBindParameter leaves them.
    void bindParams(int16_t n, SQLINTEGER* value, SQLLEN* ind)
    {
        ASSERT_EQ(stmt->ensureDescriptorRecords(n, 4), 0);
        for (int16_t i = 1; i <= n; ++i) {
            BaseAXDRecord* apd = stmt->currentApd->axdRecord(i);
            apd->setConciseType(SQL_C_SLONG);
            apd->dataPtr = value;
            apd->indicatorPtr = ind;
            apd->octetLengthPtr = ind;
        }
    }
};

}  // namespace

TEST_F(FreeClose, CloseKeepsAPreparedStatementPreparedAndResetsADirectOne)
{
    ASSERT_EQ(stmt->prepare(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(stmt->statementState, kBaseStmtPrepared);
    // No new prepare is needed to run it again.
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    EXPECT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(stmt->prepared.size(), 1u);
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);

    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(stmt->statementState, kBaseStmtAllocated);
    EXPECT_EQ(stmt->execute(), SQL_ERROR);  // nothing prepared any more
}

TEST_F(FreeClose, CloseCursorNeedsAnOpenCursorWhereFreeStmtCloseDoesNot)
{
    EXPECT_EQ(stmt->closeCursorApi(), SQL_ERROR);
    ASSERT_EQ(diags(), 1u);
    EXPECT_EQ(state(), kBaseIdxCursorState);
    EXPECT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);

    // A statement without a result has no cursor either.
    ASSERT_EQ(run(u"insert something"), SQL_SUCCESS);
    EXPECT_EQ(stmt->closeCursorApi(), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorState);

    ASSERT_EQ(stmt->prepare(W(u"select rows 1"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    EXPECT_EQ(stmt->closeCursorApi(), SQL_SUCCESS);
    EXPECT_EQ(stmt->statementState, kBaseStmtPrepared);
    EXPECT_EQ(stmt->closeCursorApi(), SQL_ERROR);
}

TEST_F(FreeClose, UnbindAndResetParamsForgetTheApplicationBuffersOnly)
{
    ASSERT_EQ(stmt->prepare(W(u"select rows 1"), SQL_NTS), SQL_SUCCESS);
    SQLINTEGER id = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(stmt->bindCol(1, SQL_C_SLONG, &id, 0, &ind), SQL_SUCCESS);
    ASSERT_EQ(stmt->freeStmt(SQL_UNBIND), SQL_SUCCESS);
    EXPECT_EQ(stmt->currentArd->axdRecord(1)->dataPtr, nullptr);

    ASSERT_EQ(stmt->prepare(W(u"insert ?, ?"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->markerCount, 2);
    bindParams(2, &id, &ind);
    ASSERT_EQ(stmt->freeStmt(SQL_RESET_PARAMS), SQL_SUCCESS);
    EXPECT_EQ(stmt->currentApd->count(), 0);
    EXPECT_EQ(stmt->markerCount, 2);  // the text is still prepared
    EXPECT_EQ(stmt->statementState, kBaseStmtPrepared);
}

TEST_F(FreeClose, ResetParamsDoesNothingWhenTheConnectionKeepsThem)
{
    conn->workarounds2 |= 0x10;
    SQLINTEGER id = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(stmt->prepare(W(u"insert ?"), SQL_NTS), SQL_SUCCESS);
    bindParams(1, &id, &ind);
    ASSERT_EQ(stmt->freeStmt(SQL_RESET_PARAMS), SQL_SUCCESS);
    EXPECT_EQ(stmt->currentApd->count(), 1);
}

TEST_F(FreeClose, CloseAlsoUnbindsWhenTheConnectionAsks)
{
    conn->workarounds |= 0x20;
    SQLINTEGER id = 0;
    ASSERT_EQ(stmt->bindCol(1, SQL_C_SLONG, &id, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(stmt->currentArd->axdRecord(1)->dataPtr, nullptr);
}

TEST_F(FreeClose, DropSucceedsAndUnlinksEvenWhenTheDriverFailsTheReset)
{
    auto* hooked = make<HookedStatement>();
    ASSERT_NE(hooked, nullptr);
    ASSERT_EQ(hooked->execDirect(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
    hooked->failFreeResults = true;
    const size_t before = conn->statements.count;
    EXPECT_EQ(hooked->freeStmt(SQL_DROP), SQL_SUCCESS);
    EXPECT_EQ(conn->statements.count + 1, before);
}

TEST_F(FreeClose, AFailingDriverResetLeavesNothingOpen)
{
    auto* hooked = make<HookedStatement>();
    ASSERT_NE(hooked, nullptr);
    ASSERT_EQ(hooked->execDirect(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
    hooked->failFreeResults = true;
    EXPECT_EQ(hooked->freeStmt(SQL_CLOSE), SQL_ERROR);
    EXPECT_EQ(hooked->statementState, kBaseStmtAllocated);
    EXPECT_EQ(hooked->executionMode, 0);
    EXPECT_FALSE(hooked->lastDrop);
    hooked->failFreeResults = false;
    EXPECT_EQ(hooked->freeStmt(SQL_DROP), SQL_SUCCESS);
}

TEST_F(FreeClose, AnUnknownOptionIsRefused)
{
    EXPECT_EQ(stmt->freeStmt(7), SQL_ERROR);
    EXPECT_EQ(diags(), 1u);
}

TEST_F(FreeClose, CancelWithoutARunningCallChangesNothingForAnOdbc3Application)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    EXPECT_EQ(stmt->cancel(), SQL_SUCCESS);
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
    EXPECT_EQ(stmt->apiId, -1);
    EXPECT_EQ(stmt->fetch(), SQL_SUCCESS);  // no cancel is left pending
}

TEST_F(FreeClose, CancelClosesTheCursorOfAnOdbc2Application)
{
    env->odbc2Mode = 1;
    ASSERT_EQ(stmt->prepare(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    EXPECT_EQ(stmt->cancel(), SQL_SUCCESS_WITH_INFO);
    ASSERT_EQ(diags(), 1u);
    EXPECT_EQ(state(), MSG_SQLSTATE_CANCEL_TREATED_AS_CLOSE);
    EXPECT_EQ(stmt->statementState, kBaseStmtPrepared);
    env->odbc2Mode = 0;
}

TEST_F(FreeClose, CancelWhileDataIsAwaitedDropsTheCollectedData)
{
    ASSERT_EQ(stmt->prepare(W(u"insert ?"), SQL_NTS), SQL_SUCCESS);
    stmt->setExecState(kBaseStmtMustPutData);
    EXPECT_EQ(stmt->cancel(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->statementState, kBaseStmtPrepared);
}

TEST_F(FreeClose, CancelOfARunningCallAsksTheDriverAndLeavesTheCallAlone)
{
    auto* hooked = make<HookedStatement>();
    ASSERT_NE(hooked, nullptr);
    // As a call running on another thread leaves it.
    hooked->apiId = SQL_API_SQLEXECUTE;
    EXPECT_EQ(hooked->cancel(), SQL_SUCCESS);
    EXPECT_EQ(hooked->cancelRunningCalls, 1);
    EXPECT_EQ(hooked->cancelRequested, 1);
    EXPECT_EQ(hooked->apiId, SQL_API_SQLEXECUTE);
    // The running call's exit step takes the request back.
    EXPECT_EQ(hooked->exitFunction(SQL_SUCCESS), SQL_SUCCESS);
    EXPECT_EQ(hooked->cancelRequested, 0);
    EXPECT_EQ(hooked->freeStmt(SQL_DROP), SQL_SUCCESS);
}

// What a commit or rollback leaves of each open cursor, by the driver's
// cursor commit and rollback behaviour.
TEST_F(FreeClose, TheEndOfATransactionClosesResetsOrKeepsOpenCursors)
{
    struct {
        uint32_t behaviour;
        uint64_t workarounds;
        int32_t preparedAfter;  // a statement prepared by SQLPrepare
        int32_t directAfter;    // one executed by SQLExecDirect
    } cases[] = {
        {SQL_CB_PRESERVE, 0, kBaseStmtCursorOpen, kBaseStmtCursorOpen},
        {SQL_CB_CLOSE, 0, kBaseStmtPrepared, kBaseStmtAllocated},
        {SQL_CB_DELETE, 0, kBaseStmtAllocated, kBaseStmtAllocated},
        {SQL_CB_DELETE, kBaseWaKeepPrepared, kBaseStmtPrepared, kBaseStmtAllocated},
    };
    for (const auto& c : cases) {
        for (int16_t completion : {SQL_COMMIT, SQL_ROLLBACK}) {
            SCOPED_TRACE(testing::Message() << "behaviour " << c.behaviour << " completion " << completion);
            control.numberInfo[completion == SQL_COMMIT ? SQL_CURSOR_COMMIT_BEHAVIOR : SQL_CURSOR_ROLLBACK_BEHAVIOR] =
                c.behaviour;
            conn->workarounds = c.workarounds;
            auto* direct = make<katest::TestStatement>();
            ASSERT_NE(direct, nullptr);
            ASSERT_EQ(stmt->prepare(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
            ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
            ASSERT_EQ(direct->execDirect(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
            conn->autocommit = 0;
            conn->connectionFlags |= kBaseConnTransactionActive;
            EXPECT_EQ(conn->endTransaction(completion), 0);
            EXPECT_EQ(stmt->statementState, c.preparedAfter);
            EXPECT_EQ(direct->statementState, c.directAfter);
            EXPECT_EQ(conn->connectionFlags & kBaseConnTransactionActive, 0u);
            EXPECT_EQ(direct->freeStmt(SQL_DROP), SQL_SUCCESS);
            ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
        }
    }
    // With autocommit on nothing is ended and nothing closed.
    conn->autocommit = 1;
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    EXPECT_EQ(conn->endTransaction(SQL_COMMIT), 0);
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
}

namespace {

// A statement whose execution waits at the server until it is cancelled,
// as a long query does.
class LongRunningStatement : public katest::TestStatement {
public:
    using TestStatement::TestStatement;
    int16_t executeHook() noexcept override
    {
        running = true;
        // Bounded: a cancel that never comes fails the test instead of
        // hanging it.
        for (int i = 0; i < 3000 && !cancelled; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        running = false;
        KaError* record = basePostError(kBaseIdxGeneralError);
        if (record != nullptr)
            record->setSqlstate("HY008");
        return 1;
    }
    void cancelRunning() noexcept override { cancelled = true; }
    std::atomic<bool> running{false};
    std::atomic<bool> cancelled{false};
};

}  // namespace

TEST_F(FreeClose, CancelFromAnotherThreadStopsARunningExecution)
{
    auto* slow = make<LongRunningStatement>();
    ASSERT_NE(slow, nullptr);
    std::atomic<int16_t> rc{SQL_SUCCESS};
    std::thread runner([&] { rc = slow->execDirect(W(u"select rows 1"), SQL_NTS); });
    for (int i = 0; i < 3000 && !slow->running; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(slow->running);
    EXPECT_EQ(slow->cancel(), SQL_SUCCESS);
    runner.join();
    EXPECT_TRUE(slow->cancelled);
    EXPECT_EQ(rc.load(), SQL_ERROR);
    EXPECT_EQ(slow->cancelRequested, 0);  // the exit step took the request back
    EXPECT_EQ(slow->apiId, -1);
    // The statement is usable again.
    slow->cancelled = true;
    EXPECT_EQ(slow->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(slow->freeStmt(SQL_DROP), SQL_SUCCESS);
}
