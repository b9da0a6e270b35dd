// The column-wise readers: a whole TColumn per block, taken out of the reply
// at once, and each row served from the column's storage.
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
#include "hive/hivereaders.h"
#include "hive/hivethrift.h"
#include "kamessages.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "platform/katmpsink.h"

namespace {

constexpr const char* kBadColumnHeader = "Unexpected packet data in processing a string saveColumn.";

// Bytes of one list element of a numeric block; 0 for a type without one.
int32_t elementWidthOf(uint8_t type) noexcept
{
    switch (type) {
    case HIVE_T_BOOL:
    case HIVE_T_BYTE: return 1;
    case HIVE_T_I16: return 2;
    case HIVE_T_I32: return 4;
    case HIVE_T_I64:
    case HIVE_T_DOUBLE: return 8;
    default: return 0;
    }
}

// Longest text of a timestamp with nanoseconds and of a date.
constexpr int64_t kHiveTimestampText = 29;
constexpr int64_t kHiveDateText = 10;

}  // namespace

// ---- Block framing shared by every column-wise reader ----------------------

int DataReaderHS2C::readColumnHeader(uint8_t* elementType, int32_t* count) noexcept
{
    nullFlag = 1;
    memset(column->inlineValue, 0, sizeof column->inlineValue);
    value = column->inlineValue;
    length = 0;
    blockOffset = 0;
    rowPosition = 0;
    blockRows = 0;
    bitmapLength = 0;
    HiveNetReadBuffer* in = state->readBuffer;
    if (columnIndex == 0) {
        // The communicator read the first column's headers to learn the rows.
        *elementType = state->firstElementType;
        *count = state->firstCount;
    } else {
        uint8_t type = 0;
        int16_t id = 0;
        if (in->readFieldBegin(&type, &id))
            return 1;
        if (type != HIVE_T_STRUCT)
            return hiveColumnDataError(kBadColumnHeader);
        const int16_t unionId = id;
        if (in->readFieldBegin(&type, &id))
            return 1;
        if (type != HIVE_T_LIST || id != kTColumnValues)
            return hiveMissingColumnField(hiveColumnStructOfField(unionId), "values");
        if (in->readByte(elementType) || in->readI32(count))
            return 1;
        // The rows come from the first column: a column of another length
        // would pair its values with the wrong rows.
        if (*count != state->firstCount)
            return hiveReplyFault("the columns of a block hold different numbers of values");
    }
    if (*count < 0)
        return hiveColumnDataError(kBadColumnHeader);
    blockElementType = *elementType;
    blockRows = uint32_t(*count);
    if (valueSink != nullptr) {
        // The column source still lends the sink's last block.
        if (columnSource != nullptr)
            columnSource->release();
        if (valueSink->discard() || valueSink->reset())
            return 1;
    }
    return 0;
}

int DataReaderHS2C::readNullsAndEnd() noexcept
{
    HiveNetReadBuffer* in = state->readBuffer;
    bitmapLength = 0;
    uint8_t type = 0;
    int16_t id = 0;
    if (in->readFieldBegin(&type, &id))
        return 1;
    if (type != HIVE_T_STRING || id != kTColumnNulls)
        return hiveMissingColumnField(hiveColumnStructOfElement(blockElementType), "nulls");
    int32_t n = 0;
    if (in->readI32(&n))
        return 1;
    if (n < 0)
        return hiveColumnDataError(kBadColumnHeader);
    // Only the bytes that cover the block's rows matter; a longer bitmap
    // keeps its marks, the bytes past the rows are passed.
    const uint32_t needed = (blockRows + 7) / 8;
    const uint32_t keep = uint32_t(n) < needed ? uint32_t(n) : needed;
    if (keep > bitmapCapacity) {
        const uint32_t size = keep > state->rowsPerFetch ? keep : state->rowsPerFetch;
        auto* grown = static_cast<uint8_t*>(ramAlloc(size));
        if (grown == nullptr)
            return 1;
        ramFree(nullBitmap);
        nullBitmap = grown;
        bitmapCapacity = size;
    }
    if (keep > 0 && in->readBytes(nullBitmap, keep))
        return 1;
    if (in->skipBytes(uint64_t(uint32_t(n) - keep)))
        return 1;
    bitmapLength = keep;
    return in->skipBytes(2);
}

