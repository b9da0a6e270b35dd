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
#include "hive/hivenetread.h"

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
         {"12.3400000000", "-1234567890123456789012345678.0123456789", kNullCell}},
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

std::string spec(const char* style, const std::string& columns, const char* bitmaps = "full")
{
    return std::string("{\"style\":\"") + style + "\",\"bitmaps\":\"" + bitmaps + "\",\"columns\":[" + columns + "]}";
}

TEST_F(ReaderEdges, NullBitmapsMarkRowsByBitAndShortOrLongBitmapsKeepTheirMarks)
{
    struct Case {
        const char* bitmaps;
        bool marks;
    };
    for (const Case& c : {Case{"full", true}, Case{"short", true}, Case{"long", true}, Case{"none", false}}) {
        ReaderRig rig(HIVE_RESULT_COLUMN_WISE, 1, 10);
        ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
        ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
        auto cells = fetchAll(rig, katest::rowsReply(spec("column",
                                                          "{\"type\":\"int\",\"values\":[0,1,2,3,4,5,6,7,null,9]},"
                                                          "{\"type\":\"string\",\"values\":[\"\",\"b\",\"c\",\"d\","
                                                          "\"e\",\"f\",\"g\",\"h\",null,\"j\"]}",
                                                          c.bitmaps)));
        ASSERT_EQ(10u, cells.size()) << c.bitmaps;
        // Row 9 is bit 0 of the second byte.
        EXPECT_EQ(c.marks ? kNullCell : "0", cells[8][0]) << c.bitmaps;
        EXPECT_EQ(c.marks ? kNullCell : "", cells[8][1]) << c.bitmaps;
        // An empty string that is not marked is empty, not NULL.
        EXPECT_EQ("", cells[0][1]) << c.bitmaps;
        EXPECT_EQ("9", cells[9][0]) << c.bitmaps;
        EXPECT_EQ(0u, rig.diags.size()) << c.bitmaps;
    }
}

TEST_F(ReaderEdges, ASmallintSentAsI32KeepsItsLowBitsInBothStyles)
{
    for (int32_t style : {HIVE_RESULT_ROW_WISE, HIVE_RESULT_COLUMN_WISE}) {
        ReaderRig rig(style);
        ASSERT_EQ(0, rig.add(HIVE_TYPE_SMALLINT));
        ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
        auto cells =
            fetchAll(rig, katest::rowsReply(spec(styleName(style), "{\"type\":\"smallint32\",\"values\":[70000,-2]},"
                                                                   "{\"type\":\"int\",\"values\":[7,8]}")));
        ASSERT_EQ(2u, cells.size());
        EXPECT_EQ("4464", cells[0][0]) << styleName(style);
        EXPECT_EQ("-2", cells[1][0]) << styleName(style);
        // The next column is read from the right bytes.
        EXPECT_EQ("7", cells[0][1]) << styleName(style);
        EXPECT_EQ("8", cells[1][1]) << styleName(style);
    }
}

TEST_F(ReaderEdges, ColumnWiseTimestampsLoseTrailingFractionZerosAsText)
{
    ReaderRig rig(HIVE_RESULT_COLUMN_WISE);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_TIMESTAMP));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_DECIMAL, 5, 2));
    auto cells = fetchAll(
        rig, katest::rowsReply(spec("column", "{\"type\":\"timestamp\",\"values\":["
                                              "\"2024-01-01 00:00:00.120000000\","
                                              "\"2024-01-01 00:00:00.000000000\",\"2024-01-01 00:00:00\"]},"
                                              "{\"type\":\"decimal\",\"values\":[\"1.5\",\"-123.45\",\"0\"]}")));
    ASSERT_EQ(3u, cells.size());
    EXPECT_EQ("2024-01-01 00:00:00.12", cells[0][0]);
    EXPECT_EQ("2024-01-01 00:00:00", cells[1][0]);
    EXPECT_EQ("2024-01-01 00:00:00", cells[2][0]);
    // A decimal shorter than its slot comes back with its own digits, at
    // the column's scale.
    EXPECT_EQ("1.50", cells[0][1]);
    EXPECT_EQ("-123.45", cells[1][1]);
    // As a structure the timestamp is converted untrimmed.
    rig.state.currentRow = 1;
    SQL_TIMESTAMP_STRUCT ts{};
    int64_t len = 0;
    BaseOutString out(&ts, int64_t(sizeof ts), &len, nullptr);
    ASSERT_EQ(0, rig.readers[0]->getData(&out, SQL_C_TYPE_TIMESTAMP));
    EXPECT_EQ(120000000u, ts.fraction);
}

