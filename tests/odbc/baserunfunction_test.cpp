// The one frame of a statement call (BaseStatement::runFunction): the work
// runs inside the entry and exit steps, the exit step runs on every path,
// the work's status comes back as the exit step makes it, and a refused
// entry skips the work.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include "foundation/kaerror.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/connfixture.h"
#include "support/testconnection.h"

namespace {

// A statement that counts its entry and exit steps through the driver's
// hooks, and whose hooks answer as the test says.
class CountedStatement : public BaseStatement {
public:
    using BaseStatement::BaseStatement;
    int16_t enterHook() noexcept override
    {
        ++entries;
        return enterAnswer;
    }
    int16_t exitHook() noexcept override
    {
        ++exits;
        return exitAnswer;
    }
    int entries = 0;
    int exits = 0;
    int16_t enterAnswer = 0;
    int16_t exitAnswer = 0;
};

class RunFunction : public katest::ConnectedFixture<katest::TestEnv> {
protected:
    void SetUp() override
    {
        katest::ConnectedFixture<katest::TestEnv>::SetUp();
        stmt = new CountedStatement(conn);
        ASSERT_EQ(stmt->initStatement(), 0);
    }
    void TearDown() override
    {
        delete stmt;
        katest::ConnectedFixture<katest::TestEnv>::TearDown();
    }
    CountedStatement* stmt = nullptr;
};

TEST_F(RunFunction, TheWorksStatusPassesThroughTheExitStep)
{
    struct Case {
        const char* what;
        int16_t status;
        bool warn;
        int16_t exitAnswer;
        int16_t expected;
    };
    const Case cases[] = {
        {"success", SQL_SUCCESS, false, 0, SQL_SUCCESS},
        {"error", SQL_ERROR, false, 0, SQL_ERROR},
        {"no data", SQL_NO_DATA, false, 0, SQL_NO_DATA},
        {"still executing", SQL_STILL_EXECUTING, false, 0, SQL_STILL_EXECUTING},
        {"need data", SQL_NEED_DATA, false, 0, SQL_NEED_DATA},
        {"success with a warning posted", SQL_SUCCESS, true, 0, SQL_SUCCESS_WITH_INFO},
        {"success the driver's exit fails", SQL_SUCCESS, false, 1, SQL_ERROR},
    };
    for (const Case& c : cases) {
        const int exitsBefore = stmt->exits;
        stmt->exitAnswer = c.exitAnswer;
        int16_t apiInside = -1;
        const int16_t rc = stmt->runFunction(SQL_API_SQLFETCH, [&]() -> int16_t {
            apiInside = stmt->apiId;
            if (c.warn)
                basePostWarning(kBaseIdxGeneralWarning);
            return c.status;
        });
        EXPECT_EQ(rc, c.expected) << c.what;
        EXPECT_EQ(apiInside, SQL_API_SQLFETCH) << c.what;
        // A frame left open would hold the statement's lock for good.
        ASSERT_EQ(stmt->exits, exitsBefore + 1) << c.what;
        ASSERT_EQ(stmt->apiId, -1) << c.what;
        EXPECT_EQ(stmt->lastApiId, SQL_API_SQLFETCH) << c.what;
    }
}

TEST_F(RunFunction, EveryWayOutOfTheWorkRunsTheExitStep)
{
    // The work ends by one of several returns; each leaves the frame.
    for (int way = 0; way < 3; ++way) {
        const int exitsBefore = stmt->exits;
        const int16_t rc = stmt->runFunction(SQL_API_SQLEXECUTE, [&]() -> int16_t {
            if (way == 0)
                return SQL_ERROR;
            if (way == 1) {
                basePostError(kBaseIdxSequence);
                return SQL_ERROR;
            }
            return SQL_SUCCESS;
        });
        EXPECT_EQ(rc, way == 2 ? SQL_SUCCESS : SQL_ERROR) << way;
        ASSERT_EQ(stmt->exits, exitsBefore + 1) << way;
        ASSERT_EQ(stmt->apiId, -1) << way;
        EXPECT_EQ(stmt->diagnostics.recordCount(), way == 1 ? 1u : 0u) << way;
    }
}

TEST_F(RunFunction, ARefusedEntrySkipsTheWorkButNotTheExit)
{
    KaErrorList* const listBefore = KaErrorCurrentList();
    stmt->enterAnswer = 1;
    bool ran = false;
    const int16_t rc = stmt->runFunction(SQL_API_SQLFETCH, [&]() -> int16_t {
        ran = true;
        return SQL_SUCCESS;
    });
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_FALSE(ran);
    EXPECT_EQ(stmt->entries, 1);
    ASSERT_EQ(stmt->exits, 1);
    ASSERT_EQ(stmt->apiId, -1);
    EXPECT_EQ(stmt->lastApiId, SQL_API_SQLFETCH);
    EXPECT_EQ(KaErrorCurrentList(), listBefore);

    // The next call goes on as usual: the refused one left no frame behind.
    stmt->enterAnswer = 0;
    EXPECT_EQ(stmt->runFunction(SQL_API_SQLFETCH,
                                [&]() -> int16_t {
                                    ran = true;
                                    return SQL_SUCCESS;
                                }),
              SQL_SUCCESS);
    EXPECT_TRUE(ran);
    EXPECT_EQ(stmt->exits, 2);
}

}  // namespace
