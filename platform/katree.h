// KaTree: a B-tree of fixed-size entries (key and data) whose nodes live in
// the tree's own paged temporary file, one node inside one page, with
// duplicate keys on request, removal by a per-entry deleted marker,
// in-order iteration both ways through KaTreeIterator, and a relative-key
// mode for trees whose keys are positions. For indexes that may outgrow
// memory; no driver path builds one yet.
#pragma once
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"
#include "platform/katmpfil.h"

// Orders two keys of keyLen bytes: -1, 0 or 1.
using KaTreeCompare = int16_t (*)(const void* a, const void* b, uint16_t keyLen);
// The same with a context of the owner's.
using KaTreeContextCompare = int16_t (*)(void* context, const void* a, const void* b);

// Bits of KaTree::flags.
constexpr uint16_t KA_TREE_MARKED = 1;      // entries carry a deleted marker
constexpr uint16_t KA_TREE_DUPLICATES = 2;  // equal keys may repeat
// Keys are 8-byte numbers stored as offsets from their node's base: the
// absolute key left of the child slot that leads to the node (0 for the
// root and leftmost nodes). Set before the first insert.
constexpr uint16_t KA_TREE_RELATIVE = 4;

// Bytes of a page a node's entries may fill, and the fan-out cap.
constexpr uint16_t KA_TREE_NODE_SPACE = 2028;
constexpr uint16_t KA_TREE_MAX_CHILDREN = 49;
// Node header: count, a zero byte, padding, own offset, child 0.
constexpr uint16_t KA_TREE_HEADER = 24;
// Largest entry that still lets a node hold two keys: a node of one key
// cannot split.
constexpr uint16_t KA_TREE_MAX_ENTRY = KA_TREE_NODE_SPACE / 2;
// Levels allocated for an iterator's path when it is first attached.
constexpr uint16_t KA_TREE_PATH_LEVELS = 32;
// Position that marks the place before the first entry.
constexpr uint64_t KA_TREE_BEFORE_FIRST = 0xFFFF;
// Bit of KaTreeIterator::flags.
constexpr uint32_t KA_TREE_POSITIONED = 1;

class KaTree;

class KaTreeIterator : public KaObject {
public:
    KaTreeIterator() noexcept;
    ~KaTreeIterator() override;
    KaTreeIterator(const KaTreeIterator&) = delete;
    KaTreeIterator& operator=(const KaTreeIterator&) = delete;

    KaTree* tree;
    // Node offsets from the root down; at every level above the last the
    // position is the child descended into, at the last it is a key index.
    KaArrayKASIZE_T path;
    KaArrayKASIZE_T positions;
    int64_t base;
    uint32_t flags;
};

class KaTree : public KaObject {
public:
    // Sizes that leave a node room for fewer than two keys (or a key of no
    // bytes) make a tree that refuses every operation; usable() tells.
    KaTree(uint16_t keyLen, uint16_t dataLen, KaTreeCompare compare, int markDeleted, int duplicates,
           int32_t noLock) noexcept;
    ~KaTree() override;
    KaTree(const KaTree&) = delete;
    KaTree& operator=(const KaTree&) = delete;

    [[nodiscard]] virtual int first(void* key, void* data, int* found, KaTreeIterator* iterator) noexcept;
    [[nodiscard]] virtual int next(void* key, void* data, int* found, KaTreeIterator* iterator) noexcept;
    [[nodiscard]] virtual int previous(void* key, void* data, int* found, KaTreeIterator* iterator) noexcept;
    [[nodiscard]] virtual int last(void* key, void* data, int* found, KaTreeIterator* iterator) noexcept;
    [[nodiscard]] virtual int locate(const void* key, uint64_t* node, uint16_t* position, int* found,
                                     KaTreeIterator* iterator, int descend) noexcept;
    // Splits the full node image `full` with the entry (key, data with its
    // marker, right child r) to go in at p; the separator is left in the
    // separator work buffers and its right child is the new node.
    [[nodiscard]] virtual int splitChild(uint64_t node, uint16_t p, uint64_t r, uint64_t newNode) noexcept;
    virtual int afterSplit(uint64_t newNode, const void* separatorKey) noexcept;

