// Conversion of text values between code pages into caller buffers.
#include "convert/textcvt.h"

#include <stdio.h>
#include <string.h>

#include <atomic>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include "foundation/codepage.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

using u8 = uint8_t;

// Registered code pages whose bytes below 128 are not ASCII although their
// numbers are positive: 7-bit stateful and Unicode forms, and EBCDIC.
constexpr int64_t kNotAsciiCompatible[] = {
    37,         39,         40,         104,        105,  // ISO-2022 families
    1000,       1001,       1012,       1013,       1014,       1015,       1016,       1017,       1018,
    1019,
    2016,  // IBM-Thai (EBCDIC)
    2028,       2029,       2030,       2031,       2032,       2033,       2034,       2035,       2036,
    2037,       2038,       2039,       2040,       2041,       2042,       2043,       2044,       2055,
    2056,       2057,       2061,       2062,       2063,       2064,       2065,       2066,       2067,
    2068,       2069,       2070,       2071,       2072,       2073,       2074,       2075,       2076,
    2077,       2078,       2079,       2080,       2081,       2082,       2083,  // EBCDIC-xx
    2085,                                                                          // HZ-GB-2312
    2091,       2092,       2093,       2094,       2095,       2096,       2097,       2098,       2099,
    2100,       2102,       2000000300, 2000000833, 2000000834, 2000000835, 2000000837, 2000000875, 2000000930,
    2000000933, 2000000935, 2000000937, 2000000939, 2000001025, 2000001027, 2000001159, 2000001364, 2000001388,
    2000001399, 2000004396, 2000005026, 2000005039, 2000005040, 2000005041, 2000005042, 2000005043, 2000005045,
    2000005046, 2000005049, 2000005053, 2000005056,
};

int64_t magnitude(int64_t cp)
{
    return cp < 0 ? -cp : cp;
}

bool isUtf16Cp(int64_t cp)
{
    return cp == kCodePageUtf16BE || cp == kCodePageUtf16LE || cp == kCodePageUtf16;
}
// 1017 is UTF-32 with a byte-order mark.
bool isUtf32Cp(int64_t cp)
{
    return cp == 1017 || cp == kCodePageUtf32BE || cp == kCodePageUtf32LE;
}

