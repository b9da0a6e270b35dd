// The statement's side of the result-set persistence: the XPstResultSource
// operations over the statement's internal describe, fetch and get-data
// steps. They run inside the statement's SQLSetStmtAttr call, whose entry
// step already holds the statement and made its list the current one, so
// none of them goes through an entry point again.
#include "bulk/xpstsource.h"

#include <sql.h>
#include <sqlext.h>

#include "bulk/basexml.h"
#include "convert/basestring.h"
#include "foundation/codepage.h"
#include "odbc/baseconn.h"
#include "kamessages.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"

namespace {

BaseStatement* statementOf(void* context) noexcept
{
    return static_cast<BaseStatement*>(context);
}

uint16_t columnCount(void* context) noexcept
{
    uint16_t count = 0;
    return statementOf(context)->getResultColumnCount(&count) != 0 ? 0 : count;
}

int describeColumn(void* context, uint16_t column, XPstColumn* out) noexcept
{
    static const uint16_t kNoName[] = {0};
    BaseStatement* stmt = statementOf(context);
    const BaseIRDRecord* record = stmt->ird != nullptr ? stmt->ird->irdRecord(column) : nullptr;
    if (record == nullptr) {
        basePostError(MSG_SQLSTATE_INVALID_DESCRIPTOR_INDEX);
        return 1;
    }
    out->name = record->name != nullptr ? record->name : kNoName;
    out->sqlType = record->conciseType;
    const bool exact = record->conciseType == SQL_NUMERIC || record->conciseType == SQL_DECIMAL;
    out->size = exact ? 0 : static_cast<uint32_t>(record->length);
    out->precision = exact ? record->precision : 0;
    out->scale = exact ? record->scale : 0;
    out->nullable = record->nullable;
    out->isUnsigned = record->isUnsigned() ? 1 : 0;
    return 0;
}

uint64_t rowNumber(void* context) noexcept
{
    const BaseStatement* stmt = statementOf(context);
    if (stmt->statementState != kBaseStmtCursorOpen || stmt->currentRow <= 0)
        return 0;
    return static_cast<uint64_t>(stmt->currentRow) + stmt->rowsetPosition;
}

SQLRETURN fetch(void* context, SQLSMALLINT orientation, SQLLEN row) noexcept
{
    return xpstStatementFetch(statementOf(context), orientation, row);
}

SQLRETURN getData(void* context, SQLUSMALLINT column, SQLSMALLINT cType, void* buffer, SQLLEN capacity,
                  SQLLEN* indicator) noexcept
{
    return xpstStatementGetData(statementOf(context), column, cType, buffer, capacity, indicator);
}

}  // namespace

SQLRETURN xpstStatementFetch(BaseStatement* stmt, SQLSMALLINT orientation, SQLLEN row) noexcept
{
    if (stmt->attributeValues[kBaseAttrCursorType] == SQL_CURSOR_FORWARD_ONLY) {
        // Read once from the start: the first row is the next one, and the
        // way back is not there; the cursor stays where the reading left it.
        if (orientation == SQL_FETCH_ABSOLUTE)
            return SQL_SUCCESS;
        orientation = SQL_FETCH_NEXT;
    }
    if (stmt->statementState != kBaseStmtCursorOpen) {
        // An executed statement without a cursor has no rows to give.
        return SQL_NO_DATA;
    }
    // The reading is the driver's own: the application's bound columns
    // and row-status array are left as its last fetch made them.
    const int64_t flags = stmt->attributeValues[kBaseAttrFlags];
    stmt->attributeValues[kBaseAttrFlags] = flags & ~kBaseStmtFlagRetrieveData;
    uint16_t* status = stmt->ird != nullptr ? stmt->ird->arrayStatusPtr : nullptr;
    uint16_t* extendedStatus = stmt->extendedFetchStatusArray;
    if (stmt->ird != nullptr)
        stmt->ird->arrayStatusPtr = nullptr;
    stmt->extendedFetchStatusArray = nullptr;
    uint64_t rows = 0;
    int16_t noData = 0;
    const int16_t failed = stmt->fetchCore(orientation, row, 1, kBaseFetchScroll, &rows, &noData);
    stmt->attributeValues[kBaseAttrFlags] = flags;
    if (stmt->ird != nullptr)
        stmt->ird->arrayStatusPtr = status;
    stmt->extendedFetchStatusArray = extendedStatus;
    if (failed != 0)
        return SQL_ERROR;
    return noData != 0 ? SQL_NO_DATA : SQL_SUCCESS;
}

SQLRETURN xpstStatementGetData(BaseStatement* stmt, SQLUSMALLINT column, SQLSMALLINT cType, void* buffer,
                               SQLLEN capacity, SQLLEN* indicator) noexcept
{
    bool continuing = false;
    if (column != stmt->getDataColumn || cType != stmt->getDataCType) {
        stmt->getDataColumn = column;
        stmt->getDataColumnDone = false;
        stmt->getDataConsumed = 0;
        stmt->getDataCType = cType;
        stmt->resetLongData();
    } else if (stmt->getDataColumnDone) {
        *indicator = 0;
        return SQL_NO_DATA;
    } else {
        continuing = stmt->getDataReturned != 0;
    }
    int64_t length = 0;
    BaseOutString out(buffer, static_cast<int64_t>(capacity), &length, &length);
    if (stmt->getDataCore(column, cType, &out, continuing, 0) != 0) {
        stmt->getDataColumnDone = true;
        return SQL_ERROR;
    }
    *indicator = static_cast<SQLLEN>(length);
    const bool variable = cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY;
    const int64_t terminator = cType == SQL_C_WCHAR ? 2 : cType == SQL_C_CHAR ? 1 : 0;
    if (!variable || length == SQL_NULL_DATA || stmt->advanceLongData(capacity - terminator) == 0) {
        stmt->getDataColumnDone = true;
        stmt->resetLongData();
        return SQL_SUCCESS;
    }
    return SQL_SUCCESS_WITH_INFO;
}

void xpstStatementReadDone(BaseStatement* stmt) noexcept
{
    stmt->getDataColumn = 0;
    stmt->getDataColumnDone = false;
    stmt->resetLongData();
}

int16_t xpstPersistStatement(BaseStatement* stmt, const uint16_t* path, int32_t length, int32_t mode) noexcept
{
    BaseConnection* conn = stmt->connection;
    XPstResultSource source{};
    source.context = stmt;
    source.columnCount = columnCount;
    source.describeColumn = describeColumn;
    source.rowNumber = rowNumber;
    source.fetch = fetch;
    source.getData = getData;
    source.setRowTotal = nullptr;
    source.wideCharacters = 1;
    source.longColumnBuffer = conn != nullptr && conn->staticCursorLongColBuffLen > 0
                                  ? static_cast<int64_t>(conn->staticCursorLongColBuffLen)
                                  : XPST_DEFAULT_LONG_COLUMN_BUFFER;
    const int64_t keptEncoding = conn != nullptr ? conn->wideCharCodePage : 0;
    // SQL_C_WCHAR values are read as UTF-16LE whatever the application's
    // SQLWCHAR encoding, since that is what the writer turns into UTF-8.
    if (conn != nullptr)
        conn->wideCharCodePage = kCodePageUtf16LE;
    const int failed = xmlPersistResult(source, path, length, mode);
    if (conn != nullptr)
        conn->wideCharCodePage = keptEncoding;
    xpstStatementReadDone(stmt);
    return failed != 0 ? 1 : 0;
}
