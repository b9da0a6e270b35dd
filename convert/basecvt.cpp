// SQL-to-C value conversion: the pair table, the default C types, the
// dispatch on the C type and the fixed-size targets (numbers, the numeric
// structure, dates and times, intervals, GUIDs, binary images), and the
// context's long-data helpers. Character targets are written by convchar.cpp.
#include "convert/basecvt.h"

#include <climits>
#include <cstring>

#include "convert/basediag.h"
#include "convert/basestring.h"
#include "convert/convchar.h"
#include "convert/datetime.h"
#include "convert/guid.h"
#include "convert/textcvt.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

// 2^128 - 1, the largest magnitude of the numeric structure.
constexpr char kMaxNumericMagnitude[] = "340282366920938463463374607431768211455";
static_assert(sizeof kMaxNumericMagnitude - 1 == kBaseNumericMaxDigits, "39 digits");

// Interval text is read from at most this many bytes.
constexpr int64_t kIntervalTextRoom = 2 * kBaseIntervalTextSize;
// Packed-decimal images are built in a buffer of this size.
constexpr int64_t kPackedRoom = kBaseMaxDigits / 2 + 2;

int16_t errDoesNotFit() noexcept
{
    baseCvtPostErrorMsg(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE, MSG_VALUE_DOES_NOT_FIT);
    return 1;
}

int16_t errRestricted(int16_t sqlType, int16_t cType) noexcept
{
    baseCvtPostErrorMsg(MSG_SQLSTATE_RESTRICTED_DATA_TYPE, MSG_SQL_TO_C_REFUSED)
        ->addParamUnsigned(0)
        ->addParamSigned(sqlType)
        ->addParamSigned(cType);
    return 1;
}

bool inRange(int32_t v, int32_t lo, int32_t hi) noexcept
{
    return v >= lo && v <= hi;
}

// The integer C types of a stated sign.
bool isSizedIntegerC(int32_t c) noexcept
{
    return inRange(c, SQL_C_UTINYINT, SQL_C_SBIGINT) || inRange(c, SQL_C_ULONG, SQL_C_SSHORT);
}

bool isNumberC(int32_t c) noexcept
{
    return c == SQL_C_NUMERIC || c == SQL_C_LONG || c == SQL_C_SHORT || c == SQL_C_FLOAT || c == SQL_C_DOUBLE ||
           isSizedIntegerC(c) || c == SQL_C_BIT || c == SQL_C_TINYINT;
}

// ---- Numeric structure ---------------------------------------------------------------

bool exceedsMagnitude(const char* digits) noexcept
{
    return std::memcmp(digits, kMaxNumericMagnitude, kBaseNumericMaxDigits) > 0;
}

bool allZeros(const char* digits, int64_t n) noexcept
{
    for (int64_t i = 0; i < n; ++i)
        if (digits[i] != '0')
            return false;
    return true;
}

