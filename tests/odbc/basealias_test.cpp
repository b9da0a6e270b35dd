// Numeric-literal aliasing of select lists: long plain decimal literals keep
// their exact value as decimal literals with a name; everything else is left
// as it was.
#include <gtest/gtest.h>

#include <string>

#include "foundation/kastringw.h"
#include "odbc/basealias.h"
#include "support/u16.h"

namespace {

// The aliased text, or "=" when the text is left unchanged.
std::u16string alias(const std::u16string& text)
{
    KaStringW out;
    bool unchanged = false;
    EXPECT_EQ(baseAliasNumericLiterals(katest::W(text.c_str()), static_cast<int64_t>(text.size()), &out, &unchanged),
              0);
    if (unchanged)
        return u"=";
    return katest::u16(out.data, out.len);
}

}  // namespace

TEST(NumericAliasing, LongLiteralsKeepTheirValueAndGetAName)
{
    struct Case {
        std::u16string in;
        std::u16string out;
    };
    const Case cases[] = {
        // 25 digits: exact, not a constant in its place.
        {u"select 1234567890123456789012345 from t",
         u"select 1234567890123456789012345BD AS TWCORE_NUMERIC_ALIAS0 from t"},
        {u"SELECT a, -12345678901234567890.5, b FROM t",
         u"SELECT a, -12345678901234567890.5BD AS TWCORE_NUMERIC_ALIAS1, b FROM t"},
        {u"select (12345678901234567890123) from t",
         u"select (12345678901234567890123BD) AS TWCORE_NUMERIC_ALIAS0 from t"},
        // The application's own name stays.
        {u"select 12345678901234567890123 as big from t", u"select 12345678901234567890123BD as big from t"},
        {u"select 12345678901234567890123", u"select 12345678901234567890123BD AS TWCORE_NUMERIC_ALIAS0"},
        // Left alone: 19 digits, not a SELECT, expressions, quoted text, text
        // after the list's end.
        {u"select 1234567890123456789 from t", u"="},
        {u"insert into t values (1234567890123456789012345)", u"="},
        {u"select 1234567890123+4567890123456789 from t", u"="},
        {u"select '1234567890123456789012345' from t", u"="},
        {u"select a from t where b = 1234567890123456789012345", u"="},
        {u"select f(1234567890123456789012345) from t", u"="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(c.in));
        EXPECT_EQ(alias(c.in), c.out);
    }
}

TEST(NumericAliasing, AVeryLongSelectListDoesNotOverrunAnything)
{
    std::u16string in = u"select ";
    std::u16string want = u"select ";
    for (int i = 0; i < 300; ++i) {
        if (i != 0) {
            in += u",";
            want += u",";
        }
        in += u"1234567890123456789012345";
        want += u"1234567890123456789012345BD AS TWCORE_NUMERIC_ALIAS" + katest::widen(std::to_string(i));
    }
    in += u" from t";
    want += u" from t";
    EXPECT_EQ(alias(in), want);
}
