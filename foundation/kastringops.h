// The logic that the 8-bit strings (kastring.cpp) and the UTF-16 strings
// (kastringw.cpp) share, written once over the code unit: searching a view,
// growing, wiping and editing an owning string, and the in-place rewriter.
// Only those two files include it; each hands in a traits struct Tr naming
// its classes and the few operations that differ between the two:
//   Unit, View, Owned, Rewriter               the code unit and the classes
//   stepIn(p, i, n, view)                     units of the character at p[i]
//                                             of counted text, 1 to n - i
//   length(terminated)                        units before the zero (null: 0)
//   isSpace(unit)                             white space that trimRight cuts
//   pairAt(p)                                 p starts a two-unit character
//                                             (p[1] may be read)
//   equalNoCase(view, terminated)             equality without case
//   quote(dst, src, n, view, q), unquote(dst, src, n)
//                                             the text primitives' quoting
//   cutAt(p, i, n), postCut()                 a character cut by the end of
//                                             text handed to emitQuoted, and
//                                             its diagnostic
// The 8-bit classes also carry lenAtSet and codePage; the bodies keep them
// wherever the classes have them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/fast.h"
#include "foundation/kaarray.h"
#include "foundation/kathread.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"

// Spare units a rewriter opens beyond a pending write, so that a run of small
// emits moves the unread remainder once per this many units.
constexpr size_t kKaReplaceGapSlack = 512;
// Spare units wrap reserves for the line breaks it inserts.
constexpr size_t kKaWrapSlack = 100;
// Characters of the longest 64-bit number with its sign.
constexpr size_t kKaLongestNumber = 20;

struct KaStringOps {
    // a + b + c, or SIZE_MAX when it does not fit (no block can be that large).
    static size_t sizeSum(size_t a, size_t b, size_t c = 0) noexcept
    {
        if (b > SIZE_MAX - a)
            return SIZE_MAX;
        size_t s = a + b;
        if (c > SIZE_MAX - s)
            return SIZE_MAX;
        return s + c;
    }

    template <typename Unit>
    static bool inside(const Unit* p, const Unit* start, size_t n) noexcept
    {
        auto a = reinterpret_cast<uintptr_t>(p);
        auto s = reinterpret_cast<uintptr_t>(start);
        return start != nullptr && p != nullptr && a >= s && (a - s) / sizeof(Unit) < n;
    }

    template <typename Unit>
    static void copyUnits(Unit* dst, const Unit* src, size_t n) noexcept
    {
        if (n > 0)
            std::memmove(dst, src, n * sizeof(Unit));
    }

    // A block of n units, or null after the out-of-memory diagnostic.
    template <typename Unit>
    static Unit* newUnits(size_t n) noexcept
    {
        if (n == SIZE_MAX || n > SIZE_MAX / sizeof(Unit)) {
            ramOutOfMemory();
            return nullptr;
        }
        return static_cast<Unit*>(ramAlloc(n * sizeof(Unit)));
    }

    // Gives a block of the string back, wiped first by the wiping forms.
    template <typename S, typename Unit>
    static void releaseUnits(const S& s, Unit* block, size_t n) noexcept
    {
        if (block == nullptr)
            return;
        if (s.wipes)
            fastMemzero(block, n * sizeof(Unit));
        ramFree(block);
    }

    template <typename S>
    static void setLength(S& s, size_t n) noexcept
    {
        s.len = n;
        if constexpr (requires { s.lenAtSet; })
            s.lenAtSet = n;
    }

    // ---- views ---------------------------------------------------------------

    template <typename Tr>
    static size_t step(const typename Tr::View& v, size_t i) noexcept
    {
        return Tr::stepIn(v.data, i, v.len, v);
    }

    template <typename Tr>
    static size_t findChar(const typename Tr::View& v, typename Tr::Unit unit, size_t start) noexcept
    {
        if (v.data == nullptr)
            return v.len;
        for (size_t i = start; i < v.len; i += step<Tr>(v, i)) {
            if (v.data[i] == unit)
                return i;
        }
        return v.len;
    }

