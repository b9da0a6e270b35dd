// Hexadecimal digits to bytes for the table load, on the foundation's
// decoder of whole digit runs.
#include "bulk/bulkhex.h"

#include "foundation/kaencode.h"

namespace {

template <typename Unit, typename Whole>
int unhexifyPieces(const Unit* text, size_t count, uint8_t* out, size_t* produced, BulkHexState* state,
                   Whole whole) noexcept
{
    static const char kDigits[] = "0123456789ABCDEF";
    size_t n = 0;
    size_t i = 0;
    *produced = 0;
    if (count == 0)
        return 0;
    if (state->pending >= 0) {
        const Unit pair[2] = {Unit(kDigits[state->pending]), text[0]};
        if (whole(out, pair, 2) != 0)
            return 1;
        state->pending = -1;
        n = 1;
        i = 1;
    }
    const size_t even = (count - i) & ~size_t{1};
    if (even != 0 && whole(out + n, text + i, even) != 0) {
        *produced = n;
        return 1;
    }
    n += even / 2;
    i += even;
    if (i < count) {
        // An odd digit decodes as a high half; it waits for its partner.
        uint8_t high = 0;
        if (whole(&high, text + i, 1) != 0) {
            *produced = n;
            return 1;
        }
        state->pending = high >> 4;
    }
    *produced = n;
    return 0;
}

}  // namespace

int unhexify(const uint8_t* text, size_t count, uint8_t* out, size_t* produced, BulkHexState* state) noexcept
{
    return unhexifyPieces(text, count, out, produced, state, [](uint8_t* o, const uint8_t* t, size_t k) {
        return unhexify(o, reinterpret_cast<const char*>(t), k);
    });
}

int unhexifyW(const uint16_t* text, size_t count, uint8_t* out, size_t* produced, BulkHexState* state) noexcept
{
    return unhexifyPieces(text, count, out, produced, state,
                          [](uint8_t* o, const uint16_t* t, size_t k) { return unhexifyW(o, t, k); });
}
