// The driver's connection pools, their manager and maintenance thread, the
// pooling steps of the connect exports, and the reset a pooled connection
// gets when the application disconnects it.
#include "odbc/basepool.h"

#include <sql.h>
#include <sqlext.h>

#include <ctime>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaencode.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kastringw.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseenv.h"
#include "odbc/exportcall.h"
#include "platform/bosenv.h"
#include "platform/kaini.h"
#include "platform/katracing.h"

namespace {

// The lines a connection's memory trace gets when the pool hands it out and
// takes it back.
constexpr char kTakenFromPool[] = "\nConnection taken from connection pool.\n";
constexpr char kAddedToPool[] = "\nConnection added to connection pool.\n";

// A trace that cannot keep the line loses it; the pooling goes on.
template <size_t N>
void traceToMemory(BaseConnection* connection, const char (&line)[N]) noexcept
{
    if (connection->memoryTracing == nullptr)
        return;
    (void)connection->memoryTracing->write(line, N - 1);
    (void)connection->memoryTracing->flush();
}

// The one manager; read and replaced under basePoolManagerLock().
BaseConnPoolManager* gPoolManager = nullptr;

// Shuts the pools down when the library is unloaded, or at exit before what
// was set up before the first pooled connection (the TLS library among it)
// is torn down: made right after that connection joined its pool.
struct PoolShutdownAtUnload {
    ~PoolShutdownAtUnload() { baseShutdownPoolManager(true); }
};

// Milliseconds between two looks at a shutdown that is under way.
constexpr uint16_t kPoolStopPollMs = 10;

void armShutdownAtUnload() noexcept
{
    static PoolShutdownAtUnload guard;
    (void)guard;
}

const uint16_t* W(const char16_t* text) noexcept
{
    return reinterpret_cast<const uint16_t*>(text);
}

int64_t unitsOf(const uint16_t* text, int64_t length) noexcept
{
    if (text == nullptr)
        return 0;
    if (length >= 0)
        return length;
    int64_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

// CRC-32 of the key's UTF-16 units as little-endian bytes.
uint32_t keyCrc(const uint16_t* key, int64_t length) noexcept
{
    uint32_t crc = 0xFFFFFFFFu;
    for (int64_t i = 0; i < length; ++i) {
        uint8_t bytes[2] = {static_cast<uint8_t>(key[i] & 0xFF), static_cast<uint8_t>(key[i] >> 8)};
        crc = crc32Update(crc, bytes, 2);
    }
    return crc ^ 0xFFFFFFFFu;
}

// The disconnect with its second call, as the export makes it.
int16_t disconnectOnce(BaseStubConnection* connHandle, BaseConnection* connection) noexcept
{
    return baseexport::twice(&connHandle->diagnostics, [&]() noexcept { return connection->disconnect(); });
}

// The connection leaves every pool: what its handle does with it next is
// an unpooled connection's lot. Only the thread that holds the connection
// (or the lock, for one no application holds) calls it.
void unpool(BaseConnection* connection) noexcept
{
    connection->pooled = 0;
    connection->poolIndex = -1;
    connection->poolSlot = -1;
}

// Closes a connection that left its pool before an application got it,
// attached to the connecting handle for the call; the handle's diagnostics
// are emptied after it.
void closeOnHandle(BaseStubConnection* connHandle, BaseConnection* connection) noexcept
{
    unpool(connection);
    connHandle->addConnection(connection);
    connection->env = connHandle->env;
    (void)disconnectOnce(connHandle, connection);
    connHandle->removeConnection(connection);
    delete connection;
    connHandle->diagnostics.clear();
}

void clearSlot(BasePoolSlot& slot) noexcept
{
    slot.connection = nullptr;
    slot.taken = 0;
    slot.reserved = 0;
    slot.closeMarked = 0;
    slot.lastUsed = 0;
    slot.reservedFor = nullptr;
}

// Every connection of the pool closes when no application holds it.
// Called with the manager's lock held.
void markForClose(BaseConnPool& pool) noexcept
{
    for (int64_t s = 0; s < pool.maxSize; ++s)
        if (pool.slots[s].connection != nullptr)
            pool.slots[s].closeMarked = 1;
}

// Case-blind comparison of an ASCII keyword with a run of units.
bool keywordIs(const uint16_t* text, size_t length, const char* keyword) noexcept
{
    size_t i = 0;
    for (; i < length && keyword[i] != 0; ++i) {
        uint16_t c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<uint16_t>(c - 'a' + 'A');
        char k = keyword[i];
        if (k >= 'a' && k <= 'z')
            k = static_cast<char>(k - 'a' + 'A');
        if (c != static_cast<uint16_t>(k))
            return false;
    }
    return i == length && keyword[i] == 0;
}

bool isBlank(uint16_t c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void trim(const uint16_t*& text, size_t& length) noexcept
{
    while (length != 0 && isBlank(text[0])) {
        ++text;
        --length;
    }
    while (length != 0 && isBlank(text[length - 1]))
        --length;
}

// Stores the connection in a slot as taken and marks it pooled.
void fillSlot(BasePoolSlot& slot, BaseConnection* connection, int64_t poolIndex, int64_t slotIndex, int64_t taken,
              int64_t now) noexcept
{
    slot.connection = connection;
    slot.taken = taken;
    slot.reserved = 0;
    slot.closeMarked = 0;
    slot.lastUsed = now;
    slot.reservedFor = nullptr;
    connection->pooled = 1;
    connection->poolIndex = poolIndex;
    connection->poolSlot = slotIndex;
}

}  // namespace

int64_t basePoolNow() noexcept
{
    // Idle times are measured on a clock that a change of the wall clock
    // cannot move.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec);
}

// ---- Pool key records ---------------------------------------------------------

ConnectPoolKey::ConnectPoolKey() noexcept : dsn(nullptr), dsnLength(0), letters{}
{
    userId.state = KA_MEMBUF_ENCRYPTED;
    password.state = KA_MEMBUF_ENCRYPTED;
}

ConnectPoolKey::~ConnectPoolKey()
{
    ramFree(dsn);
    userId.clear();
    password.clear();
    fastMemzero(letters, sizeof letters);
}

void freeConnectPoolKey(ConnectPoolKey* record) noexcept
{
    delete record;
}

void freeConnectPoolKeyText(uint16_t* keyText, int64_t keyLength) noexcept
{
    if (keyText == nullptr)
        return;
    fastMemzero(keyText, static_cast<size_t>(keyLength + 1) * sizeof(uint16_t));
    ramFree(keyText);
}

int16_t makeConnectPoolKey(const uint16_t* dsn, int64_t dsnLength, const uint16_t* uid, int64_t uidLength,
                           const uint16_t* pwd, int64_t pwdLength, ConnectPoolKey** record, uint16_t** keyText,
                           int64_t* keyLength) noexcept
{
    *record = nullptr;
    *keyText = nullptr;
    *keyLength = 0;
    if ((dsnLength < 0 && dsnLength != SQL_NTS) || (uidLength < 0 && uidLength != SQL_NTS) ||
        (pwdLength < 0 && pwdLength != SQL_NTS)) {
        basePostError(kBaseIdxBadLength);
        return 1;
    }
    int64_t dsnUnits = unitsOf(dsn, dsnLength);
    int64_t uidUnits = unitsOf(uid, uidLength);
    int64_t pwdUnits = unitsOf(pwd, pwdLength);
    if (dsnUnits > UINT16_MAX) {
        basePostError(kBaseIdxBadLength);
        return 1;
    }
    auto* made = new ConnectPoolKey();
    if (made == nullptr)
        return 1;
    made->dsn = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(dsnUnits + 1) * sizeof(uint16_t)));
    if (made->dsn == nullptr || baseDrawKeyLetters(made->letters) != 0) {
        delete made;
        return 1;
    }
    fastMemcpy(made->dsn, dsn, static_cast<size_t>(dsnUnits) * sizeof(uint16_t));
    made->dsn[dsnUnits] = 0;
    made->dsnLength = static_cast<uint16_t>(dsnUnits);
    {
        BaseScopedKey key(made->letters);
        if (made->userId.setEncrypted(uid, uidUnits, key.get()) != 0 ||
            made->password.setEncrypted(pwd, pwdUnits, key.get()) != 0) {
            delete made;
            return 1;
        }
    }
    int64_t length = dsnUnits + uidUnits + pwdUnits + 14;
    auto* text = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(length + 1) * sizeof(uint16_t)));
    if (text == nullptr) {
        delete made;
        return 1;
    }
    int64_t at = 0;
    auto put = [&](const uint16_t* part, int64_t units) noexcept {
        if (units != 0)
            fastMemcpy(text + at, part, static_cast<size_t>(units) * sizeof(uint16_t));
        at += units;
    };
    put(W(u"DSN="), 4);
    put(dsn, dsnUnits);
    put(W(u";UID="), 5);
    put(uid, uidUnits);
    put(W(u";PWD="), 5);
    put(pwd, pwdUnits);
    text[at] = 0;
    *record = made;
    *keyText = text;
    *keyLength = length;
    return 0;
}

