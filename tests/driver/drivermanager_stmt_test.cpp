// Statement and descriptor handles of the driver library's test build (its
// connections connect without a server, its statements answer from scripted
// results) through the unixODBC driver manager: allocated on a connected
// connection with their implicit descriptors, freed by SQLFreeHandle,
// SQLFreeStmt(SQL_DROP) or with their connection at SQLDisconnect; and
// statements prepared, executed, described and fetched through it.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "support/drivermanager.h"
#include "support/guarded.h"
#include "support/u16.h"

namespace {

using katest::driverLibrary;

class StatementsThroughDriverManager : public katest::DriverManagerSuite {
protected:
    static void SetUpTestSuite()
    {
        writeIni("driver-manager-stmt",
                 "[VYspark28test]\n"
                 "Description=Driver test build\n"
                 "Driver=" +
                     driverLibrary() + "\n",
                 "[sparktest]\n"
                 "Driver=VYspark28test\n");
    }

    SQLRETURN connect(const char* extra = "")
    {
        return driverConnect(std::string("DRIVER={VYspark28test};UID=u;PWD=p;") + extra);
    }
};

}  // namespace

TEST_F(StatementsThroughDriverManager, StatementsLiveAndDieOnAConnectedConnection)
{
    ASSERT_TRUE(SQL_SUCCEEDED(connect()));
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    // The driver's implicit descriptors, as the driver manager hands them on.
    SQLHDESC ard = SQL_NULL_HDESC;
    SQLHDESC ird = SQL_NULL_HDESC;
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_IMP_ROW_DESC, &ird, 0, nullptr), SQL_SUCCESS);
    EXPECT_NE(ard, nullptr);
    EXPECT_NE(ird, nullptr);
    EXPECT_NE(ard, ird);
    // A text the statement cannot run fails with its diagnostic.
    EXPECT_EQ(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("fail 1")), SQL_NTS), SQL_ERROR);
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLCHAR text[512];
    ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(state), "HY000");
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);

    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeStmt(stmt, SQL_DROP), SQL_SUCCESS);
}

TEST_F(StatementsThroughDriverManager, ExplicitDescriptorsAndLeftoverHandlesGoWithTheConnection)
{
    ASSERT_TRUE(SQL_SUCCEEDED(connect()));
    SQLHDESC desc = SQL_NULL_HDESC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    // Attached as the statement's ARD, and given back when it is freed.
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, desc, 0), SQL_SUCCESS);
    SQLHDESC current = SQL_NULL_HDESC;
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &current, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(current, desc);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, desc), SQL_SUCCESS);
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &current, 0, nullptr), SQL_SUCCESS);
    EXPECT_NE(current, desc);
    EXPECT_NE(current, nullptr);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
    SQLHSTMT stmts[4] = {};
    for (SQLHSTMT& s : stmts)
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &s), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    // SQLDisconnect (TearDown) frees them all; the sanitizer sees any leak.
}

namespace {

class StatementWorkThroughDriverManager : public StatementsThroughDriverManager {
protected:
    void SetUp() override
    {
        StatementsThroughDriverManager::SetUp();
        ASSERT_TRUE(SQL_SUCCEEDED(connect()));
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    }
    void TearDown() override
    {
        EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
        StatementsThroughDriverManager::TearDown();
    }
    SQLRETURN run(const std::u16string& sql)
    {
        return SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(sql.c_str())), SQL_NTS);
    }
    std::string state() { return firstState(SQL_HANDLE_STMT, stmt); }
    static std::string descState(SQLHDESC d) { return firstState(SQL_HANDLE_DESC, d); }
    static std::string firstState(SQLSMALLINT type, SQLHANDLE handle)
    {
        SQLCHAR text[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (SQLGetDiagRec(type, handle, 1, text, &native, nullptr, 0, &length) == SQL_NO_DATA)
            return "";
        return reinterpret_cast<char*>(text);
    }
    static std::u16string longText(int n)
    {
        std::u16string out;
        for (int i = 0; i < n; ++i)
            out += i % 4 == 0 ? u"a" : i % 4 == 1 ? u"\u00e9" : i % 4 == 2 ? u"\u20ac" : u"\U0001F600";
        return out;
    }
    SQLHSTMT stmt = SQL_NULL_HSTMT;
};

}  // namespace

