// The framework's emulated static cursor: at execution the whole result is
// read through the driver's forward-only row hook into the row cache, each
// value in the conversion engine's internal form; positioning and column
// reads are then answered from the cache.
#include "odbc/basestatic.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "foundation/codepage.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basecursorcaps.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

// The cache limit when the connection gives none.
constexpr int64_t kDefaultCacheLimit = 4096;

// Bytes per character of the connection's Unicode encoding, and the slack
// the work buffer keeps beyond the limit's characters.
struct WorkShape {
    int64_t unitBytes;
    int64_t slack;
};

WorkShape workShape(const BaseConnection* conn) noexcept
{
    const int64_t cp = conn != nullptr && conn->wideCharCodePage != 0 ? conn->wideCharCodePage : kCodePageUtf16LE;
    if (cp == kCodePageUtf8)
        return {3, 7};
    return {cp == kCodePageUtf16LE ? 2 : 4, 8};
}

int64_t cacheLimit(const BaseConnection* conn) noexcept
{
    const auto limit = conn != nullptr ? static_cast<int64_t>(conn->staticCursorLongColBuffLen) : 0;
    return limit > 0 ? limit : kDefaultCacheLimit;
}

// Bytes of the C type's terminator in a text buffer.
int64_t terminatorOf(const BaseConnection* conn, int16_t cType) noexcept
{
    if (cType == SQL_C_CHAR)
        return 1;
    if (cType == SQL_C_WCHAR)
        return baseCodePageUnitWidth(conn != nullptr && conn->wideCharCodePage != 0 ? conn->wideCharCodePage
                                                                                    : kCodePageUtf16LE);
    return 0;
}

// The bytes a NULL clears at the start of the application's buffer.
int64_t nullFillWidth(const BaseConnection* conn, int16_t cType) noexcept
{
    switch (cType) {
    case SQL_C_WCHAR: return conn != nullptr && conn->wideCharCodePage == kCodePageUtf16LE ? 2 : 1;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: return 2;
    case SQL_C_DOUBLE: return 8;
    default: return 1;
    }
}

// The longest prefix of `n` bytes of text that ends on a whole character:
// a value cut at the cache limit must still convert.
int64_t wholeCharacters(const uint8_t* text, int64_t n, int64_t codePage) noexcept
{
    const int32_t unit = baseCodePageUnitWidth(codePage);
    if (unit > 1) {
        n -= n % unit;
        // A UTF-16 high surrogate without its partner goes too.
        if (unit == 2 && n >= 2) {
            const bool bigEndian = codePage == kCodePageUtf16BE;
            const uint16_t last = bigEndian ? static_cast<uint16_t>(text[n - 2] << 8 | text[n - 1])
                                            : static_cast<uint16_t>(text[n - 1] << 8 | text[n - 2]);
            if (last >= 0xD800 && last < 0xDC00)
                n -= 2;
        }
        return n;
    }
    if (codePage != kCodePageUtf8)
        return n;
    // Back to the lead byte of the last sequence; keep it only when whole.
    int64_t lead = n;
    while (lead > 0 && (text[lead - 1] & 0xC0) == 0x80 && n - lead < 3)
        --lead;
    if (lead == 0)
        return n;
    const uint8_t b = text[lead - 1];
    const int64_t need = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
    return n - (lead - 1) >= need ? n : lead - 1;
}

}  // namespace

BaseRowCache::BaseRowCache() noexcept
    : lengths(KA_TMP_DEFAULT_CACHE, 0), offsets(KA_TMP_DEFAULT_CACHE, 0), kinds(KA_TMP_DEFAULT_CACHE, 0),
      truncations(KA_TMP_DEFAULT_CACHE, 0), data(KA_TMP_DEFAULT_CACHE, 0)
{}

BaseRowCache::~BaseRowCache()
{
    ramFree(readBuffer);
}

void BaseRowCache::empty() noexcept
{
    lengths.close(0);
    offsets.close(0);
    kinds.close(0);
    truncations.close(0);
    data.close(0);
    rowCount = 0;
    columnCount = 0;
}

bool baseStaticCursorEmulated(const BaseStatement* stmt) noexcept
{
    return stmt->connection != nullptr && stmt->attributeValues[kBaseAttrCursorType] == SQL_CURSOR_STATIC &&
           (stmt->connection->staticCursorOps & kBaseCapStaticEmulated) != 0;
}

