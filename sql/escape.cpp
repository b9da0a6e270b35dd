#include "sql/escape.h"

#include <unicode/uchar.h>

#include "foundation/kaerror.h"
#include "foundation/kastringops.h"
#include "kamessages.h"
#include "sql/basesql.h"
#include "sql/escapewriter.h"
#include "sql/kascanne.h"
#include "sql/sqlpost.h"

const EscapeFunctionRow EscapeFunctionTable[kEscapeFunctionCount] = {
    {19, "ABS", 3},
    {20, "ACOS", 4},
    {1, "ASCII", 5},
    {21, "ASIN", 4},
    {22, "ATAN", 4},
    {23, "ATAN2", 5},
    {68, "BIT_LENGTH", 10},
    {76, "CAST_TO_NATIVE", 14},
    {24, "CEILING", 7},
    {2, "CHAR", 4},
    {70, "CHARACTER_LENGTH", 16},
    {69, "CHAR_LENGTH", 11},
    {3, "CONCAT", 6},
    {64, "CONVERT", 7},
    {25, "COS", 3},
    {26, "COT", 3},
    {43, "CURDATE", 7},
    {73, "CURRENT_DATE", 12},
    {74, "CURRENT_TIME", 12},
    {75, "CURRENT_TIMESTAMP", 17},
    {44, "CURTIME", 7},
    {62, "DATABASE", 8},
    {45, "DAYNAME", 7},
    {46, "DAYOFMONTH", 10},
    {47, "DAYOFWEEK", 9},
    {48, "DAYOFYEAR", 9},
    {27, "DEGREES", 7},
    {4, "DIFFERENCE", 10},
    {28, "EXP", 3},
    {60, "EXTRACT", 7},
    {29, "FLOOR", 5},
    {49, "HOUR", 4},
    {63, "IFNULL", 6},
    {5, "INSERT", 6},
    {66, "JULIAN_DAY", 10},
    {6, "LCASE", 5},
    {7, "LEFT", 4},
    {9, "LENGTH", 6},
    {10, "LOCATE", 6},
    {67, "LOCATE", 6},
    {30, "LOG", 3},
    {31, "LOG10", 5},
    {8, "LTRIM", 5},
    {50, "MINUTE", 6},
    {32, "MOD", 3},
    {51, "MONTH", 5},
    {52, "MONTHNAME", 9},
    {53, "NOW", 3},
    {71, "OCTET_LENGTH", 12},
    {33, "PI", 2},
    {72, "POSITION", 8},
    {34, "POWER", 5},
    {54, "QUARTER", 7},
    {35, "RADIANS", 7},
    {36, "RAND", 4},
    {11, "REPEAT", 6},
    {12, "REPLACE", 7},
    {13, "RIGHT", 5},
    {37, "ROUND", 5},
    {14, "RTRIM", 5},
    {55, "SECOND", 6},
    {65, "SECONDS_SINCE_MIDNIGHT", 22},
    {38, "SIGN", 4},
    {39, "SIN", 3},
    {15, "SOUNDEX", 7},
    {16, "SPACE", 5},
    {40, "SQRT", 4},
    {17, "SUBSTRING", 9},
    {41, "TAN", 3},
    {56, "TIMESTAMPADD", 12},
    {57, "TIMESTAMPDIFF", 13},
    {42, "TRUNCATE", 8},
    {18, "UCASE", 5},
    {61, "USER", 4},
    {58, "WEEK", 4},
    {59, "YEAR", 4},
};

