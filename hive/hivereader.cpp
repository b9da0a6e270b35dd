// The data reader roots, the fetch state and column storage they share, the
// helpers every reader uses and the factory that makes a column's reader.
#include "hive/hivereader.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "convert/datacvt.h"
#include "convert/datetime.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "hive/hivecommunicator.h"
#include "hive/hivereaders.h"
#include "hive/hivethrift.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basestmt.h"
#include "platform/katmpsink.h"

// ---- Fetch state and column storage ---------------------------------------

HiveFetchState::~HiveFetchState()
{
    ramFree(lobTemp);
}

HiveColumnStorage::HiveColumnStorage() noexcept
{
    converters.lock.init(1, kKaLockPlain);
}

HiveColumnStorage::~HiveColumnStorage()
{
    release();
}

KaIcuCache* hiveColumnConverters(const HiveFetchState* state, HiveColumnStorage* column) noexcept
{
    if (!column->convertersSet) {
        const KaIcuCache* shared = state->statement->charConversionContext();
        column->converters.setMode(shared->mode);
        column->converters.setFallback(shared->fallback);
        column->convertersSet = true;
    }
    return &column->converters;
}

void HiveColumnStorage::release() noexcept
{
    converters.reset();
    convertersSet = false;
    ramFree(valueBuffer);
    valueBuffer = nullptr;
    valueCapacity = 0;
    if (valueSink != nullptr) {
        valueSink->release();
        delete valueSink;
        valueSink = nullptr;
    }
}

// Hive's day-time intervals carry nanoseconds.
constexpr int16_t kHiveIntervalFractionDigits = 9;

namespace {

// Longest text of a row-wise timestamp, date or decimal value: a decimal of
// 38 digits with sign and point is 40; longer texts are refused.
constexpr uint64_t kHiveRowTextCapacity = 128;

bool isTextKind(HiveReaderKind kind) noexcept
{
    return kind == HIVE_READER_TIMESTAMP || kind == HIVE_READER_DATE || kind == HIVE_READER_DECIMAL;
}

bool isStreamKind(HiveReaderKind kind) noexcept
{
    return kind == HIVE_READER_STRING || kind == HIVE_READER_BINARY;
}

}  // namespace

int HiveColumnStorage::prepare(int32_t resultStyle, int32_t longDataCache, uint32_t rowsPerFetch,
                               uint64_t sinkBufferSize) noexcept
{
    release();
    const HiveReaderKind kind = hiveReaderKindOf(typeCode);
    const uint64_t rows = rowsPerFetch != 0 ? rowsPerFetch : 1;
    uint64_t bytes = 0;
    bool sink = false;
    if (resultStyle == HIVE_RESULT_COLUMN_WISE) {
        if (isStreamKind(kind))
            sink = true;
        else if (isTextKind(kind))
            bytes = uint64_t(hiveSlotWidth(this)) * rows;
        else
            bytes = 8 * rows;
    } else {
        if (isStreamKind(kind))
            sink = longDataCache != 0;
        else if (isTextKind(kind))
            bytes = kHiveRowTextCapacity;
        else
            bytes = 8;
    }
    if (bytes != 0) {
        valueBuffer = static_cast<uint8_t*>(ramAlloc(bytes));
        if (valueBuffer == nullptr)
            return 1;
        valueCapacity = bytes;
    }
    if (sink) {
        valueSink = new KaTmpFileSink(sinkBufferSize != 0 ? sinkBufferSize : KA_TMP_SOURCE_BLOCK);
        if (valueSink == nullptr)
            return 1;
        if (valueSink->open()) {
            release();
            return 1;
        }
    }
    return 0;
}

HiveReaderKind hiveReaderKindOf(uint8_t typeCode) noexcept
{
    switch (typeCode) {
    case HIVE_TYPE_BOOLEAN: return HIVE_READER_BOOLEAN;
    case HIVE_TYPE_TINYINT: return HIVE_READER_TINYINT;
    case HIVE_TYPE_SMALLINT: return HIVE_READER_SMALLINT;
    case HIVE_TYPE_INT: return HIVE_READER_INT;
    case HIVE_TYPE_BIGINT: return HIVE_READER_BIGINT;
    case HIVE_TYPE_FLOAT: return HIVE_READER_FLOAT;
    case HIVE_TYPE_DOUBLE: return HIVE_READER_DOUBLE;
    case HIVE_TYPE_DATE: return HIVE_READER_DATE;
    case HIVE_TYPE_TIMESTAMP: return HIVE_READER_TIMESTAMP;
    case HIVE_TYPE_BINARY: return HIVE_READER_BINARY;
    case HIVE_TYPE_DECIMAL: return HIVE_READER_DECIMAL;
    default: return HIVE_READER_STRING;
    }
}

