// Taking a statement back down: SQLFreeStmt, SQLCloseCursor and SQLCancel,
// and the close, reset and unprepare steps that prepare, execute and fetch
// use to tear state down.
#include <sql.h>
#include <sqlext.h>

#include <optional>

#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "sql/basesql.h"

namespace {

// Connection workaround bits that change how the statement is taken down.
constexpr uint64_t kWorkaroundCloseUnbinds = 0x20;           // in workarounds
constexpr uint64_t kWorkaroundKeepParamsOnReset = 0x10;      // in workarounds2
constexpr uint64_t kWorkaroundCancelClosesCursor = 0x40000;  // in workarounds2

bool odbc2Application(const BaseConnection* conn) noexcept
{
    return conn != nullptr && conn->env != nullptr && conn->env->odbc2Mode == 1;
}

}  // namespace

// Fetch, GetData and long-data state go with the cursor.
int16_t BaseStatement::closeCursor() noexcept
{
    dropSetPosWork();
    // The streamed value's converter may be the driver's, which its hook
    // can free.
    releaseGetDataConverter();
    const int16_t hook = closeCursorHook();
    // The XML persist mode belongs to the result it was set for.
    xmlPersistMode = 1;
    resetFetchPosition();
    resetLongData();
    fullGetDataPath = false;
    if (hook != 0)
        return 1;
    if (statementState >= kBaseStmtExecuted || statementState == kBaseStmtNeedData ||
        statementState == kBaseStmtMustPutData || statementState == kBaseStmtPuttingData)
        setExecState(executionMode == kBaseExecPrepared ? kBaseStmtPrepared : kBaseStmtAllocated);
    releaseGetDataConverter();
    if (connection != nullptr && connection->failoverMode == 2 && failoverState == kBaseFailoverNone) {
        rowsFetched = 0;
        releaseResultHash();
        freeSavedApd();
    }
    return 0;
}

int16_t BaseStatement::resetStatement(bool drop, int32_t params) noexcept
{
    dropSetPosWork();
    ramFree(savedSqlText);
    savedSqlText = nullptr;
    savedSqlLength = 0;
    xmlPersistMode = 1;
    if (resetParamsHook(params) != 0)
        return 1;
    markerCount = 0;
    fullGetDataPath = false;
    extendedFetchMode = false;
    positionedKeys = false;
    rerunAfterExecute = false;
    returnValueParam = false;
    forUpdateClause = false;
    preparedSinceExecute = false;
    refersToCursor = 0;
    escapeResult = 0;
    statementKind = 0;
    releaseSharedColumns();
    releaseGetDataConverter();
    // The cursor's own state goes first, so that a driver that closes its
    // server operation in either hook sees the cursor closed.
    const int16_t closed = statementState >= kBaseStmtExecuted ? closeCursorHook() : 0;
    if (closed != 0 || freeResultsHook(drop) != 0) {
        // A failing driver still leaves nothing that claims to be open.
        freeCatalogInfo();
        executionMode = kBaseExecNone;
        setExecState(kBaseStmtAllocated);
        return 1;
    }
    // A catalog result's holders go first: each puts back the IRD it saved.
    freeCatalogInfo();
    clearResultDescription();
    delete sqlTextCopy;
    sqlTextCopy = nullptr;
    resetFetchPosition();
    resetLongData();
    executionMode = kBaseExecNone;
    setExecState(kBaseStmtAllocated);
    diagnostics.cursorRowCount = 0;
    rowCount = -1;
    if (connection != nullptr && connection->failoverMode != 0) {
        // A failover that executes the query again keeps what it compares
        // with; anything else starts a new result.
        if (failoverState == kBaseFailoverNone || drop) {
            rowsFetched = 0;
            releaseResultHash();
            freeSavedApd();
        }
        if (drop) {
            KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
            connection->removeBufferedEvents(this);
        }
    }
    rowCountValid = false;
    return 0;
}

int16_t BaseStatement::unprepare() noexcept
{
    if (resetParamsHook(0) != 0 || freeResultsHook(false) != 0)
        return 1;
    clearResultDescription();
    setExecState(kBaseStmtAllocated);
    lastRowCache = -1;
    return 0;
}

