// Result description: SQLNumResultCols, SQLDescribeCol and SQLColAttribute
// answered from the IRD that the driver's describe hook fills, the size
// corrections per SQL type, and the per-type size helpers the catalog
// functions share.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdio>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "foundation/kaerror.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basedescribe.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

// Driver-specific SQLColAttribute fields: the record's driver flag and its
// code page.
constexpr uint16_t kFieldDriverFlag = 1902;
constexpr uint16_t kFieldCodePage = 1903;
// A LongDataDescriptorLimit that was not set.
constexpr int64_t kLimitUnset = INT64_MIN;

bool odbc2App(const BaseStatement* stmt) noexcept
{
    const BaseConnection* conn = stmt->connection;
    return conn != nullptr && conn->env != nullptr && conn->env->odbc2Mode == 1;
}

// ODBC 2 names the datetime types 9, 10 and 11.
int16_t typeForApp(const BaseStatement* stmt, int16_t type) noexcept
{
    if (odbc2App(stmt) && type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP)
        return static_cast<int16_t>(type - (SQL_TYPE_DATE - SQL_DATE));
    return type;
}

int64_t columnSizeOf(const BaseIRDRecord& rec) noexcept
{
    if (baseIsVarLengthType(rec.conciseType) && rec.length != 0)
        return static_cast<int64_t>(rec.length);
    return rec.precision;
}

bool emptyText(const uint16_t* text) noexcept
{
    return text == nullptr || text[0] == 0;
}

// "C" and the column number, for a column without a name.
void syntheticName(uint16_t column, uint16_t out[8]) noexcept
{
    char narrow[8];
    const int n = std::snprintf(narrow, sizeof narrow, "C%u", static_cast<unsigned>(column));
    for (int i = 0; i <= n && i < 8; ++i)
        out[i] = static_cast<uint8_t>(narrow[i]);
}

int64_t textUnits(const uint16_t* text) noexcept
{
    int64_t n = 0;
    while (text != nullptr && text[n] != 0)
        ++n;
    return n;
}

// The long-data limit of fields 6, 1003 and 1013.
int64_t applyLongDataLimit(const BaseStatement* stmt, uint16_t field, int16_t type, int64_t f) noexcept
{
    const BaseConnection* conn = stmt->connection;
    if (conn == nullptr || conn->longDataDescriptorLimit == kLimitUnset || conn->longDataDescriptorLimit == 0)
        return f;
    const int64_t c = conn->longDataDescriptorLimit;
    const int64_t mag = c < 0 ? -c : c;
    if (mag >= f)
        return f;
    const bool doubled = (field == SQL_DESC_DISPLAY_SIZE && type == SQL_LONGVARBINARY) ||
                         (field == SQL_DESC_OCTET_LENGTH && type == SQL_WLONGVARCHAR);
    if (doubled)
        return mag < f / 2 ? (c > 0 ? 2 * mag : 0) : f;
    if (type == SQL_LONGVARBINARY || type == SQL_LONGVARCHAR || type == SQL_WLONGVARCHAR)
        return c > 0 ? c : 0;
    return f;
}

// The character length of a record: the length for character types,
// the display size otherwise.
int64_t characterLength(const BaseIRDRecord& rec) noexcept
{
    if (baseIsCharacterType(rec.conciseType))
        return static_cast<int64_t>(rec.length);
    return rec.displaySize();
}

}  // namespace

int64_t baseOctetLengthForType(int16_t type, int64_t size, int16_t digits, int64_t fallback) noexcept
{
    switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case kBaseSqlGraphic:
    case kBaseSqlVarGraphic:
    case kBaseSqlLongVarGraphic:
    case kBaseSqlVariant: return size;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        if (fallback != 0)
            return fallback;
        return digits > 0 ? size + 2 : size + 1 - digits;
    case SQL_INTEGER:
    case SQL_REAL: return 4;
    case SQL_SMALLINT: return 2;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_BIGINT: return 8;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: return 6;
    case SQL_TYPE_TIMESTAMP: return 16;
    case SQL_BIT:
    case SQL_TINYINT: return 1;
    default: break;
    }
    if (baseIntervalCodeOfSqlType(type) != 0)
        return 28;
    return fallback;
}

