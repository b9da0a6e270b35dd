// Text primitives (the str family): comparisons, copies, quoting, searches,
// trims, XML escaping and the SQL LIKE match over 8-bit and UTF-16 text.
// String classes, option parsers and catalog filters stand on them.
//
// 8-bit text is terminated (zero byte) or counted (pointer, byte count); its
// characters are stepped by an encoding kind (KA_TEXT_UTF8, KA_TEXT_SINGLE_BYTE
// where a search says so, anything else the locale's multibyte encoding).
// UTF-16 text is uint16_t units, terminated by a zero unit or counted in
// units; a surrogate pair is one character where a function steps by code
// points. Comparisons return -1/0/1, equality tests 1/0, copies the address of
// the terminating zero they wrote.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/katext.h"

// ---- Comparison and equality -------------------------------------------
int strCompareN(const char* a, size_t alen, const char* b, size_t blen) noexcept;
int strEqualNoCase(const char* a, const char* b) noexcept;
int strEqualNoCaseN(const char* a, size_t alen, const char* b, size_t blen) noexcept;
int strCompareNoCase(const char* a, const char* b) noexcept;
int strCompareNoCaseN(const char* a, size_t alen, const char* b, size_t blen) noexcept;

int strCompareW(const uint16_t* a, const uint16_t* b) noexcept;
int strCompareCodePointW(const uint16_t* a, size_t alen, const uint16_t* b) noexcept;
int strCompareCodePointNW(const uint16_t* a, size_t alen, const uint16_t* b, size_t blen) noexcept;
int strCompareWithUtf8W(const uint16_t* a, const char* utf8) noexcept;
int strEqualW(const uint16_t* a, const uint16_t* b) noexcept;
int strEqualNW(const uint16_t* a, size_t n, const uint16_t* b) noexcept;
int strEqualWN(const uint16_t* a, const uint16_t* b, size_t n) noexcept;
int strEqualMemW(const uint16_t* a, const uint16_t* b, size_t n) noexcept;
int strEqualNoCaseW(const uint16_t* a, const uint16_t* b) noexcept;
int strEqualNoCaseNW(const uint16_t* a, size_t alen, const uint16_t* b) noexcept;
int strEqualNoCaseWN(const uint16_t* a, const uint16_t* b, size_t blen) noexcept;
int strEqualNoCaseNNW(const uint16_t* a, size_t alen, const uint16_t* b, size_t blen) noexcept;
int strCompareNoCaseW(const uint16_t* a, const uint16_t* b) noexcept;
int strCompareNoCaseNW(const uint16_t* a, size_t alen, const uint16_t* b) noexcept;
int strCompareNoCaseNNW(const uint16_t* a, size_t alen, const uint16_t* b, size_t blen) noexcept;

// ---- Copies, widening and narrowing --------------------------------------
// Bounded forms never write beyond size (bytes or units); size 0 writes
// nothing and returns dst.
char* strCopyBounded(char* dst, size_t size, const char* src) noexcept;
char* strCopyN(char* dst, size_t size, const char* src, size_t n) noexcept;
char* strAppendN(char* dst, const char* src, size_t n) noexcept;
char* strCopyNTerm(char* dst, const char* src, size_t n) noexcept;

uint16_t* strCopyW(uint16_t* dst, const uint16_t* src) noexcept;
uint16_t* strCopyBoundedW(uint16_t* dst, size_t size, const uint16_t* src) noexcept;
uint16_t* strCopyNBoundedW(uint16_t* dst, size_t size, const uint16_t* src, size_t n) noexcept;
uint16_t* strCopyNW(uint16_t* dst, const uint16_t* src, size_t n) noexcept;
uint16_t* strSwapCopyW(uint16_t* dst, const uint16_t* src, size_t n) noexcept;

// Each byte becomes the unit of the same value.
uint16_t* strWidenW(uint16_t* dst, const char* src) noexcept;
uint16_t* strWidenNW(uint16_t* dst, const char* src, size_t n) noexcept;
uint16_t* strWidenBoundedW(uint16_t* dst, size_t size, const char* src) noexcept;
// Each byte becomes a unit with that byte in its high 8 bits.
uint16_t* strWidenHighByteW(uint16_t* dst, const char* src) noexcept;
// Each unit becomes its low 8 bits.
char* strNarrowW(char* dst, const uint16_t* src) noexcept;
char* strNarrowNW(char* dst, const uint16_t* src, size_t n) noexcept;
char* strNarrowBoundedW(char* dst, size_t size, const uint16_t* src, size_t n) noexcept;

