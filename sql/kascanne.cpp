// The UTF-16 tokenizer.
#include "sql/kascanne.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include "foundation/kaarray.h"
#include "foundation/kastr.h"

const uint32_t kaOperatorTable[kaOperatorCount] = {
    0x3F,   0x2C,   0x28,   0x29,   0x2E,                          // ? , ( ) .
    0x3D,   0x3D3D, 0x3D2A, 0x3D3C, 0x3D3E,                        // = == =* =< =>
    0x2B,   0x2B2B,                                                // + ++
    0x26,   0x2626,                                                // & &&
    0x7C,   0x7C7C,                                                // | ||
    0x2D,   0x2D2D,                                                // - --
    0x2F,   0x2F2F,                                                // / //
    0x2A,   0x2A2A, 0x2A3D,                                        // * ** *=
    0x3E,   0x3E3D,                                                // > >=
    0x3C,   0x3C3D, 0x3C3E,                                        // < <= <>
    0x21,   0x213D, 0x213C, 0x213E,                                // ! != !< !>
    0x3B,   0x3A,   0x7B,   0x7D,   0x24,   0x23,   0x25,   0x40,  // ; : { } $ # % @
    0x22,   0x27,   0x60,                                          // " ' `
    0,                                                             // NUL
};

uint32_t kaOperatorLookup(uint32_t ch, uint32_t next, int* width) noexcept
{
    *width = 1;
    for (uint16_t i = 0; i < kaOperatorCount; ++i) {
        if (kaOperatorTable[i] != ch)
            continue;
        for (uint16_t j = i + 1; j < kaOperatorCount; ++j) {
            uint32_t entry = kaOperatorTable[j];
            if (entry <= 0xFF || (entry >> 8) != ch)
                break;
            if ((entry & 0xFF) == next) {
                *width = 2;
                return entry;
            }
        }
        return ch;
    }
    return KA_TOKEN_OTHER;
}

namespace {

bool isWhite(uint32_t ch)
{
    return u_isWhitespace(UChar32(ch)) != 0;
}

bool isLetter(uint32_t ch)
{
    return u_isalpha(UChar32(ch)) != 0;
}

bool isLetterOrDigit(uint32_t ch)
{
    if (ch < 0x80)
        return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
    return u_isalnum(UChar32(ch)) != 0;
}

// Digits are judged by the single unit.
bool isDigitUnit(uint32_t ch)
{
    return ch <= 0xFFFF && u_isdigit(UChar32(ch)) != 0;
}

bool isRunStop(uint32_t ch)
{
    return ch == ',' || ch == '(' || ch == ')' || ch == '|';
}

bool isCommentStart(uint32_t ch, uint32_t next)
{
    return (ch == '-' && next == '-') || (ch == '/' && next == '*');
}

bool wordsEqual(const uint16_t* a, size_t alen, const uint16_t* b, size_t blen, bool exact)
{
    if (alen != blen)
        return false;
    if (alen == 0)
        return true;
    if (exact)
        return strEqualMemW(a, b, alen) != 0;
    return strEqualNoCaseNNW(a, alen, b, blen) != 0;
}

}  // namespace

// ---- KaTokenW ---------------------------------------------------------------

KaTokenW::KaTokenW(const uint16_t* text, size_t length, int64_t startOffset) noexcept
    : KaSubStringW(text, length), kind(KA_TOKEN_NONE), start(startOffset)
{
}

KaTokenW::~KaTokenW() = default;

// ---- construction and input -------------------------------------------------

KaScannerW::KaScannerW() noexcept
{
    setInput(nullptr, 0);
    resetOptions();
}

KaScannerW::KaScannerW(const uint16_t* text, uint64_t count) noexcept
{
    setInput(text, count);
    resetOptions();
}

KaScannerW::KaScannerW(const uint16_t* terminated) noexcept
{
    setInput(terminated, terminated != nullptr ? strLenW(terminated) : 0);
    resetOptions();
}

KaScannerW::KaScannerW(const KaSubStringW& text) noexcept
{
    setInput(text.data, text.data != nullptr ? text.len : 0);
    resetOptions();
}

KaScannerW::KaScannerW(KaStringW* editable) noexcept
{
    if (editable != nullptr)
        bindString(*editable);
    else
        setInput(nullptr, 0);
    resetOptions();
}

KaScannerW::~KaScannerW() = default;

