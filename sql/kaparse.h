// The grammar-driven parser engine: a keyword table and a lexer over the
// 8-bit tokenizer (KaKeywordList, KaLexer), a reader of BNF rule texts into
// productions with FIRST sets (KaGrammar), the transition network each
// production compiles to (KaParseState, KaStateTransition), and the parser
// that walks it with backtracking into a tree of KaReduction nodes
// (KaParser). Library code for callers of the SQL text layer; no driver
// path builds one.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"
#include "foundation/kastring.h"
#include "sql/bytescanner.h"

// Lexical codes delivered by KaLexer (a keyword's own code replaces
// KA_LEX_WORD); codes 1-999 are token codes, 1000 and up production codes.
enum LexCode : int16_t {
    KA_LEX_EMPTY = 0,
    KA_LEX_END = 1,
    KA_LEX_WORD = 2,
    KA_LEX_QUOTED = 3,
    KA_LEX_UNTERMINATED = 4,
    KA_LEX_NUMBER = 5,
    KA_LEX_TILDE = 8,
    KA_LEX_BACKQUOTE = 9,
    KA_LEX_EXCLAMATION = 10,
    KA_LEX_AT = 11,
    KA_LEX_NUMBER_SIGN = 12,
    KA_LEX_DOLLAR = 13,
    KA_LEX_PERCENT = 14,
    KA_LEX_CIRCUMFLEX = 15,
    KA_LEX_AMPERSAND = 16,
    KA_LEX_ASTERISK = 17,
    KA_LEX_OPEN_PAREN = 18,
    KA_LEX_CLOSE_PAREN = 19,
    KA_LEX_MINUS = 20,
    KA_LEX_UNDERSCORE = 21,
    KA_LEX_PLUS = 22,
    KA_LEX_EQUALS = 23,
    KA_LEX_BAR = 24,
    KA_LEX_BACKSLASH = 25,
    KA_LEX_OPEN_BRACE = 26,
    KA_LEX_OPEN_BRACKET = 27,
    KA_LEX_CLOSE_BRACE = 28,
    KA_LEX_CLOSE_BRACKET = 29,
    KA_LEX_COLON = 30,
    KA_LEX_SEMICOLON = 31,
    KA_LEX_DOUBLE_QUOTE = 32,
    KA_LEX_SINGLE_QUOTE = 33,
    KA_LEX_LESS = 34,
    KA_LEX_COMMA = 35,
    KA_LEX_GREATER = 36,
    KA_LEX_PERIOD = 37,
    KA_LEX_QUESTION = 38,
    KA_LEX_SLASH = 39,
    KA_LEX_LITERAL_QUOTE = 40,
    KA_LEX_LITERAL_CONTENTS = 41,
};

// The first production code; lower codes are token codes.
constexpr int16_t KA_FIRST_PRODUCTION_CODE = 1000;

// One rule text (or keyword) with its code, for the array constructors.
struct GrammarItem {
    const char* text;
    int16_t code;
};

class KaKeywordList : public KaObject {
public:
    KaKeywordList() noexcept;
    // Check load's result through text: null when the copy failed.
    explicit KaKeywordList(const char* keywordText) noexcept;
    ~KaKeywordList() override;
    KaKeywordList(const KaKeywordList&) = delete;
    KaKeywordList& operator=(const KaKeywordList&) = delete;

    // Keyword text: entries of a NUL-terminated word and a 16-bit code in
    // host order, ended by an empty word.
    [[nodiscard]] int load(const char* keywordText) noexcept;
    // 0 with the code of the first matching entry; 1 when none matches.
    [[nodiscard]] int lookup(const char* word, int16_t* code) const noexcept;
    void setExactCase(int32_t flag) noexcept { exactCase = flag; }

    char* text;
    size_t textLength;
    int32_t exactCase;
};

// Where a lexer stands, for the parser's backtracking: enough to put every
// scanner and the held token back exactly.
struct KaLexerPosition {
    uint64_t mainPosition = 0;
    uint8_t mainFlags = 0;
    int32_t literalOpen = 0;
    uint64_t literalPosition = 0;
    uint8_t literalFlags = 0;
    const char* tokenData = nullptr;
    size_t tokenLength = 0;
    uint32_t tokenKind = 0;
    int64_t tokenStart = 0;
    const char* literalData = nullptr;
    size_t literalLength = 0;
    uint32_t literalKind = 0;
    int64_t literalStart = 0;
    int16_t charIndex = 0;
};

class KaLexer : public KaObject {
public:
    KaLexer() noexcept;
    KaLexer(const char* text, KaKeywordList* keywords) noexcept;
    KaLexer(const char* text, uint32_t encodingKind, KaKeywordList* keywords) noexcept;
    ~KaLexer() override;
    KaLexer(const KaLexer&) = delete;
    KaLexer& operator=(const KaLexer&) = delete;

