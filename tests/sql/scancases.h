// Tokenizer cases that the UTF-16 and the 8-bit scanner must both answer
// alike: the options set, the input, and the tokens expected (kind and text)
// before the end token. Besides the tables, the helpers both test files run
// them with: exact-size input blocks, the token collector and the check that
// scans every prefix of a hostile input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kaarray.h"
#include "foundation/kastring.h"
#include "sql/kascan.h"

namespace katest {

struct ScanOptions {
    bool parenGroups = false;
    bool braceGroups = false;
    bool bracketGroups = false;
    bool returnComments = false;
    bool skipComments = false;
    bool decimalOff = false;
    bool blankQuotes = false;
    bool nulQuotes = false;
    uint16_t groupOpen = kaNoGroup;
    uint16_t groupClose = 0;
    const char* wordStartChars = "";
    const char* wordChars = "";
    const char* delimiterChars = "";
};

struct ExpectedToken {
    uint32_t kind;
    std::string text;
};

struct ScanCase {
    const char* name;
    ScanOptions options;
    int mode;
    std::string input;
    std::vector<ExpectedToken> tokens;
};

inline ScanOptions with(void (*set)(ScanOptions&))
{
    ScanOptions o;
    set(o);
    return o;
}

inline const std::vector<ScanCase>& scanCases()
{
    static const std::vector<ScanCase> cases = {
        {"doubled quote", {}, KA_SCAN_PLAIN, "'it''s' x", {{KA_TOKEN_CLOSED, "'it''s'"}, {KA_TOKEN_WORD, "x"}}},
        {"open quote", {}, KA_SCAN_PLAIN, "a 'abc", {{KA_TOKEN_WORD, "a"}, {KA_TOKEN_UNTERMINATED, "'abc"}}},
        {"double quotes",
         {},
         KA_SCAN_PLAIN,
         "a\"b c\"d",
         {{KA_TOKEN_WORD, "a"}, {KA_TOKEN_CLOSED, "\"b c\""}, {KA_TOKEN_WORD, "d"}}},
        {"paren group",
         with([](ScanOptions& o) { o.parenGroups = true; }),
         KA_SCAN_PLAIN,
         "(a (b) ')' c) x",
         {{KA_TOKEN_CLOSED, "(a (b) ')' c)"}, {KA_TOKEN_WORD, "x"}}},
        {"open paren group",
         with([](ScanOptions& o) { o.parenGroups = true; }),
         KA_SCAN_PLAIN,
         "(a (b",
         {{KA_TOKEN_UNTERMINATED, "(a (b"}}},
        {"quote open in group",
         with([](ScanOptions& o) { o.parenGroups = true; }),
         KA_SCAN_PLAIN,
         "(a ')",
         {{KA_TOKEN_UNTERMINATED, "(a ')"}}},
        {"outer-join mark", {}, KA_SCAN_PLAIN, "x(+)", {{KA_TOKEN_WORD, "x"}, {KA_TOKEN_OUTER_JOIN, "(+)"}}},
        {"outer-join mark as group",
         with([](ScanOptions& o) { o.parenGroups = true; }),
         KA_SCAN_PLAIN,
         "(+)",
         {{KA_TOKEN_CLOSED, "(+)"}}},
        {"less-equal",
         {},
         KA_SCAN_PLAIN,
         "a<=b",
         {{KA_TOKEN_WORD, "a"}, {kaOperatorPair('<', '='), "<="}, {KA_TOKEN_WORD, "b"}}},
        {"less blank equal",
         {},
         KA_SCAN_PLAIN,
         "a< =b",
         {{KA_TOKEN_WORD, "a"}, {'<', "<"}, {'=', "="}, {KA_TOKEN_WORD, "b"}}},
        {"not equal", {}, KA_SCAN_PLAIN, "<>", {{kaOperatorPair('<', '>'), "<>"}}},
        {"two-character operators",
         {},
         KA_SCAN_PLAIN,
         "!= !< !> == =* =< => ** *= >= || && ++ //",
         {{kaOperatorPair('!', '='), "!="},
          {kaOperatorPair('!', '<'), "!<"},
          {kaOperatorPair('!', '>'), "!>"},
          {kaOperatorPair('=', '='), "=="},
          {kaOperatorPair('=', '*'), "=*"},
          {kaOperatorPair('=', '<'), "=<"},
          {kaOperatorPair('=', '>'), "=>"},
          {kaOperatorPair('*', '*'), "**"},
          {kaOperatorPair('*', '='), "*="},
          {kaOperatorPair('>', '='), ">="},
          {kaOperatorPair('|', '|'), "||"},
          {kaOperatorPair('&', '&'), "&&"},
          {kaOperatorPair('+', '+'), "++"},
          {kaOperatorPair('/', '/'), "//"}}},
        {"one-character operators",
         {},
         KA_SCAN_PLAIN,
         "? , ( ) . ; : { } $ # % @ ! * / - + & | > <",
         {{'?', "?"}, {',', ","}, {'(', "("}, {')', ")"}, {'.', "."}, {';', ";"}, {':', ":"}, {'{', "{"},
          {'}', "}"}, {'$', "$"}, {'#', "#"}, {'%', "%"}, {'@', "@"}, {'!', "!"}, {'*', "*"}, {'/', "/"},
          {'-', "-"}, {'+', "+"}, {'&', "&"}, {'|', "|"}, {'>', ">"}, {'<', "<"}}},
        {"other characters",
         {},
         KA_SCAN_PLAIN,
         "~ ^ \\",
         {{KA_TOKEN_OTHER, "~"}, {KA_TOKEN_OTHER, "^"}, {KA_TOKEN_OTHER, "\\"}}},
        {"minus pair without comments",
         {},
         KA_SCAN_PLAIN,
         "a--b",
         {{KA_TOKEN_WORD, "a"}, {kaOperatorPair('-', '-'), "--"}, {KA_TOKEN_WORD, "b"}}},
        {"line comment returned",
         with([](ScanOptions& o) { o.returnComments = true; }),
         KA_SCAN_PLAIN,
         "a -- note\nb",
         {{KA_TOKEN_WORD, "a"}, {KA_TOKEN_COMMENT, "-- note"}, {KA_TOKEN_WORD, "b"}}},
        {"line comment at the end",
         with([](ScanOptions& o) { o.returnComments = true; }),
         KA_SCAN_PLAIN,
         "a -- note",
         {{KA_TOKEN_WORD, "a"}, {KA_TOKEN_COMMENT, "-- note"}}},
        {"block comment",
         with([](ScanOptions& o) { o.returnComments = true; }),
         KA_SCAN_PLAIN,
         "/* x */y",
         {{KA_TOKEN_COMMENT, "/* x */"}, {KA_TOKEN_WORD, "y"}}},
        {"opening asterisk does not close",
         with([](ScanOptions& o) { o.returnComments = true; }),
         KA_SCAN_PLAIN,
         "/*/ x */",
         {{KA_TOKEN_COMMENT, "/*/ x */"}}},
        {"open block comment",
         with([](ScanOptions& o) { o.returnComments = true; }),
         KA_SCAN_PLAIN,
         "/* open",
         {{KA_TOKEN_COMMENT, "/* open"}}},
        {"skipped comment then plain mode",
         with([](ScanOptions& o) { o.skipComments = true; }),
         KA_SCAN_SQL_WORDS,
         "SELECT /* c */ x",
         {{KA_TOKEN_SQL_WORD, "SELECT"}, {KA_TOKEN_WORD, "x"}}},
        {"skipped comments in a row",
         with([](ScanOptions& o) { o.skipComments = true; }),
         KA_SCAN_PLAIN,
         "a -- one\n/* two */ -- three\nb",
         {{KA_TOKEN_WORD, "a"}, {KA_TOKEN_WORD, "b"}}},
        {"number then blank", {}, KA_SCAN_PLAIN, "12.5 ", {{KA_TOKEN_NUMBER, "12.5"}}},
        {"number at the end", {}, KA_SCAN_PLAIN, "12.5", {{KA_TOKEN_NUMBER_AT_END, "12.5"}}},
        {"point number then blank", {}, KA_SCAN_PLAIN, ".5 ", {{KA_TOKEN_NUMBER, ".5"}}},
        {"two points", {}, KA_SCAN_PLAIN, "1.2.3", {{KA_TOKEN_NUMBER, "1.2"}, {KA_TOKEN_NUMBER_AT_END, ".3"}}},
        {"no exponent", {}, KA_SCAN_PLAIN, "1e5", {{KA_TOKEN_NUMBER, "1"}, {KA_TOKEN_WORD, "e5"}}},
        {"trailing point", {}, KA_SCAN_PLAIN, "12. x", {{KA_TOKEN_NUMBER, "12."}, {KA_TOKEN_WORD, "x"}}},
        {"integers only",
         with([](ScanOptions& o) { o.decimalOff = true; }),
         KA_SCAN_PLAIN,
         "1.5",
         {{KA_TOKEN_NUMBER, "1"}, {'.', "."}, {KA_TOKEN_NUMBER, "5"}}},
        {"number sign in SQL-word mode", {}, KA_SCAN_SQL_WORDS, "#tmp", {{KA_TOKEN_SQL_WORD, "#tmp"}}},
        {"number sign in plain mode", {}, KA_SCAN_PLAIN, "#tmp", {{'#', "#"}, {KA_TOKEN_WORD, "tmp"}}},
        {"SQL word characters",
         {},
         KA_SCAN_SQL_WORDS,
         "a$b#c_1 x.y",
         {{KA_TOKEN_SQL_WORD, "a$b#c_1"}, {KA_TOKEN_SQL_WORD, "x"}, {'.', "."}, {KA_TOKEN_SQL_WORD, "y"}}},
        {"runs",
         {},
         KA_SCAN_RUNS,
         "abc,def|x y(z)",
         {{KA_TOKEN_RUN, "abc"},
          {',', ","},
          {KA_TOKEN_RUN, "def"},
          {'|', "|"},
          {KA_TOKEN_RUN, "x"},
          {KA_TOKEN_RUN, "y"},
          {'(', "("},
          {KA_TOKEN_RUN, "z"},
          {')', ")"}}},
        {"delimiter characters",
         with([](ScanOptions& o) { o.delimiterChars = " ,"; }),
         KA_SCAN_PLAIN,
         "a.b-c, d",
         {{KA_TOKEN_WORD, "a.b-c"}, {',', ","}, {KA_TOKEN_WORD, "d"}}},
        {"procedure-call words",
         with([](ScanOptions& o) {
             o.wordStartChars = "#_";
             o.wordChars = "$#_0123456789";
         }),
         KA_SCAN_PLAIN,
         "#t$1 _x",
         {{KA_TOKEN_WORD, "#t$1"}, {KA_TOKEN_WORD, "_x"}}},
        {"white space starting a word",
         with([](ScanOptions& o) { o.wordStartChars = " "; }),
         KA_SCAN_PLAIN,
         " x",
         {{KA_TOKEN_WORD, " x"}}},
        {"caller group",
         with([](ScanOptions& o) {
             o.groupOpen = '<';
             o.groupClose = '>';
         }),
         KA_SCAN_PLAIN,
         "<a<b>c> d",
         {{KA_TOKEN_CLOSED, "<a<b>c>"}, {KA_TOKEN_WORD, "d"}}},
        {"brace group",
         with([](ScanOptions& o) { o.braceGroups = true; }),
         KA_SCAN_PLAIN,
         "{fn x('}')} y",
         {{KA_TOKEN_CLOSED, "{fn x('}')}"}, {KA_TOKEN_WORD, "y"}}},
        {"blank quotes",
         with([](ScanOptions& o) { o.blankQuotes = true; }),
         KA_SCAN_PLAIN,
         "`a` 'b'",
         {{'`', "`"}, {KA_TOKEN_WORD, "a"}, {'`', "`"}, {'\'', "'"}, {KA_TOKEN_WORD, "b"}, {'\'', "'"}}},
        // Quote characters of 0 are switched off: a zero unit stays a
        // character of its own and opens no quoted text.
        {"NUL quotes",
         with([](ScanOptions& o) { o.nulQuotes = true; }),
         KA_SCAN_PLAIN,
         std::string("'a' \0b\0 c", 9),
         {{'\'', "'"},
          {KA_TOKEN_WORD, "a"},
          {'\'', "'"},
          {KA_TOKEN_NONE, std::string("\0", 1)},
          {KA_TOKEN_WORD, "b"},
          {KA_TOKEN_NONE, std::string("\0", 1)},
          {KA_TOKEN_WORD, "c"}}},
        {"NUL quote at the end",
         with([](ScanOptions& o) { o.nulQuotes = true; }),
         KA_SCAN_PLAIN,
         std::string("x \0", 3),
         {{KA_TOKEN_WORD, "x"}, {KA_TOKEN_NONE, std::string("\0", 1)}}},
        {"empty", {}, KA_SCAN_PLAIN, "", {}},
        {"blanks only", {}, KA_SCAN_PLAIN, " \t\r\n ", {}},
    };
    return cases;
}

struct ItemCase {
    const char* name;
    bool bracedItems;
    bool parenGroups;
    char separator;
    std::string input;
    std::vector<std::string> items;
};

// Items as splitToSubstrings returns them.
inline const std::vector<ItemCase>& itemCases()
{
    static const std::vector<ItemCase> cases = {
        {"braced item", true, false, ';', "a = 1 ;{x;y}}z} ;", {"a = 1", "{x;y}}z}", ""}},
        {"blanks trimmed", false, false, ',', "a,b , c", {"a", "b", "c"}},
        {"groups and quotes kept whole", false, true, ',', "x,(a,b),'c,d'", {"x", "(a,b)", "'c,d'"}},
        {"empty input", false, false, ';', "", {""}},
        {"trailing separator", false, false, ';', "a;", {"a", ""}},
        {"empty items", false, false, ';', ";;", {"", "", ""}},
        {"open quote runs out", false, false, ';', "a'b;c", {"a'b;c"}},
    };
    return cases;
}

// ---- characters that are not whole ------------------------------------------------

// A character that is not whole, in each scanner's form: a lone or misplaced
// surrogate, a UTF-8 sequence cut short, a double-byte lead without its
// trail. It is one character of its own: it never takes a quote, separator
// or closing character after it along. In the inputs and texts below a tilde
// stands for it.
struct BrokenChar {
    const char* name;
    std::u16string wide;
    std::string narrow;
    KaTextEncoding encoding;  // how the 8-bit scanner steps it
};

inline const std::vector<BrokenChar>& brokenChars()
{
    static const std::vector<BrokenChar> chars = {
        {"lone high surrogate; UTF-8 lead without its trail", std::u16string(1, char16_t(0xD800)), "\xC3",
         KA_TEXT_UTF8},
        {"lone low surrogate; stray UTF-8 trail byte", std::u16string(1, char16_t(0xDC00)), "\x80", KA_TEXT_UTF8},
        {"last high surrogate; four-byte UTF-8 sequence cut short", std::u16string(1, char16_t(0xDBFF)), "\xF0\x9F\x98",
         KA_TEXT_UTF8},
        {"high surrogate; double-byte lead without its trail", std::u16string(1, char16_t(0xD83D)), "\x81",
         KA_TEXT_LOCALE},
    };
    return chars;
}

constexpr char kBrokenMark = '~';

struct BrokenCase {
    const char* name;
    ScanOptions options;
    std::string input;
    std::vector<ExpectedToken> tokens;
};

inline const std::vector<BrokenCase>& brokenCases()
{
    static const std::vector<BrokenCase> cases = {
        {"before a quote", {}, "~'x' y", {{KA_TOKEN_OTHER, "~"}, {KA_TOKEN_CLOSED, "'x'"}, {KA_TOKEN_WORD, "y"}}},
        {"inside quoted text", {}, "'a~' b", {{KA_TOKEN_CLOSED, "'a~'"}, {KA_TOKEN_WORD, "b"}}},
        {"at the end", {}, "a ~", {{KA_TOKEN_WORD, "a"}, {KA_TOKEN_OTHER, "~"}}},
        {"at the end of an open quote", {}, "'~", {{KA_TOKEN_UNTERMINATED, "'~"}}},
        {"before a group's close",
         with([](ScanOptions& o) { o.parenGroups = true; }),
         "(~) x",
         {{KA_TOKEN_CLOSED, "(~)"}, {KA_TOKEN_WORD, "x"}}},
        {"before a comment's close",
         with([](ScanOptions& o) { o.returnComments = true; }),
         "/*~*/ x",
         {{KA_TOKEN_COMMENT, "/*~*/"}, {KA_TOKEN_WORD, "x"}}},
        {"before an operator",
         {},
         "~<=1",
         {{KA_TOKEN_OTHER, "~"}, {kaOperatorPair('<', '='), "<="}, {KA_TOKEN_NUMBER, "1"}}},
        {"before a delimiter",
         with([](ScanOptions& o) { o.delimiterChars = " ,"; }),
         "a~,b",
         {{KA_TOKEN_WORD, "a~"}, {',', ","}, {KA_TOKEN_WORD, "b"}}},
    };
    return cases;
}

struct BrokenItemCase {
    const char* name;
    char separator;
    std::string input;
    std::vector<std::string> items;
};

inline const std::vector<BrokenItemCase>& brokenItemCases()
{
    static const std::vector<BrokenItemCase> cases = {
        {"before a separator", ';', "a~;b", {"a~", "b"}},
        {"before a quote's close", ';', "'~';x", {"'~'", "x"}},
        {"before trailing blanks", ',', "~ ,x", {"~", "x"}},
        {"at the end", ',', "x,~", {"x", "~"}},
    };
    return cases;
}

// Inputs that end inside every form a token can take, and such forms holding
// a character that is not whole; the prefix check scans every prefix of each.
inline const std::vector<std::string>& hostileInputs()
{
    static const std::vector<std::string> inputs = {
        "'it''s' \"a\"\"b\" `c``d` [e]]f] <g<h>i> {j{k}l} (m(n)o) x",
        "(a ')' {b '}' [c ']' <d '>'",
        "/* a * / b */ -- c\n-- d",
        "a(+)b (+ ( 1.2.3 .4 5. 6e7 <=> !=< ==* ** *=",
        std::string("'\0'\0\0 `\0", 8),
        "{fn x('}') ;y=1; {z;w}} ;'q;r' ;(s;t)",
        "~'~' \"~\" (~) {~} [~] <~> /*~*/ --~\n ~,~;~ a~b 1~ .~",
        "'~",
        "(~",
        "/*~",
        "--~",
        "[~",
        "{~",
        "<~",
    };
    return inputs;
}

// The option sets the prefix check scans each input with.
inline const std::vector<ScanOptions>& hostileOptions()
{
    static const std::vector<ScanOptions> options = {
        {},
        with([](ScanOptions& o) {
            o.parenGroups = true;
            o.braceGroups = true;
            o.bracketGroups = true;
            o.returnComments = true;
            o.groupOpen = '<';
            o.groupClose = '>';
        }),
        with([](ScanOptions& o) {
            o.skipComments = true;
            o.decimalOff = true;
            o.wordStartChars = " #";
            o.wordChars = "$#";
        }),
        with([](ScanOptions& o) {
            o.delimiterChars = " ,;";
            o.nulQuotes = true;
            o.braceGroups = true;
        }),
        with([](ScanOptions& o) {
            o.blankQuotes = true;
            o.parenGroups = true;
            o.groupOpen = '\'';
            o.groupClose = '\'';
        }),
    };
    return options;
}

// ---- helpers the two test files share ------------------------------------------------

// ASCII text as code units of Char, each byte one unit; the tilde becomes
// the broken character given.
template <class Char>
std::basic_string<Char> unitsOf(const std::string& ascii, const std::basic_string<Char>& broken = {})
{
    std::basic_string<Char> out;
    for (char c : ascii) {
        if (c == kBrokenMark && !broken.empty())
            out += broken;
        else
            out.push_back(Char(static_cast<unsigned char>(c)));
    }
    return out;
}

// The input in a heap block of exactly its length, so that a read past the
// end is caught by the sanitizer.
template <class Unit>
struct ExactText {
    std::vector<Unit> units;
    template <class Text>
    explicit ExactText(const Text& s) : units(s.begin(), s.end())
    {}
    const Unit* data() const { return units.empty() ? nullptr : units.data(); }
    size_t size() const { return units.size(); }
};

template <class Char>
struct Got {
    uint32_t kind;
    std::basic_string<Char> text;
    int64_t start;
};

template <class Char, class Token>
std::basic_string<Char> textOf(const Token& t)
{
    if (t.data == nullptr)
        return {};
    return std::basic_string<Char>(reinterpret_cast<const Char*>(t.data), t.len);
}

// Every token up to and including the end token (at most 1000).
template <class Char, class Token, class Scanner>
std::vector<Got<Char>> scanAll(Scanner& s, int mode)
{
    std::vector<Got<Char>> out;
    Token t;
    for (int guard = 0; guard < 1000; ++guard) {
        s.nextToken(t, mode);
        out.push_back({t.kind, textOf<Char>(t), t.start});
        if (t.kind == KA_TOKEN_END)
            break;
    }
    return out;
}

// The tokens of one case, compared with the expected ones (their texts
// given as Char units); each token is a view of the input at its start.
template <class Char, class Token, class Scanner, class Unit>
void expectTokens(Scanner& s, int mode, const ExactText<Unit>& text, const std::vector<ExpectedToken>& expected,
                  const std::vector<std::basic_string<Char>>& texts, const std::string& name)
{
    std::vector<Got<Char>> got = scanAll<Char, Token>(s, mode);
    ASSERT_EQ(got.size(), expected.size() + 1) << name;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(got[i].kind, expected[i].kind) << name << " #" << i;
        EXPECT_EQ(got[i].text, texts[i]) << name << " #" << i;
        ASSERT_GE(text.size(), size_t(got[i].start) + got[i].text.size()) << name;
        EXPECT_EQ(
            std::basic_string<Char>(reinterpret_cast<const Char*>(text.data()) + got[i].start, got[i].text.size()),
            got[i].text)
            << name;
    }
    EXPECT_EQ(got.back().kind, KA_TOKEN_END) << name;
    EXPECT_EQ(got.back().start, int64_t(text.size())) << name;
    EXPECT_TRUE(got.back().text.empty()) << name;
}

