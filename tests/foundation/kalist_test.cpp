#include "foundation/kalist.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

int g_deleted = 0;

class Node : public KaNode {
public:
    explicit Node(int v) : value(v) {}
    ~Node() override { ++g_deleted; }
    int value;
};

class DNode : public KaDNode {
public:
    explicit DNode(int v) : value(v) {}
    ~DNode() override { ++g_deleted; }
    int value;
};

// Walks the circle once from the first node, checking count and links.
std::vector<int> values(const KaList& list)
{
    std::vector<int> out;
    if (list.tail == nullptr) {
        EXPECT_EQ(list.count, 0u);
        return out;
    }
    KaNode* n = list.tail->next;
    for (size_t i = 0; i < list.count; ++i, n = n->next)
        out.push_back(static_cast<Node*>(n)->value);
    EXPECT_EQ(n, list.tail->next) << "the circle does not close after count nodes";
    return out;
}

std::vector<int> values(const KaDList& list)
{
    std::vector<int> out;
    if (list.tail == nullptr) {
        EXPECT_EQ(list.count, 0u);
        return out;
    }
    KaDNode* n = list.tail->next;
    for (size_t i = 0; i < list.count; ++i, n = n->next) {
        EXPECT_EQ(n->next->prev, n) << "prev link broken";
        out.push_back(static_cast<DNode*>(n)->value);
    }
    EXPECT_EQ(n, list.tail->next);
    EXPECT_EQ(list.tail->next->prev, list.tail);
    return out;
}

template <typename List, typename N>
class ListTest : public ::testing::Test {
protected:
    void SetUp() override { g_deleted = 0; }
    void TearDown() override { list.deleteAll(); }
    N* make(int v) { return new N(v); }
    List list;
};

struct Single {
    using List = KaList;
    using N = Node;
};
struct Double {
    using List = KaDList;
    using N = DNode;
};

template <typename T>
class BothLists : public ListTest<typename T::List, typename T::N> {};
using Kinds = ::testing::Types<Single, Double>;
TYPED_TEST_SUITE(BothLists, Kinds);

