// A scope that registers the Hive environment factory, as the driver library
// does while it loads, for tests that allocate environments through the
// ODBC exports; the factory registered before comes back at its end.
#pragma once

#include "hive/dummyenv.h"
#include "odbc/baseenv.h"

namespace katest {

class EnvFactoryScope {
public:
    explicit EnvFactoryScope(BaseEnvFactory factory = hiveMakeEnv) : previous_(baseSetEnvFactory(factory)) {}
    ~EnvFactoryScope() { baseSetEnvFactory(previous_); }
    EnvFactoryScope(const EnvFactoryScope&) = delete;
    EnvFactoryScope& operator=(const EnvFactoryScope&) = delete;

private:
    BaseEnvFactory previous_;
};

}  // namespace katest
