// The reply data source: a value handed out in place from the read buffer.
#include "hive/hivenetsource.h"

#include <cstring>

#include "foundation/ram.h"
#include "hive/hivenetread.h"
#include "hive/hivereader.h"

HiveNetSourceHS2::HiveNetSourceHS2() noexcept
    : KaDataSource(KA_STREAM_NETWORK), ownBuffer(nullptr), blockSize(0), valueLength(0), finishFlag(0), delivered(0),
      state(nullptr)
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
    return 0;
}

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
    if (isDone())
        return 0;
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
    *data = in->data + in->readPos;
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
    if (isDone())
        return 0;
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
