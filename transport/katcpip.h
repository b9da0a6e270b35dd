// The plain TCP/IP transport: connect under a time budget, send everything,
// receive with the transport's time-out, close. The TLS transports derive
// from it and reuse its connect, send, receive and close; the connection
// socket (basesocket.h) makes one for a plain connection.
#pragma once
#include <cstddef>
#include <cstdint>

#include "transport/kaconnection.h"
#include "transport/kasock.h"

class KaTCPIP : public KaSock {
public:
    KaTCPIP() noexcept;
    // Takes over (takeOver non-zero) or shares the source's settings; with
    // take-over the source gives up its connection.
    KaTCPIP(KaTCPIP& source, int takeOver) noexcept;
    ~KaTCPIP() override;

    [[nodiscard]] int connectBasic(uint16_t port, const uint16_t* hostW, const char* host,
                                   const uint16_t* service) noexcept override;
    [[nodiscard]] int connect(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service,
                              int32_t flags) noexcept override;
    [[nodiscard]] int disconnect() noexcept override;
    [[nodiscard]] int send(const void* data, size_t length, int32_t outOfBand) noexcept override;
    [[nodiscard]] int recv(void* buffer, size_t size, size_t* received, int32_t wait) noexcept override;
    void close() noexcept override;

    // KA_SOCK_OK when data can be read, KA_SOCK_NOTHING_YET when none came
    // within the wait time-out, KA_SOCK_LOST or KA_SOCK_FAILED.
    [[nodiscard]] int waitReadable() noexcept;
    // Posts the diagnostic of a transport result (KA_SOCK_FAILED with the
    // system error in detail, _TIMED_OUT, _LOST, _PROTOCOL) when posting is on.
    void postError(int code, int64_t detail) noexcept;

    ConnectionRecord* record = nullptr;  // owned; null while not connected
    int32_t waitTimeout = 1;             // milliseconds
    bool timedOut = false;
    int32_t keepAlive = 0;
    int32_t blockingConnect = 1;
    int32_t lingerMode = 1;      // close resets the connection
    int64_t sendBufferSize = 0;  // 0: the system's
    int64_t receiveBufferSize = 0;
    int64_t maxReadSize = 0;  // 0: no limit

private:
    void dropRecord() noexcept;
    // Classifies a failed poll, send or recv; the transport result.
    int failWith(int error, bool waitMode, bool closeOnReset) noexcept;
    // Waits until the socket accepts more data within the time-out.
    int awaitWritable() noexcept;
};