// ---- Quoting (doubled quote character inside) ----------------------------
// The quoting forms need 2n + 3 bytes (units) of room at most.
char* strQuote(char* dst, const char* src, size_t n, int kind, char quote) noexcept;
char* strQuoteCStr(char* dst, const char* src, int kind, char quote) noexcept;
char* strAppendQuoted(char* dst, const char* src, int kind, char quote) noexcept;
// src's first byte is the quote; the n - 2 bytes inside are copied undoubled.
char* strUnquote(char* dst, const char* src, size_t n) noexcept;
char* strUnquoteCStr(char* dst, const char* src) noexcept;
// In place, well-formed text only; otherwise the length comes back unchanged.
size_t strUnquoteLen(char* text, size_t len, char quote, int kind) noexcept;
size_t strUnquoteInPlace(char* text, char quote, int kind) noexcept;

uint16_t* strQuoteW(uint16_t* dst, const uint16_t* src, size_t n, uint16_t quote) noexcept;
uint16_t* strUnquoteW(uint16_t* dst, const uint16_t* src, size_t n) noexcept;
size_t strUnquoteLenW(uint16_t* text, size_t len, uint16_t quote) noexcept;
// Returns the quote unit when the text was quoted, else 0.
uint16_t strUnquoteInPlaceW(uint16_t* text, uint16_t quote) noexcept;
// "[name]" to "name" with "]]" undoubled; returns the units written.
size_t strStripBracketsW(uint16_t* dst, const uint16_t* src, size_t n) noexcept;

// ---- Searches (null when absent) -----------------------------------------
const char* strFindChar(const char* s, char c, int kind) noexcept;
const char* strFindCharDbcs(const char* s, char c) noexcept;
const char* strFindLastChar(const char* s, char c, int kind) noexcept;
const char* strFind(const char* s, const char* pattern, int kind) noexcept;
const char* strFindN(const char* s, size_t len, const char* pattern, size_t plen, int kind) noexcept;
// Case-insensitive; these copy both texts to the heap (null after the
// out-of-memory diagnostic when that fails).
const char* strFindNoCase(const char* s, const char* pattern, int kind) noexcept;
const char* strFindNoCaseN(const char* s, size_t len, const char* pattern, int kind) noexcept;
const char* strFindNoCaseNN(const char* s, size_t len, const char* pattern, size_t plen, int kind) noexcept;
// KA_TEXT_SINGLE_BYTE: every byte is one character.
const char* strFindEitherCase(const char* s, size_t len, const char* lower, const char* upper, size_t plen,
                              int kind) noexcept;
const char* strFindCharOutsideQuotes(const char* s, char c, char q1, char q2, char q3, int kind) noexcept;
// The last "." after the last "/".
const char* strFindExtension(const char* s, int kind) noexcept;
const char* strFindExtensionN(const char* s, size_t len, int kind) noexcept;
const uint16_t* strFindExtensionW(const uint16_t* s) noexcept;
const uint16_t* strFindExtensionNW(const uint16_t* s, size_t len) noexcept;

// Character-class flags of strIsInCharSet and strHasNoCharOf.
constexpr int kStrCharSetLower = 1;
constexpr int kStrCharSetUpper = 2;
constexpr int kStrCharSetDigit = 4;
// set may be null; 1 when every (no) character is in the set or a flagged range.
int strIsInCharSet(const char* s, size_t len, const char* set, int flags, int kind) noexcept;
int strHasNoCharOf(const char* s, size_t len, const char* set, int flags, int kind) noexcept;

const uint16_t* strFindCharW(const uint16_t* s, uint16_t c) noexcept;
const uint16_t* strFindCharNW(const uint16_t* s, size_t len, uint16_t c) noexcept;
const uint16_t* strFindLastCharNW(const uint16_t* s, size_t len, uint16_t c) noexcept;
const uint16_t* strFindAnyOfNW(const uint16_t* s, size_t len, const uint16_t* set) noexcept;
const uint16_t* strFindAnyOfAsciiNW(const uint16_t* s, size_t len, const char* set) noexcept;
const uint16_t* strFindW(const uint16_t* s, const uint16_t* pattern, size_t plen) noexcept;
const uint16_t* strFindNW(const uint16_t* s, size_t len, const uint16_t* pattern, size_t plen) noexcept;
const uint16_t* strFindCharNoCaseW(const uint16_t* s, uint32_t codePoint) noexcept;
const uint16_t* strFindCharNoCaseNW(const uint16_t* s, size_t len, uint32_t codePoint) noexcept;
const uint16_t* strFindNoCaseW(const uint16_t* s, const uint16_t* pattern, size_t plen) noexcept;
const uint16_t* strFindNoCaseNW(const uint16_t* s, size_t len, const uint16_t* pattern, size_t plen) noexcept;
const uint16_t* strFindCharOutsideQuotesW(const uint16_t* s, uint16_t c, uint16_t q1, uint16_t q2,
                                          uint16_t q3) noexcept;

