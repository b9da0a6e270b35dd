// Execute: SQLExecute and SQLExecDirect through the execute core, which runs
// the prepared text once per row of the application's parameter array,
// hands each parameter value to the driver and keeps the per-row statuses
// and the row count; SQLRowCount and SQLMoreResults.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/basecvt.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "kamessages.h"
#include "foundation/kastringw.h"
#include "odbc/basealias.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basedescribe.h"
#include "odbc/basemultirow.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "sql/basesql.h"

namespace {

// Address of row `row` of a bound parameter array element: row-wise by the
// row size, column-wise by the element size.
template <typename T>
T* rowAddress(T* base, int64_t offset, int64_t rowSize, int64_t elementSize, int64_t row) noexcept
{
    if (base == nullptr)
        return nullptr;
    const int64_t step = rowSize != SQL_PARAM_BIND_BY_COLUMN ? rowSize : elementSize;
    return reinterpret_cast<T*>(reinterpret_cast<uint8_t*>(base) + offset + row * step);
}

}  // namespace

void BaseStatement::resetFetchPosition() noexcept
{
    currentRow = 0;
    rowsetPosition = 0;
    rowsetRowCount = 0;
    endOfDataReached = false;
    lastRowCache = -1;
    lastPositionedRow = 0;
    getDataColumn = 0;
    getDataColumnDone = false;
    getDataConsumed = 0;
    // A closed cursor keeps no copy of its rows.
    releaseRowCache();
}

void BaseStatement::setExecutedState() noexcept
{
    extendedFetchMode = false;
    setExecState(kBaseStmtExecuted);
    preparedSinceExecute = false;
    if (resultColumnCount == 0)
        return;
    setExecState(kBaseStmtCursorOpen);
    resetFetchPosition();
    extendedFetchStatusArray = nullptr;
    fullGetDataPath =
        attributeValues[kBaseAttrMaxLength] != 0 || executionMode == kBaseExecCatalog || baseStaticCursorEmulated(this);
}

// An emulated static cursor reads its whole result now, while the driver
// still stands before the first row.
static int16_t fillStaticCursor(BaseStatement* stmt) noexcept
{
    if (stmt->resultColumnCount == 0 || !stmt->resultDescribed || stmt->executionMode == kBaseExecCatalog ||
        !baseStaticCursorEmulated(stmt))
        return 0;
    return stmt->fillRowCache();
}

// handOverParam's answer for a value sent at execution.
constexpr int16_t kHandOverNeedsData = 2;

