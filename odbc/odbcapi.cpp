// The driver's exported ODBC functions in their Unicode forms. Each finds
// the object behind its handle, refuses a handle that is null or of the
// wrong kind with SQL_INVALID_HANDLE, and forwards to one operation of the
// object. The bulk exports are in bulkapi.cpp, the setup entry points in
// setupapi.cpp.
#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kadrivername.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/basehandles.h"
#include "odbc/baseinfo.h"
#include "odbc/basepool.h"
#include "odbc/basestmt.h"
#include "odbc/exportcall.h"
#include "platform/bos.h"
#include "platform/boscatalog.h"
#include "platform/boslib.h"

using baseexport::connOf;
using baseexport::descOf;
using baseexport::envOf;
using baseexport::handleConnection;
using baseexport::neverReplayable;
using baseexport::notConnected;
using baseexport::onConnection;
using baseexport::onDescriptor;
using baseexport::onStatement;
using baseexport::onStatementRetry;
using baseexport::poolRetry;
using baseexport::settle;
using baseexport::stmtOf;
using baseexport::twice;

namespace {

// Reference count of the message catalogue, one per live environment.
int32_t gCatalogueUsers = 0;

// Makes and attaches the physical connection for a connect when the handle
// has none; 0, or -1 with the diagnostics on the handle.
[[nodiscard]] SQLRETURN ensurePhysical(BaseStubConnection* connHandle) noexcept
{
    if (connHandle->current != nullptr)
        return SQL_SUCCESS;
    connHandle->diagnostics.clear();
    KaErrorListScope scope(&connHandle->diagnostics);
    BaseConnection* conn = nullptr;
    if (connHandle->env == nullptr)
        basePostNotConnected();
    else if (connHandle->env->newConnection(0, &conn) == 0 && conn != nullptr)
        return connHandle->setCurrentConnection(conn) == 1 ? SQL_ERROR : SQL_SUCCESS;
    return SQL_ERROR;
}

// The pooling steps of one connect: the key, the manager, the pool and slot
// the take found, and the registration after a new connect. The key text
// (it holds the password for SQLConnect) is wiped when the connect ends.
class PoolConnect {
public:
    explicit PoolConnect(BaseStubConnection* handle) noexcept : handle_(handle) {}
    ~PoolConnect()
    {
        if (ownsKey_)
            freeConnectPoolKeyText(key, keyLength);
        freeConnectPoolKey(record);
    }
    PoolConnect(const PoolConnect&) = delete;
    PoolConnect& operator=(const PoolConnect&) = delete;

    // The driver-connect string is the key as the application gave it.
    void borrowKey(const uint16_t* text, int64_t length) noexcept
    {
        key = const_cast<uint16_t*>(text);
        keyLength = length;
        if (keyLength == SQL_NTS) {
            keyLength = 0;
            while (text[keyLength] != 0)
                ++keyLength;
        }
        ownsKey_ = false;
    }

    // The manager, made on the first pooled connect; SQL_SUCCESS or
    // SQL_ERROR (posted on the handle).
    [[nodiscard]] SQLRETURN begin() noexcept
    {
        handle_->diagnostics.clear();
        int16_t rc = 0;
        {
            KaErrorListScope scope(&handle_->diagnostics);
            rc = baseEnsurePoolManager(&manager_);
        }
        if (rc == 0)
            generation_ = manager_->generation.load();
        return rc == 0 ? SQL_SUCCESS : SQL_ERROR;
    }

    // A pooled connection onto the handle: SQL_SUCCESS, SQL_SUCCESS_WITH_INFO,
    // SQL_ERROR, or kBasePoolNotTaken to connect normally.
    [[nodiscard]] SQLRETURN take() noexcept
    {
        handle_->diagnostics.clear();
        int16_t rc = 0;
        {
            KaErrorListScope scope(&handle_->diagnostics);
            rc = manager_->takeConnection(handle_, &poolIndex_, &slotIndex_, key, keyLength);
        }
        pooling_ = rc == kBasePoolNotTaken;
        switch (rc) {
        case 0: return SQL_SUCCESS;
        case 1: return SQL_SUCCESS_WITH_INFO;
        case kBasePoolNotTaken: return kBasePoolNotTaken;
        default: return SQL_ERROR;
        }
    }

