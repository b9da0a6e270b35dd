// Record comparison by the sort keys and an iterative quicksort of records in
// buffers, without recursion or allocation.
#include "foundation/kasortcore.h"

#include <cstring>

#include "foundation/compare.h"
#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaobject.h"
#include "kamessages.h"

namespace {

constexpr size_t kSwapChunk = 256;

int sign(int64_t v) noexcept
{
    return (v > 0) - (v < 0);
}

int compareKey(const KaSortKey& key, const uint8_t* a, const uint8_t* b) noexcept
{
    const uint8_t* ka = a + key.offset;
    const uint8_t* kb = b + key.offset;
    int r;
    if (key.type & KA_SORT_KEY_OBJECT) {
        const KaObject* oa;
        const KaObject* ob;
        memcpy(&oa, ka, sizeof oa);
        memcpy(&ob, kb, sizeof ob);
        if (oa == nullptr || ob == nullptr)
            r = (oa != nullptr) - (ob != nullptr);
        else
            r = sign(oa->compare(*ob));
    } else if (key.type & KA_SORT_KEY_COLLATE) {
        r = compareCollateCounted(reinterpret_cast<const char*>(ka), key.length, reinterpret_cast<const char*>(kb),
                                  key.length);
    } else if ((key.type & KA_SORT_KEY_CALLBACK) && key.callback) {
        r = sign(key.callback(key.context, ka, kb));
    } else {
        r = fastMemcmp(ka, kb, key.length);
    }
    if (r != 0 && (key.type & KA_SORT_KEY_DESCENDING))
        r = -r;
    return r;
}

}  // namespace

bool KaSortCore::keyFits(uint16_t type, uint64_t offset, uint16_t length, uint16_t recordSize) noexcept
{
    bool outside = recordSize != 0 && (offset > recordSize || length > recordSize - offset);
    bool shortObject = (type & KA_SORT_KEY_OBJECT) && length < sizeof(KaObject*);
    return !outside && !shortObject;
}

int KaSortCore::sortObjects(void** items, uint64_t n) noexcept
{
    if (n < 2)
        return 0;
    const KaSortKey key = {KA_SORT_KEY_OBJECT, 0, sizeof(void*), nullptr, nullptr};
    uint8_t* const buffer = reinterpret_cast<uint8_t*>(items);
    const KaSortCore core = {&key, 1, 0, &buffer, n, sizeof(void*)};
    return core.sortRange(0, n - 1);
}

int KaSortCore::compareRecords(const uint8_t* a, const uint8_t* b, uint64_t fromKey) const noexcept
{
    for (uint64_t k = fromKey; k < keyCount; ++k) {
        int r = compareKey(keys[k], a, b);
        if (r != 0)
            return r;
    }
    return 0;
}

uint64_t KaSortCore::leadingEqualKeys(const uint8_t* a, const uint8_t* b, uint64_t limit) const noexcept
{
    uint64_t k = 0;
    while (k < limit && k < keyCount && compareKey(keys[k], a, b) == 0)
        ++k;
    return k;
}

void KaSortCore::swapRecords(uint8_t* a, uint8_t* b) const noexcept
{
    if (a == b)
        return;
    if (recordSize == sizeof(uint64_t)) {
        uint64_t x, y;
        memcpy(&x, a, sizeof x);
        memcpy(&y, b, sizeof y);
        memcpy(a, &y, sizeof y);
        memcpy(b, &x, sizeof x);
        return;
    }
    uint8_t tmp[kSwapChunk];
    for (size_t done = 0; done < recordSize;) {
        size_t n = recordSize - done < kSwapChunk ? recordSize - done : kSwapChunk;
        memcpy(tmp, a + done, n);
        memcpy(a + done, b + done, n);
        memcpy(b + done, tmp, n);
        done += n;
    }
}