// ---- DataReader --------------------------------------------------------------

DataReader::DataReader(HiveFetchState* fetchState, HiveColumnStorage* storage) noexcept
    : state(fetchState), columnIndex(storage->columnIndex), parameterFlag(0), nullFlag(0), value(nullptr), length(0),
      column(storage)
{}

DataReader::~DataReader() = default;

void* DataReader::operator new(size_t size) noexcept
{
    return ramAlloc(size);
}

void DataReader::operator delete(void* block) noexcept
{
    ramFree(block);
}

int DataReader::readParameter() noexcept
{
    return hiveColumnDataError("DataReader::readParameter not implemented.");
}

int DataReader::readValue() noexcept
{
    return hiveColumnDataError("the column has no value reader");
}

int DataReader::skipValue() noexcept
{
    return hiveColumnDataError("the column's values cannot be passed over");
}

int DataReader::getDataInPieces(KaDataSink*, int16_t, int32_t*, KaDataConverter**) noexcept
{
    return hiveColumnDataError("the column's values are not read in pieces");
}

int64_t DataReader::valueLength() noexcept
{
    return 0;
}

void DataReader::clearValueLength() noexcept {}

int32_t DataReader::getValueBuffer(const void** out, int64_t* outLength, int32_t* isNull) noexcept
{
    *out = value;
    *outLength = length;
    *isNull = int32_t(nullFlag);
    return int32_t(nullFlag);
}

// ---- Family roots ----------------------------------------------------------

DataReaderHS2::DataReaderHS2(HiveFetchState* fetchState, HiveColumnStorage* storage) noexcept
    : DataReader(fetchState, storage), rowNull(0)
{}

DataReaderHS2::~DataReaderHS2() = default;

int DataReaderHS2::skipValue() noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    uint8_t type = 0;
    int16_t id = 0;
    if (in->readFieldBegin(&type, &id))
        return 1;
    if (type != HIVE_T_STRUCT)
        return hiveColumnDataError("Unexpected field type in column data.");
    return in->skip(type) || in->skipBytes(1) ? 1 : 0;
}

int64_t DataReaderHS2::valueLength() noexcept
{
    return length;
}

void DataReaderHS2::clearValueLength() noexcept
{
    length = 0;
}

int DataReaderHS2::copyToCache(KaDataSink*, uint16_t) noexcept
{
    return hiveColumnDataError("the column cannot be spooled");
}

int DataReaderHS2::createCacheReader(DataReader**, uint16_t) noexcept
{
    return hiveColumnDataError("the column cannot be spooled");
}

DataReaderHS2C::DataReaderHS2C(HiveFetchState* fetchState, HiveColumnStorage* storage) noexcept
    : DataReader(fetchState, storage), elementWidth(0), blockOffset(0), rowPosition(0), valueSink(storage->valueSink),
      columnSource(nullptr), savedPosition(0), nullBitmap(nullptr), bitmapLength(0), blockRows(0), bitmapCapacity(0)
{}

DataReaderHS2C::~DataReaderHS2C()
{
    ramFree(nullBitmap);
}

int DataReaderHS2C::skipValue() noexcept
{
    // A block is taken whole by readValue.
    return 0;
}

int64_t DataReaderHS2C::valueLength() noexcept
{
    return length;
}

void DataReaderHS2C::clearValueLength() noexcept
{
    length = 0;
}

int DataReaderHS2C::copyToCache(KaDataSink*, uint16_t) noexcept
{
    return hiveColumnDataError("column-wise results are not spooled");
}

int DataReaderHS2C::createCacheReader(DataReader**, uint16_t) noexcept
{
    return hiveColumnDataError("column-wise results are not spooled");
}

int DataReaderHS2C::seekRow(int32_t) noexcept
{
    return hiveColumnDataError("the column's values are not strings");
}

// ---- Helpers ---------------------------------------------------------------

int hiveColumnDataError(const char* text) noexcept
{
    errPost(MSG_THRIFT_PROTOCOL_ERROR)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)->addParamText(text);
    return 1;
}

int hiveRefuseColumnCacheRead() noexcept
{
    return hiveColumnDataError("column-wise results are not spooled");
}

namespace {

// Code page of SQL_C_WCHAR data: the connection's, read at each value, since
// a bulk export switches it for the time of its run.
int64_t wideCodePageOf(const HiveFetchState* state) noexcept
{
    const BaseConnection* conn = state->statement != nullptr ? state->statement->connection : nullptr;
    return conn != nullptr && conn->wideCharCodePage != 0 ? conn->wideCharCodePage : kCodePageUtf16LE;
}

}  // namespace

