// Decimal text to and from integers.
#include "foundation/numtext.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include "foundation/dbcs.h"
#include "foundation/kaerror.h"
#include "foundation/kastring.h"
#include "foundation/kastringw.h"
#include "foundation/kathread.h"
#include "kamessages.h"

namespace {

enum ParseStatus { kParsed = 0, kOutOfRange = 1, kInvalid = 2 };

// --- Readers over UTF-16 and 8-bit text, terminated or counted ------------------

struct UnitsW {
    const uint16_t* text;
    size_t n;  // SIZE_MAX: terminated
    size_t i = 0;

    bool atEnd() const { return i >= n || text[i] == 0; }
    uint16_t cur() const { return text[i]; }
    void skipWhite()
    {
        while (!atEnd()) {
            UChar32 c = text[i];
            size_t step = 1;
            if (U16_IS_LEAD(c) && i + 1 < n && U16_IS_TRAIL(text[i + 1])) {
                c = U16_GET_SUPPLEMENTARY(c, text[i + 1]);
                step = 2;
            }
            if (!u_isWhitespace(c))
                return;
            i += step;
        }
    }
};

struct UnitsA {
    const char* text;
    size_t n;
    size_t i = 0;

    bool atEnd() const { return i >= n || text[i] == 0; }
    uint16_t cur() const { return static_cast<unsigned char>(text[i]); }
    void skipWhite()
    {
        while (!atEnd()) {
            if (static_cast<unsigned char>(text[i]) < 0x80) {
                char c = text[i];
                if (c != ' ' && (c < '\t' || c > '\r'))
                    return;
                ++i;
                continue;
            }
            if (!KaDbcsIsSpaceAt(text, i))
                return;
            size_t step = KaDbcsCharLen(text + i, KA_TEXT_LOCALE);
            i += step;
        }
    }
};

// Digits with the overflow test made before each step, then only white
// space. A text without digits is invalid.
template <typename Units>
ParseStatus parseDigits(Units& u, uint64_t max, uint64_t* out)
{
    if (u.atEnd() || u.cur() < '0' || u.cur() > '9')
        return kInvalid;
    uint64_t value = 0;
    while (!u.atEnd() && u.cur() >= '0' && u.cur() <= '9') {
        uint64_t digit = u.cur() - '0';
        if (value > max / 10 || (value == max / 10 && digit > max % 10))
            return kOutOfRange;
        value = value * 10 + digit;
        ++u.i;
    }
    u.skipWhite();
    if (!u.atEnd())
        return kInvalid;
    *out = value;
    return kParsed;
}

// [+] blanks digits blanks: the '+' only as the very first character.
template <typename Units>
ParseStatus parseUnsignedW(Units u, uint64_t max, uint64_t* out)
{
    if (!u.atEnd() && u.cur() == '+')
        ++u.i;
    u.skipWhite();
    return parseDigits(u, max, out);
}

// blanks [+] blanks digits blanks.
template <typename Units>
ParseStatus parseUnsignedA(Units u, uint64_t max, uint64_t* out)
{
    u.skipWhite();
    if (!u.atEnd() && u.cur() == '+') {
        ++u.i;
        u.skipWhite();
    }
    return parseDigits(u, max, out);
}

// blanks [-] and the unsigned form; the minimum is allowed with the '-'.
template <typename Units, typename Unsigned>
ParseStatus parseSigned(Units u, int64_t min, int64_t max, int64_t* out, Unsigned unsignedParse)
{
    u.skipWhite();
    bool negative = false;
    if (!u.atEnd() && u.cur() == '-') {
        negative = true;
        ++u.i;
        // One sign only: "--5" and "-+5" are not numbers.
        if (!u.atEnd() && (u.cur() == '-' || u.cur() == '+'))
            return kInvalid;
    }
    uint64_t limit = negative ? 0 - static_cast<uint64_t>(min) : static_cast<uint64_t>(max);
    uint64_t magnitude = 0;
    ParseStatus status = unsignedParse(u, limit, &magnitude);
    if (status != kParsed)
        return status;
    *out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return kParsed;
}

ParseStatus parseUnsigned(UnitsW u, uint64_t max, uint64_t* out)
{
    return parseUnsignedW(u, max, out);
}

ParseStatus parseUnsigned(UnitsA u, uint64_t max, uint64_t* out)
{
    return parseUnsignedA(u, max, out);
}

// --- Diagnostics: the text as given, terminated or counted -------------------

void addText(KaError* record, const UnitsW& u, bool counted)
{
    if (counted) {
        KaSubStringW view(u.text, u.n);
        record->addParamSubStringW(view);
    } else {
        static const uint16_t empty[1] = {0};
        record->addParamW(u.text != nullptr ? u.text : empty);
    }
}

void addText(KaError* record, const UnitsA& u, bool counted)
{
    if (counted) {
        KaSubString view(u.text, u.n);
        record->addParamSubString(view);
    } else {
        record->addParamText(u.text != nullptr ? u.text : "");
    }
}

template <typename Units, typename T>
int finish(ParseStatus status, const Units& u, bool counted, uint64_t value, T* out)
{
    if (status != kParsed) {
        addText(errPost(status == kOutOfRange ? MSG_NUMBER_OUT_OF_RANGE : MSG_NUMBER_INVALID_CHARACTER), u, counted);
        return 1;
    }
    if (out != nullptr)
        *out = static_cast<T>(value);
    return 0;
}

// text of n units (SIZE_MAX: terminated) into *out, or 1 after the diagnostic.
template <typename Units, typename Unit, typename T>
int unsignedText(const Unit* text, size_t n, bool counted, uint64_t max, T* out)
{
    Units u{text, n};
    uint64_t value = 0;
    ParseStatus status = text == nullptr ? kInvalid : parseUnsigned(u, max, &value);
    return finish(status, u, counted, value, out);
}

template <typename Units, typename Unit, typename T>
int signedText(const Unit* text, size_t n, bool counted, int64_t min, int64_t max, T* out)
{
    Units u{text, n};
    int64_t value = 0;
    ParseStatus status = kInvalid;
    if (text != nullptr) {
        status = parseSigned(u, min, max, &value,
                             [](Units v, uint64_t limit, uint64_t* m) { return parseUnsigned(v, limit, m); });
    }
    return finish(status, u, counted, static_cast<uint64_t>(value), out);
}

constexpr size_t kTerminated = SIZE_MAX;

}  // namespace

