// The in-memory sort core: key kinds, records spread over buffers, pointer
// arrays of every shape, stretches sorted apart, and a quicksort that stays
// within its stack on adversarial input.
#include "foundation/kasortcore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/kaobject.h"
#include "support/errorscope.h"
#include "support/sortitem.h"

namespace {

// Sorts the values the way KaSortedArray does: pointers to objects.
std::vector<int> sortObjects(const std::vector<int>& values, int* rc)
{
    return katest::sortValuesAsObjects(values, rc,
                                       [](void** items, size_t n) { return KaSortCore::sortObjects(items, n); });
}

// A view over one caller's block of records.
KaSortCore overBlock(const std::vector<KaSortKey>& keys, uint8_t* const* buffer, uint64_t records, uint16_t recordSize)
{
    return {keys.data(), keys.size(), 0, buffer, records, recordSize};
}

class SortCoreTest : public ::testing::Test {
protected:
    katest::ErrorScope errors;
};

TEST_F(SortCoreTest, ZeroAndOneObjectSortToNothing)
{
    int rc = 1;
    EXPECT_TRUE(sortObjects({}, &rc).empty());
    EXPECT_EQ(0, rc);
    EXPECT_EQ(std::vector<int>{7}, sortObjects({7}, &rc));
    EXPECT_EQ(0, rc);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(SortCoreTest, PointerArraysOfEveryShapeComeOutAscending)
{
    std::mt19937 rng(42);
    // Sizes around the small networks and the 151/152 pivot-sampling border.
    std::vector<size_t> sizes = {2, 3, 4, 5, 6, 7, 150, 151, 152, 153, 1000, 20000};
    for (size_t n : sizes) {
        std::vector<std::vector<int>> shapes;
        std::vector<int> v(n);
        for (size_t i = 0; i < n; ++i)
            v[i] = static_cast<int>(i);
        shapes.push_back(v);                                       // sorted
        shapes.push_back(std::vector<int>(v.rbegin(), v.rend()));  // reversed
        shapes.push_back(std::vector<int>(n, 5));                  // all equal
        std::vector<int> organ(n);
        for (size_t i = 0; i < n; ++i)
            organ[i] = static_cast<int>(i < n / 2 ? i : n - i);
        shapes.push_back(organ);
        std::vector<int> few(n);
        for (auto& x : few)
            x = static_cast<int>(rng() % 3);
        shapes.push_back(few);
        std::vector<int> random(n);
        for (auto& x : random)
            x = static_cast<int>(rng());
        shapes.push_back(random);
        for (const auto& shape : shapes) {
            int rc = 1;
            std::vector<int> got = sortObjects(shape, &rc);
            std::vector<int> want = shape;
            std::sort(want.begin(), want.end());
            ASSERT_EQ(0, rc) << "n=" << n;
            ASSERT_EQ(want, got) << "n=" << n;
        }
    }
    EXPECT_EQ(0u, errors.size());
}

int16_t byLastByte(void* context, const void* a, const void* b)
{
    ++*static_cast<int*>(context);
    uint8_t x = static_cast<const uint8_t*>(a)[3];
    uint8_t y = static_cast<const uint8_t*>(b)[3];
    return static_cast<int16_t>(x - y);
}

TEST_F(SortCoreTest, EachKeyKindComparesAsItsTypeSays)
{
    int calls = 0;
    katest::SortItem one, two;
    one.value = 1;
    two.value = 2;
    struct Rec {
        char text[4];
        const KaObject* object;
    };
    struct Case {
        const char* name;
        KaSortKey key;
        Rec a, b;
        int want;
    } cases[] = {
        {"bytes are unsigned", {0, 0, 1, nullptr, nullptr}, {{'\x80'}, nullptr}, {{'\x7f'}, nullptr}, 1},
        {"descending negates", {KA_SORT_KEY_DESCENDING, 0, 1, nullptr, nullptr}, {{'a'}, nullptr}, {{'b'}, nullptr}, 1},
        {"collated text",
         {KA_SORT_KEY_COLLATE, 0, 4, nullptr, nullptr},
         {{'a', 'b', 'c'}, nullptr},
         {{'a', 'b', 'd'}, nullptr},
         -1},
        {"callback decides",
         {KA_SORT_KEY_CALLBACK, 0, 4, byLastByte, &calls},
         {{'z', 0, 0, 1}, nullptr},
         {{'a', 0, 0, 2}, nullptr},
         -1},
        {"objects by compare", {KA_SORT_KEY_OBJECT, 8, 8, nullptr, nullptr}, {{}, &two}, {{}, &one}, 1},
        {"null object first", {KA_SORT_KEY_OBJECT, 8, 8, nullptr, nullptr}, {{}, nullptr}, {{}, &one}, -1},
        {"two null objects equal", {KA_SORT_KEY_OBJECT, 8, 8, nullptr, nullptr}, {{}, nullptr}, {{}, nullptr}, 0},
    };
    for (const Case& c : cases) {
        std::vector<KaSortKey> keys = {c.key};
        KaSortCore core = overBlock(keys, nullptr, 1, sizeof(Rec));
        const auto* a = reinterpret_cast<const uint8_t*>(&c.a);
        const auto* b = reinterpret_cast<const uint8_t*>(&c.b);
        int r = core.compareRecords(a, b, 0);
        int back = core.compareRecords(b, a, 0);
        EXPECT_EQ(c.want, (r > 0) - (r < 0)) << c.name;
        EXPECT_EQ(-c.want, (back > 0) - (back < 0)) << c.name;
    }
    EXPECT_EQ(2, calls);
}

TEST_F(SortCoreTest, LeadingEqualKeysStopsAtTheFirstDifference)
{
    std::vector<KaSortKey> keys = {
        {0, 0, 1, nullptr, nullptr}, {0, 1, 1, nullptr, nullptr}, {0, 2, 1, nullptr, nullptr}};
    KaSortCore core = overBlock(keys, nullptr, 1, 3);
    struct Case {
        const char* a;
        const char* b;
        uint64_t limit;
        uint64_t want;
    } cases[] = {
        {"abc", "abc", 3, 3}, {"abc", "abd", 3, 2}, {"abc", "xbc", 3, 0}, {"abc", "abc", 1, 1}, {"abc", "abd", 9, 2}};
    for (const Case& c : cases)
        EXPECT_EQ(c.want, core.leadingEqualKeys(reinterpret_cast<const uint8_t*>(c.a),
                                                reinterpret_cast<const uint8_t*>(c.b), c.limit))
            << c.a << " " << c.b;
}

TEST_F(SortCoreTest, KeysMustLieInsideTheRecord)
{
    struct Case {
        uint16_t type;
        uint64_t offset;
        uint16_t length;
        uint16_t recordSize;
        bool fits;
    } cases[] = {
        {0, 0, 8, 8, true},
        {0, 4, 4, 8, true},
        {0, 4, 5, 8, false},
        {0, 9, 0, 8, false},
        {0, 100, 9, 0, true},  // the size is not known yet
        {KA_SORT_KEY_OBJECT, 0, 8, 8, true},
        {KA_SORT_KEY_OBJECT, 0, 4, 8, false},
        {0, UINT64_MAX, 1, 8, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.fits, KaSortCore::keyFits(c.type, c.offset, c.length, c.recordSize))
            << c.type << " " << c.offset << " " << c.length << " " << c.recordSize;
}

// Records wider than the swap's chunk, four to a buffer: the sort moves
// whole records across buffer borders.
TEST_F(SortCoreTest, WideRecordsSpreadOverBuffersSortAsOne)
{
    constexpr uint16_t kSize = 300;
    constexpr uint64_t kPerBuffer = 4;
    constexpr size_t kRecords = 4 * 9 + 3;
    std::vector<std::vector<uint8_t>> blocks((kRecords + kPerBuffer - 1) / kPerBuffer,
                                             std::vector<uint8_t>(kSize * kPerBuffer));
    std::vector<uint8_t*> buffers;
    for (auto& b : blocks)
        buffers.push_back(b.data());
    std::mt19937 rng(3);
    std::vector<uint32_t> want;
    for (uint64_t i = 0; i < kRecords; ++i) {
        uint32_t key = rng() % 1000;
        want.push_back(key);
        uint8_t* rec = buffers[i / kPerBuffer] + (i % kPerBuffer) * kSize;
        uint32_t big = __builtin_bswap32(key);
        memcpy(rec, &big, 4);
        memset(rec + 4, static_cast<int>(key & 0xFF), kSize - 4);  // travels with its key
    }
    std::vector<KaSortKey> keys = {{0, 0, 4, nullptr, nullptr}};
    KaSortCore core = {keys.data(), 1, 0, buffers.data(), kPerBuffer, kSize};
    ASSERT_EQ(0, core.sortRange(0, kRecords - 1));
    std::sort(want.begin(), want.end());
    for (uint64_t i = 0; i < kRecords; ++i) {
        const uint8_t* rec = core.recordAt(i);
        uint32_t big;
        memcpy(&big, rec, 4);
        ASSERT_EQ(want[i], __builtin_bswap32(big)) << i;
        ASSERT_EQ(want[i] & 0xFF, rec[kSize - 1]) << i;
    }
}

// Group byte, member byte, sorted from key 1 on over groups that stand
// apart but not in group order.
std::string sortedFromMemberKey(int whole)
{
    std::vector<KaSortKey> keys = {{0, 0, 1, nullptr, nullptr}, {0, 1, 1, nullptr, nullptr}};
    std::string work = "b3b1a2a1c9c0";
    uint8_t* buffer = reinterpret_cast<uint8_t*>(work.data());
    KaSortCore core = overBlock(keys, &buffer, 6, 2);
    core.startKey = 1;
    EXPECT_EQ(0, core.sortRangeVariant(0, 5, whole));
    return work;
}

TEST_F(SortCoreTest, StretchesAgreeingOnEarlierKeysSortApart)
{
    EXPECT_EQ("b1b3a1a2c0c9", sortedFromMemberKey(0));
    // As one range the groups mix; records equal on the member may come
    // either way round.
    std::string whole = sortedFromMemberKey(1);
    std::string members;
    for (size_t i = 1; i < whole.size(); i += 2)
        members += whole[i];
    EXPECT_EQ("011239", members);
}

// An adversary that decides the values lazily, during the sort, so that
// every partition comes out as lopsided as possible.
// A quicksort that always stacked its left part ran out of its 200-range
// stack on such input and left the records partly ordered.
struct Adversary {
    std::vector<int> val;
    int gas;
    int solid = 0;
    int candidate = -1;
};

int16_t adversaryCompare(void* context, const void* a, const void* b)
{
    auto* adv = static_cast<Adversary*>(context);
    uint64_t x, y;
    memcpy(&x, a, sizeof x);
    memcpy(&y, b, sizeof y);
    if (adv->val[x] == adv->gas && adv->val[y] == adv->gas) {
        if (static_cast<int>(x) == adv->candidate)
            adv->val[x] = adv->solid++;
        else
            adv->val[y] = adv->solid++;
    }
    if (adv->val[x] == adv->gas)
        adv->candidate = static_cast<int>(x);
    else if (adv->val[y] == adv->gas)
        adv->candidate = static_cast<int>(y);
    int d = adv->val[x] - adv->val[y];
    return static_cast<int16_t>((d > 0) - (d < 0));
}

TEST_F(SortCoreTest, AdversarialInputIsSortedCompletely)
{
    const size_t n = 6000;
    Adversary adv;
    adv.gas = static_cast<int>(n);
    adv.val.assign(n, adv.gas);
    std::vector<uint64_t> records(n);
    for (uint64_t i = 0; i < n; ++i)
        records[i] = i;
    std::vector<KaSortKey> keys = {{KA_SORT_KEY_CALLBACK, 0, 8, adversaryCompare, &adv}};
    uint8_t* buffer = reinterpret_cast<uint8_t*>(records.data());
    KaSortCore core = overBlock(keys, &buffer, n, sizeof(uint64_t));
    ASSERT_EQ(0, core.sortRange(0, n - 1));
    for (size_t k = 1; k < n; ++k)
        ASSERT_LE(adv.val[records[k - 1]], adv.val[records[k]]) << k;

    // The values the adversary chose form a hard input for objects too.
    std::vector<int> input(adv.val.begin(), adv.val.end());
    int rc = 1;
    std::vector<int> got = sortObjects(input, &rc);
    std::sort(input.begin(), input.end());
    EXPECT_EQ(0, rc);
    EXPECT_EQ(input, got);
    EXPECT_EQ(0u, errors.size());
}

}  // namespace
