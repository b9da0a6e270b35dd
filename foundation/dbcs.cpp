// Character stepping, classification and case over locale multibyte, UTF-8
// and UTF-16 text; UTF-8/UTF-16/UTF-32 helpers; lead-byte tables.
#include "foundation/dbcs.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include "foundation/codepage.h"
#include "foundation/icucache.h"
#include "foundation/ram.h"

namespace {

// Length of a locale character as the driver steps it: two bytes when the
// locale says the first two bytes make one character, else one.
size_t localeCharLen(const char* p)
{
    if (p == nullptr || *p == 0)
        return 1;
    std::mbstate_t state{};
    return std::mbrlen(p, 2, &state) == 2 ? 2 : 1;
}

size_t utf8LeadLen(unsigned char lead)
{
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// UTF-8 length by the lead byte, cut back to the continuation bytes that
// really follow (never past a NUL or the end of a counted text).
size_t utf8CharLen(const char* p, size_t available)
{
    size_t n = utf8LeadLen(static_cast<unsigned char>(p[0]));
    if (n > available)
        n = available > 0 ? available : 1;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(p[k]) & 0xC0) != 0x80)
            return k;
    return n;
}

size_t charLenBounded(const char* p, size_t available, int32_t kind)
{
    if (kind == KA_TEXT_UTF8)
        return utf8CharLen(p, available);
    size_t n = localeCharLen(p);
    return n > available && available > 0 ? available : n;
}

// The wide character at p in the locale encoding; 0 when there is none.
size_t localeDecode(const char* p, size_t max, wchar_t* wc)
{
    std::mbstate_t state{};
    size_t n = std::mbrtowc(wc, p, max, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2))
        return 0;
    return n == 0 ? 1 : n;
}

size_t localeMax()
{
    return MB_CUR_MAX;
}

}  // namespace

// --- Stepping over 8-bit text ---------------------------------------------------

size_t KaDbcsCharLen(const char* p, int32_t kind) noexcept
{
    if (kind == KA_TEXT_UTF8)
        return utf8CharLen(p, 4);
    return localeCharLen(p);
}

const char* KaDbcsNextChar(const char* p, int32_t kind) noexcept
{
    return p + KaDbcsCharLen(p, kind);
}

size_t KaDbcsNextIndex(const char* data, size_t len, int32_t kind) noexcept
{
    return len + KaDbcsCharLen(data + len, kind);
}

size_t KaDbcsPrevIndexFromStart(const char* data, size_t len, int32_t kind) noexcept
{
    size_t i = 0;
    size_t last = 0;
    while (i < len) {
        last = i;
        i += charLenBounded(data + i, len - i, kind);
    }
    return last;
}

const char* KaDbcsPrevChar(const char* data, const char* p, int32_t kind) noexcept
{
    if (p <= data)
        return p;
    if (kind != KA_TEXT_UTF8) {
        // Locale text cannot be read backwards reliably: step forward from
        // the start to the character that ends at p.
        return data + KaDbcsPrevIndexFromStart(data, static_cast<size_t>(p - data), kind);
    }
    const char* r = p - 1;
    if (r <= data || static_cast<unsigned char>(*r) >= 0xC0)
        return r;
    for (int back = 2; back <= 4; ++back) {
        const char* q = p - back;
        if (q < data)
            break;
        if (static_cast<unsigned char>(*q) >= 0xC0)
            return q;
    }
    return r;
}

size_t KaDbcsPrevIndex(const char* data, size_t len, int32_t kind) noexcept
{
    return static_cast<size_t>(KaDbcsPrevChar(data, data + len, kind) - data);
}

const char* KaDbcsLastChar(const char* p, int32_t kind) noexcept
{
    if (p == nullptr)
        return nullptr;
    const char* last = p;
    for (const char* q = p; *q != 0; q = KaDbcsNextChar(q, kind))
        last = q;
    return last;
}

