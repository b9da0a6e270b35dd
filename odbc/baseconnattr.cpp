// Connection attributes on a physical connection: SQLGetConnectAttrW and
// SQLSetConnectAttrW, the generic read and store the driver overrides for a
// few attributes, which attributes may be set in which state, the checks
// before a value is applied, and the limits of statement attributes set on
// the connection.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "foundation/codepage.h"
#include "foundation/kaowner.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "odbc/baseinfo.h"
#include "odbc/basepool.h"
#include "odbc/basestmt.h"

namespace {

// SQLSTATE indexes of attribute refusals.
constexpr uint16_t kIdxCannotSetNow = MSG_SQLSTATE_ATTRIBUTE_CANNOT_BE_SET_NOW;
constexpr uint16_t kIdxNotConnectionAttr = MSG_SQLSTATE_INVALID_ATTRIBUTE_IDENTIFIER;
constexpr uint16_t kIdxBadValue = MSG_SQLSTATE_INVALID_ATTRIBUTE_VALUE;
constexpr uint16_t kIdxValueChanged = MSG_SQLSTATE_OPTION_VALUE_CHANGED;

// The driver's own connection attributes.
constexpr int32_t kAttrModifySql = 1043;
constexpr int32_t kAttrWideCharMode = 1061;
constexpr int32_t kAttrDriverTextMode = 1062;
constexpr int32_t kAttrPoolStatistics = 1070;
constexpr int32_t kAttrPrivateInfo = 1139;
// Statement attributes below zero: an old bookmark attribute, and one of
// the driver's own.
constexpr int32_t kAttrBookmarkOld = -1;
constexpr int32_t kAttrDriverStmtAttr = -2;

// The pool statistics: six 64-bit values (a version, then the pool's
// connections, those in use, the idle ones, its minimum and maximum size).
constexpr size_t kPoolStatisticsValues = 6;
constexpr int32_t kPoolStatisticsBytes = kPoolStatisticsValues * sizeof(int64_t);
constexpr int64_t kPoolStatisticsVersion = 1;

// Text modes of attribute 1062 beyond this one fall back to the first.
constexpr int64_t kDriverTextModeLast = 5;
// Units of the scratch target of a read without a value pointer.
constexpr int32_t kScratchUnits = 512;

// Values of attribute 1061: wide data as UTF-16, as UTF-8.
constexpr int64_t kWideAsUtf16 = 1;
constexpr int64_t kWideAsUtf8 = 2;

// Statement attributes have numbers below the connection ones, and one
// number of their own above.
bool isStatementAttr(int32_t attribute) noexcept
{
    return attribute < SQL_ATTR_ACCESS_MODE || attribute == SQL_ATTR_METADATA_ID;
}

// Statement attributes that have no meaning on a connection.
bool isStatementOnlyAttr(int32_t attribute) noexcept
{
    return attribute == SQL_BIND_TYPE ||
           (attribute >= SQL_ATTR_PARAM_BIND_OFFSET_PTR && attribute <= SQL_ATTR_ROW_ARRAY_SIZE) ||
           attribute == SQL_ATTR_APP_ROW_DESC || attribute == SQL_ATTR_APP_PARAM_DESC;
}

// A statement attribute set on the connection reaches the statements it
// already has, each through its own attribute hook as if the application
// had set it there; the first refusal fails the setting. The list lock
// keeps every statement alive while it is handed the value.
int16_t handStmtAttrToStatements(BaseConnection* conn, int32_t attribute, int64_t number) noexcept
{
    KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
    KaNode* node = conn->statements.first();
    for (size_t i = 0; i < conn->statements.count && node != nullptr; ++i, node = node->next) {
        auto* stmt = static_cast<BaseStatement*>(node);
        if (stmt->setStmtAttrHook(attribute, reinterpret_cast<void*>(static_cast<intptr_t>(number)), 0) != 0)
            return 1;
    }
    return 0;
}

void putInt32(void* value, int32_t* outLength, int64_t number) noexcept
{
    auto n = static_cast<uint32_t>(number);
    if (value != nullptr)
        std::memcpy(value, &n, sizeof n);
    if (outLength != nullptr)
        *outLength = sizeof n;
}

}  // namespace

