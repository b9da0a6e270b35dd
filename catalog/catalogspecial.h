// SQLSpecialColumns' rows: SpecialRowInfo (ordered by SCOPE) and the
// derivation of the best row identifier from a table's unique indexes when
// the driver has no answer of its own: the columns of the first unique
// index whose columns all exist (and, unless nullable columns are allowed,
// are NOT NULL).
#pragma once
#include <cstdint>

#include "catalog/catalogcell.h"
#include "foundation/kaobject.h"

class KaSortedArray;
struct BaseCatalogColumn;

constexpr uint16_t kSpecialColumnsColumnCount = 8;
extern const BaseCatalogColumn kSpecialColumnsColumns[kSpecialColumnsColumnCount];
// The NULL of the 32-bit and the 16-bit number columns.
constexpr int32_t kSpecialNullLong = INT32_MIN;
constexpr int16_t kSpecialNullShort = INT16_MIN;

class SpecialRowInfo : public KaObject {
public:
    SpecialRowInfo() noexcept = default;
    ~SpecialRowInfo() override;
    SpecialRowInfo(const SpecialRowInfo&) = delete;
    SpecialRowInfo& operator=(const SpecialRowInfo&) = delete;

    int16_t compare(const KaObject& other) const override;
    CatalogCell cell(uint16_t column) const noexcept;

    uint16_t* indexName = nullptr;  // the index a derived row belongs to
    int16_t scope = 0;
    uint16_t* columnName = nullptr;
    int16_t dataType = 0;
    uint16_t* typeName = nullptr;
    int32_t columnSize = kSpecialNullLong;
    int32_t bufferLength = kSpecialNullLong;
    int16_t decimalDigits = kSpecialNullShort;
    int16_t pseudoColumn = 0;
    // The row's place in the order it was added: rows of one scope keep it
    // through the sort, which is not stable, so that the columns stay in the
    // table's order.
    uint32_t position = 0;
};

// What SQLColumns says of one column, as the derivation reads it.
struct SpecialColumnFacts {
    const uint16_t* name = nullptr;
    int16_t dataType = 0;
    const uint16_t* typeName = nullptr;
    int32_t columnSize = kSpecialNullLong;
    int32_t bufferLength = kSpecialNullLong;
    int16_t decimalDigits = kSpecialNullShort;
    int16_t nullable = 0;
};
// Gives the column's description to every derived row naming it; when
// nullable columns are not allowed (nullableArgument not SQL_NULLABLE) and
// the column may be NULL, every row of the same index loses its column
// name, so that the index is not chosen. 0, or 1 after the out-of-memory
// diagnostic.
[[nodiscard]] int16_t specialApplyColumn(KaSortedArray* rows, const SpecialColumnFacts& facts,
                                         uint16_t nullableArgument) noexcept;
// Keeps the rows of the first index whose rows all still have a column name
// and a type, in their order; deletes the rest.
void specialKeepFirstIndex(KaSortedArray* rows) noexcept;
