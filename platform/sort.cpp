// The sort engine: records collected in 64 KB buffers, sorted by the
// foundation's quicksort, spilled as runs into a private temporary file when the
// buffers are full, and merged back when read.
#include "platform/sort.h"

#include <cerrno>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/bosfile.h"

namespace {

constexpr uint64_t kNoSlot = UINT64_MAX;
constexpr int64_t kHeadLoad = -1;  // the run's head must be read from the file
constexpr int64_t kHeadDone = -2;  // the run is exhausted
constexpr uint64_t kMergeHeaderBytes = 56;
constexpr uint64_t kMergeEntryBytes = 64;

}  // namespace

// One run of the merge, 64 bytes.
struct KaSortRun {
    uint64_t bufferFirst;  // record index held in the run's first slot
    uint64_t nextIndex;    // record index of the run's head
    uint64_t first;
    uint64_t last;
    int64_t headPos;  // head's position in the run's slots, or kHeadLoad / kHeadDone
    uint64_t slot;    // first slot of the run's buffer (kNoSlot: none in single-slot mode)
    uint64_t groupStart;
    uint64_t groupEnd;
};
static_assert(sizeof(KaSortRun) == kMergeEntryBytes, "merge entries are 64 bytes");

// The merge control block: this header, then one KaSortRun per run in the
// current merge order, the active runs first.
struct KaSortMerge {
    uint16_t runCount;
    uint16_t activeRuns;
    uint32_t reserved;
    uint64_t recordsPerRun;
    uint64_t slotsPerRun;
    uint64_t singleSlot;
    uint64_t lastSlot;
    uint64_t firstFree;
    uint64_t nextSlot;

    KaSortRun* runs() noexcept
    {
        return reinterpret_cast<KaSortRun*>(reinterpret_cast<uint8_t*>(this) + kMergeHeaderBytes);
    }
};
static_assert(sizeof(KaSortMerge) == kMergeHeaderBytes, "merge header is 56 bytes");

KaSort::KaSort(uint16_t size) noexcept
    : runRecords(0), readCursor(0), totalRecords(0), keyCount(0), startKey(0), runCount(0), lastRunRecords(0), fd(0),
      recordSize(size), bufferCount(0), recordsPerBuffer(size ? KA_SORT_BUFFER_SIZE / size : 0), flags(0),
      merge(nullptr), current(nullptr), groupFirstIndex(0), groupLastIndex(0)
{
    memset(keys, 0, sizeof keys);
    memset(path, 0, sizeof path);
    memset(buffers, 0, sizeof buffers);
}

KaSort::~KaSort()
{
    mergeFree();
    if (fd > 0)
        bosfclose(fd);
    fd = 0;
    if (path[0])
        bosfdelete(path);
    if (flags & KA_SORT_OWNS_BUFFERS)
        for (uint16_t b = 0; b < bufferCount; ++b)
            ramFree(buffers[b]);
    ramFree(currentCopy);
}

void KaSort::setRecordSize(uint16_t size) noexcept
{
    recordSize = size;
    if (size == 0)
        recordsPerBuffer = 0;
    else if (size == 1)
        recordsPerBuffer = KA_SORT_BUFFER_SIZE - 1;
    else
        recordsPerBuffer = KA_SORT_BUFFER_SIZE / size;
}

int KaSort::addKey(uint16_t type, uint64_t offset, uint16_t length) noexcept
{
    if (keyCount >= KA_SORT_MAX_KEYS || !KaSortCore::keyFits(type, offset, length, recordSize)) {
        errPost(MSG_SORT_KEY_INVALID);
        return 1;
    }
    KaSortKey& key = keys[keyCount++];
    key.type = type;
    key.offset = offset;
    key.length = length;
    key.callback = nullptr;
    key.context = nullptr;
    flags |= KA_SORT_REORDER_RUNS;
    return 0;
}

int KaSort::setKeyCallback(uint64_t index, KaSortCallback callback, void* context) noexcept
{
    if (index >= keyCount) {
        errPost(MSG_SORT_KEY_INVALID);
        return 1;
    }
    keys[index].callback = callback;
    keys[index].context = context;
    return 0;
}

