#include "foundation/kathread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/errorscope.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"

using katest::ErrorScope;
using katest::W;

extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

// Slots that no part of the driver uses, for the tests to fill.
constexpr int kSpareTaskSlot = 3;
constexpr int kSpareThreadSlot = 1;
constexpr int kOtherSpareThreadSlot = 2;

// Runs fn on a thread of its own and waits for it.
void onThread(const std::function<void()>& fn)
{
    std::thread t(fn);
    t.join();
}

std::vector<KaThreadInfo*> records()
{
    std::vector<KaThreadInfo*> out;
    for (auto* p = static_cast<KaThreadInfo*>(taskGetSlot(KA_TASK_SLOT_THREAD_LIST)); p != nullptr; p = p->next)
        out.push_back(p);
    return out;
}

KaThreadInfo* firstFree()
{
    for (KaThreadInfo* p : records()) {
        if (p->useCount == 0)
            return p;
    }
    return nullptr;
}

// Lets threads hold their registration until released.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    void wait()
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return open; });
    }
    void release()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            open = true;
        }
        cv.notify_all();
    }
};

KaThreadInfo* failingAllocator() noexcept
{
    ramOutOfMemory();
    return nullptr;
}

}  // namespace

TEST(KaTask, SlotsHoldValuesAndRejectBadIndexes)
{
    int value = 0;
    EXPECT_EQ(taskInit(), 1);
    EXPECT_EQ(taskIsInit(), 1);
    taskSetSlot(kSpareTaskSlot, &value);
    EXPECT_EQ(taskGetSlot(kSpareTaskSlot), &value);
    EXPECT_EQ(*taskSlotAddress(3), &value);
    taskSetSlot(kSpareTaskSlot, nullptr);
    EXPECT_EQ(taskGetSlot(KA_TASK_SLOT_COUNT), nullptr);
    EXPECT_EQ(taskSlotAddress(-1), nullptr);
    taskSetSlot(KA_TASK_SLOT_COUNT, &value);  // ignored
}

namespace {
int gReleases = 0;
void countRelease() noexcept
{
    ++gReleases;
}
}  // namespace

TEST(KaTask, IniCacheReleaseHookRunsOnlyWithoutEnvironments)
{
    gReleases = 0;
    taskSetIniCacheRelease(countRelease);
    taskSetSlot(KA_TASK_SLOT_ENV_COUNT, reinterpret_cast<void*>(1));
    taskReleaseIniCache();
    EXPECT_EQ(gReleases, 0);
    taskSetSlot(KA_TASK_SLOT_ENV_COUNT, nullptr);
    taskReleaseIniCache();
    EXPECT_EQ(gReleases, 1);
    taskSetIniCacheRelease(nullptr);
    taskReleaseIniCache();
    EXPECT_EQ(gReleases, 1);
}

TEST(KaThread, AttachNestsAndFreedRecordsAreReused)
{
    KaThreadInfo* held = nullptr;
    onThread([&] {
        ASSERT_EQ(threadAttach(), 1);
        ASSERT_EQ(threadAttach(), 1);
        held = threadCurrent();
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(held->useCount.load(), 2);
        threadDetach();
        EXPECT_EQ(threadCurrent(), held);
        for (int i = 1; i < KA_THREAD_SLOT_COUNT; ++i)
            threadSetSlot(i, reinterpret_cast<void*>(uintptr_t(i)));
        threadDetach();
        EXPECT_EQ(threadCurrent(), nullptr);
        EXPECT_EQ(threadGetSlot(kSpareThreadSlot), nullptr);
        threadDetach();  // one too many: nothing happens
        EXPECT_EQ(held->useCount.load(), 0);
    });
    KaThreadInfo* expected = firstFree();
    ASSERT_NE(expected, nullptr);
    onThread([&] {
        ASSERT_EQ(threadAttach(), 1);
        KaThreadInfo* rec = threadCurrent();
        EXPECT_EQ(rec, expected);
        // A reused record starts empty.
        for (int i = 0; i < KA_THREAD_SLOT_COUNT; ++i)
            EXPECT_EQ(threadGetSlot(i), nullptr) << i;
        EXPECT_EQ(rec->threadId.load(), threadCurrentId());
        threadDetach();
    });
}

