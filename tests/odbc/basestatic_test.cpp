// The emulated static cursor: the result is read once at execution into the
// row cache, and every later positioning and column read is answered from
// there. The scripted driver statement refuses to position, so a scroll that
// reached the driver would fail.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>
#include <vector>

#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basestatic.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/guarded.h"
#include "support/stmtfixture.h"

namespace {

using katest::TestColumn;
using katest::TestResult;
using katest::TestValue;
using katest::W;

// A forward-only driver: it can only step on; counting its reads shows
// that scrolling never goes back to it.
class ForwardOnlyStatement : public katest::TestStatement {
public:
    using TestStatement::TestStatement;
    int positionCalls = 0;
    int failAtRow = 0;  // fetchRow fails when it would make this row current
    int16_t positionRow(int64_t, uint16_t*, bool) noexcept override
    {
        ++positionCalls;
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    int16_t fetchRow(int16_t* noMoreRows) noexcept override
    {
        if (failAtRow != 0 && cursor + 1 == failAtRow) {
            basePostErrorTextA(kBaseIdxGeneralError, 0, "the link broke", 3);
            return 1;
        }
        return TestStatement::fetchRow(noMoreRows);
    }
};

class StaticCursor : public katest::StmtFixture {
protected:
    void SetUp() override
    {
        StmtFixture::SetUp();
        if (HasFatalFailure())
            return;
        // What the connect settles for a driver without static cursors.
        conn->staticCursorOps = 0xC00000;
        scroll = make<ForwardOnlyStatement>();
        ASSERT_NE(scroll, nullptr);
        ASSERT_EQ(scroll->setStmtAttr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(SQL_CURSOR_STATIC), 0),
                  SQL_SUCCESS);
    }

    int16_t open(const char16_t* sql) { return scroll->execDirect(W(sql), SQL_NTS); }

    template <typename T>
    T cell(KaTmpFile& file, uint64_t x)
    {
        T v{};
        EXPECT_EQ(file.read(x * sizeof(T), &v, sizeof v), 0);
        return v;
    }

    bool posted(uint16_t index, uint32_t native = 0)
    {
        for (size_t i = 0; i < scroll->diagnostics.recordCount(); ++i) {
            const KaError* e = scroll->diagnostics.recordAt(i);
            if (e->sqlstateMsg == index && (native == 0 || e->nativeCode == native))
                return true;
        }
        return false;
    }

    // Column `column` of the current row as the bytes of cType, "NULL" for
    // NULL.
    static std::string read(BaseStatement* s, uint16_t column, int16_t cType = SQL_C_CHAR)
    {
        katest::Guarded<uint8_t> buf(256);
        SQLLEN ind = 0;
        const int16_t rc = s->getData(column, cType, buf.data(), static_cast<int64_t>(buf.bytes()), &ind);
        EXPECT_TRUE(rc == SQL_SUCCESS) << "column " << column << " rc " << rc;
        EXPECT_TRUE(buf.guardsIntact());
        if (ind == SQL_NULL_DATA)
            return "NULL";
        return buf.str(static_cast<size_t>(ind));
    }

