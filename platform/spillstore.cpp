// The block temporary file: two blocks in memory, older data in a private
// file, a read cache and a write window over the file part.
#include "platform/spillstore.h"

#include <cerrno>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosfile.h"

namespace {

uint64_t minU64(uint64_t a, uint64_t b)
{
    return a < b ? a : b;
}

void reverseBytes(uint8_t* p, uint64_t n)
{
    for (uint64_t i = 0; i < n / 2; ++i) {
        uint8_t t = p[i];
        p[i] = p[n - 1 - i];
        p[n - 1 - i] = t;
    }
}

}  // namespace

KaWireStream::~KaWireStream() = default;

BlkTmpFile::BlkTmpFile(uint64_t size) noexcept
    : block{{nullptr, 0, 0}, {nullptr, 0, 0}}, current(0), blockSize(size), total(0), position(0), fd(0), path(nullptr),
      fileLength(0), window(nullptr), windowLength(0), windowStart(0), windowDirty(0), readCache(nullptr),
      readCacheLength(0), readCacheStart(0), orderFlag(1), swapFlag(0), lastStream(nullptr)
{}

BlkTmpFile::~BlkTmpFile()
{
    ramFree(window);
    ramFree(readCache);
    ramFree(block[0].data);
    ramFree(block[1].data);
    bosTmpDiscard(&path, &fd);
}

int BlkTmpFile::reset(int16_t order) noexcept
{
    orderFlag = order;
    swapFlag = order != 0 ? 1 : 0;
    for (BlkTmpBlock& b : block) {
        ramFree(b.data);
        b.data = static_cast<uint8_t*>(ramAlloc(blockSize));
        if (b.data == nullptr)
            return 1;
    }
    // Fresh blocks hold none of the old data: the store starts empty.
    clear();
    return 0;
}

int BlkTmpFile::ensureFile() noexcept
{
    return bosTmpOpen(&path, &fd);
}

int BlkTmpFile::fileRead(uint64_t offset, void* buffer, uint64_t n) noexcept
{
    if (ensureFile())
        return 1;
    uint64_t got = 0;
    if (bosfread(fd, int64_t(offset), buffer, n, &got))
        return 1;
    if (got != n) {
        // The file lost bytes the store counts: never hand out stale ones.
        errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(EIO);
        return 1;
    }
    return 0;
}

int BlkTmpFile::fileWrite(uint64_t offset, const void* data, uint64_t n) noexcept
{
    if (ensureFile())
        return 1;
    return bosfwrite(fd, int64_t(offset), data, n);
}

int BlkTmpFile::switchBlocks() noexcept
{
    if (ensureFile())
        return 1;
    BlkTmpBlock& p = prev();
    if (p.fill > 0) {
        if (fileWrite(fileLength, p.data, p.fill))
            return 1;
        fileLength += p.fill;
        p.fill = 0;
    }
    p.start = cur().start + blockSize;
    current = 1 - current;
    return 0;
}

int BlkTmpFile::append(const void* data, uint64_t n) noexcept
{
    const uint8_t* in = static_cast<const uint8_t*>(data);
    position += n;
    while (blockSize < cur().fill + n) {
        BlkTmpBlock& c = cur();
        uint64_t room = blockSize - c.fill;
        // The previous block is written before the current one is topped up,
        // so a failed write leaves the data as it was.
        BlkTmpBlock& p = prev();
        if (p.fill > 0 || path == nullptr) {
            if (ensureFile())
                return 1;
            if (p.fill > 0) {
                if (fileWrite(fileLength, p.data, p.fill))
                    return 1;
                fileLength += p.fill;
                p.fill = 0;
            }
        }
        memcpy(c.data + c.fill, in, room);
        c.fill += room;
        total += room;
        in += room;
        n -= room;
        p.start = c.start + blockSize;
        current = 1 - current;
    }
    if (n > 0) {
        memcpy(cur().data + cur().fill, in, n);
        cur().fill += n;
        total += n;
    }
    return 0;
}

