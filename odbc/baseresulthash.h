// BaseResultHash: one 64-bit checksum per row a statement delivered, kept so
// that a query executed again after a reconnect can be checked to give the
// same rows. Used by the fetch core and the statement failover.
#pragma once
#include <cstdint>

#include "foundation/kaobject.h"

class BlkTmpFile;

// Most checksums the memory store is asked to hold (FailoverCacheSize):
// 128 MiB of them; a larger value is brought down to it with a warning.
constexpr uint64_t kBaseFailoverCacheLimit = 16777216;

class BaseResultHash : public KaObject {
public:
    // diskMode: the checksums go to a temporary file and any number fit;
    // else at most capacity of them are kept in memory.
    BaseResultHash(int32_t diskMode, uint64_t capacity) noexcept;
    ~BaseResultHash() override;
    BaseResultHash(const BaseResultHash&) = delete;
    BaseResultHash& operator=(const BaseResultHash&) = delete;

    // Empty storage, ready for puts. 0, or 1 after posting.
    [[nodiscard]] int16_t clear() noexcept;
    // k 0 appends value; k > 0 replaces the entry k-th from the end (the
    // last is 1) and leaves the count. 0, or 1 after posting.
    [[nodiscard]] int16_t put(int64_t value, int64_t k) noexcept;
    // Entry n (from 1). 0, or 1 after posting: the memory store lost rows
    // past its capacity (error 08S01), or n is not stored.
    [[nodiscard]] int16_t get(int64_t n, int64_t* value) noexcept;
    // Drops the storage; clear makes it usable again.
    void release() noexcept;

    int32_t diskMode;
    BlkTmpFile* store;
    int64_t* array;
    uint64_t capacity;
    uint64_t count;
    int32_t overflow;
};
