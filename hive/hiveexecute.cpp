// Hive statement execution: the prepare and execute hooks, the finish of an
// execute (the operation polled until it ends, then its result-set metadata
// or its row count), more results, the row count, the describe step before
// execution, closing a result, cancel and the statement-attribute hooks.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "hive/hivedesc.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "platform/bosenv.h"
#include "sql/basesql.h"

namespace {

uint16_t nullMarkerCallback(uint16_t* buffer, uint16_t capacity, uint16_t, void*) noexcept
{
    return capacity >= 4 ? static_cast<uint16_t>(hiveNullMarkerText(buffer)) : static_cast<uint16_t>(capacity + 1);
}

bool firstWordIs(const BaseSqlStringW* text, const char* word) noexcept
{
    return sqlWordIs(text->keyword, word);
}

// An SQLSTATE the server gave for a failed operation that can stand for an
// error: five digits or capital letters, outside the success, warning and
// no-data classes.
bool errorSqlstate(const char* state, size_t length) noexcept
{
    if (length != kHiveSqlstateBytes)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (!((state[i] >= '0' && state[i] <= '9') || (state[i] >= 'A' && state[i] <= 'Z')))
            return false;
    return !(state[0] == '0' && (state[1] == '0' || state[1] == '1' || state[1] == '2'));
}

}  // namespace

// ---- Prepare --------------------------------------------------------------------

int16_t HiveStatement::prepareHook(BaseSqlStringW* text) noexcept
{
    hiveStatementSettingsOf(hiveConnection(), &settings);
    readerState.longDataCache = settings.longDataCache;
    preparedKind = static_cast<int32_t>(text->getStatementKind());
    executedForDescribe = false;
    pollFlag = preparedKind == HIVE_KIND_INSERT || preparedKind == HIVE_KIND_CREATE || preparedKind == HIVE_KIND_DROP ||
               preparedKind == HIVE_KIND_ALTER || settings.pollAlways != 0;
    closeAfterExecute = false;
    if (preparedKind == HIVE_KIND_OTHER) {
        if (firstWordIs(text, "USE")) {
            closeAfterExecute = true;
        } else if (firstWordIs(text, "LOAD") || firstWordIs(text, "INVALIDATE") || firstWordIs(text, "REFRESH")) {
            closeAfterExecute = true;
            pollFlag = true;
        }
    } else if (preparedKind != HIVE_KIND_SELECT) {
        closeAfterExecute = true;
    }
    if (setSqlText(text->data, text->len) != 0)
        return 1;
    return recordMarkers(text);
}

// ---- Execute ----------------------------------------------------------------------

int16_t HiveStatement::executeHook() noexcept
{
    if (executedForDescribe) {
        executedForDescribe = false;
        return 0;
    }
    if (sqlText == nullptr || sqlTextLength == 0) {
        errPost(MSG_HIVE_DESCRIBE_FAILED)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)->addParamText("SQL is NULL");
        return 1;
    }
    // A batch of a multi-row insert is the builder's text.
    if (multiRowInsert != nullptr && arrayInsert.active())
        return executeText(nullptr, 0);
    // With parameters, the text with their values written in.
    const uint16_t* text = nullptr;
    size_t units = 0;
    if (finishParamText(&text, &units) != 0)
        return 1;
    if (text == nullptr) {
        text = sqlText;
        units = sqlTextLength;
    }
    // Both texts are the statement's own; the rewrite keeps their length
    // and gives the same text when run again.
    HiveConnection::fixQuotedLiterals(const_cast<uint16_t*>(text), units);
    return executeText(text, units);
}