// One parameter of the current row handed to the driver; 0, 1 with the
// diagnostic posted, or kHandOverNeedsData with needDataParam set.
static int16_t handOverParam(BaseStatement* stmt, uint16_t p, int64_t row) noexcept
{
    BaseIPDRecord* ipdRec = stmt->ipd != nullptr ? stmt->ipd->ipdRecord(p) : nullptr;
    BaseAXD* apd = stmt->currentApd;
    BaseAXDRecord* apdRec = apd != nullptr && p <= apd->count() ? apd->axdRecord(p) : nullptr;
    if (ipdRec == nullptr || apdRec == nullptr ||
        (apdRec->dataPtr == nullptr && apdRec->indicatorPtr == nullptr && apdRec->octetLengthPtr == nullptr)) {
        // The marker has no bound value.
        basePostError(kBaseIdxCountField)->addParamUnsigned(p);
        return 1;
    }
    if (ipdRec->paramType == SQL_PARAM_OUTPUT)
        return 0;
    if (ipdRec->checked == 0 && stmt->validateParamBinding(p, apdRec, ipdRec, true) != 0)
        return 1;
    int16_t cType = apdRec->conciseType;
    if (cType == SQL_C_DEFAULT)
        cType = baseDefaultCType(ipdRec->conciseType, 0);
    const int64_t offset = apd->bindOffsetPtr != nullptr ? *apd->bindOffsetPtr : 0;
    const int64_t rowSize = apd->bindType;
    // A fixed-size value strides by its own size, whatever the octet length.
    const int64_t fixed = baseFixedCTypeSize(cType);
    int64_t element = fixed != 0 ? fixed : apdRec->octetLength;
    if (element <= 0)
        element = 1;
    void* data = rowAddress(static_cast<uint8_t*>(apdRec->dataPtr), offset, rowSize, element, row);
    int64_t* indicator = rowAddress(apdRec->indicatorPtr, offset, rowSize, sizeof(SQLLEN), row);
    int64_t* octets = rowAddress(apdRec->octetLengthPtr, offset, rowSize, sizeof(SQLLEN), row);
    // Row-wise arrays need not align their length elements.
    int64_t v = SQL_NTS;
    int64_t flag = 0;
    if (indicator != nullptr)
        std::memcpy(&flag, indicator, sizeof flag);
    if (indicator != nullptr && flag == SQL_NULL_DATA)
        v = SQL_NULL_DATA;
    else if (octets != nullptr)
        std::memcpy(&v, octets, sizeof v);
    if (v == SQL_DEFAULT_PARAM) {
        basePostError(kBaseIdxDefaultParam);
        return 1;
    }
    if (v == SQL_DATA_AT_EXEC || v <= SQL_LEN_DATA_AT_EXEC_OFFSET) {
        // The value comes through SQLParamData and SQLPutData. A long
        // value's announced length bounds it; without one its column size
        // in characters does (0: no bound).
        const int16_t t = ipdRec->conciseType;
        if (t == SQL_LONGVARCHAR || t == SQL_WLONGVARCHAR || t == SQL_LONGVARBINARY) {
            const int64_t size = ipdRec->length > INT64_MAX / 4 ? INT64_MAX / 4 : static_cast<int64_t>(ipdRec->length);
            if (v <= SQL_LEN_DATA_AT_EXEC_OFFSET && apdRec->octetLength != -1)
                ipdRec->dataAtExecLimit = SQL_LEN_DATA_AT_EXEC_OFFSET - v;
            else
                ipdRec->dataAtExecLimit = t == SQL_LONGVARBINARY ? size : size * 4;
        }
        ipdRec->dataAtExecLength = 0;
        stmt->needDataParam = p;
        return kHandOverNeedsData;
    }
    if (v != SQL_NULL_DATA) {
        if (data == nullptr) {
            basePostError(kBaseIdxCountField)->addParamUnsigned(p);
            return 1;
        }
        if (fixed != 0) {
            // A fixed-size value is its type's size: applications may bind
            // it without a length buffer, which reads as SQL_NTS.
            v = fixed;
        } else if (v < 0) {
            if (v != SQL_NTS || (cType != SQL_C_CHAR && cType != SQL_C_WCHAR && cType != SQL_C_BINARY)) {
                basePostError(kBaseIdxBadLength);
                return 1;
            }
            if (cType == SQL_C_BINARY) {
                basePostError(kBaseIdxBadLength);
                return 1;
            }
            const int32_t width = cType == SQL_C_WCHAR ? 2 : 1;
            v = baseTerminatedLength(data, width);
        } else if (cType != SQL_C_CHAR && cType != SQL_C_WCHAR && cType != SQL_C_BINARY) {
            v = apdRec->octetLength;
        }
    }
    // A changed parameter description since the preparation is taken as
    // it now stands: drivers that re-execute with longer values do this all
    // the time.
    ipdRec->savedParamType = ipdRec->paramType;
    ipdRec->savedConciseType = ipdRec->conciseType;
    ipdRec->savedPrecision = ipdRec->precision;
    ipdRec->savedScale = ipdRec->scale;
    const uint16_t marker = stmt->returnValueParam ? static_cast<uint16_t>(p - 1) : p;
    const KaDiagMark mark;
    const int16_t rc = stmt->setParamValue(marker, data, v, 0);
    if (mark.posted() != 0)
        baseAnnotateDiagnostics(mark.start(), MSG_PARAMETER_ROW, static_cast<uint64_t>(row + 1));
    if (rc != 0)
        return rc;
    // Select failover runs the query again with the values of this
    // execution, whatever the application's buffers hold by then.
    if (BaseAXDRecord* kept = stmt->replayParamRecord(p); kept != nullptr)
        return stmt->saveParamForReplay(kept, apdRec, v, offset);
    return 0;
}

