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
#include "foundation/numtext.h"
#include "foundation/fast.h"
#include "foundation/kaarray.h"
#include "foundation/kaerror.h"
#include "foundation/kastr.h"
#include "foundation/kastring.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

constexpr size_t kUnit = sizeof(uint16_t);
// Units that hash looks at.
constexpr size_t kHashUnits = 6;
// Digits of the longest 64-bit number, and one more for a sign.
constexpr size_t kNumberUnits = 21;

void copyUnits(uint16_t* dst, const void* src, size_t n)
{
    if (n > 0)
        std::memmove(dst, src, n * kUnit);
}

// Length of the character at i of a counted text, never past len.
size_t stepAt(const uint16_t* data, size_t len, size_t i)
{
    return U16_IS_LEAD(data[i]) && i + 1 < len && U16_IS_TRAIL(data[i + 1]) ? 2 : 1;
}

bool inside(const KaStringW& s, const uint16_t* p)
{
    return s.data != nullptr && p >= s.data && p < s.data + s.capacity;
}

}  // namespace

// ---- KaSubStringW ------------------------------------------------------------

KaSubStringW::KaSubStringW(const uint16_t* text, size_t length) noexcept
    : len(length), data(const_cast<uint16_t*>(text))
{
}

KaSubStringW::KaSubStringW(const uint16_t* terminated) noexcept
    : len(wcslen16(terminated)), data(const_cast<uint16_t*>(terminated))
{
}

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
        copyUnits(buf, data, n);
    buf[n] = 0;
    KaUtf16StrUpper(buf);
    uint32_t h = 0;
    for (size_t i = 0; i < n; ++i)
        h += static_cast<uint32_t>(buf[i]) << (3 * i);
    return h;
}

size_t KaSubStringW::findChar(uint16_t unit, size_t start) const noexcept
{
    if (data == nullptr || start >= len)
        return len;
    for (size_t i = start; i < len; i += stepAt(data, len, i))
        if (data[i] == unit)
            return i;
    return len;
}

size_t KaSubStringW::find(const uint16_t* pattern, size_t start) const noexcept
{
    size_t plen = wcslen16(pattern);
    if (data == nullptr || plen == 0)
        return len;
    for (size_t i = start; i < len && plen <= len - i; i += stepAt(data, len, i))
        if (data[i] == pattern[0] && std::memcmp(data + i, pattern, plen * kUnit) == 0)
            return i;
    return len;
}

size_t KaSubStringW::countChar(uint16_t unit) const noexcept
{
    size_t count = 0;
    if (data == nullptr)
        return 0;
    for (size_t i = 0; i < len && data[i] != 0; i += stepAt(data, len, i))
        if (data[i] == unit)
            ++count;
    return count;
}

size_t KaSubStringW::indexIn(const uint16_t* const* list, size_t count) const noexcept
{
    for (size_t k = 0; k < count; ++k)
        if (strEqualNW(data, len, list[k]))
            return k;
    return count;
}

size_t KaSubStringW::indexInNoCase(const uint16_t* const* list, size_t count) const noexcept
{
    for (size_t k = 0; k < count; ++k)
        if (strEqualNoCaseNW(data, len, list[k]))
            return k;
    return count;
}

void KaSubStringW::trimRight() noexcept
{
    while (len > 0 && data[len - 1] < 256 && std::isspace(data[len - 1]))
        --len;
}

int KaSubStringW::isBraced() const noexcept
{
    return data != nullptr && len >= 2 && data[0] == '{' && data[len - 1] == '}' ? 1 : 0;
}

int KaSubStringW::needsBraces() const noexcept
{
    if (len == 0 || data == nullptr)
        return 0;
    return data[0] == '{' || findChar(';', 0) < len ? 1 : 0;
}

int KaSubStringW::stripBracesInto(KaStringW& dest) const noexcept
{
    dest.len = 0;
    if (!isBraced())
        return 0;
    if (dest.append(data + 1, len - 2))
        return 1;
    dest.data[dest.len] = 0;
    return 0;
}

