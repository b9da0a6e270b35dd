// Statements through unixODBC against the bundled HiveServer2 test server,
// in both result layouts: a query prepared, described before it runs and
// executed once, bound columns over a row array across blocks, SQLGetData
// of a long value in pieces, the row count of DML, a server error with the
// server's SQLSTATE and text, an operation that ends in error, and a GUID
// parameter given as narrow or wide text.
#include <algorithm>
#include <cstring>
#include <memory>
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

class Hs2Statement : public katest::Hs2Suite<katest::DriverManagerStmtSuite>,
                     public ::testing::WithParamInterface<const char*> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-statement", {"--server", "hive-3.1"}); }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        std::string in =
            "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20;" + GetParam();
        connectWithStatement(in);
    }
    std::string diags() { return diagText(SQL_HANDLE_STMT, stmt); }
};

TEST_P(Hs2Statement, APreparedQueryIsDescribedBeforeItRunsAndRunsOnce)
{
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt, sql("SELECT id, name, joined FROM people ORDER BY id"), SQL_NTS))
        << diags();
    SQLSMALLINT columns = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &columns)) << diags();
    ASSERT_EQ(3, columns);
    SQLCHAR name[64] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(stmt, 3, name, sizeof name, &nameLength, &type, &size, &digits, &nullable))
        << diags();
    EXPECT_STREQ("joined", reinterpret_cast<char*>(name));
    EXPECT_EQ(SQL_TYPE_DATE, type);
    EXPECT_EQ(10u, size);
    EXPECT_EQ(SQL_NULLABLE, nullable);
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << diags();
    SQLINTEGER id = 0;
    SQLLEN idInd = 0;
    char text[64];
    SQLLEN textInd = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 1, SQL_C_SLONG, &id, 0, &idInd));
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 2, SQL_C_CHAR, text, sizeof text, &textInd));
    std::vector<std::string> names;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS)
        names.push_back(std::to_string(id) + ":" + std::string(text, size_t(textInd)));
    EXPECT_EQ(SQL_NO_DATA, rc) << diags();
    ASSERT_EQ(8u, names.size());
    EXPECT_EQ("1:Ada", names[0]);
    EXPECT_EQ("3:Chlo\xc3\xa9", names[2]);
    EXPECT_EQ("8:Hiro", names[7]);
    // The prepared statement runs again.
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
    EXPECT_EQ(1, id);
}

TEST_P(Hs2Statement, BoundRowArraysCrossBlocks)
{
    SQLULEN fetched = 0;
    SQLUSMALLINT status[100];
    SQLBIGINT ids[100];
    SQLLEN idInd[100];
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(100), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id FROM bench.synthetic"), SQL_NTS)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 1, SQL_C_SBIGINT, ids, 0, idInd));
    size_t total = 0;
    SQLBIGINT sum = 0;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
        for (SQLULEN i = 0; i < fetched; ++i) {
            ASSERT_EQ(SQL_ROW_SUCCESS, status[i]);
            sum += ids[i];
        }
        total += fetched;
    }
    EXPECT_EQ(SQL_NO_DATA, rc) << diags();
    // The server's synthetic table has this many rows (see the suite's server).
    EXPECT_EQ(1000u, total);
    EXPECT_NE(0, sum);
}

