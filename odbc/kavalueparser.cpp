// The attribute-string parsers: the grammar, lookups, edits and building
// once for both code units, then the steps that only one form has.
#include "odbc/kavalueparser.h"

#include <unicode/uchar.h>

#include <memory>
#include <type_traits>

#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kastr.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

inline const uint16_t* W(const char16_t* s)
{
    return reinterpret_cast<const uint16_t*>(s);
}

const uint16_t* const kSensitiveKeys[] = {W(u"PWD"), W(u"PASSWORD"), W(u"UID"), W(u"LOGONID")};
const uint16_t kBlankW[] = {' ', 0};

// A keyword the grammar knows, in both code units.
struct Keyword {
    const char* narrow;
    const char16_t* wide;
};
constexpr Keyword kDriver{"DRIVER", u"DRIVER"};
constexpr Keyword kDsn{"DSN", u"DSN"};
constexpr Keyword kOdbc{"ODBC", u"ODBC"};

bool keyIs(const KaSubStringW& key, Keyword name)
{
    return key.data != nullptr && strEqualNoCaseNW(key.data, key.len, W(name.wide)) != 0;
}

bool keyIs(const KaSubString& key, Keyword name)
{
    return key.data != nullptr && strEqualNoCaseN(key.data, key.len, name.narrow, fastStrlen(name.narrow)) != 0;
}

size_t lengthOf(const uint16_t* s)
{
    return s != nullptr ? strLenW(s) : 0;
}

size_t lengthOf(const char* s)
{
    return s != nullptr ? fastStrlen(s) : 0;
}

bool sameUnits(const uint16_t* a, const uint16_t* b, size_t n)
{
    return strEqualMemW(a, b, n) != 0;
}

KaError* addName(KaError* record, const uint16_t* name)
{
    return record->addParamW(name);
}

KaError* addName(KaError* record, const char* name)
{
    return record->addParamText(name);
}

KaError* addName(KaError* record, const KaSubStringW& name)
{
    return record->addParamSubStringW(name);
}

KaError* addName(KaError* record, const KaSubString& name)
{
    return record->addParamSubString(name);
}

// The scanner joined the character after a token with it: scanning goes on
// from there.
void rescanFrom(KaScannerW& scanner, int64_t position)
{
    scanner.position = uint64_t(position);
    scanner.atEnd = 0;
}

void rescanFrom(KaScanner& scanner, int64_t position)
{
    scanner.position = uint64_t(position);
    scanner.setOption(KaScanner::atEnd, false);
}

// Appends a catalogue text, set off by a blank, to the record just posted.
KaError* appendMessage(KaError* record, uint16_t number)
{
    record->appendTextW(kBlankW);
    return errAppendMessage(number);
}

void postGeneral(uint16_t number, const KaSubStringW* name)
{
    KaError* rec = errPost(number);
    if (name != nullptr)
        rec = rec->addParamSubStringW(*name);
    rec->setSqlstate("HY000")->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR);
}

// A braced value ("{" ... "}") loses its braces, and each doubled closing
// brace inside stands for one.
template <typename Char, typename Str>
[[nodiscard]] int unbraceInto(Str& dest, const Char* text, size_t n)
{
    if (n < 2 || text[0] != Char('{') || text[n - 1] != Char('}'))
        return dest.assign(text, n) != 0 ? 1 : 0;
    if (dest.assign(text + 1, n - 2) != 0)
        return 1;
    size_t w = 0;
    for (size_t r = 0; r < dest.len; ++r) {
        dest.data[w++] = dest.data[r];
        if (dest.data[r] == Char('}') && r + 1 < dest.len && dest.data[r + 1] == Char('}'))
            ++r;
    }
    dest.len = w;
    dest.data[w] = 0;
    return 0;
}

bool isWhite(uint16_t unit)
{
    return u_isWhitespace(UChar32(unit)) != 0;
}

bool isWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Braces keep a value whole on the way back in: one that begins with a
// brace, holds a separator, or has white space at either end (which the
// parser would otherwise cut).
template <typename Char>
bool needsBraces(const Char* v, size_t n, Char separator, const uint16_t (&quotes)[3])
{
    if (n == 0)
        return false;
    if (v[0] == Char('{') || isWhite(v[0]) || isWhite(v[n - 1]))
        return true;
    for (size_t i = 0; i < n; ++i) {
        if (v[i] == Char(';') || v[i] == separator)
            return true;
        // A quote the scanner honours would open a quoted run when the text
        // is read again; inside braces it is plain text.
        const auto unit = static_cast<std::make_unsigned_t<Char>>(v[i]);
        for (uint16_t q : quotes)
            if (q != 0 && unit == q)
                return true;
    }
    return false;
}

