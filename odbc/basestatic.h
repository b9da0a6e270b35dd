// The row cache behind the framework's emulated static cursor: every value
// of a result, read once through the driver's forward-only row hook, kept in
// five paged temporary files so that scrolling never goes back to the
// server. Owned by BaseStatement; filled and read by odbc/basestatic.cpp.
#pragma once
#include <cstdint>

#include "foundation/kaobject.h"
#include "platform/katmpfil.h"

// Bytes of one cell in the fixed-width files.
constexpr uint64_t kBaseCacheLengthBytes = 8;
constexpr uint64_t kBaseCacheOffsetBytes = 8;
constexpr uint64_t kBaseCacheKindBytes = 4;
constexpr uint64_t kBaseCacheFlagBytes = 1;

class BaseRowCache : public KaObject {
public:
    BaseRowCache() noexcept;
    ~BaseRowCache() override;
    BaseRowCache(const BaseRowCache&) = delete;
    BaseRowCache& operator=(const BaseRowCache&) = delete;

    // Closes and empties the files; no rows.
    void empty() noexcept;

    // Per cell x = (row - 1) * columns + (column - 1): the value's length
    // (-1 NULL), its offset in `data`, its value kind and whether it was cut
    // at the cache limit; `data` holds the values back to back.
    KaTmpFile lengths;
    KaTmpFile offsets;
    KaTmpFile kinds;
    KaTmpFile truncations;
    KaTmpFile data;
    int64_t rowCount = 0;
    uint16_t columnCount = 0;
    // Where a value is read back to for conversion; sized at fill time.
    uint8_t* readBuffer = nullptr;
    int64_t readBufferSize = 0;
};