TEST_P(Hs2Statement, IntervalColumnsReadAsIntervalsBoundAndThroughGetData)
{
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT iym, idt FROM intervals ORDER BY id"), SQL_NTS)) << diags();
    SQL_INTERVAL_STRUCT yearMonth{};
    SQLLEN yearMonthInd = 0;
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindCol(stmt, 1, SQL_C_INTERVAL_YEAR_TO_MONTH, &yearMonth, sizeof yearMonth, &yearMonthInd));
    // Row 1: "1-2" and "1 02:03:04.500000000".
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
    EXPECT_EQ(SQL_IS_YEAR_TO_MONTH, yearMonth.interval_type);
    EXPECT_EQ(1u, yearMonth.intval.year_month.year);
    EXPECT_EQ(2u, yearMonth.intval.year_month.month);
    SQL_INTERVAL_STRUCT dayTime{};
    SQLLEN dayTimeInd = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 2, SQL_C_INTERVAL_DAY_TO_SECOND, &dayTime, sizeof dayTime, &dayTimeInd))
        << diags();
    EXPECT_EQ(SQL_IS_DAY_TO_SECOND, dayTime.interval_type);
    EXPECT_EQ(1u, dayTime.intval.day_second.day);
    EXPECT_EQ(2u, dayTime.intval.day_second.hour);
    EXPECT_EQ(3u, dayTime.intval.day_second.minute);
    EXPECT_EQ(4u, dayTime.intval.day_second.second);
    // Row 2: negative, "-0-3" and "-0 00:00:00.000000001"; as text unchanged.
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
    EXPECT_EQ(SQL_TRUE, yearMonth.interval_sign);
    EXPECT_EQ(3u, yearMonth.intval.year_month.month);
    SQLCHAR text[64] = {};
    SQLLEN textInd = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 2, SQL_C_CHAR, text, sizeof text, &textInd)) << diags();
    EXPECT_STREQ("-0 00:00:00.000000001", reinterpret_cast<char*>(text));
    // Row 3: NULL.
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
    EXPECT_EQ(SQL_NULL_DATA, yearMonthInd);
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 2, SQL_C_INTERVAL_DAY_TO_SECOND, &dayTime, sizeof dayTime, &dayTimeInd))
        << diags();
    EXPECT_EQ(SQL_NULL_DATA, dayTimeInd);
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
    EXPECT_EQ(100u, yearMonth.intval.year_month.year);
    EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
}

TEST_P(Hs2Statement, ALongValueArrivesInPiecesWhole)
{
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id, s, length(s) FROM long_values ORDER BY id"), SQL_NTS))
        << diags();
    size_t rows = 0;
    size_t longest = 0;
    while (SQLFetch(stmt) == SQL_SUCCESS) {
        std::string whole;
        char piece[1000];
        SQLLEN ind = 0;
        SQLRETURN rc;
        while ((rc = SQLGetData(stmt, 2, SQL_C_CHAR, piece, sizeof piece, &ind)) != SQL_NO_DATA) {
            ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diags();
            if (ind == SQL_NULL_DATA)
                break;
            whole += piece;
            if (rc == SQL_SUCCESS)
                break;
        }
        SQLINTEGER characters = -1;
        SQLLEN lengthInd = 0;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, 3, SQL_C_SLONG, &characters, 0, &lengthInd))) << diags();
        ++rows;
        if (ind == SQL_NULL_DATA) {
            EXPECT_EQ(SQL_NULL_DATA, lengthInd);
            continue;
        }
        // Every character arrived once: the server's count of them.
        size_t counted = 0;
        for (unsigned char c : whole)
            counted += (c & 0xC0) != 0x80;
        EXPECT_EQ(size_t(characters), counted) << "row " << rows;
        longest = std::max(longest, whole.size());
    }
    EXPECT_GT(rows, 0u);
    EXPECT_GT(longest, 10000u);
}

TEST_P(Hs2Statement, DmlGivesItsRowCount)
{
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt, sql("CREATE TABLE IF NOT EXISTS t_count (a int)"), SQL_NTS)))
        << diags();
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt, sql("INSERT INTO t_count VALUES (1), (2), (3)"), SQL_NTS)))
        << diags();
    SQLLEN count = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLRowCount(stmt, &count));
    EXPECT_TRUE(count == 3 || count == -1) << count;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt, sql("DROP TABLE t_count"), SQL_NTS))) << diags();
}

TEST_P(Hs2Statement, AServerErrorCarriesTheServersStateAndText)
{
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(stmt, sql("SELECT nosuchcolumn FROM people"), SQL_NTS));
    std::string state;
    std::string text = diagText(SQL_HANDLE_STMT, stmt, &state);
    EXPECT_EQ(5u, state.size());
    EXPECT_NE("HY000", state) << text;
    EXPECT_NE(std::string::npos, text.find("nosuchcolumn")) << text;
    EXPECT_NE(std::string::npos, text.find("[Mirrowen]")) << text;
    // The statement goes on working.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT count(*) FROM people"), SQL_NTS)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    SQLBIGINT n = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_SBIGINT, &n, 0, nullptr))) << diags();
    EXPECT_EQ(8, n);
}

