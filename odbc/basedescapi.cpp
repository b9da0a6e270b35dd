// The descriptor ODBC functions of BaseDescriptor: SQLGetDescField,
// SQLSetDescField, SQLGetDescRec, SQLSetDescRec, SQLCopyDesc and the check
// SQLFreeHandle asks. Which fields each kind (application, IPD, IRD) reads
// and sets, and the consistency ODBC asks of them.
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>

#include "foundation/kaerror.h"
#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basedescribe.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

enum class Kind { App, Ipd, Ird };

// Bit of WORKAROUNDS: result columns without a name are called "C" and
// their number.
constexpr uint64_t kNameUnnamedColumns = 0x40;

Kind kindOf(const BaseDescriptor* d) noexcept
{
    if (d->isIRD != 0)
        return Kind::Ird;
    return d->implementation != 0 ? Kind::Ipd : Kind::App;
}

// Kind masks of the field tables.
constexpr unsigned kA = 1;
constexpr unsigned kP = 2;
constexpr unsigned kR = 4;

unsigned bit(Kind k) noexcept
{
    return k == Kind::App ? kA : k == Kind::Ipd ? kP : kR;
}

size_t textUnits(const uint16_t* text) noexcept
{
    size_t n = 0;
    if (text != nullptr)
        while (text[n] != 0)
            ++n;
    return n;
}

// A text into a buffer counted in bytes: the full length is reported, and a
// text that does not fit is cut to whole characters (never half a surrogate
// pair) with its terminator and 01004. Nothing is written past the buffer.
void putTextBytes(const uint16_t* text, void* buffer, int32_t bufferLength, int32_t* lengthOut) noexcept
{
    const size_t units = textUnits(text);
    if (lengthOut != nullptr)
        *lengthOut = static_cast<int32_t>(units * 2);
    if (buffer == nullptr || bufferLength <= 0)
        return;
    auto* out = static_cast<uint16_t*>(buffer);
    const size_t room = static_cast<size_t>(bufferLength) / 2;  // whole characters, terminator included
    if (room > units) {
        if (units > 0)
            std::memcpy(out, text, units * 2);
        out[units] = 0;
        return;
    }
    basePostWarning(kBaseIdxTruncated);
    if (room == 0)
        return;  // not even a terminator fits
    size_t keep = room - 1;
    if (keep > 0 && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF)
        --keep;
    if (keep > 0)
        std::memcpy(out, text, keep * 2);
    out[keep] = 0;
}

int16_t reportedType(int16_t concise) noexcept
{
    if (concise >= SQL_TYPE_DATE && concise <= SQL_TYPE_TIMESTAMP)
        return SQL_DATETIME;
    if (concise >= SQL_INTERVAL_YEAR && concise <= SQL_INTERVAL_MINUTE_TO_SECOND)
        return SQL_INTERVAL;
    return concise;
}

bool charLike(int16_t t) noexcept
{
    switch (t) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return true;
    default: return false;
    }
}

// The concise type a verbose type and interval code stand for; the verbose
// type back when the concise one is given.
void applyType(BaseRecord* r, int16_t type, bool application) noexcept
{
    r->setConciseType(type);
    if (type == SQL_DATETIME) {
        r->conciseType = r->intervalCode == SQL_CODE_DATE   ? SQL_TYPE_DATE
                         : r->intervalCode == SQL_CODE_TIME ? SQL_TYPE_TIME
                                                            : SQL_TYPE_TIMESTAMP;
    } else if (type == SQL_INTERVAL) {
        r->conciseType = static_cast<int16_t>(r->intervalCode >= 1 && r->intervalCode <= 13 ? 100 + r->intervalCode
                                                                                            : SQL_INTERVAL_YEAR);
    } else if (type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP) {
        r->intervalCode = static_cast<int16_t>(type - SQL_TYPE_DATE + 1);
    } else if (type >= SQL_INTERVAL_YEAR && type <= SQL_INTERVAL_MINUTE_TO_SECOND) {
        r->intervalCode = static_cast<int16_t>(type - 100);
    } else if (type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_WCHAR || type == SQL_WVARCHAR) {
        r->length = 1;
        r->precision = 0;
    }
    if (application)
        r->appConciseType = r->conciseType;
}

