// The typed data readers behind hiveMakeReader: the row-wise readers and
// their cache twins (which read the values back from a statement's spool),
// and the column-wise readers with their cache forms. Families share one
// body each: fixed-width numbers, texts kept whole (dates, timestamps,
// decimals) and streamed values (strings, binaries). The statement reaches
// them through DataReader; tests and the spooling name them.
#pragma once
#include <cstdint>

#include "hive/hivereader.h"

class HiveNetSourceHS2;
class KaBinaryConverter;
class KaCharConverter;
class KaMemorySource;
class KaTmpFileSource;

// The wire form of a numeric kind and what it becomes.
struct HiveNumericShape {
    HiveReaderKind kind;
    int16_t member;       // union member of TColumnValue
    int16_t otherMember;  // a second member the kind accepts, or 0
    uint8_t wireType;     // Thrift type of the value
    uint8_t otherWireType;
    int32_t width;  // bytes stored and copied to the application
    int16_t sqlType;
    int32_t valueKind;
    int16_t ownCType;  // C type copied directly
};

// Converters a reader keeps for the life of its column, made on first use.
struct HiveReaderConverters {
    HiveReaderConverters() noexcept = default;
    ~HiveReaderConverters();
    HiveReaderConverters(const HiveReaderConverters&) = delete;
    HiveReaderConverters& operator=(const HiveReaderConverters&) = delete;
    // A converter for cType attached to source and sink (its previous
    // source and sink are left to their owners), total length set.
    [[nodiscard]] int attach(const HiveFetchState* state, bool binary, KaDataSource* source, KaDataSink* sink,
                             int16_t cType, int64_t length, KaDataConverter** out) noexcept;
    KaCharConverter* text = nullptr;
    KaBinaryConverter* bytes = nullptr;
};

// A reader's cache twin over the same column, for createCacheReader: 0, or 1
// when it could not be allocated.
template <class Twin>
[[nodiscard]] int hiveMakeTwin(HiveFetchState* state, HiveColumnStorage* column, DataReader** out) noexcept
{
    *out = new Twin(state, column);
    return *out == nullptr ? 1 : 0;
}

// A typed reader's constructor, which hands arg to its family's base, and
// its createCacheReader, which makes its cache twin.
#define HIVE_TWINNED_READER(Name, Twin, Base, arg)                                                                     \
    Name::Name(HiveFetchState* s, HiveColumnStorage* c) noexcept : Base(s, c, arg) {}                                  \
    int Name::createCacheReader(DataReader** out, uint16_t) noexcept                                                   \
    {                                                                                                                  \
        return hiveMakeTwin<Twin>(state, column, out);                                                                 \
    }

// ---- Row-wise ---------------------------------------------------------------

class NumericDataReaderHS2 : public DataReaderHS2 {
public:
    [[nodiscard]] int getData(BaseOutString* out, int16_t cType) noexcept override;
    [[nodiscard]] int readValue() noexcept override;
    [[nodiscard]] int copyToCache(KaDataSink* sink, uint16_t columnNumber) noexcept override;
    // A cache record into the value buffer.
    [[nodiscard]] int readCacheRecord() noexcept;

    const HiveNumericShape* shape;

protected:
    NumericDataReaderHS2(HiveFetchState* state, HiveColumnStorage* column, const HiveNumericShape* shape) noexcept;
};

// Timestamps, dates and decimals: the text kept in the value buffer.
class TextDataReaderHS2 : public DataReaderHS2 {
public:
    [[nodiscard]] int getData(BaseOutString* out, int16_t cType) noexcept override;
    [[nodiscard]] int readValue() noexcept override;
    [[nodiscard]] int copyToCache(KaDataSink* sink, uint16_t columnNumber) noexcept override;
    [[nodiscard]] int readCacheRecord() noexcept;

    HiveReaderKind kind;
    int64_t codePage;
    int64_t precision;
    int64_t scale;

protected:
    TextDataReaderHS2(HiveFetchState* state, HiveColumnStorage* column, HiveReaderKind kind) noexcept;
};

