#include "foundation/kastr.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ram.h"
#include "support/guarded.h"
#include "support/localescope.h"
#include "support/u16.h"

namespace {

using katest::u16;
using katest::W;
using katest::widen;

template <typename T>
using Guarded = katest::Guarded<T>;

// Counted text in a heap block of exactly its size, so that reading past it
// trips AddressSanitizer.
class Exact {
public:
    explicit Exact(const std::string& s) : p_(new char[s.size() ? s.size() : 1]), n_(s.size())
    {
        std::memcpy(p_.get(), s.data(), s.size());
    }
    const char* data() const { return p_.get(); }
    size_t size() const { return n_; }

private:
    std::unique_ptr<char[]> p_;
    size_t n_;
};

class ExactW {
public:
    explicit ExactW(const std::u16string& s) : p_(new uint16_t[s.size() ? s.size() : 1]), n_(s.size())
    {
        std::memcpy(p_.get(), s.data(), s.size() * 2);
    }
    const uint16_t* data() const { return p_.get(); }
    size_t size() const { return n_; }

private:
    std::unique_ptr<uint16_t[]> p_;
    size_t n_;
};

// The tests that need a locale double-byte character use two-byte UTF-8
// characters under C.UTF-8, whose mblen over two bytes reports 2.
class Utf8Locale : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(locale_.ok); }

private:
    katest::Utf8Locale locale_;
};

}  // namespace

// ---- 8-bit comparisons -----------------------------------------------------

TEST(StrCompare, CountedByteOrderThenLength)
{
    struct Case {
        std::string a, b;
        int want;
    } cases[] = {
        {"ab", "abc", -1}, {"abc", "ab", 1}, {"abc", "abc", 0},
        {"", "", 0},       {"\xff", "a", 1}, {std::string("a\0b", 3), std::string("a\0c", 3), -1},
        {"B", "a", -1},
    };
    for (const auto& c : cases) {
        Exact a(c.a), b(c.b);
        EXPECT_EQ(strCompareN(a.data(), a.size(), b.data(), b.size()), c.want) << c.a << " vs " << c.b;
    }
}

