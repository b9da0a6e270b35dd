// ODBC escape translation: finds the escape clauses of an SQL text (braces and
// the long "--(*vendor(...),product(...) ... *)--" form), checks and
// classifies them and lets the connection's escape hook write the server's
// form in their place. The statement framework's prepare and SQLNativeSql run
// every statement through it; the hook (KaEscapeHost) belongs to the layer
// that knows the server, above this folder.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kastringw.h"

class BaseSqlStringW;
class KaEscapeWriter;
class KaScannerW;
class KaTokenW;

enum EscapeKind : int32_t {
    KA_ESC_TIME = 0,
    KA_ESC_DATE = 1,
    KA_ESC_TIMESTAMP = 2,
    KA_ESC_TIMESTAMP_ZONE = 3,
    KA_ESC_FUNCTION = 4,
    KA_ESC_OUTER_JOIN = 5,
    KA_ESC_LIKE_ESCAPE = 6,
    KA_ESC_CALL = 7,
    KA_ESC_CALL_RETURN = 8,
    KA_ESC_INTERVAL_FIRST = 9,  // 8 + SQL_CODE_YEAR
    KA_ESC_INTERVAL_LAST = 21,  // 8 + SQL_CODE_MINUTE_TO_SECOND
    KA_ESC_QUOTED = 22,
    KA_ESC_VERBATIM = 23,
    KA_ESC_NATIVE = 25,
    KA_ESC_REFRESH = 26,
};

// The number of a scalar function in a function escape; 0 for a name the
// table does not hold.
enum EscapeFunctionCode : uint32_t {
    KA_FN_UNKNOWN = 0,
    KA_FN_ASCII = 1,
    KA_FN_CHAR = 2,
    KA_FN_CONCAT = 3,
    KA_FN_DIFFERENCE = 4,
    KA_FN_INSERT = 5,
    KA_FN_LCASE = 6,
    KA_FN_LEFT = 7,
    KA_FN_LTRIM = 8,
    KA_FN_LENGTH = 9,
    KA_FN_LOCATE = 10,
    KA_FN_REPEAT = 11,
    KA_FN_REPLACE = 12,
    KA_FN_RIGHT = 13,
    KA_FN_RTRIM = 14,
    KA_FN_SOUNDEX = 15,
    KA_FN_SPACE = 16,
    KA_FN_SUBSTRING = 17,
    KA_FN_UCASE = 18,
    KA_FN_ABS = 19,
    KA_FN_ACOS = 20,
    KA_FN_ASIN = 21,
    KA_FN_ATAN = 22,
    KA_FN_ATAN2 = 23,
    KA_FN_CEILING = 24,
    KA_FN_COS = 25,
    KA_FN_COT = 26,
    KA_FN_DEGREES = 27,
    KA_FN_EXP = 28,
    KA_FN_FLOOR = 29,
    KA_FN_LOG = 30,
    KA_FN_LOG10 = 31,
    KA_FN_MOD = 32,
    KA_FN_PI = 33,
    KA_FN_POWER = 34,
    KA_FN_RADIANS = 35,
    KA_FN_RAND = 36,
    KA_FN_ROUND = 37,
    KA_FN_SIGN = 38,
    KA_FN_SIN = 39,
    KA_FN_SQRT = 40,
    KA_FN_TAN = 41,
    KA_FN_TRUNCATE = 42,
    KA_FN_CURDATE = 43,
    KA_FN_CURTIME = 44,
    KA_FN_DAYNAME = 45,
    KA_FN_DAYOFMONTH = 46,
    KA_FN_DAYOFWEEK = 47,
    KA_FN_DAYOFYEAR = 48,
    KA_FN_HOUR = 49,
    KA_FN_MINUTE = 50,
    KA_FN_MONTH = 51,
    KA_FN_MONTHNAME = 52,
    KA_FN_NOW = 53,
    KA_FN_QUARTER = 54,
    KA_FN_SECOND = 55,
    KA_FN_TIMESTAMPADD = 56,
    KA_FN_TIMESTAMPDIFF = 57,
    KA_FN_WEEK = 58,
    KA_FN_YEAR = 59,
    KA_FN_EXTRACT = 60,
    KA_FN_USER = 61,
    KA_FN_DATABASE = 62,
    KA_FN_IFNULL = 63,
    KA_FN_CONVERT = 64,
    KA_FN_SECONDS_SINCE_MIDNIGHT = 65,
    KA_FN_JULIAN_DAY = 66,
    KA_FN_LOCATE_2 = 67,
    KA_FN_BIT_LENGTH = 68,
    KA_FN_CHAR_LENGTH = 69,
    KA_FN_CHARACTER_LENGTH = 70,
    KA_FN_OCTET_LENGTH = 71,
    KA_FN_POSITION = 72,
    KA_FN_CURRENT_DATE = 73,
    KA_FN_CURRENT_TIME = 74,
    KA_FN_CURRENT_TIMESTAMP = 75,
    KA_FN_CAST_TO_NATIVE = 76,
};

struct EscapeFunctionRow {
    int32_t code;
    const char* name;  // upper case
    int32_t nameLength;
};

// Ascending by name, unit by unit.
constexpr size_t kEscapeFunctionCount = 76;
extern const EscapeFunctionRow EscapeFunctionTable[kEscapeFunctionCount];