    // After the connect: a connected connection joins the pool, and a failed
    // one frees the slot the take reserved for it. True when it joined.
    bool put(SQLRETURN rc) noexcept
    {
        if (!pooling_)
            return false;
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
            manager_->freeReservation(handle_, poolIndex_, slotIndex_);
            return false;
        }
        KaErrorListScope scope(&handle_->diagnostics);
        ConnectPoolKey* given = record;
        record = nullptr;
        return manager_->putConnection(handle_, &poolIndex_, slotIndex_, key, keyLength, given, generation_) == 0 &&
               poolIndex_ >= 0;
    }

    [[nodiscard]] int16_t copyOut(uint16_t* out, int16_t capacity, int16_t* outLength) noexcept
    {
        return manager_->copyOutConnectString(poolIndex_, out, capacity, outLength) < 0 ? 1 : 0;
    }
    void keepOut(const uint16_t* text, int64_t length) noexcept
    {
        manager_->keepOutConnectString(poolIndex_, text, length, generation_);
    }

    ConnectPoolKey* record = nullptr;
    uint16_t* key = nullptr;
    int64_t keyLength = 0;

private:
    BaseStubConnection* handle_;
    BaseConnPoolManager* manager_ = nullptr;
    int64_t poolIndex_ = -1;
    int64_t slotIndex_ = -1;
    uint64_t generation_ = 0;
    bool pooling_ = false;
    bool ownsKey_ = true;
};

// The environment a handle belongs to, for the ODBC 2 SQLSTATEs.
BaseEnv* envOfList(SQLSMALLINT type, SQLHANDLE handle) noexcept
{
    switch (type) {
    case SQL_HANDLE_ENV: return envOf(handle);
    case SQL_HANDLE_DBC: {
        BaseStubConnection* connHandle = connOf(handle);
        return connHandle != nullptr ? connHandle->env : nullptr;
    }
    case SQL_HANDLE_STMT: {
        BaseStatement* stmt = stmtOf(handle);
        return stmt != nullptr && stmt->connection != nullptr ? stmt->connection->env : nullptr;
    }
    case SQL_HANDLE_DESC: {
        BaseDescriptor* desc = descOf(handle);
        return desc != nullptr && desc->connection != nullptr ? desc->connection->env : nullptr;
    }
    default: return nullptr;
    }
}

// The diagnostics list of a handle of the given type, or null when the
// handle is not one of that type; *known is false for a type that is none
// of the four.
BaseErrorList* listOf(SQLSMALLINT type, SQLHANDLE handle, bool* known) noexcept
{
    *known = true;
    switch (type) {
    case SQL_HANDLE_ENV: {
        BaseEnv* env = envOf(handle);
        return env != nullptr ? &env->diagnostics : nullptr;
    }
    case SQL_HANDLE_DBC: {
        BaseStubConnection* connHandle = connOf(handle);
        return connHandle != nullptr ? &connHandle->diagnostics : nullptr;
    }
    case SQL_HANDLE_STMT: {
        BaseStatement* stmt = stmtOf(handle);
        return stmt != nullptr ? &stmt->diagnostics : nullptr;
    }
    case SQL_HANDLE_DESC: {
        BaseDescriptor* desc = descOf(handle);
        return desc != nullptr ? &desc->diagnostics : nullptr;
    }
    default: *known = false; return nullptr;
    }
}

// When no install directory is configured, the driver's catalogue is looked
// for beside the library: its directory, or the parent of a "lib" directory.
void installDirFromLibrary() noexcept
{
    char dir[BOS_INSTALL_DIR_SIZE];
    bosGetInstallDir(dir, sizeof dir);
    if (dir[0] != 0)
        return;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&installDirFromLibrary), &info) == 0 || info.dli_fname == nullptr)
        return;
    size_t n = std::strlen(info.dli_fname);
    if (n >= sizeof dir)
        return;
    std::memcpy(dir, info.dli_fname, n + 1);
    char* slash = std::strrchr(dir, '/');
    if (slash == nullptr)
        return;
    *slash = 0;
    char* last = std::strrchr(dir, '/');
    if (last != nullptr && last != dir && std::strcmp(last + 1, "lib") == 0)
        *last = 0;
    if (dir[0] != 0)
        bosInitInstallDir(dir);
}

