// The TCLIService calls: requests composed field by field, replies read by
// field id (unknown fields skipped exactly, so newer servers' additions pass),
// session and operation handles kept in their canonical bytes.
#include "hive/hivecommunicator.h"

#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "hive/hivereader.h"
#include "hive/hivethrift.h"
#include "kamessages.h"
#include "transport/basesocket.h"

namespace {

constexpr size_t kGuidBytes = 16;
// Where the prepared FetchResults message holds what changes between
// operations, and where a stored operation identifier holds its guid and
// secret (after their field and length headers).
constexpr size_t kFetchGuidAt = 44;
constexpr size_t kFetchSecretAt = 67;
constexpr size_t kFetchOperationTypeAt = 87;
constexpr size_t kFetchMaxRowsAt = 106;
constexpr size_t kStoredGuidAt = 7;
constexpr size_t kStoredSecretAt = 30;
// Longest qualifier key kept while reading a type description.
constexpr size_t kQualifierKeySize = 100;

// The required fields of the replies' structs, as TCLIService gives them.
constexpr HiveRequiredField kStatusOnly[] = {{kTRespStatus, HIVE_T_STRUCT, "status"}};
constexpr HiveRequiredField kOpenSessionFields[] = {
    {kTRespStatus, HIVE_T_STRUCT, "status"},
    {kTOpenSessionRespServerProtocolVersion, HIVE_T_I32, "serverProtocolVersion"}};
constexpr HiveStructShape kOpenSessionResp{"TOpenSessionResp", kOpenSessionFields, 2};
constexpr HiveRequiredField kSessionHandleFields[] = {{kTSessionHandleSessionId, HIVE_T_STRUCT, "sessionId"}};
constexpr HiveStructShape kSessionHandle{"TSessionHandle", kSessionHandleFields, 1};
constexpr HiveStructShape kCloseSessionResp{"TCloseSessionResp", kStatusOnly, 1};
constexpr HiveRequiredField kOperationHandleFields[] = {{kTOperationHandleOperationId, HIVE_T_STRUCT, "operationId"},
                                                        {kTOperationHandleOperationType, HIVE_T_I32, "operationType"},
                                                        {kTOperationHandleHasResultSet, HIVE_T_BOOL, "hasResultSet"}};
constexpr HiveStructShape kOperationHandle{"TOperationHandle", kOperationHandleFields, 3};
constexpr HiveStructShape kMetadataResp{"TGetResultSetMetadataResp", kStatusOnly, 1};
constexpr HiveRequiredField kTableSchemaFields[] = {{kTTableSchemaColumns, HIVE_T_LIST, "columns"}};
constexpr HiveStructShape kTableSchema{"TTableSchema", kTableSchemaFields, 1};
constexpr HiveRequiredField kColumnDescFields[] = {{kTColumnDescColumnName, HIVE_T_STRING, "columnName"},
                                                   {kTColumnDescTypeDesc, HIVE_T_STRUCT, "typeDesc"},
                                                   {kTColumnDescPosition, HIVE_T_I32, "position"}};
constexpr HiveStructShape kColumnDesc{"TColumnDesc", kColumnDescFields, 3};
constexpr HiveRequiredField kTypeDescFields[] = {{kTTypeDescTypes, HIVE_T_LIST, "types"}};
constexpr HiveStructShape kTypeDesc{"TTypeDesc", kTypeDescFields, 1};
constexpr HiveRequiredField kPrimitiveEntryFields[] = {{kTPrimitiveTypeEntryType, HIVE_T_I32, "type"}};
constexpr HiveStructShape kPrimitiveEntry{"TPrimitiveTypeEntry", kPrimitiveEntryFields, 1};
constexpr HiveRequiredField kQualifiersFields[] = {{kTTypeQualifiersQualifiers, HIVE_T_MAP, "qualifiers"}};
constexpr HiveStructShape kQualifiers{"TTypeQualifiers", kQualifiersFields, 1};
constexpr HiveStructShape kFetchResultsResp{"TFetchResultsResp", kStatusOnly, 1};
constexpr HiveRequiredField kRowSetFields[] = {{kTRowSetStartRowOffset, HIVE_T_I64, "startRowOffset"},
                                               {kTRowSetRows, HIVE_T_LIST, "rows"}};
constexpr HiveStructShape kRowSet{"TRowSet", kRowSetFields, 2};
constexpr HiveRequiredField kGetInfoFields[] = {{kTRespStatus, HIVE_T_STRUCT, "status"},
                                                {kTGetInfoRespInfoValue, HIVE_T_STRUCT, "infoValue"}};
constexpr HiveStructShape kGetInfoResp{"TGetInfoResp", kGetInfoFields, 2};

// The response of a call that requires only its status, under the call's
// own name (TCloseOperationResp and the like).
struct StatusResponse {
    explicit StatusResponse(const char* method) noexcept { snprintf(name, sizeof name, "T%sResp", method); }
    HiveStructShape shape() const noexcept { return {name, kStatusOnly, 1}; }
    char name[kHiveMethodNameSize + 8];
};

// The last type id of the protocol's enumeration (a timestamp with local
// time zone); anything outside 0 to it is no type the server can mean.
constexpr int32_t kLastTypeId = kHiveTypeIdTimestampLocalTz;
// Bounds of the qualifiers a column type may carry.
constexpr int32_t kMaxDecimalPrecision = 38;
constexpr int32_t kMaxCharacterLength = 65535;

int protocolError(const char* detail) noexcept
{
    errPost(MSG_THRIFT_PROTOCOL_ERROR)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)->addParamText(detail);
    return 1;
}

// The header of a list whose elements must be structs: 0 with *count, or
// with *wrong set after posting wrongType and skipping the elements (the
// reply stays readable); 1 on a read failure or a negative count.
int readStructListHeader(HiveNetReadBuffer& in, int32_t* count, const char* negative, const char* wrongType,
                         bool* wrong) noexcept
{
    uint8_t elem = 0;
    *wrong = false;
    if (in.readByte(&elem) || in.readI32(count))
        return 1;
    if (*count < 0)
        return protocolError(negative);
    if (elem == HIVE_T_STRUCT)
        return 0;
    protocolError(wrongType);
    for (int32_t i = 0; i < *count; ++i) {
        if (in.skip(elem))
            return 1;
    }
    *wrong = true;
    return 0;
}

// Passes the rest of the struct being read, up to and with its STOP.
int skipRest(HiveNetReadBuffer& in) noexcept
{
    for (;;) {
        uint8_t type = 0;
        int16_t id = 0;
        if (in.readFieldBegin(&type, &id))
            return 1;
        if (type == HIVE_T_STOP)
            return 0;
        if (in.skip(type))
            return 1;
    }
}

// The result struct's rest after its response, where the reply's message
// ends.
int replyTail(HiveNetReadBuffer& in) noexcept
{
    return skipRest(in) || in.endMessage();
}

