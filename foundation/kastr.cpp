// Text primitives over 8-bit and UTF-16 text.
//
// Counted text is never read past its count and terminated text never past
// its terminator, whatever the bytes claim: a lead byte at the end of counted
// text stands alone, a high surrogate combines only with a low surrogate that
// really follows it. ASCII takes a fast path in stepping and case folding;
// every locale the driver runs in is ASCII-compatible.
#include "foundation/kastr.h"

#include <unicode/uchar.h>

#include <cstdlib>
#include <cstring>

#include "foundation/dbcs.h"
#include "foundation/fast.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"

namespace {

// Room for one locale character and its terminator.
constexpr size_t kCharBufSize = 8;

inline unsigned char ub(char c) noexcept
{
    return static_cast<unsigned char>(c);
}

inline int sign3(long long a, long long b) noexcept
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// ---- 8-bit character stepping ------------------------------------------

// Length that the character at p claims by its first byte(s), looking at
// no more than avail bytes; may exceed avail for a cut UTF-8 character.
size_t claimedCharLen(const char* p, size_t avail, int kind) noexcept
{
    unsigned char b = ub(*p);
    if (b < 0x80 || kind == KA_TEXT_SINGLE_BYTE)
        return 1;
    if (kind == KA_TEXT_UTF8)
        return b < 0xC0 ? 1 : (b < 0xE0 ? 2 : (b < 0xF0 ? 3 : 4));
    if (avail < 2)
        return 1;
    return KaDbcsIsDoubleByte(p) ? 2 : 1;
}

// Step over the character at data[i] of counted text of len bytes.
inline size_t charLenN(const char* data, size_t i, size_t len, int kind) noexcept
{
    size_t avail = len - i;
    size_t n = claimedCharLen(data + i, avail, kind);
    return n <= avail ? n : avail;
}

// Step over the character at p of terminated text (never past the zero).
inline size_t charLenT(const char* p, int kind) noexcept
{
    if (ub(*p) < 0x80 || kind == KA_TEXT_SINGLE_BYTE)
        return 1;
    size_t n = KaDbcsCharLen(p, kind);
    return n == 0 ? 1 : n;
}

// A locale double-byte character starts at p with avail bytes readable.
inline bool isDoubleByteN(const char* p, size_t avail) noexcept
{
    return ub(*p) >= 0x80 && avail >= 2 && KaDbcsIsDoubleByte(p) != 0;
}

inline unsigned char upperByte(unsigned char b) noexcept
{
    if (b < 0x80)
        return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - 32) : b;
    char one[2] = {static_cast<char>(b), 0};
    KaDbcsStrUpper(one);
    return ub(one[0]);
}

// Locale white space of the character of n bytes at p.
bool isSpaceChar(const char* p, size_t n) noexcept
{
    unsigned char b = ub(*p);
    if (b < 0x80)
        return b == ' ' || (b >= '\t' && b <= '\r');
    char one[kCharBufSize];
    if (n >= kCharBufSize)
        return false;
    std::memcpy(one, p, n);
    one[n] = 0;
    return KaDbcsIsSpace(one) != 0;
}

// 8-bit no-case order of one character of each text: a double-byte
// character byte by byte, a single byte upper-cased; 0 when they are equal.
int noCaseCompareChar(const char* a, const char* b, bool doubleByte) noexcept
{
    unsigned char ca = ub(a[0]);
    unsigned char cb = ub(b[0]);
    if (doubleByte) {
        if (ca != cb)
            return ca < cb ? -1 : 1;
        unsigned char ca2 = ub(a[1]);
        unsigned char cb2 = ub(b[1]);
        if (ca2 != cb2)
            return ca2 < cb2 ? -1 : 1;
        return 0;
    }
    if (ca != cb) {
        unsigned char ua = upperByte(ca);
        unsigned char ubb = upperByte(cb);
        if (ua != ubb)
            return ua < ubb ? -1 : 1;
    }
    return 0;
}

// 8-bit no-case order of counted texts over their common length, then by
// length. A lead byte with no trail byte inside that length stands alone.
int noCaseCompareCounted(const char* a, size_t alen, const char* b, size_t blen) noexcept
{
    size_t n = alen < blen ? alen : blen;
    size_t i = 0;
    while (i < n) {
        bool doubleByte = i + 1 < n && isDoubleByteN(a + i, n - i);
        if (int c = noCaseCompareChar(a + i, b + i, doubleByte))
            return c;
        i += doubleByte ? 2 : 1;
    }
    return sign3(static_cast<long long>(alen), static_cast<long long>(blen));
}

int noCaseCompareTerm(const char* a, const char* b) noexcept
{
    size_t i = 0;
    for (;;) {
        unsigned char ca = ub(a[i]);
        unsigned char cb = ub(b[i]);
        if (ca == 0 || cb == 0)
            return ca == cb ? 0 : (ca == 0 ? -1 : 1);
        // The trail byte of b is read only after both lead bytes were found
        // equal and non-zero, so it is inside b.
        bool doubleByte = ca >= 0x80 && KaDbcsIsDoubleByte(a + i);
        if (int c = noCaseCompareChar(a + i, b + i, doubleByte))
            return c;
        i += doubleByte ? 2 : 1;
    }
}

// ---- UTF-16 code points ------------------------------------------------

inline bool isHigh(uint16_t u) noexcept
{
    return u >= 0xD800 && u <= 0xDBFF;
}
inline bool isLow(uint16_t u) noexcept
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

// A UTF-16 text that is either counted or terminated.
struct TextW {
    const uint16_t* s;
    size_t len;
    bool terminated;

    bool end(size_t i) const noexcept { return terminated ? s[i] == 0 : i >= len; }
    // Units of the character at i (2 for a real surrogate pair).
    size_t step(size_t i) const noexcept
    {
        if (isHigh(s[i]) && !end(i + 1) && isLow(s[i + 1]))
            return 2;
        return 1;
    }
    int32_t codePoint(size_t i, size_t n) const noexcept
    {
        if (n == 2)
            return ((s[i] - 0xD800) << 10) + (s[i + 1] - 0xDC00) + 0x10000;
        return s[i];
    }
    // Only a character of one unit can equal a unit searched for.
    static bool byUnit(size_t n) noexcept { return n == 1; }
};

