// UTF-16 strings, the rewriter and the upper-cased key caches.
#include "foundation/kastringw.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "foundation/codepage.h"
#include "foundation/dbcs.h"
#include "foundation/icucache.h"
#include "foundation/icuconv.h"
#include "foundation/kaowner.h"
#include "foundation/numtext.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kastr.h"
#include "foundation/kastring.h"
#include "foundation/kastringops.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

constexpr size_t kUnit = sizeof(uint16_t);
// Units that hash looks at.
constexpr size_t kHashUnits = 6;

void postConversionFailed() noexcept
{
    errPost(MSG_CONVERSION_FAILED)->setSqlstate("01004")->setSqlstateMsg(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
}

// Length of the character at i of a counted text, never past len.
size_t stepAt(const uint16_t* data, size_t len, size_t i)
{
    return U16_IS_LEAD(data[i]) && i + 1 < len && U16_IS_TRAIL(data[i + 1]) ? 2 : 1;
}

// What the UTF-16 strings bring to the shared bodies.
struct WideText {
    using Unit = uint16_t;
    using View = KaSubStringW;
    using Owned = KaStringW;
    using Rewriter = KaReplaceStringW;

    static size_t stepIn(const uint16_t* p, size_t i, size_t n, const KaSubStringW&) noexcept
    {
        return stepAt(p, n, i);
    }
    static size_t length(const uint16_t* text) noexcept { return wcslen16(text); }
    static bool isSpace(uint16_t u) noexcept { return u < 256 && std::isspace(u) != 0; }
    static bool pairAt(const uint16_t* p) noexcept { return U16_IS_LEAD(p[0]) && U16_IS_TRAIL(p[1]); }
    static bool equalNoCase(const KaSubStringW& v, const uint16_t* entry) noexcept
    {
        return strEqualNoCaseNW(v.data, v.len, entry) != 0;
    }
    static uint16_t* quote(uint16_t* dst, const uint16_t* src, size_t n, const KaSubStringW&, uint16_t q) noexcept
    {
        return strQuoteW(dst, src, n, q);
    }
    static uint16_t* unquote(uint16_t* dst, const uint16_t* src, size_t n) noexcept { return strUnquoteW(dst, src, n); }
    // A high surrogate at the end of the text has lost its partner.
    static bool cutAt(const uint16_t* p, size_t i, size_t n) noexcept { return U16_IS_LEAD(p[i]) && i + 1 >= n; }
    static void postCut() noexcept { postConversionFailed(); }
};

using Ops = KaStringOps;

}  // namespace

// ---- KaSubStringW ------------------------------------------------------------

KaSubStringW::KaSubStringW(const uint16_t* text, size_t length) noexcept
    : len(length), data(const_cast<uint16_t*>(text))
{}

KaSubStringW::KaSubStringW(const uint16_t* terminated) noexcept
    : len(wcslen16(terminated)), data(const_cast<uint16_t*>(terminated))
{}

KaSubStringW::~KaSubStringW() = default;

int16_t KaSubStringW::compare(const KaObject& other) const
{
    const auto& o = static_cast<const KaSubStringW&>(other);
    return static_cast<int16_t>(strCompareNoCaseNNW(data, len, o.data, o.len));
}

void KaSubStringW::set(const uint16_t* text, size_t length) noexcept
{
    data = const_cast<uint16_t*>(text);
    len = length;
}

uint32_t KaSubStringW::hash() const noexcept
{
    uint16_t buf[kHashUnits + 1] = {};
    size_t n = len < kHashUnits ? len : kHashUnits;
    if (data != nullptr)
        Ops::copyUnits(buf, data, n);
    buf[n] = 0;
    KaUtf16StrUpper(buf);
    uint32_t h = 0;
    for (size_t i = 0; i < n; ++i)
        h += static_cast<uint32_t>(buf[i]) << (3 * i);
    return h;
}

size_t KaSubStringW::findChar(uint16_t unit, size_t start) const noexcept
{
    return Ops::findChar<WideText>(*this, unit, start);
}

size_t KaSubStringW::find(const uint16_t* pattern, size_t start) const noexcept
{
    return Ops::find<WideText>(*this, pattern, start);
}

