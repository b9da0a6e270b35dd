// The multi-row insert builder and the statement's side of it: the INSERT
// template, the batch text written row by row, and the execution of each
// batch with the parameter statuses of its rows.
#include "odbc/basemultirow.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"

namespace {

enum class Tok { End, Word, Number, String, Marker, Group, Open, Close, Comma, Sign, Other };

struct Token {
    Tok kind;
    size_t start;
    size_t end;
};

bool wordByte(unsigned char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c >= 0x80;
}

// Past a quoted text starting at s[at] (its quote byte); Hive's backslash
// escapes and doubled quotes both keep it open.
size_t skipQuoted(const char* s, size_t n, size_t at) noexcept
{
    const char quote = s[at];
    for (size_t i = at + 1; i < n; ++i) {
        if (s[i] == '\\' && quote != '`')
            ++i;
        else if (s[i] == quote)
            return i + 1;
    }
    return n;
}

// Past blanks and comments.
size_t skipBlank(const char* s, size_t n, size_t at) noexcept
{
    while (at < n) {
        const unsigned char c = static_cast<unsigned char>(s[at]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
            ++at;
        } else if (c == '-' && at + 1 < n && s[at + 1] == '-') {
            while (at < n && s[at] != '\n')
                ++at;
        } else if (c == '/' && at + 1 < n && s[at + 1] == '*') {
            const char* close = nullptr;
            for (size_t i = at + 2; i + 1 < n && close == nullptr; ++i)
                if (s[i] == '*' && s[i + 1] == '/')
                    close = s + i;
            at = close != nullptr ? static_cast<size_t>(close - s) + 2 : n;
        } else {
            break;
        }
    }
    return at;
}

// The token at `at`; a parenthesised group is one token when collapse is set.
Token nextToken(const char* s, size_t n, size_t at, bool collapse) noexcept
{
    at = skipBlank(s, n, at);
    if (at >= n)
        return {Tok::End, n, n};
    const unsigned char c = static_cast<unsigned char>(s[at]);
    if (c == '\'' || c == '"' || c == '`')
        return {c == '`' ? Tok::Word : Tok::String, at, skipQuoted(s, n, at)};
    if ((c >= '0' && c <= '9') || (c == '.' && at + 1 < n && s[at + 1] >= '0' && s[at + 1] <= '9')) {
        size_t i = at;
        while (i < n && (wordByte(static_cast<unsigned char>(s[i])) || s[i] == '.'))
            ++i;
        return {Tok::Number, at, i};
    }
    if (wordByte(c)) {
        size_t i = at;
        while (i < n && wordByte(static_cast<unsigned char>(s[i])))
            ++i;
        return {Tok::Word, at, i};
    }
    if (c == '(' && collapse) {
        int depth = 0;
        for (size_t i = at; i < n;) {
            const Token t = nextToken(s, n, i, false);
            if (t.kind == Tok::End)
                break;
            depth += t.kind == Tok::Open ? 1 : t.kind == Tok::Close ? -1 : 0;
            i = t.end;
            if (depth == 0)
                return {Tok::Group, at, i};
        }
        return {Tok::Other, at, n};
    }
    switch (c) {
    case '(': return {Tok::Open, at, at + 1};
    case ')': return {Tok::Close, at, at + 1};
    case ',': return {Tok::Comma, at, at + 1};
    case '?': return {Tok::Marker, at, at + 1};
    case '+':
    case '-': return {Tok::Sign, at, at + 1};
    default: return {Tok::Other, at, at + 1};
    }
}

bool wordIs(const char* s, const Token& t, const char* word) noexcept
{
    const size_t n = std::strlen(word);
    if (t.kind != Tok::Word || t.end - t.start != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = s[t.start + i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != word[i])
            return false;
    }
    return true;
}

// The markers in s[from, to) and the offset of the first from `from`.
size_t countMarkers(const char* s, size_t from, size_t to, size_t* first) noexcept
{
    size_t count = 0;
    for (size_t i = from; i < to;) {
        const Token t = nextToken(s, to, i, false);
        if (t.kind == Tok::End)
            break;
        if (t.kind == Tok::Marker && count++ == 0)
            *first = t.start - from;
        i = t.end;
    }
    return count;
}

bool numericSqlType(int16_t t) noexcept
{
    return (t >= SQL_NUMERIC && t <= SQL_DOUBLE) || t == SQL_TINYINT || t == SQL_BIGINT;
}

// Room for `more` bytes behind the text, growing by doubling: the strings
// grow to the exact size asked for.
int16_t ensure(KaString& s, size_t more) noexcept
{
    const size_t need = s.len + more + 1;
    if (s.capacity >= need)
        return 0;
    size_t grow = s.capacity < 64 ? 64 : s.capacity * 2;
    return s.reserve(grow > need ? grow : need);
}

}  // namespace

