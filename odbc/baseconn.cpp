// The physical connection and the connection handle: construction, the
// entry and exit steps of connection calls, the operations behind the
// connection exports, transactions, buffered attributes, resource strings
// and the data-source name.
#include "odbc/baseconn.h"
#include "odbc/basehandles.h"
#include "odbc/basepool.h"
#include "odbc/kavalueparser.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/textcvt.h"
#include "foundation/codepage.h"
#include "foundation/fast.h"
#include "foundation/kaowner.h"
#include "foundation/kathread.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basetunnel.h"
#include "odbc/nativesql.h"
#include "odbc/tracebridge.h"
#include "convert/basestring.h"
#include "platform/bos.h"
#include "platform/bosname.h"
#include "platform/kaini.h"
#include "platform/kainiimage.h"
#include "platform/katracing.h"
#include "sql/basesql.h"
#include "sql/escape.h"

namespace {

const char kNotOverridden[] = " Driver failed to override getDriverResourceStr";

// What the entry steps of the calling thread locked, innermost last, so that
// each exit step releases exactly what its own entry took even when another
// thread switched the handle's locking off in between. Calls nest only while
// a thread reconnects; deeper nesting than this takes no lock.
constexpr int kEntryDepth = 16;
thread_local KaCriticalSection* tEntryLocks[kEntryDepth];
thread_local int tEntryDepth = 0;

void pushEntryLock(KaCriticalSection* section) noexcept
{
    if (tEntryDepth >= kEntryDepth)
        section = nullptr;
    if (section != nullptr)
        section->enter();
    if (tEntryDepth < kEntryDepth)
        tEntryLocks[tEntryDepth] = section;
    ++tEntryDepth;
}

KaCriticalSection* popEntryLock() noexcept
{
    if (tEntryDepth == 0)
        return nullptr;
    --tEntryDepth;
    return tEntryDepth < kEntryDepth ? tEntryLocks[tEntryDepth] : nullptr;
}

// The application code page's ini value, and what "not set" reads as.
constexpr size_t kAppCodePageTextSize = 32;
const char kAppCodePageUnset[] = "-999";

// SQLGetFunctions requests for all functions at once.
constexpr uint16_t kApiAllFunctionsSize = 100;

// ODBC function numbers of the functions the driver exports.
const uint16_t kExportedFunctions[] = {
    SQL_API_SQLBINDCOL,          SQL_API_SQLCANCEL,           SQL_API_SQLCOLATTRIBUTE,
    SQL_API_SQLCONNECT,          SQL_API_SQLDESCRIBECOL,      SQL_API_SQLDISCONNECT,
    SQL_API_SQLEXECDIRECT,       SQL_API_SQLEXECUTE,          SQL_API_SQLFETCH,
    SQL_API_SQLFREESTMT,         SQL_API_SQLGETCURSORNAME,    SQL_API_SQLNUMRESULTCOLS,
    SQL_API_SQLPREPARE,          SQL_API_SQLROWCOUNT,         SQL_API_SQLSETCURSORNAME,
    SQL_API_SQLBULKOPERATIONS,   SQL_API_SQLCOLUMNS,          SQL_API_SQLDRIVERCONNECT,
    SQL_API_SQLGETDATA,          SQL_API_SQLGETFUNCTIONS,     SQL_API_SQLGETINFO,
    SQL_API_SQLGETTYPEINFO,      SQL_API_SQLPARAMDATA,        SQL_API_SQLPUTDATA,
    SQL_API_SQLSPECIALCOLUMNS,   SQL_API_SQLSTATISTICS,       SQL_API_SQLTABLES,
    SQL_API_SQLBROWSECONNECT,    SQL_API_SQLCOLUMNPRIVILEGES, SQL_API_SQLDESCRIBEPARAM,
    SQL_API_SQLEXTENDEDFETCH,    SQL_API_SQLFOREIGNKEYS,      SQL_API_SQLMORERESULTS,
    SQL_API_SQLNATIVESQL,        SQL_API_SQLNUMPARAMS,        SQL_API_SQLPRIMARYKEYS,
    SQL_API_SQLPROCEDURECOLUMNS, SQL_API_SQLPROCEDURES,       SQL_API_SQLSETPOS,
    SQL_API_SQLSETSCROLLOPTIONS, SQL_API_SQLTABLEPRIVILEGES,  SQL_API_SQLBINDPARAMETER,
    SQL_API_SQLALLOCHANDLE,      SQL_API_SQLCLOSECURSOR,      SQL_API_SQLCOPYDESC,
    SQL_API_SQLENDTRAN,          SQL_API_SQLFREEHANDLE,       SQL_API_SQLGETCONNECTATTR,
    SQL_API_SQLGETDESCFIELD,     SQL_API_SQLGETDESCREC,       SQL_API_SQLGETDIAGFIELD,
    SQL_API_SQLGETDIAGREC,       SQL_API_SQLGETENVATTR,       SQL_API_SQLGETSTMTATTR,
    SQL_API_SQLSETCONNECTATTR,   SQL_API_SQLSETDESCFIELD,     SQL_API_SQLSETDESCREC,
    SQL_API_SQLSETENVATTR,       SQL_API_SQLSETSTMTATTR,      SQL_API_SQLFETCHSCROLL,
};

bool exported(uint16_t id) noexcept
{
    for (uint16_t f : kExportedFunctions)
        if (f == id)
            return true;
    return false;
}

// Connection objects start from zeroed memory.
void* zeroedBlock(size_t size) noexcept
{
    void* block = ramAlloc(size > 0 ? size : 1);
    if (block != nullptr)
        std::memset(block, 0, size);
    return block;
}

int32_t unitLength(const uint16_t* s) noexcept
{
    int32_t n = 0;
    if (s != nullptr)
        while (s[n] != 0)
            ++n;
    return n;
}

}  // namespace

