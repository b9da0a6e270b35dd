#include "sql/basesql.h"

#include <sql.h>

#include <cstring>
#include <type_traits>

#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include "foundation/icucache.h"
#include "foundation/kaerror.h"
#include "foundation/kalock.h"
#include "kamessages.h"
#include "sql/bytescanner.h"
#include "sql/kascanne.h"
#include "sql/sqlpost.h"

namespace {

constexpr uint32_t kOpOpen = '(';
constexpr uint32_t kOpClose = ')';
constexpr uint32_t kOpComma = ',';
constexpr uint32_t kOpMarker = '?';

template <class Token>
bool isWord(const Token& t) noexcept
{
    return t.kind == KA_TOKEN_WORD || t.kind == KA_TOKEN_SQL_WORD;
}

template <class Token>
bool wordIs(const Token& t, const char* word) noexcept
{
    return isWord(t) && sqlWordIs(t, word);
}

template <class Unit>
size_t measure(const Unit* text) noexcept
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

// Re-points a view that looked into `oldBase` at the same offset in `newBase`.
template <class View, class Unit>
void rebase(View& view, const Unit* oldBase, Unit* newBase) noexcept
{
    if (view.len == 0 || view.data == nullptr || oldBase == nullptr)
        return;
    view.data = newBase + (view.data - oldBase);
}

// The ASCII words of the ordinal rewrite that end the ORDER BY item list.
template <class Token>
bool endsOrderList(const Token& t) noexcept
{
    static const char* const words[] = {"LIMIT", "FOR", "OFFSET", "FETCH", "UNION", "INTERSECT", "EXCEPT", "MINUS"};
    for (const char* w : words)
        if (wordIs(t, w))
            return true;
    return false;
}

template <class View>
bool wordEquals(const View& view, const char* word) noexcept
{
    size_t i = 0;
    for (; word[i] != 0; ++i) {
        if (i >= view.len)
            return false;
        uint32_t a = static_cast<std::make_unsigned_t<std::remove_pointer_t<decltype(view.data)>>>(view.data[i]);
        uint32_t b = static_cast<unsigned char>(word[i]);
        if (a >= 'a' && a <= 'z')
            a -= 32;
        if (b >= 'a' && b <= 'z')
            b -= 32;
        if (a != b)
            return false;
    }
    return i == view.len;
}

}  // namespace

bool sqlWordIs(const KaSubStringW& view, const char* word) noexcept
{
    return wordEquals(view, word);
}

bool sqlWordIs(const KaSubString& view, const char* word) noexcept
{
    return wordEquals(view, word);
}

// ---- what differs between the two code units ----------------------------------

void SqlTextTraitsW::open(KaScannerW& scanner, const uint16_t* text, size_t n, const KaStringW&) noexcept
{
    scanner.setInput(text, n);
}

void SqlTextTraitsW::option(KaScannerW& scanner, KaSqlScan which, bool on) noexcept
{
    uint8_t v = on ? 1 : 0;
    switch (which) {
    case KaSqlScan::skipComments: scanner.skipComments = v; break;
    case KaSqlScan::returnComments: scanner.returnComments = v; break;
    case KaSqlScan::parenGroups: scanner.parenGroups = v; break;
    case KaSqlScan::bracketGroups: scanner.bracketGroups = v; break;
    }
}

int SqlTextTraitsW::matchText(KaScannerW& scanner, KaTokenW& token, const char* words) noexcept
{
    // The analysis matches short fixed phrases ("WHERE CURRENT OF").
    constexpr size_t kPhraseMax = 32;
    uint16_t wide[kPhraseMax];
    size_t n = 0;
    for (; words[n] != 0 && n + 1 < kPhraseMax; ++n)
        wide[n] = uint16_t(uint8_t(words[n]));
    wide[n] = 0;
    return scanner.matchText(token, wide);
}

int SqlTextTraitsW::appendAscii(KaStringW& out, const char* text) noexcept
{
    return out.appendNarrow(text, std::strlen(text));
}

void SqlTextTraitsA::open(KaScanner& scanner, const char* text, size_t n, const KaString& owner) noexcept
{
    scanner.setInput(text, n, uint32_t(owner.codePage));
}