bool DataReaderHS2C::isMarked(uint32_t row) const noexcept
{
    const uint32_t bit = row - 1;
    return bit / 8 < bitmapLength && (nullBitmap[bit / 8] >> (bit % 8) & 1) != 0;
}

uint32_t DataReaderHS2C::currentRow() noexcept
{
    const uint32_t row = state->currentRow;
    if (row == 0 || row > blockRows) {
        (void)hiveColumnDataError("the column holds fewer values than the block has rows");
        return 0;
    }
    return row;
}

const uint8_t* DataReaderHS2C::rowElement(uint32_t width, const char* unallocated) noexcept
{
    const uint32_t row = currentRow();
    if (row == 0)
        return nullptr;
    if (column->valueBuffer == nullptr) {
        (void)hiveColumnDataError(unallocated);
        return nullptr;
    }
    rowPosition = int32_t(row);
    blockOffset = (row - 1) * width;
    return column->valueBuffer + blockOffset;
}

// ---- Numbers -----------------------------------------------------------------

FixedDataReaderHS2C::FixedDataReaderHS2C(HiveFetchState* fetchState, HiveColumnStorage* storage,
                                         const HiveNumericShape* s) noexcept
    : DataReaderHS2C(fetchState, storage), shape(s), elementType(0)
{}

int FixedDataReaderHS2C::readValue() noexcept
{
    uint8_t type = 0;
    int32_t count = 0;
    if (readColumnHeader(&type, &count))
        return 1;
    const int32_t width = elementWidthOf(type);
    if (width == 0)
        return hiveColumnDataError("Unknown datatype in packet");
    elementType = type;
    elementWidth = width;
    const uint64_t bytes = uint64_t(width) * uint64_t(count);
    if (bytes > 0) {
        if (bytes > column->valueCapacity)
            return hiveColumnDataError("Buffer too small for numeric column data block");
        if (state->readBuffer->readBytes(column->valueBuffer, size_t(bytes)))
            return 1;
    }
    return readNullsAndEnd();
}

int FixedDataReaderHS2C::positionFixed() noexcept
{
    // Each element is read at the width the block gives and stored at the
    // reader's own: a SMALLINT column may come as 32-bit integers.
    const uint8_t* p = rowElement(uint32_t(elementWidth), "Buffer is not allocated for numeric column data block");
    if (p == nullptr)
        return 1;
    uint8_t* out = column->inlineValue;
    if (elementType == HIVE_T_DOUBLE) {
        uint64_t bits = 0;
        for (int32_t i = 0; i < 8; ++i)
            bits = bits << 8 | p[i];
        double d = 0;
        memcpy(&d, &bits, sizeof d);
        if (shape->kind == HIVE_READER_FLOAT || shape->kind == HIVE_READER_DOUBLE) {
            memcpy(out, &d, sizeof d);
        } else {
            const int64_t v = d >= -9.2e18 && d <= 9.2e18 ? int64_t(d) : 0;
            memcpy(out, &v, 8);
        }
    } else {
        int64_t v = int8_t(p[0]);
        for (int32_t i = 1; i < elementWidth; ++i)
            v = int64_t(uint64_t(v) << 8 | p[i]);
        if (shape->kind == HIVE_READER_FLOAT || shape->kind == HIVE_READER_DOUBLE) {
            const double d = double(v);
            memcpy(out, &d, sizeof d);
        } else if (shape->width == 1) {
            out[0] = uint8_t(uint64_t(v));
        } else if (shape->width == 2) {
            const int16_t s = int16_t(uint16_t(uint64_t(v)));
            memcpy(out, &s, 2);
        } else if (shape->width == 4) {
            const int32_t s = int32_t(uint32_t(uint64_t(v)));
            memcpy(out, &s, 4);
        } else {
            memcpy(out, &v, 8);
        }
    }
    nullFlag = isMarked(uint32_t(rowPosition)) ? 1 : 0;
    value = out;
    length = shape->width;
    return 0;
}

