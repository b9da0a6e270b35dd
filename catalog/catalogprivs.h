// SQLColumnPrivileges' and SQLTablePrivileges' rows: ordered by column (or
// table), privilege (and grantee); a driver's "ALL" stands for one row per privilege,
// and a column grant of the owner schema to itself shows the grantor
// "_SYSTEM".
#pragma once
#include <cstddef>
#include <cstdint>

#include "catalog/catalogcell.h"
#include "foundation/kaobject.h"

struct BaseCatalogColumn;

constexpr uint16_t kColumnPrivilegesColumnCount = 8;
extern const BaseCatalogColumn kColumnPrivilegesColumns[kColumnPrivilegesColumnCount];
constexpr uint16_t kTablePrivilegesColumnCount = 7;
extern const BaseCatalogColumn kTablePrivilegesColumns[kTablePrivilegesColumnCount];
// Result columns by number.
constexpr uint16_t kColumnPrivilegesPrivilegeColumn = 7;
constexpr uint16_t kTablePrivilegesPrivilegeColumn = 6;

// The privileges "ALL" stands for after SELECT, in the order their rows are
// made; the table form adds DELETE.
extern const char16_t* const kPrivilegeExpansion[];
constexpr size_t kColumnPrivilegeExpansionCount = 3;
constexpr size_t kTablePrivilegeExpansionCount = 4;
// The driver's privilege "ALL" (exactly so, case-sensitive).
bool privilegeIsAll(const uint16_t* privilege) noexcept;

class ColPrivsRowInfo : public KaObject {
public:
    ColPrivsRowInfo() noexcept = default;
    ~ColPrivsRowInfo() override;
    ColPrivsRowInfo(const ColPrivsRowInfo&) = delete;
    ColPrivsRowInfo& operator=(const ColPrivsRowInfo&) = delete;

    int16_t compare(const KaObject& other) const override;
    CatalogCell cell(uint16_t column) const noexcept;
    // The text field of result column `column` (1 to 8).
    uint16_t** field(uint16_t column) noexcept;
    // A grant of the owner schema to itself shows the grantor "_SYSTEM".
    // false after the out-of-memory diagnostic.
    [[nodiscard]] bool markSystemGrantor() noexcept;

    uint16_t* values[kColumnPrivilegesColumnCount] = {};
};

class TablePrivsRowInfo : public KaObject {
public:
    TablePrivsRowInfo() noexcept = default;
    ~TablePrivsRowInfo() override;
    TablePrivsRowInfo(const TablePrivsRowInfo&) = delete;
    TablePrivsRowInfo& operator=(const TablePrivsRowInfo&) = delete;

    int16_t compare(const KaObject& other) const override;
    CatalogCell cell(uint16_t column) const noexcept;
    uint16_t** field(uint16_t column) noexcept;

    uint16_t* values[kTablePrivilegesColumnCount] = {};
};
