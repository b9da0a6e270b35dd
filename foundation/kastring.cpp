// 8-bit strings: view, owning string, wiping string and in-place rewriter.
#include "foundation/kastring.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "foundation/dbcs.h"
#include "foundation/numtext.h"
#include "foundation/fast.h"
#include "foundation/kaarray.h"
#include "foundation/kastr.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

// Bytes examined by KaSubString::hash.
constexpr size_t kHashPrefix = 5;
// Room for the hashed prefix even if upper-casing lengthens a character.
constexpr size_t kHashBufferSize = 32;
// Longest decimal form of a 64-bit number handed to the number writers,
// which ask for 33 characters of room.
constexpr size_t kNumberBufferSize = 33;
constexpr size_t kLongestNumber = 20;
// Spare bytes the rewriter opens beyond a pending write, so that a run of
// small emits moves the remainder once per this many bytes.
constexpr size_t kReplaceGapSlack = 512;
// Spare bytes wrap reserves for the line breaks it inserts.
constexpr size_t kWrapSlack = 100;

const char kEmpty[1] = {0};

// a + b + c, or SIZE_MAX when it does not fit (no block can be that large).
size_t sizeSum(size_t a, size_t b, size_t c = 0) noexcept
{
    if (b > SIZE_MAX - a)
        return SIZE_MAX;
    size_t s = a + b;
    if (c > SIZE_MAX - s)
        return SIZE_MAX;
    return s + c;
}

// Length of the character at i, never past len. Kind 1 characters are at
// most two bytes, and stepping one of them reads its second byte, so the
// last byte is measured without looking further.
size_t charLenAt(const char* data, size_t i, size_t len, int32_t kind) noexcept
{
    if (i + 1 >= len)
        return 1;
    size_t n = KaDbcsCharLen(data + i, kind);
    if (n == 0)
        n = 1;
    return n > len - i ? len - i : n;
}

bool isQuoteByte(char c, char q1, char q2, char q3) noexcept
{
    return (q1 != 0 && c == q1) || (q2 != 0 && c == q2) || (q3 != 0 && c == q3);
}

// Quoted-run tracking shared by wrap and the run collapsing: outside a run a
// quote byte opens one that only the same byte closes.
void trackQuote(char c, char& open, char q1, char q2, char q3) noexcept
{
    if (q1 == 0)
        return;
    if (open != 0) {
        if (c == open)
            open = 0;
    } else if (isQuoteByte(c, q1, q2, q3)) {
        open = c;
    }
}

int isNewline(char c)
{
    return c == '\n';
}

int isTab(char c)
{
    return c == '\t';
}

int isCrOrLf(char c)
{
    return c == '\r' || c == '\n';
}

// Room needed to quote n bytes: strQuote doubles every quote byte of the
// whole text, zero bytes included, so the quotes are counted over all of it.
size_t quotedSize(const char* text, size_t n, char quoteByte) noexcept
{
    size_t quotes = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == quoteByte)
            ++quotes;
    }
    return sizeSum(n, quotes, 3);
}

bool inside(const char* p, const char* start, size_t n) noexcept
{
    auto a = reinterpret_cast<uintptr_t>(p);
    auto s = reinterpret_cast<uintptr_t>(start);
    return start != nullptr && a >= s && a - s < n;
}

}  // namespace

// ---- KaSubString ---------------------------------------------------------

KaSubString::KaSubString() noexcept : len(0), lenAtSet(0), data(nullptr), codePage(KA_TEXT_LOCALE) {}

KaSubString::KaSubString(int32_t cp) noexcept : len(0), lenAtSet(0), data(nullptr), codePage(cp) {}

KaSubString::KaSubString(const char* d, size_t length) noexcept
    : len(length), lenAtSet(length), data(const_cast<char*>(d)), codePage(KA_TEXT_LOCALE)
{
}

KaSubString::KaSubString(const char* d, size_t length, int32_t cp) noexcept
    : len(length), lenAtSet(length), data(const_cast<char*>(d)), codePage(cp)
{
}