int16_t toNumericStruct(const BaseConvertContext& ctx, uint32_t flags, const void* src, int64_t srcLength,
                        int32_t srcKind) noexcept
{
    BaseDecimal dec;
    std::memset(&dec, 0, kBaseDecimalHeader);
    dec.keepAllDigits = 1;
    int64_t produced = 0;
    if (baseConvertNumeric(&ctx, srcKind, ctx.codePage, src, srcLength, kBaseKindDecimal, 0, &dec, &produced,
                           kBaseMaxDigits, ctx.scale, kBaseTruncWarn, flags) != 0)
        return 1;

    // Room for the digits and for the zeros that may be put before or after them.
    char digits[kBaseMaxDigits + 2 * kBaseNumericMaxDigits + 8];
    int64_t n = dec.digitCount;
    if (n <= 0 || n > kBaseMaxDigits) {
        n = 1;
        digits[0] = '0';
        dec.exponent = 1;
        dec.negative = 0;
    } else {
        std::memcpy(digits, dec.digits, static_cast<size_t>(n));
    }
    bool negative = dec.negative != 0;
    int64_t precision = n;
    int64_t scale = n - dec.exponent;
    bool dropped = false;

    if (n == 1 && digits[0] == '0') {
        precision = 1;
        scale = 0;
        negative = false;
    } else if (ctx.settings.usePositiveScale && scale < 0) {
        if (n - scale > kBaseNumericMaxDigits)
            return errDoesNotFit();
        std::memset(digits + n, '0', static_cast<size_t>(-scale));
        n -= scale;
        precision = n;
        scale = 0;
        if (n == kBaseNumericMaxDigits && exceedsMagnitude(digits))
            return errDoesNotFit();
    } else if (precision < scale) {
        int64_t zeros = scale - precision;
        if (zeros >= kBaseNumericMaxDigits) {
            n = 1;
            digits[0] = '0';
            negative = false;
            precision = 1;
            scale = 0;
            dropped = true;
        } else {
            int64_t keep = n;
            if (zeros + keep > kBaseNumericMaxDigits) {
                keep = kBaseNumericMaxDigits - zeros;
                dropped = true;
            }
            std::memmove(digits + zeros, digits, static_cast<size_t>(keep));
            std::memset(digits, '0', static_cast<size_t>(zeros));
            n = zeros + keep;
            precision = scale = n;
        }
    } else if (precision > kBaseNumericMaxDigits - 1) {
        int64_t intDigits = dec.exponent > 0 ? dec.exponent : 0;
        if (intDigits > kBaseNumericMaxDigits || (intDigits == kBaseNumericMaxDigits && exceedsMagnitude(digits)))
            return errDoesNotFit();
        if (n > kBaseNumericMaxDigits) {
            scale -= n - kBaseNumericMaxDigits;
            n = kBaseNumericMaxDigits;
            dropped = true;
        }
        if (n == kBaseNumericMaxDigits && exceedsMagnitude(digits)) {
            if (scale <= 0)
                return errDoesNotFit();
            --n;
            --scale;
            dropped = true;
        }
        precision = n;
    }

    if (ctx.hasAppRecord && ctx.appScaleRequested) {
        int64_t wantPrecision = ctx.appPrecision > 0 ? ctx.appPrecision : kBaseNumericMaxDigits - 1;
        int64_t wantScale = ctx.appScale;
        int64_t intDigits = n - scale;
        int64_t lead = 0;
        while (lead < n && lead < intDigits && digits[lead] == '0')
            ++lead;
        if (intDigits - lead > wantPrecision - wantScale)
            return errDoesNotFit();
        if (wantScale < scale) {
            int64_t cut = scale - wantScale;
            int64_t keep = n - cut;
            if (keep <= 0) {
                if (!allZeros(digits, n))
                    dropped = true;
                n = 1;
                digits[0] = '0';
            } else {
                if (!allZeros(digits + keep, cut))
                    dropped = true;
                n = keep;
            }
        } else if (wantScale > scale) {
            int64_t add = wantScale - scale;
            if (n + add > kBaseNumericMaxDigits)
                return errDoesNotFit();
            std::memset(digits + n, '0', static_cast<size_t>(add));
            n += add;
        }
        precision = wantPrecision;
        scale = wantScale;
    }

    if (n > kBaseNumericMaxDigits || scale < INT8_MIN || scale > INT8_MAX || precision > UINT8_MAX)
        return errDoesNotFit();
    BaseNumeric result;
    std::memset(&result, 0, sizeof result);
    if (baseDigitsToNumericVal(digits, static_cast<int32_t>(n), result.val) != 0)
        return 1;
    result.precision = static_cast<uint8_t>(precision);
    result.scale = static_cast<int8_t>(scale);
    result.sign = negative && !allZeros(digits, n) ? 0 : 1;
    if (dropped)
        baseCvtPostWarning(MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
    baseReportFixed(ctx.out, &result, kBaseNumericSize);
    return 0;
}

// ---- Dates and times -------------------------------------------------------------------

// A date, time or timestamp value into a local structure: text is parsed by
// the column's type first.
int16_t toDateTimeValue(const BaseConvertContext& ctx, uint32_t flags, const void* src, int64_t srcLength,
                        int32_t srcKind, int32_t dstKind, void* dst, int64_t* produced) noexcept
{
    const BaseConvertSettings& settings = ctx.settings;
    const int16_t sqlType = ctx.sqlType;
    const int16_t scale = ctx.scale;
    const int64_t srcCodePage = ctx.codePage;
    const int32_t highest = settings.leapSecond ? 61 : 59;
    alignas(8) uint8_t parsed[kBaseTimestampSize];
    const void* from = src;
    int64_t fromLength = srcLength;
    int32_t fromKind = srcKind;
    int64_t fromCp = srcCodePage;
    if (srcKind == kBaseKindText) {
        int32_t parseKind = sqlType == SQL_TYPE_DATE        ? kBaseKindDate
                            : sqlType == SQL_TYPE_TIME      ? kBaseKindTimeFraction
                            : sqlType == SQL_TYPE_TIMESTAMP ? kBaseKindTimestamp
                                                            : dstKind;
        int64_t len = 0;
        if (baseConvertToChar(&ctx, kBaseKindText, srcCodePage, src, srcLength, parseKind, 0, parsed, &len,
                              sizeof parsed, scale, kBaseTruncWarn, highest, settings.negativeYears, flags) != 0)
            return 1;
        if (parseKind == dstKind) {
            std::memcpy(dst, parsed, static_cast<size_t>(baseKindSize(dstKind)));
            *produced = baseKindSize(dstKind);
            return 0;
        }
        from = parsed;
        fromLength = len;
        fromKind = parseKind;
        fromCp = 0;
    }
    int64_t len = 0;
    if (baseConvertToChar(&ctx, fromKind, fromCp, from, fromLength, dstKind, 0, dst, &len, baseKindSize(dstKind), scale,
                          kBaseTruncWarn, highest, settings.negativeYears, flags) != 0)
        return 1;
    *produced = baseKindSize(dstKind);
    return 0;
}

// ---- Intervals -----------------------------------------------------------------------------

int16_t toInterval(const BaseConvertContext& ctx, uint32_t flags, const void* src, int64_t srcLength,
                   int32_t srcKind) noexcept
{
    const int16_t sqlType = ctx.sqlType;
    const int16_t cType = ctx.cType;
    const int64_t srcCodePage = ctx.codePage;
    BaseInterval result;
    std::memset(&result, 0, sizeof result);
    const int32_t dstCode = baseIntervalCodeOfCType(cType);
    int32_t srcCode = baseIntervalCodeOfSqlType(sqlType);
    if (srcCode == 0)
        srcCode = dstCode;

    char text[kIntervalTextRoom + 4];
    int64_t textLength = 0;
    if (srcKind != kBaseKindText && inRange(srcKind, kBaseKindTinyInt, kBaseKindDouble)) {
        // A number becomes the literal '<number>' of a single-field interval.
        if (dstCode > kBaseIntervalSecond)
            return errRestricted(sqlType, cType);
        int64_t len = 0;
        text[0] = '\'';
        if (baseConvertNumeric(&ctx, srcKind, 0, src, srcLength, kBaseKindText, kCodePageUtf8, text + 1, &len,
                               kIntervalTextRoom - 2, ctx.scale, kBaseTruncSilent, flags) != 0)
            return 1;
        if (len > kIntervalTextRoom - 2)
            return errDoesNotFit();
        text[1 + len] = '\'';
        textLength = len + 2;
    } else if (srcKind == kBaseKindText) {
        // Numbers of exact numeric columns often arrive as text: they are
        // the literal of a single-field interval just as well.
        const bool number = dstCode <= kBaseIntervalSecond &&
                            (sqlType == SQL_NUMERIC || sqlType == SQL_DECIMAL || sqlType == SQL_INTEGER ||
                             sqlType == SQL_SMALLINT || sqlType == SQL_TINYINT || sqlType == SQL_BIGINT);
        const int64_t at = number ? 1 : 0;
        const int64_t room = kIntervalTextRoom - 2 * at;
        int64_t abs = srcCodePage < 0 ? -srcCodePage : srcCodePage;
        if (srcCodePage < 0 || baseIsUtf16CodePage(abs) || baseIsUtf32CodePage(abs)) {
            int32_t truncated = 0;
            if (baseConvertText(srcCodePage, src, srcLength, kCodePageUtf8, text + at, room, &textLength, &truncated,
                                baseConvertCache(&ctx), 0) != 0)
                return 1;
        } else {
            textLength = srcLength < room ? srcLength : room;
            // An empty value may come without a buffer.
            if (textLength > 0)
                std::memcpy(text + at, src, static_cast<size_t>(textLength));
        }
        if (number) {
            text[0] = '\'';
            text[textLength + 1] = '\'';
            textLength += 2;
        }
    } else {
        return errRestricted(sqlType, cType);
    }
    text[textLength] = 0;

    BaseInterval parsed;
    std::memset(&parsed, 0, sizeof parsed);
    if (baseParseInterval(srcCode, text, textLength, &parsed, nullptr) != 0)
        return 1;
    if (srcCode == dstCode) {
        result = parsed;
        result.code = dstCode;
    } else if (baseConvertInterval(srcCode, &parsed, dstCode, &result) != 0) {
        KaErrorList* list = KaErrorCurrentList();
        KaError* last = list != nullptr ? list->last() : nullptr;
        if (last == nullptr || last->isWarning())
            errRestricted(sqlType, cType);
        return 1;
    }
    baseReportFixed(ctx.out, &result, kBaseIntervalSize);
    return 0;
}

// ---- GUID ------------------------------------------------------------------------------------

int16_t toGuid(const BaseConvertContext& ctx, const void* src, int64_t srcLength, int32_t srcKind) noexcept
{
    const int16_t sqlType = ctx.sqlType;
    const int64_t srcCodePage = ctx.codePage;
    BaseOutString* out = ctx.out;
    // SQL_C_GUID is fixed-size: a buffer length of 0 means "not given".
    if (out->buffer != nullptr && out->bufferLength > 0 && out->bufferLength < kBaseGuidSize)
        return errDoesNotFit();
    BaseGuid guid;
    std::memset(&guid, 0, sizeof guid);
    if (srcKind == kBaseKindText) {
        if (srcCodePage == kCodePageUtf16LE) {
            if (baseParseGuidW(static_cast<const uint16_t*>(src), srcLength / 2, &guid) != 0)
                return 1;
        } else if (baseParseGuid(static_cast<const char*>(src), srcLength, &guid) != 0) {
            return 1;
        }
    } else if (srcKind == kBaseKindGuid && srcLength >= kBaseGuidSize) {
        std::memcpy(&guid, src, sizeof guid);
    } else {
        return errRestricted(sqlType, SQL_C_GUID);
    }
    baseReportFixed(out, &guid, kBaseGuidSize);
    return 0;
}

// ---- SQL_C_BINARY ---------------------------------------------------------------------------

struct Image {
    int32_t kind;
    int64_t bytes;
};

// The binary image of a SQL type; kind -1 when the type has none.
Image imageOf(int16_t sqlType, int64_t size, bool unsignedFlag) noexcept
{
    switch (sqlType) {
    case SQL_NUMERIC:
    case SQL_DECIMAL: return {kBaseKindPacked, size / 2 + 1};
    case SQL_INTEGER: return {unsignedFlag ? kBaseKindUInteger : kBaseKindInteger, 4};
    case SQL_SMALLINT: return {unsignedFlag ? kBaseKindUSmallInt : kBaseKindSmallInt, 2};
    case SQL_FLOAT:
    case SQL_DOUBLE: return {kBaseKindDouble, 8};
    case SQL_REAL: return {kBaseKindReal, 4};
    case SQL_TYPE_DATE: return {kBaseKindDate, 6};
    case SQL_TYPE_TIME: return {kBaseKindTime, 6};
    case SQL_TYPE_TIMESTAMP: return {kBaseKindTimestamp, 16};
    case SQL_BIT: return {kBaseKindBit, 1};
    case SQL_TINYINT: return {unsignedFlag ? kBaseKindUTinyInt : kBaseKindTinyInt, 1};
    case SQL_BIGINT: return {unsignedFlag ? kBaseKindUBigInt : kBaseKindBigInt, 8};
    default: return {-1, 0};
    }
}

// The value's bytes from the long-data offset on, in pieces.
int16_t rawBytes(BaseConvertContext& ctx, const void* src, int64_t srcLength) noexcept
{
    BaseOutString* out = ctx.out;
    int64_t offset = ctx.offset;
    if (offset < 0 || offset > srcLength)
        offset = srcLength;
    int64_t remaining = srcLength - offset;
    if (out->bufferLength < remaining && !baseIsVarLengthType(ctx.sqlType))
        return errDoesNotFit();
    const uint8_t* from = static_cast<const uint8_t*>(src) + offset;
    bool cut = out->putWideText(from, remaining, false, 0, false);
    ctx.notePiece(cut, out->bufferLength);
    return 0;
}

int16_t toBinary(BaseConvertContext& ctx, uint32_t flags, const void* src, int64_t srcLength, int32_t srcKind) noexcept
{
    BaseOutString* out = ctx.out;
    const int16_t sqlType = ctx.sqlType;
    if (baseConvertHook(ctx.settings, sqlType) == 0 && !baseIsRawBinaryType(sqlType)) {
        Image image = imageOf(sqlType, ctx.size, ctx.unsignedFlag);
        if (image.kind >= 0) {
            if (image.bytes <= 0 || image.bytes > kPackedRoom ||
                (out->buffer != nullptr && out->bufferLength < image.bytes))
                return errDoesNotFit();
            alignas(8) uint8_t value[kPackedRoom];
            int64_t produced = 0;
            int16_t rc = 0;
            if (image.kind >= kBaseKindDate && image.kind <= kBaseKindTimestamp)
                rc = toDateTimeValue(ctx, flags, src, srcLength, srcKind, image.kind, value, &produced);
            else
                rc = baseConvertNumeric(&ctx, srcKind, ctx.codePage, src, srcLength, image.kind, 0, value, &produced,
                                        ctx.size, ctx.scale, kBaseTruncWarn, flags);
            if (rc != 0)
                return 1;
            baseReportFixed(out, value, image.bytes);
            return 0;
        }
    }
    return rawBytes(ctx, src, srcLength);
}

// ---- Direct copy ----------------------------------------------------------------------------

// Character data already in the C type's code page goes out as it is.
bool directCopyApplies(const BaseConvertContext& ctx, int32_t srcKind) noexcept
{
    if (srcKind != kBaseKindText)
        return false;
    const int16_t t = ctx.sqlType;
    const int64_t cp = ctx.codePage < 0 ? -ctx.codePage : ctx.codePage;
    if (ctx.cType == SQL_C_CHAR)
        return (t == SQL_CHAR || t == SQL_VARCHAR) && cp == ctx.charCodePage;
    if (ctx.cType == SQL_C_WCHAR)
        return (t == SQL_WCHAR || t == SQL_WVARCHAR) && cp == ctx.settings.wideCodePage;
    return false;
}

// Converters for contexts that name none (tools and tests).
KaIcuCache& fallbackCache() noexcept
{
    static KaIcuCache cache;
    return cache;
}

}  // namespace

