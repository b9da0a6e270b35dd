// Raw memory and terminated 8-bit text helpers (the fast family): copy,
// compare, fill, exchange and wipe. Every string and container stands on them.
#pragma once
#include <cstddef>
#include <cstdint>

size_t fastStrlen(const char* s) noexcept;

// Copies first to last; the ranges may overlap only when dst lies below src.
void fastMemcpy(void* dst, const void* src, size_t n) noexcept;
// Copies last to first: moves text to a higher address inside one buffer.
void fastMemcpyW(void* dst, const void* src, size_t n) noexcept;
void fastMemcpy8(void* dst, const void* src, size_t n) noexcept;
void fastMemcpyWords(void* dst, const void* src, size_t n) noexcept;

int fastMemcmp(const void* a, const void* b, size_t n) noexcept;  // -1/0/1
int fastMemeq(const void* a, const void* b, size_t n) noexcept;   // 1/0
// 1 when every byte of text equals the byte at the same place of a or of b.
int fastMatchEitherCase(const void* text, const void* a, const void* b, size_t n) noexcept;

void fastMemswap(void* a, void* b, size_t n) noexcept;
// Exchanges elements i and j of an array of fixed-size elements.
void fastSwapElements(void* array, uint16_t i, uint16_t j, uint16_t elementSize) noexcept;

// Both return the address of the zero byte they wrote.
char* fastStrcpy(char* dst, const char* src) noexcept;
char* fastStrcat(char* dst, const char* src) noexcept;
int fastStrcmp(const char* a, const char* b) noexcept;  // -1/0/1

void fastMemset(void* dst, int value, size_t n) noexcept;
// The wipe used before memory holding secrets goes back; never elided.
void fastMemzero(void* dst, size_t n) noexcept;
// Sets n 32-bit words to zero.
void fastZeroWords(void* dst, size_t n) noexcept;

// Store value in *slot and return the old value, under a process-wide
// critical section or a process-wide semaphore respectively.
void* fastExchangePointer(void** slot, void* value) noexcept;
void* fastExchangePointerSem(void** slot, void* value) noexcept;
