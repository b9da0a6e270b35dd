// The grammar-driven parser engine. The lexer splits two-character
// operators into single characters and reads quoted literals token by token;
// the grammar reader builds productions, FIRST sets and the transition
// network; the parser walks the network depth first, trying the transitions
// a state offers for the token in order and undoing a path that fails, and
// builds the tree once from the path that reached the end of the input.
#include "sql/kaparse.h"

#include <cctype>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

char* copyOf(const char* text, size_t n)
{
    char* copy = static_cast<char*>(ramAlloc(n + 1));
    if (copy != nullptr) {
        if (n > 0)
            memcpy(copy, text, n);
        copy[n] = 0;
    }
    return copy;
}

char* copyOf(const char* text)
{
    return text ? copyOf(text, strlen(text)) : nullptr;
}

bool equalNoCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// The lexical code of a punctuation character; 0 when it has none.
int16_t charCode(char c)
{
    switch (c) {
    case '~': return KA_LEX_TILDE;
    case '`': return KA_LEX_BACKQUOTE;
    case '!': return KA_LEX_EXCLAMATION;
    case '@': return KA_LEX_AT;
    case '#': return KA_LEX_NUMBER_SIGN;
    case '$': return KA_LEX_DOLLAR;
    case '%': return KA_LEX_PERCENT;
    case '^': return KA_LEX_CIRCUMFLEX;
    case '&': return KA_LEX_AMPERSAND;
    case '*': return KA_LEX_ASTERISK;
    case '(': return KA_LEX_OPEN_PAREN;
    case ')': return KA_LEX_CLOSE_PAREN;
    case '-': return KA_LEX_MINUS;
    case '_': return KA_LEX_UNDERSCORE;
    case '+': return KA_LEX_PLUS;
    case '=': return KA_LEX_EQUALS;
    case '|': return KA_LEX_BAR;
    case '\\': return KA_LEX_BACKSLASH;
    case '{': return KA_LEX_OPEN_BRACE;
    case '[': return KA_LEX_OPEN_BRACKET;
    case '}': return KA_LEX_CLOSE_BRACE;
    case ']': return KA_LEX_CLOSE_BRACKET;
    case ':': return KA_LEX_COLON;
    case ';': return KA_LEX_SEMICOLON;
    case '"': return KA_LEX_DOUBLE_QUOTE;
    case '\'': return KA_LEX_SINGLE_QUOTE;
    case '<': return KA_LEX_LESS;
    case ',': return KA_LEX_COMMA;
    case '>': return KA_LEX_GREATER;
    case '.': return KA_LEX_PERIOD;
    case '?': return KA_LEX_QUESTION;
    case '/': return KA_LEX_SLASH;
    default: return 0;
    }
}

}  // namespace

// ---- KaKeywordList -------------------------------------------------------

KaKeywordList::KaKeywordList() noexcept : text(nullptr), textLength(0), exactCase(1) {}

KaKeywordList::KaKeywordList(const char* keywordText) noexcept : text(nullptr), textLength(0), exactCase(1)
{
    (void)load(keywordText);
}

KaKeywordList::~KaKeywordList()
{
    ramFree(text);
}

int KaKeywordList::load(const char* keywordText) noexcept
{
    ramFree(text);
    text = nullptr;
    textLength = 0;
    if (keywordText == nullptr)
        return 0;
    size_t n = 0;
    while (keywordText[n] != 0)
        n += strlen(keywordText + n) + 1 + 2;
    // The ending NUL and one more.
    text = static_cast<char*>(ramAlloc(n + 2));
    if (text == nullptr)
        return 1;
    memcpy(text, keywordText, n + 1);
    text[n + 1] = 0;
    textLength = n;
    return 0;
}

int KaKeywordList::lookup(const char* word, int16_t* code) const noexcept
{
    if (text == nullptr || word == nullptr)
        return 1;
    for (size_t at = 0; at < textLength && text[at] != 0;) {
        const char* entry = text + at;
        size_t n = strlen(entry);
        bool match = exactCase ? strcmp(entry, word) == 0 : equalNoCase(entry, word);
        if (match) {
            memcpy(code, entry + n + 1, 2);
            return 0;
        }
        at += n + 1 + 2;
    }
    return 1;
}

// ---- KaLexer -------------------------------------------------------------

KaLexer::KaLexer() noexcept
    : current(nullptr), main(nullptr), literal(nullptr), encodingKind(1), charIndex(0), keywords(nullptr),
      wordStartExtra(nullptr), wordExtra(nullptr), bothExtra(nullptr)
{}

KaLexer::KaLexer(const char* input, KaKeywordList* list) noexcept : KaLexer(input, 1, list) {}

KaLexer::KaLexer(const char* input, uint32_t kind, KaKeywordList* list) noexcept : KaLexer()
{
    encodingKind = kind;
    keywords = list;
    main = new KaScanner(input ? input : "", input ? strlen(input) : 0, kind);
    if (main != nullptr) {
        main->setOption(KaScanner::decimalNumbers, false);
        current = main;
    }
}

KaLexer::~KaLexer()
{
    delete main;
    delete literal;
    ramFree(wordStartExtra);
    ramFree(wordExtra);
    ramFree(bothExtra);
}

void KaLexer::setInput(const char* input) noexcept
{
    setInput(input, encodingKind);
}

void KaLexer::setInput(const char* input, uint32_t kind) noexcept
{
    encodingKind = kind;
    if (current == nullptr)
        return;
    current->setInput(input ? input : "", input ? strlen(input) : 0, kind);
    // The lexer's codes are built for digit runs: keep decimal numbers off.
    current->setOption(KaScanner::decimalNumbers, false);
    charIndex = 0;
}

void KaLexer::setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    if (current == nullptr)
        return;
    current->quoteChar1 = q1;
    current->quoteChar2 = q2;
    current->quoteChar3 = q3;
}

int KaLexer::applyExtras(KaScanner* scanner) noexcept
{
    if (wordStartExtra && scanner->wordStartChars.append(wordStartExtra) != 0)
        return 1;
    if (wordExtra && scanner->wordChars.append(wordExtra) != 0)
        return 1;
    if (bothExtra && (scanner->wordStartChars.append(bothExtra) != 0 || scanner->wordChars.append(bothExtra) != 0))
        return 1;
    return 0;
}

int KaLexer::setExtraChars(const char* wordStart, const char* word, const char* both) noexcept
{
    ramFree(wordStartExtra);
    ramFree(wordExtra);
    ramFree(bothExtra);
    wordStartExtra = copyOf(wordStart);
    wordExtra = copyOf(word);
    bothExtra = copyOf(both);
    if ((wordStart && !wordStartExtra) || (word && !wordExtra) || (both && !bothExtra))
        return 1;
    return main ? applyExtras(main) : 0;
}