uint16_t unitAt(const u8* p, bool be)
{
    return be ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void putUnit(u8* p, uint16_t u, bool be)
{
    if (be) {
        p[0] = static_cast<u8>(u >> 8);
        p[1] = static_cast<u8>(u);
    } else {
        p[0] = static_cast<u8>(u);
        p[1] = static_cast<u8>(u >> 8);
    }
}

bool isHighSurrogate(uint16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

void zeroBytes(void* dst, int64_t n)
{
    if (n > 0)
        memset(dst, 0, static_cast<size_t>(n));
}

// The blank of a code page: 1 for bytes of value 0x20, 2 for 0x40 (EBCDIC).
bool restIsBlank(int64_t cp, const u8* p, int64_t n)
{
    if (cp == kCodePageUtf16LE || cp == kCodePageUtf16 || cp == kCodePageUtf16BE) {
        bool be = cp == kCodePageUtf16BE;
        if (n % 2)
            return false;
        for (int64_t i = 0; i < n; i += 2)
            if (unitAt(p + i, be) != 0x20)
                return false;
        return true;
    }
    if (isUtf32Cp(cp)) {
        bool be = cp != kCodePageUtf32LE;
        if (n % 4)
            return false;
        for (int64_t i = 0; i < n; i += 4) {
            uint32_t v = be ? (uint32_t(p[i]) << 24 | uint32_t(p[i + 1]) << 16 | uint32_t(p[i + 2]) << 8 | p[i + 3])
                            : (uint32_t(p[i + 3]) << 24 | uint32_t(p[i + 2]) << 16 | uint32_t(p[i + 1]) << 8 | p[i]);
            if (v != 0x20)
                return false;
        }
        return true;
    }
    u8 blank = baseIsAsciiCompatible(cp) ? 0x20 : 0x40;
    for (int64_t i = 0; i < n; ++i)
        if (p[i] != blank)
            return false;
    return true;
}

int64_t utf8Boundary(const u8* buf, int64_t n)
{
    if (n <= 0)
        return 0;
    int64_t j = n - 1;
    while (j > 0 && (buf[j] & 0xC0) == 0x80 && n - j < 4)
        --j;
    u8 lead = buf[j];
    int64_t need = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return (n - j < need) ? j : n;
}

// The longest prefix of n bytes of text in cp that ends on a character.
int64_t trimToCharacter(int64_t cp, const u8* buf, int64_t n, KaIcuCache* cache)
{
    if (n <= 0)
        return 0;
    if (isUtf16Cp(cp)) {
        n &= ~int64_t(1);
        if (n >= 2 && isHighSurrogate(unitAt(buf + n - 2, cp == kCodePageUtf16BE)))
            n -= 2;
        return n;
    }
    if (isUtf32Cp(cp))
        return n - n % 4;
    if (cp == kCodePageUtf8)
        return utf8Boundary(buf, n);
    int64_t maxBytes = 1, minBytes = 1;
    cache->getCharSizes(magnitude(cp), &maxBytes, &minBytes);
    if (maxBytes == minBytes)
        return maxBytes > 1 ? n - n % maxBytes : n;
    KaConvCallbackContext* ctx = nullptr;
    UConverter* conv = cache->acquireQuiet(magnitude(cp), &ctx);
    if (!conv)
        return n;
    // Decode without flushing: the bytes of an incomplete last character
    // stay pending in the converter.
    const char* s = reinterpret_cast<const char*>(buf);
    const char* end = s + n;
    UChar scratch[kTextCvtUnitChunk];
    UErrorCode status = U_ZERO_ERROR;
    do {
        UChar* t = scratch;
        status = U_ZERO_ERROR;
        ucnv_toUnicode(conv, &t, scratch + kTextCvtUnitChunk, &s, end, nullptr, false, &status);
    } while (status == U_BUFFER_OVERFLOW_ERROR);
    int64_t good = n;
    if (U_SUCCESS(status)) {
        int32_t pending = ucnv_toUCountPending(conv, &status);
        if (U_SUCCESS(status) && pending > 0 && pending <= n)
            good = n - pending;
    }
    cache->release(magnitude(cp), conv, ctx);
    return good;
}

// Hands out the source text as chunks of UTF-16 units.
struct Utf16Feed {
    int64_t cp;
    const u8* src;
    int64_t len;
    int64_t pos = 0;
    UConverter* conv = nullptr;
    KaConvCallbackContext* ctx = nullptr;
    bool done = false;
    UChar chunk[kTextCvtUnitChunk];

    Utf16Feed(int64_t c, const u8* s, int64_t l) : cp(c), src(s), len(l) {}

    bool needsConverter() const { return cp != kCodePageUtf16LE && cp != kCodePageUtf16BE; }

    // Units in chunk; done becomes true with the last chunk. -1 with *status
    // on a conversion failure.
    int32_t next(UErrorCode* status)
    {
        if (done)
            return 0;
        if (!needsConverter()) {
            int64_t units = (len - pos) / 2;
            if (units > static_cast<int64_t>(kTextCvtUnitChunk))
                units = kTextCvtUnitChunk;
            bool be = cp == kCodePageUtf16BE;
            for (int64_t i = 0; i < units; ++i)
                chunk[i] = unitAt(src + pos + 2 * i, be);
            pos += 2 * units;
            // An odd last byte is half a unit: nothing to convert.
            if (len - pos < 2)
                done = true;
            return static_cast<int32_t>(units);
        }
        UChar* t = chunk;
        const char* s = reinterpret_cast<const char*>(src + pos);
        const char* end = reinterpret_cast<const char*>(src + len);
        *status = U_ZERO_ERROR;
        ucnv_toUnicode(conv, &t, chunk + kTextCvtUnitChunk, &s, end, nullptr, true, status);
        pos = reinterpret_cast<const u8*>(s) - src;
        if (*status == U_BUFFER_OVERFLOW_ERROR) {
            *status = U_ZERO_ERROR;
        } else if (U_FAILURE(*status)) {
            return -1;
        } else {
            done = true;
        }
        return static_cast<int32_t>(t - chunk);
    }
};

bool unitsBlank(const UChar* p, const UChar* end)
{
    for (; p < end; ++p)
        if (*p != 0x20)
            return false;
    return true;
}

// Whether everything the feed still holds decodes to blanks.
bool feedRestBlank(Utf16Feed& feed)
{
    while (!feed.done) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t n = feed.next(&status);
        if (n < 0 || !unitsBlank(feed.chunk, feed.chunk + n))
            return false;
    }
    return true;
}

void postSubstitution(KaConvCallbackContext* ctx)
{
    if (ctx && ctx->substituted) {
        errPostWarning(MSG_CONVERSION_CHARACTER_REPLACED)->setSqlstate("01000");
        ctx->substituted = 0;
    }
}

struct GeneralResult {
    int64_t written = 0;  // bytes in the target, ending on a character
    int64_t full = 0;     // bytes the whole text needs (when counted)
    int32_t truncated = 0;
};

// Source to target through UTF-16 chunks, at most room bytes, no
// terminator. countRest: after a cut, count what the rest would need.
// blankTail: a cut-off rest of blanks is no truncation. 0 or 1 (posted).
int32_t convertGeneral(int64_t srcCp, const u8* src, int64_t srcLen, int64_t dstCp, u8* dst, int64_t room,
                       bool countRest, bool blankTail, GeneralResult* r, KaIcuCache* cache)
{
    if (!cache) {
        icuErrorToDiag(U_ILLEGAL_ARGUMENT_ERROR);
        return 1;
    }
    Utf16Feed feed(magnitude(srcCp), src, srcLen);
    const int64_t srcConvCp = magnitude(srcCp);
    const int64_t dstConvCp = magnitude(dstCp);
    KaConvCallbackContext* tctx = nullptr;
    UConverter* tconv = cache->acquire(dstConvCp, &tctx);
    if (!tconv)
        return 1;
    if (feed.needsConverter()) {
        feed.conv = cache->acquire(srcConvCp, &feed.ctx);
        if (!feed.conv) {
            cache->release(dstConvCp, tconv, tctx);
            return 1;
        }
    }
    auto finish = [&](int32_t rc) {
        postSubstitution(tctx);
        cache->release(dstConvCp, tconv, tctx);
        if (feed.conv)
            cache->release(srcConvCp, feed.conv, feed.ctx);
        return rc;
    };

    // Counting without a buffer still needs a valid target position.
    char none = 0;
    char* t = dst ? reinterpret_cast<char*>(dst) : &none;
    char* const tStart = t;
    char* const tLimit = t + (dst && room > 0 ? room : 0);
    UErrorCode status = U_ZERO_ERROR;
    bool cut = false;
    int64_t counted = 0;
    char scratch[kTextCvtCountChunk];
    while (!feed.done) {
        int32_t n = feed.next(&status);
        if (n < 0)
            return finish(icuErrorToDiag(status, cache->mode));
        const UChar* cs = feed.chunk;
        const UChar* ce = feed.chunk + n;
        bool flush = feed.done;
        if (!cut) {
            status = U_ZERO_ERROR;
            ucnv_fromUnicode(tconv, &t, tLimit, &cs, ce, nullptr, flush, &status);
            if (status == U_BUFFER_OVERFLOW_ERROR) {
                cut = true;
                int64_t raw = t - tStart;
                r->written = trimToCharacter(dstCp, dst, raw, cache);
                counted = raw;
                if (blankTail) {
                    bool blank = true;
                    // A character only partly written must itself be a blank.
                    if (r->written < raw && !(cs > feed.chunk && cs[-1] == 0x20))
                        blank = false;
                    if (blank && unitsBlank(cs, ce) && feedRestBlank(feed))
                        return finish(0);
                    r->truncated = 1;
                    return finish(0);
                }
                r->truncated = 1;
                if (!countRest)
                    return finish(0);
            } else if (U_FAILURE(status)) {
                return finish(icuErrorToDiag(status, cache->mode));
            } else {
                continue;
            }
        }
        // Counting only: the rest goes through a scratch area.
        for (;;) {
            char* st = scratch;
            status = U_ZERO_ERROR;
            ucnv_fromUnicode(tconv, &st, scratch + sizeof scratch, &cs, ce, nullptr, flush, &status);
            counted += st - scratch;
            if (status == U_BUFFER_OVERFLOW_ERROR)
                continue;
            if (U_FAILURE(status))
                return finish(icuErrorToDiag(status, cache->mode));
            break;
        }
    }
    if (!cut) {
        r->written = t - tStart;
        r->full = r->written;
    } else {
        r->full = counted;
    }
    return finish(0);
}

int64_t termWidth(int64_t cp, KaIcuCache* cache)
{
    if (isUtf16Cp(cp))
        return 2;
    int64_t minBytes = 1;
    if (cache)
        cache->getCharSizes(magnitude(cp), nullptr, &minBytes);
    return minBytes > 0 ? minBytes : 1;
}

// Code pages whose converter maps bytes 0x00-0x7F and U+0000-U+007F to each
// other one for one, with one-byte characters: ASCII text passes between two
// of them, and to and from UTF-16, without a converter. Some numbers that
// are not on the list above still fail this (Unicode compression forms,
// PC code pages that move control characters), so the converter decides.
// Probed once per number and kept; the table is filled without a lock and
// only grows. A slot holds the number shifted left by 2, bit 1 (so that a
// used slot is never 0) and the answer in bit 0. Once it is full, further
// code pages simply take the converter path.
constexpr size_t kAsciiPageSlots = 64;
constexpr int64_t kAsciiPageMax = int64_t(1) << 40;
std::atomic<uint64_t> gAsciiPages[kAsciiPageSlots];

// 1 or 0; -1 when the code page has no converter (nothing is kept then).
int probeAsciiPage(int64_t cp)
{
    const char* name = ianaNameFromNumber(cp);
    if (name == nullptr)
        return -1;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(name, &status);
    if (conv == nullptr || U_FAILURE(status)) {
        if (conv)
            ucnv_close(conv);
        return -1;
    }
    int answer = isAsciiTransparent(conv) && ucnv_getMinCharSize(conv) == 1 ? 1 : 0;
    ucnv_close(conv);
    return answer;
}

bool asciiPassesUnchanged(int64_t cp)
{
    // The driver's own text and the usual application code pages, asked for
    // every value: known without the table.
    if (cp == kCodePageUtf8 || cp == kCodePageLatin1)
        return true;
    if (cp < 0 || cp >= kAsciiPageMax)
        return false;
    const uint64_t key = uint64_t(cp) << 2 | 2;
    bool room = false;
    for (std::atomic<uint64_t>& slot : gAsciiPages) {
        uint64_t v = slot.load(std::memory_order_relaxed);
        if (v == 0) {
            room = true;
            break;
        }
        if ((v & ~uint64_t(1)) == key)
            return (v & 1) != 0;
    }
    if (!room)
        return false;
    int answer = baseIsAsciiCompatible(cp) ? probeAsciiPage(cp) : 0;
    if (answer < 0)
        return false;
    for (std::atomic<uint64_t>& slot : gAsciiPages) {
        uint64_t expected = 0;
        if (slot.compare_exchange_strong(expected, key | uint64_t(answer), std::memory_order_relaxed))
            break;
        if ((expected & ~uint64_t(1)) == key)
            break;
    }
    return answer != 0;
}

// Copies the run of bytes below 0x80 at the start of src, at most n, eight
// bytes at a time; returns its length. dst may be null to only measure.
int64_t copyAsciiRun(u8* dst, const u8* src, int64_t n)
{
    constexpr uint64_t kHighBits = 0x8080808080808080ull;
    int64_t i = 0;
    while (i + 8 <= n) {
        uint64_t word;
        memcpy(&word, src + i, 8);
        if (word & kHighBits)
            break;
        if (dst)
            memcpy(dst + i, &word, 8);
        i += 8;
    }
    while (i < n && src[i] < 0x80) {
        if (dst)
            dst[i] = src[i];
        ++i;
    }
    return i;
}

bool badArguments(const void* src, int64_t srcLen, const void* dst, int64_t dstSize)
{
    return srcLen < 0 || (!src && srcLen > 0) || dstSize < 0 || (!dst && dstSize > 0);
}

}  // namespace

