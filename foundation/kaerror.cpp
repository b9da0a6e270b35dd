// Diagnostics records, lists, their order and the thread-level posting.
#include "foundation/kaerror.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "foundation/errpost.h"
#include "foundation/kastr.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"

namespace {

const uint16_t kOutOfMemoryW[] = {u'O', u'u', u't', u' ', u'O', u'f', u' ', u'M', u'e', u'm', u'o', u'r', u'y', 0};
const char kOutOfMemoryA[] = "Out Of Memory";
const uint16_t kEmptyW[1] = {0};
// Native code of the record that the out-of-memory mark becomes when the
// list is demoted to warnings.
constexpr uint16_t kDemotedOutOfMemoryNative = 2;
const uint16_t kUnknownW[] = {u'<', u'u', u'n', u'k', u'n', u'o', u'w', u'n', u'>', 0};

// Records whose text changes would touch memory that every thread shares.
constexpr uint8_t kImmutable = KaError::STATIC_RECORD | KaError::NO_PARAMS;

// The text appended to a record's message, in either code unit; 0 or the
// status of the append.
int appendUnits(KaParamStringW& message, const uint16_t* text) noexcept
{
    size_t n = strLenW(text);
    return n != 0 ? message.append(text, n) : 0;
}

int appendUnits(KaParamStringW& message, const char* text) noexcept
{
    size_t n = strlen(text);
    return n != 0 ? message.appendNarrow(text, n) : 0;
}

uint16_t unitValue(char c) noexcept
{
    return uint16_t(uint8_t(c));
}

uint16_t unitValue(uint16_t u) noexcept
{
    return u;
}

bool sameState(const uint16_t* a, const char* b) noexcept
{
    for (int i = 0; i < KA_SQLSTATE_LEN; ++i) {
        if (a[i] != uint16_t(uint8_t(b[i])))
            return false;
    }
    return true;
}

// Classes 00, 01, 02 and those beyond HZ are not standard ODBC classes.
bool standardClass(const uint16_t* s) noexcept
{
    uint16_t c0 = s[0], c1 = s[1];
    if (c0 >= u'0' && c0 <= u'G')
        return !(c0 == u'0' && c1 <= u'2');
    return c0 == u'H' && c1 <= u'Z';
}

int16_t compareKeys(int64_t a, int64_t b) noexcept
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

// ---- KaError ------------------------------------------------------------

KaError::KaError(uint16_t native, const char* text, int32_t enc, int warning, uint16_t stateMsg,
                 uintptr_t user) noexcept
    : userData(user), nativeCode(native), sqlstateMsg(stateMsg), encoding(enc), flags(warning ? WARNING : 0)
{
    message.setA(text, enc);
}

KaError::KaError(uint16_t native, const char* text, UConverter* converter, int warning, uint16_t stateMsg,
                 uintptr_t user) noexcept
    : userData(user), nativeCode(native), sqlstateMsg(stateMsg), encoding(3), flags(warning ? WARNING : 0)
{
    message.setFromConverter(text, converter);
}

KaError::KaError(uint16_t native, const char* text, KaCodePage codePage, int warning, uint16_t stateMsg,
                 uintptr_t user) noexcept
    : userData(user), nativeCode(native), sqlstateMsg(stateMsg), encoding(3), flags(warning ? WARNING : 0)
{
    message.setFromCodePage(text, codePage.number);
}

KaError::KaError(uint16_t native, const uint16_t* text, int warning, uint16_t stateMsg, uintptr_t user) noexcept
    : userData(user), nativeCode(native), sqlstateMsg(stateMsg), encoding(3), flags(warning ? WARNING : 0)
{
    message.set(text != nullptr ? text : kEmptyW);
}

KaError::KaError(int staticKind) noexcept : encoding(3)
{
    if (staticKind == STATIC_OUT_OF_MEMORY) {
        nativeCode = KA_OUT_OF_MEMORY_NATIVE;
        flags = STATIC_RECORD | OUT_OF_MEMORY;
    } else {
        flags = STATIC_RECORD | NO_PARAMS;
    }
}

KaError::~KaError() = default;

const uint16_t* KaError::messageW() noexcept
{
    if (isOutOfMemory())
        return kOutOfMemoryW;
    return message.data;
}

const char* KaError::messageA() noexcept
{
    if (isOutOfMemory())
        return kOutOfMemoryA;
    if (flags & kImmutable)
        return "";
    const char* text = message.toNarrow(encoding == 3 ? 3 : 1);
    return text != nullptr ? text : "";
}

template <typename Unit>
KaError* KaError::appendAny(const Unit* text) noexcept
{
    if (flags & kImmutable)
        return KaErrorParamSink();
    if (text == nullptr)
        return this;
    if (appendUnits(message, text) != 0)
        return KaErrorParamSink();
    if (message.data != nullptr)
        message.data[message.len] = 0;
    return this;
}

KaError* KaError::appendTextW(const uint16_t* text) noexcept
{
    return appendAny(text);
}

KaError* KaError::appendText(const char* text) noexcept
{
    return appendAny(text);
}

KaError* KaError::appendTemplateW(const uint16_t* text) noexcept
{
    if (flags & kImmutable)
        return KaErrorParamSink();
    if (text == nullptr)
        text = kEmptyW;
    if (message.appendTemplate(text, strLenW(text)) != 0)
        return KaErrorParamSink();
    return this;
}

KaError* KaError::substituted(int status) noexcept
{
    return status == 0 ? this : KaErrorParamSink();
}

KaError* KaError::addParamW(const uint16_t* text) noexcept
{
    if (flags & kImmutable)
        return this;
    return substituted(message.addParam(text));
}

KaError* KaError::addParamNarrow(const char* data, size_t len, int32_t enc) noexcept
{
    if (flags & kImmutable)
        return this;
    if (data == nullptr)
        return substituted(message.addParam(nullptr));
    KaErrorList* list = KaErrorCurrentList();
    size_t before = list != nullptr ? list->count : 0;
    // Rolls back what a failed conversion posted, so that a parameter that
    // is not UTF-8 does not leave a conversion error behind.
    auto dropPosted = [&]() {
        while (list != nullptr && list->count > before && list->outOfMemoryMark == 0)
            list->discardLast();
    };
    size_t n = enc == 2 ? len / 2 : len;
    {
        KaStringW text;
        if (text.assignNarrow(data, n, enc) == 0)
            return substituted(message.addParamSubString(text));
    }
    if (enc == 3 && list != nullptr && list->count > before && list->outOfMemoryMark == 0) {
        dropPosted();
        KaStringW text;
        if (text.assignNarrow(data, len, 1) == 0)
            return substituted(message.addParamSubString(text));
        dropPosted();
    }
    return substituted(message.addParam(kUnknownW));
}

KaError* KaError::addParamText(const char* text) noexcept
{
    if (text == nullptr)
        return addParamNarrow(nullptr, 0, encoding);
    size_t n = encoding == 2 ? 2 * strLenW(reinterpret_cast<const uint16_t*>(text)) : strlen(text);
    return addParamNarrow(text, n, encoding);
}

KaError* KaError::addParamSubString(const KaSubString& text) noexcept
{
    return addParamNarrow(text.data != nullptr ? text.data : "", text.len, text.codePage);
}

KaError* KaError::addParamSubStringW(const KaSubStringW& text) noexcept
{
    if (flags & kImmutable)
        return this;
    return substituted(message.addParamSubString(text));
}

KaError* KaError::addParamUnsigned(uint64_t value) noexcept
{
    if (flags & kImmutable)
        return this;
    return substituted(message.addParamUnsigned(value));
}

KaError* KaError::addParamSigned(int64_t value) noexcept
{
    if (flags & kImmutable)
        return this;
    return substituted(message.addParamSigned(value));
}

void KaError::setWarning() noexcept
{
    if ((flags & kImmutable) || isWarning())
        return;
    flags |= WARNING;
    if (ownerList != nullptr) {
        --ownerList->errorCount;
        ++ownerList->warningCount;
    }
}

void KaError::clearWarning() noexcept
{
    if ((flags & kImmutable) || !isWarning())
        return;
    flags &= uint8_t(~WARNING);
    if (ownerList != nullptr) {
        ++ownerList->errorCount;
        --ownerList->warningCount;
    }
}

const char* KaError::sqlstateA() noexcept
{
    if (flags & kImmutable)
        return sqlstateNarrow;
    for (int i = 0; i <= KA_SQLSTATE_LEN; ++i)
        sqlstateNarrow[i] = char(uint8_t(sqlstateWide[i]));
    return sqlstateNarrow;
}

template <typename Unit>
KaError* KaError::setSqlstateAny(const Unit* state) noexcept
{
    if ((flags & kImmutable) || state == nullptr)
        return this;
    int i = 0;
    for (; i < KA_SQLSTATE_LEN && state[i] != 0; ++i)
        sqlstateWide[i] = unitValue(state[i]);
    for (; i <= KA_SQLSTATE_LEN; ++i)
        sqlstateWide[i] = 0;
    return this;
}

KaError* KaError::setSqlstate(const char* state) noexcept
{
    return setSqlstateAny(state);
}

KaError* KaError::setSqlstateW(const uint16_t* state) noexcept
{
    return setSqlstateAny(state);
}

KaError* KaError::setSqlstateMsg(uint16_t number) noexcept
{
    if (!(flags & kImmutable))
        sqlstateMsg = number;
    return this;
}

KaError* KaError::setRowColumn(int64_t r, int64_t c) noexcept
{
    if (!(flags & kImmutable)) {
        row = r;
        column = c;
    }
    return this;
}

void KaError::effectiveSqlstate(uint16_t out[KA_SQLSTATE_LEN + 1]) const noexcept
{
    if (sqlstateWide[0] != 0) {
        memcpy(out, sqlstateWide, sizeof sqlstateWide);
        out[KA_SQLSTATE_LEN] = 0;
        return;
    }
    if (sqlstateMsg != 0) {
        memset(out, 0, (KA_SQLSTATE_LEN + 1) * sizeof(uint16_t));
        errLoadMessageW(out, KA_SQLSTATE_LEN + 1, sqlstateMsg);
        return;
    }
    const char* fixed = isOutOfMemory() ? "HY001" : "HY000";
    for (int i = 0; i <= KA_SQLSTATE_LEN; ++i)
        out[i] = uint16_t(uint8_t(fixed[i]));
}

int16_t KaError::compare(const KaObject& otherObject) const
{
    const auto& other = static_cast<const KaError&>(otherObject);
    uint16_t a[KA_SQLSTATE_LEN + 1] = {};
    uint16_t b[KA_SQLSTATE_LEN + 1] = {};
    effectiveSqlstate(a);
    other.effectiveSqlstate(b);
    if (memcmp(a, b, sizeof a) != 0) {
        for (const char* first : {"08S01", "01S01"}) {
            bool aFirst = sameState(a, first);
            bool bFirst = sameState(b, first);
            if (aFirst != bFirst)
                return aFirst ? -1 : 1;
        }
        if (a[0] != b[0] || a[1] != b[1]) {
            bool aStd = standardClass(a);
            bool bStd = standardClass(b);
            if (aStd != bStd)
                return aStd ? -1 : 1;
            bool aIm = a[0] == u'I' && a[1] == u'M';
            bool bIm = b[0] == u'I' && b[1] == u'M';
            if (aIm != bIm)
                return aIm ? -1 : 1;
        }
    }
    if (int16_t r = compareKeys(row, other.row))
        return r;
    if (int16_t r = compareKeys(column, other.column))
        return r;
    return compareKeys(thirdKey, other.thirdKey);
}

// ---- Static records -----------------------------------------------------

// Never destroyed: code that runs during exit may still post.
KaError* KaErrorOutOfMemoryRecord() noexcept
{
    alignas(KaError) static unsigned char storage[sizeof(KaError)];
    static KaError* record = new (storage) KaError(KaError::STATIC_OUT_OF_MEMORY);
    return record;
}

KaError* KaErrorParamSink() noexcept
{
    alignas(KaError) static unsigned char storage[sizeof(KaError)];
    static KaError* record = new (storage) KaError(KaError::STATIC_PARAM_SINK);
    return record;
}

// ---- KaErrorList --------------------------------------------------------

KaErrorList::KaErrorList(void* owner) noexcept : ownerData(owner)
{
    flags |= ownsElements | ownsBuffer;
    sortFlags |= noSort1 | noSort2;
    // An array operation can post a record for each of its rows: doubling
    // keeps the appends linear.
    growStep = 0;
    // Without them the slots are taken by the first add, which reports.
    (void)allocate(INITIAL_SLOTS);
}

KaErrorList::~KaErrorList() = default;

KaError* KaErrorList::outOfMemoryRecord() noexcept
{
    return KaErrorOutOfMemoryRecord();
}

KaError* KaErrorList::staticRecord() noexcept
{
    return KaErrorParamSink();
}

KaError* KaErrorList::newRecord(uint16_t native, const char* text, int32_t encoding, int warning, uint16_t stateMsg,
                                uintptr_t user) noexcept
{
    KaError* rec = new KaError(native, text, encoding, warning, stateMsg, user);
    if (rec == nullptr)
        setOutOfMemoryMark();
    return rec;
}

KaError* KaErrorList::newRecordCodePage(uint16_t native, const char* text, int64_t codePage, int warning,
                                        uint16_t stateMsg, uintptr_t user) noexcept
{
    KaError* rec = new KaError(native, text, KaCodePage{codePage}, warning, stateMsg, user);
    if (rec == nullptr)
        setOutOfMemoryMark();
    return rec;
}

KaError* KaErrorList::newRecordConverter(uint16_t native, const char* text, UConverter* converter, int warning,
                                         uint16_t stateMsg, uintptr_t user) noexcept
{
    KaError* rec = new KaError(native, text, converter, warning, stateMsg, user);
    if (rec == nullptr)
        setOutOfMemoryMark();
    return rec;
}

KaError* KaErrorList::newRecordW(uint16_t native, const uint16_t* text, int warning, uint16_t stateMsg,
                                 uintptr_t user) noexcept
{
    KaError* rec = new KaError(native, text, warning, stateMsg, user);
    if (rec == nullptr)
        setOutOfMemoryMark();
    return rec;
}

void KaErrorList::setOutOfMemoryMark() noexcept
{
    if (outOfMemoryMark == 0) {
        outOfMemoryMark = 1;
        ++errorCount;
    }
}

void KaErrorList::clearOutOfMemoryMark() noexcept
{
    if (outOfMemoryMark != 0) {
        outOfMemoryMark = 0;
        --errorCount;
    }
}

int KaErrorList::add(KaError* record) noexcept
{
    if (record == nullptr) {
        setOutOfMemoryMark();
        return 1;
    }
    if (record->isStatic())
        return 1;
    if (insertAt(record, count) != 0) {
        setOutOfMemoryMark();
        return 1;
    }
    record->ownerList = this;
    if (record->isWarning())
        ++warningCount;
    else
        ++errorCount;
    return 0;
}

KaError* KaErrorList::recordAt(size_t index) const noexcept
{
    return index < count ? static_cast<KaError*>(items[index]) : nullptr;
}

KaError* KaErrorList::takeOut(size_t index) noexcept
{
    KaError* rec = recordAt(index);
    if (rec == nullptr)
        return nullptr;
    KaArray::removeAt(index);
    if (rec->isWarning())
        --warningCount;
    else
        --errorCount;
    rec->ownerList = nullptr;
    return rec;
}

KaError* KaErrorList::removeAt(size_t index) noexcept
{
    if (outOfMemoryMark != 0) {
        clearOutOfMemoryMark();
        return outOfMemoryRecord();
    }
    KaError* rec = takeOut(index);
    if (rec != nullptr)
        cursor = 0;
    return rec;
}

KaError* KaErrorList::removeFirst() noexcept
{
    return removeAt(0);
}

KaError* KaErrorList::removeLast() noexcept
{
    return removeAt(count == 0 ? 0 : count - 1);
}

KaError* KaErrorList::last() noexcept
{
    if (outOfMemoryMark != 0)
        return outOfMemoryRecord();
    return count == 0 ? nullptr : recordAt(count - 1);
}

void KaErrorList::discardLast() noexcept
{
    KaError* rec = removeLast();
    if (rec != nullptr && !rec->isStatic())
        delete rec;
}

int KaErrorList::state() const noexcept
{
    if (count == 0)
        return 0;
    if (errorCount != 0)
        return warningCount != 0 ? 1 : 2;
    return warningCount != 0 ? 3 : 0;
}

size_t KaErrorList::recordCount() const noexcept
{
    return count;
}

KaError* KaErrorList::first() noexcept
{
    cursor = 1;
    return recordAt(0);
}

KaError* KaErrorList::next() noexcept
{
    if (cursor < 0 || size_t(cursor) >= count)
        return nullptr;
    return recordAt(size_t(cursor++));
}

KaError* KaErrorList::at(size_t index) noexcept
{
    cursor = int64_t(index + 1);
    return recordAt(index);
}

void KaErrorList::markWarningsFrom(size_t index) noexcept
{
    for (size_t i = index + 1; i < count; ++i)
        recordAt(i)->setWarning();
}

void KaErrorList::demoteFrom(size_t index) noexcept
{
    for (size_t i = index; i < count; ++i)
        if (KaError* e = recordAt(i); e != nullptr && !e->isStatic())
            e->setWarning();
}

void KaErrorList::appendTextFrom(const char* text, size_t index) noexcept
{
    for (size_t i = index; i < count; ++i)
        recordAt(i)->appendText(text);
}

void KaErrorList::moveLastTo(size_t index) noexcept
{
    if (count == 0 || index >= count)
        return;
    void* rec = items[count - 1];
    KaArray::removeAt(count - 1);
    (void)insertAt(rec, index);  // cannot fail: the slot just freed makes room
}

void KaErrorList::demoteAll() noexcept
{
    if (outOfMemoryMark != 0) {
        KaError* rec = newRecordW(kDemotedOutOfMemoryNative, kOutOfMemoryW, 1, 0, 0);
        clearOutOfMemoryMark();
        if (rec != nullptr && add(rec) != 0) {
            delete rec;
            clearOutOfMemoryMark();
        }
    }
    for (size_t i = 0; i < count; ++i)
        recordAt(i)->setWarning();
}

int KaErrorList::copyFrom(KaErrorList& other) noexcept
{
    if (other.outOfMemoryMark != 0)
        setOutOfMemoryMark();
    int rc = 0;
    for (size_t i = 0; i < other.count; ++i) {
        KaError* src = other.recordAt(i);
        KaError* copy = newRecordW(src->nativeCode, src->message.data ? src->message.data : kEmptyW,
                                   src->isWarning() ? 1 : 0, src->sqlstateMsg, src->userData);
        if (copy == nullptr) {
            rc = 1;
            continue;
        }
        if (src->sqlstateWide[0] != 0)
            memcpy(copy->sqlstateWide, src->sqlstateWide, sizeof copy->sqlstateWide);
        // The copy keeps where the original pointed, and the marks that a
        // derived record keeps above the base bits.
        copy->row = src->row;
        copy->column = src->column;
        copy->thirdKey = src->thirdKey;
        copy->flags |= uint8_t(src->flags & 0xF0);
        copy->encoding = src->encoding;
        if (add(copy) != 0) {
            delete copy;
            rc = 1;
        }
    }
    return rc;
}

int KaErrorList::moveAllFrom(KaErrorList& other) noexcept
{
    if (other.outOfMemoryMark != 0)
        setOutOfMemoryMark();
    int rc = 0;
    while (other.count != 0) {
        KaError* rec = other.takeOut(0);
        if (add(rec) != 0) {
            delete rec;
            rc = 1;
        }
    }
    other.cursor = 0;
    return rc;
}

int KaErrorList::joinMessages(KaString& text, char separator) noexcept
{
    for (size_t i = 0; i < count; ++i) {
        if (i != 0 && text.appendChar(separator) != 0)
            return 1;
        if (text.append(recordAt(i)->messageA()) != 0)
            return 1;
    }
    return 0;
}

// A merge sort of the record pointers rather than the general sort engine,
// whose quicksort would reorder records that compare equal: the first error
// posted is usually the cause of the rest and must stay first.
int16_t KaErrorList::sort() noexcept
{
    if (count < 2)
        return 0;
    auto before = [](void* a, void* b) { return static_cast<KaError*>(a)->compare(*static_cast<KaError*>(b)) < 0; };
    void** tmp = static_cast<void**>(ramAlloc(count * sizeof(void*)));
    if (tmp == nullptr) {
        // Insertion sort needs no memory and is stable too.
        for (size_t i = 1; i < count; ++i) {
            void* v = items[i];
            size_t j = i;
            while (j > 0 && before(v, items[j - 1])) {
                items[j] = items[j - 1];
                --j;
            }
            items[j] = v;
        }
        return 0;
    }
    void** src = items;
    void** dst = tmp;
    for (size_t width = 1; width < count; width *= 2) {
        for (size_t lo = 0; lo < count; lo += 2 * width) {
            size_t mid = lo + width < count ? lo + width : count;
            size_t hi = lo + 2 * width < count ? lo + 2 * width : count;
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi)
                dst[k++] = before(src[j], src[i]) ? src[j++] : src[i++];
            while (i < mid)
                dst[k++] = src[i++];
            while (j < hi)
                dst[k++] = src[j++];
        }
        void** t = src;
        src = dst;
        dst = t;
    }
    if (src != items)
        memcpy(items, src, count * sizeof(void*));
    ramFree(tmp);
    return 0;
}

