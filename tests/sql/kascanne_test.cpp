#include "sql/kascanne.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kaarray.h"
#include "sql/scancases.h"

namespace {

using katest::ExpectedToken;
using katest::ScanCase;
using Got = katest::Got<char16_t>;

std::u16string widen(const std::string& s, const std::u16string& broken = {})
{
    return katest::unitsOf<char16_t>(s, broken);
}

const uint16_t* W(const char16_t* s)
{
    return reinterpret_cast<const uint16_t*>(s);
}

std::u16string str(const KaSubStringW& t)
{
    return katest::textOf<char16_t>(t);
}

struct ExactText : katest::ExactText<uint16_t> {
    explicit ExactText(const std::u16string& s) : katest::ExactText<uint16_t>(s) {}
};

void apply(KaScannerW& s, const katest::ScanOptions& o)
{
    s.parenGroups = o.parenGroups;
    s.braceGroups = o.braceGroups;
    s.bracketGroups = o.bracketGroups;
    s.returnComments = o.returnComments;
    s.skipComments = o.skipComments;
    if (o.decimalOff)
        s.decimalNumbers = 0;
    if (o.blankQuotes)
        s.quoteChar1 = s.quoteChar2 = s.quoteChar3 = ' ';
    if (o.nulQuotes)
        s.quoteChar1 = s.quoteChar2 = s.quoteChar3 = 0;
    s.groupOpen = o.groupOpen;
    s.groupClose = o.groupClose;
    std::u16string start = widen(o.wordStartChars), cont = widen(o.wordChars), delim = widen(o.delimiterChars);
    ASSERT_EQ(s.setWordStartChars(KaSubStringW(W(start.c_str()), start.size())), 0);
    ASSERT_EQ(s.setWordChars(KaSubStringW(W(cont.c_str()), cont.size())), 0);
    if (!delim.empty()) {
        ASSERT_EQ(s.delimiterChars.assign(W(delim.c_str()), delim.size()), 0);
    }
}

std::vector<Got> scanAll(KaScannerW& s, int mode)
{
    return katest::scanAll<char16_t, KaTokenW>(s, mode);
}

// The expected texts as UTF-16, the tilde standing for the broken character.
std::vector<std::u16string> texts(const std::vector<ExpectedToken>& tokens, const std::u16string& broken = {})
{
    std::vector<std::u16string> out;
    for (const ExpectedToken& e : tokens)
        out.push_back(widen(e.text, broken));
    return out;
}

TEST(KaScannerW, SharedCases)
{
    for (const ScanCase& c : katest::scanCases()) {
        ExactText text(widen(c.input));
        KaScannerW s(text.data(), text.size());
        apply(s, c.options);
        katest::expectTokens<char16_t, KaTokenW>(s, c.mode, text, c.tokens, texts(c.tokens), c.name);
    }
}

TEST(KaScannerW, SharedItemCases)
{
    for (const katest::ItemCase& c : katest::itemCases()) {
        ExactText text(widen(c.input));
        KaScannerW s(text.data(), text.size());
        s.bracedItems = c.bracedItems ? 1 : 0;
        s.parenGroups = c.parenGroups;
        KaArray items;
        ASSERT_EQ(s.splitToSubstrings(items, uint16_t(c.separator)), 0) << c.name;
        ASSERT_EQ(items.count, c.items.size()) << c.name;
        for (size_t i = 0; i < items.count; ++i)
            EXPECT_EQ(str(*static_cast<KaSubStringW*>(items.at(i))), widen(c.items[i])) << c.name << " #" << i;

        KaScannerW again(text.data(), text.size());
        again.bracedItems = s.bracedItems;
        again.parenGroups = s.parenGroups;
        KaArray copies;
        ASSERT_EQ(again.splitToStrings(copies, uint16_t(c.separator)), 0);
        ASSERT_EQ(copies.count, c.items.size());
        for (size_t i = 0; i < copies.count; ++i) {
            auto* owned = static_cast<KaStringW*>(copies.at(i));
            EXPECT_EQ(str(*owned), widen(c.items[i]));
            EXPECT_TRUE(owned->owns);
        }
    }
}

// A lone or misplaced surrogate is one character of its own: the quote,
// separator or closing character after it keeps its meaning.
TEST(KaScannerW, BrokenCharacterTakesNothingAlong)
{
    for (const katest::BrokenChar& b : katest::brokenChars()) {
        for (const katest::BrokenCase& c : katest::brokenCases()) {
            ExactText text(widen(c.input, b.wide));
            KaScannerW s(text.data(), text.size());
            apply(s, c.options);
            katest::expectTokens<char16_t, KaTokenW>(s, KA_SCAN_PLAIN, text, c.tokens, texts(c.tokens, b.wide),
                                                     std::string(b.name) + ": " + c.name);
        }
        for (const katest::BrokenItemCase& c : katest::brokenItemCases()) {
            ExactText text(widen(c.input, b.wide));
            KaScannerW s(text.data(), text.size());
            KaArray items;
            ASSERT_EQ(s.splitToSubstrings(items, uint16_t(c.separator)), 0);
            ASSERT_EQ(items.count, c.items.size()) << b.name << ": " << c.name;
            for (size_t i = 0; i < items.count; ++i)
                EXPECT_EQ(str(*static_cast<KaSubStringW*>(items.at(i))), widen(c.items[i], b.wide))
                    << b.name << ": " << c.name << " #" << i;
        }
    }
}

TEST(KaScannerW, EveryPrefixStaysInsideTheInput)
{
    std::vector<std::string> inputs = katest::hostileInputs();
    for (const ScanCase& c : katest::scanCases())
        inputs.push_back(c.input);
    std::vector<std::u16string> broken;
    for (const katest::BrokenChar& b : katest::brokenChars())
        broken.push_back(b.wide);
    broken.push_back({char16_t(0xDC00), char16_t(0xD800)});  // a pair in the wrong order
    for (const std::u16string& b : broken) {
        for (const std::string& input : inputs) {
            std::u16string units = widen(input, b);
            for (const katest::ScanOptions& o : katest::hostileOptions()) {
                katest::checkEveryPrefix<KaScannerW, KaTokenW, KaSubStringW>(
                    std::vector<uint16_t>(units.begin(), units.end()),
                    [&o](KaScannerW& s, const uint16_t* text, size_t n) {
                        s.setInput(text, n);
                        apply(s, o);
                    },
                    input);
            }
        }
    }
}

TEST(KaScannerW, BracketedNames)
{
    ExactText text(u"[a]]b] c [open");
    KaScannerW s(text.data(), text.size());
    s.bracketGroups = 1;
    auto got = scanAll(s, KA_SCAN_PLAIN);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].kind, KA_TOKEN_CLOSED);
    EXPECT_EQ(got[0].text, u"[a]]b]");
    EXPECT_EQ(got[1].text, u"c");
    EXPECT_EQ(got[2].kind, KA_TOKEN_UNTERMINATED);
    EXPECT_EQ(got[2].text, u"[open");

    KaScannerW off(text.data(), text.size());
    auto plain = scanAll(off, KA_SCAN_PLAIN);
    EXPECT_EQ(plain[0].kind, KA_TOKEN_OTHER);
    EXPECT_EQ(plain[0].text, u"[");
}

