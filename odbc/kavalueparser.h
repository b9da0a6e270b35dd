// Attribute strings (connection strings, trace options): key=value pairs
// separated by one character, values in braces when they hold the separator.
// KaValueParserW parses UTF-16 text for the connect paths and keeps the
// values of user ids, passwords and other sensitive keys encrypted from the
// moment they are read; KaValueParser is the 8-bit form. Both remember which
// attributes were read and build attribute strings back.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaassoc.h"
#include "foundation/kaobject.h"
#include "foundation/kastring.h"
#include "foundation/kastringw.h"
#include "sql/kascanne.h"
#include "sql/kascannea.h"
#include "security/kamembuf.h"

class KaError;

// dsnDriverMode values.
constexpr int32_t KA_DSN_DRIVER_NONE = 1;
constexpr int32_t KA_DSN_FIRST = 2;
constexpr int32_t KA_DRIVER_FIRST = 3;

// One bit per attribute.
class KaBitArray : public KaObject {
public:
    uint8_t* bits = nullptr;
    size_t count = 0;

    KaBitArray() noexcept = default;
    ~KaBitArray() override;
    KaBitArray(const KaBitArray&) = delete;
    KaBitArray& operator=(const KaBitArray&) = delete;

    // n bits, all clear; 1 when memory runs out (the array is then empty).
    int resize(size_t n) noexcept;
    void set(size_t index) noexcept;      // ignored beyond count
    bool test(size_t index) const noexcept;
    // The bits after index move down by one.
    void removeAt(size_t index) noexcept;
    size_t countClear() const noexcept;
};

// The value of one attribute: plain text or an encrypted holder, never both.
class AttributeObject : public KaObject {
public:
    KaStringW* text = nullptr;
    KaMemoryBuffer* secret = nullptr;

    AttributeObject() noexcept = default;
    ~AttributeObject() override;
};

// Nonzero when the key's value must be held encrypted.
using KaSensitivePredicate = int (*)(const KaSubStringW& key);

class KaValueParserW : public KaObject {
public:
    KaScannerW scanner;
    uint16_t separator;
    const uint16_t* sourceName;  // borrowed; names the string in syntax errors
    KaSeqDictionaryW attributes;
    KaTokenW token;
    KaSubStringW currentKey;
    KaBitArray used;
    uint16_t unusedCursor = 0;
    int32_t allowDuplicates;
    int32_t dsnDriverMode = KA_DSN_DRIVER_NONE;
    KaSensitivePredicate isSensitive = nullptr;

    // Nothing is parsed yet; the text must stay unchanged until parse returns.
    KaValueParserW(const uint16_t* text, size_t length, uint16_t separator,
                   const uint16_t* sourceName, int32_t allowDuplicates) noexcept;
    KaValueParserW(const KaSubStringW& text, uint16_t separator, const uint16_t* sourceName,
                   int32_t allowDuplicates) noexcept;
    ~KaValueParserW() override;
    KaValueParserW(const KaValueParserW&) = delete;
    KaValueParserW& operator=(const KaValueParserW&) = delete;

    // 0 for none (no quote character is special).
    void setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept;
    // Adds the characters to the characters that start and continue a word.
    int addWordChars(const uint16_t* characters) noexcept;

    // key: the 8 bytes under which sensitive values are encrypted.
    // 0 ok, 1 syntax error or out of memory (posted); the attributes read
    // before the error stay.
    int parse(const uint8_t* key, KaSensitivePredicate sensitive) noexcept;

    // The plain value (marking the attribute used), or null when absent or
    // held encrypted.
    KaStringW* getValue(const KaSubStringW& name) noexcept;
    KaStringW* getValueCStr(const uint16_t* name) noexcept;
    // Copies an encrypted value into holder and sets *found (0 when absent);
    // a plain value under the name is refused with 2808.
    int getSecret(const uint16_t* name, int* found, KaMemoryBuffer& holder) noexcept;
    // The value under either name (a long and a short keyword); name2 may be
    // null. *value is null when neither is present.
    int getValueByNames(const uint16_t* name1, const uint16_t* name2, KaStringW** value) noexcept;
    int getSecretByNames(const uint16_t* name1, const uint16_t* name2, int* found,
                         KaMemoryBuffer& holder) noexcept;

