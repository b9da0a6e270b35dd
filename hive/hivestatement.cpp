// The HiveServer2 statement: its life, its descriptors, its own SQL text,
// the connection's wire, and the binding of result columns to readers.
// Execution is in hiveexecute.cpp, fetch in hivefetch.cpp.
#include "hive/hivestatement.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "foundation/codepage.h"
#include "foundation/errpost.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "hive/hivedesc.h"
#include "hive/hivereader.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"

namespace {

// Settings a connection starts with.
constexpr int64_t kDefaultArrayFetchSize = 150000;
constexpr int32_t kDefaultMaxNumeric = 38;
constexpr int32_t kDecimalDefaultScale = 6;
constexpr uint16_t kDefaultOperationStatusDelay = 25;
// Memory a long value takes before it spills to a temporary file.
constexpr uint64_t kDefaultLongDataBuffer = 2097152;
// Column sizes: no limit, and varchar and char without a length.
constexpr int64_t kSizeUnbounded = 2147483647;
constexpr int64_t kVarcharDefaultLength = 65355;
constexpr int64_t kCharDefaultLength = 255;

}  // namespace

void hiveStatementSettingsOf(const HiveConnection* conn, HiveStatementSettings* out) noexcept
{
    out->resultStyle = HIVE_RESULT_COLUMN_WISE;
    out->pollAlways = 0;
    out->useAsync = 0;
    out->longDataCache = 1;
    out->stringDescribeType = SQL_WVARCHAR;
    out->maxStringSize = kSizeUnbounded;
    out->maxNumericPrecision = kDefaultMaxNumeric;
    out->maxNumericScale = kDefaultMaxNumeric;
    out->arrayFetchSize = kDefaultArrayFetchSize;
    out->maxRowsInFetch = -1;
    out->operationStatusDelay = kDefaultOperationStatusDelay;
    out->longDataBufferSize = kDefaultLongDataBuffer;
    if (conn == nullptr)
        return;
    if (conn->readBuffer.resultStyle == HIVE_RESULT_ROW_WISE)
        out->resultStyle = HIVE_RESULT_ROW_WISE;
    // Before the options are read (a connection under construction) the
    // defaults stand.
    if (conn->arrayFetchSize <= 0)
        return;
    out->useAsync = conn->useAsyncExecute;
    out->pollAlways = conn->pollCompletionStatus != 0 || conn->useAsyncExecute != 0 ? 1 : 0;
    out->longDataCache = conn->longDataCache;
    out->stringDescribeType = conn->stringDescribeType;
    out->maxStringSize = conn->maxStringSize > 0 ? conn->maxStringSize : kSizeUnbounded;
    out->maxNumericPrecision = static_cast<int32_t>(conn->maxNumericPrecision);
    out->maxNumericScale = static_cast<int32_t>(conn->maxNumericScale);
    out->arrayFetchSize = conn->arrayFetchSize;
    out->maxRowsInFetch = conn->maxRowsInFetch;
    out->operationStatusDelay = conn->operationStatusDelay;
    out->longDataBufferSize = conn->longDataBufferSize;
}

// ---- Life ---------------------------------------------------------------------

HiveStatement::HiveStatement(BaseConnection* connection) noexcept : BaseCatalogStatement(connection) {}

HiveStatement::~HiveStatement()
{
    // A reply left on the shared wire would be read as the next statement's.
    if (ownsWire)
        static_cast<void>(dropPendingReply());
    // The readers share readerState, which goes before the base class
    // deletes the result descriptor.
    if (ird != nullptr) {
        for (size_t i = 0; i < ird->records.count; ++i) {
            if (auto* rec = dynamic_cast<HiveIRDRecord*>(ird->record(static_cast<int64_t>(i))))
                rec->releaseReaders();
        }
    }
    ramFree(sqlText);
    ramFree(markerOffsets);
    releaseParkedReply();
    delete communicator;
}

HiveConnection* HiveStatement::hiveConnection() const noexcept
{
    return static_cast<HiveConnection*>(connection);
}

int16_t HiveStatement::initStatement() noexcept
{
    delete communicator;
    communicator = new HiveCommunicatorHS2(this, hiveConnection());
    if (communicator == nullptr)
        return 1;
    hiveStatementSettingsOf(hiveConnection(), &settings);
    readerState.statement = this;
    readerState.readBuffer = hiveConnection() != nullptr ? &hiveConnection()->readBuffer : nullptr;
    readerState.longDataCache = settings.longDataCache;
    communicator->fetchState = &readerState;
    return BaseStatement::initStatement();
}