int KaSortCore::compareExchange(uint64_t i, uint64_t j) const noexcept
{
    uint8_t* a = recordAt(i);
    uint8_t* b = recordAt(j);
    if (compareRecords(a, b, startKey) > 0) {
        swapRecords(a, b);
        return 1;
    }
    return 0;
}

// The larger part is pushed and the smaller one sorted next, so the stack
// never holds more than log2(n) ranges.
int KaSortCore::sortRange(uint64_t lo64, uint64_t hi64) const noexcept
{
    struct Range {
        int64_t lo, hi;
    } stack[KA_SORT_STACK_DEPTH];
    size_t top = 0;
    int64_t lo = static_cast<int64_t>(lo64);
    int64_t hi = static_cast<int64_t>(hi64);

    for (;;) {
        while (hi > lo) {
            int64_t n = hi - lo + 1;
            if (n == 2) {
                compareExchange(lo, hi);
                break;
            }
            if (n == 3) {
                compareExchange(lo, lo + 1);
                compareExchange(lo + 1, lo + 2);
                compareExchange(lo, lo + 1);
                break;
            }
            if (n == 4) {
                compareExchange(lo, lo + 1);
                compareExchange(lo + 2, lo + 3);
                compareExchange(lo, lo + 2);
                compareExchange(lo + 1, lo + 3);
                compareExchange(lo + 1, lo + 2);
                break;
            }
            int64_t mid = lo + (hi - lo) / 2;
            if (hi - lo <= 150) {
                compareExchange(lo, mid);
                compareExchange(mid, hi);
                compareExchange(lo, mid);
            } else {
                int64_t s[5] = {lo, lo + (hi - lo) / 4, mid, hi - (hi - lo) / 4, hi};
                static const uint8_t net[9][2] = {{0, 1}, {3, 4}, {2, 4}, {2, 3}, {1, 4},
                                                  {0, 3}, {0, 2}, {1, 3}, {1, 2}};
                for (const auto& c : net)
                    compareExchange(s[c[0]], s[c[1]]);
            }
            // The samples at lo and hi now bound the pivot, so both scans stop
            // inside the range without index checks.
            swapRecords(recordAt(mid), recordAt(hi - 1));
            const uint8_t* pivot = recordAt(hi - 1);
            int64_t i = lo;
            int64_t j = hi - 1;
            for (;;) {
                while (compareRecords(recordAt(++i), pivot, startKey) < 0) {
                }
                while (compareRecords(recordAt(--j), pivot, startKey) > 0) {
                }
                if (i >= j)
                    break;
                swapRecords(recordAt(i), recordAt(j));
            }
            swapRecords(recordAt(i), recordAt(hi - 1));

            int64_t leftN = i - lo;
            int64_t rightN = hi - i;
            if (top == KA_SORT_STACK_DEPTH) {
                errPost(MSG_SORT_LIMIT_EXCEEDED);
                return 1;
            }
            if (leftN > rightN) {
                if (leftN >= 2)
                    stack[top++] = {lo, i - 1};
                lo = i + 1;
            } else {
                if (rightN >= 2)
                    stack[top++] = {i + 1, hi};
                hi = i - 1;
            }
        }
        if (top == 0)
            return 0;
        --top;
        lo = stack[top].lo;
        hi = stack[top].hi;
    }
}

int KaSortCore::sortRangeVariant(uint64_t lo, uint64_t hi, int whole) const noexcept
{
    if (hi <= lo || hi == UINT64_MAX)
        return 0;
    if (startKey == 0 || whole)
        return sortRange(lo, hi);
    uint64_t stretch = lo;
    for (uint64_t i = lo + 1; i <= hi + 1; ++i) {
        if (i == hi + 1 || leadingEqualKeys(recordAt(i - 1), recordAt(i), startKey) < startKey) {
            if (i - 1 > stretch && sortRange(stretch, i - 1))
                return 1;
            stretch = i;
        }
    }
    return 0;
}
