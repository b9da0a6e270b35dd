// SQLSpecialColumns: the statement operation, the generic operation (the
// driver's answer, or the best row identifier derived from the table's
// first usable unique index), and the holder's column values.
#include "catalog/basespec.h"

#include <sql.h>
#include <sqlext.h>

#include <memory>

#include "catalog/basecata.h"
#include "catalog/catalogloop.h"
#include "catalog/catalogput.h"
#include "catalog/catalogspecial.h"
#include "catalog/catalogstats.h"
#include "convert/basestring.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/basestmterr.h"

namespace {

// SQLColumns' result columns the derivation reads.
constexpr uint16_t kColumnsColumnName = 4;
constexpr uint16_t kColumnsDataType = 5;
constexpr uint16_t kColumnsTypeName = 6;
constexpr uint16_t kColumnsColumnSize = 7;
constexpr uint16_t kColumnsBufferLength = 8;
constexpr uint16_t kColumnsDecimalDigits = 9;
constexpr uint16_t kColumnsNullable = 11;

// The unique indexes of the table as rows of the holder, one per index
// column in statistics order. 0, or 1.
int16_t collectUniqueIndexes(BaseCatalogStatement* stmt, BaseSpecialColumnsInfoW* holder, const uint16_t* catalog,
                             int16_t catalogLength, const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                             int16_t tableLength) noexcept
{
    if (stmt->statisticsInternal(catalog, catalogLength, schema, schemaLength, table, tableLength, SQL_INDEX_UNIQUE, 0,
                                 1) != 0)
        return 1;
    int16_t rc = 0;
    for (;;) {
        int16_t end = 0;
        if (stmt->catalogInfoW->fetchNext(&end) != 0) {
            rc = 1;
            break;
        }
        if (end != 0)
            break;
        uint16_t* read = nullptr;
        if (stmt->readCatalogText(kStatisticsIndexNameColumn, &read, true) != 0) {
            rc = 1;
            break;
        }
        RamPtr<uint16_t> index(read);
        if (index == nullptr)
            continue;  // the table-statistics row
        std::unique_ptr<SpecialRowInfo> owned(new SpecialRowInfo);
        if (owned == nullptr || holder->rows.append(owned.get()) != 0) {
            rc = 1;
            break;
        }
        SpecialRowInfo* row = owned.release();
        row->indexName = index.release();
        row->scope = SQL_SCOPE_SESSION;
        if (stmt->readCatalogText(kStatisticsColumnNameColumn, &row->columnName, true) != 0) {
            rc = 1;
            break;
        }
    }
    (void)stmt->popColumnsInfo();
    return rc;
}

// Every column of the table described to the index rows naming it. 0, or 1.
int16_t describeIndexColumns(BaseCatalogStatement* stmt, BaseSpecialColumnsInfoW* holder, const uint16_t* catalog,
                             int16_t catalogLength, const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                             int16_t tableLength) noexcept
{
    if (stmt->columnsInternal(catalog, catalogLength, schema, schemaLength, table, tableLength, nullptr, 0) != 0)
        return 1;
    BaseCatalogRowTexts stage;
    int16_t rc = 0;
    for (;;) {
        int16_t end = 0;
        if (stmt->catalogInfoW->fetchNext(&end) != 0) {
            rc = 1;
            break;
        }
        if (end != 0)
            break;
        // The facts' texts are read into a stage that drops them again.
        SpecialColumnFacts facts;
        stage.clear();
        if (stage.read(stmt, kColumnsColumnName, true, nullptr) != 0 ||
            catalogReadNestedShort(stmt, kColumnsDataType, &facts.dataType, 0) != 0 ||
            stage.read(stmt, kColumnsTypeName, true, nullptr) != 0 ||
            catalogReadNestedLong(stmt, kColumnsColumnSize, &facts.columnSize, kSpecialNullLong) != 0 ||
            catalogReadNestedLong(stmt, kColumnsBufferLength, &facts.bufferLength, kSpecialNullLong) != 0 ||
            catalogReadNestedShort(stmt, kColumnsDecimalDigits, &facts.decimalDigits, kSpecialNullShort) != 0 ||
            catalogReadNestedShort(stmt, kColumnsNullable, &facts.nullable, SQL_NULLABLE_UNKNOWN) != 0)
            rc = 1;
        facts.name = stage.at(0);
        facts.typeName = stage.at(1);
        if (rc == 0)
            rc = specialApplyColumn(&holder->rows, facts, holder->nullable);
        if (rc != 0)
            break;
    }
    (void)stmt->popColumnsInfo();
    return rc;
}

}  // namespace