int16_t HiveStatement::createIRD(BaseIRD** out) noexcept
{
    auto* d = new HiveIRD(this);
    *out = d;
    if (d == nullptr)
        return 1;
    d->implementation = 1;
    d->autoAllocated = 1;
    return 0;
}

int16_t HiveStatement::createIPD(BaseIPD** out) noexcept
{
    auto* d = new HiveIPD(this);
    *out = d;
    return d != nullptr ? 0 : 1;
}

int16_t HiveStatement::createCofC(BaseCofC** out) noexcept
{
    auto* d = new HiveCofC(this);
    *out = d;
    return d != nullptr ? 0 : 1;
}

HiveIRDRecord* HiveStatement::columnRecord(uint16_t column) const noexcept
{
    if (ird == nullptr || column == 0)
        return nullptr;
    return static_cast<HiveIRD*>(ird)->hiveRecord(column);
}

// ---- The statement's own SQL text ---------------------------------------------

int16_t HiveStatement::reserveSqlText(size_t units) noexcept
{
    if (sqlText != nullptr && sqlTextCapacity >= units + 1) {
        sqlTextLength = 0;
        sqlText[0] = 0;
        return 0;
    }
    ramFree(sqlText);
    sqlTextCapacity = 0;
    sqlTextLength = 0;
    sqlText = static_cast<uint16_t*>(ramAlloc((units + 1) * sizeof(uint16_t)));
    if (sqlText == nullptr)
        return 1;
    sqlTextCapacity = units + 1;
    sqlText[0] = 0;
    return 0;
}

int16_t HiveStatement::setSqlText(const uint16_t* text, size_t units) noexcept
{
    if (reserveSqlText(units) != 0)
        return 1;
    if (units != 0)
        std::memcpy(sqlText, text, units * sizeof(uint16_t));
    sqlText[units] = 0;
    sqlTextLength = units;
    return 0;
}

// ---- The wire -------------------------------------------------------------------

HiveStatement* HiveStatement::wireOwnerOf(HiveConnection* conn) noexcept
{
    return conn != nullptr ? conn->wireOwner : nullptr;
}

int16_t HiveStatement::dropPendingReply() noexcept
{
    HiveConnection* conn = hiveConnection();
    if (parkedReply.parked()) {
        // Nothing of this statement is on the socket any more.
        dropParkedReply();
        if (fetchState == HIVE_FETCH_AHEAD)
            fetchState = HIVE_FETCH_IDLE;
        releaseWire();
        return 0;
    }
    // A read-ahead follows a block read through: over HTTP draining would
    // take the read-ahead's response for the rest of that block's.
    int rc = 0;
    if (fetchState == HIVE_FETCH_AHEAD)
        conn->readBuffer.resetFrame();
    else
        rc = conn->readBuffer.drainPending(this);
    // A reply read back from its spill file was passed with it.
    dropParkedReply();
    if (fetchState == HIVE_FETCH_AHEAD) {
        // The read-ahead's reply may not have started to arrive yet.
        uint32_t rows = 0;
        int32_t more = 0;
        rc = rc || communicator->readFetchResultsReply(&rows, &more) || conn->readBuffer.drainPending(this);
        fetchState = HIVE_FETCH_IDLE;
    }
    releaseWire();
    return rc != 0 ? 1 : 0;
}

int16_t HiveStatement::acquireWire() noexcept
{
    HiveConnection* conn = hiveConnection();
    HiveStatement* owner = wireOwnerOf(conn);
    if (owner != this && owner != nullptr && owner->parkReply() != 0) {
        // The owner's reply could not be kept (no memory, or the wire
        // broke): it is dropped, and the owner's next fetch says so rather
        // than ending its result early.
        if (owner->resultState == HIVE_RESULT_OPEN) {
            owner->resultAbandoned = true;
            owner->rowsLeft = 0;
            owner->moreRows = 0;
        }
        if (owner->dropPendingReply() != 0)
            return 1;
    }
    ownsWire = true;
    conn->wireOwner = this;
    // The wire is free until this statement writes: the operations closed
    // while it was busy are closed now.
    communicator->sendQueuedCloses();
    return 0;
}

