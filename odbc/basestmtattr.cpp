// Statement attributes: SQLGetStmtAttr, SQLSetStmtAttr and
// SQLSetScrollOptions, where each attribute is kept (the statement's value
// block or a header field of one of its descriptors), and which values are
// taken or replaced with a warning. Drivers refuse or handle attributes of
// their own in getStmtAttrHook/setStmtAttrHook and pass the rest here.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/kaerror.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basedriverattr.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

// What the driver offers, as SQL_SCROLL_OPTIONS and SQL_SCROLL_CONCURRENCY
// bits, from the cursor capabilities its connection settled. The framework
// keeps no updatable cursor, so read-only is the one concurrency.
struct ScrollSupport {
    uint32_t options = SQL_SO_FORWARD_ONLY;
    uint32_t concurrency = SQL_SCCO_READ_ONLY;
};

ScrollSupport scrollSupport(const BaseConnection* conn) noexcept
{
    ScrollSupport s;
    if (conn == nullptr)
        return s;
    if (conn->keysetCursorOps != 0)
        s.options |= SQL_SO_KEYSET_DRIVEN;
    if (conn->dynamicCursorOps != 0)
        s.options |= SQL_SO_DYNAMIC;
    if (conn->staticCursorOps != 0)
        s.options |= SQL_SO_STATIC;
    return s;
}

bool scrollable(const BaseConnection* conn) noexcept
{
    return conn != nullptr && (conn->keysetCursorOps != 0 || conn->dynamicCursorOps != 0 || conn->staticCursorOps != 0);
}

// Whether the driver serves the attribute, and its maximum (0: none).
bool attributeSupported(const BaseConnection* conn, int32_t attribute, uint64_t* maximum) noexcept
{
    *maximum = 0;
    switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT: return conn == nullptr || conn->queryTimeoutSupported != 0;
    case SQL_ATTR_ASYNC_ENABLE: return conn != nullptr && conn->enableAsyncSupport != 0;
    case SQL_ROWSET_SIZE:
    case SQL_ATTR_ROW_ARRAY_SIZE: *maximum = conn != nullptr ? conn->maxRowsetSize : 0; return true;
    // Every cursor has bookmarks of some kind (forward-only ones the row
    // numbers); fetching by bookmark needs a scrollable one.
    case SQL_ATTR_USE_BOOKMARKS:
    case SQL_GET_BOOKMARK: return true;
    case SQL_ATTR_FETCH_BOOKMARK_PTR:
    case SQL_ATTR_CURSOR_SCROLLABLE: return scrollable(conn);
    case SQL_ATTR_MAX_ROWS:
    case SQL_ATTR_MAX_LENGTH:
    case SQL_ATTR_PARAMSET_SIZE:
    case SQL_ATTR_SIMULATE_CURSOR:
    case SQL_ATTR_CURSOR_SENSITIVITY: return true;
    default: return baseStmtAttrAlwaysServed(attribute);
    }
}

// The attributes that are pointers (or descriptor handles) rather than
// numbers.
bool pointerAttribute(int32_t attribute) noexcept
{
    switch (attribute) {
    case SQL_ATTR_FETCH_BOOKMARK_PTR:
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
    case SQL_ATTR_PARAM_OPERATION_PTR:
    case SQL_ATTR_PARAM_STATUS_PTR:
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
    case SQL_ATTR_ROW_OPERATION_PTR:
    case SQL_ATTR_ROW_STATUS_PTR:
    case SQL_ATTR_ROWS_FETCHED_PTR:
    case SQL_ATTR_APP_ROW_DESC:
    case SQL_ATTR_APP_PARAM_DESC:
    case SQL_ATTR_IMP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC: return true;
    default: return false;
    }
}

int64_t flagValue(const BaseStatement* stmt, int64_t bit) noexcept
{
    return (stmt->attributeValues[kBaseAttrFlags] & bit) != 0 ? 1 : 0;
}