int64_t baseReadAppCodePage() noexcept
{
    char text[kAppCodePageTextSize];
    KaGetPrivateProfileStringRelease("ODBC", "IANAAPPCODEPAGE", kAppCodePageUnset, text, sizeof text, ".odbc.ini");
    if (text[0] == 0 || std::strcmp(text, kAppCodePageUnset) == 0)
        KaGetPrivateProfileStringRelease("ODBC", "IANAAPPCODEPAGE", kAppCodePageUnset, text, sizeof text,
                                         ".odbcinst.ini");
    if (std::strcmp(text, kAppCodePageUnset) == 0)
        return localeAppCodePage();
    // A value that is not a decimal number gives the default, silently.
    const char* p = text;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (*p == 0)
        return localeAppCodePage();
    int64_t value = 0;
    for (; *p != 0; ++p) {
        if (*p < '0' || *p > '9' || value > (INT32_MAX - 9) / 10)
            return localeAppCodePage();
        value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
}

KaError* basePostNotConnected() noexcept
{
    return basePostErrorMsg(kBaseIdxGeneralError, MSG_CONNECTION_NOT_OPEN)->setSqlstate("08003");
}

int16_t baseRefuseCall(BaseErrorList* list, BaseConnection* conn) noexcept
{
    list->clear();
    KaErrorListScope scope(list);
    if (conn == nullptr || !conn->isConnected())
        basePostNotConnected();
    else
        basePostErrorMsg(kBaseIdxNotSupported, MSG_FUNCTION_NOT_AVAILABLE);
    return SQL_ERROR;
}

// ---- BaseConnection ---------------------------------------------------------

void* BaseConnection::operator new(size_t size) noexcept
{
    return zeroedBlock(size);
}

void BaseConnection::operator delete(void* block) noexcept
{
    ramFree(block);
}

BaseConnection::BaseConnection(BaseEnv* owner) noexcept
    : xaState(0), connectionLock(0, kKaLockPlain), env(owner), handle(nullptr), dsnNameW(nullptr), dsnNameA(nullptr),
      accessMode(0), autocommit(SQL_AUTOCOMMIT_ON), loginTimeout(SQL_LOGIN_TIMEOUT_DEFAULT), connectionTimeout(0),
      txnIsolation(0), packetSize(0), quietMode(0), wideCharCodePage(kCodePageUtf16LE), driverTextMode(1),
      connectionFlags(0), threadModel(kBaseThreadPerConnection), appCodePage(kCodePageLatin1), failoverMode(0),
      freshFromPool(0), configuredFailoverMode(0), workarounds(0), doubleToStringPrecision(0), roundingMode(0),
      timestampTruncationBehavior(0), allowHH24(0), allowTime24(0), dbmsName(nullptr), serverNameA(nullptr),
      serverNameW(nullptr), connectionKey{}, failoverPreconnect(0)
{
    appCodePage = baseReadAppCodePage();
    // The driver manager's trace settings, as odbc.ini has them now.
    traceReadOdbcIni();
}

BaseConnection::~BaseConnection()
{
    delete memoryTracing;
    memoryTracing = nullptr;
    // Statements and descriptors cannot outlive their connection. They go
    // first: what they hold goes back to the connection's pools, emptied
    // after them.
    while (statements.count != 0) {
        KaNode* node = statements.removeFirst();
        delete node;
    }
    while (descriptors.count != 0) {
        KaNode* node = descriptors.removeFirst();
        delete node;
    }
    emptyObjectPools();
    ramFree(dsnNameW);
    ramFree(dsnNameA);
    ramFree(dbmsName);
    ramFree(serverNameA);
    ramFree(serverNameW);
    ramFree(serverTextW);
    ramFree(databaseNameW);
    ramFree(profilePathW);
    ramFree(driverNameW);
    ramFree(initializationString);
    releaseOptionTexts();
    const BaseCatalogColumn* builtIns[] = {kBaseTablesColumns, kBaseColumnsColumns, kBaseProceduresColumns,
                                           kBaseProcedureColumnsColumns};
    const BaseCatalogColumn* descriptions[] = {tablesColumns, columnsColumns, proceduresColumns,
                                               procedureColumnsColumns};
    for (size_t i = 0; i < 4; ++i)
        if (descriptions[i] != builtIns[i])
            ramFree(const_cast<BaseCatalogColumn*>(descriptions[i]));
    delete browseParser;
    delete httpClient;
    httpClient = nullptr;
    unloadTranslator();
    events.deleteAll();
    fastMemzero(connectionKey, sizeof connectionKey);
}

BaseErrorList* BaseConnection::callDiagnostics() noexcept
{
    if (handle != nullptr)
        return &handle->diagnostics;
    if (env != nullptr)
        return &env->diagnostics;
    return nullptr;
}

int16_t BaseConnection::enterApi(uint16_t apiId) noexcept
{
    KaCriticalSection* section = nullptr;
    bool off = handle != nullptr && handle->lockingOff();
    // The thread that is reconnecting the handle already holds the lock its
    // failed call took; both locks are plain mutexes, so taking either again
    // would hang the reconnect.
    bool owner = handle != nullptr && handle->ownedByCaller();
    if (threadModel == kBaseThreadPerConnection) {
        if (handle != nullptr && !off && !owner)
            section = &handle->apiLock;
    } else if (threadModel == kBaseThreadPerDriver && env != nullptr && !off && !owner) {
        section = env->driverLock();
    }
    // Held from this entry step to leaveApi, with the operation in between:
    // two functions, so no scoped guard can span it; the calling thread's
    // record tells leaveApi what to release on every path.
    pushEntryLock(section);
    BaseErrorList* list = callDiagnostics();
    if (list != nullptr) {
        list->ownerData = this;
        list->enterApi(apiId);
    }
    if (enterHook() != 0)
        return 1;
    if (xaState == 1 || xaState == 2)
        return lock() != 0 ? 1 : 0;
    return 0;
}

bool BaseConnection::hasLinkFailure(int16_t rc) noexcept
{
    return rc == SQL_ERROR && baseListHasLinkFailure(callDiagnostics());
}

int16_t BaseConnection::leaveApi(int16_t rc) noexcept
{
    BaseErrorList* list = callDiagnostics();
    if (failoverMode != 0 && handle != nullptr && handle->failoverDisabled == 0 && hasLinkFailure(rc))
        reconnectAfterLinkFailure(list);
    if (list != nullptr)
        rc = list->leaveApi(rc);
    KaCriticalSection* locked = popEntryLock();
    if (locked != nullptr)
        locked->leave();
    if (leaveHook() != 0)
        return SQL_ERROR;
    if ((xaState == 1 || xaState == 2) && unlock() != 0)
        return SQL_ERROR;
    return rc;
}

void BaseConnection::reconnectAfterLinkFailure(BaseErrorList* list) noexcept
{
    BaseStubConnection* owner = handle;
    // Two threads that see the same failure reconnect once: the second
    // finds its connection no longer current.
    KaLockGuard<KaCriticalSection> guard(owner->reconnectLock);
    if (owner->current != this)
        return;
    owner->failoverStatement = nullptr;
    // Read before the reconnect: the failure records and this connection
    // may not outlive it.
    bool unsent = baseLinkFailureUnsent(list);
    uint32_t fromPool = freshFromPool;
    if (owner->reconnect() != 0)
        return;
    BaseConnection* now = owner->current;
    // The call that found a pooled link dead is still the first on it.
    now->freshFromPool = fromPool;
    list->clear();
    bool servers = now->serverNameW != nullptr && now->serverNameW[0] != 0;
    KaError* record =
        list->postError(kBaseIdxReconnected, servers ? MSG_CONNECTION_REESTABLISHED_TO : MSG_CONNECTION_REESTABLISHED);
    if (record != nullptr && servers)
        record->addParamText(now->serverNameA != nullptr ? now->serverNameA : "");
    // Whether the lost request is safe to send again goes with the record.
    if (unsent)
        baseMarkRequestUnsent(list, 0, kBaseIdxReconnected);
}

int16_t BaseConnection::getFunctions(uint16_t functionId, uint16_t* supported) noexcept
{
    return runApi(SQL_API_SQLGETFUNCTIONS, [&]() noexcept {
        // Workaround bits hide two functions from applications that misuse
        // them; the driver says which of the exported ones it offers.
        auto hidden = [this](uint16_t f) noexcept {
            uint16_t offered = SQL_TRUE;
            if (functionSupported(f, &offered) != 0)
                offered = SQL_FALSE;
            return offered != SQL_TRUE ||
                   (f == SQL_API_SQLEXTENDEDFETCH && (workarounds & kBaseWaHideExtendedFetch) != 0) ||
                   (f == SQL_API_SQLSETDESCFIELD && (workarounds & kBaseWaHideSetDescField) != 0);
        };
        if (supported != nullptr) {
            if (functionId == SQL_API_ODBC3_ALL_FUNCTIONS) {
                std::memset(supported, 0, SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * sizeof *supported);
                for (uint16_t f : kExportedFunctions)
                    if (!hidden(f))
                        supported[f >> 4] |= static_cast<uint16_t>(1u << (f & 0xF));
            } else if (functionId == SQL_API_ALL_FUNCTIONS) {
                std::memset(supported, 0, kApiAllFunctionsSize * sizeof *supported);
                for (uint16_t f : kExportedFunctions)
                    if (f < kApiAllFunctionsSize && !hidden(f))
                        supported[f] = SQL_TRUE;
            } else {
                *supported = exported(functionId) && !hidden(functionId) ? SQL_TRUE : SQL_FALSE;
            }
        }
        return SQL_SUCCESS;
    });
}

int16_t BaseConnection::nativeSql(const uint16_t* in, int32_t inLength, uint16_t* out, int32_t outCapacity,
                                  int32_t* outLength) noexcept
{
    return baseNativeSqlW(*this, in, inLength, out, outCapacity, outLength);
}

int16_t BaseConnection::preprocessSql(BaseSqlStringW*) noexcept
{
    return 0;
}

int16_t BaseConnection::endTran(int16_t completionType) noexcept
{
    return runApi(SQL_API_SQLTRANSACT, [&]() noexcept {
        if (completionType != SQL_COMMIT && completionType != SQL_ROLLBACK) {
            basePostErrorMsg(kBaseIdxGeneralError, MSG_INVALID_TRANSACTION_CODE)
                ->setSqlstate("HY012")
                ->addParamSigned(completionType);
            return SQL_ERROR;
        }
        return endTransaction(completionType) == 1 ? SQL_ERROR : SQL_SUCCESS;
    });
}

int16_t BaseConnection::endTransaction(int16_t completionType) noexcept
{
    if (autocommit != 0 || (connectionFlags & kBaseConnTransactionActive) == 0)
        return 0;
    if (autocommitChange(completionType) != 0)
        return 1;
    connectionFlags &= ~kBaseConnTransactionActive;
    return baseEndTranCursors(this, completionType);
}

int16_t BaseConnection::beginTransaction() noexcept
{
    if (autocommit != 0 || (connectionFlags & kBaseConnTransactionActive) != 0 || xaState == 1 || xaState == 2)
        return 0;
    if (beginTranCheck() != 0)
        return 1;
    connectionFlags |= kBaseConnTransactionActive;
    return 0;
}

int16_t BaseConnection::exportTableToFile(const char* table, const uint16_t* tableW, const char* file,
                                          const uint16_t* fileW, int64_t codePage, int64_t errorTolerance,
                                          int64_t warningTolerance, const char* log, const uint16_t* logW) noexcept
{
    if (!isConnected())
        basePostNotConnected();
    else
        basePostErrorMsg(kBaseIdxNotSupported, MSG_FUNCTION_NOT_AVAILABLE);
    return SQL_ERROR;
}

int16_t BaseConnection::validateTableFromFile(const char* table, const uint16_t* tableW, const char* description,
                                              const uint16_t* descriptionW, char* messages, uint16_t* messagesW,
                                              int32_t bufferLength, int32_t* messageCount) noexcept
{
    if (!isConnected())
        basePostNotConnected();
    else
        basePostErrorMsg(kBaseIdxNotSupported, MSG_FUNCTION_NOT_AVAILABLE);
    return SQL_ERROR;
}

int16_t BaseConnection::createStatement(BaseStatement** out) noexcept
{
    // The framework's own statement; a driver's connection makes its class.
    return baseMakeStatement(this, out);
}

int16_t BaseConnection::driverLibraryName(uint16_t* out, int32_t capacity) noexcept
{
    if (out == nullptr || capacity <= 0)
        return 1;
    out[0] = 0;
    // The file name of the module the framework runs in.
    char name[BOS_PATH_SIZE];
    if (!baseDriverBaseName(name, sizeof name - 4))
        return 0;
    std::strcat(name, ".so");
    return KaLocalToUtf16(out, static_cast<size_t>(capacity), name) < 0 ? 1 : 0;
}

int32_t BaseConnection::driverResourceStrA(uint32_t id, char* out, int32_t capacity) noexcept
{
    if (out == nullptr || capacity <= 0)
        return 0;
    char text[kNumTextCapacity + sizeof kNotOverridden + 1];
    size_t n = u64ToText(text, id);
    std::memcpy(text + n, kNotOverridden, sizeof kNotOverridden);
    n += sizeof kNotOverridden - 1;
    if (n > static_cast<size_t>(capacity - 1))
        n = static_cast<size_t>(capacity - 1);
    std::memcpy(out, text, n);
    out[n] = 0;
    return static_cast<int32_t>(n);
}

int32_t BaseConnection::driverResourceStr(uint32_t id, uint16_t* out, int32_t capacity) noexcept
{
    if (out == nullptr || capacity <= 0)
        return 0;
    char text[kNumTextCapacity + sizeof kNotOverridden + 1];
    int32_t n = BaseConnection::driverResourceStrA(id, text, sizeof text);
    if (n > capacity - 1)
        n = capacity - 1;
    for (int32_t i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(text[i]);
    out[n] = 0;
    return n;
}

int32_t BaseConnection::getResourceString(uint32_t id, uint16_t* outW) noexcept
{
    if ((connectionFlags & kBaseConnUnicodeDriver) != 0) {
        driverResourceStr(id, outW, kBaseResourceTextUnits);
        outW[kBaseResourceTextUnits - 1] = 0;
        return unitLength(outW);
    }
    char narrow[kBaseResourceTextUnits * 2];
    int32_t n = driverResourceStrA(id, narrow, sizeof narrow);
    if (n < 0)
        n = 0;
    int64_t cp = driverTextMode == kBaseDriverTextUtf16  ? kCodePageUtf16LE
                 : driverTextMode == kBaseDriverTextUtf8 ? kCodePageUtf8
                                                         : appCodePage;
    int64_t produced = 0;
    int32_t truncated = 0;
    if (baseConvertTextToBuffer(cp, narrow, n, kCodePageUtf16LE, outW, kBaseResourceTextUnits * 2, 0, &produced,
                                &truncated, &icuCache) != 0) {
        outW[0] = 0;
        return 0;
    }
    outW[kBaseResourceTextUnits - 1] = 0;
    return unitLength(outW);
}

const char* BaseConnection::getDsnName() noexcept
{
    if ((dsnNameA == nullptr || dsnNameA[0] == 0) && dsnNameW != nullptr && dsnNameW[0] != 0) {
        ramFree(dsnNameA);
        dsnNameA = nullptr;
        BaseTextContext context{&icuCache, 1, appCodePage, 4, 1};
        int64_t produced = 0;
        if (baseAllocFromWide(context, dsnNameW, SQL_NTS, appCodePage, &dsnNameA, &produced, 4, 1) != 0)
            dsnNameA = ramDupWToBytes(dsnNameW, static_cast<size_t>(unitLength(dsnNameW)));
    }
    if (dsnNameA == nullptr || dsnNameA[0] == 0)
        return "Default";
    return dsnNameA;
}

int16_t BaseConnection::setDsnName(const uint16_t* textW) noexcept
{
    uint16_t* copy = nullptr;
    if (textW != nullptr) {
        size_t n = static_cast<size_t>(unitLength(textW));
        copy = static_cast<uint16_t*>(ramAlloc((n + 1) * 2));
        if (copy == nullptr)
            return 1;
        std::memcpy(copy, textW, (n + 1) * 2);
    }
    ramFree(dsnNameW);
    dsnNameW = copy;
    ramFree(dsnNameA);
    dsnNameA = nullptr;
    return 0;
}

int16_t BaseConnection::beginTranCheck() noexcept
{
    return 0;
}

int16_t BaseConnection::autocommitChange(int16_t completionType) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return 1;
}

int16_t BaseConnection::acceptNewConnection() noexcept
{
    return 0;
}

int16_t BaseConnection::bulkHook(int64_t* first, int64_t* second) noexcept
{
    if (first != nullptr)
        *first = 0;
    if (second != nullptr)
        *second = 0;
    return 0;
}

int16_t BaseConnection::enterHook() noexcept
{
    return 0;
}

int16_t BaseConnection::leaveHook() noexcept
{
    return 0;
}

// Taken in the entry step and released in the exit step of every call
// while the connection is enlisted, so held by hand, not by a scoped guard.
int16_t BaseConnection::lock() noexcept
{
    if ((connectionFlags & kBaseConnXaLocks) != 0)
        connectionLock.enter();
    return 0;
}

int16_t BaseConnection::unlock() noexcept
{
    if ((connectionFlags & kBaseConnXaLocks) != 0)
        connectionLock.leave();
    return 0;
}

int16_t BaseConnection::xaEnlist(void* transaction) noexcept
{
    basePostError(kBaseIdxNotSupported);
    return 1;
}

int16_t BaseConnection::xaDelist(void* transaction) noexcept
{
    basePostError(kBaseIdxNotSupported);
    return 1;
}

int16_t BaseConnection::loadTableFromFile(const uint16_t* table, const uint16_t* dataFile, int64_t errorTolerance,
                                          int64_t warningTolerance, const uint16_t* description, const uint16_t* log,
                                          const uint16_t* discard, int64_t firstRecord, int64_t recordCount,
                                          int64_t readBufferKb) noexcept
{
    return 1;
}

// ---- Buffered attributes ----------------------------------------------------

BaseBufferedAttr::BaseBufferedAttr(int32_t attr, intptr_t v, int32_t len, int32_t own) noexcept
    : attribute(attr), value(v), length(len), owned(own)
{}

BaseBufferedAttr::~BaseBufferedAttr()
{
    if (owned != 0)
        ramFree(reinterpret_cast<void*>(value));
}

int16_t BaseConnection::readDriverOptions(KaValueParserW* parser, void* window) noexcept
{
    return 0;
}

int16_t BaseConnection::openPhysical() noexcept
{
    basePostErrorMsg(kBaseIdxUnableToConnect, MSG_CONNECT_NOT_AVAILABLE);
    return 1;
}

int16_t BaseConnection::closePhysical() noexcept
{
    return 0;
}

int16_t BaseConnection::connectWithAttrs(void* window, uint16_t completion, KaValueParserW* parser) noexcept
{
    return completeConnect();
}

int16_t BaseConnection::promptHook(void* window, uint16_t completion, int32_t* cancelled,
                                   KaValueParserW* parser) noexcept
{
    return 0;
}

KaValueParserW* BaseConnection::optionSourceHook() noexcept
{
    return nullptr;
}

const uint16_t* BaseConnection::hostKeyword() noexcept
{
    return nullptr;
}

const uint16_t* BaseConnection::hostKeywordShort() noexcept
{
    return nullptr;
}

const uint16_t* BaseConnection::hostKeywordAlt() noexcept
{
    return nullptr;
}

int16_t BaseConnection::driverServers(uint16_t** list) noexcept
{
    *list = nullptr;
    return 0;
}

// ---- BaseStubConnection -----------------------------------------------------

void* BaseStubConnection::operator new(size_t size) noexcept
{
    return zeroedBlock(size);
}

void BaseStubConnection::operator delete(void* block) noexcept
{
    ramFree(block);
}

BaseStubConnection::BaseStubConnection(BaseEnv* owner) noexcept
    : magic(kBaseStubMagic), handleKey{}, env(owner), current(nullptr), diagnostics(nullptr), ansiApp(0),
      bufferedAttrs(kBaseBufferedAttrGrowth, KaArray::ownsElements), nextServerIndex(0), standbyReady(0),
      reconnecting(0), apiLock(0, kKaLockPlain), ownerThreadSet(0), ownerThread(kBaseNoOwnerThread),
      reconnectLock(0, kKaLockPlain), failoverStatement(nullptr), failoverDisabled(0), lockingSwitchedOff(0)
{
    (void)baseHandleAdd(static_cast<KaObject*>(this), BaseHandleKind::connection);
    if (env != nullptr)
        env->addConnection(this);
}

BaseStubConnection::~BaseStubConnection()
{
    baseHandleRemove(static_cast<KaObject*>(this));
    while (connections.count != 0) {
        auto* conn = static_cast<BaseConnection*>(connections.first());
        removeConnection(conn);
        delete conn;
    }
    bufferedAttrs.deleteAll();
    if (env != nullptr)
        env->removeConnection(this);
    magic = 0;
    fastMemzero(handleKey, sizeof handleKey);
}

int16_t BaseStubConnection::enterApi(uint16_t apiId) noexcept
{
    KaCriticalSection* section = env != nullptr && !lockingOff() ? env->driverLock() : nullptr;
    // Held until leaveApi, as in BaseConnection::enterApi.
    pushEntryLock(section);
    diagnostics.ownerData = current;
    diagnostics.enterApi(apiId);
    return 0;
}

int16_t BaseStubConnection::leaveApi(int16_t rc) noexcept
{
    rc = diagnostics.leaveApi(rc);
    KaCriticalSection* locked = popEntryLock();
    if (locked != nullptr)
        locked->leave();
    return rc;
}

void BaseStubConnection::addConnection(BaseConnection* connection) noexcept
{
    if (connection == nullptr)
        return;
    connections.addLast(connection);
    connection->handle = this;
}

void BaseStubConnection::removeConnection(BaseConnection* connection) noexcept
{
    if (connection == nullptr)
        return;
    KaNode* node = connections.first();
    for (size_t i = 0; i < connections.count && node != nullptr; ++i, node = node->next) {
        if (node == connection) {
            connections.remove(connection);
            break;
        }
    }
    if (current == connection)
        current = nullptr;
    if (connection->handle == this)
        connection->handle = nullptr;
    if (diagnostics.ownerData == connection)
        diagnostics.ownerData = current;
}

int16_t BaseStubConnection::setCurrentConnection(BaseConnection* connection) noexcept
{
    addConnection(connection);
    current = connection;
    if (ansiApp != 0)
        connection->connectionFlags |= kBaseConnAnsiApp;
    else
        connection->connectionFlags &= ~kBaseConnAnsiApp;
    connection->env = env;
    applyBufferedAttrs(connection);
    return 0;
}

BaseBufferedAttr* BaseStubConnection::findBufferedAttr(int32_t attribute) const noexcept
{
    for (size_t i = 0; i < bufferedAttrs.count; ++i) {
        auto* attr = static_cast<BaseBufferedAttr*>(bufferedAttrs.at(i));
        if (attr->attribute == attribute)
            return attr;
    }
    return nullptr;
}

int16_t BaseStubConnection::setBufferedAttr(int32_t attribute, void* value, int32_t length) noexcept
{
    return runApi(SQL_API_SQLSETCONNECTOPTION, [&]() noexcept -> int16_t {
        intptr_t kept = reinterpret_cast<intptr_t>(value);
        int32_t keptLength = length;
        int32_t owned = 0;
        switch (attribute) {
        case SQL_ATTR_ANSI_APP:
            ansiApp = reinterpret_cast<intptr_t>(value) == SQL_AA_TRUE ? 1 : 0;
            basePostError(kBaseIdxNotSupported);
            return SQL_ERROR;
        case kBaseAttrEncrypted: {
            // Its length is taken as for the translation library: bytes, or
            // SQL_NTS measured.
            int64_t units = length == SQL_NTS ? SQL_NTS : length / 2;
            if (units < 0 && units != SQL_NTS) {
                basePostError(kBaseIdxBadLength);
                return SQL_ERROR;
            }
            return setEncryptedAttr(static_cast<const uint16_t*>(value), units) == 0 ? SQL_SUCCESS : SQL_ERROR;
        }
        case kBaseAttrPoolControl:
            return basePoolControl(reinterpret_cast<intptr_t>(value)) == 0 ? SQL_SUCCESS : SQL_ERROR;
        case SQL_ATTR_TRANSLATE_LIB:
        case SQL_ATTR_CURRENT_CATALOG: {
            uint16_t* copy = nullptr;
            if (baseCopyWideAttr(value, length, &copy, &keptLength) != 0)
                return SQL_ERROR;
            kept = reinterpret_cast<intptr_t>(copy);
            owned = 1;
            break;
        }
        case kBaseAttrText: {
            uint16_t* copy = nullptr;
            int16_t failed = length == 0 ? baseWidenAttr(value, &copy, &keptLength)
                                         : baseCopyWideAttr(value, length, &copy, &keptLength);
            if (failed != 0)
                return SQL_ERROR;
            kept = reinterpret_cast<intptr_t>(copy);
            owned = 1;
            break;
        }
        default: break;
        }
        auto* attr = new BaseBufferedAttr(attribute, kept, keptLength, owned);
        if (attr == nullptr) {
            if (owned != 0)
                ramFree(reinterpret_cast<void*>(kept));
            return SQL_ERROR;
        }
        return putBufferedAttr(attr) != 0 ? SQL_ERROR : SQL_SUCCESS;
    });
}
