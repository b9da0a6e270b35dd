// The driver's exported entry points: the ODBC functions in their Unicode
// forms, the bulk functions and the setup entry points. Each
// finds the object behind its handle, refuses a handle that is null or of
// the wrong kind with SQL_INVALID_HANDLE, and forwards to one operation of
// the object. An operation may ask to be called once more (-5); the code
// never leaves the driver.
#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/basecvt.h"
#include "convert/textcvt.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "hive/dummyenv.h"
#include "odbc/odbcapi.h"
#include "platform/bos.h"
#include "platform/boscatalog.h"
#include "platform/boslib.h"

namespace {

// The internal code with which an operation asks to be called once more.
constexpr SQLRETURN kRcAgain = -5;

// SQL_DIAG_SQLSTATE.
constexpr SQLSMALLINT kDiagSqlstate = 4;
// Units of the text buffer the bulk diagnostics read a record into.
constexpr int32_t kBulkDiagUnits = 2048;
// Bytes of the scratch buffer that measures a converted text.
constexpr int64_t kMeasureScratch = 64;

// The installer's error code for a request that could not be carried out.
constexpr uint32_t kInstallerRequestFailed = 11;
constexpr BOOL kInstallerFalse = 0;
const char kSetupUnavailable[] =
    "Data source setup is not available: this version of the driver has no setup library.";


// Reference count of the message catalogue, one per live environment.
int32_t gCatalogueUsers = 0;

KaObject* objectOf(SQLHANDLE handle) noexcept
{
    return static_cast<KaObject*>(handle);
}

// Handles are the driver's own objects; RTTI tells their kind, so that a
// handle of another kind is refused instead of being misread.
BaseEnv* envOf(SQLHANDLE handle) noexcept
{
    return handle != nullptr ? dynamic_cast<BaseEnv*>(objectOf(handle)) : nullptr;
}

BaseStubConnection* connOf(SQLHANDLE handle) noexcept
{
    if (handle == nullptr)
        return nullptr;
    auto* connHandle = dynamic_cast<BaseStubConnection*>(objectOf(handle));
    return connHandle != nullptr && connHandle->magic == kBaseStubMagic ? connHandle : nullptr;
}

BaseStatement* stmtOf(SQLHANDLE handle) noexcept
{
    return handle != nullptr ? dynamic_cast<BaseStatement*>(objectOf(handle)) : nullptr;
}

BaseDescriptor* descOf(SQLHANDLE handle) noexcept
{
    return handle != nullptr ? dynamic_cast<BaseDescriptor*>(objectOf(handle)) : nullptr;
}

// A second -5 is an operation that cannot finish: it becomes SQL_ERROR with
// a diagnostic on the handle's list.
SQLRETURN settle(SQLRETURN rc, BaseErrorList* list) noexcept
{
    if (rc != kRcAgain)
        return rc;
    if (list != nullptr) {
        KaErrorPushList(list);
        basePostErrorMsg(kBaseIdxGeneralError, MSG_OPERATION_NOT_FINISHED);
        KaErrorPopList();
    }
    return SQL_ERROR;
}

template <class Call>
SQLRETURN twice(BaseErrorList* list, Call&& call) noexcept
{
    SQLRETURN rc = call();
    if (rc == kRcAgain)
        rc = call();
    return settle(rc, list);
}

// After a pooled connection was re-established inside the call (diagnostic
// of index 50), the call runs once more on the new link.
template <class Call>
SQLRETURN poolRetry(BaseConnection* (*connection)(void*), void* owner, BaseErrorList* list,
                    Call&& call) noexcept
{
    SQLRETURN rc = call();
    BaseConnection* conn = connection(owner);
    if (rc == SQL_ERROR && conn != nullptr && conn->freshFromPool == 1 && list != nullptr) {
        for (size_t i = 0; i < list->recordCount(); ++i) {
            KaError* record = list->recordAt(i);
            if (record != nullptr && record->sqlstateMsg == kBaseIdxReconnected) {
                conn->freshFromPool = 0;
                conn->failoverMode = conn->configuredFailoverMode;
                rc = kRcAgain;
                break;
            }
        }
    }
    if (rc == kRcAgain)
        rc = call();
    return settle(rc, list);
}

BaseConnection* stmtConnection(void* owner) noexcept
{
    return static_cast<BaseStatement*>(owner)->connection;
}

BaseConnection* handleConnection(void* owner) noexcept
{
    return static_cast<BaseStubConnection*>(owner)->current;
}

// Statement export: the operation on the statement, with the second call.
template <class Call>
SQLRETURN onStatement(SQLHSTMT handle, Call&& call) noexcept
{
    BaseStatement* stmt = stmtOf(handle);
    if (stmt == nullptr)
        return SQL_INVALID_HANDLE;
    return twice(&stmt->diagnostics, [&]() noexcept { return call(stmt); });
}

// Statement export with the retry after a re-established pooled link.
template <class Call>
SQLRETURN onStatementRetry(SQLHSTMT handle, Call&& call) noexcept
{
    BaseStatement* stmt = stmtOf(handle);
    if (stmt == nullptr)
        return SQL_INVALID_HANDLE;
    return poolRetry(stmtConnection, stmt, &stmt->diagnostics,
                     [&]() noexcept { return call(stmt); });
}

template <class Call>
SQLRETURN onDescriptor(SQLHDESC handle, Call&& call) noexcept
{
    BaseDescriptor* desc = descOf(handle);
    if (desc == nullptr)
        return SQL_INVALID_HANDLE;
    return twice(&desc->diagnostics, [&]() noexcept { return call(desc); });
}

// The connection has no physical connection (never connected): 08003 on the
// handle.
SQLRETURN notConnected(BaseStubConnection* connHandle, uint16_t apiId) noexcept
{
    connHandle->enterApi(apiId);
    basePostNotConnected();
    return connHandle->leaveApi(SQL_ERROR);
}

// Connection export on the current physical connection.
template <class Call>
SQLRETURN onConnection(SQLHDBC handle, uint16_t apiId, Call&& call) noexcept
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr)
        return notConnected(connHandle, apiId);
    return twice(&connHandle->diagnostics,
                 [&]() noexcept { return call(connHandle->current); });
}

