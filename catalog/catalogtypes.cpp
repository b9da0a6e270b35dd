// SQLGetTypeInfo's rows from the connection's type table and the values of
// their result columns.
#include "catalog/catalogtypes.h"

#include <sql.h>
#include <sqlext.h>

#include "convert/basecvt.h"
#include "foundation/kaarray.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/basedescribe.h"

const BaseCatalogColumn kTypeInfoColumns[kTypeInfoColumnCount] = {
    {strUnits(u"TYPE_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"DATA_TYPE"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"COLUMN_SIZE"), SQL_INTEGER, SQL_NULLABLE, 0},
    {strUnits(u"LITERAL_PREFIX"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"LITERAL_SUFFIX"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"CREATE_PARAMS"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"NULLABLE"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"CASE_SENSITIVE"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"SEARCHABLE"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"UNSIGNED_ATTRIBUTE"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"FIXED_PREC_SCALE"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"AUTO_UNIQUE"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"LOCAL_TYPE_NAME"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"MINIMUM_SCALE"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"MAXIMUM_SCALE"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"SQL_DATA_TYPE"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"SQL_DATETIME_SUB"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"NUM_PREC_RADIX"), SQL_INTEGER, SQL_NULLABLE, 0},
    {strUnits(u"INTERVAL_PRECISION"), SQL_SMALLINT, SQL_NULLABLE, 0},
};

namespace {

// Longest resource text a type row takes.
constexpr int32_t kResourceUnits = 256;

bool isIntervalType(int16_t t) noexcept
{
    return t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND;
}

bool isDateTimeType(int16_t t) noexcept
{
    return t >= SQL_TYPE_DATE && t <= SQL_TYPE_TIMESTAMP;
}

// The numeric types whose UNSIGNED_ATTRIBUTE and AUTO_UNIQUE mean something.
bool isNumericType(int16_t t) noexcept
{
    switch (t) {
    case SQL_TINYINT:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_BIGINT:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return true;
    default: return false;
    }
}

// MINIMUM_SCALE and MAXIMUM_SCALE by type: fixed 0 for the integers, the
// stored value where a scale exists, NULL elsewhere.
CatalogCell scaleCell(int16_t dataType, int16_t stored, int16_t storedMaximum) noexcept
{
    switch (dataType) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_BIGINT:
    case SQL_TINYINT:
    case SQL_BIT: return CatalogCell::shortValue(0);
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_TYPE_TIMESTAMP: return CatalogCell::shortValue(stored);
    case SQL_TYPE_TIME: return storedMaximum != 0 ? CatalogCell::shortValue(stored) : CatalogCell::none();
    default: return isIntervalType(dataType) ? CatalogCell::shortValue(stored) : CatalogCell::none();
    }
}

bool startsWith(const uint16_t* text, const char16_t* prefix, size_t n) noexcept
{
    return text != nullptr && strLenW(text) >= n && strEqualMemW(text, strUnits(prefix), n) != 0;
}

bool copyResource(const TypeRowSettings& settings, int16_t message, uint16_t** out) noexcept
{
    *out = nullptr;
    if (message == 0 || settings.resourceText == nullptr)
        return true;
    uint16_t text[kResourceUnits];
    int32_t n = settings.resourceText(settings.resourceContext, static_cast<uint16_t>(message), text, kResourceUnits);
    if (n <= 0)
        return true;
    if (n >= kResourceUnits)
        n = kResourceUnits - 1;
    *out = strDupNW(text, static_cast<size_t>(n));
    return *out != nullptr;
}

int16_t fillRow(GetTypeRowInfo* row, const BaseTypeRow& from, uint16_t index, const TypeRowSettings& settings) noexcept
{
    auto key = static_cast<uint16_t>(index * 10);
    row->orderKey = settings.reverseTableOrder ? static_cast<uint16_t>(~key) : key;
    row->dataType = from.sqlType;
    row->columnSize = from.columnSize;
    typeInfoFinishDriverRow(row, settings);
    if (!catalogCopyText(from.name, &row->typeName))
        return 1;
    if (settings.bracesForDateTimeLiterals &&
        (startsWith(from.literalPrefix, u"{ts '", 5) || startsWith(from.literalPrefix, u"{t '", 4) ||
         startsWith(from.literalPrefix, u"{d '", 4))) {
        if (!catalogCopyText(strUnits(u"{"), &row->literalPrefix) ||
            !catalogCopyText(strUnits(u"}"), &row->literalSuffix))
            return 1;
    } else if (!catalogCopyText(from.literalPrefix, &row->literalPrefix) ||
               !catalogCopyText(from.literalSuffix, &row->literalSuffix)) {
        return 1;
    }
    if (!copyResource(settings, from.createParamsMessage, &row->createParams) ||
        !copyResource(settings, from.localNameMessage, &row->localTypeName))
        return 1;
    row->nullable = from.nullable;
    row->searchable = from.searchable;
    row->caseSensitive = (from.attributes & kBaseTypeCaseSensitive) != 0 ? 1 : 0;
    row->unsignedAttribute = (from.attributes & kBaseTypeUnsigned) != 0 ? 1 : 0;
    row->fixedPrecScale = (from.attributes & kBaseTypeFixedPrecScale) != 0 ? 1 : 0;
    row->autoUnique = (from.attributes & kBaseTypeAutoUnique) != 0 ? 1 : 0;
    row->minimumScale = from.minimumScale;
    row->maximumScale = from.maximumScale;
    row->intervalPrecision = from.intervalPrecision;
    row->numPrecRadix = baseNumPrecRadix(from.sqlType, kBaseNoDigits, settings.reportBinaryPrecision);
    return 0;
}

}  // namespace

GetTypeRowInfo::~GetTypeRowInfo()
{
    ramFree(typeName);
    ramFree(literalPrefix);
    ramFree(literalSuffix);
    ramFree(createParams);
    ramFree(localTypeName);
}

int16_t GetTypeRowInfo::compare(const KaObject& other) const
{
    const auto& b = static_cast<const GetTypeRowInfo&>(other);
    if (reportedDataType != b.reportedDataType)
        return reportedDataType < b.reportedDataType ? -1 : 1;
    if (orderKey != b.orderKey)
        return orderKey < b.orderKey ? -1 : 1;
    return 1;
}

int16_t GetTypeRowInfo::matchesDataType(int16_t requested) const noexcept
{
    return requested == SQL_ALL_TYPES || requested == dataType ? 1 : 0;
}

CatalogCell GetTypeRowInfo::cell(uint16_t column) const noexcept
{
    switch (column) {
    case 1: return CatalogCell::textValue(typeName);
    case 2: return CatalogCell::shortValue(reportedDataType);
    case 3: return columnSize == 0 ? CatalogCell::none() : CatalogCell::longValue(static_cast<int32_t>(columnSize));
    case 4: return CatalogCell::textValue(literalPrefix);
    case 5: return CatalogCell::textValue(literalSuffix);
    case 6: return CatalogCell::textValue(createParams);
    case 7: return CatalogCell::shortValue(nullable);
    case 8: return CatalogCell::shortValue(caseSensitive);
    case 9: return CatalogCell::shortValue(searchable);
    case 10: return isNumericType(dataType) ? CatalogCell::shortValue(unsignedAttribute) : CatalogCell::none();
    case 11: return CatalogCell::shortValue(fixedPrecScale);
    case 12:
        return isNumericType(dataType) || autoUnique != 0 ? CatalogCell::shortValue(autoUnique) : CatalogCell::none();
    case 13: return CatalogCell::textValue(localTypeName);
    case 14: return scaleCell(dataType, minimumScale, maximumScale);
    case 15: return scaleCell(dataType, maximumScale, maximumScale);
    case 16:
        if (isDateTimeType(dataType))
            return CatalogCell::shortValue(SQL_DATETIME);
        return CatalogCell::shortValue(isIntervalType(dataType) ? int16_t(SQL_INTERVAL) : dataType);
    case 17:
        if (isDateTimeType(dataType))
            return CatalogCell::shortValue(static_cast<int16_t>(dataType - SQL_TYPE_DATE + SQL_CODE_DATE));
        if (isIntervalType(dataType))
            return CatalogCell::shortValue(static_cast<int16_t>(dataType - 100));
        return CatalogCell::none();
    case 18: return numPrecRadix == kBaseNoDigits ? CatalogCell::none() : CatalogCell::longValue(numPrecRadix);
    case 19: return isIntervalType(dataType) ? CatalogCell::shortValue(intervalPrecision) : CatalogCell::none();
    default: return CatalogCell::none();
    }
}

void typeInfoFinishDriverRow(GetTypeRowInfo* row, const TypeRowSettings& settings) noexcept
{
    row->reportedDataType = row->dataType;
    if (settings.odbc2 && isDateTimeType(row->dataType))
        row->reportedDataType = static_cast<int16_t>(row->dataType - (SQL_TYPE_DATE - SQL_DATE));
    if (settings.reportBinaryPrecision) {
        if (row->dataType == SQL_FLOAT || row->dataType == SQL_DOUBLE)
            row->columnSize = 53;
        else if (row->dataType == SQL_REAL)
            row->columnSize = 24;
    }
}

int16_t typeInfoRequestedType(int16_t dataType, bool odbc2) noexcept
{
    if (odbc2 && dataType >= SQL_DATE && dataType <= SQL_TIMESTAMP)
        return static_cast<int16_t>(dataType + (SQL_TYPE_DATE - SQL_DATE));
    return dataType;
}

int16_t typeInfoCollectRows(KaSortedArray* rows, const BaseTypeRow* table, size_t count, int16_t requested,
                            const TypeRowSettings& settings) noexcept
{
    for (size_t i = 0; table != nullptr && i < count; ++i) {
        if (requested != SQL_ALL_TYPES && requested != table[i].sqlType)
            continue;
        auto* row = catalogAppendNew(*rows, new GetTypeRowInfo);
        if (row == nullptr)
            return 1;
        if (fillRow(row, table[i], static_cast<uint16_t>(i), settings) != 0)
            return 1;
    }
    return 0;
}

TypeRequestCheck typeInfoCheckRequest(int16_t requested, bool graphicTypesAsText) noexcept
{
    if (requested < -99)
        return TypeRequestCheck::BelowRange;
    bool valid = (requested >= 1 && requested <= 10) || requested == SQL_VARCHAR || isDateTimeType(requested) ||
                 isIntervalType(requested) || (requested >= SQL_WLONGVARCHAR && requested <= SQL_LONGVARCHAR) ||
                 requested == SQL_GUID ||
                 (graphicTypesAsText && requested >= kBaseSqlLongVarGraphic && requested <= kBaseSqlGraphic);
    return valid ? TypeRequestCheck::Valid : TypeRequestCheck::UnknownType;
}