// ---- Context ----------------------------------------------------------------------------------

void BaseConvertContext::notePiece(bool cut, int64_t delivered) noexcept
{
    pieceLength = basePieceLength(cut, delivered);
}

uint8_t* BaseConvertContext::growConvertBuffer(int64_t want) noexcept
{
    return baseGrowBuffer(&convertBuffer, &convertBufferSize, want);
}

uint8_t* baseGrowBuffer(uint8_t** buffer, int64_t* capacity, int64_t size) noexcept
{
    if (size <= *capacity && *buffer != nullptr)
        return *buffer;
    ramFree(*buffer);
    *buffer = nullptr;
    *capacity = 0;
    if (size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX / 2) {
        ramOutOfMemory();
        return nullptr;
    }
    *buffer = static_cast<uint8_t*>(ramAlloc(static_cast<size_t>(size)));
    if (*buffer != nullptr)
        *capacity = size;
    return *buffer;
}

KaIcuCache* baseConvertCache(const BaseConvertContext* ctx) noexcept
{
    return ctx != nullptr && ctx->cache != nullptr ? ctx->cache : &fallbackCache();
}

uint32_t baseFetchFlags(const BaseConvertSettings& settings) noexcept
{
    return kBaseFlagFetch | (settings.odbc2 ? kBaseFlagOdbc2 : kBaseFlagOdbc3);
}

