// SQLTables: its result holder and row class. The framework's tablesInternal
// (catalog/basetabl.cpp) fills the holder from the driver's tablesHook rows;
// SQLColumns and the drivers' listings read the holder's prepared arguments.
#pragma once
#include <cstdint>

#include "catalog/catalogholder.h"
#include "odbc/basecatalog.h"

class BaseCatalogStatement;

// TablesEnumeration: what an SQLTables call lists.
constexpr int32_t kTablesListing = 0;
constexpr int32_t kTablesSchemas = 1;
constexpr int32_t kTablesCatalogs = 2;
constexpr int32_t kTablesTypes = 3;

class BaseTablesInfoW : public CatalogArgumentsHolder {
public:
    explicit BaseTablesInfoW(BaseStatement* stmt) noexcept;

    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;
    // One row per type of the type set, TABLE_TYPE only. 0, or 1.
    [[nodiscard]] int16_t addTypeRows() noexcept;

    int32_t enumeration = kTablesListing;
    // kCatalogType* bits (catalog/catalognames.h).
    uint32_t typeSet = 0;
};

// One row of the SQLTables result; every value a UTF-16 string in the
// row's one block of texts, or null. Ordered by TABLE_TYPE, then catalog,
// schema and name.
class TablesRowInfo : public KaObject {
public:
    TablesRowInfo() noexcept = default;
    ~TablesRowInfo() override = default;

    int16_t compare(const KaObject& other) const override;
    // Whether the row passes the holder's schema and table patterns and its
    // type set; 1 keep, 0 drop.
    int16_t passesFilter(BaseCatalogStatement* stmt, const BaseTablesInfoW* holder) const noexcept;

    uint16_t* tableType = nullptr;
    uint16_t* tableCat = nullptr;
    uint16_t* tableSchem = nullptr;
    uint16_t* tableName = nullptr;
    uint16_t* remarks = nullptr;
    RamPtr<uint16_t> texts;
};

// Code-point order of two NUL-terminated UTF-16 texts; a null key in
// `mine` counts as equal to anything.
int16_t catalogCompareKey(const uint16_t* mine, const uint16_t* theirs) noexcept;
