#include "foundation/kaassoc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/kaerror.h"
#include "foundation/kastring.h"
#include "foundation/kastringw.h"
#include "foundation/kathread.h"
#include "support/freewatch.h"

// Huge requests must come back as null rather than abort the test.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

using katest::FreeWatch;

int g_keys = 0;
int g_values = 0;

class Key : public KaString {
public:
    ~Key() override { ++g_keys; }
};

class Value : public KaString {
public:
    ~Value() override { ++g_values; }
};

class Attribute : public KaObject {
public:
    explicit Attribute(int v) : value(v) {}
    ~Attribute() override { ++g_values; }
    int value;
};

Key* key(const char* text)
{
    auto* k = new Key;
    EXPECT_EQ(k->assign(text), 0);
    return k;
}

Value* value(const char* text)
{
    auto* v = new Value;
    EXPECT_EQ(v->assign(text), 0);
    return v;
}

KaStringW* keyW(const char* ascii)
{
    uint16_t units[64] = {};
    for (size_t i = 0; ascii[i] != 0 && i < 63; ++i)
        units[i] = static_cast<unsigned char>(ascii[i]);
    auto* k = new KaStringW;
    EXPECT_EQ(k->assign(units), 0);
    return k;
}

std::string text(const KaObject* o)
{
    auto* s = static_cast<const KaString*>(o);
    return s == nullptr ? "<null>" : std::string(s->data, s->len);
}

class AssocTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_keys = 0;
        g_values = 0;
        ASSERT_EQ(threadAttach(), 1);
        KaErrorPushList(&list);
    }
    void TearDown() override
    {
        KaErrorPopList();
        threadDetach();
    }
    KaErrorList list;
};

// ---- associations ----------------------------------------------------------

TEST_F(AssocTest, IntegerKeysMatchByValueAndNeverWithoutCase)
{
    KaIntIntKey a(7, 70);
    KaIntIntKey b(7, 1);
    KaIntPtrKey c(8, nullptr);
    EXPECT_EQ(a.matches(b), 1);
    EXPECT_EQ(a.matches(c), 0);
    EXPECT_EQ(a.matchesNoCase(b), 0);
    EXPECT_EQ(a.hash(), 7u);
    a.setIntValue(71);
    EXPECT_EQ(a.intValue(), 71);
    EXPECT_EQ(a.key(), nullptr);
    EXPECT_EQ(c.value(), nullptr);
}

TEST_F(AssocTest, StringKeysMatchExactlyOrWithoutCase)
{
    KaSubPtrKey upper(key("UID"), value("x"));
    KaSubPtrKey lower(key("uid"), value("y"));
    EXPECT_EQ(upper.matches(lower), 0);
    EXPECT_EQ(upper.matchesNoCase(lower), 1);
    EXPECT_EQ(upper.hash(), lower.hash());
    EXPECT_EQ(upper.equalKey(KaSubString("UID")), 1);
    EXPECT_EQ(upper.equalKey(KaSubString("UI")), 0);
    EXPECT_EQ(upper.equalInt(0), 0);
    upper.deleteKeyAndValue();
    lower.deleteKeyAndValue();
    EXPECT_EQ(g_keys, 2);
    EXPECT_EQ(g_values, 2);
}

TEST_F(AssocTest, SettingAValueReleasesAndWipesTheOldOne)
{
    KaSubPtrKey entry(key("PWD"), value("hunter2"));
    auto* old = static_cast<KaString*>(entry.value());
    bool watching = FreeWatch::available();
    FreeWatch watch(old->data, old->capacity);
    entry.setValue(value("new"));
    EXPECT_EQ(g_values, 1);
    EXPECT_EQ(text(entry.value()), "new");
    if (watching) {
        EXPECT_TRUE(watch.seen());
        EXPECT_TRUE(watch.wiped());
    }
    entry.setValue(entry.value());  // the same value again is kept
    EXPECT_EQ(g_values, 1);
    entry.deleteKeyAndValue();
}

// ---- sequential dictionaries -----------------------------------------------

