// The server passes of a connect through unixODBC over loopback listeners
// the test opens: a closed port, a listener that takes its connections only
// after a delay and then relays them to the bundled HiveServer2 test server,
// and the test server itself. The order the servers are tried in, how long
// a late one is waited for, and which server the connection ends on.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"

namespace {

using Clock = std::chrono::steady_clock;

// A listening socket on a free loopback port; -1 when none could be made.
int listenLoopback(uint16_t* port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

// A loopback port nothing listens on: bound, then let go.
uint16_t closedPort()
{
    uint16_t port = 0;
    int fd = listenLoopback(&port);
    if (fd >= 0)
        close(fd);
    return port;
}

// Takes each connection only after `delay`, then relays it to the target
// port until either side closes. Every connection taken is logged with the
// time it was taken. Stops with the object; every wait is bounded.
class LateRelay {
public:
    LateRelay(std::chrono::milliseconds delay, uint16_t target) : delay_(delay), target_(target)
    {
        listener_ = listenLoopback(&port_);
        if (listener_ >= 0)
            thread_ = std::thread([this] { run(); });
    }
    ~LateRelay()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
    }
    LateRelay(const LateRelay&) = delete;
    LateRelay& operator=(const LateRelay&) = delete;

    uint16_t port() const { return port_; }
    std::vector<Clock::time_point> taken()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return taken_;
    }

private:
    // Waits for fd to be readable, in slices so that a stop is seen.
    bool readable(int fd, Clock::time_point until)
    {
        while (!stop_ && Clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) > 0)
                return true;
        }
        return false;
    }
    void sleepUntil(Clock::time_point until)
    {
        while (!stop_ && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void run()
    {
        const auto end = Clock::now() + std::chrono::seconds(60);
        while (!stop_ && Clock::now() < end) {
            if (!readable(listener_, end))
                return;
            // The connection waits, made by the kernel, until it is taken.
            sleepUntil(Clock::now() + delay_);
            int client = accept(listener_, nullptr, nullptr);
            if (client < 0)
                continue;
            {
                std::lock_guard<std::mutex> guard(lock_);
                taken_.push_back(Clock::now());
            }
            relay(client, end);
            close(client);
        }
    }
    void relay(int client, Clock::time_point end)
    {
        int server = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(target_);
        if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            if (server >= 0)
                close(server);
            return;
        }
        char buffer[16384];
        while (!stop_ && Clock::now() < end) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (poll(p, 2, 50) <= 0)
                continue;
            bool open = true;
            for (int i = 0; i < 2 && open; ++i) {
                if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                    continue;
                ssize_t n = read(p[i].fd, buffer, sizeof buffer);
                open = n > 0 && write(p[1 - i].fd, buffer, static_cast<size_t>(n)) == n;
            }
            if (!open)
                break;
        }
        close(server);
    }

    std::chrono::milliseconds delay_;
    uint16_t target_;
    uint16_t port_ = 0;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex lock_;
    std::vector<Clock::time_point> taken_;
};

class Hs2Servers : public katest::DriverManagerSuite {
protected:
    static void SetUpTestSuite()
    {
        server = std::make_unique<katest::Hs2Process>(std::vector<std::string>{"--user", "ann", "--password", "pw"});
        ASSERT_NE(0, server->port());
        writeIni("hs2-servers", "[VYspark28]\nDescription=Driver under test\nDriver=" + katest::driverLibrary() + "\n",
                 "");
    }
    static void TearDownTestSuite()
    {
        server.reset();
        DriverManagerSuite::TearDownTestSuite();
    }

    static std::string at(uint16_t port) { return "HOST=127.0.0.1:PORT=" + std::to_string(port); }

    inline static std::unique_ptr<katest::Hs2Process> server;
};

