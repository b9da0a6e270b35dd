// Locks, semaphores and threads over POSIX threads and semaphores.
#include "foundation/kalock.h"

#include <sched.h>
#include <sys/ipc.h>
#include <sys/sem.h>

#include <atomic>
#include <cerrno>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaparamstring.h"
#include "kamessages.h"

// ---- KaCriticalSection ----------------------------------------------------

KaCriticalSection::KaCriticalSection(int32_t noLockValue, int32_t kind) noexcept : noLock(1), recursive(0)
{
    init(noLockValue, kind);
}

KaCriticalSection::~KaCriticalSection()
{
    if (noLock != 0)
        return;
    // Releases a recursive lock still held once by the destroying thread;
    // on an unheld lock the unlock fails harmlessly.
    if (recursive == 1)
        pthread_mutex_unlock(&mutex);
    pthread_mutex_destroy(&mutex);
}

void KaCriticalSection::init(int32_t noLockValue, int32_t kind) noexcept
{
    if (noLock == 0)
        pthread_mutex_destroy(&mutex);
    noLock = noLockValue;
    recursive = kind == kKaLockRecursive ? 1 : 0;
    if (noLock != 0)
        return;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, recursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_NORMAL);
    pthread_mutex_init(&mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

void KaThreadingInit() noexcept {}

// ---- Semaphores -----------------------------------------------------------

KaPosixSemaphore::KaPosixSemaphore() noexcept
{
    // The semaphore lives in this process's heap, so another process could
    // never reach it: it guards threads only. Processes that share a file
    // rely on file locks (the ini writer locks and renames).
    sem_init(&sem, 0, 1);
}

KaPosixSemaphore::~KaPosixSemaphore()
{
    sem_destroy(&sem);
}

KaSemaphore::KaSemaphore(uint64_t* slot, uint64_t previousState) noexcept
    : ownerSlot(previousState == kKaSemSlotDestroyed ? slot : nullptr)
{}

KaSemaphore::~KaSemaphore()
{
    // The member semaphore is destroyed after this body; the slot only
    // learns that it must create a new one on the next lock.
    if (ownerSlot != nullptr)
        std::atomic_ref<uint64_t>(*ownerSlot).store(kKaSemSlotDestroyed, std::memory_order_release);
}

void KaSemaphore::wait() noexcept
{
    while (sem_wait(&posix.sem) != 0 && errno == EINTR) {
    }
}

void KaSemaphore::post() noexcept
{
    sem_post(&posix.sem);
}

int KaSemaphoreLock(uint64_t* slot) noexcept
{
    std::atomic_ref<uint64_t> state(*slot);
    for (;;) {
        uint64_t value = state.load(std::memory_order_acquire);
        if (value > kKaSemSlotDestroyed) {
            reinterpret_cast<KaSemaphore*>(value)->wait();
            return 0;
        }
        if (value == kKaSemSlotCreating) {
            // Another thread is creating the semaphore: wait for it rather
            // than go on without the lock.
            sched_yield();
            continue;
        }
        if (!state.compare_exchange_weak(value, kKaSemSlotCreating, std::memory_order_acq_rel))
            continue;
        auto* sem = new KaSemaphore(slot, value);
        if (sem == nullptr) {
            // Out of memory is posted; a later lock may try again.
            state.store(value, std::memory_order_release);
            return 1;
        }
        state.store(reinterpret_cast<uint64_t>(sem), std::memory_order_release);
    }
}

void KaSemaphoreUnlock(uint64_t* slot) noexcept
{
    uint64_t value = std::atomic_ref<uint64_t>(*slot).load(std::memory_order_acquire);
    if (value > kKaSemSlotDestroyed)
        reinterpret_cast<KaSemaphore*>(value)->post();
}

// ---- SemArray and KaSemaphoreInfo ------------------------------------------

SemArray::SemArray() noexcept : KaArray(16, 0), spare(0) {}

SemArray::~SemArray() = default;

int SemArray::semAppend(KaObject* object) noexcept
{
    return append(object);
}

int SemArray::semInsertAt(uint16_t index, KaObject* object) noexcept
{
    if (index > count)
        return 1;
    return insertAt(object, index);
}

void SemArray::semDeleteAll() noexcept
{
    deleteAll();
}

void SemArray::semDeleteAt(uint16_t index) noexcept
{
    if (index < count)
        deleteAt(index);
}

void SemArray::semRemoveAt(uint16_t index) noexcept
{
    if (index < count)
        removeAt(index);
}

uint16_t SemArray::semCount() const noexcept
{
    return static_cast<uint16_t>(count);
}

KaObject* SemArray::semItemAt(uint16_t index) const noexcept
{
    return index < count ? at(index) : nullptr;
}

KaSemaphoreInfo::KaSemaphoreInfo() noexcept : entries(), count(0) {}

KaSemaphoreInfo::~KaSemaphoreInfo()
{
    uint16_t n = count < kKaSemInfoEntries ? count : kKaSemInfoEntries;
    for (uint16_t i = 0; i < n; ++i)
        semctl(entries[i].semId, 0, IPC_RMID);
    for (uint16_t i = objects.semCount(); i > 0; --i) {
        KaObject* object = objects.semItemAt(static_cast<uint16_t>(i - 1));
        objects.semRemoveAt(static_cast<uint16_t>(i - 1));
        delete object;
    }
}

int KaSemaphoreInfo::anyEntryBelowLimit() const noexcept
{
    uint16_t n = count < kKaSemInfoEntries ? count : kKaSemInfoEntries;
    for (uint16_t i = 0; i < n; ++i) {
        if (entries[i].inUse < entries[i].limit)
            return 1;
    }
    return 0;
}

uint16_t KaSemaphoreInfo::removeObject(KaObject* object) noexcept
{
    uint16_t n = objects.semCount();
    for (uint16_t i = 0; i < n; ++i) {
        if (objects.semItemAt(i) == object) {
            objects.semRemoveAt(i);
            return 0;
        }
    }
    return n;
}

// ---- Threads ---------------------------------------------------------------

int threadCreate(KaThreadStart start, void* argument, pthread_t* threadOut) noexcept
{
    pthread_t thread;
    int result = pthread_create(&thread, nullptr, start, argument);
    if (result == 0 && threadOut != nullptr)
        *threadOut = thread;
    return result;
}

void threadExit(void* result) noexcept
{
    pthread_exit(result);
}

pthread_t threadSelf() noexcept
{
    return pthread_self();
}

namespace {

// Writes value in decimal into out (room for any int) and returns out.
uint16_t* decimalW(int value, uint16_t* out) noexcept
{
    char digits[16];
    int n = 0;
    int64_t v = value;
    bool negative = v < 0;
    if (negative)
        v = -v;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    size_t i = 0;
    if (negative)
        out[i++] = u'-';
    while (n > 0)
        out[i++] = static_cast<uint16_t>(digits[--n]);
    out[i] = 0;
    return out;
}

}  // namespace

int threadReportCreateError(int result) noexcept
{
    if (result == 0)
        return 0;
    static const uint16_t generalError[] = {u'H', u'Y', u'0', u'0', u'0', 0};
    KaError* record = errPost(MSG_THREAD_CREATE_FAILED);
    record->setSqlstateW(generalError)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR);

    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    if (result == -1) {
        errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, MSG_THREAD_CREATE_NO_REASON);
        record->addParamW(text);
        return 1;
    }
    errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, MSG_THREAD_CREATE_SYSTEM_ERROR);
    KaParamStringW reason;
    if (reason.set(text) == 0 && reason.addParamSigned(result) == 0)
        record->addParamSubStringW(reason);
    else
        record->addParamW(decimalW(result, text));
    return 1;
}