[[nodiscard]] SQLRETURN allocEnv(SQLHANDLE* output) noexcept
{
    taskInit();
    // Diagnostics of this step have no handle to go to.
    BaseErrorList scratch(nullptr);
    KaErrorListScope scope(&scratch);
    // Without a registered environment class there is nothing to make.
    BaseEnvFactory factory = baseEnvFactory();
    std::unique_ptr<BaseEnv> env(factory != nullptr ? factory() : nullptr);
    // An object the set of live handles could not take would be refused
    // at its first call.
    if (env == nullptr || baseHandleKindOf(env.get()) != BaseHandleKind::env)
        return SQL_ERROR;
    installDirFromLibrary();
    char base[BOS_PATH_SIZE];
    if (!baseDriverBaseName(base, sizeof base))
        std::strcpy(base, KA_DRIVER_BASE_NAME);
    OpenStrings(base, nullptr, nullptr, &gCatalogueUsers);
    if (env->initCheck() != 0) {
        env.reset();
        CloseStrings(nullptr, &gCatalogueUsers);
        return SQL_ERROR;
    }
    *output = env.release();
    return SQL_SUCCESS;
}

[[nodiscard]] SQLRETURN allocConnection(SQLHANDLE input, SQLHANDLE* output) noexcept
{
    BaseEnv* env = envOf(input);
    if (env == nullptr)
        return SQL_INVALID_HANDLE;
    KaLockGuard guard(env->apiLock);
    env->diagnostics.clear();
    std::unique_ptr<BaseStubConnection> connHandle;
    {
        KaErrorListScope scope(&env->diagnostics);
        connHandle.reset(new BaseStubConnection(env));
    }
    if (connHandle == nullptr || baseHandleKindOf(connHandle.get()) != BaseHandleKind::connection)
        return SQL_ERROR;
    *output = connHandle.release();
    return SQL_SUCCESS;
}

// A statement or descriptor under a connected connection, made inside the
// connection's API entry. make(conn, &child) says whether it succeeded; a
// child made for a call that fails after all is given back to discard.
template <typename Child, BaseHandleKind kind, typename Make, typename Discard>
[[nodiscard]] SQLRETURN allocUnderConnection(SQLHANDLE input, SQLHANDLE* output, Make make, Discard discard) noexcept
{
    BaseStubConnection* connHandle = connOf(input);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    BaseConnection* conn = connHandle->current;
    if (conn == nullptr || !conn->isConnected())
        return notConnected(connHandle, SQL_API_SQLALLOCHANDLE);
    Child* child = nullptr;
    SQLRETURN rc = conn->runApi(SQL_API_SQLALLOCHANDLE, [&]() noexcept {
        const bool made = make(conn, &child) && baseHandleKindOf(static_cast<KaObject*>(child)) == kind;
        return made ? SQL_SUCCESS : SQL_ERROR;
    });
    if (rc == kBaseRcAgain)
        rc = SQL_ERROR;
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
        if (child != nullptr)
            discard(child);
        return rc;
    }
    *output = child;
    return rc;
}

[[nodiscard]] SQLRETURN allocStatement(SQLHANDLE input, SQLHANDLE* output) noexcept
{
    return allocUnderConnection<BaseStatement, BaseHandleKind::statement>(
        input, output, [](BaseConnection* conn, BaseStatement** stmt) { return conn->createStatement(stmt) == 0; },
        // The allocation has failed already: dropping the half-made statement
        // can add nothing the application needs to see.
        [](BaseStatement* stmt) { (void)stmt->freeStmt(SQL_DROP); });
}

[[nodiscard]] SQLRETURN allocDescriptor(SQLHANDLE input, SQLHANDLE* output) noexcept
{
    return allocUnderConnection<BaseAXDWR, BaseHandleKind::descriptor>(
        input, output,
        [](BaseConnection* conn, BaseAXDWR** desc) {
            *desc = new BaseAXDWR(conn, 0);
            return *desc != nullptr;
        },
        [](BaseAXDWR* desc) { delete desc; });
}

// A handle that must not be freed yet: HY010 on its list.
[[nodiscard]] SQLRETURN stillInUse(BaseErrorList* list, uint16_t msg, const char* what) noexcept
{
    list->clear();
    KaErrorListScope scope(list);
    KaError* record = basePostErrorMsg(kBaseIdxGeneralError, msg)->setSqlstate("HY010");
    if (what != nullptr)
        record->addParamText(what);
    return SQL_ERROR;
}

}  // namespace

