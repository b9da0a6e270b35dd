// The HiveServer2 driver's SQLGetInfo answers: its information table, which
// the framework searches before its own, and what the connection learned
// when it opened, which the answers the driver gives itself read. Used by
// HiveConnection (hiveinfo.cpp) and by the open sequence that fills the
// facts.
#pragma once
#include <cstdint>

#include "odbc/baseinfo.h"

extern const BaseInfoTable kHiveInfoTable;

// What the open sequence learned of the server and took from the options.
// Texts are owned (ramAlloc) and freed with the connection; a null text
// gives the answer's default.
struct HiveServerFacts {
    HiveServerFacts() noexcept = default;
    ~HiveServerFacts();
    HiveServerFacts(const HiveServerFacts&) = delete;
    HiveServerFacts& operator=(const HiveServerFacts&) = delete;

    char* dbmsName = nullptr;      // the server's product name (default: the driver's resource text)
    char* dbmsVersion = nullptr;   // the server's version text (default: empty)
    uint16_t* hostName = nullptr;  // HostName as connected to (SQL_SERVER_NAME)
    int32_t transactionMode = 0;   // TransactionMode: 1 ignores transactions, 0 refuses them
    int32_t readOnly = 0;          // DataSourceReadOnlyMode
    int32_t describeParam = 0;     // EnableDescribeParam
    int32_t longDataCache = 1;     // the long-data cache is on (LongDataCacheSize)
};
