// The environment handle object: its diagnostics, its connection handles and
// the ODBC version the application asked for.
#pragma once
#include <cstdint>

#include "foundation/kalist.h"
#include "foundation/kaobject.h"
#include "odbc/baseerr.h"

class BaseEnv : public KaObject {
public:
    explicit BaseEnv(int32_t lockTableIndex) noexcept;
    ~BaseEnv() override;

    BaseErrorList diagnostics;
    int16_t connectionCount;
    int32_t lockTableIndex;
    KaList connections;  // BaseStubConnection handles, in creation order
    int32_t odbc2Mode;   // 1 when SQL_ATTR_ODBC_VERSION is SQL_OV_ODBC2
};
