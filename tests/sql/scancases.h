// Tokenizer cases over ASCII text that the UTF-16 and the 8-bit scanner must
// both answer alike: the options set, the input, and the tokens expected
// (kind and text) before the end token.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace katest {

struct ScanOptions {
    bool parenGroups = false;
    bool braceGroups = false;
    bool bracketGroups = false;
    bool returnComments = false;
    bool skipComments = false;
    bool decimalOff = false;
    bool blankQuotes = false;
    uint16_t groupOpen = 0xFFFF;
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
        {"doubled quote", {}, 0, "'it''s' x", {{3, "'it''s'"}, {2, "x"}}},
        {"open quote", {}, 0, "a 'abc", {{2, "a"}, {4, "'abc"}}},
        {"double quotes", {}, 0, "a\"b c\"d", {{2, "a"}, {3, "\"b c\""}, {2, "d"}}},
        {"paren group", with([](ScanOptions& o) { o.parenGroups = true; }), 0, "(a (b) ')' c) x",
         {{3, "(a (b) ')' c)"}, {2, "x"}}},
        {"open paren group", with([](ScanOptions& o) { o.parenGroups = true; }), 0, "(a (b", {{4, "(a (b"}}},
        {"quote open in group", with([](ScanOptions& o) { o.parenGroups = true; }), 0, "(a ')", {{4, "(a ')"}}},
        {"outer-join mark", {}, 0, "x(+)", {{2, "x"}, {12, "(+)"}}},
        {"outer-join mark as group", with([](ScanOptions& o) { o.parenGroups = true; }), 0, "(+)", {{3, "(+)"}}},
        {"less-equal", {}, 0, "a<=b", {{2, "a"}, {0x3C3D, "<="}, {2, "b"}}},
        {"less blank equal", {}, 0, "a< =b", {{2, "a"}, {0x3C, "<"}, {0x3D, "="}, {2, "b"}}},
        {"not equal", {}, 0, "<>", {{0x3C3E, "<>"}}},
        {"two-character operators", {}, 0, "!= !< !> == =* =< => ** *= >= || && ++ //",
         {{0x213D, "!="}, {0x213C, "!<"}, {0x213E, "!>"}, {0x3D3D, "=="}, {0x3D2A, "=*"},
          {0x3D3C, "=<"}, {0x3D3E, "=>"}, {0x2A2A, "**"}, {0x2A3D, "*="}, {0x3E3D, ">="},
          {0x7C7C, "||"}, {0x2626, "&&"}, {0x2B2B, "++"}, {0x2F2F, "//"}}},
        {"one-character operators", {}, 0, "? , ( ) . ; : { } $ # % @ ! * / - + & | > <",
         {{0x3F, "?"}, {0x2C, ","}, {0x28, "("}, {0x29, ")"}, {0x2E, "."}, {0x3B, ";"},
          {0x3A, ":"}, {0x7B, "{"}, {0x7D, "}"}, {0x24, "$"}, {0x23, "#"}, {0x25, "%"},
          {0x40, "@"}, {0x21, "!"}, {0x2A, "*"}, {0x2F, "/"}, {0x2D, "-"}, {0x2B, "+"},
          {0x26, "&"}, {0x7C, "|"}, {0x3E, ">"}, {0x3C, "<"}}},
        {"other characters", {}, 0, "~ ^ \\", {{10, "~"}, {10, "^"}, {10, "\\"}}},
        {"minus pair without comments", {}, 0, "a--b", {{2, "a"}, {0x2D2D, "--"}, {2, "b"}}},
        {"line comment returned", with([](ScanOptions& o) { o.returnComments = true; }), 0,
         "a -- note\nb", {{2, "a"}, {11, "-- note"}, {2, "b"}}},
        {"line comment at the end", with([](ScanOptions& o) { o.returnComments = true; }), 0, "a -- note",
         {{2, "a"}, {11, "-- note"}}},
        {"block comment", with([](ScanOptions& o) { o.returnComments = true; }), 0, "/* x */y",
         {{11, "/* x */"}, {2, "y"}}},
        {"opening asterisk does not close", with([](ScanOptions& o) { o.returnComments = true; }), 0,
         "/*/ x */", {{11, "/*/ x */"}}},
        {"open block comment", with([](ScanOptions& o) { o.returnComments = true; }), 0, "/* open",
         {{11, "/* open"}}},
        {"skipped comment then plain mode", with([](ScanOptions& o) { o.skipComments = true; }), 2,
         "SELECT /* c */ x", {{7, "SELECT"}, {2, "x"}}},
        {"skipped comments in a row", with([](ScanOptions& o) { o.skipComments = true; }), 0,
         "a -- one\n/* two */ -- three\nb", {{2, "a"}, {2, "b"}}},
        {"number then blank", {}, 0, "12.5 ", {{5, "12.5"}}},
        {"number at the end", {}, 0, "12.5", {{9, "12.5"}}},
        {"point number then blank", {}, 0, ".5 ", {{5, ".5"}}},
        {"two points", {}, 0, "1.2.3", {{5, "1.2"}, {9, ".3"}}},
        {"no exponent", {}, 0, "1e5", {{5, "1"}, {2, "e5"}}},
        {"trailing point", {}, 0, "12. x", {{5, "12."}, {2, "x"}}},
        {"integers only", with([](ScanOptions& o) { o.decimalOff = true; }), 0, "1.5",
         {{5, "1"}, {0x2E, "."}, {5, "5"}}},
        {"number sign in mode 2", {}, 2, "#tmp", {{7, "#tmp"}}},
        {"number sign in mode 0", {}, 0, "#tmp", {{0x23, "#"}, {2, "tmp"}}},
        {"SQL word characters", {}, 2, "a$b#c_1 x.y", {{7, "a$b#c_1"}, {7, "x"}, {0x2E, "."}, {7, "y"}}},
        {"runs", {}, 1, "abc,def|x y(z)",
         {{6, "abc"}, {0x2C, ","}, {6, "def"}, {0x7C, "|"}, {6, "x"}, {6, "y"}, {0x28, "("}, {6, "z"},
          {0x29, ")"}}},
        {"delimiter characters", with([](ScanOptions& o) { o.delimiterChars = " ,"; }), 0, "a.b-c, d",
         {{2, "a.b-c"}, {0x2C, ","}, {2, "d"}}},
        {"procedure-call words",
         with([](ScanOptions& o) {
             o.wordStartChars = "#_";
             o.wordChars = "$#_0123456789";
         }),
         0, "#t$1 _x", {{2, "#t$1"}, {2, "_x"}}},
        {"white space starting a word", with([](ScanOptions& o) { o.wordStartChars = " "; }), 0, " x",
         {{2, " x"}}},
        {"caller group",
         with([](ScanOptions& o) {
             o.groupOpen = '<';
             o.groupClose = '>';
         }),
         0, "<a<b>c> d", {{3, "<a<b>c>"}, {2, "d"}}},
        {"brace group", with([](ScanOptions& o) { o.braceGroups = true; }), 0, "{fn x('}')} y",
         {{3, "{fn x('}')}"}, {2, "y"}}},
        {"blank quotes", with([](ScanOptions& o) { o.blankQuotes = true; }), 0, "`a` 'b'",
         {{0x60, "`"}, {2, "a"}, {0x60, "`"}, {0x27, "'"}, {2, "b"}, {0x27, "'"}}},
        {"empty", {}, 0, "", {}},
        {"blanks only", {}, 0, " \t\r\n ", {}},
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

}  // namespace katest
