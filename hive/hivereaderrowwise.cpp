// The row-wise readers: one TColumnValue each, decoded in place in the
// statement's read buffer, and their cache twins over a spool.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "convert/number.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "hive/hivenetread.h"
#include "hive/hivenetsource.h"
#include "hive/hivereaders.h"
#include "hive/hivethrift.h"
#include "kamessages.h"
#include "odbc/basestmt.h"
#include "platform/katmpsink.h"

namespace {

// Longest start of a string or binary value that a whole-value conversion
// to a non-character type looks at.
constexpr uint64_t kHiveConvertPrefix = 1024;
// A cache record's length for NULL.
constexpr int32_t kHiveCacheNull = -1;

constexpr const char* kUnexpectedField = "Unexpected field data in column data.";

// A cache record's length: 0 with *rowNull set for a NULL record, 0 with *n
// the byte count otherwise, 1 after the diagnostic.
int readCacheLength(HiveNetReadBuffer* in, int32_t* n, uint32_t* rowNull) noexcept
{
    if (in->readI32(n))
        return 1;
    if (*n == kHiveCacheNull) {
        *rowNull = 1;
        return 0;
    }
    return *n < 0 ? hiveColumnDataError(kUnexpectedField) : 0;
}

// The union's field header, which must name one of the kind's members.
int readUnionHeader(HiveNetReadBuffer* in, int16_t member, int16_t otherMember) noexcept
{
    uint8_t type = 0;
    int16_t id = 0;
    if (in->readFieldBegin(&type, &id))
        return 1;
    if (type != HIVE_T_STRUCT || (id != member && (otherMember == 0 || id != otherMember)))
        return hiveColumnDataError(kUnexpectedField);
    return 0;
}

// The member's field header: 0 with *isNull for STOP, 0 with *wireType for
// a value field, 1 after the diagnostic for anything else.
int readMemberHeader(HiveNetReadBuffer* in, uint8_t want, uint8_t other, int32_t* isNull, uint8_t* wireType,
                     bool protocolFirst = false) noexcept
{
    uint8_t type = 0;
    int16_t id = 0;
    if (in->readFieldBegin(&type, &id))
        return 1;
    if (type == HIVE_T_STOP) {
        *isNull = 1;
        return 0;
    }
    if (id != kTValueValue || (type != want && type != other)) {
        if (protocolFirst)
            (void)hiveColumnDataError("Protocol processing error.");
        return hiveColumnDataError(kUnexpectedField);
    }
    *isNull = 0;
    *wireType = type;
    return 0;
}

int writeRecordLength(KaDataSink* sink, int32_t n) noexcept
{
    uint8_t be[4] = {uint8_t(uint32_t(n) >> 24), uint8_t(uint32_t(n) >> 16), uint8_t(uint32_t(n) >> 8), uint8_t(n)};
    return hiveWriteToSink(sink, be, sizeof be);
}

// A string value's length from the wire.
int readStringLength(HiveNetReadBuffer* in, int32_t* n) noexcept
{
    if (in->readI32(n))
        return 1;
    if (*n < 0)
        return hiveColumnDataError("readString: negative length");
    return 0;
}

}  // namespace

int hiveSkipCacheRecord(HiveFetchState* state) noexcept
{
    int32_t n = 0;
    if (state->readBuffer->readI32(&n))
        return 1;
    return n > 0 ? state->readBuffer->skipBytes(uint64_t(n)) : 0;
}

// ---- Numbers -----------------------------------------------------------------

NumericDataReaderHS2::NumericDataReaderHS2(HiveFetchState* fetchState, HiveColumnStorage* storage,
                                           const HiveNumericShape* s) noexcept
    : DataReaderHS2(fetchState, storage), shape(s)
{
    value = storage->valueBuffer;
}