int KaLexer::newLiteralScanner() noexcept
{
    delete literal;
    literal = nullptr;
    size_t bodyLength = literalToken.len >= 2 ? literalToken.len - 2 : 0;
    literal = new KaScanner(literalToken.data + 1, bodyLength, encodingKind);
    if (literal == nullptr)
        return 1;
    literal->setOption(KaScanner::decimalNumbers, false);
    literal->quoteChar1 = literal->quoteChar2 = literal->quoteChar3 = 0;
    return applyExtras(literal);
}

int KaLexer::setText(const char* data, size_t length, const char** tokenText) noexcept
{
    // A text that cannot be copied fails the token rather than leaving a
    // stale one.
    if (text.assign(data ? data : "", data ? length : 0) != 0)
        return 1;
    if (tokenText)
        *tokenText = text.data;
    return 0;
}

static void copyToken(KaToken& to, const KaToken& from)
{
    to.set(from.data, from.len);
    to.kind = from.kind;
    to.start = from.start;
}

int KaLexer::nextToken(int16_t* code, const char** tokenText) noexcept
{
    if (current == nullptr)
        return 1;
    bool first = token.kind != KA_TOKEN_END && current->position == 0;
    if (charIndex == 0 || size_t(charIndex) >= token.len) {
        current->nextToken(token, KA_SCAN_PLAIN);
        charIndex = 0;
    }
    if (token.kind == KA_TOKEN_END && current == literal && literal != nullptr) {
        if (first) {
            *code = KA_LEX_WORD;
            return setText(literalToken.data + 1, literalToken.len >= 2 ? literalToken.len - 2 : 0, tokenText);
        }
        delete literal;
        literal = nullptr;
        current = main;
        copyToken(token, literalToken);
        charIndex = int16_t(token.len > INT16_MAX ? INT16_MAX : token.len);
        *code = KA_LEX_LITERAL_QUOTE;
        return setText(literalToken.data + literalToken.len - 1, 1, tokenText);
    }
    if (token.kind == KA_TOKEN_CLOSED && literal == nullptr && token.len >= 2) {
        main->pushBack(token);
        main->nextToken(literalToken, KA_SCAN_PLAIN);
        if (newLiteralScanner() != 0)
            return 1;
        current = literal;
        *code = KA_LEX_LITERAL_QUOTE;
        return setText(token.data, 1, tokenText);
    }
    int16_t before = charIndex;
    const char* data = before > 0 ? token.data + before : token.data;
    size_t n = before > 0 ? 1 : token.len;
    if (setText(data, n, tokenText) != 0 || classify(code, tokenText, 1) != 0)
        return 1;
    if (before == 0 && charIndex == 1)
        return setText(token.data, 1, tokenText);
    return 0;
}

int KaLexer::classify(int16_t* code, const char** tokenText, int advance) noexcept
{
    uint32_t kind = token.kind;
    int16_t result = -1;
    switch (kind) {
    case KA_TOKEN_NONE:
    case KA_TOKEN_END:
    case KA_TOKEN_CLOSED:
    case KA_TOKEN_UNTERMINATED:
    case KA_TOKEN_NUMBER: result = int16_t(kind); break;
    case KA_TOKEN_WORD: {
        result = KA_LEX_WORD;
        int16_t keyword = 0;
        if (keywords != nullptr && text.data != nullptr && keywords->lookup(text.data, &keyword) == 0)
            result = keyword;
        break;
    }
    case KA_TOKEN_OTHER:
        if (token.len > 0 && strchr("[\\]^_~", token.data[0]) != nullptr && token.data[0] != 0)
            result = charCode(token.data[0]);
        break;
    case KA_TOKEN_OUTER_JOIN: {
        static const int16_t marks[3] = {KA_LEX_OPEN_PAREN, KA_LEX_PLUS, KA_LEX_CLOSE_PAREN};
        if (charIndex < 3)
            result = marks[charIndex++];
        break;
    }
    default:
        if (kind > 0xFF && kind <= 0xFFFF) {
            // A two-character operator goes out one character at a time.
            char pair[2] = {char(kind >> 8), char(kind & 0xFF)};
            if (charIndex < 2) {
                result = charCode(pair[charIndex]);
                ++charIndex;
            }
            if (result == 0)
                result = -1;
        } else if (kind > 13 && kind <= 0xFF) {
            result = charCode(char(kind));
            if (result == 0)
                result = -1;
        }
    }
    if (result < 0)
        return 1;
    if (!advance && charIndex > 0)
        --charIndex;
    *code = result;
    if (tokenText)
        *tokenText = text.data;
    return 0;
}

void KaLexer::unread() noexcept
{
    if (current == nullptr)
        return;
    if (charIndex > 0)
        --charIndex;
    if (charIndex == 0)
        current->pushBack(token);
}

int KaLexer::takeLiteralContents(const char** tokenText) noexcept
{
    if (literal == nullptr)
        return 1;
    if (setText(literalToken.data + 1, literalToken.len >= 2 ? literalToken.len - 2 : 0, tokenText) != 0)
        return 1;
    KaToken skip;
    do
        literal->nextToken(skip, KA_SCAN_PLAIN);
    while (skip.kind != KA_TOKEN_END);
    copyToken(token, skip);
    charIndex = 0;
    return 0;
}

void KaLexer::savePosition(KaLexerPosition* saved) const noexcept
{
    saved->mainPosition = main ? main->position : 0;
    saved->mainFlags = main ? main->flags : 0;
    saved->literalOpen = literal != nullptr && current == literal;
    saved->literalPosition = literal ? literal->position : 0;
    saved->literalFlags = literal ? literal->flags : 0;
    saved->tokenData = token.data;
    saved->tokenLength = token.len;
    saved->tokenKind = token.kind;
    saved->tokenStart = token.start;
    saved->literalData = literalToken.data;
    saved->literalLength = literalToken.len;
    saved->literalKind = literalToken.kind;
    saved->literalStart = literalToken.start;
    saved->charIndex = charIndex;
}

int KaLexer::restorePosition(const KaLexerPosition& saved) noexcept
{
    if (main == nullptr)
        return 1;
    main->position = saved.mainPosition;
    main->flags = saved.mainFlags;
    literalToken.set(saved.literalData, saved.literalLength);
    literalToken.kind = saved.literalKind;
    literalToken.start = saved.literalStart;
    if (saved.literalOpen) {
        if (newLiteralScanner() != 0)
            return 1;
        literal->position = saved.literalPosition;
        literal->flags = saved.literalFlags;
        current = literal;
    } else {
        delete literal;
        literal = nullptr;
        current = main;
    }
    token.set(saved.tokenData, saved.tokenLength);
    token.kind = saved.tokenKind;
    token.start = saved.tokenStart;
    charIndex = saved.charIndex;
    return 0;
}

uint64_t KaLexer::tokenOffset() const noexcept
{
    int64_t at = token.start + (charIndex > 0 ? charIndex - 1 : 0);
    if (current == literal && literal != nullptr)
        at = token.kind == KA_TOKEN_CLOSED ? literalToken.start : at + literalToken.start + 1;
    return at < 0 ? 0 : uint64_t(at);
}

