// The statement functions this framework runs so far: the descriptor
// handles a statement answers and takes, and the refusals of the others,
// each inside the call frame.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

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

    // Null gives the implicit one back; an implementation descriptor or
    // another statement's implicit one is refused.
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_PARAM_DESC, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(stmt->currentApd, stmt->implicitApd);
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_PARAM_DESC, stmt->ird, 0), SQL_ERROR);
    uint16_t state[kBaseSqlstateUnits] = {};
    ASSERT_EQ(stmt->diagnostics.getDiagRec(1, state, nullptr, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(katest::narrow(katest::u16(state)), "HY017");
    BaseStatement* other = nullptr;
    ASSERT_EQ(conn->createStatement(&other), 0);
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_ROW_DESC, other->implicitArd, 0), SQL_ERROR);
    EXPECT_EQ(stmt->currentArd, explicitDesc);

    // Freeing it gives the statement its own ARD back.
    delete explicitDesc;
    EXPECT_EQ(stmt->currentArd, stmt->implicitArd);
    EXPECT_EQ(descAttr(SQL_ATTR_APP_ROW_DESC), stmt->implicitArd);
    EXPECT_EQ(other->freeStmt(SQL_DROP), SQL_SUCCESS);
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
