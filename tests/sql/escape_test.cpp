#include "sql/escape.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errorscope.h"
#include "kamessages.h"
#include "sql/basesql.h"
#include "sql/hiveescape.h"

namespace {

const uint16_t* W(const std::u16string& s)
{
    return reinterpret_cast<const uint16_t*>(s.c_str());
}

std::u16string text(const KaSubStringW& v)
{
    return std::u16string(reinterpret_cast<const char16_t*>(v.data), v.len);
}

std::string narrow(const std::u16string& s)
{
    return katest::narrow(s);
}

// Records what the framework hands to the hook and writes "<kind:code:body>".
class RecordingHost : public KaEscapeHost {
public:
    std::vector<int32_t> kinds;
    std::vector<uint32_t> codes;
    int translateEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind, uint32_t code) noexcept override
    {
        kinds.push_back(kind);
        codes.push_back(code);
        std::string head = "<" + std::to_string(kind) + ":" + std::to_string(code) + ":";
        if (out.appendNarrow(head.data(), head.size()) != 0 || out.append(body.text, body.length) != 0)
            return 1;
        return out.appendChar('>');
    }
};

struct Translated {
    int rc;
    std::u16string sql;
    uint32_t markers;
    int32_t callKind;
    int32_t returnParameter;
    uint16_t error;
};

Translated run(KaEscapeHost& host, const std::u16string& in, int32_t forNativeSql = 0)
{
    katest::ErrorScope errors;
    BaseSqlStringW s(W(in), int64_t(in.size()));
    Translated t{};
    t.rc = translateEscapes(host, s, forNativeSql, &t.markers, &t.returnParameter, &t.callKind);
    t.sql = text(s);
    t.error = errors.size() > 0 ? errors.native(0) : 0;
    return t;
}

struct FrameworkCase {
    std::u16string in;
    std::u16string out;  // the text on success
    uint16_t error;      // 0: success
    uint32_t markers;
};

TEST(EscapeTranslation, FindsChecksAndClassifiesEscapes)
{
    const FrameworkCase cases[] = {
        {u"select a from t where b = ?", u"select a from t where b = ?", 0, 1},
        {u"select {d '2024-01-31'}", u"select  <1:0:2024-01-31>", 0, 0},
        {u"select {D 2024-01-31}", u"select  <1:0:2024-01-31>", 0, 0},
        {u"select {d '2024/01/31'}", u"", MSG_ESCAPE_BAD_DATE, 0},
        {u"select {d '2024-1-31'}", u"", MSG_ESCAPE_BAD_DATE, 0},
        {u"select {t '10:20:30'}", u"select  <0:0:10:20:30>", 0, 0},
        {u"select {t '10:20:30.5'}", u"", MSG_ESCAPE_BAD_TIME, 0},
        {u"select {ts '2024-01-31 10:20:30'}", u"select  <2:0:2024-01-31 10:20:30>", 0, 0},
        {u"select {ts '2024-01-31 10:20:30.123456789'}", u"select  <2:0:2024-01-31 10:20:30.123456789>", 0, 0},
        {u"select {ts '2024-01-31 10:20:30.1234567890'}", u"", MSG_ESCAPE_BAD_TIMESTAMP, 0},
        {u"select {ts '2024-01-31 10:20:30+05:00'}", u"select  <3:0:2024-01-31 10:20:30+05:00>", 0, 0},
        {u"select {ts '2024-01-31T10:20:30'}", u"", MSG_ESCAPE_BAD_TIMESTAMP, 0},
        {u"select {fn LOCATE('a', col)}", u"select  <4:67:('a', col)>", 0, 0},
        {u"select {fn locate('a', col, 3)}", u"select  <4:10:('a', col, 3)>", 0, 0},
        {u"select {fn no_such_function(1)}", u"select  <4:0:(1)>", 0, 0},
        {u"select {fn}", u"", MSG_ESCAPE_NO_FUNCTION_NAME, 0},
        // Only quotes and comments protect text: every quote kind.
        {u"select '{', \"{?\", `{?}`, ? -- {\n", u"select '{', \"{?\", `{?}`, ? -- {\n", 0, 1},
        {u"select /* { ? */ 1", u"select /* { ? */ 1", 0, 0},
        {u"select 'it\\'s {' , ?", u"select 'it\\'s {' , ?", 0, 1},
        {u"select {foo bar} x", u"select {foo bar} x", 0, 0},
        {u"select {x {d '2024-01-31'}}", u"select {x  <1:0:2024-01-31>}", 0, 0},
        {u"select {fn ucase(", u"", MSG_ESCAPE_NOT_CLOSED, 0},
        {u"select --(*vendor(other),product(x) ? *)-- 1", u"select --(*vendor(other),product(x) ? *)-- 1", 0, 0},
        {u"select --(*vendor(Microsoft),product(ODBC) fn ucase(a) *)-- 1", u"select  <4:18:(a)> 1", 0, 0},
        {u"select --(*vendor(Microsoft) fn x *)--", u"", MSG_ESCAPE_VENDOR_MALFORMED, 0},
        {u"select {d '?'}, {fn ucase(?)}", u"", MSG_ESCAPE_BAD_DATE, 0},
        {u"select {fn ucase(?)}", u"select  <4:18:(?)>", 0, 1},
        {u"{? = call p(?)}", u"", 0, 1},
        {u"{? call p}", u"", MSG_ESCAPE_MALFORMED, 0},
        {u"{interval '1' day}", u" <11:0:'1' day>", 0, 0},
        {u"{interval '1-2' year to month}", u" <15:0:'1-2' year to month>", 0, 0},
        {u"{interval '1'}", u"", MSG_ESCAPE_MALFORMED, 0},
        {u"{native (select 1)}", u"  select 1 ", 0, 0},
        {u"{native select 1}", u"", MSG_ESCAPE_MALFORMED, 0},
        {u"{refresh t}", u"", MSG_ESCAPE_NOT_AVAILABLE, 0},
        {u"select '\U0001F600', {l x}", u"select '\U0001F600',  <23:0:x>", 0, 0},
    };
    for (const auto& c : cases) {
        RecordingHost host;
        Translated t = run(host, c.in);
        SCOPED_TRACE(narrow(c.in));
        if (c.error != 0) {
            EXPECT_EQ(t.rc, 1);
            EXPECT_EQ(t.error, c.error);
            continue;
        }
        EXPECT_EQ(t.rc, 0);
        EXPECT_EQ(t.error, 0);
        if (!c.out.empty()) {
            EXPECT_EQ(t.sql, c.out) << narrow(t.sql);
        }
        EXPECT_EQ(t.markers, c.markers);
    }
}

