// The reply data source: a value handed out in place from the read buffer.
#include "hive/hivenetsource.h"

#include <cstring>

#include "foundation/ram.h"
#include "hive/hivenetread.h"
#include "hive/hivereader.h"
#include "hive/hivereaders.h"
#include "hive/hivestatement.h"

HiveNetSourceHS2::HiveNetSourceHS2() noexcept
    : KaDataSource(KA_STREAM_NETWORK), ownBuffer(nullptr), blockSize(0), valueLength(0), finishFlag(0), delivered(0),
      abandoned(0), state(nullptr)
{}

HiveNetSourceHS2::~HiveNetSourceHS2()
{
    release();
}

int HiveNetSourceHS2::release() noexcept
{
    ramFree(ownBuffer);
    ownBuffer = nullptr;
    return 0;
}

int HiveNetSourceHS2::open() noexcept
{
    valueLength = 0;
    delivered = 0;
    finishFlag = 0;
    abandoned = 0;
    return 0;
}

void HiveNetSourceHS2::abandon() noexcept
{
    abandoned = isDone() ? 0 : 1;
    delivered = valueLength;
}

namespace {

// Another statement may have taken the wire between two pieces, the rest
// of this statement's reply then waits parked: it goes back on the wire
// before the value reads on.
int resumeReply(const HiveFetchState* state) noexcept
{
    auto* stmt = dynamic_cast<HiveStatement*>(state->statement);
    return stmt != nullptr && stmt->resumeParkedReply() != 0 ? 1 : 0;
}

int refuseAbandoned() noexcept
{
    return hiveColumnDataError("the rest of the value was passed when another statement used the connection; "
                               "without the long-data cache a long value must be read before another statement "
                               "runs on the connection");
}

}  // namespace

int HiveNetSourceHS2::rewind() noexcept
{
    return open();
}

int HiveNetSourceHS2::attach(HiveFetchState* fetchState, int32_t finish, int64_t length) noexcept
{
    state = fetchState;
    finishFlag = finish;
    valueLength = length < 0 ? 0 : length;
    delivered = 0;
    abandoned = 0;
    if (ownBuffer == nullptr) {
        const HiveNetReadBuffer* in = state != nullptr ? state->readBuffer : nullptr;
        const uint64_t capacity = in != nullptr ? (uint64_t(in->capacity) + 7) / 8 * 8 : 0;
        blockSize = capacity < kHiveNetSourceMinBlock ? kHiveNetSourceMinBlock : capacity;
    }
    return 0;
}

int HiveNetSourceHS2::nextBlock(const uint8_t** data, uint64_t* length, int32_t* more) noexcept
{
    *data = nullptr;
    *length = 0;
    *more = 0;
    if (abandoned != 0)
        return refuseAbandoned();
    if (isDone())
        return 0;
    if (resumeReply(state) != 0)
        return 1;
    HiveNetReadBuffer* in = state->readBuffer;
    if (in->readPos >= in->frameEnd) {
        // The byte the refill brings is part of this piece.
        uint8_t first = 0;
        if (in->readByte(&first))
            return 1;
        --in->readPos;
    }
    uint64_t piece = in->frameEnd - in->readPos;
    const uint64_t left = uint64_t(valueLength - delivered);
    if (piece > left)
        piece = left;
    // The block is copied out: a reader may hold it past its next call,
    // while the reply is parked for another statement and the read buffer
    // filled anew.
    if (ownBuffer == nullptr && (ownBuffer = static_cast<uint8_t*>(ramAlloc(size_t(blockSize)))) == nullptr)
        return 1;
    if (piece > blockSize)
        piece = blockSize;
    memcpy(ownBuffer, in->data + in->readPos, size_t(piece));
    *data = ownBuffer;
    *length = piece;
    in->readPos += uint32_t(piece);
    delivered += int64_t(piece);
    *more = delivered < valueLength;
    return 0;
}

int HiveNetSourceHS2::read(void* buffer, uint64_t capacity, uint64_t* count, int32_t* more) noexcept
{
    *count = 0;
    *more = 0;
    if (abandoned != 0)
        return refuseAbandoned();
    if (isDone())
        return 0;
    if (resumeReply(state) != 0)
        return 1;
    const uint64_t left = uint64_t(valueLength - delivered);
    const uint64_t n = capacity < left ? capacity : left;
    if (n > 0 && state->readBuffer->readBytes(buffer, size_t(n)))
        return 1;
    delivered += int64_t(n);
    *count = n;
    *more = delivered < valueLength;
    return 0;
}

int HiveNetSourceHS2::finish() noexcept
{
    const int32_t how = finishFlag;
    if (how == HIVE_SOURCE_KEEP)
        return 0;
    finishFlag = HIVE_SOURCE_KEEP;
    HiveNetReadBuffer* in = state->readBuffer;
    const uint64_t rest = uint64_t(valueLength - delivered);
    delivered = valueLength;
    if (in->skipBytes(rest))
        return 1;
    return how == HIVE_SOURCE_PASS_STOPS ? in->skipBytes(2) : 0;
}
