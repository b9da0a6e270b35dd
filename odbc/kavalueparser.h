// Attribute strings (connection strings, trace options): key=value pairs
// separated by one character, values in braces when they hold the separator.
// KaValueParserW parses UTF-16 text for the connect paths and keeps the
// values of user ids, passwords and other sensitive keys encrypted from the
// moment they are read; KaValueParser is the 8-bit form. Both remember which
// attributes were read and build attribute strings back. The grammar, the
// lookups, the edits and the building are written once, in
// KaValueParserCore, a template on the code unit; the two named classes add
// what only they have.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaassoc.h"
#include "foundation/kaobject.h"
#include "foundation/kastring.h"
#include "foundation/kastringw.h"
#include "sql/bytescanner.h"
#include "sql/kascanne.h"
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
    [[nodiscard]] int resize(size_t n) noexcept;
    void set(size_t index) noexcept;  // ignored beyond count
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

// The string, scanner and dictionary types of one code unit.
template <typename Unit>
struct KaParserText;

template <>
struct KaParserText<uint16_t> {
    using Scanner = KaScannerW;
    using Token = KaTokenW;
    using SubString = KaSubStringW;
    using String = KaStringW;
    using Dictionary = KaSeqDictionaryW;
    // What the dictionary holds for a value: text or an encrypted holder.
    using Value = AttributeObject;
};

template <>
struct KaParserText<char> {
    using Scanner = KaScanner;
    using Token = KaToken;
    using SubString = KaSubString;
    using String = KaString;
    using Dictionary = KaSeqDictionary;
    using Value = KaString;
};

// The parser over one code unit. Parser is the named class built on it
// (KaValueParserW or KaValueParser), which supplies the few steps that
// differ: how a view, a string or a stored value is made in its encoding,
// and how a parsed value is stored.
template <typename Unit, typename Parser>
class KaValueParserCore : public KaObject {
public:
    using Text = KaParserText<Unit>;
    using SubString = typename Text::SubString;
    using String = typename Text::String;
    using Value = typename Text::Value;

    typename Text::Scanner scanner;
    Unit separator;
    const Unit* sourceName;  // borrowed; names the string in syntax errors
    typename Text::Dictionary attributes;
    typename Text::Token token;
    SubString currentKey;
    KaBitArray used;
    uint16_t unusedCursor = 0;
    int32_t allowDuplicates;
    int32_t dsnDriverMode = KA_DSN_DRIVER_NONE;

    KaValueParserCore(const KaValueParserCore&) = delete;
    KaValueParserCore& operator=(const KaValueParserCore&) = delete;

    // 0 for none (no quote character is special).
    void setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept;
    // Adds the characters to the characters that start and continue a word.
    [[nodiscard]] int addWordChars(const Unit* characters) noexcept;

    // The plain value (marking the attribute used), or null when absent or
    // held encrypted.
    String* getValue(const SubString& name) noexcept;
    String* getValueCStr(const Unit* name) noexcept;
    // The value under either name (a long and a short keyword); name2 may be
    // null. *value is null when neither is present.
    [[nodiscard]] int getValueByNames(const Unit* name1, const Unit* name2, String** value) noexcept;

    bool hasKey(const Unit* name) const noexcept;
    int64_t indexOf(const Unit* name, size_t count) const noexcept;
    SubString* keyAt(size_t index) const noexcept;

    // The value is stored in apostrophes when it holds an apostrophe, a
    // quotation mark or the separator. altKey may be null.
    [[nodiscard]] int setValue(const Unit* key, size_t keyLength, const Unit* value, size_t valueLength,
                               const Unit* altKey, size_t altKeyLength) noexcept;
    [[nodiscard]] int setValueCStr(const Unit* key, const Unit* value, const Unit* altKey) noexcept;

    void removeKey(const Unit* name) noexcept;
    void removeAt(size_t index) noexcept;

    [[nodiscard]] int resetUsed() noexcept;
    uint16_t countUnused() const noexcept;
    SubString* nextUnused() noexcept;

    // Writes key=value pairs; an encrypted value fails it
    // (MSG_ATTRIBUTE_STRING_HOLDS_SECRET).
    [[nodiscard]] int build(String& out, Unit outSeparator) noexcept;

protected:
    // Nothing is parsed yet; the text must stay unchanged until parse
    // returns. encoding is the 8-bit form's code page (none for UTF-16).
    template <typename... Encoding>
    KaValueParserCore(const Unit* text, size_t length, Unit separator, const Unit* sourceName, int32_t allowDuplicates,
                      Encoding... encoding) noexcept;
    ~KaValueParserCore() override;

