// ICU conversion routines: pivot, character-wise and UTF-16/UTF-8 paths.
#include "foundation/icuconv.h"

#include <atomic>
#include <cstring>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "foundation/codepage.h"
#include "foundation/fast.h"
#include "foundation/kastr.h"

namespace {

constexpr size_t kMaxIcuLength = static_cast<size_t>(INT32_MAX);

UChar* asUChar(uint16_t* p)
{
    return reinterpret_cast<UChar*>(p);
}

const UChar* asUChar(const uint16_t* p)
{
    return reinterpret_cast<const UChar*>(p);
}

// For the routines that write whole characters and a terminator: the last
// tail bytes are cleared first, so that a character cut at the end leaves no
// stray bytes, and ICU gets the room less one byte for the terminator.
size_t boundedCapacity(char* dest, size_t destLen, size_t tail)
{
    if (tail > destLen)
        tail = destLen;
    if (tail > 0)
        std::memset(dest + destLen - tail, 0, tail);
    return destLen > 0 ? destLen - 1 : 0;
}

// The result of such a routine: the terminator kept out of ICU's capacity
// lets text that fills the rest of the buffer exactly still fit.
int32_t boundedResult(char* dest, size_t destLen, size_t total, UErrorCode status)
{
    if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR)
        return icuErrorToResult(status);
    if (total < destLen) {
        dest[total] = 0;
        return kConvDone;
    }
    return kConvTruncated;
}

// --- Which converters map ASCII to itself ---------------------------------
// Answers for table-driven converters are probed once per converter name and
// kept here; the table is filled lock-free and only ever grows.
constexpr size_t kAsciiMemoSlots = 64;
constexpr size_t kAsciiMemoName = 64;

struct AsciiMemoSlot {
    std::atomic<uint32_t> state;  // 0 free, 1 being written, 2 ready
    bool transparent;
    char name[kAsciiMemoName];
};

AsciiMemoSlot asciiMemo[kAsciiMemoSlots];

