// 8-bit strings: the view (KaSubString), the owning growable string
// (KaString), its wiping form for secrets (KaStringEx) and the in-place
// rewriter (KaReplaceString). Connection strings, ini values, SQL text and
// messages all live in these classes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"
#include "foundation/katext.h"

class KaArray;
class KaString;

class KaSubString : public KaObject {
public:
    size_t len;
    size_t lenAtSet;
    char* data;
    int32_t codePage;

    KaSubString() noexcept;
    explicit KaSubString(int32_t codePage) noexcept;
    KaSubString(const char* data, size_t length) noexcept;
    KaSubString(const char* data, size_t length, int32_t codePage) noexcept;
    explicit KaSubString(const char* text) noexcept;
    KaSubString(const char* text, KaTextEncoding codePage) noexcept;
    // As the two above, and *length (when not null) receives the text's
    // length, so a caller that needs it does not measure the text twice.
    KaSubString(const char* text, size_t* length) noexcept;
    KaSubString(const char* text, KaTextEncoding codePage, size_t* length) noexcept;
    ~KaSubString() override;

    // Case-insensitive order of the two texts (the other must be a KaSubString).
    int16_t compare(const KaObject& other) const override;

    void set(const char* data, size_t length) noexcept;
    void set(const char* data, size_t length, int32_t codePage) noexcept;

    // Sum of the upper-cased first five bytes: a text and its upper-case
    // form hash alike.
    size_t hash() const noexcept;
    // Return `len` when absent.
    size_t findChar(char byte, size_t start) const noexcept;
    size_t find(const char* pattern, size_t start) const noexcept;
    size_t countChar(char byte) const noexcept;
    size_t indexIn(const char* const* list, size_t count) const noexcept;
    size_t indexInNoCase(const char* const* list, size_t count) const noexcept;
    void trimRight() noexcept;
    int isBraced() const noexcept;
    int needsBraces() const noexcept;
    [[nodiscard]] int16_t stripBracesInto(KaString& destination) const noexcept;
    [[nodiscard]] int16_t unescapeBracedInto(KaString& destination, char closing) const noexcept;
    // The destination must hold len + 1 bytes (unquote) or 2 * len + 3 (quote).
    char* unquoteInto(char* destination) const noexcept;
    char* quoteInto(char* destination) const noexcept;
    // Appends one owned KaString per non-empty line to the array.
    [[nodiscard]] int16_t splitLines(KaArray& lines) const noexcept;
};

class KaString : public KaSubString {
public:
    size_t capacity;
    uint8_t owns;

    KaString() noexcept;
    explicit KaString(int32_t codePage) noexcept;
    KaString(const KaString&) = delete;
    KaString& operator=(const KaString&) = delete;
    ~KaString() override;

    // Grows (or shrinks) the buffer to exactly newCapacity bytes.
    [[nodiscard]] virtual int16_t reserve(size_t newCapacity);

    // A new block of n + 1 bytes holding the text and a zero byte; an owned
    // buffer held before is released.
    [[nodiscard]] int16_t assign(const char* text) noexcept;
    [[nodiscard]] int16_t assign(const char* text, KaTextEncoding codePage) noexcept;
    [[nodiscard]] int16_t assign(const char* data, size_t n) noexcept;
    [[nodiscard]] int16_t assign(const char* data, size_t n, int32_t codePage) noexcept;
    [[nodiscard]] int16_t allocate(size_t n) noexcept;
    [[nodiscard]] int16_t allocate(size_t n, int32_t codePage) noexcept;
    // Borrows a caller's buffer: such a string refuses to grow
    // (MSG_STRING_BUFFER_BORROWED).
    void attach(char* data, size_t capacity, int32_t codePage, size_t length) noexcept;
    void attach(char* data, size_t capacity, size_t length) noexcept;
    // Takes ownership of a block from ramAlloc.
    void adopt(char* data, size_t capacity, int32_t codePage, size_t length) noexcept;
    // Frees an owned buffer (wiped first by the Ex form); the string is
    // empty afterwards and may grow again.
    void freeBuffer() noexcept;

    // Appends keep a zero byte behind the text.
    [[nodiscard]] int16_t appendChar(char byte) noexcept;
    [[nodiscard]] int16_t append(const char* text) noexcept;
    [[nodiscard]] int16_t append(const char* data, size_t n) noexcept;
    [[nodiscard]] int16_t appendNumber(uint64_t value) noexcept;
    [[nodiscard]] int16_t appendSignedNumber(int64_t value) noexcept;
    // Replaces count bytes at position by n bytes of data (n 0 with data: the
    // terminated length of data; data null: deletion); writes a terminator.
    [[nodiscard]] int16_t replace(size_t position, size_t count, const char* data, size_t n) noexcept;
    [[nodiscard]] int16_t replaceRange(const KaSubString& range, const char* data, size_t n) noexcept;
    [[nodiscard]] int16_t replaceAll(const char* pattern, size_t count, const char* replacement, size_t n) noexcept;
    [[nodiscard]] int16_t replaceAll(const char* pattern, const char* replacement) noexcept;
    [[nodiscard]] int16_t quote(char quoteByte) noexcept;
    void unquote() noexcept;
    [[nodiscard]] int16_t appendQuoted(const KaString& other, char quoteByte) noexcept;
    [[nodiscard]] int16_t ensureTrailingNewlines(size_t n) noexcept;
    [[nodiscard]] int16_t wrap(size_t width, char q1, char q2, char q3) noexcept;
    [[nodiscard]] int16_t joinLines(char q1, char q2, char q3) noexcept;
    [[nodiscard]] int16_t tabsToBlanks(char q1, char q2, char q3) noexcept;
    [[nodiscard]] int16_t crlfToBlanks(char q1, char q2, char q3) noexcept;
    [[nodiscard]] int16_t removeComments() noexcept;

    // Calls reserve only when there is no buffer or it is smaller than needed.
    [[nodiscard]] int16_t ensureCapacity(size_t needed) noexcept;

protected:
    friend struct KaStringOps;

    // Set by KaStringEx. A member rather than a virtual function because
    // freeBuffer, assign and the temporaries of the editing operations are
    // not virtual, yet each of them gives up buffers that may hold a secret.
    uint8_t wipes;
};

// The form for secrets: no buffer it gives up keeps its contents.
class KaStringEx : public KaString {
public:
    KaStringEx() noexcept;
    explicit KaStringEx(int32_t codePage) noexcept;
    ~KaStringEx() override;
    [[nodiscard]] int16_t reserve(size_t newCapacity) override;
};

// Rewrites a KaString in place from front to back while reading it. The
// inherited view is the unread remainder. Destroy the rewriter before the
// target is used again: only its destructor makes the target consistent.
class KaReplaceString : public KaSubString {
public:
    KaString* target;
    size_t writePos;
    size_t readPos;

    KaReplaceString() noexcept;
    explicit KaReplaceString(int32_t codePage) noexcept;
    explicit KaReplaceString(KaString& target) noexcept;
    ~KaReplaceString() override;

    // Inserts n bytes at the write position, opening the gap when needed.
    [[nodiscard]] int16_t emit(const char* data, size_t n) noexcept;
    [[nodiscard]] int16_t emitQuoted(const char* data, size_t n, char quoteByte) noexcept;
    // Moves n unread bytes to the output (n at most the view's len).
    void copyThrough(size_t n) noexcept;
    // Drops n unread bytes (n at most the view's len).
    void skip(size_t n) noexcept;
};
