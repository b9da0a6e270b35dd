// Statement failover: the replay events a statement keeps for the states it
// reaches, its move onto the connection that replaced a lost one (settings
// kept, prepared text prepared again), the check at the end of a call
// whether a link failure is to be repaired by a reconnect, and the private
// copy of parameter values a select failover re-executes with.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/basestring.h"
#include "foundation/kaencode.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseresulthash.h"
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

// A query that select failover executes again: FailoverMode 2, a SELECT
// run without a parameter array, on a connection in autocommit mode (in a
// transaction the rows could differ for reasons of its own).
bool selectReplayable(const BaseStatement* stmt) noexcept
{
    const BaseConnection* c = stmt->connection;
    return c != nullptr && c->failoverMode == kBaseFailoverModeQueries && stmt->replayable == 1 &&
           stmt->executedKind == KA_STMT_SELECT && c->autocommit != 0;
}

// The call that ended may run once more on the new connection: select
// failover is on and the statement's query can run again (a prepared or
// directly executed text, or a call that just prepared or executed one).
bool callRepeatable(const BaseStatement* stmt) noexcept
{
    const BaseConnection* c = stmt->connection;
    if (c == nullptr || c->failoverMode != kBaseFailoverModeQueries || stmt->replayable != 1)
        return false;
    // Only a query runs twice: a statement that changes data may have done
    // so before the link broke. An execute call still knows its kind; a
    // fetch asks the execution it reads.
    const int32_t kind = stmt->statementKind != 0 ? stmt->statementKind : stmt->executedKind;
    if (kind != KA_STMT_SELECT && stmt->lastApiId != SQL_API_SQLPREPARE)
        return false;
    return stmt->executionMode == kBaseExecPrepared || stmt->executionMode == kBaseExecDirect ||
           (stmt->executionMode == kBaseExecNone &&
            (stmt->lastApiId == SQL_API_SQLEXECDIRECT || stmt->lastApiId == SQL_API_SQLPREPARE));
}

// A fetch of more than one row reports a link failure met after its first
// rows as a warning. Select failover repairs it at once and repeats the
// whole rowset; without it the next fetch meets the failure.
bool afterArrayFetch(const BaseStatement* stmt) noexcept
{
    if (stmt->connection == nullptr || stmt->connection->failoverMode != kBaseFailoverModeQueries)
        return false;
    switch (stmt->lastApiId) {
    case SQL_API_SQLFETCH:
    case SQL_API_SQLFETCHSCROLL: return stmt->currentArd != nullptr && stmt->currentArd->arraySize > 1;
    case SQL_API_SQLEXTENDEDFETCH: return stmt->attributeValues[kBaseAttrRowsetSize] > 1;
    default: return false;
    }
}

// The query executed again and, for a cursor, brought back to the rows it
// had delivered; the fetch position the application knows is kept. 0, or 1.
int16_t restoreQuery(BaseStatement* stmt, bool cursor) noexcept
{
    // The interrupted fetch is repeated from where it began; any other
    // call goes on from where the cursor stands.
    const uint16_t call = stmt->lastApiId;
    const bool interrupted =
        stmt->connection->handle != nullptr && stmt->connection->handle->failoverStatement == stmt &&
        (call == SQL_API_SQLFETCH || call == SQL_API_SQLFETCHSCROLL || call == SQL_API_SQLEXTENDEDFETCH);
    const int64_t row = interrupted ? stmt->rowBeforeFetch : stmt->currentRow;
    const uint64_t rowset = interrupted ? stmt->rowsetBeforeFetch : stmt->rowsetRowCount;
    if (stmt->statementState != kBaseStmtCursorOpen && stmt->reexecuteForFailover() != 0)
        return 1;
    if (!cursor || stmt->resultColumnCount == 0)
        return 0;
    if (stmt->repositionAfterFailover() != 0)
        return 1;
    stmt->currentRow = row;
    stmt->rowsetRowCount = rowset;
    stmt->rowsetPosition = 0;
    return 0;
}

// The copy of a byte value of the select failover's parameter copy.
template <class T>
T* duplicate(const T* from, size_t count) noexcept
{
    auto* to = static_cast<T*>(ramAlloc(count * sizeof(T)));
    if (to != nullptr)
        std::memcpy(to, from, count * sizeof(T));
    return to;
}