TEST(KaThread, RecordTakenOverByAnotherThreadIsNoLongerTheCallers)
{
    // A frees its record while it lives on; B takes the record over. A's
    // lookups must not answer with it, nor write into B's slots.
    Gate aFreed, bHolds, aChecked;
    KaThreadInfo* aRecord = nullptr;
    KaThreadInfo* bRecord = nullptr;
    int bValue = 0;
    std::thread a([&] {
        ASSERT_EQ(threadAttach(), 1);
        aRecord = threadCurrent();
        threadSetSlot(kSpareThreadSlot, &aRecord);
        threadDetach();
        aFreed.release();
        bHolds.wait();
        EXPECT_EQ(threadCurrent(), nullptr);
        EXPECT_EQ(threadFind(threadCurrentId()), nullptr);
        EXPECT_EQ(threadGetSlot(kSpareThreadSlot), nullptr);
        EXPECT_EQ(threadSlotAddress(1), nullptr);
        threadSetSlot(kSpareThreadSlot, &aRecord);  // no record: nothing stored
        threadDetach();                             // not B's count to lower
        ASSERT_EQ(threadAttach(), 1);
        EXPECT_NE(threadCurrent(), bRecord);
        EXPECT_EQ(threadGetSlot(kSpareThreadSlot), nullptr);
        threadDetach();
        aChecked.release();
    });
    std::thread b([&] {
        aFreed.wait();
        ASSERT_EQ(threadAttach(), 1);
        bRecord = threadCurrent();
        threadSetSlot(kSpareThreadSlot, &bValue);
        bHolds.release();
        aChecked.wait();
        EXPECT_EQ(threadCurrent(), bRecord);
        EXPECT_EQ(threadGetSlot(kSpareThreadSlot), &bValue);
        EXPECT_EQ(bRecord->useCount.load(), 1);
        threadDetach();
    });
    a.join();
    b.join();
    // B took the first free record, which A had just given back.
    EXPECT_EQ(bRecord, aRecord);
}