template <class T>
void put(void* value, T v) noexcept
{
    if (value != nullptr)
        std::memcpy(value, &v, sizeof v);
}

bool isHeaderField(int16_t field) noexcept
{
    switch (field) {
    case SQL_DESC_ARRAY_SIZE:
    case SQL_DESC_ARRAY_STATUS_PTR:
    case SQL_DESC_BIND_OFFSET_PTR:
    case SQL_DESC_BIND_TYPE:
    case SQL_DESC_ROWS_PROCESSED_PTR:
    case SQL_DESC_COUNT:
    case SQL_DESC_ALLOC_TYPE: return true;
    default: return false;
    }
}

// The most digits every value of SQL_NUMERIC_STRUCT's 16-byte mantissa
// holds; a 39th digit fits only some values.
constexpr int16_t kMaxNumericCPrecision = kBaseNumericMaxDigits - 1;
// Fractions of a second go down to nanoseconds; an interval's leading field
// is an SQLUINTEGER, whose every 9-digit value fits.
constexpr int16_t kMaxSecondsPrecision = 9;
constexpr int64_t kMaxLeadingPrecision = 9;

bool knownCType(int16_t c) noexcept
{
    return c == SQL_C_CHAR || c == SQL_C_WCHAR || c == SQL_C_BINARY || c == SQL_C_DEFAULT || c == kBaseCCharNoTerm ||
           c == kBaseCWCharNoTerm || baseFixedCTypeSize(c) != 0;
}

bool hasSeconds(int16_t c) noexcept
{
    switch (c) {
    case SQL_C_TYPE_TIME:
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP:
    case SQL_C_INTERVAL_SECOND:
    case SQL_C_INTERVAL_DAY_TO_SECOND:
    case SQL_C_INTERVAL_HOUR_TO_SECOND:
    case SQL_C_INTERVAL_MINUTE_TO_SECOND: return true;
    default: return false;
    }
}

// Whether an application record describes a buffer the driver can fill or
// read: a C type it knows, the datetime or interval code of that type, and
// the precision, scale, leading precision and buffer length the type takes.
// Precision and scale of SQL_C_NUMERIC count only once the application set
// them; until then conversions choose their own.
bool applicationRecordConsistent(const BaseRecord& r) noexcept
{
    const int16_t c = r.conciseType;
    if (!knownCType(c))
        return false;
    if (c >= SQL_C_TYPE_DATE && c <= SQL_C_TYPE_TIMESTAMP && r.intervalCode != c - SQL_C_TYPE_DATE + 1)
        return false;
    const int32_t interval = baseIntervalCodeOfCType(c);
    if (interval != 0 &&
        (r.intervalCode != interval || r.intervalPrecision < 1 || r.intervalPrecision > kMaxLeadingPrecision))
        return false;
    if (hasSeconds(c) && (r.precision < 0 || r.precision > kMaxSecondsPrecision))
        return false;
    if (c == SQL_C_NUMERIC) {
        const auto* ax = dynamic_cast<const BaseAXDRecord*>(&r);
        const bool precisionSet = ax != nullptr && ax->precisionSet != 0;
        const bool scaleSet = ax != nullptr && ax->scaleSet != 0;
        if (precisionSet && (r.precision < 1 || r.precision > kMaxNumericCPrecision))
            return false;
        const int16_t upTo = precisionSet ? r.precision : kMaxNumericCPrecision;
        if (scaleSet && (r.scale < 0 || r.scale > upTo))
            return false;
    }
    // Text and bytes go into a buffer whose length the octet length gives.
    if (baseFixedCTypeSize(c) == 0 && c != SQL_C_DEFAULT && r.octetLength < 0)
        return false;
    return true;
}