void BaseStatement::releaseRowCache() noexcept
{
    if (rowCache != nullptr)
        rowCache->empty();
}

int16_t BaseStatement::cachedRowStatus(int64_t row, uint16_t* status, bool) noexcept
{
    const int64_t rows = rowCache != nullptr ? rowCache->rowCount : 0;
    *status = row >= 1 && row <= rows ? SQL_ROW_SUCCESS : SQL_ROW_NOROW;
    return 0;
}

int16_t BaseStatement::fillRowCache() noexcept
{
    if (rowCache == nullptr && (rowCache = new BaseRowCache()) == nullptr)
        return 1;
    BaseRowCache& cache = *rowCache;
    cache.empty();
    const int64_t limit = cacheLimit(connection);
    const WorkShape shape = workShape(connection);
    const int64_t workSize = shape.slack + limit * shape.unitBytes;
    const int64_t cacheSize = 3 * limit + 7;
    // The read-back buffer holds any cached value, one byte to spare.
    if (cache.readBufferSize < cacheSize + 1) {
        ramFree(cache.readBuffer);
        cache.readBufferSize = 0;
        cache.readBuffer = static_cast<uint8_t*>(ramAlloc(static_cast<size_t>(cacheSize + 1)));
        if (cache.readBuffer == nullptr)
            return 1;
        cache.readBufferSize = cacheSize + 1;
    }
    RamPtr<uint8_t> work = ramMake<uint8_t>(static_cast<size_t>(workSize));
    RamPtr<uint8_t> value = ramMake<uint8_t>(static_cast<size_t>(cacheSize));
    if (!work || !value)
        return 1;
    const uint16_t columns = resultColumnCount;
    cache.columnCount = columns;
    int64_t rows = 0;
    uint64_t dataEnd = 0;
    int16_t rc = 0;
    for (;;) {
        int16_t noMore = 0;
        if (fetchRow(&noMore) != 0) {
            rc = 1;
            break;
        }
        if (noMore != 0)
            break;
        for (uint16_t j = 1; j <= columns && rc == 0; ++j) {
            const uint64_t x = static_cast<uint64_t>(rows) * columns + (j - 1);
            // Each value is a fresh read, as for a bound column.
            getDataConsumed = 0;
            getDataColumnDone = false;
            resetLongData();
            int64_t indicator = 0;
            BaseOutString out(work.get(), workSize, &indicator, &indicator);
            int64_t length = 0;
            int32_t kind = 0;
            uint8_t truncated = 0;
            if (cacheColumnValue(j, &out, value.get(), cacheSize, &length, &kind, &truncated) != 0) {
                rc = 1;
                break;
            }
            const uint64_t offset = dataEnd;
            if ((length > 0 && cache.data.write(offset, value.get(), static_cast<uint64_t>(length)) != 0) ||
                cache.lengths.write(x * kBaseCacheLengthBytes, &length, sizeof length) != 0 ||
                cache.offsets.write(x * kBaseCacheOffsetBytes, &offset, sizeof offset) != 0 ||
                cache.kinds.write(x * kBaseCacheKindBytes, &kind, sizeof kind) != 0 ||
                cache.truncations.write(x * kBaseCacheFlagBytes, &truncated, sizeof truncated) != 0) {
                basePostError(kBaseIdxGeneralError);
                rc = 1;
                break;
            }
            if (length > 0)
                dataEnd += static_cast<uint64_t>(length);
        }
        if (rc != 0)
            break;
        ++rows;
    }
    work.reset();
    value.reset();
    resetLongData();
    if (rc != 0) {
        cache.empty();
        return 1;
    }
    cache.rowCount = rows;
    diagnostics.cursorRowCount = rows;
    return 0;
}

