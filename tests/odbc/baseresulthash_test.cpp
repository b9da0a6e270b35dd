// The row checksums select failover keeps: appended per delivered row,
// replaced from the end for rows delivered again, read back by row number;
// the memory store refuses to answer once more rows came than it holds, the
// disk store keeps any number, across its file.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "odbc/baseerr.h"
#include "odbc/baseresulthash.h"
#include "support/diagscope.h"
#include "support/errorscope.h"

namespace {

struct Mode {
    const char* name;
    int32_t disk;
};

class HashFixture : public testing::Test {
protected:
    katest::ThreadScope thread;
    katest::DiagScope diags;

    std::vector<int64_t> all(BaseResultHash& hash)
    {
        std::vector<int64_t> out;
        for (uint64_t n = 1; n <= hash.count; ++n) {
            int64_t v = 0;
            EXPECT_EQ(0, hash.get(static_cast<int64_t>(n), &v)) << n;
            out.push_back(v);
        }
        return out;
    }
};

class ResultHash : public HashFixture, public testing::WithParamInterface<Mode> {};

TEST_P(ResultHash, ReplacingCountsFromTheEndAndKeepsTheCount)
{
    BaseResultHash hash(GetParam().disk, 10);
    ASSERT_EQ(0, hash.clear());
    for (int64_t v : {11, 12, 13, 14, 15})
        ASSERT_EQ(0, hash.put(v, 0));
    // k counts from the end: 2 is the fourth of five, 1 the last, 5 the first.
    struct Case {
        int64_t value;
        int64_t k;
    };
    for (const Case& c : {Case{-2, 2}, Case{99, 1}, Case{-1, 5}})
        ASSERT_EQ(0, hash.put(c.value, c.k));
    EXPECT_EQ(5u, hash.count);
    EXPECT_EQ((std::vector<int64_t>{-1, 12, 13, -2, 99}), all(hash));
    EXPECT_EQ(0u, diags.size());
}

TEST_P(ResultHash, RowsThatWereNeverStoredAreNotAnswered)
{
    BaseResultHash hash(GetParam().disk, 4);
    ASSERT_EQ(0, hash.clear());
    ASSERT_EQ(0, hash.put(7, 0));
    for (int64_t n : {0, 2, -1}) {
        int64_t v = 123;
        EXPECT_EQ(1, hash.get(n, &v)) << n;
    }
    int64_t v = 0;
    EXPECT_EQ(0, hash.get(1, &v));
    EXPECT_EQ(7, v);
}

TEST_P(ResultHash, ClearEmptiesTheStoreForTheNextResult)
{
    BaseResultHash hash(GetParam().disk, 2);
    ASSERT_EQ(0, hash.clear());
    for (int64_t v : {1, 2, 3})
        ASSERT_EQ(0, hash.put(v, 0));
    ASSERT_EQ(0, hash.clear());
    EXPECT_EQ(0u, hash.count);
    EXPECT_EQ(0, hash.overflow);
    ASSERT_EQ(0, hash.put(42, 0));
    EXPECT_EQ((std::vector<int64_t>{42}), all(hash));
    hash.release();
    EXPECT_EQ(0u, hash.count);
    ASSERT_EQ(0, hash.clear());
    ASSERT_EQ(0, hash.put(43, 0));
    EXPECT_EQ((std::vector<int64_t>{43}), all(hash));
}

INSTANTIATE_TEST_SUITE_P(Stores, ResultHash, testing::Values(Mode{"Memory", 0}, Mode{"Disk", 1}),
                         [](const testing::TestParamInfo<Mode>& info) { return info.param.name; });

using ResultHashLimits = HashFixture;

TEST_F(ResultHashLimits, TheMemoryStoreOverflowsAndThenAnswersNoRowWithTheLinkFailure)
{
    BaseResultHash hash(0, 2);
    ASSERT_EQ(0, hash.clear());
    for (int64_t v : {1, 2, 3})
        ASSERT_EQ(0, hash.put(v, 0));
    EXPECT_EQ(1, hash.overflow);
    EXPECT_EQ(3u, hash.count);
    // Replacing a row past the capacity stores nothing and fails nothing.
    EXPECT_EQ(0, hash.put(9, 1));
    for (int64_t n : {1, 3}) {
        int64_t v = 0;
        EXPECT_EQ(1, hash.get(n, &v)) << n;
    }
    ASSERT_EQ(2u, diags.size());
    EXPECT_EQ(kBaseIdxLinkFailure, diags.index(0));
    EXPECT_EQ(MSG_FAILOVER_CACHE_OVERFLOW, diags.at(0)->nativeCode);
}

TEST_F(ResultHashLimits, TheDiskStoreKeepsRowsFarBeyondItsCapacityAcrossItsFile)
{
    // Two entries a block: most of the rows live in the temporary file.
    BaseResultHash hash(1, 2);
    ASSERT_EQ(0, hash.clear());
    constexpr int64_t kRows = 1000;
    for (int64_t v = 1; v <= kRows; ++v)
        ASSERT_EQ(0, hash.put(v * 7, 0));
    EXPECT_EQ(0, hash.overflow);
    // Rows delivered again overwrite their own entries, in the file and in
    // the blocks still in memory.
    ASSERT_EQ(0, hash.put(-5, kRows - 9));
    ASSERT_EQ(0, hash.put(-6, 1));
    std::vector<int64_t> expected;
    for (int64_t v = 1; v <= kRows; ++v)
        expected.push_back(v == 10 ? -5 : v == kRows ? -6 : v * 7);
    EXPECT_EQ(expected, all(hash));
    EXPECT_EQ(0u, diags.size());
}

TEST_F(ResultHashLimits, AStoreOfNoCapacityInMemoryOverflowsAtOnce)
{
    BaseResultHash hash(0, 0);
    ASSERT_EQ(0, hash.clear());
    ASSERT_EQ(0, hash.put(1, 0));
    int64_t v = 0;
    EXPECT_EQ(1, hash.get(1, &v));
    EXPECT_EQ(1, hash.overflow);
}

}  // namespace
