// The tokenizer written once for both code units. KaScannerW (UTF-16) and
// KaScanner (8-bit) keep their fields and forward every reading and editing
// call to KaScanLogic<Traits>; only kascanne.cpp and bytescanner.cpp include
// this file, each with its traits.
//
// A traits class supplies what really differs between the two:
//   Scanner, Token, Unit, View (the substring type), String (the owned one);
//   decode(scanner, at, &units): the character at the offset: the value that
//       is compared with fixed characters (the code point, or the first
//       byte) and the units it takes, at least 1 and never past the end;
//   isSpace, isLetter, isLetterOrDigit(scanner, value, offset), isDigit(value);
//   inSet(set, value): whether a character set holds the character;
//   option(scanner, KaScanOption), setOption(scanner, KaScanOption, on);
//   setText(scanner, token, text, length), setLength(token, length);
//   wordsEqual(a, alen, b, blen, exact), measure(terminated);
//   newItem(scanner, text, length, copy): a view or an owned copy for the
//       split helpers, null when memory runs out.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "foundation/kaarray.h"
#include "sql/kascan.h"

// The switches a scanner keeps, whichever way it stores them.
enum class KaScanOption : uint8_t {
    braceGroups,
    parenGroups,
    bracketGroups,
    returnComments,
    skipComments,
    decimalNumbers,
    atEnd,
};

template <class Traits>
class KaScanLogic {
public:
    using Scanner = typename Traits::Scanner;
    using Token = typename Traits::Token;
    using Unit = typename Traits::Unit;
    using View = typename Traits::View;
    using String = typename Traits::String;

    explicit KaScanLogic(Scanner& scanner) noexcept : s(scanner) {}

    // ---- input and options ----------------------------------------------------

    void setInput(const Unit* text, uint64_t count) noexcept
    {
        s.input = text;
        s.length = text != nullptr ? count : 0;
        s.bound = nullptr;
        restart();
    }

    void bindString(String& editable) noexcept
    {
        s.bound = &editable;
        reload();
        restart();
    }

    void resetOptions() noexcept
    {
        s.quoteChar1 = '\'';
        s.quoteChar2 = '"';
        s.quoteChar3 = '`';
        for (KaScanOption o : {KaScanOption::braceGroups, KaScanOption::parenGroups, KaScanOption::bracketGroups,
                               KaScanOption::returnComments, KaScanOption::skipComments})
            Traits::setOption(s, o, false);
        s.groupOpen = kaNoGroup;
        s.bracedItems = 0;
    }

    [[nodiscard]] static int fillSet(String& set, const View& characters) noexcept
    {
        set.len = 0;
        if (characters.data == nullptr || characters.len == 0)
            return 0;
        return set.assign(characters.data, characters.len) != 0 ? 1 : 0;
    }

    // ---- token readers ----------------------------------------------------------

    void readQuoted(Token& token, uint32_t quote) noexcept
    {
        for (;;) {
            uint32_t c = readChar();
            if (atEnd()) {
                token.kind = KA_TOKEN_UNTERMINATED;
                break;
            }
            if (c != quote)
                continue;
            // A doubled quote stands for one inside the text.
            if (s.position < s.length && unitAt(s.position) == quote) {
                readChar();
                continue;
            }
            token.kind = KA_TOKEN_CLOSED;
            break;
        }
        extendTo(token);
    }