    // The grammar; store(value, length) keeps one attribute's value under
    // currentKey, 0 or 1.
    template <typename Store>
    [[nodiscard]] int parseWith(Store&& store) noexcept;
    void syntaxError() noexcept;
    // Both keywords given: the syntax diagnostic with the two names appended.
    KaError* postBothNames(const Unit* name1, const Unit* name2) noexcept;
    size_t find(const Unit* name, size_t count) const noexcept;
    void markUsed(size_t index) noexcept;
    // Puts value under the entry at index, or under a new entry with a copy
    // of the key; the value is the dictionary's, or deleted on failure.
    [[nodiscard]] int storeValue(size_t index, const Unit* key, size_t keyLength, Value* value) noexcept;
    // Writes every attribute into result (built in a wiping string first);
    // valueOf(value, key, scratch, &text, &length) gives the text of one
    // value, 0 or 1.
    template <typename ValueOf>
    [[nodiscard]] int buildInto(String& result, Unit outSeparator, ValueOf&& valueOf) noexcept;

private:
    Parser& self() noexcept { return static_cast<Parser&>(*this); }
    const Parser& self() const noexcept { return static_cast<const Parser&>(*this); }
    bool atSeparator() noexcept;
    template <typename Store>
    [[nodiscard]] int parseAttribute(Store& store) noexcept;
};

// Whether a keyword names a credential (the user id or the password, long
// or short), whose values parsers keep encrypted.
bool kaIsCredentialKey(const uint16_t* key, size_t length) noexcept;

class KaValueParserW : public KaValueParserCore<uint16_t, KaValueParserW> {
public:
    KaSensitivePredicate isSensitive = nullptr;

    KaValueParserW(const uint16_t* text, size_t length, uint16_t separator, const uint16_t* sourceName,
                   int32_t allowDuplicates) noexcept;
    KaValueParserW(const KaSubStringW& text, uint16_t separator, const uint16_t* sourceName,
                   int32_t allowDuplicates) noexcept;
    ~KaValueParserW() override;

    // key: the 8 bytes under which sensitive values are encrypted.
    // 0 ok, 1 syntax error or out of memory (posted); the attributes read
    // before the error stay.
    [[nodiscard]] int parse(const uint8_t* key, KaSensitivePredicate sensitive) noexcept;

    // Copies an encrypted value into holder and sets *found (0 when absent);
    // a plain value under the name is refused (MSG_ATTRIBUTE_NOT_ENCRYPTED).
    [[nodiscard]] int getSecret(const uint16_t* name, int* found, KaMemoryBuffer& holder) noexcept;
    [[nodiscard]] int getSecretByNames(const uint16_t* name1, const uint16_t* name2, int* found,
                                       KaMemoryBuffer& holder) noexcept;
    [[nodiscard]] int setSecret(const uint16_t* key, const KaMemoryBuffer& holder, const uint16_t* altKey) noexcept;

    // As build, with encrypted values decrypted under key: give it a
    // KaStringWEx, since it writes passwords.
    [[nodiscard]] int buildDecrypted(KaStringW& out, const uint8_t* key, uint16_t outSeparator) noexcept;

private:
    friend class KaValueParserCore<uint16_t, KaValueParserW>;
    // The core's steps in UTF-16.
    KaSubStringW view(const uint16_t* name, size_t count) const noexcept;
    void bindKey(const uint16_t* text, size_t length) noexcept;
    KaStringW* newString(bool wiping) const noexcept;
    [[nodiscard]] int assignText(KaStringW& target, const uint16_t* text, size_t length) const noexcept;
    static KaStringW* textOf(AttributeObject* value) noexcept;
    static AttributeObject* holdText(KaStringW* text) noexcept;
    // Two values under both keywords that are equal are let through with a
    // warning.
    static constexpr bool kEqualValuesWarn = true;
    // The first token of a key.
    static bool startsKey(uint32_t kind) noexcept;

    [[nodiscard]] int store(const uint8_t* key, const uint16_t* value, size_t valueLength) noexcept;
};

class KaValueParser : public KaValueParserCore<char, KaValueParser> {
public:
    // Encoding kind of the text and of every string the parser makes.
    int32_t codePage;

    KaValueParser(const char* text, size_t length, int32_t codePage, char separator, const char* sourceName,
                  int32_t allowDuplicates) noexcept;
    // In the text's own encoding.
    KaValueParser(const KaSubString& text, char separator, const char* sourceName, int32_t allowDuplicates) noexcept;
    ~KaValueParser() override;

    [[nodiscard]] int parse() noexcept;

private:
    friend class KaValueParserCore<char, KaValueParser>;
    // The core's steps in the parser's code page.
    KaSubString view(const char* name, size_t count) const noexcept;
    void bindKey(const char* text, size_t length) noexcept;
    KaString* newString(bool wiping) const noexcept;
    [[nodiscard]] int assignText(KaString& target, const char* text, size_t length) const noexcept;
    static KaString* textOf(KaString* value) noexcept;
    static KaString* holdText(KaString* text) noexcept;
    static constexpr bool kEqualValuesWarn = false;
    static bool startsKey(uint32_t kind) noexcept;

    [[nodiscard]] int store(const char* value, size_t valueLength) noexcept;
};
