// The fetch core and bound columns: SQLFetch, SQLFetchScroll and
// SQLExtendedFetch turn an orientation into a rowset start, walk the rowset
// through the driver's row hooks, move each row into the bound columns and
// keep the row statuses; SQLGetData reads a column of the current row, a
// long value in pieces.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "kamessages.h"
#include "odbc/basecatalog.h"
#include "odbc/baseconn.h"
#include "odbc/basecursorcaps.h"
#include "odbc/basedesc.h"
#include "odbc/basedescribe.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

// The highest row the last-row search looks at.
constexpr int64_t kLastRowSearchLimit = INT32_MAX;

KaErrorList* currentList() noexcept
{
    return KaErrorCurrentList();
}

size_t diagCount(const KaErrorList* list) noexcept
{
    return list != nullptr ? list->recordCount() : 0;
}

}  // namespace

// Marks the diagnostics of list posted since `first` with the rowset row
// (from 1) and, when given, the column, unless they carry a position already.
void baseMarkDiagnostics(KaErrorList* list, size_t first, int64_t row, int64_t column) noexcept
{
    if (list == nullptr)
        return;
    for (size_t i = first; i < list->recordCount(); ++i) {
        KaError* e = list->recordAt(i);
        if (e == nullptr || e->isStatic())
            continue;
        if (e->row < 0)
            e->row = row;
        if (column >= 0 && e->column < 0)
            e->column = column;
    }
}

namespace {

bool forwardOnly(const BaseStatement* stmt) noexcept
{
    return stmt->attributeValues[kBaseAttrCursorType] == SQL_CURSOR_FORWARD_ONLY;
}

}  // namespace

// The driver's answer on row `row` of a scrollable cursor, within
// SQL_ATTR_MAX_ROWS; a locked row that is there is remembered.
int16_t baseProbeRow(BaseStatement* stmt, int64_t row, uint16_t* status, bool lock) noexcept
{
    const int64_t maxRows = stmt->attributeValues[kBaseAttrMaxRows];
    if (!stmt->reentryPending && maxRows != 0 && maxRows < row) {
        *status = SQL_ROW_NOROW;
        return 0;
    }
    if (stmt->executionMode == kBaseExecCatalog && stmt->catalogInfoW != nullptr) {
        // A catalog result is held in memory: positioning is a row number.
        int16_t where = kCatalogNoRow;
        if (stmt->catalogInfoW->setPosition(row, &where) != 0)
            return 1;
        *status = where == kCatalogRowAvailable && row > 0 ? SQL_ROW_SUCCESS : SQL_ROW_NOROW;
        return 0;
    }
    // An emulated static cursor is positioned in the framework's row cache.
    const int16_t rc = baseStaticCursorEmulated(stmt) ? stmt->cachedRowStatus(row, status, lock)
                                                      : stmt->positionRow(row, status, lock);
    if (rc != 0)
        return 1;
    if (lock && (*status == SQL_ROW_SUCCESS || *status == SQL_ROW_UPDATED))
        stmt->lastPositionedRow = row;
    return 0;
}

namespace {

bool catalogColumnHidden(const BaseStatement* stmt, uint16_t column) noexcept
{
    const uint64_t wa = stmt->connection != nullptr ? stmt->connection->workarounds : 0;
    const int32_t kind = stmt->catalogInfoW->kind;
    if ((wa & kBaseWaNoCatalogs) != 0) {
        if (column == 1 && kind != kCatalogKindTypeInfo && kind != kCatalogKindSpecialColumns)
            return true;
        if (column == 5 && (kind == kCatalogKindForeignKeys || kind == kCatalogKindStatistics))
            return true;
    }
    return (wa & kBaseWaStatisticsSchemaNull) != 0 && column == 5 && kind == kCatalogKindStatistics;
}

// The next row of a forward-only cursor; *noMore at the end of the result
// or past SQL_ATTR_MAX_ROWS.
int16_t fetchNextRow(BaseStatement* stmt, int64_t index, int16_t* noMore) noexcept
{
    *noMore = 0;
    const int64_t maxRows = stmt->attributeValues[kBaseAttrMaxRows];
    if (!stmt->reentryPending && maxRows != 0 && stmt->currentRow != 0 && stmt->currentRow + index > maxRows) {
        *noMore = 1;
        return 0;
    }
    if (stmt->endOfDataReached) {
        *noMore = 1;
        return 0;
    }
    if (stmt->executionMode == kBaseExecCatalog && stmt->catalogInfoW != nullptr) {
        if (stmt->catalogInfoW->fetchNext(noMore) != 0)
            return 1;
    } else if (stmt->fetchRow(noMore) != 0) {
        return 1;
    }
    if (*noMore != 0 && !stmt->reentryPending)
        stmt->endOfDataReached = true;
    return 0;
}

}  // namespace

