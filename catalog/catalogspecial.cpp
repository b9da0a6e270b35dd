// SQLSpecialColumns' row order, values and the choice of the identifying
// index.
#include "catalog/catalogspecial.h"

#include <sql.h>
#include <sqlext.h>

#include "foundation/kaarray.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"

const BaseCatalogColumn kSpecialColumnsColumns[kSpecialColumnsColumnCount] = {
    {strUnits(u"SCOPE"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"COLUMN_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"DATA_TYPE"), SQL_SMALLINT, SQL_NO_NULLS, 0},
    {strUnits(u"TYPE_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"COLUMN_SIZE"), SQL_INTEGER, SQL_NULLABLE, 0},
    {strUnits(u"BUFFER_LENGTH"), SQL_INTEGER, SQL_NULLABLE, 0},
    {strUnits(u"DECIMAL_DIGITS"), SQL_SMALLINT, SQL_NULLABLE, 0},
    {strUnits(u"PSEUDO_COLUMN"), SQL_SMALLINT, SQL_NULLABLE, 0},
};

SpecialRowInfo::~SpecialRowInfo()
{
    ramFree(indexName);
    ramFree(columnName);
    ramFree(typeName);
}

int16_t SpecialRowInfo::compare(const KaObject& other) const
{
    const auto& b = static_cast<const SpecialRowInfo&>(other);
    if (scope != b.scope)
        return scope < b.scope ? -1 : 1;
    return position == b.position ? 0 : (position < b.position ? -1 : 1);
}

CatalogCell SpecialRowInfo::cell(uint16_t column) const noexcept
{
    switch (column) {
    case 1: return CatalogCell::shortValue(scope);
    case 2: return CatalogCell::textValue(columnName);
    case 3: return CatalogCell::shortValue(dataType);
    case 4: return CatalogCell::textValue(typeName);
    case 5: return columnSize == kSpecialNullLong ? CatalogCell::none() : CatalogCell::longValue(columnSize);
    case 6: return bufferLength == kSpecialNullLong ? CatalogCell::none() : CatalogCell::longValue(bufferLength);
    case 7: return decimalDigits == kSpecialNullShort ? CatalogCell::none() : CatalogCell::shortValue(decimalDigits);
    case 8: return CatalogCell::shortValue(pseudoColumn);
    default: return CatalogCell::none();
    }
}

int16_t specialApplyColumn(KaSortedArray* rows, const SpecialColumnFacts& facts, uint16_t nullableArgument) noexcept
{
    if (facts.name == nullptr)
        return 0;
    for (size_t i = 0; i < rows->count; ++i) {
        auto* r = static_cast<SpecialRowInfo*>(rows->at(i));
        if (r->columnName == nullptr || strEqualW(r->columnName, facts.name) == 0)
            continue;
        r->dataType = facts.dataType;
        ramFree(r->typeName);
        if (!catalogCopyText(facts.typeName, &r->typeName))
            return 1;
        r->columnSize = facts.columnSize;
        r->bufferLength = facts.bufferLength;
        r->decimalDigits = facts.decimalDigits;
        r->pseudoColumn = SQL_PC_NOT_PSEUDO;
        if (nullableArgument == SQL_NULLABLE || facts.nullable == SQL_NO_NULLS)
            continue;
        // An index with a column that may be NULL cannot identify a row.
        uint16_t* index = r->indexName;
        for (size_t k = 0; k < rows->count; ++k) {
            auto* s = static_cast<SpecialRowInfo*>(rows->at(k));
            if (s != r && catalogSameOptionalName(s->indexName, index)) {
                ramFree(s->columnName);
                s->columnName = nullptr;
            }
        }
        ramFree(r->columnName);
        r->columnName = nullptr;
    }
    return 0;
}

void specialKeepFirstIndex(KaSortedArray* rows) noexcept
{
    // An index is usable when none of its rows lost its column; the first
    // usable one in statistics order is kept.
    const uint16_t* chosen = nullptr;
    bool found = false;
    for (size_t i = 0; i < rows->count && !found; ++i) {
        auto* r = static_cast<SpecialRowInfo*>(rows->at(i));
        bool usable = true;
        for (size_t k = 0; k < rows->count && usable; ++k) {
            auto* s = static_cast<SpecialRowInfo*>(rows->at(k));
            if (catalogSameOptionalName(s->indexName, r->indexName) &&
                (s->columnName == nullptr || s->typeName == nullptr))
                usable = false;
        }
        if (usable) {
            chosen = r->indexName;
            found = true;
        }
    }
    size_t i = 0;
    while (i < rows->count) {
        auto* r = static_cast<SpecialRowInfo*>(rows->at(i));
        if (found && catalogSameOptionalName(r->indexName, chosen)) {
            ++i;
            continue;
        }
        rows->deleteAt(i);
    }
}
