// Size helpers per SQL type that the result description and the catalog
// functions share when they describe columns.
#pragma once
#include <cstdint>

// The answer of a type that has no decimal digits or no radix.
constexpr int16_t kBaseNoDigits = 32767;

// SQL_DESC_OCTET_LENGTH of a column of `type` with the column size and
// decimal digits given; `fallback` for the types without a fixed size (and,
// when not 0, for the numeric types).
int64_t baseOctetLengthForType(int16_t type, int64_t size, int16_t digits, int64_t fallback) noexcept;
// DECIMAL_DIGITS of a type with the scale given; kBaseNoDigits when the type
// has none.
int16_t baseDecimalDigits(int16_t type, int16_t scale) noexcept;
// NUM_PREC_RADIX of a type (bits: approximate types count in bits);
// kBaseNoDigits when the type has none, `fallback` for the others.
int16_t baseNumPrecRadix(int16_t type, int16_t fallback, bool bits) noexcept;
// The bytes a value of a fixed-size C type takes (its stride in a bound
// array); 0 for the C types whose size the buffer length gives.
int64_t baseFixedCTypeSize(int16_t cType) noexcept;
