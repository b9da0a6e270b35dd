// SQLSetPos and SQLBulkOperations: the checks of a call, the work loop over
// the rows it names, and the two ways of doing a row operation: through the
// driver's row hooks, or by an INSERT, or an UPDATE or DELETE WHERE CURRENT
// OF the cursor, that a work statement of the same connection runs with the
// row's bound buffers as its parameters.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/basecvt.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kastringw.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basecatalog.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basecursorcaps.h"
#include "odbc/basedescribe.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "sql/basesql.h"
#include "sql/kascanne.h"

namespace {

// The driver's capability bit of each operation, SQL_POSITION to SQL_ADD;
// the framework's is the same bit shifted.
constexpr uint64_t kNativeBits[] = {kBaseCapPosition, kBaseCapRefresh, kBaseCapUpdate, kBaseCapDelete, kBaseCapAdd};
// Lock types SQL_LOCK_NO_CHANGE, SQL_LOCK_EXCLUSIVE, SQL_LOCK_UNLOCK.
constexpr uint64_t kLockBits[] = {kBaseCapLockNoChange | kBaseCapEmulatedLockNoChange, kBaseCapLockExclusive,
                                  kBaseCapLockUnlock};
// Every operation bit, native or emulated.
constexpr uint64_t kNativeOperations =
    kBaseCapUpdate | kBaseCapDelete | kBaseCapRefresh | kBaseCapPosition | kBaseCapAdd;
constexpr uint64_t kAnyOperation = kNativeOperations | (kNativeOperations << kBaseCapEmulatedShift);
constexpr uint64_t kPositionOrRefresh =
    kBaseCapPosition | kBaseCapRefresh | kBaseCapEmulatedPosition | kBaseCapEmulatedRefresh;
constexpr uint64_t kAnyAdd = kBaseCapAdd | kBaseCapEmulatedAdd;

// The longest table name the emulation writes into its text, in UTF-16 units.
constexpr size_t kMaxEmulatedTableName = 256;
// Room for a converted column value of a fixed-size C type; character and
// binary values get room from their length.
constexpr int64_t kColumnValueRoom = 512;
// The most bytes one byte of a character or binary value can become when
// converted for its column: hexadecimal digits take two, a single-byte
// character up to three of UTF-8 or four of UTF-32.
constexpr int64_t kMaxConversionGrowth = 4;

// What a call left waiting (setPosPending).
constexpr int32_t kPendingNone = 0;
constexpr int32_t kPendingColumn = 1;  // a native operation waits for a column value
constexpr int32_t kPendingWork = 2;    // the work statement waits for a parameter value
constexpr int32_t kPendingProbe = 3;   // the driver is still positioning the row

// How the work on one row ended.
enum class RowOutcome { done, failed, refused, skipped, stop, waits };

bool changesRows(uint16_t operation) noexcept
{
    return operation == SQL_UPDATE || operation == SQL_DELETE || operation == SQL_ADD;
}

// The rowset size: SQL_ROWSET_SIZE after SQLExtendedFetch, else the ARD's
// array size; at least 1.
int64_t rowsetSizeOf(const BaseStatement* stmt) noexcept
{
    int64_t n = stmt->extendedFetchMode ? stmt->attributeValues[kBaseAttrRowsetSize]
                                        : (stmt->currentArd != nullptr ? stmt->currentArd->arraySize : 1);
    return n > 0 ? n : 1;
}

bool lockRows(const BaseStatement* stmt) noexcept
{
    return stmt->forUpdateClause || stmt->attributeValues[kBaseAttrConcurrency] == SQL_CONCUR_LOCK;
}

// Where a bound column's value of rowset row `index` is, as the fetch moves
// rows into it: by the bind offset and one row step per row.
struct BoundValue {
    int16_t cType = SQL_C_DEFAULT;
    void* data = nullptr;
    int64_t* octets = nullptr;
    int64_t* indicator = nullptr;
    int64_t length = SQL_NTS;  // from the indicator or octet length
};

BoundValue boundValue(const BaseStatement* stmt, const BaseAXDRecord* rec, int16_t sqlType, int64_t index) noexcept
{
    BoundValue v;
    const BaseAXD* ard = stmt->currentArd;
    const int64_t offset = ard != nullptr && ard->bindOffsetPtr != nullptr ? *ard->bindOffsetPtr : 0;
    const int64_t rowSize = ard != nullptr ? ard->bindType : 0;
    v.cType = rec->conciseType == SQL_C_DEFAULT ? baseDefaultCType(sqlType, 0) : rec->conciseType;
    const int64_t fixed = baseFixedCTypeSize(v.cType);
    const int64_t stride = rowSize != SQL_BIND_BY_COLUMN ? rowSize : fixed != 0 ? fixed : rec->octetLength;
    const int64_t lengthStride = rowSize != SQL_BIND_BY_COLUMN ? rowSize : static_cast<int64_t>(sizeof(SQLLEN));
    if (rec->dataPtr != nullptr)
        v.data = static_cast<uint8_t*>(rec->dataPtr) + offset + index * stride;
    auto shift = [&](int64_t* p) noexcept {
        return p == nullptr ? nullptr
                            : reinterpret_cast<int64_t*>(reinterpret_cast<uint8_t*>(p) + offset + index * lengthStride);
    };
    v.octets = shift(rec->octetLengthPtr);
    v.indicator = shift(rec->indicatorPtr);
    // Row-wise arrays need not align their length elements.
    int64_t flag = 0;
    if (v.indicator != nullptr)
        std::memcpy(&flag, v.indicator, sizeof flag);
    if (v.indicator != nullptr && flag == SQL_NULL_DATA)
        v.length = SQL_NULL_DATA;
    else if (v.octets != nullptr)
        std::memcpy(&v.length, v.octets, sizeof v.length);
    return v;
}

bool dataAtExecution(int64_t length) noexcept
{
    return length == SQL_DATA_AT_EXEC || length <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}

// A negative length that is none of the ones a bound value may carry.
bool badLength(int64_t length) noexcept
{
    return length < 0 && length != SQL_NULL_DATA && length != SQL_NTS && length != SQL_COLUMN_IGNORE &&
           !dataAtExecution(length);
}

bool isTextOrBinaryCType(int16_t t) noexcept
{
    return t == SQL_C_CHAR || t == SQL_C_WCHAR || t == SQL_C_BINARY;
}

// A value of cType and `length` bytes converted for column `column` and
// handed to the driver. The room follows the value: a character or binary
// value may grow when it becomes the column's text or bytes.
int16_t sendConverted(BaseStatement* stmt, uint16_t column, int16_t cType, const void* data, int64_t length) noexcept
{
    BaseSetPosValue value{nullptr, SQL_NULL_DATA, 0, 1};
    if (length == SQL_NULL_DATA)
        return stmt->setPosColumnData(column, &value);
    int64_t room = kColumnValueRoom;
    if (isTextOrBinaryCType(cType) && length > (kColumnValueRoom - 16) / kMaxConversionGrowth)
        room = length > (INT64_MAX - 16) / kMaxConversionGrowth ? INT64_MAX : length * kMaxConversionGrowth + 16;
    RamPtr<uint8_t> buffer = ramMake<uint8_t>(static_cast<size_t>(room));
    if (!buffer)
        return 1;
    int32_t kind = 0;
    int64_t produced = 0;
    const int16_t rc = stmt->convertToColumnType(column, cType, data, length, buffer.get(), &kind, &produced, room);
    if (rc != 0)
        return rc;
    value = {buffer.get(), produced, kind, 0};
    return stmt->setPosColumnData(column, &value);
}

// The table a cursor's text reads: the tokens after the first FROM up to a
// clause word, the end, or a token followed by a space (which still belongs
// to the name). Empty without FROM.
int16_t tableNameOf(const uint16_t* sql, int64_t length, KaStringW* name) noexcept
{
    if (sql == nullptr || length <= 0)
        return 0;
    static const char* const kEnds[] = {"WHERE", "ORDER", "FOR", "GROUP", "INTERSECT", "MINUS", "HAVING"};
    KaScannerW scanner(sql, static_cast<uint64_t>(length));
    KaTokenW token;
    bool inName = false;
    for (;;) {
        scanner.nextToken(token, KA_SCAN_PLAIN);
        if (token.kind == KA_TOKEN_END || token.kind == KA_TOKEN_NONE)
            return 0;
        if (!inName) {
            inName = sqlWordIs(token, "FROM");
            continue;
        }
        for (const char* end : kEnds)
            if (sqlWordIs(token, end))
                return 0;
        if (name->append(token.data, token.len) != 0)
            return 1;
        const auto after = static_cast<uint64_t>(token.start) + token.len;
        if (after < static_cast<uint64_t>(length) && sql[after] == u' ')
            return 0;
    }
}

int appendAscii(KaStringW* out, const char* text) noexcept
{
    return out->appendNarrow(text, std::strlen(text));
}

// The identifier quote character of the connection; a space when it has none.
uint16_t quoteCharOf(BaseConnection* conn) noexcept
{
    uint16_t text[8] = {};
    int16_t length = 0;
    if (conn == nullptr || conn->getInfoValue(SQL_IDENTIFIER_QUOTE_CHAR, text, sizeof text, &length) != SQL_SUCCESS)
        return u' ';
    return text[0] != 0 ? text[0] : u' ';
}

void freeWork(BaseStatement* work) noexcept
{
    if (work == nullptr)
        return;
    (void)work->resetStatement(true, 0);
    delete work;
}

// The outcome of a work statement that finished its execution: the cursor
// is open again and, for UPDATE and DELETE, the row count is the work's.
void completeEmulation(BaseStatement* stmt, BaseStatement* work, uint16_t operation, int16_t* rowsAffected) noexcept
{
    const bool failover = stmt->connection != nullptr && stmt->connection->failoverMode != 0;
    if (failover)
        stmt->setExecState(kBaseStmtCursorOpen);
    else
        stmt->statementState = kBaseStmtCursorOpen;
    if (operation != SQL_ADD) {
        stmt->rowCount = work->rowCount;
        stmt->rowCountValid = true;
        if (rowsAffected != nullptr && work->rowCountValid && work->rowCount != 0)
            *rowsAffected = 1;
    }
    freeWork(work);
}

// One emulated operation on rowset row `index`.
int16_t runEmulation(BaseStatement* stmt, int64_t index, uint16_t operation, int16_t* needData,
                     int16_t* rowsAffected) noexcept
{
    *needData = 0;
    if (rowsAffected != nullptr)
        *rowsAffected = 0;
    // The work statement waited for data and has finished since.
    if (stmt->setPosWork != nullptr) {
        BaseStatement* work = stmt->setPosWork;
        stmt->setPosWork = nullptr;
        if (stmt->setPosWorkFailed) {
            stmt->statementState = kBaseStmtCursorOpen;
            freeWork(work);
            return 1;
        }
        completeEmulation(stmt, work, operation, rowsAffected);
        return 0;
    }
    BaseConnection* conn = stmt->connection;
    BaseStatement* work = nullptr;
    if (conn == nullptr || conn->createStatement(&work) != 0 || work == nullptr)
        return 1;
    work->charCodePage = stmt->charCodePage;
    work->conversionSettings = stmt->conversionSettings;
    KaStringW text;
    if (stmt->buildEmulationText(work, index, operation, &text) != 0) {
        freeWork(work);
        return 1;
    }
    BaseSqlStringW sql(text.data, static_cast<int64_t>(text.len));
    // The positioned statement finds this cursor updatable while it is
    // prepared.
    const bool forUpdate = stmt->forUpdateClause;
    if (operation != SQL_ADD)
        stmt->forUpdateClause = true;
    const int16_t prepared = work->prepareInternal(&sql);
    stmt->forUpdateClause = forUpdate;
    if (prepared != 0) {
        freeWork(work);
        return 1;
    }
    int16_t need = 0;
    if (work->executeCore(0, &need, nullptr) != 0) {
        freeWork(work);
        return 1;
    }
    if (need != 0) {
        stmt->setPosWork = work;
        stmt->setPosWorkFailed = false;
        stmt->setPosDataAtExec = true;
        stmt->statementState = kBaseStmtNeedData;
        stmt->needDataParam = work->needDataParam;
        *needData = 1;
        return 0;
    }
    completeEmulation(stmt, work, operation, rowsAffected);
    return 0;
}

// The refusals of SQLSetPos before the driver is asked, in their order.
int16_t checkSetPos(BaseStatement* stmt, uint64_t row, uint16_t operation, uint16_t lockType) noexcept
{
    if (operation != SQL_ADD && (stmt->currentRow == 0 || stmt->currentRow == -1)) {
        basePostError(kBaseIdxCursorState);
        return 1;
    }
    if (stmt->attributeValues[kBaseAttrCursorType] == SQL_CURSOR_FORWARD_ONLY && operation != SQL_ADD) {
        basePostErrorMsg(kBaseIdxCursorPosition, MSG_SETPOS_FORWARD_ONLY);
        return 1;
    }
    const uint64_t caps = baseCursorCapabilities(stmt);
    if (operation > SQL_ADD ||
        (caps & (kNativeBits[operation] | kNativeBits[operation] << kBaseCapEmulatedShift)) == 0 ||
        lockType > SQL_LOCK_UNLOCK || (caps & kLockBits[lockType]) == 0) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    if (changesRows(operation)) {
        if (stmt->attributeValues[kBaseAttrConcurrency] == SQL_CONCUR_READ_ONLY) {
            basePostErrorMsg(MSG_SQLSTATE_INVALID_ATTRIBUTE_IDENTIFIER, MSG_SETPOS_READ_ONLY_CURSOR);
            return 1;
        }
        if (stmt->executionMode == kBaseExecCatalog) {
            basePostError(kBaseIdxNotSupported);
            return 1;
        }
    }
    stmt->refreshBoundColumns();
    if (stmt->highestBoundColumn == 0 && (operation == SQL_ADD || operation == SQL_UPDATE)) {
        basePostErrorMsg(MSG_SQLSTATE_DEGREE_MISMATCH, MSG_SETPOS_NO_BOUND_COLUMN);
        return 1;
    }
    if (row == 0 && operation == SQL_POSITION) {
        basePostError(kBaseIdxCursorPosition);
        return 1;
    }
    if (operation != SQL_ADD && row > stmt->rowsetRowCount) {
        basePostError(kBaseIdxRowValue);
        return 1;
    }
    return 0;
}

// What every SetPos call needs first: a result, and no data at execution
// under way.
int16_t checkCursor(BaseStatement* stmt) noexcept
{
    const int32_t state = stmt->statementState;
    if (state == kBaseStmtNeedData || state == kBaseStmtMustPutData || state == kBaseStmtPuttingData) {
        basePostError(kBaseIdxSequence);
        return 1;
    }
    if (state != kBaseStmtCursorOpen) {
        basePostError(state == kBaseStmtExecuted ? kBaseIdxCursorState : kBaseIdxSequence);
        return 1;
    }
    return 0;
}

// The work loop run for a call and its answer.
int16_t runSetPos(BaseStatement* stmt, uint16_t resumeColumn) noexcept
{
    int16_t needData = 0;
    if (stmt->setPosCore(resumeColumn, &needData) != 0)
        return SQL_ERROR;
    if (stmt->reentryPending)
        return SQL_STILL_EXECUTING;
    return needData != 0 ? SQL_NEED_DATA : SQL_SUCCESS;
}

// The native column sending of rowset row `index` from column `from` on.
// *waits when a value is asked for at execution; *failed with the
// diagnostic posted (the driver's operation aborted).
int16_t sendColumns(BaseStatement* stmt, int64_t index, uint16_t from, bool* waits) noexcept
{
    *waits = false;
    for (uint16_t c = from; c != 0 && c <= stmt->highestBoundColumn; ++c) {
        BaseIRDRecord* col = stmt->ird != nullptr ? stmt->ird->irdRecord(c) : nullptr;
        const BaseAXDRecord* rec = stmt->ardRecord(c);
        if (col == nullptr || rec == nullptr || rec->dataPtr == nullptr || col->updatable == SQL_ATTR_READONLY)
            continue;
        const KaDiagMark mark;
        const BoundValue v = boundValue(stmt, rec, col->conciseType, index);
        if (v.length == SQL_COLUMN_IGNORE)
            continue;
        if (dataAtExecution(v.length)) {
            const int16_t t = col->conciseType;
            if (t == SQL_LONGVARCHAR || t == SQL_WLONGVARCHAR || t == SQL_LONGVARBINARY) {
                if (v.length <= SQL_LEN_DATA_AT_EXEC_OFFSET) {
                    col->dataAtExecLimit = SQL_LEN_DATA_AT_EXEC_OFFSET - v.length;
                } else {
                    // The column's size, within the long-data length the
                    // connection assumes for values of unknown length.
                    const auto size = static_cast<int64_t>(col->length > INT64_MAX ? INT64_MAX : col->length);
                    const uint64_t assumed = stmt->connection != nullptr ? stmt->connection->defaultLongDataBuffLen : 0;
                    const auto placeholder = static_cast<int64_t>(assumed > INT64_MAX ? INT64_MAX : assumed);
                    col->dataAtExecLimit = placeholder > 0 && placeholder < size ? placeholder : size;
                }
            }
            ramFree(col->dataAtExecBuffer);
            col->dataAtExecBuffer = nullptr;
            col->dataAtExecLength = 0;
            stmt->statementState = kBaseStmtNeedData;
            stmt->setPosColumn = c;
            stmt->setPosIndex = index;
            stmt->setPosDataAtExec = true;
            stmt->setPosColumnSent = true;
            *waits = true;
            return 0;
        }
        int16_t rc = 0;
        if (badLength(v.length)) {
            basePostError(kBaseIdxBadLength);
            rc = 1;
        } else {
            int64_t length = v.length;
            if (length == SQL_NTS && v.cType == SQL_C_BINARY) {
                // Bytes have no terminator to measure them by.
                basePostError(kBaseIdxBadLength);
                rc = 1;
            } else if (length == SQL_NTS) {
                length = v.cType == SQL_C_WCHAR  ? baseTerminatedLength(v.data, 2)
                         : v.cType == SQL_C_CHAR ? baseTerminatedLength(v.data, 1)
                                                 : baseFixedCTypeSize(v.cType);
            } else if (length != SQL_NULL_DATA && !isTextOrBinaryCType(v.cType)) {
                length = baseFixedCTypeSize(v.cType);
            }
            if (rc == 0)
                rc = sendConverted(stmt, c, v.cType, v.data, length);
        }
        baseMarkDiagnostics(mark.list(), mark.start(), index + 1, c);
        if (rc != 0) {
            (void)stmt->setPosAbort();
            return 1;
        }
        stmt->setPosColumnSent = true;
    }
    if (!stmt->setPosColumnSent) {
        (void)stmt->setPosAbort();
        basePostErrorMsg(MSG_SQLSTATE_DEGREE_MISMATCH, MSG_SETPOS_NO_USABLE_COLUMN);
        return 1;
    }
    return 0;
}

// The driver's row operation after its columns were sent.
int16_t executeNative(BaseStatement* stmt, int64_t index, uint16_t operation) noexcept
{
    if (operation == SQL_UPDATE) {
        if (stmt->setPosUpdateExecute() != 0)
            return 1;
        stmt->setRowStatusBoth(index, SQL_ROW_UPDATED);
        return 0;
    }
    if (stmt->setPosAddExecute() != 0)
        return 1;
    stmt->setRowStatusBoth(index, SQL_ROW_ADDED);
    return 0;
}

// A native update or add of rowset row `index`, its columns from `from` on.
RowOutcome nativeChange(BaseStatement* stmt, int64_t index, uint16_t operation, uint16_t from) noexcept
{
    if (from == 1) {
        stmt->setPosColumnSent = false;
        const int16_t begun = operation == SQL_UPDATE ? stmt->setPosUpdateBegin() : stmt->setPosAddBegin();
        if (begun != 0)
            return RowOutcome::failed;
    }
    bool waits = false;
    if (sendColumns(stmt, index, from, &waits) != 0)
        return RowOutcome::failed;
    if (waits) {
        stmt->setPosPending = kPendingColumn;
        return RowOutcome::waits;
    }
    return executeNative(stmt, index, operation) != 0 ? RowOutcome::failed : RowOutcome::done;
}

// An emulated operation's answer as a row outcome.
RowOutcome emulated(BaseStatement* stmt, int64_t index, uint16_t operation, int16_t rc, int16_t needData,
                    int16_t rowsAffected) noexcept
{
    if (rc != 0)
        return RowOutcome::failed;
    if (needData != 0) {
        stmt->setPosIndex = index;
        stmt->setPosPending = kPendingWork;
        return RowOutcome::waits;
    }
    if (operation == SQL_ADD)
        stmt->setRowStatusBoth(index, SQL_ROW_ADDED);
    else if (rowsAffected != 0)
        stmt->setRowStatusBoth(index, operation == SQL_UPDATE ? SQL_ROW_UPDATED : SQL_ROW_DELETED);
    return RowOutcome::done;
}

// The row operation itself, once the row stands.
RowOutcome operateOnRow(BaseStatement* stmt, int64_t index, uint64_t caps) noexcept
{
    const uint16_t operation = stmt->setPosOperation;
    int16_t needData = 0;
    int16_t affected = 0;
    switch (operation) {
    case SQL_POSITION: return RowOutcome::done;
    case SQL_REFRESH:
        if (stmt->transferBoundColumns(index) != 0)
            return RowOutcome::failed;
        stmt->setRowStatusBoth(index, SQL_ROW_SUCCESS);
        return RowOutcome::done;
    case SQL_UPDATE:
        if ((caps & kBaseCapEmulatedUpdate) != 0) {
            const int16_t rc = stmt->positionedUpdateDelete(index, &needData, &affected);
            return emulated(stmt, index, operation, rc, needData, affected);
        }
        return nativeChange(stmt, index, operation, 1);
    case SQL_DELETE:
        if ((caps & kBaseCapEmulatedDelete) != 0) {
            const int16_t rc = stmt->positionedUpdateDelete(index, &needData, &affected);
            return emulated(stmt, index, operation, rc, needData, affected);
        }
        if (stmt->setPosDelete() != 0)
            return RowOutcome::failed;
        stmt->setRowStatusBoth(index, SQL_ROW_DELETED);
        return RowOutcome::done;
    default:
        if ((caps & kBaseCapEmulatedAdd) != 0) {
            const int16_t rc = stmt->positionedInsert(index, &needData);
            return emulated(stmt, index, operation, rc, needData, 0);
        }
        return nativeChange(stmt, index, operation, 1);
    }
}

// The row operation array entry of rowset row `index` (SQL_ROW_PROCEED
// without an array).
uint16_t rowOperationOf(const BaseStatement* stmt, int64_t index) noexcept
{
    const uint16_t* ops = stmt->extendedFetchMode
                              ? stmt->extendedFetchStatusArray
                              : (stmt->currentArd != nullptr ? stmt->currentArd->arrayStatusPtr : nullptr);
    return ops != nullptr ? ops[index] : SQL_ROW_PROCEED;
}

// One row of the loop, from its checks to its operation.
RowOutcome workOnRow(BaseStatement* stmt, int64_t index, uint64_t caps) noexcept
{
    const uint16_t operation = stmt->setPosOperation;
    const bool whole = stmt->setPosRow == 0;
    const bool wholeRefresh = whole && operation == SQL_REFRESH;
    if (stmt->lastPositionedRow != 0 && operation != SQL_ADD && !wholeRefresh && stmt->checkPositionedRow() != 0)
        return RowOutcome::skipped;
    if (operation == SQL_ADD) {
        // An application that marks a row SQL_ROW_IGNORE wants it left out,
        // however the row is added.
        if (whole && rowOperationOf(stmt, index) == SQL_ROW_IGNORE)
            return RowOutcome::skipped;
        return operateOnRow(stmt, index, caps);
    }
    const uint16_t known = stmt->getRowStatus(index);
    if (known == SQL_ROW_DELETED || known == SQL_ROW_NOROW || known == SQL_ROW_ERROR) {
        // Positioning on such a row would leave SQLGetData reading another
        // one, so it is refused as a single-row change is.
        if (!whole && (operation == SQL_UPDATE || operation == SQL_DELETE || operation == SQL_POSITION)) {
            basePostErrorMsg(kBaseIdxCursorPosition, MSG_SETPOS_ROW_UNUSABLE)->addParamSigned(index + 1);
            return RowOutcome::refused;
        }
        return RowOutcome::skipped;
    }
    stmt->rowsetPosition = static_cast<uint64_t>(index);
    uint16_t status = SQL_ROW_NOROW;
    if (baseProbeRow(stmt, stmt->currentRow + index, &status, !wholeRefresh && lockRows(stmt)) != 0)
        return RowOutcome::failed;
    if (stmt->reentryPending) {
        stmt->setPosIndex = index;
        stmt->setPosPending = kPendingProbe;
        return RowOutcome::waits;
    }
    if (status == SQL_ROW_DELETED) {
        stmt->setRowStatusBoth(index, SQL_ROW_DELETED);
        basePostErrorMsg(kBaseIdxCursorPosition, MSG_SETPOS_ROW_UNUSABLE)->addParamSigned(index + 1);
        return RowOutcome::refused;
    }
    if (operation == SQL_REFRESH) {
        stmt->setRowStatusBoth(index, status);
        if (status == SQL_ROW_NOROW)
            return RowOutcome::stop;
    } else if (status == SQL_ROW_NOROW) {
        basePostErrorMsg(kBaseIdxCursorPosition, MSG_SETPOS_ROW_UNUSABLE)->addParamSigned(index + 1);
        return RowOutcome::refused;
    }
    return operateOnRow(stmt, index, caps);
}

// A row that waited goes on where it stopped.
RowOutcome resumeRow(BaseStatement* stmt, uint16_t resumeColumn, uint64_t caps) noexcept
{
    const int32_t pending = stmt->setPosPending;
    stmt->setPosPending = kPendingNone;
    const int64_t index = stmt->setPosIndex;
    const uint16_t operation = stmt->setPosOperation;
    if (pending == kPendingColumn)
        return nativeChange(stmt, index, operation, static_cast<uint16_t>(resumeColumn + 1));
    if (pending == kPendingWork) {
        int16_t needData = 0;
        int16_t affected = 0;
        const int16_t rc = operation == SQL_ADD ? stmt->positionedInsert(index, &needData)
                                                : stmt->positionedUpdateDelete(index, &needData, &affected);
        return emulated(stmt, index, operation, rc, needData, affected);
    }
    return workOnRow(stmt, index, caps);
}

}  // namespace