// ---- The three fetch calls -------------------------------------------------------------------

// The common work of the fetch calls: state checks, the core, the answer.
static int16_t runFetch(BaseStatement* stmt, int16_t orientation, int64_t offset, int64_t rowsetSize, int mode,
                        uint64_t* rowsFetched) noexcept
{
    if (stmt->statementState != kBaseStmtCursorOpen) {
        basePostError(stmt->statementState == kBaseStmtExecuted ? kBaseIdxCursorState : kBaseIdxSequence);
        return SQL_ERROR;
    }
    int16_t noData = 0;
    if (stmt->fetchCore(orientation, offset, rowsetSize, mode, rowsFetched, &noData) != 0)
        return SQL_ERROR;
    if (noData != 0)
        return SQL_NO_DATA;
    if (stmt->reentryPending)
        return SQL_STILL_EXECUTING;
    return SQL_SUCCESS;
}

int16_t BaseStatement::fetch() noexcept
{
    return runFunction(SQL_API_SQLFETCH, [&]() -> int16_t {
        int64_t n = currentArd != nullptr ? currentArd->arraySize : 1;
        if (n <= 0)
            n = 1;
        return runFetch(this, SQL_FETCH_NEXT, 0, n, kBaseFetchNext, ird != nullptr ? ird->rowsProcessedPtr : nullptr);
    });
}

int16_t BaseStatement::fetchScroll(int16_t orientation, int64_t offset) noexcept
{
    return runFunction(SQL_API_SQLFETCHSCROLL, [&]() -> int16_t {
        // A rowset size of 0 reads one row, as SQLFetch does, rather than
        // writing a status into an array of none.
        int64_t n = currentArd != nullptr ? currentArd->arraySize : 1;
        if (n <= 0)
            n = 1;
        return runFetch(this, orientation, offset, n, kBaseFetchScroll,
                        ird != nullptr ? ird->rowsProcessedPtr : nullptr);
    });
}

int16_t BaseStatement::extendedFetch(uint16_t fetchType, int64_t row, uint64_t* rowCountOut,
                                     uint16_t* rowStatusArray) noexcept
{
    return runFunction(SQL_API_SQLEXTENDEDFETCH, [&]() -> int16_t {
        extendedFetchStatusArray = rowStatusArray;
        extendedFetchMode = true;
        int64_t n = attributeValues[kBaseAttrRowsetSize];
        if (n <= 0)
            n = 1;
        return runFetch(this, static_cast<int16_t>(fetchType), row, n, kBaseFetchExtended, rowCountOut);
    });
}

// ---- The core --------------------------------------------------------------------------------

// Bound columns beyond the result fail the fetch; the driver may refuse a
// changed binding.
int16_t baseCheckBindings(BaseStatement* stmt, int64_t rowsetSize) noexcept
{
    const bool ignoreExtra =
        stmt->connection != nullptr && (stmt->connection->workarounds2 & kBaseWa2IgnoreExtraBindings) != 0;
    stmt->refreshBoundColumns();
    for (uint16_t c = 1; c <= stmt->highestBoundColumn; ++c) {
        const BaseAXDRecord* rec = stmt->ardRecord(c);
        if (rec == nullptr || rec->dataPtr == nullptr)
            continue;
        if (c > stmt->resultColumnCount) {
            if (ignoreExtra)
                break;
            basePostErrorMsg(kBaseIdxBadDescIndex, MSG_BOUND_COLUMN_BEYOND_RESULT)
                ->addParamUnsigned(c)
                ->addParamUnsigned(stmt->resultColumnCount);
            return 1;
        }
        if (!stmt->bindingsChanged)
            continue;
        if (rec->conciseType != SQL_C_DEFAULT && stmt->ird != nullptr) {
            const BaseIRDRecord* col = stmt->ird->irdRecord(c);
            if (col != nullptr && baseCheckSqlToC(c, col->conciseType, rec->conciseType) != 0)
                return 1;
        }
        if (rowsetSize == 1 && stmt->validateBinding(c) != 0)
            return 1;
    }
    stmt->bindingsChanged = false;
    return 0;
}

