// Associations, sequential dictionaries and the hash set.
#include "foundation/kaassoc.h"

#include "foundation/fast.h"
#include "foundation/kastr.h"
#include "foundation/kastring.h"
#include "foundation/kastringw.h"
#include "foundation/ram.h"

namespace {

constexpr size_t kSeqGrowStep = 16;
constexpr uint16_t kLoadPercent = 75;
constexpr uint16_t kGrowthPercent = 25;
// Entries a set is sized for when its first add finds it unsized.
constexpr size_t kFirstEntries = 16;
constexpr uint64_t kHashMultiplier = 0x9E3779B9u;

// An 8-bit value may hold a secret (a password taken from a connection
// string): its buffer is wiped before it goes back, whatever its class.
void releaseStringValue(KaString* value) noexcept
{
    if (value == nullptr)
        return;
    if (value->owns && value->data != nullptr)
        fastMemzero(value->data, value->capacity);
    delete value;
}

}  // namespace

// ---- KaAssociation -------------------------------------------------------

KaAssociation::~KaAssociation() = default;

int KaAssociation::matchesNoCase(const KaAssociation&) const
{
    return 0;
}

int KaAssociation::equalKeyW(const KaSubStringW&) const
{
    return 0;
}

int KaAssociation::equalKeyNoCaseW(const KaSubStringW&) const
{
    return 0;
}

int KaAssociation::equalKey(const KaSubString&) const
{
    return 0;
}

int KaAssociation::equalKeyNoCase(const KaSubString&) const
{
    return 0;
}

int KaAssociation::equalInt(int64_t) const
{
    return 0;
}

int64_t KaAssociation::intKey() const
{
    return 0;
}

int64_t KaAssociation::intValue() const
{
    return 0;
}

KaSubString* KaAssociation::key() const
{
    return nullptr;
}

KaSubStringW* KaAssociation::keyW() const
{
    return nullptr;
}

KaObject* KaAssociation::value() const
{
    return nullptr;
}

void KaAssociation::setIntValue(int64_t) {}

void KaAssociation::setValue(KaObject*) {}

// ---- KaIntIntKey ---------------------------------------------------------

KaIntIntKey::~KaIntIntKey() = default;

int KaIntIntKey::matches(const KaAssociation& other) const
{
    return other.equalInt(key_);
}

int KaIntIntKey::equalInt(int64_t k) const
{
    return k == key_;
}

int64_t KaIntIntKey::intKey() const
{
    return key_;
}

int64_t KaIntIntKey::intValue() const
{
    return value_;
}

void KaIntIntKey::setIntValue(int64_t v)
{
    value_ = v;
}

uint64_t KaIntIntKey::hash() const
{
    return static_cast<uint64_t>(key_);
}

void KaIntIntKey::deleteKeyAndValue() {}

// ---- KaIntPtrKey ---------------------------------------------------------

KaIntPtrKey::~KaIntPtrKey() = default;

int KaIntPtrKey::matches(const KaAssociation& other) const
{
    return other.equalInt(key_);
}

int KaIntPtrKey::equalInt(int64_t k) const
{
    return k == key_;
}

int64_t KaIntPtrKey::intKey() const
{
    return key_;
}

KaObject* KaIntPtrKey::value() const
{
    return value_;
}

uint64_t KaIntPtrKey::hash() const
{
    return static_cast<uint64_t>(key_);
}

void KaIntPtrKey::deleteKeyAndValue()
{
    delete value_;
    value_ = nullptr;
}

// ---- KaSubPtrKey ---------------------------------------------------------

KaSubPtrKey::~KaSubPtrKey() = default;

int KaSubPtrKey::matches(const KaAssociation& other) const
{
    return key_ != nullptr && other.equalKey(*key_);
}

int KaSubPtrKey::matchesNoCase(const KaAssociation& other) const
{
    return key_ != nullptr && other.equalKeyNoCase(*key_);
}

int KaSubPtrKey::equalKey(const KaSubString& k) const
{
    if (key_ == nullptr || key_->len != k.len)
        return 0;
    return k.len == 0 || fastMemeq(key_->data, k.data, k.len);
}

