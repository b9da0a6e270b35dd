#include "foundation/kalock.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "support/errorscope.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "kamessages.h"

namespace {

// 1 when another thread could take the mutex right now.
bool lockableFromOtherThread(KaCriticalSection& cs)
{
    bool got = false;
    std::thread t([&] {
        if (pthread_mutex_trylock(&cs.mutex) == 0) {
            got = true;
            pthread_mutex_unlock(&cs.mutex);
        }
    });
    t.join();
    return got;
}

std::u16string text(const uint16_t* s)
{
    return s == nullptr ? std::u16string() : std::u16string(reinterpret_cast<const char16_t*>(s));
}

std::u16string catalogue(uint16_t number)
{
    uint16_t buf[KA_MESSAGE_TEXT_SIZE];
    size_t n = errLoadMessageW(buf, KA_MESSAGE_TEXT_SIZE, number);
    return std::u16string(reinterpret_cast<const char16_t*>(buf), n);
}

}  // namespace

TEST(KaCriticalSection, SwitchedOffNeverTouchesTheMutex)
{
    alignas(KaCriticalSection) unsigned char storage[sizeof(KaCriticalSection)];
    std::memset(storage, 0xA5, sizeof storage);
    auto* cs = ::new (storage) KaCriticalSection(1, kKaLockPlain);
    cs->enter();
    cs->enter();  // no exclusion at all, so no self-deadlock either
    cs->leave();
    cs->leave();
    size_t offset = reinterpret_cast<unsigned char*>(&cs->mutex) - storage;
    cs->~KaCriticalSection();
    for (size_t i = 0; i < sizeof(pthread_mutex_t); ++i)
        ASSERT_EQ(storage[offset + i], 0xA5) << "mutex byte " << i << " was written";
}

TEST(KaCriticalSection, PlainLockExcludesOtherThreads)
{
    KaCriticalSection cs(0, kKaLockPlain);
    EXPECT_EQ(cs.noLock, 0);
    EXPECT_EQ(cs.recursive, 0);
    cs.enter();
    EXPECT_FALSE(lockableFromOtherThread(cs));
    cs.leave();
    EXPECT_TRUE(lockableFromOtherThread(cs));
}

TEST(KaCriticalSection, KindsOtherThanZeroArePlain)
{
    KaCriticalSection cs(0, 1);
    EXPECT_EQ(cs.recursive, 0);
    cs.enter();
    // A plain mutex held by this thread cannot be taken again.
    EXPECT_EQ(pthread_mutex_trylock(&cs.mutex), EBUSY);
    cs.leave();
}

TEST(KaCriticalSection, RecursiveLockReenters)
{
    KaCriticalSection cs(0, kKaLockRecursive);
    EXPECT_EQ(cs.recursive, 1);
    cs.enter();
    cs.enter();
    EXPECT_FALSE(lockableFromOtherThread(cs));
    cs.leave();
    EXPECT_FALSE(lockableFromOtherThread(cs));
    cs.leave();
    EXPECT_TRUE(lockableFromOtherThread(cs));
}

TEST(KaCriticalSection, DestroyingRecursiveLocksHeldOrNot)
{
    {
        KaCriticalSection unheld(0, kKaLockRecursive);
    }
    {
        KaCriticalSection held(0, kKaLockRecursive);
        held.enter();
    }
    auto* heap = new KaCriticalSection(0, kKaLockRecursive);
    ASSERT_NE(heap, nullptr);
    delete heap;
}

TEST(KaCriticalSection, ReinitSwitchesLocking)
{
    KaCriticalSection cs(1, kKaLockPlain);
    cs.init(0, kKaLockPlain);
    cs.enter();
    EXPECT_FALSE(lockableFromOtherThread(cs));
    cs.leave();
    cs.init(1, kKaLockPlain);
    cs.enter();
    cs.leave();
    EXPECT_EQ(cs.noLock, 1);
}

