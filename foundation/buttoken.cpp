// The one-token-at-a-time tokenizer.
#include "foundation/buttoken.h"

#include <cstring>

#include "foundation/dbcs.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

enum class Kind { List, Quoted, Number, Fraction, Name, Escape, Operator, Param, OneChar };

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAlnum(char c)
{
    return isDigit(c) || isAlpha(c);
}
bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

const char* const kOperators[] = {"||", "<=", "<>", ">=", "!<", "!=", "!>", "*=", "**", "=*"};

// The token as it is collected: in the caller's buffer, then (when it
// outgrows it and growing is asked for) in a heap buffer as well.
class TokenText {
public:
    TokenText(char* out, size_t outSize, uint32_t flags, char** grown, size_t rest) noexcept
        : out_(out), limit_(outSize > 0 ? outSize - 1 : 0), flags_(flags), grown_(grown), rest_(rest)
    {}

    ~TokenText()
    {
        if (!kept_)
            ramFree(heap_);
    }

    // 1 (after the diagnostic) when the token must stop.
    int put(const char* ch, size_t n) noexcept
    {
        if (heap_ != nullptr) {
            memcpy(heap_ + heapLen_, ch, n);
            heapLen_ += n;
            return 0;
        }
        if (len_ + n <= limit_ && !cut_) {
            memcpy(out_ + len_, ch, n);
            len_ += n;
            return 0;
        }
        if ((flags_ & BUT_TOKEN_GROW) != 0 && grown_ != nullptr) {
            heap_ = static_cast<char*>(ramAlloc(len_ + rest_ + 1));
            if (heap_ == nullptr)
                return 1;
            memcpy(heap_, out_, len_);
            heapLen_ = len_;
            memcpy(heap_ + heapLen_, ch, n);
            heapLen_ += n;
            return 0;
        }
        if ((flags_ & BUT_TOKEN_CUT) != 0) {
            cut_ = true;
            return 0;
        }
        out_[len_] = 0;
        errPost(MSG_TOKEN_TOO_LONG)->addParamText(out_);
        return 1;
    }

    void finish(bool upper) noexcept
    {
        if (limit_ == 0 && out_ == nullptr)
            return;
        out_[len_] = 0;
        if (upper)
            KaDbcsStrUpper(out_);
        if (heap_ != nullptr) {
            heap_[heapLen_] = 0;
            if (upper)
                KaDbcsStrUpper(heap_);
            *grown_ = heap_;
            kept_ = true;
        }
    }

    const char* soFar() noexcept
    {
        if (heap_ != nullptr) {
            heap_[heapLen_] = 0;
            return heap_;
        }
        out_[len_] = 0;
        return out_;
    }

private:
    char* out_;
    size_t limit_;
    size_t len_ = 0;
    uint32_t flags_;
    char** grown_;
    size_t rest_;
    char* heap_ = nullptr;
    size_t heapLen_ = 0;
    bool cut_ = false;
    bool kept_ = false;
};

}  // namespace

