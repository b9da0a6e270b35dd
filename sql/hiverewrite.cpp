#include "sql/hiverewrite.h"

#include "kamessages.h"
#include "sql/basesql.h"
#include "sql/hiveescape.h"
#include "sql/sqlpost.h"

namespace {

bool isBlank(uint16_t u) noexcept
{
    return u == ' ' || u == '\t' || u == '\n' || u == '\v' || u == '\f' || u == '\r';
}

bool isLetter(uint16_t u) noexcept
{
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool isDigit(uint16_t u) noexcept
{
    return u >= '0' && u <= '9';
}

struct Keyword {
    const char* word;
    uint32_t code;
};

const Keyword kKeywords[] = {
    {"ON", 11},      {"AS", 12},     {"BY", 13},       {"OR", 14},         {"IS", 15},     {"AND", 16},
    {"ALL", 17},     {"ASC", 18},    {"NOT", 19},      {"END", 20},        {"SET", 21},    {"FROM", 22},
    {"FULL", 23},    {"JOIN", 24},   {"LEFT", 25},     {"LIKE", 26},       {"NULL", 27},   {"SEMI", 28},
    {"SORT", 29},    {"CAST", 30},   {"DESC", 31},     {"RIGHT", 32},      {"OUTER", 33},  {"CROSS", 34},
    {"UNION", 35},   {"GROUP", 36},  {"LIMIT", 37},    {"WHERE", 38},      {"TABLE", 39},  {"SELECT", 40},
    {"INSERT", 41},  {"UPDATE", 42}, {"DELETE", 43},   {"HAVING", 44},     {"CREATE", 45}, {"CLUSTER", 46},
    {"BETWEEN", 47}, {"CASE", 48},   {"DISTINCT", 49}, {"DISTRIBUTE", 50}, {"INTO", 51},   {"VALUES", 52},
};

bool sameWord(const uint16_t* text, size_t n, const char* word) noexcept
{
    size_t i = 0;
    for (; i < n && word[i] != 0; ++i) {
        uint16_t u = text[i];
        if (u >= 'a' && u <= 'z')
            u = uint16_t(u - 32);
        if (u != uint16_t(uint8_t(word[i])))
            return false;
    }
    return i == n && word[i] == 0;
}

// The bracket run starting at `at` (an open bracket): the index after its
// close bracket, nested brackets counted; `end` when it is not closed.
size_t bracketRunEnd(const uint16_t* in, size_t at, size_t end) noexcept
{
    size_t depth = 0;
    for (size_t i = at; i < end; ++i) {
        if (in[i] == '[')
            ++depth;
        else if (in[i] == ']' && --depth == 0)
            return i + 1;
    }
    return end;
}

}  // namespace

HiveSqlRewriter::HiveSqlRewriter(uint32_t removeQualifiers, uint32_t quote, uint32_t delimitedIds) noexcept
    : removeColumnQualifiers(removeQualifiers), quoteAliases(quote), parseDelimitedIds(delimitedIds)
{}

HiveSqlRewriter::~HiveSqlRewriter() = default;

void HiveSqlRewriter::emit(const uint16_t* text, size_t n) noexcept
{
    if (error == 0 && output->append(text, n) != 0)
        error = 1;
}

void HiveSqlRewriter::emitAscii(const char* text) noexcept
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    if (error == 0 && output->appendNarrow(text, n) != 0)
        error = 1;
}

// Every output position held moves with an edit of the output.
void HiveSqlRewriter::moveMarks(size_t at, int64_t by) noexcept
{
    size_t* marks[] = {&tokenStart,     &tokenEnd,     &tableMarkStart, &tableMarkEnd,
                       &candidateStart, &candidateEnd, &insertNameStart};
    for (size_t* m : marks)
        if (*m >= at)
            *m = size_t(int64_t(*m) + by);
}

void HiveSqlRewriter::insertAt(size_t at, const uint16_t* text, size_t n) noexcept
{
    if (error != 0)
        return;
    if (output->replace(at, 0, text, n) != 0) {
        error = 1;
        return;
    }
    moveMarks(at, int64_t(n));
}

void HiveSqlRewriter::eraseAt(size_t at, size_t n) noexcept
{
    if (error != 0 || n == 0)
        return;
    if (output->replace(at, n, nullptr, 0) != 0) {
        error = 1;
        return;
    }
    size_t* marks[] = {&tokenStart,     &tokenEnd,     &tableMarkStart, &tableMarkEnd,
                       &candidateStart, &candidateEnd, &insertNameStart};
    for (size_t* m : marks) {
        if (*m >= at + n)
            *m -= n;
        else if (*m > at)
            *m = at;
    }
}

