// The positional tree: a B-tree over the paged scratch file whose leaves hold
// (key, record) pairs and whose inner nodes hold (child base, child offset)
// pairs. Keys and bases are relative to the base of the node that holds
// them; a node's base is its parent's base plus the child base its parent
// keeps for it. Routing takes the last child whose base is not above the
// key, so a child's keys lie between its base and its right neighbour's.
#include "platform/kaptree.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

constexpr uint64_t kNodeBytes = KA_TMP_PAGE_SIZE;
constexpr uint64_t kHeader = 8;  // count (16 bits), leaf flag, padding
constexpr uint64_t kInnerEntry = 16;
constexpr uint16_t kInnerCapacity = uint16_t((kNodeBytes - kHeader) / kInnerEntry);
// A split leaves at least two entries in each half.
constexpr uint16_t kMinCapacity = 4;

uint16_t countOf(const uint8_t* n)
{
    uint16_t c;
    memcpy(&c, n, 2);
    return c;
}
void setCount(uint8_t* n, uint16_t c)
{
    memcpy(n, &c, 2);
}
bool isLeaf(const uint8_t* n)
{
    return n[2] != 0;
}
int64_t getI64(const uint8_t* p)
{
    int64_t v;
    memcpy(&v, p, 8);
    return v;
}
void setI64(uint8_t* p, int64_t v)
{
    memcpy(p, &v, 8);
}
uint64_t getU64(const uint8_t* p)
{
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}
void setU64(uint8_t* p, uint64_t v)
{
    memcpy(p, &v, 8);
}

}  // namespace

KaPTree::KaPTree(uint16_t recordSize) noexcept
    : recordSize(recordSize), leafCapacity(0), root(0), rootBase(0), entryCount(0), depth(0), broken(0),
      file(KA_TMP_DEFAULT_CACHE, 1), work(nullptr), pathNodes(nullptr), pathBases(nullptr), pathIndex(nullptr),
      spare(nullptr)
{
    uint64_t capacity = (kNodeBytes - kHeader) / (8 + uint64_t(recordSize));
    if (recordSize > 0 && capacity >= kMinCapacity)
        leafCapacity = uint16_t(capacity);
    // Offset 0 stays unused: a root of 0 is the empty tree.
    (void)file.allocate(1);
}

KaPTree::~KaPTree()
{
    ramFree(work);
    ramFree(pathNodes);
    ramFree(pathBases);
    ramFree(pathIndex);
    ramFree(spare);
}

static uint64_t bufferBytes(uint16_t recordSize)
{
    // One entry past a full node, so that a node may overflow before it splits.
    return kNodeBytes + 8 + (recordSize > 8 ? recordSize : 8);
}

int KaPTree::ready() noexcept
{
    if (leafCapacity == 0) {
        KaError* e = errPost(MSG_TREE_ENTRY_TOO_LARGE);
        if (e) {
            e->addParamSigned(8);
            e->addParamSigned(recordSize);
        }
        return 1;
    }
    if (broken) {
        (void)errPost(MSG_PTREE_BROKEN);
        return 1;
    }
    if (work)
        return 0;
    uint64_t levels = uint64_t(KA_PTREE_MAX_DEPTH) + 2;
    // All five buffers or none.
    RamPtr<uint8_t> workBuffer = ramMake<uint8_t>(size_t(bufferBytes(recordSize) * levels));
    RamPtr<uint64_t> nodes = ramMake<uint64_t>(size_t(levels));
    RamPtr<int64_t> bases = ramMake<int64_t>(size_t(levels));
    RamPtr<uint16_t> index = ramMake<uint16_t>(size_t(levels));
    RamPtr<uint8_t> spareBuffer = ramMake<uint8_t>(size_t(bufferBytes(recordSize)));
    if (!workBuffer || !nodes || !bases || !index || !spareBuffer)
        return 1;
    work = workBuffer.release();
    pathNodes = nodes.release();
    pathBases = bases.release();
    pathIndex = index.release();
    spare = spareBuffer.release();
    return 0;
}

int KaPTree::checkPosition(uint64_t position) noexcept
{
    if (position < KA_PTREE_MAX_POSITION)
        return 0;
    KaError* e = errPost(MSG_PTREE_POSITION_TOO_LARGE);
    if (e)
        e->addParamUnsigned(position);
    return 1;
}