int NumericDataReaderHS2::readValue() noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    rowNull = 0;
    if (readUnionHeader(in, shape->member, shape->otherMember))
        return 1;
    int32_t isNull = 0;
    uint8_t wireType = 0;
    if (readMemberHeader(in, shape->wireType, shape->otherWireType, &isNull, &wireType,
                         shape->kind == HIVE_READER_TINYINT))
        return 1;
    if (isNull) {
        rowNull = 1;
        return in->skipBytes(1);
    }
    uint8_t* out = static_cast<uint8_t*>(value);
    switch (wireType) {
    case HIVE_T_BOOL:
    case HIVE_T_BYTE:
        if (in->readByte(out))
            return 1;
        break;
    case HIVE_T_I16:
        if (in->readBigEndian(out, 2))
            return 1;
        break;
    case HIVE_T_I32: {
        int32_t v = 0;
        if (in->readI32(&v))
            return 1;
        if (shape->width == 2) {
            // A SMALLINT sent as I32: its low-order 16 bits.
            const int16_t s = int16_t(uint16_t(uint32_t(v)));
            memcpy(out, &s, 2);
        } else {
            memcpy(out, &v, 4);
        }
        break;
    }
    default:
        if (in->readBigEndian(out, 8))
            return 1;
        break;
    }
    length = shape->width;
    return in->skipBytes(2);
}

int NumericDataReaderHS2::getData(BaseOutString* out, int16_t cType) noexcept
{
    if (rowNull)
        return hiveNullFill(state, out, cType);
    return hiveNumberToC(this, out, cType, shape, value);
}

int NumericDataReaderHS2::copyToCache(KaDataSink* sink, uint16_t) noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    if (readUnionHeader(in, shape->member, shape->otherMember))
        return 1;
    int32_t isNull = 0;
    uint8_t wireType = 0;
    if (readMemberHeader(in, shape->wireType, shape->otherWireType, &isNull, &wireType))
        return 1;
    if (isNull) {
        if (writeRecordLength(sink, kHiveCacheNull) || in->skipBytes(1))
            return 1;
    } else {
        // The value as it was on the wire.
        uint8_t bytes[8] = {};
        const uint32_t n = wireType == HIVE_T_BOOL || wireType == HIVE_T_BYTE ? 1
                           : wireType == HIVE_T_I16                           ? 2
                           : wireType == HIVE_T_I32                           ? 4
                                                                              : 8;
        if (in->readBytes(bytes, n) || writeRecordLength(sink, int32_t(n)) || hiveWriteToSink(sink, bytes, n) ||
            in->skipBytes(2))
            return 1;
    }
    return sink->commit(0, 0);
}

int NumericDataReaderHS2::readCacheRecord() noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    rowNull = 0;
    length = 0;
    int32_t n = 0;
    if (readCacheLength(in, &n, &rowNull))
        return 1;
    if (rowNull)
        return 0;
    // The record holds the wire's bytes: 1, 2, 4 or 8 of them.
    if (n != 1 && n != 2 && n != 4 && n != 8)
        return hiveColumnDataError(kUnexpectedField);
    uint8_t be[8] = {};
    if (in->readBytes(be, uint32_t(n)))
        return 1;
    int64_t v = int8_t(be[0]);
    for (int32_t i = 1; i < n; ++i)
        v = int64_t(uint64_t(v) << 8 | be[i]);
    uint8_t* out = static_cast<uint8_t*>(value);
    switch (shape->width) {
    case 1: out[0] = be[n - 1]; break;
    case 2: {
        const int16_t s = int16_t(uint16_t(uint64_t(v)));
        memcpy(out, &s, 2);
        break;
    }
    case 4: {
        const int32_t s = int32_t(uint32_t(uint64_t(v)));
        memcpy(out, &s, 4);
        break;
    }
    default: memcpy(out, &v, 8); break;
    }
    length = shape->width;
    return 0;
}

// ---- Dates, timestamps, decimals ---------------------------------------------

TextDataReaderHS2::TextDataReaderHS2(HiveFetchState* fetchState, HiveColumnStorage* storage, HiveReaderKind k) noexcept
    : DataReaderHS2(fetchState, storage), kind(k), codePage(storage->codePage), precision(storage->precision),
      scale(storage->scale)
{
    value = storage->valueBuffer;
}

namespace {

// A text value into the value buffer, bounded by its capacity.
int readTextInto(HiveNetReadBuffer* in, const HiveColumnStorage* column, int32_t n, int32_t* length) noexcept
{
    if (uint64_t(n) > column->valueCapacity) {
        // Longer than any value of the type: refused, not copied.
        errPost(MSG_HIVE_VALUE_TOO_LONG)
            ->setSqlstateMsg(MSG_SQLSTATE_STRING_TRUNCATION)
            ->addParamSigned(n)
            ->addParamUnsigned(column->valueCapacity);
        return 1;
    }
    if (n > 0 && in->readBytes(column->valueBuffer, size_t(n)))
        return 1;
    *length = n;
    return 0;
}

}  // namespace

