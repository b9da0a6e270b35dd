// The environment handle: its attributes, the lock table that lives while
// environments do, the entry and exit steps, and SQLEndTran on environments
// and connections with the implicit transactions they end.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "support/diagscope.h"
#include "support/guarded.h"

using katest::narrow;
using katest::u16;

namespace {

// The lock-table entry the tests' environments use.
constexpr int32_t kLockIndex = 15;

std::string stateOf(BaseErrorList& list, int16_t rec)
{
    uint16_t state[6] = {};
    if (list.getDiagRec(rec, state, nullptr, nullptr, 0, nullptr) != SQL_SUCCESS)
        return "none";
    return narrow(u16(state));
}

std::string textOf(BaseErrorList& list, int16_t rec)
{
    uint16_t text[600] = {};
    if (list.getDiagRec(rec, nullptr, nullptr, text, 600, nullptr) != SQL_SUCCESS)
        return "none";
    return narrow(u16(text));
}

// A physical connection whose server commit and rollback are recorded and
// whose answer the test chooses.
class TxnConnection : public BaseConnection {
public:
    explicit TxnConnection(BaseEnv* env, int16_t answer = 0) : BaseConnection(env), answer_(answer) { autocommit = 0; }

    int16_t autocommitChange(int16_t completionType) noexcept override
    {
        calls.push_back(completionType);
        if (answer_ != 0)
            basePostError(kBaseIdxGeneralError);
        return answer_;
    }

    int16_t beginTranCheck() noexcept override { return refuseBegin ? 1 : 0; }

    void startTransaction() { connectionFlags |= kBaseConnTransactionActive; }
    bool active() const { return (connectionFlags & kBaseConnTransactionActive) != 0; }

    std::vector<int16_t> calls;
    bool refuseBegin = false;

private:
    int16_t answer_;
};

class EnvTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(katest::openCatalogue(), 0); }
    void TearDown() override { katest::closeCatalogue(); }
};

}  // namespace

TEST_F(EnvTest, OdbcVersionIsThreeUntilTheApplicationAsksForTwo)
{
    struct Case {
        intptr_t set;
        int32_t expected;
    };
    const Case cases[] = {{0, 3}, {SQL_OV_ODBC2, 2}, {SQL_OV_ODBC3, 3}, {SQL_OV_ODBC3_80, 3}};
    for (const Case& c : cases) {
        BaseEnv env(kLockIndex);
        if (c.set != 0) {
            EXPECT_EQ(env.setEnvAttr(SQL_ATTR_ODBC_VERSION, reinterpret_cast<void*>(c.set), 0), SQL_SUCCESS);
        }
        katest::Guarded<int32_t> value(1);
        int32_t length = -1;
        EXPECT_EQ(env.getEnvAttr(SQL_ATTR_ODBC_VERSION, value.data(), 4, &length), SQL_SUCCESS);
        EXPECT_EQ(value.data()[0], c.expected) << "set " << c.set;
        EXPECT_TRUE(value.guardsIntact());
        EXPECT_EQ(length, 4);
        EXPECT_EQ(env.odbc2Mode, c.expected == 2 ? 1 : 0);
    }
}

TEST_F(EnvTest, OutputNtsIsAlwaysOn)
{
    BaseEnv env(kLockIndex);
    for (int32_t attr : {SQL_ATTR_OUTPUT_NTS, kBaseEnvAttrOutputNtsOld}) {
        int32_t value = 0;
        EXPECT_EQ(env.getEnvAttr(attr, &value, 4, nullptr), SQL_SUCCESS);
        EXPECT_EQ(value, 1);
    }
}

TEST_F(EnvTest, UnknownEnvironmentAttributeIsOptionalFeatureNotImplemented)
{
    BaseEnv env(kLockIndex);
    int32_t value = 0;
    EXPECT_EQ(env.getEnvAttr(SQL_ATTR_CONNECTION_POOLING, &value, 4, nullptr), SQL_ERROR);
    ASSERT_EQ(env.diagnostics.diagCount(), 1);
    EXPECT_EQ(stateOf(env.diagnostics, 1), "HYC00");
    EXPECT_EQ(textOf(env.diagnostics, 1), "[Mirrowen][ODBC ]Optional feature not supported");
    // The next call starts with an empty list.
    EXPECT_EQ(env.getEnvAttr(SQL_ATTR_ODBC_VERSION, &value, 4, nullptr), SQL_SUCCESS);
    EXPECT_EQ(env.diagnostics.diagCount(), 0);
}

