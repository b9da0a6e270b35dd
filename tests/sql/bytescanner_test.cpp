#include "sql/bytescanner.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "foundation/kaarray.h"
#include "sql/scancases.h"

namespace {

using katest::ExpectedToken;
using katest::ScanCase;
using Got = katest::Got<char>;

std::string str(const KaSubString& t)
{
    return katest::textOf<char>(t);
}

struct ExactText : katest::ExactText<char> {
    explicit ExactText(const std::string& s) : katest::ExactText<char>(s) {}
};

void apply(KaScanner& s, const katest::ScanOptions& o)
{
    s.setOption(KaScanner::parenGroups, o.parenGroups);
    s.setOption(KaScanner::braceGroups, o.braceGroups);
    s.setOption(KaScanner::returnComments, o.returnComments);
    s.setOption(KaScanner::skipComments, o.skipComments);
    if (o.decimalOff)
        s.setOption(KaScanner::decimalNumbers, false);
    if (o.blankQuotes)
        s.quoteChar1 = s.quoteChar2 = s.quoteChar3 = ' ';
    if (o.nulQuotes)
        s.quoteChar1 = s.quoteChar2 = s.quoteChar3 = 0;
    s.groupOpen = o.groupOpen;
    s.groupClose = o.groupClose;
    ASSERT_EQ(s.setWordStartChars(KaSubString(o.wordStartChars)), 0);
    ASSERT_EQ(s.setWordChars(KaSubString(o.wordChars)), 0);
    if (*o.delimiterChars != '\0') {
        ASSERT_EQ(s.delimiterChars.assign(o.delimiterChars), 0);
    }
}

std::vector<Got> scanAll(KaScanner& s, int mode)
{
    return katest::scanAll<char, KaToken>(s, mode);
}

// The expected texts as bytes, the tilde standing for the broken character.
std::vector<std::string> texts(const std::vector<ExpectedToken>& tokens, const std::string& broken = {})
{
    std::vector<std::string> out;
    for (const ExpectedToken& e : tokens)
        out.push_back(katest::unitsOf<char>(e.text, broken));
    return out;
}

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_CTYPE, "C"); }
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

    // The shared cases with characters that are not whole, for the broken
    // characters stepped in the given encoding.
    static void brokenCharacterCases(KaTextEncoding encoding)
    {
        for (const katest::BrokenChar& b : katest::brokenChars()) {
            if (b.encoding != encoding)
                continue;
            for (const katest::BrokenCase& c : katest::brokenCases()) {
                ExactText text(katest::unitsOf<char>(c.input, b.narrow));
                KaScanner s(text.data(), text.size(), encoding);
                apply(s, c.options);
                katest::expectTokens<char, KaToken>(s, KA_SCAN_PLAIN, text, c.tokens, texts(c.tokens, b.narrow),
                                                    std::string(b.name) + ": " + c.name);
            }
            for (const katest::BrokenItemCase& c : katest::brokenItemCases()) {
                ExactText text(katest::unitsOf<char>(c.input, b.narrow));
                KaScanner s(text.data(), text.size(), encoding);
                KaArray items;
                ASSERT_EQ(s.splitToSubstrings(items, c.separator), 0);
                ASSERT_EQ(items.count, c.items.size()) << b.name << ": " << c.name;
                for (size_t i = 0; i < items.count; ++i)
                    EXPECT_EQ(str(*static_cast<KaSubString*>(items.at(i))), katest::unitsOf<char>(c.items[i], b.narrow))
                        << b.name << ": " << c.name << " #" << i;
            }
        }
    }

    // Every prefix of the hostile inputs and the shared cases' inputs, with
    // each broken character in place of the tilde.
    static void everyPrefix(KaTextEncoding encoding)
    {
        std::vector<std::string> inputs = katest::hostileInputs();
        for (const ScanCase& c : katest::scanCases())
            inputs.push_back(c.input);
        for (const katest::BrokenChar& b : katest::brokenChars()) {
            for (const std::string& input : inputs) {
                std::string bytes = katest::unitsOf<char>(input, b.narrow);
                for (const katest::ScanOptions& o : katest::hostileOptions()) {
                    katest::checkEveryPrefix<KaScanner, KaToken, KaSubString>(
                        std::vector<char>(bytes.begin(), bytes.end()),
                        [&o, encoding](KaScanner& s, const char* text, size_t n) {
                            s.setInput(text, n, encoding);
                            apply(s, o);
                        },
                        input);
                }
            }
        }
    }
};

