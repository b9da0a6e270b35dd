// Process-wide pointer slots, per-thread records and the err* operations with
// which every part of the driver posts a diagnostic by message number into
// the calling thread's current error list.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include "foundation/kaobject.h"

class KaError;
class KaErrorList;

// ---- Process slot table -------------------------------------------------

constexpr int KA_TASK_SLOT_COUNT = 20;
// Fixed indexes; each user guards its own slot with its own lock.
constexpr int KA_TASK_SLOT_CONVERTER_USE = 1;   // use counter of the converter caches
constexpr int KA_TASK_SLOT_SHARED_OBJECT = 4;   // shared, reference-counted object
constexpr int KA_TASK_SLOT_ENV_COUNT = 9;       // number of live environment handles
constexpr int KA_TASK_SLOT_LOCK_TABLE = 10;     // table of 45 critical sections
constexpr int KA_TASK_SLOT_INI_CACHE = 12;      // ini-file cache list
constexpr int KA_TASK_SLOT_THREAD_LIST = 13;    // head of the KaThreadInfo list

int taskInit() noexcept;
int taskIsInit() noexcept;
void* taskGetSlot(int index) noexcept;
void taskSetSlot(int index, void* value) noexcept;
void** taskSlotAddress(int index) noexcept;
// Releases the ini cache once no environment is alive, through the hook its
// owner (the platform layer, which guards the cache with its own lock)
// registered; nothing happens while no hook is registered.
void taskReleaseIniCache() noexcept;
using KaTaskReleaseHook = void (*)() noexcept;
void taskSetIniCacheRelease(KaTaskReleaseHook hook) noexcept;

// ---- Per-thread records -------------------------------------------------

constexpr int KA_THREAD_SLOT_COUNT = 7;
constexpr int KA_THREAD_SLOT_ERROR_LIST = 0;    // the thread's current KaErrorList

// One record per thread that is inside the driver. Records are reused by
// later threads once free and are never unlinked or freed.
//
// Lookups walk the list without the thread-list lock while other threads
// register, so the link, the owner and the use count are atomics. A record
// is linked only once initialised, and a reused record gets its owner
// before its use count turns positive. The slots are plain: only the
// owning thread touches them.
class KaThreadInfo : public KaObject {
public:
    std::atomic<KaThreadInfo*> next{nullptr};
    std::atomic<uint64_t> threadId{0};
    void* slots[KA_THREAD_SLOT_COUNT] = {};
    std::atomic<int64_t> useCount{0};

    KaThreadInfo() noexcept = default;
    ~KaThreadInfo() override;

    // Lowers the use count by one under the thread-list lock.
    void release() noexcept;
};

// Records kept in static storage for threads that register while the
// allocator is exhausted.
constexpr int KA_THREAD_RESERVE_RECORDS = 4;

// How threadAttach obtains a new record (by default `new KaThreadInfo`);
// replaceable so that an exhausted allocator can be simulated. Returns the
// allocator in use before.
using KaThreadRecordAllocator = KaThreadInfo* (*)() noexcept;
KaThreadRecordAllocator threadSetRecordAllocator(KaThreadRecordAllocator allocator) noexcept;

// The record in use for the thread id, or null. Takes no lock.
KaThreadInfo* threadFind(uint64_t threadId) noexcept;
void* threadGetSlot(int index) noexcept;
void** threadSlotAddress(int index) noexcept;
void threadSetSlot(int index, void* value) noexcept;
// 1 when the calling thread is registered (once more), 0 when no record
// could be had.
int threadAttach() noexcept;
void threadDetach() noexcept;
// The calling thread's record in use, or null. Takes no lock; the record
// found last is remembered per thread, so the usual answer costs no walk.
KaThreadInfo* threadCurrent() noexcept;
uint64_t threadCurrentId() noexcept;

// ---- Error posting by message number ------------------------------------

// Size of the catalogue text buffers, in units or bytes; longer texts are cut.
constexpr size_t KA_MESSAGE_TEXT_SIZE = 1024;

// Each returns the new record, so that parameters can be chained; with no
// current list (or no memory) the process-wide parameter sink is returned.
KaError* errPost(uint16_t number) noexcept;
KaError* errPostWarning(uint16_t number) noexcept;
KaError* errPostText(uint16_t number, const uint16_t* text) noexcept;
KaError* errPostTextA(uint16_t number, const char* text) noexcept;
// Appends the catalogue text to the last record (or the record at index) and
// restarts its parameter numbering, so that following parameters fill the
// placeholders of the appended text.
KaError* errAppendMessage(uint16_t number) noexcept;
KaError* errAppendMessageAt(uint16_t number, size_t index) noexcept;

// Catalogue text of the number into buffer (capacity in units or bytes,
// terminator included); the text is cut to fit. Without a catalogue the
// text is the number in decimal. Returns the length of the text stored.
size_t errLoadMessageW(uint16_t* buffer, size_t units, uint16_t number) noexcept;
size_t errLoadMessage(char* buffer, size_t size, uint16_t number) noexcept;

// Where catalogue texts come from. The foundation reads no catalogue itself:
// the operating-system layer, which opens it, installs its readers here.
// Each stores the text of number, cut to fit and terminated, and returns its
// length. With no source installed a text is the number in decimal, as with
// a missing catalogue.
struct KaMessageSource {
    int64_t (*load)(uint32_t number, char* buffer, size_t size) noexcept;
    int64_t (*loadW)(uint32_t number, uint16_t* buffer, size_t units) noexcept;
};
// The source must outlive every later post; null restores the default.
void errSetMessageSource(const KaMessageSource* source) noexcept;

// The system's message box: the text (and caption) on standard output.
int errShowMessage(const char* text, const char* caption, int flag) noexcept;
int16_t errMessageBox(const char* text, const char* caption, int16_t flag) noexcept;
