// The read half of the Thrift binary protocol on a Hive connection: the
// wire buffer (HiveNetReadBuffer) reads the connection socket and removes
// the frame lengths; the spool buffers (HiveNetReadFileBuffer and its
// HiveServer2 form) serve the same readers from a temporary file. The reply
// readers of the HiveServer2 calls and the data readers use them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"
#include "hive/hivenetwrite.h"

class BaseSocket;
class DataReader;
class HiveCommunicator;
class HiveConnection;
struct HiveFetchState;
class KaTmpFileSink;
class KaTmpFileSource;
class HiveStatement;
class KaDataSink;
class KaDataSource;

// Buffer size and socket read size a wire buffer starts with.
constexpr uint32_t kHiveReadChunkDefault = 5120;
// Longest frame the driver accepts: a frame length is a positive i32.
constexpr uint32_t kHiveMaxFrameLength = 0x7FFFFFFFu - 4;
// Result styles of a connection.
enum : int32_t {
    HIVE_RESULT_ROW_WISE = 2,
    HIVE_RESULT_COLUMN_WISE = 3,
};

// What a field walker's callback returns to have a field skipped.
constexpr int kHiveFieldSkip = -1;
// What it returns when it stopped inside the field and leaves the reader
// there for others to go on (the data readers in a FetchResults reply): the
// walk ends at once with this value, and the walks around it with it.
constexpr int kHiveFieldLeave = -2;

// A field the protocol requires of a struct: a reply whose struct lacks it,
// or holds it with another type (which a reader skips as unknown), cannot
// be read as the server meant it.
struct HiveRequiredField {
    int16_t id;
    uint8_t type;
    const char* name;
};
// The name of a struct and its required fields (ids below 32).
struct HiveStructShape {
    const char* name;
    const HiveRequiredField* fields;
    uint8_t count;
};
// The struct a TColumn union field holds (TI32Column and the like) by the
// union's field id, or by the element type of its values; "TColumn" when
// neither tells.
const char* hiveColumnStructOfField(int16_t unionId) noexcept;
const char* hiveColumnStructOfElement(uint8_t elementType) noexcept;
// Posts that a column of a column-wise block lacks its field ("values" or
// "nulls") in the struct named. Always 1.
int hiveMissingColumnField(const char* structName, const char* field) noexcept;
// Bit of a field id in the set of fields seen.
constexpr uint32_t hiveFieldBit(int16_t id) noexcept
{
    return id >= 0 && id < 32 ? 1u << id : 0;
}
// Posts that a reply breaks the protocol in a way that leaves its meaning
// unknown (detail says how), as a link failure. Always 1.
int hiveReplyFault(const char* detail) noexcept;
// Posts that the reply's struct lacks the field: a protocol fault, which
// leaves the reply unreadable. Always 1.
int hiveMissingField(const HiveStructShape& shape, const HiveRequiredField& field) noexcept;
// The required fields of shape with ids below beforeId missing from seen
// (every one when beforeId is 0): 0 when none is, else 1 after posting the
// first one missing.
int hiveCheckRequired(const HiveStructShape& shape, uint32_t seen, int16_t beforeId = 0) noexcept;
// seen with the field's bit added when it is one of shape's required fields
// with the type the protocol gives it.
uint32_t hiveMarkRequired(const HiveStructShape& shape, uint32_t seen, uint8_t type, int16_t id) noexcept;

class HiveNetReadBuffer : public KaObject {
public:
    HiveNetReadBuffer() noexcept;
    ~HiveNetReadBuffer() override;
    HiveNetReadBuffer(const HiveNetReadBuffer&) = delete;
    HiveNetReadBuffer& operator=(const HiveNetReadBuffer&) = delete;

    // Brings more bytes of the current message into the buffer.
    [[nodiscard]] virtual int fill() noexcept;

