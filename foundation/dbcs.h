// Character stepping, classification and case for the three in-memory
// encodings: 8-bit text in the locale's multibyte encoding, UTF-8 and UTF-16;
// the UTF-8/UTF-16/UTF-32 helpers; and the lead-byte tables that record which
// bytes of a code page begin a multi-byte character. Used by the string
// classes, the SQL scanner, option reading and value conversion.
#pragma once
#include <cstddef>
#include <cstdint>
#include <unicode/ucnv.h>

#include "foundation/katext.h"

class KaPtrTableCache;
class KaIcuCache;

// Entries of a lead-byte table.
constexpr size_t kLeadByteTableSize = 256;

// --- Stepping over 8-bit text ---------------------------------------------
// A UTF-8 lead byte counts only the continuation bytes that really follow it,
// so a step never passes a NUL or a cut character.
size_t KaDbcsCharLen(const char* p, int32_t kind) noexcept;
const char* KaDbcsNextChar(const char* p, int32_t kind) noexcept;
inline char* KaDbcsNextChar(char* p, int32_t kind) noexcept
{
    return const_cast<char*>(KaDbcsNextChar(static_cast<const char*>(p), kind));
}
size_t KaDbcsNextIndex(const char* data, size_t len, int32_t kind) noexcept;
const char* KaDbcsPrevChar(const char* data, const char* p, int32_t kind) noexcept;
inline char* KaDbcsPrevChar(char* data, char* p, int32_t kind) noexcept
{
    return const_cast<char*>(KaDbcsPrevChar(static_cast<const char*>(data), static_cast<const char*>(p), kind));
}
size_t KaDbcsPrevIndex(const char* data, size_t len, int32_t kind) noexcept;
size_t KaDbcsPrevIndexFromStart(const char* data, size_t len, int32_t kind) noexcept;
const char* KaDbcsLastChar(const char* p, int32_t kind) noexcept;
int KaDbcsCharEqual(const char* p, const char* q, int32_t kind) noexcept;
int KaDbcsCharEqualAt(const char* data, size_t i, const char* other, size_t j, int32_t kind) noexcept;
// Characters of a NUL-terminated string, looking at no more than n bytes
// (SIZE_MAX: no limit); KA_TEXT_UTF16 counts UTF-16 units.
size_t KaDbcsCharCount(const char* p, int32_t kind, size_t n) noexcept;
size_t KaDbcsCharCountN(const char* data, size_t len, int32_t kind) noexcept;
size_t KaUtf8CharsInBytes(const char* data, size_t n) noexcept;
int KaDbcsIsDoubleByte(const char* p) noexcept;
int KaDbcsIsDoubleByteAt(const char* data, size_t len) noexcept;
int KaDbcsIsTrailByte(const char* data, const char* p) noexcept;
int KaDbcsIsByteAt(const char* data, const char* p, char ch) noexcept;

// --- Classification and case of locale text -------------------------------
int KaDbcsIsSpace(const char* p) noexcept;
int KaDbcsIsAlpha(const char* p) noexcept;
int KaDbcsIsAlnum(const char* p) noexcept;
int KaDbcsIsSpaceAt(const char* data, size_t len) noexcept;
int KaDbcsIsAlphaAt(const char* data, size_t len) noexcept;
int KaDbcsIsAlnumAt(const char* data, size_t len) noexcept;
const char* KaDbcsSkipSpaces(const char* p, int32_t kind) noexcept;
inline char* KaDbcsSkipSpaces(char* p, int32_t kind) noexcept
{
    return const_cast<char*>(KaDbcsSkipSpaces(static_cast<const char*>(p), kind));
}
// In place; a character whose other case needs a different number of bytes
// is left as it is.
void KaDbcsStrUpper(char* p) noexcept;
void KaDbcsStrLower(char* p) noexcept;
void KaDbcsStrUpperN(char* p, size_t n) noexcept;
void KaDbcsStrLowerN(char* p, size_t n) noexcept;

