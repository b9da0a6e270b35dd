// The driver's environment class.
#include "hive/dummyenv.h"

#include <memory>

#include "hive/hiveconnection.h"

BaseEnv* hiveMakeEnv() noexcept
{
    return new DummyEnv();
}

DummyEnv::DummyEnv() noexcept : BaseEnv(kDummyEnvLockIndex) {}

DummyEnv::~DummyEnv() = default;

int16_t DummyEnv::newConnection(int32_t skipAcceptCheck, BaseConnection** out) noexcept
{
    if (out != nullptr)
        *out = nullptr;
    std::unique_ptr<HiveConnection> conn(new HiveConnection(this));
    if (conn == nullptr)
        return -1;
    if (skipAcceptCheck == 0 && conn->acceptNewConnection() == 1)
        return -1;
    if (out == nullptr)
        return -1;
    *out = conn.release();
    return 0;
}
