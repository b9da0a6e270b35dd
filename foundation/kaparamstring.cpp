// Message texts with numbered placeholders.
#include "foundation/kaparamstring.h"

#include <cstring>
#include <unicode/ustring.h>

#include "foundation/kastr.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"

namespace {

// "%", kind, "x" from the tenth parameter on, up to five digits.
constexpr size_t kPlaceholderMax = 8;
constexpr size_t kNumberTextMax = 24;

template <typename Unit>
size_t buildPlaceholder(Unit* out, Unit kind, uint16_t number) noexcept
{
    size_t n = 0;
    out[n++] = Unit('%');
    out[n++] = kind;
    if (number >= 10)
        out[n++] = Unit('x');
    char digits[8];
    size_t d = u64ToTextN(digits, sizeof digits, number);
    for (size_t i = 0; i < d; ++i)
        out[n++] = Unit(digits[i]);
    return n;
}

template <typename Unit>
size_t findUnits(const Unit* text, size_t len, const Unit* pattern, size_t patternLen, size_t start) noexcept
{
    if (patternLen == 0 || len < patternLen)
        return len;
    for (size_t i = start; i + patternLen <= len; ++i) {
        if (text[i] == pattern[0] && memcmp(text + i, pattern, patternLen * sizeof(Unit)) == 0)
            return i;
    }
    return len;
}

}  // namespace

// ---- KaParamSpans -------------------------------------------------------

KaParamSpans::~KaParamSpans()
{
    ramFree(spans_);
}

