// The driver's environment class: a BaseEnv whose connections are
// HiveServer2 connections. SQLAllocHandle makes one per environment handle.
#pragma once
#include <cstdint>

#include "odbc/baseenv.h"

// Lock-table entry of the driver's connections.
constexpr int32_t kDummyEnvLockIndex = 15;

class DummyEnv : public BaseEnv {
public:
    DummyEnv() noexcept;
    ~DummyEnv() override;

    int16_t newConnection(int32_t skipAcceptCheck, BaseConnection** out) noexcept override;
};
