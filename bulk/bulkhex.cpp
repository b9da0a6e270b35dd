// Hexadecimal digits to bytes for the table load.
#include "bulk/bulkhex.h"

namespace {

int hexDigit(uint32_t u) noexcept
{
    if (u >= '0' && u <= '9')
        return int(u - '0');
    if (u >= 'a' && u <= 'f')
        return int(u - 'a' + 10);
    if (u >= 'A' && u <= 'F')
        return int(u - 'A' + 10);
    return -1;
}

template <typename Unit>
int unhexifyUnits(const Unit* text, size_t count, uint8_t* out, size_t* produced, BulkHexState* state) noexcept
{
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0) {
            *produced = n;
            return 1;
        }
        if (state->pending < 0) {
            state->pending = d;
        } else {
            out[n++] = uint8_t(state->pending << 4 | d);
            state->pending = -1;
        }
    }
    *produced = n;
    return 0;
}

}  // namespace

int unhexify(const uint8_t* text, size_t count, uint8_t* out, size_t* produced, BulkHexState* state) noexcept
{
    return unhexifyUnits(text, count, out, produced, state);
}

int unhexifyW(const uint16_t* text, size_t count, uint8_t* out, size_t* produced, BulkHexState* state) noexcept
{
    return unhexifyUnits(text, count, out, produced, state);
}