bool baseSetPosOffered(BaseConnection* conn, uint16_t functionId) noexcept
{
    if (conn == nullptr)
        return false;
    const uint64_t words[] = {conn->forwardCursorOps, conn->keysetCursorOps, conn->dynamicCursorOps,
                              conn->staticCursorOps};
    uint64_t all = 0;
    for (uint64_t w : words)
        all |= w;
    uint64_t answer = 0;
    uint32_t concurrency = SQL_SCCO_READ_ONLY;
    if (conn->getInfoValue(SQL_SCROLL_CONCURRENCY, &answer, sizeof concurrency, nullptr) == SQL_SUCCESS)
        std::memcpy(&concurrency, &answer, sizeof concurrency);
    const bool changes = (concurrency & ~static_cast<uint32_t>(SQL_SCCO_READ_ONLY)) != 0;
    if (functionId == SQL_API_SQLBULKOPERATIONS)
        return changes && (all & kAnyAdd) != 0;
    return (all & kPositionOrRefresh) != 0 || (changes && (all & kAnyOperation) != 0);
}

void BaseStatement::setRowStatusBoth(int64_t index, uint16_t status) noexcept
{
    if (index < 0 || index >= rowsetSizeOf(this))
        return;
    setRowStatus(index, status);
    setRowOperation(index, status);
}

