// Reading of the server's metadata results for the catalog functions: which
// columns of a SHOW TABLES result hold what, the column rows of a DESCRIBE
// result and the details section of DESCRIBE FORMATTED. Works on the cells
// as the server sent them (UTF-8); used by the Hive catalog listing.
#pragma once

#include <cstdint>

// One cell of a metadata result; length -1 is NULL.
struct HiveCatalogCell {
    const char* data = nullptr;
    int32_t length = -1;
};

// 0-based columns of a SHOW TABLES result, -1 where the result has none.
struct HiveShowTablesLayout {
    int16_t database = -1;
    int16_t table = -1;
    int16_t temporary = -1;
};

// Chooses the columns by the names the result describes itself with (Hive's
// single tab_name, or database/namespace, tableName and isTemporary); a
// result of one unnamed column is the table list. Returns 1 when no column
// holds table names.
[[nodiscard]] int16_t hiveShowTablesLayout(const HiveCatalogCell* columnNames, int16_t count,
                                           HiveShowTablesLayout* layout) noexcept;

// One column of a table's description, trimmed of the blank padding; a NULL
// type or comment is empty.
struct HiveDescribedColumn {
    HiveCatalogCell name;
    HiveCatalogCell type;
    HiveCatalogCell comment;
};

// The results below are given as `rows` rows of `columns` cells each, as the
// server described them; a row's name, type and comment are its first three
// cells, and a cell a narrower result lacks reads as NULL.

// The column rows of a DESCRIBE or DESCRIBE FORMATTED result: a leading
// "# col_name" header and the blank row after it are skipped; the list ends
// at an empty or NULL name or at a section header, a "#" name with an empty
// type (partition columns are not repeated); a "#" name with a type is a
// column. Returns the number of columns and points *first at the first
// column row.
[[nodiscard]] int32_t hiveDescribedColumns(const HiveCatalogCell* cells, int32_t rows, int32_t columns,
                                           int32_t* first) noexcept;

// Column `index` (0-based, below the count above) of that list.
void hiveDescribedColumn(const HiveCatalogCell* cells, int32_t columns, int32_t first, int32_t index,
                         HiveDescribedColumn* out) noexcept;

// What the details section of DESCRIBE FORMATTED says of the table.
struct HiveTableDetails {
    // An ODBC table type: "TABLE", "VIEW" or "SYSTEM TABLE".
    const char* tableType = "TABLE";
    // The table's comment (empty when it has none).
    HiveCatalogCell remarks;
    // Whether the section "# Detailed Table Information" was there.
    bool found = false;
};

// Reads the details rows whichever way the server lays them out: key and
// value in one cell separated by a TAB, or in neighbouring cells padded with
// blanks, with or without the trailing ":". Keys match whole, so "OwnerType:"
// is not "Owner:".
void hiveTableDetails(const HiveCatalogCell* cells, int32_t rows, int32_t columns, HiveTableDetails* out) noexcept;
