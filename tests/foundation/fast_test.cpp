#include "foundation/fast.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "support/guarded.h"

namespace {

// A byte area with guards on both sides, misalign bytes past an 8-byte
// boundary.
using Area = katest::Guarded<uint8_t>;

Area area(size_t n, size_t misalign)
{
    return Area(n, Area::kDefaultFill, misalign);
}

// The guards are whole and the room holds nothing but inside.
bool onlyRangeTouched(const Area& a, unsigned char inside)
{
    return a.untouched(inside);
}

}  // namespace

TEST(FastMemzero, WipesExactlyTheRangeAtEveryAlignment)
{
    for (size_t n : {0u, 1u, 3u, 6u, 7u, 8u, 9u, 31u, 4096u}) {
        for (size_t misalign = 0; misalign < 8; ++misalign) {
            Area a = area(n, misalign);
            fastMemzero(a.data(), n);
            EXPECT_TRUE(onlyRangeTouched(a, 0)) << "n=" << n << " misalign=" << misalign;
        }
    }
}

TEST(FastMemset, FillsAndZeroWords)
{
    for (size_t misalign = 0; misalign < 4; ++misalign) {
        Area a = area(13, misalign);
        fastMemset(a.data(), 0x3C, 13);
        EXPECT_TRUE(onlyRangeTouched(a, 0x3C));
    }
    for (size_t n : {1u, 3u, 8u}) {
        Area a = area(4 * n, 0);
        fastZeroWords(a.data(), n);
        EXPECT_TRUE(onlyRangeTouched(a, 0)) << n;
    }
    fastMemset(nullptr, 0, 0);
    fastZeroWords(nullptr, 0);
}

TEST(FastMemcpy, CopiesAndMovesWithinOneBuffer)
{
    for (size_t misalign = 0; misalign < 8; ++misalign) {
        Area a = area(19, misalign);
        const char* src = "0123456789abcdefghi";
        fastMemcpy8(a.data(), src, 19);
        EXPECT_EQ(std::memcmp(a.data(), src, 19), 0);
        EXPECT_TRUE(a.guardsIntact()) << misalign;
        Area b = area(19, misalign);
        fastMemcpyWords(b.data(), src, 19);
        EXPECT_EQ(std::memcmp(b.data(), src, 19), 0);
        EXPECT_TRUE(b.guardsIntact()) << misalign;
        Area c = area(19, misalign);
        fastMemcpy(c.data(), src, 19);
        EXPECT_EQ(std::memcmp(c.data(), src, 19), 0);
        EXPECT_TRUE(c.guardsIntact()) << misalign;
    }
    // Down over itself (dst below src) and up to open a gap.
    char down[] = "..abcdef";
    fastMemcpy(down, down + 2, 6);
    EXPECT_EQ(std::memcmp(down, "abcdefef", 8), 0);
    char up[] = "abcdef..";
    fastMemcpyW(up + 2, up, 6);
    EXPECT_EQ(std::memcmp(up, "ababcdef", 8), 0);
    fastMemcpy(nullptr, nullptr, 0);
    fastMemcpyW(nullptr, nullptr, 0);
    fastMemcpy8(nullptr, nullptr, 0);
}

TEST(FastMemcmp, UnsignedOrderAndEquality)
{
    struct Case {
        const char *a, *b;
        size_t n;
        int cmp;
    } cases[] = {
        {"abc", "abd", 3, -1}, {"abd", "abc", 3, 1}, {"abc", "abd", 2, 0}, {"\x80", "\x7f", 1, 1}, {"", "", 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fastMemcmp(c.a, c.b, c.n), c.cmp) << c.a << c.b;
        EXPECT_EQ(fastMemeq(c.a, c.b, c.n), c.cmp == 0 ? 1 : 0);
    }
    EXPECT_EQ(fastMemeq(nullptr, nullptr, 0), 1);
    EXPECT_EQ(fastMemcmp(nullptr, nullptr, 0), 0);
    // Every alignment pairing and tail length, with one difference placed
    // at each position in turn.
    alignas(8) char a[40];
    alignas(8) char b[40];
    for (size_t oa = 0; oa < 4; ++oa) {
        for (size_t ob = 0; ob < 4; ++ob) {
            for (size_t n = 1; n < 20; ++n) {
                std::memset(a, 'x', sizeof a);
                std::memset(b, 'x', sizeof b);
                EXPECT_EQ(fastMemeq(a + oa, b + ob, n), 1);
                for (size_t d = 0; d < n; ++d) {
                    b[ob + d] = 'y';
                    EXPECT_EQ(fastMemeq(a + oa, b + ob, n), 0) << oa << ob << n << d;
                    b[ob + d] = 'x';
                }
            }
        }
    }
}

