#include "foundation/ram.h"

#include <gtest/gtest.h>

TEST(Ram, ZeroSizeGivesFreeableBlock)
{
    void* p = ramAlloc(0);
    ASSERT_NE(p, nullptr);
    ramFree(p);
}
