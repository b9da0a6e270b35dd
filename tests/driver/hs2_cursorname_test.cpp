// Cursor names through unixODBC against the bundled HiveServer2 test server:
// names set and read back by the narrow and the wide calls, the names the
// driver gives results of queries and catalog functions, refusals with the
// SQLSTATEs ODBC names, a positioned statement that finds its cursor, and
// SQLGetFunctions telling the cursor-name functions and SQLSetPos from
// SQLBulkOperations, which the driver's read-only cursors do not offer.
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"
#include "support/hs2suite.h"

namespace {

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

std::vector<SQLWCHAR> wide(const std::u16string& text)
{
    std::vector<SQLWCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::u16string fromWide(const SQLWCHAR* text)
{
    std::u16string out;
    while (*text != 0)
        out.push_back(static_cast<char16_t>(*text++));
    return out;
}

class Hs2CursorName : public katest::Hs2Suite<katest::DriverManagerSuite> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-cursorname", {}); }
    void SetUp() override
    {
        DriverManagerSuite::SetUp();
        std::string in = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20";
        ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(in))) << diag(SQL_HANDLE_DBC, dbc).text;
        for (SQLHSTMT* s : {&first, &second})
            ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, s));
    }
    void TearDown() override
    {
        for (SQLHSTMT s : {first, second})
            if (s != SQL_NULL_HSTMT)
                SQLFreeHandle(SQL_HANDLE_STMT, s);
        SQLDisconnect(dbc);
        DriverManagerSuite::TearDown();
    }

    struct Diag {
        std::string state;
        std::string text;
    };
    static Diag diag(SQLSMALLINT type, SQLHANDLE handle)
    {
        Diag d;
        for (SQLSMALLINT i = 1;; ++i) {
            SQLCHAR s[6] = {};
            SQLCHAR message[1024] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, s, &native, message, sizeof message, &length)))
                break;
            if (d.state.empty())
                d.state = reinterpret_cast<char*>(s);
            d.text += std::string("[") + reinterpret_cast<char*>(s) + "] " + reinterpret_cast<char*>(message) + "\n";
        }
        return d;
    }

    // The statement's name through the narrow call, read whole.
    static std::string nameOf(SQLHSTMT s)
    {
        SQLCHAR name[64] = {};
        SQLSMALLINT length = -1;
        EXPECT_EQ(SQL_SUCCESS, SQLGetCursorName(s, name, sizeof name, &length)) << diag(SQL_HANDLE_STMT, s).text;
        EXPECT_EQ(static_cast<size_t>(length), std::strlen(reinterpret_cast<char*>(name)));
        return reinterpret_cast<char*>(name);
    }

    static bool generated(const std::string& name)
    {
        if (name.size() != 23 || name.compare(0, 7, "SQL_CUR") != 0)
            return false;
        for (size_t i = 7; i < name.size(); ++i)
            if (std::strchr("0123456789ABCDEF", name[i]) == nullptr)
                return false;
        return true;
    }

    SQLHSTMT first = SQL_NULL_HSTMT;
    SQLHSTMT second = SQL_NULL_HSTMT;
};

}  // namespace

TEST_F(Hs2CursorName, NamesSetByEitherCallReadBackByEither)
{
    ASSERT_EQ(SQL_SUCCESS, SQLSetCursorName(first, sql("Orders"), SQL_NTS)) << diag(SQL_HANDLE_STMT, first).text;
    SQLWCHAR back[32] = {};
    SQLSMALLINT length = -1;
    ASSERT_EQ(SQL_SUCCESS, SQLGetCursorNameW(first, back, 32, &length));
    EXPECT_EQ(u"Orders", fromWide(back));
    EXPECT_EQ(6, length);

    const std::u16string name = u"Bestände_ÅÄÖ";
    std::vector<SQLWCHAR> w = wide(name);
    ASSERT_EQ(SQL_SUCCESS, SQLSetCursorNameW(second, w.data(), SQL_NTS)) << diag(SQL_HANDLE_STMT, second).text;
    ASSERT_EQ(SQL_SUCCESS, SQLGetCursorNameW(second, back, 32, &length));
    EXPECT_EQ(name, fromWide(back));
    EXPECT_EQ(static_cast<SQLSMALLINT>(name.size()), length);

    // A counted name takes only its characters; the name lasts through a
    // query and its close.
    ASSERT_EQ(SQL_SUCCESS, SQLSetCursorName(first, sql("OrdersToo"), 6));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(first, sql("SELECT id FROM people ORDER BY id"), SQL_NTS))
        << diag(SQL_HANDLE_STMT, first).text;
    EXPECT_EQ("Orders", nameOf(first));
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(first));
    EXPECT_EQ("Orders", nameOf(first));
}