    [[nodiscard]] int attach(HiveConnection* conn, BaseSocket* sock) noexcept;
    [[nodiscard]] int setCapacity(uint32_t n) noexcept;
    void resetFrame() noexcept;
    [[nodiscard]] int readByte(uint8_t* out) noexcept;
    [[nodiscard]] int readBytes(void* destination, size_t n) noexcept;
    [[nodiscard]] int readBigEndian(void* destination, uint32_t n) noexcept;
    [[nodiscard]] int skipBytes(uint64_t n) noexcept;
    [[nodiscard]] int readString(void* destination, size_t maximum, size_t* length, int32_t leaveRest) noexcept;
    [[nodiscard]] int readStringZ(char* destination, size_t size, size_t* length, int32_t leaveRest) noexcept;
    [[nodiscard]] int readMessageBegin(char* name, size_t nameSize, size_t* nameLength, int32_t* messageType) noexcept;
    [[nodiscard]] int readFieldBegin(uint8_t* type, int16_t* id) noexcept;
    [[nodiscard]] int skip(uint8_t type) noexcept;
    // Walks the fields of the struct being read up to its STOP: onField(type,
    // id) reads a field it knows and returns 0, or 1 on failure, or
    // kHiveFieldSkip to have the field skipped. 0 once the STOP is read.
    template <class OnField>
    [[nodiscard]] int readFields(OnField onField) noexcept
    {
        for (;;) {
            uint8_t type = 0;
            int16_t id = 0;
            if (readFieldBegin(&type, &id))
                return 1;
            if (type == HIVE_T_STOP)
                return 0;
            int rc = onField(type, id);
            if (rc == kHiveFieldSkip)
                rc = skip(type);
            if (rc == kHiveFieldLeave)
                return kHiveFieldLeave;
            if (rc != 0)
                return 1;
        }
    }
    // The same, then every required field of shape must have come with its
    // type; a missing one is posted by its struct and field name. A walk
    // left inside a field requires those with lower ids only.
    template <class OnField>
    [[nodiscard]] int readFields(const HiveStructShape& shape, OnField onField) noexcept
    {
        uint32_t seen = 0;
        int16_t leftAt = 0;
        const int rc = readFields([&](uint8_t type, int16_t id) noexcept {
            seen = hiveMarkRequired(shape, seen, type, id);
            const int r = onField(type, id);
            if (r == kHiveFieldLeave)
                leftAt = id;
            return r;
        });
        if (rc == kHiveFieldLeave)
            return hiveCheckRequired(shape, seen, leftAt) ? 1 : kHiveFieldLeave;
        if (rc != 0)
            return 1;
        return hiveCheckRequired(shape, seen);
    }
    [[nodiscard]] int readExceptionFields(char* message, size_t messageSize, size_t* messageLength, char* second,
                                          size_t secondSize, size_t* secondLength, int32_t* exceptionType) noexcept;
    // Discards what is left of the current reply on the socket: the rest of
    // the frame, counted by its length, or over HTTP the rest of the response.
    [[nodiscard]] int drainPending(HiveStatement* statement) noexcept;
    // Called where a reply's message ends: a reply fills its frame (over
    // HTTP, the body received) exactly, so bytes left after the message
    // mean it was not read as the server wrote it. 0, or 1 after the
    // diagnostic, with the connection refused from then on.
    [[nodiscard]] int endMessage() noexcept;
    // Sets *more when the current reply goes on past what the buffer holds:
    // the frame length counts more bytes, or over HTTP the response body
    // has not ended (waiting for it to tell). 0, or 1 after the diagnostic.
    [[nodiscard]] int replyContinues(int32_t* more) noexcept;

    // Typed readers for the reply readers.
    [[nodiscard]] int readI16(int16_t* v) noexcept { return readBigEndian(v, 2); }
    [[nodiscard]] int readI32(int32_t* v) noexcept { return readBigEndian(v, 4); }
    [[nodiscard]] int readI64(int64_t* v) noexcept { return readBigEndian(v, 8); }
    [[nodiscard]] int readBool(int32_t* v) noexcept
    {
        uint8_t b = 0;
        if (readByte(&b))
            return 1;
        *v = b != 0;
        return 0;
    }