bool isPositionEvent(const KaDNode* node, const BaseStatement* stmt) noexcept
{
    const auto* e = static_cast<const BaseBufferedEvent*>(node);
    return e->kind == kBaseEventStmtState && e->code == kBaseReplayPositionLevel + 1 && e->owner == stmt;
}

// Every fetch position of the statement on the list goes: its cursor is
// gone. Under the handle list lock.
void dropPositionEvents(KaDList* events, const BaseStatement* stmt) noexcept
{
    KaDNode* node = events->first();
    const size_t count = events->count;
    for (size_t i = 0; i < count && node != nullptr; ++i) {
        KaDNode* next = i + 1 < count ? node->next : nullptr;
        if (isPositionEvent(node, stmt)) {
            events->remove(node);
            delete node;
        }
        node = next;
    }
}

// The statement's fetch positions of the replaced connection's list, kept
// for the restore: the list goes with the replay. Under the handle list
// lock.
void takePositions(KaDList* events, BaseStatement* stmt) noexcept
{
    ramFree(stmt->replayPositions);
    stmt->replayPositions = nullptr;
    stmt->replayPositionCount = 0;
    if (events == nullptr)
        return;
    int64_t count = 0;
    KaDNode* node = events->first();
    for (size_t i = 0; i < events->count && node != nullptr; ++i, node = node->next)
        if (isPositionEvent(node, stmt))
            ++count;
    if (count == 0)
        return;
    auto* pairs = static_cast<int64_t*>(ramAlloc(static_cast<size_t>(count) * 2 * sizeof(int64_t)));
    if (pairs == nullptr)
        return;
    int64_t k = 0;
    node = events->first();
    for (size_t i = 0; i < events->count && node != nullptr && k < count; ++i, node = node->next) {
        if (!isPositionEvent(node, stmt))
            continue;
        const auto* e = static_cast<const BaseBufferedEvent*>(node);
        pairs[2 * k] = static_cast<int64_t>(e->value);
        pairs[2 * k + 1] = e->length;
        ++k;
    }
    stmt->replayPositions = pairs;
    stmt->replayPositionCount = k;
}

}  // namespace

void basePostFailoverStage(BaseConnection* conn, uint16_t index, bool lost, bool warning) noexcept
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
        if (e == nullptr || failoverState != kBaseFailoverNone)
            continue;
        // A cursor has many fetch positions; the slot holds the last.
        if (l == kBaseReplayPositionLevel) {
            dropPositionEvents(&conn->events, this);
        } else {
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
                 (executionMode == kBaseExecPrepared || executionMode == kBaseExecDirect))) {
        eventSlots[level] = target->addBufferedEvent(kBaseEventStmtState, level + 1, 0, 0, 0, this);
    }
    statementState = state;
}

int16_t BaseStatement::moveToConnection(BaseConnection* newConnection, KaDList* events, int32_t level) noexcept
{
    // The fetch positions were taken along at the statement's first move;
    // the restore of its cursor reads them.
    if (level == kBaseReplayPositionLevel)
        return 0;
    KaErrorListScope scope(&diagnostics);
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
            takePositions(events, this);
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
        // The rows the interrupted call delivered are delivered again by
        // its repetition; any other statement's call is over.
        if (connection->handle == nullptr || connection->handle->failoverStatement != this)
            rowsHashed = 0;
    }
    if (level > 0 && statementState == kBaseStmtAllocated && executionMode != kBaseExecDirect &&
        savedSqlText != nullptr) {
        // The text is prepared again from the application's own copy; its
        // analysis starts afresh.
        BaseSqlStringW text(savedSqlText, savedSqlLength);
        if (prepareInternal(&text) != 0) {
            if (connection->failoverGranularity == 1 || connection->failoverGranularity == 2) {
                basePostFailoverStage(connection, kBaseIdxLinkFailure, true, false);
                failoverState = kBaseFailoverFailed;
                if (connection->handle != nullptr)
                    connection->handle->reconnecting = 1;
            }
            rc = 1;
        } else {
            executionMode = kBaseExecPrepared;
        }
    }
    const bool trigger = connection->handle != nullptr && connection->handle->failoverStatement == this;
    if (rc == 0 && level >= kBaseReplayExecutedLevel && selectReplayable(this)) {
        // A cursor's executed state comes before its cursor state in the
        // list: the query runs once, for the cursor.
        const bool cursor = level == kBaseReplayCursorLevel || savedState == kBaseStmtCursorOpen;
        if (level == kBaseReplayExecutedLevel && savedState == kBaseStmtCursorOpen) {
            // Nothing to do until the cursor's own event.
        } else if (cursor && !trigger && connection->failoverGranularity != 2) {
            // Another statement's call reconnected: this one's query runs
            // again at its own next call, on its own thread.
            failoverState = kBaseFailoverReplay;
        } else {
            rc = restoreQuery(this, cursor);
            if (rc == 0)
                failoverState = kBaseFailoverReported;
        }
        return rc;
    }
    if (rc == 0 && level >= kBaseReplayExecutedLevel) {
        // The result of an execution is not restored: the application is
        // told at its next call and executes again.
        if (trigger) {
            basePostFailoverStage(connection, kBaseIdxReconnected, false, false);
            failoverState = kBaseFailoverDone;
        } else {
            failoverState = kBaseFailoverNotRestored;
        }
    }
    return rc;
}