int32_t baseAsciiPassesUnchanged(int64_t cp) noexcept
{
    return asciiPassesUnchanged(cp) ? 1 : 0;
}

int64_t baseAsciiPrefix(const void* text, int64_t n) noexcept
{
    return text == nullptr || n <= 0 ? 0 : copyAsciiRun(nullptr, static_cast<const u8*>(text), n);
}

int32_t baseIsAsciiCompatible(int64_t cp) noexcept
{
    if (cp < 0)
        return 0;
    size_t lo = 0, hi = sizeof kNotAsciiCompatible / sizeof kNotAsciiCompatible[0];
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (kNotAsciiCompatible[mid] < cp)
            lo = mid + 1;
        else
            hi = mid;
    }
    return (lo < sizeof kNotAsciiCompatible / sizeof kNotAsciiCompatible[0] && kNotAsciiCompatible[lo] == cp) ? 0 : 1;
}

int32_t baseConvertTextToBuffer(int64_t srcCp, const void* srcV, int64_t srcLen, int64_t dstCp, void* dstV,
                                int64_t dstSize, int32_t fullLength, int64_t* produced, int32_t* truncatedOut,
                                KaIcuCache* cache) noexcept
{
    int32_t truncLocal = 0;
    int32_t* truncated = truncatedOut ? truncatedOut : &truncLocal;
    *truncated = 0;
    if (badArguments(srcV, srcLen, dstV, dstSize) || !cache) {
        icuErrorToDiag(U_ILLEGAL_ARGUMENT_ERROR);
        return 1;
    }
    const u8* src = static_cast<const u8*>(srcV);
    u8* dst = static_cast<u8*>(dstV);
    // Between two such code pages ASCII is copied, and the converters (and
    // the pool's lock) are needed only from the first other byte on.
    const bool asciiCopy = srcCp != dstCp && !isUtf16Cp(srcCp) && !isUtf16Cp(dstCp) && asciiPassesUnchanged(srcCp) &&
                           asciiPassesUnchanged(dstCp);
    const int64_t t = asciiCopy ? 1 : termWidth(dstCp, cache);
    const int64_t room = dstSize - t;

    // No room even for the terminator.
    if (room < 0) {
        *truncated = 1;
        zeroBytes(dst, dstSize < 2 ? dstSize : 2);
        if (produced) {
            if (!fullLength) {
                *produced = 0;
            } else if (srcCp == dstCp) {
                *produced = srcLen;
            } else {
                GeneralResult r;
                if (convertGeneral(srcCp, src, srcLen, dstCp, dst, 0, true, false, &r, cache) != 0)
                    return 1;
                *produced = r.full;
            }
        }
        return 0;
    }

    // Same code page: a copy that does not split a character.
    if (srcCp == dstCp) {
        int64_t n = srcLen;
        if (n > room) {
            *truncated = 1;
            n = trimToCharacter(dstCp, src, room, cache);
        }
        if (n > 0)
            memmove(dst, src, static_cast<size_t>(n));
        zeroBytes(dst + n, t);
        if (produced)
            *produced = fullLength ? srcLen : n;
        return 0;
    }

    // UTF-16 in the other byte order.
    if ((srcCp == kCodePageUtf16BE && dstCp == kCodePageUtf16LE) ||
        (srcCp == kCodePageUtf16LE && dstCp == kCodePageUtf16BE)) {
        int64_t n = srcLen & ~int64_t(1);
        if (n > room) {
            *truncated = 1;
            n = trimToCharacter(srcCp, src, room, cache);
        }
        for (int64_t i = 0; i < n; i += 2) {
            u8 a = src[i], b = src[i + 1];
            dst[i] = b;
            dst[i + 1] = a;
        }
        // The caller's buffer is an output argument: it is terminated too.
        zeroBytes(dst + n, t);
        if (produced)
            *produced = fullLength ? (srcLen & ~int64_t(1)) : n;
        return 0;
    }

    int64_t w = 0;
    int64_t i = 0;
    bool fastCut = false;
    // To UTF-16 from an ASCII-compatible code page: ASCII widened directly.
    if ((dstCp == kCodePageUtf16LE || dstCp == kCodePageUtf16BE) && asciiPassesUnchanged(srcCp)) {
        bool be = dstCp == kCodePageUtf16BE;
        while (i < srcLen && src[i] < 0x80) {
            if (w + 2 > room) {
                fastCut = true;
                break;
            }
            putUnit(dst + w, src[i], be);
            w += 2;
            ++i;
        }
        if (i == srcLen) {
            zeroBytes(dst + w, t);
            if (produced)
                *produced = w;
            return 0;
        }
    }
    // From UTF-16 to an ASCII-compatible code page: ASCII narrowed directly.
    else if ((srcCp == kCodePageUtf16LE || srcCp == kCodePageUtf16BE) && asciiPassesUnchanged(dstCp)) {
        bool be = srcCp == kCodePageUtf16BE;
        while (i + 1 < srcLen) {
            uint16_t u = unitAt(src + i, be);
            if (u >= 0x80)
                break;
            if (w + 1 > room) {
                fastCut = true;
                break;
            }
            dst[w++] = static_cast<u8>(u);
            i += 2;
        }
        if (i + 1 >= srcLen) {
            zeroBytes(dst + w, t);
            if (produced)
                *produced = w;
            return 0;
        }
    }
    // Between two 8-bit code pages: ASCII copied as it stands.
    else if (asciiCopy) {
        int64_t limit = srcLen < room ? srcLen : room;
        i = w = copyAsciiRun(dst, src, limit);
        if (i == srcLen) {
            zeroBytes(dst + w, t);
            if (produced)
                *produced = w;
            return 0;
        }
        if (i == room) {
            // Cut between ASCII characters; only a non-ASCII rest needs
            // converting to be counted.
            *truncated = 1;
            int64_t full = room;
            if (fullLength && produced) {
                full += copyAsciiRun(nullptr, src + room, srcLen - room);
                if (full < srcLen) {
                    GeneralResult r;
                    int32_t rc =
                        convertGeneral(srcCp, src + full, srcLen - full, dstCp, dst + w, 0, true, false, &r, cache);
                    if (rc != 0) {
                        zeroBytes(dst, dstSize < t ? dstSize : t);
                        return rc;
                    }
                    full += r.full;
                }
            }
            zeroBytes(dst + w, t);
            if (produced)
                *produced = fullLength ? full : w;
            return 0;
        }
    }

    // The rest through ICU.
    GeneralResult r;
    int32_t rc;
    if (fastCut) {
        *truncated = 1;
        r.written = 0;
        r.full = 0;
        rc = 0;
        if (fullLength && produced)
            rc = convertGeneral(srcCp, src + i, srcLen - i, dstCp, dst + w, 0, true, false, &r, cache);
        r.written = 0;
    } else {
        rc = convertGeneral(srcCp, src + i, srcLen - i, dstCp, dst + w, room - w, fullLength && produced, false, &r,
                            cache);
        if (r.truncated)
            *truncated = 1;
    }
    if (rc != 0) {
        zeroBytes(dst, dstSize < t ? dstSize : t);
        return rc;
    }
    zeroBytes(dst + w + r.written, t);
    if (produced)
        *produced = w + ((fullLength && *truncated) ? r.full : r.written);
    return 0;
}