int probeAscii(UConverter* converter)
{
    UErrorCode status = U_ZERO_ERROR;
    // A clone with stopping callbacks, so that the probe neither disturbs the
    // caller's converter nor reaches its substitution callback.
    UConverter* clone = ucnv_clone(converter, &status);
    if (U_FAILURE(status))
        return 0;
    ucnv_setToUCallBack(clone, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(clone, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    char bytes[128];
    UChar units[128];
    for (int i = 0; i < 128; ++i) {
        bytes[i] = static_cast<char>(i);
        units[i] = static_cast<UChar>(i);
    }
    UChar unitsOut[129];
    char bytesOut[129];
    int ok = 0;
    if (U_SUCCESS(status)) {
        int32_t n = ucnv_toUChars(clone, unitsOut, 129, bytes, 128, &status);
        ok = U_SUCCESS(status) && n == 128 && std::memcmp(unitsOut, units, sizeof(units)) == 0;
    }
    if (ok) {
        status = U_ZERO_ERROR;
        int32_t n = ucnv_fromUChars(clone, bytesOut, 129, units, 128, &status);
        ok = U_SUCCESS(status) && n == 128 && std::memcmp(bytesOut, bytes, sizeof(bytes)) == 0;
    }
    ucnv_close(clone);
    return ok;
}

}  // namespace

int isAsciiTransparent(UConverter* converter) noexcept
{
    if (converter == nullptr)
        return 0;
    switch (ucnv_getType(converter)) {
    case UCNV_UTF8:
    case UCNV_CESU8:
    case UCNV_US_ASCII:
    case UCNV_LATIN_1: return 1;
    case UCNV_SBCS:
    case UCNV_MBCS:
    case UCNV_DBCS: break;
    default:
        // UTF-16/32, EBCDIC stateful, ISO-2022, HZ, UTF-7, SCSU, BOCU-1 ...
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    const char* name = ucnv_getName(converter, &status);
    if (U_FAILURE(status) || name == nullptr)
        return probeAscii(converter);
    size_t nameLen = std::strlen(name);
    for (AsciiMemoSlot& slot : asciiMemo) {
        uint32_t state = slot.state.load(std::memory_order_acquire);
        if (state == 0)
            break;
        if (state == 2 && std::strcmp(slot.name, name) == 0)
            return slot.transparent ? 1 : 0;
    }
    int transparent = probeAscii(converter);
    if (nameLen < kAsciiMemoName) {
        for (AsciiMemoSlot& slot : asciiMemo) {
            uint32_t expected = 0;
            if (slot.state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
                std::memcpy(slot.name, name, nameLen + 1);
                slot.transparent = transparent != 0;
                slot.state.store(2, std::memory_order_release);
                break;
            }
        }
    }
    return transparent;
}

int32_t icuErrorToResult(UErrorCode status) noexcept
{
    switch (status) {
    case U_ZERO_ERROR: return kConvDone;
    case U_FILE_ACCESS_ERROR: return kConvNoData;
    case U_ILLEGAL_CHAR_FOUND: return kConvReplaced;
    case U_INVALID_TABLE_FORMAT:
    case U_INVALID_TABLE_FILE: return kConvBadTable;
    case U_BUFFER_OVERFLOW_ERROR:
    case U_STRING_NOT_TERMINATED_WARNING: return kConvTruncated;
    default:
        // Other warnings (fallback used, default converter) are successes.
        return U_SUCCESS(status) ? kConvDone : kConvFailed;
    }
}

void swapBytes16(const uint16_t* source, uint16_t* destination, size_t units) noexcept
{
    for (size_t i = 0; i < units; ++i) {
        uint16_t u = source[i];
        destination[i] = static_cast<uint16_t>((u << 8) | (u >> 8));
    }
}

size_t wcslen16(const uint16_t* text) noexcept
{
    return text != nullptr ? strLenW(text) : 0;
}

int32_t maxCharSizeOf(int64_t codePage) noexcept
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(ianaNameFromNumber(codePage), &status);
    if (U_FAILURE(status))
        return 0;
    int32_t size = ucnv_getMaxCharSize(converter);
    ucnv_close(converter);
    return size;
}

// --- Pivot conversion --------------------------------------------------------

namespace {

// Converts src[*in..srcLen) into dest[*out..destLen) through a UTF-16 pivot
// on the stack. The target is flushed only after the last pivot load, so a
// surrogate pair split between two loads is kept whole.
int32_t pivotConvert(char* dest, size_t destLen, size_t* out, const char* src, size_t srcLen, size_t* in,
                     UConverter* source, UConverter* target, bool wipe)
{
    UChar pivot[kPivotUnits];
    size_t pivotUsed = 0;
    const char* s = src + *in;
    const char* sEnd = src + srcLen;
    char* d = dest + *out;
    char* dEnd = dest + destLen;
    int32_t result = kConvDone;
    bool pending = true;
    while (pending) {
        UChar* p = pivot;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(source, &p, pivot + kPivotUnits, &s, sEnd, nullptr, true, &status);
        bool more = false;
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            more = true;
        } else if (status == U_STRING_NOT_TERMINATED_WARNING) {
            result = kConvTruncated;
            break;
        } else if (U_FAILURE(status)) {
            result = icuErrorToResult(status);
            break;
        }
        size_t used = static_cast<size_t>(p - pivot);
        if (used > pivotUsed)
            pivotUsed = used;
        const UChar* q = pivot;
        status = U_ZERO_ERROR;
        ucnv_fromUnicode(target, &d, dEnd, &q, p, nullptr, !more, &status);
        if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING) {
            result = icuErrorToResult(status);
            break;
        }
        pending = more;
    }
    if (wipe)
        fastMemzero(pivot, pivotUsed * sizeof(UChar));
    *out = static_cast<size_t>(d - dest);
    *in = static_cast<size_t>(s - src);
    return result;
}

void setCounts(size_t* written, size_t w, size_t* consumed, size_t c)
{
    if (written != nullptr)
        *written = w;
    if (consumed != nullptr)
        *consumed = c;
}

int32_t convertPivotWhole(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* written, size_t* consumed,
                          UConverter* source, UConverter* target, bool wipe)
{
    if (dest == nullptr || destLen == 0 || src == nullptr || source == nullptr || target == nullptr ||
        destLen > kMaxIcuLength || srcLen > kMaxIcuLength)
        return kConvFailed;
    // A converter left behind by a truncated conversion still holds the
    // bytes that did not fit; they do not belong to this text.
    ucnv_resetToUnicode(source);
    ucnv_resetFromUnicode(target);
    size_t out = 0;
    size_t in = 0;
    int32_t result = kConvDone;
    if (srcLen > 0)
        result = pivotConvert(dest, destLen, &out, src, srcLen, &in, source, target, wipe);
    if (result == kConvDone && in == srcLen) {
        // Two NUL bytes where room, so that UTF-16 output is terminated too.
        if (out < destLen)
            dest[out] = 0;
        if (out + 1 < destLen)
            dest[out + 1] = 0;
    }
    setCounts(written, out, consumed, in);
    return result;
}