// --- UTF-16 parsers ------------------------------------------------------------

int textWToU64(const uint16_t* text, uint64_t* out) noexcept
{
    return unsignedText<UnitsW>(text, kTerminated, false, UINT64_MAX, out);
}

int textWToU64N(const uint16_t* text, size_t n, uint64_t* out) noexcept
{
    return unsignedText<UnitsW>(text, n, true, UINT64_MAX, out);
}

int textWToI64(const uint16_t* text, int64_t* out) noexcept
{
    return signedText<UnitsW>(text, kTerminated, false, INT64_MIN, INT64_MAX, out);
}

int textWToI64N(const uint16_t* text, size_t n, int64_t* out) noexcept
{
    return signedText<UnitsW>(text, n, true, INT64_MIN, INT64_MAX, out);
}

int textWToU32(const uint16_t* text, uint32_t* out) noexcept
{
    return unsignedText<UnitsW>(text, kTerminated, false, UINT32_MAX, out);
}

int textWToU32N(const uint16_t* text, size_t n, uint32_t* out) noexcept
{
    return unsignedText<UnitsW>(text, n, true, UINT32_MAX, out);
}

int textWToI32(const uint16_t* text, int32_t* out) noexcept
{
    return signedText<UnitsW>(text, kTerminated, false, INT32_MIN, INT32_MAX, out);
}

int textWToI32N(const uint16_t* text, size_t n, int32_t* out) noexcept
{
    return signedText<UnitsW>(text, n, true, INT32_MIN, INT32_MAX, out);
}

int textWToU16(const uint16_t* text, uint16_t* out) noexcept
{
    return unsignedText<UnitsW>(text, kTerminated, false, UINT16_MAX, out);
}

int textWToU16N(const uint16_t* text, size_t n, uint16_t* out) noexcept
{
    return unsignedText<UnitsW>(text, n, true, UINT16_MAX, out);
}

// --- 8-bit parsers ----------------------------------------------------------------

int textToU64(const char* text, uint64_t* out) noexcept
{
    return unsignedText<UnitsA>(text, kTerminated, false, UINT64_MAX, out);
}

int textToI64(const char* text, int64_t* out) noexcept
{
    return signedText<UnitsA>(text, kTerminated, false, INT64_MIN, INT64_MAX, out);
}

int textToI32(const char* text, int32_t* out) noexcept
{
    return signedText<UnitsA>(text, kTerminated, false, INT32_MIN, INT32_MAX, out);
}

int textToU32(const char* text, uint32_t* out) noexcept
{
    return unsignedText<UnitsA>(text, kTerminated, false, UINT32_MAX, out);
}

int textToU16(const char* text, uint16_t* out) noexcept
{
    return unsignedText<UnitsA>(text, kTerminated, false, UINT16_MAX, out);
}

