// Message texts with numbered placeholders.
#include "foundation/kaparamstring.h"

#include <cstring>
#include <unicode/ustring.h>

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
size_t findUnits(const Unit* text, size_t len, const Unit* pattern, size_t patternLen,
                 size_t start) noexcept
{
    if (patternLen == 0 || len < patternLen)
        return len;
    for (size_t i = start; i + patternLen <= len; ++i) {
        if (text[i] == pattern[0] && memcmp(text + i, pattern, patternLen * sizeof(Unit)) == 0)
            return i;
    }
    return len;
}

size_t unitsLength(const uint16_t* text) noexcept
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
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
int replacePlaceholder(Str& s, KaParamSpans& spans, Unit kind, uint16_t number, const Unit* text,
                       size_t n) noexcept
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

// ---- KaParamStringW -----------------------------------------------------

KaParamStringW::KaParamStringW() noexcept = default;

KaParamStringW::~KaParamStringW() = default;

int KaParamStringW::finishSet(int status) noexcept
{
    if (status == 0)
        paramFlags &= uint8_t(~FAILED);
    else
        paramFlags |= FAILED;
    return status == 0 ? 0 : 1;
}

int KaParamStringW::set(const uint16_t* text) noexcept
{
    return set(text, text == nullptr ? 0 : unitsLength(text));
}

int KaParamStringW::set(const uint16_t* text, size_t n) noexcept
{
    freeBuffer();
    paramCount = 0;
    spans_.clear();
    static const uint16_t empty[1] = {0};
    return finishSet(assign(text == nullptr ? empty : text, n));
}

int KaParamStringW::setA(const char* text, int mode) noexcept
{
    freeBuffer();
    paramCount = 0;
    spans_.clear();
    if (text == nullptr)
        text = "";
    size_t n = mode == KA_TEXT_UTF16 ? unitsLength(reinterpret_cast<const uint16_t*>(text))
                                    : strlen(text);
    return finishSet(assignNarrow(text, n, mode));
}

int KaParamStringW::setFromConverter(const char* text, UConverter* converter) noexcept
{
    freeBuffer();
    paramCount = 0;
    spans_.clear();
    if (text == nullptr)
        text = "";
    return finishSet(assignFromCodePage(text, strlen(text), converter));
}

int KaParamStringW::setFromCodePage(const char* text, int64_t codePage) noexcept
{
    freeBuffer();
    paramCount = 0;
    spans_.clear();
    if (text == nullptr)
        text = "";
    return finishSet(assignFromCodePageNumber(text, strlen(text), codePage));
}

int KaParamStringW::allocate(size_t units) noexcept
{
    freeBuffer();
    paramCount = 0;
    spans_.clear();
    return finishSet(KaStringW::allocate(units));
}

int KaParamStringW::substitute(uint16_t kind, const uint16_t* text, size_t n) noexcept
{
    ++paramCount;
    if (replacePlaceholder(*this, spans_, kind, paramCount, text, n) != 0) {
        paramFlags |= FAILED;
        return 1;
    }
    return 0;
}

int KaParamStringW::addParam(const uint16_t* text) noexcept
{
    return substitute(u's', text, text == nullptr ? 0 : unitsLength(text));
}

int KaParamStringW::addParamUnsigned(uint64_t value) noexcept
{
    uint16_t digits[kNumberTextMax];
    size_t n = u64ToTextWN(digits, kNumberTextMax, value);
    return substitute(u'd', digits, n);
}

int KaParamStringW::addParamSigned(int64_t value) noexcept
{
    uint16_t digits[kNumberTextMax];
    size_t n = i64ToTextWN(digits, kNumberTextMax, value);
    return substitute(u'd', digits, n);
}

int KaParamStringW::addParamSubString(const KaSubStringW& text) noexcept
{
    return substitute(u's', text.data, text.data == nullptr ? 0 : text.len);
}