int16_t HiveStatement::parkReply() noexcept
{
    HiveConnection* conn = hiveConnection();
    if (!ownsWire || conn == nullptr) {
        releaseWire();
        return 0;
    }
    bool begun = false;
    if (parkedReply.park(conn->readBuffer, fetchState >= HIVE_FETCH_AHEAD, &begun) != 0) {
        // A read-ahead's reply has begun now: what is left of it is the
        // rest of the frame, not a reply still to come.
        if (begun && fetchState == HIVE_FETCH_AHEAD)
            fetchState = HIVE_FETCH_IDLE;
        return 1;
    }
    releaseWire();
    return 0;
}

int16_t HiveStatement::resumeParkedReply() noexcept
{
    if (!parkedReply.parked())
        return 0;
    if (acquireWire() != 0)
        return 1;
    return parkedReply.resume(hiveConnection()->readBuffer) != 0 ? 1 : 0;
}

void HiveStatement::dropParkedReply() noexcept
{
    HiveConnection* conn = hiveConnection();
    parkedReply.drop(conn != nullptr ? &conn->readBuffer : nullptr);
}

void HiveStatement::releaseParkedReply() noexcept
{
    dropParkedReply();
    parkedReply.release();
}

void HiveStatement::releaseWire() noexcept
{
    ownsWire = false;
    HiveConnection* conn = hiveConnection();
    if (conn != nullptr && conn->wireOwner == this)
        conn->wireOwner = nullptr;
}

// ---- Result columns -------------------------------------------------------------

int HiveStatement::ColumnBinder::columnCount(uint32_t count) noexcept
{
    if (count > INT16_MAX - 1) {
        errPost(MSG_THRIFT_PROTOCOL_ERROR)
            ->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)
            ->addParamText("more result columns than ODBC can describe");
        return 1;
    }
    statement->clearResultDescription();
    if (statement->ensureDescriptorRecords(static_cast<uint16_t>(count), 1) != 0)
        return 1;
    if (statement->ird->setRecordCount(static_cast<int64_t>(count)) != 0)
        return 1;
    statement->resultColumnCount = static_cast<uint16_t>(count);
    statement->resultDescribed = true;
    return 0;
}

int HiveStatement::ColumnBinder::column(uint32_t number, const char* name, size_t nameLength, uint8_t typeCode,
                                        int32_t first, int32_t second) noexcept
{
    if (number == 0 || number > statement->resultColumnCount)
        return 1;
    return statement->bindResultColumn(static_cast<uint16_t>(number - 1), name, nameLength, typeCode, first, second);
}

namespace {

// The server's UTF-8 name as UTF-16 (bytes that are not UTF-8 are taken
// one unit each); without a name, the column number. Null after the
// out-of-memory diagnostic.
uint16_t* columnNameText(const char* name, size_t nameLength, uint16_t number) noexcept
{
    char digits[8];
    if (name == nullptr || nameLength == 0) {
        int n = 0;
        char reversed[8];
        uint16_t v = number;
        do {
            reversed[n++] = static_cast<char>('0' + v % 10);
            v = static_cast<uint16_t>(v / 10);
        } while (v != 0 && n < 7);
        for (int i = 0; i < n; ++i)
            digits[i] = reversed[n - 1 - i];
        name = digits;
        nameLength = static_cast<size_t>(n);
    }
    auto* text = static_cast<uint16_t*>(ramAlloc((nameLength + 1) * sizeof(uint16_t)));
    if (text == nullptr)
        return nullptr;
    // UTF-8 never takes more UTF-16 units than bytes.
    size_t units = 0;
    if (utf8ToUtf16(text, nameLength + 1, name, static_cast<int64_t>(nameLength), &units, 0) == kConvDone)
        return text;
    for (size_t i = 0; i < nameLength; ++i)
        text[i] = static_cast<uint8_t>(name[i]);
    text[nameLength] = 0;
    return text;
}

uint16_t* emptyText() noexcept
{
    auto* text = static_cast<uint16_t*>(ramAlloc(sizeof(uint16_t)));
    if (text != nullptr)
        text[0] = 0;
    return text;
}

void replaceOwnedText(uint16_t** field, uint8_t* borrowed, uint16_t* text) noexcept
{
    if (*borrowed == 0)
        ramFree(*field);
    *field = text;
    *borrowed = 0;
}

}  // namespace

