// The converter caches of connections and statements, and the mapping of
// ICU statuses and conversion results to diagnostics.
#include "foundation/icucache.h"

#include <cstdio>
#include <cstring>

#include "foundation/codepage.h"
#include "foundation/dbcs.h"
#include "foundation/errpost.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kathread.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

constexpr uint64_t kFirstGrowth = 16;

// The private-range EBCDIC converters: not ASCII-compatible, so text goes
// through the full pivot conversion rather than the ASCII fast path.
bool isPrivateEbcdic(int64_t cp)
{
    switch (cp) {
    case 2000005039:
    case 2000005040:
    case 2000005041:
    case 2000005042:
    case 2000005043:
    case 2000005045:
    case 2000005046:
    case 2000005049:
    case 2000005053:
    case 2000005056: return true;
    default: return false;
    }
}

KaError* postError(uint16_t number)
{
    return errPost(number)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR);
}

void postNoConverter(int64_t codePage, const char* name)
{
    char decimal[kDecimalTextSize];
    if (name == nullptr) {
        snprintf(decimal, sizeof decimal, "%lld", static_cast<long long>(codePage));
        name = decimal;
    }
    postError(MSG_CONVERTER_NOT_AVAILABLE)->addParamText(name);
}

void postOpenFailure(UErrorCode status, int64_t codePage, const char* name, int32_t mode)
{
    if (status == U_FILE_ACCESS_ERROR)
        postNoConverter(codePage, name);
    else
        icuErrorToDiag(status, mode);
}

void postCallbackFailure()
{
    postError(MSG_CONVERSION_FAILED);
    KaErrorAppendText(" Unable to set callback");
}

extern "C" void kaSubstitutionCallback(const void* context, UConverterFromUnicodeArgs* args, const UChar* codeUnits,
                                       int32_t length, UChar32 codePoint, UConverterCallbackReason reason,
                                       UErrorCode* err)
{
    auto* ctx = static_cast<KaConvCallbackContext*>(const_cast<void*>(context));
    bool substitution = reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR;
    if (substitution) {
        // Failing mode leaves the error standing, so the conversion stops here.
        if (ctx->mode == kConvModeFail)
            return;
        if (ctx->mode != kConvModeSubstitute)
            ctx->substituted = 1;
    }
    if (ctx->previous)
        ctx->previous(ctx->previousContext, args, codeUnits, length, codePoint, reason, err);
}

size_t measure(const char* src, int64_t srcLen)
{
    if (srcLen >= 0)
        return static_cast<size_t>(srcLen);
    return src ? strlen(src) : 0;
}

size_t measure(const uint16_t* src, int64_t srcLen)
{
    if (srcLen >= 0)
        return static_cast<size_t>(srcLen);
    return wcslen16(src);
}

size_t destSize(int64_t destLen)
{
    return destLen > 0 ? static_cast<size_t>(destLen) : 0;
}

void store(int64_t* out, size_t value)
{
    if (out)
        *out = static_cast<int64_t>(value);
}

// Runs a routine of icuconv.h over the caller's buffers, whose lengths are
// the set's (-1: terminated source), and hands back the counts it made
// through the optional outputs; the converters (and swap flag) follow.
template <typename Routine, typename D, typename S, typename... Rest>
int32_t runCounted(Routine routine, D* dest, int64_t destLen, const S* src, int64_t srcLen, int64_t* written,
                   int64_t* consumed, Rest... rest)
{
    size_t w = 0, c = 0;
    int32_t r = routine(dest, destSize(destLen), src, measure(src, srcLen), &w, &c, rest...);
    store(written, w);
    store(consumed, c);
    return r;
}

template <typename Routine, typename D, typename S, typename... Rest>
int32_t runMeasured(Routine routine, D* dest, int64_t destLen, const S* src, int64_t srcLen, int64_t* length,
                    Rest... rest)
{
    size_t len = 0;
    int32_t r = routine(dest, destSize(destLen), src, measure(src, srcLen), &len, rest...);
    store(length, len);
    return r;
}

template <class T>
int growArray(T** array, uint64_t count, uint64_t capacity)
{
    T* grown = static_cast<T*>(ramAlloc(capacity * sizeof(T)));
    if (grown == nullptr)
        return 1;
    if (count)
        memcpy(grown, *array, count * sizeof(T));
    ramFree(*array);
    *array = grown;
    return 0;
}

