// Numeric-literal aliasing of select lists: a numeric literal too long for a
// 64-bit integer is sent as an exact decimal literal with a name of its own,
// so that the server neither rounds it through a double nor names the column
// after its own scheme. Used by SQLPrepare and SQLExecDirect when the
// driver's connection asks for it.
#include "odbc/basealias.h"

#include <cstddef>

#include "foundation/kastringw.h"

namespace {

// Longer numeric items than this are aliased.
constexpr size_t kLongestPlainNumber = 19;

bool isSpace(uint16_t c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isDigit(uint16_t c) noexcept
{
    return c >= '0' && c <= '9';
}

bool isWordUnit(uint16_t c) noexcept
{
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}

// The word at text[at] equals `word` (ASCII, any case) and ends there.
bool wordAt(const uint16_t* text, size_t n, size_t at, const char* word) noexcept
{
    if (at > 0 && isWordUnit(text[at - 1]))
        return false;
    size_t i = 0;
    for (; word[i] != 0; ++i) {
        if (at + i >= n)
            return false;
        uint16_t c = text[at + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<uint16_t>(c + ('a' - 'A'));
        if (c != static_cast<uint16_t>(word[i]))
            return false;
    }
    return at + i >= n || !isWordUnit(text[at + i]);
}

// A plain decimal literal: an optional sign, digits with at most one point.
bool plainDecimal(const uint16_t* text, size_t n) noexcept
{
    size_t i = 0;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < n; ++i) {
        if (isDigit(text[i]))
            ++digits;
        else if (text[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits != 0;
}

// What follows a literal inside its item: nothing, or an alias ("AS name"
// or a bare name).
bool aliasOrNothing(const uint16_t* text, size_t n) noexcept
{
    size_t i = 0;
    while (i < n && isSpace(text[i]))
        ++i;
    if (i == n)
        return true;
    if (wordAt(text, n, i, "as")) {
        i += 2;
        while (i < n && isSpace(text[i]))
            ++i;
    }
    if (i == n)
        return false;
    // A quoted name or one word.
    if (text[i] == '"' || text[i] == '`') {
        const uint16_t quote = text[i];
        for (++i; i < n && text[i] != quote; ++i) {
        }
        if (i == n)
            return false;
        ++i;
    } else {
        const size_t start = i;
        while (i < n && isWordUnit(text[i]))
            ++i;
        if (i == start)
            return false;
    }
    while (i < n && isSpace(text[i]))
        ++i;
    return i == n;
}

// Writes one select-list item; 0, or 1 when memory ran out.
int writeItem(KaStringW* out, const uint16_t* item, size_t n, uint64_t position, bool* changed) noexcept
{
    size_t b = 0;
    size_t e = n;
    while (b < e && isSpace(item[b]))
        ++b;
    while (e > b && isSpace(item[e - 1]))
        --e;
    // The literal: the leading run of units a numeric item may hold.
    size_t lit = b;
    while (lit < e && (isDigit(item[lit]) || item[lit] == '.' || item[lit] == '+' || item[lit] == '-' ||
                       item[lit] == '(' || item[lit] == ')' || isSpace(item[lit])))
        ++lit;
    size_t litEnd = lit;
    while (litEnd > b && isSpace(item[litEnd - 1]))
        --litEnd;
    // Parentheses around the number stay where they are.
    size_t nb = b;
    size_t ne = litEnd;
    while (nb < ne && item[nb] == '(')
        ++nb;
    while (ne > nb && item[ne - 1] == ')')
        --ne;
    const bool numeric =
        b < e && (isDigit(item[b]) || item[b] == '+' || item[b] == '-' || item[b] == '(' || item[b] == '.');
    if (!numeric || ne - nb <= kLongestPlainNumber || !plainDecimal(item + nb, ne - nb) ||
        !aliasOrNothing(item + litEnd, e - litEnd))
        return out->append(item, n) != 0 ? 1 : 0;
    *changed = true;
    // The value itself, exact, as a decimal literal; the application's own
    // alias stays, else the column gets a name of the driver's.
    if (out->append(item, ne) != 0 || out->appendNarrow("BD", 2) != 0 || out->append(item + ne, litEnd - ne) != 0)
        return 1;
    if (litEnd < e)
        return out->append(item + litEnd, n - litEnd) != 0 ? 1 : 0;
    const char* alias = " AS TWCORE_NUMERIC_ALIAS";
    size_t aliasLength = 0;
    while (alias[aliasLength] != 0)
        ++aliasLength;
    if (out->appendNarrow(alias, aliasLength) != 0 || out->appendNumber(position) != 0)
        return 1;
    return out->append(item + e, n - e) != 0 ? 1 : 0;
}

}  // namespace

int16_t baseAliasNumericLiterals(const uint16_t* text, int64_t length, KaStringW* out, bool* unchanged) noexcept
{
    *unchanged = true;
    if (text == nullptr || length <= 0)
        return 0;
    const auto n = static_cast<size_t>(length);
    size_t i = 0;
    while (i < n && isSpace(text[i]))
        ++i;
    if (!wordAt(text, n, i, "select"))
        return 0;
    i += 6;
    if (out->assign(text, i) != 0)
        return 1;
    bool changed = false;
    uint64_t position = 0;
    size_t itemStart = i;
    int depth = 0;
    uint16_t quote = 0;
    for (; i <= n; ++i) {
        const bool end = i == n;
        const uint16_t c = end ? 0 : text[i];
        if (!end && quote != 0) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (!end && (c == '\'' || c == '"' || c == '`')) {
            quote = c;
            continue;
        }
        if (!end && c == '(')
            ++depth;
        else if (!end && c == ')')
            --depth;
        const bool from = !end && depth == 0 && wordAt(text, n, i, "from");
        if (end || from || (depth == 0 && c == ',')) {
            if (writeItem(out, text + itemStart, i - itemStart, position, &changed) != 0)
                return 1;
            if (end || from) {
                if (out->append(text + i, n - i) != 0)
                    return 1;
                break;
            }
            if (out->appendChar(',') != 0)
                return 1;
            ++position;
            itemStart = i + 1;
        }
    }
    *unchanged = !changed;
    return 0;
}
