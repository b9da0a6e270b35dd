// The names, datatype words, escaping and table-name quoting of the bulk
// file set.
#include "bulk/bulkfiles.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "kamessages.h"

namespace {

struct WordEntry {
    int64_t code;
    const char* word;
};

// The words the description reads; the writer's words come from the same
// table through bulkDataTypeName.
constexpr WordEntry kWords[] = {
    {SQL_CHAR, "CHAR"},
    {SQL_VARCHAR, "VARCHAR"},
    {SQL_LONGVARCHAR, "LONGVARCHAR"},
    {SQL_WCHAR, "UNICODE_CHAR"},
    {SQL_WVARCHAR, "UNICODE_VARCHAR"},
    {SQL_WLONGVARCHAR, "UNICODE_LONGVARCHAR"},
    {133, "XML_TEXT"},
    {SQL_BINARY, "BINARY"},
    {SQL_VARBINARY, "VARBINARY"},
    {SQL_LONGVARBINARY, "LONGVARBINARY"},
    {132, "XML_BINARY"},
    {SQL_BIT, "BIT"},
    {SQL_C_STINYINT, "TINYINT"},
    {SQL_C_SSHORT, "SMALLINT"},
    {SQL_C_SLONG, "INTEGER"},
    {SQL_C_SBIGINT, "BIGINT"},
    {SQL_C_UTINYINT, "UNSIGNED_TINYINT"},
    {SQL_C_USHORT, "UNSIGNED_SMALLINT"},
    {SQL_C_ULONG, "UNSIGNED_INTEGER"},
    {SQL_C_UBIGINT, "UNSIGNED_BIGINT"},
    {SQL_GUID, "GUID"},
    {SQL_INTERVAL_YEAR, "INTERVAL_YEAR"},
    {SQL_INTERVAL_MONTH, "INTERVAL_MONTH"},
    {SQL_INTERVAL_DAY, "INTERVAL_DAY"},
    {SQL_INTERVAL_HOUR, "INTERVAL_HOUR"},
    {SQL_INTERVAL_MINUTE, "INTERVAL_MINUTE"},
    {SQL_INTERVAL_SECOND, "INTERVAL_SECOND"},
    {SQL_INTERVAL_YEAR_TO_MONTH, "INTERVAL_YEAR_TO_MONTH"},
    {SQL_INTERVAL_DAY_TO_HOUR, "INTERVAL_DAY_TO_HOUR"},
    {SQL_INTERVAL_DAY_TO_MINUTE, "INTERVAL_DAY_TO_MINUTE"},
    {SQL_INTERVAL_DAY_TO_SECOND, "INTERVAL_DAY_TO_SECOND"},
    {SQL_INTERVAL_HOUR_TO_MINUTE, "INTERVAL_HOUR_TO_MINUTE"},
    {SQL_INTERVAL_HOUR_TO_SECOND, "INTERVAL_HOUR_TO_SECOND"},
    {SQL_INTERVAL_MINUTE_TO_SECOND, "INTERVAL_MINUTE_TO_SECOND"},
    {SQL_DATE, "DATE"},
    {SQL_TIME, "TIME"},
    {SQL_TIMESTAMP, "DATETIME"},
    {131, "DATETIME_WITH_TZ"},
    {SQL_DECIMAL, "DECIMAL"},
    {129, "DECFLOAT_16"},
    {130, "DECFLOAT_34"},
    {SQL_REAL, "SINGLE_PRECISION"},
    {SQL_DOUBLE, "DOUBLE_PRECISION"},
};

// Codes that share a word with a code of the table above.
int64_t canonicalCode(int64_t code) noexcept
{
    switch (code) {
    case SQL_NUMERIC: return SQL_DECIMAL;
    case SQL_FLOAT: return SQL_REAL;
    case SQL_TYPE_DATE: return SQL_DATE;
    case SQL_TYPE_TIME: return SQL_TIME;
    case SQL_TYPE_TIMESTAMP: return SQL_TIMESTAMP;
    case SQL_C_UTINYINT: return SQL_C_STINYINT;
    case SQL_C_USHORT: return SQL_C_SSHORT;
    case SQL_C_ULONG: return SQL_C_SLONG;
    case SQL_C_UBIGINT: return SQL_C_SBIGINT;
    default: return code;
    }
}

const char* signedWord(int64_t code) noexcept
{
    switch (code) {
    case SQL_C_STINYINT: return "SIGNED TINYINT";
    case SQL_C_UTINYINT: return "UNSIGNED TINYINT";
    case SQL_C_SSHORT: return "SIGNED SMALLINT";
    case SQL_C_USHORT: return "UNSIGNED SMALLINT";
    case SQL_C_SLONG: return "SIGNED INTEGER";
    case SQL_C_ULONG: return "UNSIGNED INTEGER";
    case SQL_C_SBIGINT: return "SIGNED BIGINT";
    case SQL_C_UBIGINT: return "UNSIGNED BIGINT";
    default: return nullptr;
    }
}

[[nodiscard]] int tooLong(const char* name) noexcept
{
    errPost(MSG_BULK_FILE_NAME_TOO_LONG)->addParamText(name)->setSqlstate("HY000");
    return 1;
}

// base + suffix into out, bounded.
[[nodiscard]] int joinName(const char* name, size_t baseLength, const char* suffix,
                           char out[KA_BULK_PATH_SIZE]) noexcept
{
    size_t suffixLength = strlen(suffix);
    if (baseLength + suffixLength + 1 > KA_BULK_PATH_SIZE)
        return tooLong(name);
    memcpy(out, name, baseLength);
    memcpy(out + baseLength, suffix, suffixLength + 1);
    return 0;
}

uint16_t upper(uint16_t c) noexcept
{
    return c >= 'a' && c <= 'z' ? static_cast<uint16_t>(c - 'a' + 'A') : c;
}

}  // namespace