int16_t HiveStatement::bindResultColumn(uint16_t n, const char* name, size_t nameLength, uint8_t typeCode,
                                        int32_t first, int32_t second) noexcept
{
    HiveIRDRecord* rec = columnRecord(static_cast<uint16_t>(n + 1));
    if (rec == nullptr)
        return 1;
    rec->setConciseType(hiveSqlTypeOf(typeCode, settings.stringDescribeType));

    RamPtr<uint16_t> columnName(columnNameText(name, nameLength, static_cast<uint16_t>(n + 1)));
    RamPtr<uint16_t> baseName(columnNameText(name, nameLength, static_cast<uint16_t>(n + 1)));
    RamPtr<uint16_t> label(columnNameText(name, nameLength, static_cast<uint16_t>(n + 1)));
    RamPtr<uint16_t> table(emptyText());
    if (!columnName || !baseName || !label || !table)
        return 1;
    // The record owns the texts from here.
    rec->dropName();
    rec->name = columnName.release();
    rec->nameBorrowed = 0;
    replaceOwnedText(&rec->baseColumnName, &rec->baseColumnBorrowed, baseName.release());
    replaceOwnedText(&rec->label, &rec->labelBorrowed, label.release());
    replaceOwnedText(&rec->tableName, &rec->tableBorrowed, table.release());

    const BaseTypeInfoBlock* row = hiveFindTypeRow(typeCode);
    if (row == nullptr) {
        errPost(MSG_HIVE_COLUMN_TYPE_UNKNOWN)->addParamUnsigned(static_cast<uint64_t>(n) + 1);
        return 1;
    }
    rec->driverFlag = 0;
    rec->freeTypeInfo();
    rec->typeInfo = const_cast<BaseTypeInfoBlock*>(row);
    rec->typeInfoOwned = 0;
    rec->searchable = row->searchable;
    rec->nullable = row->nullable;
    rec->flags = row->flags;
    rec->releaseReaders();
    rec->longDataColumn = 0;
    rec->precision = 0;
    rec->scale = 0;
    rec->intervalCode = 0;

    int64_t codePage = 0;
    const int64_t rowSize = row->columnSize;
    auto sized = [&](int64_t size, bool octets) noexcept {
        rec->columnSize = size;
        rec->length = static_cast<uint64_t>(size);
        if (octets)
            rec->octetLength = size;
    };
    switch (typeCode) {
    case HIVE_TYPE_UNKNOWN:
    case HIVE_TYPE_NULL:
        sized(rowSize, true);
        codePage = kCodePageUtf8;
        break;
    case HIVE_TYPE_BOOLEAN: sized(rowSize, false); break;
    case HIVE_TYPE_TINYINT: sized(4, false); break;
    case HIVE_TYPE_SMALLINT: sized(6, false); break;
    case HIVE_TYPE_INT: sized(11, false); break;
    case HIVE_TYPE_BIGINT: sized(20, false); break;
    case HIVE_TYPE_FLOAT: sized(rowSize, false); break;
    case HIVE_TYPE_DOUBLE: sized(rowSize, false); break;
    case HIVE_TYPE_STRING:
        sized(rowSize < settings.maxStringSize ? rowSize : settings.maxStringSize, true);
        codePage = kCodePageUtf8;
        break;
    case HIVE_TYPE_DATE:
    case HIVE_TYPE_TIMESTAMP:
        sized(rowSize, false);
        rec->precision = static_cast<int16_t>(rowSize);
        // A date has no fraction, whatever its type row's largest scale.
        rec->scale = typeCode == HIVE_TYPE_DATE ? 0 : row->maximumScale;
        rec->intervalCode = typeCode == HIVE_TYPE_DATE ? SQL_CODE_DATE : SQL_CODE_TIMESTAMP;
        codePage = kCodePageUtf8;
        break;
    case HIVE_TYPE_BINARY:
        sized(rowSize, true);
        rec->flags = static_cast<uint16_t>(rec->flags & ~kBaseRecCaseSensitive);
        rec->longDataColumn = 1;
        codePage = kCodePageUtf8;
        break;
    case HIVE_TYPE_USER_DEFINED:
        sized(rowSize, true);
        rec->longDataColumn = 1;
        rec->driverFlag = 1;
        codePage = kCodePageUtf8;
        break;
    case HIVE_TYPE_DECIMAL: {
        int32_t precision = first;
        int32_t scale = second < 0 && first >= 1 ? 0 : second;
        if (precision < 1 || scale < 0) {
            precision = settings.maxNumericPrecision;
            scale = settings.maxNumericScale;
            if (precision == kDefaultMaxNumeric && scale == kDefaultMaxNumeric)
                scale = kDecimalDefaultScale;
        }
        rec->precision = static_cast<int16_t>(precision);
        rec->scale = static_cast<int16_t>(scale);
        rec->columnSize = precision;
        rec->length = static_cast<uint64_t>(precision);
        rec->octetLength = 0;
        codePage = kCodePageUtf8;
        break;
    }
    case HIVE_TYPE_VARCHAR:
        sized(first >= 1 ? first : kVarcharDefaultLength, true);
        codePage = kCodePageUtf8;
        break;
    case HIVE_TYPE_CHAR:
        sized(first >= 1 ? first : kCharDefaultLength, true);
        codePage = kCodePageUtf8;
        break;
    default:
        // Complex types and the codes without a type of their own read as
        // text.
        if (typeCode != HIVE_TYPE_ARRAY && typeCode != HIVE_TYPE_MAP && typeCode != HIVE_TYPE_STRUCT &&
            typeCode != HIVE_TYPE_UNION && typeCode != HIVE_TYPE_ARRAY_ALT)
            break;
        sized(rowSize < settings.maxStringSize ? rowSize : settings.maxStringSize, true);
        codePage = kCodePageUtf8;
        break;
    }
    if (const BaseTypeInfoBlock* text = hiveTextTypeRow(communicator->columnTypeId);
        text != nullptr && typeCode == HIVE_TYPE_STRING) {
        rec->typeInfo = const_cast<BaseTypeInfoBlock*>(text);
        sized(text->columnSize, true);
    }
    rec->setCodePage(codePage);

    // Storage for the values, and the reader.
    HiveColumnStorage& storage = rec->storage;
    storage.columnIndex = n;
    storage.typeCode = typeCode;
    storage.codePage = codePage != 0 ? codePage : storage.codePage;
    storage.precision = rec->precision;
    storage.scale = rec->scale;
    storage.displaySize = rec->displaySize();
    // Intervals come as strings; the server's type id says which fields
    // their text holds.
    const int32_t typeId = communicator->columnTypeId;
    storage.intervalType = typeCode != HIVE_TYPE_STRING             ? 0
                           : typeId == kHiveTypeIdIntervalYearMonth ? int16_t(SQL_INTERVAL_YEAR_TO_MONTH)
                           : typeId == kHiveTypeIdIntervalDayTime   ? int16_t(SQL_INTERVAL_DAY_TO_SECOND)
                                                                    : 0;
    const int64_t rowsPerFetch = communicator->rowsPerFetch > 0 ? communicator->rowsPerFetch : 1;
    readerState.rowsPerFetch = static_cast<uint32_t>(rowsPerFetch > UINT32_MAX ? UINT32_MAX : rowsPerFetch);
    if (storage.prepare(settings.resultStyle, settings.longDataCache, readerState.rowsPerFetch,
                        settings.longDataBufferSize) != 0)
        return 1;
    DataReader* reader = nullptr;
    if (communicator->makeReader(&storage, settings.resultStyle, &reader) != 0 || reader == nullptr)
        return 1;
    rec->wireReader = reader;
    rec->currentReader = reader;
    return 0;
}

