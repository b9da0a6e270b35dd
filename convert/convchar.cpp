// SQL-to-C conversion into character buffers: text copies between code
// pages with the long-data pieces of SQLGetData, decimal and floating-point
// text, hexadecimal text of binary data, date and time text and GUID text.
#include "convert/convchar.h"

#include <cstring>

#include "convert/basediag.h"
#include "convert/basestring.h"
#include "convert/datetime.h"
#include "convert/guid.h"
#include "convert/number.h"
#include "convert/textcvt.h"
#include "kamessages.h"

namespace {

enum class Path { None, Text, Decimal, Float, Hex, DateTime, Guid };

// Hexadecimal text of a code page without ASCII digits is built in chunks.
constexpr int64_t kHexChunk = 256;
// Terminators are at most this wide.
constexpr int64_t kMaxTermWidth = 3;
// Characters of GUID text.
constexpr int64_t kGuidChars = kBaseGuidTextLength;
// Minimum buffer of date, time and timestamp text, in characters.
constexpr int64_t kDateChars = 11;
constexpr int64_t kTimeChars = 9;
constexpr int64_t kTimestampChars = 20;

const char kHexDigits[] = "0123456789ABCDEF";

int64_t absCp(int64_t cp) noexcept
{
    return cp < 0 ? -cp : cp;
}

bool isBigEndian(int64_t cp) noexcept
{
    return cp == kCodePageUtf16BE || cp == kCodePageUtf32BE;
}

// One ASCII character as a unit of cp at out (`unit` bytes).
void putUnit(uint8_t* out, char c, int64_t cp, int64_t unit) noexcept
{
    if (unit == 1) {
        out[0] = static_cast<uint8_t>(c);
        return;
    }
    std::memset(out, 0, static_cast<size_t>(unit));
    out[isBigEndian(cp) ? unit - 1 : 0] = static_cast<uint8_t>(c);
}

uint32_t getUnit(const uint8_t* in, int64_t cp, int64_t unit) noexcept
{
    if (unit == 1)
        return in[0];
    uint32_t v = 0;
    if (isBigEndian(cp)) {
        for (int64_t i = 0; i < unit; ++i)
            v = (v << 8) | in[i];
    } else {
        for (int64_t i = unit - 1; i >= 0; --i)
            v = (v << 8) | in[i];
    }
    return v;
}

Path pathOfSqlType(int16_t sqlType, const BaseConvertSettings& settings) noexcept
{
    switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return Path::Text;
    case kBaseSqlGraphic:
    case kBaseSqlVarGraphic:
    case kBaseSqlLongVarGraphic: return settings.graphicAsChar ? Path::Text : Path::None;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_BIGINT:
    case SQL_TINYINT:
    case SQL_BIT: return Path::Decimal;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return Path::Float;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return Path::Hex;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP: return Path::DateTime;
    case SQL_GUID: return Path::Guid;
    default: return sqlType >= SQL_INTERVAL_YEAR && sqlType <= SQL_INTERVAL_MINUTE_TO_SECOND ? Path::Text : Path::None;
    }
}

// The path a value of `kind` takes when its column's type does not fit it.
Path pathOfKind(int32_t kind) noexcept
{
    if (kind == kBaseKindText)
        return Path::Text;
    if (kind == kBaseKindBinary)
        return Path::Hex;
    if (kind >= kBaseKindBit && kind <= kBaseKindDecimal)
        return Path::Decimal;
    if (kind == kBaseKindReal || kind == kBaseKindDouble)
        return Path::Float;
    if ((kind >= kBaseKindDate && kind <= kBaseKindTimestamp) || kind == kBaseKindTimeFraction)
        return Path::DateTime;
    if (kind == kBaseKindGuid)
        return Path::Guid;
    return Path::None;
}

bool isNumberKind(int32_t kind) noexcept
{
    return kind >= kBaseKindBit && kind <= kBaseKindDouble;
}

