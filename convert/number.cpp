// The number engine: every numeric conversion between value kinds, with the
// range checks, truncation rules and errors of ODBC. It works in stack
// buffers only; nothing here allocates.
#include "convert/number.h"

#include <unicode/uchar.h>

#include <cctype>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "convert/basecvt.h"
#include "convert/datetime.h"
#include "foundation/numtext.h"
#include "convert/textcvt.h"
#include "convert/basediag.h"
#include "kamessages.h"

namespace {

// ---- Settings and small helpers ---------------------------------------------

struct Settings {
    uint16_t doubleToStringPrecision;
    uint16_t roundingMode;
    const BaseConvertContext* ctx;
};

Settings settingsOf(const BaseConvertContext* ctx) noexcept
{
    Settings s{0, 0, ctx};
    if (ctx != nullptr) {
        s.doubleToStringPrecision = ctx->settings.doubleToStringPrecision;
        s.roundingMode = ctx->settings.roundingMode;
    }
    return s;
}

bool isUtf16(int64_t cp) noexcept
{
    return cp == kCodePageUtf16BE || cp == kCodePageUtf16LE || cp == kCodePageUtf16;
}

bool isUtf32(int64_t cp) noexcept
{
    return cp == kCodePageUtf32BE || cp == kCodePageUtf32LE;
}

bool odbc3Param(uint32_t flags) noexcept
{
    return (flags & kBaseFlagOdbc3) != 0 && (flags & kBaseFlagParam) != 0;
}

int16_t errOutOfRange() noexcept
{
    baseCvtPostError(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    return 1;
}

int16_t errBadChar() noexcept
{
    baseCvtPostError(MSG_SQLSTATE_INVALID_CAST);
    return 1;
}

// Text that cannot hold the integer part: 22001 for an ODBC 3 parameter that
// lost digits or goes into text or a bit, else 22003.
int16_t errNoRoom(uint32_t flags, bool dropped, int32_t dstKind) noexcept
{
    if (odbc3Param(flags) && (dropped || dstKind == kBaseKindText || dstKind == kBaseKindBit)) {
        baseCvtPostError(MSG_SQLSTATE_STRING_TRUNCATION);
        return 1;
    }
    return errOutOfRange();
}

// Dropped digits end with 01S07, or with an error for an ODBC 3
// application's parameter under the strict policy.
int16_t finishDropped(bool dropped, int32_t truncation, uint32_t flags, int32_t dstKind) noexcept
{
    if (!dropped || truncation == kBaseTruncSilent)
        return 0;
    if (truncation == kBaseTruncStrict && odbc3Param(flags))
        return errNoRoom(flags, true, dstKind);
    baseCvtPostWarning(MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
    return 0;
}

void setZero(BaseNumber* n) noexcept
{
    n->exponent = 1;
    n->digitCount = 1;
    n->negative = false;
    n->digits[0] = '0';
}

bool isZero(const BaseNumber& n) noexcept
{
    return n.digitCount == 1 && n.digits[0] == '0';
}

// Leading zeros lower the exponent, trailing zeros go; nothing left is zero.
void normalize(BaseNumber* n) noexcept
{
    int32_t start = 0;
    while (start < n->digitCount && n->digits[start] == '0')
        ++start;
    int32_t end = n->digitCount;
    while (end > start && n->digits[end - 1] == '0')
        --end;
    if (end == start) {
        bool fromExp = n->fromExponentForm;
        setZero(n);
        n->fromExponentForm = fromExp;
        return;
    }
    if (start > 0)
        std::memmove(n->digits, n->digits + start, static_cast<size_t>(end - start));
    n->exponent -= start;
    n->digitCount = end - start;
}

void numberFromU64(uint64_t v, bool negative, BaseNumber* n) noexcept
{
    char tmp[24];
    int32_t len = 0;
    do {
        tmp[len++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (int32_t i = 0; i < len; ++i)
        n->digits[i] = tmp[len - 1 - i];
    n->digitCount = len;
    n->exponent = len;
    n->negative = negative;
    n->keepAllDigits = false;
    n->fromExponentForm = false;
    normalize(n);
    if (isZero(*n))
        n->negative = false;
}

// ---- Text parsing -------------------------------------------------------------

bool isBlank(const char* p, const char* end, int32_t* width) noexcept
{
    auto c = static_cast<unsigned char>(*p);
    if (std::isspace(c)) {
        *width = 1;
        return true;
    }
    // The two-byte blank of Shift-JIS text, when the locale reads it as one character.
    if (c == 0x81 && end - p >= 2 && static_cast<unsigned char>(p[1]) == 0x40) {
        std::mbstate_t state{};
        if (std::mbrlen(p, 2, &state) == 2) {
            *width = 2;
            return true;
        }
    }
    return false;
}

}  // namespace

int32_t baseParseExponent(const char* text, int32_t length, int16_t* value) noexcept
{
    int32_t i = 0;
    bool minus = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        minus = text[i] == '-';
        ++i;
    }
    int32_t digitsStart = i;
    int32_t v = 0;
    while (i < length && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (text[i] - '0');
        if (v > 32768)
            return 0;
        ++i;
    }
    if (i == digitsStart)
        return 0;
    if (v == 32768 && !minus)
        return 0;
    *value = static_cast<int16_t>(minus ? -v : v);
    return i;
}

int16_t baseParseNumberText(const char* text, int64_t length, BaseNumber* out) noexcept
{
    const char* p = text;
    const char* end = text + (length > 0 ? length : 0);
    out->negative = false;
    out->keepAllDigits = false;
    out->fromExponentForm = false;
    out->digitCount = 0;
    out->exponent = 0;
    int32_t w = 0;
    while (p < end && isBlank(p, end, &w))
        p += w;
    if (p < end && (*p == '-' || *p == '+')) {
        out->negative = *p == '-';
        ++p;
        while (p < end && isBlank(p, end, &w))
            p += w;
    }
    bool anyDigit = false;
    bool point = false;
    bool significant = false;
    int32_t heldZeros = 0;
    int32_t intDigits = 0;
    while (p < end) {
        char c = *p;
        if (c >= '0' && c <= '9') {
            anyDigit = true;
            if (!point)
                ++intDigits;
            if (c == '0') {
                if (!significant) {
                    // A leading zero: before the point it does not count, after
                    // it it lowers the exponent.
                    if (!point)
                        --intDigits;
                    else
                        --out->exponent;
                } else {
                    ++heldZeros;
                }
            } else {
                significant = true;
                if (out->digitCount + heldZeros + 1 > kBaseMaxDigits)
                    return errBadChar();
                while (heldZeros > 0) {
                    out->digits[out->digitCount++] = '0';
                    --heldZeros;
                }
                out->digits[out->digitCount++] = c;
            }
            ++p;
            continue;
        }
        if (c == '.' && !point) {
            point = true;
            ++p;
            continue;
        }
        break;
    }
    if (!anyDigit)
        return errBadChar();
    out->exponent += intDigits;
    if (p < end && (*p == 'E' || *p == 'e')) {
        ++p;
        int16_t e = 0;
        int32_t used = baseParseExponent(p, static_cast<int32_t>(end - p), &e);
        if (used == 0)
            return errBadChar();
        p += used;
        out->exponent += e;
        out->fromExponentForm = true;
    }
    if (p < end) {
        if (!isBlank(p, end, &w))
            return errBadChar();
        while (p < end && isBlank(p, end, &w))
            p += w;
        if (p < end)
            return errBadChar();
    }
    if (out->digitCount == 0) {
        bool fromExp = out->fromExponentForm;
        setZero(out);
        out->fromExponentForm = fromExp;
        return 0;
    }
    normalize(out);
    if (isZero(*out))
        out->negative = false;
    return 0;
}

namespace {

// Text of the source in any code page, narrowed to ASCII for the parser.
int16_t parseSourceText(const Settings& s, int64_t cp, const void* src, int64_t srcLength, BaseNumber* out) noexcept
{
    if (srcLength < 0)
        srcLength = 0;
    char narrow[kBaseMaxNumberText];
    if (isUtf16(cp) || isUtf32(cp)) {
        const auto* bytes = static_cast<const uint8_t*>(src);
        int64_t unit = baseCodePageUnitWidth(cp);
        int64_t units = srcLength / unit;
        auto unitAt = [&](int64_t i) -> uint32_t {
            const uint8_t* b = bytes + i * unit;
            if (unit == 2)
                return cp == kCodePageUtf16BE ? (uint32_t{b[0]} << 8 | b[1]) : (uint32_t{b[1]} << 8 | b[0]);
            if (cp == kCodePageUtf32BE)
                return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
            return uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
        };
        auto isSurrogate = [](uint32_t u) { return u >= 0xD800 && u <= 0xDFFF; };
        int64_t first = 0;
        while (first < units) {
            uint32_t u = unitAt(first);
            if (unit == 2 && u >= 0xD800 && u <= 0xDBFF && first + 1 < units) {
                uint32_t lo = unitAt(first + 1);
                if (!u_isWhitespace(static_cast<UChar32>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00))))
                    break;
                first += 2;
                continue;
            }
            if (isSurrogate(u) || !u_isWhitespace(static_cast<UChar32>(u)))
                break;
            ++first;
        }
        int64_t last = units;
        while (last > first) {
            uint32_t u = unitAt(last - 1);
            if (unit == 2 && u >= 0xDC00 && u <= 0xDFFF && last - 2 >= first) {
                uint32_t hi = unitAt(last - 2);
                if (hi >= 0xD800 && hi <= 0xDBFF &&
                    u_isWhitespace(static_cast<UChar32>(0x10000 + ((hi - 0xD800) << 10) + (u - 0xDC00)))) {
                    last -= 2;
                    continue;
                }
                break;
            }
            if (isSurrogate(u) || !u_isWhitespace(static_cast<UChar32>(u)))
                break;
            --last;
        }
        // Longer text is not cut to size: a cut number would be a different one.
        if (last - first > kBaseMaxNumberText)
            return errBadChar();
        int64_t n = 0;
        for (int64_t i = first; i < last; ++i) {
            uint32_t u = unitAt(i);
            if (u >= 128)
                return errBadChar();
            narrow[n++] = static_cast<char>(u);
        }
        return baseParseNumberText(narrow, n, out);
    }
    if (cp < 0) {
        int64_t produced = 0;
        int32_t truncated = 0;
        if (baseConvertText(cp, src, srcLength, kCodePageUtf8, narrow, sizeof narrow, &produced, &truncated,
                            baseConvertCache(s.ctx), 1) != 0)
            return 1;
        if (truncated != 0)
            return errBadChar();
        return baseParseNumberText(narrow, produced, out);
    }
    return baseParseNumberText(static_cast<const char*>(src), srcLength, out);
}

// ---- Text output ----------------------------------------------------------------

// Writes n ASCII characters (already cut to the room) in the target's code
// page; returns the bytes written, or -1 after a posted conversion failure.
int64_t encodeAscii(const Settings& s, const char* text, int64_t n, int64_t cp, void* dst, int64_t roomBytes) noexcept
{
    auto* out = static_cast<uint8_t*>(dst);
    if (isUtf16(cp)) {
        for (int64_t i = 0; i < n; ++i) {
            auto c = static_cast<uint8_t>(text[i]);
            out[2 * i] = cp == kCodePageUtf16BE ? 0 : c;
            out[2 * i + 1] = cp == kCodePageUtf16BE ? c : 0;
        }
        return n * 2;
    }
    if (isUtf32(cp)) {
        for (int64_t i = 0; i < n; ++i) {
            auto c = static_cast<uint8_t>(text[i]);
            uint8_t* u = out + 4 * i;
            u[0] = cp == kCodePageUtf32BE ? 0 : c;
            u[1] = 0;
            u[2] = 0;
            u[3] = cp == kCodePageUtf32BE ? c : 0;
        }
        return n * 4;
    }
    if (cp < 0) {
        int64_t produced = 0;
        int32_t truncated = 0;
        if (baseConvertText(kCodePageUtf8, text, n, cp, dst, roomBytes, &produced, &truncated, baseConvertCache(s.ctx),
                            0) != 0)
            return -1;
        return produced;
    }
    if (n > 0)
        std::memcpy(out, text, static_cast<size_t>(n));
    return n;
}

// Longest number text built in one go before encoding: an integer part of
// up to 1000 digits plus zeros, a point, fraction digits and scale padding.
constexpr int64_t kTextWork = 4096;

struct TextResult {
    int64_t written;  // characters
    int64_t full;     // characters of the whole text
    bool cut;
};

int64_t decimalLength(int64_t v) noexcept
{
    int64_t n = v < 0 ? 2 : 1;
    uint64_t m = v < 0 ? static_cast<uint64_t>(-(v + 1)) + 1 : static_cast<uint64_t>(v);
    while (m >= 10) {
        m /= 10;
        ++n;
    }
    return n;
}

int64_t writeSigned(char* out, int64_t room, int64_t v) noexcept
{
    char tmp[24];
    int64_t len = std::snprintf(tmp, sizeof tmp, "%lld", static_cast<long long>(v));
    if (len > room)
        return 0;
    std::memcpy(out, tmp, static_cast<size_t>(len));
    return len;
}

// Plain (non-exponent) form of n into out with room y characters.
int64_t writePlain(const BaseNumber& n, int64_t scale, char* out, int64_t y) noexcept
{
    int64_t pos = 0;
    if (n.negative && y > 1)
        out[pos++] = '-';
    if (n.negative && n.exponent == 0 && pos < y)
        out[pos++] = '0';
    for (int64_t i = 0; i < n.exponent && pos < y; ++i)
        out[pos++] = i < n.digitCount ? n.digits[i] : '0';
    bool hasFraction = n.digitCount > n.exponent;
    if (pos < y && (hasFraction || n.exponent < 0 || scale > 0)) {
        out[pos++] = '.';
        int64_t fracWritten = 0;
        for (int64_t z = 0; z < -static_cast<int64_t>(n.exponent) && pos < y; ++z, ++fracWritten)
            out[pos++] = '0';
        int64_t from = n.exponent > 0 ? n.exponent : 0;
        for (int64_t i = from; i < n.digitCount && pos < y; ++i, ++fracWritten)
            out[pos++] = n.digits[i];
        while (fracWritten < scale && pos < y) {
            out[pos++] = '0';
            ++fracWritten;
        }
        if (out[pos - 1] == '.')
            --pos;
    }
    if (pos == 0 && y > 0)
        out[pos++] = '0';
    return pos;
}

int64_t exponentFormLength(const BaseNumber& n, int64_t digits) noexcept
{
    return (n.negative ? 1 : 0) + digits + (digits > 1 ? 1 : 0) + 1 +
           decimalLength(static_cast<int64_t>(n.exponent) - 1);
}

int64_t writeExponentForm(const BaseNumber& n, int64_t digits, char* out, int64_t room) noexcept
{
    int64_t pos = 0;
    if (n.negative)
        out[pos++] = '-';
    out[pos++] = n.digits[0];
    if (digits > 1) {
        out[pos++] = '.';
        for (int64_t i = 1; i < digits; ++i)
            out[pos++] = n.digits[i];
    }
    out[pos++] = 'E';
    pos += writeSigned(out + pos, room - pos, static_cast<int64_t>(n.exponent) - 1);
    return pos;
}

// The decimal form as text in y characters. Returns 1 after errNoRoom when
// not even the integer part fits.
int16_t formatNumber(const BaseNumber& n, int64_t scale, int64_t y, char* out, uint32_t flags, bool dropped,
                     TextResult* r) noexcept
{
    if (scale < 0)
        scale = 0;
    if (y > kTextWork)
        y = kTextWork;
    const int64_t sign = n.negative ? 1 : 0;
    const bool hasFraction = n.digitCount > n.exponent;
    int64_t x;
    if (!hasFraction)
        x = sign + n.exponent;
    else if (n.exponent <= 0)
        x = sign + (n.negative && n.exponent == 0 ? 1 : 0) + 1 - n.exponent + n.digitCount;
    else
        x = sign + n.digitCount + 1;
    int64_t intLen = sign + (n.exponent > 0 ? n.exponent : 0) + (n.negative && n.exponent == 0 ? 1 : 0);
    if (intLen < 1)
        intLen = 1;
    r->cut = false;
    if (x <= y) {
        r->written = writePlain(n, scale, out, y);
        r->full = r->written;
        return 0;
    }
    if (n.fromExponentForm && n.exponent != 1) {
        int64_t e = exponentFormLength(n, n.digitCount);
        if (e <= y) {
            r->written = writeExponentForm(n, n.digitCount, out, y);
            r->full = r->written;
            return 0;
        }
        r->cut = true;
        r->full = x < e ? x : e;
        if (x < e && intLen <= y) {
            r->written = writePlain(n, 0, out, y);
            return 0;
        }
        if (e - y >= n.digitCount)
            return errNoRoom(flags, dropped, kBaseKindText);
        int64_t k = n.digitCount;
        while (k > 1 && exponentFormLength(n, k) > y)
            --k;
        if (exponentFormLength(n, k) > y)
            return errNoRoom(flags, dropped, kBaseKindText);
        r->written = writeExponentForm(n, k, out, y);
        return 0;
    }
    if (intLen > y)
        return errNoRoom(flags, dropped, kBaseKindText);
    r->written = writePlain(n, 0, out, y);
    r->cut = true;
    r->full = x;
    return 0;
}

// The decimal form as text of the target's code page, with the produced length.
int16_t numberToText(const Settings& s, const BaseNumber& n, int64_t scale, int64_t dstCp, void* dst, int64_t maxLength,
                     int64_t* produced, int32_t truncation, uint32_t flags, bool dropped) noexcept
{
    int64_t unit = baseCodePageUnitWidth(dstCp);
    int64_t y = maxLength > 0 ? maxLength / unit : 0;
    char text[kTextWork];
    TextResult r{};
    if (formatNumber(n, scale, y, text, flags, dropped, &r) != 0)
        return 1;
    int64_t bytes = encodeAscii(s, text, r.written, dstCp, dst, maxLength);
    if (bytes < 0)
        return 1;
    if (r.cut && truncation == kBaseTruncSilent)
        bytes = r.full * unit;
    if (finishDropped(r.cut || dropped, truncation, flags, kBaseKindText) != 0)
        return 1;
    *produced = bytes;
    return 0;
}

// ---- Double formatting tables ------------------------------------------------

constexpr int kTableSize = 2104;
constexpr int kTableBias = 1068;

struct DoubleTables {
    int16_t m[kTableSize];
    uint64_t t[kTableSize];
};

// Exact big numbers of 32-bit limbs, least significant first; wide enough for
// 10^340 and 2^1037.
constexpr int kLimbs = 40;
struct Big {
    uint32_t limb[kLimbs];
};

void bigSetPow2(Big* b, int bit) noexcept
{
    std::memset(b->limb, 0, sizeof b->limb);
    b->limb[bit / 32] = uint32_t{1} << (bit % 32);
}

void bigMulSmall(Big* b, uint32_t f) noexcept
{
    uint64_t carry = 0;
    for (uint32_t& l : b->limb) {
        uint64_t v = uint64_t{l} * f + carry;
        l = static_cast<uint32_t>(v);
        carry = v >> 32;
    }
}

void bigDivSmall(Big* b, uint32_t d) noexcept
{
    uint64_t rem = 0;
    for (int i = kLimbs - 1; i >= 0; --i) {
        uint64_t v = (rem << 32) | b->limb[i];
        b->limb[i] = static_cast<uint32_t>(v / d);
        rem = v % d;
    }
}

// Bits [shift, shift + 64) of b, and the bit below them.
uint64_t bigBits(const Big& b, int shift, bool* roundBit) noexcept
{
    auto bit = [&b](int i) -> uint64_t {
        if (i < 0 || i >= kLimbs * 32)
            return 0;
        return (b.limb[i / 32] >> (i % 32)) & 1u;
    };
    uint64_t v = 0;
    for (int i = 63; i >= 0; --i)
        v = (v << 1) | bit(shift + i);
    *roundBit = bit(shift - 1) != 0;
    return v;
}

uint64_t bigLow64(const Big& b) noexcept
{
    return uint64_t{b.limb[1]} << 32 | b.limb[0];
}

const DoubleTables& doubleTables() noexcept
{
    static const DoubleTables* tables = [] {
        static DoubleTables t;
        static Big pow10;  // 10^m while m >= 0
        const long double log10of2 = 0.301029995663981195213738894724493027L;
        int currentPow = -1;
        for (int e = 0; e < kTableSize; ++e) {
            int k = e - kTableBias;
            int m = k == 64 ? -1 : static_cast<int>(std::floor((64 - k) * log10of2));
            t.m[e] = static_cast<int16_t>(m);
            if (m >= 0) {
                if (currentPow < 0 || m > currentPow) {
                    bigSetPow2(&pow10, 0);
                    for (int i = 0; i < m; ++i)
                        bigMulSmall(&pow10, 10);
                } else {
                    for (int i = m; i < currentPow; ++i)
                        bigDivSmall(&pow10, 10);
                }
                currentPow = m;
                if (k >= 0) {
                    t.t[e] = bigLow64(pow10) << k;
                } else {
                    bool half = false;
                    uint64_t v = bigBits(pow10, -k, &half);
                    t.t[e] = v + (half ? 1 : 0);
                }
            } else {
                // 2^(k+1) / 10^-m, then halved with the half rounded up.
                Big q;
                bigSetPow2(&q, k + 1);
                for (int i = 0; i < -m; ++i)
                    bigDivSmall(&q, 10);
                // The doubled quotient may need a 65th bit.
                unsigned __int128 v = static_cast<unsigned __int128>(q.limb[2] & 1u) << 64 | bigLow64(q);
                t.t[e] = static_cast<uint64_t>((v >> 1) + (v & 1));
            }
        }
        return &t;
    }();
    return *tables;
}

constexpr uint64_t kPow10[] = {1ULL,
                               10ULL,
                               100ULL,
                               1000ULL,
                               10000ULL,
                               100000ULL,
                               1000000ULL,
                               10000000ULL,
                               100000000ULL,
                               1000000000ULL,
                               10000000000ULL,
                               100000000000ULL,
                               1000000000000ULL,
                               10000000000000ULL,
                               100000000000000ULL,
                               1000000000000000ULL,
                               10000000000000000ULL,
                               100000000000000000ULL,
                               1000000000000000000ULL,
                               10000000000000000000ULL};

int digitCount64(uint64_t v) noexcept
{
    int d = 1;
    while (d < 20 && v >= kPow10[d])
        ++d;
    return d;
}

// Significant digits (15 for a double, 7 for a real) of a finite, non-zero
// value: *digits holds them without trailing zeros, value = digits x 10^n.
void doubleDigits(bool real, double value, uint64_t* digits, int* n) noexcept
{
    const DoubleTables& tab = doubleTables();
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t s = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0) {
        // Subnormal: normalise the significand, lowering the exponent.
        biased = 1;
        while ((s & (uint64_t{1} << 52)) == 0) {
            s <<= 1;
            --biased;
        }
    } else {
        s |= uint64_t{1} << 52;
    }
    int e = biased + 57;
    unsigned __int128 prod = static_cast<unsigned __int128>(tab.t[e]) * s;
    uint64_t w = static_cast<uint64_t>(prod >> 64);
    bool lowTop = (static_cast<uint64_t>(prod) >> 63) != 0;
    int exp10 = -tab.m[e];
    int d = digitCount64(w);
    if (!real) {
        if (d <= 15) {
            w += lowTop ? 1 : 0;
        } else {
            int drop = d - 15;
            w = (w + 5 * kPow10[drop - 1]) / kPow10[drop];
            exp10 += drop;
        }
        if (w == kPow10[15]) {
            w = kPow10[14];
            exp10 += 1;
        }
    } else {
        int drop = d <= 15 ? 8 : d - 7;
        w = (w + 5 * kPow10[drop - 1]) / kPow10[drop];
        exp10 += drop;
    }
    while (w != 0 && w % 10 == 0) {
        w /= 10;
        ++exp10;
    }
    *digits = w;
    *n = exp10;
}

void formFromDigits(uint64_t digits, int n, bool negative, BaseNumber* form) noexcept
{
    numberFromU64(digits, negative, form);
    form->exponent += n;
    form->fromExponentForm = true;
}

// Digits of a double by the C library, for the DoubleToStringPrecision
// setting and for a target without any room.
void libraryDigits(double value, int precision, BaseNumber* form) noexcept
{
    if (precision < 1)
        precision = 1;
    if (precision > 17)
        precision = 17;
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", precision - 1, value);
    // The library's text of a finite double always reads back.
    (void)baseParseNumberText(text, static_cast<int64_t>(std::strlen(text)), form);
    form->fromExponentForm = true;
}

// ---- Values read from the source ------------------------------------------------

enum class VType { Int, UInt, Dec, Dbl, Real };

struct Value {
    VType type;
    int64_t i;
    uint64_t u;
    double d;
    float f;
    BaseNumber* dec;
    bool fromText;
};

constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;

template <typename T>
T load(const void* p) noexcept
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void store(void* p, T v) noexcept
{
    std::memcpy(p, &v, sizeof v);
}

int16_t readSource(const Settings& s, int32_t kind, int64_t cp, const void* src, int64_t len, int32_t dstKind, Value* v,
                   BaseNumber* work) noexcept
{
    v->fromText = false;
    v->dec = work;
    switch (kind) {
    case kBaseKindText:
        v->type = VType::Dec;
        v->fromText = true;
        return parseSourceText(s, cp, src, len, work);
    case kBaseKindBit: {
        uint8_t b = load<uint8_t>(src);
        if (b > 1)
            return errBadChar();
        v->type = VType::Int;
        v->i = b;
        return 0;
    }
    case kBaseKindTinyInt:
        v->type = VType::Int;
        v->i = load<int8_t>(src);
        return 0;
    case kBaseKindUTinyInt:
        v->type = VType::UInt;
        v->u = load<uint8_t>(src);
        return 0;
    case kBaseKindSmallInt:
        v->type = VType::Int;
        v->i = load<int16_t>(src);
        return 0;
    case kBaseKindUSmallInt:
        v->type = VType::UInt;
        v->u = load<uint16_t>(src);
        return 0;
    case kBaseKindInteger:
        v->type = VType::Int;
        v->i = load<int32_t>(src);
        return 0;
    case kBaseKindUInteger:
        v->type = VType::UInt;
        v->u = load<uint32_t>(src);
        return 0;
    case kBaseKindBigInt:
        v->type = VType::Int;
        v->i = load<int64_t>(src);
        return 0;
    case kBaseKindUBigInt:
        v->type = VType::UInt;
        v->u = load<uint64_t>(src);
        return 0;
    case kBaseKindPacked: {
        const auto* b = static_cast<const uint8_t*>(src);
        v->type = VType::Dec;
        work->negative = false;
        work->keepAllDigits = false;
        work->fromExponentForm = false;
        if (len <= 0) {
            setZero(work);
            return 0;
        }
        int64_t nibbles = 2 * len - 1;
        if (nibbles > kBaseMaxDigits)
            return errOutOfRange();
        for (int64_t i = 0; i < nibbles; ++i) {
            uint8_t nib = (i % 2 == 0) ? b[i / 2] >> 4 : b[i / 2] & 0x0F;
            if (nib > 9)
                return errBadChar();
            work->digits[i] = static_cast<char>('0' + nib);
        }
        work->digitCount = static_cast<int32_t>(nibbles);
        // The scale is taken from the caller through the exponent adjustment below.
        work->exponent = static_cast<int32_t>(nibbles);
        work->negative = (b[len - 1] & 0x0F) == 13;
        return 0;
    }
    case kBaseKindDecimal: {
        if (len > 0 && len < kBaseDecimalHeader)
            return errOutOfRange();
        BaseDecimal head;
        std::memcpy(&head, src, kBaseDecimalHeader);
        int32_t count = head.digitCount;
        if (count > kBaseMaxDigits || (len > 0 && count > len - kBaseDecimalHeader))
            return errOutOfRange();
        v->type = VType::Dec;
        work->exponent = head.exponent;
        work->digitCount = count;
        work->negative = head.negative != 0;
        work->keepAllDigits = head.keepAllDigits != 0;
        work->fromExponentForm = false;
        std::memcpy(work->digits, static_cast<const char*>(src) + kBaseDecimalHeader, static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i)
            if (work->digits[i] < '0' || work->digits[i] > '9')
                return errBadChar();
        if (count == 0)
            setZero(work);
        else
            normalize(work);
        if (isZero(*work))
            work->negative = false;
        return 0;
    }
    case kBaseKindReal:
        if (dstKind == kBaseKindReal) {
            v->type = VType::Real;
            v->f = load<float>(src);
        } else {
            v->type = VType::Dbl;
            v->d = static_cast<double>(load<float>(src));
            v->f = load<float>(src);
        }
        return 0;
    case kBaseKindDouble:
        v->type = VType::Dbl;
        v->d = load<double>(src);
        return 0;
    case kBaseKindDate: {
        auto d = load<BaseDate>(src);
        v->type = VType::Int;
        v->i = baseDayNumber(d.year, d.month, d.day);
        return 0;
    }
    case kBaseKindTime: {
        auto t = load<BaseTime>(src);
        v->type = VType::UInt;
        v->u = uint64_t{t.hour} * 3600 + uint64_t{t.minute} * 60 + t.second;
        return 0;
    }
    case kBaseKindTimestamp: {
        auto ts = load<BaseTimestamp>(src);
        int64_t day = baseDayNumber(ts.year, ts.month, ts.day);
        if (ts.hour == 0 && ts.minute == 0 && ts.second == 0 && ts.fraction == 0) {
            v->type = VType::Int;
            v->i = day;
        } else {
            v->type = VType::Dbl;
            double secs = double(ts.hour) * 3600 + double(ts.minute) * 60 + ts.second;
            v->d = double(day) + secs / 86400.0 + double(ts.fraction) / 8.64e13;
        }
        return 0;
    }
    default:
        v->type = VType::Int;
        v->i = 0;
        return 0;
    }
}

// ---- Integer targets --------------------------------------------------------------

struct Range {
    int64_t lo;
    uint64_t hi;
};

bool rangeOf(int32_t kind, Range* r) noexcept
{
    switch (kind) {
    case kBaseKindBit: *r = {0, 1}; return true;
    case kBaseKindTinyInt: *r = {-128, 127}; return true;
    case kBaseKindUTinyInt: *r = {0, 255}; return true;
    case kBaseKindSmallInt: *r = {-32768, 32767}; return true;
    case kBaseKindUSmallInt: *r = {0, 65535}; return true;
    case kBaseKindInteger: *r = {INT32_MIN, INT32_MAX}; return true;
    case kBaseKindUInteger: *r = {0, UINT32_MAX}; return true;
    case kBaseKindBigInt: *r = {INT64_MIN, INT64_MAX}; return true;
    case kBaseKindUBigInt: *r = {0, UINT64_MAX}; return true;
    case kBaseKindDate: *r = {INT32_MIN, INT32_MAX}; return true;
    case kBaseKindTime: *r = {0, 86399}; return true;
    case kBaseKindTimestamp: *r = {INT32_MIN, INT32_MAX}; return true;
    default: return false;
    }
}

bool isIntegerKind(int32_t kind) noexcept
{
    return kind >= kBaseKindBit && kind <= kBaseKindUBigInt;
}

// An integer (sign and magnitude) into an integer, date or time target.
int16_t storeInteger(bool negative, uint64_t mag, int32_t kind, void* dst, int64_t* produced) noexcept
{
    Range r{};
    rangeOf(kind, &r);
    if (negative && mag != 0) {
        if (r.lo >= 0)
            return errOutOfRange();
        uint64_t limit = static_cast<uint64_t>(-(r.lo + 1)) + 1;
        if (mag > limit)
            return errOutOfRange();
    } else if (mag > r.hi) {
        return errOutOfRange();
    }
    int64_t sv = negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
    switch (kind) {
    case kBaseKindBit:
    case kBaseKindUTinyInt:
        store<uint8_t>(dst, static_cast<uint8_t>(mag));
        *produced = 1;
        return 0;
    case kBaseKindTinyInt:
        store<int8_t>(dst, static_cast<int8_t>(sv));
        *produced = 1;
        return 0;
    case kBaseKindSmallInt:
        store<int16_t>(dst, static_cast<int16_t>(sv));
        *produced = 2;
        return 0;
    case kBaseKindUSmallInt:
        store<uint16_t>(dst, static_cast<uint16_t>(mag));
        *produced = 2;
        return 0;
    case kBaseKindInteger:
        store<int32_t>(dst, static_cast<int32_t>(sv));
        *produced = 4;
        return 0;
    case kBaseKindUInteger:
        store<uint32_t>(dst, static_cast<uint32_t>(mag));
        *produced = 4;
        return 0;
    case kBaseKindBigInt:
        store<int64_t>(dst, sv);
        *produced = 8;
        return 0;
    case kBaseKindUBigInt:
        store<uint64_t>(dst, mag);
        *produced = 8;
        return 0;
    case kBaseKindDate:
    case kBaseKindTimestamp: {
        int32_t y = 0, m = 0, d = 0;
        baseDateOfDayNumber(sv, &y, &m, &d);
        // The structures hold 16-bit years.
        if (y < INT16_MIN || y > INT16_MAX)
            return errOutOfRange();
        if (kind == kBaseKindDate) {
            store<BaseDate>(dst, BaseDate{static_cast<int16_t>(y), static_cast<uint16_t>(m), static_cast<uint16_t>(d)});
            *produced = 6;
        } else {
            store<BaseTimestamp>(dst, BaseTimestamp{static_cast<int16_t>(y), static_cast<uint16_t>(m),
                                                    static_cast<uint16_t>(d), 0, 0, 0, 0});
            *produced = 16;
        }
        return 0;
    }
    case kBaseKindTime:
        store<BaseTime>(dst, BaseTime{static_cast<uint16_t>(mag / 3600), static_cast<uint16_t>(mag / 60 % 60),
                                      static_cast<uint16_t>(mag % 60)});
        *produced = 6;
        return 0;
    default: return errOutOfRange();
    }
}

// The integer part of a decimal form.
int16_t decimalToInteger(const BaseNumber& n, int32_t kind, uint32_t flags, bool fromText, bool* negative,
                         uint64_t* mag, bool* dropped) noexcept
{
    bool wide = kind == kBaseKindBigInt || kind == kBaseKindUBigInt;
    int32_t intDigits = n.exponent > 0 ? n.exponent : 0;
    bool hasFraction = !isZero(n) && n.digitCount > intDigits;
    if (hasFraction && !(wide && (flags & kBaseFlagParam) != 0 && !fromText))
        *dropped = true;
    int32_t limit = wide ? 20 : 10;
    if (intDigits > limit)
        return errOutOfRange();
    uint64_t v = 0;
    for (int32_t i = 0; i < intDigits; ++i) {
        uint32_t digit = i < n.digitCount ? static_cast<uint32_t>(n.digits[i] - '0') : 0;
        if (v > (UINT64_MAX - digit) / 10)
            return errOutOfRange();
        v = v * 10 + digit;
    }
    if (!wide && v > UINT32_MAX)
        return errOutOfRange();
    // Below 0 is outside a bit's range even when the integer part is 0.
    if (kind == kBaseKindBit && n.negative && !isZero(n))
        return errOutOfRange();
    *negative = n.negative && v != 0;
    *mag = v;
    return 0;
}

// A double into an integer, date or time target.
int16_t doubleToInteger(double d, int32_t kind, uint32_t flags, bool fromText, bool* negative, uint64_t* mag,
                        bool* dropped) noexcept
{
    if (std::isnan(d))
        return errOutOfRange();
    double ip = std::trunc(d);
    if (ip != d && ((flags & (kBaseFlagOdbc2 | kBaseFlagFetch)) != 0 || fromText))
        *dropped = true;
    switch (kind) {
    case kBaseKindBigInt:
        // 2^63 itself does not fit.
        if (!(ip >= -kTwo63 && ip < kTwo63))
            return errOutOfRange();
        break;
    case kBaseKindUBigInt:
        if (!(ip > -1.0 && ip < kTwo64))
            return errOutOfRange();
        break;
    case kBaseKindBit:
    case kBaseKindUTinyInt:
    case kBaseKindUSmallInt:
    case kBaseKindUInteger:
    case kBaseKindTime:
        if (kind == kBaseKindBit && d < 0)
            return errOutOfRange();
        if (!(ip > -1.0 && ip <= 4294967295.0))
            return errOutOfRange();
        break;
    default:
        if (!(ip >= -2147483648.0 && ip <= 2147483647.0))
            return errOutOfRange();
        break;
    }
    *negative = ip < 0;
    // -ip is at most 2^63 here, which a 64-bit unsigned value holds.
    *mag = ip < 0 ? static_cast<uint64_t>(-ip) : static_cast<uint64_t>(ip);
    if (*mag == 0)
        *negative = false;
    return 0;
}

// A double into a timestamp.
int16_t doubleToTimestamp(double d, void* dst, int64_t* produced) noexcept
{
    if (!(d >= -2147483648.0 && d < 2147483648.0))
        return errOutOfRange();
    double day = std::floor(d);
    double secs = (d - day) * 86400.0;
    double wholeSecs = std::floor(secs);
    auto ns = static_cast<int64_t>((secs - wholeSecs) * 1e9);
    auto s = static_cast<int64_t>(wholeSecs);
    if (ns >= 1000000000) {
        ns = 999999999;
    }
    if (s > 86399)
        s = 86399;
    int32_t y = 0, m = 0, dd = 0;
    baseDateOfDayNumber(static_cast<int64_t>(day), &y, &m, &dd);
    if (y < INT16_MIN || y > INT16_MAX)
        return errOutOfRange();
    store<BaseTimestamp>(dst,
                         BaseTimestamp{static_cast<int16_t>(y), static_cast<uint16_t>(m), static_cast<uint16_t>(dd),
                                       static_cast<uint16_t>(s / 3600), static_cast<uint16_t>(s / 60 % 60),
                                       static_cast<uint16_t>(s % 60), static_cast<uint32_t>(ns)});
    *produced = 16;
    return 0;
}

// A decimal form read as a double.
int16_t decimalToDouble(const Settings& s, const BaseNumber& n, double* out) noexcept
{
    if (isZero(n)) {
        *out = 0.0;
        return 0;
    }
    if (n.exponent > 309)
        return errOutOfRange();
    // Every digit goes to strtod, which rounds correctly; cutting to 16 digits
    // would turn the 17-digit text of a double into its neighbour.
    int32_t use = n.digitCount;
    if (s.doubleToStringPrecision != 0) {
        int32_t p = s.doubleToStringPrecision > 17 ? 17 : s.doubleToStringPrecision;
        use = n.digitCount < p ? n.digitCount : p;
    }
    char text[kBaseMaxDigits + 32];
    int32_t pos = 0;
    if (n.negative)
        text[pos++] = '-';
    std::memcpy(text + pos, n.digits, static_cast<size_t>(use));
    pos += use;
    pos += std::snprintf(text + pos, sizeof text - static_cast<size_t>(pos), "E%d", static_cast<int>(n.exponent - use));
    double v = std::strtod(text, nullptr);
    if (std::isinf(v))
        return errOutOfRange();
    *out = v;
    return 0;
}

// ---- Packed decimal and kind 12 -----------------------------------------------------

int16_t decimalToPacked(const BaseNumber& n, int64_t precision, int64_t scale, uint32_t flags, void* dst,
                        int64_t* produced, bool* dropped) noexcept
{
    if (precision < 1)
        precision = 1;
    int64_t bytes = (precision + 2) / 2;
    int64_t slots = 2 * bytes - 1;
    int64_t intDigits = n.exponent > 0 ? n.exponent : 0;
    if (!isZero(n) && intDigits > precision - scale)
        return errOutOfRange();
    if (!isZero(n) && n.digitCount > n.exponent + scale && (flags & kBaseFlagOdbc2) != 0)
        *dropped = true;
    auto* out = static_cast<uint8_t*>(dst);
    std::memset(out, 0, static_cast<size_t>(bytes));
    for (int64_t j = 0; j < slots; ++j) {
        int64_t power = j - scale;
        int64_t index = n.exponent - power;  // 1-based digit index
        uint8_t digit = 0;
        if (!isZero(n) && index >= 1 && index <= n.digitCount)
            digit = static_cast<uint8_t>(n.digits[index - 1] - '0');
        int64_t nibble = slots - 1 - j;  // position from the left
        if (nibble % 2 == 0)
            out[nibble / 2] |= static_cast<uint8_t>(digit << 4);
        else
            out[nibble / 2] |= digit;
    }
    out[bytes - 1] |= n.negative ? 13 : 12;
    *produced = bytes;
    return 0;
}

void roundHalfUp(BaseNumber* n, int32_t keep) noexcept
{
    if (keep < 0 || keep >= n->digitCount)
        return;
    bool up = n->digits[keep] >= '5';
    n->digitCount = keep;
    if (up) {
        int32_t i = keep - 1;
        while (i >= 0 && n->digits[i] == '9') {
            n->digits[i] = '0';
            --i;
        }
        if (i >= 0) {
            ++n->digits[i];
        } else {
            n->digits[0] = '1';
            n->digitCount = 1;
            n->exponent += 1;
        }
    }
    if (n->digitCount == 0) {
        setZero(n);
        return;
    }
    normalize(n);
}

int16_t decimalToKind12(const Settings& s, BaseNumber* n, int64_t precision, int64_t scale, int32_t truncation,
                        uint32_t flags, bool fromText, void* dst, int64_t* produced, bool* dropped) noexcept
{
    BaseDecimal head;
    std::memcpy(&head, dst, kBaseDecimalHeader);
    bool keepAll = head.keepAllDigits != 0;
    if (!keepAll && !isZero(*n)) {
        if (s.roundingMode == 1) {
            int64_t pos = static_cast<int64_t>(n->exponent) + scale;
            if (pos >= 0 && pos < n->digitCount)
                roundHalfUp(n, static_cast<int32_t>(pos));
        }
        if (n->exponent > precision - scale)
            return errOutOfRange();
        if (scale < 0) {
            if (n->exponent <= -scale)
                return errOutOfRange();
            int64_t keep = n->exponent + scale;
            if (n->digitCount > keep) {
                if (truncation != kBaseTruncStrict)
                    return errOutOfRange();
                n->digitCount = static_cast<int32_t>(keep);
                normalize(n);
            }
        }
        if (!isZero(*n) && n->digitCount - n->exponent > scale) {
            int64_t keep = n->exponent + scale;
            if (keep <= 0) {
                setZero(n);
            } else {
                n->digitCount = static_cast<int32_t>(keep);
                normalize(n);
            }
            if ((flags & (kBaseFlagOdbc2 | kBaseFlagFetch)) != 0 || fromText)
                *dropped = true;
        }
    }
    if (n->exponent > INT16_MAX || n->exponent < INT16_MIN)
        return errOutOfRange();
    head.exponent = static_cast<int16_t>(n->exponent);
    head.digitCount = static_cast<uint16_t>(n->digitCount);
    head.negative = n->negative ? 1 : 0;
    std::memcpy(dst, &head, kBaseDecimalHeader);
    std::memcpy(static_cast<char*>(dst) + kBaseDecimalHeader, n->digits, static_cast<size_t>(n->digitCount));
    *produced = kBaseDecimalHeader + n->digitCount;
    return 0;
}

// ---- Floating point to text ------------------------------------------------------

int16_t doubleToText(const Settings& s, bool real, double d, int64_t dstCp, void* dst, int64_t maxLength,
                     int64_t* produced, int32_t truncation, uint32_t flags, bool fromDouble) noexcept
{
    BaseNumber form;
    if (s.doubleToStringPrecision != 0 && fromDouble && std::isfinite(d) && d != 0.0) {
        libraryDigits(d, s.doubleToStringPrecision, &form);
        if (std::signbit(d))
            form.negative = true;
        return numberToText(s, form, 0, dstCp, dst, maxLength, produced, truncation, flags, false);
    }
    int32_t ok = 0;
    int64_t len = 0;
    std::memset(&form, 0, kBaseDecimalHeader);
    form.digitCount = 0;
    baseFormatDouble(real ? kBaseKindReal : kBaseKindDouble, dst, maxLength, &len, dstCp, &form, d, &ok);
    if (ok != 0) {
        *produced = len;
        return 0;
    }
    if (form.digitCount == 0)
        libraryDigits(d, real ? 7 : 15, &form);
    return numberToText(s, form, 0, dstCp, dst, maxLength, produced, truncation, flags, false);
}

}  // namespace