    // Where the plen units of pattern stand whole at a character start at or
    // after start; len when nowhere.
    template <typename Tr>
    static size_t findN(const typename Tr::View& v, const typename Tr::Unit* pattern, size_t plen,
                        size_t start) noexcept
    {
        if (v.data == nullptr || pattern == nullptr || plen == 0 || plen > v.len)
            return v.len;
        for (size_t i = start; i < v.len && plen <= v.len - i; i += step<Tr>(v, i)) {
            if (v.data[i] == pattern[0] && fastMemeq(v.data + i, pattern, plen * sizeof(typename Tr::Unit)))
                return i;
        }
        return v.len;
    }

    template <typename Tr>
    static size_t find(const typename Tr::View& v, const typename Tr::Unit* pattern, size_t start) noexcept
    {
        return findN<Tr>(v, pattern, Tr::length(pattern), start);
    }

    // Counting stops at a zero unit, as the terminated text it came from ends.
    template <typename Tr>
    static size_t countChar(const typename Tr::View& v, typename Tr::Unit unit) noexcept
    {
        size_t n = 0;
        if (v.data == nullptr)
            return 0;
        for (size_t i = 0; i < v.len && v.data[i] != 0; i += step<Tr>(v, i)) {
            if (v.data[i] == unit)
                ++n;
        }
        return n;
    }

    template <typename Tr>
    static size_t indexIn(const typename Tr::View& v, const typename Tr::Unit* const* list, size_t count) noexcept
    {
        for (size_t i = 0; i < count; ++i) {
            const typename Tr::Unit* entry = list[i];
            if (entry == nullptr)
                continue;
            size_t n = Tr::length(entry);
            if (n == v.len && (n == 0 || fastMemeq(entry, v.data, n * sizeof(typename Tr::Unit))))
                return i;
        }
        return count;
    }

    template <typename Tr>
    static size_t indexInNoCase(const typename Tr::View& v, const typename Tr::Unit* const* list, size_t count) noexcept
    {
        for (size_t i = 0; i < count; ++i) {
            if (list[i] != nullptr && Tr::equalNoCase(v, list[i]))
                return i;
        }
        return count;
    }

    template <typename Tr>
    static void trimRight(typename Tr::View& v) noexcept
    {
        while (v.len > 0 && Tr::isSpace(v.data[v.len - 1]))
            --v.len;
    }

    template <typename V>
    static int isBraced(const V& v) noexcept
    {
        return v.data != nullptr && v.len >= 2 && v.data[0] == '{' && v.data[v.len - 1] == '}' ? 1 : 0;
    }

    template <typename Tr>
    static int needsBraces(const typename Tr::View& v) noexcept
    {
        if (v.len == 0 || v.data == nullptr)
            return 0;
        return v.data[0] == '{' || findChar<Tr>(v, ';', 0) < v.len ? 1 : 0;
    }

    template <typename Tr>
    static int stripBracesInto(const typename Tr::View& v, typename Tr::Owned& dest) noexcept
    {
        setLength(dest, 0);
        if (!isBraced(v))
            return 0;
        return append<Tr>(dest, v.data + 1, v.len - 2);
    }

    // The inside of a braced text with each doubled closing unit undoubled; a
    // closing unit with no partner before the final brace is kept.
    template <typename Tr>
    static int unescapeBracedInto(const typename Tr::View& v, typename Tr::Owned& dest,
                                  typename Tr::Unit closing) noexcept
    {
        if (ensureCapacity(dest, sizeSum(v.len, dest.len, 1)) != 0)
            return 1;
        size_t written = 0;
        typename Tr::Unit* out = dest.data;
        if (v.data != nullptr && v.len >= 2) {
            size_t end = v.len - 1;  // the last unit is the closing brace
            size_t i = 1;
            while (i < end) {
                if (v.data[i] == closing && i + 1 < end) {
                    out[written++] = v.data[i + 1];
                    i += 2;
                } else if (i + 1 < end && Tr::pairAt(v.data + i)) {
                    out[written++] = v.data[i];
                    out[written++] = v.data[i + 1];
                    i += 2;
                } else {
                    out[written++] = v.data[i++];
                }
            }
        }
        dest.len = written;
        out[written] = 0;
        return 0;
    }

