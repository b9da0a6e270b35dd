// The Hive connection's HTTP socket (TransportMode=1): the Thrift content
// headers, basic authentication or a Kerberos token per request, and the
// session cookie that spares the credentials once the server has set it.
// Made by the physical open (hive/hiveopen.cpp).
#pragma once
#include <cstddef>
#include <cstdint>

#include "transport/basehttpsocket.h"

class HiveConnection;

// Basic authentication of AuthenticationMethod=-1 (no authentication).
constexpr char kHiveHttpNoAuthIdentity[] = "veltranox";
// The CookieName default: look for the well-known session cookies.
constexpr char16_t kHiveDefaultCookieName[] = u"Olvenrey_Default_Hive_Cookie";
// Longest port text the socket keeps (digits only).
constexpr size_t kHivePortDigits = 8;

class HiveHTTPSocket : public BaseHTTPSocket {
public:
    // port: the connection's port text, kept as narrow digits (none when
    // it holds anything else).
    HiveHTTPSocket(const uint16_t* host, const uint16_t* port, const uint16_t* httpPath,
                   HiveConnection* connection) noexcept;
    ~HiveHTTPSocket() override;

    // Instead of a connect: URL, headers, authentication and cookies; 0 or -1.
    [[nodiscard]] int setupRequest() noexcept;
    [[nodiscard]] int connectHTTP() noexcept override;
    // A fresh Kerberos token for each request that no session cookie carries.
    [[nodiscard]] int write(const void* data, size_t length, int32_t outOfBand) noexcept override;
    // The TLS or the plain client, as the connection's settings ask; 0 or 1.
    [[nodiscard]] int createTransport() noexcept;

    HiveConnection* hive;
    char* cookieNameText = nullptr;  // owned; the application code page
    char portDigits[kHivePortDigits + 1] = {};
};
