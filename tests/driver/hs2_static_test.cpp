// The emulated static cursor through unixODBC against the bundled
// HiveServer2 test server, in both result layouts: a result far larger than
// the cache's page memory is scrolled in every direction and each row read
// is compared with what a forward-only cursor read of the same query; long
// values are cut at the connection's cache limit and say so.
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"
#include "support/hs2suite.h"

namespace {

using katest::diagText;

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

using Row = std::vector<std::optional<std::string>>;

// The synthetic table: every value type the server has but binary, NULLs
// in the last column, 1000 rows of about 60 bytes.
constexpr const char* kSynthetic = "SELECT id, i, d, flag, s, dt, amount, n FROM bench.synthetic";
constexpr SQLSMALLINT kSyntheticColumns = 8;
constexpr int64_t kSyntheticRows = 1000;

class Hs2Static : public katest::Hs2Suite<katest::DriverManagerStmtSuite>,
                  public ::testing::WithParamInterface<const char*> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-static", {"--server", "hive-3.1"}); }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement(connectionString());
    }
    void TearDown() override
    {
        if (scroll != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, scroll);
        DriverManagerStmtSuite::TearDown();
    }
    std::string connectionString() const
    {
        return "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20;" + GetParam();
    }
    std::string diags(SQLHSTMT s) { return diagText(SQL_HANDLE_STMT, s); }

    // A second statement with a static cursor, executing text.
    void openStatic(const char* text)
    {
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &scroll));
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(scroll, SQL_ATTR_CURSOR_TYPE,
                                              reinterpret_cast<SQLPOINTER>(intptr_t{SQL_CURSOR_STATIC}), 0))
            << diags(scroll);
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(scroll, SQL_ATTR_USE_BOOKMARKS,
                                              reinterpret_cast<SQLPOINTER>(intptr_t{SQL_UB_VARIABLE}), 0))
            << diags(scroll);
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(scroll, sql(text), SQL_NTS)) << diags(scroll);
    }

    // Column c of the current row as cType, read in pieces of `piece`
    // bytes; *cut tells whether the driver said the value had been cut
    // before it reached the application.
    static std::optional<std::string> cell(SQLHSTMT s, SQLUSMALLINT c, SQLSMALLINT cType, size_t piece = 600,
                                           bool* cut = nullptr)
    {
        std::string value;
        std::vector<char> buf(piece + 2, '\x5a');
        const size_t terminator = cType == SQL_C_CHAR ? 1 : 0;
        if (cut != nullptr)
            *cut = false;
        for (int guard = 0; guard < 100000; ++guard) {
            SQLLEN ind = 0;
            const SQLRETURN rc = SQLGetData(s, c, cType, buf.data(), static_cast<SQLLEN>(piece), &ind);
            EXPECT_EQ('\x5a', buf[piece]) << "past the buffer";
            if (rc == SQL_NO_DATA)
                break;
            EXPECT_TRUE(SQL_SUCCEEDED(rc)) << diagText(SQL_HANDLE_STMT, s);
            if (!SQL_SUCCEEDED(rc))
                return "<failed>";
            if (ind == SQL_NULL_DATA)
                return std::nullopt;
            const size_t room = piece - terminator;
            const bool more = ind == SQL_NO_TOTAL || static_cast<size_t>(ind) > room;
            value.append(buf.data(), more ? room : static_cast<size_t>(ind));
            if (rc == SQL_SUCCESS_WITH_INFO && cut != nullptr &&
                diagText(SQL_HANDLE_STMT, s).find("cut before it reached") != std::string::npos)
                *cut = true;
            if (rc == SQL_SUCCESS)
                break;
        }
        return value;
    }

    static Row row(SQLHSTMT s, SQLSMALLINT columns)
    {
        Row r;
        for (SQLSMALLINT c = 1; c <= columns; ++c)
            r.push_back(cell(s, static_cast<SQLUSMALLINT>(c), SQL_C_CHAR));
        return r;
    }

    // The whole result read forward-only on the suite's first statement.
    std::vector<Row> forwardRead(const char* text, SQLSMALLINT columns)
    {
        std::vector<Row> rows;
        EXPECT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(text), SQL_NTS)) << diags(stmt);
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) == SQL_SUCCESS)
            rows.push_back(row(stmt, columns));
        EXPECT_EQ(SQL_NO_DATA, rc) << diags(stmt);
        EXPECT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
        return rows;
    }

    SQLHSTMT scroll = SQL_NULL_HSTMT;
};