int16_t BaseStatement::executeCore(uint16_t firstParamDone, int16_t* needData, int16_t* rowsAffected) noexcept
{
    if (needData != nullptr)
        *needData = 0;
    if (rowsAffected != nullptr)
        *rowsAffected = 0;
    BaseAXD* apd = currentApd;
    int64_t n = apd != nullptr ? apd->arraySize : 1;
    if (n <= 0)
        n = 1;
    if (markerCount == 0)
        n = 1;
    uint16_t* statuses = ipd != nullptr ? ipd->arrayStatusPtr : nullptr;
    uint64_t* processed = ipd != nullptr ? ipd->rowsProcessedPtr : nullptr;
    const uint16_t* operations = apd != nullptr ? apd->arrayStatusPtr : nullptr;
    // A call from data at execution goes on in the row it stopped in.
    const bool resuming = firstParamDone != 0;
    const int64_t firstRow = resuming ? currentParamRow : 0;
    if (!resuming) {
        rowCount = 0;
        rowCountValid = false;
        paramRowsDone = 0;
        if (processed != nullptr)
            *processed = 0;
    }
    bool anySucceeded = resuming && paramRowsDone != 0;
    KaErrorList* list = KaErrorCurrentList();
    if (!resuming) {
        // The driver may gather the rows into multi-row INSERT batches.
        multiRowInsert = nullptr;
        multiRowInsertMode = beginMultiRowInsert() & 3;
        if (multiRowInsertMode != 1 || multiRowInsert == nullptr || markerCount == 0) {
            multiRowInsertMode = 0;
            multiRowInsert = nullptr;
        }
        startInsertBatches();
        for (int64_t k = 0; multiRowInsertMode == 1 && statuses != nullptr && k < n; ++k)
            statuses[k] = SQL_PARAM_UNUSED;
        // A parameter array is never run again by select failover; a
        // single-row query keeps its values for that.
        executedKind = statementKind;
        replayable = n > 1 ? 0 : 1;
        savingParams = false;
        if (connection != nullptr && connection->failoverMode == 2 && statementKind == KA_STMT_SELECT &&
            replayable == 1 && (failoverState == kBaseFailoverNone || failoverState == kBaseFailoverReported) &&
            markerCount != 0) {
            if (makeReplayParamCopy() != 0)
                return 1;
            savingParams = savedApd != nullptr;
        }
    }
    for (int64_t r = firstRow; r < n; ++r) {
        currentParamRow = r;
        if (operations != nullptr && operations[r] == SQL_PARAM_IGNORE) {
            if (statuses != nullptr)
                statuses[r] = SQL_PARAM_UNUSED;
            continue;
        }
        const KaDiagMark mark;
        bool failed = false;
        for (uint16_t p = static_cast<uint16_t>(firstParamDone + 1); p <= markerCount && !failed; ++p) {
            const int16_t rc = handOverParam(this, p, r);
            if (rc == kHandOverNeedsData) {
                if (multiRowInsertMode == 1) {
                    // Values sent at execution go row by row: the complete
                    // rows gathered so far are sent first.
                    const int16_t sent = finishInsertBatches(-1, r);
                    multiRowInsertMode = 0;
                    multiRowInsert = nullptr;
                    rowCount = insertRowsCounted;
                    rowCountValid = true;
                    anySucceeded = anySucceeded || insertAnySucceeded;
                    if (sent != 0) {
                        failed = true;
                        break;
                    }
                }
                if (needData != nullptr)
                    *needData = 1;
                setExecState(kBaseStmtNeedData);
                return 0;
            }
            failed = rc != 0;
        }
        firstParamDone = 0;
        if (multiRowInsertMode == 1) {
            ++paramRowsDone;
            if (processed != nullptr)
                *processed = static_cast<uint64_t>(paramRowsDone);
            if (failed)
                return finishMultiRowInsert(r, n, rowsAffected);
            continue;
        }
        if (!failed)
            failed = executeHook() != 0;
        if (!failed && reentryPending)
            return 0;
        if (statuses != nullptr)
            statuses[r] = failed               ? SQL_PARAM_ERROR
                          : mark.posted() != 0 ? SQL_PARAM_SUCCESS_WITH_INFO
                                               : SQL_PARAM_SUCCESS;
        ++paramRowsDone;
        if (processed != nullptr)
            *processed = static_cast<uint64_t>(paramRowsDone);
        if (failed) {
            // The first failing row ends the array; the rows after it are
            // not run.
            for (int64_t k = r + 1; statuses != nullptr && k < n; ++k)
                statuses[k] = SQL_PARAM_UNUSED;
            if (!anySucceeded)
                return 1;
            if (list != nullptr)
                list->demoteAll();
            break;
        }
        anySucceeded = true;
        // Input-output bindings the driver ran as input give NULL back.
        for (uint16_t p = 1; nullOutputParams && p <= markerCount; ++p) {
            const BaseIPDRecord* rec = ipd != nullptr ? ipd->ipdRecord(p) : nullptr;
            if (rec != nullptr && rec->downgraded != 0 && convertOutputParam(p, nullptr, SQL_NULL_DATA, 0) != 0)
                return 1;
        }
        if (rerunAfterExecute)
            return 0;
        uint16_t columns = 0;
        if (getResultColumnCount(&columns) != 0)
            return 1;
        fixColumnSizes();
        setExecutedState();
        if (columns != 0) {
            if (cursorName == nullptr && generateCursorName() != 0)
                return 1;
            continue;
        }
        int64_t count = 0;
        if (getRowCount(&count) != 0)
            return 1;
        baseAddRowCount(&rowCount, count);
        rowCountValid = true;
        if (count != 0 && rowsAffected != nullptr)
            *rowsAffected = 1;
    }
    if (multiRowInsertMode == 1)
        return finishMultiRowInsert(-1, n, rowsAffected);
    currentParamRow = 0;
    return fillStaticCursor(this);
}