// Grows the parallel arrays of a cache to capacity slots, keeping the count
// in use. Arrays grown before one that fails stay larger; the cache's
// capacity changes only when all have grown.
template <class... T>
int growArrays(uint64_t count, uint64_t capacity, T**... arrays)
{
    return (growArray(arrays, count, capacity) || ...) ? 1 : 0;
}

KaCriticalSection& useCountLock()
{
    static KaCriticalSection lock(0, kKaLockPlain);
    return lock;
}

}  // namespace

int KaInstallSubstitutionCallback(UConverter* converter, KaConvCallbackContext* ctx, UErrorCode* status) noexcept
{
    *status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter, kaSubstitutionCallback, ctx, &ctx->previous, &ctx->previousContext, status);
    return U_FAILURE(*status) ? 1 : 0;
}

int icuErrorToDiag(int32_t status, int32_t mode) noexcept
{
    switch (status) {
    case U_ZERO_ERROR: return 0;
    case U_BUFFER_OVERFLOW_ERROR:
        errPostWarning(MSG_CONVERSION_TRUNCATED)->setSqlstateMsg(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        return 0;
    case U_ILLEGAL_CHAR_FOUND:
        if (mode == kConvModeFail) {
            postError(MSG_CONVERSION_FAILED);
            return 1;
        }
        errPostWarning(MSG_CONVERSION_CHARACTER_REPLACED)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_WARNING);
        return 0;
    case U_FILE_ACCESS_ERROR: postError(MSG_CONVERTER_NOT_AVAILABLE)->addParamText("(unknown)"); return 1;
    case U_INVALID_TABLE_FORMAT:
    case U_INVALID_TABLE_FILE: postError(MSG_CONVERTER_TABLE_INVALID); return 1;
    default:
        if (status < U_ZERO_ERROR)  // ICU warnings are successes
            return 0;
        postError(MSG_CONVERSION_FAILED);
        return 1;
    }
}

int convResultToDiag(int32_t result, int32_t mode) noexcept
{
    switch (result) {
    case kConvDone: return 0;
    case kConvTruncated:
        errPostWarning(MSG_CONVERSION_TRUNCATED)->setSqlstateMsg(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        return 0;
    case kConvReplaced:
        // Failing mode substitutes nothing, so a replaced character means ICU
        // met input it could not convert: the conversion failed.
        if (mode == kConvModeFail) {
            postError(MSG_CONVERSION_FAILED);
            return 1;
        }
        errPostWarning(MSG_CONVERSION_CHARACTER_REPLACED)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_WARNING);
        return 0;
    case kConvBadTable: postError(MSG_CONVERTER_TABLE_INVALID); return 1;
    case kConvNoData: postError(MSG_CONVERTER_NOT_AVAILABLE)->addParamText("(unknown)"); return 1;
    default: postError(MSG_CONVERSION_FAILED); return 1;
    }
}

uint16_t useCountChange(int up) noexcept
{
    KaLockGuard<KaCriticalSection> guard(useCountLock());
    uintptr_t count = reinterpret_cast<uintptr_t>(taskGetSlot(KA_TASK_SLOT_CONVERTER_USE));
    uint16_t result;
    if (up) {
        result = static_cast<uint16_t>(count);
        ++count;
    } else {
        if (count)
            --count;
        result = static_cast<uint16_t>(count);
    }
    taskSetSlot(KA_TASK_SLOT_CONVERTER_USE, reinterpret_cast<void*>(count));
    return result;
}

// --- KaIntCache -----------------------------------------------------------------

void* KaIntCache::operator new(size_t size) noexcept
{
    return ramAlloc(size);
}
void KaIntCache::operator delete(void* block) noexcept
{
    ramFree(block);
}

KaIntCache::~KaIntCache()
{
    for (uint64_t i = 0; i < count; ++i)
        ucnv_close(values[i]);
    ramFree(keys);
    ramFree(values);
}

int KaIntCache::allocate(uint64_t n) noexcept
{
    if (n <= capacity)
        return 0;
    if (growArrays(count, n, &keys, &values))
        return 1;
    capacity = n;
    return 0;
}

