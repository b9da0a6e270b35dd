// Parameter arrays of an INSERT through unixODBC against the bundled
// HiveServer2 test server: hostile values sent in multi-row batches read
// back byte-equal, the server's call log shows how many statements carried
// the rows, and a row whose value cannot be converted is reported by its
// status while the rows before it are inserted.
#include <memory>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"
#include "support/hs2suite.h"
#include "support/textfile.h"

namespace {

using katest::diagText;

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// Values that end a literal early, fall out of step with the quote fixer,
// smuggle an escape in or change the statement if rendered carelessly.
std::vector<std::string> hostileValues()
{
    return {
        "'",
        "''",
        "O'Brien",
        "O''Brien",
        "\\",
        "\\'",
        "ends in a backslash\\",
        "\\\\'",
        "' OR '1'='1",
        "'),('x','y'),('",
        std::string("nul\0in the middle", 18),
        std::string("nul then digits \0"
                    "12",
                    19),
        std::string("\0", 1),
        "\\000 and \\u0041 are text here",
        "line one\nline two\r\n\ttabbed\b\x1a",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
        "? and -- and /* and */ and ;",
        "a \"double\" and a `back` quote",
        "",
        std::string(3000, 'L') + "'\\" + std::string(3000, 'M'),
        std::string(20000, 'x') + "'",
    };
}

class Hs2ArrayInsert : public katest::Hs2Suite<katest::DriverManagerStmtSuite>,
                       public ::testing::WithParamInterface<const char*> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-arrayinsert", {"--server", "hive-3.1", "--verbose"}, true); }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement("DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20;" +
                             GetParam());
    }
    std::string diags() { return diagText(SQL_HANDLE_STMT, stmt); }
    size_t insertsLogged() { return katest::occurrences(katest::fileText(log), "ExecuteStatement INSERT INTO"); }
    bool setting(const char* word) const { return std::string(GetParam()).find(word) != std::string::npos; }
};

TEST_P(Hs2ArrayInsert, HostileValuesReadBackByteEqual)
{
    const std::vector<std::string> values = hostileValues();
    const size_t n = values.size();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("DROP TABLE IF EXISTS hostile"), SQL_NTS)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("CREATE TABLE hostile (id int, s string)"), SQL_NTS)) << diags();
    size_t width = 0;
    for (const std::string& v : values)
        width = std::max(width, v.size() + 1);
    std::vector<char> texts(width * n, '\0');
    std::vector<SQLLEN> lengths(n);
    std::vector<SQLINTEGER> ids(n);
    for (size_t i = 0; i < n; ++i) {
        std::copy(values[i].begin(), values[i].end(), texts.begin() + static_cast<std::ptrdiff_t>(i * width));
        lengths[i] = static_cast<SQLLEN>(values[i].size());
        ids[i] = static_cast<SQLINTEGER>(i);
    }
    std::vector<SQLUSMALLINT> statuses(n + 1, 99);
    SQLULEN processed = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(n), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, statuses.data(), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt, sql("INSERT INTO hostile VALUES (?, ?)"), SQL_NTS)) << diags();
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, ids.data(), 0, nullptr));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 100000, 0, texts.data(),
                                            static_cast<SQLLEN>(width), lengths.data()));
    const size_t before = insertsLogged();
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << diags();
    const size_t statements = insertsLogged() - before;
    EXPECT_EQ(n, processed);
    EXPECT_EQ(std::vector<SQLUSMALLINT>(n, SQL_PARAM_SUCCESS),
              std::vector<SQLUSMALLINT>(statuses.begin(), statuses.begin() + n));
    EXPECT_EQ(99, statuses[n]);
    if (setting("BatchMechanism=1"))
        EXPECT_EQ(n, statements);
    else if (setting("ArrayInsertSize=1"))
        // 2 KB batches: the long values are sent on their own.
        EXPECT_TRUE(statements > 2 && statements < n) << statements;
    else
        EXPECT_EQ(1u, statements);
    SQLLEN count = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLRowCount(stmt, &count));
    EXPECT_TRUE(count == static_cast<SQLLEN>(n) || count == -1) << count;

    ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_RESET_PARAMS));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id, s FROM hostile ORDER BY id"), SQL_NTS)) << diags();
    std::vector<char> got(width + 16);
    size_t rows = 0;
    while (SQLFetch(stmt) == SQL_SUCCESS) {
        SQLINTEGER id = -1;
        SQLLEN idInd = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, &idInd)) << diags();
        ASSERT_EQ(static_cast<SQLINTEGER>(rows), id);
        SQLLEN sInd = 0;
        std::fill(got.begin(), got.end(), '\x5a');
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 2, SQL_C_CHAR, got.data(), static_cast<SQLLEN>(width), &sInd))
            << diags();
        ASSERT_EQ(static_cast<SQLLEN>(values[rows].size()), sInd) << rows;
        EXPECT_EQ(values[rows], std::string(got.data(), static_cast<size_t>(sInd))) << rows;
        // The terminator and the guard bytes past the buffer.
        EXPECT_EQ('\0', got[static_cast<size_t>(sInd)]);
        EXPECT_EQ('\x5a', got[width + 15]);
        ++rows;
    }
    EXPECT_EQ(n, rows);
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("DROP TABLE hostile"), SQL_NTS)) << diags();
}

