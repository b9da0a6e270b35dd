// The driver's own connection pooling: one pool of open physical connections
// per distinct connection request, the process-wide manager that owns the
// pools, its maintenance thread that closes idle connections, and the steps
// the connect, driver-connect and disconnect exports take through it.
#pragma once
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kalock.h"
#include "foundation/kaobject.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "security/kamembuf.h"

// takeConnection: no pooled connection was handed out; connect normally and
// register the connection with putConnection.
constexpr int16_t kBasePoolNotTaken = -55;
// Most slots a pool may have (MaxPoolSize) and connections it may keep
// open (MinPoolSize): larger values are brought down to it with a warning.
constexpr int64_t kBasePoolSizeLimit = 65536;
// Seconds between two passes of the maintenance thread.
constexpr int64_t kBasePoolReaperInterval = 10;
// Bound of the wait for a free pooled connection when the pool has no login
// time-out: a full pool never keeps a connect waiting for ever.
constexpr int64_t kBasePoolWaitLimitSeconds = 60;
// Milliseconds between two looks at a full pool, and at a pool whose free
// slots are all being opened or closed.
constexpr int64_t kBasePoolFullPollMs = 500;
constexpr int64_t kBasePoolBusyPollMs = 1000;
// Initial room and growth step of the manager's pool array.
constexpr size_t kBasePoolArrayStep = 16;
// Values of the pool-control attribute (kBaseAttrPoolControl): mark every
// pooled connection for closing, or shut the manager down.
constexpr intptr_t kBasePoolControlMarkAll = 1;
constexpr intptr_t kBasePoolControlShutDown = 7600;
// States of the manager.
constexpr int32_t kBasePoolRunning = 0;
constexpr int32_t kBasePoolShutdownAsked = 1;
constexpr int32_t kBasePoolReaperEnded = 2;

// One slot of a pool.
struct BasePoolSlot {
    BaseConnection* connection;
    int64_t taken;        // handed to an application
    int64_t reserved;     // kept free for a connection being opened
    int64_t closeMarked;  // to be closed when not taken
    int64_t lastUsed;     // seconds (monotonic) when last taken or filled
    // The handle whose connect reserved the slot: a connect that ends
    // without registering a connection frees its own reservation only.
    const BaseStubConnection* reservedFor;
};

// What attribute 1070 reports of a pool.
struct BasePoolCounts {
    int64_t connections;
    int64_t inUse;
    int64_t minSize;
    int64_t maxSize;
};

// The data source and the credentials of an SQLConnect pool, kept to open
// the pool's extra connections; the credentials encrypted under the record's
// own key.
class ConnectPoolKey : public KaObject {
public:
    ConnectPoolKey() noexcept;
    ~ConnectPoolKey() override;

    uint16_t* dsn;  // owned, NUL-terminated
    uint16_t dsnLength;
    KaMemoryBuffer userId;
    KaMemoryBuffer password;
    uint8_t letters[kBaseKeyLetters];
};

class BaseConnPool : public KaObject {
public:
    BaseConnPool() noexcept;
    ~BaseConnPool() override;

    // True when the pool was made for exactly this key: the CRC only sorts
    // out most pools quickly, the key text decides.
    bool matches(uint32_t crc, const uint16_t* key, int64_t keyLength) noexcept;
    // The key text decrypted into out (plain); 0, or 1.
    [[nodiscard]] int16_t decryptKey(KaMemoryBuffer& out) noexcept;

    int64_t connCount;
    int64_t inUseCount;
    uint64_t keyCrc;
    KaMemoryBuffer connectString;  // the key text, encrypted under the pool key
    int64_t loginTimeout;
    ConnectPoolKey* keyRecord;
    KaMemoryBuffer outConnectString;
    BasePoolSlot* slots;
    int32_t resetOnReuse;
    int64_t idleTimeout;
    int64_t maxSize;
    int64_t minSize;
    BaseErrorList savedDiagnostics;
    uint8_t poolKeyLetters[kBaseKeyLetters];
};

class BaseConnPoolManager : public KaObject {
public:
    BaseConnPoolManager() noexcept;
    ~BaseConnPoolManager() override;

    // Makes the private handle (once) and starts the maintenance thread; 0,
    // or -1 with the diagnostic. A manager that was shut down starts again.
    [[nodiscard]] int16_t start() noexcept;
    // Stops the maintenance thread and closes every idle pooled connection;
    // one an application still holds is not touched: its disconnect finds
    // no pool and closes it. Called with the process-wide pool lock held,
    // which it releases while it waits and closes. 0.
    int16_t shutdown() noexcept;