int64_t hiveNullFillWidth(const HiveFetchState* state, int16_t cType) noexcept
{
    switch (cType) {
    case SQL_C_CHAR: return 1;
    case SQL_C_WCHAR: return wideCodePageOf(state) == kCodePageUtf16LE ? 2 : 1;
    case SQL_C_LONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_SHORT: return 2;
    case SQL_C_DOUBLE: return 8;
    default: return 0;
    }
}

int hiveNullFill(const HiveFetchState* state, BaseOutString* out, int16_t cType) noexcept
{
    return out->setNull(hiveNullFillWidth(state, cType)) != 0 ? 1 : 0;
}

int hiveWriteToSink(KaDataSink* sink, const void* bytes, uint64_t n) noexcept
{
    auto* p = static_cast<const uint8_t*>(bytes);
    while (n > 0) {
        uint8_t* window = nullptr;
        uint64_t room = 0;
        int32_t more = 0;
        if (sink->getWriteWindow(&window, &room, &more))
            return 1;
        if (room == 0)
            return hiveColumnDataError("the value's storage takes no more bytes");
        const uint64_t piece = room < n ? room : n;
        memcpy(window, p, piece);
        if (sink->commit(piece, 1))
            return 1;
        p += piece;
        n -= piece;
    }
    return 0;
}

int hiveCopyReplyToSink(HiveNetReadBuffer* in, KaDataSink* sink, uint64_t n, bool last) noexcept
{
    while (n > 0) {
        uint8_t* window = nullptr;
        uint64_t room = 0;
        int32_t more = 0;
        if (sink->getWriteWindow(&window, &room, &more))
            return 1;
        if (room == 0)
            return hiveColumnDataError("the value's storage takes no more bytes");
        const uint64_t piece = room < n ? room : n;
        if (in->readBytes(window, size_t(piece)))
            return 1;
        n -= piece;
        if (sink->commit(piece, n > 0 || !last ? 1 : 0))
            return 1;
    }
    return 0;
}

int hiveConvertValue(const DataReader* reader, BaseOutString* out, int16_t cType, int16_t sqlType, int64_t size,
                     int16_t scale, int64_t codePage, const void* src, int64_t length, int32_t valueKind) noexcept
{
    BaseStatement* statement = reader->state->statement;
    BaseConvertContext ctx;
    statement->conversionContext(&ctx);
    ctx.cType = cType;
    ctx.column = uint16_t(reader->columnIndex + 1);
    ctx.out = out;
    ctx.sqlType = sqlType;
    ctx.size = size;
    ctx.scale = scale;
    ctx.unsignedFlag = false;
    ctx.codePage = codePage;
    if (valueKind == kBaseKindText)
        ctx.cache = hiveColumnConverters(reader->state, reader->column);
    const int16_t rc = baseConvertSqlToC(ctx, src, length, valueKind);
    statement->keepLongData(ctx);
    return rc != 0 ? 1 : 0;
}

int hiveIntervalToC(const DataReader* reader, BaseOutString* out, int16_t cType, const void* text,
                    int64_t length) noexcept
{
    const int16_t type = reader->column->intervalType;
    if (type == 0 || cType < SQL_C_INTERVAL_YEAR || cType > SQL_C_INTERVAL_MINUTE_TO_SECOND)
        return -1;
    // '<text>': an interval literal's value, which the engine reads in the
    // fields of the column's type. Text too long for any interval goes as it
    // came and is refused there.
    char quoted[kBaseIntervalTextSize];
    const void* value = text;
    int64_t n = length;
    if (length >= 0 && length + 2 <= int64_t(sizeof quoted)) {
        quoted[0] = '\'';
        if (length > 0)
            memcpy(quoted + 1, text, size_t(length));
        quoted[length + 1] = '\'';
        value = quoted;
        n = length + 2;
    }
    return hiveConvertValue(reader, out, cType, type, 0, kHiveIntervalFractionDigits, reader->column->codePage, value,
                            n, kBaseKindText);
}

