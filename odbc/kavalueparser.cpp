// The attribute-string parsers.
#include "odbc/kavalueparser.h"

#include <unicode/uchar.h>

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

bool keyIs(const KaSubStringW& key, const char16_t* name)
{
    return key.data != nullptr && strEqualNoCaseNW(key.data, key.len, W(name)) != 0;
}

bool keyIs(const KaSubString& key, const char* name)
{
    return key.data != nullptr && strEqualNoCaseN(key.data, key.len, name, fastStrlen(name)) != 0;
}

size_t lengthW(const uint16_t* s)
{
    return s != nullptr ? strLenW(s) : 0;
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
int unbraceInto(Str& dest, const Char* text, size_t n)
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
bool needsBraces(const Char* v, size_t n, Char separator)
{
    if (n == 0)
        return false;
    if (v[0] == Char('{') || isWhite(v[0]) || isWhite(v[n - 1]))
        return true;
    for (size_t i = 0; i < n; ++i)
        if (v[i] == Char(';') || v[i] == separator)
            return true;
    return false;
}

template <typename Char, typename Str>
int appendBraced(Str& out, const Char* v, size_t n)
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

// ---- Used attributes, for both parsers -------------------------------------

namespace {

template <typename Dictionary>
void removeAttribute(Dictionary& attributes, KaBitArray& used, size_t index) noexcept
{
    if (index >= attributes.count)
        return;
    attributes.deleteAt(index);
    // The used bits follow their attributes.
    used.removeAt(index);
}

uint16_t unusedCount(const KaBitArray& used) noexcept
{
    size_t n = used.countClear();
    return n < UINT16_MAX ? uint16_t(n) : UINT16_MAX;
}

template <typename Dictionary>
auto nextUnusedKey(const Dictionary& attributes, const KaBitArray& used, uint16_t& cursor) noexcept
    -> decltype(attributes.keyAt(0))
{
    size_t n = attributes.count < used.count ? attributes.count : used.count;
    // The cursor is 16 bits wide; it stops rather than wraps.
    while (cursor < n && cursor < UINT16_MAX) {
        size_t i = cursor++;
        if (!used.test(i))
            return attributes.keyAt(i);
    }
    return nullptr;
}

}  // namespace

// ---- AttributeObject --------------------------------------------------------

AttributeObject::~AttributeObject()
{
    delete text;
    delete secret;
}

// ---- KaValueParserW: construction -------------------------------------------

KaValueParserW::KaValueParserW(const uint16_t* text, size_t length, uint16_t sep,
                               const uint16_t* name, int32_t duplicates) noexcept
    : scanner(text, length), separator(sep), sourceName(name), allowDuplicates(duplicates)
{
    attributes.noCase = 1;
    // Connection-string mode: a value in braces ends at an undoubled "}".
    scanner.bracedItems = 1;
}

KaValueParserW::KaValueParserW(const KaSubStringW& text, uint16_t sep, const uint16_t* name,
                               int32_t duplicates) noexcept
    : KaValueParserW(text.data, text.len, sep, name, duplicates)
{
}

KaValueParserW::~KaValueParserW() = default;

void KaValueParserW::setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    scanner.quoteChar1 = q1;
    scanner.quoteChar2 = q2;
    scanner.quoteChar3 = q3;
}

int KaValueParserW::addWordChars(const uint16_t* characters) noexcept
{
    size_t n = lengthW(characters);
    if (n == 0)
        return 0;
    if (scanner.wordStartChars.append(characters, n) != 0 || scanner.wordChars.append(characters, n) != 0)
        return 1;
    return 0;
}

// ---- KaValueParserW: parsing --------------------------------------------------

void KaValueParserW::syntaxError() noexcept
{
    auto offset = static_cast<uint64_t>(token.start);
    if (sourceName != nullptr)
        errPost(MSG_SYNTAX_ERROR_AT_IN)->addParamUnsigned(offset)->addParamW(sourceName);
    else
        errPost(MSG_SYNTAX_ERROR_AT)->addParamUnsigned(offset);
}