void setFlag(BaseStatement* stmt, int64_t bit, int64_t value) noexcept
{
    if (value == 1)
        stmt->attributeValues[kBaseAttrFlags] |= bit;
    else
        stmt->attributeValues[kBaseAttrFlags] &= ~bit;
}

// The cursor type a requested one becomes on this driver.
int64_t substituteCursorType(const BaseConnection* conn, int64_t type, uint32_t options) noexcept
{
    const bool keyset = (options & SQL_SO_KEYSET_DRIVEN) != 0;
    const bool isStatic = (options & SQL_SO_STATIC) != 0;
    const bool dynamic = (options & (SQL_SO_DYNAMIC | SQL_SO_MIXED)) != 0;
    switch (type) {
    case SQL_CURSOR_DYNAMIC:
        if (dynamic)
            return type;
        return keyset ? SQL_CURSOR_KEYSET_DRIVEN : isStatic ? SQL_CURSOR_STATIC : SQL_CURSOR_FORWARD_ONLY;
    case SQL_CURSOR_KEYSET_DRIVEN:
        if (keyset)
            return type;
        return isStatic ? SQL_CURSOR_STATIC : SQL_CURSOR_FORWARD_ONLY;
    case SQL_CURSOR_STATIC:
        if (isStatic)
            return type;
        return conn != nullptr && conn->staticToKeyset != 0 && keyset ? SQL_CURSOR_KEYSET_DRIVEN
                                                                      : SQL_CURSOR_FORWARD_ONLY;
    default: return SQL_CURSOR_FORWARD_ONLY;
    }
}

int64_t substituteConcurrency(int64_t value, uint32_t bits) noexcept
{
    const bool lock = (bits & SQL_SCCO_LOCK) != 0;
    const bool rowver = (bits & SQL_SCCO_OPT_ROWVER) != 0;
    const bool values = (bits & SQL_SCCO_OPT_VALUES) != 0;
    switch (value) {
    case SQL_CONCUR_LOCK:
        if (lock)
            return value;
        return rowver ? SQL_CONCUR_ROWVER : values ? SQL_CONCUR_VALUES : SQL_CONCUR_READ_ONLY;
    case SQL_CONCUR_ROWVER:
        if (rowver)
            return value;
        return values ? SQL_CONCUR_VALUES : SQL_CONCUR_READ_ONLY;
    case SQL_CONCUR_VALUES:
        if (values)
            return value;
        return rowver ? SQL_CONCUR_ROWVER : SQL_CONCUR_READ_ONLY;
    default: return SQL_CONCUR_READ_ONLY;
    }
}

}  // namespace