// Makes and attaches the physical connection for a connect when the handle
// has none; 0, or -1 with the diagnostics on the handle.
SQLRETURN ensurePhysical(BaseStubConnection* connHandle) noexcept
{
    if (connHandle->current != nullptr)
        return SQL_SUCCESS;
    connHandle->diagnostics.clear();
    KaErrorPushList(&connHandle->diagnostics);
    SQLRETURN rc = SQL_ERROR;
    BaseConnection* conn = nullptr;
    if (connHandle->env == nullptr)
        basePostNotConnected();
    else if (connHandle->env->newConnection(0, &conn) == 0 && conn != nullptr)
        rc = connHandle->setCurrentConnection(conn) == 1 ? SQL_ERROR : SQL_SUCCESS;
    KaErrorPopList();
    return rc;
}

// The environment a handle belongs to, for the ODBC 2 SQLSTATEs.
BaseEnv* envOfList(SQLSMALLINT type, SQLHANDLE handle) noexcept
{
    switch (type) {
    case SQL_HANDLE_ENV:
        return envOf(handle);
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
    default:
        return nullptr;
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
    default:
        *known = false;
        return nullptr;
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
    if (dladdr(reinterpret_cast<void*>(&installDirFromLibrary), &info) == 0 ||
        info.dli_fname == nullptr)
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

SQLRETURN allocEnv(SQLHANDLE* output) noexcept
{
    taskInit();
    // Diagnostics of this step have no handle to go to.
    BaseErrorList scratch(nullptr);
    KaErrorPushList(&scratch);
    SQLRETURN rc = SQL_ERROR;
    auto* env = new DummyEnv();
    if (env != nullptr) {
        installDirFromLibrary();
        char base[BOS_PATH_SIZE];
        if (!baseDriverBaseName(base, sizeof base))
            std::strcpy(base, "VYspark28");
        OpenStrings(base, nullptr, nullptr, &gCatalogueUsers);
        if (env->initCheck() == 0) {
            *output = env;
            rc = SQL_SUCCESS;
        } else {
            delete env;
            CloseStrings(nullptr, &gCatalogueUsers);
        }
    }
    KaErrorPopList();
    return rc;
}

SQLRETURN allocConnection(SQLHANDLE input, SQLHANDLE* output) noexcept
{
    BaseEnv* env = envOf(input);
    if (env == nullptr)
        return SQL_INVALID_HANDLE;
    env->diagnostics.clear();
    KaErrorPushList(&env->diagnostics);
    auto* connHandle = new BaseStubConnection(env);
    KaErrorPopList();
    if (connHandle == nullptr)
        return SQL_ERROR;
    *output = connHandle;
    return SQL_SUCCESS;
}

// A statement or descriptor under a connected connection, made inside the
// connection's API entry. make(conn, &child) says whether it succeeded; a
// child made for a call that fails after all is given back to discard.
template <typename Child, typename Make, typename Discard>
SQLRETURN allocUnderConnection(SQLHANDLE input, SQLHANDLE* output, Make make, Discard discard) noexcept
{
    BaseStubConnection* connHandle = connOf(input);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    BaseConnection* conn = connHandle->current;
    if (conn == nullptr || !conn->isConnected())
        return notConnected(connHandle, kBaseApiAllocHandle);
    if (conn->enterApi(kBaseApiAllocHandle) != 0)
        return conn->leaveApi(SQL_ERROR);
    Child* child = nullptr;
    SQLRETURN rc = conn->leaveApi(make(conn, &child) ? SQL_SUCCESS : SQL_ERROR);
    if (rc == kRcAgain)
        rc = SQL_ERROR;
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
        if (child != nullptr)
            discard(child);
        return rc;
    }
    *output = child;
    return rc;
}

SQLRETURN allocStatement(SQLHANDLE input, SQLHANDLE* output) noexcept
{
    return allocUnderConnection<BaseStatement>(
        input, output, [](BaseConnection* conn, BaseStatement** stmt) { return conn->createStatement(stmt) == 0; },
        [](BaseStatement* stmt) { stmt->freeStmt(SQL_DROP); });
}

SQLRETURN allocDescriptor(SQLHANDLE input, SQLHANDLE* output) noexcept
{
    return allocUnderConnection<BaseAXDWR>(
        input, output,
        [](BaseConnection* conn, BaseAXDWR** desc) {
            *desc = new BaseAXDWR(conn);
            return *desc != nullptr;
        },
        [](BaseAXDWR* desc) { delete desc; });
}

// Diagnostics of a connection handle converted into a code page; *state
// receives the narrowed SQLSTATE (six bytes).
SQLRETURN bulkDiagConverted(BaseStubConnection* connHandle, SQLSMALLINT recNumber, char* state,
                            SQLINTEGER* native, void* message, int64_t messageBytes,
                            int64_t unitBytes, SQLSMALLINT* textLength, int64_t targetCp) noexcept
{
    KaErrorList scratch;
    KaErrorPushList(&scratch);
    uint16_t stateW[kBaseSqlstateUnits] = {};
    uint16_t text[kBulkDiagUnits];
    SQLSMALLINT textUnits = 0;
    SQLRETURN rc = connHandle->diagnostics.getDiagRec(recNumber, stateW, native, text,
                                                kBulkDiagUnits, &textUnits);
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        int64_t len = textUnits < kBulkDiagUnits ? textUnits : kBulkDiagUnits - 1;
        KaIcuCache* cache =
            connHandle->current != nullptr ? &connHandle->current->icuCache : nullptr;
        int64_t produced = 0;
        int32_t truncated = 0;
        if (message != nullptr && messageBytes > 0) {
            if (baseConvertTextToBuffer(kCpUtf16LE, text, len * 2, targetCp, message,
                                        messageBytes, 0, &produced, &truncated, cache) != 0)
                rc = SQL_ERROR;
            else if (truncated != 0)
                rc = SQL_SUCCESS_WITH_INFO;
        } else if (textLength != nullptr) {
            char measure[kMeasureScratch];
            if (baseConvertTextToBuffer(kCpUtf16LE, text, len * 2, targetCp, measure,
                                        sizeof measure, 1, &produced, &truncated, cache) != 0)
                rc = SQL_ERROR;
        }
        if (rc != SQL_ERROR && textLength != nullptr) {
            int64_t units = produced / (unitBytes > 0 ? unitBytes : 1);
            *textLength = units > INT16_MAX ? INT16_MAX : static_cast<SQLSMALLINT>(units);
        }
        if (state != nullptr) {
            for (int i = 0; i < kBaseSqlstateUnits; ++i)
                state[i] = static_cast<char>(stateW[i]);
            state[kBaseSqlstateUnits - 1] = 0;
            if (connHandle->env != nullptr && connHandle->env->odbc2Mode != 0)
                connHandle->diagnostics.mapSqlStateToOdbc2(state);
        }
    }
    KaErrorPopList();
    return rc;
}

