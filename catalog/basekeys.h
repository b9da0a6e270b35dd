// SQLPrimaryKeys' and SQLForeignKeys' result holders with their prepared
// names. The generic operations (catalog/basekeys.cpp) fill them from the
// driver's key rows; the Hive driver has none.
#pragma once
#include <cstdint>

#include "catalog/catalogholder.h"
#include "catalog/catalogkeys.h"

class BasePrimaryKeysInfoW : public CatalogHolder<PrimaryRowInfo> {
public:
    explicit BasePrimaryKeysInfoW(BaseStatement* stmt) noexcept;
};

class BaseForeignKeysInfoW : public CatalogHolder<ForeignRowInfo> {
public:
    explicit BaseForeignKeysInfoW(BaseStatement* stmt) noexcept;

protected:
    // The old date and time type numbers for an ODBC 2 application.
    CatalogCell cellOf(const ForeignRowInfo& row, uint16_t column) const noexcept override;
};
