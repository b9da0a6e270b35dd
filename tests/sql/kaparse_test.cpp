// The grammar-driven parser engine: the lexer's codes, splits, literals and
// saved positions; grammar reading, references, FIRST sets and the refusal
// of left recursion; ambiguity marks of the network; parses of an
// arithmetic grammar checked against Python's own parser (ast) on seeded
// random expressions, a small SQL-like grammar that needs backtracking, and
// syntax errors reported at the offending token.
#include "sql/kaparse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"
#include "support/platformtest.h"

namespace {

class KaParseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }

    katest::ThreadScope thread;
    katest::ErrorScope errors;
};

// Text layout of (text, code) entries, ended by an empty text.
std::string table(const std::vector<std::pair<std::string, int16_t>>& entries)
{
    std::string out;
    for (auto& [text, code] : entries) {
        out += text;
        out.push_back('\0');
        out.append(reinterpret_cast<const char*>(&code), 2);
    }
    out.push_back('\0');
    return out;
}

std::vector<std::pair<int, std::string>> lex(const char* input, KaKeywordList* keywords = nullptr)
{
    KaLexer lexer(input, keywords);
    std::vector<std::pair<int, std::string>> out;
    for (int i = 0; i < 100; ++i) {
        int16_t code = 0;
        const char* text = nullptr;
        if (lexer.nextToken(&code, &text) != 0) {
            out.emplace_back(-1, "");
            break;
        }
        if (code == KA_LEX_END)
            break;
        out.emplace_back(code, text ? text : "");
    }
    return out;
}

using Tokens = std::vector<std::pair<int, std::string>>;