int KaIntCache::add(int64_t key, UConverter* converter) noexcept
{
    if (count == capacity && allocate(capacity ? capacity * 2 : kFirstGrowth))
        return 1;
    keys[count] = key;
    values[count] = converter;
    ++count;
    return 0;
}

UConverter* KaIntCache::find(int64_t key) const noexcept
{
    for (uint64_t i = 0; i < count; ++i)
        if (keys[i] == key)
            return values[i];
    return nullptr;
}

void KaIntCache::setFallback(int flag) noexcept
{
    for (uint64_t i = 0; i < count; ++i)
        ucnv_setFallback(values[i], flag ? true : false);
}

// --- KaStrCache -----------------------------------------------------------------

void* KaStrCache::operator new(size_t size) noexcept
{
    return ramAlloc(size);
}
void KaStrCache::operator delete(void* block) noexcept
{
    ramFree(block);
}

KaStrCache::~KaStrCache()
{
    for (uint64_t i = 0; i < count; ++i) {
        ucnv_close(converters[i]);
        ramFree(names[i]);
    }
    ramFree(names);
    ramFree(nameLengths);
    ramFree(converters);
}

int KaStrCache::allocate(uint64_t n) noexcept
{
    if (n <= capacity)
        return 0;
    if (growArrays(count, n, &names, &nameLengths, &converters))
        return 1;
    capacity = n;
    return 0;
}

int KaStrCache::add(char* nameCopy, uint64_t length, UConverter* converter) noexcept
{
    if (count == capacity && allocate(capacity ? capacity * 2 : kFirstGrowth))
        return 1;
    names[count] = nameCopy;
    nameLengths[count] = length;
    converters[count] = converter;
    ++count;
    return 0;
}

UConverter* KaStrCache::find(const char** name, uint64_t length) const noexcept
{
    for (uint64_t i = 0; i < count; ++i) {
        if (nameLengths[i] == length && memcmp(names[i], *name, length) == 0) {
            *name = names[i];
            return converters[i];
        }
    }
    return nullptr;
}

void KaStrCache::setFallback(int flag) noexcept
{
    for (uint64_t i = 0; i < count; ++i)
        ucnv_setFallback(converters[i], flag ? true : false);
}

// --- KaPtrTableCache ------------------------------------------------------------

void* KaPtrTableCache::operator new(size_t size) noexcept
{
    return ramAlloc(size);
}
void KaPtrTableCache::operator delete(void* block) noexcept
{
    ramFree(block);
}

KaPtrTableCache::~KaPtrTableCache()
{
    for (uint64_t i = 0; i < count; ++i)
        ramFree(tables[i]);
    ramFree(keys);
    ramFree(tables);
}

int KaPtrTableCache::allocate(uint64_t n) noexcept
{
    if (n <= capacity)
        return 0;
    if (growArrays(count, n, &keys, &tables))
        return 1;
    capacity = n;
    return 0;
}

int KaPtrTableCache::add(int64_t key, uint8_t* table) noexcept
{
    if (count == capacity && allocate(capacity ? capacity * 2 : kFirstGrowth))
        return 1;
    keys[count] = key;
    tables[count] = table;
    ++count;
    return 0;
}

uint8_t* KaPtrTableCache::find(int64_t key) const noexcept
{
    for (uint64_t i = 0; i < count; ++i)
        if (keys[i] == key)
            return tables[i];
    return nullptr;
}

// --- KaCharConv -----------------------------------------------------------------

void* KaCharConv::operator new(size_t size) noexcept
{
    return ramAlloc(size);
}
void KaCharConv::operator delete(void* block) noexcept
{
    ramFree(block);
}

KaCharConv::~KaCharConv()
{
    delete byNumber;
    delete leadTables;
    delete byName;
}

int KaCharConv::init(uint64_t capacity) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    if (byNumber == nullptr)
        byNumber = new KaIntCache;
    if (leadTables == nullptr)
        leadTables = new KaPtrTableCache;
    if (byName == nullptr)
        byName = new KaStrCache;
    bool ready =
        byNumber && leadTables && byName && byNumber->allocate(capacity) == 0 && byName->allocate(capacity) == 0;
    return ready ? 0 : 1;
}

