// SQLColumnPrivileges' and SQLTablePrivileges' result holders with their
// prepared names and patterns. The generic operations
// (catalog/baseprivs.cpp) filter the driver's rows and expand its "ALL";
// the Hive driver has no privileges to report.
#pragma once
#include <cstdint>

#include "catalog/catalogholder.h"
#include "catalog/catalogprivs.h"

class BaseColumnPrivilegesInfoW : public CatalogHolder<ColPrivsRowInfo> {
public:
    explicit BaseColumnPrivilegesInfoW(BaseStatement* stmt) noexcept;
};

class BaseTablePrivilegesInfoW : public CatalogHolder<TablePrivsRowInfo> {
public:
    explicit BaseTablePrivilegesInfoW(BaseStatement* stmt) noexcept;
};
