// The SHOW and DESCRIBE statements the Hive catalog listing sends, with every
// name quoted as an identifier so that no name can end the statement.
#pragma once

#include <cstdint>

// Each writes its NUL-terminated UTF-16 statement into `out` of `room` units
// and returns the units needed without the NUL; nothing is written past
// `room`. Names are NUL-terminated UTF-16.

// "SHOW TABLES IN `db`".
[[nodiscard]] int32_t hiveShowTablesText(const uint16_t* database, uint16_t* out, int32_t room) noexcept;

// "DESCRIBE [FORMATTED] [`db`.]`table`". A temporary table is described
// plainly and by its bare name, except a global temporary view, which is
// described in its database; `qualify` puts the database before any other
// table.
[[nodiscard]] int32_t hiveDescribeText(const uint16_t* database, const uint16_t* table, bool formatted, bool temporary,
                                       bool globalTemporary, bool qualify, uint16_t* out, int32_t room) noexcept;