int KaSubPtrKey::equalKeyNoCase(const KaSubString& k) const
{
    if (key_ == nullptr || key_->len != k.len)
        return 0;
    return k.len == 0 || strEqualNoCaseN(key_->data, key_->len, k.data, k.len);
}

KaSubString* KaSubPtrKey::key() const
{
    return key_;
}

KaObject* KaSubPtrKey::value() const
{
    return value_;
}

void KaSubPtrKey::setValue(KaObject* v)
{
    if (v == value_)
        return;
    releaseStringValue(value_);
    value_ = static_cast<KaString*>(v);
}

uint64_t KaSubPtrKey::hash() const
{
    return key_ != nullptr ? key_->hash() : 0;
}

void KaSubPtrKey::deleteKeyAndValue()
{
    delete key_;
    key_ = nullptr;
    releaseStringValue(value_);
    value_ = nullptr;
}

// ---- KaSubPtrKeyW --------------------------------------------------------

KaSubPtrKeyW::~KaSubPtrKeyW() = default;

int KaSubPtrKeyW::matches(const KaAssociation& other) const
{
    return key_ != nullptr && other.equalKeyW(*key_);
}

int KaSubPtrKeyW::matchesNoCase(const KaAssociation& other) const
{
    return key_ != nullptr && other.equalKeyNoCaseW(*key_);
}

int KaSubPtrKeyW::equalKeyW(const KaSubStringW& k) const
{
    if (key_ == nullptr || key_->len != k.len)
        return 0;
    return k.len == 0 || fastMemeq(key_->data, k.data, k.len * sizeof(uint16_t));
}

int KaSubPtrKeyW::equalKeyNoCaseW(const KaSubStringW& k) const
{
    if (key_ == nullptr || key_->len != k.len)
        return 0;
    return k.len == 0 || strEqualNoCaseNNW(key_->data, key_->len, k.data, k.len);
}

KaSubStringW* KaSubPtrKeyW::keyW() const
{
    return key_;
}

KaObject* KaSubPtrKeyW::value() const
{
    return value_;
}

// The attribute object wipes its own secret when it is destroyed.
void KaSubPtrKeyW::setValue(KaObject* v)
{
    if (v == value_)
        return;
    delete value_;
    value_ = v;
}

uint64_t KaSubPtrKeyW::hash() const
{
    return key_ != nullptr ? key_->hash() : 0;
}

void KaSubPtrKeyW::deleteKeyAndValue()
{
    delete key_;
    key_ = nullptr;
    delete value_;
    value_ = nullptr;
}

// ---- KaSeqDictionaryBase -------------------------------------------------

KaSeqDictionaryBase::KaSeqDictionaryBase() noexcept : KaArray(kSeqGrowStep, 0), noCase(0) {}

KaSeqDictionaryBase::~KaSeqDictionaryBase()
{
    // Whatever the owner left is released here, so that no key or value
    // (which may be a secret) outlives the dictionary.
    deleteAll();
}

int16_t KaSeqDictionaryBase::appendEntry(KaAssociation* entry) noexcept
{
    if (entry == nullptr)
        return 1;
    if (append(entry) != 0) {
        delete entry;
        return 1;
    }
    return 0;
}

int16_t KaSeqDictionaryBase::addIntInt(int64_t key, int64_t value) noexcept
{
    return appendEntry(new KaIntIntKey(key, value));
}

int16_t KaSeqDictionaryBase::addIntPtr(int64_t key, KaObject* value) noexcept
{
    return appendEntry(new KaIntPtrKey(key, value));
}

size_t KaSeqDictionaryBase::findInt(int64_t key) const noexcept
{
    return findWhere([&](const KaAssociation& e) { return e.equalInt(key) != 0; });
}

int KaSeqDictionaryBase::containsInt(int64_t key) const noexcept
{
    return findInt(key) != count;
}

void KaSeqDictionaryBase::setValueAt(size_t index, KaObject* value) noexcept
{
    if (index < count)
        entryAt(index)->setValue(value);
}

void KaSeqDictionaryBase::setIntValue(int64_t key, int64_t value) noexcept
{
    size_t i = findInt(key);
    if (i < count)
        entryAt(i)->setIntValue(value);
}

