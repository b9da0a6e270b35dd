// How a server error becomes a diagnostic: the SQLSTATE index chosen from a
// Hive error code, or from keywords in the server's text. The connection's
// status and exception readers use them.
#pragma once
#include <cstddef>
#include <cstdint>

// The SQLSTATE index of a Hive error code; the general error when the code
// says nothing.
uint16_t mapHiveErrorCode(int32_t errorCode) noexcept;
// The index the keyword scan finds in text (ASCII letters compared without
// case; other bytes, multibyte ones included, as they are).
uint16_t hiveServerTextIndex(const char* text, size_t length) noexcept;
// Posts text (NUL-terminated UTF-8) with the index the scan finds; errorCode
// becomes the native code (-1 for 0).
void mapServerErrorText(int32_t errorCode, const char* text, int32_t warning = 0) noexcept;
