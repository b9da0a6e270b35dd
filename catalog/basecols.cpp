// SQLColumns over the catalog framework: the driver's column rows grouped by
// table, the size settings applied, the three patterns, and the result held
// per table so that the application's row numbers run across all tables.
#include "catalog/basecols.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <memory>

#include "catalog/basecata.h"
#include "catalog/basetabl.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/basedescribe.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"

namespace {

constexpr int32_t kColumnCount = 18;
constexpr int64_t kNullLength = -1;

bool isCharOrBinary(int16_t t) noexcept
{
    switch (t) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return true;
    default: return false;
    }
}

const uint16_t* textOf(const char16_t* s) noexcept
{
    return reinterpret_cast<const uint16_t*>(s);
}

}  // namespace

int16_t sameCatalogName(const uint16_t* stored, const uint16_t* counted, int32_t length) noexcept
{
    if (stored == nullptr || length == kNullLength)
        return stored == nullptr && length == kNullLength ? 0 : 1;
    for (int32_t i = 0; i < length; ++i)
        if (stored[i] != counted[i] || stored[i] == 0)
            return 1;
    return stored[length] == 0 ? 0 : 1;
}

// ---- The rows -----------------------------------------------------------------------------------

int16_t PerColumnInfo::compare(const KaObject& other) const
{
    const auto a = static_cast<uint32_t>(ordinalPosition);
    const auto b = static_cast<uint32_t>(static_cast<const PerColumnInfo&>(other).ordinalPosition);
    return a < b ? -1 : a > b ? 1 : 0;
}

int16_t PerColumnInfo::readDriverRow(BaseCatalogStatement* stmt, BaseCatalogRowTexts& stage) noexcept
{
    int32_t octets = kCatalogNullLong;
    if (stage.read(stmt, 4, false, &columnName) != 0 || stage.read(stmt, 6, false, &typeName) != 0 ||
        stmt->getCatalogColumnValue(5, &dataType) != 0 || stmt->getCatalogColumnValue(9, &decimalDigits) != 0 ||
        stmt->getCatalogColumnValue(10, &numPrecRadix) != 0 || stmt->getCatalogColumnValue(11, &nullable) != 0 ||
        stmt->getCatalogColumnValue(7, &columnSize) != 0 || stmt->getCatalogColumnValue(8, &bufferLength) != 0 ||
        stmt->getCatalogColumnValue(16, &octets) != 0 || stmt->getCatalogColumnValue(17, &ordinalPosition) != 0)
        return 1;
    charOctetLength = octets != kCatalogNullLong ? octets : isCharOrBinary(dataType) ? columnSize : kCatalogNullLong;
    if (stage.read(stmt, 12, false, &remarks) != 0 || stage.read(stmt, 13, false, &columnDef) != 0 ||
        stage.read(stmt, 18, false, &isNullable) != 0)
        return 1;
    // A NULL name or type is kept empty; a NULL IS_NULLABLE follows NULLABLE.
    constexpr size_t kName = 0;
    constexpr size_t kType = 1;
    constexpr size_t kIsNullable = 4;
    if ((stage.at(kName) == nullptr && stage.add(textOf(u""), 0, &columnName) != 0) ||
        (stage.at(kType) == nullptr && stage.add(textOf(u""), 0, &typeName) != 0))
        return 1;
    if (stage.at(kIsNullable) == nullptr && stage.add(textOf(nullable == SQL_NO_NULLS   ? u"NO"
                                                             : nullable == SQL_NULLABLE ? u"YES"
                                                                                        : u""),
                                                      SQL_NTS, &isNullable) != 0)
        return 1;
    return stage.keep(&texts);
}

void PerColumnInfo::applyVarcharThresholds(uint32_t threshold, uint32_t wideThreshold) noexcept
{
    if (dataType == SQL_VARCHAR && static_cast<uint32_t>(columnSize) > threshold)
        dataType = SQL_LONGVARCHAR;
    else if (dataType == SQL_WVARCHAR && static_cast<uint32_t>(columnSize) > wideThreshold)
        dataType = SQL_WLONGVARCHAR;
}