int16_t BaseStatement::finishMultiRowInsert(int64_t failedRow, int64_t n, int16_t* rowsAffected) noexcept
{
    const int16_t rc = finishInsertBatches(failedRow, n);
    uint16_t* statuses = ipd != nullptr ? ipd->arrayStatusPtr : nullptr;
    // The first failing row ends the array, as it does row by row.
    for (int64_t k = failedRow + 1; failedRow >= 0 && statuses != nullptr && k < n; ++k)
        statuses[k] = SQL_PARAM_UNUSED;
    multiRowInsertMode = 0;
    multiRowInsert = nullptr;
    currentParamRow = 0;
    KaErrorList* list = KaErrorCurrentList();
    if (rc != 0 && !insertAnySucceeded)
        return 1;
    if (rc != 0 && list != nullptr)
        list->demoteAll();
    fixColumnSizes();
    setExecutedState();
    rowCount = insertRowsCounted;
    rowCountValid = true;
    if (insertRowsCounted != 0 && rowsAffected != nullptr)
        *rowsAffected = 1;
    return 0;
}

int16_t BaseStatement::execute() noexcept
{
    return runFunction(SQL_API_SQLEXECUTE, [&]() -> int16_t {
        if (statementState == kBaseStmtCursorOpen) {
            basePostError(kBaseIdxCursorState);
            return SQL_ERROR;
        }
        if (statementState == kBaseStmtAllocated || statementState == kBaseStmtNeedData ||
            statementState == kBaseStmtMustPutData || statementState == kBaseStmtPuttingData) {
            basePostError(kBaseIdxSequence);
            return SQL_ERROR;
        }
        rerunAfterExecute = false;
        int16_t needData = 0;
        if (executeCore(0, &needData, nullptr) != 0)
            return SQL_ERROR;
        if (reentryPending)
            return SQL_STILL_EXECUTING;
        return needData != 0 ? SQL_NEED_DATA : SQL_SUCCESS;
    });
}

