// The TCP/IP transport against real loopback peers: connect, echo, time-outs,
// a refused port, a peer that hangs up, a slow receiver that takes the data
// in small pieces, and the refusals before any socket is made.
#include "transport/katcpip.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"
#include "support/u16.h"
#include "loopback.h"

namespace {

using katest::LoopbackServer;
using katest::Peer;
using katest::W;
using Clock = std::chrono::steady_clock;

class TcpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    katest::ThreadScope thread;
    katest::ErrorScope errors;
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Reads until n bytes arrived or the transport fails.
std::string readAll(KaTCPIP& t, size_t n)
{
    std::string got;
    std::vector<char> buffer(4096);
    while (got.size() < n) {
        size_t count = 0;
        if (t.recv(buffer.data(), buffer.size(), &count, 0) != KA_SOCK_OK)
            break;
        got.append(buffer.data(), count);
    }
    return got;
}

TEST_F(TcpTest, EchoesOverIpv4AndIpv6AndByName)
{
    struct Case {
        int family;
        const char* host;
        const char16_t* hostW;
    } cases[] = {
        {AF_INET, "127.0.0.1", nullptr},
        {AF_INET, nullptr, u"localhost"},
        {AF_INET6, "::1", nullptr},
        {AF_INET, "  \t127.0.0.1", nullptr},  // leading blanks are skipped
    };
    for (const Case& c : cases) {
        LoopbackServer server(Peer::Echo, c.family);
        ASSERT_TRUE(server.ok());
        KaTCPIP t;
        t.timeout = 20000;
        ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), c.hostW ? W(c.hostW) : nullptr, c.host, nullptr, 0))
            << (c.host ? c.host : "wide host");
        EXPECT_EQ(1, t.connected);
        const std::string text = "hello over the loopback";
        ASSERT_EQ(KA_SOCK_OK, t.send(text.data(), text.size(), 0));
        EXPECT_EQ(text, readAll(t, text.size()));
        EXPECT_EQ(KA_SOCK_OK, t.disconnect());
        EXPECT_EQ(0, t.connected);
        EXPECT_EQ(nullptr, t.record);
    }
    EXPECT_EQ(0u, errors.size());
}

TEST_F(TcpTest, ABlankNarrowHostGivesWayToTheWideOne)
{
    LoopbackServer server(Peer::Echo);
    KaTCPIP t;
    ASSERT_EQ(KA_SOCK_OK, t.connectBasic(server.port(), W(u" 127.0.0.1"), " \t", nullptr));
    ASSERT_EQ(KA_SOCK_OK, t.send("w", 1, 0));
    EXPECT_EQ("w", readAll(t, 1));
}

TEST_F(TcpTest, EachFailureCodePostsItsLinkFailure)
{
    struct Case {
        int code;
        uint16_t message;  // 0: nothing posted
    } cases[] = {
        {KA_SOCK_FAILED, MSG_SOCKET_ERROR},
        {KA_SOCK_TIMED_OUT, MSG_SOCKET_TIMED_OUT},
        {KA_SOCK_LOST, MSG_SOCKET_CONNECTION_LOST},
        {KA_SOCK_PROTOCOL, MSG_SOCKET_PROTOCOL_ERROR},
        {KA_SOCK_NOTHING_YET, 0},
        {KA_SOCK_OK, 0},
    };
    for (const Case& c : cases) {
        katest::ErrorScope local;
        KaTCPIP t;
        t.postError(c.code, ECONNABORTED);
        if (c.message == 0) {
            EXPECT_EQ(0u, local.size()) << c.code;
            continue;
        }
        ASSERT_EQ(1u, local.size()) << c.code;
        EXPECT_EQ(c.message, local.native(0));
        EXPECT_EQ("08S01", katest::sqlstate(local.at(0)));
        t.postErrors = 0;
        t.postError(c.code, ECONNABORTED);
        EXPECT_EQ(1u, local.size());
    }
    katest::ErrorScope local;
    KaTCPIP t;
    t.postError(KA_SOCK_FAILED, ECONNABORTED);
    EXPECT_NE(std::string::npos, local.text(0).find(std::to_string(ECONNABORTED))) << local.text(0);
}

TEST_F(TcpTest, AFailingCloseIsReportedAndAPlainCloseIsNot)
{
    LoopbackServer server(Peer::Echo);
    KaTCPIP t;
    ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
    // The close underneath fails: the record names a descriptor no thread
    // can be given meanwhile (one past any limit), so no other thread's
    // descriptor is closed in its place. The real socket is closed at the end.
    const int real = t.record->socket;
    t.record->socket = std::numeric_limits<int>::max();
    EXPECT_EQ(KA_SOCK_FAILED, t.disconnect());
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_SOCKET_ERROR, errors.native(0));
    ASSERT_NE(nullptr, t.record);  // the record stays, its socket gone
    EXPECT_EQ(-1, t.record->socket);
    EXPECT_EQ(KA_SOCK_OK, t.disconnect());
    EXPECT_EQ(nullptr, t.record);
    EXPECT_EQ(1u, errors.size());
    EXPECT_EQ(0, ::close(real));
}

