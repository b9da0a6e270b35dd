// The HiveServer2 physical connection: the driver's form of BaseConnection,
// made by the environment when the application connects. It names the
// driver (its library name and resource texts) and makes the driver's
// statements.
#pragma once
#include <cstddef>
#include <cstdint>

#include "hive/hiveinfo.h"
#include "hive/hivenetread.h"
#include "hive/hivenetwrite.h"
#include "odbc/baseconn.h"

class BaseEnv;
class BaseStatement;

// Login time-out the driver's connections start with, in seconds.
constexpr int64_t kHiveDefaultLoginTimeout = 30;
// Bytes of the session handle as the OpenSession reply carries it.
constexpr size_t kHiveSessionHandleBytes = 50;
// Longest server message kept from a status record; the rest is passed over.
constexpr size_t kHiveMaxServerMessage = 65536;
// Longest message of a refused SASL login the driver reads.
constexpr size_t kHiveSaslMessageSize = 1024;
// Both halves of the credentials with AuthenticationMethod -1.
constexpr char kHiveNoAuthIdentity[] = "VELTRANOX";
// SASL status bytes.
enum : uint8_t {
    HIVE_SASL_START = 1,
    HIVE_SASL_OK = 2,
    HIVE_SASL_BAD = 3,
    HIVE_SASL_ERROR = 4,
    HIVE_SASL_COMPLETE = 5,
};

// Status codes of a TStatus.
enum : int32_t {
    HIVE_STATUS_SUCCESS = 0,
    HIVE_STATUS_SUCCESS_WITH_INFO = 1,
    HIVE_STATUS_STILL_EXECUTING = 2,
    HIVE_STATUS_ERROR = 3,
    HIVE_STATUS_INVALID_HANDLE = 4,
};

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

    // Server errors: a TStatus read and posted, an EXCEPTION reply posted.
    [[nodiscard]] int readStatus(int32_t* statusCode) noexcept;
    void postServerError(int32_t errorCode, const char* sqlstate, const char* message, size_t length) noexcept;
    [[nodiscard]] int readServerException(HiveNetReadBuffer* buffer) noexcept;

    // The session calls the connection makes itself.
    [[nodiscard]] int writeOpenSession(int32_t clientProtocol, const char* proxyUser, size_t proxyUserLength) noexcept;
    [[nodiscard]] int readOpenSessionReply(int32_t* serverProtocol) noexcept;
    [[nodiscard]] int writeCloseSession() noexcept;
    [[nodiscard]] int readCloseSessionReply() noexcept;
    // SASL PLAIN over the bare socket (framing off). method -1 logs in with
    // the fixed identity, 0 with user and password as given; loginName,
    // when not null, is the operating-system login to impersonate. The
    // credential bytes are wiped from the write buffer afterwards.
    [[nodiscard]] int saslPlainLogin(int32_t method, const char* user, size_t userLength, const char* password,
                                     size_t passwordLength, const char* loginName) noexcept;
    // A struct field holding the session handle.
    [[nodiscard]] int writeSessionHandle(int16_t fieldId) noexcept;

    // The wire, shared by the connection's statements.
    HiveNetWriteBuffer writeBuffer;
    HiveNetReadBuffer readBuffer;
    uint8_t sessionHandle[kHiveSessionHandleBytes] = {};
    int32_t sessionOpen = 0;
    // Severity the next posted status record takes: status SUCCESS_WITH_INFO
    // gives a warning, the call going on.
    int32_t postingWarning = 0;

    // ---- SQLGetInfo, SQLGetFunctions and attribute rules (hiveinfo.cpp) ----
    [[nodiscard]] int16_t driverInfoValue(uint16_t infoType, uint64_t* value, int32_t* kind) noexcept override;
    using BaseConnection::getConnectAttrDefault;
    [[nodiscard]] int16_t getConnectAttrDefault(int32_t attribute, void* value, int32_t bufferLength,
                                                int32_t* outLength) noexcept override;
    [[nodiscard]] int16_t setConnectAttrDefault(int32_t attribute, void* value, int32_t length) noexcept override;
    [[nodiscard]] int16_t functionSupported(uint16_t functionId, uint16_t* supported) noexcept override;
    // What the open learned and the options chose, for the answers above.
    HiveServerFacts serverFacts;
};
