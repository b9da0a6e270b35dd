// The driver's connection pooling through the connect exports, over the fake
// physical connection: reuse by the full key, the bounded wait of a full
// pool, the pool's minimum, the reset of a taken connection, the maintenance
// pass, the shutdown that leaves held connections to their handles (also
// while other threads connect and disconnect), the pool's statistics, and
// sixteen threads taking and returning connections.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kaencode.h"
#include "kamessages.h"
#include "odbc/baseenv.h"
#include "odbc/basepool.h"
#include "platform/katracing.h"
#include "support/envfactory.h"
#include "support/exportfixture.h"
#include "support/platformtest.h"
#include "support/testconnection.h"

using katest::diagOf;

namespace {

// What the reset of a taken connection does (ConnectionReset on).
enum class ResetMode { Succeed, LinkFailure, ServerErrorNumbered27 };

std::atomic<ResetMode> gResetMode{ResetMode::Succeed};
std::atomic<int> gResets{0};
// Shut the pools down from inside a connection call, so that the shutdown
// falls into the window a connect or disconnect leaves open: during the
// open that makes the fake's nth connect, or during the session reset of a
// pooled disconnect.
std::atomic<int> gShutDownAtConnect{-1};
std::atomic<bool> gShutDownInReset{false};

katest::TestConnectionControl gControl;

// A server slow to end its session: the close of the connection named
// waits until the test lets it go (or 8 s pass), and says that it began.
std::mutex gStallMutex;
std::condition_variable gStallChanged;
bool gStallCloses = false;
const BaseConnection* gStallConnection = nullptr;
bool gStallEntered = false;

void releaseStalledCloses()
{
    std::lock_guard<std::mutex> guard(gStallMutex);
    gStallCloses = false;
    gStallChanged.notify_all();
}

class ResettingConnection : public katest::TestConnection {
public:
    ResettingConnection(BaseEnv* env, katest::TestConnectionControl* control) noexcept
        : katest::TestConnection(env, control)
    {}

    int16_t openPhysical() noexcept override
    {
        int16_t rc = katest::TestConnection::openPhysical();
        int at = gShutDownAtConnect.load();
        if (rc == 0 && at == gControl.connects && gShutDownAtConnect.compare_exchange_strong(at, -1))
            (void)basePoolControl(kBasePoolControlShutDown);
        return rc;
    }

    // The reset of a pooled disconnect asks the default isolation level.
    int16_t getInfoValue(uint16_t infoType, void* value, int16_t bufferLength, int16_t* stringLength) noexcept override
    {
        if (infoType == SQL_DEFAULT_TXN_ISOLATION && gShutDownInReset.exchange(false))
            (void)basePoolControl(kBasePoolControlShutDown);
        return katest::TestConnection::getInfoValue(infoType, value, bufferLength, stringLength);
    }

    int16_t closePhysical() noexcept override
    {
        std::unique_lock<std::mutex> lock(gStallMutex);
        if (gStallCloses && gStallConnection == this) {
            gStallEntered = true;
            gStallChanged.notify_all();
            gStallChanged.wait_for(lock, std::chrono::seconds(8), [] { return !gStallCloses; });
        }
        lock.unlock();
        return katest::TestConnection::closePhysical();
    }

    int16_t resetConnection() noexcept override
    {
        ++gResets;
        switch (gResetMode.load()) {
        case ResetMode::LinkFailure: basePostErrorMsg(kBaseIdxLinkFailure, MSG_CONNECTION_NOT_OPEN); return 1;
        case ResetMode::ServerErrorNumbered27:
            // A server error whose own number happens to equal the link
            // failure's index: the SQLSTATE says it is no link failure.
            basePostErrorTextW(kBaseIdxGeneralError, kBaseIdxLinkFailure,
                               reinterpret_cast<const uint16_t*>(u"server error 27"));
            return 1;
        default: return 0;
        }
    }
};

// An environment whose connections may be made by several threads at once.
class PoolTestEnv : public BaseEnv {
public:
    explicit PoolTestEnv(katest::TestConnectionControl* control) noexcept : BaseEnv(15), control_(control) {}

    int16_t newConnection(int32_t, BaseConnection** out) noexcept override
    {
        std::lock_guard<std::mutex> guard(mutex_);
        *out = nullptr;
        auto* conn = new ResettingConnection(this, control_);
        if (conn == nullptr)
            return -1;
        conn->threadModel = control_->threadModel;
        ++control_->made;
        *out = conn;
        return 0;
    }

private:
    katest::TestConnectionControl* control_;
    std::mutex mutex_;
};

BaseEnv* makePoolEnv() noexcept
{
    return new PoolTestEnv(&gControl);
}

// Connects serialise on the driver's lock, so that the fake's record of
// opens is touched by one thread at a time.
class Pooling : public katest::ExportHandles {
protected:
    void SetUp() override
    {
        gControl.connectFailures = 0;
        gControl.connects = 0;
        gControl.made = 0;
        gControl.script.clear();
        gControl.scriptNext = 0;
        gControl.opens.clear();
        gControl.threadModel = kBaseThreadPerDriver;
        gResetMode = ResetMode::Succeed;
        gResets = 0;
        gShutDownAtConnect = -1;
        gShutDownInReset = false;
        gStallCloses = false;
        gStallEntered = false;
        gStallConnection = nullptr;
        ExportHandles::SetUp();
    }