// Bytes of one character unit in a code page used for wide text.
int64_t unitBytesOf(int64_t cp) noexcept
{
    if (cp == kCpUtf32BE || cp == kCpUtf32LE)
        return 4;
    if (cp == kCpUtf16BE || cp == kCpUtf16LE || cp == kCpUtf16)
        return 2;
    return 1;
}

// Converted copies of the load's five text arguments; all are freed with it.
struct LoadTexts {
    static constexpr int kCount = 5;
    uint16_t* wide[kCount] = {};
    bool owned[kCount] = {};

    LoadTexts() noexcept = default;
    LoadTexts(const LoadTexts&) = delete;
    LoadTexts& operator=(const LoadTexts&) = delete;
    ~LoadTexts()
    {
        for (int i = 0; i < kCount; ++i)
            if (owned[i])
                ramFree(wide[i]);
    }

    // 0, or 1 after the conversion's diagnostic.
    int convert(int i, BaseConnection* conn, int64_t cp, const char* text) noexcept
    {
        if (text == nullptr)
            return 0;
        BaseTextContext context{&conn->icuCache, conn->driverTextMode, conn->appCodePage, 4, 1};
        int64_t produced = 0;
        // Wide text in a code page other than UTF-16LE still ends with a
        // zero unit of that code page's width, not with a zero byte.
        int64_t length = baseTerminatedLength(text, baseCodePageUnitWidth(cp));
        if (baseAllocWideFromCp(context, cp, text, length, &wide[i], &produced) != 0)
            return 1;
        owned[i] = true;
        return 0;
    }
};

SQLRETURN loadTable(SQLHDBC handle, const void* const texts[LoadTexts::kCount], bool wideForm,
                    SQLBIGINT errorTolerance, SQLBIGINT warningTolerance, SQLBIGINT firstRecord,
                    SQLBIGINT recordCount, SQLBIGINT readBufferKb) noexcept
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    BaseConnection* conn = connHandle->current;
    if (conn == nullptr)
        return notConnected(connHandle, kBaseApiLoadTable);
    if (conn->enterApi(kBaseApiLoadTable) != 0)
        return conn->leaveApi(SQL_ERROR);
    LoadTexts args;
    bool passThrough = wideForm && conn->wideCharCodePage == kCpUtf16LE;
    int64_t cp = wideForm ? conn->wideCharCodePage : conn->appCodePage;
    for (int i = 0; i < LoadTexts::kCount; ++i) {
        if (passThrough) {
            args.wide[i] = static_cast<uint16_t*>(const_cast<void*>(texts[i]));
        } else if (args.convert(i, conn, cp, static_cast<const char*>(texts[i])) != 0) {
            return settle(conn->leaveApi(SQL_ERROR), &connHandle->diagnostics);
        }
    }
    int16_t loaded = conn->loadTableFromFile(args.wide[0], args.wide[1], errorTolerance,
                                             warningTolerance, args.wide[2], args.wide[3],
                                             args.wide[4], firstRecord, recordCount, readBufferKb);
    return settle(conn->leaveApi(loaded == 0 ? SQL_SUCCESS : SQL_ERROR),
                  &connHandle->diagnostics);
}

