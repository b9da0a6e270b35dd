// The TCLIService calls of a statement (HiveCommunicator, and its binary
// HiveServer2 form HiveCommunicatorHS2): every request composed into the
// connection's write buffer, every reply read off its read buffer as far as
// the driver needs it, and the statement's operation handle. The statement
// layer (execution, fetch, catalog functions) drives it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaowner.h"

class HiveConnection;
class HiveStatement;
class HiveNetReadBuffer;
class DataReader;
struct HiveColumnStorage;
struct HiveFetchState;
struct HiveNetWriteBuffer;
struct HiveStructShape;

// The required fields of a GetOperationStatus response.
extern const HiveStructShape kHiveOperationStatusResp;

// Bytes of a stored operation identifier (guid and secret fields).
constexpr size_t kHiveOperationHandleBytes = 46;
// Operations whose close waits for the wire, kept by the connection.
struct HiveCloseQueue {
    struct Entry {
        uint8_t handle[kHiveOperationHandleBytes];
        int32_t type;
    };
    Entry* entries = nullptr;
    size_t count = 0;
    size_t capacity = 0;
};
// Bytes of the prepared column-wise FetchResults message, frame length included.
constexpr size_t kHiveFetchMessageBytes = 116;
// Longest column name a metadata reply gives, without its NUL.
constexpr size_t kHiveColumnNameMax = 385;
// Longest method name read from a reply header.
constexpr size_t kHiveMethodNameSize = 128;

// Operation states of GetOperationStatus (TOperationState).
enum : int32_t {
    HIVE_OP_INITIALIZED = 0,
    HIVE_OP_RUNNING = 1,
    HIVE_OP_FINISHED = 2,
    HIVE_OP_CANCELED = 3,
    HIVE_OP_CLOSED = 4,
    HIVE_OP_ERROR = 5,
    HIVE_OP_UNKNOWN = 6,
    HIVE_OP_PENDING = 7,
    HIVE_OP_TIMED_OUT = 8,
};
// Bytes of an SQLSTATE; the buffer holds one more, so that a longer text
// from the server shows as one.
constexpr size_t kHiveSqlstateBytes = 5;
// Longest operation error message kept; the rest is passed over.
constexpr size_t kHiveOperationMessageMax = 4096;

// What GetOperationStatus told of an operation. An operation that is not
// there (no handle) is FINISHED.
struct HiveOperationStatus {
    // The reply's TStatus code (HIVE_STATUS_*).
    int32_t status = 0;
    int32_t state = HIVE_OP_FINISHED;
    int32_t errorCode = 0;
    char sqlstate[kHiveSqlstateBytes + 2] = "";
    size_t sqlstateLength = 0;
    // The operation's error message, NUL-terminated; empty when the reply
    // had none.
    RamPtr<char> message;
    size_t messageLength = 0;
    // The operation has not ended yet.
    bool running() const noexcept
    {
        return state == HIVE_OP_RUNNING || state == HIVE_OP_PENDING || state == HIVE_OP_INITIALIZED;
    }
};

// Driver type codes of the server's type ids.
enum : uint8_t {
    HIVE_TYPE_UNKNOWN = 0,
    HIVE_TYPE_BOOLEAN = 1,
    HIVE_TYPE_TINYINT = 2,
    HIVE_TYPE_SMALLINT = 3,
    HIVE_TYPE_INT = 4,
    HIVE_TYPE_BIGINT = 5,
    HIVE_TYPE_FLOAT = 6,
    HIVE_TYPE_DOUBLE = 7,
    HIVE_TYPE_STRING = 8,
    HIVE_TYPE_DATE = 9,
    // The type rows answer codes 10, 12 and 20 as well, which no server
    // type id gives: a datetime, an array (also 16) and an unknown type.
    HIVE_TYPE_DATETIME = 10,
    HIVE_TYPE_TIMESTAMP = 11,
    HIVE_TYPE_ARRAY_ALT = 12,
    HIVE_TYPE_MAP = 13,
    HIVE_TYPE_STRUCT = 14,
    HIVE_TYPE_BINARY = 15,
    HIVE_TYPE_ARRAY = 16,
    HIVE_TYPE_UNION = 17,
    HIVE_TYPE_USER_DEFINED = 18,
    HIVE_TYPE_DECIMAL = 19,
    HIVE_TYPE_UNKNOWN_LATE = 20,
    HIVE_TYPE_NULL = 21,
    HIVE_TYPE_VARCHAR = 22,
    HIVE_TYPE_CHAR = 23,
};

