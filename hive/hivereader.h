// The data readers of a HiveServer2 result: one reader per result column
// decodes that column's values out of the statement's read buffer and hands
// the current value to the conversion engine. Row-wise readers
// (DataReaderHS2 and its typed forms) take one TColumnValue per row;
// column-wise readers (DataReaderHS2C and its forms) take a whole TColumn per
// block. The Hive statement makes them through hiveMakeReader when it binds
// its result columns and drives them while it fetches.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/codepage.h"
#include "foundation/icucache.h"
#include "hive/hivenetread.h"

class BaseOutString;
class BaseStatement;
class KaDataConverter;
class KaDataSink;
class KaDataSource;
class KaTmpFileSink;

// What the statement shares with all its column readers while it fetches.
// The statement owns it, keeps it current and outlives its readers.
struct HiveFetchState {
    HiveFetchState() noexcept = default;
    ~HiveFetchState();
    HiveFetchState(const HiveFetchState&) = delete;
    HiveFetchState& operator=(const HiveFetchState&) = delete;

    // Conversions and diagnostics of the values.
    BaseStatement* statement = nullptr;
    // Where row-wise values are read from: the connection's wire buffer, or
    // the statement's spool buffer while its cache readers serve the rows.
    HiveNetReadBuffer* readBuffer = nullptr;
    // 1: a row-wise row is decoded whole when it is fetched; 0: string and
    // binary values stay in the reply until they are converted.
    int32_t longDataCache = 1;
    // Rows asked for in one FetchResults: the longest null bitmap kept.
    uint32_t rowsPerFetch = 0;
    // Column-wise: the 1-based row of the current block that getData reads;
    // it only grows within a block.
    uint32_t currentRow = 0;
    // Rows of the current block not yet fetched.
    uint32_t rowsLeft = 0;
    // Column-wise: element type and count of the first column's value list,
    // which the communicator reads to learn the block's row count.
    uint8_t firstElementType = 0;
    int32_t firstCount = 0;
    // Shared by the column-wise readers for values that cross a block of
    // their column source; only grows, freed with the state.
    uint8_t* lobTemp = nullptr;
    uint64_t lobTempCapacity = 0;
};

// The storage of one result column's values, owned by the column's record
// (the statement's IRD record): its readers and its cache twin share it.
struct HiveColumnStorage {
    HiveColumnStorage() noexcept;
    ~HiveColumnStorage();
    HiveColumnStorage(const HiveColumnStorage&) = delete;
    HiveColumnStorage& operator=(const HiveColumnStorage&) = delete;

    // Sizes the value buffer and makes the value sink for the column's type
    // code and the result style: 0, or 1 after the out-of-memory diagnostic.
    // Column-wise the buffer holds a whole block of rowsPerFetch values;
    // sinkBufferSize is the memory a string value takes before it spills to
    // a temporary file (the connection's long-data cache size). Without the
    // long-data cache a row-wise column has no value sink.
    [[nodiscard]] int prepare(int32_t resultStyle, int32_t longDataCache, uint32_t rowsPerFetch,
                              uint64_t sinkBufferSize) noexcept;
    void release() noexcept;

    uint16_t columnIndex = 0;  // 0-based position of the result column
    uint8_t typeCode = 0;      // the driver's type code (HIVE_TYPE_*)
    int64_t codePage = kCodePageUtf8;
    int64_t precision = 0;    // decimals
    int64_t scale = 0;        // decimals
    int64_t displaySize = 0;  // the column's display size; the widest text slot it needs
    // SQL_INTERVAL_YEAR_TO_MONTH or SQL_INTERVAL_DAY_TO_SECOND for the
    // server's interval types, which come as their bare text ("1-2",
    // "1 02:03:04.5"); 0 for every other column.
    int16_t intervalType = 0;
    alignas(8) uint8_t inlineValue[8] = {};
    uint8_t* valueBuffer = nullptr;
    uint64_t valueCapacity = 0;
    KaTmpFileSink* valueSink = nullptr;
    // The column's own text converters, taken from ICU at its first value
    // that needs one and kept until the storage is released: values are
    // converted without the statement's pool and its lock. Only the
    // statement's calls reach them, so they need no lock of their own.
    KaIcuCache converters;
    bool convertersSet = false;
};

// The column's converters, set to the mode of the statement's pool.
KaIcuCache* hiveColumnConverters(const HiveFetchState* state, HiveColumnStorage* column) noexcept;

// What a reader reads, from the column's type code and the result style.
enum HiveReaderKind : int32_t {
    HIVE_READER_STRING,
    HIVE_READER_TINYINT,
    HIVE_READER_SMALLINT,
    HIVE_READER_INT,
    HIVE_READER_BIGINT,
    HIVE_READER_BOOLEAN,
    HIVE_READER_FLOAT,
    HIVE_READER_DOUBLE,
    HIVE_READER_TIMESTAMP,
    HIVE_READER_BINARY,
    HIVE_READER_DECIMAL,
    HIVE_READER_DATE,
};
// Every type code without a reader of its own (maps, structs, arrays,
// unions, intervals, ...) is read as the string the server sends for it.
HiveReaderKind hiveReaderKindOf(uint8_t typeCode) noexcept;

// Forms of DataReaderHS2C::seekRow.
enum : int32_t {
    HIVE_SEEK_BYTES = 0,
    HIVE_SEEK_SOURCE = 1,
};

// The reader of one result column. Every operation returns 0 on success and
// 1 after its diagnostic unless it says otherwise.
class DataReader {
public:
    DataReader(HiveFetchState* state, HiveColumnStorage* column) noexcept;
    DataReader(const DataReader&) = delete;
    DataReader& operator=(const DataReader&) = delete;

