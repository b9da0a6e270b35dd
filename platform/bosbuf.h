// Buffered streams (stdio FILE) of the operating-system layer that report
// their failures by message number. Used by the bulk export's data and
// description files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Every operation returns 0 for success and 1 after posting a diagnostic.
[[nodiscard]] int bosBufOpen(FILE** stream, const char* path, const char* mode);
[[nodiscard]] int bosBufOpenW(FILE** stream, const uint16_t* path, const uint16_t* mode);
[[nodiscard]] int bosBufSetBuffer(FILE* stream, char* buffer, int mode, size_t size);
// A size or count of 0 writes nothing.
[[nodiscard]] int bosBufWrite(FILE* stream, const void* data, size_t itemSize, size_t itemCount);
// convert: the UTF-16 text (itemSize x itemCount bytes) is written as UTF-8,
// all of it; else the bytes as they are.
[[nodiscard]] int bosBufWriteW(FILE* stream, const uint16_t* data, size_t itemSize, size_t itemCount, int convert);
[[nodiscard]] int bosBufFlush(FILE* stream);
int bosBufClose(FILE* stream);