// Strings and binaries: the bytes in the column's value sink, or without
// the long-data cache left in the reply until they are converted.
class StreamDataReaderHS2 : public DataReaderHS2 {
public:
    ~StreamDataReaderHS2() override;
    [[nodiscard]] int getData(BaseOutString* out, int16_t cType) noexcept override;
    [[nodiscard]] int readValue() noexcept override;
    [[nodiscard]] int getDataInPieces(KaDataSink* sink, int16_t cType, int32_t* isNull,
                                      KaDataConverter** converter) noexcept override;
    bool readsInPieces() const noexcept override { return true; }
    // Known once readValue has taken the row's value (or its header).
    int64_t currentValueBytes() noexcept override { return rowNull != 0 ? 0 : length; }
    [[nodiscard]] int copyToCache(KaDataSink* sink, uint16_t columnNumber) noexcept override;
    [[nodiscard]] int readCacheRecord() noexcept;
    // Without the long-data cache: passes what is still in the reply of the
    // value readValue left there (and its closing STOPs), so that the reply
    // is on the next column. The statement calls it before it reads on past
    // the column. Nothing to do otherwise.
    [[nodiscard]] int finishPendingValue() noexcept override;

    bool binary;
    KaTmpFileSink* valueSink;
    // A value of the reply not yet passed (long-data cache off).
    int32_t pending;
    // The reply source was attached to the pending value.
    int32_t wireAttached;
    // 1 for a cache twin: its values carry no STOP bytes.
    int32_t cacheRecords;

protected:
    StreamDataReaderHS2(HiveFetchState* state, HiveColumnStorage* column, bool binary) noexcept;
    // A source over the current value from its first byte.
    [[nodiscard]] int valueSource(KaDataSource** out) noexcept;
    [[nodiscard]] int readHeaders(int32_t* n) noexcept;
    [[nodiscard]] int takeValue(int32_t n) noexcept;

    KaTmpFileSource* sinkSource = nullptr;
    HiveNetSourceHS2* wireSource = nullptr;
    HiveReaderConverters converters;
};

#define HIVE_ROW_READER(Name, Base, ...)                                                                               \
    class Name : public Base {                                                                                         \
    public:                                                                                                            \
        Name(HiveFetchState* state, HiveColumnStorage* column) noexcept;                                               \
        [[nodiscard]] int createCacheReader(DataReader** out, uint16_t columnNumber) noexcept override;                \
    };
HIVE_ROW_READER(StringDataReaderHS2, StreamDataReaderHS2)
HIVE_ROW_READER(TinyintDataReaderHS2, NumericDataReaderHS2)
HIVE_ROW_READER(SmallintDataReaderHS2, NumericDataReaderHS2)
HIVE_ROW_READER(IntDataReaderHS2, NumericDataReaderHS2)
HIVE_ROW_READER(BigintDataReaderHS2, NumericDataReaderHS2)
HIVE_ROW_READER(BooleanDataReaderHS2, NumericDataReaderHS2)
HIVE_ROW_READER(FloatDataReaderHS2, NumericDataReaderHS2)
HIVE_ROW_READER(DoubleDataReaderHS2, NumericDataReaderHS2)
HIVE_ROW_READER(TimestampDataReaderHS2, TextDataReaderHS2)
HIVE_ROW_READER(BinaryDataReaderHS2, StreamDataReaderHS2)
HIVE_ROW_READER(DecimalDataReaderHS2, TextDataReaderHS2)
HIVE_ROW_READER(DateDataReaderHS2, TextDataReaderHS2)
#undef HIVE_ROW_READER

// A row-wise reader's twin over the statement's spool: the same value
// handling, the values taken from cache records.
template <class Wire>
class CacheReaderHS2 : public Wire {
public:
    CacheReaderHS2(HiveFetchState* state, HiveColumnStorage* column) noexcept : Wire(state, column) {}
    [[nodiscard]] int readValue() noexcept override { return this->readCacheRecord(); }
    [[nodiscard]] int skipValue() noexcept override;
};

