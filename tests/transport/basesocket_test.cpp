// The connection socket: the transport it makes from the connection's
// settings, the refusal of TLS while there is no TLS transport, the three
// time-out modes on real loopback sockets (login during connect and login,
// connection time-out afterwards, query time-out during calls), the
// framework's time-out error, and the port and service texts.
#include "transport/basesocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "kamessages.h"
#include "loopback.h"
#include "support/diagscope.h"
#include "support/errorscope.h"
#include "support/u16.h"
#include "transport/katcpip.h"

namespace {

using katest::DiagScope;
using katest::LoopbackServer;
using katest::Peer;
using katest::W;
using Clock = std::chrono::steady_clock;

class SocketTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    katest::ThreadScope thread;
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

KaTCPIP* tcp(BaseSocket& s)
{
    return static_cast<KaTCPIP*>(s.transport);
}

struct Sink : KaSockTraceSink {
    std::string text;
    void write(const char* data, size_t length) noexcept override { text.append(data, length); }
    void flush() noexcept override {}
};

TEST_F(SocketTest, APlainTransportIsMadeOnceAndReused)
{
    DiagScope d;
    BaseSocket s(nullptr, nullptr);
    EXPECT_EQ(BASE_SOCKET_NO_TIMEOUT, s.timeoutMode);
    ASSERT_EQ(0, s.createTransport());
    ASSERT_NE(nullptr, s.transport);
    EXPECT_EQ(KA_SOCK_KIND_TCPIP, s.transport->kind);
    KaSock* first = s.transport;

    LoopbackServer server(Peer::Echo);
    ASSERT_EQ(KA_SOCK_OK, s.connectTo("127.0.0.1", server.port(), 0));
    ASSERT_NE(nullptr, tcp(s)->record);
    ASSERT_EQ(0, s.preparePlain());
    EXPECT_EQ(first, s.transport);  // the same object, closed
    EXPECT_EQ(nullptr, tcp(s)->record);
    EXPECT_EQ(0u, d.size());
}

TEST_F(SocketTest, TheSettingsReachTheTransport)
{
    struct Case {
        int64_t option, fallback, expected;
    } sizes[] = {
        {10000, -1, 12288}, {4096, -1, 4096}, {1, -1, 4096}, {0, 5000, 8192}, {0, -1, 0}, {0, 0, 0},
    };
    for (const Case& c : sizes) {
        BaseSocketSettings settings;
        settings.sendBufferSize = c.option;
        settings.defaultSendBufferSize = c.fallback;
        settings.receiveBufferSize = c.option;
        settings.defaultReceiveBufferSize = c.fallback;
        BaseSocket s(nullptr, &settings);
        ASSERT_EQ(0, s.createTransport());
        EXPECT_EQ(c.expected, tcp(s)->sendBufferSize) << c.option << " " << c.fallback;
        EXPECT_EQ(c.expected, tcp(s)->receiveBufferSize) << c.option << " " << c.fallback;
    }

    Sink sink;
    BaseSocketSettings settings;
    settings.maxReadSize = 8192;
    settings.keepAlive = 1;
    settings.blockingConnect = 0;
    settings.packetLog = &sink;
    settings.packetLogging = 1;
    settings.packetLoggingOptions = KA_TRACE_NO_SEND_DUMP;
    BaseSocket s(nullptr, &settings);
    ASSERT_EQ(0, s.createTransport());
    EXPECT_EQ(8192, tcp(s)->maxReadSize);
    EXPECT_EQ(1, tcp(s)->keepAlive);
    EXPECT_EQ(0, tcp(s)->blockingConnect);
    EXPECT_EQ(&sink, s.transport->traceSink);
    EXPECT_EQ(1, s.transport->getTraceMode());
    EXPECT_EQ(KA_TRACE_NO_SEND_DUMP, s.transport->dumpOptions);
    EXPECT_EQ(0, s.transport->traceFile);  // the sink, not a file

    settings.keepAlive = 2;  // only 1 switches it on
    settings.blockingConnect = 5;
    ASSERT_EQ(0, s.createTransport());
    EXPECT_EQ(0, tcp(s)->keepAlive);
    EXPECT_EQ(1, tcp(s)->blockingConnect);
}

TEST_F(SocketTest, TlsThatCannotBeMadeIsRefusedInsteadOfConnectingInTheClear)
{
    struct Case {
        int32_t method, tunnel;
        bool tls;
    } cases[] = {
        {0, 0, false}, {2, 0, false}, {1, 0, true}, {0, 1, true}, {2, 1, true}, {6, 0, true},
    };
    // A TLS library that is not there.
    const std::u16string missing = u"/nonexistent/libVYtls28.so";
    BaseSocketTlsSettings tls = {};
    tls.sslLibName = W(missing.c_str());
    tls.cryptoLibName = W(missing.c_str());
    for (const Case& c : cases) {
        DiagScope d;
        BaseSocketSettings settings;
        settings.encryptionMethod = c.method;
        settings.tlsTunnel = c.tunnel;
        settings.tls = &tls;
        BaseSocket s(nullptr, &settings);
        EXPECT_EQ(c.tls ? 1 : 0, s.createTransport()) << c.method << " " << c.tunnel;
        EXPECT_EQ(c.tls ? 1 : 0, baseSocketPreloadSSL(nullptr, &settings));
        if (c.tls) {
            EXPECT_EQ(nullptr, s.transport);
            ASSERT_GE(d.size(), 1u);
            bool unableToConnect = false;
            for (size_t i = 0; i < d.size(); ++i)
                unableToConnect = unableToConnect || d.index(i) == MSG_SQLSTATE_UNABLE_TO_CONNECT;
            EXPECT_TRUE(unableToConnect) << d.text(0);
            // Nothing to connect: refused, not made in the clear.
            EXPECT_EQ(KA_SOCK_FAILED, s.connectTo("127.0.0.1", 1, 0));
        } else {
            EXPECT_EQ(0u, d.size());
            EXPECT_EQ(0, s.upgradeToSSL());
        }
    }
}

TEST_F(SocketTest, TlsSettingsMakeTheTlsTransport)
{
    DiagScope d;
    const std::string lib = katest::buildDir() + "/lib/libVYtls28.so";
    const std::u16string libW(lib.begin(), lib.end());
    BaseSocketTlsSettings tls = {};
    tls.sslLibName = W(libW.c_str());
    tls.cryptoLibName = W(libW.c_str());
    BaseSocketSettings settings;
    settings.encryptionMethod = 1;
    settings.tls = &tls;
    BaseSocket s(nullptr, &settings);
    ASSERT_EQ(0, s.createTransport()) << d.text(0);
    ASSERT_NE(nullptr, s.transport);
    EXPECT_EQ(KA_SOCK_KIND_TLS, s.transport->kind);
    // Made again for the next attempt, the same TLS transport is reused.
    KaSock* first = s.transport;
    ASSERT_EQ(0, s.createTransport()) << d.text(0);
    EXPECT_EQ(first, s.transport);
    EXPECT_EQ(0u, d.size()) << d.text(0);
}

TEST_F(SocketTest, EachModeTakesItsOwnTimeOut)
{
    BaseSocketSettings settings;
    settings.loginTimeout = 7;
    settings.loginTimeoutOffered = 1;
    settings.connectionTimeout = 5000000;
    settings.queryTimeoutOffered = 1;
    BaseSocket s(nullptr, &settings);
    ASSERT_EQ(0, s.createTransport());

    s.useLoginTimeout();
    EXPECT_EQ(BASE_SOCKET_LOGIN_TIMEOUT, s.timeoutMode);
    EXPECT_EQ(7000u, s.transport->timeout);
    s.useConnectionTimeout();
    EXPECT_EQ(BASE_SOCKET_CONNECTION_TIMEOUT, s.timeoutMode);
    EXPECT_EQ(1000000000u, s.transport->timeout);
    s.useQueryTimeout(3);
    EXPECT_EQ(BASE_SOCKET_QUERY_TIMEOUT, s.timeoutMode);
    EXPECT_EQ(3000u, s.transport->timeout);
    s.useQueryTimeout(0);
    EXPECT_EQ(0u, s.transport->timeout);

    settings.queryTimeoutOff = 1;
    s.useQueryTimeout(3);
    EXPECT_EQ(0u, s.transport->timeout);
    settings.loginTimeoutOff = 1;
    s.useLoginTimeout();
    EXPECT_EQ(0u, s.transport->timeout);
    settings.loginTimeoutOff = 0;
    settings.loginTimeoutOffered = 0;
    s.useLoginTimeout();
    EXPECT_EQ(0u, s.transport->timeout);

    // No connection time-out: after login reads wait without limit, not
    // with the login time-out; the saved time-out fills in when set.
    settings.connectionTimeout = 0;
    s.useConnectionTimeout();
    EXPECT_EQ(BASE_SOCKET_NO_TIMEOUT, s.timeoutMode);
    EXPECT_EQ(0u, s.transport->timeout);
    s.setSavedTimeout(4);
    EXPECT_EQ(BASE_SOCKET_CONNECTION_TIMEOUT, s.timeoutMode);
    EXPECT_EQ(4000u, s.transport->timeout);

    s.setTransportTimeout(2, 1);
    EXPECT_EQ(2001u, s.transport->timeout);
}

TEST_F(SocketTest, WithoutAConnectionTheSavedTimeOutRules)
{
    BaseSocket s(nullptr, nullptr);
    ASSERT_EQ(0, s.createTransport());
    s.useQueryTimeout(9);
    EXPECT_EQ(9000u, s.transport->timeout);
    s.setSavedTimeout(20);  // query mode: only a shorter time-out replaces the current one
    EXPECT_EQ(9000u, s.transport->timeout);
    s.setSavedTimeout(5);
    EXPECT_EQ(5000u, s.transport->timeout);
    s.useLoginTimeout();
    EXPECT_EQ(5000u, s.transport->timeout);
    s.useQueryTimeout(9);
    EXPECT_EQ(5000u, s.transport->timeout);
}

TEST_F(SocketTest, TheConnectRunsUnderTheLoginTimeOutAndTheSessionSwitchesAway)
{
    LoopbackServer server(Peer::Echo);
    BaseSocketSettings settings;
    settings.loginTimeout = 30;
    settings.loginTimeoutOffered = 1;
    settings.connectionTimeout = 0;
    BaseSocket s(nullptr, &settings);
    ASSERT_EQ(0, s.createTransport());
    std::u16string port = katest::widen(server.portText());
    ASSERT_EQ(KA_SOCK_OK, s.connectToHost(W(u"127.0.0.1"), W(port.c_str()), nullptr, 0));
    EXPECT_EQ(BASE_SOCKET_LOGIN_TIMEOUT, s.timeoutMode);
    EXPECT_EQ(30000u, s.transport->timeout);
    s.useConnectionTimeout();  // the session is open
    EXPECT_EQ(0u, s.transport->timeout);
    ASSERT_EQ(KA_SOCK_OK, s.write("echo", 4, 0));
    char buffer[8];
    size_t count = 0;
    ASSERT_EQ(KA_SOCK_OK, s.read(buffer, sizeof buffer, &count, 0));
    EXPECT_EQ("echo", std::string(buffer, count));
}

TEST_F(SocketTest, AHostThatDoesNotAnswerFailsWithinTheLoginTimeOut)
{
    katest::StalledListener stalled;
    BaseSocketSettings settings;
    settings.loginTimeout = 1;
    settings.loginTimeoutOffered = 1;  // blocking connect stays on: the budget still holds
    BaseSocket s(nullptr, &settings);
    ASSERT_EQ(0, s.createTransport());
    DiagScope d;
    auto start = Clock::now();
    EXPECT_EQ(KA_SOCK_TIMED_OUT, s.connectTo("127.0.0.1", stalled.port, 0));
    double took = secondsSince(start);
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 30.0);
    ASSERT_EQ(1u, d.size());
    EXPECT_EQ(MSG_SOCKET_CONNECT_TIMED_OUT, d.at(0)->nativeCode);
    EXPECT_EQ("HYT00", katest::sqlstate(d.at(0)));
}