void HiveSqlRewriter::scanToken() noexcept
{
    afterJoin = token == KA_RW_JOIN ? 1 : 0;
    token = KA_RW_OTHER;
    const uint16_t* in = input;
    auto copyBlanks = [&]() noexcept {
        size_t from = position;
        while (position < inputEnd && isBlank(in[position]))
            ++position;
        emit(in + from, position - from);
    };
    copyBlanks();
    if (position < inputEnd && position + 1 < inputEnd) {
        size_t from = position;
        if (in[position] == '/' && in[position + 1] == '*') {
            position += 2;
            while (position < inputEnd && !(in[position] == '*' && position + 1 < inputEnd && in[position + 1] == '/'))
                ++position;
            position = position < inputEnd ? position + 2 : inputEnd;
        } else if (in[position] == '-' && in[position + 1] == '-') {
            while (position < inputEnd && in[position] != '\n')
                ++position;
            if (position < inputEnd)
                ++position;
        }
        if (position != from) {
            emit(in + from, position - from);
            copyBlanks();
        }
    }
    tokenStart = output->len;
    if (position >= inputEnd) {
        token = KA_RW_END;
        tokenEnd = output->len;
        return;
    }
    const size_t start = position;
    const uint16_t u = in[position++];
    auto next = [&](uint16_t c) noexcept {
        if (position < inputEnd && in[position] == c) {
            ++position;
            return true;
        }
        return false;
    };
    auto quotedTo = [&](uint16_t q, uint32_t closed, bool doubled) noexcept {
        while (position < inputEnd) {
            if (in[position] == q) {
                if (doubled && position + 1 < inputEnd && in[position + 1] == q) {
                    position += 2;
                    continue;
                }
                ++position;
                token = closed;
                return;
            }
            ++position;
        }
        token = KA_RW_OTHER;
    };
    // A bracket right after a name, a close parenthesis or another bracket
    // is a subscript (arr[0], m['k']), not a delimited name.
    const bool subscript = u == '[' && start > 0 &&
                           (in[start - 1] == ')' || in[start - 1] == ']' || in[start - 1] == '`' ||
                            in[start - 1] == '_' || isLetter(in[start - 1]) || isDigit(in[start - 1]));
    switch (u) {
    case '(': token = KA_RW_OPEN; break;
    case ')': token = KA_RW_CLOSE; break;
    case '.': token = KA_RW_PERIOD; break;
    case ',': token = KA_RW_COMMA; break;
    case '?': token = KA_RW_MARKER; break;
    case '*': token = KA_RW_ASTERISK; break;
    case '&': token = next('&') ? KA_RW_LOGICAL : KA_RW_ARITHMETIC; break;
    case '|': token = next('|') ? KA_RW_LOGICAL : KA_RW_ARITHMETIC; break;
    case '+':
    case '-':
    case '/':
    case '%':
    case '^': token = KA_RW_ARITHMETIC; break;
    case '~':
    case '!': token = KA_RW_NEGATION; break;
    case '=': token = KA_RW_COMPARISON; break;
    case '>':
        next('=');
        token = KA_RW_COMPARISON;
        break;
    case '<':
        if (next('='))
            next('>');
        else
            next('>');
        token = KA_RW_COMPARISON;
        break;
    case '\'': quotedTo('\'', KA_RW_STRING, true); break;
    case '"': quotedTo('"', KA_RW_QUOTED, false); break;
    case '`': quotedTo('`', KA_RW_IDENTIFIER, false); break;
    case '{': {
        size_t depth = 1;
        token = KA_RW_OTHER;
        while (position < inputEnd) {
            uint16_t c = in[position];
            if (c == '{') {
                ++depth;
            } else if (c == '\'') {
                ++position;
                while (position < inputEnd && in[position] != '\'')
                    ++position;
                if (position >= inputEnd)
                    break;
            } else if (c == '}' && --depth == 0) {
                token = KA_RW_BRACED;
                break;
            }
            ++position;
        }
        break;
    }
    default:
        if (u == '[' && subscript) {
            position = bracketRunEnd(in, start, inputEnd);
            token = KA_RW_OTHER;
        } else if (u == '[' && parseDelimitedIds != 0) {
            token = KA_RW_OTHER;
            while (position < inputEnd) {
                if (in[position] == ']') {
                    if (position + 1 < inputEnd && in[position + 1] == ']') {
                        position += 2;
                        continue;
                    }
                    ++position;
                    token = KA_RW_BRACKETED;
                    break;
                }
                ++position;
            }
            if (token == KA_RW_BRACKETED && afterJoin != 0) {
                afterJoin = 0;
                size_t n = position - start - 2;
                if ((n == 7 && sameWord(in + start + 1, n, "SHUFFLE")) ||
                    (n == 9 && sameWord(in + start + 1, n, "BROADCAST")))
                    token = KA_RW_JOIN_HINT;
            }
        } else if (isDigit(u)) {
            while (position < inputEnd && (isDigit(in[position]) || in[position] == '.' || in[position] == 'e' ||
                                           in[position] == 'E' || in[position] == '-'))
                ++position;
            token = KA_RW_NUMBER;
        } else if (isLetter(u)) {
            bool lettersOnly = true;
            while (position < inputEnd) {
                uint16_t c = in[position];
                if (isLetter(c)) {
                    ++position;
                } else if (isDigit(c) || c == '_') {
                    lettersOnly = false;
                    ++position;
                } else if (c == '[') {
                    lettersOnly = false;
                    position = bracketRunEnd(in, position, inputEnd);
                } else {
                    break;
                }
            }
            token = KA_RW_IDENTIFIER;
            size_t n = position - start;
            if (lettersOnly && n >= 2 && n <= 10)
                for (const Keyword& k : kKeywords)
                    if (sameWord(in + start, n, k.word)) {
                        token = k.code;
                        break;
                    }
            if (token == KA_RW_SELECT)
                selectSeen = 1;
        } else {
            token = KA_RW_OTHER;
        }
        break;
    }
    if (token == KA_RW_OTHER &&
        (u == '\'' || u == '"' || u == '`' || u == '{' || (u == '[' && !subscript && parseDelimitedIds != 0)))
        position = inputEnd;  // unclosed: the rest of the input
    if (token == KA_RW_BRACKETED) {
        emitAscii("`");
        for (size_t i = start + 1; i + 1 < position; ++i) {
            if (in[i] == ']' && i + 1 < position - 1 && in[i + 1] == ']')
                ++i;
            if (in[i] == '`')
                emitAscii("`");  // a back-quote inside the name is written doubled
            emit(in + i, 1);
        }
        emitAscii("`");
        token = KA_RW_IDENTIFIER;
    } else {
        emit(in + start, position - start);
    }
    tokenEnd = output->len;
}