// Length of the run of bytes below 0x80 at the start of src, at most n.
size_t asciiPrefix(char* dest, const char* src, size_t n)
{
    size_t i = 0;
    while (i + 4 <= n) {
        uint32_t word;
        std::memcpy(&word, src + i, 4);
        if (word & 0x80808080u)
            break;
        std::memcpy(dest + i, &word, 4);
        i += 4;
    }
    while (i < n && static_cast<unsigned char>(src[i]) < 0x80) {
        dest[i] = src[i];
        ++i;
    }
    return i;
}

int32_t convertWithAsciiFastPath(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* written,
                                 size_t* consumed, UConverter* source, UConverter* target)
{
    if (dest == nullptr || destLen == 0 || src == nullptr || source == nullptr || target == nullptr ||
        destLen > kMaxIcuLength || srcLen > kMaxIcuLength)
        return kConvFailed;
    if (!isAsciiTransparent(source) || !isAsciiTransparent(target))
        return convertPivotWhole(dest, destLen, src, srcLen, written, consumed, source, target, false);
    size_t limit = destLen < srcLen ? destLen : srcLen;
    size_t k = asciiPrefix(dest, src, limit);
    if (k == limit) {
        if (destLen < srcLen) {
            setCounts(written, destLen, consumed, destLen);
            return kConvTruncated;
        }
        if (srcLen < destLen)
            dest[srcLen] = 0;
        setCounts(written, srcLen, consumed, srcLen);
        return kConvDone;
    }
    size_t out = k;
    size_t in = k;
    ucnv_resetToUnicode(source);
    ucnv_resetFromUnicode(target);
    int32_t result = pivotConvert(dest, destLen, &out, src, srcLen, &in, source, target, false);
    if (result == kConvDone && out < destLen)
        dest[out] = 0;
    setCounts(written, out, consumed, in);
    return result;
}

}  // namespace

int32_t convertCodePageViaUnicode(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* written,
                                  size_t* consumed, UConverter* source, UConverter* target) noexcept
{
    return convertWithAsciiFastPath(dest, destLen, src, srcLen, written, consumed, source, target);
}

int32_t convertCodePages(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* written, size_t* consumed,
                         UConverter* source, UConverter* target) noexcept
{
    return convertPivotWhole(dest, destLen, src, srcLen, written, consumed, source, target, false);
}

int32_t convertCodePagesCounted(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* written,
                                size_t* consumed, UConverter* source, UConverter* target) noexcept
{
    return convertPivotWhole(dest, destLen, src, srcLen, written, consumed, source, target, true);
}

int32_t convertToCodePageCounted(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* written,
                                 size_t* consumed, UConverter* target, UConverter* source) noexcept
{
    if (dest == nullptr || destLen == 0 || src == nullptr) {
        setCounts(written, 0, nullptr, 0);
        return kConvFailed;
    }
    return convertWithAsciiFastPath(dest, destLen, src, srcLen, written, consumed, source, target);
}

// --- Character-wise conversion with measurement ------------------------------