// Keys are checked again before sorting: the record size may have been set
// after they were added.
int KaSort::checkKeys() noexcept
{
    if (recordSize == 0 || (recordsPerBuffer == 0 && totalRecords > 0)) {
        errPost(MSG_SORT_LIMIT_EXCEEDED);
        return 1;
    }
    for (uint64_t k = 0; k < keyCount; ++k) {
        const KaSortKey& key = keys[k];
        if (!KaSortCore::keyFits(key.type, key.offset, key.length, recordSize)) {
            errPost(MSG_SORT_KEY_INVALID);
            return 1;
        }
    }
    return 0;
}

// --- Collecting records -----------------------------------------------------

int KaSort::getRecordSlot(void** slot) noexcept
{
    *slot = nullptr;
    bool attached = bufferCount > 0 && !(flags & KA_SORT_OWNS_BUFFERS);
    if (recordSize == 0 || recordsPerBuffer == 0 || attached || (flags & KA_SORT_READY)) {
        errPost(MSG_SORT_LIMIT_EXCEEDED);
        return 1;
    }
    uint64_t index = runRecords;
    if (index / recordsPerBuffer >= bufferCount) {
        if (!(flags & KA_SORT_SPILLED) && bufferCount < KA_SORT_MAX_BUFFERS) {
            uint8_t* buffer = static_cast<uint8_t*>(ramAlloc(KA_SORT_BUFFER_SIZE));
            if (buffer) {
                buffers[bufferCount++] = buffer;
                flags |= KA_SORT_OWNS_BUFFERS;
            }
        }
        if (index / recordsPerBuffer >= bufferCount) {
            if (bufferCount < 2)
                return 1;
            // Memory is full: the collected records become one sorted run.
            if (runRecords > 1 && core().sortRange(0, runRecords - 1))
                return 1;
            flags |= KA_SORT_SPILLED;
            if (runCount == UINT16_MAX) {
                errPost(MSG_SORT_LIMIT_EXCEEDED);
                return 1;
            }
            if (fd == 0) {
                path[0] = 0;
                if (bosfopen(path, BOS_OPEN_TEMP | BOS_OPEN_READWRITE, &fd))
                    return 1;
            }
            if (writeRun(runCount))
                return 1;
            ++runCount;
            index = 0;
        }
    }
    runRecords = index + 1;
    ++totalRecords;
    *slot = core().recordAt(index);
    return 0;
}

int KaSort::addRecord(const void* record) noexcept
{
    void* slot;
    if (getRecordSlot(&slot))
        return 1;
    memcpy(slot, record, recordSize);
    return 0;
}

void KaSort::attachPointerArray(uint64_t n, void* array) noexcept
{
    recordSize = sizeof(void*);
    runRecords = totalRecords = recordsPerBuffer = n;
    bufferCount = 1;
    buffers[0] = static_cast<uint8_t*>(array);
}

// Moves count records between the run file (from record index) and the
// slots (from slot), in pieces that end at buffer borders.
int KaSort::transfer(uint64_t index, uint64_t count, uint64_t slot, int write) noexcept
{
    while (count > 0) {
        uint64_t pos = slot % recordsPerBuffer;
        uint64_t n = recordsPerBuffer - pos;
        if (n > count)
            n = count;
        uint8_t* p = buffers[slot / recordsPerBuffer] + pos * recordSize;
        int64_t offset = static_cast<int64_t>(index * recordSize);
        uint64_t bytes = n * recordSize;
        if (write) {
            if (bosfwrite(fd, offset, p, bytes))
                return 1;
        } else {
            uint64_t got = 0;
            if (bosfread(fd, offset, p, bytes, &got))
                return 1;
            if (got != bytes) {
                // The run file was cut short behind the sort's back.
                bosMapError(EIO, path);
                return 1;
            }
        }
        index += n;
        slot += n;
        count -= n;
    }
    return 0;
}

// Every buffer is written whole, so run r starts at record r * (buffers x
// records per buffer).
int KaSort::writeRun(uint16_t run) noexcept
{
    uint64_t perRun = static_cast<uint64_t>(bufferCount) * recordsPerBuffer;
    return transfer(run * perRun, perRun, 0, 1);
}

