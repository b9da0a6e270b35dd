// SQLProcedures' and SQLProcedureColumns' row orders, numbering and column
// values.
#include "catalog/catalogprocs.h"

#include <sql.h>
#include <sqlext.h>

#include "convert/basecvt.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/basedescribe.h"

namespace {

int16_t compareProcedure(const uint16_t* aCat, const uint16_t* aSchem, const uint16_t* aName, const uint16_t* bCat,
                         const uint16_t* bSchem, const uint16_t* bName) noexcept
{
    int16_t c = catalogCompareNames(aCat, bCat);
    if (c == 0)
        c = catalogCompareNames(aSchem, bSchem);
    if (c == 0)
        c = catalogCompareNames(aName, bName);
    return c;
}

bool isIntervalType(int16_t t) noexcept
{
    return t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND;
}

bool isDateTimeType(int16_t t) noexcept
{
    return t >= SQL_TYPE_DATE && t <= SQL_TYPE_TIMESTAMP;
}

bool hasCharOctetLength(int16_t t) noexcept
{
    return t == SQL_CHAR || t == SQL_VARCHAR || (t >= SQL_LONGVARBINARY && t <= SQL_LONGVARCHAR) ||
           (t >= SQL_WLONGVARCHAR && t <= SQL_WCHAR) || t == kBaseSqlVariant;
}

}  // namespace

ProcsRowInfo::~ProcsRowInfo()
{
    ramFree(procedureCat);
    ramFree(procedureSchem);
    ramFree(procedureName);
    ramFree(remarks);
}

int16_t ProcsRowInfo::compare(const KaObject& other) const
{
    const auto& b = static_cast<const ProcsRowInfo&>(other);
    return compareProcedure(procedureCat, procedureSchem, procedureName, b.procedureCat, b.procedureSchem,
                            b.procedureName);
}

CatalogCell ProcsRowInfo::cell(uint16_t column) const noexcept
{
    switch (column) {
    case 1: return CatalogCell::textValue(procedureCat);
    case 2: return CatalogCell::textValue(procedureSchem);
    case 3: return CatalogCell::textValue(procedureName);
    case 7: return CatalogCell::textValue(remarks);
    case 8: return CatalogCell::shortValue(procedureType);
    default: return CatalogCell::none();
    }
}

int16_t procColumnTypeRank(int16_t columnType) noexcept
{
    switch (columnType) {
    case SQL_RETURN_VALUE: return 1;
    case SQL_PARAM_INPUT:
    case SQL_PARAM_INPUT_OUTPUT:
    case SQL_PARAM_OUTPUT: return 2;
    case SQL_RESULT_COL: return 3;
    default: return 4;
    }
}

ProcColsRowInfo::~ProcColsRowInfo()
{
    ramFree(procedureCat);
    ramFree(procedureSchem);
    ramFree(procedureName);
    ramFree(columnName);
    ramFree(typeName);
    ramFree(remarks);
    ramFree(columnDef);
    ramFree(isNullable);
}

int16_t ProcColsRowInfo::compare(const KaObject& other) const
{
    const auto& b = static_cast<const ProcColsRowInfo&>(other);
    int16_t c = compareProcedure(procedureCat, procedureSchem, procedureName, b.procedureCat, b.procedureSchem,
                                 b.procedureName);
    if (c != 0)
        return c;
    int16_t ra = procColumnTypeRank(columnType);
    int16_t rb = procColumnTypeRank(b.columnType);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    return ordinalKey < b.ordinalKey ? -1 : 1;
}

bool ProcColsRowInfo::defaultIsNullable() noexcept
{
    const char16_t* text = nullable == SQL_NO_NULLS ? u"NO" : (nullable == SQL_NULLABLE ? u"YES" : u"");
    ramFree(isNullable);
    return catalogCopyText(strUnits(text), &isNullable);
}

CatalogCell ProcColsRowInfo::cell(uint16_t column, const ProcColumnSettings& settings) const noexcept
{
    switch (column) {
    case 1: return CatalogCell::textValue(procedureCat);
    case 2: return CatalogCell::textValue(procedureSchem);
    case 3: return CatalogCell::textValue(procedureName);
    case 4: return CatalogCell::textValue(columnName);
    case 5: return CatalogCell::shortValue(columnType);
    case 6:
        if (settings.odbc2 && isDateTimeType(dataType))
            return CatalogCell::shortValue(static_cast<int16_t>(dataType - (SQL_TYPE_DATE - SQL_DATE)));
        return CatalogCell::shortValue(dataType);
    case 7: return CatalogCell::textValue(typeName);
    case 8: {
        // A stored description: the BIGINT's size stands (qualifier 2).
        const int32_t rbp = settings.reportBinaryPrecision ? 1 : 0;
        return CatalogCell::longValue(settings.connection != nullptr
                                          ? settings.connection->typeColumnSize(dataType, columnSize, typeName, 2, rbp)
                                          : baseTypeColumnSize(dataType, columnSize, 2, rbp));
    }
    case 9:
        return CatalogCell::longValue(
            static_cast<int32_t>(baseOctetLengthForType(dataType, columnSize, decimalDigits, bufferLength)));
    case 10: {
        int16_t d = baseDecimalDigits(dataType, decimalDigits);
        return d == kBaseNoDigits ? CatalogCell::none() : CatalogCell::shortValue(d);
    }
    case 11: {
        int16_t r = baseNumPrecRadix(dataType, numPrecRadix, settings.reportBinaryPrecision);
        return r == kBaseNoDigits ? CatalogCell::none() : CatalogCell::shortValue(r);
    }
    case 12: return CatalogCell::shortValue(nullable);
    case 13: return CatalogCell::textValue(remarks);
    case 14: return CatalogCell::textValue(columnDef);
    case 15:
        if (isDateTimeType(dataType))
            return CatalogCell::shortValue(SQL_DATETIME);
        return CatalogCell::shortValue(isIntervalType(dataType) ? int16_t(SQL_INTERVAL) : dataType);
    case 16:
        if (isDateTimeType(dataType))
            return CatalogCell::shortValue(static_cast<int16_t>(dataType - SQL_TYPE_DATE + SQL_CODE_DATE));
        if (isIntervalType(dataType))
            return CatalogCell::shortValue(static_cast<int16_t>(dataType - 100));
        return CatalogCell::none();
    case 17:
        if (!hasCharOctetLength(dataType))
            return CatalogCell::none();
        return CatalogCell::longValue(
            static_cast<int32_t>(baseOctetLengthForType(dataType, columnSize, decimalDigits, bufferLength)));
    case 18: return CatalogCell::longValue(static_cast<int32_t>(ordinalKey));
    case 19: return CatalogCell::textValue(isNullable);
    default: return CatalogCell::none();
    }
}

void ProcColumnCounter::number(ProcColsRowInfo* row) noexcept
{
    if (previous != nullptr && (!catalogSameOptionalName(previous->procedureCat, row->procedureCat) ||
                                !catalogSameOptionalName(previous->procedureSchem, row->procedureSchem) ||
                                !catalogSameOptionalName(previous->procedureName, row->procedureName)))
        count = 1;
    else
        ++count;
    previous = row;
    if (row->ordinalKey == 0)
        row->ordinalKey = count;
    if (row->columnType == SQL_RETURN_VALUE) {
        // The first parameter after a return value is still number 1.
        row->ordinalKey = 0;
        --count;
    }
}