TEST_F(ScannerTest, SharedCasesInBothEncodings)
{
    for (uint32_t encoding : {uint32_t(KA_TEXT_LOCALE), uint32_t(KA_TEXT_UTF8)}) {
        for (const ScanCase& c : katest::scanCases()) {
            ExactText text(c.input);
            KaScanner s(text.data(), text.size(), encoding);
            apply(s, c.options);
            katest::expectTokens<char, KaToken>(s, c.mode, text, c.tokens, texts(c.tokens), c.name);
        }
    }
}

TEST_F(ScannerTest, SharedItemCases)
{
    for (const katest::ItemCase& c : katest::itemCases()) {
        ExactText text(c.input);
        KaScanner s(text.data(), text.size());
        s.bracedItems = c.bracedItems ? 1 : 0;
        s.setOption(KaScanner::parenGroups, c.parenGroups);
        KaArray items;
        ASSERT_EQ(s.splitToSubstrings(items, c.separator), 0) << c.name;
        ASSERT_EQ(items.count, c.items.size()) << c.name;
        for (size_t i = 0; i < items.count; ++i)
            EXPECT_EQ(str(*static_cast<KaSubString*>(items.at(i))), c.items[i]) << c.name << " #" << i;

        KaScanner again(text.data(), text.size(), KA_TEXT_UTF8);
        again.bracedItems = s.bracedItems;
        again.setOption(KaScanner::parenGroups, c.parenGroups);
        KaArray copies;
        ASSERT_EQ(again.splitToStrings(copies, c.separator), 0);
        ASSERT_EQ(copies.count, c.items.size());
        for (size_t i = 0; i < copies.count; ++i) {
            auto* owned = static_cast<KaString*>(copies.at(i));
            EXPECT_EQ(str(*owned), c.items[i]);
            EXPECT_EQ(owned->codePage, KA_TEXT_UTF8);
        }
    }
}

// A UTF-8 sequence cut short or broken is one character of its own: the
// quote, separator or closing character after it keeps its meaning.
TEST_F(ScannerTest, BrokenUtf8TakesNothingAlong)
{
    brokenCharacterCases(KA_TEXT_UTF8);
}

TEST_F(ScannerTest, EveryPrefixStaysInsideTheInput)
{
    everyPrefix(KA_TEXT_UTF8);
    everyPrefix(KA_TEXT_LOCALE);
}

TEST_F(ScannerTest, OpenBracketIsAlwaysAnOrdinaryCharacter)
{
    ExactText text("[a] [");
    KaScanner s(text.data(), text.size());
    s.setOption(KaScanner::parenGroups, true);
    s.setOption(KaScanner::braceGroups, true);
    auto got = scanAll(s, KA_SCAN_PLAIN);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].kind, KA_TOKEN_OTHER);
    EXPECT_EQ(got[1].text, "a");
    EXPECT_EQ(got[2].kind, KA_TOKEN_OTHER);
    EXPECT_EQ(got[2].text, "]");
    EXPECT_EQ(got[3].kind, KA_TOKEN_OTHER);
}

TEST_F(ScannerTest, Utf8FourByteSequenceIsOneCharacter)
{
    ExactText text("a\xF0\x9F\x98\x80"
                   "b \xC3\xA9");
    KaScanner s(text.data(), text.size(), KA_TEXT_UTF8);
    auto got = scanAll(s, KA_SCAN_PLAIN);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].text, "a");
    EXPECT_EQ(got[1].kind, KA_TOKEN_OTHER);
    EXPECT_EQ(got[1].text, "\xF0\x9F\x98\x80");
    EXPECT_EQ(got[2].text, "b");
    // In the C locale the two-byte letter is no letter either.
    EXPECT_EQ(got[3].kind, KA_TOKEN_OTHER);
    EXPECT_EQ(got[3].text, "\xC3\xA9");
}

TEST_F(ScannerTest, Utf8LettersFollowTheProcessLocale)
{
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
        GTEST_SKIP() << "no C.UTF-8 locale";
    ExactText text("caf\xC3\xA9 x");
    KaScanner s(text.data(), text.size(), KA_TEXT_UTF8);
    auto got = scanAll(s, KA_SCAN_PLAIN);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].kind, KA_TOKEN_WORD);
    EXPECT_EQ(got[0].text, "caf\xC3\xA9");
}