void SqlTextTraitsA::option(KaScanner& scanner, KaSqlScan which, bool on) noexcept
{
    switch (which) {
    case KaSqlScan::skipComments: scanner.setOption(KaScanner::skipComments, on); break;
    case KaSqlScan::returnComments: scanner.setOption(KaScanner::returnComments, on); break;
    case KaSqlScan::parenGroups: scanner.setOption(KaScanner::parenGroups, on); break;
    case KaSqlScan::bracketGroups: break;  // no bracketed names in 8-bit text
    }
}

int SqlTextTraitsA::matchText(KaScanner& scanner, KaToken& token, const char* words) noexcept
{
    return scanner.matchText(token, words);
}

int SqlTextTraitsA::appendAscii(KaString& out, const char* text) noexcept
{
    return out.append(text);
}

template <class T>
KaSqlTextT<T>::KaSqlTextT() noexcept
{
    // As many markers as the application's text holds: the array doubles.
    markerOffsets.growStep = 0;
}

template <class T>
KaSqlTextT<T>::~KaSqlTextT() = default;

template <class T>
void KaSqlTextT<T>::borrow(const Unit* text, int64_t length) noexcept
{
    if (text == nullptr)
        return;
    size_t n = length == SQL_NTS ? measure(text) : length >= 0 ? size_t(length) : 0;
    // The application's buffer is only read; makeOwned copies before any edit.
    this->attach(const_cast<Unit*>(text), n, n);
    callerText = text;
}

template <class T>
void KaSqlTextT<T>::clear() noexcept
{
    freeBuffer();
    callerText = nullptr;
    statementKind = KA_STMT_UNKNOWN;
    objectKind = KA_OBJECT_UNKNOWN;
    keyword.set(nullptr, 0);
    objectWord.set(nullptr, 0);
    cursorName.set(nullptr, 0);
    markerOffsets.count = 0;
    forUpdatePos = currentOfPos = currentOfLength = 0;
    hasGroupBy = hasUnion = hasIntersect = hasHaving = hasFromList = 0;
    multipleStatements = 0;
}

template <class T>
uint32_t KaSqlTextT<T>::getStatementKind() noexcept
{
    if (statementKind != KA_STMT_UNKNOWN)
        return statementKind;
    Scanner scanner;
    T::open(scanner, data, len, *this);
    T::option(scanner, KaSqlScan::skipComments, 1);
    Token token;
    do
        scanner.nextToken(token, KA_SCAN_SQL_WORDS);
    while (token.kind == kOpOpen);
    if (!isWord(token)) {
        statementKind = KA_STMT_NONE;
        objectKind = KA_OBJECT_NONE;
        return statementKind;
    }
    keyword.set(token.data, token.len);
    static const struct {
        const char* word;
        StatementKind kind;
    } kinds[] = {{"SELECT", KA_STMT_SELECT}, {"INSERT", KA_STMT_INSERT}, {"UPDATE", KA_STMT_UPDATE},
                 {"DELETE", KA_STMT_DELETE}, {"CREATE", KA_STMT_CREATE}, {"ALTER", KA_STMT_ALTER},
                 {"DROP", KA_STMT_DROP},     {"GRANT", KA_STMT_GRANT},   {"REVOKE", KA_STMT_REVOKE},
                 {"WITH", KA_STMT_SELECT},   {"XQUERY", KA_STMT_XQUERY}};
    statementKind = KA_STMT_OTHER;
    for (const auto& k : kinds)
        if (sqlWordIs(token, k.word) && (T::hasXQuery || k.kind != KA_STMT_XQUERY)) {
            statementKind = k.kind;
            break;
        }
    scanner.nextToken(token, KA_SCAN_SQL_WORDS);
    if (!isWord(token)) {
        objectKind = KA_OBJECT_NONE;
        return statementKind;
    }
    objectWord.set(token.data, token.len);
    static const char* const objects[] = {"TABLE", "INDEX", "VIEW", "SYNONYM"};
    objectKind = KA_OBJECT_OTHER;
    for (uint32_t i = 0; i < 4; ++i)
        if (sqlWordIs(token, objects[i]))
            objectKind = i + 1;
    return statementKind;
}