// ---- baseFormatDouble ------------------------------------------------------------

void baseDoubleTableEntry(int32_t index, int16_t* m, uint64_t* t) noexcept
{
    if (index < 0 || index >= kTableSize) {
        *m = 0;
        *t = 0;
        return;
    }
    const DoubleTables& tab = doubleTables();
    *m = tab.m[index];
    *t = tab.t[index];
}

void baseFormatDouble(int32_t kind, void* dst, int64_t maxLength, int64_t* produced, int64_t dstCodePage,
                      BaseNumber* form, double value, int32_t* success) noexcept
{
    const bool real = kind == kBaseKindReal;
    int64_t unit = baseCodePageUnitWidth(dstCodePage);
    int64_t b = maxLength > 0 ? maxLength / unit : 0;
    *success = 0;
    if (b <= 0) {
        *produced = 0;
        return;
    }
    Settings s{0, 0, nullptr};
    // Room for the plain text of any double: 17 digits and 340 zeros.
    char text[400];
    int64_t len = 0;
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bool negative = (bits >> 63) != 0;
    auto special = [&](const char* full, const char* digits) {
        len = static_cast<int64_t>(std::strlen(full));
        if (len <= b) {
            std::memcpy(text, full, static_cast<size_t>(len));
            return true;
        }
        form->digitCount = static_cast<int32_t>(std::strlen(digits));
        std::memcpy(form->digits, digits, static_cast<size_t>(form->digitCount));
        form->exponent = 1;
        form->negative = negative;
        form->keepAllDigits = false;
        form->fromExponentForm = false;
        return false;
    };
    if (std::isinf(value)) {
        if (!special(negative ? "-1.#INF" : "1.#INF", "1#INF"))
            return;
    } else if (std::isnan(value)) {
        bool quiet = ((bits >> 51) & 1) != 0;
        const char* full = quiet ? (negative ? "-1.#QNAN" : "1.#QNAN") : (negative ? "-1.#SNAN" : "1.#SNAN");
        if (!special(full, quiet ? "1#QNAN" : "1#SNAN"))
            return;
    } else if (value == 0.0) {
        if (!special(negative ? "-0" : "0", "0"))
            return;
    } else {
        uint64_t digits = 0;
        int n = 0;
        doubleDigits(real, value, &digits, &n);
        char dig[24];
        int d = std::snprintf(dig, sizeof dig, "%llu", static_cast<unsigned long long>(digits));
        int64_t pos = 0;
        if (negative)
            text[pos++] = '-';
        int64_t plainLen;
        if (n >= 0)
            plainLen = d + n;
        else if (d + n > 0)
            plainLen = d + 1;
        else
            plainLen = 1 - (d + n) + d;
        plainLen += pos;
        int64_t expValue = d + n - 1;
        int64_t expLen = pos + d + (d > 1 ? 1 : 0) + 1 + decimalLength(expValue);
        if (plainLen <= b) {
            if (n >= 0) {
                std::memcpy(text + pos, dig, static_cast<size_t>(d));
                pos += d;
                for (int i = 0; i < n; ++i)
                    text[pos++] = '0';
            } else if (d + n > 0) {
                std::memcpy(text + pos, dig, static_cast<size_t>(d + n));
                pos += d + n;
                text[pos++] = '.';
                std::memcpy(text + pos, dig + d + n, static_cast<size_t>(-n));
                pos += -n;
            } else {
                text[pos++] = '.';
                for (int i = 0; i < -(d + n); ++i)
                    text[pos++] = '0';
                std::memcpy(text + pos, dig, static_cast<size_t>(d));
                pos += d;
            }
            len = pos;
        } else if (expLen <= b) {
            text[pos++] = dig[0];
            if (d > 1) {
                text[pos++] = '.';
                std::memcpy(text + pos, dig + 1, static_cast<size_t>(d - 1));
                pos += d - 1;
            }
            text[pos++] = 'E';
            pos += writeSigned(text + pos, static_cast<int64_t>(sizeof text) - pos, expValue);
            len = pos;
        } else {
            formFromDigits(digits, n, negative, form);
            return;
        }
    }
    int64_t bytes = encodeAscii(s, text, len, dstCodePage, dst, maxLength);
    if (bytes < 0)
        return;
    *produced = bytes;
    *success = 1;
}