// A THandleIdentifier: its guid and secret, 16 bytes each.
int readHandleIdentifier(HiveNetReadBuffer& in, uint8_t* guid, uint8_t* secret) noexcept
{
    int found = 0;
    for (;;) {
        uint8_t type = 0;
        int16_t id = 0;
        if (in.readFieldBegin(&type, &id))
            return 1;
        if (type == HIVE_T_STOP)
            break;
        if ((id == kTHandleIdentifierGuid || id == kTHandleIdentifierSecret) && type == HIVE_T_STRING) {
            int32_t n = 0;
            if (in.readI32(&n))
                return 1;
            if (n != int32_t(kGuidBytes))
                return protocolError("handle identifier of another length");
            if (in.readBytes(id == kTHandleIdentifierGuid ? guid : secret, kGuidBytes))
                return 1;
            found |= id;
        } else if (in.skip(type)) {
            return 1;
        }
    }
    return found == 3 ? 0 : protocolError("incomplete handle identifier");
}

// The stored form of an identifier: both string fields with their headers.
void storeIdentifier(uint8_t* out, const uint8_t* guid, const uint8_t* secret) noexcept
{
    const uint8_t head1[7] = {HIVE_T_STRING, 0, kTHandleIdentifierGuid, 0, 0, 0, kGuidBytes};
    const uint8_t head2[7] = {HIVE_T_STRING, 0, kTHandleIdentifierSecret, 0, 0, 0, kGuidBytes};
    memcpy(out, head1, 7);
    memcpy(out + kStoredGuidAt, guid, kGuidBytes);
    memcpy(out + kStoredGuidAt + kGuidBytes, head2, 7);
    memcpy(out + kStoredSecretAt, secret, kGuidBytes);
}

size_t utf8Length(const uint16_t* text, size_t units) noexcept
{
    size_t n = 0;
    for (size_t i = 0; i < units; ++i) {
        uint16_t c = text[i];
        if (c < 0x80) {
            n += 1;
        } else if (c < 0x800) {
            n += 2;
        } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            n += 4;
            ++i;
        } else {
            n += 3;
        }
    }
    return n;
}

// Column names come back lower-cased and without their table prefix.
size_t normaliseColumnName(char* name, size_t length) noexcept
{
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (name[i] >= 'A' && name[i] <= 'Z')
            name[i] = char(name[i] - 'A' + 'a');
        if (name[i] == '.')
            start = i + 1;
    }
    memmove(name, name + start, length - start);
    name[length - start] = 0;
    return length - start;
}

const uint8_t kFetchMessageTemplate[kHiveFetchMessageBytes] = {
    0x00, 0x00, 0x00, 0x70, 0x80, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0C, 'F',  'e',  't',  'c',  'h',
    'R',  'e',  's',  'u',  'l',  't',  's',  0x00, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x01, 0x0C, 0x00, 0x01,
    0x0C, 0x00, 0x01, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0x0B, 0x00, 0x02, 0x00, 0x00, 0x00, 0x10, 0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0x00, 0x08,
    0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x03, 0x01, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0x00,
    0x00, 0x0A, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x27, 0x10, 0x00, 0x00,
};

void putBigEndian(uint8_t* out, uint64_t value, int n) noexcept
{
    for (int i = n - 1; i >= 0; --i) {
        out[i] = uint8_t(value);
        value >>= 8;
    }
}

}  // namespace

const HiveStructShape kHiveOperationStatusResp{"TGetOperationStatusResp", kStatusOnly, 1};

int hiveWriteCallBegin(HiveNetWriteBuffer& out, const char* method, int32_t sequenceId) noexcept
{
    return out.writeMessageBegin(HIVE_MSG_CALL, method, strlen(method), sequenceId) ||
           out.writeStructFieldBegin(kTCallArgsReq);
}

int hiveWriteUtf16(HiveNetWriteBuffer& out, const uint16_t* text, size_t units) noexcept
{
    size_t n = utf8Length(text, units);
    if (n > kHiveMaxStringBytes)
        return out.refuseLongString(n);
    if (out.writeI32(int32_t(n)))
        return 1;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        int rc;
        if (c < 0x80)
            rc = out.put(uint8_t(c));
        else if (c < 0x800)
            rc = out.put(uint8_t(0xC0 | c >> 6)) || out.put(uint8_t(0x80 | (c & 0x3F)));
        else if (c < 0x10000)
            rc = out.put(uint8_t(0xE0 | c >> 12)) || out.put(uint8_t(0x80 | (c >> 6 & 0x3F))) ||
                 out.put(uint8_t(0x80 | (c & 0x3F)));
        else
            rc = out.put(uint8_t(0xF0 | c >> 18)) || out.put(uint8_t(0x80 | (c >> 12 & 0x3F))) ||
                 out.put(uint8_t(0x80 | (c >> 6 & 0x3F))) || out.put(uint8_t(0x80 | (c & 0x3F)));
        if (rc)
            return 1;
    }
    return 0;
}

int hiveReadReplyBegin(HiveConnection* connection, const char* method) noexcept
{
    HiveNetReadBuffer& in = connection->readBuffer;
    char name[kHiveMethodNameSize];
    size_t n = 0;
    int32_t type = 0;
    if (in.readMessageBegin(name, sizeof name, &n, &type))
        return 1;
    if (type == HIVE_MSG_EXCEPTION) {
        (void)connection->readServerException(&in);
        return 1;
    }
    // A reply to another call cannot be read as this one's.
    if (type != HIVE_MSG_REPLY || n != strlen(method) || memcmp(name, method, n) != 0)
        return protocolError("reply to another call");
    for (;;) {
        uint8_t t = 0;
        int16_t id = 0;
        if (in.readFieldBegin(&t, &id))
            return 1;
        if (t == HIVE_T_STOP)
            return protocolError("reply without a response");
        if (id == kTCallResultSuccess && t == HIVE_T_STRUCT)
            return 0;
        if (in.skip(t))
            return 1;
    }
}

int hiveReadReplyEnd(HiveNetReadBuffer& in) noexcept
{
    return skipRest(in) || replyTail(in);
}

// The connection's own calls.

int HiveConnection::writeSessionHandle(int16_t fieldId) noexcept
{
    return writeBuffer.writeStructFieldBegin(fieldId) ||
           writeBuffer.writeBytes(sessionHandle, kHiveSessionHandleBytes) || writeBuffer.writeFieldStop();
}