template <typename Char, typename Str>
[[nodiscard]] int appendBraced(Str& out, const Char* v, size_t n)
{
    if (out.appendChar('{') != 0)
        return 1;
    size_t runStart = 0;
    for (size_t i = 0; i < n; ++i) {
        if (v[i] != Char('}'))
            continue;
        // Each closing brace inside is written twice.
        if (out.append(v + runStart, i - runStart + 1) != 0 || out.appendChar('}') != 0)
            return 1;
        runStart = i + 1;
    }
    if (runStart < n && out.append(v + runStart, n - runStart) != 0)
        return 1;
    return out.appendChar('}');
}

}  // namespace

bool kaIsCredentialKey(const uint16_t* key, size_t length) noexcept
{
    for (const uint16_t* name : kSensitiveKeys)
        if (strEqualNoCaseNW(key, length, name) != 0)
            return true;
    return false;
}

// ---- KaBitArray -------------------------------------------------------------

KaBitArray::~KaBitArray()
{
    ramFree(bits);
}

int KaBitArray::resize(size_t n) noexcept
{
    ramFree(bits);
    bits = nullptr;
    count = 0;
    if (n == 0)
        return 0;
    size_t bytes = (n + 7) / 8;
    bits = static_cast<uint8_t*>(ramAlloc(bytes));
    if (bits == nullptr)
        return 1;
    fastMemset(bits, 0, bytes);
    count = n;
    return 0;
}

void KaBitArray::set(size_t index) noexcept
{
    if (index < count)
        bits[index / 8] = uint8_t(bits[index / 8] | (1u << (index % 8)));
}

bool KaBitArray::test(size_t index) const noexcept
{
    return index < count && (bits[index / 8] & (1u << (index % 8))) != 0;
}

void KaBitArray::removeAt(size_t index) noexcept
{
    if (index >= count)
        return;
    for (size_t i = index; i + 1 < count; ++i) {
        if (test(i + 1))
            set(i);
        else
            bits[i / 8] = uint8_t(bits[i / 8] & ~(1u << (i % 8)));
    }
    --count;
}

size_t KaBitArray::countClear() const noexcept
{
    size_t clear = 0;
    for (size_t i = 0; i < count; ++i)
        if (!test(i))
            ++clear;
    return clear;
}

// ---- AttributeObject --------------------------------------------------------

AttributeObject::~AttributeObject()
{
    delete text;
    delete secret;
}

// ---- KaValueParserCore: construction ------------------------------------------

template <typename Unit, typename Parser>
template <typename... Encoding>
KaValueParserCore<Unit, Parser>::KaValueParserCore(const Unit* text, size_t length, Unit sep, const Unit* name,
                                                   int32_t duplicates, Encoding... encoding) noexcept
    : scanner(text, length, static_cast<uint32_t>(encoding)...), separator(sep), sourceName(name), token(encoding...),
      currentKey(encoding...), allowDuplicates(duplicates)
{
    attributes.noCase = 1;
    // Connection-string mode: a value in braces ends at an undoubled "}".
    scanner.bracedItems = 1;
}

template <typename Unit, typename Parser>
KaValueParserCore<Unit, Parser>::~KaValueParserCore() = default;

template <typename Unit, typename Parser>
void KaValueParserCore<Unit, Parser>::setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    scanner.quoteChar1 = q1;
    scanner.quoteChar2 = q2;
    scanner.quoteChar3 = q3;
}

template <typename Unit, typename Parser>
int KaValueParserCore<Unit, Parser>::addWordChars(const Unit* characters) noexcept
{
    size_t n = lengthOf(characters);
    if (n == 0)
        return 0;
    if (scanner.wordStartChars.append(characters, n) != 0 || scanner.wordChars.append(characters, n) != 0)
        return 1;
    return 0;
}

// ---- KaValueParserCore: parsing --------------------------------------------------

