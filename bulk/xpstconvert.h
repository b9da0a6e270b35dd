// Value formatting of the XML record-set writer: one column value, held in
// the C type that the result-set persistence reads it in, becomes the text
// of its XML element. Used by XPstTrelliwavePersist::writeValue.
#pragma once
#include <cstddef>
#include <cstdint>

#include "bulk/xpstcolumn.h"

// Enough for the longest formatted number, date, time, boolean or timestamp
// (one with out-of-range fields included).
constexpr size_t XPST_SCRATCH_SIZE = 40;
// Room xpstFormatDouble may use.
constexpr size_t XPST_DOUBLE_TEXT_SIZE = 24;

// Scratch space of one formatting call; the text of a number lies in it
// until the next value is formatted, so each caller keeps its own.
struct XPstScratch {
    char text[XPST_SCRATCH_SIZE];
};

// 1 success / 0 failure (diagnostic posted). *owned = 1 when *text is a
// block of its own that the caller frees with ramFree after writing it;
// otherwise it lies in bytes or in scratch.
[[nodiscard]] int xpstFormatValue(const XPstColumn& column, const uint8_t* bytes, int64_t length, XPstScratch* scratch,
                                  const char** text, size_t* textLength, int* owned) noexcept;
// Entity-escapes the bytes and appends padding blanks. Also refuses a
// character that XML 1.0 cannot carry (posting with the column's name) and
// writes a carriage return as a character reference, so that it survives a
// parser's line-end normalisation.
[[nodiscard]] int xpstEscapeText(const uint8_t* bytes, size_t length, size_t padding, const uint16_t* columnName,
                                 const char** text, size_t* textLength, int* owned) noexcept;
// Number of bytes that need an entity or a character reference.
size_t xpstCountEscapes(const uint8_t* bytes, size_t length) noexcept;
// Number of UTF-8 characters in the bytes (continuation bytes not counted).
size_t xpstCountCharacters(const uint8_t* bytes, size_t length) noexcept;
// Writes at most XPST_DOUBLE_TEXT_SIZE characters, no terminator; returns
// the count. NaN and the infinities take the XML Schema spellings.
size_t xpstFormatDouble(char* destination, int isFloat, double value) noexcept;
