#include "odbc/nativesql.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>

#include "exportfixture.h"

namespace {

using katest::diagOf;
using katest::W;

// A Hive connection with the rewriter's options at their defaults, as
// reading the options leaves them.
class NativeSql : public katest::ExportFixture {
protected:
    void attachOpen()
    {
        HiveConnection* conn = katest::ExportFixture::attachOpen();
        conn->enableSqlParser = 1;
        conn->quoteAliases = 1;
        conn->parseDelimitedIds = 1;
    }
};

std::u16string answerOf(const SQLWCHAR* out, SQLINTEGER length)
{
    return std::u16string(reinterpret_cast<const char16_t*>(out), size_t(length));
}

TEST_F(NativeSql, ReturnsTheHiveQLTranslation)
{
    attachOpen();
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"select {fn ucase(name)} from t where d = {d '2024-01-31'};",
         u"select  ucase(name) from t t where d =  '2024-01-31'"},
        {u"select 'it''s' from t  ", u"select 'it\\'s' from t t"},
        {u"select {fn mod(a, 3)} m from t", u"select  ((a) % (3)) `m` from t t"},
        {u"insert into t values ({d '2024-01-31'})",
         u"insert into TABLE  t  SELECT  '2024-01-31' FROM (SELECT COUNT(*) FROM  t ) TEMP_ALIAS"},
        {u"select 1", u"select 1"},
    };
    for (const auto& c : cases) {
        SQLWCHAR out[128] = {};
        SQLINTEGER length = -1;
        std::u16string in = c.first;
        EXPECT_EQ(SQLNativeSqlW(dbc, const_cast<SQLWCHAR*>(W(in.c_str())), SQL_NTS, out, 128, &length), SQL_SUCCESS);
        EXPECT_EQ(answerOf(out, length), c.second);
    }
}

TEST_F(NativeSql, RefusedEscapeFailsWithSyntaxError)
{
    attachOpen();
    std::u16string in = u"{call p(1)}";
    SQLWCHAR out[64] = {};
    SQLINTEGER length = 0;
    EXPECT_EQ(SQLNativeSqlW(dbc, const_cast<SQLWCHAR*>(W(in.c_str())), SQL_NTS, out, 64, &length), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "42000");
}

TEST_F(NativeSql, IncompleteInsertValuesIsRefused)
{
    attachOpen();
    std::u16string in = u"insert into t values (1, 2";
    SQLWCHAR out[64] = {};
    SQLINTEGER length = 0;
    EXPECT_EQ(SQLNativeSqlW(dbc, const_cast<SQLWCHAR*>(W(in.c_str())), SQL_NTS, out, 64, &length), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "42000");
}

TEST_F(NativeSql, ShortBufferIsCutWithAWarning)
{
    attachOpen();
    std::u16string in = u"select {fn ucase(name)} from t";
    SQLWCHAR out[8];
    for (auto& u : out)
        u = 0x7777;
    SQLINTEGER length = 0;
    EXPECT_EQ(SQLNativeSqlW(dbc, const_cast<SQLWCHAR*>(W(in.c_str())), SQL_NTS, out, 6, &length),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(length, SQLINTEGER(std::u16string(u"select  ucase(name) from t t").size()));
    EXPECT_EQ(answerOf(out, 5), u"selec");
    EXPECT_EQ(out[5], 0);
    EXPECT_EQ(out[6], 0x7777);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "01004");
}

TEST_F(NativeSql, LengthOnlyWhenNoBuffer)
{
    attachOpen();
    std::u16string in = u"select {d '2024-01-31'}";
    SQLINTEGER length = 0;
    EXPECT_EQ(SQLNativeSqlW(dbc, const_cast<SQLWCHAR*>(W(in.c_str())), SQLINTEGER(in.size()), nullptr, 0, &length),
              SQL_SUCCESS);
    EXPECT_EQ(length, SQLINTEGER(std::u16string(u"select  '2024-01-31'").size()));
}

}  // namespace