TEST_P(Hs2Static, AStaticCursorIsGrantedAndOffered)
{
    SQLUINTEGER options = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, SQL_SCROLL_OPTIONS, &options, sizeof options, nullptr));
    EXPECT_NE(0u, options & SQL_SO_STATIC);
    SQLUINTEGER attrs = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, SQL_STATIC_CURSOR_ATTRIBUTES1, &attrs, sizeof attrs, nullptr));
    const SQLUINTEGER scrolls = SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE | SQL_CA1_BOOKMARK;
    EXPECT_EQ(scrolls, attrs & scrolls);
    // No 01S02: the cursor type stays what was asked.
    openStatic("SELECT id FROM people");
    SQLULEN type = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetStmtAttr(scroll, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
    EXPECT_EQ(SQLULEN{SQL_CURSOR_STATIC}, type);
    ASSERT_EQ(SQL_SUCCESS, SQLFetchScroll(scroll, SQL_FETCH_LAST, 0)) << diags(scroll);
    EXPECT_EQ("8", cell(scroll, 1, SQL_C_CHAR));
}

TEST_P(Hs2Static, EveryOrientationReadsTheRowsAForwardCursorRead)
{
    const std::vector<Row> expected = forwardRead(kSynthetic, kSyntheticColumns);
    ASSERT_EQ(size_t(kSyntheticRows), expected.size());
    openStatic(kSynthetic);

    auto at = [&](int64_t r) {
        SCOPED_TRACE(r);
        ASSERT_GE(r, 1);
        ASSERT_LE(r, kSyntheticRows);
        EXPECT_EQ(expected[size_t(r - 1)], row(scroll, kSyntheticColumns));
    };
    struct Step {
        SQLSMALLINT orientation;
        SQLLEN offset;
        SQLRETURN rc;
        int64_t row;  // 0: none
    };
    const Step steps[] = {
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 1},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 2},
        {SQL_FETCH_LAST, 0, SQL_SUCCESS, kSyntheticRows},
        {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, kSyntheticRows},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, kSyntheticRows - 1},
        {SQL_FETCH_ABSOLUTE, 500, SQL_SUCCESS, 500},
        {SQL_FETCH_RELATIVE, -250, SQL_SUCCESS, 250},
        {SQL_FETCH_RELATIVE, 600, SQL_SUCCESS, 850},
        {SQL_FETCH_ABSOLUTE, -1, SQL_SUCCESS, kSyntheticRows},
        {SQL_FETCH_ABSOLUTE, -kSyntheticRows, SQL_SUCCESS, 1},
        {SQL_FETCH_ABSOLUTE, -kSyntheticRows - 1, SQL_NO_DATA, 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 1},
        {SQL_FETCH_ABSOLUTE, kSyntheticRows + 1, SQL_NO_DATA, 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, kSyntheticRows},
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 1},
        {SQL_FETCH_PRIOR, 0, SQL_NO_DATA, 0},
        {SQL_FETCH_RELATIVE, 777, SQL_SUCCESS, 777},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "orientation " << s.orientation << " offset " << s.offset);
        ASSERT_EQ(s.rc, SQLFetchScroll(scroll, s.orientation, s.offset)) << diags(scroll);
        if (s.row != 0)
            at(s.row);
    }
    // Bookmarks are row numbers: 777 and an offset of -700.
    SQLLEN bookmark = 0;
    SQLLEN bookmarkInd = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(scroll, 0, SQL_C_VARBOOKMARK, &bookmark, sizeof bookmark, &bookmarkInd))
        << diags(scroll);
    EXPECT_EQ(777, bookmark);
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(scroll, SQL_ATTR_FETCH_BOOKMARK_PTR, &bookmark, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLFetchScroll(scroll, SQL_FETCH_FIRST, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLFetchScroll(scroll, SQL_FETCH_BOOKMARK, -700)) << diags(scroll);
    at(77);

    // The whole result backwards, then forwards again.
    ASSERT_EQ(SQL_SUCCESS, SQLFetchScroll(scroll, SQL_FETCH_LAST, 0));
    for (int64_t r = kSyntheticRows; r >= 1; --r) {
        at(r);
        ASSERT_EQ(r > 1 ? SQL_SUCCESS : SQL_NO_DATA, SQLFetchScroll(scroll, SQL_FETCH_PRIOR, 0)) << r;
    }
    for (int64_t r = 1; r <= kSyntheticRows; ++r) {
        ASSERT_EQ(SQL_SUCCESS, SQLFetchScroll(scroll, SQL_FETCH_NEXT, 0)) << r;
        at(r);
    }
    EXPECT_EQ(SQL_NO_DATA, SQLFetchScroll(scroll, SQL_FETCH_NEXT, 0));
}