int64_t BaseStatement::getDescriptorBackedAttr(int32_t attribute) noexcept
{
    BaseAXD* ard = currentArd;
    BaseAXD* apd = currentApd;
    const bool statusFromExtendedFetch = extendedFetchMode && extendedFetchStatusArray != nullptr;
    auto ptr = [](const void* p) { return static_cast<int64_t>(reinterpret_cast<uintptr_t>(p)); };
    switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT: return attributeValues[kBaseAttrQueryTimeout];
    case SQL_ATTR_MAX_ROWS: return attributeValues[kBaseAttrMaxRows];
    case SQL_ATTR_NOSCAN: return flagValue(this, kBaseStmtFlagNoScan);
    case SQL_ATTR_MAX_LENGTH: return attributeValues[kBaseAttrMaxLength];
    case SQL_ATTR_ASYNC_ENABLE: return flagValue(this, kBaseStmtFlagAsync);
    case SQL_ATTR_ROW_BIND_TYPE: return ard != nullptr ? ard->bindType : 0;
    case SQL_ATTR_CURSOR_TYPE: return attributeValues[kBaseAttrCursorType];
    case SQL_ATTR_CONCURRENCY: return attributeValues[kBaseAttrConcurrency];
    case SQL_ATTR_KEYSET_SIZE: return attributeValues[kBaseAttrKeysetSize];
    case SQL_ROWSET_SIZE: return attributeValues[kBaseAttrRowsetSize];
    case SQL_ATTR_RETRIEVE_DATA: return flagValue(this, kBaseStmtFlagRetrieveData);
    case SQL_ATTR_USE_BOOKMARKS: return attributeValues[kBaseAttrUseBookmarks];
    case SQL_ATTR_FETCH_BOOKMARK_PTR: return attributeValues[kBaseAttrFetchBookmarkPtr];
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR: return apd != nullptr ? ptr(apd->bindOffsetPtr) : 0;
    case SQL_ATTR_PARAM_BIND_TYPE: return apd != nullptr ? apd->bindType : 0;
    case SQL_ATTR_PARAM_OPERATION_PTR:
        if (statusFromExtendedFetch)
            return ptr(extendedFetchStatusArray);
        return apd != nullptr ? ptr(apd->arrayStatusPtr) : 0;
    case SQL_ATTR_PARAM_STATUS_PTR:
        if (statusFromExtendedFetch)
            return ptr(extendedFetchStatusArray);
        return ipd != nullptr ? ptr(ipd->arrayStatusPtr) : 0;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: return ipd != nullptr ? ptr(ipd->rowsProcessedPtr) : 0;
    case SQL_ATTR_PARAMSET_SIZE: return apd != nullptr ? apd->arraySize : 1;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR: return ard != nullptr ? ptr(ard->bindOffsetPtr) : 0;
    case SQL_ATTR_ROW_OPERATION_PTR:
        if (statusFromExtendedFetch)
            return ptr(extendedFetchStatusArray);
        return ard != nullptr ? ptr(ard->arrayStatusPtr) : 0;
    case SQL_ATTR_ROW_STATUS_PTR:
        if (statusFromExtendedFetch)
            return ptr(extendedFetchStatusArray);
        return ird != nullptr ? ptr(ird->arrayStatusPtr) : 0;
    case SQL_ATTR_ROWS_FETCHED_PTR: return ird != nullptr ? ptr(ird->rowsProcessedPtr) : 0;
    case SQL_ATTR_ROW_ARRAY_SIZE: return ard != nullptr ? ard->arraySize : 1;
    case SQL_ATTR_CURSOR_SCROLLABLE:
        return attributeValues[kBaseAttrCursorType] != SQL_CURSOR_FORWARD_ONLY ? SQL_SCROLLABLE : SQL_NONSCROLLABLE;
    case SQL_ATTR_CURSOR_SENSITIVITY: return attributeValues[kBaseAttrCursorSensitivity];
    case SQL_ATTR_APP_ROW_DESC: return ptr(currentArd);
    case SQL_ATTR_APP_PARAM_DESC: return ptr(currentApd);
    case SQL_ATTR_IMP_ROW_DESC: return ptr(ird);
    case SQL_ATTR_IMP_PARAM_DESC: return ptr(ipd);
    case SQL_ATTR_METADATA_ID: return flagValue(this, kBaseStmtFlagMetadataId);
    default: return 0;
    }
}