// The owned UTF-16 copy of a text attribute given in bytes or as SQL_NTS:
// 0 with *out and *units, 1 after the diagnostic.
int16_t baseCopyWideAttr(const void* value, int32_t length, uint16_t** out, int32_t* units) noexcept
{
    *out = nullptr;
    *units = 0;
    const auto* text = static_cast<const uint16_t*>(value);
    int64_t n = length == SQL_NTS ? static_cast<int64_t>(strLenOrZeroW(text)) : length / 2;
    if (n < 0 || (n > 0 && text == nullptr)) {
        basePostError(kBaseIdxBadLength);
        return 1;
    }
    auto* copy = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(n + 1) * 2));
    if (copy == nullptr) {
        basePostError(kBaseIdxOutOfMemory);
        return 1;
    }
    if (n > 0)
        std::memcpy(copy, text, static_cast<size_t>(n) * 2);
    copy[n] = 0;
    *out = copy;
    *units = static_cast<int32_t>(n);
    return 0;
}

// Narrow NUL-terminated text widened unit by unit.
int16_t baseWidenAttr(const void* value, uint16_t** out, int32_t* units) noexcept
{
    const auto* text = static_cast<const char*>(value);
    size_t n = text != nullptr ? std::strlen(text) : 0;
    auto* copy = static_cast<uint16_t*>(ramAlloc((n + 1) * 2));
    if (copy == nullptr) {
        basePostError(kBaseIdxOutOfMemory);
        return 1;
    }
    for (size_t i = 0; i < n; ++i)
        copy[i] = static_cast<unsigned char>(text[i]);
    copy[n] = 0;
    *out = copy;
    *units = static_cast<int32_t>(n);
    return 0;
}

// ---- Which attributes, when -------------------------------------------------

int16_t BaseConnection::attrAllowedNow(int32_t connected, int32_t attribute) noexcept
{
    switch (attribute) {
    case SQL_ATTR_LOGIN_TIMEOUT:
    case SQL_ATTR_PACKET_SIZE: return connected == 0 ? 1 : 0;
    case kAttrWideCharMode:
    case kAttrDriverTextMode: return 1;
    default: return connected != 0 ? 1 : 0;
    }
}

int16_t BaseConnection::getAttrNumber(int32_t code, uint64_t* limit) noexcept
{
    *limit = 0;
    switch (code) {
    case SQL_QUERY_TIMEOUT: *limit = queryTimeoutLimit; return queryTimeoutSupported != 0 ? 1 : 0;
    case SQL_MAX_ROWS: *limit = maxRowsLimit; return 1;
    case SQL_MAX_LENGTH: *limit = maxLength; return 1;
    case SQL_ASYNC_ENABLE: return asyncMask != 0 && asyncSupported != 0 ? 1 : 0;
    case SQL_ROWSET_SIZE:
    case SQL_ATTR_ROW_ARRAY_SIZE: *limit = rowsetLimit; return 1;
    case SQL_ATTR_PARAMSET_SIZE: *limit = paramsetLimit; return 1;
    case SQL_SIMULATE_CURSOR: return (cursorSimulation & 0x3) == 0x3 ? 0 : 1;
    case SQL_USE_BOOKMARKS:
    case SQL_GET_BOOKMARK:
    case SQL_ATTR_FETCH_BOOKMARK_PTR:
    case kAttrBookmarkOld: return keysetCursorOps != 0 || dynamicCursorOps != 0 || staticCursorOps != 0 ? 1 : 0;
    case kAttrDriverStmtAttr: return attrNumberMinus2 != 0 ? 1 : 0;
    default: return baseStmtAttrAlwaysServed(code) ? 1 : 0;
    }
}