void KaErrorList::clear() noexcept
{
    deleteAll();
    errorCount = 0;
    warningCount = 0;
    outOfMemoryMark = 0;
    cursor = 0;
}

// ---- Thread-level operations --------------------------------------------

KaErrorList* KaErrorCurrentList() noexcept
{
    return static_cast<KaErrorList*>(threadGetSlot(KA_THREAD_SLOT_ERROR_LIST));
}

KaError* KaErrorPost(KaError* record) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return record != nullptr ? record : KaErrorParamSink();
    if (record == nullptr)
        return list->staticRecord();
    if (record->isStatic())
        return record;
    if (list->add(record) != 0) {
        delete record;
        return list->staticRecord();
    }
    return record;
}

KaError* KaErrorPostNew(uint16_t native, uintptr_t userData, const char* text, int warning, int32_t encoding) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    return KaErrorPost(list->newRecord(native, text, encoding, warning, 0, userData));
}

KaError* KaErrorPostNewW(uint16_t native, uintptr_t userData, const uint16_t* text, int warning) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    return KaErrorPost(list->newRecordW(native, text, warning, 0, userData));
}

void KaErrorPostOutOfMemory() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list != nullptr)
        list->setOutOfMemoryMark();
}

KaError* KaErrorGetLast() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    return list != nullptr ? list->last() : nullptr;
}

