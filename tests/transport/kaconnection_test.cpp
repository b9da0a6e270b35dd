// The connection layer on loopback: a name with several addresses of both
// families with only one listening (in order and in parallel, more
// addresses than the parallel set holds), the scoped-name fallback, a
// connect that stalls until the budget ends, the IPv4 path, and the
// bounded error text.
#include "transport/kaconnection.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "transport/katcpip.h"
#include "kamessages.h"
#include "support/errorscope.h"

namespace {

using katest::LoopbackServer;
using katest::Peer;
using Clock = std::chrono::steady_clock;

// What the fake resolver answers: these numeric addresses, in this order.
std::vector<std::string> gAnswer;
int gScopedAsks = 0;
int gAsks = 0;
bool gRefuseScoped = false;

int fakeGetaddrinfo(const char* name, const char*, const addrinfo*, addrinfo** out)
{
    ++gAsks;
    if (strchr(name, '%') != nullptr) {
        ++gScopedAsks;
        if (gRefuseScoped)
            return EAI_NONAME;
    }
    addrinfo* head = nullptr;
    addrinfo** tail = &head;
    for (const std::string& a : gAnswer) {
        auto* ai = new addrinfo();
        auto* storage = new sockaddr_storage();
        ai->ai_socktype = SOCK_STREAM;
        ai->ai_protocol = IPPROTO_TCP;
        ai->ai_addr = reinterpret_cast<sockaddr*>(storage);
        if (a.find(':') != std::string::npos) {
            auto* a6 = reinterpret_cast<sockaddr_in6*>(storage);
            a6->sin6_family = AF_INET6;
            inet_pton(AF_INET6, a.c_str(), &a6->sin6_addr);
            ai->ai_family = AF_INET6;
            ai->ai_addrlen = sizeof *a6;
        } else {
            auto* a4 = reinterpret_cast<sockaddr_in*>(storage);
            a4->sin_family = AF_INET;
            inet_pton(AF_INET, a.c_str(), &a4->sin_addr);
            ai->ai_family = AF_INET;
            ai->ai_addrlen = sizeof *a4;
        }
        *tail = ai;
        tail = &ai->ai_next;
    }
    *out = head;
    return 0;
}

void fakeFreeaddrinfo(addrinfo* list)
{
    while (list != nullptr) {
        addrinfo* next = list->ai_next;
        delete reinterpret_cast<sockaddr_storage*>(list->ai_addr);
        delete list;
        list = next;
    }
}

const char* fakeStrerror(int)
{
    return "fake resolver failure";
}

unsigned fakeIndex(const char*)
{
    return 0;
}

struct FakeResolver : ResolverTable {
    FakeResolver()
    {
        getaddrinfo = fakeGetaddrinfo;
        freeaddrinfo = fakeFreeaddrinfo;
        gai_strerror = fakeStrerror;
        if_nametoindex = fakeIndex;
        getsockname = ::getsockname;
        getnameinfo = ::getnameinfo;
        scopeAttached = 1;
        scopeSettled = 0;
        gAsks = gScopedAsks = 0;
        gRefuseScoped = false;
    }
};

ConnectionRecord freshRecord()
{
    ConnectionRecord r;
    memset(&r, 0, sizeof r);
    r.socket = -1;
    r.blockingConnect = 1;
    return r;
}

size_t openDescriptors()
{
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++n;
        closedir(d);
    }
    return n;
}

// The open descriptors once they settle at `want`: the loopback server's
// thread closes its side of each finished connection in its own time, so
// the count is read again for a while before it is taken as final.
size_t descriptorsSettledAt(size_t want)
{
    size_t n = openDescriptors();
    for (int i = 0; i < 500 && n != want; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        n = openDescriptors();
    }
    return n;
}

int peerFamily(const ConnectionRecord& r)
{
    return r.peer.ss_family;
}