    void TearDown() override
    {
        for (SQLHANDLE extra : extras_) {
            SQLDisconnect(extra);
            EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, extra), SQL_SUCCESS);
        }
        ExportHandles::TearDown();
        // Each test starts without pools, as a newly loaded driver does.
        baseShutdownPoolManager(true);
    }

    SQLHANDLE newHandle()
    {
        SQLHANDLE made = nullptr;
        EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &made), SQL_SUCCESS);
        extras_.push_back(made);
        return made;
    }

    static SQLRETURN connect(SQLHANDLE handle, std::u16string in)
    {
        SQLSMALLINT outLength = 0;
        return SQLDriverConnectW(handle, nullptr, katest::W(in), SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT);
    }

    // Two connections of one pool: the handle dbc holds one, the other
    // waits idle in the pool.
    void holdOneBesideAnIdleOne(const std::u16string& in)
    {
        SQLHANDLE idle = newHandle();
        ASSERT_EQ(connect(idle, in), SQL_SUCCESS);
        ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
        ASSERT_EQ(SQLDisconnect(idle), SQL_SUCCESS);
    }

    static BaseConnection* currentOf(SQLHANDLE handle) { return static_cast<BaseStubConnection*>(handle)->current; }

    static BaseConnPool* poolOf(BaseConnection* conn)
    {
        BaseConnPoolManager* manager = basePoolManager();
        return manager != nullptr && conn != nullptr ? manager->poolAt(conn->poolIndex) : nullptr;
    }

    katest::EnvFactoryScope factory{makePoolEnv};

private:
    std::vector<SQLHANDLE> extras_;
};

}  // namespace

TEST(PoolingDecision, TheConnectionStringsPoolingValueDecidesAndBeginsWithOne)
{
    struct Case {
        const char16_t* text;
        int32_t pooling;
    } cases[] = {
        {u"DSN=x;POOL=1", 1},
        {u"Pooling=1;DSN=x", 1},
        {u"pooling = 1 ;UID=u", 1},
        {u"POOL={1}", 1},
        {u"POOL=0", 0},
        {u"POOL=yes", 0},  // read as the connection's options read it
        {u"POOL=", 0},
        {u"POOL", 0},
        {u"UID={a;POOL=1};PWD=p", 0},  // inside a braced value it is no keyword
        {u"POOLED=1", 0},              // neither name
        {u"POOL=0;Pooling=1", 0},      // the first one ends the scan
        {u"", 0},
    };
    for (const Case& c : cases) {
        int32_t pooling = -1;
        std::u16string text = c.text;
        ASSERT_EQ(getDriverConnectPooling(reinterpret_cast<const uint16_t*>(text.c_str()), SQL_NTS, &pooling), 0);
        EXPECT_EQ(pooling, c.pooling) << katest::narrow(text);
    }
}

TEST(PoolingDecision, WithoutAPoolingValueTheDataSourceDecides)
{
    katest::EnvScope vars;
    katest::TempDir dir{"ka-pool"};
    std::string ini = dir.path() + "/odbc.ini";
    {
        std::ofstream(ini) << "[pooled]\nPooling=1\n[plain]\nPooling=0\n[yes]\nPooling=yes\n";
    }
    vars.set("ODBCINI", ini);
    taskReleaseIniCache();
    struct Case {
        const char16_t* text;
        int32_t pooling;
    } cases[] = {
        {u"DSN=pooled", 1},  {u"DSN=plain", 0},         {u"DSN=yes", 0},
        {u"DSN=missing", 0}, {u"DSN=pooled;POOL=0", 0}, {u"DSN=plain;DSN=pooled", 1},
        {u"DSN=", 0},
    };
    for (const Case& c : cases) {
        int32_t pooling = -1;
        std::u16string text = c.text;
        ASSERT_EQ(getDriverConnectPooling(reinterpret_cast<const uint16_t*>(text.c_str()), SQL_NTS, &pooling), 0);
        EXPECT_EQ(pooling, c.pooling) << katest::narrow(text);
    }
    EXPECT_TRUE(isDsnPoolingEnabled(reinterpret_cast<const uint16_t*>(u"pooled"), SQL_NTS));
    // The length given is the name's.
    EXPECT_TRUE(isDsnPoolingEnabled(reinterpret_cast<const uint16_t*>(u"pooledX"), 6));
    EXPECT_FALSE(isDsnPoolingEnabled(reinterpret_cast<const uint16_t*>(u"pooledX"), SQL_NTS));
    EXPECT_FALSE(isDsnPoolingEnabled(reinterpret_cast<const uint16_t*>(u"plain"), SQL_NTS));
    EXPECT_FALSE(isDsnPoolingEnabled(reinterpret_cast<const uint16_t*>(u"pooled"), -7));
    EXPECT_FALSE(isDsnPoolingEnabled(nullptr, SQL_NTS));
    taskReleaseIniCache();
    vars.restore();
}