// The fields of an application record that SQLSetDescRec changes, so that a
// record found inconsistent is put back as it was.
struct AppRecordFields {
    explicit AppRecordFields(const BaseRecord& r) noexcept
        : conciseType(r.conciseType), appConciseType(r.appConciseType), intervalCode(r.intervalCode), length(r.length),
          octetLength(r.octetLength), precision(r.precision), scale(r.scale)
    {
        if (const auto* ax = dynamic_cast<const BaseAXDRecord*>(&r); ax != nullptr) {
            precisionSet = ax->precisionSet;
            scaleSet = ax->scaleSet;
        }
    }
    void restore(BaseRecord& r) const noexcept
    {
        r.conciseType = conciseType;
        r.appConciseType = appConciseType;
        r.intervalCode = intervalCode;
        r.length = length;
        r.octetLength = octetLength;
        r.precision = precision;
        r.scale = scale;
        if (auto* ax = dynamic_cast<BaseAXDRecord*>(&r); ax != nullptr) {
            ax->precisionSet = precisionSet;
            ax->scaleSet = scaleSet;
        }
    }
    int16_t conciseType;
    int16_t appConciseType;
    int16_t intervalCode;
    uint64_t length;
    int64_t octetLength;
    int16_t precision;
    int16_t scale;
    uint32_t precisionSet = 0;
    uint32_t scaleSet = 0;
};

}  // namespace

// Record recNumber of a descriptor being set, made (with the records below
// it) when the descriptor does not reach it yet; null after the diagnostic.
static BaseRecord* recordToSet(BaseDescriptor* d, int16_t recNumber) noexcept
{
    if (recNumber > d->count() && d->setRecordCount(recNumber) != 0) {
        basePostError(kBaseIdxOutOfMemory);
        return nullptr;
    }
    BaseRecord* r = d->record(recNumber);
    if (r == nullptr)
        basePostError(kBaseIdxBadDescIndex);
    return r;
}

// An IRD describes its statement's result first; 0, or 1 with the error.
static int16_t describeIrd(BaseDescriptor* d) noexcept
{
    BaseStatement* stmt = d->statement;
    if (stmt == nullptr || stmt->statementState == kBaseStmtAllocated) {
        basePostError(MSG_SQLSTATE_STATEMENT_NOT_PREPARED);
        return 1;
    }
    uint16_t columns = 0;
    return stmt->getResultColumnCount(&columns) != 0 ? 1 : 0;
}

int16_t BaseDescriptor::copyDesc(BaseDescriptor* source) noexcept
{
    enter(SQL_API_SQLCOPYDESC);
    if (isIRD != 0) {
        basePostError(MSG_SQLSTATE_CANNOT_MODIFY_IRD);
        return leave(SQL_ERROR);
    }
    if (source == nullptr) {
        basePostError(kBaseIdxNullPointer);
        return leave(SQL_ERROR);
    }
    if (source->isIRD != 0 && describeIrd(source) != 0)
        return leave(SQL_ERROR);
    if (source == this)
        return leave(SQL_SUCCESS);
    if (copyFrom(*source) != 0)
        return leave(SQL_ERROR);
    if (auto* axd = dynamic_cast<BaseAXD*>(this); axd != nullptr)
        axd->freeValidated();
    return leave(SQL_SUCCESS);
}

int16_t BaseDescriptor::freeCheck() noexcept
{
    if (autoAllocated == 0)
        return 0;
    // A statement's own descriptors go with the statement.
    enter(SQL_API_SQLFREEHANDLE);
    basePostErrorMsg(kBaseIdxGeneralError, MSG_AUTOMATIC_DESCRIPTOR)->setSqlstate("HY017");
    return leave(SQL_ERROR);
}

