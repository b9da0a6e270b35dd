// The set of live handles: entries found by address with their kind, gone
// once removed (also when they shared probe runs with others), and safe to
// use from many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "odbc/basehandles.h"

namespace {

// Addresses that are never dereferenced: the set only compares them.
const void* fakeAddress(uintptr_t base, size_t i)
{
    return reinterpret_cast<const void*>(base + i * 16);
}

}  // namespace

TEST(HandleSet, EntriesKeepTheirKindUntilRemoved)
{
    // Enough entries that every shard grows and its probe runs overlap.
    constexpr size_t kCount = 20000;
    constexpr uintptr_t kBase = 0x7f0000100000;
    const BaseHandleKind kinds[] = {BaseHandleKind::env, BaseHandleKind::connection, BaseHandleKind::statement,
                                    BaseHandleKind::descriptor};
    for (size_t i = 0; i < kCount; ++i)
        ASSERT_TRUE(baseHandleAdd(fakeAddress(kBase, i), kinds[i % 4]));
    for (size_t i = 0; i < kCount; i += 3)
        baseHandleRemove(fakeAddress(kBase, i));
    for (size_t i = 0; i < kCount; ++i) {
        const BaseHandleKind want = i % 3 == 0 ? BaseHandleKind::none : kinds[i % 4];
        ASSERT_EQ(baseHandleKindOf(fakeAddress(kBase, i)), want) << i;
    }
    // Removing what is not there, twice, changes nothing.
    baseHandleRemove(fakeAddress(kBase, 0));
    baseHandleRemove(fakeAddress(kBase, kCount + 5));
    EXPECT_EQ(baseHandleKindOf(fakeAddress(kBase, 1)), kinds[1]);
    // Recording an address again takes its new kind.
    ASSERT_TRUE(baseHandleAdd(fakeAddress(kBase, 1), BaseHandleKind::statement));
    EXPECT_EQ(baseHandleKindOf(fakeAddress(kBase, 1)), BaseHandleKind::statement);
    for (size_t i = 0; i < kCount; ++i)
        baseHandleRemove(fakeAddress(kBase, i));
    for (size_t i = 0; i < kCount; ++i)
        ASSERT_EQ(baseHandleKindOf(fakeAddress(kBase, i)), BaseHandleKind::none) << i;
}

TEST(HandleSet, NullAndUnalignedAddressesAreNoHandles)
{
    EXPECT_FALSE(baseHandleAdd(nullptr, BaseHandleKind::env));
    EXPECT_FALSE(baseHandleAdd(reinterpret_cast<const void*>(uintptr_t{0x7f0000200003}), BaseHandleKind::env));
    EXPECT_EQ(baseHandleKindOf(nullptr), BaseHandleKind::none);
    EXPECT_EQ(baseHandleKindOf(reinterpret_cast<const void*>(uintptr_t{0x7f0000200003})), BaseHandleKind::none);
    baseHandleRemove(nullptr);
}

TEST(HandleSet, ThreadsAddAndRemoveTheirOwnWhileOthersLookUp)
{
    constexpr size_t kThreads = 6;
    constexpr size_t kPerThread = 3000;
    std::atomic<bool> stop{false};
    std::atomic<size_t> wrong{0};
    // A reader sees an entry of a writer only with the kind it was given.
    std::thread reader([&] {
        while (!stop.load()) {
            for (size_t t = 0; t < kThreads; ++t) {
                const BaseHandleKind k = baseHandleKindOf(fakeAddress(0x7f1000000000 + t * 0x1000000, kPerThread / 2));
                if (k != BaseHandleKind::none && k != BaseHandleKind::statement)
                    wrong.fetch_add(1);
            }
        }
    });
    std::vector<std::thread> writers;
    for (size_t t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            const uintptr_t base = 0x7f1000000000 + t * 0x1000000;
            for (int round = 0; round < 3; ++round) {
                for (size_t i = 0; i < kPerThread; ++i)
                    if (!baseHandleAdd(fakeAddress(base, i), BaseHandleKind::statement))
                        wrong.fetch_add(1);
                for (size_t i = 0; i < kPerThread; ++i)
                    if (baseHandleKindOf(fakeAddress(base, i)) != BaseHandleKind::statement)
                        wrong.fetch_add(1);
                for (size_t i = 0; i < kPerThread; ++i)
                    baseHandleRemove(fakeAddress(base, i));
                for (size_t i = 0; i < kPerThread; ++i)
                    if (baseHandleKindOf(fakeAddress(base, i)) != BaseHandleKind::none)
                        wrong.fetch_add(1);
            }
        });
    }
    for (std::thread& w : writers)
        w.join();
    stop.store(true);
    reader.join();
    EXPECT_EQ(wrong.load(), 0u);
}