TEST_F(StatementWorkThroughDriverManager, PrepareExecuteDescribeAndCount)
{
    std::u16string sql = u"insert into t values (1)";
    ASSERT_EQ(SQLPrepareW(stmt, reinterpret_cast<SQLWCHAR*>(sql.data()), SQL_NTS), SQL_SUCCESS);
    SQLSMALLINT columns = -1;
    ASSERT_EQ(SQLNumResultCols(stmt, &columns), SQL_SUCCESS);
    EXPECT_EQ(columns, 0);
    ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS);
    SQLLEN rows = 0;
    ASSERT_EQ(SQLRowCount(stmt, &rows), SQL_SUCCESS);
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(SQLMoreResults(stmt), SQL_NO_DATA);

    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
    ASSERT_EQ(SQLNumResultCols(stmt, &columns), SQL_SUCCESS);
    EXPECT_EQ(columns, 5);
    SQLWCHAR name[16] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = -1;
    SQLSMALLINT nullable = -1;
    ASSERT_EQ(SQLDescribeColW(stmt, 3, name, 16, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_EQ(katest::u16(reinterpret_cast<uint16_t*>(name)), u"wide");
    EXPECT_EQ(type, SQL_WVARCHAR);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(nullable, SQL_NULLABLE);
    SQLLEN number = 0;
    ASSERT_EQ(SQLColAttributeW(stmt, 1, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &number), SQL_SUCCESS);
    EXPECT_EQ(number, SQL_INTEGER);
    ASSERT_EQ(SQLRowCount(stmt, &rows), SQL_SUCCESS);
    EXPECT_EQ(rows, -1);
}

TEST_F(StatementWorkThroughDriverManager, RowWiseRowsetsWithOffsetStatusesAndGuards)
{
    struct Row {
        SQLINTEGER id;
        SQLLEN idLength;
        SQLCHAR name[12];
        SQLLEN nameLength;
        SQLCHAR note[2];  // "odd" does not fit: 01004
        SQLLEN noteLength;
    };
    constexpr int kRowset = 4;
    constexpr SQLLEN kOffset = 64;
    katest::Guarded<uint8_t> space(kOffset + sizeof(Row) * kRowset);
    auto* base = reinterpret_cast<Row*>(space.data());
    SQLLEN offset = kOffset;
    SQLUSMALLINT statuses[kRowset] = {};
    SQLULEN fetched = 0;
    ASSERT_EQ(run(u"select rows 7"), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowset), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, statuses, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &base->id, 0, &base->idLength), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_CHAR, base->name, sizeof base->name, &base->nameLength), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 5, SQL_C_CHAR, base->note, sizeof base->note, &base->noteLength), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(state(), "01004");
    EXPECT_EQ(fetched, 4u);
    auto* rows = reinterpret_cast<Row*>(space.data() + kOffset);
    for (int i = 0; i < kRowset; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].id, i + 1);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(rows[i].name)), "name-" + std::to_string(i + 1));
        EXPECT_EQ(rows[i].nameLength, 6);
        EXPECT_EQ(rows[i].noteLength, i % 2 == 0 ? 3 : SQL_NULL_DATA);
        EXPECT_EQ(statuses[i], i % 2 == 0 ? SQL_ROW_SUCCESS_WITH_INFO : SQL_ROW_SUCCESS);
    }
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(statuses[3], SQL_ROW_NOROW);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    EXPECT_TRUE(space.guardsIntact());
}

TEST_F(StatementWorkThroughDriverManager, NullWithoutAnIndicatorIs22002)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    SQLCHAR note[8] = {};
    ASSERT_EQ(SQLBindCol(stmt, 5, SQL_C_CHAR, note, sizeof note, nullptr), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(note), "odd");
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_EQ(state(), "22002");
}

