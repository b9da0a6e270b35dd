// The socket a connection talks through (BaseSocket): it makes the transport
// the connection's settings ask for, connects it, and applies the time-out
// of the connection's phase (login, connection, query) to every read and
// write. The Hive connection owns one; it fills BaseSocketSettings from its
// options, since the connection framework below keeps no socket options.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"
#include "transport/kasock.h"

class BaseConnection;
class KaTCPIP;

// Longest time-out in seconds the socket applies.
constexpr int64_t kBaseSocketMaxTimeoutSeconds = 1000000;
// Socket buffer sizes are rounded up to a multiple of this.
constexpr int64_t kBaseSocketBufferUnit = 4096;

// Time-out modes.
enum : int32_t {
    BASE_SOCKET_QUERY_TIMEOUT = 0,
    BASE_SOCKET_CONNECTION_TIMEOUT = 1,
    BASE_SOCKET_LOGIN_TIMEOUT = 2,
    BASE_SOCKET_NO_TIMEOUT = 4,
};

// The TLS settings of a connection, handed to the TLS transport when it
// exists. Texts are the connection's, not copied; null when not set.
struct BaseSocketTlsSettings {
    const uint16_t* trustStore = nullptr;
    const uint16_t* trustStorePassword = nullptr;
    const uint16_t* keyStore = nullptr;
    const uint16_t* keyStorePassword = nullptr;
    const uint16_t* keyPassword = nullptr;
    const uint16_t* hostNameInCertificate = nullptr;
    // Verification is on unless the user's option turned it off: a settings
    // block left zero must not accept any certificate.
    uint16_t validateServerCertificate = 1;
    const uint16_t* sslLibName = nullptr;
    const uint16_t* cryptoLibName = nullptr;
    const uint16_t* allowedOpenSSLVersions = nullptr;
    uint32_t openSSLOptions = 0;
    uint32_t openSSLMode = 0;
    const uint16_t* cipherList = nullptr;
    const uint16_t* prngSeedFile = nullptr;
    int64_t prngMaxBytes = 0;
    const uint16_t* prngSeedSource = nullptr;
};

// What the socket reads of its connection, filled by the connection from
// its options and kept alive by it as long as the socket.
struct BaseSocketSettings {
    int32_t encryptionMethod = 0;  // EncryptionMethod: 0 none, 2 plain too
    int32_t tlsTunnel = 0;         // TLSTunnel: TLS even with method 0
    const BaseSocketTlsSettings* tls = nullptr;
    int64_t sendBufferSize = 0;          // SocketSendBufferSize; 0: the default below
    int64_t receiveBufferSize = 0;       // SocketReceiveBufferSize
    int64_t defaultSendBufferSize = -1;  // the connection's defaults; <= 0 none
    int64_t defaultReceiveBufferSize = -1;
    int64_t maxReadSize = 0;               // SocketMaxReadSize; 0 no limit
    int32_t keepAlive = 0;                 // KeepAlive: 1 on
    int32_t blockingConnect = 1;           // UseBlockingConnect
    int64_t connectionTimeout = 0;         // ConnectionTimeout, seconds; 0 none
    int64_t loginTimeout = 0;              // LoginTimeout, seconds; 0 none
    int32_t loginTimeoutOff = 0;           // LoginTimeout was -1
    int32_t loginTimeoutOffered = 0;       // the driver offers LoginTimeout
    int32_t queryTimeoutOff = 0;           // QueryTimeout was -1
    int32_t queryTimeoutOffered = 0;       // the driver offers QueryTimeout
    uint16_t packetLogging = 0;            // ENABLEPACKETLOGGING: the trace mode
    uint32_t packetLoggingOptions = 0;     // PacketLoggingOptions: the dump options
    KaSockTraceSink* packetLog = nullptr;  // the connection's packet-log writer; null: a file
};