TEST_F(TcpTest, ConnectingAgainReplacesTheEarlierConnection)
{
    LoopbackServer server(Peer::Echo);
    KaTCPIP t;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
        ASSERT_EQ(KA_SOCK_OK, t.send("r", 1, 0));
        EXPECT_EQ("r", readAll(t, 1));
    }
    // The earlier connections were closed: the server sees them go.
    auto end = Clock::now() + std::chrono::seconds(30);
    while (server.open() > 1 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(3, server.accepted());
    EXPECT_EQ(1, server.open());
}

TEST_F(TcpTest, TheParallelConnectReachesTheServer)
{
    LoopbackServer server(Peer::Echo);
    KaTCPIP t;
    ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), nullptr, "localhost", nullptr, 1));
    ASSERT_EQ(KA_SOCK_OK, t.send("ab", 2, 0));
    EXPECT_EQ("ab", readAll(t, 2));
}

TEST_F(TcpTest, APortWithNothingListeningFailsWith08001NamingHostAndPort)
{
    uint16_t port = katest::unusedPort();
    for (int parallel : {0, 1}) {
        katest::ErrorScope local;
        KaTCPIP t;
        t.timeout = 20000;
        EXPECT_EQ(KA_SOCK_FAILED, t.connect(port, nullptr, "127.0.0.1", nullptr, parallel));
        EXPECT_EQ(0, t.connected);
        EXPECT_EQ(nullptr, t.record);
        ASSERT_EQ(1u, local.size());
        EXPECT_EQ(MSG_SOCKET_CONNECT_FAILED, local.native(0));
        EXPECT_EQ("08001", katest::sqlstate(local.at(0)));
        std::string text = local.text(0);
        EXPECT_NE(std::string::npos, text.find("127.0.0.1")) << text;
        EXPECT_NE(std::string::npos, text.find(std::to_string(port))) << text;
    }
}

TEST_F(TcpTest, NoHostOrNoPortIsRefusedBeforeAnySocket)
{
    struct Case {
        uint16_t port;
        const char* host;
        const char16_t* service;
        uint16_t message;
    } cases[] = {
        {0, "127.0.0.1", nullptr, MSG_SOCKET_NO_HOST_OR_PORT},
        {10000, "", nullptr, MSG_SOCKET_NO_HOST_OR_PORT},
        {10000, nullptr, nullptr, MSG_SOCKET_NO_HOST_OR_PORT},
        {10000, "   ", nullptr, MSG_SOCKET_CONNECT_FAILED},
        {10000, "\t \t", nullptr, MSG_SOCKET_CONNECT_FAILED},
        {0, "127.0.0.1", u"notaport@svc", MSG_SOCKET_NO_HOST_OR_PORT},
    };
    for (const Case& c : cases) {
        katest::ErrorScope local;
        KaTCPIP t;
        EXPECT_EQ(KA_SOCK_FAILED, t.connect(c.port, nullptr, c.host, c.service ? W(c.service) : nullptr, 0));
        ASSERT_GE(local.size(), 1u);
        EXPECT_EQ(c.message, local.native(local.size() - 1));
        EXPECT_EQ("08001", katest::sqlstate(local.at(local.size() - 1)));
        EXPECT_EQ(nullptr, t.record);
    }
}

TEST_F(TcpTest, ABlankHostLeavesAnEarlierConnectionAlone)
{
    LoopbackServer server(Peer::Echo);
    KaTCPIP t;
    ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
    ConnectionRecord* before = t.record;
    EXPECT_EQ(KA_SOCK_FAILED, t.connect(server.port(), nullptr, "   ", nullptr, 0));
    EXPECT_EQ(before, t.record);
    ASSERT_EQ(KA_SOCK_OK, t.send("x", 1, 0));
    EXPECT_EQ("x", readAll(t, 1));
}

TEST_F(TcpTest, TheServiceTextGivesThePortBeforeTheAt)
{
    LoopbackServer server(Peer::Echo);
    std::u16string service = katest::widen(server.portText() + "@ignored");
    KaTCPIP t;
    ASSERT_EQ(KA_SOCK_OK, t.connect(0, nullptr, "127.0.0.1", W(service.c_str()), 0));
    ASSERT_EQ(KA_SOCK_OK, t.send("s", 1, 0));
    EXPECT_EQ("s", readAll(t, 1));
}

TEST_F(TcpTest, ASilentServerTimesOutWithinTheBudgetAndPostsNothing)
{
    LoopbackServer server(Peer::Silent);
    KaTCPIP t;
    t.timeout = 1000;
    ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
    char buffer[16];
    size_t count = 99;
    auto start = Clock::now();
    EXPECT_EQ(KA_SOCK_TIMED_OUT, t.recv(buffer, sizeof buffer, &count, 0));
    double took = secondsSince(start);
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 30.0);
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0u, errors.size());
    EXPECT_EQ(1, t.connected);  // a time-out does not end the connection

    // Wait mode: its own short time-out, a different result, still nothing posted.
    t.waitTimeout = 50;
    EXPECT_EQ(KA_SOCK_NOTHING_YET, t.recv(buffer, sizeof buffer, &count, 1));
    EXPECT_EQ(KA_SOCK_NOTHING_YET, t.waitReadable());
    EXPECT_EQ(0u, errors.size());
}