TEST(EscapeTranslation, NestedEscapesTranslateFromTheOutsideIn)
{
    RecordingHost host;
    Translated t = run(host, u"select {fn UCASE({fn LCASE(name)})}");
    ASSERT_EQ(t.rc, 0);
    EXPECT_EQ(t.sql, u"select  <4:18:( <4:6:(name)>)>");
    EXPECT_EQ(host.codes, (std::vector<uint32_t>{KA_FN_UCASE, KA_FN_LCASE}));
}

TEST(EscapeTranslation, CallEscapesSetTheCallKind)
{
    RecordingHost host;
    Translated plain = run(host, u"{call p(?)}");
    EXPECT_EQ(plain.callKind, kEscapeCallPlain);
    EXPECT_EQ(plain.returnParameter, 0);
    Translated ret = run(host, u"{?=call p(?)}");
    EXPECT_EQ(ret.callKind, kEscapeCallReturn);
    EXPECT_EQ(ret.returnParameter, 1);
    EXPECT_EQ(host.kinds.back(), KA_ESC_CALL);
    Translated native = run(host, u"{?=call p(?)}", 1);
    EXPECT_EQ(native.returnParameter, 0);
    EXPECT_EQ(host.kinds.back(), KA_ESC_CALL_RETURN);
}

TEST(EscapeTranslation, DeepNestingIsRefusedNotRecursed)
{
    std::u16string deep = u"select ";
    for (int i = 0; i < 100000; ++i)
        deep += u"{x ";
    for (int i = 0; i < 100000; ++i)
        deep += u"}";
    RecordingHost host;
    Translated t = run(host, deep);
    EXPECT_EQ(t.rc, 1);
    EXPECT_EQ(t.error, MSG_ESCAPE_NESTED_TOO_DEEP);
    std::u16string some = u"select ";
    for (size_t i = 0; i < kEscapeMaxNesting - 1; ++i)
        some += u"{x ";
    for (size_t i = 0; i < kEscapeMaxNesting - 1; ++i)
        some += u"}";
    Translated kept = run(host, some);
    EXPECT_EQ(kept.rc, 0);  // braces that open no escape stay
    EXPECT_EQ(kept.sql, some);
    std::u16string nested = u"select ";
    for (size_t i = 0; i <= kEscapeMaxNesting; ++i)
        nested += u"{fn ucase(";
    nested += u"a";
    for (size_t i = 0; i <= kEscapeMaxNesting; ++i)
        nested += u")}";
    Translated n = run(host, nested);
    EXPECT_EQ(n.rc, 1);
    EXPECT_EQ(n.error, MSG_ESCAPE_NESTED_TOO_DEEP);
}