int16_t BaseDescriptor::getDescField(int16_t recNumber, int16_t field, void* value, int32_t bufferLength,
                                     int32_t* stringLength) noexcept
{
    enter(SQL_API_SQLGETDESCFIELD);
    const Kind kind = kindOf(this);
    if (kind == Kind::Ird && describeIrd(this) != 0)
        return leave(SQL_ERROR);
    if (recNumber < 0) {
        basePostError(kBaseIdxBadDescIndex);
        return leave(SQL_ERROR);
    }
    if (field == SQL_DESC_ALLOC_TYPE) {
        put<int16_t>(value, autoAllocated != 0 ? SQL_DESC_ALLOC_AUTO : SQL_DESC_ALLOC_USER);
        return leave(SQL_SUCCESS);
    }
    if (recNumber > count())
        return leave(SQL_NO_DATA);
    auto* axd = dynamic_cast<BaseAXD*>(this);
    if (isHeaderField(field)) {
        if (recNumber != 0) {
            basePostError(kBaseIdxBadDescIndex);
            return leave(SQL_ERROR);
        }
        switch (field) {
        case SQL_DESC_COUNT: put<int16_t>(value, static_cast<int16_t>(count())); return leave(SQL_SUCCESS);
        case SQL_DESC_ARRAY_STATUS_PTR: put<void*>(value, arrayStatusPtr); return leave(SQL_SUCCESS);
        case SQL_DESC_ARRAY_SIZE:
            if (axd == nullptr)
                break;
            put<SQLULEN>(value, static_cast<SQLULEN>(axd->arraySize));
            return leave(SQL_SUCCESS);
        case SQL_DESC_BIND_OFFSET_PTR:
            if (axd == nullptr)
                break;
            put<void*>(value, axd->bindOffsetPtr);
            return leave(SQL_SUCCESS);
        case SQL_DESC_BIND_TYPE:
            if (axd == nullptr)
                break;
            put<int32_t>(value, static_cast<int32_t>(axd->bindType));
            return leave(SQL_SUCCESS);
        case SQL_DESC_ROWS_PROCESSED_PTR:
            if (kind == Kind::App)
                break;
            put<void*>(value, rowsProcessedPtr);
            return leave(SQL_SUCCESS);
        default: break;
        }
        basePostError(kBaseIdxBadDescField);
        return leave(SQL_ERROR);
    }
    BaseRecord* r = record(recNumber);
    if (r == nullptr) {
        basePostError(kBaseIdxBadDescIndex);
        return leave(SQL_ERROR);
    }
    auto* ixd = dynamic_cast<BaseIXDRecord*>(r);
    auto* ird = dynamic_cast<BaseIRDRecord*>(r);
    auto* ipd = dynamic_cast<BaseIPDRecord*>(r);
    auto* ax = dynamic_cast<BaseAXDRecord*>(r);
    const int16_t concise = kind == Kind::App ? r->appConciseType : r->conciseType;
    const unsigned k = bit(kind);
    auto allowed = [k](unsigned mask) { return (mask & k) != 0; };
    auto text = [&](const uint16_t* t) {
        if (bufferLength < 0) {
            basePostError(kBaseIdxBadLength);
            return leave(SQL_ERROR);
        }
        putTextBytes(t, value, bufferLength, stringLength);
        return leave(SQL_SUCCESS);
    };
    switch (field) {
    case SQL_DESC_CONCISE_TYPE: put<int16_t>(value, concise); return leave(SQL_SUCCESS);
    case SQL_DESC_TYPE: put<int16_t>(value, reportedType(concise)); return leave(SQL_SUCCESS);
    case SQL_DESC_DATETIME_INTERVAL_CODE: put<int16_t>(value, r->intervalCode); return leave(SQL_SUCCESS);
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
        put<int32_t>(value, static_cast<int32_t>(r->intervalPrecision));
        return leave(SQL_SUCCESS);
    case SQL_DESC_NUM_PREC_RADIX:
        put<int32_t>(value, static_cast<int32_t>(r->numPrecRadix()));
        return leave(SQL_SUCCESS);
    case SQL_DESC_NULLABLE: put<int16_t>(value, r->nullable); return leave(SQL_SUCCESS);
    case SQL_DESC_OCTET_LENGTH: put<SQLLEN>(value, r->octetLength); return leave(SQL_SUCCESS);
    case SQL_DESC_PRECISION:
        put<int16_t>(value, ipd != nullptr ? ipd->appPrecision : r->precision);
        return leave(SQL_SUCCESS);
    case SQL_DESC_SCALE: put<int16_t>(value, ipd != nullptr ? ipd->appScale : r->scale); return leave(SQL_SUCCESS);
    case SQL_DESC_LENGTH: {
        SQLULEN length = 0;
        if (charLike(r->conciseType))
            length = r->length;
        else if (r->conciseType == SQL_BIT)
            length = 1;
        else if (reportedType(r->conciseType) != r->conciseType)
            length = static_cast<SQLULEN>(r->displaySize());
        put<SQLULEN>(value, length);
        return leave(SQL_SUCCESS);
    }
    case SQL_DESC_NAME: {
        const uint16_t* n = r->name;
        if (ird != nullptr && (n == nullptr || n[0] == 0))
            n = ird->baseColumnName;
        uint16_t made[8] = {};
        if (ird != nullptr && textUnits(n) == 0 && connection != nullptr &&
            (connection->workarounds & kNameUnnamedColumns) != 0) {
            // "C" and the column number, for applications that need a name.
            char digits[8] = {};
            const int len = std::snprintf(digits, sizeof digits, "C%d", static_cast<int>(recNumber));
            for (int i = 0; i < len && i < 7; ++i)
                made[i] = static_cast<uint16_t>(digits[i]);
            n = made;
        }
        return text(n);
    }
    default: break;
    }
    if (kind == Kind::App && ax != nullptr) {
        switch (field) {
        case SQL_DESC_DATA_PTR: put<void*>(value, ax->dataPtr); return leave(SQL_SUCCESS);
        case SQL_DESC_INDICATOR_PTR: put<void*>(value, ax->indicatorPtr); return leave(SQL_SUCCESS);
        case SQL_DESC_OCTET_LENGTH_PTR: put<void*>(value, ax->octetLengthPtr); return leave(SQL_SUCCESS);
        default: break;
        }
    }
    if (ixd != nullptr && allowed(kP | kR)) {
        switch (field) {
        case SQL_DESC_UNSIGNED: put<int16_t>(value, r->isUnsigned() ? SQL_TRUE : SQL_FALSE); return leave(SQL_SUCCESS);
        case SQL_DESC_FIXED_PREC_SCALE: put<int16_t>(value, SQL_FALSE); return leave(SQL_SUCCESS);
        case SQL_DESC_CASE_SENSITIVE: put<int32_t>(value, charLike(r->conciseType)); return leave(SQL_SUCCESS);
        case SQL_DESC_ROWVER: put<int16_t>(value, SQL_FALSE); return leave(SQL_SUCCESS);
        case SQL_DESC_TYPE_NAME: return text(ixd->typeInfo != nullptr ? ixd->typeInfo->typeName : nullptr);
        case SQL_DESC_LOCAL_TYPE_NAME: return text(ixd->typeInfo != nullptr ? ixd->typeInfo->typeName : nullptr);
        case SQL_DESC_UNNAMED:
            put<int16_t>(value, textUnits(r->name) == 0 && (ird == nullptr || textUnits(ird->baseColumnName) == 0)
                                    ? SQL_UNNAMED
                                    : SQL_NAMED);
            return leave(SQL_SUCCESS);
        default: break;
        }
    }
    if (ipd != nullptr && field == SQL_DESC_PARAMETER_TYPE) {
        put<int16_t>(value, ipd->appParamType);
        return leave(SQL_SUCCESS);
    }
    if (ird != nullptr) {
        switch (field) {
        case SQL_DESC_DISPLAY_SIZE: put<SQLLEN>(value, r->displaySize()); return leave(SQL_SUCCESS);
        case SQL_DESC_UPDATABLE: put<int16_t>(value, ird->updatable); return leave(SQL_SUCCESS);
        case SQL_DESC_AUTO_UNIQUE_VALUE: put<int32_t>(value, SQL_FALSE); return leave(SQL_SUCCESS);
        case SQL_DESC_SEARCHABLE: put<int16_t>(value, ird->searchable); return leave(SQL_SUCCESS);
        case SQL_DESC_TABLE_NAME:
        case SQL_DESC_BASE_TABLE_NAME: return text(ird->tableName);
        case SQL_DESC_SCHEMA_NAME: return text(ird->schemaName);
        case SQL_DESC_CATALOG_NAME: return text(ird->catalogName);
        case SQL_DESC_LABEL: return text(textUnits(ird->label) != 0 ? ird->label : ird->name);
        case SQL_DESC_BASE_COLUMN_NAME: return text(ird->baseColumnName);
        case SQL_DESC_LITERAL_PREFIX: return text(ird->typeInfo != nullptr ? ird->typeInfo->literalPrefix : nullptr);
        case SQL_DESC_LITERAL_SUFFIX: return text(ird->typeInfo != nullptr ? ird->typeInfo->literalSuffix : nullptr);
        case SQL_DESC_MAXIMUM_SCALE:
            put<int16_t>(value, ird->typeInfo != nullptr ? ird->typeInfo->maximumScale : 0);
            return leave(SQL_SUCCESS);
        case SQL_DESC_MINIMUM_SCALE:
            put<int16_t>(value, ird->typeInfo != nullptr ? ird->typeInfo->minimumScale : 0);
            return leave(SQL_SUCCESS);
        default: break;
        }
        // The fields the framework does not keep are the driver's to
        // answer, as SQLColAttribute asks it; text goes to the buffer, a
        // number into the buffer itself.
        if (statement != nullptr) {
            // A number is written at the width the buffer length names (2 or
            // 4 bytes), else as an SQLLEN, so that a short buffer is never
            // overrun.
            constexpr int64_t kNoNumber = INT64_MIN;
            int64_t number = kNoNumber;
            BaseOutString out(value, bufferLength, stringLength, stringLength, 2);
            if (statement->colAttributeHook(static_cast<uint16_t>(recNumber), static_cast<uint16_t>(field), &out,
                                            &number) != 0)
                return leave(SQL_ERROR);
            if (number != kNoNumber && value != nullptr) {
                const int32_t width = bufferLength == 2 || bufferLength == 4 ? bufferLength : 8;
                std::memcpy(value, &number, static_cast<size_t>(width));
                if (stringLength != nullptr)
                    *stringLength = width;
            }
            return leave(SQL_SUCCESS);
        }
    }
    basePostError(kBaseIdxBadDescField);
    return leave(SQL_ERROR);
}

