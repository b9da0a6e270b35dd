// SQLStatistics' row order and column values.
#include "catalog/catalogstats.h"

#include <sql.h>
#include <sqlext.h>

#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"

const BaseCatalogColumn kStatisticsColumns[kStatisticsColumnCount] = {
    {strUnits(u"TABLE_CAT"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"TABLE_SCHEM"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"TABLE_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"NON_UNIQUE"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"INDEX_QUALIFIER"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"INDEX_NAME"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"TYPE"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"ORDINAL_POSITION"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"COLUMN_NAME"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"ASC_OR_DESC"), SQL_CHAR, SQL_NULLABLE, 1},
    {strUnits(u"CARDINALITY"), SQL_INTEGER, SQL_NULLABLE, 0},
    {strUnits(u"PAGES"), SQL_INTEGER, SQL_NULLABLE, 0},
    {strUnits(u"FILTER_CONDITION"), SQL_VARCHAR, SQL_NULLABLE, 128},
};

StatRowInfo::~StatRowInfo()
{
    ramFree(tableCat);
    ramFree(tableSchem);
    ramFree(tableName);
    ramFree(indexQualifier);
    ramFree(indexName);
    ramFree(columnName);
    ramFree(ascOrDesc);
    ramFree(filterCondition);
}

int16_t StatRowInfo::compare(const KaObject& other) const
{
    const auto& b = static_cast<const StatRowInfo&>(other);
    // The table-statistics row has a NULL NON_UNIQUE: it stands where the
    // data source puts NULLs.
    bool nullsLast = nullCollation == SQL_NC_END || nullCollation == SQL_NC_HIGH;
    bool aTable = type == SQL_TABLE_STAT;
    bool bTable = b.type == SQL_TABLE_STAT;
    if (aTable != bTable) {
        if (aTable)
            return nullsLast ? 1 : -1;
        return nullsLast ? -1 : 1;
    }
    if (aTable) {
        // Two tables' statistics rows: by schema, then table name.
        int16_t c = catalogCompareNames(tableSchem, b.tableSchem);
        return c != 0 ? c : catalogCompareNames(tableName, b.tableName);
    }
    if (nonUnique != b.nonUnique)
        return nonUnique < b.nonUnique ? -1 : 1;
    if (type != b.type)
        return type < b.type ? -1 : 1;
    if (indexQualifier != nullptr && b.indexQualifier != nullptr) {
        int16_t c = catalogCompareNames(indexQualifier, b.indexQualifier);
        if (c != 0)
            return c;
    }
    if (indexName != nullptr && b.indexName != nullptr) {
        int16_t c = catalogCompareNames(indexName, b.indexName);
        if (c != 0)
            return c;
    }
    int d = ordinalPosition - b.ordinalPosition;
    return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

bool StatRowInfo::passesUnique(uint16_t unique) const noexcept
{
    return unique != SQL_INDEX_UNIQUE || type == SQL_TABLE_STAT || nonUnique != 1;
}

CatalogCell StatRowInfo::cell(uint16_t column) const noexcept
{
    bool tableRow = type == SQL_TABLE_STAT;
    switch (column) {
    case 1: return CatalogCell::textValue(tableCat);
    case 2: return CatalogCell::textValue(tableSchem);
    case 3: return CatalogCell::textValue(tableName);
    case 4: return tableRow ? CatalogCell::none() : CatalogCell::shortValue(nonUnique);
    case 5: return tableRow ? CatalogCell::none() : CatalogCell::textValue(indexQualifier);
    case 6: return tableRow ? CatalogCell::none() : CatalogCell::textValue(indexName);
    case 7: return CatalogCell::shortValue(type);
    case 8: return tableRow ? CatalogCell::none() : CatalogCell::shortValue(ordinalPosition);
    case 9: return tableRow ? CatalogCell::none() : CatalogCell::textValue(columnName);
    case 10: return tableRow ? CatalogCell::none() : CatalogCell::textValue(ascOrDesc);
    case 11: return cardinality == -1 ? CatalogCell::none() : CatalogCell::longValue(cardinality);
    case 12: return pages == -1 ? CatalogCell::none() : CatalogCell::longValue(pages);
    case 13: return tableRow ? CatalogCell::none() : CatalogCell::textValue(filterCondition);
    default: return CatalogCell::none();
    }
}