// ---- Numeric structure magnitude -------------------------------------------------

int32_t baseU128ToText(const uint8_t* magnitude, int32_t byteCount, char* text) noexcept
{
    // 32-bit limbs divided by 10^9 at a time; nine digits per step.
    constexpr int kMaxBytes = 64;
    uint32_t limbs[kMaxBytes / 4] = {};
    if (byteCount > kMaxBytes)
        byteCount = kMaxBytes;
    if (byteCount < 0)
        byteCount = 0;
    for (int32_t i = 0; i < byteCount; ++i)
        limbs[i / 4] |= uint32_t{magnitude[i]} << (8 * (i % 4));
    int32_t nl = (byteCount + 3) / 4;
    char rev[kMaxBytes * 3];
    int32_t len = 0;
    for (;;) {
        while (nl > 0 && limbs[nl - 1] == 0)
            --nl;
        if (nl == 0)
            break;
        uint64_t rem = 0;
        for (int32_t i = nl - 1; i >= 0; --i) {
            uint64_t v = (rem << 32) | limbs[i];
            limbs[i] = static_cast<uint32_t>(v / 1000000000u);
            rem = v % 1000000000u;
        }
        for (int k = 0; k < 9; ++k) {
            rev[len++] = static_cast<char>('0' + rem % 10);
            rem /= 10;
        }
    }
    while (len > 1 && rev[len - 1] == '0')
        --len;
    if (len == 0)
        rev[len++] = '0';
    for (int32_t i = 0; i < len; ++i)
        text[i] = rev[len - 1 - i];
    text[len] = 0;
    return len;
}

