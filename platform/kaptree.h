// KaPTree: an ordered sequence of fixed-size records addressed by position,
// kept as a B-tree in its own paged temporary file. Inserting at a position
// moves every later record up by one and removing moves them down, touching
// only one root-to-leaf path: a node stores its children's bases relative to
// its own, so moving a whole subtree is one change in its parent. Library
// code: no driver path builds one.
#pragma once
#include <cstdint>

#include "foundation/kaobject.h"
#include "platform/katmpfil.h"

// Deepest tree the path buffers hold; fan-outs of at least four reach it
// only past any file the scratch space can hold.
constexpr uint16_t KA_PTREE_MAX_DEPTH = 24;
// Positions at or above this are refused, so that shifting never overflows.
constexpr uint64_t KA_PTREE_MAX_POSITION = uint64_t(1) << 62;
// Bit of KaPTreeIterator::flags.
constexpr uint32_t KA_PTREE_POSITIONED = 1;

class KaPTreeIterator {
public:
    uint64_t position = 0;  // the absolute position last returned
    uint32_t flags = 0;
};

class KaPTree : public KaObject {
public:
    // Records of more bytes than a node can hold four of make a tree that
    // refuses every operation with MSG_TREE_ENTRY_TOO_LARGE.
    explicit KaPTree(uint16_t recordSize) noexcept;
    ~KaPTree() override;
    KaPTree(const KaPTree&) = delete;
    KaPTree& operator=(const KaPTree&) = delete;

    // The record takes the position; every record at or after it moves up.
    [[nodiscard]] int insertAt(uint64_t position, const void* record) noexcept;
    // Every record at or after the position moves up; the position is left free.
    [[nodiscard]] int shiftFrom(uint64_t position) noexcept;
    // Removes the record at the position (*found tells whether one stood
    // there); every later record moves down by one either way.
    [[nodiscard]] int removeAt(uint64_t position, int* found) noexcept;
    // Traversals in position order; a null iterator means the tree's own.
    // next and previous step from the position the iterator last returned,
    // so they stay right across changes of the tree.
    [[nodiscard]] int first(uint64_t* position, void* record, int* found, KaPTreeIterator* iterator) noexcept;
    [[nodiscard]] int next(uint64_t* position, void* record, int* found, KaPTreeIterator* iterator) noexcept;
    [[nodiscard]] int previous(uint64_t* position, void* record, int* found, KaPTreeIterator* iterator) noexcept;
    [[nodiscard]] int last(uint64_t* position, void* record, int* found, KaPTreeIterator* iterator) noexcept;

    uint16_t recordSize;
    uint16_t leafCapacity;  // 0 when the record size is refused
    uint64_t root;          // 0 while the tree is empty
    int64_t rootBase;       // base of the root's keys
    uint64_t entryCount;
    uint16_t depth;  // levels below the root
    // Set when writing a changed path failed part way: the tree no longer
    // answers, rather than answering wrongly.
    int32_t broken;
    KaTmpFile file;
    KaPTreeIterator iterator;

private:
    [[nodiscard]] int ready() noexcept;
    [[nodiscard]] int checkPosition(uint64_t position) noexcept;
    // Reads the path to the leaf that holds (or would hold) the key and
    // applies the shift of `delta` to every key at or above it; the insert
    // and remove bodies finish the leaf, then write the path.
    [[nodiscard]] int descendShifting(int64_t key, int64_t delta) noexcept;
    [[nodiscard]] int writePath(uint16_t levels) noexcept;
    [[nodiscard]] int splitUp(uint16_t level, uint16_t* levels) noexcept;
    void dropEmptyUp(uint16_t level) noexcept;
    [[nodiscard]] int seek(uint16_t level, uint64_t node, int64_t base, int64_t key, int forward, int strict,
                           uint64_t* position, void* record, int* found) noexcept;
    [[nodiscard]] int edgeOrStep(uint64_t* position, void* record, int* found, KaPTreeIterator* iterator, int forward,
                                 int step) noexcept;
    [[nodiscard]] int failWrite() noexcept;

    uint8_t* work;        // per level: a node and room for one overflow entry
    uint64_t* pathNodes;  // node offset per level, root first
    int64_t* pathBases;   // absolute base per level
    uint16_t* pathIndex;  // child slot taken per internal level
    uint8_t* spare;       // the right half of a split
};
