// Process-wide pointer slots and the per-thread records that hold, among
// other things, each thread's current error list.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include "foundation/kaobject.h"
// Most of the driver reaches the err* posting through this header.
#include "foundation/errpost.h"

// ---- Process slot table -------------------------------------------------

constexpr int KA_TASK_SLOT_COUNT = 20;
// Fixed indexes; each user guards its own slot with its own lock.
constexpr int KA_TASK_SLOT_CONVERTER_USE = 1;  // use counter of the converter caches
constexpr int KA_TASK_SLOT_SHARED_OBJECT = 4;  // shared, reference-counted object
constexpr int KA_TASK_SLOT_ENV_COUNT = 9;      // number of live environment handles
constexpr int KA_TASK_SLOT_LOCK_TABLE = 10;    // table of 45 critical sections
constexpr int KA_TASK_SLOT_INI_CACHE = 12;     // ini-file cache list
constexpr int KA_TASK_SLOT_THREAD_LIST = 13;   // head of the KaThreadInfo list

int taskInit() noexcept;
int taskIsInit() noexcept;
void* taskGetSlot(int index) noexcept;
void taskSetSlot(int index, void* value) noexcept;
void** taskSlotAddress(int index) noexcept;
// Releases the ini cache once no environment is alive, through the hook its
// owner (the platform layer, which guards the cache with its own lock)
// registered; nothing happens while no hook is registered.
void taskReleaseIniCache() noexcept;
using KaTaskReleaseHook = void (*)() noexcept;
void taskSetIniCacheRelease(KaTaskReleaseHook hook) noexcept;

// ---- Per-thread records -------------------------------------------------

constexpr int KA_THREAD_SLOT_COUNT = 7;
constexpr int KA_THREAD_SLOT_ERROR_LIST = 0;  // the thread's current KaErrorList

// One record per thread that is inside the driver. Records are reused by
// later threads once free and are never unlinked or freed.
//
// Lookups walk the list without the thread-list lock while other threads
// register, so the link, the owner and the use count are atomics. A record
// is linked only once initialised, and a reused record gets its owner
// before its use count turns positive. The slots are plain: only the
// owning thread touches them.
class KaThreadInfo : public KaObject {
public:
    std::atomic<KaThreadInfo*> next{nullptr};
    std::atomic<uint64_t> threadId{0};
    void* slots[KA_THREAD_SLOT_COUNT] = {};
    std::atomic<int64_t> useCount{0};

    KaThreadInfo() noexcept = default;
    ~KaThreadInfo() override;

    // Lowers the use count by one under the thread-list lock.
    void release() noexcept;
};

// Records kept in static storage for threads that register while the
// allocator is exhausted.
constexpr int KA_THREAD_RESERVE_RECORDS = 4;

// How threadAttach obtains a new record (by default `new KaThreadInfo`);
// replaceable so that an exhausted allocator can be simulated. Returns the
// allocator in use before.
using KaThreadRecordAllocator = KaThreadInfo* (*)() noexcept;
KaThreadRecordAllocator threadSetRecordAllocator(KaThreadRecordAllocator allocator) noexcept;

// The record in use for the thread id, or null. Takes no lock.
KaThreadInfo* threadFind(uint64_t threadId) noexcept;
void* threadGetSlot(int index) noexcept;
void** threadSlotAddress(int index) noexcept;
void threadSetSlot(int index, void* value) noexcept;
// 1 when the calling thread is registered (once more), 0 when no record
// could be had.
int threadAttach() noexcept;
void threadDetach() noexcept;
// The calling thread's record in use, or null. Takes no lock; the record
// found last is remembered per thread, so the usual answer costs no walk.
KaThreadInfo* threadCurrent() noexcept;
uint64_t threadCurrentId() noexcept;