SQLRETURN exportTable(SQLHDBC handle, const char* table, const uint16_t* tableW, const char* file,
                      const uint16_t* fileW, int64_t codePage, SQLBIGINT errorTolerance,
                      SQLBIGINT warningTolerance, const char* log, const uint16_t* logW) noexcept
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    BaseConnection* conn = connHandle->current;
    if (conn == nullptr)
        return notConnected(connHandle, kBaseApiExportTable);
    if (conn->enterApi(kBaseApiExportTable) != 0)
        return conn->leaveApi(SQL_ERROR);
    SQLRETURN rc = conn->exportTableToFile(table, tableW, file, fileW, codePage, errorTolerance,
                                           warningTolerance, log, logW);
    return settle(rc, &connHandle->diagnostics);
}

SQLRETURN validateTable(SQLHDBC handle, const char* table, const uint16_t* tableW,
                        const char* description, const uint16_t* descriptionW, char* messages,
                        uint16_t* messagesW, SQLINTEGER bufferLength,
                        SQLINTEGER* messageCount) noexcept
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    BaseConnection* conn = connHandle->current;
    if (conn == nullptr)
        return notConnected(connHandle, kBaseApiValidateTable);
    SQLRETURN rc = conn->validateTableFromFile(table, tableW, description, descriptionW, messages,
                                               messagesW, bufferLength, messageCount);
    return settle(rc, &connHandle->diagnostics);
}

// A handle that must not be freed yet: HY010 on its list.
SQLRETURN stillInUse(BaseErrorList* list, uint16_t msg, const char* what) noexcept
{
    list->clear();
    KaErrorPushList(list);
    KaError* record = basePostErrorMsg(kBaseIdxGeneralError, msg)->setSqlstate("HY010");
    if (what != nullptr)
        record->addParamText(what);
    KaErrorPopList();
    return SQL_ERROR;
}

// Tells the installer why a setup request failed, when the installer
// library can be reached from here.
void postInstallerError(const char* text) noexcept
{
    using PostFn = SQLRETURN (*)(DWORD, LPCSTR);
    static const char* const kNames[] = {"libodbcinst.so.2", "libodbcinst.so"};
    for (const char* name : kNames) {
        void* lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            continue;
        auto post = reinterpret_cast<PostFn>(dlsym(lib, "SQLPostInstallerError"));
        if (post != nullptr)
            post(kInstallerRequestFailed, text);
        dlclose(lib);
        return;
    }
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
    case SQL_HANDLE_ENV:
        return allocEnv(output);
    case SQL_HANDLE_DBC:
        return allocConnection(input, output);
    case SQL_HANDLE_STMT:
        return allocStatement(input, output);
    case SQL_HANDLE_DESC:
        return allocDescriptor(input, output);
    default:
        return SQL_ERROR;
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
    case SQL_HANDLE_STMT:
        return onStatement(handle, [](BaseStatement* s) noexcept { return s->freeStmt(SQL_DROP); });
    case SQL_HANDLE_DESC: {
        BaseDescriptor* desc = descOf(handle);
        if (desc == nullptr)
            return SQL_INVALID_HANDLE;
        SQLRETURN rc = twice(&desc->diagnostics, [&]() noexcept { return desc->freeCheck(); });
        if (rc == SQL_SUCCESS)
            delete desc;
        return rc;
    }
    default:
        return SQL_ERROR;
    }
}

// ---- Environment -------------------------------------------------------------

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER bufferLength, SQLINTEGER* stringLength)
{
    BaseEnv* env = envOf(handle);
    if (env == nullptr)
        return SQL_INVALID_HANDLE;
    return twice(&env->diagnostics, [&]() noexcept {
        return env->getEnvAttr(attribute, value, bufferLength, stringLength);
    });
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER length)
{
    BaseEnv* env = envOf(handle);
    if (env == nullptr)
        return SQL_INVALID_HANDLE;
    return twice(&env->diagnostics,
                 [&]() noexcept { return env->setEnvAttr(attribute, value, length); });
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion)
{
    switch (type) {
    case SQL_HANDLE_ENV: {
        BaseEnv* env = envOf(handle);
        if (env == nullptr)
            return SQL_INVALID_HANDLE;
        return twice(&env->diagnostics,
                     [&]() noexcept { return env->endTransaction(completion); });
    }
    case SQL_HANDLE_DBC:
        return onConnection(handle, kBaseApiEndTran,
                            [&](BaseConnection* c) noexcept { return c->endTran(completion); });
    default: {
        // A statement or descriptor handle can tell the application what was
        // wrong; anything else is no handle this function knows.
        bool known = false;
        BaseErrorList* list = listOf(type, handle, &known);
        if (list == nullptr)
            return SQL_INVALID_HANDLE;
        list->clear();
        KaErrorPushList(list);
        basePostErrorMsg(kBaseIdxGeneralError, MSG_INVALID_HANDLE_TYPE)
            ->setSqlstate("HY092")
            ->addParamSigned(type);
        KaErrorPopList();
        return SQL_ERROR;
    }
    }
}

