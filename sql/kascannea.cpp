// The 8-bit tokenizer. Fixed characters (quotes, brackets, separators,
// operators) are compared with the first byte of a character, so the trail
// bytes of a multibyte character never match them.
#include "sql/kascannea.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <unicode/uchar.h>

#include "foundation/kaarray.h"
#include "foundation/kastr.h"

namespace {

constexpr uint32_t kUtf8 = KA_TEXT_UTF8;
// mblen looks at no more than this many bytes for a locale character.
constexpr size_t kLocaleCharMax = 2;

bool isRunStop(int ch)
{
    return ch == ',' || ch == '(' || ch == ')' || ch == '|';
}

bool isCommentStart(int ch, int next)
{
    return (ch == '-' && next == '-') || (ch == '/' && next == '*');
}

bool isDigitByte(int ch)
{
    return u_isdigit(UChar32(ch)) != 0;
}

bool wordsEqual(const char* a, size_t alen, const char* b, size_t blen, bool exact)
{
    if (alen != blen)
        return false;
    if (alen == 0)
        return true;
    if (exact)
        return std::memcmp(a, b, alen) == 0;
    return strEqualNoCaseN(a, alen, b, blen) != 0;
}

}  // namespace

// ---- KaToken ------------------------------------------------------------------

KaToken::KaToken() noexcept : KaSubString(int32_t(KA_TEXT_LOCALE)) {}

KaToken::KaToken(int32_t encodingKind) noexcept : KaSubString(encodingKind) {}

KaToken::KaToken(const char* text, size_t count, int64_t startOffset) noexcept
    : KaSubString(text, count, int32_t(KA_TEXT_LOCALE)), start(startOffset)
{
}

KaToken::KaToken(const char* text, size_t count, int64_t startOffset, int32_t encodingKind) noexcept
    : KaSubString(text, count, encodingKind), start(startOffset)
{
}

KaToken::~KaToken() = default;

// ---- construction and input -----------------------------------------------------

KaScanner::KaScanner() noexcept
{
    rewind(nullptr, 0);
    resetOptions();
}

KaScanner::KaScanner(KaTextEncoding kind) noexcept
{
    rewind(nullptr, 0);
    resetOptions();
    encoding = uint32_t(kind);
}

KaScanner::KaScanner(const char* bytes, uint64_t count) noexcept
{
    rewind(bytes, count);
    resetOptions();
}

KaScanner::KaScanner(const char* bytes, uint64_t count, uint32_t kind) noexcept
{
    setInput(bytes, count, kind);
    resetOptions();
}

KaScanner::KaScanner(const char* terminated) noexcept
{
    rewind(terminated, terminated != nullptr ? std::strlen(terminated) : 0);
    resetOptions();
}

KaScanner::KaScanner(const char* terminated, KaTextEncoding kind) noexcept
{
    setInput(terminated, terminated != nullptr ? std::strlen(terminated) : 0, uint32_t(kind));
    resetOptions();
}

KaScanner::KaScanner(const KaSubString& text) noexcept
{
    setInput(text.data, text.data != nullptr ? text.len : 0, uint32_t(text.codePage));
    resetOptions();
}

KaScanner::KaScanner(KaString* editable) noexcept
{
    if (editable != nullptr) {
        bindString(*editable);
        resetOptions();
        encoding = uint32_t(editable->codePage);
    } else {
        rewind(nullptr, 0);
        resetOptions();
    }
}

KaScanner::~KaScanner() = default;

void KaScanner::rewind(const char* bytes, uint64_t count) noexcept
{
    setInput(bytes, count, KA_TEXT_LOCALE);
}

void KaScanner::setInput(const char* bytes, uint64_t count, uint32_t kind) noexcept
{
    input = bytes;
    length = bytes != nullptr ? count : 0;
    encoding = kind;
    position = 0;
    lastCharLength = 0;
    bound = nullptr;
    setOption(atEnd, false);
    setOption(decimalNumbers, true);
}

