// Outer-join escapes for servers without ANSI outer joins: each LEFT, RIGHT
// or FULL OUTER JOIN of an escape body becomes a comma join (or the OUTER
// notation) and its ON condition moves into the statement's WHERE clause,
// marked for the optional side.
#include "foundation/kaerror.h"
#include "kamessages.h"
#include "sql/escape.h"
#include "sql/escapewriter.h"
#include "sql/kascanne.h"
#include "sql/sqlpost.h"

namespace {

int fail(uint16_t msg) noexcept
{
    sqlPostSyntaxError(msg);
    return 1;
}

const uint16_t* u(const char16_t* text) noexcept
{
    return reinterpret_cast<const uint16_t*>(text);
}

int emitAscii(KaEscapeWriter& writer, const char16_t* text) noexcept
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return writer.emit(u(text), n);
}

int appendAscii(KaStringW& out, const char16_t* text) noexcept
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return out.append(u(text), n);
}

// The join kind of the words the token starts (grown over them), or 0.
int32_t outerJoinAt(KaScannerW& scanner, KaTokenW& token) noexcept
{
    if (token.kind != KA_TOKEN_WORD)
        return 0;
    if (scanner.matchText(token, u(u"LEFT OUTER JOIN")))
        return kOuterJoinLeft;
    if (scanner.matchText(token, u(u"RIGHT OUTER JOIN")))
        return kOuterJoinRight;
    if (scanner.matchText(token, u(u"FULL OUTER JOIN")))
        return kOuterJoinFull;
    return 0;
}

// Words that start the next join of a body, and so end a join's condition.
const char16_t kJoinStarts[] = u"LEFT OUTER JOIN\0LEFT JOIN\0RIGHT OUTER JOIN\0RIGHT JOIN\0FULL OUTER JOIN\0"
                               u"FULL JOIN\0INNER JOIN\0CROSS JOIN\0NATURAL\0JOIN\0";

// Words that end a WHERE clause besides the connection's own.
const char16_t kWhereEnds[] = u"GROUP BY\0HAVING\0ORDER BY\0UNION\0INTERSECT\0EXCEPT\0MINUS\0LIMIT\0";

bool isWord(const KaTokenW& token, const char16_t* word) noexcept
{
    size_t n = 0;
    while (word[n] != 0)
        ++n;
    if (token.kind != KA_TOKEN_WORD || token.len != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        uint16_t c = token.data[i];
        if (c >= 'a' && c <= 'z')
            c = uint16_t(c - 'a' + 'A');
        if (c != word[i])
            return false;
    }
    return true;
}

bool isComparison(uint32_t kind) noexcept
{
    return kind == '=' || kind == '>' || kind == '<' || kind == kaOperatorPair('>', '=') ||
           kind == kaOperatorPair('<', '=') || kind == kaOperatorPair('!', '=') || kind == kaOperatorPair('<', '>');
}

// A mark "(+)" follows only a name: never a parameter marker, a quoted text
// or group, a number or an operator, none of which can belong to the
// optional table.
bool markable(uint32_t kind) noexcept
{
    return kind == KA_TOKEN_WORD;
}

// The condition rewritten for the notation into out, token by token, with
// the text between tokens kept as it was.
int rewriteCondition(const KaStringW& cond, KaStringW& out, int32_t mode, int32_t joinKind) noexcept
{
    out.len = 0;
    if (mode == KA_OJ_OUTER_KEYWORD)
        return cond.len != 0 ? out.append(cond.data, cond.len) : 0;
    KaScannerW scanner(cond.data, cond.len);
    if (mode == KA_OJ_MARK_ALL || mode == KA_OJ_MARK_FIRST) {
        scanner.quoteChar1 = '\'';
        scanner.quoteChar2 = '`';
        scanner.quoteChar3 = '`';
    }
    // Close parentheses are not copied when read but with the text before
    // the next token, so that a mark goes inside them.
    uint64_t copied = 0;    // units of cond copied to out
    uint32_t previous = 0;  // kind of the last token that was not a close parenthesis
    bool marked = false;
    KaTokenW t;
    for (;;) {
        scanner.nextToken(t, KA_SCAN_PLAIN);
        const bool end = t.kind == KA_TOKEN_END;
        if (!end && t.kind == ')')
            continue;
        bool mark = false;
        if (mode == KA_OJ_MARK_ALL || (mode == KA_OJ_MARK_FIRST && !marked)) {
            if (joinKind == kOuterJoinLeft)
                mark = end || isWord(t, u"AND") || isWord(t, u"OR");
            else
                mark = !end && isComparison(t.kind);
            mark = mark && markable(previous);
        }
        if (mark) {
            if (appendAscii(out, u"(+)") != 0)
                return 1;
            marked = true;
        }
        const uint64_t tokenAt = end ? cond.len : uint64_t(t.start);
        if (tokenAt > copied && out.append(cond.data + copied, size_t(tokenAt - copied)) != 0)
            return 1;
        if (end)
            return 0;
        if (mode == KA_OJ_STAR_EQUALS && t.kind == '=') {
            if (appendAscii(out, joinKind == kOuterJoinRight ? u"=*" : u"*=") != 0)
                return 1;
        } else if (out.append(t.data, t.len) != 0) {
            return 1;
        }
        copied = uint64_t(t.start) + t.len;
        previous = t.kind;
    }
}

}  // namespace

