// The paged scratch file KaTmpFile: a flat byte space of 2048-byte pages
// kept in a two-way page cache and spilled to a private temporary file only
// when a changed page must leave the cache, with a bump allocator and a
// first-fit allocator over freed ranges. Used by the B-tree index, the
// temporary-file code-page converter, the shared-file page store and the
// statement framework's scroll cache.
#pragma once
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kalock.h"
#include "foundation/kaobject.h"
#include "foundation/kastring.h"
#include "platform/katmpname.h"

constexpr uint64_t KA_TMP_PAGE_SIZE = 2048;
// Bytes of page memory per cache slot: two ways of one page each.
constexpr uint64_t KA_TMP_SLOT_BYTES = 2 * KA_TMP_PAGE_SIZE;
// Largest piece of readChunked and writeChunked.
constexpr uint64_t KA_TMP_CHUNK_BYTES = 65536;
// Freed ranges and first-fit remainders of at most this many bytes are not
// worth a free-list record and are dropped.
constexpr uint64_t KA_TMP_SMALL_RANGE = 255;
// The cache size every user passes: 8 slots, 16 pages.
constexpr uint16_t KA_TMP_DEFAULT_CACHE = 32768;

// One freed range of a KaTmpFile, ordered by offset.
class TmpSpace : public KaObject {
public:
    TmpSpace(uint64_t offset, uint64_t length) noexcept : offset(offset), length(length) {}
    ~TmpSpace() override;
    int16_t compare(const KaObject& other) const override;

    uint64_t offset;
    uint64_t length;
};

// Bits of KaTmpSlot::flags.
constexpr uint8_t KA_TMP_WAY0_DIRTY = 1;
constexpr uint8_t KA_TMP_WAY1_DIRTY = 2;
constexpr uint8_t KA_TMP_WAY1_LAST = 4;  // way 0 is the next victim

struct KaTmpSlot {
    uint32_t page[2];
    uint8_t flags;
};

class KaTmpFile : public KaObject {
public:
    KaTmpFile(uint16_t cacheBytes, int32_t noLock) noexcept;
    ~KaTmpFile() override;
    KaTmpFile(const KaTmpFile&) = delete;
    KaTmpFile& operator=(const KaTmpFile&) = delete;

    uint64_t allocate(uint64_t n) noexcept;
    // n all ones hands the caller the whole tail; it gives back what it did
    // not use with releaseSpace(offset, all ones).
    [[nodiscard]] int allocateFromFreeList(uint64_t n, uint64_t* offset) noexcept;
    void releaseSpace(uint64_t offset, uint64_t n) noexcept;
    [[nodiscard]] int read(uint64_t offset, void* buffer, uint64_t n) noexcept;
    [[nodiscard]] int write(uint64_t offset, const void* data, uint64_t n) noexcept;
    [[nodiscard]] int readChunked(uint64_t offset, void* buffer, uint64_t n) noexcept;
    [[nodiscard]] int writeChunked(uint64_t offset, const void* data, uint64_t n) noexcept;
    // Reads n bytes into the start of the string's buffer and sets its
    // length to n; writes no terminator.
    [[nodiscard]] int readString(uint64_t offset, KaString* string, uint64_t n) noexcept;
    // The pointer is valid only until the next operation on this file, and
    // for at most *left bytes.
    [[nodiscard]] int pinPage(uint64_t offset, uint8_t** pointer, uint16_t* left, int forWrite) noexcept;
    void closeHandle() noexcept;
    void close(int keepPageMemory) noexcept;

    uint16_t cacheBytes;
    uint32_t highestPageWritten;
    uint64_t end;
    int32_t fd;
    KaTmpName* path;
    uint32_t pagesInFile;
    KaTmpSlot* slots;
    uint8_t* pageMemory;
    KaSortedArray freeList;
    KaCriticalSection lock;

private:
    uint64_t slotCount() const noexcept { return cacheBytes / KA_TMP_SLOT_BYTES; }
    [[nodiscard]] int createCache() noexcept;
    // The cached buffer of page p; fullWrite skips reading a page that the
    // caller overwrites whole.
    [[nodiscard]] int access(uint32_t page, int forWrite, int fullWrite, uint8_t** buffer) noexcept;
    [[nodiscard]] int writeBack(uint32_t page, const uint8_t* buffer) noexcept;
    [[nodiscard]] int readPage(uint32_t page, uint8_t* buffer) noexcept;
    [[nodiscard]] int ensureOpen() noexcept;
    void mergeFree() noexcept;
    void closeLocked(int keepPageMemory) noexcept;
};