int HiveSqlRewriter::accept(uint32_t code) noexcept
{
    if (token != code)
        return 0;
    scanToken();
    return error == 0 ? 1 : 0;
}

int HiveSqlRewriter::qualifiedName() noexcept
{
    size_t first = tokenStart;
    if (!accept(KA_RW_IDENTIFIER))
        return 0;
    if (token != KA_RW_PERIOD)
        return 1;
    size_t firstPeriodEnd = tokenEnd;
    accept(KA_RW_PERIOD);
    if (!accept(KA_RW_IDENTIFIER) && !accept(KA_RW_ASTERISK))
        return 0;
    if (token != KA_RW_PERIOD)
        return 1;
    accept(KA_RW_PERIOD);
    if (!accept(KA_RW_IDENTIFIER) && !accept(KA_RW_ASTERISK))
        return 0;
    if (removeColumnQualifiers != 0)
        removeQualifier(first, firstPeriodEnd);
    return 1;
}

int HiveSqlRewriter::tableName() noexcept
{
    tableMarkStart = tokenStart;
    tableMarkEnd = tokenEnd;
    if (!accept(KA_RW_IDENTIFIER))
        return 0;
    if (token == KA_RW_PERIOD) {
        accept(KA_RW_PERIOD);
        tableMarkStart = tokenStart;
        tableMarkEnd = tokenEnd;
        if (!accept(KA_RW_IDENTIFIER))
            return 0;
    }
    return 1;
}

int HiveSqlRewriter::acceptAlias() noexcept
{
    if (token == KA_RW_AS) {
        accept(KA_RW_AS);
        return accept(KA_RW_IDENTIFIER);
    }
    return accept(KA_RW_IDENTIFIER);
}

