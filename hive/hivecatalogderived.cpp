// The Hive statement's SQLStatistics, SQLSpecialColumns, key, procedure and
// privilege hooks. The server keeps no indexes, keys, procedures or
// privileges: those results are empty (the listing is marked as read so
// that the framework's row loop ends at once). SQLStatistics lists one
// table-statistics row per table that matches, from the table listing of
// SQLTables; SQLSpecialColumns lists, with ReturnSearchableSpecialColumns,
// the table's searchable columns from an inner SQLColumns.
#include "hive/hivecatalogderived.h"

#include <sql.h>
#include <sqlext.h>
#include <unicode/uchar.h>

#include <memory>

#include "catalog/basespec.h"
#include "catalog/basestat.h"
#include "catalog/basetabl.h"
#include "catalog/catalogloop.h"
#include "catalog/catalognames.h"
#include "catalog/catalogspecial.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/baseerr.h"

namespace {

// Result columns of SQLColumns the searchable-columns scan reads.
constexpr uint16_t kColumnsSchem = 2;
constexpr uint16_t kColumnsTable = 3;
constexpr uint16_t kColumnsName = 4;
constexpr uint16_t kColumnsDataType = 5;
constexpr uint16_t kColumnsTypeName = 6;
constexpr uint16_t kColumnsSize = 7;
constexpr uint16_t kColumnsBufferLength = 8;
constexpr uint16_t kColumnsDecimalDigits = 9;
// The statistics row's TYPE column, and the columns of the table listing it
// clears.
constexpr uint16_t kStatisticsType = 7;
constexpr uint16_t kListingType = 4;
constexpr uint16_t kListingRemarks = 5;
// The parameter message 1201 carries for an unknown column type.
constexpr int32_t kUnknownTypeParameter = 4;

// The inner queries' diagnostics reach the application only when the link
// failed or the connection asks for them; 1 then (the call fails), else they
// are dropped and 0 returned.
int16_t forwardOrDrop(HiveStatement* s, const KaDiagMark& mark) noexcept
{
    const bool keep = (s->hiveConnection() != nullptr && s->hiveConnection()->returnNativeCatalogErrors != 0) ||
                      hiveLinkFailedSince(mark);
    if (keep)
        return mark.posted() != 0 ? 1 : 0;
    mark.drop();
    return 0;
}

// A listed table as its table-statistics row.
void asTableStatistics(HiveCatalogRow* row) noexcept
{
    row->setText(kListingType, nullptr);
    row->setText(kListingRemarks, nullptr);
    row->setNumber(kStatisticsType, SQL_TABLE_STAT);
}

// An empty driver result: the framework's row loop ends at once.
int16_t noRows(HiveStatement* s) noexcept
{
    s->catalogListing.clear();
    s->catalogListing.active = true;
    return 0;
}

bool sameNoCase(const uint16_t* a, const uint16_t* b) noexcept
{
    return a != nullptr && b != nullptr && strEqualNoCaseW(a, b) != 0;
}

// The searchable columns of the holder's table in schema `schema` as rows
// of the holder, from an inner SQLColumns. 0, or 1 when the call must fail.
int16_t appendSearchableColumns(HiveStatement* s, BaseSpecialColumnsInfoW* holder, const uint16_t* schema) noexcept
{
    HiveConnection* conn = s->hiveConnection();
    const KaDiagMark mark;
    if (s->columnsInternal(holder->catalogName, SQL_NTS, schema, SQL_NTS, holder->tableName, SQL_NTS, nullptr, 0) !=
        0) {
        if (s->catalogInfoW != holder)
            (void)s->popColumnsInfo();
        return forwardOrDrop(s, mark);
    }
    int16_t rc = 0;
    for (;;) {
        int16_t end = 0;
        if (s->catalogInfoW->fetchNext(&end) != 0) {
            rc = 1;
            break;
        }
        if (end != 0)
            break;
        uint16_t* schemaRead = nullptr;
        uint16_t* tableRead = nullptr;
        const bool readFailed = s->readCatalogText(kColumnsSchem, &schemaRead, true) != 0 ||
                                s->readCatalogText(kColumnsTable, &tableRead, true) != 0;
        const RamPtr<uint16_t> rowSchema(schemaRead);
        const RamPtr<uint16_t> rowTable(tableRead);
        if (readFailed) {
            rc = 1;
            break;
        }
        // The inner call took the table name as a pattern; only the table
        // itself counts.
        if (!sameNoCase(rowSchema.get(), schema) || !sameNoCase(rowTable.get(), holder->tableName))
            continue;
        std::unique_ptr<SpecialRowInfo> row(new SpecialRowInfo);
        if (row == nullptr) {
            rc = 1;
            break;
        }
        int16_t dataType = 0;
        if (s->readCatalogText(kColumnsName, &row->columnName, true) != 0 ||
            s->readCatalogText(kColumnsTypeName, &row->typeName, true) != 0 ||
            catalogReadNestedShort(s, kColumnsDataType, &dataType, 0) != 0 ||
            catalogReadNestedLong(s, kColumnsSize, &row->columnSize, kSpecialNullLong) != 0 ||
            catalogReadNestedLong(s, kColumnsBufferLength, &row->bufferLength, kSpecialNullLong) != 0 ||
            catalogReadNestedShort(s, kColumnsDecimalDigits, &row->decimalDigits, kSpecialNullShort) != 0) {
            rc = 1;
            break;
        }
        const BaseTypeRow* type = hiveSpecialTypeRow(conn->typeTable, conn->typeTableCount, row->typeName, dataType);
        if (type == nullptr) {
            // A type the driver cannot describe is not known to be
            // searchable; the scan goes on with the next column.
            basePostErrorMsg(kBaseIdxGeneralWarning, MSG_HIVE_COLUMN_TYPE_UNKNOWN)
                ->addParamSigned(kUnknownTypeParameter);
            continue;
        }
        if (type->searchable != SQL_PRED_BASIC && type->searchable != SQL_SEARCHABLE)
            continue;
        row->scope = SQL_SCOPE_CURROW;
        row->position = static_cast<uint32_t>(holder->rows.count);
        row->dataType = dataType;
        row->pseudoColumn = SQL_PC_NOT_PSEUDO;
        if (holder->rows.append(row.get()) != 0) {
            rc = 1;
            break;
        }
        (void)row.release();
    }
    (void)s->popColumnsInfo();
    // A failed read ends the scan with the rows found so far; its diagnostics
    // and the scan's warnings stay only where the connection asks for them.
    (void)rc;
    return forwardOrDrop(s, mark);
}

}  // namespace

