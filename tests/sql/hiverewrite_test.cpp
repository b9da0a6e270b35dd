#include "sql/hiverewrite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errorscope.h"
#include "hiveeval.h"
#include "kamessages.h"
#include "sql/basesql.h"

namespace {

struct Rewritten {
    int rc;
    std::string sql;
};

Rewritten rewrite(const std::string& in, uint32_t removeQualifiers = 0, uint32_t quoteAliases = 1,
                  uint32_t delimitedIds = 1)
{
    std::u16string wide(in.begin(), in.end());
    const uint16_t* begin = reinterpret_cast<const uint16_t*>(wide.data());
    HiveSqlRewriter rewriter(removeQualifiers, quoteAliases, delimitedIds);
    KaStringW out;
    Rewritten r{};
    r.rc = rewriter.rewrite(begin, begin + wide.size(), out);
    r.sql = r.rc == kHiveRewriteDone
                ? katest::narrow(std::u16string(reinterpret_cast<const char16_t*>(out.data), out.len))
                : in;
    return r;
}

struct Case {
    const char* in;
    const char* out;  // the text the server gets
};

TEST(HiveSqlRewriter, RewritesIntoHiveQL)
{
    const Case cases[] = {
        {"INSERT INTO t VALUES (1, 'a')",
         "INSERT INTO TABLE  t  SELECT 1, 'a' FROM (SELECT COUNT(*) FROM  t ) TEMP_ALIAS"},
        {"INSERT INTO TABLE t VALUES (1)", "INSERT INTO TABLE  t  SELECT 1 FROM (SELECT COUNT(*) FROM  t ) TEMP_ALIAS"},
        {"INSERT INTO db.t VALUES (f(1), 2)",
         "INSERT INTO TABLE  db.t  SELECT f(1), 2 FROM (SELECT COUNT(*) FROM  db.t ) TEMP_ALIAS"},
        {"INSERT INTO t (c1) VALUES (1)", "INSERT INTO t (c1) VALUES (1)"},
        {"INSERT INTO t VALUES (1), (2)", "INSERT INTO t VALUES (1), (2)"},
        {"INSERT INTO t SELECT * FROM s", "INSERT INTO t SELECT * FROM s"},
        {"SELECT a b, c FROM t1, t2 WHERE x = 1", "SELECT a `b`, c FROM t1 t1 JOIN  t2 t2 WHERE x = 1"},
        {"SELECT a AS \"b\" FROM t", "SELECT a AS `b` FROM t t"},
        {"SELECT x FROM t a", "SELECT x FROM t a"},
        {"SELECT x FROM t AS a", "SELECT x FROM t AS a"},
        {"SELECT x FROM t AS a JOIN u AS b ON a.k = b.k", "SELECT x FROM t AS a JOIN u AS b ON a.k = b.k"},
        {"SELECT * FROM (SELECT a b FROM t) x, u", "SELECT * FROM (SELECT a `b` FROM t t) x JOIN  u u"},
        {"SELECT * FROM t JOIN u ON t.k = u.k", "SELECT * FROM t t JOIN u u ON t.k = u.k"},
        {"UPDATE t SET a = 1", "UPDATE t SET a = 1"},
        {"DELETE FROM t WHERE a = 1", "DELETE FROM t WHERE a = 1"},
        {"UPDATE t x SET a = 1", "UPDATE t x SET a = 1"},
        {"WITH q AS (SELECT 1) SELECT * FROM q", "WITH q AS (SELECT 1) SELECT * FROM q"},
        {"SHOW TABLES", "SHOW TABLES"},
        {"SELECT CAST(x AS INT) y FROM t", "SELECT CAST(x AS INT) `y` FROM t t"},
        {"SELECT [my col] FROM [my table]", "SELECT `my col` FROM `my table` `my table`"},
        {"SELECT a FROM t JOIN [SHUFFLE] u ON t.k = u.k", "SELECT a FROM t t JOIN [SHUFFLE] u u ON t.k = u.k"},
        // Literals, subscripts and valid aliases are left alone.
        {"SELECT a, 'x%' FROM t", "SELECT a, 'x%' FROM t t"},
        {"SELECT a || 'x%' FROM t", "SELECT a || 'x%' FROM t t"},
        {"SELECT 1 'x%' FROM t", "SELECT 1 'x%' FROM t t"},
        {"SELECT concat(a, 'x') FROM t", "SELECT concat(a, 'x') FROM t t"},
        {"SELECT a AS 'b' FROM t", "SELECT a AS `b` FROM t t"},
        {"SELECT arr[0] FROM t", "SELECT arr[0] FROM t t"},
        {"SELECT f(x)[0] FROM t", "SELECT f(x)[0] FROM t t"},
        {"SELECT m['k'] v FROM t", "SELECT m['k'] `v` FROM t t"},
        {"SELECT `a b` c FROM t", "SELECT `a b` `c` FROM t t"},
    };
    for (const auto& c : cases) {
        Rewritten r = rewrite(c.in);
        EXPECT_NE(r.rc, kHiveRewriteRefused) << c.in;
        EXPECT_EQ(r.sql, c.out) << c.in;
    }
}

TEST(HiveSqlRewriter, ThreePartColumnNamesLoseTheirFirstPart)
{
    EXPECT_EQ(rewrite("SELECT db.t.c FROM db.t", 1).sql, "SELECT  t.c FROM db.t t");
    EXPECT_EQ(rewrite("SELECT db.t.c FROM db.t", 0).sql, "SELECT db.t.c FROM db.t t");
}

TEST(HiveSqlRewriter, UnterminatedInsertValuesIsRefused)
{
    katest::ErrorScope errors;
    Rewritten r = rewrite("INSERT INTO t VALUES (1, 2");
    EXPECT_EQ(r.rc, kHiveRewriteRefused);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_STATEMENT_INCOMPLETE);
    EXPECT_EQ(katest::sqlstate(errors.at(0)), "42000");
}