namespace {

// Adds to *total the bytes the target still holds for characters already
// handed to it (and, with flush, its closing sequence), without keeping them.
int32_t measurePending(UConverter* target, const UChar* units, int32_t n, bool flush, size_t* total)
{
    char scratch[kMeasureScratch];
    const UChar* q = units;
    for (;;) {
        char* d = scratch;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(target, &d, scratch + kMeasureScratch, &q, units + n, nullptr, flush, &status);
        *total += static_cast<size_t>(d - scratch);
        if (status == U_BUFFER_OVERFLOW_ERROR)
            continue;
        if (U_FAILURE(status))
            return icuErrorToResult(status);
        return kConvDone;
    }
}

int32_t convertChars(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* length, UConverter* source,
                     UConverter* target)
{
    if (src == nullptr || source == nullptr || target == nullptr || (dest == nullptr && destLen > 0) ||
        destLen > kMaxIcuLength || srcLen > kMaxIcuLength)
        return kConvFailed;
    // A terminator as wide as the target's smallest character, kept free at
    // the end of the buffer.
    int8_t minSize = ucnv_getMinCharSize(target);
    size_t termBytes = minSize > 1 ? static_cast<size_t>(minSize) : 1;
    size_t writableEnd = destLen >= termBytes ? destLen - termBytes : 0;
    ucnv_resetToUnicode(source);
    ucnv_resetFromUnicode(target);
    const char* s = src;
    const char* sEnd = src + srcLen;
    size_t w = 0;
    size_t total = 0;
    bool truncated = false;
    int32_t result = kConvDone;
    while (s < sEnd) {
        UErrorCode status = U_ZERO_ERROR;
        UChar32 c = ucnv_getNextUChar(source, &s, sEnd, &status);
        if (status == U_INDEX_OUTOFBOUNDS_ERROR)
            break;
        if (U_FAILURE(status)) {
            result = icuErrorToResult(status);
            break;
        }
        UChar units[2];
        int32_t n = 0;
        U16_APPEND_UNSAFE(units, n, c);
        if (truncated) {
            int32_t r = measurePending(target, units, n, false, &total);
            if (r != kConvDone) {
                result = r;
                break;
            }
            continue;
        }
        char* d = dest + w;
        const UChar* q = units;
        status = U_ZERO_ERROR;
        ucnv_fromUnicode(target, &d, dest + writableEnd, &q, units + n, nullptr, false, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            // The terminator goes where the cut character began; from here
            // on characters are only measured.
            total = static_cast<size_t>(d - dest);
            if (w + termBytes <= destLen)
                std::memset(dest + w, 0, termBytes);
            truncated = true;
            result = kConvTruncated;
            int32_t r = measurePending(target, q, static_cast<int32_t>(units + n - q), false, &total);
            if (r != kConvDone) {
                result = r;
                break;
            }
            continue;
        }
        if (U_FAILURE(status)) {
            result = icuErrorToResult(status);
            break;
        }
        w = static_cast<size_t>(d - dest);
    }
    if (result == kConvDone) {
        // A stateful target may still owe a closing sequence.
        char* d = dest + w;
        const UChar* q = nullptr;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(target, &d, dest + writableEnd, &q, nullptr, nullptr, true, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            total = static_cast<size_t>(d - dest);
            if (w + termBytes <= destLen)
                std::memset(dest + w, 0, termBytes);
            measurePending(target, nullptr, 0, true, &total);
            truncated = true;
            result = kConvTruncated;
        } else {
            w = static_cast<size_t>(d - dest);
        }
    } else if (truncated && result == kConvTruncated) {
        measurePending(target, nullptr, 0, true, &total);
    }
    if (!truncated) {
        total = w;
        if (w + termBytes <= destLen)
            std::memset(dest + w, 0, termBytes);
    }
    if (length != nullptr)
        *length = total;
    return result;
}

}  // namespace

int32_t convertCodePageChars(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* length,
                             UConverter* source, UConverter* target) noexcept
{
    return convertChars(dest, destLen, src, srcLen, length, source, target);
}

int32_t convertCodePagesChars(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* length,
                              UConverter* source, UConverter* target) noexcept
{
    return convertChars(dest, destLen, src, srcLen, length, source, target);
}

int32_t convertToCodePageChars(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* length,
                               UConverter* target, UConverter* source) noexcept
{
    if (target != nullptr && src != nullptr && dest != nullptr && destLen > 0 &&
        static_cast<uint64_t>(ucnv_getMaxCharSize(target)) * srcLen < destLen) {
        size_t written = 0;
        int32_t result = convertToCodePageCounted(dest, destLen, src, srcLen, &written, nullptr, target, source);
        if (length != nullptr)
            *length = written;
        return result;
    }
    return convertChars(dest, destLen, src, srcLen, length, source, target);
}

// --- UTF-16 and a code page ----------------------------------------------------

namespace {

// Hands the source to ICU in pieces of at most kPivotUnits units, byte-swapped
// into a local buffer when asked, so that the caller's text stays as it was.
// A piece never ends between the two halves of a surrogate pair.
struct SourcePieces {
    const uint16_t* src;
    size_t srcLen;
    bool swap;
    size_t pos = 0;
    uint16_t buffer[kPivotUnits];

    SourcePieces(const uint16_t* text, size_t n, bool swapped) : src(text), srcLen(n), swap(swapped) {}