bool baseStmtAttrAlwaysServed(int32_t attribute) noexcept
{
    switch (attribute) {
    case SQL_ATTR_NOSCAN:
    case SQL_ATTR_ROW_BIND_TYPE:
    case SQL_ATTR_CURSOR_TYPE:
    case SQL_ATTR_CONCURRENCY:
    case SQL_ATTR_KEYSET_SIZE:
    case SQL_ATTR_RETRIEVE_DATA:
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
    case SQL_ATTR_PARAM_BIND_TYPE:
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
    case SQL_ATTR_IMP_PARAM_DESC:
    case SQL_ATTR_METADATA_ID: return true;
    default: return false;
    }
}

bool BaseConnection::defaultStmtAttr(int32_t attribute, int64_t* value) const noexcept
{
    for (size_t i = 0; i < defaultStmtAttrCount; ++i)
        if (defaultStmtAttrs[i].attribute == attribute) {
            *value = defaultStmtAttrs[i].value;
            return true;
        }
    return false;
}

// ---- SQLGetConnectAttrW -----------------------------------------------------

int16_t BaseConnection::getConnectAttr(int32_t attribute, void* value, int32_t bufferLength,
                                       int32_t* stringLength) noexcept
{
    return runApi(SQL_API_SQLGETCONNECTATTR, [&]() noexcept -> int16_t {
        // Whether the link still stands is worth asking of a connection that
        // is not (or no longer) open; nothing else is.
        if (!isConnected() && attribute != SQL_ATTR_CONNECTION_DEAD)
            return SQL_NO_DATA;
        void* target = value;
        RamPtr<unsigned char> scratch;
        if (target == nullptr) {
            // Room for the text asked for, and for the widest number or
            // record whatever length came with the null pointer.
            int32_t units = bufferLength < 1 ? kScratchUnits : bufferLength;
            scratch = ramMake<unsigned char>(static_cast<size_t>(units) * 2 + sizeof(int64_t) * kPoolStatisticsValues);
            if (scratch == nullptr) {
                basePostError(kBaseIdxOutOfMemory);
                return SQL_ERROR;
            }
            target = scratch.get();
            bufferLength = units * 2;
        }
        if (attribute == SQL_ATTR_CURRENT_CATALOG && (workarounds & kBaseWaNoDatabaseWithoutCatalogs) != 0) {
            uint64_t length = 0;
            int32_t kind = 0;
            int32_t allocated = 0;
            if (getInfoValue(SQL_MAX_CATALOG_NAME_LEN, &length, &kind, &allocated) != 0)
                return SQL_ERROR;
            if (length == 0) {
                if (bufferLength >= 2)
                    static_cast<uint16_t*>(target)[0] = 0;
                if (stringLength != nullptr)
                    *stringLength = 0;
                return SQL_SUCCESS;
            }
        }
        if (attribute != kAttrPoolStatistics)
            return getConnectAttrDefault(attribute, target, bufferLength, stringLength) != 0 ? SQL_ERROR : SQL_SUCCESS;
        // Six 64-bit values: an application that states a smaller buffer
        // gets no write past it. Driver-defined binary attributes state
        // their size as SQL_LEN_BINARY_ATTR, a length of 0 says nothing.
        int32_t stated = bufferLength < 0 && bufferLength <= SQL_LEN_BINARY_ATTR_OFFSET
                             ? SQL_LEN_BINARY_ATTR(bufferLength)
                             : bufferLength;
        if (scratch == nullptr && stated != 0 && stated < kPoolStatisticsBytes) {
            basePostError(kBaseIdxBadLength);
            return SQL_ERROR;
        }
        // The version, then the counts of the pool that holds the
        // connection; zeros outside any pool.
        int64_t statistics[kPoolStatisticsValues] = {kPoolStatisticsVersion, 0, 0, 0, 0, 0};
        BasePoolCounts counts{};
        BaseConnPoolManager* manager = pooled != 0 ? basePoolManager() : nullptr;
        if (manager != nullptr && manager->countsOf(this, &counts)) {
            statistics[1] = counts.connections;
            statistics[2] = counts.inUse;
            statistics[3] = counts.connections - counts.inUse;
            statistics[4] = counts.minSize;
            statistics[5] = counts.maxSize;
        }
        std::memcpy(target, statistics, sizeof statistics);
        if (stringLength != nullptr)
            *stringLength = kPoolStatisticsBytes;
        return SQL_SUCCESS;
    });
}