int textToI16(const char* text, int16_t* out) noexcept
{
    return signedText<UnitsA>(text, kTerminated, false, INT16_MIN, INT16_MAX, out);
}

int textToU8(const char* text, uint8_t* out) noexcept
{
    return unsignedText<UnitsA>(text, kTerminated, false, UINT8_MAX, out);
}

int textToI8(const char* text, int8_t* out) noexcept
{
    return signedText<UnitsA>(text, kTerminated, false, INT8_MIN, INT8_MAX, out);
}

int textToU64N(const char* text, size_t n, uint64_t* out) noexcept
{
    return unsignedText<UnitsA>(text, n, true, UINT64_MAX, out);
}

int textToI64N(const char* text, size_t n, int64_t* out) noexcept
{
    return signedText<UnitsA>(text, n, true, INT64_MIN, INT64_MAX, out);
}

int textToU32N(const char* text, size_t n, uint32_t* out) noexcept
{
    return unsignedText<UnitsA>(text, n, true, UINT32_MAX, out);
}

int textToI32N(const char* text, size_t n, int32_t* out) noexcept
{
    return signedText<UnitsA>(text, n, true, INT32_MIN, INT32_MAX, out);
}

int textToU16N(const char* text, size_t n, uint16_t* out) noexcept
{
    return unsignedText<UnitsA>(text, n, true, UINT16_MAX, out);
}

int textToI16N(const char* text, size_t n, int16_t* out) noexcept
{
    return signedText<UnitsA>(text, n, true, INT16_MIN, INT16_MAX, out);
}

// --- Writers ------------------------------------------------------------------------