int16_t baseDecimalDigits(int16_t type, int16_t scale) noexcept
{
    switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
    case SQL_TYPE_DATE:
    case SQL_LONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_GUID:
    case kBaseSqlGraphic:
    case kBaseSqlVarGraphic:
    case kBaseSqlLongVarGraphic: return kBaseNoDigits;
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_BIGINT:
    case SQL_TINYINT:
    case SQL_BIT: return 0;
    default: return scale;
    }
}

int16_t baseNumPrecRadix(int16_t type, int16_t fallback, bool bits) noexcept
{
    switch (type) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_BIGINT:
    case SQL_TINYINT:
    case SQL_BIT: return 10;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return bits ? 2 : 10;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_LONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_GUID:
    case kBaseSqlGraphic:
    case kBaseSqlVarGraphic:
    case kBaseSqlLongVarGraphic: return kBaseNoDigits;
    default: return fallback;
    }
}

// Nothing is described before a text is prepared or executed.
static bool describable(const BaseStatement* stmt) noexcept
{
    if (stmt->statementState != kBaseStmtAllocated)
        return true;
    basePostError(kBaseIdxSequence);
    return false;
}

int16_t BaseStatement::getResultColumnCount(uint16_t* count) noexcept
{
    if (!resultDescribed) {
        if (describeStatement() != 0)
            return 1;
        if (reentryPending)
            return 0;
        fixColumnSizes();
    }
    if (count != nullptr)
        *count = resultColumnCount;
    return 0;
}

void BaseStatement::fixColumnSizes() noexcept
{
    if (ird == nullptr)
        return;
    const bool binaryPrecision = connection != nullptr && connection->reportBinaryPrecision != 0;
    for (uint16_t i = 1; i <= resultColumnCount; ++i) {
        BaseIRDRecord* rec = ird->irdRecord(i);
        if (rec == nullptr)
            break;
        switch (rec->conciseType) {
        case 0:
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
        case SQL_WLONGVARCHAR: rec->scale = 0; break;
        case SQL_TYPE_DATE: rec->precision = 10, rec->scale = 0; break;
        case SQL_BIT: rec->precision = 1, rec->scale = 0; break;
        case SQL_TINYINT: rec->precision = 3, rec->scale = 0; break;
        case SQL_SMALLINT: rec->precision = 5, rec->scale = 0; break;
        case SQL_INTEGER: rec->precision = 10, rec->scale = 0; break;
        case SQL_BIGINT: rec->precision = rec->isUnsigned() ? 20 : 19, rec->scale = 0; break;
        case SQL_REAL: rec->precision = binaryPrecision ? 24 : 7, rec->scale = 0; break;
        case SQL_FLOAT:
        case SQL_DOUBLE: rec->precision = binaryPrecision ? 53 : 15, rec->scale = 0; break;
        case SQL_GUID: rec->precision = 36, rec->scale = 0; break;
        default: break;
        }
    }
}

int16_t BaseStatement::numResultCols(int16_t* count) noexcept
{
    return runFunction(SQL_API_SQLNUMRESULTCOLS, [&]() -> int16_t {
        if (!describable(this))
            return SQL_ERROR;
        // A null pointer asks nothing, so nothing is described.
        if (count == nullptr)
            return SQL_SUCCESS;
        uint16_t n = 0;
        if (getResultColumnCount(&n) != 0)
            return SQL_ERROR;
        if (reentryPending)
            return SQL_STILL_EXECUTING;
        *count = static_cast<int16_t>(n);
        return SQL_SUCCESS;
    });
}

