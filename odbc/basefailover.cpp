// Statement failover: the replay events a statement keeps for the states it
// reaches, its move onto the connection that replaced a lost one (settings
// kept, prepared text prepared again), the check at the end of a call
// whether a link failure is to be repaired by a reconnect, and the private
// copy of parameter values a select failover re-executes with.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "sql/basesql.h"

namespace {

// failoverState: moved to the new connection, and the statement that
// cannot be restored.
constexpr int32_t kFailoverMoved = 1;

// The replay level of a statement state; -1 for the states that keep none.
int replayLevelOf(int32_t state) noexcept
{
    switch (state) {
    case kBaseStmtAllocated: return kBaseReplayAllocatedLevel;
    case kBaseStmtPrepared: return kBaseReplayPreparedLevel;
    case kBaseStmtExecuted: return kBaseReplayExecutedLevel;
    case kBaseStmtCursorOpen: return kBaseReplayCursorLevel;
    default: return -1;
    }
}

void postReconnected(BaseConnection* conn, uint16_t index, bool lost, bool warning) noexcept
{
    const bool named = conn != nullptr && conn->serverNameW != nullptr && conn->serverNameW[0] != 0;
    uint16_t msg = 0;
    if (lost)
        msg = named ? MSG_RECONNECT_FAILED_SERVERS : MSG_RECONNECT_FAILED;
    else
        msg = named ? MSG_CONNECTION_REESTABLISHED_TO : MSG_CONNECTION_REESTABLISHED;
    KaError* record = warning ? basePostWarningMsg(index, msg) : basePostErrorMsg(index, msg);
    if (record == nullptr || !named)
        return;
    if (lost)
        record->addParamW(conn->serverNameW);
    else
        record->addParamText(conn->serverNameA != nullptr ? conn->serverNameA : "");
}

// Bytes of a parameter value the replay copy keeps: what the value holds,
// never more than its buffer.
int64_t replayValueBytes(const void* data, int64_t bufferLength, int64_t valueLength, int64_t indicator,
                         int64_t unit) noexcept
{
    if (indicator == SQL_NULL_DATA || indicator == SQL_DEFAULT_PARAM || indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET)
        return 0;
    int64_t n = valueLength;
    if (n == SQL_NTS || indicator == SQL_NTS) {
        // Text up to its terminator, looked for only inside the buffer (in
        // whole units); a buffer of unknown length gives the text as far as
        // its terminator, as ODBC reads it.
        const auto* bytes = static_cast<const uint8_t*>(data);
        const int64_t limit = bufferLength > 0 ? bufferLength - bufferLength % unit : INT32_MAX;
        auto terminator = [bytes, unit](int64_t at) noexcept {
            for (int64_t k = 0; k < unit; ++k)
                if (bytes[at + k] != 0)
                    return false;
            return true;
        };
        n = 0;
        while (n + unit <= limit && !terminator(n))
            n += unit;
        // Its terminator too, when it lies inside the buffer.
        if (n + unit <= limit)
            n += unit;
        return n;
    }
    if (n <= 0)
        n = bufferLength;
    if (bufferLength > 0 && n > bufferLength)
        n = bufferLength;
    return n > 0 ? n : 0;
}

}  // namespace

void BaseStatement::setExecState(int32_t state) noexcept
{
    // A new result replaces the one the failover lost.
    if (state >= kBaseStmtExecuted)
        failoverCloseFlag = false;
    const int level = replayLevelOf(state);
    BaseConnection* conn = connection;
    if (level < 0 || conn == nullptr || conn->failoverMode == 0) {
        statementState = state;
        return;
    }
    // While a failover is under way the events go to the handle's current
    // connection, which the statement is being moved to.
    BaseConnection* target = conn;
    if (failoverState != kBaseFailoverNone && conn->handle != nullptr && conn->handle->current != nullptr)
        target = conn->handle->current;
    KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
    // A state drops every event of the levels above it: their state is gone.
    for (int l = level + 1; l < kBaseReplayLevels; ++l) {
        auto* e = static_cast<BaseBufferedEvent*>(eventSlots[l]);
        eventSlots[l] = nullptr;
        if (e != nullptr && failoverState == kBaseFailoverNone) {
            conn->events.remove(e);
            delete e;
        }
    }
    auto* mine = static_cast<BaseBufferedEvent*>(eventSlots[level]);
    if (mine != nullptr) {
        // The latest state comes last, so that a replay reaches it after
        // what it builds on; the allocation stays where it was.
        if (level != kBaseReplayAllocatedLevel) {
            target->events.remove(mine);
            target->events.addLast(mine);
        }
    } else if (!(failoverState != kBaseFailoverNone && state == kBaseStmtAllocated &&
                 (executionMode == 1 || executionMode == 2))) {
        eventSlots[level] = target->addBufferedEvent(kBaseEventStmtState, level + 1, 0, 0, 0, this);
    }
    statementState = state;
}

