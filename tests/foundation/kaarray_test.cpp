#include "foundation/kaarray.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"

// Huge requests must come back as null rather than abort the test.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

int g_deleted = 0;

// An element ordered by its key; the tag tells equal keys apart.
class Item : public KaObject {
public:
    Item(int k, int t = 0) : key(k), tag(t) {}
    ~Item() override { ++g_deleted; }
    int16_t compare(const KaObject& other) const override
    {
        int o = static_cast<const Item&>(other).key;
        return static_cast<int16_t>(key < o ? -1 : key > o ? 1 : 0);
    }
    int key;
    int tag;
};

class ArrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_deleted = 0;
        ASSERT_EQ(threadAttach(), 1);
        KaErrorPushList(&list);
    }
    void TearDown() override
    {
        KaErrorPopList();
        threadDetach();
    }
    KaErrorList list;
};

std::vector<int> keys(const KaArray& a)
{
    std::vector<int> out;
    for (size_t i = 0; i < a.count; ++i)
        out.push_back(static_cast<Item*>(a.at(i))->key);
    return out;
}

std::vector<int> tags(const KaArray& a)
{
    std::vector<int> out;
    for (size_t i = 0; i < a.count; ++i)
        out.push_back(static_cast<Item*>(a.at(i))->tag);
    return out;
}

TEST_F(ArrayTest, AllocateNullsEverySlot)
{
    KaArray a;
    ASSERT_EQ(a.allocate(70000), 0);
    EXPECT_EQ(a.capacity, 70000u);
    EXPECT_EQ(a.count, 0u);
    EXPECT_NE(a.flags & KaArray::ownsBuffer, 0);
    for (size_t i = 0; i < a.capacity; ++i)
        ASSERT_EQ(a.items[i], nullptr) << i;
}

TEST_F(ArrayTest, GrowthFollowsTheStep)
{
    struct Case {
        size_t step;
        std::vector<size_t> capacities;  // after each of the insertions
    } cases[] = {
        {0, {1, 2, 4, 4, 8, 8, 8, 8, 16}},
        {16, {16, 16, 16}},
    };
    for (const auto& c : cases) {
        KaArray a(c.step, 0);
        for (size_t i = 0; i < c.capacities.size(); ++i) {
            ASSERT_EQ(a.append(reinterpret_cast<void*>(i + 1)), 0);
            EXPECT_EQ(a.capacity, c.capacities[i]) << "step " << c.step << " insertion " << i;
        }
    }
    KaArray a(16, 0);
    for (size_t i = 0; i < 17; ++i)
        ASSERT_EQ(a.append(reinterpret_cast<void*>(i + 1)), 0);
    EXPECT_EQ(a.capacity, 32u);
    for (size_t i = 0; i < 17; ++i)
        EXPECT_EQ(a.items[i], reinterpret_cast<void*>(i + 1));
}