int KaDbcsCharEqual(const char* p, const char* q, int32_t kind) noexcept
{
    size_t a = KaDbcsCharLen(p, kind);
    size_t b = KaDbcsCharLen(q, kind);
    return a == b && std::memcmp(p, q, a) == 0 ? 1 : 0;
}

int KaDbcsCharEqualAt(const char* data, size_t i, const char* other, size_t j, int32_t kind) noexcept
{
    return KaDbcsCharEqual(data + i, other + j, kind);
}

size_t KaDbcsCharCount(const char* p, int32_t kind, size_t n) noexcept
{
    if (p == nullptr)
        return 0;
    if (kind == KA_TEXT_UTF16) {
        const auto* u = reinterpret_cast<const uint16_t*>(p);
        size_t count = 0;
        while (count < n / 2 && u[count] != 0)
            ++count;
        return count;
    }
    size_t count = 0;
    size_t i = 0;
    while (i < n && p[i] != 0) {
        i += charLenBounded(p + i, n - i, kind);
        ++count;
    }
    return count;
}

size_t KaDbcsCharCountN(const char* data, size_t len, int32_t kind) noexcept
{
    if (kind == KA_TEXT_UTF16)
        return len / 2;
    size_t count = 0;
    for (size_t i = 0; i < len; ++count)
        i += charLenBounded(data + i, len - i, kind);
    return count;
}

size_t KaUtf8CharsInBytes(const char* data, size_t n) noexcept
{
    size_t count = 0;
    size_t i = 0;
    while (i < n) {
        size_t l = utf8LeadLen(static_cast<unsigned char>(data[i]));
        if (i + l > n)
            break;
        i += utf8CharLen(data + i, l);
        ++count;
    }
    return count;
}

int KaDbcsIsDoubleByte(const char* p) noexcept
{
    return localeCharLen(p) == 2 ? 1 : 0;
}

int KaDbcsIsDoubleByteAt(const char* data, size_t len) noexcept
{
    return KaDbcsIsDoubleByte(data + len);
}

int KaDbcsIsTrailByte(const char* data, const char* p) noexcept
{
    const char* q = data;
    while (q < p)
        q += localeCharLen(q);
    return q > p ? 1 : 0;
}

int KaDbcsIsByteAt(const char* data, const char* p, char ch) noexcept
{
    return *p == ch && !KaDbcsIsTrailByte(data, p) ? 1 : 0;
}

// --- Classification and case of locale text ------------------------------------

namespace {

template <typename Test>
int classify(const char* p, Test test)
{
    if (p == nullptr || *p == 0)
        return 0;
    wchar_t wc = 0;
    if (localeDecode(p, localeMax(), &wc) == 0)
        return 0;
    return test(static_cast<wint_t>(wc)) ? 1 : 0;
}

// Changes the case of each character in place, as long as the characters
// stay within limit bytes; a character whose other case has another byte
// length is left alone, so the text never grows or shifts.
template <typename Map>
void changeCase(char* p, size_t limit, Map map)
{
    if (p == nullptr)
        return;
    size_t i = 0;
    while (i < limit && p[i] != 0) {
        size_t room = limit - i;
        size_t max = localeMax() < room ? localeMax() : room;
        wchar_t wc = 0;
        size_t n = localeDecode(p + i, max, &wc);
        if (n == 0) {
            ++i;
            continue;
        }
        wchar_t mapped = static_cast<wchar_t>(map(static_cast<int32_t>(wc)));
        if (mapped != wc) {
            char buf[MB_LEN_MAX];
            std::mbstate_t state{};
            size_t m = std::wcrtomb(buf, mapped, &state);
            if (m == n)
                std::memcpy(p + i, buf, n);
        }
        i += n;
    }
}

}  // namespace

int KaDbcsIsSpace(const char* p) noexcept
{
    return classify(p, [](wint_t c) { return std::iswspace(c) != 0; });
}

int KaDbcsIsAlpha(const char* p) noexcept
{
    return classify(p, [](wint_t c) { return std::iswalpha(c) != 0; });
}