KaSubString::KaSubString(const char* text) noexcept
    : KaSubString(text, text != nullptr ? fastStrlen(text) : 0, KA_TEXT_LOCALE)
{
}

KaSubString::KaSubString(const char* text, KaTextEncoding cp) noexcept
    : KaSubString(text, text != nullptr ? fastStrlen(text) : 0, cp)
{
}

KaSubString::KaSubString(const char* text, size_t* length) noexcept : KaSubString(text, KA_TEXT_LOCALE, length) {}

KaSubString::KaSubString(const char* text, KaTextEncoding cp, size_t* length) noexcept : KaSubString(text, cp)
{
    if (length != nullptr)
        *length = len;
}

KaSubString::~KaSubString() = default;

int16_t KaSubString::compare(const KaObject& other) const
{
    const auto& o = static_cast<const KaSubString&>(other);
    return static_cast<int16_t>(strCompareNoCaseN(data != nullptr ? data : kEmpty, len,
                                                  o.data != nullptr ? o.data : kEmpty, o.len));
}

void KaSubString::set(const char* d, size_t length) noexcept
{
    set(d, length, KA_TEXT_LOCALE);
}

void KaSubString::set(const char* d, size_t length, int32_t cp) noexcept
{
    data = const_cast<char*>(d);
    len = length;
    lenAtSet = length;
    codePage = cp;
}

size_t KaSubString::hash() const noexcept
{
    char buffer[kHashBufferSize] = {};
    size_t n = len < kHashPrefix ? len : kHashPrefix;
    if (data != nullptr)
        fastMemcpy(buffer, data, n);
    buffer[n] = 0;
    KaDbcsStrUpper(buffer);
    size_t sum = 0;
    for (size_t i = 0; i < kHashBufferSize && buffer[i] != 0; ++i)
        sum += static_cast<unsigned char>(buffer[i]);
    return sum;
}

size_t KaSubString::findChar(char byte, size_t start) const noexcept
{
    if (data == nullptr)
        return len;
    for (size_t i = start; i < len; i += charLenAt(data, i, len, codePage)) {
        if (data[i] == byte)
            return i;
    }
    return len;
}

size_t KaSubString::find(const char* pattern, size_t start) const noexcept
{
    if (data == nullptr || pattern == nullptr || pattern[0] == 0)
        return len;
    size_t plen = fastStrlen(pattern);
    if (plen > len)
        return len;
    for (size_t i = start; i <= len - plen; i += charLenAt(data, i, len, codePage)) {
        if (data[i] == pattern[0] && fastMemeq(data + i, pattern, plen))
            return i;
    }
    return len;
}

size_t KaSubString::countChar(char byte) const noexcept
{
    size_t n = 0;
    if (data == nullptr)
        return 0;
    for (size_t i = 0; i < len && data[i] != 0; i += charLenAt(data, i, len, codePage)) {
        if (data[i] == byte)
            ++n;
    }
    return n;
}

size_t KaSubString::indexIn(const char* const* list, size_t count) const noexcept
{
    for (size_t i = 0; i < count; ++i) {
        const char* entry = list[i];
        if (entry == nullptr)
            continue;
        size_t n = fastStrlen(entry);
        if (n == len && (n == 0 || fastMemeq(entry, data, n)))
            return i;
    }
    return count;
}

size_t KaSubString::indexInNoCase(const char* const* list, size_t count) const noexcept
{
    for (size_t i = 0; i < count; ++i) {
        const char* entry = list[i];
        if (entry == nullptr)
            continue;
        if (strCompareNoCaseN(data != nullptr ? data : kEmpty, len, entry, fastStrlen(entry)) == 0)
            return i;
    }
    return count;
}

void KaSubString::trimRight() noexcept
{
    while (len > 0 && std::isspace(static_cast<unsigned char>(data[len - 1])))
        --len;
}

int KaSubString::isBraced() const noexcept
{
    return data != nullptr && len >= 2 && data[0] == '{' && data[len - 1] == '}';
}

int KaSubString::needsBraces() const noexcept
{
    if (len == 0 || data == nullptr)
        return 0;
    return data[0] == '{' || findChar(';', 0) < len;
}

