// The paged scratch file: allocation, the two-way page cache and the
// write-back of evicted pages into a private temporary file.
#include "platform/katmpfil.h"

#include <cstring>

#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "platform/bosfile.h"

namespace {

constexpr uint64_t kAllOnes = ~uint64_t(0);
constexpr uint64_t kAlign = 8;

}  // namespace

TmpSpace::~TmpSpace() = default;

int16_t TmpSpace::compare(const KaObject& other) const
{
    const TmpSpace& o = static_cast<const TmpSpace&>(other);
    if (offset < o.offset)
        return -1;
    return offset > o.offset ? 1 : 0;
}

KaTmpFile::KaTmpFile(uint16_t bytes, int32_t noLock) noexcept
    : cacheBytes(bytes), highestPageWritten(0), end(1), fd(0), path(nullptr), pagesInFile(0), slots(nullptr),
      pageMemory(nullptr), lock(noLock, kKaLockPlain)
{
    freeList.flags |= KaArray::ownsElements;
}

KaTmpFile::~KaTmpFile()
{
    close(0);
}

uint64_t KaTmpFile::allocate(uint64_t n) noexcept
{
    KaLockGuard guard(lock);
    uint64_t start = (end + kAlign - 1) / kAlign * kAlign;
    if (KA_TMP_PAGE_SIZE - start % KA_TMP_PAGE_SIZE < n)
        start = (start / KA_TMP_PAGE_SIZE + 1) * KA_TMP_PAGE_SIZE;
    end = start + n;
    return start;
}

int KaTmpFile::allocateFromFreeList(uint64_t n, uint64_t* offset) noexcept
{
    KaLockGuard guard(lock);
    if (slots == nullptr && createCache())
        return 1;
    if (n == kAllOnes) {
        *offset = end;
        end = kAllOnes;
        return 0;
    }
    for (size_t i = 0; i < freeList.count; ++i) {
        TmpSpace* space = static_cast<TmpSpace*>(freeList.at(i));
        if (space->length < n)
            continue;
        *offset = space->offset;
        if (space->length - n <= KA_TMP_SMALL_RANGE) {
            freeList.deleteAt(i);
        } else {
            space->offset += n;
            space->length -= n;
        }
        return 0;
    }
    *offset = end;
    end += n;
    return 0;
}

void KaTmpFile::releaseSpace(uint64_t offset, uint64_t n) noexcept
{
    KaLockGuard guard(lock);
    if (n == kAllOnes || offset + n == end) {
        end = offset;
        mergeFree();
        return;
    }
    if (n <= KA_TMP_SMALL_RANGE)
        return;
    TmpSpace* space = new TmpSpace(offset, n);
    if (space == nullptr || freeList.insertSorted(space) != 0) {
        // Losing a free range costs only space; nothing failed for the caller.
        delete space;
        KaErrorDiscardLast();
        return;
    }
    mergeFree();
}

void KaTmpFile::mergeFree() noexcept
{
    size_t i = 0;
    while (i + 1 < freeList.count) {
        TmpSpace* a = static_cast<TmpSpace*>(freeList.at(i));
        TmpSpace* b = static_cast<TmpSpace*>(freeList.at(i + 1));
        if (a->offset + a->length == b->offset) {
            a->length += b->length;
            freeList.deleteAt(i + 1);
        } else {
            ++i;
        }
    }
    if (freeList.count > 0) {
        TmpSpace* last = static_cast<TmpSpace*>(freeList.at(freeList.count - 1));
        if (last->offset + last->length == end) {
            end = last->offset;
            freeList.deleteAt(freeList.count - 1);
        }
    }
}

int KaTmpFile::createCache() noexcept
{
    if (pageMemory == nullptr) {
        pageMemory = static_cast<uint8_t*>(ramAlloc(cacheBytes == 0 ? 1 : cacheBytes));
        if (pageMemory == nullptr)
            return 1;
    }
    uint64_t n = slotCount();
    slots = static_cast<KaTmpSlot*>(ramAlloc(n * sizeof(KaTmpSlot)));
    if (slots == nullptr)
        return 1;
    memset(slots, 0, n * sizeof(KaTmpSlot));
    return 0;
}

int KaTmpFile::ensureOpen() noexcept
{
    return bosTmpOpen(&path, &fd);
}

int KaTmpFile::writeBack(uint32_t page, const uint8_t* buffer) noexcept
{
    if (ensureOpen())
        return 1;
    if (page > highestPageWritten)
        highestPageWritten = page;
    if (bosfwrite(fd, int64_t(uint64_t(page) * KA_TMP_PAGE_SIZE), buffer, KA_TMP_PAGE_SIZE))
        return 1;
    if (page + 1 > pagesInFile)
        pagesInFile = page + 1;
    return 0;
}

int KaTmpFile::readPage(uint32_t page, uint8_t* buffer) noexcept
{
    // A page never written back holds no byte that was written: nothing to read.
    if (path == nullptr || page > highestPageWritten)
        return 0;
    if (fd == 0 && bosTmpReopen(path, &fd))
        return 1;
    uint64_t got = 0;
    return bosfread(fd, int64_t(uint64_t(page) * KA_TMP_PAGE_SIZE), buffer, KA_TMP_PAGE_SIZE, &got);
}