int16_t BaseConnection::getConnectAttrDefault(int32_t attribute, void* value, int32_t bufferLength,
                                              int32_t* outLength) noexcept
{
    if (attribute == SQL_QUERY_TIMEOUT && queryTimeoutSupported != 0) {
        int64_t timeout = queryTimeout;
        (void)defaultStmtAttr(SQL_QUERY_TIMEOUT, &timeout);
        putInt32(value, outLength, timeout);
        return 0;
    }
    switch (attribute) {
    case SQL_ATTR_ACCESS_MODE: putInt32(value, outLength, accessMode); return 0;
    case SQL_ATTR_AUTOCOMMIT: putInt32(value, outLength, autocommit); return 0;
    case SQL_ATTR_LOGIN_TIMEOUT:
        if ((connectionFlags & kBaseConnLoginTimeoutSettable) == 0)
            break;
        putInt32(value, outLength, loginTimeout);
        return 0;
    case SQL_ATTR_TRANSLATE_LIB: {
        const uint16_t* name = translatorLibrary != nullptr && translatorPathW != nullptr ? translatorPathW : nullptr;
        size_t n = strLenOrZeroW(name);
        if (name == nullptr) {
            if (outLength != nullptr)
                *outLength = 0;
            if (bufferLength >= 2) {
                static_cast<uint16_t*>(value)[0] = 0;
            } else if (bufferLength == 1) {
                static_cast<uint8_t*>(value)[0] = 0;
            } else {
                basePostWarning(kBaseIdxTruncated);
            }
            return 0;
        }
        int64_t full = static_cast<int64_t>(n) * 2;
        if (outLength != nullptr)
            *outLength = static_cast<int32_t>(full > INT32_MAX ? INT32_MAX : full);
        int64_t room = bufferLength / 2;
        if (room > 0) {
            size_t copied = n < static_cast<size_t>(room - 1) ? n : static_cast<size_t>(room - 1);
            std::memcpy(value, name, copied * 2);
            static_cast<uint16_t*>(value)[copied] = 0;
        }
        if (full >= bufferLength)
            basePostWarning(kBaseIdxTruncated);
        return 0;
    }
    case SQL_ATTR_TRANSLATE_OPTION: putInt32(value, outLength, static_cast<int64_t>(translationOption)); return 0;
    case SQL_ATTR_TXN_ISOLATION: putInt32(value, outLength, txnIsolation); return 0;
    case SQL_ATTR_QUIET_MODE: {
        int64_t handleValue = quietMode;
        std::memcpy(value, &handleValue, sizeof handleValue);
        if (outLength != nullptr)
            *outLength = sizeof handleValue;
        return 0;
    }
    case SQL_ATTR_PACKET_SIZE: putInt32(value, outLength, packetSize); return 0;
    case SQL_ATTR_CONNECTION_TIMEOUT:
        if ((connectionFlags & kBaseConnConnectionTimeoutSettable) == 0)
            break;
        putInt32(value, outLength, connectionTimeout);
        return 0;
    case kAttrModifySql: putInt32(value, outLength, modifySql != 0 ? 1 : 0); return 0;
    case kAttrWideCharMode:
        if ((connectionFlags & kBaseConnCharAttrsSettable) == 0)
            break;
        putInt32(value, outLength, appWideCharMode == 2 ? kWideAsUtf16 : appWideCharMode == 3 ? kWideAsUtf8 : 0);
        return 0;
    case kAttrDriverTextMode:
        if ((connectionFlags & kBaseConnCharAttrsSettable) == 0)
            break;
        putInt32(value, outLength, driverTextMode);
        return 0;
    case kAttrPrivateInfo: putInt32(value, outLength, attribute1139); return 0;
    case SQL_ATTR_ENLIST_IN_XA:
        if (xaSupported == 0)
            break;
        putInt32(value, outLength, xaState != 0 ? 1 : 0);
        return 0;
    case SQL_ATTR_CONNECTION_DEAD: putInt32(value, outLength, isConnected() ? SQL_CD_FALSE : SQL_CD_TRUE); return 0;
    default: break;
    }
    basePostError(kBaseIdxNotSupported);
    return 1;
}

