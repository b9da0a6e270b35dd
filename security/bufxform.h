// Reversible in-place scrambling of byte and UTF-16 buffers, chosen by a type
// number: complement (1), complement sparing newlines (2) and a TEA-round
// block mix under a short key (3). Stored configuration values and the line
// reader use them to keep values from casual reading; they are not strong
// encryption.
#pragma once
#include <cstddef>
#include <cstdint>

// Type numbers; only the low 16 bits of a type are looked at.
constexpr uint32_t KA_XFORM_COMPLEMENT = 1;
constexpr uint32_t KA_XFORM_COMPLEMENT_KEEP_NEWLINE = 2;
constexpr uint32_t KA_XFORM_TEA_MIX = 3;

// A null key text selects the built-in default key.
void cryptEncode(uint8_t* bytes, size_t count, uint32_t type, const char* key) noexcept;
void cryptDecode(uint8_t* bytes, size_t count, uint32_t type, const char* key) noexcept;
void cryptEncodeW(char16_t* units, size_t count, uint32_t type, const char16_t* key) noexcept;
void cryptDecodeW(char16_t* units, size_t count, uint32_t type, const char16_t* key) noexcept;

// The line reader's decoder (kaFileByLineSetDecoder): unscrambles one line in
// place with cryptDecode and the default key. A line's own line feed is not
// part of what was scrambled and stays as it is; the length never changes.
int cryptDecodeLine(int32_t type, char* text, size_t* length) noexcept;
