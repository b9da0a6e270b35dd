// Parameter values of the Hive statement: HiveServer2 carries no parameter
// values, so each value is written into the statement text as a HiveQL
// literal in place of its marker, marker by marker, and the execute hook
// sends that text.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/basecvt.h"
#include "convert/number.h"
#include "foundation/codepage.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basemultirow.h"
#include "sql/basesql.h"

namespace {

// Bytes of the work buffer a value that is not text or binary converts in.
constexpr int64_t kLiteralWorkBytes = 1024;
// The size SQLDescribeParam reports for every parameter.
constexpr uint64_t kHiveDescribedParamSize = 999;

bool isNumericType(int16_t t) noexcept
{
    switch (t) {
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return true;
    default: return false;
    }
}

int appendAscii(KaStringW& out, const char* text) noexcept
{
    return out.appendNarrow(text, std::strlen(text));
}

// A text between apostrophes that cannot end early or change under Hive's
// string-literal rules: the backslash, the apostrophe and the control
// characters Hive unescapes are written as escapes, NUL as \u0000 so that
// digits after it cannot make an octal escape of it. Hive joins adjacent
// literals and reads every escape, so nothing else in the value can
// matter.
const char* escapeOf(uint16_t u) noexcept
{
    switch (u) {
    case '\'': return "\\'";
    case '\\': return "\\\\";
    case 0: return "\\u0000";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    case '\b': return "\\b";
    case 0x1A: return "\\Z";
    default: return nullptr;
    }
}

int appendQuoted(KaStringW& out, const uint16_t* text, size_t units) noexcept
{
    // The literal's whole length first: the text grows to the exact size
    // asked for, so growing it unit by unit would copy a long value over
    // and over.
    size_t needed = out.len + 3;  // both apostrophes and the terminator
    for (size_t i = 0; i < units; ++i) {
        const char* escape = escapeOf(text[i]);
        needed += escape != nullptr ? std::strlen(escape) : 1;
    }
    if ((out.capacity < needed && out.reserve(needed) != 0) || out.appendChar('\''))
        return 1;
    for (size_t i = 0; i < units; ++i) {
        const uint16_t u = text[i];
        const char* escape = escapeOf(u);
        if (escape != nullptr ? appendAscii(out, escape) != 0 : out.appendChar(u) != 0)
            return 1;
    }
    return out.appendChar('\'');
}

bool isHexText(const uint16_t* text, size_t units) noexcept
{
    for (size_t i = 0; i < units; ++i) {
        const uint16_t u = text[i];
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return false;
    }
    return true;
}

bool isBinarySqlType(int16_t t) noexcept
{
    return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}

bool isIntervalSqlType(int16_t t) noexcept
{
    return t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND;
}

bool isCharSqlType(int16_t t) noexcept
{
    switch (t) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return true;
    default: return false;
    }
}

// The fewest bytes the UTF-8 literal of a text or binary value of `length`
// bytes can take: binary data for a binary column becomes two hexadecimal
// digits a byte; text in UTF-8 keeps its bytes, in UTF-16 or UTF-32 at
// least one byte a unit, and in any other code page at least one byte for
// the at most four bytes of a character. Escapes only add to it.
uint64_t leastLiteralBytes(int16_t cType, int16_t sqlType, int64_t length, int64_t codePage) noexcept
{
    const auto bytes = static_cast<uint64_t>(length);
    if (cType == SQL_C_BINARY)
        return isBinarySqlType(sqlType) ? 2 * bytes : bytes;
    const int64_t cp = codePage < 0 ? -codePage : codePage;
    if (cp == kCodePageUtf8)
        return bytes;
    if (baseIsUtf16CodePage(cp) || baseIsUtf32CodePage(cp))
        return bytes / static_cast<uint64_t>(baseCodePageUnitWidth(cp));
    return bytes / 4;
}

}  // namespace

int16_t HiveStatement::recordMarkers(BaseSqlStringW* text) noexcept
{
    ramFree(markerOffsets);
    markerOffsets = nullptr;
    markerOffsetCount = 0;
    paramNext = 1;
    if (text->markerCount() == 0 && text->scanClauses(kSqlRecordMarkers, nullptr) != 0)
        return 1;
    const size_t n = text->markerCount();
    if (n == 0)
        return 0;
    markerOffsets = static_cast<size_t*>(ramAlloc(n * sizeof(size_t)));
    if (markerOffsets == nullptr)
        return 1;
    for (size_t i = 0; i < n; ++i)
        markerOffsets[i] = text->markerOffsets.at(i);
    markerOffsetCount = n;
    return 0;
}

int16_t HiveStatement::setParamValue(uint16_t marker, const void* data, int64_t length, int32_t) noexcept
{
    if (marker == 1) {
        paramText.len = 0;
        paramFrom = 0;
        paramNext = 1;
    }
    if (marker != paramNext || marker > markerOffsetCount || sqlText == nullptr) {
        errPost(MSG_HIVE_PARAMETER_ORDER)
            ->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)
            ->addParamUnsigned(static_cast<uint64_t>(marker));
        return 1;
    }
    const size_t at = markerOffsets[marker - 1];
    if (at < paramFrom || at >= sqlTextLength || paramText.append(sqlText + paramFrom, at - paramFrom))
        return 1;
    paramFrom = at + 1;
    ++paramNext;
    const size_t literalStart = paramText.len;
    const int16_t rc = appendParamLiteral(marker, data, length);
    if (rc != 0 || multiRowInsert == nullptr || !arrayInsert.active())
        return rc;
    // A batched insert takes the literal just as the single-row text has it.
    const size_t units = paramText.len - literalStart;
    return arrayInsert.appendValues(marker, 0, paramText.data + literalStart, static_cast<int64_t>(units * 2), false,
                                    false, true);
}

