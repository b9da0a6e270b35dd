// The driver's own statement attributes: what each checks, where its value
// goes, and the recording of statement settings for the replay after a
// reconnect.
#include "odbc/basedriverattr.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/datetime.h"
#include "convert/number.h"
#include "foundation/codepage.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

// Characters of a timestamp text the parser is given; longer texts cannot
// be timestamps.
constexpr int64_t kTimestampTextMax = 64;

BaseXmlPersister gXmlPersister = nullptr;

int64_t unitsOf(const uint16_t* text) noexcept
{
    int64_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

// A forward-only cursor can be read once from its start: the persistence
// takes it while no row was fetched, so that no row is lost to it.
bool cursorFitsPersistence(const BaseStatement* stmt) noexcept
{
    const int64_t type = stmt->attributeValues[kBaseAttrCursorType];
    return type == SQL_CURSOR_STATIC || (type == SQL_CURSOR_FORWARD_ONLY && stmt->currentRow == 0);
}

// The checks attributes 1053 and 1054 share; 0 when the call may go on.
int16_t checkPersistable(const BaseStatement* stmt) noexcept
{
    if (!cursorFitsPersistence(stmt)) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_XML_PERSIST_NEEDS_STATIC_CURSOR);
        return 1;
    }
    if (stmt->statementState != kBaseStmtExecuted && stmt->statementState != kBaseStmtCursorOpen) {
        basePostError(kBaseIdxCursorState);
        return 1;
    }
    return 0;
}

int16_t setLastRow(BaseStatement* stmt, void* value) noexcept
{
    if (value == nullptr) {
        basePostError(kBaseIdxNullPointer);
        return 1;
    }
    if (stmt->statementState != kBaseStmtCursorOpen) {
        basePostError(kBaseIdxCursorState);
        return 1;
    }
    // Counting the rows of a forward-only cursor would read them away.
    if (stmt->attributeValues[kBaseAttrCursorType] == SQL_CURSOR_FORWARD_ONLY) {
        basePostErrorMsg(kBaseIdxFetchType, MSG_FETCH_FORWARD_ONLY);
        return 1;
    }
    int64_t last = 0;
    if (stmt->lastRowNumber(&last) != 0)
        return 1;
    std::memcpy(value, &last, sizeof last);
    return 0;
}

int16_t setExportDescription(BaseStatement* stmt, void* value, int32_t length) noexcept
{
    if (value == nullptr) {
        basePostError(kBaseIdxNullPointer);
        return 1;
    }
    if (length != kBaseExportDescriptionLength) {
        basePostError(kBaseIdxBadLength);
        return 1;
    }
    int64_t version = 0;
    std::memcpy(&version, value, sizeof version);
    if (version != kBaseExportDescriptionVersion) {
        basePostError(MSG_SQLSTATE_INVALID_ATTRIBUTE_IDENTIFIER);
        return 1;
    }
    stmt->exportDescription = value;
    return 0;
}

// A tolerance of the description as the export slot's 32-bit field: bit 63
// does not count, and a count the field cannot hold is no limit (-1) rather
// than its low bits, which could be any smaller limit, 0 included.
int32_t exportTolerance(int64_t tolerance) noexcept
{
    tolerance &= INT64_MAX;
    return tolerance > INT32_MAX ? -1 : static_cast<int32_t>(tolerance);
}

