#include "sql/hiveescape.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errorscope.h"
#include "hiveeval.h"
#include "kamessages.h"
#include "sql/basesql.h"

namespace {

const uint16_t* W(const std::u16string& s)
{
    return reinterpret_cast<const uint16_t*>(s.c_str());
}

std::u16string widen(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

struct Result {
    int rc;
    std::string sql;
    uint16_t error;
    std::string sqlstate;
};

Result translate(const std::string& in, const char16_t* database = u"default")
{
    katest::ErrorScope errors;
    std::u16string wide = widen(in);
    BaseSqlStringW s(W(wide), int64_t(wide.size()));
    HiveEscapeTranslator hive;
    std::u16string db = database != nullptr ? database : u"";
    hive.database = database != nullptr ? W(db) : nullptr;
    hive.databaseLength = db.size();
    int32_t call = 0;
    Result r{};
    r.rc = translateEscapes(hive, s, 0, nullptr, nullptr, &call);
    r.sql = katest::narrow(std::u16string(reinterpret_cast<const char16_t*>(s.data), s.len));
    if (errors.size() > 0) {
        r.error = errors.native(0);
        r.sqlstate = katest::sqlstate(errors.at(0));
    }
    return r;
}

struct Case {
    const char* in;
    const char* out;  // null: refused with `error`
    uint16_t error;
};

TEST(HiveEscapeTranslator, EachEscapeBecomesHiveQL)
{
    const Case cases[] = {
        {"{d '2024-01-31'}", " '2024-01-31'", 0},
        {"{t '10:20:30'}", " '10:20:30'", 0},
        {"{ts '2024-01-31 10:20:30'}", " cast('2024-01-31 10:20:30' as timestamp)", 0},
        {"{ts '2024-01-31 10:20:30+05:00'}", nullptr, MSG_ESCAPE_NO_SERVER_FORM},
        {"{oj a LEFT OUTER JOIN b ON a.k = b.k}", " a LEFT OUTER JOIN b ON a.k = b.k", 0},
        {"{call p(1)}", nullptr, MSG_ESCAPE_NO_SERVER_FORM},
        {"{?=call p(1)}", nullptr, MSG_ESCAPE_NO_SERVER_FORM},
        {"x like 'a!%' {escape '!'}", nullptr, MSG_ESCAPE_NO_SERVER_FORM},
        {"{interval '1' day}", nullptr, MSG_ESCAPE_NO_SERVER_FORM},
        {"{fn ucase(name)}", " ucase(name)", 0},
        {"{fn ceiling(x)}", " ceil(x)", 0},
        {"{fn log(x)}", " ln(x)", 0},
        {"{fn ifnull(a, 0)}", " coalesce(a, 0)", 0},
        {"{fn pi}", " pi()", 0},
        {"{fn length(s)}", " length(rtrim(s))", 0},
        {"{fn year(d)}", " year(cast((d) as string))", 0},
        {"{fn mod(-7, 3)}", " ((-7) % (3))", 0},
        {"{fn left(name, 3)}", " substr((name),1,(3))", 0},
        {"{fn left(name)}", nullptr, MSG_ESCAPE_TOO_FEW_ARGUMENTS},
        {"{fn left(name, 3) || 'x'}", nullptr, MSG_ESCAPE_TEXT_AFTER_ARGUMENTS},
        {"{fn left(name, 3, 4)}", nullptr, MSG_ESCAPE_TEXT_AFTER_ARGUMENTS},
        {"{fn right(a||b, 1+1)}",
         " CASE WHEN (1+1) >= length((a||b)) THEN (a||b) ELSE substr((a||b),length((a||b))+1-(1+1)) END", 0},
        {"{fn right(concat(a, b), 2)}",
         " CASE WHEN (2) >= length((concat(a, b))) THEN (concat(a, b)) ELSE "
         "substr((concat(a, b)),length((concat(a, b)))+1-(2)) END",
         0},
        {"{fn substring(s, 2, 3)}", " substr((s),cast((2) as INT),cast((3) as INT))", 0},
        {"{fn substring(s, 2)}", nullptr, MSG_ESCAPE_TOO_FEW_ARGUMENTS},
        {"{fn insert(s, 2, 3, t)}", " concat(substr((s),1,(2)-1),(t),substr((s),(2)+(3)))", 0},
        {"{fn replace(s, 'a$b', 'c\\\\d')}",
         " regexp_replace((s),regexp_replace(('a$b'),'([^a-zA-Z0-9])','\\\\\\\\$1'),"
         "regexp_replace(('c\\\\d'),'([\\\\\\\\$])','\\\\\\\\$1'))",
         0},
        {"{fn quarter(d)}", " ceil(month(cast((d) as string))/3)", 0},
        {"{fn week(d)}", " weekofyear(cast((d) as string))", 0},
        {"{fn now()}", " cast(from_unixtime(unix_timestamp()) as timestamp)", 0},
        {"{fn now}", " cast(from_unixtime(unix_timestamp()) as timestamp)", 0},
        {"{fn now() + 1}", nullptr, MSG_ESCAPE_TEXT_AFTER_ARGUMENTS},
        {"{fn curdate()}", " to_date(from_unixtime(unix_timestamp()))", 0},
        {"{fn curtime()}", " from_unixtime(unix_timestamp(),'HH:mm:ss')", 0},
        {"{fn database()}", " 'default'", 0},
        {"{fn timestampadd(SQL_TSI_DAY, 7, ts)}",
         " cast(concat(cast(date_add(cast((ts) as timestamp),(7)) as string),"
         "substr(cast(cast((ts) as timestamp) as string),11)) as timestamp)",
         0},
        {"{fn timestampadd(sql_tsi_day, 7, ts)}",
         " cast(concat(cast(date_add(cast((ts) as timestamp),(7)) as string),"
         "substr(cast(cast((ts) as timestamp) as string),11)) as timestamp)",
         0},
        {"{fn timestampadd(SQL_TSI_HOUR, 7, ts)}", nullptr, MSG_ESCAPE_INTERVAL_NOT_DAY},
        {"{fn timestampdiff(SQL_TSI_DAY, t1, t2)}", " datediff((t2),(t1))", 0},
        {"{fn convert(c, SQL_WVARCHAR)}", " cast((c) as string)", 0},
        {"{fn convert(x, SQL_INTEGER)}", " cast((x) as int)", 0},
        {"{fn convert(x, SQL_VARCHAR(20))}", " cast((x) as string)", 0},
        {"{fn convert(c, SQL_DECIMAL)}", nullptr, MSG_ESCAPE_NO_CAST_FOR_TYPE},
        {"{fn extract(year from d)}", "  year(cast((d) as string))", 0},
        {"{fn extract(week from d)}", nullptr, MSG_ESCAPE_EXTRACT_FIELD},
        {"{fn extract(year d)}", nullptr, MSG_ESCAPE_MALFORMED},
        {"{fn dayname(d)}", nullptr, MSG_ESCAPE_NO_SERVER_FORM},
        {"{fn char(65)}", nullptr, MSG_ESCAPE_NO_SERVER_FORM},
        {"{fn ucase({fn left(a, 1)})}", " ucase( substr((a),1,(1)))", 0},
        {"{fn left({fn concat(a, 'x,y')}, 2)}", " substr(( concat(a, 'x,y')),1,(2))", 0},
        {"SELECT {fn ucase(name)} FROM t WHERE d = {d '2024-01-31'}",
         "SELECT  ucase(name) FROM t WHERE d =  '2024-01-31'", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        Result r = translate(c.in);
        if (c.out == nullptr) {
            EXPECT_EQ(r.rc, 1);
            EXPECT_EQ(r.error, c.error);
            EXPECT_EQ(r.sqlstate, "42000");
        } else {
            EXPECT_EQ(r.rc, 0) << r.error;
            EXPECT_EQ(r.sql, c.out);
        }
    }
}

TEST(HiveEscapeTranslator, ConvertNamesTheRefusedType)
{
    ASSERT_EQ(katest::openCatalogue(), 0);
    katest::ErrorScope errors;
    std::u16string in = u"{fn convert(c, SQL_DECIMAL)}";
    BaseSqlStringW s(W(in), int64_t(in.size()));
    HiveEscapeTranslator hive;
    int32_t call = 0;
    ASSERT_EQ(translateEscapes(hive, s, 0, nullptr, nullptr, &call), 1);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors.text(0).find("SQL_DECIMAL"), std::string::npos) << errors.text(0);
    katest::closeCatalogue();
}

TEST(HiveEscapeTranslator, LiteralHookTurnsDoubledApostrophesIntoEscapes)
{
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"select 'it''s'", u"select 'it\\'s'"},
        {u"select 'a\\'' x", u"select 'a\\'' x"},
        {u"select `a''b`, \"c''d\"", u"select `a''b`, \"c''d\""},
        {u"select ''", u"select ''"},
        {u"select 'x'''", u"select 'x\\''"},
    };
    for (const auto& c : cases) {
        std::u16string t = c.first;
        hiveFixQuotedLiterals(reinterpret_cast<uint16_t*>(t.data()), t.size());
        EXPECT_EQ(t, c.second) << katest::narrow(c.first);
    }
}