TEST(KaCriticalSection, GuardsACounter)
{
    KaCriticalSection cs;
    long counter = 0;
    std::thread threads[4];
    for (auto& t : threads) {
        t = std::thread([&] {
            for (int i = 0; i < 10000; ++i) {
                cs.enter();
                ++counter;
                cs.leave();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 40000);
}

TEST(KaSemaphore, MutualExclusionWithInitialValueOne)
{
    KaSemaphore sem(nullptr, kKaSemSlotNone);
    int value = -1;
    ASSERT_EQ(sem_getvalue(&sem.posix.sem, &value), 0);
    EXPECT_EQ(value, 1);
    sem.wait();
    EXPECT_EQ(sem_trywait(&sem.posix.sem), -1);
    sem.post();
    EXPECT_EQ(sem_trywait(&sem.posix.sem), 0);
    sem.post();
}

TEST(KaSemaphore, OnlyARecreatedSemaphoreReportsItsDestruction)
{
    uint64_t slot = 0;
    {
        KaSemaphore first(&slot, kKaSemSlotNone);
        EXPECT_EQ(first.ownerSlot, nullptr);
    }
    EXPECT_EQ(slot, 0u);
    {
        KaSemaphore again(&slot, kKaSemSlotDestroyed);
        EXPECT_EQ(again.ownerSlot, &slot);
        slot = 12345;
    }
    EXPECT_EQ(slot, kKaSemSlotDestroyed);
}

TEST(KaSemaphoreSlot, CreatedOnFirstLockAndShared)
{
    uint64_t slot = kKaSemSlotNone;
    KaSemaphoreUnlock(&slot);  // nothing to post yet
    EXPECT_EQ(slot, kKaSemSlotNone);
    ASSERT_EQ(KaSemaphoreLock(&slot), 0);
    ASSERT_GT(slot, kKaSemSlotDestroyed);
    auto* sem = reinterpret_cast<KaSemaphore*>(slot);
    EXPECT_EQ(sem_trywait(&sem->posix.sem), -1);  // held
    KaSemaphoreUnlock(&slot);

    long counter = 0;
    std::thread threads[4];
    for (auto& t : threads) {
        t = std::thread([&] {
            for (int i = 0; i < 2000; ++i) {
                EXPECT_EQ(KaSemaphoreLock(&slot), 0);
                ++counter;
                KaSemaphoreUnlock(&slot);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 8000);
    EXPECT_EQ(reinterpret_cast<KaSemaphore*>(slot), sem);
    delete sem;
}

TEST(KaSemaphoreSlot, ConcurrentFirstLocksCreateOneSemaphore)
{
    for (int round = 0; round < 20; ++round) {
        uint64_t slot = kKaSemSlotNone;
        std::atomic<int> inside{0};
        std::atomic<int> maxInside{0};
        std::thread threads[4];
        for (auto& t : threads) {
            t = std::thread([&] {
                ASSERT_EQ(KaSemaphoreLock(&slot), 0);
                int now = ++inside;
                int seen = maxInside.load();
                while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::yield();
                --inside;
                KaSemaphoreUnlock(&slot);
            });
        }
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(maxInside.load(), 1);
        delete reinterpret_cast<KaSemaphore*>(slot);
    }
}

TEST(KaSemaphoreSlot, DestroyedSemaphoreIsRecreated)
{
    uint64_t slot = kKaSemSlotDestroyed;
    ASSERT_EQ(KaSemaphoreLock(&slot), 0);
    auto* sem = reinterpret_cast<KaSemaphore*>(slot);
    EXPECT_EQ(sem->ownerSlot, &slot);
    KaSemaphoreUnlock(&slot);
    delete sem;
    EXPECT_EQ(slot, kKaSemSlotDestroyed);
}

namespace {

class Counted : public KaObject {
public:
    explicit Counted(int* deaths) : deaths_(deaths) {}
    ~Counted() override { ++*deaths_; }

private:
    int* deaths_;
};

}  // namespace

TEST(KaSemaphoreInfo, KeepsAndDeletesItsObjects)
{
    int deaths = 0;
    auto* info = new KaSemaphoreInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->count, 0);
    EXPECT_EQ(info->objects.growStep, 16u);
    EXPECT_EQ(info->objects.flags, 0);
    auto* a = new Counted(&deaths);
    auto* b = new Counted(&deaths);
    auto* c = new Counted(&deaths);
    ASSERT_EQ(info->objects.semAppend(a), 0);
    ASSERT_EQ(info->objects.semAppend(c), 0);
    ASSERT_EQ(info->objects.semInsertAt(1, b), 0);
    EXPECT_EQ(info->objects.semCount(), 3);
    EXPECT_EQ(info->objects.semItemAt(1), b);
    EXPECT_EQ(info->objects.semItemAt(3), nullptr);

    EXPECT_EQ(info->removeObject(b), 0);
    EXPECT_EQ(info->objects.semCount(), 2);
    EXPECT_EQ(info->removeObject(b), 2);  // no longer there: the count
    EXPECT_EQ(deaths, 0);
    delete b;
    EXPECT_EQ(deaths, 1);

    info->count = 2;
    info->entries[0] = {3, 3, -1};
    info->entries[1] = {2, 2, -1};
    EXPECT_EQ(info->anyEntryBelowLimit(), 0);
    info->entries[1].inUse = 1;
    EXPECT_EQ(info->anyEntryBelowLimit(), 1);
    info->count = 0;  // the identifiers are not real semaphores
    delete info;
    EXPECT_EQ(deaths, 3);
}

TEST(KaSemaphoreInfo, RemovesItsSystemVSemaphores)
{
    int id = semget(IPC_PRIVATE, 1, IPC_CREAT | 0600);
    if (id < 0)
        GTEST_SKIP() << "System V semaphores unavailable: " << std::strerror(errno);
    {
        KaSemaphoreInfo info;
        info.entries[0] = {1, 0, id};
        info.count = 1;
    }
    EXPECT_EQ(semctl(id, 0, GETVAL), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(Threads, CreateJoinAndSelf)
{
    struct Arg {
        pthread_t seen;
        int value;
    } arg{};
    auto start = [](void* p) -> void* {
        auto* a = static_cast<Arg*>(p);
        a->seen = threadSelf();
        a->value = 42;
        threadExit(reinterpret_cast<void*>(7));
    };
    pthread_t thread;
    ASSERT_EQ(threadCreate(start, &arg, &thread), 0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(thread, &result), 0);
    EXPECT_EQ(result, reinterpret_cast<void*>(7));
    EXPECT_EQ(arg.value, 42);
    EXPECT_TRUE(pthread_equal(arg.seen, thread));
    EXPECT_TRUE(pthread_equal(threadSelf(), pthread_self()));
    KaThreadingInit();
}

class ThreadCreateError : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
    katest::ErrorScope errors_;
};

TEST_F(ThreadCreateError, SuccessPostsNothing)
{
    EXPECT_EQ(threadReportCreateError(0), 0);
    EXPECT_EQ(errors_.size(), 0u);
    EXPECT_FALSE(errors_.list.hasErrors());
}

TEST_F(ThreadCreateError, UnknownReasonUsesItsOwnText)
{
    EXPECT_EQ(threadReportCreateError(-1), 1);
    ASSERT_EQ(errors_.size(), 1u);
    KaError* r = errors_.at(0);
    EXPECT_EQ(r->nativeCode, MSG_THREAD_CREATE_FAILED);
    EXPECT_EQ(text(r->sqlstateWide), u"HY000");
    EXPECT_EQ(r->sqlstateMsg, 60);
    EXPECT_FALSE(r->isWarning());
    EXPECT_EQ(catalogue(MSG_THREAD_CREATE_FAILED), u"The driver could not start a thread: %s1");
    EXPECT_EQ(errors_.text(0), "The driver could not start a thread: the system gave no reason");
}

TEST_F(ThreadCreateError, SystemErrorNumberGoesIntoTheReason)
{
    EXPECT_EQ(threadReportCreateError(EAGAIN), 1);
    ASSERT_EQ(errors_.size(), 1u);
    KaError* r = errors_.at(0);
    EXPECT_EQ(r->nativeCode, MSG_THREAD_CREATE_FAILED);
    EXPECT_EQ(text(r->sqlstateWide), u"HY000");
    EXPECT_EQ(errors_.text(0), "The driver could not start a thread: the system returned error 11");
}

TEST_F(ThreadCreateError, NegativeResultsOtherThanMinusOne)
{
    EXPECT_EQ(threadReportCreateError(-22), 1);
    EXPECT_EQ(errors_.text(0), "The driver could not start a thread: the system returned error -22");
}
