// The environment handle object and the state all environments share.
#include "odbc/baseenv.h"

#include <dlfcn.h>

#include <cstring>

#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "platform/boslib.h"

namespace {

constexpr int16_t kRcSuccess = 0;
constexpr int16_t kRcSuccessWithInfo = 1;
constexpr int16_t kRcError = -1;

constexpr int32_t kOdbcVersion2 = 2;
constexpr int32_t kOdbcVersion3 = 3;

// Process-wide locks, made while the library loads and gone at exit.
KaCriticalSection gEnvLock(0, kKaLockPlain);
KaCriticalSection gPoolManagerLock(0, kKaLockPlain);

void putInt32(void* value, int32_t* stringLength, int32_t v) noexcept
{
    if (value != nullptr)
        std::memcpy(value, &v, sizeof v);
    if (stringLength != nullptr)
        *stringLength = static_cast<int32_t>(sizeof v);
}

// Makes the 45 locks; null when memory ran out.
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
    gEnvLock.enter();
    auto* table = static_cast<KaCriticalSection*>(taskGetSlot(KA_TASK_SLOT_LOCK_TABLE));
    gEnvLock.leave();
    return table;
}

int64_t baseLiveEnvironments() noexcept
{
    gEnvLock.enter();
    auto n = reinterpret_cast<intptr_t>(taskGetSlot(KA_TASK_SLOT_ENV_COUNT));
    gEnvLock.leave();
    return n;
}

bool baseDriverBaseName(char* out, size_t size) noexcept
{
    if (out == nullptr || size == 0)
        return false;
    out[0] = 0;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&baseDriverBaseName), &info) == 0 ||
        info.dli_fname == nullptr)
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
    gEnvLock.enter();
    auto live = reinterpret_cast<intptr_t>(taskGetSlot(KA_TASK_SLOT_ENV_COUNT));
    if (live == 0) {
        taskSetSlot(KA_TASK_SLOT_LOCK_TABLE, makeLockTable());
        bosInitInstallDir(nullptr);
    }
    taskSetSlot(KA_TASK_SLOT_ENV_COUNT, reinterpret_cast<void*>(live + 1));
    gEnvLock.leave();
}

BaseEnv::~BaseEnv()
{
    gEnvLock.enter();
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
    gEnvLock.leave();
    // The handles are the application's to free; a handle that outlives its
    // environment must not reach back into it.
    for (KaNode* node = connections.first(); node != nullptr && connections.count != 0;
         node = connections.first()) {
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
    connections.addLast(connection);
    ++connectionCount;
}

void BaseEnv::removeConnection(BaseStubConnection* connection) noexcept
{
    if (connection == nullptr)
        return;
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

int16_t BaseEnv::getEnvAttr(int32_t attribute, void* value, int32_t bufferLength,
                            int32_t* stringLength) noexcept
{
    enterApi(kBaseApiGetEnvAttr);
    int16_t rc = kRcSuccess;
    switch (attribute) {
    case kBaseEnvAttrOdbcVersion:
        putInt32(value, stringLength, odbc2Mode != 0 ? kOdbcVersion2 : kOdbcVersion3);
        break;
    case kBaseEnvAttrOutputNtsOld:
    case kBaseEnvAttrOutputNts:
        putInt32(value, stringLength, 1);
        break;
    default:
        basePostError(kBaseIdxNotSupported);
        rc = kRcError;
        break;
    }
    return leaveApi(rc);
}

int16_t BaseEnv::setEnvAttr(int32_t attribute, void* value, int32_t length) noexcept
{
    enterApi(kBaseApiSetEnvAttr);
    // Integer attributes arrive in the pointer argument itself.
    if (attribute == kBaseEnvAttrOdbcVersion)
        odbc2Mode = reinterpret_cast<intptr_t>(value) == kOdbcVersion2 ? 1 : 0;
    return leaveApi(kRcSuccess);
}

int16_t BaseEnv::endTransaction(int16_t completionType) noexcept
{
    if (enterApi(kBaseApiEndTran) != 0)
        return leaveApi(kRcError);
    if (completionType != kBaseCommit && completionType != kBaseRollback) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_INVALID_TRANSACTION_CODE)
            ->setSqlstate("HY012")
            ->addParamSigned(completionType);
        return leaveApi(kRcError);
    }
    bool failed = false;
    size_t handles = connections.count;
    KaNode* node = connections.first();
    for (size_t i = 0; i < handles && node != nullptr; ++i, node = node->next) {
        auto* handle = static_cast<BaseStubConnection*>(node);
        size_t physical = handle->connections.count;
        KaNode* c = handle->connections.first();
        for (size_t j = 0; j < physical && c != nullptr; ++j, c = c->next) {
            // Each connection's own diagnostics stay on its handle.
            auto* conn = static_cast<BaseConnection*>(c);
            KaErrorPushList(conn->callDiagnostics());
            if (conn->endTransaction(completionType) != 0)
                failed = true;
            KaErrorPopList();
        }
    }
    return leaveApi(failed ? kRcError : kRcSuccess);
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
    return kRcError;
}