TEST(ConnectionLayer, ANameWithBothFamiliesReachesTheOneThatListens)
{
    // A name resolving to ::1 and 127.0.0.1 in either order, with only one
    // of them listening, connects in order and in parallel, bounded or not.
    for (int listening : {AF_INET, AF_INET6}) {
        LoopbackServer server(Peer::Echo, listening, true);
        ASSERT_TRUE(server.ok());
        for (bool v6First : {true, false}) {
            for (int parallel : {0, 1}) {
                for (int32_t budget : {-1, 20000}) {
                    FakeResolver resolver;
                    gAnswer = v6First ? std::vector<std::string>{"::1", "127.0.0.1"}
                                      : std::vector<std::string>{"127.0.0.1", "::1"};
                    ConnectionRecord r = freshRecord();
                    int code = -1;
                    ASSERT_EQ(1, ConnectionOpenEx(&r, "dual.test", server.port(), &code, &resolver, budget, parallel))
                        << "listening " << listening << " v6 first " << v6First << " parallel " << parallel
                        << " budget " << budget << ": " << r.lastError.text;
                    EXPECT_EQ(listening, peerFamily(r));
                    EXPECT_EQ(r.socket, r.pollEntry.fd);
                    EXPECT_EQ(POLLIN, r.pollEntry.events);
                    ASSERT_EQ(1, ConnectionClose(&r, &code));
                    EXPECT_EQ(-1, r.socket);
                }
            }
        }
    }
}

TEST(ConnectionLayer, MoreAddressesThanTheParallelSetAreTriedInLaterRounds)
{
    LoopbackServer server(Peer::Echo, AF_INET, true);
    size_t before = openDescriptors();
    for (int parallel : {1, 0}) {
        FakeResolver resolver;
        gAnswer.assign(3 * kConnectionParallelSockets, "::1");  // refused there
        gAnswer.push_back("127.0.0.1");
        ConnectionRecord r = freshRecord();
        int code = -1;
        ASSERT_EQ(1, ConnectionOpenEx(&r, "many.test", server.port(), &code, &resolver, 20000, parallel))
            << r.lastError.text;
        EXPECT_EQ(AF_INET, peerFamily(r));
        ASSERT_EQ(1, ConnectionClose(&r, &code));
    }
    EXPECT_EQ(before, descriptorsSettledAt(before));  // the losers were closed
}

TEST(ConnectionLayer, WhenNoAddressListensTheOpenFailsAndLeavesNoSocket)
{
    uint16_t port = katest::unusedPort();
    size_t before = openDescriptors();
    for (int parallel : {0, 1}) {
        FakeResolver resolver;
        gAnswer = {"127.0.0.1", "::1", "127.0.0.1"};
        ConnectionRecord r = freshRecord();
        int code = 0;
        EXPECT_EQ(0, ConnectionOpenEx(&r, "none.test", port, &code, &resolver, 20000, parallel));
        EXPECT_EQ(-1, r.socket);
        EXPECT_NE(kConnectionErrorTimedOut, r.lastError.code);
        EXPECT_STREQ("ConnectionOpen", r.lastError.function);
    }
    EXPECT_EQ(before, descriptorsSettledAt(before));
}

TEST(ConnectionLayer, AnEmptyAnswerFailsWithItsOwnName)
{
    FakeResolver resolver;
    gAnswer.clear();
    ConnectionRecord r = freshRecord();
    int code = 0;
    EXPECT_EQ(0, ConnectionOpenEx(&r, "empty.test", 1, &code, &resolver, -1, 0));
    EXPECT_EQ(kConnectionErrorGeneric, code);
    EXPECT_STREQ("empty addr list from getaddrinfo", r.lastError.call);
}