TEST(KaScannerW, UnterminatedBracedItem)
{
    ExactText text(u"{open;x=1");
    KaScannerW s(text.data(), text.size());
    s.bracedItems = 1;
    KaTokenW t;
    s.nextItem(t, ';');
    EXPECT_EQ(t.kind, KA_TOKEN_UNTERMINATED);
    EXPECT_EQ(str(t), u"{open;x=1");
}

TEST(KaScannerW, UnicodeCharacters)
{
    struct Case {
        const char16_t* input;
        std::vector<std::pair<uint32_t, std::u16string>> tokens;
    };
    const Case cases[] = {
        // Letters beyond ASCII, ideographic space, a letter outside the BMP.
        {u"caf\u00e9\u3000\U00010400x", {{KA_TOKEN_WORD, u"caf\u00e9"}, {KA_TOKEN_WORD, u"\U00010400x"}}},
        // A surrogate pair is one character.
        {u"a\U0001F600b", {{KA_TOKEN_WORD, u"a"}, {KA_TOKEN_OTHER, u"\U0001F600"}, {KA_TOKEN_WORD, u"b"}}},
        // Digits other than ASCII make numbers.
        {u"\u0661\u0662 x", {{KA_TOKEN_NUMBER, u"\u0661\u0662"}, {KA_TOKEN_WORD, u"x"}}},
        // A symbol whose code equals a two-character operator entry is
        // reported as that operator; a letter of such a code stays a word.
        {u"\u2626 \u2b2b \u3c3d",
         {{kaOperatorPair('&', '&'), u"\u2626"}, {kaOperatorPair('+', '+'), u"\u2b2b"}, {KA_TOKEN_WORD, u"\u3c3d"}}},
    };
    for (const Case& c : cases) {
        ExactText text(c.input);
        KaScannerW s(text.data(), text.size());
        auto got = scanAll(s, KA_SCAN_PLAIN);
        ASSERT_EQ(got.size(), c.tokens.size() + 1);
        for (size_t i = 0; i < c.tokens.size(); ++i) {
            EXPECT_EQ(got[i].kind, c.tokens[i].first) << i;
            EXPECT_EQ(got[i].text, c.tokens[i].second) << i;
        }
    }
}

