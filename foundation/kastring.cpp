// 8-bit strings: view, owning string, wiping string and in-place rewriter.
#include "foundation/kastring.h"

#include <cctype>
#include <cstdint>

#include "foundation/dbcs.h"
#include "foundation/numtext.h"
#include "foundation/fast.h"
#include "foundation/kastr.h"
#include "foundation/kastringops.h"

namespace {

// Bytes examined by KaSubString::hash.
constexpr size_t kHashPrefix = 5;
// Room for the hashed prefix even if upper-casing lengthens a character.
constexpr size_t kHashBufferSize = 32;

const char kEmpty[1] = {0};

// What the 8-bit strings bring to the shared bodies.
struct NarrowText {
    using Unit = char;
    using View = KaSubString;
    using Owned = KaString;
    using Rewriter = KaReplaceString;

    // Locale characters are at most two bytes, and stepping one of them reads
    // its second byte, so the last byte is measured without looking further.
    static size_t stepIn(const char* p, size_t i, size_t n, const KaSubString& encoding) noexcept
    {
        if (i + 1 >= n)
            return 1;
        size_t units = KaDbcsCharLen(p + i, encoding.codePage);
        if (units == 0)
            units = 1;
        return units > n - i ? n - i : units;
    }
    static size_t length(const char* text) noexcept { return text != nullptr ? fastStrlen(text) : 0; }
    static bool isSpace(char c) noexcept { return std::isspace(static_cast<unsigned char>(c)) != 0; }
    static bool pairAt(const char* p) noexcept { return KaDbcsIsDoubleByte(p) != 0; }
    static bool equalNoCase(const KaSubString& v, const char* entry) noexcept
    {
        return strCompareNoCaseN(v.data != nullptr ? v.data : kEmpty, v.len, entry, fastStrlen(entry)) == 0;
    }
    static char* quote(char* dst, const char* src, size_t n, const KaSubString& encoding, char q) noexcept
    {
        return strQuote(dst, src, n, encoding.codePage, q);
    }
    static char* unquote(char* dst, const char* src, size_t n) noexcept { return strUnquote(dst, src, n); }
    // A cut multibyte character is quoted as the bytes that are there.
    static bool cutAt(const char*, size_t, size_t) noexcept { return false; }
    static void postCut() noexcept {}
};

using Ops = KaStringOps;

}  // namespace

// ---- KaSubString ---------------------------------------------------------

KaSubString::KaSubString() noexcept : len(0), lenAtSet(0), data(nullptr), codePage(KA_TEXT_LOCALE) {}

KaSubString::KaSubString(int32_t cp) noexcept : len(0), lenAtSet(0), data(nullptr), codePage(cp) {}

KaSubString::KaSubString(const char* d, size_t length) noexcept
    : len(length), lenAtSet(length), data(const_cast<char*>(d)), codePage(KA_TEXT_LOCALE)
{}

KaSubString::KaSubString(const char* d, size_t length, int32_t cp) noexcept
    : len(length), lenAtSet(length), data(const_cast<char*>(d)), codePage(cp)
{}

KaSubString::KaSubString(const char* text) noexcept
    : KaSubString(text, text != nullptr ? fastStrlen(text) : 0, KA_TEXT_LOCALE)
{}

KaSubString::KaSubString(const char* text, KaTextEncoding cp) noexcept
    : KaSubString(text, text != nullptr ? fastStrlen(text) : 0, cp)
{}

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
    return static_cast<int16_t>(
        strCompareNoCaseN(data != nullptr ? data : kEmpty, len, o.data != nullptr ? o.data : kEmpty, o.len));
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
    return Ops::findChar<NarrowText>(*this, byte, start);
}

size_t KaSubString::find(const char* pattern, size_t start) const noexcept
{
    return Ops::find<NarrowText>(*this, pattern, start);
}

size_t KaSubString::countChar(char byte) const noexcept
{
    return Ops::countChar<NarrowText>(*this, byte);
}

size_t KaSubString::indexIn(const char* const* list, size_t count) const noexcept
{
    return Ops::indexIn<NarrowText>(*this, list, count);
}

size_t KaSubString::indexInNoCase(const char* const* list, size_t count) const noexcept
{
    return Ops::indexInNoCase<NarrowText>(*this, list, count);
}

void KaSubString::trimRight() noexcept
{
    Ops::trimRight<NarrowText>(*this);
}

int KaSubString::isBraced() const noexcept
{
    return Ops::isBraced(*this);
}

int KaSubString::needsBraces() const noexcept
{
    return Ops::needsBraces<NarrowText>(*this);
}

int16_t KaSubString::stripBracesInto(KaString& destination) const noexcept
{
    return Ops::stripBracesInto<NarrowText>(*this, destination);
}

int16_t KaSubString::unescapeBracedInto(KaString& destination, char closing) const noexcept
{
    return Ops::unescapeBracedInto<NarrowText>(*this, destination, closing);
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
    return Ops::splitLines<NarrowText>(*this, lines);
}

// ---- KaString ------------------------------------------------------------

KaString::KaString() noexcept : KaSubString(), capacity(0), owns(1), wipes(0) {}

KaString::KaString(int32_t cp) noexcept : KaSubString(cp), capacity(0), owns(1), wipes(0) {}

KaString::~KaString()
{
    Ops::releaseOwned(*this);
}

