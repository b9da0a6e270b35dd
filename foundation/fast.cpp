// Raw memory and terminated 8-bit text helpers. The C library's string
// routines are already word-at-a-time and sanitizer-aware, so these wrap
// them rather than reading whole words past a terminator. Every wrapper
// accepts a zero count with null pointers, which the C routines do not.
#include "foundation/fast.h"

#include <cstring>

#include "foundation/kalock.h"
#include "foundation/ram.h"

namespace {

// Guards only fastExchangePointer; created at load, destroyed at exit.
KaCriticalSection fastExchangeLock(0, kKaLockPlain);
// Guards only fastExchangePointerSem.
KaSemaphore fastExchangeSem(nullptr, kKaSemSlotNone);

constexpr size_t kSwapChunk = 512;

int sign(int r) noexcept
{
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

}  // namespace

size_t fastStrlen(const char* s) noexcept
{
    return std::strlen(s);
}

void fastMemcpy(void* dst, const void* src, size_t n) noexcept
{
    if (n != 0)
        std::memmove(dst, src, n);
}

void fastMemcpyW(void* dst, const void* src, size_t n) noexcept
{
    if (n != 0)
        std::memmove(dst, src, n);
}

void fastMemcpy8(void* dst, const void* src, size_t n) noexcept
{
    if (n != 0)
        std::memmove(dst, src, n);
}

void fastMemcpyWords(void* dst, const void* src, size_t n) noexcept
{
    if (n != 0)
        std::memmove(dst, src, n);
}

int fastMemcmp(const void* a, const void* b, size_t n) noexcept
{
    return n == 0 ? 0 : sign(std::memcmp(a, b, n));
}

int fastMemeq(const void* a, const void* b, size_t n) noexcept
{
    return n == 0 || std::memcmp(a, b, n) == 0 ? 1 : 0;
}

int fastMatchEitherCase(const void* text, const void* a, const void* b, size_t n) noexcept
{
    const auto* t = static_cast<const unsigned char*>(text);
    const auto* pa = static_cast<const unsigned char*>(a);
    const auto* pb = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < n; ++i) {
        if (t[i] != pa[i] && t[i] != pb[i])
            return 0;
    }
    return 1;
}

void fastMemswap(void* a, void* b, size_t n) noexcept
{
    unsigned char chunk[kSwapChunk];
    auto* pa = static_cast<unsigned char*>(a);
    auto* pb = static_cast<unsigned char*>(b);
    while (n > 0) {
        size_t step = n < kSwapChunk ? n : kSwapChunk;
        std::memcpy(chunk, pa, step);
        std::memmove(pa, pb, step);
        std::memcpy(pb, chunk, step);
        pa += step;
        pb += step;
        n -= step;
    }
}

void fastSwapElements(void* array, uint16_t i, uint16_t j, uint16_t elementSize) noexcept
{
    if (i == j || elementSize == 0)
        return;
    void* tmp = ramAlloc(elementSize);
    if (tmp == nullptr)
        return;
    auto* base = static_cast<unsigned char*>(array);
    unsigned char* ei = base + static_cast<size_t>(i) * elementSize;
    unsigned char* ej = base + static_cast<size_t>(j) * elementSize;
    std::memcpy(tmp, ei, elementSize);
    std::memcpy(ei, ej, elementSize);
    std::memcpy(ej, tmp, elementSize);
    ramFree(tmp);
}

char* fastStrcpy(char* dst, const char* src) noexcept
{
    size_t n = std::strlen(src);
    std::memmove(dst, src, n + 1);
    return dst + n;
}

char* fastStrcat(char* dst, const char* src) noexcept
{
    return fastStrcpy(dst + std::strlen(dst), src);
}

int fastStrcmp(const char* a, const char* b) noexcept
{
    return sign(std::strcmp(a, b));
}

void fastMemset(void* dst, int value, size_t n) noexcept
{
    if (n != 0)
        std::memset(dst, value, n);
}

void fastMemzero(void* dst, size_t n) noexcept
{
    // explicit_bzero is a store the compiler may not drop even when the
    // memory is freed right after: this wipes secrets.
    if (n != 0)
        explicit_bzero(dst, n);
}

void fastZeroWords(void* dst, size_t n) noexcept
{
    if (n != 0)
        std::memset(dst, 0, n * sizeof(uint32_t));
}

void* fastExchangePointer(void** slot, void* value) noexcept
{
    fastExchangeLock.enter();
    void* old = *slot;
    *slot = value;
    fastExchangeLock.leave();
    return old;
}

void* fastExchangePointerSem(void** slot, void* value) noexcept
{
    fastExchangeSem.wait();
    void* old = *slot;
    *slot = value;
    fastExchangeSem.post();
    return old;
}