int FixedDataReaderHS2C::getData(BaseOutString* out, int16_t cType) noexcept
{
    if (positionFixed())
        return 1;
    if (nullFlag)
        return hiveNullFill(state, out, cType);
    return hiveNumberToC(this, out, cType, shape, value);
}

// ---- Text slots ----------------------------------------------------------------

SlotDataReaderHS2C::SlotDataReaderHS2C(HiveFetchState* fetchState, HiveColumnStorage* storage,
                                       HiveReaderKind k) noexcept
    : DataReaderHS2C(fetchState, storage), kind(k), slotWidth(hiveSlotWidth(storage))
{}

uint32_t hiveSlotWidth(const HiveColumnStorage* column) noexcept
{
    const HiveReaderKind kind = hiveReaderKindOf(column->typeCode);
    const int64_t natural = kind == HIVE_READER_TIMESTAMP ? kHiveTimestampText
                            : kind == HIVE_READER_DATE    ? kHiveDateText
                                                       : baseDecimalDisplaySize(column->precision, column->scale, true);
    const int64_t width = column->displaySize > natural ? column->displaySize : natural;
    return uint32_t(width > 0 && width < 65536 ? width : 1);
}

int SlotDataReaderHS2C::readValue() noexcept
{
    uint8_t type = 0;
    int32_t count = 0;
    if (readColumnHeader(&type, &count))
        return 1;
    if (type != HIVE_T_STRING)
        return hiveColumnDataError("Unexpected datatype found in packet");
    if (uint64_t(slotWidth) * uint64_t(count) > column->valueCapacity)
        return hiveColumnDataError("Buffer too small for fixed length column data block");
    HiveNetReadBuffer* in = state->readBuffer;
    uint8_t* slot = column->valueBuffer;
    for (int32_t i = 0; i < count; ++i, slot += slotWidth) {
        int32_t n = 0;
        if (in->readI32(&n))
            return 1;
        if (n < 0 || uint32_t(n) > slotWidth)
            return hiveColumnDataError("Invalid data length given for fixed length column data");
        if (n > 0 && in->readBytes(slot, size_t(n)))
            return 1;
        memset(slot + n, 0, slotWidth - uint32_t(n));
    }
    return readNullsAndEnd();
}

int SlotDataReaderHS2C::positionTextSlot() noexcept
{
    const uint8_t* slot = rowElement(slotWidth, "Buffer is not allocated for fixed string column data block");
    if (slot == nullptr)
        return 1;
    uint32_t n = slotWidth;
    while (n > 0 && slot[n - 1] == 0)
        --n;
    value = const_cast<uint8_t*>(slot);
    length = int32_t(n);
    nullFlag = n == 0 && isMarked(uint32_t(rowPosition)) ? 1 : 0;
    return 0;
}

int SlotDataReaderHS2C::getData(BaseOutString* out, int16_t cType) noexcept
{
    if (positionTextSlot())
        return 1;
    if (nullFlag)
        return hiveNullFill(state, out, cType);
    const auto* text = static_cast<const char*>(value);
    int64_t n = length;
    const int64_t codePage = column->codePage;
    switch (kind) {
    case HIVE_READER_TIMESTAMP:
        if (n >= 20 && (cType == SQL_C_CHAR || cType == SQL_C_WCHAR) && text[n - 1] == '0') {
            // Trailing zeros of the fraction say nothing; a bare point goes too.
            while (n > 0 && text[n - 1] == '0')
                --n;
            if (n > 0 && text[n - 1] == '.')
                --n;
        }
        return hiveConvertValue(this, out, cType, SQL_TYPE_TIMESTAMP, kHiveTimestampText, 9, codePage, text, n,
                                kBaseKindText);
    case HIVE_READER_DATE:
        return hiveConvertValue(this, out, cType, SQL_TYPE_DATE, kHiveDateText, 0, codePage, text, n, kBaseKindText);
    default:
        return hiveConvertValue(this, out, cType, SQL_DECIMAL, column->precision, int16_t(column->scale), codePage,
                                text, n, kBaseKindText);
    }
}