inline TextW counted(const uint16_t* s, size_t len) noexcept
{
    return TextW{s, len, false};
}
inline TextW terminated(const uint16_t* s) noexcept
{
    return TextW{s, 0, true};
}

// An 8-bit text that is either counted or terminated, stepped by its kind.
struct TextA {
    const char* s;
    size_t len;
    bool terminated;
    int kind;

    bool end(size_t i) const noexcept { return terminated ? s[i] == 0 : i >= len; }
    size_t step(size_t i) const noexcept { return terminated ? charLenT(s + i, kind) : charLenN(s, i, len, kind); }
    // A character is compared with a byte by its first byte.
    static bool byUnit(size_t) noexcept { return true; }
};

inline TextA counted(const char* s, size_t len, int kind) noexcept
{
    return TextA{s, len, false, kind};
}
inline TextA terminated(const char* s, int kind) noexcept
{
    return TextA{s, 0, true, kind};
}

// ---- Walks shared by 8-bit and UTF-16 text -------------------------------

// The first character at which at(i, n) holds (n: its units), or null.
template <typename Text, typename At>
auto firstWhere(const Text& t, At at) noexcept -> decltype(t.s)
{
    for (size_t i = 0; !t.end(i);) {
        size_t n = t.step(i);
        if (at(i, n))
            return t.s + i;
        i += n;
    }
    return nullptr;
}

template <typename Text, typename At>
auto lastWhere(const Text& t, At at) noexcept -> decltype(t.s)
{
    decltype(t.s) found = nullptr;
    for (size_t i = 0; !t.end(i);) {
        size_t n = t.step(i);
        if (at(i, n))
            found = t.s + i;
        i += n;
    }
    return found;
}

// The first character start of counted text with plen units left at which
// at(i) holds, or null.
template <typename Text, typename At>
auto firstWindow(const Text& t, size_t plen, At at) noexcept -> decltype(t.s)
{
    if (plen == 0 || plen > t.len)
        return nullptr;
    for (size_t i = 0; t.len - i >= plen; i += t.step(i)) {
        if (at(i))
            return t.s + i;
    }
    return nullptr;
}

template <typename Text, typename Unit>
auto findCharIn(const Text& t, Unit c) noexcept -> decltype(t.s)
{
    return firstWhere(t, [&](size_t i, size_t n) { return t.byUnit(n) && t.s[i] == c; });
}

// Quoted runs open at q1, q2 or q3 and close at the same unit; c inside
// them is passed over.
template <typename Text, typename Unit>
auto findCharOutsideQuotesIn(const Text& t, Unit c, Unit q1, Unit q2, Unit q3) noexcept -> decltype(t.s)
{
    Unit open = 0;
    return firstWhere(t, [&](size_t i, size_t n) {
        if (!t.byUnit(n))
            return false;
        Unit u = t.s[i];  // never zero inside the text
        if (open != 0) {
            if (u == open)
                open = 0;
            return false;
        }
        if (u == c)
            return true;
        if (u == q1 || u == q2 || u == q3)
            open = u;
        return false;
    });
}

// The last "." after the last "/".
template <typename Text>
auto findExtensionIn(const Text& t) noexcept -> decltype(t.s)
{
    decltype(t.s) dot = nullptr;
    lastWhere(t, [&](size_t i, size_t n) {
        if (t.byUnit(n) && t.s[i] == '/')
            dot = nullptr;
        else if (t.byUnit(n) && t.s[i] == '.')
            dot = t.s + i;
        return false;
    });
    return dot;
}

inline int32_t upperCp(int32_t c) noexcept
{
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') ? c - 32 : c;
    return u_toupper(c);
}

// UTF-16 no-case order: equal code points match, else their upper-case
// forms decide as signed integers; the text that ends first is less.
int noCaseCompareW(const TextW& a, const TextW& b) noexcept
{
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        bool ea = a.end(i);
        bool eb = b.end(j);
        if (ea || eb)
            return ea == eb ? 0 : (ea ? -1 : 1);
        size_t na = a.step(i);
        size_t nb = b.step(j);
        int32_t ca = a.codePoint(i, na);
        int32_t cb = b.codePoint(j, nb);
        if (ca != cb) {
            int32_t ua = upperCp(ca);
            int32_t ubb = upperCp(cb);
            if (ua != ubb)
                return ua < ubb ? -1 : 1;
        }
        i += na;
        j += nb;
    }
}

// The whole pattern matches without case at text position i.
bool noCasePrefixW(const TextW& text, size_t i, const TextW& pattern) noexcept
{
    size_t j = 0;
    while (!pattern.end(j)) {
        if (text.end(i))
            return false;
        size_t nt = text.step(i);
        size_t np = pattern.step(j);
        int32_t ct = text.codePoint(i, nt);
        int32_t cp = pattern.codePoint(j, np);
        if (ct != cp && upperCp(ct) != upperCp(cp))
            return false;
        i += nt;
        j += np;
    }
    return true;
}

// Units of pattern (counted, n units) follow exactly at text position i.
bool exactPrefixW(const TextW& text, size_t i, const uint16_t* pattern, size_t n) noexcept
{
    for (size_t k = 0; k < n; ++k) {
        if (text.end(i + k) || text.s[i + k] != pattern[k])
            return false;
    }
    return true;
}

const uint16_t* findW(const TextW& t, const uint16_t* pattern, size_t plen) noexcept
{
    if (plen == 0)
        return nullptr;
    if (plen == 1)
        return findCharIn(t, pattern[0]);
    for (size_t i = 0; !t.end(i); i += t.step(i)) {
        if (!t.terminated && plen > t.len - i)
            return nullptr;
        if (t.s[i] == pattern[0] && exactPrefixW(t, i + 1, pattern + 1, plen - 1))
            return t.s + i;
    }
    return nullptr;
}

