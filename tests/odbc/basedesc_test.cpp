// Descriptor records: the bind offset and the row of an array added to an
// application record's pointers, and taken off again.
#include <gtest/gtest.h>

#include <cstdint>

#include "odbc/basedesc.h"

TEST(BindOffset, RowWiseAndColumnWise)
{
    BaseAXD apd(nullptr);
    ASSERT_EQ(apd.setRecordCount(1), 0);
    BaseAXDRecord* rec = apd.axdRecord(1);
    alignas(8) uint8_t area[256];
    int64_t offset = 16;
    rec->dataPtr = area;
    rec->indicatorPtr = reinterpret_cast<int64_t*>(area + 128);
    rec->octetLengthPtr = nullptr;
    rec->octetLength = 10;

    // Row 0 without an offset: nothing moves.
    rec->applyBindOffset(0, 0);
    EXPECT_EQ(rec->dataPtr, area);
    rec->removeBindOffset(0, 0);
    EXPECT_EQ(rec->dataPtr, area);

    // Column-wise: data by the octet length, indicators by 8 bytes a row.
    apd.bindOffsetPtr = &offset;
    rec->applyBindOffset(0, 3);
    EXPECT_EQ(rec->dataPtr, area + 3 * 10 + 16);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128 + 3 * 8 + 16);
    EXPECT_EQ(rec->octetLengthPtr, nullptr);
    rec->removeBindOffset(0, 3);
    EXPECT_EQ(rec->dataPtr, area);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128);

    // Row-wise: every pointer by the row size.
    rec->applyBindOffset(24, 2);
    EXPECT_EQ(rec->dataPtr, area + 48 + 16);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128 + 48 + 16);
    rec->removeBindOffset(24, 2);
    EXPECT_EQ(rec->dataPtr, area);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128);
}