extern "C" {

// ---- Handles ---------------------------------------------------------------

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output)
{
    if (output == nullptr)
        return SQL_ERROR;
    *output = nullptr;
    switch (type) {
    case SQL_HANDLE_ENV: return allocEnv(output);
    case SQL_HANDLE_DBC: return allocConnection(input, output);
    case SQL_HANDLE_STMT: return allocStatement(input, output);
    case SQL_HANDLE_DESC: return allocDescriptor(input, output);
    default: return SQL_ERROR;
    }
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle)
{
    switch (type) {
    case SQL_HANDLE_ENV: {
        BaseEnv* env = envOf(handle);
        if (env == nullptr)
            return SQL_INVALID_HANDLE;
        // Its connections point back at it.
        if (env->connectionCount != 0)
            return stillInUse(&env->diagnostics, MSG_HANDLE_STILL_IN_USE, "connection handles");
        delete env;
        CloseStrings(nullptr, &gCatalogueUsers);
        taskReleaseIniCache();
        return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
        BaseStubConnection* connHandle = connOf(handle);
        if (connHandle == nullptr)
            return SQL_INVALID_HANDLE;
        if (connHandle->current != nullptr && connHandle->current->isConnected())
            return stillInUse(&connHandle->diagnostics, MSG_CONNECTION_STILL_OPEN, nullptr);
        delete connHandle;
        return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: return onStatement(handle, [](BaseStatement* s) noexcept { return s->freeStmt(SQL_DROP); });
    case SQL_HANDLE_DESC: {
        BaseDescriptor* desc = descOf(handle);
        if (desc == nullptr)
            return SQL_INVALID_HANDLE;
        SQLRETURN rc = twice(&desc->diagnostics, [&]() noexcept { return desc->freeCheck(); });
        if (rc == SQL_SUCCESS)
            delete desc;
        return rc;
    }
    default: return SQL_ERROR;
    }
}

// ---- Environment -------------------------------------------------------------

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                                SQLINTEGER* stringLength)
{
    BaseEnv* env = envOf(handle);
    if (env == nullptr)
        return SQL_INVALID_HANDLE;
    KaLockGuard guard(env->apiLock);
    return twice(&env->diagnostics,
                 [&]() noexcept { return env->getEnvAttr(attribute, value, bufferLength, stringLength); });
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length)
{
    BaseEnv* env = envOf(handle);
    if (env == nullptr)
        return SQL_INVALID_HANDLE;
    KaLockGuard guard(env->apiLock);
    return twice(&env->diagnostics, [&]() noexcept { return env->setEnvAttr(attribute, value, length); });
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion)
{
    switch (type) {
    case SQL_HANDLE_ENV: {
        BaseEnv* env = envOf(handle);
        if (env == nullptr)
            return SQL_INVALID_HANDLE;
        KaLockGuard guard(env->apiLock);
        return twice(&env->diagnostics, [&]() noexcept { return env->endTransaction(completion); });
    }
    case SQL_HANDLE_DBC:
        return onConnection(handle, SQL_API_SQLTRANSACT,
                            [&](BaseConnection* c) noexcept { return c->endTran(completion); });
    default: {
        // A statement or descriptor handle can tell the application what was
        // wrong; anything else is no handle this function knows.
        bool known = false;
        BaseErrorList* list = listOf(type, handle, &known);
        if (list == nullptr)
            return SQL_INVALID_HANDLE;
        list->clear();
        KaErrorListScope scope(list);
        basePostErrorMsg(kBaseIdxGeneralError, MSG_INVALID_HANDLE_TYPE)->setSqlstate("HY092")->addParamSigned(type);
        return SQL_ERROR;
    }
    }
}

// ---- Diagnostics -------------------------------------------------------------

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber, SQLWCHAR* sqlstate,
                                 SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT bufferLength,
                                 SQLSMALLINT* textLength)
{
    bool known = false;
    BaseErrorList* list = listOf(type, handle, &known);
    if (!known)
        return SQL_ERROR;
    if (list == nullptr)
        return SQL_INVALID_HANDLE;
    uint16_t local[kBaseSqlstateUnits] = {};
    uint16_t* state = sqlstate != nullptr ? sqlstate : local;
    SQLRETURN rc = list->getDiagRec(recNumber, state, native, message, bufferLength, textLength);
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        BaseEnv* env = envOfList(type, handle);
        if (env != nullptr && env->odbc2Mode != 0)
            list->mapSqlStateToOdbc2W(state);
    }
    return rc;
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber, SQLSMALLINT field,
                                   SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength)
{
    bool known = false;
    BaseErrorList* list = listOf(type, handle, &known);
    if (!known)
        return SQL_ERROR;
    if (list == nullptr)
        return SQL_INVALID_HANDLE;
    SQLRETURN rc = list->getDiagField(recNumber, field, value, bufferLength, stringLength);
    if ((rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) && field == SQL_DIAG_SQLSTATE && value != nullptr &&
        bufferLength >= kBaseSqlstateUnits * 2) {
        BaseEnv* env = envOfList(type, handle);
        if (env != nullptr && env->odbc2Mode != 0)
            list->mapSqlStateToOdbc2W(static_cast<uint16_t*>(value));
    }
    return rc;
}

