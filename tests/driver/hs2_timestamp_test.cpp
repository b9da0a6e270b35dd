// Timestamps through unixODBC under every server identity and both result
// layouts: the column's description, the type information and the values
// delivered agree, nanoseconds included. A process of its own, since
// unixODBC reads its ini folder once per process.
#include <string>
#include <tuple>
#include <vector>

#include "support/hs2suite.h"

namespace {

using katest::diagText;

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// Server identity and layout (the options that choose it).
using IdentityLayout = std::tuple<const char*, const char*>;

// Timestamps under every server identity: the description, the type
// information and the values delivered agree.
class Hs2Timestamps : public katest::Hs2Suite<katest::DriverManagerStmtSuite>,
                      public ::testing::WithParamInterface<IdentityLayout> {
protected:
    static void SetUpTestSuite() { writeHs2Ini("hs2-timestamps"); }
    void SetUp() override
    {
        startServer({"--server", std::get<0>(GetParam()), "--synthetic-rows", "10"});
        DriverManagerStmtSuite::SetUp();
        connectWithStatement(hs2String("LT=20;" + std::string(std::get<1>(GetParam()))));
    }
    void TearDown() override
    {
        DriverManagerStmtSuite::TearDown();
        server.reset();
    }
    std::string diags() { return diagText(SQL_HANDLE_STMT, stmt); }
};

TEST_P(Hs2Timestamps, AreDescribedWithTheNanosecondsTheyArriveWith)
{
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id, c_timestamp FROM all_types ORDER BY id"), SQL_NTS))
        << diags();
    SQLCHAR name[64] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(stmt, 2, name, sizeof name, &nameLength, &type, &size, &digits, &nullable))
        << diags();
    EXPECT_EQ(SQL_TYPE_TIMESTAMP, type);
    EXPECT_EQ(29u, size);
    EXPECT_EQ(9, digits);
    SQLLEN display = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(stmt, 2, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display));
    EXPECT_EQ(29, display);
    // A buffer sized from the description takes every value whole.
    constexpr size_t kGuard = 8;
    std::string longest;
    size_t rows = 0;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
        ++rows;
        std::vector<char> buffer(size + 1 + kGuard, '\x5a');
        SQLLEN length = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 2, SQL_C_CHAR, buffer.data(), SQLLEN(size + 1), &length)) << diags();
        for (size_t i = size + 1; i < buffer.size(); ++i)
            ASSERT_EQ('\x5a', buffer[i]) << "guard byte " << i;
        if (length == SQL_NULL_DATA)
            continue;
        ASSERT_LE(length, SQLLEN(size));
        if (size_t(length) > longest.size())
            longest.assign(buffer.data(), size_t(length));
    }
    EXPECT_EQ(SQL_NO_DATA, rc) << diags();
    EXPECT_EQ(40u, rows);
    EXPECT_EQ("9999-12-31 23:59:59.999999999", longest);
    // The type information says the same.
    SQLHSTMT info = SQL_NULL_HSTMT;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &info));
    ASSERT_EQ(SQL_SUCCESS, SQLGetTypeInfo(info, SQL_TYPE_TIMESTAMP)) << diagText(SQL_HANDLE_STMT, info);
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(info)) << diagText(SQL_HANDLE_STMT, info);
    SQLINTEGER columnSize = 0;
    SQLSMALLINT maximumScale = 0;
    SQLLEN ind = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(info, 3, SQL_C_SLONG, &columnSize, 0, &ind)));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(info, 15, SQL_C_SSHORT, &maximumScale, 0, &ind)));
    EXPECT_EQ(29, columnSize);
    EXPECT_EQ(9, maximumScale);
    EXPECT_EQ(SQL_SUCCESS, SQLFreeHandle(SQL_HANDLE_STMT, info));
}

INSTANTIATE_TEST_SUITE_P(Identities, Hs2Timestamps,
                         ::testing::Combine(::testing::Values("hive-1.2", "hive-2.3", "hive-3.1", "spark-3"),
                                            ::testing::Values("", "CSP=4;")),
                         [](const ::testing::TestParamInfo<IdentityLayout>& info) {
                             std::string name = std::get<0>(info.param);
                             for (char& c : name)
                                 if (c == '-' || c == '.')
                                     c = '_';
                             return name + (std::get<1>(info.param)[0] == 0 ? "_columns" : "_rows");
                         });

}  // namespace