int KaEscapeHost::translateOuterJoinEscape(KaEscapeWriter& writer, uint64_t bodyLength, int32_t mode) noexcept
{
    const size_t start = writer.writeIndex();
    uint64_t length = bodyLength;
    bool rewritten = false;
    KaStringW left;
    for (;;) {
        KaScannerW scanner(writer.unread(), length);
        scanner.parenGroups = mode == KA_OJ_OUTER_KEYWORD ? 0 : 1;
        KaTokenW t;
        int32_t kind = 0;
        for (;;) {
            scanner.nextToken(t, KA_SCAN_PLAIN);
            if (t.kind == KA_TOKEN_END)
                break;
            kind = outerJoinAt(scanner, t);
            if (kind != 0)
                break;
        }
        if (kind == 0) {
            if (!rewritten)
                return fail(MSG_OUTER_JOIN_ESCAPE_WITHOUT_JOIN);
            return 0;
        }
        if (kind == kOuterJoinFull && !fullOuterJoinAllowed)
            return fail(MSG_ESCAPE_NO_SERVER_FORM);
        left.len = 0;
        if (mode == KA_OJ_OUTER_KEYWORD && kind == kOuterJoinRight && t.start > 0 &&
            left.append(writer.unread(), size_t(t.start)) != 0)
            return 1;
        uint64_t rest = length;
        if (translateOuterJoin(scanner, t, writer, &rest, mode, kind, left.data, left.len) != 0)
            return 1;
        rewritten = true;
        if (firstOuterJoinOnly)
            return 0;
        // The rewritten part of the body is read again, so that the next
        // join is found in it.
        length = uint64_t(writer.writeIndex() - start) + rest;
        writer.unreadSince(start);
    }
}