TEST(StrCompare, NoCaseTerminated)
{
    struct Case {
        const char *a, *b;
        int want;
    } cases[] = {
        {"abc", "ABD", -1}, {"ABC", "abc", 0}, {"ab", "abc", -1}, {"abc", "AB", 1},
        {"b", "A", 1},      {"", "", 0},       {"a[", "A{", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(strCompareNoCase(c.a, c.b), c.want) << c.a << " vs " << c.b;
        EXPECT_EQ(strEqualNoCase(c.a, c.b), c.want == 0 ? 1 : 0) << c.a << " vs " << c.b;
    }
}

TEST(StrCompare, NoCaseCounted)
{
    Exact a("Hello"), b("hELLo world");
    EXPECT_EQ(strCompareNoCaseN(a.data(), a.size(), b.data(), 5), 0);
    EXPECT_EQ(strCompareNoCaseN(a.data(), a.size(), b.data(), b.size()), -1);
    EXPECT_EQ(strEqualNoCaseN(a.data(), a.size(), b.data(), 5), 1);
    // Different lengths answer 0 without reading either text.
    EXPECT_EQ(strEqualNoCaseN(nullptr, 3, nullptr, 4), 0);
}

TEST_F(Utf8Locale, NoCaseComparesDoubleByteCharactersExactly)
{
    // é and É are locale double-byte characters here: compared byte for byte.
    EXPECT_EQ(strCompareNoCase("\xC3\xA9", "\xC3\x89"), 1);
    EXPECT_EQ(strEqualNoCase("x\xC3\xA9", "X\xC3\xA9"), 1);
    // A lead byte that ends the counted text stands alone; nothing beyond
    // the count is read.
    Exact a("a\xC3"), b("A\xC3");
    EXPECT_EQ(strCompareNoCaseN(a.data(), a.size(), b.data(), b.size()), 0);
    EXPECT_EQ(strEqualNoCaseN(a.data(), a.size(), b.data(), b.size()), 1);
}

// ---- UTF-16 comparisons ----------------------------------------------------

TEST(StrCompareW, UnitOrderAgainstCodePointOrder)
{
    const char16_t e000[] = {0xE000, 0};
    const char16_t pair[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(strCompareW(W(e000), W(pair)), 1);
    EXPECT_EQ(strCompareCodePointNW(W(e000), 1, W(pair), 2), -1);
    EXPECT_EQ(strCompareCodePointNW(W(pair), 2, W(e000), 1), 1);
    EXPECT_EQ(strCompareCodePointW(W(pair), 2, W(e000)), 1);
    EXPECT_EQ(strCompareW(W(u"ab"), W(u"abc")), -1);
    EXPECT_EQ(strCompareW(W(u"abc"), W(u"abc")), 0);
}

TEST(StrCompareW, CodePointOrderEdges)
{
    // A lone low surrogate keeps its own value: below U+E000.
    const char16_t low[] = {0xDC00};
    const char16_t e000[] = {0xE000};
    EXPECT_EQ(strCompareCodePointNW(W(low), 1, W(e000), 1), -1);
    // A high surrogate ending the text sorts as a supplementary character,
    // and the shorter text is less when the other goes on.
    const char16_t cut[] = {u'x', 0xD83D};
    const char16_t full[] = {u'x', 0xD83D, 0xDE00};
    ExactW a(std::u16string(cut, 2)), b(std::u16string(full, 3));
    EXPECT_EQ(strCompareCodePointNW(a.data(), a.size(), b.data(), b.size()), -1);
    ExactW lone(std::u16string(cut + 1, 1));
    EXPECT_EQ(strCompareCodePointNW(lone.data(), lone.size(), W(e000), 1), 1);
}

TEST(StrCompareW, WithUtf8)
{
    const char16_t smile[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(strCompareWithUtf8W(W(u"\u00e9t\u00e9"), "\xC3\xA9t\xC3\xA9"), 0);
    EXPECT_EQ(strCompareWithUtf8W(W(smile), "\xF0\x9F\x98\x80"), 0);
    EXPECT_EQ(strCompareWithUtf8W(W(u"a"), "b"), -1);
    EXPECT_EQ(strCompareWithUtf8W(W(u"ab"), "a"), 1);
    EXPECT_EQ(strCompareWithUtf8W(W(u"a"), "ab"), -1);
    EXPECT_EQ(strCompareWithUtf8W(W(u"\u20ac"), "\xE2\x82\xAC"), 0);
    // A zero inside a UTF-8 sequence makes the UTF-16 side greater.
    EXPECT_EQ(strCompareWithUtf8W(W(u"\u20ac"), "\xE2\x82"), 1);
}

TEST(StrEqualW, CountedAgainstTerminated)
{
    EXPECT_EQ(strEqualNW(W(u"abc"), 3, W(u"abc")), 1);
    EXPECT_EQ(strEqualNW(W(u"abc"), 2, W(u"abc")), 0);  // the other goes on
    EXPECT_EQ(strEqualNW(W(u"abc"), 2, W(u"ab")), 1);
    const char16_t withZero[] = {u'a', 0, u'b'};
    EXPECT_EQ(strEqualNW(W(withZero), 3, W(u"a")), 0);  // a zero inside the count
    EXPECT_EQ(strEqualWN(W(u"ab"), W(u"abx"), 2), 1);
    EXPECT_EQ(strEqualW(W(u"ab"), W(u"ab")), 1);
    EXPECT_EQ(strEqualW(W(u"ab"), W(u"aB")), 0);
    EXPECT_EQ(strEqualMemW(W(u"abc"), W(u"abd"), 2), 1);
    EXPECT_EQ(strEqualMemW(W(u"abc"), W(u"abd"), 3), 0);
}

TEST(StrEqualW, NoCaseByCodePoint)
{
    EXPECT_EQ(strEqualNoCaseW(W(u"Stra\u00dfe \u00e9"), W(u"sTRA\u00dfE \u00c9")), 1);
    EXPECT_EQ(strEqualNoCaseW(W(u"abc"), W(u"abd")), 0);
    const char16_t deseret[] = {0xD801, 0xDC28, 0};    // U+10428, lower case
    const char16_t deseretUp[] = {0xD801, 0xDC00, 0};  // U+10400
    EXPECT_EQ(strEqualNoCaseW(W(deseret), W(deseretUp)), 1);
    // A high surrogate at the end matches only the same unit at the end.
    const char16_t cut[] = {u'a', 0xD83D, 0};
    const char16_t pair[] = {u'a', 0xD83D, 0xDE00, 0};
    EXPECT_EQ(strEqualNoCaseW(W(cut), W(cut)), 1);
    EXPECT_EQ(strEqualNoCaseW(W(cut), W(pair)), 0);
    ExactW counted(u"ABC");
    EXPECT_EQ(strEqualNoCaseNW(counted.data(), counted.size(), W(u"abc")), 1);
    EXPECT_EQ(strEqualNoCaseNW(counted.data(), counted.size(), W(u"abcd")), 0);
    EXPECT_EQ(strEqualNoCaseWN(W(u"abc"), counted.data(), counted.size()), 1);
    EXPECT_EQ(strEqualNoCaseNNW(counted.data(), 3, W(u"abc"), 3), 1);
    EXPECT_EQ(strEqualNoCaseNNW(nullptr, 2, nullptr, 3), 0);
}

TEST(StrCompareW, NoCaseOrder)
{
    EXPECT_EQ(strCompareNoCaseW(W(u"abc"), W(u"ABD")), -1);
    EXPECT_EQ(strCompareNoCaseW(W(u"abc"), W(u"AB")), 1);
    EXPECT_EQ(strCompareNoCaseW(W(u"\u00e9"), W(u"\u00c9")), 0);
    ExactW a(u"abc"), b(u"ABCD");
    EXPECT_EQ(strCompareNoCaseNNW(a.data(), a.size(), b.data(), b.size()), -1);
    EXPECT_EQ(strCompareNoCaseNNW(b.data(), b.size(), a.data(), a.size()), 1);
    EXPECT_EQ(strCompareNoCaseNW(a.data(), a.size(), W(u"ABC")), 0);
}

// ---- Copies ----------------------------------------------------------------

TEST(StrCopy, BoundedAlwaysTerminatesWithinSize)
{
    Guarded<char> out(4);
    char* end = strCopyBounded(out.data(), 4, "abcdef");
    EXPECT_STREQ(out.data(), "abc");
    EXPECT_EQ(end, out.data() + 3);
    EXPECT_TRUE(out.guardsIntact());

    Guarded<char> one(1);
    EXPECT_EQ(strCopyBounded(one.data(), 1, "abc"), one.data());
    EXPECT_EQ(one.data()[0], 0);
    EXPECT_TRUE(one.guardsIntact());

    Guarded<char> none(0);
    EXPECT_EQ(strCopyBounded(none.data(), 0, "abc"), none.data());
    EXPECT_TRUE(none.guardsIntact());
}

TEST(StrCopy, CountedCopies)
{
    Guarded<char> out(4);
    EXPECT_EQ(strCopyN(out.data(), 4, "abcdef", 6), out.data() + 3);
    EXPECT_STREQ(out.data(), "abc");
    EXPECT_EQ(strCopyN(out.data(), 4, "xy", 2), out.data() + 2);
    EXPECT_STREQ(out.data(), "xy");
    EXPECT_TRUE(out.guardsIntact());

    Guarded<char> none(0);
    strCopyN(none.data(), 0, "abc", 3);
    EXPECT_TRUE(none.guardsIntact());

    char buf[16] = "ab";
    EXPECT_EQ(strAppendN(buf, "cdef", 2), buf + 4);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(strCopyNTerm(buf, "xyz", 1), buf + 1);
    EXPECT_STREQ(buf, "x");
}

TEST(StrCopyW, BoundedDropsAHighSurrogateCutFromItsPair)
{
    struct Case {
        std::u16string src;
        std::u16string want;
    } cases[] = {
        {u"abc\xD83D\xDE00", u"abc"},  // fourth unit a high surrogate: not reached
        {u"ab\xD83D\xDE00x", u"ab"},   // third unit a high surrogate: dropped
        {u"abcdef", u"abc"},
        {u"ab", u"ab"},
    };
    for (const auto& c : cases) {
        Guarded<uint16_t> out(4);
        uint16_t* end = strCopyBoundedW(out.data(), 4, W(c.src.c_str()));
        EXPECT_EQ(u16(out.data(), end - out.data()), c.want);
        EXPECT_EQ(*end, 0);
        EXPECT_TRUE(out.guardsIntact());
    }
    Guarded<uint16_t> one(1);
    EXPECT_EQ(strCopyBoundedW(one.data(), 1, W(u"abc")), one.data());
    EXPECT_EQ(one.data()[0], 0);
    Guarded<uint16_t> none(0);
    strCopyBoundedW(none.data(), 0, W(u"abc"));
    EXPECT_TRUE(none.guardsIntact());
    EXPECT_TRUE(one.guardsIntact());
}

TEST(StrCopyW, CountedBoundedAndPlainCopies)
{
    Guarded<uint16_t> out(3);
    const char16_t src[] = {u'a', 0xD83D, 0xDE00};
    uint16_t* end = strCopyNBoundedW(out.data(), 3, W(src), 3);
    EXPECT_EQ(u16(out.data(), end - out.data()), u"a");
    EXPECT_TRUE(out.guardsIntact());

    Guarded<uint16_t> copy(4);
    end = strCopyNW(copy.data(), W(u"abc"), 3);
    EXPECT_EQ(u16(copy.data(), 3), u"abc");
    EXPECT_EQ(*end, 0);
    EXPECT_EQ(strCopyW(copy.data(), W(u"xy")), copy.data() + 2);
    EXPECT_TRUE(copy.guardsIntact());

    const char16_t swapIn[] = {0x1234, 0x00FF};
    Guarded<uint16_t> swapped(3);
    strSwapCopyW(swapped.data(), W(swapIn), 2);
    EXPECT_EQ(swapped.data()[0], 0x3412);
    EXPECT_EQ(swapped.data()[1], 0xFF00);
    EXPECT_EQ(swapped.data()[2], 0);
    EXPECT_TRUE(swapped.guardsIntact());
}

TEST(StrWiden, BytesBecomeUnitsAndBack)
{
    Guarded<uint16_t> wide(4);
    uint16_t* end = strWidenW(wide.data(), "A\xE9z");
    EXPECT_EQ(end, wide.data() + 3);
    EXPECT_EQ(wide.data()[1], 0x00E9);
    EXPECT_TRUE(wide.guardsIntact());

    strWidenNW(wide.data(), "\xFF\x01x", 2);
    EXPECT_EQ(wide.data()[0], 0x00FF);
    EXPECT_EQ(wide.data()[2], 0);

    Guarded<uint16_t> bounded(3);
    EXPECT_EQ(strWidenBoundedW(bounded.data(), 3, "abcd"), bounded.data() + 2);
    EXPECT_TRUE(bounded.guardsIntact());

    strWidenHighByteW(wide.data(), "\x12\x34");
    EXPECT_EQ(wide.data()[0], 0x1200);
    EXPECT_EQ(wide.data()[1], 0x3400);

    Guarded<char> narrow(4);
    const char16_t units[] = {0x0141, 0x00E9, u'z', 0};
    EXPECT_EQ(strNarrowW(narrow.data(), W(units)), narrow.data() + 3);
    EXPECT_STREQ(narrow.data(), "A\xE9z");
    EXPECT_EQ(strNarrowNW(narrow.data(), W(units), 1), narrow.data() + 1);
    EXPECT_TRUE(narrow.guardsIntact());

    Guarded<char> nb(2);
    EXPECT_EQ(strNarrowBoundedW(nb.data(), 2, W(units), 3), nb.data() + 1);
    EXPECT_STREQ(nb.data(), "A");
    Guarded<char> nz(0);
    strNarrowBoundedW(nz.data(), 0, W(units), 3);
    EXPECT_TRUE(nb.guardsIntact());
    EXPECT_TRUE(nz.guardsIntact());
}

// ---- Quoting -----------------------------------------------------------------

TEST(StrQuote, DoublesTheQuote)
{
    Guarded<char> out(2 * 4 + 3);
    char* end = strQuote(out.data(), "it's", 4, KA_TEXT_LOCALE, '\'');
    EXPECT_STREQ(out.data(), "'it''s'");
    EXPECT_EQ(end, out.data() + 7);
    EXPECT_TRUE(out.guardsIntact());

    strQuoteCStr(out.data(), "a\"b", KA_TEXT_LOCALE, '"');
    EXPECT_STREQ(out.data(), "\"a\"\"b\"");

    char buf[32] = "x=";
    EXPECT_EQ(strAppendQuoted(buf, "''", KA_TEXT_LOCALE, '\''), buf + 8);
    EXPECT_STREQ(buf, "x=''''''");
}

TEST(StrQuote, CutUtf8CharacterEndsTheCopy)
{
    Guarded<char> out(2 * 2 + 3);
    Exact src("a\xE2");
    strQuote(out.data(), src.data(), src.size(), KA_TEXT_UTF8, '\'');
    EXPECT_STREQ(out.data(), "'a'");
    EXPECT_TRUE(out.guardsIntact());
}

TEST(StrUnquote, InPlaceLengthOnlyForWellFormedText)
{
    struct Case {
        std::string text;
        size_t want;
        std::string after;
    } cases[] = {
        {"'it''s'", 4, "it's"}, {"'it's'", 6, "'it's'"},  // undoubled inner quote: left alone
        {"'a''", 4, "'a''"},                              // the doubled quote would close early
        {"''", 0, ""},          {"''''", 1, "'"},        {"'", 1, "'"}, {"", 0, ""},
        {"abc", 3, "abc"},      {"'abc", 4, "'abc"},
    };
    for (const auto& c : cases) {
        std::vector<char> buf(c.text.begin(), c.text.end());
        buf.push_back(0);
        size_t got = strUnquoteLen(buf.data(), c.text.size(), '\'', KA_TEXT_LOCALE);
        EXPECT_EQ(got, c.want) << c.text;
        EXPECT_EQ(std::string(buf.data(), got), c.after) << c.text;
    }
    char text[] = "'a''b'";
    EXPECT_EQ(strUnquoteInPlace(text, '\'', KA_TEXT_LOCALE), 3u);
    EXPECT_STREQ(text, "a'b");
}

TEST(StrUnquote, ShortTextCopiesNothing)
{
    for (size_t n : {0u, 1u}) {
        Guarded<char> out(1);
        char* end = strUnquote(out.data(), "'", n);
        EXPECT_EQ(end, out.data());
        EXPECT_EQ(out.data()[0], 0);
        EXPECT_TRUE(out.guardsIntact()) << n;
    }
}

TEST(StrUnquote, CopiesTheInsideUndoubled)
{
    Guarded<char> out(8);
    EXPECT_EQ(strUnquote(out.data(), "'a''b'", 6), out.data() + 3);
    EXPECT_STREQ(out.data(), "a'b");
    strUnquoteCStr(out.data(), "\"x\"\"\"");
    EXPECT_STREQ(out.data(), "x\"");
    // A lone quote just before the closing one is kept.
    strUnquoteCStr(out.data(), "'ab''");
    EXPECT_STREQ(out.data(), "ab'");
    EXPECT_TRUE(out.guardsIntact());
}

TEST_F(Utf8Locale, UnquoteKeepsDoubleByteCharactersWhole)
{
    // The trail byte of é (0xA9) must not be taken for anything else.
    Guarded<char> out(8);
    strUnquoteCStr(out.data(), "'\xC3\xA9x'");
    EXPECT_STREQ(out.data(), "\xC3\xA9x");
    // A lead byte whose trail byte would be the closing byte ends the copy.
    strUnquoteCStr(out.data(), "'x\xC3\xA9");
    EXPECT_STREQ(out.data(), "x");
    EXPECT_TRUE(out.guardsIntact());
}

TEST(StrQuoteW, SurrogatesAndQuotes)
{
    const char16_t src[] = {u'i', u'\'', 0xD83D, 0xDE00, u'x'};
    Guarded<uint16_t> out(2 * 5 + 3);
    uint16_t* end = strQuoteW(out.data(), W(src), 5, u'\'');
    const char16_t want[] = {u'\'', u'i', u'\'', u'\'', 0xD83D, 0xDE00, u'x', u'\''};
    EXPECT_EQ(u16(out.data(), end - out.data()), std::u16string(want, 8));
    EXPECT_EQ(*end, 0);
    // A high surrogate that is the last unit ends the copy.
    const char16_t cut[] = {u'a', 0xD83D};
    end = strQuoteW(out.data(), W(cut), 2, u'"');
    EXPECT_EQ(u16(out.data(), end - out.data()), u"\"a\"");
    EXPECT_TRUE(out.guardsIntact());
}

TEST(StrUnquoteW, CopiesAndInPlace)
{
    Guarded<uint16_t> out(8);
    uint16_t* end = strUnquoteW(out.data(), W(u"'a''b'"), 6);
    EXPECT_EQ(u16(out.data(), end - out.data()), u"a'b");
    end = strUnquoteW(out.data(), W(u"'"), 1);
    EXPECT_EQ(end, out.data());
    EXPECT_EQ(out.data()[0], 0);
    EXPECT_TRUE(out.guardsIntact());

    struct Case {
        std::u16string text;
        size_t want;
        std::u16string after;
    } cases[] = {
        {u"'it''s'", 4, u"it's"}, {u"'it's'", 6, u"'it's'"}, {u"'a''", 4, u"'a''"}, {u"x", 1, u"x"}, {u"''", 0, u""},
    };
    for (const auto& c : cases) {
        std::u16string buf = c.text;
        size_t got = strUnquoteLenW(reinterpret_cast<uint16_t*>(buf.data()), buf.size(), u'\'');
        EXPECT_EQ(got, c.want);
        EXPECT_EQ(buf.substr(0, got), c.after);
    }

    std::u16string text = u"\"a\"\"b\"";
    EXPECT_EQ(strUnquoteInPlaceW(reinterpret_cast<uint16_t*>(text.data()), u'"'), u'"');
    EXPECT_EQ(std::u16string(text.c_str()), u"a\"b");
    std::u16string plain = u"ab";
    EXPECT_EQ(strUnquoteInPlaceW(reinterpret_cast<uint16_t*>(plain.data()), u'"'), 0);
    EXPECT_EQ(plain, u"ab");
}

TEST(StrStripBracketsW, BracketedAndPlain)
{
    Guarded<uint16_t> out(6);
    EXPECT_EQ(strStripBracketsW(out.data(), W(u"[a]]b]"), 6), 3u);
    EXPECT_EQ(u16(out.data(), 3), u"a]b");
    EXPECT_EQ(strStripBracketsW(out.data(), W(u"abc"), 3), 3u);
    EXPECT_EQ(u16(out.data(), 3), u"abc");
    EXPECT_EQ(strStripBracketsW(out.data(), W(u"["), 1), 1u);
    EXPECT_TRUE(out.guardsIntact());
}

// ---- Searches ------------------------------------------------------------------

TEST(StrFind, CharactersAndSubstrings)
{
    const char* s = "a,b,c";
    EXPECT_EQ(strFindChar(s, ',', KA_TEXT_LOCALE), s + 1);
    EXPECT_EQ(strFindLastChar(s, ',', KA_TEXT_LOCALE), s + 3);
    EXPECT_EQ(strFindChar(s, 'x', KA_TEXT_LOCALE), nullptr);
    EXPECT_EQ(strFindCharDbcs(s, 'c'), s + 4);
    EXPECT_EQ(strFind(s, "b,c", KA_TEXT_LOCALE), s + 2);
    EXPECT_EQ(strFind(s, "c,d", KA_TEXT_LOCALE), nullptr);  // would run past the end
    EXPECT_EQ(strFind(s, "", KA_TEXT_LOCALE), nullptr);

    Exact t("xxabcab");
    EXPECT_EQ(strFindN(t.data(), t.size(), "ab", 2, KA_TEXT_LOCALE), t.data() + 2);
    EXPECT_EQ(strFindN(t.data(), t.size(), "abx", 3, KA_TEXT_LOCALE), nullptr);
    EXPECT_EQ(strFindN(t.data(), t.size(), "", 0, KA_TEXT_LOCALE), nullptr);
    EXPECT_EQ(strFindN(t.data(), 2, "xxa", 3, KA_TEXT_LOCALE), nullptr);  // longer than the text
    Exact tail("zab");
    EXPECT_EQ(strFindN(tail.data(), tail.size(), "ab", 2, KA_TEXT_LOCALE), tail.data() + 1);
}

TEST(StrFind, Utf8StepsByCharacters)
{
    // 0x82 is a continuation byte of the euro sign: never a character start.
    const char* s = "\xE2\x82\xAC\x82";
    EXPECT_EQ(strFindChar(s, '\x82', KA_TEXT_UTF8), s + 3);
    EXPECT_EQ(strFindChar(s, '\x82', KA_TEXT_SINGLE_BYTE), s + 1);
    const char* t = "\xE2\x82\xAC"
                    "ab";
    EXPECT_EQ(strFind(t, "ab", KA_TEXT_UTF8), t + 3);
}

TEST(StrFind, NoCase)
{
    const char* s = "Hello World";
    EXPECT_EQ(strFindNoCase(s, "WORLD", KA_TEXT_LOCALE), s + 6);
    EXPECT_EQ(strFindNoCase(s, "worlds", KA_TEXT_LOCALE), nullptr);
    Exact t("abcXYZ");
    EXPECT_EQ(strFindNoCaseN(t.data(), t.size(), "xy", KA_TEXT_LOCALE), t.data() + 3);
    EXPECT_EQ(strFindNoCaseNN(t.data(), t.size(), "Cx", 2, KA_TEXT_LOCALE), t.data() + 2);
    EXPECT_EQ(strFindNoCaseNN(t.data(), 3, "cx", 2, KA_TEXT_LOCALE), nullptr);
}

TEST(StrFind, EitherCaseAndOutsideQuotes)
{
    Exact t("xSeLect");
    EXPECT_EQ(strFindEitherCase(t.data(), t.size(), "select", "SELECT", 6, KA_TEXT_SINGLE_BYTE), t.data() + 1);
    EXPECT_EQ(strFindEitherCase(t.data(), t.size(), "selects", "SELECTS", 7, KA_TEXT_SINGLE_BYTE), nullptr);

    const char* s = "a'b,c',\"d,\",e";
    EXPECT_EQ(strFindCharOutsideQuotes(s, ',', '\'', '"', '`', KA_TEXT_LOCALE), s + 6);
    EXPECT_EQ(strFindCharOutsideQuotes("'a,b", ',', '\'', 0, 0, KA_TEXT_LOCALE), nullptr);
}

TEST(StrFind, Extension)
{
    struct Case {
        const char* path;
        int at;
    } cases[] = {
        {"dir.d/file", -1}, {"dir/file.tar.gz", 12}, {"file.", 4}, {"", -1}, {".x", 0},
    };
    for (const auto& c : cases) {
        const char* got = strFindExtension(c.path, KA_TEXT_LOCALE);
        EXPECT_EQ(got, c.at < 0 ? nullptr : c.path + c.at) << c.path;
        Exact t(c.path);
        const char* gotN = strFindExtensionN(t.data(), t.size(), KA_TEXT_LOCALE);
        EXPECT_EQ(gotN, c.at < 0 ? nullptr : t.data() + c.at) << c.path;
        std::u16string w(c.path, c.path + std::strlen(c.path));
        const uint16_t* gotW = strFindExtensionW(W(w.c_str()));
        EXPECT_EQ(gotW, c.at < 0 ? nullptr : W(w.c_str()) + c.at) << c.path;
    }
}

TEST(StrCharSet, FlagsAndSet)
{
    EXPECT_EQ(strIsInCharSet("abc123", 6, nullptr, kStrCharSetLower | kStrCharSetDigit, KA_TEXT_LOCALE), 1);
    EXPECT_EQ(strIsInCharSet("abC", 3, nullptr, kStrCharSetLower | kStrCharSetDigit, KA_TEXT_LOCALE), 0);
    EXPECT_EQ(strIsInCharSet("a_B", 3, "_", kStrCharSetLower | kStrCharSetUpper, KA_TEXT_LOCALE), 1);
    EXPECT_EQ(strIsInCharSet("", 0, nullptr, 0, KA_TEXT_LOCALE), 1);
    // A zero byte inside the count is no member of any set.
    EXPECT_EQ(strIsInCharSet("a\0", 2, "a", 0, KA_TEXT_LOCALE), 0);
    EXPECT_EQ(strHasNoCharOf("hello", 5, ";'", 0, KA_TEXT_LOCALE), 1);
    EXPECT_EQ(strHasNoCharOf("he;lo", 5, ";'", 0, KA_TEXT_LOCALE), 0);
    EXPECT_EQ(strHasNoCharOf("abc", 3, nullptr, kStrCharSetDigit, KA_TEXT_LOCALE), 1);
}

TEST(StrFindW, UnitsSkippingSurrogatePairs)
{
    const char16_t s[] = {0xD83D, 0xDE00, u'x', 0xDE00, u'y', 0};
    EXPECT_EQ(strFindCharW(W(s), 0xDE00), W(s) + 3);  // the lone one, not the pair's
    EXPECT_EQ(strFindCharW(W(s), u'y'), W(s) + 4);
    EXPECT_EQ(strFindCharW(W(s), u'z'), nullptr);
    EXPECT_EQ(strFindCharNW(W(s), 2, 0xDE00), nullptr);
    EXPECT_EQ(strFindCharNW(W(s), 3, u'x'), W(s) + 2);

    const char16_t t[] = {u'a', 0xD83D, 0xDE00, u'a', 0xD83D, 0xDE00};
    EXPECT_EQ(strFindLastCharNW(W(t), 6, u'a'), W(t) + 3);
    EXPECT_EQ(strFindLastCharNW(W(t), 6, 0xD83D), nullptr);
    EXPECT_EQ(strFindAnyOfNW(W(t), 6,
                             W(u"\xDE00"
                               u"a")),
              W(t));
    EXPECT_EQ(strFindAnyOfNW(W(t) + 1, 2, W(u"\xDE00")), nullptr);
    EXPECT_EQ(strFindAnyOfAsciiNW(W(u"\u0141;x"), 3, ";A"), W(u"\u0141;x") + 1);
}

TEST(StrFindW, Substrings)
{
    const uint16_t* s = W(u"abcabd");
    EXPECT_EQ(strFindW(s, W(u"abd"), 3), s + 3);
    EXPECT_EQ(strFindW(s, W(u"c"), 1), s + 2);
    EXPECT_EQ(strFindW(s, W(u""), 0), nullptr);
    // A pattern longer than what is left: nothing read past the zero.
    EXPECT_EQ(strFindW(s, W(u"abdxyz"), 6), nullptr);
    ExactW t(u"xxabd");
    EXPECT_EQ(strFindNW(t.data(), t.size(), W(u"abd"), 3), t.data() + 2);
    EXPECT_EQ(strFindNW(t.data(), t.size(), W(u"abde"), 4), nullptr);
    EXPECT_EQ(strFindNW(t.data(), 2, W(u"xxa"), 3), nullptr);
}

TEST(StrFindW, NoCase)
{
    const uint16_t* s = W(u"xx HeLLo \u00c9t\u00c9");
    EXPECT_EQ(strFindNoCaseW(s, W(u"hello"), 5), s + 3);
    EXPECT_EQ(strFindNoCaseW(s, W(u"\u00e9t\u00e9"), 3), s + 9);
    EXPECT_EQ(strFindNoCaseW(s, W(u"helloo"), 6), nullptr);
    ExactW t(u"abHELLO");
    EXPECT_EQ(strFindNoCaseNW(t.data(), t.size(), W(u"hello"), 5), t.data() + 2);
    EXPECT_EQ(strFindNoCaseNW(t.data(), 6, W(u"hello"), 5), nullptr);
    EXPECT_EQ(strFindCharNoCaseW(s, u'h'), s + 3);
    EXPECT_EQ(strFindCharNoCaseW(s, 0xE9), s + 9);
    EXPECT_EQ(strFindCharNoCaseNW(s, 3, u'h'), nullptr);
    const char16_t pair[] = {u'a', 0xD801, 0xDC28, 0};
    EXPECT_EQ(strFindCharNoCaseW(W(pair), 0x10400), W(pair) + 1);
    EXPECT_EQ(strFindCharOutsideQuotesW(W(u"'a,b',c"), u',', u'\'', 0, 0), W(u"'a,b',c") + 5);
}

// ---- Lengths and trims ---------------------------------------------------------

TEST(StrTrim, WhiteSpaceAndBlanks)
{
    Exact t("abc \t\n");
    EXPECT_EQ(strTrimmedLenN(t.data(), t.size(), KA_TEXT_LOCALE), 3u);
    EXPECT_EQ(strTrimmedLenSpaces("abc \t  ", 7, KA_TEXT_LOCALE), 5u);
    EXPECT_EQ(strTrimmedLenN("   ", 3, KA_TEXT_LOCALE), 0u);
    EXPECT_EQ(strTrimmedLenN("", 0, KA_TEXT_LOCALE), 0u);
    char a[] = "x y \t ";
    strTrimSpaces(a, KA_TEXT_LOCALE);
    EXPECT_STREQ(a, "x y");
    char b[] = "x \t  ";
    strTrimTrailingSpaces(b, KA_TEXT_LOCALE);
    EXPECT_STREQ(b, "x \t");
}

TEST(StrTrimW, IcuWhiteSpace)
{
    EXPECT_EQ(strTrimmedLenW(W(u"abc\u3000 \t"), 6), 3u);
    EXPECT_EQ(strTrimmedLenW(W(u"   "), 3), 0u);
    const char16_t pair[] = {u'a', 0xD83D, 0xDE00, u' '};
    EXPECT_EQ(strTrimmedLenW(W(pair), 4), 3u);
    const char16_t swapped[] = {0x6100, 0x2000, 0x0900};
    EXPECT_EQ(strTrimmedLenSwappedW(W(swapped), 3), 1u);
    std::u16string s = u"ab \u2003";
    strTrimW(reinterpret_cast<uint16_t*>(s.data()));
    EXPECT_EQ(std::u16string(s.c_str()), u"ab");
    const uint32_t w32[] = {'a', 0x3000, ' ', 0};
    EXPECT_EQ(strLenW32(w32), 3u);
    EXPECT_EQ(strTrimmedLenW32(w32, 3), 1u);
    EXPECT_EQ(strLenW(W(u"abc")), 3u);
}

TEST(StrWidthClass, SignedBelow256)
{
    EXPECT_EQ(charWidthClass(0), 1);
    EXPECT_EQ(charWidthClass(255), 1);
    EXPECT_EQ(charWidthClass(256), 2);
    EXPECT_EQ(charWidthClass(-1), 1);
}

TEST(StrXmlEscape, Entities)
{
    char* out = nullptr;
    uint16_t len = 0;
    ASSERT_EQ(strXmlEscape("a<b & \"c\" 'd'>", &out, &len), 0);
    EXPECT_STREQ(out, "a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;");
    EXPECT_EQ(len, std::strlen(out));
    ramFree(out);

    char* untouched = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(strXmlEscape(nullptr, &untouched, &len), 1);
    EXPECT_EQ(untouched, reinterpret_cast<char*>(0x1));
}

TEST(StrXmlEscape, RefusesResultsLongerThanItsLength)
{
    // 20000 ampersands escape to 100000 bytes, which a 16-bit length cannot report.
    std::string text(20000, '&');
    char* out = reinterpret_cast<char*>(0x1);
    uint16_t len = 0;
    EXPECT_EQ(strXmlEscape(text.c_str(), &out, &len), 1);
    EXPECT_EQ(out, nullptr);
}

// ---- LIKE ---------------------------------------------------------------------------

namespace {

struct LikeCase {
    const char* value;
    const char* pattern;
    int caseSensitive;
    int exact;
    int want;
};

const LikeCase kLikeCases[] = {
    {"abc  ", "a%", 0, 0, 1},
    {"abc  ", "A_C", 0, 0, 1},
    {"abc", "A_C", 1, 0, 0},
    {"abc", "ab", 0, 0, 0},
    {"abc", "%%%", 0, 0, 1},
    {"a%c", "a\\%c", 0, 0, 1},
    {"abc", "a\\%c", 0, 0, 0},
    {"abc", "abc\\", 0, 0, 0},
    {"abc\\", "abc\\", 0, 0, 0},
    {"ab", "a_%_", 0, 0, 0},
    {"abc", "a_%_", 0, 0, 1},
    {"", "", 0, 0, 1},
    {"   ", "", 0, 0, 1},
    {"", "%", 0, 0, 1},
    {"  ", "%%", 0, 0, 1},
    {"", "_", 0, 0, 0},
    {"", "a", 0, 0, 0},
    {"abc ", "abc", 0, 1, 0},
    {"abc", "abc", 0, 1, 1},
    {"axbxc", "a%c", 1, 0, 1},
    {"axbxcd", "a%c", 1, 0, 0},
    {"mississippi", "%iss%pi", 1, 0, 1},
    {"mississippi", "m%ss%ss%", 1, 0, 1},
    {"a", "%__", 0, 0, 0},
    {"ab", "%__", 0, 0, 1},
    {"a_b", "a\\_b", 1, 0, 1},
    {"axb", "a\\_b", 1, 0, 0},
    {"TABLE_1", "table%", 0, 0, 1},
    {"TABLE_1", "table%", 1, 0, 0},
};

}  // namespace

TEST(StrLike, PatternTable)
{
    for (const auto& c : kLikeCases) {
        EXPECT_EQ(strLike(c.value, c.pattern, '%', '_', '\\', c.caseSensitive, c.exact, KA_TEXT_LOCALE), c.want)
            << "'" << c.value << "' LIKE '" << c.pattern << "'";
        Exact v(c.value), p(c.pattern);
        EXPECT_EQ(
            strLikeN(v.data(), v.size(), p.data(), p.size(), '%', '_', '\\', c.caseSensitive, c.exact, KA_TEXT_LOCALE),
            c.want)
            << "counted '" << c.value << "' LIKE '" << c.pattern << "'";
        ExactW vw(widen(c.value)), pw(widen(c.pattern));
        EXPECT_EQ(strLikeNW(vw.data(), vw.size(), pw.data(), pw.size(), u'%', u'_', u'\\', c.caseSensitive, c.exact),
                  c.want)
            << "wide '" << c.value << "' LIKE '" << c.pattern << "'";
    }
}

TEST(StrLike, NoEscapeCharacter)
{
    EXPECT_EQ(strLike("a\\b", "a\\b", '%', '_', 0, 1, 0, KA_TEXT_LOCALE), 1);
    EXPECT_EQ(strLike("a%b", "a\\%b", '%', '_', 0, 1, 0, KA_TEXT_LOCALE), 0);
}

TEST_F(Utf8Locale, LikeStepsWholeCharacters)
{
    // One mark consumes a whole double-byte character.
    EXPECT_EQ(strLike("\xC3\xA9t\xC3\xA9", "_t_", '%', '_', '\\', 1, 0, KA_TEXT_LOCALE), 1);
    EXPECT_EQ(strLike("\xC3\xA9", "__", '%', '_', '\\', 1, 0, KA_TEXT_LOCALE), 0);
    // Characters must agree in every byte, not just the first.
    EXPECT_EQ(strLike("\xC3\xA9", "\xC3\x89", '%', '_', '\\', 0, 0, KA_TEXT_LOCALE), 0);
    EXPECT_EQ(strLikeCharMatch("\xC3\xA9", "\xC3\xA9", 1), 1);
    EXPECT_EQ(strLikeCharMatch("a", "A", 0), 1);
    EXPECT_EQ(strLikeCharMatch("a", "A", 1), 0);
}

TEST(StrLike, Utf8KindComparesWholeCharacters)
{
    // U+20AC and U+20AD share their first two bytes.
    EXPECT_EQ(strLike("\xE2\x82\xAC", "\xE2\x82\xAD", '%', '_', '\\', 1, 0, KA_TEXT_UTF8), 0);
    EXPECT_EQ(strLike("\xE2\x82\xAC"
                      "x",
                      "_x", '%', '_', '\\', 1, 0, KA_TEXT_UTF8),
              1);
    EXPECT_EQ(strLike("\xE2\x82\xAC"
                      "x",
                      "%\xE2\x82\xAC_", '%', '_', '\\', 1, 0, KA_TEXT_UTF8),
              1);
}

TEST(StrLikeW, CodePointsAndCase)
{
    const char16_t smile[] = {0xD83D, 0xDE00, u'x'};
    EXPECT_EQ(strLikeNW(W(smile), 3, W(u"_x"), 2, u'%', u'_', u'\\', 1, 0), 1);
    EXPECT_EQ(strLikeNW(W(smile), 3, W(u"__x"), 3, u'%', u'_', u'\\', 1, 0), 0);
    EXPECT_EQ(strLikeNW(W(u"\u00e9T\u00c9"), 3, W(u"\u00c9t\u00e9"), 3, u'%', u'_', u'\\', 0, 0), 1);
    EXPECT_EQ(strLikeNW(W(u"\u00e9T\u00c9"), 3, W(u"\u00c9t\u00e9"), 3, u'%', u'_', u'\\', 1, 0), 0);
    EXPECT_EQ(strLikeNW(W(u"ab\u3000"), 3, W(u"ab"), 2, u'%', u'_', u'\\', 1, 0), 1);
    EXPECT_EQ(strLikeCharMatchW(W(smile), W(smile), 1), 1);
    EXPECT_EQ(strLikeCharMatchW(W(u"a"), W(u"A"), 0), 1);
    EXPECT_EQ(strLikeCharMatchW(W(u"a"), W(u"A"), 1), 0);
}