TEST_F(StatementWorkThroughDriverManager, GetDataInPiecesGivesBackLongValuesWhole)
{
    ASSERT_EQ(run(u"select long 5000"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    std::u16string text;
    SQLRETURN rc = 0;
    SQLLEN length = 0;
    int pieces = 0;
    for (;;) {
        katest::Guarded<uint16_t> piece(50);
        rc = SQLGetData(stmt, 1, SQL_C_WCHAR, piece.data(), static_cast<SQLLEN>(piece.bytes()), &length);
        if (rc == SQL_NO_DATA)
            break;
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        ASSERT_TRUE(piece.guardsIntact());
        if (rc == SQL_SUCCESS_WITH_INFO) {
            EXPECT_EQ(state(), "01004");
        }
        text += katest::u16(piece.data());
        ASSERT_LT(++pieces, 10000);
    }
    EXPECT_GT(pieces, 1);
    const std::u16string want = longText(5000);
    EXPECT_EQ(text.size(), want.size());
    EXPECT_TRUE(text == want);

    std::string bytes;
    for (;;) {
        katest::Guarded<uint8_t> piece(333);
        rc = SQLGetData(stmt, 2, SQL_C_BINARY, piece.data(), static_cast<SQLLEN>(piece.bytes()), &length);
        if (rc == SQL_NO_DATA)
            break;
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        ASSERT_TRUE(piece.guardsIntact());
        const size_t n = length == SQL_NO_TOTAL || length > 333 ? 333 : static_cast<size_t>(length);
        bytes.append(reinterpret_cast<char*>(piece.data()), n);
    }
    ASSERT_EQ(bytes.size(), 5000u);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(static_cast<uint8_t>(bytes[i]), i % 251) << i;
}

TEST_F(StatementWorkThroughDriverManager, ScrollingAStaticCursor)
{
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0),
              SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 9"), SQL_SUCCESS);
    SQLINTEGER ids[3] = {};
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(3), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, ids, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(SQLFetchScroll(stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS);
    EXPECT_EQ(ids[0], 7);
    EXPECT_EQ(ids[2], 9);
    ASSERT_EQ(SQLFetchScroll(stmt, SQL_FETCH_PRIOR, 0), SQL_SUCCESS);
    EXPECT_EQ(ids[0], 4);
    ASSERT_EQ(SQLFetchScroll(stmt, SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_ABSOLUTE, 0), SQL_NO_DATA);
}

TEST_F(StatementWorkThroughDriverManager, ExtendedFetchFillsItsStatusArray)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ROWSET_SIZE, reinterpret_cast<SQLPOINTER>(3), 0), SQL_SUCCESS);
    SQLINTEGER ids[3] = {};
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, ids, 0, nullptr), SQL_SUCCESS);
    SQLULEN count = 0;
    SQLUSMALLINT statuses[3] = {9, 9, 9};
    ASSERT_EQ(SQLExtendedFetch(stmt, SQL_FETCH_NEXT, 0, &count, statuses), SQL_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(statuses[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(statuses[2], SQL_ROW_NOROW);
}

TEST_F(StatementWorkThroughDriverManager, ForwardOnlyCursorsRefuseScrolling)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_FIRST, 0), SQL_ERROR);
    EXPECT_EQ(state(), "HY106");
}

TEST_F(StatementWorkThroughDriverManager, CloseTheCursorAndRunThePreparedTextAgain)
{
    std::u16string sql = u"select rows 3";
    ASSERT_EQ(SQLPrepareW(stmt, reinterpret_cast<SQLWCHAR*>(sql.data()), SQL_NTS), SQL_SUCCESS);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS);
        SQLINTEGER id = 0;
        SQLLEN ind = 0;
        ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &id, 0, &ind), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
        EXPECT_EQ(id, 1);
        ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    }
    EXPECT_EQ(SQLCloseCursor(stmt), SQL_ERROR);
    EXPECT_EQ(state(), "24000");
    EXPECT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeStmt(stmt, SQL_UNBIND), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeStmt(stmt, SQL_RESET_PARAMS), SQL_SUCCESS);
    // SQLCancel with nothing running changes nothing.
    EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
}

TEST_F(StatementWorkThroughDriverManager, AttributesReadBackWholeAndSubstitutionsWarn)
{
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(uintptr_t{7}), 0), SQL_SUCCESS);
    SQLULEN value = ~SQLULEN{0};
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_MAX_ROWS, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, 7u);
    ASSERT_EQ(
        SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(uintptr_t{SQL_CURSOR_DYNAMIC}), 0),
        SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(state(), "01S02");
    value = ~SQLULEN{0};
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, &value, 0, nullptr), SQL_SUCCESS);
    // The test build has no keyset-driven cursor: the framework's emulated
    // static one is the next best.
    EXPECT_EQ(value, static_cast<SQLULEN>(SQL_CURSOR_STATIC));
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_KEYSET_SIZE, reinterpret_cast<SQLPOINTER>(uintptr_t{100}), 0),
              SQL_SUCCESS_WITH_INFO);
    value = ~SQLULEN{0};
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_KEYSET_SIZE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ENABLE_AUTO_IPD, reinterpret_cast<SQLPOINTER>(uintptr_t{1}), 0), SQL_ERROR);
}

