// SQLPrimaryKeys' and SQLForeignKeys' row orders and column values.
#include "catalog/catalogkeys.h"

#include <sql.h>
#include <sqlext.h>

#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"

const BaseCatalogColumn kPrimaryKeysColumns[kPrimaryKeysColumnCount] = {
    {strUnits(u"TABLE_CAT"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"TABLE_SCHEM"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"TABLE_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"COLUMN_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"KEY_SEQ"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"PK_NAME"), SQL_VARCHAR, SQL_NULLABLE, 128},
};

const BaseCatalogColumn kForeignKeysColumns[kForeignKeysColumnCount] = {
    {strUnits(u"PKTABLE_CAT"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"PKTABLE_SCHEM"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"PKTABLE_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"PKCOLUMN_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"FKTABLE_CAT"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"FKTABLE_SCHEM"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"FKTABLE_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"FKCOLUMN_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"KEY_SEQ"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"UPDATE_RULE"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"DELETE_RULE"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"FK_NAME"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"PK_NAME"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"DEFERRABILITY"), SQL_SMALLINT, SQL_NULLABLE, 0},
};

namespace {

int16_t compareShort(int16_t a, int16_t b) noexcept
{
    return a == b ? 0 : (a < b ? -1 : 1);
}

CatalogCell ruleCell(int16_t v) noexcept
{
    return v == -1 ? CatalogCell::none() : CatalogCell::shortValue(v);
}

}  // namespace

PrimaryRowInfo::~PrimaryRowInfo()
{
    ramFree(tableCat);
    ramFree(tableSchem);
    ramFree(tableName);
    ramFree(columnName);
    ramFree(pkName);
}

int16_t PrimaryRowInfo::compare(const KaObject& other) const
{
    return compareShort(keySeq, static_cast<const PrimaryRowInfo&>(other).keySeq);
}

CatalogCell PrimaryRowInfo::cell(uint16_t column) const noexcept
{
    switch (column) {
    case 1: return CatalogCell::textValue(tableCat);
    case 2: return CatalogCell::textValue(tableSchem);
    case 3: return CatalogCell::textValue(tableName);
    case 4: return CatalogCell::textValue(columnName);
    case 5: return CatalogCell::shortValue(keySeq);
    case 6: return CatalogCell::textValue(pkName);
    default: return CatalogCell::none();
    }
}

ForeignRowInfo::~ForeignRowInfo()
{
    ramFree(pkTableCat);
    ramFree(pkTableSchem);
    ramFree(pkTableName);
    ramFree(pkColumnName);
    ramFree(fkTableCat);
    ramFree(fkTableSchem);
    ramFree(fkTableName);
    ramFree(fkColumnName);
    ramFree(fkName);
    ramFree(pkName);
}

int16_t ForeignRowInfo::compare(const KaObject& other) const
{
    const auto& b = static_cast<const ForeignRowInfo&>(other);
    const uint16_t* const mine[] = {pkTableCat, pkTableSchem, pkTableName, fkTableCat, fkTableSchem, fkTableName};
    const uint16_t* const theirs[] = {b.pkTableCat, b.pkTableSchem, b.pkTableName,
                                      b.fkTableCat, b.fkTableSchem, b.fkTableName};
    for (size_t i = 0; i < sizeof mine / sizeof mine[0]; ++i) {
        int16_t c = catalogCompareNames(mine[i], theirs[i]);
        if (c != 0)
            return c;
    }
    return compareShort(keySeq, b.keySeq);
}

CatalogCell ForeignRowInfo::cell(uint16_t column, bool odbc2) const noexcept
{
    switch (column) {
    case 1: return CatalogCell::textValue(pkTableCat);
    case 2: return CatalogCell::textValue(pkTableSchem);
    case 3: return CatalogCell::textValue(pkTableName);
    case 4: return CatalogCell::textValue(pkColumnName);
    case 5: return CatalogCell::textValue(fkTableCat);
    case 6: return CatalogCell::textValue(fkTableSchem);
    case 7: return CatalogCell::textValue(fkTableName);
    case 8: return CatalogCell::textValue(fkColumnName);
    case 9: return CatalogCell::shortValue(keySeq);
    case 10: return ruleCell(updateRule);
    case 11:
        // ODBC 2 knows only SQL_RESTRICT for "no action"; ODBC 3 names it
        // SQL_NO_ACTION.
        if (deleteRule == SQL_RESTRICT || deleteRule == SQL_NO_ACTION)
            return CatalogCell::shortValue(odbc2 ? int16_t(SQL_RESTRICT) : int16_t(SQL_NO_ACTION));
        return ruleCell(deleteRule);
    case 12: return CatalogCell::textValue(fkName);
    case 13: return CatalogCell::textValue(pkName);
    case 14: return ruleCell(deferrability);
    default: return CatalogCell::none();
    }
}