int KaSort::prepareRead() noexcept
{
    if (flags & KA_SORT_READY)
        return 0;
    if (checkKeys())
        return 1;
    if (runRecords > 1 && core().sortRange(0, runRecords - 1))
        return 1;
    readCursor = 0;
    current = nullptr;
    atEnd = 0;
    headPending = 0;
    if (flags & KA_SORT_SPILLED) {
        if (runCount == UINT16_MAX) {
            errPost(MSG_SORT_LIMIT_EXCEEDED);
            return 1;
        }
        if (writeRun(runCount))
            return 1;
        ++runCount;
        lastRunRecords = runRecords;
        if (mergeInit())
            return 1;
        flags |= KA_SORT_READY;
        return mergeRestart(0);
    }
    flags |= KA_SORT_READY;
    return 0;
}

int KaSort::finishInput() noexcept
{
    return prepareRead();
}

// --- The merge --------------------------------------------------------------

void KaSort::mergeFree() noexcept
{
    if (mergeAllocated)
        ramFree(merge);
    merge = nullptr;
    mergeAllocated = 0;
}

// The control block lives in the first slots of buffer 0 when it fits there
// and leaves at least two slots for the runs; otherwise it gets a block of
// its own and every slot serves the runs.
int KaSort::mergeInit() noexcept
{
    mergeFree();
    uint64_t perRun = static_cast<uint64_t>(bufferCount) * recordsPerBuffer;
    uint64_t bytes = kMergeHeaderBytes + kMergeEntryBytes * runCount;
    uint64_t header = (bytes + recordSize - 1) / recordSize;
    KaSortMerge* m;
    if (bytes <= recordsPerBuffer * recordSize && perRun >= header + 2) {
        m = reinterpret_cast<KaSortMerge*>(buffers[0]);
    } else {
        m = static_cast<KaSortMerge*>(ramAlloc(bytes));
        if (m == nullptr)
            return 1;
        mergeAllocated = 1;
        header = 0;
    }
    m->runCount = runCount;
    m->activeRuns = runCount;
    m->reserved = 0;
    m->recordsPerRun = perRun;
    m->slotsPerRun = (perRun - header) / runCount;
    m->singleSlot = m->slotsPerRun == 0;
    if (m->singleSlot)
        m->slotsPerRun = 1;
    m->firstFree = header;
    m->lastSlot = perRun - 1;
    m->nextSlot = header;
    KaSortRun* runs = m->runs();
    for (uint16_t r = 0; r < runCount; ++r) {
        KaSortRun& run = runs[r];
        run.first = r * perRun;
        run.last = run.first + perRun - 1;
        if (run.last > totalRecords - 1)
            run.last = totalRecords - 1;
        run.nextIndex = run.first;
        run.bufferFirst = run.first;
        run.headPos = kHeadLoad;
        run.slot = m->singleSlot ? kNoSlot : header + r * m->slotsPerRun;
        run.groupStart = run.first;
        run.groupEnd = run.last;
    }
    merge = m;
    return 0;
}

// Reads the run's next records into its slots. In single-slot mode a run
// without a slot takes the next one in turn (never protectSlot), and the run
// that held it must reload.
int KaSort::mergeLoad(uint64_t entry, uint64_t protectSlot) noexcept
{
    KaSortMerge* m = merge;
    KaSortRun* runs = m->runs();
    KaSortRun& run = runs[entry];
    if (run.nextIndex > run.last) {
        run.headPos = kHeadDone;
        return 0;
    }
    if (run.slot == kNoSlot) {
        uint64_t s = m->nextSlot;
        if (s == protectSlot)
            s = s == m->lastSlot ? m->firstFree : s + 1;
        for (uint16_t r = 0; r < m->runCount; ++r) {
            if (runs[r].slot == s) {
                runs[r].slot = kNoSlot;
                if (runs[r].headPos >= 0)
                    runs[r].headPos = kHeadLoad;
            }
        }
        run.slot = s;
        m->nextSlot = s == m->lastSlot ? m->firstFree : s + 1;
    }
    uint64_t n = run.last - run.nextIndex + 1;
    if (n > m->slotsPerRun)
        n = m->slotsPerRun;
    if (transfer(run.nextIndex, n, run.slot, 0))
        return 1;
    run.bufferFirst = run.nextIndex;
    run.headPos = 0;
    return 0;
}