bool pathTakes(Path path, int32_t kind) noexcept
{
    switch (path) {
    case Path::Text: return kind == kBaseKindText;
    case Path::Decimal:
    case Path::Float: return kind == kBaseKindText || isNumberKind(kind);
    case Path::Hex: return true;
    case Path::DateTime:
        return kind == kBaseKindText || isNumberKind(kind) || (kind >= kBaseKindDate && kind <= kBaseKindTimestamp) ||
               kind == kBaseKindTimeFraction;
    case Path::Guid: return kind == kBaseKindText || kind == kBaseKindGuid;
    case Path::None: return false;
    }
    return false;
}

struct Target {
    int64_t cp;
    int32_t term;       // terminator bytes
    int64_t unit;       // bytes of one character unit
    int64_t available;  // buffer length less the terminator
};

Target targetOf(const BaseConvertContext& ctx) noexcept
{
    const BaseOutString* out = ctx.out;
    Target t;
    t.cp = baseTextTargetCodePage(ctx, ctx.cType);
    t.term = baseTextTargetTermWidth(ctx.cType, ctx.settings);
    t.unit = baseCodePageUnitWidth(absCp(t.cp));
    t.available = out->bufferLength - t.term;
    if (t.available < 0)
        t.available = 0;
    // Text before a two-byte terminator is cut at whole units only.
    if (t.term == 2)
        t.available &= ~int64_t{1};
    return t;
}

// Completion of the number and date texts: length, terminator, 01004.
void complete(BaseOutString* out, const Target& t, int64_t written, int64_t reported) noexcept
{
    baseReportLength(out, reported);
    if (out->buffer == nullptr)
        return;
    if (out->bufferLength > 0 && t.term > 0) {
        int64_t width = t.term < kMaxTermWidth ? t.term : kMaxTermWidth;
        int64_t at = written;
        if (at + width > out->bufferLength)
            at = out->bufferLength - width;
        if (at < 0) {
            at = 0;
            width = out->bufferLength;
        }
        std::memset(static_cast<uint8_t*>(out->buffer) + at, 0, static_cast<size_t>(width));
    }
    if (t.available < reported)
        baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
}

// Where number and date text goes: the buffer, or scratch room when the
// caller wants only the length.
struct Room {
    uint8_t* data;
    int64_t size;
    bool scratch;
};

Room roomOf(BaseOutString* out, const Target& t, uint8_t* scratch) noexcept
{
    if (out->buffer == nullptr)
        return {scratch, kBaseTextScratch, true};
    return {static_cast<uint8_t*>(out->buffer), t.available, false};
}

// Decimal and floating-point text, of at most limitChars characters when
// that is not 0.
int16_t writeNumberText(BaseConvertContext& ctx, const void* src, int64_t srcLength, int32_t srcKind,
                        int64_t limitChars, bool trimZeros) noexcept
{
    BaseOutString* out = ctx.out;
    const Target t = targetOf(ctx);
    uint8_t scratch[kBaseTextScratch];
    Room room = roomOf(out, t, scratch);
    int64_t maxLength = room.size;
    const int64_t limit = limitChars * t.unit;
    const bool limited = limit > 0 && limit <= maxLength;
    if (limited)
        maxLength = limit;
    int64_t produced = 0;
    if (baseConvertNumeric(&ctx, srcKind, ctx.codePage, src, srcLength, kBaseKindText, t.cp, room.data, &produced,
                           maxLength, ctx.scale, kBaseTruncSilent, baseFetchFlags(ctx.settings)) != 0)
        return 1;
    if (limited && produced > limit)
        produced = limit;
    int64_t written = produced < maxLength ? produced : maxLength;
    if (trimZeros && produced <= maxLength) {
        produced = baseRemoveTrailingZeros(room.data, produced, t.cp);
        written = produced;
    }
    if (room.scratch) {
        baseReportLength(out, produced);
        return 0;
    }
    complete(out, t, written, produced);
    return 0;
}

