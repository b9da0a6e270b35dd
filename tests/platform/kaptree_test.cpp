// The positional tree: the documented shifting cases, long seeded runs of
// inserts, shifts and removals checked against std::vector and std::map (for
// sparse positions), with small and large records so that trees grow deep,
// and the refusals.
#include "platform/kaptree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"
#include "support/tmpfiletest.h"

namespace {

class KaPTreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }

    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TmpDirScope tmp;
};

// Every (position, first 8 bytes of the record) in order, walked forwards
// with next and checked backwards with previous.
std::vector<std::pair<uint64_t, uint64_t>> contents(KaPTree& t, uint16_t recordSize)
{
    std::vector<std::pair<uint64_t, uint64_t>> out;
    std::vector<uint8_t> rec(recordSize);
    uint64_t pos = 0;
    int found = 0;
    KaPTreeIterator it;
    EXPECT_EQ(t.first(&pos, rec.data(), &found, &it), 0);
    while (found) {
        uint64_t v;
        memcpy(&v, rec.data(), 8);
        out.emplace_back(pos, v);
        EXPECT_EQ(t.next(&pos, rec.data(), &found, &it), 0);
    }
    std::vector<std::pair<uint64_t, uint64_t>> back;
    EXPECT_EQ(t.last(&pos, rec.data(), &found, &it), 0);
    while (found) {
        uint64_t v;
        memcpy(&v, rec.data(), 8);
        back.emplace_back(pos, v);
        EXPECT_EQ(t.previous(&pos, rec.data(), &found, &it), 0);
    }
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, out);
    return out;
}

using Seq = std::vector<std::pair<uint64_t, uint64_t>>;