// ---- Deciding to pool ---------------------------------------------------------

bool isDsnPoolingEnabled(const uint16_t* dsn, int64_t dsnLength) noexcept
{
    constexpr size_t kSectionUnits = 256;
    constexpr int32_t kValueUnits = 16;
    // A bad length is the connect's to report; it pools nothing.
    if (dsnLength < 0 && dsnLength != SQL_NTS)
        return false;
    int64_t units = unitsOf(dsn, dsnLength);
    if (dsn == nullptr || units == 0 || units >= static_cast<int64_t>(kSectionUnits))
        return false;
    uint16_t section[kSectionUnits];
    fastMemcpy(section, dsn, static_cast<size_t>(units) * sizeof(uint16_t));
    section[units] = 0;
    uint16_t value[kValueUnits] = {};
    KaGetPrivateProfileStringW(section, W(u"Pooling"), W(u"0"), value, kValueUnits, W(u".odbc.ini"));
    return value[0] == '1';
}

int16_t getDriverConnectPooling(const uint16_t* text, int64_t length, int32_t* pooling) noexcept
{
    *pooling = 0;
    int64_t total = unitsOf(text, length);
    const uint16_t* dsn = nullptr;
    size_t dsnLength = 0;
    int64_t at = 0;
    while (at < total) {
        // One attribute: keyword "=" value, the value possibly in braces
        // (where a ";" does not end it).
        int64_t start = at;
        while (at < total && text[at] != '=' && text[at] != ';')
            ++at;
        const uint16_t* key = text + start;
        size_t keyLength = static_cast<size_t>(at - start);
        trim(key, keyLength);
        if (at >= total || text[at] == ';') {
            ++at;
            continue;
        }
        ++at;  // the "="
        while (at < total && isBlank(text[at]))
            ++at;
        const uint16_t* value = text + at;
        size_t valueLength = 0;
        if (at < total && text[at] == '{') {
            int64_t close = at + 1;
            while (close < total && text[close] != '}')
                ++close;
            value = text + at + 1;
            valueLength = static_cast<size_t>(close - at - 1);
            at = close;
            while (at < total && text[at] != ';')
                ++at;
        } else {
            int64_t end = at;
            while (end < total && text[end] != ';')
                ++end;
            valueLength = static_cast<size_t>(end - at);
            at = end;
        }
        ++at;
        trim(value, valueLength);
        if (keywordIs(key, keyLength, "DSN")) {
            dsn = value;
            dsnLength = valueLength;
        } else if (keywordIs(key, keyLength, "Pooling") || keywordIs(key, keyLength, "POOL")) {
            // The connection string's own setting decides, read as the
            // connection's options read it.
            *pooling = valueLength != 0 && value[0] == '1' ? 1 : 0;
            return 0;
        }
    }
    if (dsn != nullptr && dsnLength != 0)
        *pooling = isDsnPoolingEnabled(dsn, static_cast<int64_t>(dsnLength)) ? 1 : 0;
    return 0;
}

