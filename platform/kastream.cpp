// The stream interfaces and their memory-backed kinds.
#include "platform/kastream.h"

#include <cstring>

#include "foundation/kaowner.h"
#include "foundation/ram.h"

namespace {

// A stream holds as many chunks as its value is long: the list doubles.
constexpr size_t kChunkGrowStep = 0;

// Appends n bytes to a chunk list whose current chunk is chunks[*index],
// filled up to *position; a chunk is allocated only when a byte needs it.
// total grows by each piece as it is stored, so that after a failed
// allocation it counts exactly the bytes kept.
int chunkAppend(KaArrayPVoid& chunks, uint64_t chunkSize, uint64_t* index, uint64_t* position, uint64_t* total,
                const void* data, uint64_t n) noexcept
{
    const uint8_t* in = static_cast<const uint8_t*>(data);
    if (chunks.count == 0) {
        *index = 0;
        *position = 0;
    }
    while (n > 0) {
        if (chunks.count == 0 || *position == chunkSize) {
            RamPtr<uint8_t> chunk = ramMake<uint8_t>(chunkSize);
            if (!chunk || chunks.append(chunk.get()) != 0)
                return 1;
            (void)chunk.release();
            *index = chunks.count - 1;
            *position = 0;
        }
        uint64_t room = chunkSize - *position;
        uint64_t piece = n < room ? n : room;
        memcpy(static_cast<uint8_t*>(chunks.at(*index)) + *position, in, piece);
        *position += piece;
        *total += piece;
        in += piece;
        n -= piece;
    }
    return 0;
}

// Copies min(n, total - offset) bytes from offset across chunk borders.
uint64_t chunkRead(const KaArrayPVoid& chunks, uint64_t chunkSize, uint64_t total, uint64_t offset, void* buffer,
                   uint64_t n) noexcept
{
    if (offset >= total)
        return 0;
    if (n > total - offset)
        n = total - offset;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint64_t left = n;
    while (left > 0) {
        uint64_t at = offset % chunkSize;
        uint64_t piece = chunkSize - at < left ? chunkSize - at : left;
        memcpy(out, static_cast<const uint8_t*>(chunks.at(offset / chunkSize)) + at, piece);
        out += piece;
        offset += piece;
        left -= piece;
    }
    return n;
}

void chunkFreeAll(KaArrayPVoid& chunks) noexcept
{
    while (chunks.count > 0) {
        ramFree(chunks.at(chunks.count - 1));
        chunks.removeAt(chunks.count - 1);
    }
}

KaMemorySource staticSource;

}  // namespace

KaDataSource::~KaDataSource() = default;
KaDataSink::~KaDataSink() = default;

// ---- KaMemorySource ----------------------------------------------------------

KaMemorySource::~KaMemorySource()
{
    release();
}

int KaMemorySource::release() noexcept
{
    if (owns) {
        ramFree(const_cast<uint8_t*>(data));
        data = nullptr;
    }
    return 0;
}

int KaMemorySource::open() noexcept
{
    position = 0;
    return 0;
}

int KaMemorySource::rewind() noexcept
{
    position = 0;
    return 0;
}

int KaMemorySource::nextBlock(const uint8_t** block, uint64_t* blockLength, int32_t* more) noexcept
{
    *block = data;
    *blockLength = length;
    *more = 0;
    return 0;
}

int KaMemorySource::read(void* buffer, uint64_t capacity, uint64_t* count, int32_t* more) noexcept
{
    uint64_t left = length - position;
    uint64_t n = capacity < left ? capacity : left;
    if (n > 0)
        memcpy(buffer, data + position, n);
    position += n;
    *count = n;
    *more = capacity < left ? 1 : 0;
    return 0;
}

void KaMemorySource::attach(const void* bytes, uint64_t n) noexcept
{
    release();
    data = static_cast<const uint8_t*>(bytes);
    length = n;
    owns = 0;
    position = 0;
}

KaMemorySource* KaStaticMemorySource() noexcept
{
    return &staticSource;
}

// ---- KaMemorySink ------------------------------------------------------------

KaMemorySink::~KaMemorySink()
{
    release();
}

int KaMemorySink::release() noexcept
{
    if (owns) {
        ramFree(buffer);
        buffer = nullptr;
    }
    return 0;
}

int KaMemorySink::open() noexcept
{
    position = 0;
    truncated = 0;
    return 0;
}

int KaMemorySink::reset() noexcept
{
    return open();
}

int KaMemorySink::write(const void* data, uint64_t n, int32_t) noexcept
{
    if (n > capacity - position) {
        truncated = 1;
        n = capacity - position;
    }
    if (n > 0)
        memcpy(buffer + position, data, n);
    position += n;
    return 0;
}

int KaMemorySink::getWriteWindow(uint8_t** window, uint64_t* size, int32_t* more) noexcept
{
    *window = buffer;
    *size = capacity;
    *more = 0;
    return 0;
}

int KaMemorySink::commit(uint64_t n, int32_t more) noexcept
{
    if (n > capacity - position)
        n = capacity - position;
    position += n;
    truncated = more;
    return 0;
}