int KaDbcsIsAlnum(const char* p) noexcept
{
    return classify(p, [](wint_t c) { return std::iswalnum(c) != 0; });
}

int KaDbcsIsSpaceAt(const char* data, size_t len) noexcept
{
    return KaDbcsIsSpace(data + len);
}

int KaDbcsIsAlphaAt(const char* data, size_t len) noexcept
{
    return KaDbcsIsAlpha(data + len);
}

int KaDbcsIsAlnumAt(const char* data, size_t len) noexcept
{
    return KaDbcsIsAlnum(data + len);
}

const char* KaDbcsSkipSpaces(const char* p, int32_t kind) noexcept
{
    if (p == nullptr)
        return nullptr;
    while (*p != 0 && KaDbcsIsSpace(p))
        p = KaDbcsNextChar(p, kind);
    return p;
}

void KaDbcsStrUpper(char* p) noexcept
{
    changeCase(p, SIZE_MAX, KaUToUpper);
}

void KaDbcsStrLower(char* p) noexcept
{
    changeCase(p, SIZE_MAX, KaUToLower);
}

void KaDbcsStrUpperN(char* p, size_t n) noexcept
{
    changeCase(p, n, KaUToUpper);
}

void KaDbcsStrLowerN(char* p, size_t n) noexcept
{
    changeCase(p, n, KaUToLower);
}

// --- UTF-16 ------------------------------------------------------------------------

namespace {

UChar32 codePointAt(const uint16_t* p)
{
    if (U16_IS_LEAD(p[0]) && U16_IS_TRAIL(p[1]))
        return U16_GET_SUPPLEMENTARY(p[0], p[1]);
    return p[0];
}

// Maps each code point in place over at most n units (SIZE_MAX: up to the
// terminator). A pair that would reach past n, and a mapping that needs a
// different number of units, are left alone.
template <typename Map>
void mapUtf16(uint16_t* p, size_t n, Map map)
{
    if (p == nullptr)
        return;
    size_t i = 0;
    while (i < n && (n != SIZE_MAX || p[i] != 0)) {
        uint16_t u = p[i];
        if (!U16_IS_LEAD(u)) {
            UChar32 m = map(u);
            if (m <= 0xFFFF)
                p[i] = static_cast<uint16_t>(m);
            ++i;
            continue;
        }
        if (i + 1 >= n || !U16_IS_TRAIL(p[i + 1])) {
            if (n == SIZE_MAX && p[i + 1] == 0)
                return;
            ++i;
            continue;
        }
        UChar32 m = map(U16_GET_SUPPLEMENTARY(u, p[i + 1]));
        if (m > 0xFFFF) {
            p[i] = U16_LEAD(m);
            p[i + 1] = U16_TRAIL(m);
        }
        i += 2;
    }
}

}  // namespace

const uint16_t* KaUtf16Next(const uint16_t* p) noexcept
{
    return U16_IS_LEAD(p[0]) && U16_IS_TRAIL(p[1]) ? p + 2 : p + 1;
}

size_t KaUtf16NextIndex(const uint16_t* a, size_t i) noexcept
{
    return static_cast<size_t>(KaUtf16Next(a + i) - a);
}

size_t KaUtf16PrevIndex(const uint16_t* a, size_t i) noexcept
{
    if (i >= 2 && U16_IS_TRAIL(a[i - 1]) && U16_IS_LEAD(a[i - 2]))
        return i - 2;
    return i - 1;
}

size_t KaUtf16PrevIndexChecked(const uint16_t* a, size_t i) noexcept
{
    return i == 0 ? 0 : KaUtf16PrevIndex(a, i);
}

const uint16_t* KaUtf16PrevChar(const uint16_t* data, const uint16_t* p) noexcept
{
    if (p <= data)
        return data;
    return data + KaUtf16PrevIndex(data, static_cast<size_t>(p - data));
}

size_t KaUtf16CharCount(const uint16_t* p) noexcept
{
    if (p == nullptr)
        return 0;
    size_t count = 0;
    while (*p != 0) {
        p = KaUtf16Next(p);
        ++count;
    }
    return count;
}