template <class T>
int KaSqlTextT<T>::recordMarker(uint64_t offset) noexcept
{
    if (markerOffsets.count >= kSqlMaxMarkers) {
        sqlPostError(KA_SQLSTATE_INDEX_GENERAL, MSG_TOO_MANY_PARAMETER_MARKERS);
        return 1;
    }
    return markerOffsets.append(size_t(offset)) != 0 ? 1 : 0;
}

template <class T>
int KaSqlTextT<T>::scanClauses(uint32_t flags, int16_t* addedColumns) noexcept
{
    if (addedColumns != nullptr)
        *addedColumns = 0;
    const bool record = (flags & kSqlRecordMarkers) != 0;
    const bool positioned = statementKind == KA_STMT_DELETE || statementKind == KA_STMT_UPDATE;
    const bool select = statementKind == KA_STMT_SELECT;
    const bool ordinals = (flags & kSqlOrderByOrdinals) != 0 && select;
    if (record)
        markerOffsets.count = 0;

    Scanner scanner;
    T::open(scanner, data, len, *this);
    scanner.quoteChar1 = quoteChar1;
    scanner.quoteChar2 = quoteChar2;
    scanner.quoteChar3 = quoteChar3;
    T::option(scanner, KaSqlScan::returnComments, 1);
    T::option(scanner, KaSqlScan::bracketGroups, bracketNames != 0 ? 1 : 0);

    bool fromOpen = false;
    bool fromEnded = false;
    bool cteRead = false;
    Token previous;

    // Ordinal rewrite bookkeeping: all at parenthesis depth 0 of the outer
    // select; any doubt abandons the rewrite and leaves the text alone.
    size_t depth = 0;
    bool ordinalsOk = ordinals;
    uint64_t fromPos = 0;
    bool fromFound = false;
    size_t selectCommas = 0;
    bool inOrder = false;
    bool orderDone = false;
    uint64_t itemsStart = 0;
    uint64_t itemsEnd = 0;
    uint64_t itemStart = 0;
    uint64_t itemEnd = 0;
    bool itemDesc = false;
    size_t itemTokens = 0;
    bool itemOrdinal = false;
    KaArrayKASIZE_T items;  // start, end, desc per item

    auto closeItem = [&]() noexcept -> bool {
        if (itemTokens == 0 || itemOrdinal)
            return false;
        return items.append(size_t(itemStart)) == 0 && items.append(size_t(itemEnd)) == 0 &&
               items.append(itemDesc ? 1 : 0) == 0;
    };

    Token token;
    for (;;) {
        scanner.nextToken(token, KA_SCAN_SQL_WORDS);
        if (token.kind == KA_TOKEN_END)
            break;
        if (token.kind == KA_TOKEN_COMMENT)
            continue;
        const uint64_t at = uint64_t(token.start);
        const size_t depthBefore = depth;
        if (token.kind == kOpOpen)
            ++depth;
        else if (token.kind == kOpClose && depth > 0)
            --depth;

        if (select) {
            // WITH opens a common table expression only where a name follows;
            // GROUP BY ... WITH ROLLUP / WITH CUBE are clause modifiers.
            if (!cteRead && wordIs(token, "WITH") && !wordIs(previous, "START")) {
                Token name;
                scanner.nextToken(name, KA_SCAN_PLAIN);
                if (isWord(name) && !sqlWordIs(name, "ROLLUP") && !sqlWordIs(name, "CUBE")) {
                    cteRead = true;
                    T::option(scanner, KaSqlScan::parenGroups, 1);
                    Token next;
                    scanner.nextToken(next, KA_SCAN_PLAIN);
                    if (!wordIs(next, "AS"))
                        scanner.nextToken(next, KA_SCAN_PLAIN);
                    Token body;
                    scanner.nextToken(body, KA_SCAN_PLAIN);
                    T::option(scanner, KaSqlScan::parenGroups, 0);
                    if (record && (body.kind == KA_TOKEN_CLOSED || body.kind == KA_TOKEN_UNTERMINATED)) {
                        Scanner inner;
                        T::open(inner, body.data, body.len, *this);
                        inner.quoteChar1 = quoteChar1;
                        inner.quoteChar2 = quoteChar2;
                        inner.quoteChar3 = quoteChar3;
                        T::option(inner, KaSqlScan::skipComments, 1);
                        Token t;
                        for (inner.nextToken(t, KA_SCAN_SQL_WORDS); t.kind != KA_TOKEN_END;
                             inner.nextToken(t, KA_SCAN_SQL_WORDS))
                            if (t.kind == kOpMarker && recordMarker(uint64_t(body.start + t.start)) != 0)
                                return 1;
                    }
                    // Markers inside the body are not tracked by the ordinal rewrite.
                    ordinalsOk = false;
                    previous = body;
                    continue;
                }
                scanner.pushBack(name);
            }
            if (wordIs(token, "FROM") && depth == 0 && !fromOpen) {
                fromOpen = true;
            } else if (fromOpen && !fromEnded) {
                if (token.kind == kOpComma && depth == 0)
                    hasFromList = 1;
                else if (wordIs(token, "WHERE") || wordIs(token, "ORDER") || wordIs(token, "MINUS"))
                    fromEnded = true;
            }
            if (wordIs(token, "FOR") && T::matchText(scanner, token, "FOR UPDATE")) {
                forUpdatePos = at;
                ordinalsOk = false;
                break;
            }
            if (wordIs(token, "UNION")) {
                hasUnion = 1;
                fromEnded = true;
                ordinalsOk = false;
            } else if (wordIs(token, "INTERSECT")) {
                hasIntersect = 1;
                fromEnded = true;
                ordinalsOk = false;
            } else if (wordIs(token, "HAVING")) {
                hasHaving = 1;
                fromEnded = true;
            } else if (wordIs(token, "COMPUTE")) {
                fromEnded = true;
            } else if (wordIs(token, "GROUP")) {
                Token probe = token;
                if (T::matchText(scanner, probe, "GROUP BY")) {
                    hasGroupBy = 1;
                    fromEnded = true;
                }
            }
        }

        if (token.kind == kOpMarker) {
            if (record && recordMarker(at) != 0)
                return 1;
        }

        if (positioned && wordIs(token, "WHERE")) {
            Token probe = token;
            if (T::matchText(scanner, probe, "WHERE CURRENT OF")) {
                currentOfPos = at + 6;
                Token name;
                scanner.nextToken(name, KA_SCAN_PLAIN);
                if (name.kind == KA_TOKEN_END) {
                    sqlPostSyntaxError(MSG_CURSOR_NAME_MISSING);
                    return 1;
                }
                cursorName.set(name.data, name.len);
                currentOfLength = uint64_t(name.start) - currentOfPos + name.len;
                return 0;
            }
        }

        if (ordinalsOk) {
            if (inOrder && !orderDone) {
                if (depthBefore == 0 && (endsOrderList(token) || token.kind == kOpClose)) {
                    orderDone = true;
                    if (!closeItem())
                        ordinalsOk = false;
                } else if (depth == 0 && token.kind == kOpComma) {
                    if (!closeItem())
                        ordinalsOk = false;
                    itemTokens = 0;
                    itemDesc = false;
                    itemOrdinal = false;
                } else if (depth == 0 && (wordIs(token, "DESC") || wordIs(token, "ASC"))) {
                    itemDesc = wordIs(token, "DESC");
                    itemsEnd = at + token.len;
                } else if (depth == 0 && (wordIs(token, "NULLS") || wordIs(token, "FIRST") || wordIs(token, "LAST"))) {
                    ordinalsOk = false;  // NULLS FIRST/LAST would have to move with the item
                } else {
                    if (token.kind == kOpMarker)
                        ordinalsOk = false;
                    if (itemTokens == 0) {
                        itemStart = at;
                        if (items.count == 0)
                            itemsStart = at;
                        itemOrdinal = token.kind == KA_TOKEN_NUMBER || token.kind == KA_TOKEN_NUMBER_AT_END;
                    } else {
                        itemOrdinal = false;
                    }
                    ++itemTokens;
                    itemEnd = at + token.len;
                    itemsEnd = itemEnd;
                }
            } else if (!inOrder) {
                if (!fromFound && depth == 0) {
                    if (wordIs(token, "FROM")) {
                        fromFound = true;
                        fromPos = at;
                    } else if (token.kind == kOpComma) {
                        ++selectCommas;
                    } else if (wordIs(token, "DISTINCT")) {
                        ordinalsOk = false;  // added columns would change the distinct rows
                    }
                } else if (fromFound && depth == 0 && wordIs(token, "ORDER")) {
                    Token probe = token;
                    if (T::matchText(scanner, probe, "ORDER BY")) {
                        inOrder = true;
                    }
                }
            }
        }
        previous = token;
    }

    if (ordinalsOk && inOrder && fromFound) {
        if (!orderDone && !closeItem())
            return 0;
        if (items.count == 0)
            return 0;
        for (size_t i = 0; i < markerOffsets.count; ++i)
            if (markerOffsets.at(i) >= itemsStart && markerOffsets.at(i) < itemsEnd)
                return 0;
        return rewriteOrderBy(fromPos, itemsStart, itemsEnd, items, selectCommas, addedColumns);
    }
    return 0;
}

