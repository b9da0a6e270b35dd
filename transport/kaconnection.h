// The small connection layer under the TCP/IP transport: the connection
// record and the plain functions that resolve a host, open a socket with its
// options, connect it under a time budget and close it. KaTCPIP
// (katcpip.h) is its only client; tests drive it directly.
#pragma once
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// Codes of the record's last error beside the errno values it also holds.
constexpr uint16_t kConnectionErrorGeneric = 11;
constexpr uint16_t kConnectionErrorTimedOut = 110;

// Room of the layer and call names in the last error; a longer name (a
// resolver text, a host text) is cut to fit.
constexpr size_t kConnectionErrorNameSize = 128;
// Room of the formatted "name (call())." text.
constexpr size_t kConnectionErrorTextSize = 2 * kConnectionErrorNameSize + 8;

// The parallel connect waits on at most this many sockets at once; further
// addresses are tried in later rounds.
constexpr size_t kConnectionParallelSockets = 10;

struct ConnectionError {
    uint16_t code;  // an errno value, kConnectionErrorGeneric or kConnectionErrorTimedOut
    uint16_t errorClass;
    char function[kConnectionErrorNameSize];
    char call[kConnectionErrorNameSize];
    char text[kConnectionErrorTextSize];
};

// Owned by the transport; zero-filled before use, socket -1 while closed.
struct ConnectionRecord {
    int32_t socket;
    pollfd pollEntry;  // {socket, POLLIN} once open
    uint16_t port;
    sockaddr_storage peer;  // the address connected to
    ConnectionError lastError;
    int32_t sendBufferSize;
    int32_t receiveBufferSize;
    int32_t keepAlive;
    int32_t blockingConnect;
    int32_t setLinger;  // set SO_LINGER with the value below
    linger lingerValue;
};

// The resolver's functions, looked up in the running program once per
// process, and how a scoped IPv6 name ("address%interface") is resolved.
struct ResolverTable {
    int (*getaddrinfo)(const char*, const char*, const addrinfo*, addrinfo**);
    void (*freeaddrinfo)(addrinfo*);
    const char* (*gai_strerror)(int);
    unsigned (*if_nametoindex)(const char*);  // may be null
    int (*getsockname)(int, sockaddr*, socklen_t*);
    int (*getnameinfo)(const sockaddr*, socklen_t, char*, socklen_t, char*, socklen_t, int);
    // 1: a scoped name goes to getaddrinfo whole; 0: without its scope, which
    // becomes the interface index. Settled by the first scoped name.
    std::atomic<int32_t> scopeAttached;
    std::atomic<int32_t> scopeSettled;
};

// Fills the process's table once; 0 when the resolver is available, 1 when
// a function is missing (later calls give the first answer).
[[nodiscard]] int loadResolver() noexcept;
// The process's table; valid after loadResolver returned 0.
ResolverTable* resolverTable() noexcept;

// Stores the last error; errorClass -1 is stored as kConnectionErrorGeneric.
void ConnectionSetError(ConnectionRecord* record, const char* function, const char* call, int code,
                        int errorClass) noexcept;

// The IPv4 path (gethostbyname_r): 1 connected, 0 failed (*errorCode and the
// record's last error say why). timeoutMs < 0: no limit.
[[nodiscard]] int ConnectionOpen(ConnectionRecord* record, const char* host, uint16_t port, int* errorCode,
                                 int32_t timeoutMs) noexcept;
// The getaddrinfo path over every address of the host, one after the other
// or (parallel non-zero) several at once; 1 connected, 0 failed.
// timeoutMs < 0: no limit; otherwise the whole open, every address
// included, ends within it.
[[nodiscard]] int ConnectionOpenEx(ConnectionRecord* record, const char* host, uint16_t port, int* errorCode,
                                   ResolverTable* resolver, int32_t timeoutMs, int parallel) noexcept;
// 1 closed (or nothing to close), 0 when close failed; the socket and the
// poll descriptor become -1 either way.
[[nodiscard]] int ConnectionClose(ConnectionRecord* record, int* errorCode) noexcept;
// Resolves an IPv4 host name into *address (network order); null on
// success, else the name of the failing call.
const char* MapHostNameToAddress(ConnectionRecord* record, const char* host, in_addr_t* address,
                                 int* errorCode) noexcept;
