// The abstract transport socket (KaSock) with the settings every transport
// shares, and its socket data trace: a message line per send or receive, a
// hexadecimal, ASCII and EBCDIC dump of the bytes, and the socket buffer
// sizes at connect time. KaTCPIP (katcpip.h) and the TLS transports derive
// from it; the connection socket (basesocket.h) owns one.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"

// Results of the transport operations.
enum : int {
    KA_SOCK_OK = 0,
    KA_SOCK_FAILED = -1,
    KA_SOCK_TIMED_OUT = -2,
    KA_SOCK_NOTHING_YET = -3,  // a wait-mode receive saw nothing within the wait time-out
    KA_SOCK_LOST = -13,        // no connection, reset, broken pipe or peer closed
    KA_SOCK_PROTOCOL = -233,
};

// Transport kinds.
enum : int32_t {
    KA_SOCK_KIND_TCPIP = 0,
    KA_SOCK_KIND_TLS = 2,
    KA_SOCK_KIND_TLS_PRELOGIN = 3,
    KA_SOCK_KIND_UNSET = 4,
};

// Message types of KaSock::traceData.
enum : int {
    KA_TRACE_SENDING = 0,
    KA_TRACE_READING = 1,
    KA_TRACE_RCVBUF_CHANGED = 2,
    KA_TRACE_RCVBUF_NOT_CHANGED = 3,
    KA_TRACE_RCVBUF_IS = 4,
    KA_TRACE_SNDBUF_CHANGED = 5,
    KA_TRACE_SNDBUF_NOT_CHANGED = 6,
    KA_TRACE_SNDBUF_IS = 7,
    KA_TRACE_RCVBUF_DESIRED = 8,
    KA_TRACE_SNDBUF_DESIRED = 9,
};

// Bit of the trace mode: message lines only, no dumps.
constexpr uint16_t KA_TRACE_MESSAGES_ONLY = 0x2;
// Bits of the dump options.
constexpr uint32_t KA_TRACE_NO_RECEIVE_DUMP = 0x2;
constexpr uint32_t KA_TRACE_NO_SEND_DUMP = 0x4;

// Where a connection's packet log goes instead of a trace file: the
// connection's trace writer implements it.
class KaSockTraceSink {
public:
    virtual ~KaSockTraceSink() = default;
    virtual void write(const char* text, size_t length) noexcept = 0;
    virtual void flush() noexcept = 0;
};

// The byte's character in EBCDIC, '.' for bytes without one.
char ebcdicToAscii(uint8_t byte) noexcept;

class KaSock : public KaObject {
public:
    KaSock() noexcept = default;
    // Copies every setting; with takeOver the source gives up its trace
    // file, so that only the copy closes it.
    KaSock(KaSock& source, int takeOver) noexcept;
    ~KaSock() override;
    KaSock(const KaSock&) = delete;
    KaSock& operator=(const KaSock&) = delete;

    // connect with flags 0.
    [[nodiscard]] virtual int connectBasic(uint16_t port, const uint16_t* hostW, const char* host,
                                           const uint16_t* service) noexcept = 0;
    // service: "port@..." gives the port when port is 0; flags non-zero
    // asks for the parallel connect. KA_SOCK_OK, _FAILED or _TIMED_OUT.
    [[nodiscard]] virtual int connect(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service,
                                      int32_t flags) noexcept = 0;
    [[nodiscard]] virtual int disconnect() noexcept = 0;
    // Everything is sent, or the result says why not.
    [[nodiscard]] virtual int send(const void* data, size_t length, int32_t outOfBand) noexcept = 0;
    // wait non-zero: wait at most the wait time-out (KA_SOCK_NOTHING_YET).
    [[nodiscard]] virtual int recv(void* buffer, size_t size, size_t* received, int32_t wait) noexcept = 0;
    // Closes and frees the connection without reporting anything.
    virtual void close() noexcept = 0;

    // A non-zero mode without a sink opens a fresh private trace file in the
    // current directory; mode 0, or a sink, closes it.
    void setTraceMode(uint16_t mode) noexcept;
    uint16_t getTraceMode() const noexcept { return traceMode; }
    void traceData(const void* data, size_t length, int type, int64_t value) noexcept;
    void writeTrace(const char* text, size_t length) noexcept;

    int32_t traceFile = 0;  // 0: none open
    uint16_t traceMode = 0;
    KaSockTraceSink* traceSink = nullptr;  // not owned
    uint32_t dumpOptions = 0;
    uint32_t timeout = 0;  // milliseconds; 0 none
    int32_t postErrors = 1;
    int32_t connected = 0;
    int32_t kind = KA_SOCK_KIND_UNSET;
};

// Creates the trace file: the first "<n>.out" of the current directory
// that does not exist, made with O_EXCL and mode 0600 (the traffic may hold
// secrets) and never through a symbolic link. The descriptor (> 0), or 0
// when no file could be made.
int32_t kaSockOpenTraceFile() noexcept;
