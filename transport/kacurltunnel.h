// The HTTP client of the physical connection's proxy tunnel: libcurl, loaded
// at run time, connects to the proxy and asks it with CONNECT for a tunnel to
// the server; the open tunnel is then a byte stream. The driver registers
// kaCurlMakeTunnel as the connection's tunnel client maker.
#pragma once
#include <cstddef>
#include <cstdint>

#include "odbc/basetunnel.h"
#include "transport/kacurl.h"

class KaError;

class KaCurlTunnel : public BaseTunnelClient {
public:
    KaCurlTunnel() noexcept = default;
    ~KaCurlTunnel() override;
    KaCurlTunnel(const KaCurlTunnel&) = delete;
    KaCurlTunnel& operator=(const KaCurlTunnel&) = delete;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;

    [[nodiscard]] int16_t setProxy(const char* host, uint32_t port, uint32_t mode, int32_t authenticate,
                                   const char* user, const char* password) noexcept override;
    [[nodiscard]] int16_t setServer(const char* host, const char* port) noexcept override;
    [[nodiscard]] int16_t applyTunnelOptions() noexcept override;
    [[nodiscard]] int16_t connectTunnel(int64_t timeoutSeconds) noexcept override;

    // Bytes through the open tunnel, waiting at most timeoutMs for the
    // socket; 0 with *done, or 1 with the diagnostic.
    [[nodiscard]] int16_t send(const void* data, size_t length, size_t* done, int32_t timeoutMs) noexcept;
    [[nodiscard]] int16_t receive(void* buffer, size_t size, size_t* done, int32_t timeoutMs) noexcept;

    KaCurlConnection client;
    char* proxyHost = nullptr;
    uint32_t proxyPort = 0;
    uint32_t proxyMode = 0;
    int32_t authenticate = 0;
    // Held only until the transfer has its own copies (applyTunnelOptions),
    // then wiped.
    char* proxyUser = nullptr;
    char* proxyPassword = nullptr;
    char* serverHost = nullptr;
    char* serverPort = nullptr;
    // The user named in a refusal of the credentials, kept after the wipe.
    char* userForMessages = nullptr;

private:
    void forgetCredentials() noexcept;
    // Posts the failure of a libcurl call; the returned record is the last.
    KaError* postCurlError(CURLcode code) noexcept;
    [[nodiscard]] int16_t waitSocket(int32_t forWrite, int32_t timeoutMs) noexcept;
};

// A tunnel client with libcurl loaded, or null after the diagnostic.
BaseTunnelClient* kaCurlMakeTunnel() noexcept;
