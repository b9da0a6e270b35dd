// The 8-bit pull tokenizer (KaScanner with its token KaToken), twin of
// KaScannerW for byte text in UTF-8 or the process locale's multibyte
// encoding: 8-bit statement analysis, the multi-row INSERT parser, the 8-bit
// connection-string parser, the XML reader, query files and the grammar lexer.
// The reading itself is shared with KaScannerW (sql/kascanlogic.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"
#include "foundation/kastring.h"
#include "sql/kascan.h"

class KaArray;

class KaToken : public KaSubString {
public:
    uint32_t kind = KA_TOKEN_NONE;
    int64_t start = 0;

    KaToken() noexcept;
    explicit KaToken(int32_t encoding) noexcept;
    KaToken(const char* text, size_t length, int64_t start) noexcept;
    KaToken(const char* text, size_t length, int64_t start, int32_t encoding) noexcept;
    ~KaToken() override;
};

class KaScanner : public KaObject {
public:
    // Bits of `flags`.
    static constexpr uint8_t braceGroups = 0x01;
    static constexpr uint8_t parenGroups = 0x02;
    static constexpr uint8_t returnComments = 0x04;
    static constexpr uint8_t skipComments = 0x08;
    static constexpr uint8_t decimalNumbers = 0x10;
    static constexpr uint8_t atEnd = 0x20;

    const char* input = nullptr;
    uint64_t length = 0;
    // A character matches a quote when its first byte equals the value.
    uint16_t quoteChar1 = '\'';
    uint16_t quoteChar2 = '"';
    uint16_t quoteChar3 = '`';
    uint64_t position = 0;
    KaString* bound = nullptr;
    KaString wordStartChars;
    KaString wordChars;
    KaString delimiterChars;
    // KA_TEXT_UTF8, or any other KaTextEncoding for the multibyte encoding of
    // the process locale.
    uint32_t encoding = KA_TEXT_LOCALE;
    uint16_t groupOpen = kaNoGroup;
    uint16_t groupClose = 0;
    // Bytes of the last character read, 0 at the end.
    uint64_t lastCharLength = 0;
    uint8_t flags = decimalNumbers;
    uint32_t bracedItems = 0;

    KaScanner() noexcept;
    explicit KaScanner(KaTextEncoding encoding) noexcept;
    KaScanner(const char* bytes, uint64_t length) noexcept;
    KaScanner(const char* bytes, uint64_t length, uint32_t encoding) noexcept;
    explicit KaScanner(const char* terminated) noexcept;
    KaScanner(const char* terminated, KaTextEncoding encoding) noexcept;
    // Scans the string's text (a KaSubString, KaString or BaseInString) in its
    // encoding, not bound.
    explicit KaScanner(const KaSubString& text) noexcept;
    // Bound to an editable string, in its encoding.
    explicit KaScanner(KaString* editable) noexcept;
    ~KaScanner() override;

    KaScanner(const KaScanner&) = delete;
    KaScanner& operator=(const KaScanner&) = delete;

    bool option(uint8_t bit) const noexcept { return (flags & bit) != 0; }
    void setOption(uint8_t bit, bool on) noexcept { flags = on ? uint8_t(flags | bit) : uint8_t(flags & ~bit); }

    // New input in KA_TEXT_LOCALE, resp. the given encoding; both unbind.
    void rewind(const char* bytes, uint64_t length) noexcept;
    void setInput(const char* bytes, uint64_t length, uint32_t encoding) noexcept;
    // The encoding is left as it is.
    void bindString(KaString& editable) noexcept;
    void resetOptions() noexcept;
    [[nodiscard]] int setWordStartChars(const KaSubString& characters) noexcept;
    [[nodiscard]] int setWordChars(const KaSubString& characters) noexcept;

    void nextToken(KaToken& token, int mode) noexcept;
    void nextItem(KaToken& token, char separator) noexcept;
    void pushBack(const KaToken& token) noexcept;
    void tokenAt(KaToken& token, uint64_t offset, uint64_t count) const noexcept;

    int matchText(KaToken& token, const char* words) noexcept;
    int matchAny(KaToken& token, const char* list) noexcept;
    int matchTextExact(KaToken& token, const char* words) noexcept;
    int matchAnyExact(KaToken& token, const char* list) noexcept;

    [[nodiscard]] int replaceToken(KaToken& token, const KaSubString& replacement) noexcept;
    [[nodiscard]] int insertBefore(KaToken& token, const KaSubString& text) noexcept;

    [[nodiscard]] int splitToSubstrings(KaArray& out, char separator) noexcept;
    [[nodiscard]] int splitToStrings(KaArray& out, char separator) noexcept;

    void readQuoted(KaToken& token, uint8_t quote) noexcept;
    void readBracketed(KaToken& token, uint8_t close) noexcept;
    void readGroup(KaToken& token, uint8_t open, uint8_t close) noexcept;
    void readComment(KaToken& token) noexcept;
};
