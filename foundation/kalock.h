// Locks, semaphores and threads: a mutex that can be switched off as a whole,
// a counting semaphore shared by the threads of the process, a table of
// System V semaphores, the scoped guard every lock is held by, and the thread
// calls. Process-wide locks are static KaCriticalSection objects; per-object
// locks are members of the objects they guard.
#pragma once
#include <pthread.h>
#include <semaphore.h>

#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"

// Mutex kinds of KaCriticalSection::init; any kind other than 0 is plain.
constexpr int32_t kKaLockRecursive = 0;
constexpr int32_t kKaLockPlain = 2;

class KaCriticalSection : public KaObject {
public:
    explicit KaCriticalSection(int32_t noLock = 0, int32_t kind = kKaLockPlain) noexcept;
    ~KaCriticalSection() override;

    KaCriticalSection(const KaCriticalSection&) = delete;
    KaCriticalSection& operator=(const KaCriticalSection&) = delete;

    // Re-initialising a live lock first destroys its mutex; the lock must not
    // be held then.
    void init(int32_t noLock, int32_t kind) noexcept;

    void enter() noexcept
    {
        if (noLock == 0)
            pthread_mutex_lock(&mutex);
    }
    void leave() noexcept
    {
        if (noLock == 0)
            pthread_mutex_unlock(&mutex);
    }

    int32_t noLock;
    int32_t recursive;
    pthread_mutex_t mutex;
};

// Holds a POSIX semaphore with value 1, private to the process.
class KaPosixSemaphore : public KaObject {
public:
    KaPosixSemaphore() noexcept;
    ~KaPosixSemaphore() override;

    KaPosixSemaphore(const KaPosixSemaphore&) = delete;
    KaPosixSemaphore& operator=(const KaPosixSemaphore&) = delete;

    sem_t sem;
};

// Values of a semaphore slot (KaSemaphoreLock); anything above is a
// KaSemaphore pointer.
constexpr uint64_t kKaSemSlotNone = 0;
constexpr uint64_t kKaSemSlotCreating = 1;
constexpr uint64_t kKaSemSlotDestroyed = 2;

class KaSemaphore : public KaObject {
public:
    // ownerSlot is kept only when previousState is kKaSemSlotDestroyed; the
    // destructor then writes kKaSemSlotDestroyed back into it.
    KaSemaphore(uint64_t* ownerSlot, uint64_t previousState) noexcept;
    ~KaSemaphore() override;

    KaSemaphore(const KaSemaphore&) = delete;
    KaSemaphore& operator=(const KaSemaphore&) = delete;

    void wait() noexcept;  // sem_wait, retried when interrupted
    void post() noexcept;  // sem_post

    KaPosixSemaphore posix;
    uint64_t* ownerSlot;
};

// A semaphore created on first use through a slot. Lock returns 0 when the
// semaphore is held, 1 when none could be created (out of memory posted).
[[nodiscard]] int KaSemaphoreLock(uint64_t* slot) noexcept;
void KaSemaphoreUnlock(uint64_t* slot) noexcept;

// Array of the objects that a KaSemaphoreInfo keeps: grow step 16, no
// ownership flags; the info object deletes its objects itself. Access goes
// through these wrappers, 16-bit indexes.
class SemArray : public KaArray {
public:
    SemArray() noexcept;
    ~SemArray() override;

    [[nodiscard]] int semAppend(KaObject* object) noexcept;                    // 0/1
    [[nodiscard]] int semInsertAt(uint16_t index, KaObject* object) noexcept;  // 0/1
    void semDeleteAll() noexcept;
    void semDeleteAt(uint16_t index) noexcept;
    void semRemoveAt(uint16_t index) noexcept;
    uint16_t semCount() const noexcept;
    KaObject* semItemAt(uint16_t index) const noexcept;

    uint64_t spare;
};

constexpr int kKaSemInfoEntries = 10;

class KaSemaphoreInfo : public KaObject {
public:
    struct Entry {
        uint16_t limit;
        uint16_t inUse;
        int32_t semId;  // System V semaphore identifier
    };

    KaSemaphoreInfo() noexcept;
    ~KaSemaphoreInfo() override;

    KaSemaphoreInfo(const KaSemaphoreInfo&) = delete;
    KaSemaphoreInfo& operator=(const KaSemaphoreInfo&) = delete;

    int anyEntryBelowLimit() const noexcept;
    // 0 when the object was removed (not deleted); the count when absent.
    uint16_t removeObject(KaObject* object) noexcept;

    Entry entries[kKaSemInfoEntries];
    uint16_t count;
    SemArray objects;
};

// Holds a lock for the life of a scope: a KaCriticalSection (enter/leave)
// or a KaSemaphore (wait/post). Every lock of the driver is taken this way,
// so no early return can leave one held.
template <class Lock>
class [[nodiscard]] KaLockGuard {
public:
    explicit KaLockGuard(Lock& lock) noexcept : held(lock) { acquire(held); }
    ~KaLockGuard() { release(held); }

    KaLockGuard(const KaLockGuard&) = delete;
    KaLockGuard& operator=(const KaLockGuard&) = delete;

private:
    static void acquire(KaCriticalSection& l) noexcept { l.enter(); }
    static void release(KaCriticalSection& l) noexcept { l.leave(); }
    static void acquire(KaSemaphore& s) noexcept { s.wait(); }
    static void release(KaSemaphore& s) noexcept { s.post(); }

    Lock& held;
};

// Connect-time threading hook; nothing to prepare on this platform.
void KaThreadingInit() noexcept;

using KaThreadStart = void* (*)(void*);
// 0 on success, else the pthread_create error number.
[[nodiscard]] int threadCreate(KaThreadStart start, void* argument, pthread_t* threadOut) noexcept;
[[noreturn]] void threadExit(void* result) noexcept;
pthread_t threadSelf() noexcept;
// 0 for result 0; otherwise posts the thread-creation failure and returns 1.
int threadReportCreateError(int result) noexcept;