int16_t KaSubString::stripBracesInto(KaString& destination) const noexcept
{
    destination.len = 0;
    destination.lenAtSet = 0;
    if (!isBraced())
        return 0;
    return destination.append(data + 1, len - 2);
}

int16_t KaSubString::unescapeBracedInto(KaString& destination, char closing) const noexcept
{
    if (destination.ensureCapacity(sizeSum(len, destination.len, 1)) != 0)
        return 1;
    size_t written = 0;
    char* out = destination.data;
    if (data != nullptr && len >= 2) {
        size_t end = len - 1;  // the last byte is the closing brace
        size_t i = 1;
        while (i < end) {
            if (data[i] == closing && i + 1 < end) {
                out[written++] = data[i + 1];
                i += 2;
            } else if (i + 1 < end && KaDbcsIsDoubleByte(data + i)) {
                out[written++] = data[i];
                out[written++] = data[i + 1];
                i += 2;
            } else {
                out[written++] = data[i++];
            }
        }
    }
    destination.len = written;
    out[written] = 0;
    return 0;
}

char* KaSubString::unquoteInto(char* destination) const noexcept
{
    if (data == nullptr || len < 2) {
        destination[0] = 0;
        return destination;
    }
    return strUnquote(destination, data, len);
}

char* KaSubString::quoteInto(char* destination) const noexcept
{
    return strQuote(destination, data != nullptr ? data : kEmpty, len, codePage, '\'');
}

int16_t KaSubString::splitLines(KaArray& lines) const noexcept
{
    // The pieces are cut by counted search: a view may end where its
    // buffer ends, so no terminator is written into it.
    lines.flags |= KaArray::ownsElements;
    size_t start = 0;
    while (start <= len) {
        size_t nl = findChar('\n', start);
        size_t n = nl - start;
        if (n > 0) {
            auto* line = new KaString(codePage);
            if (line == nullptr)
                return 1;
            if (line->assign(data + start, n, codePage) != 0 || lines.append(line) != 0) {
                delete line;
                return 1;
            }
        }
        if (nl >= len)
            break;
        start = nl + 1;
    }
    return 0;
}

// ---- KaString ------------------------------------------------------------

KaString::KaString() noexcept : KaSubString(), capacity(0), owns(1), wipes(0) {}

KaString::KaString(int32_t cp) noexcept : KaSubString(cp), capacity(0), owns(1), wipes(0) {}

KaString::~KaString()
{
    releaseOwned();
}

void KaString::releaseOwned() noexcept
{
    if (owns && data != nullptr) {
        if (wipes)
            fastMemzero(data, capacity);
        ramFree(data);
    }
}

int16_t KaString::reserve(size_t newCapacity)
{
    if (!owns) {
        errPost(MSG_STRING_BUFFER_BORROWED);
        return 1;
    }
    if (data != nullptr) {
        void* block = data;
        if (ramRealloc(&block, newCapacity) != 0)
            return 1;
        data = static_cast<char*>(block);
    } else {
        data = static_cast<char*>(ramAlloc(newCapacity == 0 ? 1 : newCapacity));
        if (data == nullptr)
            return 1;
    }
    capacity = newCapacity;
    if (len > capacity)
        len = capacity;
    if (lenAtSet > capacity)
        lenAtSet = capacity;
    return 0;
}

int16_t KaString::ensureCapacity(size_t needed) noexcept
{
    if (needed == SIZE_MAX) {
        ramOutOfMemory();
        return 1;
    }
    if (data != nullptr && capacity >= needed)
        return 0;
    return reserve(needed);
}

int16_t KaString::assign(const char* text) noexcept
{
    return assign(text, text != nullptr ? fastStrlen(text) : 0, KA_TEXT_LOCALE);
}

int16_t KaString::assign(const char* text, KaTextEncoding cp) noexcept
{
    return assign(text, text != nullptr ? fastStrlen(text) : 0, cp);
}

int16_t KaString::assign(const char* d, size_t n) noexcept
{
    return assign(d, n, KA_TEXT_LOCALE);
}

