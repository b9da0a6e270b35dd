// Threads calling on one connection under each thread model, and locking
// switched off while calls wait. Each call touches a plain counter, so a
// lock that fails to serialise them is a data race that ThreadSanitizer
// reports (tools/test-all runs this suite in a ThreadSanitizer build too).
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "odbc/baseconn.h"
#include "support/testconnection.h"

using katest::TestConnection;
using katest::TestConnectionControl;
using katest::TestEnv;

namespace {

constexpr int kThreads = 4;
constexpr int kCallsEach = 500;

class ThreadModelTest : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override
    {
        env = new TestEnv(&control);
        handle = new BaseStubConnection(env);
        BaseConnection* made = nullptr;
        ASSERT_EQ(env->newConnection(0, &made), 0);
        conn = static_cast<TestConnection*>(made);
        ASSERT_EQ(handle->setCurrentConnection(conn), 0);
    }
    void TearDown() override
    {
        delete handle;
        delete env;
    }

    TestConnectionControl control;
    TestEnv* env = nullptr;
    BaseStubConnection* handle = nullptr;
    TestConnection* conn = nullptr;
};

}  // namespace

TEST_P(ThreadModelTest, FourThreadsCallOnOneConnection)
{
    conn->threadModel = GetParam();
    // Without locking the application keeps its own calls on a connection
    // apart, as the no-lock model requires; the driver must add no shared
    // state of its own outside the handle.
    std::mutex application;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kCallsEach; ++i) {
                int16_t rc;
                if (conn->threadModel == kBaseThreadSafe) {
                    std::lock_guard<std::mutex> hold(application);
                    rc = conn->work();
                } else {
                    rc = conn->work();
                }
                if (rc != SQL_SUCCESS)
                    ++failures;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(control.sharedCounter, long{kThreads} * kCallsEach);
}

INSTANTIATE_TEST_SUITE_P(Models, ThreadModelTest,
                         ::testing::Values(kBaseThreadSafe, kBaseThreadPerConnection, kBaseThreadPerDriver),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return info.param == kBaseThreadSafe            ? std::string("none")
                                    : info.param == kBaseThreadPerConnection ? std::string("perConnection")
                                                                             : std::string("perDriver");
                         });

// Locking switched off inside a call, while another thread waits for the
// lock: the running call's exit releases it, the waiting call gets it and
// releases it in turn, and the mutex lives on.
class LockSwitchTest : public ThreadModelTest {};

TEST_P(LockSwitchTest, SwitchingLockingOffReleasesWhatWasTakenAndDestroysNothing)
{
    conn->threadModel = GetParam();
    ASSERT_EQ(conn->enterApi(SQL_API_SQLDRIVERCONNECT), 0);
    std::promise<void> started;
    std::future<int16_t> waiting = std::async(std::launch::async, [&] {
        started.set_value();
        return conn->work();
    });
    started.get_future().wait();
    // Give the second call time to block on the lock.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    handle->switchLockingOff();
    EXPECT_EQ(conn->leaveApi(SQL_SUCCESS), SQL_SUCCESS);
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), SQL_SUCCESS);
    EXPECT_EQ(control.sharedCounter, 1);

    // From now on calls take no lock, and the lock itself is still usable.
    KaCriticalSection* section = GetParam() == kBaseThreadPerConnection ? &handle->apiLock : env->driverLock();
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(pthread_mutex_trylock(&section->mutex), 0);
    EXPECT_EQ(conn->work(), SQL_SUCCESS);  // would deadlock if it still locked
    pthread_mutex_unlock(&section->mutex);
    EXPECT_EQ(control.sharedCounter, 2);
}

// One thread loses the link while three others keep calling: the handle
// reconnects once, under the lock the losing call holds, and the calls of
// the reconnect itself do not wait for that lock.
TEST_P(LockSwitchTest, ALinkLostAmongCallingThreadsReconnectsOnce)
{
    conn->threadModel = GetParam();
    // The new connection locks by the same model: its connect, run by the
    // reconnecting thread, must not wait for the lock that thread holds.
    control.threadModel = GetParam();
    conn->failoverMode = 1;
    int16_t outLength = 0;
    ASSERT_EQ(conn->driverConnect(nullptr, reinterpret_cast<const uint16_t*>(u"DSN=t"), SQL_NTS, nullptr, 0, &outLength,
                                  SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS);
    int made = control.made;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCallsEach; ++i) {
                if (t == 0 && i == kCallsEach / 2) {
                    if (conn->callLosingLink() != SQL_ERROR)
                        ++failures;
                } else if (conn->work() != SQL_SUCCESS) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(control.made, made + 1);
    EXPECT_NE(handle->current, conn);
    EXPECT_EQ(handle->ownerThreadSet, 0u);
    // A second failure seen on the old connection reconnects nothing more.
    EXPECT_EQ(conn->callLosingLink(), SQL_ERROR);
    EXPECT_EQ(control.made, made + 1);
}

// Threads sharing one environment: some allocate connection handles on it
// and free them in another order, one commits on it (a walk of its list of
// handles), one reads and misreads its attributes (its diagnostics). The
// list ends as it began and every call answers what it would alone.
TEST(EnvironmentThreads, ConnectionHandlesComeAndGoOnOneEnvironment)
{
    ASSERT_EQ(katest::openCatalogue(), 0);
    TestConnectionControl control;
    auto* env = new TestEnv(&control);
    constexpr int kHeld = 3;
    std::atomic<int> failures{0};
    std::atomic<bool> allocating{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kCallsEach / 5; ++i) {
                SQLHANDLE held[kHeld] = {};
                for (SQLHANDLE& dbc : held)
                    if (SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc) != SQL_SUCCESS || dbc == nullptr)
                        ++failures;
                // The middle one first: the list loses a node between others.
                for (int k : {1, 0, 2})
                    if (held[k] != nullptr && SQLFreeHandle(SQL_HANDLE_DBC, held[k]) != SQL_SUCCESS)
                        ++failures;
            }
        });
    }
    std::thread committer([&] {
        while (allocating)
            if (SQLEndTran(SQL_HANDLE_ENV, env, SQL_COMMIT) != SQL_SUCCESS)
                ++failures;
    });
    std::thread reader([&] {
        while (allocating) {
            SQLINTEGER version = 0;
            if (SQLGetEnvAttr(env, SQL_ATTR_ODBC_VERSION, &version, 0, nullptr) != SQL_SUCCESS ||
                version != SQL_OV_ODBC3)
                ++failures;
            if (SQLGetEnvAttr(env, SQL_ATTR_CONNECTION_POOLING + 1000, &version, 0, nullptr) != SQL_ERROR)
                ++failures;
        }
    });
    for (std::thread& t : threads)
        t.join();
    allocating = false;
    committer.join();
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(env->connections.count, 0u);
    EXPECT_EQ(env->connectionCount, 0);
    delete env;
    katest::closeCatalogue();
}

// The models that lock.
INSTANTIATE_TEST_SUITE_P(Models, LockSwitchTest, ::testing::Values(kBaseThreadPerConnection, kBaseThreadPerDriver),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return info.param == kBaseThreadPerConnection ? std::string("perConnection")
                                                                           : std::string("perDriver");
                         });