int TextDataReaderHS2::readValue() noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    rowNull = 0;
    length = 0;
    if (readUnionHeader(in, kTColumnValueStringVal, 0))
        return 1;
    int32_t isNull = 0;
    uint8_t wireType = 0;
    if (readMemberHeader(in, HIVE_T_STRING, HIVE_T_STRING, &isNull, &wireType))
        return 1;
    if (isNull) {
        rowNull = 1;
        return in->skipBytes(1);
    }
    int32_t n = 0;
    if (readStringLength(in, &n) || readTextInto(in, column, n, &length))
        return 1;
    return in->skipBytes(2);
}

int TextDataReaderHS2::getData(BaseOutString* out, int16_t cType) noexcept
{
    if (rowNull)
        return hiveNullFill(state, out, cType);
    const auto* text = static_cast<const uint8_t*>(value);
    if (kind == HIVE_READER_DECIMAL) {
        return hiveConvertValue(this, out, cType, SQL_DECIMAL, precision, int16_t(scale), codePage, text, length,
                                kBaseKindText);
    }
    BaseStatement* statement = state->statement;
    if (out->bufferLength > 0 && cType == SQL_C_CHAR && codePage == statement->charCodePage) {
        // The text as it came, from where an earlier piece stopped.
        int64_t done = statement->getDataReturned;
        if (done < 0 || done > length)
            done = length;
        const bool cut = out->putText(text + done, length - done, true, 1);
        statement->notePiece(cut, cut ? out->bufferLength - 1 : length - done);
        return 0;
    }
    if (kind == HIVE_READER_TIMESTAMP)
        return hiveConvertValue(this, out, cType, SQL_TYPE_TIMESTAMP, 0, 9, codePage, text, length, kBaseKindText);
    return hiveConvertValue(this, out, cType, SQL_TYPE_DATE, 10, 0, codePage, text, length, kBaseKindText);
}

int TextDataReaderHS2::copyToCache(KaDataSink* sink, uint16_t) noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    if (readUnionHeader(in, kTColumnValueStringVal, 0))
        return 1;
    int32_t isNull = 0;
    uint8_t wireType = 0;
    if (readMemberHeader(in, HIVE_T_STRING, HIVE_T_STRING, &isNull, &wireType))
        return 1;
    if (isNull)
        return writeRecordLength(sink, kHiveCacheNull) || in->skipBytes(1) || sink->commit(0, 0) ? 1 : 0;
    int32_t n = 0;
    if (readStringLength(in, &n) || writeRecordLength(sink, n))
        return 1;
    if (hiveCopyReplyToSink(in, sink, uint64_t(n), true) || in->skipBytes(2))
        return 1;
    return n == 0 ? sink->commit(0, 0) : 0;
}

int TextDataReaderHS2::readCacheRecord() noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    rowNull = 0;
    length = 0;
    int32_t n = 0;
    if (readCacheLength(in, &n, &rowNull))
        return 1;
    if (rowNull)
        return 0;
    return readTextInto(in, column, n, &length);
}

// ---- Strings and binaries ---------------------------------------------------

StreamDataReaderHS2::StreamDataReaderHS2(HiveFetchState* fetchState, HiveColumnStorage* storage, bool isBinary) noexcept
    : DataReaderHS2(fetchState, storage), binary(isBinary), valueSink(storage->valueSink), pending(0), wireAttached(0),
      cacheRecords(0)
{}

StreamDataReaderHS2::~StreamDataReaderHS2()
{
    if (sinkSource != nullptr) {
        sinkSource->release();
        delete sinkSource;
    }
    delete wireSource;
}

