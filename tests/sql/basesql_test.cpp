#include "sql/basesql.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "errorscope.h"
#include "foundation/codepage.h"
#include "foundation/icucache.h"
#include "kamessages.h"

namespace {

std::u16string text(const KaSubStringW& v)
{
    return std::u16string(reinterpret_cast<const char16_t*>(v.data), v.len);
}

const uint16_t* W(const std::u16string& s)
{
    return reinterpret_cast<const uint16_t*>(s.c_str());
}

bool posted(const katest::ErrorScope& errors, uint16_t msg)
{
    for (size_t i = 0; i < errors.size(); ++i)
        if (errors.native(i) == msg)
            return true;
    return false;
}

struct KindCase {
    std::u16string sql;
    uint32_t kind;
    uint32_t object;
    std::u16string keyword;
};

TEST(BaseSqlStringW, StatementAndObjectKindFromTheFirstTwoWords)
{
    const KindCase cases[] = {
        {u"((select 1))", KA_STMT_SELECT, KA_OBJECT_NONE, u"select"},
        {u"   ", KA_STMT_NONE, KA_OBJECT_NONE, u""},
        {u"", KA_STMT_NONE, KA_OBJECT_NONE, u""},
        {u"'x' select", KA_STMT_NONE, KA_OBJECT_NONE, u""},
        {u"SELECT x FROM t", KA_STMT_SELECT, KA_OBJECT_OTHER, u"SELECT"},
        {u"CREATE VIEW v AS SELECT 1", KA_STMT_CREATE, KA_OBJECT_VIEW, u"CREATE"},
        {u"/* c */ drop table t", KA_STMT_DROP, KA_OBJECT_TABLE, u"drop"},
        {u"-- line\nwith a as (select 1) select * from a", KA_STMT_SELECT, KA_OBJECT_OTHER, u"with"},
        {u"use db", KA_STMT_OTHER, KA_OBJECT_OTHER, u"use"},
        {u"insert", KA_STMT_INSERT, KA_OBJECT_NONE, u"insert"},
        {u"create index", KA_STMT_CREATE, KA_OBJECT_INDEX, u"create"},
        {u"grant synonym", KA_STMT_GRANT, KA_OBJECT_SYNONYM, u"grant"},
        {u"selected x", KA_STMT_OTHER, KA_OBJECT_OTHER, u"selected"},
        {u"\U0001F600 select", KA_STMT_NONE, KA_OBJECT_NONE, u""},
    };
    for (const auto& c : cases) {
        BaseSqlStringW s(W(c.sql), int64_t(c.sql.size()));
        EXPECT_EQ(s.getStatementKind(), c.kind) << std::string(c.sql.begin(), c.sql.end());
        EXPECT_EQ(s.objectKind, c.object);
        EXPECT_EQ(text(s.keyword), c.keyword);
    }
}

struct MarkerCase {
    std::u16string sql;
    std::vector<size_t> markers;
};

TEST(BaseSqlStringW, MarkersOutsideEveryQuoteKindAndComment)
{
    const MarkerCase cases[] = {
        {u"select ? from t where a = ?", {7, 26}},
        {u"select '?', \"?\", `?` from t where a = ?", {38}},
        {u"select 1 -- ?\n, ? /* ? */", {16}},
        {u"select '\U0001F600?' , ?", {15}},
        {u"with q as (select ? /* ? */ from t) select ? from q", {18, 43}},
        {u"insert into t values (?, ?)", {22, 25}},
    };
    for (const auto& c : cases) {
        BaseSqlStringW s(W(c.sql), int64_t(c.sql.size()));
        s.getStatementKind();
        ASSERT_EQ(s.scanClauses(kSqlRecordMarkers, nullptr), 0);
        std::vector<size_t> got;
        for (size_t i = 0; i < s.markerCount(); ++i)
            got.push_back(s.markerOffsets.at(i));
        EXPECT_EQ(got, c.markers) << std::string(c.sql.begin(), c.sql.end());
    }
}

struct ClauseCase {
    std::u16string sql;
    uint32_t fromList, groupBy, unionFlag, having;
    uint64_t forUpdate;
};

TEST(BaseSqlStringW, ClauseFlags)
{
    const ClauseCase cases[] = {
        {u"SELECT a FROM t1, t2", 1, 0, 0, 0, 0},
        {u"SELECT a FROM t1 WHERE x IN (1, 2)", 0, 0, 0, 0, 0},
        {u"SELECT a FROM t1 UNION SELECT b FROM t2, t3", 0, 0, 1, 0, 0},
        {u"SELECT a FROM t GROUP a", 0, 0, 0, 0, 0},
        {u"SELECT a FROM t GROUP BY a HAVING count(*) > 1", 0, 1, 0, 1, 0},
        {u"SELECT a FROM t FOR UPDATE", 0, 0, 0, 0, 16},
        {u"SELECT a FROM t FOR x", 0, 0, 0, 0, 0},
        {u"SELECT a FROM (select b, c from u) q", 0, 0, 0, 0, 0},
        // ROLLUP and CUBE modifiers are no common table expression.
        {u"SELECT a, count(*) FROM t1, t2 GROUP BY a WITH ROLLUP", 1, 1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        BaseSqlStringW s(W(c.sql), int64_t(c.sql.size()));
        s.getStatementKind();
        ASSERT_EQ(s.scanClauses(kSqlCheckPositioned, nullptr), 0);
        EXPECT_EQ(s.hasFromList, c.fromList) << std::string(c.sql.begin(), c.sql.end());
        EXPECT_EQ(s.hasGroupBy, c.groupBy);
        EXPECT_EQ(s.hasUnion, c.unionFlag);
        EXPECT_EQ(s.hasHaving, c.having);
        EXPECT_EQ(s.forUpdatePos, c.forUpdate);
    }
}

TEST(BaseSqlStringW, WithRollupKeepsLaterMarkersInTheirPlace)
{
    std::u16string sql = u"SELECT a FROM t GROUP BY a WITH CUBE HAVING a > ?";
    BaseSqlStringW s(W(sql), int64_t(sql.size()));
    s.getStatementKind();
    ASSERT_EQ(s.scanClauses(kSqlRecordMarkers, nullptr), 0);
    ASSERT_EQ(s.markerCount(), 1u);
    EXPECT_EQ(s.markerOffsets.at(0), sql.size() - 1);
    EXPECT_EQ(s.hasHaving, 1u);
}

TEST(BaseSqlStringW, WhereCurrentOfFindsTheCursorName)
{
    std::u16string sql = u"UPDATE t SET a = 1 WHERE CURRENT OF c1";
    BaseSqlStringW s(W(sql), int64_t(sql.size()));
    s.getStatementKind();
    ASSERT_EQ(s.scanClauses(kSqlCheckPositioned, nullptr), 0);
    EXPECT_EQ(s.currentOfPos, sql.find(u"CURRENT"));
    EXPECT_EQ(text(s.cursorName), u"c1");
    EXPECT_EQ(s.currentOfLength, sql.size() - s.currentOfPos);

    KaStringW replaced;
    std::u16string name = u"SQL_CUR0001";
    ASSERT_EQ(s.replaceRange(s.cursorName, W(name), name.size()), 0);
    EXPECT_EQ(text(s), u"UPDATE t SET a = 1 WHERE CURRENT OF SQL_CUR0001");
    EXPECT_EQ(text(s.cursorName), name);
    EXPECT_EQ(text(s.keyword), u"UPDATE");
    // The application's buffer was not written.
    EXPECT_EQ(sql, u"UPDATE t SET a = 1 WHERE CURRENT OF c1");
}

TEST(BaseSqlStringW, WhereCurrentOfWithoutNameIsRefused)
{
    katest::ErrorScope errors;
    std::u16string sql = u"DELETE FROM t WHERE CURRENT OF";
    BaseSqlStringW s(W(sql), int64_t(sql.size()));
    s.getStatementKind();
    EXPECT_EQ(s.scanClauses(kSqlCheckPositioned, nullptr), 1);
    EXPECT_TRUE(posted(errors, MSG_CURSOR_NAME_MISSING));
}

TEST(BaseSqlStringW, ForUpdateAppendedAndRemoved)
{
    std::u16string sql = u"SELECT a FROM t";
    BaseSqlStringW s(W(sql), int64_t(sql.size()));
    s.restoreLength();
    EXPECT_EQ(text(s), sql);
    ASSERT_EQ(s.appendForUpdate(), 0);
    EXPECT_EQ(text(s), u"SELECT a FROM t FOR UPDATE");
    s.restoreLength();
    EXPECT_EQ(text(s), sql);
}

struct OrdinalCase {
    std::u16string sql;
    std::u16string expected;  // empty: unchanged
    int16_t added;
};

TEST(BaseSqlStringW, OrderByOrdinalsRewriteIsTokenBasedOrLeavesTheText)
{
    const OrdinalCase cases[] = {
        {u"SELECT a, b FROM t ORDER BY c DESC, d", u"SELECT a, b , c, d FROM t ORDER BY 3 DESC, 4", 2},
        // Commas inside calls are no select-list columns; LIMIT stays.
        {u"SELECT concat(a, b) FROM t ORDER BY  lower(c)  LIMIT 5",
         u"SELECT concat(a, b) , lower(c) FROM t ORDER BY  2  LIMIT 5", 1},
        {u"SELECT a FROM t ORDER\n\tBY c", u"SELECT a , c FROM t ORDER\n\tBY 2", 1},
        {u"SELECT a FROM t ORDER BY 1", u"", 0},
        {u"SELECT DISTINCT a FROM t ORDER BY c", u"", 0},
        {u"SELECT a ORDER BY c", u"", 0},
        {u"SELECT a FROM t ORDER BY c FOR UPDATE", u"", 0},
        {u"SELECT a FROM t ORDER BY c + ?", u"", 0},
    };
    for (const auto& c : cases) {
        BaseSqlStringW s(W(c.sql), int64_t(c.sql.size()));
        s.getStatementKind();
        int16_t added = -1;
        ASSERT_EQ(s.scanClauses(kSqlOrderByOrdinals | kSqlRecordMarkers, &added), 0);
        EXPECT_EQ(text(s), c.expected.empty() ? c.sql : c.expected) << std::string(c.sql.begin(), c.sql.end());
        EXPECT_EQ(added, c.added);
    }
}

TEST(BaseSqlStringW, OrderByRewriteMovesMarkerOffsets)
{
    std::u16string sql = u"SELECT a FROM t WHERE x = ? ORDER BY c LIMIT ?";
    BaseSqlStringW s(W(sql), int64_t(sql.size()));
    s.getStatementKind();
    int16_t added = 0;
    ASSERT_EQ(s.scanClauses(kSqlOrderByOrdinals | kSqlRecordMarkers, &added), 0);
    std::u16string now = text(s);
    ASSERT_NE(now, sql);
    ASSERT_EQ(s.markerCount(), 2u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(now[s.markerOffsets.at(i)], u'?');
}

uint16_t writeNull(uint16_t* buffer, uint16_t capacity, uint16_t, void*) noexcept
{
    const char16_t* t = u"NULL";
    for (uint16_t i = 0; i < 4 && i < capacity; ++i)
        buffer[i] = t[i];
    return 4;
}

uint16_t writeTooMuch(uint16_t*, uint16_t capacity, uint16_t, void*) noexcept
{
    return uint16_t(capacity + 1);
}

TEST(BaseSqlStringW, SubstituteParametersReplacesEachMarker)
{
    std::u16string sql = u"select ? from t where a = '?' and b = ?";
    BaseSqlStringW s(W(sql), int64_t(sql.size()));
    s.getStatementKind();
    ASSERT_EQ(s.scanClauses(kSqlRecordMarkers, nullptr), 0);
    KaStringW out;
    ASSERT_EQ(s.substituteParameters(out, writeNull, nullptr, 0), 0);
    EXPECT_EQ(text(out), u"select NULL from t where a = '?' and b = NULL");
}

TEST(BaseSqlStringW, SubstitutionCallbackBeyondItsRoomFails)
{
    katest::ErrorScope errors;
    std::u16string sql = u"select ?";
    BaseSqlStringW s(W(sql), int64_t(sql.size()));
    s.getStatementKind();
    ASSERT_EQ(s.scanClauses(kSqlRecordMarkers, nullptr), 0);
    KaStringW out;
    EXPECT_EQ(s.substituteParameters(out, writeTooMuch, nullptr, 0), 1);
}

TEST(BaseSqlStringW, MoreMarkersThanOdbcCanNumberAreRefused)
{
    katest::ErrorScope errors;
    std::u16string sql = u"select ";
    for (size_t i = 0; i < 32768; ++i)
        sql += u"?,";
    sql += u"1";
    BaseSqlStringW s(W(sql), int64_t(sql.size()));
    s.getStatementKind();
    EXPECT_EQ(s.scanClauses(kSqlRecordMarkers, nullptr), 1);
    EXPECT_TRUE(posted(errors, MSG_TOO_MANY_PARAMETER_MARKERS));
    // 32767 is the most a statement may hold, and it is taken.
    std::u16string most = u"select ";
    for (size_t i = 0; i < 32767; ++i)
        most += u"?,";
    BaseSqlStringW m(W(most), int64_t(most.size()));
    m.getStatementKind();
    EXPECT_EQ(m.scanClauses(kSqlRecordMarkers, nullptr), 0);
    EXPECT_EQ(m.markerCount(), 32767u);
}

TEST(BaseSqlStringW, CopyTakesTextAndAnalysis)
{
    std::u16string sql = u"select a from t1, t2 where b = ?";
    BaseSqlStringW s(W(sql), int64_t(sql.size()));
    s.getStatementKind();
    ASSERT_EQ(s.scanClauses(kSqlRecordMarkers, nullptr), 0);
    BaseSqlStringW c;
    ASSERT_EQ(c.copy(s), 0);
    EXPECT_EQ(text(c), sql);
    EXPECT_FALSE(c.borrowed());
    EXPECT_EQ(c.statementKind, uint32_t(KA_STMT_SELECT));
    EXPECT_EQ(c.hasFromList, 1u);
    ASSERT_EQ(c.markerCount(), 1u);
    EXPECT_EQ(c.markerOffsets.at(0), sql.size() - 1);
}

TEST(BaseSqlStringW, AppendWhereFalse)
{
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"select a from t", u"select a from t WHERE 0=1"},
        {u"select a from t where b = 1 order by a", u"select a from t  WHERE 0=1"},
        {u"select a from t group by a having a > 1", u"select a from t  WHERE 0=1 group by a "},
    };
    for (const auto& c : cases) {
        BaseSqlStringW s(W(c.first), int64_t(c.first.size()));
        KaStringW out;
        ASSERT_EQ(s.appendWhereFalse(out), 0);
        EXPECT_EQ(text(out), c.second);
    }
}

}  // namespace

