// The process-wide page store: 8 KB pages of open files cached in 64 KB
// blocks, found through a hash table and replaced by age. Reads through it
// come from the cache where the page holds the bytes; writes go through to
// the file and update the cached copy. Shared by every opener.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kalock.h"

constexpr size_t VM_PAGE_SIZE = 8192;
constexpr size_t VM_PAGES_PER_BLOCK = 8;
constexpr size_t VM_BUCKETS = 97;
constexpr uint16_t VM_NONE = 0xFFFF;
// Offsets beyond this (512 MB) bypass the store: page numbers are 16 bits.
constexpr int64_t VM_LAST_CACHED_OFFSET = 536870911;

struct VmPageDescriptor {
    int32_t file;  // 0 when free
    uint16_t page;
    uint16_t flag;
    uint16_t valid;  // bytes of the page read from the file (or written)
    uint16_t age;
    uint16_t next;  // in its bucket's chain or the free list
};

struct VmPageStore {
    uint16_t clock;
    KaCriticalSection* lock;
    int16_t references;
    uint16_t pageLimit;
    uint16_t pageCount;
    uint16_t freeHead;
    VmPageDescriptor* pages;
    uint16_t buckets[VM_BUCKETS];
    char** blocks;
};

// The shared store, created by the first opener with blocks x 8 pages.
[[nodiscard]] VmPageStore* vmStoreOpen(uint16_t blocks) noexcept;
void vmStoreClose(VmPageStore* store) noexcept;
// *count: bytes read (fewer at the end of the file). noEvict: a missing
// page is read from the file rather than replacing a cached one.
[[nodiscard]] int vmStoreRead(VmPageStore* store, int32_t fd, int64_t offset, void* buffer, size_t length,
                              size_t* count, int noEvict) noexcept;
[[nodiscard]] int vmStoreWrite(VmPageStore* store, int32_t fd, int64_t offset, const void* data,
                               size_t length) noexcept;
int vmStoreForgetFile(VmPageStore* store, int32_t fd) noexcept;
int vmStoreCloseFile(VmPageStore* store, int32_t fd) noexcept;
