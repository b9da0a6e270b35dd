// The HiveServer2 driver's information table, which the framework searches
// before its own; HiveConnection hands it over when it is made, and answers
// the entries left to it from what its open learned and its options chose
// (hiveinfo.cpp).
#pragma once
#include <cstdint>

#include "odbc/baseinfo.h"

// Longest database, table and column name the server keeps, in characters.
constexpr uint16_t kHiveMaxNameLength = 128;

// TransactionMode: transactions refused, or accepted with nothing to send.
enum : int32_t {
    HIVE_TRANSACTIONS_REFUSED = 0,
    HIVE_TRANSACTIONS_IGNORED = 1,
};

extern const BaseInfoTable kHiveInfoTable;