TEST_P(Hs2Static, ARowArrayOverTheCacheStopsAtTheLastRow)
{
    const std::vector<Row> expected = forwardRead(kSynthetic, kSyntheticColumns);
    ASSERT_EQ(size_t(kSyntheticRows), expected.size());
    openStatic(kSynthetic);
    constexpr SQLULEN kRowset = 7;
    SQLULEN fetched = 0;
    SQLUSMALLINT status[kRowset + 1];
    status[kRowset] = 0xA5A5;
    SQLBIGINT ids[kRowset];
    SQLLEN idInd[kRowset];
    char texts[kRowset][32];
    SQLLEN textInd[kRowset];
    char ns[kRowset][16];
    SQLLEN nInd[kRowset];
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(scroll, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowset), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(scroll, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(scroll, SQL_ATTR_ROW_STATUS_PTR, status, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(scroll, 1, SQL_C_SBIGINT, ids, 0, idInd));
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(scroll, 5, SQL_C_CHAR, texts, sizeof texts[0], textInd));
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(scroll, 8, SQL_C_CHAR, ns, sizeof ns[0], nInd));
    for (SQLLEN start : {SQLLEN{1}, SQLLEN{500}, SQLLEN{996}}) {
        SCOPED_TRACE(start);
        ASSERT_EQ(SQL_SUCCESS, SQLFetchScroll(scroll, SQL_FETCH_ABSOLUTE, start)) << diags(scroll);
        const SQLULEN present = std::min<SQLULEN>(kRowset, SQLULEN(kSyntheticRows - start + 1));
        EXPECT_EQ(present, fetched);
        for (SQLULEN i = 0; i < kRowset; ++i) {
            if (i >= present) {
                EXPECT_EQ(SQL_ROW_NOROW, status[i]) << i;
                continue;
            }
            const Row& want = expected[size_t(start) - 1 + i];
            EXPECT_EQ(SQL_ROW_SUCCESS, status[i]) << i;
            EXPECT_EQ(*want[0], std::to_string(ids[i])) << i;
            EXPECT_EQ(*want[4], std::string(texts[i], size_t(textInd[i]))) << i;
            if (want[7].has_value())
                EXPECT_EQ(*want[7], std::string(ns[i], size_t(nInd[i]))) << i;
            else
                EXPECT_EQ(SQL_NULL_DATA, nInd[i]) << i;
        }
        EXPECT_EQ(0xA5A5, status[kRowset]);
    }
}

TEST_P(Hs2Static, LongValuesAreKeptUpToTheCacheLimit)
{
    const char* text = "SELECT id, s, b FROM long_values ORDER BY id";
    // The forward read: text and the bytes in full.
    std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> expected;
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(text), SQL_NTS)) << diags(stmt);
    while (SQLFetch(stmt) == SQL_SUCCESS)
        expected.emplace_back(cell(stmt, 2, SQL_C_CHAR, 65536), cell(stmt, 3, SQL_C_BINARY, 65536));
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    ASSERT_GT(expected.size(), 10u);

    openStatic(text);
    constexpr size_t kLimit = 4096;  // the connection's default
    for (size_t r = expected.size(); r >= 1; --r) {
        SCOPED_TRACE(r);
        ASSERT_EQ(SQL_SUCCESS, SQLFetchScroll(scroll, SQL_FETCH_ABSOLUTE, SQLLEN(r))) << diags(scroll);
        for (SQLUSMALLINT c : {SQLUSMALLINT{2}, SQLUSMALLINT{3}}) {
            SCOPED_TRACE(c);
            const std::optional<std::string>& whole = c == 2 ? expected[r - 1].first : expected[r - 1].second;
            bool cut = false;
            const std::optional<std::string> got = cell(scroll, c, c == 2 ? SQL_C_CHAR : SQL_C_BINARY, 1000, &cut);
            ASSERT_EQ(whole.has_value(), got.has_value());
            if (!whole.has_value())
                continue;
            if (whole->size() <= kLimit) {
                EXPECT_EQ(*whole, *got);
                EXPECT_FALSE(cut);
                continue;
            }
            // Cut at the limit, on a whole character, and said so.
            EXPECT_TRUE(cut);
            EXPECT_LE(got->size(), kLimit);
            EXPECT_GT(got->size(), kLimit - 4);
            EXPECT_EQ(whole->substr(0, got->size()), *got);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Hs2Static, ::testing::Values("", "CSP=4;"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param[0] == 0 ? "columns" : "rows");
                         });

}  // namespace