int KaPTree::failWrite() noexcept
{
    broken = 1;
    (void)errPost(MSG_PTREE_BROKEN);
    return 1;
}

int KaPTree::descendShifting(int64_t key, int64_t delta) noexcept
{
    const uint64_t buf = bufferBytes(recordSize);
    if (root == 0) {
        // The first leaf is made here and only written with the rest of the path.
        uint8_t* n = work;
        memset(n, 0, kHeader);
        n[2] = 1;
        root = file.allocate(kNodeBytes);
        rootBase = 0;
        depth = 0;
        pathNodes[0] = root;
        pathBases[0] = 0;
        return 0;
    }
    uint64_t node = root;
    int64_t base = rootBase;
    for (uint16_t level = 0;; ++level) {
        uint8_t* n = work + buf * level;
        if (file.read(node, n, kNodeBytes))
            return 1;
        pathNodes[level] = node;
        pathBases[level] = base;
        if (isLeaf(n))
            return 0;
        if (level >= depth)
            return failWrite();
        uint16_t count = countOf(n);
        int64_t rel = key - base;
        uint16_t i = 0;
        for (uint16_t j = 1; j < count; ++j) {
            if (getI64(n + kHeader + kInnerEntry * j) <= rel)
                i = j;
            else
                break;
        }
        pathIndex[level] = i;
        // Every child right of the one taken holds only keys above the
        // key: moving its base moves the whole subtree.
        for (uint16_t j = uint16_t(i + 1); j < count; ++j) {
            uint8_t* e = n + kHeader + kInnerEntry * j;
            setI64(e, getI64(e) + delta);
        }
        const uint8_t* e = n + kHeader + kInnerEntry * i;
        base += getI64(e);
        node = getU64(e + 8);
    }
}

int KaPTree::writePath(uint16_t levels) noexcept
{
    const uint64_t buf = bufferBytes(recordSize);
    for (uint16_t level = 0; level < levels; ++level) {
        if (file.write(pathNodes[level], work + buf * level, kNodeBytes))
            return failWrite();
    }
    return 0;
}

// Splits every overflowing node from `level` upwards, adding the new right
// halves to their parents; a split root gets a new root above it. *levels
// tells how many path levels must then be written (a new root shifts them).
int KaPTree::splitUp(uint16_t level, uint16_t* levels) noexcept
{
    const uint64_t buf = bufferBytes(recordSize);
    for (int32_t l = level; l >= 0; --l) {
        uint8_t* n = work + buf * uint64_t(l);
        uint16_t count = countOf(n);
        bool leaf = isLeaf(n);
        uint64_t entry = leaf ? 8 + uint64_t(recordSize) : kInnerEntry;
        uint16_t capacity = leaf ? leafCapacity : kInnerCapacity;
        if (count <= capacity)
            return 0;
        uint16_t keep = uint16_t(count / 2);
        uint16_t moved = uint16_t(count - keep);
        memset(spare, 0, kHeader);
        spare[2] = leaf ? 1 : 0;
        setCount(spare, moved);
        memcpy(spare + kHeader, n + kHeader + entry * keep, entry * moved);
        setCount(n, keep);
        // The right half's base is its first key (or child base); its own
        // entries become relative to it, so its first one is 0.
        int64_t shift = getI64(spare + kHeader);
        for (uint16_t j = 0; j < moved; ++j) {
            uint8_t* e = spare + kHeader + entry * j;
            setI64(e, getI64(e) - shift);
        }
        uint64_t right = file.allocate(kNodeBytes);
        if (file.write(right, spare, kNodeBytes))
            return failWrite();
        if (l == 0) {
            if (depth + 1 >= KA_PTREE_MAX_DEPTH)
                return failWrite();
            // A new root above: the path moves down one level.
            memmove(work + buf, work, buf * (uint64_t(*levels)));
            memmove(pathNodes + 1, pathNodes, sizeof(uint64_t) * *levels);
            memmove(pathBases + 1, pathBases, sizeof(int64_t) * *levels);
            memmove(pathIndex + 1, pathIndex, sizeof(uint16_t) * *levels);
            uint8_t* r = work;
            memset(r, 0, kHeader);
            setCount(r, 2);
            setI64(r + kHeader, 0);
            setU64(r + kHeader + 8, root);
            setI64(r + kHeader + kInnerEntry, shift);
            setU64(r + kHeader + kInnerEntry + 8, right);
            root = file.allocate(kNodeBytes);
            pathNodes[0] = root;
            pathBases[0] = rootBase;
            pathIndex[0] = 0;
            ++depth;
            ++*levels;
            return 0;
        }
        uint8_t* p = work + buf * uint64_t(l - 1);
        uint16_t at = uint16_t(pathIndex[l - 1] + 1);
        uint16_t pc = countOf(p);
        uint8_t* slot = p + kHeader + kInnerEntry * at;
        memmove(slot + kInnerEntry, slot, kInnerEntry * uint64_t(pc - at));
        setI64(slot, getI64(p + kHeader + kInnerEntry * pathIndex[l - 1]) + shift);
        setU64(slot + 8, right);
        setCount(p, uint16_t(pc + 1));
    }
    return 0;
}

