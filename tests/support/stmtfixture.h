// A connected test statement over the fake connection, for the statement
// framework's unit tests (tests/odbc/base*_test.cpp).
#pragma once
#include <gtest/gtest.h>

#include "odbc/baseconn.h"
#include "odbc/basestmt.h"
#include "support/connfixture.h"
#include "support/errorscope.h"
#include "support/teststatement.h"
#include "support/u16.h"

namespace katest {

class StmtFixture : public ConnectedFixture<TestStmtEnv> {
protected:
    void SetUp() override
    {
        ConnectedFixture::SetUp();
        if (HasFatalFailure())
            return;
        // As TestStmtConnection::createStatement: the static cursor is kept.
        conn->staticCursorOps |= 1;
        stmt = make<TestStatement>();
        ASSERT_NE(stmt, nullptr);
    }

    // A statement of a test's own TestStatement subclass on the connection.
    template <class S>
    S* make()
    {
        BaseStatement* s = nullptr;
        return makeStatement<S>(&s, conn) == 0 ? static_cast<S*>(s) : nullptr;
    }

    int16_t run(const char16_t* sql) { return stmt->execDirect(W(sql), SQL_NTS); }
    // The SQLSTATE index of diagnostic i of the statement.
    uint16_t state(size_t i = 0) { return stmt->diagnostics.recordAt(i)->sqlstateMsg; }
    size_t diags() { return stmt->diagnostics.recordCount(); }

    TestStatement* stmt = nullptr;
};

}  // namespace katest