TEST(PoolingDecision, TheConnectKeyHoldsTheThreeTextsAndWipesThemOnRequest)
{
    ConnectPoolKey* record = nullptr;
    uint16_t* key = nullptr;
    int64_t length = 0;
    ASSERT_EQ(makeConnectPoolKey(reinterpret_cast<const uint16_t*>(u"dsnXX"), 3,
                                 reinterpret_cast<const uint16_t*>(u"me"), SQL_NTS,
                                 reinterpret_cast<const uint16_t*>(u"secret"), SQL_NTS, &record, &key, &length),
              0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(key), static_cast<size_t>(length)),
              u"DSN=dsn;UID=me;PWD=secret");
    EXPECT_EQ(record->dsnLength, 3);
    // The password is kept encrypted in the record, not as text.
    EXPECT_NE(record->password.length, 0u);
    EXPECT_EQ(record->password.state, KA_MEMBUF_ENCRYPTED);
    freeConnectPoolKeyText(key, length);
    freeConnectPoolKey(record);
    EXPECT_EQ(
        makeConnectPoolKey(reinterpret_cast<const uint16_t*>(u"d"), -7, nullptr, 0, nullptr, 0, &record, &key, &length),
        1);
    EXPECT_EQ(record, nullptr);
}

TEST_F(Pooling, SeveralLogicalConnectsShareOnePhysicalOpen)
{
    BaseConnection* first = nullptr;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=p;POOL=1"), SQL_SUCCESS);
        BaseConnection* conn = currentOf(dbc);
        ASSERT_NE(conn, nullptr);
        EXPECT_TRUE(conn->isConnected());
        EXPECT_EQ(conn->pooled, 1);
        if (first == nullptr)
            first = conn;
        EXPECT_EQ(conn, first);
        ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
        // Back in the pool: the handle no longer holds it, the link stays.
        EXPECT_EQ(currentOf(dbc), nullptr);
        EXPECT_TRUE(first->isConnected());
    }
    EXPECT_EQ(gControl.connects, 1);
    // Without pooling every connect opens.
    ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=p"), SQL_SUCCESS);
    EXPECT_EQ(gControl.connects, 2);
}

TEST_F(Pooling, WhatTheApplicationSetDoesNotReachTheNextTaker)
{
    ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=p;POOL=1"), SQL_SUCCESS);
    ASSERT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    SQLHANDLE other = newHandle();
    ASSERT_EQ(connect(other, u"DSN=test;UID=u;PWD=p;POOL=1"), SQL_SUCCESS);
    EXPECT_EQ(gControl.connects, 1);
    SQLUINTEGER autocommit = 0;
    ASSERT_EQ(SQLGetConnectAttrW(other, SQL_ATTR_AUTOCOMMIT, &autocommit, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(autocommit, SQLUINTEGER{SQL_AUTOCOMMIT_ON});
}

TEST_F(Pooling, DifferentKeysUseDifferentPoolsEvenWhenTheirChecksumsAgree)
{
    ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=one;POOL=1"), SQL_SUCCESS);
    BaseConnection* firstConn = currentOf(dbc);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);

    // Another password: another pool.
    ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=two;POOL=1"), SQL_SUCCESS);
    EXPECT_EQ(gControl.connects, 2);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);

    // A third key of the same length whose checksum the first pool is
    // made to carry, as a collision would: the key text still decides, so no session of the
    // first pool is handed out.
    std::u16string third = u"DSN=test;UID=u;PWD=eno;POOL=1";
    ASSERT_EQ(third.size(), std::u16string(u"DSN=test;UID=u;PWD=one;POOL=1").size());
    uint32_t crc = crc32Update(0xFFFFFFFFu, third.data(), static_cast<uint32_t>(third.size() * 2)) ^ 0xFFFFFFFFu;
    BaseConnPool* pool = poolOf(firstConn);
    ASSERT_NE(pool, nullptr);
    pool->keyCrc = crc;
    ASSERT_EQ(connect(dbc, third), SQL_SUCCESS);
    EXPECT_NE(currentOf(dbc), firstConn);
    EXPECT_EQ(gControl.connects, 3);
}

