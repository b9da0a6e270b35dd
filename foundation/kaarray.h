// Growable arrays of pointer-sized slots (KaArray and its typed forms), the
// array ordered by the elements' compare() (KaSortedArray), and alignment
// helpers. Every subsystem keeps its sequences in these.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"

class KaArray : public KaObject {
public:
    // Bits of `flags`.
    static constexpr uint8_t ownsElements = 1;     // the array deletes its elements
    static constexpr uint8_t destroyAllSlots = 2;  // deletion visits all capacity slots
    static constexpr uint8_t ownsBuffer = 4;       // the array frees `items`

    void** items;
    size_t capacity;
    size_t count;
    size_t growStep;  // 0: double
    uint8_t flags;
    uint8_t sortFlags;  // the sorted array's no-sort bits

    KaArray() noexcept;
    KaArray(size_t growStep, uint8_t flags) noexcept;
    KaArray(const KaArray&) = delete;
    KaArray& operator=(const KaArray&) = delete;
    ~KaArray() override;

    KaObject* at(size_t index) const noexcept { return static_cast<KaObject*>(items[index]); }

    // A fresh block of n null slots (an owned block held before is freed).
    [[nodiscard]] int16_t allocate(size_t n) noexcept;
    // Grows by n slots, or doubles for n 0; keep 1 copies the old slots.
    [[nodiscard]] int16_t reserve(size_t n, int keep) noexcept;
    // Indices are the caller's to keep in range: index <= count here,
    // index < count for the removal operations.
    [[nodiscard]] int16_t insertAt(void* item, size_t index) noexcept;
    [[nodiscard]] int16_t append(void* item) noexcept { return insertAt(item, count); }
    void removeAt(size_t index) noexcept;
    void deleteAt(size_t index) noexcept;
    void deleteAll() noexcept;
    // capacity and count become n; slots beyond the old size are null.
    [[nodiscard]] int16_t setSize(size_t n) noexcept;
    int contains(const void* pointer) const noexcept;
};

class KaArrayKASIZE_T : public KaArray {
public:
    KaArrayKASIZE_T() noexcept = default;
    ~KaArrayKASIZE_T() override;
    size_t at(size_t index) const noexcept { return reinterpret_cast<size_t>(items[index]); }
    void setAt(size_t index, size_t value) noexcept { items[index] = reinterpret_cast<void*>(value); }
    [[nodiscard]] int16_t insertAt(size_t value, size_t index) noexcept
    {
        return KaArray::insertAt(reinterpret_cast<void*>(value), index);
    }
    [[nodiscard]] int16_t append(size_t value) noexcept { return insertAt(value, count); }
};

class KaArrayKASSIZE_T : public KaArray {
public:
    KaArrayKASSIZE_T() noexcept = default;
    ~KaArrayKASSIZE_T() override;
    ptrdiff_t at(size_t index) const noexcept { return reinterpret_cast<ptrdiff_t>(items[index]); }
    void setAt(size_t index, ptrdiff_t value) noexcept { items[index] = reinterpret_cast<void*>(value); }
    [[nodiscard]] int16_t insertAt(ptrdiff_t value, size_t index) noexcept
    {
        return KaArray::insertAt(reinterpret_cast<void*>(value), index);
    }
    [[nodiscard]] int16_t append(ptrdiff_t value) noexcept { return insertAt(value, count); }
};

class KaArrayS32 : public KaArray {
public:
    KaArrayS32() noexcept = default;
    ~KaArrayS32() override;
    int32_t at(size_t index) const noexcept { return static_cast<int32_t>(reinterpret_cast<intptr_t>(items[index])); }
    void setAt(size_t index, int32_t value) noexcept
    {
        items[index] = reinterpret_cast<void*>(static_cast<intptr_t>(value));
    }
    [[nodiscard]] int16_t insertAt(int32_t value, size_t index) noexcept
    {
        return KaArray::insertAt(reinterpret_cast<void*>(static_cast<intptr_t>(value)), index);
    }
    [[nodiscard]] int16_t append(int32_t value) noexcept { return insertAt(value, count); }
};

class KaArrayU32 : public KaArray {
public:
    KaArrayU32() noexcept = default;
    ~KaArrayU32() override;
    uint32_t at(size_t index) const noexcept
    {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(items[index]));
    }
    void setAt(size_t index, uint32_t value) noexcept
    {
        items[index] = reinterpret_cast<void*>(static_cast<uintptr_t>(value));
    }
    [[nodiscard]] int16_t insertAt(uint32_t value, size_t index) noexcept
    {
        return KaArray::insertAt(reinterpret_cast<void*>(static_cast<uintptr_t>(value)), index);
    }
    [[nodiscard]] int16_t append(uint32_t value) noexcept { return insertAt(value, count); }
};

// Slots hold raw blocks from ramAlloc; owned elements are freed, not deleted.
class KaArrayPVoid : public KaArray {
public:
    KaArrayPVoid() noexcept = default;
    ~KaArrayPVoid() override;
    void* at(size_t index) const noexcept { return items[index]; }
    void freeAll() noexcept;
    void freeAt(size_t index) noexcept;
};

class KaSortedArray : public KaArray {
public:
    // Bits of `sortFlags`: either one makes insertSorted append.
    static constexpr uint8_t noSort1 = 1;
    static constexpr uint8_t noSort2 = 2;

    KaSortedArray() noexcept;
    ~KaSortedArray() override;

    // Equal elements keep their insertion order.
    [[nodiscard]] int16_t insertSorted(KaObject* element) noexcept;
    // Binary search; *position is where the element belongs when not found.
    int search(const KaObject& element, size_t* position) const noexcept;
    int findEqual(const KaObject& key, size_t* index) const noexcept;
    // One ascending sort of the element pointers by their compare().
    [[nodiscard]] int16_t sort() noexcept;
    // Deletes all but the first of each run of equal elements.
    void removeDuplicates() noexcept;
    // The same without deleting the dropped elements.
    void dropDuplicates() noexcept;

private:
    size_t lastEqual(const KaObject& element, size_t position) const noexcept;
};

class KaSortedArrayKASIZE_T : public KaArrayKASIZE_T {
public:
    KaSortedArrayKASIZE_T() noexcept;
    ~KaSortedArrayKASIZE_T() override;
    [[nodiscard]] int16_t insertSorted(size_t value) noexcept;
    int search(size_t value, size_t* position) const noexcept;
    // Index of the last of the run of values equal to the one at position.
    size_t lastEqual(size_t position) const noexcept;
};

int isValidAlignment(uint16_t alignment) noexcept;
// Sizes are left as they are for an alignment that is no power of two.
size_t alignUp(size_t* size, uint16_t alignment) noexcept;
uint16_t alignUp16(uint16_t* size, uint16_t alignment) noexcept;
