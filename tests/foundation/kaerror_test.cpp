#include "foundation/kaerror.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/errorscope.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"

using katest::ErrorScope;
using katest::W;

extern "C" const char* __asan_default_options()
{
    // Lets the allocator report exhaustion instead of aborting, so that the
    // out-of-memory paths can run.
    return "allocator_may_return_null=1";
}

extern "C" const char* __tsan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

KaError* post(KaErrorList& list, const char* state, int64_t row = -1, int64_t column = -1, uint16_t native = 1,
              int warning = 0)
{
    KaError* rec = list.newRecordW(native, W(u"text"), warning, 0, 0);
    rec->setSqlstate(state);
    rec->setRowColumn(row, column);
    EXPECT_EQ(list.add(rec), 0);
    return rec;
}

std::vector<std::string> states(KaErrorList& list)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < list.count; ++i)
        out.push_back(katest::sqlstate(list.recordAt(i)));
    return out;
}

}  // namespace

TEST(KaErrorOrder, SpecialStatesThenStandardClassesThenIm)
{
    KaErrorList list;
    for (const char* s : {"42000", "08S01", "01004", "01S01", "IM001"})
        post(list, s);
    ASSERT_EQ(list.sort(), 0);
    EXPECT_EQ(states(list), (std::vector<std::string>{"08S01", "01S01", "42000", "IM001", "01004"}));
}

TEST(KaErrorOrder, RowsThenColumnsDecideWithinAClass)
{
    KaErrorList list;
    post(list, "42000", 3, 1, 1);
    post(list, "42000", 1, 2, 2);
    post(list, "42000", 1, 1, 3);
    post(list, "42000", -1, -1, 4);
    ASSERT_EQ(list.sort(), 0);
    std::vector<uint16_t> natives;
    for (size_t i = 0; i < list.count; ++i)
        natives.push_back(list.recordAt(i)->nativeCode);
    EXPECT_EQ(natives, (std::vector<uint16_t>{4, 3, 2, 1}));
}

TEST(KaErrorOrder, DifferentStandardStatesAreOrderedByRowNotAlphabet)
{
    KaErrorList list;
    post(list, "22001", 2);
    post(list, "42S02", 1);
    ASSERT_EQ(list.sort(), 0);
    EXPECT_EQ(states(list), (std::vector<std::string>{"42S02", "22001"}));
}

TEST(KaErrorOrder, EffectiveStateWithoutTextOrIndex)
{
    KaError plain(1, W(u"x"), 0, 0, 0);
    EXPECT_EQ(katest::sqlstate(&plain), "HY000");
    EXPECT_EQ(katest::sqlstate(KaErrorOutOfMemoryRecord()), "HY001");
    KaError hy000(2, W(u"y"), 0, 0, 0);
    hy000.setSqlstate("HY000");
    EXPECT_EQ(plain.compare(hy000), 0);
}

TEST(KaErrorOrder, SortKeepsPostingOrderOfEqualRecords)
{
    // The order of every pair must agree with the comparison, and records
    // that compare equal must stay in the order they were posted.
    const char* pool[] = {"42000", "08S01", "01004", "01S01", "IM001", "HY000", "22003", "02000"};
    std::mt19937 gen(5);
    KaErrorList list;
    std::vector<KaError*> posted;
    for (uint16_t i = 0; i < 300; ++i) {
        KaError* rec = post(list, pool[gen() % 8], int64_t(gen() % 4) - 1, -1, i);
        posted.push_back(rec);
    }
    std::vector<KaError*> expected = posted;
    std::stable_sort(expected.begin(), expected.end(), [](KaError* a, KaError* b) { return a->compare(*b) < 0; });
    ASSERT_EQ(list.sort(), 0);
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(list.recordAt(i), expected[i]) << i;
}

