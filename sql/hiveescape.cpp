#include "sql/hiveescape.h"

#include <unicode/uchar.h>

#include "foundation/kaerror.h"
#include "kamessages.h"
#include "sql/basesql.h"
#include "sql/kascanne.h"
#include "sql/sqlpost.h"

namespace {

int fail(uint16_t msg) noexcept
{
    sqlPostSyntaxError(msg);
    return 1;
}

int appendAscii(KaStringW& out, const char* text) noexcept
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return out.appendNarrow(text, n);
}

KaEscapeBody trimmed(KaEscapeBody v) noexcept
{
    while (v.length > 0 && u_isUWhiteSpace(v.text[0]) != 0) {
        ++v.text;
        --v.length;
    }
    while (v.length > 0 && u_isUWhiteSpace(v.text[v.length - 1]) != 0)
        --v.length;
    return v;
}

// Writes the pattern with "#n" replaced by argument n in parentheses, so
// that an argument written as an expression keeps its meaning wherever the
// pattern puts it.
int format(KaStringW& out, const char* pattern, const KaEscapeArguments& args) noexcept
{
    for (const char* p = pattern; *p != 0; ++p) {
        if (*p == '#' && p[1] >= '1' && p[1] <= '8') {
            const KaEscapeBody& a = args.item[size_t(p[1] - '1')];
            if (out.appendChar('(') != 0 || out.append(a.text, a.length) != 0 || out.appendChar(')') != 0)
                return 1;
            ++p;
        } else if (out.appendChar(uint16_t(uint8_t(*p))) != 0) {
            return 1;
        }
    }
    return 0;
}

// The arguments, exactly `count` of them.
int takeArguments(const KaEscapeBody& body, KaEscapeArguments& args, size_t count) noexcept
{
    if (hiveSplitArguments(body, args) != 0)
        return 1;
    if (args.count < count)
        return fail(MSG_ESCAPE_TOO_FEW_ARGUMENTS);
    if (args.count > count)
        return fail(MSG_ESCAPE_TEXT_AFTER_ARGUMENTS);
    for (size_t i = 0; i < count; ++i)
        if (args.item[i].length == 0)
            return fail(MSG_ESCAPE_TOO_FEW_ARGUMENTS);
    return 0;
}

struct NamedFunction {
    uint32_t code;
    const char* hive;
};

const NamedFunction kRenamed[] = {
    {KA_FN_ASCII, "ascii"},     {KA_FN_CONCAT, "concat"},   {KA_FN_LCASE, "lcase"},     {KA_FN_LTRIM, "ltrim"},
    {KA_FN_LOCATE, "locate"},   {KA_FN_LOCATE_2, "locate"}, {KA_FN_REPEAT, "repeat"},   {KA_FN_RTRIM, "rtrim"},
    {KA_FN_SPACE, "space"},     {KA_FN_UCASE, "ucase"},     {KA_FN_ABS, "abs"},         {KA_FN_ACOS, "acos"},
    {KA_FN_ASIN, "asin"},       {KA_FN_ATAN, "atan"},       {KA_FN_CEILING, "ceil"},    {KA_FN_COS, "cos"},
    {KA_FN_DEGREES, "degrees"}, {KA_FN_EXP, "exp"},         {KA_FN_FLOOR, "floor"},     {KA_FN_LOG, "ln"},
    {KA_FN_LOG10, "log10"},     {KA_FN_PI, "pi"},           {KA_FN_POWER, "pow"},       {KA_FN_RADIANS, "radians"},
    {KA_FN_RAND, "rand"},       {KA_FN_ROUND, "round"},     {KA_FN_SIGN, "sign"},       {KA_FN_SIN, "sin"},
    {KA_FN_SQRT, "sqrt"},       {KA_FN_TAN, "tan"},         {KA_FN_IFNULL, "coalesce"},
};

struct WrappedFunction {
    uint32_t code;
    const char* prefix;
    const char* suffix;
};

const WrappedFunction kWrapped[] = {
    {KA_FN_LENGTH, "length(rtrim", ")"},
    {KA_FN_COT, "(1/tan", ")"},
    {KA_FN_YEAR, "year(cast(", " as string))"},
    {KA_FN_MONTH, "month(cast(", " as string))"},
    {KA_FN_DAYOFMONTH, "day(cast(", " as string))"},
    {KA_FN_HOUR, "hour(cast(", " as string))"},
    {KA_FN_MINUTE, "minute(cast(", " as string))"},
    {KA_FN_SECOND, "second(cast(", " as string))"},
};