// Date and time text, of the column's type when it has one.
int16_t writeDateTimeText(BaseConvertContext& ctx, const void* src, int64_t srcLength, int32_t srcKind) noexcept
{
    BaseOutString* out = ctx.out;
    const int16_t sqlType = ctx.sqlType;
    const Target t = targetOf(ctx);
    int32_t columnKind = sqlType == SQL_TYPE_DATE        ? kBaseKindDate
                         : sqlType == SQL_TYPE_TIME      ? kBaseKindTime
                         : sqlType == SQL_TYPE_TIMESTAMP ? kBaseKindTimestamp
                                                         : (srcKind == kBaseKindTimeFraction ? kBaseKindTime : srcKind);
    int64_t minChars = columnKind == kBaseKindDate   ? kDateChars
                       : columnKind == kBaseKindTime ? kTimeChars
                                                     : kTimestampChars;
    int64_t charBytes = t.term > 0 ? t.term : t.unit;
    if (out->buffer != nullptr && out->bufferLength < minChars * charBytes) {
        baseCvtPostErrorMsg(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE, MSG_VALUE_DOES_NOT_FIT);
        return 1;
    }
    if (srcKind == kBaseKindText)
        return baseCopyCharacterData(ctx, src, srcLength);

    alignas(8) uint8_t value[kBaseTimestampSize];
    const void* from = src;
    int64_t fromLength = srcLength;
    int32_t fromKind = srcKind;
    bool direct = false;
    if (columnKind == kBaseKindDate)
        direct = srcKind == kBaseKindDate || srcKind == kBaseKindTimestamp;
    else if (columnKind == kBaseKindTime)
        direct = srcKind == kBaseKindTime || srcKind == kBaseKindTimestamp || srcKind == kBaseKindTimeFraction;
    else if (columnKind == kBaseKindTimestamp)
        direct = srcKind == kBaseKindTimestamp;
    if (!direct) {
        if (baseConvertNumeric(&ctx, srcKind, ctx.codePage, src, srcLength, columnKind, 0, value, &fromLength, 0,
                               ctx.scale, kBaseTruncWarn, baseFetchFlags(ctx.settings)) != 0)
            return 1;
        from = value;
        fromKind = columnKind;
    }
    uint8_t scratch[kBaseTextScratch];
    Room room = roomOf(out, t, scratch);
    int64_t produced = 0;
    if (baseConvertToChar(&ctx, fromKind, 0, from, fromLength, kBaseKindText, t.cp, room.data, &produced, room.size,
                          ctx.scale, kBaseTruncSilent, ctx.settings.leapSecond ? 61 : 59, ctx.settings.negativeYears,
                          baseFetchFlags(ctx.settings)) != 0)
        return 1;
    if (room.scratch) {
        baseReportLength(out, produced);
        return 0;
    }
    complete(out, t, produced < room.size ? produced : room.size, produced);
    return 0;
}

// Writes n ASCII characters as text of the target code page; returns the
// bytes written, or -1 after a posted conversion failure.
int64_t putAscii(const BaseConvertContext& ctx, const Target& t, const char* text, int64_t n, uint8_t* out) noexcept
{
    if (t.cp < 0) {
        int64_t produced = 0;
        int32_t truncated = 0;
        if (baseConvertText(kCodePageUtf8, text, n, t.cp, out, n, &produced, &truncated, baseConvertCache(&ctx), 0) !=
            0)
            return -1;
        return produced;
    }
    if (t.unit == 1) {
        std::memcpy(out, text, static_cast<size_t>(n));
        return n;
    }
    for (int64_t i = 0; i < n; ++i)
        putUnit(out + i * t.unit, text[i], t.cp, t.unit);
    return n * t.unit;
}