int16_t BaseStatement::checkPositionedRow() noexcept
{
    const auto at = static_cast<int64_t>(rowsetPosition);
    const uint16_t status = getRowStatus(at);
    const int64_t last = lastPositionedRow;
    lastPositionedRow = 0;
    if (status == SQL_ROW_DELETED || status == SQL_ROW_ADDED || status == SQL_ROW_NOROW || status == SQL_ROW_ERROR)
        return 0;
    if (setPosValidateBookmark(last, status != SQL_ROW_NOROW, status) == 0)
        return 0;
    setRowStatusBoth(at, SQL_ROW_ERROR);
    return 1;
}

// ---- The two calls ----------------------------------------------------------------------------

int16_t BaseStatement::setPos(uint64_t row, uint16_t operation, uint16_t lockType) noexcept
{
    return runFunction(SQL_API_SQLSETPOS, [&]() -> int16_t {
        if (!reentryPending) {
            if (checkCursor(this) != 0 || checkSetPos(this, row, operation, lockType) != 0)
                return SQL_ERROR;
            const int16_t hook = setPosHook(row, operation, lockType);
            if (hook == 0 || hook == 1)
                return hook == 0 ? SQL_SUCCESS : SQL_ERROR;
            if (row == 0 && (operation == SQL_UPDATE || operation == SQL_DELETE) && rowsetSizeOf(this) >= 2) {
                basePostError(kBaseIdxNotSupported);
                return SQL_ERROR;
            }
            setPosRow = row;
            setPosOperation = operation;
            setPosLock = lockType;
            setPosPending = kPendingNone;
        }
        return runSetPos(this, 0);
    });
}