TEST_F(Pooling, SqlConnectPoolsByDataSourceUserAndPassword)
{
    katest::EnvScope vars;
    katest::TempDir dir{"ka-pool"};
    std::string ini = dir.path() + "/odbc.ini";
    {
        std::ofstream(ini) << "[pooled]\nDriver=TestDriver\nPooling=1\nHostName=h\nPortNumber=1\n";
    }
    vars.set("ODBCINI", ini);
    taskReleaseIniCache();
    auto sqlConnect = [&](const char16_t* pwd) {
        std::u16string dsn = u"pooled";
        std::u16string user = u"me";
        std::u16string password = pwd;
        return SQLConnectW(dbc, katest::W(dsn), SQL_NTS, katest::W(user), SQL_NTS, katest::W(password), SQL_NTS);
    };
    ASSERT_EQ(sqlConnect(u"a"), SQL_SUCCESS);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(sqlConnect(u"a"), SQL_SUCCESS);
    EXPECT_EQ(gControl.connects, 1);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(sqlConnect(u"b"), SQL_SUCCESS);
    EXPECT_EQ(gControl.connects, 2);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    taskReleaseIniCache();
    vars.restore();
}

TEST_F(Pooling, AFullPoolIsWaitedForOnlyUntilTheLoginTimeOut)
{
    ASSERT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0), SQL_SUCCESS);
    ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=1"), SQL_SUCCESS);
    SQLHANDLE second = newHandle();
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(connect(second, u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=1"), SQL_ERROR);
    auto waited = std::chrono::steady_clock::now() - began;
    // The whole time-out is waited, and not much more: far below the bound
    // a pool without a time-out has.
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(kBasePoolWaitLimitSeconds / 2));
    katest::Diag diag = diagOf(SQL_HANDLE_DBC, second);
    EXPECT_EQ(diag.state, "HYT00");
    EXPECT_NE(diag.text.find("within 1 seconds"), std::string::npos) << diag.text;
    EXPECT_EQ(currentOf(second), nullptr);
    // Once given back, the one connection serves the second handle.
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(connect(second, u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=1"), SQL_SUCCESS);
    EXPECT_EQ(gControl.connects, 1);
}

TEST_F(Pooling, ThePoolsMinimumHoldsOnlyConnectionsThatConnected)
{
    // The first open is the application's; of the two extra ones the first
    // fails.
    gControl.script = {{}, {kBaseIdxUnableToConnect}, {}};
    ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=p;POOL=1;MinPoolSize=3"), SQL_SUCCESS);
    BaseConnPool* pool = poolOf(currentOf(dbc));
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->connCount, 2);
    for (int64_t s = 0; s < pool->maxSize; ++s) {
        if (pool->slots[s].connection != nullptr) {
            EXPECT_TRUE(pool->slots[s].connection->isConnected()) << "slot " << s;
        }
    }
    // A second handle takes the idle extra one without an open.
    SQLHANDLE second = newHandle();
    ASSERT_EQ(connect(second, u"DSN=test;UID=u;PWD=p;POOL=1;MinPoolSize=3"), SQL_SUCCESS);
    EXPECT_TRUE(currentOf(second)->isConnected());
    EXPECT_EQ(gControl.connects, 2);
}

TEST_F(Pooling, AResetThatLosesTheLinkDropsTheConnectionAndTheTakeGoesOn)
{
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1;ConnectionReset=1";
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    BaseConnection* old = currentOf(dbc);
    // Where it sits is read now: once marked, the connection belongs to
    // the maintenance pass, which may close and delete it.
    const int64_t oldIndex = old->poolIndex;
    const int64_t oldSlot = old->poolSlot;
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    gResetMode = ResetMode::LinkFailure;
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    EXPECT_EQ(gResets, 1);
    // A new open in another slot; the broken one is marked for closing,
    // and no maintenance pass has come yet: the first one comes a whole
    // interval after the manager started.
    EXPECT_EQ(gControl.connects, 2);
    BaseConnPool* pool = poolOf(currentOf(dbc));
    ASSERT_NE(pool, nullptr);
    ASSERT_EQ(oldIndex, currentOf(dbc)->poolIndex);
    ASSERT_NE(oldSlot, currentOf(dbc)->poolSlot);
    KaLockGuard guard(basePoolManager()->lock);
    EXPECT_EQ(pool->slots[oldSlot].connection, old);
    EXPECT_EQ(pool->slots[oldSlot].closeMarked, 1);
}

TEST_F(Pooling, APoolSizeTooLargeForMemoryIsHeldToTheLimitAndStillPools)
{
    // Slots of 48 bytes: this many wrap the byte count to 32.
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=384307168202282326";
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS_WITH_INFO);
    katest::Diag diag = diagOf(SQL_HANDLE_DBC, dbc);
    EXPECT_EQ(diag.state, "01S02");
    EXPECT_NE(diag.text.find("MaxPoolSize"), std::string::npos) << diag.text;
    BaseConnPool* pool = poolOf(currentOf(dbc));
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->maxSize, kBasePoolSizeLimit);
    EXPECT_EQ(pool->slots[kBasePoolSizeLimit - 1].connection, nullptr);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(gControl.connects, 1);
}

