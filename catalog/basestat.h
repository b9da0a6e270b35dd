// SQLStatistics' result holder with its prepared arguments. The generic
// operation (catalog/basestat.cpp) fills it from the driver's statistics
// rows; SQLSpecialColumns runs it nested for a table's unique indexes.
#pragma once
#include <cstdint>

#include "catalog/catalogholder.h"
#include "catalog/catalogstats.h"

class BaseStatisticsInfoW : public CatalogHolder<StatRowInfo> {
public:
    explicit BaseStatisticsInfoW(BaseStatement* stmt) noexcept;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    uint16_t unique = 0;  // SQL_INDEX_UNIQUE or SQL_INDEX_ALL
};