int16_t BaseStatement::bulkOperations(int16_t operation) noexcept
{
    return runFunction(SQL_API_SQLBULKOPERATIONS, [&]() -> int16_t {
        if (!reentryPending) {
            if (checkCursor(this) != 0)
                return SQL_ERROR;
            if (operation != SQL_ADD || (baseCursorCapabilities(this) & kAnyAdd) == 0) {
                basePostError(kBaseIdxNotSupported);
                return SQL_ERROR;
            }
            if (attributeValues[kBaseAttrConcurrency] == SQL_CONCUR_READ_ONLY) {
                basePostErrorMsg(MSG_SQLSTATE_INVALID_ATTRIBUTE_IDENTIFIER, MSG_SETPOS_READ_ONLY_CURSOR);
                return SQL_ERROR;
            }
            if (executionMode == kBaseExecCatalog) {
                basePostError(kBaseIdxNotSupported);
                return SQL_ERROR;
            }
            refreshBoundColumns();
            if (highestBoundColumn == 0) {
                basePostErrorMsg(MSG_SQLSTATE_DEGREE_MISMATCH, MSG_SETPOS_NO_BOUND_COLUMN);
                return SQL_ERROR;
            }
            setPosRow = 0;
            setPosOperation = SQL_ADD;
            setPosLock = SQL_LOCK_NO_CHANGE;
            setPosPending = kPendingNone;
        }
        return runSetPos(this, 0);
    });
}