    // One owned string per non-empty line. The pieces are cut by counted
    // search: a view may end where its buffer ends, so no terminator is
    // written into it.
    template <typename Tr>
    static int splitLines(const typename Tr::View& v, KaArray& lines) noexcept
    {
        lines.flags |= KaArray::ownsElements;
        size_t start = 0;
        while (start <= v.len) {
            size_t nl = findChar<Tr>(v, '\n', start);
            size_t n = nl - start;
            if (n > 0) {
                auto* line = new typename Tr::Owned();
                if (line == nullptr)
                    return 1;
                if constexpr (requires { line->codePage; })
                    line->codePage = v.codePage;
                if (assign<Tr>(*line, v.data + start, n) != 0 || lines.append(line) != 0) {
                    delete line;
                    return 1;
                }
            }
            if (nl >= v.len)
                break;
            start = nl + 1;
        }
        return 0;
    }

    // ---- owning strings ------------------------------------------------------

    // Frees an owned buffer (wiped first by the wiping forms); the fields are
    // left for the caller to reset.
    template <typename S>
    static void releaseOwned(S& s) noexcept
    {
        if (s.owns)
            releaseUnits(s, s.data, s.capacity);
    }

    // The string's buffer becomes block, holding n units of text in cap.
    template <typename S, typename Unit>
    static void takeBlock(S& s, Unit* block, size_t n, size_t cap) noexcept
    {
        // The old buffer goes only now: the text may have come from it.
        releaseOwned(s);
        s.data = block;
        setLength(s, n);
        s.capacity = cap;
        s.owns = 1;
    }

    template <typename S>
    static void limitLength(S& s) noexcept
    {
        if (s.len > s.capacity)
            s.len = s.capacity;
        if constexpr (requires { s.lenAtSet; }) {
            if (s.lenAtSet > s.capacity)
                s.lenAtSet = s.capacity;
        }
    }

    // A borrowed buffer is the caller's: the string never takes another.
    template <typename S>
    static bool refusesGrowth(const S& s) noexcept
    {
        if (s.owns)
            return false;
        errPost(MSG_STRING_BUFFER_BORROWED);
        return true;
    }

    // Grows (or shrinks) the buffer to exactly newCapacity units in place.
    template <typename Tr>
    static int reserve(typename Tr::Owned& s, size_t newCapacity) noexcept
    {
        using Unit = typename Tr::Unit;
        if (refusesGrowth(s))
            return 1;
        if (newCapacity > SIZE_MAX / sizeof(Unit)) {
            ramOutOfMemory();
            return 1;
        }
        if (s.data != nullptr) {
            void* block = s.data;
            if (ramRealloc(&block, newCapacity * sizeof(Unit)) != 0)
                return 1;
            s.data = static_cast<Unit*>(block);
        } else {
            s.data = newUnits<Unit>(newCapacity == 0 ? 1 : newCapacity);
            if (s.data == nullptr)
                return 1;
        }
        s.capacity = newCapacity;
        limitLength(s);
        return 0;
    }

    // The wiping forms' growth: never a realloc, which could give the old
    // block back unwiped.
    template <typename Tr>
    static int reserveWiping(typename Tr::Owned& s, size_t newCapacity) noexcept
    {
        using Unit = typename Tr::Unit;
        if (refusesGrowth(s))
            return 1;
        Unit* block = newUnits<Unit>(newCapacity == 0 ? 1 : newCapacity);
        if (block == nullptr)
            return 1;
        Unit* old = s.data;
        size_t oldCapacity = s.capacity;
        s.capacity = newCapacity;
        limitLength(s);
        if (old != nullptr) {
            copyUnits(block, old, s.len);
            fastMemzero(old, oldCapacity * sizeof(Unit));
            ramFree(old);
        }
        s.data = block;
        return 0;
    }

    // Calls the string's reserve only when there is no buffer or it is
    // smaller than needed.
    template <typename S>
    static int ensureCapacity(S& s, size_t needed) noexcept
    {
        if (needed == SIZE_MAX) {
            ramOutOfMemory();
            return 1;
        }
        if (s.data != nullptr && s.capacity >= needed)
            return 0;
        return s.reserve(needed) != 0 ? 1 : 0;
    }

