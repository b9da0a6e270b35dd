// The B-tree in a temporary file: its node sizes, refusal of entries too
// large for two keys a node, and a long seeded run of inserts, lookups,
// removals and iteration checked against std::map / std::multimap.
#include "platform/katree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"
#include "support/tmpfiletest.h"

namespace {

class KaTreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }

    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TmpDirScope tmp;
};

TEST_F(KaTreeTest, NodeSizesFollowEntrySize)
{
    struct Case {
        uint16_t keyLen, dataLen;
        int marked;
        uint16_t entrySize, maxEntries, nodeBytes;
    };
    const Case cases[] = {
        {8, 8, 1, 32, 49, 1556},
        {100, 900, 0, 1008, 3, 2036},
        {991, 8, 1, 1008, 3, 2036},
        {4, 0, 0, 16, 49, 788},
    };
    for (const Case& c : cases) {
        KaTree t(c.keyLen, c.dataLen, nullptr, c.marked, 0, 0);
        EXPECT_EQ(t.entrySize, c.entrySize) << c.keyLen;
        EXPECT_EQ(t.maxEntries, c.maxEntries) << c.keyLen;
        EXPECT_EQ(t.nodeBytes, c.nodeBytes) << c.keyLen;
        EXPECT_EQ(t.usable(), 0);
    }
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(KaTreeTest, EntriesTooLargeForTwoKeysANodeAreRefused)
{
    const uint16_t sizes[][2] = {{1000, 0}, {992, 8}, {2040, 0}, {0, 8}};
    for (auto& s : sizes) {
        KaTree t(s[0], s[1], nullptr, 1, 0, 0);
        EXPECT_EQ(t.maxEntries, 0) << s[0];
        std::vector<uint8_t> key(s[0] + 1, 1), data(s[1] + 1, 2);
        int existed = 0, found = 0;
        size_t before = errors.size();
        EXPECT_EQ(t.insert(key.data(), data.data(), &existed), 1);
        ASSERT_GT(errors.size(), before);
        EXPECT_EQ(errors.native(before), MSG_TREE_ENTRY_TOO_LARGE);
        EXPECT_NE(errors.text(before).find(std::to_string(s[0]) + "-byte key"), std::string::npos)
            << errors.text(before);
        EXPECT_EQ(t.first(nullptr, nullptr, &found, nullptr), 1);
        EXPECT_EQ(found, 0);
    }
}

// Keys compared as big-endian numbers in their first 4 bytes, the rest
// filler that must survive the trip through the file.
std::vector<uint8_t> makeKey(uint32_t k, uint16_t keyLen)
{
    std::vector<uint8_t> v(keyLen);
    for (size_t i = 0; i < keyLen; ++i)
        v[i] = uint8_t(k * 31 + i);
    for (int i = 0; i < 4; ++i)
        v[i] = uint8_t(k >> (24 - 8 * i));
    return v;
}

uint32_t keyNumber(const uint8_t* key)
{
    return uint32_t(key[0]) << 24 | uint32_t(key[1]) << 16 | uint32_t(key[2]) << 8 | key[3];
}

void checkOrder(KaTree& t, const std::map<uint32_t, uint64_t>& ref, uint16_t keyLen)
{
    std::vector<uint8_t> key(keyLen);
    uint64_t data = 0;
    int found = 0;
    auto it = ref.begin();
    ASSERT_EQ(t.first(key.data(), &data, &found, nullptr), 0);
    while (found) {
        ASSERT_NE(it, ref.end());
        ASSERT_EQ(keyNumber(key.data()), it->first);
        ASSERT_EQ(key, makeKey(it->first, keyLen));
        ASSERT_EQ(data, it->second);
        ++it;
        ASSERT_EQ(t.next(key.data(), &data, &found, nullptr), 0);
    }
    EXPECT_EQ(it, ref.end());
    // Backwards from the end.
    auto rit = ref.rbegin();
    ASSERT_EQ(t.last(key.data(), &data, &found, nullptr), 0);
    while (found) {
        ASSERT_NE(rit, ref.rend());
        ASSERT_EQ(keyNumber(key.data()), rit->first);
        ++rit;
        ASSERT_EQ(t.previous(key.data(), &data, &found, nullptr), 0);
    }
    EXPECT_EQ(rit, ref.rend());
}

class KaTreeRandom : public KaTreeTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(KaTreeRandom, MatchesStdMapOverLongSeededRun)
{
    const uint16_t keyLen = GetParam();
    KaTree t(keyLen, sizeof(uint64_t), nullptr, 1, 0, 0);
    ASSERT_EQ(t.usable(), 0);
    std::map<uint32_t, uint64_t> ref;
    std::mt19937 rng(20261210u + keyLen);
    const uint32_t range = 20000;
    for (int op = 0; op < 100000; ++op) {
        uint32_t k = rng() % range;
        std::vector<uint8_t> key = makeKey(k, keyLen);
        uint32_t what = rng() % 10;
        if (what < 5) {
            uint64_t data = rng();
            int existed = -1;
            ASSERT_EQ(t.insert(key.data(), &data, &existed), 0);
            bool had = ref.count(k) != 0;
            ASSERT_EQ(existed, had ? 1 : 0) << "op " << op;
            if (!had)
                ref[k] = data;
        } else if (what < 8) {
            uint64_t data = 0;
            int found = -1;
            ASSERT_EQ(t.get(key.data(), &data, &found), 0);
            auto it = ref.find(k);
            ASSERT_EQ(found, it != ref.end() ? 1 : 0) << "op " << op;
            if (found) {
                ASSERT_EQ(data, it->second);
            }
        } else {
            int found = -1;
            ASSERT_EQ(t.remove(key.data(), nullptr, &found), 0);
            ASSERT_EQ(found, ref.erase(k) ? 1 : 0) << "op " << op;
        }
        ASSERT_EQ(t.entryCount, ref.size());
        if (op % 25000 == 24999)
            checkOrder(t, ref, keyLen);
    }
    checkOrder(t, ref, keyLen);
    EXPECT_LE(t.maxDepth, KA_TREE_PATH_LEVELS);
    // Lower bounds: locate of any key then next gives the first key not below it.
    for (int i = 0; i < 2000; ++i) {
        uint32_t k = rng() % (range + 10);
        std::vector<uint8_t> key = makeKey(k, keyLen), out(keyLen);
        int found = 0;
        ASSERT_EQ(t.locate(key.data(), nullptr, nullptr, &found, nullptr, 0), 0);
        auto lb = ref.lower_bound(k);
        ASSERT_EQ(found, lb != ref.end() && lb->first == k ? 1 : 0);
        ASSERT_EQ(t.next(out.data(), nullptr, &found, nullptr), 0);
        ASSERT_EQ(found, lb != ref.end() ? 1 : 0) << k;
        if (found) {
            ASSERT_EQ(keyNumber(out.data()), lb->first);
        }
    }
    EXPECT_EQ(errors.size(), 0u);
}

// 4 bytes is the smallest; 991 with 8 bytes of data and the marker is the
// largest entry a node still holds two of.
INSTANTIATE_TEST_SUITE_P(KeySizes, KaTreeRandom, ::testing::Values(uint16_t(4), uint16_t(64), uint16_t(991)));

TEST_F(KaTreeTest, DuplicatesMatchMultimapAndComeNewestFirst)
{
    KaTree t(4, 4, nullptr, 1, 1, 0);
    std::multimap<uint32_t, uint32_t> ref;
    std::mt19937 rng(7);
    for (int op = 0; op < 20000; ++op) {
        uint32_t k = rng() % 300;
        std::vector<uint8_t> key = makeKey(k, 4);
        uint32_t data = uint32_t(op);
        if (rng() % 4 != 0) {
            int existed = -1;
            ASSERT_EQ(t.insert(key.data(), &data, &existed), 0);
            ASSERT_EQ(existed, ref.count(k) ? 1 : 0);
            ref.emplace(k, data);
        } else {
            auto range = ref.equal_range(k);
            if (range.first == range.second)
                continue;
            auto victim = std::next(range.first, long(rng() % ref.count(k)));
            int found = 0;
            ASSERT_EQ(t.remove(key.data(), &victim->second, &found), 0);
            ASSERT_EQ(found, 1);
            ref.erase(victim);
        }
    }
    ASSERT_EQ(t.entryCount, ref.size());
    // In order, equal keys newest first (data is the insertion step).
    std::vector<std::pair<uint32_t, uint32_t>> want(ref.begin(), ref.end());
    std::stable_sort(want.begin(), want.end(),
                     [](auto& a, auto& b) { return a.first != b.first ? a.first < b.first : a.second > b.second; });
    uint8_t key[4];
    uint32_t data = 0;
    int found = 0;
    size_t i = 0;
    ASSERT_EQ(t.first(key, &data, &found, nullptr), 0);
    while (found) {
        ASSERT_LT(i, want.size());
        ASSERT_EQ(keyNumber(key), want[i].first);
        ASSERT_EQ(data, want[i].second);
        ++i;
        ASSERT_EQ(t.next(key, &data, &found, nullptr), 0);
    }
    EXPECT_EQ(i, want.size());
}

TEST_F(KaTreeTest, PreviousBeforeFirstThenNextGivesFirstAgain)
{
    KaTree t(4, 0, nullptr, 1, 0, 0);
    for (uint32_t k : {5u, 1u, 9u}) {
        std::vector<uint8_t> key = makeKey(k, 4);
        int existed = 0;
        ASSERT_EQ(t.insert(key.data(), nullptr, &existed), 0);
    }
    uint8_t key[4];
    int found = 0;
    ASSERT_EQ(t.first(key, nullptr, &found, nullptr), 0);
    EXPECT_EQ(keyNumber(key), 1u);
    ASSERT_EQ(t.previous(key, nullptr, &found, nullptr), 0);
    EXPECT_EQ(found, 0);
    ASSERT_EQ(t.next(key, nullptr, &found, nullptr), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(keyNumber(key), 1u);
}

TEST_F(KaTreeTest, RekeyMovesDataAndKeepsItWhenTheNewKeyIsTaken)
{
    KaTree t(4, 8, nullptr, 1, 0, 0);
    uint64_t a = 111, b = 222, out = 0;
    std::vector<uint8_t> k1 = makeKey(1, 4), k2 = makeKey(2, 4), k3 = makeKey(3, 4);
    int existed = 0, found = 0;
    ASSERT_EQ(t.insert(k1.data(), &a, &existed), 0);
    ASSERT_EQ(t.insert(k2.data(), &b, &existed), 0);
    ASSERT_EQ(t.rekey(k1.data(), k2.data(), &existed), 0);
    EXPECT_EQ(existed, 1);
    ASSERT_EQ(t.get(k1.data(), &out, &found), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(out, a);
    ASSERT_EQ(t.rekey(k1.data(), k3.data(), &existed), 0);
    EXPECT_EQ(existed, 0);
    ASSERT_EQ(t.get(k1.data(), &out, &found), 0);
    EXPECT_EQ(found, 0);
    ASSERT_EQ(t.get(k3.data(), &out, &found), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(out, a);
    EXPECT_EQ(t.entryCount, 2u);
}

TEST_F(KaTreeTest, ClearEmptiesTheTreeForReuse)
{
    KaTree t(4, 0, nullptr, 0, 0, 0);
    int existed = 0, found = 0;
    for (uint32_t k = 0; k < 500; ++k) {
        std::vector<uint8_t> key = makeKey(k, 4);
        ASSERT_EQ(t.insert(key.data(), nullptr, &existed), 0);
    }
    EXPECT_EQ(t.clear(), 0);
    EXPECT_EQ(t.entryCount, 0u);
    ASSERT_EQ(t.first(nullptr, nullptr, &found, nullptr), 0);
    EXPECT_EQ(found, 0);
    std::vector<uint8_t> key = makeKey(7, 4);
    ASSERT_EQ(t.insert(key.data(), nullptr, &existed), 0);
    ASSERT_EQ(t.get(key.data(), nullptr, &found), 0);
    EXPECT_EQ(found, 1);
    // Without markers removal is refused with a diagnostic.
    EXPECT_EQ(t.remove(key.data(), nullptr, &found), 1);
    EXPECT_EQ(errors.native(errors.size() - 1), MSG_TREE_REMOVAL_UNSUPPORTED);
}

}  // namespace

namespace {

TEST_F(KaTreeTest, MarkedSlotsAreSkippedAndReusedInPlace)
{
    KaTree t(4, 0, nullptr, 1, 0, 0);
    int existed = 0, found = 0;
    std::vector<uint8_t> k5 = makeKey(5, 4), k3 = makeKey(3, 4);
    ASSERT_EQ(t.insert(k5.data(), nullptr, &existed), 0);
    // The leaf's only key stays as a marked entry.
    ASSERT_EQ(t.remove(k5.data(), nullptr, &found), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(t.entryCount, 0u);
    ASSERT_EQ(t.first(nullptr, nullptr, &found, nullptr), 0);
    EXPECT_EQ(found, 0);
    ASSERT_EQ(t.get(k5.data(), nullptr, &found), 0);
    EXPECT_EQ(found, 0);
    // A smaller key lands on the marked slot and takes it over.
    ASSERT_EQ(t.insert(k3.data(), nullptr, &existed), 0);
    EXPECT_EQ(existed, 0);
    EXPECT_EQ(t.nodeCount, 1u);
    uint8_t key[4];
    ASSERT_EQ(t.first(key, nullptr, &found, nullptr), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(keyNumber(key), 3u);
    ASSERT_EQ(t.next(key, nullptr, &found, nullptr), 0);
    EXPECT_EQ(found, 0);
}

}  // namespace

namespace {

// Relative keys: 8-byte numbers kept as offsets from their node's base. A
// sorted vector of (key, data) is the model; data fills the whole data part
// so that nothing of an entry is lost on its way through splits.
struct RelativeModel {
    std::vector<std::pair<uint64_t, uint64_t>> entries;

    auto find(uint64_t k) { return std::lower_bound(entries.begin(), entries.end(), std::make_pair(k, uint64_t(0))); }
    bool has(uint64_t k)
    {
        auto it = find(k);
        return it != entries.end() && it->first == k;
    }
};

std::vector<uint8_t> relativeData(uint64_t value, uint16_t dataLen)
{
    std::vector<uint8_t> d(dataLen);
    for (size_t i = 0; i < dataLen; ++i)
        d[i] = uint8_t(value >> (8 * (i % 8))) ^ uint8_t(i);
    return d;
}

void checkRelativeOrder(KaTree& t, const RelativeModel& model)
{
    std::vector<uint8_t> data(t.dataLen);
    uint64_t key = 0;
    int found = 0;
    size_t i = 0;
    ASSERT_EQ(t.first(&key, data.data(), &found, nullptr), 0);
    while (found) {
        ASSERT_LT(i, model.entries.size());
        ASSERT_EQ(key, model.entries[i].first) << "entry " << i;
        ASSERT_EQ(data, relativeData(model.entries[i].second, t.dataLen)) << "entry " << i;
        ++i;
        ASSERT_EQ(t.next(&key, data.data(), &found, nullptr), 0);
    }
    ASSERT_EQ(i, model.entries.size());
    ASSERT_EQ(t.last(&key, nullptr, &found, nullptr), 0);
    while (found) {
        ASSERT_GT(i, 0u);
        --i;
        ASSERT_EQ(key, model.entries[i].first) << "entry " << i;
        ASSERT_EQ(t.previous(&key, nullptr, &found, nullptr), 0);
    }
    EXPECT_EQ(i, 0u);
}

class KaTreeRelative : public KaTreeTest, public ::testing::WithParamInterface<uint16_t> {};

// Keys from a small range (so that inserts meet existing keys and removals
// hit) mixed with keys near the top of the 64-bit range, whose offsets must
// not wrap into the wrong order.
TEST_P(KaTreeRelative, MatchesASortedVectorOverLongSeededRun)
{
    const uint16_t dataLen = GetParam();
    KaTree t(8, dataLen, nullptr, 1, 0, 0);
    t.flags |= KA_TREE_RELATIVE;
    ASSERT_EQ(t.usable(), 0);
    RelativeModel model;
    std::mt19937_64 rng(20261210u + dataLen);
    auto nextKey = [&rng]() -> uint64_t {
        uint64_t r = rng();
        switch (r % 3) {
        case 0: return (r >> 8) % 30000;
        case 1: return UINT64_MAX - (r >> 8) % 30000;
        default: return (r >> 8) % 30000 * 0x0001000000000001ull;
        }
    };
    for (int op = 0; op < 100000; ++op) {
        uint64_t k = nextKey();
        uint32_t what = uint32_t(rng() % 10);
        if (what < 5) {
            uint64_t value = rng();
            std::vector<uint8_t> data = relativeData(value, dataLen);
            int existed = -1;
            ASSERT_EQ(t.insert(&k, data.data(), &existed), 0);
            ASSERT_EQ(existed, model.has(k) ? 1 : 0) << "op " << op;
            if (!existed)
                model.entries.insert(model.find(k), {k, value});
        } else if (what < 8) {
            std::vector<uint8_t> data(dataLen);
            int found = -1;
            ASSERT_EQ(t.get(&k, data.data(), &found), 0);
            ASSERT_EQ(found, model.has(k) ? 1 : 0) << "op " << op;
            if (found) {
                ASSERT_EQ(data, relativeData(model.find(k)->second, dataLen));
            }
        } else {
            int found = -1;
            ASSERT_EQ(t.remove(&k, nullptr, &found), 0);
            ASSERT_EQ(found, model.has(k) ? 1 : 0) << "op " << op;
            if (found)
                model.entries.erase(model.find(k));
        }
        ASSERT_EQ(t.entryCount, model.entries.size());
        if (op % 25000 == 24999)
            checkRelativeOrder(t, model);
    }
    checkRelativeOrder(t, model);
    // Lower bounds through locate and next.
    for (int i = 0; i < 2000; ++i) {
        uint64_t k = nextKey() + rng() % 3;
        uint64_t out = 0;
        int found = 0;
        ASSERT_EQ(t.locate(&k, nullptr, nullptr, &found, nullptr, 0), 0);
        auto lb = model.find(k);
        ASSERT_EQ(found, lb != model.entries.end() && lb->first == k ? 1 : 0);
        ASSERT_EQ(t.next(&out, nullptr, &found, nullptr), 0);
        ASSERT_EQ(found, lb != model.entries.end() ? 1 : 0) << k;
        if (found) {
            ASSERT_EQ(out, lb->first);
        }
    }
    EXPECT_EQ(errors.size(), 0u);
}

// Fan-outs of 49, 9 and 3 children: shallow, middling and deep trees.
INSTANTIATE_TEST_SUITE_P(DataSizes, KaTreeRelative, ::testing::Values(uint16_t(8), uint16_t(200), uint16_t(990)));

// What makes the mode: a key in a child right of a separator is stored as
// its distance from that separator, not as itself.
TEST_F(KaTreeTest, RelativeKeysAreStoredAsOffsetsFromTheSeparatorLeftOfThem)
{
    KaTree t(8, 990, nullptr, 1, 0, 0);
    t.flags |= KA_TREE_RELATIVE;
    std::vector<uint8_t> data(990, 7);
    for (uint64_t k = 1000000; k < 1000040; ++k) {
        int existed = 0;
        ASSERT_EQ(t.insert(&k, data.data(), &existed), 0);
    }
    std::vector<uint8_t> node(KA_TMP_PAGE_SIZE);
    ASSERT_EQ(t.file.read(t.root, node.data(), t.nodeBytes), 0);
    uint64_t separator = 0, child = 0;
    memcpy(&separator, node.data() + KA_TREE_HEADER, 8);
    memcpy(&child, node.data() + KA_TREE_HEADER + t.entrySize - 8, 8);
    ASSERT_NE(child, 0u);
    EXPECT_GE(separator, 1000000u);  // the root's base is 0
    ASSERT_EQ(t.file.read(child, node.data(), t.nodeBytes), 0);
    // The leftmost entry under child 1: follow child 0 down to a leaf.
    for (;;) {
        uint64_t down = 0;
        memcpy(&down, node.data() + 16, 8);
        if (down == 0)
            break;
        ASSERT_EQ(t.file.read(down, node.data(), t.nodeBytes), 0);
    }
    uint64_t stored = 0;
    memcpy(&stored, node.data() + KA_TREE_HEADER, 8);
    EXPECT_EQ(stored, 1u);  // separator + 1 is the next key
}

TEST_F(KaTreeTest, RelativeKeysMustBeEightBytes)
{
    KaTree t(4, 8, nullptr, 1, 0, 0);
    t.flags |= KA_TREE_RELATIVE;
    uint8_t key[4] = {1, 2, 3, 4};
    uint64_t data = 5;
    int existed = 0;
    EXPECT_EQ(t.insert(key, &data, &existed), 1);
    ASSERT_GT(errors.size(), 0u);
    EXPECT_EQ(errors.native(0), MSG_TREE_RELATIVE_KEY_SIZE);
    EXPECT_NE(errors.text(0).find("4-byte keys"), std::string::npos) << errors.text(0);
}

// Equal keys in relative mode still come back newest first and are removed
// by their data.
TEST_F(KaTreeTest, RelativeKeysWithDuplicates)
{
    KaTree t(8, 8, nullptr, 1, 1, 0);
    t.flags |= KA_TREE_RELATIVE;
    std::multimap<uint64_t, uint64_t> ref;
    std::mt19937_64 rng(11);
    for (uint64_t op = 0; op < 20000; ++op) {
        uint64_t k = rng() % 250 * 1000003;
        if (rng() % 4 != 0) {
            int existed = -1;
            ASSERT_EQ(t.insert(&k, &op, &existed), 0);
            ASSERT_EQ(existed, ref.count(k) ? 1 : 0);
            ref.emplace(k, op);
        } else if (ref.count(k) != 0) {
            auto victim = std::next(ref.equal_range(k).first, long(rng() % ref.count(k)));
            int found = 0;
            ASSERT_EQ(t.remove(&k, &victim->second, &found), 0);
            ASSERT_EQ(found, 1);
            ref.erase(victim);
        }
    }
    std::vector<std::pair<uint64_t, uint64_t>> want(ref.begin(), ref.end());
    std::stable_sort(want.begin(), want.end(),
                     [](auto& a, auto& b) { return a.first != b.first ? a.first < b.first : a.second > b.second; });
    uint64_t key = 0, data = 0;
    int found = 0;
    size_t i = 0;
    ASSERT_EQ(t.first(&key, &data, &found, nullptr), 0);
    while (found) {
        ASSERT_LT(i, want.size());
        ASSERT_EQ(key, want[i].first);
        ASSERT_EQ(data, want[i].second);
        ++i;
        ASSERT_EQ(t.next(&key, &data, &found, nullptr), 0);
    }
    EXPECT_EQ(i, want.size());
}

}  // namespace