int16_t exportResult(BaseStatement* stmt, void* value, int32_t length) noexcept
{
    const auto* description = static_cast<const BaseExportDescription*>(stmt->exportDescription);
    if (value == nullptr || description == nullptr) {
        basePostError(kBaseIdxNullPointer);
        return 1;
    }
    if (length != SQL_NTS && length <= 0) {
        basePostError(kBaseIdxBadLength);
        return 1;
    }
    if (description->version != kBaseExportDescriptionVersion) {
        basePostError(MSG_SQLSTATE_INVALID_ATTRIBUTE_IDENTIFIER);
        return 1;
    }
    uint16_t columns = 0;
    if ((stmt->statementState != kBaseStmtExecuted && stmt->statementState != kBaseStmtCursorOpen) ||
        stmt->getResultColumnCount(&columns) != 0 || columns == 0) {
        basePostError(kBaseIdxCursorState);
        return 1;
    }
    // The name as given, NUL-terminated, so that the export and its log
    // name never read past what the application handed over.
    const auto* given = static_cast<const uint16_t*>(value);
    const int64_t units = length == SQL_NTS ? unitsOf(given) : length;
    RamPtr<uint16_t> fileName = ramMake<uint16_t>(static_cast<size_t>(units + 1));
    if (fileName == nullptr)
        return 1;
    std::memcpy(fileName.get(), given, static_cast<size_t>(units) * sizeof(uint16_t));
    fileName.get()[units] = 0;
    RamPtr<uint16_t> logName;
    if (description->writeLog != 0) {
        logName.reset(baseExportLogName(fileName.get()));
        if (logName == nullptr)
            return 1;
    }
    BaseConnection* conn = stmt->connection;
    const int64_t keptEncoding = conn != nullptr ? conn->wideCharCodePage : 0;
    if (conn != nullptr && description->codePage == kCodePageUtf8)
        conn->wideCharCodePage = kCodePageUtf8;
    else if (conn != nullptr &&
             (description->codePage == kCodePageUtf16BE || description->codePage == kCodePageUtf16LE))
        conn->wideCharCodePage = kCodePageUtf16LE;
    const int16_t rc =
        stmt->exportResultSet(0, fileName.get(), description->codePage, exportTolerance(description->errorTolerance),
                              exportTolerance(description->warningTolerance), 0, logName.get());
    if (conn != nullptr)
        conn->wideCharCodePage = keptEncoding;
    return rc != 0 ? 1 : 0;
}

int16_t storeTimestamp(BaseStatement* stmt, const uint16_t* text) noexcept
{
    BaseConnection* conn = stmt->connection;
    if (conn == nullptr)
        return 0;
    if (text == nullptr || text[0] == 0) {
        conn->storedTimestamp = {};
        return 0;
    }
    // Timestamp text is ASCII; anything wider cannot be one.
    char narrow[kTimestampTextMax + 1];
    int64_t n = 0;
    for (; text[n] != 0; ++n) {
        if (n == kTimestampTextMax || text[n] > 0x7F) {
            basePostError(kBaseIdxBadDatetime);
            return 1;
        }
        narrow[n] = static_cast<char>(text[n]);
    }
    narrow[n] = 0;
    BaseTimestamp ts{};
    if (baseParseTimestamp(narrow, n, &ts, 59, false, kBaseFlagOdbc3, false, false) != 0)
        return 1;
    conn->storedTimestamp.set = 1;
    conn->storedTimestamp.year = ts.year;
    conn->storedTimestamp.month = ts.month;
    conn->storedTimestamp.day = ts.day;
    conn->storedTimestamp.hour = ts.hour;
    conn->storedTimestamp.minute = ts.minute;
    conn->storedTimestamp.second = ts.second;
    conn->storedTimestamp.millisecond = static_cast<uint16_t>(ts.fraction / 1000000);
    return 0;
}

}  // namespace

BaseXmlPersister baseSetXmlPersister(BaseXmlPersister persister) noexcept
{
    return __atomic_exchange_n(&gXmlPersister, persister, __ATOMIC_ACQ_REL);
}

int16_t BaseStatement::persistAsXml(const uint16_t* path, int32_t length) noexcept
{
    BaseXmlPersister persister = __atomic_load_n(&gXmlPersister, __ATOMIC_ACQUIRE);
    if (persister == nullptr) {
        basePostErrorMsg(kBaseIdxNotSupported, MSG_FUNCTION_NOT_AVAILABLE);
        return 1;
    }
    return persister(this, path, length, static_cast<int32_t>(xmlPersistMode)) != 0 ? 1 : 0;
}

uint16_t* baseExportLogName(const uint16_t* fileName) noexcept
{
    int64_t n = unitsOf(fileName);
    auto lower = [](uint16_t c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<uint16_t>(c + 32) : c; };
    if (n > 4 && fileName[n - 4] == '.' && lower(fileName[n - 3]) == 'c' && lower(fileName[n - 2]) == 's' &&
        lower(fileName[n - 1]) == 'v')
        n -= 4;
    static constexpr uint16_t kLog[] = {'.', 'l', 'o', 'g', 0};
    auto* out = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(n + 5) * sizeof(uint16_t)));
    if (out == nullptr)
        return nullptr;
    std::memcpy(out, fileName, static_cast<size_t>(n) * sizeof(uint16_t));
    std::memcpy(out + n, kLog, sizeof kLog);
    return out;
}

