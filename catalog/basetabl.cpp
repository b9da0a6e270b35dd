// SQLTables over the catalog framework: the argument forms (the catalog,
// schema and table-type enumerations), the table-type filter, and the sorted
// result without duplicates.
#include "catalog/basetabl.h"

#include <sql.h>
#include <sqlext.h>
#include <unicode/ustring.h>

#include <memory>

#include "catalog/basecata.h"
#include "catalog/catalognames.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"

namespace {

bool isEmptyArgument(const uint16_t* s, int16_t length) noexcept
{
    return s != nullptr && (length == 0 || (length == SQL_NTS && s[0] == 0));
}

bool isLonePercent(const uint16_t* s, int16_t length) noexcept
{
    if (s == nullptr)
        return false;
    if (length == 1)
        return s[0] == u'%';
    return length == SQL_NTS && s[0] == u'%' && s[1] == 0;
}

struct TypeRow {
    uint32_t bit;
    const char16_t* name;
};

// The order in which the type enumeration adds its rows.
constexpr TypeRow kTypeRows[] = {
    {kCatalogTypeTable, u"TABLE"},
    {kCatalogTypeSystemTable, u"SYSTEM TABLE"},
    {kCatalogTypeSynonym, u"SYNONYM"},
    {kCatalogTypeView, u"VIEW"},
    {kCatalogTypeAlias, u"ALIAS"},
    {kCatalogTypeGlobalTemporary, u"GLOBAL TEMPORARY"},
    {kCatalogTypeLocalTemporary, u"LOCAL TEMPORARY"},
};

}  // namespace

int16_t catalogCompareKey(const uint16_t* mine, const uint16_t* theirs) noexcept
{
    if (mine == nullptr)
        return 0;
    if (theirs == nullptr)
        return 1;
    const int32_t r =
        u_strCompare(reinterpret_cast<const UChar*>(mine), -1, reinterpret_cast<const UChar*>(theirs), -1, 1);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

// ---- The holder ---------------------------------------------------------------------------------

BaseTablesInfoW::BaseTablesInfoW(BaseStatement* stmt) noexcept
    : CatalogArgumentsHolder(stmt, kCatalogKindTables,
                             stmt != nullptr && stmt->connection != nullptr ? stmt->connection->tablesColumns
                                                                            : kBaseTablesColumns)
{}

int16_t BaseTablesInfoW::getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    const auto* row = static_cast<const TablesRowInfo*>(currentRowObject());
    const uint16_t* value = nullptr;
    if (row != nullptr) {
        switch (column) {
        case 1: value = row->tableCat; break;
        case 2: value = row->tableSchem; break;
        case 3: value = row->tableName; break;
        case 4: value = row->tableType; break;
        case 5: value = row->remarks; break;
        default: break;
        }
    }
    return putText(column, cType, out, value);
}

int16_t BaseTablesInfoW::addTypeRows() noexcept
{
    for (const TypeRow& t : kTypeRows) {
        if ((typeSet & t.bit) == 0)
            continue;
        std::unique_ptr<TablesRowInfo> row(new TablesRowInfo());
        BaseCatalogRowTexts stage;
        if (row == nullptr || stage.add(reinterpret_cast<const uint16_t*>(t.name), SQL_NTS, &row->tableType) != 0 ||
            stage.keep(&row->texts) != 0 || rows.append(row.get()) != 0)
            return 1;
        (void)row.release();
    }
    return 0;
}

// ---- The row ------------------------------------------------------------------------------------

int16_t TablesRowInfo::compare(const KaObject& other) const
{
    const auto& o = static_cast<const TablesRowInfo&>(other);
    if (tableType != nullptr) {
        if (o.tableType == nullptr)
            return 1;
        const uint16_t* a = tableType;
        const uint16_t* b = o.tableType;
        for (; *a != 0 && *a == *b; ++a, ++b) {
        }
        if (*a != *b)
            return *a < *b ? -1 : 1;
    }
    if (int16_t r = catalogCompareKey(tableCat, o.tableCat); r != 0)
        return r;
    if (int16_t r = catalogCompareKey(tableSchem, o.tableSchem); r != 0)
        return r;
    return catalogCompareKey(tableName, o.tableName);
}

