// Table validation: a bulk description compared with the columns of a
// table, column by column, every finding one line of the caller's message
// buffer; findings that make the table unusable fail the call.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "bulk/bulkcall.h"
#include "bulk/bulkexport.h"
#include "bulk/bulkfiles.h"
#include "bulk/bulkload.h"
#include "bulk/bulkloadfile.h"
#include "bulk/bulkvalidate.h"
#include "convert/textcvt.h"
#include "foundation/codepage.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kaparamstring.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/bulkapi.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "platform/boscatalog.h"

namespace {

// Bytes a narrow message may take after its conversion.
constexpr int64_t kNarrowMessageBytes = 1024;

bool isInteger(int64_t t) noexcept
{
    switch (t) {
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: return true;
    default: return false;
    }
}

bool isUnsignedInt(int64_t t) noexcept
{
    return t == SQL_C_UTINYINT || t == SQL_C_USHORT || t == SQL_C_ULONG || t == SQL_C_UBIGINT;
}

int integerWidth(int64_t t) noexcept
{
    switch (t) {
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT: return 1;
    case SQL_C_SSHORT:
    case SQL_C_USHORT: return 2;
    case SQL_C_SLONG:
    case SQL_C_ULONG: return 3;
    default: return 4;
    }
}

bool isUnicodeCp(int64_t cp) noexcept
{
    return cp == kCodePageUtf8 || cp == kCodePageUtf16LE || cp == kCodePageUtf16BE;
}

bool isDateTime(int64_t t) noexcept
{
    return t == SQL_DATE || t == SQL_TYPE_DATE || t == SQL_TIME || t == SQL_TYPE_TIME || t == SQL_TIMESTAMP ||
           t == SQL_TYPE_TIMESTAMP || t == 131;
}

int64_t canonical(int64_t t) noexcept
{
    switch (t) {
    case SQL_TYPE_DATE: return SQL_DATE;
    case SQL_TYPE_TIME: return SQL_TIME;
    case SQL_TYPE_TIMESTAMP: return SQL_TIMESTAMP;
    case SQL_NUMERIC: return SQL_DECIMAL;
    case SQL_FLOAT: return SQL_DOUBLE;
    default: return t;
    }
}

}  // namespace

void BulkValidator::typeText(KaStringW& out, int64_t type, uint64_t length, int64_t scale, int withSign) noexcept
{
    const char* word = bulkDataTypeName(type, withSign);
    out.len = 0;
    while (*word != 0)
        (void)out.appendChar(static_cast<uint8_t>(*word++));
    char size[64] = {};
    int64_t c = canonical(type);
    if (c == SQL_CHAR || c == SQL_VARCHAR || c == SQL_WCHAR || c == SQL_WVARCHAR || c == SQL_BINARY ||
        c == SQL_VARBINARY)
        snprintf(size, sizeof size, " (%llu)", static_cast<unsigned long long>(length));
    else if (c == SQL_DECIMAL)
        snprintf(size, sizeof size, " (%llu,%lld)", static_cast<unsigned long long>(length),
                 static_cast<long long>(scale));
    else if (c == SQL_TIMESTAMP || c == 131)
        snprintf(size, sizeof size, " (%lld)", static_cast<long long>(scale));
    for (const char* p = size; *p != 0; ++p)
        (void)out.appendChar(static_cast<uint8_t>(*p));
    (void)out.appendChar(0);
}

