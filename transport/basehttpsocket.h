// The HTTP socket (BaseHTTPSocket): keeps the interface of BaseSocket but
// carries every write as a piece of an HTTP POST body and every read from
// the response, through a KaCurlConnection. The Hive connection's HTTP
// socket (hive/hivehttpsocket.h) derives from it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "transport/basesocket.h"
#include "transport/kacurl.h"

class BaseHTTPSocket : public BaseSocket {
public:
    // host and path are the connection's (borrowed); port narrow digits or null.
    BaseHTTPSocket(const uint16_t* host, const char* port, const uint16_t* httpPath, BaseConnection* connection,
                   const BaseSocketSettings* settings) noexcept;
    ~BaseHTTPSocket() override;

    [[nodiscard]] int prepareSSL(const uint16_t* trustStore, const uint16_t* trustStorePassword,
                                 const uint16_t* keyStore, const uint16_t* keyStorePassword,
                                 const uint16_t* keyPassword, const uint16_t* hostNameInCertificate,
                                 uint16_t validateServerCertificate, const uint16_t* sslLibName,
                                 const uint16_t* cryptoLibName, int32_t encryptionMethod) noexcept override;
    [[nodiscard]] int preparePlain() noexcept override;
    [[nodiscard]] int connectHTTP() noexcept override;
    [[nodiscard]] int write(const void* data, size_t length, int32_t outOfBand) noexcept override;
    [[nodiscard]] int read(void* buffer, size_t size, size_t* received, int32_t wait) noexcept override;
    // The time-out bounds the connect and, unlike libcurl's connect
    // time-out alone, every transfer's reads and writes too.
    void setTransportTimeout(int64_t seconds, int64_t microseconds) noexcept override;
    // Sets *ended when the current response's body has been read to its
    // end, else clears it (more is on its way); KA_SOCK_OK or a failure as read.
    [[nodiscard]] int responseEnded(int32_t* ended) noexcept;

    // A new client, its library bound and libcurl initialised; 0 or 1.
    [[nodiscard]] int createClient() noexcept;
    // The write buffer announces the length of the message it is about to
    // send in several writes, so that one POST carries all of it.
    void announceBody(uint32_t length) noexcept;
    // A statement's query deadline (baseSocketNowMs; 0 none): until it is
    // cleared, no transfer runs past it, whatever the time-out mode. An
    // abandoned transfer leaves the socket usable: the next request is a
    // transfer of its own.
    void setQueryDeadline(int64_t deadlineMs) noexcept;
    // The last read or write ended because the query deadline ran out.
    [[nodiscard]] bool queryDeadlineReached() const noexcept { return queryDeadlineHit != 0; }

    KaCurlConnection* client = nullptr;  // owned
    int32_t ssl = 0;
    const uint16_t* host;
    const char* port;
    const uint16_t* httpPath;

private:
    void destroyClient() noexcept;
    // The client's transfer budget for the next call: what is left of the
    // login deadline while it applies, and of the query deadline; 0 to go
    // on, else KA_SOCK_TIMED_OUT with HYT00 posted.
    [[nodiscard]] int applyDeadline() noexcept;
    [[nodiscard]] int passResult(int result) noexcept;
    int64_t timeoutMs = 0;
    int64_t queryDeadlineMs = 0;
    // The query deadline is the budget of the running call / ran out in it.
    int32_t queryDeadlineBinds = 0;
    int32_t queryDeadlineHit = 0;
    // UTF-8 copies of the TLS texts the client borrows (passwords wiped
    // when freed).
    enum { kTrustStore, kTrustStorePassword, kKeyStore, kKeyStorePassword, kHostName, kTextCount };
    char* texts[kTextCount] = {};
};