// ORDER BY expressions become added select-list columns ordered by their
// ordinals; the markers and FOR UPDATE position move with the text.
template <class T>
int KaSqlTextT<T>::rewriteOrderBy(uint64_t fromPos, uint64_t itemsStart, uint64_t itemsEnd,
                                  const KaArrayKASIZE_T& items, size_t selectCommas, int16_t* addedColumns) noexcept
{
    size_t itemCount = items.count / 3;
    if (itemCount > size_t(INT16_MAX))
        return 0;
    String columns;
    String ordinals;
    for (size_t i = 0; i < itemCount; ++i) {
        size_t s = items.at(3 * i);
        size_t e = items.at(3 * i + 1);
        if (T::appendAscii(columns, ", ") != 0 || columns.append(data + s, e - s) != 0)
            return 1;
        if (i > 0 && T::appendAscii(ordinals, ", ") != 0)
            return 1;
        if (ordinals.appendNumber(selectCommas + 2 + i) != 0)
            return 1;
        if (items.at(3 * i + 2) != 0 && T::appendAscii(ordinals, " DESC") != 0)
            return 1;
    }
    if (columns.appendChar(' ') != 0)
        return 1;
    if (makeOwned() != 0)
        return 1;
    // The later edit first, so that the earlier offset stays valid.
    size_t oldItems = size_t(itemsEnd - itemsStart);
    if (replace(size_t(itemsStart), oldItems, ordinals.data, ordinals.len) != 0)
        return 1;
    if (replace(size_t(fromPos), 0, columns.data, columns.len) != 0)
        return 1;
    const int64_t orderShift = int64_t(ordinals.len) - int64_t(oldItems);
    for (size_t i = 0; i < markerOffsets.count; ++i) {
        size_t m = markerOffsets.at(i);
        if (m >= itemsEnd)
            m = size_t(int64_t(m) + orderShift);
        if (m >= fromPos)
            m += columns.len;
        markerOffsets.setAt(i, m);
    }
    if (forUpdatePos != 0) {
        if (forUpdatePos >= itemsEnd)
            forUpdatePos = uint64_t(int64_t(forUpdatePos) + orderShift);
        if (forUpdatePos >= fromPos)
            forUpdatePos += columns.len;
    }
    if (addedColumns != nullptr)
        *addedColumns = int16_t(itemCount);
    return 0;
}