int KaTmpFile::access(uint32_t page, int forWrite, int fullWrite, uint8_t** buffer) noexcept
{
    uint64_t s = page & (slotCount() - 1);
    KaTmpSlot& slot = slots[s];
    uint8_t* base = pageMemory + s * KA_TMP_SLOT_BYTES;
    for (int way = 0; way < 2; ++way) {
        if (slot.page[way] != page)
            continue;
        if (way == 0)
            slot.flags &= uint8_t(~KA_TMP_WAY1_LAST);
        else
            slot.flags |= KA_TMP_WAY1_LAST;
        if (forWrite)
            slot.flags |= way == 0 ? KA_TMP_WAY0_DIRTY : KA_TMP_WAY1_DIRTY;
        *buffer = base + way * KA_TMP_PAGE_SIZE;
        return 0;
    }
    int victim = (slot.flags & KA_TMP_WAY1_LAST) ? 0 : 1;
    uint8_t dirtyBit = victim == 0 ? KA_TMP_WAY0_DIRTY : KA_TMP_WAY1_DIRTY;
    uint8_t* victimBuffer = base + victim * KA_TMP_PAGE_SIZE;
    if (slot.flags & dirtyBit) {
        if (writeBack(slot.page[victim], victimBuffer))
            return 1;
        slot.flags &= uint8_t(~dirtyBit);
    }
    if (!fullWrite && readPage(page, victimBuffer))
        return 1;
    slot.page[victim] = page;
    if (victim == 1)
        slot.flags |= KA_TMP_WAY1_LAST;
    else
        slot.flags &= uint8_t(~KA_TMP_WAY1_LAST);
    if (forWrite)
        slot.flags |= dirtyBit;
    *buffer = victimBuffer;
    return 0;
}

int KaTmpFile::read(uint64_t offset, void* buffer, uint64_t n) noexcept
{
    KaLockGuard guard(lock);
    if (slots == nullptr && createCache())
        return 1;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        uint64_t at = offset % KA_TMP_PAGE_SIZE;
        uint64_t piece = KA_TMP_PAGE_SIZE - at < n ? KA_TMP_PAGE_SIZE - at : n;
        uint8_t* page;
        if (access(uint32_t(offset / KA_TMP_PAGE_SIZE), 0, 0, &page))
            return 1;
        memcpy(out, page + at, piece);
        out += piece;
        offset += piece;
        n -= piece;
    }
    return 0;
}

int KaTmpFile::write(uint64_t offset, const void* data, uint64_t n) noexcept
{
    KaLockGuard guard(lock);
    if (slots == nullptr && createCache())
        return 1;
    if (offset + n > end)
        end = offset + n;
    const uint8_t* in = static_cast<const uint8_t*>(data);
    while (n > 0) {
        uint64_t at = offset % KA_TMP_PAGE_SIZE;
        uint64_t piece = KA_TMP_PAGE_SIZE - at < n ? KA_TMP_PAGE_SIZE - at : n;
        uint8_t* page;
        if (access(uint32_t(offset / KA_TMP_PAGE_SIZE), 1, piece == KA_TMP_PAGE_SIZE, &page))
            return 1;
        memcpy(page + at, in, piece);
        in += piece;
        offset += piece;
        n -= piece;
    }
    return 0;
}

int KaTmpFile::readChunked(uint64_t offset, void* buffer, uint64_t n) noexcept
{
    uint8_t* out = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        uint64_t piece = n < KA_TMP_CHUNK_BYTES ? n : KA_TMP_CHUNK_BYTES;
        if (read(offset, out, piece))
            return 1;
        out += piece;
        offset += piece;
        n -= piece;
    }
    return 0;
}

int KaTmpFile::writeChunked(uint64_t offset, const void* data, uint64_t n) noexcept
{
    const uint8_t* in = static_cast<const uint8_t*>(data);
    while (n > 0) {
        uint64_t piece = n < KA_TMP_CHUNK_BYTES ? n : KA_TMP_CHUNK_BYTES;
        if (write(offset, in, piece))
            return 1;
        in += piece;
        offset += piece;
        n -= piece;
    }
    return 0;
}

int KaTmpFile::readString(uint64_t offset, KaString* string, uint64_t n) noexcept
{
    if (string->ensureCapacity(string->len + n + 1) != 0)
        return 1;
    if (readChunked(offset, string->data, n))
        return 1;
    string->len = n;
    return 0;
}

int KaTmpFile::pinPage(uint64_t offset, uint8_t** pointer, uint16_t* left, int forWrite) noexcept
{
    KaLockGuard guard(lock);
    if (slots == nullptr && createCache())
        return 1;
    uint8_t* page;
    if (access(uint32_t(offset / KA_TMP_PAGE_SIZE), forWrite, 0, &page))
        return 1;
    *pointer = page + offset % KA_TMP_PAGE_SIZE;
    *left = uint16_t(KA_TMP_PAGE_SIZE - offset % KA_TMP_PAGE_SIZE);
    return 0;
}

void KaTmpFile::closeHandle() noexcept
{
    KaLockGuard guard(lock);
    (void)bosfclose(fd);
    fd = 0;
}

void KaTmpFile::close(int keepPageMemory) noexcept
{
    KaLockGuard guard(lock);
    closeLocked(keepPageMemory);
}

void KaTmpFile::closeLocked(int keepPageMemory) noexcept
{
    ramFree(slots);
    slots = nullptr;
    if (!keepPageMemory) {
        ramFree(pageMemory);
        pageMemory = nullptr;
    }
    freeList.deleteAll();
    bosTmpDiscard(&path, &fd);
    end = 1;
    highestPageWritten = 0;
    fd = 0;
    pagesInFile = 0;
}
