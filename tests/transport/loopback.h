// Loopback peers for the transport tests: a server on 127.0.0.1 or ::1 on a
// free port that echoes, stays silent, hangs up at once or reads slowly
// through a small buffer, and a listener whose connects never complete.
// Each server runs in its own thread, lives at most kLifetime and stops
// with its object.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace katest {

enum class Peer {
    Echo,        // sends back what it reads
    Silent,      // accepts and never answers
    HangUp,      // accepts and closes at once
    Reset,       // accepts and resets the connection at once
    SlowReader,  // small receive buffer, small reads with pauses; keeps the bytes
};

// The loopback address of the family with the port (0: any), and its
// length.
inline socklen_t loopbackAddress(int family, uint16_t port, sockaddr_storage* a)
{
    *a = {};
    if (family == AF_INET6) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(a);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        a6->sin6_port = htons(port);
        return sizeof *a6;
    }
    auto* a4 = reinterpret_cast<sockaddr_in*>(a);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a4->sin_port = htons(port);
    return sizeof *a4;
}

// The port of a socket's address.
inline uint16_t portOf(const sockaddr_storage& a)
{
    return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&a)->sin6_port
                                         : reinterpret_cast<const sockaddr_in*>(&a)->sin_port);
}

class LoopbackServer {
public:
    static constexpr std::chrono::seconds kLifetime{60};

    // With reserveOtherFamily the same port is also bound, not listening,
    // on the other family's loopback address: a connect there is refused,
    // and no other test running at the same time can listen on it.
    explicit LoopbackServer(Peer kind, int family = AF_INET, bool reserveOtherFamily = false) : kind_(kind)
    {
        for (int attempt = 0; attempt < 50 && !ok_; ++attempt) {
            closeListeners();
            ok_ = open(family, 0, listener_, true);
            if (ok_ && reserveOtherFamily)
                ok_ = open(family == AF_INET6 ? AF_INET : AF_INET6, port_, reserved_, false);
        }
        if (ok_)
            thread_ = std::thread([this] { run(); });
    }

    ~LoopbackServer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        for (int fd : clients_)
            close(fd);
        closeListeners();
    }

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool ok() const { return ok_; }
    uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }
    int accepted() const { return accepted_; }
    // Connections accepted and not yet closed by the peer.
    int open() const { return open_; }

    // What a slow reader has read so far.
    std::string received()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return received_;
    }
    // Waits (bounded) until the slow reader holds n bytes.
    bool waitReceived(size_t n, std::chrono::seconds limit = std::chrono::seconds(30))
    {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (received().size() >= n)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

private:
    // Binds a loopback socket of the family to the port (0: any free one),
    // listening or not; a listener's port is kept in port_.
    bool open(int family, uint16_t port, int& fd, bool listening)
    {
        fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (family == AF_INET6)
            setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        if (listening && kind_ == Peer::SlowReader) {
            int small = 4096;  // inherited by the accepted socket
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        sockaddr_storage a;
        socklen_t len = loopbackAddress(family, port, &a);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0)
            return false;
        if (!listening)
            return true;
        if (listen(fd, 8) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return false;
        port_ = portOf(a);
        return true;
    }

    void closeListeners()
    {
        for (int* fd : {&listener_, &reserved_}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
    }

    void run()
    {
        auto end = std::chrono::steady_clock::now() + kLifetime;
        std::vector<char> buffer(65536);
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            std::vector<pollfd> fds;
            fds.push_back({listener_, POLLIN, 0});
            for (int fd : clients_)
                fds.push_back({fd, short(kind_ == Peer::Silent ? 0 : POLLIN), 0});
            if (poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    ++accepted_;
                    if (kind_ == Peer::Reset) {
                        linger hard = {1, 0};
                        setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                    }
                    if (kind_ == Peer::HangUp || kind_ == Peer::Reset)
                        close(c);
                    else
                        clients_.push_back(c);
                    open_ = int(clients_.size());
                }
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                size_t want = kind_ == Peer::SlowReader ? 1024 : buffer.size();
                ssize_t n = read(fds[i].fd, buffer.data(), want);
                if (n <= 0) {
                    close(fds[i].fd);
                    clients_.erase(std::find(clients_.begin(), clients_.end(), fds[i].fd));
                    open_ = int(clients_.size());
                    continue;
                }
                if (kind_ == Peer::Echo) {
                    for (ssize_t off = 0; off < n;) {
                        ssize_t w = write(fds[i].fd, buffer.data() + off, size_t(n - off));
                        if (w <= 0)
                            break;
                        off += w;
                    }
                } else if (kind_ == Peer::SlowReader) {
                    {
                        std::lock_guard<std::mutex> hold(lock_);
                        received_.append(buffer.data(), size_t(n));
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            }
        }
    }

    Peer kind_;
    int listener_ = -1;
    int reserved_ = -1;
    uint16_t port_ = 0;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> open_{0};
    std::vector<int> clients_;
    std::thread thread_;
    std::mutex lock_;
    std::string received_;
};

// A loopback port on which nothing listens (bound and released again).
inline uint16_t unusedPort(int family = AF_INET)
{
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage a;
    socklen_t len = loopbackAddress(family, 0, &a);
    bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    uint16_t port = portOf(a);
    close(fd);
    return port;
}

// A listener that never accepts, with its one-place queue already taken:
// a further connect stays pending, as with a host that does not answer.
class StalledListener {
public:
    StalledListener()
    {
        sockaddr_storage a;
        socklen_t len = loopbackAddress(AF_INET, 0, &a);
        bind(listener, reinterpret_cast<sockaddr*>(&a), len);
        listen(listener, 0);
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = portOf(a);
        for (int i = 0; i < 3; ++i) {
            int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), len);
            fillers.push_back(c);
        }
        usleep(200 * 1000);
    }
    ~StalledListener()
    {
        for (int c : fillers)
            close(c);
        close(listener);
    }
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::vector<int> fillers;
    uint16_t port = 0;
};

}  // namespace katest