void PerColumnInfo::applyMinLongSizes(int64_t minimum, int64_t wideMinimum, int32_t bytesPerChar) noexcept
{
    if (dataType == SQL_LONGVARCHAR && minimum > 0 && columnSize < minimum) {
        columnSize = static_cast<int32_t>(minimum);
        charOctetLength = columnSize;
    } else if (dataType == SQL_WLONGVARCHAR && wideMinimum > 0 && columnSize < wideMinimum) {
        columnSize = static_cast<int32_t>(wideMinimum);
        charOctetLength = static_cast<int32_t>(wideMinimum * bytesPerChar);
    }
}

PerTableInfo::PerTableInfo() noexcept
{
    columns.growStep = kCatalogRowGrowStep;
    columns.sortFlags = KaSortedArray::noSort1;
}

PerTableInfo::~PerTableInfo()
{
    baseCatalogDeleteRows(columns);
}

int16_t PerTableInfo::compare(const KaObject& other) const
{
    const auto& o = static_cast<const PerTableInfo&>(other);
    if (int16_t r = catalogCompareKey(catalog, o.catalog); r != 0)
        return r;
    if (int16_t r = catalogCompareKey(schema, o.schema); r != 0)
        return r;
    return catalogCompareKey(name, o.name);
}

int16_t PerTableInfo::keepNames(BaseCatalogRowTexts& stage) noexcept
{
    constexpr size_t kName = 2;
    stage.setField(0, &catalog);
    stage.setField(1, &schema);
    stage.setField(kName, &name);
    if (stage.at(kName) == nullptr && stage.add(textOf(u""), 0, &name) != 0)
        return 1;
    return stage.keep(&names);
}

int16_t PerTableInfo::applyPatterns(BaseCatalogStatement* stmt, const BaseColumnsInfoW* holder) noexcept
{
    if (stmt->matchName(schema, holder->schemaPattern, 0) == 0 || stmt->matchName(name, holder->tablePattern, 1) == 0)
        return 0;
    size_t i = 0;
    while (i < columns.count) {
        auto* c = static_cast<PerColumnInfo*>(columns.at(i));
        if (stmt->matchName(c->columnName, holder->columnPattern, 0) == 0)
            columns.deleteAt(i);
        else
            ++i;
    }
    return columns.count != 0 ? 1 : 0;
}

// ---- The holder ---------------------------------------------------------------------------------

BaseColumnsInfoW::BaseColumnsInfoW(BaseStatement* stmt) noexcept
    : CatalogArgumentsHolder(stmt, kCatalogKindColumns,
                             stmt != nullptr && stmt->connection != nullptr ? stmt->connection->columnsColumns
                                                                            : kBaseColumnsColumns)
{}

int16_t BaseColumnsInfoW::fetchNext(int16_t* end) noexcept
{
    *end = 1;
    if (currentRow == 0) {
        tableIndex = 0;
        columnIndex = 0;
    } else {
        if (tableIndex >= rows.count)
            return 0;
        ++columnIndex;
        if (columnIndex >= static_cast<const PerTableInfo*>(rows.at(tableIndex))->columns.count) {
            ++tableIndex;
            columnIndex = 0;
        }
    }
    if (tableIndex >= rows.count)
        return 0;
    ++currentRow;
    *end = 0;
    return 0;
}

int16_t BaseColumnsInfoW::setPosition(int64_t row, int16_t* status) noexcept
{
    *status = kCatalogRowAvailable;
    if (row < 0) {
        *status = kCatalogNoRow;
        return 0;
    }
    if (row < static_cast<int64_t>(currentRow))
        currentRow = 0;
    while (static_cast<int64_t>(currentRow) < row) {
        int16_t end = 0;
        if (fetchNext(&end) != 0)
            return 1;
        if (end != 0) {
            *status = kCatalogNoRow;
            return 0;
        }
    }
    return 0;
}