int32_t baseConvertText(int64_t srcCp, const void* srcV, int64_t srcLen, int64_t dstCp, void* dstV, int64_t dstSize,
                        int64_t* produced, int32_t* truncatedOut, KaIcuCache* cache, int32_t blankTail) noexcept
{
    int32_t truncLocal = 0;
    int32_t* truncated = truncatedOut ? truncatedOut : &truncLocal;
    *truncated = 0;
    if (produced)
        *produced = 0;
    if (badArguments(srcV, srcLen, dstV, dstSize) || !cache) {
        icuErrorToDiag(U_ILLEGAL_ARGUMENT_ERROR);
        return 1;
    }
    const u8* src = static_cast<const u8*>(srcV);
    u8* dst = static_cast<u8*>(dstV);

    // The same converter: a copy.
    if (magnitude(srcCp) == magnitude(dstCp)) {
        int64_t n = srcLen;
        if (n > dstSize) {
            n = dstSize;
            if (!(blankTail && restIsBlank(srcCp, src + n, srcLen - n))) {
                *truncated = 1;
                n = trimToCharacter(dstCp, src, n, cache);
            }
        }
        if (n > 0)
            memmove(dst, src, static_cast<size_t>(n));
        if (produced)
            *produced = n;
        return 0;
    }

    // UTF-16 in the other byte order.
    if ((srcCp == kCodePageUtf16BE && dstCp == kCodePageUtf16LE) ||
        (srcCp == kCodePageUtf16LE && dstCp == kCodePageUtf16BE)) {
        int64_t whole = srcLen & ~int64_t(1);
        int64_t n = whole;
        if (n > dstSize) {
            n = dstSize & ~int64_t(1);
            if (!(blankTail && restIsBlank(srcCp, src + n, whole - n))) {
                *truncated = 1;
                n = trimToCharacter(srcCp, src, n, cache);
            }
        }
        for (int64_t i = 0; i < n; i += 2) {
            u8 a = src[i], b = src[i + 1];
            dst[i] = b;
            dst[i + 1] = a;
        }
        if (produced)
            *produced = n;
        return 0;
    }

    // Into UTF-16 from another code page.
    if (dstCp == kCodePageUtf16LE || dstCp == kCodePageUtf16BE) {
        bool be = dstCp == kCodePageUtf16BE;
        Utf16Feed feed(magnitude(srcCp), src, srcLen);
        if (feed.needsConverter()) {
            feed.conv = cache->acquire(feed.cp, &feed.ctx);
            if (!feed.conv)
                return 1;
        }
        int64_t w = 0;
        int32_t rc = 0;
        while (!feed.done) {
            UErrorCode status = U_ZERO_ERROR;
            int32_t n = feed.next(&status);
            if (n < 0) {
                rc = icuErrorToDiag(status, cache->mode);
                break;
            }
            int32_t k = 0;
            for (; k < n; ++k) {
                uint16_t u = feed.chunk[k];
                // A surrogate pair goes whole or not at all, also when its
                // low half opens the next chunk.
                bool pairHere = isHighSurrogate(u) && k + 1 < n;
                bool pairNext = isHighSurrogate(u) && k + 1 == n && !feed.done;
                int64_t need = (pairHere || pairNext) ? 4 : 2;
                if (w + need > dstSize)
                    break;
                putUnit(dst + w, u, be);
                w += 2;
                if (pairHere) {
                    putUnit(dst + w, feed.chunk[++k], be);
                    w += 2;
                }
            }
            if (k < n) {
                if (!(blankTail && unitsBlank(feed.chunk + k, feed.chunk + n) && feedRestBlank(feed)))
                    *truncated = 1;
                break;
            }
        }
        if (feed.conv)
            cache->release(feed.cp, feed.conv, feed.ctx);
        if (rc != 0)
            return rc;
        if (produced)
            *produced = w;
        return 0;
    }

    // Into any other code page.
    GeneralResult r;
    int32_t rc = convertGeneral(srcCp, src, srcLen, dstCp, dst, dstSize, false, blankTail != 0, &r, cache);
    if (rc != 0)
        return rc;
    if (r.truncated)
        *truncated = 1;
    if (produced)
        *produced = r.written;
    return 0;
}