int16_t BaseStatement::checkFailover(int16_t* rc) noexcept
{
    BaseConnection* conn = connection;
    if (conn == nullptr || conn->handle == nullptr || failoverState == kBaseFailoverFailed)
        return 0;
    // A transaction's earlier work is gone with the link: the call is not
    // repeated on its own.
    const bool repeatable = (conn->connectionFlags & kBaseConnTransactionActive) == 0;
    if ((*rc != SQL_ERROR && !afterArrayFetch(this)) || !baseListHasLinkFailure(&diagnostics))
        return 0;
    BaseStubConnection* owner = conn->handle;
    KaLockGuard<KaCriticalSection> guard(owner->reconnectLock);
    switch (failoverState) {
    case kBaseFailoverLost:
        basePostFailoverStage(conn, kBaseIdxLinkFailure, true, false);
        failoverState = kBaseFailoverFailed;
        return 0;
    case kBaseFailoverNotRestored:
        basePostFailoverStage(conn, kBaseIdxReconnected, false, false);
        failoverState = kBaseFailoverDone;
        return 0;
    case kBaseFailoverRestored:
        basePostFailoverStage(conn, kBaseIdxGeneralWarning, false, true);
        failoverState = kBaseFailoverReported;
        return 0;
    case kBaseFailoverDone: return 0;
    case kBaseFailoverReported:
        // Restored and told earlier: this is a new loss, repaired afresh.
        resetFailoverState();
        break;
    default: break;
    }
    // Another statement may have reconnected the handle meanwhile; when this
    // one was moved then to have its query run again, its repeated call
    // does that first.
    if (owner->current != conn || failoverState != kBaseFailoverNone)
        return failoverState == kBaseFailoverReplay && repeatable && callRepeatable(this) ? 1 : 0;
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
    const uint16_t endedCall = lastApiId;
    const int16_t failed = owner->reconnect();
    lastApiId = endedCall;
    owner->clearOwner();
    owner->failoverDisabled = keptDisabled;
    if (failed != 0) {
        failoverState = kBaseFailoverFailed;
        owner->failoverStatement = nullptr;
        *rc = SQL_ERROR;
        return 0;
    }
    diagnostics.clear();
    basePostFailoverStage(connection, kBaseIdxReconnected, false, false);
    // The call that found a pooled link dead is still the first on it, and
    // whether its request may be sent again goes with the record.
    if (connection != nullptr)
        connection->freshFromPool = fromPool;
    if (unsent)
        baseMarkRequestUnsent(&diagnostics, 0, kBaseIdxReconnected);
    *rc = SQL_ERROR;
    failoverState = kBaseFailoverDone;
    owner->failoverStatement = nullptr;
    // The first call on a pooled link is repeated by the pool's own rule.
    return fromPool == 0 && repeatable && callRepeatable(this) ? 1 : 0;
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
            // Zeros after the value: text read up to its terminator stops
            // inside the copy even when the buffer held none.
            auto* kept = static_cast<uint8_t*>(ramAlloc(static_cast<size_t>(bytes) + 4));
            if (kept == nullptr)
                return 1;
            std::memcpy(kept, data, static_cast<size_t>(bytes));
            std::memset(kept + bytes, 0, 4);
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

// ---- Select failover ---------------------------------------------------------

uint32_t BaseStatement::crc32Wrap(int64_t, uint32_t crc, const void* bytes, uint32_t length) noexcept
{
    return crc32Update(crc, bytes, length);
}

int16_t BaseStatement::readRowColumns(int64_t* checksum) noexcept
{
    *checksum = -1;
    const int64_t want =
        static_cast<int64_t>(connection != nullptr ? connection->staticCursorLongColBuffLen : 0) + int64_t{8};
    if (rowReaderSize < want) {
        ramFree(rowReaderBuffer);
        rowReaderSize = 0;
        rowReaderBuffer = static_cast<uint8_t*>(ramAlloc(static_cast<size_t>(want)));
        if (rowReaderBuffer == nullptr)
            return 1;
        rowReaderSize = want;
    }
    const bool cached = baseStaticCursorEmulated(this);
    uint32_t crc = 0;
    for (uint16_t c = 1; c <= resultColumnCount; ++c) {
        const KaDiagMark mark;
        getDataColumn = 0;
        getDataColumnDone = false;
        getDataConsumed = 0;
        resetLongData();
        int64_t length = 0;
        BaseOutString out(rowReaderBuffer, rowReaderSize, &length, &length);
        const int16_t rc =
            cached ? getCachedData(c, SQL_C_BINARY, &out) : getDataQuick(c, SQL_C_BINARY, &out, false, 0);
        resetLongData();
        if (rc != 0)
            return 1;
        // A value cut to the reader is no fault here: its first bytes and
        // its length stand for it.
        while (mark.posted() != 0)
            mark.list()->discardLast();
        crc = crc32Wrap(0, crc, &length, sizeof length);
        if (length != SQL_NULL_DATA) {
            const int64_t n = length == SQL_NO_TOTAL || length > rowReaderSize || length < 0 ? rowReaderSize : length;
            crc = crc32Wrap(0, crc, rowReaderBuffer, static_cast<uint32_t>(n));
        }
    }
    getDataColumn = 0;
    getDataColumnDone = false;
    getDataConsumed = 0;
    *checksum = crc;
    return 0;
}

int16_t BaseStatement::hashDeliveredRow(int64_t, bool errorRow) noexcept
{
    BaseConnection* c = connection;
    if (c == nullptr || c->failoverMode != kBaseFailoverModeQueries || replayable != 1)
        return 0;
    if (resultHash == nullptr) {
        resultHash = new BaseResultHash(c->allowDiskCaching == 1 ? 1 : 0, c->failoverCacheSize);
        if (resultHash == nullptr)
            return 1;
        if (resultHash->clear() != 0) {
            delete resultHash;
            resultHash = nullptr;
            return 1;
        }
    }
    if (c->failoverGranularity != 3) {
        int64_t sum = -1;
        if (!errorRow && readRowColumns(&sum) != 0)
            sum = -1;
        if (sum == -1) {
            // A row lost with the link matches whatever the new one reads.
            KaErrorList* list = KaErrorCurrentList();
            KaError* last = list != nullptr ? list->last() : nullptr;
            if (last != nullptr && last->sqlstateMsg == kBaseIdxLinkFailure)
                sum = -2;
        }
        if (resultHash->put(sum, hashSkip) != 0)
            return 1;
        if (hashSkip > 0)
            --hashSkip;
    }
    ++rowsHashed;
    ++rowsFetched;
    return 0;
}

void BaseStatement::releaseResultHash() noexcept
{
    if (resultHash != nullptr)
        resultHash->release();
    delete resultHash;
    resultHash = nullptr;
    hashSkip = 0;
    ramFree(replayPositions);
    replayPositions = nullptr;
    replayPositionCount = 0;
}

void BaseStatement::recordFetchPosition(int64_t row, int64_t rows) noexcept
{
    BaseConnection* c = connection;
    if (c == nullptr || c->failoverMode != kBaseFailoverModeQueries || replayable != 1 || rows <= 0)
        return;
    // While a failover is under way the events go to the connection the
    // statement is being moved to, as its states' do.
    BaseConnection* target = c;
    if (failoverState != kBaseFailoverNone && c->handle != nullptr && c->handle->current != nullptr)
        target = c->handle->current;
    const auto count = static_cast<int32_t>(rows < INT32_MAX ? rows : INT32_MAX);
    KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
    BaseBufferedEvent* e = target->addBufferedEvent(kBaseEventStmtState, kBaseReplayPositionLevel + 1,
                                                    static_cast<intptr_t>(row), count, 0, this);
    if (e != nullptr)
        eventSlots[kBaseReplayPositionLevel] = e;
}

int16_t BaseStatement::reexecuteForFailover() noexcept
{
    if (savedApd != nullptr && swapInSavedApd() != 0)
        return 1;
    BaseStubConnection* h = connection != nullptr ? connection->handle : nullptr;
    const bool owned = h != nullptr && h->ownedByCaller();
    if (h != nullptr && !owned)
        h->markOwner();
    // The nested call ends as a call of its own: what the running one
    // recorded of itself is put back afterwards.
    const int16_t runningApi = apiId;
    const uint16_t endedApi = lastApiId;
    const uint16_t listFunction = diagnostics.currentApiFunction;
    int16_t rc = SQL_ERROR;
    if (executionMode == kBaseExecPrepared) {
        rc = execute();
    } else if (savedSqlText != nullptr) {
        // The application's own text: the execution replaces the statement's
        // copy of it.
        const int64_t n = savedSqlLength;
        auto* text = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(n + 1) * sizeof(uint16_t)));
        if (text != nullptr) {
            std::memcpy(text, savedSqlText, static_cast<size_t>(n) * sizeof(uint16_t));
            text[n] = 0;
            rc = execDirect(text, static_cast<int32_t>(n));
            ramFree(text);
        }
    }
    apiId = runningApi;
    lastApiId = endedApi;
    diagnostics.currentApiFunction = listFunction;
    if (h != nullptr && !owned)
        h->clearOwner();
    if (savedApd != nullptr)
        (void)restoreApd();
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO ? 0 : 1;
}