TEST(KaScannerW, NulUnitAndLoneSurrogateAtTheEnd)
{
    std::u16string input = u"a";
    input.push_back(0);
    input.push_back(char16_t(0xD83D));  // a high surrogate with nothing after it
    ExactText text(input);
    KaScannerW s(text.data(), text.size());
    auto got = scanAll(s, KA_SCAN_PLAIN);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1].kind, KA_TOKEN_NONE);
    EXPECT_EQ(got[1].text.size(), 1u);
    EXPECT_EQ(got[2].kind, KA_TOKEN_OTHER);
    EXPECT_EQ(got[2].text.size(), 1u);
    EXPECT_EQ(got[3].start, 3);
}

TEST(KaScannerW, MatchTextExtendsOrRestores)
{
    ExactText text(u"FOR  update x FOR UPDATES");
    KaScannerW s(text.data(), text.size());
    KaTokenW t;
    s.nextToken(t, KA_SCAN_PLAIN);
    ASSERT_EQ(s.matchText(t, W(u"FOR UPDATE")), 1);
    EXPECT_EQ(str(t), u"FOR  update");
    EXPECT_EQ(s.matchTextExact(t, W(u"for update")), 0);
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), u"x");
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(s.matchText(t, W(u"FOR UPDATE")), 0);
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), u"UPDATES");

    ExactText list(u"group by");
    KaScannerW g(list.data(), list.size());
    g.nextToken(t, KA_SCAN_PLAIN);
    const char16_t choices[] = u"ORDER BY\0GROUP BY\0";
    EXPECT_EQ(g.matchAny(t, W(choices)), 1);
    EXPECT_EQ(str(t), u"group by");
    KaScannerW h(list.data(), list.size());
    h.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(h.matchAnyExact(t, W(choices)), 0);
    EXPECT_EQ(h.matchWords(t, W(u"GROUP BY"), 5), 1);  // only "GROUP" counts
    EXPECT_EQ(str(t), u"group");
}

TEST(KaScannerW, ReturnedCommentBreaksAMatch)
{
    ExactText text(u"ORDER -- c\n BY");
    KaScannerW s(text.data(), text.size());
    s.returnComments = 1;
    KaTokenW t;
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(s.matchText(t, W(u"ORDER BY")), 0);
    s.skipComments = 1;
    s.returnComments = 0;
    EXPECT_EQ(s.matchText(t, W(u"ORDER BY")), 1);
}

TEST(KaScannerW, PushBackAndTokenAt)
{
    ExactText text(u"alpha beta");
    KaScannerW s(text.data(), text.size());
    KaTokenW a, b;
    s.nextToken(a, KA_SCAN_PLAIN);
    s.nextToken(b, KA_SCAN_PLAIN);
    s.pushBack(b);
    s.nextToken(b, KA_SCAN_PLAIN);
    EXPECT_EQ(str(b), u"beta");
    s.nextToken(b, KA_SCAN_PLAIN);
    EXPECT_EQ(b.kind, KA_TOKEN_END);
    s.pushBack(a);
    s.nextToken(b, KA_SCAN_PLAIN);
    EXPECT_EQ(str(b), u"alpha");
    s.tokenAt(b, 2, 3);
    EXPECT_EQ(str(b), u"pha");
    EXPECT_EQ(b.start, 2);
    EXPECT_EQ(b.kind, KA_TOKEN_NONE);
    s.tokenAt(b, 8, 100);  // clipped to the input
    EXPECT_EQ(str(b), u"ta");
}