const uint16_t* findCharNoCaseW(const TextW& t, uint32_t codePoint) noexcept
{
    int32_t want = static_cast<int32_t>(codePoint);
    int32_t wantUpper = upperCp(want);
    return firstWhere(t, [&](size_t i, size_t n) {
        int32_t c = t.codePoint(i, n);
        return c == want || upperCp(c) == wantUpper;
    });
}

const uint16_t* findNoCaseW(const TextW& t, const uint16_t* pattern, size_t plen) noexcept
{
    if (plen == 0)
        return nullptr;
    TextW pat = counted(pattern, plen);
    size_t pn = pat.step(0);
    int32_t first = pat.codePoint(0, pn);
    int32_t firstUpper = upperCp(first);
    for (size_t i = 0; !t.end(i);) {
        size_t n = t.step(i);
        int32_t c = t.codePoint(i, n);
        if (c == first && exactPrefixW(t, i, pattern, plen))
            return t.s + i;
        if ((c == first || upperCp(c) == firstUpper) && noCasePrefixW(t, i, pat))
            return t.s + i;
        i += n;
    }
    return nullptr;
}

// ---- Quoting helpers ---------------------------------------------------

// quote + src + quote with each quote doubled; claimed(p, avail) gives the
// units the character at p claims, and a character cut by the end of src
// ends the copy.
template <typename Unit, typename Claimed>
Unit* quoteIn(Unit* dst, const Unit* src, size_t n, Unit quote, Claimed claimed) noexcept
{
    Unit* out = dst;
    *out++ = quote;
    size_t i = 0;
    while (i < n) {
        size_t len = claimed(src + i, n - i);
        if (len > n - i)
            break;
        if (len == 1 && src[i] == quote)
            *out++ = quote;
        std::memcpy(out, src + i, len * sizeof(Unit));
        out += len;
        i += len;
    }
    *out++ = quote;
    *out = 0;
    return out;
}

// In place, well-formed text only: it starts and ends with the quote, and
// every quote inside is doubled; otherwise the length comes back unchanged.
// over(n) is the text's first n units as counted text.
template <typename Unit, typename Over>
size_t unquoteLenIn(Unit* text, size_t len, Unit quote, Over over) noexcept
{
    if (len < 2 || text[0] != quote)
        return len;
    size_t close = static_cast<size_t>(lastWhere(over(len), [](size_t, size_t) { return true; }) - text);
    if (close != len - 1 || text[close] != quote)
        return len;
    auto inner = over(close);
    for (size_t i = 1; i < close;) {
        size_t n = inner.step(i);
        if (n == 1 && text[i] == quote) {
            if (i + 1 >= close || text[i + 1] != quote)
                return len;
            n = 2;
        }
        i += n;
    }
    size_t w = 0;
    for (size_t i = 1; i < close;) {
        size_t n = inner.step(i);
        if (n == 1 && text[i] == quote) {
            text[w++] = quote;
            i += 2;
            continue;
        }
        std::memmove(text + w, text + i, n * sizeof(Unit));
        w += n;
        i += n;
    }
    return w;
}

// Copies inner units, surrogate pairs whole and each doubled quote once;
// a quote with no partner is kept. Returns units written.
size_t undoubleW(uint16_t* dst, const uint16_t* src, size_t n, uint16_t quote) noexcept
{
    size_t w = 0;
    size_t i = 0;
    while (i < n) {
        uint16_t u = src[i];
        if (isHigh(u) && i + 1 < n && isLow(src[i + 1])) {
            dst[w++] = u;
            dst[w++] = src[i + 1];
            i += 2;
        } else if (u == quote && i + 1 < n && src[i + 1] == quote) {
            dst[w++] = quote;
            i += 2;
        } else {
            dst[w++] = u;
            ++i;
        }
    }
    return w;
}

// ---- LIKE ----------------------------------------------------------------

bool likeCharMatch(const char* v, size_t vl, const char* p, size_t pl, int caseSensitive) noexcept
{
    if (vl != pl)
        return false;
    if (pl > 1)
        return std::memcmp(v, p, pl) == 0;
    if (*v == *p)
        return true;
    return caseSensitive == 0 && upperByte(ub(*v)) == upperByte(ub(*p));
}

bool likeCharMatchW(const TextW& v, size_t i, size_t vl, const TextW& p, size_t j, size_t pl,
                    int caseSensitive) noexcept
{
    if (vl == pl && v.s[i] == p.s[j] && (pl == 1 || v.s[i + 1] == p.s[j + 1]))
        return true;
    if (caseSensitive != 0)
        return false;
    return upperCp(v.codePoint(i, vl)) == upperCp(p.codePoint(j, pl));
}

}  // namespace

// ==== Comparison and equality ==============================================

int strCompareN(const char* a, size_t alen, const char* b, size_t blen) noexcept
{
    size_t n = alen < blen ? alen : blen;
    int r = fastMemcmp(a, b, n);
    if (r != 0)
        return r;
    return sign3(static_cast<long long>(alen), static_cast<long long>(blen));
}

int strEqualNoCase(const char* a, const char* b) noexcept
{
    return noCaseCompareTerm(a, b) == 0 ? 1 : 0;
}

int strEqualNoCaseN(const char* a, size_t alen, const char* b, size_t blen) noexcept
{
    if (alen != blen)
        return 0;
    return noCaseCompareCounted(a, alen, b, blen) == 0 ? 1 : 0;
}

int strCompareNoCase(const char* a, const char* b) noexcept
{
    return noCaseCompareTerm(a, b);
}

int strCompareNoCaseN(const char* a, size_t alen, const char* b, size_t blen) noexcept
{
    return noCaseCompareCounted(a, alen, b, blen);
}