// A reply built by hand around one column's data.
std::string rowReply(const std::string& values, int32_t rows = 1, int32_t columns = 1)
{
    TB b;
    b.msg(2, "FetchResults").field(HIVE_T_STRUCT, 0);
    b.field(HIVE_T_STRUCT, 1).field(HIVE_T_I32, 1).i32(0).stop();
    b.field(HIVE_T_STRUCT, 3).field(HIVE_T_I64, 1).i64(0);
    b.field(HIVE_T_LIST, 2).i8(HIVE_T_STRUCT).i32(rows);
    b.field(HIVE_T_LIST, 1).i8(HIVE_T_STRUCT).i32(columns);
    b.raw(values);
    return frame(b.s);
}

std::string columnReply(const std::string& columns, int32_t count)
{
    TB b;
    b.msg(2, "FetchResults").field(HIVE_T_STRUCT, 0);
    b.field(HIVE_T_STRUCT, 1).field(HIVE_T_I32, 1).i32(0).stop();
    b.field(HIVE_T_STRUCT, 3).field(HIVE_T_I64, 1).i64(0);
    b.field(HIVE_T_LIST, 2).i8(HIVE_T_STRUCT).i32(0);
    b.field(HIVE_T_LIST, 3).i8(HIVE_T_STRUCT).i32(count);
    b.raw(columns);
    b.stop().stop().stop();
    return frame(b.s);
}

TEST_F(ReaderEdges, AWholeSecondKeepsItsZeroFractionRowWiseAndLosesItColumnWise)
{
    // Servers that write java.sql.Timestamp text send "...56.0": row-wise the
    // text goes out as it came, column-wise its trailing zeros are dropped.
    // As a timestamp structure both are the same value.
    for (int32_t style : {HIVE_RESULT_ROW_WISE, HIVE_RESULT_COLUMN_WISE}) {
        SCOPED_TRACE(styleName(style));
        ReaderRig rig(style);
        ASSERT_EQ(0, rig.add(HIVE_TYPE_TIMESTAMP));
        auto cells = fetchAll(rig, katest::rowsReply(spec(styleName(style), "{\"type\":\"timestamp\",\"values\":["
                                                                            "\"2024-02-29 12:34:56.0\"]}")));
        ASSERT_EQ(1u, cells.size());
        EXPECT_EQ(style == HIVE_RESULT_ROW_WISE ? "2024-02-29 12:34:56.0" : "2024-02-29 12:34:56", cells[0][0]);
        rig.state.currentRow = 1;
        SQL_TIMESTAMP_STRUCT ts{};
        int64_t len = 0;
        BaseOutString out(&ts, int64_t(sizeof ts), &len, nullptr);
        ASSERT_EQ(0, rig.readers[0]->getData(&out, SQL_C_TYPE_TIMESTAMP));
        EXPECT_EQ(56, ts.second);
        EXPECT_EQ(0u, ts.fraction);
    }
}

TEST_F(ReaderEdges, AMarkedSpooledStringIsNullOnlyWhenItIsEmpty)
{
    // Rows 1 and 2 marked in the bitmap; row 1 has bytes all the same.
    const std::string column = TB().field(HIVE_T_STRUCT, 7)
                                   .field(HIVE_T_LIST, 1)
                                   .i8(HIVE_T_STRING)
                                   .i32(3)
                                   .str("abc")
                                   .str("")
                                   .str("")
                                   .field(HIVE_T_STRING, 2)
                                   .i32(1)
                                   .raw("\x03")
                                   .stop()
                                   .stop()
                                   .s;
    ReaderRig rig(HIVE_RESULT_COLUMN_WISE);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    auto cells = fetchAll(rig, columnReply(column, 1));
    ASSERT_EQ(3u, cells.size()) << (rig.diags.size() ? rig.diags.text(0) : "");
    EXPECT_EQ("abc", cells[0][0]);
    EXPECT_EQ(kNullCell, cells[1][0]);
    EXPECT_EQ("", cells[2][0]);
    // In pieces too.
    rig.state.currentRow = 1;
    EXPECT_EQ("abc", rig.pieces(0, SQL_C_CHAR, 64));
}