int32_t baseNumericValToText(const uint8_t magnitude[kBaseNumericMagnitude], char* text) noexcept
{
    return baseU128ToText(magnitude, kBaseNumericMagnitude, text);
}

int16_t baseDigitsToNumericVal(const char* digits, int32_t count, uint8_t target[kBaseNumericMagnitude]) noexcept
{
    unsigned __int128 v = 0;
    const unsigned __int128 max = ~static_cast<unsigned __int128>(0);
    for (int32_t i = 0; i < count; ++i) {
        auto d = static_cast<unsigned>(digits[i] - '0');
        if (d > 9 || v > (max - d) / 10) {
            baseCvtPostErrorMsg(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE, MSG_VALUE_DOES_NOT_FIT);
            return 1;
        }
        v = v * 10 + d;
    }
    for (int i = 0; i < kBaseNumericMagnitude; ++i) {
        target[i] = static_cast<uint8_t>(v & 0xFF);
        v >>= 8;
    }
    return 0;
}

uint32_t baseDigitsToU32(const char* digits, int32_t count) noexcept
{
    uint32_t v = 0;
    for (int32_t i = 0; i < count && i < 9; ++i)
        v = v * 10 + static_cast<uint32_t>(digits[i] - '0');
    return v;
}

uint64_t baseDigitsToU64(const char* digits, int32_t count) noexcept
{
    uint64_t v = 0;
    for (int32_t i = 0; i < count && i < 18; ++i)
        v = v * 10 + static_cast<uint64_t>(digits[i] - '0');
    return v;
}