int strCompareW(const uint16_t* a, const uint16_t* b) noexcept
{
    size_t i = 0;
    while (a[i] != 0 && a[i] == b[i])
        ++i;
    return a[i] == b[i] ? 0 : (a[i] < b[i] ? -1 : 1);
}

int strCompareCodePointNW(const uint16_t* a, size_t alen, const uint16_t* b, size_t blen) noexcept
{
    // A high surrogate sorts as the supplementary code point it starts,
    // above every basic-plane unit; equal high surrogates leave the decision
    // to the units that follow.
    auto key = [](uint16_t u) -> int32_t { return isHigh(u) ? 0x10000 + ((u - 0xD800) << 10) : u; };
    size_t n = alen < blen ? alen : blen;
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return key(a[i]) < key(b[i]) ? -1 : 1;
    }
    return sign3(static_cast<long long>(alen), static_cast<long long>(blen));
}

int strCompareCodePointW(const uint16_t* a, size_t alen, const uint16_t* b) noexcept
{
    return strCompareCodePointNW(a, alen, b, strLenW(b));
}

int strCompareWithUtf8W(const uint16_t* a, const char* utf8) noexcept
{
    TextW w = terminated(a);
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        bool ew = w.end(i);
        unsigned char lead = ub(utf8[j]);
        bool e8 = lead == 0;
        if (ew || e8)
            return ew == e8 ? 0 : (ew ? -1 : 1);
        size_t n = w.step(i);
        int32_t cw = w.codePoint(i, n);
        i += n;

        size_t len8 = lead < 0x80 ? 1 : (lead < 0xE0 ? 2 : (lead < 0xF0 ? 3 : 4));
        int32_t c8 = len8 == 1 ? lead : (lead & (len8 == 2 ? 0x1F : (len8 == 3 ? 0x0F : 0x07)));
        ++j;
        for (size_t k = 1; k < len8; ++k, ++j) {
            unsigned char cont = ub(utf8[j]);
            if (cont == 0)
                return 1;  // the UTF-8 text ends inside a character
            c8 = (c8 << 6) | (cont & 0x3F);
        }
        if (cw != c8)
            return cw < c8 ? -1 : 1;
    }
}

int strEqualW(const uint16_t* a, const uint16_t* b) noexcept
{
    return strCompareW(a, b) == 0 ? 1 : 0;
}

int strEqualNW(const uint16_t* a, size_t n, const uint16_t* b) noexcept
{
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == 0 || a[i] != b[i])
            return 0;
    }
    return b[n] == 0 ? 1 : 0;
}

int strEqualWN(const uint16_t* a, const uint16_t* b, size_t n) noexcept
{
    return strEqualNW(b, n, a);
}

int strEqualMemW(const uint16_t* a, const uint16_t* b, size_t n) noexcept
{
    return fastMemeq(a, b, n * sizeof(uint16_t));
}

int strEqualNoCaseW(const uint16_t* a, const uint16_t* b) noexcept
{
    return noCaseCompareW(terminated(a), terminated(b)) == 0 ? 1 : 0;
}

int strEqualNoCaseNW(const uint16_t* a, size_t alen, const uint16_t* b) noexcept
{
    return noCaseCompareW(counted(a, alen), terminated(b)) == 0 ? 1 : 0;
}

int strEqualNoCaseWN(const uint16_t* a, const uint16_t* b, size_t blen) noexcept
{
    return noCaseCompareW(terminated(a), counted(b, blen)) == 0 ? 1 : 0;
}

int strEqualNoCaseNNW(const uint16_t* a, size_t alen, const uint16_t* b, size_t blen) noexcept
{
    if (alen != blen)
        return 0;
    return noCaseCompareW(counted(a, alen), counted(b, blen)) == 0 ? 1 : 0;
}

int strCompareNoCaseW(const uint16_t* a, const uint16_t* b) noexcept
{
    return noCaseCompareW(terminated(a), terminated(b));
}

int strCompareNoCaseNW(const uint16_t* a, size_t alen, const uint16_t* b) noexcept
{
    return noCaseCompareW(counted(a, alen), terminated(b));
}

int strCompareNoCaseNNW(const uint16_t* a, size_t alen, const uint16_t* b, size_t blen) noexcept
{
    return noCaseCompareW(counted(a, alen), counted(b, blen));
}

// ==== Copies, widening and narrowing ========================================

namespace {

inline char same(char c) noexcept
{
    return c;
}
inline uint16_t same16(uint16_t u) noexcept
{
    return u;
}
inline uint16_t widen(char c) noexcept
{
    return ub(c);
}
inline char lowByte(uint16_t u) noexcept
{
    return static_cast<char>(u & 0xFF);
}

// Terminated src into dst, each unit through conv; returns the end.
template <typename D, typename S, typename Conv>
D* copyTerminated(D* dst, const S* src, Conv conv) noexcept
{
    size_t i = 0;
    for (; src[i] != 0; ++i)
        dst[i] = conv(src[i]);
    dst[i] = 0;
    return dst + i;
}

template <typename D, typename S, typename Conv>
D* copyCounted(D* dst, const S* src, size_t n, Conv conv) noexcept
{
    for (size_t i = 0; i < n; ++i)
        dst[i] = conv(src[i]);
    dst[n] = 0;
    return dst + n;
}

// Terminated src into size units of dst (size > 0), the terminator
// included; returns the units copied, unterminated yet.
template <typename D, typename S, typename Conv>
size_t copyWhileRoom(D* dst, size_t size, const S* src, Conv conv) noexcept
{
    size_t i = 0;
    while (i + 1 < size && src[i] != 0) {
        dst[i] = conv(src[i]);
        ++i;
    }
    return i;
}

// As much of terminated src as size units of dst hold with a terminator.
template <typename D, typename S, typename Conv>
D* copyBounded(D* dst, size_t size, const S* src, Conv conv) noexcept
{
    if (size == 0)
        return dst;
    size_t i = copyWhileRoom(dst, size, src, conv);
    dst[i] = 0;
    return dst + i;
}

inline size_t roomFor(size_t n, size_t size) noexcept
{
    return n < size - 1 ? n : size - 1;
}

// A high surrogate in the last of m copied units would lose its partner.
inline size_t withoutCutPair(const uint16_t* dst, size_t m) noexcept
{
    return m > 0 && isHigh(dst[m - 1]) ? m - 1 : m;
}

}  // namespace