    // A new block of n + 1 units holding the text and a zero unit.
    template <typename Tr>
    static int assign(typename Tr::Owned& s, const typename Tr::Unit* d, size_t n) noexcept
    {
        using Unit = typename Tr::Unit;
        if (d == nullptr)
            n = 0;
        Unit* block = newUnits<Unit>(sizeSum(n, 1));
        if (block == nullptr)
            return 1;
        copyUnits(block, d, n);
        block[n] = 0;
        takeBlock(s, block, n, n + 1);
        return 0;
    }

    template <typename Tr>
    static int allocate(typename Tr::Owned& s, size_t n) noexcept
    {
        using Unit = typename Tr::Unit;
        Unit* block = newUnits<Unit>(sizeSum(n, 1));
        if (block == nullptr)
            return 1;
        block[0] = 0;
        takeBlock(s, block, 0, n + 1);
        return 0;
    }

    template <typename S, typename Unit>
    static void attach(S& s, Unit* d, size_t cap, size_t length) noexcept
    {
        if (d != s.data)
            releaseOwned(s);
        s.data = d;
        s.capacity = cap;
        setLength(s, length > cap ? cap : length);
        s.owns = 0;
    }

    // Empty afterwards, and the string may grow again.
    template <typename S>
    static void freeBuffer(S& s) noexcept
    {
        releaseOwned(s);
        s.data = nullptr;
        setLength(s, 0);
        s.capacity = 0;
        s.owns = 1;
    }

    template <typename Tr>
    static int appendChar(typename Tr::Owned& s, typename Tr::Unit unit) noexcept
    {
        if (ensureCapacity(s, sizeSum(s.len, 2)) != 0)
            return 1;
        s.data[s.len++] = unit;
        s.data[s.len] = 0;
        return 0;
    }

    template <typename Tr>
    static int append(typename Tr::Owned& s, const typename Tr::Unit* d, size_t n) noexcept
    {
        if (d == nullptr)
            n = 0;
        // Text taken from this string's own buffer must survive its reallocation.
        bool own = inside(d, s.data, s.capacity);
        size_t offset = own ? static_cast<size_t>(d - s.data) : 0;
        if (ensureCapacity(s, sizeSum(s.len, n, 1)) != 0)
            return 1;
        if (own)
            d = s.data + offset;
        copyUnits(s.data + s.len, d, n);
        s.len += n;
        s.data[s.len] = 0;
        return 0;
    }

    // write(digits) puts the decimal text into a buffer of the terminated
    // number writers' size and returns its length.
    template <typename Tr, typename Write>
    static int appendNumber(typename Tr::Owned& s, Write write) noexcept
    {
        typename Tr::Unit digits[kNumTextCapacity + 1];
        if (ensureCapacity(s, sizeSum(s.len, kKaLongestNumber, 1)) != 0)
            return 1;
        size_t n = write(digits);
        return append<Tr>(s, digits, n);
    }

    // Replaces count units at position by n units of d (n 0 with d: d's
    // terminated length; d null: deletion) and writes a terminator.
    template <typename Tr>
    static int replace(typename Tr::Owned& s, size_t position, size_t count, const typename Tr::Unit* d,
                       size_t n) noexcept
    {
        using Unit = typename Tr::Unit;
        if (d == nullptr)
            n = 0;
        else if (n == 0)
            n = Tr::length(d);
        // Positions past the text are pulled back to it rather than written
        // beyond the buffer.
        if (position > s.len)
            position = s.len;
        if (count > s.len - position)
            count = s.len - position;

        // Replacement text taken from this buffer would be moved by the edit.
        Unit* copy = nullptr;
        if (n > 0 && inside(d, s.data, s.capacity)) {
            copy = newUnits<Unit>(n);
            if (copy == nullptr)
                return 1;
            copyUnits(copy, d, n);
            d = copy;
        }

        size_t tail = s.len - position - count;
        size_t newLen = sizeSum(s.len - count, n);
        int rc = 0;
        if (n > count && ensureCapacity(s, sizeSum(newLen, 1)) != 0)
            rc = 1;
        if (rc == 0) {
            if (n != count)
                copyUnits(s.data + position + n, s.data + position + count, tail);
            copyUnits(s.data + position, d, n);
            s.len = newLen;
            if (s.data != nullptr && s.len < s.capacity)
                s.data[s.len] = 0;
        }
        releaseUnits(s, copy, n);
        return rc;
    }