template <typename Unit, typename Parser>
void KaValueParserCore<Unit, Parser>::syntaxError() noexcept
{
    auto offset = static_cast<uint64_t>(token.start);
    if (sourceName != nullptr)
        addName(errPost(MSG_SYNTAX_ERROR_AT_IN)->addParamUnsigned(offset), sourceName);
    else
        errPost(MSG_SYNTAX_ERROR_AT)->addParamUnsigned(offset);
}

template <typename Unit, typename Parser>
bool KaValueParserCore<Unit, Parser>::atSeparator() noexcept
{
    if (token.kind == KA_TOKEN_END || token.len == 0 || token.data[0] != separator)
        return false;
    if (token.len > 1) {
        // The scanner joined the separator with an operator character.
        rescanFrom(scanner, token.start + 1);
        token.len = 1;
    }
    return true;
}

template <typename Unit, typename Parser>
template <typename Store>
int KaValueParserCore<Unit, Parser>::parseWith(Store&& store) noexcept
{
    dsnDriverMode = KA_DSN_DRIVER_NONE;
    for (;;) {
        scanner.nextToken(token, KA_SCAN_PLAIN);
        if (token.kind == KA_TOKEN_END)
            break;
        if (!atSeparator() && parseAttribute(store) != 0)
            return 1;
        if (!atSeparator())
            break;
    }
    if (token.kind != KA_TOKEN_END) {
        syntaxError();
        return 1;
    }
    return resetUsed();
}

template <typename Unit, typename Parser>
template <typename Store>
int KaValueParserCore<Unit, Parser>::parseAttribute(Store& store) noexcept
{
    if (!Parser::startsKey(token.kind)) {
        syntaxError();
        return 1;
    }
    // The key is the raw span of consecutive words, inner blanks included.
    int64_t keyStart = token.start;
    int64_t keyEnd = token.start + int64_t(token.len);
    for (;;) {
        scanner.nextToken(token, KA_SCAN_PLAIN);
        if (token.kind != KA_TOKEN_WORD)
            break;
        keyEnd = token.start + int64_t(token.len);
    }
    self().bindKey(scanner.input + keyStart, size_t(keyEnd - keyStart));
    bool present = attributes.find(currentKey) != attributes.count;
    if (present && allowDuplicates == 0 && !keyIs(currentKey, kDriver)) {
        syntaxError();
        KaError* rec = KaErrorGetLast();
        if (rec != nullptr)
            addName(appendMessage(rec, MSG_ATTRIBUTE_DUPLICATE), currentKey);
        currentKey.set(nullptr, 0);
        return 1;
    }
    if (keyIs(currentKey, kOdbc)) {
        currentKey.set(nullptr, 0);
        return 0;
    }
    if (token.kind == KA_TOKEN_END || token.len == 0 || token.data[0] != Unit('=')) {
        syntaxError();
        currentKey.set(nullptr, 0);
        return 1;
    }
    if (token.len > 1)
        rescanFrom(scanner, token.start + 1);
    scanner.nextItem(token, separator);
    if (token.kind == KA_TOKEN_UNTERMINATED) {
        // A value opened with "{" and never closed would swallow every
        // attribute after it.
        syntaxError();
        currentKey.set(nullptr, 0);
        return 1;
    }
    if (dsnDriverMode == KA_DSN_DRIVER_NONE) {
        if (keyIs(currentKey, kDsn))
            dsnDriverMode = KA_DSN_FIRST;
        else if (keyIs(currentKey, kDriver))
            dsnDriverMode = KA_DRIVER_FIRST;
    }
    bool skip = present || (dsnDriverMode == KA_DRIVER_FIRST && keyIs(currentKey, kDsn)) ||
                (dsnDriverMode == KA_DSN_FIRST && keyIs(currentKey, kDriver));
    if (!skip && store(token.len != 0 ? token.data : nullptr, token.len) != 0) {
        currentKey.set(nullptr, 0);
        return 1;
    }
    currentKey.set(nullptr, 0);
    scanner.nextToken(token, KA_SCAN_PLAIN);
    return 0;
}

// ---- KaValueParserCore: lookups ----------------------------------------------------

template <typename Unit, typename Parser>
size_t KaValueParserCore<Unit, Parser>::find(const Unit* name, size_t count) const noexcept
{
    if (name == nullptr)
        return attributes.count;
    return attributes.find(self().view(name, count));
}

template <typename Unit, typename Parser>
void KaValueParserCore<Unit, Parser>::markUsed(size_t index) noexcept
{
    used.set(index);
}

