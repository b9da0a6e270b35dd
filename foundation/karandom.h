// Random bytes and letters from the kernel's generator (getrandom(2)), for
// the keys and IVs that guard credentials in memory. The application's own
// rand() state is never read or reseeded.
#pragma once
#include <cstddef>

// n random bytes into out; 0, or 1 when the kernel gave none (nothing posted).
[[nodiscard]] int KaRandomBytes(void* out, size_t n) noexcept;
// n letters drawn evenly from 'A'-'Z' and 'a'-'z' into out (no terminator);
// 0, or 1 when the kernel gave no random bytes.
[[nodiscard]] int KaRandomLetters(char* out, size_t n) noexcept;