void BaseStatement::setDescriptorBackedAttr(int32_t attribute, int64_t value) noexcept
{
    BaseAXD* ard = currentArd;
    BaseAXD* apd = currentApd;
    auto asPtr = [value]() { return reinterpret_cast<void*>(static_cast<uintptr_t>(value)); };
    switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT:
        if (connection == nullptr || connection->queryTimeoutIgnored == 0)
            attributeValues[kBaseAttrQueryTimeout] = value;
        break;
    case SQL_ATTR_MAX_ROWS: attributeValues[kBaseAttrMaxRows] = value; break;
    case SQL_ATTR_NOSCAN: setFlag(this, kBaseStmtFlagNoScan, value); break;
    case SQL_ATTR_MAX_LENGTH: attributeValues[kBaseAttrMaxLength] = value; break;
    case SQL_ATTR_ASYNC_ENABLE: setFlag(this, kBaseStmtFlagAsync, value); break;
    case SQL_ATTR_ROW_BIND_TYPE:
        if (ard != nullptr)
            ard->bindType = value;
        break;
    case SQL_ATTR_CURSOR_TYPE: attributeValues[kBaseAttrCursorType] = value; break;
    case SQL_ATTR_CONCURRENCY: attributeValues[kBaseAttrConcurrency] = value; break;
    case SQL_ROWSET_SIZE: attributeValues[kBaseAttrRowsetSize] = value; break;
    case SQL_ATTR_RETRIEVE_DATA: setFlag(this, kBaseStmtFlagRetrieveData, value); break;
    case SQL_ATTR_USE_BOOKMARKS: attributeValues[kBaseAttrUseBookmarks] = value; break;
    case SQL_ATTR_FETCH_BOOKMARK_PTR: attributeValues[kBaseAttrFetchBookmarkPtr] = value; break;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
        if (apd != nullptr)
            apd->bindOffsetPtr = static_cast<int64_t*>(asPtr());
        break;
    case SQL_ATTR_PARAM_BIND_TYPE:
        if (apd != nullptr)
            apd->bindType = value;
        break;
    case SQL_ATTR_PARAM_OPERATION_PTR:
        if (apd != nullptr)
            apd->arrayStatusPtr = static_cast<uint16_t*>(asPtr());
        break;
    case SQL_ATTR_PARAM_STATUS_PTR:
        if (ipd != nullptr)
            ipd->arrayStatusPtr = static_cast<uint16_t*>(asPtr());
        break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
        if (ipd != nullptr)
            ipd->rowsProcessedPtr = static_cast<uint64_t*>(asPtr());
        break;
    case SQL_ATTR_PARAMSET_SIZE:
        if (apd != nullptr)
            apd->arraySize = value;
        break;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
        if (ard != nullptr)
            ard->bindOffsetPtr = static_cast<int64_t*>(asPtr());
        break;
    case SQL_ATTR_ROW_OPERATION_PTR:
        if (ard != nullptr)
            ard->arrayStatusPtr = static_cast<uint16_t*>(asPtr());
        break;
    case SQL_ATTR_ROW_STATUS_PTR:
        if (ird != nullptr)
            ird->arrayStatusPtr = static_cast<uint16_t*>(asPtr());
        break;
    case SQL_ATTR_ROWS_FETCHED_PTR:
        if (ird != nullptr)
            ird->rowsProcessedPtr = static_cast<uint64_t*>(asPtr());
        break;
    case SQL_ATTR_ROW_ARRAY_SIZE:
        if (ard != nullptr)
            ard->arraySize = value;
        break;
    case SQL_ATTR_CURSOR_SENSITIVITY: attributeValues[kBaseAttrCursorSensitivity] = value; break;
    case SQL_ATTR_METADATA_ID: setFlag(this, kBaseStmtFlagMetadataId, value); break;
    default: break;
    }
}

int16_t BaseStatement::getStmtAttr(int32_t attribute, void* value, int32_t bufferLength, int32_t* stringLength) noexcept
{
    return runFunction(SQL_API_SQLGETSTMTATTR, [&]() -> int16_t {
        if (attribute == SQL_GET_BOOKMARK || attribute == SQL_ROW_NUMBER) {
            if (statementState != kBaseStmtCursorOpen || currentRow == 0 || currentRow == -1) {
                basePostError(kBaseIdxCursorState);
                return SQL_ERROR;
            }
            if (attribute == SQL_ROW_NUMBER) {
                if (value != nullptr)
                    *static_cast<SQLULEN*>(value) =
                        static_cast<SQLULEN>(currentRow + static_cast<int64_t>(rowsetPosition));
                return SQL_SUCCESS;
            }
            if (attributeValues[kBaseAttrUseBookmarks] == SQL_UB_OFF) {
                basePostError(MSG_SQLSTATE_ATTRIBUTE_CANNOT_BE_SET_NOW);
                return SQL_ERROR;
            }
            // The bookmark is the row number.
            if (value != nullptr)
                *static_cast<SQLULEN*>(value) = static_cast<SQLULEN>(currentRow + static_cast<int64_t>(rowsetPosition));
            if (stringLength != nullptr)
                *stringLength = static_cast<int32_t>(sizeof(SQLULEN));
            return SQL_SUCCESS;
        }
        if (baseGetDriverStmtAttr(this, attribute, value, stringLength) == 0)
            return SQL_SUCCESS;
        return getStmtAttrHook(attribute, value, bufferLength, stringLength) != 0 ? SQL_ERROR : SQL_SUCCESS;
    });
}

