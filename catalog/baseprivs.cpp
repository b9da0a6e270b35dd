// SQLColumnPrivileges and SQLTablePrivileges: the statement operations, the
// generic operations over the driver's privilege hooks, and the holders'
// column values.
#include "catalog/baseprivs.h"

#include <sql.h>
#include <sqlext.h>

#include "catalog/basecata.h"
#include "catalog/catalogloop.h"
#include "catalog/catalogprivs.h"
#include "catalog/catalogput.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "odbc/baseerr.h"
#include "odbc/basestmterr.h"

namespace {

// Every result column of the driver's current row into a row object's
// fields, except result column skipColumn (0: none). 0, or 1.
template <class Row>
int16_t readPrivilegeRow(BaseCatalogStatement* stmt, Row* row, uint16_t count, uint16_t skipColumn) noexcept
{
    for (uint16_t c = 1; c <= count; ++c)
        if (c != skipColumn && stmt->getCatalogColumnValue(c, row->field(c)) != 0)
            return 1;
    return 0;
}

// The rows "ALL" stands for beside the one that became SELECT, each read
// again from the driver's row. 0, or 1.
template <class Row, class Adjust>
int16_t expandAll(BaseCatalogStatement* stmt, KaSortedArray& rows, uint16_t count, uint16_t privilegeColumn,
                  size_t expansions, Adjust adjust) noexcept
{
    for (size_t i = 0; i < expansions; ++i) {
        auto* more = catalogAppendNew(rows, new Row);
        if (more == nullptr)
            return 1;
        if (readPrivilegeRow(stmt, more, count, privilegeColumn) != 0 ||
            !catalogCopyText(strUnits(kPrivilegeExpansion[i]), more->field(privilegeColumn)) || !adjust(more))
            return 1;
    }
    return 0;
}

// A driver's "ALL" becomes SELECT in place. false after the out-of-memory
// diagnostic.
bool makeSelect(uint16_t** privilege) noexcept
{
    ramFree(*privilege);
    return catalogCopyText(strUnits(u"SELECT"), privilege);
}

}  // namespace

BaseColumnPrivilegesInfoW::BaseColumnPrivilegesInfoW(BaseStatement* stmt) noexcept
    : CatalogHolder(stmt, kCatalogKindColumnPrivileges, kColumnPrivilegesColumns)
{}

BaseTablePrivilegesInfoW::BaseTablePrivilegesInfoW(BaseStatement* stmt) noexcept
    : CatalogHolder(stmt, kCatalogKindTablePrivileges, kTablePrivilegesColumns)
{}

int16_t BaseCatalogStatement::columnPrivileges(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                               int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                               const uint16_t* column, int16_t columnLength) noexcept
{
    return catalogRunCall(this, SQL_API_SQLCOLUMNPRIVILEGES, [&]() noexcept {
        return columnPrivilegesInternal(catalog, catalogLength, schema, schemaLength, table, tableLength, column,
                                        columnLength);
    });
}

int16_t BaseCatalogStatement::columnPrivilegesInternal(const uint16_t* catalog, int16_t catalogLength,
                                                       const uint16_t* schema, int16_t schemaLength,
                                                       const uint16_t* table, int16_t tableLength,
                                                       const uint16_t* column, int16_t columnLength) noexcept
{
    if (table == nullptr) {
        basePostError(kBaseIdxNullPointer);
        return 1;
    }
    auto* holder = catalogPushHolder<BaseColumnPrivilegesInfoW>(this);
    if (holder == nullptr)
        return 1;
    if (prepareCatalogArgument(catalog, catalogLength, kCatalogInfoCatalog, &holder->catalogName, nullptr) != 0 ||
        prepareCatalogArgument(schema, schemaLength, kCatalogInfoSchema, &holder->schemaName, nullptr) != 0 ||
        prepareCatalogArgument(table, tableLength, kCatalogInfoTable, &holder->tableName, nullptr) != 0 ||
        prepareCatalogArgument(column, columnLength, kCatalogInfoColumn, &holder->columnName, &holder->columnPattern) !=
            0)
        return 1;
    if (columnPrivilegesHook() != 0)
        return 1;
    constexpr uint16_t count = kColumnPrivilegesColumnCount;
    constexpr uint16_t privilege = kColumnPrivilegesPrivilegeColumn;
    if (catalogReadDriverRows(
            this, holder->rows, []() noexcept { return new ColPrivsRowInfo; },
            [&](ColPrivsRowInfo* row) noexcept -> int16_t {
                if (readPrivilegeRow(this, row, count, 0) != 0)
                    return 1;
                if (matchName(*row->field(4), holder->columnPattern, 0) == 0)
                    return 2;
                if (!row->markSystemGrantor())
                    return 1;
                if (!privilegeIsAll(*row->field(privilege)))
                    return 0;
                if (!makeSelect(row->field(privilege)))
                    return 1;
                return expandAll<ColPrivsRowInfo>(this, holder->rows, count, privilege, kColumnPrivilegeExpansionCount,
                                                  [](ColPrivsRowInfo* r) noexcept { return r->markSystemGrantor(); });
            }) != 0)
        return 1;
    return catalogFinishResult(this, holder, count, kColumnPrivilegesColumns, 0);
}

int16_t BaseCatalogStatement::tablePrivileges(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                              int16_t schemaLength, const uint16_t* table, int16_t tableLength) noexcept
{
    return catalogRunCall(this, SQL_API_SQLTABLEPRIVILEGES, [&]() noexcept {
        return tablePrivilegesInternal(catalog, catalogLength, schema, schemaLength, table, tableLength);
    });
}

int16_t BaseCatalogStatement::tablePrivilegesInternal(const uint16_t* catalog, int16_t catalogLength,
                                                      const uint16_t* schema, int16_t schemaLength,
                                                      const uint16_t* table, int16_t tableLength) noexcept
{
    auto* holder = catalogPushHolder<BaseTablePrivilegesInfoW>(this);
    if (holder == nullptr)
        return 1;
    if (prepareCatalogArgument(catalog, catalogLength, kCatalogInfoCatalog, &holder->catalogName, nullptr) != 0 ||
        prepareCatalogArgument(schema, schemaLength, kCatalogInfoSchema, &holder->schemaName, &holder->schemaPattern) !=
            0 ||
        prepareCatalogArgument(table, tableLength, kCatalogInfoTable, &holder->tableName, &holder->tablePattern) != 0)
        return 1;
    if (tablePrivilegesHook() != 0)
        return 1;
    constexpr uint16_t count = kTablePrivilegesColumnCount;
    constexpr uint16_t privilege = kTablePrivilegesPrivilegeColumn;
    if (catalogReadDriverRows(
            this, holder->rows, []() noexcept { return new TablePrivsRowInfo; },
            [&](TablePrivsRowInfo* row) noexcept -> int16_t {
                if (readPrivilegeRow(this, row, count, 0) != 0)
                    return 1;
                if (matchName(*row->field(2), holder->schemaPattern, 0) == 0 ||
                    matchName(*row->field(3), holder->tablePattern, 1) == 0)
                    return 2;
                if (!privilegeIsAll(*row->field(privilege)))
                    return 0;
                if (!makeSelect(row->field(privilege)))
                    return 1;
                return expandAll<TablePrivsRowInfo>(this, holder->rows, count, privilege, kTablePrivilegeExpansionCount,
                                                    [](TablePrivsRowInfo*) noexcept { return true; });
            }) != 0)
        return 1;
    return catalogFinishResult(this, holder, count, kTablePrivilegesColumns, 0);
}
