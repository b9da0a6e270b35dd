// The frame of a connection or environment call (runApi): the entry, the
// body and the exit, the exit on every path the body takes and after a
// refused entry, with what the exit step makes of the body's return code.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "foundation/kaerror.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "support/testconnection.h"

using katest::TestConnection;
using katest::TestConnectionControl;
using katest::TestEnvOf;

namespace {

// Records the steps in order; its exit answers with a code of its own so
// that the test sees the frame hand back the exit's answer.
struct FakeFrame {
    int16_t entryResult = 0;
    std::string steps;
    int16_t leftWith = 0;

    int16_t enterApi(uint16_t) noexcept
    {
        steps += 'E';
        return entryResult;
    }
    int16_t leaveApi(int16_t rc) noexcept
    {
        steps += 'L';
        leftWith = rc;
        return static_cast<int16_t>(rc == SQL_SUCCESS ? SQL_SUCCESS_WITH_INFO : rc);
    }
};

struct FrameCase {
    const char* name;
    int16_t entryResult;
    int path;  // which of the body's returns is taken
    const char* steps;
    int16_t leftWith;
    int16_t result;
};

const FrameCase kFrameCases[] = {
    {"entry refused: no body, exit with an error", 1, 0, "EL", SQL_ERROR, SQL_ERROR},
    {"early error return", 0, 0, "EBL", SQL_ERROR, SQL_ERROR},
    {"early no-data return", 0, 1, "EBL", SQL_NO_DATA, SQL_NO_DATA},
    {"last return", 0, 2, "EBL", SQL_SUCCESS, SQL_SUCCESS_WITH_INFO},
};

TEST(RunApiFrame, ExitRunsOnceOnEveryPathAndItsAnswerIsTheCallsResult)
{
    for (const FrameCase& c : kFrameCases) {
        SCOPED_TRACE(c.name);
        FakeFrame frame;
        frame.entryResult = c.entryResult;
        int16_t rc = baseRunApi(frame, SQL_API_SQLGETINFO, [&]() noexcept -> int16_t {
            frame.steps += 'B';
            if (c.path == 0)
                return SQL_ERROR;
            if (c.path == 1)
                return SQL_NO_DATA;
            return SQL_SUCCESS;
        });
        EXPECT_EQ(frame.steps, c.steps);
        EXPECT_EQ(frame.leftWith, c.leftWith);
        EXPECT_EQ(rc, c.result);
    }
}

// A connection whose entry hook refuses calls while asked to.
class RefusingConnection : public TestConnection {
public:
    RefusingConnection(BaseEnv* env, TestConnectionControl* control) noexcept : TestConnection(env, control) {}
    int16_t enterHook() noexcept override { return refuse ? 1 : 0; }
    bool refuse = false;
};

class RunApiConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(katest::openCatalogue(), 0);
        env = std::make_unique<TestEnvOf<RefusingConnection>>(&control);
        handle = std::make_unique<BaseStubConnection>(env.get());
        BaseConnection* made = nullptr;
        ASSERT_EQ(env->newConnection(0, &made), 0);
        conn = static_cast<RefusingConnection*>(made);
        conn->threadModel = kBaseThreadPerConnection;
        ASSERT_EQ(handle->setCurrentConnection(conn), 0);
    }
    void TearDown() override
    {
        handle.reset();
        env.reset();
        katest::closeCatalogue();
    }

    // Whether another thread can take the handle's call lock within a
    // bounded wait: the frame left nothing held.
    bool lockFreeForOthers()
    {
        auto taken = std::make_shared<std::promise<void>>();
        std::future<void> done = taken->get_future();
        KaCriticalSection* lock = &handle->apiLock;
        // Detached, so that a lock left held fails the test instead of
        // hanging it.
        std::thread([lock, taken] {
            lock->enter();
            lock->leave();
            taken->set_value();
        }).detach();
        return done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    }

    TestConnectionControl control;
    std::unique_ptr<TestEnvOf<RefusingConnection>> env;
    std::unique_ptr<BaseStubConnection> handle;
    RefusingConnection* conn = nullptr;
};

}  // namespace

TEST_F(RunApiConnectionTest, RefusedEntryRunsNoBodyAndReleasesTheLockAndTheList)
{
    KaErrorList* before = KaErrorCurrentList();
    conn->refuse = true;
    bool ran = false;
    int16_t rc = conn->runApi(SQL_API_SQLGETINFO, [&]() noexcept {
        ran = true;
        return SQL_SUCCESS;
    });
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_FALSE(ran);
    EXPECT_EQ(KaErrorCurrentList(), before);
    EXPECT_TRUE(lockFreeForOthers());
}

TEST_F(RunApiConnectionTest, BodyRunsWithTheHandlesListAndItsWarningsMakeSuccessWithInfo)
{
    KaErrorList* before = KaErrorCurrentList();
    KaErrorList* during = nullptr;
    int16_t rc = conn->runApi(SQL_API_SQLGETINFO, [&]() noexcept {
        during = KaErrorCurrentList();
        basePostWarning(kBaseIdxGeneralWarning);
        return SQL_SUCCESS;
    });
    EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(during, &handle->diagnostics);
    EXPECT_EQ(handle->diagnostics.diagCount(), 1);
    EXPECT_EQ(KaErrorCurrentList(), before);
    EXPECT_TRUE(lockFreeForOthers());
}

TEST_F(RunApiConnectionTest, HandleAndEnvironmentFramesMakeTheirListCurrentAndLeaveIt)
{
    KaErrorList* before = KaErrorCurrentList();
    KaErrorList* during = nullptr;
    int16_t rc = handle->runApi(SQL_API_SQLGETINFO, [&]() noexcept {
        during = KaErrorCurrentList();
        basePostError(kBaseIdxGeneralError);
        return SQL_ERROR;
    });
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(during, &handle->diagnostics);
    EXPECT_EQ(handle->diagnostics.diagCount(), 1);
    EXPECT_EQ(KaErrorCurrentList(), before);

    rc = env->runApi(SQL_API_SQLGETENVATTR, [&]() noexcept {
        during = KaErrorCurrentList();
        basePostWarning(kBaseIdxGeneralWarning);
        return SQL_SUCCESS;
    });
    EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(during, &env->diagnostics);
    EXPECT_EQ(KaErrorCurrentList(), before);
}
