// SQL-to-C value conversion: a server value of any kind into the C type the
// application asks for, the table of allowed SQL/C type pairs, the default C
// type of each SQL type, and the context a statement fills for each value it
// converts (settings, description, target, long-data state). Used by fetch
// and SQLGetData, the catalog rows and the parameter conversion.
#pragma once
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstddef>
#include <cstdint>

#include "convert/number.h"
#include "convert/workarounds.h"
#include "foundation/codepage.h"
#include "foundation/icucache.h"

class BaseOutString;
class KaErrorList;

// ---- Types ODBC does not name ---------------------------------------------------

// The double-byte graphic character types.
constexpr int16_t kBaseSqlGraphic = -95;
constexpr int16_t kBaseSqlVarGraphic = -96;
constexpr int16_t kBaseSqlLongVarGraphic = -97;
// A column whose values carry their own type; it converts to anything.
constexpr int16_t kBaseSqlVariant = -150;
// Text in the statement's character code page, resp. the wide code page,
// without a terminator.
constexpr int16_t kBaseCCharNoTerm = 8001;
constexpr int16_t kBaseCWCharNoTerm = 8002;

// ---- Sizes and settings ------------------------------------------------------

constexpr int64_t kBaseGuidSize = sizeof(SQLGUID);
constexpr int64_t kBaseNumericSize = sizeof(SQL_NUMERIC_STRUCT);
constexpr int64_t kBaseIntervalSize = sizeof(SQL_INTERVAL_STRUCT);
constexpr int64_t kBaseDateSize = sizeof(SQL_DATE_STRUCT);
constexpr int64_t kBaseTimestampSize = sizeof(SQL_TIMESTAMP_STRUCT);
// Digits an ODBC numeric structure holds at most (2^128 - 1 has 39).
constexpr int32_t kBaseNumericMaxDigits = 39;
// Characters of float text by default, and more than DoubleToStringPrecision.
constexpr int32_t kBaseFloatTextWidth = 22;
constexpr int32_t kBaseFloatTextExtra = 7;
constexpr int32_t kBaseRealTextWidth = 13;
// Text of numbers and dates written for a caller that gave no buffer.
constexpr int64_t kBaseTextScratch = 4200;

// The connection settings a conversion reads, gathered once per value.
struct BaseConvertSettings {
    int64_t wideCodePage = kCodePageUtf16LE;  // code page of SQL_C_WCHAR data (attribute 1061)
    int32_t narrowTermWidth = 1;              // terminator bytes of SQL_C_CHAR text
    int32_t wideTermWidth = 2;                // terminator bytes of SQL_C_WCHAR text
    int32_t floatTextWidth = kBaseFloatTextWidth;
    int32_t getDataLength = 0;  // GETDATALENGTH
    uint64_t workarounds = 0;   // WORKAROUNDS
    uint32_t timestampTruncationBehavior = 0;
    uint16_t doubleToStringPrecision = 0;  // DoubleToStringPrecision; 0 the shortest text
    uint16_t roundingMode = 0;             // 1 rounds dropped decimal digits, else they are cut
    bool allowHH24 = false;
    bool allowTime24 = false;       // 24:00:00 accepted as a time
    bool usePositiveScale = false;  // USEPOSITIVESCALE
    bool graphicAsChar = false;     // the graphic types convert as character data
    bool negativeYears = false;
    bool leapSecond = false;
    bool odbc2 = false;                  // the environment asked for ODBC 2
    bool columnSizeAsCharacter = false;  // COLUMNSIZEASCHARACTER
    bool blankExcess = false;            // parameter text may exceed the column by blanks
    bool zeroExcess = false;             // parameter bytes may exceed the column by zeros
    bool timeWithFraction = false;       // SQL_TYPE_TIME parameters are sent with a fraction
    bool sharedCache = true;             // statements use the connection's converter cache
                                         // (thread models 1 and 2)
    // The connection's convertHook, called with hookConnection: non-zero
    // sends SQL_C_BINARY data of the SQL type as raw bytes. Null answers 0.
    int32_t (*convertHook)(void* connection, int16_t sqlType) = nullptr;
    void* hookConnection = nullptr;
};