// ---- The work loop ------------------------------------------------------------------------------

int16_t BaseStatement::setPosCore(uint16_t resumeColumn, int16_t* needData) noexcept
{
    *needData = 0;
    const int64_t width = rowsetSizeOf(this);
    if (lastPositionedRow != 0 && setPosPending == kPendingNone && checkPositionedRow() != 0)
        return 1;
    if (ird == nullptr || ird->resizeRowStatus(width, 1) != 0)
        return 1;
    setPosDataAtExec = false;
    const uint16_t operation = setPosOperation;
    const bool whole = setPosRow == 0;
    const uint64_t caps = baseCursorCapabilities(this);
    KaErrorList* list = KaErrorCurrentList();
    int64_t i = 0;
    bool resuming = setPosPending != kPendingNone;
    if (!resuming) {
        if (baseCheckBindings(this, width) != 0)
            return 1;
        if (whole) {
            int64_t n = static_cast<int64_t>(rowsetRowCount);
            if (operation == SQL_ADD && !extendedFetchMode)
                n = currentArd != nullptr && currentArd->arraySize > 0 ? currentArd->arraySize : 1;
            i = 0;
            setPosEnd = n;
        } else {
            i = static_cast<int64_t>(setPosRow) - 1;
            setPosEnd = i + 1;
        }
        setPosStartPosition = rowsetPosition;
        setPosRowsWorked = 0;
        setPosRowsFailed = 0;
        setPosFirstError = -1;
        if (changesRows(operation) && connection != nullptr && connection->beginTransaction() != 0)
            return 1;
    } else {
        i = setPosIndex;
    }
    for (; i < setPosEnd; ++i) {
        const KaDiagMark mark;
        RowOutcome outcome = resuming ? resumeRow(this, resumeColumn, caps) : workOnRow(this, i, caps);
        resuming = false;
        if (outcome == RowOutcome::waits) {
            *needData = reentryPending ? 0 : 1;
            return 0;
        }
        baseMarkDiagnostics(mark.list(), mark.start(), i + 1, -1);
        if (outcome == RowOutcome::stop)
            break;
        if (outcome == RowOutcome::skipped)
            continue;
        ++setPosRowsWorked;
        if (outcome == RowOutcome::done)
            continue;
        if (outcome == RowOutcome::failed)
            setRowStatusBoth(i, SQL_ROW_ERROR);
        if (!whole)
            return 1;
        if (outcome == RowOutcome::failed)
            ++setPosRowsFailed;
        if (extendedFetchMode) {
            basePostWarning(kBaseIdxErrorInRow);
            if (mark.list() != nullptr)
                mark.list()->moveLastTo(mark.start());
        }
        if (setPosFirstError < 0)
            setPosFirstError = static_cast<int64_t>(mark.start());
    }
    if (!whole)
        return 0;
    // The cursor stands where the call found it.
    rowsetPosition = setPosStartPosition;
    const auto at = static_cast<int64_t>(rowsetPosition);
    if (operation == SQL_ADD) {
        if (lastPositionedRow != 0) {
            uint16_t status = SQL_ROW_NOROW;
            const KaDiagMark mark;
            if (baseProbeRow(this, currentRow + at, &status, lockRows(this)) != 0) {
                setRowStatusBoth(at, SQL_ROW_ERROR);
                baseMarkDiagnostics(mark.list(), mark.start(), at + 1, -1);
                if (setPosFirstError < 0)
                    setPosFirstError = static_cast<int64_t>(mark.start());
            }
        }
    } else if (getRowStatus(at) == SQL_ROW_SUCCESS && currentRow > 0) {
        uint16_t status = SQL_ROW_NOROW;
        if (baseProbeRow(this, currentRow + at, &status, lockRows(this)) != 0)
            return 1;
    }
    const bool allFailed = setPosRowsWorked == 0 || setPosRowsFailed == setPosRowsWorked;
    // Failing rows do not stop the rowset: while some row came through,
    // their errors are reported as warnings.
    if (!allFailed && setPosFirstError >= 0 && list != nullptr)
        list->demoteFrom(static_cast<size_t>(setPosFirstError));
    return allFailed ? 1 : 0;
}

