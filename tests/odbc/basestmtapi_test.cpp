// The statement functions this framework runs so far: the descriptor
// handles a statement answers and takes, and the refusals of the others,
// each inside the call frame.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "support/connfixture.h"
#include "support/diagscope.h"
#include "support/testconnection.h"

namespace {

class StatementApi : public katest::ConnectedFixture<katest::TestEnv> {
protected:
    void SetUp() override
    {
        ConnectedFixture::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(conn->createStatement(&stmt), 0);
    }

    SQLHDESC descAttr(int32_t attribute)
    {
        SQLHDESC desc = nullptr;
        int32_t length = 0;
        EXPECT_EQ(stmt->getStmtAttr(attribute, &desc, 0, &length), SQL_SUCCESS);
        EXPECT_EQ(length, static_cast<int32_t>(sizeof(SQLHDESC)));
        return desc;
    }

    BaseStatement* stmt = nullptr;
};

}  // namespace

TEST_F(StatementApi, TheStatementAnswersItsFourDescriptorHandles)
{
    EXPECT_EQ(descAttr(SQL_ATTR_APP_ROW_DESC), stmt->implicitArd);
    EXPECT_EQ(descAttr(SQL_ATTR_APP_PARAM_DESC), stmt->implicitApd);
    EXPECT_EQ(descAttr(SQL_ATTR_IMP_ROW_DESC), stmt->ird);
    EXPECT_EQ(descAttr(SQL_ATTR_IMP_PARAM_DESC), stmt->ipd);
    SQLULEN value = 0;
    EXPECT_EQ(stmt->getStmtAttr(SQL_ATTR_ENABLE_AUTO_IPD, &value, 0, nullptr), SQL_ERROR);
    ASSERT_EQ(stmt->diagnostics.recordCount(), 1u);
    EXPECT_EQ(stmt->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxNotSupported);
}

TEST_F(StatementApi, AnExplicitDescriptorAttachesAndGoesBackWhenFreed)
{
    auto* explicitDesc = new BaseAXDWR(conn, 0);
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_ROW_DESC, explicitDesc, 0), SQL_SUCCESS);
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_PARAM_DESC, explicitDesc, 0), SQL_SUCCESS);
    EXPECT_EQ(descAttr(SQL_ATTR_APP_ROW_DESC), explicitDesc);
    EXPECT_EQ(descAttr(SQL_ATTR_APP_PARAM_DESC), explicitDesc);
    EXPECT_TRUE(stmt->bindingsChanged);

    // Null gives the implicit one back; an automatic descriptor is refused
    // (each case of it below) and the explicit one stays.
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_PARAM_DESC, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(stmt->currentApd, stmt->implicitApd);
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_ROW_DESC, stmt->ird, 0), SQL_ERROR);
    EXPECT_EQ(stmt->currentArd, explicitDesc);

    // Freeing it gives the statement its own ARD back.
    delete explicitDesc;
    EXPECT_EQ(stmt->currentArd, stmt->implicitArd);
    EXPECT_EQ(descAttr(SQL_ATTR_APP_ROW_DESC), stmt->implicitArd);
}

// A descriptor the driver made for a statement, this one's or any other's,
// cannot serve as an application descriptor: HY017. A value that is no
// descriptor, or another connection's explicit one, is an invalid value:
// HY024. Nothing is changed either way.
TEST_F(StatementApi, AutomaticDescriptorsOfAnyStatementGiveHY017)
{
    BaseStatement* other = nullptr;
    ASSERT_EQ(conn->createStatement(&other), 0);
    BaseConnection* otherConn = nullptr;
    ASSERT_EQ(env->newConnection(0, &otherConn), 0);
    BaseStatement* elsewhere = nullptr;
    ASSERT_EQ(otherConn->createStatement(&elsewhere), 0);
    auto* foreignExplicit = new BaseAXDWR(otherConn, 0);
    int notADescriptor = 0;

    struct Case {
        const char* what;
        void* value;
        const char* state;
    } cases[] = {
        {"its own IRD", stmt->ird, "HY017"},
        {"its own IPD", stmt->ipd, "HY017"},
        {"another statement's ARD", other->implicitArd, "HY017"},
        {"another statement's APD", other->implicitApd, "HY017"},
        {"another statement's IRD", other->ird, "HY017"},
        {"another statement's IPD", other->ipd, "HY017"},
        {"another connection's statement's ARD", elsewhere->implicitArd, "HY017"},
        {"another connection's explicit descriptor", foreignExplicit, "HY024"},
        {"no descriptor at all", &notADescriptor, "HY024"},
    };
    for (const Case& c : cases) {
        for (int32_t attribute : {SQL_ATTR_APP_ROW_DESC, SQL_ATTR_APP_PARAM_DESC}) {
            SCOPED_TRACE(std::string(c.what) + (attribute == SQL_ATTR_APP_ROW_DESC ? " as ARD" : " as APD"));
            EXPECT_EQ(stmt->setStmtAttr(attribute, c.value, 0), SQL_ERROR);
            uint16_t state[kBaseSqlstateUnits] = {};
            ASSERT_EQ(stmt->diagnostics.getDiagRec(1, state, nullptr, nullptr, 0, nullptr), SQL_SUCCESS);
            EXPECT_EQ(katest::narrow(katest::u16(state)), c.state);
            EXPECT_EQ(stmt->currentArd, stmt->implicitArd);
            EXPECT_EQ(stmt->currentApd, stmt->implicitApd);
        }
    }
    // Its own APD as ARD and the other way round are each other's automatic
    // descriptor too.
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_ROW_DESC, stmt->implicitApd, 0), SQL_ERROR);
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_PARAM_DESC, stmt->implicitArd, 0), SQL_ERROR);
    uint16_t state[kBaseSqlstateUnits] = {};
    ASSERT_EQ(stmt->diagnostics.getDiagRec(1, state, nullptr, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(katest::narrow(katest::u16(state)), "HY017");

    // A freed statement's descriptors are no longer known as automatic
    // ones: its IRD's address is no longer in the driver's keeping.
    void* freedIrd = other->ird;
    EXPECT_EQ(other->freeStmt(SQL_DROP), SQL_SUCCESS);
    {
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        EXPECT_FALSE(BaseDescriptor::isAutomaticHandle(freedIrd));
        EXPECT_TRUE(BaseDescriptor::isAutomaticHandle(stmt->ird));
    }
    delete foreignExplicit;
    delete otherConn;
}

TEST_F(StatementApi, RefusedDescriptorCallsRunInTheirFrame)
{
    katest::DiagScope outer;
    int16_t count = 0;
    // The IRD of a statement with nothing prepared describes nothing.
    EXPECT_EQ(stmt->ird->getDescField(0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_ERROR);
    ASSERT_EQ(stmt->ird->diagnostics.recordCount(), 1u);
    EXPECT_EQ(stmt->ird->diagnostics.recordAt(0)->sqlstateMsg, MSG_SQLSTATE_STATEMENT_NOT_PREPARED);
    EXPECT_EQ(stmt->ird->diagnostics.currentApiFunction, SQL_API_SQLGETDESCFIELD);
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
    EXPECT_EQ(stmt->ird->freeCheck(), SQL_ERROR);
    EXPECT_EQ(stmt->ird->diagnostics.recordCount(), 1u);
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
    EXPECT_EQ(outer.size(), 0u);
}
