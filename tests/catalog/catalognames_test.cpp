// Name matching, quoting and the table-type filter of the catalog functions.
#include "catalog/catalognames.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string w(const char16_t* s)
{
    return std::u16string(s);
}

const uint16_t* p(const std::u16string& s)
{
    return reinterpret_cast<const uint16_t*>(s.c_str());
}

struct MatchCase {
    const char16_t* name;
    const char16_t* pattern;
    bool caseSensitive;
    bool matches;
};

TEST(CatalogMatchName, LikeOverCodePoints)
{
    const MatchCase cases[] = {
        {u"employees", u"EMP%", false, true},
        {u"employees", u"EMP%", true, false},
        {u"employees", u"emp%", true, true},
        {u"my_tab", u"my\\_tab", false, true},
        {u"myxtab", u"my\\_tab", false, false},
        {u"myxtab", u"my_tab", false, true},
        {u"a\\b", u"a\\\\b", false, true},
        {u"100%", u"100\\%", false, true},
        {u"1000", u"100\\%", false, false},
        {u"abc", u"%%%", false, true},
        {u"", u"%", false, true},
        {u"", u"_", false, false},
        {u"abcabd", u"%ab_", false, true},
        {u"abcabx", u"%abd", false, false},
        // Non-ASCII names: one "_" is one code point, case folding is Unicode's.
        {u"straße", u"STRASSE", false, false},
        {u"größe", u"GRÖSSE", false, false},
        {u"größe", u"GRÖßE", false, true},
        {u"größe", u"gr_ße", false, true},
        {u"t\U0001F600x", u"t_x", false, true},
        {u"t\U0001F600x", u"t__x", false, false},
        {u"Ωmega", u"ωMEGA", false, true},
    };
    for (const MatchCase& c : cases) {
        const std::u16string name = w(c.name);
        const std::u16string pattern = w(c.pattern);
        EXPECT_EQ(catalogMatchName(p(name), p(pattern), '\\', c.caseSensitive), c.matches)
            << std::string(name.begin(), name.end()) << " ~ " << std::string(pattern.begin(), pattern.end());
    }
}

TEST(CatalogMatchName, NullArgumentsAndNoEscape)
{
    const std::u16string name = u"a_b";
    EXPECT_TRUE(catalogMatchName(p(name), nullptr, '\\', false));
    EXPECT_TRUE(catalogMatchName(nullptr, nullptr, '\\', false));
    EXPECT_FALSE(catalogMatchName(nullptr, p(name), '\\', false));
    // Without an escape character a backslash is an ordinary character.
    const std::u16string slash = u"a\\b";
    EXPECT_TRUE(catalogMatchName(p(slash), p(slash), 0, true));
    EXPECT_FALSE(catalogMatchName(p(name), p(slash), 0, true));
}

TEST(CatalogMatchName, ManyWildcardsStayLinear)
{
    std::u16string name(4000, u'a');
    std::u16string pattern;
    for (int i = 0; i < 200; ++i)
        pattern += u"%a";
    pattern += u"b";
    EXPECT_FALSE(catalogMatchName(p(name), p(pattern), '\\', false));
    name += u"b";
    EXPECT_TRUE(catalogMatchName(p(name), p(pattern), '\\', false));
}

struct TypeCase {
    const char16_t* list;
    uint32_t set;
};

TEST(CatalogTableTypes, ListsAreReadByOdbcNames)
{
    const TypeCase cases[] = {
        {u"TABLE", kCatalogTypeTable},
        {u"'TABLE','VIEW'", kCatalogTypeTable | kCatalogTypeView},
        {u" TABLE , VIEW ", kCatalogTypeTable | kCatalogTypeView},
        {u"GLOBAL TEMPORARY", kCatalogTypeGlobalTemporary},
        {u"'LOCAL TEMPORARY'", kCatalogTypeLocalTemporary},
        {u"SYSTEM TABLE,ALIAS,SYNONYM", kCatalogTypeSystemTable | kCatalogTypeAlias | kCatalogTypeSynonym},
        {u"table", 0},
        {u"GLOBAL_TEMPORARY", 0},
        {u"", kCatalogTypeKnown},
        {u"  ", kCatalogTypeKnown},
    };
    for (const TypeCase& c : cases) {
        const std::u16string list = w(c.list);
        EXPECT_EQ(catalogTableTypeSet(p(list), -3), c.set) << std::string(list.begin(), list.end());
    }
    EXPECT_EQ(catalogTableTypeSet(nullptr, 0), kCatalogTypeKnown);
    const std::u16string cut = u"VIEW,TABLE";
    EXPECT_EQ(catalogTableTypeSet(p(cut), 4), kCatalogTypeView);
}

