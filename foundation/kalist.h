// Intrusive circular lists: KaList of KaNode (singly linked) and KaDList of
// KaDNode (doubly linked). The node is the object itself, so the lists never
// allocate; diagnostics records, handles and pool entries are linked this way.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"

class KaNode : public KaObject {
public:
    KaNode* next;

    KaNode() noexcept : next(nullptr) {}
    ~KaNode() override;
};

// A node passed in is in no list; a node passed to remove is in this one.
// Indices are at most count.
class KaList : public KaObject {
public:
    KaNode* tail;  // tail->next is the first node
    size_t count;
    KaNode* cursor;

    KaList() noexcept;
    KaList(const KaList&) = delete;
    KaList& operator=(const KaList&) = delete;
    // Leaves the nodes alone: their owner deletes them.
    ~KaList() override;

    KaNode* first() const noexcept { return tail != nullptr ? tail->next : nullptr; }
    void addFirst(KaNode* node) noexcept;
    void addLast(KaNode* node) noexcept;
    void insertAt(KaNode* node, size_t index) noexcept;
    void remove(KaNode* node) noexcept;
    KaNode* removeFirst() noexcept;
    KaNode* removeLast() noexcept;
    void moveLastTo(size_t index) noexcept;
    // Null for index == count; the cursor follows the walk.
    KaNode* nodeAt(size_t index) noexcept;
    // The next step from the cursor reaches the first node.
    void rewind() noexcept;
    // Moves the cursor one node on and returns it: after rewind the first
    // node, after the tail the first node again (the list is circular), null
    // when the cursor is null.
    KaNode* nextNode() noexcept;
    void seek(KaNode* node) noexcept;
    void deleteAll() noexcept;
};

class KaDNode : public KaObject {
public:
    KaDNode* next;
    KaDNode* prev;

    KaDNode() noexcept : next(nullptr), prev(nullptr) {}
    ~KaDNode() override;
};

class KaDList : public KaObject {
public:
    KaDNode* tail;  // tail->next is the first node, first->prev the tail
    size_t count;
    KaDNode* cursor;

    KaDList() noexcept;
    KaDList(const KaDList&) = delete;
    KaDList& operator=(const KaDList&) = delete;
    ~KaDList() override;

    KaDNode* first() const noexcept { return tail != nullptr ? tail->next : nullptr; }
    void addFirst(KaDNode* node) noexcept;
    void addLast(KaDNode* node) noexcept;
    void insertAt(KaDNode* node, size_t index) noexcept;
    // O(1); a null node or one linked in no list is ignored.
    void remove(KaDNode* node) noexcept;
    KaDNode* removeFirst() noexcept;
    KaDNode* removeLast() noexcept;
    void moveLastTo(size_t index) noexcept;
    KaDNode* nodeAt(size_t index) noexcept;
    void rewind() noexcept;
    KaDNode* nextNode() noexcept;
    void deleteAll() noexcept;

private:
    void linkAfter(KaDNode* node, KaDNode* before) noexcept;
};