const BaseTypeRow* hiveSpecialTypeRow(const BaseTypeRow* table, size_t count, const uint16_t* typeName,
                                      int16_t dataType) noexcept
{
    if (table == nullptr || typeName == nullptr)
        return nullptr;
    size_t n = 0;
    while (typeName[n] != 0 && typeName[n] != u'(' && typeName[n] != u'<')
        ++n;
    const BaseTypeRow* byName = nullptr;
    const BaseTypeRow* byType = nullptr;
    for (size_t i = 0; i < count; ++i) {
        const BaseTypeRow& r = table[i];
        bool nameMatches = r.name != nullptr && strLenW(r.name) == n;
        for (size_t k = 0; nameMatches && k < n; ++k)
            nameMatches = u_tolower(r.name[k]) == u_tolower(typeName[k]);
        if (nameMatches && r.sqlType == dataType)
            return &r;
        if (nameMatches && byName == nullptr)
            byName = &r;
        if (r.sqlType == dataType && byType == nullptr)
            byType = &r;
    }
    return byName != nullptr ? byName : byType;
}

uint16_t* hiveExactPattern(const uint16_t* name, uint16_t escape, bool* failed) noexcept
{
    *failed = false;
    if (name == nullptr)
        return nullptr;
    const size_t n = strLenW(name);
    auto* out = static_cast<uint16_t*>(ramAlloc((2 * n + 1) * sizeof(uint16_t)));
    if (out == nullptr) {
        *failed = true;
        return nullptr;
    }
    size_t w = 0;
    for (size_t i = 0; i < n; ++i) {
        if (escape != 0 && (name[i] == u'%' || name[i] == u'_' || name[i] == escape))
            out[w++] = escape;
        out[w++] = name[i];
    }
    out[w] = 0;
    return out;
}