    // 0 taken, 1 taken with warnings, -1 failed (posted on the handle),
    // kBasePoolNotTaken: connect normally, then putConnection (*slotIndex
    // may name the slot reserved for it). *slotIndex is -1 on the first call.
    [[nodiscard]] int16_t takeConnection(BaseStubConnection* handle, int64_t* poolIndex, int64_t* slotIndex,
                                         const uint16_t* keyText, int64_t keyLength) noexcept;
    // Registers the handle's current, connected connection: into the slot
    // reserved for it, or into a new pool (opening the pool's minimum).
    // Takes ownership of keyRecord. 0, or 1 when the connection stays
    // unpooled (a connect that failed frees the slot reserved for it).
    // generation is the one the connect saw when it began: a slot reserved
    // before a shutdown is not filled after it.
    int16_t putConnection(BaseStubConnection* handle, int64_t* poolIndex, int64_t slotIndex, const uint16_t* keyText,
                          int64_t keyLength, ConnectPoolKey* keyRecord, uint64_t generation) noexcept;
    // A connect that failed frees the slot its take reserved (a reservation
    // of another handle stays).
    void freeReservation(const BaseStubConnection* handle, int64_t poolIndex, int64_t slotIndex) noexcept;
    // SQLDisconnect on a pooled connection of the handle: it goes back to
    // its pool, or is closed when it was marked or is not the current one.
    // An ODBC return code.
    [[nodiscard]] int16_t giveBack(BaseStubConnection* handle, BaseConnection* connection) noexcept;
    // 0, or -1 when there is no pool at that index.
    int16_t markPoolForClose(int64_t poolIndex) noexcept;
    int16_t markAllForClose() noexcept;
    // Marks the pool that holds this connection; 0, or -1 when no pool of
    // the running manager holds it (any more).
    int16_t markPoolOf(const BaseConnection* connection) noexcept;
    // The counts of the pool that holds this connection; false when no pool
    // of the running manager holds it.
    bool countsOf(const BaseConnection* connection, BasePoolCounts* counts) noexcept;
    // The completed connection string of the pool's first driver connect:
    // kept once, handed back by later takes (cut to outCapacity units,
    // NUL-terminated). copyOut: 0, 1 when there is none, -1 on failure.
    void keepOutConnectString(int64_t poolIndex, const uint16_t* text, int64_t length,
                              uint64_t takeGeneration) noexcept;
    [[nodiscard]] int16_t copyOutConnectString(int64_t poolIndex, uint16_t* out, int16_t outCapacity,
                                               int16_t* outLength) noexcept;
    // One pass of the maintenance thread: closes marked connections and
    // those idle longer than their pool allows. Called with the
    // process-wide pool lock held; it lets that lock (and its own) go
    // while each connection closes.
    void reap(int64_t now) noexcept;
    BaseConnPool* poolAt(int64_t index) noexcept;
    size_t poolCount() noexcept;

    int64_t reaperInterval;
    KaArray pools;  // BaseConnPool, owned
    KaCriticalSection lock;
    std::atomic<int32_t> state;
    BaseStubConnection* handle;
    pthread_t reaperThread;
    // Counts the shutdowns. The object outlives its shutdowns (it is
    // deleted at library unload only), so a connect or disconnect that let
    // the lock go keeps its address and compares the generation it saw: a
    // changed one means the pools it knew are gone.
    std::atomic<uint64_t> generation;
    // A shutdown is closing the pools; no start until it ends. Read and set
    // under the process-wide pool lock.
    bool stopping;

private:
    // The pool that holds this connection as the application's, or null.
    // Called with the lock held.
    BaseConnPool* holderOf(const BaseConnection* connection) noexcept;
    void freeReservationLocked(const BaseStubConnection* handle, int64_t poolIndex, int64_t slotIndex) noexcept;
    // Closes one pooled connection that no application holds, through the
    // private handle; its diagnostics are discarded.
    void closePooled(BaseConnection* connection) noexcept;
    // Opens the pool's minimum of extra connections; 0, or 1.
    void fillMinimum(BaseStubConnection* handle, BaseConnPool* pool, int64_t poolIndex, const uint16_t* keyText,
                     int64_t keyLength, uint64_t startGeneration) noexcept;
    bool reaperStarted;
};

// Seconds of a clock that only moves forward.
int64_t basePoolNow() noexcept;
// The manager once one was made (also after a shutdown: it then holds no
// pools, and a connection that was pooled before goes through it to be
// closed as an unpooled one), else null.
BaseConnPoolManager* basePoolManager() noexcept;
// The running manager, made or started again on demand; 0, or -1 with the
// diagnostic.
[[nodiscard]] int16_t baseEnsurePoolManager(BaseConnPoolManager** out) noexcept;
// Shuts the manager down: its idle connections close, held ones stay with
// their handles. With destroy (the library is unloaded, so no connect can
// be under way) the object is deleted too.
void baseShutdownPoolManager(bool destroy) noexcept;
// The pool-control attribute: mark every pooled connection for closing, or
// shut the manager down; other values do nothing. 0, or 1 when marking
// failed.
int16_t basePoolControl(intptr_t value) noexcept;

// The key of an SQLConnect pool: "DSN=" dsn ";UID=" uid ";PWD=" pwd (lengths
// in units or SQL_NTS), and the record that opens the pool's extra
// connections. The key text holds the password: freeConnectPoolKeyText
// wipes it. 0, or 1 with the diagnostic.
[[nodiscard]] int16_t makeConnectPoolKey(const uint16_t* dsn, int64_t dsnLength, const uint16_t* uid, int64_t uidLength,
                                         const uint16_t* pwd, int64_t pwdLength, ConnectPoolKey** record,
                                         uint16_t** keyText, int64_t* keyLength) noexcept;
void freeConnectPoolKey(ConnectPoolKey* record) noexcept;
void freeConnectPoolKeyText(uint16_t* keyText, int64_t keyLength) noexcept;
// True when the data source's section of the user's odbc.ini has a
// "Pooling" value beginning with "1".
bool isDsnPoolingEnabled(const uint16_t* dsn, int64_t dsnLength) noexcept;
// Whether a driver connect with this string is pooled: its Pooling (POOL)
// value when it has one (on when it begins with "1"), else its data
// source's setting. 0, or 1 when out of memory.
[[nodiscard]] int16_t getDriverConnectPooling(const uint16_t* text, int64_t length, int32_t* pooling) noexcept;
// The maintenance thread's body; the argument is the manager.
void* poolReaperThread(void* manager) noexcept;