TEST(EscapeTranslation, LoneHighSurrogateAtTheEndIsNotReadPast)
{
    std::u16string in = u"select 1";
    in.push_back(char16_t(0xD800));
    // An exact-size heap copy, so that a read past the end is caught.
    std::vector<uint16_t> exact(in.begin(), in.end());
    katest::ErrorScope errors;
    BaseSqlStringW s(exact.data(), int64_t(exact.size()));
    RecordingHost host;
    uint32_t markers = 0;
    int32_t call = 0;
    EXPECT_EQ(translateEscapes(host, s, 0, &markers, nullptr, &call), 0);
}

TEST(EscapeTranslation, MoreMarkersThanOdbcCanNumberAreRefused)
{
    RecordingHost host;
    std::u16string most;
    for (size_t i = 0; i < kSqlMaxMarkers; ++i)
        most += u"?,";
    Translated fits = run(host, most);
    EXPECT_EQ(fits.rc, 0);
    EXPECT_EQ(fits.markers, uint32_t(kSqlMaxMarkers));
    Translated over = run(host, most + u"?");
    EXPECT_EQ(over.rc, 1);
    EXPECT_EQ(over.error, MSG_TOO_MANY_PARAMETER_MARKERS);
}

TEST(EscapeTranslation, ManyEscapesAndLongTranslationsKeepTheirOrder)
{
    RecordingHost host;
    std::u16string in;
    std::u16string expected;
    for (int i = 0; i < 20000; ++i) {
        in += u"{d '2024-01-31'},{fn ucase({fn lcase(x)})},";
        expected += u" <1:0:2024-01-31>, <4:18:( <4:6:(x)>)>,";
    }
    Translated t = run(host, in);
    ASSERT_EQ(t.rc, 0);
    EXPECT_TRUE(t.sql == expected);
}

TEST(EscapeTranslation, MultipleStatementsAreNoticed)
{
    RecordingHost host;
    const std::pair<std::u16string, int32_t> cases[] = {
        {u"select 1; select 2", 1}, {u"select {d '2024-01-31'}; select {fn ucase(a)}", 1}, {u"select 1;", 0},
        {u"select ';' ", 0},        {u"create procedure p as begin select 1; end", 0},
    };
    for (const auto& c : cases) {
        BaseSqlStringW s(W(c.first), int64_t(c.first.size()));
        int32_t call = 0;
        ASSERT_EQ(translateEscapes(host, s, 0, nullptr, nullptr, &call), 0);
        EXPECT_EQ(s.multipleStatements, c.second) << narrow(c.first);
    }
}

TEST(EscapeFunctionTable, SortedAndEveryNameFindsItsCode)
{
    for (size_t i = 1; i < kEscapeFunctionCount; ++i)
        EXPECT_LE(std::string(EscapeFunctionTable[i - 1].name), std::string(EscapeFunctionTable[i].name));
    for (const auto& row : EscapeFunctionTable) {
        std::u16string name(row.name, row.name + row.nameLength);
        uint32_t code = escapeFunctionCode(W(name), name.size());
        if (row.code == KA_FN_LOCATE_2)
            EXPECT_EQ(code, uint32_t(KA_FN_LOCATE));
        else
            EXPECT_EQ(code, uint32_t(row.code)) << row.name;
    }
    std::u16string lower = u"timestampdiff";
    EXPECT_EQ(escapeFunctionCode(W(lower), lower.size()), uint32_t(KA_FN_TIMESTAMPDIFF));
    std::u16string none = u"zebra";
    EXPECT_EQ(escapeFunctionCode(W(none), none.size()), uint32_t(KA_FN_UNKNOWN));
}

}  // namespace