template <class T>
int KaSqlTextT<T>::substituteParameters(String& out, typename T::Callback callback, void* context,
                                        uint16_t skip) const noexcept
{
    out.len = 0;
    if (out.allocate(len + 1) != 0)
        return 1;
    size_t from = 0;
    Unit work[kSqlParamTextMax];
    for (size_t i = skip != 0 ? 1 : 0; i < markerOffsets.count; ++i) {
        size_t at = markerOffsets.at(i);
        if (at < from || at >= len)
            return 1;
        if (out.append(data + from, at - from) != 0)
            return 1;
        size_t number = skip != 0 ? i : i + 1;
        uint16_t written = callback(work, kSqlParamTextMax, uint16_t(number), context);
        if (written > kSqlParamTextMax) {
            sqlPostError(KA_SQLSTATE_INDEX_GENERAL, MSG_VALUE_DOES_NOT_FIT);
            return 1;
        }
        if (out.append(work, written) != 0)
            return 1;
        from = at + 1;
    }
    return out.append(data + from, len - from) != 0 ? 1 : 0;
}

template <class T>
int KaSqlTextT<T>::appendForUpdate() noexcept
{
    if (makeOwned() != 0)
        return 1;
    uint64_t at = len;
    if (T::appendAscii(*this, " FOR UPDATE") != 0)
        return 1;
    forUpdatePos = at;
    return 0;
}