BaseMultiRowInsert::~BaseMultiRowInsert()
{
    ramFree(segments);
    ramFree(templateText);
}

void BaseMultiRowInsert::batchSent(int32_t) noexcept {}

void BaseMultiRowInsert::setBatchRows(int64_t) noexcept {}

int64_t BaseMultiRowInsert::batchRows() noexcept
{
    return 0;
}

int16_t BaseMultiRowInsert::convertValue(uint16_t, const void*, int64_t, KaString*) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return 1;
}

void BaseMultiRowInsert::init(BaseStatement* ownerStatement) noexcept
{
    reset();
    owner = ownerStatement;
}

void BaseMultiRowInsert::reset() noexcept
{
    segmentCount = 0;
    markerTotal = 0;
    nextSegment = 0;
    rowMark = 0;
    insertState = kBaseInsertIdle;
    outputBuffer = nullptr;
    outputCapacity = 0;
    writeOffset = 0;
}

int16_t BaseMultiRowInsert::addSegment(size_t start, size_t length, size_t markerOffset, bool lone) noexcept
{
    if (segmentCount == segmentCapacity) {
        const size_t grown = segmentCapacity == 0 ? 8 : segmentCapacity * 2;
        auto* bigger = static_cast<Segment*>(ramAlloc(grown * sizeof(Segment)));
        if (bigger == nullptr)
            return 1;
        if (segmentCount != 0)
            std::memcpy(bigger, segments, segmentCount * sizeof(Segment));
        ramFree(segments);
        segments = bigger;
        segmentCapacity = grown;
    }
    segments[segmentCount++] = {start, length, markerOffset, lone};
    markerTotal += lone || markerOffset != 0 ? 1 : 0;
    return 0;
}

