// The paged scratch file: its two allocators, the page cache against a
// plain byte array under heavy eviction, and the life of its private file
// (created only when a dirty page leaves the cache, mode 0600, deleted on
// close and at normal process exit).
#include "platform/katmpfil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "platform/katmpname.h"
#include "support/errorscope.h"
#include "support/tmpfiletest.h"

namespace {

constexpr uint64_t kAllOnes = ~uint64_t(0);

class KaTmpFileTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TmpDirScope tmp;
};

std::vector<uint8_t> pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v)
        b = uint8_t(rng());
    return v;
}

TEST_F(KaTmpFileTest, BumpAllocationAlignsAndKeepsRecordsInsideOnePage)
{
    KaTmpFile f(KA_TMP_DEFAULT_CACHE, 0);
    EXPECT_EQ(8u, f.allocate(10));
    EXPECT_EQ(18u, f.end);
    EXPECT_EQ(2048u, f.allocate(2045));  // 24 + 2045 would cross the page
    KaTmpFile g(KA_TMP_DEFAULT_CACHE, 0);
    EXPECT_EQ(8u, g.allocate(2040));  // exactly the rest of page 0
    // Larger than a page: the next page start, spanning pages.
    EXPECT_EQ(4096u, g.allocate(5000));
    EXPECT_EQ(9096u, g.end);
}

TEST_F(KaTmpFileTest, FirstFitTakesTheLowestRangeThatFitsAndDropsSmallRemainders)
{
    KaTmpFile f(KA_TMP_DEFAULT_CACHE, 0);
    uint64_t a = 0, b = 0, c = 0, d = 0, e = 0;
    ASSERT_EQ(0, f.allocateFromFreeList(4096, &a));
    ASSERT_EQ(0, f.allocateFromFreeList(4096, &b));
    ASSERT_EQ(0, f.allocateFromFreeList(4096, &c));
    ASSERT_EQ(0, f.allocateFromFreeList(4096, &d));
    EXPECT_EQ(1u, a);
    EXPECT_EQ(4097u, b);
    f.releaseSpace(a, 4096);
    f.releaseSpace(c, 4096);
    ASSERT_EQ(2u, f.freeList.count);
    // 4096 - 3840 = 256 left: the record shrinks.
    ASSERT_EQ(0, f.allocateFromFreeList(3840, &e));
    EXPECT_EQ(a, e);
    ASSERT_EQ(2u, f.freeList.count);
    EXPECT_EQ(a + 3840, static_cast<TmpSpace*>(f.freeList.at(0))->offset);
    // 256 is too small for 1000: the next range is used; 4096 - 3841 = 255 is dropped.
    ASSERT_EQ(0, f.allocateFromFreeList(3841, &e));
    EXPECT_EQ(c, e);
    EXPECT_EQ(1u, f.freeList.count);
}

TEST_F(KaTmpFileTest, ReleasedRangesMergeAndTheTopOneLowersTheEnd)
{
    KaTmpFile f(KA_TMP_DEFAULT_CACHE, 0);
    uint64_t r[4];
    for (auto& o : r)
        ASSERT_EQ(0, f.allocateFromFreeList(1000, &o));
    f.releaseSpace(r[1] + 10, 255);  // at most 255 bytes: dropped
    EXPECT_EQ(0u, f.freeList.count);
    f.releaseSpace(r[1], 1000);
    f.releaseSpace(r[2], 1000);  // touches r[1]: one record
    ASSERT_EQ(1u, f.freeList.count);
    EXPECT_EQ(2000u, static_cast<TmpSpace*>(f.freeList.at(0))->length);
    f.releaseSpace(r[3], 1000);  // just below end: end falls, then absorbs the record
    EXPECT_EQ(r[1], f.end);
    EXPECT_EQ(0u, f.freeList.count);
}

TEST_F(KaTmpFileTest, TheWholeTailIsHandedOutAndGivenBack)
{
    KaTmpFile f(KA_TMP_DEFAULT_CACHE, 0);
    uint64_t a = 0, tail = 0;
    ASSERT_EQ(0, f.allocateFromFreeList(300, &a));
    ASSERT_EQ(0, f.allocateFromFreeList(kAllOnes, &tail));
    EXPECT_EQ(301u, tail);
    EXPECT_EQ(kAllOnes, f.end);
    f.releaseSpace(tail + 50, kAllOnes);
    EXPECT_EQ(351u, f.end);
}

