// Random bytes and letters from getrandom(2).
#include "foundation/karandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

#include "foundation/fast.h"

namespace {

constexpr unsigned kLetterCount = 52;
// Bytes at or above this are redrawn, so that every letter is equally likely.
constexpr unsigned kLetterLimit = 256 / kLetterCount * kLetterCount;
constexpr size_t kDrawBytes = 64;

}  // namespace

int KaRandomBytes(void* out, size_t n) noexcept
{
    auto* p = static_cast<uint8_t*>(out);
    while (n > 0) {
        ssize_t got = getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        p += got;
        n -= static_cast<size_t>(got);
    }
    return 0;
}

int KaRandomLetters(char* out, size_t n) noexcept
{
    uint8_t draw[kDrawBytes];
    size_t used = kDrawBytes;
    size_t i = 0;
    int rc = 0;
    while (i < n) {
        if (used == kDrawBytes) {
            if (KaRandomBytes(draw, sizeof draw) != 0) {
                rc = 1;
                break;
            }
            used = 0;
        }
        unsigned b = draw[used++];
        if (b >= kLetterLimit)
            continue;
        b %= kLetterCount;
        out[i++] = static_cast<char>(b < 26 ? 'A' + b : 'a' + (b - 26));
    }
    // The draw becomes key material.
    fastMemzero(draw, sizeof draw);
    return rc;
}
