// SQLPrimaryKeys' and SQLForeignKeys' result holders with their prepared
// names. The generic operations (catalog/basekeys.cpp) fill them from the
// driver's key rows; the Hive driver has none.
#pragma once
#include <cstdint>

#include "odbc/basecatalog.h"

class BasePrimaryKeysInfoW : public BaseCatalogInfoW {
public:
    explicit BasePrimaryKeysInfoW(BaseStatement* stmt) noexcept;
    ~BasePrimaryKeysInfoW() override;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    uint16_t* catalogName = nullptr;
    uint16_t* schemaName = nullptr;
    uint16_t* tableName = nullptr;
};

class BaseForeignKeysInfoW : public BaseCatalogInfoW {
public:
    explicit BaseForeignKeysInfoW(BaseStatement* stmt) noexcept;
    ~BaseForeignKeysInfoW() override;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    uint16_t* pkCatalogName = nullptr;
    uint16_t* pkSchemaName = nullptr;
    uint16_t* pkTableName = nullptr;
    uint16_t* fkCatalogName = nullptr;
    uint16_t* fkSchemaName = nullptr;
    uint16_t* fkTableName = nullptr;
};