int32_t baseConvertHook(const BaseConvertSettings& settings, int16_t sqlType) noexcept
{
    if (settings.convertHook == nullptr)
        return 0;
    return settings.convertHook(settings.hookConnection, sqlType);
}

// ---- Type tables ------------------------------------------------------------------------------

namespace {

// The interval types follow their codes at this distance (SQL_INTERVAL_YEAR
// is 100 + SQL_CODE_YEAR), in C types as in SQL types.
constexpr int32_t kIntervalTypeBase = SQL_INTERVAL_YEAR - SQL_CODE_YEAR;
static_assert(SQL_C_INTERVAL_MINUTE_TO_SECOND - kIntervalTypeBase == SQL_CODE_MINUTE_TO_SECOND,
              "interval C types follow their codes");

bool isIntervalSql(int32_t t) noexcept
{
    return inRange(t, SQL_INTERVAL_YEAR, SQL_INTERVAL_MINUTE_TO_SECOND);
}

// The single-field interval C types.
bool isSingleFieldIntervalC(int32_t c) noexcept
{
    return inRange(c, SQL_C_INTERVAL_YEAR, SQL_C_INTERVAL_SECOND);
}

// The C types of intervals with day, hour, minute or second fields.
bool isDayTimeIntervalC(int32_t c) noexcept
{
    return inRange(c, SQL_C_INTERVAL_DAY, SQL_C_INTERVAL_SECOND) ||
           inRange(c, SQL_C_INTERVAL_DAY_TO_HOUR, SQL_C_INTERVAL_MINUTE_TO_SECOND);
}

bool isYearMonthIntervalC(int32_t c) noexcept
{
    return c == SQL_C_INTERVAL_YEAR || c == SQL_C_INTERVAL_MONTH || c == SQL_C_INTERVAL_YEAR_TO_MONTH;
}

}  // namespace