const uint16_t* KaUtf16SkipSpaces(const uint16_t* p) noexcept
{
    if (p == nullptr)
        return nullptr;
    while (*p != 0 && KaUIsWhitespace(p))
        p = KaUtf16Next(p);
    return p;
}

int KaUIsWhitespace(const uint16_t* p) noexcept
{
    return u_isWhitespace(codePointAt(p)) ? 1 : 0;
}

int KaUIsAlpha(const uint16_t* p) noexcept
{
    return u_isalpha(codePointAt(p)) ? 1 : 0;
}

int KaUIsAlnum(const uint16_t* p) noexcept
{
    uint16_t u = p[0];
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
        return 1;
    return u_isalnum(codePointAt(p)) ? 1 : 0;
}

int KaUIsWhitespaceBE(const uint16_t* p) noexcept
{
    uint16_t units[2];
    units[0] = static_cast<uint16_t>((p[0] << 8) | (p[0] >> 8));
    units[1] = 0;
    if (U16_IS_LEAD(units[0]))
        units[1] = static_cast<uint16_t>((p[1] << 8) | (p[1] >> 8));
    return KaUIsWhitespace(units);
}

void KaUtf16StrUpper(uint16_t* p) noexcept
{
    mapUtf16(p, SIZE_MAX, [](UChar32 c) { return u_toupper(c); });
}

void KaUtf16StrLower(uint16_t* p) noexcept
{
    mapUtf16(p, SIZE_MAX, [](UChar32 c) { return u_tolower(c); });
}

void KaUtf16StrUpperN(uint16_t* p, size_t n) noexcept
{
    if (n == SIZE_MAX)
        --n;
    mapUtf16(p, n, [](UChar32 c) { return u_toupper(c); });
}

// --- Code points ------------------------------------------------------------------

int32_t KaUToUpper(int32_t c) noexcept
{
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 32;
    if (c < 255)
        return c;
    return u_toupper(c);
}

int32_t KaUToLower(int32_t c) noexcept
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 32;
    if (c < 255)
        return c;
    return u_tolower(c);
}

// --- UTF-8 ------------------------------------------------------------------------

char* utf8Encode(char* buffer, uint32_t c) noexcept
{
    auto* b = reinterpret_cast<unsigned char*>(buffer);
    if (c < 0x80) {
        *b++ = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
        *b++ = static_cast<unsigned char>(0xC0 | (c >> 6));
        *b++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *b++ = static_cast<unsigned char>(0xE0 | (c >> 12));
        *b++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *b++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
        *b++ = static_cast<unsigned char>(0xF0 | ((c >> 18) & 0x07));
        *b++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        *b++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *b++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
    return reinterpret_cast<char*>(b);
}

uint32_t utf8EncodePacked(uint32_t c) noexcept
{
    char bytes[4] = {};
    char* end = utf8Encode(bytes, c);
    uint32_t packed = 0;
    for (char* q = end; q > bytes; --q)
        packed = (packed << 8) | static_cast<unsigned char>(q[-1]);
    return packed;
}

uint32_t codePointToUtf16Packed(uint32_t c) noexcept
{
    if (c <= 0xFFFF)
        return c;
    if (c > 0x10FFFF)
        return 0;
    return (static_cast<uint32_t>(U16_TRAIL(c)) << 16) | U16_LEAD(c);
}

void utf8StrUpperN(char* data, size_t len) noexcept
{
    if (data == nullptr || len > static_cast<size_t>(INT32_MAX))
        return;
    auto* s = reinterpret_cast<uint8_t*>(data);
    int32_t n = static_cast<int32_t>(len);
    int32_t i = 0;
    while (i < n) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, n, c);
        if (c < 0)
            continue;
        UChar32 up = u_toupper(c);
        // Written back only when it takes the same bytes.
        if (up != c && U8_LENGTH(up) == i - start) {
            int32_t k = start;
            U8_APPEND_UNSAFE(s, k, up);
        }
    }
}