char* strCopyBounded(char* dst, size_t size, const char* src) noexcept
{
    return copyBounded(dst, size, src, same);
}

char* strCopyN(char* dst, size_t size, const char* src, size_t n) noexcept
{
    if (size == 0)
        return dst;
    return strCopyNTerm(dst, src, roomFor(n, size));
}

char* strAppendN(char* dst, const char* src, size_t n) noexcept
{
    return strCopyNTerm(dst + std::strlen(dst), src, n);
}

char* strCopyNTerm(char* dst, const char* src, size_t n) noexcept
{
    fastMemcpy(dst, src, n);
    dst[n] = 0;
    return dst + n;
}

uint16_t* strCopyW(uint16_t* dst, const uint16_t* src) noexcept
{
    return copyTerminated(dst, src, same16);
}

uint16_t* strCopyBoundedW(uint16_t* dst, size_t size, const uint16_t* src) noexcept
{
    if (size == 0)
        return dst;
    size_t i = copyWhileRoom(dst, size, src, same16);
    if (i == size - 1)
        i = withoutCutPair(dst, i);
    dst[i] = 0;
    return dst + i;
}

uint16_t* strCopyNBoundedW(uint16_t* dst, size_t size, const uint16_t* src, size_t n) noexcept
{
    if (size == 0)
        return dst;
    size_t m = roomFor(n, size);
    fastMemcpy(dst, src, m * sizeof(uint16_t));
    if (m < n)
        m = withoutCutPair(dst, m);
    dst[m] = 0;
    return dst + m;
}

uint16_t* strCopyNW(uint16_t* dst, const uint16_t* src, size_t n) noexcept
{
    fastMemcpy(dst, src, n * sizeof(uint16_t));
    dst[n] = 0;
    return dst + n;
}

uint16_t* strSwapCopyW(uint16_t* dst, const uint16_t* src, size_t n) noexcept
{
    return copyCounted(dst, src, n, [](uint16_t u) { return static_cast<uint16_t>((u << 8) | (u >> 8)); });
}

uint16_t* strWidenW(uint16_t* dst, const char* src) noexcept
{
    return copyTerminated(dst, src, widen);
}

uint16_t* strWidenNW(uint16_t* dst, const char* src, size_t n) noexcept
{
    return copyCounted(dst, src, n, widen);
}

uint16_t* strWidenBoundedW(uint16_t* dst, size_t size, const char* src) noexcept
{
    return copyBounded(dst, size, src, widen);
}

uint16_t* strWidenHighByteW(uint16_t* dst, const char* src) noexcept
{
    return copyTerminated(dst, src, [](char c) { return static_cast<uint16_t>(ub(c) << 8); });
}

char* strNarrowW(char* dst, const uint16_t* src) noexcept
{
    return copyTerminated(dst, src, lowByte);
}

char* strNarrowNW(char* dst, const uint16_t* src, size_t n) noexcept
{
    return copyCounted(dst, src, n, lowByte);
}

char* strNarrowBoundedW(char* dst, size_t size, const uint16_t* src, size_t n) noexcept
{
    if (size == 0)
        return dst;
    return strNarrowNW(dst, src, roomFor(n, size));
}

// ==== Quoting ===============================================================

char* strQuote(char* dst, const char* src, size_t n, int kind, char quote) noexcept
{
    return quoteIn(dst, src, n, quote, [kind](const char* p, size_t avail) { return claimedCharLen(p, avail, kind); });
}

char* strQuoteCStr(char* dst, const char* src, int kind, char quote) noexcept
{
    return strQuote(dst, src, std::strlen(src), kind, quote);
}

char* strAppendQuoted(char* dst, const char* src, int kind, char quote) noexcept
{
    return strQuoteCStr(dst + std::strlen(dst), src, kind, quote);
}

char* strUnquote(char* dst, const char* src, size_t n) noexcept
{
    // Text shorter than its two quotes has nothing inside.
    if (n < 2) {
        *dst = 0;
        return dst;
    }
    const char quote = src[0];
    const char* inner = src + 1;
    const size_t m = n - 2;
    char* out = dst;
    size_t i = 0;
    while (i < m) {
        // inner[i + 1] is at worst the closing byte, so mblen may look at it.
        if (ub(inner[i]) >= 0x80 && KaDbcsIsDoubleByte(inner + i)) {
            if (i + 1 >= m)
                break;
            *out++ = inner[i];
            *out++ = inner[i + 1];
            i += 2;
        } else if (inner[i] == quote && i + 1 < m) {
            *out++ = inner[i + 1];
            i += 2;
        } else {
            // A lone quote before the closing one is kept, not lost.
            *out++ = inner[i];
            ++i;
        }
    }
    *out = 0;
    return out;
}

char* strUnquoteCStr(char* dst, const char* src) noexcept
{
    return strUnquote(dst, src, std::strlen(src));
}

size_t strUnquoteLen(char* text, size_t len, char quote, int kind) noexcept
{
    return unquoteLenIn(text, len, quote, [text, kind](size_t n) { return counted(text, n, kind); });
}

size_t strUnquoteInPlace(char* text, char quote, int kind) noexcept
{
    size_t len = strUnquoteLen(text, std::strlen(text), quote, kind);
    text[len] = 0;
    return len;
}

uint16_t* strQuoteW(uint16_t* dst, const uint16_t* src, size_t n, uint16_t quote) noexcept
{
    return quoteIn(dst, src, n, quote, [](const uint16_t* p, size_t) -> size_t { return isHigh(*p) ? 2 : 1; });
}