int BulkValidator::add(uint16_t msg, const BulkTableColumn* t, const BulkColumnDesc* d, int64_t number) noexcept
{
    uint16_t text[BOS_MESSAGE_UNITS_MAX];
    LoadStringFromOpenFileW(nullptr, msg, text, BOS_MESSAGE_UNITS_MAX);
    KaParamStringW line;
    if (line.set(text) != 0)
        return 1;
    int withSign =
        msg == MSG_BULK_VALUES_MAY_OVERFLOW && t != nullptr && d != nullptr && bulkSameDataType(t->type, d->datatype)
            ? 1
            : 0;
    KaStringW type;
    if (number != 0)
        (void)line.addParamSigned(number);
    if (d != nullptr) {
        (void)line.addParam(d->name);
        typeText(type, d->datatype, d->length, d->scale, withSign);
        (void)line.addParam(type.data);
        if (msg == MSG_BULK_CODEPAGE_MISMATCH) {
            static const uint16_t kNone[] = {0};
            (void)line.addParam(d->sourceCodePageName != nullptr ? d->sourceCodePageName : kNone);
        }
    }
    if (t != nullptr) {
        (void)line.addParam(t->name);
        int64_t c = canonical(t->type);
        typeText(type, t->type, c == SQL_DECIMAL ? uint64_t(t->precision) : t->size, t->scale, withSign);
        (void)line.addParam(type.data);
        if (msg == MSG_BULK_CODEPAGE_MISMATCH) {
            const char* name = ianaPreferredName(t->codePage);
            char iana[32];
            if (name == nullptr) {
                snprintf(iana, sizeof iana, "IANA%lld", static_cast<long long>(t->codePage));
                name = iana;
            }
            uint16_t wideName[64];
            size_t n = 0;
            for (; name[n] != 0 && n + 1 < sizeof wideName / 2; ++n)
                wideName[n] = static_cast<uint8_t>(name[n]);
            wideName[n] = 0;
            (void)line.addParam(wideName);
        }
    }
    if (line.appendChar(u'\n') != 0)
        return 1;
    if (wide_ != nullptr) {
        if (used + line.len < size_t(length_)) {
            memcpy(wide_ + used, line.data, line.len * 2);
            used += line.len;
            wide_[used] = 0;
            ++*count_;
            return 0;
        }
    } else {
        char bytes[kNarrowMessageBytes];
        int64_t produced = 0;
        int32_t truncated = 0;
        if (baseConvertText(kCodePageUtf16LE, line.data, int64_t(line.len * 2), conn_->appCodePage, bytes,
                            kNarrowMessageBytes, &produced, &truncated, &conn_->icuCache, 0) != 0) {
            KaErrorDiscardLast();
            produced = 0;
        }
        if (used + size_t(produced) < size_t(length_)) {
            memcpy(narrow_ + used, bytes, size_t(produced));
            used += size_t(produced);
            narrow_[used] = 0;
            ++*count_;
            return 0;
        }
    }
    basePostError(kBaseIdxRightTruncation);
    return 1;
}