// The described column `column` of a statement with a result; null after
// error 16 (no result columns) or 19 (no such column). Column 0 reads the
// bookmark record.
static BaseIRDRecord* describedColumn(BaseStatement* stmt, uint16_t column, uint16_t count) noexcept
{
    if (count == 0) {
        basePostError(kBaseIdxNoResultSet);
        return nullptr;
    }
    BaseIRDRecord* rec = column <= count && stmt->ird != nullptr ? stmt->ird->irdRecord(column) : nullptr;
    if (rec == nullptr)
        basePostError(kBaseIdxBadDescIndex);
    return rec;
}

int16_t BaseStatement::describeCol(uint16_t column, uint16_t* name, int16_t bufferLength, int16_t* nameLength,
                                   int16_t* dataType, uint64_t* columnSize, int16_t* digits,
                                   int16_t* nullableOut) noexcept
{
    return runFunction(SQL_API_SQLDESCRIBECOL, [&]() -> int16_t {
        return describeColInCall(column, name, bufferLength, nameLength, dataType, columnSize, digits, nullableOut);
    });
}

int16_t BaseStatement::describeColInCall(uint16_t column, uint16_t* name, int16_t bufferLength, int16_t* nameLength,
                                         int16_t* dataType, uint64_t* columnSize, int16_t* digits,
                                         int16_t* nullableOut) noexcept
{
    if (!describable(this))
        return SQL_ERROR;
    uint16_t count = 0;
    if (getResultColumnCount(&count) != 0)
        return SQL_ERROR;
    if (reentryPending)
        return SQL_STILL_EXECUTING;
    if (column == 0 && count != 0) {
        // The bookmark column exists only while bookmarks are on.
        if (attributeValues[kBaseAttrUseBookmarks] == SQL_UB_OFF) {
            basePostError(kBaseIdxBadDescIndex);
            return SQL_ERROR;
        }
    }
    BaseIRDRecord* rec = describedColumn(this, column, count);
    if (rec == nullptr)
        return SQL_ERROR;
    if (bufferLength < 0) {
        basePostError(kBaseIdxBadLength);
        return SQL_ERROR;
    }
    const uint64_t workarounds = connection != nullptr ? connection->workarounds : 0;
    const uint16_t* text = rec->name;
    uint16_t synthetic[8];
    if ((workarounds & kBaseWaNameUnnamedColumns) != 0 && emptyText(text)) {
        text = rec->baseColumnName;
        if (emptyText(text)) {
            syntheticName(column, synthetic);
            text = synthetic;
        }
    }
    // The buffer length counts characters; the answer is cut at a whole unit.
    BaseOutString out(name, static_cast<int16_t>(bufferLength > INT16_MAX / 2 ? INT16_MAX : bufferLength * 2),
                      nameLength);
    (void)out.putWideTextChars(text, textUnits(text));

    int16_t type = typeForApp(this, rec->conciseType);
    int64_t size = columnSizeOf(*rec);
    if (connection != nullptr) {
        const BaseConnection& c = *connection;
        const auto atLeast = [](int64_t g, int64_t floor) { return floor > g ? floor : g; };
        if (type == SQL_VARCHAR && static_cast<uint64_t>(size) > c.varcharThreshold) {
            type = SQL_LONGVARCHAR;
            size = atLeast(size, c.minLongVarcharSize);
        } else if (type == SQL_WVARCHAR && static_cast<uint64_t>(size) > c.wvarcharThreshold) {
            type = SQL_WLONGVARCHAR;
            size = atLeast(size, c.minWLongVarcharSize);
        } else if (type == SQL_LONGVARCHAR) {
            size = atLeast(size, c.minLongVarcharSize);
        } else if (type == SQL_WLONGVARCHAR) {
            size = atLeast(size, c.minWLongVarcharSize);
        }
    }
    if (dataType != nullptr)
        *dataType = type;
    if (columnSize != nullptr)
        *columnSize = size < 0 ? 0 : static_cast<uint64_t>(size);
    if (digits != nullptr)
        *digits = rec->scale < 0 && rec->intervalCode == SQL_CODE_TIMESTAMP ? 0 : rec->scale;
    if (nullableOut != nullptr)
        *nullableOut = rec->nullable;
    return SQL_SUCCESS;
}

