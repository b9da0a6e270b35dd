// SQLColumns: its result holder, held as a sorted array of tables each with
// its columns sorted by position, and the row classes. The framework's
// columnsInternal (catalog/basecols.cpp) fills it from the driver's
// columnsHook rows; the drivers read the holder's prepared arguments.
#pragma once
#include <cstddef>
#include <cstdint>

#include "catalog/catalogholder.h"
#include "odbc/basecatalog.h"

class BaseCatalogStatement;

class BaseColumnsInfoW : public CatalogArgumentsHolder {
public:
    explicit BaseColumnsInfoW(BaseStatement* stmt) noexcept;

    // Row numbers run across the columns of all tables.
    [[nodiscard]] int16_t fetchNext(int16_t* end) noexcept override;
    [[nodiscard]] int16_t setPosition(int64_t row, int16_t* status) noexcept override;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    // As wide as the arrays they index: a table may have more than 65535
    // columns.
    size_t tableIndex = 0;
    size_t columnIndex = 0;
};

// One column row of the SQLColumns result; its texts point into one block.
class PerColumnInfo : public KaObject {
public:
    PerColumnInfo() noexcept = default;
    ~PerColumnInfo() override = default;

    // By ORDINAL_POSITION.
    int16_t compare(const KaObject& other) const override;
    // The driver's current row through the statement, its texts gathered in
    // `stage` and kept in one block. 0, or 1.
    [[nodiscard]] int16_t readDriverRow(BaseCatalogStatement* stmt, BaseCatalogRowTexts& stage) noexcept;
    // VARCHAR above threshold becomes LONGVARCHAR, WVARCHAR above
    // wideThreshold WLONGVARCHAR.
    void applyVarcharThresholds(uint32_t threshold, uint32_t wideThreshold) noexcept;
    // LONGVARCHAR and WLONGVARCHAR columns below the minimum sizes are
    // reported with them (-1: no minimum).
    void applyMinLongSizes(int64_t minimum, int64_t wideMinimum, int32_t bytesPerChar) noexcept;

    uint16_t* columnName = nullptr;
    int16_t dataType = 0;
    uint16_t* typeName = nullptr;
    int32_t columnSize = 0;
    int32_t bufferLength = 0;
    int16_t decimalDigits = 0;
    int16_t numPrecRadix = 0;
    int16_t nullable = 0;
    uint16_t* remarks = nullptr;
    uint16_t* columnDef = nullptr;
    int32_t charOctetLength = kCatalogNullLong;
    int32_t ordinalPosition = 0;
    uint16_t* isNullable = nullptr;
    // The block the texts above point into.
    RamPtr<uint16_t> texts;
};

// One table of the SQLColumns result with its columns; its names point
// into one block.
class PerTableInfo : public KaObject {
public:
    PerTableInfo() noexcept;
    ~PerTableInfo() override;

    // By catalog, schema and name in code-point order.
    int16_t compare(const KaObject& other) const override;
    // The catalog, schema and table names gathered first in `stage` (a NULL
    // catalog or schema stays null, a NULL name becomes empty), kept in one
    // block. 0, or 1.
    [[nodiscard]] int16_t keepNames(BaseCatalogRowTexts& stage) noexcept;
    // Drops the columns that fail the holder's column pattern; nonzero when
    // the table passes the schema and table patterns and has columns left.
    int16_t applyPatterns(BaseCatalogStatement* stmt, const BaseColumnsInfoW* holder) noexcept;

    uint16_t* catalog = nullptr;
    uint16_t* schema = nullptr;
    uint16_t* name = nullptr;
    RamPtr<uint16_t> names;
    KaSortedArray columns;
};

// 0 when a stored name equals a counted one (length -1: NULL).
int16_t sameCatalogName(const uint16_t* stored, const uint16_t* counted, int32_t length) noexcept;