    // Next piece; false when none is left.
    bool next(const UChar** piece, size_t* n)
    {
        if (pos >= srcLen)
            return false;
        size_t take = srcLen - pos;
        if (!swap) {
            *piece = asUChar(src + pos);
            *n = take;
            pos = srcLen;
            return true;
        }
        if (take > kPivotUnits) {
            take = kPivotUnits;
            uint16_t last = static_cast<uint16_t>((src[pos + take - 1] << 8) | (src[pos + take - 1] >> 8));
            if (U16_IS_LEAD(last))
                --take;
        }
        swapBytes16(src + pos, buffer, take);
        *piece = asUChar(buffer);
        *n = take;
        pos += take;
        return true;
    }
    bool last() const { return pos >= srcLen; }
};

// ucnv_fromUnicode over the whole source into dest[0..cap); after a full
// destination the rest is only counted. *total gets the full output length,
// *takenUnits the source units consumed while writing.
UErrorCode fromUnicodeWhole(UConverter* converter, char* dest, size_t cap, const uint16_t* src, size_t srcLen,
                            bool swap, size_t* total, size_t* takenUnits)
{
    SourcePieces pieces{src, srcLen, swap};
    char* d = dest;
    char* dEnd = dest + cap;
    size_t counted = 0;  // bytes measured after the destination filled up
    size_t taken = 0;    // source units consumed while writing
    size_t pieceStart = 0;
    bool full = false;
    const UChar* piece = nullptr;
    size_t n = 0;
    bool havePiece = pieces.next(&piece, &n);
    do {
        bool flush = pieces.last();
        const UChar* q = piece;
        const UChar* qEnd = piece + n;
        for (;;) {
            UErrorCode st = U_ZERO_ERROR;
            if (!full) {
                ucnv_fromUnicode(converter, &d, dEnd, &q, qEnd, nullptr, flush, &st);
                if (st == U_BUFFER_OVERFLOW_ERROR) {
                    full = true;
                    taken = pieceStart + static_cast<size_t>(q - piece);
                    continue;
                }
            } else {
                char scratch[64];
                char* sd = scratch;
                ucnv_fromUnicode(converter, &sd, scratch + sizeof(scratch), &q, qEnd, nullptr, flush, &st);
                counted += static_cast<size_t>(sd - scratch);
                if (st == U_BUFFER_OVERFLOW_ERROR)
                    continue;
            }
            if (U_FAILURE(st)) {
                if (!full)
                    taken = pieceStart + static_cast<size_t>(q - piece);
                *total = static_cast<size_t>(d - dest) + counted;
                *takenUnits = taken;
                return st;
            }
            break;
        }
        pieceStart += n;
        if (!full)
            taken = pieceStart;
    } while (havePiece && (havePiece = pieces.next(&piece, &n)));
    *total = static_cast<size_t>(d - dest) + counted;
    *takenUnits = taken;
    return full ? U_BUFFER_OVERFLOW_ERROR : U_ZERO_ERROR;
}

}  // namespace

int32_t fromUnicodeCounted(char* dest, size_t destLen, const uint16_t* src, size_t srcLen, size_t* written,
                           size_t* consumed, UConverter* converter, int swap) noexcept
{
    if (dest == nullptr || destLen == 0 || src == nullptr || converter == nullptr || destLen > kMaxIcuLength ||
        srcLen > kMaxIcuLength)
        return kConvFailed;
    ucnv_resetFromUnicode(converter);
    size_t total = 0;
    size_t taken = 0;
    UErrorCode status = fromUnicodeWhole(converter, dest, destLen, src, srcLen, swap != 0, &total, &taken);
    size_t out = total < destLen ? total : destLen;
    int32_t result = icuErrorToResult(status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out = destLen;
        result = kConvTruncated;
    }
    if (out < destLen)
        dest[out] = 0;
    setCounts(written, out, consumed, taken);
    return result;
}

int32_t fromUnicode(char* dest, size_t destLen, const uint16_t* src, size_t srcLen, size_t* length,
                    UConverter* converter, int swap) noexcept
{
    if (src == nullptr || converter == nullptr || (dest == nullptr && destLen > 0) || destLen > kMaxIcuLength ||
        srcLen > kMaxIcuLength)
        return kConvFailed;
    size_t cap = boundedCapacity(dest, destLen, static_cast<size_t>(ucnv_getMaxCharSize(converter)));
    ucnv_resetFromUnicode(converter);
    size_t total = 0;
    size_t taken = 0;
    UErrorCode status = fromUnicodeWhole(converter, dest, cap, src, srcLen, swap != 0, &total, &taken);
    if (length != nullptr)
        *length = total;
    return boundedResult(dest, destLen, total, status);
}

