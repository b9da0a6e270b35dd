// SQLStatistics: the statement operation, the generic operation over the
// driver's statistics hook, and the holder's column values.
#include "catalog/basestat.h"

#include <sql.h>
#include <sqlext.h>

#include "catalog/basecata.h"
#include "catalog/catalogloop.h"
#include "catalog/catalogput.h"
#include "catalog/catalogstats.h"
#include "convert/basestring.h"
#include "foundation/codepage.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "odbc/basestmterr.h"

BaseStatisticsInfoW::BaseStatisticsInfoW(BaseStatement* stmt) noexcept
    : CatalogHolder(stmt, kCatalogKindStatistics, kStatisticsColumns)
{}

int16_t BaseStatisticsInfoW::getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    const auto* row = static_cast<const StatRowInfo*>(currentRowObject());
    CatalogCell cell = row != nullptr ? row->cell(column) : CatalogCell::none();
    // Applications that read ASC_OR_DESC as UTF-16 into exactly two bytes
    // get its one character narrowed, with a one-byte terminator.
    const BaseConnection* conn = statement->connection;
    if (column == kStatisticsAscOrDescColumn && cell.kind == CatalogCellKind::Text && conn != nullptr &&
        (conn->workarounds2 & kBaseWa2NarrowAscDesc) != 0 && out->bufferLength == 2 && strLenW(cell.text) == 1 &&
        ((cType == SQL_C_WCHAR && conn->wideCharCodePage == kCodePageUtf16LE) ||
         (cType == SQL_C_CHAR && statement->charCodePage == kCodePageUtf16LE))) {
        auto narrow = static_cast<char>(cell.text[0] & 0xFF);
        (void)out->putText(&narrow, 1, true, 1);
        return 0;
    }
    return CatalogHolder::getData(column, cType, out);
}

int16_t BaseCatalogStatement::statistics(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                         int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                         uint16_t unique, uint16_t reserved) noexcept
{
    return catalogRunCall(this, SQL_API_SQLSTATISTICS, [&]() noexcept -> int16_t {
        if (table == nullptr) {
            basePostError(kBaseIdxNullPointer);
            return 1;
        }
        return statisticsInternal(catalog, catalogLength, schema, schemaLength, table, tableLength, unique, reserved,
                                  0);
    });
}

int16_t BaseCatalogStatement::statisticsInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                                 int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                                 uint16_t unique, uint16_t /*reserved*/, int16_t hookFlag) noexcept
{
    uint64_t collation = 0;
    if (catalogInfoNumber(SQL_NULL_COLLATION, &collation) != 0)
        return 1;
    auto* holder = catalogPushHolder<BaseStatisticsInfoW>(this);
    if (holder == nullptr)
        return 1;
    if (prepareCatalogArgument(catalog, catalogLength, kCatalogInfoCatalog, &holder->catalogName, nullptr) != 0 ||
        prepareCatalogArgument(schema, schemaLength, kCatalogInfoSchema, &holder->schemaName, nullptr) != 0 ||
        prepareCatalogArgument(table, tableLength, kCatalogInfoTable, &holder->tableName, nullptr) != 0)
        return 1;
    holder->unique = unique;
    if (statisticsHook(hookFlag) != 0)
        return 1;
    const auto nulls = static_cast<int16_t>(collation);
    if (catalogReadDriverRows(
            this, holder->rows, [nulls]() noexcept { return new StatRowInfo(nulls); },
            [&](StatRowInfo* row) noexcept -> int16_t {
                if (getCatalogColumnValue(1, &row->tableCat) != 0 || getCatalogColumnValue(2, &row->tableSchem) != 0 ||
                    getCatalogColumnValue(3, &row->tableName) != 0 || getCatalogColumnValue(4, &row->nonUnique) != 0 ||
                    getCatalogColumnValue(5, &row->indexQualifier) != 0 ||
                    getCatalogColumnValue(6, &row->indexName) != 0 || getCatalogColumnValue(7, &row->type) != 0 ||
                    getCatalogColumnValue(8, &row->ordinalPosition) != 0 ||
                    getCatalogColumnValue(9, &row->columnName) != 0 ||
                    getCatalogColumnValue(10, &row->ascOrDesc) != 0 ||
                    getCatalogColumnValue(11, &row->cardinality) != 0 || getCatalogColumnValue(12, &row->pages) != 0 ||
                    getCatalogColumnValue(13, &row->filterCondition) != 0)
                    return 1;
                return row->passesUnique(holder->unique) ? 0 : 2;
            }) != 0)
        return 1;
    return catalogFinishResult(this, holder, kStatisticsColumnCount, kStatisticsColumns, 0);
}