// Scans every prefix of the input, each in a block of exactly its length, in
// every mode and as lists: tokens lie inside the text, in order, each a view
// of the text at its start, and the end token stands at the end. setUp
// gives a scanner its input and options.
template <class Scanner, class Token, class View, class Unit, class SetUp>
void checkEveryPrefix(const std::vector<Unit>& input, SetUp setUp, const std::string& name)
{
    for (size_t n = 0; n <= input.size(); ++n) {
        ExactText<Unit> text(std::vector<Unit>(input.begin(), input.begin() + std::ptrdiff_t(n)));
        for (int mode : {KA_SCAN_PLAIN, KA_SCAN_RUNS, KA_SCAN_SQL_WORDS}) {
            Scanner s;
            setUp(s, text.data(), text.size());
            Token t;
            uint64_t behind = 0;
            bool ended = false;
            for (size_t guard = 0; guard <= n && !ended; ++guard) {
                s.nextToken(t, mode);
                ASSERT_GE(t.start, int64_t(behind)) << name << " prefix " << n << " mode " << mode;
                ASSERT_LE(uint64_t(t.start) + t.len, n) << name << " prefix " << n << " mode " << mode;
                if (t.kind == KA_TOKEN_END) {
                    EXPECT_EQ(uint64_t(t.start), n) << name << " prefix " << n;
                    EXPECT_EQ(t.len, 0u) << name << " prefix " << n;
                    ended = true;
                    break;
                }
                ASSERT_GT(t.len, 0u) << name << " prefix " << n << " mode " << mode;
                ASSERT_EQ(static_cast<const void*>(t.data), static_cast<const void*>(text.data() + t.start)) << name;
                behind = uint64_t(t.start) + t.len;
            }
            EXPECT_TRUE(ended) << name << " prefix " << n << " mode " << mode;
        }
        for (uint32_t braced : {0u, 1u}) {
            for (char separator : {';', ','}) {
                Scanner s;
                setUp(s, text.data(), text.size());
                s.bracedItems = braced;
                KaArray items;
                ASSERT_EQ(s.splitToSubstrings(items, separator), 0) << name;
                ASSERT_GE(items.count, 1u) << name;
                for (size_t i = 0; i < items.count; ++i) {
                    const auto* item = static_cast<const View*>(items.at(i));
                    if (item->len == 0)
                        continue;
                    const auto* first = reinterpret_cast<const Unit*>(item->data);
                    ASSERT_TRUE(first >= text.data() && first + item->len <= text.data() + n)
                        << name << " prefix " << n << " item " << i;
                }
            }
        }
    }
}

}  // namespace katest
