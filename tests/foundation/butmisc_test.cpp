// The boolean-word test and the scratch buffer growing in 512-byte steps.
#include "foundation/butmisc.h"

#include <cstring>

#include <gtest/gtest.h>

#include "errorscope.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

TEST(ButMisc, IsTrueWords)
{
    for (const char* yes : {"1", "true", "Tomorrow", "on", "ONE", "oN"})
        EXPECT_EQ(1, butIsTrue(yes)) << yes;
    for (const char* no : {"0", "off", "yes", "", "o", "no"})
        EXPECT_EQ(0, butIsTrue(no)) << no;
    EXPECT_EQ(0, butIsTrue(nullptr));
}

TEST(ButMisc, GrowBufferInStepsOf512KeepingTheCursor)
{
    katest::ErrorScope errors;
    struct {
        size_t n;
        uint16_t size;
    } fresh[] = {{100, 512}, {511, 512}, {512, 1024}, {0, 512}};
    for (const auto& c : fresh) {
        char* buffer = nullptr;
        char* cursor = nullptr;
        uint16_t size = 0;
        ASSERT_EQ(0, butGrowBuffer(&buffer, &cursor, &size, c.n));
        EXPECT_EQ(c.size, size) << c.n;
        EXPECT_EQ(buffer, cursor);
        ramFree(buffer);
    }

    char* buffer = nullptr;
    char* cursor = nullptr;
    uint16_t size = 0;
    ASSERT_EQ(0, butGrowBuffer(&buffer, &cursor, &size, 10));
    memset(buffer, 'x', 500);
    cursor = buffer + 500;
    char* before = buffer;
    ASSERT_EQ(0, butGrowBuffer(&buffer, &cursor, &size, 12));  // fits exactly
    EXPECT_EQ(before, buffer);
    EXPECT_EQ(512, size);
    ASSERT_EQ(0, butGrowBuffer(&buffer, &cursor, &size, 13));
    EXPECT_EQ(1024, size);
    EXPECT_EQ(buffer + 500, cursor);
    EXPECT_EQ(std::string(500, 'x'), std::string(buffer, 500));
    EXPECT_EQ(0u, errors.size());

    // The 16-bit size never wraps: growth past its limit is refused.
    cursor = buffer + 1000;
    EXPECT_EQ(1, butGrowBuffer(&buffer, &cursor, &size, 70000));
    EXPECT_EQ(1024, size);
    EXPECT_EQ(buffer + 1000, cursor);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_SCRATCH_BUFFER_LIMIT, errors.native(0));
    while (size < 65024) {
        cursor = buffer + size;
        ASSERT_EQ(0, butGrowBuffer(&buffer, &cursor, &size, 1));
    }
    EXPECT_EQ(65024, size);
    cursor = buffer + size;
    EXPECT_EQ(1, butGrowBuffer(&buffer, &cursor, &size, 1));
    EXPECT_EQ(65024, size);
    ramFree(buffer);

    char* none = nullptr;
    char* noneCursor = nullptr;
    uint16_t noneSize = 0;
    EXPECT_EQ(1, butGrowBuffer(&none, &noneCursor, &noneSize, 65535));
    EXPECT_EQ(nullptr, none);
}

}  // namespace