int16_t BaseStatement::getStmtAttrHook(int32_t attribute, void* value, int32_t, int32_t* stringLength) noexcept
{
    uint64_t maximum = 0;
    if (!attributeSupported(connection, attribute, &maximum) || attribute == SQL_GET_BOOKMARK) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    if (value == nullptr)
        return 0;
    // Every attribute of the table is an SQLULEN or a pointer: written
    // whole, so that no half of the application's word is left as it was.
    const int64_t v = getDescriptorBackedAttr(attribute);
    if (pointerAttribute(attribute))
        *static_cast<void**>(value) = reinterpret_cast<void*>(static_cast<uintptr_t>(v));
    else
        *static_cast<SQLULEN*>(value) = static_cast<SQLULEN>(v);
    if (stringLength != nullptr)
        *stringLength = static_cast<int32_t>(sizeof(SQLULEN));
    return 0;
}

int16_t BaseStatement::setStmtAttr(int32_t attribute, void* value, int32_t length) noexcept
{
    return runFunction(SQL_API_SQLSETSTMTATTR, [&]() -> int16_t {
        bool record = true;
        int16_t failed = baseSetDriverStmtAttr(this, attribute, value, length, &record);
        if (failed < 0)
            failed = setStmtAttrHook(attribute, value, length) != 0 ? 1 : 0;
        if (failed == 0 && record)
            baseRecordStmtAttr(this, attribute, value, length);
        return failed != 0 ? SQL_ERROR : SQL_SUCCESS;
    });
}