int HiveConnection::writeOpenSession(int32_t clientProtocol, const char* proxyUser, size_t proxyUserLength) noexcept
{
    static const char kProxyKey[] = "hive.server2.proxy.user";
    HiveNetWriteBuffer& w = writeBuffer;
    if (hiveWriteCallBegin(w, "OpenSession", 0) || w.writeFieldBegin(HIVE_T_I32, kTOpenSessionReqClientProtocol) ||
        w.writeI32(clientProtocol))
        return 1;
    if (proxyUser != nullptr && proxyUserLength > 0) {
        if (w.writeFieldBegin(HIVE_T_MAP, kTOpenSessionReqConfiguration) || w.put(HIVE_T_STRING) ||
            w.put(HIVE_T_STRING) || w.writeI32(1) || w.writeString(kProxyKey, sizeof kProxyKey - 1) ||
            w.writeString(proxyUser, proxyUserLength))
            return 1;
    }
    return w.writeFieldStop() || w.writeFieldStop() || w.flush();
}

int HiveConnection::readOpenSessionReply(int32_t* serverProtocol) noexcept
{
    HiveNetReadBuffer& in = readBuffer;
    *serverProtocol = 0;
    if (hiveReadReplyBegin(this, "OpenSession"))
        return 1;
    int32_t status = HIVE_STATUS_SUCCESS;
    int haveHandle = 0;
    uint8_t guid[kGuidBytes];
    uint8_t secret[kGuidBytes];
    // Fields are taken by their ids, in whatever order they come.
    if (in.readFields(kOpenSessionResp, [&](uint8_t type, int16_t id) noexcept {
            if (id == kTRespStatus && type == HIVE_T_STRUCT)
                return readStatus(&status);
            if (id == kTOpenSessionRespServerProtocolVersion && type == HIVE_T_I32)
                return in.readI32(serverProtocol);
            if (id == kTOpenSessionRespSessionHandle && type == HIVE_T_STRUCT)
                return in.readFields(kSessionHandle, [&](uint8_t t, int16_t fid) noexcept {
                    if (fid != kTSessionHandleSessionId || t != HIVE_T_STRUCT)
                        return kHiveFieldSkip;
                    if (readHandleIdentifier(in, guid, secret) != 0)
                        return 1;
                    haveHandle = 1;
                    return 0;
                });
            if (id == kTOpenSessionRespConfiguration && type == HIVE_T_MAP)
                return kHiveFieldSkip;
            if (id >= 1 && id <= 4)
                return protocolError("Protocol error.");
            return kHiveFieldSkip;
        }))
        return 1;
    if (replyTail(in))
        return 1;
    if (status == HIVE_STATUS_ERROR || status == HIVE_STATUS_INVALID_HANDLE)
        return 1;
    if (!haveHandle)
        return protocolError("OpenSession reply without a session handle");
    sessionHandle[0] = HIVE_T_STRUCT;
    sessionHandle[1] = 0;
    sessionHandle[2] = kTSessionHandleSessionId;
    storeIdentifier(sessionHandle + 3, guid, secret);
    sessionHandle[kHiveSessionHandleBytes - 1] = HIVE_T_STOP;
    sessionOpen = 1;
    return 0;
}

int HiveConnection::writeCloseSession() noexcept
{
    HiveNetWriteBuffer& w = writeBuffer;
    return hiveWriteCallBegin(w, "CloseSession", 1) || writeSessionHandle(kTCloseSessionReqSessionHandle) ||
           w.writeFieldStop() || w.writeFieldStop() || w.flush();
}

int HiveConnection::readCloseSessionReply() noexcept
{
    HiveNetReadBuffer& in = readBuffer;
    if (hiveReadReplyBegin(this, "CloseSession"))
        return 1;
    int32_t status = HIVE_STATUS_SUCCESS;
    if (in.readFields(kCloseSessionResp, [&](uint8_t type, int16_t id) noexcept {
            if (id != kTRespStatus || type != HIVE_T_STRUCT)
                return protocolError("Protocol error.");
            return readStatus(&status);
        }))
        return 1;
    if (replyTail(in))
        return 1;
    sessionOpen = 0;
    return status == HIVE_STATUS_ERROR ? 1 : 0;
}

// The statement's calls.

HiveCommunicatorHS2::HiveCommunicatorHS2(HiveStatement* stmt, HiveConnection* conn) noexcept
    : statement(stmt), operationHandle{}, fetchMessage{}, handleChanged(0), operationType(0), blockColumnCount(0),
      connection(conn), rowsPerFetch(10000), fetchMessageState(-1), pendingMethod("ExecuteStatement")
{}

HiveCommunicatorHS2::~HiveCommunicatorHS2() = default;

uint8_t HiveCommunicatorHS2::typeCodeOfTypeId(int32_t typeId) noexcept
{
    static const uint8_t kCodes[20] = {
        HIVE_TYPE_BOOLEAN, HIVE_TYPE_TINYINT, HIVE_TYPE_SMALLINT, HIVE_TYPE_INT,       HIVE_TYPE_BIGINT,
        HIVE_TYPE_FLOAT,   HIVE_TYPE_DOUBLE,  HIVE_TYPE_STRING,   HIVE_TYPE_TIMESTAMP, HIVE_TYPE_BINARY,
        HIVE_TYPE_ARRAY,   HIVE_TYPE_MAP,     HIVE_TYPE_STRUCT,   HIVE_TYPE_UNION,     HIVE_TYPE_USER_DEFINED,
        HIVE_TYPE_DECIMAL, HIVE_TYPE_NULL,    HIVE_TYPE_DATE,     HIVE_TYPE_VARCHAR,   HIVE_TYPE_CHAR,
    };
    // Newer servers: the interval types (20, 21), the timestamp with local
    // time zone (22) and anything later come as text.
    if (typeId >= 0 && typeId < 20)
        return kCodes[typeId];
    return HIVE_TYPE_STRING;
}

int HiveCommunicatorHS2::resetBlockState() noexcept
{
    blockColumnCount = 0;
    return 0;
}

int HiveCommunicatorHS2::releaseBlockState() noexcept
{
    blockColumnCount = 0;
    return 0;
}

int HiveCommunicatorHS2::cancelOperation() noexcept
{
    // Only the thread that holds the wire may call this: the request and
    // its reply go over the connection's one socket.
    return operationHandleCall("CancelOperation", false);
}

int HiveCommunicatorHS2::noOp7() noexcept
{
    return 0;
}

void HiveCommunicatorHS2::copyOperationHandle(uint8_t* out) const noexcept
{
    memcpy(out, operationHandle, kHiveOperationHandleBytes);
}

int HiveCommunicatorHS2::writeOperationHandle(int16_t fieldId, int32_t hasResultSet) noexcept
{
    HiveNetWriteBuffer& w = connection->writeBuffer;
    return w.writeStructFieldBegin(fieldId) || w.writeStructFieldBegin(kTOperationHandleOperationId) ||
           w.writeBytes(operationHandle, kHiveOperationHandleBytes) || w.writeFieldStop() ||
           w.writeFieldBegin(HIVE_T_I32, kTOperationHandleOperationType) || w.writeI32(operationType) ||
           w.writeFieldBegin(HIVE_T_BOOL, kTOperationHandleHasResultSet) || w.put(hasResultSet ? 1 : 0) ||
           w.writeFieldStop();
}

