// SQLGetData's streamed values: a driver that streams long columns hands the
// framework a converter from the statement's pools, and the framework pumps
// it piece after piece through the column's cached memory sink and its
// stage. The pieces equal the value read whole, each cut piece fills its
// buffer and tells what is left (spooled first when the converter cannot
// know), NULL stays NULL, and every object goes back to the pool the
// threading model names.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <vector>

#include "convert/datacvt.h"
#include "odbc/baseconn.h"
#include "odbc/basestmt.h"
#include "platform/kastream.h"
#include "support/stmtfixture.h"
#include "support/u16.h"

namespace {

using katest::W;

class StreamedValues : public katest::StmtFixture {
protected:
    // Column c of the only row of "select long N", read whole (not
    // streamed) into one buffer large enough.
    std::string whole(const char16_t* sql, uint16_t c, int16_t cType)
    {
        conn->streamLongColumns = false;
        stmt->streamValues = false;
        EXPECT_EQ(SQL_SUCCESS, stmt->execDirect(W(sql), SQL_NTS));
        EXPECT_EQ(SQL_SUCCESS, stmt->fetch());
        std::vector<char> buf(1 << 20);
        SQLLEN ind = 0;
        EXPECT_EQ(SQL_SUCCESS, stmt->getData(c, cType, buf.data(), static_cast<int64_t>(buf.size()), &ind));
        EXPECT_EQ(SQL_SUCCESS, stmt->closeCursor());
        return std::string(buf.data(), ind > 0 ? static_cast<size_t>(ind) : 0);
    }

    // The same column streamed in pieces of `piece` bytes; every cut piece's
    // length is checked against what is left (-1: SQL_NO_TOTAL allowed).
    std::string pieces(const char16_t* sql, uint16_t c, int16_t cType, int64_t piece, const std::string& expected)
    {
        conn->streamLongColumns = true;
        stmt->streamValues = true;
        EXPECT_EQ(SQL_SUCCESS, stmt->execDirect(W(sql), SQL_NTS));
        EXPECT_EQ(SQL_SUCCESS, stmt->fetch());
        const int64_t terminator = cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? 2 : 0;
        const int64_t unit = cType == SQL_C_WCHAR ? 2 : 1;
        const int64_t room = piece > terminator ? (piece - terminator) / unit * unit : 0;
        std::string got;
        std::vector<char> buf(static_cast<size_t>(piece) + 4, 'G');
        for (int n = 0; n < 1000000; ++n) {
            SQLLEN ind = 0;
            const int16_t rc = stmt->getData(c, cType, buf.data(), piece, &ind);
            for (size_t g = static_cast<size_t>(piece); g < buf.size(); ++g)
                EXPECT_EQ('G', buf[g]) << "past the buffer";
            if (rc == SQL_NO_DATA)
                break;
            EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
            if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
                break;
            const bool cut = rc == SQL_SUCCESS_WITH_INFO;
            // Bytes, and text spooled ahead, know what is left; text being
            // converted may not.
            if (conn->longDataMode == 2 || cType == SQL_C_BINARY || ind != SQL_NO_TOTAL) {
                EXPECT_EQ(static_cast<SQLLEN>(expected.size() - got.size()), ind);
            } else {
                EXPECT_TRUE(cut);
            }
            got.append(buf.data(), static_cast<size_t>(cut ? room : ind));
            if (!cut)
                break;
        }
        EXPECT_EQ(1, stmt->streamedValues) << "one converter for the whole value";
        stmt->streamedValues = 0;
        return got;
    }
};

}  // namespace