// ---- Spooled strings -------------------------------------------------------------

SpoolDataReaderHS2C::SpoolDataReaderHS2C(HiveFetchState* fetchState, HiveColumnStorage* storage,
                                         int32_t stream) noexcept
    : DataReaderHS2C(fetchState, storage), streaming(stream), columnFile(nullptr)
{}

SpoolDataReaderHS2C::~SpoolDataReaderHS2C()
{
    if (columnFile != nullptr) {
        columnFile->release();
        delete columnFile;
    }
    if (copySource != nullptr) {
        copySource->release();
        delete copySource;
    }
    delete windowSource;
}

int SpoolDataReaderHS2C::readValue() noexcept
{
    if (valueSink == nullptr)
        return hiveColumnDataError("the column has no value storage");
    if (columnFile == nullptr) {
        columnFile = new KaTmpFileSource();
        if (columnFile == nullptr)
            return 1;
        columnSource = columnFile;
    }
    uint8_t type = 0;
    int32_t count = 0;
    if (readColumnHeader(&type, &count))
        return 1;
    if (type != HIVE_T_STRING)
        return hiveColumnDataError("Unexpected datatype found in packet");
    HiveNetReadBuffer* in = state->readBuffer;
    uint8_t* window = nullptr;
    uint64_t room = 0;
    int32_t more = 0;
    uint64_t placed = 0;
    if (valueSink->getWriteWindow(&window, &room, &more))
        return 1;
    for (int32_t i = 0; i < count; ++i) {
        // Most values lie whole in the reply's buffer and fit the window:
        // length and bytes go across in one step.
        const uint32_t held = in->frameEnd - in->readPos;
        if (held >= 4) {
            const uint8_t* at = in->data + in->readPos;
            const uint32_t wire = uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
            if (wire <= held - 4 && room - placed >= 4 + uint64_t(wire)) {
                const int32_t n = int32_t(wire);
                memcpy(window + placed, &n, 4);
                memcpy(window + placed + 4, at + 4, wire);
                in->readPos += 4 + wire;
                placed += 4 + uint64_t(wire);
                continue;
            }
        }
        int32_t n = 0;
        if (in->readI32(&n))
            return 1;
        if (n < 0)
            return hiveColumnDataError("readString: negative length");
        if (room - placed >= 4 + uint64_t(n)) {
            memcpy(window + placed, &n, 4);
            if (n > 0 && in->readBytes(window + placed + 4, size_t(n)))
                return 1;
            placed += 4 + uint64_t(n);
            continue;
        }
        // Past the window: the record goes to the sink piece by piece.
        if (valueSink->commit(placed, 1) || hiveWriteToSink(valueSink, &n, 4) ||
            hiveCopyReplyToSink(in, valueSink, uint64_t(n), false))
            return 1;
        placed = 0;
        if (valueSink->getWriteWindow(&window, &room, &more))
            return 1;
    }
    if (valueSink->commit(placed, 0) || valueSink->toSource(columnFile))
        return 1;
    return readNullsAndEnd();
}