// The start of the rowset an orientation asks for; *noData when there is
// none (the cursor then stands before the first or after the last row).
static int16_t computeStart(BaseStatement* stmt, int16_t orientation, int64_t offset, int64_t n, int mode,
                            int16_t* noData) noexcept
{
    int64_t start = 0;
    bool relative = false;
    int64_t move = 0;
    auto last = [stmt](int64_t* out) noexcept { return stmt->lastRowNumber(out); };
    switch (orientation) {
    case SQL_FETCH_NEXT:
        if (stmt->currentRow == 0) {
            start = 1;
        } else {
            relative = true;
            move = static_cast<int64_t>(stmt->rowsetRowCount);
        }
        break;
    case SQL_FETCH_FIRST: start = 1; break;
    case SQL_FETCH_LAST: {
        int64_t l = 0;
        if (last(&l) != 0)
            return 1;
        start = l - n + 1;
        break;
    }
    case SQL_FETCH_PRIOR:
        if (stmt->currentRow == -1) {
            int64_t l = 0;
            if (last(&l) != 0)
                return 1;
            start = l - n + 1;
        } else {
            relative = true;
            move = -n;
        }
        break;
    case SQL_FETCH_ABSOLUTE:
        if (offset == 0) {
            stmt->currentRow = 0;
            *noData = 1;
            return 0;
        }
        if (offset > 0) {
            start = offset;
        } else {
            int64_t l = 0;
            if (last(&l) != 0)
                return 1;
            start = l + offset + 1;
            if (start <= 0) {
                stmt->currentRow = 0;
                *noData = 1;
                return 0;
            }
        }
        break;
    case SQL_FETCH_RELATIVE:
        relative = true;
        move = offset;
        break;
    case SQL_FETCH_BOOKMARK: {
        if (stmt->attributeValues[kBaseAttrUseBookmarks] == SQL_UB_OFF) {
            basePostError(kBaseIdxFetchType);
            return 1;
        }
        int64_t bookmark = 0;
        if ((baseCursorCapabilities(stmt) & kBaseCapEmulatedBookmarks) != 0 && mode == kBaseFetchScroll) {
            const auto* ptr = reinterpret_cast<const int64_t*>(stmt->attributeValues[kBaseAttrFetchBookmarkPtr]);
            if (ptr == nullptr) {
                basePostError(kBaseIdxBadBookmark);
                return 1;
            }
            bookmark = *ptr;
        }
        start = offset + bookmark;
        if (start <= 0) {
            stmt->currentRow = 0;
            *noData = 1;
            return 0;
        }
        break;
    }
    default: start = stmt->currentRow; break;
    }
    if (relative) {
        if (stmt->currentRow == 0) {
            if (move <= 0) {
                *noData = 1;
                return 0;
            }
            start = move;
        } else if (stmt->currentRow == -1) {
            if (move >= 0) {
                *noData = 1;
                return 0;
            }
            int64_t l = 0;
            if (last(&l) != 0)
                return 1;
            start = l + move + 1;
        } else {
            start = stmt->currentRow + move;
        }
    }
    if (start <= 0) {
        const bool beforeStart = (orientation == SQL_FETCH_PRIOR && stmt->currentRow == 1) ||
                                 (orientation == SQL_FETCH_RELATIVE && (offset < 0 ? -offset : offset) > n) ||
                                 orientation == SQL_FETCH_ABSOLUTE;
        if (beforeStart) {
            stmt->currentRow = 0;
            *noData = 1;
            return 0;
        }
        start = 1;
        if (orientation != SQL_FETCH_LAST)
            basePostWarning(kBaseIdxFetchBeforeFirst);
    }
    stmt->currentRow = start;
    return 0;
}