size_t KaSubStringW::countChar(uint16_t unit) const noexcept
{
    return Ops::countChar<WideText>(*this, unit);
}

size_t KaSubStringW::indexIn(const uint16_t* const* list, size_t count) const noexcept
{
    return Ops::indexIn<WideText>(*this, list, count);
}

size_t KaSubStringW::indexInNoCase(const uint16_t* const* list, size_t count) const noexcept
{
    return Ops::indexInNoCase<WideText>(*this, list, count);
}

void KaSubStringW::trimRight() noexcept
{
    Ops::trimRight<WideText>(*this);
}

int KaSubStringW::isBraced() const noexcept
{
    return Ops::isBraced(*this);
}

int KaSubStringW::needsBraces() const noexcept
{
    return Ops::needsBraces<WideText>(*this);
}

int KaSubStringW::stripBracesInto(KaStringW& dest) const noexcept
{
    return Ops::stripBracesInto<WideText>(*this, dest);
}

int KaSubStringW::unescapeBracedInto(KaStringW& dest, uint16_t closing) const noexcept
{
    return Ops::unescapeBracedInto<WideText>(*this, dest, closing);
}

uint16_t* KaSubStringW::unquoteInto(uint16_t* dest) const noexcept
{
    strUnquoteW(dest, data, len);
    return dest;
}

uint16_t* KaSubStringW::quoteInto(uint16_t* dest) const noexcept
{
    strQuoteW(dest, data, len, '\'');
    return dest;
}

int KaSubStringW::splitLines(KaArray& out) const noexcept
{
    return Ops::splitLines<WideText>(*this, out);
}

// ---- KaStringW ---------------------------------------------------------------

KaStringW::~KaStringW()
{
    Ops::releaseOwned(*this);
    data = nullptr;
    releaseNarrow();
}

void KaStringW::releaseNarrow() noexcept
{
    if (narrow == nullptr)
        return;
    if (wipes)
        fastMemzero(narrow, narrowBytes);
    ramFree(narrow);
    narrow = nullptr;
    narrowBytes = 0;
}

int KaStringW::reserve(size_t newCapacity) noexcept
{
    return Ops::reserve<WideText>(*this, newCapacity);
}

int KaStringW::assign(const uint16_t* terminated) noexcept
{
    return assign(terminated, wcslen16(terminated));
}

int KaStringW::assign(const uint16_t* text, size_t n) noexcept
{
    return Ops::assign<WideText>(*this, text, n);
}

int KaStringW::assignNarrow(const char* bytes, size_t n, int32_t form) noexcept
{
    if (form == KA_TEXT_UTF16)
        return assign(reinterpret_cast<const uint16_t*>(bytes), n);
    if (bytes == nullptr)
        n = 0;
    if (form == KA_TEXT_LOCALE) {
        if (n > (SIZE_MAX / kUnit - 1) / 2) {
            ramOutOfMemory();
            return 1;
        }
        uint16_t* block = Ops::newUnits<uint16_t>(2 * n + 1);
        if (block == nullptr)
            return 1;
        size_t w = 0;
        size_t i = 0;
        while (i < n) {
            unsigned char b = static_cast<unsigned char>(bytes[i]);
            if (b < 0x80) {
                block[w++] = b;
                ++i;
                continue;
            }
            std::mbstate_t state{};
            wchar_t wc = 0;
            size_t room = n - i < MB_CUR_MAX ? n - i : MB_CUR_MAX;
            size_t used = std::mbrtowc(&wc, bytes + i, room, &state);
            if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
                // A byte the locale cannot read stands for itself as U+FFFD.
                block[w++] = 0xFFFD;
                ++i;
                continue;
            }
            uint32_t c = static_cast<uint32_t>(wc);
            if (c > 0xFFFF && c <= 0x10FFFF) {
                block[w++] = U16_LEAD(c);
                block[w++] = U16_TRAIL(c);
            } else {
                block[w++] = c > 0xFFFF ? 0xFFFD : static_cast<uint16_t>(c);
            }
            i += used;
        }
        block[w] = 0;
        Ops::takeBlock(*this, block, w, 2 * n + 1);
        return 0;
    }
    if (n > static_cast<size_t>(INT32_MAX) - 1) {
        postConversionFailed();
        return 1;
    }
    uint16_t* block = Ops::newUnits<uint16_t>(n + 1);
    if (block == nullptr)
        return 1;
    int32_t produced = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(reinterpret_cast<UChar*>(block), static_cast<int32_t>(n), &produced, bytes, static_cast<int32_t>(n),
                  &status);
    if (U_FAILURE(status)) {
        Ops::releaseUnits(*this, block, n + 1);
        postConversionFailed();
        return 1;
    }
    block[produced] = 0;
    Ops::takeBlock(*this, block, static_cast<size_t>(produced), n + 1);
    return 0;
}