// Passes one cache record of the current read buffer.
[[nodiscard]] int hiveSkipCacheRecord(HiveFetchState* state) noexcept;

template <class Wire>
int CacheReaderHS2<Wire>::skipValue() noexcept
{
    return hiveSkipCacheRecord(this->state);
}

#define HIVE_CACHE_READER(Name, Wire)                                                                                  \
    class Name : public CacheReaderHS2<Wire> {                                                                         \
    public:                                                                                                            \
        Name(HiveFetchState* state, HiveColumnStorage* column) noexcept : CacheReaderHS2(state, column) {}             \
    };
HIVE_CACHE_READER(StringCacheReaderHS2, StringDataReaderHS2)
HIVE_CACHE_READER(TinyintCacheReaderHS2, TinyintDataReaderHS2)
HIVE_CACHE_READER(SmallintCacheReaderHS2, SmallintDataReaderHS2)
HIVE_CACHE_READER(IntCacheReaderHS2, IntDataReaderHS2)
HIVE_CACHE_READER(BigintCacheReaderHS2, BigintDataReaderHS2)
HIVE_CACHE_READER(BooleanCacheReaderHS2, BooleanDataReaderHS2)
HIVE_CACHE_READER(FloatCacheReaderHS2, FloatDataReaderHS2)
HIVE_CACHE_READER(DoubleCacheReaderHS2, DoubleDataReaderHS2)
HIVE_CACHE_READER(TimestampCacheReaderHS2, TimestampDataReaderHS2)
HIVE_CACHE_READER(BinaryCacheReaderHS2, BinaryDataReaderHS2)
HIVE_CACHE_READER(DecimalCacheReaderHS2, DecimalDataReaderHS2)
HIVE_CACHE_READER(DateCacheReaderHS2, DateDataReaderHS2)
#undef HIVE_CACHE_READER

// Column-wise results are never spooled: reading a column-wise cache form
// is refused with a diagnostic.
[[nodiscard]] int hiveRefuseColumnCacheRead() noexcept;

// ---- Column-wise -------------------------------------------------------------

// Numbers: the block kept in wire form, each row decoded when it is read.
class FixedDataReaderHS2C : public DataReaderHS2C {
public:
    [[nodiscard]] int getData(BaseOutString* out, int16_t cType) noexcept override;
    [[nodiscard]] int readValue() noexcept override;
    // Moves to state->currentRow and decodes its value.
    [[nodiscard]] int positionFixed() noexcept;

    const HiveNumericShape* shape;
    // Thrift type of the block's elements.
    uint8_t elementType;

protected:
    FixedDataReaderHS2C(HiveFetchState* state, HiveColumnStorage* column, const HiveNumericShape* shape) noexcept;
};

// Timestamps, dates and decimals: zero-padded text slots of the display size.
class SlotDataReaderHS2C : public DataReaderHS2C {
public:
    [[nodiscard]] int getData(BaseOutString* out, int16_t cType) noexcept override;
    [[nodiscard]] int readValue() noexcept override;
    [[nodiscard]] int positionTextSlot() noexcept;

    HiveReaderKind kind;
    uint32_t slotWidth;

protected:
    SlotDataReaderHS2C(HiveFetchState* state, HiveColumnStorage* column, HiveReaderKind kind) noexcept;
};

// String-like values: spooled through the value sink into the column source.
class SpoolDataReaderHS2C : public DataReaderHS2C {
public:
    ~SpoolDataReaderHS2C() override;
    [[nodiscard]] int getData(BaseOutString* out, int16_t cType) noexcept override;
    [[nodiscard]] int readValue() noexcept override;
    [[nodiscard]] int getDataInPieces(KaDataSink* sink, int16_t cType, int32_t* isNull,
                                      KaDataConverter** converter) noexcept override;
    bool readsInPieces() const noexcept override { return streaming >= 0; }
    int64_t currentValueBytes() noexcept override;
    // Finds the current row's value and its length; the file then stands at
    // the value's start, or where the value was taken to.
    [[nodiscard]] int positionRow() noexcept;
    [[nodiscard]] int seekRow(int32_t form) noexcept override;