void utf8StrUpper(char* data) noexcept
{
    if (data != nullptr)
        utf8StrUpperN(data, std::strlen(data));
}

int isCodePageAvailable(int64_t codePage) noexcept
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(ianaNameFromNumber(codePage), &status);
    if (U_FAILURE(status))
        return 0;
    ucnv_close(converter);
    return 1;
}

// --- Lead-byte tables -------------------------------------------------------------

int KaLeadByteTableBuild(UConverter* converter, uint8_t** tableOut) noexcept
{
    if (converter == nullptr || tableOut == nullptr)
        return 1;
    auto* table = static_cast<uint8_t*>(ramAlloc(kLeadByteTableSize));
    if (table == nullptr)
        return 1;
    for (size_t b = 0; b < kLeadByteTableSize; ++b) {
        // Without flushing, a byte that begins a longer character yields
        // nothing yet; the substitution callbacks never get to hide it.
        char byte = static_cast<char>(b);
        const char* s = &byte;
        UChar target[2];
        UChar* t = target;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &t, target + 2, &s, &byte + 1, nullptr, false, &status);
        table[b] = U_FAILURE(status) || t == target ? 1 : 0;
        ucnv_resetToUnicode(converter);
    }
    *tableOut = table;
    return 0;
}

int KaLeadTableGet(KaPtrTableCache* cache, KaIcuCache* pool, int64_t codePage, const uint8_t** tableOut) noexcept
{
    if (cache == nullptr || pool == nullptr || tableOut == nullptr)
        return 1;
    if (uint8_t* cached = cache->find(codePage)) {
        *tableOut = cached;
        return 0;
    }
    KaConvCallbackContext* context = nullptr;
    UConverter* converter = pool->acquire(codePage, &context);
    if (converter == nullptr)
        return 1;
    uint8_t* table = nullptr;
    int failed = KaLeadByteTableBuild(converter, &table);
    pool->release(codePage, converter, context);
    if (failed)
        return 1;
    if (cache->add(codePage, table)) {
        ramFree(table);
        return 1;
    }
    *tableOut = table;
    return 0;
}

int KaLeadByteInfo(KaPtrTableCache* cache, int64_t codePage, uint8_t byte, uint8_t* out) noexcept
{
    const uint8_t* table = cache != nullptr ? cache->find(codePage) : nullptr;
    if (table == nullptr || out == nullptr)
        return 1;
    *out = table[byte];
    return 0;
}

namespace {

// Where the last character that fits whole into n bytes ends, stepping by a
// lead-byte table; *count receives the characters.
size_t wholeCharsEnd(const uint8_t* table, const char* data, size_t n, size_t* count) noexcept
{
    size_t i = 0;
    *count = 0;
    while (i < n) {
        size_t step = table[static_cast<unsigned char>(data[i])] + 1u;
        if (i + step > n)
            break;
        i += step;
        ++*count;
    }
    return i;
}

}  // namespace

int KaLeadCharCount(KaPtrTableCache* cache, int64_t codePage, const char* data, size_t n, size_t* countOut) noexcept
{
    const uint8_t* table = cache != nullptr ? cache->find(codePage) : nullptr;
    if (table == nullptr || countOut == nullptr)
        return 1;
    size_t count = 0;
    for (size_t i = 0; i < n; ++count)
        i += table[static_cast<unsigned char>(data[i])] + 1u;
    *countOut = count;
    return 0;
}

int KaLeadCharCountFit(KaPtrTableCache* cache, int64_t codePage, const char* data, size_t n, size_t* lengthOut,
                       size_t* countOut) noexcept
{
    const uint8_t* table = cache != nullptr ? cache->find(codePage) : nullptr;
    if (table == nullptr)
        return 1;
    size_t count = 0;
    size_t i = wholeCharsEnd(table, data, n, &count);
    if (lengthOut != nullptr)
        *lengthOut = i;
    if (countOut != nullptr)
        *countOut = count;
    return 0;
}