// ---- Pools --------------------------------------------------------------------

BaseConnPool::BaseConnPool() noexcept
    : connCount(0), inUseCount(0), keyCrc(0), loginTimeout(0), keyRecord(nullptr), slots(nullptr), resetOnReuse(0),
      idleTimeout(0), maxSize(0), minSize(0), savedDiagnostics(nullptr), poolKeyLetters{}
{
    connectString.state = KA_MEMBUF_ENCRYPTED;
    outConnectString.state = KA_MEMBUF_ENCRYPTED;
}

BaseConnPool::~BaseConnPool()
{
    ramFree(slots);
    delete keyRecord;
    connectString.clear();
    outConnectString.clear();
    fastMemzero(poolKeyLetters, sizeof poolKeyLetters);
}

int16_t BaseConnPool::decryptKey(KaMemoryBuffer& out) noexcept
{
    out.state = KA_MEMBUF_PLAIN;
    BaseScopedKey key(poolKeyLetters);
    return out.decryptFrom(connectString, key.get()) == 0 ? 0 : 1;
}

bool BaseConnPool::matches(uint32_t crc, const uint16_t* key, int64_t keyLength) noexcept
{
    if (keyCrc != crc || connectString.length != static_cast<uint64_t>(keyLength))
        return false;
    KaMemoryBuffer plain;
    if (decryptKey(plain) != 0)
        return false;
    bool same = plain.length == static_cast<uint64_t>(keyLength) &&
                (keyLength == 0 || fastMemcmp(plain.data, key, static_cast<size_t>(keyLength) * 2) == 0);
    plain.clear();
    return same;
}

// ---- The manager --------------------------------------------------------------

BaseConnPoolManager::BaseConnPoolManager() noexcept
    : reaperInterval(kBasePoolReaperInterval), pools(kBasePoolArrayStep, KaArray::ownsElements), lock(0, kKaLockPlain),
      state(kBasePoolRunning), handle(nullptr), reaperThread(), generation(0), stopping(false), reaperStarted(false)
{}

BaseConnPoolManager::~BaseConnPoolManager()
{
    delete handle;
}

BaseConnPool* BaseConnPoolManager::poolAt(int64_t index) noexcept
{
    if (index < 0 || static_cast<size_t>(index) >= pools.count)
        return nullptr;
    return static_cast<BaseConnPool*>(pools.at(static_cast<size_t>(index)));
}

size_t BaseConnPoolManager::poolCount() noexcept
{
    KaLockGuard guard(lock);
    return pools.count;
}

int16_t BaseConnPoolManager::start() noexcept
{
    if (pools.reserve(kBasePoolArrayStep, 1) != 0)
        return -1;
    if (handle == nullptr)
        handle = new BaseStubConnection(nullptr);
    if (handle == nullptr)
        return -1;
    state.store(kBasePoolRunning);
    int result = threadCreate(poolReaperThread, this, &reaperThread);
    if (threadReportCreateError(result) != 0)
        return -1;
    reaperStarted = true;
    return 0;
}

void BaseConnPoolManager::closePooled(BaseConnection* connection) noexcept
{
    // Errors of the close go to the private handle and are dropped with it.
    unpool(connection);
    handle->diagnostics.clear();
    {
        KaErrorListScope scope(&handle->diagnostics);
        handle->addConnection(connection);
        handle->current = connection;
        connection->env = nullptr;
        (void)connection->disconnect();
        handle->removeConnection(connection);
        delete connection;
        handle->bufferedAttrs.deleteAll();
    }
    handle->diagnostics.clear();
}

int16_t BaseConnPoolManager::shutdown() noexcept
{
    KaCriticalSection& global = basePoolManagerLock();
    {
        // From here on no take, put or give-back uses the pools: each
        // compares the generation or the state under this lock first.
        KaLockGuard guard(lock);
        state.store(kBasePoolShutdownAsked);
        ++generation;
    }
    stopping = true;
    global.leave();
    if (reaperStarted && pthread_join(reaperThread, nullptr) != 0) {
        while (state.load() != kBasePoolReaperEnded)
            bosSleep(static_cast<uint16_t>(kBasePoolFullPollMs));
    }
    reaperStarted = false;
    // The pools are this thread's alone now; the idle connections close
    // without the lock, so that connects meanwhile go on (unpooled).
    for (size_t p = 0; p < pools.count; ++p) {
        auto* pool = static_cast<BaseConnPool*>(pools.at(p));
        for (int64_t s = 0; s < pool->maxSize; ++s) {
            BasePoolSlot& slot = pool->slots[s];
            // One an application holds (or a take is resetting) is left
            // alone: its holder finds no pool and closes it.
            BaseConnection* connection = slot.taken == 0 ? slot.connection : nullptr;
            clearSlot(slot);
            if (connection != nullptr)
                closePooled(connection);
        }
    }
    {
        KaLockGuard guard(lock);
        pools.deleteAll();
    }
    global.enter();
    stopping = false;
    return 0;
}