TEST_F(TcpTest, APeerThatHangsUpOrResetsEndsTheConnection)
{
    for (Peer kind : {Peer::HangUp, Peer::Reset}) {
        katest::ErrorScope local;
        LoopbackServer server(kind);
        KaTCPIP t;
        t.timeout = 20000;
        ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
        char buffer[16];
        size_t count = 0;
        EXPECT_EQ(KA_SOCK_LOST, t.recv(buffer, sizeof buffer, &count, 0));
        EXPECT_EQ(nullptr, t.record);
        EXPECT_EQ(0, t.connected);
        EXPECT_EQ(KA_SOCK_LOST, t.send("x", 1, 0));
        ASSERT_EQ(2u, local.size());
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(MSG_SOCKET_CONNECTION_LOST, local.native(i));
            EXPECT_EQ("08S01", katest::sqlstate(local.at(i)));
        }
    }
}

TEST_F(TcpTest, EverythingSentReachesASlowReaderByteForByte)
{
    // Far more than both socket buffers hold: the sends stop short and go
    // on; with a time-out they do not block, without one they may.
    for (uint32_t timeout : {20000u, 0u}) {
        LoopbackServer server(Peer::SlowReader);
        KaTCPIP t;
        t.timeout = timeout;
        ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
        std::string data(3 * 1024 * 1024, '\0');
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = char((i * 131 + i / 7) & 0xFF);
        ASSERT_EQ(KA_SOCK_OK, t.send(data.data(), data.size(), 0));
        ASSERT_TRUE(server.waitReceived(data.size(), std::chrono::seconds(120)));
        EXPECT_TRUE(server.received() == data) << "time-out " << timeout;
    }
    EXPECT_EQ(0u, errors.size());
}

TEST_F(TcpTest, ASenderToAStalledReaderTimesOut)
{
    LoopbackServer server(Peer::Silent);
    KaTCPIP t;
    t.timeout = 1000;
    ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
    std::string data(64 * 1024 * 1024, 'z');
    auto start = Clock::now();
    EXPECT_EQ(KA_SOCK_TIMED_OUT, t.send(data.data(), data.size(), 0));
    EXPECT_LT(secondsSince(start), 60.0);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(TcpTest, AReadIsCutToTheMaximumReadSize)
{
    LoopbackServer server(Peer::Echo);
    KaTCPIP t;
    t.timeout = 20000;
    t.maxReadSize = 8;
    ASSERT_EQ(KA_SOCK_OK, t.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
    std::string data(100, 'q');
    ASSERT_EQ(KA_SOCK_OK, t.send(data.data(), data.size(), 0));
    size_t total = 0;
    while (total < data.size()) {
        char buffer[64];
        size_t count = 0;
        ASSERT_EQ(KA_SOCK_OK, t.recv(buffer, sizeof buffer, &count, 0));
        EXPECT_LE(count, 8u);
        total += count;
    }
}

TEST_F(TcpTest, WithoutAConnectionSendAndReceiveReportItLost)
{
    KaTCPIP t;
    char buffer[4];
    size_t count = 7;
    EXPECT_EQ(KA_SOCK_LOST, t.send("x", 1, 0));
    EXPECT_EQ(KA_SOCK_LOST, t.recv(buffer, sizeof buffer, &count, 0));
    EXPECT_EQ(KA_SOCK_LOST, t.waitReadable());
    EXPECT_EQ(3u, errors.size());
    EXPECT_EQ(KA_SOCK_OK, t.disconnect());

    katest::ErrorScope quiet;
    t.postErrors = 0;
    EXPECT_EQ(KA_SOCK_LOST, t.send("x", 1, 0));
    EXPECT_EQ(0u, quiet.size());
}

TEST_F(TcpTest, TakingOverAConnectionMovesItToTheCopy)
{
    LoopbackServer server(Peer::Echo);
    KaTCPIP source;
    source.timeout = 20000;
    ASSERT_EQ(KA_SOCK_OK, source.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
    KaTCPIP copy(source, 1);
    EXPECT_EQ(nullptr, source.record);
    EXPECT_EQ(0, source.connected);
    EXPECT_EQ(1, copy.connected);
    EXPECT_EQ(20000u, copy.timeout);
    ASSERT_EQ(KA_SOCK_OK, copy.send("t", 1, 0));
    EXPECT_EQ("t", readAll(copy, 1));

    KaTCPIP shared(copy, 0);  // without take-over the connection stays put
    EXPECT_EQ(nullptr, shared.record);
    EXPECT_EQ(0, shared.connected);
    EXPECT_NE(nullptr, copy.record);
}

}  // namespace