int KaStringW::assignFromCodePage(const char* bytes, size_t n, UConverter* converter) noexcept
{
    uint16_t* block = Ops::newUnits<uint16_t>(Ops::sizeSum(n, 1));
    if (block == nullptr)
        return 1;
    size_t written = 0;
    if (n > 0) {
        // One unit is kept back for the terminator.
        int32_t result = toUnicodeCounted(block, n, bytes, n, &written, nullptr, converter, 0);
        if (convResultToDiag(result)) {
            Ops::releaseUnits(*this, block, n + 1);
            return 1;
        }
    }
    block[written] = 0;
    Ops::takeBlock(*this, block, written, n + 1);
    return 0;
}

int KaStringW::assignFromCodePageNumber(const char* bytes, size_t n, int64_t codePage) noexcept
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(ianaNameFromNumber(codePage), &status);
    if (U_FAILURE(status)) {
        if (status == U_FILE_ACCESS_ERROR) {
            char number[kNumTextCapacity + 1];
            i64ToText(number, codePage);
            errPost(MSG_CONVERTER_NOT_AVAILABLE)->addParamText(number);
            return 1;
        }
        return icuErrorToDiag(status);
    }
    int result = assignFromCodePage(bytes, n, converter);
    ucnv_close(converter);
    return result;
}

int KaStringW::allocate(size_t n) noexcept
{
    return Ops::allocate<WideText>(*this, n);
}

void KaStringW::attach(uint16_t* buffer, size_t bufferCapacity, size_t length) noexcept
{
    Ops::attach(*this, buffer, bufferCapacity, length);
}

void KaStringW::adopt(uint16_t* buffer, size_t bufferCapacity, size_t length) noexcept
{
    attach(buffer, bufferCapacity, length);
    owns = true;
}

void KaStringW::freeBuffer() noexcept
{
    Ops::freeBuffer(*this);
}

int KaStringW::appendChar(uint16_t unit) noexcept
{
    return Ops::appendChar<WideText>(*this, unit);
}

int KaStringW::append(const uint16_t* text, size_t n) noexcept
{
    return Ops::append<WideText>(*this, text, n);
}

int KaStringW::appendNarrow(const char* bytes, size_t n) noexcept
{
    if (Ops::ensureCapacity(*this, Ops::sizeSum(len, n, 1)) != 0)
        return 1;
    for (size_t i = 0; i < n; ++i)
        data[len + i] = static_cast<unsigned char>(bytes[i]);
    len += n;
    data[len] = 0;
    return 0;
}

int KaStringW::appendNumber(uint64_t value) noexcept
{
    return Ops::appendNumber<WideText>(*this, [value](uint16_t* digits) { return u64ToTextW(digits, value); });
}

int KaStringW::appendSignedNumber(int64_t value) noexcept
{
    return Ops::appendNumber<WideText>(*this, [value](uint16_t* digits) { return i64ToTextW(digits, value); });
}

int KaStringW::replace(size_t pos, size_t count, const uint16_t* text, size_t n) noexcept
{
    return Ops::replace<WideText>(*this, pos, count, text, n);
}

int KaStringW::replaceRange(const KaSubStringW& range, const uint16_t* text, size_t n) noexcept
{
    return Ops::replaceRange<WideText>(*this, range, text, n);
}

int KaStringW::replaceAll(const uint16_t* pattern, size_t patternLen, const uint16_t* replacement, size_t n) noexcept
{
    return Ops::replaceEach<WideText>(*this, pattern, patternLen, patternLen, replacement, n);
}

int KaStringW::replaceAll(const uint16_t* pattern, const uint16_t* replacement) noexcept
{
    return replaceAll(pattern, wcslen16(pattern), replacement, wcslen16(replacement));
}

