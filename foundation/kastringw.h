// UTF-16 strings: the view KaSubStringW, the owning growable KaStringW with
// its cached narrow copy, the wiping KaStringWEx, the in-place rewriter
// KaReplaceStringW, and the upper-cased key caches of the SQL scanner.
// Lengths, positions and capacities count 16-bit units; a surrogate pair is
// one character.
#pragma once
#include <cstddef>
#include <cstdint>
#include <unicode/ucnv.h>
#include "foundation/kaobject.h"
#include "foundation/katext.h"

class KaArray;
class KaSubString;
class KaStringW;

class KaSubStringW : public KaObject {
public:
    size_t len = 0;
    uint16_t* data = nullptr;

    KaSubStringW() noexcept = default;
    KaSubStringW(const uint16_t* text, size_t length) noexcept;
    explicit KaSubStringW(const uint16_t* terminated) noexcept;
    ~KaSubStringW() override;

    // Case-insensitive order of the two texts.
    int16_t compare(const KaObject& other) const override;

    void set(const uint16_t* text, size_t length) noexcept;
    uint32_t hash() const noexcept;
    size_t findChar(uint16_t unit, size_t start) const noexcept;
    size_t find(const uint16_t* pattern, size_t start) const noexcept;
    size_t countChar(uint16_t unit) const noexcept;
    size_t indexIn(const uint16_t* const* list, size_t count) const noexcept;
    size_t indexInNoCase(const uint16_t* const* list, size_t count) const noexcept;
    void trimRight() noexcept;
    int isBraced() const noexcept;
    int needsBraces() const noexcept;
    [[nodiscard]] int stripBracesInto(KaStringW& dest) const noexcept;
    [[nodiscard]] int unescapeBracedInto(KaStringW& dest, uint16_t closing) const noexcept;
    // dest needs 2 x len + 3 units for quoteInto, len units for unquoteInto.
    uint16_t* unquoteInto(uint16_t* dest) const noexcept;
    uint16_t* quoteInto(uint16_t* dest) const noexcept;
    [[nodiscard]] int splitLines(KaArray& out) const noexcept;
};

class KaStringW : public KaSubStringW {
public:
    size_t capacity = 0;
    char* narrow = nullptr;
    bool owns = true;

    KaStringW() noexcept = default;
    ~KaStringW() override;
    // Grows (or takes) the buffer to exactly newCapacity units, keeping the
    // text; MSG_STRING_BUFFER_BORROWED when the buffer is borrowed.
    [[nodiscard]] virtual int reserve(size_t newCapacity) noexcept;

    KaStringW(const KaStringW&) = delete;
    KaStringW& operator=(const KaStringW&) = delete;

    [[nodiscard]] int assign(const uint16_t* terminated) noexcept;
    [[nodiscard]] int assign(const uint16_t* text, size_t n) noexcept;
    // form: KA_TEXT_LOCALE, KA_TEXT_UTF16 (n counts units) or KA_TEXT_UTF8.
    [[nodiscard]] int assignNarrow(const char* bytes, size_t n, int32_t form) noexcept;
    [[nodiscard]] int assignFromCodePage(const char* bytes, size_t n, UConverter* converter) noexcept;
    [[nodiscard]] int assignFromCodePageNumber(const char* bytes, size_t n, int64_t codePage) noexcept;
    [[nodiscard]] int allocate(size_t n) noexcept;
    void attach(uint16_t* buffer, size_t bufferCapacity, size_t length) noexcept;
    void adopt(uint16_t* buffer, size_t bufferCapacity, size_t length) noexcept;
    void freeBuffer() noexcept;

    [[nodiscard]] int appendChar(uint16_t unit) noexcept;
    [[nodiscard]] int append(const uint16_t* text, size_t n) noexcept;
    [[nodiscard]] int appendNarrow(const char* bytes, size_t n) noexcept;
    [[nodiscard]] int appendNumber(uint64_t value) noexcept;
    [[nodiscard]] int appendSignedNumber(int64_t value) noexcept;