int16_t BaseStatement::cacheColumnValue(uint16_t column, BaseOutString* out, uint8_t* cache, int64_t cacheSize,
                                        int64_t* length, int32_t* kind, uint8_t* truncated) noexcept
{
    *length = -1;
    *kind = 0;
    *truncated = 0;
    BaseIRDRecord* rec = ird != nullptr ? ird->irdRecord(column) : nullptr;
    if (rec == nullptr) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    const int16_t cType = checkColumnCType(rec->conciseType, column, rec);
    const int64_t terminator = terminatorOf(connection, cType);
    out->terminatorWidth = terminator > 0 ? static_cast<int32_t>(terminator) : 1;
    const KaDiagMark mark;
    if (getColumnData(column, cType, out) != 0)
        return 1;
    // A cut or a conversion note of the read is the cache's business, not
    // the application's: the cut is recorded per value.
    mark.drop();
    const int64_t got = out->length64 != nullptr ? *out->length64 : SQL_NULL_DATA;
    if (got == SQL_NULL_DATA)
        return 0;
    const bool variable = cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY;
    // What the buffer really holds of the value: a longer one was cut by
    // the work buffer, which holds more than the limit's characters.
    int64_t n = variable ? out->bufferLength - terminator : got;
    if (got != SQL_NO_TOTAL && got >= 0 && got < n)
        n = got;
    if (variable && (got == SQL_NO_TOTAL || got > n)) {
        if (cType != SQL_C_BINARY) {
            const int64_t cp = cType == SQL_C_CHAR ? charCodePage
                               : connection != nullptr && connection->wideCharCodePage != 0
                                   ? connection->wideCharCodePage
                                   : kCodePageUtf16LE;
            n = wholeCharacters(static_cast<const uint8_t*>(out->buffer), n, cp);
        }
        *truncated = 1;
    }
    int64_t produced = 0;
    const KaDiagMark before;
    if (convertToColumnType(column, cType, out->buffer, n, cache, kind, &produced, cacheSize) != 0)
        return 1;
    before.drop();
    if (produced < 0 || produced > cacheSize) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    // No value longer than the limit is kept; text ends on a whole
    // character of the column's code page.
    const int64_t limit = cacheLimit(connection);
    if (produced > limit && (*kind == kBaseKindText || *kind == kBaseKindBinary)) {
        produced = *kind == kBaseKindText
                       ? wholeCharacters(cache, limit, rec->codePageAbs != 0 ? rec->codePageAbs : kCodePageUtf8)
                       : limit;
        *truncated = 1;
    }
    *length = produced;
    return 0;
}

int16_t BaseStatement::getCachedData(uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    BaseRowCache* cache = rowCache;
    const int64_t row = currentRow + static_cast<int64_t>(rowsetPosition);
    if (cache == nullptr || row < 1 || row > cache->rowCount || column < 1 || column > cache->columnCount) {
        basePostError(kBaseIdxCursorState);
        return 1;
    }
    const uint64_t x = static_cast<uint64_t>(row - 1) * cache->columnCount + (column - 1);
    int64_t length = 0;
    if (cache->lengths.read(x * kBaseCacheLengthBytes, &length, sizeof length) != 0) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    if (length == SQL_NULL_DATA)
        return out->setNull(nullFillWidth(connection, cType));
    uint64_t offset = 0;
    int32_t kind = 0;
    uint8_t truncated = 0;
    if (length < 0 || length > cache->readBufferSize ||
        cache->offsets.read(x * kBaseCacheOffsetBytes, &offset, sizeof offset) != 0 ||
        cache->kinds.read(x * kBaseCacheKindBytes, &kind, sizeof kind) != 0 ||
        cache->truncations.read(x * kBaseCacheFlagBytes, &truncated, sizeof truncated) != 0 ||
        (length > 0 && cache->data.readChunked(offset, cache->readBuffer, static_cast<uint64_t>(length)) != 0)) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    const KaDiagMark mark;
    if (convertColumnValue(column, cType, out, cache->readBuffer, length, kind) != 0)
        return 1;
    // A piece cut by the application's buffer says so itself; a value the
    // cache had cut says it once nothing else was posted about it.
    KaErrorList* list = mark.list();
    for (size_t i = mark.start(); list != nullptr && i < list->recordCount(); ++i) {
        const KaError* e = list->recordAt(i);
        if (e != nullptr && (!e->isWarning() || e->sqlstateMsg == kBaseIdxTruncated))
            return 0;
    }
    if (truncated != 0)
        basePostWarningMsg(kBaseIdxTruncated, MSG_VALUE_CUT_AT_SOURCE)->addParamUnsigned(column);
    return 0;
}