    template <typename Tr>
    static int replaceRange(typename Tr::Owned& s, const typename Tr::View& range, const typename Tr::Unit* d,
                            size_t n) noexcept
    {
        size_t position = inside(range.data, s.data, s.len + 1) ? static_cast<size_t>(range.data - s.data) : s.len;
        return replace<Tr>(s, position, range.len, d, n);
    }

    // Replaces count units at each match of the plen units of pattern.
    template <typename Tr>
    static int replaceEach(typename Tr::Owned& s, const typename Tr::Unit* pattern, size_t plen, size_t count,
                           const typename Tr::Unit* replacement, size_t n) noexcept
    {
        if (pattern == nullptr || plen == 0)
            return 0;
        if (replacement == nullptr)
            n = 0;
        else if (n == 0)
            n = Tr::length(replacement);
        // Resume after the inserted text and after whatever part of the match
        // was kept, so that a kept match is not found and replaced again.
        size_t kept = count < plen ? plen - count : 0;
        size_t pos = findN<Tr>(s, pattern, plen, 0);
        while (pos < s.len) {
            if (replace<Tr>(s, pos, count, n == 0 ? nullptr : replacement, n) != 0)
                return 1;
            pos = findN<Tr>(s, pattern, plen, pos + n + kept);
        }
        return 0;
    }

    // Room needed to quote n units: the quoting doubles every quote unit of
    // the whole text, zero units included, so the quotes are counted over all
    // of it.
    template <typename Unit>
    static size_t quotedSize(const Unit* text, size_t n, Unit quoteUnit) noexcept
    {
        size_t quotes = 0;
        for (size_t i = 0; i < n; ++i) {
            if (text[i] == quoteUnit)
                ++quotes;
        }
        return sizeSum(n, quotes, 3);
    }

    template <typename Tr>
    static int quote(typename Tr::Owned& s, typename Tr::Unit quoteUnit) noexcept
    {
        using Unit = typename Tr::Unit;
        size_t n = s.len;
        Unit* copy = newUnits<Unit>(sizeSum(n, 1));
        if (copy == nullptr)
            return 1;
        copyUnits(copy, s.data, n);
        copy[n] = 0;
        int rc = 0;
        if (ensureCapacity(s, quotedSize(copy, n, quoteUnit)) != 0) {
            rc = 1;
        } else {
            Unit* end = Tr::quote(s.data, copy, n, s, quoteUnit);
            s.len = static_cast<size_t>(end - s.data);
        }
        releaseUnits(s, copy, n + 1);
        return rc;
    }

    template <typename Tr>
    static void unquote(typename Tr::Owned& s) noexcept
    {
        if (s.data == nullptr || s.len < 2)
            return;
        typename Tr::Unit* end = Tr::unquote(s.data, s.data, s.len);
        s.len = static_cast<size_t>(end - s.data);
    }

    template <typename Tr>
    static int appendQuoted(typename Tr::Owned& s, const typename Tr::Owned& other,
                            typename Tr::Unit quoteUnit) noexcept
    {
        using Unit = typename Tr::Unit;
        static constexpr Unit kEmpty[1] = {};
        size_t n = other.len;
        const Unit* source = other.data != nullptr ? other.data : kEmpty;
        if (ensureCapacity(s, sizeSum(s.len, quotedSize(source, n, quoteUnit))) != 0)
            return 1;
        // This string may be the other; the quoted copy lands behind the text.
        source = other.data != nullptr ? other.data : kEmpty;
        Unit* end = Tr::quote(s.data + s.len, source, n, other, quoteUnit);
        s.len = static_cast<size_t>(end - s.data);
        return 0;
    }

