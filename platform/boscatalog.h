// The message catalogue through the operating-system layer: the driver's
// shared catalogue, opened and closed by count and installed as the source of
// diagnostic texts, and catalogues that a caller keeps by handle. Used by the
// entry points (opening and closing) and, through the message source, by
// every diagnostic the driver posts.
#pragma once
#include <cstddef>
#include <cstdint>

// Largest catalogue text LoadStringFromOpenFileW produces, in UTF-16 units.
constexpr size_t BOS_MESSAGE_UNITS_MAX = 4096;

// The shared catalogue <install>/locale/<lang>/LC_MESSAGES/<baseName>.mo,
// counted by *counter when given. Posts nothing; always 0. Without the file
// the texts are the English ones built into the library, and the strings
// trace says where the catalogue was looked for.
int OpenStrings(const char* baseName, void* reserved1, void* reserved2, int32_t* counter);
int CloseStrings(void* reserved, int32_t* counter);
// True while the shared catalogue's file is open, for callers that need the
// file itself rather than its texts (the setup refuses to run without it).
[[nodiscard]] bool bosCatalogueFileOpen();
// Text of message number into buffer (size bytes, always terminated): the
// catalogue's, else the built-in English one, else the number in decimal. Returns the length stored; a
// size of 0 stores nothing and returns 0.
int64_t LoadStringFromOpenFile(const char* reserved, uint32_t number, char* buffer, size_t size);
// units: capacity including the terminator (above BOS_MESSAGE_UNITS_MAX taken
// as that). Returns units stored.
int64_t LoadStringFromOpenFileW(const char* reserved, uint32_t number, uint16_t* buffer, size_t units);
// The same on a catalogue that the caller keeps; *handle is null when none.
int OpenStringsHandle(const char* baseName, void** handle);
int CloseStringsHandle(void** handle);
int64_t LoadStringFromHandle(void* handle, uint32_t number, char* buffer, size_t size);