    // 1 when the scanner could not be made (out of memory, posted).
    [[nodiscard]] int usable() const noexcept { return main == nullptr ? 1 : 0; }
    void setInput(const char* text) noexcept;
    void setInput(const char* text, uint32_t encodingKind) noexcept;
    void setKeywordList(KaKeywordList* list) noexcept { keywords = list; }
    // 0 with the code and the token's text (valid until the next call; text
    // may be null); 1 when the token has no lexical code or its text cannot
    // be copied.
    [[nodiscard]] int nextToken(int16_t* code, const char** tokenText) noexcept;
    [[nodiscard]] int classify(int16_t* code, const char** tokenText, int advance) noexcept;
    void unread() noexcept;
    KaScanner* currentScanner() noexcept { return current; }
    void setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept;
    [[nodiscard]] int setExtraChars(const char* wordStart, const char* word, const char* both) noexcept;
    int inLiteral() const noexcept { return current != nullptr && current == literal ? 1 : 0; }
    [[nodiscard]] int takeLiteralContents(const char** tokenText) noexcept;
    void savePosition(KaLexerPosition* saved) const noexcept;
    [[nodiscard]] int restorePosition(const KaLexerPosition& saved) noexcept;
    // Byte offset in the input of the token delivered last.
    uint64_t tokenOffset() const noexcept;

    KaScanner* current;
    KaScanner* main;
    KaScanner* literal;
    KaToken token;
    KaToken literalToken;
    uint32_t encodingKind;
    KaString text;
    int16_t charIndex;
    KaKeywordList* keywords;
    char* wordStartExtra;
    char* wordExtra;
    char* bothExtra;

private:
    [[nodiscard]] int setText(const char* data, size_t length, const char** tokenText) noexcept;
    [[nodiscard]] int newLiteralScanner() noexcept;
    [[nodiscard]] int applyExtras(KaScanner* scanner) noexcept;
};

class KaTokenNode : public KaObject {
public:
    KaTokenNode() noexcept;
    ~KaTokenNode() override;
    // 0 when a node of the code is there already or was added after this one.
    [[nodiscard]] int add(int16_t code, const char* text) noexcept;
    [[nodiscard]] int merge(const KaTokenNode* list) noexcept;

    int16_t code;
    char* text;
    KaTokenNode* next;
};

class KaParseState;
class KaProduction;

class KaBNFElement : public KaObject {
public:
    KaBNFElement() noexcept;
    ~KaBNFElement() override;

    int32_t kind;    // 0 term, 1 optional group, 2 brace group
    int32_t repeat;  // brace groups: 0 once, 1 zero or more, 2 one or more
    int16_t code;
    int32_t literal;
    char* text;
    KaBNFElement* prevAlternative;
    KaBNFElement* nextAlternative;
    KaBNFElement* prevInSequence;
    KaBNFElement* nextInSequence;
    KaBNFElement* content;
    void* aux;
    KaProduction* production;
};

enum TransitionKind : int32_t {
    KA_TRANSITION_ENTER = 0,
    KA_TRANSITION_REDUCE = 1,
    KA_TRANSITION_SHIFT = 2,
    KA_TRANSITION_GOTO = 3,
    KA_TRANSITION_ACCEPT = 4,
};

class KaStateTransition : public KaObject {
public:
    KaStateTransition() noexcept;
    ~KaStateTransition() override;

    // 0 when the transition accepts a token of this code and text.
    int mismatch(int16_t tokenCode, const char* tokenText) const noexcept;
    static void append(KaStateTransition** list, KaStateTransition* transition) noexcept;
    [[nodiscard]] static int copyList(const KaStateTransition* list, KaStateTransition** copy) noexcept;
    [[nodiscard]] static int copyAsGotos(const KaStateTransition* list, KaParseState* target,
                                         KaStateTransition** destination) noexcept;

    int16_t code;
    char* text;
    KaParseState* target;
    TransitionKind kind;
    KaParseState* returnState;
    int16_t productionCode;
    int32_t ambiguous;
    KaStateTransition* prev;
    KaStateTransition* next;
};

class KaParseState : public KaObject {
public:
    KaParseState() noexcept;
    ~KaParseState() override;

    void appendTransition(KaStateTransition* transition) noexcept;
    void appendState(KaParseState* state) noexcept;
    // 0 with the transition chosen for the token at this alternative index.
    [[nodiscard]] int findTransition(int16_t tokenCode, const char* tokenText, KaStateTransition** chosen,
                                     uint32_t altIndex) const noexcept;

    KaStateTransition* transitions;
    KaParseState* nextState;
    void* aux;
    KaStateTransition* fallback;
};

class KaProduction : public KaObject {
public:
    KaProduction() noexcept;
    ~KaProduction() override;
    void append(KaProduction* production) noexcept;
    const char* nameOfCode(int16_t code) const noexcept;