int16_t KaString::reserve(size_t newCapacity)
{
    return Ops::reserve<NarrowText>(*this, newCapacity);
}

int16_t KaString::ensureCapacity(size_t needed) noexcept
{
    return Ops::ensureCapacity(*this, needed);
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
    if (Ops::assign<NarrowText>(*this, d, n) != 0)
        return 1;
    codePage = cp;
    return 0;
}

int16_t KaString::allocate(size_t n) noexcept
{
    return allocate(n, KA_TEXT_LOCALE);
}

int16_t KaString::allocate(size_t n, int32_t cp) noexcept
{
    if (Ops::allocate<NarrowText>(*this, n) != 0)
        return 1;
    codePage = cp;
    return 0;
}

void KaString::attach(char* d, size_t cap, int32_t cp, size_t length) noexcept
{
    Ops::attach(*this, d, cap, length);
    codePage = cp;
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
    Ops::freeBuffer(*this);
}

int16_t KaString::appendChar(char byte) noexcept
{
    return Ops::appendChar<NarrowText>(*this, byte);
}

int16_t KaString::append(const char* text) noexcept
{
    return append(text, text != nullptr ? fastStrlen(text) : 0);
}

int16_t KaString::append(const char* d, size_t n) noexcept
{
    return Ops::append<NarrowText>(*this, d, n);
}

int16_t KaString::appendNumber(uint64_t value) noexcept
{
    return Ops::appendNumber<NarrowText>(*this, [value](char* digits) { return u64ToText(digits, value); });
}

int16_t KaString::appendSignedNumber(int64_t value) noexcept
{
    return Ops::appendNumber<NarrowText>(*this, [value](char* digits) { return i64ToText(digits, value); });
}

int16_t KaString::replace(size_t position, size_t count, const char* d, size_t n) noexcept
{
    return Ops::replace<NarrowText>(*this, position, count, d, n);
}

int16_t KaString::replaceRange(const KaSubString& range, const char* d, size_t n) noexcept
{
    return Ops::replaceRange<NarrowText>(*this, range, d, n);
}

int16_t KaString::replaceAll(const char* pattern, size_t count, const char* replacement, size_t n) noexcept
{
    return Ops::replaceEach<NarrowText>(*this, pattern, NarrowText::length(pattern), count, replacement, n);
}

int16_t KaString::replaceAll(const char* pattern, const char* replacement) noexcept
{
    if (pattern == nullptr)
        return 0;
    return replaceAll(pattern, fastStrlen(pattern), replacement, replacement != nullptr ? fastStrlen(replacement) : 0);
}

int16_t KaString::quote(char quoteByte) noexcept
{
    return Ops::quote<NarrowText>(*this, quoteByte);
}

void KaString::unquote() noexcept
{
    Ops::unquote<NarrowText>(*this);
}

int16_t KaString::appendQuoted(const KaString& other, char quoteByte) noexcept
{
    return Ops::appendQuoted<NarrowText>(*this, other, quoteByte);
}

int16_t KaString::ensureTrailingNewlines(size_t n) noexcept
{
    return Ops::ensureTrailingNewlines<NarrowText>(*this, n);
}

int16_t KaString::wrap(size_t width, char q1, char q2, char q3) noexcept
{
    return Ops::wrap<NarrowText>(*this, width, q1, q2, q3);
}

int16_t KaString::joinLines(char q1, char q2, char q3) noexcept
{
    return Ops::collapseRuns<NarrowText>(
        *this, [](char c) { return c == '\n'; }, q1, q2, q3);
}

int16_t KaString::tabsToBlanks(char q1, char q2, char q3) noexcept
{
    return Ops::collapseRuns<NarrowText>(
        *this, [](char c) { return c == '\t'; }, q1, q2, q3);
}

int16_t KaString::crlfToBlanks(char q1, char q2, char q3) noexcept
{
    return Ops::collapseRuns<NarrowText>(
        *this, [](char c) { return c == '\r' || c == '\n'; }, q1, q2, q3);
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

KaStringEx::~KaStringEx() = default;

int16_t KaStringEx::reserve(size_t newCapacity)
{
    return Ops::reserveWiping<NarrowText>(*this, newCapacity);
}

// ---- KaReplaceString -----------------------------------------------------

KaReplaceString::KaReplaceString() noexcept : KaSubString(), target(nullptr), writePos(0), readPos(0) {}

KaReplaceString::KaReplaceString(int32_t cp) noexcept : KaSubString(cp), target(nullptr), writePos(0), readPos(0) {}

KaReplaceString::KaReplaceString(KaString& t) noexcept
    : KaSubString(t.data, t.len, t.codePage), target(&t), writePos(0), readPos(0)
{}

KaReplaceString::~KaReplaceString()
{
    Ops::closeGap<NarrowText>(*this);
}

int16_t KaReplaceString::emit(const char* d, size_t n) noexcept
{
    return Ops::emit<NarrowText>(*this, d, n);
}

int16_t KaReplaceString::emitQuoted(const char* d, size_t n, char quoteByte) noexcept
{
    return Ops::emitQuoted<NarrowText>(*this, d, n, quoteByte);
}

void KaReplaceString::copyThrough(size_t n) noexcept
{
    Ops::copyThrough<NarrowText>(*this, n);
}

void KaReplaceString::skip(size_t n) noexcept
{
    Ops::skip(*this, n);
}