KaObject* KaSeqDictionaryBase::valueOrNull(size_t index) const noexcept
{
    return index < count ? entryAt(index)->value() : nullptr;
}

KaObject* KaSeqDictionaryBase::valueOfInt(int64_t key) const noexcept
{
    return valueOrNull(findInt(key));
}

int64_t KaSeqDictionaryBase::intValueOf(int64_t key) const noexcept
{
    size_t i = findInt(key);
    return i < count ? entryAt(i)->intValue() : 0;
}

KaObject* KaSeqDictionaryBase::valueAt(size_t index) const noexcept
{
    return entryAt(index)->value();
}

int64_t KaSeqDictionaryBase::intKeyAt(size_t index) const noexcept
{
    return entryAt(index)->intKey();
}

int64_t KaSeqDictionaryBase::intValueAt(size_t index) const noexcept
{
    return entryAt(index)->intValue();
}

void KaSeqDictionaryBase::deleteAt(size_t index) noexcept
{
    if (index >= count)
        return;
    if (KaAssociation* e = entryAt(index))
        e->deleteKeyAndValue();
    KaArray::deleteAt(index);
}

void KaSeqDictionaryBase::deleteAll() noexcept
{
    for (size_t i = count; i > 0; --i) {
        KaAssociation* e = entryAt(i - 1);
        items[i - 1] = nullptr;
        if (e != nullptr) {
            e->deleteKeyAndValue();
            delete e;
        }
    }
    count = 0;
}

// ---- KaSeqDictionary -----------------------------------------------------

int16_t KaSeqDictionary::add(KaSubString* key, KaString* value) noexcept
{
    return appendEntry(new KaSubPtrKey(key, value));
}

size_t KaSeqDictionary::find(const KaSubString& key) const noexcept
{
    return findWhere([&](const KaAssociation& e) { return (noCase ? e.equalKeyNoCase(key) : e.equalKey(key)) != 0; });
}

size_t KaSeqDictionary::indexOfKey(const KaSubString& key) const noexcept
{
    return find(key);
}

int KaSeqDictionary::containsKey(const KaSubString& key) const noexcept
{
    return find(key) != count;
}

void KaSeqDictionary::setValue(const KaSubString& key, KaString* value) noexcept
{
    setValueAt(find(key), value);
}

KaObject* KaSeqDictionary::valueOf(const KaSubString& key) const noexcept
{
    return valueOrNull(find(key));
}

KaSubString* KaSeqDictionary::keyAt(size_t index) const noexcept
{
    return entryAt(index)->key();
}

// ---- KaSeqDictionaryW ----------------------------------------------------

int16_t KaSeqDictionaryW::add(KaStringW* key, KaObject* value) noexcept
{
    return appendEntry(new KaSubPtrKeyW(key, value));
}

size_t KaSeqDictionaryW::find(const KaSubStringW& key) const noexcept
{
    return findWhere([&](const KaAssociation& e) { return (noCase ? e.equalKeyNoCaseW(key) : e.equalKeyW(key)) != 0; });
}

size_t KaSeqDictionaryW::indexOfKey(const KaSubStringW& key) const noexcept
{
    return find(key);
}

int KaSeqDictionaryW::containsKey(const KaSubStringW& key) const noexcept
{
    return find(key) != count;
}

void KaSeqDictionaryW::setValue(const KaSubStringW& key, KaObject* value) noexcept
{
    setValueAt(find(key), value);
}

KaObject* KaSeqDictionaryW::valueOf(const KaSubStringW& key) const noexcept
{
    return valueOrNull(find(key));
}

KaSubStringW* KaSeqDictionaryW::keyAt(size_t index) const noexcept
{
    return entryAt(index)->keyW();
}

// ---- KaSet ---------------------------------------------------------------

KaSet::KaSet() noexcept : tableSize(0), count(0), loadPercent(kLoadPercent), growthPercent(kGrowthPercent), maxCount(0)
{
    table.growStep = kSeqGrowStep;
}

KaSet::~KaSet() = default;