int SpoolDataReaderHS2C::positionRow() noexcept
{
    const uint32_t row = currentRow();
    if (row == 0)
        return 1;
    if (columnFile == nullptr)
        return hiveColumnDataError("the column holds fewer values than the block has rows");
    if (uint32_t(rowPosition) == row)
        return 0;
    if (uint32_t(rowPosition) > row) {
        if (columnFile->seek(0))
            return 1;
        rowPosition = 0;
    } else if (rowPosition > 0 && columnFile->seek(savedPosition + uint64_t(length))) {
        // The next length follows the current value, taken or not.
        return hiveColumnDataError("the column's spooled values end early");
    }
    while (uint32_t(rowPosition) < row) {
        int32_t n = 0;
        uint64_t got = 0;
        int32_t more = 0;
        if (columnFile->read(&n, 4, &got, &more))
            return 1;
        if (got != 4 || n < 0)
            return hiveColumnDataError("the column's spooled values end early");
        ++rowPosition;
        length = n;
        savedPosition = columnFile->position;
        if (uint32_t(rowPosition) < row && columnFile->seek(savedPosition + uint64_t(n)))
            return hiveColumnDataError("the column's spooled values end early");
    }
    nullFlag = length == 0 && isMarked(row) ? 1 : 0;
    return 0;
}

int SpoolDataReaderHS2C::seekRow(int32_t form) noexcept
{
    if (positionRow())
        return 1;
    if (columnFile->seek(savedPosition))
        return hiveColumnDataError("the column's spooled values end early");
    return takeValue(form);
}

int64_t SpoolDataReaderHS2C::currentValueBytes() noexcept
{
    if (streaming < 0 || positionRow() != 0)
        return -1;
    return nullFlag != 0 ? 0 : length;
}

int SpoolDataReaderHS2C::takeValue(int32_t form) noexcept
{
    return form == HIVE_SEEK_SOURCE ? valueAsSource() : valueAsBytes();
}

int SpoolDataReaderHS2C::valueAsBytes() noexcept
{
    value = column->inlineValue;
    if (length == 0)
        return 0;
    const uint8_t* window = nullptr;
    uint64_t got = 0;
    int32_t more = 0;
    if (columnFile->readWindow(&window, uint64_t(length), &got, &more))
        return hiveColumnDataError("the column's spooled values end early");
    if (got == uint64_t(length)) {
        value = const_cast<uint8_t*>(window);
        return 0;
    }
    // Across a block border: copied into the statement's LOB temp buffer.
    if (state->lobTempCapacity < uint64_t(length)) {
        ramFree(state->lobTemp);
        state->lobTempCapacity = 0;
        state->lobTemp = static_cast<uint8_t*>(ramAlloc(size_t(length)));
        if (state->lobTemp == nullptr) {
            errPost(MSG_HIVE_LOB_TEMP_OUT_OF_MEMORY)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR);
            return 1;
        }
        state->lobTempCapacity = uint64_t(length);
    }
    if (columnFile->seek(savedPosition) || columnFile->read(state->lobTemp, uint64_t(length), &got, &more) ||
        got != uint64_t(length))
        return hiveColumnDataError("the column's spooled values end early");
    value = state->lobTemp;
    return 0;
}

int SpoolDataReaderHS2C::valueAsSource() noexcept
{
    value = nullptr;
    if (windowSource == nullptr) {
        windowSource = new KaMemorySource();
        if (windowSource == nullptr)
            return 1;
    }
    if (length == 0) {
        windowSource->attach(nullptr, 0);
        value = windowSource;
        return 0;
    }
    const uint8_t* window = nullptr;
    uint64_t got = 0;
    int32_t more = 0;
    if (columnFile->readWindow(&window, uint64_t(length), &got, &more))
        return hiveColumnDataError("the column's spooled values end early");
    if (got == uint64_t(length)) {
        windowSource->attach(window, got);
        value = windowSource;
        return 0;
    }
    // Across a block border: copied into a temporary-file source of its own.
    if (copySource == nullptr) {
        copySource = new KaTmpFileSource();
        if (copySource == nullptr)
            return 1;
    }
    copySource->close();
    if (copySource->open())
        return 1;
    uint64_t left = uint64_t(length);
    for (;;) {
        if (copySource->append(window, got))
            return 1;
        left -= got;
        if (left == 0)
            break;
        if (columnFile->readWindow(&window, left, &got, &more))
            return hiveColumnDataError("the column's spooled values end early");
    }
    if (copySource->flush())
        return 1;
    value = copySource;
    return 0;
}

