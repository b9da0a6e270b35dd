// The Thrift read buffers: frames off the socket, the reading primitives,
// skipping of any value, and the spool buffer's refill from its file.
#include "hive/hivenetread.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "hive/hivenetwrite.h"
#include "hive/hivethrift.h"
#include "kamessages.h"
#include "hive/hivereader.h"
#include "hive/hivereaders.h"
#include "hive/hivecommunicator.h"
#include "platform/kastream.h"
#include "platform/katmpsink.h"
#include "transport/basehttpsocket.h"
#include "transport/basesocket.h"
#include "transport/kasock.h"

namespace {

// What the protocol reader reports: the catalogue's protocol message with the
// reader's detail, under the SQLSTATE given.
int protocolError(const char* detail, uint16_t sqlstate = MSG_SQLSTATE_GENERAL_ERROR) noexcept
{
    errPost(MSG_THRIFT_PROTOCOL_ERROR)->setSqlstateMsg(sqlstate)->addParamText(detail);
    return 1;
}

}  // namespace

int hiveReplyFault(const char* detail) noexcept
{
    return protocolError(detail, MSG_SQLSTATE_LINK_FAILURE);
}

int hiveMissingField(const HiveStructShape& shape, const HiveRequiredField& field) noexcept
{
    return hiveMissingColumnField(shape.name, field.name);
}

const char* hiveColumnStructOfField(int16_t unionId) noexcept
{
    static const char* const kNames[] = {"TBoolColumn", "TByteColumn",   "TI16Column",    "TI32Column",
                                         "TI64Column",  "TDoubleColumn", "TStringColumn", "TBinaryColumn"};
    return unionId >= 1 && unionId <= 8 ? kNames[unionId - 1] : "TColumn";
}

const char* hiveColumnStructOfElement(uint8_t elementType) noexcept
{
    switch (elementType) {
    case HIVE_T_BOOL: return "TBoolColumn";
    case HIVE_T_BYTE: return "TByteColumn";
    case HIVE_T_I16: return "TI16Column";
    case HIVE_T_I32: return "TI32Column";
    case HIVE_T_I64: return "TI64Column";
    case HIVE_T_DOUBLE: return "TDoubleColumn";
    case HIVE_T_STRING: return "TStringColumn";
    default: return "TColumn";
    }
}

int hiveMissingColumnField(const char* structName, const char* field) noexcept
{
    char detail[160];
    snprintf(detail, sizeof detail, "%s.%s missing", structName, field);
    return hiveReplyFault(detail);
}

int hiveCheckRequired(const HiveStructShape& shape, uint32_t seen, int16_t beforeId) noexcept
{
    for (uint8_t i = 0; i < shape.count; ++i) {
        const HiveRequiredField& f = shape.fields[i];
        if ((beforeId == 0 || f.id < beforeId) && (seen & hiveFieldBit(f.id)) == 0)
            return hiveMissingField(shape, f);
    }
    return 0;
}

uint32_t hiveMarkRequired(const HiveStructShape& shape, uint32_t seen, uint8_t type, int16_t id) noexcept
{
    for (uint8_t i = 0; i < shape.count; ++i) {
        if (shape.fields[i].id == id && shape.fields[i].type == type)
            return seen | hiveFieldBit(id);
    }
    return seen;
}

HiveNetReadBuffer::HiveNetReadBuffer() noexcept = default;

HiveNetReadBuffer::~HiveNetReadBuffer()
{
    ramFree(data);
}

int HiveNetReadBuffer::attach(HiveConnection* conn, BaseSocket* sock) noexcept
{
    connection = conn;
    socket = sock;
    resultStyle = 0;
    failed = 0;
    failedReason = 0;
    negotiated = 1;
    framed = 0;
    if (capacity == 0 || data == nullptr) {
        if (setCapacity(capacity != 0 ? capacity : kHiveReadChunkDefault))
            return 1;
    }
    if (chunkSize > capacity)
        chunkSize = capacity;
    resetFrame();
    return 0;
}