TEST_F(ReaderEdges, AFloatIsNarrowedForEveryCType)
{
    // The wire carries a double; the column is a REAL, so SQL_C_DOUBLE gets
    // the float widened again, not the double that was sent.
    for (int32_t style : {HIVE_RESULT_ROW_WISE, HIVE_RESULT_COLUMN_WISE}) {
        SCOPED_TRACE(styleName(style));
        ReaderRig rig(style);
        ASSERT_EQ(0, rig.add(HIVE_TYPE_FLOAT));
        auto cells = fetchAll(rig, katest::rowsReply(spec(styleName(style), "{\"type\":\"float\",\"values\":[0.1]}")));
        ASSERT_EQ(1u, cells.size());
        rig.state.currentRow = 1;
        double d = 0;
        int64_t len = 0;
        BaseOutString asDouble(&d, int64_t(sizeof d), &len, nullptr);
        ASSERT_EQ(0, rig.readers[0]->getData(&asDouble, SQL_C_DOUBLE));
        EXPECT_EQ(double(0.1f), d);
        EXPECT_NE(0.1, d);
        EXPECT_EQ(8, len);
        float f = 0;
        BaseOutString asFloat(&f, int64_t(sizeof f), &len, nullptr);
        ASSERT_EQ(0, rig.readers[0]->getData(&asFloat, SQL_C_FLOAT));
        EXPECT_EQ(0.1f, f);
        EXPECT_EQ(4, len);
    }
}

TEST_F(ReaderEdges, RepliesThatLieAboutLengthsGiveADiagnosticAndNoOverrun)
{
    struct Case {
        const char* name;
        int32_t style;
        uint8_t type;
        std::string reply;
        const char* text;  // part of the diagnostic's text
    };
    const std::string stringUnion = TB().field(HIVE_T_STRUCT, 7).field(HIVE_T_STRING, 1).s;
    const Case cases[] = {
        {"string longer than the reply", HIVE_RESULT_ROW_WISE, HIVE_TYPE_STRING,
         rowReply(stringUnion + TB().i32(1000000).s + "abc"), "connection"},
        {"negative string length", HIVE_RESULT_ROW_WISE, HIVE_TYPE_STRING, rowReply(stringUnion + TB().i32(-5).s),
         "negative length"},
        {"timestamp longer than any timestamp", HIVE_RESULT_ROW_WISE, HIVE_TYPE_TIMESTAMP,
         rowReply(stringUnion + TB().i32(5000).s + std::string(5000, '1')), "5000 bytes"},
        {"member of another type", HIVE_RESULT_ROW_WISE, HIVE_TYPE_INT,
         rowReply(TB().field(HIVE_T_STRUCT, 4).field(HIVE_T_STRING, 1).str("x").stop().stop().s),
         "Unexpected field data"},
        {"numeric block longer than its storage", HIVE_RESULT_COLUMN_WISE, HIVE_TYPE_INT,
         columnReply(TB().field(HIVE_T_STRUCT, 4).field(HIVE_T_LIST, 1).i8(HIVE_T_I32).i32(1000000).s, 1),
         "Buffer too small"},
        {"element type without a width", HIVE_RESULT_COLUMN_WISE, HIVE_TYPE_INT,
         columnReply(TB().field(HIVE_T_STRUCT, 4).field(HIVE_T_LIST, 1).i8(HIVE_T_STRUCT).i32(1).s, 1),
         "Unknown datatype"},
        {"text longer than its slot", HIVE_RESULT_COLUMN_WISE, HIVE_TYPE_DATE,
         columnReply(
             TB().field(HIVE_T_STRUCT, 7).field(HIVE_T_LIST, 1).i8(HIVE_T_STRING).i32(1).str(std::string(40, '2')).s,
             1),
         "Invalid data length"},
        {"negative spooled string length", HIVE_RESULT_COLUMN_WISE, HIVE_TYPE_STRING,
         columnReply(TB().field(HIVE_T_STRUCT, 7).field(HIVE_T_LIST, 1).i8(HIVE_T_STRING).i32(1).i32(-9).s, 1),
         "negative length"},
        {"negative null bitmap length", HIVE_RESULT_COLUMN_WISE, HIVE_TYPE_INT,
         columnReply(TB().field(HIVE_T_STRUCT, 4)
                         .field(HIVE_T_LIST, 1)
                         .i8(HIVE_T_I32)
                         .i32(1)
                         .i32(5)
                         .field(HIVE_T_STRING, 2)
                         .i32(-1)
                         .s,
                     1),
         "saveColumn"},
    };
    for (const Case& c : cases) {
        ReaderRig rig(c.style);
        ASSERT_EQ(0, rig.add(c.type)) << c.name;
        rig.serve(c.reply, 3);
        uint32_t rows = 0;
        ASSERT_EQ(0, rig.begin(&rows)) << c.name;
        EXPECT_EQ(1, rig.readers[0]->readValue()) << c.name;
        ASSERT_GE(rig.diags.size(), 1u) << c.name;
        std::string all;
        for (size_t i = 0; i < rig.diags.size(); ++i)
            all += rig.diags.text(i) + "\n";
        EXPECT_NE(std::string::npos, all.find(c.text)) << c.name << ": " << all;
    }
}