int StreamDataReaderHS2::finishPendingValue() noexcept
{
    if (!pending)
        return 0;
    pending = 0;
    const int64_t taken = wireAttached ? wireSource->delivered : 0;
    // A converter still reading the value must not read on into what
    // follows it in the reply.
    if (wireAttached)
        wireSource->abandon();
    wireAttached = 0;
    HiveNetReadBuffer* in = state->readBuffer;
    if (in->skipBytes(uint64_t(length - taken)))
        return 1;
    return cacheRecords ? 0 : in->skipBytes(2);
}

// The union's and member's headers of a string value and its length; NULL
// gives -1 with the union's STOP passed.
int StreamDataReaderHS2::readHeaders(int32_t* n) noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    *n = -1;
    if (readUnionHeader(in, kTColumnValueStringVal, 0))
        return 1;
    int32_t isNull = 0;
    uint8_t wireType = 0;
    if (readMemberHeader(in, HIVE_T_STRING, HIVE_T_STRING, &isNull, &wireType))
        return 1;
    if (isNull)
        return in->skipBytes(1);
    return readStringLength(in, n);
}

int StreamDataReaderHS2::takeValue(int32_t n) noexcept
{
    length = n;
    wireAttached = 0;
    if (!state->longDataCache || valueSink == nullptr) {
        // The bytes stay in the reply until the value is converted.
        pending = 1;
        return 0;
    }
    // The source that read the previous value lends the sink's buffer.
    if (sinkSource != nullptr)
        sinkSource->release();
    if (valueSink->discard() || valueSink->reset())
        return 1;
    if (hiveCopyReplyToSink(state->readBuffer, valueSink, uint64_t(n), true))
        return 1;
    return cacheRecords ? 0 : state->readBuffer->skipBytes(2);
}

int StreamDataReaderHS2::readValue() noexcept
{
    rowNull = 0;
    length = 0;
    // A new value: the statement has passed the previous one.
    pending = 0;
    wireAttached = 0;
    int32_t n = 0;
    if (readHeaders(&n))
        return 1;
    if (n < 0) {
        rowNull = 1;
        return 0;
    }
    return takeValue(n);
}

int StreamDataReaderHS2::valueSource(KaDataSource** out) noexcept
{
    *out = nullptr;
    if (pending) {
        if (wireAttached && wireSource->delivered != 0)
            return hiveColumnDataError("the value was read from the reply already; without the long-data cache "
                                       "a value can be read once");
        if (wireSource == nullptr) {
            wireSource = new HiveNetSourceHS2();
            if (wireSource == nullptr)
                return 1;
            (void)wireSource->open();
        }
        // The reader passes the value's rest itself (finishPendingValue).
        wireSource->attach(state, HIVE_SOURCE_KEEP, length);
        wireAttached = 1;
        *out = wireSource;
        return 0;
    }
    if (valueSink == nullptr)
        return hiveColumnDataError("the column has no value storage");
    if (sinkSource == nullptr) {
        sinkSource = new KaTmpFileSource();
        if (sinkSource == nullptr)
            return 1;
    }
    if (valueSink->toSource(sinkSource))
        return 1;
    *out = sinkSource;
    return 0;
}

int StreamDataReaderHS2::getData(BaseOutString* out, int16_t cType) noexcept
{
    if (rowNull)
        return hiveNullFill(state, out, cType);
    KaDataSource* source = nullptr;
    if (valueSource(&source))
        return 1;
    uint8_t prefix[kHiveConvertPrefix];
    uint8_t* bytes = prefix;
    uint64_t want = sizeof prefix;
    // Character and binary targets take the whole value: the framework
    // delivers it whole or in pieces from one conversion.
    const bool whole = cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY;
    if (whole && length > 0 && uint64_t(length) > sizeof prefix) {
        want = uint64_t(length);
        bytes = static_cast<uint8_t*>(ramAlloc(size_t(want)));
        if (bytes == nullptr)
            return 1;
    }
    uint64_t got = 0;
    int32_t more = 1;
    int rc = 0;
    while (rc == 0 && got < want && more) {
        uint64_t n = 0;
        rc = source->read(bytes + got, want - got, &n, &more);
        if (n == 0)
            break;
        got += n;
    }
    // A value taken from the reply is given up now: the rest is passed.
    if (rc == 0 && source == wireSource && finishPendingValue())
        rc = 1;
    BaseStatement* statement = state->statement;
    if (rc == 0 && (rc = hiveIntervalToC(this, out, cType, bytes, int64_t(got))) < 0)
        rc = statement->convertColumnValue(uint16_t(columnIndex + 1), cType, out, bytes, int64_t(got),
                                           binary ? kBaseKindBinary : kBaseKindText,
                                           hiveColumnConverters(state, column)) != 0
                 ? 1
                 : 0;
    if (bytes != prefix)
        ramFree(bytes);
    return rc;
}