bool KaValueParserW::atSeparator() noexcept
{
    if (token.kind == KA_TOKEN_END || token.len == 0 || token.data[0] != separator)
        return false;
    if (token.len > 1) {
        // The scanner joined the separator with an operator character.
        scanner.position = uint64_t(token.start) + 1;
        scanner.atEnd = 0;
        token.len = 1;
    }
    return true;
}

int KaValueParserW::parse(const uint8_t* key, KaSensitivePredicate sensitive) noexcept
{
    isSensitive = sensitive;
    dsnDriverMode = KA_DSN_DRIVER_NONE;
    for (;;) {
        scanner.nextToken(token, KA_SCAN_PLAIN);
        if (token.kind == KA_TOKEN_END)
            break;
        if (!atSeparator() && parseAttribute(key) != 0)
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

int KaValueParserW::parseAttribute(const uint8_t* key) noexcept
{
    if (token.kind != KA_TOKEN_WORD) {
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
    currentKey.set(scanner.input + keyStart, size_t(keyEnd - keyStart));
    bool present = attributes.find(currentKey) != attributes.count;
    if (present && allowDuplicates == 0 && !keyIs(currentKey, u"DRIVER")) {
        syntaxError();
        KaError* rec = KaErrorGetLast();
        if (rec != nullptr)
            appendMessage(rec, MSG_ATTRIBUTE_DUPLICATE)->addParamSubStringW(currentKey);
        currentKey.set(nullptr, 0);
        return 1;
    }
    if (keyIs(currentKey, u"ODBC")) {
        currentKey.set(nullptr, 0);
        return 0;
    }
    if (token.kind == KA_TOKEN_END || token.len == 0 || token.data[0] != '=') {
        syntaxError();
        currentKey.set(nullptr, 0);
        return 1;
    }
    if (token.len > 1) {
        scanner.position = uint64_t(token.start) + 1;
        scanner.atEnd = 0;
    }
    scanner.nextItem(token, separator);
    if (token.kind == KA_TOKEN_UNTERMINATED) {
        // A value opened with "{" and never closed would swallow every
        // attribute after it.
        syntaxError();
        currentKey.set(nullptr, 0);
        return 1;
    }
    const uint16_t* value = token.len != 0 ? token.data : nullptr;
    size_t valueLen = token.len;

    if (dsnDriverMode == KA_DSN_DRIVER_NONE) {
        if (keyIs(currentKey, u"DSN"))
            dsnDriverMode = KA_DSN_FIRST;
        else if (keyIs(currentKey, u"DRIVER"))
            dsnDriverMode = KA_DRIVER_FIRST;
    }
    bool skip = present || (dsnDriverMode == KA_DRIVER_FIRST && keyIs(currentKey, u"DSN")) ||
                (dsnDriverMode == KA_DSN_FIRST && keyIs(currentKey, u"DRIVER"));
    if (!skip && store(key, value, valueLen) != 0) {
        currentKey.set(nullptr, 0);
        return 1;
    }
    currentKey.set(nullptr, 0);
    scanner.nextToken(token, KA_SCAN_PLAIN);
    return 0;
}

int KaValueParserW::store(const uint8_t* key, const uint16_t* value, size_t valueLen) noexcept
{
    bool secret = currentKey.indexInNoCase(kSensitiveKeys, sizeof kSensitiveKeys / sizeof *kSensitiveKeys) !=
                      sizeof kSensitiveKeys / sizeof *kSensitiveKeys ||
                  (isSensitive != nullptr && isSensitive(currentKey) != 0);
    auto* attr = new AttributeObject();
    if (attr == nullptr)
        return 1;
    if (secret) {
        // The unbraced text lives only in a wiping buffer on its way in.
        KaStringWEx plain;
        attr->secret = new KaMemoryBuffer();
        if (attr->secret == nullptr || unbraceInto(plain, value, valueLen) != 0 ||
            attr->secret->setEncrypted(plain.data, int64_t(plain.len), key) != 0) {
            delete attr;
            return 1;
        }
    } else {
        // Plain values are wiped too: a caller may keep a password under a
        // key it did not name as sensitive.
        auto* text = new KaStringWEx();
        attr->text = text;
        if (text == nullptr || unbraceInto(*text, value, valueLen) != 0) {
            delete attr;
            return 1;
        }
    }
    auto* keyCopy = new KaStringW();
    if (keyCopy == nullptr || keyCopy->assign(currentKey.data, currentKey.len) != 0 ||
        attributes.add(keyCopy, attr) != 0) {
        delete keyCopy;
        delete attr;
        return 1;
    }
    return 0;
}

// ---- KaValueParserW: lookups ----------------------------------------------------

size_t KaValueParserW::find(const uint16_t* name, size_t count) const noexcept
{
    if (name == nullptr)
        return attributes.count;
    KaSubStringW view(name, count);
    return attributes.find(view);
}

void KaValueParserW::markUsed(size_t index) noexcept
{
    used.set(index);
}

KaStringW* KaValueParserW::getValue(const KaSubStringW& name) noexcept
{
    size_t i = find(name.data, name.len);
    if (i == attributes.count)
        return nullptr;
    markUsed(i);
    auto* attr = static_cast<AttributeObject*>(attributes.valueAt(i));
    return attr != nullptr ? attr->text : nullptr;
}

KaStringW* KaValueParserW::getValueCStr(const uint16_t* name) noexcept
{
    return getValue(KaSubStringW(name, lengthW(name)));
}

int KaValueParserW::getSecret(const uint16_t* name, int* found, KaMemoryBuffer& holder) noexcept
{
    *found = 0;
    size_t i = find(name, lengthW(name));
    if (i == attributes.count)
        return 0;
    auto* attr = static_cast<AttributeObject*>(attributes.valueAt(i));
    if (attr == nullptr || attr->secret == nullptr) {
        KaSubStringW view(name, lengthW(name));
        postGeneral(MSG_ATTRIBUTE_NOT_ENCRYPTED, &view);
        return 1;
    }
    if (holder.copyFrom(*attr->secret) != 0)
        return 1;
    markUsed(i);
    *found = 1;
    return 0;
}

// Both keywords given: the syntax diagnostic with the two names appended.
KaError* KaValueParserW::postBothNames(const uint16_t* name1, const uint16_t* name2) noexcept
{
    syntaxError();
    KaError* rec = KaErrorGetLast();
    if (rec == nullptr)
        return nullptr;
    appendMessage(rec, MSG_ATTRIBUTE_TWO_KEYWORDS)->addParamW(name1)->addParamW(name2);
    return rec;
}

int KaValueParserW::getValueByNames(const uint16_t* name1, const uint16_t* name2, KaStringW** value) noexcept
{
    *value = nullptr;
    size_t i1 = find(name1, lengthW(name1));
    size_t i2 = find(name2, lengthW(name2));
    size_t none = attributes.count;
    if (i1 != none && i2 != none && i1 != i2) {
        markUsed(i1);
        markUsed(i2);
        auto* a1 = static_cast<AttributeObject*>(attributes.valueAt(i1));
        auto* a2 = static_cast<AttributeObject*>(attributes.valueAt(i2));
        KaError* rec = postBothNames(name1, name2);
        KaStringW* v1 = a1 != nullptr ? a1->text : nullptr;
        KaStringW* v2 = a2 != nullptr ? a2->text : nullptr;
        bool same = v1 != nullptr && v2 != nullptr && v1->len == v2->len &&
                    (v1->len == 0 || strEqualMemW(v1->data, v2->data, v1->len) != 0);
        if (!same)
            return 1;
        if (rec != nullptr)
            rec->setWarning();
        *value = v1;
        return 0;
    }
    size_t i = i1 != none ? i1 : i2;
    if (i == none)
        return 0;
    markUsed(i);
    auto* attr = static_cast<AttributeObject*>(attributes.valueAt(i));
    *value = attr != nullptr ? attr->text : nullptr;
    return 0;
}

int KaValueParserW::getSecretByNames(const uint16_t* name1, const uint16_t* name2, int* found,
                                     KaMemoryBuffer& holder) noexcept
{
    *found = 0;
    size_t i1 = find(name1, lengthW(name1));
    size_t i2 = find(name2, lengthW(name2));
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

bool KaValueParserW::hasKey(const uint16_t* name) const noexcept
{
    return find(name, lengthW(name)) != attributes.count;
}

int64_t KaValueParserW::indexOf(const uint16_t* name, size_t count) const noexcept
{
    size_t i = find(name, count);
    return i == attributes.count ? -1 : int64_t(i);
}

KaSubStringW* KaValueParserW::keyAt(size_t index) const noexcept
{
    return index < attributes.count ? attributes.keyAt(index) : nullptr;
}

// ---- KaValueParserW: editing -------------------------------------------------------

int KaValueParserW::storeValue(size_t index, const uint16_t* keyText, size_t keyLength,
                               AttributeObject* value) noexcept
{
    if (index < attributes.count) {
        attributes.entryAt(index)->setValue(value);
        return 0;
    }
    auto* keyCopy = new KaStringW();
    if (keyCopy == nullptr || keyCopy->assign(keyText, keyLength) != 0 || attributes.add(keyCopy, value) != 0) {
        delete keyCopy;
        delete value;
        return 1;
    }
    return 0;
}

int KaValueParserW::setValue(const uint16_t* keyText, size_t keyLength, const uint16_t* value,
                             size_t valueLength, const uint16_t* altKey, size_t altKeyLength) noexcept
{
    if (keyText == nullptr)
        return 1;
    size_t i = find(keyText, keyLength);
    if (i == attributes.count && altKey != nullptr)
        i = find(altKey, altKeyLength);
    auto* attr = new AttributeObject();
    if (attr == nullptr)
        return 1;
    attr->text = new KaStringWEx();
    if (attr->text == nullptr || attr->text->assign(value, value != nullptr ? valueLength : 0) != 0) {
        delete attr;
        return 1;
    }
    KaStringW& t = *attr->text;
    if ((t.findChar('\'', 0) < t.len || t.findChar('"', 0) < t.len || t.findChar(separator, 0) < t.len) &&
        t.quote('\'') != 0) {
        delete attr;
        return 1;
    }
    return storeValue(i, keyText, keyLength, attr);
}

int KaValueParserW::setValueCStr(const uint16_t* keyText, const uint16_t* value, const uint16_t* altKey) noexcept
{
    return setValue(keyText, lengthW(keyText), value, lengthW(value), altKey, lengthW(altKey));
}

int KaValueParserW::setSecret(const uint16_t* keyText, const KaMemoryBuffer& holder, const uint16_t* altKey) noexcept
{
    if (keyText == nullptr)
        return 1;
    size_t keyLength = lengthW(keyText);
    size_t i = find(keyText, keyLength);
    if (i == attributes.count && altKey != nullptr)
        i = find(altKey, lengthW(altKey));
    auto* attr = new AttributeObject();
    if (attr == nullptr)
        return 1;
    attr->secret = new KaMemoryBuffer();
    if (attr->secret == nullptr || attr->secret->copyFrom(holder) != 0) {
        delete attr;
        return 1;
    }
    return storeValue(i, keyText, keyLength, attr);
}

void KaValueParserW::removeKey(const uint16_t* name) noexcept
{
    size_t i = find(name, lengthW(name));
    if (i != attributes.count)
        removeAt(i);
}

void KaValueParserW::removeAt(size_t index) noexcept
{
    removeAttribute(attributes, used, index);
}

// ---- KaValueParserW: used attributes ---------------------------------------------------

int KaValueParserW::resetUsed() noexcept
{
    unusedCursor = 0;
    return used.resize(attributes.count);
}

uint16_t KaValueParserW::countUnused() const noexcept
{
    return unusedCount(used);
}

KaSubStringW* KaValueParserW::nextUnused() noexcept
{
    return nextUnusedKey(attributes, used, unusedCursor);
}

// ---- KaValueParserW: building ------------------------------------------------------------

int KaValueParserW::build(KaStringW& out, uint16_t outSeparator) noexcept
{
    return buildInto(out, nullptr, outSeparator, false);
}

int KaValueParserW::buildDecrypted(KaStringW& out, const uint8_t* key, uint16_t outSeparator) noexcept
{
    return buildInto(out, key, outSeparator, true);
}

int KaValueParserW::buildInto(KaStringW& result, const uint8_t* key, uint16_t outSeparator, bool decrypt) noexcept
{
    result.len = 0;
    if (result.data != nullptr && result.capacity != 0)
        result.data[0] = 0;
    // Built in a wiping string and handed over in one piece, so that the
    // blocks given up while the text grows hold no decrypted value.
    KaStringWEx out;
    for (size_t i = 0; i < attributes.count; ++i) {
        KaSubStringW* k = attributes.keyAt(i);
        auto* attr = static_cast<AttributeObject*>(attributes.valueAt(i));
        if (k == nullptr || attr == nullptr)
            continue;
        if ((out.len != 0 && out.appendChar(outSeparator) != 0) || out.append(k->data, k->len) != 0 ||
            out.appendChar('=') != 0)
            return 1;
        // Decrypted values live here only while they are written.
        KaMemoryBuffer plain;
        const uint16_t* v = nullptr;
        size_t n = 0;
        if (attr->secret != nullptr) {
            if (!decrypt || plain.decryptFrom(*attr->secret, key) != 0) {
                postGeneral(MSG_ATTRIBUTE_STRING_HOLDS_SECRET, k);
                return 1;
            }
            v = plain.data;
            n = size_t(plain.length);
        } else if (attr->text != nullptr) {
            v = attr->text->data;
            n = attr->text->len;
        }
        int failed = needsBraces(v, n, outSeparator) ? appendBraced(out, v, n)
                                                     : (n != 0 ? out.append(v, n) : 0);
        if (failed != 0)
            return 1;
    }
    return result.assign(out.data, out.len) != 0 ? 1 : 0;
}

// ---- KaValueParser ---------------------------------------------------------------------------

KaValueParser::KaValueParser(const char* text, size_t length, int32_t textCodePage, char sep,
                             const char* name, int32_t duplicates) noexcept
    : scanner(text, length, uint32_t(textCodePage)),
      separator(sep),
      sourceName(name),
      token(textCodePage),
      currentKey(textCodePage),
      allowDuplicates(duplicates),
      codePage(textCodePage)
{
    attributes.noCase = 1;
    scanner.bracedItems = 1;
}

KaValueParser::KaValueParser(const KaSubString& text, char sep, const char* name, int32_t duplicates) noexcept
    : KaValueParser(text.data, text.len, text.codePage, sep, name, duplicates)
{
}

KaValueParser::~KaValueParser() = default;

void KaValueParser::setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) noexcept
{
    scanner.quoteChar1 = q1;
    scanner.quoteChar2 = q2;
    scanner.quoteChar3 = q3;
}

int KaValueParser::addWordChars(const char* characters) noexcept
{
    if (characters == nullptr || *characters == '\0')
        return 0;
    if (scanner.wordStartChars.append(characters) != 0 || scanner.wordChars.append(characters) != 0)
        return 1;
    return 0;
}

void KaValueParser::syntaxError() noexcept
{
    auto offset = static_cast<uint64_t>(token.start);
    if (sourceName != nullptr)
        errPost(MSG_SYNTAX_ERROR_AT_IN)->addParamUnsigned(offset)->addParamText(sourceName);
    else
        errPost(MSG_SYNTAX_ERROR_AT)->addParamUnsigned(offset);
}

bool KaValueParser::atSeparator() noexcept
{
    if (token.kind == KA_TOKEN_END || token.len == 0 || token.data[0] != separator)
        return false;
    if (token.len > 1) {
        scanner.position = uint64_t(token.start) + 1;
        scanner.setOption(KaScanner::atEnd, false);
        token.len = 1;
    }
    return true;
}

int KaValueParser::parse() noexcept
{
    dsnDriverMode = KA_DSN_DRIVER_NONE;
    for (;;) {
        scanner.nextToken(token, KA_SCAN_PLAIN);
        if (token.kind == KA_TOKEN_END)
            break;
        if (!atSeparator() && parseAttribute() != 0)
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

int KaValueParser::parseAttribute() noexcept
{
    if (token.kind != KA_TOKEN_WORD && token.kind != KA_TOKEN_NUMBER) {
        syntaxError();
        return 1;
    }
    int64_t keyStart = token.start;
    int64_t keyEnd = token.start + int64_t(token.len);
    for (;;) {
        scanner.nextToken(token, KA_SCAN_PLAIN);
        if (token.kind != KA_TOKEN_WORD)
            break;
        keyEnd = token.start + int64_t(token.len);
    }
    currentKey.set(scanner.input + keyStart, size_t(keyEnd - keyStart), codePage);
    bool present = attributes.find(currentKey) != attributes.count;
    if (present && allowDuplicates == 0 && !keyIs(currentKey, "DRIVER")) {
        syntaxError();
        KaError* rec = KaErrorGetLast();
        if (rec != nullptr)
            appendMessage(rec, MSG_ATTRIBUTE_DUPLICATE)->addParamSubString(currentKey);
        currentKey.set(nullptr, 0);
        return 1;
    }
    if (keyIs(currentKey, "ODBC")) {
        currentKey.set(nullptr, 0);
        return 0;
    }
    if (token.kind == KA_TOKEN_END || token.len == 0 || token.data[0] != '=') {
        syntaxError();
        currentKey.set(nullptr, 0);
        return 1;
    }
    if (token.len > 1) {
        scanner.position = uint64_t(token.start) + 1;
        scanner.setOption(KaScanner::atEnd, false);
    }
    scanner.nextItem(token, separator);
    if (token.kind == KA_TOKEN_UNTERMINATED) {
        syntaxError();
        currentKey.set(nullptr, 0);
        return 1;
    }
    if (dsnDriverMode == KA_DSN_DRIVER_NONE) {
        if (keyIs(currentKey, "DSN"))
            dsnDriverMode = KA_DSN_FIRST;
        else if (keyIs(currentKey, "DRIVER"))
            dsnDriverMode = KA_DRIVER_FIRST;
    }
    bool skip = present || (dsnDriverMode == KA_DRIVER_FIRST && keyIs(currentKey, "DSN")) ||
                (dsnDriverMode == KA_DSN_FIRST && keyIs(currentKey, "DRIVER"));
    if (!skip) {
        // Any value may be a password: a wiping string leaves no copy behind
        // when it grows or is freed.
        auto* value = new KaStringEx(codePage);
        auto* keyCopy = new KaString(codePage);
        if (value == nullptr || keyCopy == nullptr ||
            unbraceInto(*value, token.len != 0 ? token.data : "", token.len) != 0 ||
            keyCopy->assign(currentKey.data, currentKey.len, codePage) != 0 || attributes.add(keyCopy, value) != 0) {
            if (value != nullptr && value->data != nullptr)
                fastMemzero(value->data, value->capacity);
            delete value;
            delete keyCopy;
            currentKey.set(nullptr, 0);
            return 1;
        }
        value->codePage = codePage;
    }
    currentKey.set(nullptr, 0);
    scanner.nextToken(token, KA_SCAN_PLAIN);
    return 0;
}

size_t KaValueParser::find(const char* name, size_t count) const noexcept
{
    if (name == nullptr)
        return attributes.count;
    KaSubString view(name, count, codePage);
    return attributes.find(view);
}

void KaValueParser::markUsed(size_t index) noexcept
{
    used.set(index);
}

KaString* KaValueParser::getValue(const KaSubString& name) noexcept
{
    size_t i = find(name.data, name.len);
    if (i == attributes.count)
        return nullptr;
    markUsed(i);
    return static_cast<KaString*>(attributes.valueAt(i));
}

KaString* KaValueParser::getValueCStr(const char* name) noexcept
{
    return getValue(KaSubString(name, name != nullptr ? fastStrlen(name) : 0, codePage));
}

int KaValueParser::getValueByNames(const char* name1, const char* name2, KaString** value) noexcept
{
    *value = nullptr;
    size_t i1 = find(name1, name1 != nullptr ? fastStrlen(name1) : 0);
    size_t i2 = find(name2, name2 != nullptr ? fastStrlen(name2) : 0);
    size_t none = attributes.count;
    if (i1 != none && i2 != none && i1 != i2) {
        markUsed(i1);
        markUsed(i2);
        syntaxError();
        KaError* rec = KaErrorGetLast();
        if (rec != nullptr)
            appendMessage(rec, MSG_ATTRIBUTE_TWO_KEYWORDS)->addParamText(name1)->addParamText(name2);
        return 1;
    }
    size_t i = i1 != none ? i1 : i2;
    if (i == none)
        return 0;
    markUsed(i);
    *value = static_cast<KaString*>(attributes.valueAt(i));
    return 0;
}

bool KaValueParser::hasKey(const char* name) const noexcept
{
    return find(name, name != nullptr ? fastStrlen(name) : 0) != attributes.count;
}

int64_t KaValueParser::indexOf(const char* name, size_t count) const noexcept
{
    size_t i = find(name, count);
    return i == attributes.count ? -1 : int64_t(i);
}

KaSubString* KaValueParser::keyAt(size_t index) const noexcept
{
    return index < attributes.count ? attributes.keyAt(index) : nullptr;
}

int KaValueParser::setValue(const char* keyText, size_t keyLength, const char* value, size_t valueLength,
                            const char* altKey, size_t altKeyLength) noexcept
{
    if (keyText == nullptr)
        return 1;
    size_t i = find(keyText, keyLength);
    if (i == attributes.count && altKey != nullptr)
        i = find(altKey, altKeyLength);
    auto* text = new KaStringEx(codePage);
    if (text == nullptr)
        return 1;
    if (text->assign(value != nullptr ? value : "", value != nullptr ? valueLength : 0, codePage) != 0) {
        delete text;
        return 1;
    }
    if ((text->findChar('\'', 0) < text->len || text->findChar('"', 0) < text->len ||
         text->findChar(separator, 0) < text->len) &&
        text->quote('\'') != 0) {
        delete text;
        return 1;
    }
    if (i < attributes.count) {
        attributes.entryAt(i)->setValue(text);
        return 0;
    }
    auto* keyCopy = new KaString(codePage);
    if (keyCopy == nullptr || keyCopy->assign(keyText, keyLength, codePage) != 0 ||
        attributes.add(keyCopy, text) != 0) {
        delete keyCopy;
        delete text;
        return 1;
    }
    return 0;
}

int KaValueParser::setValueCStr(const char* keyText, const char* value, const char* altKey) noexcept
{
    return setValue(keyText, keyText != nullptr ? fastStrlen(keyText) : 0, value,
                    value != nullptr ? fastStrlen(value) : 0, altKey, altKey != nullptr ? fastStrlen(altKey) : 0);
}

void KaValueParser::removeKey(const char* name) noexcept
{
    size_t i = find(name, name != nullptr ? fastStrlen(name) : 0);
    if (i != attributes.count)
        removeAt(i);
}

void KaValueParser::removeAt(size_t index) noexcept
{
    removeAttribute(attributes, used, index);
}

int KaValueParser::resetUsed() noexcept
{
    unusedCursor = 0;
    return used.resize(attributes.count);
}

uint16_t KaValueParser::countUnused() const noexcept
{
    return unusedCount(used);
}

KaSubString* KaValueParser::nextUnused() noexcept
{
    return nextUnusedKey(attributes, used, unusedCursor);
}

int KaValueParser::build(KaString& out, char outSeparator) noexcept
{
    out.len = 0;
    if (out.data != nullptr && out.capacity != 0)
        out.data[0] = '\0';
    for (size_t i = 0; i < attributes.count; ++i) {
        KaSubString* k = attributes.keyAt(i);
        auto* v = static_cast<KaString*>(attributes.valueAt(i));
        if (k == nullptr)
            continue;
        if ((out.len != 0 && out.appendChar(outSeparator) != 0) || out.append(k->data, k->len) != 0 ||
            out.appendChar('=') != 0)
            return 1;
        const char* text = v != nullptr ? v->data : nullptr;
        size_t n = v != nullptr && v->data != nullptr ? v->len : 0;
        int failed = needsBraces(text, n, outSeparator) ? appendBraced(out, text, n)
                                                       : (n != 0 ? out.append(text, n) : 0);
        if (failed != 0)
            return 1;
    }
    if (out.data != nullptr && out.len < out.capacity)
        out.data[out.len] = '\0';
    return 0;
}