void BlkTmpFile::refreshCopies(uint64_t offset, const void* data, uint64_t n, bool intoWindow) noexcept
{
    const uint8_t* in = static_cast<const uint8_t*>(data);
    auto overlay = [&](uint8_t* copy, uint64_t start, uint64_t length) {
        if (copy == nullptr || length == 0)
            return;
        uint64_t lo = offset > start ? offset : start;
        uint64_t hi = minU64(offset + n, start + length);
        if (lo < hi)
            memcpy(copy + (lo - start), in + (lo - offset), hi - lo);
    };
    overlay(readCache, readCacheStart, readCacheLength);
    if (intoWindow)
        overlay(window, windowStart, windowLength);
}

int BlkTmpFile::writeBackWindow() noexcept
{
    if (!windowDirty || windowLength == 0)
        return 0;
    if (fileWrite(windowStart, window, windowLength))
        return 1;
    refreshCopies(windowStart, window, windowLength, false);
    return 0;
}

int BlkTmpFile::writeAt(uint64_t offset, const void* data, uint64_t n) noexcept
{
    if (offset > total)
        return 1;
    if (offset == cur().start + cur().fill)
        return append(data, n);
    const uint8_t* in = static_cast<const uint8_t*>(data);
    if (offset < fileLength) {
        uint64_t k = minU64(n, fileLength - offset);
        if (fileWrite(offset, in, k))
            return 1;
        // A dirty window written back later must carry these bytes too.
        refreshCopies(offset, in, k, true);
        offset += k;
        in += k;
        n -= k;
    }
    BlkTmpBlock& p = prev();
    if (n > 0 && p.fill > 0 && offset >= p.start && offset < p.start + p.fill) {
        uint64_t k = minU64(n, p.start + p.fill - offset);
        memcpy(p.data + (offset - p.start), in, k);
        offset += k;
        in += k;
        n -= k;
    }
    if (n == 0)
        return 0;
    BlkTmpBlock& c = cur();
    uint64_t rel = offset - c.start;
    if (rel + n > blockSize) {
        uint64_t k = c.fill - rel;
        memcpy(c.data + rel, in, k);
        return append(in + k, n - k);
    }
    memcpy(c.data + rel, in, n);
    if (rel + n > c.fill) {
        total += rel + n - c.fill;
        c.fill = rel + n;
    }
    return 0;
}

int BlkTmpFile::readAt(uint64_t offset, void* buffer, uint64_t n) noexcept
{
    if (offset > total || n > total - offset)
        return 1;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    const uint64_t first = offset;
    uint8_t* const firstOut = out;
    if (offset < fileLength) {
        uint64_t k = minU64(n, fileLength - offset);
        uint64_t left = k;
        while (left > 0) {
            if (readCacheLength > 0 && offset >= readCacheStart && offset < readCacheStart + readCacheLength) {
                uint64_t piece = minU64(left, readCacheStart + readCacheLength - offset);
                memcpy(out, readCache + (offset - readCacheStart), piece);
                out += piece;
                offset += piece;
                left -= piece;
                continue;
            }
            if (left > blockSize || n > k) {
                if (fileRead(offset, out, left))
                    return 1;
                out += left;
                offset += left;
                left = 0;
                continue;
            }
            if (readCache == nullptr) {
                readCache = static_cast<uint8_t*>(ramAlloc(blockSize));
                if (readCache == nullptr)
                    return 1;
            }
            uint64_t want = minU64(blockSize, fileLength - offset);
            readCacheLength = 0;
            if (fileRead(offset, readCache, want))
                return 1;
            readCacheStart = offset;
            readCacheLength = want;
        }
        // Bytes changed through a window and not yet written back are the
        // latest ones.
        if (windowDirty && windowLength > 0) {
            uint64_t lo = first > windowStart ? first : windowStart;
            uint64_t hi = minU64(first + k, windowStart + windowLength);
            if (lo < hi)
                memcpy(firstOut + (lo - first), window + (lo - windowStart), hi - lo);
        }
        n -= k;
    }
    BlkTmpBlock& p = prev();
    if (n > 0 && p.fill > 0 && offset >= p.start && offset < p.start + p.fill) {
        uint64_t piece = minU64(n, p.start + p.fill - offset);
        memcpy(out, p.data + (offset - p.start), piece);
        out += piece;
        offset += piece;
        n -= piece;
    }
    if (n == 0)
        return 0;
    BlkTmpBlock& c = cur();
    if (offset < c.start || offset + n > c.start + c.fill)
        return 1;
    memcpy(out, c.data + (offset - c.start), n);
    return 0;
}

