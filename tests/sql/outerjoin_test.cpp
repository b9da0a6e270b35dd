// Outer-join escapes rewritten into the older notations: the join words, the
// marks on the condition, where the condition lands in the WHERE clause, and
// the refusals.
#include <gtest/gtest.h>

#include <string>

#include "errorscope.h"
#include "kamessages.h"
#include "sql/basesql.h"
#include "sql/escape.h"

namespace {

const uint16_t* W(const std::u16string& s)
{
    return reinterpret_cast<const uint16_t*>(s.c_str());
}

// Function escapes written as "<fn body>", so that translation inside a
// moved condition shows.
class OuterJoinHost : public KaEscapeHost {
public:
    explicit OuterJoinHost(int32_t mode) { outerJoinSyntax = mode; }
    int translateEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind, uint32_t) noexcept override
    {
        if (kind != KA_ESC_FUNCTION)
            return KaEscapeHost::translateEscape(body, out, kind, 0);
        if (out.appendNarrow("<fn", 3) != 0 || out.append(body.text, body.length) != 0)
            return 1;
        return out.appendChar('>');
    }
};

struct Result {
    int rc;
    std::string sql;
    uint16_t error;
    uint32_t markers;
};

Result run(OuterJoinHost& host, const std::u16string& in)
{
    katest::ErrorScope errors;
    BaseSqlStringW s(W(in), int64_t(in.size()));
    Result r{};
    int32_t returnParameter = 0, callKind = 0;
    r.rc = translateEscapes(host, s, 0, &r.markers, &returnParameter, &callKind);
    r.sql = katest::narrow(std::u16string(reinterpret_cast<const char16_t*>(s.data), s.len));
    r.error = errors.size() > 0 ? errors.native(0) : 0;
    return r;
}

struct Case {
    int32_t mode;
    std::u16string in;
    std::string out;
};

TEST(OuterJoinEscape, RewritesEachNotation)
{
    const Case cases[] = {
        // Every right-hand operand of a LEFT join marked; with the first-mark
        // notation only the first.
        {KA_OJ_MARK_ALL, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b}",
         "SELECT * FROM  t1 , t2   WHERE t1.a = t2.b(+) "},
        {KA_OJ_MARK_ALL, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b AND t1.c = t2.d}",
         "SELECT * FROM  t1 , t2   WHERE t1.a = t2.b(+) AND t1.c = t2.d(+) "},
        {KA_OJ_MARK_FIRST, u"SELECT * FROM {oj t1 left outer join t2 on t1.a = t2.b AND t1.c = t2.d}",
         "SELECT * FROM  t1 , t2   WHERE t1.a = t2.b(+) AND t1.c = t2.d "},
        // RIGHT marks the left operand of every comparison; a literal,
        // a marker or a quoted text takes no mark.
        {KA_OJ_MARK_ALL, u"SELECT * FROM {oj t1 RIGHT OUTER JOIN t2 ON t1.a = t2.b AND t1.c >= 5}",
         "SELECT * FROM  t1 , t2   WHERE t1.a(+) = t2.b AND t1.c(+) >= 5 "},
        {KA_OJ_MARK_ALL, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t2.b = 5}",
         "SELECT * FROM  t1 , t2   WHERE t2.b = 5 "},
        {KA_OJ_MARK_ALL, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = 'x' OR t1.b = ?}",
         "SELECT * FROM  t1 , t2   WHERE t1.a = 'x' OR t1.b = ? "},
        {KA_OJ_MARK_ALL, u"SELECT * FROM {oj t1 RIGHT OUTER JOIN t2 ON 'x' = t2.b}",
         "SELECT * FROM  t1 , t2   WHERE 'x' = t2.b "},
        // The mark goes inside the close parentheses after its operand.
        {KA_OJ_MARK_ALL, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON ((t1.a = t2.b))}",
         "SELECT * FROM  t1 , t2   WHERE ((t1.a = t2.b(+))) "},
        {KA_OJ_STAR_EQUALS, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b AND t1.c <> t2.d}",
         "SELECT * FROM  t1 , t2   WHERE t1.a *= t2.b AND t1.c <> t2.d "},
        {KA_OJ_STAR_EQUALS, u"SELECT * FROM {oj t1 RIGHT OUTER JOIN t2 ON t1.a = t2.b}",
         "SELECT * FROM  t1 , t2   WHERE t1.a =* t2.b "},
        {KA_OJ_OUTER_KEYWORD, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b}",
         "SELECT * FROM  t1 , OUTER ( t2 )  WHERE t1.a = t2.b "},
        {KA_OJ_OUTER_KEYWORD, u"SELECT * FROM {oj t1 RIGHT OUTER JOIN t2 ON t1.a = t2.b}",
         "SELECT * FROM   t2 , OUTER (t1 )  WHERE t1.a = t2.b "},
        // The long form is the same escape.
        {KA_OJ_MARK_ALL,
         u"SELECT * FROM --(*vendor(Microsoft),product(ODBC) oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b*)--",
         "SELECT * FROM  t1 , t2   WHERE t1.a = t2.b(+) "},
    };
    for (const Case& c : cases) {
        OuterJoinHost host(c.mode);
        Result r = run(host, c.in);
        EXPECT_EQ(r.rc, 0) << katest::narrow(c.in);
        EXPECT_EQ(r.error, 0) << katest::narrow(c.in);
        EXPECT_EQ(r.sql, c.out) << katest::narrow(c.in);
    }
}

