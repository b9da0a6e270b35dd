// The 8-bit tokenizer. A character is stepped by the scanner's encoding, but
// fixed characters (quotes, brackets, separators, operators) are compared
// with its first byte, so the trail bytes of a multibyte character never
// match them; letters and white space are judged by the process locale.
#include "sql/bytescanner.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <unicode/uchar.h>

#include "foundation/kaarray.h"
#include "foundation/kaowner.h"
#include "foundation/kastr.h"
#include "sql/kascanlogic.h"

namespace {

// mblen looks at no more than this many bytes for a locale character.
constexpr size_t kLocaleCharMax = 2;
// The longest UTF-8 sequence a lead byte announces.
constexpr uint64_t kUtf8CharMax = 4;

// The character at the offset as the process locale reads it; false when it
// is not a valid character there.
bool wideAt(const KaScanner& s, uint64_t at, wchar_t* out)
{
    if (at >= s.length)
        return false;
    std::mbstate_t state{};
    uint64_t left = s.length - at;
    size_t max = MB_CUR_MAX < left ? MB_CUR_MAX : size_t(left);
    size_t n = std::mbrtowc(out, s.input + at, max, &state);
    return n != size_t(-1) && n != size_t(-2);
}

struct KaScanTraitsA {
    using Scanner = KaScanner;
    using Token = KaToken;
    using Unit = char;
    using View = KaSubString;
    using String = KaString;

    // The value is the first byte. A UTF-8 sequence ends at the first byte
    // that cannot continue it, so that a cut or broken sequence never takes
    // a quote or separator after it along.
    static uint32_t decode(const KaScanner& s, uint64_t at, uint64_t* units) noexcept
    {
        auto lead = static_cast<unsigned char>(s.input[at]);
        uint64_t left = s.length - at;
        uint64_t n = 1;
        if (lead >= 0x80 && s.encoding == KA_TEXT_UTF8) {
            uint64_t announced = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : kUtf8CharMax;
            while (n < announced && n < left && (static_cast<unsigned char>(s.input[at + n]) & 0xC0) == 0x80)
                ++n;
        } else if (lead >= 0x80 && left >= kLocaleCharMax) {
            std::mbstate_t state{};
            if (std::mbrlen(s.input + at, kLocaleCharMax, &state) == kLocaleCharMax)
                n = kLocaleCharMax;
        }
        *units = n;
        return lead;
    }

    static bool isSpace(const KaScanner& s, uint32_t, uint64_t at) noexcept
    {
        wchar_t wc = 0;
        return wideAt(s, at, &wc) && std::iswspace(wint_t(wc)) != 0;
    }

    static bool isLetter(const KaScanner& s, uint32_t, uint64_t at) noexcept
    {
        wchar_t wc = 0;
        return wideAt(s, at, &wc) && std::iswalpha(wint_t(wc)) != 0;
    }

    static bool isLetterOrDigit(const KaScanner& s, uint32_t, uint64_t at) noexcept
    {
        wchar_t wc = 0;
        return wideAt(s, at, &wc) && std::iswalnum(wint_t(wc)) != 0;
    }

    static bool isDigit(uint32_t ch) noexcept { return u_isdigit(UChar32(ch)) != 0; }

    static bool inSet(const KaString& set, uint32_t ch) noexcept
    {
        return set.data != nullptr && set.len != 0 && std::memchr(set.data, int(ch), set.len) != nullptr;
    }

    // The flag bit of an option; the 8-bit scanner has no bracketed names.
    static uint8_t bit(KaScanOption o) noexcept
    {
        switch (o) {
        case KaScanOption::braceGroups: return KaScanner::braceGroups;
        case KaScanOption::parenGroups: return KaScanner::parenGroups;
        case KaScanOption::returnComments: return KaScanner::returnComments;
        case KaScanOption::skipComments: return KaScanner::skipComments;
        case KaScanOption::decimalNumbers: return KaScanner::decimalNumbers;
        case KaScanOption::atEnd: return KaScanner::atEnd;
        case KaScanOption::bracketGroups: break;
        }
        return 0;
    }

    static bool option(const KaScanner& s, KaScanOption o) noexcept { return s.option(bit(o)); }

    static void setOption(KaScanner& s, KaScanOption o, bool on) noexcept { s.setOption(bit(o), on); }

    static void setText(const KaScanner& s, KaToken& token, const char* text, size_t n) noexcept
    {
        token.set(text, n, int32_t(s.encoding));
    }

    static void setLength(KaToken& token, size_t n) noexcept
    {
        token.len = n;
        token.lenAtSet = n;
    }