struct BuiltFunction {
    uint32_t code;
    size_t arguments;
    const char* pattern;
};

// ODBC's MOD takes the sign of the dividend, as Hive's % does (pmod would
// take the divisor's). RIGHT guards the lengths at which substr would count
// from the other end. REPLACE quotes every non-alphanumeric character of the
// search text for the regular expression and escapes "\" and "$" in the
// replacement, so that both are taken literally. TIMESTAMPADD keeps the time
// of day with its fraction and accepts a DATE.
const BuiltFunction kBuilt[] = {
    {KA_FN_MOD, 2, "(#1 % #2)"},
    {KA_FN_INSERT, 4, "concat(substr(#1,1,#2-1),#4,substr(#1,#2+#3))"},
    {KA_FN_LEFT, 2, "substr(#1,1,#2)"},
    {KA_FN_RIGHT, 2, "CASE WHEN #2 >= length(#1) THEN #1 ELSE substr(#1,length(#1)+1-#2) END"},
    {KA_FN_REPLACE, 3,
     R"~(regexp_replace(#1,regexp_replace(#2,'([^a-zA-Z0-9])','\\\\$1'),regexp_replace(#3,'([\\\\$])','\\\\$1')))~"},
    {KA_FN_SUBSTRING, 3, "substr(#1,cast(#2 as INT),cast(#3 as INT))"},
    {KA_FN_QUARTER, 1, "ceil(month(cast(#1 as string))/3)"},
    {KA_FN_WEEK, 1, "weekofyear(cast(#1 as string))"},
    {KA_FN_CURDATE, 0, "to_date(from_unixtime(unix_timestamp()))"},
    {KA_FN_CURRENT_DATE, 0, "to_date(from_unixtime(unix_timestamp()))"},
    {KA_FN_CURTIME, 0, "from_unixtime(unix_timestamp(),'HH:mm:ss')"},
    {KA_FN_CURRENT_TIME, 0, "from_unixtime(unix_timestamp(),'HH:mm:ss')"},
    {KA_FN_NOW, 0, "cast(from_unixtime(unix_timestamp()) as timestamp)"},
    {KA_FN_CURRENT_TIMESTAMP, 0, "cast(from_unixtime(unix_timestamp()) as timestamp)"},
};

struct CastType {
    const char* odbc;  // after "SQL_"
    const char* hive;
};

const CastType kCasts[] = {
    {"BIT", "boolean"},      {"REAL", "float"},         {"BIGINT", "bigint"},       {"DOUBLE", "double"},
    {"TINYINT", "tinyint"},  {"INTEGER", "int"},        {"SMALLINT", "smallint"},   {"VARCHAR", "string"},
    {"WVARCHAR", "string"},  {"LONGVARCHAR", "string"}, {"WLONGVARCHAR", "string"}, {"TIMESTAMP", "timestamp"},
    {"VARBINARY", "binary"},
};

int convertTo(const KaEscapeBody& body, KaStringW& out) noexcept
{
    KaEscapeArguments args;
    if (hiveSplitArguments(body, args) != 0)
        return 1;
    if (args.count < 2)
        return fail(MSG_ESCAPE_MALFORMED);
    if (args.count > 2)
        return fail(MSG_ESCAPE_TEXT_AFTER_ARGUMENTS);
    KaEscapeBody type = trimmed(args.item[1]);
    // A length after the type, as in SQL_VARCHAR(20), has no Hive meaning.
    size_t nameLength = 0;
    while (nameLength < type.length && type.text[nameLength] != '(' && u_isUWhiteSpace(type.text[nameLength]) == 0)
        ++nameLength;
    KaSubStringW name(type.text, nameLength);
    const char* hive = nullptr;
    if (nameLength > 4 && sqlWordIs(KaSubStringW(type.text, 4), "SQL_")) {
        KaSubStringW rest(type.text + 4, nameLength - 4);
        for (const CastType& c : kCasts)
            if (sqlWordIs(rest, c.odbc))
                hive = c.hive;
    }
    if (hive == nullptr) {
        sqlPostSyntaxError(MSG_ESCAPE_NO_CAST_FOR_TYPE)->addParamSubStringW(name);
        return 1;
    }
    if (format(out, "cast(#1 as ", args) != 0 || appendAscii(out, hive) != 0 || out.appendChar(')') != 0)
        return 1;
    return 0;
}