int KaSubStringW::unescapeBracedInto(KaStringW& dest, uint16_t closing) const noexcept
{
    if (dest.reserve(len + dest.len + 1))
        return 1;
    size_t w = 0;
    if (data != nullptr && len > 0) {
        size_t last = len - 1;
        for (size_t i = 1; i < last;) {
            uint16_t u = data[i];
            if (u == closing) {
                // A doubled closing unit stands for one.
                dest.data[w++] = data[i + 1];
                i += 2;
                continue;
            }
            if (U16_IS_LEAD(u)) {
                dest.data[w++] = u;
                if (i + 1 >= len)
                    break;
                dest.data[w++] = data[i + 1];
                i += 2;
                continue;
            }
            dest.data[w++] = u;
            ++i;
        }
    }
    dest.len = w;
    return 0;
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
    // Cut by counted search: a view may end where its buffer ends.
    out.flags |= KaArray::ownsElements;
    size_t start = 0;
    while (start <= len) {
        size_t nl = findChar('\n', start);
        if (nl > start) {
            auto* line = new KaStringW();
            if (line == nullptr)
                return 1;
            if (line->assign(data + start, nl - start) != 0 || out.append(line) != 0) {
                delete line;
                return 1;
            }
        }
        if (nl >= len)
            break;
        start = nl + 1;
    }
    return 0;
}

// ---- KaStringW ---------------------------------------------------------------

KaStringW::~KaStringW()
{
    if (owns && data != nullptr)
        releaseBlock(data, capacity * kUnit);
    data = nullptr;
    releaseNarrow();
}

void KaStringW::releaseBlock(void* block, size_t bytes) const noexcept
{
    if (block == nullptr)
        return;
    if (wipes)
        fastMemzero(block, bytes);
    ramFree(block);
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
    if (!owns) {
        errPost(MSG_STRING_BUFFER_BORROWED);
        return 1;
    }
    if (newCapacity > SIZE_MAX / kUnit) {
        ramOutOfMemory();
        return 1;
    }
    if (data == nullptr) {
        auto* block = static_cast<uint16_t*>(ramAlloc(newCapacity * kUnit));
        if (block == nullptr)
            return 1;
        data = block;
    } else {
        void* block = data;
        if (ramRealloc(&block, newCapacity * kUnit))
            return 1;
        data = static_cast<uint16_t*>(block);
    }
    capacity = newCapacity;
    return 0;
}

int KaStringW::ensure(size_t needed) noexcept
{
    if (data != nullptr && capacity >= needed)
        return 0;
    return reserve(needed);
}

// Replaces the buffer by a new owned block of n units; the old one is given
// up (wiped first by the wiping form).
static uint16_t* newUnits(size_t n)
{
    if (n > SIZE_MAX / kUnit) {
        ramOutOfMemory();
        return nullptr;
    }
    return static_cast<uint16_t*>(ramAlloc(n * kUnit));
}

int KaStringW::assign(const uint16_t* terminated) noexcept
{
    return assign(terminated, wcslen16(terminated));
}

