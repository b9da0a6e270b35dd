// SQLPrimaryKeys and SQLForeignKeys: the statement operations, the generic
// operations over the driver's key hooks, and the holders' column values.
#include "catalog/basekeys.h"

#include <sql.h>
#include <sqlext.h>

#include "catalog/basecata.h"
#include "catalog/catalogkeys.h"
#include "catalog/catalogloop.h"
#include "catalog/catalogput.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/basestmterr.h"

BasePrimaryKeysInfoW::BasePrimaryKeysInfoW(BaseStatement* stmt) noexcept
    : CatalogHolder(stmt, kCatalogKindPrimaryKeys, kPrimaryKeysColumns)
{}

BaseForeignKeysInfoW::BaseForeignKeysInfoW(BaseStatement* stmt) noexcept
    : CatalogHolder(stmt, kCatalogKindForeignKeys, kForeignKeysColumns)
{}

CatalogCell BaseForeignKeysInfoW::cellOf(const ForeignRowInfo& row, uint16_t column) const noexcept
{
    const BaseConnection* conn = statement->connection;
    const bool odbc2 = conn != nullptr && conn->env != nullptr && conn->env->odbc2Mode != 0;
    return row.cell(column, odbc2);
}

int16_t BaseCatalogStatement::primaryKeys(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                          int16_t schemaLength, const uint16_t* table, int16_t tableLength) noexcept
{
    return catalogRunCall(this, SQL_API_SQLPRIMARYKEYS, [&]() noexcept {
        return primaryKeysInternal(catalog, catalogLength, schema, schemaLength, table, tableLength);
    });
}

int16_t BaseCatalogStatement::primaryKeysInternal(const uint16_t* catalog, int16_t catalogLength,
                                                  const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                                                  int16_t tableLength) noexcept
{
    if (table == nullptr) {
        basePostError(kBaseIdxNullPointer);
        return 1;
    }
    auto* holder = catalogPushHolder<BasePrimaryKeysInfoW>(this);
    if (holder == nullptr)
        return 1;
    if (prepareCatalogArgument(catalog, catalogLength, kCatalogInfoCatalog, &holder->catalogName, nullptr) != 0 ||
        prepareCatalogArgument(schema, schemaLength, kCatalogInfoSchema, &holder->schemaName, nullptr) != 0 ||
        prepareCatalogArgument(table, tableLength, kCatalogInfoTable, &holder->tableName, nullptr) != 0)
        return 1;
    if (primaryKeysHook() != 0)
        return 1;
    if (catalogReadDriverRows(
            this, holder->rows, []() noexcept { return new PrimaryRowInfo; },
            [&](PrimaryRowInfo* row) noexcept -> int16_t {
                return getCatalogColumnValue(1, &row->tableCat) != 0 ||
                               getCatalogColumnValue(2, &row->tableSchem) != 0 ||
                               getCatalogColumnValue(3, &row->tableName) != 0 ||
                               getCatalogColumnValue(4, &row->columnName) != 0 ||
                               getCatalogColumnValue(5, &row->keySeq) != 0 ||
                               getCatalogColumnValue(6, &row->pkName) != 0
                           ? 1
                           : 0;
            }) != 0)
        return 1;
    return catalogFinishResult(this, holder, kPrimaryKeysColumnCount, kPrimaryKeysColumns, 0);
}

int16_t BaseCatalogStatement::foreignKeys(const uint16_t* pkCatalog, int16_t pkCatalogLength, const uint16_t* pkSchema,
                                          int16_t pkSchemaLength, const uint16_t* pkTable, int16_t pkTableLength,
                                          const uint16_t* fkCatalog, int16_t fkCatalogLength, const uint16_t* fkSchema,
                                          int16_t fkSchemaLength, const uint16_t* fkTable,
                                          int16_t fkTableLength) noexcept
{
    return catalogRunCall(this, SQL_API_SQLFOREIGNKEYS, [&]() noexcept {
        return foreignKeysInternal(pkCatalog, pkCatalogLength, pkSchema, pkSchemaLength, pkTable, pkTableLength,
                                   fkCatalog, fkCatalogLength, fkSchema, fkSchemaLength, fkTable, fkTableLength);
    });
}

int16_t BaseCatalogStatement::foreignKeysInternal(const uint16_t* pkCatalog, int16_t pkCatalogLength,
                                                  const uint16_t* pkSchema, int16_t pkSchemaLength,
                                                  const uint16_t* pkTable, int16_t pkTableLength,
                                                  const uint16_t* fkCatalog, int16_t fkCatalogLength,
                                                  const uint16_t* fkSchema, int16_t fkSchemaLength,
                                                  const uint16_t* fkTable, int16_t fkTableLength) noexcept
{
    auto* holder = catalogPushHolder<BaseForeignKeysInfoW>(this);
    if (holder == nullptr)
        return 1;
    if (prepareCatalogArgument(pkCatalog, pkCatalogLength, kCatalogInfoCatalog, &holder->pkCatalogName, nullptr) != 0 ||
        prepareCatalogArgument(pkSchema, pkSchemaLength, kCatalogInfoSchema, &holder->pkSchemaName, nullptr) != 0 ||
        prepareCatalogArgument(pkTable, pkTableLength, kCatalogInfoTable, &holder->pkTableName, nullptr) != 0 ||
        prepareCatalogArgument(fkCatalog, fkCatalogLength, kCatalogInfoCatalog, &holder->fkCatalogName, nullptr) != 0 ||
        prepareCatalogArgument(fkSchema, fkSchemaLength, kCatalogInfoSchema, &holder->fkSchemaName, nullptr) != 0 ||
        prepareCatalogArgument(fkTable, fkTableLength, kCatalogInfoTable, &holder->fkTableName, nullptr) != 0)
        return 1;
    if (foreignKeysHook() != 0)
        return 1;
    if (catalogReadDriverRows(
            this, holder->rows, []() noexcept { return new ForeignRowInfo; },
            [&](ForeignRowInfo* row) noexcept -> int16_t {
                uint16_t** texts[] = {&row->pkTableCat, &row->pkTableSchem, &row->pkTableName, &row->pkColumnName,
                                      &row->fkTableCat, &row->fkTableSchem, &row->fkTableName, &row->fkColumnName};
                for (uint16_t c = 0; c < 8; ++c)
                    if (getCatalogColumnValue(static_cast<uint16_t>(c + 1), texts[c]) != 0)
                        return 1;
                return getCatalogColumnValue(9, &row->keySeq) != 0 ||
                               getCatalogColumnValue(10, &row->updateRule) != 0 ||
                               getCatalogColumnValue(11, &row->deleteRule) != 0 ||
                               getCatalogColumnValue(12, &row->fkName) != 0 ||
                               getCatalogColumnValue(13, &row->pkName) != 0 ||
                               getCatalogColumnValue(14, &row->deferrability) != 0
                           ? 1
                           : 0;
            }) != 0)
        return 1;
    return catalogFinishResult(this, holder, kForeignKeysColumnCount, kForeignKeysColumns, 0);
}