uint16_t* strUnquoteW(uint16_t* dst, const uint16_t* src, size_t n) noexcept
{
    if (n < 2) {
        *dst = 0;
        return dst;
    }
    size_t w = undoubleW(dst, src + 1, n - 2, src[0]);
    dst[w] = 0;
    return dst + w;
}

size_t strUnquoteLenW(uint16_t* text, size_t len, uint16_t quote) noexcept
{
    size_t w = unquoteLenIn(text, len, quote, [text](size_t n) { return counted(text, n); });
    if (w != len)
        text[w] = 0;
    return w;
}

uint16_t strUnquoteInPlaceW(uint16_t* text, uint16_t quote) noexcept
{
    if (text[0] == 0 || text[0] != quote)
        return 0;
    size_t len = strLenW(text);
    size_t end = (len >= 2 && text[len - 1] == quote) ? len - 1 : len;
    size_t w = undoubleW(text, text + 1, end - 1, quote);
    text[w] = 0;
    return quote;
}

size_t strStripBracketsW(uint16_t* dst, const uint16_t* src, size_t n) noexcept
{
    if (n < 2 || src[0] != u'[' || src[n - 1] != u']') {
        fastMemcpy(dst, src, n * sizeof(uint16_t));
        return n;
    }
    return undoubleW(dst, src + 1, n - 2, u']');
}

// ==== Searches ==============================================================

const char* strFindChar(const char* s, char c, int kind) noexcept
{
    return findCharIn(terminated(s, kind), c);
}

const char* strFindCharDbcs(const char* s, char c) noexcept
{
    return strFindChar(s, c, KA_TEXT_LOCALE);
}

const char* strFindLastChar(const char* s, char c, int kind) noexcept
{
    return lastWhere(terminated(s, kind), [&](size_t i, size_t) { return s[i] == c; });
}

const char* strFind(const char* s, const char* pattern, int kind) noexcept
{
    if (pattern[0] == 0)
        return nullptr;
    for (const char* p = s; *p != 0; p += charLenT(p, kind)) {
        if (*p != pattern[0])
            continue;
        // A zero in the text differs from every pattern byte, so the walk
        // stops at the text's end.
        size_t k = 1;
        while (pattern[k] != 0 && p[k] == pattern[k])
            ++k;
        if (pattern[k] == 0)
            return p;
    }
    return nullptr;
}

const char* strFindN(const char* s, size_t len, const char* pattern, size_t plen, int kind) noexcept
{
    return firstWindow(counted(s, len, kind), plen,
                       [&](size_t i) { return s[i] == pattern[0] && fastMemeq(s + i + 1, pattern + 1, plen - 1); });
}

const char* strFindNoCaseNN(const char* s, size_t len, const char* pattern, size_t plen, int kind) noexcept
{
    if (plen == 0 || plen > len)
        return nullptr;
    RamPtr<char> text = ramMake<char>(len + 1);
    if (!text)
        return nullptr;
    RamPtr<char> pat = ramMake<char>(plen + 1);
    if (!pat)
        return nullptr;
    strCopyNTerm(text.get(), s, len);
    strCopyNTerm(pat.get(), pattern, plen);
    KaDbcsStrUpperN(text.get(), len);
    KaDbcsStrUpperN(pat.get(), plen);
    const char* found = strFindN(text.get(), len, pat.get(), plen, kind);
    return found == nullptr ? nullptr : s + (found - text.get());
}

const char* strFindNoCase(const char* s, const char* pattern, int kind) noexcept
{
    return strFindNoCaseNN(s, std::strlen(s), pattern, std::strlen(pattern), kind);
}

const char* strFindNoCaseN(const char* s, size_t len, const char* pattern, int kind) noexcept
{
    return strFindNoCaseNN(s, len, pattern, std::strlen(pattern), kind);
}

const char* strFindEitherCase(const char* s, size_t len, const char* lower, const char* upper, size_t plen,
                              int kind) noexcept
{
    return firstWindow(counted(s, len, kind), plen,
                       [&](size_t i) { return fastMatchEitherCase(s + i, lower, upper, plen) != 0; });
}

const char* strFindCharOutsideQuotes(const char* s, char c, char q1, char q2, char q3, int kind) noexcept
{
    return findCharOutsideQuotesIn(terminated(s, kind), c, q1, q2, q3);
}

const char* strFindExtension(const char* s, int kind) noexcept
{
    return findExtensionIn(terminated(s, kind));
}

const char* strFindExtensionN(const char* s, size_t len, int kind) noexcept
{
    return findExtensionIn(counted(s, len, kind));
}

const uint16_t* strFindExtensionNW(const uint16_t* s, size_t len) noexcept
{
    return findExtensionIn(counted(s, len));
}

const uint16_t* strFindExtensionW(const uint16_t* s) noexcept
{
    return findExtensionIn(terminated(s));
}

namespace {

bool inCharSet(char c, const char* set, int flags, int kind) noexcept
{
    if (c == 0)
        return false;
    if (set != nullptr && strFindChar(set, c, kind) != nullptr)
        return true;
    if ((flags & kStrCharSetLower) && strFindChar("abcdefghijklmnopqrstuvwxyz", c, KA_TEXT_LOCALE))
        return true;
    if ((flags & kStrCharSetUpper) && strFindChar("ABCDEFGHIJKLMNOPQRSTUVWXYZ", c, KA_TEXT_LOCALE))
        return true;
    if ((flags & kStrCharSetDigit) && strFindChar("0123456789", c, KA_TEXT_LOCALE))
        return true;
    return false;
}

}  // namespace

int strIsInCharSet(const char* s, size_t len, const char* set, int flags, int kind) noexcept
{
    auto outside = [&](size_t i, size_t) { return !inCharSet(s[i], set, flags, kind); };
    return firstWhere(counted(s, len, kind), outside) == nullptr ? 1 : 0;
}