TEST_F(Hs2CursorName, QueriesAndCatalogResultsGetNamesOfTheirOwn)
{
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(first, sql("SELECT id FROM people ORDER BY id"), SQL_NTS))
        << diag(SQL_HANDLE_STMT, first).text;
    ASSERT_EQ(SQL_SUCCESS, SQLTables(second, nullptr, 0, nullptr, 0, sql("%"), SQL_NTS, nullptr, 0))
        << diag(SQL_HANDLE_STMT, second).text;
    SQLHSTMT third = SQL_NULL_HSTMT;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &third));
    // Asked before any result, the name the cursor will carry.
    const std::set<std::string> names = {nameOf(first), nameOf(second), nameOf(third)};
    EXPECT_EQ(3u, names.size());
    for (const std::string& n : names)
        EXPECT_TRUE(generated(n)) << n;
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(third, sql("SELECT id FROM people"), SQL_NTS));
    EXPECT_EQ(1u, names.count(nameOf(third)));

    // Four characters of room for 23 hold three and a NUL.
    SQLCHAR cut[4 + 4];
    std::memset(cut, 0x5A, sizeof cut);
    SQLSMALLINT length = -1;
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, SQLGetCursorName(first, cut, 4, &length));
    EXPECT_EQ(23, length);
    EXPECT_EQ(std::string("SQL"), reinterpret_cast<char*>(cut));
    EXPECT_EQ(0x5A, cut[4]);
    EXPECT_EQ("01004", diag(SQL_HANDLE_STMT, first).state);
    SQLWCHAR cutW[4 + 4];
    std::memset(cutW, 0x5A, sizeof cutW);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, SQLGetCursorNameW(first, cutW, 4, &length));
    EXPECT_EQ(23, length);
    EXPECT_EQ(u"SQL", fromWide(cutW));
    EXPECT_EQ(0x5A5A, cutW[4]);
    EXPECT_EQ(SQL_SUCCESS, SQLFreeHandle(SQL_HANDLE_STMT, third));
}

TEST_F(Hs2CursorName, BadNamesAreRefusedWithTheirSqlstates)
{
    ASSERT_EQ(SQL_SUCCESS, SQLSetCursorName(first, sql("C1"), SQL_NTS));
    const struct {
        const char* name;
        SQLSMALLINT length;
        const char* state;
    } cases[] = {
        {"C1", SQL_NTS, "3C000"},         {"c1", SQL_NTS, "3C000"},
        {"SQLCURSOR1", SQL_NTS, "34000"}, {"SQL_CUR1", SQL_NTS, "34000"},
        {"sql_cur1", SQL_NTS, "34000"},   {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", SQL_NTS, "34000"},
        {"", SQL_NTS, "HY090"},           {"C2", 0, "HY090"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SQL_ERROR, SQLSetCursorName(second, sql(c.name), c.length));
        EXPECT_EQ(c.state, diag(SQL_HANDLE_STMT, second).state) << diag(SQL_HANDLE_STMT, second).text;
    }
    EXPECT_EQ(SQL_SUCCESS, SQLSetCursorName(second, sql("sqlcur77"), SQL_NTS));
    EXPECT_EQ("C1", nameOf(first));

    // Once executed, the name stays until the cursor is closed.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql("SELECT id FROM people"), SQL_NTS));
    EXPECT_EQ(SQL_ERROR, SQLSetCursorName(second, sql("C3"), SQL_NTS));
    EXPECT_EQ("24000", diag(SQL_HANDLE_STMT, second).state);
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(second));
    EXPECT_EQ(SQL_SUCCESS, SQLSetCursorName(second, sql("C3"), SQL_NTS));
    EXPECT_EQ("C3", nameOf(second));
}

TEST_F(Hs2CursorName, APositionedStatementFindsItsCursorByName)
{
    ASSERT_EQ(SQL_SUCCESS, SQLSetCursorName(first, sql("People_Cursor"), SQL_NTS));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(first, sql("SELECT id, name FROM people ORDER BY id"), SQL_NTS));
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(first));

    // Found whatever the case, and refused because Hive's cursors are
    // read-only; an unknown name is an invalid cursor name.
    EXPECT_EQ(SQL_ERROR,
              SQLExecDirect(second, sql("UPDATE people SET name = 'x' WHERE CURRENT OF PEOPLE_CURSOR"), SQL_NTS));
    Diag d = diag(SQL_HANDLE_STMT, second);
    EXPECT_EQ("34000", d.state) << d.text;
    EXPECT_NE(std::string::npos, d.text.find("read-only")) << d.text;
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(second, sql("DELETE FROM people WHERE CURRENT OF nosuch"), SQL_NTS));
    d = diag(SQL_HANDLE_STMT, second);
    EXPECT_EQ("34000", d.state) << d.text;
    EXPECT_NE(std::string::npos, d.text.find("nosuch")) << d.text;
    // The cursor read on untouched.
    EXPECT_EQ(SQL_SUCCESS, SQLFetch(first));
}

TEST_F(Hs2CursorName, GetFunctionsReportsWhatTheDriverDoes)
{
    SQLUSMALLINT all[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE] = {};
    ASSERT_EQ(SQL_SUCCESS, SQLGetFunctions(dbc, SQL_API_ODBC3_ALL_FUNCTIONS, all));
    const struct {
        SQLUSMALLINT function;
        bool offered;
    } cases[] = {
        {SQL_API_SQLSETCURSORNAME, true},
        {SQL_API_SQLGETCURSORNAME, true},
        {SQL_API_SQLFETCH, true},
        // Rows of static cursors are positioned and refreshed; no cursor
        // changes rows, as every one is read-only.
        {SQL_API_SQLBULKOPERATIONS, false},
        {SQL_API_SQLSETPOS, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        EXPECT_EQ(c.offered, SQL_FUNC_EXISTS(all, c.function) == SQL_TRUE);
        SQLUSMALLINT one = 9;
        ASSERT_EQ(SQL_SUCCESS, SQLGetFunctions(dbc, c.function, &one));
        EXPECT_EQ(c.offered ? SQL_TRUE : SQL_FALSE, one);
    }
    // What is reported as missing is indeed refused.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(first, sql("SELECT id FROM people"), SQL_NTS));
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(first));
    EXPECT_EQ(SQL_ERROR, SQLBulkOperations(first, SQL_ADD));
    EXPECT_EQ(SQL_ERROR, SQLSetPos(first, 1, SQL_REFRESH, SQL_LOCK_NO_CHANGE));
}