void KaCharConv::setMode(int32_t mode) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    callbackContext.mode = mode;
    callbackContext.substituted = 0;
}

void KaCharConv::setFallback(int flag) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    fallback = flag ? 1 : 0;
    if (byNumber)
        byNumber->setFallback(fallback);
    if (byName)
        byName->setFallback(fallback);
}

// Opens a converter with the set's callback and fallback; posts on failure.
int KaCharConv::openConverter(const char* name, UConverter** converter, int64_t codePage,
                              const char* shownName) noexcept
{
    *converter = nullptr;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* c = ucnv_open(name, &status);
    if (c == nullptr || U_FAILURE(status)) {
        if (c)
            ucnv_close(c);
        postOpenFailure(status, codePage, shownName, callbackContext.mode);
        return 1;
    }
    if (KaInstallSubstitutionCallback(c, &callbackContext, &status)) {
        ucnv_close(c);
        postCallbackFailure();
        return 1;
    }
    if (fallback)
        ucnv_setFallback(c, true);
    *converter = c;
    return 0;
}

int KaCharConv::getConverter(int64_t codePage, UConverter** converter) noexcept
{
    *converter = nullptr;
    KaLockGuard<KaCriticalSection> guard(lock);
    if (codePage == lastNumber && lastConverter) {
        *converter = lastConverter;
        return 0;
    }
    if (byNumber == nullptr) {
        postError(MSG_CONVERSION_FAILED);
        return 1;
    }
    UConverter* c = byNumber->find(codePage);
    if (c == nullptr) {
        // The parameter of MSG_CONVERTER_NOT_AVAILABLE is the number, also when
        // the table has a name.
        if (openConverter(ianaNameFromNumber(codePage), &c, codePage, nullptr))
            return 1;
        if (byNumber->add(codePage, c)) {
            ucnv_close(c);
            return 1;
        }
    }
    lastNumber = codePage;
    lastConverter = c;
    *converter = c;
    return 0;
}

int KaCharConv::getConverterByName(const char* name, uint64_t length, UConverter** converter) noexcept
{
    *converter = nullptr;
    if (name == nullptr) {
        postError(MSG_CONVERSION_FAILED);
        return 1;
    }
    KaLockGuard<KaCriticalSection> guard(lock);
    if (lastByName && lastNameLength == length && memcmp(lastName, name, length) == 0) {
        *converter = lastByName;
        return 0;
    }
    if (byName == nullptr) {
        postError(MSG_CONVERSION_FAILED);
        return 1;
    }
    const char* found = name;
    UConverter* c = byName->find(&found, length);
    if (c == nullptr) {
        RamPtr<char> copy = ramMake<char>(length + 1);
        if (!copy)
            return 1;
        memcpy(copy.get(), name, length);
        copy.get()[length] = 0;
        if (openConverter(copy.get(), &c, 0, copy.get()) == 0 && byName->add(copy.get(), length, c)) {
            ucnv_close(c);
            c = nullptr;
        }
        if (c == nullptr)
            return 1;
        // The cache keeps the name.
        found = copy.release();
    }
    lastByName = c;
    lastName = found;
    lastNameLength = length;
    *converter = c;
    return 0;
}

int64_t KaCharConv::maxCharSize(int64_t codePage) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    UConverter* c;
    return getConverter(codePage, &c) ? 0 : ucnv_getMaxCharSize(c);
}

int64_t KaCharConv::minCharSize(int64_t codePage) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    UConverter* c;
    return getConverter(codePage, &c) ? 0 : ucnv_getMinCharSize(c);
}

int KaCharConv::leadTable(int64_t codePage, const uint8_t** table) noexcept
{
    *table = nullptr;
    KaLockGuard<KaCriticalSection> guard(lock);
    if (codePage == lastLeadNumber && lastLeadTable) {
        *table = lastLeadTable;
        return 0;
    }
    uint8_t* t = leadTables ? leadTables->find(codePage) : nullptr;
    if (t == nullptr) {
        UConverter* c;
        if (leadTables == nullptr || getConverter(codePage, &c) || KaLeadByteTableBuild(c, &t))
            return 1;
        if (leadTables->add(codePage, t)) {
            ramFree(t);
            return 1;
        }
    }
    lastLeadNumber = codePage;
    lastLeadTable = t;
    *table = t;
    return 0;
}