int16_t BaseColumnsInfoW::getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    if (currentRow == 0 || tableIndex >= rows.count)
        return putNull(cType, out);
    const auto* t = static_cast<const PerTableInfo*>(rows.at(tableIndex));
    if (columnIndex >= t->columns.count)
        return putNull(cType, out);
    const auto* r = static_cast<const PerColumnInfo*>(t->columns.at(columnIndex));
    const BaseConnection* conn = statement->connection;
    const bool binaryPrecision = conn == nullptr || conn->reportBinaryPrecision != 0;
    const int16_t type = r->dataType;
    switch (column) {
    case 1: return putText(column, cType, out, t->catalog);
    case 2: return putText(column, cType, out, t->schema);
    case 3: return putText(column, cType, out, t->name);
    case 4: return putText(column, cType, out, r->columnName);
    case 5: {
        int16_t reported = type;
        const bool odbc2 = conn != nullptr && conn->env != nullptr && conn->env->odbc2Mode == 1;
        if (odbc2 && type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP)
            reported = static_cast<int16_t>(type - (SQL_TYPE_DATE - SQL_DATE));
        return putShort(column, cType, out, reported);
    }
    case 6: return putText(column, cType, out, r->typeName);
    case 7: {
        int32_t size = r->columnSize;
        if (type == SQL_FLOAT || type == SQL_DOUBLE)
            size = binaryPrecision ? 53 : 15;
        else if (type == SQL_REAL)
            size = binaryPrecision ? 24 : 7;
        return putLong(column, cType, out, size);
    }
    case 8: {
        const int64_t size =
            isCharOrBinary(type) && r->charOctetLength != kCatalogNullLong ? r->charOctetLength : r->columnSize;
        return putLong(column, cType, out,
                       static_cast<int32_t>(baseOctetLengthForType(type, size, r->decimalDigits, r->bufferLength)));
    }
    case 9: {
        const int16_t digits = baseDecimalDigits(type, r->decimalDigits);
        return digits == kCatalogNullShort ? putNull(cType, out) : putShort(column, cType, out, digits);
    }
    case 10: {
        const int16_t radix = baseNumPrecRadix(type, r->numPrecRadix, binaryPrecision);
        return radix == kCatalogNullShort ? putNull(cType, out) : putShort(column, cType, out, radix);
    }
    case 11: return putShort(column, cType, out, r->nullable);
    case 12: return putText(column, cType, out, r->remarks);
    case 13: return putText(column, cType, out, r->columnDef);
    case 14: {
        int16_t sqlDataType = type;
        if (type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP)
            sqlDataType = SQL_DATETIME;
        else if (type >= SQL_INTERVAL_YEAR && type <= SQL_INTERVAL_MINUTE_TO_SECOND)
            sqlDataType = SQL_INTERVAL;
        return putShort(column, cType, out, sqlDataType);
    }
    case 15: {
        if (type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP)
            return putShort(column, cType, out, static_cast<int16_t>(type - SQL_TYPE_DATE + SQL_CODE_DATE));
        if (type >= SQL_INTERVAL_YEAR && type <= SQL_INTERVAL_MINUTE_TO_SECOND)
            return putShort(column, cType, out, static_cast<int16_t>(type - 100));
        return putNull(cType, out);
    }
    case 16:
        return r->charOctetLength == kCatalogNullLong ? putNull(cType, out)
                                                      : putLong(column, cType, out, r->charOctetLength);
    case 17: return putLong(column, cType, out, r->ordinalPosition);
    case 18: return putText(column, cType, out, r->isNullable);
    default: return putNull(cType, out);
    }
}

// ---- The generic operation ----------------------------------------------------------------------