TEST_F(ReaderEdges, AColumnOfAnotherLengthThanTheFirstRefusesTheBlock)
{
    // The first column gives the block two rows; a later column holding
    // fewer or more values cannot be paired with the rows.
    for (int32_t later : {1, 0, 3}) {
        SCOPED_TRACE(later);
        ReaderRig rig(HIVE_RESULT_COLUMN_WISE);
        ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
        ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
        const std::string nulls = TB().field(HIVE_T_STRING, 2).i32(0).stop().stop().s;
        TB strings = TB().field(HIVE_T_STRUCT, 7).field(HIVE_T_LIST, 1).i8(HIVE_T_STRING).i32(later);
        for (int32_t i = 0; i < later; ++i)
            strings.str("a");
        const std::string reply =
            columnReply(TB().field(HIVE_T_STRUCT, 4).field(HIVE_T_LIST, 1).i8(HIVE_T_I32).i32(2).i32(1).i32(2).s +
                            nulls + strings.s + nulls,
                        2);
        rig.serve(reply);
        uint32_t rows = 0;
        ASSERT_EQ(0, rig.begin(&rows));
        ASSERT_EQ(2u, rows);
        ASSERT_EQ(0, rig.readers[0]->readValue());
        EXPECT_EQ(1, rig.readers[1]->readValue());
        ASSERT_EQ(1u, rig.diags.size());
        EXPECT_EQ(MSG_SQLSTATE_LINK_FAILURE, rig.diags.index(0));
        EXPECT_NE(std::string::npos, rig.diags.text(0).find("different numbers of values")) << rig.diags.text(0);
    }
}

// The bytes a sink took.
std::string sinkBytes(KaTmpFileSink* sink)
{
    KaTmpFileSource src;
    if (sink->toSource(&src))
        return "<hand-over failed>";
    std::string got(src.total, '\0');
    uint64_t n = 0;
    int32_t more = 0;
    int rc = src.read(got.data(), got.size(), &n, &more);
    src.release();
    return rc == 0 ? got.substr(0, n) : "<read failed>";
}

