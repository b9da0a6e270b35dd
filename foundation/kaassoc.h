// Key/value entries (KaAssociation and its four forms) and the containers
// built on them: the insertion-ordered dictionaries KaSeqDictionary and
// KaSeqDictionaryW that hold parsed connection-string attributes, and the
// open-addressing hash set KaSet with its dictionaries.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"

class KaSubString;
class KaString;
class KaSubStringW;
class KaStringW;

class KaAssociation : public KaObject {
public:
    KaAssociation() noexcept = default;
    // Releases neither the key nor the value (deleteKeyAndValue does).
    ~KaAssociation() override;

    virtual int matches(const KaAssociation& other) const = 0;
    virtual int matchesNoCase(const KaAssociation& other) const;
    virtual int equalKeyW(const KaSubStringW& key) const;
    virtual int equalKeyNoCaseW(const KaSubStringW& key) const;
    virtual int equalKey(const KaSubString& key) const;
    virtual int equalKeyNoCase(const KaSubString& key) const;
    virtual int equalInt(int64_t key) const;
    virtual int64_t intKey() const;
    virtual int64_t intValue() const;
    virtual KaSubString* key() const;
    virtual KaSubStringW* keyW() const;
    virtual KaObject* value() const;
    virtual void setIntValue(int64_t value);
    // The entry takes the new value; the old one is released (wiped first
    // when it is an 8-bit string).
    virtual void setValue(KaObject* value);
    virtual uint64_t hash() const = 0;
    virtual void deleteKeyAndValue() = 0;
};

// The fields `key` and `value` carry a trailing underscore: the names are
// taken by the virtual accessors.
class KaIntIntKey : public KaAssociation {
public:
    int64_t key_;
    int64_t value_;

    KaIntIntKey(int64_t key, int64_t value) noexcept : key_(key), value_(value) {}
    ~KaIntIntKey() override;
    int matches(const KaAssociation& other) const override;
    int equalInt(int64_t key) const override;
    int64_t intKey() const override;
    int64_t intValue() const override;
    void setIntValue(int64_t value) override;
    uint64_t hash() const override;
    void deleteKeyAndValue() override;
};

class KaIntPtrKey : public KaAssociation {
public:
    int64_t key_;
    KaObject* value_;  // owned

    KaIntPtrKey(int64_t key, KaObject* value) noexcept : key_(key), value_(value) {}
    ~KaIntPtrKey() override;
    int matches(const KaAssociation& other) const override;
    int equalInt(int64_t key) const override;
    int64_t intKey() const override;
    KaObject* value() const override;
    uint64_t hash() const override;
    void deleteKeyAndValue() override;
};

class KaSubPtrKey : public KaAssociation {
public:
    KaSubString* key_;  // owned
    KaString* value_;   // owned

    KaSubPtrKey(KaSubString* key, KaString* value) noexcept : key_(key), value_(value) {}
    ~KaSubPtrKey() override;
    int matches(const KaAssociation& other) const override;
    int matchesNoCase(const KaAssociation& other) const override;
    int equalKey(const KaSubString& key) const override;
    int equalKeyNoCase(const KaSubString& key) const override;
    KaSubString* key() const override;
    KaObject* value() const override;
    // The value must be a KaString (or null).
    void setValue(KaObject* value) override;
    uint64_t hash() const override;
    void deleteKeyAndValue() override;
};

// The value is the connection-string parser's attribute object, held through
// its KaObject base.
class KaSubPtrKeyW : public KaAssociation {
public:
    KaStringW* key_;   // owned
    KaObject* value_;  // owned

    KaSubPtrKeyW(KaStringW* key, KaObject* value) noexcept : key_(key), value_(value) {}
    ~KaSubPtrKeyW() override;
    int matches(const KaAssociation& other) const override;
    int matchesNoCase(const KaAssociation& other) const override;
    int equalKeyW(const KaSubStringW& key) const override;
    int equalKeyNoCaseW(const KaSubStringW& key) const override;
    KaSubStringW* keyW() const override;
    KaObject* value() const override;
    void setValue(KaObject* value) override;
    uint64_t hash() const override;
    void deleteKeyAndValue() override;
};

// Insertion-ordered dictionaries with linear lookup. On a failed add the
// caller keeps the key and the value it passed. Keys and values are released
// by deleteAt and deleteAll (the destructor runs deleteAll for what is left).
// What does not depend on the key's string type is shared by both forms.
class KaSeqDictionaryBase : public KaArray {
public:
    int32_t noCase;

    KaSeqDictionaryBase() noexcept;
    ~KaSeqDictionaryBase() override;

    KaAssociation* entryAt(size_t index) const noexcept { return static_cast<KaAssociation*>(items[index]); }
    [[nodiscard]] int16_t addIntInt(int64_t key, int64_t value) noexcept;
    [[nodiscard]] int16_t addIntPtr(int64_t key, KaObject* value) noexcept;
    // Indices are `count` when the key is absent.
    size_t findInt(int64_t key) const noexcept;
    int containsInt(int64_t key) const noexcept;
    void setIntValue(int64_t key, int64_t value) noexcept;
    KaObject* valueOfInt(int64_t key) const noexcept;
    int64_t intValueOf(int64_t key) const noexcept;
    KaObject* valueAt(size_t index) const noexcept;
    int64_t intKeyAt(size_t index) const noexcept;
    int64_t intValueAt(size_t index) const noexcept;
    void deleteAt(size_t index) noexcept;
    void deleteAll() noexcept;

protected:
    [[nodiscard]] int16_t appendEntry(KaAssociation* entry) noexcept;
    // Index of the first entry the predicate accepts, or `count`.
    template <typename Match>
    size_t findWhere(Match matchesEntry) const noexcept
    {
        for (size_t i = 0; i < count; ++i) {
            KaAssociation* e = entryAt(i);
            if (e != nullptr && matchesEntry(*e))
                return i;
        }
        return count;
    }
    // Index `count` (a key that was not found) changes nothing.
    void setValueAt(size_t index, KaObject* value) noexcept;
    KaObject* valueOrNull(size_t index) const noexcept;
};

