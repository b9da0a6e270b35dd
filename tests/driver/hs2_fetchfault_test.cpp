// A block that fails to arrive, through unixODBC against the bundled test
// server: the fetch that needed it fails, and every fetch after it fails
// the same way instead of reporting the end of the result, in both result
// layouts, whether the server refused the block or the link broke in it.
#include <ostream>
#include <string>

#include "support/drivermanager.h"
#include "support/hs2process.h"
#include "support/hs2suite.h"

namespace {

using katest::diagText;

// Rows of a block the server sends, and of the result.
constexpr int kBlockRows = 1000;
constexpr int kResultRows = 3500;

struct Case {
    const char* name;
    const char* fault;  // the session's fault, on its second FetchResults
    const char* layout;
};

const Case kCases[] = {
    {"refused_columns", "refuse=FetchResults:2", ""},
    {"refused_rows", "refuse=FetchResults:2", "CSP=4;"},
    {"cut_columns", "truncate=FetchResults:2", ""},
    {"cut_rows", "truncate=FetchResults:2", "CSP=4;"},
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

class Hs2FetchFault : public katest::Hs2Suite<katest::DriverManagerStmtSuite>,
                      public ::testing::WithParamInterface<Case> {
protected:
    static void SetUpTestSuite()
    {
        startHs2("hs2-fetchfault", {"--server", "hive-3.1", "--synthetic-rows", std::to_string(kResultRows),
                                    "--max-fetch-size", std::to_string(kBlockRows)});
    }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement("DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20;" +
                             GetParam().layout);
    }
};

TEST_P(Hs2FetchFault, FetchesAfterAFailedBlockKeepFailingWithTheSameState)
{
    const std::string set = std::string("SET hs2server.fault.") + GetParam().fault;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(set.c_str())), SQL_NTS)))
        << diagText(SQL_HANDLE_STMT, stmt);
    SQLCloseCursor(stmt);
    SQLCHAR query[] = "SELECT id FROM bench.synthetic";
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, query, SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
    int rows = 0;
    SQLRETURN rc = SQL_SUCCESS;
    while (rows <= kResultRows && SQL_SUCCEEDED(rc = SQLFetch(stmt)))
        ++rows;
    ASSERT_EQ(SQL_ERROR, rc) << "after " << rows << " rows";
    // The first block was whole; of the second no more than its rows that
    // came before the cut (row-wise rows are served as they arrive).
    EXPECT_GE(rows, kBlockRows);
    EXPECT_LT(rows, 2 * kBlockRows);
    std::string first;
    diagText(SQL_HANDLE_STMT, stmt, &first);
    ASSERT_EQ(5u, first.size());
    for (int again = 1; again <= 3; ++again) {
        EXPECT_EQ(SQL_ERROR, SQLFetch(stmt)) << "fetch " << again << " after the failed one";
        std::string state;
        const std::string text = diagText(SQL_HANDLE_STMT, stmt, &state);
        EXPECT_EQ(first, state) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, Hs2FetchFault, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