    // 0: plain string; 1: binary; -1: no piecewise reading.
    int32_t streaming;

protected:
    SpoolDataReaderHS2C(HiveFetchState* state, HiveColumnStorage* column, int32_t streaming) noexcept;
    [[nodiscard]] int takeValue(int32_t form) noexcept;
    [[nodiscard]] int valueAsBytes() noexcept;
    [[nodiscard]] int valueAsSource() noexcept;

    KaTmpFileSource* columnFile;
    // The value's source in source form: a window of the column source, or
    // a copy of a value that crosses its blocks.
    KaMemorySource* windowSource = nullptr;
    KaTmpFileSource* copySource = nullptr;
    HiveReaderConverters converters;
};

#define HIVE_COLUMN_READER(Name, Base)                                                                                 \
    class Name : public Base {                                                                                         \
    public:                                                                                                            \
        Name(HiveFetchState* state, HiveColumnStorage* column) noexcept;                                               \
        [[nodiscard]] int createCacheReader(DataReader** out, uint16_t columnNumber) noexcept override;                \
    };
HIVE_COLUMN_READER(StringDataReaderHS2C, SpoolDataReaderHS2C)
HIVE_COLUMN_READER(TinyintDataReaderHS2C, FixedDataReaderHS2C)
HIVE_COLUMN_READER(SmallintDataReaderHS2C, FixedDataReaderHS2C)
HIVE_COLUMN_READER(IntDataReaderHS2C, FixedDataReaderHS2C)
HIVE_COLUMN_READER(BigintDataReaderHS2C, FixedDataReaderHS2C)
HIVE_COLUMN_READER(BooleanDataReaderHS2C, FixedDataReaderHS2C)
HIVE_COLUMN_READER(FloatDataReaderHS2C, FixedDataReaderHS2C)
HIVE_COLUMN_READER(DoubleDataReaderHS2C, FixedDataReaderHS2C)
HIVE_COLUMN_READER(TimestampDataReaderHS2C, SlotDataReaderHS2C)
HIVE_COLUMN_READER(BinaryDataReaderHS2C, SpoolDataReaderHS2C)
HIVE_COLUMN_READER(DecimalDataReaderHS2C, SlotDataReaderHS2C)
HIVE_COLUMN_READER(DateDataReaderHS2C, SlotDataReaderHS2C)
HIVE_COLUMN_READER(UnionDataReaderHS2C, SpoolDataReaderHS2C)
HIVE_COLUMN_READER(StructDataReaderHS2C, SpoolDataReaderHS2C)
HIVE_COLUMN_READER(ArrayDataReaderHS2C, SpoolDataReaderHS2C)
HIVE_COLUMN_READER(MapDataReaderHS2C, SpoolDataReaderHS2C)
HIVE_COLUMN_READER(UnsupportedDataReaderHS2C, SpoolDataReaderHS2C)
#undef HIVE_COLUMN_READER

// Column-wise cache forms: column-wise results are never spooled, so these
// only pass records and refuse to read.
template <class Wire>
class CacheReaderHS2C : public Wire {
public:
    CacheReaderHS2C(HiveFetchState* state, HiveColumnStorage* column) noexcept : Wire(state, column) {}
    [[nodiscard]] int readValue() noexcept override { return hiveRefuseColumnCacheRead(); }
    [[nodiscard]] int skipValue() noexcept override { return hiveSkipCacheRecord(this->state); }
};

#define HIVE_COLUMN_CACHE_READER(Name, Wire)                                                                           \
    class Name : public CacheReaderHS2C<Wire> {                                                                        \
    public:                                                                                                            \
        Name(HiveFetchState* state, HiveColumnStorage* column) noexcept : CacheReaderHS2C(state, column) {}            \
    };