BaseSpecialColumnsInfoW::BaseSpecialColumnsInfoW(BaseStatement* stmt) noexcept
    : CatalogHolder(stmt, kCatalogKindSpecialColumns, kSpecialColumnsColumns)
{}

int16_t BaseCatalogStatement::specialColumns(uint16_t identifierType, const uint16_t* catalog, int16_t catalogLength,
                                             const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                                             int16_t tableLength, uint16_t scope, uint16_t nullable) noexcept
{
    return catalogRunCall(this, SQL_API_SQLSPECIALCOLUMNS, [&]() noexcept {
        return specialColumnsInternal(identifierType, catalog, catalogLength, schema, schemaLength, table, tableLength,
                                      scope, nullable);
    });
}

int16_t BaseCatalogStatement::specialColumnsInternal(uint16_t identifierType, const uint16_t* catalog,
                                                     int16_t catalogLength, const uint16_t* schema,
                                                     int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                                     uint16_t scope, uint16_t nullable) noexcept
{
    if (table == nullptr) {
        basePostError(kBaseIdxNullPointer);
        return 1;
    }
    auto* holder = catalogPushHolder<BaseSpecialColumnsInfoW>(this);
    if (holder == nullptr)
        return 1;
    if (prepareCatalogArgument(catalog, catalogLength, kCatalogInfoCatalog, &holder->catalogName, nullptr) != 0 ||
        prepareCatalogArgument(schema, schemaLength, kCatalogInfoSchema, &holder->schemaName, nullptr) != 0 ||
        prepareCatalogArgument(table, tableLength, kCatalogInfoTable, &holder->tableName, nullptr) != 0)
        return 1;
    holder->identifierType = identifierType;
    holder->scope = scope;
    holder->nullable = nullable;
    int16_t noAnswer = 1;
    if (connection == nullptr || (connection->workarounds & kBaseWaSpecialFromIndexes) == 0) {
        if (specialColumnsHook(&noAnswer) != 0)
            return 1;
    }
    if (noAnswer == 0) {
        const bool odbc2 = connection != nullptr && connection->env != nullptr && connection->env->odbc2Mode != 0;
        if (catalogReadDriverRows(
                this, holder->rows, []() noexcept { return new SpecialRowInfo; },
                [&](SpecialRowInfo* row) noexcept -> int16_t {
                    row->position = static_cast<uint32_t>(holder->rows.count);
                    if (getCatalogColumnValue(1, &row->scope) != 0 || getCatalogColumnValue(2, &row->columnName) != 0 ||
                        getCatalogColumnValue(3, &row->dataType) != 0 ||
                        getCatalogColumnValue(4, &row->typeName) != 0 ||
                        getCatalogColumnValue(5, &row->columnSize) != 0 ||
                        getCatalogColumnValue(6, &row->bufferLength) != 0 ||
                        getCatalogColumnValue(7, &row->decimalDigits) != 0 ||
                        getCatalogColumnValue(8, &row->pseudoColumn) != 0)
                        return 1;
                    if (odbc2 && row->dataType >= SQL_TYPE_DATE && row->dataType <= SQL_TYPE_TIMESTAMP)
                        row->dataType = static_cast<int16_t>(row->dataType - (SQL_TYPE_DATE - SQL_DATE));
                    return 0;
                }) != 0)
            return 1;
        return catalogFinishResult(this, holder, kSpecialColumnsColumnCount, kSpecialColumnsColumns, -1);
    }
    // No answer from the driver: a row version column cannot be derived; the
    // best row identifier is the first unique index all of whose columns
    // exist (and, unless NULLs are allowed, are NOT NULL).
    if (identifierType != SQL_ROWVER) {
        if (collectUniqueIndexes(this, holder, catalog, catalogLength, schema, schemaLength, table, tableLength) != 0)
            return 1;
        if (holder->rows.count != 0) {
            if (describeIndexColumns(this, holder, catalog, catalogLength, schema, schemaLength, table, tableLength) !=
                0)
                return 1;
            specialKeepFirstIndex(&holder->rows);
        }
    }
    if (bindCatalogColumns(kSpecialColumnsColumnCount, kSpecialColumnsColumns, -1) != 0)
        return 1;
    return finishCatalogExecute();
}