// ---- Connections -------------------------------------------------------------

SQLRETURN SQL_API SQLConnectW(SQLHDBC handle, SQLWCHAR* dsn, SQLSMALLINT dsnLength, SQLWCHAR* user,
                              SQLSMALLINT userLength, SQLWCHAR* password, SQLSMALLINT passwordLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    PoolConnect pool(connHandle);
    if (isDsnPoolingEnabled(dsn, dsnLength)) {
        SQLRETURN rc = pool.begin();
        if (rc == SQL_SUCCESS) {
            bool made = false;
            {
                KaErrorListScope scope(&connHandle->diagnostics);
                made = makeConnectPoolKey(dsn, dsnLength, user, userLength, password, passwordLength, &pool.record,
                                          &pool.key, &pool.keyLength) == 0;
            }
            rc = made ? pool.take() : SQL_ERROR;
        }
        if (rc != kBasePoolNotTaken)
            return rc;
    }
    if (ensurePhysical(connHandle) != SQL_SUCCESS)
        return SQL_ERROR;
    SQLRETURN rc = twice(&connHandle->diagnostics, [&]() noexcept {
        return connHandle->current->connect(dsn, dsnLength, user, userLength, password, passwordLength);
    });
    pool.put(rc);
    return rc;
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC handle, SQLHWND window, SQLWCHAR* in, SQLSMALLINT inLength, SQLWCHAR* out,
                                    SQLSMALLINT outCapacity, SQLSMALLINT* outLength, SQLUSMALLINT completion)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    PoolConnect pool(connHandle);
    int32_t pooling = 0;
    // Only a connect without a dialog is pooled: a prompt may change what
    // the string asks for.
    if (completion == SQL_DRIVER_NOPROMPT && in != nullptr && (inLength >= 0 || inLength == SQL_NTS)) {
        if (getDriverConnectPooling(in, inLength, &pooling) != 0)
            return SQL_ERROR;
    }
    if (pooling != 0) {
        pool.borrowKey(in, inLength);
        SQLRETURN rc = pool.begin();
        if (rc == SQL_SUCCESS)
            rc = pool.take();
        if (rc != kBasePoolNotTaken) {
            if ((rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) && outCapacity > 0 &&
                pool.copyOut(out, outCapacity, outLength) != 0)
                rc = SQL_ERROR;
            return rc;
        }
    }
    if (ensurePhysical(connHandle) != SQL_SUCCESS)
        return SQL_ERROR;
    SQLRETURN rc = twice(&connHandle->diagnostics, [&]() noexcept {
        return connHandle->current->driverConnect(window, in, inLength, out, outCapacity, outLength, completion);
    });
    // A cut completed string is not kept: later takes would hand it out as
    // whole.
    if (pool.put(rc) && out != nullptr && outLength != nullptr && *outLength >= 0 && *outLength < outCapacity)
        pool.keepOut(out, *outLength);
    return rc;
}

