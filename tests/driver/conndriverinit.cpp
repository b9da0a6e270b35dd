// The load-time registration of the driver library's test build: its
// environments make the fake connection of tests/support, whose connect
// succeeds without a server (or fails when its string says FAIL=1), so that
// the driver manager can reach a connected state; its statements answer
// from the scripted results of the test statement.
#include "odbc/baseenv.h"
#include "support/teststatement.h"

namespace {

katest::TestConnectionControl gControl;

BaseEnv* makeTestEnv() noexcept
{
    return new katest::TestStmtEnv(&gControl);
}

[[maybe_unused]] const bool kEnvFactoryRegistered = (baseSetEnvFactory(makeTestEnv), true);

}  // namespace
