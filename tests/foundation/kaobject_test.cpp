#include "foundation/kaobject.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "support/errorscope.h"

// Huge requests must come back as null rather than abort the test.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

int g_destroyed = 0;

class Counted : public KaObject {
public:
    int64_t payload[4] = {1, 2, 3, 4};
    ~Counted() override { ++g_destroyed; }
};

class Ordered : public KaObject {
public:
    explicit Ordered(int v) : value(v) {}
    int value;
    int16_t compare(const KaObject& other) const override
    {
        int o = static_cast<const Ordered&>(other).value;
        return static_cast<int16_t>(value < o ? -1 : value > o ? 1 : 0);
    }
};

class ObjectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(thread.attached, 1); }

    katest::ThreadScope thread;
    katest::ErrorScope errors;
    KaErrorList& list = errors.list;
};

TEST_F(ObjectTest, DeleteThroughBaseRunsDerivedDestructorAndFreesBlock)
{
    g_destroyed = 0;
    KaObject* object = new Counted;
    ASSERT_NE(object, nullptr);
    delete object;
    EXPECT_EQ(g_destroyed, 1);
}

TEST_F(ObjectTest, DefaultCompareHoldsEveryObjectEqual)
{
    Counted a;
    Ordered b(7);
    EXPECT_EQ(a.compare(b), 0);
    EXPECT_EQ(static_cast<const KaObject&>(a).compare(a), 0);
}

TEST_F(ObjectTest, CompareOverrideIsReachedThroughTheBase)
{
    Ordered one(1);
    Ordered two(2);
    const KaObject& base = one;
    EXPECT_EQ(base.compare(two), -1);
    EXPECT_EQ(static_cast<const KaObject&>(two).compare(one), 1);
}

TEST_F(ObjectTest, FailedAllocationYieldsNullAndPostsOutOfMemory)
{
    void* block = KaObject::operator new(SIZE_MAX / 2);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(list.outOfMemoryMark, 1);
}

TEST_F(ObjectTest, ArrayFormsUseTheSameAllocator)
{
    g_destroyed = 0;
    Counted* many = new Counted[3];
    ASSERT_NE(many, nullptr);
    EXPECT_EQ(many[2].payload[3], 4);
    delete[] many;
    EXPECT_EQ(g_destroyed, 3);
}

}  // namespace
