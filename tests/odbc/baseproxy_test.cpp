// The physical connection's HTTP CONNECT tunnel through the proxy of its
// options, against a small loopback proxy (tests/odbc/connectproxy.py) that
// tunnels to a loopback peer the test listens on: the tunnel carries bytes
// both ways, proxy credentials are sent and then wiped from the client, a
// refusal or a proxy that closes or stays silent fails with a diagnostic
// that says so, and no wait is unbounded.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basetunnel.h"
#include "support/connfixture.h"
#include "support/diagscope.h"
#include "support/scriptpeer.h"
#include "support/testconnection.h"
#include "security/kaopenssl.h"
#include "transport/kacurltunnel.h"

namespace {

std::string curlLibrary()
{
    return katest::buildDir() + "/lib/libVYcurl28.so";
}

// The tunnel client over the build tree's libcurl library.
BaseTunnelClient* makeTestTunnel() noexcept
{
    auto* tunnel = new KaCurlTunnel;
    if (tunnel == nullptr)
        return nullptr;
    if (tunnel->client.loadLibraryNamed(curlLibrary().c_str()) != 0) {
        delete tunnel;
        return nullptr;
    }
    return tunnel;
}

// The proxy on a free loopback port; it appends the request heads it reads
// to a record file.
class ConnectProxy {
public:
    explicit ConnectProxy(const std::string& mode)
        : record_(recordFile()), peer_("tests/odbc/connectproxy.py", {mode, record_})
    {}
    ~ConnectProxy() { unlink(record_.c_str()); }
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    uint32_t port() const { return peer_.port().empty() ? 0u : uint32_t(std::stoul(peer_.port())); }
    // Every request head the proxy read, in order.
    std::string requests() const
    {
        std::ifstream in(record_);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

private:
    static std::string recordFile()
    {
        char path[] = "/tmp/connectproxyXXXXXX";
        int fd = mkstemp(path);
        if (fd >= 0)
            close(fd);
        return path;
    }

    std::string record_;
    katest::ScriptPeer peer_;
};

// A listening loopback socket standing for the server behind the proxy.
class Peer {
public:
    Peer()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), n) != 0 || listen(fd_, 1) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
            return;
        port_ = ntohs(a.sin_port);
    }
    ~Peer()
    {
        if (accepted_ >= 0)
            close(accepted_);
        if (fd_ >= 0)
            close(fd_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    std::u16string port() const
    {
        std::string p = std::to_string(port_);
        return std::u16string(p.begin(), p.end());
    }
    // The proxy's connection, waited for at most five seconds.
    bool accept()
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1)
            return false;
        accepted_ = ::accept(fd_, nullptr, nullptr);
        return accepted_ >= 0;
    }
    std::string read(size_t n)
    {
        std::string got;
        while (got.size() < n) {
            pollfd p{accepted_, POLLIN, 0};
            if (poll(&p, 1, 5000) != 1)
                break;
            char buffer[64];
            ssize_t r = ::read(accepted_, buffer, std::min(sizeof buffer, n - got.size()));
            if (r <= 0)
                break;
            got.append(buffer, size_t(r));
        }
        return got;
    }
    bool write(const std::string& text) { return ::write(accepted_, text.data(), text.size()) == ssize_t(text.size()); }

private:
    int fd_ = -1;
    int accepted_ = -1;
    uint16_t port_ = 0;
};

char* owned(const char* text)
{
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(ramAlloc(n + 1));
    std::memcpy(copy, text, n + 1);
    return copy;
}

class ProxyTunnel : public katest::ConnectedFixture<katest::TestEnv> {
protected:
    void SetUp() override
    {
        previous_ = baseTunnelClientMaker();
        baseSetTunnelClientMaker(makeTestTunnel);
        ConnectedFixture::SetUp();
    }
    void TearDown() override
    {
        ConnectedFixture::TearDown();
        baseSetTunnelClientMaker(previous_);
    }

