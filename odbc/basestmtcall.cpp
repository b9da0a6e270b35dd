// The call frame of statement calls (entry and exit steps), the argument
// stack of re-entered calls, and the statement's descriptor and row-status
// helpers.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/kaerror.h"
#include "foundation/kastr.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/exportcall.h"

namespace {

// Text appended to the general error when the thread cannot be registered.
const char kThreadInitFailed[] = " mdsPerThreadInit failed.";
// Bytes a word of the argument stack holds, and UTF-16 units in it.
constexpr int64_t kWordBytes = 8;

// A statement-scope lock held for a moment, for the cancel hand-over.
using CancelGuard = KaLockGuard<KaCriticalSection>;

// The SQLSTATE of a call cancelled while it entered.
void postCancelled() noexcept
{
    KaError* record = basePostError(kBaseIdxGeneralError);
    if (record != nullptr)
        record->setSqlstate("HY008");
}

}  // namespace

// ---- Entry and exit -------------------------------------------------------------------

int16_t BaseStatement::enterFunction(uint16_t function) noexcept
{
    {
        // A cancel that comes while this call waits for the lock must not be
        // lost by the clearing: both go under the cancel lock.
        CancelGuard guard(cancelLock);
        cancelRequested = 0;
    }
    basePushCallFrame(baseCallLockOf(connection, &statementLock), false);
    apiId = static_cast<int16_t>(function);
    diagnostics.clear();
    diagnostics.clearDynamicFunction();
    diagnostics.rowCount = 0;
    diagnostics.cursorRowCount = 0;

    const uint64_t self = threadCurrentId();
    if (self != threadRecordId || threadRecord == nullptr) {
        if (threadRecord != nullptr)
            threadRecord->release();
        threadRecord = nullptr;
        threadRecordId = kBaseNoThread;
        if (threadAttach() == 0) {
            // Posted straight on the statement's list: a thread without a
            // record has no list stack, and nothing was pushed for the exit
            // step to pop.
            KaError* record = diagnostics.postError(kBaseIdxGeneralError, 0);
            if (record != nullptr)
                record->appendText(kThreadInitFailed);
            return 1;
        }
        threadRecordId = self;
        threadRecord = threadFind(self);
    }
    const bool ownerThread =
        connection != nullptr && connection->handle != nullptr && connection->handle->ownedByCaller();
    if (!ownerThread) {
        KaErrorPushList(&diagnostics);
        baseMarkFrameListPushed();
    }
    diagnostics.currentApiFunction = function;

    bool cancelled = false;
    {
        CancelGuard guard(cancelLock);
        cancelled = cancelRequested != 0;
    }
    if (cancelled) {
        if (ownerThread)
            KaErrorPushList(&diagnostics);
        postCancelled();
        if (ownerThread)
            KaErrorPopList();
        return 1;
    }
    if (connection != nullptr && connection->failoverMode != 0 && enterFailoverStage(function, ownerThread) != 0)
        return 1;
    if (enterHook() != 0)
        return 1;
    return 0;
}

int16_t BaseStatement::enterFailoverStage(uint16_t function, bool ownerThread) noexcept
{
    if (failoverState == kBaseFailoverNone) {
        rowsHashed = 0;
        return 0;
    }
    // Closing and freeing must work whatever the failover left behind.
    if (function == SQL_API_SQLCLOSECURSOR || function == SQL_API_SQLFREESTMT)
        return 0;
    if (ownerThread)
        KaErrorPushList(&diagnostics);
    int16_t rc = 0;
    const bool reconnecting = connection->handle != nullptr && connection->handle->reconnecting != 0;
    switch (failoverState) {
    case kBaseFailoverDone: resetFailoverState(); break;
    case kBaseFailoverNotRestored:
        if (reconnecting)
            basePostFailoverStage(connection, kBaseIdxLinkFailure, true, false);
        else
            basePostFailoverStage(connection, kBaseIdxReconnected, false, false);
        failoverState = kBaseFailoverDone;
        rc = 1;
        break;
    case kBaseFailoverLost:
        basePostFailoverStage(connection, kBaseIdxLinkFailure, true, false);
        failoverState = kBaseFailoverFailed;
        rc = 1;
        break;
    case kBaseFailoverRestored:
        basePostFailoverStage(connection, kBaseIdxGeneralWarning, false, true);
        failoverState = kBaseFailoverReported;
        break;
    case kBaseFailoverReplay:
        // Moved by another statement's reconnect: its query runs again now,
        // before the call works on the cursor.
        failoverState = kBaseFailoverReplaying;
        if (replayBufferedEvents() != 0) {
            failoverState = kBaseFailoverFailed;
            rc = 1;
        } else {
            failoverState = kBaseFailoverDone;
        }
        break;
    default: break;
    }
    if (ownerThread)
        KaErrorPopList();
    return rc;
}