// {fn EXTRACT(field FROM x)} becomes the function escape of the field, which
// the translation reads again.
int extractField(const KaEscapeBody& body, KaStringW& out) noexcept
{
    static const CastType fields[] = {{"YEAR", "year"}, {"MONTH", "month"},   {"DAY", "dayofmonth"},
                                      {"HOUR", "hour"}, {"MINUTE", "minute"}, {"SECOND", "second"}};
    KaScannerW scanner(body.text, body.length);
    KaTokenW t;
    scanner.nextToken(t, KA_SCAN_PLAIN);
    if (t.kind != '(')
        return fail(MSG_ESCAPE_MALFORMED);
    KaTokenW field;
    scanner.nextToken(field, KA_SCAN_PLAIN);
    KaTokenW from;
    scanner.nextToken(from, KA_SCAN_PLAIN);
    if (from.kind != KA_TOKEN_WORD || !sqlWordIs(from, "FROM"))
        return fail(MSG_ESCAPE_MALFORMED);
    KaTokenW operand;
    scanner.nextToken(operand, KA_SCAN_PLAIN);
    if (operand.kind == KA_TOKEN_END || operand.kind == ')')
        return fail(MSG_ESCAPE_MALFORMED);
    const char* name = nullptr;
    for (const CastType& f : fields)
        if (field.kind == KA_TOKEN_WORD && sqlWordIs(field, f.odbc))
            name = f.hive;
    if (name == nullptr)
        return fail(MSG_ESCAPE_EXTRACT_FIELD);
    size_t at = size_t(operand.data - body.text);
    if (appendAscii(out, "{fn ") != 0 || appendAscii(out, name) != 0 || out.appendChar('(') != 0 ||
        out.append(body.text + at, body.length - at) != 0 || out.appendChar('}') != 0)
        return 1;
    return 0;
}

}  // namespace

int hiveSplitArguments(const KaEscapeBody& body, KaEscapeArguments& out) noexcept
{
    out.count = 0;
    out.listed = false;
    KaScannerW scanner(body.text, body.length);
    KaTokenW t;
    scanner.nextToken(t, KA_SCAN_PLAIN);
    if (t.kind == KA_TOKEN_END)
        return 0;
    if (t.kind != '(')
        return fail(MSG_ESCAPE_TEXT_AFTER_ARGUMENTS);
    out.listed = true;
    scanner.parenGroups = 1;
    scanner.braceGroups = 1;
    size_t argStart = size_t(t.data + t.len - body.text);
    bool sawText = false;
    for (;;) {
        scanner.nextToken(t, KA_SCAN_PLAIN);
        if (t.kind == KA_TOKEN_END)
            return fail(MSG_ESCAPE_TOO_FEW_ARGUMENTS);
        if (t.kind == KA_TOKEN_UNTERMINATED)
            return fail(MSG_ESCAPE_TOO_FEW_ARGUMENTS);
        if (t.kind != ',' && t.kind != ')') {
            sawText = true;
            continue;
        }
        size_t end = size_t(t.data - body.text);
        if (t.kind == ')' && out.count == 0 && !sawText)
            break;  // "()"
        if (out.count == KaEscapeArguments::kMax)
            return fail(MSG_ESCAPE_TEXT_AFTER_ARGUMENTS);
        out.item[out.count++] = trimmed(KaEscapeBody{body.text + argStart, end - argStart});
        argStart = end + 1;
        if (t.kind == ')')
            break;
    }
    scanner.nextToken(t, KA_SCAN_PLAIN);
    if (t.kind != KA_TOKEN_END)
        return fail(MSG_ESCAPE_TEXT_AFTER_ARGUMENTS);
    return 0;
}

int32_t tsiIntervalCode(const KaEscapeBody& word) noexcept
{
    static const struct {
        const char* name;
        int32_t code;
    } codes[] = {{"SQL_TSI_FRAC_SECOND", 1}, {"SQL_TSI_SECOND", 2},    {"SQL_TSI_MINUTE", 4},
                 {"SQL_TSI_HOUR", 8},        {"SQL_TSI_DAY", 16},      {"SQL_TSI_WEEK", 32},
                 {"SQL_TSI_MONTH", 64},      {"SQL_TSI_QUARTER", 128}, {"SQL_TSI_YEAR", 256}};
    KaEscapeBody w = trimmed(word);
    KaSubStringW view(w.text, w.length);
    for (const auto& c : codes)
        if (sqlWordIs(view, c.name))
            return c.code;
    return 0;
}

int hiveAppendStringLiteral(KaStringW& out, const uint16_t* text, size_t length) noexcept
{
    if (out.appendChar('\'') != 0)
        return 1;
    for (size_t i = 0; i < length; ++i) {
        if ((text[i] == '\\' || text[i] == '\'') && out.appendChar('\\') != 0)
            return 1;
        if (out.appendChar(text[i]) != 0)
            return 1;
    }
    return out.appendChar('\'');
}

