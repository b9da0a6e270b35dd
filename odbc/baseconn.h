// The physical connection (BaseConnection) and the connection handle the
// application holds (BaseStubConnection): the members the diagnostics, the
// resource strings and the conversion engine read.
#pragma once
#include <cstdint>

#include "convert/icucache.h"
#include "foundation/kalist.h"
#include "odbc/baseerr.h"

class BaseEnv;
class BaseStubConnection;

// Units of a driver resource text, the terminator included (512 bytes).
constexpr int32_t kBaseResourceTextUnits = 256;

// Connection flags.
constexpr uint64_t kBaseConnConnected = 0x1;
constexpr uint64_t kBaseConnUnicodeDriver = 0x100;

// Resource strings that name the driver and the DBMS.
constexpr uint32_t kBaseResDriverName = 20112;
constexpr uint32_t kBaseResProductName = 20101;

// Bit of WORKAROUNDS: a cut diagnostic message is not reported as cut.
constexpr uint64_t kBaseWaNoMessageTruncation = 0x2000000;

class BaseConnection : public KaNode {
public:
    explicit BaseConnection(BaseEnv* env) noexcept;
    ~BaseConnection() override;

    // Text of driver resource string `id` into out (capacity with the
    // terminator); returns its length.
    virtual int32_t driverResourceStrA(uint32_t id, char* out, int32_t capacity) noexcept;
    virtual int32_t driverResourceStr(uint32_t id, uint16_t* out, int32_t capacity) noexcept;

    // Resource string `id` as UTF-16 into outW (kBaseResourceTextUnits).
    int32_t getResourceString(uint32_t id, uint16_t* outW) noexcept;
    // Narrow data-source name; "Default" when there is none.
    const char* getDsnName() noexcept;
    // 0, or 1 when no memory is left.
    int16_t setDsnName(const uint16_t* textW) noexcept;

    KaIcuCache icuCache;
    BaseEnv* env;
    BaseStubConnection* handle;
    uint16_t* dsnNameW;
    char* dsnNameA;
    uint32_t driverTextMode;
    uint64_t connectionFlags;
    int64_t appCodePage;

    // Option values (read with the connection options).
    uint64_t workarounds;
    uint16_t doubleToStringPrecision;
    uint16_t roundingMode;
    uint32_t timestampTruncationBehavior;
    uint32_t allowHH24;
    uint32_t allowTime24;  // 24:00:00 accepted in timestamp text
    uint16_t* dbmsName;  // SQL_DBMS_NAME kept from the completion of the connect
};

class BaseStubConnection : public KaNode {
public:
    explicit BaseStubConnection(BaseEnv* env) noexcept;
    ~BaseStubConnection() override;

    uint64_t magic;
    uint8_t handleKey[16];
    BaseEnv* env;
    BaseConnection* current;
    KaList connections;
    BaseErrorList diagnostics;
};

constexpr uint64_t kBaseStubMagic = 0xdd1e1c74776e6172ULL;
