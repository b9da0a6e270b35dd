// The cipher of option values stored in ini files: a value written there in
// the stored form (hexadecimal text of enciphered UTF-16) is deciphered in
// place by the connection-option lookup; the encoder makes such values for
// setup tools and tests.
#pragma once
#include <cstddef>
#include <cstdint>

// The only mode the option lookup uses: DES-CBC under the component's own
// key, the plain text zero-padded to whole blocks.
constexpr int32_t KA_STORED_MODE_OPTION = 3;

// Deciphers units UTF-16 units of text in place (key null: the component's
// key). The text ends at the first zero unit of the result. 0, or 1 when the
// mode is unknown or the length is not a whole number of cipher blocks.
[[nodiscard]] int32_t cryptDecodeW(uint16_t* text, int64_t units, int32_t mode,
                                   const uint8_t* key) noexcept;
// The same over bytes.
[[nodiscard]] int32_t cryptDecode(uint8_t* bytes, int64_t length, int32_t mode,
                                  const uint8_t* key) noexcept;
// Enciphers length bytes of bytes (room for the length rounded up to the
// block size; the tail is zeroed) and returns the enciphered length, or -1.
int64_t cryptEncode(uint8_t* bytes, int64_t length, int32_t mode, const uint8_t* key) noexcept;