template <class T>
void KaSqlTextT<T>::restoreLength() noexcept
{
    if (forUpdatePos == 0 || forUpdatePos > len)
        return;
    if (makeOwned() != 0)
        return;
    len = size_t(forUpdatePos);
    data[len] = 0;
}

template <class T>
int KaSqlTextT<T>::replaceRange(const View& range, const Unit* text, size_t length) noexcept
{
    if (range.data == nullptr || range.data < data || range.data + range.len > data + len)
        return 1;
    size_t offset = size_t(range.data - data);
    size_t oldLength = range.len;
    Unit* oldBase = data;
    if (makeOwned() != 0)
        return 1;
    oldBase = data;
    auto offsetOf = [&](const View& v) { return size_t(v.data - oldBase); };
    size_t kwAt = keyword.len != 0 ? offsetOf(keyword) : 0;
    size_t objAt = objectWord.len != 0 ? offsetOf(objectWord) : 0;
    size_t curAt = cursorName.len != 0 ? offsetOf(cursorName) : 0;
    if (replace(offset, oldLength, length != 0 ? text : nullptr, length) != 0)
        return 1;
    const int64_t diff = int64_t(length) - int64_t(oldLength);
    auto move = [&](View& v, size_t at) {
        if (v.len == 0)
            return;
        if (at == offset)
            v.set(data + at, length);
        else
            v.set(data + (at > offset ? size_t(int64_t(at) + diff) : at), v.len);
    };
    move(keyword, kwAt);
    move(objectWord, objAt);
    move(cursorName, curAt);
    if (forUpdatePos > offset)
        forUpdatePos = uint64_t(int64_t(forUpdatePos) + diff);
    if (currentOfPos > offset)
        currentOfPos = uint64_t(int64_t(currentOfPos) + diff);
    return 0;
}

template <class T>
int KaSqlTextT<T>::makeOwned() noexcept
{
    if (!borrowed())
        return 0;
    const Unit* old = data;
    size_t n = len;
    // attach left owns false: drop the borrowed buffer without freeing it.
    data = nullptr;
    capacity = 0;
    len = 0;
    owns = true;
    if (allocate(n + 1) != 0 || append(old, n) != 0) {
        this->attach(const_cast<Unit*>(old), n, n);
        return 1;
    }
    callerText = nullptr;
    rebase(keyword, old, data);
    rebase(objectWord, old, data);
    rebase(cursorName, old, data);
    return 0;
}

template <class T>
int KaSqlTextT<T>::copy(const KaSqlTextT& from) noexcept
{
    freeBuffer();
    callerText = nullptr;
    owns = true;
    if (allocate(from.len + 1) != 0 || append(from.data, from.len) != 0)
        return 1;
    statementKind = from.statementKind;
    markerOffsets.count = 0;
    for (size_t i = 0; i < from.markerOffsets.count; ++i)
        if (markerOffsets.append(from.markerOffsets.at(i)) != 0)
            return 1;
    hasGroupBy = from.hasGroupBy;
    hasFromList = from.hasFromList;
    hasUnion = from.hasUnion;
    hasIntersect = from.hasIntersect;
    hasHaving = from.hasHaving;
    forUpdatePos = from.forUpdatePos;
    currentOfPos = from.currentOfPos;
    currentOfLength = from.currentOfLength;
    quoteChar1 = from.quoteChar1;
    quoteChar2 = from.quoteChar2;
    quoteChar3 = from.quoteChar3;
    return 0;
}