int16_t BaseStatement::setStmtAttrHook(int32_t attribute, void* value, int32_t length) noexcept
{
    uint64_t maximum = 0;
    if (!attributeSupported(connection, attribute, &maximum) || attribute == SQL_GET_BOOKMARK ||
        attribute == SQL_ATTR_IMP_ROW_DESC || attribute == SQL_ATTR_IMP_PARAM_DESC) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    if (attribute == SQL_ATTR_APP_ROW_DESC || attribute == SQL_ATTR_APP_PARAM_DESC)
        return setAppDescriptor(attribute == SQL_ATTR_APP_ROW_DESC, value);
    if (pointerAttribute(attribute)) {
        setDescriptorBackedAttr(attribute, static_cast<int64_t>(reinterpret_cast<uintptr_t>(value)));
        return 0;
    }
    (void)length;
    int64_t number = static_cast<int64_t>(reinterpret_cast<uintptr_t>(value));
    if (maximum != 0 && static_cast<uint64_t>(number) > maximum) {
        basePostWarning(kBaseIdxOptionChanged);
        number = static_cast<int64_t>(maximum);
    }
    const ScrollSupport support = scrollSupport(connection);
    switch (attribute) {
    case SQL_ATTR_CURSOR_TYPE:
    case SQL_ATTR_CONCURRENCY:
    case SQL_ATTR_CURSOR_SCROLLABLE:
    case SQL_ATTR_CURSOR_SENSITIVITY:
    case SQL_ATTR_USE_BOOKMARKS:
    case SQL_ROWSET_SIZE:
        // The cursor an open result was made with stays as it is.
        if (statementState == kBaseStmtCursorOpen && attribute != SQL_ROWSET_SIZE) {
            basePostError(kBaseIdxCursorState);
            return 1;
        }
        break;
    default: break;
    }
    switch (attribute) {
    case SQL_ATTR_CONCURRENCY: {
        const int64_t chosen = substituteConcurrency(number, support.concurrency);
        if (chosen != number)
            basePostWarning(kBaseIdxOptionChanged);
        number = chosen;
        break;
    }
    case SQL_ATTR_CURSOR_TYPE: {
        const int64_t chosen = substituteCursorType(connection, number, support.options);
        if (chosen != number)
            basePostWarning(kBaseIdxOptionChanged);
        number = chosen;
        break;
    }
    case SQL_ATTR_CURSOR_SCROLLABLE: {
        const bool isScrollable = attributeValues[kBaseAttrCursorType] != SQL_CURSOR_FORWARD_ONLY;
        if (number != SQL_NONSCROLLABLE && !isScrollable) {
            int64_t type = -1;
            if ((support.options & (SQL_SO_DYNAMIC | SQL_SO_MIXED)) != 0)
                type = SQL_CURSOR_DYNAMIC;
            else if ((support.options & SQL_SO_KEYSET_DRIVEN) != 0)
                type = SQL_CURSOR_KEYSET_DRIVEN;
            else if ((support.options & SQL_SO_STATIC) != 0)
                type = SQL_CURSOR_STATIC;
            if (type < 0)
                basePostWarning(kBaseIdxOptionChanged);
            else
                return setStmtAttrHook(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(type), 0);
        } else if (number == SQL_NONSCROLLABLE && isScrollable) {
            return setStmtAttrHook(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(SQL_CURSOR_FORWARD_ONLY), 0);
        }
        return 0;
    }
    case SQL_ATTR_CURSOR_SENSITIVITY:
        if (number == SQL_INSENSITIVE) {
            if ((support.options & SQL_SO_STATIC) == 0) {
                basePostWarning(kBaseIdxOptionChanged);
                return 0;
            }
            if (setStmtAttrHook(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(SQL_CURSOR_STATIC), 0) != 0 ||
                setStmtAttrHook(SQL_ATTR_CONCURRENCY, reinterpret_cast<void*>(SQL_CONCUR_READ_ONLY), 0) != 0)
                return 1;
        } else if (number == SQL_SENSITIVE) {
            // No cursor of the framework sees other transactions' changes.
            basePostWarning(kBaseIdxOptionChanged);
            return 0;
        } else if (number == SQL_UNSPECIFIED) {
            // The first cursor every driver has, read only.
            setDescriptorBackedAttr(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);
            setDescriptorBackedAttr(SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY);
        } else {
            basePostWarning(kBaseIdxOptionChanged);
            return 0;
        }
        break;
    case SQL_ATTR_USE_BOOKMARKS:
        if (number < 0 || number > static_cast<int64_t>(SQL_UB_VARIABLE)) {
            basePostWarning(kBaseIdxOptionChanged);
            return 0;
        }
        if (number != SQL_UB_OFF && !bookmarksServed()) {
            basePostWarning(kBaseIdxOptionChanged);
            number = SQL_UB_OFF;
        }
        break;
    case SQL_ATTR_KEYSET_SIZE:
    case SQL_ATTR_SIMULATE_CURSOR:
        if (number != 0)
            basePostWarning(kBaseIdxOptionChanged);
        return 0;
    default: break;
    }
    setDescriptorBackedAttr(attribute, number);
    if (attribute == SQL_ATTR_USE_BOOKMARKS && number != SQL_UB_OFF)
        describeBookmarkColumn();
    return 0;
}