// Piece length of a cut piece that delivered no byte of the value.
constexpr int64_t kBasePieceEmpty = -1;

// What the engine needs of the statement for one value: the settings, the
// value's description and target, where its diagnostics are marked, and the
// long-data state that lasts across the pieces of one value. The statement
// fills it before a conversion and keeps the long-data part afterwards.
struct BaseConvertContext {
    BaseConvertSettings settings;
    int64_t charCodePage = kCodePageLatin1;  // code page of SQL_C_CHAR data (attribute 1064)
    KaIcuCache* cache = nullptr;             // converters of the value's text; null: the engine's

    // The value as the implementation record describes it.
    int16_t sqlType = 0;
    int64_t size = 0;  // length of variable-length types, else the precision
    int16_t scale = 0;
    bool unsignedFlag = false;
    int64_t codePage = 0;  // code page of its text on the server side; 0 is UTF-8

    // The application's side.
    int16_t cType = 0;
    BaseOutString* out = nullptr;    // buffer, length and indicator of an SQL-to-C target
    bool hasAppRecord = false;       // an application record gives appPrecision and appScale
    bool appScaleRequested = false;  // the application set that record's precision or scale
    int16_t appPrecision = 0;
    int16_t appScale = 0;

    // Marks of the value's diagnostics.
    // The calling thread's error list when the caller has it at hand (a
    // fetch looks it up once for all its values); null: looked up here.
    KaErrorList* diagnostics = nullptr;
    uint16_t column = 0;    // result column, 0 none
    uint16_t param = 0;     // parameter marker, 0 none
    uint64_t paramRow = 0;  // row of the parameter array (1-based), 0 none

    // Long data: the bytes of the value delivered by earlier pieces, and the
    // length the last piece moved them on by when that is not the buffer's
    // room (0 unused, kBasePieceEmpty nothing).
    int64_t offset = 0;
    int64_t pieceLength = 0;
    // The value converted once for delivery in pieces; -1 when there is none.
    uint8_t* convertBuffer = nullptr;
    int64_t convertBufferSize = 0;
    int64_t convertedLength = -1;

    // Records what a piece delivered: after a piece that held the rest 0,
    // else `delivered` bytes (kBasePieceEmpty for none).
    void notePiece(bool cut, int64_t delivered) noexcept;
    // The conversion buffer with room for `size` bytes (its contents are not
    // kept); null after the out-of-memory diagnostic. The buffer belongs to
    // whoever filled the context, who frees it with ramFree.
    [[nodiscard]] uint8_t* growConvertBuffer(int64_t size) noexcept;
};

// The piece length that notePiece records.
constexpr int64_t basePieceLength(bool cut, int64_t delivered) noexcept
{
    return !cut ? 0 : delivered > 0 ? delivered : kBasePieceEmpty;
}
// *buffer (of *capacity bytes, from ramAlloc) with room for `size` bytes; its
// contents are not kept. Null, with *buffer null, after the out-of-memory
// diagnostic.
[[nodiscard]] uint8_t* baseGrowBuffer(uint8_t** buffer, int64_t* capacity, int64_t size) noexcept;

// The converters of a context, or the engine's own when it names none.
KaIcuCache* baseConvertCache(const BaseConvertContext* ctx) noexcept;

// Flags word of a fetch conversion (5 for ODBC 2, 6 for ODBC 3).
uint32_t baseFetchFlags(const BaseConvertSettings& settings) noexcept;
int32_t baseConvertHook(const BaseConvertSettings& settings, int16_t sqlType) noexcept;

// ---- Type tables -------------------------------------------------------------