    // Checks the sizes the constructor was given; posts MSG_TREE_ENTRY_TOO_LARGE
    // and returns 1 when they cannot make a working tree.
    [[nodiscard]] int usable() noexcept;
    [[nodiscard]] int insert(const void* key, const void* data, int* existed) noexcept;
    [[nodiscard]] int get(const void* key, void* data, int* found) noexcept;
    [[nodiscard]] int setData(const void* key, const void* data) noexcept;
    [[nodiscard]] int rekey(const void* oldKey, const void* newKey, int* existed) noexcept;
    [[nodiscard]] int remove(const void* key, const void* data, int* found) noexcept;
    [[nodiscard]] int setDataAtIterator(const void* data, KaTreeIterator* iterator) noexcept;
    int clear() noexcept;

    uint16_t keyLen;
    uint16_t dataLen;
    KaTreeCompare compareKeys;
    KaTreeContextCompare contextCompare;
    void* compareContext;
    uint16_t flags;
    uint16_t maxEntries;
    uint16_t entrySize;
    uint16_t nodeBytes;
    uint8_t markerLen;
    uint64_t root;
    KaTmpFile file;
    KaTreeIterator iterator;
    uint8_t* insertKey;
    uint8_t* insertData;
    uint8_t* separatorKey;
    uint8_t* separatorData;
    uint64_t entryCount;
    uint64_t nodeCount;
    uint16_t lastDepth;
    uint16_t maxDepth;

private:
    struct Node;
    // Bytes a node really spans: its last child pointer ends past nodeBytes.
    uint64_t span() const noexcept { return (uint64_t(nodeBytes) + 4 + 7) / 8 * 8; }
    int16_t compareKey(const void* a, const void* b) const noexcept;
    [[nodiscard]] int readNode(uint64_t offset, Node* node) noexcept;
    [[nodiscard]] int writeNode(uint64_t offset, const Node* node) noexcept;
    [[nodiscard]] int newNode(uint64_t* offset) noexcept;
    [[nodiscard]] int attach(KaTreeIterator* it) noexcept;
    [[nodiscard]] int push(KaTreeIterator* it, uint64_t node, uint64_t position) noexcept;
    // Lower-bound descent to a leaf: the iterator ends at the first entry
    // not below key (possibly one past the leaf's last key).
    [[nodiscard]] int descend(const void* key, KaTreeIterator* it) noexcept;
    // Moves an iterator whose last position is past its node's keys up to
    // the next entry; *atEnd 1 when there is none.
    [[nodiscard]] int settle(KaTreeIterator* it, int* atEnd) noexcept;
    [[nodiscard]] int step(KaTreeIterator* it, int forward, int* atEnd) noexcept;
    [[nodiscard]] int edge(KaTreeIterator* it, uint64_t from, int leftmost) noexcept;
    // Relative mode: the base of the node at the given level of the path
    // (the sum of the keys left of each child slot taken above it).
    [[nodiscard]] int pathBase(KaTreeIterator* it, size_t levels, uint64_t* base) noexcept;
    // Relative mode: subtracts from every key stored in the node.
    [[nodiscard]] int rebaseNode(uint64_t offset, uint64_t by) noexcept;
    // Copies out the entry at the iterator; *live 0 for a marked entry.
    [[nodiscard]] int entryAt(KaTreeIterator* it, void* key, void* data, int* live) noexcept;
    [[nodiscard]] int walk(void* key, void* data, int* found, KaTreeIterator* it, int forward) noexcept;
    // first (leftmost 1) or last (0).
    [[nodiscard]] int fromEdge(void* key, void* data, int* found, KaTreeIterator* iterator, int leftmost) noexcept;
    // The first live entry with this key, left at the iterator.
    [[nodiscard]] int findLive(const void* key, KaTreeIterator* it, int* found) noexcept;
    [[nodiscard]] int removeAt(KaTreeIterator* it) noexcept;
    [[nodiscard]] int insertEntry(const void* key, const void* data) noexcept;
    [[nodiscard]] int ready() noexcept;

    KaTreeIterator probe;  // existence checks of insert, without disturbing `iterator`
    uint8_t* splitSpace;   // one full node plus one entry, for splits
};