TEST(KaThread, LookupsStayRightWhileOthersRegister)
{
    // Threads come and go (taking over freed records and appending new
    // ones) while others look their own records up and use their slots.
    constexpr int kThreads = 8;
    constexpr int kRounds = 300;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                if (threadAttach() != 1) {
                    ++failures;
                    continue;
                }
                KaThreadInfo* rec = threadCurrent();
                void* mark = reinterpret_cast<void*>(uintptr_t(t * kRounds + r + 1));
                threadSetSlot(kOtherSpareThreadSlot, mark);
                if (rec == nullptr || rec->threadId.load() != threadCurrentId() ||
                    threadFind(threadCurrentId()) != rec || threadGetSlot(kOtherSpareThreadSlot) != mark)
                    ++failures;
                if (r % 7 == 0) {
                    // A short-lived thread of its own, registered meanwhile.
                    std::thread([&] {
                        if (threadAttach() != 1 || threadCurrent() == rec ||
                            threadGetSlot(kOtherSpareThreadSlot) != nullptr)
                            ++failures;
                        threadDetach();
                    }).join();
                }
                if (threadGetSlot(kOtherSpareThreadSlot) != mark)
                    ++failures;
                threadDetach();
                if (threadCurrent() != nullptr)
                    ++failures;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(KaThread, NewThreadTakesFirstFreeRecordElseAppends)
{
    // Hold every free record, then free the second-to-last one and the
    // last one: the next thread must take the earlier of the two.
    std::vector<std::thread> holders;
    std::atomic<int> registered{0};
    size_t freeCount = 0;
    for (KaThreadInfo* p : records())
        freeCount += p->useCount == 0;
    size_t want = freeCount + 3;
    std::vector<KaThreadInfo*> taken(want, nullptr);
    std::vector<std::unique_ptr<Gate>> own;
    for (size_t i = 0; i < want; ++i)
        own.push_back(std::make_unique<Gate>());
    for (size_t i = 0; i < want; ++i) {
        holders.emplace_back([&, i] {
            threadAttach();
            taken[i] = threadCurrent();
            ++registered;
            own[i]->wait();
            threadDetach();
        });
        while (registered.load() != int(i + 1))
            std::this_thread::yield();
    }
    EXPECT_EQ(firstFree(), nullptr);
    std::vector<KaThreadInfo*> all = records();
    ASSERT_GE(all.size(), 3u);
    KaThreadInfo* secondLast = all[all.size() - 2];
    KaThreadInfo* last = all.back();
    auto release = [&](KaThreadInfo* rec) {
        for (size_t i = 0; i < want; ++i) {
            if (taken[i] == rec) {
                own[i]->release();
                holders[i].join();
            }
        }
    };
    release(secondLast);
    release(last);
    onThread([&] {
        threadAttach();
        EXPECT_EQ(threadCurrent(), secondLast);
        threadDetach();
    });
    // With only the last record free, it is taken rather than a new one.
    onThread([&] {
        threadAttach();
        KaThreadInfo* mine = threadCurrent();
        onThread([&] {
            threadAttach();
            EXPECT_EQ(threadCurrent(), last);
            threadDetach();
        });
        EXPECT_EQ(mine, secondLast);
        threadDetach();
    });
    EXPECT_EQ(records().size(), all.size());
    for (size_t i = 0; i < want; ++i) {
        own[i]->release();
        if (holders[i].joinable())
            holders[i].join();
    }
}

TEST(KaThread, ThreadsPostAndReadTheirOwnDiagnosticsAtOnce)
{
    constexpr int kThreads = 8;
    constexpr int kPosts = 200;
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            KaErrorList list(reinterpret_cast<void*>(uintptr_t(t + 1)));
            KaErrorPushList(&list);
            for (int i = 0; i < kPosts; ++i) {
                errPostText(uint16_t(t), W(u"thread %d1 post %d2"))
                    ->addParamUnsigned(uint64_t(t))
                    ->addParamUnsigned(uint64_t(i));
                if (i % 2 == 1)
                    KaErrorSetLastWarning(1);
                if (KaErrorGetListOwner() != reinterpret_cast<void*>(uintptr_t(t + 1)))
                    ++failures;
            }
            if (KaErrorPopList() != &list || KaErrorCurrentList() != nullptr)
                ++failures;
            if (list.count != size_t(kPosts) || list.warningCount != kPosts / 2)
                ++failures;
            for (int i = 0; i < kPosts && size_t(i) < list.count; ++i) {
                std::string want = "thread " + std::to_string(t) + " post " + std::to_string(i);
                if (katest::narrow(katest::u16(list.recordAt(size_t(i))->messageW())) != want)
                    ++failures;
            }
        });
    }
    go = true;
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(KaThread, RegistrationSurvivesAnExhaustedAllocator)
{
    // Every free record is held, so new threads need new records while the
    // allocator fails: the reserve records still give them their own list,
    // and the thread left without a record finds the mark on its list.
    std::vector<std::unique_ptr<Gate>> gates;
    std::vector<std::thread> holders;
    std::atomic<int> done{0};
    size_t freeCount = 0;
    for (KaThreadInfo* p : records())
        freeCount += p->useCount == 0;
    auto hold = [&](size_t n) {
        for (size_t i = 0; i < n; ++i) {
            gates.push_back(std::make_unique<Gate>());
            Gate* g = gates.back().get();
            int before = done.load();
            holders.emplace_back([&, g] {
                threadAttach();
                ++done;
                g->wait();
                threadDetach();
            });
            while (done.load() == before)
                std::this_thread::yield();
        }
    };
    hold(freeCount);
    ASSERT_EQ(firstFree(), nullptr);

    KaThreadRecordAllocator previous = threadSetRecordAllocator(failingAllocator);
    int registeredWhileExhausted = 0;
    bool sawFailure = false;
    for (int attempt = 0; attempt < KA_THREAD_RESERVE_RECORDS + 1 && !sawFailure; ++attempt) {
        std::atomic<int> outcome{0};
        auto* g = new Gate;
        gates.emplace_back(g);
        holders.emplace_back([&, g] {
            KaErrorList list;
            KaErrorPushList(&list);
            if (KaErrorCurrentList() == &list) {
                errPostText(42, W(u"kept"));
                bool ok = list.count == 1 && list.recordAt(0)->nativeCode == 42;
                outcome = ok ? 1 : 3;
                g->wait();
                KaErrorPopList();
            } else {
                bool marked =
                    list.outOfMemoryMark == 1 && list.hasErrors() && list.last() == KaErrorOutOfMemoryRecord();
                outcome = marked ? 2 : 3;
            }
        });
        while (outcome.load() == 0)
            std::this_thread::yield();
        EXPECT_NE(outcome.load(), 3);
        if (outcome.load() == 3)
            break;
        if (outcome.load() == 1)
            ++registeredWhileExhausted;
        else
            sawFailure = true;
    }
    threadSetRecordAllocator(previous);
    EXPECT_GE(registeredWhileExhausted, 1);
    for (auto& g : gates)
        g->release();
    for (auto& t : holders)
        t.join();
}