int16_t BaseStatement::repositionAfterFailover() noexcept
{
    int64_t n = rowsFetched;
    rowsFetched = 0;
    const int64_t k = n < rowsHashed ? n : rowsHashed;
    rowsHashed -= k;
    hashSkip += k;
    n -= k;
    const uint16_t granularity = connection->failoverGranularity;
    const bool forward = attributeValues[kBaseAttrCursorType] == SQL_CURSOR_FORWARD_ONLY;
    const bool lock = attributeValues[kBaseAttrConcurrency] == SQL_CONCUR_LOCK;
    BaseStubConnection* h = connection->handle;
    const bool owned = h != nullptr && h->ownedByCaller();
    if (h != nullptr && !owned)
        h->markOwner();
    bool rowsDiffer = false;
    bool unreadable = false;
    // A scrollable cursor's rows are read again where it was fetched, in
    // the order they were delivered, each made the current row so that the
    // driver and the row cache alike answer for it.
    int64_t position = 0;
    int64_t withinPosition = 0;
    while (rowsFetched < n) {
        if (forward) {
            int16_t noMore = 0;
            if (fetchRow(&noMore) != 0 || noMore != 0) {
                rowsDiffer = true;
                break;
            }
        } else {
            if (position >= replayPositionCount) {
                rowsDiffer = true;
                break;
            }
            currentRow = replayPositions[2 * position] + withinPosition;
            rowsetPosition = 0;
            uint16_t status = SQL_ROW_NOROW;
            if (baseProbeRow(this, currentRow, &status, lock) != 0 || status == SQL_ROW_NOROW) {
                rowsDiffer = true;
                break;
            }
        }
        ++rowsFetched;
        if (granularity != 3) {
            int64_t stored = 0;
            if (resultHash == nullptr || resultHash->get(rowsFetched, &stored) != 0) {
                unreadable = true;
                break;
            }
            int64_t now = -1;
            (void)readRowColumns(&now);
            if (stored != now && !(stored == -2 && now != -2)) {
                rowsDiffer = true;
                break;
            }
        }
        if (forward) {
            ++currentRow;
        } else if (++withinPosition >= replayPositions[2 * position + 1]) {
            // The fetch is read again whole: the new connection keeps its
            // position for a later failover.
            recordFetchPosition(replayPositions[2 * position], withinPosition);
            ++position;
            withinPosition = 0;
        }
    }
    ramFree(replayPositions);
    replayPositions = nullptr;
    replayPositionCount = 0;
    if (h != nullptr && !owned)
        h->clearOwner();
    if (!rowsDiffer && !unreadable)
        return 0;
    // The new result is not known to be the one the application read: none
    // of its rows may be delivered after the report, whichever report it is
    // (the overflowed store has posted its own).
    const bool overflowed = resultHash != nullptr && resultHash->overflow != 0;
    releaseResultHash();
    (void)closeCursor();
    // The driver hears of a cursor reported lost with the link.
    if (overflowed) {
        (void)connection->statementFailoverHook(this);
        return 1;
    }
    const bool named = connection->serverNameW != nullptr && connection->serverNameW[0] != 0;
    if (granularity == 2) {
        (void)connection->statementFailoverHook(this);
        KaError* record =
            basePostErrorMsg(kBaseIdxLinkFailure, named ? MSG_CURSOR_NOT_RESTORED_SERVERS : MSG_CURSOR_NOT_RESTORED);
        if (record != nullptr && named)
            record->addParamW(connection->serverNameW);
        return 1;
    }
    KaError* record =
        basePostErrorMsg(kBaseIdxGeneralError, named ? MSG_ROWS_CHANGED_AFTER_RECONNECT_TO : MSG_CURSOR_NOT_RESTORED);
    if (record != nullptr) {
        if (named)
            record->addParamText(connection->serverNameA != nullptr ? connection->serverNameA : "");
        record->setSqlstate("40003");
    }
    return 1;
}