TEST_F(EnvTest, ConnectionPoolingIsAcceptedAndChangesNothing)
{
    BaseEnv env(kLockIndex);
    EXPECT_EQ(env.setEnvAttr(SQL_ATTR_CONNECTION_POOLING, reinterpret_cast<void*>(intptr_t{SQL_CP_ONE_PER_DRIVER}), 0),
              SQL_SUCCESS);
    EXPECT_EQ(env.odbc2Mode, 0);
    EXPECT_EQ(env.diagnostics.diagCount(), 0);
}

TEST_F(EnvTest, LockTableLivesAsLongAsAnEnvironment)
{
    ASSERT_EQ(baseLiveEnvironments(), 0);
    EXPECT_EQ(baseLockTable(), nullptr);
    auto* first = new BaseEnv(kLockIndex);
    auto* second = new BaseEnv(kLockIndex);
    EXPECT_EQ(baseLiveEnvironments(), 2);
    KaCriticalSection* table = baseLockTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(first->driverLock(), &table[kLockIndex]);
    delete first;
    EXPECT_EQ(baseLockTable(), table);
    EXPECT_EQ(second->driverLock(), &table[kLockIndex]);
    delete second;
    EXPECT_EQ(baseLiveEnvironments(), 0);
    EXPECT_EQ(baseLockTable(), nullptr);
}

TEST_F(EnvTest, ConnectionHandlesJoinAndLeaveTheirEnvironment)
{
    auto* env = new BaseEnv(kLockIndex);
    auto* a = new BaseStubConnection(env);
    auto* b = new BaseStubConnection(env);
    EXPECT_EQ(env->connectionCount, 2);
    EXPECT_EQ(env->connections.first(), a);
    delete a;
    EXPECT_EQ(env->connectionCount, 1);
    EXPECT_EQ(env->connections.first(), b);
    // A handle the application forgot no longer reaches back into a freed
    // environment.
    delete env;
    EXPECT_EQ(b->env, nullptr);
    delete b;
}

TEST_F(EnvTest, SuccessWithOnlyWarningsLeavesAsSuccessWithInfo)
{
    BaseEnv env(kLockIndex);
    env.enterApi(SQL_API_SQLTRANSACT);
    basePostWarning(kBaseIdxGeneralWarning);
    EXPECT_EQ(env.leaveApi(SQL_SUCCESS), SQL_SUCCESS_WITH_INFO);
    env.enterApi(SQL_API_SQLTRANSACT);
    EXPECT_EQ(env.diagnostics.diagCount(), 0);
    basePostError(kBaseIdxGeneralError);
    EXPECT_EQ(env.leaveApi(SQL_SUCCESS), SQL_SUCCESS);
}

TEST_F(EnvTest, EnvironmentCommitWalksEveryConnectionAndKeepsGoingAfterAFailure)
{
    BaseEnv env(kLockIndex);
    BaseStubConnection h1(&env), h2(&env);
    auto* failing = new TxnConnection(&env, 1);
    auto* good = new TxnConnection(&env);
    auto* standby = new TxnConnection(&env);
    h1.setCurrentConnection(failing);
    h2.setCurrentConnection(good);
    h2.addConnection(standby);
    for (TxnConnection* c : {failing, good, standby})
        c->startTransaction();

    EXPECT_EQ(env.endTransaction(SQL_COMMIT), SQL_ERROR);
    EXPECT_EQ(failing->calls, std::vector<int16_t>{SQL_COMMIT});
    EXPECT_EQ(good->calls, std::vector<int16_t>{SQL_COMMIT});
    EXPECT_EQ(standby->calls, std::vector<int16_t>{SQL_COMMIT});
    EXPECT_TRUE(failing->active());
    EXPECT_FALSE(good->active());
    // The failure is told on its own connection, not on the environment.
    EXPECT_EQ(env.diagnostics.diagCount(), 0);
    ASSERT_EQ(h1.diagnostics.diagCount(), 1);
    EXPECT_EQ(stateOf(h1.diagnostics, 1), "HY000");
    EXPECT_EQ(h2.diagnostics.diagCount(), 0);

    EXPECT_EQ(env.endTransaction(SQL_ROLLBACK), SQL_ERROR);
    EXPECT_EQ(failing->calls.size(), 2u);
    EXPECT_EQ(good->calls.size(), 1u);  // nothing open any more
}