int16_t BaseStatement::execDirect(const uint16_t* text, int32_t length) noexcept
{
    return runFunction(SQL_API_SQLEXECDIRECT, [&]() -> int16_t {
        if (text == nullptr) {
            basePostError(kBaseIdxNullPointer);
            return SQL_ERROR;
        }
        if (length < 0 && length != SQL_NTS) {
            basePostError(kBaseIdxBadLength);
            return SQL_ERROR;
        }
        if (statementState == kBaseStmtCursorOpen) {
            basePostError(kBaseIdxCursorState);
            return SQL_ERROR;
        }
        if (statementState != kBaseStmtAllocated && resetStatement() != 0)
            return SQL_ERROR;
        executionMode = kBaseExecDirect;
        rerunAfterExecute = false;
        KaStringW aliased;
        int64_t n = length;
        if (connection != nullptr && connection->numericLiteralAliasing != 0) {
            if (n == SQL_NTS)
                for (n = 0; text[n] != 0; ++n) {
                }
            bool unchanged = true;
            if (baseAliasNumericLiterals(text, n, &aliased, &unchanged) != 0)
                return SQL_ERROR;
            if (!unchanged) {
                text = aliased.data;
                n = static_cast<int64_t>(aliased.len);
            }
        }
        BaseSqlStringW sql(text, n);
        if (prepareInternal(&sql) != 0)
            return SQL_ERROR;
        int16_t needData = 0;
        if (executeCore(0, &needData, nullptr) != 0) {
            (void)resetStatement();
            return SQL_ERROR;
        }
        if (reentryPending)
            return SQL_STILL_EXECUTING;
        return needData != 0 ? SQL_NEED_DATA : SQL_SUCCESS;
    });
}

int16_t BaseStatement::rowCountApi(int64_t* count) noexcept
{
    return runFunction(SQL_API_SQLROWCOUNT, [&]() -> int16_t {
        if (count == nullptr)
            return SQL_SUCCESS;
        if (statementState != kBaseStmtExecuted && statementState != kBaseStmtCursorOpen) {
            basePostError(kBaseIdxSequence);
            return SQL_ERROR;
        }
        if (resultColumnCount != 0) {
            *count = rowCountValid ? rowCount : -1;
        } else {
            const bool asOne = connection != nullptr && (connection->workarounds & kBaseWaUnknownRowCountIsOne) != 0;
            *count = rowCount == -1 && asOne ? 1 : rowCount;
        }
        return SQL_SUCCESS;
    });
}

int16_t BaseStatement::moreResults() noexcept
{
    return runFunction(SQL_API_SQLMORERESULTS, [&]() -> int16_t {
        if (statementState != kBaseStmtExecuted && statementState != kBaseStmtCursorOpen)
            return SQL_NO_DATA;
        int16_t noMore = 1;
        if (executionMode != kBaseExecCatalog) {
            paramRowsDone = 0;
            currentParamRow = 0;
            if (moreResultsHook(&noMore) != 0)
                return SQL_ERROR;
            if (reentryPending)
                return SQL_STILL_EXECUTING;
        }
        if (noMore != 0) {
            rowCount = 0;
            if ((executionMode == kBaseExecPrepared ? closeCursor() : resetStatement()) != 0)
                return SQL_ERROR;
            return SQL_NO_DATA;
        }
        uint16_t columns = 0;
        if (getResultColumnCount(&columns) != 0)
            return SQL_ERROR;
        int64_t count = 0;
        if (getRowCount(&count) != 0)
            return SQL_ERROR;
        rowCount = count;
        rowCountValid = true;
        setExecutedState();
        if (columns != 0 && cursorName == nullptr && generateCursorName() != 0)
            return SQL_ERROR;
        if (fillStaticCursor(this) != 0)
            return SQL_ERROR;
        return SQL_SUCCESS;
    });
}