int16_t BaseStatement::replayBufferedEvents() noexcept
{
    if (connection == nullptr)
        return 1;
    return restoreQuery(this, true);
}

int16_t BaseStatement::makeReplayParamCopy() noexcept
{
    freeSavedApd();
    BaseAXD* apd = currentApd;
    if (apd == nullptr)
        return 0;
    auto* copy = new BaseAXDWR(connection, 1);
    if (copy == nullptr)
        return 1;
    savedApd = copy;
    if (copy->copyFrom(*apd) != 0)
        return 1;
    copy->arraySize = 1;
    copy->bindOffsetPtr = nullptr;
    copy->bindType = 0;
    copy->rowsProcessedPtr = nullptr;
    copy->arrayStatusPtr = nullptr;
    for (int64_t i = 0; i <= copy->count(); ++i)
        if (BaseAXDRecord* r = copy->axdRecord(i); r != nullptr)
            r->dataPtr = nullptr, r->indicatorPtr = nullptr, r->octetLengthPtr = nullptr;
    // The operation of the one row goes along: an ignored row stays ignored.
    if (apd->arrayStatusPtr != nullptr && (copy->arrayStatusPtr = duplicate(apd->arrayStatusPtr, 1)) == nullptr)
        return 1;
    return 0;
}

BaseAXDRecord* BaseStatement::replayParamRecord(uint16_t param) noexcept
{
    if (!savingParams || savedApd == nullptr || param > savedApd->count())
        return nullptr;
    return savedApd->axdRecord(param);
}