TEST_F(KaTmpFileTest, ReadsReturnTheLatestBytesUnderHeavyEviction)
{
    // One slot of two pages: nearly every page change evicts.
    KaTmpFile f(4096, 0);
    const size_t space = 40 * KA_TMP_PAGE_SIZE;
    std::vector<uint8_t> model(space, 0);
    ASSERT_EQ(0, f.write(0, model.data(), space));
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        size_t off = rng() % space;
        size_t n = 1 + rng() % 5000;
        if (off + n > space)
            n = space - off;
        if (rng() % 2) {
            std::vector<uint8_t> data = pattern(n, uint32_t(i));
            ASSERT_EQ(0, f.write(off, data.data(), n));
            memcpy(model.data() + off, data.data(), n);
        } else {
            std::vector<uint8_t> got(n);
            ASSERT_EQ(0, f.read(off, got.data(), n));
            ASSERT_EQ(0, memcmp(model.data() + off, got.data(), n)) << "read at " << off << " of " << n;
        }
    }
    std::vector<uint8_t> all(space);
    ASSERT_EQ(0, f.readChunked(0, all.data(), space));
    EXPECT_EQ(model, all);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(KaTmpFileTest, ThreePagesOfOneSlotEvictTheLeastRecentlyUsed)
{
    KaTmpFile f(KA_TMP_DEFAULT_CACHE, 0);  // 8 cache places: pages 0, 8 and 16 share the first
    uint8_t b = 1;
    ASSERT_EQ(0, f.write(8 * KA_TMP_PAGE_SIZE, &b, 1));
    ASSERT_EQ(0, f.write(0, &b, 1));
    EXPECT_EQ(0u, tmp.count());  // nothing left the cache yet
    ASSERT_EQ(0, f.write(16 * KA_TMP_PAGE_SIZE, &b, 1));
    // Page 8 was used least recently and went to the file.
    EXPECT_EQ(1u, tmp.count());
    EXPECT_EQ(8u, f.highestPageWritten);
    EXPECT_EQ(9u, f.pagesInFile);
    EXPECT_EQ(0u, f.slots[0].page[0] == 8 || f.slots[0].page[1] == 8);
}

TEST_F(KaTmpFileTest, AWriteAcrossAPageBorderTouchesBothPages)
{
    KaTmpFile f(KA_TMP_DEFAULT_CACHE, 0);
    std::vector<uint8_t> data = pattern(100, 3);
    ASSERT_EQ(0, f.write(2000, data.data(), 100));
    EXPECT_EQ(2100u, f.end);
    EXPECT_EQ(KA_TMP_WAY0_DIRTY, f.slots[0].flags & KA_TMP_WAY0_DIRTY);
    EXPECT_NE(0, f.slots[1].flags & (KA_TMP_WAY0_DIRTY | KA_TMP_WAY1_DIRTY));
    std::vector<uint8_t> got(100);
    ASSERT_EQ(0, f.read(2000, got.data(), 100));
    EXPECT_EQ(data, got);
}

TEST_F(KaTmpFileTest, PinnedPagesGiveTheBytesLeftAndWritesThroughThemStick)
{
    KaTmpFile f(4096, 0);
    uint64_t off = f.allocate(64);
    uint8_t* p = nullptr;
    uint16_t left = 0;
    ASSERT_EQ(0, f.pinPage(off, &p, &left, 1));
    EXPECT_EQ(KA_TMP_PAGE_SIZE - off, left);
    memset(p, 0x77, 64);
    std::vector<uint8_t> other = pattern(3 * KA_TMP_PAGE_SIZE, 9);
    ASSERT_EQ(0, f.write(KA_TMP_PAGE_SIZE, other.data(), other.size()));  // evicts page 0
    uint8_t got[64];
    ASSERT_EQ(0, f.read(off, got, 64));
    for (uint8_t g : got)
        ASSERT_EQ(0x77, g);
}

TEST_F(KaTmpFileTest, TheFileIsPrivateAndGoneAfterCloseAndTheObjectIsUsableAgain)
{
    KaTmpFile f(4096, 0);
    std::vector<uint8_t> data = pattern(8 * KA_TMP_PAGE_SIZE, 5);
    ASSERT_EQ(0, f.write(0, data.data(), data.size()));
    ASSERT_EQ(1u, tmp.count());
    EXPECT_EQ(0600, tmp.onlyFileMode());
    f.closeHandle();  // the next page transfer reopens by name
    std::vector<uint8_t> got(data.size());
    ASSERT_EQ(0, f.read(0, got.data(), got.size()));
    EXPECT_EQ(data, got);
    f.close(1);
    EXPECT_EQ(0u, tmp.count());
    EXPECT_EQ(1u, f.end);
    EXPECT_NE(nullptr, f.pageMemory);  // kept: only the slot table is made again
    ASSERT_EQ(0, f.write(0, data.data(), data.size()));
    ASSERT_EQ(0, f.read(0, got.data(), got.size()));
    EXPECT_EQ(data, got);
}

TEST_F(KaTmpFileTest, ReadStringFillsTheStringWithoutATerminator)
{
    KaTmpFile f(KA_TMP_DEFAULT_CACHE, 0);
    const char text[] = "spilled text";
    uint64_t off = f.allocate(sizeof text - 1);
    ASSERT_EQ(0, f.write(off, text, sizeof text - 1));
    KaString s;
    ASSERT_EQ(0, f.readString(off, &s, sizeof text - 1));
    EXPECT_EQ(sizeof text - 1, s.len);
    EXPECT_EQ(0, memcmp(s.data, text, s.len));
}

// An object still alive at exit: its file must not outlive the process.
KaTmpFile* gLeftAlive = nullptr;

TEST_F(KaTmpFileTest, NoFileIsLeftBehindWhenTheProcessExitsWithTheObjectAlive)
{
    // "fast": the child is a fork of this process and writes into this
    // test's directory.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            gLeftAlive = new KaTmpFile(4096, 0);
            std::vector<uint8_t> data = pattern(8 * KA_TMP_PAGE_SIZE, 5);
            if (gLeftAlive->write(0, data.data(), data.size()) != 0 || tmp.count() != 1 || bosTmpCount() != 1)
                std::exit(3);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(0u, tmp.count());
}

}  // namespace