// ---- The emulation -------------------------------------------------------------------------------

int16_t BaseStatement::positionedInsert(int64_t index, int16_t* needData) noexcept
{
    return runEmulation(this, index, SQL_ADD, needData, nullptr);
}

int16_t BaseStatement::positionedUpdateDelete(int64_t index, int16_t* needData, int16_t* rowsAffected) noexcept
{
    return runEmulation(this, index, setPosOperation, needData, rowsAffected);
}

int16_t BaseStatement::buildEmulationText(BaseStatement* work, int64_t index, uint16_t operation,
                                          KaStringW* text) noexcept
{
    KaStringW table;
    if (tableNameOf(savedSqlText, savedSqlLength, &table) != 0)
        return 1;
    if (table.len > kMaxEmulatedTableName) {
        basePostErrorMsg(kBaseIdxGeneralError,
                         operation == SQL_ADD ? MSG_SETPOS_ADD_TABLE_TOO_LONG : MSG_SETPOS_OP_TABLE_TOO_LONG);
        return 1;
    }
    const char* head = operation == SQL_ADD ? " INSERT INTO " : operation == SQL_UPDATE ? " UPDATE " : " DELETE FROM ";
    if (appendAscii(text, head) != 0 || text->append(table.data, table.len) != 0)
        return 1;
    if (operation == SQL_ADD || operation == SQL_UPDATE) {
        if (appendAscii(text, operation == SQL_ADD ? "(" : " SET ") != 0)
            return 1;
        const uint16_t k = highestBoundColumn < resultColumnCount ? highestBoundColumn : resultColumnCount;
        if (work->currentApd == nullptr || work->ipd == nullptr || work->currentApd->setRecordCount(k) != 0 ||
            work->ipd->setRecordCount(k) != 0)
            return 1;
        const uint16_t quote = quoteCharOf(connection);
        uint16_t p = 0;
        for (uint16_t c = 1; c <= k; ++c) {
            const BaseAXDRecord* rec = ardRecord(c);
            const BaseIRDRecord* col = ird != nullptr ? ird->irdRecord(c) : nullptr;
            if (rec == nullptr || rec->dataPtr == nullptr || col == nullptr)
                continue;
            const BoundValue v = boundValue(this, rec, col->conciseType, index);
            if (v.length == SQL_COLUMN_IGNORE)
                continue;
            if (badLength(v.length)) {
                const KaDiagMark mark;
                basePostError(kBaseIdxBadLength);
                baseMarkDiagnostics(mark.list(), mark.start(), index + 1, c);
                return 1;
            }
            const uint16_t* name =
                col->baseColumnName != nullptr && col->baseColumnName[0] != 0 ? col->baseColumnName : col->name;
            if (name == nullptr || name[0] == 0 || col->updatable == SQL_ATTR_READONLY)
                continue;
            ++p;
            BaseIPDRecord* param = work->ipd->ipdRecord(p);
            BaseAXDRecord* app = work->currentApd->axdRecord(p);
            if (param == nullptr || app == nullptr || param->copyFrom(*col) != 0 || app->copyFrom(*rec) != 0)
                return 1;
            // The IRD's value buffers are its own; the parameter reads the
            // application's row.
            param->octetLengthPtr = nullptr;
            param->indicatorPtr = nullptr;
            param->paramType = SQL_PARAM_INPUT;
            param->checked = 0;
            app->dataPtr = v.data;
            app->octetLengthPtr = v.octets;
            app->indicatorPtr = v.indicator;
            size_t n = 0;
            while (name[n] != 0)
                ++n;
            if ((p > 1 && text->appendChar(u',') != 0) || (quote != u' ' && text->appendChar(quote) != 0) ||
                text->append(name, n) != 0 || (quote != u' ' && text->appendChar(quote) != 0) ||
                (operation == SQL_UPDATE && appendAscii(text, "=?") != 0))
                return 1;
        }
        if (p == 0) {
            basePostErrorMsg(MSG_SQLSTATE_DEGREE_MISMATCH, MSG_SETPOS_NO_USABLE_COLUMN);
            return 1;
        }
        if (work->currentApd->setRecordCount(p) != 0 || work->ipd->setRecordCount(p) != 0)
            return 1;
        if (operation == SQL_ADD) {
            if (appendAscii(text, ")values(?") != 0)
                return 1;
            for (uint16_t q = 2; q <= p; ++q)
                if (appendAscii(text, ",?") != 0)
                    return 1;
            return text->appendChar(u')') != 0 ? 1 : 0;
        }
    }
    const uint16_t* cursor = cursorNameText();
    if (cursor == nullptr) {
        if (generateCursorName() != 0)
            return 1;
        cursor = cursorNameText();
    }
    size_t n = 0;
    while (cursor != nullptr && cursor[n] != 0)
        ++n;
    if (appendAscii(text, " WHERE CURRENT OF ") != 0 || text->append(cursor, n) != 0)
        return 1;
    return 0;
}

