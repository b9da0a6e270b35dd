// Hexadecimal field text of a bulk data file decoded into bytes, piece by
// piece as the reader hands a field over; used by the table load for
// binary columns.
#pragma once
#include <cstddef>
#include <cstdint>

// The decoding state of one value: a digit left over at the end of a piece
// is the high half of the next byte.
struct BulkHexState {
    int pending = -1;
};

// Decodes count digits (8-bit text) into out, which has room for
// (count + 1) / 2 bytes; *produced the bytes written. 0, or 1 after
// posting MSG_INVALID_HEX_DIGIT for a character that is no hexadecimal
// digit.
[[nodiscard]] int unhexify(const uint8_t* text, size_t count, uint8_t* out, size_t* produced,
                           BulkHexState* state) noexcept;
// The same for UTF-16 text.
[[nodiscard]] int unhexifyW(const uint16_t* text, size_t count, uint8_t* out, size_t* produced,
                            BulkHexState* state) noexcept;
