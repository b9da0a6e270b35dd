// Hooks of the Hive connection the framework asks while statements run:
// the transaction rules of TransactionMode, and the rewriting of quotes
// inside literals that the execute hook applies to a statement's text.
#include <sql.h>

#include "hive/hiveconnection.h"
#include "kamessages.h"
#include "odbc/baseerr.h"

int16_t HiveConnection::beginTranCheck() noexcept
{
    if (transactionMode == HIVE_TRANSACTIONS_IGNORED)
        return 0;
    basePostError(MSG_SQLSTATE_OPTIONAL_FEATURE);
    return 1;
}

int16_t HiveConnection::autocommitChange(int16_t completionType) noexcept
{
    // Hive has nothing to commit or roll back; with TransactionMode 1 a
    // commit is accepted and a rollback, which cannot be honoured, refused.
    if (transactionMode == HIVE_TRANSACTIONS_REFUSED) {
        basePostError(MSG_SQLSTATE_OPTIONAL_FEATURE);
        return 1;
    }
    if (completionType == SQL_ROLLBACK) {
        basePostError(MSG_SQLSTATE_INVALID_TRANSACTION_STATE);
        return 1;
    }
    return 0;
}

int16_t HiveConnection::fixQuotedLiterals(uint16_t* text, int64_t units) noexcept
{
    if (units > 0)
        fixQuotedLiterals(text, size_t(units));
    return 0;
}

void HiveConnection::fixQuotedLiterals(uint16_t* text, size_t units) noexcept
{
    enum { kOutside, kSingle, kDouble, kBack } state = kOutside;
    for (size_t i = 0; i < units; ++i) {
        const uint16_t u = text[i];
        switch (state) {
        case kOutside:
            if (u == '\'')
                state = kSingle;
            else if (u == '"')
                state = kDouble;
            else if (u == '`')
                state = kBack;
            break;
        case kBack:
            if (u == '`') {
                if (i + 1 < units && text[i + 1] == '`')
                    ++i;
                else
                    state = kOutside;
            }
            break;
        case kSingle:
        case kDouble: {
            const uint16_t quote = state == kSingle ? '\'' : '"';
            if (u == '\\') {
                // An escape and the character after it are one: Hive reads
                // \\ as a backslash, so the apostrophe after it still ends
                // the literal.
                ++i;
            } else if (u == quote) {
                if (state == kSingle && i + 1 < units && text[i + 1] == '\'') {
                    // Hive joins adjacent literals, so 'O''Brien' would lose
                    // the apostrophe: it is written as an escape.
                    text[i] = '\\';
                    ++i;
                } else {
                    state = kOutside;
                }
            }
            break;
        }
        }
    }
}