void KaScannerW::setInput(const uint16_t* text, uint64_t count) noexcept
{
    input = text;
    length = text != nullptr ? count : 0;
    position = 0;
    lastCharLength = 0;
    atEnd = 0;
    decimalNumbers = 1;
    bound = nullptr;
}

void KaScannerW::bindString(KaStringW& editable) noexcept
{
    bound = &editable;
    reload();
    position = 0;
    lastCharLength = 0;
    atEnd = 0;
    decimalNumbers = 1;
}

void KaScannerW::reload() noexcept
{
    input = bound->data;
    length = bound->data != nullptr ? bound->len : 0;
}

void KaScannerW::resetOptions() noexcept
{
    quoteChar1 = '\'';
    quoteChar2 = '"';
    quoteChar3 = '`';
    braceGroups = 0;
    parenGroups = 0;
    bracketGroups = 0;
    returnComments = 0;
    skipComments = 0;
    groupOpen = kaNoGroup;
    bracedItems = 0;
}

namespace {

int fillSet(KaStringW& set, const KaSubStringW& characters)
{
    set.len = 0;
    if (characters.data == nullptr || characters.len == 0)
        return 0;
    return set.assign(characters.data, characters.len) != 0 ? 1 : 0;
}

}  // namespace

int KaScannerW::setWordStartChars(const KaSubStringW& characters) noexcept
{
    return fillSet(wordStartChars, characters);
}

int KaScannerW::setWordChars(const KaSubStringW& characters) noexcept
{
    return fillSet(wordChars, characters);
}

// ---- characters -------------------------------------------------------------

uint32_t KaScannerW::readChar() noexcept
{
    if (position >= length) {
        atEnd = 1;
        lastCharLength = 0;
        return 0;
    }
    uint16_t unit = input[position];
    // A high surrogate takes the unit after it along, but never one beyond
    // the input.
    if (U16_IS_LEAD(unit) && position + 1 < length) {
        uint16_t trail = input[position + 1];
        lastCharLength = 2;
        position += 2;
        return U16_IS_TRAIL(trail) ? uint32_t(U16_GET_SUPPLEMENTARY(unit, trail)) : unit;
    }
    lastCharLength = 1;
    position += 1;
    return unit;
}

void KaScannerW::unreadChar() noexcept
{
    position -= lastCharLength;
    lastCharLength = 0;
    atEnd = 0;
}

uint16_t KaScannerW::peekUnit() const noexcept
{
    return position < length ? input[position] : 0;
}

bool KaScannerW::isQuote(uint32_t ch) const noexcept
{
    return ch == quoteChar1 || ch == quoteChar2 || ch == quoteChar3;
}

bool KaScannerW::inSet(const KaStringW& set, uint32_t ch) const noexcept
{
    if (set.data == nullptr)
        return false;
    for (size_t i = 0; i < set.len; ++i) {
        uint32_t c = set.data[i];
        if (U16_IS_LEAD(c) && i + 1 < set.len && U16_IS_TRAIL(set.data[i + 1])) {
            c = U16_GET_SUPPLEMENTARY(c, set.data[i + 1]);
            ++i;
        }
        if (c == ch)
            return true;
    }
    return false;
}

void KaScannerW::extendTo(KaTokenW& token) const noexcept
{
    token.len = size_t(position - uint64_t(token.start));
}

// ---- token readers ------------------------------------------------------------

void KaScannerW::readQuoted(KaTokenW& token, uint16_t quote) noexcept
{
    for (;;) {
        uint32_t c = readChar();
        if (atEnd) {
            token.kind = KA_TOKEN_UNTERMINATED;
            break;
        }
        if (c != quote)
            continue;
        // A doubled quote stands for one inside the text.
        if (position < length && input[position] == quote) {
            readChar();
            continue;
        }
        token.kind = KA_TOKEN_CLOSED;
        break;
    }
    extendTo(token);
}

void KaScannerW::readBracketed(KaTokenW& token, uint16_t close) noexcept
{
    readQuoted(token, close);
}