// Writable forms of the searches, for callers that edit what they find.
inline char* strFindChar(char* s, char c, int kind) noexcept
{
    return const_cast<char*>(strFindChar(static_cast<const char*>(s), c, kind));
}
inline char* strFindLastChar(char* s, char c, int kind) noexcept
{
    return const_cast<char*>(strFindLastChar(static_cast<const char*>(s), c, kind));
}
inline char* strFind(char* s, const char* pattern, int kind) noexcept
{
    return const_cast<char*>(strFind(static_cast<const char*>(s), pattern, kind));
}
inline char* strFindN(char* s, size_t len, const char* pattern, size_t plen, int kind) noexcept
{
    return const_cast<char*>(strFindN(static_cast<const char*>(s), len, pattern, plen, kind));
}
inline char* strFindExtension(char* s, int kind) noexcept
{
    return const_cast<char*>(strFindExtension(static_cast<const char*>(s), kind));
}
inline uint16_t* strFindCharW(uint16_t* s, uint16_t c) noexcept
{
    return const_cast<uint16_t*>(strFindCharW(static_cast<const uint16_t*>(s), c));
}
inline uint16_t* strFindCharNW(uint16_t* s, size_t len, uint16_t c) noexcept
{
    return const_cast<uint16_t*>(strFindCharNW(static_cast<const uint16_t*>(s), len, c));
}
inline uint16_t* strFindLastCharNW(uint16_t* s, size_t len, uint16_t c) noexcept
{
    return const_cast<uint16_t*>(strFindLastCharNW(static_cast<const uint16_t*>(s), len, c));
}
inline uint16_t* strFindW(uint16_t* s, const uint16_t* pattern, size_t plen) noexcept
{
    return const_cast<uint16_t*>(strFindW(static_cast<const uint16_t*>(s), pattern, plen));
}
inline uint16_t* strFindNW(uint16_t* s, size_t len, const uint16_t* pattern, size_t plen) noexcept
{
    return const_cast<uint16_t*>(strFindNW(static_cast<const uint16_t*>(s), len, pattern, plen));
}

// ---- Lengths, trims, escaping, pattern matching --------------------------
size_t strLenW(const uint16_t* s) noexcept;
size_t strLenW32(const uint32_t* s) noexcept;
// The length of terminated UTF-16 text; null reads as empty.
inline size_t strLenOrZeroW(const uint16_t* s) noexcept
{
    return s != nullptr ? strLenW(s) : 0;
}
// A UTF-16 literal (u"...") as the driver's code units.
inline const uint16_t* strUnits(const char16_t* text) noexcept
{
    return reinterpret_cast<const uint16_t*>(text);
}
// A terminated copy of the first n units of text, from ramAlloc; null after
// the out-of-memory diagnostic.
uint16_t* strDupNW(const uint16_t* text, size_t n) noexcept;
// 1 when the value, taken as signed, is below 256, else 2.
int charWidthClass(int32_t c) noexcept;

// White space by the locale; the "Spaces" forms cut blanks (0x20) only.
size_t strTrimmedLenN(const char* s, size_t len, int kind) noexcept;
void strTrimSpaces(char* s, int kind) noexcept;
size_t strTrimmedLenSpaces(const char* s, size_t len, int kind) noexcept;
void strTrimTrailingSpaces(char* s, int kind) noexcept;
// White space by ICU.
size_t strTrimmedLenW(const uint16_t* s, size_t len) noexcept;
size_t strTrimmedLenSwappedW(const uint16_t* s, size_t len) noexcept;
void strTrimW(uint16_t* s) noexcept;
size_t strTrimmedLenW32(const uint32_t* s, size_t len) noexcept;

// New heap block (free with ramFree) with " & ' < > replaced by entities;
// 0 ok, 1 failure (null text, no memory, or a result too long for *outLen).
[[nodiscard]] int strXmlEscape(const char* s, char** out, uint16_t* outLen) noexcept;

// SQL LIKE: 1 match, 0 no match. Unless exactLength is set, trailing white
// space of value and pattern is ignored.
int strLike(const char* value, const char* pattern, char wildcard, char oneChar, char escape, int caseSensitive,
            int exactLength, int kind) noexcept;
int strLikeN(const char* value, size_t vlen, const char* pattern, size_t plen, char wildcard, char oneChar, char escape,
             int caseSensitive, int exactLength, int kind) noexcept;
int strLikeNW(const uint16_t* value, size_t vlen, const uint16_t* pattern, size_t plen, uint16_t wildcard,
              uint16_t oneChar, uint16_t escape, int caseSensitive, int exactLength) noexcept;
// One-character comparison of the LIKE match at terminated positions.
int strLikeCharMatch(const char* v, const char* p, int caseSensitive) noexcept;
int strLikeCharMatchW(const uint16_t* v, const uint16_t* p, int caseSensitive) noexcept;