// GUID text.
int16_t writeGuidText(const BaseConvertContext& ctx, const void* src, int64_t srcLength) noexcept
{
    BaseOutString* out = ctx.out;
    const Target t = targetOf(ctx);
    if (srcLength < kBaseGuidSize) {
        baseCvtPostError(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
        return 1;
    }
    const int64_t bytes = kGuidChars * t.unit;
    if (out->buffer != nullptr && out->bufferLength < bytes + t.term) {
        if (ctx.settings.odbc2)
            baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        else
            baseCvtPostError(MSG_SQLSTATE_STRING_TRUNCATION);
        return 1;
    }
    BaseGuid guid;
    std::memcpy(&guid, src, sizeof guid);
    char text[kGuidChars + 1];
    if (baseFormatGuid(&guid, text) != 0)
        return 1;
    int64_t written = bytes;
    if (out->buffer != nullptr) {
        written = putAscii(ctx, t, text, kGuidChars, static_cast<uint8_t*>(out->buffer));
        if (written < 0)
            return 1;
        std::memset(static_cast<uint8_t*>(out->buffer) + written, 0, static_cast<size_t>(t.term));
    }
    baseReportLength(out, written);
    return 0;
}

// Text that is plain ASCII: the same bytes in every code page that keeps
// ASCII as it stands, one unit each in UTF-16 and UTF-32. Most values are,
// and they need neither a converter nor the pool it comes from. False when
// the value takes the converter path (other text or targets, or a widened
// value that does not fit whole).
bool copyAsciiText(BaseConvertContext& ctx, const Target& t, int64_t srcCodePage, const void* src,
                   int64_t srcLength) noexcept
{
    if (t.cp <= 0 || srcCodePage <= 0 || baseIsUtf16CodePage(srcCodePage) || baseIsUtf32CodePage(srcCodePage) ||
        baseAsciiPrefix(src, srcLength) != srcLength || baseAsciiPassesUnchanged(srcCodePage) == 0)
        return false;
    BaseOutString* out = ctx.out;
    const bool terminate = t.term > 0;
    if (t.unit == 1) {
        if (baseAsciiPassesUnchanged(t.cp) == 0)
            return false;
        // Byte for byte, so earlier pieces moved on as in the source.
        int64_t offset = ctx.offset;
        if (offset < 0 || offset > srcLength)
            offset = srcLength;
        const bool cut = out->putText(static_cast<const uint8_t*>(src) + offset, srcLength - offset, terminate, t.term);
        ctx.notePiece(cut, t.available);
        return true;
    }
    const bool wide =
        t.cp == kCodePageUtf16LE || t.cp == kCodePageUtf16BE || t.cp == kCodePageUtf32LE || t.cp == kCodePageUtf32BE;
    // The whole value and its terminator must fit; a buffer smaller than
    // the terminator alone takes the converter path, which cuts it.
    if (!wide || ctx.offset != 0 || out->buffer == nullptr || out->bufferLength < t.term ||
        srcLength > (out->bufferLength - t.term) / t.unit)
        return false;
    auto* dst = static_cast<uint8_t*>(out->buffer);
    const auto* text = static_cast<const char*>(src);
    if (t.cp == kCodePageUtf16LE) {
        for (int64_t i = 0; i < srcLength; ++i) {
            dst[2 * i] = static_cast<uint8_t>(text[i]);
            dst[2 * i + 1] = 0;
        }
    } else {
        for (int64_t i = 0; i < srcLength; ++i)
            putUnit(dst + i * t.unit, text[i], t.cp, t.unit);
    }
    const int64_t produced = srcLength * t.unit;
    std::memset(dst + produced, 0, static_cast<size_t>(t.term));
    baseReportLength(out, produced);
    ctx.pieceLength = 0;
    return true;
}

}  // namespace

int32_t baseTextTargetTermWidth(int16_t cType, const BaseConvertSettings& settings) noexcept
{
    if (cType == SQL_C_CHAR)
        return settings.narrowTermWidth;
    if (cType == SQL_C_WCHAR)
        return settings.wideTermWidth;
    return 0;
}