// ---- FIRST sets ----------------------------------------------------------

KaTokenNode::KaTokenNode() noexcept : code(0), text(nullptr), next(nullptr) {}

KaTokenNode::~KaTokenNode()
{
    ramFree(text);
    // The chain is released iteratively: FIRST sets can be long.
    KaTokenNode* n = next;
    while (n != nullptr) {
        KaTokenNode* after = n->next;
        n->next = nullptr;
        delete n;
        n = after;
    }
}

int KaTokenNode::add(int16_t newCode, const char* newText) noexcept
{
    for (const KaTokenNode* n = this; n != nullptr; n = n->next)
        if (n->code == newCode)
            return 0;
    std::unique_ptr<KaTokenNode> node(new KaTokenNode());
    if (node == nullptr)
        return 1;
    node->code = newCode;
    if (newText != nullptr && (node->text = copyOf(newText)) == nullptr)
        return 1;
    node->next = next;
    next = node.release();
    return 0;
}

int KaTokenNode::merge(const KaTokenNode* list) noexcept
{
    for (const KaTokenNode* n = list; n != nullptr; n = n->next)
        if (add(n->code, n->text) != 0)
            return 1;
    return 0;
}

// ---- Elements, transitions, states, productions --------------------------

KaBNFElement::KaBNFElement() noexcept
    : kind(0), repeat(0), code(0), literal(0), text(nullptr), prevAlternative(nullptr), nextAlternative(nullptr),
      prevInSequence(nullptr), nextInSequence(nullptr), content(nullptr), aux(nullptr), production(nullptr)
{}

KaBNFElement::~KaBNFElement()
{
    ramFree(text);
    delete nextAlternative;
    delete nextInSequence;
    delete content;
}

KaStateTransition::KaStateTransition() noexcept
    : code(0), text(nullptr), target(nullptr), kind(KA_TRANSITION_GOTO), returnState(nullptr), productionCode(0),
      ambiguous(0), prev(nullptr), next(nullptr)
{}

KaStateTransition::~KaStateTransition()
{
    ramFree(text);
    KaStateTransition* n = next;
    while (n != nullptr) {
        KaStateTransition* after = n->next;
        n->next = nullptr;
        delete n;
        n = after;
    }
}

int KaStateTransition::mismatch(int16_t tokenCode, const char* tokenText) const noexcept
{
    if (code == KA_LEX_LITERAL_CONTENTS)
        return 0;
    if (tokenCode == KA_LEX_LITERAL_QUOTE) {
        char quote = tokenText ? tokenText[0] : 0;
        // A literal-quote term accepts the quote of any literal.
        if (code == KA_LEX_LITERAL_QUOTE || (code == KA_LEX_BACKQUOTE && quote == '`') ||
            (code == KA_LEX_DOUBLE_QUOTE && quote == '"') || (code == KA_LEX_SINGLE_QUOTE && quote == '\''))
            return 0;
        return 1;
    }
    if (code != tokenCode)
        return 1;
    if (code == KA_LEX_WORD && text != nullptr)
        return tokenText != nullptr && equalNoCase(text, tokenText) ? 0 : 1;
    return 0;
}

void KaStateTransition::append(KaStateTransition** list, KaStateTransition* transition) noexcept
{
    KaStateTransition* last = nullptr;
    for (KaStateTransition* u = *list; u != nullptr; u = u->next) {
        if (u->mismatch(transition->code, transition->text) == 0)
            u->ambiguous = transition->ambiguous = 1;
        last = u;
    }
    transition->prev = last;
    transition->next = nullptr;
    if (last)
        last->next = transition;
    else
        *list = transition;
}

static KaStateTransition* newTransition(int16_t code, const char* text, KaParseState* target, TransitionKind kind)
{
    std::unique_ptr<KaStateTransition> t(new KaStateTransition());
    if (t == nullptr)
        return nullptr;
    if (text != nullptr && (t->text = copyOf(text)) == nullptr)
        return nullptr;
    t->code = code;
    t->target = target;
    t->kind = kind;
    return t.release();
}

int KaStateTransition::copyList(const KaStateTransition* list, KaStateTransition** copy) noexcept
{
    *copy = nullptr;
    for (const KaStateTransition* u = list; u != nullptr; u = u->next) {
        KaStateTransition* t = newTransition(u->code, u->text, u->target, u->kind);
        if (t == nullptr) {
            delete *copy;
            *copy = nullptr;
            return 1;
        }
        t->returnState = u->returnState;
        t->productionCode = u->productionCode;
        append(copy, t);
    }
    return 0;
}

int KaStateTransition::copyAsGotos(const KaStateTransition* list, KaParseState* target,
                                   KaStateTransition** destination) noexcept
{
    for (const KaStateTransition* u = list; u != nullptr; u = u->next) {
        KaStateTransition* t = newTransition(u->code, u->text, target, KA_TRANSITION_GOTO);
        if (t == nullptr)
            return 1;
        append(destination, t);
    }
    return 0;
}

KaParseState::KaParseState() noexcept : transitions(nullptr), nextState(nullptr), aux(nullptr), fallback(nullptr) {}

KaParseState::~KaParseState()
{
    delete transitions;
    delete fallback;
    KaParseState* n = nextState;
    while (n != nullptr) {
        KaParseState* after = n->nextState;
        n->nextState = nullptr;
        delete n;
        n = after;
    }
}

void KaParseState::appendTransition(KaStateTransition* transition) noexcept
{
    KaStateTransition::append(&transitions, transition);
}

void KaParseState::appendState(KaParseState* state) noexcept
{
    KaParseState* s = this;
    while (s->nextState != nullptr)
        s = s->nextState;
    s->nextState = state;
}

int KaParseState::findTransition(int16_t tokenCode, const char* tokenText, KaStateTransition** chosen,
                                 uint32_t altIndex) const noexcept
{
    *chosen = nullptr;
    if (transitions == nullptr) {
        *chosen = fallback;
        return fallback ? 0 : 1;
    }
    uint32_t skipped = 0;
    for (KaStateTransition* t = transitions; t != nullptr; t = t->next) {
        if (t->mismatch(tokenCode, tokenText) != 0)
            continue;
        if (skipped == altIndex) {
            *chosen = t;
            return 0;
        }
        ++skipped;
    }
    if (fallback != nullptr && skipped == altIndex) {
        *chosen = fallback;
        return 0;
    }
    return 1;
}

KaProduction::KaProduction() noexcept
    : name(nullptr), code(0), elements(nullptr), firstTokens(nullptr), next(nullptr), startState(new KaParseState()),
      computing(0)
{}

KaProduction::~KaProduction()
{
    ramFree(name);
    delete elements;
    delete firstTokens;
    delete startState;
    KaProduction* n = next;
    while (n != nullptr) {
        KaProduction* after = n->next;
        n->next = nullptr;
        delete n;
        n = after;
    }
}

void KaProduction::append(KaProduction* production) noexcept
{
    KaProduction* p = this;
    while (p->next != nullptr)
        p = p->next;
    p->next = production;
}