// ---- Allocating wrappers ------------------------------------------------

int64_t baseTextModeCodePage(const BaseTextContext& conn) noexcept
{
    if (conn.driverTextMode == kBaseDriverTextUtf16)
        return kCodePageUtf16LE;
    if (conn.driverTextMode == kBaseDriverTextUtf8)
        return kCodePageUtf8;
    return conn.appCodePage;
}

int32_t baseAllocFromWide(const BaseTextContext& conn, const uint16_t* text, int64_t units, int64_t targetCp,
                          char** out, int64_t* produced, int64_t bytesPerUnit, int64_t termLen) noexcept
{
    if (!out)
        return 1;
    *out = nullptr;
    if (produced)
        *produced = 0;
    if (units == SQL_NTS)
        units = text ? u_strlen(reinterpret_cast<const UChar*>(text)) : 0;
    if (units < 0 || (!text && units > 0) || bytesPerUnit <= 0 || termLen < 0 ||
        units > (INT64_MAX / 8) / (bytesPerUnit > 4 ? bytesPerUnit : 4)) {
        icuErrorToDiag(U_ILLEGAL_ARGUMENT_ERROR);
        return 1;
    }
    int64_t capacity = units * bytesPerUnit;
    for (int attempt = 0; attempt < 2; ++attempt) {
        RamPtr<char> buf = ramMake<char>(static_cast<size_t>(capacity + termLen));
        if (!buf)
            return 1;
        int64_t n = 0;
        int32_t cut = 0;
        if (baseConvertText(kCodePageUtf16LE, text, units * 2, targetCp, buf.get(), capacity, &n, &cut, conn.cache,
                            0) != 0)
            return 1;
        if (!cut) {
            zeroBytes(buf.get() + n, termLen);
            *out = buf.release();
            if (produced)
                *produced = n;
            return 0;
        }
        buf.reset();
        // The connection's bytes per character undercounted this code page:
        // once more with the converter's own maximum.
        int64_t maxBytes = 4;
        conn.cache->getCharSizes(magnitude(targetCp), &maxBytes, nullptr);
        if (maxBytes < 4)
            maxBytes = 4;
        capacity = units * maxBytes + 16;
    }
    icuErrorToDiag(U_INTERNAL_PROGRAM_ERROR);
    return 1;
}

