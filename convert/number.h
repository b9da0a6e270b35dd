// The number engine: every numeric conversion of the conversion engine, text
// to and from numbers of every width, the engine's decimal form, doubles with
// 15 and reals with 7 significant digits, and the magnitude of the ODBC
// numeric structure. Used by the SQL-to-C and C-to-SQL conversions and by the
// date and time conversions for dates given as numbers.
#pragma once
#include <cstdint>

struct BaseConvertContext;

// Value kinds with which every value handed to the conversion engine is tagged.
enum BaseValueKind : int32_t {
    kBaseKindBinary = 0,
    kBaseKindText = 1,
    kBaseKindBit = 2,
    kBaseKindTinyInt = 3,
    kBaseKindUTinyInt = 4,
    kBaseKindSmallInt = 5,
    kBaseKindUSmallInt = 6,
    kBaseKindInteger = 7,
    kBaseKindUInteger = 8,
    kBaseKindBigInt = 9,
    kBaseKindUBigInt = 10,
    kBaseKindPacked = 11,
    kBaseKindDecimal = 12,
    kBaseKindReal = 13,
    kBaseKindDouble = 14,
    kBaseKindDate = 15,
    kBaseKindTime = 16,
    kBaseKindTimestamp = 17,
    kBaseKindGuid = 20,
    kBaseKindTimeFraction = 25,
};

// Flags word: who converts.
constexpr uint32_t kBaseFlagOdbc2 = 0x1;
constexpr uint32_t kBaseFlagOdbc3 = 0x2;
constexpr uint32_t kBaseFlagFetch = 0x4;
constexpr uint32_t kBaseFlagParam = 0x8;

// Truncation policy of a conversion.
constexpr int32_t kBaseTruncSilent = 0;  // report the full length of cut text
constexpr int32_t kBaseTruncWarn = 1;    // 01S07 when digits were dropped
constexpr int32_t kBaseTruncStrict = 2;  // as 1, an error for ODBC 3 parameters

// Digits the decimal form holds at most.
constexpr int32_t kBaseMaxDigits = 1000;
// Characters of narrowed text the parser looks at.
constexpr int32_t kBaseMaxNumberText = 1024;

// Kind 12 as stored: the value is 0.d1d2...dn x 10^exponent.
struct BaseDecimal {
    int16_t exponent;
    uint16_t digitCount;
    uint16_t negative;
    uint16_t keepAllDigits;
    char digits[kBaseMaxDigits];
};
static_assert(sizeof(BaseDecimal) == 1008, "kind 12 is 1008 bytes at most");
constexpr int32_t kBaseDecimalHeader = 8;

// The engine's working decimal form (wider exponent than the stored form, and
// the mark of text read in exponent form).
struct BaseNumber {
    int32_t exponent;
    int32_t digitCount;
    bool negative;
    bool keepAllDigits;
    bool fromExponentForm;
    char digits[kBaseMaxDigits + 4];
};

// ODBC numeric structure (SQL_NUMERIC_STRUCT).
constexpr int32_t kBaseNumericMagnitude = 16;
struct BaseNumeric {
    uint8_t precision;
    int8_t scale;
    uint8_t sign;  // 1 positive, 0 negative
    uint8_t val[kBaseNumericMagnitude];
};
static_assert(sizeof(BaseNumeric) == 19, "SQL_NUMERIC_STRUCT is 19 bytes");

// Characters of the decimal text of a 128-bit magnitude, with the NUL.
constexpr int32_t kBaseU128TextSize = 41;

// Convert one value between kinds. Returns 0, or 1 after posting the error.
// maxLength is the byte room of a text target and the precision of packed and
// decimal targets; *produced is set only on success. ctx gives the settings
// and the converters (null: the defaults).
[[nodiscard]] int16_t baseConvertNumeric(const BaseConvertContext* ctx, int32_t srcKind, int64_t srcCodePage,
                                         const void* src, int64_t srcLength, int32_t dstKind, int64_t dstCodePage,
                                         void* dst, int64_t* produced, int64_t maxLength, int16_t scale,
                                         int32_t truncation, uint32_t flags) noexcept;

// Write a double (kind 14) or real (kind 13) as shortest text with 15 or 7
// significant digits. When the text does not fit, *success is 0 and `form`
// holds the value for the caller to cut.
void baseFormatDouble(int32_t kind, void* dst, int64_t maxLength, int64_t* produced, int64_t dstCodePage,
                      BaseNumber* form, double value, int32_t* success) noexcept;

// Row `index` (biased binary exponent + 57) of the double formatter's tables:
// the power of ten M and the multiplier T = 10^M x 2^(index - 1068), rounded.
void baseDoubleTableEntry(int32_t index, int16_t* m, uint64_t* t) noexcept;

int32_t baseNumericValToText(const uint8_t magnitude[kBaseNumericMagnitude], char* text) noexcept;
int32_t baseU128ToText(const uint8_t* magnitude, int32_t byteCount, char* text) noexcept;
[[nodiscard]] int16_t baseDigitsToNumericVal(const char* digits, int32_t count,
                                             uint8_t target[kBaseNumericMagnitude]) noexcept;
uint32_t baseDigitsToU32(const char* digits, int32_t count) noexcept;
uint64_t baseDigitsToU64(const char* digits, int32_t count) noexcept;
int32_t baseParseExponent(const char* text, int32_t length, int16_t* value) noexcept;

// Parse text (already narrowed) into the decimal form; 0, or 1 after error 22018.
[[nodiscard]] int16_t baseParseNumberText(const char* text, int64_t length, BaseNumber* out) noexcept;