int KaStringW::assign(const uint16_t* text, size_t n) noexcept
{
    uint16_t* block = newUnits(n + 1);
    if (block == nullptr)
        return 1;
    if (text != nullptr)
        copyUnits(block, text, n);
    else
        n = 0;
    block[n] = 0;
    if (owns && data != nullptr)
        releaseBlock(data, capacity * kUnit);
    data = block;
    len = n;
    capacity = n + 1;
    owns = true;
    return 0;
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
        uint16_t* block = newUnits(2 * n + 1);
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
        if (owns && data != nullptr)
            releaseBlock(data, capacity * kUnit);
        data = block;
        len = w;
        capacity = 2 * n + 1;
        owns = true;
        return 0;
    }
    if (n > static_cast<size_t>(INT32_MAX) - 1) {
        errPost(MSG_CONVERSION_FAILED)->setSqlstate("01004")->setSqlstateMsg(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        return 1;
    }
    uint16_t* block = newUnits(n + 1);
    if (block == nullptr)
        return 1;
    int32_t produced = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(reinterpret_cast<UChar*>(block), static_cast<int32_t>(n), &produced, bytes,
                  static_cast<int32_t>(n), &status);
    if (U_FAILURE(status)) {
        releaseBlock(block, (n + 1) * kUnit);
        errPost(MSG_CONVERSION_FAILED)->setSqlstate("01004")->setSqlstateMsg(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        return 1;
    }
    block[produced] = 0;
    if (owns && data != nullptr)
        releaseBlock(data, capacity * kUnit);
    data = block;
    len = static_cast<size_t>(produced);
    capacity = n + 1;
    owns = true;
    return 0;
}

int KaStringW::assignFromCodePage(const char* bytes, size_t n, UConverter* converter) noexcept
{
    uint16_t* block = newUnits(n + 1);
    if (block == nullptr)
        return 1;
    size_t written = 0;
    if (n > 0) {
        // One unit is kept back for the terminator.
        int32_t result = toUnicodeCounted(block, n, bytes, n, &written, nullptr, converter, 0);
        if (convResultToDiag(result)) {
            releaseBlock(block, (n + 1) * kUnit);
            return 1;
        }
    }
    block[written] = 0;
    if (owns && data != nullptr)
        releaseBlock(data, capacity * kUnit);
    data = block;
    len = written;
    capacity = n + 1;
    owns = true;
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
    uint16_t* block = newUnits(n + 1);
    if (block == nullptr)
        return 1;
    if (owns && data != nullptr)
        releaseBlock(data, capacity * kUnit);
    data = block;
    data[0] = 0;
    len = 0;
    capacity = n + 1;
    owns = true;
    return 0;
}

void KaStringW::attach(uint16_t* buffer, size_t bufferCapacity, size_t length) noexcept
{
    if (owns && data != nullptr && data != buffer)
        releaseBlock(data, capacity * kUnit);
    data = buffer;
    capacity = bufferCapacity;
    len = length;
    owns = false;
}

void KaStringW::adopt(uint16_t* buffer, size_t bufferCapacity, size_t length) noexcept
{
    attach(buffer, bufferCapacity, length);
    owns = true;
}

void KaStringW::freeBuffer() noexcept
{
    if (owns && data != nullptr)
        releaseBlock(data, capacity * kUnit);
    data = nullptr;
    len = 0;
    capacity = 0;
}

int KaStringW::appendChar(uint16_t unit) noexcept
{
    if (ensure(len + 2))
        return 1;
    data[len++] = unit;
    return 0;
}

int KaStringW::append(const uint16_t* text, size_t n) noexcept
{
    if (n == 0 || text == nullptr)
        return ensure(len + 1);
    // The text may lie in this string's own buffer, which growth moves.
    bool own = inside(*this, text);
    size_t offset = own ? static_cast<size_t>(text - data) : 0;
    if (ensure(len + n + 1))
        return 1;
    if (own)
        text = data + offset;
    copyUnits(data + len, text, n);
    len += n;
    return 0;
}

int KaStringW::appendNarrow(const char* bytes, size_t n) noexcept
{
    if (ensure(len + n + 1))
        return 1;
    for (size_t i = 0; i < n; ++i)
        data[len + i] = static_cast<unsigned char>(bytes[i]);
    len += n;
    return 0;
}

int KaStringW::appendNumber(uint64_t value) noexcept
{
    if (ensure(len + kNumberUnits))
        return 1;
    size_t n = u64ToTextWN(data + len, kNumberUnits - 1, value);
    len += n;
    data[len] = 0;
    return 0;
}

int KaStringW::appendSignedNumber(int64_t value) noexcept
{
    if (ensure(len + kNumberUnits + 1))
        return 1;
    size_t n = i64ToTextWN(data + len, kNumberUnits, value);
    len += n;
    data[len] = 0;
    return 0;
}

int KaStringW::replace(size_t pos, size_t count, const uint16_t* text, size_t n) noexcept
{
    if (text != nullptr && n == 0)
        n = wcslen16(text);
    if (text == nullptr)
        n = 0;
    if (pos > len)
        pos = len;
    if (count > len - pos)
        count = len - pos;
    // Replacement text inside this buffer is copied out first: the tail
    // move and the growth below would change it.
    uint16_t* copy = nullptr;
    if (n > 0 && inside(*this, text)) {
        copy = newUnits(n);
        if (copy == nullptr)
            return 1;
        copyUnits(copy, text, n);
        text = copy;
    }
    size_t newLen = len - count + n;
    if (ensure(newLen + 1)) {
        releaseBlock(copy, n * kUnit);
        return 1;
    }
    copyUnits(data + pos + n, data + pos + count, len - pos - count);
    copyUnits(data + pos, text, n);
    len = newLen;
    data[len] = 0;
    releaseBlock(copy, n * kUnit);
    return 0;
}

int KaStringW::replaceRange(const KaSubStringW& range, const uint16_t* text, size_t n) noexcept
{
    size_t pos = range.data != nullptr && data != nullptr ? static_cast<size_t>(range.data - data) : 0;
    return replace(pos, range.len, text, n);
}

int KaStringW::replaceAll(const uint16_t* pattern, size_t patternLen, const uint16_t* replacement, size_t n) noexcept
{
    if (pattern == nullptr || patternLen == 0)
        return 0;
    if (replacement == nullptr)
        n = 0;
    size_t start = 0;
    while (data != nullptr && start < len) {
        size_t at = len;
        for (size_t i = start; i < len && patternLen <= len - i; i += stepAt(data, len, i)) {
            if (std::memcmp(data + i, pattern, patternLen * kUnit) == 0) {
                at = i;
                break;
            }
        }
        if (at == len)
            break;
        if (n == 0) {
            if (replace(at, patternLen, nullptr, 0))
                return 1;
        } else if (replace(at, patternLen, replacement, n)) {
            return 1;
        }
        start = at + n;
    }
    return 0;
}

int KaStringW::replaceAll(const uint16_t* pattern, const uint16_t* replacement) noexcept
{
    return replaceAll(pattern, wcslen16(pattern), replacement, wcslen16(replacement));
}

int KaStringW::quote(uint16_t quoteUnit) noexcept
{
    uint16_t* copy = newUnits(len + 1);
    if (copy == nullptr)
        return 1;
    copyUnits(copy, data, len);
    size_t n = len;
    if (ensure(len + countChar(quoteUnit) + 3)) {
        releaseBlock(copy, (n + 1) * kUnit);
        return 1;
    }
    uint16_t* end = strQuoteW(data, copy, n, quoteUnit);
    len = static_cast<size_t>(end - data);
    releaseBlock(copy, (n + 1) * kUnit);
    return 0;
}

void KaStringW::unquote() noexcept
{
    if (data == nullptr)
        return;
    if (len < 2) {
        // Nothing inside quotes: the text stays.
        return;
    }
    uint16_t* end = strUnquoteW(data, data, len);
    len = static_cast<size_t>(end - data);
}

int KaStringW::appendQuoted(const KaStringW& other, uint16_t quoteUnit) noexcept
{
    if (&other == this) {
        KaStringW copy;
        copy.wipes = wipes;
        if (copy.assign(data, len))
            return 1;
        return appendQuoted(copy, quoteUnit);
    }
    if (ensure(len + other.len + other.countChar(quoteUnit) + 3))
        return 1;
    uint16_t* end = strQuoteW(data + len, other.data, other.len, quoteUnit);
    len = static_cast<size_t>(end - data);
    return 0;
}

int KaStringW::ensureTrailingNewlines(size_t n) noexcept
{
    size_t have = 0;
    while (have < len && data[len - 1 - have] == '\n')
        ++have;
    while (have < n) {
        if (appendChar('\n'))
            return 1;
        ++have;
    }
    return 0;
}

namespace {

// Quoted runs: outside a run q1, q2 or q3 opens one that only the same unit
// closes. Without q1 nothing is tracked.
struct QuoteTracker {
    uint16_t q1, q2, q3;
    uint16_t open = 0;

    bool inRun(uint16_t u)
    {
        if (q1 == 0)
            return false;
        if (open != 0) {
            if (u == open)
                open = 0;
            return true;
        }
        if (u == q1 || (q2 != 0 && u == q2) || (q3 != 0 && u == q3)) {
            open = u;
            return true;
        }
        return false;
    }
};

}  // namespace

int KaStringW::wrap(size_t width, uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    if (width >= len)
        return 0;
    KaStringW out;
    out.wipes = wipes;
    if (out.reserve(len + 101) || ensure(len + 1))
        return 1;
    data[len] = 0;
    QuoteTracker quotes{q1, q2, q3};
    size_t lineStart = 0;
    size_t count = 0;
    size_t lastBlank = SIZE_MAX;
    for (size_t i = 0; i < len; ++i) {
        uint16_t u = data[i];
        if (!quotes.inRun(u) && u == ' ')
            lastBlank = i;
        ++count;
        if (count > width && lastBlank != SIZE_MAX && lastBlank > lineStart) {
            if (out.append(data + lineStart, lastBlank - lineStart) || out.appendChar('\n'))
                return 1;
            lineStart = lastBlank + 1;
            count = i - lastBlank;
            lastBlank = SIZE_MAX;
        }
    }
    if (out.append(data + lineStart, len - lineStart))
        return 1;
    len = 0;
    if (append(out.data, out.len))
        return 1;
    data[len] = 0;
    return 0;
}

int KaStringW::joinRuns(uint16_t q1, uint16_t q2, uint16_t q3, int which) noexcept
{
    auto isTarget = [which](uint16_t u) {
        if (which == 0)
            return u == '\n';
        if (which == 1)
            return u == '\t';
        return u == '\n' || u == '\r';
    };
    if (data == nullptr || len == 0)
        return 0;
    KaStringW out;
    out.wipes = wipes;
    QuoteTracker quotes{q1, q2, q3};
    size_t cut = 0;
    bool removed = false;
    for (size_t i = 0; i < len; ++i) {
        uint16_t u = data[i];
        if (quotes.inRun(u) || !isTarget(u))
            continue;
        if (out.append(data + cut, i - cut))
            return 1;
        if (i + 1 < len && !isTarget(data[i + 1]) && out.appendChar(' '))
            return 1;
        cut = i + 1;
        removed = true;
    }
    if (!removed)
        return 0;
    if (out.append(data + cut, len - cut))
        return 1;
    len = 0;
    if (append(out.data, out.len))
        return 1;
    data[len] = 0;
    return 0;
}

int KaStringW::joinLines(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    return joinRuns(q1, q2, q3, 0);
}

int KaStringW::tabsToBlanks(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    return joinRuns(q1, q2, q3, 1);
}

int KaStringW::crlfToBlanks(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    return joinRuns(q1, q2, q3, 2);
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
        auto* block = static_cast<char*>(ramAlloc(bytes));
        if (block == nullptr)
            return nullptr;
        int32_t produced = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8(block, static_cast<int32_t>(3 * n), &produced, reinterpret_cast<const UChar*>(text),
                    static_cast<int32_t>(n), &status);
        if (U_FAILURE(status)) {
            // Text that is not UTF-16 (a lone surrogate) has no UTF-8 form.
            fastMemzero(block, bytes);
            ramFree(block);
            errPost(MSG_CONVERSION_FAILED);
            return nullptr;
        }
        block[produced] = 0;
        narrow = block;
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
    if (!owns) {
        errPost(MSG_STRING_BUFFER_BORROWED);
        return 1;
    }
    uint16_t* block = newUnits(newCapacity);
    if (block == nullptr)
        return 1;
    if (data != nullptr) {
        size_t keep = len < newCapacity ? len : newCapacity;
        copyUnits(block, data, keep);
        fastMemzero(data, capacity * kUnit);
        ramFree(data);
    }
    data = block;
    capacity = newCapacity;
    return 0;
}

// ---- KaReplaceStringW -------------------------------------------------------------

KaReplaceStringW::KaReplaceStringW(KaStringW& rewritten) noexcept
    : KaSubStringW(rewritten.data, rewritten.len), target(&rewritten)
{
}

KaReplaceStringW::~KaReplaceStringW()
{
    if (target == nullptr)
        return;
    size_t total = writePos + len;
    if (writePos != readPos && len > 0)
        copyUnits(target->data + writePos, target->data + readPos, len);
    target->len = total;
    if (writePos != readPos && target->owns && target->capacity > total + 1)
        target->reserve(total + 1);
    if (target->data != nullptr && target->capacity > total)
        target->data[total] = 0;
}

int KaReplaceStringW::copyThrough(size_t n) noexcept
{
    if (n > len)
        n = len;
    if (writePos != readPos)
        copyUnits(target->data + writePos, target->data + readPos, n);
    writePos += n;
    readPos += n;
    data += n;
    len -= n;
    return 0;
}

void KaReplaceStringW::skip(size_t n) noexcept
{
    if (n > len)
        n = len;
    readPos += n;
    data += n;
    len -= n;
}

namespace {

// Widens the gap of the rewriter to at least n units; units that lie in the
// target's buffer are re-pointed after the move.
int openGap(KaReplaceStringW& r, size_t n, const uint16_t** units)
{
    if (r.readPos - r.writePos >= n)
        return 0;
    KaStringW* t = r.target;
    t->len = r.readPos + r.len;
    bool own = *units != nullptr && inside(*t, *units);
    size_t offset = own ? static_cast<size_t>(*units - t->data) : 0;
    size_t wanted = t->len + n + kReplaceGapSlackW + 1;
    if ((t->data == nullptr || t->capacity < wanted) && t->reserve(wanted))
        return 1;
    size_t shift = n + kReplaceGapSlackW;
    copyUnits(t->data + r.readPos + shift, t->data + r.readPos, r.len);
    if (own && offset >= r.readPos)
        offset += shift;
    if (own)
        *units = t->data + offset;
    r.readPos += shift;
    r.data = t->data + r.readPos;
    return 0;
}

}  // namespace

int KaReplaceStringW::emit(const uint16_t* units, size_t n) noexcept
{
    if (target == nullptr)
        return 1;
    if (openGap(*this, n, &units))
        return 1;
    copyUnits(target->data + writePos, units, n);
    writePos += n;
    return 0;
}

int KaReplaceStringW::emitQuoted(const uint16_t* units, size_t n, uint16_t quoteUnit) noexcept
{
    if (target == nullptr)
        return 1;
    size_t doubled = 0;
    for (size_t i = 0; i < n;) {
        if (U16_IS_LEAD(units[i]) && i + 1 >= n) {
            // A pair cut by the end of the text: nothing is written.
            errPost(MSG_CONVERSION_FAILED)->setSqlstate("01004")->setSqlstateMsg(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
            return 1;
        }
        if (units[i] == quoteUnit)
            ++doubled;
        i += U16_IS_LEAD(units[i]) ? 2 : 1;
    }
    if (openGap(*this, n + doubled + 2, &units))
        return 1;
    uint16_t* out = target->data + writePos;
    *out++ = quoteUnit;
    for (size_t i = 0; i < n; ++i) {
        if (units[i] == quoteUnit)
            *out++ = quoteUnit;
        *out++ = units[i];
    }
    *out++ = quoteUnit;
    writePos = static_cast<size_t>(out - target->data);
    return 0;
}

// ---- Upper-cased key caches ------------------------------------------------------------

namespace {

void fillUpperW(UpperKeyCacheW* cache)
{
    copyUnits(cache->upper, cache->key->data, cache->keyLen);
    KaUtf16StrUpperN(cache->upper, cache->keyLen);
    cache->filled = true;
}

}  // namespace

uint16_t upperKeyHashW(UpperKeyCacheW* cache) noexcept
{
    if (cache->keyLen == 0)
        return 0;
    if (cache->keyLen <= kUpperKeyInline) {
        if (!cache->filled)
            fillUpperW(cache);
        return cache->upper[0];
    }
    size_t first = stepAt(cache->key->data, cache->keyLen, 0);
    copyUnits(cache->upper, cache->key->data, first);
    KaUtf16StrUpperN(cache->upper, first);
    return cache->upper[0];
}

int upperKeyCompareW(UpperKeyCacheW* cache, const uint16_t* text, size_t length) noexcept
{
    if (cache->keyLen > kUpperKeyInline)
        return strCompareNoCaseNNW(cache->key->data, cache->keyLen, text, length);
    if (!cache->filled)
        fillUpperW(cache);
    return strCompareCodePointNW(cache->upper, cache->keyLen, text, length);
}

int upperKeyEqualW(UpperKeyCacheW* cache, const uint16_t* text, size_t length) noexcept
{
    if (cache->keyLen != length)
        return 0;
    if (!cache->filled) {
        if (length == 0 || std::memcmp(cache->key->data, text, length * kUnit) == 0)
            return 1;
        if (cache->keyLen > kUpperKeyInline)
            return strEqualNoCaseNNW(cache->key->data, cache->keyLen, text, length);
        fillUpperW(cache);
    }
    return length == 0 || std::memcmp(cache->upper, text, length * kUnit) == 0 ? 1 : 0;
}

int upperKeyEqual(UpperKeyCache* cache, const char* text, size_t length) noexcept
{
    if (cache->keyLen != length)
        return 0;
    if (!cache->filled) {
        if (strCompareN(cache->key->data, cache->keyLen, text, length) == 0)
            return 1;
        if (cache->keyLen > kUpperKeyInline)
            return strCompareNoCaseN(cache->key->data, cache->keyLen, text, length) == 0 ? 1 : 0;
        if (length > 0)
            std::memcpy(cache->upper, cache->key->data, length);
        KaDbcsStrUpperN(cache->upper, length);
        cache->filled = true;
    }
    return length == 0 || fastMemeq(cache->upper, text, length) ? 1 : 0;
}