TEST_F(AssocTest, SeqDictionaryFindsWithOrWithoutCase)
{
    KaSeqDictionary d;
    EXPECT_EQ(d.growStep, 16u);
    ASSERT_EQ(d.add(key("uid"), value("joe")), 0);
    ASSERT_EQ(d.add(key("pwd"), value("secret")), 0);
    EXPECT_EQ(d.find(KaSubString("UID")), d.count);
    EXPECT_EQ(d.containsKey(KaSubString("UID")), 0);
    d.noCase = 1;
    EXPECT_EQ(d.find(KaSubString("UID")), 0u);
    EXPECT_EQ(d.indexOfKey(KaSubString("PwD")), 1u);
    EXPECT_EQ(text(d.valueOf(KaSubString("Pwd"))), "secret");
    EXPECT_EQ(d.valueOf(KaSubString("host")), nullptr);
    EXPECT_EQ(std::string(d.keyAt(1)->data, d.keyAt(1)->len), "pwd");
    EXPECT_EQ(text(d.valueAt(0)), "joe");
    d.deleteAll();
}

TEST_F(AssocTest, SeqDictionaryKeepsDuplicateKeysInOrder)
{
    KaSeqDictionary d;
    ASSERT_EQ(d.add(key("DSN"), value("first")), 0);
    ASSERT_EQ(d.add(key("DSN"), value("second")), 0);
    EXPECT_EQ(d.count, 2u);
    EXPECT_EQ(d.find(KaSubString("DSN")), 0u);
    EXPECT_EQ(text(d.valueOf(KaSubString("DSN"))), "first");
    d.deleteAll();
}

TEST_F(AssocTest, SeqDictionaryDeleteAllReleasesOnceOnly)
{
    {
        KaSeqDictionary d;
        ASSERT_EQ(d.add(key("a"), value("1")), 0);
        ASSERT_EQ(d.add(key("b"), value("2")), 0);
        ASSERT_EQ(d.addIntPtr(3, new Attribute(3)), 0);
        d.deleteAll();
        EXPECT_EQ(g_keys, 2);
        EXPECT_EQ(g_values, 3);
        EXPECT_EQ(d.count, 0u);
    }
    EXPECT_EQ(g_keys, 2);
    EXPECT_EQ(g_values, 3);
}

TEST_F(AssocTest, SeqDictionaryDestructorReleasesWhatIsLeft)
{
    {
        KaSeqDictionary d;
        ASSERT_EQ(d.add(key("a"), value("1")), 0);
        ASSERT_EQ(d.addIntInt(1, 2), 0);
    }
    EXPECT_EQ(g_keys, 1);
    EXPECT_EQ(g_values, 1);
}

TEST_F(AssocTest, SeqDictionaryDeleteAtReleasesOneEntry)
{
    KaSeqDictionary d;
    ASSERT_EQ(d.add(key("a"), value("1")), 0);
    ASSERT_EQ(d.add(key("b"), value("2")), 0);
    d.deleteAt(0);
    EXPECT_EQ(g_keys, 1);
    EXPECT_EQ(g_values, 1);
    ASSERT_EQ(d.count, 1u);
    EXPECT_EQ(text(d.valueAt(0)), "2");
    d.deleteAll();
}

TEST_F(AssocTest, SeqDictionarySetValueReplacesAndReleases)
{
    KaSeqDictionary d;
    ASSERT_EQ(d.add(key("PWD"), value("old")), 0);
    d.setValue(KaSubString("PWD"), value("new"));
    EXPECT_EQ(g_values, 1);
    EXPECT_EQ(text(d.valueOf(KaSubString("PWD"))), "new");

    // An absent key changes nothing; the value stays the caller's.
    Value* stray = value("stray");
    d.setValue(KaSubString("UID"), stray);
    EXPECT_EQ(d.count, 1u);
    delete stray;
    d.deleteAll();
}

