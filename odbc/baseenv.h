// The environment handle object: its diagnostics, its connection handles,
// the ODBC version the application asked for, and its share in the
// process-wide state of all environments (their count and the lock table
// that connections of the per-driver thread model use); and the factory
// through which the entry points make environments of the driver's class.
// Used by the entry points, the connection handle and the physical
// connection.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kalist.h"
#include "foundation/kalock.h"
#include "foundation/kaobject.h"
#include "odbc/baseerr.h"

class BaseConnection;
class BaseStubConnection;

// Entries of the process-wide lock table.
constexpr int32_t kBaseLockTableSize = 45;

// An environment attribute of the driver's own number that answers as
// SQL_ATTR_OUTPUT_NTS does.
constexpr int32_t kBaseEnvAttrOutputNtsOld = 1065;

class BaseEnv : public KaObject {
public:
    explicit BaseEnv(int32_t lockTableIndex) noexcept;
    ~BaseEnv() override;

    // SQLGetEnvAttr: SQL_ATTR_ODBC_VERSION and SQL_ATTR_OUTPUT_NTS.
    [[nodiscard]] virtual int16_t getEnvAttr(int32_t attribute, void* value, int32_t bufferLength,
                                             int32_t* stringLength) noexcept;
    // SQLSetEnvAttr: only SQL_ATTR_ODBC_VERSION has an effect.
    [[nodiscard]] virtual int16_t setEnvAttr(int32_t attribute, void* value, int32_t length) noexcept;
    // SQLEndTran on the environment: every physical connection of every
    // connection handle, in list order.
    [[nodiscard]] virtual int16_t endTransaction(int16_t completionType) noexcept;
    // 0 when the environment is usable.
    [[nodiscard]] virtual int16_t initCheck() noexcept;
    // Makes a physical connection of the driver's class (*out, 0), or -1.
    // Unless skipAcceptCheck is set the new connection's acceptNewConnection
    // is asked and a refused connection is deleted. The driver's environment
    // class supplies it; this one has no connection class and fails.
    [[nodiscard]] virtual int16_t newConnection(int32_t skipAcceptCheck, BaseConnection** out) noexcept;

    // Entry and exit of an environment call: the diagnostics list is emptied
    // and made the thread's current list until leaveApi. The entry cannot fail
    // (0).
    int16_t enterApi(uint16_t apiId) noexcept;
    [[nodiscard]] int16_t leaveApi(int16_t rc) noexcept;
    // The call's frame around body(), which returns the call's SQLRETURN.
    template <class Body>
    [[nodiscard]] int16_t runApi(uint16_t apiId, Body body) noexcept
    {
        return baseRunApi(*this, apiId, body);
    }

    // Called by the connection handle's constructor and destructor.
    void addConnection(BaseStubConnection* connection) noexcept;
    void removeConnection(BaseStubConnection* connection) noexcept;

    // The lock-table entry of this environment's driver, or null while the
    // table does not exist.
    KaCriticalSection* driverLock() const noexcept;

    // Threads may share an environment: its calls and its diagnostics are
    // taken under apiLock, its list of connection handles under listLock
    // (allocating a connection handle adds to the list inside a call).
    KaCriticalSection apiLock{0, kKaLockPlain};
    KaCriticalSection listLock{0, kKaLockPlain};
    BaseErrorList diagnostics;
    int16_t connectionCount;
    int32_t lockTableIndex;
    KaList connections;  // BaseStubConnection handles, in creation order
    int32_t odbc2Mode;   // 1 when SQL_ATTR_ODBC_VERSION is SQL_OV_ODBC2
};

// Guards the live-environment count (KA_TASK_SLOT_ENV_COUNT) and the lock
// table (KA_TASK_SLOT_LOCK_TABLE).
KaCriticalSection& baseEnvLock() noexcept;
// Guards the creation of the connection-pool manager.
KaCriticalSection& basePoolManagerLock() noexcept;
// The lock table while at least one environment lives, else null.
KaCriticalSection* baseLockTable() noexcept;
// Number of live environments.
int64_t baseLiveEnvironments() noexcept;

// Makes an environment object of the driver's own class: a BaseEnv whose
// newConnection makes the driver's connections. Null when memory ran out.
using BaseEnvFactory = BaseEnv* (*)() noexcept;
// The environment class lives above this layer: the driver library
// registers its factory while it loads, and SQLAllocHandle(SQL_HANDLE_ENV)
// fails while none is registered. Returns the factory it replaces; null
// unregisters.
BaseEnvFactory baseSetEnvFactory(BaseEnvFactory factory) noexcept;
// The registered factory, or null.
BaseEnvFactory baseEnvFactory() noexcept;

// The driver library's file name without directory and extension (the name
// its message catalogue and setup library are named after) into out; false
// when it does not fit or cannot be found (out is then empty).
bool baseDriverBaseName(char* out, size_t size) noexcept;