namespace {

std::vector<size_t> markersOf(BaseSqlString& s)
{
    s.getStatementKind();
    EXPECT_EQ(s.scanClauses(kSqlRecordMarkers | kSqlCheckPositioned, nullptr), 0);
    std::vector<size_t> got;
    for (size_t i = 0; i < s.markerCount(); ++i)
        got.push_back(s.markerOffsets.at(i));
    return got;
}

TEST(BaseSqlString, KindsAsTheWideTwinButXQueryIsOther)
{
    const std::pair<std::string, uint32_t> cases[] = {
        {"((select 1))", KA_STMT_SELECT},
        {"xquery x", KA_STMT_OTHER},
        {"  ", KA_STMT_NONE},
        {"/* c */ update t set a = 1", KA_STMT_UPDATE},
        {"with q as (select 1) select 1", KA_STMT_SELECT},
    };
    for (const auto& c : cases) {
        BaseSqlString s(c.first.data(), int64_t(c.first.size()), KA_TEXT_UTF8);
        EXPECT_EQ(s.getStatementKind(), c.second) << c.first;
    }
    std::u16string wide = u"xquery x";
    BaseSqlStringW w(W(wide), int64_t(wide.size()));
    EXPECT_EQ(w.getStatementKind(), uint32_t(KA_STMT_XQUERY));
}

TEST(BaseSqlString, Utf8MarkersAtByteOffsets)
{
    // "é" takes two bytes: the marker after it stands at byte 11.
    std::string sql = "select '\xC3\xA9?', \xC3\xA9 ?";
    BaseSqlString s(sql.data(), int64_t(sql.size()), KA_TEXT_UTF8);
    EXPECT_EQ(markersOf(s), (std::vector<size_t>{sql.size() - 1}));
    EXPECT_EQ(s.hasFromList, 0u);
}

TEST(BaseSqlString, WhereCurrentOfAndForUpdateInBytes)
{
    std::string sql = "update t set a = 1 where current of c1";
    BaseSqlString s(sql.data(), int64_t(sql.size()), KA_TEXT_UTF8);
    markersOf(s);
    EXPECT_EQ(s.currentOfPos, sql.find("current"));
    EXPECT_EQ(std::string(s.cursorName.data, s.cursorName.len), "c1");
    std::string name = "SQL_CUR1";
    ASSERT_EQ(s.replaceRange(s.cursorName, name.data(), name.size()), 0);
    EXPECT_EQ(std::string(s.data, s.len), "update t set a = 1 where current of SQL_CUR1");
    EXPECT_EQ(sql, "update t set a = 1 where current of c1");

    std::string select = "select a from t";
    BaseSqlString f(select.data(), int64_t(select.size()));
    ASSERT_EQ(f.appendForUpdate(), 0);
    EXPECT_EQ(std::string(f.data, f.len), "select a from t FOR UPDATE");
    f.restoreLength();
    EXPECT_EQ(std::string(f.data, f.len), select);
    KaString out;
    ASSERT_EQ(f.appendWhereFalse(out), 0);
    EXPECT_EQ(std::string(out.data, out.len), "select a from t where 0=1");
}

uint16_t narrowNull(char* buffer, uint16_t capacity, uint16_t, void*) noexcept
{
    const char* t = "NULL";
    for (uint16_t i = 0; i < 4 && i < capacity; ++i)
        buffer[i] = t[i];
    return 4;
}

TEST(BaseSqlString, SubstituteParametersInBytes)
{
    std::string sql = "select ? from t where a = '?' and b = ?";
    BaseSqlString s(sql.data(), int64_t(sql.size()), KA_TEXT_UTF8);
    markersOf(s);
    KaString out;
    ASSERT_EQ(s.substituteParameters(out, narrowNull, nullptr, 0), 0);
    EXPECT_EQ(std::string(out.data, out.len), "select NULL from t where a = '?' and b = NULL");
}

// A GBK locale built for the test: a character whose trail byte is the
// back-quote must not open a quote that would hide the marker after it.
TEST(BaseSqlString, DoubleByteTrailByteHidesNoMarker)
{
    char templ[] = "/tmp/basesql_locXXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    std::string dir = templ;
    std::string command = "localedef -i zh_CN -f GBK " + dir + "/zh_CN.GBK >/dev/null 2>&1";
    bool built = std::system(command.c_str()) == 0;
    if (built) {
        setenv("LOCPATH", dir.c_str(), 1);
        built = std::setlocale(LC_CTYPE, "zh_CN.GBK") != nullptr;
    }
    if (built) {
        std::string sql = "select \x81\x60 ? from t";
        BaseSqlString s(sql.data(), int64_t(sql.size()), KA_TEXT_LOCALE);
        EXPECT_EQ(markersOf(s), (std::vector<size_t>{10}));
    }
    std::setlocale(LC_CTYPE, "C");
    unsetenv("LOCPATH");
    std::system(("rm -rf " + dir).c_str());
    if (!built)
        GTEST_SKIP() << "no localedef to build a GBK locale";
}

}  // namespace