HIVE_COLUMN_CACHE_READER(StringCacheReaderHS2C, StringDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(TinyintCacheReaderHS2C, TinyintDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(SmallintCacheReaderHS2C, SmallintDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(IntCacheReaderHS2C, IntDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(BigintCacheReaderHS2C, BigintDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(BooleanCacheReaderHS2C, BooleanDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(FloatCacheReaderHS2C, FloatDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(DoubleCacheReaderHS2C, DoubleDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(TimestampCacheReaderHS2C, TimestampDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(DecimalCacheReaderHS2C, DecimalDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(DateCacheReaderHS2C, DateDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(UnionCacheReaderHS2C, UnionDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(StructCacheReaderHS2C, StructDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(ArrayCacheReaderHS2C, ArrayDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(MapCacheReaderHS2C, MapDataReaderHS2C)
HIVE_COLUMN_CACHE_READER(UnsupportedCacheReaderHS2C, UnsupportedDataReaderHS2C)
#undef HIVE_COLUMN_CACHE_READER

class BinaryCacheReaderHS2C : public CacheReaderHS2C<BinaryDataReaderHS2C> {
public:
    BinaryCacheReaderHS2C(HiveFetchState* state, HiveColumnStorage* column) noexcept : CacheReaderHS2C(state, column) {}
    [[nodiscard]] int getData(BaseOutString*, int16_t) noexcept override { return hiveRefuseColumnCacheRead(); }
    [[nodiscard]] int getDataInPieces(KaDataSink*, int16_t, int32_t*, KaDataConverter**) noexcept override
    {
        return hiveRefuseColumnCacheRead();
    }
    bool readsInPieces() const noexcept override { return false; }
};

// ---- Shared by the readers ------------------------------------------------

// The reply's column data does not match the reader: posted, 1.
[[nodiscard]] int hiveColumnDataError(const char* text) noexcept;
// Bytes of the application's buffer a NULL of cType clears.
int64_t hiveNullFillWidth(const HiveFetchState* state, int16_t cType) noexcept;
// NULL into the application's buffer.
[[nodiscard]] int hiveNullFill(const HiveFetchState* state, BaseOutString* out, int16_t cType) noexcept;
// n bytes into sink, window by window, each commit with more set.
[[nodiscard]] int hiveWriteToSink(KaDataSink* sink, const void* bytes, uint64_t n) noexcept;
// n bytes of the reply into sink, window by window; the last commit clears
// more when `last` is set.
[[nodiscard]] int hiveCopyReplyToSink(HiveNetReadBuffer* in, KaDataSink* sink, uint64_t n, bool last) noexcept;
// A described value of the reader's column converted by the engine.
[[nodiscard]] int hiveConvertValue(const DataReader* reader, BaseOutString* out, int16_t cType, int16_t sqlType,
                                   int64_t size, int16_t scale, int64_t codePage, const void* src, int64_t length,
                                   int32_t valueKind) noexcept;
// An interval column's text as an SQL_C_INTERVAL_* type: the server's bare
// text ("1-2", "-0 00:00:00.000000001") is quoted as the value of an
// interval literal of the column's type and converted. 0 or 1 as
// hiveConvertValue; -1 (nothing done) for any other column or C type.
[[nodiscard]] int hiveIntervalToC(const DataReader* reader, BaseOutString* out, int16_t cType, const void* text,
                                  int64_t length) noexcept;
// A number (stored at shape->width in host order) into the application's
// buffer: copied for the kind's own C type, else converted.
[[nodiscard]] int hiveNumberToC(const DataReader* reader, BaseOutString* out, int16_t cType,
                                const HiveNumericShape* shape, const void* value) noexcept;
// Bytes of one column-wise text slot of a timestamp, date or decimal
// column: its display size, but never less than the longest text the server
// sends for the type (timestamps come with nanoseconds).
uint32_t hiveSlotWidth(const HiveColumnStorage* column) noexcept;
// The shape of a numeric reader kind.
const HiveNumericShape* hiveNumericShape(HiveReaderKind kind) noexcept;