int32_t baseIntervalCodeOfSqlType(int32_t type) noexcept
{
    return isIntervalSql(type) ? type - kIntervalTypeBase : 0;
}

int32_t baseIntervalCodeOfCType(int32_t type) noexcept
{
    return inRange(type, SQL_C_INTERVAL_YEAR, SQL_C_INTERVAL_MINUTE_TO_SECOND) ? type - kIntervalTypeBase : 0;
}

int32_t baseKindOfCType(int16_t cType, bool unsignedColumn) noexcept
{
    switch (cType) {
    case SQL_C_BIT: return kBaseKindBit;
    case SQL_C_TINYINT: return unsignedColumn ? kBaseKindUTinyInt : kBaseKindTinyInt;
    case SQL_C_SHORT: return unsignedColumn ? kBaseKindUSmallInt : kBaseKindSmallInt;
    case SQL_C_LONG: return unsignedColumn ? kBaseKindUInteger : kBaseKindInteger;
    case SQL_C_STINYINT: return kBaseKindTinyInt;
    case SQL_C_UTINYINT: return kBaseKindUTinyInt;
    case SQL_C_SSHORT: return kBaseKindSmallInt;
    case SQL_C_USHORT: return kBaseKindUSmallInt;
    case SQL_C_SLONG: return kBaseKindInteger;
    case SQL_C_ULONG: return kBaseKindUInteger;
    case SQL_C_SBIGINT: return kBaseKindBigInt;
    case SQL_C_UBIGINT: return kBaseKindUBigInt;
    case SQL_C_FLOAT: return kBaseKindReal;
    case SQL_C_DOUBLE: return kBaseKindDouble;
    default: return -1;
    }
}