    template <typename Tr>
    static int ensureTrailingNewlines(typename Tr::Owned& s, size_t n) noexcept
    {
        size_t have = 0;
        while (have < s.len && s.data[s.len - 1 - have] == '\n')
            ++have;
        for (; have < n; ++have) {
            if (appendChar<Tr>(s, '\n') != 0)
                return 1;
        }
        return 0;
    }

    // Quoted-run tracking of wrap and the run collapsing: outside a run a
    // quote unit opens one that only the same unit closes; without q1 nothing
    // is tracked.
    template <typename Unit>
    static void trackQuote(Unit c, Unit& open, Unit q1, Unit q2, Unit q3) noexcept
    {
        if (q1 == 0)
            return;
        if (open != 0) {
            if (c == open)
                open = 0;
        } else if (c == q1 || (q2 != 0 && c == q2) || (q3 != 0 && c == q3)) {
            open = c;
        }
    }

    // A scratch string that keeps the string's encoding and wipes as it does.
    template <typename Tr>
    static void likeString(typename Tr::Owned& temp, const typename Tr::Owned& s) noexcept
    {
        temp.wipes = s.wipes;
        if constexpr (requires { temp.codePage; })
            temp.codePage = s.codePage;
    }

    template <typename Tr>
    static int wrap(typename Tr::Owned& s, size_t width, typename Tr::Unit q1, typename Tr::Unit q2,
                    typename Tr::Unit q3) noexcept
    {
        using Unit = typename Tr::Unit;
        if (width >= s.len)
            return 0;
        typename Tr::Owned temp;
        likeString<Tr>(temp, s);
        if (temp.reserve(sizeSum(s.len, kKaWrapSlack, 1)) != 0)
            return 1;
        size_t lineStart = 0;
        size_t lineCount = 0;
        size_t lastBlank = SIZE_MAX;
        Unit open = 0;
        for (size_t i = 0; i < s.len; ++i) {
            Unit c = s.data[i];
            trackQuote(c, open, q1, q2, q3);
            if (open == 0 && c == ' ')
                lastBlank = i;
            ++lineCount;
            if (lineCount > width && lastBlank != SIZE_MAX && lastBlank > lineStart) {
                if (append<Tr>(temp, s.data + lineStart, lastBlank - lineStart) != 0 || appendChar<Tr>(temp, '\n') != 0)
                    return 1;
                lineStart = lastBlank + 1;
                lineCount = i - lastBlank;
                lastBlank = SIZE_MAX;
            }
        }
        if (append<Tr>(temp, s.data + lineStart, s.len - lineStart) != 0)
            return 1;
        // Room first, so that a failure leaves the text as it was.
        if (ensureCapacity(s, sizeSum(temp.len, 1)) != 0)
            return 1;
        setLength(s, 0);
        return append<Tr>(s, temp.data, temp.len);
    }

    // Each run of units that isRun accepts, outside quoted runs, becomes one
    // blank, or nothing at the end of the text.
    template <typename Tr, typename IsRun>
    static int collapseRuns(typename Tr::Owned& s, IsRun isRun, typename Tr::Unit q1, typename Tr::Unit q2,
                            typename Tr::Unit q3) noexcept
    {
        using Unit = typename Tr::Unit;
        typename Tr::Owned temp;
        likeString<Tr>(temp, s);
        size_t cut = 0;
        bool removed = false;
        Unit open = 0;
        for (size_t i = 0; i < s.len; ++i) {
            Unit c = s.data[i];
            trackQuote(c, open, q1, q2, q3);
            if (open != 0 || !isRun(c))
                continue;
            if (!removed && temp.reserve(sizeSum(s.len, 1)) != 0)
                return 1;
            removed = true;
            if (append<Tr>(temp, s.data + cut, i - cut) != 0)
                return 1;
            if (i + 1 < s.len && !isRun(s.data[i + 1]) && appendChar<Tr>(temp, ' ') != 0)
                return 1;
            cut = i + 1;
        }
        if (!removed)
            return 0;
        if (append<Tr>(temp, s.data + cut, s.len - cut) != 0)
            return 1;
        // The result is never longer than the text, so it fits where it is.
        copyUnits(s.data, temp.data, temp.len);
        s.len = temp.len;
        if (s.len < s.capacity)
            s.data[s.len] = 0;
        return 0;
    }

