// The environment handle object and the state all environments share.
#include "odbc/baseenv.h"

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <cstring>

#include "foundation/kaowner.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basehandles.h"
#include "platform/boslib.h"

namespace {

// Process-wide locks, made while the library loads and gone at exit.
KaCriticalSection gEnvLock(0, kKaLockPlain);
KaCriticalSection gPoolManagerLock(0, kKaLockPlain);

// Constant-initialised, so that a registration from another object's static
// initialiser finds it ready whatever the order of initialisation.
std::atomic<BaseEnvFactory> gEnvFactory{nullptr};

void putInt32(void* value, int32_t* stringLength, int32_t v) noexcept
{
    if (value != nullptr)
        std::memcpy(value, &v, sizeof v);
    if (stringLength != nullptr)
        *stringLength = static_cast<int32_t>(sizeof v);
}

// Makes the lock table; null when memory ran out.
KaCriticalSection* makeLockTable() noexcept
{
    void* block = ramAlloc(sizeof(KaCriticalSection) * kBaseLockTableSize);
    if (block == nullptr)
        return nullptr;
    auto* table = static_cast<KaCriticalSection*>(block);
    for (int32_t i = 0; i < kBaseLockTableSize; ++i)
        new (&table[i]) KaCriticalSection(0, kKaLockPlain);
    return table;
}

void destroyLockTable(KaCriticalSection* table) noexcept
{
    for (int32_t i = kBaseLockTableSize; i-- > 0;)
        table[i].~KaCriticalSection();
    ramFree(table);
}

}  // namespace

KaCriticalSection& baseEnvLock() noexcept
{
    return gEnvLock;
}

KaCriticalSection& basePoolManagerLock() noexcept
{
    return gPoolManagerLock;
}

KaCriticalSection* baseLockTable() noexcept
{
    KaLockGuard guard(gEnvLock);
    return static_cast<KaCriticalSection*>(taskGetSlot(KA_TASK_SLOT_LOCK_TABLE));
}

int64_t baseLiveEnvironments() noexcept
{
    KaLockGuard guard(gEnvLock);
    return reinterpret_cast<intptr_t>(taskGetSlot(KA_TASK_SLOT_ENV_COUNT));
}

BaseEnvFactory baseSetEnvFactory(BaseEnvFactory factory) noexcept
{
    return gEnvFactory.exchange(factory, std::memory_order_acq_rel);
}

BaseEnvFactory baseEnvFactory() noexcept
{
    return gEnvFactory.load(std::memory_order_acquire);
}

bool baseDriverBaseName(char* out, size_t size) noexcept
{
    if (out == nullptr || size == 0)
        return false;
    out[0] = 0;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&baseDriverBaseName), &info) == 0 || info.dli_fname == nullptr)
        return false;
    const char* name = std::strrchr(info.dli_fname, '/');
    name = name != nullptr ? name + 1 : info.dli_fname;
    size_t n = std::strlen(name);
    // The catalogue and the setup library are named after the file without
    // its ".so" (and any version suffix after it).
    if (const char* so = std::strstr(name, ".so"); so != nullptr)
        n = static_cast<size_t>(so - name);
    if (n == 0 || n >= size)
        return false;
    std::memcpy(out, name, n);
    out[n] = 0;
    return true;
}

BaseEnv::BaseEnv(int32_t lockIndex) noexcept
    : diagnostics(nullptr), connectionCount(0), lockTableIndex(lockIndex), odbc2Mode(0)
{
    (void)baseHandleAdd(static_cast<KaObject*>(this), BaseHandleKind::env);
    KaLockGuard guard(gEnvLock);
    auto live = reinterpret_cast<intptr_t>(taskGetSlot(KA_TASK_SLOT_ENV_COUNT));
    if (live == 0) {
        taskSetSlot(KA_TASK_SLOT_LOCK_TABLE, makeLockTable());
        bosInitInstallDir(nullptr);
    }
    taskSetSlot(KA_TASK_SLOT_ENV_COUNT, reinterpret_cast<void*>(live + 1));
}

BaseEnv::~BaseEnv()
{
    baseHandleRemove(static_cast<KaObject*>(this));
    {
        KaLockGuard guard(gEnvLock);
        auto live = reinterpret_cast<intptr_t>(taskGetSlot(KA_TASK_SLOT_ENV_COUNT));
        if (live > 0)
            --live;
        taskSetSlot(KA_TASK_SLOT_ENV_COUNT, reinterpret_cast<void*>(live));
        if (live == 0) {
            auto* table = static_cast<KaCriticalSection*>(taskGetSlot(KA_TASK_SLOT_LOCK_TABLE));
            taskSetSlot(KA_TASK_SLOT_LOCK_TABLE, nullptr);
            if (table != nullptr)
                destroyLockTable(table);
        }
    }
    // The handles are the application's to free; a handle that outlives its
    // environment must not reach back into it.
    for (KaNode* node = connections.first(); node != nullptr && connections.count != 0; node = connections.first()) {
        auto* handle = static_cast<BaseStubConnection*>(node);
        connections.remove(handle);
        handle->env = nullptr;
    }
}