// The server's type ids of its interval types, which the driver reads as
// text (HIVE_TYPE_STRING) and converts as intervals.
constexpr int32_t kHiveTypeIdIntervalYearMonth = 20;
constexpr int32_t kHiveTypeIdIntervalDayTime = 21;
// A timestamp with local time zone, whose text carries its zone
// ("2024-02-29 12:34:56.5 UTC"): read and described as text.
constexpr int32_t kHiveTypeIdTimestampLocalTz = 22;

// Where the columns of a metadata reply go: the statement binds them to its
// result descriptor. count comes first; then each column, numbered from 1,
// with its qualifiers (-1 when absent). Non-zero fails the reading.
class HiveColumnSink {
public:
    virtual ~HiveColumnSink() = default;
    [[nodiscard]] virtual int columnCount(uint32_t count) noexcept = 0;
    [[nodiscard]] virtual int column(uint32_t number, const char* name, size_t nameLength, uint8_t typeCode,
                                     int32_t first, int32_t second) noexcept = 0;
};

// Reads a reply's message header and the result struct up to its response
// (field 0); an EXCEPTION reply is posted as a server error. 0 positioned
// at the response's first field header, or 1.
[[nodiscard]] int hiveReadReplyBegin(HiveConnection* connection, const char* method) noexcept;
// Reads the fields of the struct being read up to its STOP, and then the
// result struct's rest: the reply is consumed exactly, and its frame with it.
[[nodiscard]] int hiveReadReplyEnd(HiveNetReadBuffer& in) noexcept;
// The message header of a call and the argument struct's field header.
[[nodiscard]] int hiveWriteCallBegin(HiveNetWriteBuffer& out, const char* method, int32_t sequenceId) noexcept;
// UTF-16 text as a Thrift string of UTF-8 (a lone surrogate becomes U+FFFD).
[[nodiscard]] int hiveWriteUtf16(HiveNetWriteBuffer& out, const uint16_t* text, size_t units) noexcept;

class HiveCommunicator {
public:
    virtual uint8_t typeCodeOfTypeId(int32_t typeId) noexcept = 0;
    virtual int resetBlockState() noexcept = 0;
    virtual int releaseBlockState() noexcept = 0;
    [[nodiscard]] virtual int executeStatement(const uint16_t* text, size_t units, int32_t runAsync) noexcept = 0;
    [[nodiscard]] virtual int readExecuteStatementReply(int32_t* status, int32_t* hasResultSet,
                                                        double* modifiedRowCount) noexcept = 0;
    [[nodiscard]] virtual int getResultSetMetadata(int64_t arrayFetchSize, int64_t maxRowsInFetch,
                                                   HiveColumnSink* sink) noexcept = 0;
    // Asks the server to stop the current operation and reads its answer;
    // 0, or 1 after the diagnostic.
    [[nodiscard]] virtual int cancelOperation() noexcept = 0;
    virtual int noOp7() noexcept = 0;
    [[nodiscard]] virtual int requestNextBatch(int32_t resultStyle) noexcept = 0;
    [[nodiscard]] virtual int readFetchResultsReply(uint32_t* rows, int32_t* moreRows) noexcept = 0;
    [[nodiscard]] virtual int nextRow() noexcept = 0;
    [[nodiscard]] virtual int skipByte() noexcept = 0;
    [[nodiscard]] virtual int endReply() noexcept = 0;
    [[nodiscard]] virtual int closeCurrentOperation() noexcept = 0;
    virtual ~HiveCommunicator() = default;
};

class HiveCommunicatorHS2 : public HiveCommunicator {
public:
    HiveCommunicatorHS2(HiveStatement* statement, HiveConnection* connection) noexcept;
    ~HiveCommunicatorHS2() override;

    uint8_t typeCodeOfTypeId(int32_t typeId) noexcept override;
    int resetBlockState() noexcept override;
    int releaseBlockState() noexcept override;
    [[nodiscard]] int executeStatement(const uint16_t* text, size_t units, int32_t runAsync) noexcept override;
    [[nodiscard]] int readExecuteStatementReply(int32_t* status, int32_t* hasResultSet,
                                                double* modifiedRowCount) noexcept override;
    [[nodiscard]] int getResultSetMetadata(int64_t arrayFetchSize, int64_t maxRowsInFetch,
                                           HiveColumnSink* sink) noexcept override;
    [[nodiscard]] int cancelOperation() noexcept override;
    int noOp7() noexcept override;
    [[nodiscard]] int requestNextBatch(int32_t resultStyle) noexcept override;
    [[nodiscard]] int readFetchResultsReply(uint32_t* rows, int32_t* moreRows) noexcept override;
    [[nodiscard]] int nextRow() noexcept override;
    [[nodiscard]] int skipByte() noexcept override;
    [[nodiscard]] int endReply() noexcept override;
    [[nodiscard]] int closeCurrentOperation() noexcept override;