void BulkValidator::compare(const BulkTableColumn& t, const BulkColumnDesc& d, bool* incompatible) noexcept
{
    *incompatible = false;
    if (t.nullable == SQL_NO_NULLS && d.nullable != 0)
        (void)add(MSG_BULK_NULLS_NOT_ALLOWED, &t, &d, 0);
    const int64_t T = canonical(t.type);
    const int64_t D = canonical(d.datatype);
    const uint64_t P = d.length;
    const int64_t S = d.scale;
    const uint64_t PminusS = P - uint64_t(S);
    const int64_t Tp = t.precision;
    const int64_t Ts = t.scale;
    uint16_t first = 0;
    uint16_t second = 0;
    bool bad = false;
    auto dIs = [D](std::initializer_list<int64_t> set) {
        for (int64_t v : set)
            if (v == D)
                return true;
        return false;
    };
    const bool dInteger = isInteger(D);
    const bool dOtherScalar = D == SQL_BINARY || D == SQL_VARBINARY || D == SQL_LONGVARBINARY || D == SQL_BIT ||
                              dInteger || D == SQL_REAL || D == SQL_DOUBLE || D == 129 || D == 130 || isDateTime(D);
    if (T == SQL_CHAR || T == SQL_VARCHAR || T == SQL_LONGVARCHAR || T == SQL_WCHAR || T == SQL_WVARCHAR ||
        T == SQL_WLONGVARCHAR) {
        bool narrowT = T == SQL_CHAR || T == SQL_VARCHAR || T == SQL_LONGVARCHAR;
        bool bounded = T == SQL_CHAR || T == SQL_VARCHAR || T == SQL_WCHAR || T == SQL_WVARCHAR;
        bool dNarrow = dIs({SQL_CHAR, SQL_VARCHAR, SQL_LONGVARCHAR});
        bool dWide = dIs({SQL_WCHAR, SQL_WVARCHAR, SQL_WLONGVARCHAR});
        bool dLong = dIs({SQL_LONGVARCHAR, SQL_WLONGVARCHAR});
        if (dNarrow || dWide) {
            if (narrowT) {
                bool mismatch =
                    dNarrow ? d.sourceCodePage != t.codePage && !isUnicodeCp(t.codePage) : !isUnicodeCp(t.codePage);
                if (mismatch)
                    first = MSG_BULK_CODEPAGE_MISMATCH;
            }
            if (T != SQL_WLONGVARCHAR && bounded && (dLong || P > t.size))
                (first == 0 ? first : second) = MSG_BULK_VALUES_MAY_TRUNCATE;
        } else if (dOtherScalar) {
            first = MSG_BULK_VALUES_MAY_NOT_CONVERT;
        } else {
            bad = true;
        }
    } else if (T == SQL_BINARY || T == SQL_VARBINARY || T == SQL_LONGVARBINARY) {
        if (dIs({SQL_CHAR, SQL_VARCHAR, SQL_LONGVARCHAR}))
            first = MSG_BULK_VALUES_MAY_NOT_CONVERT;
        else if (dIs({SQL_BINARY, SQL_VARBINARY, SQL_LONGVARBINARY})) {
            if (T != SQL_LONGVARBINARY && (D == SQL_LONGVARBINARY || P > t.size))
                first = MSG_BULK_VALUES_MAY_TRUNCATE;
        } else
            bad = true;
    } else if (T == SQL_BIT || isInteger(T)) {
        if (D == SQL_BIT) {
        } else if (dInteger) {
            if (T == SQL_BIT || isUnsignedInt(D) != isUnsignedInt(T) || integerWidth(D) > integerWidth(T))
                first = MSG_BULK_VALUES_MAY_OVERFLOW;
        } else if (D == SQL_DECIMAL) {
            static const uint64_t kDigits[] = {0, 2, 4, 9, 18};
            if (T != SQL_BIT && !isUnsignedInt(T) && P <= kDigits[integerWidth(T)]) {
                if (S != 0)
                    first = MSG_BULK_VALUES_MAY_ROUND;
            } else if (S > 0) {
                first = MSG_BULK_VALUES_MAY_ROUND;
                second = MSG_BULK_VALUES_MAY_OVERFLOW;
            } else {
                first = MSG_BULK_VALUES_MAY_OVERFLOW;
            }
        } else if (dIs({SQL_REAL, SQL_DOUBLE, 129, 130})) {
            first = MSG_BULK_VALUES_MAY_ROUND;
            second = MSG_BULK_VALUES_MAY_OVERFLOW;
        } else {
            bad = true;
        }
    } else if (T == SQL_REAL || T == SQL_DOUBLE || T == 129 || T == 130) {
        int col = T == SQL_REAL ? 0 : T == SQL_DOUBLE ? 1 : T == 129 ? 2 : 3;
        if (D == SQL_BIT || (dInteger && integerWidth(D) <= 2)) {
        } else if (dInteger && integerWidth(D) == 3) {
            if (col == 0)
                first = MSG_BULK_VALUES_MAY_LOSE_PRECISION;
        } else if (dInteger) {
            if (col != 3)
                first = MSG_BULK_VALUES_MAY_LOSE_PRECISION;
        } else if (D == SQL_DECIMAL) {
            static const uint64_t kRange[] = {38, 308, 385, 6145};
            static const uint64_t kPrecision[] = {7, 16, 16, 34};
            if (PminusS >= kRange[col])
                first = MSG_BULK_VALUES_MAY_OVERFLOW;
            else if (P > kPrecision[col])
                first = MSG_BULK_VALUES_MAY_LOSE_PRECISION;
        } else if (D == SQL_REAL) {
        } else if (D == SQL_DOUBLE) {
            if (col == 0)
                first = MSG_BULK_VALUES_MAY_OVERFLOW;
            else if (col >= 2)
                first = MSG_BULK_DOUBLE_TO_DECFLOAT;
        } else if (D == 129) {
            if (col <= 1)
                first = MSG_BULK_VALUES_MAY_OVERFLOW;
        } else if (D == 130) {
            if (col <= 2)
                first = MSG_BULK_VALUES_MAY_OVERFLOW;
        } else {
            bad = true;
        }
    } else if (T == SQL_DECIMAL) {
        int64_t Ti = Tp - Ts;
        static const int64_t kIntDigits[] = {0, 3, 5, 10, 19};
        if (D == SQL_BIT) {
        } else if (dInteger) {
            int64_t need = D == SQL_C_UBIGINT ? 20 : kIntDigits[integerWidth(D)];
            if (Ti < need)
                first = MSG_BULK_VALUES_MAY_OVERFLOW;
        } else if (D == SQL_DECIMAL) {
            if (Ti < int64_t(P) - S)
                first = MSG_BULK_VALUES_MAY_OVERFLOW;
            else if (Ts < S)
                first = MSG_BULK_VALUES_MAY_LOSE_PRECISION;
        } else if (D == SQL_REAL) {
            first = Ti > 38 ? MSG_BULK_VALUES_MAY_LOSE_PRECISION : MSG_BULK_VALUES_MAY_OVERFLOW;
        } else if (dIs({SQL_DOUBLE, 129, 130})) {
            first = MSG_BULK_VALUES_MAY_OVERFLOW;
        } else {
            bad = true;
        }
    } else if (isDateTime(T)) {
        int col = T == SQL_DATE ? 0 : T == SQL_TIME ? 1 : T == SQL_TIMESTAMP ? 2 : 3;
        if (dIs({SQL_CHAR, SQL_VARCHAR, SQL_LONGVARCHAR})) {
            first = MSG_BULK_VALUES_MAY_NOT_CONVERT;
        } else if (D == SQL_BIT || (dInteger && integerWidth(D) <= 2)) {
            first = col == 1 ? MSG_BULK_VALUES_MAY_OVERFLOW : MSG_BULK_VALUES_MAY_NOT_CONVERT;
        } else if (dInteger) {
            first = MSG_BULK_VALUES_MAY_OVERFLOW;
        } else if (D == SQL_DECIMAL) {
            if (col == 0)
                first = PminusS > 8 ? MSG_BULK_VALUES_MAY_OVERFLOW : S > 0 ? MSG_BULK_VALUES_MAY_LOSE_PRECISION : 0;
            else if (col == 1)
                first = S == int64_t(P) ? 0 : MSG_BULK_VALUES_MAY_OVERFLOW;
            else
                first = PminusS > 8 ? MSG_BULK_VALUES_MAY_OVERFLOW : 0;
        } else if (dIs({SQL_REAL, SQL_DOUBLE, 129, 130})) {
            first = MSG_BULK_VALUES_MAY_OVERFLOW;
        } else if (D == SQL_DATE) {
            bad = col == 1;
            if (col == 3 && Ts < S)
                first = MSG_BULK_VALUES_MAY_LOSE_PRECISION;
        } else if (D == SQL_TIME) {
            bad = col == 0;
            if (col == 3 && Ts < S)
                first = MSG_BULK_VALUES_MAY_LOSE_PRECISION;
        } else if (D == SQL_TIMESTAMP) {
            if (col <= 1)
                first = MSG_BULK_VALUES_MAY_ROUND;
            else if (Ts < S)
                first = MSG_BULK_VALUES_MAY_LOSE_PRECISION;
        } else if (D == 131) {
            if (col <= 1)
                first = MSG_BULK_VALUES_MAY_ROUND;
            else if (col == 2)
                first = MSG_BULK_VALUES_MAY_LOSE_PRECISION;
        } else {
            bad = true;
        }
    } else {
        bad = true;
    }
    if (bad) {
        *incompatible = true;
        (void)add(MSG_BULK_TYPES_INCOMPATIBLE, &t, &d, 0);
        return;
    }
    if (first != 0 && add(first, &t, &d, 0) == 0 && second != 0)
        (void)add(second, &t, &d, 0);
}