int64_t baseKindSize(int32_t kind) noexcept
{
    switch (kind) {
    case kBaseKindBit:
    case kBaseKindTinyInt:
    case kBaseKindUTinyInt: return 1;
    case kBaseKindSmallInt:
    case kBaseKindUSmallInt: return 2;
    case kBaseKindInteger:
    case kBaseKindUInteger:
    case kBaseKindReal: return 4;
    case kBaseKindBigInt:
    case kBaseKindUBigInt:
    case kBaseKindDouble: return 8;
    case kBaseKindDate:
    case kBaseKindTime: return 6;
    case kBaseKindTimeFraction: return 12;
    case kBaseKindTimestamp:
    case kBaseKindGuid: return 16;
    default: return 0;
    }
}

int16_t baseCheckSqlToC(uint16_t column, int16_t sqlType, int16_t cType) noexcept
{
    const int32_t c = cType;
    bool allowed = false;
    if (c == SQL_C_CHAR || c == SQL_C_WCHAR || c == SQL_C_BINARY || c == SQL_C_DEFAULT || c == SQL_ARD_TYPE ||
        sqlType == kBaseSqlVariant || baseIsCharacterType(sqlType)) {
        allowed = true;
    } else {
        // Exact numbers and integers as intervals of one field.
        const bool integerC =
            c == SQL_C_NUMERIC || c == SQL_C_LONG || c == SQL_C_SHORT || isSizedIntegerC(c) || c == SQL_C_TINYINT;
        switch (sqlType) {
        case SQL_NUMERIC:
        case SQL_DECIMAL:
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_TINYINT:
        case SQL_BIGINT: allowed = isNumberC(c) || isSingleFieldIntervalC(c); break;
        case SQL_FLOAT:
        case SQL_REAL:
        case SQL_DOUBLE:
        case SQL_BIT: allowed = isNumberC(c); break;
        case SQL_TYPE_DATE: allowed = c == SQL_C_TYPE_DATE || c == SQL_C_TYPE_TIMESTAMP; break;
        case SQL_TYPE_TIME: allowed = c == SQL_C_TYPE_TIME || c == SQL_C_TYPE_TIMESTAMP; break;
        case SQL_TYPE_TIMESTAMP: allowed = inRange(c, SQL_C_TYPE_DATE, SQL_C_TYPE_TIMESTAMP); break;
        case SQL_INTERVAL_YEAR:
        case SQL_INTERVAL_MONTH: allowed = integerC || isYearMonthIntervalC(c); break;
        case SQL_INTERVAL_DAY:
        case SQL_INTERVAL_HOUR:
        case SQL_INTERVAL_MINUTE:
        case SQL_INTERVAL_SECOND: allowed = integerC || isDayTimeIntervalC(c); break;
        case SQL_INTERVAL_YEAR_TO_MONTH: allowed = isYearMonthIntervalC(c); break;
        case SQL_INTERVAL_DAY_TO_HOUR:
        case SQL_INTERVAL_DAY_TO_MINUTE:
        case SQL_INTERVAL_DAY_TO_SECOND:
        case SQL_INTERVAL_HOUR_TO_MINUTE:
        case SQL_INTERVAL_HOUR_TO_SECOND:
        case SQL_INTERVAL_MINUTE_TO_SECOND: allowed = isDayTimeIntervalC(c); break;
        case SQL_GUID: allowed = c == SQL_C_GUID; break;
        default: break;
        }
    }
    if (allowed)
        return 0;
    baseCvtPostErrorMsg(MSG_SQLSTATE_RESTRICTED_DATA_TYPE, MSG_SQL_TO_C_REFUSED)
        ->addParamUnsigned(column)
        ->addParamSigned(sqlType)
        ->addParamSigned(cType);
    return 1;
}