int KaStringW::quote(uint16_t quoteUnit) noexcept
{
    return Ops::quote<WideText>(*this, quoteUnit);
}

void KaStringW::unquote() noexcept
{
    Ops::unquote<WideText>(*this);
}

int KaStringW::appendQuoted(const KaStringW& other, uint16_t quoteUnit) noexcept
{
    return Ops::appendQuoted<WideText>(*this, other, quoteUnit);
}

int KaStringW::ensureTrailingNewlines(size_t n) noexcept
{
    return Ops::ensureTrailingNewlines<WideText>(*this, n);
}

int KaStringW::wrap(size_t width, uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    return Ops::wrap<WideText>(*this, width, q1, q2, q3);
}

int KaStringW::joinLines(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    return Ops::collapseRuns<WideText>(
        *this, [](uint16_t u) { return u == '\n'; }, q1, q2, q3);
}

int KaStringW::tabsToBlanks(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    return Ops::collapseRuns<WideText>(
        *this, [](uint16_t u) { return u == '\t'; }, q1, q2, q3);
}

int KaStringW::crlfToBlanks(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    return Ops::collapseRuns<WideText>(
        *this, [](uint16_t u) { return u == '\r' || u == '\n'; }, q1, q2, q3);
}

const char* KaStringW::toNarrow(int32_t form) noexcept
{
    releaseNarrow();
    const uint16_t* text = data;
    size_t n = data != nullptr ? len : 0;
    if (form == KA_TEXT_UTF8) {
        if (n > (static_cast<size_t>(INT32_MAX) - 1) / 3) {
            errPost(MSG_CONVERSION_FAILED);
            return nullptr;
        }
        size_t bytes = 3 * n + 1;
        RamWipedPtr<char> block(static_cast<char*>(ramAlloc(bytes)), bytes);
        if (!block)
            return nullptr;
        int32_t produced = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8(block.get(), static_cast<int32_t>(3 * n), &produced, reinterpret_cast<const UChar*>(text),
                    static_cast<int32_t>(n), &status);
        if (U_FAILURE(status)) {
            // Text that is not UTF-16 (a lone surrogate) has no UTF-8 form.
            errPost(MSG_CONVERSION_FAILED);
            return nullptr;
        }
        block.get()[produced] = 0;
        narrow = block.release();
        narrowBytes = bytes;
        return narrow;
    }
    // The locale's encoding: at most MB_CUR_MAX bytes for each character,
    // and no character is shorter than one unit.
    size_t perUnit = MB_CUR_MAX > 3 ? MB_CUR_MAX : 3;
    if (n > (SIZE_MAX - 1) / perUnit) {
        ramOutOfMemory();
        return nullptr;
    }
    size_t bytes = perUnit * n + 1;
    auto* block = static_cast<char*>(ramAlloc(bytes));
    if (block == nullptr)
        return nullptr;
    size_t w = 0;
    for (size_t i = 0; i < n;) {
        uint32_t c = text[i];
        size_t step = stepAt(text, n, i);
        if (step == 2)
            c = U16_GET_SUPPLEMENTARY(text[i], text[i + 1]);
        i += step;
        char mb[MB_LEN_MAX];
        std::mbstate_t state{};
        size_t m = std::wcrtomb(mb, static_cast<wchar_t>(c), &state);
        if (m == static_cast<size_t>(-1)) {
            // A character the locale cannot show.
            mb[0] = '?';
            m = 1;
        }
        std::memcpy(block + w, mb, m);
        w += m;
    }
    block[w] = 0;
    narrow = block;
    narrowBytes = bytes;
    return narrow;
}

// ---- KaStringWEx ----------------------------------------------------------------

KaStringWEx::KaStringWEx() noexcept
{
    wipes = true;
}

KaStringWEx::~KaStringWEx() = default;

int KaStringWEx::reserve(size_t newCapacity) noexcept
{
    return Ops::reserveWiping<WideText>(*this, newCapacity);
}

// ---- KaReplaceStringW -------------------------------------------------------------

KaReplaceStringW::KaReplaceStringW(KaStringW& rewritten) noexcept
    : KaSubStringW(rewritten.data, rewritten.len), target(&rewritten)
{}

