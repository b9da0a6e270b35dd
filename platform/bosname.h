// Name conversion of the operating-system layer: UTF-16 names to and from
// ISO-8859-1 (names that are not file names: hosts, users, ini sections) and
// to UTF-8 (the file names that bosfopenW opens). Used by the W forms of the
// layer, the ini files, and the connection and Hive layers for host names.
#pragma once
#include <cstddef>
#include <cstdint>

// Each returns the length written (bytes or units) or -1 after posting the
// converter's diagnostic. Inputs are NUL-terminated; null gives "" and 0.
// The _1024 forms take output buffers of BOS_PATH_SIZE bytes or units.
[[nodiscard]] int64_t KaUtf16ToLocal(char* out, size_t size, const uint16_t* in);
[[nodiscard]] int64_t KaUtf16ToLocal1024(char* out, const uint16_t* in);
// A failure leaves out empty, which some callers take as their answer.
int64_t KaLocalToUtf16(uint16_t* out, size_t units, const char* in);
[[nodiscard]] int64_t KaLocalToUtf16_1024(uint16_t* out, const char* in);
[[nodiscard]] int64_t KaUtf16ToUtf8(char* out, size_t size, const uint16_t* in);
[[nodiscard]] int64_t KaUtf16ToUtf8_1024(char* out, const uint16_t* in);