int16_t BaseDescriptor::getDescRec(int16_t recNumber, uint16_t* name, int16_t bufferLength, int16_t* nameLength,
                                   int16_t* type, int16_t* subType, int64_t* length, int16_t* precision, int16_t* scale,
                                   int16_t* nullable) noexcept
{
    enter(SQL_API_SQLGETDESCREC);
    const Kind kind = kindOf(this);
    if (kind == Kind::Ird && describeIrd(this) != 0)
        return leave(SQL_ERROR);
    if (recNumber < 0 || recNumber > count()) {
        basePostError(kBaseIdxBadDescIndex);
        return leave(SQL_ERROR);
    }
    BaseRecord* r = record(recNumber);
    if (r == nullptr) {
        basePostError(kBaseIdxBadDescIndex);
        return leave(SQL_ERROR);
    }
    auto* ird = dynamic_cast<BaseIRDRecord*>(r);
    auto* ipd = dynamic_cast<BaseIPDRecord*>(r);
    const uint16_t* n = r->name;
    if (ird != nullptr && textUnits(ird->baseColumnName) != 0)
        n = ird->baseColumnName;
    const size_t units = textUnits(n);
    if (nameLength != nullptr)
        *nameLength = static_cast<int16_t>(units);
    if (name != nullptr && bufferLength > 0) {
        size_t keep = units < static_cast<size_t>(bufferLength) ? units : static_cast<size_t>(bufferLength) - 1;
        if (keep < units) {
            basePostWarning(kBaseIdxTruncated);
            if (keep > 0 && n[keep - 1] >= 0xD800 && n[keep - 1] <= 0xDBFF)
                --keep;
        }
        if (keep > 0)
            std::memcpy(name, n, keep * 2);
        name[keep] = 0;
    }
    const int16_t concise = kind == Kind::App ? r->appConciseType : r->conciseType;
    if (type != nullptr)
        *type = reportedType(concise);
    if (subType != nullptr)
        *subType = r->intervalCode;
    if (length != nullptr)
        *length = charLike(concise) ? r->octetLength : 0;
    if (precision != nullptr)
        *precision = ipd != nullptr ? ipd->appPrecision : r->precision;
    if (scale != nullptr)
        *scale = ipd != nullptr ? ipd->appScale : r->scale;
    if (nullable != nullptr)
        *nullable = r->nullable;
    return leave(SQL_SUCCESS);
}