int HiveCommunicatorHS2::executeStatement(const uint16_t* text, size_t units, int32_t runAsync) noexcept
{
    if (closeCurrentOperation())
        return 1;
    HiveNetWriteBuffer& w = connection->writeBuffer;
    pendingMethod = "ExecuteStatement";
    if (hiveWriteCallBegin(w, pendingMethod, 0) || connection->writeSessionHandle(kTExecuteStatementReqSessionHandle) ||
        w.writeFieldBegin(HIVE_T_STRING, kTExecuteStatementReqStatement) || hiveWriteUtf16(w, text, units) ||
        w.writeFieldBegin(HIVE_T_MAP, kTExecuteStatementReqConfOverlay) || w.put(HIVE_T_STRING) ||
        w.put(HIVE_T_STRING) || w.writeI32(0))
        return 1;
    // runAsync is the request's own field, so that the server reads it.
    if (runAsync && (w.writeFieldBegin(HIVE_T_BOOL, kTExecuteStatementReqRunAsync) || w.put(1)))
        return 1;
    return w.writeFieldStop() || w.writeFieldStop() || w.flush();
}

int HiveCommunicatorHS2::readExecuteStatementReply(int32_t* status, int32_t* hasResultSet,
                                                   double* modifiedRowCount) noexcept
{
    HiveNetReadBuffer& in = connection->readBuffer;
    *status = HIVE_STATUS_SUCCESS;
    *hasResultSet = 0;
    *modifiedRowCount = -1.0;
    if (hiveReadReplyBegin(connection, pendingMethod))
        return 1;
    // The operation handle's fields, as the reply's second field holds them.
    auto handleField = [&](uint8_t t, int16_t fid) noexcept {
        if (fid == kTOperationHandleOperationId && t == HIVE_T_STRUCT) {
            uint8_t guid[kGuidBytes];
            uint8_t secret[kGuidBytes];
            if (readHandleIdentifier(in, guid, secret) != 0)
                return 1;
            storeIdentifier(operationHandle, guid, secret);
            handleChanged = 1;
            return 0;
        }
        if (fid == kTOperationHandleOperationType && t == HIVE_T_I32) {
            if (in.readI32(&operationType) != 0)
                return 1;
            handleChanged = 1;
            return 0;
        }
        if (fid == kTOperationHandleHasResultSet && t == HIVE_T_BOOL)
            return in.readBool(hasResultSet);
        if (fid == kTOperationHandleModifiedRowCount && t == HIVE_T_DOUBLE) {
            int64_t bits = 0;
            if (in.readI64(&bits) != 0)
                return 1;
            memcpy(modifiedRowCount, &bits, sizeof bits);
            return 0;
        }
        return kHiveFieldSkip;
    };
    // The response of ExecuteStatement and of the catalog calls read here
    // has the same shape under the call's own name.
    const StatusResponse response(pendingMethod);
    if (in.readFields(response.shape(), [&](uint8_t type, int16_t id) noexcept {
            if (id == kTRespStatus && type == HIVE_T_STRUCT)
                return connection->readStatus(status);
            if (id == kTExecuteStatementRespOperationHandle && type == HIVE_T_STRUCT)
                return in.readFields(kOperationHandle, handleField);
            return kHiveFieldSkip;
        }))
        return 1;
    if (replyTail(in))
        return 1;
    if (handleChanged && fetchMessageState == 0)
        fetchMessageState = 1;
    return *status == HIVE_STATUS_ERROR ? 1 : 0;
}

int HiveCommunicatorHS2::readTypeDesc(uint8_t* typeCode, int32_t* first, int32_t* second) noexcept
{
    HiveNetReadBuffer& in = connection->readBuffer;
    int haveType = 0;
    int qualifiers = 0;
    int32_t typeId = -1;
    // The values under the names servers give them, to check them against
    // each other; -1 when absent.
    int32_t precision = -1;
    int32_t scale = -1;
    int32_t length = -1;
    char key[kQualifierKeySize];
    size_t keyLength = 0;
    *first = -1;
    *second = -1;
    // TTypeQualifierValue: its i32 field is a precision or a scale, in
    // either order; the larger is the precision.
    auto qualifierValue = [&](uint8_t t, int16_t id) noexcept {
        if (id != kTTypeQualifierValueI32Value || t != HIVE_T_I32)
            return kHiveFieldSkip;
        int32_t v = 0;
        if (in.readI32(&v))
            return 1;
        if (v < 0)
            return hiveReplyFault("negative type qualifier in TTypeQualifiers");
        auto named = [&](const char* word) noexcept {
            return keyLength == strlen(word) && memcmp(key, word, keyLength) == 0;
        };
        if (named("precision"))
            precision = v;
        else if (named("scale"))
            scale = v;
        else if (named("characterMaximumLength"))
            length = v;
        if (qualifiers == 0) {
            *first = v;
        } else if (qualifiers == 1) {
            *second = v < *first ? v : *first;
            *first = v < *first ? *first : v;
        }
        ++qualifiers;
        return 0;
    };
    // TTypeQualifiers: a map from qualifier names to their values.
    auto qualifierMap = [&](uint8_t t, int16_t id) noexcept {
        if (id != kTTypeQualifiersQualifiers || t != HIVE_T_MAP)
            return kHiveFieldSkip;
        uint8_t kt = 0;
        uint8_t vt = 0;
        int32_t n = 0;
        if (in.readByte(&kt) || in.readByte(&vt) || in.readI32(&n))
            return 1;
        if (kt != HIVE_T_STRING || vt != HIVE_T_STRUCT || n < 0)
            return protocolError("Unexpected format for column type metadata.");
        for (int32_t q = 0; q < n; ++q) {
            if (in.readString(key, sizeof key, &keyLength, 0) || in.readFields(qualifierValue))
                return 1;
        }
        return 0;
    };
    // TPrimitiveTypeEntry: the type id and its qualifiers.
    auto primitiveEntry = [&](uint8_t t, int16_t id) noexcept {
        if (id == kTPrimitiveTypeEntryType && t == HIVE_T_I32) {
            if (in.readI32(&typeId))
                return 1;
            // Any other id could only be a damaged one: the column would be
            // described as something the server never said.
            if (typeId < 0 || typeId > kLastTypeId)
                return hiveReplyFault("column type id outside TTypeId");
            *typeCode = typeCodeOfTypeId(typeId);
            columnTypeId = typeId;
            haveType = 1;
            return 0;
        }
        if (id == kTPrimitiveTypeEntryTypeQualifiers && t == HIVE_T_STRUCT)
            return in.readFields(kQualifiers, qualifierMap);
        return kHiveFieldSkip;
    };
    if (in.readFields(kTypeDesc, [&](uint8_t t, int16_t id) noexcept {
            if (id != kTTypeDescTypes || t != HIVE_T_LIST)
                return kHiveFieldSkip;
            uint8_t elem = 0;
            int32_t count = 0;
            if (in.readByte(&elem) || in.readI32(&count))
                return 1;
            if (elem != HIVE_T_STRUCT || count < 0)
                return protocolError("Unexpected format for column type metadata.");
            // The first entry describes the column; nested entries of
            // complex types follow and are passed over.
            for (int32_t e = 0; e < count; ++e) {
                if (in.readFields([&](uint8_t ut, int16_t uid) noexcept {
                        if (e != 0 || uid != kTTypeEntryPrimitiveEntry || ut != HIVE_T_STRUCT)
                            return kHiveFieldSkip;
                        return in.readFields(kPrimitiveEntry, primitiveEntry);
                    }))
                    return 1;
            }
            return 0;
        }))
        return 1;
    if (!haveType)
        return protocolError("Unexpected format for column type metadata.");
    return checkQualifiers(typeId, precision, scale, length);
}

