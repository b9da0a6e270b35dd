// Eight threads allocating, using and freeing statements and descriptors on
// one connection under each thread model, each attaching its descriptor to
// its statement and freeing it while the others run. Under the per-connection and
// per-driver models every statement call is serialised, which a plain
// counter touched by each call shows (ThreadSanitizer reports it otherwise;
// tools/test-all runs this suite in a ThreadSanitizer build too).
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "odbc/baseconn.h"
#include "odbc/basestmt.h"
#include "support/errorscope.h"
#include "support/testconnection.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 100;

// Counts the calls its statements enter, in a plain counter.
struct CallCounter {
    long calls = 0;
};

class CountingStatement : public BaseStatement {
public:
    CountingStatement(BaseConnection* conn, CallCounter* counter) noexcept : BaseStatement(conn), counter_(counter) {}
    int16_t enterHook() noexcept override
    {
        // Shared by all statements only where the model serialises their
        // calls; each statement keeps its own otherwise.
        long* target = connection->threadModel == kBaseThreadSafe ? &ownCalls : &counter_->calls;
        *target = *target + 1;
        return 0;
    }
    long ownCalls = 0;

private:
    CallCounter* counter_;
};

class CountingConnection : public katest::TestConnection {
public:
    CountingConnection(BaseEnv* env, katest::TestConnectionControl* control, CallCounter* counter) noexcept
        : TestConnection(env, control), counter_(counter)
    {}
    int16_t createStatement(BaseStatement** out) noexcept override
    {
        return katest::makeStatement<CountingStatement>(out, this, counter_);
    }

private:
    CallCounter* counter_;
};

class StatementThreads : public ::testing::TestWithParam<int32_t> {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override
    {
        env = new katest::TestEnv(&control);
        handle = new BaseStubConnection(env);
        conn = new CountingConnection(env, &control, &counter);
        conn->threadModel = GetParam();
        ASSERT_EQ(handle->setCurrentConnection(conn), 0);
        conn->connectionFlags |= kBaseConnConnected;
    }
    void TearDown() override
    {
        delete handle;
        delete env;
    }

    // Runs round(failures) kRounds times on each of kThreads threads; a
    // round that returns false ends its thread.
    template <class Round>
    void onThreads(std::atomic<int>* failures, Round round)
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < kRounds; ++i)
                    if (!round(failures))
                        return;
            });
        for (std::thread& t : threads)
            t.join();
    }

    // Without a connection lock the application keeps its connection calls
    // apart; the statement calls run side by side.
    std::unique_lock<std::mutex> connectionCall()
    {
        std::unique_lock<std::mutex> hold(application, std::defer_lock);
        if (unlocked())
            hold.lock();
        return hold;
    }
    bool unlocked() const { return GetParam() == kBaseThreadSafe; }

    std::mutex application;
    katest::TestConnectionControl control;
    CallCounter counter;
    katest::TestEnv* env = nullptr;
    BaseStubConnection* handle = nullptr;
    CountingConnection* conn = nullptr;
};

std::string stateOf(SQLHSTMT stmt)
{
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, 1, state, &native, nullptr, 0, &length) == SQL_ERROR)
        return "";
    std::string out;
    for (int i = 0; i < 5; ++i)
        out += static_cast<char>(state[i]);
    return out;
}

}  // namespace

TEST_P(StatementThreads, EightThreadsAllocateUseAndFreeStatementsOnOneConnection)
{
    std::atomic<int> failures{0};
    onThreads(&failures, [&](std::atomic<int>* failed) {
        SQLHANDLE stmt = nullptr;
        SQLHANDLE desc = nullptr;
        if (auto hold = connectionCall(); SQLAllocHandle(SQL_HANDLE_STMT, handle, &stmt) != SQL_SUCCESS ||
                                          SQLAllocHandle(SQL_HANDLE_DESC, handle, &desc) != SQL_SUCCESS) {
            ++*failed;
            return false;
        }
        if (SQLSetStmtAttrW(stmt, SQL_ATTR_APP_ROW_DESC, desc, 0) != SQL_SUCCESS)
            ++*failed;
        if (SQLFetch(stmt) != SQL_ERROR || stateOf(stmt) != "HY010")
            ++*failed;
        SQLLEN rows = 0;
        if (SQLRowCount(stmt, &rows) != SQL_ERROR)
            ++*failed;
        auto* counting = static_cast<CountingStatement*>(stmt);
        if (unlocked() && counting->ownCalls != 3)
            ++*failed;
        if (SQLFreeHandle(SQL_HANDLE_DESC, desc) != SQL_SUCCESS || SQLFreeHandle(SQL_HANDLE_STMT, stmt) != SQL_SUCCESS)
            ++*failed;
        return true;
    });
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(conn->statements.count, 0u);
    EXPECT_EQ(conn->descriptors.count, 0u);
    if (!unlocked()) {
        // The attached descriptor, two refused calls and the drop enter
        // each statement.
        EXPECT_EQ(counter.calls, long{kThreads} * kRounds * 4);
    }
}

// Another statement's automatic descriptor offered as an application
// descriptor is refused with HY017 while other threads make and free
// statements and with them automatic descriptors: telling it apart reads no
// statement that another thread may be making.
TEST_P(StatementThreads, AutomaticDescriptorsAreRefusedWhileOtherStatementsComeAndGo)
{
    SQLHANDLE shared = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, handle, &shared), SQL_SUCCESS);
    SQLHANDLE sharedArd = nullptr;
    ASSERT_EQ(SQLGetStmtAttrW(shared, SQL_ATTR_APP_ROW_DESC, &sharedArd, 0, nullptr), SQL_SUCCESS);
    std::atomic<int> failures{0};
    onThreads(&failures, [&](std::atomic<int>* failed) {
        SQLHANDLE stmt = nullptr;
        if (auto hold = connectionCall(); SQLAllocHandle(SQL_HANDLE_STMT, handle, &stmt) != SQL_SUCCESS) {
            ++*failed;
            return false;
        }
        SQLHANDLE ownIrd = nullptr;
        if (SQLGetStmtAttrW(stmt, SQL_ATTR_IMP_ROW_DESC, &ownIrd, 0, nullptr) != SQL_SUCCESS)
            ++*failed;
        for (SQLHANDLE automatic : {sharedArd, ownIrd})
            if (SQLSetStmtAttrW(stmt, SQL_ATTR_APP_ROW_DESC, automatic, 0) != SQL_ERROR || stateOf(stmt) != "HY017")
                ++*failed;
        if (SQLFreeHandle(SQL_HANDLE_STMT, stmt) != SQL_SUCCESS)
            ++*failed;
        return true;
    });
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, shared), SQL_SUCCESS);
    EXPECT_EQ(conn->statements.count, 0u);
}

TEST_P(StatementThreads, StatementsLeftAllocatedGoWithTheirConnection)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            SQLHANDLE stmt = nullptr;
            std::lock_guard<std::mutex> hold(application);
            EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, handle, &stmt), SQL_SUCCESS);
            EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, handle, &stmt), SQL_SUCCESS);
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(conn->statements.count, size_t{kThreads});
    EXPECT_EQ(conn->descriptors.count, size_t{kThreads});
    // TearDown frees the handle, its connection and with it all of them.
}

INSTANTIATE_TEST_SUITE_P(Models, StatementThreads,
                         ::testing::Values(kBaseThreadSafe, kBaseThreadPerConnection, kBaseThreadPerDriver),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return info.param == kBaseThreadSafe            ? std::string("none")
                                    : info.param == kBaseThreadPerConnection ? std::string("perConnection")
                                                                             : std::string("perDriver");
                         });