TEST(HiveSqlRewriter, UnclosedTextsRunToTheEnd)
{
    const char* cases[] = {"SELECT 'abc FROM t", "SELECT \"abc FROM t", "SELECT `abc FROM t",
                           "SELECT [abc FROM t", "SELECT {abc FROM t",  "SELECT a /* b"};
    for (const char* c : cases) {
        Rewritten r = rewrite(c);
        EXPECT_EQ(r.sql, c);
    }
}

}  // namespace

namespace {

// The rewritten statements run on the test server and give what the
// original statements mean.
TEST(HiveSqlRewriter, RewrittenStatementsRunOnTheServer)
{
    const std::pair<const char*, const char*> cases[] = {
        {"CREATE TABLE rw_t (a int, b string)", "null"},
        {"INSERT INTO rw_t VALUES (7, 'x')", "null"},
        {"SELECT b v FROM rw_t WHERE a = 7", "\"x\""},
        {"SELECT id i FROM all_types WHERE id = 1", "1"},
        {"SELECT a.id FROM all_types a, all_types b WHERE a.id = b.id AND a.id = 2", "2"},
        {"SELECT x.id FROM (SELECT id k, id FROM all_types) x, all_types u WHERE x.id = u.id AND u.id = 3", "3"},
        {"SELECT concat(b, 'y%') FROM rw_t", "\"xy%\""},
    };
    std::vector<std::string> statements;
    for (const auto& c : cases) {
        Rewritten r = rewrite(c.first);
        statements.push_back("!" + r.sql);
    }
    std::vector<std::string> got = katest::evaluateOnTestServer(statements);
    ASSERT_EQ(got.size(), statements.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], cases[i].second) << cases[i].first << " -> " << statements[i];
}

}  // namespace

namespace {

TEST(HiveSqlRewriter, PreprocessTrimsAndRewritesByTheOptions)
{
    std::u16string in = u"SELECT a b FROM t ;; \n";
    const uint16_t* w = reinterpret_cast<const uint16_t*>(in.c_str());
    BaseSqlStringW on(w, int64_t(in.size()));
    ASSERT_EQ(hivePreprocessSql(on, HiveRewriteOptions{}), 0);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(on.data), on.len), u"SELECT a `b` FROM t t");
    HiveRewriteOptions off;
    off.enableSqlParser = 0;
    BaseSqlStringW kept(w, int64_t(in.size()));
    ASSERT_EQ(hivePreprocessSql(kept, off), 0);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(kept.data), kept.len), u"SELECT a b FROM t");
    EXPECT_TRUE(kept.borrowed());
    katest::ErrorScope errors;
    std::u16string cut = u"INSERT INTO t VALUES (1";
    BaseSqlStringW refused(reinterpret_cast<const uint16_t*>(cut.c_str()), int64_t(cut.size()));
    EXPECT_EQ(hivePreprocessSql(refused, HiveRewriteOptions{}), 1);
}

}  // namespace