TEST_F(Pooling, AnUnpooledDisconnectDoesNotWaitWhileTheMaintenancePassClosesAConnection)
{
    // Each connection serialises on its own lock, the driver's default.
    gControl.threadModel = kBaseThreadPerConnection;
    const std::u16string pooled = u"DSN=test;UID=u;PWD=p;POOL=1;LoadBalanceTimeout=1";
    ASSERT_EQ(connect(dbc, pooled), SQL_SUCCESS);
    BaseConnPool* pool = poolOf(currentOf(dbc));
    ASSERT_NE(pool, nullptr);
    const int64_t lastUsed = pool->slots[0].lastUsed;
    gStallConnection = currentOf(dbc);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    SQLHANDLE other = newHandle();
    ASSERT_EQ(connect(other, u"DSN=test;UID=u;PWD=p"), SQL_SUCCESS);

    // The pass closes the idle connection, as the maintenance thread runs
    // it: under the process-wide lock; the server stalls the close.
    {
        std::lock_guard<std::mutex> guard(gStallMutex);
        gStallCloses = true;
    }
    BaseConnPoolManager* manager = basePoolManager();
    std::thread reaper([&] {
        KaLockGuard guard(basePoolManagerLock());
        manager->reap(lastUsed + 5);
    });
    bool entered = false;
    {
        std::unique_lock<std::mutex> lock(gStallMutex);
        entered = gStallChanged.wait_for(lock, std::chrono::seconds(8), [] { return gStallEntered; });
    }
    EXPECT_TRUE(entered);
    auto done = std::async(std::launch::async, [&] { return SQLDisconnect(other); });
    // Far below the stall: the disconnect needs no lock the pass holds.
    bool prompt = done.wait_for(std::chrono::seconds(4)) == std::future_status::ready;
    releaseStalledCloses();
    reaper.join();
    EXPECT_TRUE(prompt);
    EXPECT_EQ(done.get(), SQL_SUCCESS);
    EXPECT_EQ(pool->connCount, 0);
}

TEST_F(Pooling, WarningsOfTheConnectThatMadeThePoolComeWithEveryTake)
{
    // An attribute no one reads gives the first connect a warning.
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1;Colour=red";
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS_WITH_INFO);
    katest::Diag first = diagOf(SQL_HANDLE_DBC, dbc);
    ASSERT_EQ(first.state, "01S00");
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    SQLHANDLE other = newHandle();
    ASSERT_EQ(connect(other, in), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(gControl.connects, 1);
    katest::Diag again = diagOf(SQL_HANDLE_DBC, other);
    EXPECT_EQ(again.state, first.state);
    // The same message (the prefix names the driver as the handle knows it).
    EXPECT_EQ(again.text.substr(again.text.rfind(']')), first.text.substr(first.text.rfind(']')));
}

TEST_F(Pooling, StatementsAndDescriptorsOfAReturnedConnectionDoNotReachTheNextTaker)
{
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1";
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    BaseConnection* conn = currentOf(dbc);
    SQLHANDLE stmt = nullptr;
    SQLHANDLE desc = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    ASSERT_EQ(conn->statements.count, 1u);
    ASSERT_EQ(conn->descriptors.count, 1u);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    SQLHANDLE other = newHandle();
    ASSERT_EQ(connect(other, in), SQL_SUCCESS);
    ASSERT_EQ(currentOf(other), conn);
    EXPECT_EQ(conn->statements.count, 0u);
    EXPECT_EQ(conn->descriptors.count, 0u);
}

TEST_F(Pooling, AResetFailingWithAServerErrorNumberedLikeTheLinkFailureFailsTheTake)
{
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1;CR=1";
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    gResetMode = ResetMode::ServerErrorNumbered27;
    EXPECT_EQ(connect(dbc, in), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "HY000");
    EXPECT_EQ(gControl.connects, 1);
}

TEST_F(Pooling, ATakenDriverConnectReturnsThePoolsCompletedString)
{
    std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1";
    SQLWCHAR out[256];
    SQLSMALLINT outLength = 0;
    ASSERT_EQ(SQLDriverConnectW(dbc, nullptr, katest::W(in), SQL_NTS, out, 256, &outLength, SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS);
    std::u16string first(reinterpret_cast<const char16_t*>(out), static_cast<size_t>(outLength));
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    SQLWCHAR again[256];
    std::fill(std::begin(again), std::end(again), SQLWCHAR{0xAAAA});
    outLength = 0;
    ASSERT_EQ(SQLDriverConnectW(dbc, nullptr, katest::W(in), SQL_NTS, again, 256, &outLength, SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS);
    EXPECT_EQ(gControl.connects, 1);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(again)), first);
    EXPECT_EQ(outLength, static_cast<SQLSMALLINT>(first.size()));
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    // A short buffer gets the string cut and terminated.
    SQLWCHAR small[6];
    std::fill(std::begin(small), std::end(small), SQLWCHAR{0xAAAA});
    ASSERT_EQ(SQLDriverConnectW(dbc, nullptr, katest::W(in), SQL_NTS, small, 5, &outLength, SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(small)), first.substr(0, 4));
    EXPECT_EQ(small[5], SQLWCHAR{0xAAAA});
}