    // ---- the rewriter --------------------------------------------------------

    // The target's text becomes the written output followed by the unread
    // remainder; the gap is given back unless the buffer is borrowed.
    template <typename Tr>
    static void closeGap(typename Tr::Rewriter& r) noexcept
    {
        auto* t = r.target;
        if (t == nullptr)
            return;
        size_t total = r.writePos + r.len;
        bool moved = r.writePos != r.readPos;
        if (moved)
            copyUnits(t->data + r.writePos, t->data + r.readPos, r.len);
        t->len = total;
        // A failed shrink keeps the larger block, which still holds the text.
        if (moved && t->owns && t->capacity > total + 1)
            (void)t->reserve(total + 1);
        if (t->data != nullptr && total < t->capacity)
            t->data[total] = 0;
        r.data = nullptr;
        r.len = 0;
    }

    // Widens the gap to at least n units; *units, when it lies in the target's
    // buffer, is re-pointed after the move.
    template <typename Tr>
    static int openGap(typename Tr::Rewriter& r, size_t n, const typename Tr::Unit** units) noexcept
    {
        if (r.readPos - r.writePos >= n)
            return 0;
        auto* t = r.target;
        size_t used = r.readPos + r.len;
        t->len = used;
        bool own = inside(*units, t->data, t->capacity);
        size_t offset = own ? static_cast<size_t>(*units - t->data) : 0;
        size_t shift = sizeSum(n, kKaReplaceGapSlack);
        if (ensureCapacity(*t, sizeSum(used, shift, 1)) != 0)
            return 1;
        copyUnits(t->data + r.readPos + shift, t->data + r.readPos, r.len);
        if (own) {
            if (offset >= r.readPos)
                offset += shift;
            *units = t->data + offset;
        }
        r.readPos += shift;
        r.data = t->data + r.readPos;
        return 0;
    }

    template <typename Tr>
    static int emit(typename Tr::Rewriter& r, const typename Tr::Unit* d, size_t n) noexcept
    {
        if (r.target == nullptr)
            return 1;
        if (n == 0)
            return 0;
        if (openGap<Tr>(r, n, &d) != 0)
            return 1;
        copyUnits(r.target->data + r.writePos, d, n);
        r.writePos += n;
        return 0;
    }

    // The text between two quote units, each quote unit in it doubled; a
    // character cut by the end of the text writes nothing.
    template <typename Tr>
    static int emitQuoted(typename Tr::Rewriter& r, const typename Tr::Unit* d, size_t n,
                          typename Tr::Unit quoteUnit) noexcept
    {
        using Unit = typename Tr::Unit;
        if (r.target == nullptr)
            return 1;
        size_t doubled = 0;
        for (size_t i = 0; i < n; i += Tr::stepIn(d, i, n, r)) {
            if (Tr::cutAt(d, i, n)) {
                Tr::postCut();
                return 1;
            }
            if (d[i] == quoteUnit)
                ++doubled;
        }
        if (openGap<Tr>(r, sizeSum(n, doubled, 2), &d) != 0)
            return 1;
        Unit* out = r.target->data + r.writePos;
        *out++ = quoteUnit;
        for (size_t i = 0; i < n;) {
            size_t units = Tr::stepIn(d, i, n, r);
            if (d[i] == quoteUnit)
                *out++ = quoteUnit;
            copyUnits(out, d + i, units);
            out += units;
            i += units;
        }
        *out++ = quoteUnit;
        r.writePos = static_cast<size_t>(out - r.target->data);
        return 0;
    }

    template <typename Tr>
    static void copyThrough(typename Tr::Rewriter& r, size_t n) noexcept
    {
        if (n > r.len)
            n = r.len;
        if (r.target != nullptr && r.writePos != r.readPos)
            copyUnits(r.target->data + r.writePos, r.data, n);
        r.writePos += n;
        skip(r, n);
    }

    template <typename R>
    static void skip(R& r, size_t n) noexcept
    {
        if (n > r.len)
            n = r.len;
        r.readPos += n;
        r.data += n;
        r.len -= n;
    }
};