int64_t baseTextTargetCodePage(const BaseConvertContext& ctx, int16_t cType) noexcept
{
    if (cType == SQL_C_CHAR || cType == kBaseCCharNoTerm)
        return ctx.charCodePage;
    return ctx.settings.wideCodePage;
}

int16_t baseCopyCharacterData(BaseConvertContext& ctx, const void* src, int64_t srcLength) noexcept
{
    BaseOutString* out = ctx.out;
    const Target t = targetOf(ctx);
    const bool terminate = t.term > 0;
    // Text without a code page is the driver's own UTF-8.
    const int64_t srcCodePage = ctx.codePage != 0 ? ctx.codePage : kCodePageUtf8;

    if (absCp(srcCodePage) == t.cp) {
        int64_t offset = ctx.offset;
        if (offset < 0 || offset > srcLength)
            offset = srcLength;
        bool cut = out->putText(static_cast<const uint8_t*>(src) + offset, srcLength - offset, terminate, t.term);
        ctx.notePiece(cut, t.available);
        return 0;
    }
    if (ctx.convertedLength < 0 && copyAsciiText(ctx, t, srcCodePage, src, srcLength))
        return 0;

    KaIcuCache* cache = baseConvertCache(&ctx);
    if (ctx.convertedLength < 0) {
        int64_t maxBytes = 4;
        cache->getCharSizes(t.cp, &maxBytes, nullptr);
        if (maxBytes < 1)
            maxBytes = 4;
        int64_t chars = baseIsUtf16CodePage(absCp(srcCodePage)) ? srcLength / 2 : srcLength;
        if (chars > (INT64_MAX - kMaxTermWidth) / 8) {
            baseCvtPostError(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
            return 1;
        }
        const int64_t room = chars * maxBytes + t.term;
        if (out->buffer != nullptr && out->bufferLength >= room && ctx.offset == 0) {
            int64_t produced = 0;
            int32_t truncated = 0;
            if (baseConvertText(srcCodePage, src, srcLength, t.cp, out->buffer, out->bufferLength - t.term, &produced,
                                &truncated, cache, 0) != 0)
                return 1;
            if (truncated == 0) {
                std::memset(static_cast<uint8_t*>(out->buffer) + produced, 0, static_cast<size_t>(t.term));
                baseReportLength(out, produced);
                ctx.pieceLength = 0;
                return 0;
            }
        }
        // Converted once, served in pieces from the conversion buffer.
        int64_t size = room > 0 ? room : 1;
        for (int attempt = 0;; ++attempt) {
            uint8_t* buffer = ctx.growConvertBuffer(size);
            if (buffer == nullptr)
                return 1;
            int64_t produced = 0;
            int32_t truncated = 0;
            if (baseConvertText(srcCodePage, src, srcLength, t.cp, buffer, size, &produced, &truncated, cache, 0) != 0)
                return 1;
            if (truncated == 0) {
                ctx.convertedLength = produced;
                break;
            }
            if (attempt == 1 || size > INT64_MAX / 2) {
                baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
                return 1;
            }
            size *= 2;
        }
    }
    int64_t offset = ctx.offset;
    if (offset < 0 || offset > ctx.convertedLength)
        offset = ctx.convertedLength;
    bool cut = out->putText(ctx.convertBuffer + offset, ctx.convertedLength - offset, terminate, t.term);
    ctx.notePiece(cut, t.available);
    return 0;
}

int16_t baseWriteHexText(BaseConvertContext& ctx, const void* src, int64_t srcLength) noexcept
{
    BaseOutString* out = ctx.out;
    const Target t = targetOf(ctx);
    int64_t offset = ctx.offset;
    if (offset < 0 || offset > srcLength)
        offset = srcLength;
    const int64_t remaining = srcLength - offset;
    const int64_t perByte = 2 * t.unit;
    if (remaining > INT64_MAX / perByte) {
        baseCvtPostError(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
        return 1;
    }
    const int64_t full = remaining * perByte;
    baseReportLength(out, full);
    ctx.pieceLength = 0;
    if (out->buffer == nullptr)
        return 0;
    auto* dst = static_cast<uint8_t*>(out->buffer);
    if (out->bufferLength < t.term) {
        if (out->bufferLength > 0)
            std::memset(dst, 0, static_cast<size_t>(out->bufferLength));
        if (full + t.term != 0) {
            ctx.notePiece(remaining > 0, 0);
            baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        }
        return 0;
    }
    int64_t count = t.available / perByte;
    if (count > remaining)
        count = remaining;
    const uint8_t* from = static_cast<const uint8_t*>(src) + offset;
    int64_t written = 0;
    char chunk[2 * kHexChunk];
    for (int64_t done = 0; done < count;) {
        int64_t n = count - done < kHexChunk ? count - done : kHexChunk;
        for (int64_t i = 0; i < n; ++i) {
            chunk[2 * i] = kHexDigits[from[done + i] >> 4];
            chunk[2 * i + 1] = kHexDigits[from[done + i] & 0xF];
        }
        int64_t w = putAscii(ctx, t, chunk, 2 * n, dst + written);
        if (w < 0)
            return 1;
        written += w;
        done += n;
    }
    std::memset(dst + written, 0, static_cast<size_t>(t.term));
    if (count < remaining) {
        ctx.notePiece(true, count);
        baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
    }
    return 0;
}

int64_t baseRemoveTrailingZeros(const void* text, int64_t length, int64_t codePage) noexcept
{
    const auto* p = static_cast<const uint8_t*>(text);
    const int64_t unit = codePage < 0 ? 1 : baseCodePageUnitWidth(codePage);
    const int64_t n = length / unit;
    int64_t i = n - 1;
    int64_t zeros = 0;
    while (i >= 0 && getUnit(p + i * unit, codePage, unit) == '0') {
        ++zeros;
        --i;
    }
    if (zeros == 0)
        return length;
    bool nonZero = false;
    while (i >= 0) {
        uint32_t c = getUnit(p + i * unit, codePage, unit);
        if (c == '.') {
            int64_t remove = nonZero ? zeros : zeros + 1;
            return (n - remove) * unit;
        }
        if (c < '0' || c > '9')
            return length;
        nonZero = nonZero || c != '0';
        --i;
    }
    return length;
}

int16_t baseConvertToCharacter(BaseConvertContext& ctx, const void* src, int64_t srcLength, int32_t srcKind) noexcept
{
    const int16_t sqlType = ctx.sqlType;
    Path path = pathOfSqlType(sqlType, ctx.settings);
    if (!pathTakes(path, srcKind))
        path = pathOfKind(srcKind);
    const bool trim = (ctx.settings.workarounds & kBaseWaTrimTrailingZeros) != 0;
    switch (path) {
    case Path::Text: return baseCopyCharacterData(ctx, src, srcLength);
    case Path::Decimal:
        return writeNumberText(ctx, src, srcLength, srcKind, 0,
                               trim && (sqlType == SQL_NUMERIC || sqlType == SQL_DECIMAL));
    case Path::Float: {
        bool real = sqlType == SQL_REAL || (sqlType != SQL_FLOAT && sqlType != SQL_DOUBLE && srcKind == kBaseKindReal);
        return writeNumberText(ctx, src, srcLength, srcKind, real ? kBaseRealTextWidth : ctx.settings.floatTextWidth,
                               trim);
    }
    case Path::Hex: return baseWriteHexText(ctx, src, srcLength);
    case Path::DateTime: return writeDateTimeText(ctx, src, srcLength, srcKind);
    case Path::Guid:
        if (srcKind == kBaseKindText)
            return baseCopyCharacterData(ctx, src, srcLength);
        return writeGuidText(ctx, src, srcLength);
    case Path::None: break;
    }
    return 0;
}
