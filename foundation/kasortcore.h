// The in-memory core of the sort engine: sort keys, the comparison of two
// fixed-size records by them, and the quicksort of records held in record
// buffers. KaSortedArray sorts its element pointers with it; the platform's
// KaSort (run files, merging, group sorts) keeps its records in such buffers
// and orders them through it.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t KA_SORT_MAX_KEYS = 64;
constexpr size_t KA_SORT_STACK_DEPTH = 200;

// Key types (bits).
enum : uint16_t {
    KA_SORT_KEY_DESCENDING = 0x1,
    KA_SORT_KEY_COLLATE = 0x2,  // locale collation of two counted texts
    KA_SORT_KEY_CALLBACK = 0x4,
    KA_SORT_KEY_OBJECT = 0x8,  // the key holds a KaObject*, ordered by its compare()
};

// Returns <0, 0 or >0 for the key values at a and b.
typedef int16_t (*KaSortCallback)(void* context, const void* a, const void* b);

struct KaSortKey {
    uint16_t type;
    uint64_t offset;
    uint16_t length;
    KaSortCallback callback;
    void* context;
};

// The records and keys of one sort as the quicksort sees them: a view over
// fields its owner keeps (KaSort lends its own), owning nothing. Record i
// lies in buffer i / recordsPerBuffer at byte (i mod recordsPerBuffer) x
// recordSize.
struct KaSortCore {
    const KaSortKey* keys;
    uint64_t keyCount;
    uint64_t startKey;  // sorting compares from this key on
    uint8_t* const* buffers;
    uint64_t recordsPerBuffer;
    uint16_t recordSize;

    // Whether a key lies inside records of recordSize bytes (any key fits
    // while the size is still 0) and an object key has room for its pointer.
    static bool keyFits(uint16_t type, uint64_t offset, uint16_t length, uint16_t recordSize) noexcept;

    // Sorts n KaObject pointers in place, ascending by compare(): one object
    // key over the caller's array as the only buffer. 0, or 1 with the
    // diagnostic posted.
    [[nodiscard]] static int sortObjects(void** items, uint64_t n) noexcept;

    // <0, 0 or >0 by the keys from fromKey on.
    int compareRecords(const uint8_t* a, const uint8_t* b, uint64_t fromKey) const noexcept;
    // How many keys from key 0 (at most limit) compare equal before the first
    // that differs.
    uint64_t leadingEqualKeys(const uint8_t* a, const uint8_t* b, uint64_t limit) const noexcept;
    uint8_t* recordAt(uint64_t slot) const noexcept
    {
        return buffers[slot / recordsPerBuffer] + (slot % recordsPerBuffer) * recordSize;
    }
    void swapRecords(uint8_t* a, uint8_t* b) const noexcept;
    // Puts records i and j in order from startKey; 1 when they were swapped.
    int compareExchange(uint64_t i, uint64_t j) const noexcept;
    // Sorts records lo..hi (not stable) by the keys from startKey. 0, or 1
    // with the diagnostic posted and the records partly ordered.
    [[nodiscard]] int sortRange(uint64_t lo, uint64_t hi) const noexcept;
    // With startKey 0 or whole set, sortRange; otherwise each stretch of
    // records that agree on the keys before startKey is sorted by itself.
    [[nodiscard]] int sortRangeVariant(uint64_t lo, uint64_t hi, int whole) const noexcept;
};
