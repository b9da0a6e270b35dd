// SQLGetTypeInfo's result holder: the rows of the connection's type table
// that the request takes. BaseCatalogStatement::getTypeInfo builds it
// (catalog/basegtyp.cpp); the application reads it like any result.
#pragma once
#include <cstdint>

#include "catalog/catalogholder.h"
#include "catalog/catalogtypes.h"

class BaseGetTypesInfoW : public CatalogHolder<GetTypeRowInfo> {
public:
    explicit BaseGetTypesInfoW(BaseStatement* stmt) noexcept;

    int16_t dataType = 0;  // the requested type, an ODBC 2 request mapped
};
