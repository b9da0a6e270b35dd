// Comparison helpers (the compare family): text ordered by locale collation,
// by code point, blank-padded or by bytes. The sort engine orders its text
// keys with compareCollateCounted. Every result is -1, 0 or 1.
#pragma once
#include <cstddef>
#include <cstdint>

// Byte order; a longer text equals its prefix when the rest is only blanks.
int compareBlankPadded(const char* a, const char* b) noexcept;
int compareCollate(const char* a, const char* b) noexcept;
int compareCollateRaw(const char* a, const char* b) noexcept;
// Collation of counted texts; they are copied to terminated buffers first.
int compareCollateCounted(const char* a, size_t alen, const char* b, size_t blen) noexcept;
int compareCollateCountedHeap(const char* a, size_t alen, const char* b, size_t blen) noexcept;
int compareN(const char* a, const char* b, size_t n) noexcept;
int compareBytes(const void* a, const void* b, size_t n) noexcept;
// Orders two 8-byte little-endian sign-and-magnitude values (IEEE double
// layout) given by address.
int compareDoubleBits(const void* a, const void* b) noexcept;
int compareCodePointOrderW(const uint16_t* a, const uint16_t* b) noexcept;

// Turns the calling thread's most recent diagnostic into an invalid
// character value for a cast ("22018").
void errMarkInvalidCast() noexcept;