TEST(FastMatchEitherCase, EachByteFromEitherPattern)
{
    EXPECT_EQ(fastMatchEitherCase("SeLeCt", "select", "SELECT", 6), 1);
    EXPECT_EQ(fastMatchEitherCase("SeLeCx", "select", "SELECT", 6), 0);
    EXPECT_EQ(fastMatchEitherCase("", "", "", 0), 1);
}

TEST(FastMemswap, ExchangesRangesLargerThanItsBuffer)
{
    for (size_t n : {0u, 1u, 511u, 512u, 513u, 1500u}) {
        std::vector<unsigned char> a(n), b(n);
        for (size_t i = 0; i < n; ++i) {
            a[i] = static_cast<unsigned char>(i * 7);
            b[i] = static_cast<unsigned char>(i * 13 + 1);
        }
        auto wantA = b;
        auto wantB = a;
        fastMemswap(a.data(), b.data(), n);
        EXPECT_EQ(a, wantA) << n;
        EXPECT_EQ(b, wantB) << n;
    }
}

TEST(FastSwapElements, ExchangesTwoElements)
{
    struct Rec {
        int32_t id;
        char tag[6];
    };
    Rec recs[3] = {{1, "one"}, {2, "two"}, {3, "three"}};
    fastSwapElements(recs, 0, 2, sizeof(Rec));
    EXPECT_EQ(recs[0].id, 3);
    EXPECT_STREQ(recs[0].tag, "three");
    EXPECT_EQ(recs[2].id, 1);
    EXPECT_STREQ(recs[2].tag, "one");
    EXPECT_EQ(recs[1].id, 2);
    fastSwapElements(recs, 1, 1, sizeof(Rec));
    EXPECT_EQ(recs[1].id, 2);
}

TEST(FastStr, CopyCatLengthCompare)
{
    char buf[32];
    buf[0] = 0;
    char* end = fastStrcat(buf, "abc");
    EXPECT_EQ(end, buf + 3);
    EXPECT_STREQ(buf, "abc");
    end = fastStrcat(buf, "de");
    EXPECT_EQ(end, buf + 5);
    EXPECT_STREQ(buf, "abcde");
    end = fastStrcpy(buf, "xy");
    EXPECT_EQ(end, buf + 2);
    EXPECT_EQ(*end, 0);
    EXPECT_EQ(fastStrcpy(buf, ""), buf);

    for (size_t misalign = 0; misalign < 8; ++misalign) {
        for (size_t len = 0; len < 12; ++len) {
            std::vector<char> s(misalign + len + 1, 'q');
            s[misalign + len] = 0;
            EXPECT_EQ(fastStrlen(s.data() + misalign), len);
        }
    }
    EXPECT_EQ(fastStrcmp("abc", "abd"), -1);
    EXPECT_EQ(fastStrcmp("abd", "abc"), 1);
    EXPECT_EQ(fastStrcmp("abc", "abc"), 0);
    EXPECT_EQ(fastStrcmp("\xff", "a"), 1);
}

TEST(FastExchangePointer, ReturnsOldValueUnderContention)
{
    int a = 0;
    int b = 0;
    void* slot = &a;
    EXPECT_EQ(fastExchangePointer(&slot, &b), &a);
    EXPECT_EQ(slot, &b);
    EXPECT_EQ(fastExchangePointerSem(&slot, &a), &b);
    EXPECT_EQ(slot, &a);

    // Threads pass tokens through the slot; every token must survive exactly
    // once. Each helper has its own lock, so each is tried on its own.
    for (auto exchange : {fastExchangePointer, fastExchangePointerSem}) {
        constexpr int kThreads = 4;
        constexpr int kRounds = 2000;
        std::vector<int> tokens(kThreads + 1);
        void* shared = &tokens[kThreads];
        std::vector<void*> held(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            held[t] = &tokens[t];
            threads.emplace_back([&, t] {
                for (int r = 0; r < kRounds; ++r)
                    held[t] = exchange(&shared, held[t]);
            });
        }
        for (auto& th : threads)
            th.join();
        std::vector<void*> all(held);
        all.push_back(shared);
        std::sort(all.begin(), all.end());
        EXPECT_EQ(std::unique(all.begin(), all.end()), all.end());
        EXPECT_EQ(all.size(), tokens.size());
    }
}
