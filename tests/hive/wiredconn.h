// A Hive connection whose buffers read from and write to the fake wire,
// with the message catalogue open: the base of the suites that test the
// connection's messages without a network.
#pragma once
#include <gtest/gtest.h>

#include "fakewire.h"
#include "hive/dummyenv.h"
#include "hive/hiveconnection.h"
#include "support/diagscope.h"

namespace katest {

class WiredConnection : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, openCatalogue()); }
    static void TearDownTestSuite() { closeCatalogue(); }
    void SetUp() override
    {
        ASSERT_EQ(0, conn.writeBuffer.attach(&conn, &wire));
        ASSERT_EQ(0, conn.readBuffer.attach(&conn, &wire));
    }
    // Requests and replies in frames, as after the login.
    void useFrames()
    {
        conn.writeBuffer.framing = 1;
        conn.readBuffer.framed = 1;
    }

    ThreadScope thread;
    DiagScope diags;
    FakeWire wire;
    DummyEnv env;
    HiveConnection conn{&env};
};

}  // namespace katest
