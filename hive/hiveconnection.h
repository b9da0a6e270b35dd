// The HiveServer2 physical connection: the driver's form of BaseConnection,
// made by the environment when the application connects. It names the
// driver (its library name and resource texts) and makes the driver's
// statements.
#pragma once
#include <cstdint>

#include "odbc/baseconn.h"

class BaseEnv;
class BaseStatement;

// Login time-out the driver's connections start with, in seconds.
constexpr int64_t kHiveDefaultLoginTimeout = 30;
// Longest resource text the driver hands out, in UTF-16 units.
constexpr int32_t kHiveResourceTextUnits = 1024;

class HiveConnection : public BaseConnection {
public:
    explicit HiveConnection(BaseEnv* env) noexcept;
    ~HiveConnection() override;

    [[nodiscard]] int16_t createStatement(BaseStatement** out) noexcept override;
    [[nodiscard]] int16_t driverLibraryName(uint16_t* out, int32_t capacity) noexcept override;
    int32_t driverResourceStr(uint32_t id, uint16_t* out, int32_t capacity) noexcept override;
    // The server keywords alternate servers and browsing name: host and
    // port, and optionally the database.
    const uint16_t* hostKeyword() noexcept override;
    const uint16_t* hostKeywordShort() noexcept override;
    const uint16_t* hostKeywordAlt() noexcept override;
};