    // Once a read failed part-way through a reply the wire is out of step
    // for good: every later read is refused with failedReason, the message
    // saying why the connection must be reconnected.
    int32_t failed = 0;
    uint16_t failedReason = 0;
    // Posts failedReason as a link failure; always 1.
    [[nodiscard]] int refuseAfterFailure() noexcept;
    uint8_t* data = nullptr;
    BaseSocket* socket = nullptr;
    uint32_t readPos = 0;
    uint32_t chunkSize = kHiveReadChunkDefault;
    uint32_t capacity = 0;
    uint32_t allocated = 0;
    uint32_t size = 0;
    uint32_t frameEnd = 0;
    uint32_t frameBytes = 0;
    uint32_t frameRemaining = 0;
    int32_t negotiated = 1;
    int32_t framed = 0;
    HiveConnection* connection = nullptr;
    int32_t resultStyle = 0;
    // The connection's TransportMode is HTTP: no frame lengths on the wire
    // (kept here so that the buffer needs nothing of the options).
    int32_t httpTransport = 0;
    // The buffer holds a whole reply that was read off the wire earlier:
    // the next message begins in the buffer, not on the socket.
    int32_t preloaded = 0;
    // The rest of the current frame comes from this spill file of a parked
    // reply instead of the socket until it is read through; then the file
    // is emptied and the socket serves again. Owned by the statement.
    KaTmpFileSource* parkSource = nullptr;

protected:
    void updateFrame() noexcept;
    [[nodiscard]] int readChunk(uint32_t start, uint32_t minimum) noexcept;
    // readChunk's bytes from parkSource.
    [[nodiscard]] int readParked(uint32_t start) noexcept;
    // Nesting of skipped structs and containers the reader follows; deeper
    // ones are refused, so a hostile reply cannot exhaust the stack.
    [[nodiscard]] int skipAt(uint8_t type, int32_t depth) noexcept;
    [[nodiscard]] int frameError(uint16_t reason) noexcept;
    void latchFailure(uint16_t reason) noexcept;
};

// Longest nesting of containers and structs the reader skips.
constexpr int32_t kHiveMaxSkipDepth = 64;

// A read buffer over a temporary file instead of the socket.
class HiveNetReadFileBuffer : public HiveNetReadBuffer {
public:
    HiveNetReadFileBuffer() noexcept;
    ~HiveNetReadFileBuffer() override;
    [[nodiscard]] int fill() noexcept override;
    [[nodiscard]] virtual int spoolToTempFile(HiveStatement* statement) noexcept = 0;
    [[nodiscard]] int appendToSpool(const void* bytes, size_t n) noexcept;

    KaDataSink* spoolSink = nullptr;
    KaDataSource* spoolSource = nullptr;
};

// What spooling needs of a statement's row-wise fetch. On entry the fetch
// state reads the wire buffer, positioned after the last value the
// statement read of its current row (before the row's STOP).
struct HiveSpoolRequest {
    HiveFetchState* state = nullptr;
    HiveCommunicator* communicator = nullptr;
    // The wire readers of the columns, in column order.
    DataReader* const* readers = nullptr;
    // The columns' cache twins: those still null are made (and then owned
    // by the caller, as the wire readers are).
    DataReader** cacheReaders = nullptr;
    uint16_t columnCount = 0;
    // Columns of the current row already read (only counts without the
    // long-data cache, when a row is read forward as the application asks).
    uint16_t columnPosition = 0;
    // Rows of the block after the current one.
    uint32_t rowsAfterCurrent = 0;
};

class HiveNetReadFileBufferHS2 : public HiveNetReadFileBuffer {
public:
    HiveNetReadFileBufferHS2() noexcept;
    ~HiveNetReadFileBufferHS2() override;
    // Needs the statement's row-wise fetch state; the statement calls
    // spoolRows with it instead. Refused with a diagnostic.
    [[nodiscard]] int spoolToTempFile(HiveStatement* statement) noexcept override;
    // Moves the rest of the statement's row-wise block off the wire into a
    // temporary file: the unread values of the current row, then every
    // value of the rows after it, as cache records; the reply's row framing
    // and its end are consumed. Afterwards the fetch state reads this
    // buffer, the columns are to be read through their cache twins (one
    // readValue per column per row, without row framing), and the wire is
    // free. 0, or 1 after the diagnostic (the caller then resets the spool).
    [[nodiscard]] int spoolRows(const HiveSpoolRequest& request) noexcept;
    // Forgets the spooled rows; the file and its buffer stay for next time.
    void resetSpool() noexcept;

private:
    // The sink and source of the spool, kept for the statement's life.
    KaTmpFileSink* ownSink = nullptr;
    KaTmpFileSource* ownSource = nullptr;
};