size_t KaSet::hashIndex(uint64_t hash) const noexcept
{
    if (tableSize == 0)
        return 0;
    return static_cast<uint16_t>((hash * kHashMultiplier) % tableSize);
}

size_t KaSet::loadLimit() const noexcept
{
    return loadPercent * tableSize / 100;
}

size_t KaSet::setTableSize(size_t entries) noexcept
{
    if (entries > SIZE_MAX / 100 - 1)
        entries = SIZE_MAX / 100 - 1;
    tableSize = entries * 100 / (loadPercent == 0 ? kLoadPercent : loadPercent) + 1;
    return tableSize;
}

size_t KaSet::findSlot(const KaAssociation& entry) const noexcept
{
    return probe(hashOf(entry), [&](const KaAssociation& stored) { return same(stored, entry) != 0; });
}

int16_t KaSet::reserveEntries(size_t n) noexcept
{
    // Resizing a set that holds entries moves them, or they could no longer
    // be found.
    if (count > 0)
        return rehash(n);
    size_t old = tableSize;
    setTableSize(n);
    if (tableSize > table.capacity && table.reserve(tableSize - table.capacity, 1) != 0) {
        tableSize = old;
        return 1;
    }
    return 0;
}

int16_t KaSet::rehash(size_t n) noexcept
{
    if (n < count)
        n = count;
    size_t old = tableSize;
    size_t size = setTableSize(n);
    tableSize = old;

    if (count == 0) {
        if (size > table.capacity) {
            if (table.reserve(size - table.capacity, 0) != 0)
                return 1;
        } else if (table.items != nullptr) {
            fastMemzero(table.items, table.capacity * sizeof(void*));
        }
        tableSize = size;
        return 0;
    }

    // The entries move into a fresh block that is taken first, so that a
    // failure leaves the set as it was.
    KaArrayPVoid fresh;
    if (fresh.allocate(size) != 0)
        return 1;
    size_t moved = tableSize;
    tableSize = size;
    for (size_t b = 0; b < moved; ++b) {
        auto* e = static_cast<KaAssociation*>(table.items[b]);
        if (e == nullptr)
            continue;
        size_t i = hashIndex(hashOf(*e));
        while (fresh.items[i] != nullptr)
            i = (i == 0) ? size - 1 : i - 1;
        fresh.items[i] = e;
    }
    if ((table.flags & KaArray::ownsBuffer) && table.items != nullptr)
        ramFree(table.items);
    table.items = fresh.items;
    table.capacity = fresh.capacity;
    table.flags |= KaArray::ownsBuffer;
    fresh.items = nullptr;
    fresh.capacity = 0;
    return 0;
}

int16_t KaSet::reset() noexcept
{
    int16_t rc = table.setSize(0);
    count = 0;
    tableSize = 0;
    maxCount = 0;
    loadPercent = kLoadPercent;
    growthPercent = kGrowthPercent;
    return rc;
}

int16_t KaSet::add(KaAssociation* entry) noexcept
{
    KaAssociation* replaced = nullptr;
    return addReplacing(entry, &replaced);
}

int16_t KaSet::addReplacing(KaAssociation* entry, KaAssociation** replaced) noexcept
{
    *replaced = nullptr;
    if (entry == nullptr)
        return 1;
    if (tableSize == 0 && rehash(kFirstEntries) != 0)
        return 1;
    size_t i = findSlot(*entry);
    if (i >= tableSize) {
        // No free bucket (only when the load percentage was set to 100 or more).
        if (rehash(count + count / 2 + 1) != 0)
            return 1;
        i = findSlot(*entry);
        if (i >= tableSize)
            return 1;
    }
    auto* old = static_cast<KaAssociation*>(table.items[i]);
    table.items[i] = entry;
    if (old != nullptr) {
        *replaced = old;
        return 0;
    }
    size_t limit = loadLimit();
    ++count;
    if (limit < count) {
        if (rehash(limit * growthPercent / 100 + limit + 1) != 0) {
            // The entry was the last one stored, so no probe passes over
            // its bucket: emptying it restores the set exactly.
            table.items[i] = nullptr;
            --count;
            return 1;
        }
    }
    if (maxCount < count)
        maxCount = count;
    return 0;
}