int16_t BaseStatement::fetchCore(int16_t orientation, int64_t offset, int64_t rowsetSize, int mode,
                                 uint64_t* rowsFetched, int16_t* noData) noexcept
{
    *noData = 0;
    rowBeforeFetch = currentRow;
    rowsetBeforeFetch = rowsetRowCount;
    if (resultColumnCount == 0) {
        basePostError(kBaseIdxCursorState);
        return 1;
    }
    if (rowsetSize <= 0)
        rowsetSize = 1;
    if (baseCheckBindings(this, rowsetSize) != 0)
        return 1;
    if (mode == kBaseFetchNext && currentRow == -1) {
        *noData = 1;
        return 0;
    }
    if (attributeValues[kBaseAttrCursorType] == SQL_CURSOR_KEYSET_DRIVEN && attributeValues[kBaseAttrKeysetSize] != 0 &&
        attributeValues[kBaseAttrKeysetSize] < rowsetSize) {
        basePostError(kBaseIdxRowValue);
        return 1;
    }
    const bool forward = forwardOnly(this);
    if (orientation != SQL_FETCH_NEXT && forward) {
        basePostErrorMsg(kBaseIdxFetchType, MSG_FETCH_FORWARD_ONLY);
        return 1;
    }
    if (ird == nullptr || ird->resizeRowStatus(rowsetSize, 0) != 0)
        return 1;
    if (prepareFetch(orientation, offset) != 0)
        return 1;
    // A new row: whatever SQLGetData read of the last one is over.
    getDataColumn = 0;
    getDataColumnDone = false;
    getDataConsumed = 0;
    resetLongData();

    if (forward) {
        if (endOfDataReached) {
            currentRow = -1;
            *noData = 1;
            return 0;
        }
        currentRow = currentRow <= 0 ? 1 : currentRow + static_cast<int64_t>(rowsetRowCount);
    } else if (computeStart(this, orientation, offset, rowsetSize, mode, noData) != 0) {
        return 1;
    }
    if (*noData != 0)
        return 0;

    rowsetRowCount = static_cast<uint64_t>(rowsetSize);
    rowsetPosition = 0;
    const bool retrieve = (attributeValues[kBaseAttrFlags] & kBaseStmtFlagRetrieveData) != 0;
    const bool lock = rowsetSize < 2 && (forUpdateClause || attributeValues[kBaseAttrConcurrency] == SQL_CONCUR_LOCK);
    bool allFailed = true;
    int64_t firstError = -1;
    int64_t rows = 0;
    bool readFailed = false;
    KaErrorList* list = currentList();
    // The list stays the thread's for the whole rowset: its rows and values
    // use it without looking the thread's record up again.
    struct FetchList {
        BaseStatement* stmt;
        ~FetchList() { stmt->fetchDiagnostics = nullptr; }
    } fetchList{this};
    baseConvertSettingsOf(this, &fetchSettings);
    fetchDiagnostics = list;
    conversionContext(&fetchContext);
    // The row cache reads the row the walk stands on; a driver keeps its
    // own position.
    const bool cached = baseStaticCursorEmulated(this);
    struct RowsetStart {
        BaseStatement* stmt;
        bool cached;
        ~RowsetStart()
        {
            if (cached)
                stmt->rowsetPosition = 0;
        }
    } rowsetStart{this, cached};
    int64_t i = 0;
    for (; i < rowsetSize; ++i) {
        const size_t d0 = diagCount(list);
        uint16_t status = SQL_ROW_SUCCESS;
        bool failed = false;
        if (cached)
            rowsetPosition = static_cast<uint64_t>(i);
        if (forward) {
            int16_t noMore = 0;
            if (fetchNextRow(this, i, &noMore) != 0) {
                // A row that could not be read is no row of the rowset, and
                // the rows after it cannot be read either: the rowset ends
                // before it. The rows before it are served, with the failure
                // as a warning; the next fetch reports it as an error.
                readFailed = true;
                if (rows > 0 && list != nullptr)
                    list->demoteFrom(d0);
                break;
            }
            if (noMore != 0)
                break;
        } else if (baseProbeRow(this, currentRow + i, &status, lock) != 0) {
            failed = true;
        } else if (status == SQL_ROW_NOROW) {
            break;
        }
        if (!failed && retrieve && status != SQL_ROW_DELETED && transferBoundColumns(i) != 0)
            failed = true;
        if (!failed) {
            allFailed = false;
            if (status == SQL_ROW_SUCCESS && diagCount(list) > d0 &&
                !(connection != nullptr && connection->env != nullptr && connection->env->odbc2Mode == 1))
                status = SQL_ROW_SUCCESS_WITH_INFO;
        } else {
            status = SQL_ROW_ERROR;
            if (mode == kBaseFetchExtended) {
                bool allDemoted = true;
                for (size_t k = d0; list != nullptr && k < list->recordCount(); ++k) {
                    KaError* e = list->recordAt(k);
                    if (e == nullptr || e->isWarning())
                        continue;
                    const uint16_t idx = e->sqlstateMsg;
                    if (idx >= kBaseIdxRightTruncation && idx <= kBaseIdxBadCharValue)
                        e->setWarning();
                    else
                        allDemoted = false;
                }
                if (allDemoted)
                    allFailed = false;
                basePostWarning(kBaseIdxErrorInRow);
                if (list != nullptr)
                    list->moveLastTo(d0);
            } else if (list != nullptr) {
                if (firstError < 0)
                    firstError = static_cast<int64_t>(d0);
            }
        }
        baseMarkDiagnostics(list, d0, i + 1, -1);
        setRowStatus(i, status);
        if (hashDeliveredRow(i, failed) != 0)
            return 1;
        ++rows;
    }
    // Select failover reads a scrollable cursor's rows again where they
    // were fetched.
    if (!forward)
        recordFetchPosition(currentRow, rows);
    // A failing row never stops the rowset: when some row came through,
    // the errors of the others are reported as warnings.
    if (firstError >= 0 && !allFailed && list != nullptr)
        list->demoteFrom(static_cast<size_t>(firstError));
    uint16_t* appStatus = extendedFetchMode ? extendedFetchStatusArray : ird->arrayStatusPtr;
    if (appStatus != nullptr)
        for (int64_t k = 0; k < rowsetSize; ++k)
            appStatus[k] = getRowStatus(k);
    if (rowsFetched != nullptr)
        *rowsFetched = static_cast<uint64_t>(rows);
    if (rows == 0 && readFailed)
        return 1;
    if (rows == 0) {
        currentRow = forward || currentRow > 0 ? -1 : 0;
        *noData = 1;
        return 0;
    }
    if (allFailed)
        return 1;
    // Scrollable cursors stand on the first row of the rowset.
    if (!forward && rows > 1) {
        uint16_t status = 0;
        const bool relock = forUpdateClause || attributeValues[kBaseAttrConcurrency] == SQL_CONCUR_LOCK;
        if (baseProbeRow(this, currentRow, &status, relock) != 0)
            return 1;
    }
    return 0;
}