// ---- Diagnostics -------------------------------------------------------------

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                 SQLWCHAR* sqlstate, SQLINTEGER* native, SQLWCHAR* message,
                                 SQLSMALLINT bufferLength, SQLSMALLINT* textLength)
{
    bool known = false;
    BaseErrorList* list = listOf(type, handle, &known);
    if (!known)
        return SQL_ERROR;
    if (list == nullptr)
        return SQL_INVALID_HANDLE;
    uint16_t local[kBaseSqlstateUnits] = {};
    uint16_t* state = sqlstate != nullptr ? sqlstate : local;
    SQLRETURN rc =
        list->getDiagRec(recNumber, state, native, message, bufferLength, textLength);
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        BaseEnv* env = envOfList(type, handle);
        if (env != nullptr && env->odbc2Mode != 0)
            list->mapSqlStateToOdbc2W(state);
    }
    return rc;
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                                   SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT bufferLength,
                                   SQLSMALLINT* stringLength)
{
    bool known = false;
    BaseErrorList* list = listOf(type, handle, &known);
    if (!known)
        return SQL_ERROR;
    if (list == nullptr)
        return SQL_INVALID_HANDLE;
    SQLRETURN rc = list->getDiagField(recNumber, field, value, bufferLength, stringLength);
    if ((rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) && field == kDiagSqlstate &&
        value != nullptr && bufferLength >= kBaseSqlstateUnits * 2) {
        BaseEnv* env = envOfList(type, handle);
        if (env != nullptr && env->odbc2Mode != 0)
            list->mapSqlStateToOdbc2W(static_cast<uint16_t*>(value));
    }
    return rc;
}

// ---- Connections -------------------------------------------------------------

SQLRETURN SQL_API SQLConnectW(SQLHDBC handle, SQLWCHAR* dsn, SQLSMALLINT dsnLength,
                              SQLWCHAR* user, SQLSMALLINT userLength, SQLWCHAR* password,
                              SQLSMALLINT passwordLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (ensurePhysical(connHandle) != SQL_SUCCESS)
        return SQL_ERROR;
    return twice(&connHandle->diagnostics, [&]() noexcept {
        return connHandle->current->connect(dsn, dsnLength, user, userLength, password,
                                      passwordLength);
    });
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC handle, SQLHWND window, SQLWCHAR* in,
                                    SQLSMALLINT inLength, SQLWCHAR* out, SQLSMALLINT outCapacity,
                                    SQLSMALLINT* outLength, SQLUSMALLINT completion)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (ensurePhysical(connHandle) != SQL_SUCCESS)
        return SQL_ERROR;
    return twice(&connHandle->diagnostics, [&]() noexcept {
        return connHandle->current->driverConnect(window, in, inLength, out, outCapacity,
                                                  outLength, completion);
    });
}

SQLRETURN SQL_API SQLBrowseConnectW(SQLHDBC handle, SQLWCHAR* in, SQLSMALLINT inLength,
                                    SQLWCHAR* out, SQLSMALLINT outCapacity,
                                    SQLSMALLINT* outLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (ensurePhysical(connHandle) != SQL_SUCCESS)
        return SQL_ERROR;
    SQLRETURN rc =
        connHandle->current->browseConnect(in, inLength, out, outCapacity, outLength);
    return rc == kRcAgain ? SQL_ERROR : rc;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC handle)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    SQLRETURN result = SQL_SUCCESS;
    // Connections other than the current one (a standby) go away; the
    // current one stays attached for a later connect.
    KaNode* node = connHandle->connections.first();
    size_t count = connHandle->connections.count;
    for (size_t i = 0; i < count && node != nullptr; ++i) {
        auto* conn = static_cast<BaseConnection*>(node);
        node = i + 1 < count ? node->next : nullptr;
        SQLRETURN rc =
            twice(&connHandle->diagnostics, [&]() noexcept { return conn->disconnect(); });
        if (conn == connHandle->current) {
            result = rc;
        } else {
            connHandle->removeConnection(conn);
            delete conn;
        }
    }
    return result;
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER bufferLength, SQLINTEGER* stringLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr)
        return SQL_NO_DATA;
    return poolRetry(handleConnection, connHandle, &connHandle->diagnostics, [&]() noexcept {
        return connHandle->current != nullptr
                   ? connHandle->current->getConnectAttr(attribute, value, bufferLength,
                                                         stringLength)
                   : static_cast<SQLRETURN>(SQL_NO_DATA);
    });
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER length)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr)
        return settle(connHandle->setBufferedAttr(attribute, value, length),
                      &connHandle->diagnostics);
    return poolRetry(handleConnection, connHandle, &connHandle->diagnostics, [&]() noexcept {
        return connHandle->current != nullptr
                   ? connHandle->current->setConnectAttr(attribute, value, length)
                   : connHandle->setBufferedAttr(attribute, value, length);
    });
}

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC handle, SQLUSMALLINT function, SQLUSMALLINT* supported)
{
    return onConnection(handle, kBaseApiGetFunctions, [&](BaseConnection* c) noexcept {
        return c->getFunctions(function, supported);
    });
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC handle, SQLUSMALLINT infoType, SQLPOINTER value,
                              SQLSMALLINT bufferLength, SQLSMALLINT* stringLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr) {
        connHandle->enterApi(kBaseApiGetInfo);
        SQLRETURN rc = baseAnswerBasicInfo(nullptr, infoType, value, bufferLength, stringLength);
        return connHandle->leaveApi(rc);
    }
    return twice(&connHandle->diagnostics, [&]() noexcept {
        return connHandle->current->getInfo(infoType, value, bufferLength, stringLength);
    });
}

SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC handle, SQLWCHAR* in, SQLINTEGER inLength, SQLWCHAR* out,
                                SQLINTEGER outCapacity, SQLINTEGER* outLength)
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    if (connHandle->current == nullptr)
        return notConnected(connHandle, kBaseApiNativeSql);
    return poolRetry(handleConnection, connHandle, &connHandle->diagnostics, [&]() noexcept {
        return connHandle->current != nullptr
                   ? connHandle->current->nativeSql(in, inLength, out, outCapacity, outLength)
                   : notConnected(connHandle, kBaseApiNativeSql);
    });
}

// ---- Statements --------------------------------------------------------------

SQLRETURN SQL_API SQLBindCol(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER value,
                             SQLLEN bufferLength, SQLLEN* indicator)
{
    return onStatement(h, [&](BaseStatement* s) noexcept {
        return s->bindCol(column, cType, value, bufferLength, indicator);
    });
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT h, SQLUSMALLINT param, SQLSMALLINT ioType,
                                   SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN columnSize,
                                   SQLSMALLINT digits, SQLPOINTER value, SQLLEN bufferLength,
                                   SQLLEN* indicator)
{
    return onStatement(h, [&](BaseStatement* s) noexcept {
        return s->bindParameter(param, ioType, cType, sqlType, columnSize, digits, value,
                                bufferLength, indicator);
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

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT field,
                                   SQLPOINTER charValue, SQLSMALLINT bufferLength,
                                   SQLSMALLINT* stringLength, SQLLEN* numericValue)
{
    return onStatement(h, [&](BaseStatement* s) noexcept {
        return s->colAttribute(column, field, charValue, bufferLength, stringLength,
                               numericValue);
    });
}

SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                       SQLWCHAR* schema, SQLSMALLINT schemaLength,
                                       SQLWCHAR* table, SQLSMALLINT tableLength,
                                       SQLWCHAR* column, SQLSMALLINT columnLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->columnPrivileges(catalog, catalogLength, schema, schemaLength, table,
                                   tableLength, column, columnLength);
    });
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                              SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                              SQLSMALLINT tableLength, SQLWCHAR* column, SQLSMALLINT columnLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->columns(catalog, catalogLength, schema, schemaLength, table, tableLength,
                          column, columnLength);
    });
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT h, SQLUSMALLINT column, SQLWCHAR* name,
                                  SQLSMALLINT bufferLength, SQLSMALLINT* nameLength,
                                  SQLSMALLINT* dataType, SQLULEN* columnSize, SQLSMALLINT* digits,
                                  SQLSMALLINT* nullable)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->describeCol(column, name, bufferLength, nameLength, dataType, columnSize,
                              digits, nullable);
    });
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT h, SQLUSMALLINT param, SQLSMALLINT* dataType,
                                   SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->describeParam(param, dataType, size, digits, nullable);
    });
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT h, SQLWCHAR* text, SQLINTEGER length)
{
    return onStatementRetry(h,
                            [&](BaseStatement* s) noexcept { return s->execDirect(text, length); });
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT h)
{
    return onStatementRetry(h, [](BaseStatement* s) noexcept { return s->execute(); });
}

SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT h, SQLUSMALLINT fetchType, SQLLEN row,
                                   SQLULEN* rowCount, SQLUSMALLINT* rowStatus)
{
    return onStatement(h, [&](BaseStatement* s) noexcept {
        return s->extendedFetch(fetchType, row, rowCount, rowStatus);
    });
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT h, SQLSMALLINT orientation, SQLLEN offset)
{
    return onStatement(
        h, [&](BaseStatement* s) noexcept { return s->fetchScroll(orientation, offset); });
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT h)
{
    return onStatement(h, [](BaseStatement* s) noexcept { return s->fetch(); });
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT h, SQLWCHAR* pkCatalog, SQLSMALLINT pkCatalogLength,
                                  SQLWCHAR* pkSchema, SQLSMALLINT pkSchemaLength,
                                  SQLWCHAR* pkTable, SQLSMALLINT pkTableLength,
                                  SQLWCHAR* fkCatalog, SQLSMALLINT fkCatalogLength,
                                  SQLWCHAR* fkSchema, SQLSMALLINT fkSchemaLength,
                                  SQLWCHAR* fkTable, SQLSMALLINT fkTableLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->foreignKeys(pkCatalog, pkCatalogLength, pkSchema, pkSchemaLength, pkTable,
                              pkTableLength, fkCatalog, fkCatalogLength, fkSchema,
                              fkSchemaLength, fkTable, fkTableLength);
    });
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT option)
{
    return onStatement(h, [&](BaseStatement* s) noexcept { return s->freeStmt(option); });
}

SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT h, SQLWCHAR* name, SQLSMALLINT bufferLength,
                                    SQLSMALLINT* nameLength)
{
    return onStatement(h, [&](BaseStatement* s) noexcept {
        return s->getCursorName(name, bufferLength, nameLength);
    });
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER value,
                             SQLLEN bufferLength, SQLLEN* indicator)
{
    return onStatement(h, [&](BaseStatement* s) noexcept {
        return s->getData(column, cType, value, bufferLength, indicator);
    });
}

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER bufferLength, SQLINTEGER* stringLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->getStmtAttr(attribute, value, bufferLength, stringLength);
    });
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

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                  SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                                  SQLSMALLINT tableLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->primaryKeys(catalog, catalogLength, schema, schemaLength, table, tableLength);
    });
}

SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                       SQLWCHAR* schema, SQLSMALLINT schemaLength,
                                       SQLWCHAR* procedure, SQLSMALLINT procedureLength,
                                       SQLWCHAR* column, SQLSMALLINT columnLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->procedureColumns(catalog, catalogLength, schema, schemaLength, procedure,
                                   procedureLength, column, columnLength);
    });
}

SQLRETURN SQL_API SQLProceduresW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                 SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* procedure,
                                 SQLSMALLINT procedureLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->procedures(catalog, catalogLength, schema, schemaLength, procedure,
                             procedureLength);
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
    return onStatement(h,
                       [&](BaseStatement* s) noexcept { return s->setCursorName(name, length); });
}

SQLRETURN SQL_API SQLSetPos(SQLHSTMT h, SQLSETPOSIROW row, SQLUSMALLINT operation,
                            SQLUSMALLINT lockType)
{
    return onStatement(
        h, [&](BaseStatement* s) noexcept { return s->setPos(row, operation, lockType); });
}

SQLRETURN SQL_API SQLSetScrollOptions(SQLHSTMT h, SQLUSMALLINT concurrency, SQLLEN keyset,
                                      SQLUSMALLINT rowset)
{
    return onStatement(h, [&](BaseStatement* s) noexcept {
        return s->setScrollOptions(concurrency, keyset, rowset);
    });
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER length)
{
    return onStatement(
        h, [&](BaseStatement* s) noexcept { return s->setStmtAttr(attribute, value, length); });
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT h, SQLUSMALLINT identifierType, SQLWCHAR* catalog,
                                     SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                     SQLSMALLINT schemaLength, SQLWCHAR* table,
                                     SQLSMALLINT tableLength, SQLUSMALLINT scope,
                                     SQLUSMALLINT nullable)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->specialColumns(identifierType, catalog, catalogLength, schema, schemaLength,
                                 table, tableLength, scope, nullable);
    });
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                 SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                                 SQLSMALLINT tableLength, SQLUSMALLINT unique,
                                 SQLUSMALLINT reserved)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->statistics(catalog, catalogLength, schema, schemaLength, table, tableLength,
                             unique, reserved);
    });
}

SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                      SQLWCHAR* schema, SQLSMALLINT schemaLength,
                                      SQLWCHAR* table, SQLSMALLINT tableLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->tablePrivileges(catalog, catalogLength, schema, schemaLength, table,
                                  tableLength);
    });
}

