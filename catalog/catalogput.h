// Delivery of a catalog cell (catalog/catalogcell.h) through a result
// holder's conversion of its result column; the holders' getData use it.
#pragma once
#include <cstdint>

#include "catalog/catalogcell.h"
#include "odbc/basecatalog.h"

[[nodiscard]] inline int16_t catalogPutCell(BaseCatalogInfoW* holder, uint16_t column, int16_t cType,
                                            BaseOutString* out, const CatalogCell& cell) noexcept
{
    switch (cell.kind) {
    case CatalogCellKind::Short:
        return holder->putShort(column, cType, out, static_cast<int16_t>(cell.number)) != 0 ? 1 : 0;
    case CatalogCellKind::Long: return holder->putLong(column, cType, out, cell.number) != 0 ? 1 : 0;
    case CatalogCellKind::Text: return holder->putText(column, cType, out, cell.text) != 0 ? 1 : 0;
    case CatalogCellKind::Null: break;
    }
    return holder->putNull(cType, out);
}