TEST_F(Pooling, TheMaintenancePassClosesIdleAndMarkedConnectionsOnly)
{
    struct Case {
        const char16_t* in;
        int64_t idleSeconds;
        bool mark;
        bool closed;
    } cases[] = {
        {u"DSN=test;UID=u;PWD=p;POOL=1;LoadBalanceTimeout=2", 5, false, true},
        {u"DSN=test;UID=u;PWD=p;POOL=1;LoadBalanceTimeout=2", 1, false, false},
        {u"DSN=test;UID=u;PWD=p;POOL=1;LoadBalanceTimeout=0", 1000, false, false},
        // The minimum stays open however long it idles.
        {u"DSN=test;UID=u;PWD=p;POOL=1;LoadBalanceTimeout=2;MinPoolSize=1", 5, false, false},
        {u"DSN=test;UID=u;PWD=p;POOL=1;LoadBalanceTimeout=0", 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(c.in));
        int before = gControl.connects;
        ASSERT_EQ(connect(dbc, c.in), SQL_SUCCESS);
        BaseConnection* conn = currentOf(dbc);
        BaseConnPool* pool = poolOf(conn);
        ASSERT_NE(pool, nullptr);
        if (c.mark) {
            ASSERT_EQ(SQLSetConnectAttrW(dbc, kBaseAttrPoolControl, reinterpret_cast<SQLPOINTER>(0), 0), SQL_SUCCESS);
        }
        int64_t slot = conn->poolSlot;
        ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
        if (c.mark) {
            // A marked connection given back is closed at once.
            EXPECT_EQ(pool->slots[slot].connection, nullptr);
        } else {
            EXPECT_EQ(pool->slots[slot].connection, conn);
            BaseConnPoolManager* manager = basePoolManager();
            {
                // The pass runs under the process-wide lock, as the
                // maintenance thread runs it.
                KaLockGuard guard(basePoolManagerLock());
                manager->reap(pool->slots[slot].lastUsed + c.idleSeconds);
            }
            EXPECT_EQ(pool->slots[slot].connection == nullptr, c.closed);
        }
        EXPECT_EQ(pool->connCount, c.closed ? 0 : 1);
        // The next connect opens anew only when the connection was closed.
        ASSERT_EQ(connect(dbc, c.in), SQL_SUCCESS);
        EXPECT_EQ(gControl.connects, before + (c.closed ? 2 : 1));
        ASSERT_EQ(
            SQLSetConnectAttrW(dbc, kBaseAttrPoolControl, reinterpret_cast<SQLPOINTER>(kBasePoolControlShutDown), 0),
            SQL_SUCCESS);
        ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    }
}

TEST_F(Pooling, ShutdownClosesIdleConnectionsAndLeavesHeldOnesToTheirHandles)
{
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1";
    ASSERT_NO_FATAL_FAILURE(holdOneBesideAnIdleOne(in));
    BaseConnection* held = currentOf(dbc);
    ASSERT_EQ(SQLSetConnectAttrW(dbc, kBaseAttrPoolControl, reinterpret_cast<SQLPOINTER>(kBasePoolControlShutDown), 0),
              SQL_SUCCESS);
    ASSERT_NE(basePoolManager(), nullptr);
    EXPECT_EQ(basePoolManager()->poolCount(), 0u);
    // The held connection is the application's still, and works.
    ASSERT_EQ(currentOf(dbc), held);
    EXPECT_TRUE(held->isConnected());
    SQLWCHAR name[64];
    EXPECT_EQ(SQLGetInfoW(dbc, SQL_DATA_SOURCE_NAME, name, sizeof name, nullptr), SQL_SUCCESS);
    // A pooled connect meanwhile starts the pools again with a new open:
    // the idle one was closed, and the held one is in no pool.
    SQLHANDLE other = newHandle();
    ASSERT_EQ(connect(other, in), SQL_SUCCESS);
    EXPECT_NE(currentOf(other), held);
    EXPECT_EQ(gControl.connects, 3);
    // Marking "its own pool" marks nothing now: the new pool keeps its
    // connection when it comes back.
    ASSERT_EQ(SQLSetConnectAttrW(dbc, kBaseAttrPoolControl, reinterpret_cast<SQLPOINTER>(0), 0), SQL_SUCCESS);
    BaseConnection* fresh = currentOf(other);
    ASSERT_EQ(SQLDisconnect(other), SQL_SUCCESS);
    EXPECT_TRUE(fresh->isConnected());
    // The held one's disconnect closes it as an unpooled one.
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_FALSE(held->isConnected());
    EXPECT_EQ(held->pooled, 0);
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    EXPECT_EQ(currentOf(dbc), fresh);
    EXPECT_EQ(gControl.connects, 3);
}

TEST_F(Pooling, APooledDisconnectDuringWhichThePoolsShutDownClosesItsConnection)
{
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=2";
    ASSERT_NO_FATAL_FAILURE(holdOneBesideAnIdleOne(in));
    BaseConnection* conn = currentOf(dbc);
    // The shutdown runs while the session is being reset, between the two
    // times the give-back holds the lock.
    gShutDownInReset = true;
    EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_FALSE(gShutDownInReset);
    EXPECT_EQ(currentOf(dbc), conn);
    EXPECT_FALSE(conn->isConnected());
    EXPECT_EQ(conn->pooled, 0);
    // Nothing of the old pools is handed out again.
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    EXPECT_EQ(gControl.connects, 3);
}