// --- UTF-16 ----------------------------------------------------------------
// A high surrogate steps as a pair only when a low surrogate follows it.
const uint16_t* KaUtf16Next(const uint16_t* p) noexcept;
inline uint16_t* KaUtf16Next(uint16_t* p) noexcept
{
    return const_cast<uint16_t*>(KaUtf16Next(static_cast<const uint16_t*>(p)));
}
size_t KaUtf16NextIndex(const uint16_t* a, size_t i) noexcept;
size_t KaUtf16PrevIndex(const uint16_t* a, size_t i) noexcept;  // i > 0
size_t KaUtf16PrevIndexChecked(const uint16_t* a, size_t i) noexcept;
const uint16_t* KaUtf16PrevChar(const uint16_t* data, const uint16_t* p) noexcept;
size_t KaUtf16CharCount(const uint16_t* p) noexcept;
const uint16_t* KaUtf16SkipSpaces(const uint16_t* p) noexcept;
inline uint16_t* KaUtf16SkipSpaces(uint16_t* p) noexcept
{
    return const_cast<uint16_t*>(KaUtf16SkipSpaces(static_cast<const uint16_t*>(p)));
}
int KaUIsWhitespace(const uint16_t* p) noexcept;
int KaUIsAlpha(const uint16_t* p) noexcept;
int KaUIsAlnum(const uint16_t* p) noexcept;
int KaUIsWhitespaceBE(const uint16_t* p) noexcept;
void KaUtf16StrUpper(uint16_t* p) noexcept;
void KaUtf16StrLower(uint16_t* p) noexcept;
void KaUtf16StrUpperN(uint16_t* p, size_t n) noexcept;

// --- Code points -------------------------------------------------------------
int32_t KaUToUpper(int32_t c) noexcept;
int32_t KaUToLower(int32_t c) noexcept;

// --- UTF-8 -------------------------------------------------------------------
char* utf8Encode(char* buffer, uint32_t codePoint) noexcept;
uint32_t utf8EncodePacked(uint32_t codePoint) noexcept;
uint32_t codePointToUtf16Packed(uint32_t codePoint) noexcept;
// In place; a character whose upper case needs a different number of bytes
// is left as it is.
void utf8StrUpperN(char* data, size_t len) noexcept;
void utf8StrUpper(char* data) noexcept;
int isCodePageAvailable(int64_t codePage) noexcept;

// --- Lead-byte tables ----------------------------------------------------------
// All return 0, or 1 when no table can be had (no memory, no converter).
[[nodiscard]] int KaLeadByteTableBuild(UConverter* converter, uint8_t** tableOut) noexcept;
[[nodiscard]] int KaLeadTableGet(KaPtrTableCache* cache, KaIcuCache* pool, int64_t codePage,
                                 const uint8_t** tableOut) noexcept;
[[nodiscard]] int KaLeadByteInfo(KaPtrTableCache* cache, int64_t codePage, uint8_t byte, uint8_t* out) noexcept;
[[nodiscard]] int KaLeadCharCount(KaPtrTableCache* cache, int64_t codePage, const char* data, size_t n,
                                  size_t* countOut) noexcept;
[[nodiscard]] int KaLeadCharCountFit(KaPtrTableCache* cache, int64_t codePage, const char* data, size_t n,
                                     size_t* lengthOut, size_t* countOut) noexcept;
[[nodiscard]] int KaLeadPrevPos(KaPtrTableCache* cache, int64_t codePage, const char* data, size_t pos,
                                size_t* out) noexcept;
// The end of the last whole character at or before pos. The table is built
// with the given converter the first time a code page needs one.
[[nodiscard]] int KaLeadPrevCharPos(KaPtrTableCache* cache, UConverter* converter, int64_t codePage, const char* data,
                                    size_t pos, size_t* out) noexcept;
// Byte count of UTF-8 output cut at pos that ends on a character boundary.
size_t KaUtf8CutPos(const char* data, size_t pos) noexcept;

// --- UTF-32 --------------------------------------------------------------------
// count < 0: NUL-terminated. Return 0, or 1 on bad input or no memory.
[[nodiscard]] int utf32ToUtf16Alloc(const void* text, int64_t count, uint16_t** out, size_t* countOut) noexcept;
[[nodiscard]] int utf16ToUtf32(const uint16_t* text, int64_t count, uint32_t* dest, size_t capacity,
                               size_t* totalOut) noexcept;
// *lengthInOut: capacity in, full length out.
[[nodiscard]] int utf16ToUtf32Len(const uint16_t* text, int64_t count, uint32_t* dest, size_t* lengthInOut) noexcept;