int KaCharConv::leadByteInfo(int64_t codePage, uint8_t byte, uint8_t* info) noexcept
{
    const uint8_t* table;
    if (leadTable(codePage, &table))
        return 1;
    *info = table[byte];
    return 0;
}

int KaCharConv::utf8(UConverter** converter) noexcept
{
    if (utf8Converter == nullptr && getConverterByName("UTF8", 4, &utf8Converter))
        return 1;
    *converter = utf8Converter;
    return 0;
}

// Target is a code page: a substitution seen by the callback is reported
// as result 2 in place of the routine's result.
int KaCharConv::finishToCodePage(int32_t result) noexcept
{
    if (callbackContext.substituted) {
        callbackContext.substituted = 0;
        result = kConvReplaced;
    }
    return convResultToDiag(result, callbackContext.mode);
}

int KaCharConv::finishFromCodePage(int32_t result) noexcept
{
    return convResultToDiag(result, callbackContext.mode);
}

template <typename Run>
int KaCharConv::runOn(int64_t codePage, bool toCodePage, Run run) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    UConverter* c;
    if (getConverter(codePage, &c))
        return 1;
    int32_t r = run(c);
    return toCodePage ? finishToCodePage(r) : finishFromCodePage(r);
}

template <typename Run>
int KaCharConv::runWithUtf8(int64_t codePage, bool toCodePage, Run run) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    UConverter* c;
    UConverter* u;
    if (getConverter(codePage, &c) || utf8(&u))
        return 1;
    int32_t r = run(c, u);
    return toCodePage ? finishToCodePage(r) : finishFromCodePage(r);
}

template <typename Key, typename Run>
int KaCharConv::runOnPair(Key from, Key to, Run run) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    UConverter* source;
    UConverter* target;
    UConverter* own;
    int rc = 1;
    if (converterPair(from, to, &source, &target, &own) == 0)
        rc = finishToCodePage(run(source, target));
    if (own)
        ucnv_close(own);
    return rc;
}

int KaCharConv::toUTF8(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                       int64_t* consumed, int64_t codePage) noexcept
{
    size_t n = measure(src, srcLen);
    size_t room = destSize(destLen);
    if (codePage == kCodePageUtf8) {
        if (dest == nullptr || (src == nullptr && n > 0)) {
            postError(MSG_CONVERSION_FAILED);
            return 1;
        }
        size_t copy = n;
        if (room < n) {
            errPostWarning(MSG_CONVERSION_TRUNCATED)->setSqlstateMsg(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
            copy = room;
        }
        if (copy)
            memcpy(dest, src, copy);
        if (copy < room)
            dest[copy] = 0;
        store(written, copy);
        store(consumed, copy);
        return 0;
    }
    if (codePage == kCodePageUtf16LE) {
        const uint16_t* units = reinterpret_cast<const uint16_t*>(src);
        // A terminated source ends at its zero unit, not at its first zero byte.
        size_t unitCount = srcLen < 0 ? wcslen16(units) : n / 2;
        size_t length = 0;
        int32_t r = utf16ToUtf8(dest, room, units, static_cast<int64_t>(unitCount), &length, 0);
        int rc;
        {
            // Reporting reads the set's mode.
            KaLockGuard<KaCriticalSection> guard(lock);
            rc = finishFromCodePage(r);
        }
        if (rc)
            return 1;
        if (consumed) {
            size_t taken = unitCount * 2;
            if (length >= room) {
                // Only characters whose UTF-8 bytes fit were written.
                size_t out = 0;
                size_t i = 0;
                while (i < unitCount) {
                    uint16_t u = units[i];
                    size_t bytes = u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
                    size_t step = 1;
                    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < unitCount && units[i + 1] >= 0xDC00 &&
                        units[i + 1] <= 0xDFFF) {
                        bytes = 4;
                        step = 2;
                    }
                    if (out + bytes > room)
                        break;
                    out += bytes;
                    i += step;
                }
                taken = i * 2;
            }
            store(consumed, taken);
        }
        store(written, length);
        return 0;
    }
    if (isPrivateEbcdic(codePage))
        return convert(dest, destLen, src, static_cast<int64_t>(n), written, consumed, codePage, kCodePageUtf8);

    return runWithUtf8(codePage, false, [&](UConverter* source, UConverter* target) {
        return runCounted(convertCodePageViaUnicode, dest, destLen, src, static_cast<int64_t>(n), written, consumed,
                          source, target);
    });
}

