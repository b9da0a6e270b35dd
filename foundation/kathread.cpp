// Process slot table and per-thread records.
#include "foundation/kathread.h"

#include <pthread.h>
#include <atomic>
#include <new>

#include "foundation/kalock.h"

namespace {

void* gTaskSlots[KA_TASK_SLOT_COUNT];

// Guards the thread list. Built on first use rather than by a static
// initialiser of this file, so that code run by other initialisers at load
// can already post, and never destroyed, so that code run by exit handlers
// still can.
KaCriticalSection& threadListLock() noexcept
{
    alignas(KaCriticalSection) static unsigned char storage[sizeof(KaCriticalSection)];
    static KaCriticalSection* lock = new (storage) KaCriticalSection(0, kKaLockPlain);
    return *lock;
}

// Records for threads that register while the allocator is exhausted, so
// that such a thread still has an error list and its diagnostics reach the
// application. Once linked they are reused like any other record.
constexpr int kReserveRecords = KA_THREAD_RESERVE_RECORDS;
alignas(KaThreadInfo) unsigned char gReserveStorage[kReserveRecords][sizeof(KaThreadInfo)];
int gReserveUsed = 0;  // under the thread-list lock

KaThreadInfo* newThreadRecord() noexcept
{
    return new KaThreadInfo;
}

std::atomic<KaThreadRecordAllocator> gRecordAllocator{newThreadRecord};

// The calling thread's record as found last; checked before each use, as
// the thread may have freed it and another thread taken it over since.
thread_local KaThreadInfo* tLastRecord = nullptr;

// The head is set once, under the thread-list lock, and read by lock-free
// lookups.
std::atomic_ref<void*> slotRef(int index) noexcept
{
    return std::atomic_ref<void*>(gTaskSlots[index]);
}

KaThreadInfo* listHead() noexcept
{
    return static_cast<KaThreadInfo*>(slotRef(KA_TASK_SLOT_THREAD_LIST).load(std::memory_order_acquire));
}

// The count first: a positive count read here was stored after the owner it
// belongs to.
bool ownedBy(const KaThreadInfo* rec, uint64_t id) noexcept
{
    return rec->useCount.load(std::memory_order_acquire) > 0 && rec->threadId.load(std::memory_order_relaxed) == id;
}

KaThreadInfo* walk(uint64_t id) noexcept
{
    for (KaThreadInfo* p = listHead(); p != nullptr; p = p->next.load(std::memory_order_acquire)) {
        if (ownedBy(p, id))
            return p;
    }
    return nullptr;
}

// Caller holds the thread-list lock.
void initRecord(KaThreadInfo* rec, uint64_t id) noexcept
{
    for (void*& slot : rec->slots)
        slot = nullptr;
    rec->threadId.store(id, std::memory_order_relaxed);
    rec->useCount.store(1, std::memory_order_release);
}

// Caller holds the thread-list lock.
void lowerUseCount(KaThreadInfo* rec) noexcept
{
    if (rec->useCount.load(std::memory_order_relaxed) > 0)
        rec->useCount.fetch_sub(1, std::memory_order_release);
}

// Registers the thread once more on its own record, or on the first free
// one listed; false when a new record is needed. Caller holds the
// thread-list lock.
bool attachListed(uint64_t id) noexcept
{
    if (KaThreadInfo* rec = threadCurrent()) {
        rec->useCount.fetch_add(1, std::memory_order_release);
        return true;
    }
    for (KaThreadInfo* p = listHead(); p != nullptr; p = p->next.load(std::memory_order_acquire)) {
        if (p->useCount.load(std::memory_order_relaxed) == 0) {
            initRecord(p, id);
            tLastRecord = p;
            return true;
        }
    }
    return false;
}

bool validThreadSlot(int index) noexcept
{
    return index >= 0 && index < KA_THREAD_SLOT_COUNT;
}

bool validTaskSlot(int index) noexcept
{
    return index >= 0 && index < KA_TASK_SLOT_COUNT;
}

}  // namespace

// ---- Process slots ------------------------------------------------------

int taskInit() noexcept
{
    return 1;
}

int taskIsInit() noexcept
{
    return 1;
}

void* taskGetSlot(int index) noexcept
{
    return validTaskSlot(index) ? slotRef(index).load(std::memory_order_acquire) : nullptr;
}

