// The driver's environment class: what its factory makes, the lock-table
// entry its connections share, and the HiveServer2 connections it makes.
#include <gtest/gtest.h>

#include "hive/dummyenv.h"
#include "hive/hiveconnection.h"
#include "odbc/baseconn.h"
#include "support/diagscope.h"

namespace {

class DummyEnvTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(katest::openCatalogue(), 0); }
    void TearDown() override { katest::closeCatalogue(); }
};

}  // namespace

TEST_F(DummyEnvTest, TheFactoryMakesADriverEnvironmentOnTheDriversLockEntry)
{
    ASSERT_EQ(baseLiveEnvironments(), 0);
    BaseEnv* env = hiveMakeEnv();
    ASSERT_NE(env, nullptr);
    EXPECT_NE(dynamic_cast<DummyEnv*>(env), nullptr);
    EXPECT_EQ(env->initCheck(), 0);
    EXPECT_EQ(baseLiveEnvironments(), 1);
    KaCriticalSection* table = baseLockTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(env->driverLock(), &table[kDummyEnvLockIndex]);
    delete env;
    EXPECT_EQ(baseLiveEnvironments(), 0);
}

TEST_F(DummyEnvTest, NewConnectionsAreHiveConnectionsOfTheEnvironment)
{
    DummyEnv env;
    katest::DiagScope d;
    for (int32_t skipAcceptCheck : {0, 1}) {
        BaseConnection* conn = nullptr;
        ASSERT_EQ(env.newConnection(skipAcceptCheck, &conn), 0);
        auto* hive = dynamic_cast<HiveConnection*>(conn);
        ASSERT_NE(hive, nullptr);
        EXPECT_EQ(hive->env, &env);
        EXPECT_EQ(hive->threadModel, kBaseThreadPerConnection);
        EXPECT_NE(hive->connectionFlags & kBaseConnUnicodeDriver, 0u);
        EXPECT_EQ(hive->loginTimeout, kHiveDefaultLoginTimeout);
        delete conn;
    }
    // Nowhere to put it: nothing is made (nor leaked).
    EXPECT_EQ(env.newConnection(0, nullptr), -1);
    EXPECT_EQ(d.size(), 0u);
}