// ---- The engine ------------------------------------------------------------------

int16_t baseConvertNumeric(const BaseConvertContext* ctx, int32_t srcKind, int64_t srcCodePage, const void* src,
                           int64_t srcLength, int32_t dstKind, int64_t dstCodePage, void* dst, int64_t* produced,
                           int64_t maxLength, int16_t scale, int32_t truncation, uint32_t flags) noexcept
{
    const Settings s = settingsOf(ctx);
    BaseNumber work;
    Value v{};
    if (readSource(s, srcKind, srcCodePage, src, srcLength, dstKind, &v, &work) != 0)
        return 1;
    if (srcKind == kBaseKindPacked && v.type == VType::Dec) {
        work.exponent -= scale;
        normalize(&work);
        if (isZero(work))
            work.negative = false;
    }
    int64_t len = 0;
    bool dropped = false;

    // A decimal form without fraction and at most nine digits is a machine integer.
    if (v.type == VType::Dec && work.exponent <= 9 && work.exponent >= work.digitCount && !isZero(work) &&
        dstKind != kBaseKindDecimal && dstKind != kBaseKindPacked && dstKind != kBaseKindText) {
        uint64_t m = baseDigitsToU32(work.digits, work.digitCount);
        for (int32_t i = work.digitCount; i < work.exponent; ++i)
            m *= 10;
        if (work.negative) {
            v.type = VType::Int;
            v.i = -static_cast<int64_t>(m);
        } else {
            v.type = VType::UInt;
            v.u = m;
        }
    } else if (v.type == VType::Dec && isZero(work) && dstKind != kBaseKindDecimal && dstKind != kBaseKindPacked &&
               dstKind != kBaseKindText) {
        v.type = VType::UInt;
        v.u = 0;
    }

    int16_t rc = 0;
    switch (v.type) {
    case VType::Int:
    case VType::UInt: {
        bool neg = v.type == VType::Int && v.i < 0;
        uint64_t mag = v.type == VType::UInt ? v.u
                       : neg                 ? static_cast<uint64_t>(-(v.i + 1)) + 1
                                             : static_cast<uint64_t>(v.i);
        if (dstKind == kBaseKindReal) {
            float f = neg ? -static_cast<float>(mag) : static_cast<float>(mag);
            store<float>(dst, f);
            len = 4;
        } else if (dstKind == kBaseKindDouble) {
            double d = neg ? -static_cast<double>(mag) : static_cast<double>(mag);
            store<double>(dst, d);
            len = 8;
        } else if (dstKind == kBaseKindText) {
            char text[kNumTextCapacity + 1];
            int64_t n = 0;
            if (neg)
                text[n++] = '-';
            n += static_cast<int64_t>(u64ToTextN(text + n, kNumTextCapacity - 1, mag));
            int64_t unit = baseCodePageUnitWidth(dstCodePage);
            if (n > (maxLength > 0 ? maxLength / unit : 0))
                return errNoRoom(flags, false, dstKind);
            len = encodeAscii(s, text, n, dstCodePage, dst, maxLength);
            if (len < 0)
                return 1;
        } else if (dstKind == kBaseKindPacked || dstKind == kBaseKindDecimal) {
            numberFromU64(mag, neg, &work);
            if (dstKind == kBaseKindPacked)
                rc = decimalToPacked(work, maxLength, scale, flags, dst, &len, &dropped);
            else
                rc = decimalToKind12(s, &work, maxLength, scale, truncation, flags, false, dst, &len, &dropped);
        } else if (isIntegerKind(dstKind) || dstKind == kBaseKindDate || dstKind == kBaseKindTime ||
                   dstKind == kBaseKindTimestamp) {
            rc = storeInteger(neg, mag, dstKind, dst, &len);
        } else {
            return errOutOfRange();
        }
        break;
    }
    case VType::Real:
        store<float>(dst, v.f);
        len = 4;
        break;
    case VType::Dbl: {
        double d = v.d;
        bool fromReal = srcKind == kBaseKindReal;
        if (dstKind == kBaseKindReal) {
            if (std::isfinite(d) && std::fabs(d) > 3.4028234663852886e38)
                return errOutOfRange();
            store<float>(dst, static_cast<float>(d));
            len = 4;
        } else if (dstKind == kBaseKindDouble) {
            store<double>(dst, d);
            len = 8;
        } else if (dstKind == kBaseKindTimestamp) {
            rc = doubleToTimestamp(d, dst, &len);
        } else if (dstKind == kBaseKindText) {
            return doubleToText(s, fromReal, fromReal ? static_cast<double>(v.f) : d, dstCodePage, dst, maxLength,
                                produced, truncation, flags, !fromReal);
        } else if (dstKind == kBaseKindPacked || dstKind == kBaseKindDecimal) {
            if (!std::isfinite(d))
                return errOutOfRange();
            if (d == 0.0) {
                setZero(&work);
            } else {
                uint64_t digits = 0;
                int n = 0;
                doubleDigits(fromReal, d, &digits, &n);
                formFromDigits(digits, n, d < 0, &work);
                work.fromExponentForm = false;
            }
            if (dstKind == kBaseKindPacked)
                rc = decimalToPacked(work, maxLength, scale, flags, dst, &len, &dropped);
            else
                rc = decimalToKind12(s, &work, maxLength, scale, truncation, flags, false, dst, &len, &dropped);
        } else if (isIntegerKind(dstKind) || dstKind == kBaseKindDate || dstKind == kBaseKindTime) {
            bool neg = false;
            uint64_t mag = 0;
            rc = doubleToInteger(d, dstKind, flags, v.fromText, &neg, &mag, &dropped);
            if (rc == 0)
                rc = storeInteger(neg, mag, dstKind, dst, &len);
        } else {
            return errOutOfRange();
        }
        break;
    }
    case VType::Dec: {
        if (dstKind == kBaseKindText) {
            return numberToText(s, work, scale, dstCodePage, dst, maxLength, produced, truncation, flags, false);
        }
        if (dstKind == kBaseKindPacked) {
            rc = decimalToPacked(work, maxLength, scale, flags, dst, &len, &dropped);
        } else if (dstKind == kBaseKindDecimal) {
            rc = decimalToKind12(s, &work, maxLength, scale, truncation, flags, v.fromText, dst, &len, &dropped);
        } else if (dstKind == kBaseKindReal || dstKind == kBaseKindDouble || dstKind == kBaseKindTimestamp) {
            double d = 0;
            rc = decimalToDouble(s, work, &d);
            if (rc != 0)
                return rc;
            if (dstKind == kBaseKindReal) {
                if (std::fabs(d) > 3.4028234663852886e38)
                    return errOutOfRange();
                store<float>(dst, static_cast<float>(d));
                len = 4;
            } else if (dstKind == kBaseKindDouble) {
                store<double>(dst, d);
                len = 8;
            } else {
                rc = doubleToTimestamp(d, dst, &len);
            }
        } else if (isIntegerKind(dstKind) || dstKind == kBaseKindDate || dstKind == kBaseKindTime) {
            bool neg = false;
            uint64_t mag = 0;
            rc = decimalToInteger(work, dstKind, flags, v.fromText, &neg, &mag, &dropped);
            if (rc == 0)
                rc = storeInteger(neg, mag, dstKind, dst, &len);
        } else {
            return errOutOfRange();
        }
        break;
    }
    }
    if (rc != 0)
        return rc;
    if (finishDropped(dropped, truncation, flags, dstKind) != 0)
        return 1;
    *produced = len;
    return 0;
}
