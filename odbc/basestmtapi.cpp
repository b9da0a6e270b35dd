// The statement-level ODBC functions of BaseStatement as the exports reach
// them on a statement that the driver cannot run yet: each refuses with a
// diagnostic on the statement's list. SQL_DROP frees the statement.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/kaerror.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "foundation/ram.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "sql/basesql.h"

namespace {

// Inside the call frame, so that a refused call is locked, counted and
// reported as every other statement call.
int16_t refuse(BaseStatement* stmt) noexcept
{
    if (stmt->enterFunction(0) == 0) {
        BaseConnection* conn = stmt->connection;
        if (conn == nullptr || !conn->isConnected())
            basePostNotConnected();
        else
            basePostErrorMsg(kBaseIdxNotSupported, MSG_FUNCTION_NOT_AVAILABLE);
    }
    return stmt->exitFunction(SQL_ERROR);
}

// The row and parameter array attributes and the fetch settings that
// binding and fetch read: where each lives (a descriptor header field or a
// statement attribute value). Null for the other attributes.
struct ArrayAttribute {
    int64_t* number = nullptr;  // a number attribute
    void** pointer = nullptr;   // a pointer attribute
};

ArrayAttribute arrayAttribute(BaseStatement* stmt, int32_t attribute) noexcept
{
    ArrayAttribute a;
    BaseAXD* ard = stmt->currentArd;
    BaseAXD* apd = stmt->currentApd;
    BaseIRD* ird = stmt->ird;
    BaseIPD* ipd = stmt->ipd;
    switch (attribute) {
    case SQL_ATTR_ROW_ARRAY_SIZE: a.number = ard != nullptr ? &ard->arraySize : nullptr; break;
    case SQL_ATTR_ROW_BIND_TYPE: a.number = ard != nullptr ? &ard->bindType : nullptr; break;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
        a.pointer = ard != nullptr ? reinterpret_cast<void**>(&ard->bindOffsetPtr) : nullptr;
        break;
    case SQL_ATTR_ROW_OPERATION_PTR:
        a.pointer = ard != nullptr ? reinterpret_cast<void**>(&ard->arrayStatusPtr) : nullptr;
        break;
    case SQL_ATTR_ROW_STATUS_PTR:
        a.pointer = ird != nullptr ? reinterpret_cast<void**>(&ird->arrayStatusPtr) : nullptr;
        break;
    case SQL_ATTR_ROWS_FETCHED_PTR:
        a.pointer = ird != nullptr ? reinterpret_cast<void**>(&ird->rowsProcessedPtr) : nullptr;
        break;
    case SQL_ATTR_PARAMSET_SIZE: a.number = apd != nullptr ? &apd->arraySize : nullptr; break;
    case SQL_ATTR_PARAM_BIND_TYPE: a.number = apd != nullptr ? &apd->bindType : nullptr; break;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
        a.pointer = apd != nullptr ? reinterpret_cast<void**>(&apd->bindOffsetPtr) : nullptr;
        break;
    case SQL_ATTR_PARAM_OPERATION_PTR:
        a.pointer = apd != nullptr ? reinterpret_cast<void**>(&apd->arrayStatusPtr) : nullptr;
        break;
    case SQL_ATTR_PARAM_STATUS_PTR:
        a.pointer = ipd != nullptr ? reinterpret_cast<void**>(&ipd->arrayStatusPtr) : nullptr;
        break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
        a.pointer = ipd != nullptr ? reinterpret_cast<void**>(&ipd->rowsProcessedPtr) : nullptr;
        break;
    case SQL_ROWSET_SIZE: a.number = &stmt->attributeValues[kBaseAttrRowsetSize]; break;
    case SQL_ATTR_MAX_LENGTH: a.number = &stmt->attributeValues[kBaseAttrMaxLength]; break;
    case SQL_ATTR_MAX_ROWS: a.number = &stmt->attributeValues[kBaseAttrMaxRows]; break;
    case SQL_ATTR_CURSOR_TYPE: a.number = &stmt->attributeValues[kBaseAttrCursorType]; break;
    case SQL_ATTR_CONCURRENCY: a.number = &stmt->attributeValues[kBaseAttrConcurrency]; break;
    default: break;
    }
    return a;
}

}  // namespace