const char* KaProduction::nameOfCode(int16_t wanted) const noexcept
{
    for (const KaProduction* p = this; p != nullptr; p = p->next)
        if (p->code == wanted)
            return p->name;
    return nullptr;
}

// ---- Grammar reader ------------------------------------------------------

namespace {

struct ReservedName {
    const char* name;
    int16_t code;
};
const ReservedName kReserved[] = {
    {"alphanum", KA_LEX_WORD},
    {"number", KA_LEX_NUMBER},
    {"literal-quote-char", KA_LEX_LITERAL_QUOTE},
    {"literal-contents", KA_LEX_LITERAL_CONTENTS},
};

bool lowerName(const char* text, bool hyphens)
{
    if (text == nullptr || *text == 0)
        return false;
    for (const char* p = text; *p; ++p)
        if (!(*p >= 'a' && *p <= 'z') && !(hyphens && *p == '-'))
            return false;
    return true;
}

// Tokens that end a run of terms.
bool endsTerms(int16_t code)
{
    return code == KA_LEX_OPEN_BRACKET || code == KA_LEX_CLOSE_BRACKET || code == KA_LEX_OPEN_BRACE ||
           code == KA_LEX_CLOSE_BRACE || code == KA_LEX_BAR || code == KA_LEX_END || code == KA_LEX_UNTERMINATED ||
           code == KA_LEX_EMPTY;
}

void linkInSequence(KaBNFElement** head, KaBNFElement** tail, KaBNFElement* e)
{
    if (*tail) {
        (*tail)->nextInSequence = e;
        e->prevInSequence = *tail;
    } else {
        *head = e;
    }
    *tail = e;
}

void linkAlternative(KaBNFElement** head, KaBNFElement* alternative)
{
    if (*head == nullptr) {
        *head = alternative;
        return;
    }
    KaBNFElement* last = *head;
    while (last->nextAlternative)
        last = last->nextAlternative;
    last->nextAlternative = alternative;
    alternative->prevAlternative = last;
}

}  // namespace

char* kaWriteItemText(const GrammarItem* items, size_t count) noexcept
{
    // Sized in full width: arrays and texts of any size are written.
    size_t total = 1;
    for (size_t i = 0; i < count; ++i) {
        size_t n = items[i].text ? strlen(items[i].text) : 0;
        if (n == 0 || n > SIZE_MAX / 2 - total)
            return nullptr;
        total += n + 3;
    }
    char* out = static_cast<char*>(ramAlloc(total));
    if (out == nullptr)
        return nullptr;
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t n = strlen(items[i].text);
        memcpy(out + at, items[i].text, n + 1);
        memcpy(out + at + n + 1, &items[i].code, 2);
        at += n + 3;
    }
    out[at] = 0;
    return out;
}

KaGrammar::KaGrammar() noexcept
    : valid(0), encodingKind(1), productions(nullptr), goal(nullptr), goalName(nullptr), keywords(nullptr)
{}

KaGrammar::KaGrammar(const char* grammarText, KaKeywordList* list, uint32_t kind) noexcept : KaGrammar()
{
    encodingKind = kind;
    keywords = list;
    valid = read(grammarText) == 0 ? 1 : 0;
}

KaGrammar::KaGrammar(const GrammarItem* items, size_t count, KaKeywordList* list, uint32_t kind) noexcept : KaGrammar()
{
    encodingKind = kind;
    keywords = list;
    char* grammarText = kaWriteItemText(items, count);
    valid = grammarText != nullptr && read(grammarText) == 0 ? 1 : 0;
    ramFree(grammarText);
}

KaGrammar::~KaGrammar()
{
    delete productions;
    ramFree(goalName);
}

int KaGrammar::findProduction(const char* name, KaProduction** production) const noexcept
{
    for (KaProduction* p = productions; p != nullptr; p = p->next) {
        if (p->name != nullptr && name != nullptr && strcmp(p->name, name) == 0) {
            *production = p;
            return 0;
        }
    }
    return 1;
}

int KaGrammar::getGoal(KaProduction** production) const noexcept
{
    *production = goal;
    return goal ? 0 : 1;
}

int KaGrammar::setGoal(const char* name) noexcept
{
    char* copy = copyOf(name);
    if (copy == nullptr)
        return 1;
    ramFree(goalName);
    goalName = copy;
    KaProduction* found = nullptr;
    if (findProduction(goalName, &found) != 0)
        return 1;
    goal = found;
    return 0;
}

int KaGrammar::findGoal() noexcept
{
    return findProduction(goalName ? goalName : "goal", &goal);
}

int KaGrammar::readSymbolName(KaLexer& lexer, char** name, int16_t* code) noexcept
{
    KaScanner* scanner = lexer.currentScanner();
    if (scanner->wordChars.append("-") != 0)
        return 1;
    int16_t tokenCode = 0;
    const char* tokenText = nullptr;
    int rc = lexer.nextToken(&tokenCode, &tokenText);
    scanner->wordStartChars.len = 0;
    scanner->wordChars.len = 0;
    if (rc != 0 || tokenCode != KA_LEX_WORD || !lowerName(tokenText, true))
        return 1;
    for (const ReservedName& r : kReserved) {
        if (strcmp(tokenText, r.name) == 0) {
            *name = nullptr;
            *code = r.code;
            return 0;
        }
    }
    *name = copyOf(tokenText);
    *code = KA_LEX_WORD;
    return *name ? 0 : 1;
}

int KaGrammar::readTerms(KaLexer& lexer, KaBNFElement** head, KaBNFElement** tail) noexcept
{
    for (bool first = true;; first = false) {
        int16_t code = 0;
        const char* tokenText = nullptr;
        if (lexer.nextToken(&code, &tokenText) != 0)
            return 1;
        if (endsTerms(code)) {
            if (first)
                return 1;
            lexer.unread();
            return 0;
        }
        auto* e = new KaBNFElement();
        if (e == nullptr)
            return 1;
        linkInSequence(head, tail, e);
        if (code == KA_LEX_WORD && lowerName(tokenText, false)) {
            // A symbol name; read again with the hyphen as a word character.
            lexer.unread();
            if (readSymbolName(lexer, &e->text, &e->code) != 0)
                return 1;
        } else if (code == KA_LEX_WORD) {
            return 1;  // neither a keyword nor a symbol name
        } else if (code == KA_LEX_TILDE || code == KA_LEX_BACKSLASH) {
            int16_t nextCode = 0;
            if (lexer.nextToken(&nextCode, &tokenText) != 0)
                return 1;
            e->code = code == KA_LEX_TILDE ? int16_t(KA_LEX_WORD) : nextCode;
            e->literal = code == KA_LEX_TILDE ? 1 : 0;
            if ((e->text = copyOf(tokenText)) == nullptr)
                return 1;
        } else {
            e->code = code;
            if ((e->text = copyOf(tokenText)) == nullptr)
                return 1;
        }
    }
}