int16_t BaseDescriptor::setDescField(int16_t recNumber, int16_t field, void* value, int32_t bufferLength) noexcept
{
    enter(SQL_API_SQLSETDESCFIELD);
    const Kind kind = kindOf(this);
    if (recNumber < 0) {
        basePostError(kBaseIdxBadDescIndex);
        return leave(SQL_ERROR);
    }
    if (kind == Kind::Ird && field != SQL_DESC_ARRAY_STATUS_PTR && field != SQL_DESC_ROWS_PROCESSED_PTR) {
        basePostError(MSG_SQLSTATE_CANNOT_MODIFY_IRD);
        return leave(SQL_ERROR);
    }
    auto* axd = dynamic_cast<BaseAXD*>(this);
    const auto number = static_cast<int64_t>(reinterpret_cast<intptr_t>(value));
    if (isHeaderField(field)) {
        if (recNumber != 0) {
            basePostError(kBaseIdxBadDescIndex);
            return leave(SQL_ERROR);
        }
        switch (field) {
        case SQL_DESC_ARRAY_STATUS_PTR: arrayStatusPtr = static_cast<uint16_t*>(value); return leave(SQL_SUCCESS);
        case SQL_DESC_ROWS_PROCESSED_PTR:
            if (kind == Kind::App)
                break;
            rowsProcessedPtr = static_cast<uint64_t*>(value);
            return leave(SQL_SUCCESS);
        case SQL_DESC_ARRAY_SIZE:
            if (axd == nullptr)
                break;
            axd->arraySize = number;
            return leave(SQL_SUCCESS);
        case SQL_DESC_BIND_OFFSET_PTR:
            if (axd == nullptr)
                break;
            axd->bindOffsetPtr = static_cast<int64_t*>(value);
            return leave(SQL_SUCCESS);
        case SQL_DESC_BIND_TYPE:
            if (axd == nullptr)
                break;
            axd->bindType = static_cast<int32_t>(number);
            return leave(SQL_SUCCESS);
        case SQL_DESC_COUNT:
            if (static_cast<int16_t>(number) < 0) {
                basePostError(kBaseIdxBadDescIndex);
                return leave(SQL_ERROR);
            }
            if (setRecordCount(static_cast<int16_t>(number)) != 0) {
                basePostError(kBaseIdxOutOfMemory);
                return leave(SQL_ERROR);
            }
            if (axd != nullptr)
                axd->freeValidated();
            return leave(SQL_SUCCESS);
        default: break;
        }
        basePostError(kBaseIdxBadDescField);
        return leave(SQL_ERROR);
    }
    BaseRecord* r = recordToSet(this, recNumber);
    if (r == nullptr)
        return leave(SQL_ERROR);
    auto* ipd = dynamic_cast<BaseIPDRecord*>(r);
    auto* ax = dynamic_cast<BaseAXDRecord*>(r);
    const bool app = kind == Kind::App;
    const auto small = static_cast<int16_t>(number);
    bool invalidates = true;
    switch (field) {
    case SQL_DESC_CONCISE_TYPE:
    case SQL_DESC_TYPE: applyType(r, small, app); break;
    case SQL_DESC_DATETIME_INTERVAL_PRECISION: r->intervalPrecision = number; break;
    case SQL_DESC_LENGTH: r->length = static_cast<uint64_t>(number); break;
    case SQL_DESC_OCTET_LENGTH: r->octetLength = number; break;
    case SQL_DESC_NULLABLE: r->nullable = small, invalidates = false; break;
    case SQL_DESC_INDICATOR_PTR: r->indicatorPtr = static_cast<int64_t*>(value); break;
    case SQL_DESC_PRECISION:
        r->precision = small;
        if (ipd != nullptr)
            ipd->appPrecision = small;
        if (ax != nullptr)
            ax->precisionSet = 1;
        break;
    case SQL_DESC_SCALE:
        r->scale = small;
        if (ipd != nullptr)
            ipd->appScale = small;
        if (ax != nullptr)
            ax->scaleSet = 1;
        break;
    case SQL_DESC_DATETIME_INTERVAL_CODE:
        r->intervalCode = small;
        if (r->conciseType >= SQL_TYPE_DATE && r->conciseType <= SQL_TYPE_TIMESTAMP)
            applyType(r, SQL_DATETIME, app);
        else if (r->conciseType >= SQL_INTERVAL_YEAR && r->conciseType <= SQL_INTERVAL_MINUTE_TO_SECOND)
            applyType(r, SQL_INTERVAL, app);
        break;
    case SQL_DESC_DATA_PTR:
        if (app) {
            // A buffer is bound only to a record that describes it; a null
            // pointer unbinds whatever the record holds.
            if (value != nullptr && !applicationRecordConsistent(*r)) {
                basePostError(MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR);
                return leave(SQL_ERROR);
            }
            r->dataPtr = value;
            break;
        }
        // An implementation record keeps no data pointer; setting one asks
        // for the consistency check only.
        if (!r->hasType()) {
            basePostError(MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR);
            return leave(SQL_ERROR);
        }
        return leave(SQL_SUCCESS);
    case SQL_DESC_OCTET_LENGTH_PTR:
        if (!app)
            goto refused;
        r->octetLengthPtr = static_cast<int64_t*>(value);
        break;
    case SQL_DESC_PARAMETER_TYPE:
        if (ipd == nullptr)
            goto refused;
        ipd->paramType = small;
        ipd->appParamType = small;
        return leave(SQL_SUCCESS);
    case SQL_DESC_NAME: {
        if (ipd == nullptr)
            goto refused;
        if (value == nullptr) {
            basePostError(kBaseIdxBadDescIndex);
            return leave(SQL_ERROR);
        }
        // Length in bytes, as for every SQLSetDescField text.
        int64_t units = 0;
        if (bufferLength == SQL_NTS)
            units = static_cast<int64_t>(textUnits(static_cast<const uint16_t*>(value)));
        else if (bufferLength >= 0)
            units = bufferLength / 2;
        else {
            basePostError(kBaseIdxBadLength);
            return leave(SQL_ERROR);
        }
        auto* copy = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(units + 1) * 2));
        if (copy == nullptr) {
            basePostError(kBaseIdxOutOfMemory);
            return leave(SQL_ERROR);
        }
        if (units > 0)
            std::memcpy(copy, value, static_cast<size_t>(units) * 2);
        copy[units] = 0;
        r->dropName();
        r->name = copy;
        r->nameBorrowed = 0;
        return leave(SQL_SUCCESS);
    }
    case SQL_DESC_UNNAMED:
        if (ipd == nullptr)
            goto refused;
        if (small == SQL_UNNAMED)
            r->dropName();
        return leave(SQL_SUCCESS);
    default: goto refused;
    }
    if (axd != nullptr && invalidates)
        axd->freeValidated();
    return leave(SQL_SUCCESS);