TEST_F(AssocTest, SeqDictionaryIntegerEntries)
{
    KaSeqDictionary d;
    ASSERT_EQ(d.addIntInt(10, 100), 0);
    ASSERT_EQ(d.addIntPtr(20, new Attribute(5)), 0);
    EXPECT_EQ(d.findInt(20), 1u);
    EXPECT_EQ(d.findInt(30), d.count);
    EXPECT_EQ(d.containsInt(10), 1);
    EXPECT_EQ(d.intValueOf(10), 100);
    d.setIntValue(10, 101);
    EXPECT_EQ(d.intValueAt(0), 101);
    EXPECT_EQ(d.intKeyAt(1), 20);
    EXPECT_EQ(static_cast<Attribute*>(d.valueOfInt(20))->value, 5);
    EXPECT_EQ(d.valueOfInt(10), nullptr);
    EXPECT_EQ(d.intValueOf(99), 0);
    d.deleteAll();
    EXPECT_EQ(g_values, 1);
}

TEST_F(AssocTest, SeqDictionaryFailedAddLeaksNothing)
{
    KaSeqDictionary d;
    d.growStep = SIZE_MAX / 16;  // the first growth cannot be had
    Key* k = key("a");
    Value* v = value("1");
    EXPECT_EQ(d.add(k, v), 1);
    EXPECT_EQ(list.outOfMemoryMark, 1);
    EXPECT_EQ(d.count, 0u);
    // The association is gone; the key and value are still the caller's.
    EXPECT_EQ(g_keys, 0);
    delete k;
    delete v;
    EXPECT_EQ(d.addIntInt(1, 1), 1);
}

TEST_F(AssocTest, SeqDictionaryWideKeys)
{
    KaSeqDictionaryW d;
    d.noCase = 1;
    ASSERT_EQ(d.add(keyW("uid"), new Attribute(1)), 0);
    ASSERT_EQ(d.add(keyW("PWD"), new Attribute(2)), 0);
    const uint16_t upper[] = {'U', 'I', 'D'};
    const uint16_t pwd[] = {'p', 'w', 'd'};
    EXPECT_EQ(d.find(KaSubStringW(upper, 3)), 0u);
    EXPECT_EQ(static_cast<Attribute*>(d.valueOf(KaSubStringW(pwd, 3)))->value, 2);
    d.noCase = 0;
    EXPECT_EQ(d.find(KaSubStringW(upper, 3)), d.count);
    EXPECT_EQ(d.keyAt(1)->len, 3u);

    d.noCase = 1;
    d.setValue(KaSubStringW(pwd, 3), new Attribute(3));
    EXPECT_EQ(g_values, 1);
    EXPECT_EQ(static_cast<Attribute*>(d.valueAt(1))->value, 3);
    d.deleteAll();
    EXPECT_EQ(g_values, 3);
}

// ---- hash set and dictionaries ---------------------------------------------

TEST_F(AssocTest, SetSizingAndHashIndex)
{
    KaDictionary d;
    EXPECT_EQ(d.tableSize, 0u);
    EXPECT_EQ(d.loadPercent, 75);
    EXPECT_EQ(d.growthPercent, 25);
    ASSERT_EQ(d.reserveEntries(12), 0);
    EXPECT_EQ(d.tableSize, 17u);
    EXPECT_GE(d.table.capacity, 17u);
    EXPECT_EQ(d.hashIndex(1), 9u);
    EXPECT_EQ(d.loadLimit(), 12u);
}

TEST_F(AssocTest, DictionaryFindsEveryKeyAcrossGrowth)
{
    KaDictionary d;
    ASSERT_EQ(d.reserveEntries(4), 0);
    char name[16];
    for (int i = 0; i < 200; ++i) {
        std::snprintf(name, sizeof name, "key%d", i);
        ASSERT_EQ(d.add(key(name), value(name)), 0) << i;
    }
    EXPECT_EQ(d.count, 200u);
    EXPECT_EQ(d.maxCount, 200u);
    EXPECT_LE(d.count, d.loadLimit());
    for (int i = 0; i < 200; ++i) {
        std::snprintf(name, sizeof name, "key%d", i);
        ASSERT_EQ(d.containsKey(KaSubString(name)), 1) << i;
        EXPECT_EQ(text(d.valueOf(KaSubString(name))), name);
    }
    EXPECT_EQ(d.containsKey(KaSubString("key200")), 0);
    EXPECT_EQ(d.valueOf(KaSubString("KEY1")), nullptr);
    d.flags |= KaDictionary::noCase;
    EXPECT_EQ(text(d.valueOf(KaSubString("KEY1"))), "key1");
}