int KaGrammar::readGroupAlternatives(KaLexer& lexer, KaBNFElement** head) noexcept
{
    for (;;) {
        KaBNFElement* alternative = nullptr;
        int rc = readSequence(lexer, &alternative);
        if (alternative)
            linkAlternative(head, alternative);
        if (rc != 0)
            return 1;
        int16_t code = 0;
        if (lexer.nextToken(&code, nullptr) != 0)
            return 1;
        if (code != KA_LEX_BAR) {
            lexer.unread();
            return 0;
        }
    }
}

int KaGrammar::readSequence(KaLexer& lexer, KaBNFElement** head) noexcept
{
    KaBNFElement* tail = nullptr;
    for (;;) {
        int16_t code = 0;
        if (lexer.nextToken(&code, nullptr) != 0)
            return 1;
        if (code == KA_LEX_OPEN_BRACE || code == KA_LEX_OPEN_BRACKET) {
            auto* group = new KaBNFElement();
            if (group == nullptr)
                return 1;
            linkInSequence(head, &tail, group);
            group->kind = code == KA_LEX_OPEN_BRACE ? 2 : 1;
            if (readGroupAlternatives(lexer, &group->content) != 0)
                return 1;
            int16_t close = 0;
            if (lexer.nextToken(&close, nullptr) != 0 ||
                close != (code == KA_LEX_OPEN_BRACE ? KA_LEX_CLOSE_BRACE : KA_LEX_CLOSE_BRACKET))
                return 1;
            if (group->kind == 2) {
                int16_t mark = 0;
                if (lexer.nextToken(&mark, nullptr) != 0)
                    return 1;
                if (mark == KA_LEX_ASTERISK)
                    group->repeat = 1;
                else if (mark == KA_LEX_PLUS)
                    group->repeat = 2;
                else
                    lexer.unread();
            }
        } else {
            lexer.unread();
            if (readTerms(lexer, head, &tail) != 0)
                return 1;
        }
        int16_t after = 0;
        if (lexer.nextToken(&after, nullptr) != 0)
            return 1;
        lexer.unread();
        if (after == KA_LEX_END || after == KA_LEX_BAR || after == KA_LEX_CLOSE_BRACE || after == KA_LEX_CLOSE_BRACKET)
            return 0;
    }
}

int KaGrammar::readProduction(KaLexer& lexer, KaProduction** out) noexcept
{
    auto* p = new KaProduction();
    *out = p;
    if (p == nullptr || p->startState == nullptr)
        return 1;
    int16_t nameCode = 0;
    if (readSymbolName(lexer, &p->name, &nameCode) != 0 || p->name == nullptr)
        return 1;  // a reserved name cannot name a production
    const int16_t separator[3] = {KA_LEX_COLON, KA_LEX_COLON, KA_LEX_EQUALS};
    for (int16_t want : separator) {
        int16_t code = 0;
        if (lexer.nextToken(&code, nullptr) != 0 || code != want)
            return 1;
    }
    for (;;) {
        KaBNFElement* alternative = nullptr;
        int rc = readSequence(lexer, &alternative);
        if (alternative)
            linkAlternative(&p->elements, alternative);
        if (rc != 0)
            return 1;
        int16_t code = 0;
        if (lexer.nextToken(&code, nullptr) != 0)
            return 1;
        if (code == KA_LEX_END)
            return 0;
        if (code != KA_LEX_BAR)
            return 1;
    }
}

int KaGrammar::resolve(KaBNFElement* element) noexcept
{
    for (KaBNFElement* e = element; e != nullptr; e = e->nextInSequence) {
        if (e->content && resolve(e->content) != 0)
            return 1;
        if (e->nextAlternative && resolve(e->nextAlternative) != 0)
            return 1;
        if (e->kind == 0 && e->code == KA_LEX_WORD && e->text && e->text[0] >= 'a' && e->text[0] <= 'z' &&
            !e->literal && findProduction(e->text, &e->production) != 0) {
            KaError* err = errPost(MSG_GRAMMAR_UNKNOWN_PRODUCTION);
            if (err)
                err->addParamText(e->text);
            return 1;
        }
    }
    return 0;
}

int KaGrammar::computeFirst(KaProduction* production) noexcept
{
    if (production->computing == 2)
        return 0;
    if (production->computing == 1) {
        // The FIRST set leads back to itself: the grammar is left-recursive.
        KaError* e = errPost(MSG_GRAMMAR_LEFT_RECURSIVE);
        if (e)
            e->addParamText(production->name ? production->name : "");
        return 1;
    }
    production->computing = 1;
    int rc = addFirst(production, production->elements);
    production->computing = rc == 0 ? 2 : 0;
    return rc;
}

int KaGrammar::addFirst(KaProduction* owner, const KaBNFElement* element) noexcept
{
    if (element == nullptr)
        return 0;
    if (element->kind == 0 && element->production != nullptr) {
        KaProduction* r = element->production;
        if (computeFirst(r) != 0)
            return 1;
        if (r->firstTokens != nullptr) {
            if (owner->firstTokens == nullptr) {
                owner->firstTokens = new KaTokenNode();
                if (owner->firstTokens == nullptr)
                    return 1;
                owner->firstTokens->code = r->firstTokens->code;
                if (r->firstTokens->text && (owner->firstTokens->text = copyOf(r->firstTokens->text)) == nullptr)
                    return 1;
            }
            if (owner->firstTokens->merge(r->firstTokens) != 0)
                return 1;
        }
    } else if (element->kind == 0) {
        if (owner->firstTokens == nullptr) {
            owner->firstTokens = new KaTokenNode();
            if (owner->firstTokens == nullptr)
                return 1;
            owner->firstTokens->code = element->code;
            if (element->text && (owner->firstTokens->text = copyOf(element->text)) == nullptr)
                return 1;
        } else if (owner->firstTokens->add(element->code, element->text) != 0) {
            return 1;
        }
    } else {
        if (addFirst(owner, element->content) != 0)
            return 1;
        if ((element->kind == 1 || element->repeat == 1) && element->nextInSequence &&
            addFirst(owner, element->nextInSequence) != 0)
            return 1;
    }
    if (element->nextAlternative && addFirst(owner, element->nextAlternative) != 0)
        return 1;
    return 0;
}

// ---- Compilation into parse states ---------------------------------------

