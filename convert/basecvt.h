// SQL-to-C value conversion: a server value of any kind into the C type the
// application asks for, the table of allowed SQL/C type pairs, the default C
// type of each SQL type, and the connection settings that every conversion
// reads. Used by fetch and SQLGetData, the catalog rows and the parameter
// conversion.
#pragma once
#include <cstddef>
#include <cstdint>

#include "convert/number.h"

class BaseAXDRecord;
class BaseConnection;
class BaseOutString;
class BaseStatement;

// ---- SQL types ---------------------------------------------------------------

constexpr int16_t kBaseSqlChar = 1;
constexpr int16_t kBaseSqlNumeric = 2;
constexpr int16_t kBaseSqlDecimal = 3;
constexpr int16_t kBaseSqlInteger = 4;
constexpr int16_t kBaseSqlSmallInt = 5;
constexpr int16_t kBaseSqlFloat = 6;
constexpr int16_t kBaseSqlReal = 7;
constexpr int16_t kBaseSqlDouble = 8;
constexpr int16_t kBaseSqlDate = 9;        // ODBC 2
constexpr int16_t kBaseSqlTime = 10;       // ODBC 2
constexpr int16_t kBaseSqlTimestamp = 11;  // ODBC 2
constexpr int16_t kBaseSqlVarChar = 12;
constexpr int16_t kBaseSqlTypeDate = 91;
constexpr int16_t kBaseSqlTypeTime = 92;
constexpr int16_t kBaseSqlTypeTimestamp = 93;
constexpr int16_t kBaseSqlIntervalYear = 101;
constexpr int16_t kBaseSqlIntervalMonth = 102;
constexpr int16_t kBaseSqlIntervalDay = 103;
constexpr int16_t kBaseSqlIntervalHour = 104;
constexpr int16_t kBaseSqlIntervalMinute = 105;
constexpr int16_t kBaseSqlIntervalSecond = 106;
constexpr int16_t kBaseSqlIntervalYearToMonth = 107;
constexpr int16_t kBaseSqlIntervalDayToHour = 108;
constexpr int16_t kBaseSqlIntervalDayToMinute = 109;
constexpr int16_t kBaseSqlIntervalDayToSecond = 110;
constexpr int16_t kBaseSqlIntervalHourToMinute = 111;
constexpr int16_t kBaseSqlIntervalHourToSecond = 112;
constexpr int16_t kBaseSqlIntervalMinuteToSecond = 113;
constexpr int16_t kBaseSqlLongVarChar = -1;
constexpr int16_t kBaseSqlBinary = -2;
constexpr int16_t kBaseSqlVarBinary = -3;
constexpr int16_t kBaseSqlLongVarBinary = -4;
constexpr int16_t kBaseSqlBigInt = -5;
constexpr int16_t kBaseSqlTinyInt = -6;
constexpr int16_t kBaseSqlBit = -7;
constexpr int16_t kBaseSqlWChar = -8;
constexpr int16_t kBaseSqlWVarChar = -9;
constexpr int16_t kBaseSqlWLongVarChar = -10;
constexpr int16_t kBaseSqlGuid = -11;
// The double-byte graphic character types.
constexpr int16_t kBaseSqlGraphic = -95;
constexpr int16_t kBaseSqlVarGraphic = -96;
constexpr int16_t kBaseSqlLongVarGraphic = -97;
// A column whose values carry their own type; it converts to anything.
constexpr int16_t kBaseSqlVariant = -150;

// ---- C types -----------------------------------------------------------------

