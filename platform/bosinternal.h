// Helpers that the files of the operating-system layer (bos*.cpp) share
// among themselves: bounded name copies and joins, the trace test, the
// converters and UTF-8 forms of names, configuration-name resolution and the
// lock of the install directory and catalogue. Nothing outside those files
// includes this header.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kalock.h"
#include "foundation/codepage.h"
#include "platform/bos.h"

class KaIcuCache;

inline bool bosTraced(uint64_t bit)
{
    return (bosDebugFlags & bit) != 0;
}

// The value of an environment variable, null when unset or empty.
const char* bosEnvValue(const char* name);

// Copies src into dst of size bytes; 1 (dst untouched) when it does not fit.
[[nodiscard]] int bosCopyBounded(char* dst, size_t size, const char* src);

// Joins a, a "/" unless a is empty or ends with one, and b into dst (which
// may be a or b); 1 when the result does not fit in size bytes.
[[nodiscard]] int bosJoinPath(char* dst, size_t size, const char* a, const char* b);

// Drops white space from the end of s, keeping at least its first keep bytes.
void bosTrimTrailingSpace(char* s, size_t keep);

// Converters for the name conversions (ISO-8859-1 and the default one),
// shared by the whole layer.
KaIcuCache& bosNameConverters();

// UTF-16 to UTF-8 for file names without any diagnostic: the length, or -1
// with out emptied.
[[nodiscard]] int64_t bosUtf16ToUtf8Quiet(char* out, size_t size, const uint16_t* in);

// A UTF-16 file name as the UTF-8 bytes that bosfopenW opens, so that every
// W operation names the same file. out: BOS_PATH_SIZE bytes. Posts on failure.
[[nodiscard]] int bosPathFromW(char* out, const uint16_t* in);

// Resolves the home-relative and configuration-file names of bosfopen in
// name (BOS_PATH_SIZE bytes). Returns 0, or an errno value.
[[nodiscard]] int bosResolveName(char* name, uint32_t flags);

// Serialises the install directory and the opening and closing of the
// catalogue. Made on first use, so that static initialisers of other units
// may already call the layer.
KaCriticalSection& bosStringsLock();