namespace {

struct Converters {
    KaCharConv* set = new KaCharConv;
    Converters() { EXPECT_EQ(set->init(31), 0); }
    ~Converters() { delete set; }
};

TEST(BaseSqlStringConversion, Utf8OffsetsMoveToUtf16Units)
{
    // "é" takes two bytes and one unit: the marker at byte 3 is at unit 2.
    std::string sql = "\xC3\xA9x? from t where current of c1";
    BaseSqlString narrow(sql.data(), int64_t(sql.size()), KA_TEXT_UTF8);
    narrow.statementKind = KA_STMT_UPDATE;
    ASSERT_EQ(narrow.scanClauses(kSqlRecordMarkers | kSqlCheckPositioned, nullptr), 0);
    ASSERT_EQ(narrow.markerCount(), 1u);
    ASSERT_EQ(narrow.markerOffsets.at(0), 3u);
    Converters conv;
    BaseSqlStringW wide;
    ASSERT_EQ(wide.assignConverted(narrow, *conv.set, kCodePageUtf8), 0);
    EXPECT_EQ(text(wide), u"\u00E9x? from t where current of c1");
    ASSERT_EQ(wide.markerCount(), 1u);
    EXPECT_EQ(wide.markerOffsets.at(0), 2u);
    EXPECT_EQ(text(wide.cursorName), u"c1");
    EXPECT_EQ(wide.currentOfPos, narrow.currentOfPos - 1);
    EXPECT_EQ(wide.currentOfLength, narrow.currentOfLength);

    BaseSqlString back(KA_TEXT_UTF8);
    ASSERT_EQ(back.assignConverted(wide, *conv.set, kCodePageUtf8), 0);
    EXPECT_EQ(std::string(back.data, back.len), sql);
    EXPECT_EQ(back.markerOffsets.at(0), 3u);
    EXPECT_EQ(std::string(back.cursorName.data, back.cursorName.len), "c1");
}

TEST(BaseSqlStringConversion, BeyondTheBmpAndSingleByteText)
{
    std::u16string sql = u"select \U0001F600, ? from t";
    BaseSqlStringW wide(W(sql), int64_t(sql.size()));
    wide.getStatementKind();
    ASSERT_EQ(wide.scanClauses(kSqlRecordMarkers, nullptr), 0);
    ASSERT_EQ(wide.markerOffsets.at(0), 11u);
    Converters conv;
    BaseSqlString narrow(KA_TEXT_UTF8);
    ASSERT_EQ(narrow.assignConverted(wide, *conv.set, kCodePageUtf8), 0);
    EXPECT_EQ(narrow.markerOffsets.at(0), 13u);  // four bytes for two units
    EXPECT_EQ(narrow.data[13], '?');
    EXPECT_EQ(std::string(narrow.keyword.data, narrow.keyword.len), "select");

    std::string latin = "select a, ? from t";
    BaseSqlString plain(latin.data(), int64_t(latin.size()));
    plain.getStatementKind();
    ASSERT_EQ(plain.scanClauses(kSqlRecordMarkers, nullptr), 0);
    BaseSqlStringW same;
    ASSERT_EQ(same.assignConverted(plain, *conv.set, kCodePageLatin1), 0);
    EXPECT_EQ(same.markerOffsets.at(0), plain.markerOffsets.at(0));
}

}  // namespace