    // data null deletes the range; n 0 with data takes data's terminated length.
    [[nodiscard]] int replace(size_t pos, size_t count, const uint16_t* text, size_t n) noexcept;
    [[nodiscard]] int replaceRange(const KaSubStringW& range, const uint16_t* text, size_t n) noexcept;
    [[nodiscard]] int replaceAll(const uint16_t* pattern, size_t patternLen, const uint16_t* replacement,
                                 size_t n) noexcept;
    [[nodiscard]] int replaceAll(const uint16_t* pattern, const uint16_t* replacement) noexcept;

    [[nodiscard]] int quote(uint16_t quoteUnit) noexcept;
    void unquote() noexcept;
    [[nodiscard]] int appendQuoted(const KaStringW& other, uint16_t quoteUnit) noexcept;
    [[nodiscard]] int ensureTrailingNewlines(size_t n) noexcept;
    [[nodiscard]] int wrap(size_t width, uint16_t q1, uint16_t q2, uint16_t q3) noexcept;
    [[nodiscard]] int joinLines(uint16_t q1, uint16_t q2, uint16_t q3) noexcept;
    [[nodiscard]] int tabsToBlanks(uint16_t q1, uint16_t q2, uint16_t q3) noexcept;
    [[nodiscard]] int crlfToBlanks(uint16_t q1, uint16_t q2, uint16_t q3) noexcept;

    // Replaces the cached narrow copy (KA_TEXT_UTF8 or the locale encoding)
    // and returns it; valid until the next call or destruction. Null after a
    // posted diagnostic (no memory, or text that cannot be converted).
    const char* toNarrow(int32_t form) noexcept;

protected:
    friend struct KaStringOps;

    // Set by KaStringWEx: every block the string gives up, its narrow copy
    // and its temporaries included, is wiped first. A member because
    // freeBuffer, toNarrow and the editing temporaries are not virtual.
    bool wipes = false;
    // Size of the narrow block, so that it is wiped whole even when the text
    // holds a zero unit.
    size_t narrowBytes = 0;

    void releaseNarrow() noexcept;
};

class KaStringWEx : public KaStringW {
public:
    KaStringWEx() noexcept;
    ~KaStringWEx() override;
    [[nodiscard]] int reserve(size_t newCapacity) noexcept override;
};

class KaReplaceStringW : public KaSubStringW {
public:
    KaStringW* target = nullptr;
    size_t writePos = 0;
    size_t readPos = 0;

    KaReplaceStringW() noexcept = default;
    explicit KaReplaceStringW(KaStringW& rewritten) noexcept;
    // Closes the gap: the target's text becomes the written output followed
    // by the unread remainder.
    ~KaReplaceStringW() override;

    // Input handling of the user: copy n unread units through, or skip them.
    int copyThrough(size_t n) noexcept;
    void skip(size_t n) noexcept;
    [[nodiscard]] int emit(const uint16_t* units, size_t n) noexcept;
    [[nodiscard]] int emitQuoted(const uint16_t* units, size_t n, uint16_t quoteUnit) noexcept;
};

// Keys of up to this many units are upper-cased once into the cache.
constexpr size_t kUpperKeyInline = 24;

struct UpperKeyCacheW {
    const KaSubStringW* key;
    uint16_t upper[kUpperKeyInline];
    size_t keyLen;
    bool filled;
};

struct UpperKeyCache {
    const KaSubString* key;
    char upper[kUpperKeyInline];
    size_t keyLen;
    bool filled;
};

// The text compared with a cache is upper case already.
// The UTF-8 form of a UTF-16 text (null reads as empty) as a new ramAlloc
// block the caller frees; null when memory ran out or the text does not
// convert (posted).
[[nodiscard]] char* strDupUtf8W(const uint16_t* text) noexcept;
uint16_t upperKeyHashW(UpperKeyCacheW* cache) noexcept;
int upperKeyCompareW(UpperKeyCacheW* cache, const uint16_t* text, size_t length) noexcept;
int upperKeyEqualW(UpperKeyCacheW* cache, const uint16_t* text, size_t length) noexcept;
int upperKeyEqual(UpperKeyCache* cache, const char* text, size_t length) noexcept;