refused:
    basePostError(kBaseIdxBadDescField);
    return leave(SQL_ERROR);
}

int16_t BaseDescriptor::setDescRec(int16_t recNumber, int16_t type, int16_t subType, int64_t length, int16_t precision,
                                   int16_t scale, void* data, int64_t* stringLength, int64_t* indicator) noexcept
{
    enter(SQL_API_SQLSETDESCREC);
    const Kind kind = kindOf(this);
    if (kind == Kind::Ird) {
        basePostError(MSG_SQLSTATE_CANNOT_MODIFY_IRD);
        return leave(SQL_ERROR);
    }
    if (recNumber < 0 || (recNumber == 0 && isAPD != 0)) {
        basePostError(kBaseIdxBadDescIndex);
        return leave(SQL_ERROR);
    }
    BaseRecord* r = recordToSet(this, recNumber);
    if (r == nullptr)
        return leave(SQL_ERROR);
    const bool app = kind == Kind::App;
    const AppRecordFields before(*r);
    r->intervalCode = subType;
    applyType(r, type, app);
    if (auto* ax = dynamic_cast<BaseAXDRecord*>(r); ax != nullptr && (type == SQL_NUMERIC || type == SQL_DECIMAL)) {
        ax->precisionSet = 1;
        ax->scaleSet = 1;
    }
    r->octetLength = length;
    r->precision = precision;
    r->scale = scale;
    if (auto* ipd = dynamic_cast<BaseIPDRecord*>(r); ipd != nullptr) {
        ipd->appPrecision = precision;
        ipd->appScale = scale;
    }
    if (app) {
        // The whole description is checked, bound or not; one that does not
        // hold together leaves the record as it was.
        if (!applicationRecordConsistent(*r)) {
            before.restore(*r);
            basePostError(MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR);
            return leave(SQL_ERROR);
        }
        // The application's buffers: recorded, never owned or freed here.
        r->dataPtr = data;
        r->octetLengthPtr = stringLength;
        r->indicatorPtr = indicator;
        if (auto* axd = dynamic_cast<BaseAXD*>(this); axd != nullptr)
            axd->freeValidated();
    } else if (data != nullptr && !r->hasType()) {
        // An implementation record keeps no application buffers: a data
        // pointer is only checked against the record's type.
        basePostError(MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR);
        return leave(SQL_ERROR);
    }
    return leave(SQL_SUCCESS);
}