int HiveNetReadBuffer::setCapacity(uint32_t n) noexcept
{
    if (data != nullptr && allocated >= n) {
        capacity = n;
        return 0;
    }
    ramFree(data);
    data = nullptr;
    capacity = allocated = 0;
    data = static_cast<uint8_t*>(ramAlloc(n != 0 ? n : 1));
    if (data == nullptr) {
        ramOutOfMemory();
        return 1;
    }
    capacity = allocated = n;
    return 0;
}

void HiveNetReadBuffer::resetFrame() noexcept
{
    frameRemaining = size = frameEnd = readPos = frameBytes = 0;
    preloaded = 0;
    parkSource = nullptr;
}

void HiveNetReadBuffer::latchFailure(uint16_t reason) noexcept
{
    // The first cause is the one the connection is refused for.
    if (failed == 0)
        failedReason = reason;
    failed = 1;
}

int HiveNetReadBuffer::frameError(uint16_t reason) noexcept
{
    latchFailure(reason);
    readPos = frameEnd;
    return 1;
}

int HiveNetReadBuffer::refuseAfterFailure() noexcept
{
    errPost(failedReason != 0 ? failedReason : uint16_t(MSG_HIVE_UNUSABLE_AFTER_BAD_FRAME))
        ->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
    return 1;
}

int HiveNetReadBuffer::readParked(uint32_t start) noexcept
{
    const uint32_t room = capacity - start;
    uint64_t got = 0;
    int32_t more = 0;
    if (parkSource->read(data + start, room < chunkSize ? room : chunkSize, &got, &more) != 0)
        return frameError(MSG_HIVE_UNUSABLE_AFTER_BAD_FRAME);
    if (got == 0) {
        // The file holds fewer bytes than the frame still counts.
        errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(EIO);
        return frameError(MSG_HIVE_UNUSABLE_AFTER_BAD_FRAME);
    }
    if (more == 0) {
        parkSource->close();
        parkSource = nullptr;
    }
    size = frameEnd = start + uint32_t(got);
    return 0;
}

int HiveNetReadBuffer::readChunk(uint32_t start, uint32_t minimum) noexcept
{
    // The frame's bytes from a spill file are all there is of the frame, so
    // they are never asked for a header.
    if (parkSource != nullptr && capacity > start && minimum <= 1)
        return readParked(start);
    if (socket == nullptr || capacity <= start)
        return frameError(MSG_HIVE_UNUSABLE_AFTER_BAD_FRAME);
    do {
        uint32_t room = capacity - start;
        size_t received = 0;
        int rc = socket->read(data + start, room < chunkSize ? room : chunkSize, &received, 0);
        if (rc != KA_SOCK_OK) {
            if (rc == KA_SOCK_TIMED_OUT) {
                latchFailure(MSG_HIVE_UNUSABLE_AFTER_TIMEOUT);
                return 1;
            }
            return frameError(MSG_HIVE_UNUSABLE_AFTER_LINK_LOSS);
        }
        if (received == 0) {
            // Success without bytes would loop for ever: the peer is gone.
            errPost(MSG_SERVER_CLOSED_CONNECTION)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
            return frameError(MSG_HIVE_UNUSABLE_AFTER_LINK_LOSS);
        }
        start += uint32_t(received);
    } while (start < minimum);
    size = frameEnd = start;
    return 0;
}