SQLRETURN SQL_API SQLTablesW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                             SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                             SQLSMALLINT tableLength, SQLWCHAR* type, SQLSMALLINT typeLength)
{
    return onStatementRetry(h, [&](BaseStatement* s) noexcept {
        return s->tables(catalog, catalogLength, schema, schemaLength, table, tableLength, type,
                         typeLength);
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

SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC h, SQLSMALLINT recNumber, SQLSMALLINT field,
                                   SQLPOINTER value, SQLINTEGER bufferLength,
                                   SQLINTEGER* stringLength)
{
    return onDescriptor(h, [&](BaseDescriptor* d) noexcept {
        return d->getDescField(recNumber, field, value, bufferLength, stringLength);
    });
}

SQLRETURN SQL_API SQLGetDescRecW(SQLHDESC h, SQLSMALLINT recNumber, SQLWCHAR* name,
                                 SQLSMALLINT bufferLength, SQLSMALLINT* nameLength,
                                 SQLSMALLINT* type, SQLSMALLINT* subType, SQLLEN* length,
                                 SQLSMALLINT* precision, SQLSMALLINT* scale,
                                 SQLSMALLINT* nullable)
{
    return onDescriptor(h, [&](BaseDescriptor* d) noexcept {
        return d->getDescRec(recNumber, name, bufferLength, nameLength, type, subType, length,
                             precision, scale, nullable);
    });
}

SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC h, SQLSMALLINT recNumber, SQLSMALLINT field,
                                   SQLPOINTER value, SQLINTEGER bufferLength)
{
    return onDescriptor(h, [&](BaseDescriptor* d) noexcept {
        return d->setDescField(recNumber, field, value, bufferLength);
    });
}

SQLRETURN SQL_API SQLSetDescRec(SQLHDESC h, SQLSMALLINT recNumber, SQLSMALLINT type,
                                SQLSMALLINT subType, SQLLEN length, SQLSMALLINT precision,
                                SQLSMALLINT scale, SQLPOINTER data, SQLLEN* stringLength,
                                SQLLEN* indicator)
{
    return onDescriptor(h, [&](BaseDescriptor* d) noexcept {
        return d->setDescRec(recNumber, type, subType, length, precision, scale, data,
                             stringLength, indicator);
    });
}

// ---- Bulk transfer -----------------------------------------------------------

__attribute__((visibility("default"))) SQLRETURN GetBulkDiagRecW(
    SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber, SQLWCHAR* sqlstate,
    SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT bufferLength, SQLSMALLINT* textLength)
{
    if (type != SQL_HANDLE_DBC)
        return SQL_INVALID_HANDLE;
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    int64_t cp =
        connHandle->current != nullptr ? connHandle->current->wideCharCodePage : kCpUtf16LE;
    if (cp == kCpUtf16LE)
        return SQLGetDiagRecW(type, handle, recNumber, sqlstate, native, message, bufferLength,
                              textLength);
    int64_t unit = unitBytesOf(cp);
    return bulkDiagConverted(connHandle, recNumber, reinterpret_cast<char*>(sqlstate), native,
                             message,
                             bufferLength > 0 ? static_cast<int64_t>(bufferLength) * unit : 0,
                             unit, textLength, cp);
}

__attribute__((visibility("default"))) SQLRETURN GetBulkDiagRec(
    SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber, SQLCHAR* sqlstate,
    SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT bufferLength, SQLSMALLINT* textLength)
{
    if (type != SQL_HANDLE_DBC)
        return SQL_INVALID_HANDLE;
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    int64_t cp = connHandle->current != nullptr ? connHandle->current->appCodePage : kCpLatin1;
    return bulkDiagConverted(connHandle, recNumber, reinterpret_cast<char*>(sqlstate), native,
                             message, bufferLength > 0 ? bufferLength : 0, 1, textLength, cp);
}

__attribute__((visibility("default"))) SQLRETURN ExportTableToFile(
    SQLHDBC handle, const SQLCHAR* table, const SQLCHAR* file, SQLINTEGER codePage,
    SQLBIGINT errorTolerance, SQLBIGINT warningTolerance, const SQLCHAR* log)
{
    return exportTable(handle, reinterpret_cast<const char*>(table), nullptr,
                       reinterpret_cast<const char*>(file), nullptr, codePage, errorTolerance,
                       warningTolerance, reinterpret_cast<const char*>(log), nullptr);
}

__attribute__((visibility("default"))) SQLRETURN ExportTableToFileW(
    SQLHDBC handle, const SQLWCHAR* table, const SQLWCHAR* file, SQLBIGINT codePage,
    SQLBIGINT errorTolerance, SQLBIGINT warningTolerance, const SQLWCHAR* log)
{
    return exportTable(handle, nullptr, table, nullptr, file, codePage, errorTolerance,
                       warningTolerance, nullptr, log);
}

__attribute__((visibility("default"))) SQLRETURN ValidateTableFromFile(
    SQLHDBC handle, const SQLCHAR* table, const SQLCHAR* description, SQLCHAR* messages,
    SQLINTEGER bufferLength, SQLINTEGER* messageCount)
{
    return validateTable(handle, reinterpret_cast<const char*>(table), nullptr,
                         reinterpret_cast<const char*>(description), nullptr,
                         reinterpret_cast<char*>(messages), nullptr, bufferLength, messageCount);
}

__attribute__((visibility("default"))) SQLRETURN ValidateTableFromFileW(
    SQLHDBC handle, const SQLWCHAR* table, const SQLWCHAR* description, SQLWCHAR* messages,
    SQLINTEGER bufferLength, SQLINTEGER* messageCount)
{
    return validateTable(handle, nullptr, table, nullptr, description, nullptr, messages,
                         bufferLength, messageCount);
}

__attribute__((visibility("default"))) SQLRETURN LoadTableFromFile(
    SQLHDBC handle, const SQLCHAR* table, const SQLCHAR* dataFile, SQLBIGINT errorTolerance,
    SQLBIGINT warningTolerance, const SQLCHAR* description, const SQLCHAR* log,
    const SQLCHAR* discard, SQLBIGINT firstRecord, SQLBIGINT recordCount,
    SQLBIGINT readBufferKb)
{
    const void* texts[LoadTexts::kCount] = {table, dataFile, description, log, discard};
    return loadTable(handle, texts, false, errorTolerance, warningTolerance, firstRecord,
                     recordCount, readBufferKb);
}

__attribute__((visibility("default"))) SQLRETURN LoadTableFromFileW(
    SQLHDBC handle, const SQLWCHAR* table, const SQLWCHAR* dataFile, SQLBIGINT errorTolerance,
    SQLBIGINT warningTolerance, const SQLWCHAR* description, const SQLWCHAR* log,
    const SQLWCHAR* discard, SQLBIGINT firstRecord, SQLBIGINT recordCount,
    SQLBIGINT readBufferKb)
{
    const void* texts[LoadTexts::kCount] = {table, dataFile, description, log, discard};
    return loadTable(handle, texts, true, errorTolerance, warningTolerance, firstRecord,
                     recordCount, readBufferKb);
}

// ---- Setup ---------------------------------------------------------------------

__attribute__((visibility("default"))) BOOL ConfigDSN(HWND window, WORD request,
                                                      LPCSTR driver, LPCSTR attributes)
{
    postInstallerError(kSetupUnavailable);
    return kInstallerFalse;
}

__attribute__((visibility("default"))) BOOL ConfigFileDSN(HWND window, WORD request,
                                                          LPCSTR driver, LPCSTR attributes,
                                                          LPCSTR fileDsn)
{
    postInstallerError(kSetupUnavailable);
    return kInstallerFalse;
}

}  // extern "C"