void KaParamSpans::clear() noexcept
{
    ramFree(spans_);
    spans_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

int KaParamSpans::overlaps(size_t pos, size_t n) const noexcept
{
    for (size_t i = 0; i < count_; ++i) {
        const KaParamSpan& s = spans_[i];
        if (s.len == 0) {
            // Where a parameter was removed, the text on both sides may
            // join into something that looks like a placeholder.
            if (s.start > pos && s.start < pos + n)
                return 1;
        } else if (s.start < pos + n && pos < s.start + s.len) {
            return 1;
        }
    }
    return 0;
}

int KaParamSpans::replaced(size_t pos, size_t count, size_t n) noexcept
{
    if (count_ == capacity_) {
        size_t want = capacity_ == 0 ? 8 : capacity_ * 2;
        auto* grown = static_cast<KaParamSpan*>(ramAlloc(want * sizeof(KaParamSpan)));
        if (grown == nullptr)
            return 1;
        if (count_ != 0)
            memcpy(grown, spans_, count_ * sizeof(KaParamSpan));
        ramFree(spans_);
        spans_ = grown;
        capacity_ = want;
    }
    for (size_t i = 0; i < count_; ++i) {
        if (spans_[i].start >= pos + count)
            spans_[i].start = spans_[i].start - count + n;
    }
    spans_[count_++] = KaParamSpan{pos, n};
    return 0;
}

namespace {

// Replaces every placeholder of the given kind and number in the string,
// passing over text that earlier parameters put in; 1 when the string could
// not grow.
template <typename Str, typename Unit>
int replacePlaceholder(Str& s, KaParamSpans& spans, Unit kind, uint16_t number, const Unit* text, size_t n) noexcept
{
    Unit placeholder[kPlaceholderMax];
    size_t pLen = buildPlaceholder<Unit>(placeholder, kind, number);
    if (s.data == nullptr)
        return 0;
    size_t pos = 0;
    for (;;) {
        size_t at = findUnits<Unit>(s.data, s.len, placeholder, pLen, pos);
        if (at >= s.len)
            break;
        if (spans.overlaps(at, pLen)) {
            pos = at + 1;
            continue;
        }
        if (n > pLen) {
            size_t need = s.len + (n - pLen) + 1;
            if (s.capacity < need && s.reserve(need) != 0)
                return 1;
        }
        if (spans.replaced(at, pLen, n) != 0)
            return 1;
        memmove(s.data + at + n, s.data + at + pLen, (s.len - at - pLen) * sizeof(Unit));
        if (n != 0)
            memcpy(s.data + at, text, n * sizeof(Unit));
        s.len = s.len - pLen + n;
        s.data[s.len] = 0;
        pos = at + n;
    }
    return 0;
}

}  // namespace

// What both message strings do around their own text: a fresh template
// restarts the numbering and forgets the inserted spans, and every failure is
// kept in FAILED.
struct KaParamOps {
    template <typename S>
    static void restart(S& s) noexcept
    {
        s.freeBuffer();
        s.paramCount = 0;
        s.spans_.clear();
    }

    template <typename S>
    static int finishSet(S& s, int status) noexcept
    {
        if (status == 0)
            s.paramFlags &= uint8_t(~S::FAILED);
        else
            s.paramFlags |= S::FAILED;
        return status == 0 ? 0 : 1;
    }

    template <typename S>
    static int fail(S& s) noexcept
    {
        s.paramFlags |= S::FAILED;
        return 1;
    }

    template <typename S, typename Unit>
    static int substitute(S& s, Unit kind, const Unit* text, size_t n) noexcept
    {
        ++s.paramCount;
        if (replacePlaceholder(s, s.spans_, kind, s.paramCount, text, n) != 0)
            return fail(s);
        return 0;
    }

    // write(digits) puts the decimal text into kNumberTextMax units.
    template <typename S, typename Unit, typename Write>
    static int substituteNumber(S& s, Write write) noexcept
    {
        Unit digits[kNumberTextMax];
        size_t n = write(digits);
        return substitute(s, Unit('d'), static_cast<const Unit*>(digits), n);
    }

    // Adds the next parameter unless an earlier one failed.
    template <typename S, typename Add>
    static S& chain(S& s, Add add) noexcept
    {
        if (!s.failed())
            (void)add();
        return s;
    }
};

// ---- KaParamStringW -----------------------------------------------------

KaParamStringW::KaParamStringW() noexcept = default;

KaParamStringW::~KaParamStringW() = default;

int KaParamStringW::set(const uint16_t* text) noexcept
{
    return set(text, text == nullptr ? 0 : strLenW(text));
}

int KaParamStringW::set(const uint16_t* text, size_t n) noexcept
{
    KaParamOps::restart(*this);
    static const uint16_t empty[1] = {0};
    return KaParamOps::finishSet(*this, assign(text == nullptr ? empty : text, n));
}

int KaParamStringW::setA(const char* text, int mode) noexcept
{
    KaParamOps::restart(*this);
    if (text == nullptr)
        text = "";
    size_t n = mode == KA_TEXT_UTF16 ? strLenW(reinterpret_cast<const uint16_t*>(text)) : strlen(text);
    return KaParamOps::finishSet(*this, assignNarrow(text, n, mode));
}

int KaParamStringW::setFromConverter(const char* text, UConverter* converter) noexcept
{
    KaParamOps::restart(*this);
    if (text == nullptr)
        text = "";
    return KaParamOps::finishSet(*this, assignFromCodePage(text, strlen(text), converter));
}

int KaParamStringW::setFromCodePage(const char* text, int64_t codePage) noexcept
{
    KaParamOps::restart(*this);
    if (text == nullptr)
        text = "";
    return KaParamOps::finishSet(*this, assignFromCodePageNumber(text, strlen(text), codePage));
}

int KaParamStringW::allocate(size_t units) noexcept
{
    KaParamOps::restart(*this);
    return KaParamOps::finishSet(*this, KaStringW::allocate(units));
}

int KaParamStringW::addParam(const uint16_t* text) noexcept
{
    return KaParamOps::substitute(*this, uint16_t('s'), text, text == nullptr ? 0 : strLenW(text));
}

int KaParamStringW::addParamUnsigned(uint64_t value) noexcept
{
    return KaParamOps::substituteNumber<KaParamStringW, uint16_t>(
        *this, [value](uint16_t* digits) { return u64ToTextWN(digits, kNumberTextMax, value); });
}

int KaParamStringW::addParamSigned(int64_t value) noexcept
{
    return KaParamOps::substituteNumber<KaParamStringW, uint16_t>(
        *this, [value](uint16_t* digits) { return i64ToTextWN(digits, kNumberTextMax, value); });
}

int KaParamStringW::addParamSubString(const KaSubStringW& text) noexcept
{
    return KaParamOps::substitute(*this, uint16_t('s'), static_cast<const uint16_t*>(text.data),
                                  text.data == nullptr ? 0 : text.len);
}

int KaParamStringW::addParamQuoted(const uint16_t* text, uint16_t quote) noexcept
{
    KaStringW copy;
    static const uint16_t empty[1] = {0};
    if (copy.assign(text == nullptr ? empty : text) != 0 || copy.quote(quote) != 0)
        return KaParamOps::fail(*this);
    return addParamSubString(copy);
}

KaParamStringW& KaParamStringW::chainParam(const uint16_t* text) noexcept
{
    return KaParamOps::chain(*this, [&] { return addParam(text); });
}

KaParamStringW& KaParamStringW::chainUnsigned(uint64_t value) noexcept
{
    return KaParamOps::chain(*this, [&] { return addParamUnsigned(value); });
}

KaParamStringW& KaParamStringW::chainSigned(int64_t value) noexcept
{
    return KaParamOps::chain(*this, [&] { return addParamSigned(value); });
}

KaParamStringW& KaParamStringW::chainSubString(const KaSubStringW& text) noexcept
{
    return KaParamOps::chain(*this, [&] { return addParamSubString(text); });
}

int KaParamStringW::appendTemplate(const uint16_t* text, size_t n) noexcept
{
    if (n != 0 && append(text, n) != 0)
        return KaParamOps::fail(*this);
    if (data != nullptr)
        data[len] = 0;
    paramCount = 0;
    return 0;
}

// ---- KaParamString ------------------------------------------------------

KaParamString::KaParamString() noexcept : KaString() {}

KaParamString::KaParamString(int32_t codePage) noexcept : KaString(codePage) {}

KaParamString::~KaParamString() = default;

int KaParamString::set(const char* text) noexcept
{
    return set(text, KA_TEXT_LOCALE);
}

int KaParamString::set(const char* text, KaTextEncoding cp) noexcept
{
    if (text == nullptr)
        text = "";
    return set(text, strlen(text), cp);
}

int KaParamString::set(const char* text, size_t n) noexcept
{
    return set(text, n, KA_TEXT_LOCALE);
}

int KaParamString::set(const char* text, size_t n, int32_t cp) noexcept
{
    KaParamOps::restart(*this);
    return KaParamOps::finishSet(*this, assign(text == nullptr ? "" : text, n, cp));
}

int KaParamString::allocate(size_t n) noexcept
{
    return allocate(n, KA_TEXT_LOCALE);
}

int KaParamString::allocate(size_t n, int32_t cp) noexcept
{
    KaParamOps::restart(*this);
    return KaParamOps::finishSet(*this, KaString::allocate(n, cp));
}

int KaParamString::addParam(const char* text) noexcept
{
    return KaParamOps::substitute(*this, 's', text, text == nullptr ? 0 : strlen(text));
}

int KaParamString::addParamQuoted(const char* text, char quote) noexcept
{
    KaString copy(codePage);
    if (text == nullptr)
        text = "";
    if (copy.assign(text, strlen(text), codePage) != 0 || copy.quote(quote) != 0)
        return KaParamOps::fail(*this);
    return addParamSubString(copy);
}

int KaParamString::addParamUnsigned(uint64_t value) noexcept
{
    return KaParamOps::substituteNumber<KaParamString, char>(
        *this, [value](char* digits) { return u64ToTextN(digits, kNumberTextMax, value); });
}

int KaParamString::addParamSigned(int64_t value) noexcept
{
    return KaParamOps::substituteNumber<KaParamString, char>(
        *this, [value](char* digits) { return i64ToTextN(digits, kNumberTextMax, value); });
}

int KaParamString::addParamSubString(const KaSubString& text) noexcept
{
    return KaParamOps::substitute(*this, 's', static_cast<const char*>(text.data), text.data == nullptr ? 0 : text.len);
}

KaParamString& KaParamString::chainParam(const char* text) noexcept
{
    return KaParamOps::chain(*this, [&] { return addParam(text); });
}

KaParamString& KaParamString::chainUnsigned(uint64_t value) noexcept
{
    return KaParamOps::chain(*this, [&] { return addParamUnsigned(value); });
}

KaParamString& KaParamString::chainSigned(int64_t value) noexcept
{
    return KaParamOps::chain(*this, [&] { return addParamSigned(value); });
}

KaParamString& KaParamString::chainSubString(const KaSubString& text) noexcept
{
    return KaParamOps::chain(*this, [&] { return addParamSubString(text); });
}
