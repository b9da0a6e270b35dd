// Counts heap allocations and lock waits made while a benchmark loop runs and
// shows them as counters per iteration: "allocs" (every malloc, calloc,
// realloc and aligned allocation, whoever asks: the driver's ram* wrappers,
// operator new, ICU, the C library), "news" (those that came through the
// global operator new) and "locks" (pthread_mutex_lock and sem_wait calls).
//
// The executable's own malloc and pthread_mutex_lock take precedence over the
// C library's for every caller in the process, shared libraries included.
// malloc forwards to glibc's __libc_* entry points rather than to a dlsym
// lookup, because dlsym itself may allocate before the lookup is done.
//
// Include this header in exactly one source file of an executable.
#pragma once
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace kabench {

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

// Resolved before main so that no lock taken later has to wait for dlsym.
[[gnu::constructor(101)]] static void resolveAtLoad() noexcept
{
    resolveLockFunctions();
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

// Take one before the benchmark loop and call report() after it. The
// counters are per iteration; perItem > 1 adds "allocs/item" for loops in
// which one iteration handles many items (records, tokens, appends).
class Meter {
public:
    explicit Meter(benchmark::State& state) noexcept : state_(state), start_(totals()) {}

    void report(double perItem = 0) noexcept
    {
        Totals end = totals();
        auto avg = benchmark::Counter::kAvgIterations;
        state_.counters["allocs"] = benchmark::Counter(double(end.allocs - start_.allocs), avg);
        state_.counters["news"] = benchmark::Counter(double(end.news - start_.news), avg);
        state_.counters["locks"] = benchmark::Counter(double(end.locks - start_.locks), avg);
        if (perItem > 1 && state_.iterations() > 0)
            state_.counters["allocs/item"] =
                double(end.allocs - start_.allocs) / (double(state_.iterations()) * perItem);
    }

private:
    benchmark::State& state_;
    Totals start_;
};

}  // namespace kabench

extern "C" {

void* malloc(size_t size)
{
    kabench::countAlloc();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    kabench::countAlloc();
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size)
{
    kabench::countAlloc();
    return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size)
{
    kabench::countAlloc();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size)
{
    kabench::countAlloc();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    kabench::countAlloc();
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr)
        return ENOMEM;
    *out = block;
    return 0;
}

int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    kabench::gLocks.fetch_add(1, std::memory_order_relaxed);
    if (kabench::gRealMutexLock == nullptr)
        kabench::resolveLockFunctions();
    return kabench::gRealMutexLock(mutex);
}

int sem_wait(sem_t* sem)
{
    kabench::gLocks.fetch_add(1, std::memory_order_relaxed);
    if (kabench::gRealSemWait == nullptr)
        kabench::resolveLockFunctions();
    return kabench::gRealSemWait(sem);
}

}  // extern "C"

// The replaceable global allocation functions; malloc counts them once more.
void* operator new(size_t size)
{
    kabench::gNews.fetch_add(1, std::memory_order_relaxed);
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
    kabench::gNews.fetch_add(1, std::memory_order_relaxed);
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