void KaScanner::bindString(KaString& editable) noexcept
{
    bound = &editable;
    reload();
    position = 0;
    lastCharLength = 0;
    setOption(atEnd, false);
    setOption(decimalNumbers, true);
}

void KaScanner::reload() noexcept
{
    input = bound->data;
    length = bound->data != nullptr ? bound->len : 0;
}

void KaScanner::resetOptions() noexcept
{
    quoteChar1 = '\'';
    quoteChar2 = '"';
    quoteChar3 = '`';
    flags = uint8_t(flags & ~(braceGroups | parenGroups | returnComments | skipComments));
    groupOpen = kaNoGroup;
    bracedItems = 0;
}

namespace {

int fillSet(KaString& set, const KaSubString& characters)
{
    set.len = 0;
    if (characters.data == nullptr || characters.len == 0)
        return 0;
    return set.assign(characters.data, characters.len) != 0 ? 1 : 0;
}

}  // namespace

int KaScanner::setWordStartChars(const KaSubString& characters) noexcept
{
    return fillSet(wordStartChars, characters);
}

int KaScanner::setWordChars(const KaSubString& characters) noexcept
{
    return fillSet(wordChars, characters);
}

// ---- characters ------------------------------------------------------------------

size_t KaScanner::charLengthAt(uint64_t at) const noexcept
{
    uint64_t left = length - at;
    auto lead = static_cast<unsigned char>(input[at]);
    size_t n = 1;
    if (encoding == kUtf8) {
        n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    } else if (lead >= 0x80 && left >= kLocaleCharMax) {
        std::mbstate_t state{};
        n = std::mbrlen(input + at, kLocaleCharMax, &state) == kLocaleCharMax ? 2 : 1;
    }
    return n <= left ? n : size_t(left);
}

int KaScanner::readChar() noexcept
{
    if (position >= length) {
        setOption(atEnd, true);
        lastCharLength = 0;
        return 0;
    }
    lastCharLength = charLengthAt(position);
    int first = static_cast<unsigned char>(input[position]);
    position += lastCharLength;
    return first;
}

void KaScanner::unreadChar() noexcept
{
    position -= lastCharLength;
    lastCharLength = 0;
    setOption(atEnd, false);
}

uint8_t KaScanner::peekByte() const noexcept
{
    return position < length ? static_cast<uint8_t>(input[position]) : 0;
}

bool KaScanner::isQuote(int ch) const noexcept
{
    return ch == quoteChar1 || ch == quoteChar2 || ch == quoteChar3;
}

bool KaScanner::inSet(const KaString& set, int ch) const noexcept
{
    return set.data != nullptr && set.len != 0 && std::memchr(set.data, ch, set.len) != nullptr;
}

namespace {

// The character at the offset as the process locale reads it; false when it
// is not a valid character there.
bool wideAt(const char* input, uint64_t left, wchar_t* out)
{
    std::mbstate_t state{};
    size_t max = MB_CUR_MAX < left ? MB_CUR_MAX : size_t(left);
    size_t n = std::mbrtowc(out, input, max, &state);
    return n != size_t(-1) && n != size_t(-2);
}

}  // namespace

bool KaScanner::isSpaceAt(uint64_t at) const noexcept
{
    wchar_t wc = 0;
    return at < length && wideAt(input + at, length - at, &wc) && std::iswspace(wint_t(wc)) != 0;
}

bool KaScanner::isAlphaAt(uint64_t at) const noexcept
{
    wchar_t wc = 0;
    return at < length && wideAt(input + at, length - at, &wc) && std::iswalpha(wint_t(wc)) != 0;
}

bool KaScanner::isAlnumAt(uint64_t at) const noexcept
{
    wchar_t wc = 0;
    return at < length && wideAt(input + at, length - at, &wc) && std::iswalnum(wint_t(wc)) != 0;
}

void KaScanner::extendTo(KaToken& token) const noexcept
{
    token.len = size_t(position - uint64_t(token.start));
    token.lenAtSet = token.len;
}

