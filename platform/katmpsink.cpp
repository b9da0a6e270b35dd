// The temporary-file sink and source.
#include "platform/katmpsink.h"

#include <cerrno>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosfile.h"

namespace {

constexpr uint64_t kNoBlock = ~uint64_t(0);

}  // namespace

// ---- KaTmpFileSink -------------------------------------------------------------

KaTmpFileSink::KaTmpFileSink(uint64_t size) noexcept
    : KaDataSink(KA_STREAM_TMPFILE), buffer(nullptr), bufferSize(size), bufferPos(0), total(0), fd(0), fileBytes(0)
{
    bosTmpNameInit(&path);
}

KaTmpFileSink::~KaTmpFileSink()
{
    release();
}

int KaTmpFileSink::release() noexcept
{
    ramFree(buffer);
    buffer = nullptr;
    (void)bosfclose(fd);
    fd = 0;
    bosTmpDelete(&path);
    bufferPos = 0;
    total = 0;
    fileBytes = 0;
    return 0;
}

int KaTmpFileSink::truncateFile() noexcept
{
    int rc = 0;
    if (fd != 0) {
        rc = bosftrunc(fd, 0);
        (void)bosfclose(fd);
        fd = 0;
    } else if (path.path[0] != 0) {
        rc = bosftruncPath(path.path, 0);
    }
    return rc;
}

int KaTmpFileSink::open() noexcept
{
    return reset();
}

int KaTmpFileSink::reset() noexcept
{
    bufferPos = 0;
    total = 0;
    fileBytes = 0;
    return truncateFile();
}

int KaTmpFileSink::discard() noexcept
{
    return reset();
}

int KaTmpFileSink::openFile() noexcept
{
    if (fd != 0)
        return 0;
    if (path.path[0] == 0)
        return bosTmpCreate(&path, &fd);
    return bosTmpReopen(&path, &fd);
}

int KaTmpFileSink::spill(const void* data, uint64_t n) noexcept
{
    if (bosfwrite(fd, int64_t(fileBytes), data, n))
        return 1;
    fileBytes += n;
    return 0;
}

// The stream's last piece is in: the rest of the buffer goes to the file,
// which is closed.
int KaTmpFileSink::finishFile() noexcept
{
    if (bufferPos > 0 && spill(buffer, bufferPos))
        return 1;
    bufferPos = 0;
    (void)bosfclose(fd);
    fd = 0;
    return 0;
}

int KaTmpFileSink::write(const void* data, uint64_t n, int32_t more) noexcept
{
    if (buffer == nullptr) {
        buffer = static_cast<uint8_t*>(ramAlloc(bufferSize));
        if (buffer == nullptr)
            return 1;
    }
    const uint8_t* in = static_cast<const uint8_t*>(data);
    total += n;
    while (n > bufferSize - bufferPos) {
        if (openFile())
            return 1;
        uint64_t taken;
        if (bufferPos > 0) {
            taken = bufferSize - bufferPos;
            memcpy(buffer + bufferPos, in, taken);
            if (spill(buffer, bufferSize))
                return 1;
        } else {
            taken = bufferSize;
            if (spill(in, bufferSize))
                return 1;
        }
        bufferPos = 0;
        in += taken;
        n -= taken;
    }
    if (fd != 0 && more == 0 && bufferPos == 0) {
        if (n > 0 && spill(in, n))
            return 1;
        (void)bosfclose(fd);
        fd = 0;
        return 0;
    }
    if (n > 0)
        memcpy(buffer + bufferPos, in, n);
    bufferPos += n;
    if (fd != 0 && more == 0)
        return finishFile();
    return 0;
}

int KaTmpFileSink::getWriteWindow(uint8_t** window, uint64_t* size, int32_t* more) noexcept
{
    if (buffer != nullptr && bufferPos >= bufferSize) {
        if (openFile() || spill(buffer, bufferPos))
            return 1;
        bufferPos = 0;
    } else if (buffer == nullptr) {
        buffer = static_cast<uint8_t*>(ramAlloc(bufferSize));
        if (buffer == nullptr)
            return 1;
    }
    *window = buffer + bufferPos;
    *size = bufferSize - bufferPos;
    *more = 1;
    return 0;
}

int KaTmpFileSink::commit(uint64_t n, int32_t more) noexcept
{
    if (n > bufferSize - bufferPos)
        n = bufferSize - bufferPos;
    bufferPos += n;
    total += n;
    if (more == 0 && fd != 0)
        return finishFile();
    return 0;
}

int KaTmpFileSink::toSource(KaTmpFileSource* source) noexcept
{
    int32_t handed = 0;
    if (total > bufferSize) {
        if (fd != 0) {
            // A stream that was not finished with more 0 still has its tail
            // in the buffer: it goes to the file, or the source would lose it.
            if (bufferPos > 0 && spill(buffer, bufferPos))
                return 1;
            bufferPos = 0;
        } else if (bosTmpReopen(&path, &fd)) {
            return 1;
        }
        handed = fd;
    }
    source->release();
    source->buffer = buffer;
    source->blockSize = bufferSize;
    source->total = total;
    source->fd = handed;
    source->blockIndex = 0;
    source->position = 0;
    bosTmpNameInit(&source->path);
    source->borrowed = 1;
    // The buffer of a spilled stream is reloaded block by block.
    source->loadedBlock = total > bufferSize ? kNoBlock : 0;
    return 0;
}

// ---- KaTmpFileSource -----------------------------------------------------------