int strHasNoCharOf(const char* s, size_t len, const char* set, int flags, int kind) noexcept
{
    auto inside = [&](size_t i, size_t) { return inCharSet(s[i], set, flags, kind); };
    return firstWhere(counted(s, len, kind), inside) == nullptr ? 1 : 0;
}

const uint16_t* strFindCharW(const uint16_t* s, uint16_t c) noexcept
{
    return findCharIn(terminated(s), c);
}

const uint16_t* strFindCharNW(const uint16_t* s, size_t len, uint16_t c) noexcept
{
    return findCharIn(counted(s, len), c);
}

const uint16_t* strFindLastCharNW(const uint16_t* s, size_t len, uint16_t c) noexcept
{
    TextW t = counted(s, len);
    return lastWhere(t, [&](size_t i, size_t n) { return t.byUnit(n) && s[i] == c; });
}

const uint16_t* strFindAnyOfNW(const uint16_t* s, size_t len, const uint16_t* set) noexcept
{
    TextW t = counted(s, len);
    return firstWhere(t, [&](size_t i, size_t n) { return t.byUnit(n) && strFindCharW(set, s[i]) != nullptr; });
}

const uint16_t* strFindAnyOfAsciiNW(const uint16_t* s, size_t len, const char* set) noexcept
{
    TextW t = counted(s, len);
    return firstWhere(t, [&](size_t i, size_t n) {
        return t.byUnit(n) && s[i] != 0 && s[i] < 0x100 && std::strchr(set, static_cast<char>(s[i])) != nullptr;
    });
}

const uint16_t* strFindW(const uint16_t* s, const uint16_t* pattern, size_t plen) noexcept
{
    return findW(terminated(s), pattern, plen);
}

const uint16_t* strFindNW(const uint16_t* s, size_t len, const uint16_t* pattern, size_t plen) noexcept
{
    if (plen > len)
        return nullptr;
    return findW(counted(s, len), pattern, plen);
}

const uint16_t* strFindCharNoCaseW(const uint16_t* s, uint32_t codePoint) noexcept
{
    return findCharNoCaseW(terminated(s), codePoint);
}

const uint16_t* strFindCharNoCaseNW(const uint16_t* s, size_t len, uint32_t codePoint) noexcept
{
    return findCharNoCaseW(counted(s, len), codePoint);
}

const uint16_t* strFindNoCaseW(const uint16_t* s, const uint16_t* pattern, size_t plen) noexcept
{
    return findNoCaseW(terminated(s), pattern, plen);
}

const uint16_t* strFindNoCaseNW(const uint16_t* s, size_t len, const uint16_t* pattern, size_t plen) noexcept
{
    return findNoCaseW(counted(s, len), pattern, plen);
}

const uint16_t* strFindCharOutsideQuotesW(const uint16_t* s, uint16_t c, uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    return findCharOutsideQuotesIn(terminated(s), c, q1, q2, q3);
}

// ==== Lengths, trims, escaping ==============================================