int16_t BaseStatement::setAppDescriptor(bool rows, void* value) noexcept
{
    BaseAXD* chosen = rows ? implicitArd : implicitApd;
    // Freeing an explicit descriptor reads the current ones under this lock.
    KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
    if (value != nullptr && value != static_cast<void*>(chosen)) {
        // The value is looked up by its address among the connection's
        // descriptors before anything reads it: a stray pointer is refused,
        // not followed.
        BaseAXD* given = nullptr;
        if (connection != nullptr) {
            KaNode* node = connection->descriptors.first();
            for (size_t i = 0; i < connection->descriptors.count && node != nullptr; ++i, node = node->next)
                if (static_cast<void*>(static_cast<BaseDescriptor*>(node)) == value)
                    given = dynamic_cast<BaseAXD*>(static_cast<BaseDescriptor*>(node));
        }
        // Any statement's automatic descriptor, this one's or another's, is
        // known by its address alone: the statements themselves are not read,
        // since other threads may be making them.
        if (given == nullptr && BaseDescriptor::isAutomaticHandle(value)) {
            basePostErrorMsg(kBaseIdxGeneralError, MSG_AUTOMATIC_DESCRIPTOR)->setSqlstate("HY017");
            return 1;
        }
        if (given == nullptr || given->autoAllocated != 0) {
            basePostError(MSG_SQLSTATE_INVALID_ATTRIBUTE_VALUE);
            return 1;
        }
        chosen = given;
    }
    if (rows) {
        if (currentArd != chosen)
            bindingsChanged = true;
        currentArd = chosen;
        refreshBoundColumns();
    } else {
        currentApd = chosen;
    }
    return 0;
}

void BaseStatement::refreshBoundColumns() noexcept
{
    uint16_t highest = 0;
    if (currentArd != nullptr)
        for (int64_t i = currentArd->count(); i >= 1; --i) {
            const BaseAXDRecord* r = currentArd->axdRecord(i);
            if (r != nullptr && r->dataPtr != nullptr) {
                highest = static_cast<uint16_t>(i);
                break;
            }
        }
    if (highest != highestBoundColumn)
        bindingsChanged = true;
    highestBoundColumn = highest;
}

int16_t BaseStatement::setScrollOptions(uint16_t concurrency, int64_t keyset, uint16_t rowset) noexcept
{
    return runFunction(SQL_API_SQLSETSCROLLOPTIONS, [&]() -> int16_t {
        return checkScrollOptions(concurrency, keyset, rowset) != 0 ? SQL_ERROR : SQL_SUCCESS;
    });
}

int16_t BaseStatement::checkScrollOptions(uint16_t concurrency, int64_t keyset, uint16_t rowset) noexcept
{
    const ScrollSupport support = scrollSupport(connection);
    static constexpr uint32_t kConcurrencyBits[] = {0, SQL_SCCO_READ_ONLY, SQL_SCCO_LOCK, SQL_SCCO_OPT_ROWVER,
                                                    SQL_SCCO_OPT_VALUES};
    if (concurrency < SQL_CONCUR_READ_ONLY || concurrency > SQL_CONCUR_VALUES ||
        (support.concurrency & kConcurrencyBits[concurrency]) == 0) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    uint32_t needed = 0;
    int64_t type = SQL_CURSOR_KEYSET_DRIVEN;
    switch (keyset) {
    case SQL_SCROLL_FORWARD_ONLY: needed = SQL_SO_FORWARD_ONLY, type = SQL_CURSOR_FORWARD_ONLY; break;
    case SQL_SCROLL_KEYSET_DRIVEN: needed = SQL_SO_KEYSET_DRIVEN, type = SQL_CURSOR_KEYSET_DRIVEN; break;
    case SQL_SCROLL_DYNAMIC: needed = SQL_SO_DYNAMIC, type = SQL_CURSOR_DYNAMIC; break;
    case SQL_SCROLL_STATIC: needed = SQL_SO_STATIC, type = SQL_CURSOR_STATIC; break;
    default: needed = keyset >= 2 ? SQL_SO_MIXED : 0; break;
    }
    if (needed == 0 || (support.options & needed) == 0) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    if (statementState == kBaseStmtCursorOpen) {
        basePostError(kBaseIdxCursorState);
        return 1;
    }
    attributeValues[kBaseAttrConcurrency] = concurrency;
    attributeValues[kBaseAttrCursorType] = type;
    attributeValues[kBaseAttrKeysetSize] = keyset >= 2 ? keyset : 0;
    if (currentArd != nullptr)
        currentArd->arraySize = rowset;
    attributeValues[kBaseAttrRowsetSize] = rowset;
    return 0;
}
