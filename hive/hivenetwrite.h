// The write half of the Thrift binary protocol on a Hive connection
// (HiveNetWriteBuffer): the request writers and the SASL exchange compose a
// message into a temporary-file sink, and flush sends it through the
// connection socket as one frame (or bare while the SASL exchange runs).
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/katmpsink.h"

class BaseSocket;
class HiveConnection;

// Block size of the sink a message is composed in.
constexpr uint64_t kHiveWriteBlockSize = 65536;
// The longest string and the longest frame the Thrift binary protocol
// carries: both lengths travel as signed 32-bit numbers.
constexpr uint64_t kHiveMaxStringBytes = 0x7FFFFFFF;
constexpr uint64_t kHiveMaxFrameBytes = 0x7FFFFFFF;

// Thrift type codes.
enum : uint8_t {
    HIVE_T_STOP = 0,
    HIVE_T_VOID = 1,
    HIVE_T_BOOL = 2,
    HIVE_T_BYTE = 3,
    HIVE_T_DOUBLE = 4,
    HIVE_T_I16 = 6,
    HIVE_T_I32 = 8,
    HIVE_T_I64 = 10,
    HIVE_T_STRING = 11,
    HIVE_T_STRUCT = 12,
    HIVE_T_MAP = 13,
    HIVE_T_SET = 14,
    HIVE_T_LIST = 15,
};

// Thrift message types.
enum : int32_t {
    HIVE_MSG_CALL = 1,
    HIVE_MSG_REPLY = 2,
    HIVE_MSG_EXCEPTION = 3,
    HIVE_MSG_ONEWAY = 4,
};

// The strict binary protocol's version word.
constexpr uint32_t kHiveThriftVersion1 = 0x80010000u;

struct HiveNetWriteBuffer {
    HiveNetWriteBuffer() noexcept;
    ~HiveNetWriteBuffer();
    HiveNetWriteBuffer(const HiveNetWriteBuffer&) = delete;
    HiveNetWriteBuffer& operator=(const HiveNetWriteBuffer&) = delete;

    [[nodiscard]] int attach(HiveConnection* conn, BaseSocket* sock) noexcept;
    [[nodiscard]] int writeByte(uint8_t b) noexcept;
    [[nodiscard]] int writeBytes(const void* data, size_t n) noexcept;
    [[nodiscard]] int writeBigEndian(uint64_t value, uint32_t n) noexcept;
    [[nodiscard]] int writeString(const void* data, size_t n) noexcept;
    // Posts that a string of `bytes` is longer than the protocol counts
    // (22001) and drops the message under way, so that no part of it leads
    // the next request; returns 1.
    [[nodiscard]] int refuseLongString(uint64_t bytes) noexcept;
    [[nodiscard]] int writeMessageBegin(int32_t type, const char* name, size_t nameLength, int32_t sequenceId) noexcept;
    [[nodiscard]] int writeFieldBegin(uint8_t type, int16_t id) noexcept;
    [[nodiscard]] int writeStructFieldBegin(int16_t id) noexcept;
    [[nodiscard]] int writeFieldStop() noexcept;
    [[nodiscard]] int writeListFieldBegin(int16_t id, uint8_t elementType, int32_t count) noexcept;
    [[nodiscard]] int flushChunk(int32_t discard) noexcept;
    [[nodiscard]] int flush() noexcept;
    [[nodiscard]] int send() noexcept;
    [[nodiscard]] int sendFramed(const void* block, size_t n) noexcept;

    // The hot path of every writer: straight into the window.
    [[nodiscard]] int put(uint8_t b) noexcept
    {
        if (length < windowSize) {
            window[length++] = b;
            return 0;
        }
        return writeByte(b);
    }
    // Typed field values, for the request writers.
    [[nodiscard]] int writeI16(int16_t v) noexcept { return writeBigEndian(uint16_t(v), 2); }
    [[nodiscard]] int writeI32(int32_t v) noexcept { return writeBigEndian(uint32_t(v), 4); }
    [[nodiscard]] int writeI64(int64_t v) noexcept { return writeBigEndian(uint64_t(v), 8); }

    HiveConnection* connection;
    BaseSocket* socket;
    uint8_t* window;
    uint32_t windowSize;
    KaTmpFileSink sink;
    KaTmpFileSource source;
    uint32_t length;
    int32_t framing;
    // The connection's TransportMode is HTTP: the body goes without a frame
    // length (kept here so that the buffer needs nothing of the options).
    int32_t httpTransport;
    // A socket write failed part-way through a request on the binary
    // transport: the server holds a broken frame and the wire is out of
    // step until the connection is made again.
    int32_t writeFailed = 0;
    // A socket write of the request; a failure latches writeFailed.
    [[nodiscard]] int writeSocket(const void* bytes, size_t n) noexcept;

private:
    [[nodiscard]] int takeWindow() noexcept;
    [[nodiscard]] int sendSource() noexcept;
};