int32_t baseAllocAppFromWide(const BaseTextContext& conn, const uint16_t* text, int64_t units, char** out,
                             int64_t* produced) noexcept
{
    if (conn.driverTextMode == kBaseDriverTextUtf16)
        return baseAllocFromWide(conn, text, units, kCodePageUtf16LE, out, produced, 2, 2);
    if (conn.driverTextMode == kBaseDriverTextUtf8)
        return baseAllocFromWide(conn, text, units, kCodePageUtf8, out, produced, 3, 1);
    return baseAllocFromWide(conn, text, units, conn.appCodePage, out, produced,
                             conn.bytesPerChar > 0 ? conn.bytesPerChar : 4,
                             conn.narrowTermWidth > 0 ? conn.narrowTermWidth : 1);
}

int32_t baseAllocWideFromCp(const BaseTextContext& conn, int64_t srcCp, const char* text, int64_t length,
                            uint16_t** out, int64_t* produced) noexcept
{
    if (!out)
        return 1;
    *out = nullptr;
    if (produced)
        *produced = 0;
    if (length == SQL_NTS)
        length = text ? static_cast<int64_t>(strlen(text)) : 0;
    if (length < 0 || (!text && length > 0) || length > INT64_MAX / 4) {
        icuErrorToDiag(U_ILLEGAL_ARGUMENT_ERROR);
        return 1;
    }
    RamPtr<uint16_t> buf = ramMake<uint16_t>(static_cast<size_t>(length + 1));
    if (!buf)
        return 1;
    int64_t n = 0;
    int32_t cut = 0;
    if (baseConvertText(srcCp, text, length, kCodePageUtf16LE, buf.get(), 2 * length, &n, &cut, conn.cache, 0) != 0)
        return 1;
    int64_t units = n / 2;
    if (units > length)
        units = length;
    buf.get()[units] = 0;
    *out = buf.release();
    if (produced)
        *produced = units;
    return 0;
}