int16_t BaseMultiRowInsert::parseInsert(const uint16_t* text, size_t units) noexcept
{
    reset();
    if (units > (SIZE_MAX - 1) / 3)
        return 1;
    const size_t room = 3 * units + 1;
    ramFree(templateText);
    templateText = static_cast<char*>(ramAlloc(room));
    if (templateText == nullptr)
        return 1;
    size_t length = 0;
    if (utf16ToUtf8(templateText, room, text, static_cast<int64_t>(units), &length, 0) != 0 || length >= room) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    templateLength = length;
    const char* s = templateText;
    const size_t n = templateLength;
    size_t offending = 0;
    auto unusable = [&](size_t at) noexcept -> int16_t {
        segmentCount = 0;
        markerTotal = 0;
        KaErrorList* list = KaErrorCurrentList();
        bool pending = false;
        for (size_t i = 0; list != nullptr && i < list->recordCount(); ++i)
            if (KaError* r = list->recordAt(i); r != nullptr && !r->isWarning())
                pending = true;
        if (!pending)
            basePostErrorMsg(kBaseIdxGeneralError, MSG_INSERT_TEMPLATE_UNUSABLE)->addParamUnsigned(at);
        return 0;
    };
    Token t = nextToken(s, n, 0, true);
    if (!wordIs(s, t, "INSERT"))
        return unusable(t.start);
    t = nextToken(s, n, t.end, true);
    if (!wordIs(s, t, "INTO"))
        return unusable(t.start);
    t = nextToken(s, n, t.end, true);
    if (t.kind != Tok::Word)
        return unusable(t.start);
    while (!wordIs(s, t, "VALUES")) {
        t = nextToken(s, n, t.end, true);
        if (t.kind == Tok::End)
            return unusable(t.start);
    }
    // Segment 0 is written once per batch: a marker in it could not be.
    size_t first = 0;
    if (countMarkers(s, 0, t.end, &first) != 0)
        return unusable(first);
    if (addSegment(0, t.end, 0, false) != 0)
        return 1;
    t = nextToken(s, n, t.end, false);
    if (t.kind != Tok::Open)
        return unusable(t.start);
    bool wantItem = true;
    for (;;) {
        t = nextToken(s, n, t.end, true);
        offending = t.start;
        if (t.kind == Tok::Close && !wantItem)
            break;
        if (t.kind == Tok::Comma && !wantItem) {
            wantItem = true;
            continue;
        }
        if (!wantItem)
            return unusable(offending);
        wantItem = false;
        if (t.kind == Tok::Marker) {
            if (addSegment(t.start, 1, 0, true) != 0)
                return 1;
            continue;
        }
        size_t end = 0;
        if (t.kind == Tok::Word && nextToken(s, n, t.end, true).kind == Tok::Group) {
            end = nextToken(s, n, t.end, true).end;  // a function call with its arguments
        } else if (t.kind == Tok::Group) {
            end = t.end;
        } else if (t.kind == Tok::Word || t.kind == Tok::Number || t.kind == Tok::Sign || t.kind == Tok::String) {
            // Up to the item's end, groups taken whole.
            Token u = t;
            end = t.end;
            for (;;) {
                u = nextToken(s, n, u.end, true);
                if (u.kind == Tok::Comma || u.kind == Tok::Close || u.kind == Tok::End)
                    break;
                end = u.end;
            }
        } else {
            return unusable(offending);
        }
        // One marker per item at most: the value is written in its place.
        const size_t markers = countMarkers(s, t.start, end, &first);
        if (markers > 1)
            return unusable(offending);
        if (addSegment(t.start, end - t.start, markers == 1 ? first : 0, false) != 0)
            return 1;
        t.end = end;
    }
    // Nothing may follow the list: another row or clause would be lost.
    size_t after = skipBlank(s, n, t.end);
    while (after < n && s[after] == ';')
        after = skipBlank(s, n, after + 1);
    if (after != n || segmentCount < 2)
        return unusable(after);
    insertState = kBaseInsertUsable;
    return 0;
}

void BaseMultiRowInsert::write(const char* data, size_t n) noexcept
{
    std::memcpy(outputBuffer + writeOffset, data, n);
    writeOffset += n;
}

int16_t BaseMultiRowInsert::renderValue(uint16_t p, int16_t sqlType, const void* data, int64_t length, bool isNull,
                                        bool escapePrefix, bool convert) noexcept
{
    value.len = 0;
    if (isNull)
        return static_cast<int16_t>(value.append("null", 4) != 0);
    if (convert)
        return convertValue(p, data, length, &value);
    const char* v = static_cast<const char*>(data);
    const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    if (numericSqlType(sqlType)) {
        if (!baseIsNumberText(v, n)) {
            basePostError(kBaseIdxBadCharValue);
            return 1;
        }
        return static_cast<int16_t>(value.append(v, n) != 0);
    }
    // Standard quoting; with the escape prefix the backslash and NUL are
    // written as escapes. Without it a NUL has no literal form.
    bool special = false;
    size_t grown = n + 3;
    for (size_t i = 0; i < n; ++i) {
        if (v[i] == '\0' && !escapePrefix) {
            basePostError(kBaseIdxBadCharValue);
            return 1;
        }
        special |= v[i] == '\0' || v[i] == '\\';
        grown += v[i] == '\'' || v[i] == '\\' ? 1 : v[i] == '\0' ? 3 : 0;
    }
    if (ensure(value, grown) != 0)
        return 1;
    int16_t rc = 0;
    if (escapePrefix && special)
        rc |= value.appendChar('E');
    rc |= value.appendChar('\'');
    for (size_t i = 0; i < n && rc == 0; ++i) {
        const char c = v[i];
        if (c == '\'')
            rc |= value.append("''", 2);
        else if (c == '\\' && escapePrefix)
            rc |= value.append("\\\\", 2);
        else if (c == '\0')
            rc |= value.append("\\000", 4);
        else
            rc |= value.appendChar(c);
    }
    rc |= value.appendChar('\'');
    return rc != 0 ? 1 : 0;
}