SQLRETURN SQL_API SQLBrowseConnectW(SQLHDBC handle, SQLWCHAR* in, SQLSMALLINT inLength, SQLWCHAR* out,
                                    SQLSMALLINT outCapacity, SQLSMALLINT* outLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (ensurePhysical(connHandle) != SQL_SUCCESS)
        return SQL_ERROR;
    SQLRETURN rc = connHandle->current->browseConnect(in, inLength, out, outCapacity, outLength);
    return rc == kBaseRcAgain ? SQL_ERROR : rc;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC handle)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    SQLRETURN result = SQL_SUCCESS;
    BaseConnPoolManager* manager = basePoolManager();
    // Connections other than the current one (a standby) go away; the
    // current one stays attached for a later connect, unless it goes back
    // to its pool.
    KaNode* node = connHandle->connections.first();
    size_t count = connHandle->connections.count;
    for (size_t i = 0; i < count && node != nullptr; ++i) {
        auto* conn = static_cast<BaseConnection*>(node);
        node = i + 1 < count ? node->next : nullptr;
        bool current = conn == connHandle->current;
        if (manager != nullptr && conn->pooled != 0) {
            SQLRETURN rc = manager->giveBack(connHandle, conn);
            if (current) {
                result = rc;
                if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
                    return rc;
            }
            continue;
        }
        // The disconnect keeps what the application set for the handle's
        // next connect before it drops the recorded settings.
        SQLRETURN rc = twice(&connHandle->diagnostics, [&]() noexcept { return conn->disconnect(); });
        if (current) {
            result = rc;
        } else {
            connHandle->removeConnection(conn);
            delete conn;
        }
    }
    return result;
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                                     SQLINTEGER* stringLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr)
        return SQL_NO_DATA;
    return poolRetry(handleConnection, neverReplayable, connHandle, &connHandle->diagnostics, [&]() noexcept {
        return connHandle->current != nullptr
                   ? connHandle->current->getConnectAttr(attribute, value, bufferLength, stringLength)
                   : static_cast<SQLRETURN>(SQL_NO_DATA);
    });
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr)
        return settle(connHandle->setBufferedAttr(attribute, value, length), &connHandle->diagnostics);
    return poolRetry(handleConnection, neverReplayable, connHandle, &connHandle->diagnostics, [&]() noexcept {
        return connHandle->current != nullptr ? connHandle->current->setConnectAttr(attribute, value, length)
                                              : connHandle->setBufferedAttr(attribute, value, length);
    });
}

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC handle, SQLUSMALLINT function, SQLUSMALLINT* supported)
{
    return onConnection(handle, SQL_API_SQLGETFUNCTIONS,
                        [&](BaseConnection* c) noexcept { return c->getFunctions(function, supported); });
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC handle, SQLUSMALLINT infoType, SQLPOINTER value, SQLSMALLINT bufferLength,
                              SQLSMALLINT* stringLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr)
        return baseGetInfoW(connHandle, infoType, value, bufferLength, stringLength);
    return twice(&connHandle->diagnostics,
                 [&]() noexcept { return connHandle->current->getInfo(infoType, value, bufferLength, stringLength); });
}

SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC handle, SQLWCHAR* in, SQLINTEGER inLength, SQLWCHAR* out,
                                SQLINTEGER outCapacity, SQLINTEGER* outLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr)
        return notConnected(connHandle, SQL_API_SQLNATIVESQL);
    return poolRetry(handleConnection, neverReplayable, connHandle, &connHandle->diagnostics, [&]() noexcept {
        return connHandle->current != nullptr
                   ? connHandle->current->nativeSql(in, inLength, out, outCapacity, outLength)
                   : notConnected(connHandle, SQL_API_SQLNATIVESQL);
    });
}

// ---- Statements --------------------------------------------------------------

SQLRETURN SQL_API SQLBindCol(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER value, SQLLEN bufferLength,
                             SQLLEN* indicator)
{
    return onStatement(
        h, [&](BaseStatement* s) noexcept { return s->bindCol(column, cType, value, bufferLength, indicator); });
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT h, SQLUSMALLINT param, SQLSMALLINT ioType, SQLSMALLINT cType,
                                   SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT digits, SQLPOINTER value,
                                   SQLLEN bufferLength, SQLLEN* indicator)
{
    return onStatement(h, [&](BaseStatement* s) noexcept {
        return s->bindParameter(param, ioType, cType, sqlType, columnSize, digits, value, bufferLength, indicator);
    });
}

SQLRETURN SQL_API SQLBulkOperations(SQLHSTMT h, SQLSMALLINT operation)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->bulkOperations(operation); });
}

SQLRETURN SQL_API SQLCancel(SQLHSTMT h)
{
    return onStatement(h, [](BaseStatement* s) noexcept { return s->cancel(); });
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT h)
{
    return onStatement(h, [](BaseStatement* s) noexcept { return s->closeCursorApi(); });
}

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER charValue,
                                   SQLSMALLINT bufferLength, SQLSMALLINT* stringLength, SQLLEN* numericValue)
{
    return onStatement(h, [&](BaseStatement* s) noexcept {
        return s->colAttribute(column, field, charValue, bufferLength, stringLength, numericValue);
    });
}

SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                       SQLSMALLINT schemaLength, SQLWCHAR* table, SQLSMALLINT tableLength,
                                       SQLWCHAR* column, SQLSMALLINT columnLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->columnPrivileges(catalog, catalogLength, schema, schemaLength, table, tableLength, column,
                                   columnLength);
    });
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                              SQLSMALLINT schemaLength, SQLWCHAR* table, SQLSMALLINT tableLength, SQLWCHAR* column,
                              SQLSMALLINT columnLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->columns(catalog, catalogLength, schema, schemaLength, table, tableLength, column, columnLength);
    });
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT h, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT bufferLength,
                                  SQLSMALLINT* nameLength, SQLSMALLINT* dataType, SQLULEN* columnSize,
                                  SQLSMALLINT* digits, SQLSMALLINT* nullable)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->describeCol(column, name, bufferLength, nameLength, dataType, columnSize, digits, nullable);
    });
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT h, SQLUSMALLINT param, SQLSMALLINT* dataType, SQLULEN* size,
                                   SQLSMALLINT* digits, SQLSMALLINT* nullable)
{
    return onStatementRetry(
        h, [&](BaseStatement* s) noexcept { return s->describeParam(param, dataType, size, digits, nullable); });
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT h, SQLWCHAR* text, SQLINTEGER length)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept { return s->execDirect(text, length); });
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT h)
{
    return onStatementRetry(h, [](BaseStatement* s) noexcept { return s->execute(); });
}

SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT h, SQLUSMALLINT fetchType, SQLLEN row, SQLULEN* rowCount,
                                   SQLUSMALLINT* rowStatus)
{
    return onStatement(
        h, [&](BaseStatement* s) noexcept { return s->extendedFetch(fetchType, row, rowCount, rowStatus); });
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT h, SQLSMALLINT orientation, SQLLEN offset)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->fetchScroll(orientation, offset); });
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT h)
{
    return onStatement(h, [](BaseStatement* s) noexcept { return s->fetch(); });
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT h, SQLWCHAR* pkCatalog, SQLSMALLINT pkCatalogLength, SQLWCHAR* pkSchema,
                                  SQLSMALLINT pkSchemaLength, SQLWCHAR* pkTable, SQLSMALLINT pkTableLength,
                                  SQLWCHAR* fkCatalog, SQLSMALLINT fkCatalogLength, SQLWCHAR* fkSchema,
                                  SQLSMALLINT fkSchemaLength, SQLWCHAR* fkTable, SQLSMALLINT fkTableLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->foreignKeys(pkCatalog, pkCatalogLength, pkSchema, pkSchemaLength, pkTable, pkTableLength, fkCatalog,
                              fkCatalogLength, fkSchema, fkSchemaLength, fkTable, fkTableLength);
    });
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT option)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->freeStmt(option); });
}

SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT h, SQLWCHAR* name, SQLSMALLINT bufferLength, SQLSMALLINT* nameLength)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->getCursorName(name, bufferLength, nameLength); });
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER value, SQLLEN bufferLength,
                             SQLLEN* indicator)
{
    return onStatement(
        h, [&](BaseStatement* s) noexcept { return s->getData(column, cType, value, bufferLength, indicator); });
}

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                                  SQLINTEGER* stringLength)
{
    return onStatementRetry(
        h, [&](BaseStatement* s) noexcept { return s->getStmtAttr(attribute, value, bufferLength, stringLength); });
}

SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT h, SQLSMALLINT dataType)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept { return s->getTypeInfo(dataType); });
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT h)
{
    return onStatement(h, [](BaseStatement* s) noexcept { return s->moreResults(); });
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT h, SQLSMALLINT* count)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept { return s->numParams(count); });
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT h, SQLSMALLINT* count)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept { return s->numResultCols(count); });
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT h, SQLPOINTER* value)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->paramData(value); });
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT h, SQLWCHAR* text, SQLINTEGER length)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept { return s->prepare(text, length); });
}

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                  SQLSMALLINT schemaLength, SQLWCHAR* table, SQLSMALLINT tableLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->primaryKeys(catalog, catalogLength, schema, schemaLength, table, tableLength);
    });
}

SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                       SQLSMALLINT schemaLength, SQLWCHAR* procedure, SQLSMALLINT procedureLength,
                                       SQLWCHAR* column, SQLSMALLINT columnLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->procedureColumns(catalog, catalogLength, schema, schemaLength, procedure, procedureLength, column,
                                   columnLength);
    });
}