TEST_F(ArrayTest, InsertRemoveAndDelete)
{
    KaArray a(4, KaArray::ownsElements);
    ASSERT_EQ(a.insertAt(new Item(2), 0), 0);
    ASSERT_EQ(a.insertAt(new Item(4), 1), 0);
    ASSERT_EQ(a.insertAt(new Item(1), 0), 0);
    ASSERT_EQ(a.insertAt(new Item(3), 2), 0);
    EXPECT_EQ(keys(a), (std::vector<int>{1, 2, 3, 4}));

    auto* kept = static_cast<Item*>(a.at(1));
    a.removeAt(1);
    EXPECT_EQ(keys(a), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(g_deleted, 0);
    EXPECT_TRUE(a.contains(a.at(2)));
    EXPECT_FALSE(a.contains(kept));
    delete kept;

    a.deleteAt(0);
    EXPECT_EQ(g_deleted, 2);
    EXPECT_EQ(keys(a), (std::vector<int>{3, 4}));

    a.deleteAll();
    EXPECT_EQ(g_deleted, 4);
    EXPECT_EQ(a.count, 0u);
}

TEST_F(ArrayTest, DestructorDeletesOnlyOwnedElements)
{
    Item keep(9);
    {
        KaArray borrowed;
        ASSERT_EQ(borrowed.append(&keep), 0);
    }
    EXPECT_EQ(g_deleted, 0);
    {
        KaArray owned(0, KaArray::ownsElements);
        ASSERT_EQ(owned.append(new Item(1)), 0);
        ASSERT_EQ(owned.append(nullptr), 0);
        ASSERT_EQ(owned.append(new Item(2)), 0);
    }
    EXPECT_EQ(g_deleted, 2);
}

TEST_F(ArrayTest, DestroyAllSlotsVisitsScatteredSlots)
{
    KaArray table(0, KaArray::ownsElements | KaArray::destroyAllSlots);
    ASSERT_EQ(table.allocate(8), 0);
    table.items[2] = new Item(1);
    table.items[7] = new Item(2);
    table.deleteAll();
    EXPECT_EQ(g_deleted, 2);
    EXPECT_EQ(table.items[7], nullptr);
}

TEST_F(ArrayTest, BorrowedBlockIsLeftUntouchedOnGrowth)
{
    void* block[3] = {reinterpret_cast<void*>(1), reinterpret_cast<void*>(2), reinterpret_cast<void*>(3)};
    KaArray a;
    a.items = block;
    a.capacity = 2;
    a.count = 2;
    ASSERT_EQ(a.append(reinterpret_cast<void*>(9)), 0);
    EXPECT_NE(a.items, block);
    EXPECT_NE(a.flags & KaArray::ownsBuffer, 0);
    EXPECT_EQ(block[2], reinterpret_cast<void*>(3));
    EXPECT_EQ(a.items[0], reinterpret_cast<void*>(1));
    EXPECT_EQ(a.items[2], reinterpret_cast<void*>(9));
}

TEST_F(ArrayTest, SetSizeOnBorrowedBlockNeverWritesPastIt)
{
    void* block[4] = {reinterpret_cast<void*>(1), reinterpret_cast<void*>(2), reinterpret_cast<void*>(0x77),
                      reinterpret_cast<void*>(0x77)};
    KaArray a;
    a.items = block;
    a.capacity = 2;
    a.count = 2;
    ASSERT_EQ(a.setSize(6), 0);
    EXPECT_EQ(a.capacity, 6u);
    EXPECT_EQ(a.count, 6u);
    EXPECT_NE(a.items, block);
    EXPECT_NE(a.flags & KaArray::ownsBuffer, 0);
    a.items[5] = reinterpret_cast<void*>(5);  // within the array's own block
    EXPECT_EQ(a.items[0], reinterpret_cast<void*>(1));
    EXPECT_EQ(a.items[1], reinterpret_cast<void*>(2));
    EXPECT_EQ(a.items[2], nullptr);
    EXPECT_EQ(block[2], reinterpret_cast<void*>(0x77));
    EXPECT_EQ(block[3], reinterpret_cast<void*>(0x77));

    // Shrinking a borrowed block keeps it.
    KaArray b;
    b.items = block;
    b.capacity = 4;
    ASSERT_EQ(b.setSize(1), 0);
    EXPECT_EQ(b.items, block);
    EXPECT_EQ(b.capacity, 1u);
}

TEST_F(ArrayTest, SetSizeOfOwnedBlock)
{
    KaArray a(0, KaArray::ownsElements);
    ASSERT_EQ(a.append(new Item(1)), 0);
    // The grown slots count as used: the destructor must find them null.
    ASSERT_EQ(a.setSize(5), 0);
    EXPECT_EQ(a.count, 5u);
    for (size_t i = 1; i < 5; ++i)
        EXPECT_EQ(a.items[i], nullptr);
    a.deleteAll();
    ASSERT_EQ(a.setSize(0), 0);
    EXPECT_EQ(a.items, nullptr);
    EXPECT_EQ(a.capacity, 0u);
    ASSERT_EQ(a.append(new Item(2)), 0);
    EXPECT_EQ(a.count, 1u);
}

TEST_F(ArrayTest, ReserveWithoutKeepZeroesTheBlock)
{
    KaArray a;
    ASSERT_EQ(a.append(reinterpret_cast<void*>(5)), 0);
    ASSERT_EQ(a.reserve(3, 0), 0);
    EXPECT_EQ(a.capacity, 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(a.items[i], nullptr);
    ASSERT_EQ(a.reserve(0, 1), 0);
    EXPECT_EQ(a.capacity, 8u);
}

TEST_F(ArrayTest, OutOfMemoryLeavesTheArrayAsItWas)
{
    KaArray a;
    ASSERT_EQ(a.append(reinterpret_cast<void*>(5)), 0);
    void** before = a.items;
    EXPECT_EQ(a.reserve(SIZE_MAX / 16, 1), 1);
    EXPECT_EQ(list.outOfMemoryMark, 1);
    EXPECT_EQ(a.reserve(SIZE_MAX, 1), 1);  // the slot count itself overflows
    EXPECT_EQ(a.allocate(SIZE_MAX / 16), 1);
    EXPECT_EQ(a.setSize(SIZE_MAX / 16), 1);
    EXPECT_EQ(a.items, before);
    EXPECT_EQ(a.capacity, 1u);
    EXPECT_EQ(a.count, 1u);
    EXPECT_EQ(a.items[0], reinterpret_cast<void*>(5));

    KaArray full(SIZE_MAX / 16, 0);
    ASSERT_EQ(full.append(reinterpret_cast<void*>(1)), 1);
    EXPECT_EQ(full.count, 0u);
}

TEST_F(ArrayTest, TypedArraysHoldValues)
{
    KaArrayS32 s;
    ASSERT_EQ(s.append(-5), 0);
    ASSERT_EQ(s.insertAt(INT32_MIN, 0), 0);
    EXPECT_EQ(s.at(0), INT32_MIN);
    EXPECT_EQ(s.at(1), -5);

    KaArrayU32 u;
    ASSERT_EQ(u.append(UINT32_MAX), 0);
    EXPECT_EQ(u.at(0), UINT32_MAX);

    KaArrayKASIZE_T z;
    ASSERT_EQ(z.append(SIZE_MAX), 0);
    z.setAt(0, 42);
    EXPECT_EQ(z.at(0), 42u);

    KaArrayKASSIZE_T n;
    ASSERT_EQ(n.append(-1), 0);
    EXPECT_EQ(n.at(0), -1);
}

TEST_F(ArrayTest, RawBlockArrayFreesItsBlocks)
{
    KaArrayPVoid a;
    a.flags |= KaArray::ownsElements;
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(a.append(ramAlloc(16)), 0);
    a.freeAt(1);
    EXPECT_EQ(a.count, 2u);
    // The destructor frees the remaining blocks (the leak checker holds it to that).
}

TEST_F(ArrayTest, SortedInsertKeepsEqualKeysInInsertionOrder)
{
    KaSortedArray a;
    a.flags |= KaArray::ownsElements;
    EXPECT_EQ(a.growStep, 16u);
    int inputs[][2] = {{5, 1}, {3, 2}, {5, 3}, {7, 4}, {5, 5}, {1, 6}, {3, 7}};
    for (auto& in : inputs)
        ASSERT_EQ(a.insertSorted(new Item(in[0], in[1])), 0);
    EXPECT_EQ(keys(a), (std::vector<int>{1, 3, 3, 5, 5, 5, 7}));
    EXPECT_EQ(tags(a), (std::vector<int>{6, 2, 7, 1, 3, 5, 4}));
    ASSERT_EQ(a.insertSorted(new Item(0, 8)), 0);
    EXPECT_EQ(keys(a).front(), 0);
}

TEST_F(ArrayTest, SearchGivesFoundFlagAndPosition)
{
    KaSortedArray a;
    a.flags |= KaArray::ownsElements;
    for (int k : {10, 20, 30, 40})
        ASSERT_EQ(a.insertSorted(new Item(k)), 0);
    struct Case {
        int key;
        int found;
        size_t position;
    } cases[] = {{5, 0, 0}, {10, 1, 0}, {15, 0, 1}, {30, 1, 2}, {35, 0, 3}, {40, 1, 3}, {45, 0, 4}};
    for (const auto& c : cases) {
        size_t position = 99;
        EXPECT_EQ(a.search(Item(c.key), &position), c.found) << c.key;
        EXPECT_EQ(position, c.position) << c.key;
    }
    size_t index = 99;
    EXPECT_EQ(a.findEqual(Item(30), &index), 1);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(a.findEqual(Item(31), &index), 0);
}

TEST_F(ArrayTest, NoSortBitKeepsPostingOrderUntilSort)
{
    KaSortedArray a;
    a.flags |= KaArray::ownsElements;
    a.sortFlags |= KaSortedArray::noSort2;
    for (int k : {3, 1, 4, 1, 5, 9, 2, 6})
        ASSERT_EQ(a.insertSorted(new Item(k)), 0);
    EXPECT_EQ(keys(a), (std::vector<int>{3, 1, 4, 1, 5, 9, 2, 6}));
    ASSERT_EQ(a.sort(), 0);
    EXPECT_EQ(keys(a), (std::vector<int>{1, 1, 2, 3, 4, 5, 6, 9}));
}

TEST_F(ArrayTest, SortOfFewElementsIsHarmless)
{
    KaSortedArray empty;
    EXPECT_EQ(empty.sort(), 0);
    KaSortedArray one;
    one.flags |= KaArray::ownsElements;
    ASSERT_EQ(one.insertSorted(new Item(1)), 0);
    EXPECT_EQ(one.sort(), 0);
    EXPECT_EQ(keys(one), (std::vector<int>{1}));
}

TEST_F(ArrayTest, RemoveDuplicatesKeepsTheFirstOfEachRun)
{
    KaSortedArray a;
    a.flags |= KaArray::ownsElements;
    for (int t = 1; t <= 5; ++t)
        ASSERT_EQ(a.insertSorted(new Item(7, t)), 0);
    ASSERT_EQ(a.insertSorted(new Item(8, 6)), 0);
    a.removeDuplicates();
    EXPECT_EQ(g_deleted, 4);
    EXPECT_EQ(keys(a), (std::vector<int>{7, 8}));
    EXPECT_EQ(tags(a), (std::vector<int>{1, 6}));
}

TEST_F(ArrayTest, DropDuplicatesDeletesNothing)
{
    Item a1(1, 1), a2(1, 2), b(2, 3);
    KaSortedArray a;
    ASSERT_EQ(a.insertSorted(&a1), 0);
    ASSERT_EQ(a.insertSorted(&a2), 0);
    ASSERT_EQ(a.insertSorted(&b), 0);
    a.dropDuplicates();
    EXPECT_EQ(g_deleted, 0);
    EXPECT_EQ(tags(a), (std::vector<int>{1, 3}));
}

TEST_F(ArrayTest, SortedSizeArrayOrdersRawValues)
{
    KaSortedArrayKASIZE_T a;
    for (size_t v : {size_t{5}, SIZE_MAX, size_t{0}, size_t{5}, size_t{3}})
        ASSERT_EQ(a.insertSorted(v), 0);
    std::vector<size_t> got;
    for (size_t i = 0; i < a.count; ++i)
        got.push_back(a.at(i));
    EXPECT_EQ(got, (std::vector<size_t>{0, 3, 5, 5, SIZE_MAX}));
    size_t position = 0;
    EXPECT_EQ(a.search(5, &position), 1);
    EXPECT_EQ(a.lastEqual(position), 3u);
    EXPECT_EQ(a.search(4, &position), 0);
    EXPECT_EQ(position, 2u);
}

TEST_F(ArrayTest, AlignmentHelpers)
{
    struct Case {
        uint16_t alignment;
        int valid;
    } validity[] = {{0, 0}, {1, 0}, {2, 1}, {3, 0}, {8, 1}, {4096, 1}, {8192, 0}, {6, 0}};
    for (const auto& c : validity)
        EXPECT_EQ(isValidAlignment(c.alignment), c.valid) << c.alignment;

    size_t size = 13;
    EXPECT_EQ(alignUp(&size, 8), 16u);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(alignUp(&size, 8), 16u);
    size = 13;
    EXPECT_EQ(alignUp(&size, 0), 13u);  // no alignment to round to
    uint16_t small = 1;
    EXPECT_EQ(alignUp16(&small, 4096), 4096);
    EXPECT_EQ(small, 4096);
}

}  // namespace
