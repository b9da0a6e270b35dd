// The owners of ramAlloc blocks and of the current error list.
#include "foundation/kaowner.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/errorscope.h"
#include "support/freewatch.h"

namespace {

TEST(KaOwner, OwnedBlockIsFreedOnEveryWayOut)
{
    char* seen = nullptr;
    auto early = [&](bool leave) -> int {
        RamPtr<char> buf = ramMake<char>(32);
        if (!buf)
            return 1;
        seen = buf.get();
        std::memcpy(buf.get(), "abc", 4);
        if (leave)
            return 2;
        return 0;
    };
    // Run under the sanitizer, a leak on either path fails the suite.
    EXPECT_EQ(early(true), 2);
    EXPECT_EQ(early(false), 0);
    EXPECT_NE(seen, nullptr);
}

TEST(KaOwner, ReleasedBlockBelongsToTheCallerAgain)
{
    RamPtr<char> buf = ramMake<char>(8);
    ASSERT_TRUE(buf);
    char* raw = buf.release();
    EXPECT_FALSE(buf);
    ramFree(raw);
}

TEST(KaOwner, WipedBlockIsZeroWhenItGoesBack)
{
    if (!katest::FreeWatch::available())
        GTEST_SKIP() << "needs AddressSanitizer's free hook";
    char* secret = static_cast<char*>(ramAlloc(16));
    ASSERT_NE(secret, nullptr);
    std::memcpy(secret, "hunter2-hunter2", 16);
    katest::FreeWatch watch(secret, 16);
    {
        RamWipedPtr<char> owner(secret, 16);
        RamWipedPtr<char> moved(std::move(owner));
        EXPECT_EQ(owner.get(), nullptr);
        EXPECT_EQ(moved.get(), secret);
    }
    EXPECT_TRUE(watch.seen());
    EXPECT_TRUE(watch.wiped());
}

TEST(KaOwner, WipedBlockReplacedIsWipedFirst)
{
    if (!katest::FreeWatch::available())
        GTEST_SKIP() << "needs AddressSanitizer's free hook";
    char* first = static_cast<char*>(ramAlloc(8));
    ASSERT_NE(first, nullptr);
    std::memcpy(first, "1234567", 8);
    RamWipedPtr<char> owner(first, 8);
    katest::FreeWatch watch(first, 8);
    owner.reset(static_cast<char*>(ramAlloc(4)), 4);
    EXPECT_TRUE(watch.seen());
    EXPECT_TRUE(watch.wiped());
}

TEST(KaOwner, ErrorListScopeRestoresTheOuterList)
{
    katest::ThreadScope thread;
    katest::ErrorScope outer;
    KaErrorList inner;
    {
        KaErrorListScope scope(&inner);
        EXPECT_EQ(KaErrorCurrentList(), &inner);
        KaErrorPostNew(7, 0, "inner", 0, 0);
    }
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
    EXPECT_EQ(inner.recordCount(), 1u);
    EXPECT_EQ(outer.size(), 0u);
}

TEST(KaOwner, DiagMarkCountsAndDemotesOnlyWhatCameAfterIt)
{
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    KaErrorPostNew(1, 0, "before", 0, 0);
    KaDiagMark mark;
    EXPECT_EQ(mark.posted(), 0u);
    KaErrorPostNew(2, 0, "after", 0, 0);
    EXPECT_EQ(mark.posted(), 1u);
    mark.demote();
    EXPECT_TRUE(errors.list.hasErrors());  // the first is still an error
    EXPECT_EQ(errors.list.recordCount(), 2u);
}

TEST(KaOwner, DiagMarkDropsOnlyWhatCameAfterIt)
{
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    KaErrorPostNew(1, 0, "before", 0, 0);
    KaDiagMark mark;
    KaErrorPostNew(2, 0, "after", 0, 0);
    KaErrorPostNew(3, 0, "after too", 0, 0);
    mark.drop();
    EXPECT_EQ(mark.posted(), 0u);
    ASSERT_EQ(errors.list.recordCount(), 1u);
    mark.drop();  // nothing more to drop
    EXPECT_EQ(errors.list.recordCount(), 1u);
}

}  // namespace