TEST_F(KaParseTest, LexerCodes)
{
    struct Case {
        const char* input;
        Tokens want;
    };
    const Case cases[] = {
        {"a<=b", {{2, "a"}, {34, "<"}, {23, "="}, {2, "b"}}},
        {"a < = b", {{2, "a"}, {34, "<"}, {23, "="}, {2, "b"}}},
        {"1.5", {{5, "1"}, {37, "."}, {5, "5"}}},
        {"'it''s'", {{40, "'"}, {2, "it"}, {33, "'"}, {33, "'"}, {2, "s"}, {40, "'"}}},
        {"''", {{40, "'"}, {2, ""}, {40, "'"}}},
        {"'  '", {{40, "'"}, {2, "  "}, {40, "'"}}},
        {"x(+)", {{2, "x"}, {18, "("}, {22, "+"}, {19, ")"}}},
        {"--", {{20, "-"}, {20, "-"}}},
        {"[ $", {{27, "["}, {13, "$"}}},
        {"a<>b!=c", {{2, "a"}, {34, "<"}, {36, ">"}, {2, "b"}, {10, "!"}, {23, "="}, {2, "c"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lex(c.input), c.want) << c.input;
}

TEST_F(KaParseTest, KeywordsFollowTheCaseMode)
{
    std::string words = table({{"SELECT", 1001}, {"FROM", 1002}});
    KaKeywordList keywords(words.c_str());
    EXPECT_EQ(lex("select SELECT", &keywords), (Tokens{{2, "select"}, {1001, "SELECT"}}));
    keywords.setExactCase(0);
    EXPECT_EQ(lex("select From", &keywords), (Tokens{{1001, "select"}, {1002, "From"}}));
    int16_t code = 0;
    EXPECT_EQ(keywords.lookup("nope", &code), 1);
}

TEST_F(KaParseTest, SavedPositionInsideASplitOperator)
{
    KaLexer lexer("a <= b", nullptr);
    int16_t code = 0;
    const char* text = nullptr;
    ASSERT_EQ(lexer.nextToken(&code, &text), 0);
    ASSERT_EQ(lexer.nextToken(&code, &text), 0);
    ASSERT_EQ(code, KA_LEX_LESS);
    KaLexerPosition saved;
    lexer.savePosition(&saved);
    ASSERT_EQ(lexer.nextToken(&code, &text), 0);
    ASSERT_EQ(lexer.nextToken(&code, &text), 0);
    EXPECT_EQ(std::string(text), "b");
    ASSERT_EQ(lexer.restorePosition(saved), 0);
    ASSERT_EQ(lexer.nextToken(&code, &text), 0);
    EXPECT_EQ(code, KA_LEX_EQUALS);
    EXPECT_EQ(lexer.tokenOffset(), 3u);
}

// Grammar validity, one case a line.
TEST_F(KaParseTest, GrammarReading)
{
    std::string words = table({{"SELECT", 101}, {"FROM", 102}});
    struct Case {
        std::vector<std::pair<std::string, int16_t>> rules;
        int valid;
        int message;
    };
    const Case cases[] = {
        {{{"goal ::= SELECT alphanum FROM alphanum", 1000}}, 1, 0},
        {{{"goal ::= select alphanum FROM alphanum", 1000}}, 0, MSG_GRAMMAR_UNKNOWN_PRODUCTION},
        {{{"goal ::= select alphanum FROM alphanum", 1000}, {"select ::= SELECT", 1001}}, 1, 0},
        {{{"go4l ::= SELECT", 1000}}, 0, MSG_GRAMMAR_RULE_INVALID},
        {{{"go_al ::= SELECT", 1000}}, 0, MSG_GRAMMAR_RULE_INVALID},
        {{{"goal ::= SELECT | | FROM", 1000}}, 0, MSG_GRAMMAR_RULE_INVALID},
        {{{"goal ::= [ SELECT }", 1000}}, 0, MSG_GRAMMAR_RULE_INVALID},
        {{{"goal ::= Select", 1000}}, 0, MSG_GRAMMAR_RULE_INVALID},
        {{{"number ::= SELECT", 1000}}, 0, MSG_GRAMMAR_RULE_INVALID},
        {{{"other ::= SELECT", 1000}}, 0, MSG_GRAMMAR_GOAL_MISSING},
        // Left recursion, direct and through another production.
        {{{"goal ::= goal SELECT | FROM", 1000}}, 0, MSG_GRAMMAR_LEFT_RECURSIVE},
        {{{"goal ::= list", 1000}, {"list ::= [ FROM ] goal SELECT", 1001}}, 0, MSG_GRAMMAR_LEFT_RECURSIVE},
    };
    for (const Case& c : cases) {
        std::string rules = table(c.rules);
        KaKeywordList keywords(words.c_str());
        size_t before = errors.size();
        KaGrammar g(rules.c_str(), &keywords);
        EXPECT_EQ(g.valid, c.valid) << c.rules[0].first;
        if (c.message) {
            ASSERT_GT(errors.size(), before) << c.rules[0].first;
            EXPECT_EQ(errors.native(errors.size() - 1), c.message) << c.rules[0].first;
        }
    }
    KaKeywordList keywords(words.c_str());
    KaGrammar empty("", &keywords);
    EXPECT_EQ(empty.valid, 0);
}

std::vector<int> firstCodes(const KaProduction* p)
{
    std::vector<int> out;
    for (const KaTokenNode* n = p->firstTokens; n; n = n->next)
        out.push_back(n->code);
    return out;
}

TEST_F(KaParseTest, FirstSetsAndAmbiguity)
{
    std::string words = table({{"A", 101}, {"B", 102}, {"C", 103}});
    std::string rules = table({{"goal ::= opt | star | two", 1000},
                               {"opt ::= [ A ] B", 1001},
                               {"star ::= { C } B", 1002},
                               {"two ::= A B | A C", 1003}});
    KaKeywordList keywords(words.c_str());
    KaGrammar g(rules.c_str(), &keywords);
    ASSERT_EQ(g.valid, 1);
    KaProduction *opt = nullptr, *star = nullptr, *two = nullptr;
    ASSERT_EQ(g.findProduction("opt", &opt), 0);
    ASSERT_EQ(g.findProduction("star", &star), 0);
    ASSERT_EQ(g.findProduction("two", &two), 0);
    EXPECT_EQ(firstCodes(opt), (std::vector<int>{101, 102}));
    EXPECT_EQ(firstCodes(star), (std::vector<int>{103}));
    // Both alternatives of two begin with A: two gotos, both ambiguous.
    KaStateTransition* t = nullptr;
    ASSERT_EQ(two->startState->findTransition(101, "A", &t, 0), 0);
    KaStateTransition* first = t;
    ASSERT_EQ(two->startState->findTransition(101, "A", &t, 1), 0);
    EXPECT_NE(t, first);
    EXPECT_EQ(first->ambiguous, 1);
    EXPECT_EQ(t->ambiguous, 1);
    EXPECT_EQ(two->startState->findTransition(101, "A", &t, 2), 1);
    EXPECT_EQ(g.setGoal("nothing"), 1);
    EXPECT_EQ(g.goal->name, std::string("goal"));
    EXPECT_EQ(g.setGoal("two"), 0);
    EXPECT_EQ(g.goal, two);
}

// A tree as text: a production as name(children), a token as its text.
std::string show(const KaReduction* node, const std::map<int, std::string>& names)
{
    if (node->isToken)
        return node->text ? node->text : "";
    auto it = names.find(node->code);
    std::string out = (it != names.end() ? it->second : std::to_string(node->code)) + "(";
    for (const KaReduction* c = node->firstChild; c; c = c->nextSibling)
        out += (c == node->firstChild ? "" : " ") + show(c, names);
    return out + ")";
}

class Recorder : public KaParser {
public:
    using KaParser::KaParser;
    int32_t syntaxError(int16_t code, const char* text, int16_t production, const char* name,
                        const KaStateTransition* expected) noexcept override
    {
        calls.push_back({code, text ? text : "", production, name ? name : ""});
        expectedCodes.clear();
        for (const KaStateTransition* t = expected; t; t = t->next)
            expectedCodes.push_back(t->code);
        return 1;
    }
    struct Call {
        int code;
        std::string text;
        int production;
        std::string name;
    };
    std::vector<Call> calls;
    std::vector<int> expectedCodes;
};

TEST_F(KaParseTest, SelectFromTreeAndTrailingWord)
{
    std::string words = table({{"SELECT", 101}, {"FROM", 102}});
    std::string rules = table({{"goal ::= SELECT alphanum FROM alphanum", 1000}});
    Recorder p(rules.c_str(), words.c_str());
    ASSERT_EQ(p.valid, 1);
    KaReduction* tree = nullptr;
    ASSERT_EQ(p.parse("select a from b", &tree), 0);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->code, 1000);
    std::vector<std::pair<int, std::string>> leaves;
    for (KaReduction* c = tree->firstChild; c; c = c->nextSibling)
        leaves.emplace_back(c->code, c->text);
    EXPECT_EQ(leaves, (Tokens{{101, "select"}, {2, "a"}, {102, "from"}, {2, "b"}}));
    delete tree;

    EXPECT_EQ(p.parse("select a from b c", &tree), 1);
    EXPECT_EQ(tree, nullptr);
    ASSERT_EQ(p.calls.size(), 1u);
    EXPECT_EQ(p.calls[0].code, 2);
    EXPECT_EQ(p.calls[0].text, "c");
    EXPECT_EQ(p.calls[0].production, 1000);
    EXPECT_EQ(p.calls[0].name, "goal");
    EXPECT_EQ(p.errorOffset, 16u);

    KaParser none;
    tree = reinterpret_cast<KaReduction*>(&none);
    EXPECT_EQ(none.parse("x", &tree), 1);
    EXPECT_EQ(tree, nullptr);
    std::string bad = table({{"goal ::= | x", 1000}});
    EXPECT_EQ(p.setGrammar(bad.c_str(), words.c_str()), 1);
    EXPECT_EQ(p.parse("select a from b", &tree), 1);
}

TEST_F(KaParseTest, LiteralsAndBacktracking)
{
    std::string words = table({{"X", 101}, {"Y", 102}, {"Z", 103}});
    std::string rules = table({{"goal ::= X Y item | X Y Z item | ' literal-contents ' | sub Z", 1000},
                               {"item ::= alphanum", 1001},
                               {"sub ::= Y", 1002}});
    KaParser p(rules.c_str(), words.c_str());
    ASSERT_EQ(p.valid, 1);
    const std::map<int, std::string> names{{1000, "goal"}, {1001, "item"}, {1002, "sub"}};
    struct Case {
        const char* input;
        const char* tree;
    };
    const Case cases[] = {
        {"x y a", "goal(x y item(a))"},
        {"x y z a", "goal(x y z item(a))"},  // the first alternative fails at z
        {"'a, b; (c)'", "goal(' a, b; (c) ')"},
        {"y z", "goal(sub(y) z)"},
    };
    for (const Case& c : cases) {
        KaReduction* tree = nullptr;
        ASSERT_EQ(p.parse(c.input, &tree), 0) << c.input;
        EXPECT_EQ(show(tree, names), c.tree);
        if (std::string(c.input)[0] == '\'') {
            EXPECT_EQ(tree->firstChild->code, KA_LEX_LITERAL_QUOTE);
            EXPECT_EQ(tree->firstChild->nextSibling->code, KA_LEX_LITERAL_CONTENTS);
        }
        delete tree;
    }
}

// Arithmetic: the same expressions parsed here and by Python's ast.
const char* const kArithmetic[] = {
    "goal ::= expr",   "expr ::= term { addop term }*",
    "addop ::= + | -", "term ::= factor { mulop factor }*",
    "mulop ::= * | /", "factor ::= number | ( expr ) | - factor",
};

// The arithmetic rules as a grammar table, numbered from 1000.
std::string arithmeticGrammar()
{
    std::vector<std::pair<std::string, int16_t>> rules;
    for (size_t i = 0; i < std::size(kArithmetic); ++i)
        rules.emplace_back(kArithmetic[i], int16_t(1000 + i));
    return table(rules);
}

std::string prefixForm(const KaReduction* n)
{
    // expr and term: fold the operator list to the left, as Python does.
    if (n->isToken)
        return n->text;
    std::vector<const KaReduction*> kids;
    for (const KaReduction* c = n->firstChild; c; c = c->nextSibling)
        kids.push_back(c);
    switch (n->code) {
    case 1000: return prefixForm(kids[0]);
    case 1001:
    case 1003: {
        std::string acc = prefixForm(kids[0]);
        for (size_t i = 1; i + 1 < kids.size(); i += 2)
            acc = "(" + prefixForm(kids[i]->firstChild) + " " + acc + " " + prefixForm(kids[i + 1]) + ")";
        return acc;
    }
    case 1005:
        if (kids.size() == 1)
            return prefixForm(kids[0]);
        if (kids.size() == 3)
            return prefixForm(kids[1]);
        return "(neg " + prefixForm(kids[1]) + ")";
    }
    return "?";
}

std::string randomExpression(std::mt19937& rng, int depth)
{
    int pick = int(rng() % (depth > 3 ? 1 : 6));
    std::string space = rng() % 2 ? " " : "";
    switch (pick) {
    case 0:
    case 1: return std::to_string(rng() % 1000);
    case 2: return "(" + space + randomExpression(rng, depth + 1) + space + ")";
    case 3: return "-" + randomExpression(rng, depth + 1);
    default: {
        const char* ops = "+-*/";
        std::string rhs = randomExpression(rng, depth + 1);
        return randomExpression(rng, depth + 1) + space + ops[rng() % 4] + space + rhs;
    }
    }
}

TEST_F(KaParseTest, ArithmeticTreesMatchPython)
{
    const std::string grammar = arithmeticGrammar();
    const std::string none = table({});
    KaParser p(grammar.c_str(), none.c_str());
    ASSERT_EQ(p.valid, 1);

    std::mt19937 rng(20261210);
    std::vector<std::string> inputs = {"1", "1+2*3", "(1+2)*3", "1-2-3", "8/4/2", "--5", "2*-3", "-(4-5)*6"};
    for (int i = 0; i < 300; ++i)
        inputs.push_back(randomExpression(rng, 0));
    std::vector<std::string> ours;
    for (const std::string& in : inputs) {
        KaReduction* tree = nullptr;
        ASSERT_EQ(p.parse(in.c_str(), &tree), 0) << in;
        ours.push_back(prefixForm(tree));
        delete tree;
    }

    katest::TempDir dir("kaparse");
    std::string script = dir.path() + "/ast_prefix.py";
    std::string list = dir.path() + "/inputs.txt";
    FILE* f = fopen(script.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("import ast, sys\n"
          "ops = {ast.Add: '+', ast.Sub: '-', ast.Mult: '*', ast.Div: '/'}\n"
          "def show(n):\n"
          "    if isinstance(n, ast.BinOp):\n"
          "        return '(%s %s %s)' % (ops[type(n.op)], show(n.left), show(n.right))\n"
          "    if isinstance(n, ast.UnaryOp):\n"
          "        return '(neg %s)' % show(n.operand)\n"
          "    return str(n.value)\n"
          "for line in open(sys.argv[1]):\n"
          "    print(show(ast.parse(line.strip(), mode='eval').body))\n",
          f);
    fclose(f);
    f = fopen(list.c_str(), "w");
    ASSERT_NE(f, nullptr);
    for (const std::string& in : inputs)
        fprintf(f, "%s\n", in.c_str());
    fclose(f);
    FILE* py = popen(("/usr/bin/python3 " + script + " " + list).c_str(), "r");
    ASSERT_NE(py, nullptr);
    std::vector<std::string> theirs;
    char line[8192];
    while (fgets(line, sizeof line, py)) {
        std::string s(line);
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        theirs.push_back(s);
    }
    ASSERT_EQ(pclose(py), 0);
    ASSERT_EQ(theirs.size(), inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i)
        EXPECT_EQ(ours[i], theirs[i]) << inputs[i];
}

TEST_F(KaParseTest, SyntaxErrorsAtTheOffendingToken)
{
    const std::string grammar = arithmeticGrammar();
    const std::string none = table({});
    Recorder p(grammar.c_str(), none.c_str());
    ASSERT_EQ(p.valid, 1);
    struct Case {
        const char* input;
        uint64_t offset;
        int code;
    };
    const Case cases[] = {
        {"1 + * 2", 4, KA_LEX_ASTERISK},         {"(1 + 2", 6, KA_LEX_END}, {"1 2", 2, KA_LEX_NUMBER},
        {"12 * (3 + )", 10, KA_LEX_CLOSE_PAREN}, {"", 0, KA_LEX_END},       {"7 )", 2, KA_LEX_CLOSE_PAREN},
    };
    for (const Case& c : cases) {
        p.calls.clear();
        KaReduction* tree = nullptr;
        EXPECT_EQ(p.parse(c.input, &tree), 1) << c.input;
        EXPECT_EQ(p.errorOffset, c.offset) << c.input << (errors.size() ? errors.text(errors.size() - 1) : "");
        ASSERT_EQ(p.calls.size(), 1u) << c.input;
        EXPECT_EQ(p.calls[0].code, c.code) << c.input;
    }
    // After "1 +" a factor is expected: a number, "(" or "-".
    p.calls.clear();
    KaReduction* tree = nullptr;
    EXPECT_EQ(p.parse("1 + * 2", &tree), 1);
    EXPECT_NE(std::find(p.expectedCodes.begin(), p.expectedCodes.end(), KA_LEX_NUMBER), p.expectedCodes.end());
}

TEST_F(KaParseTest, SqlLikeGrammar)
{
    std::string words = table({{"SELECT", 101}, {"FROM", 102}, {"WHERE", 103}, {"AND", 104}, {"OR", 105}});
    std::string rules = table({
        {"goal ::= SELECT select-list FROM alphanum [ WHERE condition ]", 1000},
        {"select-list ::= * | column { , column }*", 1001},
        {"column ::= alphanum [ . alphanum ]", 1002},
        {"condition ::= comparison { connective comparison }*", 1003},
        {"connective ::= AND | OR", 1004},
        {"comparison ::= operand compop operand", 1005},
        {"compop ::= = | < | > | < = | > = | < > | ! =", 1006},
        {"operand ::= column | number | literal-quote-char literal-contents literal-quote-char", 1007},
    });
    KaParser p(rules.c_str(), words.c_str());
    ASSERT_EQ(p.valid, 1);
    const std::map<int, std::string> names{{1000, "goal"}, {1001, "list"}, {1002, "col"}, {1003, "cond"},
                                           {1004, "conn"}, {1005, "cmp"},  {1006, "op"},  {1007, "val"}};
    struct Case {
        const char* input;
        const char* tree;
    };
    const Case cases[] = {
        {"select * from t", "goal(select list(*) from t)"},
        {"SELECT a, t.b FROM t", "goal(SELECT list(col(a) , col(t . b)) FROM t)"},
        {"select a from t where a <= 5",
         "goal(select list(col(a)) from t where cond(cmp(val(col(a)) op(< =) val(5))))"},
        {"select a from t where a<>'x y' or b>2",
         "goal(select list(col(a)) from t where cond(cmp(val(col(a)) op(< >) val(' x y ')) conn(or) "
         "cmp(val(col(b)) op(>) val(2))))"},
    };
    for (const Case& c : cases) {
        KaReduction* tree = nullptr;
        ASSERT_EQ(p.parse(c.input, &tree), 0) << c.input;
        EXPECT_EQ(show(tree, names), c.tree);
        delete tree;
    }
    KaReduction* tree = nullptr;
    EXPECT_EQ(p.parse("select a from t where a <", &tree), 1);
    EXPECT_EQ(p.errorOffset, 25u);
    EXPECT_EQ(p.parse("select from t", &tree), 1);
    EXPECT_EQ(p.errorOffset, 7u);
}

}  // namespace

namespace {

// Item arrays whose written text passes 65,535 bytes are read whole.
TEST_F(KaParseTest, ItemArraysBeyondSixteenBitSizes)
{
    std::string rule = "goal ::= SELECT";
    for (int i = 0; i < 8000; ++i)
        rule += " alphanum";
    ASSERT_GT(rule.size(), 65536u);
    const GrammarItem grammar[] = {{rule.c_str(), 1000}};
    const GrammarItem words[] = {{"SELECT", 101}};
    KaParser p(grammar, 1, words, 1);
    EXPECT_EQ(p.valid, 1);
    KaProduction* goal = nullptr;
    ASSERT_EQ(p.grammar->getGoal(&goal), 0);
    size_t terms = 0;
    for (const KaBNFElement* e = goal->elements; e; e = e->nextInSequence)
        ++terms;
    EXPECT_EQ(terms, 8001u);
}

}  // namespace

namespace {

// A text beyond what one parse walks is refused with a diagnostic, not a
// stack overflow; a shorter one of the same form parses.
TEST_F(KaParseTest, OverlongInputIsRefused)
{
    const std::string grammar = arithmeticGrammar();
    const std::string none = table({});
    KaParser p(grammar.c_str(), none.c_str());
    ASSERT_EQ(p.valid, 1);
    std::string shortText = "1", longText = "1";
    for (int i = 0; i < 100; ++i)
        shortText += "+1";
    for (int i = 0; i < 20000; ++i)
        longText += "+1";
    KaReduction* tree = nullptr;
    ASSERT_EQ(p.parse(shortText.c_str(), &tree), 0);
    delete tree;
    size_t before = errors.size();
    EXPECT_EQ(p.parse(longText.c_str(), &tree), 1);
    EXPECT_EQ(tree, nullptr);
    ASSERT_GT(errors.size(), before);
    EXPECT_EQ(errors.native(errors.size() - 1), MSG_PARSE_TOO_COMPLEX);
}

}  // namespace