int KaPTree::insertAt(uint64_t position, const void* record) noexcept
{
    if (ready() || checkPosition(position))
        return 1;
    if (descendShifting(int64_t(position), 1))
        return 1;
    const uint64_t buf = bufferBytes(recordSize);
    const uint64_t entry = 8 + uint64_t(recordSize);
    uint16_t leafLevel = depth;
    uint8_t* n = work + buf * leafLevel;
    int64_t rel = int64_t(position) - pathBases[leafLevel];
    uint16_t count = countOf(n);
    uint16_t at = count;
    for (uint16_t j = 0; j < count; ++j) {
        uint8_t* e = n + kHeader + entry * j;
        int64_t k = getI64(e);
        if (k >= rel) {
            if (at == count)
                at = j;
            setI64(e, k + 1);
        }
    }
    uint8_t* slot = n + kHeader + entry * at;
    memmove(slot + entry, slot, entry * uint64_t(count - at));
    setI64(slot, rel);
    memcpy(slot + 8, record, recordSize);
    setCount(n, uint16_t(count + 1));
    uint16_t levels = uint16_t(leafLevel + 1);
    if (splitUp(leafLevel, &levels) || writePath(levels))
        return 1;
    ++entryCount;
    return 0;
}

int KaPTree::shiftFrom(uint64_t position) noexcept
{
    if (ready() || checkPosition(position))
        return 1;
    if (root == 0)
        return 0;
    if (descendShifting(int64_t(position), 1))
        return 1;
    const uint64_t buf = bufferBytes(recordSize);
    const uint64_t entry = 8 + uint64_t(recordSize);
    uint8_t* n = work + buf * depth;
    int64_t rel = int64_t(position) - pathBases[depth];
    for (uint16_t j = 0; j < countOf(n); ++j) {
        uint8_t* e = n + kHeader + entry * j;
        if (getI64(e) >= rel)
            setI64(e, getI64(e) + 1);
    }
    return writePath(uint16_t(depth + 1));
}

// Takes empty nodes out of their parents from `level` up; the root stays.
// Their space in the scratch file is not reused.
void KaPTree::dropEmptyUp(uint16_t level) noexcept
{
    const uint64_t buf = bufferBytes(recordSize);
    while (level > 0 && countOf(work + buf * level) == 0) {
        uint8_t* p = work + buf * uint64_t(level - 1);
        uint16_t at = pathIndex[level - 1];
        uint16_t pc = countOf(p);
        uint8_t* slot = p + kHeader + kInnerEntry * at;
        memmove(slot, slot + kInnerEntry, kInnerEntry * uint64_t(pc - at - 1));
        setCount(p, uint16_t(pc - 1));
        --level;
    }
}