template <class T>
int KaSqlTextT<T>::appendWhereFalse(String& out) const noexcept
{
    Scanner scanner;
    T::open(scanner, data, len, *this);
    Token token;
    size_t cut = len;
    bool cutFound = false;
    size_t group = 0;
    bool groupFound = false;
    size_t groupEnd = len;
    static const char* const cuts[] = {"WHERE", "ORDER", "HAVING", "FOR", "UNION"};
    for (scanner.nextToken(token, KA_SCAN_SQL_WORDS); token.kind != KA_TOKEN_END;
         scanner.nextToken(token, KA_SCAN_SQL_WORDS)) {
        if (token.kind != KA_TOKEN_SQL_WORD)
            continue;
        size_t at = size_t(token.start);
        if (sqlWordIs(token, "GROUP")) {
            group = at;
            groupFound = true;
            groupEnd = len;
            continue;
        }
        for (const char* c : cuts)
            if (sqlWordIs(token, c)) {
                if (!cutFound) {
                    cut = at;
                    cutFound = true;
                }
                if (groupFound && groupEnd == len && at > group)
                    groupEnd = at;
            }
    }
    // The condition goes before GROUP BY, which follows it; what came after
    // the grouping (HAVING, ORDER BY) is not needed to describe the result.
    if (groupFound && group < cut)
        cut = group;
    out.len = 0;
    if (out.append(data, cut) != 0 || T::appendAscii(out, T::whereFalse) != 0)
        return 1;
    if (groupFound && (out.appendChar(' ') != 0 || out.append(data + group, groupEnd - group) != 0))
        return 1;
    return 0;
}

template class KaSqlTextT<SqlTextTraitsW>;
template class KaSqlTextT<SqlTextTraitsA>;

BaseSqlStringW::BaseSqlStringW() noexcept = default;

BaseSqlStringW::BaseSqlStringW(const uint16_t* text, int64_t length) noexcept
{
    borrow(text, length);
}

BaseSqlStringW::~BaseSqlStringW() = default;

BaseSqlString::BaseSqlString() noexcept
{
    codePage = KA_TEXT_LOCALE;
}

BaseSqlString::BaseSqlString(int32_t encoding) noexcept
{
    codePage = encoding;
}

BaseSqlString::BaseSqlString(const char* text, int64_t length) noexcept : BaseSqlString(text, length, KA_TEXT_LOCALE) {}

BaseSqlString::BaseSqlString(const char* text, int64_t length, int32_t encoding) noexcept
{
    codePage = encoding;
    borrow(text, length);
}

BaseSqlString::~BaseSqlString() = default;

// ---- conversion between the twins ----------------------------------------------

namespace {

// Takes the analysis over, each offset of the source mapped through `map`
// (source offset -> target offset; the source length maps to the target's).
template <class To, class From>
int takeAnalysis(To& to, const From& from, const KaArrayKASIZE_T& map) noexcept
{
    auto at = [&](size_t offset) { return map.at(offset < map.count ? offset : map.count - 1); };
    auto view = [&](typename To::View& target, const typename From::View& source) {
        if (source.len == 0 || source.data == nullptr) {
            target.set(nullptr, 0);
            return;
        }
        size_t start = size_t(source.data - from.data);
        size_t s = at(start);
        target.set(to.data + s, at(start + source.len) - s);
    };
    to.statementKind = from.statementKind;
    to.objectKind = from.objectKind;
    view(to.keyword, from.keyword);
    view(to.objectWord, from.objectWord);
    view(to.cursorName, from.cursorName);
    to.markerOffsets.count = 0;
    for (size_t i = 0; i < from.markerOffsets.count; ++i)
        if (to.markerOffsets.append(at(from.markerOffsets.at(i))) != 0)
            return 1;
    to.forUpdatePos = from.forUpdatePos != 0 ? at(size_t(from.forUpdatePos)) : 0;
    to.currentOfPos = from.currentOfPos != 0 ? at(size_t(from.currentOfPos)) : 0;
    to.currentOfLength =
        from.currentOfPos != 0 ? at(size_t(from.currentOfPos + from.currentOfLength)) - to.currentOfPos : 0;
    to.hasGroupBy = from.hasGroupBy;
    to.hasUnion = from.hasUnion;
    to.hasIntersect = from.hasIntersect;
    to.hasHaving = from.hasHaving;
    to.hasFromList = from.hasFromList;
    to.quoteChar1 = typename To::Unit(static_cast<uint8_t>(from.quoteChar1));
    to.quoteChar2 = typename To::Unit(static_cast<uint8_t>(from.quoteChar2));
    to.quoteChar3 = typename To::Unit(static_cast<uint8_t>(from.quoteChar3));
    return 0;
}

// A map entry for every source offset up to and including the length; an
// offset inside a character maps to the end of the character.
int mapCharacter(KaArrayKASIZE_T& map, size_t sourceUnits, size_t targetEnd) noexcept
{
    for (size_t i = 0; i < sourceUnits; ++i)
        if (map.append(targetEnd) != 0)
            return 1;
    return 0;
}

}  // namespace

