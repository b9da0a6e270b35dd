#include "foundation/compare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "foundation/kaerror.h"
#include "support/u16.h"
#include "kamessages.h"

namespace {

using katest::W;

std::unique_ptr<char[]> exactCopy(const std::string& s)
{
    std::unique_ptr<char[]> p(new char[s.size() ? s.size() : 1]);
    std::memcpy(p.get(), s.data(), s.size());
    return p;
}

}  // namespace

TEST(CompareBlankPadded, OnlyBlanksPad)
{
    struct Case {
        const char *a, *b;
        int want;
    } cases[] = {
        {"ab", "ab  ", 0}, {"ab  ", "ab", 0}, {"ab", "ab\t", -1}, {"ab\t", "ab", 1}, {"ab", "abc", -1},
        {"abd", "abc", 1}, {"", "   ", 0},    {"", "", 0},        {"a", "\xff", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(compareBlankPadded(c.a, c.b), c.want) << "'" << c.a << "' vs '" << c.b << "'";
}

TEST(CompareCollate, CountedMatchesTerminatedOnBothSidesOfTheLocalBuffer)
{
    for (size_t len : {0u, 1u, 511u, 512u, 513u, 600u, 5000u}) {
        std::string a(len, 'k');
        std::string b(len, 'k');
        if (len > 0)
            b[len - 1] = 'm';
        auto ca = exactCopy(a);
        auto cb = exactCopy(b);
        int want = compareCollate(a.c_str(), b.c_str());
        EXPECT_EQ(compareCollateCounted(ca.get(), len, cb.get(), len), want) << len;
        EXPECT_EQ(compareCollateCountedHeap(ca.get(), len, cb.get(), len), want) << len;
        EXPECT_EQ(compareCollateCounted(cb.get(), len, ca.get(), len), -want) << len;
        EXPECT_EQ(compareCollateCounted(ca.get(), len, ca.get(), len), 0) << len;
    }
    // Only the counted bytes take part.
    EXPECT_EQ(compareCollateCounted("abcX", 3, "abcY", 3), 0);
    EXPECT_EQ(compareCollate("a", "b"), -1);
    EXPECT_EQ(compareCollateRaw("b", "a"), 1);
}

TEST(CompareN, SignsOfStrncmpAndMemcmp)
{
    EXPECT_EQ(compareN("abcd", "abce", 3), 0);
    EXPECT_EQ(compareN("abcd", "abce", 4), -1);
    EXPECT_EQ(compareN("ab", "abc", 5), -1);
    EXPECT_EQ(compareN(nullptr, nullptr, 0), 0);
    EXPECT_EQ(compareBytes("\x80", "\x01", 1), 1);
    EXPECT_EQ(compareBytes("a\0b", "a\0c", 3), -1);
    EXPECT_EQ(compareBytes(nullptr, nullptr, 0), 0);
}

TEST(CompareDoubleBits, OrdersLikeTheNumbers)
{
    const double values[] = {-1e300, -2.0, -1.0, -0.0, 0.0, 1e-300, 1.0, 2.0, 1e300};
    const size_t n = sizeof values / sizeof values[0];
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
            int want = i < j ? -1 : (i > j ? 1 : 0);
            EXPECT_EQ(compareDoubleBits(&values[i], &values[j]), want) << values[i] << " vs " << values[j];
        }
    }
}

TEST(CompareCodePointOrderW, SupplementaryAfterBasicPlane)
{
    const char16_t e000[] = {0xE000, 0};
    const char16_t pair[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(compareCodePointOrderW(W(e000), W(pair)), -1);
    EXPECT_EQ(compareCodePointOrderW(W(pair), W(e000)), 1);
    EXPECT_EQ(compareCodePointOrderW(W(u"abc"), W(u"abc")), 0);
    EXPECT_EQ(compareCodePointOrderW(W(u"ab"), W(u"abc")), -1);
}

class InvalidCast : public ::testing::Test {
protected:
    void SetUp() override { KaErrorPushList(&list_); }
    void TearDown() override { KaErrorPopList(); }
    KaErrorList list_;
};

TEST_F(InvalidCast, MarksTheLastRecord)
{
    KaErrorPostNewW(1, 0, W(u"first"), 0);
    KaErrorPostNewW(2, 0, W(u"bad hex digit"), 0);
    errMarkInvalidCast();
    KaError* last = list_.last();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(katest::u16(last->sqlstateWide), u"22018");
    EXPECT_EQ(last->sqlstateMsg, MSG_SQLSTATE_INVALID_CAST);
    // Only the last record changes.
    KaError* first = list_.at(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->sqlstateWide[0], 0);
    EXPECT_EQ(first->sqlstateMsg, 0);
}

TEST_F(InvalidCast, LeavesTheSharedOutOfMemoryRecordAlone)
{
    KaErrorPostOutOfMemory();
    errMarkInvalidCast();
    KaError* oom = KaErrorOutOfMemoryRecord();
    EXPECT_EQ(oom->sqlstateWide[0], 0);
    EXPECT_EQ(oom->sqlstateMsg, 0);
}

TEST(InvalidCastNoList, DoesNothingWithoutACurrentList)
{
    ASSERT_EQ(KaErrorCurrentList(), nullptr);
    errMarkInvalidCast();
    // No list is made on the way, and neither shared record takes the state.
    EXPECT_EQ(KaErrorCurrentList(), nullptr);
    for (KaError* shared : {KaErrorOutOfMemoryRecord(), KaErrorParamSink()}) {
        EXPECT_EQ(shared->sqlstateWide[0], 0);
        EXPECT_EQ(shared->sqlstateMsg, 0);
    }
}