int16_t BaseStatement::transferBoundColumns(int64_t index) noexcept
{
    BaseAXD* ard = currentArd;
    if (ard == nullptr)
        return 0;
    const uint16_t k = highestBoundColumn < resultColumnCount ? highestBoundColumn : resultColumnCount;
    const int64_t offset = ard->bindOffsetPtr != nullptr ? *ard->bindOffsetPtr : 0;
    const int64_t rowSize = ard->bindType;
    KaErrorList* list = fetchDiagnostics != nullptr ? fetchDiagnostics : currentList();
    int16_t rc = 0;
    // Column 0, the bookmark, goes along while bookmarks are on.
    const int32_t from = attributeValues[kBaseAttrUseBookmarks] != SQL_UB_OFF ? 0 : 1;
    if (from == 0)
        describeBookmarkColumn();
    for (int32_t column = from; column <= k; ++column) {
        const auto c = static_cast<uint16_t>(column);
        const BaseAXDRecord* rec = ard->axdRecord(c);
        if (rec == nullptr || rec->dataPtr == nullptr)
            continue;
        const BaseIRDRecord* col = ird->irdRecord(c);
        if (col == nullptr)
            continue;
        const size_t d0 = diagCount(list);
        int16_t cType = rec->conciseType;
        if (cType == SQL_C_DEFAULT)
            cType = checkColumnCType(col->conciseType, c, const_cast<BaseIRDRecord*>(col));
        // Row-wise binding strides by the row size; column-wise by the
        // value's size: a fixed-size type's own (SQL_C_DEFAULT resolved at
        // fetch), else the buffer length.
        const int64_t fixed = baseFixedCTypeSize(cType);
        const int64_t stride = rowSize != SQL_BIND_BY_COLUMN ? rowSize : fixed != 0 ? fixed : rec->octetLength;
        const int64_t lengthStride = rowSize != SQL_BIND_BY_COLUMN ? rowSize : static_cast<int64_t>(sizeof(SQLLEN));
        auto* data = static_cast<uint8_t*>(rec->dataPtr) + offset + index * stride;
        auto shift = [&](int64_t* p) noexcept {
            return p == nullptr
                       ? nullptr
                       : reinterpret_cast<int64_t*>(reinterpret_cast<uint8_t*>(p) + offset + index * lengthStride);
        };
        int64_t* octets = shift(rec->octetLengthPtr);
        int64_t* indicator = shift(rec->indicatorPtr);
        int64_t room = fixed != 0 ? fixed : rec->octetLength;
        BaseOutString out(data, room, octets != nullptr ? octets : indicator, indicator);
        resetLongData();
        int16_t bad = c == 0 ? 0 : baseCheckSqlToC(c, col->conciseType, cType);
        if (bad == 0)
            bad = c == 0 ? getBookmarkData(cType, &out, index) : getDataQuick(c, cType, &out, false, 0);
        resetLongData();
        baseMarkDiagnostics(list, d0, index + 1, c);
        if (bad != 0)
            rc = 1;
    }
    return rc;
}

