// The data readers on real FetchResults replies, written by Apache Thrift's
// own Python library, row-wise and column-wise: every Hive type, NULLs and
// the null bitmaps (spark-3's short ones too), values split across reads,
// empty and long values, the reply source and the spool records of the
// cache twins, and replies that lie about their lengths.
#include "hive/hivereader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hive/hivenetsource.h"
#include "kamessages.h"
#include "platform/katmpsink.h"
#include "readerrig.h"

namespace {

using katest::frame;
using katest::kNullCell;
using katest::ReaderRig;
using katest::TB;

class Readers : public ::testing::TestWithParam<int32_t> {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

class ReaderEdges : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

const char* styleName(int32_t style)
{
    return style == HIVE_RESULT_ROW_WISE ? "row" : "column";
}

struct TypeCase {
    const char* wireType;  // the peer's name
    uint8_t typeCode;
    int64_t precision;
    int64_t scale;
    const char* values;  // JSON list
    std::vector<std::string> expected;
};

// Decodes the whole block and renders every cell as SQL_C_CHAR.
std::vector<std::vector<std::string>> fetchAll(ReaderRig& rig, const std::string& reply, size_t chunk = 7)
{
    std::vector<std::vector<std::string>> cells;
    rig.serve(reply, chunk);
    uint32_t rows = 0;
    if (rig.begin(&rows))
        return cells;
    const size_t n = rig.readers.size();
    if (rig.style == HIVE_RESULT_COLUMN_WISE) {
        for (DataReader* r : rig.readers) {
            if (r->readValue())
                return cells;
        }
        if (rig.comm.endReply())
            return cells;
        for (uint32_t row = 1; row <= rows; ++row) {
            rig.state.currentRow = row;
            cells.emplace_back();
            for (size_t c = 0; c < n; ++c)
                cells.back().push_back(rig.cell(c));
        }
        return cells;
    }
    for (uint32_t row = 0; row < rows; ++row) {
        if (row > 0 && rig.comm.nextRow())
            return cells;
        cells.emplace_back();
        for (size_t c = 0; c < n; ++c) {
            if (rig.readers[c]->readValue())
                return cells;
        }
        for (size_t c = 0; c < n; ++c)
            cells.back().push_back(rig.cell(c));
        if (rig.comm.skipByte())
            return cells;
    }
    if (rig.comm.endReply())
        cells.clear();
    return cells;
}

const std::vector<TypeCase>& typeCases()
{
    static const std::vector<TypeCase> cases = {
        {"boolean", HIVE_TYPE_BOOLEAN, 0, 0, "[true, false, null]", {"1", "0", kNullCell}},
        {"tinyint", HIVE_TYPE_TINYINT, 0, 0, "[-128, 127, null]", {"-128", "127", kNullCell}},
        {"smallint", HIVE_TYPE_SMALLINT, 0, 0, "[-32768, 32767, null]", {"-32768", "32767", kNullCell}},
        {"smallint32", HIVE_TYPE_SMALLINT, 0, 0, "[-5, 300, null]", {"-5", "300", kNullCell}},
        {"int", HIVE_TYPE_INT, 0, 0, "[2147483647, -1, null]", {"2147483647", "-1", kNullCell}},
        {"bigint",
         HIVE_TYPE_BIGINT,
         0,
         0,
         "[9223372036854775807, -9223372036854775808, null]",
         {"9223372036854775807", "-9223372036854775808", kNullCell}},
        {"float", HIVE_TYPE_FLOAT, 0, 0, "[1.5, -2.25, null]", {"1.5", "-2.25", kNullCell}},
        {"double", HIVE_TYPE_DOUBLE, 0, 0, "[1.5, -1e300, null]", {"1.5", "-1E300", kNullCell}},
        {"decimal",
         HIVE_TYPE_DECIMAL,
         38,
         10,
         "[\"12.3400000000\", \"-1234567890123456789012345678.0123456789\", null]",
         {"12.34", "-1234567890123456789012345678.0123456789", kNullCell}},
        {"string", HIVE_TYPE_STRING, 0, 0, "[\"h\\u00e9llo\", \"\", null]", {"h\xc3\xa9llo", "", kNullCell}},
        {"varchar",
         HIVE_TYPE_VARCHAR,
         0,
         0,
         "[\"\\ud83d\\ude00 beyond\", \"v\", null]",
         {"\xf0\x9f\x98\x80 beyond", "v", kNullCell}},
        {"char", HIVE_TYPE_CHAR, 0, 0, "[\"ab  \", \"c\", null]", {"ab  ", "c", kNullCell}},
        {"date",
         HIVE_TYPE_DATE,
         0,
         0,
         "[\"2024-02-29\", \"0001-01-01\", null]",
         {"2024-02-29", "0001-01-01", kNullCell}},
        {"binary", HIVE_TYPE_BINARY, 0, 0, "[\"00ff10\", \"\", null]", {"00FF10", "", kNullCell}},
        {"map", HIVE_TYPE_MAP, 0, 0, "[\"{\\\"a\\\":1}\", \"{}\", null]", {"{\"a\":1}", "{}", kNullCell}},
        {"array", HIVE_TYPE_ARRAY, 0, 0, "[\"[1,2]\", \"[]\", null]", {"[1,2]", "[]", kNullCell}},
        {"struct", HIVE_TYPE_STRUCT, 0, 0, "[\"{\\\"x\\\":null}\", \"{}\", null]", {"{\"x\":null}", "{}", kNullCell}},
        {"interval",
         HIVE_TYPE_STRING,
         0,
         0,
         "[\"1 02:03:04.000000000\", \"-0-1\", null]",
         {"1 02:03:04.000000000", "-0-1", kNullCell}},
    };
    return cases;
}

TEST_P(Readers, EveryHiveTypeComesBackValueByValue)
{
    ReaderRig rig(GetParam());
    std::string json = std::string("{\"style\":\"") + styleName(GetParam()) + "\",\"columns\":[";
    for (size_t i = 0; i < typeCases().size(); ++i) {
        const TypeCase& t = typeCases()[i];
        ASSERT_EQ(0, rig.add(t.typeCode, t.precision, t.scale)) << t.wireType;
        json += std::string(i ? "," : "") + "{\"type\":\"" + t.wireType + "\",\"values\":" + t.values + "}";
    }
    json += "]}";
    auto cells = fetchAll(rig, katest::rowsReply(json));
    ASSERT_EQ(3u, cells.size()) << (rig.diags.size() ? rig.diags.text(0) : "");
    for (size_t row = 0; row < 3; ++row) {
        for (size_t c = 0; c < typeCases().size(); ++c)
            EXPECT_EQ(typeCases()[c].expected[row], cells[row][c]) << typeCases()[c].wireType << " row " << row;
    }
    EXPECT_EQ(0u, rig.diags.size());
    EXPECT_EQ(rig.conn.readBuffer.frameEnd, rig.conn.readBuffer.readPos);
}

TEST_P(Readers, TimestampsKeepTheirNanoseconds)
{
    ReaderRig rig(GetParam());
    ASSERT_EQ(0, rig.add(HIVE_TYPE_TIMESTAMP));
    auto cells = fetchAll(rig, katest::rowsReply(std::string("{\"style\":\"") + styleName(GetParam()) +
                                                 "\",\"columns\":[{\"type\":\"timestamp\",\"values\":["
                                                 "\"2024-02-29 12:34:56.123456789\",\"2024-02-29 12:34:56\","
                                                 "null]}]}"));
    ASSERT_EQ(3u, cells.size());
    EXPECT_EQ("2024-02-29 12:34:56.123456789", cells[0][0]);
    EXPECT_EQ("2024-02-29 12:34:56", cells[1][0]);
    EXPECT_EQ(kNullCell, cells[2][0]);
}

TEST_P(Readers, LongValuesStraddleReadsAndComeOutWhole)
{
    ReaderRig rig(GetParam());
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING, 0, 0, 65536));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_BINARY, 0, 0, 65536));
    std::string big;
    for (int i = 0; i < 70000; ++i)
        big.push_back(char('a' + i % 26));
    std::string hex;
    for (int i = 0; i < 40000; ++i)
        hex += "0a";
    const std::string json = std::string("{\"style\":\"") + styleName(GetParam()) +
                             "\",\"columns\":[{\"type\":\"string\",\"values\":[\"x\",\"" + big + "\",\"" + big +
                             "\"]},{\"type\":\"binary\",\"values\":[\"" + hex + "\",\"\",null]}]}";
    rig.serve(katest::rowsReply(json), 5000);
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    ASSERT_EQ(3u, rows);
    std::vector<std::string> got;
    std::string hexUpper;
    for (int i = 0; i < 40000; ++i)
        hexUpper += "0A";
    if (GetParam() == HIVE_RESULT_COLUMN_WISE) {
        ASSERT_EQ(0, rig.readers[0]->readValue());
        ASSERT_EQ(0, rig.readers[1]->readValue());
        ASSERT_EQ(0, rig.comm.endReply());
        for (uint32_t row = 1; row <= 3; ++row) {
            rig.state.currentRow = row;
            size_t count = 0;
            got.push_back(rig.pieces(0, SQL_C_CHAR, 1000, &count));
            if (row > 1) {
                EXPECT_EQ(71u, count);
                // The value again, from the same row: read back from where it lies.
                EXPECT_EQ(big, rig.cell(0));
            }
            got.push_back(rig.pieces(1, SQL_C_CHAR, 333));
        }
    } else {
        for (uint32_t row = 0; row < 3; ++row) {
            if (row > 0) {
                ASSERT_EQ(0, rig.comm.nextRow());
            }
            ASSERT_EQ(0, rig.readers[0]->readValue());
            ASSERT_EQ(0, rig.readers[1]->readValue());
            got.push_back(rig.pieces(0, SQL_C_CHAR, 1000));
            got.push_back(rig.pieces(1, SQL_C_CHAR, 333));
            ASSERT_EQ(0, rig.comm.skipByte());
        }
        ASSERT_EQ(0, rig.comm.endReply());
    }
    ASSERT_EQ(6u, got.size());
    EXPECT_EQ("x", got[0]);
    EXPECT_EQ(hexUpper, got[1]);
    EXPECT_EQ(big, got[2]);
    EXPECT_EQ("", got[3]);
    EXPECT_EQ(big, got[4]);
    EXPECT_EQ(kNullCell, got[5]);
    EXPECT_EQ(0u, rig.diags.size()) << rig.diags.text(0);
}