int16_t baseDefaultCType(int16_t sqlType, int32_t narrowText) noexcept
{
    switch (sqlType) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_REAL:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_GUID:
    case SQL_BIT:
    case SQL_TINYINT: return sqlType;
    case SQL_FLOAT:
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_BIGINT: return SQL_C_SBIGINT;
    case SQL_LONGVARBINARY:
    case SQL_VARBINARY:
    case SQL_BINARY: return SQL_C_BINARY;
    case SQL_WLONGVARCHAR:
    case SQL_WVARCHAR:
    case SQL_WCHAR: return narrowText == 1 ? SQL_C_CHAR : SQL_C_WCHAR;
    default: return isIntervalSql(sqlType) ? sqlType : SQL_C_CHAR;
    }
}

// ---- Reporting ----------------------------------------------------------------------------

void baseReportLength(BaseOutString* out, int64_t length) noexcept
{
    // As the output string reports lengths: one beyond the field's range is
    // the largest value the field holds, since wrapped it could read as
    // SQL_NULL_DATA or SQL_NTS.
    if (out->length32 != nullptr)
        *out->length32 = length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
    else if (out->length16 != nullptr)
        *out->length16 = length > INT16_MAX ? INT16_MAX : static_cast<int16_t>(length);
    else if (out->length64 != nullptr)
        *out->length64 = length;
    if (out->nullFlag32 != nullptr)
        *out->nullFlag32 = 0;
    else if (out->nullFlag64 != nullptr)
        *out->nullFlag64 = 0;
}

void baseReportFixed(BaseOutString* out, const void* value, int64_t size) noexcept
{
    if (out->buffer != nullptr && size > 0)
        std::memcpy(out->buffer, value, static_cast<size_t>(size));
    baseReportLength(out, size);
}

void baseAnnotateDiagnostics(size_t first, uint16_t msg, uint64_t number) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return;
    for (size_t i = first; i < list->recordCount(); ++i) {
        // Set off from the message by a blank, which the catalogue's text
        // cannot begin with.
        if (KaError* rec = list->recordAt(i); rec != nullptr && !rec->isStatic())
            rec->appendText(" ");
        errAppendMessageAt(msg, i)->addParamUnsigned(number);
    }
}

// ---- Conversions --------------------------------------------------------------------------

