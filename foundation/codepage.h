// Code pages as IANA MIBenum numbers: the tables that give a number its ICU
// converter name and its preferred charset name, the reverse lookup by name,
// the legacy AppCodePage and Windows numberings, the scanners that find the
// application code page in a connection string, and two UTF-16/UTF-8
// encoders. Constant sorted tables, no state, no lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <unicode/utypes.h>

constexpr int64_t kCodePageUnset = -999;
// ICU's default converter: the converter pools open it for this number,
// which names no IANA code page.
constexpr int64_t kCodePageDefault = 0;
constexpr int64_t kCodePageNone = 2000000000;  // what a failed name lookup gives
constexpr int64_t kCodePageNotInTable = INT64_MIN;
constexpr int64_t kCodePageAscii = 3;
constexpr int64_t kCodePageLatin1 = 4;
constexpr int64_t kCodePageUtf8 = 106;
constexpr int64_t kCodePageUtf16BE = 1013;
constexpr int64_t kCodePageUtf16LE = 1014;
constexpr int64_t kCodePageUtf16 = 1015;
constexpr int64_t kCodePageUtf32BE = 1018;
constexpr int64_t kCodePageUtf32LE = 1019;

// ICU converter name, or null (unknown number, and kCodePageNone).
const char* ianaNameFromNumber(int64_t number) noexcept;
// Charset name written into files; the converter name when there is none.
const char* ianaPreferredName(int64_t number) noexcept;
// Case-insensitive in ASCII letters; kCodePageNone when unknown.
int64_t ianaNumberFromName(const char* name) noexcept;
// kCodePageNotInTable when the number is not in the table.
int64_t ianaFromAppCodePage(int64_t legacy) noexcept;
int64_t ianaFromWindowsCodePage(int64_t number) noexcept;

// The application code page named in a connection string, or
// kCodePageNotInTable. *dsnOut must be null on entry; when the string has a
// DSN attribute it receives a new terminated copy of its value (free it with
// ucnvFree).
int64_t scanAppCodePageW(const uint16_t* text, size_t length, uint16_t** dsnOut) noexcept;
int64_t scanAppCodePage(const char* text, size_t length, char** dsnOut) noexcept;
void ucnvFree(void* block) noexcept;

// UTF-16 to UTF-8 and back, ICU style: *status must be a success on entry;
// srcLength -1 means terminated; *lengthOut gets the full length of the
// output even when it does not fit; *dest and *src are advanced. The result
// is the destination, or null on failure.
char* ucnvUtf16ToUtf8(char** dest, int32_t capacity, int32_t* lengthOut, const uint16_t** src, int32_t srcLength,
                      UErrorCode* status) noexcept;
uint16_t* ucnvUtf8ToUtf16(uint16_t** dest, int32_t capacity, int32_t* lengthOut, const char** src, int32_t srcLength,
                          UErrorCode* status) noexcept;