TEST(KaScannerW, NewInputRestoresDecimalNumbers)
{
    ExactText text(u"1.5");
    KaScannerW s(text.data(), text.size());
    s.decimalNumbers = 0;
    s.parenGroups = 1;
    s.setInput(text.data(), text.size());
    EXPECT_EQ(s.decimalNumbers, 1);
    EXPECT_EQ(s.parenGroups, 1);  // options stay
    auto got = scanAll(s, KA_SCAN_PLAIN);
    EXPECT_EQ(got[0].kind, KA_TOKEN_NUMBER_AT_END);
}

TEST(KaScannerW, BoundScannerEditsInPlace)
{
    KaStringW sql;
    ASSERT_EQ(sql.assign(W(u"select `a` from `t` where x")), 0);
    KaScannerW s(&sql);
    s.quoteChar1 = s.quoteChar2 = s.quoteChar3 = ' ';
    KaTokenW t;
    KaSubStringW empty(W(u""), 0);
    for (s.nextToken(t, KA_SCAN_PLAIN); t.kind != KA_TOKEN_END; s.nextToken(t, KA_SCAN_PLAIN))
        if (t.kind == '`') {
            ASSERT_EQ(s.replaceToken(t, empty), 0);
        }
    EXPECT_EQ(str(sql), u"select a from t where x");

    KaScannerW e(&sql);
    for (e.nextToken(t, KA_SCAN_PLAIN); t.kind != KA_TOKEN_END; e.nextToken(t, KA_SCAN_PLAIN)) {
        if (str(t) == u"from") {
            KaSubStringW hint(W(u"/*+ x */ "), 9);
            ASSERT_EQ(e.insertBefore(t, hint), 0);
            EXPECT_EQ(str(t), u"from");
        } else if (str(t) == u"t") {
            KaSubStringW longer(W(u"a_much_longer_table_name_that_grows_the_buffer"), 46);
            ASSERT_EQ(e.replaceToken(t, longer), 0);
            // The token views the replacement in the grown buffer, not the
            // freed one.
            EXPECT_EQ(str(t), u"a_much_longer_table_name_that_grows_the_buffer");
        }
    }
    EXPECT_EQ(str(sql), u"select a /*+ x */ from a_much_longer_table_name_that_grows_the_buffer where x");

    ExactText text(u"abc");
    KaScannerW unbound(text.data(), text.size());
    unbound.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(unbound.replaceToken(t, empty), 1);
}

// An edit ahead of the position (the scanner pushed back before it) leaves
// the position where it is, instead of moving it by the change in length.
TEST(KaScannerW, EditAheadOfThePositionKeepsIt)
{
    KaStringW sql;
    ASSERT_EQ(sql.assign(W(u"abc def ghi")), 0);
    KaScannerW s(&sql);
    KaTokenW abc, def, ghi, t;
    s.nextToken(abc, KA_SCAN_PLAIN);
    s.nextToken(def, KA_SCAN_PLAIN);
    s.nextToken(ghi, KA_SCAN_PLAIN);
    s.pushBack(abc);
    ASSERT_EQ(s.replaceToken(ghi, KaSubStringW(W(u"x"), 1)), 0);
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), u"abc");
    s.pushBack(abc);
    ASSERT_EQ(s.replaceToken(def, KaSubStringW(W(u"longer"), 6)), 0);
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), u"abc");
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), u"longer");
    EXPECT_EQ(str(sql), u"abc longer x");
}

TEST(KaScannerW, ConstructorsScanTheWholeText)
{
    KaStringW owned;
    ASSERT_EQ(owned.assign(W(u"x y")), 0);
    KaScannerW fromString(owned);
    EXPECT_EQ(fromString.bound, nullptr);
    EXPECT_EQ(fromString.length, 3u);
    KaScannerW fromTerminated(W(u"x y z"));
    EXPECT_EQ(fromTerminated.length, 5u);
    KaScannerW empty;
    KaTokenW t;
    empty.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(t.kind, KA_TOKEN_END);
    empty.nextItem(t, ';');
    EXPECT_EQ(t.kind, KA_TOKEN_END);
}

}  // namespace