void KaScannerW::readGroup(KaTokenW& token, uint16_t open, uint16_t close) noexcept
{
    uint16_t depth = 1;
    for (;;) {
        uint32_t c = readChar();
        if (atEnd) {
            token.kind = KA_TOKEN_UNTERMINATED;
            break;
        }
        if (isQuote(c)) {
            readQuoted(token, uint16_t(c));
            if (token.kind == KA_TOKEN_UNTERMINATED)
                return;
            continue;
        }
        // The close test comes first so that a group whose two characters
        // are the same closes at the second one.
        if (c == close) {
            if (--depth == 0) {
                token.kind = KA_TOKEN_CLOSED;
                break;
            }
        } else if (c == open && depth < UINT16_MAX) {
            ++depth;
        }
    }
    extendTo(token);
}

void KaScannerW::readComment(KaTokenW& token) noexcept
{
    uint16_t first = input[token.start];
    readChar();  // the second character of the opening pair
    if (first == '-') {
        for (;;) {
            uint32_t c = readChar();
            if (atEnd)
                break;
            if (c == '\n') {
                // The line feed is consumed but stays out of the token.
                token.len = size_t(position - 1 - uint64_t(token.start));
                return;
            }
        }
        extendTo(token);
        return;
    }
    uint32_t previous = 0;
    for (;;) {
        uint32_t c = readChar();
        if (atEnd || (c == '/' && previous == '*'))
            break;
        previous = c;
    }
    extendTo(token);
}

// ---- nextToken ----------------------------------------------------------------

void KaScannerW::nextToken(KaTokenW& token, int mode) noexcept
{
    for (;;) {
        token.kind = KA_TOKEN_NONE;
        uint32_t ch;
        for (;;) {
            ch = readChar();
            if (atEnd || !isWhite(ch) || inSet(wordStartChars, ch))
                break;
        }
        if (atEnd) {
            token.set(input != nullptr ? input + length : nullptr, 0);
            token.start = int64_t(length);
            token.kind = KA_TOKEN_END;
            return;
        }
        token.start = int64_t(position - lastCharLength);
        token.set(input + token.start, size_t(lastCharLength));

        if (isQuote(ch)) {
            token.kind = KA_TOKEN_CLOSED;
            readQuoted(token, uint16_t(ch));
            return;
        }
        if (ch == '(' && parenGroups) {
            token.kind = KA_TOKEN_CLOSED;
            readGroup(token, '(', ')');
            return;
        }
        if (ch == '{' && braceGroups) {
            token.kind = KA_TOKEN_CLOSED;
            readGroup(token, '{', '}');
            return;
        }
        if (groupOpen != kaNoGroup && ch == groupOpen) {
            token.kind = KA_TOKEN_CLOSED;
            readGroup(token, groupOpen, groupClose);
            return;
        }
        if (ch == '[' && bracketGroups) {
            token.kind = KA_TOKEN_CLOSED;
            readBracketed(token, ']');
            return;
        }
        uint16_t n = peekUnit();
        if (returnComments && isCommentStart(ch, n)) {
            token.kind = KA_TOKEN_COMMENT;
            readComment(token);
            return;
        }
        if (skipComments && isCommentStart(ch, n)) {
            readComment(token);
            // The token after a skipped comment is read in mode 0.
            mode = KA_SCAN_PLAIN;
            continue;
        }
        if (mode == KA_SCAN_RUNS && !isRunStop(ch)) {
            token.kind = KA_TOKEN_RUN;
        } else if (mode == KA_SCAN_SQL_WORDS && (isLetter(ch) || ch == '_' || ch == '#')) {
            token.kind = KA_TOKEN_SQL_WORD;
        } else if (delimiterChars.len != 0 && !inSet(delimiterChars, ch)) {
            token.kind = KA_TOKEN_WORD;
        } else if (isLetter(ch) || ch == '_' || inSet(wordStartChars, ch)) {
            token.kind = KA_TOKEN_WORD;
        } else if (isDigitUnit(ch)) {
            token.kind = KA_TOKEN_NUMBER;
        } else if (decimalNumbers && ch == '.' && isDigitUnit(n)) {
            token.kind = KA_TOKEN_NUMBER_AT_END;
        } else if (ch == '(' && n == '+' && position + 1 < length && input[position + 1] == ')') {
            token.kind = KA_TOKEN_OUTER_JOIN;
            readChar();
            readChar();
            extendTo(token);
            return;
        } else {
            int width = 1;
            token.kind = kaOperatorLookup(ch, n, &width);
            if (width == 2)
                readChar();
            extendTo(token);
            return;
        }
        continueToken(token);
        return;
    }
}

