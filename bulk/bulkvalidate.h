// The comparison of table validation: one table column against one column
// of a bulk description, every finding a line of the caller's message
// buffer. Used by the validation body, and by its tests directly.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kastringw.h"

class BaseConnection;
struct BulkColumnDesc;

// One column of the described table.
struct BulkTableColumn {
    uint16_t name[256];
    int16_t type;  // the bulk type (integers as their signed or unsigned C type)
    uint64_t size;
    int64_t precision;
    int64_t scale;
    int64_t codePage;
    int16_t nullable;
};

class BulkValidator {
public:
    // narrow or wide names the caller's buffer (length in its units); conn
    // converts narrow lines into the application code page (unused for a
    // wide buffer).
    BulkValidator(BaseConnection* conn, char* narrow, uint16_t* wide, int32_t length, int32_t* count) noexcept
        : conn_(conn), narrow_(narrow), wide_(wide), length_(length), count_(count)
    {}

    // One finding; 0 appended, 1 did not fit (error 32 posted).
    [[nodiscard]] int add(uint16_t msg, const BulkTableColumn* t, const BulkColumnDesc* d, int64_t number) noexcept;
    // Compares one table column with one description column; *incompatible
    // tells whether the datatypes cannot meet at all.
    void compare(const BulkTableColumn& t, const BulkColumnDesc& d, bool* incompatible) noexcept;

    // Units of the buffer in use, terminator not counted.
    size_t used = 0;

private:
    void typeText(KaStringW& out, int64_t type, uint64_t length, int64_t scale, int withSign) noexcept;

    BaseConnection* conn_;
    char* narrow_;
    uint16_t* wide_;
    int32_t length_;
    int32_t* count_;
};