int16_t BaseStatement::cancelExecution() noexcept
{
    // A SetPos call waiting for data ends without its row; the cursor
    // stays where it was.
    if (setPosDataAtExec) {
        if (setPosWork == nullptr)
            (void)setPosAbort();
        dropSetPosWork();
        statementState = kBaseStmtCursorOpen;
        return 0;
    }
    if (ipd != nullptr)
        for (int64_t i = 1; i <= ipd->count(); ++i)
            if (auto* r = dynamic_cast<BaseIXDRecord*>(ipd->record(i)); r != nullptr) {
                ramFree(r->dataAtExecBuffer);
                r->dataAtExecBuffer = nullptr;
                r->dataAtExecLength = 0;
            }
    resetLongData();
    if (executionMode == kBaseExecPrepared)
        return closeCursor() != 0 ? 1 : 0;
    if (statementState != kBaseStmtPrepared)
        return resetStatement() != 0 ? 1 : 0;
    return 0;
}

int16_t BaseStatement::closeCursorApi() noexcept
{
    return runFunction(SQL_API_SQLCLOSECURSOR, [&]() -> int16_t {
        if (failoverCloseFlag) {
            failoverCloseFlag = false;
            return SQL_SUCCESS;
        }
        if ((statementState != kBaseStmtExecuted && statementState != kBaseStmtCursorOpen) || !resultDescribed ||
            resultColumnCount == 0) {
            basePostError(kBaseIdxCursorState);
            return SQL_ERROR;
        }
        const int16_t rc = executionMode == kBaseExecPrepared ? closeCursor() : resetStatement();
        return rc != 0 ? SQL_ERROR : SQL_SUCCESS;
    });
}

int16_t BaseStatement::freeStmt(uint16_t option) noexcept
{
    // A dropped statement goes after the exit step, which still works on it;
    // its call answers success whatever that step said.
    bool dropped = false;
    const int16_t answer = runFunction(SQL_API_SQLFREESTMT, [&]() -> int16_t {
        switch (option) {
        case SQL_DROP: {
            // The statement goes whatever the reset said: its destructor takes
            // it out of its connection's list and out of the replay records, so
            // nothing keeps pointing at it.
            (void)resetStatement(true, 0);
            // What goes back to the connection's pools goes while the call
            // still holds the connection's lock.
            releaseLongDataSinks();
            dropped = true;
            return SQL_SUCCESS;
        }
        case SQL_CLOSE: {
            const int16_t rc = executionMode == kBaseExecPrepared ? closeCursor() : resetStatement();
            if (rc != 0)
                return SQL_ERROR;
            if (connection != nullptr && (connection->workarounds & kWorkaroundCloseUnbinds) != 0 && unbindAll() != 0)
                return SQL_ERROR;
            return SQL_SUCCESS;
        }
        case SQL_UNBIND: return unbindAll() != 0 ? SQL_ERROR : SQL_SUCCESS;
        case SQL_RESET_PARAMS: {
            if (connection != nullptr && (connection->workarounds2 & kWorkaroundKeepParamsOnReset) != 0)
                return SQL_SUCCESS;
            if (resetParamsHook(1) != 0)
                return SQL_ERROR;
            if (currentApd != nullptr) {
                for (int64_t i = 1; i <= currentApd->count(); ++i)
                    if (BaseAXDRecord* r = currentApd->axdRecord(i); r != nullptr)
                        r->dataPtr = nullptr, r->indicatorPtr = nullptr, r->octetLengthPtr = nullptr;
                // Only the bookmark record stays; the application's buffers
                // are only forgotten, never freed.
                if (currentApd->setRecordCount(0) != 0)
                    return SQL_ERROR;
            }
            if (ipd != nullptr)
                for (int64_t i = 1; i <= ipd->count(); ++i)
                    if (auto* r = dynamic_cast<BaseIPDRecord*>(ipd->record(i)); r != nullptr) {
                        r->paramType = 0;
                        r->savedParamType = 0;
                        r->dropName();
                    }
            return SQL_SUCCESS;
        }
        default:
            // The driver manager normally catches this; a direct caller gets the
            // same answer it would.
            basePostErrorTextA(kBaseIdxGeneralError, 0, "Option type out of range", 3)->setSqlstate("HY092");
            return SQL_ERROR;
        }
    });
    if (!dropped)
        return answer;
    delete this;
    return SQL_SUCCESS;
}