int16_t KaString::assign(const char* d, size_t n, int32_t cp) noexcept
{
    if (d == nullptr)
        n = 0;
    if (n == SIZE_MAX) {
        ramOutOfMemory();
        return 1;
    }
    auto* block = static_cast<char*>(ramAlloc(n + 1));
    if (block == nullptr)
        return 1;
    if (n > 0)
        fastMemcpy(block, d, n);
    block[n] = 0;
    // The old buffer goes only after the copy: the text may have come from it.
    releaseOwned();
    data = block;
    len = n;
    lenAtSet = n;
    capacity = n + 1;
    owns = 1;
    codePage = cp;
    return 0;
}

int16_t KaString::allocate(size_t n) noexcept
{
    return allocate(n, KA_TEXT_LOCALE);
}

int16_t KaString::allocate(size_t n, int32_t cp) noexcept
{
    if (n == SIZE_MAX) {
        ramOutOfMemory();
        return 1;
    }
    auto* block = static_cast<char*>(ramAlloc(n + 1));
    if (block == nullptr)
        return 1;
    block[0] = 0;
    releaseOwned();
    data = block;
    len = 0;
    lenAtSet = 0;
    capacity = n + 1;
    owns = 1;
    codePage = cp;
    return 0;
}

void KaString::attach(char* d, size_t cap, int32_t cp, size_t length) noexcept
{
    if (d != data)
        releaseOwned();
    data = d;
    capacity = cap;
    codePage = cp;
    len = length > cap ? cap : length;
    lenAtSet = len;
    owns = 0;
}

void KaString::attach(char* d, size_t cap, size_t length) noexcept
{
    attach(d, cap, KA_TEXT_LOCALE, length);
}

void KaString::adopt(char* d, size_t cap, int32_t cp, size_t length) noexcept
{
    attach(d, cap, cp, length);
    owns = 1;
}

void KaString::freeBuffer() noexcept
{
    releaseOwned();
    data = nullptr;
    len = 0;
    lenAtSet = 0;
    capacity = 0;
    owns = 1;
}

int16_t KaString::appendChar(char byte) noexcept
{
    if (ensureCapacity(sizeSum(len, 2)) != 0)
        return 1;
    data[len++] = byte;
    data[len] = 0;
    return 0;
}

int16_t KaString::append(const char* text) noexcept
{
    return append(text, text != nullptr ? fastStrlen(text) : 0);
}

int16_t KaString::append(const char* d, size_t n) noexcept
{
    if (d == nullptr)
        n = 0;
    // Text taken from this string's own buffer must survive its reallocation.
    bool own = inside(d, data, capacity);
    size_t offset = own ? static_cast<size_t>(d - data) : 0;
    if (ensureCapacity(sizeSum(len, n, 1)) != 0)
        return 1;
    if (own)
        d = data + offset;
    if (n > 0)
        std::memmove(data + len, d, n);
    len += n;
    data[len] = 0;
    return 0;
}

int16_t KaString::appendNumber(uint64_t value) noexcept
{
    char digits[kNumberBufferSize];
    if (ensureCapacity(sizeSum(len, kLongestNumber, 1)) != 0)
        return 1;
    size_t n = u64ToText(digits, value);
    return append(digits, n);
}

int16_t KaString::appendSignedNumber(int64_t value) noexcept
{
    char digits[kNumberBufferSize];
    if (ensureCapacity(sizeSum(len, kLongestNumber, 1)) != 0)
        return 1;
    size_t n = i64ToText(digits, value);
    return append(digits, n);
}

