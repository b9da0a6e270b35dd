// Live handles in a set of shards, each an open-addressed table of
// addresses under its own mutex: a call looks up one shard, so calls on
// different handles rarely meet, and the cost per call is a hash and a probe
// or two.
#include "odbc/basehandles.h"

#include <pthread.h>

#include <cstddef>
#include <cstring>

#include "foundation/ram.h"

namespace {

constexpr size_t kShardCount = 64;
constexpr size_t kFirstCapacity = 64;
// Handle objects come from the allocator, aligned to at least 8 bytes: the
// kind rides in the low bits of the stored address.
constexpr uintptr_t kKindMask = 0x7;

struct Shard {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    uintptr_t* slots = nullptr;
    size_t capacity = 0;  // a power of two, or 0 before the first entry
    size_t count = 0;
};

// Constant-initialised, never destroyed: handles may be freed while the
// process exits.
Shard gShards[kShardCount];

uint64_t mix(uintptr_t address) noexcept
{
    uint64_t h = static_cast<uint64_t>(address);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

Shard& shardOf(uintptr_t address) noexcept
{
    return gShards[(mix(address) >> 58) % kShardCount];
}

class ShardGuard {
public:
    explicit ShardGuard(Shard& shard) noexcept : shard_(shard) { pthread_mutex_lock(&shard_.lock); }
    ~ShardGuard() { pthread_mutex_unlock(&shard_.lock); }
    ShardGuard(const ShardGuard&) = delete;
    ShardGuard& operator=(const ShardGuard&) = delete;

private:
    Shard& shard_;
};

// The slot holding address, or the empty slot where it would go.
size_t probe(const Shard& shard, uintptr_t address) noexcept
{
    const size_t mask = shard.capacity - 1;
    size_t i = static_cast<size_t>(mix(address)) & mask;
    while (shard.slots[i] != 0 && (shard.slots[i] & ~kKindMask) != address)
        i = (i + 1) & mask;
    return i;
}

bool grow(Shard& shard) noexcept
{
    const size_t capacity = shard.capacity == 0 ? kFirstCapacity : shard.capacity * 2;
    auto* slots = static_cast<uintptr_t*>(ramAlloc(capacity * sizeof(uintptr_t)));
    if (slots == nullptr)
        return false;
    std::memset(slots, 0, capacity * sizeof(uintptr_t));
    uintptr_t* old = shard.slots;
    const size_t oldCapacity = shard.capacity;
    shard.slots = slots;
    shard.capacity = capacity;
    for (size_t i = 0; i < oldCapacity; ++i)
        if (old[i] != 0)
            shard.slots[probe(shard, old[i] & ~kKindMask)] = old[i];
    ramFree(old);
    return true;
}

}  // namespace

bool baseHandleAdd(const void* address, BaseHandleKind kind) noexcept
{
    const auto key = reinterpret_cast<uintptr_t>(address);
    if (key == 0 || (key & kKindMask) != 0)
        return false;
    Shard& shard = shardOf(key);
    ShardGuard guard(shard);
    // At most half full, so that a probe ends soon.
    if ((shard.count + 1) * 2 > shard.capacity && !grow(shard))
        return false;
    const size_t i = probe(shard, key);
    if (shard.slots[i] == 0)
        ++shard.count;
    shard.slots[i] = key | static_cast<uintptr_t>(kind);
    return true;
}

void baseHandleRemove(const void* address) noexcept
{
    const auto key = reinterpret_cast<uintptr_t>(address);
    if (key == 0 || (key & kKindMask) != 0)
        return;
    Shard& shard = shardOf(key);
    ShardGuard guard(shard);
    if (shard.capacity == 0)
        return;
    size_t i = probe(shard, key);
    if (shard.slots[i] == 0)
        return;
    // Backward shift: the entries after the hole that would no longer be
    // reached from their home slot move into it.
    const size_t mask = shard.capacity - 1;
    size_t j = i;
    for (;;) {
        shard.slots[i] = 0;
        for (;;) {
            j = (j + 1) & mask;
            if (shard.slots[j] == 0) {
                // An empty shard gives its table back, so that nothing of
                // the set outlives the last handle (nor an unloaded library).
                if (--shard.count == 0) {
                    ramFree(shard.slots);
                    shard.slots = nullptr;
                    shard.capacity = 0;
                }
                return;
            }
            const size_t home = static_cast<size_t>(mix(shard.slots[j] & ~kKindMask)) & mask;
            // Stays when its home lies cyclically in (i, j].
            if (i <= j ? (i < home && home <= j) : (i < home || home <= j))
                continue;
            break;
        }
        shard.slots[i] = shard.slots[j];
        i = j;
    }
}

BaseHandleKind baseHandleKindOf(const void* address) noexcept
{
    const auto key = reinterpret_cast<uintptr_t>(address);
    if (key == 0 || (key & kKindMask) != 0)
        return BaseHandleKind::none;
    Shard& shard = shardOf(key);
    ShardGuard guard(shard);
    if (shard.capacity == 0)
        return BaseHandleKind::none;
    const uintptr_t entry = shard.slots[probe(shard, key)];
    return static_cast<BaseHandleKind>(entry & kKindMask);
}