int BlkTmpFile::windowAt(uint64_t offset, uint8_t** pointer, uint64_t* length, int forWrite) noexcept
{
    *pointer = nullptr;
    *length = 0;
    if (writeBackWindow())
        return 1;
    windowDirty = 0;
    if (offset < fileLength) {
        if (window == nullptr) {
            window = static_cast<uint8_t*>(ramAlloc(blockSize));
            if (window == nullptr)
                return 1;
        }
        uint64_t n = minU64(blockSize, fileLength - offset);
        windowLength = 0;
        if (fileRead(offset, window, n))
            return 1;
        windowStart = offset;
        windowLength = n;
        windowDirty = forWrite ? 1 : 0;
        *pointer = window;
        *length = n;
        return 0;
    }
    windowLength = 0;
    windowStart = 0;
    BlkTmpBlock& p = prev();
    BlkTmpBlock* b = (p.fill > 0 && offset >= p.start && offset < p.start + p.fill) ? &p : &cur();
    if (offset < b->start)
        return 0;
    uint64_t rel = offset - b->start;
    if (rel < b->fill) {
        *pointer = b->data + rel;
        *length = b->fill - rel;
    }
    return 0;
}

int BlkTmpFile::truncate(uint64_t count) noexcept
{
    if (count >= total)
        return 0;
    if (writeBackWindow())
        return 1;
    windowDirty = 0;
    windowLength = 0;
    readCacheLength = 0;
    BlkTmpBlock& c = cur();
    BlkTmpBlock& p = prev();
    if (count >= c.start) {
        c.fill = count - c.start;
    } else if (p.fill > 0 && count >= p.start) {
        p.fill = count - p.start;
        c.fill = 0;
        current = 1 - current;
    } else {
        uint64_t b = count / blockSize * blockSize;
        if (fileRead(b, c.data, count - b))
            return 1;
        fileLength = b;
        c.start = b;
        c.fill = count - b;
        p.fill = 0;
        p.start = b;
    }
    total = position = count;
    return 0;
}

int BlkTmpFile::fillFromStream(KaWireStream* stream, uint64_t n, int32_t wait, int32_t* wouldBlock) noexcept
{
    lastStream = stream;
    if (wouldBlock != nullptr)
        *wouldBlock = 0;
    while (n > 0) {
        if (cur().fill == blockSize && switchBlocks())
            return 1;
        BlkTmpBlock& c = cur();
        uint64_t want = minU64(minU64(n, KA_BLK_RECEIVE_PIECE), blockSize - c.fill);
        uint64_t got = 0;
        int rc = stream->receive(c.data + c.fill, want, &got, wait);
        if (rc == KA_WIRE_INTERRUPTED)
            continue;
        if (rc == KA_WIRE_NO_DATA) {
            if (wouldBlock == nullptr)
                return 1;
            *wouldBlock = 1;
            return 0;
        }
        if (rc != 0)
            return 1;
        if (got == 0)
            break;  // the peer has nothing more; the caller sees the count
        if (got > want)
            got = want;
        c.fill += got;
        total += got;
        position += got;
        n -= got;
    }
    return 0;
}

int BlkTmpFile::copyFrom(uint64_t offset, BlkTmpFile* other, uint64_t n) noexcept
{
    while (n > 0) {
        uint8_t* p = nullptr;
        uint64_t len = 0;
        if (other->windowAt(offset, &p, &len, 0) || len == 0)
            return 1;
        uint64_t k = minU64(len, n);
        if (append(p, k))
            return 1;
        offset += k;
        n -= k;
    }
    return 0;
}