int HiveSqlRewriter::tableReference() noexcept
{
    if (token == KA_RW_IDENTIFIER) {
        if (!tableName())
            return 0;
        if (selectSeen != 0 && !acceptAlias())
            duplicateTableAlias();
        return 1;
    }
    if (subquery() && selectSeen != 0)
        return acceptAlias();
    return 0;
}

int HiveSqlRewriter::tableSource() noexcept
{
    return tableReference() || fromClause();
}

int HiveSqlRewriter::fromClause() noexcept
{
    if (!accept(KA_RW_FROM))
        return 0;
    if (!tableSource())
        return 0;
    while (token == KA_RW_COMMA && error == 0) {
        replaceCommaWithJoin();
        accept(KA_RW_COMMA);
        if (!tableReference())
            return 0;
    }
    return 1;
}

int HiveSqlRewriter::joinClause() noexcept
{
    scanToken();
    if (token == KA_RW_JOIN_HINT)
        scanToken();
    if (token != KA_RW_IDENTIFIER)
        return tableSource();
    if (!tableName())
        return 0;
    if (!acceptAlias() && selectSeen != 0)
        duplicateTableAlias();
    while (token == KA_RW_COMMA && error == 0) {
        replaceCommaWithJoin();
        accept(KA_RW_COMMA);
        if (!tableReference())
            return 0;
    }
    return 1;
}

int HiveSqlRewriter::subquery() noexcept
{
    if (!accept(KA_RW_OPEN))
        return 0;
    const int isQuery = accept(KA_RW_SELECT);
    size_t depth = 1;
    size_t listDepth = 0;
    int count = 0;
    bool afterFrom = false;
    while (depth > 0) {
        if (error != 0 || token == KA_RW_END)
            return 0;
        if (afterFrom || !isQuery) {
            switch (token) {
            case KA_RW_IDENTIFIER: qualifiedName(); continue;
            case KA_RW_UNION:
                scanToken();
                accept(17);
                if (accept(KA_RW_SELECT)) {
                    afterFrom = false;
                    count = 0;
                    listDepth = 0;
                }
                continue;
            case KA_RW_FROM:
                afterFrom = true;
                fromClause();
                continue;
            case KA_RW_JOIN: joinClause(); continue;
            case KA_RW_CLOSE: --depth; break;
            case KA_RW_OPEN: ++depth; break;
            default: break;
            }
            scanToken();
            continue;
        }
        switch (token) {
        case KA_RW_IDENTIFIER:
            candidateStart = tokenStart;
            candidateEnd = tokenEnd;
            qualifiedName();
            ++count;
            continue;
        case KA_RW_OPEN:
            ++depth;
            ++listDepth;
            count = 0;
            break;
        case KA_RW_CLOSE:
            --depth;
            if (listDepth > 0)
                --listDepth;
            count = 1;
            break;
        case KA_RW_STRING:
        case KA_RW_QUOTED:
        case KA_RW_BRACED:
        case KA_RW_NUMBER: count = 1; break;
        case KA_RW_ARITHMETIC:
        case KA_RW_LOGICAL:
        case KA_RW_ASTERISK:
        case KA_RW_AND: count = 0; break;
        case KA_RW_COMMA:
            if (listDepth == 0 && count == 2 && quoteAliases != 0)
                quoteAlias(candidateStart, candidateEnd);
            if (listDepth == 0)
                count = 0;
            break;
        case KA_RW_FROM:
            if (listDepth == 0 && count == 2 && quoteAliases != 0)
                quoteAlias(candidateStart, candidateEnd);
            count = 0;
            afterFrom = true;
            fromClause();
            continue;
        default: break;
        }
        scanToken();
    }
    return error == 0 ? isQuery : 0;
}