namespace {

int16_t convertWith(BaseConvertContext& ctx, const void* src, int64_t srcLength, int32_t srcKind) noexcept
{
    const uint32_t flags = baseFetchFlags(ctx.settings);
    const int16_t cType = ctx.cType;
    switch (cType) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
    case kBaseCCharNoTerm:
    case kBaseCWCharNoTerm: return baseConvertToCharacter(ctx, src, srcLength, srcKind);
    case SQL_C_NUMERIC: return toNumericStruct(ctx, flags, src, srcLength, srcKind);
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TYPE_TIMESTAMP: {
        int32_t kind = cType == SQL_C_TYPE_DATE   ? kBaseKindDate
                       : cType == SQL_C_TYPE_TIME ? kBaseKindTime
                                                  : kBaseKindTimestamp;
        alignas(8) uint8_t value[kBaseTimestampSize];
        int64_t produced = 0;
        if (toDateTimeValue(ctx, flags, src, srcLength, srcKind, kind, value, &produced) != 0)
            return 1;
        baseReportFixed(ctx.out, value, produced);
        return 0;
    }
    case SQL_C_GUID: return toGuid(ctx, src, srcLength, srcKind);
    case SQL_C_BINARY: return toBinary(ctx, flags, src, srcLength, srcKind);
    default: break;
    }
    if (inRange(cType, SQL_C_INTERVAL_YEAR, SQL_C_INTERVAL_MINUTE_TO_SECOND))
        return toInterval(ctx, flags, src, srcLength, srcKind);
    int32_t kind = baseKindOfCType(cType, ctx.unsignedFlag);
    if (kind < 0)
        return 0;  // a C type this engine does not produce: nothing is written
    alignas(8) uint8_t value[8];
    int64_t produced = 0;
    if (baseConvertNumeric(&ctx, srcKind, ctx.codePage, src, srcLength, kind, 0, value, &produced, ctx.size, ctx.scale,
                           kBaseTruncWarn, flags) != 0)
        return 1;
    baseReportFixed(ctx.out, value, baseKindSize(kind));
    return 0;
}

}  // namespace

int16_t baseConvertSqlToC(BaseConvertContext& ctx, const void* src, int64_t srcLength, int32_t srcKind) noexcept
{
    if (ctx.out == nullptr || (src == nullptr && srcLength > 0) || srcLength < 0) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    return convertWith(ctx, src, srcLength, srcKind);
}

int16_t baseConvertColumnValue(BaseConvertContext& ctx, const void* src, int64_t srcLength, int32_t srcKind) noexcept
{
    KaErrorList* list = ctx.diagnostics != nullptr ? ctx.diagnostics : KaErrorCurrentList();
    const size_t before = list != nullptr ? list->recordCount() : 0;
    int16_t rc = 0;
    if (ctx.column == 0 || ctx.out == nullptr || srcLength < 0 || (src == nullptr && srcLength > 0)) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        rc = 1;
    } else if (baseIsVarLengthType(ctx.sqlType) && directCopyApplies(ctx, srcKind)) {
        // The code pages match: the text copy serves it from the source.
        rc = baseCopyCharacterData(ctx, src, srcLength);
    } else {
        rc = convertWith(ctx, src, srcLength, srcKind);
    }
    if (list != nullptr && list->recordCount() > before)
        baseAnnotateDiagnostics(before, MSG_COLUMN_NUMBER, ctx.column);
    return rc;
}

int16_t baseConvertColumnValueInt(BaseConvertContext& ctx, int32_t column, const void* src, int64_t srcLength,
                                  int32_t srcKind) noexcept
{
    if (column < 0 || column > UINT16_MAX) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    ctx.column = static_cast<uint16_t>(column);
    return baseConvertColumnValue(ctx, src, srcLength, srcKind);
}

int16_t baseConvertOutputParam(BaseConvertContext& ctx, const void* value, int64_t length, int32_t srcKind) noexcept
{
    if (ctx.out == nullptr) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    if (length == SQL_NULL_DATA) {
        const int16_t cType = ctx.cType;
        int64_t count = cType == SQL_C_LONG || cType == SQL_C_FLOAT ? 4
                        : cType == SQL_C_SHORT                      ? 2
                        : cType == SQL_C_DOUBLE                     ? 8
                        : cType == SQL_C_WCHAR                      ? ctx.settings.wideTermWidth
                                                                    : 1;
        return ctx.out->setNull(count);
    }
    KaErrorList* list = KaErrorCurrentList();
    const size_t before = list != nullptr ? list->recordCount() : 0;
    int16_t rc = baseConvertSqlToC(ctx, value, length, srcKind);
    if (ctx.paramRow != 0)
        baseAnnotateParamRow(before, list, ctx.paramRow);
    return rc;
}

int64_t baseTerminatedLength(const void* text, int32_t width) noexcept
{
    const auto* p = static_cast<const unsigned char*>(text);
    int64_t n = 0;
    for (;;) {
        bool zero = true;
        for (int32_t i = 0; i < width; ++i)
            zero = zero && p[n + i] == 0;
        if (zero)
            return n;
        n += width;
    }
}