namespace {

[[nodiscard]] int compileAlternatives(KaParseState* s, const KaBNFElement* a, KaParseState* x, KaParseState* owner,
                                      int required, int repeat) noexcept;

KaParseState* newState(KaParseState* owner, int reduceFallback)
{
    auto* state = new KaParseState();
    if (state == nullptr)
        return nullptr;
    owner->appendState(state);
    if (reduceFallback && (state->fallback = newTransition(0, nullptr, nullptr, KA_TRANSITION_REDUCE)) == nullptr)
        return nullptr;
    return state;
}

// The end of a production or group: goto x, or reduce when there is none.
KaStateTransition* exitTo(KaParseState* x)
{
    return newTransition(0, nullptr, x, x ? KA_TRANSITION_GOTO : KA_TRANSITION_REDUCE);
}

[[nodiscard]] int compileElement(KaParseState* s, const KaBNFElement* e, KaParseState* next,
                                 KaParseState* owner) noexcept
{
    if (e->kind == 0 && e->production == nullptr) {
        if (next == nullptr && (next = newState(owner, 1)) == nullptr)
            return 1;
        KaStateTransition* t = newTransition(e->code, e->text, next, KA_TRANSITION_SHIFT);
        if (t == nullptr)
            return 1;
        s->appendTransition(t);
        return 0;
    }
    if (e->kind == 0) {
        KaProduction* r = e->production;
        if (next == nullptr && (next = newState(owner, 1)) == nullptr)
            return 1;
        if (r->firstTokens == nullptr)
            return 1;
        for (const KaTokenNode* n = r->firstTokens; n != nullptr; n = n->next) {
            KaStateTransition* t = newTransition(n->code, n->text, r->startState, KA_TRANSITION_ENTER);
            if (t == nullptr)
                return 1;
            t->returnState = next;
            t->productionCode = r->code;
            s->appendTransition(t);
        }
        return 0;
    }
    if (e->content == nullptr)
        return 1;
    if (e->kind == 1)
        return compileAlternatives(s, e->content, next, owner, 0, 0);
    return compileAlternatives(s, e->content, next, owner, e->repeat != 1, e->repeat != 0);
}

[[nodiscard]] int compileSequence(KaParseState* n, const KaBNFElement* head, KaParseState* t,
                                  KaParseState* owner) noexcept
{
    KaParseState* currentState = n;
    for (const KaBNFElement* item = head; item != nullptr; item = item->nextInSequence) {
        KaParseState* after = t;
        if (item->nextInSequence && (after = newState(owner, 0)) == nullptr)
            return 1;
        if (compileElement(currentState, item, after, owner) != 0)
            return 1;
        currentState = after;
    }
    return 0;
}

// Bound on the fallback chain followed for lookahead; a chain may loop back.
constexpr int kLookaheadChain = 64;

int compileAlternatives(KaParseState* s, const KaBNFElement* a, KaParseState* x, KaParseState* owner, int required,
                        int repeat) noexcept
{
    delete s->fallback;
    s->fallback = nullptr;
    if (!required && (s->fallback = exitTo(x)) == nullptr)
        return 1;
    KaParseState* t = x;
    KaParseState* m = nullptr;
    if (repeat) {
        t = s;
        if (required) {
            if ((m = newState(owner, 0)) == nullptr)
                return 1;
            t = m;
        }
    }
    for (const KaBNFElement* alt = a; alt != nullptr; alt = alt->nextAlternative) {
        KaParseState* n = newState(owner, 0);
        if (n == nullptr || compileSequence(n, alt, t, owner) != 0)
            return 1;
        if (KaStateTransition::copyAsGotos(n->transitions, n, &s->transitions) != 0)
            return 1;
        if (n->fallback && n->fallback->kind == KA_TRANSITION_GOTO) {
            KaParseState* y = n->fallback->target;
            KaParseState* z = y;
            for (int hop = 0; z != nullptr && hop < kLookaheadChain; ++hop) {
                if (z != s && KaStateTransition::copyAsGotos(z->transitions, y, &s->transitions) != 0)
                    return 1;
                if (z->fallback == nullptr || z->fallback->kind != KA_TRANSITION_GOTO || z->fallback->target == z)
                    break;
                z = z->fallback->target;
            }
        }
    }
    if (m != nullptr) {
        if (KaStateTransition::copyList(s->transitions, &m->transitions) != 0 || (m->fallback = exitTo(x)) == nullptr)
            return 1;
    }
    return 0;
}

}  // namespace

int KaGrammar::read(const char* grammarText) noexcept
{
    if (keywords == nullptr || grammarText == nullptr || grammarText[0] == 0)
        return 1;
    keywords->setExactCase(1);
    for (size_t at = 0; grammarText[at] != 0;) {
        const char* rule = grammarText + at;
        size_t n = strlen(rule);
        KaLexer lexer(rule, encodingKind, keywords);
        if (lexer.usable() != 0)
            return 1;
        lexer.setQuoteChars(0, 0, 0);
        KaProduction* p = nullptr;
        if (readProduction(lexer, &p) != 0) {
            KaError* e = errPost(MSG_GRAMMAR_RULE_INVALID);
            if (e)
                e->addParamText(rule);
            delete p;
            return 1;
        }
        memcpy(&p->code, rule + n + 1, 2);
        if (productions == nullptr)
            productions = p;
        else
            productions->append(p);
        at += n + 3;
    }
    for (KaProduction* p = productions; p != nullptr; p = p->next)
        if (resolve(p->elements) != 0)
            return 1;
    keywords->setExactCase(0);
    for (KaProduction* p = productions; p != nullptr; p = p->next)
        if (computeFirst(p) != 0)
            return 1;
    for (KaProduction* p = productions; p != nullptr; p = p->next)
        if (compileAlternatives(p->startState, p->elements, nullptr, p->startState, 1, 0) != 0)
            return 1;
    if (findGoal() != 0) {
        KaError* e = errPost(MSG_GRAMMAR_GOAL_MISSING);
        if (e)
            e->addParamText(goalName ? goalName : "goal");
        return 1;
    }
    return 0;
}

// ---- Parse tree ----------------------------------------------------------

KaReduction::KaReduction() noexcept
    : isToken(0), code(0), text(nullptr), parent(nullptr), firstChild(nullptr), nextSibling(nullptr),
      prevSibling(nullptr)
{}

KaReduction::KaReduction(int16_t newCode, const char* newText) noexcept : KaReduction()
{
    code = newCode;
    isToken = newCode >= 1 && newCode < KA_FIRST_PRODUCTION_CODE ? 1 : 0;
    text = copyOf(newText);
}

KaReduction::~KaReduction()
{
    ramFree(text);
    KaReduction* child = firstChild;
    while (child != nullptr) {
        KaReduction* after = child->nextSibling;
        child->prevSibling = child->nextSibling = nullptr;
        child->parent = nullptr;
        delete child;
        child = after;
    }
    if (prevSibling)
        prevSibling->nextSibling = nextSibling;
    if (nextSibling)
        nextSibling->prevSibling = prevSibling;
    if (parent && parent->firstChild == this)
        parent->firstChild = nextSibling;
}

int KaReduction::setText(const char* newText) noexcept
{
    char* copy = copyOf(newText);
    if (newText != nullptr && copy == nullptr)
        return 1;
    ramFree(text);
    text = copy;
    return 0;
}

void KaReduction::setCode(int16_t newCode) noexcept
{
    code = newCode;
    isToken = newCode < KA_FIRST_PRODUCTION_CODE ? 1 : 0;
}