TEST_P(Hs2ArrayInsert, ARowThatCannotBeConvertedFailsAloneAndEndsTheArray)
{
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("DROP TABLE IF EXISTS badrow"), SQL_NTS)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("CREATE TABLE badrow (n int)"), SQL_NTS)) << diags();
    // Text for an INTEGER parameter: the third is no number.
    char texts[5][8] = {"1", "2", "3 OR 1", "4", "5"};
    SQLLEN lengths[5] = {SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS};
    SQLUSMALLINT statuses[5] = {99, 99, 99, 99, 99};
    SQLULEN processed = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(5), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, statuses, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 0, 0, texts, 8, lengths));
    const size_t before = insertsLogged();
    ASSERT_EQ(SQL_SUCCESS_WITH_INFO, SQLExecDirect(stmt, sql("INSERT INTO badrow VALUES (?)"), SQL_NTS)) << diags();
    EXPECT_NE(std::string::npos, diags().find("22018")) << diags();
    const std::vector<SQLUSMALLINT> expected = {SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_ERROR, SQL_PARAM_UNUSED,
                                                SQL_PARAM_UNUSED};
    EXPECT_EQ(expected, std::vector<SQLUSMALLINT>(statuses, statuses + 5));
    EXPECT_EQ(3u, processed);
    EXPECT_EQ(setting("BatchMechanism=1") ? 2u : 1u, insertsLogged() - before);

    ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_RESET_PARAMS));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT n FROM badrow ORDER BY n"), SQL_NTS)) << diags();
    std::vector<int> got;
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    while (SQLFetch(stmt) == SQL_SUCCESS && SQLGetData(stmt, 1, SQL_C_SLONG, &v, 0, &ind) == SQL_SUCCESS)
        got.push_back(v);
    EXPECT_EQ((std::vector<int>{1, 2}), got);
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("DROP TABLE badrow"), SQL_NTS)) << diags();
}

// The default, batches of 2 KB, batches run asynchronously at the server,
// the SQL parser off (the text is not rewritten), row by row, and rows
// fetched row-wise.
const char* const kSettings[] = {
    "", "ArrayInsertSize=1;", "UseAsyncExecute=1;", "EnableSqlParser=0;", "BatchMechanism=1;", "CSP=4;"};
const char* const kSettingNames[] = {"Default", "SmallBatches", "Async", "NoParser", "RowByRow", "RowWise"};

std::string settingName(const ::testing::TestParamInfo<const char*>& info)
{
    return kSettingNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(Settings, Hs2ArrayInsert, ::testing::ValuesIn(kSettings), settingName);

}  // namespace