int KaLeadPrevPos(KaPtrTableCache* cache, int64_t codePage, const char* data, size_t pos, size_t* out) noexcept
{
    const uint8_t* table = cache != nullptr ? cache->find(codePage) : nullptr;
    if (table == nullptr || out == nullptr)
        return 1;
    *out = pos > 0 && table[static_cast<unsigned char>(data[pos - 1])] ? pos - 1 : pos;
    return 0;
}

int KaLeadPrevCharPos(KaPtrTableCache* cache, UConverter* converter, int64_t codePage, const char* data, size_t pos,
                      size_t* out) noexcept
{
    if (out == nullptr || converter == nullptr)
        return 1;
    if (pos == 0) {
        *out = 0;
        return 0;
    }
    int8_t maxSize = ucnv_getMaxCharSize(converter);
    if (maxSize <= 1) {
        *out = pos;
        return 0;
    }
    if (maxSize == 2) {
        // A byte value can be a lead byte and a trail byte at once, so the
        // boundary is found by stepping from the start, not by looking back.
        if (cache == nullptr)
            return 1;
        const uint8_t* table = cache->find(codePage);
        if (table == nullptr) {
            uint8_t* built = nullptr;
            if (KaLeadByteTableBuild(converter, &built))
                return 1;
            if (cache->add(codePage, built)) {
                ramFree(built);
                return 1;
            }
            table = built;
        }
        size_t count = 0;
        *out = wholeCharsEnd(table, data, pos, &count);
        return 0;
    }
    // Three- and four-byte code pages: let the converter find the characters,
    // with a stopping callback so that a cut character is not substituted.
    UConverterToUCallback oldAction = nullptr;
    const void* oldContext = nullptr;
    UErrorCode cbStatus = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, &oldAction, &oldContext, &cbStatus);
    if (U_FAILURE(cbStatus))
        return 1;
    ucnv_resetToUnicode(converter);
    const char* s = data;
    const char* end = data + pos;
    size_t boundary = 0;
    while (s < end) {
        UErrorCode status = U_ZERO_ERROR;
        ucnv_getNextUChar(converter, &s, end, &status);
        if (U_FAILURE(status))
            break;
        boundary = static_cast<size_t>(s - data);
    }
    ucnv_resetToUnicode(converter);
    cbStatus = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter, oldAction, oldContext, nullptr, nullptr, &cbStatus);
    *out = boundary;
    return 0;
}

size_t KaUtf8CutPos(const char* data, size_t pos) noexcept
{
    if (pos == 0 || data == nullptr)
        return 0;
    auto byte = [data](size_t i) { return static_cast<unsigned char>(data[i]); };
    if (byte(pos - 1) < 0x80)
        return pos;
    if (pos >= 2 && byte(pos - 2) >= 0xC0 && byte(pos - 2) <= 0xDF)
        return pos;
    if (pos >= 3 && byte(pos - 3) >= 0xE0 && byte(pos - 3) <= 0xEF)
        return pos;
    if (pos >= 4 && byte(pos - 4) >= 0xF0 && byte(pos - 4) <= 0xF4)
        return pos;
    if (pos <= 3)
        return 0;
    // The last character is incomplete: cut before its lead byte.
    size_t j = pos - 1;
    while (j > pos - 4 && (byte(j) & 0xC0) == 0x80)
        --j;
    return j;
}

// --- UTF-32 ----------------------------------------------------------------------

namespace {

bool isScalarValue(uint32_t c)
{
    return c <= 0x10FFFF && !U_IS_SURROGATE(c) && !U_IS_UNICODE_NONCHAR(c);
}

bool oneZeroByte(uint16_t u)
{
    return ((u & 0xFF) == 0) != ((u >> 8) == 0);
}

}  // namespace