// ---- SQLSetConnectAttrW -----------------------------------------------------

int16_t BaseConnection::setConnectAttr(int32_t attribute, void* value, int32_t length) noexcept
{
    return runApi(SQL_API_SQLSETCONNECTATTR, [&]() noexcept -> int16_t {
        bool connected = isConnected();
        if (connected && attrAllowedNow(1, attribute) == 0) {
            basePostError(kIdxCannotSetNow);
            return SQL_ERROR;
        }
        if (!connected && (attribute == SQL_ATTR_TRANSLATE_LIB || attribute == SQL_ATTR_TRANSLATE_OPTION)) {
            basePostError(kIdxCannotSetNow);
            return SQL_ERROR;
        }
        if (attribute == kBaseAttrEncrypted && handle != nullptr) {
            // Kept by the handle, encrypted; stored directly rather than
            // through the handle's own entry step, whose lock this call may
            // hold already.
            int64_t units = length == SQL_NTS ? SQL_NTS : length / 2;
            if (units < 0 && units != SQL_NTS) {
                basePostError(kBaseIdxBadLength);
                return SQL_ERROR;
            }
            return handle->setEncryptedAttr(static_cast<const uint16_t*>(value), units) == 0 ? SQL_SUCCESS : SQL_ERROR;
        }
        if (attribute == SQL_ATTR_ANSI_APP) {
            uint64_t ansi = reinterpret_cast<intptr_t>(value) == SQL_AA_TRUE ? 1 : 0;
            if (handle != nullptr)
                handle->ansiApp = ansi;
            if ((workarounds & kBaseWaAnsiApp) == 0) {
                if (ansi != 0)
                    connectionFlags |= kBaseConnAnsiApp;
                else
                    connectionFlags &= ~kBaseConnAnsiApp;
            }
            basePostError(kBaseIdxNotSupported);
            return SQL_ERROR;
        }
        // Texts are copied: the recorded setting owns its copy.
        intptr_t kept = reinterpret_cast<intptr_t>(value);
        int32_t keptLength = length;
        RamPtr<uint16_t> copy;
        if (attribute == SQL_ATTR_TRANSLATE_LIB || attribute == SQL_ATTR_CURRENT_CATALOG ||
            attribute == kBaseAttrText) {
            uint16_t* made = nullptr;
            int16_t failed = attribute == kBaseAttrText && length == 0
                                 ? baseWidenAttr(value, &made, &keptLength)
                                 : baseCopyWideAttr(value, length, &made, &keptLength);
            if (failed != 0)
                return SQL_ERROR;
            copy.reset(made);
            kept = reinterpret_cast<intptr_t>(made);
        }
        if (connected && applyConnectAttr(attribute, reinterpret_cast<void*>(kept), keptLength) != 0)
            return SQL_ERROR;
        // The pool control is an action on the pools, not a setting:
        // replayed at the handle's next connect it would shut the pools down
        // again.
        if (attribute == kBaseAttrPoolControl)
            return SQL_SUCCESS;
        forgetConnectAttr(attribute);
        int32_t owned = copy != nullptr ? 1 : 0;
        if (addBufferedEvent(kBaseEventConnectAttr, attribute, kept, keptLength, owned, this) == nullptr) {
            basePostError(kBaseIdxOutOfMemory);
            return SQL_ERROR;
        }
        // The recorded setting owns the copy now.
        (void)copy.release();
        return SQL_SUCCESS;
    });
}