uint16_t KaErrorGetLastNative() noexcept
{
    KaError* rec = KaErrorGetLast();
    return rec != nullptr ? rec->nativeCode : 0;
}

uintptr_t KaErrorGetLastUserData() noexcept
{
    KaError* rec = KaErrorGetLast();
    return rec != nullptr ? rec->userData : 0;
}

void KaErrorSetLastWarning(int flag) noexcept
{
    KaError* rec = KaErrorGetLast();
    if (rec == nullptr)
        return;
    if (flag == 1)
        rec->setWarning();
    else
        rec->clearWarning();
}

KaError* KaErrorAppendText(const char* text) noexcept
{
    KaError* rec = KaErrorGetLast();
    if (rec == nullptr || rec->isStatic())
        return KaErrorParamSink();
    KaError* result = rec->appendText(text);
    if (result == rec)
        rec->message.paramCount = 0;
    return result;
}

KaError* KaErrorAppendTextW(const uint16_t* text) noexcept
{
    KaError* rec = KaErrorGetLast();
    if (rec == nullptr || rec->isStatic())
        return KaErrorParamSink();
    return rec->appendTemplateW(text);
}

void KaErrorDiscardLast() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list != nullptr)
        list->discardLast();
}

void KaErrorPushList(KaErrorList* list) noexcept
{
    if (list == nullptr)
        return;
    if (threadAttach() == 0) {
        // The thread has no record to make the list current in; the list
        // itself still tells the application why nothing else is there.
        list->setOutOfMemoryMark();
        return;
    }
    KaErrorPushListOn(list, threadCurrent());
}

void KaErrorPushListOn(KaErrorList* list, KaThreadInfo* thread) noexcept
{
    if (thread == nullptr || list == nullptr)
        return;
    void** slot = &thread->slots[KA_THREAD_SLOT_ERROR_LIST];
    list->previousList = static_cast<KaErrorList*>(*slot);
    list->threadSlot = slot;
    *slot = list;
}

KaErrorList* KaErrorPopList() noexcept
{
    KaThreadInfo* thread = threadCurrent();
    if (thread == nullptr)
        return nullptr;
    KaErrorList* list = KaErrorPopListFrom(thread);
    thread->release();
    return list;
}

KaErrorList* KaErrorPopListFrom(KaThreadInfo* thread) noexcept
{
    if (thread == nullptr)
        return nullptr;
    void** slot = &thread->slots[KA_THREAD_SLOT_ERROR_LIST];
    auto* list = static_cast<KaErrorList*>(*slot);
    if (list == nullptr)
        return nullptr;
    *slot = list->previousList;
    list->previousList = nullptr;
    list->threadSlot = nullptr;
    return list;
}

void* KaErrorGetListOwner() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    return list != nullptr ? list->ownerData : nullptr;
}