int KaParamStringW::addParamQuoted(const uint16_t* text, uint16_t quote) noexcept
{
    KaStringW copy;
    static const uint16_t empty[1] = {0};
    if (copy.assign(text == nullptr ? empty : text) != 0 || copy.quote(quote) != 0) {
        paramFlags |= FAILED;
        return 1;
    }
    return addParamSubString(copy);
}

KaParamStringW& KaParamStringW::chainParam(const uint16_t* text) noexcept
{
    if (!failed())
        addParam(text);
    return *this;
}

KaParamStringW& KaParamStringW::chainUnsigned(uint64_t value) noexcept
{
    if (!failed())
        addParamUnsigned(value);
    return *this;
}

KaParamStringW& KaParamStringW::chainSigned(int64_t value) noexcept
{
    if (!failed())
        addParamSigned(value);
    return *this;
}

KaParamStringW& KaParamStringW::chainSubString(const KaSubStringW& text) noexcept
{
    if (!failed())
        addParamSubString(text);
    return *this;
}

int KaParamStringW::appendTemplate(const uint16_t* text, size_t n) noexcept
{
    if (n != 0 && append(text, n) != 0) {
        paramFlags |= FAILED;
        return 1;
    }
    if (data != nullptr)
        data[len] = 0;
    paramCount = 0;
    return 0;
}

// ---- KaParamString ------------------------------------------------------

KaParamString::KaParamString() noexcept : KaString() {}

KaParamString::KaParamString(int32_t codePage) noexcept : KaString(codePage) {}

KaParamString::~KaParamString() = default;

int KaParamString::finishSet(int status) noexcept
{
    if (status == 0)
        paramFlags &= uint8_t(~FAILED);
    else
        paramFlags |= FAILED;
    return status == 0 ? 0 : 1;
}

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
    freeBuffer();
    paramCount = 0;
    spans_.clear();
    return finishSet(assign(text == nullptr ? "" : text, n, cp));
}

int KaParamString::allocate(size_t n) noexcept
{
    return allocate(n, KA_TEXT_LOCALE);
}

int KaParamString::allocate(size_t n, int32_t cp) noexcept
{
    freeBuffer();
    paramCount = 0;
    spans_.clear();
    return finishSet(KaString::allocate(n, cp));
}

int KaParamString::substitute(char kind, const char* text, size_t n) noexcept
{
    ++paramCount;
    if (replacePlaceholder(*this, spans_, kind, paramCount, text, n) != 0) {
        paramFlags |= FAILED;
        return 1;
    }
    return 0;
}

int KaParamString::addParam(const char* text) noexcept
{
    return substitute('s', text, text == nullptr ? 0 : strlen(text));
}

int KaParamString::addParamQuoted(const char* text, char quote) noexcept
{
    KaString copy(codePage);
    if (text == nullptr)
        text = "";
    if (copy.assign(text, strlen(text), codePage) != 0 || copy.quote(quote) != 0) {
        paramFlags |= FAILED;
        return 1;
    }
    return substitute('s', copy.data, copy.len);
}

int KaParamString::addParamUnsigned(uint64_t value) noexcept
{
    char digits[kNumberTextMax];
    size_t n = u64ToTextN(digits, kNumberTextMax, value);
    return substitute('d', digits, n);
}

int KaParamString::addParamSigned(int64_t value) noexcept
{
    char digits[kNumberTextMax];
    size_t n = i64ToTextN(digits, kNumberTextMax, value);
    return substitute('d', digits, n);
}

int KaParamString::addParamSubString(const KaSubString& text) noexcept
{
    return substitute('s', text.data, text.data == nullptr ? 0 : text.len);
}

KaParamString& KaParamString::chainParam(const char* text) noexcept
{
    if (!failed())
        addParam(text);
    return *this;
}

KaParamString& KaParamString::chainUnsigned(uint64_t value) noexcept
{
    if (!failed())
        addParamUnsigned(value);
    return *this;
}

KaParamString& KaParamString::chainSigned(int64_t value) noexcept
{
    if (!failed())
        addParamSigned(value);
    return *this;
}

KaParamString& KaParamString::chainSubString(const KaSubString& text) noexcept
{
    if (!failed())
        addParamSubString(text);
    return *this;
}