constexpr int16_t kBaseCChar = 1;
constexpr int16_t kBaseCNumeric = 2;
constexpr int16_t kBaseCLong = 4;
constexpr int16_t kBaseCShort = 5;
constexpr int16_t kBaseCFloat = 7;
constexpr int16_t kBaseCDouble = 8;
constexpr int16_t kBaseCTypeDate = 91;
constexpr int16_t kBaseCTypeTime = 92;
constexpr int16_t kBaseCTypeTimestamp = 93;
constexpr int16_t kBaseCIntervalYear = 101;
constexpr int16_t kBaseCIntervalSecond = 106;
constexpr int16_t kBaseCIntervalYearToMonth = 107;
constexpr int16_t kBaseCIntervalMinuteToSecond = 113;
constexpr int16_t kBaseCDefault = 99;
constexpr int16_t kBaseCBinary = -2;
constexpr int16_t kBaseCTinyInt = -6;
constexpr int16_t kBaseCBit = -7;
constexpr int16_t kBaseCWChar = -8;
constexpr int16_t kBaseCGuid = -11;
constexpr int16_t kBaseCSLong = -16;
constexpr int16_t kBaseCSShort = -15;
constexpr int16_t kBaseCULong = -18;
constexpr int16_t kBaseCUShort = -17;
constexpr int16_t kBaseCSBigInt = -25;
constexpr int16_t kBaseCSTinyInt = -26;
constexpr int16_t kBaseCUBigInt = -27;
constexpr int16_t kBaseCUTinyInt = -28;
constexpr int16_t kBaseCArdType = -99;
// Text in the statement's character code page, resp. the wide code page,
// without a terminator.
constexpr int16_t kBaseCCharNoTerm = 8001;
constexpr int16_t kBaseCWCharNoTerm = 8002;

// ---- Sizes and settings ------------------------------------------------------

constexpr int64_t kBaseGuidSize = 16;
constexpr int64_t kBaseNumericSize = 19;
constexpr int64_t kBaseIntervalSize = 28;
constexpr int64_t kBaseDateSize = 6;
constexpr int64_t kBaseTimestampSize = 16;
// Digits an ODBC numeric structure holds at most (2^128 - 1 has 39).
constexpr int32_t kBaseNumericMaxDigits = 39;
// Characters of float text by default, and more than DoubleToStringPrecision.
constexpr int32_t kBaseFloatTextWidth = 22;
constexpr int32_t kBaseFloatTextExtra = 7;
constexpr int32_t kBaseRealTextWidth = 13;
// Text of numbers and dates written for a caller that gave no buffer.
constexpr int64_t kBaseTextScratch = 4200;

// WORKAROUNDS bits read by the conversions.
constexpr uint64_t kBaseWaTrimTrailingZeros = 0x10000;     // 65536
constexpr uint64_t kBaseWaDescribeWideAsNarrow = 0x1000000; // 16777216

// The connection settings a conversion reads, gathered once per value.
struct BaseConvertSettings {
    int64_t wideCodePage = 1014;        // code page of SQL_C_WCHAR data (attribute 1061)
    int32_t narrowTermWidth = 1;        // terminator bytes of SQL_C_CHAR text
    int32_t wideTermWidth = 2;          // terminator bytes of SQL_C_WCHAR text
    int32_t floatTextWidth = kBaseFloatTextWidth;
    int32_t getDataLength = 0;          // GETDATALENGTH
    uint64_t workarounds = 0;           // WORKAROUNDS
    uint32_t timestampTruncationBehavior = 0;
    bool allowHH24 = false;
    bool allowTime24 = false;           // 24:00:00 accepted as a time
    bool usePositiveScale = false;      // USEPOSITIVESCALE
    bool graphicAsChar = false;         // types -95 to -97 convert as character data
    bool negativeYears = false;
    bool leapSecond = false;
    bool odbc2 = false;                 // the environment asked for ODBC 2
    bool columnSizeAsCharacter = false; // COLUMNSIZEASCHARACTER
    bool blankExcess = false;           // parameter text may exceed the column by blanks
    bool zeroExcess = false;            // parameter bytes may exceed the column by zeros
    bool timeWithFraction = false;      // SQL_TYPE_TIME parameters are sent with a fraction
    bool sharedCache = true;            // statements use the connection's converter cache
                                        // (thread models 1 and 2)
    // The connection's convertHook: non-zero sends SQL_C_BINARY data of the
    // SQL type as raw bytes. Null answers 0.
    int32_t (*convertHook)(BaseConnection* connection, int16_t sqlType) = nullptr;
};

// The settings of the statement's connection (defaults without a statement).
void baseConvertSettingsOf(const BaseStatement* stmt, BaseConvertSettings* out) noexcept;
// Flags word of a fetch conversion (5 for ODBC 2, 6 for ODBC 3).
uint32_t baseFetchFlags(const BaseConvertSettings& settings) noexcept;
int32_t baseConvertHook(const BaseStatement* stmt, const BaseConvertSettings& settings,
                        int16_t sqlType) noexcept;