int KaSort::mergeHead(uint64_t entry, uint64_t protectSlot, const uint8_t** head) noexcept
{
    KaSortRun& run = merge->runs()[entry];
    *head = nullptr;
    if (run.nextIndex > run.last)
        run.headPos = kHeadDone;
    if (run.headPos == kHeadDone)
        return 0;
    if (run.headPos == kHeadLoad && mergeLoad(entry, protectSlot))
        return 1;
    KaSortRun& loaded = merge->runs()[entry];
    *head = core().recordAt(loaded.slot + loaded.headPos);
    return 0;
}

// Moves the entry behind the active runs; it leaves the active set.
void KaSort::mergeRetire(uint64_t entry) noexcept
{
    KaSortMerge* m = merge;
    KaSortRun* runs = m->runs();
    KaSortRun run = runs[entry];
    uint64_t lastActive = m->activeRuns - 1;
    if (lastActive > entry)
        memmove(&runs[entry], &runs[entry + 1], (lastActive - entry) * sizeof(KaSortRun));
    runs[lastActive] = run;
    --m->activeRuns;
}

// Orders all runs by their heads (from key 0), the exhausted ones last.
int KaSort::mergeOrder() noexcept
{
    KaSortMerge* m = merge;
    KaSortRun* runs = m->runs();
    for (uint64_t i = 1; i < m->runCount; ++i) {
        for (uint64_t j = i; j > 0; --j) {
            const uint8_t* a;
            const uint8_t* b;
            if (mergeHead(j - 1, runs[j].slot, &a) || mergeHead(j, runs[j - 1].slot, &b))
                return 1;
            // In single-slot mode the second load may have taken a's slot only if
            // a had none; load a again with b protected.
            if (a && runs[j - 1].headPos == kHeadLoad && mergeHead(j - 1, runs[j].slot, &a))
                return 1;
            bool greater = a == nullptr ? b != nullptr : (b != nullptr && core().compareRecords(a, b, 0) > 0);
            if (!greater)
                break;
            KaSortRun t = runs[j - 1];
            runs[j - 1] = runs[j];
            runs[j] = t;
        }
    }
    uint16_t active = 0;
    while (active < m->runCount && runs[active].nextIndex <= runs[active].last)
        ++active;
    m->activeRuns = active;
    flags &= static_cast<uint8_t>(~KA_SORT_REORDER_RUNS);
    return 0;
}

// Every run goes back to its first record (or its saved group start).
int KaSort::mergeRestart(int atGroupStart) noexcept
{
    if (merge == nullptr) {
        errPost(MSG_SORT_LIMIT_EXCEEDED);
        return 1;
    }
    KaSortRun* runs = merge->runs();
    for (uint16_t r = 0; r < merge->runCount; ++r) {
        runs[r].nextIndex = atGroupStart ? runs[r].groupStart : runs[r].first;
        runs[r].headPos = runs[r].nextIndex > runs[r].last ? kHeadDone : kHeadLoad;
    }
    headPending = 1;
    atEnd = 0;
    return mergeOrder();
}

int KaSort::mergeRead(const uint8_t** record) noexcept
{
    *record = nullptr;
    if (merge == nullptr) {
        errPost(MSG_SORT_LIMIT_EXCEEDED);
        return 1;
    }
    if (merge->activeRuns == 0)
        return 0;
    return mergeHead(0, kNoSlot, record);
}