int16_t KaString::replace(size_t position, size_t count, const char* d, size_t n) noexcept
{
    if (d == nullptr)
        n = 0;
    else if (n == 0)
        n = fastStrlen(d);
    // Positions past the text are pulled back to it rather than written
    // beyond the buffer.
    if (position > len)
        position = len;
    if (count > len - position)
        count = len - position;

    // Replacement text taken from this buffer would be moved by the edit.
    char* copy = nullptr;
    if (n > 0 && inside(d, data, capacity)) {
        copy = static_cast<char*>(ramAlloc(n));
        if (copy == nullptr)
            return 1;
        fastMemcpy(copy, d, n);
        d = copy;
    }

    size_t tail = len - position - count;
    size_t newLen = sizeSum(len - count, n);
    int16_t rc = 0;
    if (n > count) {
        if (ensureCapacity(sizeSum(newLen, 1)) != 0) {
            rc = 1;
        } else {
            fastMemcpyW(data + position + n, data + position + count, tail);
        }
    } else if (n < count) {
        fastMemcpy(data + position + n, data + position + count, tail);
    }
    if (rc == 0) {
        if (n > 0)
            fastMemcpy(data + position, d, n);
        len = newLen;
        if (data != nullptr && len < capacity)
            data[len] = 0;
    }
    if (copy != nullptr) {
        if (wipes)
            fastMemzero(copy, n);
        ramFree(copy);
    }
    return rc;
}

int16_t KaString::replaceRange(const KaSubString& range, const char* d, size_t n) noexcept
{
    size_t position = inside(range.data, data, len + 1) ? static_cast<size_t>(range.data - data) : len;
    return replace(position, range.len, d, n);
}

int16_t KaString::replaceAll(const char* pattern, size_t count, const char* replacement, size_t n) noexcept
{
    if (pattern == nullptr || pattern[0] == 0)
        return 0;
    if (replacement == nullptr)
        n = 0;
    else if (n == 0)
        n = fastStrlen(replacement);
    size_t plen = fastStrlen(pattern);
    // Resume after the inserted text and after whatever part of the match
    // was kept, so that a kept match is not found and replaced again.
    size_t kept = count < plen ? plen - count : 0;
    size_t pos = find(pattern, 0);
    while (pos < len) {
        if (replace(pos, count, n == 0 ? nullptr : replacement, n) != 0)
            return 1;
        pos = find(pattern, pos + n + kept);
    }
    return 0;
}

int16_t KaString::replaceAll(const char* pattern, const char* replacement) noexcept
{
    if (pattern == nullptr)
        return 0;
    return replaceAll(pattern, fastStrlen(pattern), replacement,
                      replacement != nullptr ? fastStrlen(replacement) : 0);
}

int16_t KaString::quote(char quoteByte) noexcept
{
    size_t n = len;
    auto* copy = static_cast<char*>(ramAlloc(sizeSum(n, 1)));
    if (copy == nullptr)
        return 1;
    if (n > 0)
        fastMemcpy(copy, data, n);
    copy[n] = 0;
    int16_t rc = 0;
    if (ensureCapacity(quotedSize(copy, n, quoteByte)) != 0) {
        rc = 1;
    } else {
        char* end = strQuote(data, copy, n, codePage, quoteByte);
        len = static_cast<size_t>(end - data);
    }
    if (wipes)
        fastMemzero(copy, n + 1);
    ramFree(copy);
    return rc;
}

void KaString::unquote() noexcept
{
    if (data == nullptr || len < 2)
        return;
    char* end = strUnquote(data, data, len);
    len = static_cast<size_t>(end - data);
}

int16_t KaString::appendQuoted(const KaString& other, char quoteByte) noexcept
{
    size_t n = other.len;
    const char* source = other.data != nullptr ? other.data : kEmpty;
    if (ensureCapacity(sizeSum(len, quotedSize(source, n, quoteByte))) != 0)
        return 1;
    source = other.data != nullptr ? other.data : kEmpty;  // this string may be the other
    char* end = strQuote(data + len, source, n, other.codePage, quoteByte);
    len = static_cast<size_t>(end - data);
    return 0;
}

int16_t KaString::ensureTrailingNewlines(size_t n) noexcept
{
    size_t have = 0;
    while (have < len && data[len - 1 - have] == '\n')
        ++have;
    for (; have < n; ++have) {
        if (appendChar('\n') != 0)
            return 1;
    }
    return 0;
}

