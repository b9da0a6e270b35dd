// The sort engine: fixed-size records ordered by up to 64 keys, in memory or,
// when they outgrow 64 buffers of 64 KB, through runs in a private temporary
// file that reading merges. The keys, the record comparison and the
// in-memory quicksort are the foundation's (foundation/kasortcore.h); this
// class adds the buffers it allocates, the run file, the merge, searching
// and groups.
//
// Operations return 0 on success and 1 on failure with a diagnostic posted;
// a read that has no record to give returns 0 with a null record.
#pragma once
#include <cstddef>
#include <cstdint>
#include "foundation/kaobject.h"
#include "foundation/kasortcore.h"

constexpr size_t KA_SORT_MAX_BUFFERS = 64;
constexpr size_t KA_SORT_BUFFER_SIZE = 65536;
constexpr size_t KA_SORT_PATH_SIZE = 1025;

// Flags of KaSort::flags.
enum : uint8_t {
    KA_SORT_OWNS_BUFFERS = 0x1,
    KA_SORT_SPILLED = 0x2,
    KA_SORT_READY = 0x4,
    KA_SORT_REORDER_RUNS = 0x8,
};

struct KaSortMerge;

class KaSort : public KaObject {
public:
    uint64_t runRecords;
    uint64_t readCursor;
    uint64_t totalRecords;
    uint64_t keyCount;
    uint64_t startKey;
    KaSortKey keys[KA_SORT_MAX_KEYS];
    uint16_t runCount;
    uint64_t lastRunRecords;
    int32_t fd;
    char path[KA_SORT_PATH_SIZE];
    uint16_t recordSize;
    uint16_t bufferCount;
    uint64_t recordsPerBuffer;
    uint8_t flags;
    KaSortMerge* merge;
    uint8_t* current;
    // groupFirst and groupLast; the suffix keeps them apart from the
    // operations of the same names.
    uint64_t groupFirstIndex;
    uint64_t groupLastIndex;
    uint8_t* buffers[KA_SORT_MAX_BUFFERS];

    explicit KaSort(uint16_t recordSize) noexcept;
    ~KaSort() override;

    void setRecordSize(uint16_t size) noexcept;
    [[nodiscard]] int addKey(uint16_t type, uint64_t offset, uint16_t length) noexcept;
    // Supplies the function of a callback key added with addKey (index from 0).
    [[nodiscard]] int setKeyCallback(uint64_t index, KaSortCallback callback, void* context) noexcept;
    [[nodiscard]] int addRecord(const void* record) noexcept;
    [[nodiscard]] int getRecordSlot(void** slot) noexcept;
    // Sorts the caller's array of n pointer-sized records in place.
    void attachPointerArray(uint64_t n, void* array) noexcept;
    [[nodiscard]] int finishInput() noexcept;

    [[nodiscard]] int first(void** record) noexcept;
    [[nodiscard]] int next(void** record) noexcept;
    [[nodiscard]] int nextSorted(void** record) noexcept;
    [[nodiscard]] int nextWithLevel(void** record, uint64_t* level) noexcept;
    [[nodiscard]] int find(const void* keyRecord, void** record) noexcept;

    void setStartKey(uint64_t k) noexcept;
    [[nodiscard]] int resort() noexcept;
    uint64_t markGroupStart() noexcept;
    uint64_t markGroupEnd() noexcept;
    [[nodiscard]] int sortGroup(uint64_t k, int whole) noexcept;
    [[nodiscard]] int groupFirst(void** record) noexcept;
    [[nodiscard]] int groupNext(void** record) noexcept;

private:
    // The records in the buffers and the keys, as the quicksort sees them.
    KaSortCore core() const noexcept { return {keys, keyCount, startKey, buffers, recordsPerBuffer, recordSize}; }
    int checkKeys() noexcept;
    int writeRun(uint16_t run) noexcept;
    int prepareRead() noexcept;
    int transfer(uint64_t index, uint64_t count, uint64_t slot, int write) noexcept;
    int keepCurrent(const uint8_t* record) noexcept;
    int mergeInit() noexcept;
    void mergeFree() noexcept;
    int mergeLoad(uint64_t entry, uint64_t protectSlot) noexcept;
    int mergeHead(uint64_t entry, uint64_t protectSlot, const uint8_t** head) noexcept;
    void mergeRetire(uint64_t entry) noexcept;
    int mergeOrder() noexcept;
    int mergeRestart(int atGroupStart) noexcept;
    int mergeAdvance(const uint8_t** record) noexcept;
    int mergeRead(const uint8_t** record) noexcept;
    int readNext(const uint8_t** record) noexcept;
    [[nodiscard]] int resortRuns() noexcept;
    [[nodiscard]] int sortGroupOnDisk(int whole) noexcept;

    // Reading state beyond the record fields: the storage of the private
    // current copy, whether the merge block was
    // allocated (it did not fit in buffer 0), whether the first run's head is
    // still to be handed out (after a restart or a missed find), and whether
    // the last read ran past the end (markGroupEnd needs to know).
    uint8_t* currentCopy = nullptr;
    uint8_t mergeAllocated = 0;
    uint8_t headPending = 0;
    uint8_t atEnd = 0;
};