// The code of a function name (any case); 0 when the table has none.
uint32_t escapeFunctionCode(const uint16_t* name, size_t length) noexcept;

// Escapes may nest (a function escape in an argument of another); deeper
// nesting than this is refused with a syntax error instead of being searched.
constexpr size_t kEscapeMaxNesting = 64;

// The text that follows an escape's keyword, up to the body end (for a
// quoted literal: without its quotes), as the hook receives it.
struct KaEscapeBody {
    const uint16_t* text;
    size_t length;
};

// How an outer-join escape is written for a server without ANSI outer joins:
// the join words become a comma (or OUTER) and the ON condition moves into
// the statement's WHERE clause.
enum OuterJoinSyntax : int32_t {
    // The escape's body stays as written (the server reads ANSI joins).
    KA_OJ_AS_WRITTEN = -1,
    // "(+)" after every operand of the optional table's side.
    KA_OJ_MARK_ALL = 0,
    // *= (LEFT, FULL) or =* (RIGHT) for every single equals sign.
    KA_OJ_STAR_EQUALS = 1,
    // ", OUTER (" table ")" for the optional table; the condition unmarked.
    KA_OJ_OUTER_KEYWORD = 2,
    // As KA_OJ_MARK_ALL, but only the first comparison is marked.
    KA_OJ_MARK_FIRST = 3,
};

// Join kinds of translateOuterJoin.
constexpr int32_t kOuterJoinLeft = 1;
constexpr int32_t kOuterJoinRight = 2;
constexpr int32_t kOuterJoinFull = 3;

// The connection side of the translation: which quote characters protect
// text, and the hook that writes the server's form of one escape.
class KaEscapeHost {
public:
    virtual ~KaEscapeHost();

    // Literal quote characters besides the apostrophe, double quote and
    // back-quote, which always protect their text; 0 for none.
    uint16_t literalQuotes[3] = {'\'', 0, 0};
    // Inside quotes a backslash escapes the next unit (HiveQL's rule).
    bool backslashInQuotes = true;
    // Longest timestamp literal without a zone offset.
    uint64_t maxTimestampLength = 29;

    // NATIVE and REFRESH are handled here; everything else goes to
    // translateEscape. A host may hand the whole clause on elsewhere.
    [[nodiscard]] virtual int dispatchEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind,
                                             uint32_t code) noexcept;
    // Writes the translation of one escape into `out`; 1 with a diagnostic
    // posted when the escape has no server form. This form refuses all.
    [[nodiscard]] virtual int translateEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind,
                                              uint32_t code) noexcept;

    // Outer-join escapes: how they are written, whether FULL OUTER JOIN may
    // be, whether only the first join of a body is rewritten, and words
    // besides the built-in ones (GROUP BY, HAVING, ORDER BY, UNION, ...)
    // that end a WHERE clause, as a list of terminated texts ended by an
    // empty one (null: none).
    int32_t outerJoinSyntax = KA_OJ_AS_WRITTEN;
    bool fullOuterJoinAllowed = false;
    bool firstOuterJoinOnly = false;
    const uint16_t* whereEndWords = nullptr;

    // Rewrites every LEFT, RIGHT or FULL OUTER JOIN of the escape body that
    // starts at the writer's read position (bodyLength units, the text after
    // it following directly) in the given notation; 1 with a diagnostic.
    [[nodiscard]] int translateOuterJoinEscape(KaEscapeWriter& writer, uint64_t bodyLength, int32_t mode) noexcept;
    // Rewrites the one join whose words the token holds (the scanner runs
    // over the writer's unread text); the body length left after the join's
    // condition comes back in *bodyLength. leftText is the left table of a
    // RIGHT join in the OUTER notation.
    [[nodiscard]] virtual int translateOuterJoin(KaScannerW& scanner, KaTokenW& token, KaEscapeWriter& writer,
                                                 uint64_t* bodyLength, int32_t mode, int32_t joinKind,
                                                 const uint16_t* leftText, uint64_t leftLength) noexcept;
};

// Kinds of findNextEscape: looking for an opening (none found), or the long
// and the brace form of the one found.
constexpr int16_t kEscapeNone = 0;
constexpr int16_t kEscapeLong = 1;
constexpr int16_t kEscapeBrace = 2;

// With kind kEscapeNone: the next opening at or after *position (kind
// becomes kEscapeLong or kEscapeBrace, position at it) or none (kind 0).
// With kind 1 or 2: the closing that matches the escape whose body starts at
// *position, nested escapes skipped; kind 0 when the text ends first, -1 when
// nesting exceeds kEscapeMaxNesting. Quotes and comments protect their text.
// markerCount counts question marks outside them (null: not counted).
void findNextEscape(const KaEscapeHost& host, const uint16_t* text, size_t length, uint32_t* markerCount,
                    uint64_t* position, int16_t* kind, int32_t* multipleStatements) noexcept;

// callKind values.
constexpr int32_t kEscapeCallNone = 0;
constexpr int32_t kEscapeCallPlain = 1;
constexpr int32_t kEscapeCallReturn = 3;

// Translates every escape of the text in place; 0, or 1 with a diagnostic.
[[nodiscard]] int translateEscapes(KaEscapeHost& host, BaseSqlStringW& text, int32_t forNativeSql,
                                   uint32_t* markerCount, int32_t* returnParameter, int32_t* callKind) noexcept;
