// The Thrift write buffer: composing into the sink and sending one frame.
#include "hive/hivenetwrite.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "transport/basehttpsocket.h"
#include "transport/basesocket.h"

HiveNetWriteBuffer::HiveNetWriteBuffer() noexcept
    : connection(nullptr), socket(nullptr), window(nullptr), windowSize(0), sink(kHiveWriteBlockSize),
      source(kHiveWriteBlockSize), length(0), framing(0), httpTransport(0)
{}

HiveNetWriteBuffer::~HiveNetWriteBuffer()
{
    // The source may hold the sink's buffer: it lets go first.
    source.release();
}

int HiveNetWriteBuffer::takeWindow() noexcept
{
    uint64_t size = 0;
    int32_t more = 0;
    if (sink.getWriteWindow(&window, &size, &more))
        return 1;
    windowSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(size);
    length = 0;
    return 0;
}

int HiveNetWriteBuffer::attach(HiveConnection* conn, BaseSocket* sock) noexcept
{
    connection = conn;
    socket = sock;
    writeFailed = 0;
    source.release();
    if (sink.open() || sink.discard())
        return 1;
    return takeWindow();
}

int HiveNetWriteBuffer::writeByte(uint8_t b) noexcept
{
    if (length >= windowSize && flushChunk(0))
        return 1;
    window[length++] = b;
    return 0;
}

int HiveNetWriteBuffer::writeBytes(const void* data, size_t n) noexcept
{
    auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        if (length >= windowSize && flushChunk(0))
            return 1;
        size_t piece = windowSize - length;
        if (piece > n)
            piece = n;
        memcpy(window + length, p, piece);
        length += uint32_t(piece);
        p += piece;
        n -= piece;
    }
    return 0;
}

int HiveNetWriteBuffer::refuseLongString(uint64_t bytes) noexcept
{
    errPost(MSG_HIVE_TEXT_TOO_LONG)
        ->setSqlstateMsg(MSG_SQLSTATE_STRING_TRUNCATION)
        ->addParamUnsigned(bytes)
        ->addParamUnsigned(kHiveMaxStringBytes);
    source.release();
    length = 0;
    // Refused either way; a sink that does not let go fails the next write.
    static_cast<void>(sink.discard() || sink.reset() || takeWindow());
    return 1;
}

int HiveNetWriteBuffer::writeBigEndian(uint64_t value, uint32_t n) noexcept
{
    for (uint32_t i = n; i > 0; --i) {
        if (put(uint8_t(value >> (8 * (i - 1)))))
            return 1;
    }
    return 0;
}

int HiveNetWriteBuffer::writeString(const void* data, size_t n) noexcept
{
    if (n > kHiveMaxStringBytes)
        return refuseLongString(n);
    if (writeBigEndian(uint32_t(n), 4))
        return 1;
    if (n == 0)
        return 0;
    if (windowSize - length >= n) {
        memcpy(window + length, data, n);
        length += uint32_t(n);
        return 0;
    }
    return writeBytes(data, n);
}

int HiveNetWriteBuffer::writeMessageBegin(int32_t type, const char* name, size_t nameLength,
                                          int32_t sequenceId) noexcept
{
    if (writeBigEndian(kHiveThriftVersion1 | uint32_t(type), 4) || writeString(name, nameLength))
        return 1;
    return writeBigEndian(uint32_t(sequenceId), 4);
}

int HiveNetWriteBuffer::writeFieldBegin(uint8_t type, int16_t id) noexcept
{
    return put(type) || writeBigEndian(uint16_t(id), 2);
}

int HiveNetWriteBuffer::writeStructFieldBegin(int16_t id) noexcept
{
    return writeFieldBegin(HIVE_T_STRUCT, id);
}

int HiveNetWriteBuffer::writeFieldStop() noexcept
{
    return put(HIVE_T_STOP);
}

int HiveNetWriteBuffer::writeListFieldBegin(int16_t id, uint8_t elementType, int32_t count) noexcept
{
    return writeFieldBegin(HIVE_T_LIST, id) || put(elementType) || writeBigEndian(uint32_t(count), 4);
}

int HiveNetWriteBuffer::flushChunk(int32_t discard) noexcept
{
    if (discard != 0) {
        source.release();
        if (sink.reset())
            return 1;
        return takeWindow();
    }
    if (sink.commit(length, 1))
        return 1;
    return takeWindow();
}

int HiveNetWriteBuffer::flush() noexcept
{
    return send();
}

int HiveNetWriteBuffer::send() noexcept
{
    if (socket == nullptr)
        return 1;
    int rc = sink.commit(length, 0) || sink.toSource(&source);
    if (rc == 0) {
        const KaDiagMark mark;
        rc = sendSource();
        // A socket write that fails leaves the server at most part of the
        // message, which it never runs; over HTTP the failure may come after
        // the whole request went out.
        if (rc != 0 && httpTransport == 0)
            baseMarkRequestUnsent(mark.list(), mark.start(), kBaseIdxLinkFailure);
    }
    // Sent or not, the message is gone: a half-sent one must not lead the
    // next request.
    source.release();
    if (sink.discard() || sink.reset() || takeWindow())
        rc = 1;
    return rc;
}

int HiveNetWriteBuffer::sendSource() noexcept
{
    length = 0;
    windowSize = 0;
    // On HTTP the POST announces the message's length, however many writes
    // carry it.
    if (framing != 0 && httpTransport != 0) {
        if (source.total > 0xFFFFFFFFu)
            return 1;
        if (auto* http = dynamic_cast<BaseHTTPSocket*>(socket))
            http->announceBody(uint32_t(source.total));
    }
    if (framing != 0 && httpTransport == 0) {
        uint64_t total = source.total;
        if (total > kHiveMaxFrameBytes) {
            // Refused before a byte is written: the connection stays usable.
            errPost(MSG_HIVE_REQUEST_TOO_LONG)
                ->setSqlstateMsg(MSG_SQLSTATE_STRING_TRUNCATION)
                ->addParamUnsigned(total)
                ->addParamUnsigned(kHiveMaxFrameBytes);
            return 1;
        }
        uint8_t head[4] = {uint8_t(total >> 24), uint8_t(total >> 16), uint8_t(total >> 8), uint8_t(total)};
        if (writeSocket(head, 4))
            return 1;
    }
    for (;;) {
        const uint8_t* block = nullptr;
        uint64_t n = 0;
        int32_t more = 0;
        if (source.nextBlock(&block, &n, &more))
            return 1;
        if (n == 0)
            return 0;
        if (writeSocket(block, size_t(n)))
            return 1;
        if (more == 0)
            return 0;
    }
}

int HiveNetWriteBuffer::sendFramed(const void* block, size_t n) noexcept
{
    if (socket == nullptr || n > 0x7FFFFFFF)
        return 1;
    if (httpTransport == 0) {
        uint8_t head[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        if (writeSocket(head, 4))
            return 1;
    }
    return writeSocket(block, n);
}

int HiveNetWriteBuffer::writeSocket(const void* bytes, size_t n) noexcept
{
    if (socket->write(bytes, n, 0) == 0)
        return 0;
    // Over HTTP every request is a POST of its own: a failed one leaves
    // nothing behind for the next.
    if (httpTransport == 0)
        writeFailed = 1;
    return 1;
}