template <typename Unit, typename Parser>
auto KaValueParserCore<Unit, Parser>::getValue(const SubString& name) noexcept -> String*
{
    size_t i = find(name.data, name.len);
    if (i == attributes.count)
        return nullptr;
    markUsed(i);
    return Parser::textOf(static_cast<Value*>(attributes.valueAt(i)));
}

template <typename Unit, typename Parser>
auto KaValueParserCore<Unit, Parser>::getValueCStr(const Unit* name) noexcept -> String*
{
    return getValue(self().view(name, lengthOf(name)));
}

template <typename Unit, typename Parser>
KaError* KaValueParserCore<Unit, Parser>::postBothNames(const Unit* name1, const Unit* name2) noexcept
{
    syntaxError();
    KaError* rec = KaErrorGetLast();
    if (rec == nullptr)
        return nullptr;
    addName(addName(appendMessage(rec, MSG_ATTRIBUTE_TWO_KEYWORDS), name1), name2);
    return rec;
}

template <typename Unit, typename Parser>
int KaValueParserCore<Unit, Parser>::getValueByNames(const Unit* name1, const Unit* name2, String** value) noexcept
{
    *value = nullptr;
    size_t i1 = find(name1, lengthOf(name1));
    size_t i2 = find(name2, lengthOf(name2));
    size_t none = attributes.count;
    if (i1 != none && i2 != none && i1 != i2) {
        markUsed(i1);
        markUsed(i2);
        KaError* rec = postBothNames(name1, name2);
        if constexpr (Parser::kEqualValuesWarn) {
            String* v1 = Parser::textOf(static_cast<Value*>(attributes.valueAt(i1)));
            String* v2 = Parser::textOf(static_cast<Value*>(attributes.valueAt(i2)));
            bool same = v1 != nullptr && v2 != nullptr && v1->len == v2->len &&
                        (v1->len == 0 || sameUnits(v1->data, v2->data, v1->len));
            if (same) {
                if (rec != nullptr)
                    rec->setWarning();
                *value = v1;
                return 0;
            }
        }
        return 1;
    }
    size_t i = i1 != none ? i1 : i2;
    if (i == none)
        return 0;
    markUsed(i);
    *value = Parser::textOf(static_cast<Value*>(attributes.valueAt(i)));
    return 0;
}

template <typename Unit, typename Parser>
bool KaValueParserCore<Unit, Parser>::hasKey(const Unit* name) const noexcept
{
    return find(name, lengthOf(name)) != attributes.count;
}

template <typename Unit, typename Parser>
int64_t KaValueParserCore<Unit, Parser>::indexOf(const Unit* name, size_t count) const noexcept
{
    size_t i = find(name, count);
    return i == attributes.count ? -1 : int64_t(i);
}

template <typename Unit, typename Parser>
auto KaValueParserCore<Unit, Parser>::keyAt(size_t index) const noexcept -> SubString*
{
    return index < attributes.count ? attributes.keyAt(index) : nullptr;
}

// ---- KaValueParserCore: editing -------------------------------------------------------

template <typename Unit, typename Parser>
int KaValueParserCore<Unit, Parser>::storeValue(size_t index, const Unit* keyText, size_t keyLength,
                                                Value* value) noexcept
{
    if (index < attributes.count) {
        attributes.entryAt(index)->setValue(value);
        return 0;
    }
    std::unique_ptr<Value> held(value);
    std::unique_ptr<String> keyCopy(self().newString(false));
    if (!keyCopy || self().assignText(*keyCopy, keyText, keyLength) != 0 ||
        attributes.add(keyCopy.get(), held.get()) != 0)
        return 1;
    (void)keyCopy.release();
    (void)held.release();
    return 0;
}

template <typename Unit, typename Parser>
int KaValueParserCore<Unit, Parser>::setValue(const Unit* keyText, size_t keyLength, const Unit* value,
                                              size_t valueLength, const Unit* altKey, size_t altKeyLength) noexcept
{
    if (keyText == nullptr)
        return 1;
    size_t i = find(keyText, keyLength);
    if (i == attributes.count && altKey != nullptr)
        i = find(altKey, altKeyLength);
    // Any value may be a password: a wiping string leaves no copy behind.
    std::unique_ptr<String> text(self().newString(true));
    if (!text)
        return 1;
    if (self().assignText(*text, value, value != nullptr ? valueLength : 0) != 0 ||
        ((text->findChar('\'', 0) < text->len || text->findChar('"', 0) < text->len ||
          text->findChar(separator, 0) < text->len) &&
         text->quote('\'') != 0))
        return 1;
    Value* held = Parser::holdText(text.get());
    if (held == nullptr)
        return 1;
    (void)text.release();
    return storeValue(i, keyText, keyLength, held);
}