int16_t BaseCatalogStatement::columnsInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                              int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                              const uint16_t* column, int16_t columnLength) noexcept
{
    // Every catalog row is read as UTF-16: two bytes per character.
    constexpr int32_t kBytesPerChar = 2;
    auto* holder = catalogPushHolder<BaseColumnsInfoW>(this);
    if (holder == nullptr)
        return 1;
    if (prepareCatalogArgument(catalog, catalogLength, kCatalogInfoCatalog, &holder->catalogName, nullptr) != 0 ||
        prepareCatalogArgument(schema, schemaLength, kCatalogInfoSchema, &holder->schemaName, &holder->schemaPattern) !=
            0 ||
        prepareCatalogArgument(table, tableLength, kCatalogInfoTable, &holder->tableName, &holder->tablePattern) != 0 ||
        prepareCatalogArgument(column, columnLength, kCatalogInfoColumn, &holder->columnName, &holder->columnPattern) !=
            0)
        return 1;
    if (columnsHook() != 0)
        return 1;
    const BaseConnection* conn = connection;
    PerTableInfo* current = nullptr;
    BaseCatalogRowTexts stage;
    auto closeTable = [](PerTableInfo* t) noexcept {
        if (t == nullptr)
            return 0;
        t->columns.sortFlags = 0;
        return t->columns.count > 1 ? t->columns.sort() : 0;
    };
    for (;;) {
        int16_t end = 0;
        if (catalogFetchRow(&end) != 0)
            return 1;
        if (end != 0)
            break;
        // The three names go through the stage: a new table keeps them, a
        // row of the same table drops them again.
        for (uint16_t c = 1; c <= 3; ++c)
            if (stage.read(this, c, false, nullptr) != 0)
                return 1;
        auto lengthOf = [&](size_t i) noexcept { return static_cast<int32_t>(stage.lengthAt(i)); };
        if (current == nullptr || sameCatalogName(current->catalog, stage.at(0), lengthOf(0)) != 0 ||
            sameCatalogName(current->schema, stage.at(1), lengthOf(1)) != 0 ||
            sameCatalogName(current->name, stage.at(2), stage.at(2) == nullptr ? 0 : lengthOf(2)) != 0) {
            if (closeTable(current) != 0)
                return 1;
            std::unique_ptr<PerTableInfo> t(new PerTableInfo());
            if (t == nullptr || holder->rows.append(t.get()) != 0)
                return 1;
            current = t.release();
            if (current->keepNames(stage) != 0)
                return 1;
        }
        stage.clear();
        std::unique_ptr<PerColumnInfo> owned(new PerColumnInfo());
        if (owned == nullptr || current->columns.append(owned.get()) != 0)
            return 1;
        PerColumnInfo* row = owned.release();
        if (row->readDriverRow(this, stage) != 0)
            return 1;
        if (conn != nullptr) {
            row->applyVarcharThresholds(conn->varcharThreshold, conn->wvarcharThreshold);
            // The driver may list some wide types under their narrow names.
            if ((row->dataType == SQL_WCHAR || row->dataType == SQL_WVARCHAR) &&
                connection->columnsWideTypes(0, row->typeName) == 0)
                row->dataType = row->dataType == SQL_WCHAR ? SQL_CHAR : SQL_VARCHAR;
            if (conn->minLongVarcharSize > 0 || conn->minWLongVarcharSize > 0)
                row->applyMinLongSizes(conn->minLongVarcharSize, conn->minWLongVarcharSize, kBytesPerChar);
        }
        if (row->ordinalPosition == 0)
            row->ordinalPosition = static_cast<int32_t>(current->columns.count);
    }
    if (closeTable(current) != 0 || closeDriverResult() != 0)
        return 1;
    // The driver's rows are final: they are filtered by the three patterns
    // and ordered.
    size_t i = 0;
    while (i < holder->rows.count) {
        auto* t = static_cast<PerTableInfo*>(holder->rows.at(i));
        if (t->applyPatterns(this, holder) == 0)
            holder->rows.deleteAt(i);
        else
            ++i;
    }
    holder->rows.sortFlags = 0;
    if (holder->rows.count > 1 && holder->rows.sort() != 0)
        return 1;
    const BaseCatalogColumn* table18 = conn != nullptr ? conn->columnsColumns : kBaseColumnsColumns;
    const uint16_t count = conn != nullptr ? conn->columnsColumnCount : static_cast<uint16_t>(kColumnCount);
    if (bindCatalogColumns(count, table18, 0) != 0)
        return 1;
    return finishCatalogExecute();
}
