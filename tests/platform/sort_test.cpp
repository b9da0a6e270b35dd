// The sort engine: records collected in its buffers or attached by the
// caller, keys of every kind, searching and groups, and the external path
// through run files, checked against sort(1). The quicksort itself is
// tested with the foundation's sort core.
#include "platform/sort.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"
#include "support/sortitem.h"

namespace {

// Reads in loop headers; a read that fails leaves a null record, which
// ends the loop.
void expectOk(int rc)
{
    EXPECT_EQ(0, rc);
}

// Sorts the values as pointers to objects, attached as the records.
std::vector<int> sortObjects(const std::vector<int>& values, int* rc)
{
    return katest::sortValuesAsObjects(values, rc, [](void** items, size_t n) {
        KaSort s(sizeof(void*));
        s.attachPointerArray(n, items);
        EXPECT_EQ(0, s.addKey(KA_SORT_KEY_OBJECT, 0, sizeof(void*)));
        return s.finishInput();
    });
}

class SortTest : public ::testing::Test {
protected:
    katest::ErrorScope errors;
    std::string dir;

    void SetUp() override
    {
        char tmpl[] = "/tmp/kasorttestXXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir = tmpl;
        setenv("KA_TMPDIR", dir.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("KA_TMPDIR");
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(0, std::system(cmd.c_str()));
    }

    // Names in the temporary directory other than the fixture's own files.
    size_t filesInDir()
    {
        std::string cmd = "ls -A '" + dir + "' | grep -v '^expected' | wc -l";
        FILE* p = popen(cmd.c_str(), "r");
        size_t n = 0;
        EXPECT_EQ(1, fscanf(p, "%zu", &n));
        pclose(p);
        return n;
    }

    // The keys sorted by sort(1) in the C locale, one per line.
    std::vector<std::string> sortedBySortCommand(const std::vector<std::string>& keys, const char* options)
    {
        std::string in = dir + "/expected.in";
        std::string out = dir + "/expected.out";
        {
            std::ofstream f(in);
            for (const auto& k : keys)
                f << k << '\n';
        }
        std::string cmd = std::string("LC_ALL=C sort ") + options + " '" + in + "' > '" + out + "'";
        EXPECT_EQ(0, std::system(cmd.c_str()));
        std::vector<std::string> result;
        std::ifstream f(out);
        for (std::string line; std::getline(f, line);)
            result.push_back(line);
        return result;
    }
};

TEST_F(SortTest, ZeroAndOneRecordSortToNothing)
{
    int rc = 1;
    EXPECT_TRUE(sortObjects({}, &rc).empty());
    EXPECT_EQ(0, rc);
    EXPECT_EQ(std::vector<int>{7}, sortObjects({7}, &rc));
    EXPECT_EQ(0, rc);

    KaSort s(8);
    ASSERT_EQ(0, s.addKey(0, 0, 8));
    void* rec = reinterpret_cast<void*>(1);
    EXPECT_EQ(0, s.first(&rec));
    EXPECT_EQ(nullptr, rec);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(SortTest, AttachedPointerArraySortsInPlace)
{
    std::mt19937 rng(42);
    std::vector<int> values(1000);
    for (auto& x : values)
        x = static_cast<int>(rng() % 500);
    int rc = 1;
    std::vector<int> got = sortObjects(values, &rc);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(0, rc);
    EXPECT_EQ(values, got);
    EXPECT_EQ(0u, errors.size());
}

// Orders 8-byte records by the value table the context points to.
int16_t byTable(void* context, const void* a, const void* b)
{
    const auto* table = static_cast<const std::vector<int>*>(context);
    uint64_t x, y;
    memcpy(&x, a, sizeof x);
    memcpy(&y, b, sizeof y);
    int d = (*table)[x] - (*table)[y];
    return static_cast<int16_t>((d > 0) - (d < 0));
}

TEST_F(SortTest, CallbackKeyOrdersThroughItsContext)
{
    std::vector<int> table = {40, 10, 30, 20, 50};
    KaSort s(8);
    ASSERT_EQ(0, s.addKey(KA_SORT_KEY_CALLBACK | KA_SORT_KEY_DESCENDING, 0, 8));
    EXPECT_EQ(1, s.setKeyCallback(1, byTable, &table));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_SORT_KEY_INVALID, errors.native(0));
    ASSERT_EQ(0, s.setKeyCallback(0, byTable, &table));
    for (uint64_t i = 0; i < table.size(); ++i)
        ASSERT_EQ(0, s.addRecord(&i));
    std::vector<int> got;
    void* rec;
    for (expectOk(s.first(&rec)); rec; expectOk(s.next(&rec))) {
        uint64_t idx;
        memcpy(&idx, rec, sizeof idx);
        got.push_back(table[idx]);
    }
    EXPECT_EQ((std::vector<int>{50, 40, 30, 20, 10}), got);
}

struct Pair {
    char name[4];
    uint32_t number;  // big-endian, so that byte order is numeric order
};

uint32_t be32(uint32_t v)
{
    return __builtin_bswap32(v);
}

TEST_F(SortTest, DescendingKeyReversesOnlyItsOwnOrder)
{
    KaSort s(sizeof(Pair));
    ASSERT_EQ(0, s.addKey(KA_SORT_KEY_DESCENDING, 0, 4));
    ASSERT_EQ(0, s.addKey(0, 4, 4));
    const Pair input[] = {{"aa", be32(2)}, {"bb", be32(9)}, {"aa", be32(1)}, {"cc", be32(5)}, {"bb", be32(3)}};
    for (const Pair& p : input)
        ASSERT_EQ(0, s.addRecord(&p));
    std::vector<std::pair<std::string, uint32_t>> got;
    void* rec;
    for (expectOk(s.first(&rec)); rec; expectOk(s.next(&rec))) {
        auto* p = static_cast<Pair*>(rec);
        got.emplace_back(p->name, be32(p->number));
    }
    std::vector<std::pair<std::string, uint32_t>> want = {{"cc", 5}, {"bb", 3}, {"bb", 9}, {"aa", 1}, {"aa", 2}};
    EXPECT_EQ(want, got);
}

TEST_F(SortTest, CollatedKeyComparesTheCountedText)
{
    struct Rec {
        char text[8];
    };
    KaSort s(sizeof(Rec));
    ASSERT_EQ(0, s.addKey(KA_SORT_KEY_COLLATE, 0, 8));
    const char* words[] = {"pear", "apple", "fig", "apples", "banana"};
    for (const char* w : words) {
        Rec r = {};
        strncpy(r.text, w, sizeof r.text);
        ASSERT_EQ(0, s.addRecord(&r));
    }
    std::vector<std::string> got;
    void* rec;
    for (expectOk(s.first(&rec)); rec; expectOk(s.next(&rec)))
        got.emplace_back(static_cast<Rec*>(rec)->text, strnlen(static_cast<Rec*>(rec)->text, 8));
    EXPECT_EQ((std::vector<std::string>{"apple", "apples", "banana", "fig", "pear"}), got);
}

TEST_F(SortTest, SixtyFifthKeyIsRefused)
{
    KaSort s(8);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(0, s.addKey(0, 0, 8));
    EXPECT_EQ(1, s.addKey(0, 0, 8));
    EXPECT_EQ(64u, s.keyCount);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_SORT_KEY_INVALID, errors.native(0));
}

TEST_F(SortTest, KeyOutsideTheRecordIsRefused)
{
    KaSort s(8);
    EXPECT_EQ(1, s.addKey(0, 4, 8));
    EXPECT_EQ(1, s.addKey(KA_SORT_KEY_OBJECT, 0, 4));
    EXPECT_EQ(0u, s.keyCount);
    EXPECT_EQ(2u, errors.size());
}

// Records: a one-byte group and a one-byte member.
KaSort* smallSort(const std::vector<std::pair<char, char>>& recs, int keys)
{
    auto* s = new KaSort(2);
    for (int k = 0; k < keys; ++k)
        EXPECT_EQ(0, s->addKey(0, static_cast<uint64_t>(k), 1));
    for (auto [g, m] : recs) {
        char r[2] = {g, m};
        EXPECT_EQ(0, s->addRecord(r));
    }
    return s;
}

TEST_F(SortTest, FindGivesTheFirstOfEqualKeysOrTheInsertionPoint)
{
    KaSort* s = smallSort({{'b', 0}, {'d', 0}, {'b', 0}, {'a', 0}, {'b', 0}, {'e', 0}}, 1);
    char key[2] = {'b', 0};
    void* rec;
    ASSERT_EQ(0, s->find(key, &rec));
    ASSERT_NE(nullptr, rec);
    EXPECT_EQ('b', static_cast<char*>(rec)[0]);
    EXPECT_EQ(2u, s->readCursor);  // the first 'b' is record 1; the second is next
    ASSERT_EQ(0, s->next(&rec));
    EXPECT_EQ('b', static_cast<char*>(rec)[0]);

    key[0] = 'c';
    ASSERT_EQ(0, s->find(key, &rec));
    EXPECT_EQ(nullptr, rec);
    EXPECT_EQ(4u, s->readCursor);  // 'd' is the first greater record
    ASSERT_EQ(0, s->next(&rec));
    EXPECT_EQ('d', static_cast<char*>(rec)[0]);
    delete s;
}

TEST_F(SortTest, NextWithLevelCountsSharedLeadingKeys)
{
    KaSort* s = smallSort({{'b', '1'}, {'a', '2'}, {'a', '1'}}, 2);
    std::vector<uint64_t> levels;
    void* rec;
    uint64_t level = 99;
    for (expectOk(s->nextWithLevel(&rec, &level)); rec; expectOk(s->nextWithLevel(&rec, &level)))
        levels.push_back(level);
    EXPECT_EQ((std::vector<uint64_t>{0, 1, 0}), levels);
    EXPECT_EQ(0u, level);
    delete s;
}

// Sorts by the group byte, then re-sorts each group by the member byte.
std::vector<std::string> groupSorted(KaSort* s)
{
    std::vector<std::string> out;
    EXPECT_EQ(0, s->finishInput());
    EXPECT_EQ(0, s->addKey(KA_SORT_KEY_DESCENDING, 1, 1));
    void* rec;
    EXPECT_EQ(0, s->first(&rec));
    while (rec) {
        char group = static_cast<char*>(rec)[0];
        s->markGroupStart();
        do {
            EXPECT_EQ(0, s->next(&rec));
        } while (rec && static_cast<char*>(rec)[0] == group);
        s->markGroupEnd();
        EXPECT_EQ(0, s->sortGroup(1, 0));
        void* member;
        EXPECT_EQ(0, s->groupFirst(&member));
        while (member) {
            out.push_back(std::string(static_cast<char*>(member), 2));
            EXPECT_EQ(0, s->groupNext(&member));
        }
        if (rec == nullptr)
            break;
        // Back to the record after the group: the first of the next group.
        EXPECT_EQ(0, s->next(&rec));
    }
    return out;
}

TEST_F(SortTest, GroupsAreReSortedByTheLaterKeys)
{
    KaSort* s = smallSort({{'b', '1'}, {'a', '1'}, {'b', '3'}, {'a', '2'}, {'c', '5'}, {'b', '2'}}, 1);
    EXPECT_EQ((std::vector<std::string>{"a2", "a1", "b3", "b2", "b1", "c5"}), groupSorted(s));
    EXPECT_EQ(0u, errors.size());
    delete s;
}

TEST_F(SortTest, ResortOrdersByTheKeysNowInPlace)
{
    KaSort* s = smallSort({{'b', '1'}, {'a', '3'}, {'c', '2'}}, 1);
    void* rec;
    ASSERT_EQ(0, s->first(&rec));
    EXPECT_EQ('a', static_cast<char*>(rec)[0]);
    // Now by the member byte first.
    s->keys[0].offset = 1;
    ASSERT_EQ(0, s->resort());
    std::string order;
    for (expectOk(s->first(&rec)); rec; expectOk(s->next(&rec)))
        order += static_cast<char*>(rec)[1];
    EXPECT_EQ("123", order);
    delete s;
}

// --- Through run files ----------------------------------------------------

struct Big {
    char key[16];
    uint64_t serial;
};

std::string randomKey(std::mt19937& rng)
{
    std::string k(16, 'a');
    for (char& c : k)
        c = static_cast<char>('a' + rng() % 26);
    return k;
}

TEST_F(SortTest, FullBuffersSpillARunAndReadingMergesTwoRuns)
{
    // 16-byte records: 64 buffers hold 262,144; one more spills a run.
    KaSort s(16);
    ASSERT_EQ(0, s.addKey(0, 0, 8));
    std::mt19937_64 rng(7);
    std::vector<uint64_t> keys;
    for (int i = 0; i < 262145; ++i) {
        uint64_t v = rng();
        keys.push_back(v);
        uint64_t rec[2] = {__builtin_bswap64(v), static_cast<uint64_t>(i)};
        ASSERT_EQ(0, s.addRecord(rec));
        if (i == 262143) {
            EXPECT_EQ(0, s.flags & KA_SORT_SPILLED);
        }
    }
    EXPECT_NE(0, s.flags & KA_SORT_SPILLED);
    EXPECT_EQ(1u, s.runCount);
    ASSERT_EQ(0, s.finishInput());
    EXPECT_EQ(2u, s.runCount);
    std::sort(keys.begin(), keys.end());
    void* rec;
    size_t i = 0;
    for (expectOk(s.first(&rec)); rec; expectOk(s.next(&rec))) {
        uint64_t v;
        memcpy(&v, rec, 8);
        ASSERT_LT(i, keys.size());
        ASSERT_EQ(keys[i], __builtin_bswap64(v)) << "record " << i;
        ++i;
    }
    EXPECT_EQ(keys.size(), i);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(SortTest, ExternalSortMatchesSortCommandAndCleansUp)
{
    std::mt19937 rng(11);
    std::vector<std::string> keys;
    std::string runFile;
    {
        KaSort s(sizeof(Big));
        ASSERT_EQ(0, s.addKey(KA_SORT_KEY_COLLATE, 0, 16));
        // About five times what the 64 buffers hold.
        for (uint64_t i = 0; i < 800000; ++i) {
            std::string k = randomKey(rng);
            keys.push_back(k);
            Big b;
            memcpy(b.key, k.data(), 16);
            b.serial = i;
            ASSERT_EQ(0, s.addRecord(&b));
        }
        ASSERT_EQ(0, s.finishInput());
        EXPECT_GE(s.runCount, 5u);
        runFile = s.path;
        ASSERT_EQ(0u, runFile.rfind(dir + "/ka", 0)) << runFile;
        struct stat st;
        ASSERT_EQ(0, stat(runFile.c_str(), &st));
        EXPECT_EQ(0600u, st.st_mode & 0777);

        std::vector<std::string> want = sortedBySortCommand(keys, "");
        std::vector<bool> seen(keys.size());
        void* rec;
        size_t i = 0;
        for (expectOk(s.first(&rec)); rec; expectOk(s.next(&rec))) {
            auto* b = static_cast<Big*>(rec);
            ASSERT_LT(i, want.size());
            ASSERT_EQ(want[i], std::string(b->key, 16)) << "record " << i;
            ASSERT_FALSE(seen[b->serial]);
            seen[b->serial] = true;
            ++i;
        }
        EXPECT_EQ(want.size(), i);
    }
    struct stat st;
    EXPECT_NE(0, stat(runFile.c_str(), &st));
    EXPECT_EQ(0u, filesInDir());
    EXPECT_EQ(0u, errors.size());
}

TEST_F(SortTest, DescendingExternalSortMatchesReverseSortCommand)
{
    std::mt19937 rng(5);
    std::vector<std::string> keys;
    // 4000-byte records: 16 per buffer, 1,024 per run.
    struct Wide {
        char key[16];
        char fill[3984];
    };
    KaSort s(sizeof(Wide));
    ASSERT_EQ(0, s.addKey(KA_SORT_KEY_DESCENDING, 0, 16));
    Wide w;
    memset(&w, 'x', sizeof w);
    for (int i = 0; i < 5000; ++i) {
        std::string k = randomKey(rng);
        keys.push_back(k);
        memcpy(w.key, k.data(), 16);
        ASSERT_EQ(0, s.addRecord(&w));
    }
    std::vector<std::string> want = sortedBySortCommand(keys, "-r");
    void* rec;
    size_t i = 0;
    for (expectOk(s.first(&rec)); rec; expectOk(s.next(&rec))) {
        ASSERT_LT(i, want.size());
        ASSERT_EQ(want[i], std::string(static_cast<Wide*>(rec)->key, 16)) << "record " << i;
        ASSERT_EQ('x', static_cast<Wide*>(rec)->fill[3983]);
        ++i;
    }
    EXPECT_EQ(want.size(), i);
    EXPECT_GE(s.runCount, 5u);
    // Reading again restarts the merge.
    ASSERT_EQ(0, s.first(&rec));
    EXPECT_EQ(want[0], std::string(static_cast<Wide*>(rec)->key, 16));
    EXPECT_EQ(0u, errors.size());
}

// Spilled sorts of 2-byte records padded to 4,000 bytes, for find, groups
// and re-sorting across runs.
struct Padded {
    char group;
    char member;
    char fill[3998];
};

KaSort* spilledSort(std::vector<Padded>& recs, int keys)
{
    auto* s = new KaSort(sizeof(Padded));
    for (int k = 0; k < keys; ++k)
        EXPECT_EQ(0, s->addKey(0, static_cast<uint64_t>(k), 1));
    for (Padded& p : recs)
        EXPECT_EQ(0, s->addRecord(&p));
    EXPECT_EQ(0, s->finishInput());
    EXPECT_NE(0, s->flags & KA_SORT_SPILLED);
    return s;
}

std::vector<Padded> paddedRecords(size_t n, std::mt19937& rng, int groups)
{
    std::vector<Padded> v(n);
    for (Padded& p : v) {
        memset(&p, 0, sizeof p);
        p.group = static_cast<char>('A' + rng() % groups);
        p.member = static_cast<char>('a' + rng() % 26);
    }
    return v;
}

TEST_F(SortTest, SpilledFindPositionsEveryRun)
{
    std::mt19937 rng(3);
    std::vector<Padded> recs = paddedRecords(4000, rng, 20);
    // Take one group out, so that a search misses.
    for (Padded& p : recs)
        if (p.group == 'H')
            p.group = 'G';
    KaSort* s = spilledSort(recs, 1);
    ASSERT_GE(s->runCount, 3u);
    std::vector<char> groups;
    for (const Padded& p : recs)
        groups.push_back(p.group);
    std::sort(groups.begin(), groups.end());

    Padded key = {};
    key.group = 'E';
    void* rec;
    ASSERT_EQ(0, s->find(&key, &rec));
    ASSERT_NE(nullptr, rec);
    EXPECT_EQ('E', static_cast<Padded*>(rec)->group);
    size_t firstE = std::lower_bound(groups.begin(), groups.end(), 'E') - groups.begin();
    EXPECT_EQ(firstE + 1, s->readCursor);
    size_t i = firstE + 1;
    for (expectOk(s->next(&rec)); rec; expectOk(s->next(&rec)))
        ASSERT_EQ(groups[i++], static_cast<Padded*>(rec)->group);
    EXPECT_EQ(groups.size(), i);

    key.group = 'H';
    ASSERT_EQ(0, s->find(&key, &rec));
    EXPECT_EQ(nullptr, rec);
    size_t firstI = std::lower_bound(groups.begin(), groups.end(), 'I') - groups.begin();
    EXPECT_EQ(firstI, s->readCursor);
    ASSERT_EQ(0, s->next(&rec));
    ASSERT_NE(nullptr, rec);
    EXPECT_EQ('I', static_cast<Padded*>(rec)->group);
    EXPECT_EQ(0u, errors.size());
    delete s;
}

// Reads every group and sorts it by the member byte descending.
std::vector<std::string> readGroupsSorted(KaSort* s)
{
    std::vector<std::string> got;
    void* rec;
    EXPECT_EQ(0, s->addKey(KA_SORT_KEY_DESCENDING, 1, 1));
    EXPECT_EQ(0, s->first(&rec));
    while (rec) {
        char group = static_cast<Padded*>(rec)->group;
        s->markGroupStart();
        do {
            EXPECT_EQ(0, s->next(&rec));
        } while (rec && static_cast<Padded*>(rec)->group == group);
        s->markGroupEnd();
        EXPECT_EQ(0, s->sortGroup(1, 0));
        void* member;
        for (expectOk(s->groupFirst(&member)); member; expectOk(s->groupNext(&member)))
            got.push_back(std::string{static_cast<Padded*>(member)->group, static_cast<Padded*>(member)->member});
        if (rec == nullptr)
            break;
        EXPECT_EQ(0, s->next(&rec));
    }
    return got;
}

TEST_F(SortTest, SpilledGroupsAreReSortedByTheLaterKeys)
{
    // Three groups spanning several runs each; then one group filling every
    // run, which is larger than the slots left beside the merge block.
    for (int groups : {3, 1}) {
        std::mt19937 rng(9);
        std::vector<Padded> recs = paddedRecords(3000, rng, groups);
        KaSort* s = spilledSort(recs, 1);
        ASSERT_GE(s->runCount, 2u);
        std::vector<std::string> want;
        for (const Padded& p : recs)
            want.push_back(std::string{p.group, p.member});
        std::sort(want.begin(), want.end(),
                  [](const std::string& a, const std::string& b) { return a[0] != b[0] ? a[0] < b[0] : a[1] > b[1]; });
        EXPECT_EQ(want, readGroupsSorted(s)) << groups << " groups";
        EXPECT_EQ(0u, errors.size());
        delete s;
    }
}

TEST_F(SortTest, SpilledResortRewritesEveryRun)
{
    std::mt19937 rng(21);
    std::vector<Padded> recs = paddedRecords(3000, rng, 26);
    KaSort* s = spilledSort(recs, 1);
    s->keys[0].offset = 1;  // now by member
    ASSERT_EQ(0, s->resort());
    std::vector<char> want;
    for (const Padded& p : recs)
        want.push_back(p.member);
    std::sort(want.begin(), want.end());
    std::vector<char> got;
    void* rec;
    for (expectOk(s->first(&rec)); rec; expectOk(s->next(&rec)))
        got.push_back(static_cast<Padded*>(rec)->member);
    EXPECT_EQ(want, got);
    EXPECT_EQ(0u, errors.size());
    delete s;
}

TEST_F(SortTest, AddingAfterReadingStartedIsRefused)
{
    KaSort* s = smallSort({{'a', 0}}, 1);
    void* rec;
    ASSERT_EQ(0, s->first(&rec));
    char r[2] = {'b', 0};
    EXPECT_EQ(1, s->addRecord(r));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_SORT_LIMIT_EXCEEDED, errors.native(0));
    delete s;
}

}  // namespace