class KaSeqDictionary : public KaSeqDictionaryBase {
public:
    [[nodiscard]] int16_t add(KaSubString* key, KaString* value) noexcept;
    size_t find(const KaSubString& key) const noexcept;
    size_t indexOfKey(const KaSubString& key) const noexcept;
    int containsKey(const KaSubString& key) const noexcept;
    // A key that is absent leaves the dictionary unchanged (the value stays
    // with the caller).
    void setValue(const KaSubString& key, KaString* value) noexcept;
    KaObject* valueOf(const KaSubString& key) const noexcept;
    KaSubString* keyAt(size_t index) const noexcept;
};

class KaSeqDictionaryW : public KaSeqDictionaryBase {
public:
    [[nodiscard]] int16_t add(KaStringW* key, KaObject* value) noexcept;
    size_t find(const KaSubStringW& key) const noexcept;
    size_t indexOfKey(const KaSubStringW& key) const noexcept;
    int containsKey(const KaSubStringW& key) const noexcept;
    void setValue(const KaSubStringW& key, KaObject* value) noexcept;
    KaObject* valueOf(const KaSubStringW& key) const noexcept;
    KaSubStringW* keyAt(size_t index) const noexcept;
};

// Open-addressing hash set with linear probing downwards.
class KaSet : public KaObject {
public:
    KaArrayPVoid table;  // the buckets; null = empty
    size_t tableSize;
    size_t count;
    uint16_t loadPercent;
    uint16_t growthPercent;
    size_t maxCount;

    KaSet() noexcept;
    ~KaSet() override;

    virtual uint64_t hashOf(const KaAssociation& entry) const = 0;
    virtual int same(const KaAssociation& stored, const KaAssociation& added) const = 0;

    KaAssociation* bucketAt(size_t bucket) const noexcept
    {
        return bucket < tableSize ? static_cast<KaAssociation*>(table.items[bucket]) : nullptr;
    }
    // Stores the entry; 1 (with the set unchanged) when it cannot grow.
    [[nodiscard]] int16_t add(KaAssociation* entry) noexcept;
    size_t findSlot(const KaAssociation& entry) const noexcept;
    size_t hashIndex(uint64_t hash) const noexcept;
    size_t loadLimit() const noexcept;
    size_t setTableSize(size_t entries) noexcept;
    [[nodiscard]] int16_t reserveEntries(size_t n) noexcept;
    [[nodiscard]] int16_t rehash(size_t n) noexcept;
    [[nodiscard]] int16_t reset() noexcept;

protected:
    // As add; an equal entry that was stored is handed back in *replaced.
    [[nodiscard]] int16_t addReplacing(KaAssociation* entry, KaAssociation** replaced) noexcept;
    // Bucket of the entry matching the predicate, or the empty bucket where
    // probing stopped; tableSize when the set has no buckets.
    template <typename Match>
    size_t probe(uint64_t hash, Match matchesEntry) const noexcept
    {
        if (tableSize == 0)
            return 0;
        size_t i = hashIndex(hash);
        for (size_t steps = 0; steps < tableSize; ++steps) {
            auto* e = static_cast<KaAssociation*>(table.items[i]);
            if (e == nullptr || matchesEntry(*e))
                return i;
            i = (i == 0) ? tableSize - 1 : i - 1;
        }
        return tableSize;
    }
};

// The hash dictionaries; what does not depend on the key's string type is
// shared by both forms.
class KaDictionaryBase : public KaSet {
public:
    static constexpr uint8_t noCase = 1;  // bit of `flags`
    uint8_t flags;

    KaDictionaryBase() noexcept;
    ~KaDictionaryBase() override;
    uint64_t hashOf(const KaAssociation& entry) const override;
    int same(const KaAssociation& stored, const KaAssociation& added) const override;

    [[nodiscard]] int16_t addIntInt(int64_t key, int64_t value) noexcept;
    [[nodiscard]] int16_t addIntPtr(int64_t key, KaObject* value) noexcept;
    size_t findInt(int64_t key) const noexcept;
    int containsInt(int64_t key) const noexcept;
    KaObject* valueOfInt(int64_t key) const noexcept;
    int64_t intValueOf(int64_t key) const noexcept;
    void deleteAll() noexcept;

protected:
    // On failure the association is deleted and the caller keeps the key and
    // value. An entry with an equal key is replaced and released.
    [[nodiscard]] int16_t addEntry(KaAssociation* entry) noexcept;
    KaObject* valueOrNull(size_t bucket) const noexcept;
};

class KaDictionary : public KaDictionaryBase {
public:
    [[nodiscard]] int16_t add(KaSubString* key, KaString* value) noexcept;
    size_t find(const KaSubString& key) const noexcept;
    int containsKey(const KaSubString& key) const noexcept;
    KaObject* valueOf(const KaSubString& key) const noexcept;
};

class KaDictionaryW : public KaDictionaryBase {
public:
    [[nodiscard]] int16_t add(KaStringW* key, KaObject* value) noexcept;
    size_t find(const KaSubStringW& key) const noexcept;
    int containsKey(const KaSubStringW& key) const noexcept;
    KaObject* valueOf(const KaSubStringW& key) const noexcept;
};