void HiveNetReadBuffer::updateFrame() noexcept
{
    uint32_t p = readPos;
    if (!framed) {
        frameRemaining = frameBytes = frameEnd = size;
        return;
    }
    if (frameRemaining == 0) {
        if (httpTransport) {
            frameRemaining = size - p;
        } else {
            uint32_t n =
                uint32_t(data[p]) << 24 | uint32_t(data[p + 1]) << 16 | uint32_t(data[p + 2]) << 8 | data[p + 3];
            // A length beyond a positive i32 is no frame: the bound keeps
            // the sum below from wrapping.
            if (n > kHiveMaxFrameLength) {
                errPost(MSG_THRIFT_FRAME_LENGTH_INVALID)
                    ->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE)
                    ->addParamUnsigned(n);
                frameRemaining = 0;
                frameBytes = 0;
                frameEnd = readPos = size;
                latchFailure(MSG_HIVE_UNUSABLE_AFTER_BAD_FRAME);
                return;
            }
            frameRemaining = n + 4;
            readPos = p + 4;
        }
    }
    if (uint64_t(p) + frameRemaining <= size) {
        frameEnd = p + frameRemaining;
        frameBytes = frameRemaining;
    } else {
        frameEnd = size;
        frameBytes = size - p;
    }
}

int HiveNetReadBuffer::fill() noexcept
{
    if (failed)
        return refuseAfterFailure();
    for (;;) {
        uint32_t minimum = 1;
        bool fresh = true;
        if (framed) {
            frameRemaining = frameRemaining > frameBytes ? frameRemaining - frameBytes : 0;
            frameBytes = 0;
            uint32_t header = httpTransport ? 1 : 4;
            if (frameRemaining == 0 && frameEnd < size) {
                uint32_t left = size - frameEnd;
                if (left >= header) {
                    readPos = frameEnd;
                    frameEnd = size;
                } else {
                    memmove(data, data + frameEnd, left);
                    frameEnd = size = left;
                    readPos = 0;
                    if (readChunk(left, header))
                        return 1;
                }
                fresh = false;
            } else if (frameRemaining == 0) {
                size = frameEnd = readPos = frameBytes = 0;
                minimum = header;
            }
        }
        if (fresh) {
            readPos = 0;
            if (readChunk(0, minimum))
                return 1;
        }
        updateFrame();
        if (failed)
            return 1;
        if (!framed || readPos < frameEnd)
            return 0;
    }
}

int HiveNetReadBuffer::readByte(uint8_t* out) noexcept
{
    if (readPos >= frameEnd && fill())
        return 1;
    *out = data[readPos++];
    return 0;
}

int HiveNetReadBuffer::readBytes(void* destination, size_t n) noexcept
{
    auto* out = static_cast<uint8_t*>(destination);
    while (n > 0) {
        if (readPos >= frameEnd && fill())
            return 1;
        size_t piece = frameEnd - readPos;
        if (piece > n)
            piece = n;
        memcpy(out, data + readPos, piece);
        readPos += uint32_t(piece);
        out += piece;
        n -= piece;
    }
    return 0;
}

int HiveNetReadBuffer::readBigEndian(void* destination, uint32_t n) noexcept
{
    auto* out = static_cast<uint8_t*>(destination);
    if (frameEnd - readPos >= n) {
        for (uint32_t i = n; i > 0; --i)
            out[i - 1] = data[readPos++];
        return 0;
    }
    for (uint32_t i = n; i > 0; --i) {
        if (readByte(&out[i - 1]))
            return 1;
    }
    return 0;
}

int HiveNetReadBuffer::skipBytes(uint64_t n) noexcept
{
    while (n > 0) {
        if (readPos >= frameEnd && fill())
            return 1;
        uint64_t piece = frameEnd - readPos;
        if (piece > n)
            piece = n;
        readPos += uint32_t(piece);
        n -= piece;
    }
    return 0;
}

int HiveNetReadBuffer::readString(void* destination, size_t maximum, size_t* length, int32_t leaveRest) noexcept
{
    *length = 0;
    int32_t n = 0;
    if (readI32(&n))
        return 1;
    if (n < 0)
        return protocolError("readString: negative length");
    size_t k = size_t(n) < maximum ? size_t(n) : maximum;
    if (readBytes(destination, k))
        return 1;
    if (!leaveRest && skipBytes(uint64_t(n) - k))
        return 1;
    *length = k;
    return 0;
}