constexpr bool baseIsGraphicType(int32_t t) noexcept
{
    return t >= kBaseSqlLongVarGraphic && t <= kBaseSqlGraphic;
}
constexpr bool baseIsCharacterType(int32_t t) noexcept
{
    return baseIsGraphicType(t) || (t >= SQL_WLONGVARCHAR && t <= SQL_WCHAR) || t == SQL_LONGVARCHAR || t == SQL_CHAR ||
           t == SQL_VARCHAR;
}
constexpr bool baseIsVarLengthType(int32_t t) noexcept
{
    return baseIsCharacterType(t) || (t >= SQL_LONGVARBINARY && t <= SQL_BINARY);
}
constexpr bool baseIsRawBinaryType(int32_t t) noexcept
{
    return baseIsVarLengthType(t) || t == SQL_GUID;
}
// The size a conversion takes from a description: the length of
// variable-length types, else the precision.
constexpr int64_t baseDescribedSize(int16_t sqlType, uint64_t length, int16_t precision) noexcept
{
    return baseIsVarLengthType(sqlType) ? static_cast<int64_t>(length) : precision;
}
// 1 to 13 for the interval types, 0 for every other number.
int32_t baseIntervalCodeOfSqlType(int32_t type) noexcept;
int32_t baseIntervalCodeOfCType(int32_t type) noexcept;
// The fixed-size value kind of an integer, bit or floating C type, or -1.
int32_t baseKindOfCType(int16_t cType, bool unsignedColumn) noexcept;
// Byte size of a fixed-size value kind (0 for the others).
int64_t baseKindSize(int32_t kind) noexcept;
constexpr bool baseIsUtf16CodePage(int64_t cp) noexcept
{
    return cp == kCodePageUtf16BE || cp == kCodePageUtf16LE || cp == kCodePageUtf16;
}
constexpr bool baseIsUtf32CodePage(int64_t cp) noexcept
{
    return cp == kCodePageUtf32BE || cp == kCodePageUtf32LE;
}
// Bytes of one code unit, and so of the terminator, of text in a code page.
constexpr int32_t baseCodePageUnitWidth(int64_t cp) noexcept
{
    return baseIsUtf16CodePage(cp) ? 2 : baseIsUtf32CodePage(cp) ? 4 : 1;
}
// Bytes of terminated text whose terminator is a zero unit of `width` bytes.
int64_t baseTerminatedLength(const void* text, int32_t width) noexcept;

// ---- Conversions -------------------------------------------------------------

// Each returns 0 on success (warnings may be posted) and 1 on failure
// (posted); diagnostics go to the calling thread's current list.

// One value of result column ctx.column (1-based, described by the context)
// into ctx.out as ctx.cType; character data in the C type's code page is
// copied straight from the source. Every diagnostic is marked with the column.
[[nodiscard]] int16_t baseConvertColumnValue(BaseConvertContext& ctx, const void* src, int64_t srcLength,
                                             int32_t srcKind) noexcept;
// The same with the column number as a plain integer, which must fit.
[[nodiscard]] int16_t baseConvertColumnValueInt(BaseConvertContext& ctx, int32_t column, const void* src,
                                                int64_t srcLength, int32_t srcKind) noexcept;
// The conversion itself, for a described value whose text is in ctx.codePage.
[[nodiscard]] int16_t baseConvertSqlToC(BaseConvertContext& ctx, const void* src, int64_t srcLength,
                                        int32_t srcKind) noexcept;
// 0 when the pair is allowed; otherwise posts 07006 (MSG_SQL_TO_C_REFUSED) and returns 1.
[[nodiscard]] int16_t baseCheckSqlToC(uint16_t column, int16_t sqlType, int16_t cType) noexcept;
// The C type SQL_C_DEFAULT stands for; narrowText describes wide types as narrow.
int16_t baseDefaultCType(int16_t sqlType, int32_t narrowText) noexcept;
// A returned output-parameter value (length SQL_NULL_DATA for NULL) into
// ctx.out, the buffer bound to the parameter (already moved to its row):
// NULL clears the first bytes of the buffer, the width of ctx.cType's value;
// other values are converted and their diagnostics marked with ctx.paramRow.
[[nodiscard]] int16_t baseConvertOutputParam(BaseConvertContext& ctx, const void* value, int64_t length,
                                             int32_t srcKind) noexcept;

// Reports the length (and not-null) of a value of `size` bytes copied into
// the buffer, whatever its length: fixed-size targets ignore it.
void baseReportFixed(BaseOutString* out, const void* value, int64_t size) noexcept;
// Reports `length` and not-null without writing data.
void baseReportLength(BaseOutString* out, int64_t length) noexcept;
// Appends message `msg` with `number` to every record of the current list
// from index `first` on.
void baseAnnotateDiagnostics(size_t first, uint16_t msg, uint64_t number) noexcept;
