// Growable arrays, sorted arrays and alignment helpers.
#include "foundation/kaarray.h"

#include <cstring>

#include "foundation/fast.h"
#include "foundation/kasortcore.h"
#include "foundation/ram.h"

namespace {

constexpr size_t kSlotSize = sizeof(void*);
constexpr size_t kSortedGrowStep = 16;
constexpr uint16_t kLargestAlignment = 4096;

// Bytes for n slots, or 0 when that cannot be had (after the diagnostic).
size_t slotBytes(size_t n) noexcept
{
    if (n > SIZE_MAX / kSlotSize) {
        ramOutOfMemory();
        return 0;
    }
    return n * kSlotSize;
}

// Binary search of the sorted slots 0..count-1; order(i) compares the wanted
// element with slot i (<0 before it). 1 with *position at an equal slot, else
// 0 with *position where the element belongs.
template <typename Order>
int searchSlots(size_t count, size_t* position, Order order) noexcept
{
    *position = 0;
    if (count == 0 || order(0) < 0)
        return 0;
    size_t lo = 0;
    size_t hi = count - 1;
    size_t mid = 0;
    int r = 0;
    while (lo <= hi) {
        mid = lo + (hi - lo) / 2;
        r = order(mid);
        if (r == 0) {
            *position = mid;
            return 1;
        }
        if (r > 0) {
            lo = mid + 1;
        } else {
            if (mid == 0)
                break;
            hi = mid - 1;
        }
    }
    *position = r > 0 ? mid + 1 : mid;
    return 0;
}

}  // namespace

// ---- KaArray -------------------------------------------------------------

KaArray::KaArray() noexcept : items(nullptr), capacity(0), count(0), growStep(0), flags(0), sortFlags(0) {}

KaArray::KaArray(size_t step, uint8_t f) noexcept
    : items(nullptr), capacity(0), count(0), growStep(step), flags(f), sortFlags(0)
{}

KaArray::~KaArray()
{
    if (flags & ownsElements)
        deleteAll();
    if ((flags & ownsBuffer) && items != nullptr)
        ramFree(items);
    items = nullptr;
}

int16_t KaArray::allocate(size_t n) noexcept
{
    size_t bytes = n == 0 ? 1 : slotBytes(n);
    if (bytes == 0)
        return 1;
    auto* block = static_cast<void**>(ramAlloc(bytes));
    if (block == nullptr)
        return 1;
    if (n > 0)
        std::memset(block, 0, bytes);
    if ((flags & ownsBuffer) && items != nullptr)
        ramFree(items);
    items = block;
    capacity = n;
    if (count > n)
        count = n;
    flags |= ownsBuffer;
    return 0;
}

int16_t KaArray::reserve(size_t n, int keep) noexcept
{
    size_t grown;
    if (n == 0)
        grown = capacity == 0 ? 1 : capacity * 2;
    else
        grown = capacity + n;
    if (grown < capacity || grown == 0) {
        ramOutOfMemory();
        return 1;
    }
    size_t bytes = slotBytes(grown);
    if (bytes == 0)
        return 1;
    auto* block = static_cast<void**>(ramAlloc(bytes));
    if (block == nullptr)
        return 1;
    if (keep) {
        if (capacity > 0 && items != nullptr)
            fastMemcpy8(block, items, capacity * kSlotSize);
        std::memset(block + capacity, 0, (grown - capacity) * kSlotSize);
    } else {
        fastMemzero(block, bytes);
    }
    if ((flags & ownsBuffer) && items != nullptr)
        ramFree(items);
    items = block;
    capacity = grown;
    flags |= ownsBuffer;
    return 0;
}

int16_t KaArray::insertAt(void* item, size_t index) noexcept
{
    if (count >= capacity && reserve(growStep, 1) != 0)
        return 1;
    if (index > count)
        index = count;
    if (index < count)
        std::memmove(items + index + 1, items + index, (count - index) * kSlotSize);
    items[index] = item;
    ++count;
    return 0;
}

void KaArray::removeAt(size_t index) noexcept
{
    if (index >= count)
        return;
    std::memmove(items + index, items + index + 1, (count - index - 1) * kSlotSize);
    --count;
    items[count] = nullptr;
}

void KaArray::deleteAt(size_t index) noexcept
{
    if (index >= count)
        return;
    delete static_cast<KaObject*>(items[index]);
    removeAt(index);
}

void KaArray::deleteAll() noexcept
{
    size_t n = (flags & destroyAllSlots) ? capacity : count;
    for (size_t i = 0; i < n && items != nullptr; ++i) {
        auto* element = static_cast<KaObject*>(items[i]);
        items[i] = nullptr;
        delete element;
    }
    count = 0;
}

int16_t KaArray::setSize(size_t n) noexcept
{
    if (n == 0) {
        if ((flags & ownsBuffer) && items != nullptr) {
            ramFree(items);
            items = nullptr;
        }
        capacity = 0;
        count = 0;
        return 0;
    }
    if (n != capacity || items == nullptr) {
        size_t bytes = slotBytes(n);
        if (bytes == 0)
            return 1;
        if ((flags & ownsBuffer) && items != nullptr) {
            void* block = items;
            if (ramRealloc(&block, bytes) != 0)
                return 1;
            items = static_cast<void**>(block);
        } else if (n > capacity || items == nullptr) {
            // A borrowed block cannot hold more than it has: the array
            // moves to a block of its own and leaves the caller's untouched.
            auto* block = static_cast<void**>(ramAlloc(bytes));
            if (block == nullptr)
                return 1;
            if (items != nullptr && capacity > 0)
                fastMemcpy8(block, items, capacity * kSlotSize);
            items = block;
            flags |= ownsBuffer;
        }
        // New slots are counted as used, so they must not hold stray pointers.
        if (n > capacity)
            std::memset(items + capacity, 0, (n - capacity) * kSlotSize);
    }
    capacity = n;
    count = n;
    return 0;
}