// The first run's head moves on by one and the run is placed among the
// others by binary search on their heads.
int KaSort::mergeAdvance(const uint8_t** record) noexcept
{
    *record = nullptr;
    if (merge == nullptr) {
        errPost(MSG_SORT_LIMIT_EXCEEDED);
        return 1;
    }
    KaSortMerge* m = merge;
    if (m->activeRuns == 0)
        return 0;
    KaSortRun* runs = m->runs();
    KaSortRun& run = runs[0];
    ++run.nextIndex;
    if (run.nextIndex > run.last)
        run.headPos = kHeadDone;
    else if (run.headPos >= 0 && run.slot != kNoSlot && run.nextIndex - run.bufferFirst < m->slotsPerRun)
        run.headPos = static_cast<int64_t>(run.nextIndex - run.bufferFirst);
    else
        run.headPos = kHeadLoad;

    if (flags & KA_SORT_REORDER_RUNS) {
        if (mergeOrder())
            return 1;
    } else if (run.headPos == kHeadDone) {
        mergeRetire(0);
    } else if (m->activeRuns > 1) {
        const uint8_t* head;
        if (mergeHead(0, kNoSlot, &head))
            return 1;
        int64_t lo = 1;
        int64_t hi = m->activeRuns - 1;
        int64_t pos = -1;
        while (lo <= hi) {
            int64_t mid = lo + (hi - lo) / 2;
            const uint8_t* probe;
            if (mergeHead(mid, runs[0].slot, &probe))
                return 1;
            if (runs[0].headPos == kHeadLoad && mergeHead(0, runs[mid].slot, &head))
                return 1;
            int c = core().compareRecords(head, probe, 0);
            if (c == 0) {
                pos = mid;
                break;
            }
            if (c > 0)
                lo = mid + 1;
            else
                hi = mid - 1;
        }
        if (pos < 0)
            pos = lo;
        if (pos > 1) {
            KaSortRun t = runs[0];
            memmove(&runs[0], &runs[1], (pos - 1) * sizeof(KaSortRun));
            runs[pos - 1] = t;
        }
    }
    return mergeRead(record);
}

// --- Reading ----------------------------------------------------------------

int KaSort::readNext(const uint8_t** record) noexcept
{
    *record = nullptr;
    if (!(flags & KA_SORT_READY))
        return 0;
    if (flags & KA_SORT_SPILLED) {
        const uint8_t* rec;
        if (headPending) {
            headPending = 0;
            if (mergeRead(&rec))
                return 1;
        } else if (mergeAdvance(&rec)) {
            return 1;
        }
        if (rec == nullptr) {
            atEnd = 1;
            return 0;
        }
        ++readCursor;
        *record = rec;
        return 0;
    }
    if (readCursor >= runRecords) {
        atEnd = 1;
        return 0;
    }
    *record = core().recordAt(readCursor++);
    return 0;
}

int KaSort::keepCurrent(const uint8_t* record) noexcept
{
    if (!(flags & KA_SORT_SPILLED)) {
        current = const_cast<uint8_t*>(record);
        return 0;
    }
    if (currentCopy == nullptr) {
        currentCopy = static_cast<uint8_t*>(ramAlloc(recordSize));
        if (currentCopy == nullptr)
            return 1;
    }
    if (record != currentCopy)
        memcpy(currentCopy, record, recordSize);
    current = currentCopy;
    return 0;
}

int KaSort::first(void** record) noexcept
{
    *record = nullptr;
    if (!(flags & KA_SORT_READY)) {
        if (prepareRead())
            return 1;
    } else {
        readCursor = 0;
        atEnd = 0;
        if ((flags & KA_SORT_SPILLED) && mergeRestart(0))
            return 1;
    }
    const uint8_t* rec;
    if (readNext(&rec))
        return 1;
    *record = const_cast<uint8_t*>(rec);
    return 0;
}

int KaSort::next(void** record) noexcept
{
    *record = nullptr;
    if (prepareRead())
        return 1;
    const uint8_t* rec;
    if (readNext(&rec))
        return 1;
    *record = const_cast<uint8_t*>(rec);
    return 0;
}

int KaSort::nextSorted(void** record) noexcept
{
    const uint8_t* rec;
    int rc = readNext(&rec);
    *record = const_cast<uint8_t*>(rec);
    return rc;
}

int KaSort::nextWithLevel(void** record, uint64_t* level) noexcept
{
    *record = nullptr;
    *level = 0;
    uint64_t before = readCursor;
    if (prepareRead())
        return 1;
    const uint8_t* rec;
    if (readNext(&rec))
        return 1;
    if (rec == nullptr)
        return 0;
    if (before != 0 && current != nullptr)
        *level = core().leadingEqualKeys(current, rec, keyCount);
    if (keepCurrent(rec))
        return 1;
    *record = current;
    return 0;
}