int16_t BaseEnv::enterApi(uint16_t apiId) noexcept
{
    diagnostics.enterApi(apiId);
    return 0;
}

int16_t BaseEnv::leaveApi(int16_t rc) noexcept
{
    return diagnostics.leaveApi(rc);
}

void BaseEnv::addConnection(BaseStubConnection* connection) noexcept
{
    if (connection == nullptr)
        return;
    KaLockGuard guard(listLock);
    connections.addLast(connection);
    ++connectionCount;
}

void BaseEnv::removeConnection(BaseStubConnection* connection) noexcept
{
    if (connection == nullptr)
        return;
    KaLockGuard guard(listLock);
    for (KaNode* node = connections.first(); node != nullptr;) {
        if (node == connection) {
            connections.remove(connection);
            --connectionCount;
            return;
        }
        node = node->next;
        if (node == connections.first())
            break;
    }
}

KaCriticalSection* BaseEnv::driverLock() const noexcept
{
    KaCriticalSection* table = baseLockTable();
    if (table == nullptr || lockTableIndex < 0 || lockTableIndex >= kBaseLockTableSize)
        return nullptr;
    return &table[lockTableIndex];
}

int16_t BaseEnv::getEnvAttr(int32_t attribute, void* value, int32_t bufferLength, int32_t* stringLength) noexcept
{
    return runApi(SQL_API_SQLGETENVATTR, [&]() noexcept -> int16_t {
        switch (attribute) {
        case SQL_ATTR_ODBC_VERSION:
            putInt32(value, stringLength, odbc2Mode != 0 ? SQL_OV_ODBC2 : SQL_OV_ODBC3);
            return SQL_SUCCESS;
        case kBaseEnvAttrOutputNtsOld:
        case SQL_ATTR_OUTPUT_NTS: putInt32(value, stringLength, SQL_TRUE); return SQL_SUCCESS;
        default: basePostError(kBaseIdxNotSupported); return SQL_ERROR;
        }
    });
}

int16_t BaseEnv::setEnvAttr(int32_t attribute, void* value, int32_t length) noexcept
{
    return runApi(SQL_API_SQLSETENVATTR, [&]() noexcept {
        // Integer attributes arrive in the pointer argument itself.
        if (attribute == SQL_ATTR_ODBC_VERSION)
            odbc2Mode = reinterpret_cast<intptr_t>(value) == SQL_OV_ODBC2 ? 1 : 0;
        return SQL_SUCCESS;
    });
}

int16_t BaseEnv::endTransaction(int16_t completionType) noexcept
{
    return runApi(SQL_API_SQLTRANSACT, [&]() noexcept -> int16_t {
        if (completionType != SQL_COMMIT && completionType != SQL_ROLLBACK) {
            basePostErrorMsg(kBaseIdxGeneralError, MSG_INVALID_TRANSACTION_CODE)
                ->setSqlstate("HY012")
                ->addParamSigned(completionType);
            return SQL_ERROR;
        }
        bool failed = false;
        // No connection handle comes or goes while the list is walked.
        KaLockGuard guard(listLock);
        size_t handles = connections.count;
        KaNode* node = connections.first();
        for (size_t i = 0; i < handles && node != nullptr; ++i, node = node->next) {
            auto* handle = static_cast<BaseStubConnection*>(node);
            size_t physical = handle->connections.count;
            KaNode* c = handle->connections.first();
            for (size_t j = 0; j < physical && c != nullptr; ++j, c = c->next) {
                // Each connection's own diagnostics stay on its handle.
                auto* conn = static_cast<BaseConnection*>(c);
                KaErrorListScope scope(conn->callDiagnostics());
                if (conn->endTransaction(completionType) != 0)
                    failed = true;
            }
        }
        return failed ? SQL_ERROR : SQL_SUCCESS;
    });
}

int16_t BaseEnv::initCheck() noexcept
{
    return 0;
}

int16_t BaseEnv::newConnection(int32_t skipAcceptCheck, BaseConnection** out) noexcept
{
    if (out != nullptr)
        *out = nullptr;
    basePostErrorMsg(kBaseIdxGeneralError, MSG_NO_CONNECTION_CLASS);
    return SQL_ERROR;
}