size_t bulkFilePartOffset(const char* name, size_t length) noexcept
{
    size_t start = 0;
    for (size_t i = 0; i < length; ++i)
        if (name[i] == '/' || name[i] == ':')
            start = i + 1;
    return start;
}

size_t bulkBaseNameLength(const char* name, size_t length) noexcept
{
    size_t part = bulkFilePartOffset(name, length);
    for (size_t i = length; i > part + 1; --i)
        if (name[i - 1] == '.')
            return i - 1;
    return length;
}

int bulkDescriptionName(const char* dataName, char out[KA_BULK_PATH_SIZE]) noexcept
{
    size_t length = strlen(dataName);
    return joinName(dataName, bulkBaseNameLength(dataName, length), ".xml", out);
}

int bulkLegacyDescriptionName(const char* dataName, char out[KA_BULK_PATH_SIZE]) noexcept
{
    size_t length = strlen(dataName);
    const char* tail = dataName + length - 4;
    if (length > 4 && tail[0] == '.' && (tail[1] | 0x20) == 'c' && (tail[2] | 0x20) == 's' && (tail[3] | 0x20) == 'v')
        length -= 4;
    return joinName(dataName, length, ".xml", out);
}

int bulkLobFileName(const char* dataName, uint32_t number, char out[KA_BULK_PATH_SIZE]) noexcept
{
    if (number > KA_BULK_MAX_LOB_NUMBER) {
        errPost(MSG_BULK_LOB_COUNT_EXCEEDED)->addParamUnsigned(KA_BULK_MAX_LOB_NUMBER)->setSqlstate("HY000");
        return 1;
    }
    char suffix[32];
    snprintf(suffix, sizeof suffix, "_%06u.lob", number);
    return joinName(dataName, bulkBaseNameLength(dataName, strlen(dataName)), suffix, out);
}

const char* bulkDataTypeName(int64_t code, int withSign) noexcept
{
    if (withSign != 0) {
        if (const char* word = signedWord(code); word != nullptr)
            return word;
    }
    int64_t canonical = canonicalCode(code);
    for (const WordEntry& entry : kWords)
        if (entry.code == canonical)
            return entry.word;
    return "UNKNOWN";
}