TEST_F(ReaderEdges, CacheRecordsHoldTheWireBytesWithTheirLength)
{
    ReaderRig rig(HIVE_RESULT_ROW_WISE);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_SMALLINT));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_DOUBLE));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    rig.serve(
        katest::rowsReply(spec("row", "{\"type\":\"int\",\"values\":[1]},{\"type\":\"string\",\"values\":[\"abc\"]},"
                                      "{\"type\":\"smallint32\",\"values\":[70000]},"
                                      "{\"type\":\"double\",\"values\":[1.5]},{\"type\":\"int\",\"values\":[null]},"
                                      "{\"type\":\"string\",\"values\":[\"\"]}")));
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    KaTmpFileSink sink(4096);
    ASSERT_EQ(0, sink.open());
    for (size_t c = 0; c < rig.readers.size(); ++c)
        ASSERT_EQ(0, static_cast<DataReaderHS2*>(rig.readers[c])->copyToCache(&sink, uint16_t(c))) << c;
    ASSERT_EQ(0, rig.comm.skipByte());
    ASSERT_EQ(0, rig.comm.endReply());
    const std::string want = std::string("\0\0\0\4\0\0\0\1", 8) + std::string("\0\0\0\3abc", 7) +
                             std::string("\0\0\0\4\0\1\x11\x70", 8) +
                             std::string("\0\0\0\x08\x3F\xF8\0\0\0\0\0\0", 12) + std::string("\xFF\xFF\xFF\xFF", 4) +
                             std::string("\0\0\0\0", 4);
    EXPECT_EQ(want, sinkBytes(&sink));
    sink.release();
}

// Row-wise rows 1 to 3 of a block, the rest spooled after row `at`.
void spoolAfter(ReaderRig& rig, uint32_t at, uint32_t rows, HiveNetReadFileBufferHS2* spool,
                std::vector<DataReader*>* twins)
{
    for (uint32_t row = 1; row <= at; ++row) {
        if (row > 1) {
            ASSERT_EQ(0, rig.comm.skipByte());
            ASSERT_EQ(0, rig.comm.nextRow());
        }
        for (DataReader* r : rig.readers)
            ASSERT_EQ(0, r->readValue());
    }
    twins->assign(rig.readers.size(), nullptr);
    HiveSpoolRequest req;
    req.state = &rig.state;
    req.communicator = &rig.comm;
    req.readers = rig.readers.data();
    req.cacheReaders = twins->data();
    req.columnCount = uint16_t(rig.readers.size());
    req.rowsAfterCurrent = rows - at;
    ASSERT_EQ(0, spool->spoolRows(req));
}

TEST_F(ReaderEdges, ASpooledBlockIsReadBackThroughTheCacheTwins)
{
    ReaderRig rig(HIVE_RESULT_ROW_WISE);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_SMALLINT));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_TIMESTAMP));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_BINARY));
    std::string ints, strs, smalls, stamps, bins;
    for (int i = 1; i <= 10; ++i) {
        const char* sep = i > 1 ? "," : "";
        ints += sep + (i == 5 ? std::string("null") : std::to_string(i));
        strs += sep + std::string("\"s") + std::to_string(i) + "\"";
        smalls += sep + std::to_string(i * 10000);
        stamps += sep + std::string("\"2024-01-0") + std::to_string(i % 10) + " 00:00:00.5\"";
        bins += sep + std::string("\"0") + std::to_string(i % 10) + "\"";
    }
    rig.serve(katest::rowsReply(spec(
        "row", "{\"type\":\"int\",\"values\":[" + ints + "]},{\"type\":\"string\",\"values\":[" + strs +
                   "]},{\"type\":\"smallint32\",\"values\":[" + smalls + "]},{\"type\":\"timestamp\",\"values\":[" +
                   stamps + "]},{\"type\":\"binary\",\"values\":[" + bins + "]}")));
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    ASSERT_EQ(10u, rows);
    HiveNetReadFileBufferHS2 spool;
    std::vector<DataReader*> twins;
    spoolAfter(rig, 3, rows, &spool, &twins);
    // The wire is free: the whole reply was consumed.
    EXPECT_EQ(rig.conn.readBuffer.frameEnd, rig.conn.readBuffer.readPos);
    EXPECT_EQ(&spool, rig.state.readBuffer);
    for (size_t c = 0; c < rig.readers.size(); ++c) {
        ASSERT_NE(nullptr, twins[c]);
        std::swap(rig.readers[c], twins[c]);
    }
    for (int row = 4; row <= 10; ++row) {
        for (DataReader* r : rig.readers)
            ASSERT_EQ(0, r->readValue()) << row;
        // Any order, more than once.
        for (size_t c : {4u, 2u, 0u, 3u, 1u, 0u}) {
            std::string want;
            switch (c) {
            case 0: want = row == 5 ? kNullCell : std::to_string(row); break;
            case 1: want = "s" + std::to_string(row); break;
            case 2: want = std::to_string(int16_t(uint16_t(row * 10000))); break;
            case 3: want = "2024-01-0" + std::to_string(row % 10) + " 00:00:00.5"; break;
            default: want = "0" + std::to_string(row % 10); break;
            }
            EXPECT_EQ(want, rig.cell(c)) << "row " << row << " column " << c;
        }
    }
    for (DataReader* t : twins)
        delete t;
    EXPECT_EQ(0u, rig.diags.size());
}