int16_t BaseConnPoolManager::takeConnection(BaseStubConnection* connHandle, int64_t* poolIndex, int64_t* slotIndex,
                                            const uint16_t* keyText, int64_t keyLength) noexcept
{
    uint32_t crc = keyCrc(keyText, keyLength);
    lock.enter();
    const uint64_t startGeneration = generation.load();
    BaseConnPool* pool = nullptr;
    for (size_t p = 0; state.load() == kBasePoolRunning && p < pools.count && pool == nullptr; ++p) {
        auto* candidate = static_cast<BaseConnPool*>(pools.at(p));
        if (candidate->matches(crc, keyText, keyLength)) {
            pool = candidate;
            *poolIndex = static_cast<int64_t>(p);
        }
    }
    if (pool == nullptr) {
        lock.leave();
        return kBasePoolNotTaken;
    }

    // The lock is let go while the take sleeps or resets a connection; a
    // shutdown meanwhile deletes the pools, and the take then connects
    // normally.
    auto relock = [&]() noexcept {
        lock.enter();
        if (generation.load() == startGeneration)
            return true;
        lock.leave();
        *poolIndex = -1;
        *slotIndex = -1;
        return false;
    };
    // A full pool is waited for, but never for ever: the pool's login
    // time-out, else a fixed limit, bounds the wait.
    const int64_t limit = pool->loginTimeout > 0 ? pool->loginTimeout : kBasePoolWaitLimitSeconds;
    int64_t waitedMs = 0;
    auto timedOut = [&]() noexcept {
        lock.leave();
        connHandle->diagnostics.clear();
        KaError* record = basePostErrorMsg(kBaseIdxTimeout, MSG_POOL_WAIT_TIMED_OUT);
        if (record != nullptr)
            record->addParamUnsigned(static_cast<uint64_t>(limit));
        return int16_t{-1};
    };
    BaseConnection* connection = nullptr;
    int64_t takenIndex = -1;
    while (connection == nullptr) {
        if (pool->inUseCount >= pool->maxSize) {
            if (waitedMs >= limit * 1000)
                return timedOut();
            lock.leave();
            bosSleep(static_cast<uint16_t>(kBasePoolFullPollMs));
            waitedMs += kBasePoolFullPollMs;
            if (!relock())
                return kBasePoolNotTaken;
            continue;
        }
        // An idle connection is taken before an empty slot is reserved for
        // a new open.
        int64_t empty = -1;
        int64_t idle = -1;
        for (int64_t s = 0; s < pool->maxSize && idle == -1; ++s) {
            BasePoolSlot& slot = pool->slots[s];
            if (slot.reserved != 0 || slot.closeMarked != 0 || slot.taken != 0)
                continue;
            if (slot.connection == nullptr) {
                if (empty == -1)
                    empty = s;
                continue;
            }
            idle = s;
        }
        if (idle != -1) {
            BasePoolSlot& slot = pool->slots[idle];
            // Taken before the lock goes: no other take and no maintenance
            // pass touches it now.
            slot.taken = 1;
            if (pool->resetOnReuse == 0) {
                connection = slot.connection;
                takenIndex = idle;
                break;
            }
            BaseConnection* candidate = slot.connection;
            lock.leave();
            connHandle->diagnostics.clear();
            int16_t failed = candidate->resetConnection();
            // The SQLSTATE says whether the link is gone; a server's own
            // error number may equal the link failure's index.
            bool linkLost = baseListHasLinkFailure(&connHandle->diagnostics);
            bool errors = failed != 0 || connHandle->diagnostics.hasErrors();
            if (!relock()) {
                // The shutdown left the taken connection to its taker; it is
                // not the application's yet, so it is closed here.
                closeOnHandle(connHandle, candidate);
                return kBasePoolNotTaken;
            }
            if (linkLost || errors) {
                // Dropped from use; the maintenance thread closes it.
                pool->slots[idle].taken = 0;
                pool->slots[idle].closeMarked = 1;
                if (!linkLost) {
                    lock.leave();
                    return -1;
                }
                connHandle->diagnostics.clear();
                continue;
            }
            connection = candidate;
            takenIndex = idle;
            break;
        }
        if (empty != -1) {
            if (*slotIndex < 0 || *slotIndex >= pool->maxSize || pool->slots[*slotIndex].connection != nullptr)
                *slotIndex = empty;
            pool->slots[*slotIndex].reserved = 1;
            pool->slots[*slotIndex].reservedFor = connHandle;
            lock.leave();
            return kBasePoolNotTaken;
        }
        if (waitedMs >= limit * 1000)
            return timedOut();
        lock.leave();
        bosSleep(static_cast<uint16_t>(kBasePoolBusyPollMs));
        waitedMs += kBasePoolBusyPollMs;
        if (!relock())
            return kBasePoolNotTaken;
    }

    pool->slots[takenIndex].lastUsed = basePoolNow();
    connection->pooled = 1;
    connection->poolIndex = *poolIndex;
    connection->poolSlot = takenIndex;
    ++pool->inUseCount;
    int16_t result = 0;
    bool warnings = pool->savedDiagnostics.hasOnlyWarnings();
    if (warnings && connHandle->diagnostics.copyFrom(pool->savedDiagnostics) == 0)
        result = 1;
    KaMemoryBuffer plain;
    bool decrypted = pool->decryptKey(plain) == 0;
    lock.leave();

    // Attached outside the lock: the buffered attributes it gets run
    // connection calls, which take the connection's own locks.
    (void)connHandle->setCurrentConnection(connection);
    if (!decrypted)
        return 1;
    int16_t stored = connHandle->storeConnectString(plain.data, static_cast<int64_t>(plain.length));
    plain.clear();
    if (stored != 0)
        return 1;
    // Failover stays as the user chose it: a stale pooled link is repaired
    // only where the user asked for reconnection.
    connection->freshFromPool = 1;
    (void)connection->addBufferedEvent(kBaseEventConnected, 0, 0, 0, 0, connection);
    traceToMemory(connection, kTakenFromPool);
    return result;
}