TEST_P(Readers, WideTextAndNullWidths)
{
    ReaderRig rig(GetParam());
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
    auto reply = katest::rowsReply(std::string("{\"style\":\"") + styleName(GetParam()) +
                                   "\",\"columns\":[{\"type\":\"string\",\"values\":[\"\\u00e9\\ud83d\\ude00\",null]},"
                                   "{\"type\":\"int\",\"values\":[null,5]}]}");
    rig.serve(reply);
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    auto position = [&](uint32_t row) {
        if (GetParam() == HIVE_RESULT_COLUMN_WISE) {
            rig.state.currentRow = row;
            return;
        }
        if (row > 1) {
            ASSERT_EQ(0, rig.comm.skipByte());
            ASSERT_EQ(0, rig.comm.nextRow());
        }
        ASSERT_EQ(0, rig.readers[0]->readValue());
        ASSERT_EQ(0, rig.readers[1]->readValue());
    };
    if (GetParam() == HIVE_RESULT_COLUMN_WISE) {
        ASSERT_EQ(0, rig.readers[0]->readValue());
        ASSERT_EQ(0, rig.readers[1]->readValue());
    }
    position(1);
    EXPECT_EQ(std::string("\xe9\x00\x3d\xd8\x00\xde", 6), rig.pieces(0, SQL_C_WCHAR, 64));
    // A NULL clears the first unit of the application's buffer: two bytes for
    // UTF-16 text, four for SQL_C_LONG.
    katest::Guarded<uint8_t> room(16, 0x77);
    int64_t ind = 0;
    BaseOutString wide(room.data(), int64_t(room.size()), &ind, nullptr);
    ASSERT_EQ(0, rig.readers[1]->getData(&wide, SQL_C_WCHAR));
    EXPECT_EQ(SQL_NULL_DATA, ind);
    EXPECT_EQ(0, room.data()[0]);
    EXPECT_EQ(0, room.data()[1]);
    EXPECT_EQ(0x77, room.data()[2]);
    BaseOutString asLong(room.data(), int64_t(room.size()), &ind, nullptr);
    memset(room.data(), 0x77, room.size());
    ASSERT_EQ(0, rig.readers[1]->getData(&asLong, SQL_C_LONG));
    EXPECT_EQ(0, room.data()[3]);
    EXPECT_EQ(0x77, room.data()[4]);
    position(2);
    EXPECT_EQ(kNullCell, rig.pieces(0, SQL_C_WCHAR, 64));
    int32_t five = 0;
    int64_t len = 0;
    BaseOutString out(&five, int64_t(sizeof five), &len, nullptr);
    ASSERT_EQ(0, rig.readers[1]->getData(&out, SQL_C_SLONG));
    EXPECT_EQ(5, five);
    EXPECT_EQ(4, len);
}

INSTANTIATE_TEST_SUITE_P(BothStyles, Readers, ::testing::Values(HIVE_RESULT_ROW_WISE, HIVE_RESULT_COLUMN_WISE),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return std::string(styleName(info.param)) + "Wise";
                         });

}  // namespace