TEST_F(Hs2Servers, ALateServerIsWaitedForOnlyWithinTheLoginTimeOut)
{
    struct Case {
        const char* name;
        int delayMs;  // before the relay takes a connection
        bool endsOnRelay;
    };
    // Login time-out 2 seconds: a relay taking half a second is waited for,
    // one taking four is left for the next server.
    const Case cases[] = {{"AcceptsWithinTheTimeOut", 500, true}, {"AcceptsAfterTheTimeOut", 4000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LateRelay relay(std::chrono::milliseconds(c.delayMs), server->port());
        ASSERT_NE(0, relay.port());
        uint16_t refused = closedPort();
        // The primary refuses; the alternates are the late relay, then the
        // server itself.
        std::string in = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + std::to_string(refused) +
                         ";LoginTimeout=2;UID=ann;PWD=pw;ASRV=(" + at(relay.port()) + "," + at(server->port()) + ")";
        const auto start = Clock::now();
        std::string completed;
        SQLRETURN rc = driverConnect(in, &completed);
        const auto took = Clock::now() - start;
        std::string diags = katest::diagText(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(SQL_SUCCESS_WITH_INFO, rc) << diags;
        const uint16_t reached = c.endsOnRelay ? relay.port() : server->port();
        EXPECT_NE(std::string::npos,
                  diags.find("alternate server HostName=127.0.0.1:PortNumber=" + std::to_string(reached)))
            << diags;
        // The relay was tried after the refusing primary and, when too
        // late, the server after it once the time-out had run.
        std::vector<Clock::time_point> taken = relay.taken();
        if (c.endsOnRelay) {
            ASSERT_FALSE(taken.empty());
            EXPECT_GE(taken.front() - start, std::chrono::milliseconds(c.delayMs));
            EXPECT_LT(took, std::chrono::seconds(2) + std::chrono::milliseconds(c.delayMs));
        } else {
            EXPECT_GE(took, std::chrono::seconds(2));
            EXPECT_LT(took, std::chrono::milliseconds(c.delayMs));
        }
        // The completed string names the primary server, not the one reached.
        EXPECT_NE(std::string::npos, completed.find("Port=" + std::to_string(refused))) << completed;
        EXPECT_EQ(std::string::npos, completed.find("Port=" + std::to_string(reached))) << completed;
        EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
    }
}

TEST_F(Hs2Servers, EveryServerFailingEndsWithTheListAndTheLastAttemptsError)
{
    LateRelay relay(std::chrono::milliseconds(4000), server->port());
    ASSERT_NE(0, relay.port());
    uint16_t refused = closedPort();
    std::string list = "(" + at(relay.port()) + "," + at(closedPort()) + ")";
    std::string in = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + std::to_string(refused) +
                     ";LoginTimeout=2;UID=ann;PWD=pw;ASRV=" + list;
    const auto start = Clock::now();
    EXPECT_EQ(SQL_ERROR, driverConnect(in));
    const auto took = Clock::now() - start;
    std::string state;
    std::string diags = katest::diagText(SQL_HANDLE_DBC, dbc, &state);
    EXPECT_NE(std::string::npos, diags.find("[08001]")) << diags;
    EXPECT_NE(std::string::npos, diags.find("The connection failed on every server of " + list)) << diags;
    // Three attempts, one of which waited out the time-out.
    EXPECT_GE(took, std::chrono::seconds(2));
    EXPECT_LT(took, std::chrono::seconds(4));
}

TEST_F(Hs2Servers, ALateServerAloneIsTriedOncePerPassWithTheRetryDelayBetween)
{
    LateRelay relay(std::chrono::milliseconds(4000), server->port());
    ASSERT_NE(0, relay.port());
    std::string in = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + std::to_string(relay.port()) +
                     ";LoginTimeout=2;UID=ann;PWD=pw;CONNECTIONRETRYCOUNT=1;CONNECTIONRETRYDELAY=1";
    const auto start = Clock::now();
    EXPECT_EQ(SQL_ERROR, driverConnect(in));
    const auto took = Clock::now() - start;
    std::string diags = katest::diagText(SQL_HANDLE_DBC, dbc);
    // Two attempts of two seconds and the pause between them; without
    // alternate servers no summary is added to the last attempt's error.
    EXPECT_GE(took, std::chrono::seconds(5));
    EXPECT_LT(took, std::chrono::seconds(8));
    EXPECT_NE(std::string::npos, diags.find("login time-out of 2 seconds")) << diags;
    EXPECT_EQ(std::string::npos, diags.find("every server")) << diags;
}

}  // namespace