int16_t BaseConnection::applyConnectAttr(int32_t attribute, void* value, int32_t length) noexcept
{
    auto number = static_cast<int64_t>(reinterpret_cast<intptr_t>(value));
    // The framework asks its own answers through the driver's path, so that
    // a driver that answers them itself is heard.
    auto askNumber = [this](uint16_t infoType, uint32_t* out) noexcept {
        *out = 0;
        int16_t written = 0;
        return SQL_SUCCEEDED(getInfoValue(infoType, out, static_cast<int16_t>(sizeof *out), &written));
    };
    switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT: {
        if (number != SQL_AUTOCOMMIT_OFF && number != SQL_AUTOCOMMIT_ON) {
            basePostError(kIdxBadValue);
            return 1;
        }
        if (static_cast<uint16_t>(number) == static_cast<uint16_t>(autocommit))
            return 0;
        uint32_t capable = 0;
        if (!askNumber(SQL_TXN_CAPABLE, &capable))
            return 1;
        if (static_cast<uint16_t>(capable) == SQL_TC_NONE) {
            basePostErrorMsg(kBaseIdxNotSupported, MSG_AUTOCOMMIT_REFUSED);
            return 1;
        }
        if ((connectionFlags & kBaseConnTransactionActive) != 0) {
            if (autocommitChange(SQL_COMMIT) != 0)
                return 1;
            connectionFlags &= ~kBaseConnTransactionActive;
            basePostWarningMsg(kBaseIdxGeneralWarning, MSG_AUTOCOMMIT_COMMITTED);
        }
        return setConnectAttrDefault(attribute, value, length);
    }
    case SQL_ATTR_TXN_ISOLATION: {
        uint32_t offered = 0;
        if (!askNumber(SQL_TXN_ISOLATION_OPTION, &offered))
            return 1;
        // One level, and one the driver offers: a mix of levels shares bits
        // with the offer but names no level.
        bool oneLevel = number == SQL_TXN_READ_UNCOMMITTED || number == SQL_TXN_READ_COMMITTED ||
                        number == SQL_TXN_REPEATABLE_READ || number == SQL_TXN_SERIALIZABLE;
        if (!oneLevel || (static_cast<uint32_t>(number) & offered) == 0) {
            basePostError(kBaseIdxNotSupported);
            return 1;
        }
        if ((connectionFlags & kBaseConnTransactionActive) != 0) {
            basePostError(kIdxCannotSetNow);
            return 1;
        }
        return setConnectAttrDefault(attribute, value, length);
    }
    default: return setConnectAttrDefault(attribute, value, length);
    }
}