KaReplaceStringW::~KaReplaceStringW()
{
    Ops::closeGap<WideText>(*this);
}

int KaReplaceStringW::copyThrough(size_t n) noexcept
{
    Ops::copyThrough<WideText>(*this, n);
    return 0;
}

void KaReplaceStringW::skip(size_t n) noexcept
{
    Ops::skip(*this, n);
}

int KaReplaceStringW::emit(const uint16_t* units, size_t n) noexcept
{
    return Ops::emit<WideText>(*this, units, n);
}

int KaReplaceStringW::emitQuoted(const uint16_t* units, size_t n, uint16_t quoteUnit) noexcept
{
    return Ops::emitQuoted<WideText>(*this, units, n, quoteUnit);
}

// ---- Upper-cased key caches ------------------------------------------------------------

namespace {

void fillUpper(UpperKeyCacheW* cache)
{
    Ops::copyUnits(cache->upper, cache->key->data, cache->keyLen);
    KaUtf16StrUpperN(cache->upper, cache->keyLen);
    cache->filled = true;
}

void fillUpper(UpperKeyCache* cache)
{
    Ops::copyUnits(cache->upper, cache->key->data, cache->keyLen);
    KaDbcsStrUpperN(cache->upper, cache->keyLen);
    cache->filled = true;
}

int equalNoCase(const UpperKeyCacheW* cache, const uint16_t* text, size_t length)
{
    return strEqualNoCaseNNW(cache->key->data, cache->keyLen, text, length);
}

int equalNoCase(const UpperKeyCache* cache, const char* text, size_t length)
{
    return strEqualNoCaseN(cache->key->data, cache->keyLen, text, length);
}

// The key's upper-case form is made only when the plain comparison fails and
// the key fits the cache; a longer key is compared without case each time.
template <typename Cache, typename Unit>
int upperKeyEqualIn(Cache* cache, const Unit* text, size_t length)
{
    if (cache->keyLen != length)
        return 0;
    if (!cache->filled) {
        if (length == 0 || fastMemeq(cache->key->data, text, length * sizeof(Unit)))
            return 1;
        if (cache->keyLen > kUpperKeyInline)
            return equalNoCase(cache, text, length);
        fillUpper(cache);
    }
    return length == 0 || fastMemeq(cache->upper, text, length * sizeof(Unit)) ? 1 : 0;
}

}  // namespace

uint16_t upperKeyHashW(UpperKeyCacheW* cache) noexcept
{
    if (cache->keyLen == 0)
        return 0;
    if (cache->keyLen <= kUpperKeyInline) {
        if (!cache->filled)
            fillUpper(cache);
        return cache->upper[0];
    }
    size_t first = stepAt(cache->key->data, cache->keyLen, 0);
    Ops::copyUnits(cache->upper, cache->key->data, first);
    KaUtf16StrUpperN(cache->upper, first);
    return cache->upper[0];
}

int upperKeyCompareW(UpperKeyCacheW* cache, const uint16_t* text, size_t length) noexcept
{
    if (cache->keyLen > kUpperKeyInline)
        return strCompareNoCaseNNW(cache->key->data, cache->keyLen, text, length);
    if (!cache->filled)
        fillUpper(cache);
    return strCompareCodePointNW(cache->upper, cache->keyLen, text, length);
}

int upperKeyEqualW(UpperKeyCacheW* cache, const uint16_t* text, size_t length) noexcept
{
    return upperKeyEqualIn(cache, text, length);
}

int upperKeyEqual(UpperKeyCache* cache, const char* text, size_t length) noexcept
{
    return upperKeyEqualIn(cache, text, length);
}

char* strDupUtf8W(const uint16_t* text) noexcept
{
    static const uint16_t kEmpty[1] = {0};
    KaStringW wide;
    if (wide.assign(text != nullptr ? text : kEmpty, strLenOrZeroW(text)) != 0)
        return nullptr;
    const char* narrow = wide.toNarrow(KA_TEXT_UTF8);
    if (narrow == nullptr)
        return nullptr;
    size_t n = std::strlen(narrow);
    auto* out = static_cast<char*>(ramAlloc(n + 1));
    if (out != nullptr)
        std::memcpy(out, narrow, n + 1);
    return out;
}
