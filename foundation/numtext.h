// Decimal text to and from integers, for 8-bit, UTF-16, UTF-32 and
// byte-swapped UTF-16 text. The parsers post MSG_NUMBER_OUT_OF_RANGE or
// MSG_NUMBER_INVALID_CHARACTER with the text and return 1, leaving the output
// alone; the writers never post. Used by option reading, tracing, messages and value
// conversion.
#pragma once
#include <cstddef>
#include <cstdint>

// Capacity the terminated writers assume; their destination holds this many
// characters plus a terminator.
constexpr size_t kNumTextCapacity = 32;
// A buffer that holds any 64-bit integer as decimal text, with its sign and
// terminator.
constexpr size_t kDecimalTextSize = 24;

// UTF-16 text, NUL-terminated or counted (n units).
[[nodiscard]] int textWToU64(const uint16_t* text, uint64_t* out) noexcept;
[[nodiscard]] int textWToU64N(const uint16_t* text, size_t n, uint64_t* out) noexcept;
[[nodiscard]] int textWToI64(const uint16_t* text, int64_t* out) noexcept;
[[nodiscard]] int textWToI64N(const uint16_t* text, size_t n, int64_t* out) noexcept;
[[nodiscard]] int textWToU32(const uint16_t* text, uint32_t* out) noexcept;
[[nodiscard]] int textWToU32N(const uint16_t* text, size_t n, uint32_t* out) noexcept;
[[nodiscard]] int textWToI32(const uint16_t* text, int32_t* out) noexcept;
[[nodiscard]] int textWToI32N(const uint16_t* text, size_t n, int32_t* out) noexcept;
[[nodiscard]] int textWToU16(const uint16_t* text, uint16_t* out) noexcept;
[[nodiscard]] int textWToU16N(const uint16_t* text, size_t n, uint16_t* out) noexcept;

// 8-bit text in the locale's encoding, NUL-terminated.
[[nodiscard]] int textToU64(const char* text, uint64_t* out) noexcept;
[[nodiscard]] int textToI64(const char* text, int64_t* out) noexcept;
[[nodiscard]] int textToI32(const char* text, int32_t* out) noexcept;
[[nodiscard]] int textToU32(const char* text, uint32_t* out) noexcept;  // out may be null
[[nodiscard]] int textToU16(const char* text, uint16_t* out) noexcept;
[[nodiscard]] int textToI16(const char* text, int16_t* out) noexcept;
[[nodiscard]] int textToU8(const char* text, uint8_t* out) noexcept;
[[nodiscard]] int textToI8(const char* text, int8_t* out) noexcept;

// 8-bit text, counted (n bytes).
[[nodiscard]] int textToU64N(const char* text, size_t n, uint64_t* out) noexcept;
[[nodiscard]] int textToI64N(const char* text, size_t n, int64_t* out) noexcept;
[[nodiscard]] int textToU32N(const char* text, size_t n, uint32_t* out) noexcept;
[[nodiscard]] int textToI32N(const char* text, size_t n, int32_t* out) noexcept;
[[nodiscard]] int textToU16N(const char* text, size_t n, uint16_t* out) noexcept;
[[nodiscard]] int textToI16N(const char* text, size_t n, int16_t* out) noexcept;

// Writers with a capacity in characters: the digits (and a leading '-') are
// written without a terminator; the result is their count, 0 when they do
// not fit.
size_t u64ToTextN(char* dest, size_t capacity, uint64_t value) noexcept;
size_t i64ToTextN(char* dest, size_t capacity, int64_t value) noexcept;
size_t u32ToTextN(char* dest, size_t capacity, uint32_t value) noexcept;
size_t i32ToTextN(char* dest, size_t capacity, int32_t value) noexcept;
size_t u64ToTextWN(uint16_t* dest, size_t capacity, uint64_t value) noexcept;
size_t i64ToTextWN(uint16_t* dest, size_t capacity, int64_t value) noexcept;
size_t u32ToTextWN(uint16_t* dest, size_t capacity, uint32_t value) noexcept;
size_t i32ToTextWN(uint16_t* dest, size_t capacity, int32_t value) noexcept;
size_t u64ToTextU32N(uint32_t* dest, size_t capacity, uint64_t value) noexcept;
size_t i64ToTextU32N(uint32_t* dest, size_t capacity, int64_t value) noexcept;
size_t u32ToTextU32N(uint32_t* dest, size_t capacity, uint32_t value) noexcept;
// UTF-16 in the other byte order: each character is stored byte-swapped.
size_t u64ToTextWSwapN(uint16_t* dest, size_t capacity, uint64_t value) noexcept;
size_t i64ToTextWSwapN(uint16_t* dest, size_t capacity, int64_t value) noexcept;
size_t u32ToTextWSwapN(uint16_t* dest, size_t capacity, uint32_t value) noexcept;
size_t i32ToTextWSwapN(uint16_t* dest, size_t capacity, int32_t value) noexcept;

// Terminated writers: the destination holds kNumTextCapacity + 1 characters.
size_t u64ToText(char* dest, uint64_t value) noexcept;
size_t i64ToText(char* dest, int64_t value) noexcept;
size_t u64ToTextW(uint16_t* dest, uint64_t value) noexcept;
size_t i64ToTextW(uint16_t* dest, int64_t value) noexcept;
size_t u32ToTextW(uint16_t* dest, uint32_t value) noexcept;
size_t i32ToTextW(uint16_t* dest, int32_t value) noexcept;
size_t u32ToTextU32(uint32_t* dest, uint32_t value) noexcept;

// Blank-filled field of width bytes plus a NUL (the destination holds
// width + 1 bytes), right-aligned unless left is set; at most 10 digits.
// Returns the digits written; a value too large fills the rest with '*'
// and gives 0.
size_t u64ToFixedText(char* dest, size_t width, uint64_t value, int left) noexcept;
size_t i64ToFixedText(char* dest, size_t width, int64_t value, int left) noexcept;