namespace {

template <typename Unit>
size_t unitsBeforeZero(const Unit* s) noexcept
{
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

// The end of the last character of counted text that keep(i, n) keeps.
template <typename Keep>
size_t keptEnd(const char* s, size_t len, int kind, Keep keep) noexcept
{
    size_t end = 0;
    lastWhere(counted(s, len, kind), [&](size_t i, size_t n) {
        if (keep(i, n))
            end = i + n;
        return false;
    });
    return end;
}

}  // namespace

size_t strLenW(const uint16_t* s) noexcept
{
    return unitsBeforeZero(s);
}

uint16_t* strDupNW(const uint16_t* text, size_t n) noexcept
{
    auto* copy = static_cast<uint16_t*>(ramAlloc((n + 1) * sizeof(uint16_t)));
    if (copy == nullptr)
        return nullptr;
    if (n != 0)
        std::memcpy(copy, text, n * sizeof(uint16_t));
    copy[n] = 0;
    return copy;
}

size_t strLenW32(const uint32_t* s) noexcept
{
    return unitsBeforeZero(s);
}

int charWidthClass(int32_t c) noexcept
{
    return c < 256 ? 1 : 2;
}

size_t strTrimmedLenN(const char* s, size_t len, int kind) noexcept
{
    return keptEnd(s, len, kind, [s](size_t i, size_t n) { return !isSpaceChar(s + i, n); });
}

void strTrimSpaces(char* s, int kind) noexcept
{
    s[strTrimmedLenN(s, std::strlen(s), kind)] = 0;
}

size_t strTrimmedLenSpaces(const char* s, size_t len, int kind) noexcept
{
    return keptEnd(s, len, kind, [s](size_t i, size_t n) { return n != 1 || s[i] != ' '; });
}

void strTrimTrailingSpaces(char* s, int kind) noexcept
{
    s[strTrimmedLenSpaces(s, std::strlen(s), kind)] = 0;
}

namespace {

size_t trimmedLenW(const uint16_t* s, size_t len, bool swapped) noexcept
{
    auto unit = [s, swapped](size_t i) -> uint16_t {
        uint16_t u = s[i];
        return swapped ? static_cast<uint16_t>((u << 8) | (u >> 8)) : u;
    };
    while (len > 0) {
        uint16_t last = unit(len - 1);
        int32_t c = last;
        size_t n = 1;
        if (isLow(last) && len >= 2 && isHigh(unit(len - 2))) {
            c = ((unit(len - 2) - 0xD800) << 10) + (last - 0xDC00) + 0x10000;
            n = 2;
        }
        if (!u_isWhitespace(c))
            break;
        len -= n;
    }
    return len;
}

}  // namespace

size_t strTrimmedLenW(const uint16_t* s, size_t len) noexcept
{
    return trimmedLenW(s, len, false);
}

size_t strTrimmedLenSwappedW(const uint16_t* s, size_t len) noexcept
{
    return trimmedLenW(s, len, true);
}

void strTrimW(uint16_t* s) noexcept
{
    s[strTrimmedLenW(s, strLenW(s))] = 0;
}

size_t strTrimmedLenW32(const uint32_t* s, size_t len) noexcept
{
    while (len > 0 && u_isWhitespace(static_cast<UChar32>(s[len - 1])))
        --len;
    return len;
}

int strXmlEscape(const char* s, char** out, uint16_t* outLen) noexcept
{
    if (s == nullptr)
        return 1;
    size_t need = 0;
    for (const char* p = s; *p != 0; ++p) {
        switch (*p) {
        case '"': need += 6; break;
        case '\'': need += 6; break;
        case '&': need += 5; break;
        case '<': need += 4; break;
        case '>': need += 4; break;
        default: need += 1; break;
        }
    }
    // The length goes back in 16 bits; a longer result would be reported
    // cut, so it is refused.
    if (need > UINT16_MAX) {
        *out = nullptr;
        return 1;
    }
    char* block = static_cast<char*>(ramAlloc(need + 1));
    *out = block;
    if (block == nullptr)
        return 1;
    char* w = block;
    for (const char* p = s; *p != 0; ++p) {
        const char* entity = nullptr;
        switch (*p) {
        case '"': entity = "&quot;"; break;
        case '\'': entity = "&apos;"; break;
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        default: break;
        }
        if (entity != nullptr)
            w = fastStrcpy(w, entity);
        else
            *w++ = *p;
    }
    *w = 0;
    *outLen = static_cast<uint16_t>(need);
    return 0;
}

// ==== SQL LIKE ==============================================================

int strLikeCharMatch(const char* v, const char* p, int caseSensitive) noexcept
{
    return likeCharMatch(v, charLenT(v, KA_TEXT_LOCALE), p, charLenT(p, KA_TEXT_LOCALE), caseSensitive) ? 1 : 0;
}

int strLikeCharMatchW(const uint16_t* v, const uint16_t* p, int caseSensitive) noexcept
{
    TextW tv = terminated(v);
    TextW tp = terminated(p);
    if (tv.end(0) || tp.end(0))
        return v[0] == p[0] ? 1 : 0;
    return likeCharMatchW(tv, 0, tv.step(0), tp, 0, tp.step(0), caseSensitive) ? 1 : 0;
}

namespace {

// LIKE matching that goes back to the last wildcard on a mismatch. stepV and
// stepP give the units of the value's and the pattern's character at an
// index; same(v, vl, p, pl) compares one character of each.
template <typename Unit, typename StepV, typename StepP, typename Same>
int likeMatch(size_t vlen, const Unit* pattern, size_t plen, Unit wildcard, Unit oneChar, Unit escape, StepV stepV,
              StepP stepP, Same same) noexcept
{
    size_t v = 0;
    size_t p = 0;
    bool haveBack = false;
    size_t backV = 0;
    size_t backP = 0;
    while (v < vlen) {
        bool mismatch = false;
        if (p >= plen) {
            mismatch = true;
        } else if (pattern[p] == wildcard) {
            for (;;) {
                while (p < plen && pattern[p] == wildcard)
                    ++p;
                while (p < plen && pattern[p] == oneChar && v < vlen) {
                    v += stepV(v);
                    ++p;
                }
                if (p < plen && pattern[p] == wildcard)
                    continue;
                break;
            }
            if (p >= plen)
                return 1;
            haveBack = true;
            backV = v;
            backP = p;
            continue;
        } else if (pattern[p] == oneChar) {
            v += stepV(v);
            ++p;
            continue;
        } else {
            if (escape != 0 && pattern[p] == escape) {
                ++p;
                if (p >= plen)
                    mismatch = true;
            }
            if (!mismatch) {
                size_t pl = stepP(p);
                size_t vl = stepV(v);
                if (same(v, vl, p, pl)) {
                    v += vl;
                    p += pl;
                    continue;
                }
                mismatch = true;
            }
        }
        if (!haveBack)
            return 0;
        backV += stepV(backV);
        v = backV;
        p = backP;
    }
    while (p < plen && pattern[p] == wildcard)
        ++p;
    return p >= plen ? 1 : 0;
}

}  // namespace

int strLike(const char* value, const char* pattern, char wildcard, char oneChar, char escape, int caseSensitive,
            int exactLength, int kind) noexcept
{
    return strLikeN(value, std::strlen(value), pattern, std::strlen(pattern), wildcard, oneChar, escape, caseSensitive,
                    exactLength, kind);
}

int strLikeN(const char* value, size_t vlen, const char* pattern, size_t plen, char wildcard, char oneChar, char escape,
             int caseSensitive, int exactLength, int kind) noexcept
{
    if (exactLength == 0) {
        vlen = strTrimmedLenN(value, vlen, kind);
        plen = strTrimmedLenN(pattern, plen, kind);
    }
    return likeMatch<char>(
        vlen, pattern, plen, wildcard, oneChar, escape, [&](size_t i) { return charLenN(value, i, vlen, kind); },
        [&](size_t i) { return charLenN(pattern, i, plen, kind); },
        [&](size_t v, size_t vl, size_t p, size_t pl) {
            return likeCharMatch(value + v, vl, pattern + p, pl, caseSensitive);
        });
}

int strLikeNW(const uint16_t* value, size_t vlen, const uint16_t* pattern, size_t plen, uint16_t wildcard,
              uint16_t oneChar, uint16_t escape, int caseSensitive, int exactLength) noexcept
{
    if (exactLength == 0) {
        vlen = strTrimmedLenW(value, vlen);
        plen = strTrimmedLenW(pattern, plen);
    }
    TextW tv = counted(value, vlen);
    TextW tp = counted(pattern, plen);
    return likeMatch<uint16_t>(
        vlen, pattern, plen, wildcard, oneChar, escape, [&](size_t i) { return tv.step(i); },
        [&](size_t i) { return tp.step(i); },
        [&](size_t v, size_t vl, size_t p, size_t pl) { return likeCharMatchW(tv, v, vl, tp, p, pl, caseSensitive); });
}