int HiveCommunicatorHS2::checkQualifiers(int32_t typeId, int32_t precision, int32_t scale, int32_t length) noexcept
{
    constexpr int32_t kDecimalTypeId = 15;
    constexpr int32_t kVarcharTypeId = 18;
    constexpr int32_t kCharTypeId = 19;
    if (typeId == kDecimalTypeId) {
        if (precision == 0 || precision > kMaxDecimalPrecision)
            return hiveReplyFault("decimal precision out of range in TTypeQualifiers");
        if (scale > kMaxDecimalPrecision || (precision > 0 && scale > precision))
            return hiveReplyFault("decimal scale out of range in TTypeQualifiers");
    }
    if ((typeId == kVarcharTypeId || typeId == kCharTypeId) && (length == 0 || length > kMaxCharacterLength))
        return hiveReplyFault("character length out of range in TTypeQualifiers");
    return 0;
}

int HiveCommunicatorHS2::readColumnDesc(uint32_t number, HiveColumnSink* sink) noexcept
{
    HiveNetReadBuffer& in = connection->readBuffer;
    char name[kHiveColumnNameMax + 1];
    size_t nameLength = 0;
    name[0] = 0;
    uint8_t typeCode = HIVE_TYPE_UNKNOWN;
    int32_t first = -1;
    int32_t second = -1;
    columnTypeId = -1;
    // A field of another type than its id has is passed as unknown and so
    // found missing.
    if (in.readFields(kColumnDesc, [&](uint8_t t, int16_t id) noexcept {
            if (id == kTColumnDescColumnName && t == HIVE_T_STRING) {
                if (in.readStringZ(name, sizeof name, &nameLength, 0))
                    return 1;
                nameLength = normaliseColumnName(name, nameLength);
                return 0;
            }
            if (id == kTColumnDescTypeDesc && t == HIVE_T_STRUCT)
                return readTypeDesc(&typeCode, &first, &second);
            return kHiveFieldSkip;
        }))
        return 1;
    return sink != nullptr ? sink->column(number, name, nameLength, typeCode, first, second) : 0;
}

int HiveCommunicatorHS2::getResultSetMetadata(int64_t arrayFetchSize, int64_t maxRowsInFetch,
                                              HiveColumnSink* sink) noexcept
{
    rowsPerFetch = arrayFetchSize;
    HiveNetWriteBuffer& w = connection->writeBuffer;
    if (hiveWriteCallBegin(w, "GetResultSetMetadata", 0) || writeOperationHandle(kTOperationReqOperationHandle, 1) ||
        w.writeFieldStop() || w.writeFieldStop() || w.flush())
        return 1;
    HiveNetReadBuffer& in = connection->readBuffer;
    if (hiveReadReplyBegin(connection, "GetResultSetMetadata"))
        return 1;
    int failed = 0;
    // The schema's column list: each column described to the sink.
    auto schemaField = [&](uint8_t t, int16_t fid) noexcept {
        if (fid != kTTableSchemaColumns || t != HIVE_T_LIST)
            return kHiveFieldSkip;
        int32_t count = 0;
        bool wrong = false;
        if (readStructListHeader(in, &count, "negative column count",
                                 "Unexpected element type when parsing column metadata", &wrong))
            return 1;
        if (wrong) {
            failed = 1;
            return 0;
        }
        if (sink != nullptr && sink->columnCount(uint32_t(count)))
            return 1;
        describedColumns = count;
        // A result without columns has no rows to fetch; the division
        // below needs a column.
        if (maxRowsInFetch != -1)
            rowsPerFetch = maxRowsInFetch;
        else if (count > 0)
            rowsPerFetch = int64_t(uint64_t(arrayFetchSize) / uint64_t(count));
        if (rowsPerFetch <= 0)
            rowsPerFetch = 1;
        for (int32_t i = 0; i < count; ++i) {
            if (readColumnDesc(uint32_t(i) + 1, sink))
                return 1;
        }
        return 0;
    };
    describedColumns = -1;
    // The status says the call was carried out, so the schema is due.
    int answered = 0;
    if (in.readFields(kMetadataResp, [&](uint8_t type, int16_t id) noexcept {
            if (id == kTRespStatus && type == HIVE_T_STRUCT) {
                int32_t status = 0;
                if (connection->readStatus(&status))
                    return 1;
                if (status == HIVE_STATUS_ERROR)
                    failed = 1;
                answered = status != HIVE_STATUS_INVALID_HANDLE;
                return 0;
            }
            if (id == kTGetResultSetMetadataRespSchema && type == HIVE_T_STRUCT)
                return in.readFields(kTableSchema, schemaField);
            return kHiveFieldSkip;
        }))
        return 1;
    if (replyTail(in))
        return 1;
    // Metadata is asked only of an operation with a result set: a reply
    // that succeeds without the schema leaves its columns unknown, not none.
    if (!failed && answered && describedColumns < 0)
        return hiveMissingColumnField(kMetadataResp.name, "schema");
    if (fetchMessageState == 0)
        fetchMessageState = 1;
    return failed;
}

int HiveCommunicatorHS2::sendFetchMessage(int32_t httpTransport) noexcept
{
    if (fetchMessageState == -1) {
        memcpy(fetchMessage, kFetchMessageTemplate, sizeof fetchMessage);
        fetchMessageState = 1;
    }
    if (fetchMessageState == 1 || handleChanged) {
        memcpy(fetchMessage + kFetchGuidAt, operationHandle + kStoredGuidAt, kGuidBytes);
        memcpy(fetchMessage + kFetchSecretAt, operationHandle + kStoredSecretAt, kGuidBytes);
        putBigEndian(fetchMessage + kFetchOperationTypeAt, uint32_t(operationType), 4);
        putBigEndian(fetchMessage + kFetchMaxRowsAt, uint64_t(rowsPerFetch), 8);
        fetchMessageState = 0;
        handleChanged = 0;
    }
    if (connection->writeBuffer.socket == nullptr)
        return 1;
    size_t skip = httpTransport ? 4 : 0;
    return connection->writeBuffer.writeSocket(fetchMessage + skip, sizeof fetchMessage - skip);
}