int16_t baseSetDriverStmtAttr(BaseStatement* stmt, int32_t attribute, void* value, int32_t length,
                              bool* record) noexcept
{
    *record = true;
    const auto number = static_cast<int64_t>(reinterpret_cast<intptr_t>(value));
    switch (attribute) {
    case kBaseStmtAttrTransactional:
    case kBaseStmtAttrTransactionalToo:
    case kBaseAttrText:
        if (stmt->connection != nullptr && stmt->connection->beginTransaction() != 0)
            return 1;
        // What the attribute would do beyond that is no driver's here.
        basePostError(kBaseIdxNotSupported);
        return 1;
    case kBaseStmtAttrLastRow:
        // It writes through the pointer once: nothing to replay.
        *record = false;
        return setLastRow(stmt, value);
    case kBaseStmtAttrPersistXml:
        // Writing the file again after a reconnect is no setting to restore.
        *record = false;
        if (checkPersistable(stmt) != 0)
            return 1;
        return stmt->persistAsXml(static_cast<const uint16_t*>(value), length);
    case kBaseStmtAttrPersistMode:
        if (checkPersistable(stmt) != 0)
            return 1;
        stmt->xmlPersistMode = number;
        return 0;
    case kBaseStmtAttrExport: *record = false; return exportResult(stmt, value, length);
    case kBaseStmtAttrExportDescription: return setExportDescription(stmt, value, length);
    case kBaseStmtAttrSignedValue:
        stmt->furtherAttributeValues[kBaseFurtherSignedValue] = number < 0 ? -1 : number;
        return 0;
    case kBaseStmtAttrSwitch: stmt->furtherAttributeValues[kBaseFurtherSwitch] = number != 0 ? 1 : 0; return 0;
    case kBaseStmtAttrPointerValue: stmt->furtherAttributeValues[kBaseFurtherPointerValue] = number; return 0;
    case kBaseStmtAttrNarrowCodePage: stmt->charCodePage = number; return 0;
    case kBaseStmtAttrTimestamp: *record = false; return storeTimestamp(stmt, static_cast<const uint16_t*>(value));
    default: return -1;
    }
}

int16_t baseGetDriverStmtAttr(BaseStatement* stmt, int32_t attribute, void* value, int32_t* stringLength) noexcept
{
    int64_t v = 0;
    switch (attribute) {
    case kBaseStmtAttrSignedValue: v = stmt->furtherAttributeValues[kBaseFurtherSignedValue]; break;
    case kBaseStmtAttrSwitch: v = stmt->furtherAttributeValues[kBaseFurtherSwitch]; break;
    case kBaseStmtAttrPointerValue: v = stmt->furtherAttributeValues[kBaseFurtherPointerValue]; break;
    case kBaseStmtAttrNarrowCodePage: v = stmt->charCodePage; break;
    default: return -1;
    }
    if (value != nullptr) {
        if (attribute == kBaseStmtAttrSwitch) {
            const auto flag = static_cast<int32_t>(v);
            std::memcpy(value, &flag, sizeof flag);
        } else {
            std::memcpy(value, &v, sizeof v);
        }
    }
    if (stringLength != nullptr)
        *stringLength = static_cast<int32_t>(sizeof v);
    return 0;
}

void baseRecordStmtAttr(BaseStatement* stmt, int32_t attribute, void* value, int32_t length) noexcept
{
    BaseConnection* conn = stmt->connection;
    if (conn == nullptr || conn->failoverMode == 0 || stmt->failoverState != kBaseFailoverNone ||
        (conn->handle != nullptr && conn->handle->current != conn))
        return;
    // The latest value of a setting is the one to restore: an earlier
    // record of the same attribute goes, so that the list does not grow
    // with every set.
    KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
    KaDNode* node = conn->events.first();
    for (size_t i = 0; i < conn->events.count && node != nullptr; ++i, node = node->next) {
        auto* e = static_cast<BaseBufferedEvent*>(node);
        if (e->kind == kBaseEventStmtAttr && e->owner == stmt && e->code == attribute) {
            conn->events.remove(e);
            delete e;
            break;
        }
    }
    // The value is a number or the application's own pointer, which stays
    // the application's: the record owns nothing.
    (void)conn->addBufferedEvent(kBaseEventStmtAttr, attribute, reinterpret_cast<intptr_t>(value), length, 0, stmt);
}