int16_t BaseMultiRowInsert::composePiece(uint16_t p, uint16_t last) noexcept
{
    piece.len = 0;
    size_t more = value.len + 4;
    for (size_t i = 0; i < segmentCount; ++i)
        more += segments[i].length + 1;
    if (ensure(piece, more) != 0)
        return 1;
    int16_t rc = 0;
    size_t seg = nextSegment;
    if (p == 1) {
        if (rowMark > 0)
            rc |= piece.appendChar(',');
        rc |= piece.appendChar('(');
        seg = 1;
    } else {
        rc |= piece.appendChar(',');
    }
    // The literal items before this parameter's item.
    const char* t = templateText;
    while (seg < segmentCount && !segments[seg].lone && segments[seg].markerOffset == 0) {
        rc |= piece.append(t + segments[seg].start, segments[seg].length);
        rc |= piece.appendChar(',');
        ++seg;
    }
    if (seg >= segmentCount) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    const Segment& item = segments[seg];
    if (!item.lone)
        rc |= piece.append(t + item.start, item.markerOffset);
    rc |= piece.append(value.data, value.len);
    if (!item.lone)
        rc |= piece.append(t + item.start + item.markerOffset + 1, item.length - item.markerOffset - 1);
    ++seg;
    if (p == last) {
        for (; seg < segmentCount; ++seg) {
            rc |= piece.appendChar(',');
            rc |= piece.append(t + segments[seg].start, segments[seg].length);
        }
        rc |= piece.appendChar(')');
    }
    pieceEnd = static_cast<uint16_t>(seg);
    return rc != 0 ? 1 : 0;
}

int16_t BaseMultiRowInsert::startBatch() noexcept
{
    if (begin() != 0)
        return 1;
    writeOffset = 0;
    nextSegment = 1;
    rowMark = 0;
    owner->insertBatchStart = owner->currentParamRow;
    if (segments[0].length > outputCapacity)
        rowMark = -1;
    else
        write(templateText, segments[0].length);
    return 0;
}

int16_t BaseMultiRowInsert::runOversizedRow() noexcept
{
    // The row alone is larger than a batch: the driver runs it as an
    // ordinary single-row statement.
    const int64_t previous = batchRows();
    insertState = kBaseInsertIdle;
    setBatchRows(0);
    owner->insertBatchStart = owner->currentParamRow;
    const int16_t rc = owner->runInsertBatch(owner->currentParamRow + 1);
    insertState = kBaseInsertUsable;
    setBatchRows(previous + batchRows());
    nextSegment = 0;
    rowMark = 0;
    writeOffset = 0;
    return rc;
}

int16_t BaseMultiRowInsert::flushCompleteRows() noexcept
{
    // The current row's text so far goes to the next batch; the "," after
    // the last complete row stays behind.
    const size_t partialFrom = static_cast<size_t>(rowMark) + 1;
    carried.len = 0;
    if (writeOffset > partialFrom && carried.append(outputBuffer + partialFrom, writeOffset - partialFrom) != 0)
        return 1;
    writeOffset = static_cast<size_t>(rowMark);
    if (owner->runInsertBatch(owner->currentParamRow) != 0)
        return 1;
    // The current row goes on at the item it had reached.
    const uint16_t reached = nextSegment;
    if (startBatch() != 0)
        return 1;
    nextSegment = reached;
    owner->insertBatchStart = owner->currentParamRow;
    if (rowMark == 0 && carried.len != 0) {
        if (writeOffset + carried.len > outputCapacity)
            rowMark = -1;
        else
            write(carried.data, carried.len);
    }
    return 0;
}