TEST_F(StreamedValues, PiecesPutTogetherEqualTheValueReadWhole)
{
    struct Case {
        uint16_t column;
        int16_t cType;
        int64_t piece;
        int32_t longDataMode;
    } cases[] = {
        // Narrow text from UTF-8 is copied: its length is known.
        {1, SQL_C_CHAR, 7, 0},
        {1, SQL_C_CHAR, 2, 0},
        // Wide text: unknown until spooled.
        {1, SQL_C_WCHAR, 11, 0},
        {1, SQL_C_WCHAR, 11, 2},
        {1, SQL_C_WCHAR, 5, 2},
        // Bytes, and bytes as hexadecimal text.
        {2, SQL_C_BINARY, 13, 0},
        {2, SQL_C_CHAR, 6, 0},
        // Pieces larger than the stage.
        {1, SQL_C_WCHAR, 100001, 2},
        {2, SQL_C_BINARY, 70000, 0},
    };
    const struct {
        const char16_t* sql;
        const char* name;
    } values[] = {{u"select long 1", "1 character"},
                  {u"select long 5000", "5000 characters"},
                  {u"select long 150000", "150000 characters"}};
    for (const auto& [sql, name] : values) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << name << ", column " << c.column << " type " << c.cType << " piece "
                                            << c.piece << " mode " << c.longDataMode);
            conn->longDataMode = 0;
            const std::string expected = whole(sql, c.column, c.cType);
            conn->longDataMode = c.longDataMode;
            const std::string got = pieces(sql, c.column, c.cType, c.piece, expected);
            EXPECT_EQ(expected.size(), got.size());
            EXPECT_TRUE(expected == got) << "the pieces differ from the value";
            EXPECT_EQ(SQL_SUCCESS, stmt->closeCursor());
        }
    }
}

TEST_F(StreamedValues, TheStreamsPartsGoBackToThePoolsOfTheThreadingModel)
{
    for (int32_t model : {kBaseThreadSafe, kBaseThreadPerConnection}) {
        SCOPED_TRACE(model);
        conn->threadModel = model;
        conn->longDataMode = 2;
        stmt->emptyPools();
        conn->emptyObjectPools();
        const std::string expected = whole(u"select long 3000", 1, SQL_C_WCHAR);
        const std::string got = pieces(u"select long 3000", 1, SQL_C_WCHAR, 101, expected);
        EXPECT_TRUE(expected == got);
        // Closing the cursor gives the converter back with its source, and
        // the spool's sink and source; the memory sink stays with the column.
        EXPECT_EQ(SQL_SUCCESS, stmt->closeCursor());
        EXPECT_EQ(nullptr, stmt->getDataConverter);
        const bool shared = model != kBaseThreadSafe;
        const uint64_t converters = shared ? conn->converterCount[KA_CVT_CHAR] : stmt->converterCounts[KA_CVT_CHAR];
        const uint64_t tmpSinks = shared ? conn->sinkCount[KA_STREAM_TMPFILE] : stmt->sinkCounts[KA_STREAM_TMPFILE];
        const uint64_t tmpSources =
            shared ? conn->sourceCount[KA_STREAM_TMPFILE] : stmt->sourceCounts[KA_STREAM_TMPFILE];
        EXPECT_EQ(1u, converters);
        EXPECT_EQ(1u, tmpSinks);
        EXPECT_EQ(1u, tmpSources);
        // A second value takes them again instead of making new ones.
        (void)pieces(u"select long 3000", 1, SQL_C_WCHAR, 101, expected);
        EXPECT_EQ(SQL_SUCCESS, stmt->closeCursor());
        EXPECT_EQ(1u, shared ? conn->converterCount[KA_CVT_CHAR] : stmt->converterCounts[KA_CVT_CHAR]);
    }
}

TEST_F(StreamedValues, ANullValueIsNullWithoutAConverter)
{
    conn->streamLongColumns = true;
    stmt->streamValues = true;
    ASSERT_EQ(SQL_SUCCESS, stmt->execDirect(W(u"select rows 2"), SQL_NTS));
    ASSERT_EQ(SQL_SUCCESS, stmt->fetch());
    ASSERT_EQ(SQL_SUCCESS, stmt->fetch());
    // Column 5 is NULL in even rows; VARCHAR streams with the character
    // columns only.
    conn->streamCharColumns = true;
    char buf[8] = "xxxxxxx";
    SQLLEN ind = 0;
    EXPECT_EQ(SQL_SUCCESS, stmt->getData(5, SQL_C_CHAR, buf, sizeof buf, &ind));
    EXPECT_EQ(SQL_NULL_DATA, ind);
    EXPECT_EQ(nullptr, stmt->getDataConverter);
    EXPECT_EQ(1, stmt->streamedValues);
    conn->streamCharColumns = false;
}