TEST_F(StatementWorkThroughDriverManager, Odbc2StatementOptionsGoThroughTheAttributes)
{
    ASSERT_EQ(SQLSetStmtOption(stmt, SQL_MAX_ROWS, 2), SQL_SUCCESS);
    SQLULEN value = ~SQLULEN{0};
    ASSERT_EQ(SQLGetStmtOption(stmt, SQL_MAX_ROWS, &value), SQL_SUCCESS);
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(SQLSetStmtOption(stmt, SQL_CONCURRENCY, SQL_CONCUR_LOCK), SQL_SUCCESS_WITH_INFO);
    value = ~SQLULEN{0};
    ASSERT_EQ(SQLGetStmtOption(stmt, SQL_CONCURRENCY, &value), SQL_SUCCESS);
    EXPECT_EQ(value, static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY));
    // The row limit holds for the fetch.
    ASSERT_EQ(run(u"select rows 5"), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

TEST_F(StatementWorkThroughDriverManager, DescriptorFieldsByKindAndCopyDesc)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    SQLHDESC ard = SQL_NULL_HDESC;
    SQLHDESC ipd = SQL_NULL_HDESC;
    SQLHDESC ird = SQL_NULL_HDESC;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_IMP_PARAM_DESC, &ipd, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_IMP_ROW_DESC, &ird, 0, nullptr), SQL_SUCCESS);
    SQLSMALLINT count = -1;
    ASSERT_EQ(SQLGetDescFieldW(ird, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(count, 5);
    // Fields by kind: the display size is the IRD's, the data pointer the
    // ARD's; the IRD cannot be changed.
    SQLLEN number = 0;
    EXPECT_EQ(SQLGetDescFieldW(ird, 1, SQL_DESC_DISPLAY_SIZE, &number, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(number, 11);
    EXPECT_EQ(SQLGetDescFieldW(ard, 0, SQL_DESC_ALLOC_TYPE, &count, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(count, SQL_DESC_ALLOC_AUTO);
    EXPECT_EQ(SQLGetDescFieldW(ird, 1, SQL_DESC_DATA_PTR, &number, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(descState(ird), "HY091");
    EXPECT_EQ(SQLSetDescFieldW(ird, 1, SQL_DESC_CONCISE_TYPE, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_CHAR}), 0),
              SQL_ERROR);
    EXPECT_EQ(descState(ird), "HY016");
    EXPECT_EQ(SQLGetDescFieldW(ird, 9, SQL_DESC_CONCISE_TYPE, &count, 0, nullptr), SQL_NO_DATA);

    // A name cut to the buffer, with its full length and 01004.
    SQLWCHAR name[3] = {};
    SQLINTEGER length = 0;
    EXPECT_EQ(SQLGetDescFieldW(ird, 2, SQL_DESC_NAME, name, sizeof name, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(descState(ird), "01004");
    EXPECT_EQ(length, 8);
    EXPECT_EQ(katest::u16(reinterpret_cast<uint16_t*>(name)), u"na");

    // The IRD copied into an explicit descriptor, then bound as the ARD.
    SQLHDESC copy = SQL_NULL_HDESC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &copy), SQL_SUCCESS);
    ASSERT_EQ(SQLCopyDesc(ird, copy), SQL_SUCCESS);
    ASSERT_EQ(SQLGetDescFieldW(copy, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(SQLCopyDesc(copy, ird), SQL_ERROR);
    SQLINTEGER id = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLSetDescRec(copy, 1, SQL_C_SLONG, 0, 4, 0, 0, &id, &ind, &ind), SQL_SUCCESS);
    ASSERT_EQ(SQLSetDescField(copy, 0, SQL_DESC_COUNT, reinterpret_cast<SQLPOINTER>(intptr_t{1}), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, copy, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(id, 1);
    ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, copy), SQL_SUCCESS);

    // The IPD of a parameter: named, read back.
    const std::u16string param = u"p1";
    ASSERT_EQ(SQLSetDescFieldW(ipd, 1, SQL_DESC_CONCISE_TYPE, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_INTEGER}), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetDescFieldW(ipd, 1, SQL_DESC_NAME, const_cast<char16_t*>(param.c_str()), SQL_NTS), SQL_SUCCESS);
    SQLWCHAR back[8] = {};
    ASSERT_EQ(SQLGetDescFieldW(ipd, 1, SQL_DESC_NAME, back, sizeof back, &length), SQL_SUCCESS);
    EXPECT_EQ(katest::u16(reinterpret_cast<uint16_t*>(back)), u"p1");
}

TEST_F(StatementWorkThroughDriverManager, ApplicationRecordsAreCheckedWhenTheirBufferIsSet)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    SQLHDESC ard = SQL_NULL_HDESC;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), SQL_SUCCESS);
    auto set = [&](SQLSMALLINT field, intptr_t value) {
        return SQLSetDescField(ard, 1, field, reinterpret_cast<SQLPOINTER>(value), 0);
    };
    // A numeric buffer of 40 digits does not exist: the column stays unbound.
    SQL_NUMERIC_STRUCT number;
    std::memset(&number, 0xa5, sizeof number);
    ASSERT_EQ(set(SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_DESC_PRECISION, 40), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_DESC_SCALE, 2), SQL_SUCCESS);
    EXPECT_EQ(SQLSetDescField(ard, 1, SQL_DESC_DATA_PTR, &number, 0), SQL_ERROR);
    EXPECT_EQ(descState(ard), "HY021");
    SQLPOINTER bound = &number;
    ASSERT_EQ(SQLGetDescField(ard, 1, SQL_DESC_DATA_PTR, &bound, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(bound, nullptr);
    // Ten digits, two after the point, are.
    ASSERT_EQ(set(SQL_DESC_PRECISION, 10), SQL_SUCCESS);
    ASSERT_EQ(SQLSetDescField(ard, 1, SQL_DESC_DATA_PTR, &number, 0), SQL_SUCCESS);

    // A whole record that does not hold together leaves the old one.
    SQLHDESC own = SQL_NULL_HDESC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &own), SQL_SUCCESS);
    SQLINTEGER id = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLSetDescRec(own, 1, SQL_C_SLONG, 0, 4, 0, 0, &id, &ind, &ind), SQL_SUCCESS);
    SQL_TIMESTAMP_STRUCT when{};
    EXPECT_EQ(SQLSetDescRec(own, 1, SQL_DATETIME, SQL_CODE_HOUR, sizeof when, 0, 0, &when, &ind, &ind), SQL_ERROR);
    EXPECT_EQ(descState(own), "HY021");
    SQLSMALLINT type = 0;
    ASSERT_EQ(SQLGetDescRec(own, 1, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr, nullptr, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(type, SQL_C_SLONG);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, own), SQL_SUCCESS);

    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(number.precision, 10);
    EXPECT_EQ(number.scale, 2);
    EXPECT_EQ(number.sign, 1);
    EXPECT_EQ(number.val[0], 100);
    EXPECT_EQ(number.val[1], 0);
}

TEST_F(StatementWorkThroughDriverManager, SetScrollOptionsChoosesTheCursorAndRowset)
{
    EXPECT_EQ(SQLSetScrollOptions(stmt, SQL_CONCUR_READ_ONLY, 1, 5), SQL_ERROR);
    ASSERT_EQ(SQLSetScrollOptions(stmt, SQL_CONCUR_READ_ONLY, SQL_SCROLL_STATIC, 4), SQL_SUCCESS);
    SQLULEN value = 0;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, static_cast<SQLULEN>(SQL_CURSOR_STATIC));
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ROWSET_SIZE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, 4u);
    // SQLExtendedFetch takes the rowset size it set.
    ASSERT_EQ(run(u"select rows 10"), SQL_SUCCESS);
    SQLINTEGER ids[4] = {};
    SQLLEN ind[4] = {};
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, ids, 0, ind), SQL_SUCCESS);
    SQLULEN count = 0;
    SQLUSMALLINT statuses[4] = {};
    ASSERT_EQ(SQLExtendedFetch(stmt, SQL_FETCH_ABSOLUTE, 3, &count, statuses), SQL_SUCCESS);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(ids[0], 3);
    EXPECT_EQ(ids[3], 6);
}