TEST_P(Hs2Statement, AnOperationThatEndsInErrorGivesTheServersStateAndAMaskedText)
{
    auto firstRecord = [this](std::string* state, SQLINTEGER* native) {
        SQLCHAR s[6] = {};
        SQLCHAR message[2048] = {};
        SQLSMALLINT length = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, s, native, message, sizeof message, &length));
        *state = reinterpret_cast<char*>(s);
        return std::string(reinterpret_cast<char*>(message));
    };
    // The fault holds from the SET's own operation on. Without a text the
    // server fails the job as Hive does: SQLSTATE 08S01, error code 2.
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(stmt, sql("SET hs2server.fault.error-state=on"), SQL_NTS));
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(stmt, sql("SELECT id FROM people"), SQL_NTS));
    std::string state;
    SQLINTEGER native = 0;
    std::string text = firstRecord(&state, &native);
    EXPECT_EQ("08S01", state) << text;
    EXPECT_EQ(2, native) << text;
    EXPECT_NE(std::string::npos, text.find("MapRedTask")) << text;
    // The server's state is the job's failure, not a lost link: the
    // connection stays up and serves the next statement.
    SQLUINTEGER dead = SQL_CD_TRUE;
    ASSERT_EQ(SQL_SUCCESS, SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr));
    EXPECT_EQ(SQL_CD_FALSE, dead);
    // A server that gives no state of its own: the state comes from its text,
    // and a password it repeats is masked.
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(stmt,
                                       sql("SET hs2server.fault.error-state=ParseException in "
                                           "TOpenSessionReq(username:ann, password:hunter2)"),
                                       SQL_NTS));
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(stmt, sql("SELECT name FROM people"), SQL_NTS));
    state.clear();
    text = firstRecord(&state, &native);
    EXPECT_EQ("42000", state) << text;
    EXPECT_NE(std::string::npos, text.find("ParseException")) << text;
    EXPECT_EQ(std::string::npos, text.find("hunter2")) << text;
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SET hs2server.fault.error-state=off"), SQL_NTS)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id FROM people WHERE id = 3"), SQL_NTS)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
}

// A GUID parameter given as text, narrow or wide, is written into the
// statement as that same text.
TEST_P(Hs2Statement, AGuidParameterGivenAsTextArrivesAsThatText)
{
    const char kGuid[] = "12345678-9abc-def0-0123-456789abcdef";
    const size_t n = sizeof kGuid - 1;
    std::vector<SQLWCHAR> wide(kGuid, kGuid + n);
    struct Case {
        const char* what;
        SQLSMALLINT cType;
        const void* value;
        SQLLEN bytes;
    };
    const Case cases[] = {
        {"narrow", SQL_C_CHAR, kGuid, static_cast<SQLLEN>(n)},
        {"wide", SQL_C_WCHAR, wide.data(), static_cast<SQLLEN>(n * sizeof(SQLWCHAR))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SQLLEN length = c.bytes;
        ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, c.cType, SQL_GUID, n, 0,
                                                const_cast<void*>(c.value), c.bytes, &length))
            << diags();
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT ? FROM people WHERE id = 3"), SQL_NTS)) << diags();
        ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
        char got[64];
        std::memset(got, '#', sizeof got);
        SQLLEN gotLength = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_CHAR, got, 48, &gotLength)) << diags();
        EXPECT_EQ(std::string(kGuid), std::string(got, gotLength > 0 ? static_cast<size_t>(gotLength) : 0));
        EXPECT_EQ('#', got[48]);
        ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_CLOSE));
        ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_RESET_PARAMS));
    }
}

// The default protocol (column-wise results) and V5 (row-wise).
INSTANTIATE_TEST_SUITE_P(Layouts, Hs2Statement, ::testing::Values("", "CSP=4;"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param[0] == 0 ? "columns" : "rows");
                         });

}  // namespace