int16_t BaseStatement::swapInSavedApd() noexcept
{
    if (savedApd == nullptr)
        return 1;
    replacedApd = currentApd;
    savedApd->connection = connection;
    currentApd = savedApd;
    return 0;
}

int16_t BaseStatement::restoreApd() noexcept
{
    if (savedApd == nullptr || replacedApd == nullptr)
        return 1;
    currentApd = replacedApd;
    currentApd->connection = connection;
    replacedApd = nullptr;
    return 0;
}

void BaseStatement::freeSavedApd() noexcept
{
    if (savedApd == nullptr)
        return;
    if (currentApd == savedApd)
        (void)restoreApd();
    for (int64_t i = 0; i <= savedApd->count(); ++i) {
        BaseAXDRecord* r = savedApd->axdRecord(i);
        if (r == nullptr)
            continue;
        ramFree(r->dataPtr);
        ramFree(r->indicatorPtr);
        ramFree(r->octetLengthPtr);
        r->dataPtr = nullptr;
        r->indicatorPtr = nullptr;
        r->octetLengthPtr = nullptr;
    }
    ramFree(savedApd->arrayStatusPtr);
    savedApd->arrayStatusPtr = nullptr;
    delete savedApd;
    savedApd = nullptr;
    savingParams = false;
}