void KaReduction::appendChild(KaReduction* child) noexcept
{
    child->parent = this;
    child->nextSibling = nullptr;
    if (firstChild == nullptr) {
        firstChild = child;
        child->prevSibling = nullptr;
        return;
    }
    KaReduction* last = firstChild;
    while (last->nextSibling)
        last = last->nextSibling;
    last->nextSibling = child;
    child->prevSibling = last;
}

KaReduction* KaReduction::root() noexcept
{
    KaReduction* r = this;
    while (r->parent)
        r = r->parent;
    return r;
}

// ---- Parser --------------------------------------------------------------

namespace {

// Bounds of one parse: transitions tried in all, and nesting of the walk.
constexpr uint64_t kMaxSteps = 2000000;
constexpr uint32_t kMaxDepth = 5000;

enum ActionKind : int32_t { kActShift, kActEnter, kActReduce };

struct Action {
    int32_t kind;
    int16_t code;
    char* text;
};

struct Level {
    KaParseState* returnState;
    int16_t code;
};

struct Visit {
    const KaParseState* state;
    size_t stackDepth;
};

// A growable array of plain records from ramAlloc.
template <typename T>
struct Pile {
    T* items = nullptr;
    size_t count = 0;
    size_t capacity = 0;
    ~Pile() { ramFree(items); }
    [[nodiscard]] int push(const T& item)
    {
        if (count == capacity) {
            size_t grown = capacity ? capacity * 2 : 64;
            T* bigger = static_cast<T*>(ramAlloc(grown * sizeof(T)));
            if (bigger == nullptr)
                return 1;
            if (count)
                memcpy(bigger, items, count * sizeof(T));
            ramFree(items);
            items = bigger;
            capacity = grown;
        }
        items[count++] = item;
        return 0;
    }
};

}  // namespace

struct KaParser::Walk {
    KaParser* parser;
    KaLexer* lexer;
    Pile<Level> stack;
    Pile<Action> actions;
    int16_t code = 0;
    KaString text;
    uint64_t steps = 0;
    uint32_t depth = 0;
    // The states entered since the last token was consumed: coming back to
    // one at the same stack depth would go round without progress.
    Pile<Visit> chain;
    size_t chainBase = 0;
    // Where the walk got furthest before failing.
    int failed = 0;
    uint64_t furthest = 0;
    int16_t errorCode = 0;
    KaString errorText;
    const KaParseState* errorState = nullptr;
    Pile<int16_t> errorStack;

    ~Walk()
    {
        for (size_t i = 0; i < actions.count; ++i)
            ramFree(actions.items[i].text);
    }

    [[nodiscard]] int setToken(int16_t newCode, const char* newText)
    {
        code = newCode;
        return text.assign(newText ? newText : "", newText ? strlen(newText) : 0) != 0 ? 2 : 0;
    }

    void noteFailure(const KaParseState* state)
    {
        uint64_t at = lexer->tokenOffset();
        if (failed && at <= furthest)
            return;
        failed = 1;
        furthest = at;
        errorCode = code;
        errorState = state;
        if (errorText.assign(text.data ? text.data : "", text.len) != 0)
            errorText.len = 0;
        errorStack.count = 0;
        for (size_t i = 0; i < stack.count; ++i)
            if (errorStack.push(stack.items[i].code) != 0)
                break;
    }

    // 0 accepted, 1 this path fails, 2 the parse must stop.
    int visit(KaParseState* state, uint32_t freeSteps)
    {
        if (++steps > kMaxSteps || depth >= kMaxDepth) {
            (void)errPost(MSG_PARSE_TOO_COMPLEX);
            return 2;
        }
        for (size_t i = chainBase; i < chain.count; ++i)
            if (chain.items[i].state == state && chain.items[i].stackDepth == stack.count)
                return 1;
        if (chain.push(Visit{state, stack.count}) != 0)
            return 2;
        ++depth;
        int rc = 1;
        for (uint32_t alt = 0; rc == 1; ++alt) {
            KaStateTransition* t = nullptr;
            // A state without a list offers its fallback at every index:
            // it is one alternative.
            if ((alt > 0 && state->transitions == nullptr) || state->findTransition(code, text.data, &t, alt) != 0)
                break;
            rc = apply(t, freeSteps);
        }
        --depth;
        --chain.count;
        if (rc == 1)
            noteFailure(state);
        return rc;
    }

    int apply(KaStateTransition* t, uint32_t freeSteps)
    {
        switch (t->kind) {
        case KA_TRANSITION_ACCEPT: return 0;
        case KA_TRANSITION_GOTO: return visit(t->target, freeSteps + 1);
        case KA_TRANSITION_ENTER: {
            if (stack.push(Level{t->returnState, t->productionCode}) != 0 ||
                actions.push(Action{kActEnter, t->productionCode, nullptr}) != 0)
                return 2;
            int rc = visit(t->target, freeSteps + 1);
            if (rc == 1) {
                --actions.count;
                --stack.count;
            }
            return rc;
        }
        case KA_TRANSITION_REDUCE: {
            // The goal completes only at the end of the input.
            if (stack.count == 0 || (stack.count == 1 && code != KA_LEX_END))
                return 1;
            Level top = stack.items[--stack.count];
            if (actions.push(Action{kActReduce, top.code, nullptr}) != 0)
                return 2;
            int rc = visit(top.returnState, freeSteps + 1);
            if (rc == 1) {
                --actions.count;
                stack.items[stack.count++] = top;
            }
            return rc;
        }
        case KA_TRANSITION_SHIFT: return shift(t);
        }
        return 1;
    }

    int shift(KaStateTransition* t)
    {
        KaLexerPosition before;
        lexer->savePosition(&before);
        KaString savedText;
        int16_t savedCode = code;
        if (savedText.assign(text.data ? text.data : "", text.len) != 0)
            return 2;
        int16_t leafCode = code;
        const char* leafText = text.data;
        if (t->code == KA_LEX_LITERAL_CONTENTS) {
            if (!lexer->inLiteral())
                return 1;
            if (lexer->takeLiteralContents(&leafText) != 0)
                return 2;
            leafCode = KA_LEX_LITERAL_CONTENTS;
        }
        char* copy = copyOf(leafText ? leafText : "");
        if (copy == nullptr || actions.push(Action{kActShift, leafCode, copy}) != 0) {
            ramFree(copy);
            return 2;
        }
        int16_t nextCode = 0;
        const char* nextText = nullptr;
        int rc = 1;
        if (lexer->nextToken(&nextCode, &nextText) == 0) {
            if (setToken(nextCode, nextText) != 0)
                return 2;
            size_t base = chainBase;
            chainBase = chain.count;
            rc = visit(t->target, 0);
            chainBase = base;
        }
        if (rc == 1) {
            --actions.count;
            ramFree(actions.items[actions.count].text);
            if (lexer->restorePosition(before) != 0 || setToken(savedCode, savedText.data) != 0)
                return 2;
        }
        return rc;
    }
};

