// Owners for memory taken with ramAlloc and for the calling thread's current
// error list. They never throw and never allocate, so they fit code that
// reports failures by status: a buffer with one owner is freed on every path
// out of the scope that holds it, however early that path returns.
#pragma once
#include <cstddef>
#include <memory>
#include <utility>

#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"

struct RamDeleter {
    void operator()(void* block) const noexcept { ramFree(block); }
};

// A block from ramAlloc (or a ramDup* copy) with one owner.
template <class T>
using RamPtr = std::unique_ptr<T, RamDeleter>;

// The typed block of count elements from ramAlloc, owned; empty when the
// allocation failed (ramAlloc has reported it).
template <class T>
RamPtr<T> ramMake(size_t count) noexcept
{
    return RamPtr<T>(static_cast<T*>(ramAlloc(count * sizeof(T))));
}

// A block that holds a secret: its bytes are wiped before it goes back.
// The owner keeps the byte count it must wipe.
template <class T>
class RamWipedPtr {
public:
    RamWipedPtr() noexcept = default;
    RamWipedPtr(T* block, size_t bytes) noexcept : block_(block), bytes_(block != nullptr ? bytes : 0) {}
    RamWipedPtr(RamWipedPtr&& other) noexcept
        : block_(std::exchange(other.block_, nullptr)), bytes_(std::exchange(other.bytes_, 0))
    {}
    RamWipedPtr& operator=(RamWipedPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            block_ = std::exchange(other.block_, nullptr);
            bytes_ = std::exchange(other.bytes_, 0);
        }
        return *this;
    }
    RamWipedPtr(const RamWipedPtr&) = delete;
    RamWipedPtr& operator=(const RamWipedPtr&) = delete;
    ~RamWipedPtr() { reset(); }

    T* get() const noexcept { return block_; }
    size_t bytes() const noexcept { return bytes_; }
    explicit operator bool() const noexcept { return block_ != nullptr; }

    // Wipes and frees the block held, then holds `block` of `bytes` bytes.
    void reset(T* block = nullptr, size_t bytes = 0) noexcept
    {
        if (block_ != nullptr) {
            fastMemzero(block_, bytes_);
            ramFree(block_);
        }
        block_ = block;
        bytes_ = block != nullptr ? bytes : 0;
    }
    // Gives the block up unwiped; the caller owns it again.
    T* release() noexcept
    {
        bytes_ = 0;
        return std::exchange(block_, nullptr);
    }

private:
    T* block_ = nullptr;
    size_t bytes_ = 0;
};

// Makes `list` the calling thread's current error list for its lifetime.
class KaErrorListScope {
public:
    explicit KaErrorListScope(KaErrorList* list) noexcept { KaErrorPushList(list); }
    ~KaErrorListScope() { KaErrorPopList(); }
    KaErrorListScope(const KaErrorListScope&) = delete;
    KaErrorListScope& operator=(const KaErrorListScope&) = delete;
};

// The records on the calling thread's current list when it was made: what
// was posted since can be demoted, counted or dropped without each caller
// remembering the list and its count.
class KaDiagMark {
public:
    KaDiagMark() noexcept : list_(KaErrorCurrentList()), start_(list_ != nullptr ? list_->recordCount() : 0) {}

    KaErrorList* list() const noexcept { return list_; }
    size_t start() const noexcept { return start_; }
    // Records posted since the mark.
    size_t posted() const noexcept
    {
        return list_ != nullptr && list_->recordCount() > start_ ? list_->recordCount() - start_ : 0;
    }
    // Records posted since the mark become warnings.
    void demote() const noexcept
    {
        if (list_ != nullptr)
            list_->demoteFrom(start_);
    }
    // Records posted since the mark are dropped: what they say is no news
    // to the application.
    void drop() const noexcept
    {
        while (list_ != nullptr && list_->recordCount() > start_)
            list_->discardLast();
    }

private:
    KaErrorList* list_;
    size_t start_;
};