bool bulkDataTypeFromWord(const uint16_t* word, size_t length, int64_t* code) noexcept
{
    if (length <= 2)
        return false;
    for (const WordEntry& entry : kWords) {
        size_t n = strlen(entry.word);
        if (n != length)
            continue;
        size_t i = 0;
        while (i < n && upper(word[i]) == static_cast<uint8_t>(entry.word[i]))
            ++i;
        if (i == n) {
            *code = entry.code;
            return true;
        }
    }
    return false;
}

bool bulkSameDataType(int64_t a, int64_t b) noexcept
{
    return strcmp(bulkDataTypeName(a, 0), bulkDataTypeName(b, 0)) == 0;
}

int16_t bulkIntegerType(int16_t sqlType, bool isUnsigned) noexcept
{
    switch (sqlType) {
    case SQL_INTEGER: return isUnsigned ? SQL_C_ULONG : SQL_C_SLONG;
    case SQL_SMALLINT: return isUnsigned ? SQL_C_USHORT : SQL_C_SSHORT;
    case SQL_TINYINT: return isUnsigned ? SQL_C_UTINYINT : SQL_C_STINYINT;
    case SQL_BIGINT: return isUnsigned ? SQL_C_UBIGINT : SQL_C_SBIGINT;
    default: return sqlType;
    }
}

int16_t bulkAppendXmlEscaped(KaString& out, const char* text, size_t length) noexcept
{
    for (size_t i = 0; i < length; ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '"': entity = "&quot;"; break;
        case '\'': entity = "&apos;"; break;
        default: break;
        }
        int16_t rc = entity != nullptr ? out.append(entity) : out.appendChar(text[i]);
        if (rc != 0)
            return 1;
    }
    return 0;
}

namespace {

// Appends units start..end in back-quotes, each back-quote doubled; a
// doubled `quote` inside stands for one.
int appendBackQuoted(const uint16_t* table, size_t start, size_t end, uint16_t quote, KaStringW& out) noexcept
{
    if (out.appendChar(u'`') != 0)
        return 1;
    for (size_t k = start; k < end; ++k) {
        uint16_t c = table[k];
        if (quote != 0 && c == quote && k + 1 < end && table[k + 1] == quote)
            ++k;
        if (out.appendChar(c) != 0 || (c == u'`' && out.appendChar(u'`') != 0))
            return 1;
    }
    return out.appendChar(u'`') != 0 ? 1 : 0;
}

}  // namespace

int16_t bulkQuoteTableName(const uint16_t* table, size_t length, KaStringW& out) noexcept
{
    size_t i = 0;
    while (true) {
        size_t start = i;
        uint16_t quote = 0;
        bool opensQuoted = i < length && (table[i] == u'`' || table[i] == u'"');
        // Where the quote that opens the part closes; 0 when it does not.
        size_t closedAt = 0;
        // The part runs to the next dot outside quotes.
        while (i < length) {
            uint16_t c = table[i];
            if (quote != 0) {
                if (c == quote) {
                    if (i + 1 < length && table[i + 1] == quote) {
                        ++i;
                    } else {
                        quote = 0;
                        if (opensQuoted && closedAt == 0)
                            closedAt = i;
                    }
                }
            } else if (c == u'`' || c == u'"') {
                quote = c;
            } else if (c == u'.') {
                break;
            }
            ++i;
        }
        // A part is already quoted only when its opening quote closes at its
        // end: anything after the closing quote would reach the server as
        // SQL. A part in double quotes is a string to the server, where a
        // back-slash escapes the quote, so it becomes the same name in
        // back-quotes.
        bool quoted = closedAt != 0 && closedAt + 1 == i;
        int rc;
        if (quoted && table[start] == u'`')
            rc = out.append(table + start, i - start);
        else if (quoted)
            rc = appendBackQuoted(table, start + 1, i - 1, u'"', out);
        else
            rc = appendBackQuoted(table, start, i, 0, out);
        if (rc != 0)
            return 1;
        if (i >= length)
            return 0;
        if (out.appendChar(u'.') != 0)
            return 1;
        ++i;
    }
}
