// Process slot table, per-thread records and posting by message number.
#include "foundation/kathread.h"

#include <pthread.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/kaerror.h"
#include "foundation/kalock.h"
#include "platform/bos.h"

namespace {

void* gTaskSlots[KA_TASK_SLOT_COUNT];

// Guards the thread list. Built on first use rather than by a static
// initialiser of this file, so that code run by other initialisers at load
// can already post, and never destroyed, so that code run by exit handlers
// still can.
KaCriticalSection& threadListLock() noexcept
{
    alignas(KaCriticalSection) static unsigned char storage[sizeof(KaCriticalSection)];
    static KaCriticalSection* lock = new (storage) KaCriticalSection(0, kKaLockPlain);
    return *lock;
}

// Records for threads that register while the allocator is exhausted, so
// that such a thread still has an error list and its diagnostics reach the
// application. Once linked they are reused like any other record.
constexpr int kReserveRecords = KA_THREAD_RESERVE_RECORDS;
alignas(KaThreadInfo) unsigned char gReserveStorage[kReserveRecords][sizeof(KaThreadInfo)];
int gReserveUsed = 0;  // under the thread-list lock

KaThreadInfo* newThreadRecord() noexcept
{
    return new KaThreadInfo;
}

std::atomic<KaThreadRecordAllocator> gRecordAllocator{newThreadRecord};

KaThreadInfo* listHead() noexcept
{
    return static_cast<KaThreadInfo*>(gTaskSlots[KA_TASK_SLOT_THREAD_LIST]);
}

// Caller holds the thread-list lock.
KaThreadInfo* findLocked(uint64_t id) noexcept
{
    for (KaThreadInfo* p = listHead(); p != nullptr; p = p->next) {
        if (p->useCount > 0 && p->threadId == id)
            return p;
    }
    return nullptr;
}

void initRecord(KaThreadInfo* rec, uint64_t id) noexcept
{
    for (void*& slot : rec->slots)
        slot = nullptr;
    rec->threadId = id;
    rec->useCount = 1;
}

bool validThreadSlot(int index) noexcept
{
    return index >= 0 && index < KA_THREAD_SLOT_COUNT;
}

bool validTaskSlot(int index) noexcept
{
    return index >= 0 && index < KA_TASK_SLOT_COUNT;
}

KaError* postNumbered(uint16_t number, int warning) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, number);
    return KaErrorPost(list->newRecordW(number, text, warning, 0, 0));
}

}  // namespace

// ---- Process slots ------------------------------------------------------

int taskInit() noexcept
{
    return 1;
}

int taskIsInit() noexcept
{
    return 1;
}

void* taskGetSlot(int index) noexcept
{
    return validTaskSlot(index) ? gTaskSlots[index] : nullptr;
}

void taskSetSlot(int index, void* value) noexcept
{
    if (validTaskSlot(index))
        gTaskSlots[index] = value;
}

void** taskSlotAddress(int index) noexcept
{
    return validTaskSlot(index) ? &gTaskSlots[index] : nullptr;
}

void taskReleaseIniCache() noexcept
{
    if (gTaskSlots[KA_TASK_SLOT_ENV_COUNT] != nullptr)
        return;
    auto* cache = static_cast<KaObject*>(gTaskSlots[KA_TASK_SLOT_INI_CACHE]);
    if (cache == nullptr)
        return;
    gTaskSlots[KA_TASK_SLOT_INI_CACHE] = nullptr;
    delete cache;
}

// ---- Thread records -----------------------------------------------------

KaThreadInfo::~KaThreadInfo() = default;

void KaThreadInfo::release() noexcept
{
    KaCriticalSection& lock = threadListLock();
    lock.enter();
    if (useCount > 0)
        --useCount;
    lock.leave();
}

uint64_t threadCurrentId() noexcept
{
    return static_cast<uint64_t>(pthread_self());
}

// The list is walked under the lock: another thread may be taking over a
// free record or appending one at the same moment.
KaThreadInfo* threadFind(uint64_t threadId) noexcept
{
    KaCriticalSection& lock = threadListLock();
    lock.enter();
    KaThreadInfo* rec = findLocked(threadId);
    lock.leave();
    return rec;
}

KaThreadInfo* threadCurrent() noexcept
{
    return threadFind(threadCurrentId());
}

void* threadGetSlot(int index) noexcept
{
    if (!validThreadSlot(index))
        return nullptr;
    KaThreadInfo* rec = threadCurrent();
    return rec != nullptr ? rec->slots[index] : nullptr;
}

void** threadSlotAddress(int index) noexcept
{
    if (!validThreadSlot(index))
        return nullptr;
    KaThreadInfo* rec = threadCurrent();
    return rec != nullptr ? &rec->slots[index] : nullptr;
}

