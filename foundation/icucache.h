// The ICU converters the driver keeps: KaCharConv, the converter set of a
// connection (opened once per code page or name, with the substitution
// callback of ReportCodepageConversionErrors), and KaIcuCache, the small pool
// of idle converters per code page that connections and statements embed.
// Also the mapping of ICU statuses and conversion results to the conversion
// diagnostics (MSG_CONVERSION_*, MSG_CONVERTER_*). Both owners lock, so statements of one connection, and threads
// converting at once, may share them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <unicode/ucnv.h>

#include "foundation/kalock.h"

// Modes of ReportCodepageConversionErrors.
constexpr int32_t kConvModeSubstitute = 0;  // substitute silently
constexpr int32_t kConvModeFail = 1;        // fail on a character the target lacks
constexpr int32_t kConvModeReport = 2;      // substitute and warn (MSG_CONVERSION_CHARACTER_REPLACED)

constexpr int64_t kConvNoLast = 4275878537LL;  // no code page has this number
constexpr size_t kIcuCacheEntries = 8;
constexpr size_t kIcuCacheIdle = 3;
constexpr size_t kLeadTableBytes = 256;

// Context of the substitution callback (24 bytes).
struct KaConvCallbackContext {
    int32_t mode;
    int32_t substituted;  // set by the callback in reporting mode; cleared by its reader
    UConverterFromUCallback previous;
    const void* previousContext;
};

// Installs the substitution callback on a converter with ctx; 0/1 (the ICU
// status is left in *status).
[[nodiscard]] int KaInstallSubstitutionCallback(UConverter* converter, KaConvCallbackContext* ctx,
                                                UErrorCode* status) noexcept;

// Posts the diagnostic of an ICU failure status (conversion results are
// those of foundation/icuconv.h). 0 for success, truncation
// (MSG_CONVERSION_TRUNCATED) and substitution
// (MSG_CONVERSION_CHARACTER_REPLACED); 1 for failures. mode is the
// ReportCodepageConversionErrors of the converter's owner: with
// kConvModeFail an illegal character is a failure (MSG_CONVERSION_FAILED),
// not a substitution.
int icuErrorToDiag(int32_t status, int32_t mode = kConvModeSubstitute) noexcept;
// The same for a conversion result.
[[nodiscard]] int convResultToDiag(int32_t result, int32_t mode = kConvModeSubstitute) noexcept;
// Process-wide count of converter-cache users; up: 1 counts up (returns the
// count before), 0 counts down (returns the count after).
uint16_t useCountChange(int up) noexcept;

// Converters by code-page number; owns and closes them.
class KaIntCache {
public:
    uint64_t count = 0;
    uint64_t capacity = 0;
    int64_t* keys = nullptr;
    UConverter** values = nullptr;

    KaIntCache() noexcept = default;
    ~KaIntCache();
    KaIntCache(const KaIntCache&) = delete;
    KaIntCache& operator=(const KaIntCache&) = delete;

    [[nodiscard]] int allocate(uint64_t n) noexcept;
    [[nodiscard]] int add(int64_t key, UConverter* converter) noexcept;
    UConverter* find(int64_t key) const noexcept;
    void setFallback(int flag) noexcept;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};

// Converters by ICU name; owns the name copies and the converters.
class KaStrCache {
public:
    uint64_t count = 0;
    uint64_t capacity = 0;
    char** names = nullptr;
    uint64_t* nameLengths = nullptr;
    UConverter** converters = nullptr;

    KaStrCache() noexcept = default;
    ~KaStrCache();
    KaStrCache(const KaStrCache&) = delete;
    KaStrCache& operator=(const KaStrCache&) = delete;

    [[nodiscard]] int allocate(uint64_t n) noexcept;
    // nameCopy: a ramAlloc'd NUL-terminated copy that the cache takes over on success.
    [[nodiscard]] int add(char* nameCopy, uint64_t length, UConverter* converter) noexcept;
    // On a hit *name is replaced by the cache's own copy.
    UConverter* find(const char** name, uint64_t length) const noexcept;
    void setFallback(int flag) noexcept;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};