int HiveNetReadBuffer::readStringZ(char* destination, size_t size, size_t* length, int32_t leaveRest) noexcept
{
    *length = 0;
    if (size == 0)
        return 1;
    if (readString(destination, size - 1, length, leaveRest)) {
        destination[0] = 0;
        *length = 0;
        return 1;
    }
    destination[*length] = 0;
    return 0;
}

int HiveNetReadBuffer::readMessageBegin(char* name, size_t nameSize, size_t* nameLength, int32_t* messageType) noexcept
{
    *nameLength = 0;
    *messageType = 0;
    // A reply put back into the buffer by the statement it belongs to
    // starts here; any other reply starts on the socket.
    if (preloaded != 0)
        preloaded = 0;
    else
        resetFrame();
    int32_t v = 0;
    if (readI32(&v))
        return 1;
    if (v >= 0)
        return protocolError("Thrift protocol using unversioned messages.");
    if ((uint32_t(v) & 0xFFFF0000u) != kHiveThriftVersion1)
        return protocolError("Unexpected Thrift protocol version.");
    int32_t n = 0;
    if (readI32(&n))
        return 1;
    if (n < 0)
        return protocolError("Invalid name length.");
    size_t k = size_t(n);
    if (k > nameSize) {
        protocolError("name too long");
        k = nameSize;
    }
    if (readBytes(name, k) || skipBytes(uint64_t(n) - k) || skipBytes(4))
        return 1;
    *nameLength = k;
    *messageType = int32_t(uint32_t(v) & 0xFF);
    return 0;
}

int HiveNetReadBuffer::readFieldBegin(uint8_t* type, int16_t* id) noexcept
{
    *id = 0;
    if (readByte(type))
        return 1;
    if (*type == HIVE_T_STOP)
        return 0;
    return readI16(id);
}

int HiveNetReadBuffer::skip(uint8_t type) noexcept
{
    return skipAt(type, 0);
}

int HiveNetReadBuffer::skipAt(uint8_t type, int32_t depth) noexcept
{
    switch (type) {
    case HIVE_T_BOOL:
    case HIVE_T_BYTE: return skipBytes(1);
    case HIVE_T_I16: return skipBytes(2);
    case HIVE_T_I32: return skipBytes(4);
    case HIVE_T_DOUBLE:
    case HIVE_T_I64: return skipBytes(8);
    case HIVE_T_STRING: {
        int32_t n = 0;
        if (readI32(&n))
            return 1;
        if (n < 0)
            return protocolError("Unexpected string length");
        return skipBytes(uint64_t(n));
    }
    default: break;
    }
    if (type != HIVE_T_STRUCT && type != HIVE_T_MAP && type != HIVE_T_SET && type != HIVE_T_LIST)
        return protocolError("Unhandled type in skip()", MSG_SQLSTATE_LINK_FAILURE);
    if (depth >= kHiveMaxSkipDepth)
        return protocolError("nesting too deep", MSG_SQLSTATE_LINK_FAILURE);
    if (type == HIVE_T_STRUCT) {
        for (;;) {
            uint8_t t = 0;
            int16_t id = 0;
            if (readFieldBegin(&t, &id))
                return 1;
            if (t == HIVE_T_STOP)
                return 0;
            if (skipAt(t, depth + 1))
                return 1;
        }
    }
    uint8_t keyType = 0;
    uint8_t valueType = 0;
    int32_t count = 0;
    if (readByte(&keyType))
        return 1;
    if (type == HIVE_T_MAP && readByte(&valueType))
        return 1;
    if (readI32(&count))
        return 1;
    if (count < 0)
        return protocolError("negative container size", MSG_SQLSTATE_LINK_FAILURE);
    for (int32_t i = 0; i < count; ++i) {
        if (skipAt(keyType, depth + 1))
            return 1;
        if (type == HIVE_T_MAP && skipAt(valueType, depth + 1))
            return 1;
    }
    return 0;
}

