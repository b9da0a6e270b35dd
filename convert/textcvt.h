// Conversion of text values between code pages (IANA numbers) into caller
// buffers, with the converters borrowed from a KaIcuCache, and the allocating
// wrappers that the connection and its statements use for whole strings.
#pragma once
#include <sql.h>

#include <cstddef>
#include <cstdint>

#include "foundation/codepage.h"
#include "foundation/icucache.h"

// Work areas of the converters (stack chunks).
constexpr size_t kTextCvtUnitChunk = 500;   // UTF-16 units decoded at a time
constexpr size_t kTextCvtSwapChunk = 1000;  // bytes of UTF-16BE swapped at a time
constexpr size_t kTextCvtCountChunk = 256;  // scratch bytes for counting a full length

// Converts src (srcLen bytes) from srcCp into dst (dstSize bytes) with a
// terminator of the target's width. *truncated is set when the text was cut;
// *produced (optional) receives the bytes written, or with fullLength the
// bytes the whole text needs. 0 success, 1 failure (posted).
[[nodiscard]] int32_t baseConvertTextToBuffer(int64_t srcCp, const void* src, int64_t srcLen, int64_t dstCp, void* dst,
                                              int64_t dstSize, int32_t fullLength, int64_t* produced,
                                              int32_t* truncated, KaIcuCache* cache) noexcept;

// Converts without a terminator; *produced receives the bytes written. With
// blankTail, a cut-off part made only of blanks is not a truncation.
[[nodiscard]] int32_t baseConvertText(int64_t srcCp, const void* src, int64_t srcLen, int64_t dstCp, void* dst,
                                      int64_t dstSize, int64_t* produced, int32_t* truncated, KaIcuCache* cache,
                                      int32_t blankTail) noexcept;

// Values of a connection's driver text mode; any other means the
// application code page.
constexpr uint32_t kBaseDriverTextUtf16 = 2;
constexpr uint32_t kBaseDriverTextUtf8 = 3;

// What the allocating wrappers need of a connection: its converter cache and
// its text settings (connection attribute 1062 and the application code page).
struct BaseTextContext {
    KaIcuCache* cache;
    uint32_t driverTextMode;  // kBaseDriverText*, else the application code page
    int64_t appCodePage;
    int64_t bytesPerChar;     // of the application code page (default 4)
    int64_t narrowTermWidth;  // terminator bytes in it (default 1)
};

// New buffer (ramAlloc, caller frees with ramFree) holding the UTF-16LE text
// converted into targetCp and termLen zero bytes; *produced excludes them.
// units may be SQL_NTS. On failure *out is null and the result 1.
[[nodiscard]] int32_t baseAllocFromWide(const BaseTextContext& conn, const uint16_t* text, int64_t units,
                                        int64_t targetCp, char** out, int64_t* produced, int64_t bytesPerUnit,
                                        int64_t termLen) noexcept;
// The same into the connection's text mode.
[[nodiscard]] int32_t baseAllocAppFromWide(const BaseTextContext& conn, const uint16_t* text, int64_t units, char** out,
                                           int64_t* produced) noexcept;
// New UTF-16LE buffer from text in srcCp (length bytes or SQL_NTS); *produced
// in units, at most the source length; a zero unit follows.
[[nodiscard]] int32_t baseAllocWideFromCp(const BaseTextContext& conn, int64_t srcCp, const char* text, int64_t length,
                                          uint16_t** out, int64_t* produced) noexcept;
[[nodiscard]] int32_t baseAllocWideFromApp(const BaseTextContext& conn, const char* text, int64_t length,
                                           uint16_t** out, int64_t* produced) noexcept;

// The code page of a connection's narrow text under its text mode.
int64_t baseTextModeCodePage(const BaseTextContext& conn) noexcept;

// 1 when the code page's bytes below 128 are ASCII characters.
int32_t baseIsAsciiCompatible(int64_t cp) noexcept;
// 1 when ASCII text is the same bytes in the code page (one byte each, no
// converter needed to read or write it); asked of the converter once per
// code page and kept.
int32_t baseAsciiPassesUnchanged(int64_t cp) noexcept;
// Bytes of the run below 0x80 at the start of text (n bytes).
int64_t baseAsciiPrefix(const void* text, int64_t n) noexcept;

// Number of characters of text in cp (a surrogate pair counts once): 0 with
// *count, 1 after posting the converter's error.
[[nodiscard]] int32_t baseCountChars(int64_t cp, const void* text, int64_t length, int64_t* count,
                                     KaIcuCache* cache) noexcept;

// Name of the driver's ICU converter for 4, 106, 1013 and 1014; for others
// "Unknown codepage: " and the number, in a per-thread buffer.
const char* baseCodePageConverterName(int64_t cp) noexcept;