TEST(KaErrorList, CountsAndState)
{
    KaErrorList list;
    EXPECT_EQ(list.state(), 0);
    KaError* w = post(list, "01004", -1, -1, 1, 1);
    EXPECT_EQ(list.state(), 3);
    EXPECT_TRUE(list.hasOnlyWarnings());
    KaError* e = post(list, "42000");
    EXPECT_EQ(list.state(), 1);
    w->clearWarning();
    w->clearWarning();
    EXPECT_EQ(list.errorCount, 2);
    EXPECT_EQ(list.warningCount, 0);
    EXPECT_EQ(list.state(), 2);
    e->setWarning();
    w->setWarning();
    EXPECT_EQ(list.errorCount, 0);
    EXPECT_EQ(list.warningCount, 2);
    EXPECT_FALSE(list.hasErrors());
}

TEST(KaErrorList, OutOfMemoryMarkStandsForOneRecord)
{
    KaErrorList list;
    list.setOutOfMemoryMark();
    list.setOutOfMemoryMark();
    EXPECT_TRUE(list.hasErrors());
    EXPECT_EQ(list.errorCount, 1);
    EXPECT_EQ(list.state(), 0);
    KaError* last = list.last();
    ASSERT_EQ(last, KaErrorOutOfMemoryRecord());
    EXPECT_EQ(last->nativeCode, KA_OUT_OF_MEMORY_NATIVE);
    EXPECT_EQ(katest::u16(last->messageW()), u"Out Of Memory");
    EXPECT_STREQ(last->messageA(), "Out Of Memory");
    EXPECT_EQ(list.removeLast(), KaErrorOutOfMemoryRecord());
    EXPECT_EQ(list.outOfMemoryMark, 0);
    EXPECT_FALSE(list.hasErrors());
    EXPECT_EQ(list.removeLast(), nullptr);
}

TEST(KaErrorList, StaticRecordsNeverChange)
{
    KaError* sink = KaErrorParamSink();
    KaError* oom = KaErrorOutOfMemoryRecord();
    for (KaError* rec : {sink, oom}) {
        EXPECT_EQ(rec->addParamW(W(u"x"))->addParamUnsigned(5)->addParamText("y"), rec);
        rec->setSqlstate("42000");
        rec->setSqlstateMsg(MSG_SQLSTATE_INVALID_CONNECTION_ATTRIBUTE);
        rec->setWarning();
        rec->appendTextW(W(u"more"));
        rec->setRowColumn(4, 4);
        EXPECT_EQ(rec->sqlstateWide[0], 0);
        EXPECT_EQ(rec->sqlstateMsg, 0);
        EXPECT_FALSE(rec->isWarning());
        EXPECT_EQ(rec->row, -1);
    }
    EXPECT_EQ(sink->message.data, nullptr);
    EXPECT_EQ(sink->message.paramCount, 0);
    EXPECT_EQ(katest::sqlstate(oom), "HY001");
    KaErrorList list;
    EXPECT_EQ(list.add(sink), 1);
    EXPECT_EQ(list.count, 0u);
}

TEST(KaErrorList, IterationAndRemoval)
{
    KaErrorList list;
    for (uint16_t i = 1; i <= 3; ++i)
        post(list, "42000", -1, -1, i);
    EXPECT_EQ(list.first()->nativeCode, 1);
    EXPECT_EQ(list.next()->nativeCode, 2);
    EXPECT_EQ(list.next()->nativeCode, 3);
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(list.at(1)->nativeCode, 2);
    EXPECT_EQ(list.next()->nativeCode, 3);

    KaError* removed = list.removeAt(1);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->ownerList, nullptr);
    EXPECT_EQ(list.errorCount, 2);
    EXPECT_EQ(list.cursor, 0);
    delete removed;
    list.moveLastTo(0);
    EXPECT_EQ(list.recordAt(0)->nativeCode, 3);
    list.discardLast();
    EXPECT_EQ(list.count, 1u);
    EXPECT_EQ(list.removeAt(5), nullptr);
}

TEST(KaErrorList, MarkWarningsFromKeepsTheIndexedRecord)
{
    KaErrorList list;
    for (uint16_t i = 0; i < 4; ++i)
        post(list, "42000", -1, -1, i);
    list.markWarningsFrom(0);
    EXPECT_FALSE(list.recordAt(0)->isWarning());
    for (size_t i = 1; i < 4; ++i)
        EXPECT_TRUE(list.recordAt(i)->isWarning());
    EXPECT_EQ(list.errorCount, 1);
    EXPECT_EQ(list.warningCount, 3);
}