TEST_F(Pooling, AShutdownWhileThePoolsMinimumIsOpenedKeepsNoExtraConnection)
{
    // The shutdown comes during the first extra open.
    gShutDownAtConnect = 2;
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1;MinPoolSize=3;MaxPoolSize=4";
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    EXPECT_EQ(gShutDownAtConnect, -1);
    // The extra one was closed, and no further one opened.
    EXPECT_EQ(gControl.connects, 2);
    EXPECT_EQ(basePoolManager()->poolCount(), 0u);
    BaseConnection* conn = currentOf(dbc);
    ASSERT_NE(conn, nullptr);
    EXPECT_TRUE(conn->isConnected());
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_FALSE(conn->isConnected());
}

TEST_F(Pooling, AFailedConnectFreesTheSlotReservedForIt)
{
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=1";
    ASSERT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0), SQL_SUCCESS);
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    // Marked and given back: the pool's one slot is empty again.
    ASSERT_EQ(SQLSetConnectAttrW(dbc, kBaseAttrPoolControl, reinterpret_cast<SQLPOINTER>(0), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    gControl.connectFailures = 1;
    EXPECT_EQ(connect(dbc, in), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08001");
    // The failed connect held the slot while it ran; the next one gets it
    // at once instead of waiting for it in vain.
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    EXPECT_EQ(gControl.connects, 2);
}

TEST_F(Pooling, ThePoolStatisticsAndTheConnectionLimitAnswerForThePool)
{
    auto statistics = [](SQLHANDLE handle) {
        // Guard values around the six 64-bit values.
        std::vector<int64_t> buffer(8, 0x5A5A5A5A);
        SQLINTEGER length = 0;
        EXPECT_EQ(SQLGetConnectAttrW(handle, 1070, buffer.data() + 1, SQL_LEN_BINARY_ATTR(48), &length), SQL_SUCCESS);
        EXPECT_EQ(length, 48);
        EXPECT_EQ(buffer[0], 0x5A5A5A5A);
        EXPECT_EQ(buffer[7], 0x5A5A5A5A);
        return std::vector<int64_t>(buffer.begin() + 1, buffer.begin() + 7);
    };
    auto limit = [](SQLHANDLE handle) {
        SQLUSMALLINT value = 0xFFFF;
        EXPECT_EQ(SQLGetInfoW(handle, SQL_MAX_DRIVER_CONNECTIONS, &value, sizeof value, nullptr), SQL_SUCCESS);
        return static_cast<int>(value);
    };
    const std::u16string in = u"DSN=test;UID=u;PWD=p;POOL=1;MinPoolSize=2;MaxPoolSize=5";
    ASSERT_EQ(connect(dbc, in), SQL_SUCCESS);
    // Version, connections, in use, idle, minimum, maximum.
    EXPECT_EQ(statistics(dbc), (std::vector<int64_t>{1, 2, 1, 1, 2, 5}));
    EXPECT_EQ(limit(dbc), 2);
    SQLHANDLE second = newHandle();
    ASSERT_EQ(connect(second, in), SQL_SUCCESS);
    EXPECT_EQ(statistics(second), (std::vector<int64_t>{1, 2, 2, 0, 2, 5}));
    SQLHANDLE third = newHandle();
    ASSERT_EQ(connect(third, in), SQL_SUCCESS);
    EXPECT_EQ(statistics(dbc), (std::vector<int64_t>{1, 3, 3, 0, 2, 5}));
    EXPECT_EQ(limit(third), 3);
    // Outside any pool: the version and zeros, and the driver's own limit.
    SQLHANDLE plain = newHandle();
    ASSERT_EQ(connect(plain, u"DSN=test;UID=u;PWD=p"), SQL_SUCCESS);
    EXPECT_EQ(statistics(plain), (std::vector<int64_t>{1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(limit(plain), 0);
    // A held connection whose pools were shut down is in none.
    ASSERT_EQ(SQLSetConnectAttrW(dbc, kBaseAttrPoolControl, reinterpret_cast<SQLPOINTER>(kBasePoolControlShutDown), 0),
              SQL_SUCCESS);
    EXPECT_EQ(statistics(dbc), (std::vector<int64_t>{1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(limit(dbc), 0);
}

TEST_F(Pooling, SixteenThreadsTakeAndReturnConnections)
{
    constexpr int kThreads = 16;
    constexpr int kRounds = 12;
    std::vector<SQLHANDLE> handles;
    for (int t = 0; t < kThreads; ++t)
        handles.push_back(newHandle());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t]() {
            for (int r = 0; r < kRounds; ++r) {
                SQLRETURN rc = connect(handles[t], u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=16");
                if (rc != SQL_SUCCESS) {
                    ++failures;
                    continue;
                }
                BaseConnection* conn = currentOf(handles[t]);
                if (conn == nullptr || !conn->isConnected())
                    ++failures;
                if (SQLDisconnect(handles[t]) != SQL_SUCCESS)
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_GE(gControl.connects, 1);
    EXPECT_LE(gControl.connects, 16);
    ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=16"), SQL_SUCCESS);
    BaseConnPool* pool = poolOf(currentOf(dbc));
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->inUseCount, 1);
    EXPECT_EQ(pool->connCount, gControl.connects);
}

TEST_F(Pooling, ShutdownsWhileSixteenThreadsConnectAndDisconnectLoseNoConnection)
{
    constexpr int kThreads = 16;
    constexpr int kRounds = 25;
    constexpr int kShutdowns = 10;
    // Plain pooling, a pool that opens its minimum, and one that resets a
    // taken connection: the shutdown meets each step that lets the lock go.
    const std::u16string keys[] = {u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=16",
                                   u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=16;MinPoolSize=3",
                                   u"DSN=test;UID=u;PWD=p;POOL=1;MaxPoolSize=16;CR=1"};
    std::vector<SQLHANDLE> handles;
    for (int t = 0; t < kThreads; ++t)
        handles.push_back(newHandle());
    // The application that shuts the pools down holds an unpooled
    // connection.
    ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=p"), SQL_SUCCESS);
    std::atomic<int> failures{0};
    std::atomic<int> running{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t]() {
            for (int r = 0; r < kRounds; ++r) {
                SQLRETURN rc = connect(handles[t], keys[(t + r) % 3]);
                if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
                    ++failures;
                    continue;
                }
                BaseConnection* conn = currentOf(handles[t]);
                if (conn == nullptr || !conn->isConnected())
                    ++failures;
                int64_t counts[6] = {};
                if (SQLGetConnectAttrW(handles[t], 1070, counts, sizeof counts, nullptr) != SQL_SUCCESS ||
                    counts[0] != 1)
                    ++failures;
                rc = SQLDisconnect(handles[t]);
                if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
                    ++failures;
            }
            --running;
        });
    }
    for (int i = 0; i < kShutdowns && running.load() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + 3 * i));
        EXPECT_EQ(
            SQLSetConnectAttrW(dbc, kBaseAttrPoolControl, reinterpret_cast<SQLPOINTER>(kBasePoolControlShutDown), 0),
            SQL_SUCCESS);
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    // Every handle is disconnected: none holds a connection, pooled or
    // not, that is still open.
    for (SQLHANDLE handle : handles) {
        BaseConnection* conn = currentOf(handle);
        EXPECT_TRUE(conn == nullptr || !conn->isConnected());
    }
    // What is left in the pools is idle and open, and counted right.
    BaseConnPoolManager* manager = basePoolManager();
    ASSERT_NE(manager, nullptr);
    for (size_t p = 0; p < manager->poolCount(); ++p) {
        BaseConnPool* pool = manager->poolAt(static_cast<int64_t>(p));
        EXPECT_EQ(pool->inUseCount, 0);
        int64_t held = 0;
        for (int64_t s = 0; s < pool->maxSize; ++s) {
            EXPECT_EQ(pool->slots[s].reserved, 0);
            if (pool->slots[s].connection != nullptr) {
                ++held;
                EXPECT_TRUE(pool->slots[s].connection->isConnected());
            }
        }
        EXPECT_EQ(pool->connCount, held);
    }
}

TEST_F(Pooling, AConnectionsMemoryTraceRecordsEachReturnToAndTakeFromThePool)
{
    ASSERT_EQ(connect(dbc, u"DSN=test;UID=u;PWD=p;POOL=1"), SQL_SUCCESS);
    BaseConnection* conn = currentOf(dbc);
    ASSERT_NE(conn, nullptr);
    auto* trace = new KaMemoryTracing;
    ASSERT_NE(trace, nullptr);
    ASSERT_EQ(trace->configure("ODBCTraceMemBuffSize=1"), 0);
    // The connection owns it from here and deletes it with itself.
    conn->memoryTracing = trace;
    auto traced = [&] { return std::string(trace->buffer, size_t(trace->position)); };
    EXPECT_EQ(traced(), "");

    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(traced(), "\nConnection added to connection pool.\n");
    SQLHANDLE other = newHandle();
    ASSERT_EQ(connect(other, u"DSN=test;UID=u;PWD=p;POOL=1"), SQL_SUCCESS);
    ASSERT_EQ(currentOf(other), conn);
    EXPECT_EQ(traced(), "\nConnection added to connection pool.\n\nConnection taken from connection pool.\n");
    // Every return writes its line, whichever handle gives it back.
    ASSERT_EQ(SQLDisconnect(other), SQL_SUCCESS);
    EXPECT_EQ(traced(), "\nConnection added to connection pool.\n\nConnection taken from connection pool.\n"
                        "\nConnection added to connection pool.\n");
}