int BlkTmpFile::writeToWire(uint64_t offset, KaWireStream* stream, uint64_t n) noexcept
{
    // Window bytes not yet in the file are sent as the file then holds them.
    if (writeBackWindow())
        return 1;
    while (n > 0 && offset < fileLength) {
        if (readCacheLength == 0 || offset < readCacheStart || offset >= readCacheStart + readCacheLength) {
            if (readCache == nullptr) {
                readCache = static_cast<uint8_t*>(ramAlloc(blockSize));
                if (readCache == nullptr)
                    return 1;
            }
            uint64_t want = minU64(blockSize, fileLength - offset);
            readCacheLength = 0;
            if (fileRead(offset, readCache, want))
                return 1;
            readCacheStart = offset;
            readCacheLength = want;
        }
        uint64_t piece = minU64(n, readCacheStart + readCacheLength - offset);
        if (stream->send(readCache + (offset - readCacheStart), piece, 0))
            return 1;
        offset += piece;
        n -= piece;
    }
    BlkTmpBlock& p = prev();
    if (n > 0 && p.fill > 0 && offset >= p.start && offset < p.start + p.fill) {
        uint64_t piece = minU64(n, p.start + p.fill - offset);
        if (stream->send(p.data + (offset - p.start), piece, 0))
            return 1;
        offset += piece;
        n -= piece;
    }
    if (n == 0)
        return 0;
    BlkTmpBlock& c = cur();
    if (offset < c.start || offset + n > c.start + c.fill) {
        errPostTextA(MSG_SQLSTATE_GENERAL_ERROR_TEXT, " writeToWire underflow");
        return 1;
    }
    return stream->send(c.data + (offset - c.start), n, 0);
}

int BlkTmpFile::appendTyped(const void* value, uint64_t size, bool reverse) noexcept
{
    // A value of at most 8 bytes, in the file's byte order.
    uint8_t bytes[8];
    memcpy(bytes, value, size);
    if (reverse)
        reverseBytes(bytes, size);
    BlkTmpBlock& c = cur();
    if (c.data != nullptr && c.fill + size <= blockSize) {
        memcpy(c.data + c.fill, bytes, size);
        c.fill += size;
        total += size;
        position += size;
        return 0;
    }
    return append(bytes, size);
}

int BlkTmpFile::appendU8(uint8_t value) noexcept
{
    return appendTyped(&value, 1, false);
}

int BlkTmpFile::appendU16(uint16_t value) noexcept
{
    return appendTyped(&value, 2, swapFlag);
}

int BlkTmpFile::appendU32(uint32_t value) noexcept
{
    return appendTyped(&value, 4, swapFlag);
}

int BlkTmpFile::appendU64(uint64_t value) noexcept
{
    return appendTyped(&value, 8, swapFlag);
}

int BlkTmpFile::readTyped(void* out, uint64_t size, bool reverse) noexcept
{
    uint8_t b[8];
    int rc = readAt(position, b, size);
    position += size;
    if (rc)
        return 1;
    if (reverse)
        reverseBytes(b, size);
    memcpy(out, b, size);
    return 0;
}

int BlkTmpFile::readU16(uint16_t* value) noexcept
{
    return readTyped(value, 2, swapFlag != 0);
}

int BlkTmpFile::readU32(uint32_t* value) noexcept
{
    return readTyped(value, 4, swapFlag != 0);
}

int BlkTmpFile::readU64(uint64_t* value) noexcept
{
    return readTyped(value, 8, swapFlag != 0);
}

int BlkTmpFile::readU16Other(uint16_t* value) noexcept
{
    return readTyped(value, 2, orderFlag == 0);
}

int BlkTmpFile::readU32Other(uint32_t* value) noexcept
{
    return readTyped(value, 4, orderFlag == 0);
}

int BlkTmpFile::readU64Other(uint64_t* value) noexcept
{
    return readTyped(value, 8, orderFlag == 0);
}

void BlkTmpFile::clear() noexcept
{
    if (fileLength > 0 && path != nullptr) {
        if (fd != 0)
            (void)bosftrunc(fd, 0);
        else
            (void)bosftruncPath(path->path, 0);
    }
    for (BlkTmpBlock& b : block) {
        b.fill = 0;
        b.start = 0;
    }
    current = 0;
    fileLength = 0;
    total = 0;
    position = 0;
    windowLength = 0;
    windowStart = 0;
    windowDirty = 0;
    readCacheLength = 0;
    readCacheStart = 0;
}

void BlkTmpFile::closeAndDelete() noexcept
{
    clear();
    bosTmpDiscard(&path, &fd);
}