void BaseStatement::resetFailoverState() noexcept
{
    // The stored checksums, the rows delivered and the rows still to be
    // delivered again belong to the cursor, which goes on.
    failoverState = kBaseFailoverNone;
    replayDone = 0;
    savedState = 0;
    replayable = 1;
    rowsHashed = 0;
    ramFree(rowReaderBuffer);
    rowReaderBuffer = nullptr;
    rowReaderSize = 0;
}

int16_t BaseStatement::exitFunction(int16_t status) noexcept
{
    int16_t s = status;
    if (s == SQL_SUCCESS && diagnostics.hasOnlyWarnings())
        s = SQL_SUCCESS_WITH_INFO;
    {
        CancelGuard guard(cancelLock);
        if (cancelRequested != 0) {
            releaseGetDataConverter();
            cancelRequested = 0;
        }
    }
    switch (apiId) {
    case SQL_API_SQLBULKOPERATIONS:
    case SQL_API_SQLPARAMDATA:
    case SQL_API_SQLMORERESULTS:
    case SQL_API_SQLSETPOS:
        diagnostics.rowCount = rowCount;
        diagnostics.clearDynamicFunction();
        break;
    case SQL_API_SQLEXECDIRECT:
    case SQL_API_SQLEXECUTE:
        diagnostics.rowCount = rowCount;
        diagnostics.setDynamicFunction(statementKind, objectKind, refersToCursor != 0, escapeResult != 0);
        break;
    default:
        diagnostics.rowCount = 0;
        diagnostics.clearDynamicFunction();
        break;
    }
    // The work's cursor row count stands only after the calls that open a
    // result, and only where the cursor type knows how many rows it holds.
    const bool opensResult = apiId == SQL_API_SQLEXECDIRECT || apiId == SQL_API_SQLEXECUTE ||
                             apiId == SQL_API_SQLPARAMDATA || apiId == SQL_API_SQLMORERESULTS;
    if (!opensResult || (baseCursorCapabilities(this) & kBaseCapCursorRowCount) == 0)
        diagnostics.cursorRowCount = 0;
    const bool odbc2 = connection != nullptr && connection->env != nullptr && connection->env->odbc2Mode == 1;
    if (!odbc2 && (apiId == SQL_API_SQLEXECDIRECT || apiId == SQL_API_SQLEXECUTE || apiId == SQL_API_SQLPARAMDATA) &&
        resultColumnCount == 0 &&
        (statementKind == kBaseKindDelete || statementKind == kBaseKindUpdate || statementKind == kBaseKindInsert) &&
        diagnostics.rowCount == 0 && (s == SQL_SUCCESS || s == SQL_SUCCESS_WITH_INFO))
        s = SQL_NO_DATA;
    {
        CancelGuard guard(cancelLock);
        lastApiId = static_cast<uint16_t>(apiId);
        apiId = -1;
    }
    // A lost link is repaired here, while the call still holds what its
    // entry took and knows which call it was; the call is repeated at most
    // once.
    int16_t repeat = 0;
    if (connection != nullptr && connection->failoverMode != 0 && connection->handle != nullptr &&
        connection->handle->failoverDisabled == 0)
        repeat = checkFailover(&s);
    KaCriticalSection* lock = nullptr;
    bool pushed = false;
    (void)basePopCallFrame(&lock, &pushed);
    if (pushed)
        KaErrorPopList();
    diagnostics.currentRow = nullptr;
    diagnostics.currentColumn = nullptr;
    if (diagnostics.recordCount() > 1)
        (void)diagnostics.sort();
    if (lastApiId == SQL_API_SQLEXECDIRECT || lastApiId == SQL_API_SQLEXECUTE) {
        statementKind = 0;
        objectKind = 0;
    }
    if (exitHook() != 0)
        s = SQL_ERROR;
    if (lock != nullptr)
        lock->leave();
    if (repeat != 0 && replayDone == 0) {
        replayDone = 1;
        return kBaseRcAgain;
    }
    return s;
}

uint64_t baseCursorCapabilities(const BaseStatement* stmt) noexcept
{
    const BaseConnection* c = stmt->connection;
    if (c == nullptr)
        return 0;
    switch (stmt->attributeValues[kBaseAttrCursorType]) {
    case SQL_CURSOR_KEYSET_DRIVEN: return c->keysetCursorOps;
    case SQL_CURSOR_DYNAMIC: return c->dynamicCursorOps;
    case SQL_CURSOR_STATIC: return c->staticCursorOps;
    case SQL_CURSOR_FORWARD_ONLY: return c->forwardCursorOps;
    default: return 0;
    }
}

// ---- Argument stack ---------------------------------------------------------------------