template <typename Unit, typename Parser>
int KaValueParserCore<Unit, Parser>::setValueCStr(const Unit* keyText, const Unit* value, const Unit* altKey) noexcept
{
    return setValue(keyText, lengthOf(keyText), value, lengthOf(value), altKey, lengthOf(altKey));
}

template <typename Unit, typename Parser>
void KaValueParserCore<Unit, Parser>::removeKey(const Unit* name) noexcept
{
    size_t i = find(name, lengthOf(name));
    if (i != attributes.count)
        removeAt(i);
}

template <typename Unit, typename Parser>
void KaValueParserCore<Unit, Parser>::removeAt(size_t index) noexcept
{
    if (index >= attributes.count)
        return;
    attributes.deleteAt(index);
    // The used bits follow their attributes.
    used.removeAt(index);
}

// ---- KaValueParserCore: used attributes ---------------------------------------------------

template <typename Unit, typename Parser>
int KaValueParserCore<Unit, Parser>::resetUsed() noexcept
{
    unusedCursor = 0;
    return used.resize(attributes.count);
}

template <typename Unit, typename Parser>
uint16_t KaValueParserCore<Unit, Parser>::countUnused() const noexcept
{
    size_t n = used.countClear();
    return n < UINT16_MAX ? uint16_t(n) : UINT16_MAX;
}

template <typename Unit, typename Parser>
auto KaValueParserCore<Unit, Parser>::nextUnused() noexcept -> SubString*
{
    size_t n = attributes.count < used.count ? attributes.count : used.count;
    // The cursor is 16 bits wide; it stops rather than wraps.
    while (unusedCursor < n && unusedCursor < UINT16_MAX) {
        size_t i = unusedCursor++;
        if (!used.test(i))
            return attributes.keyAt(i);
    }
    return nullptr;
}

// ---- KaValueParserCore: building ------------------------------------------------------------

template <typename Unit, typename Parser>
template <typename ValueOf>
int KaValueParserCore<Unit, Parser>::buildInto(String& result, Unit outSeparator, ValueOf&& valueOf) noexcept
{
    result.len = 0;
    if (result.data != nullptr && result.capacity != 0)
        result.data[0] = 0;
    // Built in a wiping string and handed over in one piece, so that the
    // blocks given up while the text grows hold no value (any of which may
    // be a password).
    std::unique_ptr<String> out(self().newString(true));
    if (!out)
        return 1;
    int failed = 0;
    for (size_t i = 0; i < attributes.count && failed == 0; ++i) {
        SubString* k = attributes.keyAt(i);
        if (k == nullptr)
            continue;
        if ((out->len != 0 && out->appendChar(outSeparator) != 0) || out->append(k->data, k->len) != 0 ||
            out->appendChar('=') != 0) {
            failed = 1;
            break;
        }
        // A decrypted value lives here only while it is written.
        KaMemoryBuffer plain;
        const Unit* v = nullptr;
        size_t n = 0;
        if (valueOf(static_cast<Value*>(attributes.valueAt(i)), *k, plain, &v, &n) != 0) {
            failed = 1;
            break;
        }
        const uint16_t quotes[3] = {scanner.quoteChar1, scanner.quoteChar2, scanner.quoteChar3};
        failed = needsBraces(v, n, outSeparator, quotes) ? appendBraced(*out, v, n) : (n != 0 ? out->append(v, n) : 0);
    }
    if (failed == 0 && self().assignText(result, out->data, out->len) != 0)
        failed = 1;
    return failed != 0 ? 1 : 0;
}

template <typename Unit, typename Parser>
int KaValueParserCore<Unit, Parser>::build(String& out, Unit outSeparator) noexcept
{
    return buildInto(out, outSeparator,
                     [](Value* value, const SubString& key, KaMemoryBuffer&, const Unit** v, size_t* n) noexcept {
                         if constexpr (std::is_same_v<Value, AttributeObject>) {
                             if (value != nullptr && value->secret != nullptr) {
                                 postGeneral(MSG_ATTRIBUTE_STRING_HOLDS_SECRET, &key);
                                 return 1;
                             }
                         }
                         String* text = Parser::textOf(value);
                         *v = text != nullptr ? text->data : nullptr;
                         *n = text != nullptr && text->data != nullptr ? text->len : 0;
                         return 0;
                     });
}