int KaPTree::removeAt(uint64_t position, int* found) noexcept
{
    *found = 0;
    if (ready() || checkPosition(position))
        return 1;
    if (root == 0)
        return 0;
    if (descendShifting(int64_t(position), -1))
        return 1;
    const uint64_t buf = bufferBytes(recordSize);
    const uint64_t entry = 8 + uint64_t(recordSize);
    uint8_t* n = work + buf * depth;
    int64_t rel = int64_t(position) - pathBases[depth];
    uint16_t count = countOf(n);
    uint16_t out = 0;
    for (uint16_t j = 0; j < count; ++j) {
        uint8_t* e = n + kHeader + entry * j;
        int64_t k = getI64(e);
        if (k == rel && !*found) {
            *found = 1;
            continue;
        }
        if (k > rel)
            setI64(e, k - 1);
        if (out != j)
            memmove(n + kHeader + entry * out, e, entry);
        ++out;
    }
    setCount(n, out);
    dropEmptyUp(depth);
    if (writePath(uint16_t(depth + 1)))
        return 1;
    if (*found)
        --entryCount;
    // A root with a single child gives way to it; the child's base moves
    // into the tree's root base, so nothing below is rewritten. One level
    // a call: the next root is not read here.
    if (depth > 0 && countOf(work) == 1) {
        rootBase += getI64(work + kHeader);
        root = getU64(work + kHeader + 8);
        --depth;
    }
    return 0;
}

int KaPTree::seek(uint16_t level, uint64_t node, int64_t base, int64_t key, int forward, int strict, uint64_t* position,
                  void* record, int* found) noexcept
{
    const uint64_t buf = bufferBytes(recordSize);
    uint8_t* n = work + buf * level;
    if (file.read(node, n, kNodeBytes))
        return 1;
    uint16_t count = countOf(n);
    if (isLeaf(n)) {
        const uint64_t entry = 8 + uint64_t(recordSize);
        for (uint16_t s = 0; s < count; ++s) {
            uint16_t j = forward ? s : uint16_t(count - 1 - s);
            uint8_t* e = n + kHeader + entry * j;
            int64_t k = base + getI64(e);
            bool take = forward ? (strict ? k > key : k >= key) : (strict ? k < key : k <= key);
            if (take) {
                *position = uint64_t(k);
                if (record)
                    memcpy(record, e + 8, recordSize);
                *found = 1;
                return 0;
            }
        }
        return 0;
    }
    if (level + 1 > KA_PTREE_MAX_DEPTH)
        return failWrite();
    uint16_t i = 0;
    for (uint16_t j = 1; j < count; ++j) {
        if (base + getI64(n + kHeader + kInnerEntry * j) <= key)
            i = j;
        else
            break;
    }
    for (int32_t j = i; j >= 0 && j < count; j += forward ? 1 : -1) {
        // The node's buffer is this level's own; deeper calls use the next.
        const uint8_t* e = n + kHeader + kInnerEntry * uint64_t(j);
        if (seek(uint16_t(level + 1), getU64(e + 8), base + getI64(e), key, forward, strict, position, record, found))
            return 1;
        if (*found)
            return 0;
    }
    return 0;
}

int KaPTree::edgeOrStep(uint64_t* position, void* record, int* found, KaPTreeIterator* it, int forward,
                        int step) noexcept
{
    *found = 0;
    if (!it)
        it = &iterator;
    if (ready())
        return 1;
    if (step && !(it->flags & KA_PTREE_POSITIONED))
        step = 0;
    if (root == 0) {
        it->flags &= ~KA_PTREE_POSITIONED;
        return 0;
    }
    int64_t key = step ? int64_t(it->position) : forward ? INT64_MIN : INT64_MAX;
    if (seek(0, root, rootBase, key, forward, step, position, record, found))
        return 1;
    if (*found) {
        it->position = *position;
        it->flags |= KA_PTREE_POSITIONED;
    } else {
        it->flags &= ~KA_PTREE_POSITIONED;
    }
    return 0;
}

int KaPTree::first(uint64_t* position, void* record, int* found, KaPTreeIterator* it) noexcept
{
    return edgeOrStep(position, record, found, it, 1, 0);
}

int KaPTree::next(uint64_t* position, void* record, int* found, KaPTreeIterator* it) noexcept
{
    return edgeOrStep(position, record, found, it, 1, 1);
}

int KaPTree::previous(uint64_t* position, void* record, int* found, KaPTreeIterator* it) noexcept
{
    return edgeOrStep(position, record, found, it, 0, 1);
}

int KaPTree::last(uint64_t* position, void* record, int* found, KaPTreeIterator* it) noexcept
{
    return edgeOrStep(position, record, found, it, 0, 0);
}