TEST_F(AssocTest, DictionaryAddsToAnUnsizedSet)
{
    KaDictionary d;
    ASSERT_EQ(d.addIntInt(5, 50), 0);
    EXPECT_GT(d.tableSize, 0u);
    EXPECT_EQ(d.intValueOf(5), 50);
    EXPECT_EQ(d.containsInt(6), 0);
}

TEST_F(AssocTest, EmptyDictionaryAnswersLookups)
{
    KaDictionary d;
    EXPECT_EQ(d.containsKey(KaSubString("x")), 0);
    EXPECT_EQ(d.valueOfInt(1), nullptr);
    EXPECT_EQ(d.intValueOf(1), 0);
}

TEST_F(AssocTest, DictionaryReplacesAnEqualKeyAndReleasesIt)
{
    KaDictionary d;
    ASSERT_EQ(d.reserveEntries(8), 0);
    ASSERT_EQ(d.add(key("a"), value("1")), 0);
    ASSERT_EQ(d.add(key("a"), value("2")), 0);
    EXPECT_EQ(d.count, 1u);
    EXPECT_EQ(g_keys, 1);
    EXPECT_EQ(g_values, 1);
    EXPECT_EQ(text(d.valueOf(KaSubString("a"))), "2");
}

TEST_F(AssocTest, DictionaryIntegerKeysAndDeleteAll)
{
    {
        KaDictionary d;
        for (int64_t i = 0; i < 50; ++i)
            ASSERT_EQ(d.addIntPtr(i * 17, new Attribute(static_cast<int>(i))), 0);
        for (int64_t i = 0; i < 50; ++i)
            EXPECT_EQ(static_cast<Attribute*>(d.valueOfInt(i * 17))->value, i);
        EXPECT_EQ(d.containsInt(1), 0);
        d.deleteAll();
        EXPECT_EQ(g_values, 50);
        EXPECT_EQ(d.count, 0u);
    }
    EXPECT_EQ(g_values, 50);
}

TEST_F(AssocTest, DictionaryRehashKeepsEntriesWhenResizedWhileFull)
{
    KaDictionary d;
    ASSERT_EQ(d.reserveEntries(30), 0);
    for (int64_t i = 0; i < 20; ++i)
        ASSERT_EQ(d.addIntInt(i, i * 2), 0);
    ASSERT_EQ(d.reserveEntries(100), 0);  // moves the entries
    ASSERT_EQ(d.rehash(5), 0);            // never below what is held
    for (int64_t i = 0; i < 20; ++i)
        EXPECT_EQ(d.intValueOf(i), i * 2) << i;
    EXPECT_GT(d.loadLimit(), 19u);
}

TEST_F(AssocTest, WideDictionary)
{
    KaDictionaryW d;
    d.flags |= KaDictionaryW::noCase;
    ASSERT_EQ(d.add(keyW("Server"), new Attribute(1)), 0);
    ASSERT_EQ(d.add(keyW("Port"), new Attribute(2)), 0);
    const uint16_t server[] = {'S', 'E', 'R', 'V', 'E', 'R'};
    EXPECT_EQ(d.containsKey(KaSubStringW(server, 6)), 1);
    EXPECT_EQ(static_cast<Attribute*>(d.valueOf(KaSubStringW(server, 6)))->value, 1);
    ASSERT_EQ(d.addIntInt(9, 90), 0);
    EXPECT_EQ(d.intValueOf(9), 90);
}

TEST_F(AssocTest, SetResetForgetsTheTable)
{
    KaDictionary d;
    ASSERT_EQ(d.addIntInt(1, 1), 0);
    d.deleteAll();
    d.loadPercent = 50;
    ASSERT_EQ(d.reset(), 0);
    EXPECT_EQ(d.tableSize, 0u);
    EXPECT_EQ(d.table.items, nullptr);
    EXPECT_EQ(d.loadPercent, 75);
    ASSERT_EQ(d.addIntInt(2, 2), 0);
    EXPECT_EQ(d.intValueOf(2), 2);
}

}  // namespace
