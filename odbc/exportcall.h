// What the exported entry points are built from: the object behind a
// handle, the second call an operation may ask for, and the ways a call
// reaches a statement, a descriptor or a connection. Internal to the ODBC
// layer's export files (odbcapi.cpp, bulkapi.cpp).
#pragma once
#include <sql.h>

#include <cstddef>
#include <cstdint>

#include "foundation/kaerror.h"
#include "foundation/kaobject.h"
#include "foundation/kaowner.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/basehandles.h"
#include "odbc/basestmt.h"
#include "sql/basesql.h"

// The code with which an operation asks to be called once more; it never
// leaves the driver.
constexpr SQLRETURN kBaseRcAgain = -5;

namespace baseexport {

// A handle is used only when the set of live handles holds it with the
// kind asked for: a freed handle, one of another kind or a pointer that was
// never a handle is refused without its memory being read.
template <class T>
T* liveHandle(SQLHANDLE handle, BaseHandleKind kind) noexcept
{
    if (baseHandleKindOf(handle) != kind)
        return nullptr;
    return static_cast<T*>(static_cast<KaObject*>(handle));
}

inline BaseEnv* envOf(SQLHANDLE handle) noexcept
{
    return liveHandle<BaseEnv>(handle, BaseHandleKind::env);
}

inline BaseStubConnection* connOf(SQLHANDLE handle) noexcept
{
    auto* connHandle = liveHandle<BaseStubConnection>(handle, BaseHandleKind::connection);
    return connHandle != nullptr && connHandle->magic == kBaseStubMagic ? connHandle : nullptr;
}

inline BaseStatement* stmtOf(SQLHANDLE handle) noexcept
{
    return liveHandle<BaseStatement>(handle, BaseHandleKind::statement);
}

inline BaseDescriptor* descOf(SQLHANDLE handle) noexcept
{
    return liveHandle<BaseDescriptor>(handle, BaseHandleKind::descriptor);
}

// A second request to be called again is an operation that cannot finish:
// it becomes SQL_ERROR with a diagnostic on the handle's list.
[[nodiscard]] inline SQLRETURN settle(SQLRETURN rc, BaseErrorList* list) noexcept
{
    if (rc != kBaseRcAgain)
        return rc;
    if (list != nullptr) {
        KaErrorListScope scope(list);
        basePostErrorMsg(kBaseIdxGeneralError, MSG_OPERATION_NOT_FINISHED);
    }
    return SQL_ERROR;
}

template <class Call>
[[nodiscard]] SQLRETURN twice(BaseErrorList* list, Call&& call) noexcept
{
    SQLRETURN rc = call();
    if (rc == kBaseRcAgain)
        rc = call();
    return settle(rc, list);
}

// After a pooled connection was re-established inside the call (the
// reconnected diagnostic on its list), the call runs once more on the new
// link, but only where running it twice cannot change data twice: its
// request never reached the server, or it is a query the user let the
// driver replay.
template <class Call>
[[nodiscard]] SQLRETURN poolRetry(BaseConnection* (*connection)(void*), bool (*replayable)(void*), void* owner,
                                  BaseErrorList* list, Call&& call) noexcept
{
    SQLRETURN rc = call();
    BaseConnection* conn = connection(owner);
    if (rc == SQL_ERROR && conn != nullptr && conn->freshFromPool == 1 && list != nullptr) {
        for (size_t i = 0; i < list->recordCount(); ++i) {
            KaError* record = list->recordAt(i);
            if (record != nullptr && record->sqlstateMsg == kBaseIdxReconnected) {
                conn->freshFromPool = 0;
                if ((record->flags & kBaseErrorRequestUnsent) != 0 || replayable(owner))
                    rc = kBaseRcAgain;
                break;
            }
        }
    }
    if (rc == kBaseRcAgain)
        rc = call();
    return settle(rc, list);
}

inline BaseConnection* stmtConnection(void* owner) noexcept
{
    return static_cast<BaseStatement*>(owner)->connection;
}

inline BaseConnection* handleConnection(void* owner) noexcept
{
    return static_cast<BaseStubConnection*>(owner)->current;
}

// A query that failover mode 2 lets the driver run again: a SELECT whose
// statement has recorded nothing since it was made.
inline bool stmtReplayable(void* owner) noexcept
{
    auto* stmt = static_cast<BaseStatement*>(owner);
    return stmt->connection != nullptr && stmt->connection->configuredFailoverMode == 2 &&
           stmt->statementKind == KA_STMT_SELECT && stmt->replayable == 1;
}

// Connection calls are repeated only when their request never left.
inline bool neverReplayable(void*) noexcept
{
    return false;
}

// Statement export: the operation on the statement, with the second call.
template <class Call>
[[nodiscard]] SQLRETURN onStatement(SQLHSTMT handle, Call&& call) noexcept
{
    BaseStatement* stmt = stmtOf(handle);
    if (stmt == nullptr)
        return SQL_INVALID_HANDLE;
    return twice(&stmt->diagnostics, [&]() noexcept { return call(stmt); });
}

// Statement export with the retry after a re-established pooled link.
template <class Call>
[[nodiscard]] SQLRETURN onStatementRetry(SQLHSTMT handle, Call&& call) noexcept
{
    BaseStatement* stmt = stmtOf(handle);
    if (stmt == nullptr)
        return SQL_INVALID_HANDLE;
    return poolRetry(stmtConnection, stmtReplayable, stmt, &stmt->diagnostics, [&]() noexcept { return call(stmt); });
}

template <class Call>
[[nodiscard]] SQLRETURN onDescriptor(SQLHDESC handle, Call&& call) noexcept
{
    BaseDescriptor* desc = descOf(handle);
    if (desc == nullptr)
        return SQL_INVALID_HANDLE;
    return twice(&desc->diagnostics, [&]() noexcept { return call(desc); });
}

// The connection has no physical connection (never connected): 08003 on the
// handle.
[[nodiscard]] inline SQLRETURN notConnected(BaseStubConnection* connHandle, uint16_t apiId) noexcept
{
    return connHandle->runApi(apiId, []() noexcept {
        basePostNotConnected();
        return SQL_ERROR;
    });
}

// Connection export on the current physical connection.
template <class Call>
[[nodiscard]] SQLRETURN onConnection(SQLHDBC handle, uint16_t apiId, Call&& call) noexcept
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr)
        return notConnected(connHandle, apiId);
    return twice(&connHandle->diagnostics, [&]() noexcept { return call(connHandle->current); });
}

}  // namespace baseexport