// 256-byte lead-byte tables by code-page number; owns the tables.
class KaPtrTableCache {
public:
    uint64_t count = 0;
    uint64_t capacity = 0;
    int64_t* keys = nullptr;
    uint8_t** tables = nullptr;

    KaPtrTableCache() noexcept = default;
    ~KaPtrTableCache();
    KaPtrTableCache(const KaPtrTableCache&) = delete;
    KaPtrTableCache& operator=(const KaPtrTableCache&) = delete;

    [[nodiscard]] int allocate(uint64_t n) noexcept;
    // The cache takes over a ramAlloc'd table on success.
    [[nodiscard]] int add(int64_t key, uint8_t* table) noexcept;
    uint8_t* find(int64_t key) const noexcept;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};

// A connection's converter set. Create with new (null on no memory), then
// init with the number of converters to make room for, then set
// callbackContext.mode.
class KaCharConv {
public:
    KaIntCache* byNumber = nullptr;
    int64_t lastNumber = kConvNoLast;
    UConverter* lastConverter = nullptr;
    KaPtrTableCache* leadTables = nullptr;
    int64_t lastLeadNumber = kConvNoLast;
    uint8_t* lastLeadTable = nullptr;
    KaStrCache* byName = nullptr;
    const char* lastName = nullptr;
    uint64_t lastNameLength = 0;
    UConverter* lastByName = nullptr;
    UConverter* utf8Converter = nullptr;
    KaConvCallbackContext callbackContext = {kConvModeSubstitute, 0, nullptr, nullptr};
    int32_t fallback = 0;
    // Every operation holds it: a converter keeps state between calls and the
    // set may be reached from several threads of one connection.
    KaCriticalSection lock{0, kKaLockRecursive};

    KaCharConv() noexcept = default;
    ~KaCharConv();
    KaCharConv(const KaCharConv&) = delete;
    KaCharConv& operator=(const KaCharConv&) = delete;

    [[nodiscard]] int init(uint64_t capacity) noexcept;
    void setMode(int32_t mode) noexcept;
    void setFallback(int flag) noexcept;

    // The converter stays owned by the set; use it only while no other thread
    // converts through the set (or hold `lock`).
    [[nodiscard]] int getConverter(int64_t codePage, UConverter** converter) noexcept;
    [[nodiscard]] int getConverterByName(const char* name, uint64_t length, UConverter** converter) noexcept;
    int64_t maxCharSize(int64_t codePage) noexcept;
    int64_t minCharSize(int64_t codePage) noexcept;
    [[nodiscard]] int leadTable(int64_t codePage, const uint8_t** table) noexcept;
    [[nodiscard]] int leadByteInfo(int64_t codePage, uint8_t byte, uint8_t* info) noexcept;