int SpoolDataReaderHS2C::getData(BaseOutString* out, int16_t cType) noexcept
{
    if (seekRow(HIVE_SEEK_BYTES))
        return 1;
    if (nullFlag)
        return hiveNullFill(state, out, cType);
    if (const int rc = hiveIntervalToC(this, out, cType, value, length); rc >= 0)
        return rc;
    return state->statement->convertColumnValue(uint16_t(columnIndex + 1), cType, out, value, length,
                                                streaming == 1 ? kBaseKindBinary : kBaseKindText,
                                                hiveColumnConverters(state, column)) != 0
               ? 1
               : 0;
}

int SpoolDataReaderHS2C::getDataInPieces(KaDataSink* sink, int16_t cType, int32_t* isNull,
                                         KaDataConverter** converter) noexcept
{
    *converter = nullptr;
    if (streaming < 0)
        return DataReaderHS2C::getDataInPieces(sink, cType, isNull, converter);
    if (seekRow(HIVE_SEEK_SOURCE))
        return 1;
    *isNull = int32_t(nullFlag);
    if (nullFlag)
        return 0;
    return converters.attach(state, streaming == 1, static_cast<KaDataSource*>(value), sink, cType, length, converter);
}

// ---- The typed readers ---------------------------------------------------------

HIVE_TWINNED_READER(TinyintDataReaderHS2C, TinyintCacheReaderHS2C, FixedDataReaderHS2C,
                    hiveNumericShape(HIVE_READER_TINYINT))
HIVE_TWINNED_READER(SmallintDataReaderHS2C, SmallintCacheReaderHS2C, FixedDataReaderHS2C,
                    hiveNumericShape(HIVE_READER_SMALLINT))
HIVE_TWINNED_READER(IntDataReaderHS2C, IntCacheReaderHS2C, FixedDataReaderHS2C, hiveNumericShape(HIVE_READER_INT))
HIVE_TWINNED_READER(BigintDataReaderHS2C, BigintCacheReaderHS2C, FixedDataReaderHS2C,
                    hiveNumericShape(HIVE_READER_BIGINT))
HIVE_TWINNED_READER(BooleanDataReaderHS2C, BooleanCacheReaderHS2C, FixedDataReaderHS2C,
                    hiveNumericShape(HIVE_READER_BOOLEAN))
HIVE_TWINNED_READER(FloatDataReaderHS2C, FloatCacheReaderHS2C, FixedDataReaderHS2C, hiveNumericShape(HIVE_READER_FLOAT))
HIVE_TWINNED_READER(DoubleDataReaderHS2C, DoubleCacheReaderHS2C, FixedDataReaderHS2C,
                    hiveNumericShape(HIVE_READER_DOUBLE))

HIVE_TWINNED_READER(TimestampDataReaderHS2C, TimestampCacheReaderHS2C, SlotDataReaderHS2C, HIVE_READER_TIMESTAMP)
HIVE_TWINNED_READER(DateDataReaderHS2C, DateCacheReaderHS2C, SlotDataReaderHS2C, HIVE_READER_DATE)
HIVE_TWINNED_READER(DecimalDataReaderHS2C, DecimalCacheReaderHS2C, SlotDataReaderHS2C, HIVE_READER_DECIMAL)