TEST(HiveEscapeTranslator, TrimDropsTrailingBlanksAndSemicolons)
{
    std::u16string t = u"select 1 ; ;\n ";
    KaSubStringW v(W(t), t.size());
    hiveTrimStatement(v);
    EXPECT_EQ(v.len, 8u);
}

TEST(HiveEscapeTranslator, DatabaseNameIsAHiveStringLiteral)
{
    EXPECT_EQ(translate("{fn database()}", u"it's\\db").sql, " 'it\\'s\\\\db'");
    EXPECT_EQ(translate("{fn database()}", nullptr).sql, " current_database()");
}

// ---- meaning, checked on the test server --------------------------------

TEST(HiveEscapeTranslator, TranslationsKeepTheirOdbcMeaningOnTheServer)
{
    // Escapes whose HiveQL the test server evaluates as Hive does, with the
    // value ODBC defines for them.
    const std::pair<const char*, const char*> cases[] = {
        {"{fn MOD(-7,3)}", "-1"},
        {"{fn MOD(7,-3)}", "1"},
        {"{fn RIGHT('abcdef', 2)}", "\"ef\""},
        {"{fn RIGHT('abc', 5)}", "\"abc\""},
        {"{fn RIGHT('abc', 0)}", "\"\""},
        {"{fn RIGHT('ab' || 'cd', 1+1)}", "\"cd\""},
        {"{fn LEFT('abcdef', 2)}", "\"ab\""},
        {"{fn LEFT('ab', 5)}", "\"ab\""},
        {"{fn SUBSTRING('abcdef', 2, 3)}", "\"bcd\""},
        {"{fn INSERT('abcdef', 2, 3, 'XY')}", "\"aXYef\""},
        {"{fn LENGTH('ab  ')}", "2"},
        {"{fn IFNULL(NULL, 2)}", "2"},
        {"{fn CONCAT('a', 'b')}", "\"ab\""},
        {"{fn UCASE('ab')}", "\"AB\""},
        {"{fn LCASE('AB')}", "\"ab\""},
        {"{fn ABS(-3)}", "3"},
        {"{fn CONVERT('12', SQL_INTEGER)}", "12"},
        {"{fn DATABASE()}", "\"default\""},
    };
    std::vector<std::string> expressions;
    for (const auto& c : cases) {
        Result r = translate(c.first);
        ASSERT_EQ(r.rc, 0) << c.first;
        expressions.push_back(r.sql);
    }
    std::vector<std::string> got = katest::evaluateOnTestServer(expressions);
    ASSERT_EQ(got.size(), expressions.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], cases[i].second) << cases[i].first << " -> " << expressions[i];
}

}  // namespace
