// The server passes of a connect over the test connection: a load-balanced
// pass tries every server once from any start, the warning naming the
// alternate reached comes before the attempt's own records, and the server
// text SQL_SERVER_NAME answers has one form with or without a list.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kamessages.h"
#include "odbc/baseconn.h"
#include "support/iniconnection.h"
#include "support/testconnection.h"
#include "support/u16.h"

using katest::TestOpenOutcome;
using katest::u16;
using katest::W;

namespace {

const TestOpenOutcome kRefused{kBaseIdxUnableToConnect};
const char16_t kTwo[] = u"ASRV=(HOST=b:PORT=2, HostName=c:PortNumber=3)";

// A server that answers a successful open with warnings of its own.
class ChattyConnection : public katest::TestConnection {
public:
    using katest::TestConnection::TestConnection;

    int16_t openPhysical() noexcept override
    {
        int16_t rc = katest::TestConnection::openPhysical();
        if (rc == 0) {
            basePostWarningMsg(kBaseIdxGeneralWarning, MSG_UNUSED_CONNECTION_ATTRIBUTE)->addParamText("first");
            basePostWarningMsg(kBaseIdxGeneralWarning, MSG_UNUSED_CONNECTION_ATTRIBUTE)->addParamText("second");
        }
        return rc;
    }
};

template <class Conn>
class ServersOf : public katest::IniConnectionTestOf<Conn> {
protected:
    void SetUp() override { this->setUpConnection("", "[TestDriver]\nDriver=none\n"); }

    void TearDown() override
    {
        baseSetBalanceSeed(-1);
        katest::IniConnectionTestOf<Conn>::TearDown();
    }

    int16_t driverConnect(const std::u16string& in)
    {
        int16_t length = 0;
        return this->conn->driverConnect(nullptr, W(in.c_str()), SQL_NTS, nullptr, 0, &length, SQL_DRIVER_NOPROMPT);
    }

    std::vector<std::u16string> hosts() const
    {
        std::vector<std::u16string> seen;
        for (const auto& open : this->control.opens)
            seen.push_back(open.host);
        return seen;
    }

    std::vector<uint32_t> messages()
    {
        std::vector<uint32_t> numbers;
        for (int64_t i = 1; i <= this->handle->diagnostics.diagCount(); ++i)
            numbers.push_back(this->handle->diagnostics.getRecord(i)->nativeCode);
        return numbers;
    }
};

using Servers = ServersOf<katest::TestConnection>;
using ChattyServers = ServersOf<ChattyConnection>;

// Whatever the seed, near its turns too, one pass tries each server once;
// with a retry pass, each pass does.
TEST_F(Servers, ALoadBalancedPassTriesEveryServerOnce)
{
    const int64_t seeds[] = {-1, 0, 1, 2, 999990098, 999999999, 1000000000, 1000000001, 2147483646, 2147483647};
    for (int64_t seed : seeds) {
        SCOPED_TRACE(seed);
        control.opens.clear();
        control.scriptNext = 0;
        control.script.assign(6, kRefused);
        baseSetBalanceSeed(seed);
        EXPECT_EQ(driverConnect(std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;LB=1;CRC=1;CRD=0;") + kTwo),
                  SQL_ERROR);
        std::vector<std::u16string> seen = hosts();
        ASSERT_EQ(seen.size(), 6u);
        for (size_t pass = 0; pass < 2; ++pass) {
            std::vector<std::u16string> one(seen.begin() + static_cast<long>(pass * 3),
                                            seen.begin() + static_cast<long>(pass * 3 + 3));
            std::sort(one.begin(), one.end());
            EXPECT_EQ(one, (std::vector<std::u16string>{u"a", u"b", u"c"})) << "pass " << pass;
        }
    }
}

// With one server down, a balanced connect reaches another from any start.
TEST_F(Servers, ALoadBalancedConnectWithOneServerDownReachesAnother)
{
    for (int64_t seed : {int64_t{0}, int64_t{999999999}, int64_t{2147483647}}) {
        SCOPED_TRACE(seed);
        control.opens.clear();
        control.scriptNext = 0;
        control.script = {kRefused, kRefused};
        baseSetBalanceSeed(seed);
        int16_t rc = driverConnect(std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;LB=1;") + kTwo);
        EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
        std::vector<std::u16string> seen = hosts();
        ASSERT_EQ(seen.size(), 3u);
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, (std::vector<std::u16string>{u"a", u"b", u"c"}));
        ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
    }
}

TEST_F(ChattyServers, TheWarningNamingTheAlternateReachedComesFirst)
{
    control.script = {kRefused};
    EXPECT_EQ(driverConnect(std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;") + kTwo), SQL_SUCCESS_WITH_INFO);
    std::vector<uint32_t> seen = messages();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], MSG_CONNECTED_TO_ALTERNATE);
    EXPECT_EQ(seen[1], MSG_UNUSED_CONNECTION_ATTRIBUTE);
    EXPECT_EQ(seen[2], MSG_UNUSED_CONNECTION_ATTRIBUTE);
}

// SQL_SERVER_NAME under ServerNameBehavior=1 names the server as pairs
// with or without a list of alternates.
TEST_F(Servers, TheServerTextHasOneFormWithOrWithoutAlternates)
{
    struct Case {
        const char16_t* in;
        std::vector<TestOpenOutcome> script;
        const char16_t* text;
    } cases[] = {
        {u"DRIVER=TestDriver;HOST=a;PORT=1;SNB=1", {}, u"HOST=a;PORT=1"},
        {u"DRIVER=TestDriver;HostName=a;PortNumber=1;DB=sales;SNB=1", {}, u"HOST=a;PORT=1;DB=sales"},
        {u"DRIVER=TestDriver;HOST=a;PORT=1;SNB=1;ASRV=(HOST=b:PORT=2)", {kRefused}, u"HOST=b;PORT=2"},
        {u"DRIVER=TestDriver;HOST=a;PORT=1;ASRV=(HOST=b:PORT=2)", {kRefused}, nullptr},
        {u"DRIVER=TestDriver;HOST=a;PORT=1", {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(c.in));
        control.opens.clear();
        control.scriptNext = 0;
        control.script = c.script;
        int16_t rc = driverConnect(c.in);
        ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
        if (c.text == nullptr) {
            EXPECT_EQ(conn->serverTextW, nullptr);
        } else {
            ASSERT_NE(conn->serverTextW, nullptr);
            EXPECT_EQ(u16(conn->serverTextW), std::u16string(c.text));
        }
        ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
    }
}

}  // namespace