TYPED_TEST(BothLists, AddingAtBothEndsAndByIndex)
{
    auto& l = this->list;
    l.addLast(this->make(2));
    l.addFirst(this->make(1));
    l.addLast(this->make(4));
    l.insertAt(this->make(3), 2);
    l.insertAt(this->make(0), 0);
    l.insertAt(this->make(5), l.count);
    EXPECT_EQ(values(l), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(l.count, 6u);
}

TYPED_TEST(BothLists, RemovingTheOnlyNodeEmptiesTheList)
{
    auto& l = this->list;
    auto* n = this->make(1);
    l.addLast(n);
    l.remove(n);
    EXPECT_EQ(l.tail, nullptr);
    EXPECT_EQ(l.count, 0u);
    EXPECT_EQ(n->next, nullptr);
    delete n;
}

TYPED_TEST(BothLists, RemovingTheTailMakesItsPredecessorTail)
{
    auto& l = this->list;
    for (int v : {1, 2, 3})
        l.addLast(this->make(v));
    auto* first = l.first();
    auto* tail = l.tail;
    l.remove(tail);
    EXPECT_EQ(static_cast<typename TypeParam::N*>(l.tail)->value, 2);
    EXPECT_EQ(l.first(), first);
    EXPECT_EQ(values(l), (std::vector<int>{1, 2}));
    delete tail;
}

TYPED_TEST(BothLists, RemoveFirstAndLast)
{
    auto& l = this->list;
    EXPECT_EQ(l.removeFirst(), nullptr);
    EXPECT_EQ(l.removeLast(), nullptr);
    for (int v : {1, 2, 3})
        l.addLast(this->make(v));
    auto* a = l.removeFirst();
    auto* c = l.removeLast();
    EXPECT_EQ(static_cast<typename TypeParam::N*>(a)->value, 1);
    EXPECT_EQ(static_cast<typename TypeParam::N*>(c)->value, 3);
    EXPECT_EQ(values(l), (std::vector<int>{2}));
    delete a;
    delete c;
}

TYPED_TEST(BothLists, MoveLastTo)
{
    auto& l = this->list;
    for (int v : {1, 2, 3, 4})
        l.addLast(this->make(v));
    l.moveLastTo(1);
    EXPECT_EQ(values(l), (std::vector<int>{1, 4, 2, 3}));
    l.moveLastTo(0);
    EXPECT_EQ(values(l), (std::vector<int>{3, 1, 4, 2}));
}

TYPED_TEST(BothLists, NodeAtWalksAndMovesTheCursor)
{
    auto& l = this->list;
    EXPECT_EQ(l.nodeAt(0), nullptr);
    for (int v : {10, 11, 12})
        l.addLast(this->make(v));
    EXPECT_EQ(static_cast<typename TypeParam::N*>(l.nodeAt(2))->value, 12);
    EXPECT_EQ(l.cursor, l.tail);
    EXPECT_EQ(l.nodeAt(3), nullptr);
    EXPECT_EQ(l.cursor, nullptr);
}

TYPED_TEST(BothLists, CursorIsClearedWhenItsNodeIsRemoved)
{
    auto& l = this->list;
    for (int v : {1, 2, 3})
        l.addLast(this->make(v));
    auto* middle = l.nodeAt(1);
    ASSERT_EQ(l.cursor, middle);
    l.remove(middle);
    EXPECT_EQ(l.cursor, nullptr);
    delete middle;
}

TYPED_TEST(BothLists, RewindThenStepReachesTheFirstNode)
{
    auto& l = this->list;
    for (int v : {1, 2})
        l.addLast(this->make(v));
    l.rewind();
    EXPECT_EQ(l.nextNode(), l.first());
    EXPECT_EQ(l.nextNode(), l.tail);
}

TYPED_TEST(BothLists, DeleteAllDeletesEveryNode)
{
    auto& l = this->list;
    for (int v : {1, 2, 3, 4})
        l.addLast(this->make(v));
    l.nodeAt(2);
    l.deleteAll();
    EXPECT_EQ(g_deleted, 4);
    EXPECT_EQ(l.count, 0u);
    EXPECT_EQ(l.tail, nullptr);
    EXPECT_EQ(l.cursor, nullptr);
}

TYPED_TEST(BothLists, NodeAtReachesTheEndOfALongList)
{
    auto& l = this->list;
    for (int v = 0; v <= 70000; ++v)
        l.addLast(this->make(v));
    EXPECT_EQ(l.nodeAt(70000), l.tail);
    EXPECT_EQ(static_cast<typename TypeParam::N*>(l.nodeAt(70000))->value, 70000);
}

TYPED_TEST(BothLists, RemovedNodeCanBeLinkedAgain)
{
    auto& l = this->list;
    for (int v : {1, 2, 3})
        l.addLast(this->make(v));
    auto* n = l.nodeAt(0);
    l.remove(n);
    l.addLast(n);
    EXPECT_EQ(values(l), (std::vector<int>{2, 3, 1}));
}

TEST(KaList, SeekFindsOnlyNodesOfTheList)
{
    KaList l;
    Node a(1), b(2), stranger(3);
    l.addLast(&a);
    l.addLast(&b);
    l.seek(&b);
    EXPECT_EQ(l.cursor, &b);
    l.seek(&stranger);
    EXPECT_EQ(l.cursor, &b);
    l.remove(&a);
    l.remove(&b);
}

TEST(KaList, RemovingANodeOfNoListChangesNothing)
{
    KaList l;
    Node a(1), stranger(2);
    l.addLast(&a);
    l.remove(&stranger);
    EXPECT_EQ(l.count, 1u);
    EXPECT_EQ(l.tail, &a);
    l.remove(&a);
}

TEST(KaDList, RemoveIgnoresNullAndUnlinkedNodes)
{
    KaDList l;
    DNode a(1), loose(2);
    l.addLast(&a);
    l.remove(nullptr);
    l.remove(&loose);
    EXPECT_EQ(l.count, 1u);
    l.remove(&a);
    EXPECT_EQ(a.next, nullptr);
    EXPECT_EQ(a.prev, nullptr);
    EXPECT_EQ(l.count, 0u);
}

}  // namespace