int HiveCommunicatorHS2::requestNextBatch(int32_t resultStyle) noexcept
{
    if (connection->refuseIfUnusable())
        return 1;
    if (resultStyle == HIVE_RESULT_COLUMN_WISE)
        return sendFetchMessage(connection->writeBuffer.httpTransport);
    HiveNetWriteBuffer& w = connection->writeBuffer;
    return hiveWriteCallBegin(w, "FetchResults", 0) || writeOperationHandle(kTFetchResultsReqOperationHandle, 1) ||
           w.writeFieldBegin(HIVE_T_I32, kTFetchResultsReqOrientation) || w.writeI32(0) ||
           w.writeFieldBegin(HIVE_T_I64, kTFetchResultsReqMaxRows) || w.writeI64(rowsPerFetch) || w.writeFieldStop() ||
           w.writeFieldStop() || w.flush();
}

int HiveCommunicatorHS2::readFetchResultsReply(uint32_t* rows, int32_t* moreRows) noexcept
{
    HiveNetReadBuffer& in = connection->readBuffer;
    *rows = 0;
    *moreRows = 0;
    blockColumnCount = 0;
    if (hiveReadReplyBegin(connection, "FetchResults"))
        return 1;
    int failed = 0;
    // The status says the call was carried out, so the row set is due.
    int answered = 0;
    int sawResults = 0;
    int sawRows = 0;
    int sawColumns = 0;
    // Into the first row: the readers take the values from here.
    auto enterRows = [&](int32_t count) noexcept {
        sawRows = 1;
        *rows = uint32_t(count);
        *moreRows = count != 0;
        if (count == 0)
            return 0;
        uint8_t rt = 0;
        int16_t rid = 0;
        uint8_t ce = 0;
        int32_t columns = 0;
        if (in.readFieldBegin(&rt, &rid))
            return 1;
        if (rt != HIVE_T_LIST || rid != kTRowColVals)
            return protocolError("Unexpected row data format");
        if (in.readByte(&ce) || in.readI32(&columns))
            return 1;
        if (ce != HIVE_T_STRUCT || columns < 0)
            return protocolError("Unexpected column data format");
        if (checkBlockColumns(columns))
            return 1;
        blockColumnCount = columns;
        return kHiveFieldLeave;
    };
    // Column-wise: into the first column's value list; the readers take
    // every column whole from here.
    auto enterColumns = [&](int32_t count) noexcept {
        blockColumnCount = count;
        sawRows = 1;
        sawColumns = 1;
        if (count == 0)
            return 0;
        if (checkBlockColumns(count))
            return 1;
        uint8_t ut = 0;
        int16_t uid = 0;
        uint8_t vt = 0;
        int16_t vid = 0;
        uint8_t ve = 0;
        int32_t values = 0;
        if (in.readFieldBegin(&ut, &uid) || ut != HIVE_T_STRUCT || in.readFieldBegin(&vt, &vid))
            return protocolError("Unexpected column wise data format");
        if (vt != HIVE_T_LIST || vid != kTColumnValues)
            return hiveMissingColumnField(hiveColumnStructOfField(uid), "values");
        if (in.readByte(&ve) || in.readI32(&values) || values < 0)
            return protocolError("Unexpected column wise data format");
        *rows = uint32_t(values);
        *moreRows = values != 0;
        if (values == 0) {
            // An empty block: the reply is consumed here, as for rows, and
            // there are no columns left for the readers.
            blockColumnCount = 0;
            if (skipRest(in) || skipRest(in))
                return 1;
            for (int32_t c = 1; c < count; ++c) {
                if (in.skip(HIVE_T_STRUCT))
                    return 1;
            }
            return endReply() ? 1 : kHiveFieldLeave;
        }
        firstElementType = ve;
        firstCount = values;
        if (fetchState != nullptr) {
            fetchState->firstElementType = ve;
            fetchState->firstCount = values;
        }
        return kHiveFieldLeave;
    };
    // The row set: the walk ends inside it, where the readers go on, unless
    // the block is empty.
    auto rowSetField = [&](uint8_t t, int16_t fid) noexcept {
        if ((fid != kTRowSetRows && fid != kTRowSetColumns) || t != HIVE_T_LIST)
            return kHiveFieldSkip;
        int32_t count = 0;
        bool wrong = false;
        if (readStructListHeader(
                in, &count, "Unexpected row data format",
                fid == kTRowSetRows ? "Unexpected row data format" : "Unexpected column wise data format", &wrong))
            return 1;
        if (wrong) {
            failed = 1;
            return 0;
        }
        return fid == kTRowSetRows ? enterRows(count) : enterColumns(count);
    };
    const int rc = in.readFields(kFetchResultsResp, [&](uint8_t type, int16_t id) noexcept {
        if (id == kTRespStatus && type == HIVE_T_STRUCT) {
            int32_t status = 0;
            if (connection->readStatus(&status))
                return 1;
            if (status == HIVE_STATUS_ERROR)
                failed = 1;
            answered = status != HIVE_STATUS_INVALID_HANDLE;
            return 0;
        }
        if (id != kTFetchResultsRespResults || type != HIVE_T_STRUCT)
            return kHiveFieldSkip;
        sawResults = 1;
        return in.readFields(kRowSet, rowSetField);
    });
    if (rc == kHiveFieldLeave)
        return failed;
    if (rc != 0 || replyTail(in))
        return 1;
    // Rows are fetched only of a result set: a reply that succeeds without
    // its row set, or a column-wise one without its columns, leaves the
    // block unknown rather than empty.
    if (!failed && answered && !sawResults)
        return hiveMissingColumnField(kFetchResultsResp.name, "results");
    if (!failed && answered && !sawColumns && connection->readBuffer.resultStyle == HIVE_RESULT_COLUMN_WISE)
        return hiveMissingColumnField(kRowSet.name, "columns");
    if (!sawRows && !failed)
        *moreRows = 1;
    return failed;
}

int HiveCommunicatorHS2::checkBlockColumns(int32_t columns) noexcept
{
    if (describedColumns < 0 || columns == describedColumns)
        return 0;
    char detail[128];
    snprintf(detail, sizeof detail, "a block of %d columns for a result described with %d", int(columns),
             int(describedColumns));
    return hiveReplyFault(detail);
}

