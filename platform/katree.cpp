// KaTree: node images are copied out of the temporary file, changed and
// written back, so that no pinned page pointer has to outlive another page
// access during splits.
#include "platform/katree.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"

struct KaTree::Node {
    alignas(8) uint8_t b[KA_TMP_PAGE_SIZE];
};

namespace {

constexpr size_t kCountAt = 0;
constexpr size_t kSelfAt = 8;
constexpr size_t kChild0At = 16;

uint16_t count(const uint8_t* n) noexcept
{
    uint16_t c;
    memcpy(&c, n + kCountAt, sizeof c);
    return c;
}

void setCount(uint8_t* n, uint16_t c) noexcept
{
    memcpy(n + kCountAt, &c, sizeof c);
}

uint64_t u64(const uint8_t* p) noexcept
{
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

void setU64(uint8_t* p, uint64_t v) noexcept
{
    memcpy(p, &v, sizeof v);
}

uint16_t entrySizeFor(uint16_t keyLen, uint16_t dataLen, int marked) noexcept
{
    uint32_t raw = uint32_t(keyLen) + dataLen + 8 + (marked ? 1 : 0);
    raw = (raw + 7) / 8 * 8;
    return raw > 0xFFFF ? 0xFFFF : uint16_t(raw);
}

}  // namespace

KaTreeIterator::KaTreeIterator() noexcept : tree(nullptr), base(0), flags(0) {}

KaTreeIterator::~KaTreeIterator() = default;

KaTree::KaTree(uint16_t keyLen, uint16_t dataLen, KaTreeCompare compare, int markDeleted, int duplicates,
               int32_t noLock) noexcept
    : keyLen(keyLen), dataLen(dataLen), compareKeys(compare), contextCompare(nullptr), compareContext(nullptr),
      flags(uint16_t((markDeleted ? KA_TREE_MARKED : 0) | (duplicates ? KA_TREE_DUPLICATES : 0))), maxEntries(0),
      entrySize(entrySizeFor(keyLen, dataLen, markDeleted)), nodeBytes(0), markerLen(markDeleted ? 1 : 0), root(0),
      file(KA_TMP_DEFAULT_CACHE, noLock), insertKey(nullptr), insertData(nullptr), separatorKey(nullptr),
      separatorData(nullptr), entryCount(0), nodeCount(0), lastDepth(0), maxDepth(0), splitSpace(nullptr)
{
    uint32_t children = KA_TREE_NODE_SPACE / entrySize + 1;
    if (children > KA_TREE_MAX_CHILDREN)
        children = KA_TREE_MAX_CHILDREN;
    // Fewer than three children would give nodes of one key (or none): a
    // full node could not split into two non-empty halves. Such a tree
    // keeps maxEntries 0 and refuses work.
    if (keyLen > 0 && entrySize <= KA_TREE_MAX_ENTRY && children >= 3) {
        maxEntries = uint16_t(children);
        nodeBytes = uint16_t(entrySize * (maxEntries - 1) + 20);
    }
    (void)file.allocate(1);
}

KaTree::~KaTree()
{
    ramFree(insertKey);
    ramFree(insertData);
    ramFree(separatorKey);
    ramFree(separatorData);
    ramFree(splitSpace);
}

int KaTree::usable() noexcept
{
    if ((flags & KA_TREE_RELATIVE) && keyLen != sizeof(uint64_t)) {
        KaError* e = errPost(MSG_TREE_RELATIVE_KEY_SIZE);
        if (e)
            e->addParamSigned(keyLen);
        return 1;
    }
    if (maxEntries != 0)
        return 0;
    KaError* e = errPost(MSG_TREE_ENTRY_TOO_LARGE);
    if (e) {
        e->addParamSigned(keyLen);
        e->addParamSigned(dataLen);
    }
    return 1;
}

int KaTree::ready() noexcept
{
    if (usable())
        return 1;
    if (insertKey)
        return 0;
    // All five buffers or none.
    RamPtr<uint8_t> key1 = ramMake<uint8_t>(keyLen);
    RamPtr<uint8_t> data1 = ramMake<uint8_t>(size_t(dataLen) + markerLen + 1);
    RamPtr<uint8_t> key2 = ramMake<uint8_t>(keyLen);
    RamPtr<uint8_t> data2 = ramMake<uint8_t>(size_t(dataLen) + markerLen + 1);
    RamPtr<uint8_t> split = ramMake<uint8_t>(size_t(KA_TREE_HEADER) + size_t(entrySize) * maxEntries);
    if (!key1 || !data1 || !key2 || !data2 || !split)
        return 1;
    insertKey = key1.release();
    insertData = data1.release();
    separatorKey = key2.release();
    separatorData = data2.release();
    splitSpace = split.release();
    return 0;
}

int16_t KaTree::compareKey(const void* a, const void* b) const noexcept
{
    if (compareKeys)
        return compareKeys(a, b, keyLen);
    if (contextCompare)
        return contextCompare(compareContext, a, b);
    if (flags & KA_TREE_RELATIVE) {
        // Relative keys are numbers in host order, which bytes do not order.
        uint64_t x = u64(static_cast<const uint8_t*>(a));
        uint64_t y = u64(static_cast<const uint8_t*>(b));
        return int16_t(x < y ? -1 : x > y ? 1 : 0);
    }
    int c = memcmp(a, b, keyLen);
    return int16_t(c < 0 ? -1 : c > 0 ? 1 : 0);
}

int KaTree::readNode(uint64_t offset, Node* node) noexcept
{
    return file.read(offset, node->b, span());
}

int KaTree::writeNode(uint64_t offset, const Node* node) noexcept
{
    return file.write(offset, node->b, span());
}

int KaTree::newNode(uint64_t* offset) noexcept
{
    uint64_t at = file.allocate(span());
    Node n;
    memset(n.b, 0, span());
    setU64(n.b + kSelfAt, at);
    if (writeNode(at, &n))
        return 1;
    ++nodeCount;
    *offset = at;
    return 0;
}

int KaTree::attach(KaTreeIterator* it) noexcept
{
    it->tree = this;
    it->path.count = 0;
    it->positions.count = 0;
    it->base = 0;
    it->flags = 0;
    if (it->path.capacity == 0) {
        if (it->path.allocate(KA_TREE_PATH_LEVELS) || it->positions.allocate(KA_TREE_PATH_LEVELS))
            return 1;
        it->path.count = 0;
        it->positions.count = 0;
    }
    return 0;
}

int KaTree::push(KaTreeIterator* it, uint64_t node, uint64_t position) noexcept
{
    if (it->path.append(size_t(node)) || it->positions.append(size_t(position)))
        return 1;
    return 0;
}

int KaTree::descend(const void* key, KaTreeIterator* it) noexcept
{
    if (attach(it))
        return 1;
    uint64_t at = root;
    uint16_t depth = 0;
    Node n;
    const bool relative = (flags & KA_TREE_RELATIVE) != 0;
    // In relative mode the sought key is taken relative to each node's base
    // as the descent goes.
    uint8_t sought[sizeof(uint64_t)];
    if (relative)
        memcpy(sought, key, sizeof sought);
    const void* probeKey = relative ? static_cast<const void*>(sought) : key;
    while (at != 0) {
        if (readNode(at, &n))
            return 1;
        ++depth;
        uint16_t keys = uint16_t(count(n.b) - 1);
        uint16_t lo = 0, hi = keys;
        while (lo < hi) {
            uint16_t mid = uint16_t((lo + hi) / 2);
            if (compareKey(n.b + KA_TREE_HEADER + size_t(mid) * entrySize, probeKey) < 0)
                lo = uint16_t(mid + 1);
            else
                hi = mid;
        }
        if (push(it, at, lo))
            return 1;
        uint64_t child = u64(n.b + kChild0At + size_t(lo) * entrySize);
        if (relative && child != 0 && lo > 0) {
            uint64_t left = u64(n.b + KA_TREE_HEADER + size_t(lo - 1) * entrySize);
            setU64(sought, u64(sought) - left);
            it->base = int64_t(uint64_t(it->base) + left);
        }
        at = child;
    }
    lastDepth = depth;
    if (depth > maxDepth)
        maxDepth = depth;
    return 0;
}

int KaTree::settle(KaTreeIterator* it, int* atEnd) noexcept
{
    *atEnd = 0;
    Node n;
    for (;;) {
        if (it->path.count == 0) {
            *atEnd = 1;
            return 0;
        }
        size_t level = it->path.count - 1;
        if (readNode(it->path.at(level), &n))
            return 1;
        if (it->positions.at(level) < uint64_t(count(n.b) - 1))
            return 0;
        it->path.count = level;
        it->positions.count = level;
    }
}

int KaTree::edge(KaTreeIterator* it, uint64_t from, int leftmost) noexcept
{
    Node n;
    uint64_t at = from;
    while (at != 0) {
        if (readNode(at, &n))
            return 1;
        uint16_t c = count(n.b);
        uint64_t childPos = leftmost ? 0 : c - 1;
        uint64_t child = u64(n.b + kChild0At + childPos * entrySize);
        if (child == 0) {
            if (push(it, at, leftmost ? 0 : uint64_t(c - 2)))
                return 1;
            break;
        }
        if (push(it, at, childPos))
            return 1;
        at = child;
    }
    return 0;
}

int KaTree::step(KaTreeIterator* it, int forward, int* atEnd) noexcept
{
    *atEnd = 0;
    Node n;
    size_t level = it->path.count - 1;
    if (readNode(it->path.at(level), &n))
        return 1;
    uint64_t pos = it->positions.at(level);
    if (forward) {
        uint64_t right = u64(n.b + kChild0At + (pos + 1) * entrySize);
        if (right != 0) {
            it->positions.setAt(level, size_t(pos + 1));
            return edge(it, right, 1);
        }
        it->positions.setAt(level, size_t(pos + 1));
        return settle(it, atEnd);
    }
    uint64_t left = u64(n.b + kChild0At + pos * entrySize);
    if (left != 0)
        return edge(it, left, 0);
    for (;;) {
        if (pos > 0) {
            it->positions.setAt(level, size_t(pos - 1));
            return 0;
        }
        if (level == 0) {
            *atEnd = 1;
            return 0;
        }
        it->path.count = level;
        it->positions.count = level;
        --level;
        pos = it->positions.at(level);
    }
}

int KaTree::pathBase(KaTreeIterator* it, size_t levels, uint64_t* base) noexcept
{
    uint64_t sum = 0;
    Node n;
    for (size_t level = 0; level < levels; ++level) {
        uint64_t slot = it->positions.at(level);
        if (slot == 0 || slot == KA_TREE_BEFORE_FIRST)
            continue;
        if (readNode(it->path.at(level), &n))
            return 1;
        sum += u64(n.b + KA_TREE_HEADER + size_t(slot - 1) * entrySize);
    }
    it->base = int64_t(sum);
    *base = sum;
    return 0;
}

int KaTree::entryAt(KaTreeIterator* it, void* key, void* data, int* live) noexcept
{
    Node n;
    size_t level = it->path.count - 1;
    if (readNode(it->path.at(level), &n))
        return 1;
    const uint8_t* e = n.b + KA_TREE_HEADER + it->positions.at(level) * entrySize;
    *live = markerLen == 0 || e[keyLen + dataLen] == 0;
    if (key && (flags & KA_TREE_RELATIVE)) {
        uint64_t base = 0;
        if (pathBase(it, level, &base))
            return 1;
        setU64(static_cast<uint8_t*>(key), u64(e) + base);
    } else if (key) {
        memcpy(key, e, keyLen);
    }
    if (data)
        memcpy(data, e + keyLen, dataLen);
    return 0;
}

int KaTree::walk(void* key, void* data, int* found, KaTreeIterator* it, int forward) noexcept
{
    for (;;) {
        int atEnd = 0;
        if (step(it, forward, &atEnd))
            return 1;
        if (atEnd) {
            if (forward) {
                it->path.count = 0;
                it->positions.count = 0;
            } else {
                it->path.count = 1;
                it->positions.count = 1;
                it->positions.setAt(0, KA_TREE_BEFORE_FIRST);
            }
            it->flags &= ~KA_TREE_POSITIONED;
            return 0;
        }
        int live = 0;
        if (entryAt(it, key, data, &live))
            return 1;
        if (live) {
            *found = 1;
            it->flags |= KA_TREE_POSITIONED;
            return 0;
        }
    }
}

int KaTree::fromEdge(void* key, void* data, int* found, KaTreeIterator* iterator, int leftmost) noexcept
{
    KaTreeIterator* it = iterator ? iterator : &this->iterator;
    *found = 0;
    if (usable())
        return 1;
    if (entryCount == 0)
        return 0;
    if (attach(it) || edge(it, root, leftmost))
        return 1;
    int live = 0;
    if (entryAt(it, key, data, &live))
        return 1;
    if (live) {
        *found = 1;
        it->flags |= KA_TREE_POSITIONED;
        return 0;
    }
    // A deleted entry at the edge: the first live one inward.
    return walk(key, data, found, it, leftmost);
}

int KaTree::first(void* key, void* data, int* found, KaTreeIterator* iterator) noexcept
{
    return fromEdge(key, data, found, iterator, 1);
}

int KaTree::last(void* key, void* data, int* found, KaTreeIterator* iterator) noexcept
{
    return fromEdge(key, data, found, iterator, 0);
}

int KaTree::next(void* key, void* data, int* found, KaTreeIterator* iterator) noexcept
{
    KaTreeIterator* it = iterator ? iterator : &this->iterator;
    *found = 0;
    if (usable())
        return 1;
    if (entryCount == 0)
        return 0;
    if (it->tree != this || it->path.count == 0 || it->positions.at(it->path.count - 1) == KA_TREE_BEFORE_FIRST)
        return first(key, data, found, it);
    if (!(it->flags & KA_TREE_POSITIONED)) {
        // After locate: the stored place is a lower bound; its entry comes
        // first when it is live.
        int atEnd = 0;
        if (settle(it, &atEnd))
            return 1;
        if (atEnd)
            return 0;
        int live = 0;
        if (entryAt(it, key, data, &live))
            return 1;
        if (live) {
            *found = 1;
            it->flags |= KA_TREE_POSITIONED;
            return 0;
        }
    }
    return walk(key, data, found, it, 1);
}

int KaTree::previous(void* key, void* data, int* found, KaTreeIterator* iterator) noexcept
{
    KaTreeIterator* it = iterator ? iterator : &this->iterator;
    *found = 0;
    if (usable())
        return 1;
    if (entryCount == 0)
        return 0;
    if (it->tree != this || it->path.count == 0)
        return last(key, data, found, it);
    if (it->positions.at(it->path.count - 1) == KA_TREE_BEFORE_FIRST)
        return 0;
    if (!(it->flags & KA_TREE_POSITIONED)) {
        // A lower bound past a node's end stands before the next entry up.
        int atEnd = 0;
        if (settle(it, &atEnd))
            return 1;
        if (atEnd)
            return last(key, data, found, it);
    }
    return walk(key, data, found, it, 0);
}

int KaTree::findLive(const void* key, KaTreeIterator* it, int* found) noexcept
{
    *found = 0;
    if (descend(key, it))
        return 1;
    int atEnd = 0;
    if (settle(it, &atEnd))
        return 1;
    RamPtr<uint8_t> k = ramMake<uint8_t>(keyLen);
    if (!k)
        return 1;
    while (!atEnd) {
        int live = 0;
        if (entryAt(it, k.get(), nullptr, &live))
            return 1;
        if (compareKey(k.get(), key) != 0)
            break;
        if (live) {
            *found = 1;
            break;
        }
        if (step(it, 1, &atEnd))
            return 1;
    }
    return 0;
}

int KaTree::locate(const void* key, uint64_t* node, uint16_t* position, int* found, KaTreeIterator* iterator,
                   int descendFlag) noexcept
{
    KaTreeIterator* it = iterator ? iterator : &this->iterator;
    *found = 0;
    if (usable())
        return 1;
    if (descendFlag) {
        if (descend(key, it))
            return 1;
    } else {
        if (findLive(key, it, found))
            return 1;
        if (!*found && descend(key, it))
            return 1;
    }
    it->flags &= ~KA_TREE_POSITIONED;
    if (it->path.count == 0) {
        if (node)
            *node = 0;
        if (position)
            *position = 0;
        return 0;
    }
    if (node)
        *node = it->path.at(it->path.count - 1);
    if (position)
        *position = uint16_t(it->positions.at(it->positions.count - 1));
    return 0;
}

int KaTree::splitChild(uint64_t node, uint16_t p, uint64_t r, uint64_t newNode) noexcept
{
    Node n;
    if (readNode(node, &n))
        return 1;
    uint16_t full = uint16_t(maxEntries - 1);  // keys of the full node
    // The node's keys with the new entry in place, then cut at h: keys
    // before h stay, key h moves up, the rest go to the new node.
    uint8_t* all = splitSpace;
    memcpy(all, n.b, KA_TREE_HEADER);
    size_t before = size_t(p) * entrySize;
    memcpy(all + KA_TREE_HEADER, n.b + KA_TREE_HEADER, before);
    uint8_t* e = all + KA_TREE_HEADER + before;
    memset(e, 0, entrySize);
    memcpy(e, insertKey, keyLen);
    memcpy(e + keyLen, insertData, size_t(dataLen) + markerLen);
    setU64(e + entrySize - 8, r);
    memcpy(e + entrySize, n.b + KA_TREE_HEADER + before, size_t(full - p) * entrySize);

    uint16_t h = uint16_t(maxEntries / 2);
    const uint8_t* sep = all + KA_TREE_HEADER + size_t(h) * entrySize;
    memcpy(separatorKey, sep, keyLen);
    memcpy(separatorData, sep + keyLen, size_t(dataLen) + markerLen);

    Node right;
    memset(right.b, 0, span());
    setU64(right.b + kSelfAt, newNode);
    setU64(right.b + kChild0At, u64(sep + entrySize - 8));
    uint16_t rightKeys = uint16_t(full - h);
    memcpy(right.b + KA_TREE_HEADER, sep + entrySize, size_t(rightKeys) * entrySize);
    setCount(right.b, uint16_t(rightKeys + 1));

    memset(n.b + KA_TREE_HEADER, 0, span() - KA_TREE_HEADER);
    memcpy(n.b + KA_TREE_HEADER, all + KA_TREE_HEADER, size_t(h) * entrySize);
    setCount(n.b, uint16_t(h + 1));
    if (writeNode(newNode, &right) || writeNode(node, &n))
        return 1;
    return 0;
}

int KaTree::afterSplit(uint64_t, const void*) noexcept
{
    return 0;
}

int KaTree::rebaseNode(uint64_t offset, uint64_t by) noexcept
{
    Node n;
    if (readNode(offset, &n))
        return 1;
    uint16_t keys = uint16_t(count(n.b) - 1);
    for (uint16_t i = 0; i < keys; ++i) {
        uint8_t* e = n.b + KA_TREE_HEADER + size_t(i) * entrySize;
        setU64(e, u64(e) - by);
    }
    return writeNode(offset, &n);
}

int KaTree::insertEntry(const void* key, const void* data) noexcept
{
    memcpy(insertKey, key, keyLen);
    if (dataLen != 0)
        memcpy(insertData, data, dataLen);
    if (markerLen)
        insertData[dataLen] = 0;
    uint64_t r = 0;
    KaTreeIterator* it = &iterator;
    Node n;
    const bool relative = (flags & KA_TREE_RELATIVE) != 0;
    for (size_t level = it->path.count; level-- > 0;) {
        uint64_t at = it->path.at(level);
        uint16_t p = uint16_t(it->positions.at(level));
        // Relative mode: insertKey is absolute between levels and stored
        // relative to this level's base.
        uint64_t absolute = 0;
        if (relative) {
            uint64_t base = 0;
            if (pathBase(it, level, &base))
                return 1;
            absolute = u64(insertKey);
            setU64(insertKey, absolute - base);
        }
        if (readNode(at, &n))
            return 1;
        uint16_t c = count(n.b);
        if (level + 1 == it->path.count && p < c - 1 && markerLen &&
            n.b[KA_TREE_HEADER + size_t(p) * entrySize + keyLen + dataLen] != 0) {
            // A marked slot at the insertion place is taken over.
            uint8_t* e = n.b + KA_TREE_HEADER + size_t(p) * entrySize;
            memcpy(e, insertKey, keyLen);
            memcpy(e + keyLen, insertData, size_t(dataLen) + markerLen);
            return writeNode(at, &n);
        }
        if (c < maxEntries) {
            uint8_t* e = n.b + KA_TREE_HEADER + size_t(p) * entrySize;
            memmove(e + entrySize, e, size_t(c - 1 - p) * entrySize);
            memset(e, 0, entrySize);
            memcpy(e, insertKey, keyLen);
            memcpy(e + keyLen, insertData, size_t(dataLen) + markerLen);
            setU64(e + entrySize - 8, r);
            setCount(n.b, uint16_t(c + 1));
            if (writeNode(at, &n))
                return 1;
            return r != 0 ? afterSplit(r, insertKey) : 0;
        }
        uint64_t fresh = 0;
        if (newNode(&fresh) || splitChild(at, p, r, fresh))
            return 1;
        if (relative) {
            // The new node's base is the separator: its own keys move to
            // that base; its children's bases are absolute keys and stay.
            uint64_t separator = u64(separatorKey);
            if (rebaseNode(fresh, separator))
                return 1;
            setU64(separatorKey, separator + (absolute - u64(insertKey)));
        }
        memcpy(insertKey, separatorKey, keyLen);
        memcpy(insertData, separatorData, size_t(dataLen) + markerLen);
        r = fresh;
    }
    // The root itself split: a new root holds the separator alone.
    uint64_t top = 0;
    if (newNode(&top))
        return 1;
    memset(n.b, 0, span());
    setU64(n.b + kSelfAt, top);
    setU64(n.b + kChild0At, root);
    uint8_t* e = n.b + KA_TREE_HEADER;
    memcpy(e, insertKey, keyLen);
    memcpy(e + keyLen, insertData, size_t(dataLen) + markerLen);
    setU64(e + entrySize - 8, r);
    setCount(n.b, 2);
    if (writeNode(top, &n))
        return 1;
    root = top;
    return 0;
}

int KaTree::insert(const void* key, const void* data, int* existed) noexcept
{
    *existed = 0;
    if (ready())
        return 1;
    int rc = 0;
    if (root == 0) {
        if (attach(&iterator))
            return 1;
        uint64_t at = 0;
        if (newNode(&at))
            return 1;
        Node n;
        memset(n.b, 0, span());
        setU64(n.b + kSelfAt, at);
        memcpy(n.b + KA_TREE_HEADER, key, keyLen);
        if (dataLen != 0)
            memcpy(n.b + KA_TREE_HEADER + keyLen, data, dataLen);
        setCount(n.b, 2);
        if (writeNode(at, &n))
            return 1;
        root = at;
        entryCount = 1;
    } else {
        int found = 0;
        if (findLive(key, &probe, &found))
            return 1;
        *existed = found;
        if (*existed && !(flags & KA_TREE_DUPLICATES))
            return 0;
        if (descend(key, &iterator))
            return 1;
        rc = insertEntry(key, data);
        if (rc == 0)
            ++entryCount;
    }
    iterator.path.count = 0;
    iterator.positions.count = 0;
    iterator.flags = 0;
    return rc;
}

int KaTree::get(const void* key, void* data, int* found) noexcept
{
    *found = 0;
    if (usable())
        return 1;
    if (root == 0)
        return 0;
    if (findLive(key, &iterator, found))
        return 1;
    if (*found) {
        int live = 0;
        if (entryAt(&iterator, nullptr, data, &live))
            return 1;
        iterator.flags |= KA_TREE_POSITIONED;
    }
    return 0;
}

int KaTree::setDataAtIterator(const void* data, KaTreeIterator* it) noexcept
{
    if (it == nullptr)
        it = &iterator;
    if (usable())
        return 1;
    if (it->path.count == 0 || it->positions.at(it->path.count - 1) == KA_TREE_BEFORE_FIRST)
        return 1;
    size_t level = it->path.count - 1;
    uint64_t at = it->path.at(level);
    Node n;
    if (readNode(at, &n))
        return 1;
    if (dataLen != 0)
        memcpy(n.b + KA_TREE_HEADER + it->positions.at(level) * entrySize + keyLen, data, dataLen);
    return writeNode(at, &n);
}

int KaTree::setData(const void* key, const void* data) noexcept
{
    int found = 0;
    if (get(key, nullptr, &found))
        return 1;
    if (!found)
        return 0;
    return setDataAtIterator(data, &iterator);
}

int KaTree::removeAt(KaTreeIterator* it) noexcept
{
    size_t level = it->path.count - 1;
    uint64_t at = it->path.at(level);
    uint64_t pos = it->positions.at(level);
    Node n;
    if (readNode(at, &n))
        return 1;
    uint16_t c = count(n.b);
    uint8_t* e = n.b + KA_TREE_HEADER + pos * entrySize;
    e[keyLen + dataLen] = 1;
    if (u64(n.b + kChild0At) == 0 && c > 2) {
        memmove(e, e + entrySize, size_t(c - 2 - pos) * entrySize);
        memset(n.b + KA_TREE_HEADER + size_t(c - 2) * entrySize, 0, entrySize);
        setCount(n.b, uint16_t(c - 1));
    }
    if (writeNode(at, &n))
        return 1;
    --entryCount;
    it->flags &= ~KA_TREE_POSITIONED;
    return 0;
}

int KaTree::remove(const void* key, const void* data, int* found) noexcept
{
    *found = 0;
    if (usable())
        return 1;
    if (markerLen == 0) {
        errPost(MSG_TREE_REMOVAL_UNSUPPORTED);
        return 1;
    }
    if (root == 0)
        return 0;
    if (findLive(key, &iterator, found))
        return 1;
    if (!*found)
        return 0;
    if (flags & KA_TREE_DUPLICATES) {
        // The entry of this key whose data matches, in order.
        *found = 0;
        RamPtr<uint8_t> entry = ramMake<uint8_t>(size_t(keyLen) + dataLen);
        if (!entry)
            return 1;
        uint8_t* k = entry.get();
        uint8_t* d = k + keyLen;
        int live = 0, atEnd = 0;
        for (;;) {
            if (entryAt(&iterator, k, d, &live))
                return 1;
            if (compareKey(k, key) != 0)
                break;
            if (live && memcmp(d, data, dataLen) == 0) {
                *found = 1;
                break;
            }
            if (step(&iterator, 1, &atEnd))
                return 1;
            if (atEnd)
                break;
        }
        if (!*found)
            return 0;
    }
    return removeAt(&iterator);
}

int KaTree::rekey(const void* oldKey, const void* newKey, int* existed) noexcept
{
    *existed = 0;
    if (usable() || ready())
        return 1;
    if (markerLen == 0) {
        errPost(MSG_TREE_REMOVAL_UNSUPPORTED);
        return 1;
    }
    int found = 0;
    if (root == 0 || findLive(oldKey, &iterator, &found))
        return root == 0 ? 0 : 1;
    if (!found)
        return 0;
    if (!(flags & KA_TREE_DUPLICATES)) {
        // Without duplicates an occupied new key would refuse the insert
        // after the old entry is gone: its data would be lost.
        int taken = 0;
        if (findLive(newKey, &probe, &taken))
            return 1;
        if (taken) {
            *existed = 1;
            return 0;
        }
    }
    RamPtr<uint8_t> d = ramMake<uint8_t>(size_t(dataLen) + 1);
    if (!d)
        return 1;
    int live = 0;
    return entryAt(&iterator, nullptr, d.get(), &live) || removeAt(&iterator) || insert(newKey, d.get(), existed);
}

int KaTree::clear() noexcept
{
    root = 0;
    entryCount = 0;
    nodeCount = 0;
    lastDepth = 0;
    maxDepth = 0;
    iterator.path.count = 0;
    iterator.positions.count = 0;
    iterator.flags = 0;
    probe.path.count = 0;
    probe.positions.count = 0;
    file.close(0);
    (void)file.allocate(1);
    return 0;
}