TEST(ConnectionLayer, AScopedNameFallsBackToTheBareAddressOnceForAll)
{
    LoopbackServer server(Peer::Echo, AF_INET6);
    FakeResolver resolver;
    gRefuseScoped = true;
    gAnswer = {"::1"};
    ConnectionRecord r = freshRecord();
    int code = 0;
    ASSERT_EQ(1, ConnectionOpenEx(&r, "::1%lo", server.port(), &code, &resolver, 20000, 0)) << r.lastError.text;
    EXPECT_EQ(0, resolver.scopeAttached.load());
    EXPECT_EQ(1, resolver.scopeSettled.load());
    EXPECT_EQ(1, gScopedAsks);
    ASSERT_EQ(1, ConnectionClose(&r, &code));

    // Settled: the next scoped name goes to the resolver without its scope.
    ASSERT_EQ(1, ConnectionOpenEx(&r, "::1%lo", server.port(), &code, &resolver, 20000, 0));
    EXPECT_EQ(1, gScopedAsks);
    ASSERT_EQ(1, ConnectionClose(&r, &code));
}

TEST(ConnectionLayer, ALongScopedHostIsCutInTheErrorText)
{
    // An empty scope fails with the host text as the call name: it must
    // fit the record, however long it is.
    FakeResolver resolver;
    std::string host(kConnectionErrorTextSize * 3, 'h');
    host += "%";
    ConnectionRecord r = freshRecord();
    int code = 0;
    EXPECT_EQ(0, ConnectionOpenEx(&r, host.c_str(), 1, &code, &resolver, -1, 0));
    EXPECT_EQ(kConnectionErrorNameSize - 1, strlen(r.lastError.call));
    EXPECT_LT(strlen(r.lastError.text), sizeof r.lastError.text);
    EXPECT_EQ(0, gAsks);

    std::string huge(64 * 1024, 'x');  // longer than any host: refused outright
    EXPECT_EQ(0, ConnectionOpenEx(&r, huge.c_str(), 1, &code, &resolver, -1, 0));
    EXPECT_EQ(0, gAsks);
}

TEST(ConnectionLayer, TheIpv4PathConnectsByAddressAndByName)
{
    LoopbackServer server(Peer::Echo, AF_INET);
    for (const char* host : {"127.0.0.1", "localhost"}) {
        for (int32_t budget : {-1, 20000}) {
            ConnectionRecord r = freshRecord();
            int code = -1;
            ASSERT_EQ(1, ConnectionOpen(&r, host, server.port(), &code, budget)) << r.lastError.text;
            EXPECT_EQ(0, code);
            EXPECT_EQ(AF_INET, peerFamily(r));
            ASSERT_EQ(1, ConnectionClose(&r, &code));
        }
    }
    ConnectionRecord r = freshRecord();
    int code = 0;
    EXPECT_EQ(0, ConnectionOpen(&r, "127.0.0.1", katest::unusedPort(), &code, 20000));
    EXPECT_STREQ("connect", r.lastError.call);
    EXPECT_EQ(-1, r.socket);
}

TEST(ConnectionLayer, AStalledConnectEndsWithTheBudget)
{
    katest::StalledListener stalled;
    for (int parallel : {0, 1}) {
        FakeResolver resolver;
        gAnswer = {"127.0.0.1"};
        ConnectionRecord r = freshRecord();
        int code = 0;
        auto start = Clock::now();
        EXPECT_EQ(0, ConnectionOpenEx(&r, "stalled.test", stalled.port, &code, &resolver, 1000, parallel));
        double took = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_EQ(kConnectionErrorTimedOut, code);
        EXPECT_GE(took, 0.9);
        EXPECT_LT(took, 30.0);
        EXPECT_EQ(-1, r.socket);
    }
}

TEST(ConnectionLayer, TheTransportReportsAStalledConnectAsATimeOut)
{
    ASSERT_EQ(0, katest::openCatalogue());
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::StalledListener stalled;
    KaTCPIP t;  // blocking connect is on by default: the budget still bounds it
    t.timeout = 1000;
    auto start = Clock::now();
    EXPECT_EQ(KA_SOCK_TIMED_OUT, t.connect(stalled.port, nullptr, "127.0.0.1", nullptr, 0));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 30.0);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_SOCKET_CONNECT_TIMED_OUT, errors.native(0));
    EXPECT_EQ("HYT00", katest::sqlstate(errors.at(0)));
    EXPECT_NE(std::string::npos, errors.text(0).find(std::to_string(stalled.port)));
    katest::closeCatalogue();
}

}  // namespace