int HiveCommunicatorHS2::nextRow() noexcept
{
    HiveNetReadBuffer& in = connection->readBuffer;
    uint8_t t = 0;
    int16_t id = 0;
    uint8_t elem = 0;
    int32_t columns = 0;
    if (in.readFieldBegin(&t, &id) || t != HIVE_T_LIST || in.readByte(&elem) || elem != HIVE_T_STRUCT ||
        in.readI32(&columns))
        return protocolError("Unexpected field type in row data");
    // Every row holds the block's columns: the readers take them by place.
    if (columns != blockColumnCount)
        return hiveReplyFault("a row holds another number of columns than the block's first");
    return 0;
}

int HiveCommunicatorHS2::skipByte() noexcept
{
    return connection->readBuffer.skipBytes(1);
}

int HiveCommunicatorHS2::endReply() noexcept
{
    HiveNetReadBuffer& in = connection->readBuffer;
    // The row set's rest, the response's rest, the result struct's rest.
    if (skipRest(in) || skipRest(in) || skipRest(in))
        return protocolError("Unexpected field type in FetchResults reply");
    if (in.endMessage())
        return 1;
    return 0;
}

int HiveCommunicatorHS2::closeCurrentOperation() noexcept
{
    return closeOperation();
}

int HiveCommunicatorHS2::sendAndReadNothing() noexcept
{
    return connection->writeBuffer.flush();
}

int HiveCommunicatorHS2::operationHandleCall(const char* method, bool spendsHandle) noexcept
{
    if (!hasOperation())
        return 0;
    // Nothing can reach the server over a broken wire: a close has nothing
    // left to do (the session went with the wire), a cancel says why not.
    if (connection->unusable()) {
        if (!spendsHandle)
            return connection->refuseIfUnusable();
        memset(operationHandle, 0, sizeof operationHandle);
        return 0;
    }
    HiveNetWriteBuffer& w = connection->writeBuffer;
    if (hiveWriteCallBegin(w, method, 0) || writeOperationHandle(kTOperationReqOperationHandle, 1) ||
        w.writeFieldStop() || w.writeFieldStop() || sendAndReadNothing())
        return 1;
    HiveNetReadBuffer& in = connection->readBuffer;
    if (hiveReadReplyBegin(connection, method))
        return 1;
    int32_t status = HIVE_STATUS_SUCCESS;
    const StatusResponse response(method);
    if (in.readFields(response.shape(), [&](uint8_t type, int16_t id) noexcept {
            return id == kTRespStatus && type == HIVE_T_STRUCT ? connection->readStatus(&status) : kHiveFieldSkip;
        }))
        return 1;
    if (replyTail(in))
        return 1;
    // A closed operation's handle is spent once its reply was read, whatever
    // the status says.
    if (spendsHandle)
        memset(operationHandle, 0, sizeof operationHandle);
    return status == HIVE_STATUS_ERROR ? 1 : 0;
}

int HiveCommunicatorHS2::closeOperation() noexcept
{
    int rc = operationHandleCall("CloseOperation", true);
    // A close that could not be sent or answered is not tried again: on a
    // lost connection every later try fails too, and would keep the
    // statement from closing its cursor.
    memset(operationHandle, 0, sizeof operationHandle);
    return rc;
}

int HiveCommunicatorHS2::queueClose() noexcept
{
    if (!hasOperation())
        return 0;
    HiveCloseQueue& q = connection->closeQueue;
    if (q.count == q.capacity) {
        const size_t grown = q.capacity == 0 ? 4 : q.capacity * 2;
        void* block = q.entries;
        if (ramRealloc(&block, grown * sizeof(HiveCloseQueue::Entry)) != 0)
            return 1;
        q.entries = static_cast<HiveCloseQueue::Entry*>(block);
        q.capacity = grown;
    }
    HiveCloseQueue::Entry& e = q.entries[q.count++];
    memcpy(e.handle, operationHandle, sizeof e.handle);
    e.type = operationType;
    memset(operationHandle, 0, sizeof operationHandle);
    return 0;
}

void HiveCommunicatorHS2::sendQueuedCloses() noexcept
{
    HiveCloseQueue& q = connection->closeQueue;
    if (q.count == 0)
        return;
    // The queued handles go through this communicator's own handle slot,
    // which is empty or about to be replaced by the caller's request.
    uint8_t ownHandle[kHiveOperationHandleBytes];
    memcpy(ownHandle, operationHandle, sizeof ownHandle);
    const int32_t ownType = operationType;
    const KaDiagMark mark;
    // Each close is tried whatever became of the one before: a refused
    // close leaves its operation alone, not the others behind it. Their
    // failures are no concern of the caller's request.
    for (size_t k = 0; k < q.count; ++k) {
        memcpy(operationHandle, q.entries[k].handle, sizeof operationHandle);
        operationType = q.entries[k].type;
        static_cast<void>(closeOperation());
    }
    while (mark.posted() != 0)
        mark.list()->discardLast();
    q.count = 0;
    memcpy(operationHandle, ownHandle, sizeof operationHandle);
    operationType = ownType;
}

int HiveCommunicatorHS2::getOperationStatus(HiveOperationStatus* out) noexcept
{
    *out = HiveOperationStatus();
    if (!hasOperation())
        return 0;
    HiveNetWriteBuffer& w = connection->writeBuffer;
    HiveNetReadBuffer& in = connection->readBuffer;
    if (hiveWriteCallBegin(w, "GetOperationStatus", 0) || writeOperationHandle(kTOperationReqOperationHandle, 0) ||
        w.writeFieldStop() || w.writeFieldStop() || w.flush() || hiveReadReplyBegin(connection, "GetOperationStatus"))
        return 1;
    const int rc = in.readFields(kHiveOperationStatusResp, [&](uint8_t type, int16_t id) noexcept {
        if (id == kTRespStatus && type == HIVE_T_STRUCT)
            return connection->readStatus(&out->status);
        if (id == kTGetOperationStatusRespOperationState && type == HIVE_T_I32)
            return in.readI32(&out->state);
        if (id == kTGetOperationStatusRespSqlState && type == HIVE_T_STRING)
            return in.readStringZ(out->sqlstate, sizeof out->sqlstate, &out->sqlstateLength, 0);
        if (id == kTGetOperationStatusRespErrorCode && type == HIVE_T_I32)
            return in.readI32(&out->errorCode);
        if (id == kTGetOperationStatusRespErrorMessage && type == HIVE_T_STRING && !out->message) {
            out->message = ramMake<char>(kHiveOperationMessageMax + 1);
            if (!out->message)
                return 1;
            return in.readStringZ(out->message.get(), kHiveOperationMessageMax + 1, &out->messageLength, 0);
        }
        return kHiveFieldSkip;
    });
    return rc != 0 || replyTail(in) ? 1 : 0;
}

