// SQLSpecialColumns' result holder with its prepared arguments. The generic
// operation (catalog/basespec.cpp) takes the driver's answer, or derives the
// best row identifier from nested SQLStatistics and SQLColumns results; the
// Hive hook appends its searchable columns itself.
#pragma once
#include <cstdint>

#include "odbc/basecatalog.h"

class BaseSpecialColumnsInfoW : public BaseCatalogInfoW {
public:
    explicit BaseSpecialColumnsInfoW(BaseStatement* stmt) noexcept;
    ~BaseSpecialColumnsInfoW() override;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    uint16_t* catalogName = nullptr;
    uint16_t* schemaName = nullptr;
    uint16_t* tableName = nullptr;
    uint16_t identifierType = 0;  // SQL_BEST_ROWID or SQL_ROWVER
    uint16_t scope = 0;
    uint16_t nullable = 0;
};