int16_t BaseStatement::cancel() noexcept
{
    {
        KaLockGuard<KaCriticalSection> guard(cancelLock);
        cancelRequested = 1;
        if (apiId != -1 && !reentryPending) {
            // The running call sees the request at its exit step; the
            // driver is asked to stop it at the server now.
            cancelRunning();
            return SQL_SUCCESS;
        }
    }
    basePushCallFrame(baseCallLockOf(connection, &statementLock), false);
    int16_t previous = -1;
    {
        KaLockGuard<KaCriticalSection> guard(cancelLock);
        previous = apiId;
        apiId = SQL_API_SQLCANCEL;
    }
    int16_t rc = SQL_SUCCESS;
    {
        // The statement's list is the current one unless a call runs.
        std::optional<KaErrorListScope> scope;
        if (previous == -1) {
            diagnostics.clear();
            scope.emplace(&diagnostics);
        }
        if (reentryPending) {
            rc = cancelAsync() != 0 ? SQL_ERROR : SQL_SUCCESS;
        } else if (odbc2Application(connection) || statementState == kBaseStmtMustPutData ||
                   statementState == kBaseStmtPuttingData || statementState == kBaseStmtNeedData ||
                   (connection != nullptr && (connection->workarounds2 & kWorkaroundCancelClosesCursor) != 0)) {
            // A SetPos call waiting for data is cancelled without closing the
            // cursor.
            const bool setPosWaiting = setPosDataAtExec;
            if (cancelExecution() != 0) {
                rc = SQL_ERROR;
            } else if (!setPosWaiting) {
                basePostWarning(MSG_SQLSTATE_CANCEL_TREATED_AS_CLOSE);
                rc = SQL_SUCCESS_WITH_INFO;
            }
        }
    }
    {
        KaLockGuard<KaCriticalSection> guard(cancelLock);
        cancelRequested = 0;
        apiId = -1;
    }
    KaCriticalSection* lock = nullptr;
    bool listPushed = false;
    (void)basePopCallFrame(&lock, &listPushed);
    if (lock != nullptr)
        lock->leave();
    return rc;
}

int16_t baseEndTranCursors(BaseConnection* conn, int16_t completionType) noexcept
{
    // A 16-bit answer in a zeroed word: read whole whichever width the
    // driver writes.
    uint32_t raw = SQL_CB_PRESERVE;
    const uint16_t info = completionType == SQL_ROLLBACK ? SQL_CURSOR_ROLLBACK_BEHAVIOR : SQL_CURSOR_COMMIT_BEHAVIOR;
    if (!SQL_SUCCEEDED(conn->getInfoValue(info, &raw, sizeof raw, nullptr)))
        return 1;
    const auto behaviour = static_cast<uint16_t>(raw);
    if (behaviour == SQL_CB_PRESERVE)
        return 0;
    int16_t rc = 0;
    KaNode* node = conn->statements.first();
    for (size_t i = 0; i < conn->statements.count && node != nullptr; ++i, node = node->next) {
        auto* stmt = static_cast<BaseStatement*>(node);
        if (stmt->statementState != kBaseStmtCursorOpen)
            continue;
        if (behaviour == SQL_CB_CLOSE) {
            if (stmt->closeCursor() != 0)
                rc = 1;
        } else if ((conn->workarounds & kBaseWaKeepPrepared) != 0) {
            // A prepared statement stays prepared; only its cursor is gone.
            if (stmt->closeCursor() != 0)
                rc = 1;
        } else if (stmt->resetStatement() != 0) {
            rc = 1;
        }
    }
    return rc;
}