int HiveCommunicatorHS2::getInfo(int32_t infoType, void* buffer, size_t size, uint8_t* kind, size_t* length) noexcept
{
    *kind = HIVE_T_STOP;
    *length = 0;
    HiveNetWriteBuffer& w = connection->writeBuffer;
    HiveNetReadBuffer& in = connection->readBuffer;
    if (hiveWriteCallBegin(w, "GetInfo", 0) || connection->writeSessionHandle(kTGetInfoReqSessionHandle) ||
        w.writeFieldBegin(HIVE_T_I32, kTGetInfoReqInfoType) || w.writeI32(infoType) || w.writeFieldStop() ||
        w.writeFieldStop() || w.flush())
        return 1;
    if (hiveReadReplyBegin(connection, "GetInfo"))
        return 1;
    int32_t status = HIVE_STATUS_SUCCESS;
    int haveValue = 0;
    if (in.readFields(kGetInfoResp, [&](uint8_t type, int16_t id) noexcept {
            if (id == kTRespStatus && type == HIVE_T_STRUCT)
                return connection->readStatus(&status);
            if (id != kTGetInfoRespInfoValue || type != HIVE_T_STRUCT)
                return kHiveFieldSkip;
            // The value is a union: its one field tells the kind.
            uint8_t vt = 0;
            int16_t vid = 0;
            if (in.readFieldBegin(&vt, &vid))
                return 1;
            uint32_t n = vt == HIVE_T_I16 ? 2 : vt == HIVE_T_I32 ? 4 : vt == HIVE_T_I64 ? 8 : 0;
            int rc;
            if (vt == HIVE_T_STRING) {
                rc = in.readStringZ(static_cast<char*>(buffer), size, length, 0);
            } else if (n != 0 && n <= size) {
                rc = in.readBigEndian(buffer, n);
                *length = n;
            } else {
                return protocolError("Unexpected element type when parsing getInfo data");
            }
            *kind = vt;
            haveValue = 1;
            return rc != 0 ? rc : skipRest(in);
        }))
        return 1;
    if (replyTail(in))
        return 1;
    if (status == HIVE_STATUS_ERROR)
        return 1;
    if (!haveValue)
        return protocolError("Unexpected element type when parsing getInfo data");
    return 0;
}

int HiveCommunicatorHS2::getTables(const uint16_t* schema, size_t schemaUnits, const uint16_t* table, size_t tableUnits,
                                   const int32_t tableTypes[7]) noexcept
{
    static const char* const kTypeNames[7][3] = {
        {"TABLE", "MANAGED_TABLE", "EXTERNAL_TABLE"},
        {"VIEW", "VIRTUAL_VIEW", nullptr},
        {"SYSTEM TABLE", "INDEX_TABLE", nullptr},
        {"GLOBAL TEMPORARY", nullptr, nullptr},
        {"LOCAL TEMPORARY", nullptr, nullptr},
        {"ALIAS", nullptr, nullptr},
        {"SYNONYM", nullptr, nullptr},
    };
    int32_t count = 0;
    for (int i = 0; i < 7; ++i) {
        for (int j = 0; tableTypes[i] && j < 3 && kTypeNames[i][j] != nullptr; ++j)
            ++count;
    }
    HiveNetWriteBuffer& w = connection->writeBuffer;
    pendingMethod = "GetTables";
    if (hiveWriteCallBegin(w, pendingMethod, 0) || connection->writeSessionHandle(kTCatalogReqSessionHandle) ||
        w.writeFieldBegin(HIVE_T_STRING, kTCatalogReqCatalogName) || w.writeI32(0) ||
        w.writeFieldBegin(HIVE_T_STRING, kTCatalogReqSchemaName) || hiveWriteUtf16(w, schema, schemaUnits) ||
        w.writeFieldBegin(HIVE_T_STRING, kTGetTablesReqTableName) || hiveWriteUtf16(w, table, tableUnits) ||
        w.writeListFieldBegin(kTGetTablesReqTableTypes, HIVE_T_STRING, count))
        return 1;
    for (int i = 0; i < 7; ++i) {
        for (int j = 0; tableTypes[i] && j < 3 && kTypeNames[i][j] != nullptr; ++j) {
            if (w.writeString(kTypeNames[i][j], strlen(kTypeNames[i][j])))
                return 1;
        }
    }
    return w.writeFieldStop() || w.writeFieldStop() || w.flush();
}

int HiveCommunicatorHS2::getColumns(const uint16_t* schema, size_t schemaUnits, const uint16_t* table,
                                    size_t tableUnits, const uint16_t* column, size_t columnUnits) noexcept
{
    HiveNetWriteBuffer& w = connection->writeBuffer;
    pendingMethod = "GetColumns";
    return hiveWriteCallBegin(w, pendingMethod, 0) || connection->writeSessionHandle(kTCatalogReqSessionHandle) ||
           w.writeFieldBegin(HIVE_T_STRING, kTCatalogReqCatalogName) || w.writeI32(0) ||
           w.writeFieldBegin(HIVE_T_STRING, kTCatalogReqSchemaName) || hiveWriteUtf16(w, schema, schemaUnits) ||
           w.writeFieldBegin(HIVE_T_STRING, kTGetColumnsReqTableName) || hiveWriteUtf16(w, table, tableUnits) ||
           w.writeFieldBegin(HIVE_T_STRING, kTGetColumnsReqColumnName) || hiveWriteUtf16(w, column, columnUnits) ||
           w.writeFieldStop() || w.writeFieldStop() || w.flush();
}

int HiveCommunicatorHS2::getSchemas(const uint16_t* schema, size_t schemaUnits) noexcept
{
    HiveNetWriteBuffer& w = connection->writeBuffer;
    pendingMethod = "GetSchemas";
    return hiveWriteCallBegin(w, pendingMethod, 0) || connection->writeSessionHandle(kTCatalogReqSessionHandle) ||
           w.writeFieldBegin(HIVE_T_STRING, kTCatalogReqCatalogName) || w.writeI32(0) ||
           w.writeFieldBegin(HIVE_T_STRING, kTCatalogReqSchemaName) || hiveWriteUtf16(w, schema, schemaUnits) ||
           w.writeFieldStop() || w.writeFieldStop() || w.flush();
}

int HiveCommunicatorHS2::getTypeInfo() noexcept
{
    HiveNetWriteBuffer& w = connection->writeBuffer;
    pendingMethod = "GetTypeInfo";
    return hiveWriteCallBegin(w, pendingMethod, 0) || connection->writeSessionHandle(kTCatalogReqSessionHandle) ||
           w.writeFieldStop() || w.writeFieldStop() || w.flush();
}

int HiveCommunicatorHS2::makeReader(HiveColumnStorage* column, int32_t resultStyle, DataReader** out) noexcept
{
    return hiveMakeReader(fetchState, column, resultStyle, out);
}
