// The cipher of stored option values: a round trip, and the lengths and
// modes it refuses.
#include <gtest/gtest.h>

#include <cstdint>

#include "security/kastoredvalue.h"

namespace {

TEST(StoredValues, CipherRoundTripsAndRefusesPartialBlocks)
{
    uint8_t data[16] = {'p', 0, 'w', 0};
    EXPECT_EQ(cryptEncode(data, 4, KA_STORED_MODE_OPTION, nullptr), 8);
    EXPECT_NE(data[0], 'p');
    EXPECT_EQ(cryptDecode(data, 8, KA_STORED_MODE_OPTION, nullptr), 0);
    EXPECT_EQ(data[0], 'p');
    EXPECT_EQ(data[4], 0);
    EXPECT_EQ(cryptDecode(data, 7, KA_STORED_MODE_OPTION, nullptr), 1);
    EXPECT_EQ(cryptDecode(data, 8, 2, nullptr), 1);
}

}  // namespace