TEST_F(ReaderEdges, WithoutTheLongDataCacheValuesStreamFromTheReplyInPlace)
{
    ReaderRig rig(HIVE_RESULT_ROW_WISE, 0);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    std::string big;
    for (int i = 0; i < 12000; ++i)
        big.push_back(char('A' + i % 23));
    rig.serve(katest::rowsReply(spec("row", "{\"type\":\"string\",\"values\":[\"" + big + "\",\"" + big +
                                                "\",\"\"]},"
                                                "{\"type\":\"int\",\"values\":[1,2,3]},"
                                                "{\"type\":\"string\",\"values\":[\"123\",null,\"z\"]}")),
              5120);
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    auto* first = static_cast<StreamDataReaderHS2*>(rig.readers[0]);
    auto* third = static_cast<StreamDataReaderHS2*>(rig.readers[2]);
    // Row 1: the whole value in pieces that end at the buffer's frame ends.
    ASSERT_EQ(0, first->readValue());
    KaDataSource* src = nullptr;
    int32_t isNull = 0;
    KaDataConverter* conv = nullptr;
    {
        // The source by itself: nextBlock hands out the buffer in place.
        ASSERT_EQ(0, rig.readers[0]->getDataInPieces(nullptr, SQL_C_BINARY, &isNull, &conv));
        src = conv->source;
        ASSERT_EQ(KA_STREAM_NETWORK, src->kind);
        std::string got;
        int32_t more = 1;
        int blocks = 0;
        while (more) {
            const uint8_t* p = nullptr;
            uint64_t n = 0;
            ASSERT_EQ(0, src->nextBlock(&p, &n, &more));
            got.append(reinterpret_cast<const char*>(p), n);
            ++blocks;
        }
        EXPECT_EQ(big, got);
        EXPECT_GE(blocks, 3);
        EXPECT_EQ(65536u, static_cast<HiveNetSourceHS2*>(src)->blockSize);
    }
    ASSERT_EQ(0, first->finishPendingValue());
    ASSERT_EQ(0, rig.readers[1]->readValue());
    EXPECT_EQ("1", rig.cell(1));
    ASSERT_EQ(0, third->readValue());
    // Converted whole to a number from the reply.
    int32_t v = 0;
    int64_t len = 0;
    BaseOutString out(&v, int64_t(sizeof v), &len, nullptr);
    ASSERT_EQ(0, rig.readers[2]->getData(&out, SQL_C_SLONG));
    EXPECT_EQ(123, v);
    ASSERT_EQ(0, third->finishPendingValue());
    ASSERT_EQ(0, rig.comm.skipByte());
    // Row 2: 1,000 of the 12,000 bytes read, the rest passed.
    ASSERT_EQ(0, rig.comm.nextRow());
    ASSERT_EQ(0, first->readValue());
    ASSERT_EQ(0, rig.readers[0]->getDataInPieces(nullptr, SQL_C_BINARY, &isNull, &conv));
    char part[1000];
    uint64_t n = 0;
    int32_t more = 0;
    ASSERT_EQ(0, conv->source->read(part, sizeof part, &n, &more));
    EXPECT_EQ(1000u, n);
    EXPECT_EQ(1, more);
    EXPECT_EQ(big.substr(0, 1000), std::string(part, n));
    // Read once only: a second start is refused.
    EXPECT_EQ(1, rig.readers[0]->getDataInPieces(nullptr, SQL_C_BINARY, &isNull, &conv));
    ASSERT_EQ(0, first->finishPendingValue());
    ASSERT_EQ(0, rig.readers[1]->readValue());
    EXPECT_EQ("2", rig.cell(1));
    ASSERT_EQ(0, third->readValue());
    EXPECT_EQ(kNullCell, rig.cell(2));
    ASSERT_EQ(0, rig.comm.skipByte());
    // Row 3: an empty value is done at once.
    ASSERT_EQ(0, rig.comm.nextRow());
    ASSERT_EQ(0, first->readValue());
    EXPECT_EQ("", rig.cell(0));
    ASSERT_EQ(0, first->finishPendingValue());
    ASSERT_EQ(0, rig.readers[1]->readValue());
    ASSERT_EQ(0, third->readValue());
    EXPECT_EQ("z", rig.cell(2));
    ASSERT_EQ(0, third->finishPendingValue());
    ASSERT_EQ(0, rig.comm.skipByte());
    ASSERT_EQ(0, rig.comm.endReply());
    EXPECT_EQ(1u, rig.diags.size());
}

