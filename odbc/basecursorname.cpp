// Cursor names: SQLSetCursorName and SQLGetCursorName, the name a statement
// is given when it opens a result without one, and the lookup of a
// statement by name that positioned statements use.
//
// Names are compared without regard to letter case wherever they are
// compared, so that no two statements of a connection carry names that a
// lookup cannot tell apart.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/basestring.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kastr.h"
#include "foundation/kastringw.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "sql/basesql.h"

namespace {

// "SQL_CUR" and two hexadecimal digits for each byte of the handle.
constexpr char kGeneratedPrefix[] = "SQL_CUR";
constexpr size_t kGeneratedPrefixUnits = sizeof kGeneratedPrefix - 1;
constexpr size_t kGeneratedNameUnits = kGeneratedPrefixUnits + 2 * sizeof(void*);

// name starts with the ASCII prefix, compared as names are compared when
// anyCase is set, else unit for unit.
bool hasPrefix(const uint16_t* name, size_t length, const char* prefix, bool anyCase) noexcept
{
    uint16_t wide[kGeneratedPrefixUnits + 1];
    const size_t n = std::strlen(prefix);
    if (length < n || n > kGeneratedPrefixUnits)
        return false;
    for (size_t i = 0; i < n; ++i)
        wide[i] = static_cast<uint8_t>(prefix[i]);
    return anyCase ? strEqualNoCaseNNW(name, n, wide, n) != 0 : std::memcmp(name, wide, n * sizeof(uint16_t)) == 0;
}

// The driver's own names start with "SQLCUR" or "SQL_CUR". The second is
// the generated form and is held back in any letter case: a name that
// differed from a generated one only in case would be found by lookups of
// either.
bool reservedName(const uint16_t* name, size_t length) noexcept
{
    return hasPrefix(name, length, "SQLCUR", false) || hasPrefix(name, length, kGeneratedPrefix, true);
}

bool sameName(const uint16_t* stored, const uint16_t* name, size_t length) noexcept
{
    return stored != nullptr && strEqualNoCaseNW(name, length, stored) != 0;
}

// The connection's longest cursor name; 0 when it sets no limit.
uint64_t maxCursorNameLength(BaseConnection* conn) noexcept
{
    // A 16-bit answer in a zeroed word: read whole whichever width the
    // driver writes.
    uint32_t raw = 0;
    if (conn == nullptr || !SQL_SUCCEEDED(conn->getInfoValue(SQL_MAX_CURSOR_NAME_LEN, &raw, sizeof raw, nullptr)))
        return 0;
    return static_cast<uint16_t>(raw);
}

// The first statement of conn other than self named `name`; the caller
// holds the handle-list lock.
BaseStatement* namedStatement(BaseConnection* conn, const BaseStatement* self, const uint16_t* name,
                              size_t length) noexcept
{
    KaNode* node = conn->statements.first();
    for (size_t i = 0; i < conn->statements.count && node != nullptr; ++i, node = node->next) {
        auto* stmt = static_cast<BaseStatement*>(node);
        if (stmt != self && sameName(stmt->cursorName, name, length))
            return stmt;
    }
    return nullptr;
}

}  // namespace

BaseStatement* BaseConnection::findStatementByCursorName(const uint16_t* name, size_t length) noexcept
{
    if (name == nullptr || length == 0)
        return nullptr;
    return namedStatement(this, nullptr, name, length);
}

int16_t BaseStatement::preparePositioned(BaseSqlStringW* text) noexcept
{
    const KaSubStringW& name = text->cursorName;
    // The cursor's statement may be freed by its own thread: it is read
    // only while the list lock keeps it.
    KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
    BaseStatement* cursor =
        connection != nullptr ? connection->findStatementByCursorName(name.data, name.len) : nullptr;
    if (cursor == nullptr) {
        basePostErrorMsg(kBaseIdxCursorName, MSG_POSITIONED_CURSOR_NOT_FOUND)->addParamSubStringW(name);
        return 1;
    }
    if (!cursor->forUpdateClause && cursor->attributeValues[kBaseAttrConcurrency] == SQL_CONCUR_READ_ONLY) {
        basePostErrorMsg(kBaseIdxCursorName, MSG_POSITIONED_CURSOR_READ_ONLY)->addParamSubStringW(name);
        return 1;
    }
    // An updatable cursor exists, but rows are not changed through it.
    basePostErrorMsg(kBaseIdxNotSupported, MSG_FUNCTION_NOT_AVAILABLE);
    return 1;
}