namespace {

const HiveNumericShape kShapes[] = {
    {HIVE_READER_BOOLEAN, kTColumnValueBoolVal, 0, HIVE_T_BOOL, HIVE_T_BOOL, 1, SQL_BIT, kBaseKindTinyInt, SQL_C_BIT},
    {HIVE_READER_TINYINT, kTColumnValueByteVal, 0, HIVE_T_BYTE, HIVE_T_BYTE, 1, SQL_TINYINT, kBaseKindTinyInt,
     SQL_C_STINYINT},
    {HIVE_READER_SMALLINT, kTColumnValueI16Val, kTColumnValueI32Val, HIVE_T_I16, HIVE_T_I32, 2, SQL_SMALLINT,
     kBaseKindSmallInt, SQL_C_SSHORT},
    {HIVE_READER_INT, kTColumnValueI32Val, 0, HIVE_T_I32, HIVE_T_I32, 4, SQL_INTEGER, kBaseKindInteger, SQL_C_SLONG},
    {HIVE_READER_BIGINT, kTColumnValueI64Val, 0, HIVE_T_I64, HIVE_T_I64, 8, SQL_BIGINT, kBaseKindBigInt, SQL_C_SBIGINT},
    {HIVE_READER_FLOAT, kTColumnValueDoubleVal, 0, HIVE_T_DOUBLE, HIVE_T_DOUBLE, 8, SQL_REAL, kBaseKindReal,
     SQL_C_FLOAT},
    {HIVE_READER_DOUBLE, kTColumnValueDoubleVal, 0, HIVE_T_DOUBLE, HIVE_T_DOUBLE, 8, SQL_DOUBLE, kBaseKindDouble,
     SQL_C_DOUBLE},
};

}  // namespace

const HiveNumericShape* hiveNumericShape(HiveReaderKind kind) noexcept
{
    for (const HiveNumericShape& s : kShapes) {
        if (s.kind == kind)
            return &s;
    }
    return nullptr;
}

int hiveNumberToC(const DataReader* reader, BaseOutString* out, int16_t cType, const HiveNumericShape* shape,
                  const void* value) noexcept
{
    if (shape->kind == HIVE_READER_FLOAT) {
        // Kept as the double the wire carries; a REAL column hands out its float.
        double d = 0;
        memcpy(&d, value, sizeof d);
        const float f = float(d);
        if (cType == SQL_C_FLOAT) {
            baseReportFixed(out, &f, sizeof f);
            return 0;
        }
        return hiveConvertValue(reader, out, cType, shape->sqlType, 0, 0, 0, &f, sizeof f, shape->valueKind);
    }
    if (cType == shape->ownCType) {
        baseReportFixed(out, value, shape->width);
        return 0;
    }
    return hiveConvertValue(reader, out, cType, shape->sqlType, 0, 0, 0, value, shape->width, shape->valueKind);
}

// ---- Converters a reader keeps ------------------------------------------------

HiveReaderConverters::~HiveReaderConverters()
{
    // The sources and sinks they were attached to belong to others.
    for (KaDataConverter* c : {static_cast<KaDataConverter*>(text), static_cast<KaDataConverter*>(bytes)}) {
        if (c != nullptr) {
            c->source = nullptr;
            c->sink = nullptr;
            c->secondSink = nullptr;
            delete c;
        }
    }
}

int HiveReaderConverters::attach(const HiveFetchState* state, bool binary, KaDataSource* source, KaDataSink* sink,
                                 int16_t cType, int64_t length, KaDataConverter** out) noexcept
{
    *out = nullptr;
    const int64_t wide = wideCodePageOf(state);
    const int64_t narrow = state->statement != nullptr ? state->statement->charCodePage : kCodePageUtf8;
    KaDataConverter* conv = nullptr;
    if (!binary && (cType == SQL_C_CHAR || cType == SQL_C_WCHAR)) {
        if (text == nullptr) {
            text = new KaCharConverter();
            if (text == nullptr)
                return 1;
            text->borrowed = 1;
            if (state->statement != nullptr)
                text->pool = state->statement->charConversionContext();
        }
        // The converter's earlier source and sink are not its own.
        text->borrowed = 1;
        text->sink = nullptr;
        const int64_t to = cType == SQL_C_CHAR ? narrow : wide;
        if (text->setCodePages(source, sink, kCodePageUtf8, to, 1))
            return 1;
        conv = text;
    } else {
        if (bytes == nullptr) {
            bytes = new KaBinaryConverter();
            if (bytes == nullptr)
                return 1;
        }
        bytes->borrowed = 1;
        bytes->sink = nullptr;
        int32_t form = KA_CVT_FORM_BYTES;
        int32_t terminate = 0;
        if (binary && cType == SQL_C_CHAR) {
            form = KA_CVT_FORM_HEX;
            terminate = 1;
        } else if (binary && cType == SQL_C_WCHAR) {
            form = wide == kCodePageUtf16LE ? KA_CVT_FORM_HEX_W : KA_CVT_FORM_HEX;
            terminate = 1;
        }
        bytes->setSourceSink(source, sink, form, terminate);
        conv = bytes;
    }
    conv->borrowed = 1;
    // The reader keeps it for the column's life: a caller releasing it
    // leaves it here.
    conv->notPooled = 1;
    conv->setLength(length, -1);
    *out = conv;
    return 0;
}
