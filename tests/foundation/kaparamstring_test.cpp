#include "foundation/kaparamstring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/u16.h"

namespace {

using katest::W;

std::u16string text(const KaParamStringW& s)
{
    return katest::u16(s.data, s.len);
}

std::string text(const KaParamString& s)
{
    return s.data == nullptr ? std::string() : std::string(s.data, s.len);
}

// One parameter of a substitution case.
struct Param {
    enum Kind { Text, Null, Unsigned, Signed } kind;
    const char16_t* value = nullptr;
    uint64_t u = 0;
    int64_t i = 0;
};

struct Case {
    const char* name;
    const char16_t* tmpl;
    std::vector<Param> params;
    const char16_t* expected;
};

void apply(KaParamStringW& s, const Param& p)
{
    switch (p.kind) {
    case Param::Text: ASSERT_EQ(s.addParam(W(p.value)), 0); break;
    case Param::Null: ASSERT_EQ(s.addParam(nullptr), 0); break;
    case Param::Unsigned: ASSERT_EQ(s.addParamUnsigned(p.u), 0); break;
    case Param::Signed: ASSERT_EQ(s.addParamSigned(p.i), 0); break;
    }
}

}  // namespace

TEST(KaParamStringW, SubstitutesPlaceholdersInOrder)
{
    const Case cases[] = {
        {"every occurrence", u"%s1 and %s1", {{Param::Text, u"A"}}, u"A and A"},
        {"inserted placeholder kept", u"x%s1y", {{Param::Text, u"%s1"}}, u"x%s1y"},
        // A later parameter must not reach into text that an earlier one
        // inserted.
        {"inserted later placeholder kept",
         u"%s1 %d2",
         {{Param::Text, u"%d2"}, {Param::Unsigned, nullptr, 7}},
         u"%d2 7"},
        {"no placeholder", u"plain", {{Param::Text, u"A"}}, u"plain"},
        {"null removes", u"a%s1b", {{Param::Null}}, u"ab"},
        {"signed", u"n=%d1", {{Param::Signed, nullptr, 0, -5}}, u"n=-5"},
        {"largest unsigned", u"n=%d1", {{Param::Unsigned, nullptr, UINT64_MAX}}, u"n=18446744073709551615"},
        {"longer text grows", u"[%s1]", {{Param::Text, u"a much longer parameter"}}, u"[a much longer parameter]"},
        {"text then number", u"%s1:%d2", {{Param::Text, u"col"}, {Param::Unsigned, nullptr, 3}}, u"col:3"},
        {"kind must match", u"%d1", {{Param::Text, u"t"}}, u"%d1"},
        // Removing a parameter may join the text around it; the join is no
        // placeholder of the template.
        {"removal joins nothing", u"%d%s12", {{Param::Null}, {Param::Unsigned, nullptr, 5}}, u"%d2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KaParamStringW s;
        ASSERT_EQ(s.set(W(c.tmpl)), 0);
        for (const Param& p : c.params)
            apply(s, p);
        EXPECT_EQ(text(s), std::u16string(c.expected));
        EXPECT_EQ(s.data[s.len], 0);
        EXPECT_EQ(s.paramCount, c.params.size());
    }
}

TEST(KaParamStringW, TenthParameterUsesXForm)
{
    KaParamStringW s;
    ASSERT_EQ(s.set(W(u"%s1|%s2|%s3|%s4|%s5|%s6|%s7|%s8|%s9|%sx10|%dx11")), 0);
    const char16_t* values[] = {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i", u"j"};
    for (const char16_t* v : values)
        ASSERT_EQ(s.addParam(W(v)), 0);
    ASSERT_EQ(s.addParamUnsigned(11), 0);
    EXPECT_EQ(text(s), u"a|b|c|d|e|f|g|h|i|j|11");
}

TEST(KaParamStringW, FirstParameterDoesNotMatchInsideTenth)
{
    KaParamStringW s;
    ASSERT_EQ(s.set(W(u"%sx10")), 0);
    ASSERT_EQ(s.addParam(W(u"A")), 0);
    EXPECT_EQ(text(s), u"%sx10");
}

TEST(KaParamStringW, SetRestartsNumbering)
{
    KaParamStringW s;
    ASSERT_EQ(s.set(W(u"%s1 %s2")), 0);
    s.addParam(W(u"a"));
    s.addParam(W(u"b"));
    ASSERT_EQ(s.set(W(u"<%s1>")), 0);
    EXPECT_EQ(s.paramCount, 0);
    s.addParam(W(u"c"));
    EXPECT_EQ(text(s), u"<c>");
}

TEST(KaParamStringW, SetFromNarrowForms)
{
    KaParamStringW s;
    ASSERT_EQ(s.setA("caf\xC3\xA9 %s1", 3), 0);
    EXPECT_EQ(text(s), u"caf\u00e9 %s1");
    const char16_t wide[] = u"AB";
    ASSERT_EQ(s.setA(reinterpret_cast<const char*>(wide), 2), 0);
    EXPECT_EQ(text(s), u"AB");
}

TEST(KaParamStringW, QuotedParameterDoublesInnerQuotes)
{
    KaParamStringW s;
    ASSERT_EQ(s.set(W(u"v=%s1;")), 0);
    ASSERT_EQ(s.addParamQuoted(W(u"it's"), u'\''), 0);
    EXPECT_EQ(text(s), u"v='it''s';");
}

TEST(KaParamStringW, SubStringTakesExactlyItsUnits)
{
    KaParamStringW s;
    ASSERT_EQ(s.set(W(u"(%s1)")), 0);
    KaSubStringW part(W(u"abcdef"), 3);
    ASSERT_EQ(s.addParamSubString(part), 0);
    EXPECT_EQ(text(s), u"(abc)");
    KaSubStringW empty(W(u"zzz"), 0);
    ASSERT_EQ(s.set(W(u"(%s1)")), 0);
    ASSERT_EQ(s.addParamSubString(empty), 0);
    EXPECT_EQ(text(s), u"()");
}

TEST(KaParamStringW, ChainStopsOnceFailed)
{
    KaParamStringW s;
    ASSERT_EQ(s.set(W(u"%s1 %d2")), 0);
    s.chainParam(W(u"a")).chainUnsigned(2);
    EXPECT_EQ(text(s), u"a 2");

    ASSERT_EQ(s.set(W(u"%s1 %d2")), 0);
    s.paramFlags |= KaParamStringW::FAILED;
    s.chainParam(W(u"a")).chainUnsigned(2).chainSigned(-1);
    EXPECT_EQ(text(s), u"%s1 %d2");
    EXPECT_EQ(s.paramCount, 0);
    // The direct forms still try.
    EXPECT_EQ(s.addParam(W(u"a")), 0);
    EXPECT_EQ(text(s), u"a %d2");
    EXPECT_TRUE(s.failed());
}

TEST(KaParamStringW, AppendedTemplateNumbersFromOne)
{
    KaParamStringW s;
    ASSERT_EQ(s.set(W(u"first %s1.")), 0);
    s.addParam(W(u"%s1"));
    const char16_t more[] = u" second %s1.";
    ASSERT_EQ(s.appendTemplate(W(more), 12), 0);
    s.addParam(W(u"B"));
    EXPECT_EQ(text(s), u"first %s1. second B.");
}

TEST(KaParamString, SubstitutesLikeTheWideForm)
{
    KaParamString s;
    ASSERT_EQ(s.set("%s1 %d2 %s1"), 0);
    ASSERT_EQ(s.addParam("%d2"), 0);
    ASSERT_EQ(s.addParamSigned(-12), 0);
    EXPECT_EQ(text(s), "%d2 -12 %d2");
    EXPECT_EQ(s.data[s.len], '\0');

    ASSERT_EQ(s.set("a%s1b"), 0);
    ASSERT_EQ(s.addParam(nullptr), 0);
    EXPECT_EQ(text(s), "ab");

    ASSERT_EQ(s.set("q=%s1"), 0);
    ASSERT_EQ(s.addParamQuoted("o'k", '\''), 0);
    EXPECT_EQ(text(s), "q='o''k'");

    ASSERT_EQ(s.set("%s1", 2), 0);  // counted: only "%s"
    ASSERT_EQ(s.addParam("x"), 0);
    EXPECT_EQ(text(s), "%s");

    KaSubString sub("xyz", 2);
    ASSERT_EQ(s.set("[%s1][%dx10]"), 0);
    ASSERT_EQ(s.addParamSubString(sub), 0);
    for (int i = 2; i < 10; ++i)
        s.addParamUnsigned(0);
    ASSERT_EQ(s.addParamUnsigned(UINT64_MAX), 0);
    EXPECT_EQ(text(s), "[xy][18446744073709551615]");
}

TEST(KaParamString, KeepsItsCodePage)
{
    KaParamString s(3);
    EXPECT_EQ(s.codePage, 3);
    ASSERT_EQ(s.set("x", KA_TEXT_UTF8), 0);
    EXPECT_EQ(s.codePage, 3);
    EXPECT_EQ(s.paramCount, 0);
}