HIVE_TWINNED_READER(StringDataReaderHS2C, StringCacheReaderHS2C, SpoolDataReaderHS2C, 0)
HIVE_TWINNED_READER(BinaryDataReaderHS2C, BinaryCacheReaderHS2C, SpoolDataReaderHS2C, 1)
HIVE_TWINNED_READER(UnionDataReaderHS2C, UnionCacheReaderHS2C, SpoolDataReaderHS2C, -1)
HIVE_TWINNED_READER(StructDataReaderHS2C, StructCacheReaderHS2C, SpoolDataReaderHS2C, -1)
HIVE_TWINNED_READER(ArrayDataReaderHS2C, ArrayCacheReaderHS2C, SpoolDataReaderHS2C, -1)
HIVE_TWINNED_READER(MapDataReaderHS2C, MapCacheReaderHS2C, SpoolDataReaderHS2C, -1)
HIVE_TWINNED_READER(UnsupportedDataReaderHS2C, UnsupportedCacheReaderHS2C, SpoolDataReaderHS2C, -1)

// ---- The factory --------------------------------------------------------------

namespace {

template <class Reader>
int make(HiveFetchState* state, HiveColumnStorage* column, DataReader** out) noexcept
{
    *out = new Reader(state, column);
    return *out == nullptr ? 1 : 0;
}

}  // namespace

int hiveMakeReader(HiveFetchState* state, HiveColumnStorage* column, int32_t resultStyle, DataReader** out) noexcept
{
    *out = nullptr;
    const HiveReaderKind kind = hiveReaderKindOf(column->typeCode);
    if (resultStyle == HIVE_RESULT_ROW_WISE) {
        switch (kind) {
        case HIVE_READER_TINYINT: return make<TinyintDataReaderHS2>(state, column, out);
        case HIVE_READER_SMALLINT: return make<SmallintDataReaderHS2>(state, column, out);
        case HIVE_READER_INT: return make<IntDataReaderHS2>(state, column, out);
        case HIVE_READER_BIGINT: return make<BigintDataReaderHS2>(state, column, out);
        case HIVE_READER_BOOLEAN: return make<BooleanDataReaderHS2>(state, column, out);
        case HIVE_READER_FLOAT: return make<FloatDataReaderHS2>(state, column, out);
        case HIVE_READER_DOUBLE: return make<DoubleDataReaderHS2>(state, column, out);
        case HIVE_READER_TIMESTAMP: return make<TimestampDataReaderHS2>(state, column, out);
        case HIVE_READER_DATE: return make<DateDataReaderHS2>(state, column, out);
        case HIVE_READER_DECIMAL: return make<DecimalDataReaderHS2>(state, column, out);
        case HIVE_READER_BINARY: return make<BinaryDataReaderHS2>(state, column, out);
        default:
            // Complex and newer types come as their string form.
            return make<StringDataReaderHS2>(state, column, out);
        }
    }
    switch (kind) {
    case HIVE_READER_TINYINT: return make<TinyintDataReaderHS2C>(state, column, out);
    case HIVE_READER_SMALLINT: return make<SmallintDataReaderHS2C>(state, column, out);
    case HIVE_READER_INT: return make<IntDataReaderHS2C>(state, column, out);
    case HIVE_READER_BIGINT: return make<BigintDataReaderHS2C>(state, column, out);
    case HIVE_READER_BOOLEAN: return make<BooleanDataReaderHS2C>(state, column, out);
    case HIVE_READER_FLOAT: return make<FloatDataReaderHS2C>(state, column, out);
    case HIVE_READER_DOUBLE: return make<DoubleDataReaderHS2C>(state, column, out);
    case HIVE_READER_TIMESTAMP: return make<TimestampDataReaderHS2C>(state, column, out);
    case HIVE_READER_DATE: return make<DateDataReaderHS2C>(state, column, out);
    case HIVE_READER_DECIMAL: return make<DecimalDataReaderHS2C>(state, column, out);
    case HIVE_READER_BINARY: return make<BinaryDataReaderHS2C>(state, column, out);
    default: return make<StringDataReaderHS2C>(state, column, out);
    }
}
