// Comparison helpers: collation, code point, blank-padded and byte order.
#include "foundation/compare.h"

#include <unicode/ustring.h>

#include <cstring>

#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

// Texts up to this length are collated from stack copies.
constexpr size_t kCollateLocalMax = 512;
constexpr size_t kCollateLocalSize = 528;

int sign(int r) noexcept
{
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// Byte order of counted texts, the shorter first on a common prefix.
int compareCounted(const char* a, size_t alen, const char* b, size_t blen) noexcept
{
    size_t n = alen < blen ? alen : blen;
    int r = n == 0 ? 0 : sign(std::memcmp(a, b, n));
    if (r != 0)
        return r;
    return alen < blen ? -1 : (alen > blen ? 1 : 0);
}

// A terminated copy of a counted text in local (when it fits) or heap; the
// heap copy is zeroed first when asked.
class CollateCopy {
public:
    CollateCopy(const char* text, size_t len, bool forceHeap) noexcept
    {
        if (!forceHeap && len <= kCollateLocalMax) {
            text_ = local_;
        } else {
            if (len == SIZE_MAX) {
                ramOutOfMemory();
                return;
            }
            heap_ = static_cast<char*>(ramAlloc(len + 1));
            if (heap_ == nullptr)
                return;
            if (forceHeap)
                std::memset(heap_, 0, len + 1);
            text_ = heap_;
        }
        if (len != 0)
            std::memcpy(text_, text, len);
        text_[len] = 0;
    }
    ~CollateCopy() { ramFree(heap_); }
    CollateCopy(const CollateCopy&) = delete;
    CollateCopy& operator=(const CollateCopy&) = delete;

    const char* text() const noexcept { return text_; }

private:
    char local_[kCollateLocalSize];
    char* heap_ = nullptr;
    char* text_ = nullptr;
};

int collateCounted(const char* a, size_t alen, const char* b, size_t blen, bool forceHeap) noexcept
{
    CollateCopy ca(a, alen, forceHeap);
    CollateCopy cb(b, blen, forceHeap);
    // Without memory for a copy (already reported) the byte order still
    // gives a consistent answer.
    if (ca.text() == nullptr || cb.text() == nullptr)
        return compareCounted(a, alen, b, blen);
    return compareCollate(ca.text(), cb.text());
}

}  // namespace

int compareBlankPadded(const char* a, const char* b) noexcept
{
    size_t alen = std::strlen(a);
    size_t blen = std::strlen(b);
    size_t n = alen < blen ? alen : blen;
    int r = n == 0 ? 0 : sign(std::memcmp(a, b, n));
    if (r != 0 || alen == blen)
        return r;
    const char* rest = alen > blen ? a + n : b + n;
    for (; *rest != 0; ++rest) {
        if (*rest != ' ')
            return alen > blen ? 1 : -1;
    }
    return 0;
}

int compareCollate(const char* a, const char* b) noexcept
{
    return sign(std::strcoll(a, b));
}

int compareCollateRaw(const char* a, const char* b) noexcept
{
    return sign(std::strcoll(a, b));
}

int compareCollateCounted(const char* a, size_t alen, const char* b, size_t blen) noexcept
{
    return collateCounted(a, alen, b, blen, false);
}

int compareCollateCountedHeap(const char* a, size_t alen, const char* b, size_t blen) noexcept
{
    return collateCounted(a, alen, b, blen, true);
}

int compareN(const char* a, const char* b, size_t n) noexcept
{
    return n == 0 ? 0 : sign(std::strncmp(a, b, n));
}

int compareBytes(const void* a, const void* b, size_t n) noexcept
{
    return n == 0 ? 0 : sign(std::memcmp(a, b, n));
}

int compareDoubleBits(const void* a, const void* b) noexcept
{
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    constexpr uint64_t top = uint64_t{1} << 63;
    bool xNeg = (x & top) != 0;
    bool yNeg = (y & top) != 0;
    if (xNeg != yNeg)
        return xNeg ? -1 : 1;
    int r = x < y ? -1 : (x > y ? 1 : 0);
    // A larger magnitude is the smaller value among negatives.
    return xNeg ? -r : r;
}

int compareCodePointOrderW(const uint16_t* a, const uint16_t* b) noexcept
{
    return sign(u_strcmpCodePointOrder(reinterpret_cast<const UChar*>(a), reinterpret_cast<const UChar*>(b)));
}

void errMarkInvalidCast() noexcept
{
    static const uint16_t invalidCast[] = {u'2', u'2', u'0', u'1', u'8', 0};
    KaError* record = KaErrorGetLast();
    if (record != nullptr)
        record->setSqlstateW(invalidCast)->setSqlstateMsg(MSG_SQLSTATE_INVALID_CAST);
}