int utf32ToUtf16Alloc(const void* text, int64_t count, uint16_t** out, size_t* countOut) noexcept
{
    if (text == nullptr || out == nullptr)
        return 1;
    bool aligned = (reinterpret_cast<uintptr_t>(text) & 3) == 0;
    if (aligned) {
        const auto* u32 = static_cast<const uint32_t*>(text);
        size_t n = 0;
        if (count < 0) {
            while (u32[n] != 0)
                ++n;
        } else {
            n = static_cast<size_t>(count);
        }
        if (n == 0 || isScalarValue(u32[0])) {
            size_t units = 0;
            for (size_t i = 0; i < n; ++i)
                units += u32[i] > 0xFFFF && u32[i] <= 0x10FFFF ? 2 : 1;
            auto* w = static_cast<uint16_t*>(ramAlloc((units + 1) * sizeof(uint16_t)));
            if (w == nullptr)
                return 1;
            size_t k = 0;
            for (size_t i = 0; i < n; ++i) {
                uint32_t c = u32[i];
                if (c > 0xFFFF && c <= 0x10FFFF) {
                    w[k++] = U16_LEAD(c);
                    w[k++] = U16_TRAIL(c);
                } else {
                    w[k++] = c > 0x10FFFF ? 0xFFFD : static_cast<uint16_t>(c);
                }
            }
            w[k] = 0;
            *out = w;
            if (countOut != nullptr)
                *countOut = k;
            return 0;
        }
    }
    const auto* bytes = static_cast<const unsigned char*>(text);
    bool looksUtf16 = false;
    if (count < 0 || count >= 2) {
        uint16_t u0 = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
        bool haveSecond = count >= 2 || u0 != 0;
        uint16_t u1 = haveSecond ? static_cast<uint16_t>(bytes[2] | (bytes[3] << 8)) : 0;
        looksUtf16 = haveSecond && oneZeroByte(u0) && oneZeroByte(u1);
    }
    size_t n = 0;
    if (looksUtf16) {
        auto unitAt = [bytes](size_t i) { return static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); };
        if (count < 0) {
            while (unitAt(n) != 0)
                ++n;
        } else {
            n = static_cast<size_t>(count);
        }
        auto* w = static_cast<uint16_t*>(ramAlloc((n + 1) * sizeof(uint16_t)));
        if (w == nullptr)
            return 1;
        for (size_t i = 0; i < n; ++i)
            w[i] = unitAt(i);
        w[n] = 0;
        *out = w;
        if (countOut != nullptr)
            *countOut = n;
        return 0;
    }
    n = count < 0 ? std::strlen(static_cast<const char*>(text)) : static_cast<size_t>(count);
    auto* w = static_cast<uint16_t*>(ramAlloc((n + 1) * sizeof(uint16_t)));
    if (w == nullptr)
        return 1;
    for (size_t i = 0; i < n; ++i)
        w[i] = bytes[i];
    w[n] = 0;
    *out = w;
    if (countOut != nullptr)
        *countOut = n;
    return 0;
}

int utf16ToUtf32(const uint16_t* text, int64_t count, uint32_t* dest, size_t capacity, size_t* totalOut) noexcept
{
    if (text == nullptr || (dest == nullptr && capacity > 0))
        return 1;
    size_t n = 0;
    if (count < 0) {
        while (text[n] != 0)
            ++n;
    } else {
        n = static_cast<size_t>(count);
    }
    size_t written = 0;
    size_t total = 0;
    for (size_t i = 0; i < n;) {
        uint32_t c = text[i];
        if (U16_IS_LEAD(c) && i + 1 < n && U16_IS_TRAIL(text[i + 1])) {
            c = U16_GET_SUPPLEMENTARY(c, text[i + 1]);
            i += 2;
        } else {
            ++i;
        }
        if (written + 1 < capacity)
            dest[written++] = c;
        ++total;
    }
    if (capacity > 0)
        dest[written] = 0;
    if (totalOut != nullptr)
        *totalOut = total;
    return 0;
}

int utf16ToUtf32Len(const uint16_t* text, int64_t count, uint32_t* dest, size_t* lengthInOut) noexcept
{
    if (lengthInOut == nullptr)
        return 1;
    return utf16ToUtf32(text, count, dest, *lengthInOut, lengthInOut);
}
