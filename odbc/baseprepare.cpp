// Prepare: SQLPrepare and the prepare core that SQLExecDirect shares. The
// text is analysed (statement kind, clauses, parameter markers), the
// implicit transaction starts, and the driver prepares it.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "foundation/kastringw.h"
#include "odbc/basealias.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "sql/basesql.h"

namespace {

int64_t measure(const uint16_t* text, int64_t length) noexcept
{
    if (length != SQL_NTS)
        return length;
    int64_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

}  // namespace

int16_t BaseStatement::prepareInternal(BaseSqlStringW* text) noexcept
{
    // The driver's own rewriting, then the escape clauses in the server's
    // form, unless the application or the bulk loader switched scanning off.
    if (connection != nullptr && connection->preprocessSql(text) != 0) {
        (void)resetStatement();
        return 1;
    }
    escapeResult = 0;
    returnValueParam = false;
    if (connection != nullptr && (attributeValues[kBaseAttrFlags] & kBaseStmtFlagNoScan) == 0) {
        uint32_t seen = 0;
        int32_t flags = 0;
        if (connection->translateEscapes(text, 0, &seen, &flags) != 0) {
            (void)resetStatement();
            return 1;
        }
        returnValueParam = (flags & 1) != 0;
    }
    if (savedSqlText == nullptr) {
        const auto n = static_cast<size_t>(text->len);
        savedSqlText = static_cast<uint16_t*>(ramAlloc((n + 1) * sizeof(uint16_t)));
        if (savedSqlText == nullptr) {
            (void)resetStatement();
            return 1;
        }
        for (size_t i = 0; i < n; ++i)
            savedSqlText[i] = text->data[i];
        savedSqlText[n] = 0;
        savedSqlLength = static_cast<int64_t>(n);
    }
    const uint32_t kind = text->getStatementKind();
    if (text->scanClauses(kSqlRecordMarkers, nullptr) != 0) {
        (void)resetStatement();
        return 1;
    }
    if (text->markerCount() + (returnValueParam ? 1 : 0) > INT16_MAX) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_TOO_MANY_PARAMETER_MARKERS);
        (void)resetStatement();
        return 1;
    }
    // A call escape's return value is a parameter without a marker.
    markerCount = static_cast<uint16_t>(text->markerCount() + (returnValueParam ? 1 : 0));
    statementKind = static_cast<int32_t>(kind);
    objectKind = static_cast<int32_t>(text->objectKind);
    refersToCursor = text->currentOfLength != 0 ? 1 : 0;
    if (connection != nullptr && connection->beginTransaction() != 0) {
        (void)resetStatement();
        return 1;
    }
    forUpdateClause = text->forUpdatePos != 0;
    if (refersToCursor != 0 && preparePositioned(text) != 0) {
        (void)resetStatement();
        return 1;
    }
    if (prepareHook(text) != 0) {
        (void)resetStatement();
        return 1;
    }
    if (reentryPending)
        return 0;
    if (resultDescribed)
        fixColumnSizes();
    if (markerCount != 0) {
        if (sqlTextCopy == nullptr && (sqlTextCopy = new BaseSqlStringW()) == nullptr) {
            (void)resetStatement();
            return 1;
        }
        if (sqlTextCopy->copy(*text) != 0) {
            (void)resetStatement();
            return 1;
        }
    }
    setExecState(kBaseStmtPrepared);
    preparedSinceExecute = true;
    if (attributeValues[kBaseAttrUseBookmarks] != SQL_UB_OFF && ird != nullptr) {
        BaseIRDRecord* bookmark = ird->irdRecord(0);
        if (bookmark != nullptr) {
            bookmark->setConciseType(SQL_BIGINT);
            bookmark->octetLength = 8;
            bookmark->precision = 8;
            bookmark->scale = 0;
            bookmark->flags = 0;
            bookmark->searchable = SQL_PRED_NONE;
        }
    }
    return 0;
}

int16_t BaseStatement::prepare(const uint16_t* text, int32_t length) noexcept
{
    return runFunction(SQL_API_SQLPREPARE, [&]() -> int16_t {
        if (text == nullptr) {
            basePostError(kBaseIdxNullPointer);
            return SQL_ERROR;
        }
        if (length < 0 && length != SQL_NTS) {
            basePostError(kBaseIdxBadLength);
            return SQL_ERROR;
        }
        const uint64_t workarounds2 = connection != nullptr ? connection->workarounds2 : 0;
        if (statementState == kBaseStmtCursorOpen) {
            if ((workarounds2 & kBaseWa2CloseOpenCursor) == 0) {
                basePostError(kBaseIdxCursorState);
                return SQL_ERROR;
            }
            if ((executionMode == kBaseExecPrepared ? closeCursor() : resetStatement()) != 0)
                return SQL_ERROR;
        }
        if ((workarounds2 & kBaseWa2AlwaysPrepare) != 0) {
            ramFree(savedSqlText);
            savedSqlText = nullptr;
            savedSqlLength = 0;
        }
        int64_t n = measure(text, length);
        KaStringW aliased;
        if (connection != nullptr && connection->numericLiteralAliasing != 0) {
            bool unchanged = true;
            if (baseAliasNumericLiterals(text, n, &aliased, &unchanged) != 0)
                return SQL_ERROR;
            if (!unchanged) {
                text = aliased.data;
                n = static_cast<int64_t>(aliased.len);
            }
        }
        // The same text prepared again keeps its preparation, unless a commit
        // deletes prepared statements. The whole texts must match: a prefix of
        // the saved text is another statement.
        if (savedSqlText != nullptr && statementState != kBaseStmtAllocated && n == savedSqlLength &&
            executionMode == kBaseExecPrepared && connection != nullptr) {
            // Room for a wider answer than the 16 bits asked for.
            uint64_t answer = SQL_CB_DELETE;
            const KaDiagMark mark;
            uint16_t behavior = SQL_CB_DELETE;
            if (connection->getInfoValue(SQL_CURSOR_COMMIT_BEHAVIOR, &answer, sizeof behavior, nullptr) ==
                SQL_SUCCESS) {
                std::memcpy(&behavior, &answer, sizeof behavior);
            } else {
                // Not knowing the answer only costs the shortcut.
                mark.drop();
            }
            bool same = behavior != SQL_CB_DELETE;
            for (int64_t i = 0; same && i < n; ++i)
                same = text[i] == savedSqlText[i];
            if (same)
                return SQL_SUCCESS;
        }
        if (statementState != kBaseStmtAllocated && resetStatement() != 0)
            return SQL_ERROR;
        executionMode = kBaseExecPrepared;
        BaseSqlStringW sql(text, n);
        if (prepareInternal(&sql) != 0)
            return SQL_ERROR;
        if (reentryPending)
            return SQL_STILL_EXECUTING;
        attributeValues[kBaseAttrFlags] &= ~kBaseStmtFlagScrollChanged;
        return SQL_SUCCESS;
    });
}