int KaArray::contains(const void* pointer) const noexcept
{
    for (size_t i = 0; i < count; ++i) {
        if (items[i] == pointer)
            return 1;
    }
    return 0;
}

KaArrayKASIZE_T::~KaArrayKASIZE_T() = default;
KaArrayKASSIZE_T::~KaArrayKASSIZE_T() = default;
KaArrayS32::~KaArrayS32() = default;
KaArrayU32::~KaArrayU32() = default;

// ---- KaArrayPVoid --------------------------------------------------------

KaArrayPVoid::~KaArrayPVoid()
{
    if (flags & ownsElements)
        freeAll();
    // The blocks are not objects: the base must not delete them.
    flags &= static_cast<uint8_t>(~ownsElements);
}

void KaArrayPVoid::freeAll() noexcept
{
    size_t n = (flags & destroyAllSlots) ? capacity : count;
    for (size_t i = 0; i < n && items != nullptr; ++i) {
        ramFree(items[i]);
        items[i] = nullptr;
    }
    count = 0;
}

void KaArrayPVoid::freeAt(size_t index) noexcept
{
    if (index >= count)
        return;
    ramFree(items[index]);
    removeAt(index);
}

// ---- KaSortedArray -------------------------------------------------------

KaSortedArray::KaSortedArray() noexcept : KaArray(kSortedGrowStep, 0) {}

KaSortedArray::~KaSortedArray() = default;

int KaSortedArray::search(const KaObject& element, size_t* position) const noexcept
{
    return searchSlots(count, position, [&](size_t i) { return element.compare(*at(i)); });
}

size_t KaSortedArray::lastEqual(const KaObject& element, size_t position) const noexcept
{
    while (position + 1 < count && element.compare(*at(position + 1)) == 0)
        ++position;
    return position;
}

int16_t KaSortedArray::insertSorted(KaObject* element) noexcept
{
    if (count == 0 || (sortFlags & (noSort1 | noSort2)))
        return insertAt(element, count);
    size_t position = 0;
    if (search(*element, &position))
        position = lastEqual(*element, position) + 1;
    return insertAt(element, position);
}

int KaSortedArray::findEqual(const KaObject& key, size_t* index) const noexcept
{
    for (size_t i = 0; i < count; ++i) {
        if (at(i)->compare(key) == 0) {
            *index = i;
            return 1;
        }
    }
    *index = count;
    return 0;
}

int16_t KaSortedArray::sort() noexcept
{
    return KaSortCore::sortObjects(items, count) != 0 ? 1 : 0;
}

void KaSortedArray::removeDuplicates() noexcept
{
    size_t i = 1;
    while (i < count) {
        if (at(i - 1)->compare(*at(i)) == 0)
            deleteAt(i);
        else
            ++i;
    }
}

void KaSortedArray::dropDuplicates() noexcept
{
    size_t i = 1;
    while (i < count) {
        if (at(i - 1)->compare(*at(i)) == 0)
            removeAt(i);
        else
            ++i;
    }
}

// ---- KaSortedArrayKASIZE_T -----------------------------------------------

KaSortedArrayKASIZE_T::KaSortedArrayKASIZE_T() noexcept
{
    growStep = kSortedGrowStep;
}

KaSortedArrayKASIZE_T::~KaSortedArrayKASIZE_T() = default;

int KaSortedArrayKASIZE_T::search(size_t value, size_t* position) const noexcept
{
    return searchSlots(count, position, [&](size_t i) {
        size_t v = at(i);
        return (value > v) - (value < v);
    });
}

size_t KaSortedArrayKASIZE_T::lastEqual(size_t position) const noexcept
{
    if (position >= count)
        return position;
    size_t value = at(position);
    while (position + 1 < count && at(position + 1) == value)
        ++position;
    return position;
}

int16_t KaSortedArrayKASIZE_T::insertSorted(size_t value) noexcept
{
    size_t position = 0;
    if (search(value, &position))
        position = lastEqual(position) + 1;
    return insertAt(value, position);
}

// ---- Alignment -------------------------------------------------------------

int isValidAlignment(uint16_t alignment) noexcept
{
    return alignment >= 2 && alignment <= kLargestAlignment && (alignment & (alignment - 1)) == 0;
}

size_t alignUp(size_t* size, uint16_t alignment) noexcept
{
    if (isValidAlignment(alignment)) {
        size_t a = alignment;
        *size = (*size + a - 1) & ~(a - 1);
    }
    return *size;
}

uint16_t alignUp16(uint16_t* size, uint16_t alignment) noexcept
{
    if (isValidAlignment(alignment)) {
        unsigned a = alignment;
        *size = static_cast<uint16_t>((*size + a - 1) & ~(a - 1));
    }
    return *size;
}