int16_t KaString::wrap(size_t width, char q1, char q2, char q3) noexcept
{
    if (width >= len)
        return 0;
    KaString temp(codePage);
    temp.wipes = wipes;
    if (temp.reserve(sizeSum(len, kWrapSlack, 1)) != 0)
        return 1;
    size_t lineStart = 0;
    size_t lineCount = 0;
    size_t lastBlank = SIZE_MAX;
    char open = 0;
    for (size_t i = 0; i < len; ++i) {
        char c = data[i];
        trackQuote(c, open, q1, q2, q3);
        if (open == 0 && c == ' ')
            lastBlank = i;
        ++lineCount;
        if (lineCount > width && lastBlank != SIZE_MAX && lastBlank > lineStart) {
            if (temp.append(data + lineStart, lastBlank - lineStart) != 0 || temp.appendChar('\n') != 0)
                return 1;
            lineStart = lastBlank + 1;
            lineCount = i - lastBlank;
            lastBlank = SIZE_MAX;
        }
    }
    if (temp.append(data + lineStart, len - lineStart) != 0)
        return 1;
    // Room first, so that a failure leaves the text as it was.
    if (ensureCapacity(sizeSum(temp.len, 1)) != 0)
        return 1;
    len = 0;
    lenAtSet = 0;
    return append(temp.data, temp.len);
}

int16_t KaString::collapseRuns(int (*isRunByte)(char), char q1, char q2, char q3) noexcept
{
    KaString temp(codePage);
    temp.wipes = wipes;
    size_t cut = 0;
    bool removed = false;
    char open = 0;
    for (size_t i = 0; i < len; ++i) {
        char c = data[i];
        trackQuote(c, open, q1, q2, q3);
        if (open != 0 || !isRunByte(c))
            continue;
        if (!removed && temp.reserve(sizeSum(len, 1)) != 0)
            return 1;
        removed = true;
        if (temp.append(data + cut, i - cut) != 0)
            return 1;
        if (i + 1 < len && !isRunByte(data[i + 1]) && temp.appendChar(' ') != 0)
            return 1;
        cut = i + 1;
    }
    if (!removed)
        return 0;
    if (temp.append(data + cut, len - cut) != 0)
        return 1;
    // The result is never longer than the text, so it fits where it is.
    fastMemcpy(data, temp.data, temp.len);
    len = temp.len;
    if (len < capacity)
        data[len] = 0;
    return 0;
}

int16_t KaString::joinLines(char q1, char q2, char q3) noexcept
{
    return collapseRuns(isNewline, q1, q2, q3);
}

int16_t KaString::tabsToBlanks(char q1, char q2, char q3) noexcept
{
    return collapseRuns(isTab, q1, q2, q3);
}

int16_t KaString::crlfToBlanks(char q1, char q2, char q3) noexcept
{
    return collapseRuns(isCrOrLf, q1, q2, q3);
}

int16_t KaString::removeComments() noexcept
{
    for (size_t pos = find("--", 0); pos < len; pos = find("--", pos)) {
        size_t nl = find("\n", pos + 2);
        if (replace(pos, nl - pos, nullptr, 0) != 0)
            return 1;
    }
    for (size_t pos = find("/*", 0); pos < len; pos = find("/*", pos)) {
        size_t close = find("*/", pos + 2);
        size_t end = close < len ? close + 2 : len;
        if (replace(pos, end - pos, nullptr, 0) != 0)
            return 1;
    }
    return 0;
}

// ---- KaStringEx ----------------------------------------------------------

KaStringEx::KaStringEx() noexcept : KaString()
{
    wipes = 1;
}

KaStringEx::KaStringEx(int32_t cp) noexcept : KaString(cp)
{
    wipes = 1;
}

KaStringEx::~KaStringEx()
{
    if (owns && data != nullptr) {
        fastMemzero(data, capacity);
        ramFree(data);
    }
    data = nullptr;
}

int16_t KaStringEx::reserve(size_t newCapacity)
{
    if (!owns) {
        errPost(MSG_STRING_BUFFER_BORROWED);
        return 1;
    }
    // No realloc: it could give the old block back unwiped.
    auto* block = static_cast<char*>(ramAlloc(newCapacity == 0 ? 1 : newCapacity));
    if (block == nullptr)
        return 1;
    if (len > newCapacity)
        len = newCapacity;
    if (lenAtSet > newCapacity)
        lenAtSet = newCapacity;
    if (data != nullptr) {
        if (len > 0)
            fastMemcpy(block, data, len);
        fastMemzero(data, capacity);
        ramFree(data);
    }
    data = block;
    capacity = newCapacity;
    return 0;
}

