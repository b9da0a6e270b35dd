// SQLGetTypeInfo's result holder: the rows of the connection's type table
// that the request takes. BaseCatalogStatement::getTypeInfo builds it
// (catalog/basegtyp.cpp); the application reads it like any result.
#pragma once
#include <cstdint>

#include "odbc/basecatalog.h"

class BaseGetTypesInfoW : public BaseCatalogInfoW {
public:
    explicit BaseGetTypesInfoW(BaseStatement* stmt) noexcept;
    ~BaseGetTypesInfoW() override;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    int16_t dataType = 0;  // the requested type, an ODBC 2 request mapped
};
