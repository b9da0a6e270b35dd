// The Hive statement's catalog answers derived from its other listings:
// SQLStatistics from the table listing, SQLSpecialColumns from the column
// listing, and the empty answers of the functions the server has no data
// for (keys, procedures, privileges): hive/hivecatalogderived.cpp. Also the
// choice of the type-table row that says whether a column of a Hive type is
// searchable.
#pragma once
#include <cstddef>
#include <cstdint>

struct BaseTypeRow;

// The type-table row of a column whose SQLColumns TYPE_NAME is `typeName`
// (a Hive type, parameters such as "(10,2)" or "<int>" ignored, case-blind)
// and whose DATA_TYPE is `dataType`: the row of that name and type, else of
// that name, else the first of that type; null when the table has none.
const BaseTypeRow* hiveSpecialTypeRow(const BaseTypeRow* table, size_t count, const uint16_t* typeName,
                                      int16_t dataType) noexcept;
// An escaped search pattern that matches exactly `name` (%, _ and the
// escape get the escape before them), from ramAlloc; null for a null name
// or after the out-of-memory diagnostic (*failed then set).
uint16_t* hiveExactPattern(const uint16_t* name, uint16_t escape, bool* failed) noexcept;