// ---- The describe query's alias ---------------------------------------------------

int hiveNullMarkerText(uint16_t* buffer) noexcept
{
    buffer[0] = 'N';
    buffer[1] = 'U';
    buffer[2] = 'L';
    buffer[3] = 'L';
    return 4;
}

namespace {

bool textContains(const uint16_t* text, size_t units, size_t from, const char* word) noexcept
{
    const size_t n = std::strlen(word);
    if (n > units)
        return false;
    for (size_t i = from; i + n <= units; ++i) {
        size_t k = 0;
        while (k < n && text[i + k] == static_cast<uint8_t>(word[k]))
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

}  // namespace

int hiveDescribeAlias(const uint16_t* text, size_t units, char* out) noexcept
{
    static const char kBase[] = "ka_subres";
    std::memcpy(out, kBase, sizeof kBase);
    if (!textContains(text, units, 0, kBase))
        return 0;
    // Longer candidates contain the base, so the search can start at its
    // first occurrence.
    const size_t b = sizeof kBase - 1;
    size_t from = 0;
    while (!textContains(text, from + b, from, kBase))
        ++from;
    for (char c1 = 'a'; c1 <= 'z'; ++c1) {
        out[b] = c1;
        out[b + 1] = 0;
        if (!textContains(text, units, from, out))
            return 0;
        for (char c2 = 'a'; c2 <= 'z'; ++c2) {
            out[b + 1] = c2;
            out[b + 2] = 0;
            if (!textContains(text, units, from, out))
                return 0;
        }
    }
    out[b] = 0;
    return 1;
}