    [[nodiscard]] int closeOperation() noexcept;
    // While another statement's reply is on the wire nothing may be sent:
    // the operation goes into the connection's queue of operations to
    // close, and the handle is forgotten here. 0, or 1 when memory ran out.
    [[nodiscard]] int queueClose() noexcept;
    // Sends CloseOperation for every queued operation; the wire must be
    // free. A refusal or a broken wire stops it quietly: the session's end
    // closes what is left, and a broken wire fails the next request anyway.
    void sendQueuedCloses() noexcept;
    // Asks GetOperationStatus of the current operation and reads the whole
    // reply into *out. 0, or 1 when the call or its reply failed (after the
    // diagnostic); a server's error status is out->status, not a failure.
    [[nodiscard]] int getOperationStatus(HiveOperationStatus* out) noexcept;
    // kind: the Thrift type of the value; a string is NUL-terminated.
    [[nodiscard]] int getInfo(int32_t infoType, void* buffer, size_t size, uint8_t* kind, size_t* length) noexcept;
    // Table types in order: tables, views, system tables, global temporary,
    // local temporary, alias, synonym.
    [[nodiscard]] int getTables(const uint16_t* schema, size_t schemaUnits, const uint16_t* table, size_t tableUnits,
                                const int32_t tableTypes[7]) noexcept;
    [[nodiscard]] int getColumns(const uint16_t* schema, size_t schemaUnits, const uint16_t* table, size_t tableUnits,
                                 const uint16_t* column, size_t columnUnits) noexcept;
    [[nodiscard]] int getSchemas(const uint16_t* schema, size_t schemaUnits) noexcept;
    [[nodiscard]] int getTypeInfo() noexcept;
    // The column-wise FetchResults message, patched with the handle and
    // rows per fetch, sent straight through the socket.
    [[nodiscard]] int sendFetchMessage(int32_t httpTransport) noexcept;
    void copyOperationHandle(uint8_t* out) const noexcept;
    bool hasOperation() const noexcept { return operationHandle[0] != 0; }

    HiveStatement* statement;
    uint8_t operationHandle[kHiveOperationHandleBytes];
    uint8_t fetchMessage[kHiveFetchMessageBytes];
    int32_t handleChanged;
    int32_t operationType;
    int32_t blockColumnCount;
    // Added: the connection whose wire the calls use (the statement layer
    // that would lead to it is not needed for the calls themselves).
    HiveConnection* connection;
    // Added: rows asked for in one FetchResults; the metadata reply sets it.
    int64_t rowsPerFetch;
    // Added: -1 before the prepared message exists, 1 when it must be
    // patched, 0 when it is current (the statement's column-wise fetch state).
    int32_t fetchMessageState;
    // Added: the method of the request whose reply readExecuteStatementReply
    // reads (ExecuteStatement or a catalog call with the same reply shape).
    const char* pendingMethod;
    // Added: the element type and count of the first column's value list in
    // a column-wise block, which the reply reader reads to learn the rows;
    // copied into the fetch state the statement shares with its readers.
    uint8_t firstElementType = 0;
    int32_t firstCount = 0;
    HiveFetchState* fetchState = nullptr;
    // Added: the server's type id of the column being described, for the
    // sink that binds it (the type code alone does not tell an interval
    // from a string).
    int32_t columnTypeId = -1;
    // Columns the last metadata reply described, which every block of the
    // result must hold; -1 before one was read.
    int32_t describedColumns = -1;
    // The data reader of a result column for the connection's result style
    // (the statement binds it): 0, or 1 after the diagnostic.
    [[nodiscard]] int makeReader(HiveColumnStorage* column, int32_t resultStyle, DataReader** out) noexcept;

private:
    [[nodiscard]] int writeOperationHandle(int16_t fieldId, int32_t hasResultSet) noexcept;
    [[nodiscard]] int sendAndReadNothing() noexcept;
    // A call whose argument is the operation handle and whose reply is a
    // status (CancelOperation, CloseOperation); spendsHandle forgets the
    // handle once the reply was read.
    [[nodiscard]] int operationHandleCall(const char* method, bool spendsHandle) noexcept;
    [[nodiscard]] int readColumnDesc(uint32_t number, HiveColumnSink* sink) noexcept;
    [[nodiscard]] int readTypeDesc(uint8_t* typeCode, int32_t* first, int32_t* second) noexcept;
    // Qualifiers named precision, scale and characterMaximumLength (-1
    // when absent) within what the column's type allows; 0, or 1 after
    // the diagnostic.
    // A block's column count against the described one; 0, or 1 after the
    // diagnostic.
    [[nodiscard]] int checkBlockColumns(int32_t columns) noexcept;
    [[nodiscard]] int checkQualifiers(int32_t typeId, int32_t precision, int32_t scale, int32_t length) noexcept;
};
