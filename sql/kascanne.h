// The UTF-16 pull tokenizer (KaScannerW with its token KaTokenW) on which
// statement analysis, escape translation, the statement framework's scans,
// the catalog type list and the connection-string parser stand. Tokens are
// views into the scanned text; nothing is copied per token. The reading
// itself is shared with the 8-bit KaScanner (sql/kascanlogic.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"
#include "foundation/kastringw.h"
#include "sql/kascan.h"

class KaArray;

class KaTokenW : public KaSubStringW {
public:
    uint32_t kind = KA_TOKEN_NONE;
    int64_t start = 0;

    KaTokenW() noexcept = default;
    KaTokenW(const uint16_t* text, size_t length, int64_t start) noexcept;
    ~KaTokenW() override;
};

class KaScannerW : public KaObject {
public:
    const uint16_t* input = nullptr;
    uint64_t length = 0;
    uint16_t quoteChar1 = '\'';
    uint16_t quoteChar2 = '"';
    uint16_t quoteChar3 = '`';
    uint64_t position = 0;
    KaStringW* bound = nullptr;
    // Extra characters that start a word; white space listed here is not skipped.
    KaStringW wordStartChars;
    // Extra characters that continue a word.
    KaStringW wordChars;
    // When not empty, a word is a run of characters not in this set.
    KaStringW delimiterChars;
    uint16_t groupOpen = kaNoGroup;
    uint16_t groupClose = 0;
    // Units of the last character read (2 for a surrogate pair), 0 at the end.
    uint64_t lastCharLength = 0;
    uint8_t braceGroups = 0;
    uint8_t parenGroups = 0;
    uint8_t returnComments = 0;
    uint8_t skipComments = 0;
    uint8_t decimalNumbers = 1;
    uint8_t atEnd = 0;
    uint8_t bracketGroups = 0;
    // 1: nextItem reads an item that begins with "{" as one braced unit.
    uint32_t bracedItems = 0;

    KaScannerW() noexcept;
    KaScannerW(const uint16_t* text, uint64_t length) noexcept;
    explicit KaScannerW(const uint16_t* terminated) noexcept;
    // Scans the string's text (a KaStringW or BaseInStringW), not bound.
    explicit KaScannerW(const KaSubStringW& text) noexcept;
    // Bound to an editable string: tokens can be replaced in place.
    explicit KaScannerW(KaStringW* editable) noexcept;
    ~KaScannerW() override;

    KaScannerW(const KaScannerW&) = delete;
    KaScannerW& operator=(const KaScannerW&) = delete;

    void setInput(const uint16_t* text, uint64_t length) noexcept;
    void bindString(KaStringW& editable) noexcept;
    void resetOptions() noexcept;
    // Each set is emptied, then filled with the given characters; 1 when
    // memory runs out.
    [[nodiscard]] int setWordStartChars(const KaSubStringW& characters) noexcept;
    [[nodiscard]] int setWordChars(const KaSubStringW& characters) noexcept;

    // mode is a ScanMode; the caller reads the token's kind.
    void nextToken(KaTokenW& token, int mode) noexcept;
    // The next list item up to the separator; quotes and enabled groups are
    // honoured, trailing white space cut.
    void nextItem(KaTokenW& token, uint16_t separator) noexcept;
    void pushBack(const KaTokenW& token) noexcept;
    void tokenAt(KaTokenW& token, uint64_t offset, uint64_t count) const noexcept;

    // Case-insensitive match of a blank-separated word sequence starting with
    // the token held; on a match the token grows to the end of the last word
    // and 1 is returned, else the position is restored and 0 returned. A list
    // is a sequence of terminated texts ended by an empty one.
    int matchWords(KaTokenW& token, const uint16_t* words, size_t count) noexcept;
    int matchText(KaTokenW& token, const uint16_t* words) noexcept;
    int matchAny(KaTokenW& token, const uint16_t* list) noexcept;
    int matchWordsExact(KaTokenW& token, const uint16_t* words, size_t count) noexcept;
    int matchTextExact(KaTokenW& token, const uint16_t* words) noexcept;
    int matchAnyExact(KaTokenW& token, const uint16_t* list) noexcept;

    // Bound scanners only; 1 when the string cannot grow (nothing changes).
    [[nodiscard]] int replaceToken(KaTokenW& token, const KaSubStringW& replacement) noexcept;
    [[nodiscard]] int insertBefore(KaTokenW& token, const KaSubStringW& text) noexcept;

    // The array's elements are deleted and replaced by one element per item
    // (KaSubStringW views, or owned KaStringW copies); 1 when memory runs out.
    [[nodiscard]] int splitToSubstrings(KaArray& out, uint16_t separator) noexcept;
    [[nodiscard]] int splitToStrings(KaArray& out, uint16_t separator) noexcept;

    // The readers of the token forms; each continues the token whose first
    // character was just read.
    void readQuoted(KaTokenW& token, uint16_t quote) noexcept;
    void readBracketed(KaTokenW& token, uint16_t close) noexcept;
    void readGroup(KaTokenW& token, uint16_t open, uint16_t close) noexcept;
    void readComment(KaTokenW& token) noexcept;
};
