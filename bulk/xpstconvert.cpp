// Value formatting of the XML record-set writer.
#include "bulk/xpstconvert.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "foundation/errpost.h"
#include "foundation/kaencode.h"
#include "foundation/kaerror.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

// ecvt_r's buffer: the 15 digits of a double and room to spare.
constexpr size_t kDigitBufferSize = 20;
constexpr int kDoubleDigits = 15;
constexpr int kFloatDigits = 7;
constexpr char kCarriageReturnRef[] = "&#13;";
// The longest replacement ("&quot;", "&apos;") is six bytes for one.
constexpr size_t kEscapeGrowth = 6;

// The entity that replaces the byte, or null when it is copied.
const char* entityFor(uint8_t byte) noexcept
{
    switch (byte) {
    case '"': return "&quot;";
    case '&': return "&amp;";
    case '\'': return "&apos;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '\r': return kCarriageReturnRef;
    default: return nullptr;
    }
}

// Decodes the UTF-8 character at bytes[i]; returns its byte count, or 0 for
// a malformed sequence (*code then holds the offending byte).
size_t decodeUtf8(const uint8_t* bytes, size_t length, size_t i, uint32_t* code) noexcept
{
    uint8_t b = bytes[i];
    *code = b;
    if (b < 0x80)
        return 1;
    size_t n;
    uint32_t c;
    uint32_t least;
    if ((b & 0xE0) == 0xC0) {
        n = 2, c = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, c = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4, c = b & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (length - i < n)
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((bytes[i + k] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (bytes[i + k] & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *code = c;
    return n;
}

// XML 1.0's Char production: tab, line feed, carriage return and the rest
// of the characters above the C0 controls, except U+FFFE and U+FFFF.
bool xmlAllows(uint32_t c) noexcept
{
    if (c < 0x20)
        return c == 0x09 || c == 0x0A || c == 0x0D;
    return c != 0xFFFE && c != 0xFFFF;
}

void postForbidden(const uint16_t* columnName, uint32_t code) noexcept
{
    char hex[16];
    snprintf(hex, sizeof hex, "%04X", code);
    errPost(MSG_XPST_VALUE_CHARACTER_FORBIDDEN)->addParamW(columnName)->addParamText(hex);
}

template <typename T>
T readAs(const uint8_t* bytes) noexcept
{
    T value;
    memcpy(&value, bytes, sizeof value);
    return value;
}

void postTypeUnsupported(const XPstColumn& column) noexcept
{
    errPost(MSG_XPST_TYPE_UNSUPPORTED)->addParamW(column.name)->addParamSigned(column.sqlType);
}

// The fixed byte count a C type needs, 0 for variable-length data.
size_t fixedLength(int32_t sqlType) noexcept
{
    switch (sqlType) {
    case SQL_INTEGER: return sizeof(int32_t);
    case SQL_SMALLINT: return sizeof(int16_t);
    case SQL_TINYINT:
    case SQL_BIT: return 1;
    case SQL_BIGINT: return sizeof(int64_t);
    case SQL_REAL: return sizeof(float);
    case SQL_FLOAT:
    case SQL_DOUBLE: return sizeof(double);
    case SQL_TYPE_DATE: return sizeof(SQL_DATE_STRUCT);
    case SQL_TYPE_TIME: return sizeof(SQL_TIME_STRUCT);
    case SQL_TYPE_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
    default: return 0;
    }
}

size_t formatInteger(char* out, int64_t signedValue, uint64_t unsignedValue, int isUnsigned) noexcept
{
    return isUnsigned ? u64ToText(out, unsignedValue) : i64ToText(out, signedValue);
}

[[nodiscard]] int formatHex(const XPstColumn& column, const uint8_t* bytes, size_t length, const char** text,
                            size_t* textLength, int* owned) noexcept
{
    // A BINARY value is padded with "0" to the column size; one longer than
    // the column keeps all its bytes rather than being cut.
    size_t width = 2 * length;
    if (column.sqlType == SQL_BINARY && column.size > length)
        width = 2 * static_cast<size_t>(column.size);
    if (width == 0) {
        *text = "";
        *textLength = 0;
        *owned = 0;
        return 1;
    }
    char* block = static_cast<char*>(ramAllocBlock(width));
    if (block == nullptr)
        return 0;
    size_t written = hexify(block, bytes, length);
    memset(block + written, '0', width - written);
    *text = block;
    *textLength = width;
    *owned = 1;
    return 1;
}

}  // namespace

size_t xpstCountCharacters(const uint8_t* bytes, size_t length) noexcept
{
    size_t count = 0;
    for (size_t i = 0; i < length; ++i)
        if ((bytes[i] & 0xC0) != 0x80)
            ++count;
    return count;
}

size_t xpstCountEscapes(const uint8_t* bytes, size_t length) noexcept
{
    size_t count = 0;
    for (size_t i = 0; i < length; ++i)
        if (entityFor(bytes[i]) != nullptr)
            ++count;
    return count;
}

int xpstEscapeText(const uint8_t* bytes, size_t length, size_t padding, const uint16_t* columnName, const char** text,
                   size_t* textLength, int* owned) noexcept
{
    *text = nullptr;
    *textLength = 0;
    *owned = 0;
    size_t escapes = 0;
    for (size_t i = 0; i < length;) {
        uint32_t code;
        size_t n = decodeUtf8(bytes, length, i, &code);
        if (n == 0 || !xmlAllows(code)) {
            postForbidden(columnName, code);
            return 0;
        }
        if (n == 1 && entityFor(bytes[i]) != nullptr)
            ++escapes;
        i += n;
    }
    if (escapes == 0 && padding == 0) {
        *text = reinterpret_cast<const char*>(bytes);
        *textLength = length;
        return 1;
    }
    size_t capacity = length + padding + kEscapeGrowth * escapes;
    char* block = static_cast<char*>(ramAlloc(capacity));
    if (block == nullptr) {
        errPost(MSG_XPST_OUT_OF_MEMORY);
        return 0;
    }
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        const char* entity = entityFor(bytes[i]);
        if (entity == nullptr) {
            block[out++] = static_cast<char>(bytes[i]);
            continue;
        }
        size_t n = strlen(entity);
        memcpy(block + out, entity, n);
        out += n;
    }
    memset(block + out, ' ', padding);
    out += padding;
    *text = block;
    *textLength = out;
    *owned = 1;
    return 1;
}

size_t xpstFormatDouble(char* destination, int isFloat, double value) noexcept
{
    if (std::isnan(value)) {
        memcpy(destination, "NaN", 3);
        return 3;
    }
    if (std::isinf(value)) {
        if (value < 0) {
            memcpy(destination, "-INF", 4);
            return 4;
        }
        memcpy(destination, "INF", 3);
        return 3;
    }
    int digits = isFloat ? kFloatDigits : kDoubleDigits;
    int limit = digits + 2;
    char buffer[kDigitBufferSize];
    int point = 0;
    int negative = 0;
    if (ecvt_r(value, digits, &point, &negative, buffer, sizeof buffer) != 0) {
        destination[0] = '0';
        return 1;
    }
    const char* d = buffer;
    while (*d == '0' || *d == ' ') {
        ++d;
        --point;
    }
    int n = static_cast<int>(strlen(d));
    while (n > 0 && d[n - 1] == '0')
        --n;
    if (n == 0) {
        destination[0] = '0';
        return 1;
    }
    int sign = negative ? 1 : 0;
    int fixed;
    if (point >= n)
        fixed = sign + point;
    else if (point >= 0)
        fixed = sign + n + 1;
    else
        fixed = sign + (n - point) + 1;
    size_t out = 0;
    if (negative)
        destination[out++] = '-';
    if (fixed <= limit) {
        int used = 0;
        for (int i = 0; i < point; ++i)
            destination[out++] = used < n ? d[used++] : '0';
        if (used < n || point < 0) {
            destination[out++] = '.';
            for (int i = point; i < 0; ++i)
                destination[out++] = '0';
            while (used < n)
                destination[out++] = d[used++];
        }
        return out;
    }
    char exponent[8];
    int exponentLength = snprintf(exponent, sizeof exponent, "E%d", point - 1);
    destination[out++] = d[0];
    if (n > 1) {
        destination[out++] = '.';
        size_t room = XPST_DOUBLE_TEXT_SIZE - static_cast<size_t>(exponentLength);
        for (int i = 1; i < n && out < room; ++i)
            destination[out++] = d[i];
    }
    memcpy(destination + out, exponent, static_cast<size_t>(exponentLength));
    return out + static_cast<size_t>(exponentLength);
}

int xpstFormatValue(const XPstColumn& column, const uint8_t* bytes, int64_t length, XPstScratch* scratch,
                    const char** text, size_t* textLength, int* owned) noexcept
{
    *text = nullptr;
    *textLength = 0;
    *owned = 0;
    if (length < 0 || (length > 0 && bytes == nullptr)) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return 0;
    }
    size_t n = static_cast<size_t>(length);
    size_t need = fixedLength(column.sqlType);
    if (need != 0 && n < need) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return 0;
    }
    char* out = scratch->text;
    size_t written = 0;
    switch (column.sqlType) {
    case SQL_CHAR:
    case SQL_WCHAR: {
        size_t characters = xpstCountCharacters(bytes, n);
        size_t padding = column.size > characters ? column.size - characters : 0;
        return xpstEscapeText(bytes, n, padding, column.name, text, textLength, owned);
    }
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return xpstEscapeText(bytes, n, 0, column.name, text, textLength, owned);
    case SQL_INTEGER:
        written = formatInteger(out, readAs<int32_t>(bytes), readAs<uint32_t>(bytes), column.isUnsigned);
        break;
    case SQL_SMALLINT:
        written = formatInteger(out, readAs<int16_t>(bytes), readAs<uint16_t>(bytes), column.isUnsigned);
        break;
    case SQL_TINYINT:
        written = formatInteger(out, readAs<int8_t>(bytes), readAs<uint8_t>(bytes), column.isUnsigned);
        break;
    case SQL_BIGINT:
        written = formatInteger(out, readAs<int64_t>(bytes), readAs<uint64_t>(bytes), column.isUnsigned);
        break;
    case SQL_BIT:
        written = bytes[0] != 0 ? 4 : 5;
        memcpy(out, bytes[0] != 0 ? "true" : "false", written);
        break;
    case SQL_REAL: written = xpstFormatDouble(out, 1, static_cast<double>(readAs<float>(bytes))); break;
    case SQL_FLOAT:
    case SQL_DOUBLE: written = xpstFormatDouble(out, 0, readAs<double>(bytes)); break;
    case SQL_TYPE_DATE: {
        auto v = readAs<SQL_DATE_STRUCT>(bytes);
        written = static_cast<size_t>(
            snprintf(out, XPST_SCRATCH_SIZE, "%04d-%02d-%02d", int(v.year), int(v.month), int(v.day)));
        break;
    }
    case SQL_TYPE_TIME: {
        auto v = readAs<SQL_TIME_STRUCT>(bytes);
        written = static_cast<size_t>(
            snprintf(out, XPST_SCRATCH_SIZE, "%02d:%02d:%02d", int(v.hour), int(v.minute), int(v.second)));
        break;
    }
    case SQL_TYPE_TIMESTAMP: {
        auto v = readAs<SQL_TIMESTAMP_STRUCT>(bytes);
        written = static_cast<size_t>(snprintf(out, XPST_SCRATCH_SIZE, "%04d-%02d-%02dT%02d:%02d:%02d", int(v.year),
                                               int(v.month), int(v.day), int(v.hour), int(v.minute), int(v.second)));
        break;
    }
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return formatHex(column, bytes, n, text, textLength, owned);
    default: postTypeUnsupported(column); return 0;
    }
    *text = out;
    *textLength = written;
    return 1;
}