void KaMemorySink::attach(void* bytes, uint64_t n) noexcept
{
    release();
    buffer = static_cast<uint8_t*>(bytes);
    capacity = n;
    owns = 0;
    truncated = 0;
    position = 0;
}

// ---- KaMultiMemorySource -------------------------------------------------------

KaMultiMemorySource::KaMultiMemorySource(uint64_t size) noexcept
    : KaDataSource(KA_STREAM_MULTI_MEMORY), chunkSize(size), chunkIndex(0), position(0), total(0)
{
    chunks.growStep = kChunkGrowStep;
}

KaMultiMemorySource::~KaMultiMemorySource()
{
    release();
}

int KaMultiMemorySource::release() noexcept
{
    chunkFreeAll(chunks);
    return 0;
}

int KaMultiMemorySource::open() noexcept
{
    chunkIndex = 0;
    position = 0;
    total = 0;
    return 0;
}

int KaMultiMemorySource::rewind() noexcept
{
    chunkIndex = 0;
    position = 0;
    return 0;
}

int KaMultiMemorySource::append(const void* data, uint64_t n) noexcept
{
    return chunkAppend(chunks, chunkSize, &chunkIndex, &position, &total, data, n);
}

int KaMultiMemorySource::nextBlock(const uint8_t** block, uint64_t* blockLength, int32_t* more) noexcept
{
    if (chunkIndex >= chunks.count || total == 0) {
        *block = nullptr;
        *blockLength = 0;
        *more = 0;
        return 0;
    }
    *block = static_cast<const uint8_t*>(chunks.at(chunkIndex));
    ++chunkIndex;
    // The blocks are counted from total, so a list that holds a chunk more
    // than the data needs still ends with the data's own last chunk.
    uint64_t used = (total + chunkSize - 1) / chunkSize;
    if (chunkIndex < used) {
        *blockLength = chunkSize;
        *more = 1;
    } else {
        *blockLength = total - (used - 1) * chunkSize;
        *more = 0;
        chunkIndex = chunks.count;
    }
    return 0;
}

int KaMultiMemorySource::read(void* buffer, uint64_t capacity, uint64_t* count, int32_t* more) noexcept
{
    uint64_t n = chunkRead(chunks, chunkSize, total, position, buffer, capacity);
    position += n;
    *count = n;
    *more = position < total ? 1 : 0;
    return 0;
}

int KaMultiMemorySource::finish() noexcept
{
    return release();
}

// ---- KaMultiMemorySink ---------------------------------------------------------

KaMultiMemorySink::KaMultiMemorySink(uint64_t size) noexcept
    : KaDataSink(KA_STREAM_MULTI_MEMORY), chunkSize(size), chunkIndex(0), position(0), total(0)
{
    chunks.growStep = kChunkGrowStep;
}

KaMultiMemorySink::~KaMultiMemorySink()
{
    release();
}

int KaMultiMemorySink::release() noexcept
{
    chunkFreeAll(chunks);
    total = 0;
    return 0;
}

int KaMultiMemorySink::open() noexcept
{
    chunkIndex = 0;
    position = 0;
    return 0;
}

int KaMultiMemorySink::reset() noexcept
{
    release();
    return open();
}

int KaMultiMemorySink::write(const void* data, uint64_t n, int32_t) noexcept
{
    return chunkAppend(chunks, chunkSize, &chunkIndex, &position, &total, data, n);
}

int KaMultiMemorySink::getWriteWindow(uint8_t** window, uint64_t* size, int32_t* more) noexcept
{
    RamPtr<uint8_t> chunk = ramMake<uint8_t>(chunkSize);
    if (!chunk || chunks.append(chunk.get()) != 0)
        return 1;
    *window = chunk.release();
    *size = chunkSize;
    *more = 1;
    return 0;
}

int KaMultiMemorySink::commit(uint64_t n, int32_t) noexcept
{
    total += n;
    return 0;
}

int KaMultiMemorySink::discard() noexcept
{
    return release();
}

// ---- MemFile -------------------------------------------------------------------

MemFile::MemFile(uint64_t size) noexcept : chunkSize(size), chunkIndex(0), position(0), total(0)
{
    chunks.growStep = kChunkGrowStep;
}

MemFile::~MemFile()
{
    clear();
}

void MemFile::clear() noexcept
{
    chunkIndex = 0;
    position = 0;
    total = 0;
    chunkFreeAll(chunks);
}

int MemFile::append(const void* data, uint64_t n) noexcept
{
    return chunkAppend(chunks, chunkSize, &chunkIndex, &position, &total, data, n);
}

int MemFile::readAt(uint64_t offset, void* buffer, uint64_t n) const noexcept
{
    chunkRead(chunks, chunkSize, total, offset, buffer, n);
    return 0;
}

void MemFile::windowAt(uint64_t offset, const uint8_t** window, uint64_t* length) const noexcept
{
    if (offset >= total) {
        *window = nullptr;
        *length = 0;
        return;
    }
    uint64_t at = offset % chunkSize;
    *window = static_cast<const uint8_t*>(chunks.at(offset / chunkSize)) + at;
    uint64_t toEnd = total - offset;
    *length = chunkSize - at < toEnd ? chunkSize - at : toEnd;
}
