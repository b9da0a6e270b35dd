#include "foundation/ram.h"

#include <gtest/gtest.h>

#include <cstring>

#include "foundation/kaerror.h"

// The out-of-memory paths ask for impossible sizes; under AddressSanitizer
// the allocator must then return null as the system allocator does, rather
// than stop the process.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

class RamWithList : public ::testing::Test {
protected:
    void SetUp() override { KaErrorPushList(&list_); }
    void TearDown() override { KaErrorPopList(); }
    KaErrorList list_;
};

}  // namespace

TEST(Ram, ZeroSizeGivesFreeableBlock)
{
    void* p = ramAlloc(0);
    ASSERT_NE(p, nullptr);
    ramFree(p);
    p = ramAllocBlock(0);
    ASSERT_NE(p, nullptr);
    ramFreeBlock(p);
    p = ramAllocInt(0);
    ASSERT_NE(p, nullptr);
    ramFreeRaw(p);
}

TEST(Ram, FreeOfNullDoesNothing)
{
    KaErrorList list;
    KaErrorPushList(&list);
    ramFree(nullptr);
    ramFreeBlock(nullptr);
    ramFreeRaw(nullptr);
    KaErrorPopList();
    EXPECT_FALSE(list.hasErrors());
    EXPECT_EQ(list.outOfMemoryMark, 0);
    EXPECT_EQ(list.count, 0u);
}

TEST_F(RamWithList, NegativeIntSizeFailsWithOutOfMemoryMark)
{
    EXPECT_EQ(ramAllocInt(-1), nullptr);
    EXPECT_EQ(list_.outOfMemoryMark, 1);
    EXPECT_TRUE(list_.hasErrors());
    EXPECT_EQ(list_.state(), 0);  // the mark alone is no stored record
    EXPECT_EQ(list_.last(), KaErrorOutOfMemoryRecord());
    // A second failure in the same call leaves one mark.
    EXPECT_EQ(ramAlloc(SIZE_MAX), nullptr);
    EXPECT_EQ(list_.errorCount, 1);
}

TEST_F(RamWithList, SuccessLeavesTheListAlone)
{
    void* p = ramAllocInt(16);
    ASSERT_NE(p, nullptr);
    ramFree(p);
    EXPECT_EQ(list_.outOfMemoryMark, 0);
    EXPECT_FALSE(list_.hasErrors());
}

TEST(Ram, FailureWithoutAListReturnsNull)
{
    EXPECT_EQ(ramAlloc(SIZE_MAX), nullptr);
}

TEST(RamDup, BytesWidenOneForOne)
{
    const unsigned char bytes[] = {0x41, 0xE9, 0x00, 0x7A};
    uint16_t* w = ramDupBytesToW(bytes, 4);
    ASSERT_NE(w, nullptr);
    const uint16_t want[] = {0x0041, 0x00E9, 0x0000, 0x007A, 0x0000};
    EXPECT_EQ(std::memcmp(w, want, sizeof want), 0);  // an embedded zero is copied too
    ramFree(w);

    w = ramDupBytesToWSigned(bytes, 2);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[0], 0x0041);
    EXPECT_EQ(w[1], 0x00E9);
    EXPECT_EQ(w[2], 0);
    ramFree(w);
}

TEST(RamDup, UnitsNarrowByTruncation)
{
    const uint16_t units[] = {0x0141, 0x00E9, 0xFF7A};
    char* s = ramDupWToBytes(units, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::memcmp(s, "\x41\xE9\x7A", 4), 0);
    ramFree(s);
    s = ramDupWToBytesSigned(units, 1);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "A");
    ramFree(s);
}

TEST(RamDup, EmptyAndNegativeCountsGiveAnEmptyString)
{
    uint16_t* w = ramDupBytesToW(nullptr, 0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[0], 0);
    ramFree(w);
    w = ramDupBytesToWSigned("abc", -5);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[0], 0);
    ramFree(w);
    char* s = ramDupWToBytes(nullptr, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0], 0);
    ramFree(s);
    s = ramDupWToBytesSigned(nullptr, -1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0], 0);
    ramFree(s);
}

TEST_F(RamWithList, DupOfImpossibleCountsFails)
{
    EXPECT_EQ(ramDupBytesToW("x", SIZE_MAX / 2), nullptr);
    EXPECT_EQ(ramDupWToBytes(nullptr, SIZE_MAX), nullptr);
    EXPECT_EQ(list_.outOfMemoryMark, 1);
}

TEST(RamRealloc, GrowingKeepsEveryByte)
{
    auto* p = static_cast<unsigned char*>(ramAlloc(64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i)
        p[i] = static_cast<unsigned char>(i + 1);
    void* block = p;
    ASSERT_EQ(ramRealloc(&block, 4096), 0);
    p = static_cast<unsigned char*>(block);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(p[i], i + 1) << "byte " << i;
    ASSERT_EQ(ramRealloc(&block, 16), 0);
    p = static_cast<unsigned char*>(block);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(p[i], i + 1) << "byte " << i;
    ramFree(block);
}

TEST_F(RamWithList, ReallocFailureKeepsTheBlock)
{
    void* block = ramAlloc(8);
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "kept!!!", 8);
    void* before = block;
    EXPECT_EQ(ramRealloc(&block, SIZE_MAX), 1);
    EXPECT_EQ(block, before);
    EXPECT_STREQ(static_cast<char*>(block), "kept!!!");
    EXPECT_EQ(list_.outOfMemoryMark, 1);
    ramFree(block);
}

TEST(RamRealloc, NullBlockAllocates)
{
    void* block = nullptr;
    ASSERT_EQ(ramRealloc(&block, 0), 0);
    ASSERT_NE(block, nullptr);
    ramFree(block);
}
