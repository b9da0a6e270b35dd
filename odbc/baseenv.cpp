// The environment handle object.
#include "odbc/baseenv.h"

BaseEnv::BaseEnv(int32_t lockIndex) noexcept
    : diagnostics(nullptr), connectionCount(0), lockTableIndex(lockIndex), odbc2Mode(0)
{
}

BaseEnv::~BaseEnv() = default;