KaTmpFileSource::KaTmpFileSource(uint64_t size) noexcept
    : KaDataSource(KA_STREAM_TMPFILE), buffer(nullptr), blockSize(size), total(0), blockIndex(0), position(0), fd(0),
      borrowed(0), loadedBlock(0)
{
    bosTmpNameInit(&path);
}

KaTmpFileSource::~KaTmpFileSource()
{
    release();
}

int KaTmpFileSource::release() noexcept
{
    if (borrowed) {
        buffer = nullptr;
        fd = 0;
        borrowed = 0;
        return 0;
    }
    ramFree(buffer);
    buffer = nullptr;
    (void)bosfclose(fd);
    fd = 0;
    bosTmpDelete(&path);
    return 0;
}

int KaTmpFileSource::open() noexcept
{
    total = 0;
    position = 0;
    blockIndex = 0;
    loadedBlock = 0;
    return 0;
}

int KaTmpFileSource::rewind() noexcept
{
    position = 0;
    blockIndex = 0;
    return 0;
}

int KaTmpFileSource::finish() noexcept
{
    return release();
}

int KaTmpFileSource::load(uint64_t block) noexcept
{
    if (!spilled() || loadedBlock == block)
        return 0;
    if (fd == 0) {
        errPost(MSG_BAD_FILE_DESCRIPTOR);
        return 1;
    }
    uint64_t start = block * blockSize;
    uint64_t want = total - start < blockSize ? total - start : blockSize;
    uint64_t got = 0;
    if (bosfread(fd, int64_t(start), buffer, want, &got))
        return 1;
    if (got != want) {
        // The file lost bytes the stream counts: never hand out stale ones.
        loadedBlock = kNoBlock;
        errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(EIO);
        return 1;
    }
    loadedBlock = block;
    return 0;
}

int KaTmpFileSource::nextBlock(const uint8_t** block, uint64_t* blockLength, int32_t* more) noexcept
{
    *block = nullptr;
    *blockLength = 0;
    *more = 0;
    if (blockIndex * blockSize >= total)
        return 0;
    if (!spilled()) {
        ++blockIndex;
        *block = buffer;
        *blockLength = total;
        return 0;
    }
    if (load(blockIndex))
        return 1;
    ++blockIndex;
    *block = buffer;
    if (blockIndex * blockSize < total) {
        *blockLength = blockSize;
        *more = 1;
    } else {
        *blockLength = total - (blockIndex - 1) * blockSize;
    }
    return 0;
}

int KaTmpFileSource::read(void* out, uint64_t capacity, uint64_t* count, int32_t* more) noexcept
{
    *count = 0;
    *more = 0;
    if (position >= total)
        return 0;
    uint64_t n = total - position < capacity ? total - position : capacity;
    uint8_t* dst = static_cast<uint8_t*>(out);
    uint64_t left = n;
    while (left > 0) {
        uint64_t at = position % blockSize;
        if (spilled() && load(position / blockSize))
            return 1;
        uint64_t piece = blockSize - at < left ? blockSize - at : left;
        memcpy(dst, buffer + (spilled() ? at : position), piece);
        dst += piece;
        position += piece;
        left -= piece;
    }
    *count = n;
    *more = position < total ? 1 : 0;
    return 0;
}

int KaTmpFileSource::append(const void* data, uint64_t n) noexcept
{
    if (buffer == nullptr) {
        buffer = static_cast<uint8_t*>(ramAlloc(blockSize));
        if (buffer == nullptr)
            return 1;
    }
    const uint8_t* in = static_cast<const uint8_t*>(data);
    while (n > blockSize - position) {
        if (fd == 0 && bosTmpCreate(&path, &fd))
            return 1;
        uint64_t written = total - position;  // whole blocks already in the file
        uint64_t taken;
        if (position > 0) {
            taken = blockSize - position;
            memcpy(buffer + position, in, taken);
            if (bosfwrite(fd, int64_t(written), buffer, blockSize))
                return 1;
        } else {
            taken = blockSize;
            if (bosfwrite(fd, int64_t(written), in, blockSize))
                return 1;
        }
        total += taken;
        position = 0;
        in += taken;
        n -= taken;
    }
    if (n > 0)
        memcpy(buffer + position, in, n);
    position += n;
    total += n;
    return 0;
}

int KaTmpFileSource::flush() noexcept
{
    if (fd != 0) {
        if (position > 0 && bosfwrite(fd, int64_t(total - position), buffer, position))
            return 1;
        loadedBlock = kNoBlock;
    } else {
        loadedBlock = 0;
    }
    return rewind();
}

void KaTmpFileSource::close() noexcept
{
    if (fd != 0 && !borrowed) {
        (void)bosfclose(fd);
        fd = 0;
        bosTmpDelete(&path);
    }
    total = 0;
    position = 0;
    loadedBlock = 0;
}

int KaTmpFileSource::seek(uint64_t offset) noexcept
{
    if (offset == position)
        return 0;
    if (offset > total)
        return 1;
    position = offset;
    blockIndex = offset / blockSize;
    if (fd != 0 && spilled() && offset < total)
        return load(blockIndex);
    return 0;
}

int KaTmpFileSource::readWindow(const uint8_t** window, uint64_t n, uint64_t* length, int32_t* more) noexcept
{
    if (position >= total || n > total - position)
        return 1;
    if (spilled() && load(position / blockSize))
        return 1;
    uint64_t at = spilled() ? position % blockSize : position;
    uint64_t len = n;
    if (spilled() && blockSize - at < len)
        len = blockSize - at;
    *window = buffer + at;
    *length = len;
    position += len;
    *more = position < total ? 1 : 0;
    return 0;
}