// ---- The last row -------------------------------------------------------------------------------

int16_t BaseStatement::lastRowNumber(int64_t* lastRow) noexcept
{
    if (lastRowCache >= 0) {
        *lastRow = lastRowCache;
        return 0;
    }
    if (findLastRow(lastRow) != 0)
        return 1;
    lastRowCache = *lastRow;
    return 0;
}

int16_t BaseStatement::findLastRow(int64_t* lastRow) noexcept
{
    // Doubles the probe until a row is missing, then halves the gap: the
    // highest row that exists.
    auto exists = [this](int64_t row, bool* present) noexcept {
        uint16_t status = SQL_ROW_NOROW;
        if (baseProbeRow(this, row, &status, false) != 0)
            return 1;
        *present = status != SQL_ROW_NOROW;
        return 0;
    };
    int64_t low = 0;
    int64_t high = 1;
    for (;;) {
        bool present = false;
        if (exists(high, &present) != 0)
            return 1;
        if (!present)
            break;
        low = high;
        if (high >= kLastRowSearchLimit) {
            *lastRow = low;
            return 0;
        }
        high = high * 2 > kLastRowSearchLimit ? kLastRowSearchLimit : high * 2;
    }
    while (high - low > 1) {
        const int64_t mid = low + (high - low) / 2;
        bool present = false;
        if (exists(mid, &present) != 0)
            return 1;
        (present ? low : high) = mid;
    }
    *lastRow = low;
    return 0;
}

// ---- SQLGetData -----------------------------------------------------------------------------------

