// SQLStatistics' rows: StatRowInfo holds one table-statistics or index-column
// row; its order puts the index rows by uniqueness, type, qualifier, name and
// position and the table-statistics row where the data source sorts NULLs.
// Used by the statistics operation and by SQLSpecialColumns' derivation.
#pragma once
#include <cstdint>

#include "catalog/catalogcell.h"
#include "foundation/kaobject.h"

struct BaseCatalogColumn;

constexpr uint16_t kStatisticsColumnCount = 13;
extern const BaseCatalogColumn kStatisticsColumns[kStatisticsColumnCount];
// Result columns by number.
constexpr uint16_t kStatisticsIndexNameColumn = 6;
constexpr uint16_t kStatisticsColumnNameColumn = 9;
constexpr uint16_t kStatisticsAscOrDescColumn = 10;

class StatRowInfo : public KaObject {
public:
    explicit StatRowInfo(int16_t nullCollation) noexcept : nullCollation(nullCollation) {}
    ~StatRowInfo() override;
    StatRowInfo(const StatRowInfo&) = delete;
    StatRowInfo& operator=(const StatRowInfo&) = delete;

    int16_t compare(const KaObject& other) const override;
    // A unique-only request drops the non-unique index rows.
    bool passesUnique(uint16_t unique) const noexcept;
    CatalogCell cell(uint16_t column) const noexcept;

    uint16_t* tableCat = nullptr;
    uint16_t* tableSchem = nullptr;
    uint16_t* tableName = nullptr;
    int16_t nonUnique = 0;
    uint16_t* indexQualifier = nullptr;
    uint16_t* indexName = nullptr;
    int16_t type = 0;  // SQL_TABLE_STAT, SQL_INDEX_CLUSTERED, ...
    int16_t ordinalPosition = 0;
    uint16_t* columnName = nullptr;
    uint16_t* ascOrDesc = nullptr;
    int32_t cardinality = -1;  // -1 reads NULL
    int32_t pages = -1;
    uint16_t* filterCondition = nullptr;
    int16_t nullCollation;  // SQL_NULL_COLLATION of the connection
};