void KaScannerW::continueToken(KaTokenW& token) noexcept
{
    for (;;) {
        uint32_t c = readChar();
        if (atEnd)
            break;
        bool goesOn = false;
        switch (token.kind) {
        case KA_TOKEN_RUN:
            goesOn = c > 0x20 && !isRunStop(c);
            break;
        case KA_TOKEN_SQL_WORD:
            if (isLetterOrDigit(c) || c == '_' || c == '#' || c == '$') {
                goesOn = true;
                break;
            }
            [[fallthrough]];
        case KA_TOKEN_WORD:
            if (delimiterChars.len != 0)
                goesOn = !inSet(delimiterChars, c);
            else
                goesOn = isLetterOrDigit(c) || c == '_' || inSet(wordChars, c);
            break;
        case KA_TOKEN_NUMBER:
            if (c == '.' && decimalNumbers) {
                token.kind = KA_TOKEN_NUMBER_AT_END;
                goesOn = true;
                break;
            }
            [[fallthrough]];
        case KA_TOKEN_NUMBER_AT_END:
            goesOn = isDigitUnit(c);
            if (!goesOn)
                token.kind = KA_TOKEN_NUMBER;
            break;
        default:
            break;
        }
        if (!goesOn) {
            unreadChar();
            break;
        }
    }
    extendTo(token);
}

// ---- nextItem -----------------------------------------------------------------

void KaScannerW::nextItem(KaTokenW& token, uint16_t separator) noexcept
{
    token.kind = KA_TOKEN_NONE;
    uint32_t ch;
    for (;;) {
        ch = readChar();
        if (atEnd || !isWhite(ch))
            break;
    }
    if (atEnd) {
        token.set(input != nullptr ? input + length : nullptr, 0);
        token.start = int64_t(length);
        token.kind = KA_TOKEN_END;
        return;
    }
    token.start = int64_t(position - lastCharLength);
    token.set(input + token.start, size_t(lastCharLength));
    if (ch == separator) {
        token.len = 0;
        unreadChar();
        return;
    }
    token.kind = KA_TOKEN_ITEM;
    if (ch == '{' && bracedItems == 1) {
        readBracketed(token, '}');
        if (token.kind != KA_TOKEN_UNTERMINATED)
            token.kind = KA_TOKEN_ITEM;
    } else {
        for (;;) {
            if (isQuote(ch)) {
                // No doubling rule here; the end stops the item silently.
                for (;;) {
                    uint32_t c = readChar();
                    if (atEnd || c == ch)
                        break;
                }
            } else if ((ch == '(' && parenGroups) || (ch == '{' && braceGroups)) {
                readGroup(token, uint16_t(ch), ch == '(' ? ')' : '}');
                if (token.kind != KA_TOKEN_UNTERMINATED)
                    token.kind = KA_TOKEN_ITEM;
            }
            ch = readChar();
            if (atEnd)
                break;
            if (ch == separator) {
                unreadChar();
                break;
            }
        }
        extendTo(token);
    }
    while (token.len > 0 && isWhite(token.data[token.len - 1]))
        --token.len;
}

// ---- positions ------------------------------------------------------------------

void KaScannerW::pushBack(const KaTokenW& token) noexcept
{
    position = uint64_t(token.start) <= length ? uint64_t(token.start) : length;
    lastCharLength = 0;
    atEnd = 0;
}

void KaScannerW::tokenAt(KaTokenW& token, uint64_t offset, uint64_t count) const noexcept
{
    if (offset > length)
        offset = length;
    if (count > length - offset)
        count = length - offset;
    token.set(input != nullptr ? input + offset : nullptr, size_t(count));
    token.start = int64_t(offset);
    token.kind = KA_TOKEN_NONE;
}

// ---- word-sequence matching --------------------------------------------------------