// ---- Type tables -------------------------------------------------------------

constexpr bool baseIsVarLengthType(int32_t t) noexcept
{
    return (t >= -97 && t <= -95) || (t >= -10 && t <= -8) || (t >= -4 && t <= -1) || t == 1 ||
           t == 12;
}
constexpr bool baseIsCharacterType(int32_t t) noexcept
{
    return (t >= -97 && t <= -95) || (t >= -10 && t <= -8) || t == -1 || t == 1 || t == 12;
}
constexpr bool baseIsRawBinaryType(int32_t t) noexcept
{
    return baseIsVarLengthType(t) || t == kBaseSqlGuid;
}
// 1 to 13 for the interval types 101 to 113, 0 for every other number.
int32_t baseIntervalCodeOfSqlType(int32_t type) noexcept;
int32_t baseIntervalCodeOfCType(int32_t type) noexcept;
// The fixed-size value kind of an integer, bit or floating C type, or -1.
int32_t baseKindOfCType(int16_t cType, bool unsignedColumn) noexcept;
// Byte size of a fixed-size value kind (0 for the others).
int64_t baseKindSize(int32_t kind) noexcept;
constexpr bool baseIsUtf16CodePage(int64_t cp) noexcept
{
    return cp == 1013 || cp == 1014 || cp == 1015;
}
constexpr bool baseIsUtf32CodePage(int64_t cp) noexcept
{
    return cp == 1018 || cp == 1019;
}
// Bytes of one code unit, and so of the terminator, of text in a code page.
constexpr int32_t baseCodePageUnitWidth(int64_t cp) noexcept
{
    return baseIsUtf16CodePage(cp) ? 2 : baseIsUtf32CodePage(cp) ? 4 : 1;
}
// Bytes of terminated text whose terminator is a zero unit of `width` bytes.
int64_t baseTerminatedLength(const void* text, int32_t width) noexcept;

// ---- Conversions -------------------------------------------------------------

// One value of result column `column` (1-based) into the application's
// buffer; the column's description comes from the statement's IRD record.
// 0 success (warnings may be posted), 1 failure (posted).
int16_t baseConvertColumnValue(BaseStatement* stmt, uint16_t column, int16_t cType,
                               BaseOutString* out, const void* src, int64_t srcLength,
                               int32_t srcKind) noexcept;
int16_t baseConvertColumnValueInt(BaseStatement* stmt, int32_t column, int16_t cType,
                                  BaseOutString* out, const void* src, int64_t srcLength,
                                  int32_t srcKind) noexcept;
// The conversion itself, for a described value. ard supplies the precision
// and scale wanted for SQL_C_NUMERIC (null when there is no ARD record).
int16_t baseConvertSqlToC(BaseStatement* stmt, int16_t sqlType, int64_t size, int16_t scale,
                          bool unsignedFlag, int16_t cType, BaseOutString* out, const void* src,
                          int64_t srcLength, int32_t srcKind, int64_t srcCodePage,
                          const BaseAXDRecord* ard) noexcept;
// 0 when the pair is allowed; otherwise posts 07006 (message 6010) and returns 1.
int16_t baseCheckSqlToC(uint16_t column, int16_t sqlType, int16_t cType) noexcept;
// The C type SQL_C_DEFAULT stands for; narrowText describes wide types as narrow.
int16_t baseDefaultCType(int16_t sqlType, int32_t narrowText) noexcept;
// A returned output-parameter value (length -1 = NULL) into the buffer bound
// to parameter `param`.
int16_t baseConvertOutputParam(BaseStatement* stmt, uint16_t param, const void* value,
                               int64_t length, int32_t srcKind) noexcept;

// Reports the length (and not-null) of a value of `size` bytes copied into
// the buffer, whatever its length: fixed-size targets ignore it.
void baseReportFixed(BaseOutString* out, const void* value, int64_t size) noexcept;
// Reports `length` and not-null without writing data.
void baseReportLength(BaseOutString* out, int64_t length) noexcept;
// Appends message `msg` with `number` to every record of the current list
// from index `first` on.
void baseAnnotateDiagnostics(size_t first, uint16_t msg, uint64_t number) noexcept;