int16_t BaseStatement::moveToConnection(BaseConnection* newConnection, KaDList* events, int32_t level) noexcept
{
    (void)events;
    KaErrorPushList(&diagnostics);
    int16_t rc = 0;
    if (failoverState == kBaseFailoverNone) {
        savedState = statementState;
        failoverState = kFailoverMoved;
        failoverCloseFlag = statementState == kBaseStmtCursorOpen;
        (void)unprepare();
        BaseConnection* old = connection;
        {
            KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
            if (old != nullptr)
                baseUnlinkNode(&old->statements, this);
            newConnection->statements.addLast(this);
        }
        diagnostics.ownerData = newConnection;
        diagnostics.clear();
        // The descriptors the statement made itself follow it; explicit
        // ones are the application's and stay with the handle.
        for (BaseDescriptor* d : {static_cast<BaseDescriptor*>(implicitArd), static_cast<BaseDescriptor*>(implicitApd),
                                  static_cast<BaseDescriptor*>(ird), static_cast<BaseDescriptor*>(ipd),
                                  static_cast<BaseDescriptor*>(procedureIpd)})
            if (d != nullptr)
                d->connection = newConnection;
        // The driver moves its own parts while it still sees the old
        // connection.
        (void)rebindConverterCache(newConnection);
        connection = newConnection;
        for (void*& slot : eventSlots)
            slot = nullptr;
        // The statement is on the new connection's list from its allocation
        // on, so that a later reconnect moves it again.
        {
            KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
            eventSlots[kBaseReplayAllocatedLevel] =
                newConnection->addBufferedEvent(kBaseEventStmtState, kBaseReplayAllocatedLevel + 1, 0, 0, 0, this);
        }
        rowsHashed = 0;
    }
    if (level > 0 && statementState == kBaseStmtAllocated && executionMode != 2 && savedSqlText != nullptr) {
        // The text is prepared again from the application's own copy; its
        // analysis starts afresh.
        BaseSqlStringW text(savedSqlText, savedSqlLength);
        if (prepareInternal(&text) != 0) {
            if (connection->failoverGranularity == 1 || connection->failoverGranularity == 2) {
                postReconnected(connection, kBaseIdxLinkFailure, true, false);
                failoverState = kBaseFailoverFailed;
                if (connection->handle != nullptr)
                    connection->handle->reconnecting = 1;
            }
            rc = 1;
        } else {
            executionMode = 1;
        }
    }
    if (rc == 0 && level >= kBaseReplayExecutedLevel) {
        // The result of an execution is not restored: the application is
        // told at its next call and executes again.
        if (connection->handle != nullptr && connection->handle->failoverStatement == this) {
            postReconnected(connection, kBaseIdxReconnected, false, false);
            failoverState = kBaseFailoverDone;
        } else {
            failoverState = kBaseFailoverNotRestored;
        }
    }
    KaErrorPopList();
    return rc;
}