int HiveSqlRewriter::rewriteInsertValues() noexcept
{
    scanToken();
    if (token != KA_RW_INTO)
        return 0;
    // INSERT INTO [TABLE] name VALUES (...) becomes INSERT INTO TABLE name
    // SELECT ... FROM (SELECT COUNT(*) FROM name) TEMP_ALIAS.
    static const uint16_t kTable[] = {' ', 'T', 'A', 'B', 'L', 'E', ' '};
    const size_t intoEnd = tokenEnd;
    scanToken();
    insertAt(intoEnd, kTable, 7);
    insertNameStart = intoEnd + 7;
    if (token == KA_RW_TABLE) {
        // The word and the blank before it: TABLE has been written already.
        size_t from = tokenStart > insertNameStart && output->data[tokenStart - 1] == ' ' ? tokenStart - 1 : tokenStart;
        eraseAt(from, tokenEnd - from);
        scanToken();
    }
    if (token != KA_RW_IDENTIFIER) {
        error = 1;
        return 0;
    }
    scanToken();
    if (token == KA_RW_PERIOD) {
        scanToken();
        if (token != KA_RW_IDENTIFIER) {
            error = 1;
            return 0;
        }
        scanToken();
    }
    if (token != KA_RW_VALUES) {
        error = 1;
        return 0;
    }
    eraseAt(tokenStart, tokenEnd - tokenStart);
    const size_t nameStart = insertNameStart;
    const size_t nameLength = tokenStart - nameStart;
    scanToken();
    if (token != KA_RW_OPEN) {
        error = 1;
        return 0;
    }
    eraseAt(tokenStart, tokenEnd - tokenStart);
    static const uint16_t kSelect[] = {'S', 'E', 'L', 'E', 'C', 'T', ' '};
    insertAt(tokenStart, kSelect, 7);
    // The values end at the parenthesis that matches the opening one; one
    // row only.
    size_t depth = 1;
    for (;;) {
        scanToken();
        if (error != 0)
            return 0;
        if (token == KA_RW_END) {
            incomplete = 1;
            error = 1;
            return 0;
        }
        if (token == KA_RW_OPEN)
            ++depth;
        else if (token == KA_RW_CLOSE && --depth == 0)
            break;
    }
    eraseAt(tokenStart, tokenEnd - tokenStart);
    KaStringW name;
    if (name.append(output->data + nameStart, nameLength) != 0) {
        error = 1;
        return 0;
    }
    emitAscii(" FROM (SELECT COUNT(*) FROM ");
    emit(name.data, name.len);
    emitAscii(") TEMP_ALIAS");
    tokenStart = tokenEnd = output->len;
    scanToken();
    // Several rows, or anything else after the list, cannot follow the
    // subquery: leave the statement to the server as written.
    if (token != KA_RW_END)
        error = 1;
    return 1;
}

void HiveSqlRewriter::replaceCommaWithJoin() noexcept
{
    static const uint16_t kJoin[] = {' ', 'J', 'O', 'I', 'N', ' '};
    size_t at = tokenStart;
    eraseAt(at, tokenEnd - tokenStart);
    insertAt(at, kJoin, 6);
    tokenStart = at;
    tokenEnd = at + 6;
}

void HiveSqlRewriter::removeQualifier(size_t start, size_t end) noexcept
{
    static const uint16_t kBlank[] = {' '};
    eraseAt(start, end - start);
    insertAt(start, kBlank, 1);
}

void HiveSqlRewriter::duplicateTableAlias() noexcept
{
    if (tableMarkEnd <= tableMarkStart)
        return;
    KaStringW alias;
    if (alias.appendChar(' ') != 0 || alias.append(output->data + tableMarkStart, tableMarkEnd - tableMarkStart) != 0) {
        error = 1;
        return;
    }
    insertAt(tableMarkEnd, alias.data, alias.len);
    tableMarkStart = tableMarkEnd = 0;
}

void HiveSqlRewriter::quoteAlias(size_t start, size_t end) noexcept
{
    if (end <= start || error != 0)
        return;
    uint16_t first = output->data[start];
    if (first == '`')
        return;
    if (first == '"' || first == '\'') {
        // Only an alias after AS comes here in quotes; its text must not hold
        // a back-quote, which would end the name early.
        for (size_t i = start + 1; i + 1 < end; ++i)
            if (output->data[i] == '`')
                return;
        output->data[start] = '`';
        output->data[end - 1] = '`';
        return;
    }
    static const uint16_t kQuote[] = {'`'};
    insertAt(end, kQuote, 1);
    insertAt(start, kQuote, 1);
}