int KaCharConv::toUTF8Measured(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* length,
                               int64_t codePage) noexcept
{
    return runWithUtf8(codePage, false, [&](UConverter* source, UConverter* target) {
        return runMeasured(convertCodePageChars, dest, destLen, src, srcLen, length, source, target);
    });
}

// One converter serves as source and target when the code pages are the
// same; a pivot conversion needs two, so a private one (*own, which the
// caller closes) is opened then.
int KaCharConv::converterPair(int64_t from, int64_t to, UConverter** source, UConverter** target,
                              UConverter** own) noexcept
{
    *target = nullptr;
    *own = nullptr;
    if (getConverter(from, source))
        return 1;
    if (from != to)
        return getConverter(to, target);
    if (openConverter(ianaNameFromNumber(to), own, to, nullptr))
        return 1;
    *target = *own;
    return 0;
}

// The same by converter names.
int KaCharConv::converterPair(const char* from, const char* to, UConverter** source, UConverter** target,
                              UConverter** own) noexcept
{
    *target = nullptr;
    *own = nullptr;
    if (getConverterByName(from, strlen(from), source))
        return 1;
    if (strcmp(from, to) != 0)
        return getConverterByName(to, strlen(to), target);
    if (openConverter(to, own, 0, to))
        return 1;
    *target = *own;
    return 0;
}

int KaCharConv::convert(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                        int64_t* consumed, int64_t from, int64_t to) noexcept
{
    return runOnPair(from, to, [&](UConverter* source, UConverter* target) {
        return runCounted(convertCodePages, dest, destLen, src, srcLen, written, consumed, source, target);
    });
}

int KaCharConv::convertWiped(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                             int64_t* consumed, int64_t from, int64_t to) noexcept
{
    return runOnPair(from, to, [&](UConverter* source, UConverter* target) {
        return runCounted(convertCodePagesCounted, dest, destLen, src, srcLen, written, consumed, source, target);
    });
}

int KaCharConv::convertByNames(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                               int64_t* consumed, const char* fromName, const char* toName) noexcept
{
    if (fromName == nullptr || toName == nullptr) {
        postError(MSG_CONVERSION_FAILED);
        return 1;
    }
    return runOnPair(fromName, toName, [&](UConverter* source, UConverter* target) {
        return runCounted(convertCodePages, dest, destLen, src, srcLen, written, consumed, source, target);
    });
}

int KaCharConv::convertMeasured(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* length,
                                int64_t from, int64_t to) noexcept
{
    return runOnPair(from, to, [&](UConverter* source, UConverter* target) {
        return runMeasured(convertCodePagesChars, dest, destLen, src, srcLen, length, source, target);
    });
}

int KaCharConv::fromUTF8(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                         int64_t* consumed, int64_t codePage) noexcept
{
    return runWithUtf8(codePage, true, [&](UConverter* target, UConverter* source) {
        return runCounted(convertToCodePageCounted, dest, destLen, src, srcLen, written, consumed, target, source);
    });
}

int KaCharConv::fromUTF8Measured(char* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* length,
                                 int64_t codePage) noexcept
{
    return runWithUtf8(codePage, true, [&](UConverter* target, UConverter* source) {
        return runMeasured(convertToCodePageChars, dest, destLen, src, srcLen, length, target, source);
    });
}

int KaCharConv::convertCounted(char* dest, int64_t destLen, const uint16_t* src, int64_t srcLen, int64_t* written,
                               int64_t* consumed, int64_t codePage, int swap) noexcept
{
    return runOn(codePage, true, [&](UConverter* c) {
        return runCounted(fromUnicodeCounted, dest, destLen, src, srcLen, written, consumed, c, swap);
    });
}

int KaCharConv::fromUnicode(char* dest, int64_t destLen, const uint16_t* src, int64_t srcLen, int64_t* length,
                            int64_t codePage, int swap) noexcept
{
    return runOn(codePage, true, [&](UConverter* c) {
        return runMeasured(::fromUnicode, dest, destLen, src, srcLen, length, c, swap);
    });
}

