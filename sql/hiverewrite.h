// The HiveQL rewriter (HiveSqlRewriter) with its own tokenizer: adapts SQL
// written for other databases (INSERT ... VALUES, comma joins, unaliased
// tables, unquoted select-list aliases, bracketed names, three-part column
// names) to what HiveServer2 accepts. The Hive connection runs it over every
// statement before escape translation while EnableSqlParser is on.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kastringw.h"

enum RewriterToken : uint32_t {
    KA_RW_END = 0,
    KA_RW_COMMA = 1,
    KA_RW_OPEN = 2,
    KA_RW_CLOSE = 3,
    KA_RW_PERIOD = 4,
    KA_RW_ARITHMETIC = 5,
    KA_RW_LOGICAL = 6,
    KA_RW_COMPARISON = 7,
    KA_RW_NEGATION = 8,
    KA_RW_ASTERISK = 9,
    KA_RW_MARKER = 10,
    KA_RW_ON = 11,
    KA_RW_AS = 12,
    KA_RW_AND = 16,
    KA_RW_END_WORD = 20,
    KA_RW_SET = 21,
    KA_RW_FROM = 22,
    KA_RW_JOIN = 24,
    KA_RW_CAST = 30,
    KA_RW_UNION = 35,
    KA_RW_TABLE = 39,
    KA_RW_SELECT = 40,
    KA_RW_INSERT = 41,
    KA_RW_UPDATE = 42,
    KA_RW_DELETE = 43,
    KA_RW_CASE = 48,
    KA_RW_INTO = 51,
    KA_RW_VALUES = 52,
    KA_RW_JOIN_HINT = 53,
    KA_RW_IDENTIFIER = 54,
    KA_RW_STRING = 55,
    KA_RW_QUOTED = 56,
    KA_RW_BRACED = 57,
    KA_RW_NUMBER = 58,
    KA_RW_BRACKETED = 59,
    KA_RW_OTHER = 60,
};

// Results of rewrite.
constexpr int kHiveRewriteDone = 0;
// Not rewritten; the caller keeps its text as it was.
constexpr int kHiveRewriteUnchanged = 1;
// The statement is incomplete where the rewrite needs it whole (INSERT ...
// VALUES without the end of its list): refused with 42000, posted.
constexpr int kHiveRewriteRefused = 2;

class HiveSqlRewriter {
public:
    uint32_t removeColumnQualifiers = 0;
    uint32_t quoteAliases = 1;
    uint32_t parseDelimitedIds = 1;
    uint32_t error = 0;
    uint32_t afterJoin = 0;
    uint32_t token = KA_RW_OTHER;

    HiveSqlRewriter(uint32_t removeColumnQualifiers, uint32_t quoteAliases, uint32_t parseDelimitedIds) noexcept;
    ~HiveSqlRewriter();

    // Rewrites [begin, end) into `out` (replaced). Output positions are kept
    // as indices, so they stay valid when `out` grows.
    [[nodiscard]] int rewrite(const uint16_t* begin, const uint16_t* end, KaStringW& out) noexcept;

    void scanToken() noexcept;
    int accept(uint32_t code) noexcept;

private:
    int qualifiedName() noexcept;
    int tableName() noexcept;
    int tableReference() noexcept;
    int tableSource() noexcept;
    int fromClause() noexcept;
    int joinClause() noexcept;
    int subquery() noexcept;
    int rewriteInsertValues() noexcept;
    void replaceCommaWithJoin() noexcept;
    void removeQualifier(size_t start, size_t end) noexcept;
    void duplicateTableAlias() noexcept;
    void quoteAlias(size_t start, size_t end) noexcept;
    // An alias after the table name: AS and a name, or a name.
    int acceptAlias() noexcept;
    void emit(const uint16_t* text, size_t n) noexcept;
    void emitAscii(const char* text) noexcept;
    void insertAt(size_t at, const uint16_t* text, size_t n) noexcept;
    void eraseAt(size_t at, size_t n) noexcept;
    void moveMarks(size_t at, int64_t by) noexcept;

    const uint16_t* input = nullptr;
    size_t position = 0;
    size_t inputEnd = 0;
    KaStringW* output = nullptr;
    size_t tableMarkStart = 0;
    size_t tableMarkEnd = 0;
    size_t tokenStart = 0;
    size_t tokenEnd = 0;
    uint32_t selectSeen = 0;
    // The current select-list item's alias candidate (output range).
    size_t candidateStart = 0;
    size_t candidateEnd = 0;
    // Where the table name of INSERT ... VALUES starts in the output.
    size_t insertNameStart = 0;
    bool previousWasAs = false;
    uint32_t incomplete = 0;
};

class BaseSqlStringW;

// The Hive connection's options for the rewriter.
struct HiveRewriteOptions {
    uint32_t enableSqlParser = 1;
    uint32_t removeColumnQualifiers = 0;
    uint32_t quoteAliases = 1;
    uint32_t parseDelimitedIds = 1;
};

// The Hive connection's text preparation before escape translation: trailing
// white space and semicolons go, then the rewriter runs when enabled. 0 with
// the text rewritten or left as it was; 1 when the statement is refused
// (diagnostic posted) or memory ran out.
[[nodiscard]] int hivePreprocessSql(BaseSqlStringW& text, const HiveRewriteOptions& options) noexcept;
