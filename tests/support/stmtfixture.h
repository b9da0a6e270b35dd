// A connected test statement over the fake connection, for the statement
// framework's unit tests (tests/odbc/base*_test.cpp).
#pragma once
#include <gtest/gtest.h>

#include "odbc/baseconn.h"
#include "odbc/basestmt.h"
#include "support/errorscope.h"
#include "support/teststatement.h"
#include "support/u16.h"

namespace katest {

class StmtFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override
    {
        env = new TestStmtEnv(&control);
        handle = new BaseStubConnection(env);
        BaseConnection* made = nullptr;
        ASSERT_EQ(env->newConnection(0, &made), 0);
        conn = made;
        ASSERT_EQ(handle->setCurrentConnection(conn), 0);
        conn->connectionFlags |= kBaseConnConnected;
        // As TestStmtConnection::createStatement: the static cursor is kept.
        conn->staticCursorOps |= 1;
        stmt = make<TestStatement>();
        ASSERT_NE(stmt, nullptr);
    }
    void TearDown() override
    {
        delete handle;
        delete env;
    }

    // A statement of a test's own TestStatement subclass on the connection.
    template <class S>
    S* make()
    {
        auto* s = new S(conn);
        if (s != nullptr && s->initStatement() != 0) {
            delete s;
            return nullptr;
        }
        return s;
    }

    int16_t run(const char16_t* sql) { return stmt->execDirect(W(sql), SQL_NTS); }
    // The SQLSTATE index of diagnostic i of the statement.
    uint16_t state(size_t i = 0) { return stmt->diagnostics.recordAt(i)->sqlstateMsg; }
    size_t diags() { return stmt->diagnostics.recordCount(); }

    TestConnectionControl control;
    TestStmtEnv* env = nullptr;
    BaseStubConnection* handle = nullptr;
    BaseConnection* conn = nullptr;
    TestStatement* stmt = nullptr;
};

}  // namespace katest