int16_t HiveStatement::executeText(const uint16_t* text, size_t units) noexcept
{
    if (resultState != HIVE_RESULT_NONE && closeResult() != 0)
        return 1;
    hiveRowCount = 0;
    resultAbandoned = false;
    // A cancel meant for an earlier call does not stop this one.
    cancelPending.store(0);
    startQueryClock();
    HiveConnection* conn = hiveConnection();
    if (conn == nullptr || conn->writeBuffer.socket == nullptr || conn->sessionOpen == 0) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_CONNECTION_NOT_OPEN);
        return 1;
    }
    // Refused before anything is sent, so that failover may run the
    // request again on a new connection.
    const KaDiagMark mark;
    if (conn->refuseIfUnusable() != 0) {
        baseMarkRequestUnsent(mark.list(), mark.start(), kBaseIdxLinkFailure);
        return 1;
    }
    if (acquireWire() != 0)
        return 1;
    // The deadline bounds each transfer until the execute ends, and a step
    // it cut short ends the query as an expired poll does.
    boundTransfersByQueryClock(queryDeadlineMs);
    struct TransferBound {
        HiveStatement* statement;
        ~TransferBound() { statement->boundTransfersByQueryClock(0); }
    } bound{this};
    auto fail = [this]() noexcept -> int16_t {
        (void)transferOutlivedQueryClock();
        releaseWire();
        return 1;
    };
    int32_t status = 0;
    int32_t hasResultSet = 0;
    double modified = -1.0;
    const int sent = metadataCall != nullptr ? metadataCall->send(communicator)
                     : multiRowInsert != nullptr && arrayInsert.active()
                         ? arrayInsert.send()
                         : communicator->executeStatement(text, units, settings.useAsync);
    if (sent != 0 || communicator->readExecuteStatementReply(&status, &hasResultSet, &modified) != 0)
        return fail();
    if (status > HIVE_STATUS_SUCCESS_WITH_INFO) {
        releaseWire();
        errPost(MSG_HIVE_EXECUTE_FAILED)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)->addParamSigned(status);
        return 1;
    }
    // The reply does not say whether the operation has finished, and a
    // server may answer while it still runs: its result or row count is read
    // only once GetOperationStatus says it ended, and an operation that ended
    // in ERROR reports its own error instead of the next call's complaint.
    if (pollOperation() != 0)
        return fail();
    const bool resultExpected = !closeAfterExecute && (preparedKind == HIVE_KIND_SELECT ||
                                                       (preparedKind == HIVE_KIND_OTHER && hasResultSet != 0));
    if (resultExpected) {
        if (communicator->getResultSetMetadata(settings.arrayFetchSize, settings.maxRowsInFetch, &columnBinder) != 0)
            return fail();
        moreRows = 1;
        rowsLeft = 0;
        rowIndex = 0;
        columnPosition = 0;
        readerState.rowsLeft = 0;
        readerState.currentRow = 0;
        fetchState = HIVE_FETCH_IDLE;
        resultState = HIVE_RESULT_OPEN;
        releaseWire();
        return 0;
    }
    resultColumnCount = 0;
    resultDescribed = true;
    hiveRowCount = modified >= 0.0 ? static_cast<int64_t>(static_cast<uint64_t>(modified)) : -1;
    if (closeAfterExecute) {
        hiveRowCount = hiveRowCount >= 0 ? hiveRowCount : -1;
        resultColumnCount = 0;
        if (communicator->closeCurrentOperation() != 0)
            return fail();
    }
    resultState = HIVE_RESULT_CLOSED;
    releaseWire();
    return 0;
}