int StreamDataReaderHS2::getDataInPieces(KaDataSink* sink, int16_t cType, int32_t* isNull,
                                         KaDataConverter** converter) noexcept
{
    *converter = nullptr;
    *isNull = int32_t(rowNull);
    if (rowNull)
        return 0;
    KaDataSource* source = nullptr;
    if (valueSource(&source))
        return 1;
    return converters.attach(state, binary, source, sink, cType, length, converter);
}

int StreamDataReaderHS2::copyToCache(KaDataSink* sink, uint16_t) noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    int32_t n = 0;
    if (pending) {
        // Without the long-data cache the current value's length was read
        // already; what the application did not take goes to the spool.
        pending = 0;
        n = int32_t(length - (wireAttached ? wireSource->delivered : 0));
        wireAttached = 0;
    } else if (readHeaders(&n)) {
        return 1;
    } else if (n < 0) {
        return writeRecordLength(sink, kHiveCacheNull) || sink->commit(0, 0) ? 1 : 0;
    }
    if (writeRecordLength(sink, n) || hiveCopyReplyToSink(in, sink, uint64_t(n), true) ||
        (!cacheRecords && in->skipBytes(2)))
        return 1;
    return n == 0 ? sink->commit(0, 0) : 0;
}

int StreamDataReaderHS2::readCacheRecord() noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    cacheRecords = 1;
    rowNull = 0;
    pending = 0;
    wireAttached = 0;
    length = 0;
    int32_t n = 0;
    if (readCacheLength(in, &n, &rowNull))
        return 1;
    if (rowNull)
        return 0;
    return takeValue(n);
}

// ---- The typed readers and their twins -----------------------------------------

HIVE_TWINNED_READER(TinyintDataReaderHS2, TinyintCacheReaderHS2, NumericDataReaderHS2,
                    hiveNumericShape(HIVE_READER_TINYINT))
HIVE_TWINNED_READER(SmallintDataReaderHS2, SmallintCacheReaderHS2, NumericDataReaderHS2,
                    hiveNumericShape(HIVE_READER_SMALLINT))
HIVE_TWINNED_READER(IntDataReaderHS2, IntCacheReaderHS2, NumericDataReaderHS2, hiveNumericShape(HIVE_READER_INT))
HIVE_TWINNED_READER(BigintDataReaderHS2, BigintCacheReaderHS2, NumericDataReaderHS2,
                    hiveNumericShape(HIVE_READER_BIGINT))
HIVE_TWINNED_READER(BooleanDataReaderHS2, BooleanCacheReaderHS2, NumericDataReaderHS2,
                    hiveNumericShape(HIVE_READER_BOOLEAN))
HIVE_TWINNED_READER(FloatDataReaderHS2, FloatCacheReaderHS2, NumericDataReaderHS2, hiveNumericShape(HIVE_READER_FLOAT))
HIVE_TWINNED_READER(DoubleDataReaderHS2, DoubleCacheReaderHS2, NumericDataReaderHS2,
                    hiveNumericShape(HIVE_READER_DOUBLE))

HIVE_TWINNED_READER(TimestampDataReaderHS2, TimestampCacheReaderHS2, TextDataReaderHS2, HIVE_READER_TIMESTAMP)
HIVE_TWINNED_READER(DateDataReaderHS2, DateCacheReaderHS2, TextDataReaderHS2, HIVE_READER_DATE)
HIVE_TWINNED_READER(DecimalDataReaderHS2, DecimalCacheReaderHS2, TextDataReaderHS2, HIVE_READER_DECIMAL)

HIVE_TWINNED_READER(StringDataReaderHS2, StringCacheReaderHS2, StreamDataReaderHS2, false)
HIVE_TWINNED_READER(BinaryDataReaderHS2, BinaryCacheReaderHS2, StreamDataReaderHS2, true)