int16_t BaseStatement::getData(uint16_t column, int16_t cType, void* value, int64_t bufferLength,
                               int64_t* indicator) noexcept
{
    return runFunction(SQL_API_SQLGETDATA, [&]() -> int16_t {
        if (statementState != kBaseStmtCursorOpen || currentRow <= 0) {
            basePostError(statementState < kBaseStmtExecuted ? kBaseIdxSequence : kBaseIdxCursorState);
            return SQL_ERROR;
        }
        if (bufferLength < 0) {
            basePostError(kBaseIdxBadLength);
            return SQL_ERROR;
        }
        if (value == nullptr) {
            basePostError(kBaseIdxNullPointer);
            return SQL_ERROR;
        }
        if ((column == 0 && attributeValues[kBaseAttrUseBookmarks] == SQL_UB_OFF) || column > resultColumnCount) {
            basePostError(kBaseIdxBadDescIndex);
            return SQL_ERROR;
        }
        if (forwardOnly(this) && rowsetRowCount > 1) {
            basePostError(kBaseIdxCursorPosition);
            return SQL_ERROR;
        }
        const uint16_t status = getRowStatus(static_cast<int64_t>(rowsetPosition));
        if (status == SQL_ROW_NOROW) {
            basePostError(kBaseIdxCursorState);
            return SQL_ERROR;
        }
        if (status == SQL_ROW_DELETED || status == SQL_ROW_ERROR) {
            basePostError(kBaseIdxCursorPosition);
            return SQL_ERROR;
        }
        BaseIRDRecord* col = ird->irdRecord(column);
        if (col == nullptr) {
            basePostError(kBaseIdxBadDescIndex);
            return SQL_ERROR;
        }
        // The C type asked for: the ARD's for SQL_ARD_TYPE, the column's
        // default for SQL_C_DEFAULT.
        int16_t asked = cType;
        if (asked == SQL_ARD_TYPE) {
            const BaseAXDRecord* rec = ardRecord(column);
            asked = rec != nullptr ? rec->conciseType : SQL_C_DEFAULT;
        }
        if (connection != nullptr && connection->env != nullptr && connection->env->odbc2Mode == 1 &&
            asked >= SQL_C_DATE && asked <= SQL_C_TIMESTAMP)
            asked = static_cast<int16_t>(asked + (SQL_C_TYPE_DATE - SQL_C_DATE));
        if (asked == SQL_C_DEFAULT)
            asked = checkColumnCType(col->conciseType, column, col);
        bool continuing = false;
        if (column != getDataColumn) {
            const bool boundRange = column <= highestBoundColumn;
            if ((boundRange || column < getDataColumn) && connection != nullptr) {
                // What SQLGetData may do beyond the unbound columns in order.
                uint64_t answer = 0;
                uint32_t extensions = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
                if (connection->getInfoValue(SQL_GETDATA_EXTENSIONS, &answer, sizeof extensions, nullptr) ==
                    SQL_SUCCESS)
                    std::memcpy(&extensions, &answer, sizeof extensions);
                const BaseAXDRecord* bound = boundRange ? ardRecord(column) : nullptr;
                const bool allowed =
                    (column >= getDataColumn || (extensions & SQL_GD_ANY_ORDER) != 0) &&
                    (!boundRange || (extensions & SQL_GD_ANY_COLUMN) != 0) &&
                    (bound == nullptr || bound->dataPtr == nullptr || (extensions & SQL_GD_BOUND) != 0);
                if (!allowed) {
                    basePostError(kBaseIdxBadDescIndex);
                    return SQL_ERROR;
                }
            }
            getDataColumn = column;
            getDataColumnDone = false;
            getDataConsumed = 0;
            getDataCType = asked;
            resetLongData();
        } else {
            if (getDataColumnDone) {
                if (indicator != nullptr)
                    *indicator = 0;
                return SQL_NO_DATA;
            }
            if (asked != getDataCType) {
                if (getDataReturned != 0) {
                    basePostError(kBaseIdxBufferType);
                    return SQL_ERROR;
                }
                getDataCType = asked;
                resetLongData();
            } else {
                continuing = getDataReturned != 0;
            }
        }
        if (baseCheckSqlToC(column, col->conciseType, asked) != 0)
            return SQL_ERROR;
        BaseOutString out(value, bufferLength, indicator, indicator);
        const int16_t rc = cType == SQL_ARD_TYPE || fullGetDataPath ? getDataCore(column, asked, &out, continuing, 0)
                                                                    : getDataQuick(column, asked, &out, continuing, 0);
        if (rc != 0) {
            getDataColumnDone = true;
            return SQL_ERROR;
        }
        // A piece cut short by the buffer leaves the rest for the next call;
        // the offset moves by the bytes the piece really delivered.
        int64_t usable = bufferLength - cTypeTerminatorBytes(asked);
        if (usable < 0)
            usable = 0;
        if (asked != SQL_C_BINARY && asked != SQL_C_CHAR && asked != SQL_C_WCHAR)
            usable = 0;
        const int64_t before = getDataReturned;
        // Only the values of variable-length types come in pieces: a number, a
        // date or a GUID cut to the buffer is over after its first piece.
        if (!baseIsVarLengthType(col->conciseType)) {
            getDataColumnDone = true;
            resetLongData();
        } else if (getDataConverter != nullptr) {
            // A streamed value keeps its own place; the column goes on while
            // its last piece was cut.
            if (!pieceFollows())
                getDataColumnDone = true;
        } else if (advanceLongData(usable) != 0) {
            getDataConsumed += getDataReturned - before;
        } else {
            getDataColumnDone = true;
        }
        return SQL_SUCCESS;
    });
}