namespace {

constexpr size_t kLongestFunctionName = 22;

uint16_t upper(uint16_t u) noexcept
{
    return u >= 'a' && u <= 'z' ? uint16_t(u - 32) : u;
}

bool isDigit(uint16_t u) noexcept
{
    return u >= '0' && u <= '9';
}

bool isBlank(uint16_t u) noexcept
{
    return u_isUWhiteSpace(u) != 0;
}

// Case-insensitive search of an ASCII text in a UTF-16 range.
bool containsNoCase(const uint16_t* text, size_t length, const char* what) noexcept
{
    size_t n = 0;
    while (what[n] != 0)
        ++n;
    for (size_t i = 0; i + n <= length; ++i) {
        size_t k = 0;
        while (k < n && upper(text[i + k]) == uint16_t(what[k]))
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

bool tokenIs(const KaTokenW& t, const char* word) noexcept
{
    return t.kind == KA_TOKEN_WORD && sqlWordIs(t, word);
}

bool isQuoteOf(const KaEscapeHost& host, uint16_t u) noexcept
{
    if (u == '\'' || u == '"' || u == '`')
        return true;
    for (uint16_t q : host.literalQuotes)
        if (q != 0 && u == q)
            return true;
    return false;
}

bool dateOk(const uint16_t* s, size_t n) noexcept
{
    if (n != 10)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (i == 4 || i == 7 ? s[i] != '-' : !isDigit(s[i]))
            return false;
    return true;
}

bool timeOk(const uint16_t* s, size_t n) noexcept
{
    if (n != 8)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (i == 2 || i == 5 ? s[i] != ':' : !isDigit(s[i]))
            return false;
    return true;
}

// yyyy-mm-dd hh:mm:ss with an optional fraction of one to nine digits.
bool timestampOk(const uint16_t* s, size_t n, uint64_t longest) noexcept
{
    if (n < 19 || n > longest || n == 20)
        return false;
    if (!dateOk(s, 10) || s[10] != ' ' || !timeOk(s + 11, 8))
        return false;
    if (n == 19)
        return true;
    if (s[19] != '.')
        return false;
    for (size_t i = 20; i < n; ++i)
        if (!isDigit(s[i]))
            return false;
    return true;
}

// "+hh:mm" or "-hh:mm" at the end.
bool endsInZone(const uint16_t* s, size_t n) noexcept
{
    if (n < 6)
        return false;
    const uint16_t* z = s + n - 6;
    return (z[0] == '+' || z[0] == '-') && isDigit(z[1]) && isDigit(z[2]) && z[3] == ':' && isDigit(z[4]) &&
           isDigit(z[5]);
}

int fail(uint16_t msg) noexcept
{
    sqlPostSyntaxError(msg);
    return 1;
}

}  // namespace

uint32_t escapeFunctionCode(const uint16_t* name, size_t length) noexcept
{
    if (length == 0 || length > kLongestFunctionName)
        return KA_FN_UNKNOWN;
    uint16_t up[kLongestFunctionName];
    for (size_t i = 0; i < length; ++i)
        up[i] = upper(name[i]);
    if (up[0] < 'A' || up[0] > 'Y')
        return KA_FN_UNKNOWN;
    size_t lo = 0;
    size_t hi = kEscapeFunctionCount;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        const EscapeFunctionRow& row = EscapeFunctionTable[mid];
        size_t rowLength = size_t(row.nameLength);
        int order = 0;
        for (size_t i = 0; i < length && i < rowLength && order == 0; ++i)
            order = int(up[i]) - int(uint8_t(row.name[i]));
        if (order == 0)
            order = length < rowLength ? -1 : length > rowLength ? 1 : 0;
        if (order == 0) {
            // LOCATE's three-argument row comes first; the caller counts.
            while (mid > 0 && EscapeFunctionTable[mid - 1].nameLength == row.nameLength &&
                   sqlWordIs(KaSubStringW(name, length), EscapeFunctionTable[mid - 1].name))
                --mid;
            return uint32_t(EscapeFunctionTable[mid].code);
        }
        if (order < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return KA_FN_UNKNOWN;
}

KaEscapeHost::~KaEscapeHost() = default;

int KaEscapeHost::dispatchEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind, uint32_t code) noexcept
{
    if (kind == KA_ESC_NATIVE) {
        if (body.length < 2 || body.text[0] != '(' || body.text[body.length - 1] != ')')
            return fail(MSG_ESCAPE_MALFORMED);
        if (out.appendChar(' ') != 0 || out.append(body.text + 1, body.length - 2) != 0 || out.appendChar(' ') != 0)
            return 1;
        return 0;
    }
    if (kind == KA_ESC_REFRESH) {
        sqlPostSyntaxError(MSG_ESCAPE_NOT_AVAILABLE)->addParamText("{REFRESH}");
        return 1;
    }
    return translateEscape(body, out, kind, code);
}

int KaEscapeHost::translateEscape(const KaEscapeBody&, KaStringW&, EscapeKind, uint32_t) noexcept
{
    return fail(MSG_ESCAPE_NO_SERVER_FORM);
}

void findNextEscape(const KaEscapeHost& host, const uint16_t* text, size_t length, uint32_t* markerCount,
                    uint64_t* position, int16_t* kind, int32_t* multipleStatements) noexcept
{
    const bool lookingForOpening = *kind == kEscapeNone;
    // The open escapes, innermost last; bounded instead of recursing.
    int16_t open[kEscapeMaxNesting];
    size_t depth = 0;
    if (!lookingForOpening)
        open[depth++] = *kind;
    const uint64_t searchStart = *position;
    uint16_t quote = 0;
    bool lineComment = false;
    bool blockComment = false;
    uint64_t i = *position;
    while (i < length) {
        const uint16_t u = text[i];
        const bool more = i + 1 < length;
        if (quote != 0) {
            if (u == '\\' && host.backslashInQuotes && quote != '`' && more)
                i += 2;
            else {
                if (u == quote)
                    quote = 0;
                ++i;
            }
            continue;
        }
        if (lineComment) {
            if (u == '\n')
                lineComment = false;
            ++i;
            continue;
        }
        if (blockComment) {
            if (more && u == '*' && text[i + 1] == '/') {
                blockComment = false;
                i += 2;
            } else {
                ++i;
            }
            continue;
        }
        const bool longOpening =
            i + 3 < length && u == '-' && text[i + 1] == '-' && text[i + 2] == '(' && text[i + 3] == '*';
        if (more && u == '-' && text[i + 1] == '-' && !longOpening) {
            lineComment = true;
            i += 2;
            continue;
        }
        if (more && u == '/' && text[i + 1] == '*') {
            blockComment = true;
            i += 2;
            continue;
        }
        if (isQuoteOf(host, u)) {
            quote = u;
            ++i;
            continue;
        }
        if (u == '?' && markerCount != nullptr)
            ++*markerCount;
        int16_t opening = longOpening ? kEscapeLong : u == '{' ? kEscapeBrace : kEscapeNone;
        if (opening != kEscapeNone) {
            if (lookingForOpening) {
                *position = i;
                *kind = opening;
                return;
            }
            if (depth == kEscapeMaxNesting) {
                *kind = -1;
                return;
            }
            open[depth++] = opening;
            i += opening == kEscapeLong ? 4 : 1;
            continue;
        }
        if (u == ';' && multipleStatements != nullptr && *multipleStatements == 0 && i + 1 < length &&
            !containsNoCase(text + searchStart, length - searchStart, "CREATE PROCEDURE"))
            *multipleStatements = 1;
        if (!lookingForOpening) {
            const int16_t top = open[depth - 1];
            const bool closes = top == kEscapeBrace ? u == '}'
                                                    : i + 3 < length && u == '*' && text[i + 1] == ')' &&
                                                          text[i + 2] == '-' && text[i + 3] == '-';
            if (closes) {
                if (--depth == 0) {
                    *position = i;
                    return;
                }
                i += top == kEscapeLong ? 4 : 1;
                continue;
            }
        }
        // A high surrogate steps over its low surrogate only when one follows.
        i += (u >= 0xD800 && u <= 0xDBFF && more && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ? 2 : 1;
    }
    *kind = kEscapeNone;
}

namespace {

struct EscapeFound {
    uint64_t opening;
    uint64_t bodyStart;
    uint64_t bodyEnd;
    uint64_t escapeEnd;
    int16_t form;
};

// The long form's "vendor(Microsoft),product(ODBC)" header. 0: read; 1:
// another vendor's comment (ordinary text); -1: malformed (posted).
int readVendorHeader(KaScannerW& scanner) noexcept
{
    static const char* const shape[] = {"VENDOR", "(", nullptr, ")", ",", "PRODUCT", "(", nullptr, ")"};
    bool ours = true;
    KaTokenW t;
    for (size_t i = 0; i < 9; ++i) {
        scanner.nextToken(t, KA_SCAN_PLAIN);
        if (shape[i] == nullptr) {
            if (t.kind != KA_TOKEN_WORD) {
                fail(MSG_ESCAPE_VENDOR_MALFORMED);
                return -1;
            }
            if (!sqlWordIs(t, i == 2 ? "MICROSOFT" : "ODBC"))
                ours = false;
            continue;
        }
        bool punctuation = shape[i][1] == 0;
        bool ok = punctuation ? t.kind == uint32_t(uint8_t(shape[i][0])) : tokenIs(t, shape[i]);
        if (!ok) {
            fail(MSG_ESCAPE_VENDOR_MALFORMED);
            return -1;
        }
    }
    return ours ? 0 : 1;
}

int32_t intervalKind(const uint16_t* rest, size_t n) noexcept
{
    if (containsNoCase(rest, n, "TO MONTH"))
        return 15;
    if (containsNoCase(rest, n, "YEAR"))
        return 9;
    if (containsNoCase(rest, n, "MONTH"))
        return 10;
    if (containsNoCase(rest, n, "TO HOUR"))
        return 16;
    if (containsNoCase(rest, n, "TO MIN"))
        return containsNoCase(rest, n, "DAY") ? 17 : containsNoCase(rest, n, "HOUR") ? 19 : -1;
    if (containsNoCase(rest, n, "TO SEC"))
        return containsNoCase(rest, n, "DAY")    ? 18
               : containsNoCase(rest, n, "HOUR") ? 20
               : containsNoCase(rest, n, "MIN")  ? 21
                                                 : -1;
    if (containsNoCase(rest, n, "DAY"))
        return 11;
    if (containsNoCase(rest, n, "HOUR"))
        return 12;
    if (containsNoCase(rest, n, "MIN"))
        return 13;
    if (containsNoCase(rest, n, "SEC"))
        return 14;
    return -1;
}

}  // namespace

int translateEscapes(KaEscapeHost& host, BaseSqlStringW& text, int32_t forNativeSql, uint32_t* markerCount,
                     int32_t* returnParameter, int32_t* callKind) noexcept
{
    if (returnParameter != nullptr)
        *returnParameter = 0;
    if (callKind != nullptr)
        *callKind = kEscapeCallNone;
    // Every pass either moves the search on or replaces an escape by a
    // shorter text plus its arguments; the bound only guards against a hook
    // that keeps writing escapes.
    uint64_t passesLeft = uint64_t(text.len) * 4 + 64;
    uint64_t position = 0;
    KaStringW out;
    // Text without escapes is only read; the writer starts at the first one.
    KaEscapeWriter writer;
    bool writing = false;
    for (;;) {
        if (passesLeft-- == 0)
            return fail(MSG_ESCAPE_NESTED_TOO_DEEP);
        const uint16_t* base = writing ? writer.unread() : text.data;
        const size_t length = writing ? writer.unreadLength() : text.len;
        int16_t form = kEscapeNone;
        uint64_t at = position;
        findNextEscape(host, base, length, markerCount, &at, &form, &text.multipleStatements);
        // ODBC numbers parameters in an SQLSMALLINT.
        if (markerCount != nullptr && *markerCount > kSqlMaxMarkers) {
            sqlPostError(KA_SQLSTATE_INDEX_GENERAL, MSG_TOO_MANY_PARAMETER_MARKERS);
            return 1;
        }
        if (form == kEscapeNone) {
            if (!writing)
                return 0;
            // Views into the old text would dangle; none is set before the
            // analysis, which runs after the translation.
            KaStringW result;
            if (writer.finish(result) != 0)
                return 1;
            const int32_t multiple = text.multipleStatements;
            text.clear();
            text.multipleStatements = multiple;
            return text.assign(result.data, result.len) != 0 ? 1 : 0;
        }
        EscapeFound e{};
        e.opening = at;
        e.form = form;
        e.bodyStart = at + (form == kEscapeLong ? 4 : 1);
        uint64_t closing = e.bodyStart;
        int16_t closeKind = form;
        findNextEscape(host, base, length, nullptr, &closing, &closeKind, &text.multipleStatements);
        if (closeKind < 0)
            return fail(MSG_ESCAPE_NESTED_TOO_DEEP);
        if (closeKind == kEscapeNone)
            return fail(MSG_ESCAPE_NOT_CLOSED);
        e.escapeEnd = closing + (form == kEscapeLong ? 4 : 1);
        e.bodyEnd = closing;
        while (e.bodyEnd > e.bodyStart && isBlank(base[e.bodyEnd - 1]))
            --e.bodyEnd;

        KaScannerW scanner(base + e.bodyStart, e.bodyEnd - e.bodyStart);
        if (form == kEscapeLong) {
            int header = readVendorHeader(scanner);
            if (header < 0)
                return 1;
            if (header > 0) {
                position = e.escapeEnd;
                continue;
            }
        }
        KaTokenW keyword;
        scanner.nextToken(keyword, KA_SCAN_PLAIN);
        int32_t kind = -1;
        bool literal = false;
        uint32_t code = KA_FN_UNKNOWN;
        KaTokenW last = keyword;
        if (tokenIs(keyword, "D")) {
            kind = KA_ESC_DATE;
            literal = true;
        } else if (tokenIs(keyword, "T")) {
            kind = KA_ESC_TIME;
            literal = true;
        } else if (tokenIs(keyword, "TS")) {
            kind = KA_ESC_TIMESTAMP;
            literal = true;
        } else if (tokenIs(keyword, "FN")) {
            kind = KA_ESC_FUNCTION;
            scanner.nextToken(last, KA_SCAN_PLAIN);
            if (last.kind == KA_TOKEN_END)
                return fail(MSG_ESCAPE_NO_FUNCTION_NAME);
            if (last.kind == KA_TOKEN_WORD)
                code = escapeFunctionCode(last.data, last.len);
        } else if (tokenIs(keyword, "INTERVAL")) {
            const uint16_t* rest = keyword.data + keyword.len;
            kind = intervalKind(rest, size_t(base + e.bodyEnd - rest));
            if (kind < 0)
                return fail(MSG_ESCAPE_MALFORMED);
        } else if (tokenIs(keyword, "OJ")) {
            kind = KA_ESC_OUTER_JOIN;
        } else if (tokenIs(keyword, "ESCAPE")) {
            kind = KA_ESC_LIKE_ESCAPE;
        } else if (keyword.kind == '?') {
            KaTokenW eq;
            scanner.nextToken(eq, KA_SCAN_PLAIN);
            scanner.nextToken(last, KA_SCAN_PLAIN);
            if (eq.kind != '=' || !tokenIs(last, "CALL"))
                return fail(MSG_ESCAPE_MALFORMED);
            if (callKind != nullptr)
                *callKind = kEscapeCallReturn;
            if (forNativeSql != 0) {
                kind = KA_ESC_CALL_RETURN;
            } else {
                kind = KA_ESC_CALL;
                if (returnParameter != nullptr)
                    *returnParameter = 1;
            }
        } else if (tokenIs(keyword, "CALL")) {
            kind = KA_ESC_CALL;
            if (callKind != nullptr)
                *callKind = kEscapeCallPlain;
        } else if (tokenIs(keyword, "B")) {
            kind = KA_ESC_QUOTED;
            literal = true;
        } else if (tokenIs(keyword, "L")) {
            kind = KA_ESC_VERBATIM;
        } else if (tokenIs(keyword, "NATIVE")) {
            kind = KA_ESC_NATIVE;
        } else if (tokenIs(keyword, "REFRESH")) {
            kind = KA_ESC_REFRESH;
        }
        if (kind < 0) {
            if (form == kEscapeLong)
                return fail(MSG_ESCAPE_MALFORMED);
            // Braces that open no escape stay; escapes inside them are found.
            position = e.opening + 1;
            continue;
        }

        uint64_t cursor = uint64_t(last.data + last.len - base);
        while (cursor < e.bodyEnd && isBlank(base[cursor]))
            ++cursor;
        if (cursor > e.bodyEnd)
            return fail(MSG_ESCAPE_MALFORMED);
        uint64_t bodyFrom = cursor;
        uint64_t bodyTo = e.bodyEnd;
        if (literal) {
            size_t n = size_t(bodyTo - bodyFrom);
            if (n > 1 && base[bodyFrom] == '\'' && base[bodyTo - 1] == '\'') {
                ++bodyFrom;
                --bodyTo;
            } else if (n >= 3 && upper(base[bodyFrom]) == 'N' && base[bodyFrom + 1] == '\'' &&
                       base[bodyTo - 1] == '\'') {
                bodyFrom += 2;
                --bodyTo;
            }
            const uint16_t* lit = base + bodyFrom;
            size_t litLength = size_t(bodyTo - bodyFrom);
            if (kind == KA_ESC_DATE && !dateOk(lit, litLength))
                return fail(MSG_ESCAPE_BAD_DATE);
            if (kind == KA_ESC_TIME && !timeOk(lit, litLength))
                return fail(MSG_ESCAPE_BAD_TIME);
            if (kind == KA_ESC_TIMESTAMP) {
                if (endsInZone(lit, litLength) && timestampOk(lit, litLength - 6, host.maxTimestampLength))
                    kind = KA_ESC_TIMESTAMP_ZONE;
                else if (!timestampOk(lit, litLength, host.maxTimestampLength))
                    return fail(MSG_ESCAPE_BAD_TIMESTAMP);
            }
        }
        if (code == KA_FN_LOCATE) {
            size_t commas = 0;
            for (uint64_t i = cursor; i < e.bodyEnd; ++i)
                if (base[i] == ',')
                    ++commas;
            if (commas + 1 == 2)
                code = KA_FN_LOCATE_2;
        }

        if (kind == KA_ESC_OUTER_JOIN && host.outerJoinSyntax != KA_OJ_AS_WRITTEN) {
            // The body takes the escape's place, its closing a blank, so that
            // the moved conditions can reach the WHERE clause after it.
            if (!writing) {
                if (writer.init(text.data, text.len) != 0)
                    return 1;
                writing = true;
            }
            writer.pass(size_t(e.opening));
            writer.skip(size_t(bodyFrom - e.opening));
            writer.blankUnread(size_t(bodyTo - bodyFrom), size_t(e.escapeEnd - bodyTo));
            static const uint16_t blank = ' ';
            if (writer.emit(&blank, 1) != 0)
                return 1;
            const size_t mark = writer.writeIndex();
            if (host.translateOuterJoinEscape(writer, bodyTo - bodyFrom, host.outerJoinSyntax) != 0)
                return 1;
            // Read again: escapes and markers in the rewritten text count.
            writer.unreadSince(mark);
            position = 0;
            continue;
        }

        out.len = 0;
        KaEscapeBody body{base + bodyFrom, size_t(bodyTo - bodyFrom)};
        if (out.appendChar(' ') != 0)
            return 1;
        if (host.dispatchEscape(body, out, EscapeKind(kind), code) != 0)
            return 1;
        if (!writing) {
            if (writer.init(text.data, text.len) != 0)
                return 1;
            writing = true;
        }
        writer.pass(size_t(e.opening));
        writer.skip(size_t(e.escapeEnd - e.opening));
        const bool final = kind == KA_ESC_TIME || kind == KA_ESC_DATE || kind == KA_ESC_TIMESTAMP ||
                           kind == KA_ESC_QUOTED || kind == KA_ESC_VERBATIM;
        // The blank stays; other translations are read again, so that escapes
        // nested in their arguments are translated and their markers counted.
        if (writer.emit(out.data, 1) != 0)
            return 1;
        if ((final ? writer.emit(out.data + 1, out.len - 1) : writer.unreadText(out.data + 1, out.len - 1)) != 0)
            return 1;
        position = 0;
    }
}