int KaCharConv::convertBytes(uint16_t* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* written,
                             int64_t* consumed, int64_t codePage, int swap) noexcept
{
    return runOn(codePage, false, [&](UConverter* c) {
        return runCounted(toUnicodeCounted, dest, destLen, src, srcLen, written, consumed, c, swap);
    });
}

int KaCharConv::toUnicode(uint16_t* dest, int64_t destLen, const char* src, int64_t srcLen, int64_t* length,
                          int64_t codePage, int swap) noexcept
{
    return runOn(codePage, false,
                 [&](UConverter* c) { return runMeasured(::toUnicode, dest, destLen, src, srcLen, length, c, swap); });
}

// --- KaIcuCache -----------------------------------------------------------------

KaIcuCache::~KaIcuCache()
{
    resetLocked();
}

namespace {

// A callback context of mode installed on a pooled converter; null (with
// *status set) when it cannot be had.
KaConvCallbackContext* installPooledContext(UConverter* c, int32_t mode, UErrorCode* status) noexcept
{
    RamPtr<KaConvCallbackContext> ctx = ramMake<KaConvCallbackContext>(1);
    if (!ctx) {
        *status = U_MEMORY_ALLOCATION_ERROR;
        return nullptr;
    }
    ctx->mode = mode;
    ctx->substituted = 0;
    ctx->previous = nullptr;
    ctx->previousContext = nullptr;
    if (KaInstallSubstitutionCallback(c, ctx.get(), status))
        return nullptr;
    return ctx.release();
}

}  // namespace

// Opens a converter for the pool; posts nothing (the caller does, outside
// the lock). With mode not 0 the converter gets its own callback context.
UConverter* KaIcuCache::openPooled(const char* name, KaConvCallbackContext** context, UErrorCode* status) noexcept
{
    *context = nullptr;
    *status = U_ZERO_ERROR;
    UConverter* c = ucnv_open(name, status);
    if (c == nullptr || U_FAILURE(*status)) {
        if (c)
            ucnv_close(c);
        if (!U_FAILURE(*status))
            *status = U_MEMORY_ALLOCATION_ERROR;
        return nullptr;
    }
    if (mode != kConvModeSubstitute) {
        *context = installPooledContext(c, mode, status);
        if (*context == nullptr) {
            ucnv_close(c);
            return nullptr;
        }
    }
    if (fallback)
        ucnv_setFallback(c, true);
    return c;
}

uint64_t KaIcuCache::entryIndex(int64_t codePage) const noexcept
{
    uint64_t i = 0;
    while (i < count && entries[i].number != codePage)
        ++i;
    return i;
}

bool KaIcuCache::full() const noexcept
{
    return count >= (capacity < kIcuCacheEntries ? capacity : kIcuCacheEntries);
}

KaIcuCacheEntry& KaIcuCache::addEntry(int64_t codePage, const char* name, UConverter* converter) noexcept
{
    KaIcuCacheEntry& e = entries[count++];
    e.number = codePage;
    e.name = name;
    e.maxBytes = ucnv_getMaxCharSize(converter);
    e.minBytes = ucnv_getMinCharSize(converter);
    e.idle = 0;
    return e;
}

UConverter* KaIcuCache::take(int64_t codePage, KaConvCallbackContext** context, UErrorCode* status) noexcept
{
    *context = nullptr;
    *status = U_ZERO_ERROR;
    KaLockGuard<KaCriticalSection> guard(lock);
    uint64_t i = entryIndex(codePage);
    bool found = i < count;
    if (found && entries[i].idle > 0) {
        uint64_t k = --entries[i].idle;
        UConverter* c = entries[i].idleConverters[k];
        *context = contexts[i][k];
        entries[i].idleConverters[k] = nullptr;
        contexts[i][k] = nullptr;
        return c;
    }
    const char* name = found ? entries[i].name : ianaNameFromNumber(codePage);
    UConverter* c = openPooled(name, context, status);
    if (c && !found && !full())
        addEntry(codePage, name, c);
    return c;
}

