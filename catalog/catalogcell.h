// One value of a catalog result row as the result holders of the catalog
// functions hand it to the application: NULL, a 16-bit or a 32-bit integer,
// or UTF-16 text. Each holder's getData computes the cell of the asked
// column from its current row (catalog/catalogput.h delivers it); and the
// rows' shared text helpers.
#pragma once
#include <cstdint>
#include <memory>

#include "foundation/kaarray.h"

enum class CatalogCellKind : uint8_t {
    Null,
    Short,
    Long,
    Text,
};

struct CatalogCell {
    CatalogCellKind kind = CatalogCellKind::Null;
    int32_t number = 0;
    const uint16_t* text = nullptr;  // NUL-terminated; the row keeps it

    static CatalogCell none() noexcept { return {}; }
    static CatalogCell shortValue(int16_t v) noexcept { return {CatalogCellKind::Short, v, nullptr}; }
    static CatalogCell longValue(int32_t v) noexcept { return {CatalogCellKind::Long, v, nullptr}; }
    // NULL for a null text.
    static CatalogCell textValue(const uint16_t* t) noexcept
    {
        return t == nullptr ? CatalogCell{} : CatalogCell{CatalogCellKind::Text, 0, t};
    }
};

// Orders of the row classes' texts, by code point: a null text sorts
// before every other text (two nulls are equal).
int16_t catalogCompareNames(const uint16_t* a, const uint16_t* b) noexcept;
// Exact UTF-16 equality where null equals only null.
bool catalogSameOptionalName(const uint16_t* a, const uint16_t* b) noexcept;
// A new copy of a text (null stays null); false after the out-of-memory
// diagnostic.
[[nodiscard]] bool catalogCopyText(const uint16_t* text, uint16_t** out) noexcept;

// `row` (from new) appended to `rows`, which owns it from then on; null
// when it was not made or could not be appended (it is deleted then).
template <class Row>
Row* catalogAppendNew(KaArray& rows, Row* row) noexcept
{
    std::unique_ptr<Row> owned(row);
    if (owned == nullptr || rows.append(owned.get()) != 0)
        return nullptr;
    return owned.release();
}
