// Parameter values of the Hive statement: HiveServer2 carries no parameter
// values, so each value is written into the statement text as a HiveQL
// literal in place of its marker, marker by marker, and the execute hook
// sends that text.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/number.h"
#include "foundation/codepage.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "sql/basesql.h"

namespace {

// Bytes of the work buffer a value that is not text or binary converts in.
constexpr int64_t kLiteralWorkBytes = 1024;

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

// A text between apostrophes as HiveQL reads it: an apostrophe and a
// backslash in the value are escaped with a backslash, so that the value
// can neither end the literal early nor lose a character.
int appendQuoted(KaStringW& out, const uint16_t* text, size_t units) noexcept
{
    if (out.appendChar('\''))
        return 1;
    for (size_t i = 0; i < units; ++i) {
        if ((text[i] == '\'' || text[i] == '\\') && out.appendChar('\\'))
            return 1;
        if (out.appendChar(text[i]))
            return 1;
    }
    return out.appendChar('\'');
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

    if (length == SQL_NULL_DATA)
        return appendAscii(paramText, " NULL ") != 0 ? 1 : 0;
    BaseIPDRecord* rec = getParamIPDRecord(marker);
    if (rec == nullptr)
        return 1;
    const int16_t cType = rec->cType();
    const int16_t sqlType = rec->conciseType;
    int64_t size = kLiteralWorkBytes;
    if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY) {
        // UTF-16 of text needs at most two bytes per byte given; binary as
        // hexadecimal digits four.
        if (length > (INT64_MAX - 16) / 4)
            return 1;
        size = length * 4 + 16;
    }
    auto* work = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(size)));
    if (work == nullptr)
        return 1;
    const int64_t savedCodePage = rec->codePage;
    rec->setCodePage(kCodePageUtf16LE);
    int64_t produced = 0;
    int16_t rc = convertParamValue(marker, data, length, kBaseKindText, work, size, &produced);
    rec->setCodePage(savedCodePage);
    if (rc == 0) {
        const size_t units = static_cast<size_t>(produced > 0 ? produced : 0) / 2;
        if (isNumericType(sqlType)) {
            rc = static_cast<int16_t>(paramText.appendChar(' ') ||
                                      (units != 0 && work[0] == '.' && paramText.appendChar('0')) ||
                                      paramText.append(work, units) || paramText.appendChar(' '));
        } else if (sqlType == SQL_BIT) {
            rc = static_cast<int16_t>(paramText.appendChar(' ') || paramText.append(work, units) ||
                                      paramText.appendChar(' '));
        } else if (sqlType == SQL_TYPE_TIMESTAMP || sqlType == SQL_TIMESTAMP) {
            rc = static_cast<int16_t>(appendAscii(paramText, "cast(") || appendQuoted(paramText, work, units) ||
                                      appendAscii(paramText, " as timestamp)"));
        } else {
            rc = static_cast<int16_t>(appendQuoted(paramText, work, units));
        }
    }
    ramFree(work);
    return rc != 0 ? 1 : 0;
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