TEST(KaErrorList, DemoteAllTurnsTheMarkIntoAWarning)
{
    KaErrorList list;
    post(list, "42000");
    list.setOutOfMemoryMark();
    list.demoteAll();
    EXPECT_EQ(list.outOfMemoryMark, 0);
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(list.recordAt(1)->nativeCode, 2);
    EXPECT_EQ(katest::u16(list.recordAt(1)->messageW()), u"Out Of Memory");
    EXPECT_EQ(list.errorCount, 0);
    EXPECT_EQ(list.warningCount, 2);
    EXPECT_TRUE(list.hasOnlyWarnings());
}

TEST(KaErrorList, CopyAndMoveKeepEverythingThatOrdersRecords)
{
    KaErrorList from;
    KaError* a = post(from, "22003", 4, 2, 7);
    a->userData = 99;
    a->setSqlstateMsg(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    post(from, "01004", -1, -1, 8, 1);
    from.setOutOfMemoryMark();

    KaErrorList copy;
    ASSERT_EQ(copy.copyFrom(from), 0);
    ASSERT_EQ(copy.count, 2u);
    KaError* c = copy.recordAt(0);
    EXPECT_NE(c, a);
    EXPECT_EQ(c->nativeCode, 7);
    EXPECT_EQ(c->userData, 99u);
    EXPECT_EQ(c->sqlstateMsg, 34);
    EXPECT_EQ(katest::sqlstate(c), "22003");
    EXPECT_EQ(c->row, 4);
    EXPECT_EQ(c->column, 2);
    EXPECT_TRUE(copy.recordAt(1)->isWarning());
    EXPECT_EQ(copy.outOfMemoryMark, 1);
    EXPECT_EQ(copy.errorCount, 2);
    EXPECT_EQ(copy.warningCount, 1);

    KaErrorList moved;
    ASSERT_EQ(moved.moveAllFrom(from), 0);
    EXPECT_EQ(from.count, 0u);
    ASSERT_EQ(moved.count, 2u);
    EXPECT_EQ(moved.recordAt(0), a);
    EXPECT_EQ(a->ownerList, &moved);
    EXPECT_EQ(moved.errorCount, 2);  // one record and the mark
}

TEST(KaErrorList, JoinAndAppendText)
{
    KaErrorList list;
    ASSERT_EQ(list.add(list.newRecordW(1, W(u"one"), 0, 0, 0)), 0);
    ASSERT_EQ(list.add(list.newRecord(2, "two", 3, 0, 0, 0)), 0);
    ASSERT_EQ(list.add(list.newRecordW(3, W(u"three"), 0, 0, 0)), 0);
    list.appendTextFrom("!", 1);
    KaString joined;
    ASSERT_EQ(list.joinMessages(joined, '|'), 0);
    EXPECT_EQ(std::string(joined.data, joined.len), "one|two!|three!");
}

TEST(KaError, NarrowParametersInTheRecordsEncoding)
{
    ErrorScope scope;
    KaError* rec = KaErrorPostNew(5, 0, "n=%s1 m=%s2", 0, 3);
    ASSERT_EQ(scope.size(), 1u);
    rec->addParamText("caf\xC3\xA9");
    KaSubString sub("abcdef", 3, KA_TEXT_UTF8);
    rec->addParamSubString(sub);
    EXPECT_EQ(katest::u16(rec->messageW()), u"n=caf\u00e9 m=abc");
    EXPECT_STREQ(rec->messageA(), "n=caf\xC3\xA9 m=abc");
}

TEST(KaError, ParameterThatIsNotUtf8LeavesNoConversionDiagnostic)
{
    ErrorScope scope;
    KaError* rec = KaErrorPostNew(5, 0, "v=%s1.", 0, 3);
    KaError* next = rec->addParamText("\xFF\xFEok");
    EXPECT_EQ(next, rec);
    ASSERT_EQ(scope.size(), 1u);
    std::u16string text = katest::u16(rec->messageW());
    EXPECT_EQ(text.find(u"%s1"), std::u16string::npos) << katest::narrow(text);
    EXPECT_EQ(text.substr(0, 2), u"v=");
}

TEST(KaErrorThread, PostingWithoutCurrentListGoesNowhere)
{
    ASSERT_EQ(KaErrorCurrentList(), nullptr);
    KaError* sink = errPost(MSG_INVALID_HEX_DIGIT);
    EXPECT_EQ(sink, KaErrorParamSink());
    EXPECT_EQ(sink->addParamW(W(u"x")), sink);
    EXPECT_EQ(KaErrorPostNewW(1, 0, W(u"t"), 0), KaErrorParamSink());
    EXPECT_EQ(KaErrorGetLast(), nullptr);
    EXPECT_EQ(KaErrorGetLastNative(), 0);
    EXPECT_EQ(KaErrorAppendTextW(W(u"x")), KaErrorParamSink());
    EXPECT_EQ(KaErrorPopList(), nullptr);
}

TEST(KaErrorThread, ListsNestAndRestore)
{
    KaErrorList outer(reinterpret_cast<void*>(0x10));
    KaErrorList inner(reinterpret_cast<void*>(0x20));
    KaErrorPushList(&outer);
    KaErrorPushList(&inner);
    EXPECT_EQ(KaErrorCurrentList(), &inner);
    EXPECT_EQ(inner.previousList, &outer);
    EXPECT_EQ(KaErrorGetListOwner(), reinterpret_cast<void*>(0x20));
    errPostText(11, W(u"inner"));
    EXPECT_EQ(KaErrorPopList(), &inner);
    EXPECT_EQ(inner.previousList, nullptr);
    errPostText(12, W(u"outer"));
    EXPECT_EQ(KaErrorPopList(), &outer);
    EXPECT_EQ(KaErrorCurrentList(), nullptr);
    ASSERT_EQ(inner.count, 1u);
    ASSERT_EQ(outer.count, 1u);
    EXPECT_EQ(inner.recordAt(0)->nativeCode, 11);
    EXPECT_EQ(outer.recordAt(0)->nativeCode, 12);
}

TEST(KaErrorThread, LastRecordOperations)
{
    ErrorScope scope;
    KaErrorPostNewW(21, 77, W(u"first %s1"), 0)->addParamW(W(u"A"));
    EXPECT_EQ(KaErrorGetLastNative(), 21);
    EXPECT_EQ(KaErrorGetLastUserData(), 77u);
    KaErrorSetLastWarning(1);
    EXPECT_TRUE(scope.at(0)->isWarning());
    KaErrorSetLastWarning(0);
    EXPECT_FALSE(scope.at(0)->isWarning());

    // Appended text takes the next parameters, numbering from 1 again.
    KaErrorAppendText(" then %s1")->addParamW(W(u"B"));
    EXPECT_EQ(scope.text(0), "first A then B");

    errPostTextA(22, "narrow");
    EXPECT_EQ(scope.text(1), "narrow");
    KaErrorDiscardLast();
    EXPECT_EQ(scope.size(), 1u);
    EXPECT_EQ(KaErrorPost(nullptr), KaErrorParamSink());
}

TEST(KaErrorThread, ExhaustedAllocatorLeavesTheMark)
{
    ErrorScope scope;
    EXPECT_EQ(ramAllocInt(-1), nullptr);
    EXPECT_EQ(scope.list.outOfMemoryMark, 1);
    EXPECT_TRUE(scope.list.hasErrors());
    EXPECT_EQ(KaErrorGetLast(), KaErrorOutOfMemoryRecord());
    EXPECT_EQ(KaErrorGetLastNative(), KA_OUT_OF_MEMORY_NATIVE);
    // A second failure does not count twice.
    EXPECT_EQ(ramAllocInt(-1), nullptr);
    EXPECT_EQ(scope.list.errorCount, 1);
}