int butToken(char* out, const char** cursor, uint32_t flags, size_t outSize, int32_t encoding, char** grown) noexcept
{
    if (grown != nullptr)
        *grown = nullptr;
    if (out == nullptr || outSize == 0 || cursor == nullptr || *cursor == nullptr)
        return 1;
    uint32_t mode = flags & BUT_TOKEN_MODE_MASK;
    const char* p = *cursor;
    while (*p != 0 && isSpace(*p))
        p = KaDbcsNextChar(p, encoding);
    TokenText token(out, outSize, flags, grown, strlen(p));

    auto take = [&](const char*& q) -> int {
        const char* next = KaDbcsNextChar(q, encoding);
        int r = token.put(q, size_t(next - q));
        q = next;
        return r;
    };

    char c = *p;
    if (c == 0) {
        out[0] = 0;
        *cursor = p;
        return 0;
    }
    bool twoByte = KaDbcsCharLen(p, encoding) > 1;
    bool hashNames = mode == BUT_MODE_HASH || mode == BUT_MODE_HASH_ALT;
    Kind kind;
    size_t opLength = 0;
    if (mode == BUT_MODE_LIST && strchr(",()|", c) == nullptr)
        kind = Kind::List;
    else if (c == '`' || c == '\'' || c == '"')
        kind = Kind::Quoted;
    else if (isDigit(c))
        kind = mode == BUT_MODE_QUALIFIED ? Kind::Name : Kind::Number;
    else if (c == '.' && isDigit(p[1]))
        kind = Kind::Fraction;
    else if (isAlpha(c) || c == '_' || (c == '#' && hashNames) || (c == '.' && mode == BUT_MODE_DOTTED))
        kind = Kind::Name;
    else if (c == '{')
        kind = Kind::Escape;
    else if (c == ':' && mode == BUT_MODE_QUALIFIED)
        kind = Kind::Name;
    else if (strncmp(p, "(+)", 3) == 0)
        kind = Kind::Operator, opLength = 3;
    else if (c == '?')
        kind = Kind::Param;
    else if (twoByte)
        kind = Kind::Name;
    else {
        kind = Kind::OneChar;
        for (const char* op : kOperators)
            if (p[0] == op[0] && p[1] == op[1]) {
                kind = Kind::Operator;
                opLength = 2;
            }
    }

    int failed = 0;
    const char* q = p;
    switch (kind) {
    case Kind::List: {
        bool quoting = false;
        while (*q != 0 && !failed) {
            if (!quoting && (isSpace(*q) || strchr(",()|", *q) != nullptr))
                break;
            if (*q == '`')
                quoting = !quoting;
            failed = take(q);
        }
        break;
    }
    case Kind::Quoted: {
        char quote = c;
        failed = take(q);
        bool closed = false;
        while (*q != 0 && !failed) {
            if (*q == quote) {
                if (q[1] == quote) {  // a doubled quote stands for one
                    failed = token.put(q, 1);
                    q += 2;
                    continue;
                }
                failed = take(q);
                closed = true;
                break;
            }
            failed = take(q);
        }
        if (!failed && !closed) {
            errPost(MSG_TOKEN_UNTERMINATED)->addParamText(token.soFar());
            failed = 1;
        }
        break;
    }
    case Kind::Number:
    case Kind::Fraction: {
        bool dotSeen = false;
        if (kind == Kind::Fraction) {
            failed = take(q);
            dotSeen = true;
        }
        while (*q != 0 && !failed) {
            if (isDigit(*q)) {
                failed = take(q);
            } else if (*q == '.' && !dotSeen) {
                if (mode == BUT_MODE_DOTTED && isAlpha(q[1]))
                    break;  // the dot belongs to a dotted name that follows
                dotSeen = true;
                failed = take(q);
            } else {
                break;
            }
        }
        break;
    }
    case Kind::Name:
        while (*q != 0 && !failed) {
            char ch = *q;
            bool more = isAlnum(ch) || ch == '_' || KaDbcsCharLen(q, encoding) > 1;
            if (hashNames && (ch == '#' || ch == '$'))
                more = true;
            if (hashNames && ch == '\\' && q[1] != 0 && strchr("-+*/", q[1]) != nullptr) {
                failed = take(q);
                if (!failed)
                    failed = take(q);
                continue;
            }
            if (mode == BUT_MODE_DOTTED && ch == '.')
                more = !(q > p && q[-1] == '.');
            if (mode == BUT_MODE_QUALIFIED && (ch == '.' || ch == ':'))
                more = true;
            if (!more)
                break;
            failed = take(q);
        }
        break;
    case Kind::Escape: {
        bool closed = false;
        while (*q != 0 && !failed) {
            bool end = *q == '}';
            failed = take(q);
            if (end) {
                closed = true;
                break;
            }
        }
        if (!failed && !closed) {
            errPost(MSG_TOKEN_UNTERMINATED)->addParamText(token.soFar());
            failed = 1;
        }
        break;
    }
    case Kind::Operator:
        for (size_t i = 0; i < opLength && !failed; ++i)
            failed = take(q);
        break;
    case Kind::Param:
        failed = take(q);
        if (!failed && isAlpha(*q)) {
            while (*q != 0 && !failed && (isAlnum(*q) || *q == '_'))
                failed = take(q);
        }
        break;
    case Kind::OneChar: failed = take(q); break;
    }
    if (failed)
        return 1;
    bool upper =
        (flags & BUT_TOKEN_KEEP_CASE) == 0 && (kind == Kind::Name || kind == Kind::List || kind == Kind::OneChar);
    token.finish(upper);
    *cursor = q;
    return 0;
}