// ---- KaValueParserW -------------------------------------------------------------------------

KaValueParserW::KaValueParserW(const uint16_t* text, size_t length, uint16_t sep, const uint16_t* name,
                               int32_t duplicates) noexcept
    : KaValueParserCore(text, length, sep, name, duplicates)
{}

KaValueParserW::KaValueParserW(const KaSubStringW& text, uint16_t sep, const uint16_t* name,
                               int32_t duplicates) noexcept
    : KaValueParserW(text.data, text.len, sep, name, duplicates)
{}

KaValueParserW::~KaValueParserW() = default;

KaSubStringW KaValueParserW::view(const uint16_t* name, size_t count) const noexcept
{
    return KaSubStringW(name, count);
}

void KaValueParserW::bindKey(const uint16_t* text, size_t length) noexcept
{
    currentKey.set(text, length);
}

KaStringW* KaValueParserW::newString(bool wiping) const noexcept
{
    return wiping ? new KaStringWEx() : new KaStringW();
}

int KaValueParserW::assignText(KaStringW& target, const uint16_t* text, size_t length) const noexcept
{
    return target.assign(text, length) != 0 ? 1 : 0;
}

KaStringW* KaValueParserW::textOf(AttributeObject* value) noexcept
{
    return value != nullptr ? value->text : nullptr;
}

AttributeObject* KaValueParserW::holdText(KaStringW* text) noexcept
{
    auto* attr = new AttributeObject();
    if (attr != nullptr)
        attr->text = text;
    return attr;
}

bool KaValueParserW::startsKey(uint32_t kind) noexcept
{
    return kind == KA_TOKEN_WORD;
}

int KaValueParserW::parse(const uint8_t* key, KaSensitivePredicate sensitive) noexcept
{
    isSensitive = sensitive;
    return parseWith([this, key](const uint16_t* value, size_t length) noexcept { return store(key, value, length); });
}

int KaValueParserW::store(const uint8_t* key, const uint16_t* value, size_t valueLen) noexcept
{
    bool secret = currentKey.indexInNoCase(kSensitiveKeys, sizeof kSensitiveKeys / sizeof *kSensitiveKeys) !=
                      sizeof kSensitiveKeys / sizeof *kSensitiveKeys ||
                  (isSensitive != nullptr && isSensitive(currentKey) != 0);
    std::unique_ptr<AttributeObject> attr(new AttributeObject());
    if (!attr)
        return 1;
    if (secret) {
        // The unbraced text lives only in a wiping buffer on its way in.
        KaStringWEx plain;
        attr->secret = new KaMemoryBuffer();
        if (attr->secret == nullptr || unbraceInto(plain, value, valueLen) != 0 ||
            attr->secret->setEncrypted(plain.data, int64_t(plain.len), key) != 0)
            return 1;
    } else {
        // Plain values are wiped too: a caller may keep a password under a
        // key it did not name as sensitive.
        auto* text = new KaStringWEx();
        attr->text = text;
        if (text == nullptr || unbraceInto(*text, value, valueLen) != 0)
            return 1;
    }
    return storeValue(attributes.count, currentKey.data, currentKey.len, attr.release());
}

int KaValueParserW::getSecret(const uint16_t* name, int* found, KaMemoryBuffer& holder) noexcept
{
    *found = 0;
    size_t i = find(name, lengthOf(name));
    if (i == attributes.count)
        return 0;
    auto* attr = static_cast<AttributeObject*>(attributes.valueAt(i));
    if (attr == nullptr || attr->secret == nullptr) {
        KaSubStringW view(name, lengthOf(name));
        postGeneral(MSG_ATTRIBUTE_NOT_ENCRYPTED, &view);
        return 1;
    }
    if (holder.copyFrom(*attr->secret) != 0)
        return 1;
    markUsed(i);
    *found = 1;
    return 0;
}