SQLRETURN SQL_API SQLProceduresW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                 SQLSMALLINT schemaLength, SQLWCHAR* procedure, SQLSMALLINT procedureLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->procedures(catalog, catalogLength, schema, schemaLength, procedure, procedureLength);
    });
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT h, SQLPOINTER data, SQLLEN length)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->putData(data, length); });
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT h, SQLLEN* count)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->rowCountApi(count); });
}

SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT h, SQLWCHAR* name, SQLSMALLINT length)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->setCursorName(name, length); });
}

SQLRETURN SQL_API SQLSetPos(SQLHSTMT h, SQLSETPOSIROW row, SQLUSMALLINT operation, SQLUSMALLINT lockType)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->setPos(row, operation, lockType); });
}

SQLRETURN SQL_API SQLSetScrollOptions(SQLHSTMT h, SQLUSMALLINT concurrency, SQLLEN keyset, SQLUSMALLINT rowset)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->setScrollOptions(concurrency, keyset, rowset); });
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->setStmtAttr(attribute, value, length); });
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT h, SQLUSMALLINT identifierType, SQLWCHAR* catalog,
                                     SQLSMALLINT catalogLength, SQLWCHAR* schema, SQLSMALLINT schemaLength,
                                     SQLWCHAR* table, SQLSMALLINT tableLength, SQLUSMALLINT scope,
                                     SQLUSMALLINT nullable)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->specialColumns(identifierType, catalog, catalogLength, schema, schemaLength, table, tableLength,
                                 scope, nullable);
    });
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                 SQLSMALLINT schemaLength, SQLWCHAR* table, SQLSMALLINT tableLength,
                                 SQLUSMALLINT unique, SQLUSMALLINT reserved)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->statistics(catalog, catalogLength, schema, schemaLength, table, tableLength, unique, reserved);
    });
}

SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                      SQLSMALLINT schemaLength, SQLWCHAR* table, SQLSMALLINT tableLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->tablePrivileges(catalog, catalogLength, schema, schemaLength, table, tableLength);
    });
}

SQLRETURN SQL_API SQLTablesW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                             SQLSMALLINT schemaLength, SQLWCHAR* table, SQLSMALLINT tableLength, SQLWCHAR* type,
                             SQLSMALLINT typeLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->tables(catalog, catalogLength, schema, schemaLength, table, tableLength, type, typeLength);
    });
}

// ---- Descriptors -------------------------------------------------------------

SQLRETURN SQL_API SQLCopyDesc(SQLHDESC source, SQLHDESC target)
{
    BaseDescriptor* from = descOf(source);
    if (from == nullptr)
        return SQL_INVALID_HANDLE;
    return onDescriptor(target, [&](BaseDescriptor* d) noexcept { return d->copyDesc(from); });
}

SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC h, SQLSMALLINT recNumber, SQLSMALLINT field, SQLPOINTER value,
                                   SQLINTEGER bufferLength, SQLINTEGER* stringLength)
{
    return onDescriptor(h, [&](BaseDescriptor* d) noexcept {
        return d->getDescField(recNumber, field, value, bufferLength, stringLength);
    });
}

SQLRETURN SQL_API SQLGetDescRecW(SQLHDESC h, SQLSMALLINT recNumber, SQLWCHAR* name, SQLSMALLINT bufferLength,
                                 SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLSMALLINT* subType, SQLLEN* length,
                                 SQLSMALLINT* precision, SQLSMALLINT* scale, SQLSMALLINT* nullable)
{
    return onDescriptor(h, [&](BaseDescriptor* d) noexcept {
        return d->getDescRec(recNumber, name, bufferLength, nameLength, type, subType, length, precision, scale,
                             nullable);
    });
}

SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC h, SQLSMALLINT recNumber, SQLSMALLINT field, SQLPOINTER value,
                                   SQLINTEGER bufferLength)
{
    return onDescriptor(
        h, [&](BaseDescriptor* d) noexcept { return d->setDescField(recNumber, field, value, bufferLength); });
}

SQLRETURN SQL_API SQLSetDescRec(SQLHDESC h, SQLSMALLINT recNumber, SQLSMALLINT type, SQLSMALLINT subType, SQLLEN length,
                                SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data, SQLLEN* stringLength,
                                SQLLEN* indicator)
{
    return onDescriptor(h, [&](BaseDescriptor* d) noexcept {
        return d->setDescRec(recNumber, type, subType, length, precision, scale, data, stringLength, indicator);
    });
}

}  // extern "C"