    // The proxy options as the option reading leaves them.
    void useProxy(uint32_t port, const char* user = nullptr, const char* password = nullptr)
    {
        conn->proxyMode = 1;
        conn->proxyHost = owned("127.0.0.1");
        conn->proxyPort = port;
        conn->proxyUser = user != nullptr ? owned(user) : nullptr;
        conn->proxyPassword = password != nullptr ? owned(password) : nullptr;
    }

    int16_t open(const Peer& peer)
    {
        return conn->openProxyTunnel(katest::W(u"127.0.0.1"), katest::W(peer.port().c_str()));
    }

    KaCurlTunnel* tunnel() { return static_cast<KaCurlTunnel*>(conn->httpClient); }

    // Bytes through the tunnel to the peer and back.
    void expectCarries(Peer& peer)
    {
        ASSERT_TRUE(peer.accept());
        size_t done = 0;
        ASSERT_EQ(tunnel()->send("ping", 4, &done, 5000), 0);
        EXPECT_EQ(done, 4u);
        EXPECT_EQ(peer.read(4), "ping");
        ASSERT_TRUE(peer.write("pong"));
        char buffer[8] = {};
        std::string got;
        while (got.size() < 4) {
            ASSERT_EQ(tunnel()->receive(buffer, sizeof buffer, &done, 5000), 0);
            ASSERT_NE(done, 0u);
            got.append(buffer, done);
        }
        EXPECT_EQ(got, "pong");
    }

private:
    BaseTunnelClientMaker previous_ = nullptr;
};

TEST_F(ProxyTunnel, ATunnelReachesThePeerBehindTheProxyAndCarriesBytesBothWays)
{
    ConnectProxy proxy("tunnel");
    ASSERT_NE(proxy.port(), 0u);
    Peer peer;
    useProxy(proxy.port());
    katest::DiagScope diags(conn);
    ASSERT_EQ(open(peer), 0) << (diags.size() != 0 ? diags.text(0) : "");
    EXPECT_EQ(diags.size(), 0u);
    expectCarries(peer);
    const std::string asked = proxy.requests();
    const std::string target = "CONNECT 127.0.0.1:" + katest::narrow(peer.port()) + " HTTP/1.1";
    EXPECT_EQ(asked.rfind(target, 0), 0u) << asked;
    // Without a proxy user nothing is offered.
    EXPECT_EQ(asked.find("Proxy-Authorization"), std::string::npos) << asked;
}

TEST_F(ProxyTunnel, ProxyCredentialsAreSentAndTheClientKeepsNoCopy)
{
    ConnectProxy proxy("auth:alice:s3cret");
    Peer peer;
    useProxy(proxy.port(), "alice", "s3cret");
    katest::DiagScope diags(conn);
    ASSERT_EQ(open(peer), 0) << (diags.size() != 0 ? diags.text(0) : "");
    expectCarries(peer);
    EXPECT_NE(proxy.requests().find("Proxy-Authorization: Basic YWxpY2U6czNjcmV0"), std::string::npos)
        << proxy.requests();
    EXPECT_EQ(tunnel()->proxyUser, nullptr);
    EXPECT_EQ(tunnel()->proxyPassword, nullptr);
    // The connection keeps its own for the next tunnel.
    EXPECT_STREQ(conn->proxyPassword, "s3cret");
}

// One way a proxy can fail the tunnel, and the diagnostic the last record
// of the failure carries (its SQLSTATE is the connect's 08001).
struct Refusal {
    const char* mode;
    const char* user;
    const char* password;
    uint16_t lastMessage;  // 0: the libcurl failure is the last record
    const char* mentions;  // text the diagnostics hold
};

