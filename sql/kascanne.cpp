// The UTF-16 tokenizer: characters are code points, classified by ICU.
#include "sql/kascanne.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include "foundation/kaarray.h"
#include "foundation/kaowner.h"
#include "foundation/kastr.h"
#include "sql/kascanlogic.h"

namespace {

struct KaScanTraitsW {
    using Scanner = KaScannerW;
    using Token = KaTokenW;
    using Unit = uint16_t;
    using View = KaSubStringW;
    using String = KaStringW;

    // A high surrogate makes one character only with a low surrogate after
    // it; alone it is a character of its own, so that it never hides the
    // quote or separator that follows it.
    static uint32_t decode(const KaScannerW& s, uint64_t at, uint64_t* units) noexcept
    {
        uint16_t unit = s.input[at];
        if (U16_IS_LEAD(unit) && at + 1 < s.length && U16_IS_TRAIL(s.input[at + 1])) {
            *units = 2;
            return uint32_t(U16_GET_SUPPLEMENTARY(unit, s.input[at + 1]));
        }
        *units = 1;
        return unit;
    }

    static bool isSpace(const KaScannerW&, uint32_t ch, uint64_t) noexcept { return u_isWhitespace(UChar32(ch)) != 0; }

    static bool isLetter(const KaScannerW&, uint32_t ch, uint64_t) noexcept { return u_isalpha(UChar32(ch)) != 0; }

    static bool isLetterOrDigit(const KaScannerW&, uint32_t ch, uint64_t) noexcept
    {
        if (ch < 0x80)
            return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
        return u_isalnum(UChar32(ch)) != 0;
    }

    // Digits are judged by the single unit.
    static bool isDigit(uint32_t ch) noexcept { return ch <= 0xFFFF && u_isdigit(UChar32(ch)) != 0; }

    static bool inSet(const KaStringW& set, uint32_t ch) noexcept
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

    // The scanner's byte for an option (const or not, as the scanner is).
    template <class S>
    static auto& flag(S& s, KaScanOption o) noexcept
    {
        switch (o) {
        case KaScanOption::braceGroups: return s.braceGroups;
        case KaScanOption::parenGroups: return s.parenGroups;
        case KaScanOption::bracketGroups: return s.bracketGroups;
        case KaScanOption::returnComments: return s.returnComments;
        case KaScanOption::skipComments: return s.skipComments;
        case KaScanOption::decimalNumbers: return s.decimalNumbers;
        case KaScanOption::atEnd: break;
        }
        return s.atEnd;
    }

    static bool option(const KaScannerW& s, KaScanOption o) noexcept { return flag(s, o) != 0; }

    static void setOption(KaScannerW& s, KaScanOption o, bool on) noexcept { flag(s, o) = on ? 1 : 0; }

    static void setText(const KaScannerW&, KaTokenW& token, const uint16_t* text, size_t n) noexcept
    {
        token.set(text, n);
    }

    static void setLength(KaTokenW& token, size_t n) noexcept { token.len = n; }

    static bool wordsEqual(const uint16_t* a, size_t alen, const uint16_t* b, size_t blen, bool exact) noexcept
    {
        if (alen != blen)
            return false;
        if (alen == 0)
            return true;
        if (exact)
            return strEqualMemW(a, b, alen) != 0;
        return strEqualNoCaseNNW(a, alen, b, blen) != 0;
    }

    static size_t measure(const uint16_t* terminated) noexcept { return strLenW(terminated); }

    static KaObject* newItem(const KaScannerW&, const uint16_t* text, size_t n, bool copy) noexcept
    {
        if (!copy)
            return new KaSubStringW(text, n);
        std::unique_ptr<KaStringW> owned(new KaStringW());
        if (owned != nullptr && owned->assign(text, n) != 0)
            return nullptr;
        return owned.release();
    }
};

using Logic = KaScanLogic<KaScanTraitsW>;

}  // namespace

// ---- KaTokenW ---------------------------------------------------------------

KaTokenW::KaTokenW(const uint16_t* text, size_t length, int64_t startOffset) noexcept
    : KaSubStringW(text, length), kind(KA_TOKEN_NONE), start(startOffset)
{}

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
    Logic(*this).setInput(text, count);
}

void KaScannerW::bindString(KaStringW& editable) noexcept
{
    Logic(*this).bindString(editable);
}

void KaScannerW::resetOptions() noexcept
{
    Logic(*this).resetOptions();
}

int KaScannerW::setWordStartChars(const KaSubStringW& characters) noexcept
{
    return Logic::fillSet(wordStartChars, characters);
}

int KaScannerW::setWordChars(const KaSubStringW& characters) noexcept
{
    return Logic::fillSet(wordChars, characters);
}

// ---- reading ----------------------------------------------------------------

void KaScannerW::nextToken(KaTokenW& token, int mode) noexcept
{
    Logic(*this).nextToken(token, mode);
}

void KaScannerW::nextItem(KaTokenW& token, uint16_t separator) noexcept
{
    Logic(*this).nextItem(token, separator);
}

void KaScannerW::pushBack(const KaTokenW& token) noexcept
{
    Logic(*this).pushBack(token);
}

void KaScannerW::tokenAt(KaTokenW& token, uint64_t offset, uint64_t count) const noexcept
{
    Logic::tokenAt(*this, token, offset, count);
}

void KaScannerW::readQuoted(KaTokenW& token, uint16_t quote) noexcept
{
    Logic(*this).readQuoted(token, quote);
}

void KaScannerW::readBracketed(KaTokenW& token, uint16_t close) noexcept
{
    Logic(*this).readQuoted(token, close);
}

void KaScannerW::readGroup(KaTokenW& token, uint16_t open, uint16_t close) noexcept
{
    Logic(*this).readGroup(token, open, close);
}

void KaScannerW::readComment(KaTokenW& token) noexcept
{
    Logic(*this).readComment(token);
}

// ---- word-sequence matching ---------------------------------------------------

int KaScannerW::matchWords(KaTokenW& token, const uint16_t* words, size_t count) noexcept
{
    return Logic(*this).matchSequence(token, words, count, false);
}

int KaScannerW::matchText(KaTokenW& token, const uint16_t* words) noexcept
{
    return Logic(*this).matchText(token, words, false);
}

int KaScannerW::matchAny(KaTokenW& token, const uint16_t* list) noexcept
{
    return Logic(*this).matchAny(token, list, false);
}

int KaScannerW::matchWordsExact(KaTokenW& token, const uint16_t* words, size_t count) noexcept
{
    return Logic(*this).matchSequence(token, words, count, true);
}

int KaScannerW::matchTextExact(KaTokenW& token, const uint16_t* words) noexcept
{
    return Logic(*this).matchText(token, words, true);
}

int KaScannerW::matchAnyExact(KaTokenW& token, const uint16_t* list) noexcept
{
    return Logic(*this).matchAny(token, list, true);
}

// ---- editing and splitting ------------------------------------------------------

int KaScannerW::replaceToken(KaTokenW& token, const KaSubStringW& replacement) noexcept
{
    return Logic(*this).replaceToken(token, replacement);
}

int KaScannerW::insertBefore(KaTokenW& token, const KaSubStringW& text) noexcept
{
    return Logic(*this).insertBefore(token, text);
}

int KaScannerW::splitToSubstrings(KaArray& out, uint16_t separator) noexcept
{
    return Logic(*this).split(out, separator, false);
}

int KaScannerW::splitToStrings(KaArray& out, uint16_t separator) noexcept
{
    return Logic(*this).split(out, separator, true);
}