void taskSetSlot(int index, void* value) noexcept
{
    if (validTaskSlot(index))
        slotRef(index).store(value, std::memory_order_release);
}

void** taskSlotAddress(int index) noexcept
{
    return validTaskSlot(index) ? &gTaskSlots[index] : nullptr;
}

namespace {
std::atomic<KaTaskReleaseHook> gIniCacheRelease{nullptr};
}

void taskSetIniCacheRelease(KaTaskReleaseHook hook) noexcept
{
    gIniCacheRelease.store(hook, std::memory_order_release);
}

void taskReleaseIniCache() noexcept
{
    if (gTaskSlots[KA_TASK_SLOT_ENV_COUNT] != nullptr)
        return;
    KaTaskReleaseHook hook = gIniCacheRelease.load(std::memory_order_acquire);
    if (hook != nullptr)
        hook();
}

// ---- Thread records -----------------------------------------------------

KaThreadInfo::~KaThreadInfo() = default;

void KaThreadInfo::release() noexcept
{
    KaLockGuard<KaCriticalSection> guard(threadListLock());
    lowerUseCount(this);
}

uint64_t threadCurrentId() noexcept
{
    return static_cast<uint64_t>(pthread_self());
}

KaThreadInfo* threadFind(uint64_t threadId) noexcept
{
    KaThreadInfo* last = tLastRecord;
    if (last != nullptr && ownedBy(last, threadId))
        return last;
    return walk(threadId);
}

KaThreadInfo* threadCurrent() noexcept
{
    uint64_t id = threadCurrentId();
    KaThreadInfo* rec = tLastRecord;
    if (rec != nullptr && ownedBy(rec, id))
        return rec;
    rec = walk(id);
    if (rec != nullptr)
        tLastRecord = rec;
    return rec;
}

void* threadGetSlot(int index) noexcept
{
    if (!validThreadSlot(index))
        return nullptr;
    KaThreadInfo* rec = threadCurrent();
    return rec != nullptr ? rec->slots[index] : nullptr;
}

void** threadSlotAddress(int index) noexcept
{
    if (!validThreadSlot(index))
        return nullptr;
    KaThreadInfo* rec = threadCurrent();
    return rec != nullptr ? &rec->slots[index] : nullptr;
}

void threadSetSlot(int index, void* value) noexcept
{
    if (!validThreadSlot(index))
        return;
    KaThreadInfo* rec = threadCurrent();
    if (rec != nullptr)
        rec->slots[index] = value;
}

KaThreadRecordAllocator threadSetRecordAllocator(KaThreadRecordAllocator allocator) noexcept
{
    return gRecordAllocator.exchange(allocator != nullptr ? allocator : newThreadRecord);
}

int threadAttach() noexcept
{
    uint64_t id = threadCurrentId();
    {
        KaLockGuard<KaCriticalSection> guard(threadListLock());
        if (attachListed(id))
            return 1;
    }

    // Allocated outside the lock: a failure reports through the thread
    // records, which take the lock themselves.
    KaThreadInfo* fresh = gRecordAllocator.load()();
    KaLockGuard<KaCriticalSection> guard(threadListLock());
    if (fresh == nullptr && gReserveUsed < kReserveRecords)
        fresh = new (gReserveStorage[gReserveUsed++]) KaThreadInfo;
    if (fresh == nullptr)
        return 0;
    initRecord(fresh, id);
    fresh->next.store(nullptr, std::memory_order_relaxed);
    // Published only now, complete: lookups may reach it at once.
    KaThreadInfo* last = listHead();
    if (last == nullptr) {
        slotRef(KA_TASK_SLOT_THREAD_LIST).store(fresh, std::memory_order_release);
    } else {
        while (KaThreadInfo* n = last->next.load(std::memory_order_relaxed))
            last = n;
        last->next.store(fresh, std::memory_order_release);
    }
    tLastRecord = fresh;
    return 1;
}

void threadDetach() noexcept
{
    uint64_t id = threadCurrentId();
    KaLockGuard<KaCriticalSection> guard(threadListLock());
    KaThreadInfo* rec = threadFind(id);
    if (rec != nullptr)
        lowerUseCount(rec);
}