TEST_F(SocketTest, AStalledLoginEndsWithOneTimeOutErrorAndKeepsEarlierDiagnostics)
{
    LoopbackServer server(Peer::Silent);
    BaseSocketSettings settings;
    settings.loginTimeout = 1;
    settings.loginTimeoutOffered = 1;
    BaseSocket s(nullptr, &settings);
    ASSERT_EQ(0, s.createTransport());
    ASSERT_EQ(KA_SOCK_OK, s.connectTo("127.0.0.1", server.port(), 0));

    DiagScope d;
    basePostWarning(MSG_SQLSTATE_GENERAL_WARNING);  // something the call said before
    char buffer[16];
    size_t count = 0;
    auto start = Clock::now();
    EXPECT_EQ(KA_SOCK_TIMED_OUT, s.read(buffer, sizeof buffer, &count, 0));
    double took = secondsSince(start);
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 30.0);
    ASSERT_EQ(2u, d.size());
    EXPECT_EQ(MSG_SQLSTATE_GENERAL_WARNING, d.index(0));
    EXPECT_EQ(MSG_SQLSTATE_TIMEOUT_EXPIRED, d.index(1));
    EXPECT_EQ("HYT00", katest::sqlstate(d.at(1)));
}

TEST_F(SocketTest, AQueryTimeOutEndsASlowCallAndModeNonePostsNothing)
{
    LoopbackServer server(Peer::Silent);
    BaseSocket s(nullptr, nullptr);
    ASSERT_EQ(0, s.createTransport());
    ASSERT_EQ(KA_SOCK_OK, s.connectTo("127.0.0.1", server.port(), 0));
    char buffer[16];
    size_t count = 0;
    {
        DiagScope d;
        s.useQueryTimeout(1);
        auto start = Clock::now();
        EXPECT_EQ(KA_SOCK_TIMED_OUT, s.read(buffer, sizeof buffer, &count, 0));
        EXPECT_LT(secondsSince(start), 30.0);
        ASSERT_EQ(1u, d.size());
        EXPECT_EQ(MSG_SQLSTATE_TIMEOUT_EXPIRED, d.index(0));
    }
    {
        DiagScope d;
        s.useConnectionTimeout();  // nothing set: mode none
        ASSERT_EQ(BASE_SOCKET_NO_TIMEOUT, s.timeoutMode);
        s.transport->timeout = 300;
        EXPECT_EQ(KA_SOCK_TIMED_OUT, s.read(buffer, sizeof buffer, &count, 0));
        EXPECT_EQ(0u, d.size());
    }
}