void BaseConnPoolManager::fillMinimum(BaseStubConnection* connHandle, BaseConnPool* pool, int64_t poolIndex,
                                      const uint16_t* keyText, int64_t keyLength, uint64_t startGeneration) noexcept
{
    BaseEnv* env = connHandle->env;
    BaseConnection* appConnection = connHandle->current;
    // What the extra connects need, read while the pool surely exists: a
    // shutdown may delete it while they run.
    KaMemoryBuffer uid;
    KaMemoryBuffer pwd;
    uid.state = KA_MEMBUF_PLAIN;
    pwd.state = KA_MEMBUF_PLAIN;
    KaStringW dsn;
    int64_t minSize = 0;
    int64_t maxSize = 0;
    bool byDataSource = false;
    {
        KaLockGuard guard(lock);
        // A shutdown since the pool was made has deleted it.
        if (generation.load() != startGeneration)
            return;
        minSize = pool->minSize;
        maxSize = pool->maxSize;
        if (pool->keyRecord != nullptr) {
            ConnectPoolKey* record = pool->keyRecord;
            BaseScopedKey key(record->letters);
            if (uid.decryptFrom(record->userId, key.get()) != 0 || pwd.decryptFrom(record->password, key.get()) != 0 ||
                dsn.assign(record->dsn, record->dsnLength) != 0)
                return;
            byDataSource = true;
        }
    }
    // A measured key longer than a length argument holds is passed by its
    // terminator (a measured key always has one).
    const int16_t driverKeyLength = keyLength <= INT16_MAX ? static_cast<int16_t>(keyLength) : int16_t{SQL_NTS};
    // The application's own connect diagnostics stay what it reads.
    BaseErrorList kept(nullptr);
    if (kept.copyFrom(connHandle->diagnostics) != 0)
        return;
    for (int64_t s = 1; s < minSize && s < maxSize && env != nullptr; ++s) {
        BaseConnection* extra = nullptr;
        if (env->newConnection(0, &extra) != 0 || extra == nullptr)
            break;
        (void)connHandle->setCurrentConnection(extra);
        int16_t rc =
            byDataSource
                ? extra->connect(dsn.data, static_cast<int16_t>(dsn.len), uid.data, static_cast<int16_t>(uid.length),
                                 pwd.data, static_cast<int16_t>(pwd.length))
                : extra->driverConnect(nullptr, keyText, driverKeyLength, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        connHandle->removeConnection(extra);
        connHandle->current = appConnection;
        extra->handle = nullptr;
        extra->env = nullptr;
        // Only a connection that connected may wait in the pool; a failed
        // one would be handed to an application as if it were open.
        if ((rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) || !extra->isConnected()) {
            delete extra;
            continue;
        }
        bool stored = false;
        {
            KaLockGuard guard(lock);
            if (generation.load() == startGeneration && pool->slots[s].connection == nullptr &&
                pool->slots[s].reserved == 0) {
                fillSlot(pool->slots[s], extra, poolIndex, s, 0, basePoolNow());
                ++pool->connCount;
                stored = true;
            }
        }
        if (!stored) {
            closeOnHandle(connHandle, extra);
            connHandle->current = appConnection;
            break;
        }
    }
    uid.clear();
    pwd.clear();
    connHandle->diagnostics.clear();
    (void)connHandle->diagnostics.copyFrom(kept);
}

int16_t BaseConnPoolManager::putConnection(BaseStubConnection* connHandle, int64_t* poolIndex, int64_t slotIndex,
                                           const uint16_t* keyText, int64_t keyLength, ConnectPoolKey* keyRecord,
                                           uint64_t takeGeneration) noexcept
{
    BaseConnection* connection = connHandle->current;
    BaseConnPool* pool = nullptr;
    int64_t minSize = 0;
    uint64_t madeGeneration = 0;
    {
        KaLockGuard guard(lock);
        if (connection == nullptr || !connection->isConnected() || takeGeneration != generation.load() ||
            state.load() != kBasePoolRunning) {
            // The connect failed, or the pools were shut down since it
            // began: the connection (if any) stays the application's
            // alone, and a slot the take reserved for it is free again.
            freeReservationLocked(connHandle, *poolIndex, slotIndex);
            delete keyRecord;
            return 1;
        }
        if (*poolIndex != -1) {
            pool = poolAt(*poolIndex);
            if (pool != nullptr && slotIndex >= 0 && slotIndex < pool->maxSize &&
                pool->slots[slotIndex].reserved != 0 && pool->slots[slotIndex].connection == nullptr) {
                fillSlot(pool->slots[slotIndex], connection, *poolIndex, slotIndex, 1, basePoolNow());
                ++pool->connCount;
                ++pool->inUseCount;
                delete keyRecord;
                return 0;
            }
            // The reserved slot is gone: the connection stays the
            // application's alone.
            delete keyRecord;
            return 1;
        }
        // Another connect of the same key may have made the pool meanwhile:
        // one pool per key, so the connection joins that one when it has an
        // empty slot, and stays unpooled when it has none.
        uint32_t crc = keyCrc(keyText, keyLength);
        for (size_t p = 0; p < pools.count; ++p) {
            auto* existing = static_cast<BaseConnPool*>(pools.at(p));
            if (!existing->matches(crc, keyText, keyLength))
                continue;
            delete keyRecord;
            for (int64_t s = 0; s < existing->maxSize; ++s) {
                BasePoolSlot& slot = existing->slots[s];
                if (slot.connection == nullptr && slot.reserved == 0 && existing->inUseCount < existing->maxSize) {
                    *poolIndex = static_cast<int64_t>(p);
                    fillSlot(slot, connection, *poolIndex, s, 1, basePoolNow());
                    ++existing->connCount;
                    ++existing->inUseCount;
                    return 0;
                }
            }
            return 1;
        }
        auto* made = new BaseConnPool();
        if (made == nullptr) {
            delete keyRecord;
            return 1;
        }
        made->maxSize = connection->maxPoolSize > 0 ? connection->maxPoolSize : 1;
        made->minSize = connection->minPoolSize > 0 ? connection->minPoolSize : 0;
        made->idleTimeout = connection->loadBalanceTimeout > 0 ? connection->loadBalanceTimeout : 0;
        made->resetOnReuse = connection->connectionReset;
        made->loginTimeout = connection->loginTimeout;
        // The options bound the size; a size whose bytes would not fit
        // leaves the connection unpooled rather than a short array.
        if (made->maxSize <= static_cast<int64_t>(SIZE_MAX / sizeof(BasePoolSlot)))
            made->slots =
                static_cast<BasePoolSlot*>(ramAlloc(static_cast<size_t>(made->maxSize) * sizeof(BasePoolSlot)));
        bool stored = made->slots != nullptr && baseDrawKeyLetters(made->poolKeyLetters) == 0;
        if (stored) {
            for (int64_t s = 0; s < made->maxSize; ++s)
                clearSlot(made->slots[s]);
            BaseScopedKey key(made->poolKeyLetters);
            stored = made->connectString.setEncrypted(keyText, keyLength, key.get()) == 0;
        }
        if (!stored || pools.append(made) != 0) {
            delete made;
            delete keyRecord;
            return 1;
        }
        made->keyRecord = keyRecord;
        made->keyCrc = keyCrc(keyText, keyLength);
        if (connHandle->diagnostics.hasOnlyWarnings())
            (void)made->savedDiagnostics.copyFrom(connHandle->diagnostics);
        *poolIndex = static_cast<int64_t>(pools.count - 1);
        fillSlot(made->slots[0], connection, *poolIndex, 0, 1, basePoolNow());
        made->connCount = 1;
        made->inUseCount = 1;
        pool = made;
        // Read under the lock: once it goes, a shutdown may delete the pool.
        minSize = made->minSize;
        madeGeneration = generation.load();
    }
    armShutdownAtUnload();
    // The extra connections are opened outside the lock: a connect may take
    // long, and other pools stay usable meanwhile.
    if (minSize > 1)
        fillMinimum(connHandle, pool, *poolIndex, keyText, keyLength, madeGeneration);
    return 0;
}

void BaseConnPoolManager::freeReservation(const BaseStubConnection* connHandle, int64_t poolIndex,
                                          int64_t slotIndex) noexcept
{
    KaLockGuard guard(lock);
    freeReservationLocked(connHandle, poolIndex, slotIndex);
}

void BaseConnPoolManager::freeReservationLocked(const BaseStubConnection* connHandle, int64_t poolIndex,
                                                int64_t slotIndex) noexcept
{
    // While a shutdown runs the pools are its own (and their slots gone).
    BaseConnPool* pool = state.load() == kBasePoolRunning ? poolAt(poolIndex) : nullptr;
    if (pool == nullptr || slotIndex < 0 || slotIndex >= pool->maxSize)
        return;
    BasePoolSlot& slot = pool->slots[slotIndex];
    if (slot.reserved != 0 && slot.connection == nullptr && slot.reservedFor == connHandle)
        clearSlot(slot);
}

BaseConnPool* BaseConnPoolManager::holderOf(const BaseConnection* connection) noexcept
{
    // While a shutdown runs the pools are its own; after it, and after a
    // start since, the slot no longer names this connection.
    if (state.load() != kBasePoolRunning)
        return nullptr;
    BaseConnPool* pool = poolAt(connection->poolIndex);
    if (pool == nullptr || connection->poolSlot < 0 || connection->poolSlot >= pool->maxSize ||
        pool->slots[connection->poolSlot].connection != connection)
        return nullptr;
    return pool;
}

int16_t BaseConnPoolManager::giveBack(BaseStubConnection* connHandle, BaseConnection* connection) noexcept
{
    BaseConnPool* pool = nullptr;
    bool close = false;
    uint64_t seen = 0;
    {
        KaLockGuard guard(lock);
        seen = generation.load();
        pool = holderOf(connection);
        if (pool != nullptr &&
            (pool->slots[connection->poolSlot].closeMarked != 0 || connection != connHandle->current)) {
            clearSlot(pool->slots[connection->poolSlot]);
            --pool->connCount;
            --pool->inUseCount;
            close = true;
        }
    }
    if (pool == nullptr || close) {
        // Not in a pool (any more), or leaving it: closed like any other.
        unpool(connection);
        int16_t rc = disconnectOnce(connHandle, connection);
        if (connection != connHandle->current || close) {
            connHandle->removeConnection(connection);
            delete connection;
        }
        return rc;
    }
    // The lock goes while the session is reset: it may take round trips.
    int16_t rc = disconnectOnce(connHandle, connection);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
        return rc;
    traceToMemory(connection, kAddedToPool);
    lock.enter();
    if (generation.load() != seen) {
        // Shut down meanwhile: the pool is gone, and the connection, reset
        // but still open, is the application's alone. Its link closes now,
        // as an unpooled disconnect closes it.
        lock.leave();
        unpool(connection);
        return disconnectOnce(connHandle, connection);
    }
    BasePoolSlot& slot = pool->slots[connection->poolSlot];
    slot.taken = 0;
    slot.reserved = 0;
    slot.lastUsed = basePoolNow();
    --pool->inUseCount;
    connHandle->removeConnection(connection);
    connection->handle = nullptr;
    // The environment may be freed before the connection is used again;
    // the next take gives it the taker's.
    connection->env = nullptr;
    lock.leave();
    return rc;
}

int16_t BaseConnPoolManager::markPoolForClose(int64_t poolIndex) noexcept
{
    KaLockGuard guard(lock);
    BaseConnPool* pool = state.load() == kBasePoolRunning ? poolAt(poolIndex) : nullptr;
    if (pool == nullptr)
        return -1;
    markForClose(*pool);
    return 0;
}

int16_t BaseConnPoolManager::markPoolOf(const BaseConnection* connection) noexcept
{
    KaLockGuard guard(lock);
    BaseConnPool* pool = holderOf(connection);
    if (pool == nullptr)
        return -1;
    markForClose(*pool);
    return 0;
}

bool BaseConnPoolManager::countsOf(const BaseConnection* connection, BasePoolCounts* counts) noexcept
{
    KaLockGuard guard(lock);
    BaseConnPool* pool = holderOf(connection);
    if (pool == nullptr)
        return false;
    counts->connections = pool->connCount;
    counts->inUse = pool->inUseCount;
    counts->minSize = pool->minSize;
    counts->maxSize = pool->maxSize;
    return true;
}

int16_t BaseConnPoolManager::markAllForClose() noexcept
{
    // A pool that went away meanwhile (a shutdown) needs no mark.
    size_t count = poolCount();
    for (size_t p = 0; p < count; ++p)
        (void)markPoolForClose(static_cast<int64_t>(p));
    return 0;
}

void BaseConnPoolManager::keepOutConnectString(int64_t poolIndex, const uint16_t* text, int64_t length,
                                               uint64_t takeGeneration) noexcept
{
    KaLockGuard guard(lock);
    BaseConnPool* pool = takeGeneration == generation.load() ? poolAt(poolIndex) : nullptr;
    if (pool == nullptr || pool->outConnectString.length != 0 || text == nullptr)
        return;
    BaseScopedKey key(pool->poolKeyLetters);
    (void)pool->outConnectString.setEncrypted(text, unitsOf(text, length), key.get());
}

int16_t BaseConnPoolManager::copyOutConnectString(int64_t poolIndex, uint16_t* out, int16_t outCapacity,
                                                  int16_t* outLength) noexcept
{
    KaLockGuard guard(lock);
    BaseConnPool* pool = poolAt(poolIndex);
    if (pool == nullptr || pool->outConnectString.length == 0)
        return 1;
    KaMemoryBuffer plain;
    plain.state = KA_MEMBUF_PLAIN;
    BaseScopedKey key(pool->poolKeyLetters);
    if (plain.decryptFrom(pool->outConnectString, key.get()) != 0)
        return -1;
    size_t length = static_cast<size_t>(plain.length);
    if (out != nullptr && outCapacity > 0) {
        size_t room = static_cast<size_t>(outCapacity) - 1;
        size_t n = length < room ? length : room;
        fastMemcpy(out, plain.data, n * sizeof(uint16_t));
        out[n] = 0;
    }
    if (outLength != nullptr)
        *outLength = static_cast<int16_t>(length > INT16_MAX ? INT16_MAX : length);
    plain.clear();
    return 0;
}

void BaseConnPoolManager::reap(int64_t now) noexcept
{
    for (size_t p = 0; p < poolCount(); ++p) {
        BaseConnPool* pool = nullptr;
        {
            KaLockGuard guard(lock);
            pool = poolAt(static_cast<int64_t>(p));
        }
        if (pool == nullptr)
            continue;
        for (int64_t s = 0; s < pool->maxSize; ++s) {
            BaseConnection* connection = nullptr;
            {
                KaLockGuard guard(lock);
                BasePoolSlot& slot = pool->slots[s];
                if (slot.connection == nullptr || slot.taken != 0 || slot.reserved != 0)
                    continue;
                bool idle = pool->idleTimeout != 0 && now - slot.lastUsed > pool->idleTimeout &&
                            pool->connCount > pool->minSize;
                if (slot.closeMarked == 0 && !idle)
                    continue;
                // Out of the slot before the lock goes: no take can reach it
                // while it is being closed.
                connection = slot.connection;
                clearSlot(slot);
                --pool->connCount;
            }
            // No process-wide lock is held while the link closes: a server
            // that is slow to end its session must not hold up connects
            // and disconnects elsewhere. The pool stays: pools go only at a
            // shutdown, which waits for this thread first.
            KaCriticalSection& global = basePoolManagerLock();
            global.leave();
            closePooled(connection);
            global.enter();
            // The shutdown closes the rest.
            if (state.load() == kBasePoolShutdownAsked)
                return;
        }
    }
}

void* poolReaperThread(void* argument) noexcept
{
    auto* manager = static_cast<BaseConnPoolManager*>(argument);
    KaCriticalSection& global = basePoolManagerLock();
    global.enter();
    // A pass comes a whole interval after the start and after each pass:
    // a new manager has no pools, so a pass at once would find nothing,
    // and the first one would fall at a moment that depends on scheduling.
    int64_t passStart = basePoolNow();
    for (;;) {
        bool stop = manager->state.load() == kBasePoolShutdownAsked;
        while (!stop && basePoolNow() - passStart < manager->reaperInterval) {
            global.leave();
            bosSleep(1000);
            global.enter();
            stop = manager->state.load() == kBasePoolShutdownAsked;
        }
        if (stop)
            break;
        passStart = basePoolNow();
        manager->reap(passStart);
    }
    manager->state.store(kBasePoolReaperEnded);
    global.leave();
    threadDetach();
    return nullptr;
}

// ---- The process-wide manager --------------------------------------------------

BaseConnPoolManager* basePoolManager() noexcept
{
    KaLockGuard guard(basePoolManagerLock());
    return gPoolManager;
}

int16_t baseEnsurePoolManager(BaseConnPoolManager** out) noexcept
{
    KaCriticalSection& global = basePoolManagerLock();
    KaLockGuard guard(global);
    // A shutdown under way owns the pools until it ends; it always ends
    // (its waits are the maintenance pass and the closes).
    while (gPoolManager != nullptr && gPoolManager->stopping) {
        global.leave();
        bosSleep(kPoolStopPollMs);
        global.enter();
    }
    if (gPoolManager == nullptr) {
        auto* made = new BaseConnPoolManager();
        if (made == nullptr)
            return -1;
        if (made->start() != 0) {
            delete made;
            return -1;
        }
        gPoolManager = made;
    } else if (gPoolManager->state.load() != kBasePoolRunning && gPoolManager->start() != 0) {
        return -1;
    }
    *out = gPoolManager;
    return 0;
}

void baseShutdownPoolManager(bool destroy) noexcept
{
    KaCriticalSection& global = basePoolManagerLock();
    global.enter();
    BaseConnPoolManager* manager = gPoolManager;
    // One shutdown at a time; a second one asked meanwhile finds it done.
    if (manager != nullptr && manager->state.load() == kBasePoolRunning && !manager->stopping)
        (void)manager->shutdown();
    while (destroy && manager != nullptr && manager->stopping) {
        global.leave();
        bosSleep(kPoolStopPollMs);
        global.enter();
    }
    if (destroy) {
        gPoolManager = nullptr;
        delete manager;
    }
    global.leave();
}

int16_t basePoolControl(intptr_t value) noexcept
{
    if (value == kBasePoolControlShutDown) {
        baseShutdownPoolManager(false);
        return 0;
    }
    if (value != kBasePoolControlMarkAll)
        return 0;
    BaseConnPoolManager* manager = basePoolManager();
    if (manager == nullptr)
        return 0;
    return manager->markAllForClose() == 0 ? 0 : 1;
}

// ---- The connection's side ------------------------------------------------------

int16_t BaseConnection::resetConnection() noexcept
{
    return 0;
}

int16_t BaseConnection::resetForReuse() noexcept
{
    if (resetHook() != 0)
        return 1;
    // The application's statements and recorded settings leave with it; the
    // next taker must not see them.
    while (statements.count != 0)
        delete statements.removeFirst();
    while (descriptors.count != 0)
        delete descriptors.removeFirst();
    events.deleteAll();
    if (connectionReset != 0)
        emptyObjectPools();
    if (autocommit != SQL_AUTOCOMMIT_ON) {
        if ((connectionFlags & kBaseConnTransactionActive) != 0) {
            if (autocommitChange(SQL_COMMIT) != 0)
                return 1;
            connectionFlags &= ~kBaseConnTransactionActive;
            basePostWarningMsg(kBaseIdxGeneralWarning, MSG_AUTOCOMMIT_COMMITTED);
        }
        if (setConnectAttrDefault(SQL_ATTR_AUTOCOMMIT, reinterpret_cast<void*>(intptr_t{SQL_AUTOCOMMIT_ON}), 0) != 0)
            return 1;
    }
    uint32_t isolation = 0;
    if (getInfoValue(SQL_DEFAULT_TXN_ISOLATION, &isolation, sizeof isolation, nullptr) != SQL_SUCCESS)
        return 1;
    if (isolation != 0 && static_cast<int64_t>(isolation) != txnIsolation) {
        if (applyConnectAttr(SQL_ATTR_TXN_ISOLATION, reinterpret_cast<void*>(intptr_t{isolation}), 0) != 0)
            return 1;
        txnIsolation = isolation;
    }
    freshFromPool = 0;
    return 0;
}