int KaSort::find(const void* keyRecord, void** record) noexcept
{
    *record = nullptr;
    if (prepareRead())
        return 1;
    const uint8_t* key = static_cast<const uint8_t*>(keyRecord);
    current = nullptr;
    atEnd = 0;
    const KaSortCore records = core();
    if (!(flags & KA_SORT_SPILLED)) {
        uint64_t lo = 0;
        uint64_t hi = runRecords;
        while (lo < hi) {
            uint64_t mid = lo + (hi - lo) / 2;
            if (records.compareRecords(records.recordAt(mid), key, 0) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo < runRecords && records.compareRecords(records.recordAt(lo), key, 0) == 0) {
            current = records.recordAt(lo);
            *record = current;
            readCursor = lo + 1;
        } else {
            readCursor = lo;
        }
        return 0;
    }

    // Each run is searched on disk, one record at a time, through the
    // private current copy.
    if (currentCopy == nullptr) {
        currentCopy = static_cast<uint8_t*>(ramAlloc(recordSize));
        if (currentCopy == nullptr)
            return 1;
    }
    if (merge == nullptr) {
        errPost(MSG_SORT_LIMIT_EXCEEDED);
        return 1;
    }
    KaSortRun* runs = merge->runs();
    uint64_t before = 0;
    for (uint16_t r = 0; r < merge->runCount; ++r) {
        uint64_t lo = runs[r].first;
        uint64_t hi = runs[r].last + 1;
        while (lo < hi) {
            uint64_t mid = lo + (hi - lo) / 2;
            uint64_t got = 0;
            if (bosfread(fd, static_cast<int64_t>(mid * recordSize), currentCopy, recordSize, &got))
                return 1;
            if (got != recordSize) {
                bosMapError(EIO, path);
                return 1;
            }
            if (records.compareRecords(currentCopy, key, 0) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        runs[r].nextIndex = lo;
        runs[r].headPos = lo > runs[r].last ? kHeadDone : kHeadLoad;
        before += lo - runs[r].first;
    }
    readCursor = before;
    if (mergeOrder())
        return 1;
    const uint8_t* head;
    if (mergeRead(&head))
        return 1;
    if (head && records.compareRecords(head, key, 0) == 0) {
        if (keepCurrent(head))
            return 1;
        *record = current;
        ++readCursor;
        headPending = 0;
    } else {
        headPending = 1;
    }
    return 0;
}

// --- Re-sorting and groups ----------------------------------------------------

void KaSort::setStartKey(uint64_t k) noexcept
{
    startKey = k > keyCount ? keyCount : k;
}

int KaSort::resort() noexcept
{
    if (prepareRead() || checkKeys())
        return 1;
    readCursor = 0;
    current = nullptr;
    atEnd = 0;
    if (!(flags & KA_SORT_SPILLED))
        return runRecords > 1 ? core().sortRangeVariant(0, runRecords - 1, 0) : 0;
    return resortRuns();
}

// Each run is read into the buffers, sorted and written back in place.
int KaSort::resortRuns() noexcept
{
    mergeFree();
    uint64_t perRun = static_cast<uint64_t>(bufferCount) * recordsPerBuffer;
    for (uint16_t r = 0; r < runCount; ++r) {
        uint64_t n = r == runCount - 1 ? lastRunRecords : perRun;
        uint64_t first = r * perRun;
        if (transfer(first, n, 0, 0))
            return 1;
        if (n > 1 && core().sortRangeVariant(0, n - 1, 0))
            return 1;
        if (transfer(first, n, 0, 1))
            return 1;
    }
    if (mergeInit())
        return 1;
    return mergeRestart(0);
}

uint64_t KaSort::markGroupStart() noexcept
{
    groupFirstIndex = readCursor ? readCursor - 1 : 0;
    if ((flags & KA_SORT_SPILLED) && merge) {
        KaSortRun* runs = merge->runs();
        for (uint16_t r = 0; r < merge->runCount; ++r)
            runs[r].groupStart = runs[r].nextIndex;
    }
    return groupFirstIndex;
}

uint64_t KaSort::markGroupEnd() noexcept
{
    groupLastIndex = atEnd ? readCursor - 1 : readCursor - 2;
    if ((flags & KA_SORT_SPILLED) && merge) {
        KaSortRun* runs = merge->runs();
        for (uint16_t r = 0; r < merge->runCount; ++r)
            runs[r].groupEnd = runs[r].nextIndex - 1;
    }
    return groupLastIndex;
}

int KaSort::sortGroup(uint64_t k, int whole) noexcept
{
    if (!(flags & KA_SORT_READY))
        return 0;
    startKey = k > keyCount ? keyCount : k;
    int rc = 0;
    if (!(flags & KA_SORT_SPILLED)) {
        int64_t gf = static_cast<int64_t>(groupFirstIndex);
        int64_t gl = static_cast<int64_t>(groupLastIndex);
        if (gl > gf && static_cast<uint64_t>(gl) < runRecords)
            rc = core().sortRangeVariant(groupFirstIndex, groupLastIndex, whole);
    } else {
        rc = sortGroupOnDisk(whole);
    }
    startKey = 0;
    return rc;
}

// Each run's part of the group is sorted by itself: where it lies in the
// run's loaded buffer, else in the free slots, else (larger than those) in
// all of memory with the control block parked behind the run file's records.
int KaSort::sortGroupOnDisk(int whole) noexcept
{
    if (merge == nullptr) {
        errPost(MSG_SORT_LIMIT_EXCEEDED);
        return 1;
    }
    bool reloading = false;
    uint16_t count = merge->runCount;
    for (uint16_t r = 0; r < count; ++r) {
        KaSortMerge* m = merge;
        KaSortRun& run = m->runs()[r];
        uint64_t start = run.groupStart;
        uint64_t end = run.groupEnd;
        if (end == kNoSlot || end < start || end > run.last)
            continue;
        uint64_t n = end - start + 1;
        if (n < 2)
            continue;
        if (!reloading && run.headPos >= 0 && run.slot != kNoSlot && start >= run.bufferFirst) {
            uint64_t loaded = run.last - run.bufferFirst + 1;
            if (loaded > m->slotsPerRun)
                loaded = m->slotsPerRun;
            if (end < run.bufferFirst + loaded) {
                uint64_t s = run.slot + (start - run.bufferFirst);
                if (core().sortRangeVariant(s, s + n - 1, whole) || transfer(start, n, s, 1))
                    return 1;
                continue;
            }
        }
        if (!reloading) {
            // The free slots are about to be overwritten: every run reloads.
            KaSortRun* runs = m->runs();
            for (uint16_t q = 0; q < count; ++q) {
                if (runs[q].headPos >= 0)
                    runs[q].headPos = kHeadLoad;
                if (m->singleSlot)
                    runs[q].slot = kNoSlot;
            }
            reloading = true;
        }
        uint64_t freeSlots = m->lastSlot - m->firstFree + 1;
        if (n <= freeSlots) {
            uint64_t s = m->firstFree;
            if (transfer(start, n, s, 0) || core().sortRangeVariant(s, s + n - 1, whole) || transfer(start, n, s, 1))
                return 1;
            continue;
        }
        uint64_t header = m->firstFree;
        uint64_t park = static_cast<uint64_t>(count) * m->recordsPerRun;
        if (transfer(park, header, 0, 1) || transfer(start, n, 0, 0) || core().sortRangeVariant(0, n - 1, whole) ||
            transfer(start, n, 0, 1) || transfer(park, header, 0, 0))
            return 1;
    }
    return 0;
}

int KaSort::groupFirst(void** record) noexcept
{
    *record = nullptr;
    if (!(flags & KA_SORT_READY))
        return 0;
    atEnd = 0;
    if (!(flags & KA_SORT_SPILLED)) {
        if (groupFirstIndex >= runRecords)
            return 0;
        current = core().recordAt(groupFirstIndex);
        readCursor = groupFirstIndex + 1;
        *record = current;
        return 0;
    }
    if (mergeRestart(1))
        return 1;
    headPending = 0;
    const uint8_t* head;
    if (mergeRead(&head))
        return 1;
    if (head == nullptr)
        return 0;
    if (keepCurrent(head))
        return 1;
    readCursor = groupFirstIndex + 1;
    *record = current;
    return 0;
}

int KaSort::groupNext(void** record) noexcept
{
    *record = nullptr;
    if (static_cast<int64_t>(readCursor) > static_cast<int64_t>(groupLastIndex))
        return 0;
    const uint8_t* rec;
    if (readNext(&rec))
        return 1;
    *record = const_cast<uint8_t*>(rec);
    return 0;
}