    char* name;
    int16_t code;
    KaBNFElement* elements;
    KaTokenNode* firstTokens;
    KaProduction* next;
    KaParseState* startState;
    // Set while the FIRST set is computed, so that left recursion is caught.
    int32_t computing;
};

class KaGrammar : public KaObject {
public:
    KaGrammar() noexcept;
    KaGrammar(const char* grammarText, KaKeywordList* keywords, uint32_t encodingKind = 1) noexcept;
    KaGrammar(const GrammarItem* items, size_t count, KaKeywordList* keywords, uint32_t encodingKind = 1) noexcept;
    ~KaGrammar() override;
    KaGrammar(const KaGrammar&) = delete;
    KaGrammar& operator=(const KaGrammar&) = delete;

    [[nodiscard]] int getGoal(KaProduction** production) const noexcept;
    [[nodiscard]] int setGoal(const char* name) noexcept;
    [[nodiscard]] int findProduction(const char* name, KaProduction** production) const noexcept;

    int32_t valid;
    uint32_t encodingKind;
    KaProduction* productions;
    KaProduction* goal;
    char* goalName;
    KaKeywordList* keywords;

private:
    [[nodiscard]] int read(const char* grammarText) noexcept;
    [[nodiscard]] int readProduction(KaLexer& lexer, KaProduction** out) noexcept;
    [[nodiscard]] int readSymbolName(KaLexer& lexer, char** name, int16_t* code) noexcept;
    [[nodiscard]] int readSequence(KaLexer& lexer, KaBNFElement** head) noexcept;
    [[nodiscard]] int readGroupAlternatives(KaLexer& lexer, KaBNFElement** head) noexcept;
    [[nodiscard]] int readTerms(KaLexer& lexer, KaBNFElement** head, KaBNFElement** tail) noexcept;
    [[nodiscard]] int resolve(KaBNFElement* element) noexcept;
    [[nodiscard]] int computeFirst(KaProduction* production) noexcept;
    [[nodiscard]] int addFirst(KaProduction* owner, const KaBNFElement* element) noexcept;
    [[nodiscard]] int findGoal() noexcept;
};

// Writes the text layout (entries of text, NUL and 16-bit code, then a NUL)
// of an item array into a new block; null after a posted diagnostic.
char* kaWriteItemText(const GrammarItem* items, size_t count) noexcept;

class KaReduction : public KaObject {
public:
    KaReduction() noexcept;
    KaReduction(int16_t code, const char* text) noexcept;
    ~KaReduction() override;
    [[nodiscard]] int setText(const char* newText) noexcept;
    void setCode(int16_t newCode) noexcept;
    void appendChild(KaReduction* child) noexcept;
    KaReduction* root() noexcept;

    int32_t isToken;
    int16_t code;
    char* text;
    KaReduction* parent;
    KaReduction* firstChild;
    KaReduction* nextSibling;
    KaReduction* prevSibling;
};

class KaParser : public KaObject {
public:
    KaParser() noexcept;
    KaParser(const char* grammarText, const char* keywordText, uint32_t encodingKind = 1) noexcept;
    KaParser(const GrammarItem* grammarItems, size_t grammarCount, const GrammarItem* keywordItems, size_t keywordCount,
             uint32_t encodingKind = 1) noexcept;
    ~KaParser() override;
    KaParser(const KaParser&) = delete;
    KaParser& operator=(const KaParser&) = delete;

    // The node of a completed production over its children (a sibling chain).
    virtual KaReduction* makeReduction(int16_t productionCode, KaReduction* children) noexcept;
    // Told of a syntax error once per open production from the goal up,
    // until it returns non-zero: the token, the production and the
    // transitions the parser could have taken.
    virtual int32_t syntaxError(int16_t tokenCode, const char* tokenText, int16_t productionCode,
                                const char* productionName, const KaStateTransition* expected) noexcept;

    [[nodiscard]] int setGrammar(const char* grammarText, const char* keywordText, uint32_t encodingKind = 1) noexcept;
    [[nodiscard]] int setGrammar(const GrammarItem* grammarItems, size_t grammarCount, const GrammarItem* keywordItems,
                                 size_t keywordCount, uint32_t encodingKind = 1) noexcept;
    [[nodiscard]] int parse(const char* input, KaReduction** result, uint32_t encodingKind = 1) noexcept;
    void setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept;
    [[nodiscard]] int setWordStartChars(const char* chars) noexcept;
    [[nodiscard]] int setWordChars(const char* chars) noexcept;
    [[nodiscard]] int setBothChars(const char* chars) noexcept;
    [[nodiscard]] int setGoal(const char* name) noexcept;

    int32_t valid;
    KaGrammar* grammar;
    KaKeywordList* keywords;
    int32_t quotesSet;
    uint16_t quote1, quote2, quote3;
    char* wordStartExtra;
    char* wordExtra;
    char* bothExtra;
    // Byte offset of the token a failed parse stopped at.
    uint64_t errorOffset;

private:
    struct Walk;
    void release() noexcept;
};