KaParser::KaParser() noexcept
    : valid(0), grammar(nullptr), keywords(nullptr), quotesSet(0), quote1(0), quote2(0), quote3(0),
      wordStartExtra(nullptr), wordExtra(nullptr), bothExtra(nullptr), errorOffset(0)
{}

KaParser::KaParser(const char* grammarText, const char* keywordText, uint32_t encodingKind) noexcept : KaParser()
{
    (void)setGrammar(grammarText, keywordText, encodingKind);
}

KaParser::KaParser(const GrammarItem* grammarItems, size_t grammarCount, const GrammarItem* keywordItems,
                   size_t keywordCount, uint32_t encodingKind) noexcept
    : KaParser()
{
    (void)setGrammar(grammarItems, grammarCount, keywordItems, keywordCount, encodingKind);
}

KaParser::~KaParser()
{
    release();
    ramFree(wordStartExtra);
    ramFree(wordExtra);
    ramFree(bothExtra);
}

void KaParser::release() noexcept
{
    delete grammar;
    delete keywords;
    grammar = nullptr;
    keywords = nullptr;
    valid = 0;
}

int KaParser::setGrammar(const char* grammarText, const char* keywordText, uint32_t encodingKind) noexcept
{
    release();
    keywords = new KaKeywordList();
    if (keywords == nullptr || keywords->load(keywordText) != 0) {
        release();
        return 1;
    }
    grammar = new KaGrammar(grammarText, keywords, encodingKind);
    valid = grammar ? grammar->valid : 0;
    if (!valid) {
        delete keywords;
        keywords = nullptr;
        if (grammar)
            grammar->keywords = nullptr;
        return 1;
    }
    return 0;
}

int KaParser::setGrammar(const GrammarItem* grammarItems, size_t grammarCount, const GrammarItem* keywordItems,
                         size_t keywordCount, uint32_t encodingKind) noexcept
{
    char* grammarText = kaWriteItemText(grammarItems, grammarCount);
    char* keywordText = keywordCount ? kaWriteItemText(keywordItems, keywordCount) : nullptr;
    int rc = grammarText == nullptr || (keywordCount && keywordText == nullptr)
                 ? (release(), 1)
                 : setGrammar(grammarText, keywordText, encodingKind);
    ramFree(grammarText);
    ramFree(keywordText);
    return rc;
}

void KaParser::setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    quotesSet = 1;
    quote1 = q1;
    quote2 = q2;
    quote3 = q3;
}

static int replaceChars(char** field, const char* chars)
{
    char* copy = copyOf(chars);
    if (chars != nullptr && copy == nullptr)
        return 1;
    ramFree(*field);
    *field = copy;
    return 0;
}

int KaParser::setWordStartChars(const char* chars) noexcept
{
    return replaceChars(&wordStartExtra, chars);
}

int KaParser::setWordChars(const char* chars) noexcept
{
    return replaceChars(&wordExtra, chars);
}

int KaParser::setBothChars(const char* chars) noexcept
{
    return replaceChars(&bothExtra, chars);
}

int KaParser::setGoal(const char* name) noexcept
{
    return grammar ? grammar->setGoal(name) : 1;
}

KaReduction* KaParser::makeReduction(int16_t productionCode, KaReduction* children) noexcept
{
    auto* node = new KaReduction(productionCode, nullptr);
    if (node == nullptr) {
        while (children) {
            KaReduction* after = children->nextSibling;
            children->prevSibling = children->nextSibling = nullptr;
            delete children;
            children = after;
        }
        return nullptr;
    }
    node->firstChild = children;
    for (KaReduction* c = children; c != nullptr; c = c->nextSibling)
        c->parent = node;
    return node;
}

int32_t KaParser::syntaxError(int16_t, const char*, int16_t, const char*, const KaStateTransition*) noexcept
{
    return 1;
}

int KaParser::parse(const char* input, KaReduction** result, uint32_t encodingKind) noexcept
{
    *result = nullptr;
    errorOffset = 0;
    KaProduction* goal = nullptr;
    if (!valid || grammar == nullptr || grammar->getGoal(&goal) != 0 || goal->startState == nullptr)
        return 1;
    KaParseState accept;
    if ((accept.fallback = newTransition(0, nullptr, nullptr, KA_TRANSITION_ACCEPT)) == nullptr)
        return 1;
    KaLexer lexer(input, encodingKind, keywords);
    if (lexer.usable() != 0)
        return 1;
    if (quotesSet)
        lexer.setQuoteChars(quote1, quote2, quote3);
    if ((wordStartExtra || wordExtra || bothExtra) && lexer.setExtraChars(wordStartExtra, wordExtra, bothExtra) != 0)
        return 1;
    Walk walk;
    walk.parser = this;
    walk.lexer = &lexer;
    int16_t firstCode = 0;
    const char* firstText = nullptr;
    if (walk.stack.push(Level{&accept, goal->code}) != 0)
        return 1;
    if (lexer.nextToken(&firstCode, &firstText) != 0) {
        errorOffset = lexer.tokenOffset();
        return 1;
    }
    if (walk.setToken(firstCode, firstText) != 0)
        return 1;
    int rc = walk.visit(goal->startState, 0);
    if (rc == 2)
        return 1;
    if (rc == 1) {
        errorOffset = walk.furthest;
        const KaStateTransition* expected = walk.errorState ? walk.errorState->transitions : nullptr;
        for (size_t i = 0; i < walk.errorStack.count; ++i) {
            int16_t level = walk.errorStack.items[i];
            if (syntaxError(walk.errorCode, walk.errorText.data ? walk.errorText.data : "", level,
                            goal->nameOfCode(level), expected) != 0)
                break;
        }
        return 1;
    }
    // The path that reached the end: build the tree from it once.
    Pile<KaReduction*> open;
    Pile<int16_t> codes;
    KaReduction* w = new KaReduction();
    if (w == nullptr || codes.push(goal->code) != 0) {
        delete w;
        return 1;
    }
    auto fail = [&]() {
        delete w;
        for (size_t i = 0; i < open.count; ++i)
            delete open.items[i];
        return 1;
    };
    for (size_t i = 0; i < walk.actions.count; ++i) {
        const Action& a = walk.actions.items[i];
        if (a.kind == kActEnter) {
            if (open.push(w) != 0 || codes.push(a.code) != 0)
                return fail();
            if ((w = new KaReduction()) == nullptr)
                return fail();
        } else if (a.kind == kActShift) {
            std::unique_ptr<KaReduction> leaf(new KaReduction(a.code, a.text));
            if (leaf == nullptr || leaf->text == nullptr)
                return fail();
            w->appendChild(leaf.release());
        } else {
            KaReduction* children = w->firstChild;
            w->firstChild = nullptr;
            int16_t level = codes.count ? codes.items[--codes.count] : goal->code;
            KaReduction* node = makeReduction(level, children);
            delete w;
            w = nullptr;
            if (node == nullptr)
                return fail();
            if (open.count > 0) {
                w = open.items[--open.count];
                w->appendChild(node);
            } else {
                w = node;
            }
        }
    }
    *result = w;
    return 0;
}