int32_t toUnicodeCounted(uint16_t* dest, size_t destLen, const char* src, size_t srcLen, size_t* written,
                         size_t* consumed, UConverter* converter, int swap) noexcept
{
    if (dest == nullptr || destLen == 0 || src == nullptr || converter == nullptr || destLen > kMaxIcuLength ||
        srcLen > kMaxIcuLength)
        return kConvFailed;
    ucnv_resetToUnicode(converter);
    UChar* d = asUChar(dest);
    const char* s = src;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(converter, &d, asUChar(dest) + destLen, &s, src + srcLen, nullptr, true, &status);
    size_t out = static_cast<size_t>(d - asUChar(dest));
    setCounts(written, out, consumed, static_cast<size_t>(s - src));
    if (status == U_STRING_NOT_TERMINATED_WARNING)
        return kConvTruncated;
    int32_t result = icuErrorToResult(status);
    if (U_FAILURE(status) && result != kConvTruncated && result != kConvReplaced)
        return result;
    if (out < destLen)
        dest[out] = 0;
    if (swap)
        swapBytes16(dest, dest, out);
    return result;
}

int32_t toUnicode(uint16_t* dest, size_t destLen, const char* src, size_t srcLen, size_t* length, UConverter* converter,
                  int swap) noexcept
{
    if (src == nullptr || converter == nullptr || (dest == nullptr && destLen > 0) || destLen > kMaxIcuLength ||
        srcLen > kMaxIcuLength)
        return kConvFailed;
    if (destLen >= 1)
        dest[destLen - 1] = 0;
    if (destLen > 1)
        dest[destLen - 2] = 0;
    UErrorCode status = U_ZERO_ERROR;
    int32_t cap = destLen > 0 ? static_cast<int32_t>(destLen - 1) : 0;
    int32_t n = ucnv_toUChars(converter, asUChar(dest), cap, src, static_cast<int32_t>(srcLen), &status);
    if (length != nullptr)
        *length = n < 0 ? 0 : static_cast<size_t>(n);
    int32_t result = icuErrorToResult(status);
    if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR && result != kConvReplaced)
        return result;
    size_t len = static_cast<size_t>(n);
    // The terminator was kept out of ICU's capacity: text that fills the rest
    // exactly still fits.
    if (len < destLen) {
        dest[len] = 0;
        result = result == kConvReplaced ? kConvReplaced : kConvDone;
    } else {
        result = kConvTruncated;
    }
    if (swap)
        swapBytes16(dest, dest, len < destLen ? len : destLen);
    return result;
}

// --- UTF-16 and UTF-8 -----------------------------------------------------------

namespace {

bool resolveLength(const uint16_t* src, int64_t srcLen, size_t* n)
{
    if (srcLen == kSourceTerminated || srcLen == -1) {
        *n = wcslen16(src);
    } else if (srcLen < 0) {
        return false;
    } else {
        *n = static_cast<size_t>(srcLen);
    }
    return *n <= kMaxIcuLength;
}

// u_strToUTF8 over the source piece by piece (swapped into a local buffer
// when asked). Returns ICU's status for the whole text and its full length.
UErrorCode toUtf8Whole(char* dest, size_t cap, const uint16_t* src, size_t n, bool swap, size_t* total)
{
    SourcePieces pieces{src, n, swap};
    size_t w = 0;
    size_t counted = 0;
    bool overflow = false;
    const UChar* piece;
    size_t pn;
    while (pieces.next(&piece, &pn)) {
        UErrorCode st = U_ZERO_ERROR;
        int32_t len = 0;
        if (!overflow) {
            u_strToUTF8(dest + w, static_cast<int32_t>(cap - w), &len, piece, static_cast<int32_t>(pn), &st);
            if (st == U_BUFFER_OVERFLOW_ERROR) {
                overflow = true;
                counted = w + static_cast<size_t>(len);
                continue;
            }
            if (U_FAILURE(st)) {
                *total = w;
                return st;
            }
            w += static_cast<size_t>(len);
        } else {
            u_strToUTF8(nullptr, 0, &len, piece, static_cast<int32_t>(pn), &st);
            if (U_FAILURE(st) && st != U_BUFFER_OVERFLOW_ERROR) {
                *total = counted;
                return st;
            }
            counted += static_cast<size_t>(len);
        }
    }
    *total = overflow ? counted : w;
    if (*total > cap)
        return U_BUFFER_OVERFLOW_ERROR;
    if (*total == cap)
        return U_STRING_NOT_TERMINATED_WARNING;
    return U_ZERO_ERROR;
}

}  // namespace