int16_t BaseStatement::checkFailover(int16_t* rc) noexcept
{
    BaseConnection* conn = connection;
    if (conn == nullptr || conn->handle == nullptr || failoverState == kBaseFailoverFailed)
        return 0;
    if (*rc != SQL_ERROR || !baseListHasLinkFailure(&diagnostics))
        return 0;
    BaseStubConnection* owner = conn->handle;
    KaLockGuard<KaCriticalSection> guard(owner->reconnectLock);
    switch (failoverState) {
    case kBaseFailoverLost:
        postReconnected(conn, kBaseIdxLinkFailure, true, false);
        failoverState = kBaseFailoverFailed;
        return 0;
    case kBaseFailoverNotRestored:
        postReconnected(conn, kBaseIdxReconnected, false, false);
        failoverState = kBaseFailoverDone;
        return 0;
    case kBaseFailoverRestored:
        postReconnected(conn, kBaseIdxGeneralWarning, false, true);
        failoverState = kBaseFailoverReported;
        return 0;
    case kBaseFailoverDone: return 0;
    case kBaseFailoverReported:
        // Restored and told earlier: this is a new loss, repaired afresh.
        resetFailoverState();
        break;
    default: break;
    }
    // Another statement may have reconnected the handle meanwhile.
    if (owner->current != conn || failoverState != kBaseFailoverNone)
        return 0;
    owner->failoverStatement = this;
    // The reconnect replays on this thread: the nested calls it makes must
    // neither wait for the handle nor change the current list, and a link
    // lost inside its own connect is not repaired from there, under the
    // reconnect lock this thread holds.
    const bool unsent = baseLinkFailureUnsent(&diagnostics);
    const uint32_t fromPool = conn->freshFromPool;
    const uint32_t keptDisabled = owner->failoverDisabled;
    owner->failoverDisabled = 1;
    owner->markOwner();
    const int16_t failed = owner->reconnect();
    owner->clearOwner();
    owner->failoverDisabled = keptDisabled;
    if (failed != 0) {
        failoverState = kBaseFailoverFailed;
        owner->failoverStatement = nullptr;
        *rc = SQL_ERROR;
        return 0;
    }
    diagnostics.clear();
    postReconnected(connection, kBaseIdxReconnected, false, false);
    // The call that found a pooled link dead is still the first on it, and
    // whether its request may be sent again goes with the record.
    if (connection != nullptr)
        connection->freshFromPool = fromPool;
    if (unsent)
        baseMarkRequestUnsent(&diagnostics, 0, kBaseIdxReconnected);
    *rc = SQL_ERROR;
    failoverState = kBaseFailoverDone;
    owner->failoverStatement = nullptr;
    return 0;
}

void BaseStatement::settleMovedStatements(BaseConnection* conn, bool reconnected) noexcept
{
    if (conn == nullptr)
        return;
    KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
    KaNode* node = conn->statements.first();
    for (size_t i = 0; i < conn->statements.count && node != nullptr; ++i, node = node->next) {
        auto* stmt = static_cast<BaseStatement*>(node);
        if (!reconnected)
            stmt->failoverState = kBaseFailoverLost;
        else if (stmt->failoverState == kFailoverMoved)
            stmt->failoverState =
                stmt->savedState <= kBaseStmtPrepared ? kBaseFailoverRestored : kBaseFailoverNotRestored;
    }
}

int16_t BaseStatement::saveParamForReplay(BaseAXDRecord* copy, const BaseAXDRecord* source, int64_t valueLength,
                                          int64_t bindOffset) noexcept
{
    ramFree(copy->dataPtr);
    ramFree(copy->indicatorPtr);
    ramFree(copy->octetLengthPtr);
    copy->dataPtr = nullptr;
    copy->indicatorPtr = nullptr;
    copy->octetLengthPtr = nullptr;
    auto at = [bindOffset](const void* p) noexcept -> const uint8_t* {
        return p != nullptr ? static_cast<const uint8_t*>(p) + bindOffset : nullptr;
    };
    const auto* indicator = reinterpret_cast<const int64_t*>(at(source->indicatorPtr));
    const auto* octets = reinterpret_cast<const int64_t*>(at(source->octetLengthPtr));
    const uint8_t* data = at(source->dataPtr);
    if (data != nullptr) {
        const int64_t unit = source->conciseType == SQL_C_WCHAR ? 2 : 1;
        const int64_t bytes = replayValueBytes(data, source->octetLength, valueLength,
                                               indicator != nullptr ? *indicator : valueLength, unit);
        if (bytes > 0) {
            auto* kept = static_cast<uint8_t*>(ramAlloc(static_cast<size_t>(bytes)));
            if (kept == nullptr)
                return 1;
            std::memcpy(kept, data, static_cast<size_t>(bytes));
            copy->dataPtr = kept;
        }
    }
    for (const auto& [from, to] :
         {std::pair{indicator, &copy->indicatorPtr}, std::pair{octets, &copy->octetLengthPtr}}) {
        if (from == nullptr)
            continue;
        auto* cell = static_cast<int64_t*>(ramAlloc(sizeof(int64_t)));
        if (cell == nullptr)
            return 1;
        *cell = *from;
        *to = cell;
    }
    return 0;
}
