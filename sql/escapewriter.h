// The text under escape translation as a gap buffer (KaEscapeWriter): the
// final text written at the front, the text still to be read at the back.
// Escape translation and the outer-join rewriting work through it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kastringops.h"
#include "foundation/kastringw.h"

// A translation that must be read again goes in front of the unread part; the
// unread part moves only when the gap is too small, then leaving room to
// spare, so each unit is copied a bounded number of times however many
// escapes the text holds.
class KaEscapeWriter {
public:
    [[nodiscard]] int init(const uint16_t* text, size_t n) noexcept
    {
        if (grow(n + kKaReplaceGapSlack) != 0)
            return 1;
        read = capacity - n;
        copy(buffer.data + read, text, n);
        return 0;
    }

    const uint16_t* unread() const noexcept { return buffer.data + read; }
    size_t unreadLength() const noexcept { return capacity - read; }
    size_t writeIndex() const noexcept { return written; }

    void pass(size_t n) noexcept
    {
        if (written != read)
            copy(buffer.data + written, buffer.data + read, n);
        written += n;
        read += n;
    }

    void skip(size_t n) noexcept { read += n; }

    [[nodiscard]] int emit(const uint16_t* text, size_t n) noexcept
    {
        if (ensureGap(n) != 0)
            return 1;
        copy(buffer.data + written, text, n);
        written += n;
        return 0;
    }

    // The text is read next, before the rest of the unread part.
    [[nodiscard]] int unreadText(const uint16_t* text, size_t n) noexcept
    {
        if (ensureGap(n) != 0)
            return 1;
        read -= n;
        copy(buffer.data + read, text, n);
        return 0;
    }

    // What was written from mark on is read again next. The gap stays as
    // wide, so nothing can fail.
    void unreadSince(size_t mark) noexcept
    {
        size_t n = written - mark;
        for (size_t i = n; i-- > 0;)
            buffer.data[read - n + i] = buffer.data[mark + i];
        read -= n;
        written = mark;
    }

    // Replaces count unread units at offset (from the read position) by one
    // blank: the units before them move up, the gap widens.
    void blankUnread(size_t offset, size_t count) noexcept
    {
        if (count == 0)
            return;
        size_t drop = count - 1;
        buffer.data[read + offset + drop] = ' ';
        for (size_t i = offset; i-- > 0;)
            buffer.data[read + drop + i] = buffer.data[read + i];
        read += drop;
    }

    [[nodiscard]] int finish(KaStringW& out) noexcept
    {
        out.len = 0;
        return out.allocate(written + unreadLength() + 1) != 0 || out.append(buffer.data, written) != 0 ||
                       out.append(unread(), unreadLength()) != 0
                   ? 1
                   : 0;
    }

private:
    static void copy(uint16_t* to, const uint16_t* from, size_t n) noexcept
    {
        for (size_t i = 0; i < n; ++i)
            to[i] = from[i];
    }

    [[nodiscard]] int ensureGap(size_t n) noexcept
    {
        return read - written >= n ? 0 : grow(capacity + n + kKaReplaceGapSlack + capacity / 2);
    }

    // A new block: the written part at its front, the unread part at its back.
    [[nodiscard]] int grow(size_t newCapacity) noexcept
    {
        KaStringW next;
        if (next.allocate(newCapacity) != 0)
            return 1;
        size_t unreadUnits = capacity - read;
        size_t newRead = newCapacity - unreadUnits;
        if (buffer.data != nullptr) {
            copy(next.data, buffer.data, written);
            copy(next.data + newRead, buffer.data + read, unreadUnits);
        }
        buffer.freeBuffer();
        buffer.adopt(next.data, next.capacity, 0);
        next.data = nullptr;
        next.capacity = 0;
        capacity = newCapacity;
        read = newRead;
        return 0;
    }

    KaStringW buffer;
    size_t capacity = 0;
    size_t written = 0;
    size_t read = 0;
};