TEST(CatalogTableTypes, TemporaryRowsAreFiltered)
{
    const std::u16string global = u"GLOBAL TEMPORARY";
    const std::u16string local = u"LOCAL TEMPORARY";
    const std::u16string temp = u"TEMPORARY TABLE";
    const std::u16string table = u"TABLE";
    const std::u16string view = u"VIEW";
    const uint32_t onlyTables = catalogTableTypeSet(p(table), -3);
    EXPECT_TRUE(catalogTypePasses(p(table), onlyTables));
    EXPECT_FALSE(catalogTypePasses(p(view), onlyTables));
    EXPECT_FALSE(catalogTypePasses(p(global), onlyTables));
    EXPECT_FALSE(catalogTypePasses(p(local), onlyTables));
    EXPECT_FALSE(catalogTypePasses(p(temp), onlyTables));
    const uint32_t temporaries = catalogTableTypeSet(p(local), -3);
    EXPECT_TRUE(catalogTypePasses(p(temp), temporaries));
    EXPECT_FALSE(catalogTypePasses(p(table), temporaries));
    EXPECT_TRUE(catalogTypePasses(p(temp), kCatalogTypeKnown));
    EXPECT_TRUE(catalogTypePasses(p(view), kCatalogTypeAll));
}

std::u16string quoted(int32_t (*quote)(const uint16_t*, int32_t, uint16_t*, int32_t), const std::u16string& s)
{
    const int32_t need = quote(p(s), -3, nullptr, 0);
    std::u16string out(static_cast<size_t>(need) + 1, u'\0');
    EXPECT_EQ(quote(p(s), -3, reinterpret_cast<uint16_t*>(out.data()), need + 1), need);
    out.resize(static_cast<size_t>(need));
    return out;
}

TEST(CatalogQuote, IdentifiersAndLiterals)
{
    EXPECT_EQ(quoted(catalogQuoteIdentifier, u"plain"), u"`plain`");
    EXPECT_EQ(quoted(catalogQuoteIdentifier, u"a`b; DROP TABLE x"), u"`a``b; DROP TABLE x`");
    EXPECT_EQ(quoted(catalogQuoteIdentifier, u"größe"), u"`größe`");
    EXPECT_EQ(quoted(catalogQuoteLiteral, u"it's"), u"'it\\'s'");
    EXPECT_EQ(quoted(catalogQuoteLiteral, u"a\\b%"), u"'a\\\\b%'");
}

TEST(CatalogQuote, SmallBufferIsNeverOverrun)
{
    const std::u16string name = u"abcdef";
    uint16_t buf[5] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xBBBB};
    EXPECT_EQ(catalogQuoteIdentifier(p(name), -3, buf, 4), 8);
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(buf[0], u'`');
    EXPECT_EQ(buf[4], 0xBBBB);
}

}  // namespace

namespace {

std::u16string formOf(int32_t (*form)(const uint16_t*, int32_t, uint16_t, uint16_t*, int32_t), const std::u16string& s)
{
    const int32_t need = form(p(s), -3, '\\', nullptr, 0);
    std::u16string out(static_cast<size_t>(need) + 1, u'\0');
    EXPECT_EQ(form(p(s), -3, '\\', reinterpret_cast<uint16_t*>(out.data()), need + 1), need);
    out.resize(static_cast<size_t>(need));
    return out;
}

TEST(CatalogPatternForms, PlainNameAndMatchPattern)
{
    struct Case {
        const char16_t* given;
        const char16_t* plain;
        const char16_t* pattern;
    };
    const Case cases[] = {
        {u"my\\_tab", u"my_tab", u"my\\_tab"}, {u"a\\b", u"ab", u"a\\\\b"}, {u"100\\%", u"100%", u"100\\%"},
        {u"a\\\\b", u"a\\b", u"a\\\\b"},       {u"emp%", u"emp%", u"emp%"}, {u"end\\", u"end", u"end\\\\"},
        {u"größe", u"größe", u"größe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formOf(catalogPlainName, c.given), c.plain);
        EXPECT_EQ(formOf(catalogMatchPattern, c.given), c.pattern);
    }
    // The lone escape of a\b matches only the three-character name.
    const std::u16string pattern = formOf(catalogMatchPattern, u"a\\b");
    const std::u16string slashName = u"a\\b";
    const std::u16string ab = u"ab";
    EXPECT_TRUE(catalogMatchName(p(slashName), p(pattern), '\\', false));
    EXPECT_FALSE(catalogMatchName(p(ab), p(pattern), '\\', false));
}

}  // namespace