UConverter* KaIcuCache::acquire(int64_t codePage, KaConvCallbackContext** context) noexcept
{
    UErrorCode status;
    UConverter* c = take(codePage, context, &status);
    if (c == nullptr) {
        if (status == U_MEMORY_ALLOCATION_ERROR)
            ramOutOfMemory();
        else
            postOpenFailure(status, codePage, nullptr, mode);
    }
    return c;
}

UConverter* KaIcuCache::acquireQuiet(int64_t codePage, KaConvCallbackContext** context) noexcept
{
    UErrorCode status;
    return take(codePage, context, &status);
}

int KaIcuCache::release(int64_t codePage, UConverter* converter, KaConvCallbackContext* context) noexcept
{
    if (converter == nullptr) {
        ramFree(context);
        return 0;
    }
    ucnv_reset(converter);
    if (context)
        context->substituted = 0;
    {
        KaLockGuard<KaCriticalSection> guard(lock);
        // A converter taken before the mode changed goes, not back to the pool.
        int32_t itsMode = context ? context->mode : kConvModeSubstitute;
        uint64_t i = entryIndex(codePage);
        if (itsMode == mode && i < count && entries[i].idle < kIcuCacheIdle) {
            KaIcuCacheEntry& e = entries[i];
            ucnv_setFallback(converter, fallback ? true : false);
            e.idleConverters[e.idle] = converter;
            contexts[i][e.idle] = context;
            ++e.idle;
            return 0;
        }
    }
    ucnv_close(converter);
    ramFree(context);
    return 0;
}

void KaIcuCache::getCharSizes(int64_t codePage, int64_t* maxBytes, int64_t* minBytes) noexcept
{
    int64_t maxSize = 2;
    int64_t minSize = 1;
    if (codePage == kCodePageUtf16BE || codePage == kCodePageUtf16LE || codePage == kCodePageUtf16) {
        minSize = 2;
    } else {
        KaLockGuard<KaCriticalSection> guard(lock);
        uint64_t i = entryIndex(codePage);
        if (i < count) {
            maxSize = entries[i].maxBytes;
            minSize = entries[i].minBytes;
        } else {
            // The converter opened to measure is kept as the entry's first idle
            // one while the pool has room.
            const char* name = ianaNameFromNumber(codePage);
            UErrorCode status = U_ZERO_ERROR;
            UConverter* c = ucnv_open(name, &status);
            if (c && !U_FAILURE(status)) {
                maxSize = ucnv_getMaxCharSize(c);
                minSize = ucnv_getMinCharSize(c);
                KaConvCallbackContext* ctx = nullptr;
                bool keep = !full();
                if (keep && mode != kConvModeSubstitute) {
                    ctx = installPooledContext(c, mode, &status);
                    keep = ctx != nullptr;
                }
                if (keep) {
                    if (fallback)
                        ucnv_setFallback(c, true);
                    uint64_t slot = count;
                    KaIcuCacheEntry& e = addEntry(codePage, name, c);
                    e.idle = 1;
                    e.idleConverters[0] = c;
                    contexts[slot][0] = ctx;
                } else {
                    ucnv_close(c);
                }
            } else if (c) {
                ucnv_close(c);
            }
        }
    }
    if (maxBytes)
        *maxBytes = maxSize;
    if (minBytes)
        *minBytes = minSize;
}

void KaIcuCache::setFallback(int flag) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    fallback = flag ? 1 : 0;
    for (uint64_t i = 0; i < count; ++i)
        for (uint64_t k = 0; k < entries[i].idle; ++k)
            ucnv_setFallback(entries[i].idleConverters[k], fallback ? true : false);
}

void KaIcuCache::resetLocked() noexcept
{
    for (uint64_t i = 0; i < count; ++i) {
        for (uint64_t k = 0; k < entries[i].idle; ++k) {
            ucnv_close(entries[i].idleConverters[k]);
            entries[i].idleConverters[k] = nullptr;
            ramFree(contexts[i][k]);
            contexts[i][k] = nullptr;
        }
        entries[i].idle = 0;
    }
}

void KaIcuCache::reset() noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    resetLocked();
}

void KaIcuCache::setMode(int32_t newMode) noexcept
{
    KaLockGuard<KaCriticalSection> guard(lock);
    resetLocked();
    mode = newMode;
}