int16_t BaseStatement::pushAsyncString(const uint16_t* text, int64_t length) noexcept
{
    if (text == nullptr)
        return asyncArgumentStack.append(kBaseAsyncNullText) != 0 ? 1 : 0;
    if (length == SQL_NTS)
        length = static_cast<int64_t>(strLenW(text));
    if (length < 0)
        return 1;
    const int64_t bytes = length * 2;
    const int64_t words = (bytes + kWordBytes - 1) / kWordBytes;
    const size_t need = asyncArgumentStack.count + static_cast<size_t>(words) + 1;
    if (need > asyncArgumentStack.capacity && asyncArgumentStack.reserve(need - asyncArgumentStack.capacity, 1) != 0)
        return 1;
    const auto* raw = reinterpret_cast<const uint8_t*>(text);
    for (int64_t w = words - 1; w >= 0; --w) {
        uint64_t word = 0;
        for (int64_t b = 0; b < kWordBytes && w * kWordBytes + b < bytes; ++b)
            word |= static_cast<uint64_t>(raw[w * kWordBytes + b]) << (8 * b);
        (void)asyncArgumentStack.append(static_cast<size_t>(word));
    }
    (void)asyncArgumentStack.append(static_cast<size_t>(length));
    return 0;
}

uint8_t* BaseStatement::popAsyncWords(int64_t bytes) noexcept
{
    const int64_t words = (bytes + kWordBytes - 1) / kWordBytes;
    auto* out = static_cast<uint8_t*>(ramAlloc(static_cast<size_t>((words + 1) * kWordBytes)));
    // The words are popped even without a buffer, so that the stack stays in
    // step with the pushes.
    for (int64_t w = 0; w < words; ++w) {
        uint64_t word = 0;
        if (asyncArgumentStack.count != 0) {
            word = asyncArgumentStack.at(asyncArgumentStack.count - 1);
            --asyncArgumentStack.count;
        }
        if (out == nullptr)
            continue;
        for (int64_t b = 0; b < kWordBytes; ++b)
            out[w * kWordBytes + b] = static_cast<uint8_t>(word >> (8 * b));
    }
    if (out != nullptr)
        std::memset(out + words * kWordBytes, 0, kWordBytes);
    return out;
}

uint16_t* BaseStatement::popAsyncString(void* length, int width) noexcept
{
    if (width != 1 && width != 2 && width != 4 && width != 8)
        return nullptr;
    int64_t units = 0;
    if (asyncArgumentStack.count != 0) {
        units = static_cast<int64_t>(asyncArgumentStack.at(asyncArgumentStack.count - 1));
        --asyncArgumentStack.count;
    }
    uint16_t* text = nullptr;
    int64_t stored = 0;
    if (static_cast<size_t>(units) != kBaseAsyncNullText) {
        text = reinterpret_cast<uint16_t*>(popAsyncWords(units * 2));
        stored = text != nullptr ? units : 1;
    }
    if (length != nullptr) {
        switch (width) {
        case 1: *static_cast<int8_t*>(length) = static_cast<int8_t>(stored); break;
        case 2: *static_cast<int16_t*>(length) = static_cast<int16_t>(stored); break;
        case 4: *static_cast<int32_t*>(length) = static_cast<int32_t>(stored); break;
        default: *static_cast<int64_t*>(length) = stored; break;
        }
    }
    return text;
}

// ---- Descriptors and rows ------------------------------------------------------------------

int16_t BaseStatement::ensureDescriptorRecords(uint16_t n, int which) noexcept
{
    if (n == 0)
        return 0;
    auto grow = [n](BaseDescriptor* desc) noexcept {
        return desc == nullptr || static_cast<int64_t>(desc->records.count) > n || desc->setRecordCount(n) == 0;
    };
    if ((which & 1) != 0 && !grow(ird))
        return 1;
    if ((which & 2) != 0 && !grow(currentArd))
        return 1;
    if ((which & 4) != 0 && (!grow(currentApd) || !grow(ipd)))
        return 1;
    return 0;
}

int16_t BaseStatement::checkParamNumber(uint16_t n) noexcept
{
    if (procedureIpd == nullptr || static_cast<int64_t>(procedureIpd->records.count) > n)
        return 0;
    return procedureIpd->setRecordCount(n);
}

void BaseStatement::clearResultDescription() noexcept
{
    if (ird != nullptr)
        (void)ird->setRecordCount(0);
    resultColumnCount = 0;
    resultDescribed = false;
}

uint16_t BaseStatement::getRowStatus(int64_t index) const noexcept
{
    if (ird == nullptr || index < 0 || index >= ird->rowStatusSize)
        return SQL_ROW_NOROW;
    return ird->rowStatus[index];
}

void BaseStatement::setRowStatus(int64_t index, uint16_t value) noexcept
{
    if (ird != nullptr && index >= 0 && index < ird->rowStatusSize)
        ird->rowStatus[index] = value;
}

void BaseStatement::setRowOperation(int64_t index, uint16_t value) noexcept
{
    uint16_t* array = extendedFetchMode ? extendedFetchStatusArray : (ird != nullptr ? ird->arrayStatusPtr : nullptr);
    if (array != nullptr && index >= 0)
        array[index] = value;
}

bool BaseStatement::isConnectionLost(int16_t rc) noexcept
{
    return rc == SQL_ERROR && baseListHasLinkFailure(&diagnostics);
}