TEST_F(EnvTest, CommitWithAutocommitOnDoesNotReachTheServer)
{
    BaseEnv env(kLockIndex);
    BaseStubConnection handle(&env);
    auto* conn = new TxnConnection(&env);
    handle.setCurrentConnection(conn);
    conn->startTransaction();
    conn->autocommit = 1;
    EXPECT_EQ(conn->endTran(SQL_COMMIT), SQL_SUCCESS);
    EXPECT_EQ(env.endTransaction(SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_TRUE(conn->calls.empty());
}

TEST_F(EnvTest, ConnectionEndTranEndsTheOpenTransaction)
{
    BaseEnv env(kLockIndex);
    BaseStubConnection handle(&env);
    auto* conn = new TxnConnection(&env);
    handle.setCurrentConnection(conn);
    EXPECT_EQ(conn->endTran(SQL_COMMIT), SQL_SUCCESS);  // nothing open
    EXPECT_TRUE(conn->calls.empty());
    conn->startTransaction();
    EXPECT_EQ(conn->endTran(SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_EQ(conn->calls, std::vector<int16_t>{SQL_ROLLBACK});
    EXPECT_FALSE(conn->active());
}

TEST_F(EnvTest, UnknownCompletionTypeIsInvalidTransactionOperationCode)
{
    BaseEnv env(kLockIndex);
    BaseStubConnection handle(&env);
    auto* conn = new TxnConnection(&env);
    handle.setCurrentConnection(conn);
    conn->startTransaction();
    EXPECT_EQ(env.endTransaction(7), SQL_ERROR);
    EXPECT_EQ(stateOf(env.diagnostics, 1), "HY012");
    EXPECT_EQ(textOf(env.diagnostics, 1), "[Mirrowen][ODBC ]Invalid transaction operation code: 7");
    EXPECT_EQ(conn->endTran(-1), SQL_ERROR);
    EXPECT_EQ(stateOf(handle.diagnostics, 1), "HY012");
    EXPECT_TRUE(conn->calls.empty());
    EXPECT_TRUE(conn->active());
}

TEST_F(EnvTest, ImplicitTransactionStartsOnlyWhenAllowed)
{
    BaseEnv env(kLockIndex);
    TxnConnection conn(&env);
    conn.autocommit = 1;
    EXPECT_EQ(conn.beginTransaction(), 0);
    EXPECT_FALSE(conn.active());

    conn.autocommit = 0;
    conn.refuseBegin = true;
    EXPECT_EQ(conn.beginTransaction(), 1);
    EXPECT_FALSE(conn.active());

    conn.refuseBegin = false;
    conn.xaState = 2;  // enlisted: the distributed transaction rules
    EXPECT_EQ(conn.beginTransaction(), 0);
    EXPECT_FALSE(conn.active());

    conn.xaState = 0;
    EXPECT_EQ(conn.beginTransaction(), 0);
    EXPECT_TRUE(conn.active());
    EXPECT_EQ(conn.beginTransaction(), 0);  // already open
    EXPECT_TRUE(conn.active());
}

TEST_F(EnvTest, XaEnlistmentIsNotSupportedAndTheLockFollowsTheFlag)
{
    BaseEnv env(kLockIndex);
    BaseStubConnection handle(&env);
    auto* conn = new TxnConnection(&env);
    handle.setCurrentConnection(conn);
    katest::DiagScope d;
    EXPECT_EQ(conn->xaEnlist(nullptr), 1);
    EXPECT_EQ(conn->xaDelist(nullptr), 1);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.index(0), kBaseIdxNotSupported);
    // With the XA lock flag set, lock and unlock pair on the connection lock.
    conn->connectionFlags |= kBaseConnXaLocks;
    EXPECT_EQ(conn->lock(), 0);
    EXPECT_NE(pthread_mutex_trylock(&conn->connectionLock.mutex), 0);
    EXPECT_EQ(conn->unlock(), 0);
    ASSERT_EQ(pthread_mutex_trylock(&conn->connectionLock.mutex), 0);
    pthread_mutex_unlock(&conn->connectionLock.mutex);
}

TEST_F(EnvTest, EnvironmentWithoutDriverClassMakesNoConnection)
{
    BaseEnv env(kLockIndex);
    katest::DiagScope d;
    BaseConnection* conn = reinterpret_cast<BaseConnection*>(&env);
    EXPECT_EQ(env.newConnection(0, &conn), -1);
    EXPECT_EQ(conn, nullptr);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.text(0), "The environment has no connection class of a driver.");
}