namespace {

[[nodiscard]] int16_t validate(BaseConnection* conn, const char* table, const uint16_t* tableW, const char* description,
                               const uint16_t* descriptionW, char* messages, uint16_t* messagesW, int32_t bufferLength,
                               int32_t* messageCount) noexcept
{
    if (bufferLength <= 0) {
        basePostError(kBaseIdxRightTruncation);
        return SQL_ERROR;
    }
    if ((messages == nullptr && messagesW == nullptr) || messageCount == nullptr) {
        basePostError(kBaseIdxNullPointer);
        return SQL_ERROR;
    }
    *messageCount = 0;
    // Wide text in another encoding than UTF-16LE is gathered in UTF-16
    // and handed over at the end.
    bool recode = messagesW != nullptr && conn->wideCharCodePage != 0 && conn->wideCharCodePage != kCodePageUtf16LE;
    RamPtr<uint16_t> recoded;
    uint16_t* gathered = messagesW;
    if (recode) {
        recoded = ramMake<uint16_t>(size_t(bufferLength));
        if (!recoded)
            return SQL_ERROR;
        gathered = recoded.get();
    }
    if (gathered != nullptr)
        gathered[0] = 0;
    else
        messages[0] = 0;

    BulkText tableText;
    BulkText descText;
    if (tableText.take(conn, table, tableW) != 0 || descText.take(conn, description, descriptionW) != 0)
        return SQL_ERROR;
    if (descText.text == nullptr || tableText.text == nullptr) {
        basePostError(kBaseIdxNullPointer);
        return SQL_ERROR;
    }
    char descPath[KA_BULK_PATH_SIZE] = {};
    if (descText.length != 0 && bulkPathOf(descText.text, descPath) != 0)
        return SQL_ERROR;
    BulkOwnerScope owner(conn);
    BulkLoadFile file;
    if (file.open(nullptr, descPath, nullptr, nullptr, 0, BulkDelimiters{}) != 0)
        return SQL_ERROR;
    BulkValidator v(conn, messages, gathered, bufferLength, messageCount);
    bool invalid = false;
    int16_t result = SQL_ERROR;
    do {
        if (file.columnCount == 0) {
            (void)v.add(MSG_BULK_DESCRIPTION_EMPTY, nullptr, nullptr, 0);
            invalid = true;
            break;
        }
        BulkStatement stmt;
        KaStringW sql;
        if (stmt.create(conn) != 0 || bulkTableQuery(tableText, u" WHERE 0=1", sql) != 0)
            return SQL_ERROR;
        int16_t rc = stmt.stmt->prepare(sql.data, int32_t(sql.len - 1));
        stmt.moveDiagnostics(-1, -1, false);
        if (rc == SQL_ERROR)
            return SQL_ERROR;
        uint16_t n = 0;
        rc = stmt.stmt->getResultColumnCount(&n);
        stmt.moveDiagnostics(-1, -1, false);
        if (rc != 0 || n == 0)
            return SQL_ERROR;
        KaErrorList* list = KaErrorCurrentList();
        for (uint16_t i = 1; i <= n; ++i) {
            BulkTableColumn t{};
            int16_t nameLength = 0;
            int16_t sqlType = 0;
            uint64_t size = 0;
            int16_t digits = 0;
            rc = stmt.stmt->describeCol(i, t.name, int16_t(sizeof t.name / 2), &nameLength, &sqlType, &size, &digits,
                                        &t.nullable);
            int64_t isUnsigned = 0;
            (void)stmt.stmt->colAttribute(i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
            (void)stmt.stmt->colAttribute(i, SQL_DESC_PRECISION, nullptr, 0, nullptr, &t.precision);
            stmt.moveDiagnostics(-1, i, true);
            if (rc == SQL_ERROR)
                return SQL_ERROR;
            t.type = bulkIntegerType(sqlType, isUnsigned == SQL_TRUE);
            t.size = size;
            t.scale = digits;
            const BaseIRDRecord* record = stmt.stmt->ird != nullptr ? stmt.stmt->ird->irdRecord(i) : nullptr;
            t.codePage = record != nullptr && record->codePage > 0 ? record->codePage : kCodePageUtf8;
            const BulkColumnDesc* d = file.column(i);
            if (d == nullptr) {
                (void)v.add(MSG_BULK_TABLE_COLUMN_UNDESCRIBED, &t, nullptr, 0);
                continue;
            }
            bool incompatible = false;
            v.compare(t, *d, &incompatible);
            if (incompatible || (list != nullptr && list->errorCount != 0))
                invalid = true;
        }
        for (uint64_t i = uint64_t(n) + 1; i <= file.columnCount; ++i)
            (void)v.add(MSG_BULK_DESCRIPTION_COLUMN_EXTRA, nullptr, file.column(i), int64_t(i));
        result = SQL_SUCCESS;
    } while (false);
    if (recode) {
        int64_t produced = 0;
        int32_t truncated = 0;
        if (baseConvertTextToBuffer(kCodePageUtf16LE, gathered, int64_t(v.used * 2), conn->wideCharCodePage, messagesW,
                                    bufferLength, 0, &produced, &truncated, &conn->icuCache) != 0)
            return SQL_ERROR;
    }
    if (invalid) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_BULK_TABLE_INVALID);
        return SQL_ERROR;
    }
    // A finding that did not fit the buffer is an error of the call, even
    // where it did not make the table invalid.
    KaErrorList* list = KaErrorCurrentList();
    if (list != nullptr && list->errorCount != 0)
        return SQL_ERROR;
    if (result == SQL_SUCCESS && v.used != 0)
        basePostWarningMsg(kBaseIdxGeneralWarning, MSG_BULK_TABLE_VALID_WITH_NOTES);
    return result;
}

const BaseBulkOperations kBulkOperations = {bulkExportTable, bulkValidateTable, bulkExportResultSet, bulkLoadTableBody};

}  // namespace

int16_t bulkValidateTable(BaseConnection* conn, const char* table, const uint16_t* tableW, const char* description,
                          const uint16_t* descriptionW, char* messages, uint16_t* messagesW, int32_t bufferLength,
                          int32_t* messageCount) noexcept
{
    if (!conn->isConnected()) {
        basePostNotConnected();
        return SQL_ERROR;
    }
    return validate(conn, table, tableW, description, descriptionW, messages, messagesW, bufferLength, messageCount);
}

void bulkRegisterOperations() noexcept
{
    baseSetBulkOperations(&kBulkOperations);
}