int16_t BaseConnection::setConnectAttrDefault(int32_t attribute, void* value, int32_t length) noexcept
{
    auto number = static_cast<int64_t>(reinterpret_cast<intptr_t>(value));
    if (isStatementOnlyAttr(attribute)) {
        basePostError(kIdxNotConnectionAttr);
        return 1;
    }
    if (attribute == SQL_QUERY_TIMEOUT && queryTimeoutIgnored == 1)
        return 0;
    if (isStatementAttr(attribute)) {
        uint64_t limit = 0;
        if (getAttrNumber(attribute, &limit) == 0) {
            basePostError(kBaseIdxNotSupported);
            return 1;
        }
        auto changed = [](uint16_t msg, int64_t now) noexcept {
            KaError* e = msg != 0 ? basePostWarningMsg(kIdxValueChanged, msg) : basePostWarning(kIdxValueChanged);
            if (e != nullptr && msg != 0)
                e->addParamSigned(now);
        };
        if (limit != 0 && static_cast<uint64_t>(number) > limit) {
            number = static_cast<int64_t>(limit);
            changed(MSG_ATTRIBUTE_VALUE_LIMITED, number);
        }
        auto askNumber = [this](uint16_t infoType) noexcept {
            uint32_t out = 0;
            int16_t written = 0;
            return SQL_SUCCEEDED(getInfoValue(infoType, &out, static_cast<int16_t>(sizeof out), &written)) ? out : 0u;
        };
        if (attribute == SQL_CONCURRENCY) {
            uint32_t offered = askNumber(SQL_SCROLL_CONCURRENCY);
            int64_t was = number;
            if (number == SQL_CONCUR_LOCK && (offered & SQL_SCCO_LOCK) == 0)
                number = (offered & SQL_SCCO_OPT_ROWVER) != 0   ? SQL_CONCUR_ROWVER
                         : (offered & SQL_SCCO_OPT_VALUES) != 0 ? SQL_CONCUR_VALUES
                                                                : SQL_CONCUR_READ_ONLY;
            if (number == SQL_CONCUR_ROWVER && (offered & SQL_SCCO_OPT_ROWVER) == 0)
                number = (offered & SQL_SCCO_OPT_VALUES) != 0 ? SQL_CONCUR_VALUES : SQL_CONCUR_READ_ONLY;
            if (number == SQL_CONCUR_VALUES && (offered & SQL_SCCO_OPT_VALUES) == 0)
                number = (offered & SQL_SCCO_OPT_ROWVER) != 0 ? SQL_CONCUR_ROWVER : SQL_CONCUR_READ_ONLY;
            if (number != was)
                changed(0, number);
        } else if (attribute == SQL_CURSOR_TYPE) {
            uint32_t offered = askNumber(SQL_SCROLL_OPTIONS);
            int64_t was = number;
            if (number == SQL_CURSOR_DYNAMIC && (offered & (SQL_SO_DYNAMIC | SQL_SO_MIXED)) == 0)
                number = (offered & SQL_SO_KEYSET_DRIVEN) != 0 ? SQL_CURSOR_KEYSET_DRIVEN
                         : (offered & SQL_SO_STATIC) != 0      ? SQL_CURSOR_STATIC
                                                               : SQL_CURSOR_FORWARD_ONLY;
            if (number == SQL_CURSOR_KEYSET_DRIVEN && (offered & SQL_SO_KEYSET_DRIVEN) == 0)
                number = (offered & SQL_SO_STATIC) != 0 ? SQL_CURSOR_STATIC : SQL_CURSOR_FORWARD_ONLY;
            if (number == SQL_CURSOR_STATIC && (offered & SQL_SO_STATIC) == 0)
                number = staticToKeyset != 0 && (offered & SQL_SO_KEYSET_DRIVEN) != 0 ? SQL_CURSOR_KEYSET_DRIVEN
                                                                                      : SQL_CURSOR_FORWARD_ONLY;
            if (number != was)
                changed(0, number);
        } else if (attribute == SQL_USE_BOOKMARKS) {
            int64_t current = SQL_UB_OFF;
            (void)defaultStmtAttr(SQL_USE_BOOKMARKS, &current);
            if (static_cast<uint64_t>(number) > SQL_UB_VARIABLE) {
                number = current;
                changed(0, number);
            } else if (number != SQL_UB_OFF) {
                int64_t cursorType = SQL_CURSOR_FORWARD_ONLY;
                (void)defaultStmtAttr(SQL_CURSOR_TYPE, &cursorType);
                uint64_t word = cursorType == SQL_CURSOR_KEYSET_DRIVEN ? keysetCursorOps
                                : cursorType == SQL_CURSOR_DYNAMIC     ? dynamicCursorOps
                                : cursorType == SQL_CURSOR_STATIC      ? staticCursorOps
                                                                       : forwardCursorOps;
                if ((word & 0x400040) == 0) {
                    number = SQL_UB_OFF;
                    changed(0, number);
                }
            }
        }
        size_t i = 0;
        while (i < defaultStmtAttrCount && defaultStmtAttrs[i].attribute != attribute)
            ++i;
        if (i == defaultStmtAttrCount) {
            if (defaultStmtAttrCount == kBaseDefaultStmtAttrs) {
                basePostError(kBaseIdxOutOfMemory);
                return 1;
            }
            ++defaultStmtAttrCount;
        }
        defaultStmtAttrs[i] = {attribute, number};
        return handStmtAttrToStatements(this, attribute, number);
    }
    switch (attribute) {
    case SQL_ATTR_ACCESS_MODE:
        if (number != SQL_MODE_READ_WRITE && number != SQL_MODE_READ_ONLY) {
            basePostError(kIdxBadValue);
            return 1;
        }
        accessMode = static_cast<uint16_t>(number);
        return 0;
    case SQL_ATTR_AUTOCOMMIT: autocommit = static_cast<uint16_t>(number); return 0;
    case SQL_ATTR_LOGIN_TIMEOUT:
        if ((connectionFlags & kBaseConnLoginTimeoutSettable) == 0)
            break;
        if (loginTimeoutLocked == 0)
            loginTimeout = number;
        return 0;
    case SQL_ATTR_TRANSLATE_LIB: return loadTranslator(static_cast<const uint16_t*>(value)) != 0 ? 1 : 0;
    case SQL_ATTR_TRANSLATE_OPTION: translationOption = static_cast<uint64_t>(number); return 0;
    case SQL_ATTR_TXN_ISOLATION: txnIsolation = static_cast<uint16_t>(number); return 0;
    case SQL_ATTR_QUIET_MODE:
        quietMode = number;
        quietModeOff = number == 0 ? 1 : 0;
        return 0;
    case SQL_ATTR_PACKET_SIZE: packetSize = number; return 0;
    case SQL_ATTR_CONNECTION_TIMEOUT:
        if ((connectionFlags & kBaseConnConnectionTimeoutSettable) == 0) {
            basePostErrorMsg(kBaseIdxNotSupported, MSG_CONNECTION_TIMEOUT_REFUSED);
            return 1;
        }
        connectionTimeout = static_cast<uint32_t>(number);
        return 0;
    case kAttrModifySql: modifySql = number != 0 ? 1 : 0; return 0;
    case kAttrWideCharMode:
        if ((connectionFlags & kBaseConnCharAttrsSettable) == 0)
            break;
        if (number == kWideAsUtf16) {
            appWideCharMode = 2;
            wideCharCodePage = kCodePageUtf16LE;
            wideCharWidthMode = 2;
        } else if (number == kWideAsUtf8) {
            appWideCharMode = 3;
            wideCharCodePage = kCodePageUtf8;
            wideCharWidthMode = 1;
        } else {
            appWideCharMode = 1;
            wideCharCodePage = appCodePage;
            wideCharWidthMode = 1;
        }
        return 0;
    case kAttrDriverTextMode:
        if ((connectionFlags & kBaseConnCharAttrsSettable) == 0)
            break;
        driverTextMode = number >= 0 && number <= kDriverTextModeLast ? static_cast<uint32_t>(number) : 1;
        return 0;
    case kBaseAttrPoolControl:
        // 0 marks this connection's own pool (when it has one) for closing.
        if (number == 0 && pooled != 0) {
            // A pool that was shut down meanwhile holds it no more: nothing
            // to mark.
            BaseConnPoolManager* manager = basePoolManager();
            if (manager != nullptr)
                (void)manager->markPoolOf(this);
            return 0;
        }
        return basePoolControl(static_cast<intptr_t>(number));
    case kBaseAttrEncrypted: return 0;
    case kAttrPoolStatistics: basePostError(kIdxCannotSetNow); return 1;
    case kAttrPrivateInfo: attribute1139 = number != 0 ? 1 : 0; return 0;
    case SQL_ATTR_ENLIST_IN_XA:
        if (xaSupported == 0)
            break;
        if (number != 0) {
            if (xaState != 0 && xaDelist(nullptr) != 0)
                return 1;
            if (xaEnlist(value) != 0)
                return 1;
            xaState = 2;
        } else {
            if (xaDelist(nullptr) != 0)
                return 1;
            xaState = 0;
        }
        return 0;
    default: break;
    }
    basePostError(kBaseIdxNotSupported);
    return 1;
}

int16_t BaseConnection::functionSupported(uint16_t functionId, uint16_t* supported) noexcept
{
    *supported = SQL_TRUE;
    return 0;
}