namespace {

size_t digitCount(uint64_t v)
{
    size_t n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

template <typename Unit, typename Encode>
size_t writeUnsigned(Unit* dest, size_t capacity, uint64_t value, Encode encode)
{
    size_t n = digitCount(value);
    if (dest == nullptr || capacity < n)
        return 0;
    for (size_t i = n; i > 0; --i) {
        dest[i - 1] = encode(static_cast<unsigned>('0' + value % 10));
        value /= 10;
    }
    return n;
}

template <typename Unit, typename Encode>
size_t writeSigned(Unit* dest, size_t capacity, int64_t value, Encode encode)
{
    if (value >= 0)
        return writeUnsigned(dest, capacity, static_cast<uint64_t>(value), encode);
    if (dest == nullptr || capacity < 2)
        return 0;
    uint64_t magnitude = 0 - static_cast<uint64_t>(value);
    size_t n = writeUnsigned(dest + 1, capacity - 1, magnitude, encode);
    if (n == 0)
        return 0;
    dest[0] = encode('-');
    return n + 1;
}

char plain8(unsigned c)
{
    return static_cast<char>(c);
}
uint16_t plain16(unsigned c)
{
    return static_cast<uint16_t>(c);
}
uint16_t swapped16(unsigned c)
{
    return static_cast<uint16_t>(c << 8);
}
uint32_t plain32(unsigned c)
{
    return c;
}

template <typename Unit>
size_t terminate(Unit* dest, size_t n)
{
    if (dest != nullptr)
        dest[n] = 0;
    return n;
}

}  // namespace

size_t u64ToTextN(char* dest, size_t capacity, uint64_t value) noexcept
{
    return writeUnsigned(dest, capacity, value, plain8);
}
size_t i64ToTextN(char* dest, size_t capacity, int64_t value) noexcept
{
    return writeSigned(dest, capacity, value, plain8);
}
size_t u32ToTextN(char* dest, size_t capacity, uint32_t value) noexcept
{
    return writeUnsigned(dest, capacity, value, plain8);
}
size_t i32ToTextN(char* dest, size_t capacity, int32_t value) noexcept
{
    return writeSigned(dest, capacity, value, plain8);
}
size_t u64ToTextWN(uint16_t* dest, size_t capacity, uint64_t value) noexcept
{
    return writeUnsigned(dest, capacity, value, plain16);
}
size_t i64ToTextWN(uint16_t* dest, size_t capacity, int64_t value) noexcept
{
    return writeSigned(dest, capacity, value, plain16);
}
size_t u32ToTextWN(uint16_t* dest, size_t capacity, uint32_t value) noexcept
{
    return writeUnsigned(dest, capacity, value, plain16);
}
size_t i32ToTextWN(uint16_t* dest, size_t capacity, int32_t value) noexcept
{
    return writeSigned(dest, capacity, value, plain16);
}
size_t u64ToTextU32N(uint32_t* dest, size_t capacity, uint64_t value) noexcept
{
    return writeUnsigned(dest, capacity, value, plain32);
}
size_t i64ToTextU32N(uint32_t* dest, size_t capacity, int64_t value) noexcept
{
    return writeSigned(dest, capacity, value, plain32);
}
size_t u32ToTextU32N(uint32_t* dest, size_t capacity, uint32_t value) noexcept
{
    return writeUnsigned(dest, capacity, value, plain32);
}
size_t u64ToTextWSwapN(uint16_t* dest, size_t capacity, uint64_t value) noexcept
{
    return writeUnsigned(dest, capacity, value, swapped16);
}
size_t i64ToTextWSwapN(uint16_t* dest, size_t capacity, int64_t value) noexcept
{
    return writeSigned(dest, capacity, value, swapped16);
}
size_t u32ToTextWSwapN(uint16_t* dest, size_t capacity, uint32_t value) noexcept
{
    return writeUnsigned(dest, capacity, value, swapped16);
}
size_t i32ToTextWSwapN(uint16_t* dest, size_t capacity, int32_t value) noexcept
{
    return writeSigned(dest, capacity, value, swapped16);
}

size_t u64ToText(char* dest, uint64_t value) noexcept
{
    return terminate(dest, u64ToTextN(dest, kNumTextCapacity, value));
}
size_t i64ToText(char* dest, int64_t value) noexcept
{
    return terminate(dest, i64ToTextN(dest, kNumTextCapacity, value));
}
size_t u64ToTextW(uint16_t* dest, uint64_t value) noexcept
{
    return terminate(dest, u64ToTextWN(dest, kNumTextCapacity, value));
}
size_t i64ToTextW(uint16_t* dest, int64_t value) noexcept
{
    return terminate(dest, i64ToTextWN(dest, kNumTextCapacity, value));
}
size_t u32ToTextW(uint16_t* dest, uint32_t value) noexcept
{
    return terminate(dest, u32ToTextWN(dest, kNumTextCapacity, value));
}
size_t i32ToTextW(uint16_t* dest, int32_t value) noexcept
{
    return terminate(dest, i32ToTextWN(dest, kNumTextCapacity, value));
}
size_t u32ToTextU32(uint32_t* dest, uint32_t value) noexcept
{
    return terminate(dest, u32ToTextU32N(dest, kNumTextCapacity, value));
}

// --- Fixed-width fields -----------------------------------------------------------

namespace {

// At most this many digit positions in a fixed field.
constexpr size_t kFixedDigits = 10;

// Writes value into field[0..positions) right- or left-aligned; the field is
// blank already. Returns the digits written, 0 with '*' everywhere when the
// value does not fit.
size_t writeFixedDigits(char* field, size_t positions, uint64_t value, bool left)
{
    size_t digits = digitCount(value);
    if (digits > positions) {
        for (size_t i = 0; i < positions; ++i)
            field[i] = '*';
        return 0;
    }
    char* start = left ? field : field + (positions - digits);
    u64ToTextN(start, digits, value);
    return digits;
}

}  // namespace

size_t u64ToFixedText(char* dest, size_t width, uint64_t value, int left) noexcept
{
    if (dest == nullptr)
        return 0;
    for (size_t i = 0; i < width; ++i)
        dest[i] = ' ';
    dest[width] = 0;
    size_t positions = width < kFixedDigits ? width : kFixedDigits;
    char* field = left ? dest : dest + (width - positions);
    return writeFixedDigits(field, positions, value, left != 0);
}

size_t i64ToFixedText(char* dest, size_t width, int64_t value, int left) noexcept
{
    if (value >= 0)
        return u64ToFixedText(dest, width, static_cast<uint64_t>(value), left);
    if (dest == nullptr)
        return 0;
    for (size_t i = 0; i < width; ++i)
        dest[i] = ' ';
    dest[width] = 0;
    if (width < 2) {
        for (size_t i = 0; i < width; ++i)
            dest[i] = '*';
        return 0;
    }
    uint64_t magnitude = 0 - static_cast<uint64_t>(value);
    // The magnitude takes the last width - 1 positions.
    char* area = dest + 1;
    size_t areaWidth = width - 1;
    size_t positions = areaWidth < kFixedDigits ? areaWidth : kFixedDigits;
    char* field = left ? area : area + (areaWidth - positions);
    size_t digits = writeFixedDigits(field, positions, magnitude, left != 0);
    if (digits == 0)
        return 0;
    if (left)
        dest[0] = '-';
    else
        field[positions - digits - 1] = '-';
    return digits;
}
