// The HiveQL form of each ODBC escape clause (HiveEscapeTranslator, the
// escape hook of the Hive connection) and the argument splitter its function
// translations use. The Hive connection and SQLNativeSql's translation hand
// it the connection's current database.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sql/escape.h"

// The arguments of a function escape's body "(a, b, ...)", as written.
struct KaEscapeArguments {
    static constexpr size_t kMax = 8;
    KaEscapeBody item[kMax];
    size_t count = 0;
    // The body held an argument list; false for a bare name such as {fn now}.
    bool listed = false;
};

// Splits the body into its arguments: quotes, nested parentheses and nested
// escapes stay within one argument. The list must be all of the body (only
// blanks after it): 0; text after the list: 6041; an unclosed list: 6040;
// more than kMax arguments: 6041. Diagnostics are posted.
[[nodiscard]] int hiveSplitArguments(const KaEscapeBody& body, KaEscapeArguments& out) noexcept;

// SQL_TSI interval codes (the ODBC SQL_FN_TSI bits); 0 for any other word.
int32_t tsiIntervalCode(const KaEscapeBody& word) noexcept;

class HiveEscapeTranslator : public KaEscapeHost {
public:
    // The connection's current database (UTF-16, not terminated); null lets
    // {fn DATABASE()} ask the server (current_database()).
    const uint16_t* database = nullptr;
    size_t databaseLength = 0;

    HiveEscapeTranslator() noexcept;
    ~HiveEscapeTranslator() override;

    [[nodiscard]] int translateEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind,
                                      uint32_t code) noexcept override;

private:
    [[nodiscard]] int translateFunction(const KaEscapeBody& body, KaStringW& out, uint32_t code) noexcept;
};

// Appends the text as a HiveQL string literal: apostrophes around it, and a
// backslash before each backslash and apostrophe (HiveQL does not read a
// doubled apostrophe as one).
[[nodiscard]] int hiveAppendStringLiteral(KaStringW& out, const uint16_t* text, size_t length) noexcept;

// The Hive connection's text preparation before escape translation: trailing
// white space and statement-ending semicolons go (HiveServer2 takes one
// statement without a terminator).
void hiveTrimStatement(KaSubStringW& text) noexcept;

// The Hive literal hook, in place: inside an apostrophe-quoted literal a
// doubled apostrophe becomes a backslash and an apostrophe, which HiveQL
// reads as one apostrophe; back-quoted names and escaped quotes are passed.
void hiveFixQuotedLiterals(uint16_t* text, size_t length) noexcept;