int16_t BaseStatement::getDataQuick(uint16_t column, int16_t cType, BaseOutString* out, bool continuing,
                                    int32_t passThrough) noexcept
{
    return columnValue(column, cType, out, continuing, passThrough, true);
}

int16_t BaseStatement::columnValue(uint16_t column, int16_t cType, BaseOutString* out, bool continuing,
                                   int32_t passThrough, bool lean) noexcept
{
    // The bookmark column is the framework's, not the driver's.
    if (column == 0)
        return getBookmarkData(cType, out, static_cast<int64_t>(rowsetPosition));
    // A catalog result answers from its holder; the driver's hooks read the
    // driver's own result, which a catalog function reads while it builds.
    if (executionMode == kBaseExecCatalog && catalogInfoW != nullptr) {
        if (catalogColumnHidden(this, column))
            return catalogInfoW->putNull(cType, out);
        return catalogInfoW->getData(column, cType, out);
    }
    if (baseStaticCursorEmulated(this))
        return getCachedData(column, cType, out);
    return streamColumnValue(column, cType, out, continuing, passThrough, lean);
}

int16_t BaseStatement::getDataCore(uint16_t column, int16_t cType, BaseOutString* out, bool continuing,
                                   int32_t passThrough) noexcept
{
    const BaseIRDRecord* col = ird != nullptr ? ird->irdRecord(column) : nullptr;
    const int64_t maxLength = attributeValues[kBaseAttrMaxLength];
    const int16_t type = col != nullptr ? col->conciseType : 0;
    const bool longColumn = type == SQL_LONGVARCHAR || type == SQL_WLONGVARCHAR || type == SQL_LONGVARBINARY;
    if (maxLength == 0 || !longColumn)
        return columnValue(column, cType, out, continuing, passThrough, false);
    // SQL_ATTR_MAX_LENGTH cuts long values silently: the buffer is narrowed
    // to what is left of the allowance, and the cut is no truncation.
    int64_t remaining = maxLength - getDataConsumed;
    if (remaining < 0)
        remaining = 0;
    const bool character = cType == SQL_C_CHAR || cType == SQL_C_WCHAR;
    int64_t limit = remaining;
    if (character)
        limit = (type == SQL_LONGVARBINARY ? 2 * remaining : remaining) + cTypeTerminatorBytes(cType);
    const bool limited = out->bufferLength >= limit;
    if (limited)
        out->bufferLength = limit;
    const KaDiagMark mark;
    if (columnValue(column, cType, out, continuing, passThrough, false) != 0)
        return 1;
    KaErrorList* list = mark.list();
    if (!limited || list == nullptr || !list->hasOnlyWarnings() || mark.posted() == 0)
        return 0;
    KaError* last = list->last();
    if (last == nullptr || last->sqlstateMsg != kBaseIdxTruncated)
        return 0;
    const bool cutAtSource = last->nativeCode == MSG_VALUE_CUT_AT_SOURCE;
    list->discardLast();
    if (!cutAtSource) {
        const int64_t shown = limit - (character ? cTypeTerminatorBytes(cType) : 0);
        if (out->length64 != nullptr)
            *out->length64 = shown;
        // The allowance is used up: nothing more of the value is given.
        getDataConsumed = maxLength;
        notePiece(false, shown);
    }
    return 0;
}