int HiveSqlRewriter::rewrite(const uint16_t* begin, const uint16_t* end, KaStringW& out) noexcept
{
    error = 0;
    afterJoin = 0;
    selectSeen = 0;
    incomplete = 0;
    token = KA_RW_OTHER;
    tableMarkStart = tableMarkEnd = tokenStart = tokenEnd = candidateStart = candidateEnd = insertNameStart = 0;
    if (begin == nullptr || end < begin)
        return kHiveRewriteUnchanged;
    input = begin;
    position = 0;
    inputEnd = size_t(end - begin);
    output = &out;
    out.len = 0;
    if (out.allocate(inputEnd * 2 < 200 ? 200 : inputEnd * 2) != 0)
        return kHiveRewriteUnchanged;
    out.len = 0;

    scanToken();
    switch (token) {
    case KA_RW_SELECT: scanToken(); break;
    case KA_RW_INSERT: rewriteInsertValues(); break;
    case KA_RW_UPDATE:
        scanToken();
        if (!tableSource() || token != KA_RW_SET)
            error = 1;
        break;
    case KA_RW_DELETE:
        scanToken();
        if (token != KA_RW_FROM)
            error = 1;
        else {
            scanToken();
            if (!tableSource())
                error = 1;
        }
        break;
    default: error = 1; break;
    }

    bool listMode = selectSeen != 0;
    int count = 0;
    bool afterCast = false;
    size_t caseDepth = 0;
    size_t listDepth = 0;
    while (token != KA_RW_END && error == 0) {
        listMode = listMode && selectSeen != 0;
        if (!listMode) {
            if (selectSeen != 0 && token == KA_RW_SELECT) {
                // A later SELECT (INSERT ... SELECT, UNION) starts a new list.
                listMode = true;
                count = 0;
                listDepth = 0;
                scanToken();
                continue;
            }
            switch (token) {
            case KA_RW_IDENTIFIER: qualifiedName(); break;
            case KA_RW_FROM: fromClause(); break;
            case KA_RW_JOIN: joinClause(); break;
            default: scanToken(); break;
            }
            continue;
        }
        switch (token) {
        case KA_RW_IDENTIFIER:
            candidateStart = tokenStart;
            candidateEnd = tokenEnd;
            qualifiedName();
            count = afterCast ? 0 : count + 1;
            afterCast = false;
            previousWasAs = false;
            continue;
        case KA_RW_QUOTED:
        case KA_RW_STRING:
            // A quoted text is an alias only right after AS; anywhere else
            // it is a literal and is left alone.
            if (count >= 1 && previousWasAs) {
                candidateStart = tokenStart;
                candidateEnd = tokenEnd;
                count = 2;
            } else {
                count = 1;
            }
            break;
        case KA_RW_BRACED:
        case KA_RW_NUMBER: count = 1; break;
        case KA_RW_ARITHMETIC:
        case KA_RW_LOGICAL:
        case KA_RW_COMPARISON:
        case KA_RW_NEGATION:
        case KA_RW_ASTERISK:
        case KA_RW_AND: count = 0; break;
        case KA_RW_AS: break;
        case KA_RW_CAST: afterCast = true; break;
        case KA_RW_OPEN:
            ++listDepth;
            count = 0;
            break;
        case KA_RW_CLOSE:
            if (listDepth > 0)
                --listDepth;
            count = 1;
            break;
        case KA_RW_CASE: ++caseDepth; break;
        case KA_RW_END_WORD:
            if (caseDepth > 0) {
                --caseDepth;
                count = 1;
            } else {
                candidateStart = tokenStart;
                candidateEnd = tokenEnd;
                ++count;
            }
            break;
        case KA_RW_COMMA:
            if (listDepth == 0) {
                if (count == 2 && quoteAliases != 0)
                    quoteAlias(candidateStart, candidateEnd);
                count = 0;
                afterCast = false;
            }
            break;
        case KA_RW_FROM:
            if (listDepth == 0) {
                if (count == 2 && quoteAliases != 0)
                    quoteAlias(candidateStart, candidateEnd);
                count = 0;
                listMode = false;
                fromClause();
                continue;
            }
            break;
        default: break;
        }
        previousWasAs = token == KA_RW_AS;
        scanToken();
        continue;
    }
    if (incomplete != 0) {
        sqlPostSyntaxError(MSG_STATEMENT_INCOMPLETE);
        return kHiveRewriteRefused;
    }
    return error != 0 ? kHiveRewriteUnchanged : kHiveRewriteDone;
}

int hivePreprocessSql(BaseSqlStringW& text, const HiveRewriteOptions& options) noexcept
{
    hiveTrimStatement(text);
    if (options.enableSqlParser == 0)
        return 0;
    HiveSqlRewriter rewriter(options.removeColumnQualifiers, options.quoteAliases, options.parseDelimitedIds);
    KaStringW rewritten;
    int rc = rewriter.rewrite(text.data, text.data + text.len, rewritten);
    if (rc == kHiveRewriteRefused)
        return 1;
    if (rc != kHiveRewriteDone)
        return 0;
    text.clear();
    return text.assign(rewritten.data, rewritten.len) != 0 ? 1 : 0;
}
