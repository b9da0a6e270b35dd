// The text of a result column is converted without a lock per value: each
// column keeps converters of its own for the life of the cursor, and plain
// ASCII needs none. The whole process's mutex locks are counted, so this
// suite is an executable of its own.
#include <gtest/gtest.h>

#include <string>

#include "readerrig.h"
#include "support/alloccount.h"

namespace {

using katest::ReaderRig;

// Values that need a converter into Latin-1, and plain ASCII ones.
std::string valuesJson(size_t rows)
{
    std::string json = "[";
    for (size_t i = 0; i < rows; ++i) {
        json += i ? "," : "";
        json += i % 2 ? "\"M\\u00fcller " + std::to_string(i) + " \\u20ac\"" : "\"order " + std::to_string(i) + "\"";
    }
    return json + "]";
}

std::string expectedLatin1(size_t row)
{
    // The euro sign has no Latin-1 character: the converter substitutes.
    return row % 2 ? "M\xfcller " + std::to_string(row) + " \x1a" : "order " + std::to_string(row);
}

class ColumnConverters : public ::testing::TestWithParam<int32_t> {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

TEST_P(ColumnConverters, TextIntoAnotherCodePageTakesNoLockPerValue)
{
    constexpr size_t kRows = 40;
    ReaderRig rig(GetParam());
    rig.stmt.charCodePage = kCodePageLatin1;
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    const bool columnWise = GetParam() == HIVE_RESULT_COLUMN_WISE;
    rig.serve(katest::rowsReply(std::string("{\"style\":\"") + (columnWise ? "column" : "row") +
                                "\",\"columns\":[{\"type\":\"string\",\"values\":" + valuesJson(kRows) + "}]}"));
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    ASSERT_EQ(kRows, rows);
    DataReader* reader = rig.readers[0];
    if (columnWise) {
        ASSERT_EQ(0, reader->readValue());
        ASSERT_EQ(0, rig.comm.endReply());
    }
    uint64_t locks = 0;
    for (uint32_t row = 1; row <= rows; ++row) {
        if (columnWise) {
            rig.state.currentRow = row;
        } else {
            ASSERT_EQ(0, row > 1 ? rig.comm.nextRow() : 0);
            ASSERT_EQ(0, reader->readValue());
        }
        char text[64] = {};
        int64_t length = 0;
        BaseOutString out(text, int64_t(sizeof text), &length, nullptr);
        const uint64_t before = kacount::totals().locks;
        ASSERT_EQ(0, reader->getData(&out, SQL_C_CHAR)) << (rig.diags.size() ? rig.diags.text(0) : "");
        // The first value that needs one opens the column's converters.
        if (row > 2)
            locks += kacount::totals().locks - before;
        EXPECT_EQ(expectedLatin1(row - 1), std::string(text, size_t(length)));
        if (!columnWise) {
            ASSERT_EQ(0, rig.comm.skipByte());
        }
    }
    EXPECT_EQ(0u, locks);
    // The converters are the column's until its storage is released.
    EXPECT_TRUE(rig.columns[0]->convertersSet);
    rig.columns[0]->release();
    EXPECT_FALSE(rig.columns[0]->convertersSet);
}

INSTANTIATE_TEST_SUITE_P(Styles, ColumnConverters, ::testing::Values(HIVE_RESULT_ROW_WISE, HIVE_RESULT_COLUMN_WISE),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return std::string(info.param == HIVE_RESULT_ROW_WISE ? "rows" : "columns");
                         });

}  // namespace