int KaScannerW::matchSequence(KaTokenW& token, const uint16_t* words, size_t count, bool exact) noexcept
{
    if (words == nullptr)
        return 0;
    uint64_t savedPosition = position;
    uint64_t savedLast = lastCharLength;
    uint8_t savedEnd = atEnd;
    size_t i = 0;
    bool first = true;
    KaTokenW work;
    for (;;) {
        while (i < count && words[i] == ' ')
            ++i;
        if (i >= count)
            break;
        size_t wordStart = i;
        while (i < count && words[i] != ' ')
            ++i;
        const uint16_t* word = words + wordStart;
        size_t wordLen = i - wordStart;
        bool same;
        if (first) {
            same = wordsEqual(token.data, token.len, word, wordLen, exact);
            first = false;
        } else {
            nextToken(work, KA_SCAN_PLAIN);
            same = work.kind != KA_TOKEN_END && wordsEqual(work.data, work.len, word, wordLen, exact);
        }
        if (!same) {
            position = savedPosition;
            lastCharLength = savedLast;
            atEnd = savedEnd;
            return 0;
        }
    }
    if (first)
        return 0;
    token.len += size_t(position - savedPosition);
    return 1;
}

int KaScannerW::matchWords(KaTokenW& token, const uint16_t* words, size_t count) noexcept
{
    return matchSequence(token, words, count, false);
}

int KaScannerW::matchText(KaTokenW& token, const uint16_t* words) noexcept
{
    return words != nullptr ? matchSequence(token, words, strLenW(words), false) : 0;
}

int KaScannerW::matchAny(KaTokenW& token, const uint16_t* list) noexcept
{
    for (const uint16_t* p = list; p != nullptr && *p != 0; p += strLenW(p) + 1)
        if (matchText(token, p))
            return 1;
    return 0;
}

int KaScannerW::matchWordsExact(KaTokenW& token, const uint16_t* words, size_t count) noexcept
{
    return matchSequence(token, words, count, true);
}

int KaScannerW::matchTextExact(KaTokenW& token, const uint16_t* words) noexcept
{
    return words != nullptr ? matchSequence(token, words, strLenW(words), true) : 0;
}

int KaScannerW::matchAnyExact(KaTokenW& token, const uint16_t* list) noexcept
{
    for (const uint16_t* p = list; p != nullptr && *p != 0; p += strLenW(p) + 1)
        if (matchTextExact(token, p))
            return 1;
    return 0;
}

// ---- editing --------------------------------------------------------------------------

int KaScannerW::replaceToken(const KaTokenW& token, const KaSubStringW& replacement) noexcept
{
    if (bound == nullptr || token.start < 0 || uint64_t(token.start) + token.len > length)
        return 1;
    size_t n = replacement.data != nullptr ? replacement.len : 0;
    // A null text deletes; a counted empty text would be taken as terminated.
    const uint16_t* text = n != 0 ? replacement.data : nullptr;
    if (bound->replace(size_t(token.start), token.len, text, n) != 0)
        return 1;
    reload();
    position = position + n - token.len;
    if (position > length)
        position = length;
    return 0;
}

int KaScannerW::insertBefore(KaTokenW& token, const KaSubStringW& text) noexcept
{
    if (text.data == nullptr || text.len == 0)
        return 0;
    if (bound == nullptr || token.start < 0 || uint64_t(token.start) > length)
        return 1;
    if (bound->replace(size_t(token.start), 0, text.data, text.len) != 0)
        return 1;
    reload();
    position += text.len;
    if (position > length)
        position = length;
    token.start += int64_t(text.len);
    token.data = const_cast<uint16_t*>(input) + token.start;
    return 0;
}

// ---- splitting ----------------------------------------------------------------------

int KaScannerW::split(KaArray& out, uint16_t separator, bool copies) noexcept
{
    out.deleteAll();
    out.count = 0;
    out.flags |= KaArray::ownsElements;
    KaTokenW item;
    KaTokenW passed;
    for (;;) {
        nextItem(item, separator);
        KaObject* element;
        if (copies) {
            auto* s = new KaStringW();
            if (s == nullptr)
                return 1;
            if (s->assign(item.data, item.len) != 0) {
                delete s;
                return 1;
            }
            element = s;
        } else {
            element = new KaSubStringW(item.data, item.len);
            if (element == nullptr)
                return 1;
        }
        if (out.append(element) != 0) {
            delete element;
            return 1;
        }
        if (item.kind == KA_TOKEN_END)
            return 0;
        nextToken(passed, KA_SCAN_PLAIN);
        if (passed.kind == KA_TOKEN_END)
            return 0;
    }
}

int KaScannerW::splitToSubstrings(KaArray& out, uint16_t separator) noexcept
{
    return split(out, separator, false);
}

int KaScannerW::splitToStrings(KaArray& out, uint16_t separator) noexcept
{
    return split(out, separator, true);
}