class BaseSocket : public KaObject {
public:
    // settings: the connection's (null: a socket without a connection).
    BaseSocket(BaseConnection* connection, const BaseSocketSettings* settings) noexcept;
    ~BaseSocket() override;
    BaseSocket(const BaseSocket&) = delete;
    BaseSocket& operator=(const BaseSocket&) = delete;

    virtual void setConnection(BaseConnection* connection) noexcept;
    // Builds or reuses a TLS transport; refused while the driver has no TLS
    // transport (the diagnostic says so).
    [[nodiscard]] virtual int prepareSSL(const uint16_t* trustStore, const uint16_t* trustStorePassword,
                                         const uint16_t* keyStore, const uint16_t* keyStorePassword,
                                         const uint16_t* keyPassword, const uint16_t* hostNameInCertificate,
                                         uint16_t validateServerCertificate, const uint16_t* sslLibName,
                                         const uint16_t* cryptoLibName, int32_t encryptionMethod) noexcept;
    [[nodiscard]] virtual int preparePlain() noexcept;
    // Only the HTTP sockets connect here.
    [[nodiscard]] virtual int connectHTTP() noexcept;
    [[nodiscard]] virtual int write(const void* data, size_t length, int32_t outOfBand) noexcept;
    [[nodiscard]] virtual int read(void* buffer, size_t size, size_t* received, int32_t wait) noexcept;
    virtual void setTransportTimeout(int64_t seconds, int64_t microseconds) noexcept;

    // 0, or non-zero with the diagnostics posted.
    [[nodiscard]] int createTransport() noexcept;
    // The connects run under the login time-out: they are the first step
    // of the login. KA_SOCK_OK, _FAILED or _TIMED_OUT.
    [[nodiscard]] int connectToHost(const uint16_t* host, const uint16_t* portText, const uint16_t* service,
                                    int32_t flags) noexcept;
    [[nodiscard]] int connectToHostPort(const uint16_t* host, uint16_t port, int32_t flags) noexcept;
    [[nodiscard]] int connectTo(const char* host, uint16_t port, int32_t flags) noexcept;
    [[nodiscard]] int connectToPortText(const char* host, const char* portText, int32_t flags) noexcept;
    void useQueryTimeout(int64_t seconds) noexcept;
    void useConnectionTimeout() noexcept;
    void useLoginTimeout() noexcept;
    void setSavedTimeout(int64_t seconds) noexcept;
    [[nodiscard]] int upgradeToSSL() noexcept;
    // The login time-out as one budget for a whole open: until the login
    // time-out mode is left or set again, every read and write gets what is
    // left until deadlineMs (baseSocketNowMs), and none starts after it.
    // 0 gives each read and write the whole time-out again.
    void setLoginDeadline(int64_t deadlineMs) noexcept;

    BaseConnection* connection;
    void* unused = nullptr;
    KaSock* transport = nullptr;  // owned
    int64_t savedTimeout = 0;     // seconds
    int32_t timeoutMode = BASE_SOCKET_NO_TIMEOUT;
    // The connection's settings, which the socket reads where the
    // connection would be asked; not owned.
    const BaseSocketSettings* settings;
    int64_t loginDeadlineMs = 0;

private:
    // Buffer sizes, keep-alive and the connect mode from the settings.
    void applyTcpSettings(KaTCPIP* tcp) noexcept;
    // 0 to go on, else KA_SOCK_TIMED_OUT with HYT00 posted.
    [[nodiscard]] int applyLoginDeadline() noexcept;
    [[nodiscard]] int connectWith(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service,
                                  int32_t flags) noexcept;
    [[nodiscard]] int passResult(int result, size_t recordsBefore) noexcept;
};

// Milliseconds of the monotonic clock, for login deadlines.
int64_t baseSocketNowMs() noexcept;

// Loads the TLS libraries before a connect for a connection whose settings
// ask for TLS; 0, or 1 with the diagnostics posted.
[[nodiscard]] int baseSocketPreloadSSL(BaseConnection* connection, const BaseSocketSettings* settings) noexcept;