int KaEscapeHost::translateOuterJoin(KaScannerW&, KaTokenW& token, KaEscapeWriter& writer, uint64_t* bodyLength,
                                     int32_t mode, int32_t joinKind, const uint16_t* leftText,
                                     uint64_t leftLength) noexcept
{
    const bool outerKeyword = mode == KA_OJ_OUTER_KEYWORD;
    // The left table (moved behind the right one for RIGHT in the OUTER
    // notation, passed otherwise), then the join words go.
    const uint64_t before = uint64_t(token.start);
    const uint64_t words = token.len;
    if (outerKeyword && joinKind == kOuterJoinRight)
        writer.skip(size_t(before));
    else
        writer.pass(size_t(before));
    writer.skip(size_t(words));
    *bodyLength -= before + words;
    if (!outerKeyword) {
        if (emitAscii(writer, u",") != 0)
            return 1;
    } else if (joinKind == kOuterJoinLeft) {
        if (emitAscii(writer, u", OUTER (") != 0)
            return 1;
    }

    // The ON of this join: ONs of joins nested before it are counted off.
    KaTokenW t;
    {
        KaScannerW scanner(writer.unread(), *bodyLength);
        scanner.parenGroups = outerKeyword ? 0 : 1;
        scanner.braceGroups = 1;
        uint32_t nested = 0;
        for (;;) {
            scanner.nextToken(t, KA_SCAN_PLAIN);
            if (t.kind == KA_TOKEN_END)
                return fail(MSG_OUTER_JOIN_WITHOUT_ON);
            if (outerJoinAt(scanner, t) != 0) {
                ++nested;
                continue;
            }
            if (isWord(t, u"ON")) {
                if (nested == 0)
                    break;
                --nested;
            }
        }
    }
    const uint64_t on = uint64_t(t.start);
    writer.pass(size_t(on));
    writer.skip(2);
    *bodyLength -= on + 2;
    if (outerKeyword) {
        if (joinKind == kOuterJoinRight &&
            (emitAscii(writer, u", OUTER (") != 0 || (leftLength != 0 && writer.emit(leftText, leftLength) != 0)))
            return 1;
        if (emitAscii(writer, u")") != 0)
            return 1;
    }

    // The condition runs to the next join of the body (or its end): a join
    // that follows keeps its own place and its own ON.
    uint64_t conditionLength = *bodyLength;
    {
        KaScannerW scanner(writer.unread(), *bodyLength);
        scanner.parenGroups = 1;
        scanner.braceGroups = 1;
        for (;;) {
            scanner.nextToken(t, KA_SCAN_PLAIN);
            if (t.kind == KA_TOKEN_END)
                break;
            KaTokenW probe = t;
            if (t.kind == KA_TOKEN_WORD && scanner.matchAny(probe, u(kJoinStarts))) {
                conditionLength = uint64_t(t.start);
                break;
            }
        }
    }
    // An ON with nothing after it would leave an empty WHERE behind.
    bool blank = true;
    for (uint64_t i = 0; i < conditionLength && blank; ++i)
        blank = writer.unread()[i] == ' ' || writer.unread()[i] == '\t' || writer.unread()[i] == '\r' ||
                writer.unread()[i] == '\n';
    if (blank)
        return fail(MSG_OUTER_JOIN_WITHOUT_ON);
    KaStringW condition;
    if (condition.append(writer.unread(), size_t(conditionLength)) != 0)
        return 1;
    writer.skip(size_t(conditionLength));
    *bodyLength -= conditionLength;
    const size_t mark = writer.writeIndex();
    KaStringW marked;
    if (rewriteCondition(condition, marked, mode, joinKind) != 0)
        return 1;

    // Where the condition goes: the end of this query's WHERE clause, or a
    // new WHERE before whatever ends the clause.
    uint64_t stop = writer.unreadLength();
    uint64_t whereEnd = 0;
    bool hasWhere = false;
    {
        KaScannerW scanner(writer.unread(), writer.unreadLength());
        scanner.parenGroups = 1;
        scanner.braceGroups = 1;
        for (;;) {
            scanner.nextToken(t, KA_SCAN_PLAIN);
            if (t.kind == KA_TOKEN_END)
                break;
            if (t.kind == ')' || t.kind == ';') {
                const uint16_t* s = writer.unread();
                const uint64_t at = uint64_t(t.start);
                // The closing "*)--" of a long-form escape is not the end of
                // a parenthesised query.
                const bool longClosing = t.kind == ')' && at > 0 && s[at - 1] == '*' &&
                                         at + 2 < writer.unreadLength() && s[at + 1] == '-' && s[at + 2] == '-';
                if (!longClosing) {
                    stop = at;
                    break;
                }
                continue;
            }
            if (t.kind != KA_TOKEN_WORD)
                continue;
            if (isWord(t, u"WHERE")) {
                hasWhere = true;
                whereEnd = uint64_t(t.start) + t.len;
                continue;
            }
            KaTokenW probe = t;
            if (scanner.matchAny(probe, u(kWhereEnds)) ||
                (whereEndWords != nullptr && scanner.matchAny(probe, whereEndWords))) {
                stop = uint64_t(t.start);
                break;
            }
        }
    }
    if (!hasWhere) {
        writer.pass(size_t(stop));
        if (emitAscii(writer, u" WHERE") != 0 || (marked.len != 0 && writer.emit(marked.data, marked.len) != 0) ||
            emitAscii(writer, u" ") != 0)
            return 1;
    } else {
        // Both conditions in parentheses: an OR in either would otherwise
        // bind across the AND that joins them.
        writer.pass(size_t(whereEnd));
        if (emitAscii(writer, u" (") != 0 || (marked.len != 0 && writer.emit(marked.data, marked.len) != 0) ||
            emitAscii(writer, u") AND (") != 0)
            return 1;
        writer.pass(size_t(stop - whereEnd));
        if (emitAscii(writer, u")") != 0)
            return 1;
    }
    // The placed text is read again: escapes in it are still to translate.
    writer.unreadSince(mark);
    return 0;
}