int32_t utf16ToUtf8(char* dest, size_t destLen, const uint16_t* src, int64_t srcLen, size_t* length, int swap) noexcept
{
    size_t n = 0;
    if (src == nullptr || (dest == nullptr && destLen > 0) || destLen > kMaxIcuLength ||
        !resolveLength(src, srcLen, &n))
        return kConvFailed;
    size_t total = 0;
    UErrorCode status = toUtf8Whole(dest, destLen, src, n, swap != 0, &total);
    if (length != nullptr)
        *length = total;
    if (status == U_STRING_NOT_TERMINATED_WARNING)
        return kConvTruncated;
    if (U_FAILURE(status))
        return icuErrorToResult(status);
    dest[total] = 0;
    return kConvDone;
}

int32_t utf16ToUtf8Bounded(char* dest, size_t destLen, const uint16_t* src, int64_t srcLen, size_t* length,
                           int swap) noexcept
{
    size_t n = 0;
    if (src == nullptr || (dest == nullptr && destLen > 0) || destLen > kMaxIcuLength ||
        !resolveLength(src, srcLen, &n))
        return kConvFailed;
    // Four bytes: the longest UTF-8 character.
    size_t cap = boundedCapacity(dest, destLen, 4);
    size_t total = 0;
    UErrorCode status = toUtf8Whole(dest, cap, src, n, swap != 0, &total);
    if (length != nullptr)
        *length = total;
    return boundedResult(dest, destLen, total, status);
}

int32_t utf8ToUtf16(uint16_t* dest, size_t destLen, const char* src, int64_t srcLen, size_t* length, int swap) noexcept
{
    if (src == nullptr || (dest == nullptr && destLen > 0) || destLen > kMaxIcuLength ||
        (srcLen < 0 && srcLen != kSourceTerminated && srcLen != -1) || srcLen > static_cast<int64_t>(kMaxIcuLength))
        return kConvFailed;
    int32_t n = srcLen < 0 ? -1 : static_cast<int32_t>(srcLen);
    int32_t len = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(asUChar(dest), static_cast<int32_t>(destLen), &len, src, n, &status);
    if (length != nullptr)
        *length = static_cast<size_t>(len);
    if (status == U_STRING_NOT_TERMINATED_WARNING)
        return kConvTruncated;
    if (U_FAILURE(status))
        return icuErrorToResult(status);
    dest[len] = 0;
    if (swap)
        swapBytes16(dest, dest, static_cast<size_t>(len));
    return kConvDone;
}

int32_t utf8ToUtf16Bounded(uint16_t* dest, size_t destLen, const char* src, int64_t srcLen, size_t* length,
                           int swap) noexcept
{
    if (src == nullptr || (dest == nullptr && destLen > 0) || destLen > kMaxIcuLength ||
        (srcLen < 0 && srcLen != kSourceTerminated && srcLen != -1) || srcLen > static_cast<int64_t>(kMaxIcuLength))
        return kConvFailed;
    if (destLen >= 1)
        dest[destLen - 1] = 0;
    if (destLen > 1)
        dest[destLen - 2] = 0;
    int32_t n = srcLen < 0 ? -1 : static_cast<int32_t>(srcLen);
    int32_t len = 0;
    UErrorCode status = U_ZERO_ERROR;
    int32_t cap = destLen > 0 ? static_cast<int32_t>(destLen - 1) : 0;
    u_strFromUTF8(asUChar(dest), cap, &len, src, n, &status);
    if (length != nullptr)
        *length = static_cast<size_t>(len);
    if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR)
        return icuErrorToResult(status);
    size_t ulen = static_cast<size_t>(len);
    int32_t result = kConvTruncated;
    if (ulen < destLen) {
        dest[ulen] = 0;
        result = kConvDone;
    }
    if (swap)
        swapBytes16(dest, dest, ulen < destLen ? ulen : destLen);
    return result;
}