    // Byte counts for 8-bit text, unit counts for UTF-16; srcLen -1: terminated.
    // written, consumed and length are optional.
    [[nodiscard]] int toUTF8(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                             int64_t* consumed, int64_t codePage) noexcept;
    [[nodiscard]] int toUTF8Measured(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* length,
                                     int64_t codePage) noexcept;
    [[nodiscard]] int convert(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                              int64_t* consumed, int64_t from, int64_t to) noexcept;
    [[nodiscard]] int convertWiped(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                                   int64_t* consumed, int64_t from, int64_t to) noexcept;
    [[nodiscard]] int convertByNames(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                                     int64_t* consumed, const char* fromName, const char* toName) noexcept;
    [[nodiscard]] int convertMeasured(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* length,
                                      int64_t from, int64_t to) noexcept;
    [[nodiscard]] int fromUTF8(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                               int64_t* consumed, int64_t codePage) noexcept;
    [[nodiscard]] int fromUTF8Measured(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* length,
                                       int64_t codePage) noexcept;
    [[nodiscard]] int convertCounted(char* dest, int64_t destLen, const uint16_t* src, int64_t srcLen, int64_t* written,
                                     int64_t* consumed, int64_t codePage, int swap) noexcept;
    [[nodiscard]] int fromUnicode(char* dest, int64_t destLen, const uint16_t* src, int64_t srcLen, int64_t* length,
                                  int64_t codePage, int swap) noexcept;
    [[nodiscard]] int convertBytes(uint16_t* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                                   int64_t* consumed, int64_t codePage, int swap) noexcept;
    [[nodiscard]] int toUnicode(uint16_t* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* length,
                                int64_t codePage, int swap) noexcept;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;

private:
    int openConverter(const char* name, UConverter** converter, int64_t codePage, const char* shownName) noexcept;
    int converterPair(int64_t from, int64_t to, UConverter** source, UConverter** target, UConverter** own) noexcept;
    int converterPair(const char* from, const char* to, UConverter** source, UConverter** target,
                      UConverter** own) noexcept;
    int finishToCodePage(int32_t result) noexcept;
    int finishFromCodePage(int32_t result) noexcept;
    int utf8(UConverter** converter) noexcept;
    // Under the lock, run gets the converters named and returns the
    // routine's result, which is then reported as finishToCodePage (or
    // finishFromCodePage) does; 1 when a converter cannot be had.
    template <typename Run>
    int runOn(int64_t codePage, bool toCodePage, Run run) noexcept;
    // run(code page's converter, UTF-8 converter).
    template <typename Run>
    int runWithUtf8(int64_t codePage, bool toCodePage, Run run) noexcept;
    // run(source, target) for a conversion between two code pages (Key
    // int64_t) or two converter names (Key const char*).
    template <typename Key, typename Run>
    int runOnPair(Key from, Key to, Run run) noexcept;
};

struct KaIcuCacheEntry {
    int64_t number;
    const char* name;
    int64_t maxBytes;
    int64_t minBytes;
    uint64_t idle;
    UConverter* idleConverters[kIcuCacheIdle];
};

// Pool of idle converters per code page, embedded in connections and
// statements. A converter from acquire belongs to the caller until release.
class KaIcuCache {
public:
    uint64_t count = 0;
    uint64_t capacity = kIcuCacheEntries;
    KaIcuCacheEntry entries[kIcuCacheEntries] = {};
    KaConvCallbackContext* contexts[kIcuCacheEntries][4] = {};
    int32_t mode = kConvModeSubstitute;
    int32_t fallback = 0;
    // Guards the entries: statements of a connection share its pool.
    KaCriticalSection lock{0, kKaLockPlain};

    KaIcuCache() noexcept = default;
    ~KaIcuCache();
    KaIcuCache(const KaIcuCache&) = delete;
    KaIcuCache& operator=(const KaIcuCache&) = delete;

    // Null after posting when no converter can be opened. *context receives
    // the converter's callback context (null in substituting mode).
    [[nodiscard]] UConverter* acquire(int64_t codePage, KaConvCallbackContext** context) noexcept;
    // The same without any diagnostic, for the catalogue lookups that posting
    // itself relies on.
    [[nodiscard]] UConverter* acquireQuiet(int64_t codePage, KaConvCallbackContext** context) noexcept;
    int release(int64_t codePage, UConverter* converter, KaConvCallbackContext* context) noexcept;
    // Either output may be null.
    void getCharSizes(int64_t codePage, int64_t* maxBytes, int64_t* minBytes) noexcept;
    void setFallback(int flag) noexcept;
    // Closes every idle converter (the entries stay).
    void reset() noexcept;
    // reset, then converters opened from now on get the callback of mode.
    void setMode(int32_t mode) noexcept;

private:
    UConverter* take(int64_t codePage, KaConvCallbackContext** context, UErrorCode* status) noexcept;
    UConverter* openPooled(const char* name, KaConvCallbackContext** context, UErrorCode* status) noexcept;
    // The entry of the code page, or count when there is none.
    uint64_t entryIndex(int64_t codePage) const noexcept;
    bool full() const noexcept;
    // A new entry with no idle converter, sized from converter.
    KaIcuCacheEntry& addEntry(int64_t codePage, const char* name, UConverter* converter) noexcept;
    void resetLocked() noexcept;
};
