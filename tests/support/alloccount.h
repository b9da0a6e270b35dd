// Counts heap allocations and lock waits of the whole process, for the tests
// that hold a hot path to "no allocation" and for the benchmarks: "allocs"
// (every malloc, calloc, realloc and aligned allocation, whoever asks: the
// driver's ram* wrappers, operator new, ICU, the C library), "news" (those
// that came through the global operator new) and "locks"
// (pthread_mutex_lock and sem_wait calls).
//
// Without AddressSanitizer the executable's own malloc and
// pthread_mutex_lock take precedence over the C library's for every caller
// in the process, shared libraries included; malloc forwards to glibc's
// __libc_* entry points rather than to a dlsym lookup, because dlsym itself
// may allocate before the lookup is done. Under AddressSanitizer malloc
// belongs to the sanitizer (a block from glibc would later reach the
// sanitizer's free): allocations are counted by the hook the sanitizer calls
// for each of them instead. The global operator new is replaced in both
// cases and allocates with malloc, so that the sanitizer's new/delete
// mismatch checks do not run in an executable that includes this header.
//
// Include this header in exactly one source file of an executable.
#pragma once
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KA_ALLOC_COUNT_BY_HOOK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KA_ALLOC_COUNT_BY_HOOK 1
#endif
#endif

extern "C" {
#ifdef KA_ALLOC_COUNT_BY_HOOK
int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, size_t),
                                              void (*freeHook)(const volatile void*));
#else
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
#endif
}

namespace kacount {

inline std::atomic<uint64_t> gAllocs{0};
inline std::atomic<uint64_t> gNews{0};
inline std::atomic<uint64_t> gLocks{0};

inline void countAlloc() noexcept
{
    gAllocs.fetch_add(1, std::memory_order_relaxed);
}

using MutexLockFn = int (*)(pthread_mutex_t*);
using SemWaitFn = int (*)(sem_t*);
inline MutexLockFn gRealMutexLock = nullptr;
inline SemWaitFn gRealSemWait = nullptr;

inline void resolveLockFunctions() noexcept
{
    if (gRealMutexLock == nullptr)
        gRealMutexLock = reinterpret_cast<MutexLockFn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (gRealSemWait == nullptr)
        gRealSemWait = reinterpret_cast<SemWaitFn>(dlsym(RTLD_NEXT, "sem_wait"));
}

#ifdef KA_ALLOC_COUNT_BY_HOOK
inline void onSanitizerAlloc(const volatile void*, size_t) noexcept
{
    countAlloc();
}
inline void onSanitizerFree(const volatile void*) noexcept {}
#endif

// Resolved (and the sanitizer's hook installed) before main, so that no
// lock taken later has to wait for dlsym and no allocation goes uncounted.
[[gnu::constructor(101)]] static void startCounting() noexcept
{
    resolveLockFunctions();
#ifdef KA_ALLOC_COUNT_BY_HOOK
    __sanitizer_install_malloc_and_free_hooks(onSanitizerAlloc, onSanitizerFree);
#endif
}

struct Totals {
    uint64_t allocs;
    uint64_t news;
    uint64_t locks;
};

inline Totals totals() noexcept
{
    return {gAllocs.load(std::memory_order_relaxed), gNews.load(std::memory_order_relaxed),
            gLocks.load(std::memory_order_relaxed)};
}

}  // namespace kacount

extern "C" {

#ifndef KA_ALLOC_COUNT_BY_HOOK
void* malloc(size_t size)
{
    kacount::countAlloc();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    kacount::countAlloc();
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size)
{
    kacount::countAlloc();
    return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size)
{
    kacount::countAlloc();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size)
{
    kacount::countAlloc();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    kacount::countAlloc();
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr)
        return ENOMEM;
    *out = block;
    return 0;
}
#endif

int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    kacount::gLocks.fetch_add(1, std::memory_order_relaxed);
    if (kacount::gRealMutexLock == nullptr)
        kacount::resolveLockFunctions();
    return kacount::gRealMutexLock(mutex);
}

int sem_wait(sem_t* sem)
{
    kacount::gLocks.fetch_add(1, std::memory_order_relaxed);
    if (kacount::gRealSemWait == nullptr)
        kacount::resolveLockFunctions();
    return kacount::gRealSemWait(sem);
}

}  // extern "C"

// The replaceable global allocation functions; malloc counts them once more.
void* operator new(size_t size)
{
    kacount::gNews.fetch_add(1, std::memory_order_relaxed);
    void* block = malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        std::abort();
    return block;
}

void* operator new[](size_t size)
{
    return operator new(size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    kacount::gNews.fetch_add(1, std::memory_order_relaxed);
    return malloc(size == 0 ? 1 : size);
}

void* operator new[](size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}

// Out of line, so that the compiler does not pair the free it would see
// inside with the operator new calls of inlined library code.
[[gnu::noinline]] static void releaseBlock(void* block) noexcept
{
    free(block);
}

void operator delete(void* block) noexcept
{
    releaseBlock(block);
}

void operator delete[](void* block) noexcept
{
    releaseBlock(block);
}

void operator delete(void* block, size_t) noexcept
{
    releaseBlock(block);
}

void operator delete[](void* block, size_t) noexcept
{
    releaseBlock(block);
}