TEST_F(ScannerTest, CutUtf8SequenceNeverReadsPastTheEnd)
{
    ExactText text("ab\xF0\x9F");
    KaScanner s(text.data(), text.size(), KA_TEXT_UTF8);
    auto got = scanAll(s, KA_SCAN_PLAIN);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1].text, "\xF0\x9F");
    EXPECT_EQ(got[2].start, 4);
}

// A double-byte locale built for the test: GBK, whose trail bytes include
// the back-quote and the apostrophe's neighbours.
class DoubleByteLocale : public ScannerTest {
protected:
    static inline std::string dir;
    static inline bool ready = false;

    static void SetUpTestSuite()
    {
        char templ[] = "/tmp/kascanner_locXXXXXX";
        if (mkdtemp(templ) == nullptr)
            return;
        dir = templ;
        std::string command = "localedef -i zh_CN -f GBK " + dir + "/zh_CN.GBK >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return;
        setenv("LOCPATH", dir.c_str(), 1);
        ready = std::setlocale(LC_CTYPE, "zh_CN.GBK") != nullptr;
        std::setlocale(LC_CTYPE, "C");
    }
    static void TearDownTestSuite()
    {
        unsetenv("LOCPATH");
        if (!dir.empty())
            std::system(("rm -rf " + dir).c_str());
    }
    void SetUp() override
    {
        if (!ready)
            GTEST_SKIP() << "no localedef to build a GBK locale";
        std::setlocale(LC_CTYPE, "zh_CN.GBK");
    }
};

TEST_F(DoubleByteLocale, TrailByteNeverOpensAQuote)
{
    // 0x81 0x60: one GBK character whose trail byte is the back-quote.
    ExactText text("x \x81\x60 y`z`");
    KaScanner s(text.data(), text.size(), KA_TEXT_LOCALE);
    auto got = scanAll(s, KA_SCAN_PLAIN);
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got[0].text, "x");
    EXPECT_EQ(got[1].text.substr(0, 2), "\x81\x60");
    EXPECT_NE(got[1].kind, KA_TOKEN_CLOSED);
    EXPECT_NE(got[1].kind, KA_TOKEN_UNTERMINATED);
    EXPECT_EQ(got.back().kind, KA_TOKEN_END);
    bool quoted = false;
    for (const Got& g : got)
        quoted = quoted || g.text == "`z`";
    EXPECT_TRUE(quoted);
}

TEST_F(DoubleByteLocale, TrailByteNeverSplitsAnItem)
{
    // 0x81 0x7C: one GBK character whose trail byte is the separator.
    ExactText text("a\x81\x7C|b");
    KaScanner s(text.data(), text.size(), KA_TEXT_LOCALE);
    KaArray items;
    ASSERT_EQ(s.splitToSubstrings(items, '|'), 0);
    ASSERT_EQ(items.count, 2u);
    EXPECT_EQ(str(*static_cast<KaSubString*>(items.at(0))), "a\x81\x7C");
    EXPECT_EQ(str(*static_cast<KaSubString*>(items.at(1))), "b");
}

// A double-byte lead without a valid trail after it is one byte of its own.
TEST_F(DoubleByteLocale, BrokenCharacterTakesNothingAlong)
{
    brokenCharacterCases(KA_TEXT_LOCALE);
}

TEST_F(DoubleByteLocale, EveryPrefixStaysInsideTheInput)
{
    everyPrefix(KA_TEXT_LOCALE);
}

TEST_F(ScannerTest, MatchTextAndAny)
{
    ExactText text("FOR  update x FOR UPDATES");
    KaScanner s(text.data(), text.size());
    KaToken t;
    s.nextToken(t, KA_SCAN_PLAIN);
    ASSERT_EQ(s.matchText(t, "FOR UPDATE"), 1);
    EXPECT_EQ(str(t), "FOR  update");
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), "x");
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(s.matchText(t, "FOR UPDATE"), 0);
    EXPECT_EQ(s.matchTextExact(t, "for"), 0);
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), "UPDATES");

    ExactText list("group by");
    KaScanner g(list.data(), list.size());
    g.nextToken(t, KA_SCAN_PLAIN);
    const char choices[] = "ORDER BY\0GROUP BY\0";
    EXPECT_EQ(g.matchAnyExact(t, choices), 0);
    EXPECT_EQ(g.matchAny(t, choices), 1);
    EXPECT_EQ(str(t), "group by");
}