int16_t HiveStatement::appendParamLiteral(uint16_t marker, const void* data, int64_t length) noexcept
{
    if (length == SQL_NULL_DATA)
        return appendAscii(paramText, " NULL ") != 0 ? 1 : 0;
    BaseIPDRecord* rec = getParamIPDRecord(marker);
    if (rec == nullptr)
        return 1;
    const int16_t cType = rec->cType();
    const int16_t sqlType = rec->conciseType;
    if (isIntervalSqlType(sqlType)) {
        // Hive's interval literals take other texts than ODBC's; a marker
        // must never vanish from the statement, so the value is refused.
        basePostErrorMsg(MSG_SQLSTATE_OPTIONAL_FEATURE, MSG_PARAMETER_TYPE_NO_LITERAL)
            ->addParamUnsigned(marker)
            ->addParamSigned(sqlType);
        return 1;
    }
    int64_t size = kLiteralWorkBytes;
    if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY) {
        // A value whose literal cannot fit in the statement string is
        // refused before it is read or any room is taken for it.
        const int64_t wide = connection != nullptr && connection->wideCharCodePage != 0 ? connection->wideCharCodePage
                                                                                        : kCodePageUtf16LE;
        const int64_t codePage = cType == SQL_C_WCHAR ? wide : charCodePage;
        if (length > 0 && leastLiteralBytes(cType, sqlType, length, codePage) > kHiveMaxStringBytes) {
            errPost(MSG_HIVE_PARAMETER_TOO_LONG)
                ->setSqlstateMsg(MSG_SQLSTATE_STRING_TRUNCATION)
                ->addParamUnsigned(marker)
                ->addParamSigned(length)
                ->addParamUnsigned(kHiveMaxStringBytes);
            return 1;
        }
        // UTF-16 of text needs at most two bytes per byte given; binary as
        // hexadecimal digits four.
        if (length > (INT64_MAX - 16) / 4)
            return 1;
        size = length * 4 + 16;
    }
    const RamPtr<uint16_t> owner(static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(size))));
    uint16_t* work = owner.get();
    if (work == nullptr)
        return 1;
    const int64_t savedCodePage = rec->codePage;
    rec->setCodePage(kCodePageUtf16LE);
    int64_t produced = 0;
    int16_t rc = 0;
    if (cType == SQL_C_BINARY && isCharSqlType(sqlType)) {
        // Bytes bound to a text column are its UTF-8 text.
        int32_t truncated = 0;
        rc = convertText(kCodePageUtf8, data, length, kCodePageUtf16LE, work, size, &produced, &truncated, 0) != 0 ? 1
                                                                                                                   : 0;
    } else {
        rc = convertParamValue(marker, data, length, kBaseKindText, work, size, &produced);
    }
    rec->setCodePage(savedCodePage);
    if (rc == 0) {
        const size_t units = static_cast<size_t>(produced > 0 ? produced : 0) / 2;
        if (isNumericType(sqlType) || sqlType == SQL_BIT) {
            if (!baseIsNumberText(work, units)) {
                basePostError(kBaseIdxBadCharValue);
                rc = 1;
            } else {
                rc = static_cast<int16_t>(paramText.appendChar(' ') || (work[0] == '.' && paramText.appendChar('0')) ||
                                          paramText.append(work, units) || paramText.appendChar(' '));
            }
        } else if (sqlType == SQL_TYPE_TIMESTAMP || sqlType == SQL_TIMESTAMP) {
            rc = static_cast<int16_t>(appendAscii(paramText, "cast(") || appendQuoted(paramText, work, units) ||
                                      appendAscii(paramText, " as timestamp)"));
        } else if (isBinarySqlType(sqlType)) {
            // Hive keeps the bytes, not their hexadecimal text.
            if (!isHexText(work, units)) {
                basePostError(kBaseIdxBadCharValue);
                rc = 1;
            } else {
                rc = static_cast<int16_t>(appendAscii(paramText, "unhex(") || appendQuoted(paramText, work, units) ||
                                          appendAscii(paramText, ")"));
            }
        } else {
            // Text, dates and times, and GUIDs, which Hive keeps as text.
            rc = static_cast<int16_t>(appendQuoted(paramText, work, units));
        }
    }
    return rc != 0 ? 1 : 0;
}

int16_t HiveStatement::describeParamHook(uint16_t, int16_t* dataType, uint64_t* size, int16_t* digits,
                                         int16_t* nullable) noexcept
{
    // The server describes no parameters: every value travels as text.
    if (dataType != nullptr)
        *dataType = SQL_VARCHAR;
    if (size != nullptr)
        *size = kHiveDescribedParamSize;
    if (digits != nullptr)
        *digits = 0;
    if (nullable != nullptr)
        *nullable = SQL_NULLABLE;
    return 0;
}

int16_t HiveStatement::finishParamText(const uint16_t** text, size_t* units) noexcept
{
    *text = nullptr;
    *units = 0;
    if (markerOffsetCount == 0)
        return 0;
    if (paramNext != markerOffsetCount + 1) {
        errPost(MSG_HIVE_PARAMETER_ORDER)
            ->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)
            ->addParamUnsigned(static_cast<uint64_t>(paramNext));
        return 1;
    }
    if (paramText.append(sqlText + paramFrom, sqlTextLength - paramFrom))
        return 1;
    paramNext = 1;
    *text = paramText.data;
    *units = paramText.len;
    return 0;
}
