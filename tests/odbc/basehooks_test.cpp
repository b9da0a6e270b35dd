// The base bodies of the statement's driver hooks: the defaults a driver
// inherits, and the not-capable refusal of the hooks a driver must supply.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <functional>

#include "odbc/baseconn.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/diagscope.h"
#include "support/testconnection.h"

namespace {

class StatementHooks : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override
    {
        env = new katest::TestEnv(&control);
        BaseConnection* made = nullptr;
        ASSERT_EQ(env->newConnection(0, &made), 0);
        conn = made;
        ASSERT_EQ(baseMakeStatement(conn, &stmt), 0);
    }
    void TearDown() override
    {
        delete stmt;
        delete conn;
        delete env;
    }

    katest::TestConnectionControl control;
    katest::TestEnv* env = nullptr;
    BaseConnection* conn = nullptr;
    BaseStatement* stmt = nullptr;
};

}  // namespace

TEST_F(StatementHooks, HooksADriverMustSupplyRefuseWithNotCapable)
{
    int16_t flag = 7;
    int64_t number = 0;
    const std::function<int16_t()> refused[] = {
        [&] { return stmt->fetchRow(&flag); },
        [&] { return stmt->getColumnData(1, SQL_C_CHAR, nullptr); },
        [&] { return stmt->getRowCount(&number); },
        [&] { return stmt->executeHook(); },
        [&] { return stmt->setParamValue(1, nullptr, 0, 0); },
        [&] { return stmt->setPosDelete(); },
        [&] { return stmt->exportResultSet(0, nullptr, 0, 0, 0, 0, nullptr); },
    };
    for (size_t i = 0; i < std::size(refused); ++i) {
        SCOPED_TRACE(i);
        katest::DiagScope scope;
        EXPECT_EQ(refused[i](), 1);
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_EQ(scope.list.recordAt(0)->sqlstateMsg, kBaseIdxNotSupported);
    }
    // The prepare hooks fail as a general error of the driver.
    katest::DiagScope scope;
    EXPECT_EQ(stmt->prepareHook(nullptr), 1);
    EXPECT_EQ(scope.list.recordAt(0)->sqlstateMsg, kBaseIdxGeneralError);
}

TEST_F(StatementHooks, HooksWithADefaultAnswerIt)
{
    katest::DiagScope scope;
    int16_t flag = 0;
    EXPECT_EQ(stmt->moreResultsHook(&flag), 0);
    EXPECT_EQ(flag, 1);
    flag = 0;
    EXPECT_EQ(stmt->specialColumnsHook(&flag), 0);
    EXPECT_EQ(flag, 1);
    // A driver without catalog data fails these quietly.
    EXPECT_EQ(stmt->statisticsHook(0), 1);
    EXPECT_EQ(stmt->primaryKeysHook(), 1);
    EXPECT_EQ(stmt->foreignKeysHook(), 1);
    EXPECT_EQ(stmt->proceduresHook(), 1);
    EXPECT_EQ(stmt->procedureColumnsHook(), 1);
    EXPECT_EQ(stmt->columnPrivilegesHook(), 1);
    EXPECT_EQ(stmt->tablePrivilegesHook(), 1);
    EXPECT_EQ(stmt->getTypeInfoHook(0), 1);
    EXPECT_EQ(stmt->prepareFetch(SQL_FETCH_NEXT, 0), 0);
    EXPECT_EQ(stmt->setPosHook(1, SQL_POSITION, SQL_LOCK_NO_CHANGE), 2);
    EXPECT_EQ(stmt->columnDataAvailable(1, true, SQL_VARCHAR, false, 0), 1);
    EXPECT_EQ(stmt->validateBinding(1), 0);
    EXPECT_EQ(stmt->bindColHook(), 0);
    EXPECT_EQ(stmt->bulkLoadFinish(3), 0);
    EXPECT_EQ(stmt->beginMultiRowInsert(), 0);
    EXPECT_EQ(stmt->cancelAsync(), 1);
    EXPECT_EQ(stmt->setPosValidateBookmark(1, true, SQL_ROW_SUCCESS), 0);
    EXPECT_EQ(stmt->canDescribeProcParams(), 0);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(stmt->nullLiteral())), u"NULL");
    // Nothing described: the statement has no result set.
    EXPECT_EQ(stmt->describeStatement(), 0);
    EXPECT_EQ(stmt->resultColumnCount, 0);
    EXPECT_TRUE(stmt->resultDescribed);
    EXPECT_EQ(scope.size(), 0u);
}