int KaValueParserW::getSecretByNames(const uint16_t* name1, const uint16_t* name2, int* found,
                                     KaMemoryBuffer& holder) noexcept
{
    *found = 0;
    size_t i1 = find(name1, lengthOf(name1));
    size_t i2 = find(name2, lengthOf(name2));
    size_t none = attributes.count;
    if (i1 != none && i2 != none && i1 != i2) {
        markUsed(i1);
        markUsed(i2);
        postBothNames(name1, name2);
        return 1;
    }
    if (i1 != none)
        return getSecret(name1, found, holder);
    if (i2 != none)
        return getSecret(name2, found, holder);
    return 0;
}

int KaValueParserW::setSecret(const uint16_t* keyText, const KaMemoryBuffer& holder, const uint16_t* altKey) noexcept
{
    if (keyText == nullptr)
        return 1;
    size_t keyLength = lengthOf(keyText);
    size_t i = find(keyText, keyLength);
    if (i == attributes.count && altKey != nullptr)
        i = find(altKey, lengthOf(altKey));
    std::unique_ptr<AttributeObject> attr(new AttributeObject());
    if (!attr)
        return 1;
    attr->secret = new KaMemoryBuffer();
    if (attr->secret == nullptr || attr->secret->copyFrom(holder) != 0)
        return 1;
    return storeValue(i, keyText, keyLength, attr.release());
}

int KaValueParserW::buildDecrypted(KaStringW& out, const uint8_t* key, uint16_t outSeparator) noexcept
{
    return buildInto(out, outSeparator,
                     [key](AttributeObject* attr, const KaSubStringW& name, KaMemoryBuffer& plain, const uint16_t** v,
                           size_t* n) noexcept {
                         *v = nullptr;
                         *n = 0;
                         if (attr == nullptr)
                             return 0;
                         if (attr->secret != nullptr) {
                             if (plain.decryptFrom(*attr->secret, key) != 0) {
                                 postGeneral(MSG_ATTRIBUTE_STRING_HOLDS_SECRET, &name);
                                 return 1;
                             }
                             *v = plain.data;
                             *n = size_t(plain.length);
                         } else if (attr->text != nullptr) {
                             *v = attr->text->data;
                             *n = attr->text->len;
                         }
                         return 0;
                     });
}

// ---- KaValueParser ---------------------------------------------------------------------------

KaValueParser::KaValueParser(const char* text, size_t length, int32_t textCodePage, char sep, const char* name,
                             int32_t duplicates) noexcept
    : KaValueParserCore(text, length, sep, name, duplicates, textCodePage), codePage(textCodePage)
{}

KaValueParser::KaValueParser(const KaSubString& text, char sep, const char* name, int32_t duplicates) noexcept
    : KaValueParser(text.data, text.len, text.codePage, sep, name, duplicates)
{}

KaValueParser::~KaValueParser() = default;

KaSubString KaValueParser::view(const char* name, size_t count) const noexcept
{
    return KaSubString(name, count, codePage);
}

void KaValueParser::bindKey(const char* text, size_t length) noexcept
{
    currentKey.set(text, length, codePage);
}

KaString* KaValueParser::newString(bool wiping) const noexcept
{
    return wiping ? new KaStringEx(codePage) : new KaString(codePage);
}

int KaValueParser::assignText(KaString& target, const char* text, size_t length) const noexcept
{
    return target.assign(text != nullptr ? text : "", text != nullptr ? length : 0, codePage) != 0 ? 1 : 0;
}

KaString* KaValueParser::textOf(KaString* value) noexcept
{
    return value;
}

KaString* KaValueParser::holdText(KaString* text) noexcept
{
    return text;
}

bool KaValueParser::startsKey(uint32_t kind) noexcept
{
    // Trace options may have keys such as "1st".
    return kind == KA_TOKEN_WORD || kind == KA_TOKEN_NUMBER;
}

int KaValueParser::parse() noexcept
{
    return parseWith([this](const char* value, size_t length) noexcept { return store(value, length); });
}

int KaValueParser::store(const char* value, size_t valueLength) noexcept
{
    // Any value may be a password: a wiping string leaves no copy behind
    // when it grows or is freed.
    std::unique_ptr<KaStringEx> text(new KaStringEx(codePage));
    if (!text || unbraceInto(*text, value != nullptr ? value : "", valueLength) != 0)
        return 1;
    text->codePage = codePage;
    return storeValue(attributes.count, currentKey.data, currentKey.len, text.release());
}

template class KaValueParserCore<uint16_t, KaValueParserW>;
template class KaValueParserCore<char, KaValueParser>;
