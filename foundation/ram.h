// Allocation wrappers: every buffer and object of the driver is taken here,
// and every failed allocation is reported through ramOutOfMemory.
#pragma once
#include <cstddef>
#include <cstdint>

void* ramAlloc(size_t size) noexcept;
void* ramAllocBlock(size_t size) noexcept;
void* ramAllocInt(int32_t size) noexcept;
void ramFree(void* block) noexcept;
void ramFreeBlock(void* block) noexcept;
void ramFreeRaw(void* block) noexcept;
void ramOutOfMemory() noexcept;

// Widen bytes to UTF-16 units one for one, narrow units to their low 8 bits.
uint16_t* ramDupBytesToW(const void* bytes, size_t n) noexcept;
uint16_t* ramDupBytesToWSigned(const void* bytes, int64_t n) noexcept;
char* ramDupWToBytes(const uint16_t* units, size_t n) noexcept;
char* ramDupWToBytesSigned(const uint16_t* units, int64_t n) noexcept;

// 0 on success with *block replaced; 1 on failure with *block untouched.
[[nodiscard]] int ramRealloc(void** block, size_t size) noexcept;
