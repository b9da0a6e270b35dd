// SQLSpecialColumns' result holder with its prepared arguments. The generic
// operation (catalog/basespec.cpp) takes the driver's answer, or derives the
// best row identifier from nested SQLStatistics and SQLColumns results; the
// Hive hook appends its searchable columns itself.
#pragma once
#include <cstdint>

#include "catalog/catalogholder.h"
#include "catalog/catalogspecial.h"

class BaseSpecialColumnsInfoW : public CatalogHolder<SpecialRowInfo> {
public:
    explicit BaseSpecialColumnsInfoW(BaseStatement* stmt) noexcept;

    uint16_t identifierType = 0;  // SQL_BEST_ROWID or SQL_ROWVER
    uint16_t scope = 0;
    uint16_t nullable = 0;
};
