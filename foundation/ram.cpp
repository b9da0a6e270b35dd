// Allocation wrappers over the system allocator with one out-of-memory path.
#include "foundation/ram.h"

#include <cstdlib>

#include "foundation/kaerror.h"
#include "foundation/kalock.h"

namespace {

// The allocator's process-wide lock, created at load and destroyed at exit.
// The system allocator is thread-safe, so no wrapper takes it.
KaCriticalSection ramLock(0, kKaLockPlain);

}  // namespace

void* ramAlloc(size_t size) noexcept
{
    // A size of 0 becomes 1 so that every success is a freeable, non-null block.
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        ramOutOfMemory();
    return block;
}

void* ramAllocBlock(size_t size) noexcept
{
    return ramAlloc(size);
}

void* ramAllocInt(int32_t size) noexcept
{
    // Widened with its sign: a negative count asks for an impossible amount.
    return ramAlloc(static_cast<size_t>(static_cast<int64_t>(size)));
}

void ramFree(void* block) noexcept
{
    if (block != nullptr)
        std::free(block);
}

void ramFreeBlock(void* block) noexcept
{
    ramFree(block);
}

void ramFreeRaw(void* block) noexcept
{
    std::free(block);
}

void ramOutOfMemory() noexcept
{
    KaErrorPostOutOfMemory();
}

uint16_t* ramDupBytesToW(const void* bytes, size_t n) noexcept
{
    if (n > (SIZE_MAX / 2) - 1) {
        ramOutOfMemory();
        return nullptr;
    }
    auto* out = static_cast<uint16_t*>(ramAlloc(2 * n + 2));
    if (out == nullptr)
        return nullptr;
    const auto* in = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < n; ++i)
        out[i] = in[i];
    out[n] = 0;
    return out;
}

uint16_t* ramDupBytesToWSigned(const void* bytes, int64_t n) noexcept
{
    return ramDupBytesToW(bytes, n < 0 ? 0 : static_cast<size_t>(n));
}

char* ramDupWToBytes(const uint16_t* units, size_t n) noexcept
{
    size_t size = n + 1;
    if (size == 0) {
        // n + 1 wrapped: no such block can exist.
        ramOutOfMemory();
        return nullptr;
    }
    auto* out = static_cast<char*>(ramAlloc(size));
    if (out == nullptr)
        return nullptr;
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>(units[i] & 0xFF);
    out[n] = 0;
    return out;
}

char* ramDupWToBytesSigned(const uint16_t* units, int64_t n) noexcept
{
    return ramDupWToBytes(units, n < 0 ? 0 : static_cast<size_t>(n));
}

int ramRealloc(void** block, size_t size) noexcept
{
    // The grown block keeps its contents; callers that want zeroed growth
    // clear the new tail themselves.
    void* grown = std::realloc(*block, size == 0 ? 1 : size);
    if (grown == nullptr) {
        ramOutOfMemory();
        return 1;
    }
    *block = grown;
    return 0;
}
