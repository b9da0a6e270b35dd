// SQL-to-C value conversion: the pair table, the default C types, the
// dispatch on the C type and the fixed-size targets (numbers, the numeric
// structure, dates and times, intervals, GUIDs, binary images). Character
// targets are written by convchar.cpp.
#include "convert/basecvt.h"

#include <cstring>

#include "convert/convchar.h"
#include "convert/datetime.h"
#include "convert/textcvt.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/basestring.h"
#include "odbc/basestmt.h"

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
    basePostErrorMsg(kBaseIdxOutOfRange, MSG_VALUE_DOES_NOT_FIT);
    return 1;
}

int16_t errRestricted(int16_t sqlType, int16_t cType) noexcept
{
    basePostErrorMsg(17, MSG_SQL_TO_C_REFUSED)
        ->addParamUnsigned(0)
        ->addParamSigned(sqlType)
        ->addParamSigned(cType);
    return 1;
}

bool inRange(int32_t v, int32_t lo, int32_t hi) noexcept
{
    return v >= lo && v <= hi;
}

// The signed and unsigned integer C types -28 to -25 and -18 to -15.
bool isSizedIntegerC(int32_t c) noexcept
{
    return inRange(c, -28, -25) || inRange(c, -18, -15);
}

bool isNumberC(int32_t c) noexcept
{
    return c == kBaseCNumeric || c == kBaseCLong || c == kBaseCShort || c == kBaseCFloat ||
           c == kBaseCDouble || isSizedIntegerC(c) || c == kBaseCBit || c == kBaseCTinyInt;
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

int16_t toNumericStruct(BaseStatement* stmt, const BaseConvertSettings& settings, uint32_t flags,
                        int16_t colScale, BaseOutString* out, const void* src, int64_t srcLength,
                        int32_t srcKind, int64_t srcCodePage, const BaseAXDRecord* ard) noexcept
{
    BaseDecimal dec;
    std::memset(&dec, 0, kBaseDecimalHeader);
    dec.keepAllDigits = 1;
    int64_t produced = 0;
    if (baseConvertNumeric(stmt, srcKind, srcCodePage, src, srcLength, kBaseKindDecimal, 0, &dec,
                           &produced, kBaseMaxDigits, colScale, kBaseTruncWarn, flags) != 0)
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
    } else if (settings.usePositiveScale && scale < 0) {
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
        if (intDigits > kBaseNumericMaxDigits ||
            (intDigits == kBaseNumericMaxDigits && exceedsMagnitude(digits)))
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

    if (ard != nullptr && ard->numericScaleRequested()) {
        int64_t wantPrecision = ard->precision > 0 ? ard->precision : kBaseNumericMaxDigits - 1;
        int64_t wantScale = ard->scale;
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
        basePostWarning(kBaseIdxFractionTruncated);
    baseReportFixed(out, &result, kBaseNumericSize);
    return 0;
}

// ---- Dates and times -------------------------------------------------------------------

// Step 8 into a local structure: text is parsed by the column's type first.
int16_t toDateTimeValue(BaseStatement* stmt, const BaseConvertSettings& settings, uint32_t flags,
                        int16_t sqlType, int16_t scale, const void* src, int64_t srcLength,
                        int32_t srcKind, int64_t srcCodePage, int32_t dstKind, void* dst,
                        int64_t* produced) noexcept
{
    const int32_t highest = settings.leapSecond ? 61 : 59;
    alignas(8) uint8_t parsed[kBaseTimestampSize];
    const void* from = src;
    int64_t fromLength = srcLength;
    int32_t fromKind = srcKind;
    int64_t fromCp = srcCodePage;
    if (srcKind == kBaseKindText) {
        int32_t parseKind = sqlType == kBaseSqlTypeDate        ? kBaseKindDate
                            : sqlType == kBaseSqlTypeTime      ? kBaseKindTimeFraction
                            : sqlType == kBaseSqlTypeTimestamp ? kBaseKindTimestamp
                                                               : dstKind;
        int64_t len = 0;
        if (baseConvertToChar(stmt, kBaseKindText, srcCodePage, src, srcLength, parseKind, 0,
                              parsed, &len, sizeof parsed, scale, kBaseTruncWarn, highest,
                              settings.negativeYears, flags) != 0)
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
    if (baseConvertToChar(stmt, fromKind, fromCp, from, fromLength, dstKind, 0, dst, &len,
                          baseKindSize(dstKind), scale, kBaseTruncWarn, highest,
                          settings.negativeYears, flags) != 0)
        return 1;
    *produced = baseKindSize(dstKind);
    return 0;
}

// ---- Intervals -----------------------------------------------------------------------------

int16_t toInterval(BaseStatement* stmt, uint32_t flags, int16_t sqlType, int16_t scale,
                   int16_t cType, BaseOutString* out, const void* src, int64_t srcLength,
                   int32_t srcKind, int64_t srcCodePage) noexcept
{
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
        if (baseConvertNumeric(stmt, srcKind, 0, src, srcLength, kBaseKindText, kCpUtf8, text + 1,
                               &len, kIntervalTextRoom - 2, scale, kBaseTruncSilent, flags) != 0)
            return 1;
        if (len > kIntervalTextRoom - 2)
            return errDoesNotFit();
        text[1 + len] = '\'';
        textLength = len + 2;
    } else if (srcKind == kBaseKindText) {
        // Numbers of exact numeric columns often arrive as text: they are
        // the literal of a single-field interval just as well.
        const bool number = dstCode <= kBaseIntervalSecond &&
                            (sqlType == kBaseSqlNumeric || sqlType == kBaseSqlDecimal ||
                             sqlType == kBaseSqlInteger || sqlType == kBaseSqlSmallInt ||
                             sqlType == kBaseSqlTinyInt || sqlType == kBaseSqlBigInt);
        const int64_t at = number ? 1 : 0;
        const int64_t room = kIntervalTextRoom - 2 * at;
        int64_t abs = srcCodePage < 0 ? -srcCodePage : srcCodePage;
        if (srcCodePage < 0 || baseIsUtf16CodePage(abs) || baseIsUtf32CodePage(abs)) {
            int32_t truncated = 0;
            if (stmt->convertText(srcCodePage, src, srcLength, kCpUtf8, text + at, room,
                                  &textLength, &truncated, 0) != 0)
                return 1;
        } else {
            textLength = srcLength < room ? srcLength : room;
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
    baseReportFixed(out, &result, kBaseIntervalSize);
    return 0;
}

// ---- GUID ------------------------------------------------------------------------------------

int16_t toGuid(int16_t sqlType, BaseOutString* out, const void* src, int64_t srcLength,
               int32_t srcKind, int64_t srcCodePage) noexcept
{
    // SQL_C_GUID is fixed-size: a buffer length of 0 means "not given".
    if (out->buffer != nullptr && out->bufferLength > 0 && out->bufferLength < kBaseGuidSize)
        return errDoesNotFit();
    BaseGuid guid;
    std::memset(&guid, 0, sizeof guid);
    if (srcKind == kBaseKindText) {
        if (srcCodePage == kCpUtf16LE) {
            if (baseParseGuidW(static_cast<const uint16_t*>(src), srcLength / 2, &guid) != 0)
                return 1;
        } else if (baseParseGuid(static_cast<const char*>(src), srcLength, &guid) != 0) {
            return 1;
        }
    } else if (srcKind == kBaseKindGuid && srcLength >= kBaseGuidSize) {
        std::memcpy(&guid, src, sizeof guid);
    } else {
        return errRestricted(sqlType, kBaseCGuid);
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
    case kBaseSqlNumeric:
    case kBaseSqlDecimal:
        return {kBaseKindPacked, size / 2 + 1};
    case kBaseSqlInteger:
        return {unsignedFlag ? kBaseKindUInteger : kBaseKindInteger, 4};
    case kBaseSqlSmallInt:
        return {unsignedFlag ? kBaseKindUSmallInt : kBaseKindSmallInt, 2};
    case kBaseSqlFloat:
    case kBaseSqlDouble:
        return {kBaseKindDouble, 8};
    case kBaseSqlReal:
        return {kBaseKindReal, 4};
    case kBaseSqlTypeDate:
        return {kBaseKindDate, 6};
    case kBaseSqlTypeTime:
        return {kBaseKindTime, 6};
    case kBaseSqlTypeTimestamp:
        return {kBaseKindTimestamp, 16};
    case kBaseSqlBit:
        return {kBaseKindBit, 1};
    case kBaseSqlTinyInt:
        return {unsignedFlag ? kBaseKindUTinyInt : kBaseKindTinyInt, 1};
    case kBaseSqlBigInt:
        return {unsignedFlag ? kBaseKindUBigInt : kBaseKindBigInt, 8};
    default:
        return {-1, 0};
    }
}

// The value's bytes from the long-data offset on, in pieces.
int16_t rawBytes(BaseStatement* stmt, int16_t sqlType, BaseOutString* out, const void* src,
                 int64_t srcLength) noexcept
{
    int64_t offset = stmt->getDataReturned;
    if (offset < 0 || offset > srcLength)
        offset = srcLength;
    int64_t remaining = srcLength - offset;
    if (out->bufferLength < remaining && !baseIsVarLengthType(sqlType))
        return errDoesNotFit();
    const uint8_t* from = static_cast<const uint8_t*>(src) + offset;
    bool cut = out->putWideText(from, remaining, false, 0, false);
    stmt->notePiece(cut, out->bufferLength);
    return 0;
}

int16_t toBinary(BaseStatement* stmt, const BaseConvertSettings& settings, uint32_t flags,
                 int16_t sqlType, int64_t size, int16_t scale, bool unsignedFlag,
                 BaseOutString* out, const void* src, int64_t srcLength, int32_t srcKind,
                 int64_t srcCodePage) noexcept
{
    if (baseConvertHook(stmt, settings, sqlType) == 0 && !baseIsRawBinaryType(sqlType)) {
        Image image = imageOf(sqlType, size, unsignedFlag);
        if (image.kind >= 0) {
            if (image.bytes <= 0 || image.bytes > kPackedRoom ||
                (out->buffer != nullptr && out->bufferLength < image.bytes))
                return errDoesNotFit();
            alignas(8) uint8_t value[kPackedRoom];
            int64_t produced = 0;
            int16_t rc = 0;
            if (image.kind >= kBaseKindDate && image.kind <= kBaseKindTimestamp)
                rc = toDateTimeValue(stmt, settings, flags, sqlType, scale, src, srcLength,
                                     srcKind, srcCodePage, image.kind, value, &produced);
            else
                rc = baseConvertNumeric(stmt, srcKind, srcCodePage, src, srcLength, image.kind, 0,
                                        value, &produced, size, scale, kBaseTruncWarn, flags);
            if (rc != 0)
                return 1;
            baseReportFixed(out, value, image.bytes);
            return 0;
        }
    }
    return rawBytes(stmt, sqlType, out, src, srcLength);
}

// ---- Direct copy ----------------------------------------------------------------------------

// Character data already in the C type's code page goes out as it is.
bool directCopyApplies(const BaseStatement* stmt, const BaseConvertSettings& settings,
                       const BaseIRDRecord* rec, int16_t cType, int32_t srcKind) noexcept
{
    if (srcKind != kBaseKindText)
        return false;
    int16_t t = rec->conciseType;
    if (cType == kBaseCChar)
        return (t == kBaseSqlChar || t == kBaseSqlVarChar) && rec->codePageAbs == stmt->charCodePage;
    if (cType == kBaseCWChar)
        return (t == kBaseSqlWChar || t == kBaseSqlWVarChar) &&
               rec->codePageAbs == settings.wideCodePage;
    return false;
}

}  // namespace

// ---- Settings ---------------------------------------------------------------------------------

void baseConvertSettingsOf(const BaseStatement* stmt, BaseConvertSettings* out) noexcept
{
    if (stmt == nullptr) {
        *out = BaseConvertSettings{};
        return;
    }
    *out = stmt->conversionSettings;
    const BaseConnection* conn = stmt->connection;
    if (conn == nullptr)
        return;
    if (conn->wideCharCodePage != 0) {
        out->wideCodePage = conn->wideCharCodePage;
        out->wideTermWidth = baseCodePageUnitWidth(conn->wideCharCodePage);
    }
    out->sharedCache = conn->threadModel != 0;
    out->workarounds = conn->workarounds;
    out->timestampTruncationBehavior = conn->timestampTruncationBehavior;
    out->allowHH24 = conn->allowHH24 != 0;
    out->allowTime24 = conn->allowTime24 != 0;
    if (conn->doubleToStringPrecision != 0)
        out->floatTextWidth = conn->doubleToStringPrecision + kBaseFloatTextExtra;
    if (conn->env != nullptr)
        out->odbc2 = conn->env->odbc2Mode == 1;
}

uint32_t baseFetchFlags(const BaseConvertSettings& settings) noexcept
{
    return kBaseFlagFetch | (settings.odbc2 ? kBaseFlagOdbc2 : kBaseFlagOdbc3);
}

int32_t baseConvertHook(const BaseStatement* stmt, const BaseConvertSettings& settings,
                        int16_t sqlType) noexcept
{
    if (settings.convertHook == nullptr || stmt == nullptr)
        return 0;
    return settings.convertHook(stmt->connection, sqlType);
}

// ---- Type tables ------------------------------------------------------------------------------

int32_t baseIntervalCodeOfSqlType(int32_t type) noexcept
{
    return inRange(type, 101, 113) ? type - 100 : 0;
}

int32_t baseIntervalCodeOfCType(int32_t type) noexcept
{
    return inRange(type, 101, 113) ? type - 100 : 0;
}

int32_t baseKindOfCType(int16_t cType, bool unsignedColumn) noexcept
{
    switch (cType) {
    case kBaseCBit:
        return kBaseKindBit;
    case kBaseCTinyInt:
        return unsignedColumn ? kBaseKindUTinyInt : kBaseKindTinyInt;
    case kBaseCShort:
        return unsignedColumn ? kBaseKindUSmallInt : kBaseKindSmallInt;
    case kBaseCLong:
        return unsignedColumn ? kBaseKindUInteger : kBaseKindInteger;
    case kBaseCSTinyInt:
        return kBaseKindTinyInt;
    case kBaseCUTinyInt:
        return kBaseKindUTinyInt;
    case kBaseCSShort:
        return kBaseKindSmallInt;
    case kBaseCUShort:
        return kBaseKindUSmallInt;
    case kBaseCSLong:
        return kBaseKindInteger;
    case kBaseCULong:
        return kBaseKindUInteger;
    case kBaseCSBigInt:
        return kBaseKindBigInt;
    case kBaseCUBigInt:
        return kBaseKindUBigInt;
    case kBaseCFloat:
        return kBaseKindReal;
    case kBaseCDouble:
        return kBaseKindDouble;
    default:
        return -1;
    }
}

int64_t baseKindSize(int32_t kind) noexcept
{
    switch (kind) {
    case kBaseKindBit:
    case kBaseKindTinyInt:
    case kBaseKindUTinyInt:
        return 1;
    case kBaseKindSmallInt:
    case kBaseKindUSmallInt:
        return 2;
    case kBaseKindInteger:
    case kBaseKindUInteger:
    case kBaseKindReal:
        return 4;
    case kBaseKindBigInt:
    case kBaseKindUBigInt:
    case kBaseKindDouble:
        return 8;
    case kBaseKindDate:
    case kBaseKindTime:
        return 6;
    case kBaseKindTimeFraction:
        return 12;
    case kBaseKindTimestamp:
    case kBaseKindGuid:
        return 16;
    default:
        return 0;
    }
}

int16_t baseCheckSqlToC(uint16_t column, int16_t sqlType, int16_t cType) noexcept
{
    const int32_t c = cType;
    bool allowed = false;
    if (c == kBaseCChar || c == kBaseCWChar || c == kBaseCBinary || c == kBaseCDefault ||
        c == kBaseCArdType || sqlType == kBaseSqlVariant || baseIsCharacterType(sqlType)) {
        allowed = true;
    } else {
        switch (sqlType) {
        case kBaseSqlNumeric:
        case kBaseSqlDecimal:
        case kBaseSqlInteger:
        case kBaseSqlSmallInt:
        case kBaseSqlTinyInt:
        case kBaseSqlBigInt:
            allowed = isNumberC(c) || inRange(c, 101, 106);
            break;
        case kBaseSqlFloat:
        case kBaseSqlReal:
        case kBaseSqlDouble:
        case kBaseSqlBit:
            allowed = isNumberC(c);
            break;
        case kBaseSqlTypeDate:
            allowed = c == 91 || c == 93;
            break;
        case kBaseSqlTypeTime:
            allowed = c == 92 || c == 93;
            break;
        case kBaseSqlTypeTimestamp:
            allowed = inRange(c, 91, 93);
            break;
        case kBaseSqlIntervalYear:
        case kBaseSqlIntervalMonth:
            allowed = c == 2 || c == 4 || c == 5 || c == 101 || c == 102 || c == 107 ||
                      isSizedIntegerC(c) || c == kBaseCTinyInt;
            break;
        case kBaseSqlIntervalDay:
        case kBaseSqlIntervalHour:
        case kBaseSqlIntervalMinute:
        case kBaseSqlIntervalSecond:
            allowed = c == 2 || c == 4 || c == 5 || inRange(c, 103, 106) || inRange(c, 108, 113) ||
                      isSizedIntegerC(c) || c == kBaseCTinyInt;
            break;
        case kBaseSqlIntervalYearToMonth:
            allowed = c == 101 || c == 102 || c == 107;
            break;
        case kBaseSqlIntervalDayToHour:
        case kBaseSqlIntervalDayToMinute:
        case kBaseSqlIntervalDayToSecond:
        case kBaseSqlIntervalHourToMinute:
        case kBaseSqlIntervalHourToSecond:
        case kBaseSqlIntervalMinuteToSecond:
            allowed = inRange(c, 103, 106) || inRange(c, 108, 113);
            break;
        case kBaseSqlGuid:
            allowed = c == kBaseCGuid;
            break;
        default:
            break;
        }
    }
    if (allowed)
        return 0;
    basePostErrorMsg(17, MSG_SQL_TO_C_REFUSED)
        ->addParamUnsigned(column)
        ->addParamSigned(sqlType)
        ->addParamSigned(cType);
    return 1;
}

int16_t baseDefaultCType(int16_t sqlType, int32_t narrowText) noexcept
{
    switch (sqlType) {
    case kBaseSqlInteger:
    case kBaseSqlSmallInt:
    case kBaseSqlReal:
    case kBaseSqlTypeDate:
    case kBaseSqlTypeTime:
    case kBaseSqlTypeTimestamp:
    case kBaseSqlGuid:
    case kBaseSqlBit:
    case kBaseSqlTinyInt:
        return sqlType;
    case kBaseSqlFloat:
    case kBaseSqlDouble:
        return kBaseCDouble;
    case kBaseSqlBigInt:
        return kBaseCSBigInt;
    case kBaseSqlLongVarBinary:
    case kBaseSqlVarBinary:
    case kBaseSqlBinary:
        return kBaseCBinary;
    case kBaseSqlWLongVarChar:
    case kBaseSqlWVarChar:
    case kBaseSqlWChar:
        return narrowText == 1 ? kBaseCChar : kBaseCWChar;
    default:
        return inRange(sqlType, 101, 113) ? sqlType : kBaseCChar;
    }
}

// ---- Reporting ----------------------------------------------------------------------------

void baseReportLength(BaseOutString* out, int64_t length) noexcept
{
    if (out->length32 != nullptr)
        *out->length32 = static_cast<int32_t>(length);
    else if (out->length16 != nullptr)
        *out->length16 = static_cast<int16_t>(length);
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
    for (size_t i = first; i < list->recordCount(); ++i)
        errAppendMessageAt(msg, i)->addParamUnsigned(number);
}

// ---- Conversions --------------------------------------------------------------------------

namespace {

int16_t convertWith(BaseStatement* stmt, const BaseConvertSettings& settings, int16_t sqlType,
                    int64_t size, int16_t scale, bool unsignedFlag, int16_t cType,
                    BaseOutString* out, const void* src, int64_t srcLength, int32_t srcKind,
                    int64_t srcCodePage, const BaseAXDRecord* ard) noexcept
{
    const uint32_t flags = baseFetchFlags(settings);
    switch (cType) {
    case kBaseCChar:
    case kBaseCWChar:
    case kBaseCCharNoTerm:
    case kBaseCWCharNoTerm:
        return baseConvertToCharacter(stmt, settings, sqlType, size, scale, cType, out, src,
                                      srcLength, srcKind, srcCodePage);
    case kBaseCNumeric:
        return toNumericStruct(stmt, settings, flags, scale, out, src, srcLength, srcKind,
                               srcCodePage, ard);
    case kBaseCTypeDate:
    case kBaseCTypeTime:
    case kBaseCTypeTimestamp: {
        int32_t kind = cType == kBaseCTypeDate   ? kBaseKindDate
                       : cType == kBaseCTypeTime ? kBaseKindTime
                                                 : kBaseKindTimestamp;
        alignas(8) uint8_t value[kBaseTimestampSize];
        int64_t produced = 0;
        if (toDateTimeValue(stmt, settings, flags, sqlType, scale, src, srcLength, srcKind,
                            srcCodePage, kind, value, &produced) != 0)
            return 1;
        baseReportFixed(out, value, produced);
        return 0;
    }
    case kBaseCGuid:
        return toGuid(sqlType, out, src, srcLength, srcKind, srcCodePage);
    case kBaseCBinary:
        return toBinary(stmt, settings, flags, sqlType, size, scale, unsignedFlag, out, src,
                        srcLength, srcKind, srcCodePage);
    default:
        break;
    }
    if (inRange(cType, kBaseCIntervalYear, kBaseCIntervalMinuteToSecond))
        return toInterval(stmt, flags, sqlType, scale, cType, out, src, srcLength, srcKind,
                          srcCodePage);
    int32_t kind = baseKindOfCType(cType, unsignedFlag);
    if (kind < 0)
        return 0;  // a C type this engine does not produce: nothing is written
    alignas(8) uint8_t value[8];
    int64_t produced = 0;
    if (baseConvertNumeric(stmt, srcKind, srcCodePage, src, srcLength, kind, 0, value, &produced,
                           size, scale, kBaseTruncWarn, flags) != 0)
        return 1;
    baseReportFixed(out, value, baseKindSize(kind));
    return 0;
}

}  // namespace

int16_t baseConvertSqlToC(BaseStatement* stmt, int16_t sqlType, int64_t size, int16_t scale,
                          bool unsignedFlag, int16_t cType, BaseOutString* out, const void* src,
                          int64_t srcLength, int32_t srcKind, int64_t srcCodePage,
                          const BaseAXDRecord* ard) noexcept
{
    if (stmt == nullptr || out == nullptr || (src == nullptr && srcLength > 0) || srcLength < 0) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    BaseConvertSettings settings;
    baseConvertSettingsOf(stmt, &settings);
    return convertWith(stmt, settings, sqlType, size, scale, unsignedFlag, cType, out, src,
                       srcLength, srcKind, srcCodePage, ard);
}

int16_t baseConvertColumnValue(BaseStatement* stmt, uint16_t column, int16_t cType,
                               BaseOutString* out, const void* src, int64_t srcLength,
                               int32_t srcKind) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    const size_t before = list != nullptr ? list->recordCount() : 0;
    const BaseIRDRecord* rec =
        stmt != nullptr && stmt->ird != nullptr && column != 0 ? stmt->ird->irdRecord(column)
                                                               : nullptr;
    int16_t rc = 0;
    if (rec == nullptr || out == nullptr || srcLength < 0 || (src == nullptr && srcLength > 0)) {
        basePostError(kBaseIdxGeneralError);
        rc = 1;
    } else {
        BaseConvertSettings settings;
        baseConvertSettingsOf(stmt, &settings);
        const int16_t sqlType = rec->conciseType;
        if (baseIsVarLengthType(sqlType) && directCopyApplies(stmt, settings, rec, cType, srcKind)) {
            // The code pages match: the text copy serves it from the source.
            rc = baseCopyCharacterData(stmt, settings, cType, out, src, srcLength,
                                       rec->codePageAbs);
        } else {
            int64_t size = baseIsVarLengthType(sqlType) ? static_cast<int64_t>(rec->length)
                                                        : rec->precision;
            // Only the numeric structure takes anything from the ARD record.
            const BaseAXDRecord* ard = cType == kBaseCNumeric ? stmt->ardRecord(column) : nullptr;
            rc = convertWith(stmt, settings, sqlType, size, rec->scale, rec->isUnsigned(), cType,
                             out, src, srcLength, srcKind, rec->codePage, ard);
        }
    }
    if (list != nullptr && list->recordCount() > before)
        baseAnnotateDiagnostics(before, MSG_COLUMN_NUMBER, column);
    return rc;
}

int16_t baseConvertColumnValueInt(BaseStatement* stmt, int32_t column, int16_t cType,
                                  BaseOutString* out, const void* src, int64_t srcLength,
                                  int32_t srcKind) noexcept
{
    if (column < 0 || column > UINT16_MAX) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    return baseConvertColumnValue(stmt, static_cast<uint16_t>(column), cType, out, src, srcLength,
                                  srcKind);
}

int16_t baseConvertOutputParam(BaseStatement* stmt, uint16_t param, const void* value,
                               int64_t length, int32_t srcKind) noexcept
{
    BaseIPDRecord* ipdRec = stmt != nullptr ? stmt->getParamIPDRecord(param) : nullptr;
    if (ipdRec == nullptr) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    BaseAXDRecord* apd = ipdRec->apdRecord();
    if (apd == nullptr || apd->dataPtr == nullptr)
        return 0;
    const int64_t rowSize = stmt->currentApd != nullptr ? stmt->currentApd->bindType : 0;
    const int64_t row = stmt->currentParamRow;
    apd->applyBindOffset(rowSize, row);
    const int16_t cType = ipdRec->cType();
    int16_t rc = 0;
    if (length == kBaseNullData) {
        BaseConvertSettings settings;
        baseConvertSettingsOf(stmt, &settings);
        int64_t count = cType == kBaseCLong || cType == kBaseCFloat ? 4
                        : cType == kBaseCShort                       ? 2
                        : cType == kBaseCDouble                      ? 8
                        : cType == kBaseCWChar                       ? settings.wideTermWidth
                                                                     : 1;
        int64_t* lengthPtr = apd->indicatorPtr != nullptr ? apd->indicatorPtr : apd->octetLengthPtr;
        BaseOutString o(apd->dataPtr, apd->octetLength, lengthPtr, nullptr);
        rc = o.setNull(count);
    } else {
        KaErrorList* list = KaErrorCurrentList();
        const size_t before = list != nullptr ? list->recordCount() : 0;
        int64_t* lengthPtr =
            apd->octetLengthPtr != nullptr ? apd->octetLengthPtr : apd->indicatorPtr;
        int64_t* flagPtr = apd->indicatorPtr != lengthPtr ? apd->indicatorPtr : nullptr;
        BaseOutString o(apd->dataPtr, apd->octetLength, lengthPtr, flagPtr);
        const int16_t sqlType = ipdRec->conciseType;
        int64_t size = baseIsVarLengthType(sqlType) ? static_cast<int64_t>(ipdRec->length)
                                                    : ipdRec->precision;
        rc = baseConvertSqlToC(stmt, sqlType, size, ipdRec->scale, ipdRec->isUnsigned(), cType, &o,
                               value, length, srcKind, ipdRec->codePage, nullptr);
        stmt->annotateParamRowErrors(before, list, static_cast<uint64_t>(row) + 1);
    }
    apd->removeBindOffset(rowSize, row);
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