int16_t HiveStatement::statisticsHook(int16_t hookFlag) noexcept
{
    // Nested in SQLSpecialColumns the statistics have no index to offer.
    if (hookFlag != 0)
        return noRows(this);
    auto* holder = static_cast<BaseStatisticsInfoW*>(catalogInfoW);
    uint16_t escape = 0;
    if (holder == nullptr || catalogInfoUnit(SQL_SEARCH_PATTERN_ESCAPE, &escape) != 0)
        return 1;
    // The table listing of SQLTables, over patterns that match the plain
    // names exactly.
    std::unique_ptr<BaseTablesInfoW> owned(new BaseTablesInfoW(this));
    if (owned == nullptr || pushColumnsInfo(owned.get()) != 0)
        return 1;
    // The statement holds it now, until it is popped.
    BaseTablesInfoW* listing = owned.release();
    bool failed = false;
    bool failedToo = false;
    listing->schemaName = holder->schemaName != nullptr ? baseCatalogCopyText(holder->schemaName, SQL_NTS) : nullptr;
    listing->schemaPattern = hiveExactPattern(holder->schemaName, escape, &failed);
    listing->tableName = baseCatalogCopyText(holder->tableName, SQL_NTS);
    listing->tablePattern = hiveExactPattern(holder->tableName, escape, &failedToo);
    listing->typeSet = kCatalogTypeAll;
    int16_t rc = failed || failedToo || listing->tableName == nullptr ||
                         (holder->schemaName != nullptr && listing->schemaName == nullptr)
                     ? 1
                     : tablesHook(nullptr, 0);
    (void)popColumnsInfo();
    if (rc != 0)
        return 1;
    // Each listed table becomes its table-statistics row as it is read:
    // schema and name stay, TYPE is SQL_TABLE_STAT, every other column NULL.
    catalogListing.onRead = asTableStatistics;
    catalogListing.active = true;
    return 0;
}

int16_t HiveStatement::specialColumnsHook(int16_t* noAnswer) noexcept
{
    *noAnswer = 0;
    auto* holder = static_cast<BaseSpecialColumnsInfoW*>(catalogInfoW);
    HiveConnection* conn = hiveConnection();
    if (holder == nullptr || conn == nullptr)
        return 1;
    int16_t rc = 0;
    if (conn->returnSearchableSpecialColumns != 0 && holder->identifierType == SQL_BEST_ROWID &&
        holder->scope == SQL_SCOPE_CURROW && holder->nullable != SQL_NO_NULLS) {
        const uint16_t* schema = holder->schemaName;
        if (schema == nullptr && conn->useCurrentSchema != 0)
            schema = conn->databaseName;
        if (schema != nullptr)
            rc = appendSearchableColumns(this, holder, schema);
    }
    // The rows are in the holder already; the driver result is empty.
    (void)noRows(this);
    return rc;
}

int16_t HiveStatement::primaryKeysHook() noexcept
{
    return noRows(this);
}

int16_t HiveStatement::foreignKeysHook() noexcept
{
    return noRows(this);
}

int16_t HiveStatement::proceduresHook() noexcept
{
    return noRows(this);
}

int16_t HiveStatement::procedureColumnsHook() noexcept
{
    return noRows(this);
}

int16_t HiveStatement::columnPrivilegesHook() noexcept
{
    return noRows(this);
}

int16_t HiveStatement::tablePrivilegesHook() noexcept
{
    return noRows(this);
}