// Where the moved condition lands: before what ends the WHERE clause, inside
// the parenthesised query that holds the escape, and joined to a WHERE that
// is there already with both sides in parentheses, so that an OR in either
// keeps its meaning.
TEST(OuterJoinEscape, PlacesTheConditionInTheRightWhereClause)
{
    const Case cases[] = {
        {KA_OJ_MARK_ALL, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b} WHERE x = 1",
         "SELECT * FROM  t1 , t2   WHERE ( t1.a = t2.b(+)) AND ( x = 1)"},
        {KA_OJ_MARK_ALL,
         u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b OR t1.c = t2.d} WHERE x = 1 OR y = 2 GROUP BY a",
         "SELECT * FROM  t1 , t2   WHERE ( t1.a = t2.b(+) OR t1.c = t2.d(+)) AND ( x = 1 OR y = 2 )GROUP BY a"},
        {KA_OJ_MARK_ALL, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b} ORDER BY 1",
         "SELECT * FROM  t1 , t2    WHERE t1.a = t2.b(+) ORDER BY 1"},
        {KA_OJ_MARK_ALL, u"SELECT a FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b} UNION SELECT a FROM t3 WHERE z = 0",
         "SELECT a FROM  t1 , t2    WHERE t1.a = t2.b(+) UNION SELECT a FROM t3 WHERE z = 0"},
        {KA_OJ_MARK_ALL, u"SELECT * FROM (SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b}) q WHERE q.a = 1",
         "SELECT * FROM (SELECT * FROM  t1 , t2   WHERE t1.a = t2.b(+) ) q WHERE q.a = 1"},
        {KA_OJ_MARK_ALL,
         u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b} WHERE x IN (SELECT y FROM t3 WHERE z = 1)",
         "SELECT * FROM  t1 , t2   WHERE ( t1.a = t2.b(+)) AND ( x IN (SELECT y FROM t3 WHERE z = 1))"},
    };
    for (const Case& c : cases) {
        OuterJoinHost host(c.mode);
        Result r = run(host, c.in);
        EXPECT_EQ(r.rc, 0) << katest::narrow(c.in);
        EXPECT_EQ(r.sql, c.out) << katest::narrow(c.in);
    }
}

TEST(OuterJoinEscape, EveryJoinOfABodyOrOnlyTheFirst)
{
    const std::u16string in =
        u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b LEFT OUTER JOIN t3 ON t2.c = t3.d} WHERE x = 1";
    OuterJoinHost all(KA_OJ_MARK_ALL);
    Result r = run(all, in);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.sql, "SELECT * FROM  t1 , t2 , t3   WHERE ( t2.c = t3.d(+)) AND ( ( t1.a = t2.b(+) ) AND ( x = 1))");

    OuterJoinHost first(KA_OJ_MARK_ALL);
    first.firstOuterJoinOnly = true;
    r = run(first, in);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.sql, "SELECT * FROM  t1 , t2 LEFT OUTER JOIN t3 ON t2.c = t3.d  WHERE ( t1.a = t2.b(+) ) AND ( x = 1)");

    // A join nested before its ON: the inner ON is counted off.
    OuterJoinHost nested(KA_OJ_MARK_ALL);
    r = run(nested, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 LEFT OUTER JOIN t3 ON t2.c = t3.d ON t1.a = t2.b}");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.sql, "SELECT * FROM  t1 , t2 , t3   WHERE ( t2.c = t3.d(+) ) AND ( t1.a = t2.b(+) )");
}

