// Small text helpers: the boolean-word test of option values and the
// scratch buffer that grows in 512-byte steps. Used by option readers and
// by code that assembles text of unknown length.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t BUT_GROW_STEP = 512;
// Largest size the scratch buffer's 16-bit size field can hold.
constexpr size_t BUT_GROW_LIMIT = UINT16_MAX;

// 1 for text starting with '1', 'T' or 't', or "ON" in any case.
int butIsTrue(const char* text) noexcept;

// Makes room for n more bytes at *cursor. Without a buffer one is made and
// the cursor set to its start; a growing buffer keeps the cursor's offset.
// 1 when memory runs out or the size would pass BUT_GROW_LIMIT (the buffer
// is then left as it was).
[[nodiscard]] int butGrowBuffer(char** buffer, char** cursor, uint16_t* size, size_t n) noexcept;