    ForwardOnlyStatement* scroll = nullptr;
};

TEST_F(StaticCursor, TheConnectOffersTheEmulatedStaticCursor)
{
    // The test driver answers no cursor attributes of its own: the static
    // word is the framework's, and a static request is not downgraded.
    conn->staticCursorOps = 0;
    conn->staticCursorEmulation = 1;
    ASSERT_EQ(conn->readServerInfo(), 0);
    EXPECT_NE(conn->staticCursorOps & 0x800000, 0u);
    EXPECT_EQ(conn->keysetCursorOps, 0u);
    BaseStatement* s = nullptr;
    ASSERT_EQ(conn->createStatement(&s), 0);
    EXPECT_EQ(s->setStmtAttr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
    int64_t type = 0;
    ASSERT_EQ(s->getStmtAttr(SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(type, SQL_CURSOR_STATIC);
    EXPECT_EQ(s->freeStmt(SQL_DROP), SQL_SUCCESS);
    // SQLGetInfo says so too: static scrolling in every direction.
    auto info = [this](uint16_t type) {
        uint32_t v = 0;
        int16_t n = 0;
        EXPECT_EQ(conn->getInfoValue(type, &v, sizeof v, &n), SQL_SUCCESS) << type;
        return v;
    };
    EXPECT_NE(info(SQL_SCROLL_OPTIONS) & SQL_SO_STATIC, 0u);
    const uint32_t scrolls = SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE | SQL_CA1_BOOKMARK;
    EXPECT_EQ(info(SQL_STATIC_CURSOR_ATTRIBUTES1) & scrolls, scrolls);
    const uint32_t directions = SQL_FD_FETCH_NEXT | SQL_FD_FETCH_FIRST | SQL_FD_FETCH_LAST | SQL_FD_FETCH_PRIOR |
                                SQL_FD_FETCH_ABSOLUTE | SQL_FD_FETCH_RELATIVE | SQL_FD_FETCH_BOOKMARK;
    EXPECT_EQ(info(SQL_FETCH_DIRECTION) & directions, directions);
}

TEST_F(StaticCursor, OrientationsAreAnsweredFromTheCache)
{
    struct Step {
        int16_t orientation;
        int64_t offset;
        int16_t rc;
        int32_t id;  // 0: no data
    };
    const Step steps[] = {
        {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3},      {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3},     {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 2},
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 1},     {SQL_FETCH_PRIOR, 0, SQL_NO_DATA, 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 1},      {SQL_FETCH_RELATIVE, 2, SQL_SUCCESS, 3},
        {SQL_FETCH_RELATIVE, -1, SQL_SUCCESS, 2}, {SQL_FETCH_ABSOLUTE, -1, SQL_SUCCESS, 3},
        {SQL_FETCH_ABSOLUTE, -3, SQL_SUCCESS, 1}, {SQL_FETCH_ABSOLUTE, 4, SQL_NO_DATA, 0},
        {SQL_FETCH_ABSOLUTE, -4, SQL_NO_DATA, 0}, {SQL_FETCH_ABSOLUTE, 2, SQL_SUCCESS, 2},
    };
    ASSERT_EQ(open(u"select rows 3"), SQL_SUCCESS);
    const int readsAtExecute = scroll->fetchRowCalls;
    EXPECT_EQ(readsAtExecute, 4);  // three rows and the end
    EXPECT_EQ(scroll->rowCache->rowCount, 3);
    int32_t id = 0;
    ASSERT_EQ(scroll->bindCol(1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.orientation << " " << s.offset);
        id = 0;
        EXPECT_EQ(scroll->fetchScroll(s.orientation, s.offset), s.rc);
        EXPECT_EQ(id, s.id);
        if (s.id != 0) {
            EXPECT_EQ(read(scroll, 2), "name-" + std::to_string(s.id));
        }
    }
    uint16_t status = SQL_ROW_SUCCESS;
    EXPECT_EQ(scroll->cachedRowStatus(4, &status, false), 0);
    EXPECT_EQ(status, SQL_ROW_NOROW);
    EXPECT_EQ(scroll->fetchRowCalls, readsAtExecute);
    EXPECT_EQ(scroll->positionCalls, 0);
}

TEST_F(StaticCursor, TheExecutionCountsTheCachedRowsWhereTheCursorReportsItsCount)
{
    for (uint64_t exact : {uint64_t{0}, uint64_t{0x200}}) {
        SCOPED_TRACE(exact);
        conn->staticCursorOps = 0xC00000 | exact;
        ASSERT_EQ(open(u"select rows 5"), SQL_SUCCESS);
        int64_t rows = -2;
        int16_t length = 0;
        ASSERT_EQ(scroll->diagnostics.getDiagField(0, SQL_DIAG_CURSOR_ROW_COUNT, &rows, 8, &length), SQL_SUCCESS);
        EXPECT_EQ(rows, exact != 0 ? 5 : 0);
        ASSERT_EQ(scroll->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    }
}

TEST_F(StaticCursor, BookmarksAreRowNumbers)
{
    ASSERT_EQ(scroll->setStmtAttr(SQL_ATTR_USE_BOOKMARKS, reinterpret_cast<void*>(SQL_UB_VARIABLE), 0), SQL_SUCCESS);
    ASSERT_EQ(open(u"select rows 5"), SQL_SUCCESS);
    int64_t bookmark = 4;
    ASSERT_EQ(scroll->setStmtAttr(SQL_ATTR_FETCH_BOOKMARK_PTR, &bookmark, 0), SQL_SUCCESS);
    ASSERT_EQ(scroll->fetchScroll(SQL_FETCH_BOOKMARK, -2), SQL_SUCCESS);
    EXPECT_EQ(read(scroll, 2), "name-2");
    ASSERT_EQ(scroll->fetchScroll(SQL_FETCH_BOOKMARK, 1), SQL_SUCCESS);
    EXPECT_EQ(read(scroll, 2), "name-5");
    EXPECT_EQ(scroll->fetchScroll(SQL_FETCH_BOOKMARK, 2), SQL_NO_DATA);
}

TEST_F(StaticCursor, EveryValueReadsAsTheForwardOnlyCursorGivesIt)
{
    // Integer, UTF-8 text, wide text, bytes and NULLs, row by row backwards.
    ASSERT_EQ(run(u"select rows 6"), SQL_SUCCESS);
    std::vector<std::vector<std::string>> expected;
    while (stmt->fetch() == SQL_SUCCESS) {
        expected.emplace_back();
        for (uint16_t c = 1; c <= 5; ++c)
            expected.back().push_back(read(stmt, c, SQL_C_DEFAULT));
    }
    ASSERT_EQ(expected.size(), 6u);
    ASSERT_EQ(open(u"select rows 6"), SQL_SUCCESS);
    for (int64_t r = 6; r >= 1; --r) {
        SCOPED_TRACE(r);
        ASSERT_EQ(scroll->fetchScroll(SQL_FETCH_ABSOLUTE, r), SQL_SUCCESS);
        // Any column order: the cache has them all.
        for (uint16_t c = 5; c >= 1; --c)
            EXPECT_EQ(read(scroll, c, SQL_C_DEFAULT), expected[static_cast<size_t>(r - 1)][c - 1]) << "column " << c;
    }
}

TEST_F(StaticCursor, ARowArrayIsFilledFromTheCache)
{
    ASSERT_EQ(open(u"select rows 7"), SQL_SUCCESS);
    int32_t ids[4] = {};
    SQLLEN noteInd[4] = {};
    char notes[4][8] = {};
    katest::Guarded<SQLUSMALLINT> statuses(4, 0x5A5A);
    SQLULEN fetched = 0;
    ASSERT_EQ(scroll->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(4), 0), SQL_SUCCESS);
    ASSERT_EQ(scroll->setStmtAttr(SQL_ATTR_ROW_STATUS_PTR, statuses.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(scroll->setStmtAttr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(scroll->bindCol(1, SQL_C_LONG, ids, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(scroll->bindCol(5, SQL_C_CHAR, notes, 8, noteInd), SQL_SUCCESS);
    ASSERT_EQ(scroll->fetchScroll(SQL_FETCH_ABSOLUTE, 5), SQL_SUCCESS);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(ids[0], 5);
    EXPECT_EQ(ids[2], 7);
    EXPECT_STREQ(notes[0], "odd");
    EXPECT_EQ(noteInd[1], SQL_NULL_DATA);
    const SQLUSMALLINT want[4] = {SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_NOROW};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(statuses.data()[i], want[i]) << i;
    EXPECT_TRUE(statuses.guardsIntact());
    EXPECT_EQ(scroll->positionCalls, 0);
}

TEST_F(StaticCursor, ANullCellTakesNoDataBytes)
{
    // Column 5 is NULL in even rows: the cell after it starts where the
    // last value before it ended.
    ASSERT_EQ(open(u"select rows 2"), SQL_SUCCESS);
    BaseRowCache& cache = *scroll->rowCache;
    const uint64_t nullCell = 1 * 5 + 4;  // row 2, column 5
    const uint64_t before = nullCell - 1;
    EXPECT_EQ(cell<int64_t>(cache.lengths, nullCell), -1);
    const auto prevLength = cell<int64_t>(cache.lengths, before);
    const auto prevOffset = cell<uint64_t>(cache.offsets, before);
    ASSERT_GT(prevLength, 0);
    EXPECT_EQ(cell<uint64_t>(cache.offsets, nullCell), prevOffset + static_cast<uint64_t>(prevLength));
    EXPECT_EQ(cache.data.end, prevOffset + static_cast<uint64_t>(prevLength));
    EXPECT_EQ(cell<uint8_t>(cache.truncations, nullCell), 0);
}

TEST_F(StaticCursor, AValueBeyondTheLimitIsCutAndSaysSoWhenRead)
{
    conn->staticCursorLongColBuffLen = 4096;
    const std::string value(10000, 'q');
    scroll->resolve = [&value](const std::u16string&, TestResult* out) {
        *out = TestResult{};
        out->columns = {{u"text", SQL_LONGVARCHAR, 20000, 0, 0, SQL_NULLABLE}};
        out->rows = {{TestValue::text(value)}, {TestValue::text("short")}};
        return true;
    };
    ASSERT_EQ(open(u"long"), SQL_SUCCESS);
    EXPECT_EQ(cell<int64_t>(scroll->rowCache->lengths, 0), 4096);
    EXPECT_EQ(cell<uint8_t>(scroll->rowCache->truncations, 0), 1);
    EXPECT_EQ(cell<uint8_t>(scroll->rowCache->truncations, 1), 0);

    ASSERT_EQ(scroll->fetchScroll(SQL_FETCH_FIRST, 0), SQL_SUCCESS);
    katest::Guarded<uint8_t> buf(12000);
    SQLLEN ind = 0;
    EXPECT_EQ(scroll->getData(1, SQL_C_CHAR, buf.data(), static_cast<int64_t>(buf.bytes()), &ind),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(ind, 4096);
    EXPECT_EQ(buf.str(4097), std::string(4096, 'q') + '\0');
    EXPECT_TRUE(posted(kBaseIdxTruncated, MSG_VALUE_CUT_AT_SOURCE));
    EXPECT_TRUE(buf.guardsIntact());
    // The cut value is over: nothing more follows.
    EXPECT_EQ(scroll->getData(1, SQL_C_CHAR, buf.data(), static_cast<int64_t>(buf.bytes()), &ind), SQL_NO_DATA);

    // Read in pieces, the pieces make up the cached bytes.
    ASSERT_EQ(scroll->fetchScroll(SQL_FETCH_FIRST, 0), SQL_SUCCESS);
    std::string whole;
    for (int i = 0; i < 10; ++i) {
        katest::Guarded<uint8_t> piece(1001);
        const int16_t rc = scroll->getData(1, SQL_C_CHAR, piece.data(), 1001, &ind);
        ASSERT_TRUE(piece.guardsIntact());
        if (rc == SQL_NO_DATA)
            break;
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        const size_t got = ind == SQL_NO_TOTAL || ind > 1000 ? 1000 : static_cast<size_t>(ind);
        whole += piece.str(got);
    }
    EXPECT_EQ(whole, std::string(4096, 'q'));

    ASSERT_EQ(scroll->fetchScroll(SQL_FETCH_NEXT, 0), SQL_SUCCESS);
    EXPECT_EQ(read(scroll, 1), "short");
}

TEST_F(StaticCursor, AnEmptyResultHasNoRowAnywhere)
{
    scroll->resolve = [](const std::u16string&, TestResult* out) {
        *out = TestResult{};
        out->columns = {{u"id", SQL_INTEGER, 0, 10, 0, SQL_NULLABLE}};
        return true;
    };
    ASSERT_EQ(open(u"nothing"), SQL_SUCCESS);
    EXPECT_EQ(scroll->rowCache->rowCount, 0);
    for (int16_t o : {SQL_FETCH_FIRST, SQL_FETCH_LAST, SQL_FETCH_NEXT, SQL_FETCH_PRIOR}) {
        SCOPED_TRACE(o);
        EXPECT_EQ(scroll->fetchScroll(o, 0), SQL_NO_DATA);
    }
    EXPECT_EQ(scroll->fetchScroll(SQL_FETCH_ABSOLUTE, 1), SQL_NO_DATA);
    for (int64_t row : {0, 1, 2}) {
        uint16_t status = SQL_ROW_SUCCESS;
        EXPECT_EQ(scroll->cachedRowStatus(row, &status, false), 0);
        EXPECT_EQ(status, SQL_ROW_NOROW) << row;
    }
}

TEST_F(StaticCursor, AFailingReadFailsTheExecutionAndAReexecutionStartsAfresh)
{
    scroll->failAtRow = 3;
    EXPECT_EQ(open(u"select rows 5"), SQL_ERROR);
    EXPECT_TRUE(posted(kBaseIdxGeneralError));
    EXPECT_EQ(scroll->rowCache->rowCount, 0);
    scroll->failAtRow = 0;
    if (scroll->statementState == kBaseStmtCursorOpen) {
        ASSERT_EQ(scroll->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    }
    ASSERT_EQ(open(u"select rows 2"), SQL_SUCCESS);
    EXPECT_EQ(scroll->rowCache->rowCount, 2);
    ASSERT_EQ(scroll->fetchScroll(SQL_FETCH_LAST, 0), SQL_SUCCESS);
    EXPECT_EQ(read(scroll, 2), "name-2");
    // Closing gives the files back.
    ASSERT_EQ(scroll->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(scroll->rowCache->rowCount, 0);
    EXPECT_EQ(scroll->rowCache->data.path, nullptr);
    EXPECT_EQ(scroll->rowCache->data.pageMemory, nullptr);
}

TEST_F(StaticCursor, AResultBeyondThePageCachesSpillsToDiskAndReadsBack)
{
    // Five cells of some twenty bytes a row: the data file alone outgrows
    // its 32768-byte page cache many times over.
    ASSERT_EQ(open(u"select rows 4000"), SQL_SUCCESS);
    BaseRowCache& cache = *scroll->rowCache;
    EXPECT_EQ(cache.rowCount, 4000);
    EXPECT_NE(cache.data.path, nullptr);
    EXPECT_NE(cache.lengths.path, nullptr);
    for (int64_t r : {1, 4000, 2, 3999, 2048, 17}) {
        SCOPED_TRACE(r);
        ASSERT_EQ(scroll->fetchScroll(SQL_FETCH_ABSOLUTE, r), SQL_SUCCESS);
        EXPECT_EQ(read(scroll, 2), "name-" + std::to_string(r));
        EXPECT_EQ(read(scroll, 5), r % 2 == 0 ? "NULL" : "odd");
    }
}

TEST_F(StaticCursor, AForwardOnlyCursorIsNotCached)
{
    ForwardOnlyStatement* plain = make<ForwardOnlyStatement>();
    ASSERT_NE(plain, nullptr);
    ASSERT_EQ(plain->execDirect(W(u"select rows 3"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(plain->fetchRowCalls, 0);
    EXPECT_EQ(plain->rowCache, nullptr);
    ASSERT_EQ(plain->fetch(), SQL_SUCCESS);
    EXPECT_EQ(read(plain, 2), "name-1");
}

}  // namespace
