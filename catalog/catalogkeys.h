// SQLPrimaryKeys' and SQLForeignKeys' rows: the key columns of one table by
// KEY_SEQ, and foreign keys by primary-key table, foreign-key table and
// KEY_SEQ (one order serves both ways of asking).
#pragma once
#include <cstdint>

#include "catalog/catalogcell.h"
#include "foundation/kaobject.h"

struct BaseCatalogColumn;

constexpr uint16_t kPrimaryKeysColumnCount = 6;
extern const BaseCatalogColumn kPrimaryKeysColumns[kPrimaryKeysColumnCount];
constexpr uint16_t kForeignKeysColumnCount = 14;
extern const BaseCatalogColumn kForeignKeysColumns[kForeignKeysColumnCount];

class PrimaryRowInfo : public KaObject {
public:
    PrimaryRowInfo() noexcept = default;
    ~PrimaryRowInfo() override;
    PrimaryRowInfo(const PrimaryRowInfo&) = delete;
    PrimaryRowInfo& operator=(const PrimaryRowInfo&) = delete;

    int16_t compare(const KaObject& other) const override;
    CatalogCell cell(uint16_t column) const noexcept;

    uint16_t* tableCat = nullptr;
    uint16_t* tableSchem = nullptr;
    uint16_t* tableName = nullptr;
    uint16_t* columnName = nullptr;
    int16_t keySeq = 0;
    uint16_t* pkName = nullptr;
};

class ForeignRowInfo : public KaObject {
public:
    ForeignRowInfo() noexcept = default;
    ~ForeignRowInfo() override;
    ForeignRowInfo(const ForeignRowInfo&) = delete;
    ForeignRowInfo& operator=(const ForeignRowInfo&) = delete;

    int16_t compare(const KaObject& other) const override;
    // odbc2: the application declared ODBC 2, which knows no SQL_NO_ACTION.
    CatalogCell cell(uint16_t column, bool odbc2) const noexcept;

    uint16_t* pkTableCat = nullptr;
    uint16_t* pkTableSchem = nullptr;
    uint16_t* pkTableName = nullptr;
    uint16_t* pkColumnName = nullptr;
    uint16_t* fkTableCat = nullptr;
    uint16_t* fkTableSchem = nullptr;
    uint16_t* fkTableName = nullptr;
    uint16_t* fkColumnName = nullptr;
    int16_t keySeq = 0;
    int16_t updateRule = -1;  // -1 reads NULL
    int16_t deleteRule = -1;
    uint16_t* fkName = nullptr;
    uint16_t* pkName = nullptr;
    int16_t deferrability = -1;
};