int HiveNetReadBuffer::readExceptionFields(char* message, size_t messageSize, size_t* messageLength, char* second,
                                           size_t secondSize, size_t* secondLength, int32_t* exceptionType) noexcept
{
    *messageLength = 0;
    *secondLength = 0;
    *exceptionType = 0;
    if (messageSize > 0)
        message[0] = 0;
    if (secondSize > 0)
        second[0] = 0;
    for (;;) {
        uint8_t t = 0;
        int16_t id = 0;
        if (readFieldBegin(&t, &id))
            return 1;
        if (t == HIVE_T_STOP)
            return 0;
        int rc;
        if (id == kTApplicationExceptionMessage && t == HIVE_T_STRING)
            rc = readStringZ(message, messageSize, messageLength, 0);
        else if (id == kTApplicationExceptionType && t == HIVE_T_I32)
            rc = readI32(exceptionType);
        else if (id == kTApplicationExceptionDetail && t == HIVE_T_STRING)
            rc = readStringZ(second, secondSize, secondLength, 0);
        else
            rc = skip(t);
        if (rc)
            return 1;
    }
}

int HiveNetReadBuffer::drainPending(HiveStatement* /*statement*/) noexcept
{
    int result = 0;
    // The rest of the frame is counted by its length: waiting for a quiet
    // socket would take a slow remainder for the next reply.
    if (!failed && framed) {
        for (;;) {
            readPos = frameEnd;
            int32_t more = 0;
            if (replyContinues(&more) != 0 || (more != 0 && fill() != 0)) {
                result = 1;
                break;
            }
            if (more == 0)
                break;
        }
    }
    resetFrame();
    return result;
}

int HiveNetReadBuffer::endMessage() noexcept
{
    // The rest of a parked reply's frame is in its spill file, not counted here.
    if (!framed || parkSource != nullptr)
        return 0;
    uint64_t left = frameEnd > readPos ? frameEnd - readPos : 0;
    if (!httpTransport && frameRemaining > frameBytes)
        left += frameRemaining - frameBytes;
    if (left == 0)
        return 0;
    char detail[96];
    snprintf(detail, sizeof detail, "%llu bytes after the reply's message", static_cast<unsigned long long>(left));
    hiveReplyFault(detail);
    return frameError(MSG_HIVE_UNUSABLE_AFTER_BAD_FRAME);
}

int HiveNetReadBuffer::replyContinues(int32_t* more) noexcept
{
    *more = 0;
    if (!httpTransport || parkSource != nullptr || frameRemaining > frameBytes) {
        *more = frameRemaining > frameBytes ? 1 : 0;
        return 0;
    }
    auto* http = dynamic_cast<BaseHTTPSocket*>(socket);
    if (http == nullptr)
        return 0;
    int32_t ended = 0;
    if (http->responseEnded(&ended) != KA_SOCK_OK) {
        failed = 1;
        return 1;
    }
    *more = ended == 0 ? 1 : 0;
    return 0;
}

HiveNetReadFileBuffer::HiveNetReadFileBuffer() noexcept = default;

HiveNetReadFileBuffer::~HiveNetReadFileBuffer()
{
    // The data belongs to the spool source.
    data = nullptr;
}

int HiveNetReadFileBuffer::fill() noexcept
{
    if (spoolSource == nullptr)
        return 1;
    const uint8_t* block = nullptr;
    uint64_t n = 0;
    int32_t more = 0;
    if (spoolSource->nextBlock(&block, &n, &more))
        return 1;
    if (n == 0 || block == nullptr || n > 0xFFFFFFFFu) {
        // Past the spooled rows: never read from an empty block.
        errPost(MSG_SERVER_CLOSED_CONNECTION)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
        return 1;
    }
    data = const_cast<uint8_t*>(block);
    size = frameBytes = frameEnd = uint32_t(n);
    if (negotiated && frameRemaining == 0)
        updateFrame();
    readPos = 0;
    return 0;
}