int16_t BaseMultiRowInsert::appendValues(uint16_t p, int16_t sqlType, const void* data, int64_t length, bool isNull,
                                         bool escapePrefix, bool convert) noexcept
{
    const uint16_t last = owner->markerCount;
    if (rowMark == -1)
        return p == last ? runOversizedRow() : 0;
    if (renderValue(p, sqlType, data, length, isNull, escapePrefix, convert) != 0 ||
        (nextSegment == 0 && startBatch() != 0) || composePiece(p, last) != 0)
        return 1;
    if (rowMark > 0 && writeOffset + piece.len > outputCapacity) {
        // The complete rows go first; this row starts the next batch.
        if (flushCompleteRows() != 0 || composePiece(p, last) != 0)
            return 1;
    }
    if (rowMark == -1 || writeOffset + piece.len > outputCapacity) {
        // Not even an empty batch holds the row: it runs on its own.
        rowMark = -1;
        return p == last ? runOversizedRow() : 0;
    }
    write(piece.data, piece.len);
    nextSegment = pieceEnd;
    if (p != last)
        return 0;
    rowMark = static_cast<int64_t>(writeOffset);
    const BaseAXD* apd = owner->currentApd;
    const int64_t rows = apd != nullptr ? static_cast<int64_t>(apd->arraySize) : 1;
    if (owner->currentParamRow + 1 < rows && outputCapacity - writeOffset <= kBaseInsertLowWater) {
        // Too little room for another row: this batch goes now.
        const int16_t rc = owner->runInsertBatch(owner->currentParamRow + 1);
        nextSegment = 0;
        rowMark = 0;
        writeOffset = 0;
        return rc;
    }
    return 0;
}

void BaseMultiRowInsert::dropPartialRow() noexcept
{
    if (rowMark > 0) {
        writeOffset = static_cast<size_t>(rowMark);
        return;
    }
    nextSegment = 0;
    rowMark = 0;
    writeOffset = 0;
}

// ---- The statement's side ------------------------------------------------------

void BaseStatement::setParamStatusRange(bool fill, uint16_t value, int64_t endRow) noexcept
{
    uint16_t* statuses = ipd != nullptr ? ipd->arrayStatusPtr : nullptr;
    if (statuses == nullptr)
        return;
    const uint16_t* operations = currentApd != nullptr ? currentApd->arrayStatusPtr : nullptr;
    for (int64_t r = insertBatchStart; r < endRow; ++r)
        if (operations == nullptr || operations[r] != SQL_PARAM_IGNORE)
            statuses[r] = fill ? value : 0;
}

int16_t BaseStatement::runInsertBatch(int64_t endRow) noexcept
{
    const KaDiagMark mark;
    const int16_t rc = executeHook();
    if (rc != 0) {
        setParamStatusRange(true, SQL_PARAM_ERROR, endRow);
        insertBatchFailed = true;
        insertBatchStart = endRow;
        return 1;
    }
    const bool info = mark.posted() != 0;
    setParamStatusRange(true, info ? SQL_PARAM_SUCCESS_WITH_INFO : SQL_PARAM_SUCCESS, endRow);
    insertBatchStart = endRow;
    insertAnySucceeded = true;
    if (multiRowInsert != nullptr)
        multiRowInsert->batchSent(0);
    int64_t count = 0;
    if (getRowCount(&count) != 0)
        return 1;
    baseAddRowCount(&insertRowsCounted, count);
    return 0;
}

void BaseStatement::startInsertBatches() noexcept
{
    insertBatchStart = 0;
    insertRowsCounted = 0;
    insertBatchFailed = false;
    insertAnySucceeded = false;
}

int16_t BaseStatement::finishInsertBatches(int64_t failedRow, int64_t rows) noexcept
{
    uint16_t* statuses = ipd != nullptr ? ipd->arrayStatusPtr : nullptr;
    int16_t rc = 0;
    if (failedRow >= 0) {
        // A value of this row failed: the row is left out, the complete
        // rows before it are still sent. A row whose batch failed while it
        // was being handed over was never sent.
        if (statuses != nullptr && !insertBatchFailed)
            statuses[failedRow] = SQL_PARAM_ERROR;
        else if (statuses != nullptr && insertBatchStart <= failedRow)
            statuses[failedRow] = SQL_PARAM_UNUSED;
        multiRowInsert->dropPartialRow();
        rc = 1;
    }
    if (!insertBatchFailed && multiRowInsert->holdsRows()) {
        if (runInsertBatch(failedRow >= 0 ? failedRow : rows) != 0)
            rc = 1;
    }
    multiRowInsert->nextSegment = 0;
    multiRowInsert->rowMark = 0;
    multiRowInsert->writeOffset = 0;
    return rc;
}