TEST_F(ScannerTest, EncodingsOfTheConstructors)
{
    KaString utf8{int32_t(KA_TEXT_UTF8)};
    ASSERT_EQ(utf8.assign("a b", KA_TEXT_UTF8), 0);
    KaScanner fromString(utf8);
    EXPECT_EQ(fromString.encoding, uint32_t(KA_TEXT_UTF8));
    EXPECT_EQ(fromString.bound, nullptr);
    KaScanner bound(&utf8);
    EXPECT_EQ(bound.encoding, uint32_t(KA_TEXT_UTF8));
    EXPECT_EQ(bound.bound, &utf8);
    KaScanner plain("abc");
    EXPECT_EQ(plain.encoding, uint32_t(KA_TEXT_LOCALE));
    KaScanner typed("abc", KA_TEXT_UTF8);
    EXPECT_EQ(typed.encoding, uint32_t(KA_TEXT_UTF8));
    typed.rewind("xy", 2);
    EXPECT_EQ(typed.encoding, uint32_t(KA_TEXT_LOCALE));
    typed.setOption(KaScanner::decimalNumbers, false);
    typed.setInput("1.5", 3, KA_TEXT_UTF8);
    EXPECT_TRUE(typed.option(KaScanner::decimalNumbers));
    KaToken t;
    typed.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(t.kind, KA_TOKEN_NUMBER_AT_END);
    EXPECT_EQ(t.codePage, KA_TEXT_UTF8);
}

TEST_F(ScannerTest, BoundScannerEditsInPlace)
{
    KaString sql;
    ASSERT_EQ(sql.assign("select `a` from `t`"), 0);
    KaScanner s(&sql);
    s.quoteChar1 = s.quoteChar2 = s.quoteChar3 = ' ';
    KaToken t;
    KaSubString empty("", size_t(0));
    for (s.nextToken(t, KA_SCAN_PLAIN); t.kind != KA_TOKEN_END; s.nextToken(t, KA_SCAN_PLAIN))
        if (t.kind == '`') {
            ASSERT_EQ(s.replaceToken(t, empty), 0);
        }
    EXPECT_EQ(str(sql), "select a from t");

    KaScanner e(&sql);
    for (e.nextToken(t, KA_SCAN_PLAIN); t.kind != KA_TOKEN_END; e.nextToken(t, KA_SCAN_PLAIN)) {
        if (str(t) == "from") {
            ASSERT_EQ(e.insertBefore(t, KaSubString("/*+ x */ ")), 0);
            EXPECT_EQ(str(t), "from");
        } else if (str(t) == "t") {
            // The token views the replacement in the grown buffer, not the
            // freed one.
            ASSERT_EQ(e.replaceToken(t, KaSubString("a_much_longer_table_name_that_grows_the_buffer")), 0);
            EXPECT_EQ(str(t), "a_much_longer_table_name_that_grows_the_buffer");
        }
    }
    EXPECT_EQ(str(sql), "select a /*+ x */ from a_much_longer_table_name_that_grows_the_buffer");
}

// An edit ahead of the position (the scanner pushed back before it) leaves
// the position where it is, instead of moving it by the change in length.
TEST_F(ScannerTest, EditAheadOfThePositionKeepsIt)
{
    KaString sql;
    ASSERT_EQ(sql.assign("abc def ghi"), 0);
    KaScanner s(&sql);
    KaToken abc, def, ghi, t;
    s.nextToken(abc, KA_SCAN_PLAIN);
    s.nextToken(def, KA_SCAN_PLAIN);
    s.nextToken(ghi, KA_SCAN_PLAIN);
    s.pushBack(abc);
    ASSERT_EQ(s.replaceToken(ghi, KaSubString("x")), 0);
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), "abc");
    s.pushBack(abc);
    ASSERT_EQ(s.replaceToken(def, KaSubString("longer")), 0);
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), "abc");
    s.nextToken(t, KA_SCAN_PLAIN);
    EXPECT_EQ(str(t), "longer");
    EXPECT_EQ(str(sql), "abc longer x");
}

TEST_F(ScannerTest, PushBackRereads)
{
    ExactText text("alpha beta");
    KaScanner s(text.data(), text.size());
    KaToken a, b;
    s.nextToken(a, KA_SCAN_PLAIN);
    s.nextToken(b, KA_SCAN_PLAIN);
    s.nextToken(b, KA_SCAN_PLAIN);
    EXPECT_EQ(b.kind, KA_TOKEN_END);
    s.pushBack(a);
    s.nextToken(b, KA_SCAN_PLAIN);
    EXPECT_EQ(str(b), "alpha");
    s.tokenAt(b, 6, 50);
    EXPECT_EQ(str(b), "beta");
}

}  // namespace
