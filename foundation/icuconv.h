// Text conversion through ICU converters that the caller has opened: code
// page to code page through a UTF-16 pivot, character by character with the
// full length measured, UTF-16 to and from a code page, UTF-16 to and from
// UTF-8. Each routine reports a conversion result and posts nothing; the
// converter caches map results to diagnostics.
#pragma once
#include <cstddef>
#include <cstdint>
#include <unicode/ucnv.h>

// Conversion results.
constexpr int32_t kConvDone = 0;
constexpr int32_t kConvTruncated = 1;  // output too small, or no room for its terminator
constexpr int32_t kConvReplaced = 2;   // a character was substituted
constexpr int32_t kConvFailed = 4;     // bad argument or any other ICU failure
constexpr int32_t kConvBadTable = 5;   // the converter's table is invalid
constexpr int32_t kConvNoData = 6;     // the converter's data file is missing

// UTF-16 units of the stack pivot of the code-page-to-code-page routines.
constexpr size_t kPivotUnits = 2000;
// Bytes of the scratch target used to measure what no longer fits.
constexpr size_t kMeasureScratch = 8;
// srcLen of utf16ToUtf8 and utf8ToUtf16 for a terminated source.
constexpr int64_t kSourceTerminated = -3;

// Byte counts for 8-bit text, unit counts for UTF-16 text; written, consumed
// and length are optional. Lengths above INT32_MAX give kConvFailed.
//
// The ASCII fast path copies bytes below 0x80 unchanged only when both
// converters map ASCII to itself; any other pair goes through the pivot.
[[nodiscard]] int32_t convertCodePageViaUnicode(char* dest, size_t destLen, const char* src, size_t srcLen,
                                                size_t* written, size_t* consumed, UConverter* source,
                                                UConverter* target) noexcept;
[[nodiscard]] int32_t convertCodePages(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* written,
                                       size_t* consumed, UConverter* source, UConverter* target) noexcept;
// The same, and the pivot is wiped before returning.
[[nodiscard]] int32_t convertCodePagesCounted(char* dest, size_t destLen, const char* src, size_t srcLen,
                                              size_t* written, size_t* consumed, UConverter* source,
                                              UConverter* target) noexcept;
[[nodiscard]] int32_t convertToCodePageCounted(char* dest, size_t destLen, const char* src, size_t srcLen,
                                               size_t* written, size_t* consumed, UConverter* target,
                                               UConverter* source) noexcept;
// Character-wise: only whole characters are written, then a terminator;
// *length gets the full length the text needs.
[[nodiscard]] int32_t convertCodePageChars(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* length,
                                           UConverter* source, UConverter* target) noexcept;
[[nodiscard]] int32_t convertCodePagesChars(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* length,
                                            UConverter* source, UConverter* target) noexcept;
[[nodiscard]] int32_t convertToCodePageChars(char* dest, size_t destLen, const char* src, size_t srcLen, size_t* length,
                                             UConverter* target, UConverter* source) noexcept;

// swap: the UTF-16 side is in the other byte order. The caller's source is
// never changed.
[[nodiscard]] int32_t fromUnicodeCounted(char* dest, size_t destLen, const uint16_t* src, size_t srcLen,
                                         size_t* written, size_t* consumed, UConverter* converter, int swap) noexcept;
[[nodiscard]] int32_t fromUnicode(char* dest, size_t destLen, const uint16_t* src, size_t srcLen, size_t* length,
                                  UConverter* converter, int swap) noexcept;
[[nodiscard]] int32_t toUnicodeCounted(uint16_t* dest, size_t destLen, const char* src, size_t srcLen, size_t* written,
                                       size_t* consumed, UConverter* converter, int swap) noexcept;
[[nodiscard]] int32_t toUnicode(uint16_t* dest, size_t destLen, const char* src, size_t srcLen, size_t* length,
                                UConverter* converter, int swap) noexcept;
// srcLen may be kSourceTerminated.
[[nodiscard]] int32_t utf16ToUtf8(char* dest, size_t destLen, const uint16_t* src, int64_t srcLen, size_t* length,
                                  int swap) noexcept;
[[nodiscard]] int32_t utf16ToUtf8Bounded(char* dest, size_t destLen, const uint16_t* src, int64_t srcLen,
                                         size_t* length, int swap) noexcept;
[[nodiscard]] int32_t utf8ToUtf16(uint16_t* dest, size_t destLen, const char* src, int64_t srcLen, size_t* length,
                                  int swap) noexcept;
[[nodiscard]] int32_t utf8ToUtf16Bounded(uint16_t* dest, size_t destLen, const char* src, int64_t srcLen,
                                         size_t* length, int swap) noexcept;

// source and destination may be the same.
void swapBytes16(const uint16_t* source, uint16_t* destination, size_t units) noexcept;
[[nodiscard]] int32_t icuErrorToResult(UErrorCode status) noexcept;
// Maximum bytes per character of the code page's converter; 0 when it
// cannot be opened.
int32_t maxCharSizeOf(int64_t codePage) noexcept;
// 1 when bytes 0x00-0x7F and U+0000-U+007F map to each other one for one.
int isAsciiTransparent(UConverter* converter) noexcept;

size_t wcslen16(const uint16_t* text) noexcept;
