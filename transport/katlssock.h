// KaSSLSock: the TLS transport. It runs the client side of SSL/TLS over the
// TCP/IP transport's socket through the run-time-loaded OpenSSL: loads and
// cross-checks the libraries, builds the context with the configured
// protocol options and ciphers, installs the client key and the trust
// store, verifies the server's chain and host name and carries the byte
// stream in TLS records. The connection socket (basesocket.h) makes one for
// a connection that asks for encryption and configures it with
// applySettings:
//     auto* tls = new KaSSLSock(nullptr);   // or reuse a transport of KA_SOCK_KIND_TLS after close()
//     if (tls == nullptr || tls->applySettings(*settings->tls, settings->encryptionMethod, settings->tlsTunnel))
//         fail (diagnostics posted);
// then connects it like any transport; initSSL(1) only loads and checks
// the libraries (the preload before a connect).
#pragma once
#include <cstddef>
#include <cstdint>

#include "security/kakeystore.h"
#include "security/kasslmapper.h"
#include "transport/katcpip.h"

struct BaseSocketTlsSettings;

// Protocol selectors: which client method the context is made with.
enum : int32_t {
    KA_SSL_PROTOCOL_SSLV2 = 0,
    KA_SSL_PROTOCOL_SSLV3 = 1,
    KA_SSL_PROTOCOL_TLSV1 = 2,
    KA_SSL_PROTOCOL_NEGOTIATE = 3,
    KA_SSL_PROTOCOL_DEFAULT = 4,  // negotiate as well
};

// Validation modes (ValidateServerCertificate).
enum : uint16_t {
    KA_SSL_VALIDATE_NONE = 0,  // the user's explicit choice: no chain, no host check
    KA_SSL_VALIDATE = 1,
    KA_SSL_VALIDATE_ISSUER_CHECK = 2,  // validate, and the store's issuer-check flag
};

// Bytes per SSL_write and per SSL_read.
constexpr size_t KA_SSL_CHUNK = 16300;
// Time the handshake waits for each read of the server's answer.
constexpr int32_t KA_SSL_HANDSHAKE_TIMEOUT_MS = 30000;
// The host-name setting that stands for the host connected to.
constexpr char KA_SSL_SERVERNAME_MARK[] = "#SERVERNAME#";
// The verification result the host check gives when no name matched.
constexpr long KA_SSL_HOST_MISMATCH = 50;

// How the driver answers an OpenSSL chain verification code: accepted, or
// refused with the message to post. During the chain walk (final false) the
// issuer-lookup notices are accepted; as the final result they are refused.
struct KaX509Verdict {
    bool accept;
    uint16_t message;  // 0 when accepted
};
KaX509Verdict x509ErrorMessage(long code, bool final) noexcept;
// True for an IPv4 or IPv6 address literal: a certificate is checked
// against its IP entries for one, against its DNS names otherwise.
bool kaIsIpAddress(const char* name) noexcept;
// True when the TLS library's error text says the server answered the
// handshake with something other than TLS (plain text, HTTP, another
// protocol): a server that expects no encryption.
bool kaTlsAnswerNotTls(const char* errorText) noexcept;

class KaSSLSock : public KaTCPIP, public KaCryptoAPI {
public:
    // versions: the allowed-versions list, borrowed (null: 1.1.1).
    explicit KaSSLSock(const char* versions) noexcept;
    // Starts from an open plain transport; with takeOver the plain one
    // gives up its connection to this one.
    KaSSLSock(KaTCPIP& plain, const char* versions, int takeOver) noexcept;
    ~KaSSLSock() override;

    [[nodiscard]] int connectBasic(uint16_t port, const uint16_t* hostW, const char* host,
                                   const uint16_t* service) noexcept override;
    // Connects, then runs the handshake; KA_SOCK_OK or KA_SOCK_FAILED with
    // the diagnostics posted.
    [[nodiscard]] int connect(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service,
                              int32_t flags) noexcept override;
    [[nodiscard]] int disconnect() noexcept override;
    // Everything is written, or KA_SOCK_FAILED with the diagnostic.
    [[nodiscard]] int send(const void* data, size_t length, int32_t outOfBand) noexcept override;
    // At most KA_SSL_CHUNK bytes per call.
    [[nodiscard]] int recv(void* buffer, size_t size, size_t* received, int32_t wait) noexcept override;
    // Frees the TLS session with the connection, so that no session outlives its socket.
    void close() noexcept override;

    // The connection socket's configuration in one call, as it prepares a
    // TLS transport: option and mode bits ORed in, cipher list, protocol
    // selector from the encryption method, stores, host name, validation
    // mode, library paths, random-seed settings; then the crypto library is
    // loaded. The texts are copied. 0, or 1 with the diagnostics posted.
    [[nodiscard]] int applySettings(const BaseSocketTlsSettings& tls, int32_t encryptionMethod,
                                    int32_t tlsTunnel) noexcept;