TEST_F(ReaderEdges, AnEmptyColumnWiseBlockIsConsumedByTheReplyReader)
{
    ReaderRig rig(HIVE_RESULT_COLUMN_WISE);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    rig.serve(katest::rowsReply(spec("column", "{\"type\":\"int\",\"values\":[]},"
                                               "{\"type\":\"string\",\"values\":[]}")));
    uint32_t rows = 9;
    ASSERT_EQ(0, rig.begin(&rows));
    EXPECT_EQ(0u, rows);
    // Nothing is left for the readers: the whole reply has been read.
    EXPECT_EQ(0, rig.comm.blockColumnCount);
    EXPECT_EQ(rig.conn.readBuffer.frameEnd, rig.conn.readBuffer.readPos);
    EXPECT_EQ(0u, rig.diags.size());
}

TEST_F(ReaderEdges, ARowWiseTimestampCutToItsBufferWarnsAndReportsItsLength)
{
    ReaderRig rig(HIVE_RESULT_ROW_WISE);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_TIMESTAMP));
    rig.serve(katest::rowsReply(spec("row", "{\"type\":\"timestamp\",\"values\":["
                                            "\"2024-02-29 12:34:56.123456789\"]}")));
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    ASSERT_EQ(0, rig.readers[0]->readValue());
    katest::Guarded<uint8_t> room(10);
    int64_t ind = 0;
    BaseOutString out(room.data(), int64_t(room.size()), &ind, nullptr);
    ASSERT_EQ(0, rig.readers[0]->getData(&out, SQL_C_CHAR));
    EXPECT_TRUE(room.guardsIntact());
    EXPECT_EQ("2024-02-2", std::string(reinterpret_cast<char*>(room.data())));
    EXPECT_EQ(29, ind);
    ASSERT_EQ(1u, rig.diags.size());
    EXPECT_TRUE(rig.diags.warning(0));
    EXPECT_EQ(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED, rig.diags.index(0));
}