int16_t BaseStatement::generateCursorName() noexcept
{
    auto* name = static_cast<uint16_t*>(ramAlloc((kGeneratedNameUnits + 1) * sizeof(uint16_t)));
    if (name == nullptr)
        return 1;
    static constexpr char kHex[] = "0123456789ABCDEF";
    size_t at = 0;
    for (; at < kGeneratedPrefixUnits; ++at)
        name[at] = static_cast<uint8_t>(kGeneratedPrefix[at]);
    // The handle's bytes in memory order: unique among live statements.
    const auto* handle = static_cast<const KaObject*>(this);
    uint8_t bytes[sizeof handle];
    std::memcpy(bytes, &handle, sizeof bytes);
    for (uint8_t b : bytes) {
        name[at++] = static_cast<uint8_t>(kHex[b >> 4]);
        name[at++] = static_cast<uint8_t>(kHex[b & 0xF]);
    }
    name[at] = 0;
    KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
    ramFree(cursorName);
    cursorName = name;
    return 0;
}

int16_t BaseStatement::setCursorName(const uint16_t* name, int16_t length) noexcept
{
    return runFunction(SQL_API_SQLSETCURSORNAME, [&]() -> int16_t {
        if (name == nullptr) {
            basePostError(kBaseIdxNullPointer);
            return SQL_ERROR;
        }
        if (statementState == kBaseStmtNeedData || statementState == kBaseStmtMustPutData ||
            statementState == kBaseStmtPuttingData) {
            basePostError(kBaseIdxSequence);
            return SQL_ERROR;
        }
        if (statementState == kBaseStmtExecuted || statementState == kBaseStmtCursorOpen) {
            basePostErrorMsg(kBaseIdxCursorState, MSG_CURSOR_NAME_AFTER_EXECUTE);
            return SQL_ERROR;
        }
        size_t n = 0;
        if (length == SQL_NTS) {
            n = strLenW(name);
        } else if (length > 0) {
            n = static_cast<size_t>(length);
            // The name is kept NUL-terminated: a NUL inside would cut it short.
            for (size_t i = 0; i < n; ++i)
                if (name[i] == 0) {
                    basePostErrorMsg(kBaseIdxCursorName, MSG_CURSOR_NAME_HAS_NUL);
                    return SQL_ERROR;
                }
        }
        if (n == 0) {
            basePostError(kBaseIdxBadLength);
            return SQL_ERROR;
        }
        const uint64_t limit = maxCursorNameLength(connection);
        if (limit != 0 && n > limit) {
            basePostErrorMsg(kBaseIdxCursorName, MSG_CURSOR_NAME_TOO_LONG)->addParamUnsigned(limit);
            return SQL_ERROR;
        }
        if (reservedName(name, n)) {
            basePostErrorMsg(kBaseIdxCursorName, MSG_CURSOR_NAME_RESERVED);
            return SQL_ERROR;
        }
        RamPtr<uint16_t> copy = ramMake<uint16_t>(n + 1);
        if (!copy) {
            // The old name goes too, as a failed set leaves the statement unnamed.
            KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
            ramFree(cursorName);
            cursorName = nullptr;
            return SQL_ERROR;
        }
        std::memcpy(copy.get(), name, n * sizeof(uint16_t));
        copy.get()[n] = 0;
        {
            // Checked and stored under one lock, so that two threads cannot give
            // two statements the same name.
            KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
            if (connection != nullptr && namedStatement(connection, this, name, n) != nullptr) {
                basePostErrorMsg(kBaseIdxDuplicateCursorName, MSG_CURSOR_NAME_IN_USE)
                    ->addParamSubStringW(KaSubStringW(name, n));
                return SQL_ERROR;
            }
            ramFree(cursorName);
            cursorName = copy.release();
        }
        return SQL_SUCCESS;
    });
}

int16_t BaseStatement::getCursorName(uint16_t* name, int16_t bufferLength, int16_t* nameLength) noexcept
{
    return runFunction(SQL_API_SQLGETCURSORNAME, [&]() -> int16_t {
        if (bufferLength < 0) {
            basePostError(kBaseIdxBadLength);
            return SQL_ERROR;
        }
        if (cursorName == nullptr) {
            // An ODBC 3 application is given the name the statement's cursor
            // will carry; ODBC 2 had no name before the first result.
            const bool odbc2 = connection != nullptr && connection->env != nullptr && connection->env->odbc2Mode == 1;
            if (odbc2) {
                basePostError(kBaseIdxNoCursorName);
                return SQL_ERROR;
            }
            if (generateCursorName() != 0)
                return SQL_ERROR;
        }
        // The buffer length counts characters; a cut name keeps a terminator.
        BaseOutString out(name, static_cast<int16_t>(bufferLength > INT16_MAX / 2 ? INT16_MAX : bufferLength * 2),
                          nameLength);
        (void)out.putWideTextChars(cursorName, static_cast<int64_t>(strLenW(cursorName)));
        return SQL_SUCCESS;
    });
}