    // 0, or 1 when memory runs out. Absent arguments leave the field empty.
    [[nodiscard]] int setTrustStore(const char* path, const char* password) noexcept;
    [[nodiscard]] int setKeyStore(const char* path, const char* storePassword, const char* keyPassword) noexcept;
    // 1 for an absent name (nothing changes) or when memory runs out.
    [[nodiscard]] int setHostNameInCertificate(const char* name) noexcept;
    void setSSLLibraryPath(const char* path) noexcept;
    // The cipher list, borrowed; null: the library's default.
    void setCipherList(const char* list) noexcept { cipherList = list; }

    // Loads and checks the libraries; with loadOnly 0 also builds the
    // context. 0, or -1 with the diagnostics posted.
    [[nodiscard]] int initSSL(int loadOnly) noexcept;
    // TLS on the open connection: initSSL and the handshake; 0 or -1.
    [[nodiscard]] int startSSL() noexcept;
    [[nodiscard]] int handshake() noexcept;
    // 0 when the certificate is for the expected host and verified, else
    // KA_SSL_HOST_MISMATCH or the chain's verification code.
    [[nodiscard]] long checkHostName() noexcept;
    void shutdownSSL() noexcept;
    // The library's error queue, emptied, as "[text]" entries appended to out.
    void appendErrorQueue(char* out, size_t size) noexcept;
    [[nodiscard]] bool trustFileMissing() noexcept;

    KaSSLReadWait readWait;  // the read-wait callback's argument
    const void* clientMethod = nullptr;
    void* context = nullptr;         // SSL_CTX
    void* ssl = nullptr;             // SSL
    void* trustX509Store = nullptr;  // owned by the context once installed
    void* readBio = nullptr;
    void* customBio = nullptr;
    uint64_t optionBits = 0;
    int32_t allWorkarounds = 0;
    uint64_t modeBits = 0;
    int32_t sslCreated = 0;
    char* trustStore = nullptr;  // owned; passwords are wiped when freed
    char* trustStorePassword = nullptr;
    char* keyStore = nullptr;
    char* keyStorePassword = nullptr;
    char* keyPassword = nullptr;
    char* hostNameInCertificate = nullptr;  // owned; empty or absent: the server name
    char* serverName = nullptr;             // owned: the host given to connect
    uint16_t validationMode = KA_SSL_VALIDATE;
    const char* allowedVersions = nullptr;  // borrowed
    int32_t protocolSelector = KA_SSL_PROTOCOL_DEFAULT;
    const char* cipherList = nullptr;  // borrowed
    KaSSLCallMapper* sslMapper = nullptr;
    int32_t sslLibraryPathGiven = 0;
    char sslLibraryPath[KA_OPENSSL_PATH_MAX + 1] = {};
    int32_t handshakeTimeout = KA_SSL_HANDSHAKE_TIMEOUT_MS;
    // The monotonic time (baseSocketNowMs) by which the handshake must be
    // done: connect sets it from the transport's time-out, which covers the
    // TCP connect and the handshake together; 0 leaves each wait its
    // handshakeTimeout.
    int64_t handshakeDeadline = 0;
    // The last handshake ran out of its time-out.
    int32_t handshakeTimedOut = 0;
    // Entry points outside the mappers' tables, looked up by name in the
    // loaded library at initSSL; the verify callback and the host check use them.
    int (*storeContextError)(const void* storeContext) = nullptr;
    const char* (*verifyErrorText)(long code) = nullptr;
    int (*checkIpAddress)(void* certificate, const char* address, unsigned flags) = nullptr;

private:
    void initFields() noexcept;
    void freeTexts() noexcept;
    void postQueued(uint16_t message, uint16_t sqlstate, const char* prefix) noexcept;
    [[nodiscard]] int useKeyStore() noexcept;
    [[nodiscard]] int useTrustStore() noexcept;
    [[nodiscard]] int readChunk(void* buffer, size_t size, size_t* received) noexcept;
    [[nodiscard]] int writeChunks(const uint8_t* data, size_t length) noexcept;
    void postIoFailure(const char* doing, int result) noexcept;
    [[nodiscard]] bool hostMatchesSubject(void* certificate, const char* name, size_t length) noexcept;

    // Texts applySettings converted from the connection's UTF-16 settings:
    // the list, the cipher list and the seed file are borrowed by the
    // fields above and must live as long as the socket.
    char* ownedVersions = nullptr;
    char* ownedCipherList = nullptr;
    char* ownedSeedFile = nullptr;
};

// The callbacks the context installs.
int sslVerifyCallback(int preverified, void* storeContext);
int sslPasswordCallback(char* buffer, int size, int rwflag, void* userData);