int16_t HiveStatement::pollOperation() noexcept
{
    HiveConnection* conn = hiveConnection();
    if (!communicator->hasOperation())
        return 0;
    for (int round = 0;; ++round) {
        if (round != 0 && settings.operationStatusDelay != 0)
            bosSleep(settings.operationStatusDelay);
        if (cancelPending.exchange(0) != 0)
            return cancelPolledOperation();
        if (queryTimeExpired() != 0)
            return 1;
        HiveOperationStatus op;
        if (communicator->getOperationStatus(&op) != 0 || op.status == HIVE_STATUS_ERROR)
            return 1;
        if (op.running())
            continue;
        if (op.state == HIVE_OP_FINISHED)
            return 0;
        // The operation ended without a result: the server's own error, or
        // what became of it.
        const KaDiagMark mark;
        if (op.state == HIVE_OP_ERROR && op.message && op.messageLength != 0) {
            // Servers repeat the failed request in their text, credentials
            // included.
            hiveMaskCredentials(op.message.get());
            conn->postServerError(op.errorCode, op.sqlstate, op.message.get(), strlen(op.message.get()));
        } else {
            const char* what = op.state == HIVE_OP_CANCELED    ? "cancelled"
                               : op.state == HIVE_OP_CLOSED    ? "closed"
                               : op.state == HIVE_OP_TIMED_OUT ? "timed out"
                               : op.state == HIVE_OP_ERROR     ? "failed"
                                                               : "in an unknown state";
            errPost(MSG_HIVE_OPERATION_ENDED)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)->addParamText(what);
        }
        // The server's own SQLSTATE is what the application sees; the index
        // chosen from the code or the text stays under it, so that a server's
        // 08S01 for a failed job is not taken for a lost connection.
        KaErrorList* list = mark.list();
        if (op.state == HIVE_OP_ERROR && list != nullptr && errorSqlstate(op.sqlstate, op.sqlstateLength))
            for (size_t i = mark.start(); i < list->recordCount(); ++i)
                if (KaError* record = list->recordAt(i); record != nullptr && !record->isWarning())
                    record->setSqlstate(op.sqlstate);
        return 1;
    }
}

int16_t HiveStatement::cancelPolledOperation() noexcept
{
    // The server's refusal (or a broken wire) is reported beside the cancel,
    // so the application sees both why and that the execute did not finish.
    const bool sent = communicator->cancelOperation() == 0;
    errPost(MSG_HIVE_OPERATION_ENDED)
        ->setSqlstate("HY008")
        ->addParamText(sent ? "was canceled" : "was canceled here, but the server did not confirm it");
    return 1;
}

int16_t HiveStatement::closeResult() noexcept
{
    int16_t rc = 0;
    // The rest of the current reply, or the read-ahead's, is passed over.
    if ((ownsWire || parkedReply.parked()) && dropPendingReply() != 0)
        rc = 1;
    fetchState = HIVE_FETCH_NONE;
    rowsLeft = 0;
    moreRows = 0;
    columnPosition = 0;
    resultState = HIVE_RESULT_NONE;
    if (closeOperationWhenFree() != 0)
        rc = 1;
    return rc;
}

int16_t HiveStatement::closeOperationWhenFree() noexcept
{
    if (!communicator->hasOperation())
        return 0;
    // Another statement's reply is on the wire: writing now would read
    // that reply as ours, and leaving the operation open would leak it on
    // the server until the session ends.
    HiveStatement* owner = wireOwnerOf(hiveConnection());
    if (owner != nullptr && owner != this)
        return communicator->queueClose() != 0 ? 1 : 0;
    return communicator->closeCurrentOperation() != 0 ? 1 : 0;
}

int16_t HiveStatement::moreResultsHook(int16_t* noMoreResults) noexcept
{
    *noMoreResults = 1;
    if (resultState == HIVE_RESULT_OPEN || resultState == HIVE_RESULT_OPEN_ON_CACHE)
        return closeResult();
    return 0;
}

int16_t HiveStatement::getRowCount(int64_t* count) noexcept
{
    *count = hiveRowCount;
    return 0;
}

int16_t HiveStatement::closeCursorHook() noexcept
{
    executedForDescribe = false;
    if (resultState == HIVE_RESULT_NONE)
        return 0;
    // The cursor is closed here whatever becomes of the server's operation:
    // a close that did not reach the server (a lost connection) is a
    // warning, so that the application can go on with the statement.
    const KaDiagMark mark;
    if (closeResult() != 0)
        mark.demote();
    return 0;
}