    void readGroup(Token& token, uint32_t open, uint32_t close) noexcept
    {
        uint16_t depth = 1;
        for (;;) {
            uint32_t c = readChar();
            if (atEnd()) {
                token.kind = KA_TOKEN_UNTERMINATED;
                break;
            }
            if (isQuote(c)) {
                readQuoted(token, c);
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

    void readComment(Token& token) noexcept
    {
        uint32_t first = unitAt(uint64_t(token.start));
        readChar();  // the second character of the opening pair
        if (first == '-') {
            for (;;) {
                uint32_t c = readChar();
                if (atEnd())
                    break;
                if (c == '\n') {
                    // The line feed is consumed but stays out of the token.
                    Traits::setLength(token, size_t(s.position - 1 - uint64_t(token.start)));
                    return;
                }
            }
            extendTo(token);
            return;
        }
        uint32_t previous = 0;
        for (;;) {
            uint32_t c = readChar();
            if (atEnd() || (c == '/' && previous == '*'))
                break;
            previous = c;
        }
        extendTo(token);
    }

    // ---- nextToken ----------------------------------------------------------------

    void nextToken(Token& token, int mode) noexcept
    {
        for (;;) {
            uint32_t ch;
            for (;;) {
                ch = readChar();
                if (atEnd() || !Traits::isSpace(s, ch, lastStart()) || Traits::inSet(s.wordStartChars, ch))
                    break;
            }
            if (atEnd()) {
                endToken(token);
                return;
            }
            uint64_t at = lastStart();
            startToken(token);

            if (isQuote(ch)) {
                token.kind = KA_TOKEN_CLOSED;
                readQuoted(token, ch);
                return;
            }
            if (ch == '(' && option(KaScanOption::parenGroups)) {
                token.kind = KA_TOKEN_CLOSED;
                readGroup(token, '(', ')');
                return;
            }
            if (ch == '{' && option(KaScanOption::braceGroups)) {
                token.kind = KA_TOKEN_CLOSED;
                readGroup(token, '{', '}');
                return;
            }
            if (s.groupOpen != kaNoGroup && ch == s.groupOpen) {
                token.kind = KA_TOKEN_CLOSED;
                readGroup(token, s.groupOpen, s.groupClose);
                return;
            }
            if (ch == '[' && option(KaScanOption::bracketGroups)) {
                token.kind = KA_TOKEN_CLOSED;
                readQuoted(token, ']');
                return;
            }
            uint32_t n = unitAt(s.position);
            if (option(KaScanOption::returnComments) && isCommentStart(ch, n)) {
                token.kind = KA_TOKEN_COMMENT;
                readComment(token);
                return;
            }
            if (option(KaScanOption::skipComments) && isCommentStart(ch, n)) {
                readComment(token);
                // The token after a skipped comment is read in plain mode.
                mode = KA_SCAN_PLAIN;
                continue;
            }
            if (mode == KA_SCAN_RUNS && !isRunStop(ch)) {
                token.kind = KA_TOKEN_RUN;
            } else if (mode == KA_SCAN_SQL_WORDS && (Traits::isLetter(s, ch, at) || ch == '_' || ch == '#')) {
                token.kind = KA_TOKEN_SQL_WORD;
            } else if (s.delimiterChars.len != 0 && !Traits::inSet(s.delimiterChars, ch)) {
                token.kind = KA_TOKEN_WORD;
            } else if (Traits::isLetter(s, ch, at) || ch == '_' || Traits::inSet(s.wordStartChars, ch)) {
                token.kind = KA_TOKEN_WORD;
            } else if (Traits::isDigit(ch)) {
                token.kind = KA_TOKEN_NUMBER;
            } else if (option(KaScanOption::decimalNumbers) && ch == '.' && Traits::isDigit(n)) {
                token.kind = KA_TOKEN_NUMBER_AT_END;
            } else if (ch == '(' && n == '+' && s.position + 1 < s.length && unitAt(s.position + 1) == ')') {
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

    // ---- nextItem -------------------------------------------------------------------

    void nextItem(Token& token, uint32_t separator) noexcept
    {
        uint32_t ch;
        for (;;) {
            ch = readChar();
            if (atEnd() || !Traits::isSpace(s, ch, lastStart()))
                break;
        }
        if (atEnd()) {
            endToken(token);
            return;
        }
        startToken(token);
        if (ch == separator) {
            Traits::setLength(token, 0);
            unreadChar();
            return;
        }
        token.kind = KA_TOKEN_ITEM;
        if (ch == '{' && s.bracedItems == 1) {
            readQuoted(token, '}');
            if (token.kind != KA_TOKEN_UNTERMINATED)
                token.kind = KA_TOKEN_ITEM;
        } else {
            for (;;) {
                if (isQuote(ch)) {
                    // No doubling rule here; the end stops the item silently.
                    for (;;) {
                        uint32_t c = readChar();
                        if (atEnd() || c == ch)
                            break;
                    }
                } else if ((ch == '(' && option(KaScanOption::parenGroups)) ||
                           (ch == '{' && option(KaScanOption::braceGroups))) {
                    readGroup(token, ch, ch == '(' ? ')' : '}');
                    if (token.kind != KA_TOKEN_UNTERMINATED)
                        token.kind = KA_TOKEN_ITEM;
                }
                ch = readChar();
                if (atEnd())
                    break;
                if (ch == separator) {
                    unreadChar();
                    break;
                }
            }
            extendTo(token);
        }
        // Trailing white space goes, by whole characters: a multibyte
        // encoding cannot be stepped backwards.
        uint64_t begin = uint64_t(token.start);
        uint64_t end = begin + token.len;
        uint64_t keep = begin;
        for (uint64_t at = begin; at < end;) {
            uint64_t step = 0;
            uint32_t c = Traits::decode(s, at, &step);
            if (step > end - at)
                step = end - at;
            if (!Traits::isSpace(s, c, at))
                keep = at + step;
            at += step;
        }
        Traits::setLength(token, size_t(keep - begin));
    }

    // ---- positions ------------------------------------------------------------------

    void pushBack(const Token& token) noexcept
    {
        s.position = token.start >= 0 && uint64_t(token.start) <= s.length ? uint64_t(token.start) : s.length;
        s.lastCharLength = 0;
        Traits::setOption(s, KaScanOption::atEnd, false);
    }

    static void tokenAt(const Scanner& s, Token& token, uint64_t offset, uint64_t count) noexcept
    {
        if (offset > s.length)
            offset = s.length;
        if (count > s.length - offset)
            count = s.length - offset;
        Traits::setText(s, token, s.input != nullptr ? s.input + offset : nullptr, size_t(count));
        token.start = int64_t(offset);
        token.kind = KA_TOKEN_NONE;
    }

    // ---- word-sequence matching ---------------------------------------------------------

    int matchSequence(Token& token, const Unit* words, size_t count, bool exact) noexcept
    {
        if (words == nullptr)
            return 0;
        uint64_t savedPosition = s.position;
        uint64_t savedLast = s.lastCharLength;
        bool savedEnd = atEnd();
        size_t i = 0;
        bool first = true;
        Token work;
        for (;;) {
            while (i < count && words[i] == ' ')
                ++i;
            if (i >= count)
                break;
            size_t wordStart = i;
            while (i < count && words[i] != ' ')
                ++i;
            const Unit* word = words + wordStart;
            size_t wordLen = i - wordStart;
            bool same;
            if (first) {
                same = Traits::wordsEqual(token.data, token.len, word, wordLen, exact);
                first = false;
            } else {
                nextToken(work, KA_SCAN_PLAIN);
                same = work.kind != KA_TOKEN_END && Traits::wordsEqual(work.data, work.len, word, wordLen, exact);
            }
            if (!same) {
                s.position = savedPosition;
                s.lastCharLength = savedLast;
                Traits::setOption(s, KaScanOption::atEnd, savedEnd);
                return 0;
            }
        }
        if (first)
            return 0;
        Traits::setLength(token, token.len + size_t(s.position - savedPosition));
        return 1;
    }

    int matchText(Token& token, const Unit* words, bool exact) noexcept
    {
        return words != nullptr ? matchSequence(token, words, Traits::measure(words), exact) : 0;
    }

    // A list is a sequence of terminated texts ended by an empty one.
    int matchAny(Token& token, const Unit* list, bool exact) noexcept
    {
        for (const Unit* p = list; p != nullptr && *p != 0; p += Traits::measure(p) + 1)
            if (matchText(token, p, exact))
                return 1;
        return 0;
    }

    // ---- editing ------------------------------------------------------------------------

    // The token is re-pointed at the replacement in the edited text, so that
    // it never views a buffer the edit has freed.
    [[nodiscard]] int replaceToken(Token& token, const View& replacement) noexcept
    {
        if (s.bound == nullptr || token.start < 0 || uint64_t(token.start) > s.length ||
            token.len > s.length - uint64_t(token.start))
            return 1;
        size_t n = replacement.data != nullptr ? replacement.len : 0;
        // A null text deletes; a counted empty text would be taken as terminated.
        const Unit* text = n != 0 ? replacement.data : nullptr;
        if (s.bound->replace(size_t(token.start), token.len, text, n) != 0)
            return 1;
        reload();
        uint64_t begin = uint64_t(token.start);
        uint64_t end = begin + token.len;
        // A position behind the token moves with the text after it; one
        // inside the token goes behind the replacement.
        if (s.position >= end)
            s.position = s.position - token.len + n;
        else if (s.position > begin)
            s.position = begin + n;
        if (s.position > s.length)
            s.position = s.length;
        Traits::setText(s, token, s.input + begin, n);
        return 0;
    }

    [[nodiscard]] int insertBefore(Token& token, const View& text) noexcept
    {
        if (text.data == nullptr || text.len == 0)
            return 0;
        if (s.bound == nullptr || token.start < 0 || uint64_t(token.start) > s.length)
            return 1;
        if (s.bound->replace(size_t(token.start), 0, text.data, text.len) != 0)
            return 1;
        reload();
        s.position += text.len;
        if (s.position > s.length)
            s.position = s.length;
        token.start += int64_t(text.len);
        token.data = const_cast<Unit*>(s.input) + token.start;
        return 0;
    }

    // ---- splitting ------------------------------------------------------------------------

    [[nodiscard]] int split(KaArray& out, uint32_t separator, bool copies) noexcept
    {
        out.deleteAll();
        out.flags |= KaArray::ownsElements;
        Token item;
        Token passed;
        for (;;) {
            nextItem(item, separator);
            KaObject* element = Traits::newItem(s, item.data, item.len, copies);
            if (element == nullptr)
                return 1;
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

private:
    Scanner& s;

    static bool isRunStop(uint32_t ch) { return ch == ',' || ch == '(' || ch == ')' || ch == '|'; }

    static bool isCommentStart(uint32_t ch, uint32_t next)
    {
        return (ch == '-' && next == '-') || (ch == '/' && next == '*');
    }

    bool option(KaScanOption o) const noexcept { return Traits::option(s, o); }
    bool atEnd() const noexcept { return Traits::option(s, KaScanOption::atEnd); }

    // The single unit at the offset as an unsigned value, 0 at the end.
    uint32_t unitAt(uint64_t at) const noexcept
    {
        return at < s.length ? uint32_t(std::make_unsigned_t<Unit>(s.input[at])) : 0;
    }

    uint64_t lastStart() const noexcept { return s.position - s.lastCharLength; }

    // A quote character of 0 is switched off, so a zero unit in the text is
    // never a quote.
    bool isQuote(uint32_t ch) const noexcept
    {
        return ch != 0 && (ch == s.quoteChar1 || ch == s.quoteChar2 || ch == s.quoteChar3);
    }

    // The character at the position (0 at the end, which sets atEnd).
    uint32_t readChar() noexcept
    {
        if (s.position >= s.length) {
            Traits::setOption(s, KaScanOption::atEnd, true);
            s.lastCharLength = 0;
            return 0;
        }
        uint64_t units = 1;
        uint32_t ch = Traits::decode(s, s.position, &units);
        s.lastCharLength = units;
        s.position += units;
        return ch;
    }

    void unreadChar() noexcept
    {
        s.position -= s.lastCharLength;
        s.lastCharLength = 0;
        Traits::setOption(s, KaScanOption::atEnd, false);
    }

    void restart() noexcept
    {
        s.position = 0;
        s.lastCharLength = 0;
        Traits::setOption(s, KaScanOption::atEnd, false);
        Traits::setOption(s, KaScanOption::decimalNumbers, true);
    }

    // The bound string's buffer may have moved.
    void reload() noexcept
    {
        s.input = s.bound->data;
        s.length = s.bound->data != nullptr ? s.bound->len : 0;
    }

    void extendTo(Token& token) const noexcept { Traits::setLength(token, size_t(s.position - uint64_t(token.start))); }

    // The token begins as the character just read, with no kind yet.
    void startToken(Token& token) const noexcept
    {
        uint64_t at = lastStart();
        Traits::setText(s, token, s.input + at, size_t(s.lastCharLength));
        token.start = int64_t(at);
        token.kind = KA_TOKEN_NONE;
    }

    void endToken(Token& token) const noexcept
    {
        Traits::setText(s, token, s.input != nullptr ? s.input + s.length : nullptr, 0);
        token.start = int64_t(s.length);
        token.kind = KA_TOKEN_END;
    }

    void continueToken(Token& token) noexcept
    {
        for (;;) {
            uint32_t c = readChar();
            if (atEnd())
                break;
            uint64_t at = lastStart();
            bool goesOn = false;
            switch (token.kind) {
            case KA_TOKEN_RUN: goesOn = c > 0x20 && !isRunStop(c); break;
            case KA_TOKEN_SQL_WORD:
                if (Traits::isLetterOrDigit(s, c, at) || c == '_' || c == '#' || c == '$') {
                    goesOn = true;
                    break;
                }
                [[fallthrough]];
            case KA_TOKEN_WORD:
                if (s.delimiterChars.len != 0)
                    goesOn = !Traits::inSet(s.delimiterChars, c);
                else
                    goesOn = Traits::isLetterOrDigit(s, c, at) || c == '_' || Traits::inSet(s.wordChars, c);
                break;
            case KA_TOKEN_NUMBER:
                if (c == '.' && option(KaScanOption::decimalNumbers)) {
                    token.kind = KA_TOKEN_NUMBER_AT_END;
                    goesOn = true;
                    break;
                }
                [[fallthrough]];
            case KA_TOKEN_NUMBER_AT_END:
                goesOn = Traits::isDigit(c);
                if (!goesOn)
                    token.kind = KA_TOKEN_NUMBER;
                break;
            default: break;
            }
            if (!goesOn) {
                unreadChar();
                break;
            }
        }
        extendTo(token);
    }
};
