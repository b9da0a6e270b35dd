// C-to-SQL parameter conversion: the application's value is read by its C
// type (with the validity checks of dates, times and binary images), then
// converted by the rules of the SQL type into the value kind the caller
// sends. Every write into the target is bounded by the target size.
#include "convert/paramcvt.h"

#include <cstring>

#include "convert/basediag.h"
#include "convert/datetime.h"
#include "convert/guid.h"
#include "convert/textcvt.h"
#include "foundation/kaencode.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/numtext.h"
#include "kamessages.h"

namespace {

// A value read from the application, or derived from it on the way.
struct Value {
    int32_t kind;
    const void* ptr;
    int64_t len;
    int64_t cp;
};

// An interval structure travels under this private kind.
constexpr int32_t kKindIntervalStruct = -2;
// Text limits of the final step: reals, doubles, other values.
constexpr int64_t kRealTextLimit = 13;
constexpr int64_t kDoubleTextLimit = 22;
constexpr int64_t kOtherTextLimit = 256;
// Fraction digits of date and time text written for a character column.
constexpr int16_t kFullFractionDigits = 9;
// Characters of a time text that are the time part of a timestamp text.
constexpr int64_t kTimePartOffset = 11;
constexpr int64_t kTimePartLength = 8;
constexpr int64_t kDateTextLength = 10;
constexpr int64_t kLongTimeText = 18;
// Room for a value converted on the way to its final kind.
constexpr int64_t kWorkText = 1100;
// Bytes turned into hexadecimal text (or back) at a time.
constexpr int64_t kHexWorkChunk = 256;

struct Work {
    BaseDecimal decimal;
    BaseDecimal decimal2;
    BaseDecimal result;
    alignas(8) uint8_t fixed[32];
    alignas(8) uint8_t fixed2[32];
    BaseInterval interval;
    char text[kWorkText];
    char text2[kWorkText];
};

struct Ctx {
    const BaseConvertContext* cvt;
    BaseConvertSettings settings;
    uint32_t flags;
    int16_t cType;
    int64_t size;
    int16_t scale;
    bool unsignedFlag;
    int16_t sqlType;
    int32_t dstKind;
    int64_t dstCp;
    uint8_t* dst;
    int64_t* produced;
    int64_t dstSize;
    uint16_t param;
};

bool inRange(int32_t v, int32_t lo, int32_t hi) noexcept
{
    return v >= lo && v <= hi;
}

int64_t absCp(int64_t cp) noexcept
{
    return cp < 0 ? -cp : cp;
}

bool isUtf16(int64_t cp) noexcept
{
    return baseIsUtf16CodePage(cp);
}

bool isNarrowCharSql(const Ctx& c, int16_t t) noexcept
{
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR ||
           (c.settings.graphicAsChar && baseIsGraphicType(t));
}

bool isWideCharSql(int16_t t) noexcept
{
    return inRange(t, SQL_WLONGVARCHAR, SQL_WCHAR);
}

bool isCharSql(const Ctx& c, int16_t t) noexcept
{
    return isNarrowCharSql(c, t) || isWideCharSql(t);
}

bool odbc3(const Ctx& c) noexcept
{
    return !c.settings.odbc2;
}

int16_t errGeneral() noexcept
{
    baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
    return 1;
}

int16_t errDoesNotFit() noexcept
{
    baseCvtPostErrorMsg(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE, MSG_VALUE_DOES_NOT_FIT);
    return 1;
}

int16_t errImage(int64_t imageBytes, int64_t srcLength) noexcept
{
    baseCvtPostErrorMsg(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE, MSG_BINARY_IMAGE_LENGTH)
        ->addParamSigned(imageBytes)
        ->addParamSigned(srcLength);
    return 1;
}

// Data longer than the column: an error for ODBC 3, a warning for ODBC 2.
// Returns 1 when the call is to fail.
int16_t rightTruncation(const Ctx& c, bool failAlways) noexcept
{
    if (odbc3(c)) {
        baseCvtPostError(MSG_SQLSTATE_STRING_TRUNCATION);
        return 1;
    }
    baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
    return failAlways ? 1 : 0;
}

// Terminator bytes of a text target when the caller takes no length.
int64_t termRoom(const Ctx& c) noexcept
{
    if (c.produced != nullptr || c.dstKind != kBaseKindText)
        return 0;
    return isUtf16(absCp(c.dstCp)) ? 2 : 1;
}

// Room for the text of a text target.
int64_t textRoom(const Ctx& c) noexcept
{
    int64_t room = c.dstSize - termRoom(c);
    return room > 0 ? room : 0;
}

int16_t finish(const Ctx& c, int64_t length) noexcept
{
    if (c.produced != nullptr) {
        *c.produced = length;
        return 0;
    }
    int64_t term = termRoom(c);
    if (term > 0 && length + term <= c.dstSize)
        std::memset(c.dst + length, 0, static_cast<size_t>(term));
    return 0;
}

// A non-text result held in work space goes into the target when it fits.
int16_t storeFixed(const Ctx& c, const void* value, int64_t length) noexcept
{
    if (length > c.dstSize)
        return errDoesNotFit();
    if (length > 0)
        std::memcpy(c.dst, value, static_cast<size_t>(length));
    return finish(c, length);
}

int32_t sqlKindOf(const Ctx& c) noexcept
{
    switch (c.sqlType) {
    case SQL_INTEGER: return c.unsignedFlag ? kBaseKindUInteger : kBaseKindInteger;
    case SQL_SMALLINT: return c.unsignedFlag ? kBaseKindUSmallInt : kBaseKindSmallInt;
    case SQL_TINYINT: return c.unsignedFlag ? kBaseKindUTinyInt : kBaseKindTinyInt;
    case SQL_BIGINT: return c.unsignedFlag ? kBaseKindUBigInt : kBaseKindBigInt;
    case SQL_BIT: return kBaseKindBit;
    case SQL_REAL: return kBaseKindReal;
    case SQL_FLOAT:
    case SQL_DOUBLE: return kBaseKindDouble;
    case SQL_TYPE_DATE: return kBaseKindDate;
    case SQL_TYPE_TIME:
        return c.settings.timeWithFraction || c.dstKind == kBaseKindTimeFraction ? kBaseKindTimeFraction
                                                                                 : kBaseKindTime;
    case SQL_TYPE_TIMESTAMP: return kBaseKindTimestamp;
    default: return -1;
    }
}

// ---- Reading the application's value ---------------------------------------

// Invalid date or time structures: 22007, or 22008 for character columns and
// ODBC 2 applications (an invalid date inside a timestamp stays 22007).
int16_t errDateTime(const Ctx& c, bool keep36) noexcept
{
    if (!keep36 && (isCharSql(c, c.sqlType) || !odbc3(c)))
        baseCvtPostError(MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
    else
        baseCvtPostError(MSG_SQLSTATE_INVALID_DATETIME_FORMAT);
    return 1;
}

bool timeValid(const Ctx& c, uint32_t hour, uint32_t minute, uint32_t second) noexcept
{
    const uint32_t highest = c.settings.leapSecond ? 61 : 59;
    if (hour == 24 && minute == 0 && second == 0)
        return c.settings.allowTime24;
    return hour < 24 && minute <= 59 && second <= highest;
}

int16_t checkDate(const Ctx& c, int32_t y, int32_t m, int32_t d, bool inTimestamp) noexcept
{
    if (baseCheckDate(y, m, d, c.settings.negativeYears) == 0)
        return 0;
    // baseCheckDate posted 22007; some callers report 22008 instead.
    if (!inTimestamp && (isCharSql(c, c.sqlType) || !odbc3(c))) {
        KaErrorDiscardLast();
        baseCvtPostError(MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
    }
    return 1;
}

int16_t readNumeric(const Ctx& c, const void* src, int64_t srcLength, Value* v, Work* w) noexcept
{
    (void)srcLength;
    BaseNumeric num;
    std::memcpy(&num, src, sizeof num);
    int32_t scale = num.scale;
    // A parameter's scale is the one its application record states.
    if (c.cvt->hasAppRecord)
        scale = c.cvt->appScale;
    char digits[kBaseU128TextSize];
    int32_t n = baseNumericValToText(num.val, digits);
    if (n > 0 && digits[n - 1] == 0)
        --n;
    BaseDecimal& d = w->decimal;
    std::memset(&d, 0, kBaseDecimalHeader);
    if (n <= 0 || (n == 1 && digits[0] == '0')) {
        d.exponent = 1;
        d.digitCount = 1;
        d.digits[0] = '0';
    } else {
        int32_t exponent = n - scale;
        while (n > 1 && digits[n - 1] == '0')
            --n;
        if (exponent > INT16_MAX || exponent < INT16_MIN)
            return errDoesNotFit();
        d.exponent = static_cast<int16_t>(exponent);
        d.digitCount = static_cast<uint16_t>(n);
        d.negative = num.sign == 0 ? 1 : 0;
        std::memcpy(d.digits, digits, static_cast<size_t>(n));
    }
    *v = {kBaseKindDecimal, &d, kBaseDecimalHeader + d.digitCount, 0};
    return 0;
}

// The excess of a value beyond `limit` bytes is all `blank` units.
bool excessIs(const uint8_t* p, int64_t length, int64_t limit, int64_t cp, uint32_t blank) noexcept
{
    int64_t unit = baseCodePageUnitWidth(absCp(cp));
    for (int64_t i = limit; i + unit <= length; i += unit) {
        uint32_t u = 0;
        if (unit == 1)
            u = p[i];
        else if (cp == kCodePageUtf16BE)
            u = static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
        else
            u = static_cast<uint32_t>(p[i] | p[i + 1] << 8);
        if (u != blank)
            return false;
    }
    return true;
}

uint32_t blankOf(int64_t cp) noexcept
{
    return cp < 0 ? 0x40 : 0x20;
}

// The single field of an interval of code 1 to 6 as decimal text into out
// (kBaseIntervalTextSize bytes); returns its length.
int64_t intervalFieldText(const BaseInterval& in, int32_t code, char* out) noexcept
{
    uint64_t value = 0;
    uint32_t fraction = 0;
    switch (code) {
    case kBaseIntervalYear: value = in.fields.yearMonth.year; break;
    case kBaseIntervalMonth: value = in.fields.yearMonth.month; break;
    case kBaseIntervalDay: value = in.fields.daySecond.day; break;
    case kBaseIntervalHour: value = in.fields.daySecond.hour; break;
    case kBaseIntervalMinute: value = in.fields.daySecond.minute; break;
    default:
        value = in.fields.daySecond.second;
        fraction = in.fields.daySecond.fraction;
        break;
    }
    int64_t n = 0;
    if (in.sign == 1)
        out[n++] = '-';
    n += static_cast<int64_t>(u64ToText(out + n, value));
    if (fraction != 0) {
        out[n++] = '.';
        baseFormatFraction(out + n, fraction);
        n += 9;
    }
    out[n] = 0;
    return n;
}

// SQL_C_BINARY data read as the image of the SQL type.
int16_t readBinary(Ctx& c, const void* src, int64_t srcLength, Value* v, Work* w) noexcept
{
    if (baseConvertHook(c.settings, c.sqlType) != 0) {
        if (srcLength > c.dstSize ||
            (srcLength < c.dstSize && !baseIsVarLengthType(c.sqlType) && c.dstKind != kBaseKindDecimal))
            return errImage(c.dstSize, srcLength);
        if (srcLength > 0)
            std::memcpy(c.dst, src, static_cast<size_t>(srcLength));
        v->kind = -1;  // already delivered
        v->len = srcLength;
        return 0;
    }
    int32_t kind = -1;
    int64_t image = 0;
    switch (c.sqlType) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        kind = kBaseKindPacked;
        image = c.size / 2 + 1;
        break;
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
        kind = sqlKindOf(c);
        image = baseKindSize(kind);
        break;
    case SQL_TYPE_TIME:
        kind = kBaseKindTime;
        image = 6;
        break;
    case SQL_BIT:
        kind = kBaseKindBit;
        image = 1;
        break;
    case SQL_GUID:
        kind = kBaseKindGuid;
        image = kBaseGuidSize;
        break;
    default:
        // The image of an interval is its interval structure.
        if (baseIntervalCodeOfSqlType(c.sqlType) != 0) {
            if (srcLength != kBaseIntervalSize)
                return errImage(kBaseIntervalSize, srcLength);
            std::memcpy(&w->interval, src, sizeof w->interval);
            if (w->interval.code < kBaseIntervalYear || w->interval.code > kBaseIntervalMinuteToSecond)
                w->interval.code = baseIntervalCodeOfSqlType(c.sqlType);
            *v = {kKindIntervalStruct, &w->interval, kBaseIntervalSize, 0};
            return 0;
        }
        break;
    }
    if (kind >= 0) {
        if (srcLength > image ||
            (srcLength < image && !baseIsVarLengthType(c.sqlType) && c.dstKind != kBaseKindDecimal))
            return errImage(image, srcLength);
        *v = {kind, src, srcLength, 0};
        return 0;
    }
    // Character and binary columns (and types without an image): the bytes.
    const bool text = isCharSql(c, c.sqlType);
    const bool excessOk = text ? c.settings.blankExcess : c.settings.zeroExcess;
    int64_t limit = c.dstKind == kBaseKindText ? textRoom(c) : c.dstSize;
    if (!excessOk && c.size > 0 && c.size < limit)
        limit = c.size * (text && c.dstKind == kBaseKindText ? baseCodePageUnitWidth(absCp(c.dstCp)) : 1);
    if (limit > c.dstSize)
        limit = c.dstSize;
    int64_t length = srcLength;
    if (length > limit) {
        const auto* p = static_cast<const uint8_t*>(src);
        bool excessBlank = excessOk && (text ? excessIs(p, srcLength, limit, c.dstCp, blankOf(c.dstCp))
                                             : excessIs(p, srcLength, limit, 1, 0));
        if (!excessBlank && rightTruncation(c, false) != 0)
            return 1;
        length = limit;
    }
    *v = {text ? kBaseKindText : kBaseKindBinary, src, length, text ? c.dstCp : 0};
    return 0;
}

int16_t readAppValue(Ctx& c, const void* src, int64_t srcLength, Value* v, Work* w) noexcept
{
    switch (c.cType) {
    case SQL_C_CHAR: *v = {kBaseKindText, src, srcLength, c.cvt->charCodePage}; return 0;
    case SQL_C_WCHAR: *v = {kBaseKindText, src, srcLength, c.settings.wideCodePage}; return 0;
    case SQL_C_GUID: *v = {kBaseKindGuid, src, kBaseGuidSize, 0}; return 0;
    case SQL_C_NUMERIC: return readNumeric(c, src, srcLength, v, w);
    case SQL_C_BINARY: return readBinary(c, src, srcLength, v, w);
    case SQL_C_TYPE_DATE: {
        BaseDate d;
        std::memcpy(&d, src, sizeof d);
        if (checkDate(c, d.year, d.month, d.day, false) != 0)
            return 1;
        *v = {kBaseKindDate, src, kBaseDateSize, 0};
        return 0;
    }
    case SQL_C_TYPE_TIME: {
        BaseTime t;
        std::memcpy(&t, src, sizeof t);
        if (!timeValid(c, t.hour, t.minute, t.second))
            return errDateTime(c, false);
        *v = {kBaseKindTime, src, 6, 0};
        return 0;
    }
    case SQL_C_TYPE_TIMESTAMP: {
        BaseTimestamp ts;
        std::memcpy(&ts, src, sizeof ts);
        if (checkDate(c, ts.year, ts.month, ts.day, true) != 0)
            return 1;
        if (!timeValid(c, ts.hour, ts.minute, ts.second) || ts.fraction > 999999999u)
            return errDateTime(c, false);
        *v = {kBaseKindTimestamp, src, kBaseTimestampSize, 0};
        return 0;
    }
    default: break;
    }
    if (inRange(c.cType, SQL_C_INTERVAL_YEAR, SQL_C_INTERVAL_MINUTE_TO_SECOND)) {
        const int32_t code = baseIntervalCodeOfCType(c.cType);
        std::memcpy(&w->interval, src, sizeof w->interval);
        w->interval.code = code;
        const bool exactNumeric = c.sqlType == SQL_TINYINT || c.sqlType == SQL_SMALLINT || c.sqlType == SQL_INTEGER ||
                                  c.sqlType == SQL_BIGINT || c.sqlType == SQL_DECIMAL || c.sqlType == SQL_NUMERIC;
        if (exactNumeric && code <= kBaseIntervalSecond) {
            // A number column takes the value of the single field, not the
            // interval literal, which is no number.
            *v = {kBaseKindText, w->text, intervalFieldText(w->interval, code, w->text), kCodePageUtf8};
        } else if (isCharSql(c, c.sqlType) || exactNumeric) {
            int64_t len = 0;
            if (baseFormatInterval(code, &w->interval, w->text, &len, c.size, c.scale) != 0)
                return 1;
            *v = {kBaseKindText, w->text, len, kCodePageUtf8};
        } else {
            *v = {kKindIntervalStruct, &w->interval, kBaseIntervalSize, 0};
        }
        return 0;
    }
    int32_t kind = baseKindOfCType(c.cType, c.unsignedFlag);
    if (kind < 0)
        return errGeneral();
    *v = {kind, src, baseKindSize(kind), 0};
    return 0;
}

// ---- Into the target kind --------------------------------------------------------------

// The number engine into the target kind.
int16_t finalStep(const Ctx& c, const Value& v, Work* w) noexcept
{
    int64_t produced = 0;
    if (c.dstKind == kBaseKindText) {
        int64_t limit = v.kind == kBaseKindReal     ? kRealTextLimit
                        : v.kind == kBaseKindDouble ? kDoubleTextLimit
                                                    : kOtherTextLimit;
        if (absCp(c.dstCp) == kCodePageUtf16LE)
            limit *= 2;
        int64_t room = textRoom(c);
        if (room > limit && (v.kind == kBaseKindReal || v.kind == kBaseKindDouble))
            room = limit;
        if (baseConvertNumeric(c.cvt, v.kind, v.cp, v.ptr, v.len, kBaseKindText, c.dstCp, c.dst, &produced, room,
                               c.scale, kBaseTruncStrict, c.flags) != 0)
            return 1;
        return finish(c, produced);
    }
    void* target = w->fixed2;
    // A decimal column of unknown precision takes every digit it is given.
    int64_t maxLength = c.size > 0 || c.dstKind != kBaseKindDecimal ? c.size : kBaseMaxDigits;
    if (c.dstKind == kBaseKindDecimal) {
        // The target header carries the keep-all-digits flag in.
        target = &w->result;
        std::memset(&w->result, 0, kBaseDecimalHeader);
        if (c.dstSize >= kBaseDecimalHeader)
            std::memcpy(&w->result, c.dst, kBaseDecimalHeader);
    } else if (c.dstKind == kBaseKindPacked) {
        if (c.size < 1 || (c.size + 2) / 2 > static_cast<int64_t>(sizeof w->text2))
            return errDoesNotFit();
        target = w->text2;
    } else if (baseKindSize(c.dstKind) == 0) {
        return errGeneral();
    }
    if (baseConvertNumeric(c.cvt, v.kind, v.cp, v.ptr, v.len, c.dstKind, 0, target, &produced, maxLength, c.scale,
                           kBaseTruncStrict, c.flags) != 0)
        return 1;
    return storeFixed(c, target, produced);
}

// Text that holds two apostrophes stands for what is between the first two.
void betweenApostrophes(Value* v) noexcept
{
    int64_t unit = baseCodePageUnitWidth(absCp(v->cp));
    const auto* p = static_cast<const uint8_t*>(v->ptr);
    int64_t first = -1;
    for (int64_t i = 0; i + unit <= v->len; i += unit) {
        uint32_t u = unit == 2 ? static_cast<uint32_t>(p[i] | p[i + 1] << 8) : p[i];
        if (u != '\'' || (unit == 1 && v->cp < 0))
            continue;
        if (first < 0) {
            first = i;
        } else {
            v->ptr = p + first + unit;
            v->len = i - first - unit;
            return;
        }
    }
}

bool unsupportedWide(const Value& v) noexcept
{
    int64_t cp = absCp(v.cp);
    return (isUtf16(cp) && cp != kCodePageUtf16LE) || baseIsUtf32CodePage(cp);
}

// Text copied into the text target with the code-page conversion; the
// result length in *length. Returns 1 on failure.
int16_t copyTextInto(const Ctx& c, const Value& v, int64_t limit, bool* truncated, int64_t* length) noexcept
{
    int32_t cut = 0;
    *length = 0;
    if (baseConvertText(v.cp, v.ptr, v.len, c.dstCp, c.dst, limit, length, &cut, baseConvertCache(c.cvt),
                        c.settings.blankExcess ? 1 : 0) != 0)
        return 1;
    *truncated = cut != 0;
    return 0;
}

// ASCII text written into the text target in its code page.
int16_t putAsciiText(const Ctx& c, const char* text, int64_t n, int64_t* length, bool* truncated) noexcept
{
    Value v{kBaseKindText, text, n, kCodePageUtf8};
    return copyTextInto(c, v, textRoom(c), truncated, length);
}

int16_t dateTimeRule(Ctx& c, Value v, Work* w) noexcept
{
    int32_t sqlKind = sqlKindOf(c);
    if (v.kind == kBaseKindText) {
        if (unsupportedWide(v))
            return errGeneral();
        betweenApostrophes(&v);
        int64_t unit = baseCodePageUnitWidth(absCp(v.cp));
        if (c.sqlType == SQL_TYPE_DATE && v.len > kDateTextLength * unit)
            v.len = kDateTextLength * unit;
        if (c.sqlType == SQL_TYPE_TIME && v.len > kLongTimeText * unit) {
            v.ptr = static_cast<const uint8_t*>(v.ptr) + kTimePartOffset * unit;
            v.len = kTimePartLength * unit;
        }
    }
    const int32_t highest = c.settings.leapSecond ? 61 : 59;
    if (v.kind != sqlKind && c.dstKind != sqlKind) {
        int64_t len = 0;
        if (baseConvertToChar(c.cvt, v.kind, v.cp, v.ptr, v.len, sqlKind, 0, w->fixed, &len, sizeof w->fixed, c.scale,
                              kBaseTruncStrict, highest, c.settings.negativeYears, c.flags) != 0)
            return 1;
        v = {sqlKind, w->fixed, len, 0};
    }
    if (inRange(c.dstKind, kBaseKindInteger, kBaseKindDouble))
        return finalStep(c, v, w);
    int64_t produced = 0;
    if (c.dstKind == kBaseKindText) {
        int64_t room = textRoom(c);
        if (room > kOtherTextLimit)
            room = kOtherTextLimit;
        if (baseConvertToChar(c.cvt, v.kind, v.cp, v.ptr, v.len, kBaseKindText, c.dstCp, c.dst, &produced, room,
                              c.scale, kBaseTruncStrict, highest, c.settings.negativeYears, c.flags) != 0)
            return 1;
        return finish(c, produced);
    }
    if (baseKindSize(c.dstKind) == 0)
        return errGeneral();
    if (baseConvertToChar(c.cvt, v.kind, v.cp, v.ptr, v.len, c.dstKind, 0, w->fixed2, &produced, sizeof w->fixed2,
                          c.scale, kBaseTruncStrict, highest, c.settings.negativeYears, c.flags) != 0)
        return 1;
    return storeFixed(c, w->fixed2, produced);
}

int16_t intervalRule(Ctx& c, Value v, Work* w) noexcept
{
    if (baseIntervalCodeOfSqlType(c.sqlType) <= kBaseIntervalSecond &&
        (v.kind == kBaseKindPacked || v.kind == kBaseKindDecimal))
        return finalStep(c, v, w);
    if (v.kind == kBaseKindText) {
        if (unsupportedWide(v))
            return errGeneral();
        betweenApostrophes(&v);
        if (c.dstKind != kBaseKindText) {
            if (v.len > c.dstSize)
                return rightTruncation(c, true);
            return storeFixed(c, v.ptr, v.len);
        }
        bool truncated = false;
        int64_t length = 0;
        if (copyTextInto(c, v, textRoom(c), &truncated, &length) != 0)
            return 1;
        if (truncated && rightTruncation(c, true) != 0)
            return 1;
        return finish(c, length);
    }
    if (inRange(v.kind, kBaseKindTinyInt, kBaseKindUBigInt) || v.kind == kBaseKindDouble)
        return finalStep(c, v, w);
    if (v.kind == kKindIntervalStruct) {
        const auto* in = static_cast<const BaseInterval*>(v.ptr);
        const int32_t toCode = baseIntervalCodeOfSqlType(c.sqlType);
        BaseInterval converted = *in;
        if (in->code != toCode && baseConvertInterval(in->code, in, toCode, &converted) != 0) {
            baseCvtPostErrorMsg(MSG_SQLSTATE_RESTRICTED_DATA_TYPE, MSG_C_TO_SQL_REFUSED)
                ->addParamUnsigned(c.param)
                ->addParamSigned(c.cType)
                ->addParamSigned(c.sqlType);
            return 1;
        }
        int64_t len = 0;
        if (baseFormatInterval(toCode, &converted, w->text2, &len, c.size, c.scale) != 0)
            return 1;
        if (c.dstKind != kBaseKindText)
            return storeFixed(c, w->text2, len);
        bool truncated = false;
        int64_t length = 0;
        if (putAsciiText(c, w->text2, len, &length, &truncated) != 0)
            return 1;
        if (truncated && rightTruncation(c, true) != 0)
            return 1;
        return finish(c, length);
    }
    return errGeneral();
}

// Room of text written for a character column: the column size in
// characters when it is known, never more than the target.
int64_t columnTextRoom(const Ctx& c, bool doubleForDates) noexcept
{
    int64_t room = textRoom(c);
    if (c.size > 0) {
        int64_t unit = baseCodePageUnitWidth(absCp(c.dstCp));
        int64_t chars = c.size;
        if (doubleForDates && c.settings.columnSizeAsCharacter && unit == 1)
            chars *= 2;
        if (chars <= room / unit)
            room = chars * unit;
    }
    return room;
}

int16_t characterRule(Ctx& c, const Value& v, Work* w, bool wide) noexcept
{
    if (v.kind == kBaseKindText) {
        if (inRange(c.dstKind, kBaseKindTinyInt, kBaseKindUBigInt) || c.dstKind == kBaseKindReal ||
            c.dstKind == kBaseKindDouble)
            return finalStep(c, v, w);
        if (c.dstKind != kBaseKindText) {
            if (v.len > c.dstSize && rightTruncation(c, true) != 0)
                return 1;
            return storeFixed(c, v.ptr, v.len);
        }
        if (c.cType == SQL_C_BINARY) {
            if (v.len > textRoom(c))
                return rightTruncation(c, true);
            if (v.len > 0)
                std::memcpy(c.dst, v.ptr, static_cast<size_t>(v.len));
            return finish(c, v.len);
        }
        int64_t limit = textRoom(c);
        if (!c.settings.columnSizeAsCharacter && c.size > 0 && c.size < limit)
            limit = c.size;
        bool truncated = false;
        int64_t length = 0;
        if (copyTextInto(c, v, limit, &truncated, &length) != 0)
            return 1;
        if (truncated && rightTruncation(c, false) != 0)
            return 1;
        return finish(c, length);
    }
    if (c.dstKind != kBaseKindText)
        return finalStep(c, v, w);
    const bool direct = !wide || (c.dstCp >= 0 && !baseIsUtf32CodePage(c.dstCp));
    int64_t produced = 0;
    if (inRange(v.kind, kBaseKindBit, kBaseKindDouble)) {
        if (wide && v.kind == kBaseKindPacked)
            return errGeneral();
        if (direct) {
            if (baseConvertNumeric(c.cvt, v.kind, v.cp, v.ptr, v.len, kBaseKindText, c.dstCp, c.dst, &produced,
                                   columnTextRoom(c, false), c.scale, kBaseTruncStrict, c.flags) != 0)
                return 1;
            return finish(c, produced);
        }
        if (baseConvertNumeric(c.cvt, v.kind, v.cp, v.ptr, v.len, kBaseKindText, kCodePageUtf8, w->text, &produced,
                               sizeof w->text, c.scale, kBaseTruncStrict, c.flags) != 0)
            return 1;
    } else if ((v.kind >= kBaseKindDate && v.kind <= kBaseKindTimestamp) || v.kind == kBaseKindTimeFraction) {
        const int32_t highest = c.settings.leapSecond ? 61 : 59;
        if (direct) {
            if (baseConvertToChar(c.cvt, v.kind, 0, v.ptr, v.len, kBaseKindText, c.dstCp, c.dst, &produced,
                                  columnTextRoom(c, true), kFullFractionDigits, kBaseTruncStrict, highest,
                                  c.settings.negativeYears, c.flags) != 0)
                return 1;
            return finish(c, produced);
        }
        if (baseConvertToChar(c.cvt, v.kind, 0, v.ptr, v.len, kBaseKindText, kCodePageUtf8, w->text, &produced,
                              sizeof w->text, kFullFractionDigits, kBaseTruncStrict, highest, c.settings.negativeYears,
                              c.flags) != 0)
            return 1;
    } else if (v.kind == kBaseKindGuid) {
        BaseGuid guid;
        std::memcpy(&guid, v.ptr, sizeof guid);
        if (baseFormatGuid(&guid, w->text) != 0)
            return 1;
        produced = kBaseGuidTextLength;
        if (direct && textRoom(c) < kBaseGuidTextLength * baseCodePageUnitWidth(absCp(c.dstCp)))
            return rightTruncation(c, true);
    } else {
        return errGeneral();
    }
    // Text built in UTF-8, converted into the target as the character rule
    // converts text.
    bool truncated = false;
    int64_t length = 0;
    Value text{kBaseKindText, w->text, produced, kCodePageUtf8};
    if (copyTextInto(c, text, textRoom(c), &truncated, &length) != 0)
        return 1;
    if (truncated && rightTruncation(c, false) != 0)
        return 1;
    return finish(c, length);
}

int16_t guidRule(Ctx& c, const Value& v, Work* w) noexcept
{
    if (v.kind == kBaseKindText) {
        if (c.dstKind == kBaseKindGuid) {
            BaseGuid guid;
            int16_t rc = absCp(v.cp) == kCodePageUtf16LE
                             ? baseParseGuidW(static_cast<const uint16_t*>(v.ptr), v.len / 2, &guid)
                             : baseParseGuid(static_cast<const char*>(v.ptr), v.len, &guid);
            if (rc != 0)
                return 1;
            return storeFixed(c, &guid, kBaseGuidSize);
        }
        if (c.dstKind != kBaseKindText)
            return errGeneral();
        // The application's text may be in another code page than the target's.
        bool truncated = false;
        int64_t length = 0;
        if (copyTextInto(c, v, textRoom(c), &truncated, &length) != 0)
            return 1;
        if (truncated)
            return rightTruncation(c, true);
        return finish(c, length);
    }
    if (v.kind != kBaseKindGuid)
        return errGeneral();
    if (c.dstKind == kBaseKindGuid)
        return storeFixed(c, v.ptr, kBaseGuidSize);
    if (c.dstKind != kBaseKindText)
        return errGeneral();
    BaseGuid guid;
    std::memcpy(&guid, v.ptr, sizeof guid);
    if (baseFormatGuid(&guid, w->text) != 0)
        return 1;
    bool truncated = false;
    int64_t length = 0;
    if (putAsciiText(c, w->text, kBaseGuidTextLength, &length, &truncated) != 0)
        return 1;
    if (truncated)
        return rightTruncation(c, true);
    return finish(c, length);
}

// Upper-case hexadecimal text of `count` bytes into the text target after
// `*written` bytes.
int16_t emitHex(const Ctx& c, const uint8_t* bytes, int64_t count, int64_t* written) noexcept
{
    static const char kHex[] = "0123456789ABCDEF";
    for (int64_t done = 0; done < count;) {
        int64_t n = count - done < kHexWorkChunk ? count - done : kHexWorkChunk;
        char chunk[2 * kHexWorkChunk];
        for (int64_t i = 0; i < n; ++i) {
            chunk[2 * i] = kHex[bytes[done + i] >> 4];
            chunk[2 * i + 1] = kHex[bytes[done + i] & 0xF];
        }
        Ctx part = c;
        part.dst = c.dst + *written;
        part.dstSize = c.dstSize - *written;
        part.produced = written;  // parts take no terminator
        bool truncated = false;
        int64_t length = 0;
        if (putAsciiText(part, chunk, 2 * n, &length, &truncated) != 0)
            return 1;
        if (truncated)
            return rightTruncation(c, true);
        *written += length;
        done += n;
    }
    return 0;
}

// Decodes `digits` hexadecimal digits of text in 1-byte or UTF-16LE units,
// starting at digit `first`, into out; a bad digit is 22018.
int16_t decodeHex(const uint8_t* text, int64_t unit, int64_t first, int64_t digits, uint8_t* out) noexcept
{
    int rc = 0;
    if (unit == 1) {
        rc = unhexify(out, reinterpret_cast<const char*>(text) + first, static_cast<size_t>(digits));
    } else {
        uint16_t units[2 * kHexWorkChunk];
        for (int64_t done = 0; rc == 0 && done < digits;) {
            int64_t n = digits - done < 2 * kHexWorkChunk ? digits - done : 2 * kHexWorkChunk;
            const uint8_t* p = text + 2 * (first + done);
            for (int64_t i = 0; i < n; ++i)
                units[i] = static_cast<uint16_t>(p[2 * i] | p[2 * i + 1] << 8);
            rc = unhexifyW(out + done / 2, units, static_cast<size_t>(n));
            done += n;
        }
    }
    if (rc == 0)
        return 0;
    KaErrorList* list = KaErrorCurrentList();
    KaError* last = list != nullptr ? list->last() : nullptr;
    if (last != nullptr)
        last->setSqlstateMsg(MSG_SQLSTATE_INVALID_CAST);
    return 1;
}

int16_t binaryRule(Ctx& c, const Value& v) noexcept
{
    const int64_t limit = c.size > 0 ? c.size : INT64_MAX;
    const int64_t outUnit = baseCodePageUnitWidth(absCp(c.dstCp));
    int64_t written = 0;
    if (v.kind == kBaseKindText) {
        const int64_t unit = absCp(v.cp) == kCodePageUtf16LE ? 2 : 1;
        const auto* p = static_cast<const uint8_t*>(v.ptr);
        int64_t digits = v.len / unit;
        int64_t need = (digits + 1) / 2;
        if (need > limit) {
            bool zeros = c.settings.zeroExcess;
            for (int64_t i = 2 * limit; zeros && i < digits; ++i)
                zeros = p[i * unit] == '0' && (unit == 1 || p[i * unit + 1] == 0);
            if (!zeros && rightTruncation(c, false) != 0)
                return 1;
            digits = 2 * limit;
            need = limit;
        }
        if (c.dstKind != kBaseKindText) {
            if (need > c.dstSize)
                return rightTruncation(c, true);
            if (decodeHex(p, unit, 0, digits, c.dst) != 0)
                return 1;
            return finish(c, need);
        }
        if (need > textRoom(c) / (2 * outUnit))
            return rightTruncation(c, true);
        uint8_t bytes[kHexWorkChunk];
        for (int64_t done = 0; done < digits;) {
            int64_t n = digits - done < 2 * kHexWorkChunk ? digits - done : 2 * kHexWorkChunk;
            if (decodeHex(p, unit, done, n, bytes) != 0)
                return 1;
            if (emitHex(c, bytes, (n + 1) / 2, &written) != 0)
                return 1;
            done += n;
        }
        return finish(c, written);
    }
    const auto* bytes = static_cast<const uint8_t*>(v.ptr);
    int64_t count = v.len;
    if (count > limit) {
        // Zero bytes beyond the column are no loss when the switch says so.
        if (!c.settings.zeroExcess || !excessIs(bytes, count, limit, 1, 0))
            baseCvtPostWarning(MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
        count = limit;
    }
    if (c.dstKind != kBaseKindText) {
        if (count > c.dstSize)
            return rightTruncation(c, true);
        return storeFixed(c, bytes, count);
    }
    if (count > textRoom(c) / (2 * outUnit))
        return rightTruncation(c, true);
    if (emitHex(c, bytes, count, &written) != 0)
        return 1;
    return finish(c, written);
}

}  // namespace

uint32_t baseParamFlags(const BaseConvertSettings& settings) noexcept
{
    return kBaseFlagParam | (settings.odbc2 ? kBaseFlagOdbc2 : kBaseFlagOdbc3);
}

int32_t baseColumnKindOfSqlType(int16_t sqlType, bool unsignedFlag) noexcept
{
    switch (sqlType) {
    case SQL_NUMERIC:
    case SQL_DECIMAL: return kBaseKindDecimal;
    case SQL_INTEGER: return unsignedFlag ? kBaseKindUInteger : kBaseKindInteger;
    case SQL_SMALLINT: return unsignedFlag ? kBaseKindUSmallInt : kBaseKindSmallInt;
    case SQL_FLOAT:
    case SQL_DOUBLE: return kBaseKindDouble;
    case SQL_REAL: return kBaseKindReal;
    case SQL_TYPE_DATE: return kBaseKindDate;
    case SQL_TYPE_TIME: return kBaseKindTime;
    case SQL_TYPE_TIMESTAMP: return kBaseKindTimestamp;
    case SQL_GUID: return kBaseKindGuid;
    case SQL_BIT: return kBaseKindBit;
    case SQL_TINYINT: return unsignedFlag ? kBaseKindUTinyInt : kBaseKindTinyInt;
    case SQL_BIGINT: return unsignedFlag ? kBaseKindUBigInt : kBaseKindBigInt;
    case SQL_LONGVARBINARY:
    case SQL_VARBINARY:
    case SQL_BINARY: return kBaseKindBinary;
    default: return kBaseKindText;
    }
}

int16_t baseCheckCToSql(uint16_t param, int16_t cType, int16_t sqlType) noexcept
{
    const int32_t s = sqlType;
    // Numbers, and the exact numbers among them.
    const bool numberSql = inRange(s, SQL_NUMERIC, SQL_DOUBLE) || inRange(s, SQL_BIT, SQL_BIGINT);
    const bool exactSql = inRange(s, SQL_NUMERIC, SQL_SMALLINT) || s == SQL_TINYINT || s == SQL_BIGINT;
    const bool yearMonthSql = s == SQL_INTERVAL_YEAR || s == SQL_INTERVAL_MONTH || s == SQL_INTERVAL_YEAR_TO_MONTH;
    const bool dayTimeSql = inRange(s, SQL_INTERVAL_DAY, SQL_INTERVAL_SECOND) ||
                            inRange(s, SQL_INTERVAL_DAY_TO_HOUR, SQL_INTERVAL_MINUTE_TO_SECOND);
    bool allowed = false;
    if (baseIsCharacterType(s) || cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY ||
        cType == SQL_C_DEFAULT || s == kBaseSqlVariant) {
        allowed = true;
    } else if (cType == SQL_C_NUMERIC || cType == SQL_C_LONG || cType == SQL_C_SHORT || cType == SQL_C_TINYINT ||
               inRange(cType, SQL_C_UTINYINT, SQL_C_SBIGINT) || inRange(cType, SQL_C_ULONG, SQL_C_SSHORT)) {
        allowed = numberSql || inRange(s, SQL_INTERVAL_YEAR, SQL_INTERVAL_SECOND);
    } else if (cType == SQL_C_FLOAT || cType == SQL_C_DOUBLE || cType == SQL_C_BIT) {
        allowed = numberSql;
    } else if (cType == SQL_C_TYPE_DATE) {
        allowed = s == SQL_TYPE_DATE || s == SQL_TYPE_TIMESTAMP;
    } else if (cType == SQL_C_TYPE_TIME) {
        allowed = s == SQL_TYPE_TIME || s == SQL_TYPE_TIMESTAMP;
    } else if (cType == SQL_C_TYPE_TIMESTAMP) {
        allowed = inRange(s, SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP);
    } else if (cType == SQL_C_INTERVAL_YEAR || cType == SQL_C_INTERVAL_MONTH) {
        allowed = exactSql || yearMonthSql;
    } else if (inRange(cType, SQL_C_INTERVAL_DAY, SQL_C_INTERVAL_SECOND)) {
        allowed = exactSql || dayTimeSql;
    } else if (cType == SQL_C_INTERVAL_YEAR_TO_MONTH) {
        allowed = yearMonthSql;
    } else if (inRange(cType, SQL_C_INTERVAL_DAY_TO_HOUR, SQL_C_INTERVAL_MINUTE_TO_SECOND)) {
        allowed = dayTimeSql;
    } else if (cType == SQL_C_GUID) {
        allowed = s == SQL_GUID;
    }
    if (allowed)
        return 0;
    baseCvtPostErrorMsg(MSG_SQLSTATE_RESTRICTED_DATA_TYPE, MSG_C_TO_SQL_REFUSED)
        ->addParamUnsigned(param)
        ->addParamSigned(cType)
        ->addParamSigned(sqlType);
    return 1;
}

int16_t baseConvertCToSql(const BaseConvertContext& ctx, const void* src, int64_t srcLength, int32_t dstKind, void* dst,
                          int64_t* produced, int64_t dstSize) noexcept
{
    if (dst == nullptr || dstSize < 0 || srcLength < 0 || (src == nullptr && srcLength > 0))
        return errGeneral();
    const int16_t sqlType = ctx.sqlType;
    const int64_t size = ctx.size;
    const int16_t scale = ctx.scale;
    Ctx c;
    c.cvt = &ctx;
    c.settings = ctx.settings;
    c.flags = baseParamFlags(c.settings);
    c.cType = ctx.cType == SQL_C_DEFAULT
                  ? baseDefaultCType(sqlType, (c.settings.workarounds & kBaseWaDescribeWideAsNarrow) != 0)
                  : ctx.cType;
    c.size = size;
    c.scale = scale;
    c.unsignedFlag = ctx.unsignedFlag;
    c.sqlType = sqlType;
    c.dstKind = dstKind;
    c.dstCp = ctx.codePage == 0 ? kCodePageUtf8 : ctx.codePage;
    c.dst = static_cast<uint8_t*>(dst);
    c.produced = produced;
    c.dstSize = dstSize;
    c.param = ctx.param;

    static const uint8_t kNothing[1] = {0};
    if (src == nullptr)
        src = kNothing;
    // Fixed-size C values are read whole whatever length was given.
    int32_t fixedKind = baseKindOfCType(c.cType, c.unsignedFlag);
    int64_t need = fixedKind >= 0                          ? baseKindSize(fixedKind)
                   : c.cType == SQL_C_TYPE_DATE            ? kBaseDateSize
                   : c.cType == SQL_C_TYPE_TIME            ? kBaseDateSize
                   : c.cType == SQL_C_TYPE_TIMESTAMP       ? kBaseTimestampSize
                   : c.cType == SQL_C_GUID                 ? kBaseGuidSize
                   : c.cType == SQL_C_NUMERIC              ? kBaseNumericSize
                   : baseIntervalCodeOfCType(c.cType) != 0 ? kBaseIntervalSize
                                                           : 0;
    if (need > 0 && src == kNothing)
        return errGeneral();

    Work work;
    Work* w = &work;
    Value v{};
    if (readAppValue(c, src, srcLength, &v, w) != 0)
        return 1;
    if (c.cType == SQL_C_BINARY && v.kind == -1)
        return finish(c, v.len);

    switch (sqlType) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        if (dstKind == kBaseKindDecimal) {
            if (dstSize >= kBaseDecimalHeader) {
                BaseDecimal head;
                std::memcpy(&head, c.dst, kBaseDecimalHeader);
                head.keepAllDigits = 0;
                std::memcpy(c.dst, &head, kBaseDecimalHeader);
            }
        } else if (dstKind != kBaseKindPacked) {
            std::memset(&w->decimal2, 0, kBaseDecimalHeader);
            int64_t len = 0;
            if (baseConvertNumeric(&ctx, v.kind, v.cp, v.ptr, v.len, kBaseKindDecimal, 0, &w->decimal2, &len,
                                   size > 0 ? size : kBaseMaxDigits, scale, kBaseTruncStrict, c.flags) != 0)
                return 1;
            v = {kBaseKindDecimal, &w->decimal2, len, 0};
        }
        return finalStep(c, v, w);
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_BIT: {
        int32_t sqlKind = sqlKindOf(c);
        if (v.kind != sqlKind && dstKind != sqlKind) {
            int64_t len = 0;
            if (baseConvertNumeric(&ctx, v.kind, v.cp, v.ptr, v.len, sqlKind, 0, w->fixed, &len, size, scale,
                                   kBaseTruncStrict, c.flags) != 0)
                return 1;
            v = {sqlKind, w->fixed, len, 0};
        }
        return finalStep(c, v, w);
    }
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: {
        if (dstKind == kBaseKindDecimal) {
            if (dstSize >= kBaseDecimalHeader) {
                BaseDecimal head;
                std::memcpy(&head, c.dst, kBaseDecimalHeader);
                head.keepAllDigits = 1;
                std::memcpy(c.dst, &head, kBaseDecimalHeader);
            }
        } else {
            int32_t sqlKind = sqlKindOf(c);
            if (v.kind != sqlKind && dstKind != sqlKind) {
                int64_t len = 0;
                if (baseConvertNumeric(&ctx, v.kind, v.cp, v.ptr, v.len, sqlKind, 0, w->fixed, &len, size, scale,
                                       kBaseTruncStrict, c.flags) != 0)
                    return 1;
                v = {sqlKind, w->fixed, len, 0};
            }
        }
        return finalStep(c, v, w);
    }
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP: return dateTimeRule(c, v, w);
    case SQL_GUID: return guidRule(c, v, w);
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return binaryRule(c, v);
    default: break;
    }
    if (inRange(sqlType, SQL_INTERVAL_YEAR, SQL_INTERVAL_MINUTE_TO_SECOND))
        return intervalRule(c, v, w);
    if (isNarrowCharSql(c, sqlType))
        return characterRule(c, v, w, false);
    if (isWideCharSql(sqlType))
        return characterRule(c, v, w, true);
    return finish(c, 0);
}

int16_t baseConvertParamValue(const BaseConvertContext& ctx, const void* src, int64_t srcLength, int32_t dstKind,
                              void* dst, int64_t dstSize, int64_t* produced) noexcept
{
    return baseConvertCToSql(ctx, src, srcLength, dstKind, dst, produced, dstSize);
}

int16_t baseConvertToColumnType(const BaseConvertContext& ctx, const void* src, int64_t srcLength, void* dst,
                                int32_t* chosenKind, int64_t* produced, int64_t dstSize) noexcept
{
    const int32_t kind = baseColumnKindOfSqlType(ctx.sqlType, ctx.unsignedFlag);
    if (chosenKind != nullptr)
        *chosenKind = kind;
    return baseConvertCToSql(ctx, src, srcLength, kind, dst, produced, dstSize);
}