    // Parameters are never read through a reader; refused with a diagnostic.
    [[nodiscard]] virtual int readParameter() noexcept;
    // The current value into the application's buffer as cType.
    [[nodiscard]] virtual int getData(BaseOutString* out, int16_t cType) noexcept = 0;
    // Row-wise: the column's value of the current row; column-wise: the
    // column's values of the block.
    [[nodiscard]] virtual int readValue() noexcept;
    // Row-wise: passes the column's value of the current row unread.
    [[nodiscard]] virtual int skipValue() noexcept;
    // A converter that streams the current value from its first byte into
    // sink as cType, its total length set; *nullFlag 1 (and no converter) for
    // NULL. The converter stays the reader's: the caller pumps it until the
    // value is delivered or the reader moves on, and never frees it.
    [[nodiscard]] virtual int getDataInPieces(KaDataSink* sink, int16_t cType, int32_t* nullFlag,
                                              KaDataConverter** converter) noexcept;
    // getDataInPieces serves this column's values.
    virtual bool readsInPieces() const noexcept { return false; }
    // Bytes of the current row's value as it came (0 for NULL), or -1 when
    // that is not known without reading the value.
    virtual int64_t currentValueBytes() noexcept { return -1; }
    // Without the long-data cache: passes what is left in the reply of the
    // current value, so that the reply stands on the next column. Nothing to
    // do for values read whole.
    [[nodiscard]] virtual int finishPendingValue() noexcept { return 0; }
    // Bytes of the current value.
    virtual int64_t valueLength() noexcept;
    virtual void clearValueLength() noexcept;
    virtual ~DataReader();
    // The current value as seekRow left it (column-wise string columns);
    // returns the null flag.
    virtual int32_t getValueBuffer(const void** value, int64_t* length, int32_t* isNull) noexcept;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;

    HiveFetchState* state;
    uint16_t columnIndex;
    uint32_t parameterFlag;
    uint32_t nullFlag;
    void* value;
    int32_t length;
    HiveColumnStorage* column;
};

// Row-wise readers: one TColumnValue per call, in column order.
class DataReaderHS2 : public DataReader {
public:
    DataReaderHS2(HiveFetchState* state, HiveColumnStorage* column) noexcept;
    ~DataReaderHS2() override;

    [[nodiscard]] int skipValue() noexcept override;
    int64_t valueLength() noexcept override;
    void clearValueLength() noexcept override;
    // The column's next value from the reply into sink as one cache record.
    [[nodiscard]] virtual int copyToCache(KaDataSink* sink, uint16_t columnNumber) noexcept;
    // The reader's cache twin, reading the spooled records of the column.
    [[nodiscard]] virtual int createCacheReader(DataReader** out, uint16_t columnNumber) noexcept;

    uint32_t rowNull;
};

// Column-wise readers: a whole TColumn per block, rows served from storage.
class DataReaderHS2C : public DataReader {
public:
    DataReaderHS2C(HiveFetchState* state, HiveColumnStorage* column) noexcept;
    ~DataReaderHS2C() override;

    [[nodiscard]] int skipValue() noexcept override;
    int64_t valueLength() noexcept override;
    void clearValueLength() noexcept override;
    [[nodiscard]] virtual int copyToCache(KaDataSink* sink, uint16_t columnNumber) noexcept;
    [[nodiscard]] virtual int createCacheReader(DataReader** out, uint16_t columnNumber) noexcept;
    // String-like readers: takes the value of state->currentRow, as bytes
    // (value points at them until the next seek, or until another column
    // takes a value through the statement's LOB temp buffer) or as a source
    // (value is a KaDataSource the reader keeps).
    [[nodiscard]] virtual int seekRow(int32_t form) noexcept;

    int32_t elementWidth;
    uint32_t blockOffset;
    int32_t rowPosition;
    KaTmpFileSink* valueSink;
    KaDataSource* columnSource;
    uint64_t savedPosition;
    uint8_t* nullBitmap;
    uint32_t bitmapLength;
    // Rows of the current block, and the bitmap buffer's size.
    uint32_t blockRows;
    uint32_t bitmapCapacity;
    // The element type of the block's values, which names the column's
    // struct when a later field of it is missing.
    uint8_t blockElementType = 0;

protected:
    // Resets the held value and reads the TColumn's headers up to its values.
    [[nodiscard]] int readColumnHeader(uint8_t* elementType, int32_t* count) noexcept;
    // The null bitmap and the closing STOPs.
    [[nodiscard]] int readNullsAndEnd() noexcept;
    // The row's mark in the null bitmap.
    bool isMarked(uint32_t row) const noexcept;
    // state->currentRow, checked against the block: 0 after the diagnostic.
    [[nodiscard]] uint32_t currentRow() noexcept;
    // The current row's element in a block of fixed-width elements, with
    // rowPosition and blockOffset moved to it; null after the diagnostic
    // (unallocated names the missing block buffer).
    [[nodiscard]] const uint8_t* rowElement(uint32_t width, const char* unallocated) noexcept;
};

// The reader for a column in the given result style (HIVE_RESULT_*): 0 with *out set, or 1
// after the diagnostic (out of memory). The column's storage must have been
// prepared for the same style. The caller owns the reader (delete).
[[nodiscard]] int hiveMakeReader(HiveFetchState* state, HiveColumnStorage* column, int32_t resultStyle,
                                 DataReader** out) noexcept;