void BaseStatement::dropSetPosWork() noexcept
{
    BaseIRDRecord* col =
        setPosDataAtExec && setPosColumn != 0 && ird != nullptr ? ird->irdRecord(setPosColumn) : nullptr;
    if (col != nullptr) {
        ramFree(col->dataAtExecBuffer);
        col->dataAtExecBuffer = nullptr;
        col->dataAtExecLength = 0;
    }
    freeWork(setPosWork);
    setPosWork = nullptr;
    setPosPending = kPendingNone;
    setPosDataAtExec = false;
}

// ---- Data at execution -----------------------------------------------------------------------------

int16_t BaseStatement::setPosPutData(void* data, int64_t length) noexcept
{
    if (setPosWork != nullptr) {
        const int16_t rc = setPosWork->putDataCore(data, length);
        statementState = setPosWork->statementState;
        return rc;
    }
    return putDataCore(data, length);
}

int16_t BaseStatement::setPosParamData(void** value) noexcept
{
    if (statementState != kBaseStmtNeedData && statementState != kBaseStmtPuttingData) {
        basePostError(kBaseIdxSequence);
        return SQL_ERROR;
    }
    if (setPosWork != nullptr) {
        BaseStatement* work = setPosWork;
        const int16_t rc = work->paramDataCore(value);
        if (rc == SQL_NEED_DATA) {
            statementState = work->statementState;
            needDataParam = work->needDataParam;
            setPosDataAtExec = true;
            return SQL_NEED_DATA;
        }
        // The work statement is through: the row's outcome is settled and
        // the loop goes on.
        setPosWorkFailed = rc == SQL_ERROR;
        return runSetPos(this, 0);
    }
    const uint16_t c = setPosColumn;
    BaseIRDRecord* col = ird != nullptr ? ird->irdRecord(c) : nullptr;
    const BaseAXDRecord* rec = ardRecord(c);
    if (col == nullptr || rec == nullptr) {
        basePostError(kBaseIdxGeneralError);
        return SQL_ERROR;
    }
    if (statementState == kBaseStmtPuttingData) {
        const int16_t cType =
            rec->conciseType == SQL_C_DEFAULT ? baseDefaultCType(col->conciseType, 0) : rec->conciseType;
        static const uint8_t kNoBytes = 0;
        const void* bytes = col->dataAtExecBuffer != nullptr ? col->dataAtExecBuffer : &kNoBytes;
        const KaDiagMark mark;
        const int16_t rc = sendConverted(this, c, cType, bytes, col->dataAtExecLength);
        ramFree(col->dataAtExecBuffer);
        col->dataAtExecBuffer = nullptr;
        col->dataAtExecLength = 0;
        putDataCapacity = 0;
        baseMarkDiagnostics(mark.list(), mark.start(), setPosIndex + 1, c);
        if (rc != 0) {
            (void)setPosAbort();
            setRowStatusBoth(setPosIndex, SQL_ROW_ERROR);
            dropSetPosWork();
            statementState = kBaseStmtCursorOpen;
            return SQL_ERROR;
        }
        statementState = kBaseStmtCursorOpen;
        return runSetPos(this, c);
    }
    // The column's value is asked for: its token is the bound buffer of the
    // row.
    col->dataAtExecLength = 0;
    if (value != nullptr)
        *value = boundValue(this, rec, col->conciseType, setPosIndex).data;
    statementState = kBaseStmtMustPutData;
    return SQL_NEED_DATA;
}
