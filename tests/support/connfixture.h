// A connection handle with one fake physical connection attached and counted
// as open, over a test environment of the caller's choice (TestEnv or
// TestStmtEnv). The statement framework's unit tests build on it.
#pragma once
#include <gtest/gtest.h>

#include "odbc/baseconn.h"
#include "support/errorscope.h"
#include "support/testconnection.h"

namespace katest {

template <class Env>
class ConnectedFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override
    {
        env = new Env(&control);
        handle = new BaseStubConnection(env);
        BaseConnection* made = nullptr;
        ASSERT_EQ(env->newConnection(0, &made), 0);
        conn = made;
        ASSERT_EQ(handle->setCurrentConnection(conn), 0);
        conn->connectionFlags |= kBaseConnConnected;
    }
    void TearDown() override
    {
        delete handle;
        delete env;
    }

    TestConnectionControl control;
    Env* env = nullptr;
    BaseStubConnection* handle = nullptr;
    BaseConnection* conn = nullptr;
};

}  // namespace katest