// ---- KaDictionaryBase ----------------------------------------------------

KaDictionaryBase::KaDictionaryBase() noexcept : flags(0) {}

KaDictionaryBase::~KaDictionaryBase()
{
    deleteAll();
}

uint64_t KaDictionaryBase::hashOf(const KaAssociation& entry) const
{
    return entry.hash();
}

int KaDictionaryBase::same(const KaAssociation& stored, const KaAssociation& added) const
{
    return (flags & noCase) ? stored.matchesNoCase(added) : stored.matches(added);
}

int16_t KaDictionaryBase::addEntry(KaAssociation* entry) noexcept
{
    if (entry == nullptr)
        return 1;
    KaAssociation* replaced = nullptr;
    if (addReplacing(entry, &replaced) != 0) {
        delete entry;
        return 1;
    }
    if (replaced != nullptr) {
        replaced->deleteKeyAndValue();
        delete replaced;
    }
    return 0;
}

int16_t KaDictionaryBase::addIntInt(int64_t key, int64_t value) noexcept
{
    return addEntry(new KaIntIntKey(key, value));
}

int16_t KaDictionaryBase::addIntPtr(int64_t key, KaObject* value) noexcept
{
    return addEntry(new KaIntPtrKey(key, value));
}

size_t KaDictionaryBase::findInt(int64_t key) const noexcept
{
    return probe(static_cast<uint64_t>(key), [&](const KaAssociation& e) { return e.intKey() == key; });
}

int KaDictionaryBase::containsInt(int64_t key) const noexcept
{
    return bucketAt(findInt(key)) != nullptr;
}

KaObject* KaDictionaryBase::valueOrNull(size_t bucket) const noexcept
{
    KaAssociation* e = bucketAt(bucket);
    return e != nullptr ? e->value() : nullptr;
}

KaObject* KaDictionaryBase::valueOfInt(int64_t key) const noexcept
{
    return valueOrNull(findInt(key));
}

int64_t KaDictionaryBase::intValueOf(int64_t key) const noexcept
{
    KaAssociation* e = bucketAt(findInt(key));
    return e != nullptr ? e->intValue() : 0;
}

void KaDictionaryBase::deleteAll() noexcept
{
    for (size_t b = table.capacity; b > 0 && table.items != nullptr; --b) {
        auto* e = static_cast<KaAssociation*>(table.items[b - 1]);
        table.items[b - 1] = nullptr;
        if (e != nullptr) {
            e->deleteKeyAndValue();
            delete e;
        }
    }
    count = 0;
}

// ---- KaDictionary --------------------------------------------------------

int16_t KaDictionary::add(KaSubString* key, KaString* value) noexcept
{
    return addEntry(new KaSubPtrKey(key, value));
}

size_t KaDictionary::find(const KaSubString& key) const noexcept
{
    bool nc = (flags & noCase) != 0;
    return probe(key.hash(),
                 [&](const KaAssociation& e) { return (nc ? e.equalKeyNoCase(key) : e.equalKey(key)) != 0; });
}

int KaDictionary::containsKey(const KaSubString& key) const noexcept
{
    return bucketAt(find(key)) != nullptr;
}

KaObject* KaDictionary::valueOf(const KaSubString& key) const noexcept
{
    return valueOrNull(find(key));
}

// ---- KaDictionaryW -------------------------------------------------------

int16_t KaDictionaryW::add(KaStringW* key, KaObject* value) noexcept
{
    return addEntry(new KaSubPtrKeyW(key, value));
}

size_t KaDictionaryW::find(const KaSubStringW& key) const noexcept
{
    bool nc = (flags & noCase) != 0;
    return probe(key.hash(),
                 [&](const KaAssociation& e) { return (nc ? e.equalKeyNoCaseW(key) : e.equalKeyW(key)) != 0; });
}

int KaDictionaryW::containsKey(const KaSubStringW& key) const noexcept
{
    return bucketAt(find(key)) != nullptr;
}

KaObject* KaDictionaryW::valueOf(const KaSubStringW& key) const noexcept
{
    return valueOrNull(find(key));
}
