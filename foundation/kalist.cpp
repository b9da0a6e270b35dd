// Intrusive circular lists, singly and doubly linked.
#include "foundation/kalist.h"

KaNode::~KaNode() = default;
KaDNode::~KaDNode() = default;

namespace {

// What both lists do alike over their tail, count and cursor; linking and
// unlinking are each list's own.

template <class List>
auto walkTo(List& list, size_t index) noexcept
{
    list.cursor = list.first();
    for (size_t i = 0; i < index && list.cursor != nullptr; ++i)
        list.cursor = (list.cursor == list.tail) ? nullptr : list.cursor->next;
    return list.cursor;
}

template <class List>
auto stepCursor(List& list) noexcept
{
    if (list.cursor != nullptr)
        list.cursor = list.cursor->next;
    return list.cursor;
}

template <class List>
void moveLast(List& list, size_t index) noexcept
{
    auto* node = list.removeLast();
    if (node != nullptr)
        list.insertAt(node, index);
}

template <class List>
void deleteEvery(List& list) noexcept
{
    while (list.tail != nullptr) {
        auto* node = list.first();
        list.remove(node);
        delete node;
    }
    list.cursor = nullptr;
}

}  // namespace

// ---- KaList --------------------------------------------------------------

KaList::KaList() noexcept : tail(nullptr), count(0), cursor(nullptr) {}

KaList::~KaList() = default;

void KaList::addFirst(KaNode* node) noexcept
{
    if (tail == nullptr) {
        tail = node;
        node->next = node;
    } else {
        node->next = tail->next;
        tail->next = node;
    }
    ++count;
}

void KaList::addLast(KaNode* node) noexcept
{
    addFirst(node);
    tail = node;
}

void KaList::insertAt(KaNode* node, size_t index) noexcept
{
    if (index == 0) {
        addFirst(node);
    } else if (index >= count) {
        addLast(node);
    } else {
        KaNode* before = nodeAt(index - 1);
        node->next = before->next;
        before->next = node;
        ++count;
    }
}

void KaList::remove(KaNode* node) noexcept
{
    if (tail == nullptr || node == nullptr)
        return;
    // The predecessor is found by one turn round the circle; a node that is
    // not in this list is left alone.
    KaNode* prev = tail;
    size_t steps = 0;
    while (prev->next != node) {
        prev = prev->next;
        if (++steps > count)
            return;
    }
    if (node->next == node) {
        tail = nullptr;
    } else {
        prev->next = node->next;
        if (node == tail)
            tail = prev;
    }
    node->next = nullptr;
    --count;
    if (cursor == node)
        cursor = nullptr;
}

KaNode* KaList::removeFirst() noexcept
{
    KaNode* node = first();
    if (node != nullptr)
        remove(node);
    return node;
}

KaNode* KaList::removeLast() noexcept
{
    KaNode* node = tail;
    if (node != nullptr)
        remove(node);
    return node;
}

void KaList::moveLastTo(size_t index) noexcept
{
    moveLast(*this, index);
}

KaNode* KaList::nodeAt(size_t index) noexcept
{
    return walkTo(*this, index);
}

void KaList::rewind() noexcept
{
    cursor = tail;
}

KaNode* KaList::nextNode() noexcept
{
    return stepCursor(*this);
}

void KaList::seek(KaNode* node) noexcept
{
    KaNode* p = first();
    for (size_t i = 0; i < count && p != nullptr; ++i, p = p->next) {
        if (p == node) {
            cursor = node;
            return;
        }
    }
}

void KaList::deleteAll() noexcept
{
    deleteEvery(*this);
}

// ---- KaDList -------------------------------------------------------------

KaDList::KaDList() noexcept : tail(nullptr), count(0), cursor(nullptr) {}

KaDList::~KaDList() = default;

void KaDList::linkAfter(KaDNode* node, KaDNode* before) noexcept
{
    KaDNode* after = before->next;
    node->prev = before;
    node->next = after;
    before->next = node;
    after->prev = node;
    ++count;
}

void KaDList::addFirst(KaDNode* node) noexcept
{
    if (tail == nullptr) {
        tail = node;
        node->next = node;
        node->prev = node;
        ++count;
    } else {
        linkAfter(node, tail);
    }
}

void KaDList::addLast(KaDNode* node) noexcept
{
    addFirst(node);
    tail = node;
}

void KaDList::insertAt(KaDNode* node, size_t index) noexcept
{
    if (index == 0)
        addFirst(node);
    else if (index >= count)
        addLast(node);
    else
        linkAfter(node, nodeAt(index - 1));
}

void KaDList::remove(KaDNode* node) noexcept
{
    if (node == nullptr || tail == nullptr || node->next == nullptr || node->prev == nullptr)
        return;
    if (node->next == node) {
        if (node != tail)
            return;
        tail = nullptr;
    } else {
        node->prev->next = node->next;
        node->next->prev = node->prev;
        if (node == tail)
            tail = node->prev;
    }
    node->next = nullptr;
    node->prev = nullptr;
    --count;
    if (cursor == node)
        cursor = nullptr;
}

KaDNode* KaDList::removeFirst() noexcept
{
    KaDNode* node = first();
    remove(node);
    return node;
}

KaDNode* KaDList::removeLast() noexcept
{
    KaDNode* node = tail;
    remove(node);
    return node;
}

void KaDList::moveLastTo(size_t index) noexcept
{
    moveLast(*this, index);
}

KaDNode* KaDList::nodeAt(size_t index) noexcept
{
    return walkTo(*this, index);
}

void KaDList::rewind() noexcept
{
    cursor = tail;
}

KaDNode* KaDList::nextNode() noexcept
{
    return stepCursor(*this);
}

void KaDList::deleteAll() noexcept
{
    deleteEvery(*this);
}
