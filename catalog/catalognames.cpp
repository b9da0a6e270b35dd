// Matching and quoting of catalog names and the SQLTables type filter.
#include "catalog/catalognames.h"

#include <unicode/uchar.h>

namespace {

constexpr int32_t kNts = -3;

int32_t unitLength(const uint16_t* s, int32_t length) noexcept
{
    if (s == nullptr)
        return 0;
    if (length != kNts && length >= 0)
        return length;
    int32_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

// Whether the units [s, s+n) equal the ASCII text `word` exactly.
bool equalsAscii(const uint16_t* s, int32_t n, const char* word) noexcept
{
    int32_t i = 0;
    for (; i < n; ++i) {
        if (word[i] == 0 || s[i] != static_cast<uint8_t>(word[i]))
            return false;
    }
    return word[i] == 0;
}

struct TypeName {
    const char* name;
    uint32_t bit;
};

constexpr TypeName kTypeNames[] = {
    {"TABLE", kCatalogTypeTable},
    {"VIEW", kCatalogTypeView},
    {"SYSTEM TABLE", kCatalogTypeSystemTable},
    {"ALIAS", kCatalogTypeAlias},
    {"SYNONYM", kCatalogTypeSynonym},
    {"GLOBAL TEMPORARY", kCatalogTypeGlobalTemporary},
    {"LOCAL TEMPORARY", kCatalogTypeLocalTemporary},
    // What the Hive listing reports for a session's temporary table.
    {"TEMPORARY TABLE", kCatalogTypeLocalTemporary},
};

uint32_t typeBit(const uint16_t* s, int32_t n) noexcept
{
    for (const TypeName& t : kTypeNames) {
        if (equalsAscii(s, n, t.name))
            return t.bit;
    }
    return 0;
}

bool isBlank(uint16_t c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// One code point at s[*i] (a lone surrogate stands for itself).
UChar32 nextCodePoint(const uint16_t* s, int32_t* i) noexcept
{
    UChar32 c = s[(*i)++];
    if (c >= 0xD800 && c <= 0xDBFF && s[*i] >= 0xDC00 && s[*i] <= 0xDFFF)
        c = 0x10000 + ((c - 0xD800) << 10) + (s[(*i)++] - 0xDC00);
    return c;
}

bool sameCodePoint(UChar32 a, UChar32 b, bool caseSensitive) noexcept
{
    return a == b || (!caseSensitive && u_foldCase(a, U_FOLD_CASE_DEFAULT) == u_foldCase(b, U_FOLD_CASE_DEFAULT));
}

// Iterative LIKE with backtracking to the last "%": linear memory, no
// recursion however many wildcards the application sends.
bool likeMatch(const uint16_t* name, const uint16_t* pattern, uint16_t escape, bool caseSensitive) noexcept
{
    int32_t n = 0;
    int32_t p = 0;
    int32_t starP = -1;
    int32_t starN = 0;
    while (name[n] != 0) {
        if (pattern[p] != 0) {
            int32_t pNext = p;
            UChar32 pc = nextCodePoint(pattern, &pNext);
            bool literal = false;
            if (escape != 0 && pc == escape && pattern[pNext] != 0) {
                pc = nextCodePoint(pattern, &pNext);
                literal = true;
            }
            if (!literal && pc == '%') {
                starP = pNext;
                starN = n;
                p = pNext;
                continue;
            }
            int32_t nNext = n;
            const UChar32 nc = nextCodePoint(name, &nNext);
            if ((!literal && pc == '_') || sameCodePoint(pc, nc, caseSensitive)) {
                p = pNext;
                n = nNext;
                continue;
            }
        }
        if (starP < 0)
            return false;
        // Let the last "%" take one more code point of the name.
        (void)nextCodePoint(name, &starN);
        n = starN;
        p = starP;
    }
    while (pattern[p] == '%')
        ++p;
    return pattern[p] == 0;
}

int32_t quoteInto(const uint16_t* text, int32_t length, uint16_t* out, int32_t room, uint16_t quote,
                  bool backslashEscapes) noexcept
{
    const int32_t n = unitLength(text, length);
    int32_t w = 0;
    auto put = [&](uint16_t c) noexcept {
        if (out != nullptr && w < room - 1)
            out[w] = c;
        ++w;
    };
    put(quote);
    for (int32_t i = 0; i < n; ++i) {
        const uint16_t c = text[i];
        if (backslashEscapes && (c == quote || c == '\\'))
            put('\\');
        else if (!backslashEscapes && c == quote)
            put(quote);
        put(c);
    }
    put(quote);
    if (out != nullptr && room > 0)
        out[w < room ? w : room - 1] = 0;
    return w;
}

}  // namespace

uint32_t catalogTableTypeSet(const uint16_t* list, int32_t length) noexcept
{
    const int32_t n = unitLength(list, length);
    uint32_t set = 0;
    bool any = false;
    int32_t i = 0;
    while (i < n) {
        int32_t start = i;
        bool quoted = false;
        while (i < n && (list[i] != ',' || quoted)) {
            if (list[i] == '\'')
                quoted = !quoted;
            ++i;
        }
        int32_t end = i;
        ++i;  // the separator
        while (start < end && isBlank(list[start]))
            ++start;
        while (end > start && isBlank(list[end - 1]))
            --end;
        if (end - start >= 2 && list[start] == '\'' && list[end - 1] == '\'') {
            ++start;
            --end;
        }
        if (end > start)
            any = true;
        set |= typeBit(list + start, end - start);
    }
    // A list of only unknown types lists nothing, as the application asked.
    return any ? set : kCatalogTypeKnown;
}

uint32_t catalogTableTypeBit(const uint16_t* type) noexcept
{
    return type == nullptr ? 0 : typeBit(type, unitLength(type, kNts));
}

bool catalogTypePasses(const uint16_t* type, uint32_t typeSet) noexcept
{
    if ((typeSet & kCatalogTypeAll) != 0)
        return true;
    return (catalogTableTypeBit(type) & typeSet) != 0;
}

bool catalogMatchName(const uint16_t* name, const uint16_t* pattern, uint16_t escape, bool caseSensitive) noexcept
{
    if (pattern == nullptr)
        return true;
    if (name == nullptr)
        return false;
    return likeMatch(name, pattern, escape, caseSensitive);
}

int32_t catalogQuoteIdentifier(const uint16_t* name, int32_t length, uint16_t* out, int32_t room) noexcept
{
    return quoteInto(name, length, out, room, '`', false);
}

int32_t catalogQuoteLiteral(const uint16_t* text, int32_t length, uint16_t* out, int32_t room) noexcept
{
    return quoteInto(text, length, out, room, '\'', true);
}

int32_t catalogPlainName(const uint16_t* pattern, int32_t length, uint16_t escape, uint16_t* out, int32_t room) noexcept
{
    const int32_t n = unitLength(pattern, length);
    int32_t w = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (escape != 0 && pattern[i] == escape) {
            if (++i >= n)
                break;
        }
        if (out != nullptr && w < room - 1)
            out[w] = pattern[i];
        ++w;
    }
    if (out != nullptr && room > 0)
        out[w < room ? w : room - 1] = 0;
    return w;
}

int32_t catalogMatchPattern(const uint16_t* pattern, int32_t length, uint16_t escape, uint16_t* out,
                            int32_t room) noexcept
{
    const int32_t n = unitLength(pattern, length);
    int32_t w = 0;
    auto put = [&](uint16_t c) noexcept {
        if (out != nullptr && w < room - 1)
            out[w] = c;
        ++w;
    };
    for (int32_t i = 0; i < n; ++i) {
        const uint16_t c = pattern[i];
        if (escape != 0 && c == escape) {
            const uint16_t next = i + 1 < n ? pattern[i + 1] : 0;
            if (next == '%' || next == '_' || next == escape) {
                put(c);
                put(next);
                ++i;
                continue;
            }
            put(escape);
        }
        put(c);
    }
    if (out != nullptr && room > 0)
        out[w < room ? w : room - 1] = 0;
    return w;
}
