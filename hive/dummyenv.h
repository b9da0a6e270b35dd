// The driver's environment class: a BaseEnv whose connections are
// HiveServer2 connections. SQLAllocHandle makes one per environment handle
// through hiveMakeEnv, the factory the driver library registers with the
// ODBC layer.
#pragma once
#include <cstdint>

#include "odbc/baseenv.h"

// Lock-table entry of the driver's connections.
constexpr int32_t kDummyEnvLockIndex = 15;

class DummyEnv : public BaseEnv {
public:
    DummyEnv() noexcept;
    ~DummyEnv() override;

    [[nodiscard]] int16_t newConnection(int32_t skipAcceptCheck, BaseConnection** out) noexcept override;
};

// A new DummyEnv as a BaseEnvFactory; null when memory ran out.
BaseEnv* hiveMakeEnv() noexcept;