// The moved condition is read again: escapes in it are translated and its
// parameter markers counted once.
TEST(OuterJoinEscape, EscapesAndMarkersInTheConditionStillCount)
{
    OuterJoinHost host(KA_OJ_MARK_ALL);
    Result r =
        run(host, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = {fn ucase(t2.b)} AND t2.c = ?} WHERE d = ?");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.markers, 2u);
    EXPECT_EQ(r.sql, "SELECT * FROM  t1 , t2   WHERE ( t1.a =  <fn(t2.b)> AND t2.c = ?) AND ( d = ?)");
}

TEST(OuterJoinEscape, RefusesWhatItCannotRewrite)
{
    struct Refusal {
        std::u16string in;
        bool fullAllowed;
        uint16_t error;
    };
    const Refusal cases[] = {
        {u"SELECT * FROM {oj t1, t2}", false, MSG_OUTER_JOIN_ESCAPE_WITHOUT_JOIN},
        {u"SELECT * FROM {oj t1 INNER JOIN t2 ON t1.a = t2.b}", false, MSG_OUTER_JOIN_ESCAPE_WITHOUT_JOIN},
        {u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2}", false, MSG_OUTER_JOIN_WITHOUT_ON},
        {u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 WHERE t1.a = t2.b}", false, MSG_OUTER_JOIN_WITHOUT_ON},
        {u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON } WHERE x = 1", false, MSG_OUTER_JOIN_WITHOUT_ON},
        {u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON LEFT OUTER JOIN t3 ON t2.c = t3.d}", false,
         MSG_OUTER_JOIN_WITHOUT_ON},
        {u"SELECT * FROM {oj t1 FULL OUTER JOIN t2 ON t1.a = t2.b}", false, MSG_ESCAPE_NO_SERVER_FORM},
    };
    for (const Refusal& c : cases) {
        OuterJoinHost host(KA_OJ_MARK_ALL);
        host.fullOuterJoinAllowed = c.fullAllowed;
        Result r = run(host, c.in);
        EXPECT_EQ(r.rc, 1) << katest::narrow(c.in);
        EXPECT_EQ(r.error, c.error) << katest::narrow(c.in);
    }
    OuterJoinHost full(KA_OJ_STAR_EQUALS);
    full.fullOuterJoinAllowed = true;
    Result r = run(full, u"SELECT * FROM {oj t1 FULL OUTER JOIN t2 ON t1.a = t2.b}");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.sql, "SELECT * FROM  t1 , t2   WHERE t1.a *= t2.b ");
}

// Words the connection names end the WHERE clause as GROUP BY does.
TEST(OuterJoinEscape, TheConnectionsOwnClauseWordsEndTheWhereClause)
{
    OuterJoinHost host(KA_OJ_MARK_ALL);
    static const char16_t words[] = u"QUALIFY\0";
    host.whereEndWords = reinterpret_cast<const uint16_t*>(words);
    Result r = run(host, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b} QUALIFY n = 1");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.sql, "SELECT * FROM  t1 , t2    WHERE t1.a = t2.b(+) QUALIFY n = 1");
}

// Without a notation the body stays as written (servers with ANSI joins).
TEST(OuterJoinEscape, AsWrittenLeavesTheJoinToTheHook)
{
    OuterJoinHost host(KA_OJ_AS_WRITTEN);
    Result r = run(host, u"SELECT * FROM {oj t1 LEFT OUTER JOIN t2 ON t1.a = t2.b}");
    EXPECT_EQ(r.rc, 1);  // this host's hook has no form for it
    EXPECT_EQ(r.error, MSG_ESCAPE_NO_SERVER_FORM);
}

}  // namespace