void threadSetSlot(int index, void* value) noexcept
{
    if (!validThreadSlot(index))
        return;
    KaThreadInfo* rec = threadCurrent();
    if (rec != nullptr)
        rec->slots[index] = value;
}

KaThreadRecordAllocator threadSetRecordAllocator(KaThreadRecordAllocator allocator) noexcept
{
    return gRecordAllocator.exchange(allocator != nullptr ? allocator : newThreadRecord);
}

int threadAttach() noexcept
{
    uint64_t id = threadCurrentId();
    KaCriticalSection& lock = threadListLock();
    lock.enter();
    if (KaThreadInfo* rec = findLocked(id)) {
        ++rec->useCount;
        lock.leave();
        return 1;
    }
    for (KaThreadInfo* p = listHead(); p != nullptr; p = p->next) {
        if (p->useCount == 0) {
            initRecord(p, id);
            lock.leave();
            return 1;
        }
    }
    lock.leave();

    // Allocated outside the lock: a failure reports through the thread
    // records, which take the lock themselves.
    KaThreadInfo* fresh = gRecordAllocator.load()();
    lock.enter();
    if (fresh == nullptr && gReserveUsed < kReserveRecords)
        fresh = new (gReserveStorage[gReserveUsed++]) KaThreadInfo;
    if (fresh == nullptr) {
        lock.leave();
        return 0;
    }
    initRecord(fresh, id);
    fresh->next = nullptr;
    KaThreadInfo* last = listHead();
    if (last == nullptr) {
        gTaskSlots[KA_TASK_SLOT_THREAD_LIST] = fresh;
    } else {
        while (last->next != nullptr)
            last = last->next;
        last->next = fresh;
    }
    lock.leave();
    return 1;
}

void threadDetach() noexcept
{
    uint64_t id = threadCurrentId();
    KaCriticalSection& lock = threadListLock();
    lock.enter();
    KaThreadInfo* rec = findLocked(id);
    if (rec != nullptr && rec->useCount > 0)
        --rec->useCount;
    lock.leave();
}

// ---- Posting by message number ------------------------------------------

KaError* errPost(uint16_t number) noexcept
{
    return postNumbered(number, 0);
}

KaError* errPostWarning(uint16_t number) noexcept
{
    return postNumbered(number, 1);
}

KaError* errPostText(uint16_t number, const uint16_t* text) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    static const uint16_t empty[1] = {0};
    return KaErrorPost(list->newRecordW(number, text != nullptr ? text : empty, 0, 0, 0));
}

KaError* errPostTextA(uint16_t number, const char* text) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    return KaErrorPost(list->newRecord(number, text != nullptr ? text : "", 1, 0, 0, 0));
}

KaError* errAppendMessage(uint16_t number) noexcept
{
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, number);
    return KaErrorAppendTextW(text);
}

KaError* errAppendMessageAt(uint16_t number, size_t index) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    KaError* rec = list != nullptr ? list->recordAt(index) : nullptr;
    if (rec == nullptr)
        return KaErrorParamSink();
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, number);
    return rec->appendTemplateW(text);
}

size_t errLoadMessageW(uint16_t* buffer, size_t units, uint16_t number) noexcept
{
    if (buffer == nullptr || units == 0)
        return 0;
    buffer[0] = 0;
    int64_t n = LoadStringFromOpenFileW(nullptr, number, buffer, units);
    if (n <= 0) {
        buffer[0] = 0;
        return 0;
    }
    size_t len = size_t(n) < units ? size_t(n) : units - 1;
    buffer[len] = 0;
    return len;
}

size_t errLoadMessage(char* buffer, size_t size, uint16_t number) noexcept
{
    if (buffer == nullptr || size == 0)
        return 0;
    char text[KA_MESSAGE_TEXT_SIZE];
    int64_t n = LoadStringFromOpenFile(nullptr, number, text, sizeof text);
    size_t len = n <= 0 ? 0 : size_t(n);
    if (len >= sizeof text)
        len = sizeof text - 1;
    if (len >= size)
        len = size - 1;
    memcpy(buffer, text, len);
    buffer[len] = '\0';
    return len;
}

int errShowMessage(const char* text, const char* caption, int flag) noexcept
{
    if (text == nullptr)
        text = "";
    if (caption != nullptr && flag != 0)
        printf("%s:\n%s\n", caption, text);
    else
        printf("\n%s\n", text);
    return 2;
}

int16_t errMessageBox(const char* text, const char* caption, int16_t flag) noexcept
{
    return int16_t(errShowMessage(text, caption, flag));
}