int BaseSqlStringW::assignConverted(const BaseSqlString& narrow, KaCharConv& converters, int64_t codePage) noexcept
{
    KaLockGuard guard(converters.lock);
    UConverter* converter = nullptr;
    if (converters.getConverter(codePage, &converter) != 0 || converter == nullptr)
        return 1;
    ucnv_resetToUnicode(converter);
    KaStringW text;
    KaArrayKASIZE_T map;
    if (text.allocate(narrow.len + 1) != 0 || map.append(0) != 0)
        return 1;
    const char* source = narrow.data;
    const char* limit = narrow.data + narrow.len;
    while (source < limit) {
        const char* before = source;
        UErrorCode status = U_ZERO_ERROR;
        UChar32 c = ucnv_getNextUChar(converter, &source, limit, &status);
        if (U_FAILURE(status) || source <= before) {
            icuErrorToDiag(int32_t(status));
            return 1;
        }
        uint16_t units[2];
        size_t n = 0;
        U16_APPEND_UNSAFE(units, n, c);
        if (text.append(units, n) != 0)
            return 1;
        // map[b] for b = before+1 .. source: inside the character, then its end.
        if (mapCharacter(map, size_t(source - before), text.len) != 0)
            return 1;
    }
    freeBuffer();
    callerText = nullptr;
    owns = true;
    if (allocate(text.len + 1) != 0 || append(text.data, text.len) != 0)
        return 1;
    return takeAnalysis(*this, narrow, map);
}

int BaseSqlString::assignConverted(const BaseSqlStringW& wide, KaCharConv& converters, int64_t codePage) noexcept
{
    KaLockGuard guard(converters.lock);
    UConverter* converter = nullptr;
    if (converters.getConverter(codePage, &converter) != 0 || converter == nullptr)
        return 1;
    ucnv_resetFromUnicode(converter);
    KaString text;
    KaArrayKASIZE_T map;
    if (map.append(0) != 0)
        return 1;
    for (size_t i = 0; i < wide.len;) {
        size_t n = U16_IS_LEAD(wide.data[i]) && i + 1 < wide.len && U16_IS_TRAIL(wide.data[i + 1]) ? 2 : 1;
        // No code page takes more bytes for one character.
        constexpr size_t kCharBytesMax = 16;
        char bytes[kCharBytesMax];
        UErrorCode status = U_ZERO_ERROR;
        int32_t written = ucnv_fromUChars(converter, bytes, int32_t(sizeof bytes),
                                          reinterpret_cast<const UChar*>(wide.data + i), int32_t(n), &status);
        if (U_FAILURE(status) || written < 0) {
            icuErrorToDiag(int32_t(status));
            return 1;
        }
        if (text.append(bytes, size_t(written)) != 0)
            return 1;
        if (mapCharacter(map, n, text.len) != 0)
            return 1;
        i += n;
    }
    freeBuffer();
    callerText = nullptr;
    owns = true;
    if (allocate(text.len + 1) != 0 || append(text.data, text.len) != 0)
        return 1;
    return takeAnalysis(*this, wide, map);
}