int16_t TablesRowInfo::passesFilter(BaseCatalogStatement* stmt, const BaseTablesInfoW* holder) const noexcept
{
    if (holder->enumeration != kTablesListing)
        return 1;
    if (stmt->matchName(tableSchem, holder->schemaPattern, 0) == 0)
        return 0;
    if (stmt->matchName(tableName, holder->tablePattern, 1) == 0)
        return 0;
    if ((holder->typeSet & kCatalogTypeAll) != 0 || tableType == nullptr)
        return 1;
    return catalogTypePasses(tableType, holder->typeSet) ? 1 : 0;
}

// ---- The generic operation ----------------------------------------------------------------------

int16_t BaseCatalogStatement::tablesInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                             int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                             const uint16_t* types, int16_t typesLength, int16_t internal) noexcept
{
    auto* holder = catalogPushHolder<BaseTablesInfoW>(this);
    if (holder == nullptr)
        return 1;
    bool special = false;
    if (catalog != nullptr) {
        const bool emptySchema = isEmptyArgument(schema, schemaLength);
        const bool emptyTable = isEmptyArgument(table, tableLength);
        uint64_t limit = 0;
        if (isLonePercent(catalog, catalogLength) && emptySchema && emptyTable) {
            if (catalogInfoNumber(kCatalogInfoCatalog, &limit) != 0)
                return 1;
            if (limit == 0) {
                basePostError(kBaseIdxNotSupported);
                return 1;
            }
            holder->enumeration = kTablesCatalogs;
            special = true;
        } else if (isEmptyArgument(catalog, catalogLength) && isLonePercent(schema, schemaLength) && emptyTable) {
            if (catalogInfoNumber(kCatalogInfoSchema, &limit) != 0)
                return 1;
            if (limit == 0) {
                basePostError(kBaseIdxNotSupported);
                return 1;
            }
            holder->enumeration = kTablesSchemas;
            special = true;
        } else if (isEmptyArgument(catalog, catalogLength) && emptySchema && emptyTable &&
                   isLonePercent(types, typesLength)) {
            holder->enumeration = kTablesTypes;
            special = true;
        }
    }
    if (!special) {
        if (prepareCatalogArgument(catalog, catalogLength, kCatalogInfoCatalog, &holder->catalogName,
                                   &holder->catalogPattern) != 0 ||
            prepareCatalogArgument(schema, schemaLength, kCatalogInfoSchema, &holder->schemaName,
                                   &holder->schemaPattern) != 0 ||
            prepareCatalogArgument(table, tableLength, kCatalogInfoTable, &holder->tableName, &holder->tablePattern) !=
                0)
            return 1;
        holder->typeSet = internal != 0 ? kCatalogTypeAll : catalogTableTypeSet(types, typesLength);
    }
    if (tablesHook(types, typesLength) != 0)
        return 1;
    if (!(holder->enumeration == kTablesTypes && (holder->typeSet & kCatalogTypeKnown) != 0)) {
        BaseCatalogRowTexts stage;
        for (;;) {
            int16_t end = 0;
            if (catalogFetchRow(&end) != 0)
                return 1;
            if (end != 0)
                break;
            std::unique_ptr<TablesRowInfo> row(new TablesRowInfo());
            if (row == nullptr)
                return 1;
            const int32_t e = holder->enumeration;
            if (((e == kTablesListing || e == kTablesCatalogs) && stage.read(this, 1, false, &row->tableCat) != 0) ||
                ((e == kTablesListing || e == kTablesSchemas) && stage.read(this, 2, false, &row->tableSchem) != 0) ||
                (e == kTablesListing && stage.read(this, 3, false, &row->tableName) != 0) ||
                ((e == kTablesListing || e == kTablesTypes) && stage.read(this, 4, false, &row->tableType) != 0) ||
                (e == kTablesListing && stage.read(this, 5, false, &row->remarks) != 0) || stage.keep(&row->texts) != 0)
                return 1;
            if (row->passesFilter(this, holder) == 0)
                continue;
            if (holder->rows.append(row.get()) != 0)
                return 1;
            (void)row.release();
        }
    } else if (holder->addTypeRows() != 0) {
        return 1;
    }
    if (closeDriverResult() != 0)
        return 1;
    const BaseCatalogColumn* table5 = connection != nullptr ? connection->tablesColumns : kBaseTablesColumns;
    const uint16_t count = connection != nullptr ? connection->tablesColumnCount : kBaseTablesColumnCount;
    if (bindCatalogColumns(count, table5, 0) != 0)
        return 1;
    holder->rows.sortFlags = 0;
    if (holder->rows.count > 1) {
        if (holder->rows.sort() != 0)
            return 1;
        holder->rows.removeDuplicates();
    }
    return finishCatalogExecute();
}