int16_t BaseStatement::colAttribute(uint16_t column, uint16_t field, void* charValue, int16_t bufferLength,
                                    int16_t* stringLength, int64_t* numericValue) noexcept
{
    return runFunction(SQL_API_SQLCOLATTRIBUTE, [&]() -> int16_t {
        return colAttributeInCall(column, field, charValue, bufferLength, stringLength, numericValue);
    });
}

int16_t BaseStatement::colAttributeInCall(uint16_t column, uint16_t field, void* charValue, int16_t bufferLength,
                                          int16_t* stringLength, int64_t* numericValue) noexcept
{
    if (!describable(this))
        return SQL_ERROR;
    uint16_t count = 0;
    if (getResultColumnCount(&count) != 0)
        return SQL_ERROR;
    if (reentryPending)
        return SQL_STILL_EXECUTING;
    auto number = [numericValue](int64_t v) noexcept {
        if (numericValue != nullptr)
            *numericValue = v;
    };
    if (field == SQL_DESC_COUNT) {
        number(count);
        return SQL_SUCCESS;
    }
    BaseIRDRecord* rec = describedColumn(this, column, count);
    if (rec == nullptr)
        return SQL_ERROR;
    if (odbc2App(this) && field == SQL_DESC_TYPE)
        field = kFieldDriverFlag;
    BaseOutString out(charValue, bufferLength, stringLength, 2);
    bool badLength = false;
    auto text = [&out, &badLength, charValue, bufferLength](const uint16_t* t) noexcept {
        if (charValue != nullptr && bufferLength < 0) {
            badLength = true;
            return;
        }
        (void)out.putWideText(t != nullptr ? t : reinterpret_cast<const uint16_t*>(u""), textUnits(t) * 2, true, 2,
                              false);
    };
    const int16_t type = rec->conciseType;
    const bool unnamed = emptyText(rec->name) && emptyText(rec->baseColumnName);
    switch (field) {
    case SQL_DESC_CONCISE_TYPE: number(typeForApp(this, type)); break;
    case SQL_COLUMN_LENGTH:
        if (baseIsVarLengthType(type)) {
            number(rec->octetLength);
        } else {
            int64_t n = baseOctetLengthForType(type, rec->precision, rec->scale, 0);
            if ((type == SQL_NUMERIC || type == SQL_DECIMAL) &&
                (rec->flags & (kBaseRecUnsigned | kBaseRecNoSignPosition)) != 0)
                --n;
            number(n);
        }
        break;
    case SQL_COLUMN_PRECISION:
        number(baseIsVarLengthType(type) ? static_cast<int64_t>(rec->length) : rec->precision);
        break;
    case SQL_COLUMN_SCALE:
    case SQL_DESC_SCALE: number(rec->scale < 0 && type == SQL_TYPE_TIMESTAMP ? 0 : rec->scale); break;
    case SQL_DESC_DISPLAY_SIZE: number(applyLongDataLimit(this, field, type, rec->displaySize())); break;
    case SQL_DESC_UNSIGNED: {
        const bool numeric = type == SQL_TINYINT || type == SQL_BIGINT || (type >= SQL_NUMERIC && type <= SQL_DOUBLE);
        number(numeric ? (rec->isUnsigned() ? 1 : 0) : 1);
        break;
    }
    case SQL_DESC_FIXED_PREC_SCALE: number((rec->flags & kBaseRecFixedPrecScale) != 0 ? 1 : 0); break;
    case SQL_DESC_UPDATABLE:
        if (unnamed)
            rec->updatable = 0;
        number(rec->updatable);
        break;
    case SQL_DESC_AUTO_UNIQUE_VALUE: number((rec->flags & kBaseRecAutoUnique) != 0 ? 1 : 0); break;
    case SQL_DESC_CASE_SENSITIVE: number((rec->flags & kBaseRecCaseSensitive) != 0 ? 1 : 0); break;
    case SQL_DESC_SEARCHABLE: number(rec->searchable); break;
    case SQL_DESC_TYPE_NAME: text(rec->typeInfo != nullptr ? rec->typeInfo->typeName : nullptr); break;
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME: text(rec->tableName); break;
    case SQL_DESC_SCHEMA_NAME: text(rec->schemaName); break;
    case SQL_DESC_CATALOG_NAME: text(rec->catalogName); break;
    case SQL_DESC_LABEL: text(!emptyText(rec->label) ? rec->label : rec->name); break;
    case SQL_DESC_BASE_COLUMN_NAME: text(rec->baseColumnName); break;
    case SQL_DESC_LITERAL_PREFIX: text(rec->typeInfo != nullptr ? rec->typeInfo->literalPrefix : nullptr); break;
    case SQL_DESC_LITERAL_SUFFIX: text(rec->typeInfo != nullptr ? rec->typeInfo->literalSuffix : nullptr); break;
    case SQL_DESC_LOCAL_TYPE_NAME: {
        uint16_t resource[kBaseResourceTextUnits] = {};
        if (rec->typeInfo != nullptr && rec->typeInfo->localTypeNameId != 0 && connection != nullptr &&
            connection->getResourceString(rec->typeInfo->localTypeNameId, resource) > 0)
            text(resource);
        else
            text(nullptr);
        break;
    }
    case SQL_DESC_NUM_PREC_RADIX: number(rec->numPrecRadix()); break;
    case SQL_DESC_TYPE:
        if (type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP)
            number(SQL_DATETIME);
        else if (baseIntervalCodeOfSqlType(type) != 0)
            number(SQL_INTERVAL);
        else
            number(type);
        break;
    case SQL_DESC_LENGTH: {
        int64_t n = 0;
        if (type == SQL_LONGVARCHAR || type == SQL_CHAR || type == SQL_VARCHAR ||
            (type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP) || baseIntervalCodeOfSqlType(type) != 0 ||
            (type >= SQL_GUID && type <= SQL_BIT))
            n = characterLength(*rec);
        else if (type >= SQL_LONGVARBINARY && type <= SQL_BINARY)
            n = static_cast<int64_t>(rec->length);
        else if (baseIsGraphicType(type))
            n = connection != nullptr && connection->bindsCharTypeNarrow(type) == 0 ? characterLength(*rec) : -4;
        number(applyLongDataLimit(this, field, type, n));
        break;
    }
    case SQL_DESC_PRECISION: number(rec->precision); break;
    case SQL_DESC_NULLABLE: number(rec->nullable); break;
    case SQL_DESC_NAME: {
        const uint16_t* t = !emptyText(rec->name) ? rec->name : rec->baseColumnName;
        uint16_t synthetic[8];
        if (emptyText(t) && connection != nullptr && (connection->workarounds & kBaseWaNameUnnamedColumns) != 0) {
            syntheticName(column, synthetic);
            t = synthetic;
        }
        text(t);
        break;
    }
    case SQL_DESC_UNNAMED: number(unnamed ? SQL_UNNAMED : SQL_NAMED); break;
    case SQL_DESC_OCTET_LENGTH: number(applyLongDataLimit(this, field, type, rec->octetLength)); break;
    case kFieldDriverFlag: number(rec->driverFlag != 0 ? 1 : 0); break;
    case kFieldCodePage: number(rec->codePage); break;
    default: {
        if (colAttributeHook(column, field, &out, numericValue) != 0)
            return SQL_ERROR;
        break;
    }
    }
    if (badLength) {
        basePostError(kBaseIdxBadLength);
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}