TEST_F(ProxyTunnel, ARefusingOrClosingProxyFailsTheTunnelWithADiagnosticThatSaysWhy)
{
    const Refusal cases[] = {
        {"status:403", nullptr, nullptr, 0, "403"},
        {"status:407", nullptr, nullptr, MSG_HTTP_PROXY_AUTH_REFUSED, "(HTTP status 407)"},
        {"auth:alice:s3cret", "alice", "wrong", MSG_HTTP_PROXY_AUTH_REFUSED, "proxy user \"alice\""},
        {"status:502", nullptr, nullptr, MSG_HTTP_PROXY_TUNNEL_REFUSED, "to 127.0.0.1 on port"},
        {"close", nullptr, nullptr, MSG_SOCKET_CONNECTION_LOST, "was lost"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.mode);
        ConnectProxy proxy(c.mode);
        Peer peer;
        useProxy(proxy.port(), c.user, c.password);
        {
            katest::DiagScope diags(conn);
            EXPECT_EQ(open(peer), 1);
            ASSERT_GE(diags.size(), 1u);
            std::string all;
            for (size_t i = 0; i < diags.size(); ++i)
                all += diags.text(i) + "\n";
            const size_t last = diags.size() - 1;
            EXPECT_EQ(katest::sqlstate(diags.at(last)), "08001") << all;
            EXPECT_EQ(diags.at(last)->nativeCode,
                      c.lastMessage != 0 ? c.lastMessage : uint16_t{MSG_HTTP_PROXY_TUNNEL_FAILED})
                << all;
            EXPECT_NE(all.find(c.mentions), std::string::npos) << all;
            // A refused password never shows in a diagnostic.
            EXPECT_EQ(all.find("wrong"), std::string::npos) << all;
        }
        // The next case starts from a connection without a client.
        delete conn->httpClient;
        conn->httpClient = nullptr;
        conn->releaseOptionTexts();
    }
}

TEST_F(ProxyTunnel, ASilentProxyIsWaitedForOnlyUntilTheLoginTimeOut)
{
    ConnectProxy proxy("silent");
    Peer peer;
    useProxy(proxy.port());
    conn->loginTimeout = 1;
    katest::DiagScope diags(conn);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(open(peer), 1);
    // Far below the 30 seconds the proxy would keep quiet.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    ASSERT_GE(diags.size(), 1u);
    EXPECT_EQ(katest::sqlstate(diags.at(0)), "HYT00") << diags.text(0);
    EXPECT_EQ(katest::sqlstate(diags.at(diags.size() - 1)), "08001");
}

TEST_F(ProxyTunnel, WithoutAProxyOrAClientNoTunnelIsAttempted)
{
    Peer peer;
    {
        katest::DiagScope diags(conn);
        EXPECT_EQ(open(peer), 1);
        ASSERT_EQ(diags.size(), 1u);
        EXPECT_EQ(katest::sqlstate(diags.at(0)), "HY000");
        EXPECT_EQ(diags.at(0)->nativeCode, MSG_PROXY_NOT_CONFIGURED);
        EXPECT_EQ(conn->httpClient, nullptr);
    }
    useProxy(9);
    baseSetTunnelClientMaker(nullptr);
    katest::DiagScope diags(conn);
    EXPECT_EQ(open(peer), 1);
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags.at(0)->nativeCode, MSG_PROXY_CLIENT_UNAVAILABLE);
}

}  // namespace

namespace {

// The driver's own maker finds libcurl beside the driver library, and says
// which library it missed.
TEST(TunnelClientMaker, TheClientLoadsTheLibraryBesideTheDriverOrSaysWhichIsMissing)
{
    ASSERT_EQ(katest::openCatalogue(), 0);
    {
        katest::ErrorScope errors;
        openSSLSetDriverBaseName("/nonexistent/dir/VYspark28");
        EXPECT_EQ(kaCurlMakeTunnel(), nullptr);
        ASSERT_GE(errors.size(), 1u);
        const size_t last = errors.size() - 1;
        EXPECT_EQ(errors.native(last), MSG_HTTP_LIBRARY_UNAVAILABLE);
        EXPECT_EQ(katest::sqlstate(errors.at(last)), "08001");
    }
    katest::ErrorScope errors;
    const std::string driver = katest::buildDir() + "/lib/VYspark28";
    openSSLSetDriverBaseName(driver.c_str());
    BaseTunnelClient* client = kaCurlMakeTunnel();
    openSSLSetDriverBaseName(nullptr);
    EXPECT_NE(client, nullptr);
    EXPECT_EQ(errors.size(), 0u);
    delete client;
    katest::closeCatalogue();
}

}  // namespace