TEST_F(SocketTest, PortAndServiceTexts)
{
    LoopbackServer server(Peer::Echo);
    std::u16string port = katest::widen(server.portText());
    BaseSocket s(nullptr, nullptr);
    ASSERT_EQ(0, s.createTransport());
    {
        DiagScope d;
        EXPECT_EQ(KA_SOCK_FAILED, s.connectToHost(W(u"127.0.0.1"), W(u"12ab"), nullptr, 0));
        ASSERT_EQ(2u, d.size());
        EXPECT_EQ(MSG_NUMBER_INVALID_CHARACTER, d.at(0)->nativeCode);
        EXPECT_EQ(MSG_SOCKET_NO_HOST_OR_PORT, d.at(1)->nativeCode);
    }
    {
        DiagScope d;
        EXPECT_EQ(KA_SOCK_FAILED, s.connectToHost(W(u"127.0.0.1"), W(u"70000"), nullptr, 0));
        ASSERT_EQ(2u, d.size());
        EXPECT_EQ(MSG_NUMBER_OUT_OF_RANGE, d.at(0)->nativeCode);
    }
    DiagScope d;
    // The service text: short (on the stack) and long (allocated).
    for (size_t extra : {size_t(3), size_t(600)}) {
        std::u16string service(extra, u's');
        ASSERT_EQ(KA_SOCK_OK, s.connectToHost(W(u"127.0.0.1"), W(port.c_str()), W(service.c_str()), 0));
        ASSERT_EQ(KA_SOCK_OK, s.write("p", 1, 0));
    }
    ASSERT_EQ(KA_SOCK_OK, s.connectToPortText("127.0.0.1", server.portText().c_str(), 0));
    ASSERT_EQ(KA_SOCK_OK, s.connectToHostPort(W(u"localhost"), server.port(), 1));
    EXPECT_EQ(0u, d.size());
}

TEST_F(SocketTest, WithoutATransportNothingConnectsReadsOrWrites)
{
    DiagScope d;
    BaseSocket s(nullptr, nullptr);
    EXPECT_EQ(KA_SOCK_FAILED, s.connectTo("127.0.0.1", 10000, 0));
    char buffer[4];
    size_t count = 5;
    EXPECT_EQ(KA_SOCK_LOST, s.read(buffer, sizeof buffer, &count, 0));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(KA_SOCK_LOST, s.write("x", 1, 0));
    EXPECT_EQ(-1, s.connectHTTP());
    ASSERT_EQ(3u, d.size());
    EXPECT_EQ(MSG_SOCKET_NO_HOST_OR_PORT, d.at(0)->nativeCode);
    EXPECT_EQ("08001", katest::sqlstate(d.at(0)));
}

}  // namespace