int HiveNetReadFileBuffer::appendToSpool(const void* bytes, size_t n) noexcept
{
    if (spoolSink == nullptr)
        return 1;
    auto* p = static_cast<const uint8_t*>(bytes);
    while (n > 0) {
        uint8_t* window = nullptr;
        uint64_t room = 0;
        int32_t more = 0;
        if (spoolSink->getWriteWindow(&window, &room, &more) || room == 0)
            return 1;
        size_t piece = room < n ? size_t(room) : n;
        memcpy(window, p, piece);
        if (spoolSink->commit(piece, 1))
            return 1;
        p += piece;
        n -= piece;
    }
    return 0;
}

HiveNetReadFileBufferHS2::HiveNetReadFileBufferHS2() noexcept = default;

HiveNetReadFileBufferHS2::~HiveNetReadFileBufferHS2()
{
    data = nullptr;
    if (ownSource != nullptr) {
        ownSource->release();
        delete ownSource;
    }
    if (ownSink != nullptr) {
        ownSink->release();
        delete ownSink;
    }
}

int HiveNetReadFileBufferHS2::spoolToTempFile(HiveStatement* /*statement*/) noexcept
{
    return protocolError("the statement's rows are spooled through its fetch state");
}

void HiveNetReadFileBufferHS2::resetSpool() noexcept
{
    data = nullptr;
    resetFrame();
    if (ownSource != nullptr)
        ownSource->release();
    if (ownSink != nullptr)
        (void)ownSink->reset();
}

int HiveNetReadFileBufferHS2::spoolRows(const HiveSpoolRequest& request) noexcept
{
    HiveFetchState* state = request.state;
    HiveNetReadBuffer* wire = state->readBuffer;
    if (ownSource == nullptr) {
        ownSource = new KaTmpFileSource();
        if (ownSource == nullptr)
            return 1;
    }
    if (ownSink == nullptr) {
        ownSink = new KaTmpFileSink(KA_TMP_SOURCE_BLOCK);
        if (ownSink == nullptr)
            return 1;
        if (ownSink->open())
            return 1;
    }
    // The source may still lend the sink's data of an earlier spool.
    resetSpool();
    spoolSink = ownSink;
    spoolSource = ownSource;
    // The spool buffer reads the source's blocks where they lie.
    chunkSize = 0;
    capacity = 0;
    if (!state->longDataCache) {
        // The rest of the current row: a value the application was reading
        // is passed, the values after it are kept.
        if (request.columnPosition > 0) {
            DataReader* r = request.readers[request.columnPosition - 1];
            const HiveReaderKind kind = hiveReaderKindOf(r->column->typeCode);
            if ((kind == HIVE_READER_STRING || kind == HIVE_READER_BINARY) &&
                static_cast<StreamDataReaderHS2*>(r)->finishPendingValue())
                return 1;
        }
        for (uint16_t c = request.columnPosition; c < request.columnCount; ++c) {
            if (static_cast<DataReaderHS2*>(request.readers[c])->copyToCache(ownSink, c))
                return 1;
        }
    }
    for (uint32_t row = 0; row < request.rowsAfterCurrent; ++row) {
        if (request.communicator->skipByte() || request.communicator->nextRow())
            return 1;
        for (uint16_t c = 0; c < request.columnCount; ++c) {
            if (static_cast<DataReaderHS2*>(request.readers[c])->copyToCache(ownSink, c))
                return 1;
        }
    }
    if (request.communicator->skipByte() || request.communicator->endReply())
        return 1;
    for (uint16_t c = 0; c < request.columnCount; ++c) {
        if (request.cacheReaders[c] == nullptr &&
            static_cast<DataReaderHS2*>(request.readers[c])->createCacheReader(&request.cacheReaders[c], c))
            return 1;
    }
    if (ownSink->commit(0, 0) || ownSink->toSource(ownSource))
        return 1;
    resultStyle = wire->resultStyle;
    connection = wire->connection;
    framed = 0;
    negotiated = 1;
    resetFrame();
    data = nullptr;
    // An empty spool is read by nobody; the first block is taken on first need.
    state->readBuffer = this;
    return 0;
}
