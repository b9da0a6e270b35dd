// Stateless encodings and checksums: hexadecimal text, Base64,
// percent-encoding of URL parts, CRC-32 and MD5. Used by the conversion
// engine, the connection pool and the HTTP transport.
#pragma once
#include <cstddef>
#include <cstdint>

// Room for the longest hexFormatU64 text (19 digits) and its terminator.
constexpr size_t KA_HEX_U64_BUFFER = 20;
constexpr uint16_t KA_HEX_U64_MAX_DIGITS = 19;

// Upper-case hex of value, left-padded with '0' to at least minDigits (at
// most 19), NUL-terminated; out holds KA_HEX_U64_BUFFER bytes. Returns the
// digit count.
uint16_t hexFormatU64(char* out, uint64_t value, uint16_t minDigits) noexcept;

// Hex text of n bytes (2n characters, no terminator); out may be the input.
size_t hexify(char* out, const void* bytes, size_t n) noexcept;
size_t hexifyLower(char* out, const void* bytes, size_t n) noexcept;
// Return the number of bytes written (4n and 8n).
size_t hexifyW(uint16_t* out, const void* bytes, size_t n) noexcept;
size_t hexifyU32(uint32_t* out, const void* bytes, size_t n) noexcept;

// n hex digits to (n + 1) / 2 bytes; an odd last digit is a high nibble.
// 0 on success; 1 after posting MSG_INVALID_HEX_DIGIT for an invalid digit.
[[nodiscard]] int unhexify(void* out, const char* hex, size_t n) noexcept;
[[nodiscard]] int unhexifyW(void* out, const uint16_t* hex, size_t n) noexcept;
[[nodiscard]] int unhexifyU32(void* out, const uint32_t* hex, size_t n) noexcept;
// As unhexify, writing every decoded byte equal to escape twice; out holds
// n bytes; *outLen is the number of bytes written. An odd last digit whose
// byte is the escape and has no room left for its double posts
// MSG_VALUE_DOES_NOT_FIT and returns 1.
[[nodiscard]] int unhexifyEscaped(void* out, const char* hex, size_t n, uint8_t escape, size_t* outLen) noexcept;
int isHexText(const void* bytes, size_t n) noexcept;

// Base64: 4 characters per 3 bytes, padded with '='.
constexpr uint32_t KaBase64EncodedLength(uint32_t n)
{
    return (n + 2) / 3 * 4;
}
// The standard alphabet of RFC 4648 and its reverse table (255 = not in it).
extern const char KaBase64StandardAlphabet[65];
void KaBase64MakeReverseTable(const char* alphabet, uint8_t table[256]) noexcept;
// Writes KaBase64EncodedLength(length) characters, no terminator; returns the
// end of the output.
char* KaBase64Encode(const void* bytes, uint32_t length, char* out, const char* alphabet) noexcept;
// Decodes into out, which holds capacity bytes; returns the end of the output,
// or null after posting MSG_BASE64_INVALID_CHARACTER (with the character's
// position) or MSG_BASE64_OUTPUT_TOO_SMALL.
uint8_t* KaBase64Decode(const char* text, uint32_t length, uint8_t* out, uint32_t capacity,
                        const uint8_t reverseTable[256]) noexcept;

// Percent-encoding of URL parts: ASCII letters and digits and "-_.~" (and "/"
// when keepSlash is set) stay, other bytes become "%XX". length SIZE_MAX means
// NUL-terminated. Returns out, or null when the text does not fit.
constexpr size_t KA_URL_NTS = SIZE_MAX;
char* urlEncode(const char* bytes, size_t length, char* out, size_t size, size_t* outLen, int keepSlash) noexcept;
// Allocates 3 * length + 1 bytes with ramAlloc; the caller frees with ramFree.
char* urlEncodeAlloc(const char* bytes, size_t length, size_t* outLen) noexcept;
// UTF-16 text through UTF-8; null on invalid surrogates.
char* urlEncodeW(const uint16_t* units, size_t n, char* out, size_t size, size_t* outLen, int keepSlash) noexcept;

// Reflected IEEE 802.3 CRC-32 step, without the inversions before and after.
uint32_t crc32Update(uint32_t crc, const void* bytes, uint32_t n) noexcept;

// MD5 of the first lengthBits bits of message.
constexpr size_t KA_MD5_DIGEST_SIZE = 16;
void md5Digest(const void* message, int32_t lengthBits, uint8_t out[KA_MD5_DIGEST_SIZE]) noexcept;

void memCopyBytes(void* out, const void* in, size_t n) noexcept;
void* memFillBytes(void* out, uint8_t value, size_t n) noexcept;