    bool hasKey(const uint16_t* name) const noexcept;
    int64_t indexOf(const uint16_t* name, size_t count) const noexcept;
    KaSubStringW* keyAt(size_t index) const noexcept;

    // The value is stored in apostrophes when it holds an apostrophe, a
    // quotation mark or the separator. altKey may be null.
    int setValue(const uint16_t* key, size_t keyLength, const uint16_t* value, size_t valueLength,
                 const uint16_t* altKey, size_t altKeyLength) noexcept;
    int setValueCStr(const uint16_t* key, const uint16_t* value, const uint16_t* altKey) noexcept;
    int setSecret(const uint16_t* key, const KaMemoryBuffer& holder, const uint16_t* altKey) noexcept;

    void removeKey(const uint16_t* name) noexcept;
    void removeAt(size_t index) noexcept;

    int resetUsed() noexcept;
    uint16_t countUnused() const noexcept;
    KaSubStringW* nextUnused() noexcept;

    // Writes key=value pairs; an encrypted value fails the plain build (2807).
    // buildDecrypted writes passwords: give it a KaStringWEx.
    int build(KaStringW& out, uint16_t outSeparator) noexcept;
    int buildDecrypted(KaStringW& out, const uint8_t* key, uint16_t outSeparator) noexcept;

private:
    bool atSeparator() noexcept;
    int parseAttribute(const uint8_t* key) noexcept;
    int store(const uint8_t* key, const uint16_t* value, size_t valueLength) noexcept;
    void syntaxError() noexcept;
    KaError* postBothNames(const uint16_t* name1, const uint16_t* name2) noexcept;
    size_t find(const uint16_t* name, size_t count) const noexcept;
    void markUsed(size_t index) noexcept;
    int storeValue(size_t index, const uint16_t* key, size_t keyLength, AttributeObject* value) noexcept;
    int buildInto(KaStringW& out, const uint8_t* key, uint16_t outSeparator, bool decrypt) noexcept;
};

class KaValueParser : public KaObject {
public:
    KaScanner scanner;
    char separator;
    const char* sourceName;  // borrowed
    KaSeqDictionary attributes;
    KaToken token;
    KaSubString currentKey;
    KaBitArray used;
    uint16_t unusedCursor = 0;
    int32_t allowDuplicates;
    int32_t dsnDriverMode = KA_DSN_DRIVER_NONE;
    // Encoding kind of the text and of every string the parser makes.
    int32_t codePage;

    KaValueParser(const char* text, size_t length, int32_t codePage, char separator,
                  const char* sourceName, int32_t allowDuplicates) noexcept;
    // In the text's own encoding.
    KaValueParser(const KaSubString& text, char separator, const char* sourceName,
                  int32_t allowDuplicates) noexcept;
    ~KaValueParser() override;
    KaValueParser(const KaValueParser&) = delete;
    KaValueParser& operator=(const KaValueParser&) = delete;

    void setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept;
    int addWordChars(const char* characters) noexcept;
    int parse() noexcept;

    KaString* getValue(const KaSubString& name) noexcept;
    KaString* getValueCStr(const char* name) noexcept;
    int getValueByNames(const char* name1, const char* name2, KaString** value) noexcept;
    bool hasKey(const char* name) const noexcept;
    int64_t indexOf(const char* name, size_t count) const noexcept;
    KaSubString* keyAt(size_t index) const noexcept;
    int setValue(const char* key, size_t keyLength, const char* value, size_t valueLength,
                 const char* altKey, size_t altKeyLength) noexcept;
    int setValueCStr(const char* key, const char* value, const char* altKey) noexcept;
    void removeKey(const char* name) noexcept;
    void removeAt(size_t index) noexcept;
    int resetUsed() noexcept;
    uint16_t countUnused() const noexcept;
    KaSubString* nextUnused() noexcept;
    int build(KaString& out, char outSeparator) noexcept;

private:
    bool atSeparator() noexcept;
    int parseAttribute() noexcept;
    void syntaxError() noexcept;
    size_t find(const char* name, size_t count) const noexcept;
    void markUsed(size_t index) noexcept;
};