TEST_F(ReaderEdges, WithoutTheLongDataCacheTheRestOfTheCurrentRowIsSpooledToo)
{
    ReaderRig rig(HIVE_RESULT_ROW_WISE, 0);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_INT));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_BINARY));
    rig.serve(katest::rowsReply(spec("row", "{\"type\":\"string\",\"values\":[\"a1\",\"a2\",null]},"
                                            "{\"type\":\"int\",\"values\":[1,2,3]},"
                                            "{\"type\":\"binary\",\"values\":[\"01\",\"\",\"0303\"]}")));
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    // The application read the first column of row 1 and moved on.
    ASSERT_EQ(0, rig.readers[0]->readValue());
    EXPECT_EQ("a1", rig.cell(0));
    std::vector<DataReader*> twins(3, nullptr);
    HiveNetReadFileBufferHS2 spool;
    HiveSpoolRequest req;
    req.state = &rig.state;
    req.communicator = &rig.comm;
    req.readers = rig.readers.data();
    req.cacheReaders = twins.data();
    req.columnCount = 3;
    req.columnPosition = 1;
    req.rowsAfterCurrent = 2;
    ASSERT_EQ(0, spool.spoolRows(req));
    EXPECT_EQ(rig.conn.readBuffer.frameEnd, rig.conn.readBuffer.readPos);
    for (size_t c = 0; c < 3; ++c)
        std::swap(rig.readers[c], twins[c]);
    const char* want[3][3] = {{"a1", "1", "01"}, {"a2", "2", ""}, {kNullCell, "3", "0303"}};
    for (size_t row = 0; row < 3; ++row) {
        for (size_t c = row == 0 ? 1 : 0; c < 3; ++c) {
            ASSERT_EQ(0, rig.readers[c]->readValue()) << row << " " << c;
            EXPECT_EQ(want[row][c], rig.cell(c)) << row << " " << c;
            if (c != 1) {
                ASSERT_EQ(0, static_cast<StreamDataReaderHS2*>(rig.readers[c])->finishPendingValue());
            }
        }
    }
    for (DataReader* t : twins)
        delete t;
    EXPECT_EQ(0u, rig.diags.size());
}

TEST_F(ReaderEdges, RowWiseValuesPassedOverLeaveTheReplyOnTheNextRow)
{
    ReaderRig rig(HIVE_RESULT_ROW_WISE);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_STRING));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_TINYINT));
    ASSERT_EQ(0, rig.add(HIVE_TYPE_DECIMAL, 10, 2));
    rig.serve(katest::rowsReply(spec("row", "{\"type\":\"string\",\"values\":[\"skipped\",null]},"
                                            "{\"type\":\"tinyint\",\"values\":[null,-7]},"
                                            "{\"type\":\"decimal\",\"values\":[\"1.00\",\"2.50\"]}")));
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    for (DataReader* r : rig.readers)
        ASSERT_EQ(0, r->skipValue());
    ASSERT_EQ(0, rig.comm.skipByte());
    ASSERT_EQ(0, rig.comm.nextRow());
    for (DataReader* r : rig.readers)
        ASSERT_EQ(0, r->readValue());
    EXPECT_EQ(kNullCell, rig.cell(0));
    EXPECT_EQ("-7", rig.cell(1));
    EXPECT_EQ("2.50", rig.cell(2));
    // The same value twice gives the same text.
    EXPECT_EQ("2.50", rig.cell(2));
    ASSERT_EQ(0, rig.comm.skipByte());
    ASSERT_EQ(0, rig.comm.endReply());
    EXPECT_EQ(0u, rig.diags.size());
}

TEST_F(ReaderEdges, ATinyintOfAnotherTypeNamesTheProtocolAndTheData)
{
    ReaderRig rig(HIVE_RESULT_ROW_WISE);
    ASSERT_EQ(0, rig.add(HIVE_TYPE_TINYINT));
    rig.serve(rowReply(TB().field(HIVE_T_STRUCT, 2).field(HIVE_T_I32, 1).i32(5).stop().stop().s));
    uint32_t rows = 0;
    ASSERT_EQ(0, rig.begin(&rows));
    EXPECT_EQ(1, rig.readers[0]->readValue());
    ASSERT_EQ(2u, rig.diags.size());
    EXPECT_NE(std::string::npos, rig.diags.text(0).find("Protocol processing error.")) << rig.diags.text(0);
    EXPECT_NE(std::string::npos, rig.diags.text(1).find("Unexpected field data")) << rig.diags.text(1);
}

INSTANTIATE_TEST_SUITE_P(BothStyles, Readers, ::testing::Values(HIVE_RESULT_ROW_WISE, HIVE_RESULT_COLUMN_WISE),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return std::string(styleName(info.param)) + "Wise";
                         });

}  // namespace
