// The driver's connection pool over the bundled HiveServer2 test server,
// through unixODBC: while the pool's maintenance pass closes an idle
// connection whose server is slow to end its session, a disconnect of
// another, unpooled connection does not wait for it.
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "support/hs2suite.h"
#include "support/textfile.h"

namespace {

using katest::diagText;
using katest::occurrences;

class Hs2Pool : public katest::Hs2Suite<katest::DriverManagerSuite> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-pool", {"--verbose"}, true); }

    SQLRETURN connectOn(SQLHDBC handle, const std::string& in)
    {
        SQLCHAR out[512] = {};
        SQLSMALLINT outLength = 0;
        return SQLDriverConnect(handle, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(in.c_str())), SQL_NTS,
                                out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT);
    }

    // Waits for the server to have logged text count times; false when it
    // never does (the guard against a hang, not a measure of speed).
    static bool awaitLogged(const std::string& text, size_t count, int seconds)
    {
        for (int i = 0; i < seconds * 20; ++i) {
            if (occurrences(katest::fileText(log), text) >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

TEST_F(Hs2Pool, AnUnpooledDisconnectDoesNotWaitForAnIdleConnectionThatIsBeingClosed)
{
    // The pooled connection idles out after a second; its own session
    // stalls the end of the session for 8 s.
    ASSERT_TRUE(SQL_SUCCEEDED(connectOn(dbc, hs2String("POOL=1;LBT=1;LT=20")))) << diagText(SQL_HANDLE_DBC, dbc);
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
    EXPECT_TRUE(SQL_SUCCEEDED(SQLExecDirect(
        stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SET hs2server.fault.stall=CloseSession:8000")), SQL_NTS)))
        << diagText(SQL_HANDLE_STMT, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    // The log names each call's peer: the pooled connection's is the one
    // that asked for the stall.
    const std::string calls = katest::fileText(log);
    const size_t asked = calls.find(" ExecuteStatement SET hs2server.fault.stall");
    ASSERT_NE(std::string::npos, asked) << calls;
    const size_t lineStart = calls.rfind('\n', asked);
    const std::string peer = calls.substr(lineStart == std::string::npos ? 0 : lineStart + 1,
                                          asked - (lineStart == std::string::npos ? 0 : lineStart + 1));
    const std::string closeCall = peer + " CloseSession";
    const size_t closesBefore = occurrences(calls, closeCall);
    ASSERT_EQ(SQL_SUCCESS, SQLDisconnect(dbc)) << diagText(SQL_HANDLE_DBC, dbc);

    SQLHDBC other = SQL_NULL_HDBC;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env, &other));
    ASSERT_TRUE(SQL_SUCCEEDED(connectOn(other, hs2String("LT=20")))) << diagText(SQL_HANDLE_DBC, other);

    // The maintenance pass comes within its interval and asks the server
    // to end the idle session; the server sits on the answer.
    const bool closing = awaitLogged(closeCall, closesBefore + 1, 30);
    EXPECT_TRUE(closing) << katest::fileText(log);
    auto done = std::async(std::launch::async, [&] { return SQLDisconnect(other); });
    // Far below the stall: nothing the closing pass holds is needed.
    const bool prompt = done.wait_for(std::chrono::seconds(4)) == std::future_status::ready;
    const SQLRETURN rc = done.get();
    EXPECT_TRUE(prompt);
    EXPECT_EQ(SQL_SUCCESS, rc) << diagText(SQL_HANDLE_DBC, other);
    EXPECT_EQ(SQL_SUCCESS, SQLFreeHandle(SQL_HANDLE_DBC, other));
}

}  // namespace