HiveEscapeTranslator::HiveEscapeTranslator() noexcept
{
    literalQuotes[0] = '\'';
    literalQuotes[1] = 0;
    literalQuotes[2] = 0;
    backslashInQuotes = true;
    maxTimestampLength = 29;
}

HiveEscapeTranslator::~HiveEscapeTranslator() = default;

int HiveEscapeTranslator::translateEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind,
                                          uint32_t code) noexcept
{
    switch (kind) {
    case KA_ESC_TIME:
    case KA_ESC_DATE:
    case KA_ESC_QUOTED: return hiveAppendStringLiteral(out, body.text, body.length);
    case KA_ESC_TIMESTAMP:
        if (appendAscii(out, "cast(") != 0 || hiveAppendStringLiteral(out, body.text, body.length) != 0)
            return 1;
        return appendAscii(out, " as timestamp)");
    case KA_ESC_OUTER_JOIN:
    case KA_ESC_VERBATIM: return out.append(body.text, body.length);
    case KA_ESC_FUNCTION: return translateFunction(body, out, code);
    default: return fail(MSG_ESCAPE_NO_SERVER_FORM);
    }
}

int HiveEscapeTranslator::translateFunction(const KaEscapeBody& body, KaStringW& out, uint32_t code) noexcept
{
    for (const NamedFunction& f : kRenamed)
        if (f.code == code) {
            if (appendAscii(out, f.hive) != 0)
                return 1;
            // {fn pi} names a call without its parentheses.
            if (trimmed(body).length == 0)
                return appendAscii(out, "()");
            return out.append(body.text, body.length);
        }
    for (const WrappedFunction& f : kWrapped)
        if (f.code == code) {
            KaEscapeArguments args;
            if (takeArguments(body, args, 1) != 0)
                return 1;
            return appendAscii(out, f.prefix) != 0 || out.append(body.text, body.length) != 0 ||
                           appendAscii(out, f.suffix) != 0
                       ? 1
                       : 0;
        }
    for (const BuiltFunction& f : kBuilt)
        if (f.code == code) {
            KaEscapeArguments args;
            if (takeArguments(body, args, f.arguments) != 0)
                return 1;
            return format(out, f.pattern, args);
        }
    KaEscapeArguments args;
    switch (code) {
    case KA_FN_DATABASE:
        if (takeArguments(body, args, 0) != 0)
            return 1;
        // Without a known name the server answers for its own session.
        if (database == nullptr)
            return appendAscii(out, "current_database()");
        return hiveAppendStringLiteral(out, database, databaseLength);
    case KA_FN_TIMESTAMPADD:
    case KA_FN_TIMESTAMPDIFF:
        if (takeArguments(body, args, 3) != 0)
            return 1;
        if (tsiIntervalCode(args.item[0]) != 16)
            return fail(MSG_ESCAPE_INTERVAL_NOT_DAY);
        return format(out,
                      code == KA_FN_TIMESTAMPDIFF ? "datediff(#3,#2)"
                                                  : "cast(concat(cast(date_add(cast(#3 as timestamp),#2) as string),"
                                                    "substr(cast(cast(#3 as timestamp) as string),11)) as timestamp)",
                      args);
    case KA_FN_CONVERT: return convertTo(body, out);
    case KA_FN_EXTRACT: return extractField(body, out);
    default: return fail(MSG_ESCAPE_NO_SERVER_FORM);
    }
}

void hiveTrimStatement(KaSubStringW& text) noexcept
{
    while (text.len > 0 && (u_isUWhiteSpace(text.data[text.len - 1]) != 0 || text.data[text.len - 1] == ';'))
        --text.len;
}

void hiveFixQuotedLiterals(uint16_t* text, size_t length) noexcept
{
    uint16_t quote = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint16_t u = text[i];
        const bool more = i + 1 < length;
        if (quote == 0) {
            if (u == '\'' || u == '`' || u == '"')
                quote = u;
        } else if (quote == '`') {
            if (u == '`' && more && text[i + 1] == '`')
                ++i;
            else if (u == '`')
                quote = 0;
        } else if (u == '\\' && more) {
            ++i;
        } else if (u == quote && quote == '\'' && more && text[i + 1] == '\'') {
            text[i] = '\\';
            ++i;
        } else if (u == quote) {
            quote = 0;
        }
    }
}