    static bool wordsEqual(const char* a, size_t alen, const char* b, size_t blen, bool exact) noexcept
    {
        if (alen != blen)
            return false;
        if (alen == 0)
            return true;
        if (exact)
            return std::memcmp(a, b, alen) == 0;
        return strEqualNoCaseN(a, alen, b, blen) != 0;
    }

    static size_t measure(const char* terminated) noexcept { return std::strlen(terminated); }

    static KaObject* newItem(const KaScanner& s, const char* text, size_t n, bool copy) noexcept
    {
        if (!copy)
            return new KaSubString(text, n, int32_t(s.encoding));
        std::unique_ptr<KaString> owned(new KaString(int32_t(s.encoding)));
        if (owned != nullptr && owned->assign(text != nullptr ? text : "", n, int32_t(s.encoding)) != 0)
            return nullptr;
        return owned.release();
    }
};

using Logic = KaScanLogic<KaScanTraitsA>;

}  // namespace

// ---- KaToken ------------------------------------------------------------------

KaToken::KaToken() noexcept : KaSubString(int32_t(KA_TEXT_LOCALE)) {}

KaToken::KaToken(int32_t encodingKind) noexcept : KaSubString(encodingKind) {}

KaToken::KaToken(const char* text, size_t count, int64_t startOffset) noexcept
    : KaSubString(text, count, int32_t(KA_TEXT_LOCALE)), start(startOffset)
{}

KaToken::KaToken(const char* text, size_t count, int64_t startOffset, int32_t encodingKind) noexcept
    : KaSubString(text, count, encodingKind), start(startOffset)
{}

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
    Logic(*this).setInput(bytes, count);
    encoding = kind;
}

void KaScanner::bindString(KaString& editable) noexcept
{
    Logic(*this).bindString(editable);
}

void KaScanner::resetOptions() noexcept
{
    Logic(*this).resetOptions();
}

int KaScanner::setWordStartChars(const KaSubString& characters) noexcept
{
    return Logic::fillSet(wordStartChars, characters);
}

int KaScanner::setWordChars(const KaSubString& characters) noexcept
{
    return Logic::fillSet(wordChars, characters);
}

// ---- reading ---------------------------------------------------------------------

void KaScanner::nextToken(KaToken& token, int mode) noexcept
{
    Logic(*this).nextToken(token, mode);
}

void KaScanner::nextItem(KaToken& token, char separator) noexcept
{
    Logic(*this).nextItem(token, static_cast<unsigned char>(separator));
}

void KaScanner::pushBack(const KaToken& token) noexcept
{
    Logic(*this).pushBack(token);
}

void KaScanner::tokenAt(KaToken& token, uint64_t offset, uint64_t count) const noexcept
{
    Logic::tokenAt(*this, token, offset, count);
}

void KaScanner::readQuoted(KaToken& token, uint8_t quote) noexcept
{
    Logic(*this).readQuoted(token, quote);
}

void KaScanner::readBracketed(KaToken& token, uint8_t close) noexcept
{
    Logic(*this).readQuoted(token, close);
}

void KaScanner::readGroup(KaToken& token, uint8_t open, uint8_t close) noexcept
{
    Logic(*this).readGroup(token, open, close);
}

void KaScanner::readComment(KaToken& token) noexcept
{
    Logic(*this).readComment(token);
}

// ---- word-sequence matching --------------------------------------------------------

int KaScanner::matchText(KaToken& token, const char* words) noexcept
{
    return Logic(*this).matchText(token, words, false);
}

int KaScanner::matchAny(KaToken& token, const char* list) noexcept
{
    return Logic(*this).matchAny(token, list, false);
}

int KaScanner::matchTextExact(KaToken& token, const char* words) noexcept
{
    return Logic(*this).matchText(token, words, true);
}

int KaScanner::matchAnyExact(KaToken& token, const char* list) noexcept
{
    return Logic(*this).matchAny(token, list, true);
}

// ---- editing and splitting ---------------------------------------------------------

int KaScanner::replaceToken(KaToken& token, const KaSubString& replacement) noexcept
{
    return Logic(*this).replaceToken(token, replacement);
}

int KaScanner::insertBefore(KaToken& token, const KaSubString& text) noexcept
{
    return Logic(*this).insertBefore(token, text);
}

int KaScanner::splitToSubstrings(KaArray& out, char separator) noexcept
{
    return Logic(*this).split(out, static_cast<unsigned char>(separator), false);
}

int KaScanner::splitToStrings(KaArray& out, char separator) noexcept
{
    return Logic(*this).split(out, static_cast<unsigned char>(separator), true);
}
