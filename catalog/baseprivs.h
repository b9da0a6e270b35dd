// SQLColumnPrivileges' and SQLTablePrivileges' result holders with their
// prepared names and patterns. The generic operations
// (catalog/baseprivs.cpp) filter the driver's rows and expand its "ALL";
// the Hive driver has no privileges to report.
#pragma once
#include <cstdint>

#include "odbc/basecatalog.h"

class BaseColumnPrivilegesInfoW : public BaseCatalogInfoW {
public:
    explicit BaseColumnPrivilegesInfoW(BaseStatement* stmt) noexcept;
    ~BaseColumnPrivilegesInfoW() override;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    uint16_t* catalogName = nullptr;
    uint16_t* schemaName = nullptr;
    uint16_t* tableName = nullptr;
    uint16_t* columnName = nullptr;
    uint16_t* columnPattern = nullptr;
};

class BaseTablePrivilegesInfoW : public BaseCatalogInfoW {
public:
    explicit BaseTablePrivilegesInfoW(BaseStatement* stmt) noexcept;
    ~BaseTablePrivilegesInfoW() override;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    uint16_t* catalogName = nullptr;
    uint16_t* schemaName = nullptr;
    uint16_t* schemaPattern = nullptr;
    uint16_t* tableName = nullptr;
    uint16_t* tablePattern = nullptr;
};