int16_t BaseStatement::bindParameter(uint16_t, int16_t, int16_t, int16_t, uint64_t, int16_t, void*, int64_t,
                                     int64_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::bulkOperations(int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::cancel() noexcept
{
    return refuse(this);
}

int16_t BaseStatement::columnPrivileges(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                        const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::columns(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                               const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::describeParam(uint16_t, int16_t*, uint64_t*, int16_t*, int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::foreignKeys(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                   const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                   int16_t) noexcept
{
    return refuse(this);
}

// The least of closing that prepare, execute and fetch need: the cursor
// closes back to the prepared text (or to nothing after SQLExecDirect), and
// a reset drops the text as well.
int16_t BaseStatement::closeCursor() noexcept
{
    const int16_t hook = closeCursorHook();
    getDataColumn = 0;
    getDataColumnDone = false;
    getDataConsumed = 0;
    resetLongData();
    currentRow = 0;
    rowsetPosition = 0;
    rowsetRowCount = 0;
    endOfDataReached = false;
    lastRowCache = -1;
    lastPositionedRow = 0;
    fullGetDataPath = false;
    if (statementState >= kBaseStmtExecuted || statementState == kBaseStmtNeedData ||
        statementState == kBaseStmtMustPutData || statementState == kBaseStmtPuttingData)
        setExecState(executionMode == 1 ? kBaseStmtPrepared : kBaseStmtAllocated);
    return hook != 0 ? 1 : 0;
}

int16_t BaseStatement::resetStatement() noexcept
{
    int16_t rc = closeCursor();
    if (freeResultsHook(false) != 0)
        rc = 1;
    clearResultDescription();
    ramFree(savedSqlText);
    savedSqlText = nullptr;
    savedSqlLength = 0;
    delete sqlTextCopy;
    sqlTextCopy = nullptr;
    markerCount = 0;
    returnValueParam = false;
    forUpdateClause = false;
    positionedKeys = false;
    preparedSinceExecute = false;
    refersToCursor = 0;
    statementKind = 0;
    executionMode = 0;
    rowCount = -1;
    rowCountValid = false;
    setExecState(kBaseStmtAllocated);
    return rc;
}

int16_t BaseStatement::closeCursorApi() noexcept
{
    if (enterFunction(SQL_API_SQLCLOSECURSOR) != 0)
        return exitFunction(SQL_ERROR);
    if (statementState != kBaseStmtCursorOpen) {
        basePostError(kBaseIdxCursorState);
        return exitFunction(SQL_ERROR);
    }
    return exitFunction(closeCursor() != 0 ? SQL_ERROR : SQL_SUCCESS);
}

int16_t BaseStatement::freeStmt(uint16_t option) noexcept
{
    if (enterFunction(SQL_API_SQLFREESTMT) != 0)
        return exitFunction(SQL_ERROR);
    switch (option) {
    case SQL_DROP: {
        // An executed statement's driver closes what it holds on the server.
        if (statementState >= kBaseStmtExecuted)
            (void)closeCursor();
        (void)freeResultsHook(true);
        const int16_t rc = exitFunction(SQL_SUCCESS);
        delete this;
        return rc;
    }
    case SQL_CLOSE:
        if (statementState == kBaseStmtCursorOpen && closeCursor() != 0)
            return exitFunction(SQL_ERROR);
        return exitFunction(SQL_SUCCESS);
    case SQL_UNBIND: return exitFunction(unbindAll() != 0 ? SQL_ERROR : SQL_SUCCESS);
    case SQL_RESET_PARAMS:
        if (currentApd != nullptr)
            for (int64_t i = 1; i <= currentApd->count(); ++i)
                if (BaseAXDRecord* r = currentApd->axdRecord(i); r != nullptr)
                    r->dataPtr = nullptr, r->indicatorPtr = nullptr, r->octetLengthPtr = nullptr;
        return exitFunction(resetParamsHook(0) != 0 ? SQL_ERROR : SQL_SUCCESS);
    default: basePostError(kBaseIdxNotSupported); return exitFunction(SQL_ERROR);
    }
}

int16_t BaseStatement::getCursorName(uint16_t*, int16_t, int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::getStmtAttr(int32_t attribute, void* value, int32_t, int32_t* stringLength) noexcept
{
    // The statement's descriptor handles, which a driver manager asks for
    // as soon as the statement exists; the other attributes are refused.
    BaseDescriptor* desc = nullptr;
    switch (attribute) {
    case SQL_ATTR_APP_ROW_DESC: desc = currentArd; break;
    case SQL_ATTR_APP_PARAM_DESC: desc = currentApd; break;
    case SQL_ATTR_IMP_ROW_DESC: desc = ird; break;
    case SQL_ATTR_IMP_PARAM_DESC: desc = ipd; break;
    default: {
        const ArrayAttribute a = arrayAttribute(this, attribute);
        if (a.number == nullptr && a.pointer == nullptr)
            return refuse(this);
        if (enterFunction(SQL_API_SQLGETSTMTATTR) != 0)
            return exitFunction(SQL_ERROR);
        if (value == nullptr)
            return exitFunction(SQL_SUCCESS);
        if (attribute == SQL_ATTR_ROW_STATUS_PTR && extendedFetchMode)
            *static_cast<void**>(value) = extendedFetchStatusArray;
        else if (a.pointer != nullptr)
            *static_cast<void**>(value) = *a.pointer;
        else
            *static_cast<SQLULEN*>(value) = static_cast<SQLULEN>(*a.number);
        return exitFunction(SQL_SUCCESS);
    }
    }
    if (enterFunction(SQL_API_SQLGETSTMTATTR) != 0)
        return exitFunction(SQL_ERROR);
    if (value != nullptr)
        *static_cast<SQLHDESC*>(value) = desc;
    if (stringLength != nullptr)
        *stringLength = static_cast<int32_t>(sizeof(SQLHDESC));
    return exitFunction(SQL_SUCCESS);
}

int16_t BaseStatement::getTypeInfo(int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::numParams(int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::paramData(void**) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::primaryKeys(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                   int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::procedureColumns(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                        const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::procedures(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::putData(void*, int64_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::setCursorName(const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::setPos(uint64_t, uint16_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::setScrollOptions(uint16_t, int64_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::setStmtAttr(int32_t attribute, void* value, int32_t) noexcept
{
    // An application descriptor of the connection replaces the statement's
    // own (null gives it back); the other attributes are refused.
    if (attribute != SQL_ATTR_APP_ROW_DESC && attribute != SQL_ATTR_APP_PARAM_DESC) {
        const ArrayAttribute a = arrayAttribute(this, attribute);
        if (a.number == nullptr && a.pointer == nullptr)
            return refuse(this);
        if (enterFunction(SQL_API_SQLSETSTMTATTR) != 0)
            return exitFunction(SQL_ERROR);
        if (a.pointer != nullptr) {
            *a.pointer = value;
            return exitFunction(SQL_SUCCESS);
        }
        auto number = static_cast<int64_t>(reinterpret_cast<uintptr_t>(value));
        if (attribute == SQL_ATTR_CURSOR_TYPE && number != SQL_CURSOR_FORWARD_ONLY &&
            !(number == SQL_CURSOR_STATIC && connection != nullptr && connection->staticCursorOps != 0)) {
            // Only the cursors the driver keeps; the others become forward-only.
            number = SQL_CURSOR_FORWARD_ONLY;
            basePostWarning(kBaseIdxOptionChanged);
        }
        if (attribute == SQL_ATTR_CONCURRENCY && number != SQL_CONCUR_READ_ONLY) {
            number = SQL_CONCUR_READ_ONLY;
            basePostWarning(kBaseIdxOptionChanged);
        }
        if (attribute == SQL_ATTR_CURSOR_TYPE || attribute == SQL_ATTR_ROW_ARRAY_SIZE || attribute == SQL_ROWSET_SIZE) {
            if (statementState == kBaseStmtCursorOpen && attribute == SQL_ATTR_CURSOR_TYPE) {
                basePostError(kBaseIdxCursorState);
                return exitFunction(SQL_ERROR);
            }
        }
        *a.number = number;
        return exitFunction(SQL_SUCCESS);
    }
    if (enterFunction(SQL_API_SQLSETSTMTATTR) != 0)
        return exitFunction(SQL_ERROR);
    const bool rows = attribute == SQL_ATTR_APP_ROW_DESC;
    BaseAXD* chosen = rows ? implicitArd : implicitApd;
    if (value != nullptr) {
        auto* given = dynamic_cast<BaseAXD*>(static_cast<KaObject*>(value));
        const bool explicitOne = given != nullptr && given->autoAllocated == 0 && given->connection == connection;
        if (!explicitOne && given != static_cast<BaseDescriptor*>(chosen)) {
            basePostErrorMsg(kBaseIdxGeneralError, MSG_AUTOMATIC_DESCRIPTOR)->setSqlstate("HY017");
            return exitFunction(SQL_ERROR);
        }
        chosen = given;
    }
    {
        // Freeing an explicit descriptor reads the current ones under it.
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        if (rows) {
            if (currentArd != chosen)
                bindingsChanged = true;
            currentArd = chosen;
        } else {
            currentApd = chosen;
        }
    }
    return exitFunction(SQL_SUCCESS);
}

int16_t BaseStatement::specialColumns(uint16_t, const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                      int16_t, uint16_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::statistics(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                  uint16_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::tablePrivileges(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                       int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::tables(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                              const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}