int16_t HiveStatement::freeResultsHook(bool drop) noexcept
{
    pollFlag = false;
    closeAfterExecute = false;
    int16_t rc = 0;
    if (drop && resultState == HIVE_RESULT_NONE && communicator != nullptr && communicator->hasOperation())
        rc = closeOperationWhenFree();
    if (drop) {
        // The statement is deleted after its call has left the connection's
        // lock: what it holds of the shared wire goes now, under the lock.
        if (ownsWire)
            static_cast<void>(dropPendingReply());
        releaseParkedReply();
    }
    return rc;
}

// ---- Cancel and attributes ------------------------------------------------------------

int16_t HiveStatement::cancelAsync() noexcept
{
    // Asked only while the statement waits for data at execution: nothing of
    // it runs at the server yet, and another statement may own the wire.
    return 0;
}

void HiveStatement::cancelRunning() noexcept
{
    // Another thread's call holds the wire: only a flag may be set here.
    // The running execute sends the cancel at its next poll; a call past its
    // polls (a fetch) runs to its end.
    cancelPending.store(1);
}

// The driver simulates no cursors: SQL_ATTR_SIMULATE_CURSOR is refused both
// ways; every other attribute is the framework's.
int16_t HiveStatement::getStmtAttrHook(int32_t attribute, void* value, int32_t bufferLength,
                                       int32_t* stringLength) noexcept
{
    if (attribute == SQL_ATTR_SIMULATE_CURSOR) {
        basePostError(MSG_SQLSTATE_OPTIONAL_FEATURE);
        return 1;
    }
    return BaseStatement::getStmtAttrHook(attribute, value, bufferLength, stringLength);
}

int16_t HiveStatement::setStmtAttrHook(int32_t attribute, void* value, int32_t length) noexcept
{
    if (attribute == SQL_ATTR_SIMULATE_CURSOR) {
        basePostError(MSG_SQLSTATE_OPTIONAL_FEATURE);
        return 1;
    }
    return BaseStatement::setStmtAttrHook(attribute, value, length);
}

// ---- Describe before execution --------------------------------------------------------

int16_t HiveStatement::describeStatement() noexcept
{
    if (resultDescribed)
        return 0;
    if (preparedKind != HIVE_KIND_SELECT) {
        resultColumnCount = 0;
        resultDescribed = true;
        return 0;
    }
    if (markerCount == 0) {
        if (executeHook() != 0)
            return 1;
        executedForDescribe = true;
        return 0;
    }
    return describeWithParameters();
}

int16_t HiveStatement::describeWithParameters() noexcept
{
    if (sqlText == nullptr || sqlTextLength == 0) {
        errPost(MSG_HIVE_DESCRIBE_FAILED)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)->addParamText("SQL is NULL");
        return 1;
    }
    // Every marker becomes NULL: the query's columns do not depend on it.
    BaseSqlStringW analysed(sqlText, static_cast<int64_t>(sqlTextLength));
    static_cast<void>(analysed.getStatementKind());
    KaStringW rewritten;
    if (analysed.scanClauses(kSqlRecordMarkers, nullptr) != 0 ||
        analysed.substituteParameters(rewritten, nullMarkerCallback, nullptr, 0) != 0) {
        errPost(MSG_HIVE_DESCRIBE_FAILED)
            ->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)
            ->addParamText("Error building describe statement");
        return 1;
    }
    char alias[kHiveDescribeAliasSize];
    if (hiveDescribeAlias(rewritten.data, rewritten.len, alias) != 0) {
        errPost(MSG_HIVE_DESCRIBE_FAILED)
            ->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)
            ->addParamText("Error building subquery name.");
        return 1;
    }
    KaStringW query;
    if (query.appendNarrow("SELECT * FROM (", 15) || query.append(rewritten.data, rewritten.len) ||
        query.appendNarrow(") ", 2) || query.appendNarrow(alias, std::strlen(alias)) ||
        query.appendNarrow(" where 0=1", 10))
        return 1;
    // The describe query's own result is closed by the next execution.
    const bool savedClose = closeAfterExecute;
    const int16_t rc = executeText(query.data, query.len);
    closeAfterExecute = savedClose;
    return rc;
}