void KaScanner::startToken(KaToken& token, uint32_t kind) const noexcept
{
    token.set(input != nullptr ? input + position - lastCharLength : nullptr, size_t(lastCharLength),
              int32_t(encoding));
    token.start = int64_t(position - lastCharLength);
    token.kind = kind;
}

// ---- token readers -------------------------------------------------------------------

void KaScanner::readQuoted(KaToken& token, uint8_t quote) noexcept
{
    for (;;) {
        int c = readChar();
        if (option(atEnd)) {
            token.kind = KA_TOKEN_UNTERMINATED;
            break;
        }
        if (c != quote)
            continue;
        if (position < length && static_cast<uint8_t>(input[position]) == quote) {
            readChar();
            continue;
        }
        token.kind = KA_TOKEN_CLOSED;
        break;
    }
    extendTo(token);
}

void KaScanner::readBracketed(KaToken& token, uint8_t close) noexcept
{
    readQuoted(token, close);
}

void KaScanner::readGroup(KaToken& token, uint8_t open, uint8_t close) noexcept
{
    uint16_t depth = 1;
    for (;;) {
        int c = readChar();
        if (option(atEnd)) {
            token.kind = KA_TOKEN_UNTERMINATED;
            break;
        }
        if (isQuote(c)) {
            readQuoted(token, uint8_t(c));
            if (token.kind == KA_TOKEN_UNTERMINATED)
                return;
            continue;
        }
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

void KaScanner::readComment(KaToken& token) noexcept
{
    char first = input[token.start];
    readChar();
    if (first == '-') {
        for (;;) {
            int c = readChar();
            if (option(atEnd))
                break;
            if (c == '\n') {
                token.len = size_t(position - 1 - uint64_t(token.start));
                token.lenAtSet = token.len;
                return;
            }
        }
        extendTo(token);
        return;
    }
    int previous = 0;
    for (;;) {
        int c = readChar();
        if (option(atEnd) || (c == '/' && previous == '*'))
            break;
        previous = c;
    }
    extendTo(token);
}

// ---- nextToken ---------------------------------------------------------------------------

void KaScanner::nextToken(KaToken& token, int mode) noexcept
{
    for (;;) {
        int ch;
        for (;;) {
            ch = readChar();
            if (option(atEnd) || !isSpaceAt(position - lastCharLength) || inSet(wordStartChars, ch))
                break;
        }
        if (option(atEnd)) {
            token.set(input != nullptr ? input + length : nullptr, 0, int32_t(encoding));
            token.start = int64_t(length);
            token.kind = KA_TOKEN_END;
            return;
        }
        uint64_t at = position - lastCharLength;
        startToken(token, KA_TOKEN_NONE);

        if (isQuote(ch)) {
            token.kind = KA_TOKEN_CLOSED;
            readQuoted(token, uint8_t(ch));
            return;
        }
        if (ch == '(' && option(parenGroups)) {
            token.kind = KA_TOKEN_CLOSED;
            readGroup(token, '(', ')');
            return;
        }
        if (ch == '{' && option(braceGroups)) {
            token.kind = KA_TOKEN_CLOSED;
            readGroup(token, '{', '}');
            return;
        }
        if (groupOpen != kaNoGroup && ch == groupOpen) {
            token.kind = KA_TOKEN_CLOSED;
            readGroup(token, uint8_t(groupOpen), uint8_t(groupClose));
            return;
        }
        int n = peekByte();
        if (option(returnComments) && isCommentStart(ch, n)) {
            token.kind = KA_TOKEN_COMMENT;
            readComment(token);
            return;
        }
        if (option(skipComments) && isCommentStart(ch, n)) {
            readComment(token);
            mode = KA_SCAN_PLAIN;
            continue;
        }
        if (mode == KA_SCAN_RUNS && !isRunStop(ch)) {
            token.kind = KA_TOKEN_RUN;
        } else if (mode == KA_SCAN_SQL_WORDS && (isAlphaAt(at) || ch == '_' || ch == '#')) {
            token.kind = KA_TOKEN_SQL_WORD;
        } else if (delimiterChars.len != 0 && !inSet(delimiterChars, ch)) {
            token.kind = KA_TOKEN_WORD;
        } else if (isAlphaAt(at) || ch == '_' || inSet(wordStartChars, ch)) {
            token.kind = KA_TOKEN_WORD;
        } else if (isDigitByte(ch)) {
            token.kind = KA_TOKEN_NUMBER;
        } else if (option(decimalNumbers) && ch == '.' && isDigitByte(n)) {
            token.kind = KA_TOKEN_NUMBER_AT_END;
        } else if (ch == '(' && n == '+' && position + 1 < length && input[position + 1] == ')') {
            token.kind = KA_TOKEN_OUTER_JOIN;
            readChar();
            readChar();
            extendTo(token);
            return;
        } else {
            int width = 1;
            token.kind = kaOperatorLookup(uint32_t(ch), uint32_t(n), &width);
            if (width == 2)
                readChar();
            extendTo(token);
            return;
        }
        continueToken(token);
        return;
    }
}

void KaScanner::continueToken(KaToken& token) noexcept
{
    for (;;) {
        int c = readChar();
        if (option(atEnd))
            break;
        uint64_t at = position - lastCharLength;
        bool goesOn = false;
        switch (token.kind) {
        case KA_TOKEN_RUN:
            goesOn = static_cast<unsigned char>(c) > 0x20 && !isRunStop(c);
            break;
        case KA_TOKEN_SQL_WORD:
            if (isAlnumAt(at) || c == '_' || c == '#' || c == '$') {
                goesOn = true;
                break;
            }
            [[fallthrough]];
        case KA_TOKEN_WORD:
            if (delimiterChars.len != 0)
                goesOn = !inSet(delimiterChars, c);
            else
                goesOn = isAlnumAt(at) || c == '_' || inSet(wordChars, c);
            break;
        case KA_TOKEN_NUMBER:
            if (c == '.' && option(decimalNumbers)) {
                token.kind = KA_TOKEN_NUMBER_AT_END;
                goesOn = true;
                break;
            }
            [[fallthrough]];
        case KA_TOKEN_NUMBER_AT_END:
            goesOn = isDigitByte(c);
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

// ---- nextItem ----------------------------------------------------------------------------

void KaScanner::nextItem(KaToken& token, char separator) noexcept
{
    auto sep = static_cast<unsigned char>(separator);
    int ch;
    for (;;) {
        ch = readChar();
        if (option(atEnd) || !isSpaceAt(position - lastCharLength))
            break;
    }
    if (option(atEnd)) {
        token.set(input != nullptr ? input + length : nullptr, 0, int32_t(encoding));
        token.start = int64_t(length);
        token.kind = KA_TOKEN_END;
        return;
    }
    startToken(token, KA_TOKEN_NONE);
    if (ch == sep) {
        token.len = 0;
        token.lenAtSet = 0;
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
                for (;;) {
                    int c = readChar();
                    if (option(atEnd) || c == ch)
                        break;
                }
            } else if ((ch == '(' && option(parenGroups)) || (ch == '{' && option(braceGroups))) {
                readGroup(token, uint8_t(ch), ch == '(' ? ')' : '}');
                if (token.kind != KA_TOKEN_UNTERMINATED)
                    token.kind = KA_TOKEN_ITEM;
            }
            ch = readChar();
            if (option(atEnd))
                break;
            if (ch == sep) {
                unreadChar();
                break;
            }
        }
        extendTo(token);
    }
    // Trailing white space goes, by whole characters.
    uint64_t begin = uint64_t(token.start);
    uint64_t end = begin + token.len;
    uint64_t keep = begin;
    for (uint64_t at = begin; at < end;) {
        size_t step = charLengthAt(at);
        if (step > end - at)
            step = size_t(end - at);
        if (!isSpaceAt(at))
            keep = at + step;
        at += step;
    }
    token.len = size_t(keep - begin);
    token.lenAtSet = token.len;
}

// ---- positions ------------------------------------------------------------------------------

void KaScanner::pushBack(const KaToken& token) noexcept
{
    position = uint64_t(token.start) <= length ? uint64_t(token.start) : length;
    lastCharLength = 0;
    setOption(atEnd, false);
}

void KaScanner::tokenAt(KaToken& token, uint64_t offset, uint64_t count) const noexcept
{
    if (offset > length)
        offset = length;
    if (count > length - offset)
        count = length - offset;
    token.set(input != nullptr ? input + offset : nullptr, size_t(count), int32_t(encoding));
    token.start = int64_t(offset);
    token.kind = KA_TOKEN_NONE;
}

// ---- word-sequence matching ------------------------------------------------------------------

int KaScanner::matchSequence(KaToken& token, const char* words, bool exact) noexcept
{
    if (words == nullptr)
        return 0;
    uint64_t savedPosition = position;
    uint64_t savedLast = lastCharLength;
    uint8_t savedFlags = flags;
    bool first = true;
    KaToken work(static_cast<int32_t>(encoding));
    const char* p = words;
    for (;;) {
        while (*p == ' ')
            ++p;
        if (*p == '\0')
            break;
        const char* word = p;
        while (*p != '\0' && *p != ' ')
            ++p;
        size_t wordLen = size_t(p - word);
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
            flags = savedFlags;
            return 0;
        }
    }
    if (first)
        return 0;
    token.len += size_t(position - savedPosition);
    token.lenAtSet = token.len;
    return 1;
}

int KaScanner::matchText(KaToken& token, const char* words) noexcept
{
    return matchSequence(token, words, false);
}

int KaScanner::matchAny(KaToken& token, const char* list) noexcept
{
    for (const char* p = list; p != nullptr && *p != '\0'; p += std::strlen(p) + 1)
        if (matchSequence(token, p, false))
            return 1;
    return 0;
}

int KaScanner::matchTextExact(KaToken& token, const char* words) noexcept
{
    return matchSequence(token, words, true);
}

int KaScanner::matchAnyExact(KaToken& token, const char* list) noexcept
{
    for (const char* p = list; p != nullptr && *p != '\0'; p += std::strlen(p) + 1)
        if (matchSequence(token, p, true))
            return 1;
    return 0;
}

// ---- editing ------------------------------------------------------------------------------------

int KaScanner::replaceToken(const KaToken& token, const KaSubString& replacement) noexcept
{
    if (bound == nullptr || token.start < 0 || uint64_t(token.start) + token.len > length)
        return 1;
    size_t n = replacement.data != nullptr ? replacement.len : 0;
    // A null text deletes; a counted empty text would be taken as terminated.
    const char* text = n != 0 ? replacement.data : nullptr;
    if (bound->replace(size_t(token.start), token.len, text, n) != 0)
        return 1;
    reload();
    position = position + n - token.len;
    if (position > length)
        position = length;
    return 0;
}

int KaScanner::insertBefore(KaToken& token, const KaSubString& text) noexcept
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
    token.data = const_cast<char*>(input) + token.start;
    return 0;
}

// ---- splitting ------------------------------------------------------------------------------------

int KaScanner::split(KaArray& out, char separator, bool copies) noexcept
{
    out.deleteAll();
    out.flags |= KaArray::ownsElements;
    KaToken item(static_cast<int32_t>(encoding));
    KaToken passed(static_cast<int32_t>(encoding));
    for (;;) {
        nextItem(item, separator);
        KaObject* element;
        if (copies) {
            auto* s = new KaString(int32_t(encoding));
            if (s == nullptr)
                return 1;
            if (s->assign(item.data != nullptr ? item.data : "", item.len, int32_t(encoding)) != 0) {
                delete s;
                return 1;
            }
            element = s;
        } else {
            element = new KaSubString(item.data, item.len, int32_t(encoding));
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

int KaScanner::splitToSubstrings(KaArray& out, char separator) noexcept
{
    return split(out, separator, false);
}

int KaScanner::splitToStrings(KaArray& out, char separator) noexcept
{
    return split(out, separator, true);
}