TEST_F(KaPTreeTest, InsertShiftAndRemoveMoveLaterRecords)
{
    KaPTree t(8);
    const uint64_t r1 = 1, r2 = 2, r3 = 3, r4 = 4;
    ASSERT_EQ(t.insertAt(1, &r1), 0);
    ASSERT_EQ(t.insertAt(1, &r2), 0);
    ASSERT_EQ(t.insertAt(1, &r3), 0);
    EXPECT_EQ(contents(t, 8), (Seq{{1, 3}, {2, 2}, {3, 1}}));

    ASSERT_EQ(t.shiftFrom(2), 0);
    EXPECT_EQ(contents(t, 8), (Seq{{1, 3}, {3, 2}, {4, 1}}));

    // Removing where nothing stands still closes the gap.
    int found = 1;
    ASSERT_EQ(t.removeAt(2, &found), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(contents(t, 8), (Seq{{1, 3}, {2, 2}, {3, 1}}));

    ASSERT_EQ(t.shiftFrom(2), 0);
    ASSERT_EQ(t.insertAt(2, &r4), 0);
    EXPECT_EQ(contents(t, 8), (Seq{{1, 3}, {2, 4}, {4, 2}, {5, 1}}));

    ASSERT_EQ(t.removeAt(4, &found), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(contents(t, 8), (Seq{{1, 3}, {2, 4}, {4, 1}}));
    EXPECT_EQ(t.entryCount, 3u);
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(KaPTreeTest, EmptyTreeFindsNothing)
{
    KaPTree t(16);
    uint64_t pos = 7;
    uint8_t rec[16];
    int found = 1;
    EXPECT_EQ(t.first(&pos, rec, &found, nullptr), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(t.next(&pos, rec, &found, nullptr), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(t.removeAt(1, &found), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(t.shiftFrom(0), 0);
}

// Dense sequence against std::vector: inserts anywhere in [0, size] and
// removals of existing positions, for record sizes that give wide and
// very narrow leaves (deep trees, many splits and dropped nodes).
TEST_F(KaPTreeTest, MatchesVectorOnSeededRandomInsertsAndRemovals)
{
    struct Case {
        uint16_t recordSize;
        int operations;
    };
    for (const Case c : {Case{8, 100000}, Case{500, 20000}}) {
        KaPTree t(c.recordSize);
        std::vector<uint64_t> model;
        std::mt19937_64 rng(0x5eed + c.recordSize);
        std::vector<uint8_t> rec(c.recordSize, 0xab);
        uint16_t deepest = 0;
        for (int i = 0; i < c.operations; ++i) {
            // Grow for the first half, then shrink back.
            bool grow = model.empty() || rng() % 100 < (i < c.operations / 2 ? 65u : 35u);
            if (grow) {
                uint64_t p = rng() % (model.size() + 1);
                uint64_t v = rng();
                memcpy(rec.data(), &v, 8);
                ASSERT_EQ(t.insertAt(p, rec.data()), 0);
                model.insert(model.begin() + long(p), v);
            } else {
                uint64_t p = rng() % model.size();
                int found = 0;
                ASSERT_EQ(t.removeAt(p, &found), 0);
                ASSERT_EQ(found, 1);
                model.erase(model.begin() + long(p));
            }
            deepest = std::max(deepest, t.depth);
            if (i % 9973 == 0 || i == c.operations - 1) {
                Seq want;
                for (size_t k = 0; k < model.size(); ++k)
                    want.emplace_back(k, model[k]);
                ASSERT_EQ(contents(t, c.recordSize), want) << "after operation " << i;
            }
        }
        EXPECT_EQ(t.entryCount, model.size());
        // Both record sizes must split inner nodes, not only leaves.
        EXPECT_GE(deepest, 2) << c.recordSize;
        EXPECT_EQ(errors.size(), 0u);
    }
}

// Sparse positions, with shifts that open gaps and removals of free
// positions, against a std::map that shifts its keys the slow way.
TEST_F(KaPTreeTest, MatchesMapWithGapsShiftsAndMisses)
{
    KaPTree t(24);
    std::map<uint64_t, uint64_t> model;
    std::mt19937_64 rng(4242);
    uint8_t rec[24] = {};
    auto shift = [&](uint64_t from, int64_t by) {
        std::map<uint64_t, uint64_t> moved;
        for (auto& [k, v] : model)
            moved[k >= from ? uint64_t(int64_t(k) + by) : k] = v;
        model.swap(moved);
    };
    for (int i = 0; i < 6000; ++i) {
        uint64_t limit = (model.empty() ? 0 : model.rbegin()->first) + 3;
        uint64_t p = rng() % limit;
        switch (rng() % 4) {
        case 0:
        case 1: {
            uint64_t v = rng();
            memcpy(rec, &v, 8);
            ASSERT_EQ(t.insertAt(p, rec), 0);
            shift(p, 1);
            model[p] = v;
            break;
        }
        case 2:
            ASSERT_EQ(t.shiftFrom(p), 0);
            shift(p, 1);
            break;
        default: {
            int found = 0;
            ASSERT_EQ(t.removeAt(p, &found), 0);
            ASSERT_EQ(found, model.count(p) ? 1 : 0);
            model.erase(p);
            shift(p + 1, -1);
        }
        }
        if (i % 500 == 0) {
            Seq want(model.begin(), model.end());
            ASSERT_EQ(contents(t, 24), want) << "after operation " << i;
        }
    }
    Seq want(model.begin(), model.end());
    EXPECT_EQ(contents(t, 24), want);
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(KaPTreeTest, RefusesOversizedRecordsAndPositions)
{
    for (uint16_t size : {uint16_t(0), uint16_t(503), uint16_t(4000)}) {
        KaPTree t(size);
        std::vector<uint8_t> rec(size + 1);
        size_t before = errors.size();
        EXPECT_EQ(t.insertAt(0, rec.data()), 1) << size;
        ASSERT_EQ(errors.size(), before + 1);
        EXPECT_EQ(errors.native(errors.size() - 1), MSG_TREE_ENTRY_TOO_LARGE);
    }
    KaPTree t(8);
    uint64_t r = 9;
    int found = 0;
    EXPECT_EQ(t.insertAt(KA_PTREE_MAX_POSITION, &r), 1);
    EXPECT_EQ(errors.native(errors.size() - 1), MSG_PTREE_POSITION_TOO_LARGE);
    EXPECT_EQ(t.removeAt(~uint64_t(0), &found), 1);
    EXPECT_EQ(t.shiftFrom(KA_PTREE_MAX_POSITION), 1);
    EXPECT_EQ(t.insertAt(KA_PTREE_MAX_POSITION - 1, &r), 0);
    EXPECT_EQ(t.entryCount, 1u);
}

}  // namespace

namespace {

// Scratch space that cannot spill to disk: once a node cannot be written
// or read, the call fails with a diagnostic, and a tree left half-changed
// refuses every later call instead of answering wrongly.
TEST_F(KaPTreeTest, AFailedWriteLeavesNoHalfShiftedTree)
{
    katest::EnvScope env;
    env.set("KA_TMPDIR", tmp.path() + "/missing/dir");
    env.set("TMPDIR", tmp.path() + "/missing/dir");
    KaPTree t(400);
    std::vector<uint64_t> model;
    std::vector<uint8_t> rec(400);
    int failedAt = -1;
    for (int i = 0; i < 3000; ++i) {
        uint64_t v = uint64_t(i);
        memcpy(rec.data(), &v, 8);
        size_t before = errors.size();
        if (t.insertAt(0, rec.data()) != 0) {
            EXPECT_GT(errors.size(), before);
            failedAt = i;
            break;
        }
        model.insert(model.begin(), v);
    }
    ASSERT_GE(failedAt, 0) << "the scratch space never had to spill";
    if (t.broken) {
        int found = 0;
        size_t before = errors.size();
        EXPECT_EQ(t.removeAt(0, &found), 1);
        EXPECT_EQ(errors.native(before), MSG_PTREE_BROKEN);
        uint64_t pos = 0;
        EXPECT_EQ(t.first(&pos, rec.data(), &found, nullptr), 1);
    }
    // Either way no call reports success with contents that differ from
    // what succeeded.
    uint64_t pos = 0;
    int found = 0;
    if (t.first(&pos, rec.data(), &found, nullptr) == 0 && found) {
        uint64_t v;
        memcpy(&v, rec.data(), 8);
        EXPECT_EQ(pos, 0u);
        EXPECT_EQ(v, model.front());
    }
}

}  // namespace