int32_t baseAllocWideFromApp(const BaseTextContext& conn, const char* text, int64_t length, uint16_t** out,
                             int64_t* produced) noexcept
{
    return baseAllocWideFromCp(conn, baseTextModeCodePage(conn), text, length, out, produced);
}

// ---- Routines without callers in the driver -----------------------------

int32_t baseCountChars(int64_t cp, const void* text, int64_t length, int64_t* count, KaIcuCache* cache) noexcept
{
    if (!count || length < 0 || (!text && length > 0) || !cache) {
        icuErrorToDiag(U_ILLEGAL_ARGUMENT_ERROR);
        return 1;
    }
    Utf16Feed feed(magnitude(cp), static_cast<const u8*>(text), length);
    if (feed.needsConverter()) {
        feed.conv = cache->acquire(feed.cp, &feed.ctx);
        if (!feed.conv) {
            KaErrorAppendText(" Unable to count the number of characters.");
            return 1;
        }
    }
    int64_t n = 0;
    int32_t rc = 0;
    bool pendingHigh = false;
    while (!feed.done) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t k = feed.next(&status);
        if (k < 0) {
            rc = icuErrorToDiag(status, cache->mode);
            KaErrorAppendText(" Unable to count the number of characters.");
            break;
        }
        for (int32_t i = 0; i < k; ++i) {
            uint16_t u = feed.chunk[i];
            // The low half of a pair adds nothing (pairs may span chunks).
            if (!(pendingHigh && u >= 0xDC00 && u <= 0xDFFF))
                ++n;
            pendingHigh = isHighSurrogate(u);
        }
    }
    if (feed.conv)
        cache->release(feed.cp, feed.conv, feed.ctx);
    if (rc == 0)
        *count = n;
    return rc;
}

const char* baseCodePageConverterName(int64_t cp) noexcept
{
    switch (cp) {
    case kCodePageLatin1: return "ISO-8859-1";
    case kCodePageUtf8: return "TWNAR_ICU_UTF8";
    case kCodePageUtf16BE: return "TWNAR_ICU_UTF16BE";
    case kCodePageUtf16LE: return "TWNAR_ICU_UTF16LE";
    default: break;
    }
    static thread_local char unknown[48];
    snprintf(unknown, sizeof unknown, "Unknown codepage: %lld", static_cast<long long>(cp));
    return unknown;
}