// ---- KaReplaceString -----------------------------------------------------

KaReplaceString::KaReplaceString() noexcept : KaSubString(), target(nullptr), writePos(0), readPos(0) {}

KaReplaceString::KaReplaceString(int32_t cp) noexcept : KaSubString(cp), target(nullptr), writePos(0), readPos(0)
{
}

KaReplaceString::KaReplaceString(KaString& t) noexcept
    : KaSubString(t.data, t.len, t.codePage), target(&t), writePos(0), readPos(0)
{
}

KaReplaceString::~KaReplaceString()
{
    closeGap();
}

void KaReplaceString::closeGap() noexcept
{
    if (target == nullptr)
        return;
    target->len = writePos + len;
    if (writePos != readPos) {
        if (len > 0)
            fastMemcpy(target->data + writePos, target->data + readPos, len);
        // Give the gap back; a borrowed buffer is the caller's and keeps its size.
        if (target->owns)
            target->reserve(target->len + 1);
    }
    if (target->data != nullptr && target->len < target->capacity)
        target->data[target->len] = 0;
    data = nullptr;
    len = 0;
}

int16_t KaReplaceString::emit(const char* d, size_t n) noexcept
{
    if (n == 0)
        return 0;
    if (target == nullptr)
        return 1;
    if (readPos - writePos < n) {
        size_t used = readPos + len;
        target->len = used;
        // Input taken from the unread text or the output written so far is
        // re-pointed after the move.
        enum { none, unread, written } region = none;
        size_t offset = 0;
        if (inside(d, data, len)) {
            region = unread;
            offset = static_cast<size_t>(d - data);
        } else if (inside(d, target->data, writePos)) {
            region = written;
            offset = static_cast<size_t>(d - target->data);
        }
        size_t shift = sizeSum(n, kReplaceGapSlack);
        if (target->ensureCapacity(sizeSum(used, shift, 1)) != 0)
            return 1;
        if (len > 0)
            fastMemcpyW(target->data + readPos + shift, target->data + readPos, len);
        readPos += shift;
        data = target->data + readPos;
        if (region == unread)
            d = data + offset;
        else if (region == written)
            d = target->data + offset;
    }
    std::memmove(target->data + writePos, d, n);
    writePos += n;
    return 0;
}

int16_t KaReplaceString::emitQuoted(const char* d, size_t n, char quoteByte) noexcept
{
    if (target == nullptr)
        return 1;
    // The input may lie in the text being rewritten, which emit moves: copy it first.
    char* copy = static_cast<char*>(ramAlloc(n));
    if (copy == nullptr)
        return 1;
    if (n > 0)
        fastMemcpy(copy, d, n);
    int16_t rc = emit(&quoteByte, 1);
    size_t i = 0;
    size_t runStart = 0;
    while (rc == 0 && i < n) {
        size_t step = charLenAt(copy, i, n, codePage);
        if (copy[i] == quoteByte) {
            rc = emit(copy + runStart, i + 1 - runStart);
            if (rc == 0)
                rc = emit(&quoteByte, 1);
            runStart = i + 1;
        }
        i += step;
    }
    if (rc == 0 && runStart < n)
        rc = emit(copy + runStart, n - runStart);
    if (rc == 0)
        rc = emit(&quoteByte, 1);
    if (target->wipes != 0)
        fastMemzero(copy, n);
    ramFree(copy);
    return rc;
}

void KaReplaceString::copyThrough(size_t n) noexcept
{
    if (n > len)
        n = len;
    if (target != nullptr && writePos != readPos && n > 0)
        fastMemcpy(target->data + writePos, data, n);
    writePos += n;
    readPos += n;
    data += n;
    len -= n;
}

void KaReplaceString::skip(size_t n) noexcept
{
    if (n > len)
        n = len;
    readPos += n;
    data += n;
    len -= n;
}
